// scene.h: the built level ready to be drawn without a window, for tests:
// the library without a display, the tables of an 800 x 600 view, one
// plain texture in all three slots and an 800 x 600 target.

#ifndef PORTALWALK_SCENE_H
#define PORTALWALK_SCENE_H

#include <gtest/gtest.h>

#include <allegro.h>

#include <cerrno>
#include <cstdlib>

#include "app.h"
#include "render.h"

class Scene : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        ASSERT_TRUE(build_tables(800, 600));
        texture = create_bitmap_ex(8, 64, 64);
        target = create_bitmap_ex(8, 800, 600);
        ASSERT_NE(texture, nullptr);
        ASSERT_NE(target, nullptr);
        clear_to_color(texture, 70);
        brick_texture = brickd_texture = weirdo_texture = texture;
        start = build_level(&brick_texture, &brickd_texture, &weirdo_texture);
        reset_run_state(start, 1000);
    }
    void TearDown() override
    {
        destroy_bitmap(target);
        destroy_bitmap(texture);
        brick_texture = brickd_texture = weirdo_texture = nullptr;
        free_tables();
    }

    // Columns that no wall filled in the frame just drawn.
    static int unfilled_columns()
    {
        int n = 0;
        for (int c = 0; c < view_width; c++) {
            n += column_slots[c].stamp != frame_stamp ? 1 : 0;
        }
        return n;
    }

    BITMAP *texture = nullptr;
    BITMAP *target = nullptr;
    Sector *start = nullptr;
};

#endif
