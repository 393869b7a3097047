// One-layer SPACE sweep for axis-parallel and 45-degree input with an
// interval index over y in place of the per-column spanning list.
//
// The sweep walks a PSList of closed rings whose link chain is sorted by
// (x, then y) (SortPoints with ComparePointLess) and pushes its violations
// at the head of `out`, as the sweeps of geometry/space_sweep.h do: edge-pair
// regions (BuildViolationRegion, both directions of a non-parallel pair) and
// corner boxes between two convex corners closer than the distance. At the
// lower end of an edge coming down to a point and at the upper end of an
// edge going down from it, the processed points in the edge's band are
// scanned, and the upward edges of the points within the distance to the
// left that cross that band without a vertex in it are taken from an index
// of y intervals rebuilt at every column change. At the ends of a vertical
// edge the diagonals facing the corner are tested against both edges there,
// and where an edge comes down to a point the window edges reaching across
// the point's y and passing it closer than the distance are tested against
// both of its edges.
//
//   region    the layer's extent; the index is rebuilt from the window at
//             every column and needs no extent fixed in advance, so it is
//             not read;
//   distance  the positive SPACE rule in database units;
//   unit      the least half-width of a corner box;
//   closed    passed on to BuildViolationRegion;
//   kind      1 corner boxes only, 2 and above edge pairs only, 0 and
//             below both.
// Squares of distances are formed in 64 bits; a derived coordinate outside
// the int32 range throws Error(..., "DRC"), as does an edge that cannot be
// found in the active list when it ends ("Wrong segment ordering").
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

void SweepSpaceIndexed(PSList& list, const Box& region, PSList& out,
                       int32_t distance, int32_t unit, int closed, int kind);

}  // namespace velmar
