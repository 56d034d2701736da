// pcx.h: the texture reader.  It reads a PCX file whole and exactly, or
// refuses it with the reason, and hands back the decoded image.
//
// Accepted, and nothing else:
//   - a regular file (a folder, FIFO, device or socket is refused without
//     being read, and without blocking);
//   - the PCX marker 10, run-length encoding (1), one plane of 8 bits;
//   - width and height from 64 to 4096 pixels;
//   - bytes per line even and at least the width (the bytes past the width
//     are padding and are dropped);
//   - run-length data that decodes to exactly height x bytes-per-line
//     bytes: nothing missing, no run past the last row, nothing between
//     the data and the palette;
//   - the palette marker byte 12 and the 768-byte palette right after the
//     image data, at the very end of the file.
//
// A reason is one line in plain words, without the file's name, for the
// caller to put after it: "the image data ends early".  The reason for a
// missing file names the folder it was looked for in.  Each byte of the
// file is read at most once.

#ifndef PORTALWALK_PCX_H
#define PORTALWALK_PCX_H

#include <cstddef>

static const int PCX_MIN_SIZE = 64;
static const int PCX_MAX_SIZE = 4096;
static const int PCX_PALETTE_BYTES = 768;

// A decoded image: pixel (x, y) is pixels[y * width + x]; the palette is
// 256 entries of red, green and blue, 0 to 255 each, as in the file.
struct PcxImage {
    int width;
    int height;
    unsigned char *pixels;
    unsigned char palette[PCX_PALETTE_BYTES];
};

// A file being read: its header and palette checked, its image data not
// yet decoded.
struct PcxFile {
    int fd;
    long data_start;
    long data_end;  // where the palette marker is
    int bytes_per_line;
    PcxImage image;  // pixels not set
};

// Reads the file at `path` into `image`, whose pixels are allocated; free
// them with free_pcx().  On failure nothing is left allocated, `image` is
// emptied and `reason` (of `size` bytes) says why.
bool read_pcx(const char *path, PcxImage *image, char *reason, size_t size);
void free_pcx(PcxImage *image);

// The same in two steps, for a caller that brings its own pixels:
// open_pcx() checks everything but the image data and gives the size and
// palette in file->image; decode_pcx() decodes the data into `pixels`
// (width x height bytes), all of which it writes when it succeeds.  Close
// with close_pcx() whatever happened; it is safe on a file that did not
// open.
bool open_pcx(const char *path, PcxFile *file, char *reason, size_t size);
bool decode_pcx(PcxFile *file, unsigned char *pixels, char *reason, size_t size);
void close_pcx(PcxFile *file);

#endif
