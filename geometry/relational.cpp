// Relational classification and the selections on a classified list.
#include "geometry/relational.h"

#include <algorithm>

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

// Marks every vertex of the ring or chain through p visited; true when it
// is a closed ring.
bool MarkWhole(PSPoint* p) {
  PSPoint* q = p;
  do {
    q->flags |= kVisited;
    q = q->next;
  } while (q && q != p);
  if (q == p) return true;
  for (q = p->prev; q && q != p; q = q->prev) q->flags |= kVisited;
  return false;
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

// Running state of the classification walk up one column.
struct ColumnWalk {
  int32_t count1 = 0;
  int32_t count2 = 0;
  bool inside1 = false;  // A1: layer 1 was inside since layer 2 was last entered
  bool inside2 = false;  // A2: layer 2 was inside since layer 1 was last entered
};

inline int Contribution(const SweepEdge& e) { return e.forward ? 1 : -1; }
inline bool EdgeIsSecond(const SweepEdge& e) { return IsSecond(e.left); }
inline PSPoint* StartPoint(const SweepEdge& e) {
  return e.forward ? e.left : e.right;
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

// Classifies the group of coincident vertical edges starting at index i
// (east side below, west side above); the running counts stay unchanged.
// Every member is classified; each operand's representative is its
// own-boundary member with the smallest upper y. Returns the index after
// the group.
int32_t ClassifyVerticalGroup(const SweepColumn& col, int32_t i,
                              const ColumnWalk& w) {
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
    if (!ClassifyEdge(e.left, e.right, w.count1, c1, w.count2, c2)) continue;
    const SweepEdge*& r = rep[EdgeIsSecond(e) ? 1 : 0];
    if (!r || e.right->y < r->right->y) r = &e;
  }
  MarkRepresentatives(rep[0], rep[1]);
  return end;
}

// Counts and classifies the group of coincident active edges that starts
// at node e (the grouping of the boolean sweep, against the group's first
// edge), updating the running counts and overlap marks. Returns the node
// after the group.
const ActiveEdge* CountClassifyGroup(const SweepColumn& col,
                                     const ActiveEdge* e, ColumnWalk& w) {
  const SweepEdge& first = SweepColumn::Edge(e);
  const ActiveEdge* end = e;
  const int32_t c1b = w.count1, c2b = w.count2;
  int32_t c1a = c1b, c2a = c2b;
  while (end && SameEdgeGroup(first, SweepColumn::Edge(end))) {
    const SweepEdge& m = SweepColumn::Edge(end);
    (EdgeIsSecond(m) ? c2a : c1a) += Contribution(m);
    end = SweepColumn::Next(end);
  }
  // Overlap tracking.
  bool raise1 = false, raise2 = false;
  if (c1b > 0) w.inside1 = true;
  if (c2b > 0) w.inside2 = true;
  if (c1b < 1 && c1a >= 1) {
    w.inside2 = c2a > 0;
  } else if (c1b >= 1 && c1a < 1) {
    raise1 = w.inside2;
    w.inside2 = false;
  }
  if (c2b < 1 && c2a > 0) {
    w.inside1 = c1a > 0;
  } else if (c2b >= 1 && c2a < 1) {
    raise2 = w.inside1;
    w.inside1 = false;
  }
  const SweepEdge* rep[2] = {nullptr, nullptr};
  for (const ActiveEdge* n = e; n != end; n = SweepColumn::Next(n)) {
    const SweepEdge& m = SweepColumn::Edge(n);
    const bool second = EdgeIsSecond(m);
    if (m.left->x == col.x &&
        ClassifyEdge(m.left, m.right, c1b, c1a, c2b, c2a)) {
      const SweepEdge*& r = rep[second ? 1 : 0];
      if (!r || m.right->x < r->right->x) r = &m;
    }
    if (!m.forward && !(m.right->flags & kOverlap) &&
        (second ? raise2 : raise1))
      m.right->flags |= kOverlap;
  }
  MarkRepresentatives(rep[0], rep[1]);
  w.count1 = c1a;
  w.count2 = c2a;
  return end;
}

// The classification walk up one column: groups of active edges bottom-up,
// with the vertical edges classified where the walk reaches their lower
// ends.
void ClassifyColumn(void*, const SweepColumn& col) {
  ColumnWalk w;
  int32_t v = 0;
  for (const ActiveEdge* e = col.First(); e;) {
    const int32_t g = EdgeYAt(SweepColumn::Edge(e), col.x);
    while (v < col.verticalCount && col.verticals[v].left->y < g)
      v = ClassifyVerticalGroup(col, v, w);
    e = CountClassifyGroup(col, e, w);
  }
  while (v < col.verticalCount) v = ClassifyVerticalGroup(col, v, w);
}

}  // namespace

void ClassifyPoints(PSList& list) {
  if (!list.head) return;
  // Start from clean fields: the walk ORs them into the points.
  MaskFlags(list, ~0x00FF);
  // Crossings snap-rounded and split first, so that the classifying walk
  // sees the final geometry.
  SettleCrossings(list);
  SortPoints(list, ComparePointLess);
  ScanSweepColumns(list, ClassifyColumn, nullptr);
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

int RelationalDecision(const PSPoint* p, RelationalCode code, bool edgeMode) {
  const int f1 = Field1(p), f2 = Field2(p);
  const bool abut = p->flags & kAbut, over = p->flags & kOverlap;
  const int sin = f2 == 2, sin2 = f1 == 2;
  const int sout = f2 == 0 && (edgeMode || !over);
  const int sout2 = f1 == 0 && (edgeMode || !over);
  const int inside = sin || (Odd(f2) && !abut);
  const int inside2 = sin2 || (Odd(f1) && !abut);
  switch (code) {
    case RelationalCode::SIn: return sin;
    case RelationalCode::SIn2: return sin2;
    case RelationalCode::SOut: return sout;
    case RelationalCode::SOut2: return sout2;
    case RelationalCode::TIn: return Odd(f2) && !abut ? 2 : sin;
    case RelationalCode::TIn2: return Odd(f1) && !abut ? 2 : sin2;
    case RelationalCode::TOut: return abut ? 2 : sout;
    case RelationalCode::TOut2: return abut ? 2 : sout2;
    case RelationalCode::Over: return over || inside ? 3 : 1;
    case RelationalCode::Over2: return over || inside2 ? 3 : 1;
    case RelationalCode::Inside: return inside;
    case RelationalCode::Inside2: return inside2;
    case RelationalCode::Outside: return sout || abut;
    case RelationalCode::Outside2: return sout2 || abut;
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
  Simplify(work, 0);
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
    if (!MarkWhole(p)) continue;
    int best = 0, value = 0;
    const PSPoint* q = p;
    for (;;) {
      const int d = RelationalDecision(q, code, false);
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
    if (Selected(value, code, negate)) AppendRingCopy(p, work);
  }
  MaskFlags(list, -2);
  Simplify(work, 0);
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
