// Node pool, free list, rebalancing, removal and stepping of the AVL tree.

#include "foundation/avl_tree.h"

#include <cstdio>

#include "foundation/node_pool.h"

namespace velmar {

namespace {

constinit ElementPool<&AVL::root, &AVLNode::left> AVLPool("AVL",
                                                         AVL::kNodesPerBlock);

// Puts replacement where child hung below parent (or at the root).
void Replace(AVL& tree, AVLNode* parent, AVLNode* child,
             AVLNode* replacement) {
  if (parent == nullptr) tree.root = replacement;
  else if (parent->left == child) parent->left = replacement;
  else parent->right = replacement;
  if (replacement != nullptr) replacement->parent = parent;
}

// Rotations return the new top of the subtree; the caller sets balances.
AVLNode* RotateRight(AVL& tree, AVLNode* x) {
  AVLNode* y = x->left;
  Replace(tree, x->parent, x, y);
  x->left = y->right;
  if (x->left) x->left->parent = x;
  y->right = x;
  x->parent = y;
  return y;
}

AVLNode* RotateLeft(AVL& tree, AVLNode* x) {
  AVLNode* y = x->right;
  Replace(tree, x->parent, x, y);
  x->right = y->left;
  if (x->right) x->right->parent = x;
  y->left = x;
  x->parent = y;
  return y;
}

// Restores a node whose left side is two higher (balance 0). Returns the
// new top of the subtree; *heightKept tells whether the subtree kept the
// height it had before the change that unbalanced it (only possible after
// a removal, over a balanced left child).
AVLNode* FixLeftHeavy(AVL& tree, AVLNode* x, bool* heightKept) {
  AVLNode* y = x->left;
  *heightKept = false;
  if (y->balance == AVL::kRightHigh) {
    AVLNode* z = y->right;
    RotateLeft(tree, y);
    RotateRight(tree, x);
    x->balance = z->balance == AVL::kLeftHigh ? AVL::kRightHigh
                                              : AVL::kBalanced;
    y->balance = z->balance == AVL::kRightHigh ? AVL::kLeftHigh
                                               : AVL::kBalanced;
    z->balance = AVL::kBalanced;
    return z;
  }
  RotateRight(tree, x);
  if (y->balance == AVL::kBalanced) {
    x->balance = AVL::kLeftHigh;
    y->balance = AVL::kRightHigh;
    *heightKept = true;
  } else {
    x->balance = AVL::kBalanced;
    y->balance = AVL::kBalanced;
  }
  return y;
}

AVLNode* FixRightHeavy(AVL& tree, AVLNode* x, bool* heightKept) {
  AVLNode* y = x->right;
  *heightKept = false;
  if (y->balance == AVL::kLeftHigh) {
    AVLNode* z = y->left;
    RotateRight(tree, y);
    RotateLeft(tree, x);
    x->balance = z->balance == AVL::kRightHigh ? AVL::kLeftHigh
                                               : AVL::kBalanced;
    y->balance = z->balance == AVL::kLeftHigh ? AVL::kRightHigh
                                              : AVL::kBalanced;
    z->balance = AVL::kBalanced;
    return z;
  }
  RotateLeft(tree, x);
  if (y->balance == AVL::kBalanced) {
    x->balance = AVL::kRightHigh;
    y->balance = AVL::kLeftHigh;
    *heightKept = true;
  } else {
    x->balance = AVL::kBalanced;
    y->balance = AVL::kBalanced;
  }
  return y;
}

}  // namespace

void AVL::Rebalance(AVL& tree, AVLNode* node, bool grew) {
  for (;;) {
    switch (node->balance) {
      case kLeftHeavy2:
      case kRightHeavy2: {
        bool kept = false;
        node = node->balance == kLeftHeavy2 ? FixLeftHeavy(tree, node, &kept)
                                            : FixRightHeavy(tree, node, &kept);
        // After an insertion the rotation restores the subtree's height
        // before the insertion; after a removal the subtree became lower
        // unless the rotation kept its height.
        if (grew || kept) return;
        break;
      }
      case kBalanced:
        if (grew) return;  // the new node filled the lower side
        break;             // the higher side lost a level
      default:             // one side higher by one
        if (!grew) return;  // the lower side lost a level: height kept
        break;
    }
    AVLNode* p = node->parent;
    if (p == nullptr) return;
    const bool fromLeft = p->left == node;
    if (fromLeft == grew) --p->balance;
    else ++p->balance;
    node = p;
  }
}

void AVL::Remove(AVL& tree, AVLNode* node) {
  AVLNode* start;      // node below which a subtree became lower
  bool shrankLeft;     // on which side
  if (node->left != nullptr && node->right != nullptr) {
    AVLNode* pred = node->left;
    while (pred->right != nullptr) pred = pred->right;
    if (pred->parent == node) {
      // pred is node's left child: it keeps its left subtree, takes the
      // right one, and its left side is one lower than node's was.
      start = pred;
      shrankLeft = true;
    } else {
      AVLNode* pp = pred->parent;
      pp->right = pred->left;
      if (pred->left) pred->left->parent = pp;
      pred->left = node->left;
      pred->left->parent = pred;
      start = pp;
      shrankLeft = false;
    }
    pred->right = node->right;
    pred->right->parent = pred;
    pred->balance = node->balance;
    Replace(tree, node->parent, node, pred);
  } else {
    AVLNode* child = node->left != nullptr ? node->left : node->right;
    start = node->parent;
    shrankLeft = start != nullptr && start->left == node;
    Replace(tree, node->parent, node, child);
  }
  --tree.count;
  node->item = nullptr;
  FreeNode(node);

  if (start == nullptr) return;
  if (shrankLeft) ++start->balance;
  else --start->balance;
  // Balanced: the subtree lost a level; two higher: it must be rotated;
  // one side higher: its height is unchanged.
  if (start->balance == kBalanced || start->balance == kLeftHeavy2 ||
      start->balance == kRightHeavy2)
    Rebalance(tree, start, false);
}

AVLNode* AVL::First(const AVL& tree) {
  AVLNode* n = tree.root;
  if (n == nullptr) return nullptr;
  while (n->left != nullptr) n = n->left;
  return n;
}

AVLNode* AVL::Next(const AVLNode* node) {
  if (node->right != nullptr) {
    AVLNode* n = node->right;
    while (n->left != nullptr) n = n->left;
    return n;
  }
  AVLNode* p = node->parent;
  while (p != nullptr && p->right == node) {
    node = p;
    p = p->parent;
  }
  return p;
}

AVLNode* AVL::Prev(const AVLNode* node) {
  if (node->left != nullptr) {
    AVLNode* n = node->left;
    while (n->right != nullptr) n = n->right;
    return n;
  }
  AVLNode* p = node->parent;
  while (p != nullptr && p->left == node) {
    node = p;
    p = p->parent;
  }
  return p;
}

VELMAR_POOLED_TREE(AVL, AVLPool, &AVLNode::right, AVLFreeList, ResetAVLPool,
                   ReportAVLMemory)

void AVL::CheckLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace velmar
