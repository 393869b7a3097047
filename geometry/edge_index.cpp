#include "geometry/edge_index.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// A violation box as a ring of out, widened by unit to either side across
// every axis on which it is narrower than unit (a point or a stretch of a
// line has no area of its own).
void AddWidenedBox(PSList& out, Box box, int32_t unit) {
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

namespace {

constexpr uint32_t kLeafItems = 8;

// Cells a side of the grid the edge centres are ordered in: a 4096 x 4096
// grid gives curve positions of 24 bits, sorted in three radix passes. The
// order only shapes the hierarchy (queries give their edges in the copy's
// order whatever it is), and leaves of eight edges are far coarser than
// one cell on any layout dense enough for the passes to matter.
constexpr uint32_t kGridBits = 12;
constexpr uint32_t kGridMax = (1u << kGridBits) - 1;

// Position of the cell (x, y) of the grid along the Hilbert curve through
// it: consecutive runs along the curve are compact patches of the plane.
uint32_t HilbertIndex(uint32_t x, uint32_t y) {
  uint32_t d = 0;
  for (uint32_t s = 1u << (kGridBits - 1); s > 0; s >>= 1) {
    const uint32_t rx = (x & s) ? 1 : 0;
    const uint32_t ry = (y & s) ? 1 : 0;
    d += s * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = kGridMax - x;
        y = kGridMax - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// The cell of a doubled centre coordinate c in the grid over lo .. hi
// (doubled as well). c - lo and the extent stay below 2^34, so the product
// fits 64 bits.
uint32_t GridCell(int64_t c, int64_t lo, int64_t extent) {
  if (extent <= 0) return 0;
  return uint32_t((uint64_t(c - lo) * kGridMax) / uint64_t(extent));
}

}  // namespace

struct EdgeBandIndex::Storage {
  std::vector<Item> items;
  std::vector<Box> nodes;
  std::vector<Box> edges;  // the edges in the copy's order while laid out
  std::vector<uint64_t> keys, swapKeys;
  std::vector<Hit> hits;
};

namespace {

// Storages given back, capacity kept. Few copies live at once (a check
// holds one, edge extraction from three layers two).
std::vector<std::unique_ptr<EdgeBandIndex::Storage>>& SpareStorages() {
  static std::vector<std::unique_ptr<EdgeBandIndex::Storage>> spare;
  return spare;
}

EdgeBandIndex::Storage* TakeStorage() {
  auto& spare = SpareStorages();
  if (spare.empty()) return new EdgeBandIndex::Storage;
  EdgeBandIndex::Storage* s = spare.back().release();
  spare.pop_back();
  return s;
}

}  // namespace

void EdgeBandIndex::StorageReturn::operator()(Storage* s) const {
  s->items.clear();
  s->nodes.clear();
  s->edges.clear();
  s->keys.clear();
  s->swapKeys.clear();
  s->hits.clear();
  auto& spare = SpareStorages();
  if (spare.size() < 4) spare.emplace_back(s);
  else delete s;
}

EdgeBandIndex::EdgeBandIndex(const DBSearchSystem& tree) : store_(TakeStorage()) {
  std::vector<Box>& edges = store_->edges;
  if (tree.itemCount > 0) edges.reserve(size_t(tree.itemCount));
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    const PSPoint* p = n->Item<PSPoint>();
    edges.push_back(Box(p->x, p->y, p->next->x, p->next->y));
  }
  Layout();
}

EdgeBandIndex::EdgeBandIndex(const PSList& list) : store_(TakeStorage()) {
  std::vector<Box>& edges = store_->edges;
  edges.reserve(size_t(list.pointCount > 0 ? list.pointCount : 0));
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (p->next) edges.push_back(Box(p->x, p->y, p->next->x, p->next->y));
  }
  Layout();
}

void EdgeBandIndex::Layout() {
  const std::vector<Box>& edges = store_->edges;
  const size_t count = edges.size();
  count_ = count;
  if (count == 0) return;
  // The edges along the Hilbert curve through their centres (a radix sort
  // of the curve positions, 8 bits a pass; ties keep the given order).
  Box all;
  for (const Box& e : edges) {
    all.Extend(e.x1, e.y1);
    all.Extend(e.x2, e.y2);
  }
  const int64_t x0 = 2 * int64_t(all.x1), y0 = 2 * int64_t(all.y1);
  const int64_t w = 2 * all.Width(), h = 2 * all.Height();
  std::vector<uint64_t>& keys = store_->keys;
  std::vector<uint64_t>& swapKeys = store_->swapKeys;
  keys.resize(count);
  swapKeys.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const Box& e = edges[i];
    const uint32_t cx = GridCell(int64_t(e.x1) + e.x2, x0, w);
    const uint32_t cy = GridCell(int64_t(e.y1) + e.y2, y0, h);
    keys[i] = (uint64_t(HilbertIndex(cx, cy)) << 32) | i;
  }
  for (int shift = 32; shift < 32 + 2 * int(kGridBits); shift += 8) {
    size_t bucket[257] = {};
    for (uint64_t k : keys) ++bucket[((k >> shift) & 0xff) + 1];
    for (int b = 0; b < 256; ++b) bucket[b + 1] += bucket[b];
    for (uint64_t k : keys) swapKeys[bucket[(k >> shift) & 0xff]++] = k;
    keys.swap(swapKeys);
  }
  std::vector<Item>& items = store_->items;
  items.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint64_t k = keys[i];
    items[i] = Item{edges[uint32_t(k)], uint32_t(k)};
  }
  items_ = items.data();

  // Ranges halve from level to level: the deepest level is the first whose
  // ranges hold at most kLeafItems items.
  size_t levels = 1;
  for (size_t n = count; n > kLeafItems; n = (n + 1) / 2) ++levels;
  store_->nodes.resize((size_t(1) << levels) - 1);
  nodes_ = store_->nodes.data();
  Build(0, 0, uint32_t(count));
}

Box EdgeBandIndex::Build(uint32_t node, uint32_t lo, uint32_t hi) {
  Box box;
  if (hi - lo <= kLeafItems) {
    for (uint32_t i = lo; i < hi; ++i) {
      const Box& e = items_[i].edge;
      box.Extend(e.x1, e.y1);
      box.Extend(e.x2, e.y2);
    }
  } else {
    const uint32_t mid = lo + (hi - lo) / 2;
    box = Build(2 * node + 1, lo, mid);
    const Box high = Build(2 * node + 2, mid, hi);
    box.Extend(high.x1, high.y1);
    box.Extend(high.x2, high.y2);
  }
  nodes_[node] = box;
  return box;
}

void EdgeBandIndex::Find(const Box& q) const {
  std::vector<Hit>& hits = store_->hits;
  hits.clear();
  if (count_ == 0 || !nodes_[0].Overlaps(q)) return;
  // Depth-first over the nodes whose boxes overlap q; the stack holds the
  // high halves still to visit (at most one a level).
  struct Frame {
    uint32_t node, lo, hi;
  };
  Frame stack[64];
  int top = 0;
  Frame f{0, 0, uint32_t(count_)};
  for (;;) {
    if (f.hi - f.lo <= kLeafItems) {
      for (uint32_t i = f.lo; i < f.hi; ++i) {
        const Box& e = items_[i].edge;
        if (std::min(e.x1, e.x2) < q.x2 && q.x1 < std::max(e.x1, e.x2) &&
            std::min(e.y1, e.y2) < q.y2 && q.y1 < std::max(e.y1, e.y2)) {
          hits.push_back(Hit{items_[i].rank, i});
        }
      }
    } else {
      const uint32_t mid = f.lo + (f.hi - f.lo) / 2;
      const uint32_t low = 2 * f.node + 1, high = low + 1;
      const bool inLow = nodes_[low].Overlaps(q), inHigh = nodes_[high].Overlaps(q);
      if (inLow) {
        if (inHigh) stack[top++] = Frame{high, mid, f.hi};
        f = Frame{low, f.lo, mid};
        continue;
      }
      if (inHigh) {
        f = Frame{high, mid, f.hi};
        continue;
      }
    }
    if (top == 0) break;
    f = stack[--top];
  }
  // Back into the copy's order; a band rarely holds more than a few edges.
  if (hits.size() > 16) {
    std::sort(hits.begin(), hits.end(),
              [](const Hit& a, const Hit& b) { return a.rank < b.rank; });
    return;
  }
  for (size_t i = 1; i < hits.size(); ++i) {
    const Hit h = hits[i];
    size_t j = i;
    for (; j > 0 && hits[j - 1].rank > h.rank; --j) hits[j] = hits[j - 1];
    hits[j] = h;
  }
}

int32_t EdgeBandIndex::CollectEdges(const Box& query, const Box& exclude,
                                    std::vector<Box>& out) const {
  Find(query);
  int32_t count = 0;
  for (const Hit& h : store_->hits) {
    Box edge = items_[h.item].edge;
    if (edge == exclude) continue;
    if (!query.Contains(Normalized(edge)) && !MeetsBox(edge, query)) continue;
    out.push_back(edge);
    ++count;
  }
  return count;
}

void EdgeBandIndex::CollectEdges(const Box& query1, const Box& query2,
                                 const Box& exclude, std::vector<Box>& out1,
                                 std::vector<Box>& out2) const {
  Box both = query1;
  both.Extend(query2.x1, query2.y1);
  both.Extend(query2.x2, query2.y2);
  Find(both);
  for (const Hit& h : store_->hits) {
    const Box& edge = items_[h.item].edge;
    if (edge == exclude) continue;
    const Box box = Normalized(edge);
    if (box.Overlaps(query1)) {
      Box piece = edge;
      if (query1.Contains(box) || MeetsBox(piece, query1)) out1.push_back(piece);
    }
    if (box.Overlaps(query2)) {
      Box piece = edge;
      if (query2.Contains(box) || MeetsBox(piece, query2)) out2.push_back(piece);
    }
  }
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

namespace {

// The two edge sources of the band walks: the tree itself and its band copy.
bool NoEdges(const DBSearchSystem& tree) { return tree.IsEmpty(); }
bool NoEdges(const EdgeBandIndex& index) { return index.IsEmpty(); }
int32_t Collect(const DBSearchSystem& tree, const Box& query,
                const Box& exclude, std::vector<Box>& out) {
  return CollectEdges(tree, query, exclude, out);
}
int32_t Collect(const EdgeBandIndex& index, const Box& query,
                const Box& exclude, std::vector<Box>& out) {
  return index.CollectEdges(query, exclude, out);
}

// The search box of the band of edge for d.
Box BandSearchBox(const Box& edge, int32_t d) {
  Box s = Shifted(edge, d);
  return BoundingBox(Start(edge), End(edge), Start(s), End(s));
}

// The collected edges of the band of edge for d as pieces.
void ToPieces(const Box& edge, int32_t d, const std::vector<Box>& edges,
              std::vector<BandPiece>& pieces) {
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
}

template <class Index>
int32_t CollectPieces(const Index& index, const Box& edge, int32_t d,
                      std::vector<BandPiece>& pieces) {
  pieces.clear();
  // With d = 0 the band has no area: nothing lies inside it.
  if (d == 0 || NoEdges(index)) return 0;
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (Collect(index, BandSearchBox(edge, d), edge, edges) == 0) return 0;
  ToPieces(edge, d, edges, pieces);
  return int32_t(pieces.size());
}

std::vector<Box>& SecondEdgeScratch() {
  static std::vector<Box> edges;
  return edges;
}

}  // namespace

int32_t CollectBandPieces(const DBSearchSystem& tree, const Box& edge,
                          int32_t d, std::vector<BandPiece>& pieces) {
  return CollectPieces(tree, edge, d, pieces);
}

int32_t CollectBandPieces(const EdgeBandIndex& index, const Box& edge,
                          int32_t d, std::vector<BandPiece>& pieces) {
  return CollectPieces(index, edge, d, pieces);
}

void CollectBandPieces(const EdgeBandIndex& index, const Box& edge,
                       int32_t d1, int32_t d2, std::vector<BandPiece>& pieces1,
                       std::vector<BandPiece>& pieces2) {
  if (d1 == 0 || d2 == 0) {
    CollectPieces(index, edge, d1, pieces1);
    CollectPieces(index, edge, d2, pieces2);
    return;
  }
  pieces1.clear();
  pieces2.clear();
  if (index.IsEmpty()) return;
  std::vector<Box>& edges1 = EdgeScratch();
  std::vector<Box>& edges2 = SecondEdgeScratch();
  edges1.clear();
  edges2.clear();
  index.CollectEdges(BandSearchBox(edge, d1), BandSearchBox(edge, d2), edge,
                     edges1, edges2);
  ToPieces(edge, d1, edges1, pieces1);
  ToPieces(edge, d2, edges2, pieces2);
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

namespace {

template <class Index>
void EdgeBand(const Box& edge, int32_t d, const Index& index, PSList& out,
              int kind, int mode) {
  std::vector<BandPiece>& pieces = PieceScratch();
  if (CollectPieces(index, edge, d, pieces) == 0) return;
  for (const BandPiece& bp : pieces) {
    if (kind == 3 && !SegmentsParallel(edge, bp.piece)) continue;
    if (!BandModeKeeps(bp, mode)) continue;
    // Mode 1 walks the band the other way round, so it winds the other sense.
    const Point ring[4] = {mode == 1 ? End(bp.piece) : Start(bp.piece),
                           mode == 1 ? Start(bp.piece) : End(bp.piece),
                           mode == 1 ? bp.foot : bp.footEnd,
                           mode == 1 ? bp.footEnd : bp.foot};
    PushRing(out, ring, 4);
  }
}

template <class Index>
void CornerBand(const Box& ext, int32_t d, int64_t dd, const Index& index,
                PSList& out, int32_t unit, int mode) {
  if (d == 0 || NoEdges(index)) return;
  Box s1 = Shifted(ext, d);
  // One unit to the other side, so that a partner along the extension's
  // own line is found as well.
  Box s2 = Shifted(ext, d <= 0 ? 1 : -1);
  Box search = BoundingBox(Start(s2), End(s2), Start(s1), End(s1));
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (Collect(index, search, ext, edges) == 0) return;
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
  AddWidenedBox(out, box, unit);
}

template <class Index>
int32_t NearestPartner(const Index& index, const Box& edge, int32_t d) {
  std::vector<BandPiece>& pieces = PieceScratch();
  if (CollectPieces(index, edge, d, pieces) == 0) return kNoPartnerDistance;
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

}  // namespace

void CheckEdgeBand(const Box& edge, int32_t d, const DBSearchSystem& tree,
                   PSList& out, int kind, int mode) {
  EdgeBand(edge, d, tree, out, kind, mode);
}

void CheckEdgeBand(const Box& edge, int32_t d, const EdgeBandIndex& index,
                   PSList& out, int kind, int mode) {
  EdgeBand(edge, d, index, out, kind, mode);
}

void CheckCornerBand(const Box& ext, int32_t d, int64_t dd,
                     const DBSearchSystem& tree, PSList& out, int32_t unit,
                     int mode) {
  CornerBand(ext, d, dd, tree, out, unit, mode);
}

void CheckCornerBand(const Box& ext, int32_t d, int64_t dd,
                     const EdgeBandIndex& index, PSList& out, int32_t unit,
                     int mode) {
  CornerBand(ext, d, dd, index, out, unit, mode);
}

namespace {

enum class Turn { kLeft, kRight };

// The enclosure of zero: every stretch where an edge of the partner layer
// lies on the tested edge's line and runs its way (an enclosed shape's side
// on the enclosing boundary) is reported as the box of that stretch,
// widened by unit on each axis where it is narrower than unit. The band of
// a positive distance does not see such a partner: it only touches the
// band.
void CoincidentEdges(const Box& edge, const EdgeBandIndex& index, PSList& out,
                     int32_t unit) {
  const int64_t ex = int64_t(edge.x2) - edge.x1, ey = int64_t(edge.y2) - edge.y1;
  if (ex == 0 && ey == 0) return;
  // The edge's box, given a width of two units across an axis-parallel
  // edge, so that a partner on its line overlaps it.
  Box query = Normalized(edge);
  if (ex == 0) query.x1 = ToCoord(int64_t(query.x1) - 1), query.x2 = ToCoord(int64_t(query.x2) + 1);
  if (ey == 0) query.y1 = ToCoord(int64_t(query.y1) - 1), query.y2 = ToCoord(int64_t(query.y2) + 1);
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (index.CollectEdges(query, edge, edges) == 0) return;
  auto onLine = [&](int32_t x, int32_t y) {
    return __int128(ex) * (int64_t(y) - edge.y1) == __int128(ey) * (int64_t(x) - edge.x1);
  };
  for (const Box& piece : edges) {
    const int64_t px = int64_t(piece.x2) - piece.x1, py = int64_t(piece.y2) - piece.y1;
    if (px == 0 && py == 0) continue;
    if (!onLine(piece.x1, piece.y1) || !onLine(piece.x2, piece.y2)) continue;
    if (__int128(px) * ex + __int128(py) * ey <= 0) continue;  // against the edge
    Box box = Normalized(piece);
    AddWidenedBox(out, box, unit);
  }
}

// The list walk shared by the three checks. sign: the band side (+1 right,
// -1 left); corners: the turn that triggers the vertex test; encRule: the
// vertex test only when the edge's band test added no ring.
void CheckEdges(const PSList& list, const DBSearchSystem& tree, PSList& out,
                int32_t d, int32_t unit, int kind, int sign, Turn corners,
                int mode, bool encRule) {
  if (list.head == nullptr || tree.IsEmpty() || d == 0) return;
  const EdgeBandIndex index(tree);
  const int32_t sd = sign > 0 ? d : -d;
  const int64_t dd = int64_t(d) * d;
  for (PSPoint* p = list.head; p; p = p->link) {
    PSPoint* q = p->next;
    if (!q) continue;
    Box edge(p->x, p->y, q->x, q->y);
    int32_t ringsBefore = out.ringCount;
    if (kind != 1) {
      EdgeBand(edge, sd, index, out, kind, mode);
      if (encRule) CoincidentEdges(edge, index, out, unit);
    }
    if (kind > 1) continue;
    PSPoint* r = q->next;
    if (!r) continue;
    __int128 c = Cross(p, q, r);
    bool triggers = corners == Turn::kLeft ? c > 0 : c < 0;
    if (!triggers) continue;
    if (encRule && out.ringCount != ringsBefore) continue;
    int32_t ex, ey;
    OffsetPoint(edge, d, true, ex, ey);
    CornerBand(Box(q->x, q->y, ex, ey), sd, dd, index, out, unit, mode);
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
  return NearestPartner(tree, edge, d);
}

int32_t NearestPartnerDistance(const EdgeBandIndex& index, const Box& edge,
                               int32_t d) {
  return NearestPartner(index, edge, d);
}

}  // namespace velmar
