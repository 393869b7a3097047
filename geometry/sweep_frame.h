// The frame shared by the distance-check sweeps (geometry/space_sweep.h):
// the active list of non-vertical edges at the current column, the window
// of processed points within the rule distance to the left, the list of
// window edges spanning the current column's points, and the output
// helpers. Only the sweep sources include it.
#pragma once

#include <climits>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"

namespace velmar::distance_sweep {

// Levels of the active list: with a node on level k for one in 4^k edges,
// eight levels keep the searches short for lists of up to about 4^8 edges
// (and stay correct, only slower, beyond).
constexpr int kLevels = 8;

// One edge of the active list: a skip-list node, level 0 being the plain
// bottom-up order. The fields read by the searches and by the walks over
// level 0 come first, so that they share the node's first cache line; the
// links of the express levels follow, and nodes start on a line.
struct alignas(64) ActiveNode {
  // The neighbours below (dn) and above (up) on one level, and the y of the
  // one above, so that a search among horizontal edges steps by reading
  // the link alone.
  struct Link {
    ActiveNode* up;
    ActiveNode* dn;
    int32_t upY;
  };
  SweepEdge e;
  // The edge's y when it is horizontal, so that the order of two horizontal
  // edges (all of them in axis-parallel input) is read without visiting
  // their points.
  int32_t y = 0;
  bool horizontal = false;
  // The enclosure walk: whether the walk was inside the enclosing layer
  // right above this edge when it last passed it.
  bool insideAbove = false;
  // The enclosure walk: whether the edge belongs to the enclosing layer.
  bool enclosing = false;
  uint8_t level = 0;
  // The node's slot in the table of active edges (EdgeTable).
  uint32_t slot = 0;
  Link link[kLevels];
  // The enclosure walk: the ends of the neighbour edge that a region or
  // rectangle of this edge was last reported with (each adjacent pair is
  // reported once).
  const PSPoint* reportedLeft = nullptr;
  const PSPoint* reportedRight = nullptr;
};

// One point of the window, ordered by (y, then x). Its position and the
// far end of the edge it may add to the spanning list are kept in the node,
// so that walking the window reads no points.
struct WindowNode {
  PSPoint* p = nullptr;
  WindowNode* up = nullptr;
  WindowNode* dn = nullptr;
  PSPoint* span = nullptr;  // the edge's other end, or null
  int32_t x = 0;
  int32_t y = 0;
  int32_t spanY = INT_MIN;  // span's y (INT_MIN without one)
};

// Fixed-size records handed out from chunks and recycled through a free
// list: no heap allocation per edge or point.
template <typename T>
class RecordPool {
 public:
  T* Get() {
    if (free_.empty()) {
      if (used_ == kChunk || chunks_.empty()) {
        chunks_.push_back(std::make_unique<T[]>(kChunk));
        used_ = 0;
      }
      return &chunks_.back()[used_++];
    }
    T* t = free_.back();
    free_.pop_back();
    return t;
  }
  void Put(T* t) { free_.push_back(t); }

 private:
  static constexpr size_t kChunk = 4096;
  std::vector<std::unique_ptr<T[]>> chunks_;
  size_t used_ = 0;
  std::vector<T*> free_;
};

// The active edges by their two ends, so that an ending edge is found
// without a search of the order: open addressing with linear probing over a
// power-of-two table kept at most half full.
class EdgeTable {
 public:
  EdgeTable() : slots_(64, nullptr), mask_(63) {}
  void Insert(ActiveNode* n) {
    if (2 * (count_ + 1) > slots_.size()) Grow();
    size_t i = Home(n->e.left, n->e.right);
    while (slots_[i]) i = (i + 1) & mask_;
    slots_[i] = n;
    n->slot = uint32_t(i);
    ++count_;
  }
  // The node holding the edge (left, right), or null.
  ActiveNode* Find(const PSPoint* left, const PSPoint* right) const {
    for (size_t i = Home(left, right);; i = (i + 1) & mask_) {
      ActiveNode* n = slots_[i];
      if (!n || (n->e.left == left && n->e.right == right)) return n;
    }
  }
  // Removes n, found at the slot it keeps.
  void Erase(const ActiveNode* n) {
    size_t i = n->slot;
    // Moves back the entries of the probe run after the hole that may no
    // longer be reached past it.
    for (size_t j = (i + 1) & mask_; slots_[j]; j = (j + 1) & mask_) {
      const size_t h = Home(slots_[j]->e.left, slots_[j]->e.right);
      // The entry at j stays when its home lies cyclically in (i, j].
      if (i <= j ? (i < h && h <= j) : (i < h || h <= j)) continue;
      slots_[i] = slots_[j];
      slots_[i]->slot = uint32_t(i);
      i = j;
    }
    slots_[i] = nullptr;
    --count_;
  }

 private:
  size_t Home(const PSPoint* left, const PSPoint* right) const {
    uint64_t k = uint64_t(reinterpret_cast<uintptr_t>(left)) * 0x9E3779B97F4A7C15ull ^
                 uint64_t(reinterpret_cast<uintptr_t>(right));
    k *= 0xC2B2AE3D27D4EB4Full;
    return size_t(k >> 32) & mask_;
  }
  void Grow() {
    std::vector<ActiveNode*> old(slots_.size() * 2, nullptr);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    count_ = 0;
    for (ActiveNode* n : old)
      if (n) Insert(n);
  }

  std::vector<ActiveNode*> slots_;
  size_t mask_;
  size_t count_ = 0;
};

// Asks for the point after s in the link chain and its ring neighbours
// ahead of their turn (s's own successor is already cached by the call for
// the point before it): the points lie all over memory in sorted order.
inline void PrefetchFollowing(const PSPoint* s) {
  const PSPoint* j = s->link;
  if (!j) return;
  __builtin_prefetch(j->link);
  __builtin_prefetch(j->prev);
  __builtin_prefetch(j->next);
}

inline bool SecondLayerOf(const PSPoint* p) {
  return (p->flags & PSPointFlags::SecondLayer) != 0;
}

class SweepFrame {
 public:
  SweepFrame(PSList& out, int32_t distance, int32_t unit, int closed,
             int kind, bool twoLayers);
  SweepFrame(const SweepFrame&) = delete;
  SweepFrame& operator=(const SweepFrame&) = delete;

  // --- Active list -------------------------------------------------------
  // For axis-parallel sweeps: an edge is placed from the cursor when its
  // place is near it (the list holds horizontal edges in y order).
  void UseNearCursorSearch() { nearCursor_ = true; }
  bool IsSentinel(const ActiveNode* n) const { return n == &bottom_ || n == &top_; }
  bool IsBottom(const ActiveNode* n) const { return n == &bottom_; }
  bool IsTop(const ActiveNode* n) const { return n == &top_; }
  ActiveNode* Bottom() { return &bottom_; }
  // Links a new edge from left to right (forward: the ring runs that way)
  // just below the lowest edge it does not lie above at x; returns it.
  ActiveNode* InsertEdge(PSPoint* left, PSPoint* right, bool forward, int32_t x);
  // Unlinks the edge with these two ends (ending at x) and returns the node
  // that followed it. Throws "Wrong segment ordering" when it is missing.
  ActiveNode* RemoveEdge(PSPoint* left, PSPoint* right, int32_t x);
  // The node of the edge with these two ends. Throws "Wrong segment
  // ordering" when it is missing.
  ActiveNode* FindEdge(const PSPoint* left, const PSPoint* right) const;
  // Unlinks n, an edge of the list found by the caller, and returns the node
  // that followed it.
  ActiveNode* RemoveNode(ActiveNode* n);

  // The y range of the edges (all horizontal) whose neighbours changed
  // since the last ResetTouched; empty when lo > hi.
  int64_t TouchedLo() const { return touchLo_; }
  int64_t TouchedHi() const { return touchHi_; }
  void ResetTouched() {
    touchLo_ = INT64_MAX;
    touchHi_ = INT64_MIN;
  }
  // The lowest edge (horizontal edges only) whose y is at least y; may be
  // the top sentinel.
  ActiveNode* FirstEdgeAtOrAbove(int64_t y);

  // --- Window ------------------------------------------------------------
  bool WindowHoldsPoint() const { return !fifo_.empty(); }
  bool IsWindowEnd(const WindowNode* n) const { return n == &wFirst_ || n == &wLast_; }
  bool IsWindowFirst(const WindowNode* n) const { return n == &wFirst_; }
  bool IsWindowLast(const WindowNode* n) const { return n == &wLast_; }
  // Moves the window cursor to the first node with y >= low and returns it.
  WindowNode* SeekWindow(int64_t low);
  // Inserts s before the first node not less than it in (y, x) order; the
  // window cursor goes to it. span: the other end of the edge at s that a
  // later point of the column gathers when it lies above that point.
  void InsertWindow(PSPoint* s, PSPoint* span = nullptr);
  // Adds to the spanning list, for the window nodes not yet examined in this
  // column whose y lies below s.y, the pair that `pick` returns (null: none).
  template <typename Pick>
  void Gather(const PSPoint* s, Pick pick) {
    if (IsWindowFirst(gather_)) gather_ = gather_->up;
    while (!IsWindowLast(gather_) && gather_->y < s->y) {
      PSPoint* v = pick(gather_->p);
      if (v) spanning_.emplace_back(gather_->p, v);
      gather_ = gather_->up;
    }
  }
  // Gather with the pair (u, span) of every examined window point u whose
  // span, given at its insertion, lies above s.y.
  void GatherSpans(const PSPoint* s) {
    // A node lower than s by the longest rise to a span in the window so
    // far has no span above s, nor above a later point of the column: the
    // walk starts above them.
    const int64_t from = int64_t(s->y) - (maxRise_ > 1 ? maxRise_ : 1) + 1;
    if (IsWindowFirst(gather_) || (!IsWindowLast(gather_) && gather_->y < from))
      gather_ = FindWindow(from);
    while (!IsWindowLast(gather_) && gather_->y < s->y) {
      if (gather_->spanY > s->y) spanning_.emplace_back(gather_->p, gather_->span);
      gather_ = gather_->up;
    }
  }
  // Column change before point j: drops the window points with
  // x + |distance| <= j.x, resets the cursors and empties the spanning list.
  void ChangeColumn(const PSPoint* j);

  std::vector<std::pair<PSPoint*, PSPoint*>>& Spanning() { return spanning_; }

  // --- Output ------------------------------------------------------------
  bool Region(const PSPoint* a, const PSPoint* b, const PSPoint* c,
              const PSPoint* d, int twoWay) {
    return BuildViolationRegionOf(Box(a->x, a->y, b->x, b->y),
                                  Box(c->x, c->y, d->x, d->y), twoWay);
  }
  bool BuildViolationRegionOf(const Box& owner, const Box& partner, int twoWay);
  // Corner box of p and q, each side widened by unit when narrower.
  void CornerBox(const PSPoint* p, const PSPoint* q);
  // The rectangle x from s.x - unit to j.x + unit, y from s.y to j.y.
  void ColumnRect(const PSPoint* s, const PSPoint* j);
  // The rows [lo, hi] of the corner band at s, the end of the edge from
  // prev: s, the end moved out by the distance along the edge, and both
  // shifted across it by the rule distance.
  std::pair<int64_t, int64_t> CornerBandRows(const PSPoint* prev, const PSPoint* s) const;
  // Squared distance of two points in 64 bits, compared with d squared.
  bool Closer(const PSPoint* a, const PSPoint* b) const {
    const int64_t dx = int64_t(a->x) - b->x, dy = int64_t(a->y) - b->y;
    const __int128 q = __int128(dx) * dx + __int128(dy) * dy;
    return q < dd_;
  }
  bool SkipLayer(const PSPoint* h, bool layer) const {
    return twoLayers_ && SecondLayerOf(h) == layer;
  }

  PSList& out_;
  const int32_t d_;       // signed rule distance (its sign picks the side)
  const int64_t ad_;      // |distance|
  const __int128 dd_;     // distance squared
  const int32_t unit_;
  const int closed_;
  const bool edgeWork_;   // kind != 1
  const bool cornerWork_; // kind <= 1
  const bool twoLayers_;

 private:
  ActiveNode* NewNode(PSPoint* left, PSPoint* right, bool forward);
  // Lowest node that e does not lie above at x; fills the predecessors.
  ActiveNode* Locate(const SweepEdge& e, int32_t x, ActiveNode** pred);
  // The place of a horizontal edge at y found from the cursor within a few
  // steps (pred[0] filled), or null.
  ActiveNode* LocateNearCursor(int32_t y, ActiveNode** pred);
  void Unlink(ActiveNode* n);
  // Where a search of the window for y starts: the cursor or one end.
  WindowNode* WindowStart(int64_t y) const;
 protected:
  // The first window node with y >= low (or the last end); the cursor
  // stays.
  WindowNode* FindWindow(int64_t low) const;
 private:
  void Touch(const ActiveNode* n) {
    if (IsSentinel(n)) return;
    const int64_t y = n->y;
    if (y < touchLo_) touchLo_ = y;
    if (y > touchHi_) touchHi_ = y;
  }

  ActiveNode bottom_, top_;
  ActiveNode* cursor_;
  int64_t slanted_ = 0;      // edges of the list that are not horizontal
  int levelsUsed_ = 1;       // the highest level of a node so far
  bool nearCursor_ = false;  // UseNearCursorSearch
  RecordPool<ActiveNode> activePool_;
  EdgeTable edges_;
  uint32_t rng_ = 0x9E3779B9u;
  int64_t touchLo_ = INT64_MAX, touchHi_ = INT64_MIN;

  WindowNode wFirst_, wLast_;
  WindowNode* wCursor_;
  WindowNode* gather_;
  std::deque<WindowNode*> fifo_;  // window points in insertion (x) order
  // The longest rise from a window point to its span so far in the sweep.
  int64_t maxRise_ = 0;
  RecordPool<WindowNode> windowPool_;

  std::vector<std::pair<PSPoint*, PSPoint*>> spanning_;
};

}  // namespace velmar::distance_sweep
