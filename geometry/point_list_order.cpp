// Order, shape class, measures, orientation, flags and validation of PSLists.
#include "geometry/point_list_order.h"

#include <cmath>
#include <utility>

#include "foundation/error.h"
#include "foundation/merge_sort.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

constexpr uint16_t kVisited = PSPointFlags::Visited;

PSPoint*& LinkOf(PSPoint* p) { return p->link; }

// Twice the signed area contribution of the edge a -> b, exact: each factor
// needs 33 bits, so the product needs up to 66.
inline __int128 EdgeArea2(const PSPoint* a, const PSPoint* b) {
  return static_cast<__int128>(int64_t(a->y) + b->y) *
         (int64_t(a->x) - b->x);
}

// Shape class of one edge: 0 axis-parallel, 1 diagonal (a zero-length edge
// counts as diagonal), 2 any other direction.
inline int EdgeClassOf(const PSPoint* a, const PSPoint* b) {
  int64_t dx = int64_t(b->x) - a->x;
  int64_t dy = int64_t(b->y) - a->y;
  if (dx == dy || dx == -dy) return 1;
  if (dx == 0 || dy == 0) return 0;
  return 2;
}

inline bool IsAxisParallel(const PSPoint* a, const PSPoint* b) {
  return a->x == b->x || a->y == b->y;
}

inline bool IsOctilinearEdge(const PSPoint* a, const PSPoint* b) {
  return EdgeClassOf(a, b) != 2;
}

// A link chain under construction: appending a piece first..last (already
// linked through link) costs constant time.
struct ChainBuilder {
  PSPoint* head = nullptr;
  PSPoint* tail = nullptr;
  void Append(PSPoint* first, PSPoint* last) {
    if (!first) return;
    if (tail)
      tail->link = first;
    else
      head = first;
    tail = last;
  }
};

// Stable three-way quicksort of the chain starting at head with n vertices;
// appends the sorted vertices to out. Recursion goes only into the smaller
// part, so the stack depth stays within log2(n) whatever the input order.
void QuickSortInto(PSPoint* head, int64_t n, PointComparator cmp,
                   ChainBuilder& out) {
  ChainBuilder suffix;  // sorted vertices that follow the current chain
  while (n > 0) {
    if (n == 1) {
      out.Append(head, head);
      break;
    }
    if (n == 2) {
      PSPoint* a = head;
      PSPoint* b = head->link;
      if (cmp(a, b) > 0) std::swap(a, b);
      out.Append(a, a);
      out.Append(b, b);
      break;
    }
    PSPoint* pivot = head;
    ChainBuilder less, equal, greater;
    int64_t nLess = 0, nGreater = 0;
    equal.Append(pivot, pivot);
    PSPoint* p = head->link;
    for (int64_t i = 1; i < n; ++i) {
      PSPoint* nextP = p->link;
      int c = cmp(p, pivot);
      if (c < 0) {
        less.Append(p, p);
        ++nLess;
      } else if (c == 0) {
        equal.Append(p, p);
      } else {
        greater.Append(p, p);
        ++nGreater;
      }
      p = nextP;
    }
    if (nLess <= nGreater) {
      QuickSortInto(less.head, nLess, cmp, out);
      out.Append(equal.head, equal.tail);
      head = greater.head;
      n = nGreater;
    } else {
      ChainBuilder sortedGreater;
      QuickSortInto(greater.head, nGreater, cmp, sortedGreater);
      // suffix := equal + sortedGreater + suffix
      ChainBuilder s;
      s.Append(equal.head, equal.tail);
      s.Append(sortedGreater.head, sortedGreater.tail);
      s.Append(suffix.head, suffix.tail);
      suffix = s;
      head = less.head;
      n = nLess;
    }
  }
  out.Append(suffix.head, suffix.tail);
}

// Top-down merge sort of n vertices from head; returns the sorted chain's
// head (its last vertex's link is null) and sets tail.
PSPoint* MergeSortRec(PSPoint* head, int64_t n, PointComparator cmp,
                      PSPoint*& tail) {
  if (n == 1) {
    head->link = nullptr;
    tail = head;
    return head;
  }
  if (n == 2) {
    PSPoint* a = head;
    PSPoint* b = head->link;
    if (cmp(a, b) >= 1) std::swap(a, b);
    a->link = b;
    b->link = nullptr;
    tail = b;
    return a;
  }
  int64_t n1 = n / 2;
  PSPoint* second = head;
  for (int64_t i = 0; i < n1; ++i) second = second->link;
  PSPoint* t1;
  PSPoint* t2;
  PSPoint* a = MergeSortRec(head, n1, cmp, t1);
  PSPoint* b = MergeSortRec(second, n - n1, cmp, t2);
  ChainBuilder out;
  while (a && b) {
    if (cmp(a, b) <= 0) {
      PSPoint* nx = a->link;
      out.Append(a, a);
      a = nx;
    } else {
      PSPoint* nx = b->link;
      out.Append(b, b);
      b = nx;
    }
  }
  if (a) {
    out.Append(a, t1);
  } else {
    out.Append(b, t2);
  }
  tail = out.tail;
  tail->link = nullptr;
  return out.head;
}

}  // namespace

int ComparePointLess(const PSPoint* a, const PSPoint* b) {
  if (a->x != b->x) return a->x < b->x ? -1 : 0;
  return a->y < b->y ? -1 : 0;
}

void SortPoints(PSList& list, PointComparator cmp) {
  MergeSortChain(list.head, list.tail, LinkOf, cmp);
}

bool IsSortedBy(const PSPoint* first, PointComparator cmp) {
  for (const PSPoint* p = first; p && p->link; p = p->link) {
    if (cmp(p, p->link) > 0) return false;
  }
  return true;
}

void QuickSortPoints(PSPoint*& head, PSPoint*& tail, PointComparator cmp) {
  if (!head || head == tail) return;
  int64_t n = 1;
  for (PSPoint* p = head; p != tail && p->link; p = p->link) ++n;
  PSPoint* after = tail->link;
  ChainBuilder out;
  QuickSortInto(head, n, cmp, out);
  head = out.head;
  tail = out.tail;
  tail->link = after;
}

void MergeSortPoints(PSList& list, PointComparator cmp) {
  // The split uses the real chain length, so a stale point count cannot
  // make the sort run off the chain.
  int64_t n = 0;
  for (PSPoint* p = list.head; p; p = p->link) ++n;
  if (n < 2) return;
  list.head = MergeSortRec(list.head, n, cmp, list.tail);
}

int CompareLists(const PSList& a, const PSList& b) {
  if (a.words[4] != b.words[4]) return a.words[4] < b.words[4] ? -1 : 1;
  if (a.ringCount != b.ringCount) return a.ringCount < b.ringCount ? -1 : 1;
  if (a.pointCount != b.pointCount) return a.pointCount < b.pointCount ? -1 : 1;
  const PSPoint* p = a.head;
  const PSPoint* q = b.head;
  for (; p; p = p->link, q = q->link) {
    if (!q) return 1;
    int c = ComparePoint(p, q);
    if (c) return c;
  }
  return 0;
}

bool IsRingManhattan(const PSPoint* p) {
  const PSPoint* q = p;
  do {
    if (!IsAxisParallel(q, q->next)) return false;
    q = q->next;
  } while (q != p);
  return true;
}

bool IsRingOctilinear(const PSPoint* p) {
  const PSPoint* q = p;
  do {
    if (!IsOctilinearEdge(q, q->next)) return false;
    q = q->next;
  } while (q != p);
  return true;
}

int ClassifyList(const PSList& list) {
  int result = 0;
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (!p->next) continue;
    int c = EdgeClassOf(p, p->next);
    if (c == 2) return 2;
    if (c == 1) result = 1;
  }
  return result;
}

int ClassifyRing(const PSPoint* p) {
  int result = 0;
  const PSPoint* q = p;
  do {
    int c = EdgeClassOf(q, q->next);
    if (c == 2) return 2;
    if (c == 1) result = 1;
    q = q->next;
  } while (q != p);
  return result;
}

bool IsListManhattan(const PSList& list) {
  for (const PSPoint* p = list.head; p; p = p->link)
    if (p->next && !IsAxisParallel(p, p->next)) return false;
  return true;
}

bool IsListOctilinear(const PSList& list) {
  for (const PSPoint* p = list.head; p; p = p->link)
    if (p->next && !IsOctilinearEdge(p, p->next)) return false;
  return true;
}

bool HasOpenChains(const PSList& list) {
  for (const PSPoint* p = list.head; p; p = p->link)
    if (!p->next || !p->prev) return true;
  return false;
}

bool HasPointOutside(const PSList& list, const Box& box) {
  for (const PSPoint* p = list.head; p; p = p->link)
    if (p->x < box.x1 || p->x > box.x2 || p->y < box.y1 || p->y > box.y2)
      return true;
  return false;
}

int32_t CountRingPoints(const PSPoint* p) {
  int32_t n = 0;
  const PSPoint* q = p;
  do {
    ++n;
    q = q->next;
  } while (q && q != p);
  return n;
}

int32_t CountLinkPoints(const PSList& list) {
  int32_t n = 0;
  for (const PSPoint* p = list.head; p; p = p->link) ++n;
  return n;
}

int32_t CountRings(PSList& list) {
  int32_t points = 0, rings = 0, largest = 0;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    int32_t n = 0;
    PSPoint* q = p;
    do {
      q->flags |= kVisited;
      ++n;
      q = q->next;
    } while (q && q != p && !(q->flags & kVisited));
    // A walk that meets a vertex it has passed before without coming back
    // to its start would never end: the links are corrupt.
    if (q && q != p) {
      MaskFlags(list, -2);
      throw Error("Polygon is in loop", "DRC", 0);
    }
    points += n;
    ++rings;
    if (n > largest) largest = n;
  }
  MaskFlags(list, -2);
  list.pointCount = points;
  list.ringCount = rings;
  return largest;
}

Box RingBBox(const PSPoint* p) {
  Box b;
  const PSPoint* q = p;
  do {
    b.Extend(q->x, q->y);
    q = q->next;
  } while (q && q != p);
  return b;
}

Box ListBBox(const PSList& list) {
  Box b;
  for (const PSPoint* p = list.head; p; p = p->link) b.Extend(p->x, p->y);
  return b;
}

long double RingArea2(const PSPoint* p) {
  __int128 sum = 0;
  const PSPoint* q = p;
  do {
    if (!q->next) break;  // not a ring: count what there is
    sum += EdgeArea2(q, q->next);
    q = q->next;
  } while (q != p);
  return static_cast<long double>(sum);
}

long double ListArea(const PSList& list) {
  __int128 sum = 0;
  for (const PSPoint* p = list.head; p; p = p->link)
    if (p->next) sum += EdgeArea2(p, p->next);
  return static_cast<long double>(sum) / 2;
}

void ReverseRing(PSPoint* p) {
  PSPoint* q = p;
  do {
    std::swap(q->next, q->prev);
    q = q->prev;  // the former next
  } while (q && q != p);
}

void ReverseList(PSList& list) {
  for (PSPoint* p = list.head; p; p = p->link) std::swap(p->next, p->prev);
}

void ReverseChains(PSList& list) {
  for (PSPoint* x = list.head; x; x = x->link) {
    PSPoint* y = x->next;
    if (!y) continue;
    y->next = x;
    x->prev = y;
    x->next = nullptr;
    y->prev = nullptr;
  }
}

void OrientRings(PSList& list) {
  int32_t rings = 0;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    __int128 sum = 0;
    PSPoint* q = p;
    bool closed = true;
    do {
      q->flags |= kVisited;
      if (!q->next) {
        closed = false;
        break;
      }
      sum += EdgeArea2(q, q->next);
      q = q->next;
    } while (q != p);
    if (closed && sum < 0) ReverseRing(p);
    ++rings;
  }
  MaskFlags(list, -2);
  list.ringCount = rings;
}

void SetFlags(PSList& list, int bits) {
  const uint16_t b = static_cast<uint16_t>(bits);
  for (PSPoint* p = list.head; p; p = p->link) p->flags |= b;
}

void MaskFlags(PSList& list, int mask) {
  const uint16_t m = static_cast<uint16_t>(mask);
  for (PSPoint* p = list.head; p; p = p->link) p->flags &= m;
}

void CheckConnectivity(PSList& list) {
  for (PSPoint* start = list.head; start; start = start->link) {
    if (start->flags & kVisited) continue;
    PSPoint* p = start;
    for (;;) {
      if (!p->next || !p->prev)
        throw Error("Polygon lost connectivity", "DRC", 0);
      if (p->next->prev != p)
        throw Error("Polygon lost backward connectivity", "DRC", 0);
      if (p->flags & kVisited) throw Error("Polygon is in loop", "DRC", 0);
      p->flags |= kVisited;
      if (p->next == start) break;
      p = p->next;
    }
  }
  MaskFlags(list, -2);
}

void SnapPointsToGrid(PSList& list, int32_t grid) {
  if (grid <= 0) throw Error("Grid must be positive", "DRC", 0);
  auto snap = [grid](int32_t v) -> int32_t {
    if (v % grid == 0) return v;
    return ToCoord(static_cast<int64_t>(
                       std::floor(static_cast<long double>(v) / grid + 0.5L)) *
                   grid);
  };
  for (PSPoint* p = list.head; p; p = p->link) {
    p->x = snap(p->x);
    p->y = snap(p->y);
  }
}

void PrintRing(const PSPoint* p, int n) {
  const PSPoint* q = p;
  for (int i = 0; i < n; ++i) {
    if (!q) {
      PrintMessage("NULL\n");
      return;
    }
    PrintMessage("(%d, %d, %x)\n", q->x, q->y, unsigned(q->flags));
    q = q->next;
    if (q == p) break;
  }
  PrintMessage("\n");
}

void PrintPointChain(const PSPoint* first, int n) {
  const PSPoint* p = first;
  for (int i = 0; i < n && p; ++i, p = p->link) {
    PrintMessage("(%d, %d, %x)", p->x, p->y, unsigned(p->flags));
    if (p->next) {
      PrintMessage(" -> (%d, %d, %x)\n", p->next->x, p->next->y,
                   unsigned(p->next->flags));
    } else if (p->prev) {
      PrintMessage(" <- (%d, %d, %x)\n", p->prev->x, p->prev->y,
                   unsigned(p->prev->flags));
    } else {
      PrintMessage("\n");
    }
  }
  PrintMessage("\n");
}

void PrintPolygons(PSList& list) {
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    PrintMessage("Polygon:\n");
    PSPoint* q = p;
    do {
      PrintMessage("  (%d, %d, %x)\n", q->x, q->y, unsigned(q->flags));
      q->flags |= kVisited;
      q = q->next;
    } while (q && q != p);
    PrintMessage("\n");
  }
  MaskFlags(list, -2);
}

}  // namespace velmar
