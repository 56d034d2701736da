// The real program in a virtual X server: what its window shows, how it
// ends, and how it refuses to start without good textures.

#include <gtest/gtest.h>

#include <allegro.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pcx.h"
#include "pcx_files.h"
#include "shown_palette.h"
#include "xsession.h"

namespace {

// The generated textures by their palette ranges.
struct Palette : ShownPalette {
    enum Texture { BRICK, BRICKD, WEIRDO };

    bool is_texture(uint32_t rgb, Texture t) const
    {
        const int first[3] = {BRICK_FIRST, BRICKD_FIRST, WEIRDO_FIRST};
        const int count[3] = {BRICK_COUNT, BRICKD_COUNT, WEIRDO_COUNT};
        return in_range(rgb, first[t], count[t]);
    }
};

bool is_white(uint32_t rgb)
{
    return rgb == 0xFFFFFF;
}

// The start view: W1 four units ahead fills rows 225 to 374 with
// "brick.pcx"; ceiling above, floor below, overlay at the top left.
TEST(Program, ShowsTheStartRoomAndOverlayThenEndsOnEscape)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    ASSERT_TRUE(x.start(folder));
    ASSERT_NE(x.window(), 0u) << x.error_output();

    Picture pic;
    ASSERT_TRUE(x.screenshot(&pic));
    ASSERT_EQ(pic.width, 800);
    ASSERT_EQ(pic.height, 600);

    const Palette p;
    // Columns away from the overlay text at the top left.
    for (int xpos : {0, 400, 799}) {
        EXPECT_TRUE(p.matches(pic.at(xpos, 224), 36)) << "row 224, column " << xpos;
        EXPECT_TRUE(p.matches(pic.at(xpos, 375), 2)) << "row 375, column " << xpos;
        EXPECT_TRUE(p.matches(pic.at(xpos, 599), 2)) << "row 599, column " << xpos;
        for (int y = 225; y <= 374; y++) {
            ASSERT_TRUE(p.is_texture(pic.at(xpos, y), Palette::BRICK)) << "row " << y << ", column " << xpos;
        }
    }
    EXPECT_TRUE(p.matches(pic.at(700, 0), 36));

    // White overlay text on each of the three lines, and nowhere else.
    int white_per_line[3] = {0, 0, 0};
    int white_elsewhere = 0;
    for (int y = 0; y < 600; y++) {
        for (int xpos = 0; xpos < 800; xpos++) {
            if (!is_white(pic.at(xpos, y))) {
                continue;
            }
            if (y < 24 && xpos < 300) {
                white_per_line[y / 8]++;
            } else {
                white_elsewhere++;
            }
        }
    }
    for (int line = 0; line < 3; line++) {
        EXPECT_GT(white_per_line[line], 40) << "overlay line " << line;
    }
    EXPECT_EQ(white_elsewhere, 0);

    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0) << x.error_output();
    EXPECT_EQ(x.error_output(), "");
}

TEST(Program, TurnsWhileLeftIsHeld)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    ASSERT_TRUE(x.start(make_run_folder("run")));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    Picture before;
    ASSERT_TRUE(x.screenshot(&before));
    ASSERT_TRUE(x.key_down("Left"));
    usleep(400000);
    ASSERT_TRUE(x.key_up("Left"));
    usleep(200000);
    Picture after;
    ASSERT_TRUE(x.screenshot(&after));
    // Below the overlay, the picture has changed.
    int changed = 0;
    for (int y = 24; y < 600; y++) {
        for (int xpos = 0; xpos < 800; xpos++) {
            changed += before.at(xpos, y) != after.at(xpos, y) ? 1 : 0;
        }
    }
    EXPECT_GT(changed, 10000);
    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0);
}

TEST(Program, EndsOnAWindowCloseRequest)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    ASSERT_TRUE(x.start(make_run_folder("run")));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    ASSERT_TRUE(x.request_close());
    EXPECT_EQ(x.wait(5.0), 0) << x.error_output();
}

// Each case spoils one texture in the folder the program starts from.
struct BadTexture {
    const char *what;
    const char *file;
    void (*spoil)(const std::string &path);
    const char *reason;
};

void remove_file(const std::string &path)
{
    std::remove(path.c_str());
}

void write_text(const std::string &path)
{
    std::ofstream(path) << "this is not a picture\n";
}

void write_empty(const std::string &path)
{
    std::ofstream out(path, std::ios::trunc);
}

void truncate_half(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data.substr(0, data.size() / 2);
}

void make_folder(const std::string &path)
{
    std::remove(path.c_str());
    mkdir(path.c_str(), 0755);
}

void make_unreadable(const std::string &path)
{
    chmod(path.c_str(), 0);
}

void save_image(const std::string &path, int depth, int size)
{
    install_allegro(SYSTEM_NONE, &errno, atexit);
    PALETTE pal;
    BITMAP *image = load_pcx((std::string(TEXTURE_DIR) + "/brick.pcx").c_str(), pal);
    BITMAP *copy = create_bitmap_ex(depth, size, size);
    select_palette(pal);
    blit(image, copy, 0, 0, 0, 0, size, size);
    unselect_palette();
    save_pcx(path.c_str(), copy, pal);
    destroy_bitmap(copy);
    destroy_bitmap(image);
}

void write_small_pcx(const std::string &path)
{
    save_image(path, 8, 32);
}

void write_24_bit_pcx(const std::string &path)
{
    save_image(path, 24, 64);
}

// 997 bytes that claim 65536 x 65536 pixels.
void write_huge_claim(const std::string &path)
{
    PcxPlan s;
    s.width = 65536;
    s.height = 65536;
    write_whole_file(path, pcx_header(s) + std::string(100, '\0') + pcx_palette(s));
}

void write_bit_planes(const std::string &path)
{
    PcxPlan s;
    s.bits = 1;
    s.planes = 8;
    write_whole_file(path, pcx_file(s));
}

void write_uncompressed(const std::string &path)
{
    PcxPlan s;
    s.encoding = 0;
    write_whole_file(path, pcx_file(s));
}

// The image data cut in half, the palette kept.
void cut_data_short(const std::string &path)
{
    const std::string whole = read_whole_file(path);
    const size_t data = whole.size() - 128 - 769;
    write_whole_file(path, whole.substr(0, 128 + data / 2) + whole.substr(whole.size() - 769));
}

void make_fifo(const std::string &path)
{
    std::remove(path.c_str());
    mkfifo(path.c_str(), 0644);
}

void link_dev_zero(const std::string &path)
{
    std::remove(path.c_str());
    if (symlink("/dev/zero", path.c_str()) != 0) {
        std::perror("symlink");
    }
}

void PrintTo(const BadTexture &c, std::ostream *os)
{
    *os << c.what << " " << c.file;
}

class BadTextures : public ::testing::TestWithParam<BadTexture> {};

TEST_P(BadTextures, EndWithStatusOneAndAMessageNamingTheFile)
{
    const BadTexture &c = GetParam();
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    c.spoil(folder + "/" + c.file);
    // Root reads any file: the unreadable case runs as an ordinary user.
    std::vector<std::string> as_user;
    if (c.spoil == make_unreadable && geteuid() == 0) {
        as_user = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    ASSERT_TRUE(x.start(folder, as_user));
    EXPECT_EQ(x.wait(10.0), 1);
    const std::string err = x.error_output();
    EXPECT_NE(err.find(std::string("\"") + c.file + "\""), std::string::npos) << err;
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    // One line.
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    // A missing file's folder, made absolute.
    char real[PATH_MAX];
    if (c.spoil == remove_file && realpath(folder.c_str(), real) != nullptr) {
        EXPECT_NE(err.find(std::string("no such file in ") + real + "\n"), std::string::npos) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Program, BadTextures,
    ::testing::Values(BadTexture{"missing", "weirdo.pcx", remove_file, "no such file"},
                      BadTexture{"missing", "brick.pcx", remove_file, "no such file"},
                      BadTexture{"missing", "brickd.pcx", remove_file, "no such file"},
                      BadTexture{"empty", "brick.pcx", write_empty, "not a PCX"},
                      BadTexture{"truncated", "brickd.pcx", truncate_half, "truncated"},
                      BadTexture{"text", "weirdo.pcx", write_text, "not a PCX"},
                      BadTexture{"folder", "weirdo.pcx", make_folder, "folder"},
                      BadTexture{"unreadable", "brick.pcx", make_unreadable, "permission denied"},
                      BadTexture{"small", "brick.pcx", write_small_pcx, "32 x 32"},
                      BadTexture{"deep", "brickd.pcx", write_24_bit_pcx, "24-bit"},
                      BadTexture{"huge", "brick.pcx", write_huge_claim,
                                 "65536 x 65536 pixels, at most 4096 x 4096 are allowed"},
                      BadTexture{"planes", "weirdo.pcx", write_bit_planes,
                                 "8 planes of 1 bit, one plane of 8 bits is needed"},
                      BadTexture{"raw", "brickd.pcx", write_uncompressed,
                                 "an uncompressed PCX, a run-length one is needed"},
                      BadTexture{"cut", "brick.pcx", cut_data_short, "the image data ends early"},
                      BadTexture{"fifo", "brick.pcx", make_fifo, "a FIFO, not a regular file"},
                      BadTexture{"zero", "brick.pcx", link_dev_zero, "a device, not a regular file"}),
    [](const ::testing::TestParamInfo<BadTexture> &param) {
        std::string name = std::string(param.param.what) + "_" + param.param.file;
        for (char &ch : name) {
            if (ch == '.') {
                ch = '_';
            }
        }
        return name;
    });

// A larger "brick.pcx" with a palette of its own starts with a warning for
// each: its top-left 64 x 64, the texture as made, is drawn in the colours
// of "brickd.pcx".
TEST(Program, WarnsOfALargerTextureAndAnotherPaletteAndDrawsTheCorner)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    PcxImage brick;
    char reason[256];
    ASSERT_TRUE(read_pcx((folder + "/brick.pcx").c_str(), &brick, reason, sizeof reason)) << reason;
    PcxPlan big;
    big.width = 128;
    big.height = 96;
    for (int y = 0; y < big.height; y++) {
        for (int xpos = 0; xpos < big.width; xpos++) {
            // Outside the corner, the floor's colour: it must not show.
            big.pixels.push_back(y < 64 && xpos < 64 ? brick.pixels[y * 64 + xpos] : 2);
        }
    }
    for (int i = 0; i < PCX_PALETTE_BYTES; i++) {
        big.palette.push_back(static_cast<unsigned char>(255 - brick.palette[i]));
    }
    free_pcx(&brick);
    write_whole_file(folder + "/brick.pcx", pcx_file(big));

    ASSERT_TRUE(x.start(folder));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    Picture pic;
    ASSERT_TRUE(x.screenshot(&pic));
    const Palette p;
    for (int xpos : {0, 400, 799}) {
        for (int y = 225; y <= 374; y++) {
            ASSERT_TRUE(p.is_texture(pic.at(xpos, y), Palette::BRICK)) << "row " << y << ", column " << xpos;
        }
    }
    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0);
    EXPECT_EQ(x.error_output(),
              "portalwalk: warning: texture \"brick.pcx\" is 128 x 96 pixels, only its top-left 64 x 64 are "
              "drawn\n"
              "portalwalk: warning: texture \"brick.pcx\" has a palette of its own, that of \"brickd.pcx\" "
              "is used\n");
}

// Without any display the program cannot draw: it says so and ends.
TEST(Program, EndsWithAMessageWhenThereIsNoDisplay)
{
    const std::string folder = make_run_folder("run");
    const Outcome r = run_program(folder, "env -u DISPLAY");
    EXPECT_EQ(r.status, 1);
    const std::string line = r.err.substr(0, r.err.find('\n'));
    EXPECT_NE(line.find("portalwalk: cannot"), std::string::npos) << line;
    EXPECT_NE(line.find("display"), std::string::npos) << line;
}

}  // namespace
