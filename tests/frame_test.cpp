// The frame loop's key handling and frame-rate figure, driven frame by
// frame with a key array of our own.

#include <gtest/gtest.h>

#include <allegro.h>

#include <initializer_list>

#include "app.h"
#include "render.h"

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(build_tables(800, 600));
        reset_run_state(build_level(&brick_texture, &brickd_texture, &weirdo_texture), 1000);
        close_requested = false;
    }
    void TearDown() override { free_tables(); }

    void press(std::initializer_list<int> held)
    {
        for (int &k : keys) {
            k = 0;
        }
        for (int k : held) {
            keys[k] = 1;
        }
        for (int i = 0; i < KEY_MAX; i++) {
            array[i] = static_cast<char>(keys[i]);
        }
        apply_keys(array);
    }

    int keys[KEY_MAX] = {};
    char array[KEY_MAX] = {};
};

TEST_F(Frame, Turning)
{
    const struct {
        int from;
        std::initializer_list<int> held;
        int want;
    } cases[] = {
        {0, {KEY_RIGHT}, 8160},                    // wraps below zero
        {8160, {KEY_LEFT, KEY_LSHIFT}, 32},        // wraps past a full turn
        {8160, {KEY_LEFT, KEY_RSHIFT}, 32},
        {100, {KEY_LEFT}, 132},
        {100, {KEY_RIGHT, KEY_RSHIFT}, 36},
        {100, {KEY_LEFT, KEY_RIGHT}, 100},         // both: unchanged
        {100, {KEY_LEFT, KEY_RIGHT, KEY_LSHIFT}, 100},
        {100, {KEY_LEFT, KEY_ALT}, 100},           // Alt: no turning
        {100, {KEY_RIGHT, KEY_ALTGR}, 100},
        {100, {KEY_LSHIFT}, 100},
        {100, {}, 100},
    };
    for (const auto &c : cases) {
        viewer_angle = c.from;
        press(c.held);
        EXPECT_EQ(viewer_angle, c.want) << "from " << c.from;
    }
}

TEST_F(Frame, LoopEndsOnEscapeOrCloseRequest)
{
    press({});
    EXPECT_FALSE(frame_loop_done(array));
    press({KEY_ESC});
    EXPECT_TRUE(frame_loop_done(array));
    press({});
    on_close();
    EXPECT_TRUE(frame_loop_done(array));
}

TEST_F(Frame, RateIsRenewedWhenTheWholeSecondChanges)
{
    // Clock readings, one per frame, and the figure shown after each.
    const struct {
        time_t now;
        float shown;
        int count_after;
    } frames[] = {
        {1000, 0.0f, 1},   // 0.00 until the clock first changes
        {1000, 0.0f, 2},
        {1000, 0.0f, 3},
        {1001, 4.0f, 0},   // the frame that sees the change counts to the old second
        {1001, 4.0f, 1},
        {1003, 1.0f, 0},   // two seconds at once: the count over two
        {1003, 1.0f, 1},
        {1003, 1.0f, 2},
        {1004, 3.0f, 0},
    };
    for (const auto &f : frames) {
        update_frame_rate(f.now);
        EXPECT_FLOAT_EQ(frames_per_second, f.shown) << "at " << f.now;
        EXPECT_EQ(frame_count, f.count_after) << "at " << f.now;
    }
    EXPECT_EQ(last_second, 1004);
}

}  // namespace
