// Line-end test: the edge between two convex right angles whose neighbouring
// edges are long enough. Hand-made rings for the shapes that matter (turns,
// angles, open chains, extreme coordinates) and random axis-parallel closed
// walks against an oracle that reasons with edge directions only.
#include "geometry/line_end.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::AddChain;
using test::AddRing;

// Vertices of the ring through first, in ring order.
std::vector<PSPoint*> RingOrder(PSPoint* first) {
  std::vector<PSPoint*> out;
  PSPoint* q = first;
  do {
    out.push_back(q);
    q = q->next;
  } while (q && q != first);
  return out;
}

// Indexes of the ring vertices whose outgoing edge the test takes as a line end.
std::vector<int> LineEnds(PSPoint* first, int64_t minSide) {
  std::vector<int> out;
  std::vector<PSPoint*> ring = RingOrder(first);
  for (size_t i = 0; i < ring.size(); ++i) {
    if (IsLineEnd(ring[i], minSide)) out.push_back(int(i));
  }
  return out;
}

TEST(LineEnd, TableOfRings) {
  struct Case {
    const char* what;
    std::vector<Point> ring;
    int64_t minSide;
    std::vector<int> ends;
  };
  const int32_t B = INT32_MAX, S = INT32_MIN;
  const Case cases[] = {
      {"100 x 1000 line: its two short edges", {{0, 0}, {100, 0}, {100, 1000}, {0, 1000}}, 1000, {0, 2}},
      {"sides shorter than the minimum", {{0, 0}, {100, 0}, {100, 1000}, {0, 1000}}, 1001, {}},
      {"minimum 0: every edge of a rectangle", {{0, 0}, {100, 0}, {100, 1000}, {0, 1000}}, 0, {0, 1, 2, 3}},
      {"clockwise ring: no convex corner", {{0, 0}, {0, 1000}, {100, 1000}, {100, 0}}, 10, {}},
      {"rotated right angles (3,4) x (-40,30)", {{0, 0}, {3, 4}, {-37, 34}, {-40, 30}}, 50, {0, 2}},
      {"rhombus: no right angle", {{0, 0}, {10, 0}, {15, 10}, {5, 10}}, 1, {}},
      // L shape: the concave corner at (10,10) spoils the two edges meeting it.
      {"L shape", {{0, 0}, {30, 0}, {30, 10}, {10, 10}, {10, 30}, {0, 30}}, 10, {0, 1, 4, 5}},
      // A collinear vertex on a side splits it: its halves are the neighbours.
      {"collinear vertex shortens a side", {{0, 0}, {10, 0}, {10, 50}, {10, 100}, {0, 100}}, 60, {}},
      {"extreme coordinates", {{S, S}, {B, S}, {B, B}, {S, B}}, int64_t(B) * 2 + 1, {0, 1, 2, 3}},
      {"extreme coordinates, one unit too long", {{S, S}, {B, S}, {B, B}, {S, B}}, int64_t(B) * 2 + 2, {}},
  };
  for (const Case& c : cases) {
    PSList list;
    PSPoint* first = AddRing(list, c.ring);
    EXPECT_EQ(LineEnds(first, c.minSide), c.ends) << c.what;
    ClearPointList(list);
  }
}

TEST(LineEnd, OpenChainEndsAreNeverLineEnds) {
  PSList list;
  // The middle edge of the chain is a line end; the vertices lacking a
  // neighbour that the test reads are not.
  PSPoint* a = AddChain(list, {{0, 100}, {0, 0}, {10, 0}, {10, 100}});
  std::vector<bool> got;
  for (PSPoint* p = a; p; p = p->next) got.push_back(IsLineEnd(p, 50));
  EXPECT_EQ(got, (std::vector<bool>{false, true, false, false}));
  ClearPointList(list);
}

// Random closed axis-parallel walks; the oracle turns direction vectors:
// the corner at v is a convex right angle when the outgoing direction is the
// incoming one turned left by a quarter.
TEST(LineEnd, RandomAxisParallelWalksAgainstDirections) {
  std::mt19937 rng(1711);
  std::uniform_int_distribution<int> len(1, 40);
  std::uniform_int_distribution<int> coin(0, 1);
  for (int trial = 0; trial < 400; ++trial) {
    // Alternating horizontal and vertical moves from (0, 0); the last
    // vertical move goes below every vertex, then the walk closes along
    // y = -k and x = 0. Every edge has a length and turns at both ends.
    std::vector<Point> pts;
    int32_t x = 0, y = 0;
    do {
      pts.assign(1, Point(0, 0));
      x = y = 0;
      for (int i = 0; i < 2 * (1 + trial % 6); ++i) {
        const int32_t d = (coin(rng) ? 1 : -1) * len(rng);
        if (i % 2 == 0) x += d; else y += d;
        pts.push_back(Point(x, y));
      }
    } while (x == 0);
    const int32_t k = 40 * 6 + len(rng);
    pts.back().y = -k;
    pts.push_back(Point(0, -k));
    const int n = int(pts.size());
    const int64_t minSide = len(rng);
    PSList list;
    PSPoint* first = AddRing(list, pts);
    auto dir = [&](int i) {
      const Point& a = pts[i % n];
      const Point& b = pts[(i + 1) % n];
      return Point((b.x > a.x) - (b.x < a.x), (b.y > a.y) - (b.y < a.y));
    };
    auto length = [&](int i) {
      const Point& a = pts[i % n];
      const Point& b = pts[(i + 1) % n];
      return std::hypot(double(b.x - a.x), double(b.y - a.y));
    };
    auto leftTurn = [&](int in) {  // corner at the end of edge `in`
      const Point d = dir(in), e = dir(in + 1);
      return e.x == -d.y && e.y == d.x;
    };
    std::vector<int> want;
    for (int i = 0; i < n; ++i) {
      const int prev = (i + n - 1) % n;
      if (leftTurn(prev) && leftTurn(i) && length(prev) >= double(minSide) &&
          length(i + 1) >= double(minSide)) {
        want.push_back(i);
      }
    }
    EXPECT_EQ(LineEnds(first, minSide), want) << "trial " << trial;
    ClearPointList(list);
  }
}

}  // namespace
}  // namespace velmar
