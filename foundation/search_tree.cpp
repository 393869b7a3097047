// The 2-D search tree: insertion with chain splitting, post-order walk,
// pruned box queries, removal and clearing on the compacting node pool.
#include "foundation/search_tree.h"

#include <algorithm>
#include <new>

#include "foundation/error.h"
#include "foundation/node_pool.h"
#include "foundation/search_tree_walk.h"

namespace velmar {

namespace {

// The process-wide node pool (no free list: a freed node is replaced by the
// pool's last node). Constant-initialised, so it is usable before main; its
// destructor releases the blocks at process exit.
constinit TypedPool<DBSearchNode> SearchNodePool(
    "DB Search System", DBSearchSystem::kNodesPerBlock);

// A chain splits when both halves of its slot are populated or it reaches
// this many items, unless its slot is at most kMinSplitExtent units wide.
constexpr uint32_t kSplitCount = 9;
constexpr int64_t kMinSplitExtent = 20;

using search_tree_walk::LinkOf;
using search_tree_walk::Mid;
using search_tree_walk::Slot;
using search_tree_walk::SlotOf;

inline int32_t Lo(const Box& b, int dim) { return dim == 0 ? b.x1 : b.y1; }
inline int32_t Hi(const Box& b, int dim) { return dim == 0 ? b.x2 : b.y2; }
inline int32_t& LoRef(Box& b, int dim) { return dim == 0 ? b.x1 : b.y1; }
inline int32_t& HiRef(Box& b, int dim) { return dim == 0 ? b.x2 : b.y2; }

inline int32_t BranchMid(const DBSearchNode* n) {
  return Mid(Lo(n->box, n->level), Hi(n->box, n->level));
}

// How the shared walk reads a 2-D tree's boxes.
struct PlaneKey {
  static bool Overlaps(const DBSearchNode* n, const Box& q) {
    return n->box.Overlaps(q);
  }
  static int32_t QueryLo(const Box& q, int dim) { return Lo(q, dim); }
  static int32_t QueryHi(const Box& q, int dim) { return Hi(q, dim); }
  static int32_t BranchMid(const DBSearchNode* n) {
    return velmar::BranchMid(n);
  }
  static int32_t NodeLo(const DBSearchNode* n, int dim) {
    return Lo(n->box, dim);
  }
  static int32_t NodeHi(const DBSearchNode* n, int dim) {
    return Hi(n->box, dim);
  }
  // A straddle chain of an x-branch may split in y: its y side.
  static uint32_t StraddleFlags(const DBSearchNode* branch,
                                const DBSearchNode* q) {
    if (branch->level != DBSearchNode::kBranchX) return 0;
    return search_tree_walk::SideFlags(
        q->box.y1, q->box.y2, Mid(branch->box.y1, branch->box.y2));
  }
};

inline void MarkFreed(DBSearchNode* n) {
  n->level = DBSearchNode::kFreed;
  n->parent = nullptr;
  n->chain = nullptr;
  n->low = nullptr;
  n->high = nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pool

DBSearchNode* DBSearchSystem::AllocNode() {
  return new (SearchNodePool.Allocate()) DBSearchNode;
}

DBSearchNode* DBSearchSystem::FreeNode(DBSearchNode* n) {
  DBSearchNode* moved = SearchNodePool.Release(n);
  if (moved == nullptr) {
    MarkFreed(n);
    return nullptr;
  }
  // n now holds the bytes of the moved node M: every link that named M must
  // name n. M's children name it through their parent links.
  if (n->chain) n->chain->parent = n;
  if (n->IsBranch()) {
    if (n->low) n->low->parent = n;
    if (n->high) n->high->parent = n;
  }
  DBSearchNode* p = n->parent;
  if (p->chain == moved) {
    p->chain = n;
  } else if (p->IsBranch()) {
    if (p->low == moved) p->low = n;
    else if (p->high == moved) p->high = n;
  }
  MarkFreed(moved);
  return moved;
}

void ResetSearchSystemPool() { SearchNodePool.ReleaseAll(); }

int32_t ReportSearchSystemMemory(bool quiet) {
  return SearchNodePool.Report(quiet);
}

const PoolAllocator& SearchSystemPool() { return SearchNodePool.Allocator(); }

// ---------------------------------------------------------------------------
// Insertion

DBSearchNode* DBSearchSystem::Insert(DBSearchSystem& tree,
                                     const SearchItem& item) {
  return Insert(tree, item.box, item.item);
}

DBSearchNode* DBSearchSystem::Insert(DBSearchSystem& tree, const Box& box,
                                     void* item) {
  DBSearchNode* n = AllocNode();
  n->box = box;
  n->item = item;
  n->info.count = 1;
  n->info.flags = 0;
  n->level = DBSearchNode::kData;
  ++tree.itemCount;
  tree.itemsBox.Extend(box.x1, box.y1);
  tree.itemsBox.Extend(box.x2, box.y2);
  if (tree.sentinel.chain == nullptr) {
    tree.sentinel.chain = n;
    n->parent = &tree.sentinel;
  } else {
    InsertNode(tree.sentinel.chain, n, tree.region);
  }
  return n;
}

void DBSearchSystem::InsertNode(DBSearchNode* start, DBSearchNode* q,
                                const Box& region) {
  DBSearchNode* last = nullptr;     // holder of the chain reached
  Slot slot = Slot::kChain;  // its slot that holds it
  int straddles = 0;
  DBSearchNode* h =
      search_tree_walk::Descend<PlaneKey>(start, q, last, slot, straddles);
  if (h == nullptr) return;

  // h is the first node of an existing chain: q joins right after h.
  search_tree_walk::JoinChain(h, q);
  if (last->IsBranch()) {
    const int dim = last->level;
    const int32_t mid = BranchMid(last);
    if (Hi(q->box, dim) <= mid) h->info.flags |= DBSearchNode::kLowSide;
    if (Lo(q->box, dim) >= mid) h->info.flags |= DBSearchNode::kHighSide;
  } else {
    const int32_t xmid = Mid(region.x1, region.x2);
    if (q->box.x2 <= xmid) h->info.flags |= DBSearchNode::kLowSide;
    if (q->box.x1 >= xmid) h->info.flags |= DBSearchNode::kHighSide;
  }

  // Chains reached through two straddle slots never split, nor do chains
  // while a chain is being redistributed (region not valid), nor chains of
  // narrow slots.
  if (straddles >= 2 || !region.IsValid()) return;
  if (last->IsBranch() &&
      static_cast<int64_t>(Hi(last->box, last->level)) -
              Lo(last->box, last->level) <=
          kMinSplitExtent)
    return;
  if ((h->info.flags & 3) != 3 && h->info.count < kSplitCount) return;

  // Split: a new branch takes the chain's place in last's slot.
  DBSearchNode* s = AllocNode();
  s->level = static_cast<int8_t>(straddles);
  s->parent = last;
  if (last->IsSentinel()) {
    s->box = region;
    last->chain = s;
  } else {
    s->box = last->box;
    const int dim = last->level;
    const int32_t mid = BranchMid(last);
    if (slot == Slot::kLow) HiRef(s->box, dim) = mid;
    else if (slot == Slot::kHigh) LoRef(s->box, dim) = mid;
    LinkOf(last, slot) = s;
  }
  // Insert the chain again (h, q, then the rest of the old chain); the
  // zero box is not a valid region, so nothing splits meanwhile.
  const Box zero(0, 0, 0, 0);
  search_tree_walk::Redistribute(
      h, s, [&](DBSearchNode* b, DBSearchNode* c) { InsertNode(b, c, zero); });
}

// ---------------------------------------------------------------------------
// Traversal

DBSearchNode* DBSearchSystem::Leftmost(DBSearchNode* n) {
  return search_tree_walk::Leftmost(n);
}

DBSearchNode* DBSearchSystem::First(const DBSearchSystem& tree) {
  return tree.sentinel.chain ? Leftmost(tree.sentinel.chain) : nullptr;
}

DBSearchNode* DBSearchSystem::Next(const DBSearchNode* n) {
  return search_tree_walk::Next(n);
}

// ---------------------------------------------------------------------------
// Queries

DBSearchNode* DBSearchSystem::FindInSubtree(DBSearchNode* n, const Box& q) {
  return search_tree_walk::FindInSubtree<PlaneKey>(n, q);
}

DBSearchNode* DBSearchSystem::FirstInBox(const DBSearchSystem& tree,
                                         const Box& q) {
  return tree.sentinel.chain ? FindInSubtree(tree.sentinel.chain, q)
                             : nullptr;
}

DBSearchNode* DBSearchSystem::NextInBox(const DBSearchNode* node,
                                        const Box& q) {
  return search_tree_walk::NextInBox<PlaneKey>(node, q);
}

// ---------------------------------------------------------------------------
// Removal

DBSearchNode* DBSearchSystem::Remove(DBSearchSystem& tree, DBSearchNode* n) {
  --tree.itemCount;
  return search_tree_walk::RemoveNode(n, FreeNode);
}

void DBSearchSystem::Clear(DBSearchSystem& tree) {
  DBSearchNode* n = First(tree);
  while (n) {
    // Post-order: n's own subtrees are gone already.
    DBSearchNode* succ = Next(n);
    DBSearchNode* p = n->parent;
    LinkOf(p, SlotOf(p, n)) = nullptr;
    DBSearchNode* moved = FreeNode(n);
    n = (moved != nullptr && moved == succ) ? n : succ;
  }
}

void DBSearchSystem::MoveItemsTo(DBSearchSystem& tree, DBSearchSystem& other) {
  if (&tree == &other) return;
  // Insertion only allocates, so no node of tree moves meanwhile.
  for (DBSearchNode* n = First(tree); n; n = Next(n)) {
    if (!n->IsData()) continue;
    Insert(other, n->box, n->item);
    n->item = nullptr;
  }
}

void DBSearchSystem::PrintStatistics(const DBSearchSystem& tree) {
  search_tree_walk::PrintStatistics(First(tree));
}

}  // namespace velmar
