// The real program in a virtual X server, told from outside: how little it
// works while it stands still, and how it ends on a signal, on a lost
// display, with standard error closed and with a display it cannot open.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "xsession.h"

namespace {

// The CPU time the process has used, user and system, in clock ticks.
long cpu_ticks(pid_t pid)
{
    const std::string text = read_file("/proc/" + std::to_string(pid) + "/stat");
    // The fields after the name in parentheses; utime and stime are the
    // 14th and 15th of the line, the 12th and 13th after it.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    long ticks = 0;
    for (int i = 1; i <= 13 && fields >> f; i++) {
        if (i >= 12) {
            ticks += std::atol(f.c_str());
        }
    }
    return ticks;
}

// Whether a SysV shared-memory segment made by `pid` is still there.
bool has_segment(pid_t pid)
{
    FILE *p = popen("ipcs -m -p 2>/dev/null", "r");
    if (p == nullptr) {
        return false;
    }
    bool found = false;
    char line[256];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        long id;
        char owner[64];
        long cpid;
        long lpid;
        if (std::sscanf(line, "%ld %63s %ld %ld", &id, owner, &cpid, &lpid) == 4 && cpid == pid) {
            found = true;
        }
    }
    pclose(p);
    return found;
}

// The X server lets go of a segment when it has seen the program go, a
// moment after the program ended.
bool segment_gone_within(pid_t pid, double seconds)
{
    for (int waited = 0; waited < seconds * 1000; waited += 50) {
        if (!has_segment(pid)) {
            return true;
        }
        usleep(50000);
    }
    return !has_segment(pid);
}

// Standing still for 3 s, a paced program sleeps between frames; the
// unpaced loop drew as fast as the X server took frames, three quarters
// of a core and more.  A loose bound, far from both.
TEST(Exits, IdleProgramUsesASmallShareOfACore)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    ASSERT_TRUE(x.start(make_run_folder("run")));
    ASSERT_NE(x.window(), 0u) << x.error_output();
    const long before = cpu_ticks(x.pid());
    sleep(3);
    const long used = cpu_ticks(x.pid()) - before;
    const double share = static_cast<double>(used) / (3.0 * static_cast<double>(sysconf(_SC_CLK_TCK)));
    EXPECT_LT(share, 0.35) << "share of one core while idle";
    ASSERT_TRUE(x.key("Escape"));
    EXPECT_EQ(x.wait(5.0), 0) << x.error_output();
}

// Each signal ends the program as Escape does: through its shutdown, with
// status 0, nothing said and no shared memory left behind.
TEST(Exits, SignalsEndTheProgramThroughItsShutdown)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        ASSERT_TRUE(x.start(folder));
        ASSERT_NE(x.window(), 0u) << x.error_output();
        const pid_t pid = x.pid();
        ASSERT_TRUE(x.signal(sig));
        EXPECT_EQ(x.wait(3.0), 0) << x.error_output();
        EXPECT_EQ(x.error_output(), "");
        EXPECT_TRUE(segment_gone_within(pid, 2.0)) << "a shared-memory segment left behind";
    }
}

// The X server dies while frames are drawn.  The library's own way out
// could hang in about one run of three, so the kill is repeated, at a
// different moment of the frame each time.
TEST(Exits, ALostDisplayEndsTheProgramWithOneLine)
{
    const std::string folder = make_run_folder("run");
    for (int run = 0; run < 10; run++) {
        SCOPED_TRACE("run " + std::to_string(run));
        XSession x;
        ASSERT_TRUE(x.ok()) << "no Xvfb";
        ASSERT_TRUE(x.start(folder));
        ASSERT_NE(x.window(), 0u) << x.error_output();
        usleep(static_cast<useconds_t>(run) * 1700);
        const pid_t pid = x.pid();
        x.kill_server();
        ASSERT_EQ(x.wait(2.0), 1) << x.error_output();
        EXPECT_EQ(x.error_output(), "portalwalk: lost the connection to the display\n");
        EXPECT_FALSE(has_segment(pid)) << "a shared-memory segment left behind";
    }
}

// The X connection would take the free descriptor 2 and the message about
// the missing texture would go into it; the program then waited forever
// for an answer.
TEST(Exits, EndsWithStandardErrorClosed)
{
    XSession x;
    ASSERT_TRUE(x.ok()) << "no Xvfb";
    const std::string folder = make_run_folder("run");
    std::remove((folder + "/weirdo.pcx").c_str());
    const std::string command = "cd " + folder + " && DISPLAY=" + x.display() + " timeout 10 " +
                                PORTALWALK_BIN + " </dev/null >/dev/null 2>&-";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "124: it did not end";
}

// A display that is named but not there is named in the message.
TEST(Exits, NamesADisplayItCannotOpen)
{
    int number = 129;
    struct stat st;
    while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0 ||
           stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &st) == 0) {
        number++;
    }
    const std::string folder = make_run_folder("run");
    const std::string display = ":" + std::to_string(number);
    const Outcome r = run_program(folder, "DISPLAY=" + display);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "portalwalk: cannot open display \"" + display + "\"\n");
}

}  // namespace
