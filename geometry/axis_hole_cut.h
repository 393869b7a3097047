// Cutting holes open in a list whose edges are all axis-parallel.
//
// The hole cut of the scan sweep (ScanSweep with code 25) hangs every hole
// from the edge just above its start vertex in the sweep's active order at
// the end of the start's column. With axis-parallel edges that order is the
// order of the horizontal edges by height, and the cuts change neither which
// edges are active nor their heights (a cut edge keeps its line and its right
// end). So the edge above every hole can be found first, by heights alone,
// and the cuts made afterwards in the sweep's order (within a column the
// order in which the nodes of the holes' upper edges first joined the
// column, which follows the sweep's reuse of freed nodes): the same links and
// the same new vertices, pushed in the same order, as the sweep gives.
#pragma once

#include "geometry/point_system.h"

namespace velmar {

// Cuts the holes of a list sorted by (x, then y), whose hole start vertices
// carry PSPointFlags::HoleStart (SelectHoles), exactly as ScanSweep(list,
// out, BooleanOpCode::CutHoles, false) does, and returns true. Returns false
// and leaves the list as it was when the result could differ from the
// sweep's or the case is not one this cut handles: an edge that is not
// axis-parallel, a flagged vertex that is not the upper left corner of a
// clockwise turn (right along the top, down the left side), another active
// horizontal edge at the height of a hole start, several at the height
// above it after the last of them to enter has left (the sweep holds edges
// at one height in the order they entered, and the pass keeps only the
// last), or a column with more than a few vertical edges at once.
// Simplifying is left to the caller, as after the sweep.
bool CutAxisParallelHolesOpen(PSList& list);

}  // namespace velmar
