// Small builders and independent checks for PSList tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar::test {

// Pushes the points as one open chain (first has no prev, last no next).
// Returns the chain's first vertex.
inline PSPoint* AddChain(PSList& list, const std::vector<Point>& pts,
                         uint16_t flags = 0) {
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (const Point& pt : pts) {
    PSPoint* p = PushPoint(list, pt.x, pt.y);
    p->flags = flags;
    if (!first) first = p;
    LinkPoints(last, p);
    last = p;
  }
  return first;
}

// Pushes the points as one closed ring (next runs in the given order) at the
// head of the list; ring count + 1. Returns the vertex of the first point.
inline PSPoint* AddRing(PSList& list, const std::vector<Point>& pts,
                        uint16_t flags = 0) {
  PSPoint* first = AddChain(list, pts, flags);
  // The point pushed last stands at the head of the list.
  if (first) LinkPoints(list.head, first);
  ++list.ringCount;
  return first;
}

// Coordinates of the ring through p, following next.
inline std::vector<Point> RingPoints(const PSPoint* p) {
  std::vector<Point> out;
  const PSPoint* q = p;
  do {
    out.emplace_back(q->x, q->y);
    q = q->next;
  } while (q && q != p);
  return out;
}

// Coordinates of the ring through p, following next, each vertex marked in
// `seen`; `end` is where the walk stopped: p for a closed ring, nullptr at
// the end of an open chain.
inline std::vector<Point> WalkRing(const PSPoint* p, std::set<const PSPoint*>& seen,
                                   const PSPoint*& end) {
  std::vector<Point> out;
  const PSPoint* q = p;
  do {
    seen.insert(q);
    out.emplace_back(q->x, q->y);
    q = q->next;
  } while (q && q != p);
  end = q;
  return out;
}

// Coordinates of the chain from its first vertex (found along prev).
inline std::vector<Point> ChainPoints(const PSPoint* p) {
  while (p->prev) p = p->prev;
  std::vector<Point> out;
  for (; p; p = p->next) out.emplace_back(p->x, p->y);
  return out;
}

// Link-chain order of the list.
inline std::vector<const PSPoint*> LinkOrder(const PSList& list) {
  std::vector<const PSPoint*> out;
  for (const PSPoint* p = list.head; p; p = p->link) out.push_back(p);
  return out;
}

// True when a and b hold the same cycle (same direction, any start).
inline bool SameCycle(const std::vector<Point>& a, const std::vector<Point>& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  for (size_t s = 0; s < b.size(); ++s) {
    bool ok = true;
    for (size_t i = 0; i < a.size() && ok; ++i)
      ok = a[i] == b[(s + i) % b.size()];
    if (ok) return true;
  }
  return false;
}

// Twice the signed area by the cross-product form of the shoelace formula
// (sum of x_i * y_{i+1} - x_{i+1} * y_i), exact in 128 bits.
inline __int128 ShoelaceArea2(const std::vector<Point>& pts) {
  __int128 s = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const Point& a = pts[i];
    const Point& b = pts[(i + 1) % pts.size()];
    s += static_cast<__int128>(a.x) * b.y - static_cast<__int128>(b.x) * a.y;
  }
  return s;
}

// Checks the header against the link chain and the ring links of every
// vertex that has them; reports through gtest.
inline void ExpectConsistent(const PSList& list) {
  int32_t n = 0;
  const PSPoint* last = nullptr;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = list.head; p; p = p->link) {
    ASSERT_TRUE(seen.insert(p).second) << "link chain loops";
    ++n;
    last = p;
    if (p->next) {
      EXPECT_EQ(p->next->prev, p);
    }
    if (p->prev) {
      EXPECT_EQ(p->prev->next, p);
    }
  }
  EXPECT_EQ(n, list.pointCount);
  EXPECT_EQ(last, list.tail);
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (p->next) {
      EXPECT_TRUE(seen.count(p->next)) << "ring leaves the list";
    }
  }
}

// Clears the list at the end of a scope.
struct ListGuard {
  PSList& list;
  ~ListGuard() { ClearPointList(list); }
};

}  // namespace velmar::test
