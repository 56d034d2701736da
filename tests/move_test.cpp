// move_viewer on the built-in level and on a few walls of its own: the
// exact raw position, the sector returned and, where it is fixed, the
// number of passes a step takes.

#include <gtest/gtest.h>

#include <climits>

#include "app.h"
#include "move.h"

namespace {

// A position that is not checked (a step whose exact end is not pinned
// down, in the middle of a sequence).
constexpr fixed ANY = INT_MIN;

// Test-only sectors.  The lone walls run from (0, 0) to (1, 0), inner side
// +y; the portal leads into a sector without walls, where a step ends at
// once.  The corner adds to such a portal a solid wall at x = -0x4CCD,
// inner side +x, whose clearance line is x = 0: it meets the portal's line
// at (0, 0), within both walls' extents.
Wall lone_walls[2];
Wall corner_walls[2];
Sector beyond{nullptr, 0};
Sector lone_solid{&lone_walls[0], 1};
Sector lone_portal{&lone_walls[1], 1};
Sector corner{corner_walls, 2};

class Move : public ::testing::Test {
protected:
    void SetUp() override
    {
        build_level(&brick_texture, &brickd_texture, &weirdo_texture);
        const Vertex a{0, 0};
        const Vertex b{0x10000, 0};
        make_wall(&lone_walls[0], &brick_texture, &a, &b, nullptr);
        make_wall(&lone_walls[1], &brick_texture, &a, &b, &beyond);
        const Vertex c{-WALL_CLEARANCE, 0x10000};
        const Vertex d{-WALL_CLEARANCE, -0x10000};
        make_wall(&corner_walls[0], &brick_texture, &a, &b, &beyond);
        make_wall(&corner_walls[1], &brick_texture, &c, &d, nullptr);
    }
};

Sector *const S1 = &level_sectors[0];
Sector *const S2 = &level_sectors[1];
Sector *const S3 = &level_sectors[2];
Sector *const S4 = &level_sectors[3];

const char *name_of(const Sector *s)
{
    static const char *const names[] = {"S1", "S2", "S3", "S4", "S5", "S6"};
    for (int i = 0; i < LEVEL_SECTORS; i++) {
        if (s == &level_sectors[i]) {
            return names[i];
        }
    }
    if (s == &lone_solid) {
        return "lone solid wall";
    }
    if (s == &lone_portal) {
        return "lone portal";
    }
    if (s == &corner) {
        return "corner";
    }
    if (s == &beyond) {
        return "beyond";
    }
    return "?";
}

struct Step {
    const char *what;
    Sector *from;    // null: go on from where the row before ended
    fixed x, y;      // start, when `from` is set
    fixed dx, dy;
    Sector *to;
    fixed want_x, want_y;  // ANY: not checked
    int passes;            // 0: not checked
};

// W6 is the line x = 4 of S1, its clearance line x = 0x3B333; W3 the
// portal x = -5 from S1 into S2; V9 the corner (-8, -10) of S2 between
// W10 (x = -8) and W11.
const Step steps[] = {
    {"zero step", S1, 0x12345, -0x6789, 0, 0, S1, 0x12345, -0x6789, 1},
    {"free step", S1, 0, 0, 0, 0x2000, S1, 0, 0x2000, 1},

    {"straight at W6 stops on its clearance line", S1, 0x38000, 0, 0x4000, 0, S1, 0x3B333, 0, 2},
    {"again: fraction 0, a slide of length 0", nullptr, 0, 0, 0x4000, 0, S1, 0x3B333, 0, 2},

    {"slant at W6 slides along it", S1, 0x38000, 0, 0x4000, 0x4000, S1, 0x3B333, 0x4000, 2},
    {"pressing on: the whole along-wall part", nullptr, 0, 0, 0x4000, 0x4000, S1, 0x3B333, 0x8000, 2},

    {"inside W6's band, toward it: pushed back", S1, 0x3CCCC, 0, 0x2000, 0, S1, 0x3B333, 0, 2},
    {"inside W6's band, slant: pushed back, slides", S1, 0x3CCCC, 0, 0x2000, 0x2000, S1, 0x3B333, 0x2000, 2},

    {"through W3 into S2", S1, -319488, 0, -0x4000, 0, S2, -335872, 0, 2},
    {"ending exactly on W3's line is no crossing", S1, -311296, 0, -0x4000, 0, S1, -327680, 0, 1},
    {"from the line: crossed at fraction 0", nullptr, 0, 0, -0x4000, 0, S2, -344064, 0, 2},

    // Running steps at heading 1024 into the right-angled corner V1.
    {"toward the corner of W6 and W1", S1, 0x38000, 0x38000, 11585, 11585, S1, 0x3AD41, 0x3AD41, 1},
    {"into the corner: both clearance lines", nullptr, 0, 0, 11585, 11585, S1, 0x3B332, 0x3B332, 3},
    {"in the corner it stays", nullptr, 0, 0, 11585, 11585, S1, 0x3B332, 0x3B332, 0},
    {"and stays", nullptr, 0, 0, 11585, 11585, S1, 0x3B332, 0x3B332, 0},

    // Steps of a quarter unit along -y toward the acute corner at V9.
    {"toward V9, 1", S2, -491520, -458752, 0, -0x4000, S2, -491520, -475136, 1},
    {"toward V9, 2", nullptr, 0, 0, 0, -0x4000, S2, -491520, -491520, 1},
    {"toward V9, 3", nullptr, 0, 0, 0, -0x4000, S2, -491520, -507904, 1},
    {"toward V9, 4: meets W11, slides toward V9", nullptr, 0, 0, 0, -0x4000, S2, ANY, ANY, 0},
    {"toward V9, 5", nullptr, 0, 0, 0, -0x4000, S2, ANY, ANY, 0},
    {"toward V9, 6", nullptr, 0, 0, 0, -0x4000, S2, ANY, ANY, 0},
    {"toward V9, 7", nullptr, 0, 0, 0, -0x4000, S2, ANY, ANY, 0},
    {"toward V9, 8: wedged on both clearance lines", nullptr, 0, 0, 0, -0x4000, S2, -504627, -547016, 83},
    {"toward V9, 9", nullptr, 0, 0, 0, -0x4000, S2, -504627, -547016, 83},
    {"toward V9, 10", nullptr, 0, 0, 0, -0x4000, S2, -504627, -547016, 83},
    {"toward V9, 11", nullptr, 0, 0, 0, -0x4000, S2, -504627, -547016, 83},

    // The forward step at heading 6592 near S4's end: slides along W19,
    // crosses W16 and is pushed back out of W12's band, across the
    // portal line again.  It returns S3 with the point past W13's line.
    {"S4 along W19 into S3 and back past W13", S4, -500174, 1294806, -7714, 2759, S3, -504628, 1293627, 0},
    {"the step back: pushed back across W13", nullptr, 0, 0, 7714, -2759, S4, -496915, 1290867, 0},

    // A wall takes part only while the foot of the perpendicular from the
    // position lies less than 0x4CCD beyond either end (the wall covers
    // along values 0 to 0x10000).  The step would end inside the solid
    // wall's band, or past the portal's line.
    {"solid, foot 0x4CCC before start", &lone_solid, -0x4CCC, 0x8000, 0, -0x4000, &lone_solid, -0x4CCC, 0x4CCD, 2},
    {"solid, foot 0x4CCD before start", &lone_solid, -0x4CCD, 0x8000, 0, -0x4000, &lone_solid, -0x4CCD, 0x4000, 1},
    {"solid, foot 0x4CCC past end", &lone_solid, 0x14CCC, 0x8000, 0, -0x4000, &lone_solid, 0x14CCC, 0x4CCD, 2},
    {"solid, foot 0x4CCD past end", &lone_solid, 0x14CCD, 0x8000, 0, -0x4000, &lone_solid, 0x14CCD, 0x4000, 1},
    {"solid, foot far past end", &lone_solid, 0x30000, 0x8000, 0, -0x4000, &lone_solid, 0x30000, 0x4000, 1},
    {"portal, foot 0x4CCC before start", &lone_portal, -0x4CCC, 0x2000, 0, -0x4000, &beyond, -0x4CCC, -0x2000, 2},
    {"portal, foot 0x4CCD before start", &lone_portal, -0x4CCD, 0x2000, 0, -0x4000, &lone_portal, -0x4CCD, -0x2000, 1},
    {"portal, foot 0x4CCC past end", &lone_portal, 0x14CCC, 0x2000, 0, -0x4000, &beyond, 0x14CCC, -0x2000, 2},
    {"portal, foot 0x4CCD past end", &lone_portal, 0x14CCD, 0x2000, 0, -0x4000, &lone_portal, 0x14CCD, -0x2000, 1},

    // A step that changes a wall's side value by MIN_SIDE_CHANGE or less
    // runs parallel to it, even when it ends inside the band.
    {"solid, side change 30: passed over", &lone_solid, 0x8000, 0x4CCD + 10, 0, -30, &lone_solid, 0x8000, 0x4CCD - 20, 1},
    {"solid, side change 31: stops on the clearance line", &lone_solid, 0x8000, 0x4CCD + 10, 0, -31, &lone_solid, 0x8000, 0x4CCD, 2},

    // Starting on a portal's line and a solid wall's clearance line at
    // once, a step out past both meets both at fraction 0: the solid wall
    // wins, and only the slide along it crosses the portal.
    {"tie: solid wall before portal", &corner, 0, 0, -0x1000, -0x1000, &beyond, 0, -0x1000, 3},
};

TEST_F(Move, Steps)
{
    Sector *sector = nullptr;
    fixed x = 0;
    fixed y = 0;
    for (const Step &s : steps) {
        if (s.from != nullptr) {
            sector = s.from;
            x = s.x;
            y = s.y;
        }
        const fixed x0 = x;
        const fixed y0 = y;
        sector = move_viewer(sector, &x, &y, s.dx, s.dy);
        SCOPED_TRACE(testing::Message() << s.what << ": from (" << x0 << ", " << y0 << ") by ("
                                        << s.dx << ", " << s.dy << ")");
        EXPECT_STREQ(name_of(sector), name_of(s.to));
        if (s.want_x != ANY) {
            EXPECT_EQ(x, s.want_x);
            EXPECT_EQ(y, s.want_y);
        }
        if (s.passes != 0) {
            EXPECT_EQ(move_passes, s.passes);
        }
    }
}

}  // namespace
