// Line ends: the short end edge of a line, found on counter-clockwise rings
// by the shape of its two corners. One test serves the end-cap operations
// (hammer heads, line-end extraction) and the line-end measurement filters.
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// Exact squared distance between two vertices (each difference needs 33
// bits, the sum up to 67).
inline __int128 SquaredDistance(const PSPoint* a, const PSPoint* b) {
  const __int128 dx = int64_t(b->x) - a->x;
  const __int128 dy = int64_t(b->y) - a->y;
  return dx * dx + dy * dy;
}

// True when the edge n -> n->next is a line end: both of its corners are
// convex right angles (the ring turns left at n and at n->next, as on a
// counter-clockwise outer ring) and both neighbouring edges, n->prev -> n and
// n->next -> n->next->next, are at least minSide long. All products are
// exact. A vertex lacking one of the three neighbours the test reads (the
// ends of an open chain) is never a line end. The end edge's own length is
// left to the caller.
bool IsLineEnd(const PSPoint* n, int64_t minSide);

}  // namespace velmar
