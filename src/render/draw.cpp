// draw.cpp: turns the column slots into vertical texture strips, centred
// on the middle row and written straight into the target's rows.

#include "render.h"

#include <allegro.h>

void draw_column(BITMAP *target, BITMAP **texture, int x, int top, int count, int tex_column)
{
    if (count <= 0) {
        return;
    }
    // A row of the texture image is a column of the wall, bottom first.
    const unsigned char *source = (*texture)->line[tex_column];
    // 64 texels over count rows, 20 bits below the point.
    const uint32_t step = static_cast<uint32_t>(0x4000000 / count);
    uint32_t acc = 0;
    if (top < 0) {
        // The rows cut at the top set where the texture starts, although
        // the strip is written from its lowest visible row up.
        acc = step * static_cast<uint32_t>(-top);
        count += top;
        top = 0;
    }
    if (top + count > view_height) {
        count = view_height - top;
    }
    if (count <= 0) {
        return;
    }
    // From the lowest row up, four rows a turn: the loop is the frame's
    // hottest; every store goes through its row's own pointer.
    unsigned char *const *rows = target->line;
    int y = top + count - 1;
    for (; y >= top + 3; y -= 4) {
        rows[y][x] = source[acc >> 20];
        acc += step;
        rows[y - 1][x] = source[acc >> 20];
        acc += step;
        rows[y - 2][x] = source[acc >> 20];
        acc += step;
        rows[y - 3][x] = source[acc >> 20];
        acc += step;
    }
    for (; y >= top; y--) {
        rows[y][x] = source[acc >> 20];
        acc += step;
    }
}

void draw_columns(BITMAP *target)
{
    for (int c = view_width - 1; c >= 0; c--) {
        // A column that no wall filled this frame borrows its left
        // neighbour's slot (column 0 borrows column 1) as it stands, so a
        // single missed column does not show as a gap.  The slot array has
        // one spare zeroed entry, so a one-column view borrows nothing.
        const ColumnSlot *slot = &column_slots[c];
        if (slot->stamp != frame_stamp) {
            slot = c > 0 ? &column_slots[c - 1] : &column_slots[1];
        }
        const int count = slot->height >> 16;
        const int top = (view_height >> 1) - (slot->height >> 17);
        draw_column(target, slot->texture, c, top, count, slot->tex_column);
    }
}
