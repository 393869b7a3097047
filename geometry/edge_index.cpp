#include "geometry/edge_index.h"

#include <cmath>

namespace velmar {

namespace {

int64_t Manhattan(const Point& a, const Point& b) {
  return std::llabs(int64_t(a.x) - b.x) + std::llabs(int64_t(a.y) - b.y);
}

int64_t SquaredDistance(const Point& a, const Point& b) {
  int64_t dx = int64_t(a.x) - b.x, dy = int64_t(a.y) - b.y;
  return dx * dx + dy * dy;
}

Box BoundingBox(const Point& a, const Point& b, const Point& c,
                const Point& d) {
  Box box;
  box.Extend(a.x, a.y);
  box.Extend(b.x, b.y);
  box.Extend(c.x, c.y);
  box.Extend(d.x, d.y);
  return box;
}

Point Start(const Box& s) { return Point(s.x1, s.y1); }
Point End(const Box& s) { return Point(s.x2, s.y2); }

// Pushes four new vertices (flags 0) at the head of out, linked in the order
// given as one closed ring; point count + 4, ring count + 1.
void AddRing(PSList& out, const Point& a, const Point& b, const Point& c,
             const Point& d) {
  PSPoint* p0 = PushPoint(out, a.x, a.y);
  PSPoint* p1 = PushPoint(out, b.x, b.y);
  PSPoint* p2 = PushPoint(out, c.x, c.y);
  PSPoint* p3 = PushPoint(out, d.x, d.y);
  LinkPoints(p0, p1);
  LinkPoints(p1, p2);
  LinkPoints(p2, p3);
  LinkPoints(p3, p0);
  ++out.ringCount;
}

bool AxisParallel(const Box& s) { return IsVertical(s) || IsHorizontal(s); }

// The feet of a piece's ends on the line of edge and their distances from
// the edge's start.
void Project(const Box& edge, BandPiece& bp) {
  bp.foot = SegmentFoot(edge, bp.piece.x1, bp.piece.y1);
  bp.footEnd = SegmentFoot(edge, bp.piece.x2, bp.piece.y2);
  bp.m1 = Manhattan(Start(edge), bp.foot);
  bp.m2 = Manhattan(Start(edge), bp.footEnd);
}

// Scratch lists of the band walks, reused from edge to edge so that a check
// over millions of edges allocates only while they grow.
std::vector<Box>& EdgeScratch() {
  static std::vector<Box> edges;
  return edges;
}
std::vector<BandPiece>& PieceScratch() {
  static std::vector<BandPiece> pieces;
  return pieces;
}

int64_t IntegerSqrt(int64_t v) {
  int64_t r = int64_t(std::sqrt((long double)v));
  while (r > 0 && r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

}  // namespace

void IndexEdges(const PSList& list, DBSearchSystem& tree) {
  for (PSPoint* p = list.head; p; p = p->link) {
    if (!p->next) continue;
    Box box;
    box.Extend(p->x, p->y);
    box.Extend(p->next->x, p->next->y);
    DBSearchSystem::Insert(tree, box, p);
  }
}

int32_t CollectEdges(const DBSearchSystem& tree, const Box& query,
                     const Box& exclude, std::vector<Box>& out) {
  int32_t count = 0;
  for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, query); n;
       n = DBSearchSystem::NextInBox(n, query)) {
    const PSPoint* p = n->Item<PSPoint>();
    Box edge(p->x, p->y, p->next->x, p->next->y);
    if (edge == exclude) continue;
    if (!query.Contains(n->box) && !MeetsBox(edge, query)) continue;
    out.push_back(edge);
    ++count;
  }
  return count;
}

Quad EdgeBandQuad(const Box& edge, int32_t d) {
  Box s = Shifted(edge, d);
  Quad q;
  if (d > 0) {
    q.v[0] = End(edge);
    q.v[1] = Start(edge);
    q.v[2] = Start(s);
    q.v[3] = End(s);
  } else {
    q.v[0] = Start(edge);
    q.v[1] = End(edge);
    q.v[2] = End(s);
    q.v[3] = Start(s);
  }
  return q;
}

int32_t CollectBandPieces(const DBSearchSystem& tree, const Box& edge,
                          int32_t d, std::vector<BandPiece>& pieces) {
  pieces.clear();
  // With d = 0 the band has no area: nothing lies inside it.
  if (d == 0 || tree.IsEmpty()) return 0;
  Box s = Shifted(edge, d);
  Box search = BoundingBox(Start(edge), End(edge), Start(s), End(s));
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (CollectEdges(tree, search, edge, edges) == 0) return 0;
  bool clip = !AxisParallel(edge);
  Quad quad;
  if (clip) quad = EdgeBandQuad(edge, d);
  for (Box piece : edges) {
    if (clip && !ClipSegmentToQuad(quad, piece)) continue;
    BandPiece bp;
    bp.piece = piece;
    Project(edge, bp);
    pieces.push_back(bp);
  }
  return int32_t(pieces.size());
}

bool BandModeKeeps(const BandPiece& bp, int mode) {
  switch (mode) {
    case 0:
    case 1:
      return bp.m2 < bp.m1;
    case 2:
      return bp.m1 < bp.m2;
    default:
      return mode >= 3;
  }
}

void CheckEdgeBand(const Box& edge, int32_t d, const DBSearchSystem& tree,
                   PSList& out, int kind, int mode) {
  std::vector<BandPiece>& pieces = PieceScratch();
  if (CollectBandPieces(tree, edge, d, pieces) == 0) return;
  for (const BandPiece& bp : pieces) {
    if (kind == 3 && !SegmentsParallel(edge, bp.piece)) continue;
    if (!BandModeKeeps(bp, mode)) continue;
    if (mode == 1)
      AddRing(out, End(bp.piece), Start(bp.piece), bp.foot, bp.footEnd);
    else
      AddRing(out, Start(bp.piece), End(bp.piece), bp.footEnd, bp.foot);
  }
}

void CheckCornerBand(const Box& ext, int32_t d, int64_t dd,
                     const DBSearchSystem& tree, PSList& out, int32_t unit,
                     int mode) {
  if (d == 0 || tree.IsEmpty()) return;
  Box s1 = Shifted(ext, d);
  // One unit to the other side, so that a partner along the extension's
  // own line is found as well.
  Box s2 = Shifted(ext, d <= 0 ? 1 : -1);
  Box search = BoundingBox(Start(s2), End(s2), Start(s1), End(s1));
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (CollectEdges(tree, search, ext, edges) == 0) return;
  bool clip = !AxisParallel(ext);
  Quad quad;
  if (clip) quad = EdgeBandQuad(ext, d);
  const Point v = Start(ext);
  int64_t best = dd;
  bool found = false;
  Point nearest;
  for (Box piece : edges) {
    if (clip && !ClipSegmentToQuad(quad, piece)) continue;
    BandPiece bp;
    bp.piece = piece;
    Project(ext, bp);
    if (!BandModeKeeps(bp, mode)) continue;
    auto consider = [&](const Point& c) {
      int64_t dist = SquaredDistance(c, v);
      if (dist < best) {
        best = dist;
        nearest = c;
        found = true;
      }
    };
    Point g = SegmentFoot(piece, v.x, v.y);
    Box nb = Normalized(piece);
    if (g.x >= nb.x1 && g.x <= nb.x2 && g.y >= nb.y1 && g.y <= nb.y2) {
      consider(g);
    } else {
      consider(Start(piece));
      consider(End(piece));
    }
  }
  if (!found) return;
  Box box;
  box.Extend(v.x, v.y);
  box.Extend(nearest.x, nearest.y);
  if (box.Width() < unit) {
    box.x1 = ToCoord(int64_t(box.x1) - unit);
    box.x2 = ToCoord(int64_t(box.x2) + unit);
  }
  if (box.Height() < unit) {
    box.y1 = ToCoord(int64_t(box.y1) - unit);
    box.y2 = ToCoord(int64_t(box.y2) + unit);
  }
  BoxToRing(out, box, false);
}

namespace {

enum class Turn { kLeft, kRight };

// The list walk shared by the three checks. sign: the band side (+1 right,
// -1 left); corners: the turn that triggers the vertex test; encRule: the
// vertex test only when the edge's band test added no ring.
void CheckEdges(const PSList& list, const DBSearchSystem& tree, PSList& out,
                int32_t d, int32_t unit, int kind, int sign, Turn corners,
                int mode, bool encRule) {
  const int32_t sd = sign > 0 ? d : -d;
  const int64_t dd = int64_t(d) * d;
  for (PSPoint* p = list.head; p; p = p->link) {
    PSPoint* q = p->next;
    if (!q) continue;
    Box edge(p->x, p->y, q->x, q->y);
    int32_t ringsBefore = out.ringCount;
    if (kind != 1) CheckEdgeBand(edge, sd, tree, out, kind, mode);
    if (kind > 1) continue;
    PSPoint* r = q->next;
    if (!r) continue;
    __int128 c = Cross(p, q, r);
    bool triggers = corners == Turn::kLeft ? c > 0 : c < 0;
    if (!triggers) continue;
    if (encRule && out.ringCount != ringsBefore) continue;
    int32_t ex, ey;
    OffsetPoint(edge, d, true, ex, ey);
    CheckCornerBand(Box(q->x, q->y, ex, ey), sd, dd, tree, out, unit, mode);
  }
}

}  // namespace

void CheckSpaceEdges(const PSList& list, const DBSearchSystem& tree,
                     PSList& out, int32_t d, int32_t unit, int kind) {
  CheckEdges(list, tree, out, d, unit, kind, +1, Turn::kLeft, 1, false);
}

void CheckWidthEdges(const PSList& list, const DBSearchSystem& tree,
                     PSList& out, int32_t d, int32_t unit, int kind) {
  CheckEdges(list, tree, out, d, unit, kind, -1, Turn::kRight, 0, false);
}

void CheckEncEdges(const PSList& list, const DBSearchSystem& tree,
                   PSList& out, int32_t d, int32_t unit, int kind) {
  CheckEdges(list, tree, out, d, unit, kind, +1, Turn::kLeft, 2, true);
}

int32_t NearestPartnerDistance(const DBSearchSystem& tree, const Box& edge,
                               int32_t d) {
  std::vector<BandPiece>& pieces = PieceScratch();
  if (CollectBandPieces(tree, edge, d, pieces) == 0)
    return kNoPartnerDistance;
  bool found = false;
  int64_t best = 0;
  for (const BandPiece& bp : pieces) {
    if (!(bp.m2 < bp.m1)) continue;
    int64_t a = SquaredDistance(End(bp.piece), bp.footEnd);
    int64_t b = SquaredDistance(Start(bp.piece), bp.foot);
    int64_t m = a < b ? a : b;
    if (!found || m < best) best = m;
    found = true;
  }
  if (!found) return kNoPartnerDistance;
  return int32_t(IntegerSqrt(best));
}

}  // namespace velmar
