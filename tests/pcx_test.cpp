// The texture reader: what it accepts and decodes, what it refuses and
// why, files that are not files, and a fuzz of mutants of a real texture.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pcx.h"
#include "pcx_files.h"

namespace {

std::string make_temp_folder()
{
    char pattern[] = "/tmp/portalwalk-pcx-XXXXXX";
    const char *dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

int open_descriptors()
{
    int count = 0;
    DIR *d = opendir("/proc/self/fd");
    if (d == nullptr) {
        return -1;
    }
    while (readdir(d) != nullptr) {
        count++;
    }
    closedir(d);
    return count;
}

// A file spoiled one way, and what the reader must say of it; an empty
// reason means the file is accepted.
struct Case {
    const char *what;
    std::string bytes;
    std::string reason;
};

std::string with_header(PcxPlan header_plan, const std::string &rest)
{
    return pcx_header(header_plan) + rest;
}

// 997 bytes whose header claims a size: 100 bytes of data and the palette.
std::string claiming(int w, int h)
{
    PcxPlan s;
    s.width = w;
    s.height = h;
    s.bytes_per_line = 64;
    return pcx_header(s) + std::string(100, '\0') + pcx_palette(s);
}

std::string with_bytes_per_line(int bpl)
{
    PcxPlan s;
    PcxPlan claimed;
    claimed.bytes_per_line = bpl;
    return with_header(claimed, pcx_data(s) + pcx_palette(s));
}

std::string with_planes(int planes, int bits)
{
    PcxPlan s;
    PcxPlan claimed;
    claimed.planes = planes;
    claimed.bits = bits;
    return with_header(claimed, pcx_data(s) + pcx_palette(s));
}

std::vector<Case> cases()
{
    PcxPlan good;
    const std::string data = pcx_data(good);
    const std::string palette = pcx_palette(good);
    PcxPlan big;
    big.width = 128;
    big.height = 128;
    PcxPlan odd;
    odd.width = 65;
    PcxPlan across = odd;
    across.runs_across_rows = true;
    PcxPlan small;
    small.width = 32;
    small.height = 32;
    PcxPlan raw;
    raw.encoding = 0;
    PcxPlan deep;
    deep.planes = 3;
    std::string overrun = data;
    overrun.replace(overrun.size() - 1, 1, "\xC5\x07");  // the last pixel, five times
    std::string bad_marker = pcx_file(good);
    bad_marker[bad_marker.size() - 769] = 0;

    return {
        {"good 64 x 64", pcx_file(good), ""},
        {"good 128 x 128", pcx_file(big), ""},
        {"good 65 wide, padded to 66", pcx_file(odd), ""},
        {"good, runs across padding and rows", pcx_file(across), ""},
        {"claims 65536 x 65536", claiming(65536, 65536),
         "65536 x 65536 pixels, at most 4096 x 4096 are allowed"},
        {"claims 65535 x 65535", claiming(65535, 65535),
         "65535 x 65535 pixels, at most 4096 x 4096 are allowed"},
        {"claims 46341 x 46341", claiming(46341, 46341),
         "46341 x 46341 pixels, at most 4096 x 4096 are allowed"},
        {"claims 65535 x 32767", claiming(65535, 32767),
         "65535 x 32767 pixels, at most 4096 x 4096 are allowed"},
        {"claims 4097 x 64", claiming(4097, 64), "4097 x 64 pixels, at most 4096 x 4096 are allowed"},
        {"32 x 32", pcx_file(small), "32 x 32 pixels, at least 64 x 64 are needed"},
        {"bytes per line 0", with_bytes_per_line(0),
         "0 bytes per line, an even number of at least 64 is needed"},
        {"bytes per line 1", with_bytes_per_line(1),
         "1 byte per line, an even number of at least 64 is needed"},
        {"bytes per line 32", with_bytes_per_line(32),
         "32 bytes per line, an even number of at least 64 is needed"},
        {"bytes per line 65535", with_bytes_per_line(65535),
         "65535 bytes per line, an even number of at least 64 is needed"},
        {"data cut short, palette kept", with_header(good, data.substr(0, data.size() / 2) + palette),
         "the image data ends early"},
        {"a run's value cut off", with_header(good, data.substr(0, data.size() - 1) + "\xC3" + palette),
         "the image data ends early"},
        {"a stray 12 before the palette", with_header(good, data + "\x0c" + palette),
         "1 stray byte between the image data and the palette"},
        {"a run past the last row", with_header(good, overrun + palette), "a run goes past the last row"},
        {"8 planes of 1 bit", with_planes(8, 1), "8 planes of 1 bit, one plane of 8 bits is needed"},
        {"2 planes of 4 bits", with_planes(2, 4), "2 planes of 4 bits, one plane of 8 bits is needed"},
        {"4 planes of 2 bits", with_planes(4, 2), "4 planes of 2 bits, one plane of 8 bits is needed"},
        {"3 planes of 8 bits", pcx_header(deep) + data + palette, "a 24-bit image, an 8-bit one is needed"},
        {"uncompressed", pcx_file(raw), "an uncompressed PCX, a run-length one is needed"},
        {"empty", "", "not a PCX image"},
        {"text", std::string(2000, 'x'), "not a PCX image"},
        {"no palette marker", bad_marker, "the file is truncated or damaged (no palette)"},
        {"header only", pcx_header(good), "the file is truncated or damaged (no palette)"},
    };
}

// The width (from bytes 4 and 8) or height (6 and 10) a header states.
int stated(const std::string &m, size_t low, size_t high)
{
    auto u16 = [&m](size_t at) {
        return static_cast<unsigned char>(m[at]) | static_cast<unsigned char>(m[at + 1]) << 8;
    };
    return u16(high) - u16(low) + 1;
}

TEST(PcxReader, AcceptsWholeFilesAndRefusesEachFaultWithItsReason)
{
    const std::string dir = make_temp_folder();
    ASSERT_NE(dir, "");
    const std::string path = dir + "/texture.pcx";
    const int descriptors = open_descriptors();
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.what);
        write_whole_file(path, c.bytes);
        PcxImage image;
        char reason[256] = "";
        const bool ok = read_pcx(path.c_str(), &image, reason, sizeof reason);
        if (!c.reason.empty()) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(reason, c.reason);
            EXPECT_EQ(image.pixels, nullptr);
            continue;
        }
        ASSERT_TRUE(ok) << reason;
        // The stated size, every pixel where the pattern put it, the palette.
        EXPECT_EQ(image.width, stated(c.bytes, 4, 8));
        EXPECT_EQ(image.height, stated(c.bytes, 6, 10));
        int wrong = 0;
        for (int y = 0; y < image.height; y++) {
            for (int x = 0; x < image.width; x++) {
                wrong += image.pixels[y * image.width + x] != test_pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0);
        const std::vector<unsigned char> pal = test_palette();
        EXPECT_EQ(std::memcmp(image.palette, pal.data(), pal.size()), 0);
        free_pcx(&image);
        EXPECT_EQ(image.pixels, nullptr);
    }
    // No file left open, whatever the outcome.
    EXPECT_EQ(open_descriptors(), descriptors);
    std::remove(path.c_str());
    rmdir(dir.c_str());
}

// A missing file is looked for in a folder, and the reason names it made
// absolute, whether the name was relative or not.
TEST(PcxReader, AMissingFileNamesTheFolderItWasLookedForIn)
{
    const std::string dir = make_temp_folder();
    ASSERT_NE(dir, "");
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    const std::string folder = real;
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    const struct {
        std::string path;
        std::string reason;
    } missing[] = {
        {"weirdo.pcx", "no such file in " + folder},
        {"sub/weirdo.pcx", "no such file in " + folder + "/sub"},
        {"./sub/../weirdo.pcx", "no such file in " + folder},
        {"nowhere/weirdo.pcx", "no such file in " + folder + "/nowhere"},
        {folder + "/sub/weirdo.pcx", "no such file in " + folder + "/sub"},
        {"/weirdo-nowhere.pcx", "no such file in /"},
    };
    for (const auto &m : missing) {
        PcxImage image;
        char reason[PATH_MAX + 100] = "";
        EXPECT_FALSE(read_pcx(m.path.c_str(), &image, reason, sizeof reason)) << m.path;
        EXPECT_EQ(reason, m.reason) << m.path;
    }
    ASSERT_EQ(chdir(cwd), 0);
    rmdir((dir + "/sub").c_str());
    rmdir(dir.c_str());
}

// Nothing but a regular file is read, and nothing blocks: a FIFO nobody
// writes to, /dev/zero through a link, a socket, a folder.  An alarm ends
// the test should the reader block after all.
TEST(PcxReader, RefusesWhatIsNotARegularFileWithoutBlocking)
{
    const std::string dir = make_temp_folder();
    ASSERT_NE(dir, "");
    const std::string fifo = dir + "/fifo.pcx";
    const std::string zero = dir + "/zero.pcx";
    const std::string sock = dir + "/socket.pcx";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    const struct {
        std::string path;
        const char *reason;
    } others[] = {
        {fifo, "a FIFO, not a regular file"},
        {zero, "a device, not a regular file"},
        {sock, "a socket, not a regular file"},
        {dir, "a folder, not a regular file"},
    };
    alarm(10);
    for (const auto &o : others) {
        PcxImage image;
        char reason[256] = "";
        EXPECT_FALSE(read_pcx(o.path.c_str(), &image, reason, sizeof reason)) << o.path;
        EXPECT_STREQ(reason, o.reason) << o.path;
    }
    alarm(0);
    close(s);
    for (const std::string &p : {fifo, zero, sock}) {
        std::remove(p.c_str());
    }
    rmdir(dir.c_str());
}

// The reason with its numbers taken out, so that refusals group by kind.
std::string kind_of(const char *reason)
{
    std::string kind;
    for (const char *p = reason; *p != '\0'; p++) {
        if (*p >= '0' && *p <= '9') {
            if (kind.empty() || kind.back() != 'N') {
                kind += 'N';
            }
        } else {
            kind += *p;
        }
    }
    return kind;
}

// The file as changed by one random mutation.
std::string mutate(const std::string &good, std::mt19937 *rng)
{
    std::string m = good;
    auto pick = [rng](size_t n) { return static_cast<size_t>((*rng)() % n); };
    auto byte = [rng]() { return static_cast<char>((*rng)() & 0xFF); };
    // Where the header says what the file holds.
    static const size_t fields[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 65, 66, 67};
    switch (pick(6)) {
    case 0:  // a few bytes anywhere
        for (size_t n = 1 + pick(3); n > 0; n--) {
            m[pick(m.size())] = byte();
        }
        break;
    case 1: {  // a header field, by one or by anything
        char &field = m[fields[pick(sizeof fields / sizeof fields[0])]];
        field = pick(2) == 0 ? byte() : static_cast<char>(field + (pick(2) == 0 ? 1 : -1));
        break;
    }
    case 2:  // cut short
        m.resize(pick(m.size()));
        break;
    case 3:  // bytes of the image data taken out
        m.erase(128 + pick(m.size() - 128 - 769), 1 + pick(4));
        break;
    case 4:  // bytes put into the image data
        m.insert(128 + pick(m.size() - 128 - 769), 1 + pick(4), byte());
        break;
    default:  // a run byte put in place of a data byte
        m[128 + pick(m.size() - 128 - 769)] = static_cast<char>(0xC0 | pick(64));
        break;
    }
    return m;
}

// Every mutant of a good file is refused with a reason, or decodes to an
// image of its stated size with every pixel written: decoded into pixels
// set to 0 first and into pixels set to 255, the two are equal.  The good
// files are a real texture, and one with padding and runs across rows.
TEST(PcxReader, FuzzedTexturesAreRefusedWithAReasonOrDecodedWhole)
{
    PcxPlan padded;
    padded.width = 65;
    padded.runs_across_rows = true;
    const std::string seeds[2] = {read_whole_file(std::string(TEXTURE_DIR) + "/brick.pcx"),
                                  pcx_file(padded)};
    ASSERT_GT(seeds[0].size(), 128u + 769u);
    const std::string dir = make_temp_folder();
    ASSERT_NE(dir, "");
    const std::string path = dir + "/mutant.pcx";

    // Room for the largest image, made once: a mutant may claim 4096 x 4096.
    // Each image lies at the end, so that a write past it leaves the heap
    // block (which the sanitizer build catches).
    const size_t room = static_cast<size_t>(PCX_MAX_SIZE) * PCX_MAX_SIZE;
    std::unique_ptr<unsigned char[]> zeros_room(new unsigned char[room]);
    std::unique_ptr<unsigned char[]> ones_room(new unsigned char[room]);
    std::mt19937 rng(11);
    std::map<std::string, int> refused;
    int accepted = 0;
    int changed_and_accepted = 0;
    const int mutants = 4000;
    for (int i = 0; i < mutants; i++) {
        const std::string &good = seeds[i % 2];
        const std::string m = mutate(good, &rng);
        // A new file each time: truncating one would have it written out
        // to the disk first, slowly.
        std::remove(path.c_str());
        write_whole_file(path, m);
        PcxFile file;
        char reason[256] = "";
        if (!open_pcx(path.c_str(), &file, reason, sizeof reason)) {
            close_pcx(&file);
            ASSERT_NE(reason[0], '\0') << "mutant " << i;
            refused[kind_of(reason)]++;
            continue;
        }
        ASSERT_EQ(file.image.width, stated(m, 4, 8)) << "mutant " << i;
        ASSERT_EQ(file.image.height, stated(m, 6, 10)) << "mutant " << i;
        const size_t count = static_cast<size_t>(file.image.width) * file.image.height;
        unsigned char *zeros = zeros_room.get() + room - count;
        unsigned char *ones = ones_room.get() + room - count;
        std::fill_n(zeros, count, 0);
        const bool first = decode_pcx(&file, zeros, reason, sizeof reason);
        close_pcx(&file);
        if (!first) {
            ASSERT_NE(reason[0], '\0') << "mutant " << i;
            refused[kind_of(reason)]++;
            continue;
        }
        std::fill_n(ones, count, 255);
        ASSERT_TRUE(open_pcx(path.c_str(), &file, reason, sizeof reason)) << reason;
        const bool second = decode_pcx(&file, ones, reason, sizeof reason);
        close_pcx(&file);
        ASSERT_TRUE(second) << "mutant " << i << ": " << reason;
        ASSERT_TRUE(std::equal(zeros, zeros + count, ones))
            << "mutant " << i << " leaves pixels unwritten";
        accepted++;
        changed_and_accepted += m != good ? 1 : 0;
    }
    std::remove(path.c_str());
    rmdir(dir.c_str());

    int refusals = 0;
    std::printf("%d mutants of brick.pcx and a padded file:\n", mutants);
    for (const auto &r : refused) {
        std::printf("  refused %5d  %s\n", r.second, r.first.c_str());
        refusals += r.second;
    }
    std::printf("  accepted %4d (%d of them changed)\n", accepted, changed_and_accepted);
    EXPECT_EQ(refusals + accepted, mutants);
    // A fuzz that only ever refuses, or only ever accepts, tests little.
    EXPECT_GT(accepted, mutants / 10);
    EXPECT_GT(refusals, mutants / 10);
    EXPECT_GE(refused.size(), 8u);
}

}  // namespace
