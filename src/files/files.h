// files.h: opening the user's files to read them, for the texture and
// level readers.  Only a regular file is opened, and without blocking, so
// that a FIFO or a device named in its place can neither hang the start
// nor be read for ever.

#ifndef PORTALWALK_FILES_H
#define PORTALWALK_FILES_H

#include <cstddef>

#include <sys/stat.h>

// Opens the file at `path` to read it when it is a regular file, and
// returns its descriptor with *st filled.  Otherwise returns -1 and sets
// *error: the errno of the call that failed, or 0 when the file is not a
// regular one (st->st_mode then says what it is).
int open_regular_file(const char *path, struct stat *st, int *error);

// Why a file could not be opened, in plain words: "no such file",
// "permission denied", or the system's words for any other error.
const char *open_failure(int error);

// What a file that is not a regular one is: "a folder", "a FIFO",
// "a device", "a socket" or "something else".
const char *file_kind(mode_t mode);

// Reads up to `count` bytes at `offset`, going on after interruptions and
// short reads.  Returns the bytes read, fewer than `count` when the file
// ends first, or -1 with errno set.
long read_at(int fd, long offset, void *buffer, size_t count);

// The folder part of a path: "." for a bare name, "/" for a name at the
// root.
void folder_of(const char *path, char *folder, size_t size);

#endif
