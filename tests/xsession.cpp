// xsession.cpp: a virtual X server, the program in it, keys, close
// requests and screenshots.

#include "xsession.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string run_output(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

uint32_t be32(const std::string &data, size_t at)
{
    return (uint32_t{static_cast<uint8_t>(data[at])} << 24) |
           (uint32_t{static_cast<uint8_t>(data[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(data[at + 2])} << 8) |
           uint32_t{static_cast<uint8_t>(data[at + 3])};
}

int mask_shift(uint32_t mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        shift++;
    }
    return shift;
}

}  // namespace

std::string make_run_folder(const std::string &name)
{
    char pattern[] = "/tmp/portalwalk-test-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (dir == nullptr) {
        return "";
    }
    const std::string folder = std::string(dir) + "/" + name;
    // Open to other users, so that a test may run the program as one.
    if (chmod(dir, 0755) != 0 || mkdir(folder.c_str(), 0755) != 0) {
        return "";
    }
    for (const char *t : {"brick.pcx", "brickd.pcx", "weirdo.pcx"}) {
        copy_file(std::string(TEXTURE_DIR) + "/" + t, folder + "/" + t);
    }
    return folder;
}

void copy_file(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

XSession::XSession()
{
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    server_ = fork();
    if (server_ == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
               "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (server_ < 0) {
        close(fds[0]);
        return;
    }
    // Xvfb writes the display number it chose once it accepts clients.
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(fds[0]);
    if (!number.empty()) {
        display_ = std::atoi(number.c_str());
    }
}

XSession::~XSession()
{
    if (program_ > 0) {
        kill(program_, SIGKILL);
        waitpid(program_, nullptr, 0);
    }
    if (input_ >= 0) {
        close(input_);
    }
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

bool XSession::start(const std::string &folder, const std::vector<std::string> &wrapper,
                     const std::vector<std::string> &arguments)
{
    stderr_file_ = folder + "/stderr.txt";
    // Standard input is a pipe that stays open and silent, as a terminal
    // nobody types into: under valgrind, a /dev/null that is always
    // readable keeps the library's input thread spinning.
    int input[2];
    if (pipe(input) != 0) {
        return false;
    }
    program_ = fork();
    if (program_ == 0) {
        dup2(input[0], 0);
        close(input[0]);
        close(input[1]);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        setenv("DISPLAY", display().c_str(), 1);
        const int err = open(stderr_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(err, 2);
        std::vector<std::string> args = wrapper;
        args.push_back(PORTALWALK_BIN);
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &a : args) {
            argv.push_back(&a[0]);
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(input[0]);
    input_ = input[1];
    window_ = 0;
    return program_ > 0;
}

// The library makes a top-level window that carries the program's name and
// takes close requests, and draws into an 800 x 600 window of its own (a
// child of a screen-sized one when it runs full screen).  Keys and
// screenshots go to the drawing window.
static void find_windows(Display *dpy, Window w, Window *named, Window *canvas)
{
    char *name = nullptr;
    if (XFetchName(dpy, w, &name) != 0 && name != nullptr) {
        if (std::string(name) == "portalwalk") {
            *named = w;
        }
        XFree(name);
    }
    XWindowAttributes a;
    if (XGetWindowAttributes(dpy, w, &a) != 0 && a.map_state == IsViewable && a.width == 800 &&
        a.height == 600) {
        *canvas = w;
    }
    Window root;
    Window parent;
    Window *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n) != 0) {
        for (unsigned int i = 0; i < n; i++) {
            find_windows(dpy, children[i], named, canvas);
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
}

unsigned long XSession::window(double seconds)
{
    const auto begun = std::chrono::steady_clock::now();
    while (window_ == 0 && seconds_since(begun) < seconds && running()) {
        Display *dpy = XOpenDisplay(display().c_str());
        if (dpy != nullptr) {
            Window named = 0;
            Window canvas = 0;
            find_windows(dpy, DefaultRootWindow(dpy), &named, &canvas);
            XCloseDisplay(dpy);
            if (named != 0 && canvas != 0) {
                named_ = named;
                window_ = canvas;
                // Give the first frames time to reach the window.
                pause_ms(300);
                break;
            }
        }
        pause_ms(50);
    }
    return window_;
}

bool XSession::running()
{
    if (program_ <= 0) {
        return false;
    }
    // Looks without reaping, so that wait() still gets the status.
    siginfo_t info = {};
    if (waitid(P_PID, static_cast<id_t>(program_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
    }
    return info.si_pid == 0;
}

int XSession::wait(double seconds)
{
    const auto begun = std::chrono::steady_clock::now();
    while (program_ > 0) {
        int status = 0;
        const pid_t r = waitpid(program_, &status, WNOHANG);
        if (r == program_) {
            program_ = -1;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return 128 + WTERMSIG(status);
        }
        if (seconds_since(begun) >= seconds) {
            kill(program_, SIGKILL);
            waitpid(program_, nullptr, 0);
            program_ = -1;
            return -1;
        }
        pause_ms(20);
    }
    return -1;
}

bool XSession::signal(int sig)
{
    return program_ > 0 && kill(program_, sig) == 0;
}

void XSession::kill_server()
{
    if (server_ > 0) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
        server_ = -1;
    }
}

bool XSession::ends_within(double seconds)
{
    const auto begun = std::chrono::steady_clock::now();
    while (running()) {
        if (seconds_since(begun) >= seconds) {
            return false;
        }
        pause_ms(20);
    }
    return true;
}

std::string XSession::error_output() const
{
    return read_file(stderr_file_);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Outcome run_program(const std::string &folder, const std::string &environment, const std::string &arguments)
{
    const std::string command = "cd " + folder + " && " + environment + " " + PORTALWALK_BIN + " " + arguments +
                                " </dev/null >" + folder + "/out.txt 2>" + folder + "/err.txt";
    const int status = std::system(command.c_str());
    Outcome r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_file(folder + "/out.txt");
    r.err = read_file(folder + "/err.txt");
    return r;
}

bool XSession::xdotool(const std::string &args)
{
    if (window() == 0) {
        return false;
    }
    const std::string command = "DISPLAY=" + display() + " xdotool windowfocus --sync " +
                                std::to_string(window_) + " " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// The program reads the key state once a frame, so a press and release
// that both fall between two reads would go unseen: hold the key a while.
bool XSession::key(const std::string &k)
{
    return xdotool("keydown " + k + " sleep 0.3 keyup " + k);
}

bool XSession::key_down(const std::string &k)
{
    return xdotool("keydown " + k);
}

bool XSession::key_up(const std::string &k)
{
    return xdotool("keyup " + k);
}

bool XSession::request_close()
{
    if (window() == 0) {
        return false;
    }
    Display *dpy = XOpenDisplay(display().c_str());
    if (dpy == nullptr) {
        return false;
    }
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = named_;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(dpy, named_, False, NoEventMask, &ev);
    XFlush(dpy);
    XCloseDisplay(dpy);
    return sent != 0;
}

bool XSession::screenshot(Picture *out)
{
    if (window() == 0) {
        return false;
    }
    const std::string data = run_output("DISPLAY=" + display() + " xwd -silent -id " +
                                        std::to_string(window_) + " 2>/dev/null");
    if (data.size() < 100) {
        return false;
    }
    // The XWD header: 25 big-endian 32-bit fields, then the window name,
    // then the colour map, then the pixels.
    const uint32_t header_size = be32(data, 0);
    const int width = static_cast<int>(be32(data, 16));
    const int height = static_cast<int>(be32(data, 20));
    const uint32_t byte_order = be32(data, 28);
    const uint32_t bits_per_pixel = be32(data, 44);
    const uint32_t bytes_per_line = be32(data, 48);
    const uint32_t masks[3] = {be32(data, 56), be32(data, 60), be32(data, 64)};
    const uint32_t ncolors = be32(data, 76);
    const size_t pixels = header_size + ncolors * 12;
    if (bits_per_pixel != 32 || data.size() < pixels + static_cast<size_t>(bytes_per_line) * height) {
        return false;
    }
    out->width = width;
    out->height = height;
    out->rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const size_t at = pixels + static_cast<size_t>(y) * bytes_per_line + x * 4u;
            uint32_t v = 0;
            for (int b = 0; b < 4; b++) {
                const uint32_t byte = static_cast<uint8_t>(data[at + b]);
                v |= byte_order == 0 ? byte << (8 * b) : byte << (8 * (3 - b));
            }
            for (int c = 0; c < 3; c++) {
                out->rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
                    static_cast<uint8_t>((v & masks[c]) >> mask_shift(masks[c]));
            }
        }
    }
    return true;
}
