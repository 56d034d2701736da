// render.h: the renderer's lookup tables, the per-frame column buffer, the
// portal traversal that fills it, and the drawing of scaled texture columns.
//
// Each frame: begin_frame() opens the column buffer, render_sector() walks
// the sectors front to back through visible portals and writes, per screen
// column, the nearest wall's height and texture column into column_slots;
// draw_columns() turns the slots into texture strips.

#ifndef PORTALWALK_RENDER_H
#define PORTALWALK_RENDER_H

#include <cstdint>

#include "world.h"

// What is drawn in one screen column.
struct ColumnSlot {
    BITMAP **texture;    // texture slot of the wall seen in the column
    fixed height;        // projected height in pixels, 16.16
    int32_t tex_column;  // texture column 0..63 (a row of the texture image)
    uint8_t stamp;       // frame_stamp of the frame that last filled the slot
};

// Size of the view the tables were built for.
extern int view_width;
extern int view_height;

// Per-column tables, view_width entries each.
extern int32_t *col_angle;   // half a turn minus the column's turn from the view direction
extern fixed *col_cos;       // minus the cosine of the column's turn
extern ColumnSlot *column_slots;

// Trigonometric tables over the angle unit.
extern fixed *cos_table;     // ANGLE_STEPS entries
extern fixed *tan_table;     // ANGLE_STEPS / 2 entries (a half turn)

// Per-frame state.
extern uint8_t frame_stamp;  // a slot is filled this frame when its stamp equals this
extern int32_t open_left;    // every column below it is filled
extern int32_t open_right;   // every column above it is filled
extern int32_t sectors_drawn;
extern int32_t span_first;   // columns where the last tested portal is seen
extern int32_t span_last;    // -1 when none

// Allocates and fills the tables for a view of the given size.  Returns
// false, with nothing left allocated, when an allocation fails.
bool build_tables(int width, int height);
// Releases the tables; nothing happens for those never allocated.
void free_tables();

// Opens a frame: every slot becomes unfilled, the full column range opens.
void begin_frame();

// Fills the free columns first..last with what is seen of `sector` and,
// through its visible portals, of the sectors beyond; a path through the
// portals is at most MAX_SECTORS sectors long, the first included.
void render_sector(const Sector *sector, int angle, fixed vx, fixed vy, int first, int last);
void cast_wall(const Wall *wall, int angle, fixed vx, fixed vy, int first, int last);
bool portal_span(const Wall *wall, int angle, fixed vx, fixed vy, int first, int last);

// Draws every screen column from its slot into an 8-bit target of at least
// view_width x view_height pixels; a column no wall filled this frame is
// drawn from the nearest column that one did.
void draw_columns(BITMAP *target);
void draw_column(BITMAP *target, BITMAP **texture, int x, int top, int count, int tex_column);

#endif
