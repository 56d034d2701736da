// pcx_files.h: small PCX files that the tests make themselves, good or
// spoiled in one chosen way.

#ifndef PORTALWALK_PCX_FILES_H
#define PORTALWALK_PCX_FILES_H

#include <string>
#include <vector>

struct PcxPlan {
    int width = 64;
    int height = 64;
    int bytes_per_line = -1;  // -1: the width rounded up to even
    int bits = 8;
    int planes = 1;
    int encoding = 1;
    bool runs_across_rows = false;       // runs that go on past a row's end
    std::vector<unsigned char> pixels;   // width x height; empty: test_pixel()
    std::vector<unsigned char> palette;  // 768 bytes; empty: test_palette()
};

// The pattern of a test image: short runs, values of 192 and more that
// must be written as runs, and every eighth row all 0, as is the padding.
unsigned char test_pixel(int x, int y);
std::vector<unsigned char> test_palette();

// The parts of a file, and the whole of it.  The data is the rows padded
// with 0 to bytes_per_line, run-length encoded (or raw, for encoding 0).
std::string pcx_header(const PcxPlan &plan);
std::string pcx_data(const PcxPlan &plan);
std::string pcx_palette(const PcxPlan &plan);  // the marker byte and 768 bytes
std::string pcx_file(const PcxPlan &plan);

std::string read_whole_file(const std::string &path);
void write_whole_file(const std::string &path, const std::string &bytes);

#endif
