// level.cpp: reading a level file.  toml++ parses the text into a tree;
// the tree is checked against the format (keys, types, ranges) and the
// world's rules (closed counter-clockwise convex sectors, portal twins,
// the coordinate bound, the start point), and only then are the records
// built.  A broken rule is thrown as a Refusal from where it is found and
// caught in load_level, which turns it into the one-line message.

#include "level.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include "files.h"

namespace {

// A broken rule: the line it was found on (0 when there is none) and what
// is wrong, with the sector or wall it concerns.
struct Refusal {
    unsigned line;
    std::string text;
};

// One wall as written: vertex numbers, texture and neighbour (0-based;
// neighbour -1 for a solid wall), and the line it stands on.
struct WallPlan {
    int from;
    int to;
    int texture;
    int neighbour;
    unsigned line;
};

struct SectorPlan {
    int first;  // index of its first wall in the list of all walls
    int count;
    unsigned line;
};

// Everything read from the file, checked, before any record is built.
struct Plan {
    std::vector<std::string> texture_names;
    std::vector<std::string> texture_files;
    int palette = 0;
    int ceiling = CEILING_COLOR;  // the built-in level's unless the file says
    int floor = FLOOR_COLOR;
    std::vector<Vertex> vertices;
    std::vector<WallPlan> walls;
    std::vector<SectorPlan> sectors;
    int start_sector = 0;
    fixed start_x = 0;
    fixed start_y = 0;
    int start_angle = 0;
    unsigned start_line = 0;
};

}  // namespace

static const long MAX_FILE_SIZE = 16L << 20;
static const double PI = 3.14159265358979323846;

[[noreturn]] static void refuse(unsigned line, std::string text)
{
    throw Refusal{line, std::move(text)};
}

[[noreturn]] static void refuse(const toml::node &node, std::string text)
{
    refuse(node.source().begin.line, std::move(text));
}

static std::string quoted(const std::string &s)
{
    return "\"" + s + "\"";
}

static std::string number(int n)
{
    return std::to_string(n);
}

static std::string sector_name(int s)
{
    return "sector " + number(s + 1);
}

static std::string wall_name(int s, int w)
{
    return "sector " + number(s + 1) + ", wall " + number(w + 1);
}

// Refuses every key of `table` that is not among `known`.
static void only_keys(const toml::table &table, std::initializer_list<const char *> known,
                      const std::string &where)
{
    for (auto &&entry : table) {
        bool ok = false;
        for (const char *k : known) {
            ok = ok || entry.first.str() == k;
        }
        if (!ok) {
            refuse(entry.first.source().begin.line, where + "unknown key " + quoted(std::string(entry.first.str())));
        }
    }
}

// The key's node, or a refusal naming it as missing from the table that
// starts on `line`.
static const toml::node &required(const toml::table &table, const char *key, unsigned line,
                                  const std::string &where)
{
    const toml::node *n = table.get(key);
    if (n == nullptr) {
        refuse(line, where + "missing key " + quoted(key));
    }
    return *n;
}

static int64_t integer_in(const toml::node &n, int64_t low, int64_t high, const std::string &what)
{
    if (!n.is_integer()) {
        refuse(n, what + " must be an integer from " + std::to_string(low) + " to " + std::to_string(high));
    }
    const int64_t v = n.as_integer()->get();
    if (v < low || v > high) {
        refuse(n, what + " is " + std::to_string(v) + "; it must be from " + std::to_string(low) + " to " +
                      std::to_string(high));
    }
    return v;
}

static double number_of(const toml::node &n, const std::string &what)
{
    if (n.is_integer()) {
        return static_cast<double>(n.as_integer()->get());
    }
    if (n.is_floating_point()) {
        return n.as_floating_point()->get();
    }
    refuse(n, what + " must be a number");
}

// A coordinate: a whole number is exact, a decimal is rounded to the
// nearest 1/65536 of a map unit.
static fixed coordinate(const toml::node &n, const std::string &what)
{
    const double v = number_of(n, what);
    if (!(v >= -LEVEL_BOUND && v <= LEVEL_BOUND)) {
        refuse(n, what + " lies beyond the bound: coordinates must be within -" + number(LEVEL_BOUND) + " and " +
                      number(LEVEL_BOUND) + " map units");
    }
    if (n.is_integer()) {
        return fx::itofix(static_cast<int>(v));
    }
    return fx::ftofix(v);
}

static void read_textures(const toml::table &root, Plan *plan)
{
    const toml::node &node = required(root, "textures", 0, "");
    const toml::table *table = node.as_table();
    if (table == nullptr) {
        refuse(node, "\"textures\" must be a table of names and file names, e.g. { brick = \"brick.pcx\" }");
    }
    if (table->empty()) {
        refuse(node, "\"textures\" names no texture; a level needs at least one");
    }
    if (table->size() > LEVEL_MAX_TEXTURES) {
        refuse(node, "\"textures\" names " + number(static_cast<int>(table->size())) + " textures; at most " +
                         number(LEVEL_MAX_TEXTURES) + " are allowed");
    }
    for (auto &&entry : *table) {
        const std::string name(entry.first.str());
        const toml::node &file = entry.second;
        const std::string what = "texture " + quoted(name) + ": ";
        if (!file.is_string()) {
            refuse(file, what + "the file name must be a string");
        }
        const std::string f = file.as_string()->get();
        if (f.empty() || f.size() > LEVEL_MAX_NAME || f.find('\0') != std::string::npos) {
            refuse(file, what + "the file name must be 1 to " + number(LEVEL_MAX_NAME) + " bytes");
        }
        if (f[0] == '/') {
            refuse(file, what + "the file name must be relative: it is looked for beside the level, "
                                "then in the working directory");
        }
        plan->texture_names.push_back(name);
        plan->texture_files.push_back(f);
    }
}

static int texture_index(const Plan &plan, const std::string &name)
{
    for (size_t i = 0; i < plan.texture_names.size(); i++) {
        if (plan.texture_names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

static void read_colours(const toml::table &root, Plan *plan)
{
    const toml::node *palette = root.get("palette");
    if (palette == nullptr) {
        if (plan->texture_names.size() > 1) {
            refuse(0, "missing key \"palette\": with more than one texture, say whose palette is in force");
        }
        plan->palette = 0;
    } else {
        if (!palette->is_string()) {
            refuse(*palette, "\"palette\" must be a texture name (a string)");
        }
        plan->palette = texture_index(*plan, palette->as_string()->get());
        if (plan->palette < 0) {
            refuse(*palette, "\"palette\" names " + quoted(palette->as_string()->get()) +
                                 ", which is not in \"textures\"");
        }
    }
    if (const toml::node *c = root.get("ceiling")) {
        plan->ceiling = static_cast<int>(integer_in(*c, 0, 255, "\"ceiling\" (a palette entry)"));
    }
    if (const toml::node *f = root.get("floor")) {
        plan->floor = static_cast<int>(integer_in(*f, 0, 255, "\"floor\" (a palette entry)"));
    }
}

static void read_vertices(const toml::table &root, Plan *plan)
{
    const toml::node &node = required(root, "vertices", 0, "");
    const toml::array *list = node.as_array();
    if (list == nullptr) {
        refuse(node, "\"vertices\" must be a list of [x, y] pairs");
    }
    if (list->size() > LEVEL_MAX_VERTICES) {
        refuse(node, "\"vertices\" has " + number(static_cast<int>(list->size())) + " entries; at most " +
                         number(LEVEL_MAX_VERTICES) + " are allowed");
    }
    for (size_t i = 0; i < list->size(); i++) {
        const toml::node &v = *list->get(i);
        const std::string what = "vertex " + number(static_cast<int>(i) + 1);
        const toml::array *pair = v.as_array();
        if (pair == nullptr || pair->size() != 2) {
            refuse(v, what + " must be a pair of numbers [x, y]");
        }
        Vertex vertex;
        vertex.x = coordinate(*pair->get(0), what + ": x");
        vertex.y = coordinate(*pair->get(1), what + ": y");
        plan->vertices.push_back(vertex);
    }
}

static void read_wall(const toml::node &node, int s, int w, Plan *plan, int sector_count)
{
    const std::string where = wall_name(s, w) + ": ";
    const toml::array *a = node.as_array();
    if (a == nullptr || a->size() < 3 || a->size() > 4) {
        refuse(node, where + "a wall is [from, to, \"texture\"], or [from, to, \"texture\", sector] for a portal");
    }
    const int vertex_count = static_cast<int>(plan->vertices.size());
    WallPlan p;
    p.line = node.source().begin.line;
    p.from = static_cast<int>(integer_in(*a->get(0), 1, vertex_count, where + "the first vertex")) - 1;
    p.to = static_cast<int>(integer_in(*a->get(1), 1, vertex_count, where + "the second vertex")) - 1;
    const toml::node &texture = *a->get(2);
    if (!texture.is_string()) {
        refuse(texture, where + "the texture must be a name from \"textures\" (a string)");
    }
    p.texture = texture_index(*plan, texture.as_string()->get());
    if (p.texture < 0) {
        refuse(texture, where + "texture " + quoted(texture.as_string()->get()) + " is not in \"textures\"");
    }
    p.neighbour = -1;
    if (a->size() == 4) {
        p.neighbour = static_cast<int>(integer_in(*a->get(3), 1, sector_count, where + "the sector beyond")) - 1;
    }
    plan->walls.push_back(p);
}

static void read_sectors(const toml::table &root, Plan *plan)
{
    const toml::node &node = required(root, "sector", 0, "");
    const toml::array *list = node.as_array();
    if (list != nullptr && list->empty()) {
        refuse(node, "no sector: a level needs at least one");
    }
    if (list == nullptr || !list->is_array_of_tables()) {
        refuse(node, "\"sector\" must be a list of tables: [[sector]] sections");
    }
    if (list->size() > LEVEL_MAX_SECTORS) {
        refuse(node, number(static_cast<int>(list->size())) + " sectors; at most " + number(LEVEL_MAX_SECTORS) +
                         " are allowed");
    }
    const int sector_count = static_cast<int>(list->size());
    for (int s = 0; s < sector_count; s++) {
        const toml::table &table = *list->get(s)->as_table();
        const std::string where = sector_name(s) + ": ";
        const unsigned line = table.source().begin.line;
        only_keys(table, {"walls"}, where);
        const toml::node &walls_node = required(table, "walls", line, where);
        const toml::array *walls = walls_node.as_array();
        if (walls == nullptr) {
            refuse(walls_node, where + "\"walls\" must be a list of walls");
        }
        const int count = static_cast<int>(walls->size());
        if (count < 3) {
            refuse(walls_node, where + number(count) + " walls; a sector needs at least 3");
        }
        if (count > LEVEL_MAX_SECTOR_WALLS) {
            refuse(walls_node, where + number(count) + " walls; a sector may have at most " +
                                   number(LEVEL_MAX_SECTOR_WALLS));
        }
        if (plan->walls.size() + count > LEVEL_MAX_WALLS) {
            refuse(walls_node, where + "more than " + number(LEVEL_MAX_WALLS) + " walls in all");
        }
        SectorPlan sp;
        sp.first = static_cast<int>(plan->walls.size());
        sp.count = count;
        sp.line = walls_node.source().begin.line;
        for (int w = 0; w < count; w++) {
            read_wall(*walls->get(w), s, w, plan, sector_count);
        }
        plan->sectors.push_back(sp);
    }
}

static void read_start(const toml::table &root, Plan *plan)
{
    const toml::node &node = required(root, "start", 0, "");
    const toml::table *start = node.as_table();
    if (start == nullptr) {
        refuse(node, "\"start\" must be a table: { sector = 1, x = 0, y = 0, heading = 0 }");
    }
    const unsigned line = node.source().begin.line;
    only_keys(*start, {"sector", "x", "y", "heading"}, "start: ");
    const int sector_count = static_cast<int>(plan->sectors.size());
    plan->start_sector =
        static_cast<int>(integer_in(required(*start, "sector", line, "start: "), 1, sector_count, "start: sector")) - 1;
    plan->start_x = coordinate(required(*start, "x", line, "start: "), "start: x");
    plan->start_y = coordinate(required(*start, "y", line, "start: "), "start: y");
    double heading = 0;
    if (const toml::node *h = start->get("heading")) {
        heading = number_of(*h, "start: heading");
        if (!(heading >= 0 && heading < 360)) {
            refuse(*h, "start: heading must be at least 0 and below 360 (degrees)");
        }
    }
    plan->start_angle = static_cast<int>(std::lround(heading * ANGLE_STEPS / 360.0)) & ANGLE_MASK;
    plan->start_line = line;
}

// ---------------------------------------------------------------------------
// The world's rules.
// ---------------------------------------------------------------------------

static const WallPlan &wall_of(const Plan &plan, int s, int w)
{
    return plan.walls[plan.sectors[s].first + w];
}

// Twice the signed area of the triangle a, b, c: positive when c lies to
// the left of a->b.  Coordinates are within the bound, so the differences
// take 31 bits and the products 62: exact in 64 bits.
static int64_t turn(const Vertex &a, const Vertex &b, const Vertex &c)
{
    const int64_t abx = static_cast<int64_t>(b.x) - a.x;
    const int64_t aby = static_cast<int64_t>(b.y) - a.y;
    const int64_t bcx = static_cast<int64_t>(c.x) - b.x;
    const int64_t bcy = static_cast<int64_t>(c.y) - b.y;
    return abx * bcy - aby * bcx;
}

// The walls of sector s in the order of their loop, as indices into the
// sector's walls, after checking that they close exactly one loop.
static std::vector<int> loop_of(const Plan &plan, int s)
{
    const SectorPlan &sp = plan.sectors[s];
    for (int w = 0; w < sp.count; w++) {
        const WallPlan &a = wall_of(plan, s, w);
        const Vertex &p = plan.vertices[a.from];
        const Vertex &q = plan.vertices[a.to];
        if (p.x == q.x && p.y == q.y) {
            refuse(a.line, wall_name(s, w) + ": a wall of zero length (vertices " + number(a.from + 1) + " and " +
                               number(a.to + 1) + " are the same point)");
        }
        for (int v = 0; v < w; v++) {
            const WallPlan &b = wall_of(plan, s, v);
            if (b.from == a.from) {
                refuse(a.line, wall_name(s, w) + ": starts at vertex " + number(a.from + 1) + " as wall " +
                                   number(v + 1) + " does: the walls do not close one loop");
            }
        }
    }
    std::vector<int> order;
    int w = 0;
    do {
        order.push_back(w);
        const int end = wall_of(plan, s, w).to;
        int next = -1;
        for (int v = 0; v < sp.count; v++) {
            if (wall_of(plan, s, v).from == end) {
                next = v;
            }
        }
        if (next < 0) {
            refuse(wall_of(plan, s, w).line, wall_name(s, w) + ": ends at vertex " + number(end + 1) +
                                                 ", where no wall of the sector starts: the walls do not close a loop");
        }
        w = next;
    } while (w != 0 && static_cast<int>(order.size()) <= sp.count);
    if (static_cast<int>(order.size()) != sp.count) {
        refuse(sp.line, sector_name(s) + ": the walls form more than one loop; a sector is one loop of walls");
    }
    return order;
}

static void check_shape(const Plan &plan, int s)
{
    const std::vector<int> order = loop_of(plan, s);
    const int n = static_cast<int>(order.size());
    int left = 0;
    int first_bad = -1;
    double winding = 0;
    for (int i = 0; i < n; i++) {
        const WallPlan &a = wall_of(plan, s, order[i]);
        const WallPlan &b = wall_of(plan, s, order[(i + 1) % n]);
        const Vertex &p = plan.vertices[a.from];
        const Vertex &q = plan.vertices[a.to];
        const Vertex &r = plan.vertices[b.to];
        const int64_t t = turn(p, q, r);
        if (t > 0) {
            left++;
        } else if (first_bad < 0) {
            first_bad = i;
        }
        const double ax = static_cast<double>(q.x) - p.x;
        const double ay = static_cast<double>(q.y) - p.y;
        const double bx = static_cast<double>(r.x) - q.x;
        const double by = static_cast<double>(r.y) - q.y;
        winding += std::atan2(ax * by - ay * bx, ax * bx + ay * by);
    }
    if (left == 0) {
        refuse(plan.sectors[s].line, sector_name(s) + ": the walls run clockwise; they must run counter-clockwise");
    }
    if (first_bad >= 0) {
        const int w = order[first_bad];
        const WallPlan &a = wall_of(plan, s, w);
        refuse(a.line, wall_name(s, w) + ": not strictly convex: the corner at vertex " + number(a.to + 1) +
                           ", with wall " + number(order[(first_bad + 1) % n] + 1) +
                           ", turns right or runs straight on");
    }
    // Left turns only, yet round more than once: a star, not a convex shape.
    if (winding > 3 * PI) {
        refuse(plan.sectors[s].line, sector_name(s) + ": the walls wind round more than once; a sector must be convex");
    }
}

static void check_portals(const Plan &plan, int s)
{
    const SectorPlan &sp = plan.sectors[s];
    for (int w = 0; w < sp.count; w++) {
        const WallPlan &a = wall_of(plan, s, w);
        if (a.neighbour < 0) {
            continue;
        }
        const std::string where = wall_name(s, w) + ": ";
        if (a.neighbour == s) {
            refuse(a.line, where + "a portal to its own sector");
        }
        const int n = a.neighbour;
        const std::string twin = "vertex " + number(a.to + 1) + " to vertex " + number(a.from + 1);
        int found = -1;
        for (int v = 0; v < plan.sectors[n].count; v++) {
            const WallPlan &b = wall_of(plan, n, v);
            if (b.from == a.to && b.to == a.from) {
                found = v;
            }
        }
        if (found < 0) {
            refuse(a.line, where + "the portal to " + sector_name(n) + " has no twin: " + sector_name(n) +
                               " has no wall from " + twin);
        }
        const WallPlan &b = wall_of(plan, n, found);
        if (b.neighbour < 0) {
            refuse(a.line, where + "the portal to " + sector_name(n) + " has no twin: its wall " +
                               number(found + 1) + " from " + twin + " is solid");
        }
        if (b.neighbour != s) {
            refuse(a.line, where + "the portal to " + sector_name(n) + " has no twin: its wall " +
                               number(found + 1) + " from " + twin + " leads to " + sector_name(b.neighbour) +
                               ", not back to " + sector_name(s));
        }
    }
}

// The start point, with the walls as built: inside every portal line and
// the wall clearance inside every solid wall's, by the side values that
// movement itself uses.
static void check_start(const Plan &plan, const Sector &sector)
{
    const std::string where = "start: ";
    for (int i = 0; i < sector.count; i++) {
        const Wall &w = sector.walls[i];
        const fixed side = wall_side(&w, plan.start_x, plan.start_y);
        if (side >= 0) {
            refuse(plan.start_line, where + "the point lies outside " + sector_name(plan.start_sector));
        }
        if (w.is_portal == 0 && side > -WALL_CLEARANCE) {
            char distance[32];
            std::snprintf(distance, sizeof distance, "%.3f", -side / 65536.0);
            refuse(plan.start_line, where + "the point lies " + distance + " units from a solid wall of " +
                                        sector_name(plan.start_sector) + "; at least 0.3 is needed");
        }
    }
}

// Reads the whole file; a refusal with line 0 when it cannot be read.
static std::string read_file(const char *path)
{
    struct stat st;
    int error;
    const int fd = open_regular_file(path, &st, &error);
    if (fd < 0) {
        if (error != 0) {
            refuse(0, open_failure(error));
        }
        if (S_ISDIR(st.st_mode)) {
            refuse(0, "it is a folder, not a file");
        }
        refuse(0, std::string(file_kind(st.st_mode)) + ", not a regular file");
    }
    if (st.st_size > MAX_FILE_SIZE) {
        close(fd);
        refuse(0, "larger than 16 MiB; a level file is plain text");
    }
    std::string text;
    long got = -1;
    try {
        text.resize(static_cast<size_t>(st.st_size));
        got = read_at(fd, 0, &text[0], text.size());
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    if (got < 0) {
        refuse(0, "cannot be read");
    }
    text.resize(static_cast<size_t>(got));  // shorter if it shrank meanwhile
    return text;
}

static void read_plan(const char *path, Plan *plan)
{
    const std::string text = read_file(path);
    toml::table root;
    try {
        root = toml::parse(text, std::string_view(path));
    } catch (const toml::parse_error &e) {
        refuse(e.source().begin.line, "not TOML: " + std::string(e.description()));
    }
    only_keys(root, {"textures", "palette", "ceiling", "floor", "vertices", "sector", "start"}, "");
    read_textures(root, plan);
    read_colours(root, plan);
    read_vertices(root, plan);
    read_sectors(root, plan);
    read_start(root, plan);
    for (int s = 0; s < static_cast<int>(plan->sectors.size()); s++) {
        check_shape(*plan, s);
    }
    for (int s = 0; s < static_cast<int>(plan->sectors.size()); s++) {
        check_portals(*plan, s);
    }
}

// Builds the records into storage of the level's own.
static void build(const Plan &plan, BITMAP **slots, Level *level)
{
    level->sector_count = static_cast<int32_t>(plan.sectors.size());
    level->wall_count = static_cast<int32_t>(plan.walls.size());
    level->sectors = new Sector[plan.sectors.size()];
    level->walls = new Wall[plan.walls.size()];
    for (int s = 0; s < level->sector_count; s++) {
        level->sectors[s].walls = &level->walls[plan.sectors[s].first];
        level->sectors[s].count = plan.sectors[s].count;
    }
    for (int i = 0; i < level->wall_count; i++) {
        const WallPlan &p = plan.walls[i];
        Sector *neighbour = p.neighbour >= 0 ? &level->sectors[p.neighbour] : nullptr;
        make_wall(&level->walls[i], &slots[p.texture], &plan.vertices[p.from], &plan.vertices[p.to], neighbour);
    }
    for (int s = 0; s < level->sector_count; s++) {
        sort_walls(&level->sectors[s]);
    }

    level->texture_count = static_cast<int32_t>(plan.texture_files.size());
    for (int t = 0; t < level->texture_count; t++) {
        std::snprintf(level->texture_files[t], sizeof level->texture_files[t], "%s", plan.texture_files[t].c_str());
    }
    level->palette_texture = plan.palette;
    level->ceiling_color = plan.ceiling;
    level->floor_color = plan.floor;
    level->start_sector = &level->sectors[plan.start_sector];
    level->start_x = plan.start_x;
    level->start_y = plan.start_y;
    level->start_angle = plan.start_angle;
}

// Names from the file may hold any character: the message stays one line.
static void one_line(char *text)
{
    for (char *c = text; *c != '\0'; c++) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
            *c = '?';
        }
    }
}

bool load_level(const char *path, BITMAP **slots, Level *level, char *error, size_t error_size)
{
    Level made = {};
    try {
        Plan plan;
        read_plan(path, &plan);
        build(plan, slots, &made);
        check_start(plan, *made.start_sector);
    } catch (const Refusal &r) {
        free_level(&made);
        if (r.line > 0) {
            std::snprintf(error, error_size, "%s:%u: %s", path, r.line, r.text.c_str());
        } else {
            std::snprintf(error, error_size, "%s: %s", path, r.text.c_str());
        }
        one_line(error);
        return false;
    } catch (const std::bad_alloc &) {
        free_level(&made);
        std::snprintf(error, error_size, "%s: out of memory", path);
        return false;
    }
    *level = made;
    return true;
}

void free_level(Level *level)
{
    delete[] level->sectors;
    delete[] level->walls;
    level->sectors = nullptr;
    level->walls = nullptr;
    level->sector_count = 0;
    level->wall_count = 0;
    level->start_sector = nullptr;
}
