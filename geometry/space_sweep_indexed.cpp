// One-layer SPACE sweep with an interval index over y.
//
// The frame (active list, window of processed points within the distance to
// the left, corner boxes, output) is that of the other distance sweeps.
// Where an edge comes down to a point or goes down from it, the window
// points inside the y range of the edge's band are tested; an upward edge
// that crosses that range with both of its ends outside it is found in the
// interval index, which holds the upward edges of the window points as the
// window stood when the column began. The bevels at the ends of vertical
// edges and the spanning check where an edge comes down to a point are
// those of the 45-degree sweep: they find the pairs that no scan of an edge
// at the current point owns (an edge leaving the point sideways into a
// diagonal's band) and the edges of the current column, which the index
// does not hold yet.
#include "geometry/space_sweep_indexed.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "geometry/segment_geometry.h"
#include "geometry/sweep_frame.h"

namespace velmar {

namespace {

using distance_sweep::ActiveNode;
using distance_sweep::SweepFrame;
using distance_sweep::WindowNode;

// Static index of y intervals: the items added in ascending order of their
// lower ends, read as an implicit balanced tree (the middle of every index
// range is its root) whose nodes know the largest upper end below them. A
// query visits only the subtrees that can hold an overlapping interval. The
// arrays are kept between rebuilds, so a rebuild allocates nothing once
// they have grown, and it needs no sorting: the window hands its points
// over in y order.
class IntervalIndex {
 public:
  struct Item {
    int64_t lo, hi;
    PSPoint* h;  // the edge h.prev -> h
  };

  void Clear() {
    items_.clear();
    maxHi_.clear();
  }
  // Items come with non-decreasing lo.
  void Add(int64_t lo, int64_t hi, PSPoint* h) { items_.push_back({lo, hi, h}); }
  bool Empty() const { return items_.empty(); }

  void Build() {
    maxHi_.assign(items_.size(), INT64_MIN);
    if (!items_.empty()) BuildRange(0, items_.size());
  }

  template <typename F>
  void Query(int64_t qlo, int64_t qhi, F&& f) const {
    if (!items_.empty()) QueryRange(0, items_.size(), qlo, qhi, f);
  }

 private:
  int64_t BuildRange(size_t l, size_t r) {
    const size_t m = l + (r - l) / 2;
    int64_t hi = items_[m].hi;
    if (l < m) hi = std::max(hi, BuildRange(l, m));
    if (m + 1 < r) hi = std::max(hi, BuildRange(m + 1, r));
    maxHi_[m] = hi;
    return hi;
  }

  template <typename F>
  void QueryRange(size_t l, size_t r, int64_t qlo, int64_t qhi, F& f) const {
    while (l < r) {
      const size_t m = l + (r - l) / 2;
      if (maxHi_[m] <= qlo) return;  // nothing below reaches above qlo
      if (l < m) QueryRange(l, m, qlo, qhi, f);
      const Item& it = items_[m];
      if (it.lo >= qhi) return;  // this item and those after it start too high
      if (qlo < it.hi) f(it.h);
      l = m + 1;
    }
  }

  std::vector<Item> items_;
  std::vector<int64_t> maxHi_;
};

class IndexedSpaceSweep : public SweepFrame {
 public:
  IndexedSpaceSweep(PSList& out, int32_t distance, int32_t unit, int closed, int kind)
      : SweepFrame(out, distance, unit, closed, kind, false),
        t_(int64_t(double(ad_) * kSqrt2)) {}

  void Run(PSList& list) {
    if (list.IsEmpty()) return;
    // Every point is visited, the last one too: the edge that comes down to
    // it from the left is scanned there.
    for (PSPoint* s = list.head; s; s = s->link) {
      Step(s);
      PSPoint* g = s->link;
      if (g && g->x != s->x) {
        ChangeColumn(g);
        RebuildIndex(g);
      }
    }
  }

 private:
  void Step(PSPoint* s);
  void ActiveStep(PSPoint* s, PSPoint* prev, PSPoint* next);
  // Tests the partners of the band owner a -> b: the window points with y
  // in [u, v] (their upward and horizontal edges) and the indexed edges
  // that cross the scan box (x in [s.x - d, s.x], y in [u, v]) without an
  // end inside it.
  void ScanBand(const PSPoint* s, const PSPoint* a, const PSPoint* b, int64_t u, int64_t v);
  // The two edges at the lower (BevelBelow) or upper (BevelAbove) end of a
  // vertical edge against the diagonals left of it whose band faces them.
  void BevelBelow(const PSPoint* s, const PSPoint* prev, const PSPoint* next);
  void BevelAbove(const PSPoint* s, const PSPoint* prev, const PSPoint* next);
  void Corner(PSPoint* s, PSPoint* prev, PSPoint* next);
  void SpanningCheck(const PSPoint* s, const PSPoint* prev, const PSPoint* next);
  void RebuildIndex(const PSPoint* g);

  // The upward edges by their lower end (starting at a window point) and,
  // with y negated, by their upper end (ending at a window point): each
  // list is filled in window order, which is its order.
  IntervalIndex byLow_, byHigh_;
  const int64_t t_;  // diagonal reach of the distance
};

void IndexedSpaceSweep::Step(PSPoint* s) {
  PSPoint* prev = s->prev;
  PSPoint* next = s->next;
  if (edgeWork_) ActiveStep(s, prev, next);
  // Upward window edges reaching across s.y, for the spanning check below.
  Gather(s, [s](PSPoint* u) -> PSPoint* {
    return u->next && u->next->y > s->y ? u->next : nullptr;
  });
  if (WindowHoldsPoint()) {
    if (edgeWork_ && prev && prev->y > s->y) {
      // The edge prev -> s comes down to s, from either side.
      const Box b(prev->x, prev->y, s->x, s->y);
      const Box sh = Shifted(b, d_);
      int64_t u, v;
      if (prev->x == s->x) {
        u = s->y;
        v = prev->y;
      } else if (prev->x > s->x) {
        u = s->y;
        v = std::min<int64_t>(sh.y1, YAt(sh, s->x));
      } else {
        u = std::max<int64_t>(sh.y2, YAt(sh, prev->x));
        v = prev->y;
      }
      ScanBand(s, prev, s, u, v);
      if (prev->x == s->x && next && s->x < next->x) BevelBelow(s, prev, next);
    }
    if (edgeWork_ && next && next->y < s->y) {
      // The edge s -> next goes down from s.
      const Box b(s->x, s->y, next->x, next->y);
      const Box sh = Shifted(b, d_);
      int64_t u, v;
      if (next->x == s->x) {
        u = next->y;
        v = s->y;
      } else if (next->x > s->x) {
        u = std::max<int64_t>(sh.y2, YAt(sh, s->x));
        v = s->y;
      } else {
        // The edge's own line at d to the left of s (it runs down-left at
        // 45 degrees there, or less steeply).
        u = std::max<int64_t>(next->y, YAt(b, ToCoord(int64_t(s->x) - ad_)));
        v = sh.y1;
      }
      ScanBand(s, s, next, u, v);
      if (next->x == s->x && prev && s->x < prev->x) BevelAbove(s, prev, next);
    }
    if (cornerWork_) Corner(s, prev, next);
  }
  if (edgeWork_ && prev && prev->y > s->y && !Spanning().empty()) SpanningCheck(s, prev, next);
  InsertWindow(s);
}

// Horizontal and diagonal pairs: a gap lies between a backward edge (inside
// below) and the forward edge right above it in the active list.
void IndexedSpaceSweep::ActiveStep(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (prev && prev->x < s->x) RemoveEdge(prev, s, s->x);  // forward (prev, s) ends
  if (next && next->x < s->x) {  // backward (next, s) ends: new neighbours
    ActiveNode* e = RemoveEdge(next, s, s->x);
    ActiveNode* d = e->link[0].dn;
    if (!IsTop(e) && !IsBottom(d) && !d->e.forward && e->e.forward)
      Region(d->e.right, d->e.left, e->e.left, e->e.right, 1);
  }
  if (next && next->x > s->x) {  // forward (s, next) starts
    ActiveNode* n = InsertEdge(s, next, true, s->x);
    ActiveNode* d = n->link[0].dn;
    if (!IsBottom(d) && !d->e.forward) Region(s, next, d->e.right, d->e.left, 1);
  }
  if (prev && prev->x > s->x) {  // backward (s, prev) starts
    ActiveNode* n = InsertEdge(s, prev, false, s->x);
    ActiveNode* u = n->link[0].up;
    if (!IsTop(u) && u->e.forward) Region(prev, s, u->e.left, u->e.right, 1);
  }
}

void IndexedSpaceSweep::ScanBand(const PSPoint* s, const PSPoint* a, const PSPoint* b,
                                 int64_t u, int64_t v) {
  // A partner whose box lies farther than the distance from the owner's
  // box on either axis meets neither band: it is not built.
  const int64_t ox1 = std::min(a->x, b->x) - ad_, ox2 = std::max(a->x, b->x) + ad_;
  const int64_t oy1 = std::min(a->y, b->y) - ad_, oy2 = std::max(a->y, b->y) + ad_;
  auto pair = [&](const PSPoint* c, const PSPoint* e) {
    if (std::max(c->x, e->x) < ox1 || std::min(c->x, e->x) > ox2 ||
        std::max(c->y, e->y) < oy1 || std::min(c->y, e->y) > oy2)
      return;
    Region(a, b, c, e, 1);
  };
  for (WindowNode* w = SeekWindow(u); !IsWindowLast(w) && w->p->y <= v; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (p && p->y <= h->y) pair(p, h);
    if (n && h->y <= n->y) pair(h, n);
  }
  if (byLow_.Empty() && byHigh_.Empty()) return;
  const int64_t x1 = int64_t(s->x) - ad_, x2 = s->x;
  auto inBox = [&](const PSPoint* q) {
    return q->x >= x1 && q->x <= x2 && q->y >= u && q->y <= v;
  };
  auto test = [&](const PSPoint* h) {
    const PSPoint* p = h->prev;
    if (!inBox(h) && !inBox(p)) pair(p, h);
  };
  byLow_.Query(u - ad_, v + ad_, test);
  byHigh_.Query(-(v + ad_), -(u - ad_), test);
}

// A vertical edge comes down to s and the boundary turns right (east) at
// s: the up-left diagonals below-left of s within the diagonal reach face
// the corner. The edge above s is tested first, the edge leaving s only
// when the diagonal's band reached the first.
void IndexedSpaceSweep::BevelBelow(const PSPoint* s, const PSPoint* prev, const PSPoint* next) {
  for (WindowNode* w = SeekWindow(s->y)->dn; !IsWindowFirst(w) && w->p->y > int64_t(s->y) - t_;
       w = w->dn) {
    const PSPoint* h = w->p;
    const PSPoint* n = h->next;
    if (!n || n->y <= h->y || n->x >= h->x) continue;
    if (Region(h, n, prev, s, 0)) Region(h, n, s, next, 0);
  }
}

// A vertical edge goes down from s and the boundary arrives at s from the
// east: the up-right diagonals above-left of s face the corner.
void IndexedSpaceSweep::BevelAbove(const PSPoint* s, const PSPoint* prev, const PSPoint* next) {
  for (WindowNode* w = SeekWindow(s->y); !IsWindowLast(w) && w->p->y < int64_t(s->y) + t_;
       w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    if (!p || p->y >= h->y || p->x >= h->x) continue;
    if (Region(p, h, s, next, 0)) Region(p, h, prev, s, 0);
  }
}

// A convex corner whose outside faces the window (the edge arrives from the
// right or from above) against the window points in the square of side d
// beyond it, bounds excluded.
void IndexedSpaceSweep::Corner(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (!prev || !next) return;
  if (!(s->x < prev->x || s->y < prev->y)) return;
  if (Cross(prev, s, next) <= 0) return;
  const auto [lo, hi] = CornerBandRows(prev, s);
  const bool second = prev->x < s->x || prev->x < next->x;
  for (WindowNode* w = SeekWindow(lo + 1); !IsWindowLast(w) && w->p->y < hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (!p || !n) continue;
    const bool faces = second ? (p->x > h->x || p->x > n->x) : (p->x < h->x || p->x < n->x);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
}

// Where an edge comes down to s: the upward window edges that reach across
// s.y and pass s closer than the distance, against both edges at s. This
// finds the edge leaving s sideways (which no scan owns) in the band of a
// diagonal that ends left of s, and the edges of points of the current
// column, which the index does not hold yet.
void IndexedSpaceSweep::SpanningCheck(const PSPoint* s, const PSPoint* prev,
                                      const PSPoint* next) {
  auto& list = Spanning();
  size_t keep = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    auto [u, v] = list[i];
    if (v->y <= s->y) continue;
    list[keep++] = list[i];
    const Box owner(u->x, u->y, v->x, v->y);
    if (DistanceSquared(owner, s->x, s->y) >= (long double)dd_) continue;
    BuildViolationRegionOf(owner, Box(prev->x, prev->y, s->x, s->y), 1);
    if (next) BuildViolationRegionOf(owner, Box(s->x, s->y, next->x, next->y), 1);
  }
  list.resize(keep);
}

// The upward edges of the window points whose other end lies at or left of
// the new column g.x.
void IndexedSpaceSweep::RebuildIndex(const PSPoint* g) {
  byLow_.Clear();
  byHigh_.Clear();
  WindowNode* first = SeekWindow(INT64_MIN);
  WindowNode* w = first->up;
  for (; !IsWindowLast(w); w = w->up) {
    PSPoint* j = w->p;
    if (j->next && j->y < j->next->y && j->next->x <= g->x)
      byLow_.Add(j->y, j->next->y, j->next);
  }
  // An edge whose lower end is a window point too is in byLow_ already.
  auto inWindow = [&](const PSPoint* q) { return q->x < g->x && q->x + ad_ > g->x; };
  for (w = w->dn; w != first; w = w->dn) {
    PSPoint* j = w->p;
    if (j->prev && j->prev->y < j->y && j->prev->x <= g->x && !inWindow(j->prev))
      byHigh_.Add(-int64_t(j->y), -int64_t(j->prev->y), j);
  }
  byLow_.Build();
  byHigh_.Build();
  SeekWindow(INT64_MIN);
}

}  // namespace

void SweepSpaceIndexed(PSList& list, const Box& region, PSList& out, int32_t distance,
                       int32_t unit, int closed, int kind) {
  // The index is rebuilt from the window at every column and needs no
  // extent fixed in advance: the region is not read.
  (void)region;
  IndexedSpaceSweep sweep(out, distance, unit, closed, kind);
  sweep.Run(list);
}

}  // namespace velmar
