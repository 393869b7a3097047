// Pooled weight-biased leftist heap of untyped items.
//
// Every node knows the number of nodes of each of its subtrees and the left
// one is never the smaller; items are ordered by a caller's comparator
// (cmp(a, b) on two void* items: negative, zero or positive), the least at
// the root. Insert walks down the right spine only; PopMin merges the two
// subtrees of the root top-down along their right spines, keeping the
// weights up to date, without recursion. Nodes come from the heap's pool
// (50000 per block); the free list is chained through left.
#pragma once

#include <cstdint>
#include <vector>

namespace velmar {

struct LeftistHeapNode {
  LeftistHeapNode* left;   // also the chaining of the free list
  LeftistHeapNode* right;
  void* item;
  int32_t leftWeight;   // nodes in the left subtree (0 when missing)
  int32_t rightWeight;  // nodes in the right subtree (0 when missing)

  // The item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

struct LeftistHeap {
  LeftistHeapNode* root = nullptr;  // null when empty; no count is kept

  static constexpr int32_t kNodesPerBlock = 50000;

  bool IsEmpty() const { return root == nullptr; }

  // Adds one item; a new item goes above every equal item on its path.
  template <class Cmp>
  static void Insert(LeftistHeap& heap, void* item, Cmp cmp);

  // Removes the root; read heap.root->item before. The heap must not be
  // empty. Of two equal roots of the subtrees the left one goes on top.
  template <class Cmp>
  static void PopMin(LeftistHeap& heap, Cmp cmp);

  // Returns every node to the free list and empties the heap. Given the
  // free list itself (LeftistFreeList()), resets the pool: ResetLeftistPool.
  static void Clear(LeftistHeap& heap);

  static LeftistHeapNode* NewNode();
  static void FreeNode(LeftistHeapNode* node);
  // Frees the subtree in post-order (left subtree, right subtree, node),
  // setting each node's item to null. Iterative: any depth is safe.
  static void FreeSubtree(LeftistHeapNode* node);

  // Self-check of the subtree: writes "Error in priority order", "Error in
  // size" or "Error in size=0" on a line of standard output for each fault
  // found and goes on.
  template <class Cmp>
  static void Check(LeftistHeapNode* node, Cmp cmp);

 private:
  static void CheckLine(const char* text);
};

// The heap node free list (root = most recently freed node).
LeftistHeap& LeftistFreeList();
void ResetLeftistPool();
// "%d kbytes allocated for Weight Biased Leftist\n" (see ReportSListMemory).
int32_t ReportLeftistMemory(bool quiet = false);

// ---------------------------------------------------------------------------

template <class Cmp>
void LeftistHeap::Insert(LeftistHeap& heap, void* item, Cmp cmp) {
  LeftistHeapNode* n = NewNode();
  n->left = nullptr;
  n->right = nullptr;
  n->item = item;
  n->leftWeight = 0;
  n->rightWeight = 0;

  LeftistHeapNode* root = heap.root;
  if (root == nullptr) {
    heap.root = n;
    return;
  }
  if (cmp(item, root->item) <= 0) {
    n->left = root;
    n->leftWeight = root->leftWeight + root->rightWeight + 1;
    heap.root = n;
    return;
  }
  // Walk down the right spine; n ends up in p's right subtree, so p grows
  // by one there (swapping children first when that would make the right
  // side the larger).
  LeftistHeapNode* p = root;
  LeftistHeapNode* s = p->right;
  while (s != nullptr && cmp(s->item, item) < 0) {
    if (p->leftWeight == p->rightWeight) {
      p->right = p->left;
      p->left = s;
      p->leftWeight += 1;
    } else {
      p->rightWeight += 1;
    }
    p = s;
    s = p->right;
  }
  // n goes between p and s.
  n->left = s;
  n->leftWeight = p->rightWeight;
  if (p->leftWeight == p->rightWeight) {
    p->right = p->left;
    p->left = n;
    p->leftWeight = p->rightWeight + 1;
  } else {
    p->right = n;
    p->rightWeight += 1;
  }
}

template <class Cmp>
void LeftistHeap::PopMin(LeftistHeap& heap, Cmp cmp) {
  LeftistHeapNode* r = heap.root;
  LeftistHeapNode* l = r->left;
  LeftistHeapNode* rr = r->right;
  const int32_t lw = r->leftWeight;
  const int32_t rw = r->rightWeight;
  FreeNode(r);
  heap.root = l;
  if (rr == nullptr) return;

  LeftistHeapNode* x;  // current node of the merge path
  LeftistHeapNode* o;  // the other tree
  int32_t w;           // its weight
  if (cmp(l->item, rr->item) <= 0) {
    x = l;
    o = rr;
    w = rw;
  } else {
    heap.root = rr;
    x = rr;
    o = l;
    w = lw;
  }
  for (;;) {
    LeftistHeapNode* s = x->right;
    if (s == nullptr) {
      if (x->leftWeight < w) {
        x->rightWeight = x->leftWeight;
        x->leftWeight = w;
        x->right = x->left;
        x->left = o;
      } else {
        x->rightWeight = w;
        x->right = o;
      }
      return;
    }
    const int32_t sw = x->rightWeight;  // size of s's subtree
    const int32_t nw = sw + w;
    LeftistHeapNode** slot;
    if (x->leftWeight < nw) {
      x->rightWeight = x->leftWeight;
      x->leftWeight = nw;
      x->right = x->left;
      slot = &x->left;
    } else {
      x->rightWeight = nw;
      slot = &x->right;
    }
    if (cmp(s->item, o->item) <= 0) {
      *slot = s;
      x = s;
    } else {
      *slot = o;
      x = o;
      o = s;
      w = sw;
    }
  }
}

template <class Cmp>
void LeftistHeap::Check(LeftistHeapNode* node, Cmp cmp) {
  // Explicit stack: a heap built from decreasing items is one long left
  // spine, too deep for recursion.
  std::vector<LeftistHeapNode*> stack;
  auto push = [&](LeftistHeapNode* n) { stack.push_back(n); };
  if (node != nullptr) push(node);
  while (!stack.empty()) {
    LeftistHeapNode* n = stack.back();
    stack.pop_back();
    LeftistHeapNode* l = n->left;
    LeftistHeapNode* r = n->right;
    if (l != nullptr && cmp(n->item, l->item) > 0) {
      CheckLine("Error in priority order");
    } else if (r != nullptr && cmp(n->item, r->item) > 0) {
      CheckLine("Error in priority order");
    }
    if (l != nullptr) {
      if (n->leftWeight != 1 + l->leftWeight + l->rightWeight)
        CheckLine("Error in size");
    } else if (n->leftWeight != 0) {
      CheckLine("Error in size=0");
    }
    if (r != nullptr) {
      if (n->rightWeight != 1 + r->leftWeight + r->rightWeight)
        CheckLine("Error in size");
    } else if (n->rightWeight != 0) {
      CheckLine("Error in size=0");
    }
    if (r != nullptr) push(r);
    if (l != nullptr) push(l);
  }
}

}  // namespace velmar
