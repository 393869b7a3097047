// Scan-line sweep of the boolean engine.
//
// The active list is a doubly linked list of edge nodes ordered bottom-up by
// CompareActiveEdge at the current column, with a sentinel node at each end
// (recognised by identity). It is also a skip list: every node carries links
// on a random number of express levels, so that the place of an edge is
// found in logarithmic time however many edges span the column. The express
// links always mirror the base order; they are derived from the place chosen
// in the base list, so a lost order can never corrupt them.
//
// Classification. The winding counts of a region do not change along an
// edge (every crossing and touching point splits the edges involved), so
// each node keeps the counts of the region just above its group once it has
// been classified. At the end of a column only the nodes inserted in that
// column are classified, taking the counts below them from the classified
// node underneath; a vertical edge takes the counts east of its lower end
// from the highest node passing at or below that end. This gives the result
// of a full bottom-up count of every column at the cost of the edges that
// actually change.
#include "geometry/scan_sweep.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "foundation/error.h"
#include "foundation/scratch_array.h"
#include "foundation/leftist_heap.h"
#include "geometry/fracture.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

using i128 = __int128;

constexpr int kMaxLevel = 12;      // express levels (4^12 edges before they thin out)
constexpr int kLocalSteps = 12;    // steps from the cursor before the express search
constexpr int kNodesPerBlock = 256;  // nodes of a full block
constexpr int kFirstBlockNodes = 16;  // blocks double up to full size: a
                                      // small sweep sets up few nodes

constexpr uint16_t kForwardBit = EdgeClass::ForwardBit;    // 0x02
constexpr uint16_t kForwardMask = EdgeClass::ForwardMask;  // 0x06
constexpr uint16_t kBackwardBit = EdgeClass::BackwardBit;  // 0x08
constexpr uint16_t kBackwardMask = EdgeClass::BackwardMask;  // 0x18
constexpr uint16_t kSecond = PSPointFlags::SecondLayer;
constexpr uint16_t kHoleStart = PSPointFlags::HoleStart;

int HeapCompare(const void* a, const void* b) {
  return ComparePoint(static_cast<const PSPoint*>(a),
                      static_cast<const PSPoint*>(b));
}

}  // namespace

// A node of the active list. Sentinels have no edge (null ends).
struct ActiveEdge {
  SweepEdge edge;
  int32_t count1 = 0;  // winding counts of the region just above the
  int32_t count2 = 0;  // node's group, once counted
  bool counted = false;
  bool live = false;
  uint8_t level = 0;
  ActiveEdge* up[kMaxLevel];
  ActiveEdge* down[kMaxLevel];
};

const ActiveEdge* SweepColumn::Next(const ActiveEdge* e) {
  const ActiveEdge* n = e->up[0];
  return n->edge.left ? n : nullptr;
}

const SweepEdge& SweepColumn::Edge(const ActiveEdge* e) { return e->edge; }

int ComparePointGreater(const PSPoint* a, const PSPoint* b) {
  return ComparePoint(a, b) > 0 ? 1 : 0;
}

int ComparePointChain(const PSPoint* a, const PSPoint* b) {
  if (const int c = ComparePoint(a, b)) return c;
  bool an = a->next != nullptr, bn = b->next != nullptr;
  if (an == bn) return 0;
  return an ? -1 : 1;
}

void SortPositionItems(std::vector<PositionItem>& a, bool chainOrder) {
  const size_t n = a.size();
  if (n < 2) return;
  if (n < 2048) {
    // Small lists: a comparison sort is cheaper than the digit passes.
    std::stable_sort(a.begin(), a.end(),
                     [chainOrder](const PositionItem& u, const PositionItem& v) {
                       if (u.key != v.key) return u.key < v.key;
                       return chainOrder && u.start > v.start;
                     });
    return;
  }
  // Radix sort, least significant digit first, through one buffer of the
  // same size (one allocation per sort).
  std::vector<PositionItem> b(n);
  std::vector<uint32_t> count(1 << 16);
  if (chainOrder) {
    size_t k = 0;
    for (const PositionItem& it : a)
      if (it.start) b[k++] = it;
    for (const PositionItem& it : a)
      if (!it.start) b[k++] = it;
    a.swap(b);
  }
  for (int shift = 0; shift < 64; shift += 16) {
    std::fill(count.begin(), count.end(), 0u);
    for (const PositionItem& it : a) ++count[(it.key >> shift) & 0xFFFF];
    if (count[(a[0].key >> shift) & 0xFFFF] == n) continue;  // one digit value
    uint32_t sum = 0;
    for (uint32_t& c : count) {
      const uint32_t t = c;
      c = sum;
      sum += t;
    }
    for (const PositionItem& it : a) b[count[(it.key >> shift) & 0xFFFF]++] = it;
    a.swap(b);
  }
}

namespace {

// One point of the position sort: its packed key and the point.
struct PackedItem {
  uint64_t key;
  PSPoint* point;
};

// The two arrays of the position sort stay with the thread between sorts
// up to this many records each (32 MiB): fresh memory for them would be
// zeroed by the kernel at every sort, a sizeable share of sorting a few
// million points. Larger arrays are given back after their sort.
constexpr size_t kKeptSortRecords = (size_t(32) << 20) / sizeof(PackedItem);

struct SortArrays {
  ScratchArray<PackedItem> items, buffer;
};

thread_local SortArrays sortArrays;

// Empties the arrays for the next sort, giving back those above the kept
// size; also when the sort ends by an exception.
struct SortArraysUse {
  SortArrays& arrays = sortArrays;
  ~SortArraysUse() {
    for (ScratchArray<PackedItem>* a : {&arrays.items, &arrays.buffer}) {
      if (a->capacity() > kKeptSortRecords) a->Release();
      else a->clear();
    }
  }
};

}  // namespace

// The keys are packed from the offsets of x and y from the list's smallest
// coordinates (and, with chainOrder, a lowest bit that puts the points with
// a next vertex first), so that a layout spanning a few million units needs
// about 42 bits: four passes of 11-bit digits, each small enough for its
// counts to stay in the first-level cache. Lists whose offsets do not fit
// 64 bits take the full-width sort of SortPositionItems.
void SortPointsByPosition(PSList& list, bool chainOrder) {
  if (!list.head || !list.head->link) return;
  SortArraysUse use;
  ScratchArray<PackedItem>& a = use.arrays.items;
  a.clear();
  a.Reserve(size_t(list.pointCount > 1 ? list.pointCount : 2));
  uint32_t minX = UINT32_MAX, maxX = 0, minY = UINT32_MAX, maxY = 0;
  for (PSPoint* p = list.head; p; p = p->link) {
    const uint32_t ux = uint32_t(p->x) ^ 0x80000000u, uy = uint32_t(p->y) ^ 0x80000000u;
    minX = std::min(minX, ux);
    maxX = std::max(maxX, ux);
    minY = std::min(minY, uy);
    maxY = std::max(maxY, uy);
    a.push_back(PackedItem{(uint64_t(ux) << 32) | uy, p});
  }
  const size_t n = a.size();
  auto bitsOf = [](uint32_t range) {
    int b = 0;
    while (b < 32 && (range >> b) != 0) ++b;
    return b;
  };
  const int xBits = bitsOf(maxX - minX), yBits = bitsOf(maxY - minY);
  const int startBit = chainOrder ? 1 : 0;
  const int bits = xBits + yBits + startBit;
  const PackedItem* sorted = a.data();
  ScratchArray<PackedItem>& buffer = use.arrays.buffer;
  buffer.clear();
  if (bits > 64 || n < 2048) {
    std::vector<PositionItem> items;
    items.reserve(n);
    for (const PackedItem& it : a)
      items.push_back(PositionItem{it.key, it.point, it.point->next ? 1u : 0u});
    SortPositionItems(items, chainOrder);
    for (size_t i = 0; i < n; ++i) a[i].point = items[i].point;
  } else {
    for (PackedItem& it : a) {
      const uint64_t ox = (it.key >> 32) - minX, oy = (it.key & 0xFFFFFFFFu) - minY;
      uint64_t key = (ox << (yBits + startBit)) | (oy << startBit);
      if (chainOrder && !it.point->next) key |= 1;
      it.key = key;
    }
    constexpr int kDigit = 11;
    constexpr size_t kBuckets = size_t(1) << kDigit;
    const int passes = (bits + kDigit - 1) / kDigit;
    std::vector<uint32_t> count(kBuckets * size_t(passes > 0 ? passes : 1), 0u);
    auto digit = [](uint64_t key, int k) { return size_t(key >> (k * kDigit)) & (kBuckets - 1); };
    for (const PackedItem& it : a)
      for (int k = 0; k < passes; ++k) ++count[k * kBuckets + digit(it.key, k)];
    PackedItem* from = a.data();
    for (int k = 0; k < passes; ++k) {
      uint32_t* c = &count[k * kBuckets];
      if (c[digit(from[0].key, k)] == n) continue;  // one digit value
      buffer.resize_uninitialised(n);
      PackedItem* to = from == a.data() ? buffer.data() : a.data();
      uint32_t sum = 0;
      for (size_t b = 0; b < kBuckets; ++b) {
        const uint32_t t = c[b];
        c[b] = sum;
        sum += t;
      }
      for (size_t i = 0; i < n; ++i) to[c[digit(from[i].key, k)]++] = from[i];
      from = to;
    }
    sorted = from;
  }
  // The points lie all over memory in sorted order: their lines are asked
  // for a few records ahead of the writes.
  constexpr size_t kAhead = 16;
  for (size_t i = 0; i + 1 < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(sorted[i + kAhead].point, 1);
    sorted[i].point->link = sorted[i + 1].point;
  }
  sorted[n - 1].point->link = nullptr;
  list.head = sorted[0].point;
  list.tail = sorted[n - 1].point;
}

int32_t EdgeYAt(const SweepEdge& e, int32_t x) {
  return YAt(Box(e.left->x, e.left->y, e.right->x, e.right->y), x);
}

bool SameEdgeGroup(const SweepEdge& rep, const SweepEdge& e) {
  return e.left->y == rep.left->y && Cross(rep.left, rep.right, e.left) == 0 &&
         Cross(rep.left, rep.right, e.right) == 0;
}

namespace {

// y of a non-vertical edge at x as the exact fraction num / den (den > 0).
inline void ExactYAt(const SweepEdge& e, int32_t x, i128& num, i128& den) {
  den = int64_t(e.right->x) - e.left->x;
  num = i128(e.left->y) * den +
        i128(int64_t(e.right->y) - e.left->y) * (int64_t(x) - e.left->x);
}

// Sign of (y of e at x) - y, e not vertical.
inline int CompareYAtWith(const SweepEdge& e, int32_t x, int32_t y) {
  if (e.left->y == e.right->y) return e.left->y < y ? -1 : (e.left->y > y ? 1 : 0);
  i128 num, den;
  ExactYAt(e, x, num, den);
  const i128 rhs = i128(y) * den;
  return num < rhs ? -1 : (num > rhs ? 1 : 0);
}

}  // namespace

// The order is exact: the y of each edge at x is compared as a fraction,
// never rounded, so that edges passing within half a unit of each other are
// not taken for equal; edges through one point are ordered by their slopes,
// as they lie to the right of x.
int CompareActiveEdge(const SweepEdge& e, const SweepEdge& n, int32_t x) {
  const bool ev = e.left->x == e.right->x;
  const bool nv = n.left->x == n.right->x;
  if (ev && nv) {
    if (e.left->y == n.left->y) return 0;
    return e.left->y < n.left->y ? -1 : 1;
  }
  if (ev) return CompareYAtWith(n, x, e.left->y) > 0 ? -1 : 1;
  if (nv) return CompareYAtWith(e, x, n.left->y) > 0 ? 1 : -1;
  int c;
  if (e.left->y == e.right->y && n.left->y == n.right->y) {
    c = e.left->y < n.left->y ? -1 : (e.left->y > n.left->y ? 1 : 0);
  } else {
    i128 ne, de, nn, dn;
    ExactYAt(e, x, ne, de);
    ExactYAt(n, x, nn, dn);
    const i128 a = ne * dn, b = nn * de;
    c = a < b ? -1 : (a > b ? 1 : 0);
  }
  if (c != 0) return c;
  if (x < e.right->x && x < n.right->x) {
    // Through one point: the smaller slope lies below to the right of x.
    const i128 se = i128(int64_t(e.right->y) - e.left->y) *
                    (int64_t(n.right->x) - n.left->x);
    const i128 sn = i128(int64_t(n.right->y) - n.left->y) *
                    (int64_t(e.right->x) - e.left->x);
    if (se < sn) return -1;
    if (se > sn) return 1;
  }
  return 0;
}

namespace {

enum class Mode {
  Output,   // classify by the code and emit kept edges
  Cut,      // code 25: cut holes open at column ends
  Cross,    // splits only (code 32, or no output)
  Columns,  // hand every column to a caller's walk
};

class Sweep {
 public:
  Sweep(PSList& list, PSList* out, BooleanOpCode code, bool keep, Mode mode,
        SweepColumnWalk walk, void* context)
      : list_(list), out_(out), code_(code), keep_(keep), mode_(mode),
        walk_(walk), context_(context) {
    for (int k = 0; k < kMaxLevel; ++k) {
      bottom_.up[k] = &top_;
      bottom_.down[k] = nullptr;
      top_.down[k] = &bottom_;
      top_.up[k] = nullptr;
    }
    bottom_.level = top_.level = kMaxLevel;
    bottom_.live = top_.live = true;
    bottom_.counted = top_.counted = true;
    cursor_ = &bottom_;
  }

  ~Sweep() { LeftistHeap::Clear(heap_); }

  Sweep(const Sweep&) = delete;
  Sweep& operator=(const Sweep&) = delete;

  void Run();
  void Record(std::vector<PositionItem>* emitted) { emitted_ = emitted; }

 private:
  friend class velmar::FractureView;

  bool IsSentinel(const ActiveEdge* n) const {
    return n == &bottom_ || n == &top_;
  }

  ActiveEdge* NewNode(const SweepEdge& e);
  void FreeNode(ActiveEdge* n);
  int Compare(const SweepEdge& e, const ActiveEdge* n, int32_t x) const {
    if (n == &bottom_) return 1;
    if (n == &top_) return -1;
    return CompareActiveEdge(e, n->edge, x);
  }
  ActiveEdge* Locate(const SweepEdge& e, int32_t x);
  void LinkBelow(ActiveEdge* n, ActiveEdge* at);
  void Unlink(ActiveEdge* n);
  ActiveEdge* InsertActiveEdge(const SweepEdge& e);
  void CheckSegmentOrder(const SweepEdge& e);
  void RemoveNode(ActiveEdge* n);
  int CheckCrossing(ActiveEdge* a, ActiveEdge* b);
  void CheckPair(ActiveEdge* lower, ActiveEdge* upper);
  void SwapContents(ActiveEdge* a, ActiveEdge* b);
  bool SplitActiveEdge(int32_t x, int32_t y, ActiveEdge* n);
  void FixVerticals();
  void Emit(const SweepEdge& e);
  void EmitChain(const PSPoint* left, const PSPoint* right, bool leftToRight);
  void HandleEvent(PSPoint* p);
  void EndColumn(int32_t x);
  void ProcessColumn(int32_t x);
  void CountRun(ActiveEdge* n);
  void ProcessVerticalEdges(int32_t x);
  void CountsBelow(int32_t x, int32_t y, int32_t& c1, int32_t& c2);
  void CutHoleOpen(int32_t x);
  ActiveEdge* NodeThrough(ActiveEdge* n, const PSPoint* left,
                          const PSPoint* right);
  void SortVerticals();
  int RandomLevel();
  uint16_t Decide(bool forward, int32_t c1b, int32_t c1a, int32_t c2b,
                  int32_t c2a) const;

  PSList& list_;
  PSList* out_;
  BooleanOpCode code_;
  bool keep_;
  Mode mode_;
  SweepColumnWalk walk_;
  void* context_;
  std::vector<PositionItem>* emitted_ = nullptr;

  ActiveEdge bottom_;
  ActiveEdge top_;
  ActiveEdge* cursor_;
  int levels_ = 1;  // express levels in use
  uint64_t random_ = 0x9E3779B97F4A7C15ull;
  int32_t columnX_ = 0;

  LeftistHeap heap_;
  std::vector<std::unique_ptr<ActiveEdge[]>> blocks_;
  int32_t blockSize_ = 0;  // nodes of the last block
  int32_t blockUsed_ = 0;
  ActiveEdge* freeNodes_ = nullptr;

  std::vector<SweepEdge> verticals_;      // vertical edges of the column
  std::vector<ActiveEdge*> fresh_;        // nodes inserted in the column
  std::vector<ActiveEdge*> fixQueue_;     // nodes split into downward verticals
  std::vector<PSPoint*> skip_;            // split vertices already in place
  struct PendingPair {
    ActiveEdge* lower;
    ActiveEdge* upper;
  };
  std::vector<PendingPair> pairs_;  // neighbours to check
};

// Class of an edge by the code. Merging one layer keeps the boundary of the
// first operand's region (count1 above 0); the second operand only splits.
uint16_t Sweep::Decide(bool forward, int32_t c1b, int32_t c1a, int32_t c2b,
                       int32_t c2a) const {
  if (code_ == BooleanOpCode::Merge)
    return EdgeClassDecision(BooleanOpCode::Or, forward, c1b, c1a, 0, 0);
  return EdgeClassDecision(code_, forward, c1b, c1a, c2b, c2a);
}

int Sweep::RandomLevel() {
  random_ ^= random_ << 13;
  random_ ^= random_ >> 7;
  random_ ^= random_ << 17;
  uint64_t r = random_;
  int level = 1;
  while ((r & 3) == 0 && level < kMaxLevel) {
    ++level;
    r >>= 2;
  }
  return level;
}

ActiveEdge* Sweep::NewNode(const SweepEdge& e) {
  ActiveEdge* n;
  if (freeNodes_) {
    n = freeNodes_;
    freeNodes_ = n->up[0];
  } else {
    if (blockUsed_ == blockSize_) {
      blockSize_ = blockSize_ == 0 ? kFirstBlockNodes : std::min(2 * blockSize_, kNodesPerBlock);
      blocks_.emplace_back(new ActiveEdge[size_t(blockSize_)]);
      blockUsed_ = 0;
    }
    n = &blocks_.back()[blockUsed_++];
  }
  n->edge = e;
  n->count1 = n->count2 = 0;
  n->counted = false;
  n->live = true;
  n->level = static_cast<uint8_t>(RandomLevel());
  if (n->level > levels_) levels_ = n->level;
  return n;
}

void Sweep::FreeNode(ActiveEdge* n) {
  n->live = false;
  n->up[0] = freeNodes_;
  freeNodes_ = n;
}

// The lowest node that edge e does not lie above at x (the place just above
// e): from the cursor, step down while e <= node, then up while e > node.
// Far from the cursor the express levels find the place instead.
ActiveEdge* Sweep::Locate(const SweepEdge& e, int32_t x) {
  ActiveEdge* c = cursor_;
  int steps = 0;
  bool near = true;
  while (c != &bottom_ && Compare(e, c, x) <= 0) {
    c = c->down[0];
    if (++steps > kLocalSteps) {
      near = false;
      break;
    }
  }
  if (near) {
    while (c != &top_ && Compare(e, c, x) > 0) {
      c = c->up[0];
      if (++steps > kLocalSteps) {
        near = false;
        break;
      }
    }
  }
  if (near) return c;

  ActiveEdge* h = &bottom_;
  for (int k = levels_ - 1; k >= 0; --k) {
    while (h->up[k] != &top_ && Compare(e, h->up[k], x) > 0) h = h->up[k];
  }
  c = h->up[0];
  while (c != &bottom_ && Compare(e, c, x) <= 0) c = c->down[0];
  while (c != &top_ && Compare(e, c, x) > 0) c = c->up[0];
  return c;
}

// Links n just below `at` in the base list and on each of its express
// levels after the nearest node below it that reaches that level.
void Sweep::LinkBelow(ActiveEdge* n, ActiveEdge* at) {
  ActiveEdge* p = at->down[0];
  n->down[0] = p;
  n->up[0] = at;
  p->up[0] = n;
  at->down[0] = n;
  for (int k = 1; k < n->level; ++k) {
    while (p->level <= k) p = p->down[k - 1];
    ActiveEdge* q = p->up[k];
    n->down[k] = p;
    n->up[k] = q;
    p->up[k] = n;
    q->down[k] = n;
  }
}

void Sweep::Unlink(ActiveEdge* n) {
  for (int k = 0; k < n->level; ++k) {
    n->down[k]->up[k] = n->up[k];
    n->up[k]->down[k] = n->down[k];
  }
}

ActiveEdge* Sweep::InsertActiveEdge(const SweepEdge& e) {
  ActiveEdge* at = Locate(e, e.left->x);
  ActiveEdge* n = NewNode(e);
  LinkBelow(n, at);  // below edges that compare equal
  cursor_ = n->down[0];
  fresh_.push_back(n);
  if (keep_) {
    CheckPair(n->down[0], n);
    // A node turned into a vertical piece by the fix has had its remaining
    // edge inserted (and checked) anew.
    if (n->live && n->edge.left == e.left) CheckPair(n, n->up[0]);
  }
  return n;
}

// Removal of an edge at its right end.
void Sweep::CheckSegmentOrder(const SweepEdge& e) {
  auto same = [&](const ActiveEdge* n) {
    if (keep_) {
      return n->edge.left == e.left && n->edge.right == e.right &&
             n->edge.forward == e.forward;
    }
    return SamePosition(n->edge.left, e.left) &&
           SamePosition(n->edge.right, e.right);
  };
  ActiveEdge* n = cursor_;
  if (IsSentinel(n) || !same(n)) {
    n = Locate(e, e.right->x);
    while (n != &top_ && !same(n)) n = n->up[0];
    // The engine snap-rounds crossings before it sweeps, so the order is
    // exact and the edge is at or above its place; this is the last guard.
    if (n == &top_) throw Error("Wrong segment ordering", "DRC");
  }
  RemoveNode(n);
}

void Sweep::RemoveNode(ActiveEdge* n) {
  ActiveEdge* below = n->down[0];
  ActiveEdge* above = n->up[0];
  Unlink(n);
  FreeNode(n);
  cursor_ = below;
  if (keep_) CheckPair(below, above);
}

// Checks two neighbours of the active list for a crossing or an overlap and
// splits them: 0 nothing, 1 split at a crossing (or a touching point), 2
// split of a collinear overlap.
int Sweep::CheckCrossing(ActiveEdge* a, ActiveEdge* b) {
  const SweepEdge& ea = a->edge;
  const SweepEdge& eb = b->edge;
  const int64_t adx = int64_t(ea.right->x) - ea.left->x;
  const int64_t ady = int64_t(ea.right->y) - ea.left->y;
  const int64_t bdx = int64_t(eb.right->x) - eb.left->x;
  const int64_t bdy = int64_t(eb.right->y) - eb.left->y;
  const i128 cross = i128(adx) * bdy - i128(ady) * bdx;
  if (cross != 0) {
    if (SamePosition(ea.left, eb.left) || SamePosition(ea.left, eb.right) ||
        SamePosition(ea.right, eb.left) || SamePosition(ea.right, eb.right))
      return 0;
    Box sa(ea.left->x, ea.left->y, ea.right->x, ea.right->y);
    Box sb(eb.left->x, eb.left->y, eb.right->x, eb.right->y);
    int32_t x = 0, y = 0;
    if (SegmentCrossing(sa, sb, x, y) != 1) return 0;
    const bool splitA = SplitActiveEdge(x, y, a);
    const bool splitB = SplitActiveEdge(x, y, b);
    return splitA || splitB ? 1 : 0;
  }
  if (Cross(ea.left, ea.right, eb.left) != 0) return 0;  // parallel
  // Collinear: cut the longer one where the other begins or ends, one cut
  // per check; the pieces meet again as neighbours until they are equal.
  if (ComparePoint(ea.left, eb.right) >= 0 ||
      ComparePoint(eb.left, ea.right) >= 0)
    return 0;
  if (ComparePoint(eb.left, ea.left) < 0) {
    if (!SplitActiveEdge(ea.left->x, ea.left->y, b)) return 0;
  } else if (ComparePoint(ea.left, eb.left) < 0) {
    if (!SplitActiveEdge(eb.left->x, eb.left->y, a)) return 0;
  } else if (ComparePoint(ea.right, eb.right) < 0) {
    if (!SplitActiveEdge(ea.right->x, ea.right->y, b)) return 0;
  } else if (ComparePoint(eb.right, ea.right) < 0) {
    if (!SplitActiveEdge(eb.right->x, eb.right->y, a)) return 0;
  } else {
    return 0;
  }
  return 2;
}

// Checks the neighbours lower (directly below) and upper for a crossing.
// A crossing point rounded to the grid moves both pieces a little, so after
// a split the pair and each piece with its other neighbour are checked
// again: neighbours found out of order at the column (the rounded piece now
// passes on the other side) are exchanged, and pieces that now cross are
// split in turn. The repairs stay local to the split. The order is checked
// for every pair, the first one too: a vertical edge never compares equal
// to another edge, so an edge placed among edges through one point can
// still stand on the wrong side of a neighbour.
void Sweep::CheckPair(ActiveEdge* lower, ActiveEdge* upper) {
  const size_t base = pairs_.size();
  pairs_.push_back(PendingPair{lower, upper});
  while (pairs_.size() > base) {
    const PendingPair pair = pairs_.back();
    pairs_.pop_back();
    ActiveEdge* lo = pair.lower;
    ActiveEdge* hi = pair.upper;
    if (IsSentinel(lo) || IsSentinel(hi) || !lo->live || !hi->live ||
        lo->up[0] != hi)
      continue;
    if (CompareActiveEdge(lo->edge, hi->edge, columnX_) > 0) {
      SwapContents(lo, hi);
      pairs_.push_back(PendingPair{lo->down[0], lo});
      pairs_.push_back(PendingPair{hi, hi->up[0]});
      pairs_.push_back(PendingPair{lo, hi});
      continue;
    }
    const int split = CheckCrossing(hi, lo);
    FixVerticals();
    if (split == 0) continue;
    pairs_.push_back(PendingPair{lo->down[0], lo});
    pairs_.push_back(PendingPair{hi, hi->up[0]});
    pairs_.push_back(PendingPair{lo, hi});
  }
}

// Exchanges the edges of two neighbour nodes. The edges keep the classes
// they already have; both nodes are counted again at the end of the column,
// so that the counts they hand up match their new order.
void Sweep::SwapContents(ActiveEdge* a, ActiveEdge* b) {
  std::swap(a->edge, b->edge);
  for (ActiveEdge* n : {a, b}) {
    n->counted = false;
    fresh_.push_back(n);
  }
}

bool Sweep::SplitActiveEdge(int32_t x, int32_t y, ActiveEdge* n) {
  SweepEdge& e = n->edge;
  PSPoint* l = e.left;
  PSPoint* r = e.right;
  if ((x == l->x && y == l->y) || (x == r->x && y == r->y)) return false;
  // A meeting point behind the sweep line: the two edges have already
  // passed each other.
  if (x < columnX_) return false;
  PSPoint* v = PushPoint(list_, x, y);
  if (e.forward) {
    LinkPoints(l, v);
    LinkPoints(v, r);
    v->flags = l->flags & kSecond;
  } else {
    LinkPoints(r, v);
    LinkPoints(v, l);
    v->flags = r->flags;
    r->flags = l->flags & kSecond;
  }
  e.right = v;
  LeftistHeap::Insert(heap_, v, HeapCompare);
  if (v->x == l->x && v->y < l->y) fixQueue_.push_back(n);
  return true;
}

// A split whose point v was rounded onto the current column below the edge's
// left end l leaves a piece that runs straight down the column. That piece
// is a vertical edge of the column (from v up to l): it leaves the active
// list at once and is classified with the column's other vertical edges;
// the rest of the edge, from v on, is inserted at its place in the column.
// Both edges of v are then in place, so v's own event is skipped.
void Sweep::FixVerticals() {
  while (!fixQueue_.empty()) {
    ActiveEdge* n = fixQueue_.back();
    fixQueue_.pop_back();
    if (!n->live) continue;
    PSPoint* l = n->edge.left;
    PSPoint* v = n->edge.right;
    if (!(v->x == l->x && v->y < l->y)) continue;
    const bool forward = n->edge.forward;
    PSPoint* r = forward ? v->next : v->prev;
    if (mode_ == Mode::Output || mode_ == Mode::Columns)
      verticals_.push_back(SweepEdge{v, l, !forward});
    skip_.push_back(v);
    RemoveNode(n);
    if (r && ComparePoint(v, r) < 0) InsertActiveEdge(SweepEdge{v, r, forward});
  }
}

void Sweep::EmitChain(const PSPoint* left, const PSPoint* right,
                      bool leftToRight) {
  PSPoint* a = PushPoint(*out_, left->x, left->y);
  PSPoint* b = PushPoint(*out_, right->x, right->y);
  if (leftToRight)
    LinkPoints(a, b);
  else
    LinkPoints(b, a);
  if (emitted_) {
    emitted_->push_back(PositionItem{PositionItem::KeyOf(a), a, leftToRight ? 1u : 0u});
    emitted_->push_back(PositionItem{PositionItem::KeyOf(b), b, leftToRight ? 0u : 1u});
  }
}

void Sweep::Emit(const SweepEdge& e) {
  if (mode_ != Mode::Output) return;
  PSPoint* l = e.left;
  const uint16_t bit = e.forward ? kForwardBit : kBackwardBit;
  const uint16_t mask = e.forward ? kForwardMask : kBackwardMask;
  if (!(l->flags & bit)) return;
  const uint16_t cls = l->flags & mask;
  EmitChain(l, e.right,
            cls == EdgeClass::KeptForward || cls == EdgeClass::ReversedBackward);
  l->flags &= static_cast<uint16_t>(~mask);
}

void Sweep::HandleEvent(PSPoint* p) {
  const bool classify = mode_ == Mode::Output || mode_ == Mode::Columns;
  if (!skip_.empty()) {
    auto it = std::find(skip_.begin(), skip_.end(), p);
    if (it != skip_.end()) {
      skip_.erase(it);
      return;
    }
  }
  PSPoint* prev = p->prev;
  if (prev && ComparePoint(prev, p) < 0) {
    const SweepEdge e{prev, p, true};
    if (classify && prev->x == p->x) verticals_.push_back(e);
    CheckSegmentOrder(e);
    Emit(e);
  }
  PSPoint* next = p->next;
  if (next && ComparePoint(next, p) < 0) {
    const SweepEdge e{next, p, false};
    if (classify && next->x == p->x) verticals_.push_back(e);
    CheckSegmentOrder(e);
    Emit(e);
  } else if (next && ComparePoint(p, next) < 0) {
    InsertActiveEdge(SweepEdge{p, next, true});
  }
  prev = p->prev;
  if (prev && ComparePoint(p, prev) < 0) InsertActiveEdge(SweepEdge{p, prev, false});
}

void Sweep::Run() {
  const bool fracture = code_ == BooleanOpCode::Fracture ||
                        code_ == BooleanOpCode::FractureCommand;
  FractureView view(this);
  PSPoint* p = list_.head;
  if (!p) return;
  PSPoint* d = p->link;
  // The ring neighbours that an event reads lie anywhere in memory: they
  // are asked for some events ahead on the link chain, so that their cache
  // misses overlap. (A point inserted behind the look-ahead is only not
  // asked for.)
  constexpr int kAhead = 12;
  PSPoint* ahead = d;
  for (int i = 0; ahead && i < kAhead; ++i) ahead = ahead->link;
  columnX_ = p->x;
  for (;;) {
    HandleEvent(p);
    PSPoint* nextEvent = nullptr;
    if (heap_.root &&
        (!d || ComparePoint(heap_.root->Item<PSPoint>(), d) <= 0)) {
      nextEvent = heap_.root->Item<PSPoint>();
      LeftistHeap::PopMin(heap_, HeapCompare);
    } else if (d) {
      nextEvent = d;
      d = d->link;
      if (ahead) {
        __builtin_prefetch(ahead->next);
        __builtin_prefetch(ahead->prev);
        ahead = ahead->link;
      }
    }
    if (!nextEvent) break;
    // Vertical fracturing cuts at p; joining p to the next event puts a
    // vertex behind that event on the link chain, so the chain is re-read.
    if (fracture &&
        FractureStep(list_, p, nextEvent, view,
                     code_ == BooleanOpCode::FractureCommand))
      d = nextEvent->link;
    if (nextEvent->x != p->x) {
      EndColumn(p->x);
      columnX_ = nextEvent->x;
    }
    p = nextEvent;
  }
  EndColumn(p->x);
}

void Sweep::SortVerticals() {
  // Coincident verticals are equal whichever comes first; std::sort needs
  // no buffer.
  std::sort(verticals_.begin(), verticals_.end(),
            [](const SweepEdge& a, const SweepEdge& b) {
              if (a.left->y != b.left->y) return a.left->y < b.left->y;
              return a.right->y < b.right->y;
            });
}

void Sweep::EndColumn(int32_t x) {
  switch (mode_) {
    case Mode::Output:
      ProcessColumn(x);
      break;
    case Mode::Cut:
      CutHoleOpen(x);
      break;
    case Mode::Columns: {
      SortVerticals();
      SweepColumn column;
      column.x = x;
      column.verticals = verticals_.data();
      column.verticalCount = static_cast<int32_t>(verticals_.size());
      column.first = bottom_.up[0] == &top_ ? nullptr : bottom_.up[0];
      walk_(context_, column);
      break;
    }
    case Mode::Cross:
      break;
  }
  cursor_ = &bottom_;
  verticals_.clear();
  fresh_.clear();
}

void Sweep::ProcessColumn(int32_t x) {
  for (ActiveEdge* n : fresh_) {
    if (n->live && !n->counted) CountRun(n);
  }
  ProcessVerticalEdges(x);
}

// Counts and classifies the run of not yet counted nodes around n, group by
// group from the bottom, starting from the counts above the node below the
// run. A group of coincident edges that reaches below the run is counted
// whole.
void Sweep::CountRun(ActiveEdge* n) {
  ActiveEdge* b = n;
  while (b->down[0] != &bottom_ && !b->down[0]->counted) b = b->down[0];
  while (b->down[0] != &bottom_ && SameEdgeGroup(b->down[0]->edge, b->edge))
    b = b->down[0];
  int32_t c1 = b->down[0]->count1;  // the bottom sentinel holds 0, 0
  int32_t c2 = b->down[0]->count2;
  ActiveEdge* cur = b;
  bool first = true;
  while (cur != &top_ && (first || !cur->counted)) {
    first = false;
    ActiveEdge* rep = cur;
    int32_t d1 = 0, d2 = 0;
    bool classified = false;
    ActiveEdge* m = cur;
    do {
      const SweepEdge& e = m->edge;
      const int32_t s = e.forward ? 1 : -1;
      if (e.left->flags & kSecond)
        d2 += s;
      else
        d1 += s;
      if (e.left->flags & (e.forward ? kForwardBit : kBackwardBit)) classified = true;
      if (ComparePoint(e.right, rep->edge.right) < 0) rep = m;
      m = m->up[0];
    } while (m != &top_ && SameEdgeGroup(cur->edge, m->edge));
    const int32_t a1 = c1 + d1, a2 = c2 + d2;
    if (!classified) {
      const uint16_t cls = Decide(rep->edge.forward, c1, a1, c2, a2);
      if (cls) rep->edge.left->flags |= cls;
    }
    for (ActiveEdge* k = cur; k != m; k = k->up[0]) {
      k->count1 = a1;
      k->count2 = a2;
      k->counted = true;
    }
    c1 = a1;
    c2 = a2;
    cur = m;
  }
}

// Counts of the region just above the highest node that passes at or below
// y at x: the region east of a vertical edge whose lower end is at y.
void Sweep::CountsBelow(int32_t x, int32_t y, int32_t& c1, int32_t& c2) {
  ActiveEdge* h = &bottom_;
  for (int k = levels_ - 1; k >= 0; --k) {
    while (h->up[k] != &top_ && CompareYAtWith(h->up[k]->edge, x, y) <= 0)
      h = h->up[k];
  }
  c1 = h->count1;
  c2 = h->count2;
}

// Vertical edges of the column, by groups of coincident edges: below is the
// east side (the counts of the active list at the lower end), above the west
// side. Kept ones are emitted at once; the running counts are not changed.
void Sweep::ProcessVerticalEdges(int32_t x) {
  if (verticals_.empty()) return;
  SortVerticals();
  const size_t n = verticals_.size();
  size_t i = 0;
  while (i < n) {
    // Representative: the member with the lowest upper end, unless a member
    // already carries its class.
    const SweepEdge* rep = &verticals_[i];
    const SweepEdge* classified = nullptr;
    int32_t d1 = 0, d2 = 0;
    size_t j = i;
    for (; j < n && verticals_[j].left->y == verticals_[i].left->y; ++j) {
      const SweepEdge& e = verticals_[j];
      const int32_t s = e.forward ? 1 : -1;
      if (e.left->flags & kSecond)
        d2 += s;
      else
        d1 += s;
      if (!classified &&
          (e.left->flags & (e.forward ? kForwardBit : kBackwardBit)))
        classified = &e;
      if (e.right->y < rep->right->y) rep = &e;
    }
    if (classified) rep = classified;
    PSPoint* l = rep->left;
    const uint16_t mask = rep->forward ? kForwardMask : kBackwardMask;
    uint16_t cls = l->flags & mask;
    if (!classified) {
      int32_t c1 = 0, c2 = 0;
      CountsBelow(x, verticals_[i].left->y, c1, c2);
      cls = Decide(rep->forward, c1, c1 + d1, c2, c2 + d2);
    }
    if (cls & (kForwardBit | kBackwardBit)) {
      EmitChain(l, rep->right,
                cls == EdgeClass::KeptForward ||
                    cls == EdgeClass::ReversedBackward);
    }
    l->flags &= static_cast<uint16_t>(~mask);
    i = j;
  }
}

// Code 25, at the end of column x: every hole whose start vertex H begins
// here is hung from the boundary T directly above it by two coincident
// vertical edges at x: ... -> TR -> A -> H -> around the hole -> H's
// previous vertex -> (B ->) J -> TL -> ...
//
// Every relink keeps the active edges true to the rings: T is re-pointed to
// run from A, and the hole's lower edge from H to its previous vertex hp,
// whose ring now runs hp -> B, to run from B. A later hole hung from one of
// them (a hole below this one, or below the boundary above) is then joined
// to the vertices that are really adjacent there.
//
// Axis-parallel lists are cut by CutAxisParallelHolesOpen
// (geometry/axis_hole_cut.h), which reproduces this order of the holes
// (fresh_ order, with the reuse of freed nodes) and the order of the active
// list; its tests compare the two vertex for vertex.
void Sweep::CutHoleOpen(int32_t x) {
  for (ActiveEdge* q : fresh_) {
    if (!q->live) continue;
    PSPoint* h = q->edge.left;
    if (!(h->flags & kHoleStart)) continue;
    h->flags &= static_cast<uint16_t>(~kHoleStart);
    PSPoint* hp = h->prev;
    PSPoint* hn = h->next;
    if (!hp || !hn) continue;
    // The hole's upper edge leaves H towards its next vertex; the boundary
    // above the hole is the edge just above it, and runs backward (the
    // inside lies below it). A hole with nothing of the kind above it (a
    // stray clockwise ring) stays as it is.
    ActiveEdge* upper = NodeThrough(q, h, hn);
    if (!upper) continue;
    ActiveEdge* t = upper->up[0];
    if (t == &top_ || t->edge.forward) continue;
    ActiveEdge* lower = nullptr;
    if (hp->x != h->x) {
      lower = NodeThrough(q, h, hp);
      if (!lower) throw Error("Wrong segment ordering", "DRC");
    }
    PSPoint* tl = t->edge.left;
    PSPoint* tr = t->edge.right;
    const int32_t y = EdgeYAt(t->edge, x);
    PSPoint* a = PushPoint(list_, x, y);
    PSPoint* j = tl;
    if (tl->x < x) {
      j = PushPoint(list_, x, y);
      LinkPoints(j, tl);
    }
    if (!lower) {
      LinkPoints(hp, j);
    } else {
      PSPoint* bp = PushPoint(list_, h->x, h->y);
      LinkPoints(hp, bp);
      LinkPoints(bp, j);
      lower->edge.left = bp;
    }
    LinkPoints(tr, a);
    LinkPoints(a, h);
    t->edge.left = a;
  }
}

// The active node of the edge from left to right, among the nodes next to
// n that pass through left's position at the column (edges of one vertex
// stand together there, ordered by slope); null when none is.
ActiveEdge* Sweep::NodeThrough(ActiveEdge* n, const PSPoint* left,
                               const PSPoint* right) {
  auto through = [&](const ActiveEdge* c) {
    return !IsSentinel(c) && CompareYAtWith(c->edge, left->x, left->y) == 0;
  };
  for (ActiveEdge* c = n; through(c); c = c->down[0])
    if (c->edge.left == left && c->edge.right == right) return c;
  for (ActiveEdge* c = n->up[0]; through(c); c = c->up[0])
    if (c->edge.left == left && c->edge.right == right) return c;
  return nullptr;
}

}  // namespace

ActiveEdge* FractureView::Locate(const SweepEdge& e, int32_t x) const {
  return static_cast<Sweep*>(sweep_)->Locate(e, x);
}

ActiveEdge* FractureView::Above(ActiveEdge* n) { return n->up[0]; }

ActiveEdge* FractureView::Below(ActiveEdge* n) { return n->down[0]; }

bool FractureView::IsSentinel(const ActiveEdge* n) const {
  return static_cast<Sweep*>(sweep_)->IsSentinel(n);
}

SweepEdge& FractureView::Edge(ActiveEdge* n) { return n->edge; }

void FractureView::InsertBelow(const SweepEdge& e, ActiveEdge* at) const {
  Sweep* s = static_cast<Sweep*>(sweep_);
  s->LinkBelow(s->NewNode(e), at);
}

void FractureView::Remove(ActiveEdge* n) const {
  static_cast<Sweep*>(sweep_)->RemoveNode(n);
}

void ScanSweep(PSList& list, PSList* out, BooleanOpCode code, bool keep) {
  if (!list.head) return;
  Mode mode = Mode::Cross;
  if (code == BooleanOpCode::CutHoles)
    mode = Mode::Cut;
  else if (code != BooleanOpCode::CrossingPass && out && keep)
    mode = Mode::Output;
  Sweep sweep(list, out, code, keep, mode, nullptr, nullptr);
  sweep.Run();
}

void ScanSweepRecorded(PSList& list, PSList& out, BooleanOpCode code,
                       std::vector<PositionItem>& emitted) {
  if (code == BooleanOpCode::Fracture || code == BooleanOpCode::FractureCommand ||
      code == BooleanOpCode::CutHoles || code == BooleanOpCode::CrossingPass) {
    ScanSweep(list, &out, code, code != BooleanOpCode::CutHoles);
    return;
  }
  if (!list.head) return;
  Sweep sweep(list, &out, code, true, Mode::Output, nullptr, nullptr);
  sweep.Record(&emitted);
  sweep.Run();
}

void ScanSweepColumns(PSList& list, SweepColumnWalk walk, void* context) {
  if (!list.head) return;
  Sweep sweep(list, nullptr, BooleanOpCode::Or, true, Mode::Columns, walk,
              context);
  sweep.Run();
}

void EmitClassifiedEdges(PSList& list, PSList& out) {
  for (PSPoint* p = list.head; p; p = p->link) {
    const uint16_t f = p->flags;
    if ((f & kForwardBit) && p->next) {
      // Kept forward runs from the vertex to its next, reversed against it.
      PSPoint* a = PushPoint(out, p->x, p->y);
      PSPoint* b = PushPoint(out, p->next->x, p->next->y);
      if ((f & kForwardMask) == EdgeClass::KeptForward)
        LinkPoints(a, b);
      else
        LinkPoints(b, a);
    }
    if ((f & kBackwardBit) && p->prev) {
      // Kept backward runs from the previous vertex to this one.
      PSPoint* a = PushPoint(out, p->x, p->y);
      PSPoint* b = PushPoint(out, p->prev->x, p->prev->y);
      if ((f & kBackwardMask) == EdgeClass::KeptBackward)
        LinkPoints(b, a);
      else
        LinkPoints(a, b);
    }
    p->flags &= static_cast<uint16_t>(~EdgeClass::ForwardMask &
                                      ~EdgeClass::BackwardMask);
  }
}

void JoinChainPairs(PSList& list) {
  PSPoint* q = list.head;
  while (q && q->link) {
    PSPoint* r = q->link;
    if (q->x != r->x) {
      q = r;
      continue;
    }
    if (q->next)
      q->prev = r;
    else
      q->next = r;
    if (r->next)
      r->prev = q;
    else
      r->next = q;
    q = r->link;
  }
}

}  // namespace velmar
