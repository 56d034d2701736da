// pace.cpp: when the next frame may be shown.
//
// Frames are shown on a grid of absolute deadlines, one refresh period
// apart, counted from the first frame: the n-th deadline is worked out from
// n, not added up, so it never drifts.  A frame that misses its deadline is
// shown at once and the next one waits for the next point of the same grid,
// as it would for the next retrace: no burst of frames to make up for the
// lost ones.  The caller reads the clock and sleeps; here is only the
// arithmetic, in nanoseconds.

#include "app.h"

static const int64_t NS_PER_SECOND = 1000000000;

void start_pace(Pace *pace, int refresh_rate, int64_t now)
{
    pace->rate = refresh_rate > 0 ? refresh_rate : REQUESTED_REFRESH_RATE;
    pace->origin = now;
    pace->tick = 0;
}

static int64_t tick_time(const Pace *pace, int64_t tick)
{
    return pace->origin + tick * NS_PER_SECOND / pace->rate;
}

int64_t frame_deadline(const Pace *pace)
{
    return tick_time(pace, pace->tick);
}

void frame_shown(Pace *pace, int64_t now)
{
    int64_t next = pace->tick + 1;
    if (now > pace->origin) {
        // The first grid point after `now`; the division may land one short.
        const int64_t after = (now - pace->origin) * pace->rate / NS_PER_SECOND + 1;
        if (after > next) {
            next = after;
        }
    }
    while (tick_time(pace, next) <= now) {
        next++;
    }
    pace->tick = next;
}
