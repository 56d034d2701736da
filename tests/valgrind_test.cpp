// The real program under valgrind's memcheck, walking, turning and
// strafing for a few hundred frames before Escape: no invalid read or
// write, no use of uninitialised values, nothing of ours leaked.

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "xsession.h"

namespace {

void hold(XSession &x, const std::string &keys, int ms)
{
    std::istringstream names(keys);
    std::string k;
    while (names >> k) {
        ASSERT_TRUE(x.key_down(k));
    }
    usleep(static_cast<useconds_t>(ms) * 1000);
    std::istringstream again(keys);
    while (again >> k) {
        ASSERT_TRUE(x.key_up(k));
    }
}

TEST(Valgrind, HeldKeysThenEscapeRunClean)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    const std::string log = folder + "/memcheck.log";
    ASSERT_TRUE(x.start(folder, {"valgrind", "--fair-sched=yes", "--error-exitcode=99", "--leak-check=full",
                                 "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
                                 "--track-origins=yes", "--log-file=" + log}));
    ASSERT_NE(x.window(60.0), 0u) << x.error_output();

    // Into the hall and back: walking, running, turning, strafing.
    hold(x, "Right", 1200);
    hold(x, "Up", 1500);
    hold(x, "shift Up", 1000);
    hold(x, "Left", 1000);
    hold(x, "alt Right", 800);
    hold(x, "Down", 800);
    // Under valgrind the library's input thread may run seldom enough to
    // take a press and its release together, between two frames: press
    // Escape until the program has seen it.
    for (int attempt = 0; attempt < 10 && x.running(); attempt++) {
        x.key_down("Escape");
        if (!x.ends_within(1.0)) {
            x.key_up("Escape");
            x.ends_within(4.0);
        }
    }
    const int status = x.wait(60.0);

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string report = text.str();
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
    EXPECT_EQ(report.find("Invalid read"), std::string::npos);
    EXPECT_EQ(report.find("Invalid write"), std::string::npos);
    EXPECT_EQ(report.find("uninitialised"), std::string::npos);
    // Either no leak at all, or none definitely lost.
    const bool no_leaks = report.find("All heap blocks were freed") != std::string::npos ||
                          report.find("definitely lost: 0 bytes") != std::string::npos;
    EXPECT_TRUE(no_leaks) << report;
}

}  // namespace
