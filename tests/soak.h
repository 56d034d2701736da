// soak.h: what the walks share: held keys run through the frame loop's
// key handling, scripted or from a random stream, the side value of a
// point for a wall without rounding, and the unfilled columns of the frame
// just drawn.

#ifndef PORTALWALK_SOAK_H
#define PORTALWALK_SOAK_H

#include <allegro.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "app.h"
#include "render.h"
#include "world.h"

namespace soak {

// Side value of a point for a wall, in map units, without rounding:
// negative on the sector's side, positive beyond the line.
inline double side_of(const Wall &w, fixed x, fixed y)
{
    const int64_t v = static_cast<int64_t>(w.y - y) * w.ux - static_cast<int64_t>(w.x - x) * w.uy;
    return static_cast<double>(v) / 4294967296.0;
}

// Longest a point may lie past a portal line of the sector it is in.  A
// push back out of a clearance band runs back along the line of the step
// and may carry the point across the portal it has just crossed (0.028
// units in the known case at the end of S4; up to 0.042 seen in random
// walks); the next step that goes on outward crosses the portal.
//
// Known fault, not met by these walks: a step almost parallel to a wall
// whose band the point is in gets a fraction far below zero, so the point
// goes back a long way and the step grows to several units; the next
// pass, made from there, can leave out a portal near the step's end.  At
// the far end of S4 this returns S4 with the point 0.19 past W18.
constexpr double PORTAL_OVERSHOOT = 0.05;

// Holds exactly the given keys and runs one frame's key handling.
inline void press(const std::vector<int> &held)
{
    char keys[KEY_MAX] = {};
    for (int k : held) {
        keys[k] = 1;
    }
    apply_keys(keys);
}

// A part of a scripted walk: keys held for a number of frames.
struct Hold {
    int frames;
    std::vector<int> held;
};

// Walks the script from where the viewer stands and returns the sectors
// it went through, in order, each stay in one of them once.
inline std::vector<const Sector *> walk(const std::vector<Hold> &script)
{
    std::vector<const Sector *> visited{viewer_sector};
    for (const Hold &part : script) {
        for (int f = 0; f < part.frames; f++) {
            press(part.held);
            if (viewer_sector != visited.back()) {
                visited.push_back(viewer_sector);
            }
        }
    }
    return visited;
}

// Held keys change every 1 to 40 frames: forward more often than not,
// now and then back, turning or strafing, with or without SHIFT.
class KeyStream {
public:
    explicit KeyStream(unsigned seed) : random_(seed) {}

    const char *next()
    {
        if (hold_ == 0) {
            std::fill(std::begin(keys_), std::end(keys_), 0);
            hold_ = 1 + below(40);
            keys_[KEY_UP] = below(10) < 6 ? 1 : 0;
            keys_[KEY_DOWN] = below(10) < 2 ? 1 : 0;
            const unsigned turn = below(6);
            keys_[KEY_LEFT] = turn == 0 || turn == 2 ? 1 : 0;
            keys_[KEY_RIGHT] = turn == 1 || turn == 2 ? 1 : 0;
            if (below(3) == 0) {
                keys_[below(2) != 0 ? KEY_LSHIFT : KEY_RSHIFT] = 1;
            }
            if (below(4) == 0) {
                keys_[below(2) != 0 ? KEY_ALT : KEY_ALTGR] = 1;
            }
        }
        hold_--;
        return keys_;
    }

private:
    unsigned below(unsigned n) { return static_cast<unsigned>(random_() % n); }

    std::mt19937 random_;
    unsigned hold_ = 0;
    char keys_[KEY_MAX] = {};
};

// Makes every slot unfilled for the next begin_frame.  Stamps repeat
// every 256 frames, so a slot left over from an earlier frame could
// otherwise pass for filled in this one and hide a gap.
inline void forget_stamps()
{
    for (int c = 0; c < view_width; c++) {
        column_slots[c].stamp = frame_stamp;
    }
}

// Fills every slot with a strip of `image`, 599 rows high, and makes it
// unfilled for the next begin_frame: no column of the next frame may show
// it, since a slot not filled in the frame holds what an earlier one left.
inline void stale_slots(BITMAP **image)
{
    for (int c = 0; c < view_width; c++) {
        column_slots[c] = ColumnSlot{image, 599 << 16, 0, frame_stamp};
    }
}

struct Gaps {
    int columns = 0;  // unfilled columns
    int widest = 0;   // widest run of neighbouring unfilled columns
};

inline Gaps gaps_now()
{
    Gaps g;
    int run = 0;
    for (int c = 0; c < view_width; c++) {
        if (column_slots[c].stamp != frame_stamp) {
            g.columns++;
            run++;
            g.widest = std::max(g.widest, run);
        } else {
            run = 0;
        }
    }
    return g;
}

}  // namespace soak

#endif
