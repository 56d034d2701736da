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

static void draw_slot(BITMAP *target, const ColumnSlot *slot, int c)
{
    const int count = slot->height >> 16;
    const int top = (view_height >> 1) - (slot->height >> 17);
    draw_column(target, slot->texture, c, top, count, slot->tex_column);
}

// A column that no wall filled this frame (a ray that slipped between two
// walls beside a corner) is drawn from the nearest column that was filled
// this frame: its left neighbour when that one was, else the nearest on
// either side, the left one on a tie.  So a single missed column repeats
// its left neighbour, and a run of them is shared between the columns at
// its two ends; a slot an earlier frame left behind is never drawn.  A
// frame in which nothing was filled draws no walls.
void draw_columns(BITMAP *target)
{
    const ColumnSlot *slots = column_slots;
    int c = view_width - 1;
    while (c >= 0) {
        if (slots[c].stamp == frame_stamp) {
            draw_slot(target, &slots[c], c);
            c--;
            continue;
        }
        // The unfilled run first..c, with the filled columns that bound it:
        // right is out of the view or filled (runs are worked right to
        // left, whole), left is -1 when the run reaches column 0.
        const int right = c + 1;
        int first = c;
        while (first > 0 && slots[first - 1].stamp != frame_stamp) {
            first--;
        }
        const int left = first - 1;
        const bool has_right = right < view_width;
        if (left < 0 && !has_right) {
            return;  // nothing filled
        }
        for (int k = c; k >= first; k--) {
            const bool from_left = left >= 0 && (!has_right || k - left <= right - k);
            draw_slot(target, &slots[from_left ? left : right], k);
        }
        c = first - 1;
    }
}
