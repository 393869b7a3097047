// AVL tree: order, balance and parent links after random inserts and
// removals compared with std::multimap / std::set, the self-check's lines,
// and the pool.

#include "foundation/avl_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

struct Rec {
  int key;
  int seq;  // insertion number: shows where equal keys went
};

int CompareRec(void* a, void* b) {
  return static_cast<Rec*>(a)->key - static_cast<Rec*>(b)->key;
}

Rec* R(AVLNode* n) { return static_cast<Rec*>(n->item); }

// Checks links, order and the stored balances against the real heights;
// returns the height of the subtree.
int CheckNode(const AVLNode* n, const AVLNode* parent, int* nodes) {
  if (n == nullptr) return 0;
  ++*nodes;
  EXPECT_EQ(n->parent, parent);
  const int hl = CheckNode(n->left, n, nodes);
  const int hr = CheckNode(n->right, n, nodes);
  EXPECT_LE(std::abs(hr - hl), 1) << "node " << static_cast<Rec*>(n->item)->key;
  EXPECT_EQ(n->balance, AVL::kBalanced + (hr - hl));
  return 1 + std::max(hl, hr);
}

int CheckTree(const AVL& tree) {
  int nodes = 0;
  const int height = CheckNode(tree.root, nullptr, &nodes);
  EXPECT_EQ(nodes, tree.count);
  return height;
}

// In-order (key, seq) pairs, forward with Next and checked backward with
// Prev.
std::vector<std::pair<int, int>> InOrder(const AVL& tree) {
  std::vector<std::pair<int, int>> out;
  AVLNode* last = nullptr;
  for (AVLNode* n = AVL::First(tree); n; n = AVL::Next(n)) {
    out.emplace_back(R(n)->key, R(n)->seq);
    last = n;
  }
  std::vector<std::pair<int, int>> back;
  for (AVLNode* n = last; n; n = AVL::Prev(n))
    back.emplace_back(R(n)->key, R(n)->seq);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, out);
  return out;
}

class AVLTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAVLPool(); }
  void TearDown() override { ResetAVLPool(); }
  std::deque<Rec> recs_;
  Rec* NewRec(int key) {
    recs_.push_back(Rec{key, int(recs_.size())});
    return &recs_.back();
  }
};

TEST_F(AVLTest, AscendingInsertsStayBalanced) {
  AVL tree;
  for (int k = 1; k <= 7; ++k) AVL::Insert(tree, NewRec(k), CompareRec);
  EXPECT_EQ(CheckTree(tree), 3);
  EXPECT_EQ(R(tree.root)->key, 4);
  std::vector<int> keys;
  for (auto [k, s] : InOrder(tree)) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  Rec key{5, -1};
  AVLNode* five = AVL::Find(tree, &key, CompareRec);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(R(five)->key, 5);
  key.key = 8;
  EXPECT_EQ(AVL::Find(tree, &key, CompareRec), nullptr);
  AVL::Clear(tree);
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_EQ(tree.count, 0);
  EXPECT_EQ(AVL::First(tree), nullptr);
}

TEST_F(AVLTest, UniqueTreeRefusesEqualItems) {
  AVL tree;
  tree.unique = true;
  ASSERT_NE(AVL::Insert(tree, NewRec(3), CompareRec), nullptr);
  ASSERT_NE(AVL::Insert(tree, NewRec(1), CompareRec), nullptr);
  EXPECT_EQ(AVL::Insert(tree, NewRec(3), CompareRec), nullptr);
  EXPECT_EQ(tree.count, 2);
  AVL multi;
  AVL::Insert(multi, NewRec(3), CompareRec);
  AVL::Insert(multi, NewRec(3), CompareRec);
  EXPECT_EQ(multi.count, 2);
  AVL::Clear(tree);
  AVL::Clear(multi);
}

TEST_F(AVLTest, RemovingANodeWithTwoChildrenPutsItsPredecessorInPlace) {
  AVL tree;
  for (int k : {4, 2, 6, 1, 3, 5, 7}) AVL::Insert(tree, NewRec(k), CompareRec);
  AVLNode* root = tree.root;
  AVLNode* pred = AVL::Prev(root);
  ASSERT_EQ(R(pred)->key, 3);
  AVL::Remove(tree, root);
  EXPECT_EQ(tree.root, pred);
  EXPECT_EQ(R(tree.root)->key, 3);
  EXPECT_EQ(tree.count, 6);
  CheckTree(tree);
  AVL::Clear(tree);
}

// Random inserts and removals (by key, by walking, removing while
// stepping), checked against std::multimap, whose inserts go after equal
// keys as the tree's do.
TEST_F(AVLTest, RandomOperationsMatchTheModel) {
  for (const bool unique : {false, true}) {
    SCOPED_TRACE(unique);
    std::mt19937 rng(unique ? 11 : 12);
    std::uniform_int_distribution<int> key(0, unique ? 3000 : 400);
    std::uniform_int_distribution<int> op(0, 99);
    AVL tree;
    tree.unique = unique;
    std::multimap<int, int> model;
    size_t largest = 0;
    // The tree grows for the first half (70% inserts), then shrinks.
    for (int step = 0; step < 16000; ++step) {
      const int o = op(rng);
      const int inserts = step < 8000 ? 70 : 30;
      const bool walk = step % 2000 == 1999;
      if (walk) {
        // remove every third node while stepping forward
        int i = 0;
        for (AVLNode* n = AVL::First(tree); n;) {
          AVLNode* next = AVL::Next(n);
          if (i++ % 3 == 0) {
            auto range = model.equal_range(R(n)->key);
            auto it = range.first;
            while (it->second != R(n)->seq) ++it;
            model.erase(it);
            AVL::Remove(tree, n);
          }
          n = next;
        }
      } else if (o < inserts) {
        Rec* r = NewRec(key(rng));
        AVLNode* n = AVL::Insert(tree, r, CompareRec);
        const bool present = model.count(r->key) > 0;
        if (unique && present) {
          EXPECT_EQ(n, nullptr);
        } else {
          ASSERT_NE(n, nullptr);
          EXPECT_EQ(n->item, r);
          model.emplace(r->key, r->seq);
        }
      } else {
        Rec probe{key(rng), -1};
        AVLNode* n = AVL::Find(tree, &probe, CompareRec);
        auto it = model.find(probe.key);
        ASSERT_EQ(n != nullptr, it != model.end());
        if (n == nullptr) continue;
        // remove exactly the record found
        auto range = model.equal_range(probe.key);
        for (it = range.first; it != range.second; ++it)
          if (it->second == R(n)->seq) break;
        ASSERT_NE(it, range.second);
        model.erase(it);
        AVL::Remove(tree, n);
      }
      largest = std::max(largest, model.size());
      if (step % 500 == 0 || walk) {
        CheckTree(tree);
        std::vector<std::pair<int, int>> want(model.begin(), model.end());
        ASSERT_EQ(InOrder(tree), want);
      }
    }
    CheckTree(tree);
    ASSERT_EQ(tree.count, int(model.size()));
    EXPECT_GT(largest, 1500u);
    AVL::Clear(tree);
  }
}

TEST_F(AVLTest, SelfCheckReportsOrderAndHeightFaults) {
  AVL tree;
  for (int k = 1; k <= 7; ++k) AVL::Insert(tree, NewRec(k), CompareRec);
  int height = 0;
  {
    test::StdoutCapture out;
    AVL::Check(tree, tree.root, height, CompareRec);
    EXPECT_EQ(out.Stop(), "");
    EXPECT_EQ(height, 3);
  }
  // Out of order: swap the root's item (4) with its left child's (2): the
  // root's left child is now greater than it, and that child's right child
  // (3) smaller than it.
  std::swap(tree.root->item, tree.root->left->item);
  {
    test::StdoutCapture out;
    AVL::Check(tree, tree.root, height, CompareRec);
    EXPECT_EQ(out.Stop(),
              "AVL Error: Data not in order\n"
              "AVL Error: Data not in order\n");
  }
  std::swap(tree.root->item, tree.root->left->item);
  // Out of balance: hang a chain of two more nodes below the leftmost leaf;
  // that leaf, its parent and the root are then two higher on the left.
  AVLNode* leaf = AVL::First(tree);
  AVLNode* a = AVL::NewNode();
  AVLNode* b = AVL::NewNode();
  *a = AVLNode{b, nullptr, leaf, NewRec(0), AVL::kBalanced};
  *b = AVLNode{nullptr, nullptr, a, NewRec(-1), AVL::kBalanced};
  leaf->left = a;
  {
    test::StdoutCapture out;
    AVL::Check(tree, tree.root, height, CompareRec);
    EXPECT_EQ(out.Stop(),
              "AVL Error: Height difference is 2\n"
              "AVL Error: Height difference is 2\n"
              "AVL Error: Height difference is 2\n");
  }
  AVL::Clear(tree);
}

TEST_F(AVLTest, PoolReportAndReset) {
  EXPECT_EQ(ReportAVLMemory(true), 0);
  AVL tree;
  AVL::Insert(tree, NewRec(1), CompareRec);
  const int kb = int(AVL::kNodesPerBlock * sizeof(AVLNode) / 1024);
  {
    test::StdoutCapture out;
    EXPECT_EQ(ReportAVLMemory(false), kb);
    EXPECT_EQ(out.Stop(), std::to_string(kb) + " kbytes allocated for AVL\n");
  }
  // Cleared nodes are reused before the pool grows.
  AVL::Clear(tree);
  AVLNode* freed = AVLFreeList().root;
  ASSERT_NE(freed, nullptr);
  EXPECT_EQ(AVL::Insert(tree, NewRec(2), CompareRec), freed);
  AVL::Clear(tree);
  // Clearing the free list itself releases the pool.
  AVL::Clear(AVLFreeList());
  EXPECT_EQ(AVLFreeList().root, nullptr);
  EXPECT_EQ(ReportAVLMemory(true), 0);
}

}  // namespace
}  // namespace velmar
