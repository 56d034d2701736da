// Which sector a frame's traversal starts from, when movement has left
// the viewer's point just past a portal line of the sector it returned.

#include <vector>

#include "move.h"
#include "scene.h"

namespace {

struct SlotCopy {
    BITMAP **texture;
    fixed height;
    int32_t tex_column;
    bool filled;

    bool operator==(const SlotCopy &o) const
    {
        return texture == o.texture && height == o.height && tex_column == o.tex_column &&
               filled == o.filled;
    }
};

std::vector<SlotCopy> slots_now()
{
    std::vector<SlotCopy> v;
    for (int c = 0; c < view_width; c++) {
        const ColumnSlot &s = column_slots[c];
        v.push_back({s.texture, s.height, s.tex_column, s.stamp == frame_stamp});
    }
    return v;
}

using View = Scene;

// From S4 the forward step at heading 6592 returns S3 with the point 1815
// raw units past the line of S3's portal into S4.
TEST_F(View, FramePastAPortalLineStartsBeyondIt)
{
    Sector *s3 = &level_sectors[2];
    Sector *s4 = &level_sectors[3];
    fixed x = -500174;
    fixed y = 1294806;
    ASSERT_EQ(move_viewer(s4, &x, &y, -7714, 2759), s3);
    ASSERT_EQ(x, -504628);
    ASSERT_EQ(y, 1293627);

    // Started from S3 itself, the portal faces away and S4 stays unfilled.
    sectors_drawn = 1;
    begin_frame();
    render_sector(s3, 6592, x, y, 0, view_width - 1);
    EXPECT_EQ(unfilled_columns(), 192);
    EXPECT_EQ(sectors_drawn, 1);

    render_view(target, s3, 6592, x, y);
    EXPECT_EQ(unfilled_columns(), 0);
    EXPECT_EQ(sectors_drawn, 2);  // S4, and S3 through the twin portal
}

// From points strictly inside a sector nothing changes: the slots are
// exactly those of a traversal started from the viewer's sector.
TEST_F(View, FrameFromInsideASectorIsUnchanged)
{
    const struct {
        int sector;
        fixed x, y;
        int angle;
    } views[] = {
        {0, 0, 0, 0},           {0, 0, 0, 6144},         {0, -0x40000, 0, 6144},
        {1, -0x68000, 0, 0},    {1, -0x68000, 0x60000, 300}, {2, -0x78000, 0xF0000, 0},
        {3, 0, 0x14CCCC, 6144}, {4, 0x98000, 0, 4096},   {5, 0x40000, -0x1E0000, 4096},
        {5, 0x40000, -0x1E0000, 500},
    };
    for (const auto &v : views) {
        const Sector *s = &level_sectors[v.sector];
        sectors_drawn = 1;
        begin_frame();
        render_sector(s, v.angle, v.x, v.y, 0, view_width - 1);
        const std::vector<SlotCopy> plain = slots_now();
        const int plain_sectors = sectors_drawn;

        render_view(target, s, v.angle, v.x, v.y);
        EXPECT_TRUE(slots_now() == plain) << "S" << v.sector + 1 << " angle " << v.angle;
        EXPECT_EQ(sectors_drawn, plain_sectors);
    }
}

}  // namespace
