// Level files: the shipped levels load; each broken rule is refused with
// its one-line message; six-rooms.toml is the built-in level record for
// record and pixel for pixel; a level at the coordinate bound still draws
// and walks.

#include <gtest/gtest.h>

#include <allegro.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app.h"
#include "level.h"
#include "move.h"
#include "render.h"

namespace {

std::string level_path(const char *name)
{
    return std::string(LEVEL_DIR) + "/" + name;
}

std::string temp_folder()
{
    static std::string folder;
    if (folder.empty()) {
        char name[] = "/tmp/pw_level_XXXXXX";
        folder = mkdtemp(name);
    }
    return folder;
}

std::string write_temp(const std::string &name, const std::string &text)
{
    const std::string path = temp_folder() + "/" + name;
    std::ofstream(path, std::ios::trunc) << text;
    return path;
}

BITMAP *slots[LEVEL_MAX_TEXTURES];

// ---------------------------------------------------------------------------
// The shipped levels.
// ---------------------------------------------------------------------------

struct Shipped {
    const char *file;
    int sectors;
    int walls;
    int portals;
    int textures;
};

TEST(Levels, ShippedLevelsLoad)
{
    const Shipped shipped[] = {
        {"six-rooms.toml", 6, 27, 10, 3},
        {"ring.toml", 8, 32, 16, 3},
        {"two-rooms.toml", 2, 8, 2, 2},  // the README's example
        // 32 x 32 rooms of 8 walls; 2 x 32 x 31 corridors of 4.
        {"grid.toml", 1024 + 1984, 1024 * 8 + 1984 * 4, 1984 * 4, 3},
    };
    for (const Shipped &s : shipped) {
        SCOPED_TRACE(s.file);
        Level level;
        char error[512] = "";
        ASSERT_TRUE(load_level(level_path(s.file).c_str(), slots, &level, error, sizeof error)) << error;
        EXPECT_EQ(level.sector_count, s.sectors);
        EXPECT_EQ(level.wall_count, s.walls);
        EXPECT_EQ(level.texture_count, s.textures);
        int portals = 0;
        for (int i = 0; i < level.sector_count; i++) {
            const Sector &sector = level.sectors[i];
            ASSERT_GE(sector.count, 3);
            // Portals lead each sector's walls, and each leads to another.
            bool solid_seen = false;
            for (int w = 0; w < sector.count; w++) {
                const Wall &wall = sector.walls[w];
                if (wall.is_portal != 0) {
                    EXPECT_FALSE(solid_seen);
                    EXPECT_NE(wall.neighbour, &sector);
                    EXPECT_TRUE(wall.neighbour >= level.sectors && wall.neighbour < level.sectors + level.sector_count);
                    portals++;
                } else {
                    solid_seen = true;
                }
                EXPECT_TRUE(wall.texture >= slots && wall.texture < slots + level.texture_count);
            }
        }
        EXPECT_EQ(portals, s.portals);
        EXPECT_TRUE(level.start_sector >= level.sectors && level.start_sector < level.sectors + level.sector_count);
        free_level(&level);
        EXPECT_EQ(level.sectors, nullptr);
        EXPECT_EQ(level.walls, nullptr);
    }
}

// The large level is what tools/make_grid writes.
TEST(Levels, GridLevelIsTheToolsOutput)
{
    const std::string out = temp_folder() + "/grid.toml";
    ASSERT_EQ(std::system((std::string(MAKE_GRID_BIN) + " " + out).c_str()), 0);
    std::ifstream a(out);
    std::ifstream b(level_path("grid.toml"));
    std::stringstream made;
    std::stringstream shipped;
    made << a.rdbuf();
    shipped << b.rdbuf();
    EXPECT_EQ(made.str(), shipped.str()) << "levels/grid.toml is not make_grid's output: rewrite it";
}

// ---------------------------------------------------------------------------
// Broken levels: one fixture per rule, each changing one thing in a small
// good level of two rooms side by side.
// ---------------------------------------------------------------------------

const char *const GOOD = R"(textures = { stone = "brick.pcx" }
vertices = [[0, 0], [4, 0], [4, 4], [0, 4], [8, 0], [8, 4]]
start = { sector = 1, x = 2, y = 2 }

[[sector]]
walls = [[1, 2, "stone"], [2, 3, "stone", 2], [3, 4, "stone"], [4, 1, "stone"]]

[[sector]]
walls = [[2, 5, "stone"], [5, 6, "stone"], [6, 3, "stone"], [3, 2, "stone", 1]]
)";

struct Broken {
    const char *what;
    const char *find;     // replaced in GOOD...
    const char *replace;  // ...by this
    int line;             // 0: the message names no line
    const char *message;  // what follows "file:line: "
};

std::string with(const char *find, const char *replace)
{
    std::string text = GOOD;
    const size_t at = text.find(find);
    if (at == std::string::npos) {
        ADD_FAILURE() << "fixture text not found: " << find;
        return text;
    }
    return text.replace(at, std::strlen(find), replace);
}

void PrintTo(const Broken &b, std::ostream *os)
{
    *os << b.what;
}

class BrokenLevels : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenLevels, AreRefusedWithTheirMessage)
{
    const Broken &b = GetParam();
    const std::string path = write_temp("broken.toml", with(b.find, b.replace));
    Level level;
    std::memset(&level, 0x5A, sizeof level);
    char error[512] = "";
    ASSERT_FALSE(load_level(path.c_str(), slots, &level, error, sizeof error));
    const std::string want = b.line > 0 ? path + ":" + std::to_string(b.line) + ": " + b.message
                                        : path + ": " + b.message;
    EXPECT_EQ(std::string(error), want);
    // The record is left as it was.
    unsigned char untouched[sizeof level];
    std::memset(untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(std::memcmp(&level, untouched, sizeof level), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BrokenLevels,
    ::testing::Values(
        // The file is TOML with the keys and types of the format.
        Broken{"unknown_key", "textures", "flor = 2\ntextures", 1, "unknown key \"flor\""},
        Broken{"unknown_key_in_start", "y = 2 }", "y = 2, z = 1 }", 3, "start: unknown key \"z\""},
        Broken{"unknown_key_in_sector", "[[sector]]\nwalls = [[2", "[[sector]]\nname = \"east\"\nwalls = [[2", 9,
               "sector 2: unknown key \"name\""},
        Broken{"missing_start", "start = { sector = 1, x = 2, y = 2 }", "", 0, "missing key \"start\""},
        Broken{"missing_walls", "walls = [[2, 5, \"stone\"], [5, 6, \"stone\"], [6, 3, \"stone\"], [3, 2, \"stone\", 1]]",
               "", 8, "sector 2: missing key \"walls\""},
        Broken{"no_textures", "{ stone = \"brick.pcx\" }", "{}", 1,
               "\"textures\" names no texture; a level needs at least one"},
        Broken{"texture_not_a_string", "\"brick.pcx\"", "7", 1, "texture \"stone\": the file name must be a string"},
        Broken{"texture_absolute", "\"brick.pcx\"", "\"/tmp/brick.pcx\"", 1,
               "texture \"stone\": the file name must be relative: it is looked for beside the level, then in the "
               "working directory"},
        Broken{"palette_unknown", "textures = { stone = \"brick.pcx\" }",
               "textures = { stone = \"brick.pcx\" }\npalette = \"marble\"", 2,
               "\"palette\" names \"marble\", which is not in \"textures\""},
        Broken{"palette_needed", "{ stone = \"brick.pcx\" }", "{ stone = \"brick.pcx\", wood = \"brickd.pcx\" }", 0,
               "missing key \"palette\": with more than one texture, say whose palette is in force"},
        Broken{"ceiling_out_of_range", "textures", "ceiling = 256\ntextures", 1,
               "\"ceiling\" (a palette entry) is 256; it must be from 0 to 255"},
        Broken{"floor_not_an_integer", "textures", "floor = 2.5\ntextures", 1,
               "\"floor\" (a palette entry) must be an integer from 0 to 255"},
        Broken{"vertex_not_a_pair", "[8, 4]]", "[8, 4, 0]]", 2, "vertex 6 must be a pair of numbers [x, y]"},
        Broken{"vertex_not_a_number", "[8, 4]]", "[8, \"4\"]]", 2, "vertex 6: y must be a number"},
        Broken{"wall_form", "[4, 1, \"stone\"]", "[4, 1]", 6,
               "sector 1, wall 4: a wall is [from, to, \"texture\"], or [from, to, \"texture\", sector] for a portal"},
        Broken{"wall_vertex_unknown", "[4, 1, \"stone\"]", "[4, 7, \"stone\"]", 6,
               "sector 1, wall 4: the second vertex is 7; it must be from 1 to 6"},
        Broken{"wall_texture_unknown", "[3, 4, \"stone\"]", "[3, 4, \"ston\"]", 6,
               "sector 1, wall 3: texture \"ston\" is not in \"textures\""},
        Broken{"neighbour_unknown", "[2, 3, \"stone\", 2]", "[2, 3, \"stone\", 3]", 6,
               "sector 1, wall 2: the sector beyond is 3; it must be from 1 to 2"},

        // Every sector: at least three walls closing one loop,
        // counter-clockwise, strictly convex, no wall of zero length.
        Broken{"two_walls", "walls = [[1, 2, \"stone\"], [2, 3, \"stone\", 2], [3, 4, \"stone\"], [4, 1, \"stone\"]]",
               "walls = [[1, 2, \"stone\"], [2, 1, \"stone\"]]", 6, "sector 1: 2 walls; a sector needs at least 3"},
        Broken{"zero_length", "[4, 1, \"stone\"]", "[4, 4, \"stone\"]", 6,
               "sector 1, wall 4: a wall of zero length (vertices 4 and 4 are the same point)"},
        Broken{"zero_length_two_vertices", "[8, 4]]", "[8, 0]]",  // vertex 6 on vertex 5
               9, "sector 2, wall 2: a wall of zero length (vertices 5 and 6 are the same point)"},
        Broken{"not_closed", "[4, 1, \"stone\"]", "[4, 5, \"stone\"]", 6,
               "sector 1, wall 4: ends at vertex 5, where no wall of the sector starts: the walls do not close a "
               "loop"},
        Broken{"two_walls_from_one_vertex", "[3, 4, \"stone\"]", "[2, 4, \"stone\"]", 6,
               "sector 1, wall 3: starts at vertex 2 as wall 2 does: the walls do not close one loop"},
        Broken{"two_loops", "walls = [[1, 2, \"stone\"], [2, 3, \"stone\", 2], [3, 4, \"stone\"], [4, 1, \"stone\"]]",
               "walls = [[1, 2, \"stone\"], [2, 4, \"stone\"], [4, 1, \"stone\"], [5, 6, \"stone\"], "
               "[6, 3, \"stone\"], [3, 5, \"stone\"]]",
               6, "sector 1: the walls form more than one loop; a sector is one loop of walls"},
        Broken{"clockwise", "walls = [[1, 2, \"stone\"], [2, 3, \"stone\", 2], [3, 4, \"stone\"], [4, 1, \"stone\"]]",
               "walls = [[1, 4, \"stone\"], [4, 3, \"stone\"], [3, 2, \"stone\", 2], [2, 1, \"stone\"]]", 6,
               "sector 1: the walls run clockwise; they must run counter-clockwise"},
        Broken{"reflex_corner", "[0, 4], [8, 0], [8, 4]]", "[3, 2], [8, 0], [8, 4]]",  // vertex 4 pushed in
               6, "sector 1, wall 3: not strictly convex: the corner at vertex 4, with wall 4, turns right or runs "
                  "straight on"},
        // Portal twins.
        Broken{"own_neighbour", "[2, 3, \"stone\", 2]", "[2, 3, \"stone\", 1]", 6,
               "sector 1, wall 2: a portal to its own sector"},
        Broken{"twin_missing", "[4, 1, \"stone\"]", "[4, 1, \"stone\", 2]", 6,
               "sector 1, wall 4: the portal to sector 2 has no twin: sector 2 has no wall from vertex 1 to "
               "vertex 4"},
        Broken{"twin_solid", "[3, 2, \"stone\", 1]", "[3, 2, \"stone\"]", 6,
               "sector 1, wall 2: the portal to sector 2 has no twin: its wall 4 from vertex 3 to vertex 2 is "
               "solid"},

        // The coordinate bound.
        Broken{"beyond_the_bound", "[8, 4]]", "[8, 8193]]", 2,
               "vertex 6: y lies beyond the bound: coordinates must be within -8192 and 8192 map units"},
        Broken{"beyond_the_bound_by_a_fraction", "[[0, 0]", "[[-8192.00001, 0]", 2,
               "vertex 1: x lies beyond the bound: coordinates must be within -8192 and 8192 map units"},
        Broken{"start_beyond_the_bound", "x = 2,", "x = 1e9,", 3,
               "start: x lies beyond the bound: coordinates must be within -8192 and 8192 map units"},

        // The start point.
        Broken{"start_outside", "x = 2,", "x = 6,", 3, "start: the point lies outside sector 1"},
        Broken{"start_near_a_wall", "y = 2 }", "y = 0.25 }", 3,
               "start: the point lies 0.250 units from a solid wall of sector 1; at least 0.3 is needed"},
        Broken{"start_sector_unknown", "sector = 1,", "sector = 0,", 3,
               "start: sector is 0; it must be from 1 to 2"},
        Broken{"start_heading", "y = 2 }", "y = 2, heading = 360 }", 3,
               "start: heading must be at least 0 and below 360 (degrees)"},

        // Counts.
        Broken{"no_sector", "[[sector]]\nwalls = [[1, 2, \"stone\"], [2, 3, \"stone\", 2], [3, 4, \"stone\"], [4, 1, "
                            "\"stone\"]]\n\n[[sector]]\nwalls = [[2, 5, \"stone\"], [5, 6, \"stone\"], [6, 3, "
                            "\"stone\"], [3, 2, \"stone\", 1]]",
               "sector = []", 5, "no sector: a level needs at least one"}),
    [](const ::testing::TestParamInfo<Broken> &param) { return std::string(param.param.what); });

// Cases whose fixtures are longer than one replacement.
TEST(BrokenLevel, MoreCases)
{
    struct Case {
        const char *what;
        std::string text;
        std::string message;  // after "file:"
        bool whole;           // the whole message, or how it begins
    };
    const std::string good = GOOD;
    const std::string walls2 =
        "walls = [[2, 5, \"stone\"], [5, 6, \"stone\"], [6, 3, \"stone\"], [3, 2, \"stone\", 1]]";
    const std::string vertices = "[[0, 0], [4, 0], [4, 4], [0, 4], [8, 0], [8, 4]]";
    auto replaced = [](std::string text, const std::vector<std::pair<std::string, std::string>> &changes) {
        for (const auto &c : changes) {
            text.replace(text.find(c.first), c.first.size(), c.second);
        }
        return text;
    };

    std::string many_walls = "textures = { stone = \"brick.pcx\" }\nvertices = [";
    std::string walls = "walls = [";
    for (int i = 0; i < 257; i++) {
        const double a = 2 * 3.141592653589793 * i / 257;
        char v[64];
        std::snprintf(v, sizeof v, "%s[%.4f, %.4f]", i == 0 ? "" : ", ", 100 * std::cos(a), 100 * std::sin(a));
        many_walls += v;
        std::snprintf(v, sizeof v, "%s[%d, %d, \"stone\"]", i == 0 ? "" : ", ", i + 1, (i + 1) % 257 + 1);
        walls += v;
    }
    many_walls += "]\nstart = { sector = 1, x = 0, y = 0 }\n[[sector]]\n" + walls + "]\n";

    std::string many_sectors = "textures = { stone = \"brick.pcx\" }\n"
                               "vertices = [[0, 0], [1, 0], [0, 1]]\nstart = { sector = 1, x = 0.25, y = 0.25 }\n";
    for (int i = 0; i < LEVEL_MAX_SECTORS + 1; i++) {
        many_sectors += "[[sector]]\nwalls = [[1, 2, \"stone\"], [2, 3, \"stone\"], [3, 1, \"stone\"]]\n";
    }

    const Case cases[] = {
        {"not TOML", replaced(good, {{"[4, 0]", "[4, 0"}}), "3: not TOML: ", false},
        {"straight on",
         replaced(good, {{vertices, "[[0, 0], [4, 0], [4, 4], [0, 4], [8, 0], [8, 4], [2, 0]]"},
                         {"walls = [[1, 2, \"stone\"]", "walls = [[1, 7, \"stone\"], [7, 2, \"stone\"]"}}),
         "6: sector 1, wall 1: not strictly convex: the corner at vertex 7, with wall 2, turns right or runs "
         "straight on",
         true},
        // A pentagram: five left turns, twice round.
        {"star",
         replaced(good, {{vertices, "[[0, 0], [4, 0], [4, 4], [0, 4], [8, 0], [8, 4], [0, 100], [-95, 31], "
                                    "[-59, -81], [59, -81], [95, 31]]"}}) +
             "[[sector]]\nwalls = [[7, 9, \"stone\"], [9, 11, \"stone\"], [11, 8, \"stone\"], [8, 10, \"stone\"], "
             "[10, 7, \"stone\"]]\n",
         "11: sector 3: the walls wind round more than once; a sector must be convex", true},
        // The twin of sector 1's portal leads on to a third sector.
        {"twin leads elsewhere",
         replaced(good, {{vertices, "[[0, 0], [4, 0], [4, 4], [0, 4], [8, 0], [8, 4], [12, 2]]"},
                         {walls2, "walls = [[2, 5, \"stone\"], [5, 6, \"stone\", 3], [6, 3, \"stone\"], "
                                  "[3, 2, \"stone\", 3]]\n[[sector]]\nwalls = [[5, 7, \"stone\"], "
                                  "[7, 6, \"stone\"], [6, 5, \"stone\", 2]]"}}),
         "6: sector 1, wall 2: the portal to sector 2 has no twin: its wall 4 from vertex 3 to vertex 2 leads to "
         "sector 3, not back to sector 1",
         true},
        {"257 walls", many_walls, "5: sector 1: 257 walls; a sector may have at most 256", true},
        {"4097 sectors", many_sectors, "4: 4097 sectors; at most 4096 are allowed", true},
        {"name with a newline", replaced(good, {{"{ stone = \"brick.pcx\" }", "{ \"a\\nb\" = \"brick.pcx\" }"}}),
         "6: sector 1, wall 1: texture \"stone\" is not in \"textures\"", true},
        {"key with a newline", replaced(good, {{"textures", "\"x\\ny\" = 1\ntextures"}}), "1: unknown key \"x?y\"",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write_temp("more.toml", c.text);
        Level level;
        char error[512] = "";
        ASSERT_FALSE(load_level(path.c_str(), slots, &level, error, sizeof error));
        const std::string want = path + ":" + c.message;
        if (c.whole) {
            EXPECT_EQ(std::string(error), want);
        } else {
            EXPECT_EQ(std::string(error).substr(0, want.size()), want);
            EXPECT_EQ(std::string(error).find('\n'), std::string::npos);
        }
    }
}

// Files that cannot be read at all.
TEST(BrokenLevel, UnreadableFiles)
{
    Level level;
    char error[512] = "";
    const std::string missing = temp_folder() + "/missing.toml";
    ASSERT_FALSE(load_level(missing.c_str(), slots, &level, error, sizeof error));
    EXPECT_EQ(std::string(error), missing + ": no such file");
    ASSERT_FALSE(load_level(temp_folder().c_str(), slots, &level, error, sizeof error));
    EXPECT_EQ(std::string(error), temp_folder() + ": it is a folder, not a file");
    // Neither a FIFO nor a device is opened, let alone read to its end.
    const std::string fifo = temp_folder() + "/fifo.toml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_FALSE(load_level(fifo.c_str(), slots, &level, error, sizeof error));
    EXPECT_EQ(std::string(error), fifo + ": a FIFO, not a regular file");
    const std::string zero = temp_folder() + "/zero.toml";
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    ASSERT_FALSE(load_level(zero.c_str(), slots, &level, error, sizeof error));
    EXPECT_EQ(std::string(error), zero + ": a device, not a regular file");
    const std::string empty = write_temp("empty.toml", "");
    ASSERT_FALSE(load_level(empty.c_str(), slots, &level, error, sizeof error));
    EXPECT_EQ(std::string(error), empty + ": missing key \"textures\"");
    // A message that does not fit is cut, still ended.
    char small[16];
    ASSERT_FALSE(load_level(missing.c_str(), slots, &level, small, sizeof small));
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

}  // namespace

namespace {

// draw_map draws any level, or refuses it with the reader's message.
TEST(DrawMap, DrawsALevelOrSaysWhyNot)
{
    const std::string png = temp_folder() + "/ring.png";
    const std::string err = temp_folder() + "/draw_map.err";
    ASSERT_EQ(std::system((std::string(DRAW_MAP_BIN) + " " + level_path("ring.toml") + " " + png).c_str()), 0);
    std::ifstream in(png, std::ios::binary);
    char signature[8] = {};
    in.read(signature, sizeof signature);
    EXPECT_EQ(std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8), 0);

    const std::string broken = write_temp("broken.toml", "textures = 1\n");
    const int status = std::system((std::string(DRAW_MAP_BIN) + " " + broken + " " + png + " 2>" + err).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream message(err);
    std::string line;
    std::getline(message, line);
    EXPECT_EQ(line, "draw_map: " + broken +
                        ":1: \"textures\" must be a table of names and file names, e.g. { brick = \"brick.pcx\" }");
}

}  // namespace
