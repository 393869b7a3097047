// Booleans of axis-parallel input by interval counts along the sweep line.
//
// The sweep line is the set of intervals [y, next y) between the
// breakpoints of a sorted map; each interval holds the winding counts of
// both operands of the slab to the right of the line. At each x the
// vertical input edges there add their +1 (running down: the inside lies
// east) or -1 (running up) to the intervals they span. Then the touched
// stretch of the line is walked bottom-up, breakpoint by breakpoint:
// - an interval whose inside state differs west and east of x is a piece
//   of a vertical output edge; neighbouring pieces of one direction form
//   one edge;
// - a breakpoint between an inside and an outside interval carries a
//   horizontal output edge in the slab; it starts at the x where that
//   boundary appears and ends where it changes.
// Where a vertical and a horizontal output edge meet there is a vertex;
// where four meet (two rings touching at a corner, inside quadrants on
// one diagonal) there are two, one for each inside quadrant. Vertices come
// out in (x, then y) order, the one of the upper quadrant first, and are
// linked into rings as the edges close, with the inside on the left.
// Breakpoints whose intervals have equal counts are merged away, so the
// line holds only the breakpoints of the edges that cross it.
#include "geometry/rect_sweep.h"

#include "geometry/point_list_order.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <memory>
#include <vector>

namespace velmar {

namespace {

bool enabledFlag = true;

// A vertical input edge: at x from lo to hi (lo < hi); d1 and d2 are the
// changes of the first and second operand's counts east of it.
struct VerticalEdge {
  int32_t x;
  int32_t lo;
  int32_t hi;
  int16_t d1;
  int16_t d2;
};

// Inside state of a region for the code: 1 inside, 0 outside (the rules of
// EdgeClassDecision).
template <BooleanOpCode C>
inline int StateOf(int32_t c1, int32_t c2) {
  if constexpr (C == BooleanOpCode::Merge) {
    return c1 > 0 ? 1 : 0;
  } else if constexpr (C == BooleanOpCode::Or) {
    return int64_t(c1) + c2 > 0 ? 1 : 0;
  } else if constexpr (C == BooleanOpCode::Overlap) {
    return c1 >= 2 ? 1 : 0;
  } else if constexpr (C == BooleanOpCode::And) {
    return c1 > 0 && c2 > 0 ? 1 : 0;
  } else if constexpr (C == BooleanOpCode::Diff) {
    return c1 > 0 && c2 <= 0 ? 1 : 0;
  } else if constexpr (C == BooleanOpCode::Xor) {
    return (c1 > 0) != (c2 > 0) ? 1 : 0;
  } else {
    static_assert(C == BooleanOpCode::NegativeWinding);
    return c1 < 0 ? 1 : 0;
  }
}

// Sorts the edges by x, then lo: least significant digit first, 16 bits a
// pass, passes over a digit that all edges share skipped.
void SortEdges(std::vector<VerticalEdge>& a) {
  const size_t n = a.size();
  if (n < 2) return;
  auto key = [](const VerticalEdge& e) {
    return (uint64_t(uint32_t(e.x) ^ 0x80000000u) << 32) |
           uint64_t(uint32_t(e.lo) ^ 0x80000000u);
  };
  if (n < 1024) {
    std::sort(a.begin(), a.end(), [&](const VerticalEdge& u, const VerticalEdge& v) {
      return key(u) < key(v);
    });
    return;
  }
  std::vector<VerticalEdge> b(n);
  std::vector<uint32_t> count(1 << 16);
  for (int shift = 0; shift < 64; shift += 16) {
    std::fill(count.begin(), count.end(), 0u);
    for (const VerticalEdge& e : a) ++count[(key(e) >> shift) & 0xFFFF];
    if (count[(key(a[0]) >> shift) & 0xFFFF] == n) continue;
    uint32_t sum = 0;
    for (uint32_t& c : count) {
      const uint32_t t = c;
      c = sum;
      sum += t;
    }
    for (const VerticalEdge& e : a) b[count[(key(e) >> shift) & 0xFFFF]++] = e;
    a.swap(b);
  }
}

// A maximal straight run of an axis-parallel ring: from (x1, y1) to
// (x2, y2), x1 <= x2 and y1 <= y2; index is its place on the ring.
struct Run {
  int32_t x1, y1, x2, y2;
  uint32_t index;
  bool Vertical() const { return x1 == x2; }
};

struct RingScratch {
  std::vector<Point> points;
  std::vector<VerticalEdge> edges;
  std::vector<Run> runs;
};

// The vertical edge a-b of an operand (d1 or d2 set), if a-b is vertical
// and not empty.
inline void PushVertical(Point a, Point b, bool second,
                         std::vector<VerticalEdge>& edges) {
  if (a.x != b.x || a.y == b.y) return;
  // Running down puts the inside east: +1 to the east.
  const int16_t d = a.y > b.y ? 1 : -1;
  edges.push_back(VerticalEdge{a.x, std::min(a.y, b.y), std::max(a.y, b.y),
                               int16_t(second ? 0 : d), int16_t(second ? d : 0)});
}
inline void PushVertical(const PSPoint* a, const PSPoint* b, bool second,
                         std::vector<VerticalEdge>& edges) {
  PushVertical(Point(a->x, a->y), Point(b->x, b->y), second, edges);
}

// Whether p lies on a ring of four vertices (which, axis-parallel, cannot
// cross itself).
inline bool OnFourVertexRing(const PSPoint* p) {
  const PSPoint* q = p->next;
  if (!q || !(q = q->next) || !(q = q->next)) return false;
  return q->next == p;
}

template <BooleanOpCode C>
bool Sweep(const std::vector<VerticalEdge>& edges, PSList& out,
           bool* negativeFirst = nullptr);

// The vertical edges of the rings of a sweep's output, of one operand.
void AppendVerticals(const PSList& rings, bool second, std::vector<VerticalEdge>& edges) {
  for (const PSPoint* p = rings.head; p; p = p->link) PushVertical(p, p->next, second, edges);
}

// The lobes of an axis-parallel ring that winds around some region
// clockwise and around another counter-clockwise (a "bow tie"): the
// regions it winds around positively and those it winds around negatively,
// each as counter-clockwise rings, appended to edges as vertical edges of
// the operand. False, edges unchanged, when the ring winds one way only.
// ring holds the ring's own edges as first-operand edges; it is sorted.
bool AppendLobes(std::vector<VerticalEdge>& ring, bool second,
                 std::vector<VerticalEdge>& edges) {
  SortEdges(ring);
  ScratchList neg;
  if (!Sweep<BooleanOpCode::NegativeWinding>(ring, neg.list) || !neg.list.head) return false;
  ScratchList pos;
  if (!Sweep<BooleanOpCode::Or>(ring, pos.list) || !pos.list.head) return false;
  AppendVerticals(pos.list, second, edges);
  AppendVerticals(neg.list, second, edges);
  return true;
}

// Whether runs i and j (i < j) follow each other on a ring of m runs.
inline bool Neighbours(uint32_t i, uint32_t j, size_t m) {
  return j == i + 1 || (i == 0 && j + 1 == m);
}

inline bool BoxesMeet(const Run& a, const Run& b) {
  return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2;
}

// Whether two runs that are not neighbours share a point: a few runs pair
// by pair, more by a sweep over x that keeps the horizontal runs spanning
// the current x ordered by y.
bool RunsMeet(std::vector<Run>& runs) {
  const size_t m = runs.size();
  if (m <= 32) {
    for (size_t i = 0; i < m; ++i)
      for (size_t j = i + 1; j < m; ++j)
        if (!Neighbours(uint32_t(i), uint32_t(j), m) && BoxesMeet(runs[i], runs[j])) return true;
    return false;
  }
  // Vertical runs on one x that overlap: runs were merged where straight,
  // so two vertical runs are never neighbours.
  std::vector<const Run*> verticals, horizontals;
  for (const Run& r : runs) (r.Vertical() ? verticals : horizontals).push_back(&r);
  std::sort(verticals.begin(), verticals.end(), [](const Run* a, const Run* b) {
    return a->x1 != b->x1 ? a->x1 < b->x1 : a->y1 < b->y1;
  });
  int32_t top = 0;  // the highest top so far on this x
  for (size_t i = 0; i < verticals.size(); ++i) {
    if (i > 0 && verticals[i]->x1 == verticals[i - 1]->x1) {
      if (verticals[i]->y1 <= top) return true;
      top = std::max(top, verticals[i]->y2);
    } else {
      top = verticals[i]->y2;
    }
  }
  std::vector<const Run*> starts = horizontals, ends = horizontals;
  std::sort(starts.begin(), starts.end(), [](const Run* a, const Run* b) { return a->x1 < b->x1; });
  std::sort(ends.begin(), ends.end(), [](const Run* a, const Run* b) { return a->x2 < b->x2; });
  std::set<std::pair<int32_t, uint32_t>> active;  // (y, index) of spanning runs
  size_t is = 0, ie = 0, iv = 0;
  while (iv < verticals.size() || is < starts.size()) {
    int32_t x = INT32_MAX;
    if (is < starts.size()) x = starts[is]->x1;
    if (iv < verticals.size()) x = std::min(x, verticals[iv]->x1);
    // Runs that ended before x leave; those that end at x stay for now.
    for (; ie < ends.size() && ends[ie]->x2 < x; ++ie)
      active.erase({ends[ie]->y1, ends[ie]->index});
    for (; is < starts.size() && starts[is]->x1 == x; ++is) {
      const auto it = active.emplace(starts[is]->y1, starts[is]->index).first;
      if (it != active.begin() && std::prev(it)->first == it->first) return true;
      if (std::next(it) != active.end() && std::next(it)->first == it->first) return true;
    }
    for (; iv < verticals.size() && verticals[iv]->x1 == x; ++iv) {
      const Run& v = *verticals[iv];
      for (auto it = active.lower_bound({v.y1, 0}); it != active.end() && it->first <= v.y2; ++it) {
        const uint32_t i = std::min(v.index, it->second), j = std::max(v.index, it->second);
        if (!Neighbours(i, j, m)) return true;
      }
    }
  }
  return false;
}

// Whether an axis-parallel ring (its vertices in order) passes some point
// twice: two of its straight runs that do not follow each other share a
// point, or a run turns back on the one before it. Rings of four runs are
// rectangles. Only such a ring can wind around regions in both senses.
bool RingMeetsItself(const std::vector<Point>& ring, std::vector<Run>& runs) {
  runs.clear();
  const size_t n = ring.size();
  std::vector<int> dirs;  // 0 east, 1 north, 2 west, 3 south
  std::vector<std::pair<Point, Point>> spans;
  for (size_t i = 0; i < n; ++i) {
    const Point a = ring[i], b = ring[(i + 1) % n];
    if (a.x == b.x && a.y == b.y) continue;
    const int dir = a.y == b.y ? (b.x > a.x ? 0 : 2) : (b.y > a.y ? 1 : 3);
    if (!dirs.empty() && dirs.back() == dir) {
      spans.back().second = b;
      continue;
    }
    if (!dirs.empty() && dirs.back() == (dir + 2) % 4) return true;  // turns back on itself
    dirs.push_back(dir);
    spans.push_back({a, b});
  }
  if (dirs.size() >= 2 && dirs.back() == dirs.front()) {
    spans.front().first = spans.back().first;
    spans.pop_back();
    dirs.pop_back();
  } else if (dirs.size() >= 2 && (dirs.back() + 2) % 4 == dirs.front()) {
    return true;
  }
  // Four runs or fewer, none turning back: a rectangle.
  if (spans.size() <= 4) return false;
  for (size_t i = 0; i < spans.size(); ++i) {
    const Point a = spans[i].first, b = spans[i].second;
    runs.push_back(Run{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                       std::max(a.y, b.y), uint32_t(i)});
  }
  return RunsMeet(runs);
}

// Reads one ring whole from p (not a ring of four vertices), marking its
// vertices Visited: its vertical edges go to edges, or, when it is a bow
// tie, those of its lobes. False when the input is not for this path.
bool CollectRing(PSPoint* p, bool firstOnly, bool lobes, RingScratch& scratch,
                 std::vector<VerticalEdge>& edges) {
  constexpr uint16_t kClassBits = PSPointFlags::EdgeClassMask;
  constexpr uint16_t kSecond = PSPointFlags::SecondLayer;
  const bool second = (p->flags & kSecond) != 0;
  scratch.points.clear();
  scratch.edges.clear();
  PSPoint* a = p;
  do {
    PSPoint* b = a->next;
    if (!b || !a->prev) return false;
    if (a->flags & (kClassBits | PSPointFlags::Visited)) return false;
    if ((a->flags ^ b->flags) & kSecond) return false;
    if (a->x != b->x && a->y != b->y) return false;
    a->flags |= PSPointFlags::Visited;
    scratch.points.push_back(Point(a->x, a->y));
    PushVertical(a, b, false, scratch.edges);
    a = b;
  } while (a != p);
  if (firstOnly && second) return true;
  if (lobes && scratch.points.size() >= 6 && RingMeetsItself(scratch.points, scratch.runs) &&
      AppendLobes(scratch.edges, second, edges))
    return true;
  for (VerticalEdge e : scratch.edges) {
    if (second) std::swap(e.d1, e.d2);
    edges.push_back(e);
  }
  return true;
}

// Reads the operands into vertical edges. False when the input is not for
// this path. Rings of four vertices are read point by point; others whole,
// so that a bow tie is found and read as its lobes.
bool CollectEdges(const PSList& list, bool firstOnly, bool lobes,
                  std::vector<VerticalEdge>& edges) {
  constexpr uint16_t kClassBits = PSPointFlags::EdgeClassMask;
  constexpr uint16_t kSecond = PSPointFlags::SecondLayer;
  edges.reserve(size_t(list.pointCount > 0 ? list.pointCount : 0) / 2 + 1);
  std::vector<PSPoint*> walked;  // first vertices of the rings read whole
  RingScratch scratch;
  bool ok = true;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;  // read with its ring
    const PSPoint* q = p->next;
    if (!q || !p->prev) {  // an open chain or a lone point
      ok = false;
      break;
    }
    if (!OnFourVertexRing(p)) {
      walked.push_back(p);
      if (!CollectRing(p, firstOnly, lobes, scratch, edges)) {
        ok = false;
        break;
      }
      continue;
    }
    if ((p->flags & kClassBits) || ((p->flags ^ q->flags) & kSecond)) {
      ok = false;
      break;
    }
    if (p->x == q->x) {
      const bool second = (p->flags & kSecond) != 0;
      if (!(firstOnly && second)) PushVertical(p, q, second, edges);
    } else if (p->y != q->y) {
      ok = false;
      break;
    }
  }
  for (PSPoint* s : walked)
    for (PSPoint* a = s; a && (a->flags & PSPointFlags::Visited); a = a->next)
      a->flags &= uint16_t(~PSPointFlags::Visited);
  return ok;
}

// One interval [key, next key) of the sweep line.
struct Interval {
  int32_t c1 = 0;           // counts of the slab east of the line
  int32_t c2 = 0;
  uint32_t stamp = 0;       // the step in which westState was taken
  int8_t westState = 0;     // state west of the line, valid when stamp is
                            // the current step
  int8_t openDir = 0;       // +1 east, -1 west: the horizontal output edge
  PSPoint* open = nullptr;  // along the breakpoint, from this west vertex
};

// Directions: a horizontal edge runs east (+1, inside above) or west (-1,
// inside below); a vertical edge runs north (+1, inside west) or south
// (-1, inside east).
inline void LinkHorizontal(PSPoint* west, PSPoint* east, int dir) {
  if (dir > 0)
    LinkPoints(west, east);
  else
    LinkPoints(east, west);
}
inline void LinkVertical(PSPoint* low, PSPoint* high, int dir) {
  if (dir > 0)
    LinkPoints(low, high);
  else
    LinkPoints(high, low);
}

// Nodes of the sweep line from blocks of one sweep, recycled through a free
// list: the line inserts and removes a breakpoint for nearly every edge.
class NodeArena {
 public:
  void* Take(size_t size) {
    if (free_) {
      void* p = free_;
      free_ = *static_cast<void**>(p);
      return p;
    }
    size = (size + 15) & ~size_t(15);
    if (blocks_.empty() || used_ + size > kBlockBytes) {
      blocks_.emplace_back(new char[kBlockBytes]);
      used_ = 0;
    }
    void* p = blocks_.back().get() + used_;
    used_ += size;
    return p;
  }
  void Give(void* p) {
    *static_cast<void**>(p) = free_;
    free_ = p;
  }

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = 0;
  void* free_ = nullptr;
};

// Allocator of the line's map: single nodes from the arena (every node of
// one map has one size), anything else from the heap.
template <class T>
struct ArenaAllocator {
  using value_type = T;
  NodeArena* arena;
  explicit ArenaAllocator(NodeArena* a) : arena(a) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& o) : arena(o.arena) {}
  T* allocate(size_t n) {
    if (n == 1) return static_cast<T*>(arena->Take(sizeof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) {
    if (n == 1)
      arena->Give(p);
    else
      std::allocator<T>().deallocate(p, n);
  }
  template <class U>
  bool operator==(const ArenaAllocator<U>& o) const {
    return arena == o.arena;
  }
};

template <BooleanOpCode C>
class RectSweep {
 public:
  explicit RectSweep(PSList& out)
      : out_(out), line_(std::less<int64_t>(), Alloc(&arena_)) {
    line_.emplace(INT64_MIN, Interval{});
  }

  // Sweeps the sorted edges; false when a region is neither inside nor
  // outside, or the edges do not close.
  bool Run(const std::vector<VerticalEdge>& edges) {
    const size_t n = edges.size();
    size_t i = 0;
    while (i < n) {
      const int32_t x = edges[i].x;
      ++stamp_;
      // All edges at x first, in stretches of edges that overlap or abut:
      // merging breakpoints away before every stretch is walked would lose
      // the west states of the untouched intervals between stretches.
      stretches_.clear();
      while (i < n && edges[i].x == x) {
        size_t j = i + 1;
        int64_t hi = edges[i].hi;
        for (; j < n && edges[j].x == x && edges[j].lo <= hi; ++j)
          hi = std::max<int64_t>(hi, edges[j].hi);
        if (j == i + 1) {
          // A lone edge: the walk adds its counts as it passes.
          const Iter first = Breakpoint(edges[i].lo);
          BreakpointAbove(first, hi);
          stretches_.push_back(Stretch{first, hi, first, edges[i].d1, edges[i].d2});
        } else {
          const Iter first = Apply(edges[i]);
          for (size_t k = i + 1; k < j; ++k) Apply(edges[k]);
          stretches_.push_back(Stretch{first, hi, first, 0, 0});
        }
        i = j;
      }
      for (Stretch& s : stretches_)
        if (!Walk(s, x)) return false;
      for (const Stretch& s : stretches_) {
        const Iter below = std::prev(s.top);
        if (SameCounts(s.top->second, below->second)) line_.erase(s.top);
      }
    }
    return line_.size() == 1;
  }

  // Whether some region of the sweep had a first-operand count below 0.
  bool NegativeFirst() const { return negative1_; }

 private:
  using Alloc = ArenaAllocator<std::pair<const int64_t, Interval>>;
  using Line = std::map<int64_t, Interval, std::less<int64_t>, Alloc>;
  using Iter = Line::iterator;

  struct Stretch {
    Iter first;
    int64_t hi;
    Iter top;     // the breakpoint at hi, once walked
    int16_t d1;   // counts the walk adds below hi (a lone edge; otherwise
    int16_t d2;   // they were added before the walk)
  };

  static int State(const Interval& v) { return StateOf<C>(v.c1, v.c2); }
  int WestState(const Interval& v) const {
    return v.stamp == stamp_ ? v.westState : State(v);
  }

  // The breakpoint at y, made by splitting the interval that holds y.
  Iter Breakpoint(int64_t y) { return SplitAt(y, line_.lower_bound(y)); }

  // The breakpoint at y above `from` (y > from's key): a few steps up from
  // there, where the other end of an edge usually is, else a search.
  Iter BreakpointAbove(Iter from, int64_t y) {
    Iter it = std::next(from);
    for (int steps = 0; it != line_.end() && it->first < y; ++it)
      if (++steps == 8) return Breakpoint(y);
    return SplitAt(y, it);
  }

  // The breakpoint at y given the first breakpoint at or above y.
  Iter SplitAt(int64_t y, Iter it) {
    if (it != line_.end() && it->first == y) return it;
    const Interval& below = std::prev(it)->second;
    Interval v;
    v.c1 = below.c1;
    v.c2 = below.c2;
    v.stamp = stamp_;
    v.westState = int8_t(WestState(below));
    return line_.emplace_hint(it, y, v);
  }

  Iter Apply(const VerticalEdge& e) {
    const Iter first = Breakpoint(e.lo);
    const Iter last = BreakpointAbove(first, e.hi);
    for (Iter it = first; it != last; ++it) {
      Interval& v = it->second;
      if (v.stamp != stamp_) {
        v.westState = int8_t(State(v));
        v.stamp = stamp_;
      }
      v.c1 += e.d1;
      v.c2 += e.d2;
    }
    return first;
  }

  static bool SameCounts(const Interval& a, const Interval& b) {
    return a.c1 == b.c1 && a.c2 == b.c2;
  }

  // Walks the breakpoints of the stretch from `first` up to the one at hi
  // (returned in top), adding the stretch's own counts to the intervals
  // below hi when it is a lone edge, and puts out the vertices where output
  // edges meet. Breakpoints
  // below hi whose interval has the counts of the one below go; the one at
  // hi is left to the caller: its interval was not changed, and merging it
  // into the changed one below before every stretch at x is walked would
  // give it that interval's west state.
  bool Walk(Stretch& s, int32_t x) {
    const int64_t hi = s.hi;
    PSPoint* runLow = nullptr;  // lower vertex of the open vertical edge
    int runDir = 0;
    Iter below = std::prev(s.first);
    int eastBelow = State(below->second);
    for (Iter it = s.first;;) {
      Interval& v = it->second;
      const int west = WestState(v);
      if (it->first != hi) {
        v.c1 += s.d1;
        v.c2 += s.d2;
        // Every interval whose counts changed at x is walked here with
        // its final counts.
        if (v.c1 < 0) negative1_ = true;
      }
      const int east = State(v);
      if (west < 0 || east < 0 || eastBelow < 0) return false;
      const int oldH = v.open ? v.openDir : 0;
      const int newH = eastBelow == east ? 0 : (east ? 1 : -1);
      const int vA = west == east ? 0 : (east ? -1 : 1);
      if (oldH != newH || runDir != vA) {
        const int32_t y = int32_t(it->first);
        const int hW = oldH != newH ? oldH : 0;
        const int hE = oldH != newH ? newH : 0;
        const int vS = runDir != vA ? runDir : 0;
        const int vN = runDir != vA ? vA : 0;
        PSPoint* westVertex = v.open;
        if (hW && hE && vS && vN) {
          // Two rings touch here: one vertex per inside quadrant, the
          // upper one first.
          PSPoint* up = AppendPoint(out_, x, y);
          PSPoint* down = AppendPoint(out_, x, y);
          const bool westUp = west == 1;  // the north-west quadrant is inside
          LinkHorizontal(westVertex, westUp ? up : down, hW);
          LinkVertical(runLow, down, vS);
          v.open = westUp ? down : up;
          v.openDir = int8_t(hE);
          runLow = up;
          runDir = vN;
        } else {
          if ((hW != 0) + (hE != 0) != 1 || (vS != 0) + (vN != 0) != 1) return false;
          PSPoint* p = AppendPoint(out_, x, y);
          if (hW) {
            LinkHorizontal(westVertex, p, hW);
            v.open = nullptr;
            v.openDir = 0;
          } else {
            v.open = p;
            v.openDir = int8_t(hE);
          }
          if (vS) {
            LinkVertical(runLow, p, vS);
            runLow = nullptr;
            runDir = 0;
          } else {
            runLow = p;
            runDir = vN;
          }
        }
      }
      eastBelow = east;
      if (it->first == hi) {
        s.top = it;
        break;
      }
      const Iter next = std::next(it);
      if (SameCounts(v, below->second))
        line_.erase(it);
      else
        below = it;
      it = next;
    }
    return runDir == 0;
  }


  PSList& out_;
  NodeArena arena_;  // before the line: the line's nodes live in it
  Line line_;
  std::vector<Stretch> stretches_;
  uint32_t stamp_ = 0;
  bool negative1_ = false;
};

template <BooleanOpCode C>
bool Sweep(const std::vector<VerticalEdge>& edges, PSList& out,
           bool* negativeFirst) {
  RectSweep<C> sweep(out);
  const bool done = sweep.Run(edges);
  if (negativeFirst) *negativeFirst = sweep.NegativeFirst();
  return done;
}

}  // namespace

std::vector<PSPoint*> AxisParallelSelfMeetingRings(PSList& list) {
  std::vector<PSPoint*> rings;
  std::vector<Point> points;
  std::vector<Run> runs;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    points.clear();
    PSPoint* a = p;
    do {
      a->flags |= PSPointFlags::Visited;
      points.push_back(Point(a->x, a->y));
      a = a->next;
    } while (a && a != p);
    if (a && points.size() >= 6 && RingMeetsItself(points, runs)) rings.push_back(p);
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return rings;
}

void EnableRectilinearBoolean(bool enabled) { enabledFlag = enabled; }
bool RectilinearBooleanEnabled() { return enabledFlag; }

bool RectilinearBoolean(PSList& list, PSList& out, BooleanOpCode code, bool lobes) {
  if (!enabledFlag || !list.head) return false;
  bool empty = false;
  switch (code) {
    case BooleanOpCode::Empty1:
    case BooleanOpCode::Empty4:
    case BooleanOpCode::Empty7:
      empty = true;
      break;
    case BooleanOpCode::Merge:
    case BooleanOpCode::Or:
    case BooleanOpCode::Overlap:
    case BooleanOpCode::And:
    case BooleanOpCode::Diff:
    case BooleanOpCode::Xor:
    case BooleanOpCode::NegativeWinding:
      break;
    default:
      return false;
  }
  std::vector<VerticalEdge> edges;
  if (!CollectEdges(list, code == BooleanOpCode::Merge, lobes, edges)) return false;
  if (empty) return true;
  SortEdges(edges);
  ScratchList work;
  bool done = false;
  switch (code) {
    case BooleanOpCode::Merge: done = Sweep<BooleanOpCode::Merge>(edges, work.list); break;
    case BooleanOpCode::Or: done = Sweep<BooleanOpCode::Or>(edges, work.list); break;
    case BooleanOpCode::Overlap: done = Sweep<BooleanOpCode::Overlap>(edges, work.list); break;
    case BooleanOpCode::And: done = Sweep<BooleanOpCode::And>(edges, work.list); break;
    case BooleanOpCode::Diff: done = Sweep<BooleanOpCode::Diff>(edges, work.list); break;
    case BooleanOpCode::Xor: done = Sweep<BooleanOpCode::Xor>(edges, work.list); break;
    default: done = Sweep<BooleanOpCode::NegativeWinding>(edges, work.list); break;
  }
  if (!done) return false;
  SpliceList(out, work.list);
  return true;
}

int RectilinearChopRing(const std::vector<Point>& ring,
                        const std::vector<Box> (&tiles)[2], PSList& out) {
  if (!enabledFlag || ring.empty()) return 0;
  const size_t n = ring.size();
  // The ring is read as a copy of it would be (flags 0, first operand).
  RingScratch scratch;
  for (size_t i = 0; i < n; ++i) {
    const Point a = ring[i], b = ring[i + 1 == n ? 0 : i + 1];
    if (a.x != b.x && a.y != b.y) return 0;
    PushVertical(a, b, false, scratch.edges);
  }
  std::vector<VerticalEdge> ringEdges;
  ringEdges.swap(scratch.edges);
  SortEdges(ringEdges);

  auto less = [](const VerticalEdge& u, const VerticalEdge& v) {
    return u.x != v.x ? u.x < v.x : u.lo < v.lo;
  };
  std::vector<VerticalEdge> boxEdges, edges;
  // A ring that winds around no region clockwise is read as drawn (a bow
  // tie check would find no lobe to read); the first sweep tells, as its
  // first-operand counts are the ring's winding numbers. Otherwise the
  // sweeps run again on the ring read as a copy would be, lobes and all.
  bool readAsDrawn = true;
  for (int k = 0; k < 2; ++k) {
    // The vertical edges of the boxes as rings of the second operand
    // (x1, y1) -> (x2, y1) -> (x2, y2) -> (x1, y2) would give them.
    boxEdges.clear();
    for (const Box& t : tiles[k]) {
      const Point corners[4] = {Point(t.x1, t.y1), Point(t.x2, t.y1),
                                Point(t.x2, t.y2), Point(t.x1, t.y2)};
      for (int c = 0; c < 4; ++c)
        PushVertical(corners[c], corners[(c + 1) % 4], true, boxEdges);
    }
    std::sort(boxEdges.begin(), boxEdges.end(), less);
    edges.clear();
    edges.reserve(ringEdges.size() + boxEdges.size());
    std::merge(ringEdges.begin(), ringEdges.end(), boxEdges.begin(), boxEdges.end(),
               std::back_inserter(edges), less);
    ScratchList work;
    bool negative = false;
    const bool done = Sweep<BooleanOpCode::And>(edges, work.list, &negative);
    if (readAsDrawn && negative) {
      // Nothing of this sweep is kept: with lobes the ring's edges differ.
      readAsDrawn = false;
      ClearPointList(work.list);
      scratch = RingScratch{};
      ringEdges.clear();
      for (size_t i = 0; i < n; ++i)
        PushVertical(ring[i], ring[i + 1 == n ? 0 : i + 1], false, scratch.edges);
      if (!(n >= 6 && RingMeetsItself(ring, scratch.runs) &&
            AppendLobes(scratch.edges, false, ringEdges)))
        ringEdges.swap(scratch.edges);
      SortEdges(ringEdges);
      k = -1;
      continue;
    }
    if (!done) return k;
    SpliceList(out, work.list);
  }
  return 2;
}

}  // namespace velmar
