// Self-crossing and acute-angle repairs.
#include "geometry/ring_repair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::ResultRings;
using Rings = std::vector<std::vector<Point>>;

std::vector<Point> Markers(const PSList& list) {
  std::vector<Point> out;
  for (const PSPoint* p = list.head; p; p = p->link) {
    EXPECT_EQ(p->next, nullptr);
    EXPECT_EQ(p->prev, nullptr);
    out.emplace_back(p->x, p->y);
  }
  return out;
}

// The coordinates and ring links of every vertex, in link order.
struct Snapshot {
  std::vector<Point> pos, next, prev;
  explicit Snapshot(const PSList& l) {
    for (const PSPoint* p = l.head; p; p = p->link) {
      pos.emplace_back(p->x, p->y);
      next.emplace_back(p->next->x, p->next->y);
      prev.emplace_back(p->prev->x, p->prev->y);
    }
  }
  bool operator==(const Snapshot&) const = default;
};

bool SameRingSet(Rings a, Rings b) {
  if (a.size() != b.size()) return false;
  for (const auto& r : a) {
    bool found = false;
    for (size_t i = 0; i < b.size() && !found; ++i) {
      if (test::SameCycle(r, b[i])) {
        b.erase(b.begin() + i);
        found = true;
      }
    }
    if (!found) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Self-crossing

struct TouchCase {
  const char* name;
  Rings rings;
  std::vector<Point> crossings;  // expected markers
};

// A crossing through an existing vertex splits only the other edge there:
// one created vertex, so it counts as a touch, as do T-contacts and rings
// that share a vertex.
const std::vector<TouchCase>& TouchCases() {
  static const std::vector<TouchCase> cases = {
      {"figure eight", {{{0, 0}, {10, 10}, {10, 0}, {0, 10}}}, {{5, 5}}},
      {"crossing rounded to the grid",
       {{{0, 0}, {10, 5}, {10, 0}, {0, 5}}},
       {{5, 3}}},  // (5, 2.5) rounds half up
      {"T-contact", {{{0, 0}, {10, 0}, {10, 4}, {5, 0}, {0, 4}}}, {}},
      {"shared vertex",
       {oracle::Rect(0, 0, 10, 10), oracle::Rect(10, 10, 20, 20)},
       {}},
      {"crossing through existing vertices is a touch",
       {{{0, 0}, {10, 0}, {10, 5}, {10, 8}, {10, 10}, {0, 10}},
        oracle::Rect(5, 5, 15, 8)},
       {}},
      {"two rings crossing twice",
       {oracle::Rect(0, 0, 10, 10), oracle::Rect(5, 3, 15, 7)},
       {{10, 3}, {10, 7}}},
  };
  return cases;
}

TEST(SelfTouch, HasSelfTouchLeavesTheListAlone) {
  for (const TouchCase& c : TouchCases()) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    for (const auto& r : c.rings) test::PushRing(l.list, r);
    const Snapshot before(l.list);
    EXPECT_EQ(HasSelfTouch(l.list), !c.crossings.empty());
    EXPECT_TRUE(Snapshot(l.list) == before);
    for (PSPoint* p = l.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  }
}

TEST(SelfTouch, CollectSelfTouchMarksCrossingsAndKeepsRingsWhole) {
  for (const TouchCase& c : TouchCases()) {
    SCOPED_TRACE(c.name);
    OwnedList l, out;
    for (const auto& r : c.rings) test::PushRing(l.list, r);
    test::PushRing(out.list, oracle::Rect(50, 50, 60, 60));
    EXPECT_EQ(CollectSelfTouch(l.list, out.list), !c.crossings.empty());
    // Markers are appended behind what out held.
    ASSERT_EQ(out.list.pointCount, 4 + int32_t(c.crossings.size()));
    PSPoint* m = out.list.head;
    for (int i = 0; i < 4; ++i) m = m->link;
    PSList tailPart;
    tailPart.head = m;
    std::vector<Point> got = Markers(tailPart);
    std::sort(got.begin(), got.end(), [](Point a, Point b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    EXPECT_EQ(got, c.crossings);
    // The list is whole again: its rings are the input rings.
    test::ExpectConsistent(l.list);
    EXPECT_TRUE(SameRingSet(ResultRings(l.list), c.rings));
  }
}

TEST(SelfTouch, SplitSelfTouchSeparatesFigureEight) {
  OwnedList l;
  test::PushRing(l.list, {{0, 0}, {10, 10}, {10, 0}, {0, 10}}, 0x4000);
  EXPECT_TRUE(SplitSelfTouch(l.list));
  test::ExpectConsistent(l.list);
  const Rings got = ResultRings(l.list);
  EXPECT_TRUE(SameRingSet(got, {{{0, 0}, {5, 5}, {0, 10}},
                                {{5, 5}, {10, 10}, {10, 0}}}));
  for (PSPoint* p = l.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  EXPECT_FALSE(HasSelfTouch(l.list));
}

TEST(SelfTouch, SplitSelfTouchLeavesTouchesAlone) {
  for (const TouchCase& c : TouchCases()) {
    if (!c.crossings.empty()) continue;
    SCOPED_TRACE(c.name);
    OwnedList l;
    for (const auto& r : c.rings) test::PushRing(l.list, r);
    EXPECT_FALSE(SplitSelfTouch(l.list));
    test::ExpectConsistent(l.list);
  }
}

// Random self-crossing rings: splitting re-pairs the edges at each crossing,
// so the winding number away from the edges is unchanged, and the crossing
// count equals a brute-force count of proper crossings.
TEST(SelfTouch, RandomRingsKeepWindingAndLoseCrossings) {
  std::mt19937 rng(31337);
  std::uniform_int_distribution<int32_t> c(0, 1000);
  for (int iter = 0; iter < 80; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    std::vector<Point> ring;
    for (int i = 0; i < 7; ++i) ring.emplace_back(c(rng), c(rng));
    // Brute-force proper crossings of non-adjacent edges, at their points
    // rounded half up. Rings where two crossings round onto one grid point
    // or onto a vertex are skipped: the pass then creates a third vertex
    // there, which pairs with nothing.
    int crossings = 0;
    std::vector<Point> at(ring);
    const size_t n = ring.size();
    auto orient = [](Point a, Point b, Point p) {
      const int64_t v = (int64_t(b.x) - a.x) * (int64_t(p.y) - a.y) -
                        (int64_t(b.y) - a.y) * (int64_t(p.x) - a.x);
      return (v > 0) - (v < 0);
    };
    bool degenerate = false;
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 2; j < n; ++j) {
        if (i == 0 && j == n - 1) continue;
        Point a = ring[i], b = ring[(i + 1) % n], p = ring[j], q = ring[(j + 1) % n];
        int o1 = orient(a, b, p), o2 = orient(a, b, q);
        int o3 = orient(p, q, a), o4 = orient(p, q, b);
        if (o1 * o2 < 0 && o3 * o4 < 0) {
          ++crossings;
          const long double den =
              (long double)(b.x - a.x) * (q.y - p.y) - (long double)(b.y - a.y) * (q.x - p.x);
          const long double t =
              ((long double)(p.x - a.x) * (q.y - p.y) - (long double)(p.y - a.y) * (q.x - p.x)) / den;
          const Point m(int32_t(std::floor(a.x + t * (b.x - a.x) + 0.5L)),
                        int32_t(std::floor(a.y + t * (b.y - a.y) + 0.5L)));
          for (const Point& o : at) degenerate = degenerate || o == m;
          at.push_back(m);
        }
        if (o1 == 0 || o2 == 0 || o3 == 0 || o4 == 0) degenerate = true;
      }
    if (degenerate) continue;

    OwnedList a, b, markers;
    test::PushRing(a.list, ring);
    test::PushRing(b.list, ring);
    EXPECT_EQ(HasSelfTouch(a.list), crossings > 0);
    CollectSelfTouch(b.list, markers.list);
    EXPECT_EQ(markers.list.pointCount, crossings);

    EXPECT_EQ(SplitSelfTouch(a.list), crossings > 0);
    EXPECT_NO_THROW(CheckConnectivity(a.list));
    const Rings got = ResultRings(a.list);
    for (int32_t x = 3; x < 1000; x += 17)
      for (int32_t y = 5; y < 1000; y += 19) {
        bool near = false;
        for (size_t i = 0; i < n && !near; ++i)
          near = oracle::Dist2(x, y, ring[i], ring[(i + 1) % n]) < 4;
        if (near) continue;
        ASSERT_EQ(oracle::ResultWinding(got, 2 * x, 2 * y),
                  oracle::Winding(ring, 2 * x, 2 * y))
            << "at (" << x << ", " << y << ")";
      }
  }
}

// Crossings that round onto one grid point or onto a vertex, and several
// crossings through one point, on a small grid where they are common: one
// split leaves nothing that a second split would re-link (a library repair
// run twice finds nothing more), and the winding away from the edges is
// kept.
TEST(SelfTouch, SplitIsCompleteOnDegenerateRings) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int32_t> c(0, 200);
  int crossed = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    std::vector<Point> ring;
    for (int i = 0; i < 9; ++i) ring.emplace_back(c(rng), c(rng));
    OwnedList a;
    test::PushRing(a.list, ring);
    if (!HasSelfTouch(a.list)) continue;
    ++crossed;
    OwnedList b;
    test::PushRing(b.list, ring);
    EXPECT_TRUE(SplitSelfTouch(b.list));
    ASSERT_NO_THROW(CheckConnectivity(b.list));
    const Rings got = ResultRings(b.list);
    OwnedList again;
    for (const auto& r : got) test::PushRing(again.list, r);
    EXPECT_FALSE(SplitSelfTouch(again.list));
    // Snapped crossings move edges by less than one unit: points two units
    // away from every edge keep their winding.
    for (int32_t x = 0; x <= 200; x += 3)
      for (int32_t y = 0; y <= 200; y += 3) {
        bool near = false;
        for (size_t i = 0; i < ring.size() && !near; ++i)
          near = oracle::Dist2(2 * x + 1, 2 * y + 1, Point(2 * ring[i].x, 2 * ring[i].y),
                               Point(2 * ring[(i + 1) % ring.size()].x,
                                     2 * ring[(i + 1) % ring.size()].y)) < 16;
        if (near) continue;
        ASSERT_EQ(oracle::ResultWinding(got, 2 * x + 1, 2 * y + 1),
                  oracle::Winding(ring, 2 * x + 1, 2 * y + 1))
            << "at (" << x << ".5, " << y << ".5)";
      }
  }
  EXPECT_GT(crossed, 1000);
}

TEST(SelfTouch, EmptyListHasNoTouch) {
  OwnedList l, out;
  EXPECT_FALSE(HasSelfTouch(l.list));
  EXPECT_FALSE(CollectSelfTouch(l.list, out.list));
  EXPECT_FALSE(SplitSelfTouch(l.list));
}

// ---------------------------------------------------------------------------
// Acute angles

struct AcuteCase {
  const char* name;
  std::vector<Point> ring;
  int mode;
  std::vector<Point> marked;
};

TEST(MarkAcute, ModesSelectTurnSense) {
  const std::vector<Point> triangle = {{0, 0}, {10, 0}, {0, 10}};
  const std::vector<Point> clockwise = {{0, 0}, {0, 10}, {10, 0}};
  // Spike at (20, 5): both edges leave it in the same direction.
  const std::vector<Point> spike = {{0, 0}, {10, 0}, {10, 5}, {20, 5}, {12, 5}, {0, 10}};
  const std::vector<AcuteCase> cases = {
      {"triangle, convex", triangle, 0, {{0, 10}, {10, 0}}},
      {"triangle, concave", triangle, 1, {}},
      {"triangle, both", triangle, 2, {{0, 10}, {10, 0}}},
      {"clockwise triangle, concave", clockwise, 1, {{0, 10}, {10, 0}}},
      {"clockwise triangle, convex", clockwise, 0, {}},
      {"square", oracle::Rect(0, 0, 10, 10), 2, {}},
      {"spike, convex", spike, 0, {{0, 10}}},
      {"spike, concave", spike, 1, {}},
      {"spike, every acute vertex", spike, 2, {{0, 10}, {20, 5}}},
  };
  for (const AcuteCase& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l, out;
    test::PushRing(l.list, c.ring);
    EXPECT_EQ(MarkAcute(l.list, nullptr, c.mode, 0, nullptr), !c.marked.empty());
    EXPECT_EQ(MarkAcute(l.list, &out.list, c.mode, 0, nullptr), !c.marked.empty());
    std::vector<Point> got = Markers(out.list);
    std::sort(got.begin(), got.end(), [](Point a, Point b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    EXPECT_EQ(got, c.marked);
    EXPECT_EQ(out.list.ringCount, 0);
    OwnedList ringOut;
    EXPECT_EQ(MarkAcuteRing(l.list.head, &ringOut.list, c.mode, 0),
              !c.marked.empty());
    EXPECT_EQ(ringOut.list.pointCount, int32_t(c.marked.size()));
  }
}

TEST(MarkAcute, MarkerSquaresAreCentred) {
  for (int32_t size : {10, 11, -10}) {
    SCOPED_TRACE("size " + std::to_string(size));
    OwnedList l, out;
    test::PushRing(l.list, {{0, 0}, {10, 0}, {0, 10}});
    EXPECT_TRUE(MarkAcute(l.list, &out.list, 0, size, nullptr));
    EXPECT_EQ(out.list.ringCount, 2);
    const Rings got = ResultRings(out.list);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& r : got) {
      ASSERT_EQ(r.size(), 4u);
      EXPECT_EQ(oracle::Area2(r), 2 * 10 * 10);  // counter-clockwise, 10 x 10
      Box b;
      for (const Point& p : r) b.Extend(p.x, p.y);
      const bool atA = b.x1 + b.x2 == 20 && b.y1 + b.y2 == 0;
      const bool atB = b.x1 + b.x2 == 0 && b.y1 + b.y2 == 20;
      EXPECT_TRUE(atA || atB);
    }
  }
}

TEST(MarkAcute, WindowIsClosed) {
  const std::vector<Point> triangle = {{0, 0}, {10, 0}, {0, 10}};
  struct WindowCase {
    Box window;
    int marked;
  };
  const std::vector<WindowCase> cases = {
      {Box(10, 0, 20, 20), 1},    // (10, 0) on the left and bottom sides
      {Box(-5, -5, 10, 0), 1},    // (10, 0) on the right and top sides
      {Box(-5, 10, 0, 15), 1},    // (0, 10) on a corner
      {Box(11, 0, 20, 20), 0},
      {Box(-20, -20, 20, 20), 2},
  };
  for (const WindowCase& c : cases) {
    OwnedList l, out;
    test::PushRing(l.list, triangle);
    EXPECT_EQ(MarkAcute(l.list, &out.list, 2, 0, &c.window), c.marked > 0);
    EXPECT_EQ(out.list.pointCount, c.marked);
  }
}

// Trimming moves an acute vertex along one of its edges; the edge is
// shortened by the length at both ends and the vertex takes the new start
// when the angle there has opened to 90 degrees or more.
TEST(TrimAcute, MovesAlongTheEdgeThatOpensTheAngle) {
  struct TrimCase {
    const char* name;
    std::vector<Point> ring;
    int32_t length;
    int moved;
    Point from, to;
  };
  const std::vector<TrimCase> cases = {
      // Left turn: the edge to the next vertex (9, 2) keeps the angle acute
      // ((9, 3) sees (0, 0) and (10, -1) at a positive dot product), the edge
      // to the previous vertex opens it at (7, 0).
      {"left turn, previous edge", {{0, 0}, {10, 0}, {9, 2}, {9, 10}, {0, 10}},
       3, 1, {10, 0}, {7, 0}},
      // Mirror image: the edge to the next vertex opens it at once.
      {"left turn, next edge", {{0, 10}, {-9, 10}, {-9, 2}, {-10, 0}, {0, 0}},
       3, 1, {-10, 0}, {-7, 0}},
      // Clockwise ring: a right turn tries the previous edge first.
      {"right turn, previous edge",
       {{0, 0}, {-10, 0}, {-9, 2}, {-9, 10}, {0, 10}}, 3, 1, {-10, 0}, {-7, 0}},
      {"length 0 moves nothing", {{0, 0}, {10, 0}, {9, 2}, {9, 10}, {0, 10}},
       0, 0, {10, 0}, {10, 0}},
  };
  for (const TrimCase& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    test::PushRing(l.list, c.ring);
    EXPECT_EQ(TrimAcute(l.list, c.length), c.moved);
    std::vector<Point> want = c.ring;
    for (Point& p : want)
      if (p == c.from) p = c.to;
    const Rings got = ResultRings(l.list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(test::SameCycle(got[0], want));
  }
}

// An open chain among the rings: its ends have a single neighbour and no
// angle; they stay, the chain's inner acute vertex and the ring's move.
TEST(TrimAcute, OpenChainEndsHaveNoAngle) {
  OwnedList l;
  test::AddChain(l.list, {{100, 0}, {110, 0}, {109, 2}});
  test::PushRing(l.list, {{0, 0}, {10, 0}, {9, 2}, {9, 10}, {0, 10}});
  EXPECT_EQ(TrimAcute(l.list, 3), 2);
  int ends = 0;
  for (PSPoint* p = l.list.head; p; p = p->link) {
    if (p->next && p->prev) continue;
    ++ends;
    EXPECT_TRUE((p->x == 100 && p->y == 0) || (p->x == 109 && p->y == 2));
  }
  EXPECT_EQ(ends, 2);
}

}  // namespace
}  // namespace velmar
