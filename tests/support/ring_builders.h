// Ring builders shared by the cell, layer-ring and shape-list tests.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar::ring_test {

using Ring = std::vector<Point>;

// Appends the points as one closed ring at the tail of the link chain (next
// and the link chain in the given order); ring count + 1. Returns the first
// point's vertex.
inline PSPoint* AppendRing(PSList& list, const Ring& pts) {
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (const Point& pt : pts) {
    PSPoint* p = AppendPoint(list, pt.x, pt.y);
    if (first == nullptr) first = p;
    LinkPoints(last, p);
    last = p;
  }
  LinkPoints(last, first);
  ++list.ringCount;
  return first;
}

// The ring moved by (dx, dy).
inline Ring Moved(const Ring& r, int32_t dx, int32_t dy) {
  Ring out;
  for (const Point& p : r) out.push_back(Point(p.x + dx, p.y + dy));
  return out;
}

inline Box BoxOf(const Ring& r) {
  Box b;
  for (const Point& p : r) b.Extend(p.x, p.y);
  return b;
}

}  // namespace velmar::ring_test
