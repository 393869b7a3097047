// Sizing of rings: offset intersections, corner cuts by a square around a
// sharp vertex, smoothing of short sharp vertices and removal of isolated
// turned-over edges.
#include "geometry/sizing.h"

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <utility>
#include <vector>

#include "geometry/boolean_sweep.h"

#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {
namespace {

using i128 = __int128;

constexpr uint16_t kVisited = PSPointFlags::Visited;
// During the construction of one ring: the edge from this output point to
// its next point is turned over against its input edge.
constexpr uint16_t kTurned = PSPointFlags::Marker;

// floor(num / den + 1/2) for den != 0, exactly.
i128 DivideHalfUp(i128 num, i128 den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  i128 n2 = 2 * num + den, d2 = 2 * den;
  i128 q = n2 / d2;
  if (n2 % d2 != 0 && n2 < 0) --q;
  return q;
}

// An exact value as a coordinate; Error ("DRC") outside int32.
int32_t Coord(i128 v) {
  const i128 lim = i128(1) << 40;
  return ToCoord(int64_t(v > lim ? lim : (v < -lim ? -lim : v)));
}

// Intersection of the lines through two segments, each coordinate rounded
// half up; false when the lines are parallel or a segment has no length.
bool LineCrossHalfUp(const Box& a, const Box& b, int32_t& x, int32_t& y) {
  const i128 adx = int64_t(a.x2) - a.x1, ady = int64_t(a.y2) - a.y1;
  const i128 bdx = int64_t(b.x2) - b.x1, bdy = int64_t(b.y2) - b.y1;
  if ((adx == 0 && ady == 0) || (bdx == 0 && bdy == 0)) return false;
  const i128 den = adx * bdy - ady * bdx;
  if (den == 0) return false;
  // a.start + t * (adx, ady), t = cross(b.start - a.start, b) / den.
  const i128 ex = int64_t(b.x1) - a.x1, ey = int64_t(b.y1) - a.y1;
  const i128 tn = ex * bdy - ey * bdx;
  // |tn| < 2^67 and |delta| < 2^33: the product fits 128 bits exactly.
  auto coord = [&](int32_t base, i128 delta) -> int32_t {
    return Coord(base + DivideHalfUp(tn * delta, den));
  };
  x = coord(a.x1, adx);
  y = coord(a.y1, ady);
  return true;
}

// Lexicographic (x, then y) order of two positions, equal counting as <=.
bool LessEq(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
  return ax < bx || (ax == bx && ay <= by);
}

int Sign(int64_t v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// One ring of output under construction.
struct RingBuilder {
  SizingRing ring;
  int32_t turned = 0;
  bool markTurned = true;  // SizeList marks; OffsetRing only counts
  bool testTurned = true;

  // Emits a point of an offset edge: its edge from the last point is
  // tested against the input edge (ex1, ey1) -> (ex2, ey2).
  void Emit(int32_t x, int32_t y, const PSPoint* e1, const PSPoint* e2) {
    PSPoint* q = PushPoint(*ring.work, x, y);
    if (!ring.first) {
      ring.first = ring.last = q;
      return;
    }
    PSPoint* last = ring.last;
    LinkPoints(last, q);
    if (testTurned && e1 &&
        LessEq(e1->x, e1->y, e2->x, e2->y) != LessEq(last->x, last->y, x, y)) {
      if (markTurned) last->flags |= kTurned;
      ++turned;
    }
    ring.last = q;
  }
};

void LinkCutPoint(SizingRing& ring, int32_t x, int32_t y) {
  PSPoint* q = PushPoint(*ring.work, x, y);
  if (!ring.first) {
    ring.first = ring.last = q;
    return;
  }
  LinkPoints(ring.last, q);
  ring.last = q;
}

// The steps of a corner cut: a side of the square crossed with one of the
// two moved edges, or a corner of the square.
enum class Side { Top, Bottom, Left, Right };
enum class Corner { TL, TR, BL, BR };
struct CutStep {
  bool isCorner;
  Side side;
  bool lineA;  // crossing with the incoming edge (else the outgoing one)
  Corner corner;
};

CutStep SideStep(Side s, bool a) { return {false, s, a, Corner::TL}; }
CutStep CornerStep(Corner c) { return {true, Side::Top, false, c}; }

// The points of the cut at v, in ring order, into pts; returns how many
// (2 or 3).
int CornerPoints(int32_t a, const Point& p0, const Point& v0, const Point& n0,
                 const Box& incoming, const Box& outgoing, bool shrink,
                 Point pts[3]) {
  const Point* p = &p0;
  const Point* v = &v0;
  const Point* n = &n0;
  const int64_t top = int64_t(v->y) + a, bottom = int64_t(v->y) - a;
  const int64_t left = int64_t(v->x) - a, right = int64_t(v->x) + a;
  const int32_t ix = incoming.x2, iy = incoming.y2;
  const int sp = Sign(int64_t(p->x) - v->x), sn = Sign(int64_t(n->x) - v->x);

  // The grow table; the shrink cut is it with the two edges exchanged and
  // the order reversed.
  CutStep steps[3];
  int count = 2;
  if (iy > top) {
    if (sp < 0 && sn < 0) {
      steps[0] = SideStep(Side::Right, true);
      steps[1] = CornerStep(Corner::TR);
      steps[2] = SideStep(Side::Top, false);
      count = 3;
    } else if (sp > 0 && sn > 0) {
      steps[0] = SideStep(Side::Top, true);
      steps[1] = CornerStep(Corner::TL);
      steps[2] = SideStep(Side::Left, false);
      count = 3;
    } else {
      steps[0] = SideStep(Side::Top, true);
      steps[1] = SideStep(Side::Top, false);
    }
  } else if (iy < bottom) {
    if (sp > 0 && sn > 0) {
      steps[0] = SideStep(Side::Left, true);
      steps[1] = CornerStep(Corner::BL);
      steps[2] = SideStep(Side::Bottom, false);
      count = 3;
    } else if (sp < 0 && sn < 0) {
      steps[0] = SideStep(Side::Bottom, true);
      steps[1] = CornerStep(Corner::BR);
      steps[2] = SideStep(Side::Right, false);
      count = 3;
    } else {
      steps[0] = SideStep(Side::Bottom, true);
      steps[1] = SideStep(Side::Bottom, false);
    }
  } else if (ix < v->x) {
    steps[0] = SideStep(Side::Left, true);
    steps[1] = SideStep(Side::Left, false);
  } else {
    steps[0] = SideStep(Side::Right, true);
    steps[1] = SideStep(Side::Right, false);
  }
  if (shrink) {
    for (int i = 0; i < count; ++i) steps[i].lineA = !steps[i].lineA;
    for (int i = 0, j = count - 1; i < j; ++i, --j) std::swap(steps[i], steps[j]);
  }

  int32_t px = ix, py = iy;  // the previous point of this cut
  for (int i = 0; i < count; ++i) {
    const CutStep& st = steps[i];
    int32_t x = px, y = py;
    if (st.isCorner) {
      const bool isTop = st.corner == Corner::TL || st.corner == Corner::TR;
      const bool isLeft = st.corner == Corner::TL || st.corner == Corner::BL;
      x = ToCoord(isLeft ? left : right);
      y = ToCoord(isTop ? top : bottom);
    } else {
      const Box& line = st.lineA ? incoming : outgoing;
      const bool horizontal = st.side == Side::Top || st.side == Side::Bottom;
      const int64_t c = st.side == Side::Top      ? top
                        : st.side == Side::Bottom ? bottom
                        : st.side == Side::Left   ? left
                                                  : right;
      const i128 dx = int64_t(line.x2) - line.x1, dy = int64_t(line.y2) - line.y1;
      if (horizontal && dy != 0) {
        y = ToCoord(c);
        x = Coord(line.x1 + DivideHalfUp((c - line.y1) * dx, dy));
      } else if (!horizontal && dx != 0) {
        x = ToCoord(c);
        y = Coord(line.y1 + DivideHalfUp((c - line.x1) * dy, dx));
      }
      // Parallel: the previous point of the cut is used again.
    }
    pts[i] = Point(x, y);
    px = x;
    py = y;
  }
  return count;
}

// What one input vertex v (distinct neighbours p and n) gives: its offset
// intersection, the points of a corner cut, a flat cap where the edges
// double back, or nothing where they run on in one line.
struct VertexPoints {
  enum Kind { None, Offset, Cap, Cut } kind = None;
  int count = 0;
  Point pts[3];
  Point aEnd, bStart;  // the moved incoming edge's end, outgoing's start
};

VertexPoints OffsetVertex(const Point& p, const Point& v, const Point& n,
                          int32_t size, bool smooth) {
  VertexPoints out;
  Box a(p.x, p.y, v.x, v.y), b(v.x, v.y, n.x, n.y);
  ShiftPerpendicular(a, size);
  ShiftPerpendicular(b, size);
  out.aEnd = Point(a.x2, a.y2);
  out.bStart = Point(b.x1, b.y1);
  int32_t ix, iy;
  if (!LineCrossHalfUp(a, b, ix, iy)) {
    const i128 dot = i128(int64_t(v.x) - p.x) * (int64_t(n.x) - v.x) +
                     i128(int64_t(v.y) - p.y) * (int64_t(n.y) - v.y);
    if (dot < 0) {
      out.kind = VertexPoints::Cap;
      out.pts[out.count++] = out.aEnd;
      if (!(out.aEnd == out.bStart)) out.pts[out.count++] = out.bStart;
    }
    return out;
  }
  if (smooth && size != 0) {
    const int32_t magnitude = size < 0 ? -size : size;
    int32_t apx, apy, bpx, bpy;
    OffsetPoint(a, magnitude, false, apx, apy);
    OffsetPoint(b, magnitude, true, bpx, bpy);
    const Box inA(apx, apy, ix, iy), outB(ix, iy, bpx, bpy);
    const i128 ux = int64_t(apx) - ix, uy = int64_t(apy) - iy;
    const i128 wx = int64_t(bpx) - ix, wy = int64_t(bpy) - iy;
    const bool sharp = ux * wx + uy * wy > 0;
    const i128 c = ux * wy - uy * wx;
    if (sharp && ((c < 0 && size > 0) || (c > 0 && size < 0))) {
      out.kind = VertexPoints::Cut;
      out.count = CornerPoints(size > 0 ? size : -size, p, v, n, inA, outB,
                               size < 0, out.pts);
      return out;
    }
  }
  out.kind = VertexPoints::Offset;
  out.count = 1;
  out.pts[0] = Point(ix, iy);
  return out;
}

// The distinct neighbours of v along its ring: prev is v->prev (a vertex
// at v's own position emits nothing, its first copy does), next is the
// first vertex after v at another position. False when v repeats its
// previous vertex or the ring holds no second position.
bool DistinctNeighbours(const PSPoint* v, const PSPoint*& p, const PSPoint*& n) {
  p = v->prev;
  if (SamePosition(p, v)) return false;
  n = v->next;
  while (n != v && SamePosition(n, v)) n = n->next;
  return n != v;
}

enum class Mode { Size, SizeSmooth, Offset };

// Builds the sized ring through start into work; returns the number of
// input vertices taken.
int32_t BuildRing(PSPoint* start, PSList& work, int32_t size, Mode mode,
                  RingBuilder& rb) {
  rb.ring.work = &work;
  int32_t vertices = 0;
  const PSPoint* firstP = nullptr;  // input edge of the first output point
  const PSPoint* firstV = nullptr;
  PSPoint* v = start;
  do {
    if (mode != Mode::Offset) v->flags |= kVisited;
    ++vertices;
    const PSPoint* p;
    const PSPoint* n;
    if (DistinctNeighbours(v, p, n)) {
      const bool hadFirst = rb.ring.first != nullptr;
      const VertexPoints vp =
          OffsetVertex(Point(p->x, p->y), Point(v->x, v->y), Point(n->x, n->y), size,
                       mode == Mode::SizeSmooth);
      for (int i = 0; i < vp.count; ++i) {
        if (vp.kind == VertexPoints::Cut)
          LinkCutPoint(rb.ring, vp.pts[i].x, vp.pts[i].y);
        else if (i == 0)
          rb.Emit(vp.pts[i].x, vp.pts[i].y, p, v);
        else
          rb.Emit(vp.pts[i].x, vp.pts[i].y, nullptr, nullptr);
      }
      if (!hadFirst && rb.ring.first) {
        firstP = p;
        firstV = v;
      }
    }
    v = v->next;
  } while (v != start);

  if (work.pointCount < 3) {
    // No area can come of one or two points.
    ClearPointList(work);
    rb.ring = SizingRing{&work, nullptr, nullptr};
    return vertices;
  }
  PSPoint* first = rb.ring.first;
  PSPoint* last = rb.ring.last;
  LinkPoints(last, first);
  if (mode != Mode::Offset && firstP &&
      LessEq(firstP->x, firstP->y, firstV->x, firstV->y) !=
          LessEq(last->x, last->y, first->x, first->y)) {
    last->flags |= kTurned;
    ++rb.turned;
  }
  return vertices;
}

// Splits chains off, runs Simplify with tolerance 0 on the rings, puts the
// chains back.
void SimplifyRings(PSList& list) {
  if (!HasOpenChains(list)) {
    Simplify(list, 0);
    return;
  }
  ScratchList chains;
  SplitOffWholeChains(list, chains.list);
  Simplify(list, 0);
  SpliceList(list, chains.list);
}

// Smoothing of one vertex q; true when it moved.
bool SmoothVertex(PSPoint* q, int32_t size) {
  const PSPoint* r = q->prev;
  const PSPoint* n = q->next;
  if (!r || !n) return false;
  const int64_t nx = int64_t(n->x) - q->x, ny = int64_t(n->y) - q->y;
  const int64_t rx = int64_t(r->x) - q->x, ry = int64_t(r->y) - q->y;
  const i128 d = i128(nx) * rx + i128(ny) * ry;
  if (d <= 0) return false;
  const i128 m = i128(nx) * ry - i128(ny) * rx;
  if (!((m > 0 && size < 0) || (m < 0 && size > 0))) return false;
  const long double u = (long double)rx * rx + (long double)ry * ry;
  const long double v = (long double)nx * nx + (long double)ny * ny;
  const long double s2 = (long double)size * size;
  if (!(s2 > u || s2 > v)) return false;
  int32_t x, y;
  if (u <= v) {
    if (q->x == n->x) {
      x = q->x;
      y = r->y;
    } else if (q->y == n->y) {
      x = r->x;
      y = q->y;
    } else {
      x = ToCoord(RoundHalfAway(q->x + nx * ((long double)d / v)));
      y = ToCoord(RoundHalfAway(q->y + ny * ((long double)d / v)));
    }
  } else {
    if (q->x == r->x) {
      x = q->x;
      y = n->y;
    } else if (q->y == r->y) {
      x = n->x;
      y = q->y;
    } else {
      x = ToCoord(RoundHalfAway(q->x + rx * ((long double)d / u)));
      y = ToCoord(RoundHalfAway(q->y + ry * ((long double)d / u)));
    }
  }
  q->x = x;
  q->y = y;
  return true;
}

}  // namespace

int32_t SmoothAcute(PSList& list, int32_t size) {
  int32_t moved = 0;
  for (PSPoint* q = list.head; q; q = q->link)
    if (SmoothVertex(q, size)) ++moved;
  if (moved) SimplifyRings(list);
  return moved;
}

int32_t SmoothAcuteRing(PSList& list, PSPoint* ring, int32_t size) {
  if (!ring->next || !ring->prev) return 0;
  int32_t moved = 0;
  PSPoint* q = ring;
  do {
    if (SmoothVertex(q, size)) ++moved;
    q = q->next;
  } while (q != ring);
  SimplifyRingAt(ring, 0);
  PurgeDeleted(list);
  return moved;
}

namespace {

// RemoveTurnedEdges; returns how many turned-over edges stay in the ring.
int32_t RemoveTurned(PSList& ring, int32_t size) {
  int32_t kept = 0;
  PSPoint* before = nullptr;
  PSPoint* p = ring.head;
  while (p) {
    PSPoint* following = p->link;
    if (p->flags & kTurned) {
      PSPoint* r = p->prev;
      PSPoint* s = p->next;
      if ((r->flags | s->flags) & kTurned) {
        p->flags &= ~kTurned;
        ++kept;
      } else {
        PSPoint* t = s->next;
        bool removable = false;
        if (size >= 1)
          removable = Cross(r, p, t) < 0 && Cross(s, t, r) < 0;
        else if (size < 0)
          removable = Cross(r, p, t) > 0 && Cross(s, t, r) > 0;
        int32_t x, y;
        if (removable &&
            LineCrossHalfUp(Box(r->x, r->y, p->x, p->y), Box(s->x, s->y, t->x, t->y),
                            x, y)) {
          s->x = x;
          s->y = y;
          LinkPoints(r, s);
          if (before)
            before->link = following;
          else
            ring.head = following;
          if (ring.tail == p) ring.tail = before;
          --ring.pointCount;
          FreePoint(p);
          p = following;
          continue;
        }
        p->flags &= ~kTurned;
        ++kept;
      }
    }
    before = p;
    p = following;
  }
  return kept;
}

// Pushes the polygon as one counter-clockwise ring (nothing when it has no
// area), flags as given.
void PushPiece(PSList& list, const Point* pts, int count, uint16_t flags) {
  i128 area2 = 0;
  for (int i = 0; i < count; ++i) {
    const Point& a = pts[i];
    const Point& b = pts[(i + 1) % count];
    area2 += i128(a.x) * b.y - i128(b.x) * a.y;
  }
  if (area2 == 0) return;
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (int k = 0; k < count; ++k) {
    const Point& pt = pts[area2 > 0 ? k : count - 1 - k];
    PSPoint* q = PushPoint(list, pt.x, pt.y);
    q->flags = flags;
    if (!first) first = q;
    LinkPoints(last, q);
    last = q;
  }
  LinkPoints(last, first);
  ++list.ringCount;
}

// The sized ring through start built exactly, for rings whose moved edges
// turn over: the region of the ring (oriented counter-clockwise) with the
// band of every edge and the piece between the moved edges at every vertex
// where they part added (growing) or taken away (shrinking), by one
// boolean. A clockwise ring (a hole) is sized as its counter-clockwise
// copy by the opposite size and handed back clockwise. Winding sums of the
// output then give the sized set, where the turned-over offset ring would
// leave loops of the wrong sign.
void SizeRingExactly(PSPoint* start, PSList& output, int32_t size, bool smooth) {
  std::vector<Point> pts;
  {
    PSPoint* v = start;
    do {
      if (pts.empty() || !(pts.back() == Point(v->x, v->y)))
        pts.emplace_back(v->x, v->y);
      v = v->next;
    } while (v != start);
    while (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
  }
  if (pts.size() < 3) return;
  i128 area2 = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const Point& a = pts[i];
    const Point& b = pts[(i + 1) % pts.size()];
    area2 += i128(a.x) * b.y - i128(b.x) * a.y;
  }
  if (area2 == 0) return;
  const bool ccw = area2 > 0;
  if (!ccw) std::reverse(pts.begin(), pts.end());
  const int32_t t = ccw ? size : -size;
  if (t < 0) {
    // Every point of a ring no wider than 2|t| on one axis lies within |t|
    // of its boundary: the ring is shrunk away.
    Box bb;
    for (const Point& q : pts) bb.Extend(q.x, q.y);
    if (int64_t(bb.x2) - bb.x1 <= -2 * int64_t(t) || int64_t(bb.y2) - bb.y1 <= -2 * int64_t(t))
      return;
  }
  const uint16_t pieceFlags = t > 0 ? 0 : PSPointFlags::SecondLayer;

  ScratchList ops, result;
  PushPiece(ops.list, pts.data(), int(pts.size()), 0);
  const size_t n = pts.size();
  for (size_t i = 0; i < n; ++i) {
    const Point& p = pts[(i + n - 1) % n];
    const Point& v = pts[i];
    const Point& nx = pts[(i + 1) % n];
    // Band of the edge v -> nx.
    Box e(v.x, v.y, nx.x, nx.y);
    const Box sh = Shifted(e, t);
    const Point band[4] = {v, nx, Point(sh.x2, sh.y2), Point(sh.x1, sh.y1)};
    PushPiece(ops.list, band, 4, pieceFlags);
    // Piece at v where the moved edges part: left turns when growing,
    // right turns when shrinking.
    const i128 turn = i128(int64_t(v.x) - p.x) * (int64_t(nx.y) - v.y) -
                      i128(int64_t(v.y) - p.y) * (int64_t(nx.x) - v.x);
    if ((t > 0 && turn > 0) || (t < 0 && turn < 0)) {
      const VertexPoints vp = OffsetVertex(p, v, nx, t, smooth);
      Point piece[6];
      int k = 0;
      piece[k++] = v;
      piece[k++] = vp.aEnd;
      for (int j = 0; j < vp.count; ++j) piece[k++] = vp.pts[j];
      piece[k++] = vp.bStart;
      PushPiece(ops.list, piece, k, pieceFlags);
    }
  }
  BooleanSweep(ops.list, &result.list, t > 0 ? BooleanOpCode::Merge : BooleanOpCode::Diff,
               false);
  if (!ccw) ReverseList(result.list);
  result.list.ringCount = 0;
  SpliceList(output, result.list);
}

}  // namespace

void RemoveTurnedEdges(PSList& ring, int32_t size) { RemoveTurned(ring, size); }

void BuildGrowCorner(PSList&, SizingRing& ring, int32_t a, const PSPoint* p,
                     const PSPoint* v, const PSPoint* n, const Box& incoming,
                     const Box& outgoing) {
  Point pts[3];
  const int count = CornerPoints(a, Point(p->x, p->y), Point(v->x, v->y),
                                 Point(n->x, n->y), incoming, outgoing, false, pts);
  for (int i = 0; i < count; ++i) LinkCutPoint(ring, pts[i].x, pts[i].y);
}

void BuildShrinkCorner(PSList&, SizingRing& ring, int32_t a, const PSPoint* p,
                       const PSPoint* v, const PSPoint* n, const Box& incoming,
                       const Box& outgoing) {
  Point pts[3];
  const int count = CornerPoints(a, Point(p->x, p->y), Point(v->x, v->y),
                                 Point(n->x, n->y), incoming, outgoing, true, pts);
  for (int i = 0; i < count; ++i) LinkCutPoint(ring, pts[i].x, pts[i].y);
}

void SizeList(PSList& input, PSList& output, int32_t size, int smooth) {
  // Open chains (edge layers) are left out and left alone: they are set
  // aside for the call and put back at the head of the input.
  PSList chains;
  if (HasOpenChains(input)) SplitOffWholeChains(input, chains);
  struct Restore {
    PSList& input;
    PSList& chains;
    ~Restore() {
      if (!chains.IsEmpty()) {
        SpliceList(chains, input);
        SpliceList(input, chains);
      }
    }
  } restore{input, chains};
  if (smooth) SmoothAcute(input, size);
  ScratchList work;
  for (PSPoint* start = input.head; start; start = start->link) {
    if (start->flags & kVisited) continue;
    RingBuilder rb;
    const int32_t vertices =
        BuildRing(start, work.list, size, smooth ? Mode::SizeSmooth : Mode::Size, rb);
    if (work.list.IsEmpty()) continue;
    if (RemoveTurned(work.list, size) > 0) {
      // Turned-over edges remain: the offset ring's winding would be wrong
      // where they lie (a ring shrunk out of existence can keep a loop of
      // positive winding). The ring is built exactly instead.
      ClearPointList(work.list);
      SizeRingExactly(start, output, size, smooth != 0);
      continue;
    }
    if (rb.turned > (vertices >> 1)) ReverseList(work.list);
    work.list.ringCount = 0;
    SpliceList(output, work.list);
  }
}

void OffsetRing(PSList&, PSPoint* ring, PSList& output, int32_t size) {
  if (!ring->next || !ring->prev) return;
  ScratchList work;
  RingBuilder rb;
  rb.markTurned = false;
  rb.testTurned = size < 0;
  const int32_t vertices = BuildRing(ring, work.list, size, Mode::Offset, rb);
  if (work.list.IsEmpty()) return;
  if (size < 0 && rb.turned > (vertices >> 1)) ReverseList(work.list);
  work.list.ringCount = 0;
  SpliceList(output, work.list);
}

}  // namespace velmar
