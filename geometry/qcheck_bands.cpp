#include "geometry/qcheck_bands.h"

#include <cmath>

#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"
#include "geometry/sizing.h"

namespace velmar {

namespace {

constexpr uint16_t kVisited = PSPointFlags::Visited;
constexpr uint16_t kWider = PSPointFlags::Marker;  // edge moves size + 1

using i128 = __int128;

i128 Dot(const PSPoint* p, const PSPoint* v, const PSPoint* n) {
  return i128(int64_t(n->x) - v->x) * (int64_t(p->x) - v->x) +
         i128(int64_t(n->y) - v->y) * (int64_t(p->y) - v->y);
}

// cross(V - P, N - V): positive for a left turn.
i128 Turn(const PSPoint* p, const PSPoint* v, const PSPoint* n) {
  return i128(int64_t(v->x) - p->x) * (int64_t(n->y) - v->y) -
         i128(int64_t(v->y) - p->y) * (int64_t(n->x) - v->x);
}

// x first, then y; equal points count as <=.
bool LessEq(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
  return ax < bx || (ax == bx && ay <= by);
}

// A new point at the head of the ring's working list, linked after its last.
PSPoint* Emit(SizingRing& ring, int32_t x, int32_t y) {
  PSPoint* q = PushPoint(*ring.work, x, y);
  if (!ring.first) {
    ring.first = ring.last = q;
  } else {
    LinkPoints(ring.last, q);
    ring.last = q;
  }
  return q;
}

// Whether the walk along next from p comes back to p.
bool IsClosed(const PSPoint* p) {
  const PSPoint* q = p->next;
  while (q && q != p) q = q->next;
  return q == p;
}

int32_t HalfUp(double v) { return ToCoord((long double)std::floor(v + 0.5)); }

}  // namespace

void SplitRingForQCheck(PSList&, PSPoint* ring, PSList& chamfered,
                        int negative) {
  SizingRing out{&chamfered, nullptr, nullptr};
  PSPoint* v = ring;
  do {
    PSPoint* p = v->prev;
    PSPoint* n = v->next;
    const i128 t = Turn(p, v, n);
    const bool rightAngle = Dot(p, v, n) == 0;
    const bool keep = !rightAngle || (t < 0 && negative == 0) ||
                      (t > 0 && negative != 0);
    if (keep) {
      Emit(out, v->x, v->y);
    } else {
      int32_t q1x, q1y, q2x, q2y;
      OffsetPoint(Box(p->x, p->y, v->x, v->y), -1, true, q1x, q1y);
      OffsetPoint(Box(v->x, v->y, n->x, n->y), -1, false, q2x, q2y);
      const bool lastIsQ1 =
          out.last && out.last->x == q1x && out.last->y == q1y;
      if (q1x == q2x && q1y == q2y) {
        if (!lastIsQ1) Emit(out, v->x, v->y);
      } else {
        if (lastIsQ1)
          out.last->flags |= kWider;
        else
          Emit(out, q1x, q1y)->flags |= kWider;
        if (!(n->x == q2x && n->y == q2y)) Emit(out, q2x, q2y);
      }
    }
    v = n;
  } while (v != ring);
  if (!out.first) return;
  // Where the last chamfer point of the walk meets the first one (an edge of
  // two units between two chamfered corners) the repeated point goes.
  if (out.last != out.first && out.last->x == out.first->x &&
      out.last->y == out.first->y) {
    PSPoint* dup = out.last;
    out.last = dup->prev;
    // dup was pushed last: it stands at the head of the link chain.
    chamfered.head = dup->link;
    --chamfered.pointCount;
    FreePoint(dup);
  }
  LinkPoints(out.last, out.first);
}

void SizeChains(PSList& list, PSPoint* ring, PSList& output, int32_t size) {
  ScratchList work;
  SizingRing out{&work.list, nullptr, nullptr};
  int32_t vertices = 0, turned = 0;
  PSPoint* v = ring;
  do {
    ++vertices;
    PSPoint* p = v->prev;
    PSPoint* n = v->next;
    Box a(p->x, p->y, v->x, v->y), b(v->x, v->y, n->x, n->y);
    ShiftPerpendicular(a, (p->flags & kWider) ? size + 1 : size);
    ShiftPerpendicular(b, (v->flags & kWider) ? size + 1 : size);
    double fx, fy;
    if (!SegmentIntersect(a, b, fx, fy)) {
      // Parallel moved edges: nothing where the edges run on, a flat cap of
      // both moved ends where they double back.
      if (Dot(p, v, n) > 0) {
        Emit(out, a.x2, a.y2);
        if (!(a.x2 == b.x1 && a.y2 == b.y1)) Emit(out, b.x1, b.y1);
      }
      v = n;
      continue;
    }
    const int32_t ix = HalfUp(fx), iy = HalfUp(fy);
    const bool sharp = Dot(p, v, n) > 0;
    const i128 t = Turn(p, v, n);
    if (sharp && ((t > 0 && size > 0) || (t < 0 && size < 0))) {
      const Box incoming(a.x1, a.y1, ix, iy), outgoing(ix, iy, b.x2, b.y2);
      if (size > 0)
        BuildGrowCorner(list, out, size, p, v, n, incoming, outgoing);
      else
        BuildShrinkCorner(list, out, -size, p, v, n, incoming, outgoing);
      if (size < 0 && out.last && out.last->prev &&
          LessEq(p->x, p->y, v->x, v->y) !=
              LessEq(out.last->prev->x, out.last->prev->y, out.last->x,
                     out.last->y))
        ++turned;
    } else {
      PSPoint* last = out.last;
      Emit(out, ix, iy);
      if (size < 0 && last &&
          LessEq(p->x, p->y, v->x, v->y) != LessEq(last->x, last->y, ix, iy))
        ++turned;
    }
    v = n;
  } while (v != ring);
  if (!out.first) return;
  LinkPoints(out.last, out.first);
  if (size < 0 && turned > (vertices >> 1)) ReverseList(work.list);
  work.list.ringCount = 0;
  SpliceList(output, work.list);
}

void BuildQCheckBands(PSList& input, PSList& output, int32_t size,
                      int smooth) {
  ScratchList work;
  for (PSPoint* start = input.head; start; start = start->link) {
    if (start->flags & kVisited) continue;
    if (!IsClosed(start)) {
      // An open chain (edge layer): no band; its points are passed over.
      PSPoint* c = start;
      while (c->prev) c = c->prev;
      for (; c; c = c->next) c->flags |= kVisited;
      continue;
    }
    ClearPointList(work.list);
    SplitRingForQCheck(input, start, work.list, size < 0 ? 1 : 0);
    if (smooth) SmoothAcute(work.list, size);
    if (work.list.head) SizeChains(work.list, work.list.head, output, size);
    PSPoint* q = start;
    do {
      q->flags |= kVisited;
      q = q->next;
    } while (q != start);
  }
}

}  // namespace velmar
