// Walking through the level with the keyboard, frame by frame through
// apply_keys: the steps each key combination takes, a scripted walk from
// the start room to the far room, and long random walks in which every
// frame is checked and drawn.

#include <gtest/gtest.h>

#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "app.h"
#include "move.h"
#include "render.h"
#include "scene.h"
#include "soak.h"

namespace {

using namespace soak;

Sector *sector_no(int n)
{
    return &level_sectors[n - 1];
}

int number_of(const Sector *s)
{
    return static_cast<int>(s - level_sectors) + 1;
}


fixed heading_cos(int angle)
{
    return cos_table[angle];
}

fixed heading_sin(int angle)
{
    return cos_table[(2048 - angle) & ANGLE_MASK];
}

class Walk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(build_tables(800, 600));
        reset_run_state(build_level(&brick_texture, &brickd_texture, &weirdo_texture), 1000);
    }
    void TearDown() override { free_tables(); }
};

struct KeyCase {
    const char *what;
    int from;  // sector number
    int angle;
    fixed x, y;
    std::vector<int> held;
    int to;
    fixed want_x, want_y;
};

TEST_F(Walk, KeysTakeTheirSteps)
{
    // At heading 300 both the cosine and the sine have low bits set, so a
    // shift after negation would land one unit off: -(c >> 3) is not
    // (-c) >> 3.  The room around (0, 0) is free for several steps.
    const int h = 300;
    const fixed c = heading_cos(h);
    const fixed s = heading_sin(h);
    ASSERT_NE(-(c >> 3), (-c) >> 3);
    ASSERT_NE(-(s >> 3), (-s) >> 3);
    ASSERT_NE(-(c >> 2), (-c) >> 2);
    ASSERT_NE(-(s >> 2), (-s) >> 2);

    // Facing +x (heading 2048) the forward step is (s, 0) and the RIGHT
    // strafe (0, s): straight at W6 (x = 4) and at W1 (y = 4).
    const fixed east_c = heading_cos(2048);
    const fixed east_s = heading_sin(2048);
    ASSERT_EQ(east_c, 0);
    const fixed clear = 0x40000 - WALL_CLEARANCE;  // clearance line of W6 and of W1

    const KeyCase cases[] = {
        {"Alt+RIGHT strafes right", 1, h, 0, 0, {KEY_ALT, KEY_RIGHT}, 1, -(c >> 3), s >> 3},
        {"AltGr+RIGHT", 1, h, 0, 0, {KEY_ALTGR, KEY_RIGHT}, 1, -(c >> 3), s >> 3},
        {"Alt+SHIFT+RIGHT: SHIFT leaves strafing alone", 1, h, 0, 0, {KEY_ALT, KEY_LSHIFT, KEY_RIGHT}, 1,
         -(c >> 3), s >> 3},
        {"Alt+LEFT strafes left", 1, h, 0, 0, {KEY_ALT, KEY_LEFT}, 1, c >> 3, -(s >> 3)},
        {"AltGr+SHIFT+LEFT", 1, h, 0, 0, {KEY_ALTGR, KEY_RSHIFT, KEY_LEFT}, 1, c >> 3, -(s >> 3)},
        {"UP walks forward", 1, h, 0, 0, {KEY_UP}, 1, s >> 3, c >> 3},
        {"DOWN walks back", 1, h, 0, 0, {KEY_DOWN}, 1, -(s >> 3), -(c >> 3)},
        {"SHIFT+UP runs", 1, h, 0, 0, {KEY_RSHIFT, KEY_UP}, 1, s >> 2, c >> 2},
        {"SHIFT+DOWN runs back", 1, h, 0, 0, {KEY_LSHIFT, KEY_DOWN}, 1, -(s >> 2), -(c >> 2)},
        {"Alt+UP walks", 1, h, 0, 0, {KEY_ALT, KEY_UP}, 1, s >> 3, c >> 3},
        {"Alt+SHIFT+LEFT+UP: strafes an eighth, then runs a quarter", 1, h, 0, 0,
         {KEY_ALT, KEY_LSHIFT, KEY_LEFT, KEY_UP}, 1, (c >> 3) + (s >> 2), -(s >> 3) + (c >> 2)},

        // Two keys held together make two steps in a fixed order; against
        // a wall the second does not undo the first.
        {"UP+DOWN facing W6: forward to the clearance line first", 1, 2048, 0x3A000, 0, {KEY_UP, KEY_DOWN}, 1,
         clear - (east_s >> 3), 0},
        {"SHIFT+UP+DOWN facing W6", 1, 2048, 0x3A000, 0, {KEY_LSHIFT, KEY_UP, KEY_DOWN}, 1,
         clear - (east_s >> 2), 0},
        {"Alt+LEFT+RIGHT beside W1: the RIGHT strafe first", 1, 2048, 0, 0x3A000,
         {KEY_ALT, KEY_LEFT, KEY_RIGHT}, 1, 0, clear - (east_s >> 3)},

        // The forward step at heading 6592 is (-7714, 2759): near the end
        // of S4 it slides along W19 and ends in S3.
        {"UP at heading 6592 near the end of S4", 4, 6592, -500174, 1294806, {KEY_UP}, 3, -504628, 1293627},
    };
    for (const KeyCase &k : cases) {
        viewer_sector = sector_no(k.from);
        viewer_angle = k.angle;
        viewer_x = k.x;
        viewer_y = k.y;
        press(k.held);
        SCOPED_TRACE(k.what);
        EXPECT_EQ(viewer_x, k.want_x);
        EXPECT_EQ(viewer_y, k.want_y);
        EXPECT_EQ(number_of(viewer_sector), k.to);
        EXPECT_EQ(viewer_angle, k.angle);  // neither strafing nor walking turns
    }
}

// From the start, heading 0, to the far room through every portal.  The
// route: face -x and walk through the middle of W3 into the hall to
// x = -7.5, the middle of the corridors; face +y and walk up through W9
// and W13 into S4; turn toward the far end of S4 and walk along it; face
// down the diagonal W18 (heading 3072) and step through it into S5;
// face -y and run down S5 through W22 into S6.
TEST_F(Walk, ScriptedWalkFromTheStartRoomToTheFarRoom)
{
    const std::vector<Hold> script = {
        {32, {KEY_RSHIFT, KEY_RIGHT}},  // heading 0 - 32 * 64: 6144, facing -x
        {60, {KEY_UP}},                 // 7.5 units: through W3 at x = -5
        {32, {KEY_LSHIFT, KEY_LEFT}},   // back to heading 0, facing +y
        {157, {KEY_UP}},                // 19.6 units: through W9 at y = 10, W13 at y = 19.5
        {57, {KEY_LEFT}},               // heading 1824, along S4 toward (9.5, 22.5)
        {130, {KEY_UP}},                // about 16 units, sliding where S4 narrows
        {39, {KEY_LEFT}},               // heading 3072: (+x, -y), square on to W18
        {20, {KEY_UP}},                 // through W18, then down along W23
        {32, {KEY_LEFT}},               // heading 4096, facing -y
        {170, {KEY_LSHIFT, KEY_UP}},    // 42.5 units: down S5, through W22 at y = -15
    };
    std::vector<int> visited;
    for (const Sector *s : walk(script)) {
        visited.push_back(number_of(s));
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

// ---------------------------------------------------------------------------
// Random walks.
// ---------------------------------------------------------------------------

constexpr int SOAK_FRAMES = 8000;
constexpr int STALE_COLOR = 200;  // in no texture of the scene, nor the fills

struct Worst {
    int columns = 0;
    int frame = -1;
    int over_two = 0;  // frames with more than two unfilled columns

    void add(int frame_no, int columns_now)
    {
        if (columns_now > 2) {
            over_two++;
        }
        if (columns_now > columns) {
            columns = columns_now;
            frame = frame_no;
        }
    }
};

class Soak : public Scene, public ::testing::WithParamInterface<unsigned> {};

// Every frame: the point stays in the level, never beyond a solid wall's
// line of its sector and at most a little past one of its portal lines.
// Drawn as the program draws it, every gap in the frame is a seam of one
// or two columns where walls join (column angles are whole steps); a frame
// that shows several joins can have several seams.  The traversal started
// from viewer_sector itself is counted as well, for comparison: from past
// a portal line it leaves whole parts of the view unfilled.
TEST_P(Soak, RandomKeysKeepTheViewerInsideAndTheFrameFilled)
{
    KeyStream keys(GetParam());
    double min_clearance = 1e9;
    double max_past = -1e9;
    int frames_past = 0;  // frames with the point past a portal line of its sector
    int frames_in[LEVEL_SECTORS] = {};
    Worst plain;
    Worst drawn;
    int widest_seam = 0;
    // Columns that show a slot of an earlier frame.
    BITMAP *stale_image = create_bitmap_ex(8, 64, 64);
    ASSERT_NE(stale_image, nullptr);
    clear_to_color(stale_image, STALE_COLOR);
    int stale_columns = 0;

    for (int f = 0; f < SOAK_FRAMES; f++) {
        apply_keys(keys.next());
        frames_in[number_of(viewer_sector) - 1]++;
        bool past = false;

        ASSERT_TRUE(viewer_x >= fx::itofix(-11) && viewer_x <= fx::itofix(30) &&
                    viewer_y >= fx::itofix(-50) && viewer_y <= fx::itofix(23))
            << "frame " << f << ": (" << viewer_x << ", " << viewer_y << ") is outside the level";
        for (int i = 0; i < viewer_sector->count; i++) {
            const Wall &w = viewer_sector->walls[i];
            const double side = side_of(w, viewer_x, viewer_y);
            if (w.is_portal != 0) {
                max_past = std::max(max_past, side);
                past = past || side > 0.0;
                ASSERT_LE(side, PORTAL_OVERSHOOT)
                    << "frame " << f << ": (" << viewer_x << ", " << viewer_y << ") past a portal of S"
                    << number_of(viewer_sector);
            } else {
                min_clearance = std::min(min_clearance, -side);
                ASSERT_LE(side, 0.0) << "frame " << f << ": (" << viewer_x << ", " << viewer_y
                                     << ") beyond a solid wall of S" << number_of(viewer_sector);
            }
        }
        frames_past += past ? 1 : 0;

        forget_stamps();
        sectors_drawn = 1;
        begin_frame();
        render_sector(viewer_sector, viewer_angle, viewer_x, viewer_y, 0, view_width - 1);
        plain.add(f, gaps_now().columns);

        stale_slots(&stale_image);
        render_view(target, viewer_sector, viewer_angle, viewer_x, viewer_y);
        const Gaps g = gaps_now();
        for (int c = 0; c < view_width; c++) {
            stale_columns += target->line[view_height / 2][c] == STALE_COLOR ? 1 : 0;
        }
        drawn.add(f, g.columns);
        widest_seam = std::max(widest_seam, g.widest);
        ASSERT_LE(g.widest, 2) << "frame " << f << ": (" << viewer_x << ", " << viewer_y << ") heading "
                               << viewer_angle << " in S" << number_of(viewer_sector) << ", "
                               << g.columns << " columns unfilled";
    }
    destroy_bitmap(stale_image);
    EXPECT_EQ(stale_columns, 0) << "columns drawn from a slot of an earlier frame";

    std::printf("seed %u, %d frames, frames in S1..S6: %d %d %d %d %d %d\n", GetParam(), SOAK_FRAMES,
                frames_in[0], frames_in[1], frames_in[2], frames_in[3], frames_in[4], frames_in[5]);
    std::printf("  least clearance to a solid wall line %.5f, most past a portal line %.5f\n",
                min_clearance, max_past);
    std::printf("  %d frames past a portal line\n", frames_past);
    std::printf("  traversal from viewer_sector: worst frame %d with %d unfilled, %d frames over 2\n",
                plain.frame, plain.columns, plain.over_two);
    std::printf("  render_view: worst frame %d with %d unfilled, %d frames over 2, widest seam %d, "
                "%d columns from an earlier frame\n",
                drawn.frame, drawn.columns, drawn.over_two, widest_seam, stale_columns);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Soak, ::testing::Values(1u, 2u, 3u));

}  // namespace
