// Whole-list operations on PSLists: order, shape class, measures, orientation,
// flags and ring validation.
//
// Conventions: a ring walk starts at a vertex and follows next until it comes
// back. Operations that visit each ring once mark its vertices
// PSPointFlags::Visited and clear that bit on the whole list at their end.
// Functions documented "rings only" follow next without testing for null.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

// Three-way comparator of two vertices: negative, zero or positive.
using PointComparator = int (*)(const PSPoint* a, const PSPoint* b);

// Three-way on x, then y (inline: the sweep's event loop calls it per step).
inline int ComparePoint(const PSPoint* a, const PSPoint* b) {
  if (a->x != b->x) return a->x < b->x ? -1 : 1;
  if (a->y != b->y) return a->y < b->y ? -1 : 1;
  return 0;
}
// Less-than predicate on (x, then y): -1 when a is smaller, else 0. Orders
// every list before a sweep. Never use it to test sortedness (IsSortedBy with
// it is always true): use ComparePoint there.
int ComparePointLess(const PSPoint* a, const PSPoint* b);

// Sorts the link chain with the stable bottom-up merge sort of the pooled
// lists; head and tail follow, counts and ring links are unchanged.
void SortPoints(PSList& list, PointComparator cmp);
// True when cmp(p, p->link) > 0 for no vertex p of the chain from first.
bool IsSortedBy(const PSPoint* first, PointComparator cmp);
// Stable three-way quicksort of the link chain head .. tail (first vertex is
// the pivot); head and tail are updated.
void QuickSortPoints(PSPoint*& head, PSPoint*& tail, PointComparator cmp);
// Stable recursive top-down merge sort of the link chain (split after
// pointCount / 2 vertices).
void MergeSortPoints(PSList& list, PointComparator cmp);
// Three-way comparison by words[4], ring count, point count, then the
// vertices of both link chains pair by pair (x, then y).
int CompareLists(const PSList& a, const PSList& b);

// Shape class (exact integer tests).
bool IsRingManhattan(const PSPoint* p);    // rings only
bool IsRingOctilinear(const PSPoint* p);   // rings only
// 0 manhattan, 1 manhattan and 45-degree (a zero-length edge counts as
// 45-degree), 2 general; over every vertex and its next, rings only.
int ClassifyList(const PSList& list);
int ClassifyRing(const PSPoint* p);        // rings only
bool IsListManhattan(const PSList& list);  // rings only
bool IsListOctilinear(const PSList& list); // rings only
// True when some vertex lacks a next or a prev.
bool HasOpenChains(const PSList& list);
// True when some vertex lies outside the closed box; false for an empty list.
bool HasPointOutside(const PSList& list, const Box& box);

// Measures.
int32_t CountRingPoints(const PSPoint* p);  // rings only
int32_t CountLinkPoints(const PSList& list);
// Rings only: sets the point count to the number of ring vertices and the
// ring count to the number of rings; returns the size of the largest ring.
// Error "Polygon is in loop" (DRC) when a walk along next meets a vertex
// again without coming back to its start.
int32_t CountRings(PSList& list);
Box RingBBox(const PSPoint* p);  // rings only
Box ListBBox(const PSList& list);
// Twice the signed area of the ring (positive counter-clockwise), exact for
// the full int32 coordinate range. Rings only.
long double RingArea2(const PSPoint* p);
// Signed area of all rings together. Rings only.
long double ListArea(const PSList& list);

// Orientation.
void ReverseRing(PSPoint* p);      // swaps next and prev around one ring
void ReverseList(PSList& list);    // swaps next and prev of every vertex
// For every vertex X in link order with a next vertex Y: Y.next = X,
// X.prev = Y, X.next = null, Y.prev = null. Turns two-vertex chains whose end
// precedes their start on the link chain around.
void ReverseChains(PSList& list);
// Rings only: reverses every ring of negative area; recounts the rings.
void OrientRings(PSList& list);

// Flags.
void SetFlags(PSList& list, int bits);   // ORs bits into every vertex
void MaskFlags(PSList& list, int mask);  // ANDs mask into every vertex

// Validates every ring's links; throws Error (unit "DRC") "Polygon lost
// connectivity", "Polygon lost backward connectivity" or "Polygon is in loop".
// Visited bits are cleared on success, left set after a throw.
void CheckConnectivity(PSList& list);

// Utilities.
// Every coordinate that is not a multiple of grid becomes the nearest multiple
// (half up). grid must be positive.
void SnapPointsToGrid(PSList& list, int32_t grid);
void PrintRing(const PSPoint* p, int n);
void PrintPointChain(const PSPoint* first, int n);
void PrintPolygons(PSList& list);

}  // namespace velmar
