// The k-dimensional search tree: insertion with chain splitting, post-order
// walk, pruned box queries, removal and clearing.
#include "foundation/search_tree_kd.h"

#include <algorithm>
#include <climits>
#include <string>

#include "foundation/error.h"

namespace velmar {

namespace {

// A chain splits when both halves of its slot are populated or it reaches
// this many items, unless its slot is at most kMinSplitExtent units wide.
constexpr uint32_t kSplitCount = 5;
constexpr int64_t kMinSplitExtent = 10;

// Rule tables are looked up by the geometry engine's checks.
constexpr const char* kUnit = "DRC";

enum class Slot { kChain, kLow, kHigh };

inline int32_t Mid(int32_t lo, int32_t hi) {
  return static_cast<int32_t>((static_cast<int64_t>(lo) + hi) >> 1);
}

inline int32_t BranchMid(const DBSearchNodeKD* n) {
  return Mid(n->min[n->level], n->max[n->level]);
}

// Valid: positive extent in every dimension.
bool IsValidRegion(const KDBox& r) {
  for (size_t i = 0; i < r.min.size(); ++i)
    if (r.min[i] >= r.max[i]) return false;
  return true;
}

bool Overlaps(const DBSearchNodeKD* n, const KDBox& q) {
  const size_t k = n->min.size();
  for (size_t i = 0; i < k; ++i)
    if (!(n->min[i] < q.max[i] && q.min[i] < n->max[i])) return false;
  return true;
}

inline Slot SlotOf(const DBSearchNodeKD* p, const DBSearchNodeKD* child) {
  if (p->chain == child || !p->IsBranch()) return Slot::kChain;
  return p->low == child ? Slot::kLow : Slot::kHigh;
}

inline DBSearchNodeKD*& LinkOf(DBSearchNodeKD* p, Slot s) {
  switch (s) {
    case Slot::kLow: return p->low;
    case Slot::kHigh: return p->high;
    default: return p->chain;
  }
}

DBSearchNodeKD* SuccessorFromSlot(DBSearchNodeKD* p, Slot s) {
  if (p->IsSentinel()) return nullptr;
  if (!p->IsBranch()) return p;
  if (s == Slot::kChain) {
    if (p->low) return DBSearchSystemKD::Leftmost(p->low);
    if (p->high) return DBSearchSystemKD::Leftmost(p->high);
    return p;
  }
  if (s == Slot::kLow && p->high) return DBSearchSystemKD::Leftmost(p->high);
  return p;
}

void CheckDimensions(const KDBox& box, size_t k, const char* what) {
  if (box.min.size() != k || box.max.size() != k)
    throw Error(std::string(what) + " has " + std::to_string(box.min.size()) +
                    "/" + std::to_string(box.max.size()) +
                    " dimensions, the search table " + std::to_string(k),
                kUnit);
}

}  // namespace

void KDBox::Reset(KDBox& box) {
  std::fill(box.min.begin(), box.min.end(), INT_MAX);
  std::fill(box.max.begin(), box.max.end(), INT_MIN);
}

DBSearchSystemKD::~DBSearchSystemKD() { Clear(*this); }

void DBSearchSystemKD::Init(DBSearchSystemKD& tree, const KDBox& region) {
  if (region.min.size() != region.max.size())
    throw Error("Search table region with unequal dimension counts", kUnit);
  Clear(tree);
  const size_t k = region.min.size();
  tree.region = region;
  tree.itemsBox.min.assign(k, INT_MAX);
  tree.itemsBox.max.assign(k, INT_MIN);
  tree.itemCount = 0;
  tree.sentinel.min.assign(k, INT_MAX);
  tree.sentinel.max.assign(k, INT_MIN);
  tree.sentinel.parent = nullptr;
  tree.sentinel.chain = nullptr;
  tree.sentinel.low = nullptr;
  tree.sentinel.high = nullptr;
  tree.sentinel.level = static_cast<int8_t>(std::min<size_t>(k, INT8_MAX));
}

// ---------------------------------------------------------------------------
// Insertion

DBSearchNodeKD* DBSearchSystemKD::Insert(DBSearchSystemKD& tree,
                                         const KDBox& box, void* item) {
  const size_t k = tree.region.min.size();
  CheckDimensions(box, k, "Search key");
  auto* n = new DBSearchNodeKD;
  n->min = box.min;
  n->max = box.max;
  n->item = item;
  n->info.count = 1;
  n->info.flags = 0;
  n->level = DBSearchNodeKD::kData;
  ++tree.itemCount;
  tree.itemsBox.min.resize(k, INT_MAX);
  tree.itemsBox.max.resize(k, INT_MIN);
  for (size_t i = 0; i < k; ++i) {
    tree.itemsBox.min[i] = std::min(tree.itemsBox.min[i], box.min[i]);
    tree.itemsBox.max[i] = std::max(tree.itemsBox.max[i], box.max[i]);
  }
  if (tree.sentinel.chain == nullptr) {
    tree.sentinel.chain = n;
    n->parent = &tree.sentinel;
  } else {
    InsertNode(tree.sentinel.chain, n, &tree.region);
  }
  return n;
}

// region null: the chain is being redistributed into a new branch and
// nothing may split.
void DBSearchSystemKD::InsertNode(DBSearchNodeKD* start, DBSearchNodeKD* q,
                                  const KDBox* region) {
  const size_t k = q->min.size();
  DBSearchNodeKD* last = start->parent;
  Slot slot = Slot::kChain;
  int straddles = 0;
  DBSearchNodeKD* n = start;

  while (n->IsBranch()) {
    last = n;
    const int dim = n->level;
    const int32_t lo = n->min[dim];
    const int32_t hi = n->max[dim];
    const int32_t mid = Mid(lo, hi);
    const int32_t a = q->min[dim];
    const int32_t b = q->max[dim];
    uint32_t flags = 0;
    if (b <= mid) {
      slot = Slot::kLow;
      const int32_t childMid = Mid(mid, lo);
      if (b <= childMid) flags = 1;
      else if (a >= childMid) flags = 2;
    } else if (a >= mid) {
      slot = Slot::kHigh;
      const int32_t childMid = Mid(mid, hi);
      if (b <= childMid) flags = 1;
      else if (a >= childMid) flags = 2;
    } else {
      slot = Slot::kChain;
      if (n->chain) ++straddles;
      const size_t next = static_cast<size_t>(dim) + 1;
      if (next < k) {
        const int32_t nmid = Mid(n->min[next], n->max[next]);
        if (q->max[next] <= nmid) flags = 1;
        else if (q->min[next] >= nmid) flags = 2;
      }
    }
    DBSearchNodeKD*& link = LinkOf(n, slot);
    if (link == nullptr) {
      link = q;
      q->parent = n;
      q->info.flags = flags;
      return;
    }
    n = link;
  }

  DBSearchNodeKD* h = n;
  q->chain = h->chain;
  if (q->chain) q->chain->parent = q;
  h->chain = q;
  q->parent = h;
  ++h->info.count;
  if (last->IsBranch()) {
    const int dim = last->level;
    const int32_t mid = BranchMid(last);
    if (q->max[dim] <= mid) h->info.flags |= 1;
    if (q->min[dim] >= mid) h->info.flags |= 2;
  } else if (region != nullptr && k > 0) {
    const int32_t mid0 = Mid(region->min[0], region->max[0]);
    if (q->max[0] <= mid0) h->info.flags |= 1;
    if (q->min[0] >= mid0) h->info.flags |= 2;
  }

  // A new branch splits in dimension `straddles`, which must exist.
  if (straddles >= 2 || static_cast<size_t>(straddles) >= k) return;
  if (region == nullptr || !IsValidRegion(*region)) return;
  if (last->IsBranch() &&
      static_cast<int64_t>(last->max[last->level]) - last->min[last->level] <=
          kMinSplitExtent)
    return;
  if ((h->info.flags & 3) != 3 && h->info.count < kSplitCount) return;

  auto* s = new DBSearchNodeKD;
  s->level = static_cast<int8_t>(straddles);
  s->parent = last;
  if (last->IsSentinel()) {
    s->min = region->min;
    s->max = region->max;
    last->chain = s;
  } else {
    s->min = last->min;
    s->max = last->max;
    const int dim = last->level;
    const int32_t mid = BranchMid(last);
    if (slot == Slot::kLow) s->max[dim] = mid;
    else if (slot == Slot::kHigh) s->min[dim] = mid;
    LinkOf(last, slot) = s;
  }
  for (DBSearchNodeKD* c = h; c != nullptr;) {
    DBSearchNodeKD* next = c->chain;
    c->info.count = 1;
    c->info.flags = 0;
    c->chain = nullptr;
    c->parent = nullptr;
    InsertNode(s, c, nullptr);
    c = next;
  }
}

// ---------------------------------------------------------------------------
// Traversal and queries

DBSearchNodeKD* DBSearchSystemKD::Leftmost(DBSearchNodeKD* n) {
  for (;;) {
    while (n->chain) n = n->chain;
    if (!n->IsBranch()) return n;
    if (n->low) n = n->low;
    else if (n->high) n = n->high;
    else return n;
  }
}

DBSearchNodeKD* DBSearchSystemKD::First(const DBSearchSystemKD& tree) {
  return tree.sentinel.chain ? Leftmost(tree.sentinel.chain) : nullptr;
}

DBSearchNodeKD* DBSearchSystemKD::Next(const DBSearchNodeKD* n) {
  DBSearchNodeKD* p = n->parent;
  return SuccessorFromSlot(p, SlotOf(p, n));
}

DBSearchNodeKD* DBSearchSystemKD::FindInSubtree(DBSearchNodeKD* n,
                                                const KDBox& q) {
  if (!n->IsBranch()) {
    DBSearchNodeKD* e = n;
    while (e->chain) e = e->chain;
    for (;;) {
      if (Overlaps(e, q)) return e;
      if (e == n) return nullptr;
      e = e->parent;
    }
  }
  if (n->chain) {
    if (DBSearchNodeKD* r = FindInSubtree(n->chain, q)) return r;
  }
  const int32_t mid = BranchMid(n);
  if (n->low && q.min[n->level] < mid) {
    if (DBSearchNodeKD* r = FindInSubtree(n->low, q)) return r;
  }
  if (n->high && q.max[n->level] > mid) {
    if (DBSearchNodeKD* r = FindInSubtree(n->high, q)) return r;
  }
  return nullptr;
}

DBSearchNodeKD* DBSearchSystemKD::FirstInBox(const DBSearchSystemKD& tree,
                                             const KDBox& q) {
  CheckDimensions(q, tree.region.min.size(), "Search query");
  return tree.sentinel.chain ? FindInSubtree(tree.sentinel.chain, q)
                             : nullptr;
}

DBSearchNodeKD* DBSearchSystemKD::NextInBox(const DBSearchNodeKD* node,
                                            const KDBox& q) {
  CheckDimensions(q, node->min.size(), "Search query");
  const DBSearchNodeKD* c = node;
  for (;;) {
    DBSearchNodeKD* p = c->parent;
    if (p->IsSentinel()) return nullptr;
    if (p->IsData()) {
      if (Overlaps(p, q)) return p;
    } else {
      const int32_t mid = BranchMid(p);
      const Slot s = SlotOf(p, c);
      if (s == Slot::kChain && p->low && q.min[p->level] < mid) {
        if (DBSearchNodeKD* r = FindInSubtree(p->low, q)) return r;
      }
      if (s != Slot::kHigh && p->high && q.max[p->level] > mid) {
        if (DBSearchNodeKD* r = FindInSubtree(p->high, q)) return r;
      }
    }
    c = p;
  }
}

// ---------------------------------------------------------------------------
// Removal and clearing

DBSearchNodeKD* DBSearchSystemKD::Remove(DBSearchSystemKD& tree,
                                         DBSearchNodeKD* n) {
  const uint32_t count = n->info.count;
  --tree.itemCount;
  DBSearchNodeKD* p = n->parent;
  DBSearchNodeKD* c = n->chain;
  Slot slot = SlotOf(p, n);
  LinkOf(p, slot) = c;
  if (c) c->parent = p;
  delete n;

  if (p->IsData()) {
    DBSearchNodeKD* first = p;
    while (first->parent->IsData()) first = first->parent;
    --first->info.count;
  } else if (c) {
    c->info.count = count - 1;
  }

  while (p->IsBranch() && !p->chain && !p->low && !p->high) {
    DBSearchNodeKD* gp = p->parent;
    const Slot ps = SlotOf(gp, p);
    LinkOf(gp, ps) = nullptr;
    delete p;
    p = gp;
    slot = ps;
  }
  return SuccessorFromSlot(p, slot);
}

void DBSearchSystemKD::Clear(DBSearchSystemKD& tree) {
  DBSearchNodeKD* n = First(tree);
  while (n) {
    DBSearchNodeKD* succ = Next(n);
    DBSearchNodeKD* p = n->parent;
    LinkOf(p, SlotOf(p, n)) = nullptr;
    delete n;
    n = succ;
  }
  tree.sentinel.chain = nullptr;
  tree.itemCount = 0;
}

void DBSearchSystemKD::PrintStatistics(const DBSearchSystemKD& tree) {
  int32_t data = 0;
  int32_t branches = 0;
  uint32_t maxChild = 0;
  uint32_t maxNext = 0;
  for (DBSearchNodeKD* n = First(tree); n; n = Next(n)) {
    if (n->IsBranch()) {
      ++branches;
      continue;
    }
    ++data;
    const DBSearchNodeKD* p = n->parent;
    if (p->IsData()) continue;
    if (p->IsBranch() && SlotOf(p, n) != Slot::kChain)
      maxChild = std::max(maxChild, n->info.count);
    else
      maxNext = std::max(maxNext, n->info.count);
  }
  PrintMessage(
      "Total data = %d, branch nodes = %d, max child list = %d, max next "
      "list = %d\n",
      data, branches, static_cast<int>(maxChild), static_cast<int>(maxNext));
}

}  // namespace velmar
