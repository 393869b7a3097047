// Single-layer marker checks: one layer's polygons examined vertex by vertex
// (off-grid vertices, right-angle turns, axis-parallel or oblique edges,
// edges off the 45-degree directions) and rectangles selected by their side
// lengths.
//
// Findings are reported as new geometry appended to an output list:
// - vertex markers: a square ring (BoxToRing, flags 0) centred on the vertex,
//   reaching size >> 1 (arithmetic halving) to each side;
// - edge markers: the edge as an open two-point chain, its two new points
//   (flags 0) pushed at the head of the output, the start linked to the end
//   (so the end stands ahead of the start in the list);
// - selected rings: a copy of the whole input ring (AppendRingCopy).
//
// Every check visits the points in link order; a point that occurs twice
// (two rings sharing a vertex) is reported twice. The input is left as it
// was. A marker that would reach beyond the int32 coordinate range throws
// Error(..., "DRC") instead of wrapping.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

// A range of lengths in database units: a length passes when it lies in
// [min, max], or, with exclude set, when it lies outside it (below min or
// above max). The range is empty when max < min.
struct LengthRange {
  int32_t min = 0;
  int32_t max = 0;
  uint8_t exclude = 0;

  bool IsEmpty() const { return max < min; }
  bool Passes(int64_t length) const {
    const bool inside = length >= min && length <= max;
    return exclude != 0 ? !inside : inside;
  }
};

// A vertex marker at every point (inside the closed window when one is
// given) whose x or y is not a multiple of grid (a non-zero remainder of
// truncating division). 1 when anything was reported, else 0. A grid below
// 1 throws Error(..., "DRC") before anything is reported.
int MarkOffGrid(PSList& input, PSList& output, int32_t grid, int32_t size,
                const Box* window);

// An edge marker for the outgoing edge of every point whose incoming and
// outgoing edges are perpendicular (exact test). Points lacking a previous
// or a next vertex are skipped. True when anything was reported.
bool MarkTurn90(PSList& input, PSList& output);

// An edge marker for every edge (a point and its next vertex) that is not
// axis-parallel when nonAxis is non-zero, or that is axis-parallel (equal y
// or equal x at its ends) when nonAxis is zero. True when anything was
// reported.
bool SelectNon90Edges(PSList& input, PSList& output, int nonAxis);

// A vertex marker at every point (inside the closed window when one is
// given) whose outgoing edge is neither horizontal, vertical, nor at 45
// degrees (|dx| = |dy|). Points without a next vertex have no outgoing
// edge and are skipped. 1 when anything was reported, else 0.
int MarkNon45(PSList& input, PSList& output, int32_t size, const Box* window);

// A copy of every ring of exactly four vertices whose four edges are
// axis-parallel, when its side lengths pass: with the first range empty
// every such ring passes; with only the first one not empty, either side
// must pass it; with both not empty, one side must pass the first range and
// the other the second. Open chains are never selected. The visited flags
// of the input are cleared at the end.
void SelectRectangles(PSList& input, PSList& output, const LengthRange& first,
                      const LengthRange& second);

}  // namespace velmar
