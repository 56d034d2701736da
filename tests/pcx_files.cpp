// pcx_files.cpp: writes test PCX files byte by byte, so that a test can
// spoil exactly the part it means to.

#include "pcx_files.h"

#include <fstream>
#include <iterator>

unsigned char test_pixel(int x, int y)
{
    return static_cast<unsigned char>(y % 8 == 0 ? 0 : (x / 3) * 37 + y * 11);
}

std::vector<unsigned char> test_palette()
{
    std::vector<unsigned char> pal(768);
    for (int i = 0; i < 768; i++) {
        pal[i] = static_cast<unsigned char>(i * 7 + i / 3);
    }
    return pal;
}

static void put16(std::string *s, size_t at, int value)
{
    (*s)[at] = static_cast<char>(value & 0xFF);
    (*s)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

static int line_bytes(const PcxPlan &plan)
{
    return plan.bytes_per_line >= 0 ? plan.bytes_per_line : plan.width + plan.width % 2;
}

std::string pcx_header(const PcxPlan &plan)
{
    std::string h(128, '\0');
    h[0] = 10;
    h[1] = 5;
    h[2] = static_cast<char>(plan.encoding);
    h[3] = static_cast<char>(plan.bits);
    put16(&h, 4, 0);
    put16(&h, 6, 0);
    put16(&h, 8, plan.width - 1);
    put16(&h, 10, plan.height - 1);
    h[65] = static_cast<char>(plan.planes);
    put16(&h, 66, line_bytes(plan));
    put16(&h, 68, 1);
    return h;
}

// Runs of up to 63 equal bytes; a single byte below 192 stands alone.
static void encode(const std::vector<unsigned char> &bytes, std::string *out)
{
    for (size_t x = 0; x < bytes.size();) {
        size_t n = 1;
        while (x + n < bytes.size() && bytes[x + n] == bytes[x] && n < 63) {
            n++;
        }
        if (n > 1 || bytes[x] >= 0xC0) {
            *out += static_cast<char>(0xC0 | n);
        }
        *out += static_cast<char>(bytes[x]);
        x += n;
    }
}

std::string pcx_data(const PcxPlan &plan)
{
    const int bpl = line_bytes(plan);
    std::string out;
    std::vector<unsigned char> rows;
    for (int y = 0; y < plan.height; y++) {
        for (int x = 0; x < bpl; x++) {
            if (x >= plan.width) {
                rows.push_back(0);
            } else if (plan.pixels.empty()) {
                rows.push_back(test_pixel(x, y));
            } else {
                rows.push_back(plan.pixels[static_cast<size_t>(y) * plan.width + x]);
            }
        }
        if (plan.encoding == 0) {
            out.append(rows.begin(), rows.end());
            rows.clear();
        } else if (!plan.runs_across_rows) {
            encode(rows, &out);
            rows.clear();
        }
    }
    encode(rows, &out);
    return out;
}

std::string pcx_palette(const PcxPlan &plan)
{
    const std::vector<unsigned char> pal = plan.palette.empty() ? test_palette() : plan.palette;
    return std::string(1, '\x0c') + std::string(pal.begin(), pal.end());
}

std::string pcx_file(const PcxPlan &plan)
{
    return pcx_header(plan) + pcx_data(plan) + pcx_palette(plan);
}

std::string read_whole_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_whole_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
