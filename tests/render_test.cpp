// The renderer: casting walls into screen columns, following portals,
// drawing the columns, and whole frames of the built-in level.
//
// The view is 800 x 600.  Hand-made walls lie on the line y = -2 (two
// units ahead of a viewer at the origin looking along -y) and run along +x,
// so that their direction is exact and a column whose ray angle is 0 meets
// the wall at the foot of the perpendicular, x = 0, with no rounding at all.

#include <gtest/gtest.h>

#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "app.h"
#include "render.h"

namespace {

constexpr int VIEW_W = 800;
constexpr int VIEW_H = 600;
constexpr int CENTRE = 400;  // the column that looks straight ahead
constexpr fixed UNIT = 0x10000;
constexpr double STEP_RADIANS = 2 * 3.14159265358979323846 / ANGLE_STEPS;

Wall wall_between(BITMAP **slot, fixed x0, fixed y0, fixed x1, fixed y1,
                  Sector *neighbour = nullptr)
{
    const Vertex a{x0, y0};
    const Vertex b{x1, y1};
    Wall w;
    make_wall(&w, slot, &a, &b, neighbour);
    return w;
}

// A wall on the line y = -2 from x0 to x1 (raw 16.16 values), facing +y.
Wall wall_ahead(BITMAP **slot, fixed x0, fixed x1, Sector *neighbour = nullptr)
{
    return wall_between(slot, x0, -2 * UNIT, x1, -2 * UNIT, neighbour);
}

// The view angle at which column c looks at `wall` with ray angle r, that
// is r steps away from the direction straight toward the wall's line.
int heading_for(int r, int c, const Wall &wall)
{
    return (r + wall.angle - col_angle[c]) & ANGLE_MASK;
}

bool filled(int c)
{
    return column_slots[c].stamp == frame_stamp;
}

// The 8-bit frame stamp comes round every 256 frames, and a slot last
// filled that many frames back (or never filled, stamped 0, in the frame
// the stamp wraps to 0) then counts as filled.  Tests that count the
// filled columns of a frame first stamp every slot as filled by the frame
// before.
void forget_fills()
{
    for (int c = 0; c < view_width; c++) {
        column_slots[c].stamp = frame_stamp;
    }
}

void open_frame()
{
    forget_fills();
    begin_frame();
}

int filled_columns()
{
    int n = 0;
    for (int c = 0; c < view_width; c++) {
        n += filled(c) ? 1 : 0;
    }
    return n;
}

// Texture pixels are 64 * tag + texel, so a pixel read back from the
// target tells which texture (tag 1 to 3) and which texel (0 to 63) it
// came from.  The ceiling (36) and floor (2) colours have tag 0.
int tag_of(int pixel)
{
    return pixel >> 6;
}

int texel_of(int pixel)
{
    return pixel & 63;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        ASSERT_TRUE(build_tables(VIEW_W, VIEW_H));
        BITMAP **slots[3] = {&brick_texture, &brickd_texture, &weirdo_texture};
        for (int t = 0; t < 3; t++) {
            *slots[t] = create_bitmap_ex(8, 64, 64);
            ASSERT_NE(*slots[t], nullptr);
            for (int r = 0; r < 64; r++) {
                for (int i = 0; i < 64; i++) {
                    (*slots[t])->line[r][i] = static_cast<unsigned char>(64 * (t + 1) + i);
                }
            }
        }
        target = create_bitmap_ex(8, VIEW_W, VIEW_H);
        ASSERT_NE(target, nullptr);
        sectors_drawn = 1;
        open_frame();
    }

    void TearDown() override
    {
        destroy_bitmap(target);
        destroy_bitmap(brick_texture);
        destroy_bitmap(brickd_texture);
        destroy_bitmap(weirdo_texture);
        brick_texture = brickd_texture = weirdo_texture = nullptr;
        free_tables();
    }

    int pixel(int x, int y) const
    {
        return target->line[y][x];
    }

    BITMAP *target = nullptr;
};

// ---------------------------------------------------------------------------
// Casting one wall.
// ---------------------------------------------------------------------------

using Cast = Render;

// A wall straight ahead at distance d is 600 / d pixels high in the centre
// column, whose ray looks straight at it.
TEST_F(Cast, HeightIsTheScreenHeightOverTheDistance)
{
    const struct {
        int distance;
        fixed height;
    } cases[] = {{1, 600 * UNIT}, {2, 300 * UNIT}, {3, 200 * UNIT}, {4, 150 * UNIT}, {8, 75 * UNIT}};
    for (const auto &k : cases) {
        open_frame();
        const Wall w = wall_between(&brickd_texture, -3 * UNIT, -k.distance * UNIT, 3 * UNIT,
                                    -k.distance * UNIT);
        cast_wall(&w, heading_for(0, CENTRE, w), 0, 0, CENTRE, CENTRE);
        const ColumnSlot &s = column_slots[CENTRE];
        EXPECT_TRUE(filled(CENTRE)) << "distance " << k.distance;
        EXPECT_EQ(s.height, k.height) << "distance " << k.distance;
        EXPECT_EQ(s.texture, &brickd_texture);
        EXPECT_EQ(s.tex_column, 0) << "the ray meets the wall 3 units from its start";
        EXPECT_EQ(filled_columns(), 1) << "only the column asked for";
    }
}

// The centre ray meets the line at x = 0; where the wall starts decides
// whether that is on the wall, and which texture column it shows (64 to
// the unit, counted from the wall's start, repeating every unit).
TEST_F(Cast, HitsFromTheWallsStartToItsEndAndTheTextureColumn)
{
    const struct {
        fixed start;   // x of the wall's start
        fixed length;  // along +x
        bool hit;
        int tex_column;
    } cases[] = {
        {0, UNIT, true, 0},                 // the ray meets the start
        {-UNIT, UNIT, true, 0},             // ... and the end: a whole unit in
        {1, UNIT, false, 0},                // starts one raw unit past the ray
        {-UNIT - 1, UNIT, false, 0},        // ends one raw unit short of it
        {-UNIT / 2, UNIT, true, 32},        // half a unit in
        {-1024, UNIT, true, 1},             // 1/64 unit in
        {-1023, UNIT, true, 0},
        {-3 * UNIT / 2, 2 * UNIT, true, 32},  // the texture repeats every unit
        {-UNIT + 1024, UNIT, true, 63},
    };
    for (const auto &k : cases) {
        open_frame();
        const Wall w = wall_ahead(&brick_texture, k.start, k.start + k.length);
        ASSERT_EQ(w.length, k.length);
        cast_wall(&w, heading_for(0, CENTRE, w), 0, 0, 0, VIEW_W - 1);
        EXPECT_EQ(filled(CENTRE), k.hit) << "start " << k.start;
        if (k.hit) {
            EXPECT_EQ(column_slots[CENTRE].tex_column, k.tex_column) << "start " << k.start;
        }
    }
}

// Rays from 2047 steps to one side up to 2046 to the other head toward
// the line.  The wall is 6000 units long, so the nearly parallel rays at
// the edges still meet it, about 2608 units to either side of the foot.
TEST_F(Cast, RayWindowRunsFromMinus2047To2046)
{
    const Wall w = wall_ahead(&brick_texture, -3000 * UNIT, 3000 * UNIT);
    const struct {
        int r;
        bool hit;
    } cases[] = {{6145, true}, {8191, true}, {0, true}, {1, true}, {2046, true}, {2047, false}};
    for (const auto &k : cases) {
        open_frame();
        cast_wall(&w, heading_for(k.r, CENTRE, w), 0, 0, CENTRE, CENTRE);
        EXPECT_EQ(filled(CENTRE), k.hit) << "r = " << k.r;
    }
}

// Seen from behind (the viewer one unit beyond the line, looking away from
// it), a wall changes nothing, not even the open range, although the
// column to the right is filled and a cast would close the range over it.
TEST_F(Cast, WallSeenFromBehindChangesNothing)
{
    const Wall w = wall_ahead(&brick_texture, -3 * UNIT, 3 * UNIT);
    const int heading = heading_for(0, CENTRE, w);
    const fixed vy = -3 * UNIT;
    column_slots[VIEW_W - 1].stamp = frame_stamp;

    cast_wall(&w, heading, 0, vy, 0, VIEW_W - 1);
    EXPECT_EQ(filled_columns(), 1);
    EXPECT_EQ(open_left, 0);
    EXPECT_EQ(open_right, VIEW_W - 1);

    span_first = 123;
    span_last = 456;
    const Wall portal = wall_ahead(&brick_texture, -3 * UNIT, 3 * UNIT, &level_sectors[0]);
    EXPECT_FALSE(portal_span(&portal, heading, 0, vy, 0, VIEW_W - 1));
    EXPECT_EQ(span_first, 123);
    EXPECT_EQ(span_last, 456);

    // From the other side the same wall fills the view, and the open range
    // closes over every filled column (open_left stops on the column that
    // was filled before).
    cast_wall(&w, heading, 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(filled_columns(), VIEW_W);
    EXPECT_EQ(open_left, VIEW_W - 1);
    EXPECT_EQ(open_right, -1);
    EXPECT_FALSE(portal_span(&portal, heading, 0, 0, 0, VIEW_W - 1)) << "nothing is free";
}

// After any cast that sees the wall's front, open_right is the highest free
// column, also when the wall itself fills nothing; open_left moves only
// across the run it fills from open_left on.
TEST_F(Cast, OpenRangeAfterACast)
{
    const Wall w = wall_ahead(&brick_texture, -3 * UNIT, 3 * UNIT);
    const int heading = heading_for(0, CENTRE, w);
    column_slots[VIEW_W - 1].stamp = frame_stamp;
    column_slots[VIEW_W - 2].stamp = frame_stamp;
    column_slots[5].stamp = frame_stamp;

    cast_wall(&w, heading, 0, 0, 300, 310);  // fills 300..310 only
    EXPECT_EQ(open_right, VIEW_W - 3);
    EXPECT_EQ(open_left, 0);

    cast_wall(&w, heading, 0, 0, 0, 3);
    EXPECT_EQ(open_left, 4);
    cast_wall(&w, heading, 0, 0, 0, 20);
    EXPECT_EQ(open_left, 5) << "the run from open_left stops on column 5, filled before";
    EXPECT_EQ(filled_columns(), 3 + 11 + 4 + 16);
}

// ---------------------------------------------------------------------------
// Sectors and portals.
// ---------------------------------------------------------------------------

using Traverse = Render;

// A portal 200 raw units (0.003 units) wide, two units ahead, around the
// centre ray: it spans less than one angle step on each side of that ray,
// and the rays of columns 399 and 401 are 3 and 2 steps away.  Only the
// centre column sees it, so the far room is worked in that column alone,
// although its wall would fill the whole view.
TEST_F(Traverse, PortalSeenInOneColumnIsEnteredWithThatColumn)
{
    Wall far[1] = {wall_between(&weirdo_texture, -50 * UNIT, -5 * UNIT, 50 * UNIT, -5 * UNIT)};
    Sector beyond{far, 1};
    Wall near[1] = {wall_ahead(&brick_texture, -100, 100, &beyond)};
    Sector here{near, 1};
    const int heading = heading_for(0, CENTRE, near[0]);

    ASSERT_TRUE(portal_span(&near[0], heading, 0, 0, 0, VIEW_W - 1));
    EXPECT_EQ(span_first, CENTRE);
    EXPECT_EQ(span_last, CENTRE);

    render_sector(&here, heading, 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(sectors_drawn, 2);
    EXPECT_EQ(filled_columns(), 1);
    ASSERT_TRUE(filled(CENTRE));
    EXPECT_EQ(column_slots[CENTRE].texture, &weirdo_texture);
    EXPECT_EQ(column_slots[CENTRE].height, 120 * UNIT) << "five units ahead";
}

// Two walls meet at x = 0, where the centre ray meets both (at the end of
// the one and the start of the other).  The wall nearer the end of the
// array is cast first and keeps that column; the columns beside it are
// each met by one wall only.
TEST_F(Traverse, TieGoesToTheWallCastFirst)
{
    const Wall left = wall_ahead(&brick_texture, -UNIT, 0);
    const Wall right = wall_ahead(&brickd_texture, 0, UNIT);
    const int heading = heading_for(0, CENTRE, left);
    const struct {
        Wall first;
        Wall second;
        BITMAP **centre;
    } cases[] = {{left, right, &brickd_texture}, {right, left, &brick_texture}};
    for (const auto &k : cases) {
        open_frame();
        Wall walls[2] = {k.first, k.second};
        Sector room{walls, 2};
        render_sector(&room, heading, 0, 0, 0, VIEW_W - 1);
        EXPECT_EQ(column_slots[CENTRE].texture, k.centre);
        EXPECT_EQ(column_slots[CENTRE].tex_column, 0);
        EXPECT_EQ(column_slots[CENTRE - 1].texture, &brick_texture);
        EXPECT_EQ(column_slots[CENTRE + 1].texture, &brickd_texture);
    }
}

TEST_F(Traverse, SectorWithoutWallsDoesNothing)
{
    Sector empty{nullptr, 0};
    render_sector(&empty, 0, 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(filled_columns(), 0);
    EXPECT_EQ(open_left, 0);
    EXPECT_EQ(open_right, VIEW_W - 1);
    EXPECT_EQ(sectors_drawn, 1);
}

// A wall 20 units long two units ahead fills the whole view (it reaches 1.5
// units to either side at the view's edges); there is no portal to follow.
TEST_F(Traverse, SectorOfSolidWallsEntersNoNeighbour)
{
    Wall walls[2] = {wall_ahead(&brick_texture, -10 * UNIT, 10 * UNIT),
                     wall_between(&brickd_texture, 10 * UNIT, 10 * UNIT, -10 * UNIT, 10 * UNIT)};
    Sector room{walls, 2};
    render_sector(&room, heading_for(0, CENTRE, walls[0]), 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(filled_columns(), VIEW_W);
    EXPECT_EQ(sectors_drawn, 1);
    for (int c = 0; c < VIEW_W; c++) {
        ASSERT_EQ(column_slots[c].texture, &brick_texture) << "column " << c;
    }
}

// Two portals side by side ahead, both into the same room, and one behind
// the viewer.  The room is entered, and counted, once through each portal
// in view; the sector of portals itself fills no column, so the columns
// that look between the two portals stay free.
TEST_F(Traverse, EveryPortalEnteredIsCounted)
{
    Wall far[1] = {wall_between(&weirdo_texture, -50 * UNIT, -5 * UNIT, 50 * UNIT, -5 * UNIT)};
    Sector beyond{far, 1};
    Wall portals[3] = {
        wall_ahead(&brick_texture, -UNIT, -UNIT / 2, &beyond),
        wall_ahead(&brick_texture, UNIT / 2, UNIT, &beyond),
        wall_between(&brick_texture, UNIT, 2 * UNIT, -UNIT, 2 * UNIT, &beyond),
    };
    Sector here{portals, 3};
    render_sector(&here, heading_for(0, CENTRE, portals[0]), 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(sectors_drawn, 3);

    // The portals span 0.5 to 1 unit either side at distance 2, that is
    // 0.25 to 0.5 on the unit view plane: columns 533 to 666 and 133 to
    // 266, give or take the whole-step ray angles.
    for (int c : {150, 200, 250, 550, 600, 650}) {
        EXPECT_TRUE(filled(c)) << "column " << c;
        EXPECT_EQ(column_slots[c].texture, &weirdo_texture) << "column " << c;
    }
    for (int c : {0, 100, 300, CENTRE, 500, 700, VIEW_W - 1}) {
        EXPECT_FALSE(filled(c)) << "column " << c;
    }
}

// A sector reached through a portal can lead on through its own portals;
// the portal it was entered by is seen from behind on the way back.
TEST_F(Traverse, ChainOfRoomsIsFollowedOnceEach)
{
    Sector rooms[3];
    // Three rooms one behind the other: the viewer's, with a portal at
    // y = -2; the middle one, with a portal at y = -4 and the twin of the
    // first; the last, with a wall at y = -6.
    Wall third[1] = {wall_between(&weirdo_texture, -50 * UNIT, -6 * UNIT, 50 * UNIT, -6 * UNIT)};
    Wall second[2] = {
        wall_between(&brick_texture, -UNIT, -4 * UNIT, UNIT, -4 * UNIT, &rooms[2]),
        wall_between(&brick_texture, UNIT, -2 * UNIT, -UNIT, -2 * UNIT, &rooms[0]),
    };
    Wall first[1] = {wall_ahead(&brick_texture, -UNIT, UNIT, &rooms[1])};
    rooms[0] = Sector{first, 1};
    rooms[1] = Sector{second, 2};
    rooms[2] = Sector{third, 1};
    render_sector(&rooms[0], heading_for(0, CENTRE, first[0]), 0, 0, 0, VIEW_W - 1);
    EXPECT_EQ(sectors_drawn, 3);
    EXPECT_EQ(column_slots[CENTRE].texture, &weirdo_texture);
    EXPECT_EQ(column_slots[CENTRE].height, 100 * UNIT) << "six units ahead";
}

// ---------------------------------------------------------------------------
// Drawing columns.
// ---------------------------------------------------------------------------

// Pixels of the column texture are 64 * (1 + row % 3) + texel, so a pixel
// tells which row of the image (the wall's texture column) and which texel
// of it was drawn.  The target starts all 0.
class Draw : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        ASSERT_TRUE(build_tables(VIEW_W, VIEW_H));
        texture = create_bitmap_ex(8, 64, 64);
        other = create_bitmap_ex(8, 64, 64);
        target = create_bitmap_ex(8, VIEW_W, VIEW_H);
        ASSERT_NE(texture, nullptr);
        ASSERT_NE(other, nullptr);
        ASSERT_NE(target, nullptr);
        for (int r = 0; r < 64; r++) {
            for (int i = 0; i < 64; i++) {
                texture->line[r][i] = static_cast<unsigned char>(64 * (1 + r % 3) + i);
                other->line[r][i] = static_cast<unsigned char>(64 * (1 + (r + 1) % 3) + i);
            }
        }
        clear_to_color(target, 0);
        // Every column filled this frame with nothing to draw.
        begin_frame();
        for (int c = 0; c < VIEW_W; c++) {
            column_slots[c] = ColumnSlot{nullptr, 0, 0, frame_stamp};
        }
    }

    void TearDown() override
    {
        destroy_bitmap(target);
        destroy_bitmap(other);
        destroy_bitmap(texture);
        free_tables();
    }

    void fill(int c, BITMAP **slot, fixed height, int tex_column)
    {
        column_slots[c] = ColumnSlot{slot, height, tex_column, frame_stamp};
    }

    // The texel drawn at (x, y), or -1 where nothing was drawn.
    int texel(int x, int y) const
    {
        const int p = target->line[y][x];
        return p == 0 ? -1 : p & 63;
    }

    // Which row of the texture image (modulo 3) the pixel came from.
    int image_row(int x, int y) const
    {
        return (target->line[y][x] >> 6) - 1;
    }

    std::vector<int> column(int x) const
    {
        std::vector<int> v;
        for (int y = 0; y < VIEW_H; y++) {
            v.push_back(target->line[y][x]);
        }
        return v;
    }

    BITMAP *texture = nullptr;
    BITMAP *other = nullptr;
    BITMAP *target = nullptr;
};

// A strip is centred on row 300 (half of it above, the odd row below),
// drawn bottom up with texel 0 at its foot, and clipped to the screen.
TEST_F(Draw, RowsAndTexelsOfAStrip)
{
    const struct {
        fixed height;
        int top;     // first row drawn
        int bottom;  // last row drawn
        struct {
            int row;
            int texel;
        } probes[3];
    } cases[] = {
        {1 * UNIT, 300, 300, {{300, 0}, {300, 0}, {300, 0}}},
        {2 * UNIT, 299, 300, {{300, 0}, {299, 32}, {299, 32}}},
        {3 * UNIT, 299, 301, {{301, 0}, {300, 21}, {299, 42}}},
        {300 * UNIT, 150, 449, {{449, 0}, {300, 31}, {150, 63}}},
        {600 * UNIT, 0, 599, {{599, 0}, {300, 31}, {0, 63}}},
        // One row more than the screen: cut at the bottom only, so the
        // lowest row still starts the texture.
        {601 * UNIT, 0, 599, {{599, 0}, {300, 31}, {0, 63}}},
        // 200 rows cut at each end: row 599 is row 200 of the strip.
        {1000 * UNIT, 0, 599, {{599, 12}, {300, 31}, {0, 51}}},
        // A saturated height: the middle of the texture fills the screen.
        {0x7FFFFFFF, 0, 599, {{599, 31}, {300, 31}, {0, 32}}},
        // A fraction of a pixel adds no row.
        {300 * UNIT + 0xFFFF, 150, 449, {{449, 0}, {300, 31}, {150, 63}}},
    };
    const int x = 123;
    for (const auto &k : cases) {
        clear_to_color(target, 0);
        fill(x, &texture, k.height, 2);
        draw_columns(target);
        for (int y = 0; y < VIEW_H; y++) {
            const bool inside = y >= k.top && y <= k.bottom;
            ASSERT_EQ(texel(x, y) >= 0, inside) << "height " << k.height << " row " << y;
            if (inside) {
                ASSERT_EQ(image_row(x, y), 2) << "height " << k.height << " row " << y;
            }
            if (inside && y < k.bottom) {
                ASSERT_GE(texel(x, y), texel(x, y + 1)) << "texels rise up the strip";
            }
        }
        for (const auto &p : k.probes) {
            EXPECT_EQ(texel(x, p.row), p.texel) << "height " << k.height << " row " << p.row;
        }
        EXPECT_EQ(texel(x - 1, 300), -1) << "the neighbours draw nothing";
        EXPECT_EQ(texel(x + 1, 300), -1);
    }
}

// Every strip of 1 to 600 rows, one per column: count / 2 rows above the
// middle row and the rest from it down, with the 64 texels spread evenly,
// texel floor(64 k / count) at row k from the foot.  Where 64 k / count is
// whole the truncated step may give the texel below it.
TEST_F(Draw, EveryStripUpToTheScreenHeightIsCentredAndEven)
{
    for (int count = 1; count <= VIEW_H; count++) {
        fill(count - 1, &texture, count * UNIT, 0);
    }
    draw_columns(target);
    for (int count = 1; count <= VIEW_H; count++) {
        const int x = count - 1;
        const int top = VIEW_H / 2 - count / 2;
        const int bottom = top + count - 1;
        for (int y = 0; y < VIEW_H; y++) {
            const bool inside = y >= top && y <= bottom;
            ASSERT_EQ(texel(x, y) >= 0, inside) << "count " << count << " row " << y;
            if (!inside) {
                continue;
            }
            const int k = bottom - y;
            const int even = 64 * k / count;
            if (64 * k % count != 0) {
                ASSERT_EQ(texel(x, y), even) << "count " << count << " row " << y;
            } else {
                ASSERT_GE(texel(x, y), even - 1) << "count " << count << " row " << y;
                ASSERT_LE(texel(x, y), even) << "count " << count << " row " << y;
            }
        }
    }
}

// Below one pixel nothing is drawn, and the texture is not looked at (a
// slot never filled has no texture).
TEST_F(Draw, NothingBelowOnePixel)
{
    const fixed heights[] = {0, 1, 0xFFFF, -UNIT, -0x7FFFFFFF};
    for (int i = 0; i < 5; i++) {
        fill(10 * i, nullptr, heights[i], 0);
    }
    draw_columns(target);
    for (int i = 0; i < 5; i++) {
        for (int y = 0; y < VIEW_H; y++) {
            ASSERT_EQ(texel(10 * i, y), -1) << "height " << heights[i] << " row " << y;
        }
    }
}

// A column not filled this frame is drawn, in its own place, from the
// nearest column that was: its left neighbour when that one was filled,
// else the nearest on either side, the left one on a tie.  Whatever an
// earlier frame left in an unfilled slot is never drawn.
TEST_F(Draw, UnfilledColumnsAreDrawnFromTheNearestFilledOne)
{
    struct Source {
        int column;
        int from;  // -1: nothing drawn
    };
    const struct Case {
        const char *what;
        std::vector<int> unfilled;
        std::vector<Source> want;
    } cases[] = {
        {"one column", {300}, {{300, 299}}},
        {"two columns", {100, 101}, {{100, 99}, {101, 102}}},
        {"three columns", {200, 201, 202}, {{200, 199}, {201, 199}, {202, 203}}},
        {"four columns", {500, 501, 502, 503}, {{500, 499}, {501, 499}, {502, 504}, {503, 504}}},
        {"column 0", {0}, {{0, 1}}},
        {"columns 0 to 2", {0, 1, 2}, {{0, 3}, {1, 3}, {2, 3}}},
        {"the last column", {VIEW_W - 1}, {{VIEW_W - 1, VIEW_W - 2}}},
        {"the last two", {VIEW_W - 2, VIEW_W - 1}, {{VIEW_W - 2, VIEW_W - 3}, {VIEW_W - 1, VIEW_W - 3}}},
        {"all but one", {}, {}},
    };
    // Neighbouring filled columns draw strips of different heights, so a
    // column's pixels tell which slot it was drawn from; the slots left
    // unfilled hold a tall strip of the other image from an earlier frame.
    const auto strip = [](int c) { return (20 + 2 * (c % 250)) * UNIT; };
    for (const Case &k : cases) {
        std::vector<int> unfilled = k.unfilled;
        std::vector<Source> want = k.want;
        if (unfilled.empty()) {
            for (int c = 0; c < VIEW_W; c++) {
                if (c != 400) {
                    unfilled.push_back(c);
                    want.push_back({c, 400});
                }
            }
        }
        clear_to_color(target, 0);
        for (int c = 0; c < VIEW_W; c++) {
            fill(c, &texture, strip(c), c % 64);
        }
        for (int c : unfilled) {
            column_slots[c] = ColumnSlot{&other, 590 * UNIT, 7, static_cast<uint8_t>(frame_stamp - 1)};
        }
        draw_columns(target);
        for (const Source &s : want) {
            EXPECT_TRUE(column(s.column) == column(s.from))
                << k.what << ": column " << s.column << " should show column " << s.from;
        }
        // Only the old strips reach row 10.
        for (int c = 0; c < VIEW_W; c++) {
            ASSERT_EQ(texel(c, 10), -1) << k.what << ": column " << c << " shows an old slot";
        }
    }
}

// With no column filled this frame no wall is drawn, whatever the slots
// hold, also slots stamped in the frame just before.
TEST_F(Draw, NothingFilledDrawsNoWalls)
{
    for (int c = 0; c < VIEW_W; c++) {
        column_slots[c] = ColumnSlot{&texture, 300 * UNIT, c % 64, static_cast<uint8_t>(frame_stamp - 1)};
    }
    column_slots[17].stamp = static_cast<uint8_t>(frame_stamp + 1);
    draw_columns(target);
    for (int c = 0; c < VIEW_W; c++) {
        for (int y = 0; y < VIEW_H; y++) {
            ASSERT_EQ(texel(c, y), -1) << "column " << c << " row " << y;
        }
    }
}

// ---------------------------------------------------------------------------
// The level in floating point, for checking whole frames.
// ---------------------------------------------------------------------------

struct Point {
    double x;
    double y;
};

Point wall_start(const Wall &w)
{
    return {w.x / 65536.0, w.y / 65536.0};
}

// The level's corners are whole map units; the stored direction is a
// little short of unit length, so round.
Point wall_end(const Wall &w)
{
    return {std::round((w.x + static_cast<double>(w.length) * w.ux / 65536.0) / 65536.0),
            std::round((w.y + static_cast<double>(w.length) * w.uy / 65536.0) / 65536.0)};
}

// The heading of the direction from p to q, in angle steps, not wrapped.
double heading_to(Point p, Point q)
{
    return std::atan2(q.x - p.x, q.y - p.y) / STEP_RADIANS;
}

// The difference of two headings in steps, in -4096..4096.
double turn_between(double from, double to)
{
    double d = std::fmod(to - from, ANGLE_STEPS);
    if (d > ANGLE_STEPS / 2) {
        d -= ANGLE_STEPS;
    } else if (d < -ANGLE_STEPS / 2) {
        d += ANGLE_STEPS;
    }
    return d;
}

// How far a point lies inside a sector: its distance from the nearest
// wall's line (negative outside).
double clearance(const Sector &s, Point p)
{
    double nearest = 1e300;
    for (int i = 0; i < s.count; i++) {
        const Point a = wall_start(s.walls[i]);
        const Point b = wall_end(s.walls[i]);
        const double ex = b.x - a.x;
        const double ey = b.y - a.y;
        nearest = std::min(nearest, (ex * (p.y - a.y) - ey * (p.x - a.x)) / std::hypot(ex, ey));
    }
    return nearest;
}

// One ray followed through the portals to the solid wall it meets.
struct Trace {
    const Wall *wall = nullptr;  // null when the ray runs exactly through a corner
    double distance = 0;         // along the ray
    double cos_incidence = 1;    // between the ray and the wall's normal
    Point corner{0, 0};          // the corner of the walls met that is nearest in angle
    double corner_steps = 1e300;  // how far that corner lies from the ray, in steps
};

Trace trace_ray(const Sector *s, Point eye, double heading)
{
    const double dx = std::sin(heading * STEP_RADIANS);
    const double dy = std::cos(heading * STEP_RADIANS);
    Trace t;
    double from = 0;
    for (int depth = 0; depth <= LEVEL_SECTORS; depth++) {
        // A ray from inside a convex sector leaves it through one wall.
        const Wall *out = nullptr;
        double at = 1e300;
        for (int i = 0; i < s->count; i++) {
            const Point a = wall_start(s->walls[i]);
            const Point b = wall_end(s->walls[i]);
            const double ex = b.x - a.x;
            const double ey = b.y - a.y;
            const double den = dx * ey - dy * ex;
            if (std::fabs(den) < 1e-12) {
                continue;
            }
            const double along = ((a.x - eye.x) * ey - (a.y - eye.y) * ex) / den;
            const double u = ((a.x - eye.x) * dy - (a.y - eye.y) * dx) / den;
            if (along > from + 1e-9 && u >= -1e-9 && u <= 1 + 1e-9 && along < at) {
                at = along;
                out = &s->walls[i];
            }
        }
        if (out == nullptr) {
            t.corner_steps = 0;
            return t;
        }
        for (const Point &e : {wall_start(*out), wall_end(*out)}) {
            const double off = std::fabs(turn_between(heading, heading_to(eye, e)));
            if (off < t.corner_steps) {
                t.corner_steps = off;
                t.corner = e;
            }
        }
        if (out->is_portal == 0) {
            const Point a = wall_start(*out);
            const Point b = wall_end(*out);
            t.wall = out;
            t.distance = at;
            t.cos_incidence = std::fabs(dx * (b.y - a.y) - dy * (b.x - a.x)) / std::hypot(b.x - a.x, b.y - a.y);
            return t;
        }
        s = out->neighbour;
        from = at;
    }
    return t;
}

// Which portals rays from `eye` pass through, given the rays' headings.
// Seen from a sector, a portal covers the headings between its two ends,
// and a ray that has come into a convex sector through one portal leaves
// it through another exactly when its heading lies in that portal's
// range.  `margin` widens (or, negative, narrows) every range, in steps.
class PortalsInSight {
public:
    PortalsInSight(const Sector *start, Point eye, double margin) : start_(start), margin_(margin)
    {
        for (const Sector &s : level_sectors) {
            for (int i = 0; i < s.count; i++) {
                const Wall &p = s.walls[i];
                if (p.is_portal == 0) {
                    continue;
                }
                const double h0 = heading_to(eye, wall_start(p));
                const double width = turn_between(h0, heading_to(eye, wall_end(p)));
                ranges_.push_back({&p, h0 + width / 2, std::fabs(width) / 2 + margin_});
            }
        }
    }

    void add_ray(double heading) { follow(start_, nullptr, heading); }

    int count() const { return static_cast<int>(seen_.size()); }

private:
    struct Range {
        const Wall *portal;
        double middle;
        double half;
    };

    void follow(const Sector *s, const Sector *from, double heading)
    {
        for (int i = 0; i < s->count && s->walls[i].is_portal != 0; i++) {
            const Wall *p = &s->walls[i];
            if (p->neighbour == from) {
                continue;  // the way back
            }
            const Range &r = *std::find_if(ranges_.begin(), ranges_.end(),
                                           [p](const Range &x) { return x.portal == p; });
            if (std::fabs(turn_between(r.middle, heading)) <= r.half) {
                if (std::find(seen_.begin(), seen_.end(), p) == seen_.end()) {
                    seen_.push_back(p);
                }
                follow(p->neighbour, s, heading);
            }
        }
    }

    const Sector *start_;
    double margin_;
    std::vector<Range> ranges_;
    std::vector<const Wall *> seen_;
};

// ---------------------------------------------------------------------------
// Whole frames of the built-in level.
// ---------------------------------------------------------------------------

class Frames : public Render {
protected:
    void SetUp() override
    {
        Render::SetUp();
        build_level(&brick_texture, &brickd_texture, &weirdo_texture);
    }

    const Sector *sector(int n) const
    {
        return &level_sectors[n - 1];
    }
};

// From the start, heading 0, the far wall of the start room (W1, brick)
// faces the viewer four units ahead: 150 pixels high, rows 225 to 374,
// across the whole view.  The portal to the hall is 68 degrees off to the
// right, outside the 37 degrees each side of the view.
TEST_F(Frames, StartViewShowsTheFarWallFourUnitsAhead)
{
    forget_fills();
    render_view(target, sector(1), 0, 0, 0);
    EXPECT_EQ(sectors_drawn, 1);
    EXPECT_EQ(filled_columns(), VIEW_W);
    EXPECT_EQ(column_slots[CENTRE].height, 150 * UNIT);
    for (int y = 0; y < VIEW_H; y++) {
        const int p = pixel(CENTRE, y);
        if (y < 225) {
            ASSERT_EQ(p, CEILING_COLOR) << "row " << y;
        } else if (y > 374) {
            ASSERT_EQ(p, FLOOR_COLOR) << "row " << y;
        } else {
            ASSERT_EQ(tag_of(p), 1) << "brick, row " << y;
        }
    }
    EXPECT_EQ(texel_of(pixel(CENTRE, 374)), 0);
    EXPECT_EQ(texel_of(pixel(CENTRE, 225)), 63);
    // Seen square on, the wall is as high in every column, to within the
    // pixel that the whole-step ray angles can cost.
    for (int c = 0; c < VIEW_W; c++) {
        ASSERT_EQ(tag_of(pixel(c, 300)), 1) << "column " << c;
        ASSERT_GE(column_slots[c].height >> 16, 149) << "column " << c;
        ASSERT_LE(column_slots[c].height >> 16, 150) << "column " << c;
    }
}

// Viewpoints with portals in view.  The expected count is the viewer's
// sector plus the sectors that lines of sight through the portals reach:
//
// - S1 (0, 0) facing -x: the portal to the hall (x = -5, y within 2) is
//   within 22 degrees of the view direction; through it, rays reach the
//   hall's far wall (x = -8) at |y| <= 3.2, far short of the portal to S3
//   at y = 10.  Centre: W10 eight units ahead, 75 pixels, brickd.
// - S2 (-7.5, 0) facing +y: the portal to S3 (y = 10, x -8..-7) is ahead;
//   through it rays stay within 0.05 x per unit of y of x = -7.5, so they
//   meet S3's side walls or its portal to S4 around (-7.5, 19.5), and
//   just beyond it S4's wall W19; S4's portal to S5 at x = 9 is out of
//   reach.  The portal back to S1 is 51 degrees off, outside the view.
// - S5 (9.5, 10) facing -y: the portal to S6 at y = -15 is 25 units ahead;
//   beyond it the far wall W26 (weirdo) at y = -50, 60 units ahead: 10
//   pixels, rows 295 to 304.
// - S6 (9.5, -30) facing +y: through the portal to S5 (y = -15) rays run
//   up the third corridor to its diagonal portal into S4 at (9.5, 22.5),
//   and meet S4's wall W19 right behind it.
// - S3 (-7.4, 13.3) facing -y: through the portal to S2 the rays spread
//   by at most 0.12 x per unit of y and meet S2's walls W10 and W11; at
//   y within 2 they lie at x <= -5.5, clear of the portal to S1 at x = -5.
// - S1 (-4.5, 0.4) turned 17.35 degrees right of +y (heading 7797), toward
//   (-7.5, 10): through the portal to the hall at x = -5 it sees the
//   portal to S3 in a wedge about 2.7 degrees wide; beyond it the rays
//   meet S3's wall x = -8 between y = 10 and 11.6.
TEST_F(Frames, PortalsInViewAreEnteredAndCounted)
{
    const struct {
        int sector;
        double x, y;
        int heading;
        int sectors;
        int centre_tag;  // texture seen in the centre column, 0 for any
        int centre_rows;  // its height there, 0 for any
    } cases[] = {
        {1, 0, 0, 6144, 2, 2, 75},        {2, -7.5, 0, 0, 3, 2, 0},
        {5, 9.5, 10, 4096, 2, 3, 10},     {6, 9.5, -30, 0, 3, 2, 0},
        {3, -7.4, 13.3, 4096, 2, 2, 0},   {1, -4.5, 0.4, 7797, 3, 0, 0},
    };
    for (const auto &k : cases) {
        forget_fills();
        render_view(target, sector(k.sector), k.heading, fx::ftofix(k.x), fx::ftofix(k.y));
        EXPECT_EQ(sectors_drawn, k.sectors) << "S" << k.sector << " (" << k.x << ", " << k.y << ")";
        if (k.centre_tag != 0) {
            EXPECT_EQ(tag_of(pixel(CENTRE, VIEW_H / 2)), k.centre_tag) << "S" << k.sector;
        }
        if (k.centre_rows != 0) {
            int rows = 0;
            for (int y = 0; y < VIEW_H; y++) {
                rows += tag_of(pixel(CENTRE, y)) != 0 ? 1 : 0;
            }
            EXPECT_EQ(rows, k.centre_rows) << "S" << k.sector;
        }
    }
}

// Viewpoints on a grid in every sector, at least 0.35 units from its walls
// (finer in the narrow corridors), looking all round every 128 steps.  Each
// frame is held against the level followed in floating point along each
// column's ray, at heading A + col_angle[c] less half a turn.
//
// - A column is left unfilled only beside a corner.  A wall's stored angle
//   is its direction cut to a whole step, up to one step off, and each wall
//   is cast as if turned by its own error, so next to the corner where two
//   walls meet there can be a sliver of headings, within about a step of
//   the corner, that neither of them claims.  So an unfilled column's ray
//   passes within 1.5 steps of a corner of the walls it meets, and one
//   corner leaves at most two columns unfilled (the rays of neighbouring
//   columns are at least one step apart and never two single steps in a
//   row, so no three of them fit within a step either side of a corner).
// - Two steps or more from any corner, a column shows the texture of the
//   wall that its ray meets, 600 / depth pixels high, to within what the
//   turned ray and the rounding of the tables allow.
// - sectors_drawn counts the portals entered: at least those that rays pass
//   through two steps clear of their ends, at most those that rays pass
//   through or within two steps of.
TEST_F(Frames, SweepLeavesColumnsUnfilledOnlyBesideCorners)
{
    for (int c = 2; c < VIEW_W; c++) {
        ASSERT_FALSE(col_angle[c - 2] - col_angle[c - 1] == 1 && col_angle[c - 1] - col_angle[c] == 1)
            << "column " << c;
    }

    const double spacing[LEVEL_SECTORS] = {0.75, 0.5, 0.25, 0.25, 0.25, 2.0};
    long frames = 0;
    long frames_with_gaps = 0;
    long unfilled = 0;
    long checked = 0;
    int worst = 0;
    int failures = 0;
    for (int n = 0; n < LEVEL_SECTORS; n++) {
        const Sector &s = level_sectors[n];
        double x0 = 1e9;
        double y0 = 1e9;
        double x1 = -1e9;
        double y1 = -1e9;
        for (int i = 0; i < s.count; i++) {
            const Point a = wall_start(s.walls[i]);
            x0 = std::min(x0, a.x);
            y0 = std::min(y0, a.y);
            x1 = std::max(x1, a.x);
            y1 = std::max(y1, a.y);
        }
        long sector_frames = 0;
        for (int i = 0; x0 + i * spacing[n] <= x1; i++) {
            for (int j = 0; y0 + j * spacing[n] <= y1; j++) {
                const Point eye{x0 + i * spacing[n], y0 + j * spacing[n]};
                if (clearance(s, eye) < 0.35) {
                    continue;
                }
                for (int heading = 0; heading < ANGLE_STEPS; heading += 128) {
                    // The walls of the frame, as the frame loop draws them
                    // (a point this far inside a sector is drawn from it).
                    forget_fills();
                    sectors_drawn = 1;
                    begin_frame();
                    render_sector(&s, heading, fx::ftofix(eye.x), fx::ftofix(eye.y), 0, VIEW_W - 1);
                    frames++;
                    sector_frames++;

                    PortalsInSight clear(&s, eye, -2.0);
                    PortalsInSight near(&s, eye, 2.0);
                    struct Gap {
                        Point corner;
                        int columns;
                    };
                    std::vector<Gap> gaps;
                    for (int c = 0; c < VIEW_W; c++) {
                        const double ray = heading + col_angle[c] - ANGLE_STEPS / 2;
                        clear.add_ray(ray);
                        near.add_ray(ray);
                        if (filled(c) && c % 8 != 0) {
                            continue;
                        }
                        const Trace t = trace_ray(&s, eye, ray);
                        const auto where = [&]() {
                            std::ostringstream m;
                            m << "S" << n + 1 << " (" << eye.x << ", " << eye.y << ") heading "
                              << heading << " column " << c;
                            return m.str();
                        };
                        if (!filled(c)) {
                            unfilled++;
                            EXPECT_LE(t.corner_steps, 1.5) << where();
                            failures += t.corner_steps > 1.5 ? 1 : 0;
                            auto g = std::find_if(gaps.begin(), gaps.end(), [&t](const Gap &x) {
                                return x.corner.x == t.corner.x && x.corner.y == t.corner.y;
                            });
                            if (g == gaps.end()) {
                                gaps.push_back({t.corner, 1});
                            } else {
                                g->columns++;
                                EXPECT_LE(g->columns, 2) << where();
                                failures += g->columns > 2 ? 1 : 0;
                            }
                        } else if (t.corner_steps >= 2.0) {
                            checked++;
                            const ColumnSlot &slot = column_slots[c];
                            const double turn = std::atan(1.5 * (c / static_cast<double>(VIEW_W) - 0.5));
                            const double want = VIEW_H / (t.distance * std::cos(turn));
                            const double tan_incidence =
                                std::sqrt(1 - t.cos_incidence * t.cos_incidence) / t.cos_incidence;
                            const double slack = 1 + want * (1.5 * tan_incidence * STEP_RADIANS +
                                                             0.5 / (65536 * t.cos_incidence) + 0.001);
                            const bool right = t.wall != nullptr && slot.texture == t.wall->texture &&
                                               std::fabs(slot.height / 65536.0 - want) <= slack;
                            EXPECT_TRUE(right) << where() << ": height " << slot.height / 65536.0
                                               << ", " << want << " expected";
                            failures += right ? 0 : 1;
                        }
                    }
                    const int gap_columns = VIEW_W - filled_columns();
                    frames_with_gaps += gap_columns > 0 ? 1 : 0;
                    worst = std::max(worst, gap_columns);
                    const bool counted =
                        sectors_drawn >= 1 + clear.count() && sectors_drawn <= 1 + near.count();
                    EXPECT_TRUE(counted) << "S" << n + 1 << " (" << eye.x << ", " << eye.y
                                         << ") heading " << heading << ": sectors_drawn "
                                         << sectors_drawn << ", portals in sight " << clear.count()
                                         << " to " << near.count();
                    failures += counted ? 0 : 1;
                    ASSERT_LT(failures, 20) << "giving up";
                }
            }
        }
        EXPECT_GE(sector_frames, 20 * ANGLE_STEPS / 128) << "too few viewpoints in S" << n + 1;
    }
    std::printf("[ sweep    ] %ld frames, %ld with unfilled columns, %ld unfilled columns, "
                "at most %d in one frame; %ld columns checked against the level\n",
                frames, frames_with_gaps, unfilled, worst, checked);
}

}  // namespace
