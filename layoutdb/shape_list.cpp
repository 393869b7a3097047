// Shape lists and placements: pools, orders, merging of equal shapes,
// expansion into rings and the shape records of the cell data files.

#include "layoutdb/shape_list.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <type_traits>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "foundation/merge_sort.h"
#include "foundation/node_pool.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar {

namespace {

// Pools and free lists. Every element of the shape pool is a constructed
// CPgonListNode (made by NewNode); nodes on the free list own nothing, and a
// reset deletes the polygons that shapes in use still hold.
constinit ElementPool<&LocList::first, &LocListNode::next, &LocList::last>
    LocListPool("LocList", LocList::kNodesPerBlock);

constinit ElementPool<&CPgonList::first, &CPgonListNode::next,
                      &CPgonList::last>
    CPgonListPool("CPgonList", CPgonList::kNodesPerBlock,
                  [](CPgonListNode& shape) { shape.polygon.reset(); });

// Stable sort of a doubly linked list (first, last) by cmp; the prev links
// are rebuilt afterwards.
template <class List, class Cmp>
void SortList(List& list, Cmp cmp) {
  using Node = std::remove_pointer_t<decltype(list.first)>;
  if (list.first == nullptr) return;
  MergeSortChain(list.first, list.last,
                 [](Node* n) -> Node*& { return n->next; }, cmp);
  Node* prev = nullptr;
  for (Node* n = list.first; n != nullptr; n = n->next) {
    n->prev = prev;
    prev = n;
  }
}

// Takes node off a doubly linked list (first, last, count) and returns the
// node that followed it; the node itself is left to the caller.
template <class List, class Node>
Node* Unlink(List& list, Node* node) {
  Node* next = node->next;
  if (node->prev != nullptr) node->prev->next = next;
  else list.first = next;
  if (next != nullptr) next->prev = node->prev;
  else list.last = node->prev;
  --list.count;
  return next;
}

// Lets a shape node own nothing (polygon and placements released) and takes
// its back link, as every node on the free list is.
void ClearShapeNode(CPgonListNode* node) {
  node->polygon.reset();
  if (node->placements.first != nullptr) LocList::Release(node->placements);
  node->placements = LocList{};
  node->prev = nullptr;
}

// Checks that a coordinate plus a placement fits 32 bits.
inline int32_t Placed(int64_t value) {
  if (value < INT32_MIN || value > INT32_MAX) {
    throw Error("Placed polygon exceeds coordinate range", "DB");
  }
  return int32_t(value);
}

// Lists shorter than this sort by relinking their chain (no buffer, and
// the few nodes stay in cache); longer ones as an array of keys.
constexpr int32_t kArraySortFrom = 64;

// Memory for a sort's keys taken from the system and given back at once:
// a large block taken from the heap right after a cell's shapes were freed
// would make the heap coalesce them all, and every later allocation of a
// shape slower.
class PageBuffer {
 public:
  explicit PageBuffer(size_t bytes) : bytes_(bytes == 0 ? 1 : bytes) {
    void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = p;
  }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  ~PageBuffer() { ::munmap(data_, bytes_); }
  void* data() const { return data_; }

 private:
  size_t bytes_;
  void* data_ = nullptr;
};

// Sorts a list of at least kArraySortFrom shapes by polygon (see
// SortByPolygon). When equal is given (list.count bytes), equal[i] is set to
// 1 when the i-th shape of the sorted list has the polygon of its
// predecessor, else 0; the keys settle most of these without the polygons.
void SortShapes(CPgonList& list, uint8_t* equal) {
  // Sorted as an array of small keys rather than by relinking the nodes:
  // a flat cell holds hundreds of thousands of shapes scattered over the
  // pool, and most comparisons (rectangles, squares, short rings) are
  // settled by the key alone. The key holds the leading fields of
  // DBPolygonExt::Compare in its own order; where they tie and the polygons
  // have more to compare, Compare decides. Ties go by list position, so
  // equal shapes keep their order, as a stable sort keeps them; std::sort
  // then needs no buffer beside the keys.
  struct Key {
    uint32_t header;
    uint32_t size;     // value count
    int32_t v0, v1;    // first two values (0 when absent)
    uint32_t index;    // position in the list on entry
    bool settled;      // no code words and at most two values
    CPgonListNode* node;
  };
  const size_t count = size_t(list.count);
  PageBuffer buffer(count * sizeof(Key));
  Key* const keys = static_cast<Key*>(buffer.data());
  uint32_t index = 0;
  for (CPgonListNode* n = list.first; n != nullptr; n = n->next, ++index) {
    if (index >= count) throw Error("Inconsistent shape list", "DB");
    const DBPolygon& p = *n->polygon;
    Key k{p.header, uint32_t(p.values.size()), 0, 0, index, false, n};
    if (p.values.size() != k.size) {
      k.size = UINT32_MAX;  // beyond any vertex limit: Compare decides
    } else if (DBPolygon::CodeWordCount(p.header) == 0) {
      if (k.size > 0) k.v0 = p.values[0];
      if (k.size > 1) k.v1 = p.values[1];
      k.settled = k.size <= 2;
    }
    keys[index] = k;
  }
  if (index != count) throw Error("Inconsistent shape list", "DB");
  // Three-way, as DBPolygonExt::Compare.
  auto compare = [](const Key& a, const Key& b) -> int {
    if (a.header != b.header) return a.header < b.header ? -1 : 1;
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    if (DBPolygon::CodeWordCount(a.header) == 0) {
      // Values come next in Compare's order.
      if (a.v0 != b.v0) return a.v0 < b.v0 ? -1 : 1;
      if (a.v1 != b.v1) return a.v1 < b.v1 ? -1 : 1;
      if (a.settled) return 0;  // both hold just these values
    }
    return DBPolygonExt::Compare(a.node->polygon.get(), b.node->polygon.get());
  };
  std::sort(keys, keys + count, [&compare](const Key& a, const Key& b) {
    const int c = compare(a, b);
    return c != 0 ? c < 0 : a.index < b.index;
  });
  CPgonListNode* prev = nullptr;
  for (size_t i = 0; i < count; ++i) {
    const Key& k = keys[i];
    k.node->prev = prev;
    if (prev != nullptr) prev->next = k.node;
    prev = k.node;
  }
  prev->next = nullptr;
  list.first = keys[0].node;
  list.last = prev;
  if (equal == nullptr) return;
  equal[0] = 0;
  for (size_t i = 1; i < count; ++i) {
    equal[i] = compare(keys[i - 1], keys[i]) == 0;
  }
}

// MergeEqualShapes with the test "shape s equals shape k" given as
// same(k, s, i), i the position of s in the list as it was on entry.
template <class Same>
int MergeRuns(CPgonList& list, Same same) {
  int removed = 0;
  size_t i = 0;  // position of k
  CPgonListNode* k = list.first;
  while (k != nullptr) {
    CPgonListNode* s = k->next;
    ++i;
    while (s != nullptr && same(k, s, i)) {
      LocList& from = s->placements;
      if (from.first != nullptr) {
        for (LocListNode* p = from.first; p != nullptr; p = p->next) {
          p->owner = k;
        }
        LocList& to = k->placements;
        if (to.first == nullptr) {
          to = from;
        } else {
          to.last->next = from.first;
          from.first->prev = to.last;
          to.last = from.last;
          to.count += from.count;
        }
        from = LocList{};
      }
      s->polygon.reset();
      s = CPgonList::Remove(list, s);
      ++i;
    }
    if (k->placements.count >= 2) {
      CPgonList::SortPlacements(k->placements);
      LocListNode* p = k->placements.first->next;
      while (p != nullptr) {
        if (LocList::ComparePlacements(p->prev, p) == 0) {
          p = LocList::Remove(k->placements, p);
          ++removed;
        } else {
          p = p->next;
        }
      }
    }
    k = s;
  }
  return removed;
}

}  // namespace

// --- Placements -------------------------------------------------------------------

LocListNode* LocList::NewNode() { return LocListPool.New(); }

void LocList::FreeNode(LocListNode* node) { LocListPool.Free(node); }

LocListNode* LocList::Append(LocList& list, CPgonListNode* owner, int32_t x,
                             int32_t y) {
  LocListNode* node = NewNode();
  node->next = nullptr;
  node->owner = owner;
  node->prev = list.last;
  node->x = x;
  node->y = y;
  if (list.last != nullptr) list.last->next = node;
  else list.first = node;
  list.last = node;
  ++list.count;
  return node;
}

LocListNode* LocList::Remove(LocList& list, LocListNode* node) {
  LocListNode* next = Unlink(list, node);
  FreeNode(node);
  return next;
}

void LocList::Release(LocList& list) { LocListPool.Clear(list); }

int LocList::ComparePlacements(const LocListNode* a, const LocListNode* b) {
  if (a->x != b->x) return a->x < b->x ? -1 : 1;
  if (a->y != b->y) return a->y < b->y ? -1 : 1;
  return 0;
}

// --- Shapes -----------------------------------------------------------------------

CPgonListNode* CPgonList::NewNode() {
  if (CPgonListPool.FreeList().first == nullptr)
    return new (CPgonListPool.Allocate()) CPgonListNode();
  CPgonListNode* node = CPgonListPool.New();
  node->next = nullptr;
  node->prev = nullptr;
  return node;  // owns nothing: cleared when it was freed
}

void CPgonList::FreeNode(CPgonListNode* node) {
  ClearShapeNode(node);
  CPgonListPool.Free(node);
}

CPgonListNode* CPgonList::Append(CPgonList& list,
                                 std::unique_ptr<DBPolygon> polygon) {
  return InsertBefore(list, nullptr, std::move(polygon));
}

CPgonListNode* CPgonList::InsertBefore(CPgonList& list,
                                       CPgonListNode* position,
                                       std::unique_ptr<DBPolygon> polygon) {
  CPgonListNode* node = NewNode();
  node->polygon = std::move(polygon);
  node->next = position;
  node->prev = position != nullptr ? position->prev : list.last;
  if (node->prev != nullptr) node->prev->next = node;
  else list.first = node;
  if (position != nullptr) position->prev = node;
  else list.last = node;
  ++list.count;
  return node;
}

CPgonListNode* CPgonList::Remove(CPgonList& list, CPgonListNode* node) {
  CPgonListNode* next = Unlink(list, node);
  FreeNode(node);
  return next;
}

void CPgonList::Release(CPgonList& list) {
  if (&list != &CPgonListPool.FreeList()) {
    for (CPgonListNode* n = list.first; n != nullptr; n = n->next)
      ClearShapeNode(n);
  }
  CPgonListPool.Clear(list);  // the free list itself: ResetPool
}

// Free list, reset and report of both pools.
VELMAR_POOL_MODULE_FUNCTIONS(LocListPool, LocList::FreeList, LocList::ResetPool,
                             LocList::ReportPool)
VELMAR_POOL_MODULE_FUNCTIONS(CPgonListPool, CPgonList::FreeList,
                             CPgonList::ResetPool, CPgonList::ReportPool)

// --- Orders -------------------------------------------------------------------------

int CPgonList::ComparePolygons(const CPgonListNode* a, const CPgonListNode* b) {
  return DBPolygonExt::Compare(a->polygon.get(), b->polygon.get());
}

int CPgonList::CompareShapes(const CPgonListNode* a, const CPgonListNode* b) {
  const int byPolygon = ComparePolygons(a, b);
  if (byPolygon != 0) return byPolygon;
  if (a->placements.count != b->placements.count)
    return a->placements.count < b->placements.count ? -1 : 1;
  const LocListNode* p = a->placements.first;
  const LocListNode* q = b->placements.first;
  for (; p != nullptr && q != nullptr; p = p->next, q = q->next) {
    const int c = LocList::ComparePlacements(p, q);
    if (c != 0) return c;
  }
  return 0;
}

void CPgonList::SortByPolygon(CPgonList& list) {
  if (list.count < kArraySortFrom) {
    SortList(list, ComparePolygons);
  } else {
    SortShapes(list, nullptr);
  }
}

void CPgonList::SortPlacements(LocList& list) {
  SortList(list, LocList::ComparePlacements);
}

// --- List operations ------------------------------------------------------------------

CPgonListNode* CPgonList::LowerBound(const CPgonList& list,
                                     const DBPolygon& polygon) {
  for (CPgonListNode* n = list.first; n != nullptr; n = n->next) {
    if (DBPolygonExt::Compare(n->polygon.get(), &polygon) >= 0) return n;
  }
  return nullptr;
}

int CPgonList::AddRings(CPgonList& list, PSList& rings) {
  // Each ring is encoded once: the encoder marks its vertices visited and
  // the walk below moves on to the next unmarked vertex of the link chain.
  // Marks left by an earlier walk would hide rings, so they go first.
  MaskFlags(rings, ~int(PSPointFlags::Visited));
  for (PSPoint* start = rings.head; start != nullptr;) {
    PSPoint* origin = LowestLeftPoint(start);
    std::unique_ptr<DBPolygon> polygon = DBPolygon::Build(origin);
    CPgonListNode* shape = Append(list, std::move(polygon));
    LocList::Append(shape->placements, shape, origin->x, origin->y);
    do {
      start = start->link;
    } while (start != nullptr && (start->flags & PSPointFlags::Visited));
  }
  if (list.first == nullptr) return 0;
  return SortAndMergeEqualShapes(list);
}

int CPgonList::MergeEqualShapes(CPgonList& list) {
  return MergeRuns(list, [](const CPgonListNode* k, const CPgonListNode* s,
                            size_t) { return ComparePolygons(k, s) == 0; });
}

int CPgonList::SortAndMergeEqualShapes(CPgonList& list) {
  if (list.count < kArraySortFrom) {
    SortList(list, ComparePolygons);
    return MergeEqualShapes(list);
  }
  PageBuffer buffer(size_t(list.count));
  uint8_t* const equal = static_cast<uint8_t*>(buffer.data());
  SortShapes(list, equal);
  return MergeRuns(list, [equal](const CPgonListNode*, const CPgonListNode*,
                                 size_t i) { return equal[i] != 0; });
}

void CPgonList::ToRings(const CPgonList& list, PSList& out) {
  for (const CPgonListNode* shape = list.first; shape != nullptr;
       shape = shape->next) {
    if (shape->placements.first == nullptr) continue;
    ScratchList scratch;
    const PSPoint* v0 = shape->polygon->ToRing(scratch.list);
    const Box box = ListBBox(scratch.list);
    const int32_t n = scratch.list.pointCount;
    for (const LocListNode* at = shape->placements.first; at != nullptr;
         at = at->next) {
      // The whole shape fits when its box corners do.
      Placed(int64_t(at->x) + box.x1);
      Placed(int64_t(at->x) + box.x2);
      Placed(int64_t(at->y) + box.y1);
      Placed(int64_t(at->y) + box.y2);
      PSList copy;
      const PSPoint* v = v0;
      PSPoint* first = PushPoint(copy, v->x + at->x, v->y + at->y);
      PSPoint* previous = first;
      for (int32_t i = 1; i < n; ++i) {
        v = v->next;
        PSPoint* p = PushPoint(copy, v->x + at->x, v->y + at->y);
        LinkPoints(previous, p);
        previous = p;
      }
      LinkPoints(previous, first);
      copy.ringCount = 1;
      SpliceList(out, copy);
    }
  }
}

void CPgonList::WriteShape(const CPgonListNode& shape, BinaryStream& out) {
  int64_t count = 0;
  for (const LocListNode* p = shape.placements.first; p != nullptr;
       p = p->next) {
    ++count;
  }
  if (count != shape.placements.count || shape.polygon == nullptr) {
    throw Error("Inconsistent shape list", "DB");
  }
  DBPolygon::Write(*shape.polygon, out);
  out.PutUnsignedChained(uint32_t(count));
  uint32_t px = 0, py = 0;
  for (const LocListNode* p = shape.placements.first; p != nullptr;
       p = p->next) {
    // Differences modulo 2^32: exact however far apart two placements lie.
    out.PutSignedChained(int32_t(uint32_t(p->x) - px));
    out.PutSignedChained(int32_t(uint32_t(p->y) - py));
    px = uint32_t(p->x);
    py = uint32_t(p->y);
  }
}

void CPgonList::Write(const CPgonList& list, BinaryStream& out) {
  int64_t count = 0;
  for (const CPgonListNode* s = list.first; s != nullptr; s = s->next) ++count;
  if (count != list.count) throw Error("Inconsistent shape list", "DB");
  out.PutUnsignedChained(uint32_t(count));
  for (const CPgonListNode* s = list.first; s != nullptr; s = s->next) {
    WriteShape(*s, out);
  }
}

void CPgonList::Splice(CPgonList& target, CPgonList& source) {
  if (source.first == nullptr) return;
  if (target.first == nullptr) {
    target.first = source.first;
  } else {
    target.last->next = source.first;
    source.first->prev = target.last;
  }
  target.last = source.last;
  target.count += source.count;
  source.first = source.last = nullptr;
  source.count = 0;
}

void CPgonList::CopyShapes(const CPgonList& source, CPgonList& target) {
  for (const CPgonListNode* s = source.first; s != nullptr; s = s->next) {
    CPgonListNode* shape = Append(target, DBPolygon::Copy(*s->polygon));
    for (const LocListNode* p = s->placements.first; p != nullptr;
         p = p->next) {
      LocList::Append(shape->placements, shape, p->x, p->y);
    }
  }
}

}  // namespace velmar
