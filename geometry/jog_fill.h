// Jog fill and edge-layer shapes.
//
// FillJogs straightens outlines by removing jogs: short horizontal,
// vertical or 45-degree steps between two edges, so that the outline
// afterwards covers what it covered before plus the filled steps.
//
// The edge-layer operations work on every segment of a list (a point that
// has a next vertex, to that vertex), meant for lists of two-point chains
// such as edge extraction produces: ExtendEdges lengthens each edge at both
// ends, ExtendEdgeEnds at each end by its own amount, ShiftEdges moves each
// edge sideways, ExpandEdges turns each edge into the band between it and
// its shifted copy. In a ring or a longer chain every vertex is the end of
// one segment and the start of the next and so is moved twice, the second
// move starting from the first one's result. A moved end beyond the int32
// coordinate range throws Error(..., "DRC").
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// Removes the jogs of the rings in place: simplifies the rings (tolerance
// 0), removes the jogs whose short edge starts at a left turn, reverses
// every ring, removes those that start at a left turn of the reversed ring,
// and reverses back. Open chains are passed over and kept. Returns the
// number of points removed.
int32_t FillJogs(PSList& rings, int32_t length);

// One jog pass over the rings in link order. A jog at point P (A before it,
// K, D, E after it) has a grid-aligned (horizontal, vertical or 45-degree)
// edge P -> K shorter than length (truncated) and grid-aligned edges
// A -> P and K -> D, and turns the wanted way at P (rightTurn 0: not to the
// right; 1: not to the left). It is removed by carrying the line A -> P on
// to where it meets K -> D, or, failing that, to where it meets D -> E, not
// farther from D than 1.415 times the short edge. Removed points are freed;
// returns their number. A removal that would leave a ring of fewer than
// three points is not made. Rings of four points or fewer are kept.
int32_t RemoveJogs(PSList& rings, int32_t length, int rightTurn);

// Moves both ends of every segment outwards along it by distance (inwards
// for a negative distance), as Lengthen does.
void ExtendEdges(PSList& edges, int32_t distance);

// Moves the start of every segment by startDistance backwards beyond the
// start and its end by endDistance beyond the end, both computed from the
// segment as it was (OffsetPoint); negative distances move inwards.
void ExtendEdgeEnds(PSList& edges, int32_t startDistance, int32_t endDistance);

// Moves every segment sideways by distance, positive to its right
// (ShiftPerpendicular).
void ShiftEdges(PSList& edges, int32_t distance);

// For every segment Q -> N pushes one closed counter-clockwise ring of four
// new points (flags 0) onto output: the band between the segment and its
// copy S1 -> S2 shifted by distance. The points are pushed in the order S1,
// S2, N, Q and linked Q -> N -> S2 -> S1 for distance <= 0, S1 -> S2 -> N
// -> Q for distance > 0. Output's ring count is not raised. The edges are
// not changed.
void ExpandEdges(PSList& edges, int32_t distance, PSList& output);

}  // namespace velmar
