// ENC plane sweep for axis-parallel input: where shapes of the enclosed
// layer (points without SecondLayer) come closer than the rule distance to
// the boundary of the enclosing layer (points with SecondLayer), and which
// enclosed shapes are not inside the enclosing layer at all.
//
// Vertical pairs are found in the window as by the SPACE sweep, tested from
// the eastern edge of the pair; an enclosed vertical edge lying on an
// enclosing one (no margin) is reported as a rectangle one unit to either
// side, found in its column. Horizontal pairs are found by a walk over
// the active list at every column change: an enclosed edge with an
// enclosing edge of the same direction right beside it on its outer side is
// tested against it; an enclosed edge that is neither beside such an edge
// nor inside the enclosing layer is marked, and its ring is copied whole to
// the output at the end.
#include <algorithm>
#include <vector>

#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"
#include "geometry/space_sweep.h"
#include "geometry/sweep_frame.h"

namespace velmar {

namespace {

using distance_sweep::ActiveNode;
using distance_sweep::SecondLayerOf;
using distance_sweep::SweepFrame;
using distance_sweep::WindowNode;

class EncSweep : public SweepFrame {
 public:
  EncSweep(PSList& out, int32_t distance, int32_t unit, int closed, int kind)
      : SweepFrame(out, distance, unit, closed, kind, false) {
    UseNearCursorSearch();
  }

  void Run(PSList& list) {
    if (list.IsEmpty()) return;
    for (PSPoint* s = list.head; s; s = s->link) {
      distance_sweep::PrefetchFollowing(s);
      Step(s);
      PSPoint* j = s->link;
      if (j && j->x != s->x) {
        if (edgeWork_ && WalkActiveEdges()) marked_ = true;
        ChangeColumn(j);
      }
    }
    if (marked_) CopyMarkedRings(list);
  }

 private:
  void Step(PSPoint* s);
  void Insert(PSPoint* s, PSPoint* right, bool forward) {
    ActiveNode* n = InsertEdge(s, right, forward, s->x);
    // Kept in the node so that the column walk reads no points.
    n->enclosing = SecondLayerOf(s);
    NoteTouched(n->link[0].dn);
    NoteTouched(n);
  }
  // Unlinks the active edge from left to s, ending at s.
  void Remove(PSPoint* left, PSPoint* s) {
    ActiveNode* n = FindEdge(left, s);
    ActiveNode* below = n->link[0].dn;
    ActiveNode* above = n->link[0].up;
    if (lowestTouched_ == n) lowestTouched_ = nullptr;
    RemoveNode(n);
    // The lowest edge touched, if it was n, is now the one below it, or the
    // lowest of the list when there is none.
    NoteTouched(below);
    if (!lowestTouched_) NoteTouched(above);
  }
  // Keeps the edge of least y among those whose neighbours changed since
  // the last walk (ties: the first noted), which the walk starts from.
  void NoteTouched(ActiveNode* n) {
    if (IsSentinel(n)) return;
    if (!lowestTouched_ || n->y < lowestTouched_->y) lowestTouched_ = n;
  }
  ActiveNode* WalkStart(int64_t lo);
  void EnclosedStep(PSPoint* s, PSPoint* prev, PSPoint* next);
  void EnclosingStep(PSPoint* s, PSPoint* prev, PSPoint* next);
  void SpanningStep(PSPoint* s, PSPoint* prev, PSPoint* next);
  void CoincidentVertical(PSPoint* lower, PSPoint* upper, bool upward);
  bool WalkActiveEdges();
  void Mark(PSPoint* a, bool& result) {
    // An edge outside the enclosing layer is judged again at every column
    // whose walk passes it: its point is kept once.
    if (!(a->flags & PSPointFlags::Marker)) marks_.push_back(a);
    a->flags |= PSPointFlags::Marker;
    result = true;
  }
  void CopyMarkedRings(PSList& list);
  bool Judge(ActiveNode* n, bool& inside, bool& result);
  // Reports edge n with its neighbour m once while they stay neighbours:
  // the rectangle of n when it lies on m's line, else the region of m in
  // n's band (owner a -> b, partner c -> d).
  void ReportPair(ActiveNode* n, const ActiveNode* m, const PSPoint* a, const PSPoint* b,
                  const PSPoint* c, const PSPoint* d);
  void EdgeRect(const ActiveNode* n);

  bool marked_ = false;
  // Whether the list holds an open chain (a point without a neighbour).
  bool chains_ = false;
  std::vector<PSPoint*> marks_;  // the points marked, in marking order
  // The edge of least y among the live edges touched since the last walk
  // (null: none).
  ActiveNode* lowestTouched_ = nullptr;
  // The vertical edge of each layer (index 1: enclosing) and direction
  // (index 1: upward) whose lower end was processed last; only the one in
  // the current column counts.
  struct VerticalEdge {
    const PSPoint* lower = nullptr;
    const PSPoint* upper = nullptr;
  };
  VerticalEdge lastVertical_[2][2];
};

bool OnLine(const ActiveNode* m, const PSPoint* p) {
  return Cross(m->e.left, m->e.right, p) == 0;
}

void EncSweep::Step(PSPoint* s) {
  PSPoint* prev = s->prev;
  PSPoint* next = s->next;
  if (!prev || !next) chains_ = true;
  if (edgeWork_) {
    // The active list only holds the edges for the column walk.
    if (prev && prev->x < s->x) Remove(prev, s);
    if (next && next->x < s->x) Remove(next, s);
    if (next && next->x > s->x) Insert(s, next, true);
    if (prev && prev->x > s->x) Insert(s, prev, false);
    if (next && next->x == s->x && next->y > s->y) CoincidentVertical(s, next, true);
    if (prev && prev->x == s->x && prev->y > s->y) CoincidentVertical(s, prev, false);
  }
  const bool enclosing = SecondLayerOf(s);
  if (WindowHoldsPoint()) {
    if (enclosing) EnclosingStep(s, prev, next);
    else EnclosedStep(s, prev, next);
  }
  // Enclosed upward edges and enclosing downward edges reaching across the
  // eastern edge that starts upward at s. The window points are gathered
  // only for such an s: a pair gathered for a lower point of the column
  // would be dropped by this one's test unless its span lies above s.
  if (edgeWork_ && (enclosing ? next && next->y > s->y : prev && prev->y > s->y)) {
    GatherSpans(s);
    if (!Spanning().empty()) SpanningStep(s, prev, next);
  }
  InsertWindow(s, enclosing ? prev : next);
}

// s enclosed: its downward edge (outside to the west) against the enclosing
// downward edges to the west; its convex corners with the outside to the
// west against the concave enclosing corners facing them.
void EncSweep::EnclosedStep(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (edgeWork_ && next && next->y < s->y) {
    for (WindowNode* w = SeekWindow(next->y); !IsWindowLast(w) && w->p->y <= s->y;
         w = w->up) {
      const PSPoint* h = w->p;
      const PSPoint* p = h->prev;
      if (SecondLayerOf(h) && p && p->y > h->y) Region(s, next, h, p, 0);
    }
  }
  if (!cornerWork_ || !prev || !next) return;
  const bool caseA = s->x < prev->x && next->y < s->y;
  const bool caseB = !caseA && s->y < prev->y && s->x < next->x;
  if (!caseA && !caseB) return;
  const int64_t lo = caseA ? int64_t(s->y) : int64_t(s->y) - ad_;
  const int64_t hi = caseA ? int64_t(s->y) + ad_ : int64_t(s->y);
  for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (!SecondLayerOf(h) || !p || !n) continue;
    const bool faces = caseA ? (p->y > h->y && n->x < h->x) : (p->x < h->x && n->y < h->y);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
  const PSPoint* j = s->link;
  if (j && SecondLayerOf(j) && s->x < prev->x && j->x == s->x && j->prev &&
      j->prev->x == s->x && int64_t(j->y) - s->y < ad_)
    ColumnRect(s, j);
}

// s enclosing: its upward edge (inside to the west) against the enclosed
// upward edges to the west; its concave corners against the convex enclosed
// corners facing them.
void EncSweep::EnclosingStep(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (edgeWork_ && next && next->y > s->y) {
    for (WindowNode* w = SeekWindow(s->y); !IsWindowLast(w) && w->p->y <= next->y;
         w = w->up) {
      const PSPoint* h = w->p;
      const PSPoint* n = h->next;
      if (!SecondLayerOf(h) && n && n->y > h->y) Region(h, n, next, s, 0);
    }
  }
  if (!cornerWork_ || !prev || !next) return;
  const bool caseA = s->x < prev->x && s->y < next->y;
  const bool caseB = !caseA && prev->y < s->y && s->x < next->x;
  if (!caseA && !caseB) return;
  const int64_t lo = caseA ? int64_t(s->y) - ad_ : int64_t(s->y);
  const int64_t hi = caseA ? int64_t(s->y) : int64_t(s->y) + ad_;
  for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (SecondLayerOf(h) || !p || !n) continue;
    const bool faces = caseA ? (p->y < h->y && n->x < h->x) : (p->x < h->x && n->y > h->y);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
  const PSPoint* j = s->link;
  if (j && !SecondLayerOf(j) && s->x < next->x && j->x == s->x && j->next &&
      j->next->x == s->x && int64_t(j->y) - s->y < ad_)
    ColumnRect(s, j);
}

// Vertical pairs reaching across the whole eastern edge, taken at its lower
// end (s: enclosed with prev above it, or enclosing with next above it).
void EncSweep::SpanningStep(PSPoint* s, PSPoint* prev, PSPoint* next) {
  const bool enclosing = SecondLayerOf(s);
  auto& list = Spanning();
  size_t keep = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    auto [u, v] = list[i];
    if (v->y <= s->y) continue;
    list[keep++] = list[i];
    if (!enclosing && SecondLayerOf(u)) Region(prev, s, u, v, 0);
    if (enclosing && !SecondLayerOf(u)) Region(u, v, next, s, 0);
  }
  list.resize(keep);
}

// Copies the rings that hold a marked point whole to the output (an
// enclosed shape that leaves the enclosing layer), the same rings in the
// same order as CopyFlaggedRings copies, but found from the marks instead of
// a walk over the whole list. Each ring is walked once, by its copy: only
// the marked points it passes are flagged as visited (the later marks of a
// ring already copied are the only points looked up), and only they are
// cleared afterwards. A list with open chains takes CopyFlaggedRings
// itself.
void EncSweep::CopyMarkedRings(PSList& list) {
  if (chains_) {
    CopyFlaggedRings(list, out_);
    return;
  }
  std::vector<PSPoint*> flagged;
  // The marks and the ring vertices lie all over memory: each is asked for
  // ahead of its turn.
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < marks_.size(); ++i) {
    if (i + kAhead < marks_.size()) __builtin_prefetch(marks_[i + kAhead]);
    PSPoint* m = marks_[i];
    if (m->flags & PSPointFlags::Visited) continue;
    __builtin_prefetch(m->next);
    PSPoint* first = PushPoint(out_, m->x, m->y);
    PSPoint* last = first;
    m->flags |= PSPointFlags::Visited;
    flagged.push_back(m);
    for (PSPoint* s = m->next; s != m; s = s->next) {
      __builtin_prefetch(s->next);
      PSPoint* c = PushPoint(out_, s->x, s->y);
      LinkPoints(last, c);
      last = c;
      if ((s->flags & (PSPointFlags::Marker | PSPointFlags::Visited)) ==
          PSPointFlags::Marker) {
        s->flags |= PSPointFlags::Visited;
        flagged.push_back(s);
      }
    }
    LinkPoints(last, first);
    ++out_.ringCount;
  }
  for (PSPoint* p : flagged) p->flags &= uint16_t(~PSPointFlags::Visited);
}

// A vertical enclosed edge lying on a vertical enclosing edge of the same
// direction (both with the inside on the same side) has no margin there:
// the part they share is reported as a rectangle one unit to either side,
// as a horizontal edge lying on the enclosing boundary is. The band of the
// enclosed edge, which the window tests use, has no area between two edges
// on one line. The pair is found at the lower end processed second: edges
// of one merged layer on one line do not overlap, so the last one of the
// other layer and the same direction in this column is the only one that
// can reach across that lower end.
void EncSweep::CoincidentVertical(PSPoint* lower, PSPoint* upper, bool upward) {
  const int layer = SecondLayerOf(lower) ? 1 : 0;
  const VerticalEdge& other = lastVertical_[1 - layer][upward ? 1 : 0];
  if (other.lower && other.lower->x == lower->x && other.upper->y > lower->y) {
    const int64_t y1 = lower->y, y2 = std::min(upper->y, other.upper->y);
    int64_t lo = y1, hi = y2;
    if (hi - lo < unit_) {
      lo -= unit_;
      hi += unit_;
    }
    BoxToRing(out_,
              Box(ToCoord(int64_t(lower->x) - unit_), ToCoord(lo),
                  ToCoord(int64_t(lower->x) + unit_), ToCoord(hi)),
              false);
  }
  lastVertical_[layer][upward ? 1 : 0] = VerticalEdge{lower, upper};
}

void EncSweep::EdgeRect(const ActiveNode* n) {
  const PSPoint* a = n->e.left;
  const PSPoint* b = n->e.right;
  int64_t x1 = a->x, y1 = a->y, x2 = b->x, y2 = b->y;
  if (x2 - x1 < unit_) {
    x1 -= unit_;
    x2 += unit_;
  }
  if (y2 - y1 < unit_) {
    y1 -= unit_;
    y2 += unit_;
  }
  BoxToRing(out_, Box(ToCoord(x1), ToCoord(y1), ToCoord(x2), ToCoord(y2)), false);
}

void EncSweep::ReportPair(ActiveNode* n, const ActiveNode* m, const PSPoint* a,
                          const PSPoint* b, const PSPoint* c, const PSPoint* d) {
  if (n->reportedLeft == m->e.left && n->reportedRight == m->e.right) return;
  n->reportedLeft = m->e.left;
  n->reportedRight = m->e.right;
  if (OnLine(m, a) && OnLine(m, b)) EdgeRect(n);
  else Region(a, b, c, d, 0);
}

// One walk up the active list between two columns; true when it marked an
// enclosed edge as lying outside the enclosing layer. Only the stretch
// whose edges gained new neighbours in this column is walked, then on
// until the inside state agrees with the one the previous walk left: below
// and above that, every edge would be judged as before (pairs are reported
// once, marks stay).
bool EncSweep::WalkActiveEdges() {
  bool result = false;
  const int64_t lo = TouchedLo(), hi = TouchedHi();
  ResetTouched();
  ActiveNode* n = lo > hi ? nullptr : WalkStart(lo);
  lowestTouched_ = nullptr;
  if (!n) return false;
  bool inside = IsBottom(n->link[0].dn) ? false : n->link[0].dn->insideAbove;
  for (; !IsTop(n); n = n->link[0].up) {
    const bool before = n->insideAbove;
    Judge(n, inside, result);
    if (n->y > hi && before == inside) break;
    n->insideAbove = inside;
  }
  return result;
}

// The lowest edge whose y is at least lo: from the lowest live edge touched
// (its y is at least lo, the least y touched) down the list past the edges
// of y still at least lo, of which there are none or few; the search from
// the top of the list when no such edge was kept.
ActiveNode* EncSweep::WalkStart(int64_t lo) {
  if (!lowestTouched_) return FirstEdgeAtOrAbove(lo);
  ActiveNode* n = lowestTouched_;
  while (!IsBottom(n->link[0].dn) && n->link[0].dn->y >= lo) n = n->link[0].dn;
  return n;
}

// Judges one edge of the walk with the inside state below it; returns the
// state above it, which it also leaves in inside.
bool EncSweep::Judge(ActiveNode* n, bool& inside, bool& result) {
  ActiveNode* below = n->link[0].dn;
  ActiveNode* above = n->link[0].up;
  PSPoint* a = n->e.left;
  PSPoint* b = n->e.right;
  const bool enclosing = n->enclosing;
  auto isEnclosing = [this](const ActiveNode* m, bool forward) {
    return !IsSentinel(m) && m->enclosing && m->e.forward == forward;
  };
  if (n->e.forward) {
    if (enclosing) {
      inside = true;
    } else if (isEnclosing(below, true)) {
      ReportPair(n, below, a, b, below->e.right, below->e.left);
    } else if (inside) {
    } else if (isEnclosing(above, true) && OnLine(above, a) && OnLine(above, b)) {
      ReportPair(n, above, a, b, a, b);
    } else {
      Mark(a, result);
    }
  } else {
    if (enclosing) {
      inside = false;
    } else if (isEnclosing(above, false)) {
      ReportPair(n, above, b, a, above->e.left, above->e.right);
    } else if (inside) {
    } else if (isEnclosing(below, false) && OnLine(below, a) && OnLine(below, b)) {
      ReportPair(n, below, a, b, a, b);
    } else {
      Mark(a, result);
    }
  }
  return inside;
}

}  // namespace

void SweepEnc(PSList& list, PSList& out, int32_t distance, int32_t unit, int closed,
              int kind) {
  EncSweep sweep(out, distance, unit, closed, kind);
  sweep.Run(list);
}

}  // namespace velmar
