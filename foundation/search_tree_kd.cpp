// The k-dimensional search tree: insertion with chain splitting, post-order
// walk, pruned box queries, removal and clearing.
#include "foundation/search_tree_kd.h"

#include <algorithm>
#include <climits>
#include <string>

#include "foundation/error.h"
#include "foundation/search_tree_walk.h"

namespace velmar {

namespace {

// A chain splits when both halves of its slot are populated or it reaches
// this many items, unless its slot is at most kMinSplitExtent units wide.
constexpr uint32_t kSplitCount = 5;
constexpr int64_t kMinSplitExtent = 10;

// Rule tables are looked up by the geometry engine's checks.
constexpr const char* kUnit = "DRC";

using search_tree_walk::LinkOf;
using search_tree_walk::Mid;
using search_tree_walk::Slot;
using search_tree_walk::SlotOf;


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

// How the shared walk reads a k-dimensional tree's boxes.
struct RangeKey {
  static bool Overlaps(const DBSearchNodeKD* n, const KDBox& q) {
    return velmar::Overlaps(n, q);
  }
  static int32_t QueryLo(const KDBox& q, int dim) { return q.min[dim]; }
  static int32_t QueryHi(const KDBox& q, int dim) { return q.max[dim]; }
  static int32_t BranchMid(const DBSearchNodeKD* n) {
    return velmar::BranchMid(n);
  }
  static int32_t NodeLo(const DBSearchNodeKD* n, int dim) {
    return n->min[dim];
  }
  static int32_t NodeHi(const DBSearchNodeKD* n, int dim) {
    return n->max[dim];
  }
  // A straddle chain may split in the next dimension: q's side in it.
  static uint32_t StraddleFlags(const DBSearchNodeKD* branch,
                                const DBSearchNodeKD* q) {
    const size_t next = static_cast<size_t>(branch->level) + 1;
    if (next >= q->min.size()) return 0;
    return search_tree_walk::SideFlags(
        q->min[next], q->max[next],
        Mid(branch->min[next], branch->max[next]));
  }
};

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
  DBSearchNodeKD* last = nullptr;
  Slot slot = Slot::kChain;
  int straddles = 0;
  DBSearchNodeKD* h =
      search_tree_walk::Descend<RangeKey>(start, q, last, slot, straddles);
  if (h == nullptr) return;

  search_tree_walk::JoinChain(h, q);
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
  search_tree_walk::Redistribute(h, s,
                                 [](DBSearchNodeKD* b, DBSearchNodeKD* c) {
                                   InsertNode(b, c, nullptr);
                                 });
}

// ---------------------------------------------------------------------------
// Traversal and queries

DBSearchNodeKD* DBSearchSystemKD::Leftmost(DBSearchNodeKD* n) {
  return search_tree_walk::Leftmost(n);
}

DBSearchNodeKD* DBSearchSystemKD::First(const DBSearchSystemKD& tree) {
  return tree.sentinel.chain ? Leftmost(tree.sentinel.chain) : nullptr;
}

DBSearchNodeKD* DBSearchSystemKD::Next(const DBSearchNodeKD* n) {
  return search_tree_walk::Next(n);
}

DBSearchNodeKD* DBSearchSystemKD::FindInSubtree(DBSearchNodeKD* n,
                                                const KDBox& q) {
  return search_tree_walk::FindInSubtree<RangeKey>(n, q);
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
  return search_tree_walk::NextInBox<RangeKey>(node, q);
}

// ---------------------------------------------------------------------------
// Removal and clearing

DBSearchNodeKD* DBSearchSystemKD::Remove(DBSearchSystemKD& tree,
                                         DBSearchNodeKD* n) {
  --tree.itemCount;
  return search_tree_walk::RemoveNode(n, [](DBSearchNodeKD* x) {
    delete x;
    return static_cast<DBSearchNodeKD*>(nullptr);
  });
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
  search_tree_walk::PrintStatistics(First(tree));
}

}  // namespace velmar
