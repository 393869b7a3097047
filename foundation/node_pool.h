// The pool and free list of a pooled module.
//
// Every module that holds many small records of one kind (list, heap and
// tree nodes, vertices, shapes and placements) keeps one static
// ElementPool: a PoolAllocator of its records plus a free list, which is a
// header of the module's own list type whose head is the most recently
// freed record, chained through the record's own link field. Only the head
// of the free list is kept up to date.
//
//   constinit ElementPool<&SList::head, &SListNode::next, &SList::tail>
//       SListPool("SList", SList::kNodesPerBlock);
//
// The module's named operations are thin wrappers:
//  - NewNode: New (the free-list head, else a new pool element; nothing is
//    initialised, the caller sets every field);
//  - FreeNode: Free (push one record);
//  - Clear(list): Clear splices a whole chain onto the free list in one
//    step and zeroes the header (lists with a tail), ClearTree frees a
//    binary tree in post-order; either of them given the free list itself
//    resets the module;
//  - Reset: Reset (free list emptied, every block released);
//  - Report(quiet): Report, "%d kbytes allocated for <name>\n".
// The pool is constant-initialised, so it is usable before main, and its
// destructor resets the module at process exit.
//
// A module whose freed records are compacted instead of kept on a free list
// (the 2-D search tree) uses TypedPool alone.
#pragma once

#include <cstdint>
#include <type_traits>

#include "foundation/pool_allocator.h"

namespace velmar {

// A PoolAllocator of records of type T, with the name of its report line.
template <class T>
class TypedPool {
 public:
  constexpr TypedPool(const char* name, int32_t elementsPerBlock)
      : pool_(static_cast<int32_t>(sizeof(T)), elementsPerBlock),
        name_(name) {}
  TypedPool(const TypedPool&) = delete;
  TypedPool& operator=(const TypedPool&) = delete;

  // A new element after the last one in use (uninitialised storage).
  T* Allocate() { return static_cast<T*>(pool_.Allocate()); }
  // PoolAllocator::Release: the last element in use moves into element's
  // place; returns its former address, or null when nothing moved.
  T* Release(T* element) { return static_cast<T*>(pool_.Release(element)); }
  // Element i (0 <= i <= LastIndex()).
  T* At(int32_t i) const { return static_cast<T*>(pool_.ElementAt(i)); }
  int32_t LastIndex() const { return pool_.LastIndex(); }
  // Frees every block; every element becomes invalid.
  void ReleaseAll() { pool_.ReleaseAll(); }

  // Kilobytes held; unless quiet, prints "%d kbytes allocated for <name>\n"
  // when that is at least 1 (ReportPoolMemory).
  int32_t Report(bool quiet) const {
    return ReportPoolMemory(pool_, name_, quiet);
  }
  const PoolAllocator& Allocator() const { return pool_; }

 private:
  PoolAllocator pool_;
  const char* name_;
};

namespace node_pool_detail {

template <class Member>
struct MemberOf;
template <class Class, class Value>
struct MemberOf<Value Class::*> {
  using Owner = Class;
  using Type = Value;
};

}  // namespace node_pool_detail

// The pool and free list of a pooled module. Head names the head field of
// the module's list header (the free list is such a header), Link the
// record's link field that chains the free list, Tail (when the lists have
// one) the header's tail field.
template <auto Head, auto Link, auto Tail = nullptr>
class ElementPool
    : public TypedPool<std::remove_pointer_t<
          typename node_pool_detail::MemberOf<decltype(Head)>::Type>> {
 public:
  using List = typename node_pool_detail::MemberOf<decltype(Head)>::Owner;
  using Node = std::remove_pointer_t<
      typename node_pool_detail::MemberOf<decltype(Head)>::Type>;
  static_assert(std::is_same_v<decltype(Link), Node* Node::*>,
                "the link field chains records of the pool's own type");
  // Run on every element of the pool before a reset releases the blocks,
  // for records that own memory of their own.
  using Dispose = void (*)(Node&);

  constexpr ElementPool(const char* name, int32_t elementsPerBlock,
                        Dispose dispose = nullptr)
      : TypedPool<Node>(name, elementsPerBlock), dispose_(dispose) {}
  ~ElementPool() { Reset(); }

  // The free-list head, else a new pool element. Nothing is initialised.
  Node* New() {
    Node* node = free_.*Head;
    if (node != nullptr) {
      free_.*Head = node->*Link;
      return node;
    }
    return this->Allocate();
  }

  // Pushes one record on the free list (only its link is written).
  void Free(Node* node) {
    node->*Link = free_.*Head;
    free_.*Head = node;
  }

  // Puts the chain first .. last (linked through Link) in front of the free
  // list in one step, whatever its length.
  void Splice(Node* first, Node* last) {
    last->*Link = free_.*Head;
    free_.*Head = first;
  }

  // The free list itself: Reset. Otherwise splices the list's chain (when
  // not empty) onto the free list and zeroes every field of the header.
  void Clear(List& list)
    requires(!std::is_null_pointer_v<decltype(Tail)>)
  {
    if (&list == &free_) {
      Reset();
      return;
    }
    if (list.*Head != nullptr) Splice(list.*Head, list.*Tail);
    list = List{};
  }

  // Frees the binary tree below root in post-order (left subtree, right
  // subtree, node), Link being the left child and Right the right child,
  // and leaves each freed node's item null. No recursion and no memory:
  // while its subtrees go, a node keeps its parent in its item field, and
  // each child is cut off its parent on the way down.
  template <auto Right>
  void FreeTree(Node* root) {
    if (root == nullptr) return;
    root->item = nullptr;
    Node* cur = root;
    while (cur != nullptr) {
      if (Node* child = cur->*Link) {
        cur->*Link = nullptr;
        child->item = cur;
        cur = child;
      } else if (Node* child = cur->*Right) {
        cur->*Right = nullptr;
        child->item = cur;
        cur = child;
      } else {
        Node* parent = static_cast<Node*>(cur->item);
        cur->item = nullptr;
        Free(cur);
        cur = parent;
      }
    }
  }

  // The free list itself: Reset. Otherwise frees the tree at its Head
  // (FreeTree), sets Head to null and the count to 0 when the header keeps
  // one; its other fields (such as a tree's kind) stay.
  template <auto Right>
  void ClearTree(List& tree) {
    if (&tree == &free_) {
      Reset();
      return;
    }
    FreeTree<Right>(tree.*Head);
    tree.*Head = nullptr;
    if constexpr (requires { tree.count = 0; }) tree.count = 0;
  }

  // Empties the free list and releases every block (disposing of every
  // element first when the module asked for it): every record of the
  // module, in any list, becomes invalid.
  void Reset() {
    if (dispose_ != nullptr) {
      for (int32_t i = 0; i <= this->LastIndex(); ++i) dispose_(*this->At(i));
    }
    free_ = List{};
    this->ReleaseAll();
  }

  // The free list (only its head is maintained).
  List& FreeList() { return free_; }

 private:
  List free_{};
  Dispose dispose_;
};

// The module functions of a pooled module, each a call of its pool: the
// free list (FreeListFn), the reset (ResetFn) and the report (ReportFn).
#define VELMAR_POOL_MODULE_FUNCTIONS(pool, FreeListFn, ResetFn, ReportFn) \
  decltype(pool)::List& FreeListFn() { return pool.FreeList(); }         \
  void ResetFn() { pool.Reset(); }                                        \
  int32_t ReportFn(bool quiet) { return pool.Report(quiet); }

// A pooled list module (header with a tail): List::NewNode, List::FreeNode
// and List::Clear, then the module functions.
#define VELMAR_POOLED_LIST(List, pool, FreeListFn, ResetFn, ReportFn)     \
  decltype(pool)::Node* List::NewNode() { return pool.New(); }           \
  void List::FreeNode(decltype(pool)::Node* node) { pool.Free(node); }   \
  void List::Clear(List& list) { pool.Clear(list); }                     \
  VELMAR_POOL_MODULE_FUNCTIONS(pool, FreeListFn, ResetFn, ReportFn)

// A pooled binary tree module (free list chained through the left child,
// right child Right): Tree::NewNode, Tree::FreeNode, Tree::FreeSubtree and
// Tree::Clear, then the module functions.
#define VELMAR_POOLED_TREE(Tree, pool, Right, FreeListFn, ResetFn, ReportFn) \
  decltype(pool)::Node* Tree::NewNode() { return pool.New(); }              \
  void Tree::FreeNode(decltype(pool)::Node* node) { pool.Free(node); }      \
  void Tree::FreeSubtree(decltype(pool)::Node* node) {                      \
    pool.FreeTree<Right>(node);                                             \
  }                                                                         \
  void Tree::Clear(Tree& tree) { pool.ClearTree<Right>(tree); }             \
  VELMAR_POOL_MODULE_FUNCTIONS(pool, FreeListFn, ResetFn, ReportFn)

}  // namespace velmar
