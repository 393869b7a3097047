// The 2-D search tree: insertion with chain splitting, post-order walk,
// pruned box queries, removal and clearing on the compacting node pool.
#include "foundation/search_tree.h"

#include <algorithm>
#include <new>

#include "foundation/error.h"

namespace velmar {

namespace {

// The process-wide node pool (no free list: a freed node is replaced by the
// pool's last node). Constant-initialised, so it is usable before main; its
// destructor releases the blocks at process exit.
constinit PoolAllocator gNodePool(static_cast<int32_t>(sizeof(DBSearchNode)),
                                  DBSearchSystem::kNodesPerBlock);

// A chain splits when both halves of its slot are populated or it reaches
// this many items, unless its slot is at most kMinSplitExtent units wide.
constexpr uint32_t kSplitCount = 9;
constexpr int64_t kMinSplitExtent = 20;

enum class Slot { kChain, kLow, kHigh };

// Midline of lo .. hi, rounded toward minus infinity, computed in 64 bits.
inline int32_t Mid(int32_t lo, int32_t hi) {
  return static_cast<int32_t>((static_cast<int64_t>(lo) + hi) >> 1);
}
inline int32_t Lo(const Box& b, int dim) { return dim == 0 ? b.x1 : b.y1; }
inline int32_t Hi(const Box& b, int dim) { return dim == 0 ? b.x2 : b.y2; }
inline int32_t& LoRef(Box& b, int dim) { return dim == 0 ? b.x1 : b.y1; }
inline int32_t& HiRef(Box& b, int dim) { return dim == 0 ? b.x2 : b.y2; }

inline int32_t BranchMid(const DBSearchNode* n) {
  return Mid(Lo(n->box, n->level), Hi(n->box, n->level));
}

inline bool IsSentinel(const DBSearchNode* n) {
  return n->level == DBSearchNode::kSentinel;
}

// Which link of p names child. A data node or the sentinel names its child
// only through its chain link.
inline Slot SlotOf(const DBSearchNode* p, const DBSearchNode* child) {
  if (p->chain == child || !p->IsBranch()) return Slot::kChain;
  return p->low == child ? Slot::kLow : Slot::kHigh;
}

inline DBSearchNode*& LinkOf(DBSearchNode* p, Slot s) {
  switch (s) {
    case Slot::kLow: return p->low;
    case Slot::kHigh: return p->high;
    default: return p->chain;
  }
}

inline void MarkFreed(DBSearchNode* n) {
  n->level = DBSearchNode::kFreed;
  n->parent = nullptr;
  n->chain = nullptr;
  n->low = nullptr;
  n->high = nullptr;
}

// The traversal successor of a node that sat in slot s of p (p keeps its
// other slots). For a node inside a chain (p a data node) it is p.
DBSearchNode* SuccessorFromSlot(DBSearchNode* p, Slot s) {
  if (IsSentinel(p)) return nullptr;
  if (!p->IsBranch()) return p;
  if (s == Slot::kChain) {
    if (p->low) return DBSearchSystem::Leftmost(p->low);
    if (p->high) return DBSearchSystem::Leftmost(p->high);
    return p;
  }
  if (s == Slot::kLow && p->high) return DBSearchSystem::Leftmost(p->high);
  return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pool

DBSearchNode* DBSearchSystem::AllocNode() {
  return new (gNodePool.Allocate()) DBSearchNode;
}

DBSearchNode* DBSearchSystem::FreeNode(DBSearchNode* n) {
  auto* moved = static_cast<DBSearchNode*>(gNodePool.Release(n));
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

void ResetSearchSystemPool() { gNodePool.ReleaseAll(); }

int32_t ReportSearchSystemMemory(bool quiet) {
  return ReportPoolMemory(gNodePool, "DB Search System", quiet);
}

const PoolAllocator& SearchSystemPool() { return gNodePool; }

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
  DBSearchNode* last = start->parent;  // holder of the chain reached
  Slot slot = Slot::kChain;            // its slot that holds it
  int straddles = 0;
  DBSearchNode* n = start;

  while (n->IsBranch()) {
    last = n;
    const int dim = n->level;
    const int32_t lo = Lo(n->box, dim);
    const int32_t hi = Hi(n->box, dim);
    const int32_t mid = Mid(lo, hi);
    const int32_t a = Lo(q->box, dim);
    const int32_t b = Hi(q->box, dim);
    uint32_t flags = 0;
    if (b <= mid) {
      slot = Slot::kLow;
      const int32_t childMid = Mid(mid, lo);
      if (b <= childMid) flags = DBSearchNode::kLowSide;
      else if (a >= childMid) flags = DBSearchNode::kHighSide;
    } else if (a >= mid) {
      slot = Slot::kHigh;
      const int32_t childMid = Mid(mid, hi);
      if (b <= childMid) flags = DBSearchNode::kLowSide;
      else if (a >= childMid) flags = DBSearchNode::kHighSide;
    } else {
      slot = Slot::kChain;
      if (n->chain) ++straddles;
      if (dim == 0) {
        // A straddle chain of an x-branch may split in y: note its y side.
        const int32_t ymid = Mid(n->box.y1, n->box.y2);
        if (q->box.y2 <= ymid) flags = DBSearchNode::kLowSide;
        else if (q->box.y1 >= ymid) flags = DBSearchNode::kHighSide;
      }
    }
    DBSearchNode*& link = LinkOf(n, slot);
    if (link == nullptr) {
      link = q;
      q->parent = n;
      q->info.flags = flags;
      return;
    }
    n = link;
  }

  // n is the first node h of an existing chain: q joins right after h.
  DBSearchNode* h = n;
  q->chain = h->chain;
  if (q->chain) q->chain->parent = q;
  h->chain = q;
  q->parent = h;
  ++h->info.count;
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
  if (IsSentinel(last)) {
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
  for (DBSearchNode* c = h; c != nullptr;) {
    DBSearchNode* next = c->chain;
    c->info.count = 1;
    c->info.flags = 0;
    c->chain = nullptr;
    c->parent = nullptr;
    InsertNode(s, c, zero);
    c = next;
  }
}

// ---------------------------------------------------------------------------
// Traversal

DBSearchNode* DBSearchSystem::Leftmost(DBSearchNode* n) {
  for (;;) {
    while (n->chain) n = n->chain;
    if (!n->IsBranch()) return n;
    if (n->low) n = n->low;
    else if (n->high) n = n->high;
    else return n;
  }
}

DBSearchNode* DBSearchSystem::First(const DBSearchSystem& tree) {
  return tree.sentinel.chain ? Leftmost(tree.sentinel.chain) : nullptr;
}

DBSearchNode* DBSearchSystem::Next(const DBSearchNode* n) {
  DBSearchNode* p = n->parent;
  return SuccessorFromSlot(p, SlotOf(p, n));
}

// ---------------------------------------------------------------------------
// Queries

DBSearchNode* DBSearchSystem::FindInSubtree(DBSearchNode* n, const Box& q) {
  if (!n->IsBranch()) {
    // A chain: test from its last node back to its first, in traversal
    // order.
    DBSearchNode* e = n;
    while (e->chain) e = e->chain;
    for (;;) {
      if (e->box.Overlaps(q)) return e;
      if (e == n) return nullptr;
      e = e->parent;
    }
  }
  if (n->chain) {
    if (DBSearchNode* r = FindInSubtree(n->chain, q)) return r;
  }
  const int32_t mid = BranchMid(n);
  if (n->low && Lo(q, n->level) < mid) {
    if (DBSearchNode* r = FindInSubtree(n->low, q)) return r;
  }
  if (n->high && Hi(q, n->level) > mid) {
    if (DBSearchNode* r = FindInSubtree(n->high, q)) return r;
  }
  return nullptr;
}

DBSearchNode* DBSearchSystem::FirstInBox(const DBSearchSystem& tree,
                                         const Box& q) {
  return tree.sentinel.chain ? FindInSubtree(tree.sentinel.chain, q)
                             : nullptr;
}

DBSearchNode* DBSearchSystem::NextInBox(const DBSearchNode* node,
                                        const Box& q) {
  const DBSearchNode* c = node;
  for (;;) {
    DBSearchNode* p = c->parent;
    if (p->IsData()) {
      // c lies inside a chain: its predecessor in the chain comes next.
      if (p->box.Overlaps(q)) return p;
    } else if (IsSentinel(p)) {
      return nullptr;
    } else {
      const int32_t mid = BranchMid(p);
      const Slot s = SlotOf(p, c);
      if (s == Slot::kChain && p->low && Lo(q, p->level) < mid) {
        if (DBSearchNode* r = FindInSubtree(p->low, q)) return r;
      }
      if (s != Slot::kHigh && p->high && Hi(q, p->level) > mid) {
        if (DBSearchNode* r = FindInSubtree(p->high, q)) return r;
      }
    }
    c = p;
  }
}

// ---------------------------------------------------------------------------
// Removal

DBSearchNode* DBSearchSystem::Remove(DBSearchSystem& tree, DBSearchNode* n) {
  const uint32_t count = n->info.count;
  --tree.itemCount;

  // Unlink n: the link of its holder that named it takes its chain
  // successor c.
  DBSearchNode* p = n->parent;
  DBSearchNode* c = n->chain;
  Slot slot = SlotOf(p, n);
  LinkOf(p, slot) = c;
  if (c) c->parent = p;
  // Freeing may move p or c into n's slot.
  if (DBSearchNode* moved = FreeNode(n)) {
    if (moved == p) p = n;
    if (moved == c) c = n;
  }

  if (p->IsData()) {
    // n was inside a chain: its first node loses one.
    DBSearchNode* first = p;
    while (first->parent->IsData()) first = first->parent;
    --first->info.count;
  } else if (c) {
    // n was a chain's first node: c takes its place and its count.
    c->info.count = count - 1;
  }

  // Branches left without any slot go too, upward. p and slot end as the
  // holder of the removed position and the slot it held it in; no freed
  // node is used afterwards.
  while (p->IsBranch() && !p->chain && !p->low && !p->high) {
    DBSearchNode* gp = p->parent;
    const Slot ps = SlotOf(gp, p);
    LinkOf(gp, ps) = nullptr;
    if (FreeNode(p) == gp) gp = p;
    p = gp;
    slot = ps;
  }
  return SuccessorFromSlot(p, slot);
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
  int32_t data = 0;
  int32_t branches = 0;
  uint32_t maxChild = 0;
  uint32_t maxNext = 0;
  for (DBSearchNode* n = First(tree); n; n = Next(n)) {
    if (n->IsBranch()) {
      ++branches;
      continue;
    }
    ++data;
    const DBSearchNode* p = n->parent;
    if (p->IsData()) continue;  // not a chain's first node
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
