// Relational classification and the selections on a classified list.
#include "geometry/relational.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/ring_connect.h"
#include "geometry/scan_sweep.h"

namespace velmar {

namespace {

constexpr uint16_t kVisited = PSPointFlags::Visited;
constexpr uint16_t kOwn = PSPointFlags::OwnBoundary;
constexpr uint16_t kAbut = PSPointFlags::Abutting;
constexpr uint16_t kOverlap = PSPointFlags::Overlap;
constexpr uint16_t kSecond = PSPointFlags::SecondLayer;
constexpr uint16_t kRingAbut = PSPointFlags::RingAbutting;
constexpr uint16_t kSplit = PSPointFlags::SplitVertex;

inline int Field1(const PSPoint* p) { return (p->flags >> 1) & 3; }
inline int Field2(const PSPoint* p) { return (p->flags >> 3) & 3; }
inline bool IsSecond(const PSPoint* p) { return (p->flags & kSecond) != 0; }
inline bool Odd(int f) { return (f & 1) != 0; }

// Returns a work list's points to the pool when a step throws.
struct ListCleanup {
  PSList& list;
  ~ListCleanup() { ClearPointList(list); }
};

// Selection rule of the ring and edge selections for a decision value.
bool Selected(int value, RelationalCode code, bool negate) {
  const int c = int(code);
  const bool take = (c >= 14 && c <= 19) ? value > 1 : value != 0;
  return take != negate;
}

void CheckRingCode(RelationalCode code) {
  if (int(code) < 10 || int(code) > 23)
    throw Error("Unknown relational code", "DRC");
}

// Marks every vertex of the ring or chain through p visited and tells
// whether any of its edges carries Overlap; true when it is a closed ring.
bool MarkWhole(PSPoint* p, bool& overlap) {
  PSPoint* q = p;
  do {
    q->flags |= kVisited;
    if (q->flags & kOverlap) overlap = true;
    q = q->next;
  } while (q && q != p);
  if (q == p) return true;
  for (q = p->prev; q && q != p; q = q->prev) q->flags |= kVisited;
  return false;
}

// Appends a copy of the input ring through p: the ring's vertices without
// those that the classification inserted, so the copy is the ring as it was
// given, vertex for vertex. Copies carry flags 0.
void AppendInputRing(const PSPoint* p, PSList& dst) {
  const PSPoint* s = p;
  while (s->flags & kSplit) {
    s = s->next;
    if (s == p) return;  // nothing of the input ring left
  }
  PSPoint* first = PushPoint(dst, s->x, s->y);
  PSPoint* last = first;
  for (const PSPoint* q = s->next; q != s; q = q->next) {
    if (q->flags & kSplit) continue;
    PSPoint* c = PushPoint(dst, q->x, q->y);
    LinkPoints(last, c);
    last = c;
  }
  LinkPoints(last, first);
  ++dst.ringCount;
}

}  // namespace

uint16_t ClassificationField(int32_t below, int32_t above) {
  const bool inBelow = below >= 1, inAbove = above >= 1;
  if (!inBelow && !inAbove) return 0;
  if (inBelow && inAbove) return 2;
  const int64_t diff = int64_t(above) - below;
  return (diff < 2 && diff > -2) ? 1 : 3;
}

bool ClassifyEdge(PSPoint* left, PSPoint* right, int32_t count1Below,
                  int32_t count1Above, int32_t count2Below,
                  int32_t count2Above) {
  const bool forward = left->next == right;
  PSPoint* start = forward ? left : right;
  start->flags |= uint16_t(ClassificationField(count1Below, count1Above) << 1) |
                  uint16_t(ClassificationField(count2Below, count2Above) << 3);
  const bool second = IsSecond(left);
  const int32_t below = second ? count2Below : count1Below;
  const int32_t above = second ? count2Above : count1Above;
  return forward ? (below < 1 && above >= 1) : (below >= 1 && above < 1);
}

namespace {

inline int Contribution(const SweepEdge& e) { return e.forward ? 1 : -1; }
inline bool EdgeIsSecond(const SweepEdge& e) { return IsSecond(e.left); }
inline PSPoint* StartPoint(const SweepEdge& e) {
  return e.forward ? e.left : e.right;
}

// Ring membership of the vertices of a list under classification. Every
// input vertex is entered before the sweep with the index of its ring (or
// open chain); a vertex that the sweep inserts lies between input vertices
// of its ring and is resolved from them on first use, then entered too.
// An open-addressing table keyed by the vertex address: constant expected
// time per look-up, one array for the whole list.
class RingTable {
 public:
  struct Ring {
    int64_t stamp = 0;       // walk counter when the ring's interval opened
    bool clockwise = false;  // the ring winds clockwise (inside on its right)
    bool closed = false;     // a ring, not an open chain
  };

  explicit RingTable(PSList& list) {
    size_t capacity = 16;
    while (capacity < 2 * size_t(std::max<int32_t>(list.pointCount, 0)) + 2)
      capacity *= 2;
    Resize(capacity);
    for (PSPoint* p = list.head; p; p = p->link) {
      if (p->flags & kVisited) continue;
      const uint32_t r = uint32_t(rings_.size());
      Ring ring;
      __int128 area2 = 0;
      PSPoint* q = p;
      do {
        q->flags |= kVisited;
        Insert(q, r);
        if (q->next)
          area2 += __int128(int64_t(q->x) * q->next->y) -
                   __int128(int64_t(q->next->x) * q->y);
        q = q->next;
      } while (q && q != p);
      ring.closed = q == p;
      if (!ring.closed) {
        for (q = p->prev; q && q != p; q = q->prev) {
          q->flags |= kVisited;
          Insert(q, r);
        }
      }
      ring.clockwise = ring.closed && area2 < 0;
      if (ring.clockwise || !ring.closed) allCounterClockwise_ = false;
      rings_.push_back(ring);
    }
    MaskFlags(list, -2);
  }

  // Whether every input ring is a closed counter-clockwise ring: the
  // winding count of an operand is then at least 1 inside each of its rings.
  bool AllCounterClockwise() const { return allCounterClockwise_; }

  Ring& operator[](uint32_t r) { return rings_[r]; }

  // Index of the ring holding p.
  uint32_t RingOf(PSPoint* p) {
    if (const uint32_t* v = Find(p)) return *v & ~kInserted;
    // Walk forward to a vertex already entered (backward at a chain end),
    // then enter every vertex passed on the way.
    PSPoint* q = p->next;
    while (q && q != p && !Find(q)) q = q->next;
    bool forward = true;
    if (!q || q == p) {
      forward = false;
      q = p->prev;
      while (q && q != p && !Find(q)) q = q->prev;
    }
    uint32_t r;
    if (q && q != p) {
      r = *Find(q) & ~kInserted;
    } else {
      // No input vertex around it: a ring of its own.
      r = uint32_t(rings_.size());
      rings_.push_back(Ring{0, false, q == p});
      q = nullptr;
    }
    for (PSPoint* t = p; t && t != q; t = forward ? t->next : t->prev) {
      Insert(t, r | kInserted);
      if (!q && (forward ? t->next : t->prev) == p) break;
    }
    return r;
  }

  // Whether p was a vertex of the list before the sweep.
  bool IsInput(const PSPoint* p) const {
    const uint32_t* v = Find(p);
    return v && !(*v & kInserted);
  }

 private:
  static constexpr uint32_t kInserted = 0x80000000u;

  size_t Slot(const PSPoint* p) const {
    return size_t((uint64_t(reinterpret_cast<uintptr_t>(p)) *
                   0x9E3779B97F4A7C15ull) >> shift_);
  }

  const uint32_t* Find(const PSPoint* p) const {
    for (size_t i = Slot(p);; i = (i + 1) & mask_) {
      if (slots_[i].key == p) return &slots_[i].value;
      if (!slots_[i].key) return nullptr;
    }
  }

  void Insert(PSPoint* p, uint32_t v) {
    if (2 * (used_ + 1) > slots_.size()) Grow();
    size_t i = Slot(p);
    while (slots_[i].key && slots_[i].key != p) i = (i + 1) & mask_;
    if (!slots_[i].key) ++used_;
    slots_[i] = Entry{p, v};
  }

  void Resize(size_t capacity) {
    slots_.assign(capacity, Entry{});
    mask_ = capacity - 1;
    shift_ = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --shift_;
    used_ = 0;
  }

  void Grow() {
    std::vector<Entry> old;
    old.swap(slots_);
    Resize(old.size() * 2);
    for (const Entry& e : old)
      if (e.key) Insert(e.key, e.value);
  }

  struct Entry {
    PSPoint* key = nullptr;
    uint32_t value = 0;
  };
  std::vector<Entry> slots_;
  size_t mask_ = 0;
  int shift_ = 64;
  size_t used_ = 0;
  std::vector<Ring> rings_;
  bool allCounterClockwise_ = true;
};

// State of the classification sweep shared by its column walks.
struct Classification {
  explicit Classification(PSList& list) : rings(list) {}

  RingTable rings;
  // seen[0] counts the regions walked (over all columns) that lie inside
  // the first operand, seen[1] those inside the second. A ring's interval
  // in a column shares area with the other operand when the other's count
  // has grown between the ring's opening and closing edges.
  int64_t seen[2] = {0, 0};
  // Scratch: rings of the members of one group.
  std::vector<uint32_t> groupRings;
};

// Running counts of the walk up one column, and whether the walk follows
// the rings' intervals in it.
struct ColumnWalk {
  int32_t count1 = 0;
  int32_t count2 = 0;
  bool track = true;
};

// The ring of an edge as far as its orientation goes: looked up only when
// the list holds rings that are not counter-clockwise.
// Ring index of an active edge, kept with the edge while it stays active.
uint32_t RingOfEdge(Classification& c, const SweepEdge& e) {
  if (e.tag == SweepEdge::kNoTag) e.tag = c.rings.RingOf(StartPoint(e));
  return e.tag;
}

const RingTable::Ring& OrientationOf(Classification& c, const SweepEdge& e) {
  static const RingTable::Ring kCounterClockwise{0, false, true};
  if (c.rings.AllCounterClockwise()) return kCounterClockwise;
  return c.rings[RingOfEdge(c, e)];
}

// Whether some region of the column lies inside both operands. When every
// ring is counter-clockwise, no ring's interval can share area with the
// other operand in a column without one, and the walk need not follow the
// intervals there. Regions between coincident edges count too (harmless:
// the walk then merely follows the intervals).
bool ColumnHasCommonRegion(const SweepColumn& col) {
  int32_t c1 = 0, c2 = 0;
  for (const ActiveEdge* e = col.First(); e; e = SweepColumn::Next(e)) {
    const SweepEdge& m = SweepColumn::Edge(e);
    (EdgeIsSecond(m) ? c2 : c1) += Contribution(m);
    if (c1 >= 1 && c2 >= 1) return true;
  }
  return false;
}

// Marks the representatives of a group: OwnBoundary on each operand's, and
// Abutting on both when both exist and run in opposite directions.
void MarkRepresentatives(const SweepEdge* rep1, const SweepEdge* rep2) {
  if (rep1) StartPoint(*rep1)->flags |= kOwn;
  if (rep2) StartPoint(*rep2)->flags |= kOwn;
  if (rep1 && rep2 && rep1->forward != rep2->forward) {
    StartPoint(*rep1)->flags |= kAbut;
    StartPoint(*rep2)->flags |= kAbut;
  }
}

// Whether the inside of the edge's ring lies above the edge (west of a
// vertical edge): a counter-clockwise ring has its inside on the left.
inline bool InsideAbove(const SweepEdge& e, const RingTable::Ring& ring) {
  return e.forward != ring.clockwise;
}

// Sets RingAbutting on the edge when the other operand covers only the side
// of the edge that lies outside the edge's own ring. The other operand's
// counts are those of the sweep; rings of the edge's own operand play no
// part.
void MarkRingAbutting(const SweepEdge& e, const RingTable::Ring& ring,
                      int32_t count1Below, int32_t count1Above,
                      int32_t count2Below, int32_t count2Above) {
  const bool second = EdgeIsSecond(e);
  const bool below = (second ? count1Below : count2Below) >= 1;
  const bool above = (second ? count1Above : count2Above) >= 1;
  if (below == above) return;
  if (InsideAbove(e, ring) ? below : above) StartPoint(e)->flags |= kRingAbut;
}

// Classifies the group of coincident vertical edges starting at index i
// (east side below, west side above); the running counts stay unchanged.
// Every member is classified; each operand's representative is its
// own-boundary member with the smallest upper y. Returns the index after
// the group.
int32_t ClassifyVerticalGroup(Classification& c, const SweepColumn& col,
                              int32_t i, const ColumnWalk& w) {
  const SweepEdge& first = col.verticals[i];
  int32_t end = i;
  int32_t c1 = w.count1, c2 = w.count2;
  while (end < col.verticalCount && SameEdgeGroup(first, col.verticals[end])) {
    const SweepEdge& e = col.verticals[end];
    (EdgeIsSecond(e) ? c2 : c1) += Contribution(e);
    ++end;
  }
  const SweepEdge* rep[2] = {nullptr, nullptr};
  for (int32_t j = i; j < end; ++j) {
    const SweepEdge& e = col.verticals[j];
    MarkRingAbutting(e, OrientationOf(c, e), w.count1, c1, w.count2, c2);
    if (!ClassifyEdge(e.left, e.right, w.count1, c1, w.count2, c2)) continue;
    const SweepEdge*& r = rep[EdgeIsSecond(e) ? 1 : 0];
    if (!r || e.right->y < r->right->y) r = &e;
  }
  MarkRepresentatives(rep[0], rep[1]);
  return end;
}

// Counts and classifies the group of coincident active edges that starts
// at node e (the grouping of the boolean sweep, against the group's first
// edge), updating the running counts. Every member also closes or opens
// its ring's interval in the column: a member with its ring below it closes
// the interval and marks itself Overlap when the other operand was inside
// somewhere in that interval; a member with its ring above it opens one.
// Returns the node after the group.
const ActiveEdge* CountClassifyGroup(Classification& c, const SweepColumn& col,
                                     const ActiveEdge* e, ColumnWalk& w) {
  const SweepEdge& first = SweepColumn::Edge(e);
  const ActiveEdge* end = e;
  const int32_t c1b = w.count1, c2b = w.count2;
  int32_t c1a = c1b, c2a = c2b;
  c.groupRings.clear();
  while (end && SameEdgeGroup(first, SweepColumn::Edge(end))) {
    const SweepEdge& m = SweepColumn::Edge(end);
    (EdgeIsSecond(m) ? c2a : c1a) += Contribution(m);
    if (w.track) c.groupRings.push_back(RingOfEdge(c, m));
    end = SweepColumn::Next(end);
  }
  const SweepEdge* rep[2] = {nullptr, nullptr};
  size_t k = 0;
  for (const ActiveEdge* n = e; n != end; n = SweepColumn::Next(n), ++k) {
    const SweepEdge& m = SweepColumn::Edge(n);
    const bool second = EdgeIsSecond(m);
    if (m.left->x == col.x) {
      MarkRingAbutting(m,
                       w.track ? c.rings[c.groupRings[k]] : OrientationOf(c, m),
                       c1b, c1a, c2b, c2a);
      if (ClassifyEdge(m.left, m.right, c1b, c1a, c2b, c2a)) {
        const SweepEdge*& r = rep[second ? 1 : 0];
        if (!r || m.right->x < r->right->x) r = &m;
      }
    }
    if (!w.track) continue;
    const RingTable::Ring& ring = c.rings[c.groupRings[k]];
    if (ring.closed && !InsideAbove(m, ring) &&
        c.seen[second ? 0 : 1] > ring.stamp)
      StartPoint(m)->flags |= kOverlap;
  }
  if (w.track) {
    k = 0;
    for (const ActiveEdge* n = e; n != end; n = SweepColumn::Next(n), ++k) {
      const SweepEdge& m = SweepColumn::Edge(n);
      RingTable::Ring& ring = c.rings[c.groupRings[k]];
      if (ring.closed && InsideAbove(m, ring))
        ring.stamp = c.seen[EdgeIsSecond(m) ? 0 : 1];
    }
  }
  MarkRepresentatives(rep[0], rep[1]);
  // The region above the group.
  if (c1a >= 1) ++c.seen[0];
  if (c2a >= 1) ++c.seen[1];
  w.count1 = c1a;
  w.count2 = c2a;
  return end;
}

// The classification walk up one column: groups of active edges bottom-up,
// with the vertical edges classified where the walk reaches their lower
// ends.
void ClassifyColumn(void* context, const SweepColumn& col) {
  Classification& c = *static_cast<Classification*>(context);
  ColumnWalk w;
  w.track = !c.rings.AllCounterClockwise() || ColumnHasCommonRegion(col);
  int32_t v = 0;
  for (const ActiveEdge* e = col.First(); e;) {
    const int32_t g = EdgeYAt(SweepColumn::Edge(e), col.x);
    while (v < col.verticalCount && col.verticals[v].left->y < g)
      v = ClassifyVerticalGroup(c, col, v, w);
    e = CountClassifyGroup(c, col, e, w);
  }
  while (v < col.verticalCount) v = ClassifyVerticalGroup(c, col, v, w);
}

}  // namespace

void ClassifyPoints(PSList& list) {
  if (!list.head) return;
  // Start from clean fields: the walk ORs them into the points.
  MaskFlags(list, ~0x03FF);
  // Ring membership first, while the list holds only input vertices.
  Classification c(list);
  // Every crossing a vertex first, so that the classifying walk sees the
  // final geometry (snap-rounded).
  SettleCrossings(list);
  SortPoints(list, ComparePointLess);
  ScanSweepColumns(list, ClassifyColumn, &c);
  for (PSPoint* p = list.head; p; p = p->link)
    if (!c.rings.IsInput(p)) p->flags |= kSplit;
}

int SelectByClass(const PSPoint* p, RelationalCode code) {
  const int f1 = Field1(p), f2 = Field2(p);
  const bool own = p->flags & kOwn, abut = p->flags & kAbut;
  const bool second = IsSecond(p), first = !second;
  switch (code) {
    case RelationalCode::ROr1:
      return first && own ? 1 : 0;
    case RelationalCode::ROr2:
      return second && own ? 1 : 0;
    case RelationalCode::ROr:
      if (f1 == 2 || f2 == 2 || !own || abut) return 0;
      if (Odd(f1) && Odd(f2) && second) return 0;
      return 1;
    case RelationalCode::RAnd1:
      return first && (f1 || f2) && !own ? 1 : 0;
    case RelationalCode::RAnd2:
      return second && (f1 || f2) && !own ? 1 : 0;
    case RelationalCode::RAnd:
      if (!f1 || !f2 || !(own || abut)) return 0;
      if (second && f1 == 2) return 1;
      if (first && f2 == 2) return 1;
      if (first && Odd(f2) && !abut) return 1;
      return 0;
    case RelationalCode::RDiff:
      if (!(own || abut)) return 0;
      if (second && f1 == 2) return 2;
      if (first && f2 == 0) return 1;
      if (first && Odd(f2) && abut) return 1;
      return 0;
    case RelationalCode::RDiff2:
      if (!(own || abut)) return 0;
      if (first && f2 == 2) return 2;
      if (second && f1 == 0) return 1;
      if (second && Odd(f1) && abut) return 1;
      return 0;
    case RelationalCode::RXor:
      if (!own) return 0;
      if (f1 && f2) return ((second && f1 == 2) || (first && f2 == 2)) ? 2 : 0;
      return 1;
    default:
      return 0;
  }
}

int RelationalDecision(const PSPoint* p, RelationalCode code, bool edgeMode,
                       bool ringOverlap) {
  const int f1 = Field1(p), f2 = Field2(p);
  const bool abut = p->flags & kRingAbut;
  const bool over = edgeMode ? (p->flags & kOverlap) != 0 : ringOverlap;
  // A ring that shares area with the other operand is outside it nowhere;
  // an edge alone is judged by its sides.
  const bool outsideAllowed = edgeMode || !over;
  const int sin = f2 == 2, sin2 = f1 == 2;
  const int sout = f2 == 0 && outsideAllowed;
  const int sout2 = f1 == 0 && outsideAllowed;
  const int inside = sin || (Odd(f2) && !abut);
  const int inside2 = sin2 || (Odd(f1) && !abut);
  const bool touchOut = abut && outsideAllowed;
  switch (code) {
    case RelationalCode::SIn: return sin;
    case RelationalCode::SIn2: return sin2;
    case RelationalCode::SOut: return sout;
    case RelationalCode::SOut2: return sout2;
    case RelationalCode::TIn: return Odd(f2) && !abut ? 2 : sin;
    case RelationalCode::TIn2: return Odd(f1) && !abut ? 2 : sin2;
    case RelationalCode::TOut: return touchOut ? 2 : sout;
    case RelationalCode::TOut2: return touchOut ? 2 : sout2;
    case RelationalCode::Over: return over || inside ? 3 : 1;
    case RelationalCode::Over2: return over || inside2 ? 3 : 1;
    case RelationalCode::Inside: return inside;
    case RelationalCode::Inside2: return inside2;
    case RelationalCode::Outside: return sout || touchOut;
    case RelationalCode::Outside2: return sout2 || touchOut;
    default: return 0;
  }
}

void CollectSelectedEdges(PSList& list, PSList& out, RelationalCode code,
                          bool edgesOnly) {
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    // Start of the walk: the ring through p, or the first vertex of the
    // open chain holding p.
    PSPoint* start = p;
    PSPoint* t = p;
    while (t->prev && t->prev != p) t = t->prev;
    const bool isRing = t->prev == p;
    if (!isRing) start = t;

    int runDec = 0;              // decision of the run that ends at q
    PSPoint* runLast = nullptr;  // copy of q made by that run
    int firstDec = 0;            // decision of the first edge
    PSPoint* firstCopy = nullptr;
    bool allSame = true;
    PSPoint* q = start;
    do {
      q->flags |= kVisited;
      PSPoint* n = q->next;
      if (!n) break;
      const int dec = SelectByClass(q, code);
      if (q == start) firstDec = dec;
      if (dec != firstDec) allSame = false;
      if (dec != 0 && edgesOnly) {
        PSPoint* a = PushPoint(out, q->x, q->y);
        PSPoint* b = PushPoint(out, n->x, n->y);
        if (dec == 1) LinkPoints(a, b); else LinkPoints(b, a);
      } else if (dec != 0) {
        PSPoint* cq = (runDec == dec && runLast) ? runLast
                                                 : PushPoint(out, q->x, q->y);
        if (q == start) firstCopy = cq;
        PSPoint* cn = (isRing && n == start && firstDec == dec && firstCopy &&
                       firstCopy != cq)
                          ? firstCopy
                          : PushPoint(out, n->x, n->y);
        if (dec == 1) LinkPoints(cq, cn); else LinkPoints(cn, cq);
        runDec = dec;
        runLast = cn;
      } else {
        runDec = 0;
        runLast = nullptr;
      }
      q = n;
    } while (q != start);
    if (isRing && !edgesOnly && allSame && firstDec != 0) ++out.ringCount;
  }
  MaskFlags(list, -2);
}

namespace {

// Drops the ring vertices that lie in line with their neighbours, except
// where two or more vertices of the list share a position: there a ring
// passes a point several times (three rings of edges meeting in one point
// can bound a region of alternate sectors), and joining the edges through
// it would leave straight runs that cross each other. Rings left without
// area go.
void RemoveCollinearKeepingMeetings(PSList& list) {
  std::vector<Point> all;
  for (const PSPoint* p = list.head; p; p = p->link) all.push_back(Point(p->x, p->y));
  const auto less = [](const Point& u, const Point& v) {
    return u.x != v.x ? u.x < v.x : u.y < v.y;
  };
  std::sort(all.begin(), all.end(), less);
  std::vector<Point> shared;
  for (size_t i = 1; i < all.size(); ++i)
    if (all[i].x == all[i - 1].x && all[i].y == all[i - 1].y &&
        (shared.empty() || shared.back().x != all[i].x || shared.back().y != all[i].y))
      shared.push_back(all[i]);
  if (shared.empty()) {
    Simplify(list, 0);
    return;
  }
  const auto meets = [&](const PSPoint* p) {
    return std::binary_search(shared.begin(), shared.end(), Point(p->x, p->y), less);
  };
  for (PSPoint* q = list.head; q; q = q->link) {
    if ((q->flags & PSPointFlags::Deleted) || !q->next || !q->prev) continue;
    PSPoint* v = q;
    // Unlink v while it is in line; then its predecessor may be.
    while (!(v->flags & PSPointFlags::Deleted) && v->prev != v->next && v->next != v &&
           !meets(v) && Cross(v->prev, v, v->next) == 0) {
      PSPoint* before = v->prev;
      LinkPoints(before, v->next);
      v->flags |= PSPointFlags::Deleted;
      v = before;
    }
  }
  // Rings without area (two vertices, or all in line) go whole.
  MarkRingsWithoutArea(list);
  PurgeDeleted(list);
}

}  // namespace

void SelectEdges(PSList& list, PSList& out, RelationalCode code,
                 bool edgesOnly) {
  if (int(code) < 0 || int(code) > 8)
    throw Error("Unknown relational code", "DRC");
  PSList work;
  ListCleanup workCleanup{work};
  if (code == RelationalCode::RAnd1 || code == RelationalCode::RAnd2) {
    // The selected edges bound the overlap; merge them as one layer.
    CollectSelectedEdges(list, work, code, false);
    if (work.head) {
      ClassifyPoints(work);
      SelectEdges(work, out, RelationalCode::ROr1, edgesOnly);
    }
    return;
  }
  CollectSelectedEdges(list, work, code, edgesOnly);
  if (edgesOnly) {
    SpliceList(out, work);
    return;
  }
  PSList chains;
  ListCleanup chainsCleanup{chains};
  SplitOffOpenChains(work, chains);
  if (chains.head) {
    SortPoints(chains, ComparePointChain);
    ConnectPolygons(chains);
  }
  SpliceList(work, chains);
  // Joined rings are not counted by the connection: recount so that the
  // simplification below keeps an exact ring count.
  CountRings(work);
  RemoveCollinearKeepingMeetings(work);
  SpliceList(out, work);
}

void RelationalSelect(PSList& list, PSList& out, RelationalCode code,
                      bool negate) {
  CheckRingCode(code);
  const bool second = (int(code) & 1) != 0;
  PSList work;
  ListCleanup workCleanup{work};
  for (PSPoint* p = list.head; p; p = p->link) {
    if ((p->flags & kVisited) || IsSecond(p) != second) continue;
    // The whole ring is judged once: mark all of it, not only the part the
    // walk below reaches, so that no later vertex starts a second copy. An
    // open chain is no ring to judge or copy.
    bool overlap = false;
    if (!MarkWhole(p, overlap)) continue;
    int best = 0, value = 0;
    const PSPoint* q = p;
    for (;;) {
      const int d = RelationalDecision(q, code, false, overlap);
      if (d == 0 || d == 3) {
        value = d;
        break;
      }
      best = std::max(best, d);
      q = q->next;
      if (q == p) {
        value = best;
        break;
      }
    }
    if (Selected(value, code, negate)) AppendInputRing(p, work);
  }
  MaskFlags(list, -2);
  SpliceList(out, work);
}

void RelationalSelectEdges(PSList& list, PSList& out, RelationalCode code,
                           bool negate) {
  CheckRingCode(code);
  const bool second = (int(code) & 1) != 0;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (IsSecond(p) != second || !p->next) continue;
    if (!Selected(RelationalDecision(p, code, true), code, negate)) continue;
    PSPoint* a = PushPoint(out, p->x, p->y);
    PSPoint* b = PushPoint(out, p->next->x, p->next->y);
    LinkPoints(a, b);
  }
}

}  // namespace velmar
