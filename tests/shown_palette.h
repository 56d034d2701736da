// shown_palette.h: telling palette entries apart in a screenshot of the
// program.  The palette in force is that of "brickd.pcx" (the generated
// textures share it); the window shows its 6-bit entries widened to 8 bits.

#ifndef PORTALWALK_SHOWN_PALETTE_H
#define PORTALWALK_SHOWN_PALETTE_H

#include <allegro.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

// Palette ranges of the generated textures.
constexpr int BRICK_FIRST = 64;
constexpr int BRICK_COUNT = 48;
constexpr int BRICKD_FIRST = 112;
constexpr int BRICKD_COUNT = 48;
constexpr int WEIRDO_FIRST = 160;
constexpr int WEIRDO_COUNT = 80;

struct ShownPalette {
    PALETTE pal;

    ShownPalette()
    {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        BITMAP *b = load_pcx((std::string(TEXTURE_DIR) + "/brickd.pcx").c_str(), pal);
        if (b != nullptr) {
            destroy_bitmap(b);
        }
    }

    // Whether a screen colour is palette entry `index`, give or take the
    // rounding of the widening.
    bool matches(uint32_t rgb, int index) const
    {
        const int want[3] = {pal[index].r, pal[index].g, pal[index].b};
        for (int c = 0; c < 3; c++) {
            const int got = static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
            const int widened = want[c] * 255 / 63;
            if (got < widened - 4 || got > widened + 4) {
                return false;
            }
        }
        return true;
    }

    // Whether the colour is one of palette entries first..first+count-1.
    bool in_range(uint32_t rgb, int first, int count) const
    {
        for (int i = first; i < first + count; i++) {
            if (matches(rgb, i)) {
                return true;
            }
        }
        return false;
    }
};

#endif
