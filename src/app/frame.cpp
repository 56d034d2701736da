// frame.cpp: the steps of one frame: background, keys, view, frame rate and
// overlay.  main.cpp strings them together and presents the result.

#include "app.h"

#include <allegro.h>

#include "render.h"

std::atomic<bool> close_requested{false};
bool page_flipping;

BITMAP *brick_texture;
BITMAP *brickd_texture;
BITMAP *weirdo_texture;

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
    frame_count = 0;
    frames_per_second = 0;
    last_second = now;
}

bool frame_loop_done(const volatile char *keys)
{
    return keys[KEY_ESC] != 0 || close_requested;
}

void fill_background(BITMAP *target)
{
    rectfill(target, 0, 0, view_width, view_height / 2, CEILING_COLOR);
    rectfill(target, 0, view_height / 2, view_width, view_height, FLOOR_COLOR);
}

void apply_keys(const volatile char *keys)
{
    const bool alt = keys[KEY_ALT] != 0 || keys[KEY_ALTGR] != 0;
    if (!alt) {
        const int t = (keys[KEY_LSHIFT] != 0 || keys[KEY_RSHIFT] != 0) ? FAST_TURN_STEP : TURN_STEP;
        if (keys[KEY_LEFT] != 0) {
            viewer_angle = (viewer_angle + t) & ANGLE_MASK;
        }
        if (keys[KEY_RIGHT] != 0) {
            viewer_angle = (viewer_angle - t) & ANGLE_MASK;
        }
    }
}

void draw_view(BITMAP *target)
{
    (void)target;
    sectors_drawn = 1;
    begin_frame();
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

void draw_overlay(BITMAP *target, int refresh_rate)
{
    const int white = makecol(255, 255, 255);
    textprintf_ex(target, font, 0, 0, white, -1, "Sectors in display: %d", sectors_drawn);
    textprintf_ex(target, font, 0, 8, white, -1, "FPS: %0.2f with refresh rate %dhz",
                  static_cast<double>(frames_per_second), refresh_rate);
    textprintf_ex(target, font, 0, 16, white, -1,
                  page_flipping ? "Using page flipping" : "Using double buffering");
}
