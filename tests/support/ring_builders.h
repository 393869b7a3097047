// Ring builders shared by the cell, layer-ring, shape-list and writer tests.
#pragma once

#include <cmath>
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

// A manhattan comb: a base with a step in its bottom edge and `teeth`
// teeth upwards, 4 teeth + 4 vertices (5,000 for 1,249 teeth), teeth 100
// wide and 100,000 high on a pitch of 200.
inline Ring Comb(int32_t teeth) {
  const int32_t w = teeth * 200;
  Ring r = {{0, 0}, {w / 2, 0}, {w / 2, -10}, {w, -10}};
  for (int32_t t = teeth - 1; t >= 0; --t) {
    r.push_back({t * 200 + 200, 100000});
    r.push_back({t * 200 + 100, 100000});
    r.push_back({t * 200 + 100, 1000});
    r.push_back({t * 200, 1000});
  }
  return r;
}

// A simple any-angle ring of n vertices round the origin: a circle with a
// wavy radius.
inline Ring Star(int32_t n, double radius) {
  Ring r;
  for (int32_t i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    const double rr = radius * (1.0 + 0.05 * std::sin(37.0 * a));
    r.push_back({int32_t(std::lround(rr * std::cos(a))), int32_t(std::lround(rr * std::sin(a)))});
  }
  return r;
}

}  // namespace velmar::ring_test
