// The k-dimensional search tree: items keyed by a box of k integer ranges,
// queried for the items whose boxes overlap a query box in every dimension.
// It serves rule tables (a bias rule applies to a range of several measured
// quantities; a lookup with the measured values finds the rules).
//
// The scheme is that of the 2-D tree (branches halving a region, low, high
// and straddle slots holding chains that split into new branches, the same
// post-order walk and query pruning) with its own thresholds. Branches split
// in dimension 0 and their straddle chains in dimension 1; the other
// dimensions serve only the side flags and the overlap test. Nodes are
// allocated one by one and never move.
#pragma once

#include <cstdint>
#include <vector>

namespace velmar {

// A box of k dimensions: one min and one max entry per dimension.
struct KDBox {
  std::vector<int32_t> min;
  std::vector<int32_t> max;

  int32_t Dimensions() const { return static_cast<int32_t>(min.size()); }
  // Every min := INT_MAX, every max := INT_MIN (a box that overlaps
  // nothing); the number of dimensions stays.
  static void Reset(KDBox& box);
};

struct DBSearchNodeKD {
  static constexpr int8_t kData = -1;

  struct ChainInfo {
    uint32_t count;  // chain's first node: nodes in the chain; others: 1
    uint32_t flags;  // 1 low side, 2 high side (first node only)
  };

  // The item's box for a data node, the region for a branch.
  std::vector<int32_t> min;
  std::vector<int32_t> max;
  DBSearchNodeKD* parent = nullptr;  // null only for the sentinel
  DBSearchNodeKD* chain = nullptr;
  union {
    DBSearchNodeKD* low = nullptr;  // branch: low slot
    ChainInfo info;                 // data node
  };
  union {
    DBSearchNodeKD* high = nullptr;  // branch: high slot
    void* item;                      // data node: the item pointer
  };
  // Branch: its split dimension (0 or 1); data node: kData; the sentinel:
  // the tree's dimension count.
  int8_t level = 0;

  bool IsData() const { return level == kData; }
  bool IsSentinel() const { return parent == nullptr; }
  bool IsBranch() const { return level >= 0 && parent != nullptr; }
};

class DBSearchSystemKD {
 public:
  KDBox region;    // as passed to Init
  KDBox itemsBox;  // grown by every inserted item
  int32_t itemCount = 0;
  DBSearchNodeKD sentinel;  // its chain link is the root

  DBSearchSystemKD() = default;
  // Frees every node still in the tree.
  ~DBSearchSystemKD();
  // The root's parent is the sentinel inside the object: not copyable.
  DBSearchSystemKD(const DBSearchSystemKD&) = delete;
  DBSearchSystemKD& operator=(const DBSearchSystemKD&) = delete;

  int32_t Dimensions() const { return region.Dimensions(); }
  DBSearchNodeKD* Root() const { return sentinel.chain; }

  // Makes the tree empty with the given region (its dimension count is
  // the tree's); any nodes the tree held are freed first. Throws Error when
  // the region's min and max have different lengths.
  static void Init(DBSearchSystemKD& tree, const KDBox& region);

  // Stores one item keyed by a copy of the box; the items box grows.
  // Throws Error when the box's dimension count differs from the tree's.
  static DBSearchNodeKD* Insert(DBSearchSystemKD& tree, const KDBox& box,
                                void* item);

  // Data nodes whose boxes overlap the query in every dimension (open
  // overlap: min[i] < q.max[i] and q.min[i] < max[i]); null when none is
  // left. Throws Error when the query's dimension count differs.
  static DBSearchNodeKD* FirstInBox(const DBSearchSystemKD& tree,
                                    const KDBox& q);
  static DBSearchNodeKD* NextInBox(const DBSearchNodeKD* node,
                                   const KDBox& q);

  // Every node, data nodes and branches, in post-order (as the 2-D tree).
  static DBSearchNodeKD* First(const DBSearchSystemKD& tree);
  static DBSearchNodeKD* Next(const DBSearchNodeKD* node);
  static DBSearchNodeKD* Leftmost(DBSearchNodeKD* node);

  // Removes one data node (and branches left empty) and returns its
  // traversal successor.
  static DBSearchNodeKD* Remove(DBSearchSystemKD& tree, DBSearchNodeKD* node);

  // Deletes every node; the tree is then empty (root null, count 0), so a
  // second Clear is harmless. The region and the items box stay.
  static void Clear(DBSearchSystemKD& tree);

  // Prints "Total data = %d, branch nodes = %d, max child list = %d, max
  // next list = %d\n".
  static void PrintStatistics(const DBSearchSystemKD& tree);

 private:
  static void InsertNode(DBSearchNodeKD* start, DBSearchNodeKD* q,
                         const KDBox* region);
  static DBSearchNodeKD* FindInSubtree(DBSearchNodeKD* node, const KDBox& q);
};

}  // namespace velmar
