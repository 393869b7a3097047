// Point pool, point free list and the elementary list operations.
#include "geometry/point_system.h"

#include "foundation/node_pool.h"

namespace velmar {

namespace {

// Constant-initialised, so vertices can be taken before main.
constinit ElementPool<&PSList::head, &PSPoint::link, &PSList::tail> PointPool(
    "Point System", kPointsPerBlock);

}  // namespace

PSPoint* AllocPoint() { return PointPool.New(); }

void FreePoint(PSPoint* p) { PointPool.Free(p); }

PSPoint* PushPoint(PSList& list, int32_t x, int32_t y) {
  return PushPointAt(list, AllocPoint(), x, y);
}

PSPoint* AppendPoint(PSList& list, int32_t x, int32_t y) {
  PSPoint* p = AllocPoint();
  p->x = x;
  p->y = y;
  p->link = nullptr;
  p->next = nullptr;
  p->prev = nullptr;
  p->flags = 0;
  if (list.tail)
    list.tail->link = p;
  else
    list.head = p;
  list.tail = p;
  ++list.pointCount;
  return p;
}

void ClearPointList(PSList& list) { PointPool.Clear(list); }

VELMAR_POOL_MODULE_FUNCTIONS(PointPool, PointFreeList, ResetPointPool,
                             ReportPointSystemMemory)

void SpliceList(PSList& dst, PSList& src) {
  if (&dst == &src) return;
  if (src.head) {
    if (!dst.head) {
      dst = src;
    } else {
      dst.tail->link = src.head;
      dst.tail = src.tail;
      dst.pointCount += src.pointCount;
      dst.ringCount += src.ringCount;
    }
  }
  src = PSList{};
}

void PushRing(PSList& list, const Point* pts, size_t n) {
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (size_t i = 0; i < n; ++i) {
    PSPoint* v = PushPoint(list, pts[i].x, pts[i].y);
    if (!first) first = v;
    LinkPoints(last, v);
    last = v;
  }
  LinkPoints(last, first);
  ++list.ringCount;
}

void BoxToRing(PSList& list, const Box& box, bool second) {
  const uint16_t flags = second ? PSPointFlags::SecondLayer : 0;
  PSPoint* a = PushPoint(list, box.x1, box.y1);
  PSPoint* b = PushPoint(list, box.x2, box.y1);
  PSPoint* c = PushPoint(list, box.x2, box.y2);
  PSPoint* d = PushPoint(list, box.x1, box.y2);
  LinkPoints(a, b);
  LinkPoints(b, c);
  LinkPoints(c, d);
  LinkPoints(d, a);
  a->flags = b->flags = c->flags = d->flags = flags;
  ++list.ringCount;
}

}  // namespace velmar
