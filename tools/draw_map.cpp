// draw_map: draws a top-down map of a level from its own records: walls in
// their texture's colour, portals dashed, sector numbers and the start
// point, written as a PNG.
//
// Usage: draw_map [level.toml] <output.png>
//
// Without a level file it draws the built-in level.

#include <allegro.h>

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "level.h"
#include "world.h"

namespace {

const int MARGIN = 40;
const int LEGEND = 44;  // pixels below the map for the legend

// What is drawn: the sectors, the texture files in slot order, the start.
struct Map {
    Sector *sectors;
    int sector_count;
    const char *texture_files[LEVEL_MAX_TEXTURES];
    int texture_count;
    fixed start_x;
    fixed start_y;
    int start_angle;
};

BITMAP *slots[LEVEL_MAX_TEXTURES];

int scale;   // pixels per map unit
double max_x;
double max_y;

double unit(fixed v)
{
    return v / 65536.0;
}

// Drawn as the level is walked: facing up the page is heading 0 (+y), and
// turning left turns toward +x, so +x runs to the left.
int px(double x)
{
    return MARGIN + static_cast<int>(std::lround((max_x - x) * scale));
}

int py(double y)
{
    return MARGIN + static_cast<int>(std::lround((max_y - y) * scale));
}

// Lines three pixels wide where the map is large enough for them.
void wide_line(BITMAP *b, int x0, int y0, int x1, int y1, int colour)
{
    const int r = scale >= 6 ? 1 : 0;
    for (int dx = -r; dx <= r; dx++) {
        for (int dy = -r; dy <= r; dy++) {
            line(b, x0 + dx, y0 + dy, x1 + dx, y1 + dy, colour);
        }
    }
}

void dashed_line(BITMAP *b, double x0, double y0, double x1, double y1, int colour)
{
    const int steps = 12;
    for (int i = 0; i < steps; i += 2) {
        const double a = static_cast<double>(i) / steps;
        const double z = static_cast<double>(i + 1) / steps;
        wide_line(b, px(x0 + (x1 - x0) * a), py(y0 + (y1 - y0) * a), px(x0 + (x1 - x0) * z),
                  py(y0 + (y1 - y0) * z), colour);
    }
}

// The colour of walls of texture slot i.
int texture_colour(int i)
{
    static const int rgb[][3] = {{150, 60, 40}, {95, 70, 45}, {120, 40, 160},
                                 {40, 140, 90}, {200, 120, 20}, {70, 70, 70}};
    const int *c = rgb[i % 6];
    return makecol24(c[0], c[1], c[2]);
}

bool write_png(const char *path, BITMAP *b)
{
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr) {
        return false;
    }
    std::vector<png_byte> row(static_cast<size_t>(b->w) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(b->w), static_cast<png_uint_32>(b->h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < b->h; y++) {
        for (int x = 0; x < b->w; x++) {
            const int c = getpixel(b, x, y);
            row[static_cast<size_t>(x) * 3] = static_cast<png_byte>(getr24(c));
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<png_byte>(getg24(c));
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<png_byte>(getb24(c));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

void draw(BITMAP *map, const Map &m, double min_x, double min_y, int grid_step)
{
    const int paper = makecol24(250, 248, 240);
    const int grid = makecol24(225, 222, 212);
    const int portal = makecol24(40, 120, 200);
    const int ink = makecol24(30, 30, 30);
    const int start = makecol24(20, 150, 60);
    clear_to_color(map, paper);
    if (grid_step > 0) {
        for (int x = static_cast<int>(std::ceil(min_x / grid_step)) * grid_step; x <= max_x; x += grid_step) {
            vline(map, px(x), py(max_y), py(min_y), grid);
        }
        for (int y = static_cast<int>(std::ceil(min_y / grid_step)) * grid_step; y <= max_y; y += grid_step) {
            hline(map, px(max_x), py(y), px(min_x), grid);
        }
    }

    for (int s = 0; s < m.sector_count; s++) {
        const Sector &sector = m.sectors[s];
        double cx = 0;
        double cy = 0;
        for (int i = 0; i < sector.count; i++) {
            const Wall &wall = sector.walls[i];
            const double x0 = unit(wall.x);
            const double y0 = unit(wall.y);
            const double x1 = x0 + unit(wall.length) * unit(wall.ux);
            const double y1 = y0 + unit(wall.length) * unit(wall.uy);
            cx += x0;
            cy += y0;
            if (wall.is_portal != 0) {
                dashed_line(map, x0, y0, x1, y1, portal);
            } else {
                wide_line(map, px(x0), py(y0), px(x1), py(y1), texture_colour(static_cast<int>(wall.texture - slots)));
            }
        }
        if (scale >= 8) {
            cx /= sector.count;
            cy /= sector.count;
            // Above the start point rather than on it.
            int y = py(cy) - 4;
            if (std::abs(px(cx) - px(unit(m.start_x))) < 24 && std::abs(py(cy) - py(unit(m.start_y))) < 12) {
                y = py(unit(m.start_y)) - 20;
            }
            textprintf_centre_ex(map, font, px(cx), y, ink, -1, "S%d", s + 1);
        }
    }

    // The start point and its heading: (sin, cos) of the angle.
    const double sx = unit(m.start_x);
    const double sy = unit(m.start_y);
    const double a = m.start_angle * 2 * 3.141592653589793 / ANGLE_STEPS;
    const double arrow = std::max(1.5, 12.0 / scale);
    circlefill(map, px(sx), py(sy), 4, start);
    wide_line(map, px(sx), py(sy), px(sx + arrow * std::sin(a)), py(sy + arrow * std::cos(a)), start);
    textout_centre_ex(map, font, "start", px(sx), py(sy) + 8, start, -1);

    // The legend: each texture's walls, portals, the grid.
    int x = MARGIN;
    const int y = map->h - LEGEND + 8;
    for (int i = 0; i < m.texture_count; i++) {
        textout_ex(map, font, m.texture_files[i], x, y, texture_colour(i), -1);
        x += text_length(font, m.texture_files[i]) + 24;
    }
    textout_ex(map, font, "portal", x, y, portal, -1);
    if (grid_step > 0) {
        textprintf_ex(map, font, MARGIN, y + 14, ink, -1, "1 square = %d map unit%s", grid_step,
                      grid_step == 1 ? "" : "s");
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: draw_map [level.toml] <output.png>\n");
        return 2;
    }
    const char *output = argv[argc - 1];
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "draw_map: cannot initialise the graphics library\n");
        return 1;
    }

    Map m = {};
    Level level = {};
    if (argc == 3) {
        char error[512];
        if (!load_level(argv[1], slots, &level, error, sizeof error)) {
            std::fprintf(stderr, "draw_map: %s\n", error);
            return 1;
        }
        m.sectors = level.sectors;
        m.sector_count = level.sector_count;
        m.texture_count = level.texture_count;
        for (int i = 0; i < level.texture_count; i++) {
            m.texture_files[i] = level.texture_files[i];
        }
        m.start_x = level.start_x;
        m.start_y = level.start_y;
        m.start_angle = level.start_angle;
    } else {
        build_level(&slots[0], &slots[1], &slots[2]);
        m.sectors = level_sectors;
        m.sector_count = LEVEL_SECTORS;
        m.texture_count = 3;
        m.texture_files[0] = "brick.pcx";
        m.texture_files[1] = "brickd.pcx";
        m.texture_files[2] = "weirdo.pcx";
    }

    // The extent: every corner is the start of a wall.
    double min_x = 1e9;
    double min_y = 1e9;
    max_x = -1e9;
    max_y = -1e9;
    for (int s = 0; s < m.sector_count; s++) {
        for (int i = 0; i < m.sectors[s].count; i++) {
            const Wall &w = m.sectors[s].walls[i];
            min_x = std::min(min_x, std::floor(unit(w.x)));
            max_x = std::max(max_x, std::ceil(unit(w.x)));
            min_y = std::min(min_y, std::floor(unit(w.y)));
            max_y = std::max(max_y, std::ceil(unit(w.y)));
        }
    }
    const double extent = std::max(max_x - min_x, max_y - min_y);
    scale = std::max(1, std::min(20, static_cast<int>(900 / std::max(extent, 1.0))));
    const int grid_step = scale >= 6 ? 1 : scale * 10 >= 6 ? 10 : 0;

    set_color_depth(24);
    const int w = static_cast<int>((max_x - min_x) * scale) + 2 * MARGIN;
    const int h = static_cast<int>((max_y - min_y) * scale) + 2 * MARGIN + LEGEND;
    BITMAP *map = create_bitmap_ex(24, w, h);
    if (map == nullptr) {
        std::fprintf(stderr, "draw_map: cannot create a %d x %d bitmap\n", w, h);
        free_level(&level);
        return 1;
    }
    draw(map, m, min_x, min_y, grid_step);
    const bool ok = write_png(output, map);
    destroy_bitmap(map);
    free_level(&level);
    if (!ok) {
        std::fprintf(stderr, "draw_map: cannot write \"%s\"\n", output);
        return 1;
    }
    return 0;
}
END_OF_MAIN()
