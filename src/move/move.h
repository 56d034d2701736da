// move.h: moving the viewer's point through the sectors.
//
// A step sweeps the point along a segment.  Solid walls hold it
// WALL_CLEARANCE (world.h) off their line and it slides along them;
// portals are crossed on their line into the neighbouring sector.  Integer
// and 16.16 fixed-point work only.

#ifndef PORTALWALK_MOVE_H
#define PORTALWALK_MOVE_H

#include "world.h"

constexpr fixed MIN_SIDE_CHANGE = 30;     // a step must change a wall's side value by more
constexpr fixed MIN_REMAINING = 16;       // the loop goes on while more of the step is left

// Moves (*x, *y) by (dx, dy) from `sector` and returns the sector the point
// ends in.  The step must be shorter than WALL_CLEARANCE.
Sector *move_viewer(Sector *sector, fixed *x, fixed *y, fixed dx, fixed dy);

// Passes made by the last call of move_viewer, each beginning with the
// loop's end test: a step that meets nothing takes one, a step that crosses
// a portal two, a step into an acute corner dozens.
extern int move_passes;

#endif
