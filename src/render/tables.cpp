// tables.cpp: the angle and projection tables, built once when the view
// size is known, and the per-frame state of the column buffer.

#include "render.h"

#include <cmath>
#include <cstdlib>

int view_width;
int view_height;

int32_t *col_angle;
fixed *col_cos;
ColumnSlot *column_slots;
fixed *cos_table;
fixed *tan_table;

uint8_t frame_stamp;
int32_t open_left;
int32_t open_right;
int32_t sectors_drawn;
int32_t span_first;
int32_t span_last;

// The constants are the single-precision values of pi, 2 pi and 1 / (2 pi),
// used in double-precision arithmetic.  They put the centre column's angle
// at 4095.99995 and so store 4095, not 4096.
static const double PI_SINGLE = 3.1415927410125732;
static const double TWO_PI_SINGLE = 6.2831854820251465;
static const double INV_TWO_PI = 0.15915493667125702;
static const double ANGLE_UNIT = 1.0 / 8192.0;

bool build_tables(int width, int height)
{
    const size_t columns = static_cast<size_t>(width > 0 ? width : 0);

    view_width = width;
    view_height = height;

    // One spare entry each, as calloc(0) may return null.  The slots start
    // zeroed.
    col_angle = static_cast<int32_t *>(std::calloc(columns + 1, sizeof(int32_t)));
    col_cos = static_cast<fixed *>(std::calloc(columns + 1, sizeof(fixed)));
    column_slots = static_cast<ColumnSlot *>(std::calloc(columns + 1, sizeof(ColumnSlot)));
    cos_table = static_cast<fixed *>(std::calloc(ANGLE_STEPS, sizeof(fixed)));
    tan_table = static_cast<fixed *>(std::calloc(ANGLE_STEPS / 2, sizeof(fixed)));
    if (col_angle == nullptr || col_cos == nullptr || column_slots == nullptr ||
        cos_table == nullptr || tan_table == nullptr) {
        free_tables();
        return false;
    }

    for (int c = width - 1; c >= 0; c--) {
        const double x = (static_cast<double>(c) / width - 0.5) * 1.5;
        const double a = PI_SINGLE - std::atan(x);
        col_angle[c] = static_cast<int32_t>(a * 8192 * INV_TWO_PI);
        col_cos[c] = fx::ftofix(std::cos(a));
        column_slots[c].stamp = 0;
    }

    for (int j = ANGLE_STEPS - 1; j >= 0; j--) {
        const double theta = j * TWO_PI_SINGLE * ANGLE_UNIT;
        cos_table[j] = fx::ftofix(std::cos(theta));
        if (j < ANGLE_STEPS / 2) {
            tan_table[j] = fx::ftofix(std::tan(theta));
        }
    }
    return true;
}

void free_tables()
{
    std::free(col_cos);
    std::free(col_angle);
    std::free(cos_table);
    std::free(tan_table);
    std::free(column_slots);
    col_cos = nullptr;
    col_angle = nullptr;
    cos_table = nullptr;
    tan_table = nullptr;
    column_slots = nullptr;
}

void begin_frame()
{
    frame_stamp++;
    open_left = 0;
    open_right = view_width - 1;
}
