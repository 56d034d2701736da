// world.cpp: preparing walls, ordering a sector's walls, and the built-in
// level of six sectors.

#include "world.h"

#include <algorithm>
#include <cmath>

// 1 / (2 * pi), with pi taken at single precision.  Slightly smaller than
// the true reciprocal, so exact axis and diagonal directions truncate one
// step short (a wall facing -y gets 2047, not 2048).
static const double INV_TWO_PI_SINGLE = 0.15915493866300567;

void make_wall(Wall *wall, BITMAP **texture, const Vertex *start, const Vertex *end,
               Sector *neighbour)
{
    wall->x = start->x;
    wall->y = start->y;
    wall->texture = texture;

    const fixed dx = end->x - start->x;
    const fixed dy = end->y - start->y;
    const double scale = 2.3283064365386963e-10;  // 2^-32: squared raw units to squared map units
    const double ddx = dx;
    const double ddy = dy;
    wall->length = fx::ftofix(std::sqrt(ddy * ddy * scale + ddx * ddx * scale));

    wall->ux = fx::fixdiv(dx, wall->length);
    wall->uy = fx::fixdiv(dy, wall->length);

    // Negated as an integer, so that uy = 0 gives +0.0 and a wall running
    // toward -x gets +pi, not -pi.
    const double a = std::atan2(static_cast<double>(-wall->uy), static_cast<double>(wall->ux));
    wall->angle = static_cast<int32_t>(a * 8192.0 * INV_TWO_PI_SINGLE);

    wall->neighbour = neighbour;
    wall->is_portal = neighbour != nullptr ? 1 : 0;
}

int wall_order(const Wall *first, const Wall *second)
{
    return second->is_portal - first->is_portal;
}

void sort_walls(Sector *sector)
{
    std::sort(sector->walls, sector->walls + sector->count,
              [](const Wall &a, const Wall &b) { return wall_order(&a, &b) < 0; });
}

// ---------------------------------------------------------------------------
// The built-in level.
//
//   S1 start room   -- W3/W7   -- S2 hall
//   S2 hall         -- W9/W15  -- S3 first corridor
//   S3 corridor     -- W13/W16 -- S4 second corridor
//   S4 corridor     -- W18/W20 -- S5 third corridor
//   S5 corridor     -- W22/W24 -- S6 far room
// ---------------------------------------------------------------------------

Sector level_sectors[LEVEL_SECTORS];

static Wall s1_walls[6];
static Wall s2_walls[5];
static Wall s3_walls[4];
static Wall s4_walls[4];
static Wall s5_walls[4];
static Wall s6_walls[4];

// One wall of the level: start and end vertex (1-based, as in the vertex
// list), which texture, and the neighbouring sector (1-based, 0 = solid).
enum { BRICK, BRICKD, WEIRDO };

struct WallPlan {
    int start;
    int end;
    int texture;
    int neighbour;
};

struct SectorPlan {
    Wall *walls;
    int count;
    WallPlan plan[6];
};

Sector *build_level(BITMAP **brick, BITMAP **brickd, BITMAP **weirdo)
{
    static const int V[18][2] = {
        {0, 0},  // unused: vertices are numbered from 1
        {4, 4},   {-4, 4},   {-5, 2},   {-5, -2},  {-4, -4},  {4, -4},
        {-7, 10}, {-8, 10},  {-8, -10}, {-8, 20},  {-7, 19},  {9, 22},
        {10, 23}, {9, -15},  {10, -15}, {-11, -50}, {30, -50},
    };
    static const SectorPlan sectors[LEVEL_SECTORS] = {
        {s1_walls, 6, {{1, 2, BRICK, 0}, {2, 3, BRICKD, 0}, {3, 4, BRICK, 2},
                       {4, 5, BRICKD, 0}, {5, 6, BRICK, 0}, {6, 1, BRICKD, 0}}},
        {s2_walls, 5, {{4, 3, BRICK, 1}, {3, 7, BRICKD, 0}, {7, 8, BRICKD, 3},
                       {8, 9, BRICKD, 0}, {9, 4, BRICKD, 0}}},
        {s3_walls, 4, {{10, 8, BRICK, 0}, {11, 10, BRICKD, 4}, {7, 11, BRICK, 0},
                       {8, 7, BRICKD, 2}}},
        {s4_walls, 4, {{10, 11, BRICKD, 3}, {11, 12, BRICKD, 0}, {12, 13, BRICKD, 5},
                       {13, 10, BRICKD, 0}}},
        {s5_walls, 4, {{13, 12, BRICK, 4}, {12, 14, BRICK, 0}, {14, 15, BRICK, 6},
                       {15, 13, BRICK, 0}}},
        {s6_walls, 4, {{15, 14, BRICK, 5}, {14, 16, WEIRDO, 0}, {16, 17, WEIRDO, 0},
                       {17, 15, WEIRDO, 0}}},
    };
    BITMAP **slots[3] = {brick, brickd, weirdo};

    Vertex vertices[18];
    for (int i = 0; i < 18; i++) {
        vertices[i].x = fx::itofix(V[i][0]);
        vertices[i].y = fx::itofix(V[i][1]);
    }

    // Every sector is set before any wall is made: portals point at
    // sectors whose walls come later.
    for (int i = 0; i < LEVEL_SECTORS; i++) {
        level_sectors[i].walls = sectors[i].walls;
        level_sectors[i].count = sectors[i].count;
    }

    for (int i = 0; i < LEVEL_SECTORS; i++) {
        for (int w = 0; w < sectors[i].count; w++) {
            const WallPlan *p = &sectors[i].plan[w];
            Sector *neighbour = p->neighbour != 0 ? &level_sectors[p->neighbour - 1] : nullptr;
            make_wall(&sectors[i].walls[w], slots[p->texture], &vertices[p->start],
                      &vertices[p->end], neighbour);
        }
        sort_walls(&level_sectors[i]);
    }

    return &level_sectors[0];
}
