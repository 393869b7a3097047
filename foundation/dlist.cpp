// Node pools and free lists of DList and D2List.

#include "foundation/dlist.h"

#include "foundation/pool_allocator.h"

namespace velmar {

namespace {

constinit PoolAllocator DListPool(sizeof(DListNode), DList::kNodesPerBlock);
constinit DList DListFree;
constinit PoolExitReset DListExit(&ResetDListPool);

constinit PoolAllocator D2ListPool(sizeof(D2ListNode), D2List::kNodesPerBlock);
constinit D2List D2ListFree;
constinit PoolExitReset D2ListExit(&ResetD2ListPool);

}  // namespace

DListNode* DList::NewNode() {
  DListNode* node = DListFree.head;
  if (node != nullptr) {
    DListFree.head = node->next;
    return node;
  }
  return static_cast<DListNode*>(DListPool.Allocate());
}

void DList::FreeNode(DListNode* node) {
  node->next = DListFree.head;
  DListFree.head = node;
}

void DList::Clear(DList& list) {
  if (&list == &DListFree) {
    ResetDListPool();
    return;
  }
  if (list.head != nullptr) {
    list.tail->next = DListFree.head;
    DListFree.head = list.head;
  }
  list.head = nullptr;
  list.tail = nullptr;
  list.count = 0;
}

DListNode* DList::Unlink(DList& list, DListNode* node) {
  DListNode* next = node->next;
  DListNode* prev = node->prev;
  if (prev != nullptr) {
    prev->next = next;
  } else {
    list.head = next;
  }
  if (next != nullptr) {
    next->prev = prev;
  } else {
    list.tail = prev;
  }
  FreeNode(node);
  --list.count;
  return next;
}

DList& DListFreeList() { return DListFree; }

void ResetDListPool() {
  DListFree = DList{};
  DListPool.ReleaseAll();
}

int32_t ReportDListMemory(bool quiet) {
  return ReportPoolMemory(DListPool, "DList", quiet);
}

D2ListNode* D2List::NewNode() {
  D2ListNode* node = D2ListFree.head;
  if (node != nullptr) {
    D2ListFree.head = node->next;
    return node;
  }
  return static_cast<D2ListNode*>(D2ListPool.Allocate());
}

void D2List::FreeNode(D2ListNode* node) {
  node->next = D2ListFree.head;
  D2ListFree.head = node;
}

void D2List::Clear(D2List& list) {
  if (&list == &D2ListFree) {
    ResetD2ListPool();
    return;
  }
  if (list.head != nullptr) {
    list.tail->next = D2ListFree.head;
    D2ListFree.head = list.head;
  }
  list.head = nullptr;
  list.tail = nullptr;
  list.count = 0;
}

D2List& D2ListFreeList() { return D2ListFree; }

void ResetD2ListPool() {
  D2ListFree = D2List{};
  D2ListPool.ReleaseAll();
}

int32_t ReportD2ListMemory(bool quiet) {
  return ReportPoolMemory(D2ListPool, "D2List", quiet);
}

}  // namespace velmar
