// Pooled self-adjusting (splay) search tree of untyped items, splayed top
// down.
//
// Items are ordered by a caller's comparator cmp(a, b) on two void* items
// (negative, zero or positive); a key is compared as cmp(key, node item).
// Nodes have no parent link. They come from the Splay pool (50000 per
// block); the free list is a Splay header whose root heads a chain of free
// nodes linked through left. A splay tree can degenerate into a long spine,
// so nothing here recurses over the tree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace velmar {

struct SplayNode {
  SplayNode* left;  // also the chaining of the free list
  SplayNode* right;
  void* item;

  // The item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

struct Splay {
  static constexpr int32_t kNodesPerBlock = 50000;

  int32_t count = 0;  // items in the tree
  SplayNode* root = nullptr;
  bool unique = false;  // refuse an item equal to one already present

  // Top-down splay of the tree for key: the node nearest the key becomes
  // the root. Returns the last comparison of the key with the new root's
  // item (0 for an empty tree, which stays empty).
  template <class Cmp>
  static int SplayKey(Splay& tree, void* key, Cmp cmp);

  // The same on a detached subtree (not null); returns its new root.
  template <class Cmp>
  static SplayNode* SplaySubtree(void* key, SplayNode* subtree, Cmp cmp) {
    int last = 0;
    return SplayTop(key, subtree, cmp, &last);
  }

  // Adds one item as the new root; null when a unique tree refuses an
  // equal item.
  template <class Cmp>
  static SplayNode* Insert(Splay& tree, void* item, Cmp cmp);

  // Removes and frees the root node (nothing for an empty tree).
  static void RemoveRoot(Splay& tree);

  // Brings the smallest / largest node of a subtree (not null) to its top
  // by rotations along the left / right spine; returns it.
  static SplayNode* SplayMin(SplayNode* subtree);
  static SplayNode* SplayMax(SplayNode* subtree);

  // The root's in-order successor / predecessor becomes the root and is
  // returned; null (and nothing changes) when the root has no right / left
  // subtree.
  static SplayNode* RootToNext(Splay& tree);
  static SplayNode* RootToPrev(Splay& tree);

  // SplayMin that after each rotation calls fn(top item, left child item)
  // and, when that result is not negative, fn(top item, right child item);
  // a missing child is not visited.
  template <class Fn>
  static SplayNode* SplayMinVisit(SplayNode* subtree, Fn fn);

  // Height of the subtree at node (leaf 1, none 0).
  static void Height(const SplayNode* node, int& height);

  // Every node to the free list (post-order, item pointers cleared); count
  // 0, root null. Given the free list itself (SplayFreeList()), resets the
  // pool: ResetSplayPool.
  static void Clear(Splay& tree);

  // Self-check of the subtree at node: prints "Splay Error: Data not in
  // order" on a line of standard output for each child out of order.
  template <class Cmp>
  static void Check(const SplayNode* node, Cmp cmp);

  static SplayNode* NewNode();
  static void FreeNode(SplayNode* node);
  static void FreeSubtree(SplayNode* node);

 private:
  template <class Cmp>
  static SplayNode* SplayTop(void* key, SplayNode* t, Cmp cmp, int* last);
  static void CheckLine(const char* text);
};

// The Splay node free list (root = most recently freed node).
Splay& SplayFreeList();
void ResetSplayPool();
// "%d kbytes allocated for Splay\n" (see ReportPoolMemory).
int32_t ReportSplayMemory(bool quiet = false);

// ---------------------------------------------------------------------------

template <class Cmp>
SplayNode* Splay::SplayTop(void* key, SplayNode* t, Cmp cmp, int* last) {
  // Nodes passed on the way down hang into a left tree (smaller than the
  // key, linked through right) and a right tree (larger, linked through
  // left), both below the header node.
  SplayNode header{nullptr, nullptr, nullptr};
  SplayNode* l = &header;
  SplayNode* r = &header;
  int c = cmp(key, t->item);
  for (;;) {
    if (c < 0) {
      if (t->left == nullptr) break;
      int c2 = cmp(key, t->left->item);
      if (c2 < 0) {  // zig-zig: rotate right first
        SplayNode* y = t->left;
        t->left = y->right;
        y->right = t;
        t = y;
        if (t->left == nullptr) {
          c = c2;
          break;
        }
        c2 = cmp(key, t->left->item);
      }
      r->left = t;
      r = t;
      t = t->left;
      c = c2;
    } else if (c > 0) {
      if (t->right == nullptr) break;
      int c2 = cmp(key, t->right->item);
      if (c2 > 0) {  // zag-zag: rotate left first
        SplayNode* y = t->right;
        t->right = y->left;
        y->left = t;
        t = y;
        if (t->right == nullptr) {
          c = c2;
          break;
        }
        c2 = cmp(key, t->right->item);
      }
      l->right = t;
      l = t;
      t = t->right;
      c = c2;
    } else {
      break;
    }
  }
  l->right = t->left;
  r->left = t->right;
  t->left = header.right;
  t->right = header.left;
  *last = c;
  return t;
}

template <class Cmp>
int Splay::SplayKey(Splay& tree, void* key, Cmp cmp) {
  if (tree.root == nullptr) return 0;
  int last = 0;
  tree.root = SplayTop(key, tree.root, cmp, &last);
  return last;
}

template <class Cmp>
SplayNode* Splay::Insert(Splay& tree, void* item, Cmp cmp) {
  if (tree.root == nullptr) {
    SplayNode* node = NewNode();
    node->left = nullptr;
    node->right = nullptr;
    node->item = item;
    tree.root = node;
    ++tree.count;
    return node;
  }
  const int c = SplayKey(tree, item, cmp);
  if (c == 0 && tree.unique) return nullptr;
  SplayNode* node = NewNode();
  node->item = item;
  SplayNode* old = tree.root;
  if (c < 0) {
    node->right = old;
    node->left = old->left;
    old->left = nullptr;
  } else {
    node->left = old;
    node->right = old->right;
    old->right = nullptr;
  }
  tree.root = node;
  ++tree.count;
  return node;
}

template <class Fn>
SplayNode* Splay::SplayMinVisit(SplayNode* t, Fn fn) {
  while (t->left != nullptr) {
    SplayNode* y = t->left;
    t->left = y->right;
    y->right = t;
    t = y;
    int result = 0;
    if (t->left != nullptr) result = fn(t->item, t->left->item);
    if (result >= 0) fn(t->item, t->right->item);
  }
  return t;
}

template <class Cmp>
void Splay::Check(const SplayNode* node, Cmp cmp) {
  std::vector<const SplayNode*> stack;
  if (node != nullptr) stack.push_back(node);
  while (!stack.empty()) {
    const SplayNode* n = stack.back();
    stack.pop_back();
    if (n->left != nullptr && cmp(n->left->item, n->item) > 0)
      CheckLine("Splay Error: Data not in order");
    if (n->right != nullptr && cmp(n->right->item, n->item) < 0)
      CheckLine("Splay Error: Data not in order");
    if (n->right != nullptr) stack.push_back(n->right);
    if (n->left != nullptr) stack.push_back(n->left);
  }
}

}  // namespace velmar
