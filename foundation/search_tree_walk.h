// The node links, walk, queries and removal shared by the 2-D and the
// k-dimensional search trees. Both trees are region-halving trees with the
// same node layout (parent, chain, low/high slots, a data level) and differ
// only in how a box is stored and how nodes are freed; the trees' own
// sources pass those through a small key type:
//   static bool Overlaps(const Node*, const Query&)   open overlap test
//   static int32_t QueryLo(const Query&, int dim)     query min in dim
//   static int32_t QueryHi(const Query&, int dim)     query max in dim
//   static int32_t BranchMid(const Node*)             a branch's midline
// Internal to the two trees' sources.
#pragma once

#include <algorithm>
#include <cstdint>

#include "foundation/error.h"

namespace velmar::search_tree_walk {

enum class Slot { kChain, kLow, kHigh };

// Side flags of a chain (kept in its first node): an item lies in the low,
// in the high half of the slot's region.
constexpr uint32_t kLowSide = 1;
constexpr uint32_t kHighSide = 2;

// Midline of lo .. hi, rounded toward minus infinity, computed in 64 bits.
inline int32_t Mid(int32_t lo, int32_t hi) {
  return static_cast<int32_t>((static_cast<int64_t>(lo) + hi) >> 1);
}

// The side flags of a range a .. b in a region split at mid.
inline uint32_t SideFlags(int32_t a, int32_t b, int32_t mid) {
  if (b <= mid) return kLowSide;
  if (a >= mid) return kHighSide;
  return 0;
}

// Which link of p names child. A data node or the sentinel names its child
// only through its chain link.
template <class Node>
inline Slot SlotOf(const Node* p, const Node* child) {
  if (p->chain == child || !p->IsBranch()) return Slot::kChain;
  return p->low == child ? Slot::kLow : Slot::kHigh;
}

template <class Node>
inline Node*& LinkOf(Node* p, Slot s) {
  switch (s) {
    case Slot::kLow: return p->low;
    case Slot::kHigh: return p->high;
    default: return p->chain;
  }
}

// The first node in post-order of the subtree at n.
template <class Node>
Node* Leftmost(Node* n) {
  for (;;) {
    while (n->chain) n = n->chain;
    if (!n->IsBranch()) return n;
    if (n->low) n = n->low;
    else if (n->high) n = n->high;
    else return n;
  }
}

// The traversal successor of a node that sat in slot s of p (p keeps its
// other slots). For a node inside a chain (p a data node) it is p.
template <class Node>
Node* SuccessorFromSlot(Node* p, Slot s) {
  if (p->IsSentinel()) return nullptr;
  if (!p->IsBranch()) return p;
  if (s == Slot::kChain) {
    if (p->low) return Leftmost(p->low);
    if (p->high) return Leftmost(p->high);
    return p;
  }
  if (s == Slot::kLow && p->high) return Leftmost(p->high);
  return p;
}

template <class Node>
Node* Next(const Node* n) {
  Node* p = n->parent;
  return SuccessorFromSlot(p, SlotOf(p, n));
}

// Walks data node q down from start to the slot it belongs in: the low or
// high slot of a branch when its box lies in that half, else the straddle
// slot. When the slot is empty q takes it (with its side flags) and the
// result is null; else the result is the first node of the chain the slot
// holds. last and slot end as the holder of the slot reached and the slot;
// straddles counts the straddle slots passed that held a chain. The key
// type also gives NodeLo/NodeHi(node, dim) and StraddleFlags(branch, q),
// the side flags of q in a straddle chain of branch.
template <class Key, class Node>
Node* Descend(Node* start, Node* q, Node*& last, Slot& slot,
              int& straddles) {
  last = start->parent;
  slot = Slot::kChain;
  straddles = 0;
  Node* n = start;
  while (n->IsBranch()) {
    last = n;
    const int dim = n->level;
    const int32_t lo = Key::NodeLo(n, dim);
    const int32_t hi = Key::NodeHi(n, dim);
    const int32_t mid = Mid(lo, hi);
    const int32_t a = Key::NodeLo(q, dim);
    const int32_t b = Key::NodeHi(q, dim);
    uint32_t flags = 0;
    if (b <= mid) {
      slot = Slot::kLow;
      flags = SideFlags(a, b, Mid(mid, lo));
    } else if (a >= mid) {
      slot = Slot::kHigh;
      flags = SideFlags(a, b, Mid(mid, hi));
    } else {
      slot = Slot::kChain;
      if (n->chain) ++straddles;
      flags = Key::StraddleFlags(n, q);
    }
    Node*& link = LinkOf(n, slot);
    if (link == nullptr) {
      link = q;
      q->parent = n;
      q->info.flags = flags;
      return nullptr;
    }
    n = link;
  }
  return n;
}

// q joins the chain whose first node is h, right after h; h counts it.
template <class Node>
void JoinChain(Node* h, Node* q) {
  q->chain = h->chain;
  if (q->chain) q->chain->parent = q;
  h->chain = q;
  q->parent = h;
  ++h->info.count;
}

// Inserts the chain that starts at h again below the new branch s, node by
// node (h first); insert(s, node) must not split anything meanwhile.
template <class Node, class InsertFn>
void Redistribute(Node* h, Node* s, InsertFn insert) {
  for (Node* c = h; c != nullptr;) {
    Node* next = c->chain;
    c->info.count = 1;
    c->info.flags = 0;
    c->chain = nullptr;
    c->parent = nullptr;
    insert(s, c);
    c = next;
  }
}

// The first data node at or below n, in traversal order, whose box
// overlaps q; branches are pruned by their midlines.
template <class Key, class Node, class Query>
Node* FindInSubtree(Node* n, const Query& q) {
  if (!n->IsBranch()) {
    // A chain: test from its last node back to its first, in traversal
    // order.
    Node* e = n;
    while (e->chain) e = e->chain;
    for (;;) {
      if (Key::Overlaps(e, q)) return e;
      if (e == n) return nullptr;
      e = e->parent;
    }
  }
  if (n->chain) {
    if (Node* r = FindInSubtree<Key>(n->chain, q)) return r;
  }
  const int32_t mid = Key::BranchMid(n);
  if (n->low && Key::QueryLo(q, n->level) < mid) {
    if (Node* r = FindInSubtree<Key>(n->low, q)) return r;
  }
  if (n->high && Key::QueryHi(q, n->level) > mid) {
    if (Node* r = FindInSubtree<Key>(n->high, q)) return r;
  }
  return nullptr;
}

// The data node after node, in traversal order, whose box overlaps q.
template <class Key, class Node, class Query>
Node* NextInBox(const Node* node, const Query& q) {
  const Node* c = node;
  for (;;) {
    Node* p = c->parent;
    if (p->IsSentinel()) return nullptr;
    if (p->IsData()) {
      // c lies inside a chain: its predecessor in the chain comes next.
      if (Key::Overlaps(p, q)) return p;
    } else {
      const int32_t mid = Key::BranchMid(p);
      const Slot s = SlotOf(p, c);
      if (s == Slot::kChain && p->low && Key::QueryLo(q, p->level) < mid) {
        if (Node* r = FindInSubtree<Key>(p->low, q)) return r;
      }
      if (s != Slot::kHigh && p->high && Key::QueryHi(q, p->level) > mid) {
        if (Node* r = FindInSubtree<Key>(p->high, q)) return r;
      }
    }
    c = p;
  }
}

// Unlinks data node n (and every branch left empty by it) and returns the
// node that follows it in the traversal order. freeNode(x) gives x back and
// returns the node whose bytes moved into x's place (null when none moved);
// the caller counts the item out of the tree.
template <class Node, class FreeFn>
Node* RemoveNode(Node* n, FreeFn freeNode) {
  const uint32_t count = n->info.count;

  // Unlink n: the link of its holder that named it takes its chain
  // successor c.
  Node* p = n->parent;
  Node* c = n->chain;
  Slot slot = SlotOf(p, n);
  LinkOf(p, slot) = c;
  if (c) c->parent = p;
  // Freeing may move p or c into n's slot.
  if (Node* moved = freeNode(n)) {
    if (moved == p) p = n;
    if (moved == c) c = n;
  }

  if (p->IsData()) {
    // n was inside a chain: its first node loses one.
    Node* first = p;
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
    Node* gp = p->parent;
    const Slot ps = SlotOf(gp, p);
    LinkOf(gp, ps) = nullptr;
    if (freeNode(p) == gp) gp = p;
    p = gp;
    slot = ps;
  }
  return SuccessorFromSlot(p, slot);
}

// Prints "Total data = %d, branch nodes = %d, max child list = %d, max
// next list = %d\n" for the tree whose first walked node is first.
template <class Node>
void PrintStatistics(Node* first) {
  int32_t data = 0;
  int32_t branches = 0;
  uint32_t maxChild = 0;
  uint32_t maxNext = 0;
  for (Node* n = first; n; n = Next(n)) {
    if (n->IsBranch()) {
      ++branches;
      continue;
    }
    ++data;
    const Node* p = n->parent;
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

}  // namespace velmar::search_tree_walk
