#include "geometry/edge_bias.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "foundation/box.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

constexpr uint16_t kKeep = PSPointFlags::Deleted | PSPointFlags::BiasInputVertex |
                           PSPointFlags::Visited;  // 0x8003

bool IsMarker(const PSPoint* p) {
  return p != nullptr && (p->flags & PSPointFlags::BiasInputVertex) != 0;
}
bool IsDeleted(const PSPoint* p) { return (p->flags & PSPointFlags::Deleted) != 0; }

long double DistSq(const PSPoint* a, const PSPoint* b) {
  const long double dx = (long double)(int64_t(b->x) - a->x);
  const long double dy = (long double)(int64_t(b->y) - a->y);
  return dx * dx + dy * dy;
}
long double Dist(const PSPoint* a, const PSPoint* b) { return std::sqrt(DistSq(a, b)); }

// Whether the distance of v from the line through p and n (apart, on no
// common axis line) rounds to 0, half away from zero: below one half. For
// differences under 2^25 the test is exact in integers (a distance of
// exactly one half has 4 cross^2 = length^2 and rounds away; any other lies
// far beyond the error of the long double quotient); larger ones take the
// quotient.
bool NearLine(const PSPoint* p, const PSPoint* v, const PSPoint* n) {
  const int64_t ux = int64_t(v->x) - p->x, uy = int64_t(v->y) - p->y;
  const int64_t wx = int64_t(n->x) - p->x, wy = int64_t(n->y) - p->y;
  constexpr int64_t kExact = int64_t(1) << 25;
  if (std::llabs(ux) < kExact && std::llabs(uy) < kExact && std::llabs(wx) < kExact &&
      std::llabs(wy) < kExact) {
    const __int128 cross = ux * wy - uy * wx;
    return 4 * cross * cross < __int128(wx * wx + wy * wy);
  }
  const long double cross = (long double)ux * (long double)wy - (long double)uy * (long double)wx;
  return RoundHalfAway(cross / Dist(p, n)) == 0;
}

// Unlinks and flags every point strictly between f and l; f->next = l.
void DropBetween(PSPoint* f, PSPoint* l) {
  for (PSPoint* p = f->next; p && p != l; p = p->next) p->flags |= PSPointFlags::Deleted;
  LinkPoints(f, l);
}

// The merge of the mode.
PSPoint* MergeByMode(PSList& list, PSPoint* f, PSPoint* l, int mode) {
  if (mode >= 2) return MergeEdgesMean(list, f, l);
  return MergeEdgesMinMax(list, f, l, mode == 1);
}

// The first point from p on (p itself excluded) at least a away from `from`
// (squared distance at least a²), stopping at a marker.
PSPoint* WalkAtLeast(PSPoint* from, PSPoint* p, long double a2) {
  PSPoint* q = p->next;
  while (q && !IsMarker(q) && DistSq(from, q) < a2) q = q->next;
  return q;
}

}  // namespace

int32_t PointBias(const PSPoint* p) {
  const int32_t m = (p->flags & PSPointFlags::BiasMagnitudeMask) >> PSPointFlags::BiasMagnitudeShift;
  return (p->flags & PSPointFlags::BiasNegative) ? -m : m;
}

void SetPointBias(PSPoint* p, int32_t bias) {
  const int64_t m = std::llabs(int64_t(bias));
  if (m > kMaxBias) throw Error("Bias beyond 4095 database units", "DRC");
  p->flags = uint16_t((p->flags & kKeep) | (m << PSPointFlags::BiasMagnitudeShift) |
                      (bias < 0 ? PSPointFlags::BiasNegative : 0));
}

void CopyPointBias(PSPoint* p, const PSPoint* from) {
  p->flags = uint16_t((p->flags & kKeep) | (from->flags & 0x7ffc));
}

void GuardStep(int64_t dx, int64_t dy, long double t, bool keepCore, int64_t& n, int64_t& m) {
  const long double ex = t * dx, ey = t * dy;
  const int64_t fx = int64_t(std::floor(ex)), fy = int64_t(std::floor(ey));
  const long double len2 = (long double)dx * dx + (long double)dy * dy;
  bool found = false;
  long double bestLine = 0, bestNear = 0;
  for (int64_t cx = fx; cx <= fx + 1; ++cx) {
    for (int64_t cy = fy; cy <= fy + 1; ++cy) {
      if (2 * std::llabs(cx) > std::llabs(dx) || 2 * std::llabs(cy) > std::llabs(dy)) continue;
      if ((cx != 0 && (cx > 0) != (dx > 0)) || (cy != 0 && (cy > 0) != (dy > 0))) continue;
      if (keepCore && 2 * cx == dx && 2 * cy == dy) continue;
      const __int128 cross = __int128(cx) * dy - __int128(cy) * dx;
      const long double line = (long double)cross * (long double)cross / len2;
      const long double near = (cx - ex) * (cx - ex) + (cy - ey) * (cy - ey);
      if (!found || line < bestLine || (line == bestLine && near < bestNear)) {
        found = true;
        bestLine = line, bestNear = near;
        n = cx, m = cy;
      }
    }
  }
  if (!found) n = m = 0;
}

PSPoint* MergeEdgesMinMax(PSList&, PSPoint* f, PSPoint* l, bool max) {
  int32_t acc = max ? INT_MIN : INT_MAX;
  for (PSPoint* p = f; p && p != l; p = p->next) {
    const int32_t b = PointBias(p);
    acc = max ? std::max(acc, b) : std::min(acc, b);
  }
  SetPointBias(f, acc);
  DropBetween(f, l);
  return f;
}

PSPoint* MergeEdgesMean(PSList&, PSPoint* f, PSPoint* l) {
  const long double span = Dist(f, l);
  int32_t value = PointBias(f);  // a stretch of length 0 keeps its first bias
  if (span > 0) {
    long double sum = 0;
    for (PSPoint* p = f; p && p != l; p = p->next) {
      if (p->next) sum += Dist(p, p->next) * PointBias(p);
    }
    value = int32_t(RoundHalfAway(sum / span));
  }
  SetPointBias(f, value);
  DropBetween(f, l);
  return f;
}

int32_t MergeBiasRun(PSList& list, PSPoint* f, int mode, int guard,
                     int32_t tolerance) {
  int32_t count = 0;
  PSPoint* r = f->next;
  while (r && !IsMarker(r)) {
    PSPoint* n = r->next;
    if (n == nullptr) break;
    if (guard && IsMarker(n)) break;  // the edge's last piece stays apart
    const int32_t c = PointBias(f), d = PointBias(r);
    if (std::llabs(int64_t(c) - d) > tolerance) break;
    if (c == d) {
      LinkPoints(f, n);
      r->flags |= PSPointFlags::Deleted;
    } else {
      MergeByMode(list, f, n, mode);
    }
    r = n;
    ++count;
  }
  return count;
}

namespace {

// The merging steps below leave the points they unlink on the link chain,
// flagged deleted; every step passes over deleted points, so a run of steps
// purges once at its end (or not at all when the list is cleared next).

int32_t MergeSimilarRuns(PSList& list, int mode, int guard, int32_t tolerance) {
  int32_t total = 0;
  for (PSPoint* q = list.head; q; q = q->link) {
    if (IsDeleted(q) || IsMarker(q) || q->prev == nullptr || q->next == nullptr) continue;
    if (guard && (IsMarker(q->prev) || IsMarker(q->next))) continue;
    total += MergeBiasRun(list, q->prev, mode, guard, tolerance);
  }
  return total;
}

int32_t PropagateGuardBiases(PSList& list, int mode) {
  for (PSPoint* m = list.head; m; m = m->link) {
    if (!IsMarker(m) || IsDeleted(m)) continue;
    if (m->next && !IsMarker(m->next)) CopyPointBias(m, m->next);
    PSPoint* p = m->prev;
    if (p && !IsMarker(p) && p->prev) CopyPointBias(p, p->prev);
  }
  return MergeSimilarRuns(list, mode, 0, 0);
}

int32_t MergeShortStretches(PSList& list, int32_t length, int guard, int mode);

}  // namespace

int32_t MergeSimilarBiases(PSList& list, int mode, int guard,
                           int32_t tolerance) {
  const int32_t total = MergeSimilarRuns(list, mode, guard, tolerance);
  PurgeDeleted(list);
  return total;
}

int32_t PropagateMarkerBias(PSList& list, int mode) {
  const int32_t total = PropagateGuardBiases(list, mode);
  PurgeDeleted(list);
  return total;
}

int32_t MergeShortEdges(PSList& list, int32_t length, int guard, int mode) {
  const int32_t total = MergeShortStretches(list, length, guard, mode);
  PurgeDeleted(list);
  return total;
}

void BiasPiecesToRings(PSList& list, int mode, int guard, int32_t minLength,
                       int32_t tolerance, PSList& output) {
  MergeSimilarRuns(list, mode, guard, 0);
  if (minLength > 0) MergeShortStretches(list, minLength, guard, mode);
  if (tolerance != 0) MergeSimilarRuns(list, mode, guard, tolerance);
  if (guard != 0) PropagateGuardBiases(list, mode);
  for (PSPoint* p = list.head; p; p = p->link) {
    if ((p->flags & (PSPointFlags::Visited | PSPointFlags::Deleted)) ||
        p->next == nullptr || p->prev == nullptr) {
      continue;
    }
    OffsetBiasedRing(list, p, output);
  }
}

namespace {

int32_t MergeShortStretches(PSList& list, int32_t length, int guard, int mode) {
  const long double a = length, a2 = a * a;
  // Merges s..t unless that is a single piece (or nothing).
  auto merge = [&](PSPoint* s, PSPoint* t) {
    if (t != s && t != s->next) MergeByMode(list, s, t, mode);
  };
  for (PSPoint* q = list.head; q; q = q->link) {
    if (!IsMarker(q) || IsDeleted(q) || q->next == nullptr || IsMarker(q->next)) continue;
    PSPoint* s = guard ? q->next : q;
    PSPoint* e = q->next;
    while (e && !IsMarker(e)) e = e->next;
    if (e == nullptr) continue;  // an open chain has no closing marker
    if (4 * a2 > DistSq(q, e)) {
      merge(s, guard ? e->prev : e);
      continue;
    }
    PSPoint* p = WalkAtLeast(q, q, a2);
    if (IsMarker(p)) {
      merge(s, guard ? p->prev : p);
      continue;
    }
    if (p != s) merge(s, p);
    for (;;) {
      if (guard && IsMarker(p->next)) break;
      PSPoint* p2 = WalkAtLeast(p, p, a2);
      if (IsMarker(p2)) {
        PSPoint* start = DistSq(p, p2) >= a2 ? p : s;
        if (guard) p2 = p2->prev;
        merge(start, p2);
        break;
      }
      if (p2 != p->next) MergeByMode(list, p, p2, mode);
      s = p;
      p = p2;
    }
  }
  return MergeSimilarRuns(list, mode, guard, 0);
}

}  // namespace

namespace {

// The line of an input edge: its start marker, its direction to the end
// marker and its length. Every piece of the edge is moved along the edge's
// own normal, so that pieces of one bias stay on one shifted line whatever
// the rounding of the cuts between them.
struct EdgeLine {
  const PSPoint* start = nullptr;
  const PSPoint* end = nullptr;
  int64_t x0 = 0, y0 = 0, dx = 0, dy = 0;
  long double len = 0;
  bool axis = true;  // along an axis (or of no length)
};

EdgeLine LineOf(const PSPoint* s, const PSPoint* e) {
  EdgeLine l;
  l.start = s, l.end = e;
  l.x0 = s->x, l.y0 = s->y;
  l.dx = int64_t(e->x) - s->x, l.dy = int64_t(e->y) - s->y;
  l.axis = l.dx == 0 || l.dy == 0;
  l.len = l.axis ? (long double)(std::llabs(l.dx) + std::llabs(l.dy))
                 : std::sqrt((long double)l.dx * l.dx + (long double)l.dy * l.dy);
  return l;
}

// The first marker after p along the ring (p itself when none other).
PSPoint* NextMarker(PSPoint* p) {
  PSPoint* q = p->next;
  while (q != p && !IsMarker(q)) q = q->next;
  return q;
}
// The marker at or before p along the ring (null when the ring has none).
PSPoint* MarkerAtOrBefore(PSPoint* p) {
  PSPoint* q = p;
  while (!IsMarker(q)) {
    q = q->prev;
    if (q == p) return nullptr;
  }
  return q;
}

// The point of the edge's line moved by b (to its right) nearest to (x, y),
// exact before its one rounding (half up). A point of an axis-parallel edge
// on its line moves by b exactly.
void Foot(const EdgeLine& l, int32_t x, int32_t y, int32_t b, int32_t& fx, int32_t& fy) {
  if (l.len == 0) {
    fx = x, fy = y;
    return;
  }
  const long double ux = (long double)l.dy / l.len, uy = -(long double)l.dx / l.len;
  const long double sd =
      ((long double)(int64_t(x) - l.x0) * l.dy - (long double)(int64_t(y) - l.y0) * l.dx) / l.len;
  const long double k = b - sd;
  fx = ToCoord(RoundHalfUp(x + k * ux));
  fy = ToCoord(RoundHalfUp(y + k * uy));
}

// The crossing of the line of a moved by ba and the line of b moved by bb,
// both lines running through (x, y) before they move, rounded half up;
// false when the lines are parallel.
bool Crossing(const EdgeLine& a, const EdgeLine& b, int32_t x, int32_t y, int32_t ba,
              int32_t bb, int32_t& cx, int32_t& cy) {
  const __int128 cross = __int128(a.dx) * b.dy - __int128(a.dy) * b.dx;
  if (cross == 0 || a.len == 0 || b.len == 0) return false;
  const long double dot = (long double)a.dx * b.dx + (long double)a.dy * b.dy;
  // X = V + ba·na + s·da lies on the line of b moved by bb.
  const long double s = (bb * b.len - ba * dot / a.len) / (long double)cross;
  const long double wx = ba * (long double)a.dy / a.len + s * a.dx;
  const long double wy = -ba * (long double)a.dx / a.len + s * a.dy;
  cx = ToCoord(RoundHalfUp(x + wx));
  cy = ToCoord(RoundHalfUp(y + wy));
  return true;
}

// An edge of a ring for the search for meeting edges: its ends, its place
// along the ring and its bounding box.
struct RingEdge {
  int64_t x1, y1, x2, y2, minX, maxX, minY, maxY;
  int32_t at;
};

int Orient(int64_t ax, int64_t ay, int64_t bx, int64_t by, int64_t cx, int64_t cy) {
  const __int128 v = __int128(bx - ax) * (cy - ay) - __int128(by - ay) * (cx - ax);
  return v > 0 ? 1 : v < 0 ? -1 : 0;
}

// Whether (px, py), on the line of e, lies within e's box.
bool WithinBox(const RingEdge& e, int64_t px, int64_t py) {
  return e.minX <= px && px <= e.maxX && e.minY <= py && py <= e.maxY;
}

// Whether the edges a and b meet anywhere: cross, touch or overlap.
bool EdgesMeet(const RingEdge& a, const RingEdge& b) {
  const int o1 = Orient(a.x1, a.y1, a.x2, a.y2, b.x1, b.y1);
  const int o2 = Orient(a.x1, a.y1, a.x2, a.y2, b.x2, b.y2);
  const int o3 = Orient(b.x1, b.y1, b.x2, b.y2, a.x1, a.y1);
  const int o4 = Orient(b.x1, b.y1, b.x2, b.y2, a.x2, a.y2);
  if (o1 * o2 < 0 && o3 * o4 < 0) return true;
  return (o1 == 0 && WithinBox(a, b.x1, b.y1)) || (o2 == 0 && WithinBox(a, b.x2, b.y2)) ||
         (o3 == 0 && WithinBox(b, a.x1, a.y1)) || (o4 == 0 && WithinBox(b, a.x2, a.y2));
}

// Whether neighbouring edges a -> b (a ends where b starts) run back along
// each other beyond their common vertex.
bool NeighboursOverlap(const RingEdge& a, const RingEdge& b) {
  const int64_t ux = a.x1 - a.x2, uy = a.y1 - a.y2, vx = b.x2 - b.x1, vy = b.y2 - b.y1;
  const __int128 cross = __int128(ux) * vy - __int128(uy) * vx;
  const __int128 dot = __int128(ux) * vx + __int128(uy) * vy;
  return cross == 0 && dot > 0;
}

// Whether two edges of the ring through p meet anywhere but at the vertex
// that joins two neighbours: a crossing, a touch or an overlap. The edges
// are swept in the order of their left ends, each tested against the edges
// whose x-span reaches it.
bool RingMeetsItself(const PSPoint* p) {
  std::vector<RingEdge> edges;
  const PSPoint* q = p;
  do {
    const PSPoint* n = q->next;
    RingEdge e;
    e.x1 = q->x, e.y1 = q->y, e.x2 = n->x, e.y2 = n->y;
    e.minX = std::min(e.x1, e.x2), e.maxX = std::max(e.x1, e.x2);
    e.minY = std::min(e.y1, e.y2), e.maxY = std::max(e.y1, e.y2);
    e.at = int32_t(edges.size());
    edges.push_back(e);
    q = n;
  } while (q != p);
  const int32_t count = int32_t(edges.size());
  if (count < 3) return false;
  std::sort(edges.begin(), edges.end(),
            [](const RingEdge& a, const RingEdge& b) { return a.minX < b.minX; });
  std::vector<const RingEdge*> active;
  for (const RingEdge& e : edges) {
    size_t kept = 0;
    for (const RingEdge* a : active) {
      if (a->maxX >= e.minX) active[kept++] = a;
    }
    active.resize(kept);
    for (const RingEdge* a : active) {
      if (a->maxY < e.minY || e.maxY < a->minY) continue;
      const int32_t gap = std::abs(a->at - e.at);
      if (gap == 1 || gap == count - 1) {
        const bool aFirst = (a->at + 1) % count == e.at;
        if (aFirst ? NeighboursOverlap(*a, e) : NeighboursOverlap(e, *a)) return true;
      } else if (EdgesMeet(*a, e)) {
        return true;
      }
    }
    active.push_back(&e);
  }
  return false;
}

}  // namespace

void OffsetBiasedRing(PSList&, PSPoint* ring, PSList& output) {
  PSList work;
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  auto emit = [&](int32_t x, int32_t y) {
    PSPoint* e = PushPoint(work, x, y);
    if (first == nullptr) first = e;
    LinkPoints(last, e);
    last = e;
  };
  // The input edges of the pieces entering and leaving v. A ring without
  // markers takes each piece as an edge of its own.
  const bool marked = MarkerAtOrBefore(ring) != nullptr;
  EdgeLine in, out;
  if (marked) {
    PSPoint* s = MarkerAtOrBefore(ring);
    out = LineOf(s, NextMarker(s));
    in = IsMarker(ring) ? LineOf(MarkerAtOrBefore(ring->prev), ring) : out;
  }
  bool slanted = false;
  PSPoint* v = ring;
  do {
    v->flags |= PSPointFlags::Visited;
    PSPoint* p = v->prev;
    PSPoint* n = v->next;
    if (!marked) {
      in = LineOf(p, v);
      out = LineOf(v, n);
    }
    slanted = slanted || !out.axis;
    const int32_t bp = PointBias(p), bv = PointBias(v);
    if (in.axis && out.axis) {
      Box a(p->x, p->y, v->x, v->y), b(v->x, v->y, n->x, n->y);
      if (bp != 0) ShiftPerpendicular(a, bp);
      if (bv != 0) ShiftPerpendicular(b, bv);
      // Whether v lies on the line through p and n. A cut of an input edge
      // (no input vertex) lies on its edge: its two pieces are one line.
      bool onLine;
      if (!IsMarker(v)) {
        onLine = true;
      } else if (p->y == n->y) {
        onLine = v->y == p->y;
      } else if (p->x == n->x) {
        onLine = v->x == p->x;
      } else {
        onLine = NearLine(p, v, n);
      }
      double ix = 0, iy = 0;
      const bool aVertical = a.x1 == a.x2 && a.y1 != a.y2;
      const bool aHorizontal = a.y1 == a.y2 && a.x1 != a.x2;
      if (onLine) {
        if (bp != bv) {
          emit(a.x2, a.y2);
          emit(b.x1, b.y1);
        }
      } else if (bp == 0 && bv == 0) {
        emit(v->x, v->y);
      } else if (aVertical && b.y1 == b.y2 && b.x1 != b.x2) {
        emit(a.x1, b.y1);  // the crossing of two axis-parallel lines, exact
      } else if (aHorizontal && b.x1 == b.x2 && b.y1 != b.y2) {
        emit(b.x1, a.y1);
      } else if (SegmentIntersect(a, b, ix, iy)) {
        emit(ToCoord(RoundHalfUp((long double)ix)), ToCoord(RoundHalfUp((long double)iy)));
      } else {
        // Lines without a crossing (a piece of no length): a step.
        emit(a.x2, a.y2);
        emit(b.x1, b.y1);
      }
    } else {
      // A slanted edge on either side: the pieces lie on the exact lines of
      // their input edges moved by their biases. A cut is a step between two
      // such lines of one edge; an input vertex is a corner unless it lies
      // on the line through the far ends of its two edges (its distance
      // from it rounds to 0).
      const bool onLine = !IsMarker(v) || !marked || NearLine(in.start, v, out.end);
      int32_t x = 0, y = 0;
      if (onLine) {
        if (bp != bv) {
          Foot(in, v->x, v->y, bp, x, y);
          emit(x, y);
          Foot(out, v->x, v->y, bv, x, y);
          emit(x, y);
        }
      } else if (bp == 0 && bv == 0) {
        emit(v->x, v->y);
      } else if (Crossing(in, out, v->x, v->y, bp, bv, x, y)) {
        emit(x, y);
      } else {
        Foot(in, v->x, v->y, bp, x, y);
        emit(x, y);
        Foot(out, v->x, v->y, bv, x, y);
        emit(x, y);
      }
    }
    v = n;
    if (marked) {
      in = out;
      if (IsMarker(v)) out = LineOf(v, NextMarker(v));
    }
  } while (v != ring);
  if (first == nullptr) return;
  LinkPoints(last, first);
  work.ringCount = 1;
  Simplify(work, 0);
  if (slanted && work.head != nullptr && RingMeetsItself(work.head)) {
    // Pieces biased apart at a concave corner, or a part narrower than its
    // bias, turn the ring over itself: the region it winds around as drawn
    // (the input ring's way: positively for an outline, negatively for a
    // hole) is resolved into simple rings.
    const bool hole = RingArea2(ring) < 0;
    if (hole) ReverseList(work);
    PSList merged;
    try {
      BooleanSweepAsDrawn(work, &merged, BooleanOpCode::Merge);
    } catch (...) {
      ClearPointList(work);
      ClearPointList(merged);
      throw;
    }
    ClearPointList(work);
    if (merged.IsEmpty()) return;
    if (hole) ReverseList(merged);
    CountRings(merged);
    SpliceList(output, merged);
    return;
  }
  SpliceList(output, work);
}

void OffsetBiasedList(PSList& list, PSList& output) {
  for (PSPoint* p = list.head; p; p = p->link) {
    if ((p->flags & PSPointFlags::Visited) || p->next == nullptr || p->prev == nullptr) continue;
    OffsetBiasedRing(list, p, output);
  }
  MaskFlags(list, -2);
}

void EmitBiasedEdges(PSList& list, PSList& output) {
  for (PSPoint* q = list.head; q; q = q->link) {
    if (q->next == nullptr || PointBias(q) == 0) continue;
    PSPoint* a = PushPoint(output, q->x, q->y);
    PSPoint* b = PushPoint(output, q->next->x, q->next->y);
    LinkPoints(a, b);
  }
}

int32_t MergeEdgeRunsMean(PSList& list, int guard) {
  for (PSPoint* m = list.head; m; m = m->link) {
    if (!IsMarker(m) || IsDeleted(m) || m->next == nullptr || IsMarker(m->next)) continue;
    PSPoint* e = m->next;
    while (e && !IsMarker(e)) e = e->next;
    if (e == nullptr) continue;
    PSPoint* f = guard ? m->next : m;
    PSPoint* l = guard ? e->prev : e;
    if (l != f && l != f->next) MergeEdgesMean(list, f, l);
  }
  PurgeDeleted(list);
  return MergeSimilarBiases(list, 2, guard, 0);
}

namespace {

// A new point at (x, y) between a and b (a->next == b) with the bias of from.
PSPoint* InsertBetween(PSList& list, PSPoint* a, PSPoint* b, int32_t x, int32_t y,
                       const PSPoint* from) {
  PSPoint* np = PushPoint(list, x, y);
  CopyPointBias(np, from);
  LinkPoints(a, np);
  LinkPoints(np, b);
  return np;
}

int32_t RoundedAmount(long double v) {
  return ToCoord((long double)RoundHalfAway(v));
}

}  // namespace

void GrowFirstPiece(PSList& list, PSPoint* m, int32_t length, int guard) {
  const long double a = length, a2 = a * a;
  PSPoint* r = m->next;
  while (r && !IsMarker(r) && DistSq(m, r) < a2) r = r->next;
  if (r == nullptr) return;
  if (!IsMarker(r)) {
    const long double d = std::floor(Dist(m, r));
    if (d - a >= a) {
      PSPoint* rp = r->prev;
      int32_t x, y;
      OffsetPoint(Box(rp->x, rp->y, r->x, r->y), RoundedAmount(a - d), true, x, y);
      r = InsertBetween(list, rp, r, x, y, rp);
    }
  } else if (guard) {
    r = r->prev;
  }
  if (r != m && r != m->next) MergeEdgesMean(list, m, r);
}

PSPoint* GrowLastPiece(PSList& list, PSPoint* m, int32_t length, int guard) {
  const long double a = length, a2 = a * a;
  PSPoint* r = m->prev;
  while (r && !IsMarker(r) && DistSq(m, r) < a2) r = r->prev;
  if (r == nullptr) return nullptr;
  if (!IsMarker(r)) {
    const long double d = std::floor(Dist(m, r));
    if (d - a >= a) {
      PSPoint* rn = r->next;
      int32_t x, y;
      OffsetPoint(Box(r->x, r->y, rn->x, rn->y), RoundedAmount(a - d), false, x, y);
      r = InsertBetween(list, r, rn, x, y, r);
    }
  } else if (guard) {
    r = r->next;
  }
  PSPoint* end = guard ? m->prev : m;
  if (end != r && end != r->next) MergeEdgesMean(list, r, end);
  return r;
}

int32_t MergeShortPieces(PSList& list, int32_t length, int guard) {
  const long double a = length, a2 = a * a;
  for (PSPoint* q = list.head; q; q = q->link) {
    if (IsDeleted(q) || q->next == nullptr || q->prev == nullptr) continue;
    if (IsMarker(q) && IsMarker(q->next)) continue;
    if (guard && (IsMarker(q) || IsMarker(q->next))) continue;
    PSPoint* p = q;
    while (p->next && p->next->next && DistSq(p, p->next) < a2) {
      if (guard ? IsMarker(p->prev) : IsMarker(p)) {
        GrowFirstPiece(list, guard ? p->prev : p, length, guard);
        break;
      }
      if (guard ? IsMarker(p->next->next) : IsMarker(p->next)) {
        GrowLastPiece(list, guard ? p->next->next : p->next, length, guard);
        break;
      }
      PSPoint* pp = p->prev;
      PSPoint* n = p->next;
      PSPoint* nn = n->next;
      const long double before = Dist(pp, p), after = Dist(n, nn), piece = Dist(p, n);
      if (after >= before) {
        // Joins the piece before it.
        PSPoint* from = pp;
        if (std::floor(before + piece) - a >= a) {
          int32_t x, y;
          OffsetPoint(Box(pp->x, pp->y, p->x, p->y), RoundedAmount(piece - a), true, x, y);
          from = InsertBetween(list, pp, p, x, y, pp);
        }
        MergeEdgesMean(list, from, n);
        p = from;
      } else {
        // Joins the piece after it.
        PSPoint* to = nn;
        if (std::floor(after + piece) - a >= a) {
          int32_t x, y;
          OffsetPoint(Box(n->x, n->y, nn->x, nn->y), RoundedAmount(piece - a), false, x, y);
          to = InsertBetween(list, n, nn, x, y, n);
        }
        MergeEdgesMean(list, p, to);
      }
    }
  }
  PurgeDeleted(list);
  return MergeSimilarBiases(list, 2, guard, 0);
}

int32_t RemoveShortCollinearEdges(PSList& list, int32_t length) {
  const long double a2 = (long double)length * length;
  auto parallel = [](const PSPoint* a, const PSPoint* b, const PSPoint* c, const PSPoint* d) {
    // a -> b parallel to c -> d (either way).
    return static_cast<__int128>(int64_t(b->x) - a->x) * (int64_t(d->y) - c->y) ==
           static_cast<__int128>(int64_t(b->y) - a->y) * (int64_t(d->x) - c->x);
  };
  for (PSPoint* q = list.head; q; q = q->link) {
    if (IsDeleted(q) || q->next == nullptr || q->prev == nullptr) continue;
    PSPoint* s = q->next;
    PSPoint* e = q->prev;
    PSPoint* m = s->next;
    if (m == nullptr || s == e || !(DistSq(q, s) < a2)) continue;
    const bool prevCol = parallel(e, q, q, s);
    const bool nextCol = parallel(s, m, q, s);
    auto deleteQ = [&] {
      q->flags |= PSPointFlags::Deleted;
      LinkPoints(e, s);
    };
    auto deleteS = [&] {
      CopyPointBias(q, s);
      s->flags |= PSPointFlags::Deleted;
      LinkPoints(q, m);
    };
    if (PointBias(e) == PointBias(s)) {
      if (prevCol) {
        deleteQ();
        if (nextCol) {
          s->flags |= PSPointFlags::Deleted;
          LinkPoints(e, m);
        }
      } else if (nextCol) {
        deleteS();
      }
    } else if (prevCol && nextCol) {
      if (DistSq(e, q) <= DistSq(s, m)) deleteQ(); else deleteS();
    } else if (prevCol) {
      if (DistSq(q, s) < DistSq(e, q)) deleteQ();
    } else if (nextCol) {
      if (DistSq(q, s) < DistSq(s, m)) deleteS();
    }
  }
  return PurgeDeleted(list);
}

}  // namespace velmar
