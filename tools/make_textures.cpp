// make_textures: draws the three wall textures and writes them as 8-bit
// PCX files sharing one palette: "brick.pcx", "brickd.pcx", "weirdo.pcx".
//
// Usage: make_textures <output folder>
//
// A texture lies on a wall turned on its side: row r of the image is the
// texture column r along the wall, and pixel 0 of a row is at the bottom of
// the wall.  The pictures below are drawn in wall terms (u along the wall,
// v up from the floor) and stored at image pixel (v, u).
//
// Palette plan, so that a screenshot tells which texture is on screen:
//   0         black
//   2         floor (calm dark olive)
//   36        ceiling (calm slate blue)
//   64..111   "brick.pcx"   (red-brown bricks, light mortar)
//   112..159  "brickd.pcx"  (the same, darker)
//   160..239  "weirdo.pcx"  (colour bands, rings and a checker)
//   255       white, for the overlay text
// Every other entry is a black-to-grey ramp kept away from all of these.

#include <allegro.h>

#include <cmath>
#include <cstdio>
#include <string>

static const int SIZE = 64;

static const int BRICK_FIRST = 64;
static const int BRICKD_FIRST = 112;
static const int SHADES = 48;  // per brick texture: 40 brick shades, 8 mortar shades
static const int MORTAR_SHADES = 8;
static const int WEIRDO_FIRST = 160;
static const int WEIRDO_HUES = 40;

static void set_entry(PALETTE pal, int i, int r, int g, int b)
{
    pal[i].r = static_cast<unsigned char>(r);
    pal[i].g = static_cast<unsigned char>(g);
    pal[i].b = static_cast<unsigned char>(b);
}

// Hue 0..1 to a saturated 6-bit colour.
static void hue_colour(double hue, double value, int *r, int *g, int *b)
{
    const double h = hue * 6.0;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    double rgb[3];
    switch (sector) {
    case 0: rgb[0] = 1; rgb[1] = f; rgb[2] = 0; break;
    case 1: rgb[0] = 1 - f; rgb[1] = 1; rgb[2] = 0; break;
    case 2: rgb[0] = 0; rgb[1] = 1; rgb[2] = f; break;
    case 3: rgb[0] = 0; rgb[1] = 1 - f; rgb[2] = 1; break;
    case 4: rgb[0] = f; rgb[1] = 0; rgb[2] = 1; break;
    default: rgb[0] = 1; rgb[1] = 0; rgb[2] = 1 - f; break;
    }
    *r = static_cast<int>(rgb[0] * value * 63.0 + 0.5);
    *g = static_cast<int>(rgb[1] * value * 63.0 + 0.5);
    *b = static_cast<int>(rgb[2] * value * 63.0 + 0.5);
}

static void make_palette(PALETTE pal)
{
    // Background ramp: dim blue-greys that no texture, fill or text uses.
    for (int i = 0; i < 256; i++) {
        const int v = (i * 23) / 255;
        set_entry(pal, i, v, v, v + 1);
    }
    set_entry(pal, 0, 0, 0, 0);
    set_entry(pal, 2, 24, 20, 12);   // floor
    set_entry(pal, 36, 18, 26, 38);  // ceiling
    set_entry(pal, 255, 63, 63, 63); // overlay white

    // Bricks: shades of red-brown, then mortar.  The dark set keeps every
    // channel below the bright set's range, so no colour is shared.
    for (int k = 0; k < SHADES - MORTAR_SHADES; k++) {
        const double t = static_cast<double>(k) / (SHADES - MORTAR_SHADES - 1);
        const int r = 46 + static_cast<int>(t * 17);  // 46..63
        const int g = 14 + static_cast<int>(t * 12);
        const int b = 8 + static_cast<int>(t * 8);
        set_entry(pal, BRICK_FIRST + k, r, g, b);
        set_entry(pal, BRICKD_FIRST + k, r / 2, g / 2, b / 2);
    }
    for (int k = 0; k < MORTAR_SHADES; k++) {
        const int v = 48 + k;
        set_entry(pal, BRICK_FIRST + SHADES - MORTAR_SHADES + k, v, v - 2, v - 6);
        set_entry(pal, BRICKD_FIRST + SHADES - MORTAR_SHADES + k, v / 2, v / 2 - 1, v / 2 - 3);
    }

    // Weirdo: a hue wheel at two brightnesses.
    for (int k = 0; k < WEIRDO_HUES; k++) {
        int r;
        int g;
        int b;
        hue_colour(static_cast<double>(k) / WEIRDO_HUES, 1.0, &r, &g, &b);
        set_entry(pal, WEIRDO_FIRST + k, r, g, b);
        hue_colour(static_cast<double>(k) / WEIRDO_HUES, 0.55, &r, &g, &b);
        set_entry(pal, WEIRDO_FIRST + WEIRDO_HUES + k, r, g, b);
    }
}

// A small repeatable hash for the grain of the bricks.
static unsigned grain(unsigned u, unsigned v, unsigned seed)
{
    unsigned h = u * 374761393u + v * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Bricks 32 long and 16 high, every other course shifted by half a brick,
// with two-pixel mortar joints.
static int brick_pixel(int u, int v, int first)
{
    const int course = v / 16;
    const int shifted = (u + (course % 2) * 16) % SIZE;
    const bool mortar = (v % 16) < 2 || (shifted % 32) < 2;
    if (mortar) {
        return first + SHADES - MORTAR_SHADES + static_cast<int>(grain(u, v, 7) % MORTAR_SHADES);
    }
    // Each brick has its own tone, with some grain on top.
    const int brick_id = course * 2 + shifted / 32;
    const int tone = static_cast<int>(grain(brick_id, 0, 3) % 24);
    const int noise = static_cast<int>(grain(u, v, 11) % 16);
    return first + tone + noise;
}

// Colour bands across the wall, rings around the middle, and a checker
// that swaps the two brightnesses.
static int weirdo_pixel(int u, int v)
{
    const double du = u - 31.5;
    const double dv = v - 31.5;
    const double ring = std::sqrt(du * du + dv * dv);
    const int band = (static_cast<int>(ring / 4.0) * 7 + v / 8 * 3) % WEIRDO_HUES;
    const bool dark = ((u / 8) + (v / 8)) % 2 == 1;
    return WEIRDO_FIRST + (dark ? WEIRDO_HUES : 0) + band;
}

static bool write_texture(const std::string &path, int kind, PALETTE pal)
{
    BITMAP *bmp = create_bitmap_ex(8, SIZE, SIZE);
    if (bmp == nullptr) {
        std::fprintf(stderr, "make_textures: cannot create a %d x %d bitmap\n", SIZE, SIZE);
        return false;
    }
    for (int u = 0; u < SIZE; u++) {
        for (int v = 0; v < SIZE; v++) {
            int colour;
            if (kind == 0) {
                colour = brick_pixel(u, v, BRICK_FIRST);
            } else if (kind == 1) {
                colour = brick_pixel(u, v, BRICKD_FIRST);
            } else {
                colour = weirdo_pixel(u, v);
            }
            bmp->line[u][v] = static_cast<unsigned char>(colour);
        }
    }
    const bool ok = save_pcx(path.c_str(), bmp, pal) == 0;
    destroy_bitmap(bmp);
    if (!ok) {
        std::fprintf(stderr, "make_textures: cannot write \"%s\"\n", path.c_str());
    }
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_textures <output folder>\n");
        return 2;
    }
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "make_textures: cannot initialise the graphics library\n");
        return 1;
    }
    PALETTE pal;
    make_palette(pal);
    const std::string dir = argv[1];
    const bool ok = write_texture(dir + "/brick.pcx", 0, pal) &&
                    write_texture(dir + "/brickd.pcx", 1, pal) &&
                    write_texture(dir + "/weirdo.pcx", 2, pal);
    return ok ? 0 : 1;
}
END_OF_MAIN()
