// The frame loop allocates nothing: every call into the heap is counted
// while many frames of key handling, movement, drawing and the overlay run.

#include <gtest/gtest.h>

#include <allegro.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "app.h"
#include "render.h"

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
void __libc_free(void *p);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> heap_calls{0};

void count()
{
    if (counting) {
        heap_calls++;
    }
}

}  // namespace

extern "C" {

void *malloc(size_t size)
{
    count();
    return __libc_malloc(size);
}

void *calloc(size_t n, size_t size)
{
    count();
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t size)
{
    count();
    return __libc_realloc(p, size);
}

void free(void *p)
{
    if (p != nullptr) {
        count();
    }
    __libc_free(p);
}

}  // extern "C"

namespace {

TEST(Allocation, FramesAllocateNothing)
{
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    ASSERT_TRUE(build_tables(800, 600));
    BITMAP *texture = create_bitmap_ex(8, 64, 64);
    BITMAP *target = create_bitmap_ex(8, 800, 600);
    ASSERT_NE(texture, nullptr);
    ASSERT_NE(target, nullptr);
    clear_to_color(texture, 70);
    brick_texture = brickd_texture = weirdo_texture = texture;
    reset_run_state(build_level(&brick_texture, &brickd_texture, &weirdo_texture), 0);

    // A walk that turns, runs, strafes and presses into walls and corners.
    const int held[][3] = {
        {KEY_UP, 0, 0},          {KEY_LEFT, KEY_UP, 0},     {KEY_RIGHT, KEY_LSHIFT, KEY_UP},
        {KEY_ALT, KEY_RIGHT, 0}, {KEY_ALTGR, KEY_LEFT, KEY_DOWN}, {KEY_DOWN, KEY_LSHIFT, 0},
    };
    char keys[KEY_MAX] = {};
    // One frame first, so that the library's own one-time set-up (the
    // font, the palette mapping) is not counted.
    render_view(target, viewer_sector, viewer_angle, viewer_x, viewer_y);
    draw_overlay(target, 0);

    counting = true;
    const int frames = 3000;
    for (int f = 0; f < frames; f++) {
        const int *k = held[(f / 40) % 6];
        for (int i = 0; i < 3; i++) {
            if (k[i] != 0) {
                keys[k[i]] = 1;
            }
        }
        fill_background(target);
        apply_keys(keys);
        draw_walls(target, viewer_sector, viewer_angle, viewer_x, viewer_y);
        update_frame_rate(f / 100);
        draw_overlay(target, 0);
        for (int i = 0; i < 3; i++) {
            keys[k[i]] = 0;
        }
    }
    counting = false;
    EXPECT_EQ(heap_calls.load(), 0) << "over " << frames << " frames";

    destroy_bitmap(target);
    destroy_bitmap(texture);
    free_tables();
}

}  // namespace
