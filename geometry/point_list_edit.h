// Point-list editing: removal of deleted vertices, collinear removal,
// simplification, splitting off open chains, copying rings and chains, and
// rings from a circle's vertex array.
//
// Removal works in two steps: an algorithm unlinks a vertex from its ring and
// sets PSPointFlags::Deleted; PurgeDeleted later takes every deleted vertex
// off the link chain and returns it to the point pool.
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

struct Circle;  // geometry/segment_geometry.h

// Takes every vertex flagged Deleted off the link chain (head and tail kept
// correct) and frees it; returns the number removed. Ring links and the ring
// count are not touched.
int32_t PurgeDeleted(PSList& list);

// Sets Deleted on every vertex of the ring through p.
void MarkRingDeleted(PSPoint* p);

// Flags Deleted every ring (chains are passed over) whose signed area is
// zero: two vertices, all in line, or a figure eight of two equal lobes, in
// which no vertex is in line with its neighbours. Lowers the ring count;
// returns whether any ring was flagged (PurgeDeleted takes them off).
bool MarkRingsWithoutArea(PSList& list);

// Drops every ring vertex that lies exactly on the line through its ring
// neighbours (freed at once). Rings only.
void RemoveCollinear(PSList& list);

// Removes ring vertices within tolerance (database units) of the line through
// their neighbours, then exactly collinear ones, deleting rings that collapse;
// returns the number of vertices removed. Rings only.
int32_t Simplify(PSList& list, int32_t tolerance);

// Ring worker of Simplify at p: returns the number of vertices it unlinked
// after p (flagged Deleted), its bitwise complement when the ring is down to
// one or two vertices, or -1 for a ring of one or two vertices.
int32_t SimplifyRingAt(PSPoint* p, int32_t tolerance);

// Moves every point p of list for which take(p) holds to the head of out
// (point counts follow); the rest keep their link order. Ring counts are
// not touched.
template <class Take>
void MovePointsIf(PSList& list, PSList& out, Take take) {
  PSPoint* last = nullptr;
  PSPoint* p = list.head;
  while (p) {
    PSPoint* nextLink = p->link;
    if (take(p)) {
      if (last)
        last->link = nextLink;
      else
        list.head = nextLink;
      --list.pointCount;
      p->link = out.head;
      out.head = p;
      if (!out.tail) out.tail = p;
      ++out.pointCount;
    } else {
      last = p;
    }
    p = nextLink;
  }
  list.tail = last;
}

// Moves every vertex lacking a next or a prev to the head of out (counts
// follow); the rest keep their link order. Ring counts are not touched.
void SplitOffOpenChains(PSList& list, PSList& out);

// Moves every vertex of an open chain (ends and interior) to the head of
// out, the rest keeping their link order; ring counts untouched. The
// vertices of the list must not carry Visited.
void SplitOffWholeChains(PSList& list, PSList& out);

// Copies the ring through p into dst (pushed at the head in ring order from
// p, same direction, flags 0); dst's ring count unchanged. Sets Visited on
// every source vertex (the caller clears it). Returns the copy of p.
PSPoint* CopyRing(PSList& dst, PSPoint* p);

// Copies the ring through p into dst like CopyRing, leaving the source's
// flags alone; dst's ring count + 1.
void AppendRingCopy(const PSPoint* p, PSList& dst);

// Copies every ring and open chain of src into dst (flags 0, each vertex
// pushed at the head of dst); dst's ring count grows by src's ring count.
// Returns the number of closed rings copied.
int32_t CopyPointList(PSList& src, PSList& dst);

// Copies every ring and open chain of src that holds a vertex flagged Marker;
// adds the number copied to dst's ring count and returns it.
int32_t CopyFlaggedRings(PSList& src, PSList& dst);

// One ring from the vertex array of a circle (after Circle::ToPolygon),
// appended at the tail of the link chain, flags 0; ring count unchanged.
// With n vertices and e = end mod n (n when that is 0): array vertices
// start .. e-1, closed as the whole circle when start is 0 and e is n, else
// followed by array vertex e mod n and the centre (a sector). Throws Error
// (unit "DRC") for an empty array or indices out of range.
void RingFromVertexArray(PSList& list, const Circle& circle, int32_t start,
                         int32_t end);

// Annular sector: outer start .. e-1, outer e mod n, inner e mod n, inner
// e-1 down to start; appended at the tail. Same validation.
void RingFromTwoVertexArrays(PSList& list, const Circle& outer,
                             const Circle& inner, int32_t start, int32_t end);

}  // namespace velmar
