// Node pool and free list of SList.

#include "foundation/slist.h"

#include "foundation/pool_allocator.h"

namespace velmar {

namespace {

constinit PoolAllocator SListPool(sizeof(SListNode), SList::kNodesPerBlock);
constinit SList SListFree;
// Destroyed before the pool: resets the module at process exit.
constinit PoolExitReset SListExit(&ResetSListPool);

}  // namespace

SListNode* SList::NewNode() {
  SListNode* node = SListFree.head;
  if (node != nullptr) {
    SListFree.head = node->next;
    return node;
  }
  return static_cast<SListNode*>(SListPool.Allocate());
}

void SList::FreeNode(SListNode* node) {
  node->next = SListFree.head;
  SListFree.head = node;
}

void SList::Clear(SList& list) {
  if (&list == &SListFree) {
    ResetSListPool();
    return;
  }
  if (list.head != nullptr) {
    list.tail->next = SListFree.head;
    SListFree.head = list.head;
  }
  list.head = nullptr;
  list.tail = nullptr;
  list.count = 0;
}

SList& SListFreeList() { return SListFree; }

void ResetSListPool() {
  SListFree = SList{};
  SListPool.ReleaseAll();
}

int32_t ReportSListMemory(bool quiet) {
  return ReportPoolMemory(SListPool, "SList", quiet);
}

}  // namespace velmar
