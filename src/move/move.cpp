// move.cpp: one step of the viewer's point, in passes.  Each pass finds the
// nearest wall of the current sector that the step meets; a portal carries
// the rest of the step into the neighbour, a solid wall stops the point on
// its clearance line and keeps only the step's component along the wall.

#include "move.h"

int move_passes;

Sector *move_viewer(Sector *sector, fixed *x, fixed *y, fixed dx, fixed dy)
{
    int passes = 0;
    fixed remaining = 0x10000;

    for (;;) {
        // A pass begins with the end test: a slide that leaves nothing of
        // the step ends the call in the pass after it.
        passes++;
        if (remaining <= MIN_REMAINING || (dx == 0 && dy == 0) || sector->count == 0) {
            break;
        }

        // Walls are visited from the last down and only a strictly nearer
        // hit is taken, so on a tie the later wall wins: a solid wall over
        // a portal.  A fraction below 0 (the point already past the line
        // and moving further out) beats any other and pushes the point back.
        fixed nearest = 0x10000;
        const Wall *hit = nullptr;
        for (int i = sector->count - 1; i >= 0; i--) {
            const Wall *w = &sector->walls[i];
            // Side values of the start and the end of the step; the along
            // value is point minus wall (fixmul floors, so the arrangement
            // of the operands sets the low bits).
            const fixed s0 = wall_side(w, *x, *y);
            const fixed s1 = wall_side(w, *x + dx, *y + dy);
            const fixed a = fx::fixmul(*x - w->x, w->ux) + fx::fixmul(*y - w->y, w->uy);

            const fixed change = s1 - s0;
            if (change <= MIN_SIDE_CHANGE && change >= -MIN_SIDE_CHANGE) {
                continue;  // parallel, or nearly
            }
            if (a <= -WALL_CLEARANCE || a >= w->length + WALL_CLEARANCE) {
                continue;  // beside the wall's extent
            }
            fixed t;
            if (w->is_portal == 1) {
                if (s1 <= 0) {
                    continue;
                }
                t = fx::fixdiv(-s0, change);
            } else {
                if (s1 + WALL_CLEARANCE <= 0) {
                    continue;
                }
                t = fx::fixdiv(-(s0 + WALL_CLEARANCE), change);
            }
            if (t < nearest) {
                nearest = t;
                hit = w;
            }
        }
        if (hit == nullptr) {
            break;
        }

        // Move onto the line that was met and shorten the step to what is
        // left of it (it grows when the fraction was negative).
        *x += fx::fixmul(dx, nearest);
        *y += fx::fixmul(dy, nearest);
        const fixed f = 0x10000 - nearest;
        remaining = fx::fixmul(remaining, f);
        dx = fx::fixmul(dx, f);
        dy = fx::fixmul(dy, f);

        if (hit->is_portal == 1) {
            sector = hit->neighbour;
            remaining = 0x10000;
        } else {
            const fixed d = fx::fixmul(dx, hit->ux) + fx::fixmul(dy, hit->uy);
            dx = fx::fixmul(d, hit->ux);
            dy = fx::fixmul(d, hit->uy);
        }
    }

    *x += dx;
    *y += dy;
    move_passes = passes;
    return sector;
}
