#include "geometry/edge_index.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/error.h"

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

// A wide hierarchy is shallow: a band query over a few hundred thousand
// edges passes three node levels, each node's children tested together,
// where a binary one passes a chain of fifteen dependent tests.
constexpr uint32_t kLeafItems = 16;  // edges a leaf
constexpr uint32_t kFanout = 32;     // children a node
// Levels above the leaves: 2^32 edges make 2^28 leaves, under six levels.
constexpr uint32_t kMaxNodeLevels = 6;

// Cells a side of the grid the edge centres are ordered in: a 4096 x 4096
// grid gives curve positions of 24 bits, sorted in three radix passes. The
// order only shapes the hierarchy (queries give their edges in the copy's
// order whatever it is), and leaves of sixteen edges are far coarser than
// one cell on any layout dense enough for the passes to matter.
constexpr uint32_t kGridBits = 12;
constexpr uint32_t kGridMax = (1u << kGridBits) - 1;

// The Hilbert curve through the grid, four levels at a time. Each level
// reads one bit of x and y through the transform of the levels above
// (a transposition, a mirror of both, or both: the two commute), appends
// the quadrant's digit and composes the transform of that quadrant (ry = 0
// transposes; rx = 1 with it mirrors as well). An entry of the table, for
// a transform and four bits each of x and y, holds the four digits and
// the transform after them.
struct HilbertSteps {
  uint16_t entry[4 * 256];  // digits << 2 | mirror | transpose << 1

  HilbertSteps() {
    for (uint32_t t = 0; t < 4; ++t) {
      for (uint32_t in = 0; in < 256; ++in) {
        uint32_t mirror = t & 1, transpose = t >> 1, digits = 0;
        for (int b = 3; b >= 0; --b) {
          uint32_t rx = (in >> (4 + b)) & 1, ry = (in >> b) & 1;
          if (transpose) std::swap(rx, ry);
          rx ^= mirror;
          ry ^= mirror;
          digits = (digits << 2) | ((3 * rx) ^ ry);
          mirror ^= rx & (ry ^ 1);
          transpose ^= ry ^ 1;
        }
        entry[t * 256 + in] = uint16_t(digits << 2 | mirror | transpose << 1);
      }
    }
  }
};

// Position of the cell (x, y) of the grid along the Hilbert curve through
// it: consecutive runs along the curve are compact patches of the plane.
uint32_t HilbertIndex(uint32_t x, uint32_t y) {
  static const HilbertSteps steps;
  static_assert(kGridBits % 4 == 0);
  uint32_t t = 0, d = 0;
  for (int b = int(kGridBits) - 4; b >= 0; b -= 4) {
    const uint32_t e = steps.entry[t * 256 + (((x >> b) & 15) << 4 | ((y >> b) & 15))];
    d = (d << 8) | (e >> 2);
    t = e & 3;
  }
  return d;
}

// Four boxes held coordinate by coordinate: the children of one node, or
// half the edges of a leaf. A missing one is the empty box, which
// overlaps nothing.
struct alignas(16) BoxQuad {
  int32_t x1[4], y1[4], x2[4], y2[4];

  void Clear() {
    for (int j = 0; j < 4; ++j) {
      x1[j] = y1[j] = INT_MAX;
      x2[j] = y2[j] = INT_MIN;
    }
  }
  void Set(int j, const Box& b) {
    x1[j] = b.x1, y1[j] = b.y1, x2[j] = b.x2, y2[j] = b.y2;
  }
  // The bounding box of the four (boxes are never empty but for padding).
  Box Bounds() const {
    Box b;
    for (int j = 0; j < 4; ++j) {
      b.x1 = std::min(b.x1, x1[j]);
      b.y1 = std::min(b.y1, y1[j]);
      b.x2 = std::max(b.x2, x2[j]);
      b.y2 = std::max(b.y2, y2[j]);
    }
    return b;
  }
};

// A query box broadcast to every lane.
struct QueryLanes {
#if defined(__SSE2__)
  __m128i x1, y1, x2, y2;
  explicit QueryLanes(const Box& q)
      : x1(_mm_set1_epi32(q.x1)), y1(_mm_set1_epi32(q.y1)),
        x2(_mm_set1_epi32(q.x2)), y2(_mm_set1_epi32(q.y2)) {}
#else
  Box q;
  explicit QueryLanes(const Box& box) : q(box) {}
#endif
};

// Bit j set: box j of the quad overlaps the query (open overlap).
inline uint32_t OverlapMask(const BoxQuad& b, const QueryLanes& q) {
#if defined(__SSE2__)
  const __m128i bx1 = _mm_load_si128(reinterpret_cast<const __m128i*>(b.x1));
  const __m128i by1 = _mm_load_si128(reinterpret_cast<const __m128i*>(b.y1));
  const __m128i bx2 = _mm_load_si128(reinterpret_cast<const __m128i*>(b.x2));
  const __m128i by2 = _mm_load_si128(reinterpret_cast<const __m128i*>(b.y2));
  const __m128i m = _mm_and_si128(
      _mm_and_si128(_mm_cmplt_epi32(bx1, q.x2), _mm_cmplt_epi32(q.x1, bx2)),
      _mm_and_si128(_mm_cmplt_epi32(by1, q.y2), _mm_cmplt_epi32(q.y1, by2)));
  return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(m)));
#else
  uint32_t mask = 0;
  for (int j = 0; j < 4; ++j) {
    if (b.x1[j] < q.q.x2 && q.q.x1 < b.x2[j] && b.y1[j] < q.q.y2 && q.q.y1 < b.y2[j])
      mask |= 1u << j;
  }
  return mask;
#endif
}

// The boxes of a leaf's edges or a node's children: n consecutive quads.
template <uint32_t n>
inline uint32_t GroupMask(const BoxQuad* g, const QueryLanes& q) {
  uint32_t mask = 0;
  for (uint32_t k = 0; k < n; ++k) mask |= OverlapMask(g[k], q) << (4 * k);
  return mask;
}

void ClearGroup(BoxQuad* g, uint32_t n) {
  for (uint32_t k = 0; k < n; ++k) g[k].Clear();
}

Box GroupBounds(const BoxQuad* g, uint32_t n) {
  Box box;
  for (uint32_t k = 0; k < n; ++k) {
    const Box b = g[k].Bounds();
    box.x1 = std::min(box.x1, b.x1);
    box.y1 = std::min(box.y1, b.y1);
    box.x2 = std::max(box.x2, b.x2);
    box.y2 = std::max(box.y2, b.y2);
  }
  return box;
}

constexpr uint32_t kLeafQuads = kLeafItems / 4;
constexpr uint32_t kNodeQuads = kFanout / 4;
static_assert(kLeafItems % 4 == 0 && kLeafItems <= 16 && kFanout % 4 == 0 && kFanout <= 32);

struct Hit {
  Box edge;       // start to end
  uint32_t rank;  // position in the copy's order
};

// The direction bits of an edge: bit 0 its x, bit 1 its y runs downward.
uint32_t DirectionBits(const Box& e) {
  return (e.x2 < e.x1 ? 1u : 0u) | (e.y2 < e.y1 ? 2u : 0u);
}

}  // namespace

// A branch of the search tree as TreeOrder rebuilds it: its region, the
// axis it halves, and its three slots (kNoLink, an item, or a branch with
// kBranchLink set).
struct OrderBranch {
  Box box;
  int32_t level;
  uint32_t chain, low, high;
};

// The hierarchy is packed bottom-up: leaf k holds the edges 16k .. 16k + 15
// of the curve order; node i of level 1 has the leaves 32i .. 32i + 31 as
// children, node i of level l > 1 the nodes 32i .. 32i + 31 of level l - 1;
// the top level has one node, the root. A leaf is four quads of its edges'
// bounding boxes, a node eight quads of its children's boxes.
struct EdgeBandIndex::Storage {
  std::vector<Box> edges;           // the edges in the copy's order while laid out
  std::vector<uint32_t> ranks;      // each item's position in the copy's order
  std::vector<BoxQuad> leaves;      // the edges' bounding boxes, leaf by leaf
  std::vector<uint32_t> directions; // a leaf's DirectionBits, two bits an edge
  std::vector<BoxQuad> nodes;       // level 1 first, the root last
  std::vector<uint32_t> levelStart; // first node of each level (index 1 up)
  std::vector<Box> levelBoxes, upperBoxes;  // boxes of a level while built
  std::vector<uint64_t> keys, swapKeys;
  std::vector<Hit> hits;
  // The search tree's order over a region (TreeOrder).
  std::vector<Box> listEdges;           // the edges in link order
  std::vector<uint32_t> chainNext;      // an item's successor in its chain
  std::vector<uint32_t> chainHead;      // a chain's count and side flags
  std::vector<OrderBranch> branches;
  std::vector<uint32_t> walk;           // traversal stack and chain buffer
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
  s->edges.clear();
  s->directions.clear();
  s->ranks.clear();
  s->leaves.clear();
  s->nodes.clear();
  s->levelStart.clear();
  s->levelBoxes.clear();
  s->upperBoxes.clear();
  s->keys.clear();
  s->swapKeys.clear();
  s->hits.clear();
  s->listEdges.clear();
  s->chainNext.clear();
  s->chainHead.clear();
  s->branches.clear();
  s->walk.clear();
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

namespace {

constexpr uint32_t kNoLink = 0xffffffffu;
constexpr uint32_t kBranchLink = 0x80000000u;
// A chain's first item keeps the chain's item count and its side flags.
constexpr uint32_t kCountMask = 0x3fffffffu;
constexpr uint32_t kLowFlag = 1u << 30;
constexpr uint32_t kHighFlag = 2u << 30;
// The tree's splitting rule: a chain splits when both halves of its slot
// are populated or it reaches this many items, unless its holder is at most
// kOrderMinExtent units wide across its axis.
constexpr uint32_t kOrderSplitCount = 9;
constexpr int64_t kOrderMinExtent = 20;

inline int32_t OrderMid(int32_t lo, int32_t hi) {
  return int32_t((int64_t(lo) + hi) >> 1);
}
inline int32_t LoOf(const Box& b, int dim) { return dim == 0 ? b.x1 : b.y1; }
inline int32_t HiOf(const Box& b, int dim) { return dim == 0 ? b.x2 : b.y2; }
inline uint32_t OrderSideFlags(int32_t a, int32_t b, int32_t mid) {
  if (b <= mid) return kLowFlag;
  if (a >= mid) return kHighFlag;
  return 0;
}

// The order in which a DBSearchSystem over region, filled by IndexEdges
// with these edges (in link order, their bounding boxes as item boxes),
// walks its items: the same insertions, chain joins, splits and
// redistributions on flat arrays, then the same post-order walk (a
// branch's straddle slot, low slot, high slot; a chain from its last item
// back to its first). Appends the edges in that order to ordered.
class TreeOrder {
 public:
  TreeOrder(EdgeBandIndex::Storage& s, const Box& region)
      : boxes_(s.listEdges), next_(s.chainNext), head_(s.chainHead),
        branches_(s.branches), walk_(s.walk), region_(region) {}

  void Build() {
    const size_t n = boxes_.size();
    next_.assign(n, kNoLink);
    head_.assign(n, 0);
    branches_.clear();
    root_ = kNoLink;
    for (uint32_t q = 0; q < n; ++q) {
      Box& b = boxes_[q];
      b = Box(std::min(b.x1, b.x2), std::min(b.y1, b.y2), std::max(b.x1, b.x2),
              std::max(b.y1, b.y2));
      head_[q] = 1;
      if (root_ == kNoLink) {
        root_ = q;
      } else {
        Insert(root_, q, region_);
      }
    }
  }

  // Appends the items' indices in the walk order to order.
  void Walk(std::vector<uint32_t>& order) {
    if (root_ == kNoLink) return;
    walk_.clear();
    walk_.push_back(root_);
    while (!walk_.empty()) {
      const uint32_t link = walk_.back();
      walk_.pop_back();
      if (link & kBranchLink) {
        const OrderBranch& br = branches_[link & ~kBranchLink];
        // Pushed in reverse: the straddle slot comes off first.
        if (br.high != kNoLink) walk_.push_back(br.high);
        if (br.low != kNoLink) walk_.push_back(br.low);
        if (br.chain != kNoLink) walk_.push_back(br.chain);
        continue;
      }
      const size_t first = order.size();
      for (uint32_t c = link; c != kNoLink; c = next_[c]) order.push_back(c);
      std::reverse(order.begin() + first, order.end());
    }
  }

 private:
  enum class Slot { kChain, kLow, kHigh };

  uint32_t& LinkOf(uint32_t branch, Slot slot) {
    OrderBranch& b = branches_[branch];
    return slot == Slot::kLow ? b.low : slot == Slot::kHigh ? b.high : b.chain;
  }

  // Item q from the slot holding start down to its chain, as the tree's
  // insertion: joins a chain (and may split it) or takes an empty slot.
  void Insert(uint32_t start, uint32_t q, const Box& region) {
    const Box& qb = boxes_[q];
    uint32_t last = kNoLink;  // the branch holding the chain reached
    Slot slot = Slot::kChain;
    int straddles = 0;
    uint32_t n = start;
    while (n & kBranchLink) {
      last = n & ~kBranchLink;
      const OrderBranch& br = branches_[last];
      const int dim = br.level;
      const int32_t lo = LoOf(br.box, dim), hi = HiOf(br.box, dim);
      const int32_t mid = OrderMid(lo, hi);
      const int32_t a = LoOf(qb, dim), b = HiOf(qb, dim);
      uint32_t flags = 0;
      if (b <= mid) {
        slot = Slot::kLow;
        flags = OrderSideFlags(a, b, OrderMid(mid, lo));
      } else if (a >= mid) {
        slot = Slot::kHigh;
        flags = OrderSideFlags(a, b, OrderMid(mid, hi));
      } else {
        slot = Slot::kChain;
        if (br.chain != kNoLink) ++straddles;
        if (dim == 0) flags = OrderSideFlags(qb.y1, qb.y2, OrderMid(br.box.y1, br.box.y2));
      }
      uint32_t& link = LinkOf(last, slot);
      if (link == kNoLink) {
        link = q;
        head_[q] = 1 | flags;
        return;
      }
      n = link;
    }
    // n is the first item of a chain: q joins right after it.
    const uint32_t h = n;
    next_[q] = next_[h];
    next_[h] = q;
    ++head_[h];
    if (last != kNoLink) {
      const OrderBranch& br = branches_[last];
      const int dim = br.level;
      const int32_t mid = OrderMid(LoOf(br.box, dim), HiOf(br.box, dim));
      if (HiOf(qb, dim) <= mid) head_[h] |= kLowFlag;
      if (LoOf(qb, dim) >= mid) head_[h] |= kHighFlag;
    } else {
      const int32_t xmid = OrderMid(region.x1, region.x2);
      if (qb.x2 <= xmid) head_[h] |= kLowFlag;
      if (qb.x1 >= xmid) head_[h] |= kHighFlag;
    }
    if (straddles >= 2 || !region.IsValid()) return;
    if (last != kNoLink) {
      const OrderBranch& br = branches_[last];
      if (int64_t(HiOf(br.box, br.level)) - LoOf(br.box, br.level) <= kOrderMinExtent)
        return;
    }
    if ((head_[h] & (kLowFlag | kHighFlag)) != (kLowFlag | kHighFlag) &&
        (head_[h] & kCountMask) < kOrderSplitCount)
      return;

    // Split: a new branch takes the chain's place.
    OrderBranch s;
    s.level = straddles;
    s.chain = s.low = s.high = kNoLink;
    if (last == kNoLink) {
      s.box = region;
    } else {
      const OrderBranch& br = branches_[last];
      s.box = br.box;
      const int dim = br.level;
      const int32_t mid = OrderMid(LoOf(br.box, dim), HiOf(br.box, dim));
      if (slot == Slot::kLow) (dim == 0 ? s.box.x2 : s.box.y2) = mid;
      else if (slot == Slot::kHigh) (dim == 0 ? s.box.x1 : s.box.y1) = mid;
    }
    const uint32_t sIndex = uint32_t(branches_.size());
    branches_.push_back(s);
    if (last == kNoLink) root_ = sIndex | kBranchLink;
    else LinkOf(last, slot) = sIndex | kBranchLink;
    // The chain again below the new branch (h, q, then the rest), with a
    // region that splits nothing.
    const Box zero(0, 0, 0, 0);
    for (uint32_t c = h; c != kNoLink;) {
      const uint32_t following = next_[c];
      next_[c] = kNoLink;
      head_[c] = 1;
      Insert(sIndex | kBranchLink, c, zero);
      c = following;
    }
  }

  std::vector<Box>& boxes_;
  std::vector<uint32_t>& next_;
  std::vector<uint32_t>& head_;
  std::vector<OrderBranch>& branches_;
  std::vector<uint32_t>& walk_;
  Box region_;
  uint32_t root_ = kNoLink;
};

}  // namespace

EdgeBandIndex::EdgeBandIndex(const PSList& list, const Box& region)
    : store_(TakeStorage()) {
  Storage& s = *store_;
  std::vector<Box>& linkEdges = s.listEdges;
  linkEdges.reserve(size_t(list.pointCount > 0 ? list.pointCount : 0));
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (p->next) linkEdges.push_back(Box(p->x, p->y, p->next->x, p->next->y));
  }
  std::vector<Box>& edges = s.edges;
  edges = linkEdges;  // the ends; TreeOrder turns linkEdges into boxes
  TreeOrder order(s, region);
  order.Build();
  std::vector<uint32_t>& ranks = s.ranks;  // scratch until Layout
  ranks.clear();
  ranks.reserve(edges.size());
  order.Walk(ranks);
  for (size_t i = 0; i < ranks.size(); ++i) linkEdges[i] = edges[ranks[i]];
  edges.swap(linkEdges);
  Layout();
}

void EdgeBandIndex::Layout() {
  Storage& s = *store_;
  const std::vector<Box>& edges = s.edges;
  const size_t count = edges.size();
  count_ = count;
  if (count == 0) return;
  // The edges along the Hilbert curve through their centres (a radix sort
  // of the curve positions, 8 bits a pass; ties keep the given order).
  Box all;
  for (const Box& e : edges) {
    all.x1 = std::min(all.x1, std::min(e.x1, e.x2));
    all.y1 = std::min(all.y1, std::min(e.y1, e.y2));
    all.x2 = std::max(all.x2, std::max(e.x1, e.x2));
    all.y2 = std::max(all.y2, std::max(e.y1, e.y2));
  }
  // Doubled centres scaled onto the grid; rounding only moves an edge to
  // a neighbouring cell, which the order does not mind.
  const int64_t x0 = 2 * int64_t(all.x1), y0 = 2 * int64_t(all.y1);
  const double sx = all.Width() > 0 ? double(kGridMax) / double(2 * all.Width()) : 0.0;
  const double sy = all.Height() > 0 ? double(kGridMax) / double(2 * all.Height()) : 0.0;
  auto cell = [](int64_t c, int64_t lo, double scale) {
    return std::min(kGridMax, uint32_t(double(c - lo) * scale));
  };
  std::vector<uint64_t>& keys = s.keys;
  std::vector<uint64_t>& swapKeys = s.swapKeys;
  keys.resize(count);
  swapKeys.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const Box& e = edges[i];
    const uint32_t cx = cell(int64_t(e.x1) + e.x2, x0, sx);
    const uint32_t cy = cell(int64_t(e.y1) + e.y2, y0, sy);
    keys[i] = (uint64_t(HilbertIndex(cx, cy)) << 32) | i;
  }
  for (int shift = 32; shift < 32 + 2 * int(kGridBits); shift += 8) {
    size_t bucket[257] = {};
    for (uint64_t k : keys) ++bucket[((k >> shift) & 0xff) + 1];
    for (int b = 0; b < 256; ++b) bucket[b + 1] += bucket[b];
    for (uint64_t k : keys) swapKeys[bucket[(k >> shift) & 0xff]++] = k;
    keys.swap(swapKeys);
  }

  // The items in leaf order and the leaves' quads of normalised boxes.
  const size_t leafCount = (count + kLeafItems - 1) / kLeafItems;
  s.directions.assign(leafCount, 0);
  s.ranks.resize(count);
  s.leaves.resize(kLeafQuads * leafCount);
  s.levelBoxes.resize(leafCount);
  for (size_t leaf = 0; leaf < leafCount; ++leaf) {
    BoxQuad* quads = &s.leaves[kLeafQuads * leaf];
    ClearGroup(quads, kLeafQuads);
    const size_t lo = leaf * kLeafItems, hi = std::min(count, lo + kLeafItems);
    // The edges are read in curve order, scattered over the list's order:
    // the next leaf's are fetched ahead.
    for (size_t i = hi; i < std::min(count, hi + kLeafItems); ++i) {
      __builtin_prefetch(&edges[uint32_t(keys[i])]);
    }
    for (size_t i = lo; i < hi; ++i) {
      const uint32_t rank = uint32_t(keys[i]);
      const Box& e = edges[rank];
      s.directions[leaf] |= DirectionBits(e) << (2 * (i - lo));
      s.ranks[i] = rank;
      quads[(i - lo) / 4].Set(int((i - lo) % 4),
                              Box(std::min(e.x1, e.x2), std::min(e.y1, e.y2),
                                  std::max(e.x1, e.x2), std::max(e.y1, e.y2)));
    }
    s.levelBoxes[leaf] = GroupBounds(quads, kLeafQuads);
  }

  // The levels above, kFanout children a node, up to a single root.
  s.nodes.clear();
  s.levelStart.assign(1, 0);  // level 0, the leaves, is not in nodes
  size_t below = leafCount;
  while (below > 1) {
    assert(s.levelStart.size() <= kMaxNodeLevels);
    const size_t n = (below + kFanout - 1) / kFanout;
    s.levelStart.push_back(uint32_t(s.nodes.size() / kNodeQuads));
    s.upperBoxes.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const size_t at = s.nodes.size();
      s.nodes.resize(at + kNodeQuads);
      BoxQuad* g = &s.nodes[at];
      ClearGroup(g, kNodeQuads);
      for (size_t j = 0; j < kFanout && kFanout * i + j < below; ++j) {
        g[j / 4].Set(int(j % 4), s.levelBoxes[kFanout * i + j]);
      }
      s.upperBoxes[i] = GroupBounds(g, kNodeQuads);
    }
    s.levelBoxes.swap(s.upperBoxes);
    below = n;
  }
}

void EdgeBandIndex::Find(const Box& q, const Box* exclude) const {
  const Storage& s = *store_;
  std::vector<Hit>& hits = store_->hits;
  hits.clear();
  if (count_ == 0) return;
  const QueryLanes lanes(q);
  const uint32_t* ranks = s.ranks.data();
  auto leaf = [&](uint32_t k) {
    uint32_t mask = GroupMask<kLeafQuads>(&s.leaves[kLeafQuads * size_t(k)], lanes);
    while (mask != 0) {
      const uint32_t j = uint32_t(__builtin_ctz(mask));
      mask &= mask - 1;
      const BoxQuad& g = s.leaves[kLeafQuads * size_t(k) + j / 4];
      const uint32_t lane = j % 4, dir = s.directions[k] >> (2 * j);
      Box e(g.x1[lane], g.y1[lane], g.x2[lane], g.y2[lane]);
      if (dir & 1) std::swap(e.x1, e.x2);
      if (dir & 2) std::swap(e.y1, e.y2);
      if (exclude != nullptr && e == *exclude) continue;
      hits.push_back(Hit{e, ranks[kLeafItems * k + j]});
    }
  };
  const uint32_t levels = uint32_t(s.levelStart.size());  // with the leaves
  if (levels == 1) {
    leaf(0);
  } else {
    // Depth-first over the nodes whose boxes overlap q; a node's children
    // wait on the stack, at most kFanout - 1 a level besides the one the
    // walk goes on with.
    struct Frame {
      uint32_t level, index;
    };
    Frame stack[(kFanout - 1) * kMaxNodeLevels + 1];
    int top = 0;
    stack[top++] = Frame{levels - 1, 0};
    const BoxQuad* nodes = s.nodes.data();
    const uint32_t* levelStart = s.levelStart.data();
    while (top > 0) {
      const Frame f = stack[--top];
      uint32_t mask = GroupMask<kNodeQuads>(
          &nodes[kNodeQuads * (size_t(levelStart[f.level]) + f.index)], lanes);
      const uint32_t first = kFanout * f.index;
      if (f.level == 1) {
        while (mask != 0) {
          leaf(first + uint32_t(__builtin_ctz(mask)));
          mask &= mask - 1;
        }
        continue;
      }
      // Highest child first onto the stack, so the lowest comes off first.
      while (mask != 0) {
        const uint32_t j = 31u - uint32_t(__builtin_clz(mask));
        mask &= ~(1u << j);
        stack[top++] = Frame{f.level - 1, first + j};
      }
    }
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
  Find(query, &exclude);
  int32_t count = 0;
  for (const Hit& h : store_->hits) {
    Box edge = h.edge;
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
  Find(both, &exclude);
  for (const Hit& h : store_->hits) {
    const Box& edge = h.edge;
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

void EdgeBandIndex::CollectEdges(const Box& query1, const Box& exclude1,
                                 const Box& query2, const Box& exclude2,
                                 std::vector<Box>& out1,
                                 std::vector<Box>& out2) const {
  Box both = query1;
  both.Extend(query2.x1, query2.y1);
  both.Extend(query2.x2, query2.y2);
  Find(both, nullptr);
  for (const Hit& h : store_->hits) {
    const Box& edge = h.edge;
    const Box box = Normalized(edge);
    if (box.Overlaps(query1) && edge != exclude1) {
      Box piece = edge;
      if (query1.Contains(box) || MeetsBox(piece, query1)) out1.push_back(piece);
    }
    if (box.Overlaps(query2) && edge != exclude2) {
      Box piece = edge;
      if (query2.Contains(box) || MeetsBox(piece, query2)) out2.push_back(piece);
    }
  }
}

namespace {

// The band quad of edge for d with s = Shifted(edge, d).
Quad BandQuad(const Box& edge, int32_t d, const Box& s) {
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

}  // namespace

Quad EdgeBandQuad(const Box& edge, int32_t d) {
  return BandQuad(edge, d, Shifted(edge, d));
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
// The search box of the band of edge with s = Shifted(edge, d).
Box BandSearchBox(const Box& edge, const Box& s) {
  return BoundingBox(Start(edge), End(edge), Start(s), End(s));
}

// The collected edges of the band of edge for d (s = Shifted(edge, d)) as
// pieces.
void ToPieces(const Box& edge, int32_t d, const Box& s,
              const std::vector<Box>& edges, std::vector<BandPiece>& pieces) {
  bool clip = !AxisParallel(edge);
  Quad quad;
  if (clip) quad = BandQuad(edge, d, s);
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
  const Box shifted = Shifted(edge, d);
  if (Collect(index, BandSearchBox(edge, shifted), edge, edges) == 0) return 0;
  ToPieces(edge, d, shifted, edges, pieces);
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
  const Box shifted1 = Shifted(edge, d1), shifted2 = Shifted(edge, d2);
  index.CollectEdges(BandSearchBox(edge, shifted1),
                     BandSearchBox(edge, shifted2), edge, edges1, edges2);
  ToPieces(edge, d1, shifted1, edges1, pieces1);
  ToPieces(edge, d2, shifted2, edges2, pieces2);
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

// The rings of the edge-band test from the band's pieces.
void BandRings(const Box& edge, const std::vector<BandPiece>& pieces,
               PSList& out, int kind, int mode) {
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
void EdgeBand(const Box& edge, int32_t d, const Index& index, PSList& out,
              int kind, int mode) {
  std::vector<BandPiece>& pieces = PieceScratch();
  if (CollectPieces(index, edge, d, pieces) == 0) return;
  BandRings(edge, pieces, out, kind, mode);
}

// The search box of the vertex test on the extension ext: its band for d
// (s1 = Shifted(ext, d)) and one unit to the other side (s2), so that a
// partner along the extension's own line is found as well.
struct CornerShifts {
  Box s1, s2;
  CornerShifts(const Box& ext, int32_t d)
      : s1(Shifted(ext, d)), s2(Shifted(ext, d <= 0 ? 1 : -1)) {}
  Box Search() const { return BoundingBox(Start(s2), End(s2), Start(s1), End(s1)); }
};

// The vertex test over the edges collected for its search box.
void CornerFrom(const Box& ext, int32_t d, const Box& s1, int64_t dd,
                const std::vector<Box>& edges, PSList& out, int32_t unit,
                int mode) {
  bool clip = !AxisParallel(ext);
  Quad quad;
  if (clip) quad = BandQuad(ext, d, s1);
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
void CornerBand(const Box& ext, int32_t d, int64_t dd, const Index& index,
                PSList& out, int32_t unit, int mode) {
  if (d == 0 || NoEdges(index)) return;
  const CornerShifts shifts(ext, d);
  std::vector<Box>& edges = EdgeScratch();
  edges.clear();
  if (Collect(index, shifts.Search(), ext, edges) == 0) return;
  CornerFrom(ext, d, shifts.s1, dd, edges, out, unit, mode);
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
void CheckEdges(const PSList& list, const EdgeBandIndex& index, PSList& out,
                int32_t d, int32_t unit, int kind, int sign, Turn corners,
                int mode, bool encRule) {
  if (list.head == nullptr || index.IsEmpty() || d == 0) return;
  const int32_t sd = sign > 0 ? d : -d;
  const int64_t dd = int64_t(d) * d;
  std::vector<Box>& bandEdges = EdgeScratch();
  std::vector<Box>& cornerEdges = SecondEdgeScratch();
  std::vector<BandPiece>& pieces = PieceScratch();
  for (PSPoint* p = list.head; p; p = p->link) {
    PSPoint* q = p->next;
    if (!q) continue;
    Box edge(p->x, p->y, q->x, q->y);
    PSPoint* r = kind > 1 ? nullptr : q->next;
    bool corner = false;
    if (r) {
      __int128 c = Cross(p, q, r);
      corner = corners == Turn::kLeft ? c > 0 : c < 0;
    }
    if (kind != 1 && corner && !encRule) {
      // Both tests of the edge: the band and the vertex test beyond its
      // end, through one walk of the index. Should the extension leave the
      // coordinate range, the tests run one after the other and fail where
      // they always did.
      Box ext;
      std::optional<CornerShifts> cs;
      try {
        int32_t ex, ey;
        OffsetPoint(edge, d, true, ex, ey);
        ext = Box(q->x, q->y, ex, ey);
        cs.emplace(ext, sd);
      } catch (const Error&) {
        cs.reset();
      }
      if (cs) {
        const Box shifted = Shifted(edge, sd);
        bandEdges.clear();
        cornerEdges.clear();
        index.CollectEdges(BandSearchBox(edge, shifted), edge, cs->Search(), ext,
                           bandEdges, cornerEdges);
        pieces.clear();
        ToPieces(edge, sd, shifted, bandEdges, pieces);
        BandRings(edge, pieces, out, kind, mode);
        if (!cornerEdges.empty())
          CornerFrom(ext, sd, cs->s1, dd, cornerEdges, out, unit, mode);
        continue;
      }
    }
    int32_t ringsBefore = out.ringCount;
    if (kind != 1) {
      EdgeBand(edge, sd, index, out, kind, mode);
      if (encRule) CoincidentEdges(edge, index, out, unit);
    }
    if (!corner) continue;
    if (encRule && out.ringCount != ringsBefore) continue;
    int32_t ex, ey;
    OffsetPoint(edge, d, true, ex, ey);
    CornerBand(Box(q->x, q->y, ex, ey), sd, dd, index, out, unit, mode);
  }
}

// The band copy of the partner edges, taken only when a check has work.
void CheckEdges(const PSList& list, const DBSearchSystem& tree, PSList& out,
                int32_t d, int32_t unit, int kind, int sign, Turn corners,
                int mode, bool encRule) {
  if (list.head == nullptr || tree.IsEmpty() || d == 0) return;
  CheckEdges(list, EdgeBandIndex(tree), out, d, unit, kind, sign, corners,
             mode, encRule);
}

void CheckEdges(const PSList& list, const PSList& partners, const Box& region,
                PSList& out, int32_t d, int32_t unit, int kind, int sign,
                Turn corners, int mode, bool encRule) {
  if (list.head == nullptr || partners.head == nullptr || d == 0) return;
  CheckEdges(list, EdgeBandIndex(partners, region), out, d, unit, kind, sign,
             corners, mode, encRule);
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

void CheckSpaceEdges(const PSList& list, const PSList& partners,
                     const Box& region, PSList& out, int32_t d, int32_t unit,
                     int kind) {
  CheckEdges(list, partners, region, out, d, unit, kind, +1, Turn::kLeft, 1,
             false);
}

void CheckWidthEdges(const PSList& list, const PSList& partners,
                     const Box& region, PSList& out, int32_t d, int32_t unit,
                     int kind) {
  CheckEdges(list, partners, region, out, d, unit, kind, -1, Turn::kRight, 0,
             false);
}

void CheckEncEdges(const PSList& list, const PSList& partners,
                   const Box& region, PSList& out, int32_t d, int32_t unit,
                   int kind) {
  CheckEdges(list, partners, region, out, d, unit, kind, +1, Turn::kLeft, 2,
             true);
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
