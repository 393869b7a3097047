// 2-D search tree: splitting rules, open-overlap queries, removal while
// walking on the compacting pool, and randomised runs of two trees sharing
// the pool, checked against brute force.

#include "foundation/search_tree.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

void* Id(intptr_t id) { return reinterpret_cast<void*>(id); }
intptr_t IdOf(const DBSearchNode* n) { return reinterpret_cast<intptr_t>(n->item); }

// Every test starts and ends with an empty node pool.
class SearchTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSearchSystemPool(); }
  void TearDown() override { ResetSearchSystemPool(); }
};

// Ids of the data nodes met by a full walk, in walk order.
std::vector<intptr_t> Walk(const DBSearchSystem& tree) {
  std::vector<intptr_t> ids;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;
       n = DBSearchSystem::Next(n)) {
    if (n->IsData()) ids.push_back(IdOf(n));
  }
  return ids;
}

// Ids found by a query, in the order found.
std::vector<intptr_t> Query(const DBSearchSystem& tree, const Box& q) {
  std::vector<intptr_t> ids;
  for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, q); n;
       n = DBSearchSystem::NextInBox(n, q))
    ids.push_back(IdOf(n));
  return ids;
}

// Independent statement of open overlap.
bool OpenOverlap(const Box& a, const Box& b) {
  return int64_t(a.x1) < b.x2 && int64_t(b.x1) < a.x2 &&
         int64_t(a.y1) < b.y2 && int64_t(b.y1) < a.y2;
}

// Structural check of a tree: links agree both ways, every node is met
// once by the walk, chain counts are the chain lengths, items lie on the
// side of each branch's midline that their slot claims. Returns the number
// of nodes (data and branches).
int64_t CheckStructure(const DBSearchSystem& tree) {
  int64_t nodes = 0;
  int64_t data = 0;
  std::set<const DBSearchNode*> seen;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;
       n = DBSearchSystem::Next(n)) {
    EXPECT_TRUE(seen.insert(n).second) << "node met twice";
    EXPECT_TRUE(n->IsData() || n->IsBranch()) << int(n->level);
    ++nodes;
    const DBSearchNode* p = n->parent;
    EXPECT_NE(p, nullptr);
    if (p == nullptr) break;
    if (p->IsData() || p == &tree.sentinel) {
      EXPECT_EQ(p->chain, n);
    } else {
      EXPECT_TRUE(p->IsBranch());
      const int dim = p->level;
      const int64_t lo = dim == 0 ? p->box.x1 : p->box.y1;
      const int64_t hi = dim == 0 ? p->box.x2 : p->box.y2;
      const int64_t mid = (lo + hi) >> 1;
      // every item below a low or high slot lies on that side
      auto sideOk = [&](const DBSearchNode* sub, bool low) {
        for (const DBSearchNode* m = DBSearchSystem::Leftmost(
                 const_cast<DBSearchNode*>(sub));;
             m = DBSearchSystem::Next(m)) {
          if (m->IsData()) {
            const int64_t a = dim == 0 ? m->box.x1 : m->box.y1;
            const int64_t b = dim == 0 ? m->box.x2 : m->box.y2;
            if (low ? b > mid : a < mid) return false;
          }
          if (m == sub) return true;
        }
      };
      if (p->low == n) EXPECT_TRUE(sideOk(n, true));
      else if (p->high == n) EXPECT_TRUE(sideOk(n, false));
      else EXPECT_EQ(p->chain, n);
    }
    if (n->IsData()) {
      ++data;
      if (!p->IsData()) {
        uint32_t len = 0;
        for (const DBSearchNode* c = n; c; c = c->chain) {
          ++len;
          if (c->chain) {
            EXPECT_EQ(c->chain->parent, c);
          }
        }
        EXPECT_EQ(n->info.count, len);
      }
    } else {
      EXPECT_TRUE(n->chain || n->low || n->high) << "empty branch kept";
      if (n->chain) {
        EXPECT_EQ(n->chain->parent, n);
      }
      if (n->low) {
        EXPECT_EQ(n->low->parent, n);
      }
      if (n->high) {
        EXPECT_EQ(n->high->parent, n);
      }
    }
  }
  EXPECT_EQ(data, tree.itemCount);
  if (tree.Root()) {
    EXPECT_EQ(tree.Root()->parent, &tree.sentinel);
  }
  return nodes;
}

int64_t PoolNodesInUse() { return SearchSystemPool().LastIndex() + 1; }

// ---------------------------------------------------------------------------
// Splitting rules

TEST_F(SearchTreeTest, FirstInsertionBecomesTheRoot) {
  DBSearchSystem tree(Box(0, 0, 1000, 1000));
  DBSearchNode* n = DBSearchSystem::Insert(tree, Box(10, 10, 20, 20), Id(1));
  EXPECT_EQ(tree.Root(), n);
  EXPECT_TRUE(n->IsData());
  EXPECT_EQ(n->parent, &tree.sentinel);
  EXPECT_EQ(n->info.count, 1u);
  EXPECT_EQ(n->info.flags, 0u);
  EXPECT_EQ(tree.itemCount, 1);
  EXPECT_EQ(tree.itemsBox, Box(10, 10, 20, 20));
}

struct RootSplitCase {
  const char* name;
  std::vector<Box> boxes;  // inserted in order
  int splitsAt;            // 1-based insertion that makes the root a branch; 0 never
  Box region = Box(0, 0, 1000, 1000);
};

class RootSplit : public SearchTreeTest,
                  public ::testing::WithParamInterface<RootSplitCase> {};

TEST_P(RootSplit, RootChainSplitsWhenExpected) {
  const RootSplitCase& c = GetParam();
  DBSearchSystem tree(c.region);
  int splitAt = 0;
  for (size_t i = 0; i < c.boxes.size(); ++i) {
    DBSearchSystem::Insert(tree, c.boxes[i], Id(intptr_t(i) + 1));
    if (splitAt == 0 && tree.Root()->IsBranch()) {
      splitAt = int(i) + 1;
      EXPECT_EQ(tree.Root()->level, DBSearchNode::kBranchX);
      EXPECT_EQ(tree.Root()->box, c.region);
    }
  }
  EXPECT_EQ(splitAt, c.splitsAt);
  CheckStructure(tree);
  DBSearchSystem::Clear(tree);
}

std::vector<Box> Repeat(Box b, int n) { return std::vector<Box>(size_t(n), b); }
std::vector<Box> Concat(std::vector<Box> a, const std::vector<Box>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RootSplit,
    ::testing::Values(
        // region x midline 500: all on the low side: only the count splits
        RootSplitCase{"AllLowSplitsAtNinth", Repeat(Box(0, 0, 10, 10), 12), 9},
        // straddling items add no flag
        RootSplitCase{"StraddlingSplitsAtNinth",
                      Repeat(Box(400, 0, 600, 10), 12), 9},
        // the first item carries no flag: a high first, then lows only
        RootSplitCase{"FirstItemCarriesNoFlag",
                      Concat({Box(600, 0, 700, 10)}, Repeat(Box(0, 0, 10, 10), 10)),
                      9},
        // two items after the first on different sides: third insertion
        RootSplitCase{"BothSidesSplitAtThird",
                      {Box(400, 0, 600, 10), Box(0, 0, 500, 10),
                       Box(500, 0, 900, 10), Box(1, 1, 2, 2)},
                      3},
        // zero-width region: never splits
        RootSplitCase{"ZeroWidthRegionNeverSplits",
                      Concat(Repeat(Box(0, 0, 10, 10), 20),
                             Repeat(Box(600, 0, 700, 10), 20)),
                      0, Box(0, 0, 0, 1000)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SearchTreeTest, SlotChainSplitsByItsFirstItemsSide) {
  // Root x-branch over 0..1000 (mid 500); its low slot covers 0..500
  // (child midline 250), its high slot 500..1000 (child midline 750).
  // Items joining a low chain always add the low flag, items joining a high
  // chain the high flag; only the first item's own side can add the other.
  struct Case {
    bool high;       // which slot is tested
    Box first;       // first item of that slot's chain
    Box filler;      // the items that join it
    int splitsAt;    // items in the chain when it splits
    Box branch;      // region of the branch made by the split
  };
  const Box lowBranch(0, 0, 500, 1000), highBranch(500, 0, 1000, 1000);
  for (const Case& c : {
           Case{false, Box(0, 0, 100, 10), Box(0, 0, 10, 10), 9, lowBranch},
           Case{false, Box(300, 0, 400, 10), Box(0, 0, 10, 10), 2, lowBranch},
           Case{true, Box(900, 0, 1000, 10), Box(990, 0, 1000, 10), 9,
                highBranch},
           Case{true, Box(600, 0, 700, 10), Box(990, 0, 1000, 10), 2,
                highBranch},
       }) {
    SCOPED_TRACE(::testing::Message() << c.high << " " << c.splitsAt);
    DBSearchSystem tree(Box(0, 0, 1000, 1000));
    // Split the root at the third insertion (no flag, then both sides),
    // leaving the tested slot with one item, which is removed again.
    const Box near = c.high ? Box(100, 0, 200, 10) : Box(800, 0, 900, 10);
    const Box nearer = c.high ? Box(0, 0, 10, 10) : Box(990, 0, 1000, 10);
    DBSearchSystem::Insert(tree, near, Id(100));
    DBSearchSystem::Insert(tree, nearer, Id(101));
    DBSearchSystem::Insert(tree, c.filler, Id(102));
    ASSERT_TRUE(tree.Root()->IsBranch());
    auto slot = [&]() -> DBSearchNode*& {
      return c.high ? tree.Root()->high : tree.Root()->low;
    };
    ASSERT_NE(slot(), nullptr);
    ASSERT_TRUE(slot()->IsData());
    ASSERT_EQ(slot()->info.count, 1u);
    DBSearchSystem::Remove(tree, slot());
    ASSERT_EQ(slot(), nullptr);

    DBSearchSystem::Insert(tree, c.first, Id(1));
    int inChain = 1;
    while (slot()->IsData()) {
      DBSearchSystem::Insert(tree, c.filler, Id(1 + inChain));
      ++inChain;
      ASSERT_LE(inChain, 20);
    }
    EXPECT_EQ(inChain, c.splitsAt);
    EXPECT_EQ(slot()->level, DBSearchNode::kBranchX);
    EXPECT_EQ(slot()->box, c.branch);
    CheckStructure(tree);
    DBSearchSystem::Clear(tree);
  }
}

TEST_F(SearchTreeTest, StraddleChainsSplitInYThenNoMore) {
  DBSearchSystem tree(Box(0, 0, 1000, 1000));
  DBSearchSystem::Insert(tree, Box(0, 0, 10, 10), Id(1));
  DBSearchSystem::Insert(tree, Box(900, 0, 910, 10), Id(2));
  DBSearchSystem::Insert(tree, Box(20, 0, 30, 10), Id(3));
  DBSearchNode* root = tree.Root();
  ASSERT_TRUE(root->IsBranch());
  // Items across x = 500: the root's straddle chain splits at its ninth
  // item into a y-branch over the root's whole region.
  int n = 0;
  while (tree.Root()->chain == nullptr || tree.Root()->chain->IsData()) {
    DBSearchSystem::Insert(tree, Box(400, 100 + n, 600, 110 + n), Id(10 + n));
    ++n;
    ASSERT_LE(n, 20);
  }
  EXPECT_EQ(n, 9);
  DBSearchNode* ybranch = tree.Root()->chain;
  EXPECT_EQ(ybranch->level, DBSearchNode::kBranchY);
  EXPECT_EQ(ybranch->box, tree.Root()->box);
  // Items across both midlines pass two straddle slots: one chain forever.
  for (int i = 0; i < 100; ++i)
    DBSearchSystem::Insert(tree, Box(400, 400, 600, 600), Id(100 + i));
  ASSERT_NE(tree.Root()->chain->chain, nullptr);
  EXPECT_TRUE(tree.Root()->chain->chain->IsData());
  EXPECT_EQ(tree.Root()->chain->chain->info.count, 100u);
  CheckStructure(tree);
  DBSearchSystem::Clear(tree);
}

TEST_F(SearchTreeTest, NarrowSlotsDoNotSplit) {
  // Slots of at most 20 units never split, however many items they hold.
  DBSearchSystem tree(Box(0, 0, 40, 40));
  for (int i = 0; i < 200; ++i)
    DBSearchSystem::Insert(tree, Box(1, 1, 2, 2), Id(i + 1));
  // The root (0..40) splits, then its low half (0..20); slots of that
  // branch are 20 wide and keep every item in one chain.
  DBSearchNode* holder = nullptr;
  DBSearchNode* n = tree.Root();
  while (n->IsBranch()) {
    holder = n;
    n = n->low;
    ASSERT_NE(n, nullptr);
  }
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->box, Box(0, 0, 20, 40));
  EXPECT_EQ(n->info.count, 200u);
  CheckStructure(tree);
  DBSearchSystem::Clear(tree);
}

// ---------------------------------------------------------------------------
// Queries

TEST_F(SearchTreeTest, TouchingDoesNotOverlap) {
  DBSearchSystem tree(Box(0, 0, 100, 100));
  DBSearchSystem::Insert(tree, Box(10, 10, 20, 20), Id(1));
  DBSearchSystem::Insert(tree, Box(50, 50, 50, 60), Id(2));  // zero width
  struct Case {
    Box q;
    std::vector<intptr_t> found;
  };
  for (const Case& c : {
           Case{Box(20, 10, 30, 20), {}},    // touches the right side
           Case{Box(0, 0, 10, 10), {}},      // touches a corner
           Case{Box(19, 19, 30, 30), {1}},   // one unit of overlap
           Case{Box(0, 20, 100, 30), {}},    // touches the top
           Case{Box(40, 40, 60, 70), {2}},   // zero-width item strictly inside
           Case{Box(50, 40, 60, 70), {}},    // zero-width item on the side
           Case{Box(0, 0, 100, 100), {1, 2}},
       }) {
    std::vector<intptr_t> got = Query(tree, c.q);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, c.found) << c.q.x1 << "," << c.q.y1 << "," << c.q.x2
                            << "," << c.q.y2;
  }
  DBSearchSystem::Clear(tree);
}

TEST_F(SearchTreeTest, EmptyTree) {
  DBSearchSystem tree(Box(0, 0, 100, 100));
  EXPECT_EQ(DBSearchSystem::First(tree), nullptr);
  EXPECT_EQ(DBSearchSystem::FirstInBox(tree, Box(0, 0, 100, 100)), nullptr);
  DBSearchSystem::Clear(tree);  // nothing to do
  EXPECT_EQ(tree.Root(), nullptr);
  EXPECT_EQ(PoolNodesInUse(), 0);
}

// ---------------------------------------------------------------------------
// Removal and the compacting pool

TEST_F(SearchTreeTest, RemovingTheRootChainsFirstNodeKeepsTheCount) {
  DBSearchSystem tree(Box(0, 0, 0, 0));  // never splits
  for (int i = 0; i < 5; ++i)
    DBSearchSystem::Insert(tree, Box(i, i, i + 1, i + 1), Id(i + 1));
  DBSearchNode* first = tree.Root();
  ASSERT_EQ(first->info.count, 5u);
  DBSearchNode* succ = DBSearchSystem::Remove(tree, first);
  EXPECT_EQ(succ, nullptr);  // the first node of the root chain is met last
  ASSERT_NE(tree.Root(), nullptr);
  EXPECT_EQ(tree.Root()->info.count, 4u);
  EXPECT_EQ(tree.itemCount, 4);
  CheckStructure(tree);
  DBSearchSystem::Clear(tree);
}

TEST_F(SearchTreeTest, RemoveFollowsNodesThatThePoolMoves) {
  // Tree a: root x-branch with low chain (a1, a3) and high chain (a2);
  // tree b's node is allocated last. Removing a3, a1 and a2 while walking
  // moves b's node and a's branch into freed slots; the walk and tree b
  // must not notice.
  DBSearchSystem a(Box(0, 0, 1000, 1000));
  DBSearchSystem b(Box(0, 0, 1000, 1000));
  DBSearchSystem::Insert(a, Box(0, 0, 10, 10), Id(1));
  DBSearchSystem::Insert(a, Box(900, 0, 910, 10), Id(2));
  DBSearchSystem::Insert(a, Box(20, 0, 30, 10), Id(3));
  ASSERT_TRUE(a.Root()->IsBranch());
  DBSearchSystem::Insert(b, Box(5, 5, 6, 6), Id(99));
  ASSERT_EQ(PoolNodesInUse(), 5);

  std::vector<intptr_t> order;
  DBSearchNode* n = DBSearchSystem::First(a);
  while (n) {
    if (n->IsData()) {
      order.push_back(IdOf(n));
      n = DBSearchSystem::Remove(a, n);
      if (n) {
        EXPECT_NE(n->level, DBSearchNode::kFreed);
      }
    } else {
      n = DBSearchSystem::Next(n);
    }
  }
  EXPECT_EQ(order, (std::vector<intptr_t>{3, 1, 2}));
  EXPECT_EQ(a.Root(), nullptr);
  EXPECT_EQ(a.itemCount, 0);
  EXPECT_EQ(PoolNodesInUse(), 1);
  EXPECT_EQ(Query(b, Box(0, 0, 100, 100)), (std::vector<intptr_t>{99}));
  CheckStructure(b);
  DBSearchSystem::Clear(b);
  EXPECT_EQ(PoolNodesInUse(), 0);
}

TEST_F(SearchTreeTest, RemovingEverythingWhileWalkingFreesEveryBranch) {
  std::mt19937 rng(7);
  DBSearchSystem tree(Box(-100000, -100000, 100000, 100000));
  std::uniform_int_distribution<int32_t> pos(-100000, 99000);
  std::uniform_int_distribution<int32_t> size(0, 1000);
  for (int i = 0; i < 5000; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    DBSearchSystem::Insert(tree, Box(x, y, x + size(rng), y + size(rng)),
                           Id(i + 1));
  }
  const int64_t nodes = CheckStructure(tree);
  EXPECT_GT(nodes, 5000);  // branches were made
  EXPECT_EQ(PoolNodesInUse(), nodes);
  std::set<intptr_t> met;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;) {
    if (n->IsData()) {
      EXPECT_TRUE(met.insert(IdOf(n)).second);
      n = DBSearchSystem::Remove(tree, n);
    } else {
      n = DBSearchSystem::Next(n);
    }
  }
  EXPECT_EQ(met.size(), 5000u);
  EXPECT_EQ(tree.Root(), nullptr);
  EXPECT_EQ(tree.itemCount, 0);
  EXPECT_EQ(PoolNodesInUse(), 0);
}

// ---------------------------------------------------------------------------
// Randomised: two trees sharing the pool against brute force

struct Model {
  std::map<intptr_t, Box> items;
};

Box RandomBox(std::mt19937& rng, int64_t lo, int64_t hi, int64_t maxSize) {
  std::uniform_int_distribution<int64_t> pos(lo, hi);
  std::uniform_int_distribution<int64_t> size(0, maxSize);
  std::uniform_int_distribution<int> kind(0, 9);
  int64_t x1 = pos(rng), y1 = pos(rng);
  int64_t w = size(rng), h = size(rng);
  const int k = kind(rng);
  if (k == 0) w = 0;  // zero width
  if (k == 1) h = 0;  // zero height
  const int64_t x2 = std::min<int64_t>(x1 + w, hi);
  const int64_t y2 = std::min<int64_t>(y1 + h, hi);
  return Box(int32_t(x1), int32_t(y1), int32_t(x2), int32_t(y2));
}

void ExpectQueriesMatch(const DBSearchSystem& tree, const Model& model,
                        std::mt19937& rng, int64_t lo, int64_t hi,
                        int64_t maxSize, int queries) {
  for (int i = 0; i < queries; ++i) {
    Box q = RandomBox(rng, lo, hi, maxSize);
    if (i % 10 == 0) q = Box(int32_t(lo), int32_t(lo), int32_t(hi), int32_t(hi));
    std::vector<intptr_t> got = Query(tree, q);
    std::multiset<intptr_t> gotSet(got.begin(), got.end());
    std::multiset<intptr_t> want;
    for (const auto& [id, box] : model.items)
      if (OpenOverlap(box, q)) want.insert(id);
    ASSERT_EQ(gotSet, want) << "query " << q.x1 << "," << q.y1 << "," << q.x2
                            << "," << q.y2;
  }
  std::vector<intptr_t> walked = Walk(tree);
  std::set<intptr_t> walkedSet(walked.begin(), walked.end());
  ASSERT_EQ(walkedSet.size(), walked.size());
  ASSERT_EQ(walked.size(), model.items.size());
}

// Finds the data node of an item through a query over its box (an
// item's box may be degenerate, so the query is widened by one unit).
DBSearchNode* FindNode(const DBSearchSystem& tree, intptr_t id, const Box& b) {
  const Box q(int32_t(std::max<int64_t>(int64_t(b.x1) - 1, INT_MIN)),
              int32_t(std::max<int64_t>(int64_t(b.y1) - 1, INT_MIN)),
              int32_t(std::min<int64_t>(int64_t(b.x2) + 1, INT_MAX)),
              int32_t(std::min<int64_t>(int64_t(b.y2) + 1, INT_MAX)));
  for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, q); n;
       n = DBSearchSystem::NextInBox(n, q))
    if (IdOf(n) == id) return n;
  return nullptr;
}

struct RandomCase {
  const char* name;
  Box region;
  int64_t lo, hi;   // item coordinate range
  int64_t maxSize;  // largest item extent
};

class RandomTrees : public SearchTreeTest,
                    public ::testing::WithParamInterface<RandomCase> {};

TEST_P(RandomTrees, MatchBruteForce) {
  const RandomCase& c = GetParam();
  std::mt19937 rng(20240611);
  // Tree b's region is a corner of a's, so many of its items lie outside.
  DBSearchSystem trees[2] = {DBSearchSystem(c.region),
                             DBSearchSystem(Box(c.region.x1, c.region.y1,
                                                int32_t((int64_t(c.region.x1) + c.region.x2) / 2),
                                                int32_t((int64_t(c.region.y1) + c.region.y2) / 2)))};
  Model models[2];
  intptr_t nextId = 1;
  std::uniform_int_distribution<int> pick(0, 1);
  std::uniform_int_distribution<int> percent(0, 99);

  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    // interleaved inserts into both trees
    for (int i = 0; i < 3000; ++i) {
      const int t = pick(rng);
      const Box b = RandomBox(rng, c.lo, c.hi, c.maxSize);
      DBSearchSystem::Insert(trees[t], b, Id(nextId));
      models[t].items[nextId] = b;
      ++nextId;
    }
    // removal of single items found by query, alternating trees
    for (int i = 0; i < 600; ++i) {
      const int t = i & 1;
      if (models[t].items.empty()) continue;
      auto it = models[t].items.begin();
      std::advance(it, std::uniform_int_distribution<size_t>(
                           0, models[t].items.size() - 1)(rng));
      DBSearchNode* n = FindNode(trees[t], it->first, it->second);
      ASSERT_NE(n, nullptr);
      DBSearchSystem::Remove(trees[t], n);
      models[t].items.erase(it);
    }
    // removal while walking one tree: every item met exactly once
    {
      const int t = round & 1;
      std::set<intptr_t> met;
      for (DBSearchNode* n = DBSearchSystem::First(trees[t]); n;) {
        ASSERT_NE(n->level, DBSearchNode::kFreed);
        if (!n->IsData()) {
          n = DBSearchSystem::Next(n);
          continue;
        }
        ASSERT_TRUE(met.insert(IdOf(n)).second) << "met twice";
        if (percent(rng) < 40) {
          models[t].items.erase(IdOf(n));
          n = DBSearchSystem::Remove(trees[t], n);
        } else {
          n = DBSearchSystem::Next(n);
        }
      }
    }
    int64_t nodes = 0;
    for (int t = 0; t < 2; ++t) {
      SCOPED_TRACE(t);
      nodes += CheckStructure(trees[t]);
      ASSERT_EQ(trees[t].itemCount, int32_t(models[t].items.size()));
      ExpectQueriesMatch(trees[t], models[t], rng, c.lo, c.hi, c.maxSize * 4,
                         150);
    }
    ASSERT_EQ(PoolNodesInUse(), nodes);
  }

  // Moving a's items into a new tree, then clearing a while b stays.
  DBSearchSystem moved(c.region);
  DBSearchSystem::MoveItemsTo(trees[0], moved);
  for (DBSearchNode* n = DBSearchSystem::First(trees[0]); n;
       n = DBSearchSystem::Next(n))
    if (n->IsData()) {
      ASSERT_EQ(n->item, nullptr);
    }
  DBSearchSystem::Clear(trees[0]);
  EXPECT_EQ(trees[0].Root(), nullptr);
  ExpectQueriesMatch(moved, models[0], rng, c.lo, c.hi, c.maxSize * 4, 100);
  ExpectQueriesMatch(trees[1], models[1], rng, c.lo, c.hi, c.maxSize * 4, 100);
  const int64_t nodes = CheckStructure(moved) + CheckStructure(trees[1]);
  EXPECT_EQ(PoolNodesInUse(), nodes);
  DBSearchSystem::Clear(trees[1]);
  DBSearchSystem::Clear(moved);
  EXPECT_EQ(PoolNodesInUse(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RandomTrees,
    ::testing::Values(
        RandomCase{"Cell", Box(0, 0, 1000000, 1000000), 0, 1000000, 20000},
        // small boxes over a small area: deep trees down to narrow slots
        RandomCase{"Dense", Box(0, 0, 2000, 2000), 0, 2000, 30},
        // the whole coordinate range, items up to the limits
        RandomCase{"FullRange", Box(INT_MIN, INT_MIN, INT_MAX, INT_MAX),
                   INT_MIN, INT_MAX, int64_t(1) << 31},
        // a region far smaller than where the items lie
        RandomCase{"ItemsOutsideRegion", Box(-100, -100, 100, 100),
                   INT_MIN / 2, INT_MAX / 2, 1 << 24}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Values, reports and statistics

TEST_F(SearchTreeTest, EmptyTreesAreValuesInContainers) {
  std::map<int, DBSearchSystem> layers;
  layers[1] = DBSearchSystem(Box(0, 0, 100, 100));
  layers.emplace(2, DBSearchSystem(Box(0, 0, 100, 100)));
  for (auto& [key, tree] : layers) {
    for (int i = 0; i < 20; ++i)
      DBSearchSystem::Insert(tree, Box(i, i, i + 5, i + 5), Id(key * 100 + i));
  }
  for (auto& [key, tree] : layers) {
    EXPECT_EQ(tree.Root()->parent, &tree.sentinel);
    EXPECT_EQ(Query(tree, Box(0, 0, 100, 100)).size(), 20u);
    CheckStructure(tree);
    DBSearchSystem::Clear(tree);
  }
}

TEST_F(SearchTreeTest, MemoryReportCountsWholeBlocks) {
  EXPECT_EQ(ReportSearchSystemMemory(true), 0);
  DBSearchSystem tree(Box(0, 0, 100, 100));
  DBSearchSystem::Insert(tree, Box(1, 1, 2, 2), Id(1));
  const int kb = int(DBSearchSystem::kNodesPerBlock * sizeof(DBSearchNode) / 1024);
  test::StdoutCapture out;
  EXPECT_EQ(ReportSearchSystemMemory(false), kb);
  EXPECT_EQ(ReportSearchSystemMemory(true), kb);
  EXPECT_EQ(out.Stop(),
            std::to_string(kb) + " kbytes allocated for DB Search System\n");
  DBSearchSystem::Clear(tree);
  ResetSearchSystemPool();
  EXPECT_EQ(ReportSearchSystemMemory(true), 0);
}

TEST_F(SearchTreeTest, StatisticsLine) {
  DBSearchSystem tree(Box(0, 0, 1000, 1000));
  // root x-branch: low chain of 2, high chain of 1, straddle chain of 3
  DBSearchSystem::Insert(tree, Box(0, 0, 10, 10), Id(1));
  DBSearchSystem::Insert(tree, Box(900, 0, 910, 10), Id(2));
  DBSearchSystem::Insert(tree, Box(20, 0, 30, 10), Id(3));
  for (int i = 0; i < 3; ++i)
    DBSearchSystem::Insert(tree, Box(400, 0, 600, 10), Id(4 + i));
  test::StdoutCapture out;
  DBSearchSystem::PrintStatistics(tree);
  EXPECT_EQ(out.Stop(),
            "Total data = 6, branch nodes = 1, max child list = 2, max next "
            "list = 3\n");
  DBSearchSystem::Clear(tree);
}

}  // namespace
}  // namespace velmar
