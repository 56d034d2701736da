// The fixed-point rules every exact result of the program rests on:
// products floor, quotients truncate toward zero, both saturate to
// +-0x7FFFFFFF.

#include <gtest/gtest.h>

#include <allegro.h>

#include <cerrno>
#include <cstdlib>

#include "world.h"

namespace {

struct MulCase {
    fixed a;
    fixed b;
    fixed want;
};

TEST(FixedPoint, MultiplicationFloors)
{
    const MulCase cases[] = {
        {0x10000, 0x10000, 0x10000},
        {3, 0x8000, 1},          // 1.5 floors to 1
        {-3, 0x8000, -2},        // -1.5 floors to -2, not -1
        {-1, 1, -1},             // the tiniest negative product floors to -1
        {1, 1, 0},
        {16384, 52428, 13107},   // a hit fraction applied to a step
        {-0x10000, 0x10000, -0x10000},
    };
    for (const MulCase &c : cases) {
        EXPECT_EQ(fx::fixmul(c.a, c.b), c.want) << c.a << " * " << c.b;
    }
}

TEST(FixedPoint, MultiplicationSaturatesSymmetrically)
{
    EXPECT_EQ(fx::fixmul(0x7FFFFFFF, 0x20000), 0x7FFFFFFF);
    EXPECT_EQ(fx::fixmul(-0x7FFFFFFF, 0x20000), -0x7FFFFFFF);
    EXPECT_EQ(fx::fixmul(0x40000000, -0x40000000), -0x7FFFFFFF);
    // The largest product that still fits is kept as it is.
    EXPECT_EQ(fx::fixmul(0x7FFFFFFF, 0x10000), 0x7FFFFFFF);
    EXPECT_EQ(fx::fixmul(-0x7FFFFFFF, 0x10000), -0x7FFFFFFF);
}

TEST(FixedPoint, DivisionTruncatesTowardZero)
{
    const MulCase cases[] = {
        {13107, 16384, 52428},
        {-131072, 0x83F08, -15894},  // a wall from (-5, 2) to (-7, 10): rounding would give -15895
        {131072, 0x83F08, 15894},
        {0x10000, 0x16A0A, 46340},   // a 45-degree wall: 46340, not 46341
        {-0x10000, 0x16A0A, -46340},
        {1, 3, 21845},
        {-1, 3, -21845},
        {0, 5, 0},
    };
    for (const MulCase &c : cases) {
        EXPECT_EQ(fx::fixdiv(c.a, c.b), c.want) << c.a << " / " << c.b;
    }
}

TEST(FixedPoint, DivisionSaturatesAndDivisionByZeroTakesTheNumeratorsSign)
{
    EXPECT_EQ(fx::fixdiv(0x7FFFFFFF, 1), 0x7FFFFFFF);
    EXPECT_EQ(fx::fixdiv(-0x7FFFFFFF, 1), -0x7FFFFFFF);
    EXPECT_EQ(fx::fixdiv(0x10000, -1), -0x7FFFFFFF);
    EXPECT_EQ(fx::fixdiv(5, 0), 0x7FFFFFFF);
    EXPECT_EQ(fx::fixdiv(0, 0), 0x7FFFFFFF);
    EXPECT_EQ(fx::fixdiv(-5, 0), -0x7FFFFFFF);
}

// The library's own helpers on this platform part from the program's rules
// exactly here; the program's results depend on the rules above.
TEST(FixedPoint, DiffersFromTheLibraryWhereItsRoundingDiffers)
{
    // The library's helpers report overflow through allegro_errno.
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    EXPECT_NE(fixdiv(-131072, 0x83F08), fx::fixdiv(-131072, 0x83F08));
    EXPECT_NE(fixmul(-0x40000000, 0x40000000), fx::fixmul(-0x40000000, 0x40000000));
}

TEST(FixedPoint, ConversionsRoundToNearestAndSaturate)
{
    EXPECT_EQ(fx::ftofix(1.0), 0x10000);
    EXPECT_EQ(fx::ftofix(-0.8), -52429);
    EXPECT_EQ(fx::ftofix(0.5 / 65536), 1);    // half a unit rounds away from zero
    EXPECT_EQ(fx::ftofix(-0.5 / 65536), -1);
    EXPECT_EQ(fx::ftofix(2.2360679775), 0x23C6F);
    EXPECT_EQ(fx::ftofix(32767.0), 0x7FFF0000);
    EXPECT_EQ(fx::ftofix(32767.5), 0x7FFFFFFF);
    EXPECT_EQ(fx::ftofix(-32767.5), -0x7FFFFFFF);
    EXPECT_EQ(fx::ftofix(1e300), 0x7FFFFFFF);
    EXPECT_EQ(fx::itofix(600), 600 << 16);
    EXPECT_EQ(fx::itofix(-4), static_cast<fixed>(0xFFFC0000));
}

}  // namespace
