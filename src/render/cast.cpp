// cast.cpp: the front-to-back portal traversal.  For each free screen
// column it finds the nearest wall and writes its projected height and
// texture column into the column's slot.
//
// The first wall written into a column in a frame keeps it.  A sector's
// solid walls are cast before any of its portals is followed, and a sector
// seen through a portal is worked only in the columns where the portal was
// seen, so nearer walls always come first and no depth test is needed.

#include "render.h"

#include <algorithm>

// Where a wall lies relative to the viewer.  p is the offset of the wall's
// line along its inward normal (p <= 0: the viewer is on the inner side);
// a0 is where the wall's start lies along the wall, counted from the foot
// of the perpendicular from the viewer.
struct WallView {
    fixed p;
    fixed a0;
};

static WallView view_wall(const Wall *wall, fixed vx, fixed vy)
{
    WallView v;
    v.p = wall_side(wall, vx, vy);
    v.a0 = fx::fixmul(wall->x - vx, wall->ux) + fx::fixmul(wall->y - vy, wall->uy);
    return v;
}

// The visibility test of one column.  On a hit, *r is the ray's angle from
// the direction straight toward the wall's line and *s where the ray meets
// the wall, counted from its start.
static inline bool column_hits(const Wall *wall, const WallView &v, int angle, int c, int *r,
                               fixed *s)
{
    if (column_slots[c].stamp == frame_stamp) {
        return false;
    }
    const int ray = (angle + col_angle[c] - wall->angle) & ANGLE_MASK;
    // Rays from -2047 to +2046 steps head toward the line; the window is
    // not symmetric, and the tangents at +-2048 are never read.
    if (static_cast<unsigned>((ray + 2047) & ANGLE_MASK) >= 4094u) {
        return false;
    }
    const fixed h = fx::fixmul(v.p, tan_table[ray & 0xFFF]);
    if (h < v.a0) {
        return false;
    }
    // The exact difference: h may be saturated and a0 negative.
    if (static_cast<int64_t>(h) - v.a0 > wall->length) {
        return false;
    }
    *r = ray;
    *s = h - v.a0;
    return true;
}

void cast_wall(const Wall *wall, int angle, fixed vx, fixed vy, int first, int last)
{
    const int c0 = std::max(first, open_left);
    const int c1 = std::min(last, open_right);
    const WallView v = view_wall(wall, vx, vy);
    if (v.p > 0) {
        return;  // seen from behind
    }
    const fixed screen_h = fx::itofix(view_height);
    for (int c = c0; c <= c1; c++) {
        int r;
        fixed s;
        if (!column_hits(wall, v, angle, c, &r, &s)) {
            continue;
        }
        // The hit's depth along the view direction is -p cos(turn) / cos(r);
        // the height is the screen height over that depth.
        const fixed z = fx::fixmul(v.p, col_cos[c]);
        const fixed q = fx::fixmul(screen_h, cos_table[r]);
        ColumnSlot *slot = &column_slots[c];
        slot->stamp = frame_stamp;
        slot->height = fx::fixdiv(q, z);
        slot->texture = wall->texture;
        slot->tex_column = (s >> 10) & 0x3F;
        if (c == open_left) {
            open_left = c + 1;
        }
    }
    while (open_right >= 0 && column_slots[open_right].stamp == frame_stamp) {
        open_right--;
    }
}

bool portal_span(const Wall *wall, int angle, fixed vx, fixed vy, int first, int last)
{
    const int c0 = std::max(first, open_left);
    const int c1 = std::min(last, open_right);
    const WallView v = view_wall(wall, vx, vy);
    if (v.p > 0) {
        return false;  // seen from behind: the portal we came in by
    }
    span_first = c0;
    span_last = -1;
    for (int c = c0; c <= c1; c++) {
        int r;
        fixed s;
        if (column_hits(wall, v, angle, c, &r, &s)) {
            if (span_last < 0) {
                span_first = c;
            }
            span_last = c;
        }
    }
    return span_last >= 0;
}

// Sectors on the path from the first sector of the frame up to the one
// being worked, that one left out.
static int path_length;

void render_sector(const Sector *sector, int angle, fixed vx, fixed vy, int first, int last)
{
    int k = sector->count - 1;
    while (k >= 0 && sector->walls[k].is_portal == 0) {
        cast_wall(&sector->walls[k], angle, vx, vy, first, last);
        k--;
    }
    // A ray crosses each convex sector once, so a path of more than
    // MAX_SECTORS sectors shows nothing a level may hold.  Rays that graze
    // a corner or run along a portal line can pass the same portals again
    // and again; the bound ends them.
    if (path_length >= MAX_SECTORS - 1) {
        return;
    }
    path_length++;
    // Portals lead the array, so every wall from here down is one.
    for (int i = k; i >= 0; i--) {
        const Wall *portal = &sector->walls[i];
        if (portal_span(portal, angle, vx, vy, first, last)) {
            render_sector(portal->neighbour, angle, vx, vy, span_first, span_last);
            sectors_drawn++;
        }
    }
    path_length--;
}
