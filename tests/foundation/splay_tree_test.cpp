// Splay tree: order and sizes after random inserts, splays and root
// removals compared with std::multiset; stepping the root through the
// items; degenerate trees deeper than any recursion could go.

#include "foundation/splay_tree.h"

#include <gtest/gtest.h>

#include <deque>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

int CompareInt(void* a, void* b) {
  const int x = *static_cast<int*>(a), y = *static_cast<int*>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// Returns magnitudes, not only -1/0/1: shows which comparison a result is.
int CompareDiff(void* a, void* b) {
  return *static_cast<int*>(a) - *static_cast<int*>(b);
}

int Key(const SplayNode* n) { return *static_cast<int*>(n->item); }

// In-order keys without recursion (trees here can be very deep).
std::vector<int> InOrder(const SplayNode* root) {
  std::vector<int> out;
  std::vector<const SplayNode*> stack;
  const SplayNode* n = root;
  while (n || !stack.empty()) {
    while (n) {
      stack.push_back(n);
      n = n->left;
    }
    n = stack.back();
    stack.pop_back();
    out.push_back(Key(n));
    n = n->right;
  }
  return out;
}

class SplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSplayPool(); }
  void TearDown() override { ResetSplayPool(); }
  std::deque<int> keys_;
  int* NewKey(int k) {
    keys_.push_back(k);
    return &keys_.back();
  }
  void InsertAll(Splay& tree, std::initializer_list<int> ks) {
    for (int k : ks) Splay::Insert(tree, NewKey(k), CompareInt);
  }
};

TEST_F(SplayTest, InsertPutsTheNewItemAtTheRootAndSplayFindsKeys) {
  Splay tree;
  InsertAll(tree, {5, 3, 8});
  EXPECT_EQ(Key(tree.root), 8);
  int three = 3;
  EXPECT_EQ(Splay::SplayKey(tree, &three, CompareInt), 0);
  EXPECT_EQ(Key(tree.root), 3);
  // A missing key brings a neighbour up and tells on which side it lies.
  int four = 4;
  const int c = Splay::SplayKey(tree, &four, CompareInt);
  EXPECT_NE(c, 0);
  EXPECT_EQ(c, CompareInt(&four, tree.root->item));
  EXPECT_TRUE(Key(tree.root) == 3 || Key(tree.root) == 5);
  EXPECT_EQ(InOrder(tree.root), (std::vector<int>{3, 5, 8}));
  EXPECT_EQ(tree.count, 3);
  Splay::Clear(tree);
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_EQ(tree.count, 0);
}

TEST_F(SplayTest, UniqueTreeRefusesEqualItems) {
  Splay tree;
  tree.unique = true;
  InsertAll(tree, {5, 3});
  EXPECT_EQ(Splay::Insert(tree, NewKey(5), CompareInt), nullptr);
  EXPECT_EQ(tree.count, 2);
  Splay multi;
  InsertAll(multi, {5, 5, 5});
  EXPECT_EQ(multi.count, 3);
  EXPECT_EQ(InOrder(multi.root), (std::vector<int>{5, 5, 5}));
  Splay::Clear(tree);
  Splay::Clear(multi);
}

TEST_F(SplayTest, RemoveRootAndStepping) {
  Splay tree;
  InsertAll(tree, {1, 2, 3, 4, 5, 6, 7});
  int four = 4;
  ASSERT_EQ(Splay::SplayKey(tree, &four, CompareInt), 0);
  ASSERT_NE(tree.root->left, nullptr);
  ASSERT_NE(tree.root->right, nullptr);
  Splay::RemoveRoot(tree);
  EXPECT_EQ(Key(tree.root), 3);  // the largest of the left subtree
  EXPECT_EQ(tree.count, 6);
  EXPECT_EQ(InOrder(tree.root), (std::vector<int>{1, 2, 3, 5, 6, 7}));

  // Step the root through every item, forward and back.
  int one = 1;
  Splay::SplayKey(tree, &one, CompareInt);
  std::vector<int> forward{Key(tree.root)};
  while (SplayNode* n = Splay::RootToNext(tree)) {
    EXPECT_EQ(n, tree.root);
    forward.push_back(Key(n));
  }
  EXPECT_EQ(forward, (std::vector<int>{1, 2, 3, 5, 6, 7}));
  // At the largest item: no successor, nothing changes.
  SplayNode* top = tree.root;
  EXPECT_EQ(Splay::RootToNext(tree), nullptr);
  EXPECT_EQ(tree.root, top);
  std::vector<int> backward{Key(tree.root)};
  while (SplayNode* n = Splay::RootToPrev(tree)) backward.push_back(Key(n));
  EXPECT_EQ(backward, (std::vector<int>{7, 6, 5, 3, 2, 1}));
  EXPECT_EQ(InOrder(tree.root), (std::vector<int>{1, 2, 3, 5, 6, 7}));
  Splay::Clear(tree);
}

// Random inserts, splays and root removals against std::multiset.
TEST_F(SplayTest, RandomOperationsMatchTheModel) {
  for (const bool unique : {false, true}) {
    SCOPED_TRACE(unique);
    std::mt19937 rng(unique ? 5 : 6);
    std::uniform_int_distribution<int> key(0, unique ? 4000 : 500);
    std::uniform_int_distribution<int> op(0, 99);
    Splay tree;
    tree.unique = unique;
    std::multiset<int> model;
    for (int step = 0; step < 12000; ++step) {
      const int inserts = step < 6000 ? 65 : 35;
      const int o = op(rng);
      int* k = NewKey(key(rng));
      if (o < inserts) {
        SplayNode* n = Splay::Insert(tree, k, CompareDiff);
        if (unique && model.count(*k)) {
          EXPECT_EQ(n, nullptr);
        } else {
          ASSERT_EQ(n, tree.root);
          model.insert(*k);
        }
      } else if (!model.empty()) {
        // Splay to a key: the root is that key, or the nearest item on the
        // side the result tells; then remove it.
        const int c = Splay::SplayKey(tree, k, CompareDiff);
        const int r = Key(tree.root);
        ASSERT_EQ(c, CompareDiff(k, tree.root->item));
        if (c < 0) {
          ASSERT_EQ(*model.lower_bound(*k), r);
        } else if (c > 0) {
          ASSERT_EQ(*std::prev(model.lower_bound(*k)), r);
        }
        Splay::RemoveRoot(tree);
        model.erase(model.find(r));
      }
      if (step % 400 == 0) {
        ASSERT_EQ(InOrder(tree.root),
                  std::vector<int>(model.begin(), model.end()));
        ASSERT_EQ(tree.count, int(model.size()));
        test::StdoutCapture out;
        Splay::Check(tree.root, CompareDiff);
        ASSERT_EQ(out.Stop(), "");
      }
    }
    Splay::Clear(tree);
  }
}

TEST_F(SplayTest, DegenerateTreesNeedNoRecursion) {
  // Ascending inserts leave one left spine as deep as the tree is large.
  constexpr int kN = 200000;
  Splay tree;
  for (int i = 0; i < kN; ++i) Splay::Insert(tree, NewKey(i), CompareInt);
  int height = 0;
  Splay::Height(tree.root, height);
  EXPECT_EQ(height, kN);
  {
    test::StdoutCapture out;
    Splay::Check(tree.root, CompareInt);
    EXPECT_EQ(out.Stop(), "");
  }
  Splay::Clear(tree);
  EXPECT_EQ(tree.root, nullptr);
  Splay::Height(tree.root, height);
  EXPECT_EQ(height, 0);
}

TEST_F(SplayTest, SelfCheckReportsOrderFaults) {
  Splay tree;
  InsertAll(tree, {2, 1, 3});
  int two = 2;
  Splay::SplayKey(tree, &two, CompareInt);
  ASSERT_NE(tree.root->left, nullptr);
  std::swap(tree.root->item, tree.root->left->item);  // root 1, left 2
  test::StdoutCapture out;
  Splay::Check(tree.root, CompareInt);
  EXPECT_EQ(out.Stop(), "Splay Error: Data not in order\n");
  Splay::Clear(tree);
}

TEST_F(SplayTest, PoolReportAndReset) {
  EXPECT_EQ(ReportSplayMemory(true), 0);
  Splay tree;
  InsertAll(tree, {1});
  const int kb = int(Splay::kNodesPerBlock * sizeof(SplayNode) / 1024);
  {
    test::StdoutCapture out;
    EXPECT_EQ(ReportSplayMemory(false), kb);
    EXPECT_EQ(out.Stop(), std::to_string(kb) + " kbytes allocated for Splay\n");
  }
  Splay::Clear(tree);
  SplayNode* freed = SplayFreeList().root;
  ASSERT_NE(freed, nullptr);
  EXPECT_EQ(freed->item, nullptr);
  EXPECT_EQ(Splay::Insert(tree, NewKey(2), CompareInt), freed);
  Splay::Clear(tree);
  Splay::Clear(SplayFreeList());
  EXPECT_EQ(SplayFreeList().root, nullptr);
  EXPECT_EQ(ReportSplayMemory(true), 0);
}

}  // namespace
}  // namespace velmar
