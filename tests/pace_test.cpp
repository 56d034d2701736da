// Frame pacing on a clock of the test's own: a frame loop is played out in
// nanoseconds, each frame taking a chosen time to draw and each sleep
// ending a chosen time after its deadline, as a real sleep does.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "app.h"

namespace {

const int64_t MS = 1000000;
const int64_t START = 7 * 3600 * 1000 * MS;  // a monotonic clock starts anywhere

struct Played {
    std::vector<int64_t> shown;  // when each frame went to the display
    std::vector<bool> waited;    // whether it slept first
};

// Each frame is drawn in work(n), then sleeps until its deadline (ending
// late by oversleep(n)) unless it is already due, and is shown.
Played play(int rate, int frames, const std::function<int64_t(int)> &work,
            const std::function<int64_t(int)> &oversleep)
{
    Played p;
    Pace pace;
    int64_t now = START;
    start_pace(&pace, rate, now);
    for (int n = 0; n < frames; n++) {
        now += work(n);
        const int64_t deadline = frame_deadline(&pace);
        const bool wait = now < deadline;
        if (wait) {
            now = deadline + oversleep(n);
        }
        p.shown.push_back(now);
        p.waited.push_back(wait);
        frame_shown(&pace, now);
    }
    return p;
}

int64_t none(int)
{
    return 0;
}

// The n-th point of the grid at `rate` frames a second.
int64_t grid(int rate, int64_t n)
{
    return START + n * 1000000000 / rate;
}

TEST(Pace, QuickFramesAreShownOncePerPeriodOnTheGrid)
{
    for (int rate : {100, 60, 70, 144}) {
        const Played p = play(rate, 500, [](int) { return 2 * MS; }, none);
        EXPECT_FALSE(p.waited[0]) << "the first frame is shown at once";
        EXPECT_EQ(p.shown[0], START + 2 * MS);
        for (int n = 1; n < 500; n++) {
            ASSERT_TRUE(p.waited[n]) << rate << " Hz, frame " << n;
            ASSERT_EQ(p.shown[n], grid(rate, n)) << rate << " Hz, frame " << n;
        }
        // One second holds `rate` frames.
        int in_first_second = 0;
        for (int64_t t : p.shown) {
            in_first_second += t < START + 1000 * MS ? 1 : 0;
        }
        EXPECT_EQ(in_first_second, rate);
    }
}

TEST(Pace, AnUnknownRatePacesAtTheRequested100Hz)
{
    ASSERT_EQ(REQUESTED_REFRESH_RATE, 100);
    for (int rate : {0, -1}) {
        const Played p = play(rate, 50, [](int) { return 1 * MS; }, none);
        for (int n = 2; n < 50; n++) {
            ASSERT_EQ(p.shown[n] - p.shown[n - 1], 10 * MS) << "rate " << rate << ", frame " << n;
        }
    }
}

// Frame 5 takes 37 ms to draw at 100 Hz: ready at 77 ms, it has missed the
// deadlines at 50, 60 and 70 ms.  It is shown as soon as it is ready; the
// next frame waits for the grid point at 80 ms instead of hurrying to make
// up for the missed ones, and the frames after it keep to the grid.
TEST(Pace, ALateFrameIsShownAtOnceWithoutACatchUpBurst)
{
    const Played p = play(100, 40, [](int n) { return n == 5 ? 37 * MS : 1 * MS; }, none);
    EXPECT_EQ(p.shown[4], grid(100, 4));
    EXPECT_FALSE(p.waited[5]);
    EXPECT_EQ(p.shown[5], grid(100, 4) + 37 * MS);
    EXPECT_TRUE(p.waited[6]);
    EXPECT_EQ(p.shown[6], grid(100, 8));
    for (int n = 7; n < 40; n++) {
        ASSERT_TRUE(p.waited[n]) << "frame " << n;
        ASSERT_EQ(p.shown[n], grid(100, n + 2)) << "frame " << n;
    }

    // A frame held just past its deadline (here by a wait of the library's
    // own) is shown without a further wait, and the grid stays put.
    const Played q = play(100, 20, [](int n) { return n == 8 ? 10 * MS + 300000 : 1 * MS; }, none);
    EXPECT_FALSE(q.waited[8]);
    EXPECT_EQ(q.shown[8], grid(100, 8) + 300000);
    EXPECT_EQ(q.shown[9], grid(100, 9));
    EXPECT_EQ(q.shown[19], grid(100, 19));
}

// Ten thousand frames at 60 Hz, about 167 s, each drawn in up to half a
// period and each sleep ending up to half a millisecond late: every frame
// is still shown within that half millisecond of its own grid point.
TEST(Pace, NoDriftOverTenThousandFrames)
{
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int64_t>(seed >> 8);
    };
    const int64_t period = 1000000000 / 60;
    const Played p = play(
        60, 10000, [&](int) { return next() % (period / 2); },
        [&](int) { return next() % (MS / 2); });
    for (int n = 1; n < 10000; n++) {
        ASSERT_TRUE(p.waited[n]) << "frame " << n;
        ASSERT_GE(p.shown[n], grid(60, n)) << "frame " << n;
        ASSERT_LT(p.shown[n], grid(60, n) + MS / 2) << "frame " << n;
    }
    EXPECT_EQ(grid(60, 10000) - START, 166666666666);
}

}  // namespace
