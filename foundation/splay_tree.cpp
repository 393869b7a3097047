// Node pool, free list and the comparator-free operations of the splay
// tree.

#include "foundation/splay_tree.h"

#include "foundation/pool_allocator.h"

namespace velmar {

namespace {

constinit PoolAllocator SplayPool(sizeof(SplayNode), Splay::kNodesPerBlock);
constinit Splay SplayFree;
constinit PoolExitReset SplayExit(&ResetSplayPool);

}  // namespace

void Splay::RemoveRoot(Splay& tree) {
  SplayNode* old = tree.root;
  if (old == nullptr) return;
  if (old->left == nullptr) {
    tree.root = old->right;
  } else if (old->right != nullptr) {
    SplayNode* top = SplayMax(old->left);
    top->right = old->right;
    tree.root = top;
  } else {
    tree.root = old->left;
  }
  --tree.count;
  old->item = nullptr;
  FreeNode(old);
}

SplayNode* Splay::SplayMin(SplayNode* t) {
  while (t->left != nullptr) {
    SplayNode* y = t->left;
    t->left = y->right;
    y->right = t;
    t = y;
  }
  return t;
}

SplayNode* Splay::SplayMax(SplayNode* t) {
  while (t->right != nullptr) {
    SplayNode* y = t->right;
    t->right = y->left;
    y->left = t;
    t = y;
  }
  return t;
}

SplayNode* Splay::RootToNext(Splay& tree) {
  SplayNode* old = tree.root;
  if (old == nullptr || old->right == nullptr) return nullptr;
  SplayNode* next = SplayMin(old->right);
  old->right = next->left;  // empty: next is the smallest of that subtree
  next->left = old;
  tree.root = next;
  return next;
}

SplayNode* Splay::RootToPrev(Splay& tree) {
  SplayNode* old = tree.root;
  if (old == nullptr || old->left == nullptr) return nullptr;
  SplayNode* prev = SplayMax(old->left);
  old->left = prev->right;
  prev->right = old;
  tree.root = prev;
  return prev;
}

void Splay::Height(const SplayNode* node, int& height) {
  // Level by level: a degenerate tree is as deep as it is large.
  height = 0;
  std::vector<const SplayNode*> level;
  std::vector<const SplayNode*> next;
  if (node != nullptr) level.push_back(node);
  while (!level.empty()) {
    ++height;
    next.clear();
    for (const SplayNode* n : level) {
      if (n->left != nullptr) next.push_back(n->left);
      if (n->right != nullptr) next.push_back(n->right);
    }
    level.swap(next);
  }
}

SplayNode* Splay::NewNode() {
  SplayNode* node = SplayFree.root;
  if (node != nullptr) {
    SplayFree.root = node->left;
    return node;
  }
  return static_cast<SplayNode*>(SplayPool.Allocate());
}

void Splay::FreeNode(SplayNode* node) {
  node->left = SplayFree.root;
  SplayFree.root = node;
}

void Splay::FreeSubtree(SplayNode* node) {
  if (node == nullptr) return;
  // Post-order with an explicit stack; each child is cut off its parent on
  // the way down, so a node is freed once both its subtrees are gone.
  std::vector<SplayNode*> stack;
  stack.push_back(node);
  while (!stack.empty()) {
    SplayNode* n = stack.back();
    if (SplayNode* child = n->left) {
      n->left = nullptr;
      stack.push_back(child);
    } else if (SplayNode* child = n->right) {
      n->right = nullptr;
      stack.push_back(child);
    } else {
      stack.pop_back();
      n->item = nullptr;
      FreeNode(n);
    }
  }
}

void Splay::Clear(Splay& tree) {
  if (&tree == &SplayFree) {
    ResetSplayPool();
    return;
  }
  FreeSubtree(tree.root);
  tree.root = nullptr;
  tree.count = 0;
}

void Splay::CheckLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

Splay& SplayFreeList() { return SplayFree; }

void ResetSplayPool() {
  SplayFree.root = nullptr;
  SplayPool.ReleaseAll();
}

int32_t ReportSplayMemory(bool quiet) {
  return ReportPoolMemory(SplayPool, "Splay", quiet);
}

}  // namespace velmar
