// frame.cpp: the steps of one frame: background, keys, view, frame rate and
// overlay.  main.cpp strings them together and presents the result.

#include "app.h"

#include <allegro.h>

#include <cstdio>

#include "move.h"
#include "render.h"

std::atomic<bool> close_requested{false};
bool page_flipping;

BITMAP *brick_texture;
BITMAP *brickd_texture;
BITMAP *weirdo_texture;
BITMAP *texture_slots[LEVEL_MAX_TEXTURES];

int ceiling_color = CEILING_COLOR;
int floor_color = FLOOR_COLOR;

fixed viewer_x;
fixed viewer_y;
int viewer_angle;
Sector *viewer_sector;

int frame_count;
time_t last_second;
float frames_per_second;

void on_close()
{
    close_requested = true;
}

void reset_run_state(Sector *start, time_t now)
{
    viewer_x = 0;
    viewer_y = 0;
    viewer_angle = 0;
    viewer_sector = start;
    ceiling_color = CEILING_COLOR;
    floor_color = FLOOR_COLOR;
    frame_count = 0;
    frames_per_second = 0;
    last_second = now;
}

void start_level(const Level *level, time_t now)
{
    reset_run_state(level->start_sector, now);
    viewer_x = level->start_x;
    viewer_y = level->start_y;
    viewer_angle = level->start_angle;
    ceiling_color = level->ceiling_color;
    floor_color = level->floor_color;
}

bool frame_loop_done(const volatile char *keys)
{
    return keys[KEY_ESC] != 0 || close_requested;
}

void fill_background(BITMAP *target)
{
    rectfill(target, 0, 0, view_width, view_height / 2, ceiling_color);
    rectfill(target, 0, view_height / 2, view_width, view_height, floor_color);
}

// One step of the viewer through move_viewer, from the sector the last
// step ended in.
static void step(fixed dx, fixed dy)
{
    viewer_sector = move_viewer(viewer_sector, &viewer_x, &viewer_y, dx, dy);
}

// The cosine and sine of the heading as it stands now.
static fixed heading_cos()
{
    return cos_table[viewer_angle];
}

static fixed heading_sin()
{
    return cos_table[(2048 - viewer_angle) & ANGLE_MASK];
}

// Shifts come before negation: -(c >> 3), not (-c) >> 3.
void apply_keys(const volatile char *keys)
{
    const bool alt = keys[KEY_ALT] != 0 || keys[KEY_ALTGR] != 0;
    if (alt) {
        if (keys[KEY_RIGHT] != 0) {
            step(-(heading_cos() >> WALK_SHIFT), heading_sin() >> WALK_SHIFT);
        }
        if (keys[KEY_LEFT] != 0) {
            step(heading_cos() >> WALK_SHIFT, -(heading_sin() >> WALK_SHIFT));
        }
    } else {
        const int t = (keys[KEY_LSHIFT] != 0 || keys[KEY_RSHIFT] != 0) ? FAST_TURN_STEP : TURN_STEP;
        if (keys[KEY_LEFT] != 0) {
            viewer_angle = (viewer_angle + t) & ANGLE_MASK;
        }
        if (keys[KEY_RIGHT] != 0) {
            viewer_angle = (viewer_angle - t) & ANGLE_MASK;
        }
    }

    const int n = (keys[KEY_LSHIFT] != 0 || keys[KEY_RSHIFT] != 0) ? RUN_SHIFT : WALK_SHIFT;
    if (keys[KEY_UP] != 0) {
        step(heading_sin() >> n, heading_cos() >> n);
    }
    if (keys[KEY_DOWN] != 0) {
        step(-(heading_sin() >> n), -(heading_cos() >> n));
    }
}

// The sector the traversal starts from.  Movement can leave the point a
// little past a portal line of the sector it returns (it puts that right on
// the next step).  Seen from there the portal faces away and would never be
// entered, leaving every column that looks into the sector beyond it
// unfilled; so the traversal starts from the sector beyond instead, and
// comes back through the twin portal.
static const Sector *drawing_sector(const Sector *sector, fixed x, fixed y)
{
    for (int i = 0; i < sector->count && sector->walls[i].is_portal != 0; i++) {
        if (wall_side(&sector->walls[i], x, y) > 0) {
            return sector->walls[i].neighbour;
        }
    }
    return sector;
}

void draw_walls(BITMAP *target, const Sector *sector, int angle, fixed x, fixed y)
{
    sectors_drawn = 1;
    begin_frame();
    render_sector(drawing_sector(sector, x, y), angle, x, y, 0, view_width - 1);
    draw_columns(target);
}

void render_view(BITMAP *target, const Sector *sector, int angle, fixed x, fixed y)
{
    fill_background(target);
    draw_walls(target, sector, angle, x, y);
}

void update_frame_rate(time_t now)
{
    frame_count++;
    if (now != last_second) {
        frames_per_second = static_cast<float>(static_cast<double>(frame_count) /
                                               static_cast<double>(now - last_second));
        frame_count = 0;
        last_second = now;
    }
}

// The lines are formatted into a buffer on the stack and drawn with a
// transparent background: the library's formatted-text call takes a heap
// buffer on every call, and a frame allocates nothing.
void draw_overlay(BITMAP *target, int refresh_rate)
{
    const int white = makecol(255, 255, 255);
    char line[80];
    std::snprintf(line, sizeof line, "Sectors in display: %d", sectors_drawn);
    textout_ex(target, font, line, 0, 0, white, -1);
    std::snprintf(line, sizeof line, "FPS: %0.2f with refresh rate %dhz",
                  static_cast<double>(frames_per_second), refresh_rate);
    textout_ex(target, font, line, 0, 8, white, -1);
    textout_ex(target, font, page_flipping ? "Using page flipping" : "Using double buffering", 0,
               16, white, -1);
}
