// make_grid: writes a large level file: a grid of octagonal rooms, each
// joined to its neighbours by short straight corridors, for measuring how
// the frame's cost follows the sectors seen rather than those in the file.
//
// Usage: make_grid <output.toml> [columns rows]   (32 x 32 by default)
//
// Room (i, j) is centred on (12 i, 12 j), shifted so that the grid's middle
// lies near (0, 0).  Its four sides facing the axes are 2 units wide and
// lead into corridors 4 units long; its four corners are cut off by
// diagonal solid walls, so every room is strictly convex.  Rooms come
// first in the file, then the corridors running along x, then those
// running along y.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int columns = 32;
int rows = 32;

const int SPACING = 12;

// The eight corners of room (i, j), counter-clockwise from the bottom
// side's left end.
const int CORNER[8][2] = {{-1, -4}, {1, -4}, {4, -1}, {4, 1}, {1, 4}, {-1, 4}, {-4, 1}, {-4, -1}};

int room(int i, int j)
{
    return j * columns + i;  // 0-based
}

// Vertex number (1-based) of corner k of room (i, j).
int corner(int i, int j, int k)
{
    return room(i, j) * 8 + k + 1;
}

// Sector numbers (1-based) of the corridor east of room (i, j) and of the
// one north of it.
int east_corridor(int i, int j)
{
    return columns * rows + j * (columns - 1) + i + 1;
}

int north_corridor(int i, int j)
{
    return columns * rows + rows * (columns - 1) + j * columns + i + 1;
}

// A few rooms wear the third texture, scattered but always the same.
const char *room_texture(int i, int j)
{
    return (i * 7 + j * 3) % 11 == 0 ? "weirdo" : "brick";
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: make_grid <output.toml> [columns rows]\n");
        return 2;
    }
    if (argc == 4) {
        columns = std::atoi(argv[2]);
        rows = std::atoi(argv[3]);
        if (columns < 1 || rows < 1 || columns > 40 || rows > 40) {
            std::fprintf(stderr, "make_grid: columns and rows must be 1 to 40\n");
            return 2;
        }
    }
    FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const int x0 = -SPACING * (columns / 2);
    const int y0 = -SPACING * (rows / 2);

    std::fprintf(out, "# A grid of %d x %d rooms joined by corridors, written by tools/make_grid.\n", columns,
                 rows);
    std::fprintf(out, "# Rooms are sectors 1 to %d, row by row from the bottom left; the corridors\n",
                 columns * rows);
    std::fprintf(out, "# along x follow, then those along y.\n\n");
    std::fprintf(out, "textures = { brick = \"brick.pcx\", brickd = \"brickd.pcx\", weirdo = \"weirdo.pcx\" }\n");
    std::fprintf(out, "palette = \"brickd\"\n");
    // The middle room, facing +x down its row.
    const int mi = columns / 2;
    const int mj = rows / 2;
    std::fprintf(out, "start = { sector = %d, x = %d, y = %d, heading = 90 }\n\n", room(mi, mj) + 1,
                 x0 + SPACING * mi, y0 + SPACING * mj);

    std::fprintf(out, "vertices = [\n");
    for (int j = 0; j < rows; j++) {
        for (int i = 0; i < columns; i++) {
            const int cx = x0 + SPACING * i;
            const int cy = y0 + SPACING * j;
            std::fprintf(out, " ");
            for (const auto &c : CORNER) {
                std::fprintf(out, " [%d, %d],", cx + c[0], cy + c[1]);
            }
            std::fprintf(out, "  # room %d\n", room(i, j) + 1);
        }
    }
    std::fprintf(out, "]\n");

    for (int j = 0; j < rows; j++) {
        for (int i = 0; i < columns; i++) {
            const char *t = room_texture(i, j);
            // The sides facing -y, +x, +y and -x, and the corridor each
            // leads into (0 where the grid ends: a solid wall).
            const int beyond[4] = {j > 0 ? north_corridor(i, j - 1) : 0, i < columns - 1 ? east_corridor(i, j) : 0,
                                   j < rows - 1 ? north_corridor(i, j) : 0, i > 0 ? east_corridor(i - 1, j) : 0};
            std::string walls;
            for (int k = 0; k < 8; k++) {
                char wall[64];
                const int from = corner(i, j, k);
                const int to = corner(i, j, (k + 1) % 8);
                if (k % 2 == 0 && beyond[k / 2] != 0) {
                    std::snprintf(wall, sizeof wall, "[%d, %d, \"%s\", %d]", from, to, t, beyond[k / 2]);
                } else {
                    std::snprintf(wall, sizeof wall, "[%d, %d, \"%s\"]", from, to, t);
                }
                walls += (k == 0 ? "" : ", ") + std::string(wall);
            }
            std::fprintf(out, "\n[[sector]]  # %d: room (%d, %d)\nwalls = [%s]\n", room(i, j) + 1, i, j,
                         walls.c_str());
        }
    }
    // Along x: from the east side of room (i, j) to the west side of the next.
    for (int j = 0; j < rows; j++) {
        for (int i = 0; i + 1 < columns; i++) {
            std::fprintf(out,
                         "\n[[sector]]  # %d\nwalls = [[%d, %d, \"brickd\"], [%d, %d, \"brickd\", %d], "
                         "[%d, %d, \"brickd\"], [%d, %d, \"brickd\", %d]]\n",
                         east_corridor(i, j), corner(i, j, 2), corner(i + 1, j, 7), corner(i + 1, j, 7),
                         corner(i + 1, j, 6), room(i + 1, j) + 1, corner(i + 1, j, 6), corner(i, j, 3),
                         corner(i, j, 3), corner(i, j, 2), room(i, j) + 1);
        }
    }
    // Along y: from the north side of room (i, j) to the south side of the next.
    for (int j = 0; j + 1 < rows; j++) {
        for (int i = 0; i < columns; i++) {
            std::fprintf(out,
                         "\n[[sector]]  # %d\nwalls = [[%d, %d, \"brickd\", %d], [%d, %d, \"brickd\"], "
                         "[%d, %d, \"brickd\", %d], [%d, %d, \"brickd\"]]\n",
                         north_corridor(i, j), corner(i, j, 5), corner(i, j, 4), room(i, j) + 1, corner(i, j, 4),
                         corner(i, j + 1, 1), corner(i, j + 1, 1), corner(i, j + 1, 0), room(i, j + 1) + 1,
                         corner(i, j + 1, 0), corner(i, j, 5));
        }
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
