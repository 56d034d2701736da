// pcx.cpp: reads 8-bit run-length PCX files, checking every byte's place.
//
// The graphics library has a PCX loader, but it trusts the file: it takes
// width x height in an int that wraps, allocates whatever the header
// claims, reads a FIFO until it blocks for good, and leaves pixels unset
// when the data ends early or the bytes per line are too few.  A texture
// file is the user's, so it is read here instead, by a decoder that knows
// where each byte must be: the header at the start, the palette at the
// end, and between them run-length data that makes exactly the image's
// rows.  The file is opened without blocking and read front to back once.

#include "pcx.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

static const int HEADER_BYTES = 128;
static const int PALETTE_MARKER = 12;

static bool refuse(char *reason, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, size, format, args);
    va_end(args);
    return false;
}

// A missing file's reason names the folder it was looked for in, made
// absolute: "weirdo.pcx" started in /home/me is looked for in /home/me.
static bool refuse_missing(const char *path, char *reason, size_t size)
{
    char dir[PATH_MAX];
    folder_of(path, dir, sizeof dir);
    char resolved[PATH_MAX];
    if (realpath(dir, resolved) != nullptr) {
        return refuse(reason, size, "no such file in %s", resolved);
    }
    // The folder is missing too: name it as the user would have to make it.
    char cwd[PATH_MAX];
    if (dir[0] != '/' && getcwd(cwd, sizeof cwd) != nullptr) {
        return refuse(reason, size, "no such file in %s/%s", cwd, dir);
    }
    return refuse(reason, size, "no such file in %s", dir);
}

// Reads `count` bytes at `offset`; false when the file ends first or
// cannot be read, with the reason.
static bool read_exactly(int fd, long offset, unsigned char *buffer, size_t count, char *reason,
                         size_t size)
{
    const long got = read_at(fd, offset, buffer, count);
    if (got < 0) {
        return refuse(reason, size, "cannot read it: %s", std::strerror(errno));
    }
    if (static_cast<size_t>(got) < count) {
        return refuse(reason, size, "the file got shorter while it was read");
    }
    return true;
}

static int le16(const unsigned char *p)
{
    return p[0] | p[1] << 8;
}

void close_pcx(PcxFile *file)
{
    if (file->fd >= 0) {
        close(file->fd);
    }
    file->fd = -1;
}

bool open_pcx(const char *path, PcxFile *file, char *reason, size_t size)
{
    std::memset(file, 0, sizeof *file);
    file->fd = -1;

    struct stat st;
    int error;
    file->fd = open_regular_file(path, &st, &error);
    if (file->fd < 0) {
        if (error == ENOENT) {
            return refuse_missing(path, reason, size);
        }
        if (error != 0) {
            return refuse(reason, size, "%s", open_failure(error));
        }
        return refuse(reason, size, "%s, not a regular file", file_kind(st.st_mode));
    }
    const long length = static_cast<long>(st.st_size);

    unsigned char header[HEADER_BYTES];
    if (length < HEADER_BYTES) {
        return refuse(reason, size, "not a PCX image");
    }
    if (!read_exactly(file->fd, 0, header, sizeof header, reason, size)) {
        return false;
    }
    if (header[0] != 10 || header[2] > 1) {
        return refuse(reason, size, "not a PCX image");
    }
    if (header[2] == 0) {
        return refuse(reason, size, "an uncompressed PCX, a run-length one is needed");
    }
    const int bits = header[3];
    const int planes = header[65];
    if (bits * planes != 8) {
        return refuse(reason, size, "a %d-bit image, an 8-bit one is needed", bits * planes);
    }
    if (planes != 1) {
        return refuse(reason, size, "%d planes of %d bit%s, one plane of 8 bits is needed", planes,
                      bits, bits == 1 ? "" : "s");
    }
    const int w = le16(header + 8) - le16(header + 4) + 1;
    const int h = le16(header + 10) - le16(header + 6) + 1;
    if (w < PCX_MIN_SIZE || h < PCX_MIN_SIZE) {
        return refuse(reason, size, "%d x %d pixels, at least %d x %d are needed", w, h,
                      PCX_MIN_SIZE, PCX_MIN_SIZE);
    }
    if (w > PCX_MAX_SIZE || h > PCX_MAX_SIZE) {
        return refuse(reason, size, "%d x %d pixels, at most %d x %d are allowed", w, h,
                      PCX_MAX_SIZE, PCX_MAX_SIZE);
    }
    const int bytes_per_line = le16(header + 66);
    if (bytes_per_line % 2 != 0 || bytes_per_line < w) {
        return refuse(reason, size, "%d byte%s per line, an even number of at least %d is needed",
                      bytes_per_line, bytes_per_line == 1 ? "" : "s", w + w % 2);
    }

    // The palette closes the file: a marker byte and 768 bytes.
    const long palette_start = length - 1 - PCX_PALETTE_BYTES;
    unsigned char marker = 0;
    if (palette_start < HEADER_BYTES) {
        return refuse(reason, size, "the file is truncated or damaged (no palette)");
    }
    if (!read_exactly(file->fd, palette_start, &marker, 1, reason, size)) {
        return false;
    }
    if (marker != PALETTE_MARKER) {
        return refuse(reason, size, "the file is truncated or damaged (no palette)");
    }
    if (!read_exactly(file->fd, palette_start + 1, file->image.palette, PCX_PALETTE_BYTES, reason,
                 size)) {
        return false;
    }

    file->data_start = HEADER_BYTES;
    file->data_end = palette_start;
    file->bytes_per_line = bytes_per_line;
    file->image.width = w;
    file->image.height = h;
    return true;
}

// The image data, read in pieces from the front.
struct Input {
    int fd;
    long next;  // file offset of buf[0] + have
    long end;
    unsigned char buf[16384];
    size_t have;
    size_t at;
};

// The next byte of image data in *byte; false at the end of the data or on
// a read error, with the reason.
static bool next_byte(Input *in, unsigned char *byte, char *reason, size_t size)
{
    if (in->at == in->have) {
        if (in->next == in->end) {
            return refuse(reason, size, "the image data ends early");
        }
        const long left = in->end - in->next;
        const size_t count = left < static_cast<long>(sizeof in->buf) ? static_cast<size_t>(left)
                                                                       : sizeof in->buf;
        if (!read_exactly(in->fd, in->next, in->buf, count, reason, size)) {
            return false;
        }
        in->next += static_cast<long>(count);
        in->have = count;
        in->at = 0;
    }
    *byte = in->buf[in->at++];
    return true;
}

// A byte of 192 or more is a run of its low six bits' count of the byte
// that follows; any other byte stands for itself.  Runs may cross from one
// row into the next; the padding past the width is dropped.
static bool decode_rows(Input *in, int w, long bytes_per_line, long total, unsigned char *pixels,
                        char *reason, size_t size)
{
    long done = 0;
    while (done < total) {
        unsigned char byte;
        if (!next_byte(in, &byte, reason, size)) {
            return false;
        }
        long count = 1;
        if (byte >= 0xC0) {
            count = byte & 0x3F;
            if (!next_byte(in, &byte, reason, size)) {
                return false;
            }
        }
        if (done + count > total) {
            return refuse(reason, size, "a run goes past the last row");
        }
        while (count > 0) {
            const long row = done / bytes_per_line;
            const long column = done % bytes_per_line;
            const long n = count < bytes_per_line - column ? count : bytes_per_line - column;
            if (column < w) {
                const long shown = column + n <= w ? n : w - column;
                std::memset(pixels + row * w + column, byte, static_cast<size_t>(shown));
            }
            done += n;
            count -= n;
        }
    }
    return true;
}

bool decode_pcx(PcxFile *file, unsigned char *pixels, char *reason, size_t size)
{
    Input in;
    in.fd = file->fd;
    in.next = file->data_start;
    in.end = file->data_end;
    in.have = 0;
    in.at = 0;
    const long total = static_cast<long>(file->bytes_per_line) * file->image.height;
    if (!decode_rows(&in, file->image.width, file->bytes_per_line, total, pixels, reason, size)) {
        return false;
    }
    const long stray = in.end - in.next + static_cast<long>(in.have - in.at);
    if (stray != 0) {
        return refuse(reason, size, "%ld stray byte%s between the image data and the palette",
                      stray, stray == 1 ? "" : "s");
    }
    return true;
}

void free_pcx(PcxImage *image)
{
    std::free(image->pixels);
    image->pixels = nullptr;
}

bool read_pcx(const char *path, PcxImage *image, char *reason, size_t size)
{
    std::memset(image, 0, sizeof *image);
    PcxFile file;
    bool ok = open_pcx(path, &file, reason, size);
    unsigned char *pixels = nullptr;
    if (ok) {
        const size_t count = static_cast<size_t>(file.image.width) * file.image.height;
        pixels = static_cast<unsigned char *>(std::malloc(count));
        ok = pixels != nullptr ? decode_pcx(&file, pixels, reason, size)
                               : refuse(reason, size, "out of memory");
    }
    close_pcx(&file);
    if (!ok) {
        std::free(pixels);
        return false;
    }
    *image = file.image;
    image->pixels = pixels;
    return true;
}
