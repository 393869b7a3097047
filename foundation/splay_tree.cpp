// Node pool, free list and the comparator-free operations of the splay
// tree.

#include "foundation/splay_tree.h"

#include "foundation/node_pool.h"

namespace velmar {

namespace {

constinit ElementPool<&Splay::root, &SplayNode::left> SplayPool(
    "Splay", Splay::kNodesPerBlock);

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

VELMAR_POOLED_TREE(Splay, SplayPool, &SplayNode::right, SplayFreeList,
                   ResetSplayPool, ReportSplayMemory)

void Splay::CheckLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace velmar
