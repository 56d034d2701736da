// The generated wall textures: size, depth, the shared palette, the fill
// and overlay colours, and colours that tell the three textures apart.

#include <gtest/gtest.h>

#include <allegro.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

namespace {

using Rgb = std::tuple<int, int, int>;

Rgb rgb_of(const PALETTE pal, int index)
{
    return Rgb(pal[index].r, pal[index].g, pal[index].b);
}

class Textures : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
        const char *names[3] = {"brick.pcx", "brickd.pcx", "weirdo.pcx"};
        for (int i = 0; i < 3; i++) {
            const std::string path = std::string(TEXTURE_DIR) + "/" + names[i];
            images[i] = load_pcx(path.c_str(), palettes[i]);
            ASSERT_NE(images[i], nullptr) << path;
        }
    }
    void TearDown() override
    {
        for (BITMAP *b : images) {
            if (b != nullptr) {
                destroy_bitmap(b);
            }
        }
    }

    std::array<BITMAP *, 3> images{};
    PALETTE palettes[3];
};

TEST_F(Textures, AreEightBit64By64WithOnePalette)
{
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(bitmap_color_depth(images[i]), 8);
        EXPECT_EQ(images[i]->w, 64);
        EXPECT_EQ(images[i]->h, 64);
        for (int c = 0; c < 256; c++) {
            ASSERT_EQ(rgb_of(palettes[i], c), rgb_of(palettes[1], c)) << "file " << i << " entry " << c;
        }
    }
}

TEST_F(Textures, FillsAreCalmAndDistinctAndWhiteIsTrueWhite)
{
    const PALETTE &pal = palettes[1];  // the palette of "brickd.pcx" is the one in force
    EXPECT_NE(rgb_of(pal, 2), rgb_of(pal, 36));
    select_palette(pal);
    const int white = makecol8(255, 255, 255);
    unselect_palette();
    EXPECT_EQ(rgb_of(pal, white), Rgb(63, 63, 63));
}

TEST_F(Textures, EachTextureHasColoursOfItsOwn)
{
    const PALETTE &pal = palettes[1];
    std::set<Rgb> colours[3];
    std::set<int> indices[3];
    for (int i = 0; i < 3; i++) {
        for (int y = 0; y < 64; y++) {
            for (int x = 0; x < 64; x++) {
                const int index = images[i]->line[y][x];
                indices[i].insert(index);
                colours[i].insert(rgb_of(pal, index));
            }
        }
        EXPECT_GE(colours[i].size(), 8u) << "texture " << i << " looks flat";
    }
    const Rgb reserved[3] = {rgb_of(pal, 2), rgb_of(pal, 36), Rgb(63, 63, 63)};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(indices[i].count(2), 0u);
        EXPECT_EQ(indices[i].count(36), 0u);
        for (const Rgb &r : reserved) {
            EXPECT_EQ(colours[i].count(r), 0u) << "texture " << i;
        }
        for (int j = i + 1; j < 3; j++) {
            for (const Rgb &c : colours[i]) {
                EXPECT_EQ(colours[j].count(c), 0u) << "textures " << i << " and " << j;
            }
        }
    }
}

// Bricks lie level on the wall.  Along the wall is down the image's rows
// and up the wall is along a row, so a level mortar course is an image
// column that is mortar in every row.
TEST_F(Textures, BrickMortarCoursesRunLevelAlongTheWall)
{
    const int mortar_first[2] = {104, 152};  // the last eight shades of each brick set
    for (int i = 0; i < 2; i++) {
        int level_courses = 0;
        for (int x = 0; x < 64; x++) {
            bool all_mortar = true;
            for (int y = 0; y < 64; y++) {
                const int c = images[i]->line[y][x];
                all_mortar = all_mortar && c >= mortar_first[i] && c < mortar_first[i] + 8;
            }
            level_courses += all_mortar ? 1 : 0;
        }
        // Four courses of bricks, each under a two-pixel joint.
        EXPECT_EQ(level_courses, 8) << "texture " << i;
    }
}

}  // namespace
