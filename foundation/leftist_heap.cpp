// Node pool, free list and clearing of the leftist heap.

#include "foundation/leftist_heap.h"

#include <cstdio>

#include "foundation/node_pool.h"

namespace velmar {

namespace {

constinit ElementPool<&LeftistHeap::root, &LeftistHeapNode::left> LeftistPool(
    "Weight Biased Leftist", LeftistHeap::kNodesPerBlock);

}  // namespace

VELMAR_POOLED_TREE(LeftistHeap, LeftistPool, &LeftistHeapNode::right,
                   LeftistFreeList, ResetLeftistPool, ReportLeftistMemory)

void LeftistHeap::CheckLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
}

}  // namespace velmar
