// Node pool, free list and clearing of the leftist heap.

#include "foundation/leftist_heap.h"

#include <cstdio>

#include "foundation/pool_allocator.h"

namespace velmar {

namespace {

constinit PoolAllocator LeftistPool(sizeof(LeftistHeapNode),
                                    LeftistHeap::kNodesPerBlock);
constinit LeftistHeap LeftistFree;
constinit PoolExitReset LeftistExit(&ResetLeftistPool);

}  // namespace

LeftistHeapNode* LeftistHeap::NewNode() {
  LeftistHeapNode* node = LeftistFree.root;
  if (node != nullptr) {
    LeftistFree.root = node->left;
    return node;
  }
  return static_cast<LeftistHeapNode*>(LeftistPool.Allocate());
}

void LeftistHeap::FreeNode(LeftistHeapNode* node) {
  node->left = LeftistFree.root;
  LeftistFree.root = node;
}

void LeftistHeap::FreeSubtree(LeftistHeapNode* node) {
  if (node == nullptr) return;
  // Post-order without recursion or allocation: the nodes are being freed,
  // so each visited child keeps its parent in its item field and its
  // parent's link to it is cut on the way down.
  node->item = nullptr;
  LeftistHeapNode* cur = node;
  while (cur != nullptr) {
    if (LeftistHeapNode* child = cur->left) {
      cur->left = nullptr;
      child->item = cur;
      cur = child;
    } else if (LeftistHeapNode* child = cur->right) {
      cur->right = nullptr;
      child->item = cur;
      cur = child;
    } else {
      LeftistHeapNode* parent = static_cast<LeftistHeapNode*>(cur->item);
      cur->item = nullptr;
      FreeNode(cur);
      cur = parent;
    }
  }
}

void LeftistHeap::Clear(LeftistHeap& heap) {
  if (&heap == &LeftistFree) {
    ResetLeftistPool();
    return;
  }
  FreeSubtree(heap.root);
  heap.root = nullptr;
}

void LeftistHeap::CheckLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
}

LeftistHeap& LeftistFreeList() { return LeftistFree; }

void ResetLeftistPool() {
  LeftistFree.root = nullptr;
  LeftistPool.ReleaseAll();
}

int32_t ReportLeftistMemory(bool quiet) {
  return ReportPoolMemory(LeftistPool, "Weight Biased Leftist", quiet);
}

}  // namespace velmar
