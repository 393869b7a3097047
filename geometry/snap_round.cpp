// Snap rounding of the crossings of a polygon set.
//
// Two steps, both exact (products of coordinate differences in 128-bit
// integers):
// 1. The crossings of the edges, found by a sweep over the integer columns.
//    The non-vertical edges that span the current column are kept ordered
//    by their exact y there (ties: the smaller slope first, then the edge's
//    number). Two neighbours that cross exchange their places at the first
//    column at or after their crossing; each exchange is one crossing, found
//    when the two become neighbours, so the cost grows with the edges and
//    the crossings, not with their product. Vertical edges collect the edges
//    that pass strictly between their ends from the same order.
// 2. When some crossing lies off the grid, every crossing point (rounded
//    half up) and every vertex is a hot pixel. A grid of cells indexes the
//    hot pixels; each edge visits only the cells along its own length and
//    takes a vertex at every hot pixel whose half-open unit square it
//    passes through, in order along the edge; the pieces are checked again
//    until none passes through a pixel it does not hold.
#include "geometry/snap_round.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <memory_resource>
#include <set>
#include <tuple>
#include <vector>

#include "geometry/point_list_order.h"

namespace velmar {

namespace {

using i128 = __int128;

// A work array kept from call to call, emptied when taken: a merge by parts
// snaps hundreds of thousands of small lists, and fresh arrays for each
// cost more than the search. Only a small capacity is kept when the holder
// goes, so that a large list's arrays do not stay behind. Tag tells apart
// two arrays of one type.
template <typename T, int Tag = 0>
class Scratch {
 public:
  Scratch() : v_(Store()) { v_.clear(); }
  ~Scratch() {
    if (v_.capacity() > kKept) std::vector<T>().swap(v_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::vector<T>& operator*() { return v_; }

 private:
  static constexpr size_t kKept = size_t(1) << 14;
  static std::vector<T>& Store() {
    static thread_local std::vector<T> v;
    return v;
  }
  std::vector<T>& v_;
};

// floor(n / d) for d > 0.
inline i128 FloorDiv(i128 n, i128 d) {
  i128 q = n / d;
  if ((n % d != 0) && (n < 0)) --q;
  return q;
}

// n / d rounded half up (floor(n / d + 1/2)), d > 0.
inline int32_t RoundHalfUp(i128 n, i128 d) {
  return static_cast<int32_t>(FloorDiv(2 * n + d, 2 * d));
}

struct Seg {
  int32_t lx, ly, rx, ry;  // left end < right end in (x, then y) order
};

inline int Sign(i128 v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

inline i128 Orient(int64_t ax, int64_t ay, int64_t bx, int64_t by, int64_t cx,
                   int64_t cy) {
  return i128(bx - ax) * (cy - ay) - i128(by - ay) * (cx - ax);
}

// True when the two segments meet in one point that is inside both (not an
// end of either).
bool ProperCross(const Seg& a, const Seg& b) {
  const int o1 = Sign(Orient(a.lx, a.ly, a.rx, a.ry, b.lx, b.ly));
  const int o2 = Sign(Orient(a.lx, a.ly, a.rx, a.ry, b.rx, b.ry));
  if (o1 * o2 >= 0) return false;
  const int o3 = Sign(Orient(b.lx, b.ly, b.rx, b.ry, a.lx, a.ly));
  const int o4 = Sign(Orient(b.lx, b.ly, b.rx, b.ry, a.rx, a.ry));
  return o3 * o4 < 0;
}

// The crossing point of two properly crossing segments as fractions
// (xn / d, yn / d), d > 0.
void CrossingPoint(const Seg& a, const Seg& b, i128& xn, i128& yn, i128& d) {
  const int64_t adx = int64_t(a.rx) - a.lx, ady = int64_t(a.ry) - a.ly;
  const int64_t bdx = int64_t(b.rx) - b.lx, bdy = int64_t(b.ry) - b.ly;
  d = i128(adx) * bdy - i128(ady) * bdx;
  i128 t = i128(int64_t(b.lx) - a.lx) * bdy - i128(int64_t(b.ly) - a.ly) * bdx;
  if (d < 0) {
    d = -d;
    t = -t;
  }
  xn = i128(a.lx) * d + t * adx;
  yn = i128(a.ly) * d + t * ady;
}

struct HotPoint {
  int32_t x, y;
  bool operator<(const HotPoint& o) const {
    return x != o.x ? x < o.x : y < o.y;
  }
  bool operator==(const HotPoint& o) const { return x == o.x && y == o.y; }
};

// ---------------------------------------------------------------------------
// Step 1: the crossings.

class CrossingFinder {
 public:
  CrossingFinder(const std::vector<Seg>& segs, const std::vector<Seg>& verticals)
      : segs_(segs), verticals_(verticals), order_(Less{this}, &Pool()) {}
  ~CrossingFinder() {
    // The pool keeps what a large list took only until that list is done.
    order_.clear();
    if (segs_.size() > kKeptNodes) Pool().release();
  }
  CrossingFinder(const CrossingFinder&) = delete;
  CrossingFinder& operator=(const CrossingFinder&) = delete;

  // Collects the crossing points rounded half up; returns whether one of
  // them lies off the grid. With a limit, stops once more than limit
  // crossings are found (see Stopped).
  bool Run(std::vector<HotPoint>& hot, size_t limit = SIZE_MAX);
  bool Stopped() const { return stopped_; }

 private:
  struct Probe {
    int32_t y;
  };
  struct Less {
    using is_transparent = void;
    const CrossingFinder* f;
    bool operator()(uint32_t a, uint32_t b) const { return f->Compare(a, b) < 0; }
    // A segment lies before a probe when its y at the column is at most the
    // probe's y.
    bool operator()(uint32_t a, Probe p) const { return f->CompareY(a, p.y) <= 0; }
    bool operator()(Probe p, uint32_t a) const { return f->CompareY(a, p.y) > 0; }
  };
  using Order = std::pmr::set<uint32_t, Less>;

  struct Event {
    int32_t col;
    uint32_t lo, hi;
    bool operator>(const Event& o) const { return col > o.col; }
  };

  // y of segment s at the current column as num / den (den > 0).
  void YAt(uint32_t s, i128& num, i128& den) const {
    const Seg& g = segs_[s];
    den = int64_t(g.rx) - g.lx;
    num = i128(g.ly) * den + i128(int64_t(g.ry) - g.ly) * (int64_t(x_) - g.lx);
  }
  int CompareY(uint32_t s, int32_t y) const {
    i128 n, d;
    YAt(s, n, d);
    return Sign(n - i128(y) * d);
  }
  int Compare(uint32_t a, uint32_t b) const {
    if (a == b) return 0;
    i128 na, da, nb, db;
    YAt(a, na, da);
    YAt(b, nb, db);
    if (int c = Sign(na * db - nb * da)) return c;
    const Seg& sa = segs_[a];
    const Seg& sb = segs_[b];
    const i128 slope = i128(int64_t(sa.ry) - sa.ly) * (int64_t(sb.rx) - sb.lx) -
                       i128(int64_t(sb.ry) - sb.ly) * (int64_t(sa.rx) - sa.lx);
    if (int c = Sign(slope)) return c;
    return a < b ? -1 : 1;
  }

  void Schedule(Order::iterator lo, Order::iterator hi);
  void Exchange(int32_t col);
  void Record(uint32_t a, uint32_t b);

  const std::vector<Seg>& segs_;
  const std::vector<Seg>& verticals_;
  static constexpr size_t kKeptNodes = size_t(1) << 14;
  int32_t x_ = INT_MIN;
  // The nodes of the order come from a pool kept for the thread.
  static std::pmr::unsynchronized_pool_resource& Pool() {
    static thread_local std::pmr::unsynchronized_pool_resource pool;
    return pool;
  }
  Order order_;
  Scratch<Order::iterator> whereStore_;
  Scratch<uint8_t> liveStore_;
  Scratch<Event> eventStore_;
  std::vector<Order::iterator>& where_ = *whereStore_;
  std::vector<uint8_t>& live_ = *liveStore_;
  std::vector<Event>& events_ = *eventStore_;  // a heap, earliest first
  std::vector<HotPoint>* hot_ = nullptr;
  bool offGrid_ = false;
  bool stopped_ = false;
};

// Schedules the exchange of two neighbours (lo below hi) that cross ahead:
// lo, the steeper one, passes above hi at the first column at or after the
// crossing.
void CrossingFinder::Schedule(Order::iterator lo, Order::iterator hi) {
  if (lo == order_.end() || hi == order_.end()) return;
  const uint32_t a = *lo, b = *hi;
  const Seg& sa = segs_[a];
  const Seg& sb = segs_[b];
  const i128 slope = i128(int64_t(sa.ry) - sa.ly) * (int64_t(sb.rx) - sb.lx) -
                     i128(int64_t(sb.ry) - sb.ly) * (int64_t(sa.rx) - sa.lx);
  if (slope <= 0 || !ProperCross(sa, sb)) return;
  i128 xn, yn, d;
  CrossingPoint(sa, sb, xn, yn, d);
  const i128 col = -FloorDiv(-xn, d);  // ceil
  events_.push_back(Event{static_cast<int32_t>(col), a, b});
  std::push_heap(events_.begin(), events_.end(), std::greater<Event>());
}

void CrossingFinder::Record(uint32_t a, uint32_t b) {
  i128 xn, yn, d;
  CrossingPoint(segs_[a], segs_[b], xn, yn, d);
  if (xn % d != 0 || yn % d != 0) offGrid_ = true;
  hot_->push_back(HotPoint{RoundHalfUp(xn, d), RoundHalfUp(yn, d)});
}

// Exchanges the neighbours that cross up to column col, recording each
// crossing.
void CrossingFinder::Exchange(int32_t col) {
  while (!events_.empty() && events_.front().col <= col) {
    std::pop_heap(events_.begin(), events_.end(), std::greater<Event>());
    const Event ev = events_.back();
    events_.pop_back();
    if (!live_[ev.lo] || !live_[ev.hi]) continue;
    Order::iterator lo = where_[ev.lo];
    Order::iterator hi = std::next(lo);
    if (hi == order_.end() || *hi != ev.hi) continue;
    Record(ev.lo, ev.hi);
    const_cast<uint32_t&>(*lo) = ev.hi;
    const_cast<uint32_t&>(*hi) = ev.lo;
    where_[ev.hi] = lo;
    where_[ev.lo] = hi;
    if (lo != order_.begin()) Schedule(std::prev(lo), lo);
    Schedule(hi, std::next(hi));
  }
}

bool CrossingFinder::Run(std::vector<HotPoint>& hot, size_t limit) {
  hot_ = &hot;
  const size_t stopAt = limit > SIZE_MAX - hot.size() ? SIZE_MAX : hot.size() + limit;
  const uint32_t n = static_cast<uint32_t>(segs_.size());
  where_.assign(n, order_.end());
  live_.assign(n, 0);
  Scratch<uint32_t, 0> byLeftStore;
  Scratch<uint32_t, 1> byRightStore;
  std::vector<uint32_t>& byLeft = *byLeftStore;
  std::vector<uint32_t>& byRight = *byRightStore;
  byLeft.resize(n);
  byRight.resize(n);
  for (uint32_t i = 0; i < n; ++i) byLeft[i] = byRight[i] = i;
  std::sort(byLeft.begin(), byLeft.end(), [&](uint32_t a, uint32_t b) {
    return segs_[a].lx < segs_[b].lx;
  });
  std::sort(byRight.begin(), byRight.end(), [&](uint32_t a, uint32_t b) {
    return segs_[a].rx < segs_[b].rx;
  });
  Scratch<uint32_t, 2> vertStore;
  std::vector<uint32_t>& vert = *vertStore;
  vert.resize(verticals_.size());
  for (uint32_t i = 0; i < vert.size(); ++i) vert[i] = i;
  std::sort(vert.begin(), vert.end(), [&](uint32_t a, uint32_t b) {
    return verticals_[a].lx < verticals_[b].lx;
  });
  size_t il = 0, ir = 0, iv = 0;
  while (il < n || ir < n || iv < vert.size()) {
    int32_t col = INT_MAX;
    if (il < n) col = std::min(col, segs_[byLeft[il]].lx);
    if (ir < n) col = std::min(col, segs_[byRight[ir]].rx);
    if (iv < vert.size()) col = std::min(col, verticals_[vert[iv]].lx);
    x_ = col;
    if (hot.size() > stopAt) {
      stopped_ = true;
      return offGrid_;
    }
    // Exchanges of neighbours that crossed up to this column, then the
    // edges that end here leave the order, then the exchanges of the
    // neighbours that their leaving brought together (an edge through the
    // end of another can cross the one beyond it at this very column).
    // Only then is the order that of the exact y at this column, as the
    // searches of the vertical edges and the joining edges need it.
    Exchange(col);
    for (; ir < n && segs_[byRight[ir]].rx == col; ++ir) {
      const uint32_t s = byRight[ir];
      Order::iterator it = where_[s];
      Order::iterator above = std::next(it);
      Order::iterator below = it == order_.begin() ? order_.end() : std::prev(it);
      order_.erase(it);
      live_[s] = 0;
      if (below != order_.end()) Schedule(below, above);
    }
    Exchange(col);
    // Vertical edges: every edge that passes strictly between their ends.
    for (; iv < vert.size() && verticals_[vert[iv]].lx == col; ++iv) {
      const Seg& v = verticals_[vert[iv]];
      for (auto it = order_.upper_bound(Probe{v.ly}); it != order_.end(); ++it) {
        if (CompareY(*it, v.ry) >= 0) break;
        const Seg& s = segs_[*it];
        if (s.lx == col || s.rx == col) continue;
        i128 num, den;
        YAt(*it, num, den);
        if (num % den != 0) offGrid_ = true;
        hot.push_back(HotPoint{col, RoundHalfUp(num, den)});
      }
    }
    // Edges that begin here join it.
    for (; il < n && segs_[byLeft[il]].lx == col; ++il) {
      const uint32_t s = byLeft[il];
      Order::iterator it = order_.insert(s).first;
      where_[s] = it;
      live_[s] = 1;
      if (it != order_.begin()) Schedule(std::prev(it), it);
      Schedule(it, std::next(it));
    }
  }
  return offGrid_;
}

// ---------------------------------------------------------------------------
// Step 2: edges through hot pixels.

class HotPixelIndex {
 public:
  explicit HotPixelIndex(std::vector<HotPoint>& hot);

  // Appends the hot pixels whose half-open unit square the edge a-b passes
  // through, other than a and b themselves.
  void Touched(const PSPoint* a, const PSPoint* b, std::vector<HotPoint>& out) const;

 private:
  int64_t CellOf(int64_t v) const { return FloorDivI(v - origin_, cell_); }
  static int64_t FloorDivI(int64_t n, int64_t d) {
    int64_t q = n / d;
    if ((n % d != 0) && (n < 0)) --q;
    return q;
  }
  // Pixels are ordered by cell column (numbered from a few below 0: the
  // widened ends of an edge), then by y.
  static uint64_t Key(int64_t cx, int64_t y) {
    y = std::clamp<int64_t>(y, INT32_MIN, INT32_MAX);
    return (uint64_t(cx + 4) << 32) | (uint32_t(int32_t(y)) ^ 0x80000000u);
  }

  Scratch<HotPoint, 1> pixelStore_;
  Scratch<uint64_t, 0> keyStore_;
  std::vector<HotPoint>& pixels_ = *pixelStore_;  // ordered by key
  std::vector<uint64_t>& keys_ = *keyStore_;      // key of each pixel
  int64_t cell_ = 1;
  int64_t origin_ = 0;
  int64_t lastColumn_ = 0;  // the column of the rightmost pixel
};

HotPixelIndex::HotPixelIndex(std::vector<HotPoint>& hot) {
  // Columns of about one hot pixel per square cell on average over the
  // bounding box: an edge then meets few pixels of a column outside its own
  // y range there.
  int64_t x1 = INT64_MAX, y1 = INT64_MAX, x2 = INT64_MIN, y2 = INT64_MIN;
  for (const HotPoint& h : hot) {
    x1 = std::min<int64_t>(x1, h.x);
    y1 = std::min<int64_t>(y1, h.y);
    x2 = std::max<int64_t>(x2, h.x);
    y2 = std::max<int64_t>(y2, h.y);
  }
  const long double area = (long double)(x2 - x1 + 1) * (y2 - y1 + 1);
  long double c = std::sqrt(area / (long double)std::max<size_t>(hot.size(), 1));
  cell_ = std::max<int64_t>(1, int64_t(std::min<long double>(c, 1LL << 30)));
  origin_ = x1 == INT64_MAX ? 0 : x1;
  lastColumn_ = x1 == INT64_MAX ? 0 : CellOf(x2);
  pixels_ = hot;
  keys_.resize(pixels_.size());
  Scratch<size_t, 2> idxStore;
  Scratch<uint64_t, 1> kStore;
  std::vector<size_t>& idx = *idxStore;
  std::vector<uint64_t>& k = *kStore;
  idx.resize(pixels_.size());
  k.resize(pixels_.size());
  for (size_t i = 0; i < pixels_.size(); ++i) {
    idx[i] = i;
    k[i] = Key(CellOf(pixels_[i].x), pixels_[i].y);
  }
  std::sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return k[a] < k[b]; });
  for (size_t i = 0; i < idx.size(); ++i) {
    pixels_[i] = hot[idx[i]];
    keys_[i] = k[idx[i]];
  }
}

// Whether the segment a-b touches the closed unit square around h.
inline bool TouchesSquare(const Seg& e, const HotPoint& h) {
  const int64_t ax = 2 * int64_t(e.lx), ay = 2 * int64_t(e.ly);
  const int64_t bx = 2 * int64_t(e.rx), by = 2 * int64_t(e.ry);
  const int64_t sx1 = 2 * int64_t(h.x) - 1, sx2 = sx1 + 2;
  const int64_t sy1 = 2 * int64_t(h.y) - 1, sy2 = sy1 + 2;
  if (std::max(ax, bx) < sx1 || std::min(ax, bx) > sx2) return false;
  if (std::max(ay, by) < sy1 || std::min(ay, by) > sy2) return false;
  const int s1 = Sign(Orient(ax, ay, bx, by, sx1, sy1));
  const int s2 = Sign(Orient(ax, ay, bx, by, sx2, sy1));
  const int s3 = Sign(Orient(ax, ay, bx, by, sx2, sy2));
  const int s4 = Sign(Orient(ax, ay, bx, by, sx1, sy2));
  if (s1 > 0 && s2 > 0 && s3 > 0 && s4 > 0) return false;
  if (s1 < 0 && s2 < 0 && s3 < 0 && s4 < 0) return false;
  return true;
}

// Whether the segment a-b has a point in the pixel of h: the half-open
// unit square [x - 1/2, x + 1/2) x [y - 1/2, y + 1/2). These squares tile the
// plane, so an edge through the corner shared by four pixels takes only the
// one that owns that corner; closed squares would hand it all four, and
// their grid points in order along the edge zigzag, one such zigzag
// crossing the pieces of a neighbour through the same corner.
// The pixel is its open inside, its left side without the top end and its
// bottom side without the right end; doubled coordinates make the sides
// integers.
inline bool TouchesPixel(const PSPoint* a, const PSPoint* b, const HotPoint& h) {
  const int64_t ax = 2 * int64_t(a->x), ay = 2 * int64_t(a->y);
  const int64_t bx = 2 * int64_t(b->x), by = 2 * int64_t(b->y);
  const int64_t sx1 = 2 * int64_t(h.x) - 1, sx2 = sx1 + 2;
  const int64_t sy1 = 2 * int64_t(h.y) - 1, sy2 = sy1 + 2;
  const int64_t minx = std::min(ax, bx), maxx = std::max(ax, bx);
  const int64_t miny = std::min(ay, by), maxy = std::max(ay, by);
  if (maxx < sx1 || minx >= sx2 || maxy < sy1 || miny >= sy2) return false;
  // The open inside: the boxes overlap with some width on both axes, and
  // the edge's line has corners of the square strictly on both sides.
  if (maxx > sx1 && maxy > sy1) {
    const int s1 = Sign(Orient(ax, ay, bx, by, sx1, sy1));
    const int s2 = Sign(Orient(ax, ay, bx, by, sx2, sy1));
    const int s3 = Sign(Orient(ax, ay, bx, by, sx2, sy2));
    const int s4 = Sign(Orient(ax, ay, bx, by, sx1, sy2));
    if ((s1 > 0 || s2 > 0 || s3 > 0 || s4 > 0) && (s1 < 0 || s2 < 0 || s3 < 0 || s4 < 0))
      return true;
  }
  // The left side: x = sx1, sy1 <= y < sy2.
  if (minx <= sx1 && sx1 <= maxx) {
    if (ax == bx) return true;  // the boxes overlap: some y of it is on the side
    i128 d = bx - ax, n = i128(ay) * d + i128(by - ay) * (sx1 - ax);
    if (d < 0) {
      d = -d;
      n = -n;
    }
    if (i128(sy1) * d <= n && n < i128(sy2) * d) return true;
  }
  // The bottom side: y = sy1, sx1 <= x < sx2.
  if (miny <= sy1 && sy1 <= maxy) {
    if (ay == by) return true;
    i128 d = by - ay, n = i128(ax) * d + i128(bx - ax) * (sy1 - ay);
    if (d < 0) {
      d = -d;
      n = -n;
    }
    if (i128(sx1) * d <= n && n < i128(sx2) * d) return true;
  }
  return false;
}

void HotPixelIndex::Touched(const PSPoint* a, const PSPoint* b,
                            std::vector<HotPoint>& out) const {
  if (pixels_.empty()) return;
  // The pixels an edge touches have their grid points within half a unit
  // (on each axis) of the edge: walk the cell columns the edge spans,
  // widened by one unit, and in each the pixels whose y lies in the edge's
  // y range over that column, widened likewise: one search a column, then
  // only pixels near the edge's path (a long, steep edge no longer visits
  // every cell along it).
  const PSPoint* l = a;
  const PSPoint* r = b;
  if (r->x < l->x) std::swap(l, r);
  const int64_t lx = l->x, ly = l->y, rx = r->x, ry = r->y;
  // Only columns that hold pixels: an edge far longer than the pixels'
  // box walks no empty columns.
  const int64_t cx1 = std::max<int64_t>(CellOf(lx - 1), 0);
  const int64_t cx2 = std::min(CellOf(rx + 1), lastColumn_);
  for (int64_t cx = cx1; cx <= cx2; ++cx) {
    // x range of this cell column, clipped to the edge (widened by 1).
    const int64_t colLo = origin_ + cx * cell_, colHi = colLo + cell_ - 1;
    const int64_t xa = std::max(colLo - 1, lx), xb = std::min(colHi + 1, rx);
    int64_t ya, yb;
    if (lx == rx) {
      ya = std::min(ly, ry);
      yb = std::max(ly, ry);
    } else {
      if (xa > xb) continue;
      // y at xa and xb, floor and ceiling.
      const int64_t dx = rx - lx, dy = ry - ly;
      const i128 na = i128(ly) * dx + i128(dy) * (xa - lx);
      const i128 nb = i128(ly) * dx + i128(dy) * (xb - lx);
      const int64_t fa = int64_t(FloorDiv(na, dx)), fb = int64_t(FloorDiv(nb, dx));
      ya = std::min(fa, fb);
      yb = std::max(fa, fb) + 1;
    }
    const uint64_t hi = Key(cx, yb + 1);
    auto it = std::lower_bound(keys_.begin(), keys_.end(), Key(cx, ya - 1));
    for (size_t i = size_t(it - keys_.begin()); i < keys_.size() && keys_[i] <= hi; ++i) {
      const HotPoint& h = pixels_[i];
      if ((h.x == a->x && h.y == a->y) || (h.x == b->x && h.y == b->y)) continue;
      if (TouchesPixel(a, b, h)) out.push_back(h);
    }
  }
}

// The edges of the list, non-vertical and vertical, each from its left end.
void CollectSegments(const PSList& list, std::vector<Seg>& segs,
                     std::vector<Seg>& verticals, std::vector<HotPoint>* hot) {
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (hot) hot->push_back(HotPoint{p->x, p->y});
    const PSPoint* q = p->next;
    if (!q || SamePosition(p, q)) continue;
    Seg s;
    if (ComparePoint(p, q) < 0)
      s = Seg{p->x, p->y, q->x, q->y};
    else
      s = Seg{q->x, q->y, p->x, p->y};
    (s.lx == s.rx ? verticals : segs).push_back(s);
  }
}

// Sorts the segments and drops repeated ones.
void UniqueSegments(std::vector<Seg>& segs) {
  auto key = [](const Seg& s) { return std::tie(s.lx, s.ly, s.rx, s.ry); };
  std::sort(segs.begin(), segs.end(),
            [&](const Seg& a, const Seg& b) { return key(a) < key(b); });
  segs.erase(std::unique(segs.begin(), segs.end(),
                         [&](const Seg& a, const Seg& b) { return key(a) == key(b); }),
             segs.end());
}

// The work arrays of one crossing search, emptied, kept from call to call.
struct SearchScratch {
  Scratch<Seg, 0> segStore;
  Scratch<Seg, 1> verticalStore;
  Scratch<HotPoint, 0> hotStore;
  std::vector<Seg>& segs = *segStore;
  std::vector<Seg>& verticals = *verticalStore;
  std::vector<HotPoint>& hot = *hotStore;
};

}  // namespace

bool CrossingsExceed(const PSList& list, size_t limit) {
  SearchScratch w;
  CollectSegments(list, w.segs, w.verticals, nullptr);
  CrossingFinder finder(w.segs, w.verticals);
  finder.Run(w.hot, limit);
  return finder.Stopped();
}

int32_t SnapRoundCrossings(PSList& list, bool* offGrid, bool deletedAside) {
  if (offGrid) *offGrid = false;
  if (!list.head || !list.head->link || ClassifyList(list) == 0) return 0;
  SearchScratch w;
  std::vector<Seg>& segs = w.segs;
  std::vector<Seg>& verticals = w.verticals;
  std::vector<HotPoint>& hot = w.hot;
  CollectSegments(list, segs, verticals, &hot);
  // Copies of one edge (shapes stacked on each other) cross everything at
  // the same points: each is searched once, so that k copies crossing k
  // copies cost one crossing, not k * k.
  UniqueSegments(segs);
  UniqueSegments(verticals);
  {
    CrossingFinder finder(segs, verticals);
    // Crossings on grid points split exactly in the sweep: nothing to do.
    if (!finder.Run(hot)) return 0;
  }
  if (offGrid) *offGrid = true;
  std::sort(hot.begin(), hot.end());
  hot.erase(std::unique(hot.begin(), hot.end()), hot.end());
  const HotPixelIndex index(hot);

  // Each edge takes the hot pixels it passes through, in order along it.
  // A piece between two of them can still pass through a third pixel (the
  // edge only grazed that pixel's square, on its right or top side): the
  // new pieces are checked again, round after round, until no piece passes
  // through a hot pixel it does not hold. A piece takes only pixels whose
  // closed square its input edge touches, so every vertex stays within
  // half a unit of the input edge on each axis; pixels farther off would
  // let an edge creep along a row of them. The rounds end when no piece
  // takes a pixel; the round limit is a guard only.
  struct Piece {
    PSPoint* p;
    Seg input;  // the input edge the piece comes from
  };
  Scratch<Piece, 0> workStore;
  Scratch<Piece, 1> nextStore;
  std::vector<Piece>& work = *workStore;
  std::vector<Piece>& next = *nextStore;
  for (PSPoint* p = list.head; p; p = p->link)
    if (p->next && !SamePosition(p, p->next) &&
        !(deletedAside && (p->flags & PSPointFlags::Deleted)))
      work.push_back(Piece{p, Seg{p->x, p->y, p->next->x, p->next->y}});
  Scratch<HotPoint, 2> touchedStore;
  std::vector<HotPoint>& touched = *touchedStore;
  int32_t added = 0;
  for (int round = 0; !work.empty() && round < 64; ++round) {
    next.clear();
    for (const Piece& piece : work) {
      PSPoint* p = piece.p;
      PSPoint* q = p->next;
      touched.clear();
      index.Touched(p, q, touched);
      if (round > 0)  // an input edge touches the squares of all it passes
        std::erase_if(touched, [&](const HotPoint& h) { return !TouchesSquare(piece.input, h); });
      if (touched.empty()) continue;
      // In order along the edge: the pixels it passes through are disjoint
      // squares met one after another, their centres in the same order.
      const int64_t dx = int64_t(q->x) - p->x, dy = int64_t(q->y) - p->y;
      std::sort(touched.begin(), touched.end(), [&](const HotPoint& u, const HotPoint& v) {
        const i128 du = i128(int64_t(u.x) - p->x) * dx + i128(int64_t(u.y) - p->y) * dy;
        const i128 dv = i128(int64_t(v.x) - p->x) * dx + i128(int64_t(v.y) - p->y) * dy;
        if (du != dv) return du < dv;
        return u < v;
      });
      touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
      PSPoint* prev = p;
      next.push_back(Piece{p, piece.input});
      for (const HotPoint& h : touched) {
        PSPoint* v = PushPoint(list, h.x, h.y);
        v->flags = p->flags & PSPointFlags::SecondLayer;
        LinkPoints(prev, v);
        prev = v;
        next.push_back(Piece{v, piece.input});
        ++added;
      }
      LinkPoints(prev, q);
    }
    work.swap(next);
  }
  return added;
}

}  // namespace velmar
