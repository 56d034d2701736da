// ending.cpp: the ways the program can be ended from outside (a signal, a
// lost display) and what start-up does so that each of them ends it
// cleanly: standard descriptors that are open, and no shared memory left
// behind.

#include "app.h"

#include <X11/Xlib.h>

#include <initializer_list>

#include <fcntl.h>
#include <signal.h>
#include <sys/shm.h>
#include <unistd.h>

// A descriptor opened now takes the lowest free number, so /dev/null is
// opened until one comes back above 2: any of 0, 1 and 2 that was closed
// is then open on it, and no message can land in the X connection that
// would otherwise take the free number.
void open_standard_descriptors()
{
    int fd;
    do {
        fd = open("/dev/null", O_RDWR);
    } while (fd >= 0 && fd <= 2);
    if (fd > 2) {
        close(fd);
    }
}

static_assert(std::atomic<bool>::is_always_lock_free, "the close flag is set from a signal handler");

static void on_signal(int)
{
    on_close();
}

// The library has installed handlers of its own that shut it down from
// inside the handler and abort; these replace them.  A write into a lost
// X connection must end the program through on_lost_display(), not
// silently through SIGPIPE.
void catch_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(s, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
}

static std::atomic<bool> display_lost{false};

// Xlib calls this from whichever thread found the connection gone, and
// ends the program if it returns.  The library's own shutdown would wait
// for a lock that the other thread may hold inside an X call, so the
// program ends here, at once.
static int on_lost_display(Display *)
{
    if (!display_lost.exchange(true)) {
        static const char line[] = "portalwalk: lost the connection to the display\n";
        if (write(STDERR_FILENO, line, sizeof line - 1) < 0) {
            // Nowhere else to say it.
        }
        _exit(1);
    }
    // The other thread is already ending the program.
    for (;;) {
        pause();
    }
}

void catch_lost_display()
{
    XSetIOErrorHandler(on_lost_display);
}

// The library keeps the window's picture in SysV shared memory, attached
// by the X server too, and removes the segment only in its own shutdown.
// Marked for removal now, once both sides are attached, a segment goes
// when the last of them lets go, however the program ends.
void release_shared_memory_at_exit()
{
    shm_info info;
    const int last = shmctl(0, SHM_INFO, reinterpret_cast<shmid_ds *>(&info));
    for (int i = 0; i <= last; i++) {
        shmid_ds ds;
        const int id = shmctl(i, SHM_STAT, &ds);
        if (id >= 0 && ds.shm_cpid == getpid()) {
            shmctl(id, IPC_RMID, nullptr);
        }
    }
}
