// level.h: levels read from files.  A level file is TOML: its textures,
// vertices, sectors of walls and start point.  load_level reads it, checks
// every rule before anything is built, and builds the world records in
// storage of the level's own, which keeps its addresses until free_level.
//
// Texture references in the walls point into a table of texture slots that
// the caller owns (LEVEL_MAX_TEXTURES entries, addresses stable for the
// run); the reader names the files, the caller loads them into the slots.

#ifndef PORTALWALK_LEVEL_H
#define PORTALWALK_LEVEL_H

#include <cstddef>
#include <cstdint>

#include "world.h"

// Limits of a level file.
constexpr int LEVEL_MAX_SECTORS = MAX_SECTORS;
constexpr int LEVEL_MAX_SECTOR_WALLS = 256;
constexpr int LEVEL_MAX_WALLS = 65536;     // in all sectors together
constexpr int LEVEL_MAX_VERTICES = 65536;
constexpr int LEVEL_MAX_TEXTURES = 32;
constexpr int LEVEL_MAX_NAME = 127;        // bytes in a texture's file name

// Every coordinate, of the vertices and of the start, lies within
// -LEVEL_BOUND..+LEVEL_BOUND map units.  Two points of such a level lie at
// most 16384 * sqrt(2) = 23170 units apart, so the differences of two
// points, the wall lengths and the side and along values that the renderer
// and movement work with stay well inside the +-32767 of 16.16 numbers.
constexpr int LEVEL_BOUND = 8192;

struct Level {
    Sector *sectors;           // sector_count records
    int32_t sector_count;
    Wall *walls;               // every sector's walls, one sector after another
    int32_t wall_count;

    int32_t texture_count;
    char texture_files[LEVEL_MAX_TEXTURES][LEVEL_MAX_NAME + 1];  // as written in the file
    int32_t palette_texture;   // the texture whose palette is in force

    int32_t ceiling_color;
    int32_t floor_color;

    Sector *start_sector;
    fixed start_x;
    fixed start_y;
    int32_t start_angle;       // heading in angle steps
};

// Reads the level file at `path`.  Wall textures point at slots[i] for the
// level's texture i.  On success fills *level and returns true.  Otherwise
// returns false, with nothing allocated, and leaves in `error` one line
// (no newline): the file, the line, the sector or wall, and the rule.
bool load_level(const char *path, BITMAP **slots, Level *level, char *error, size_t error_size);

// Releases what load_level made; a level never loaded or already freed is
// left as it is.
void free_level(Level *level);

#endif
