// The 2-D search tree ("DB Search System"): the spatial index over the
// bounding boxes of items (shapes, references, edges).
//
// A region-halving tree: each branch halves its region alternately in x or
// in y and has three slots: items entirely in the low half, items entirely
// in the high half, and a chain of items that straddle the midline. A slot
// holds a chain of data nodes until the chain is worth splitting into a new
// branch. Queries return the items whose boxes overlap a query box; overlap
// is open (boxes that only touch do not overlap).
//
// Nodes of every tree come from one process-wide pool that stays compact:
// freeing a node moves the pool's last node into its slot. So any node of
// any tree may change its address when a node is removed or a tree is
// cleared; callers hold no node address across those operations except the
// successor that Remove returns.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "foundation/pool_allocator.h"

namespace velmar {

// What a caller inserts: the item's box and its untyped pointer (owned by
// the caller).
struct SearchItem {
  Box box;
  void* item = nullptr;
};

struct DBSearchNode {
  // Levels.
  static constexpr int8_t kBranchX = 0;   // branch split in x
  static constexpr int8_t kBranchY = 1;   // branch split in y
  static constexpr int8_t kSentinel = 2;  // the tree's own head node
  static constexpr int8_t kData = -1;     // data node (item)
  static constexpr int8_t kFreed = -2;    // node given back to the pool

  // Side flags of a chain (kept in its first node).
  static constexpr uint32_t kLowSide = 1;   // an item lies in the low half
  static constexpr uint32_t kHighSide = 2;  // an item lies in the high half

  // A data node keeps, in place of the low slot, the count of its chain
  // (for the chain's first node the number of nodes in the chain, 1 for the
  // others) and the chain's side flags (only the first node's matter).
  struct ChainInfo {
    uint32_t count;
    uint32_t flags;
  };

  // The item's box for a data node, the node's region for a branch.
  Box box;
  // First data node of a chain and branch: the node whose slot holds it.
  // Later data node of a chain: the data node before it.
  DBSearchNode* parent = nullptr;
  // Branch: its straddle slot. Data node: the next node of its chain.
  DBSearchNode* chain = nullptr;
  union {
    DBSearchNode* low = nullptr;  // branch: low slot
    ChainInfo info;               // data node
  };
  union {
    DBSearchNode* high = nullptr;  // branch: high slot
    void* item;                    // data node: the item pointer
  };
  int8_t level = kSentinel;

  // Data nodes have a negative level.
  bool IsData() const { return level == kData; }
  bool IsBranch() const { return level == kBranchX || level == kBranchY; }
  bool IsSentinel() const { return level == kSentinel; }

  // A data node's item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

class DBSearchSystem {
 public:
  static constexpr int32_t kNodesPerBlock = 35000;

  // Set by the owner before the first insertion (for a cell: its bounding
  // box). Splitting needs x1 < x2 and y1 < y2; a tree whose region is not
  // valid keeps all items in one chain.
  Box region;
  // Grown by every inserted item's corners; starts empty.
  Box itemsBox;
  int32_t itemCount = 0;
  // Level kSentinel, empty box; its chain link is the root (null when the
  // tree is empty). The root's parent is this node, so a tree that holds
  // nodes must not be moved or copied as a working tree.
  DBSearchNode sentinel;

  DBSearchSystem() = default;
  explicit DBSearchSystem(const Box& r) : region(r) {}
  // Copies every field unchanged (trees are values in standard containers);
  // owners copy only empty trees.
  DBSearchSystem(const DBSearchSystem&) = default;
  DBSearchSystem& operator=(const DBSearchSystem&) = default;

  DBSearchNode* Root() const { return sentinel.chain; }
  bool IsEmpty() const { return sentinel.chain == nullptr; }

  // Adds one item: a new data node with the item's box and pointer; the
  // item count and the items box grow.
  static DBSearchNode* Insert(DBSearchSystem& tree, const SearchItem& item);
  static DBSearchNode* Insert(DBSearchSystem& tree, const Box& box,
                              void* item);

  // The data nodes whose boxes overlap the query box (open overlap), one at
  // a time; null when none is left (and for an empty tree).
  static DBSearchNode* FirstInBox(const DBSearchSystem& tree, const Box& q);
  static DBSearchNode* NextInBox(const DBSearchNode* node, const Box& q);

  // Every node of the tree, data nodes and branches, in post-order (a
  // branch's straddle subtree, its low subtree, its high subtree, then the
  // branch; a chain from its last node back to its first). Callers skip
  // branches (IsData() is false for them).
  static DBSearchNode* First(const DBSearchSystem& tree);
  static DBSearchNode* Next(const DBSearchNode* node);
  // The first node in post-order of the subtree at node.
  static DBSearchNode* Leftmost(DBSearchNode* node);

  // Removes one data node (and every branch left empty by it) and returns
  // the node that follows it in the traversal order (null at the end), so
  // that a caller can remove while walking.
  static DBSearchNode* Remove(DBSearchSystem& tree, DBSearchNode* node);

  // Frees every node; the root becomes null. Region, items box and item
  // count are left to the owner.
  static void Clear(DBSearchSystem& tree);

  // Inserts every item of tree into other (same box, same pointer) in
  // traversal order and sets the item pointer of each source data node to
  // null; the caller clears the source afterwards.
  static void MoveItemsTo(DBSearchSystem& tree, DBSearchSystem& other);

  // Prints "Total data = %d, branch nodes = %d, max child list = %d, max
  // next list = %d\n".
  static void PrintStatistics(const DBSearchSystem& tree);

  // Pool access. FreeNode gives a node back and, when the pool moved its
  // last node into the freed slot, re-points the links of the moved node
  // and returns its former address (null when nothing moved). The node
  // must be unlinked from the tree already.
  static DBSearchNode* AllocNode();
  static DBSearchNode* FreeNode(DBSearchNode* node);

 private:
  static void InsertNode(DBSearchNode* start, DBSearchNode* q,
                         const Box& region);
  static DBSearchNode* FindInSubtree(DBSearchNode* node, const Box& q);
};

// Releases every block of the node pool: every tree of the process becomes
// invalid and must not be used again.
void ResetSearchSystemPool();

// Kilobytes held by the node pool; unless quiet, prints
// "%d kbytes allocated for DB Search System\n" when that is at least 1.
int32_t ReportSearchSystemMemory(bool quiet = false);

// The node pool (read-only; for reports and checks).
const PoolAllocator& SearchSystemPool();

}  // namespace velmar
