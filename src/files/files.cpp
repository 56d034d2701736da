// files.cpp: opening and reading the user's files safely.

#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int open_regular_file(const char *path, struct stat *st, int *error)
{
    // Look before opening: opening a device may already do something.
    if (stat(path, st) != 0) {
        *error = errno;
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        *error = 0;
        return -1;
    }
    // Without blocking all the same, should the name have been swapped for
    // a FIFO in between; what was opened is looked at again.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (fstat(fd, st) != 0) {
        *error = errno;
        close(fd);
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        *error = 0;
        close(fd);
        return -1;
    }
    return fd;
}

const char *open_failure(int error)
{
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
        return "permission denied";
    default:
        return std::strerror(error);
    }
}

const char *file_kind(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "something else";
}

long read_at(int fd, long offset, void *buffer, size_t count)
{
    unsigned char *bytes = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fd, bytes + done, count - done, offset + static_cast<long>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

void folder_of(const char *path, char *folder, size_t size)
{
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(folder, size, ".");
    } else if (slash == path) {
        std::snprintf(folder, size, "/");
    } else {
        std::snprintf(folder, size, "%.*s", static_cast<int>(slash - path), path);
    }
}
