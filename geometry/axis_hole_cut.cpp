// Cutting holes open in axis-parallel lists: the edge above every hole
// start is found in one pass over the sorted points (heights as ranks, the
// heights in use as a bitset searched upwards), then the cuts are made.

#include "geometry/axis_hole_cut.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/scratch_array.h"
#include "geometry/point_list_order.h"

namespace velmar {

namespace {

// Kinds of the pass's events, in the low bits of an event's word (point
// records are 8-aligned); bit 2 marks an edge whose ring runs from its left
// end to its right end.
constexpr uintptr_t kInsert = 0;
constexpr uintptr_t kRemove = 1;
constexpr uintptr_t kHole = 2;
constexpr uintptr_t kColumnEnd = 3;
constexpr uintptr_t kKindMask = 3;
constexpr uintptr_t kForward = 4;
constexpr uintptr_t kTagMask = 7;
static_assert(alignof(PSPoint) > kTagMask, "the tags live in a point's address");

// One event of the pass over the sorted points. An edge is named by the
// vertex its ring leaves it from (its owner) and its direction; a hole by
// its start vertex. y is the height, replaced by its rank before the
// events are replayed.
struct Event {
  uintptr_t word;
  int32_t y;
  int32_t order;  // of a hole: its place in the sweep's cutting order
};

// A set of ranks in [0, n) with the search for the next member above a
// rank: one bit per rank, and above that one bit per non-empty word, level
// by level up to a single word.
class RankSet {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit RankSet(size_t n) {
    size_t words = n;
    do {
      words = (words + 63) / 64;
      levels_.emplace_back(words, uint64_t(0));
    } while (words > 1);
  }

  void Insert(uint32_t r) {
    for (std::vector<uint64_t>& level : levels_) {
      uint64_t& w = level[r >> 6];
      const bool had = w != 0;
      w |= uint64_t(1) << (r & 63);
      if (had) return;
      r >>= 6;
    }
  }

  void Erase(uint32_t r) {
    for (std::vector<uint64_t>& level : levels_) {
      uint64_t& w = level[r >> 6];
      w &= ~(uint64_t(1) << (r & 63));
      if (w != 0) return;
      r >>= 6;
    }
  }

  // The smallest member above r, or kNone.
  uint32_t Above(uint32_t r) const {
    size_t k = 0;
    uint64_t at = r;
    for (;;) {
      if (k == levels_.size()) return kNone;
      const uint64_t bit = at & 63;
      const uint64_t w =
          bit == 63 ? 0 : levels_[k][at >> 6] & (~uint64_t(0) << (bit + 1));
      if (w != 0) {
        at = (at & ~uint64_t(63)) | uint64_t(__builtin_ctzll(w));
        break;
      }
      at >>= 6;
      ++k;
    }
    while (k > 0) {
      --k;
      at = at * 64 + uint64_t(__builtin_ctzll(levels_[k][at]));
    }
    return uint32_t(at);
  }

 private:
  std::vector<std::vector<uint64_t>> levels_;
};

bool IsUpperLeftClockwise(const PSPoint* h) {
  const PSPoint* hn = h->next;
  const PSPoint* hp = h->prev;
  return hn && hp && hn->y == h->y && hn->x > h->x && hp->x == h->x &&
         hp->y < h->y;
}

// Replaces the heights of the events (all but column ends) by their ranks
// among the distinct heights; returns the number of distinct heights.
uint32_t RankHeights(ScratchArray<Event>& events) {
  ScratchArray<uint64_t> keys(events.size() + 1);
  uint32_t minY = UINT32_MAX, maxY = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    if ((events[i].word & kKindMask) == kColumnEnd) continue;
    const uint32_t u = uint32_t(events[i].y) ^ 0x80000000u;
    minY = std::min(minY, u);
    maxY = std::max(maxY, u);
    keys.push_back((uint64_t(u) << 32) | uint64_t(i));
  }
  const size_t n = keys.size();
  if (n == 0) return 0;
  // Least significant digit first on the height's offset from the lowest.
  constexpr int kDigit = 11;
  constexpr size_t kBuckets = size_t(1) << kDigit;
  int bits = 0;
  while (bits < 32 && ((maxY - minY) >> bits) != 0) ++bits;
  for (uint64_t& k : keys) k -= uint64_t(minY) << 32;
  ScratchArray<uint64_t> buffer;
  uint64_t* from = keys.data();
  if (bits > 0) buffer.resize_uninitialised(n);
  std::vector<uint32_t> count(kBuckets);
  for (int shift = 32; shift < 32 + bits; shift += kDigit) {
    std::fill(count.begin(), count.end(), 0u);
    for (size_t i = 0; i < n; ++i) ++count[(from[i] >> shift) & (kBuckets - 1)];
    uint32_t sum = 0;
    for (uint32_t& c : count) {
      const uint32_t t = c;
      c = sum;
      sum += t;
    }
    uint64_t* to = from == keys.data() ? buffer.data() : keys.data();
    for (size_t i = 0; i < n; ++i) to[count[(from[i] >> shift) & (kBuckets - 1)]++] = from[i];
    from = to;
  }
  uint32_t rank = 0;
  uint64_t last = from[0] >> 32;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t y = from[i] >> 32;
    if (y != last) {
      ++rank;
      last = y;
    }
    events[size_t(from[i] & 0xFFFFFFFFu)].y = int32_t(rank);
  }
  return rank + 1;
}

// A hole start and the edge to hang it from: the edge's tagged owner, or 0
// when nothing lies above the hole.
struct Cut {
  PSPoint* hole;
  uintptr_t above;
};

}  // namespace

bool CutAxisParallelHolesOpen(PSList& list) {
  if (!list.head) return true;
  // The events of the sweep's columns: every horizontal edge enters at its
  // left end and leaves at its right end (a vertical edge enters and leaves
  // in one column and never lies above a hole at the column's end); the
  // holes of a column are looked up at its end.
  //
  // The sweep cuts the holes of a column in the order in which the nodes of
  // their upper edges first entered the column's list of new nodes, and a
  // node freed in the column is the next one taken (last freed, first
  // taken): an upper edge that takes the node of the hole's left side has
  // the place that side took. So the nodes are followed as well: per node
  // taken, the column's count of takings when the node was first taken in
  // the column (a node freed in an earlier column, or never used, counts as
  // new), and per freed node that first taking, or kOld for a node from an
  // earlier column (every horizontal edge). Of two coincident vertical
  // edges the sweep frees whichever node it meets first: both become
  // kUnknown, and so does every node taken in their place; a hole whose
  // upper edge takes one is left to the sweep.
  constexpr int32_t kOld = -1, kUnknown = -2;
  // The arrays live for one call; the large ones are scratch arrays, whose
  // pages are faulted in as huge pages where the kernel has them.
  // Every horizontal edge gives two events, and holes and column ends at
  // most one per four points (a hole has four vertices at least): room for
  // that at once, so the array is not copied while it fills.
  ScratchArray<Event> events;
  const size_t points = size_t(std::max(list.pointCount, 0));
  events.Reserve(points + points / 2 + 16);
  std::vector<int32_t> freed;  // first takings of the freed nodes, last on top
  // The vertical edges in the column's list: owner and first taking.
  std::vector<std::pair<const PSPoint*, int32_t>> verticals;
  constexpr size_t kMaxVerticals = 64;  // beyond: overlapping input, left to the sweep
  int32_t taken = 0;
  auto take = [&]() {
    int32_t first = taken++;
    if (!freed.empty()) {
      if (freed.back() != kOld) first = freed.back();
      freed.pop_back();
    }
    return first;
  };
  // Takes a node for the edge from owner between lo and hi (lo < hi); false
  // when the column holds too many vertical edges at once.
  auto enter = [&](const PSPoint* owner, const PSPoint* lo, const PSPoint* hi,
                   int32_t& first) {
    first = take();
    if (lo->x != hi->x) return true;
    int32_t token = first;
    for (auto& v : verticals) {
      const PSPoint* o = v.first;
      const PSPoint* n = o->next;
      if (SamePosition(o, lo) ? SamePosition(n, hi) : SamePosition(o, hi) && SamePosition(n, lo))
        v.second = token = kUnknown;
    }
    if (verticals.size() == kMaxVerticals) return false;
    verticals.emplace_back(owner, token);
    return true;
  };
  // Frees the node of the edge from owner; false when it is not in the list.
  auto leave = [&](const PSPoint* owner, bool vertical) {
    if (!vertical) {
      freed.push_back(kOld);
      return true;
    }
    for (size_t i = verticals.size(); i-- > 0;) {
      if (verticals[i].first == owner) {
        freed.push_back(verticals[i].second);
        verticals.erase(verticals.begin() + std::ptrdiff_t(i));
        return true;
      }
    }
    return false;
  };
  int32_t x = list.head->x;
  bool holesInColumn = false;
  // The ring neighbours of a point lie anywhere in memory: they are asked
  // for some points ahead on the link chain, so that the misses overlap;
  // the chain lead draws in those that lie near on the chain.
  constexpr int kAhead = 12;
  PSPoint* ahead = list.head;
  for (int i = 0; ahead && i < kAhead; ++i) ahead = ahead->link;
  ChainLead lead(list.head);
  for (PSPoint* p = list.head; p; p = p->link) {
    if (ahead) {
      __builtin_prefetch(ahead->next);
      __builtin_prefetch(ahead->prev);
      ahead = ahead->link;
    }
    lead.Step();
    if (p->x != x) {
      if (holesInColumn) events.push_back(Event{kColumnEnd, 0, 0});
      holesInColumn = false;
      if (!verticals.empty()) return false;
      freed.clear();
      taken = 0;
      x = p->x;
    }
    PSPoint* prev = p->prev;
    PSPoint* next = p->next;
    if (next && next->x != p->x && next->y != p->y) return false;
    const bool hole = (p->flags & PSPointFlags::HoleStart) != 0;
    if (hole && !IsUpperLeftClockwise(p)) return false;
    // In the order of the sweep's event: the edges that end at p leave,
    // then the ones that start at p enter.
    int32_t first = 0;
    if (prev && ComparePoint(prev, p) < 0) {
      if (!leave(prev, prev->x == p->x)) return false;
      if (prev->y == p->y)
        events.push_back(Event{reinterpret_cast<uintptr_t>(prev) | kForward | kRemove, p->y, 0});
    }
    if (next && ComparePoint(next, p) < 0) {
      if (!leave(p, next->x == p->x)) return false;
      if (next->y == p->y)
        events.push_back(Event{reinterpret_cast<uintptr_t>(p) | kRemove, p->y, 0});
    } else if (next && ComparePoint(p, next) < 0) {
      if (!enter(p, p, next, first)) return false;
      if (next->y == p->y)
        events.push_back(Event{reinterpret_cast<uintptr_t>(p) | kForward | kInsert, p->y, 0});
      // A hole start's upper edge runs right from it.
      if (hole) {
        if (first == kUnknown) return false;
        events.push_back(Event{reinterpret_cast<uintptr_t>(p) | kHole, p->y, first});
        holesInColumn = true;
      }
    }
    if (prev && ComparePoint(p, prev) < 0) {
      int32_t unused = 0;
      if (!enter(prev, p, prev, unused)) return false;
      if (prev->y == p->y)
        events.push_back(Event{reinterpret_cast<uintptr_t>(prev) | kInsert, p->y, 0});
    }
  }
  if (holesInColumn) events.push_back(Event{kColumnEnd, 0, 0});

  // Replay with the heights as ranks: per rank the number of active edges,
  // the exclusive or of their tagged owners (the owner itself while the
  // edge is alone at its height) and the edge that entered last. Edges at
  // one height lie in the sweep's order as they entered, the last one
  // lowest: the edge just above a hole is the last one to enter at the next
  // height above it. When that edge leaves while two or more stay, which of
  // them entered last is not kept (kNoOwner): a hole below them is left to
  // the sweep.
  constexpr uintptr_t kNoOwner = 1;  // never a tagged owner (kind bits clear)
  const uint32_t ranks = RankHeights(events);
  // One record per rank, so that an event reads one cache line.
  struct Height {
    uintptr_t owners = 0;
    uintptr_t latest = 0;
    uint32_t count = 0;
  };
  ScratchArray<Height> heights(ranks + 1);
  heights.resize_uninitialised(ranks);
  std::fill(heights.begin(), heights.end(), Height{});
  RankSet active(ranks);
  std::vector<const Event*> pending;
  std::vector<Cut> cuts;
  // The events come by column and their heights lie anywhere: the record of
  // an event's height is asked for some events ahead, so the misses overlap.
  constexpr size_t kReplayAhead = 16;
  const Event* const eventEnd = events.end();
  for (const Event& e : events) {
    if (&e + kReplayAhead < eventEnd)
      __builtin_prefetch(&heights[uint32_t((&e)[kReplayAhead].y)], 1);
    const uint32_t r = uint32_t(e.y);
    const uintptr_t owner = e.word & ~kKindMask;
    switch (e.word & kKindMask) {
      case kInsert: {
        Height& at = heights[r];
        if (at.count++ == 0) active.Insert(r);
        at.owners ^= owner;
        at.latest = owner;
        break;
      }
      case kRemove: {
        Height& at = heights[r];
        if (at.count == 0) return false;
        at.owners ^= owner;
        if (--at.count == 0) active.Erase(r);
        if (at.count == 1)
          at.latest = at.owners;
        else if (at.latest == owner)
          at.latest = kNoOwner;
        break;
      }
      case kHole:
        pending.push_back(&e);
        break;
      default:
        std::sort(pending.begin(), pending.end(),
                  [](const Event* a, const Event* b) { return a->order < b->order; });
        for (const Event* h : pending) {
          const uint32_t hr = uint32_t(h->y);
          // The hole's own upper edge must be alone at its height.
          if (heights[hr].count != 1) return false;
          const uint32_t t = active.Above(hr);
          if (t != RankSet::kNone && heights[t].latest == kNoOwner) return false;
          cuts.push_back(Cut{reinterpret_cast<PSPoint*>(h->word & ~kTagMask),
                             t == RankSet::kNone ? 0 : heights[t].latest});
        }
        pending.clear();
        break;
    }
  }

  // The cuts, in the sweep's order: ... -> TR -> A -> H -> around the hole
  // -> H's previous vertex -> J -> TL -> ..., where the edge above runs
  // from TR back to TL (its inside below it), A and J lie on it at H's
  // column, and J is TL itself when TL lies in that column. The edge keeps
  // TR as its owner, and TR's next vertex is its left end throughout: A
  // after a cut.
  for (const Cut& c : cuts) {
    PSPoint* h = c.hole;
    h->flags &= static_cast<uint16_t>(~PSPointFlags::HoleStart);
    if (c.above == 0 || (c.above & kForward)) continue;
    PSPoint* tr = reinterpret_cast<PSPoint*>(c.above & ~kTagMask);
    PSPoint* tl = tr->next;
    PSPoint* hp = h->prev;
    const int32_t cx = h->x, y = tr->y;
    PSPoint* a = PushPoint(list, cx, y);
    PSPoint* j = tl;
    if (tl->x < cx) {
      j = PushPoint(list, cx, y);
      LinkPoints(j, tl);
    }
    LinkPoints(hp, j);
    LinkPoints(tr, a);
    LinkPoints(a, h);
  }
  return true;
}

}  // namespace velmar
