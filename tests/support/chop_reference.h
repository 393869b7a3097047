// The chopping of stored results the slow way, as the reference that the
// storing path must equal vertex for vertex: every ring that spans more
// than one tile is intersected through a copy of it with the tiles of each
// checkerboard colour as second-operand rings (one AND per colour), and
// the storing course repeats that on the rings still beyond the limit, with
// their holes cut open and the tile quartered, each round.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar::test {

// Chops the rings of list (kept) into out on a grid of size x size tiles
// laid from each ring's lower-left bounding-box corner.
inline void ChopByCopies(PSList& list, PSList& out, int32_t size) {
  std::vector<PSPoint*> starts;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    starts.push_back(p);
    for (PSPoint* q = p; !(q->flags & PSPointFlags::Visited); q = q->next)
      q->flags |= PSPointFlags::Visited;
  }
  MaskFlags(list, -2);
  auto edge = [](int64_t origin, int64_t i, int64_t step) {
    return int32_t(std::min<int64_t>(origin + i * step, INT32_MAX));
  };
  for (PSPoint* p : starts) {
    const Box bb = RingBBox(p);
    const int64_t nx = (int64_t(bb.x2) - bb.x1 + size - 1) / size;
    const int64_t ny = (int64_t(bb.y2) - bb.y1 + size - 1) / size;
    if (nx == 1 && ny == 1) {
      AppendRingCopy(p, out);
      continue;
    }
    if (nx <= 0 || ny <= 0) continue;
    for (int k = 0; k < 2; ++k) {
      PSList work;
      AppendRingCopy(p, work);
      for (int64_t i = 0; i < nx; ++i)
        for (int64_t j = (i + k) & 1; j < ny; j += 2)
          BoxToRing(work,
                    Box(edge(bb.x1, i, size), edge(bb.y1, j, size),
                        edge(bb.x1, i + 1, size), edge(bb.y1, j + 1, size)),
                    true);
      BooleanSweep(work, &out, BooleanOpCode::And, false);
      ClearPointList(work);
    }
  }
}

// Moves the rings of more than limit vertices onto over, both lists
// keeping their link order, by copying the link chain apart.
inline void MoveRingsOverByCopies(PSList& list, PSList& over, int32_t limit) {
  std::vector<PSPoint*> order;
  for (PSPoint* p = list.head; p; p = p->link) order.push_back(p);
  std::vector<PSPoint*> big;
  for (PSPoint* p : order) {
    if (p->flags & PSPointFlags::Visited) continue;
    int32_t n = 0;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      ++n;
      q = q->next;
    } while (q != p);
    if (n > limit) big.push_back(p);
  }
  MaskFlags(list, -2);
  for (PSPoint* p : big) {
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Marker;
      q = q->next;
    } while (q != p);
  }
  PSList kept, moved;
  for (PSPoint* p : order) {
    PSList& to = (p->flags & PSPointFlags::Marker) ? moved : kept;
    p->flags &= uint16_t(~PSPointFlags::Marker);
    p->link = nullptr;
    if (to.tail) to.tail->link = p;
    else to.head = p;
    to.tail = p;
  }
  list.head = kept.head;
  list.tail = kept.tail;
  over.head = moved.head;
  over.tail = moved.tail;
  CountRings(list);
  CountRings(over);
}

// The storing course of a result: holes cut open, then rounds of chopping
// the rings beyond limit on tiles of size, quartered per round, the pieces'
// holes cut open. Counts of list exact at the end.
inline void StoreCourseByCopies(PSList& list, int32_t limit, int64_t size) {
  BooleanSweep(list, nullptr, BooleanOpCode::CutHoles, false);
  PSList over;
  MoveRingsOverByCopies(list, over, limit);
  while (over.head && size >= 1) {
    PSList out;
    ChopByCopies(over, out, int32_t(size));
    ClearPointList(over);
    BooleanSweep(out, nullptr, BooleanOpCode::CutHoles, false);
    MoveRingsOverByCopies(out, over, limit);
    SpliceList(list, out);
    size >>= 2;
  }
  ClearPointList(over);
  CountRings(list);
}

}  // namespace velmar::test
