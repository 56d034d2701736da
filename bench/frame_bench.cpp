// frame_bench: what a frame costs.
//
//   core        the two fills, begin_frame, the traversal and column drawing
//               into an 800 x 600 bitmap, over viewpoints in all six sectors
//   floor       only the fills and the presentation, through the same library
//               path as the program (needs a display)
//   whole       the program's whole frame: core, keys, frame rate, overlay and
//               presentation (needs a display)
//   size/WxH    the core at other view sizes, in nanoseconds per pixel
//   grid/core   the core on levels/grid.toml, 3008 sectors, over viewpoints
//               down its rows and columns and across its rooms
//   grid/load   reading and checking levels/grid.toml, and freeing it
//
// The cores count the sectors entered per frame.  After the run it prints
// the whole frame and the core as multiples of the presentation floor, and
// the two levels' cores side by side.

#include <benchmark/benchmark.h>

#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "app.h"
#include "level.h"
#include "render.h"

namespace {

struct Viewpoint {
    int sector;  // 0 = S1
    double x;
    double y;
    int angle;
};

// Every sector, the narrow corridors, the far room, and portals in view.
const Viewpoint VIEWPOINTS[] = {
    {0, 0.0, 0.0, 0},        // the start: W1 ahead
    {0, 3.0, 0.0, 6144},     // across the start room into the hall
    {1, -6.5, -8.0, 0},      // up the hall into the first corridor
    {2, -7.5, 11.0, 0},      // up the first corridor into the second
    {3, -5.0, 20.0, 2048},   // along the second corridor into the third
    {4, 9.5, 20.0, 4096},    // down the third corridor into the far room
    {5, 5.0, -25.0, 0},      // from the far room back into the corridors
    {5, 5.0, -25.0, 4096},   // the far room's far wall
    {5, 5.0, -40.0, 2048},
};
const int VIEWPOINT_COUNT = static_cast<int>(sizeof VIEWPOINTS / sizeof VIEWPOINTS[0]);

Sector *start_sector;
BITMAP *page;         // the displayed page, when there is a display
BITMAP *back_buffer;  // the program's back buffer, when there is a display
bool have_display;

void draw_viewpoint(BITMAP *target, const Viewpoint &v)
{
    fill_background(target);
    draw_walls(target, &level_sectors[v.sector], v.angle, fx::ftofix(v.x), fx::ftofix(v.y));
}

void present()
{
    vsync();
    blit(back_buffer, page, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
}

// The frame core over a round of viewpoints drawn by `draw`, with the
// sectors entered a frame.
template <typename Viewpoints, typename Draw>
void measure_core(benchmark::State &state, const Viewpoints &viewpoints, Draw draw)
{
    build_tables(800, 600);
    BITMAP *target = create_bitmap_ex(8, 800, 600);
    const int count = static_cast<int>(sizeof viewpoints / sizeof viewpoints[0]);
    int i = 0;
    int64_t sectors = 0;
    for (auto _ : state) {
        draw(target, viewpoints[i]);
        benchmark::DoNotOptimize(target->line[300][400]);
        sectors += sectors_drawn;
        i = (i + 1) % count;
    }
    state.counters["sectors"] = benchmark::Counter(static_cast<double>(sectors), benchmark::Counter::kAvgIterations);
    destroy_bitmap(target);
    free_tables();
}

void BM_Core(benchmark::State &state)
{
    measure_core(state, VIEWPOINTS, draw_viewpoint);
}
BENCHMARK(BM_Core)->Name("core");

// ---------------------------------------------------------------------------
// The large level.
// ---------------------------------------------------------------------------

const char *const GRID_FILE = LEVEL_DIR "/grid.toml";
const int GRID_COLUMNS = 32;
const int GRID_SPACING = 12;

Level grid;

// A room of the grid by its column and row, and a point in it.
struct GridViewpoint {
    int i;
    int j;
    double dx;  // from the room's middle
    double dy;
    int angle;
};

const GridViewpoint GRID_VIEWPOINTS[] = {
    {16, 16, 0.0, 0.0, 2048},   // the start: down the row, through 31 rooms and corridors
    {16, 16, 0.0, 0.0, 1024},   // across the room's corner
    {3, 5, 0.0, -2.0, 0},       // up a column
    {20, 9, 2.0, 2.0, 300},     // nearly up a column, off the middle
    {0, 0, 1.0, 1.0, 1024},     // from a corner of the grid, diagonally in
    {31, 31, -1.0, 0.0, 5120},  // from the far corner, diagonally in
    {10, 25, 0.0, 0.0, 6144},   // down a row the other way
    {25, 12, 2.5, -2.5, 3500},  // a room's walls, hardly a portal
};

void draw_grid_viewpoint(BITMAP *target, const GridViewpoint &v)
{
    const double x = GRID_SPACING * (v.i - GRID_COLUMNS / 2) + v.dx;
    const double y = GRID_SPACING * (v.j - GRID_COLUMNS / 2) + v.dy;
    fill_background(target);
    draw_walls(target, &grid.sectors[v.j * GRID_COLUMNS + v.i], v.angle, fx::ftofix(x), fx::ftofix(y));
}

void BM_GridCore(benchmark::State &state)
{
    if (grid.sectors == nullptr) {
        state.SkipWithError("levels/grid.toml did not load");
        return;
    }
    measure_core(state, GRID_VIEWPOINTS, draw_grid_viewpoint);
}
BENCHMARK(BM_GridCore)->Name("grid/core");

void BM_GridLoad(benchmark::State &state)
{
    Level level;
    char error[512];
    for (auto _ : state) {
        if (!load_level(GRID_FILE, texture_slots, &level, error, sizeof error)) {
            state.SkipWithError(error);
            return;
        }
        benchmark::DoNotOptimize(level.walls);
        free_level(&level);
    }
}
BENCHMARK(BM_GridLoad)->Name("grid/load")->Unit(benchmark::kMillisecond);

void BM_Floor(benchmark::State &state)
{
    if (!have_display) {
        state.SkipWithError("no display");
        return;
    }
    for (auto _ : state) {
        fill_background(back_buffer);
        present();
    }
}
BENCHMARK(BM_Floor)->Name("floor");

void BM_Whole(benchmark::State &state)
{
    if (!have_display) {
        state.SkipWithError("no display");
        return;
    }
    build_tables(SCREEN_W, SCREEN_H);
    char keys[KEY_MAX] = {};
    int i = 0;
    for (auto _ : state) {
        const Viewpoint &v = VIEWPOINTS[i];
        viewer_sector = &level_sectors[v.sector];
        viewer_x = fx::ftofix(v.x);
        viewer_y = fx::ftofix(v.y);
        viewer_angle = v.angle;
        fill_background(back_buffer);
        apply_keys(keys);
        draw_walls(back_buffer, viewer_sector, viewer_angle, viewer_x, viewer_y);
        update_frame_rate(time(nullptr));
        draw_overlay(back_buffer, get_refresh_rate());
        present();
        i = (i + 1) % VIEWPOINT_COUNT;
    }
    free_tables();
}
BENCHMARK(BM_Whole)->Name("whole");

// The target may be wider than the view: the column drawer writes down a
// column, and rows exactly 1024 bytes apart fall into a handful of cache
// sets.  A padded row shows the renderer's own cost at that size.
void BM_Size(benchmark::State &state)
{
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const int pad = static_cast<int>(state.range(2));
    build_tables(w, h);
    BITMAP *memory = create_bitmap_ex(8, w + pad, h);
    BITMAP *target = create_sub_bitmap(memory, 0, 0, w, h);
    int i = 0;
    for (auto _ : state) {
        draw_viewpoint(target, VIEWPOINTS[i]);
        benchmark::DoNotOptimize(target->line[h / 2][w / 2]);
        i = (i + 1) % VIEWPOINT_COUNT;
    }
    destroy_bitmap(target);
    destroy_bitmap(memory);
    free_tables();
}
BENCHMARK(BM_Size)
    ->Name("size")
    ->ArgNames({"w", "h", "pad"})
    ->Args({320, 200, 0})
    ->Args({640, 480, 0})
    ->Args({800, 600, 0})
    ->Args({1024, 768, 0})
    ->Args({1024, 768, 64})
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0});

// Keeps each benchmark's time per iteration for the ratios.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        // With repetitions, the median stands for the benchmark.
        for (const Run &r : runs) {
            if (r.error_occurred) {
                continue;
            }
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") {
                continue;
            }
            std::string name = r.benchmark_name();
            const size_t median = name.rfind("_median");
            if (median != std::string::npos) {
                name.erase(median);
            }
            set_time(name, r.GetAdjustedRealTime() * time_unit_ns(r.time_unit));
            const auto counted = r.counters.find("sectors");
            if (counted != r.counters.end()) {
                set_sectors(name, counted->second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void set_time(const std::string &name, double ns)
    {
        for (auto &t : times) {
            if (t.first == name) {
                t.second = ns;
                return;
            }
        }
        times.emplace_back(name, ns);
    }

    static double time_unit_ns(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1;
        }
    }

    void set_sectors(const std::string &name, double n)
    {
        for (auto &t : sectors) {
            if (t.first == name) {
                t.second = n;
                return;
            }
        }
        sectors.emplace_back(name, n);
    }

    // Sectors entered per frame, or 0 when not counted.
    double sectors_of(const std::string &name) const
    {
        for (const auto &t : sectors) {
            if (t.first == name) {
                return t.second;
            }
        }
        return 0;
    }

    // Nanoseconds per iteration, or 0 when the benchmark did not run.
    double time_of(const std::string &name) const
    {
        for (const auto &t : times) {
            if (t.first == name) {
                return t.second;
            }
        }
        return 0;
    }

    std::vector<std::pair<std::string, double>> times;
    std::vector<std::pair<std::string, double>> sectors;
};

bool open_display()
{
    if (install_keyboard() != 0) {
        return false;
    }
    set_color_depth(8);
    if (set_gfx_mode(GFX_AUTODETECT, 800, 600, 0, 0) != 0 &&
        set_gfx_mode(GFX_AUTODETECT_WINDOWED, 800, 600, 0, 0) != 0) {
        return false;
    }
    PALETTE pal;
    BITMAP *b = load_pcx("brickd.pcx", pal);
    if (b != nullptr) {
        set_palette(pal);
        destroy_bitmap(b);
    }
    page = create_video_bitmap(SCREEN_W, SCREEN_H);
    back_buffer = create_system_bitmap(SCREEN_W, SCREEN_H);
    if (page == nullptr || back_buffer == nullptr) {
        return false;
    }
    show_video_bitmap(page);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (allegro_init() != 0 && install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "frame_bench: cannot initialise the graphics library\n");
        return 1;
    }
    have_display = open_display();
    if (!have_display) {
        std::printf("No display: the floor and the whole frame are not measured.\n");
    }
    // Textures of the right size; what they show does not change the cost.
    brick_texture = create_bitmap_ex(8, 64, 64);
    brickd_texture = create_bitmap_ex(8, 64, 64);
    weirdo_texture = create_bitmap_ex(8, 64, 64);
    for (BITMAP *t : {brick_texture, brickd_texture, weirdo_texture}) {
        for (int y = 0; y < 64; y++) {
            for (int x = 0; x < 64; x++) {
                t->line[y][x] = static_cast<unsigned char>(64 + (x ^ y) % 48);
            }
        }
    }
    start_sector = build_level(&brick_texture, &brickd_texture, &weirdo_texture);
    reset_run_state(start_sector, time(nullptr));
    for (int t = 0; t < LEVEL_MAX_TEXTURES; t++) {
        texture_slots[t] = t % 2 == 0 ? brick_texture : brickd_texture;
    }
    char error[512];
    if (!load_level(GRID_FILE, texture_slots, &grid, error, sizeof error)) {
        std::printf("%s\n", error);
    }

    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double floor = reporter.time_of("floor");
    const double whole = reporter.time_of("whole");
    const double core = reporter.time_of("core");
    if (floor > 0 && whole > 0 && core > 0) {
        std::printf("\nwhole frame / presentation floor: %.3f  (target at most 1.25)\n",
                    whole / floor);
        std::printf("core / presentation floor:        %.3f  (target at most 0.25)\n",
                    core / floor);
    }
    struct SizeTime {
        int w;
        int h;
        int pad;
        double ns;
    };
    std::vector<SizeTime> sizes;
    for (const auto &t : reporter.times) {
        SizeTime st = {0, 0, 0, t.second};
        if (std::sscanf(t.first.c_str(), "size/w:%d/h:%d/pad:%d", &st.w, &st.h, &st.pad) == 3) {
            sizes.push_back(st);
        }
    }
    std::sort(sizes.begin(), sizes.end(), [](const SizeTime &a, const SizeTime &b) {
        return a.w * a.h != b.w * b.h ? a.w * a.h < b.w * b.h : a.pad < b.pad;
    });
    const double grid_core = reporter.time_of("grid/core");
    if (core > 0 && grid_core > 0) {
        std::printf("\nthe core on two levels, 800 x 600:\n");
        std::printf("  built-in level, %4d sectors: %8.1f us a frame, %5.1f sectors entered\n", LEVEL_SECTORS,
                    core / 1000.0, reporter.sectors_of("core"));
        std::printf("  levels/grid.toml, %4d sectors: %8.1f us a frame, %5.1f sectors entered\n",
                    grid.sector_count, grid_core / 1000.0, reporter.sectors_of("grid/core"));
    }
    const double load = reporter.time_of("grid/load");
    if (load > 0) {
        std::printf("  reading and checking levels/grid.toml: %.1f ms\n", load / 1e6);
    }
    std::printf("\nthe core at other view sizes:\n");
    for (const SizeTime &st : sizes) {
        std::printf("  %4d x %-4d %-12s %8.1f us  %6.3f ns per pixel\n", st.w, st.h,
                    st.pad != 0 ? "(padded row)" : "", st.ns / 1000.0, st.ns / (st.w * st.h));
    }
    free_level(&grid);
    return 0;
}
END_OF_MAIN()
