// The frame of the distance-check sweeps: active list, window, spanning
// list and output helpers.
#include "geometry/sweep_frame.h"

#include <algorithm>
#include <climits>

#include "foundation/error.h"
#include "geometry/segment_geometry.h"
#include "geometry/violation_region.h"

namespace velmar::distance_sweep {

namespace {

// a - b, held to the range of int64_t (a query low end of -infinity and the
// sentinels' heights lie far apart).
int64_t SaturatedDifference(int64_t a, int64_t b) {
  int64_t d;
  if (!__builtin_sub_overflow(a, b, &d)) return d;
  return a < b ? INT64_MIN : INT64_MAX;
}

int64_t Abs64(int32_t v) { return v < 0 ? -int64_t(v) : int64_t(v); }

}  // namespace

SweepFrame::SweepFrame(PSList& out, int32_t distance, int32_t unit, int closed,
                       int kind, bool twoLayers)
    : out_(out),
      d_(distance),
      ad_(Abs64(distance)),
      dd_(__int128(Abs64(distance)) * Abs64(distance)),
      unit_(unit),
      closed_(closed),
      edgeWork_(kind != 1),
      cornerWork_(kind <= 1),
      twoLayers_(twoLayers) {
  for (int k = 0; k < kLevels; ++k) {
    bottom_.link[k].up = &top_;
    bottom_.link[k].dn = nullptr;
    bottom_.link[k].upY = INT32_MAX;
    top_.link[k].dn = &bottom_;
    top_.link[k].up = nullptr;
    top_.link[k].upY = INT32_MAX;
  }
  bottom_.level = top_.level = kLevels;
  cursor_ = &bottom_;
  wFirst_.up = &wLast_;
  wLast_.dn = &wFirst_;
  wCursor_ = &wFirst_;
  gather_ = &wFirst_;
}

ActiveNode* SweepFrame::NewNode(PSPoint* left, PSPoint* right, bool forward) {
  ActiveNode* n = activePool_.Get();
  n->e.left = left;
  n->e.right = right;
  n->e.forward = forward;
  n->y = left->y;
  n->horizontal = left->y == right->y;
  n->reportedLeft = n->reportedRight = nullptr;
  // Level k with probability 4^-k.
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  int level = 1;
  for (uint32_t r = rng_; level < kLevels && (r & 3) == 0; r >>= 2) ++level;
  n->level = level;
  if (level > levelsUsed_) levelsUsed_ = level;
  return n;
}

ActiveNode* SweepFrame::LocateNearCursor(int32_t y, ActiveNode** pred) {
  // Every edge of the list is horizontal and the list is in y order: the
  // place is after the last edge of y below y.
  constexpr int kSteps = 6;
  ActiveNode* c = cursor_;
  if (c->y < y) {
    for (int i = 0; i < kSteps; ++i) {
      ActiveNode* u = c->link[0].up;
      if (u == &top_ || c->link[0].upY >= y) {
        pred[0] = c;
        return u;
      }
      c = u;
    }
  } else {
    for (int i = 0; i < kSteps; ++i) {
      ActiveNode* d = c->link[0].dn;
      if (d == &bottom_ || d->y < y) {
        pred[0] = d;
        return c;
      }
      c = d;
    }
  }
  return nullptr;
}

ActiveNode* SweepFrame::Locate(const SweepEdge& e, int32_t x, ActiveNode** pred) {
  ActiveNode* cur = &bottom_;
  // Two horizontal edges are ordered by their y alone (the general order
  // gives the same); everything else takes the general order.
  const bool horizontal = e.left->y == e.right->y;
  const int32_t y = e.left->y;
  if (horizontal && slanted_ == 0) {
    // All of the list is horizontal: the links' copies of the y above
    // decide each step (a link to the top sentinel holds INT32_MAX, which
    // no y exceeds).
    for (int k = levelsUsed_ - 1; k >= 0; --k) {
      while (y > cur->link[k].upY) cur = cur->link[k].up;
      if (pred) pred[k] = cur;
    }
    if (pred)
      for (int k = levelsUsed_; k < kLevels; ++k) pred[k] = &bottom_;
    return cur->link[0].up;
  }
  auto above = [&](const ActiveNode* n) {
    if (horizontal && n->horizontal) return y > n->y;
    return CompareActiveEdge(e, n->e, x) > 0;
  };
  for (int k = kLevels - 1; k >= 0; --k) {
    for (ActiveNode* n = cur->link[k].up; n != &top_ && above(n); n = n->link[k].up) cur = n;
    if (pred) pred[k] = cur;
  }
  return cur->link[0].up;
}

ActiveNode* SweepFrame::InsertEdge(PSPoint* left, PSPoint* right, bool forward,
                                   int32_t x) {
  ActiveNode* n = NewNode(left, right, forward);
  ActiveNode* pred[kLevels];
  // Edges inserted at the points of one column lie close together: a node
  // of one level (three in four) whose place is a few steps from the last
  // change takes it from there. Only in axis-parallel sweeps, whose list
  // holds horizontal edges in y order alone.
  if (!(nearCursor_ && n->level == 1 && n->horizontal && slanted_ == 0 &&
        !IsSentinel(cursor_) && LocateNearCursor(n->y, pred)))
    Locate(n->e, x, pred);
  if (!n->horizontal) ++slanted_;
  for (int k = 0; k < n->level; ++k) {
    ActiveNode* below = pred[k];
    ActiveNode* above = below->link[k].up;
    n->link[k].dn = below;
    n->link[k].up = above;
    n->link[k].upY = below->link[k].upY;
    below->link[k].up = n;
    below->link[k].upY = n->y;
    above->link[k].dn = n;
  }
  edges_.Insert(n);
  cursor_ = n;
  Touch(n);
  Touch(n->link[0].dn);
  Touch(n->link[0].up);
  return n;
}

ActiveNode* SweepFrame::FirstEdgeAtOrAbove(int64_t y) {
  ActiveNode* cur = &bottom_;
  for (int k = levelsUsed_ - 1; k >= 0; --k) {
    while (cur->link[k].up != &top_ && cur->link[k].upY < y) cur = cur->link[k].up;
  }
  return cur->link[0].up;
}

void SweepFrame::Unlink(ActiveNode* n) {
  if (!n->horizontal) --slanted_;
  for (int k = 0; k < n->level; ++k) {
    n->link[k].dn->link[k].up = n->link[k].up;
    n->link[k].dn->link[k].upY = n->link[k].upY;
    n->link[k].up->link[k].dn = n->link[k].dn;
  }
  activePool_.Put(n);
}

ActiveNode* SweepFrame::FindEdge(const PSPoint* left, const PSPoint* right) const {
  // An edge is in the list once; the table finds it wherever the order put
  // it (crossing edges of two layers can leave the order inconsistent at
  // this abscissa).
  ActiveNode* n = edges_.Find(left, right);
  if (!n) throw Error("Wrong segment ordering", "DRC");
  return n;
}

ActiveNode* SweepFrame::RemoveEdge(PSPoint* left, PSPoint* right, int32_t x) {
  auto holds = [left, right](const ActiveNode* n) {
    return n->e.left == left && n->e.right == right;
  };
  (void)x;
  ActiveNode* n = cursor_;
  if (IsSentinel(n) || !holds(n)) n = FindEdge(left, right);
  return RemoveNode(n);
}

ActiveNode* SweepFrame::RemoveNode(ActiveNode* n) {
  edges_.Erase(n);
  ActiveNode* above = n->link[0].up;
  Touch(n->link[0].dn);
  Touch(above);
  Unlink(n);
  cursor_ = above;
  return above;
}

WindowNode* SweepFrame::WindowStart(int64_t y) const {
  // The window holds the points of the last |distance| columns, whose y are
  // spread over the whole layout: of the cursor and the two ends, the one
  // nearest in y is about the nearest in steps.
  const WindowNode* lowest = wFirst_.up;
  const WindowNode* highest = wLast_.dn;
  if (lowest == &wLast_) return const_cast<WindowNode*>(&wFirst_);
  // (Distances from a sentinel's y saturate.)
  const int64_t fromBottom = SaturatedDifference(y, lowest->y);
  const int64_t fromTop = SaturatedDifference(int64_t(highest->y), y);
  int64_t best = fromBottom;
  WindowNode* start = const_cast<WindowNode*>(&wFirst_);
  if (fromTop < best) {
    best = fromTop;
    start = const_cast<WindowNode*>(&wLast_);
  }
  if (!IsWindowEnd(wCursor_)) {
    const int64_t d = SaturatedDifference(y, wCursor_->y);
    if ((d < 0 ? -(d + 1) : d) < best) start = wCursor_;
  }
  return start;
}

WindowNode* SweepFrame::SeekWindow(int64_t low) {
  WindowNode* c = FindWindow(low);
  wCursor_ = c;
  return c;
}

WindowNode* SweepFrame::FindWindow(int64_t low) const {
  WindowNode* c = WindowStart(low);
  auto yOf = [this](const WindowNode* n) -> int64_t {
    if (n == &wFirst_) return int64_t(INT_MIN) - 1;
    if (n == &wLast_) return int64_t(INT_MAX) + 1;
    return n->y;
  };
  if (yOf(c) >= low) {
    while (c != &wFirst_ && yOf(c->dn) >= low) c = c->dn;
  } else {
    while (yOf(c) < low) c = c->up;
  }
  return c;
}

void SweepFrame::InsertWindow(PSPoint* s, PSPoint* span) {
  auto less = [this](const WindowNode* n, const PSPoint* q) {
    if (n == &wFirst_) return true;
    if (n == &wLast_) return false;
    return n->y < q->y || (n->y == q->y && n->x < q->x);
  };
  // c: the first node not less than s.
  WindowNode* c = WindowStart(s->y);
  if (less(c, s)) {
    while (less(c, s)) c = c->up;
  } else {
    while (c != &wFirst_ && !less(c->dn, s)) c = c->dn;
  }
  WindowNode* n = windowPool_.Get();
  // A point of this column placed right below the gathering position is
  // examined by the next gathering.
  const bool belowGather = c == gather_;
  n->p = s;
  n->x = s->x;
  n->y = s->y;
  n->span = span;
  n->spanY = span ? span->y : INT_MIN;
  if (span && int64_t(span->y) - s->y > maxRise_) maxRise_ = int64_t(span->y) - s->y;
  n->up = c;
  n->dn = c->dn;
  c->dn->up = n;
  c->dn = n;
  wCursor_ = n;
  if (belowGather) gather_ = n;
  fifo_.push_back(n);
}

void SweepFrame::ChangeColumn(const PSPoint* j) {
  while (!fifo_.empty() && int64_t(fifo_.front()->x) + ad_ <= j->x) {
    WindowNode* n = fifo_.front();
    fifo_.pop_front();
    n->dn->up = n->up;
    n->up->dn = n->dn;
    if (n == wCursor_) wCursor_ = &wFirst_;
    windowPool_.Put(n);
  }
  gather_ = &wFirst_;
  cursor_ = &bottom_;
  spanning_.clear();
}

bool SweepFrame::BuildViolationRegionOf(const Box& owner, const Box& partner,
                                        int twoWay) {
  return BuildViolationRegion(owner, partner, d_, out_, closed_, twoWay);
}

void SweepFrame::CornerBox(const PSPoint* p, const PSPoint* q) {
  int64_t x1 = p->x, y1 = p->y, x2 = p->x, y2 = p->y;
  x1 = std::min<int64_t>(x1, q->x);
  x2 = std::max<int64_t>(x2, q->x);
  y1 = std::min<int64_t>(y1, q->y);
  y2 = std::max<int64_t>(y2, q->y);
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

void SweepFrame::ColumnRect(const PSPoint* s, const PSPoint* j) {
  BoxToRing(out_,
            Box(ToCoord(int64_t(s->x) - unit_), s->y, ToCoord(int64_t(j->x) + unit_), j->y),
            false);
}

std::pair<int64_t, int64_t> SweepFrame::CornerBandRows(const PSPoint* prev,
                                                       const PSPoint* s) const {
  int32_t ex, ey;
  OffsetPoint(Box(prev->x, prev->y, s->x, s->y), int32_t(ad_), true, ex, ey);
  const Box sh = Shifted(Box(s->x, s->y, ex, ey), d_);
  return {std::min({int64_t(s->y), int64_t(ey), int64_t(sh.y1), int64_t(sh.y2)}),
          std::max({int64_t(s->y), int64_t(ey), int64_t(sh.y1), int64_t(sh.y2)})};
}

}  // namespace velmar::distance_sweep
