// app.h: the application shell: run state, the per-frame steps of the frame
// loop, and the start-up and shutdown around it.
//
// The frame steps work on the program-wide run state below and take the
// key array and the clock as arguments, so that the same code that runs in
// the window can be driven frame by frame without one.

#ifndef PORTALWALK_APP_H
#define PORTALWALK_APP_H

#include <atomic>
#include <cstdint>
#include <ctime>

#include "level.h"
#include "world.h"

struct BITMAP;

constexpr int TURN_STEP = 32;
constexpr int FAST_TURN_STEP = 64;
constexpr int WALK_SHIFT = 3;
constexpr int RUN_SHIFT = 2;

// The refresh rate the program asks for, and paces frames at where the
// display does not say what it got.
constexpr int REQUESTED_REFRESH_RATE = 100;

// Set by the window-close hook and by signals, read at the top of every
// frame.
extern std::atomic<bool> close_requested;
extern bool page_flipping;

// Texture slots: walls refer to these variables, not to the bitmaps.  The
// built-in level uses the three named ones, a level file the table.
extern BITMAP *brick_texture;
extern BITMAP *brickd_texture;
extern BITMAP *weirdo_texture;
extern BITMAP *texture_slots[LEVEL_MAX_TEXTURES];

// Palette entries the ceiling and the floor are painted with.
extern int ceiling_color;
extern int floor_color;

// The viewer.
extern fixed viewer_x;
extern fixed viewer_y;
extern int viewer_angle;
extern Sector *viewer_sector;

// Frame-rate state.
extern int frame_count;
extern time_t last_second;
extern float frames_per_second;

void on_close();

// Places the viewer at the start of the built-in level, (0, 0) heading 0
// in `start`, takes the built-in colours and resets the frame-rate state;
// `now` is the whole-second clock.
void reset_run_state(Sector *start, time_t now);

// The same for a level read from a file: its start and its colours.
void start_level(const Level *level, time_t now);

// True when the loop must end before the next frame: Escape held or a
// close requested.
bool frame_loop_done(const volatile char *keys);

// Paints the ceiling and the floor over the whole target.
void fill_background(BITMAP *target);

// Turns, strafes and walks as the held keys say.  Each key is read when it
// is tested, as the library may change the array at any moment.
void apply_keys(const volatile char *keys);

// Draws the walls seen from a viewer into the target, over the
// background, and leaves the number of sectors entered in sectors_drawn.
void draw_walls(BITMAP *target, const Sector *sector, int angle, fixed x, fixed y);

// One whole frame without a window: background and walls, into any 8-bit
// bitmap of the tables' view size.
void render_view(BITMAP *target, const Sector *sector, int angle, fixed x, fixed y);

// Counts the frame and renews the rate when the whole-second clock moved.
void update_frame_rate(time_t now);

// Prints the three overlay lines; `refresh_rate` is the display's.
void draw_overlay(BITMAP *target, int refresh_rate);

// Ending from outside: the program's own main() calls these.
// Opens any of the standard descriptors 0, 1 and 2 that is closed on
// /dev/null; before the library starts.
void open_standard_descriptors();
// SIGINT, SIGTERM, SIGHUP and SIGQUIT set close_requested as on_close()
// does; after the library has installed its own handlers.
void catch_signals();
// A lost display ends the program with one line on stderr and status 1.
void catch_lost_display();
// Marks the library's shared memory for removal once the display is set.
void release_shared_memory_at_exit();

// Frame pacing: frames are shown at most once per refresh period, on a grid
// of absolute deadlines on a monotonic clock, in nanoseconds.  The caller
// reads the clock and sleeps until frame_deadline() before it shows a frame.
struct Pace {
    int rate;        // frames a second
    int64_t origin;  // when the first frame was due
    int64_t tick;    // the grid point the next frame is due at
};

// Starts the grid at `now`, the first frame due at once; a refresh rate of
// 0 (the display does not say) paces at REQUESTED_REFRESH_RATE.
void start_pace(Pace *pace, int refresh_rate, int64_t now);

// When the next frame may be shown.
int64_t frame_deadline(const Pace *pace);

// A frame went to the display at `now`: the next one is due at the first
// grid point after it, so a late frame brings no burst of catch-up frames.
void frame_shown(Pace *pace, int64_t now);

#endif
