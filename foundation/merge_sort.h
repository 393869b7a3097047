// Stable bottom-up merge sort of an intrusive singly linked chain.
//
// Shared by SList::Sort, DList::Sort and the point-list sort of the geometry
// engine: the node type and its next link are template parameters, so any
// chain sorts the same way, e.g. a PSList's link chain:
//   MergeSortChain(list.head, list.tail,
//                  [](PSPoint* p) -> PSPoint*& { return p->link; }, cmp);
//
// Runs are kept on a fixed stack; a new node is pushed as a run of one while
// the run below the top is at least twice as long as the top, otherwise the
// two top runs are merged. Every run is thus at least twice as long as the
// one above it, so 64 entries hold any 32-bit count. No allocation, no
// recursion, O(n log n) comparisons. Ties keep the earlier node first.
#pragma once

#include <cstdint>

namespace velmar {

// Sorts the null-terminated chain that starts at head. link(node) must
// return a reference to the node's next link (Node*&); cmp(a, b) returns a
// negative, zero or positive value (a before, equal to, after b). head and
// tail are set to the first and last node of the sorted chain and the last
// node's link is null. A chain of zero or one node is left unchanged.
template <class Node, class LinkFn, class Cmp>
void MergeSortChain(Node*& head, Node*& tail, LinkFn link, Cmp cmp) {
  if (head == nullptr || link(head) == nullptr) return;

  struct Run {
    Node* first;
    Node* last;
    int64_t length;
  };
  Run stack[64];
  int depth = 0;

  // Merges the top run T (later input) into the run B below it.
  auto mergeTop = [&]() {
    Run& b = stack[depth - 2];
    Run& t = stack[depth - 1];
    Node* pb = b.first;
    Node* pt = t.first;
    int64_t nb = b.length;
    int64_t nt = t.length;
    Node* merged = nullptr;
    Node** out = &merged;
    Node* last;
    for (;;) {
      if (cmp(pt, pb) < 0) {
        *out = pt;
        out = &link(pt);
        pt = link(pt);
        if (--nt == 0) {
          *out = pb;  // rest of B, which ends at b.last
          last = b.last;
          break;
        }
      } else {
        *out = pb;
        out = &link(pb);
        pb = link(pb);
        if (--nb == 0) {
          *out = pt;  // rest of T
          last = t.last;
          break;
        }
      }
    }
    b.first = merged;
    b.last = last;
    b.length += t.length;
    --depth;
  };

  Node* input = head;
  while (input != nullptr) {
    if (depth < 2 || stack[depth - 2].length >= 2 * stack[depth - 1].length) {
      Node* n = input;
      input = link(n);
      stack[depth++] = Run{n, n, 1};
    } else {
      mergeTop();
    }
  }
  while (depth > 1) mergeTop();

  head = stack[0].first;
  tail = stack[0].last;
  link(tail) = nullptr;
}

// True when cmp(p, next) > 0 for no node p of the chain from first.
template <class Node, class LinkFn, class Cmp>
bool IsChainSorted(Node* first, LinkFn link, Cmp cmp) {
  if (first == nullptr) return true;
  for (Node* p = first; link(p) != nullptr; p = link(p)) {
    if (cmp(p, link(p)) > 0) return false;
  }
  return true;
}

}  // namespace velmar
