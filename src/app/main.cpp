// main.cpp: start-up, the frame loop and shutdown of the walk-through.
//
// With no argument the program walks the built-in level; with a level
// file, the level the file describes, read and checked before the display
// is opened.  Everything is made before the first frame and released after
// the last.  A failure during start-up ends the program with one line on
// stderr that names what failed, and exit status 1, after releasing what
// was made; a bad argument ends it with status 2.

#include "app.h"

#include <allegro.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/stat.h>

#include "files.h"
#include "level.h"
#include "pcx.h"
#include "render.h"

static const int DISPLAY_W = 800;
static const int DISPLAY_H = 600;
static const int TEXTURE_SIZE = 64;

static PALETTE texture_palette;
static BITMAP *pages[2];
static int page_index;
static BITMAP *back_buffer;
static Pace pace;

// The level file named on the command line, if any, and what it holds.
static const char *level_file;
static Level level;

static const char USAGE[] =
    "usage: portalwalk [level.toml]\n"
    "\n"
    "Walks through a world of rooms joined by portals at 800 x 600, full\n"
    "screen where it can.  With no argument it is the built-in level of six\n"
    "rooms; with a level file, the world that file describes (see levels/\n"
    "and the README for the format), checked before anything is drawn.\n"
    "\n"
    "Textures are read from the working directory (brick.pcx, brickd.pcx,\n"
    "weirdo.pcx for the built-in level); those a level file names are looked\n"
    "for beside the level file first.\n"
    "\n"
    "Keys:\n"
    "  UP, DOWN                     walk forward, back\n"
    "  LEFT, RIGHT                  turn\n"
    "  Alt or AltGr + LEFT, RIGHT   step sideways\n"
    "  SHIFT                        turn and walk faster\n"
    "  Escape                       quit (closing the window quits too)\n"
    "\n"
    "Exit status: 0 when quit (also by SIGINT, SIGTERM, SIGHUP, SIGQUIT), 1\n"
    "when something is missing, the level is refused or the display is lost\n"
    "(one line on stderr says what), 2 for a bad argument.\n";

// One line on stderr: the program's name, `kind`, and the message.
static void say(const char *kind, const char *format, va_list args)
{
    std::fprintf(stderr, "portalwalk: %s", kind);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

static void fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    say("", format, args);
    va_end(args);
}

// Something the user should know; start-up goes on.
static void warn(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    say("warning: ", format, args);
    va_end(args);
}

// The library's own account of a failure, or `otherwise` when it gives none.
static const char *library_reason(const char *otherwise)
{
    return allegro_error[0] != '\0' ? allegro_error : otherwise;
}

static void destroy_and_clear(BITMAP **bmp)
{
    if (*bmp != nullptr) {
        destroy_bitmap(*bmp);
        *bmp = nullptr;
    }
}

static void free_texture(BITMAP **slot)
{
    destroy_and_clear(slot);
}

// Reads the command line: at most one level file, or --help.  Returns the
// exit status when the program must end at once, otherwise -1.
static int read_arguments(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a[0] == '-' && a[1] != '\0') {
            fail("unknown option \"%s\" (portalwalk --help shows the usage)", a);
            return 2;
        }
        if (level_file != nullptr) {
            fail("one level file at most (portalwalk --help shows the usage)");
            return 2;
        }
        level_file = a;
    }
    return -1;
}

// Releases whatever start-up has made so far, in shutdown order.
static void release_all()
{
    destroy_and_clear(&pages[0]);
    destroy_and_clear(&pages[1]);
    destroy_and_clear(&back_buffer);
    free_texture(&brick_texture);
    free_texture(&brickd_texture);
    free_texture(&weirdo_texture);
    for (BITMAP *&slot : texture_slots) {
        free_texture(&slot);
    }
    free_level(&level);
    free_tables();
}

static int give_up()
{
    release_all();
    return 1;
}

// Reads one texture file and makes the bitmap of its top-left 64 x 64,
// the part that is drawn; the file's palette goes to `palette`.
static bool load_texture(const char *name, BITMAP **slot, unsigned char *palette)
{
    PcxImage image;
    char reason[PATH_MAX + 100];
    if (!read_pcx(name, &image, reason, sizeof reason)) {
        fail("cannot load texture \"%s\": %s", name, reason);
        return false;
    }
    if (image.width > TEXTURE_SIZE || image.height > TEXTURE_SIZE) {
        warn("texture \"%s\" is %d x %d pixels, only its top-left %d x %d are drawn", name,
             image.width, image.height, TEXTURE_SIZE, TEXTURE_SIZE);
    }
    *slot = create_bitmap_ex(8, TEXTURE_SIZE, TEXTURE_SIZE);
    if (*slot != nullptr) {
        for (int y = 0; y < TEXTURE_SIZE; y++) {
            std::memcpy((*slot)->line[y], image.pixels + y * image.width, TEXTURE_SIZE);
        }
    }
    std::memcpy(palette, image.palette, PCX_PALETTE_BYTES);
    free_pcx(&image);
    if (*slot == nullptr) {
        fail("cannot create the texture bitmaps: out of memory");
        return false;
    }
    return true;
}

// The library's palette holds 6-bit entries; a file's, 8-bit ones.
static void set_texture_palette(const unsigned char *file_palette)
{
    for (int i = 0; i < 256; i++) {
        texture_palette[i].r = static_cast<unsigned char>(file_palette[3 * i] / 4);
        texture_palette[i].g = static_cast<unsigned char>(file_palette[3 * i + 1] / 4);
        texture_palette[i].b = static_cast<unsigned char>(file_palette[3 * i + 2] / 4);
    }
}

// Only one palette is in force, that of "brickd.pcx" for the built-in
// level: say so when another file would show in other colours.
static void warn_other_palette(const char *name, const unsigned char *file_palette, const char *in_force)
{
    for (int i = 0; i < 256; i++) {
        if (file_palette[3 * i] / 4 != texture_palette[i].r ||
            file_palette[3 * i + 1] / 4 != texture_palette[i].g ||
            file_palette[3 * i + 2] / 4 != texture_palette[i].b) {
            warn("texture \"%s\" has a palette of its own, that of \"%s\" is used", name, in_force);
            return;
        }
    }
}

// Loads the level's textures into its slots.  Each is looked for beside
// the level file, then in the working directory, and read as the built-in
// level's textures are; the palette in force is that of the texture the
// level names for it.
static bool load_level_textures()
{
    char folder[PATH_MAX];
    folder_of(level_file, folder, sizeof folder);
    static unsigned char palettes[LEVEL_MAX_TEXTURES][PCX_PALETTE_BYTES];
    static char paths[LEVEL_MAX_TEXTURES][PATH_MAX + LEVEL_MAX_NAME + 2];
    for (int i = 0; i < level.texture_count; i++) {
        const char *name = level.texture_files[i];
        std::snprintf(paths[i], sizeof paths[i], "%s/%s", folder, name);
        struct stat st;
        if (stat(paths[i], &st) != 0 && errno == ENOENT) {
            if (stat(name, &st) != 0 && errno == ENOENT) {
                fail("cannot load texture \"%s\": no such file beside the level (in %s) or in the working "
                     "directory", name, folder);
                return false;
            }
            std::snprintf(paths[i], sizeof paths[i], "%s", name);
        }
        if (!load_texture(paths[i], &texture_slots[i], palettes[i])) {
            return false;
        }
    }
    set_texture_palette(palettes[level.palette_texture]);
    for (int i = 0; i < level.texture_count; i++) {
        if (i != level.palette_texture) {
            warn_other_palette(paths[i], palettes[i], paths[level.palette_texture]);
        }
    }
    return true;
}

// Loads the built-in level's three textures into their slots.  The palette
// in force is that of "brickd.pcx", loaded last; the three files are meant
// to share it.
static bool load_builtin_textures()
{
    unsigned char palettes[3][PCX_PALETTE_BYTES];
    if (!load_texture("weirdo.pcx", &weirdo_texture, palettes[0]) ||
        !load_texture("brick.pcx", &brick_texture, palettes[1]) ||
        !load_texture("brickd.pcx", &brickd_texture, palettes[2])) {
        return false;
    }
    set_texture_palette(palettes[2]);
    warn_other_palette("weirdo.pcx", palettes[0], "brickd.pcx");
    warn_other_palette("brick.pcx", palettes[1], "brickd.pcx");
    return true;
}

static int64_t monotonic_now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The library's retrace wait does not wait on every platform (on X11 it
// only flushes the connection), so the frame also sleeps until its
// deadline; when a wait of the library has already held it past that,
// there is nothing left to sleep.  A signal cuts the sleep short so that
// the loop can end.
static void wait_for_deadline()
{
    const int64_t deadline = frame_deadline(&pace);
    timespec until;
    until.tv_sec = static_cast<time_t>(deadline / 1000000000);
    until.tv_nsec = static_cast<long>(deadline % 1000000000);
    while (!close_requested && monotonic_now() < deadline) {
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    }
}

static void present()
{
    if (page_flipping) {
        blit(back_buffer, pages[page_index], 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        wait_for_deadline();
        show_video_bitmap(pages[page_index]);
        page_index ^= 1;
    } else {
        vsync();
        wait_for_deadline();
        blit(back_buffer, pages[page_index], 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    }
    frame_shown(&pace, monotonic_now());
}

static void frame_loop()
{
    start_pace(&pace, get_refresh_rate(), monotonic_now());
    while (!frame_loop_done(key)) {
        fill_background(back_buffer);
        apply_keys(key);
        draw_walls(back_buffer, viewer_sector, viewer_angle, viewer_x, viewer_y);
        update_frame_rate(time(nullptr));
        draw_overlay(back_buffer, get_refresh_rate());
        present();
    }
}

// The library names no reason when it cannot open the display or runs out
// of memory; it leaves `error` (its errno) set.
static void fail_to_initialise(int error)
{
    const char *display = std::getenv("DISPLAY");
    if (error == ENOMEM) {
        fail("cannot initialise the graphics library: out of memory");
    } else if (allegro_error[0] != '\0') {
        fail("cannot initialise the graphics library: %s", allegro_error);
    } else if (display != nullptr && display[0] != '\0') {
        fail("cannot open display \"%s\"", display);
    } else {
        fail("cannot initialise the graphics library: no display found (DISPLAY is not set)");
    }
}

int main(int argc, char **argv)
{
    open_standard_descriptors();
    const int status = read_arguments(argc, argv);
    if (status >= 0) {
        return status;
    }
    if (level_file != nullptr) {
        char error[PATH_MAX + 300];
        if (!load_level(level_file, texture_slots, &level, error, sizeof error)) {
            fail("%s", error);
            return 1;
        }
    }

    catch_lost_display();
    if (allegro_init() != 0) {
        fail_to_initialise(errno);
        return give_up();
    }
    catch_signals();
    set_close_button_callback(on_close);
    request_refresh_rate(REQUESTED_REFRESH_RATE);
    if (install_keyboard() != 0) {
        fail("cannot install the keyboard: %s", library_reason("no keyboard found"));
        return give_up();
    }
    set_color_depth(8);
    if (set_gfx_mode(GFX_AUTODETECT, DISPLAY_W, DISPLAY_H, 0, 0) != 0 &&
        set_gfx_mode(GFX_AUTODETECT_WINDOWED, DISPLAY_W, DISPLAY_H, 0, 0) != 0) {
        fail("cannot open an %d x %d 8-bit display: %s", DISPLAY_W, DISPLAY_H,
             library_reason("no display mode available"));
        return give_up();
    }
    release_shared_memory_at_exit();
    if (!build_tables(SCREEN_W, SCREEN_H)) {
        fail("cannot allocate the renderer's tables: out of memory");
        return give_up();
    }

    if (level_file != nullptr ? !load_level_textures() : !load_builtin_textures()) {
        return give_up();
    }
    set_palette(texture_palette);

    pages[0] = create_video_bitmap(SCREEN_W, SCREEN_H);
    if (pages[0] == nullptr) {
        fail("cannot create a video page of %d x %d", SCREEN_W, SCREEN_H);
        return give_up();
    }
    pages[1] = create_video_bitmap(SCREEN_W, SCREEN_H);
    if (pages[1] == nullptr) {
        show_video_bitmap(pages[0]);
        page_flipping = false;
    } else {
        page_flipping = true;
    }
    back_buffer = create_system_bitmap(SCREEN_W, SCREEN_H);
    if (back_buffer == nullptr) {
        fail("cannot create the back buffer of %d x %d", SCREEN_W, SCREEN_H);
        return give_up();
    }

    if (level_file != nullptr) {
        start_level(&level, time(nullptr));
    } else {
        reset_run_state(build_level(&brick_texture, &brickd_texture, &weirdo_texture), time(nullptr));
    }
    page_index = 0;

    frame_loop();

    release_all();
    return 0;
}
END_OF_MAIN()
