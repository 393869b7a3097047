// Pooled intrusive doubly linked list, and the D2List node pool.
//
// DList nodes come from the DList pool (100000 per block) and carry an
// untyped item pointer owned by the list's user. head->prev and tail->next
// are null. The header {head, tail, count} is built inline by its owner.
// Clearing returns the chain to the free list (chained through next) in one
// splice and never touches the items.
#pragma once

#include <cstdint>

#include "foundation/merge_sort.h"

namespace velmar {

struct DListNode {
  DListNode* next;  // null at the tail; also the chaining of the free list
  void* item;
  DListNode* prev;  // null at the head

  // The item as the type the owner stored.
  template <class T>
  T* Item() const { return static_cast<T*>(item); }
};

struct DList {
  DListNode* head = nullptr;
  DListNode* tail = nullptr;
  int32_t count = 0;

  static constexpr int32_t kNodesPerBlock = 100000;

  // The free-list head, or a new pool element; the caller sets every field.
  static DListNode* NewNode();
  // Pushes one node on the free list (item and prev are not touched).
  static void FreeNode(DListNode* node);
  // Splices the chain onto the free list and zeroes the header. Given the
  // free list itself (DListFreeList()), resets the pool: ResetDListPool.
  static void Clear(DList& list);

  // Takes node off the list (its neighbours are linked, head or tail move
  // when it was first or last), frees it and drops the count by one.
  // Returns the node that followed it (null when it was the tail).
  static DListNode* Unlink(DList& list, DListNode* node);

  // Stable bottom-up merge sort (as SList::Sort); cmp takes two DListNode*.
  // Every prev link is rebuilt; head->prev and tail->next are null.
  template <class Cmp>
  static void Sort(DList& list, Cmp cmp) {
    if (list.head == nullptr) return;
    MergeSortChain(list.head, list.tail,
                   [](DListNode* n) -> DListNode*& { return n->next; }, cmp);
    DListNode* prev = nullptr;
    for (DListNode* n = list.head; n != nullptr; n = n->next) {
      n->prev = prev;
      prev = n;
    }
  }
};

// The DList node free list (only its head is maintained).
DList& DListFreeList();
void ResetDListPool();
// "%d kbytes allocated for DList\n" (see ReportSListMemory).
int32_t ReportDListMemory(bool quiet = false);

// A list type of which only the node pool exists (50000 per block): nodes of
// a next link and three 32-bit words.
struct D2ListNode {
  D2ListNode* next;  // also the chaining of the free list
  int32_t words[3];
};

struct D2List {
  D2ListNode* head = nullptr;
  D2ListNode* tail = nullptr;
  int32_t count = 0;

  static constexpr int32_t kNodesPerBlock = 50000;

  static D2ListNode* NewNode();
  static void FreeNode(D2ListNode* node);
  // Splices the chain onto the free list and zeroes the header; given the
  // free list itself, ResetD2ListPool.
  static void Clear(D2List& list);
};

D2List& D2ListFreeList();
void ResetD2ListPool();
// "%d kbytes allocated for D2List\n" (see ReportSListMemory).
int32_t ReportD2ListMemory(bool quiet = false);

}  // namespace velmar
