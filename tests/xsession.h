// xsession.h: running the real program in a virtual X server for tests.
//
// An XSession starts its own Xvfb on a free display, runs the program in a
// folder of the test's choosing, sends it keys through xdotool and close
// requests as a window manager would, and reads the window back with xwd.

#ifndef PORTALWALK_XSESSION_H
#define PORTALWALK_XSESSION_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// A picture read back from the screen, as 8-bit RGB triples.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    uint32_t at(int x, int y) const
    {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return (uint32_t{rgb[i]} << 16) | (uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
    }
};

// A folder of its own for one test, holding copies of the textures.
std::string make_run_folder(const std::string &name);
void copy_file(const std::string &from, const std::string &to);

// A file's whole text.
std::string read_file(const std::string &path);

// How a run of the program outside a virtual X server ended: its exit
// status (-1 when a signal ended it), standard output and standard error.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the program in `folder` with no standard input, `environment` put
// before it ("env -u DISPLAY", "DISPLAY=:129") and `arguments` after it.
Outcome run_program(const std::string &folder, const std::string &environment,
                    const std::string &arguments = "");

class XSession {
public:
    XSession();
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    bool ok() const { return server_ > 0 && display_ >= 0; }
    std::string display() const { return ":" + std::to_string(display_); }

    // Starts the program in `folder`; its stderr goes to a file read by
    // error_output().  `wrapper` runs before it (e.g. valgrind), if set;
    // `arguments` are given to it.
    bool start(const std::string &folder, const std::vector<std::string> &wrapper = {},
               const std::vector<std::string> &arguments = {});
    // Waits for the program's window to appear; 0 when it did not.
    unsigned long window(double seconds = 10.0);
    // Waits for the program to end; its exit status, or -1 on timeout (the
    // program is then killed), or 128 + signal when a signal ended it.
    int wait(double seconds);
    bool running();
    pid_t pid() const { return program_; }
    // Sends the program a signal.
    bool signal(int sig);
    // Ends the X server at once, as a crash of it would.
    void kill_server();
    // Whether the program ends within the time given; it is left running.
    bool ends_within(double seconds);
    std::string error_output() const;

    // Keys by their X names ("Escape", "Left", "shift+Up"): a press held
    // for a moment, or a key held down or let go.
    bool key(const std::string &k);
    bool key_down(const std::string &k);
    bool key_up(const std::string &k);
    // A WM_DELETE_WINDOW client message, as a window manager sends it.
    bool request_close();
    bool screenshot(Picture *out);

private:
    bool xdotool(const std::string &args);

    pid_t server_ = -1;
    int display_ = -1;
    pid_t program_ = -1;
    int input_ = -1;
    unsigned long window_ = 0;
    unsigned long named_ = 0;
    std::string stderr_file_;
};

#endif
