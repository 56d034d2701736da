// Levels from files, drawn and walked: six-rooms.toml against the built-in
// level, the traversal's depth bound, the walk round the ring, a level at
// the coordinate bound, and random walks on every shipped level.

#include <gtest/gtest.h>

#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app.h"
#include "level.h"
#include "move.h"
#include "render.h"
#include "soak.h"

namespace {

using namespace soak;

// The random walks are lighter under the sanitizers, which slow every
// frame tenfold.
#ifdef PORTALWALK_SANITIZE
constexpr int LEVEL_SOAK_FRAMES = 1500;
#else
constexpr int LEVEL_SOAK_FRAMES = 6000;
#endif

std::string level_path(const char *name)
{
    return std::string(LEVEL_DIR) + "/" + name;
}

// A texture whose every texel tells its place and its texture apart.
BITMAP *patterned_texture(int seed)
{
    BITMAP *t = create_bitmap_ex(8, 64, 64);
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            t->line[y][x] = static_cast<unsigned char>(16 + (x * 3 + y * 5 + seed * 50) % 200);
        }
    }
    return t;
}

// The library without a display, the tables of an 800 x 600 view, an
// 800 x 600 target, and a patterned texture in every slot.
class LevelScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        ASSERT_TRUE(build_tables(800, 600));
        target = create_bitmap_ex(8, 800, 600);
        ASSERT_NE(target, nullptr);
        for (int i = 0; i < LEVEL_MAX_TEXTURES; i++) {
            texture_slots[i] = patterned_texture(i);
        }
    }
    void TearDown() override
    {
        free_level(&level);
        for (BITMAP *&t : texture_slots) {
            destroy_bitmap(t);
            t = nullptr;
        }
        brick_texture = brickd_texture = weirdo_texture = nullptr;
        destroy_bitmap(target);
        free_tables();
    }

    void load(const std::string &path)
    {
        char error[512] = "";
        ASSERT_TRUE(load_level(path.c_str(), texture_slots, &level, error, sizeof error)) << error;
        start_level(&level, 1000);
    }

    // The texture slot that the level gave a file.
    BITMAP **slot_of(const char *file) const
    {
        for (int i = 0; i < level.texture_count; i++) {
            if (std::strcmp(level.texture_files[i], file) == 0) {
                return &texture_slots[i];
            }
        }
        ADD_FAILURE() << "no texture " << file;
        return nullptr;
    }

    int number_of(const Sector *s) const { return static_cast<int>(s - level.sectors) + 1; }

    Level level = {};
    BITMAP *target = nullptr;
};

// Where the corners of the level are seen.  Rays that pass a corner may
// miss both walls that meet there by a hair (each wall's direction is
// rounded to a whole angle step), and where several corners are seen
// together, as far down a row of rooms, the seams join into runs of more
// than two columns.  A corner is the start of a wall; it is seen in the
// column whose ray points at it.
constexpr int CORNER_REACH = 3;  // columns either side of a corner

int columns_off_corners(const Level &level, fixed vx, fixed vy, int angle)
{
    std::vector<char> near(static_cast<size_t>(view_width), 0);
    const double a = angle * 2 * 3.141592653589793 / ANGLE_STEPS;
    // Heading 0 faces +y; turning left turns toward +x, the left of the view.
    const double fx_ = std::sin(a);
    const double fy_ = std::cos(a);
    for (int i = 0; i < level.wall_count; i++) {
        const double dx = (level.walls[i].x - vx) / 65536.0;
        const double dy = (level.walls[i].y - vy) / 65536.0;
        const double depth = dx * fx_ + dy * fy_;
        if (depth <= 1e-6) {
            continue;
        }
        const double left = dx * fy_ - dy * fx_;
        const double column = (-left / depth / 1.5 + 0.5) * view_width;
        if (column < -CORNER_REACH || column > view_width + CORNER_REACH) {
            continue;
        }
        const int c = static_cast<int>(std::lround(column));
        for (int k = std::max(0, c - CORNER_REACH); k <= std::min(view_width - 1, c + CORNER_REACH); k++) {
            near[static_cast<size_t>(k)] = 1;
        }
    }
    int off = 0;
    for (int c = 0; c < view_width; c++) {
        off += column_slots[c].stamp != frame_stamp && near[static_cast<size_t>(c)] == 0 ? 1 : 0;
    }
    return off;
}

// A frame is filled up to corner seams: no gap wider than two columns, or
// every unfilled column beside a corner.
bool filled_up_to_corner_seams(const Level &level, fixed vx, fixed vy, int angle)
{
    return gaps_now().widest <= 2 || columns_off_corners(level, vx, vy, angle) == 0;
}

// ---------------------------------------------------------------------------
// six-rooms.toml is the built-in level.
// ---------------------------------------------------------------------------

bool same_wall(const Wall &a, const Wall &b)
{
    return a.x == b.x && a.y == b.y && a.ux == b.ux && a.uy == b.uy && a.angle == b.angle && a.length == b.length &&
           a.is_portal == b.is_portal && a.texture == b.texture;
}

bool same_picture(BITMAP *a, BITMAP *b)
{
    for (int y = 0; y < a->h; y++) {
        if (std::memcmp(a->line[y], b->line[y], static_cast<size_t>(a->w)) != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(LevelScene, SixRoomsIsTheBuiltInLevelRecordForRecord)
{
    load(level_path("six-rooms.toml"));
    // The built-in level made with the same slots, so that the texture
    // references can be compared too.
    Sector *builtin_start = build_level(slot_of("brick.pcx"), slot_of("brickd.pcx"), slot_of("weirdo.pcx"));
    ASSERT_EQ(level.sector_count, LEVEL_SECTORS);
    ASSERT_EQ(level.wall_count, LEVEL_WALLS);
    for (int s = 0; s < LEVEL_SECTORS; s++) {
        const Sector &mine = level.sectors[s];
        const Sector &builtin = level_sectors[s];
        ASSERT_EQ(mine.count, builtin.count) << "S" << s + 1;
        for (int w = 0; w < mine.count; w++) {
            const Wall &a = mine.walls[w];
            const Wall &b = builtin.walls[w];
            EXPECT_TRUE(same_wall(a, b)) << "S" << s + 1 << " wall " << w;
            const int na = a.neighbour != nullptr ? static_cast<int>(a.neighbour - level.sectors) : -1;
            const int nb = b.neighbour != nullptr ? static_cast<int>(b.neighbour - level_sectors) : -1;
            EXPECT_EQ(na, nb) << "S" << s + 1 << " wall " << w;
        }
    }
    EXPECT_EQ(level.start_sector - level.sectors, builtin_start - level_sectors);
    EXPECT_EQ(level.start_x, 0);
    EXPECT_EQ(level.start_y, 0);
    EXPECT_EQ(level.start_angle, 0);
    EXPECT_EQ(level.ceiling_color, CEILING_COLOR);
    EXPECT_EQ(level.floor_color, FLOOR_COLOR);
    EXPECT_STREQ(level.texture_files[level.palette_texture], "brickd.pcx");
}

// The first frame is the same pixel for pixel, and so is every frame of a
// random walk driven by the same keys through both.
TEST_F(LevelScene, SixRoomsIsTheBuiltInLevelFrameForFrame)
{
    load(level_path("six-rooms.toml"));
    build_level(slot_of("brick.pcx"), slot_of("brickd.pcx"), slot_of("weirdo.pcx"));
    BITMAP *builtin = create_bitmap_ex(8, 800, 600);

    struct Walker {
        Sector *sector;
        fixed x, y;
        int angle;
    };
    // One frame's key handling for one of the two viewers.
    const auto step = [](Walker *w, const char *held) {
        viewer_sector = w->sector;
        viewer_x = w->x;
        viewer_y = w->y;
        viewer_angle = w->angle;
        apply_keys(held);
        *w = {viewer_sector, viewer_x, viewer_y, viewer_angle};
    };
    start_level(&level, 1000);
    Walker file = {viewer_sector, viewer_x, viewer_y, viewer_angle};
    reset_run_state(&level_sectors[0], 1000);
    Walker own = {viewer_sector, viewer_x, viewer_y, viewer_angle};

    KeyStream keys(7);
    for (int f = 0; f < 1500; f++) {
        if (f % 25 == 0) {
            render_view(target, file.sector, file.angle, file.x, file.y);
            render_view(builtin, own.sector, own.angle, own.x, own.y);
            ASSERT_TRUE(same_picture(target, builtin)) << "frame " << f;
        }
        const char *held = keys.next();
        step(&file, held);
        step(&own, held);
        ASSERT_EQ(file.x, own.x) << "frame " << f;
        ASSERT_EQ(file.y, own.y) << "frame " << f;
        ASSERT_EQ(file.sector - level.sectors, own.sector - level_sectors) << "frame " << f;
    }
    destroy_bitmap(builtin);
}

// ---------------------------------------------------------------------------
// The traversal's depth.
// ---------------------------------------------------------------------------

// Two rooms on the same square, each one's east wall a portal to the
// other: no level may be made so, but the traversal must end all the same.
// Every path of sectors seen through the portals is cut at MAX_SECTORS.
TEST_F(LevelScene, TraversalEndsWhenPortalsLeadOnForever)
{
    const Vertex corners[4] = {{0, 0}, {fx::itofix(4), 0}, {fx::itofix(4), fx::itofix(4)}, {0, fx::itofix(4)}};
    Wall walls[2][4];
    Sector rooms[2] = {{walls[0], 4}, {walls[1], 4}};
    for (int r = 0; r < 2; r++) {
        for (int w = 0; w < 4; w++) {
            make_wall(&walls[r][w], &texture_slots[0], &corners[w], &corners[(w + 1) % 4],
                      w == 1 ? &rooms[1 - r] : nullptr);
        }
        sort_walls(&rooms[r]);
    }
    // Looking east from the middle: the east wall is a portal every time.
    draw_walls(target, &rooms[0], 2048, fx::itofix(2), fx::itofix(2));
    EXPECT_EQ(sectors_drawn, MAX_SECTORS);
}

// On a level whose portals form a cycle, views all round the ring enter
// no sector more than twice (once by each way round the pillar).
TEST_F(LevelScene, TraversalOfTheRingEndsEveryWhere)
{
    load(level_path("ring.toml"));
    int most = 0;
    for (int s = 0; s < level.sector_count; s++) {
        const Sector &sector = level.sectors[s];
        // The middle of the sector, from its walls' start points.
        double cx = 0;
        double cy = 0;
        for (int w = 0; w < sector.count; w++) {
            cx += sector.walls[w].x / 65536.0 / sector.count;
            cy += sector.walls[w].y / 65536.0 / sector.count;
        }
        for (int angle = 0; angle < ANGLE_STEPS; angle += 64) {
            forget_stamps();
            draw_walls(target, &sector, angle, fx::ftofix(cx), fx::ftofix(cy));
            most = std::max(most, sectors_drawn);
            ASSERT_TRUE(filled_up_to_corner_seams(level, fx::ftofix(cx), fx::ftofix(cy), angle))
                << "sector " << s + 1 << " heading " << angle;
        }
    }
    EXPECT_LE(most, 2 * level.sector_count);
    EXPECT_GE(most, 6);  // round the pillar both ways
}

// ---------------------------------------------------------------------------
// The walk round the ring.
// ---------------------------------------------------------------------------

// From the middle of S facing +x: six units on into SE, turn to +y, twelve
// up through E into NE, turn to -x, twelve along through N into NW, turn
// to -y, twelve down through W into SW, turn to +x and six on into S again.
// Each turn is 64 frames of RIGHT, a quarter turn; each unit 8 frames.
TEST_F(LevelScene, WalkAllTheWayRoundTheRing)
{
    load(level_path("ring.toml"));
    ASSERT_EQ(viewer_angle, 2048);
    const std::vector<Hold> script = {
        {48, {KEY_UP}}, {64, {KEY_RIGHT}}, {96, {KEY_UP}}, {64, {KEY_RIGHT}}, {96, {KEY_UP}},
        {64, {KEY_RIGHT}}, {96, {KEY_UP}}, {64, {KEY_RIGHT}}, {48, {KEY_UP}},
    };
    std::vector<int> visited;
    for (const Sector *s : walk(script)) {
        visited.push_back(number_of(s));
    }
    // S, SE, E, NE, N, NW, W, SW and S again.
    EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 1}));
    EXPECT_EQ(viewer_angle, 2048);
    EXPECT_NEAR(viewer_x / 65536.0, 0.0, 0.05);
    EXPECT_NEAR(viewer_y / 65536.0, -6.0, 0.05);
}

// ---------------------------------------------------------------------------
// A level at the coordinate bound.
// ---------------------------------------------------------------------------

// Two halves of the square from -8192 to 8192, joined along x = 0.
const char *const AT_THE_BOUND = R"(textures = { stone = "brick.pcx" }
vertices = [[-8192, -8192], [0, -8192], [8192, -8192], [8192, 8192], [0, 8192], [-8192, 8192]]
start = { sector = 1, x = -8191, y = 0, heading = 90 }

[[sector]]
walls = [[1, 2, "stone"], [2, 5, "stone", 2], [5, 6, "stone"], [6, 1, "stone"]]

[[sector]]
walls = [[2, 3, "stone"], [3, 4, "stone"], [4, 5, "stone"], [5, 2, "stone", 1]]
)";

std::string write_level(const char *name, const char *text)
{
    char folder[] = "/tmp/pw_walk_XXXXXX";
    const std::string path = std::string(mkdtemp(folder)) + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// Heights as the renderer projects them, against the geometry: a wall at
// depth z stands view_height / z pixels high.
TEST_F(LevelScene, LevelAtTheBoundDrawsTrueHeights)
{
    load(write_level("bound.toml", AT_THE_BOUND));
    struct View {
        fixed x, y;
        int angle;
        double depth;  // of the wall straight ahead
    } views[] = {
        {fx::itofix(-8191), 0, 2048, 16383.0},  // across both halves to the far wall
        {fx::itofix(-8191), 0, 6144, 1.0},      // the near wall
        {fx::itofix(8191), fx::itofix(-8191), 0, 16383.0},
        {fx::itofix(-8191), fx::itofix(8191), 4096, 16383.0},
    };
    for (const View &v : views) {
        SCOPED_TRACE(v.depth);
        Sector *sector = v.x < 0 ? &level.sectors[0] : &level.sectors[1];
        forget_stamps();
        render_view(target, sector, v.angle, v.x, v.y);
        ASSERT_LE(gaps_now().widest, 2);  // corner seams
        const double height = column_slots[400].height / 65536.0;
        EXPECT_NEAR(height, 600.0 / v.depth, 600.0 / v.depth * 0.01);
        // Heights fall off smoothly across the view: no column saturated.
        for (int c = 0; c < 800; c++) {
            if (column_slots[c].stamp != frame_stamp) {
                continue;  // a seam
            }
            ASSERT_GT(column_slots[c].height, 0) << "column " << c;
            ASSERT_LT(column_slots[c].height, fx::itofix(1000)) << "column " << c;
        }
    }
    // Into the corner at (-8192, 8192): held off both walls, never past them.
    viewer_sector = &level.sectors[0];
    viewer_x = fx::itofix(-8185);
    viewer_y = fx::itofix(8185);
    viewer_angle = ANGLE_STEPS - 1024;  // toward (-1, 1)
    for (int f = 0; f < 200; f++) {
        press({KEY_LSHIFT, KEY_UP});
    }
    ASSERT_EQ(number_of(viewer_sector), 1);
    for (int w = 0; w < viewer_sector->count; w++) {
        const Wall &wall = viewer_sector->walls[w];
        if (wall.is_portal == 0) {
            EXPECT_LE(side_of(wall, viewer_x, viewer_y), -0.29);
        }
    }
    EXPECT_NEAR(viewer_x / 65536.0, -8191.7, 0.01);
    EXPECT_NEAR(viewer_y / 65536.0, 8191.7, 0.01);
}

// ---------------------------------------------------------------------------
// Random walks on every shipped level.
// ---------------------------------------------------------------------------

struct SoakCase {
    const char *file;
    unsigned seed;
};

void PrintTo(const SoakCase &c, std::ostream *os)
{
    *os << c.file << " seed " << c.seed;
}

class LevelSoak : public LevelScene, public ::testing::WithParamInterface<SoakCase> {};

// Every frame: the point is never beyond a solid wall line of its sector
// and at most a little past one of its portal lines; the frame is filled
// but for seams of one or two columns where walls join.
TEST_P(LevelSoak, RandomKeysKeepTheViewerInsideAndTheFrameFilled)
{
    load(level_path(GetParam().file));
    KeyStream keys(GetParam().seed);
    std::vector<int> frames_in(static_cast<size_t>(level.sector_count));
    int widest_seam = 0;
    int most_sectors = 0;
    int seams_over_two = 0;  // frames with a run of more than two unfilled columns
    // Columns that show a slot of an earlier frame.
    const int stale_color = 5;  // in no patterned texture, nor the fills
    BITMAP *stale_image = create_bitmap_ex(8, 64, 64);
    ASSERT_NE(stale_image, nullptr);
    clear_to_color(stale_image, stale_color);
    int stale_columns = 0;
    for (int f = 0; f < LEVEL_SOAK_FRAMES; f++) {
        apply_keys(keys.next());
        frames_in[static_cast<size_t>(number_of(viewer_sector) - 1)]++;
        for (int i = 0; i < viewer_sector->count; i++) {
            const Wall &w = viewer_sector->walls[i];
            const double side = side_of(w, viewer_x, viewer_y);
            if (w.is_portal != 0) {
                ASSERT_LE(side, PORTAL_OVERSHOOT) << "frame " << f << ": past a portal of sector "
                                                  << number_of(viewer_sector);
            } else {
                ASSERT_LE(side, 0.0) << "frame " << f << ": (" << viewer_x << ", " << viewer_y
                                     << ") beyond a solid wall of sector " << number_of(viewer_sector);
            }
        }
        stale_slots(&stale_image);
        render_view(target, viewer_sector, viewer_angle, viewer_x, viewer_y);
        const Gaps g = gaps_now();
        for (int c = 0; c < view_width; c++) {
            stale_columns += target->line[view_height / 2][c] == stale_color ? 1 : 0;
        }
        widest_seam = std::max(widest_seam, g.widest);
        most_sectors = std::max(most_sectors, static_cast<int>(sectors_drawn));
        ASSERT_TRUE(filled_up_to_corner_seams(level, viewer_x, viewer_y, viewer_angle))
            << "frame " << f << ": (" << viewer_x << ", " << viewer_y << ") heading " << viewer_angle
            << " in sector " << number_of(viewer_sector) << ", " << g.columns << " columns unfilled, "
            << columns_off_corners(level, viewer_x, viewer_y, viewer_angle) << " away from corners";
        seams_over_two += g.widest > 2 ? 1 : 0;
    }
    destroy_bitmap(stale_image);
    EXPECT_EQ(stale_columns, 0) << "columns drawn from a slot of an earlier frame";
    const int visited = static_cast<int>(std::count_if(frames_in.begin(), frames_in.end(), [](int n) { return n > 0; }));
    std::printf("%s seed %u: %d frames in %d sectors, widest seam %d (%d frames over 2), most sectors entered %d\n",
                GetParam().file, GetParam().seed, LEVEL_SOAK_FRAMES, visited, widest_seam, seams_over_two,
                most_sectors);
    EXPECT_GE(visited, std::min(3, static_cast<int>(level.sector_count)));  // the walk goes places
}

INSTANTIATE_TEST_SUITE_P(Shipped, LevelSoak,
                         ::testing::Values(SoakCase{"six-rooms.toml", 4}, SoakCase{"two-rooms.toml", 15},
                                           SoakCase{"ring.toml", 12},
                                           SoakCase{"ring.toml", 13}, SoakCase{"grid.toml", 14}),
                         [](const ::testing::TestParamInfo<SoakCase> &p) {
                             std::string name = p.param.file;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name + "_" + std::to_string(p.param.seed);
                         });

}  // namespace
