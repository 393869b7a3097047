// Weight-biased leftist heap against a std::multiset model.

#include "foundation/leftist_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

struct Item {
  int key;
  int id;
};

int CompareItems(void* a, void* b) {
  return static_cast<Item*>(a)->key - static_cast<Item*>(b)->key;
}

int KeyOf(const LeftistHeapNode* n) { return static_cast<Item*>(n->item)->key; }

// Heap order, weight bias and exact subtree sizes; returns the node count.
// Iterative so it handles the deepest left spines.
int64_t CheckInvariants(const LeftistHeapNode* root) {
  int64_t nodes = 0;
  std::vector<const LeftistHeapNode*> stack;
  if (root) stack.push_back(root);
  auto size = [](const LeftistHeapNode* c) {
    return c ? 1 + c->leftWeight + c->rightWeight : 0;
  };
  while (!stack.empty()) {
    const LeftistHeapNode* n = stack.back();
    stack.pop_back();
    ++nodes;
    EXPECT_GE(n->leftWeight, n->rightWeight);
    EXPECT_EQ(n->leftWeight, size(n->left));
    EXPECT_EQ(n->rightWeight, size(n->right));
    if (n->left) {
      EXPECT_LE(KeyOf(n), KeyOf(n->left));
      stack.push_back(n->left);
    }
    if (n->right) {
      EXPECT_LE(KeyOf(n), KeyOf(n->right));
      stack.push_back(n->right);
    }
  }
  if (root) {
    EXPECT_EQ(nodes, size(root));
  }
  return nodes;
}

class LeftistHeapTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLeftistPool(); }
};

TEST_F(LeftistHeapTest, PopsInOrderOfAMultiset) {
  std::mt19937 rng(99);
  for (int keyRange : {3, 50, 1000000}) {
    std::vector<Item> items(20000);
    std::uniform_int_distribution<int> key(0, keyRange - 1);
    std::uniform_int_distribution<int> action(0, 99);
    LeftistHeap heap;
    std::multiset<int> model;
    size_t next = 0;
    for (int step = 0; step < 30000; ++step) {
      // Insert-heavy first, pop-heavy later, so the heap grows and drains.
      const bool insert = next < items.size() &&
                          (model.empty() || action(rng) < (step < 15000 ? 70 : 30));
      if (insert) {
        items[next] = {key(rng), int(next)};
        LeftistHeap::Insert(heap, &items[next], CompareItems);
        model.insert(items[next].key);
        ++next;
      } else if (!model.empty()) {
        ASSERT_EQ(KeyOf(heap.root), *model.begin()) << "step " << step;
        LeftistHeap::PopMin(heap, CompareItems);
        model.erase(model.begin());
      }
      if (step % 5000 == 0) {
        ASSERT_EQ(CheckInvariants(heap.root), int64_t(model.size()));
      }
    }
    ASSERT_EQ(CheckInvariants(heap.root), int64_t(model.size()));
    while (!model.empty()) {
      ASSERT_EQ(KeyOf(heap.root), *model.begin());
      LeftistHeap::PopMin(heap, CompareItems);
      model.erase(model.begin());
    }
    EXPECT_TRUE(heap.IsEmpty());
  }
}

TEST_F(LeftistHeapTest, SmallSequenceAndTies) {
  Item items[] = {{5, 0}, {3, 1}, {8, 2}, {1, 3}};
  LeftistHeap heap;
  for (Item& it : items) LeftistHeap::Insert(heap, &it, CompareItems);
  std::vector<int> popped;
  while (!heap.IsEmpty()) {
    popped.push_back(KeyOf(heap.root));
    LeftistHeap::PopMin(heap, CompareItems);
  }
  EXPECT_EQ(popped, (std::vector<int>{1, 3, 5, 8}));

  // A new item goes above an equal root: the later one pops first.
  Item a{4, 0}, b{4, 1};
  LeftistHeap::Insert(heap, &a, CompareItems);
  LeftistHeap::Insert(heap, &b, CompareItems);
  EXPECT_EQ(heap.root->item, &b);
  LeftistHeap::PopMin(heap, CompareItems);
  EXPECT_EQ(heap.root->item, &a);
  LeftistHeap::PopMin(heap, CompareItems);
  EXPECT_TRUE(heap.IsEmpty());

  // Down the right spine a new item stops above the first equal item.
  Item r{1, 0}, s{2, 1}, t{5, 2}, u{5, 3};
  for (Item* it : {&r, &s, &t, &u}) LeftistHeap::Insert(heap, it, CompareItems);
  CheckInvariants(heap.root);
  std::vector<void*> order;
  while (!heap.IsEmpty()) {
    order.push_back(heap.root->item);
    LeftistHeap::PopMin(heap, CompareItems);
  }
  EXPECT_EQ(order, (std::vector<void*>{&r, &s, &u, &t}));
}

TEST_F(LeftistHeapTest, CheckReportsFaults) {
  std::vector<Item> items;
  for (int i = 0; i < 7; ++i) items.push_back({i, i});
  LeftistHeap heap;
  for (Item& it : items) LeftistHeap::Insert(heap, &it, CompareItems);

  test::StdoutCapture out;
  LeftistHeap::Check(heap.root, CompareItems);
  std::swap(heap.root->item, heap.root->left->item);  // order broken once
  LeftistHeap::Check(heap.root, CompareItems);
  std::swap(heap.root->item, heap.root->left->item);
  heap.root->leftWeight += 1;  // wrong size
  LeftistHeap::Check(heap.root, CompareItems);
  heap.root->leftWeight -= 1;
  LeftistHeapNode* leaf = heap.root;
  while (leaf->left) leaf = leaf->left;
  leaf->rightWeight = 2;  // weight of a missing child; the parent's
                          // stored size of the leaf is now wrong too
  LeftistHeap::Check(heap.root, CompareItems);
  leaf->rightWeight = 0;
  EXPECT_EQ(out.Stop(),
            "Error in priority order\nError in size\n"
            "Error in size\nError in size=0\n");
  LeftistHeap::Clear(heap);
}

TEST_F(LeftistHeapTest, ClearFreesPostOrderAndHandlesDeepSpines) {
  Item one{1, 0}, two{2, 1}, three{3, 2};
  LeftistHeap heap;
  for (Item* it : {&one, &two, &three}) LeftistHeap::Insert(heap, it, CompareItems);
  LeftistHeapNode* n1 = heap.root;
  LeftistHeapNode* n2 = n1->left;
  LeftistHeapNode* n3 = n1->right;
  ASSERT_EQ(n2->item, &two);
  ASSERT_EQ(n3->item, &three);
  LeftistHeap::Clear(heap);
  EXPECT_EQ(heap.root, nullptr);
  EXPECT_EQ(n1->item, nullptr);
  // Freed left subtree, right subtree, then the node: the free list hands
  // them back in the reverse order.
  EXPECT_EQ(LeftistHeap::NewNode(), n1);
  EXPECT_EQ(LeftistHeap::NewNode(), n3);
  EXPECT_EQ(LeftistHeap::NewNode(), n2);

  // Decreasing keys make one left spine as long as the heap.
  const int n = 300000;
  std::vector<Item> items(n);
  for (int i = 0; i < n; ++i) {
    items[i] = {n - i, i};
    LeftistHeap::Insert(heap, &items[i], CompareItems);
  }
  int depth = 0;
  for (LeftistHeapNode* p = heap.root; p; p = p->left) ++depth;
  EXPECT_EQ(depth, n);
  LeftistHeap::Clear(heap);
  EXPECT_EQ(heap.root, nullptr);
  // Every node is back on the free list: refilling takes no new block.
  const int32_t held = ReportLeftistMemory(true);
  for (int i = 0; i < n; ++i) LeftistHeap::Insert(heap, &items[i], CompareItems);
  EXPECT_EQ(ReportLeftistMemory(true), held);
  LeftistHeap::Clear(heap);

  EXPECT_GT(held, 0);
  LeftistHeap::Clear(LeftistFreeList());
  EXPECT_EQ(LeftistFreeList().root, nullptr);
  EXPECT_EQ(ReportLeftistMemory(true), 0);
}

TEST_F(LeftistHeapTest, ReportLine) {
  Item it{1, 0};
  LeftistHeap heap;
  LeftistHeap::Insert(heap, &it, CompareItems);
  const int kb = int(int64_t(LeftistHeap::kNodesPerBlock) * sizeof(LeftistHeapNode) / 1024);
  test::StdoutCapture out;
  EXPECT_EQ(ReportLeftistMemory(false), kb);
  EXPECT_EQ(out.Stop(), std::to_string(kb) + " kbytes allocated for Weight Biased Leftist\n");
  LeftistHeap::Clear(heap);
}

}  // namespace
}  // namespace velmar
