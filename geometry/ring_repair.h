// Single-layer repairs and tests on point lists: self-crossings and acute
// angles.
//
// Self-crossing: the crossing pass of the scan-line engine (BooleanSweep code
// 32) puts a vertex into every edge at each crossing and overlap, pushing the
// vertices it creates at the head of the swept list. A proper crossing of two
// edges creates two vertices at the same position, one in each edge; an edge
// ending on another edge (T-contact), a crossing through an existing vertex
// and rings touching at a shared vertex create no such pair and count as
// touches, not crossings.
//
// Turn sense at a vertex q with next vertex n and previous vertex p:
// u = n - q, v = p - q; the angle is acute when u.v > 0; c = u.x v.y - u.y v.x
// is positive at a left turn (a convex vertex of a counter-clockwise ring)
// and negative at a right turn. Products are exact.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

// True when at least two vertices created by the crossing pass coincide,
// that is when edges of the list cross. The list is not changed (the pass
// runs on a copy).
bool HasSelfTouch(PSList& list);

// Appends one marker point (flags 0, no ring links) at the tail of out for
// every coincident pair of vertices created by the crossing pass; true when
// there was one. The list is sorted and swept in place; the created vertices
// are taken out of its rings again before they are freed, so afterwards the
// list holds its original rings (in sorted link order, flags not kept).
bool CollectSelfTouch(PSList& list, PSList& out);

// Re-links the rings at every coincident pair of created vertices, so that
// boundaries that crossed there only touch (a figure-eight becomes two rings
// touching at the crossing point); clears every flag of the list and
// simplifies it at tolerance 0. Passes repeat while one re-links, so that
// crossings rounded onto one grid point are split too. True when anything
// was re-linked.
bool SplitSelfTouch(PSList& list);

// Marks the acute vertices of the list that lie inside the closed window
// (every vertex when window is null). mode 0: left turns only (convex
// vertices of counter-clockwise rings); 1: right turns only; 2 or more: every
// acute vertex, spikes included. With out given, a kept vertex adds to it a
// square ring from (x - h, y - h) to (x + h, y + h), h = size >> 1
// (BoxToRing), or with size 0 one marker point pushed at its head. True when
// any vertex was kept. Vertices of open chains lacking a neighbour are
// skipped.
bool MarkAcute(PSList& list, PSList* out, int mode, int32_t size,
               const Box* window);

// The same for the vertices of one ring, without window.
bool MarkAcuteRing(PSPoint* ring, PSList* out, int mode, int32_t size);

// Opens acute vertices by moving them along one of their edges: first every
// acute left turn (trying its edge to the next vertex, then to the previous
// one), then every acute right turn (the previous edge first). The edge is
// shortened by length at both ends (Lengthen); the vertex moves to the
// new start when the angle there is no longer acute. Returns the number of
// moves. The ends of open chains have no angle and stay where they are.
int32_t TrimAcute(PSList& list, int32_t length);

}  // namespace velmar
