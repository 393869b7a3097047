// Node pools and free lists of DList and D2List.

#include "foundation/dlist.h"

#include "foundation/node_pool.h"

namespace velmar {

namespace {

constinit ElementPool<&DList::head, &DListNode::next, &DList::tail> DListPool(
    "DList", DList::kNodesPerBlock);
constinit ElementPool<&D2List::head, &D2ListNode::next, &D2List::tail>
    D2ListPool("D2List", D2List::kNodesPerBlock);

}  // namespace

VELMAR_POOLED_LIST(DList, DListPool, DListFreeList, ResetDListPool,
                   ReportDListMemory)

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

VELMAR_POOLED_LIST(D2List, D2ListPool, D2ListFreeList, ResetD2ListPool,
                   ReportD2ListMemory)

}  // namespace velmar
