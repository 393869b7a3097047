// Snap rounding of the crossings of a polygon set.
//
// A crossing of two edges rarely lies on the grid. Rounding its point moves
// both edges a little, and a moved piece can then cross, or pass on the
// other side of, edges nearby: the sweep that classifies the edges would see
// its order break. Snap rounding avoids that for good. Every crossing point
// and every vertex is a "hot pixel": the unit square around its grid point.
// Every edge that passes through a hot pixel gets a vertex at that grid
// point. The rounded edges then meet only at their vertices or along common
// pieces, on the grid: no new crossing appears and no thin piece turns
// inside out. A pixel is the half-open square [x - 1/2, x + 1/2) x
// [y - 1/2, y + 1/2), so a point lies in one pixel only. Every point of an
// edge moves by less than one unit (at most half a unit on each axis). The
// pieces are checked again, round after round, but a piece takes only
// pixels whose square its input edge touches: taking any other would let
// an edge creep along a row of hot pixels, further each round (an edge
// moved by 2.6 units in a random test that way).
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// Snap-rounds the edges of the list in place: the vertices of every hot
// pixel an edge passes through are linked into its ring (pushed at the head
// of the link chain, point count raised, each taking the SecondLayer mark of
// the edge's start). Does nothing, and returns 0, when no two edges cross
// off the grid: lists whose edges are all axis-parallel are not even
// searched, and every list whose crossings lie on grid points keeps its
// points exactly as they are. Otherwise returns the number of vertices
// added. The link chain's order is not kept. offGrid, when given, tells
// whether some crossing lies off the grid (the list changed). With
// deletedAside, the rings marked PSPointFlags::Deleted lend their crossings
// and vertices as hot pixels but take no vertex themselves: the other rings
// are snapped exactly as in the whole list.
int32_t SnapRoundCrossings(PSList& list, bool* offGrid = nullptr,
                           bool deletedAside = false);

// Whether the edges of the list cross each other (away from their ends) at
// more than limit points. Stops counting there, so the cost stays near that
// of a list with limit crossings however many there are.
bool CrossingsExceed(const PSList& list, size_t limit);

}  // namespace velmar
