// The real program with a level file: what it shows in a virtual X server,
// where it finds the level's textures, how it refuses a broken level, and
// its arguments.

#include <gtest/gtest.h>

#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/wait.h>

#include "shown_palette.h"
#include "xsession.h"

namespace {

std::string write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
    return path;
}

// From the middle of S facing +x, the east wall of SE stands ten units
// ahead in "brick.pcx": 60 rows high about the middle row.  The ceiling
// is entry 36 and the floor entry 250, as the file says.
TEST(ProgramWithLevel, ShowsTheRingInItsColoursThenEndsOnEscape)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    ASSERT_TRUE(x.start(make_run_folder("run"), {}, {std::string(LEVEL_DIR) + "/ring.toml"}));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    Picture pic;
    ASSERT_TRUE(x.screenshot(&pic));
    const ShownPalette p;
    for (int xpos : {0, 400, 799}) {
        EXPECT_TRUE(p.matches(pic.at(xpos, 100), 36)) << "column " << xpos;
        EXPECT_TRUE(p.matches(pic.at(xpos, 599), 250)) << "column " << xpos;
    }
    for (int y = 275; y <= 325; y++) {
        ASSERT_TRUE(p.in_range(pic.at(400, y), BRICK_FIRST, BRICK_COUNT)) << "row " << y;
    }
    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0) << x.error_output();
    EXPECT_EQ(x.error_output(), "");
}

// A one-room level with a texture of its own beside it, started from a
// folder that does not hold that texture.
const char *const ROOM = R"(textures = { stone = "stone.pcx" }
vertices = [[-2, -2], [2, -2], [2, 2], [-2, 2]]
start = { sector = 1, x = 0, y = 0 }
[[sector]]
walls = [[1, 2, "stone"], [2, 3, "stone"], [3, 4, "stone"], [4, 1, "stone"]]
)";

TEST(ProgramWithLevel, FindsTheLevelsTexturesBesideIt)
{
    const std::string level_folder = make_run_folder("level");
    copy_file(level_folder + "/weirdo.pcx", level_folder + "/stone.pcx");
    const std::string level = write_file(level_folder + "/room.toml", ROOM);

    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    ASSERT_TRUE(x.start(make_run_folder("run"), {}, {level}));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    Picture pic;
    ASSERT_TRUE(x.screenshot(&pic));
    const ShownPalette p;
    // The wall two units ahead stands 300 rows high.
    for (int y = 160; y <= 440; y++) {
        ASSERT_TRUE(p.in_range(pic.at(400, y), WEIRDO_FIRST, WEIRDO_COUNT)) << "row " << y;
    }
    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0) << x.error_output();
}

// Refused before a window opens: status 1 and one line.
TEST(ProgramWithLevel, BrokenLevelsEndWithStatusOneAndOneLine)
{
    const std::string level_folder = make_run_folder("level");
    std::string own_neighbour = ROOM;
    own_neighbour.replace(own_neighbour.find("[2, 3, \"stone\"]"), 15, "[2, 3, \"stone\", 1]");
    struct Case {
        const char *what;
        std::string level;
        std::string message;
    } cases[] = {
        {"a broken rule", write_file(level_folder + "/own.toml", own_neighbour),
         "portalwalk: " + level_folder + "/own.toml:5: sector 1, wall 2: a portal to its own sector\n"},
        {"a missing file", level_folder + "/none.toml", "portalwalk: " + level_folder + "/none.toml: no such file\n"},
        {"a texture found nowhere", write_file(level_folder + "/room.toml", ROOM),
         "portalwalk: cannot load texture \"stone.pcx\": no such file beside the level (in " + level_folder +
             ") or in the working directory\n"},
    };
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(x.start(make_run_folder("run"), {}, {c.level}));
        EXPECT_EQ(x.wait(10.0), 1);
        EXPECT_EQ(x.error_output(), c.message);
    }
}

// Runs the program without a display and with the given arguments.
Outcome run_without_display(const std::string &arguments)
{
    return run_program(make_run_folder("args"), "env -u DISPLAY", arguments);
}

TEST(ProgramArguments, HelpAndBadArguments)
{
    const Outcome help = run_without_display("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: portalwalk [level.toml]\n", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    // One screen.
    int lines = 0;
    for (char c : help.out) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_LE(lines, 24);

    const Outcome option = run_without_display("--fast");
    EXPECT_EQ(option.status, 2);
    EXPECT_EQ(option.out, "");
    EXPECT_EQ(option.err, "portalwalk: unknown option \"--fast\" (portalwalk --help shows the usage)\n");

    const Outcome two = run_without_display("a.toml b.toml");
    EXPECT_EQ(two.status, 2);
    EXPECT_EQ(two.err, "portalwalk: one level file at most (portalwalk --help shows the usage)\n");

    // The level is checked before the display is opened.
    const Outcome broken = run_without_display(std::string(LEVEL_DIR) + "/no-such-level.toml");
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, "portalwalk: " + std::string(LEVEL_DIR) + "/no-such-level.toml: no such file\n");
}

}  // namespace
