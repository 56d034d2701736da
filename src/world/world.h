// world.h: the map records, the fixed-point rules they are built with,
// and the built-in level.
//
// Coordinates and lengths are 16.16 `fixed` map units (0x10000 = 1.0).
// Angles are integers, ANGLE_STEPS to a turn.  Every sector is convex and
// its walls run counter-clockwise (x right, y up), so the interior lies on
// the left of each wall; portal walls come before solid walls in a
// sector's array.

#ifndef PORTALWALK_WORLD_H
#define PORTALWALK_WORLD_H

#include <cstdint>

#include <allegro/fixed.h>

// ---------------------------------------------------------------------------
// Fixed-point arithmetic.
//
// The results of the world, the renderer and movement depend bit for bit on
// these rounding rules: a product is floored, a quotient is truncated toward
// zero, and both saturate to +-0x7FFFFFFF.  The library's own fixmul and
// fixdiv on this platform round differently, so they are never used; these
// are, everywhere.
// ---------------------------------------------------------------------------

namespace fx {

constexpr fixed FIX_MAX = 0x7FFFFFFF;
constexpr fixed FIX_MIN = -0x7FFFFFFF;  // 0x80000001

constexpr fixed saturate(int64_t v)
{
    if (v > FIX_MAX) {
        return FIX_MAX;
    }
    if (v < FIX_MIN) {
        return FIX_MIN;
    }
    return static_cast<fixed>(v);
}

// 64-bit product shifted right by 16: rounds toward minus infinity.
constexpr fixed fixmul(fixed a, fixed b)
{
    return saturate((static_cast<int64_t>(a) * b) >> 16);
}

// Quotient truncated toward zero; a division by zero gives the saturated
// value of the numerator's sign (zero counts as positive).
constexpr fixed fixdiv(fixed a, fixed b)
{
    if (b == 0) {
        return a < 0 ? FIX_MIN : FIX_MAX;
    }
    return saturate(static_cast<int64_t>(a) * 65536 / b);
}

// Rounds to nearest (halves away from zero); saturates beyond +-32767.0.
constexpr fixed ftofix(double v)
{
    if (v > 32767.0) {
        return FIX_MAX;
    }
    if (v < -32767.0) {
        return FIX_MIN;
    }
    return static_cast<fixed>(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
}

constexpr fixed itofix(int v)
{
    return static_cast<fixed>(static_cast<uint32_t>(v) << 16);
}

}  // namespace fx

// ---------------------------------------------------------------------------
// Angles.
// ---------------------------------------------------------------------------

constexpr int ANGLE_STEPS = 8192;
constexpr int ANGLE_MASK = 0x1FFF;

// ---------------------------------------------------------------------------
// Limits every level keeps.
// ---------------------------------------------------------------------------

// How far the viewer's point keeps off a solid wall's line: 0.3 map units.
constexpr fixed WALL_CLEARANCE = 0x4CCD;

// The most sectors a level may have.  A straight ray crosses each convex
// sector at most once, so no view needs the portal traversal to go deeper
// than this; it never does, whatever the portals say.
constexpr int MAX_SECTORS = 4096;

// ---------------------------------------------------------------------------
// Records.
// ---------------------------------------------------------------------------

struct BITMAP;
struct Sector;

struct Vertex {
    fixed x;
    fixed y;
};

struct Wall {
    fixed x;             // start point
    fixed y;
    fixed ux;            // unit direction from start to end
    fixed uy;
    int32_t angle;       // direction of (ux, uy), from +x toward -y; the
                         // heading of the wall's inward normal
    fixed length;
    int32_t is_portal;   // 1 when neighbour is set, else 0
    BITMAP **texture;    // texture slot; the bitmap is read through it
    Sector *neighbour;   // sector beyond a portal; null for a solid wall
};

struct Sector {
    Wall *walls;
    int32_t count;
};

// Signed distance of the point (x, y) from the wall's line: negative on
// the inner side (the sector's), zero on the line, positive beyond it.
// Wall minus point, as written: fixmul floors, so the arrangement of the
// operands sets the low bits, and renderer and movement must agree.
inline fixed wall_side(const Wall *wall, fixed x, fixed y)
{
    return fx::fixmul(wall->y - y, wall->ux) - fx::fixmul(wall->x - x, wall->uy);
}

// Fills every field of `wall` from its two end points.  Floating point is
// used here, once per wall, so that the per-frame code never needs it.
void make_wall(Wall *wall, BITMAP **texture, const Vertex *start, const Vertex *end,
               Sector *neighbour);

// Three-way order that puts portal walls before solid walls.
int wall_order(const Wall *first, const Wall *second);

// Sorts a sector's walls so that its portals lead the array.
void sort_walls(Sector *sector);

// ---------------------------------------------------------------------------
// The built-in level: six sectors in a chain, 27 walls.
// ---------------------------------------------------------------------------

constexpr int LEVEL_SECTORS = 6;
constexpr int LEVEL_WALLS = 27;

// Palette entries of its ceiling and floor; a level file may name others.
constexpr int CEILING_COLOR = 36;
constexpr int FLOOR_COLOR = 2;

extern Sector level_sectors[LEVEL_SECTORS];

// Builds the level into static storage that keeps its addresses for the
// whole run, and returns the start sector.
Sector *build_level(BITMAP **brick, BITMAP **brickd, BITMAP **weirdo);

#endif
