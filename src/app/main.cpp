// main.cpp: start-up, the frame loop and shutdown of the walk-through.
//
// Everything is made before the first frame and released after the last.
// A failure during start-up ends the program with one line on stderr that
// names what failed, and exit status 1, after releasing what was made.

#include "app.h"

#include <allegro.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/stat.h>

#include "render.h"

static const int DISPLAY_W = 800;
static const int DISPLAY_H = 600;
static const int TEXTURE_SIZE = 64;

static PALETTE texture_palette;
static BITMAP *pages[2];
static int page_index;
static BITMAP *back_buffer;
static Pace pace;

// Images as loaded from the files, before they are copied into the slots.
static BITMAP *loaded_weirdo;
static BITMAP *loaded_brick;
static BITMAP *loaded_brickd;

static void fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("portalwalk: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

// The library's own account of a failure, or `otherwise` when it gives none.
static const char *library_reason(const char *otherwise)
{
    return allegro_error[0] != '\0' ? allegro_error : otherwise;
}

static void copy_texture(BITMAP **slot, BITMAP *image)
{
    *slot = create_bitmap(image->w, image->h);
    if (*slot != nullptr) {
        blit(image, *slot, 0, 0, 0, 0, image->w, image->h);
    }
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

// Releases whatever start-up has made so far, in shutdown order.
static void release_all()
{
    destroy_and_clear(&pages[0]);
    destroy_and_clear(&pages[1]);
    destroy_and_clear(&back_buffer);
    free_texture(&brick_texture);
    free_texture(&brickd_texture);
    free_texture(&weirdo_texture);
    destroy_and_clear(&loaded_brick);
    destroy_and_clear(&loaded_brickd);
    destroy_and_clear(&loaded_weirdo);
    free_tables();
}

static int give_up()
{
    release_all();
    return 1;
}

// Why a file could not be opened, in the words of the other messages.
static const char *open_failure(int error)
{
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
        return "permission denied";
    default:
        return std::strerror(error);
    }
}

// Reads the file's PCX header and tail before the library is given it, so
// that a file that is missing, unreadable, damaged, not an 8-bit PCX or
// too small is named with the reason instead of being half loaded.
static bool check_texture_file(const char *name)
{
    struct stat st;
    if (stat(name, &st) != 0) {
        fail("cannot load texture \"%s\": %s", name, open_failure(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        fail("cannot load texture \"%s\": it is a folder, not a file", name);
        return false;
    }
    FILE *f = std::fopen(name, "rb");
    if (f == nullptr) {
        fail("cannot load texture \"%s\": %s", name, open_failure(errno));
        return false;
    }
    unsigned char header[128];
    const size_t got = std::fread(header, 1, sizeof header, f);
    // An 8-bit PCX ends with a marker byte 12 and a 768-byte palette.
    long size = -1;
    int marker = EOF;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        size = std::ftell(f);
    }
    if (size >= 128 + 769 && std::fseek(f, size - 769, SEEK_SET) == 0) {
        marker = std::fgetc(f);
    }
    std::fclose(f);

    if (got < sizeof header || header[0] != 0x0A || header[2] != 1) {
        fail("cannot load texture \"%s\": not a PCX image", name);
        return false;
    }
    const int bits = header[3] * header[65];
    if (bits != 8) {
        fail("cannot load texture \"%s\": a %d-bit image, an 8-bit one is needed", name, bits);
        return false;
    }
    const int w = (header[8] | header[9] << 8) - (header[4] | header[5] << 8) + 1;
    const int h = (header[10] | header[11] << 8) - (header[6] | header[7] << 8) + 1;
    if (w < TEXTURE_SIZE || h < TEXTURE_SIZE) {
        fail("cannot load texture \"%s\": %d x %d pixels, at least %d x %d are needed", name, w,
             h, TEXTURE_SIZE, TEXTURE_SIZE);
        return false;
    }
    if (marker != 12) {
        fail("cannot load texture \"%s\": the file is truncated or damaged (no palette)", name);
        return false;
    }
    return true;
}

static BITMAP *load_texture(const char *name)
{
    if (!check_texture_file(name)) {
        return nullptr;
    }
    BITMAP *image = load_pcx(name, texture_palette);
    if (image == nullptr) {
        fail("cannot load texture \"%s\": the file is truncated or damaged", name);
        return nullptr;
    }
    if (bitmap_color_depth(image) != 8 || image->w < TEXTURE_SIZE || image->h < TEXTURE_SIZE) {
        fail("cannot load texture \"%s\": not an 8-bit image of at least %d x %d pixels", name,
             TEXTURE_SIZE, TEXTURE_SIZE);
        destroy_bitmap(image);
        return nullptr;
    }
    return image;
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

int main()
{
    open_standard_descriptors();
    catch_lost_display();
    if (allegro_init() != 0) {
        fail_to_initialise(errno);
        return 1;
    }
    catch_signals();
    set_close_button_callback(on_close);
    request_refresh_rate(REQUESTED_REFRESH_RATE);
    if (install_keyboard() != 0) {
        fail("cannot install the keyboard: %s", library_reason("no keyboard found"));
        return 1;
    }
    set_color_depth(8);
    if (set_gfx_mode(GFX_AUTODETECT, DISPLAY_W, DISPLAY_H, 0, 0) != 0 &&
        set_gfx_mode(GFX_AUTODETECT_WINDOWED, DISPLAY_W, DISPLAY_H, 0, 0) != 0) {
        fail("cannot open an %d x %d 8-bit display: %s", DISPLAY_W, DISPLAY_H,
             library_reason("no display mode available"));
        return 1;
    }
    release_shared_memory_at_exit();
    if (!build_tables(SCREEN_W, SCREEN_H)) {
        fail("cannot allocate the renderer's tables: out of memory");
        return 1;
    }

    // Each load overwrites the palette, so the one left in force is that of
    // "brickd.pcx"; the three files share it.
    loaded_weirdo = load_texture("weirdo.pcx");
    if (loaded_weirdo == nullptr) {
        return give_up();
    }
    loaded_brick = load_texture("brick.pcx");
    if (loaded_brick == nullptr) {
        return give_up();
    }
    loaded_brickd = load_texture("brickd.pcx");
    if (loaded_brickd == nullptr) {
        return give_up();
    }
    set_palette(texture_palette);

    copy_texture(&brick_texture, loaded_brick);
    copy_texture(&brickd_texture, loaded_brickd);
    copy_texture(&weirdo_texture, loaded_weirdo);
    if (brick_texture == nullptr || brickd_texture == nullptr || weirdo_texture == nullptr) {
        fail("cannot create the texture bitmaps: out of memory");
        return give_up();
    }
    destroy_and_clear(&loaded_brick);
    destroy_and_clear(&loaded_brickd);
    destroy_and_clear(&loaded_weirdo);

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

    Sector *start = build_level(&brick_texture, &brickd_texture, &weirdo_texture);
    reset_run_state(start, time(nullptr));
    page_index = 0;

    frame_loop();

    release_all();
    return 0;
}
END_OF_MAIN()
