// SPACE and WIDTH plane sweeps for axis-parallel and 45-degree input.
//
// Every point is visited once in (x, then y) order. Horizontal and diagonal
// edges live in the active list: a gap (SPACE) or an inside (WIDTH) between
// two of them is tested when they become neighbours there. Vertical edges
// meet their partners in the window, the processed points within the rule
// distance to the left: at the upper end of a downward (SPACE) or the lower
// end of an upward (WIDTH) edge the window points in the edge's y range are
// tested, and the window edges reaching across the whole edge are taken
// from the spanning list. Corner boxes join two corners closer than the
// distance that face each other diagonally.
#include "geometry/space_sweep.h"

#include <algorithm>

#include "geometry/segment_geometry.h"
#include "geometry/sweep_frame.h"

namespace velmar {

namespace {

using distance_sweep::ActiveNode;
using distance_sweep::SecondLayerOf;
using distance_sweep::SweepFrame;
using distance_sweep::WindowNode;

class DistanceSweep : public SweepFrame {
 public:
  DistanceSweep(PSList& out, int32_t distance, int32_t unit, int closed,
                int kind, bool twoLayers, bool width, bool diagonal)
      : SweepFrame(out, distance, unit, closed, kind, twoLayers),
        width_(width),
        diagonal_(diagonal),
        tw_(diagonal ? 1 : 0),
        t_(int64_t(double(ad_) * kSqrt2)) {
    if (!diagonal) UseNearCursorSearch();
  }

  void Run(PSList& list) {
    if (list.IsEmpty()) return;
    // Every point is visited, the last one too: it can be the upper end
    // of an upward edge that the 45-degree WIDTH sweep tests there.
    for (PSPoint* s = list.head; s; s = s->link) {
      distance_sweep::PrefetchFollowing(s);
      Step(s);
      PSPoint* j = s->link;
      if (j && j->x != s->x) ChangeColumn(j);
    }
  }

 private:
  void Step(PSPoint* s);
  void ActiveStep(PSPoint* s, PSPoint* prev, PSPoint* next);
  // Axis-parallel window scan and corners.
  void ScanSpaceManhattan(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  void ScanWidthManhattan(PSPoint* s, PSPoint* prev, PSPoint* next);
  void CornersSpaceManhattan(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  void CornersWidthManhattan(PSPoint* s, PSPoint* prev, PSPoint* next);
  void SpanningManhattan(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  // 45-degree window scans, corners and spanning check.
  void ScanSpace45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  void ScanWidth45(PSPoint* s, PSPoint* prev, PSPoint* next);
  void Corners45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  void Spanning45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer);
  // Both partner tests of a scanned window point h against owner a -> b:
  // SPACE the upward edges at h (p -> h, h -> n), WIDTH the downward ones.
  void TestWindowPoint(const PSPoint* a, const PSPoint* b, const PSPoint* h);

  const bool width_;
  const bool diagonal_;
  const int tw_;      // twoWay flag of the active-list and scan regions
  const int64_t t_;   // diagonal reach of the distance
};

void DistanceSweep::Step(PSPoint* s) {
  PSPoint* prev = s->prev;
  PSPoint* next = s->next;
  const bool layer = SecondLayerOf(s);
  if (edgeWork_) ActiveStep(s, prev, next);
  if (WindowHoldsPoint()) {
    if (diagonal_) {
      if (edgeWork_) {
        if (width_) ScanWidth45(s, prev, next);
        else ScanSpace45(s, prev, next, layer);
      }
      if (cornerWork_) Corners45(s, prev, next, layer);
    } else {
      if (edgeWork_) {
        if (width_) ScanWidthManhattan(s, prev, next);
        else ScanSpaceManhattan(s, prev, next, layer);
      }
      if (cornerWork_) {
        if (width_) CornersWidthManhattan(s, prev, next);
        else CornersSpaceManhattan(s, prev, next, layer);
      }
    }
  }
  // Window edges reaching across this point's y (SPACE the edge to a
  // point's next vertex, WIDTH the one from its previous vertex), tested
  // where an edge arrives from above (SPACE) or leaves upward (WIDTH). The
  // window points are gathered only for such a point: a pair gathered for
  // a lower point of the column would be dropped by this one's test unless
  // its span lies above it, so the pairs tested, and their order, are
  // those of a gathering at every point.
  if (edgeWork_ && (width_ ? next && next->y > s->y : prev && prev->y > s->y)) {
    GatherSpans(s);
    if (!Spanning().empty()) {
      if (diagonal_) Spanning45(s, prev, next, layer);
      else SpanningManhattan(s, prev, next, layer);
    }
  }
  InsertWindow(s, width_ ? prev : next);
}

// Horizontal (and diagonal) pairs: a SPACE gap lies between a backward edge
// (inside below) and the forward edge right above it; a WIDTH inside between
// a forward edge and the backward edge right above it.
void DistanceSweep::ActiveStep(PSPoint* s, PSPoint* prev, PSPoint* next) {
  const bool two = twoLayers_;
  if (prev && prev->x < s->x) {  // forward edge (prev, s) ends here
    ActiveNode* e = RemoveEdge(prev, s, s->x);
    ActiveNode* d = e->link[0].dn;
    if (width_ && !IsTop(e) && !IsBottom(d) && d->e.forward && !e->e.forward)
      Region(d->e.left, d->e.right, e->e.right, e->e.left, tw_);
  }
  if (next && next->x < s->x) {  // backward edge (next, s) ends here
    ActiveNode* e = RemoveEdge(next, s, s->x);
    ActiveNode* d = e->link[0].dn;
    if (!width_ && !IsTop(e) && !IsBottom(d) && !d->e.forward && e->e.forward &&
        (!two || SecondLayerOf(d->e.left) != SecondLayerOf(e->e.left)))
      Region(d->e.right, d->e.left, e->e.left, e->e.right, tw_);
  }
  if (next && next->x > s->x) {  // forward edge (s, next) starts here
    ActiveNode* n = InsertEdge(s, next, true, s->x);
    if (width_) {
      ActiveNode* u = n->link[0].up;
      if (!IsTop(u) && !u->e.forward) Region(s, next, u->e.right, u->e.left, tw_);
    } else {
      ActiveNode* d = n->link[0].dn;
      if (!IsBottom(d) && !d->e.forward &&
          (!two || SecondLayerOf(d->e.left) != SecondLayerOf(s)))
        Region(s, next, d->e.right, d->e.left, tw_);
    }
  }
  if (prev && prev->x > s->x) {  // backward edge (s, prev) starts here
    ActiveNode* n = InsertEdge(s, prev, false, s->x);
    if (width_) {
      ActiveNode* d = n->link[0].dn;
      if (!IsBottom(d) && d->e.forward) Region(prev, s, d->e.left, d->e.right, tw_);
    } else {
      ActiveNode* u = n->link[0].up;
      if (!IsTop(u) && u->e.forward &&
          (!two || SecondLayerOf(u->e.left) != SecondLayerOf(s)))
        Region(prev, s, u->e.left, u->e.right, tw_);
    }
  }
}

void DistanceSweep::TestWindowPoint(const PSPoint* a, const PSPoint* b,
                                    const PSPoint* h) {
  const PSPoint* p = h->prev;
  const PSPoint* n = h->next;
  if (!width_) {
    if (p && p->y < h->y) Region(a, b, p, h, tw_);
    if (n && n->y > h->y) Region(a, b, h, n, tw_);
  } else {
    if (n && n->y < h->y) Region(a, b, h, n, tw_);
    if (p && p->y > h->y) Region(a, b, p, h, tw_);
  }
}

// At the upper end of a downward edge s -> next (outside to the west): the
// upward window edges whose upper end lies in its y range, and those that
// start in it and reach above s.
void DistanceSweep::ScanSpaceManhattan(PSPoint* s, PSPoint* prev, PSPoint* next,
                                       bool layer) {
  (void)prev;
  if (!next || next->y >= s->y) return;
  for (WindowNode* w = SeekWindow(next->y); !IsWindowLast(w) && w->p->y <= s->y;
       w = w->up) {
    const PSPoint* h = w->p;
    if (SkipLayer(h, layer)) continue;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (p && p->y < h->y) Region(s, next, p, h, 0);
    if (n && n->y > h->y && n->y > s->y) Region(s, next, h, n, 0);
  }
}

// At the lower end of an upward edge s -> next (inside to the west): the
// downward window edges whose lower end lies in its y range, and those that
// come from above next.
void DistanceSweep::ScanWidthManhattan(PSPoint* s, PSPoint* prev, PSPoint* next) {
  (void)prev;
  if (!next || next->y <= s->y) return;
  for (WindowNode* w = SeekWindow(s->y); !IsWindowLast(w) && w->p->y <= next->y;
       w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (n && n->y < h->y) Region(s, next, h, n, 0);
    if (p && p->y > h->y && p->y > next->y) Region(s, next, p, h, 0);
  }
}

// Convex corners with the outside to the west (top-left, case A; bottom-left,
// case B) against the convex corners facing them from the window: a
// bottom-right corner above-left of a top-left one, a top-right corner
// below-left of a bottom-left one.
void DistanceSweep::CornersSpaceManhattan(PSPoint* s, PSPoint* prev, PSPoint* next,
                                          bool layer) {
  if (!prev || !next) return;
  const bool caseA = s->x < prev->x && next->y < s->y;
  const bool caseB = !caseA && s->y < prev->y && s->x < next->x;
  if (!caseA && !caseB) return;
  const int64_t lo = caseA ? int64_t(s->y) : int64_t(s->y) - ad_;
  const int64_t hi = caseA ? int64_t(s->y) + ad_ : int64_t(s->y);
  for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (!p || !n || SkipLayer(h, layer)) continue;
    const bool faces = caseA ? (p->x < h->x && n->y > h->y) : (p->y < h->y && n->x < h->x);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
  if (caseA) {
    // Points of this column above s are not in the window yet.
    const PSPoint* j = s->link;
    if (j && j->next && j->x == s->x && j->next->x == s->x &&
        int64_t(j->y) - s->y < ad_ && !SkipLayer(j, layer))
      ColumnRect(s, j);
  }
}

// Concave corners: case A (arriving westward, leaving upward) against the
// concave corners below-left of it, case B (arriving upward, leaving
// eastward) against those above-left.
void DistanceSweep::CornersWidthManhattan(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (!prev || !next) return;
  const bool caseA = s->x < prev->x && next->y > s->y;
  const bool caseB = !caseA && prev->y < s->y && s->x < next->x;
  if (!caseA && !caseB) return;
  const int64_t lo = caseA ? int64_t(s->y) - ad_ : int64_t(s->y);
  const int64_t hi = caseA ? int64_t(s->y) : int64_t(s->y) + ad_;
  for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (!p || !n) continue;
    const bool faces = caseA ? (p->x < h->x && n->y < h->y) : (p->y > h->y && n->x < h->x);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
  if (caseB) {
    const PSPoint* j = s->link;
    if (j && j->prev && j->x == s->x && j->prev->x == s->x && int64_t(j->y) - s->y < ad_)
      ColumnRect(s, j);
  }
}

// Window edges reaching across the whole vertical edge that ends (SPACE:
// downward prev -> s) or starts (WIDTH: upward s -> next) at s.
void DistanceSweep::SpanningManhattan(PSPoint* s, PSPoint* prev, PSPoint* next,
                                      bool layer) {
  auto& list = Spanning();
  size_t keep = 0;
  if (!width_) {
    if (!prev || prev->y <= s->y) return;
    for (size_t i = 0; i < list.size(); ++i) {
      auto [u, v] = list[i];
      if (v->y <= prev->y) continue;
      list[keep++] = list[i];
      if (!SkipLayer(u, layer)) Region(prev, s, u, v, 0);
    }
  } else {
    if (!next || next->y <= s->y) return;
    for (size_t i = 0; i < list.size(); ++i) {
      auto [u, v] = list[i];
      if (v->y <= next->y) continue;
      list[keep++] = list[i];
      Region(s, next, v, u, 0);
    }
  }
  list.resize(keep);
}

// SPACE scans of the 45-degree sweep: an edge arriving from above (vertical
// or down-left), the bevel below a vertical one, an edge leaving downward
// (vertical or down-right) and the bevel above a vertical one.
void DistanceSweep::ScanSpace45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer) {
  if (prev && prev->y > s->y && prev->x >= s->x) {
    const int64_t hi = prev->x == s->x ? int64_t(prev->y) : int64_t(s->y) + t_;
    for (WindowNode* w = SeekWindow(s->y); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
      if (!SkipLayer(w->p, layer)) TestWindowPoint(prev, s, w->p);
    }
    if (prev->x == s->x && next && s->x < next->x) {
      WindowNode* w = SeekWindow(s->y)->dn;
      for (; !IsWindowFirst(w) && w->p->y > int64_t(s->y) - t_; w = w->dn) {
        const PSPoint* h = w->p;
        const PSPoint* n = h->next;
        if (SkipLayer(h, layer) || !n || n->y <= h->y || n->x >= h->x) continue;
        if (Region(h, n, prev, s, 0)) Region(h, n, s, next, 0);
      }
    }
  }
  if (next && next->y < s->y && next->x >= s->x) {
    if (next->x > s->x) {
      for (WindowNode* w = SeekWindow(int64_t(s->y) - t_);
           !IsWindowLast(w) && w->p->y <= s->y; w = w->up) {
        if (!SkipLayer(w->p, layer)) TestWindowPoint(s, next, w->p);
      }
    } else if (prev && s->x < prev->x) {
      for (WindowNode* w = SeekWindow(s->y);
           !IsWindowLast(w) && w->p->y < int64_t(s->y) + t_; w = w->up) {
        const PSPoint* h = w->p;
        const PSPoint* p = h->prev;
        if (SkipLayer(h, layer) || !p || p->y >= h->y || p->x >= h->x) continue;
        if (Region(p, h, s, next, 0)) Region(p, h, prev, s, 0);
      }
    }
  }
}

// WIDTH scans of the 45-degree sweep, the reflection of ScanSpace45 for the
// inside.
void DistanceSweep::ScanWidth45(PSPoint* s, PSPoint* prev, PSPoint* next) {
  if (prev && prev->y < s->y && prev->x >= s->x) {
    const int64_t lo = prev->x == s->x ? int64_t(prev->y) : int64_t(s->y) - t_;
    for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= s->y; w = w->up)
      TestWindowPoint(prev, s, w->p);
    if (prev->x == s->x && next && s->x < next->x) {
      for (WindowNode* w = SeekWindow(int64_t(s->y) + 1);
           !IsWindowLast(w) && w->p->y < int64_t(s->y) + t_; w = w->up) {
        const PSPoint* h = w->p;
        const PSPoint* n = h->next;
        if (!n || n->y >= h->y || n->x >= h->x) continue;
        if (Region(h, n, prev, s, 0)) Region(h, n, s, next, 0);
      }
    }
  }
  if (next && next->y > s->y && next->x >= s->x) {
    if (next->x > s->x) {
      for (WindowNode* w = SeekWindow(s->y);
           !IsWindowLast(w) && w->p->y <= int64_t(s->y) + t_; w = w->up)
        TestWindowPoint(s, next, w->p);
    } else if (prev && s->x < prev->x) {
      WindowNode* w = SeekWindow(s->y)->dn;
      for (; !IsWindowFirst(w) && w->p->y > int64_t(s->y) - t_; w = w->dn) {
        const PSPoint* h = w->p;
        const PSPoint* p = h->prev;
        if (!p || p->y <= h->y || p->x >= h->x) continue;
        if (Region(p, h, s, next, 0)) Region(p, h, prev, s, 0);
      }
    }
  }
}

// Corners of the 45-degree sweeps: a convex (SPACE) or concave (WIDTH)
// corner against the window points in the square of side |distance| beyond
// it that face it.
void DistanceSweep::Corners45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer) {
  if (!prev || !next) return;
  bool at;
  if (!width_) {
    at = (s->x < prev->x && next->y < s->y) || (s->y < prev->y && s->x <= next->x);
  } else {
    at = (s->x < prev->x && s->y < next->y) || (prev->y < s->y && s->x <= next->x);
  }
  if (!at) return;
  const __int128 c = Cross(prev, s, next);
  if (width_ ? c >= 0 : c <= 0) return;
  const auto [lo, hi] = CornerBandRows(prev, s);
  const bool second = prev->x < s->x || prev->x < next->x;
  for (WindowNode* w = SeekWindow(lo); !IsWindowLast(w) && w->p->y <= hi; w = w->up) {
    const PSPoint* h = w->p;
    const PSPoint* p = h->prev;
    const PSPoint* n = h->next;
    if (!p || !n) continue;
    if (!width_ && (SkipLayer(h, layer) || h == next)) continue;
    const bool faces = second ? (p->x > h->x || p->x > n->x) : (p->x < h->x || p->x < n->x);
    if (faces && Closer(s, h)) CornerBox(s, h);
  }
  const PSPoint* j = s->link;
  if (!j || !j->prev || j->x != s->x || int64_t(j->y) - s->y >= ad_) return;
  const PSPoint* q = j->prev;
  if (!width_) {
    if (!SkipLayer(j, layer) && s->x < prev->x && q->x < s->x) ColumnRect(s, j);
  } else {
    if (q->y > j->y && prev->y < s->y) ColumnRect(s, j);
  }
}

// Window edges reaching across the point: SPACE where an edge arrives from
// above, WIDTH where one leaves upward; a window edge near enough to s is
// tested against both edges at s.
void DistanceSweep::Spanning45(PSPoint* s, PSPoint* prev, PSPoint* next, bool layer) {
  auto& list = Spanning();
  if (!width_ ? !(prev && prev->y > s->y) : !(next && next->y > s->y)) return;
  size_t keep = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    auto [u, v] = list[i];
    if (v->y <= s->y) continue;
    list[keep++] = list[i];
    if (!width_) {
      if (SkipLayer(u, layer)) continue;
      const Box owner(u->x, u->y, v->x, v->y);
      if (DistanceSquared(owner, s->x, s->y) >= (long double)dd_) continue;
      BuildViolationRegionOf(owner, Box(prev->x, prev->y, s->x, s->y), 1);
      if (next) BuildViolationRegionOf(owner, Box(s->x, s->y, next->x, next->y), 1);
    } else {
      const Box owner(v->x, v->y, u->x, u->y);
      if (DistanceSquared(owner, s->x, s->y) >= (long double)dd_) continue;
      if (prev) BuildViolationRegionOf(owner, Box(prev->x, prev->y, s->x, s->y), 1);
      BuildViolationRegionOf(owner, Box(s->x, s->y, next->x, next->y), 1);
    }
  }
  list.resize(keep);
}

void RunSweep(PSList& list, PSList& out, int32_t distance, int32_t unit, int closed,
              int kind, bool twoLayers, bool width, bool diagonal) {
  DistanceSweep sweep(out, distance, unit, closed, kind, twoLayers, width, diagonal);
  sweep.Run(list);
}

}  // namespace

void SweepSpaceManhattan(PSList& list, PSList& out, int32_t distance, int32_t unit,
                         int closed, int kind, bool twoLayers) {
  RunSweep(list, out, distance, unit, closed, kind, twoLayers, false, false);
}

void SweepWidthManhattan(PSList& list, PSList& out, int32_t distance, int32_t unit,
                         int closed, int kind) {
  RunSweep(list, out, distance, unit, closed, kind, false, true, false);
}

void SweepSpace45(PSList& list, PSList& out, int32_t distance, int32_t unit,
                  int closed, int kind, bool twoLayers) {
  RunSweep(list, out, distance, unit, closed, kind, twoLayers, false, true);
}

void SweepWidthAnyAngle(PSList& list, PSList& out, int32_t distance, int32_t unit,
                        int closed, int kind) {
  RunSweep(list, out, distance, unit, closed, kind, false, true, true);
}

}  // namespace velmar
