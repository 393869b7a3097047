// Pooled intrusive singly linked list.
//
// Nodes come from the SList pool (100000 per block) and carry an untyped
// item pointer owned by the list's user. The header is three plain words
// {head, tail, count}, built inline by its owner; copying a header copies
// those three words only. Clearing returns the whole chain to the node free
// list in one splice and never touches the items.
#pragma once

#include <cstdint>

#include "foundation/merge_sort.h"

namespace velmar {

struct SListNode {
  SListNode* next;  // null at the tail; also the chaining of the free list
  void* item;

  // The item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

struct SList {
  SListNode* head = nullptr;  // null when empty
  SListNode* tail = nullptr;  // last node
  int32_t count = 0;          // nodes reachable from head

  static constexpr int32_t kNodesPerBlock = 100000;

  // The free-list head, or a new pool element; the caller sets next and item.
  // Exhausted memory ends the process (OutOfMemory).
  static SListNode* NewNode();
  // Pushes one node on the free list (its item is not touched).
  static void FreeNode(SListNode* node);
  // Splices the list's chain onto the free list (when not empty) and zeroes
  // the header; the items are not freed. Given the free list itself
  // (SListFreeList()), resets the pool: ResetSListPool.
  static void Clear(SList& list);

  // Stable bottom-up merge sort; cmp(a, b) takes two SListNode* and returns
  // a negative, zero or positive int. head and tail are updated, count is
  // unchanged.
  template <class Cmp>
  static void Sort(SList& list, Cmp cmp) {
    MergeSortChain(list.head, list.tail,
                   [](SListNode* n) -> SListNode*& { return n->next; }, cmp);
  }

  // True when cmp(p, p->next) > 0 for no node p of the chain from first.
  template <class Cmp>
  static bool IsSorted(SListNode* first, Cmp cmp) {
    return IsChainSorted(first,
                         [](SListNode* n) -> SListNode*& { return n->next; },
                         cmp);
  }
};

// The SList node free list (head = most recently freed node; tail and count
// are not maintained). SList::Clear of it resets the pool.
SList& SListFreeList();

// Empties the free list and releases every block of the SList pool; every
// SList node of the process becomes invalid.
void ResetSListPool();

// Kilobytes held by the SList pool; unless quiet, prints
// "%d kbytes allocated for SList\n" when that is at least 1.
int32_t ReportSListMemory(bool quiet = false);

}  // namespace velmar
