// Entry point of the scan-line boolean engine, and hole selection.
#pragma once

#include <cstdint>

#include "geometry/op_codes.h"
#include "geometry/point_system.h"

namespace velmar {

// Runs a polygon boolean on the operand points of list (points flagged
// PSPointFlags::SecondLayer form the second operand):
// - Merge (0): the merged rings of the first operand: the boundary of the
//   region where its winding count is above 0 (reversed rings subtract; the
//   second operand's edges only split);
// - Or, Overlap, And, Diff, Xor, NegativeWinding: the regions inside by the
//   code's rule (geometry/op_codes.h); codes 1, 4, 7 give nothing;
// - CutHoles (25): every hole ring is joined to the boundary above it by two
//   coincident vertical edges, in place, then simplified; nothing happens
//   when the list holds no hole;
// - Fracture, FractureCommand (30, 31): the vertical fracturing sweep of
//   FractureVertical (geometry/fracture.h), in place;
// - CrossingPass (32): a vertex at every crossing and overlap, in place.
// The list is sorted first unless it is already in (x, then y) order; it
// keeps its points (now with the vertices of the splits) and the caller
// frees it. Ring results of axis-parallel input come from
// RectilinearBoolean (geometry/rect_sweep.h), the same output without
// splitting; the list is then left as it was. The result goes into out: moved in when out is empty, else
// appended. Without edgesOnly it is closed counter-clockwise rings with
// clockwise holes, collinear vertices removed; with edgesOnly the 2-point
// edge chains of the sweep, each with the inside on its left. The ring count
// of the result is not recomputed (use CountRings). An empty list gives an
// empty result. Throws Error (unit "DRC"): "Wrong segment ordering",
// "Polygon connection failed".
void BooleanSweep(PSList& list, PSList* out, BooleanOpCode code,
                  bool edgesOnly);

// BooleanSweep of rings that wind as drawn: a ring that crosses itself is
// not read as its lobes, so a region it winds around clockwise counts
// against its operand. Offset rings of sizing need it: the parts of a ring
// that shrinking turned over must cancel, not add. Rings only.
void BooleanSweepAsDrawn(PSList& list, PSList* out, BooleanOpCode code);

// Prepares a list of any-angle edges for a sweep that classifies them
// (booleans, relational classification): crossings off the grid are
// snap-rounded (geometry/snap_round.h), then one crossing pass (code 32)
// puts a vertex wherever an edge touches, crosses on the grid or overlaps
// another, so that the classifying sweep splits nothing: all its splits
// would be exact, but a split while it classifies can leave a piece it has
// already counted out of step with its group. Lists whose edges are all
// axis-parallel are left alone.
void SettleCrossings(PSList& list);

// The start vertex of the ring through p when the ring is a hole (it turns
// clockwise at its leftmost vertex, ties the larger y), else null. Marks
// every vertex of the ring visited (PSPointFlags::Visited). An open chain is
// never a hole.
PSPoint* HoleStart(PSPoint* p);

// Visits every ring of the list once and returns the number of holes.
// Without out, flags each hole's start vertex PSPointFlags::HoleStart; with
// out, appends a copy of every hole ring (invert false) or of every ring
// that is not a hole (invert true). Visited marks are cleared at the end.
int32_t SelectHoles(PSList& list, PSList* out, bool invert);

}  // namespace velmar
