// Walls, sectors and the built-in level, checked on the built data.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "world.h"

namespace {

BITMAP *brick;
BITMAP *brickd;
BITMAP *weirdo;

Vertex at(int x, int y)
{
    return Vertex{fx::itofix(x), fx::itofix(y)};
}

// Where a wall ends, in whole map units, from its start, length and
// direction (the direction is a little short of unit length, so round).
int end_x(const Wall &w)
{
    return static_cast<int>(std::lround((w.x + static_cast<double>(w.length) * w.ux / 65536.0) / 65536.0));
}
int end_y(const Wall &w)
{
    return static_cast<int>(std::lround((w.y + static_cast<double>(w.length) * w.uy / 65536.0) / 65536.0));
}

class Level : public ::testing::Test {
protected:
    void SetUp() override { start = build_level(&brick, &brickd, &weirdo); }

    const Wall *find(int x0, int y0, int x1, int y1) const
    {
        for (const Sector &s : level_sectors) {
            for (int i = 0; i < s.count; i++) {
                const Wall &w = s.walls[i];
                if (w.x == fx::itofix(x0) && w.y == fx::itofix(y0) && end_x(w) == x1 && end_y(w) == y1) {
                    return &w;
                }
            }
        }
        return nullptr;
    }

    Sector *start = nullptr;
};

TEST(MakeWall, DegenerateWallSaturates)
{
    Wall w;
    const Vertex a = at(3, 3);
    make_wall(&w, &brick, &a, &a, nullptr);
    EXPECT_EQ(w.length, 0);
    EXPECT_EQ(w.ux, 0x7FFFFFFF);
    EXPECT_EQ(w.uy, 0x7FFFFFFF);
    EXPECT_EQ(w.angle, -1023);
    EXPECT_EQ(w.is_portal, 0);
}

// A wall longer than 32767 units: its length saturates, and the direction
// divided by the saturated length comes out too long, not unit.
TEST(MakeWall, LongWallLengthSaturates)
{
    Wall w;
    const Vertex a = at(0, 0);
    const Vertex b = at(30000, 30000);
    make_wall(&w, &brick, &a, &b, nullptr);
    EXPECT_EQ(w.length, 0x7FFFFFFF);
    EXPECT_EQ(w.ux, 60000);
    EXPECT_EQ(w.uy, 60000);
    EXPECT_EQ(w.angle, -1023);
}

TEST(MakeWall, PortalFlagFollowsNeighbourAndTextureSlotIsKept)
{
    Sector other = {nullptr, 0};
    Wall w;
    const Vertex a = at(-5, 2);
    const Vertex b = at(-5, -2);
    make_wall(&w, &weirdo, &a, &b, &other);
    EXPECT_EQ(w.is_portal, 1);
    EXPECT_EQ(w.neighbour, &other);
    EXPECT_EQ(w.texture, &weirdo);
    EXPECT_EQ(w.x, fx::itofix(-5));
    EXPECT_EQ(w.y, fx::itofix(2));
}

TEST_F(Level, EveryWallIsPreparedExactly)
{
    const struct {
        const char *name;
        int x0, y0, x1, y1;
        fixed length, ux, uy;
        int angle;
    } walls[] = {
        {"W1", 4, 4, -4, 4, 0x80000, -65536, 0, 4095},
        {"W2", -4, 4, -5, 2, 0x23C6F, -29308, -58617, 2652},
        {"W3", -5, 2, -5, -2, 0x40000, 0, -65536, 2047},
        {"W4", -5, -2, -4, -4, 0x23C6F, 29308, -58617, 1443},
        {"W5", -4, -4, 4, -4, 0x80000, 65536, 0, 0},
        {"W6", 4, -4, 4, 4, 0x80000, 0, 65536, -2047},
        {"W7", -5, -2, -5, 2, 0x40000, 0, 65536, -2047},
        {"W8", -5, 2, -7, 10, 0x83F08, -15894, 63579, -2367},
        {"W9", -7, 10, -8, 10, 0x10000, -65536, 0, 4095},
        {"W10", -8, 10, -8, -10, 0x140000, 0, -65536, 2047},
        {"W11", -8, -10, -5, -2, 0x88B44, 23011, 61363, -1580},
        {"W12", -8, 20, -8, 10, 0xA0000, 0, -65536, 2047},
        {"W13", -7, 19, -8, 20, 0x16A0A, -46340, 46340, -3071},
        {"W14", -7, 10, -7, 19, 0x90000, 0, 65536, -2047},
        {"W15", -8, 10, -7, 10, 0x10000, 65536, 0, 0},
        {"W16", -8, 20, -7, 19, 0x16A0A, 46340, -46340, 1023},
        {"W17", -7, 19, 9, 22, 0x104761, 64413, 12077, -241},
        {"W18", 9, 22, 10, 23, 0x16A0A, 46340, 46340, -1023},
        {"W19", 10, 23, -8, 20, 0x123F90, -64644, -10774, 3880},
        {"W20", 10, 23, 9, 22, 0x16A0A, -46340, -46340, 3071},
        {"W21", 9, 22, 9, -15, 0x250000, 0, -65536, 2047},
        {"W22", 9, -15, 10, -15, 0x10000, 65536, 0, 0},
        {"W23", 10, -15, 10, 23, 0x260000, 0, 65536, -2047},
        {"W24", 10, -15, 9, -15, 0x10000, -65536, 0, 4095},
        {"W25", 9, -15, -11, -50, 0x284FB1, -32514, -56901, 2724},
        {"W26", -11, -50, 30, -50, 0x290000, 65536, 0, 0},
        {"W27", 30, -50, 10, -15, 0x284FB1, -32514, 56901, -2724},
    };
    int total = 0;
    for (const Sector &s : level_sectors) {
        total += s.count;
    }
    EXPECT_EQ(total, 27);
    for (const auto &c : walls) {
        const Wall *w = find(c.x0, c.y0, c.x1, c.y1);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_EQ(w->length, c.length) << c.name;
        EXPECT_EQ(w->ux, c.ux) << c.name;
        EXPECT_EQ(w->uy, c.uy) << c.name;
        EXPECT_EQ(w->angle, c.angle) << c.name;
    }
}

TEST_F(Level, TexturesAreAsPlanned)
{
    const struct {
        int x0, y0, x1, y1;
        BITMAP **slot;
    } drawn[] = {
        {4, 4, -4, 4, &brick},     {-4, 4, -5, 2, &brickd},    {-5, -2, -4, -4, &brickd},
        {-4, -4, 4, -4, &brick},   {4, -4, 4, 4, &brickd},     {-5, 2, -7, 10, &brickd},
        {-8, 10, -8, -10, &brickd}, {-8, -10, -5, -2, &brickd}, {-8, 20, -8, 10, &brick},
        {-7, 10, -7, 19, &brick},  {-7, 19, 9, 22, &brickd},   {10, 23, -8, 20, &brickd},
        {9, 22, 9, -15, &brick},   {10, -15, 10, 23, &brick},  {9, -15, -11, -50, &weirdo},
        {-11, -50, 30, -50, &weirdo}, {30, -50, 10, -15, &weirdo},
    };
    for (const auto &d : drawn) {
        const Wall *w = find(d.x0, d.y0, d.x1, d.y1);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->texture, d.slot) << d.x0 << "," << d.y0;
        EXPECT_EQ(w->is_portal, 0);
    }
}

TEST_F(Level, SectorsAreClosedConvexAndCounterClockwise)
{
    for (int si = 0; si < LEVEL_SECTORS; si++) {
        const Sector &s = level_sectors[si];
        ASSERT_GE(s.count, 3);
        for (int i = 0; i < s.count; i++) {
            const Wall &w = s.walls[i];
            // Closed: the wall's end starts exactly one other wall.
            int starts_here = 0;
            for (int j = 0; j < s.count; j++) {
                const Wall &o = s.walls[j];
                starts_here += (j != i && o.x == fx::itofix(end_x(w)) && o.y == fx::itofix(end_y(w))) ? 1 : 0;
            }
            EXPECT_EQ(starts_here, 1) << "S" << si + 1 << " wall " << i;
            // Convex and wound counter-clockwise: every other wall's start
            // lies strictly on the inner side of this wall's line.
            for (int j = 0; j < s.count; j++) {
                const Wall &o = s.walls[j];
                if (o.x == w.x && o.y == w.y) {
                    continue;
                }
                if (o.x == fx::itofix(end_x(w)) && o.y == fx::itofix(end_y(w))) {
                    continue;
                }
                const double side = static_cast<double>(w.ux) * (o.y - w.y) -
                                    static_cast<double>(w.uy) * (o.x - w.x);
                EXPECT_GT(side, 0) << "S" << si + 1 << " wall " << i << " vertex of wall " << j;
            }
        }
    }
}

TEST_F(Level, PortalsComeFirstAndAreTwinned)
{
    const int portals[LEVEL_SECTORS] = {1, 2, 2, 2, 2, 1};
    for (int si = 0; si < LEVEL_SECTORS; si++) {
        Sector &s = level_sectors[si];
        for (int i = 0; i < s.count; i++) {
            const Wall &w = s.walls[i];
            EXPECT_EQ(w.is_portal, i < portals[si] ? 1 : 0) << "S" << si + 1 << " index " << i;
            EXPECT_EQ(w.neighbour != nullptr, w.is_portal == 1);
            if (w.is_portal != 1) {
                continue;
            }
            int twins = 0;
            for (int j = 0; j < w.neighbour->count; j++) {
                const Wall &t = w.neighbour->walls[j];
                if (t.x == fx::itofix(end_x(w)) && t.y == fx::itofix(end_y(w)) &&
                    fx::itofix(end_x(t)) == w.x && fx::itofix(end_y(t)) == w.y) {
                    twins++;
                    EXPECT_EQ(t.neighbour, &s);
                    EXPECT_EQ(t.is_portal, 1);
                }
            }
            EXPECT_EQ(twins, 1) << "S" << si + 1 << " portal " << i;
        }
    }
}

TEST_F(Level, ChainLeadsFromTheStartRoomToTheFarRoom)
{
    ASSERT_EQ(start, &level_sectors[0]);
    EXPECT_EQ(start->count, 6);
    // Walk the chain: each sector's portals lead back and on.
    std::vector<const Sector *> chain = {start};
    std::set<const Sector *> seen = {start};
    for (size_t k = 0; k < chain.size(); k++) {
        for (int i = 0; i < chain[k]->count; i++) {
            const Sector *n = chain[k]->walls[i].neighbour;
            if (n != nullptr && seen.insert(n).second) {
                chain.push_back(n);
            }
        }
    }
    ASSERT_EQ(chain.size(), 6u);
    for (int i = 0; i < LEVEL_SECTORS; i++) {
        EXPECT_EQ(chain[i], &level_sectors[i]) << "step " << i;
    }
}

TEST_F(Level, StartPointLiesInsideTheStartRoom)
{
    for (int i = 0; i < start->count; i++) {
        const Wall &w = start->walls[i];
        const int64_t side = int64_t{w.ux} * (0 - w.y) - int64_t{w.uy} * (0 - w.x);
        EXPECT_GT(side, 0) << "wall " << i;
    }
}

// Sorting small sectors built by hand.
TEST(SortWalls, PortalsLeadAndNoWallIsLost)
{
    Sector neighbour = {nullptr, 0};
    const struct {
        const char *name;
        std::vector<bool> portal;
    } cases[] = {
        {"mixed", {false, false, true, false, false, false}},
        {"two portals last", {false, false, false, true, true}},
        {"all solid", {false, false, false, false}},
        {"all portals", {true, true, true}},
        {"empty", {}},
    };
    for (const auto &c : cases) {
        std::vector<Wall> walls(c.portal.size());
        std::multiset<int> before;
        int portals = 0;
        for (size_t i = 0; i < walls.size(); i++) {
            const Vertex a = at(static_cast<int>(i), 0);
            const Vertex b = at(static_cast<int>(i), 1);
            make_wall(&walls[i], &brick, &a, &b, c.portal[i] ? &neighbour : nullptr);
            before.insert(walls[i].x);
            portals += c.portal[i] ? 1 : 0;
        }
        Sector s = {walls.data(), static_cast<int32_t>(walls.size())};
        sort_walls(&s);
        std::multiset<int> after;
        for (size_t i = 0; i < walls.size(); i++) {
            EXPECT_EQ(walls[i].is_portal, static_cast<int>(i) < portals ? 1 : 0) << c.name << " " << i;
            after.insert(walls[i].x);
        }
        EXPECT_EQ(before, after) << c.name;
    }
}

TEST(SortWalls, OrderComparesPortalFlagsOnly)
{
    Wall solid = {};
    Wall portal = {};
    portal.is_portal = 1;
    EXPECT_EQ(wall_order(&solid, &solid), 0);
    EXPECT_GT(wall_order(&solid, &portal), 0);
    EXPECT_LT(wall_order(&portal, &solid), 0);
    EXPECT_EQ(wall_order(&portal, &portal), 0);
}

}  // namespace
