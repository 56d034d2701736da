// draw_map: draws a top-down map of the built-in level from the level's own
// records: solid walls, portals, sector names and the start point.
//
// Usage: draw_map <output.bmp>

#include <allegro.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "world.h"

namespace {

const int SCALE = 11;   // pixels per map unit
const int MARGIN = 40;
const int MIN_X = -11;  // the level's extent in map units
const int MAX_X = 30;
const int MIN_Y = -50;
const int MAX_Y = 23;

double unit(fixed v)
{
    return v / 65536.0;
}

// Drawn as the level is walked: facing up the page is heading 0 (+y), and
// turning left turns toward +x, so +x runs to the left.
int px(double x)
{
    return MARGIN + static_cast<int>(std::lround((MAX_X - x) * SCALE));
}

int py(double y)
{
    return MARGIN + static_cast<int>(std::lround((MAX_Y - y) * SCALE));
}

void thick_line(BITMAP *b, int x0, int y0, int x1, int y1, int colour)
{
    for (int dx = -1; dx <= 1; dx++) {
        for (int dy = -1; dy <= 1; dy++) {
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
        thick_line(b, px(x0 + (x1 - x0) * a), py(y0 + (y1 - y0) * a), px(x0 + (x1 - x0) * z),
                   py(y0 + (y1 - y0) * z), colour);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_map <output.bmp>\n");
        return 2;
    }
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "draw_map: cannot initialise the graphics library\n");
        return 1;
    }
    set_color_depth(24);
    const int w = (MAX_X - MIN_X) * SCALE + 2 * MARGIN;
    const int h = (MAX_Y - MIN_Y) * SCALE + 2 * MARGIN;
    BITMAP *map = create_bitmap_ex(24, w, h);
    if (map == nullptr) {
        std::fprintf(stderr, "draw_map: cannot create a %d x %d bitmap\n", w, h);
        return 1;
    }
    const int paper = makecol24(250, 248, 240);
    const int grid = makecol24(225, 222, 212);
    const int solid = makecol24(150, 60, 40);
    const int weird = makecol24(120, 40, 160);
    const int portal = makecol24(40, 120, 200);
    const int ink = makecol24(30, 30, 30);
    const int start = makecol24(20, 150, 60);
    clear_to_color(map, paper);
    for (int x = MIN_X; x <= MAX_X; x++) {
        vline(map, px(x), py(MAX_Y), py(MIN_Y), grid);
    }
    for (int y = MIN_Y; y <= MAX_Y; y++) {
        hline(map, px(MAX_X), py(y), px(MIN_X), grid);
    }

    BITMAP *brick = nullptr;
    BITMAP *brickd = nullptr;
    BITMAP *weirdo = nullptr;
    build_level(&brick, &brickd, &weirdo);

    for (int s = 0; s < LEVEL_SECTORS; s++) {
        const Sector &sector = level_sectors[s];
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
                thick_line(map, px(x0), py(y0), px(x1), py(y1),
                           wall.texture == &weirdo ? weird : solid);
            }
        }
        cx /= sector.count;
        cy /= sector.count;
        textprintf_centre_ex(map, font, px(cx), py(cy) - 4, ink, -1, "S%d", s + 1);
    }

    // The start point, facing +y (heading 0).
    circlefill(map, px(0), py(0), 4, start);
    thick_line(map, px(0), py(0), px(0), py(1.5), start);
    textout_right_ex(map, font, "start", px(0) - 8, py(0) - 4, start, -1);

    textout_ex(map, font, "solid wall", MARGIN, h - 28, solid, -1);
    textout_ex(map, font, "far room wall", MARGIN + 110, h - 28, weird, -1);
    textout_ex(map, font, "portal", MARGIN + 240, h - 28, portal, -1);
    textout_ex(map, font, "1 square = 1 map unit", MARGIN, h - 16, ink, -1);

    const bool ok = save_bmp(argv[1], map, nullptr) == 0;
    destroy_bitmap(map);
    if (!ok) {
        std::fprintf(stderr, "draw_map: cannot write \"%s\"\n", argv[1]);
        return 1;
    }
    return 0;
}
END_OF_MAIN()
