// Pooled height-balanced (AVL) search tree of untyped items.
//
// Items are ordered by a caller's comparator cmp(a, b) on two void* items
// (negative, zero or positive); parent links allow in-order stepping. Nodes
// come from the AVL pool (50000 per block); the free list is an AVL header
// whose root heads a chain of free nodes linked through left.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace velmar {

struct AVLNode {
  AVLNode* left;  // also the chaining of the free list
  AVLNode* right;
  AVLNode* parent;
  void* item;
  // 1 left subtree higher, 2 balanced, 3 right subtree higher (0 and 4
  // only inside rebalancing: left or right side two higher).
  int8_t balance;

  // The item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

struct AVL {
  static constexpr int32_t kNodesPerBlock = 50000;
  static constexpr int8_t kLeftHeavy2 = 0;
  static constexpr int8_t kLeftHigh = 1;
  static constexpr int8_t kBalanced = 2;
  static constexpr int8_t kRightHigh = 3;
  static constexpr int8_t kRightHeavy2 = 4;

  int32_t count = 0;         // items in the tree
  AVLNode* root = nullptr;
  bool unique = false;       // refuse an item equal to one already present

  // Adds one item; equal items (in a tree that is not unique) go to the
  // right. Null when a unique tree refuses an equal item.
  template <class Cmp>
  static AVLNode* Insert(AVL& tree, void* item, Cmp cmp);

  // Unlinks and frees one node of the tree; a node with two children is
  // replaced by its in-order predecessor.
  static void Remove(AVL& tree, AVLNode* node);

  // The node whose item compares equal to key (cmp(key, item) = 0), or null.
  template <class Cmp>
  static AVLNode* Find(const AVL& tree, void* key, Cmp cmp);

  static AVLNode* First(const AVL& tree);
  static AVLNode* Next(const AVLNode* node);
  static AVLNode* Prev(const AVLNode* node);

  // Every node to the free list (post-order, item pointers cleared); count
  // 0, root null. Given the free list itself (AVLFreeList()), resets the
  // pool: ResetAVLPool.
  static void Clear(AVL& tree);

  // Self-check of the subtree at node, with its height (leaf 1, none 0) in
  // height: prints "AVL Error: Data not in order" for a child out of order
  // and "AVL Error: Height difference is %d" (left minus right) for a node
  // out of balance, each on a line of standard output.
  template <class Cmp>
  static void Check(const AVL& tree, const AVLNode* node, int& height,
                    Cmp cmp);

  static AVLNode* NewNode();
  static void FreeNode(AVLNode* node);
  static void FreeSubtree(AVLNode* node);

  // Walks up from node after an insertion (grew) or a removal (shrank)
  // changed the height of one of its subtrees and its balance was updated.
  static void Rebalance(AVL& tree, AVLNode* node, bool grew);

 private:
  static void CheckLine(const char* text);
};

// The AVL node free list (root = most recently freed node).
AVL& AVLFreeList();
void ResetAVLPool();
// "%d kbytes allocated for AVL\n" (see ReportPoolMemory).
int32_t ReportAVLMemory(bool quiet = false);

// ---------------------------------------------------------------------------

template <class Cmp>
AVLNode* AVL::Insert(AVL& tree, void* item, Cmp cmp) {
  AVLNode* parent = nullptr;
  bool left = false;
  for (AVLNode* n = tree.root; n != nullptr;) {
    const int c = cmp(item, n->item);
    if (c == 0 && tree.unique) return nullptr;
    parent = n;
    left = c < 0;
    n = left ? n->left : n->right;
  }
  AVLNode* node = NewNode();
  node->left = nullptr;
  node->right = nullptr;
  node->parent = parent;
  node->item = item;
  node->balance = kBalanced;
  ++tree.count;
  if (parent == nullptr) {
    tree.root = node;
    return node;
  }
  if (left) {
    parent->left = node;
    --parent->balance;
  } else {
    parent->right = node;
    ++parent->balance;
  }
  if (parent->balance != kBalanced) Rebalance(tree, parent, true);
  return node;
}

template <class Cmp>
AVLNode* AVL::Find(const AVL& tree, void* key, Cmp cmp) {
  AVLNode* n = tree.root;
  while (n != nullptr) {
    const int c = cmp(key, n->item);
    if (c == 0) return n;
    n = c < 0 ? n->left : n->right;
  }
  return nullptr;
}

template <class Cmp>
void AVL::Check(const AVL& tree, const AVLNode* node, int& height, Cmp cmp) {
  if (node == nullptr) {
    height = 0;
    return;
  }
  if (node->left != nullptr && cmp(node->left->item, node->item) > 0)
    CheckLine("AVL Error: Data not in order");
  if (node->right != nullptr && cmp(node->right->item, node->item) < 0)
    CheckLine("AVL Error: Data not in order");
  int hl = 0;
  int hr = 0;
  Check(tree, node->left, hl, cmp);
  Check(tree, node->right, hr, cmp);
  if (std::abs(hl - hr) > 1) {
    char line[64];
    std::snprintf(line, sizeof line, "AVL Error: Height difference is %d",
                  hl - hr);
    CheckLine(line);
  }
  height = 1 + (hl > hr ? hl : hr);
}

}  // namespace velmar
