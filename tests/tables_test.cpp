// The angle and projection tables for an 800-column view, and the frame
// stamp that opens each frame.

#include <gtest/gtest.h>

#include "render.h"

namespace {

class Tables : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(build_tables(800, 600)); }
    void TearDown() override { free_tables(); }
};

TEST_F(Tables, ColumnAnglesAndCosines)
{
    const struct {
        int column;
        int32_t angle;
    } angles[] = {{0, 4934}, {1, 4933}, {46, 4859}, {399, 4098}, {400, 4095},
                  {401, 4093}, {754, 3331}, {798, 3260}, {799, 3258}};
    for (const auto &c : angles) {
        EXPECT_EQ(col_angle[c.column], c.angle) << "column " << c.column;
    }
    EXPECT_EQ(col_cos[0], -52429);
    EXPECT_EQ(col_cos[400], -65536);
    EXPECT_EQ(col_cos[799], -52476);
    for (int c = 0; c < 800; c++) {
        ASSERT_LT(col_cos[c], 0) << "column " << c;
        ASSERT_GE(col_cos[c], -65536) << "column " << c;
    }
}

TEST_F(Tables, CosineAndTangent)
{
    const struct {
        int index;
        fixed value;
    } cosines[] = {{0, 65536}, {1024, 46341}, {2047, 50}, {2048, 0}, {2049, -50},
                   {4096, -65536}, {6144, 0}, {8191, 65536}};
    for (const auto &c : cosines) {
        EXPECT_EQ(cos_table[c.index], c.value) << "cos " << c.index;
    }
    const struct {
        int index;
        fixed value;
    } tangents[] = {{0, 0}, {1, 50}, {1024, 65536}, {2047, 85450510},
                    {2048, -0x7FFFFFFF}, {2049, -85440771}, {3072, -65536}, {4095, -50}};
    for (const auto &t : tangents) {
        EXPECT_EQ(tan_table[t.index], t.value) << "tan " << t.index;
    }
}

TEST_F(Tables, SlotsStartZeroedSoAnUnfilledSlotDrawsNothing)
{
    for (int c = 0; c < 800; c++) {
        ASSERT_EQ(column_slots[c].stamp, 0);
        ASSERT_EQ(column_slots[c].height, 0);
        ASSERT_EQ(column_slots[c].texture, nullptr);
    }
}

TEST_F(Tables, BeginFrameOpensAllColumnsAndWrapsAfter256Frames)
{
    const uint8_t start = frame_stamp;
    open_left = 17;
    open_right = 3;
    begin_frame();
    EXPECT_EQ(frame_stamp, static_cast<uint8_t>(start + 1));
    EXPECT_EQ(open_left, 0);
    EXPECT_EQ(open_right, 799);
    for (int i = 1; i < 256; i++) {
        begin_frame();
    }
    EXPECT_EQ(frame_stamp, start);
}

TEST(TablesWithoutColumns, ZeroWidthViewHasNoColumnsToOpen)
{
    ASSERT_TRUE(build_tables(0, 0));
    begin_frame();
    EXPECT_EQ(open_left, 0);
    EXPECT_EQ(open_right, -1);
    EXPECT_EQ(cos_table[0], 65536);
    free_tables();
}

}  // namespace
