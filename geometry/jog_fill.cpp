// Jog fill and the edge-layer shapes: extend, shift and expand segments.
#include "geometry/jog_fill.h"

#include <cmath>
#include <cstdlib>

#include "foundation/box.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

using i128 = __int128;

constexpr uint16_t kDeleted = PSPointFlags::Deleted;

// How far a moved corner may travel, in short-edge lengths.
constexpr double kCornerTravel = 1.415;

// Horizontal, vertical or at 45 degrees (a zero vector counts as aligned).
inline bool GridAligned(int64_t dx, int64_t dy) {
  return dx == 0 || dy == 0 || dx == dy || dx == -dy;
}
inline bool GridAligned(const PSPoint* a, const PSPoint* b) {
  return GridAligned(int64_t(b->x) - a->x, int64_t(b->y) - a->y);
}

// floor(sqrt(dx^2 + dy^2)), exact.
int64_t FloorLength(int64_t dx, int64_t dy) {
  const i128 sq = i128(dx) * dx + i128(dy) * dy;
  int64_t r = int64_t(std::sqrt((long double)sq));
  while (r > 0 && i128(r) * r > sq) --r;
  while (i128(r + 1) * (r + 1) <= sq) ++r;
  return r;
}

// floor(n / d) for d > 0.
i128 FloorDiv(i128 n, i128 d) {
  i128 q = n / d;
  if ((n % d != 0) && (n < 0)) --q;
  return q;
}

// Crossing of the lines a1 -> a2 and b1 -> b2, each coordinate rounded half
// up (floor(v + 0.5)) from the exact ratio. False for parallel lines (or a
// line of zero length) and for a crossing beyond the coordinate range.
bool LineCrossing(const PSPoint* a1, const PSPoint* a2, const PSPoint* b1,
                  const PSPoint* b2, int32_t& x, int32_t& y) {
  const int64_t dax = int64_t(a2->x) - a1->x, day = int64_t(a2->y) - a1->y;
  const int64_t dbx = int64_t(b2->x) - b1->x, dby = int64_t(b2->y) - b1->y;
  i128 den = i128(dbx) * day - i128(dby) * dax;
  if (den == 0) return false;
  i128 tn = i128(int64_t(b1->y) - a1->y) * dbx - i128(int64_t(b1->x) - a1->x) * dby;
  if (den < 0) {
    den = -den;
    tn = -tn;
  }
  // The point is a1 + (da * tn) / den; the offsets stay below 2^100.
  const i128 rx = i128(a1->x) + FloorDiv(2 * (i128(dax) * tn) + den, 2 * den);
  const i128 ry = i128(a1->y) + FloorDiv(2 * (i128(day) * tn) + den, 2 * den);
  if (rx < INT32_MIN || rx > INT32_MAX || ry < INT32_MIN || ry > INT32_MAX)
    return false;
  x = int32_t(rx);
  y = int32_t(ry);
  return true;
}

// Parallel directions as the jog pass judges them: both horizontal, both
// vertical, or equal cross products.
bool Parallel(const PSPoint* a1, const PSPoint* a2, const PSPoint* b1,
              const PSPoint* b2) {
  const int64_t dax = int64_t(a2->x) - a1->x, day = int64_t(a2->y) - a1->y;
  const int64_t dbx = int64_t(b2->x) - b1->x, dby = int64_t(b2->y) - b1->y;
  if (day == 0 && dby == 0) return true;
  if (dax == 0 && dbx == 0) return true;
  return i128(dbx) * day == i128(dax) * dby;
}

inline bool InSpan(int32_t v, int32_t a, int32_t b) {
  return a <= b ? (v >= a && v <= b) : (v >= b && v <= a);
}

// Tries to remove the jog whose short edge starts at p; returns the number
// of points it removed (p among them, which the caller frees), 0 when p is
// left alone.
int32_t RemoveJogAt(PSPoint* p, int32_t length, int rightTurn) {
  PSPoint* a = p->prev;
  PSPoint* k = p->next;
  if (!a || !k) return 0;
  PSPoint* d = k->next;
  if (!d) return 0;
  PSPoint* e = d->next;
  if (!e) return 0;

  const int64_t jx = int64_t(k->x) - p->x, jy = int64_t(k->y) - p->y;
  if (!GridAligned(jx, jy)) return 0;
  const int64_t jog = FloorLength(jx, jy);
  if (jog >= length) return 0;

  const i128 turn = Cross(a, p, k);
  if (rightTurn == 0 && turn < 0) return 0;
  if (rightTurn == 1 && turn > 0) return 0;
  if (a == k || a == d || a == e) return 0;
  if (!GridAligned(a, p) || !GridAligned(k, d)) return 0;

  int32_t ix, iy;
  // First case: the line A -> P meets the edge K -> D.
  if (LineCrossing(a, p, k, d, ix, iy) && InSpan(ix, k->x, d->x) &&
      InSpan(iy, k->y, d->y)) {
    if (ix == d->x && iy == d->y) {
      k->flags |= kDeleted;
      LinkPoints(a, d);
      return 2;
    }
    k->x = ix;
    k->y = iy;
    LinkPoints(a, k);
    return 1;
  }

  // Second case: the line A -> P carried on to the line D -> E.
  if (Parallel(a, p, d, e)) return 0;
  if (!GridAligned(d, e)) return 0;
  if (!LineCrossing(a, p, d, e, ix, iy)) return 0;
  const long double tx = (long double)ix - d->x, ty = (long double)iy - d->y;
  if (std::sqrt(tx * tx + ty * ty) >= kCornerTravel * double(jog)) return 0;
  if (!GridAligned(int64_t(ix) - d->x, int64_t(iy) - d->y) ||
      !GridAligned(int64_t(ix) - a->x, int64_t(iy) - a->y))
    return 0;
  if (ix == e->x && iy == e->y) {
    PSPoint* f = e->next;
    // Removing P, K and D leaves A, E and what follows E: at least three
    // points unless E's successor is A itself.
    if (!f || f == a) return 0;
    k->flags |= kDeleted;
    d->flags |= kDeleted;
    if (f->next != a && Cross(a, p, f) == 0) {
      e->flags |= kDeleted;
      LinkPoints(a, f);
      return 4;
    }
    LinkPoints(a, e);
    return 3;
  }
  k->flags |= kDeleted;
  d->x = ix;
  d->y = iy;
  LinkPoints(a, d);
  return 2;
}

// Applies move(segment) to every segment in walk order and writes the
// moved ends back.
template <class Move>
void MoveSegments(PSList& edges, Move move) {
  for (PSPoint* q = edges.head; q; q = q->link) {
    PSPoint* n = q->next;
    if (!n) continue;
    Box seg(q->x, q->y, n->x, n->y);
    move(seg);
    q->x = seg.x1;
    q->y = seg.y1;
    n->x = seg.x2;
    n->y = seg.y2;
  }
}

}  // namespace

int32_t RemoveJogs(PSList& rings, int32_t length, int rightTurn) {
  int32_t removed = 0;
  PSPoint* last = nullptr;  // last point kept on the link chain
  PSPoint* p = rings.head;
  while (p) {
    PSPoint* nextLink = p->link;
    bool drop = (p->flags & kDeleted) != 0;
    if (!drop) {
      const int32_t n = RemoveJogAt(p, length, rightTurn);
      removed += n;
      drop = n > 0;
    }
    if (drop) {
      if (last)
        last->link = nextLink;
      else
        rings.head = nextLink;
      --rings.pointCount;
      FreePoint(p);
    } else {
      last = p;
    }
    p = nextLink;
  }
  rings.tail = last;
  PurgeDeleted(rings);
  return removed;
}

int32_t FillJogs(PSList& rings, int32_t length) {
  ScratchList chains;
  if (HasOpenChains(rings)) SplitOffWholeChains(rings, chains.list);
  int32_t removed = 0;
  if (!rings.IsEmpty()) {
    Simplify(rings, 0);
    removed += RemoveJogs(rings, length, 0);
    ReverseList(rings);
    removed += RemoveJogs(rings, length, 1);
    ReverseList(rings);
  }
  SpliceList(rings, chains.list);
  return removed;
}

void ExtendEdges(PSList& edges, int32_t distance) {
  MoveSegments(edges, [distance](Box& seg) { Lengthen(seg, distance); });
}

void ExtendEdgeEnds(PSList& edges, int32_t startDistance, int32_t endDistance) {
  MoveSegments(edges, [=](Box& seg) {
    int32_t sx, sy, ex, ey;
    OffsetPoint(seg, startDistance, false, sx, sy);
    OffsetPoint(seg, endDistance, true, ex, ey);
    seg = Box(sx, sy, ex, ey);
  });
}

void ShiftEdges(PSList& edges, int32_t distance) {
  MoveSegments(edges,
               [distance](Box& seg) { ShiftPerpendicular(seg, distance); });
}

void ExpandEdges(PSList& edges, int32_t distance, PSList& output) {
  for (const PSPoint* q = edges.head; q; q = q->link) {
    const PSPoint* n = q->next;
    if (!n) continue;
    const Box s = Shifted(Box(q->x, q->y, n->x, n->y), distance);
    PSPoint* s1 = PushPoint(output, s.x1, s.y1);
    PSPoint* s2 = PushPoint(output, s.x2, s.y2);
    PSPoint* nc = PushPoint(output, n->x, n->y);
    PSPoint* qc = PushPoint(output, q->x, q->y);
    if (distance <= 0) {
      LinkPoints(qc, nc);
      LinkPoints(nc, s2);
      LinkPoints(s2, s1);
      LinkPoints(s1, qc);
    } else {
      LinkPoints(s1, s2);
      LinkPoints(s2, nc);
      LinkPoints(nc, qc);
      LinkPoints(qc, s1);
    }
  }
}

}  // namespace velmar
