// Single-layer marker checks: off-grid vertices, right-angle turns,
// axis-parallel and oblique edges, edges off the 45-degree directions and
// rectangle selection, each against a brute force written here.
#include "geometry/marker_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "support/boolean_oracle.h"
#include "support/point_list_fixtures.h"
#include "support/ring_builders.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using Points = std::vector<Point>;
using Edge = std::tuple<int32_t, int32_t, int32_t, int32_t>;  // start, end

Edge MakeEdge(const Point& a, const Point& b) { return {a.x, a.y, b.x, b.y}; }
using BoxKey = std::tuple<int32_t, int32_t, int32_t, int32_t>;

// The square marker rings of a result, as sorted (x1, y1, x2, y2); fails
// the test for anything that is not a counter-clockwise four-point ring of
// a box's corners.
std::vector<BoxKey> MarkerBoxes(PSList& out) {
  std::vector<BoxKey> boxes;
  for (const auto& r : oracle::ResultRings(out)) {
    EXPECT_EQ(r.size(), 4u);
    if (r.size() != 4) continue;
    const Box b = ring_test::BoxOf(r);
    EXPECT_GE(oracle::Area2(r), 0);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(r[i].x == b.x1 || r[i].x == b.x2);
      EXPECT_TRUE(r[i].y == b.y1 || r[i].y == b.y2);
      EXPECT_TRUE(r[i].x == r[(i + 1) % 4].x || r[i].y == r[(i + 1) % 4].y);
    }
    boxes.emplace_back(b.x1, b.y1, b.x2, b.y2);
  }
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

BoxKey Square(const Point& p, int32_t half) {
  return {p.x - half, p.y - half, p.x + half, p.y + half};
}

// The two-point chains of a result, sorted; fails the test for a point
// that is not part of such a chain, or a chain whose end does not stand
// ahead of its start in the list.
std::vector<Edge> EdgeChains(const PSList& out) {
  std::vector<Edge> edges;
  int32_t points = 0;
  for (const PSPoint* p = out.head; p; p = p->link) {
    ++points;
    if (p->prev) {
      EXPECT_EQ(p->next, nullptr);
      EXPECT_EQ(p->link, p->prev) << "end ahead of start";
      continue;
    }
    EXPECT_NE(p->next, nullptr);
    if (!p->next) continue;
    EXPECT_EQ(p->next->next, nullptr);
    edges.emplace_back(p->x, p->y, p->next->x, p->next->y);
  }
  EXPECT_EQ(points, out.pointCount);
  EXPECT_EQ(points, int32_t(2 * edges.size()));
  std::sort(edges.begin(), edges.end());
  return edges;
}

// Every edge of the rings and chains, with the vertex before its start
// (start itself when the start opens a chain).
struct RingEdge {
  Point before, start, end;
  bool hasBefore;
};
std::vector<RingEdge> Edges(const std::vector<Points>& rings,
                            const std::vector<Points>& chains) {
  std::vector<RingEdge> out;
  for (const Points& r : rings)
    for (size_t i = 0; i < r.size(); ++i)
      out.push_back({r[(i + r.size() - 1) % r.size()], r[i],
                     r[(i + 1) % r.size()], true});
  for (const Points& c : chains)
    for (size_t i = 0; i + 1 < c.size(); ++i)
      out.push_back({i > 0 ? c[i - 1] : c[i], c[i], c[i + 1], i > 0});
  return out;
}

// A random ring: n vertices on a small grid, axis-parallel, 45-degree and
// other steps mixed (self-crossings allowed: the checks read vertices only).
Points RandomRing(std::mt19937& rng, int n) {
  std::uniform_int_distribution<int32_t> c(-40, 40);
  std::uniform_int_distribution<int> kind(0, 3);
  Points pts;
  Point p(c(rng), c(rng));
  for (int i = 0; i < n; ++i) {
    pts.push_back(p);
    const int32_t a = c(rng) | 1, b = c(rng);
    switch (kind(rng)) {
      case 0: p = Point(p.x + a, p.y); break;
      case 1: p = Point(p.x, p.y + a); break;
      case 2: p = Point(p.x + a, p.y + (b < 0 ? -a : a)); break;
      default: p = Point(p.x + a, p.y + b); break;
    }
  }
  // No closing edge of length 0.
  while (pts.size() > 2 && pts.back() == pts.front()) pts.pop_back();
  return pts;
}

struct Layer {
  std::vector<Points> rings, chains;
  OwnedList list;
  explicit Layer(std::mt19937& rng, int rings_ = 4, int chains_ = 2) {
    std::uniform_int_distribution<int> n(3, 9);
    for (int i = 0; i < rings_; ++i) {
      rings.push_back(RandomRing(rng, n(rng)));
      test::AddRing(list.list, rings.back());
    }
    for (int i = 0; i < chains_; ++i) {
      chains.push_back(RandomRing(rng, n(rng) - 1));
      test::AddChain(list.list, chains.back());
    }
  }
};

TEST(MarkOffGrid, GridFiveMarkersAndWindow) {
  OwnedList in;
  test::AddRing(in.list, {{-10, 7}, {-10, 15}, {-20, 15}});
  struct Case {
    int32_t size;
    Box window;
    bool useWindow;
    std::vector<BoxKey> want;
  } cases[] = {
      {4, Box(), false, {{-12, 5, -8, 9}}},
      {5, Box(), false, {{-12, 5, -8, 9}}},  // 5 >> 1 = 2, as for size 4
      {3, Box(), false, {{-11, 6, -9, 8}}},
      {0, Box(), false, {{-10, 7, -10, 7}}},
      // Window sides are inside; (-10, 7) on the lower side.
      {2, Box(-10, 7, 0, 20), true, {{-11, 6, -9, 8}}},
      {2, Box(-9, 7, 0, 20), true, {}},
      {2, Box(-30, 8, 0, 20), true, {}},
  };
  for (const Case& c : cases) {
    OwnedList out;
    const int r = MarkOffGrid(in.list, out.list, 5, c.size,
                              c.useWindow ? &c.window : nullptr);
    EXPECT_EQ(r, c.want.empty() ? 0 : 1) << c.size;
    EXPECT_EQ(out.list.pointCount, int32_t(4 * c.want.size()));
    EXPECT_EQ(MarkerBoxes(out.list), c.want) << c.size;
  }
}

TEST(MarkOffGrid, RandomVerticesAgainstFloorRemainders) {
  std::mt19937 rng(1701);
  for (int round = 0; round < 200; ++round) {
    Layer layer(rng);
    std::uniform_int_distribution<int32_t> g(1, 12), s(0, 9), w(-30, 30);
    const int32_t grid = g(rng), size = s(rng);
    Box window(w(rng), w(rng), 0, 0);
    window.x2 = window.x1 + 40;
    window.y2 = window.y1 + 40;
    const bool useWindow = round % 2 == 1;
    std::vector<BoxKey> want;
    for (const PSPoint* p = layer.list.list.head; p; p = p->link) {
      if (useWindow && !(p->x >= window.x1 && p->x <= window.x2 &&
                         p->y >= window.y1 && p->y <= window.y2))
        continue;
      // A multiple of grid is grid times its floor quotient.
      auto onGrid = [&](int32_t v) {
        return int64_t(std::floor(double(v) / grid)) * grid == v;
      };
      if (!onGrid(p->x) || !onGrid(p->y))
        want.push_back(Square(Point(p->x, p->y), size / 2));
    }
    std::sort(want.begin(), want.end());
    OwnedList out;
    EXPECT_EQ(MarkOffGrid(layer.list.list, out.list, grid, size,
                          useWindow ? &window : nullptr),
              want.empty() ? 0 : 1);
    ASSERT_EQ(MarkerBoxes(out.list), want) << "round " << round;
  }
}

TEST(MarkOffGrid, GridBelowOneIsRefused) {
  OwnedList in, out;
  test::AddRing(in.list, {{0, 0}, {7, 0}, {7, 7}});
  for (int32_t grid : {0, -5}) {
    try {
      MarkOffGrid(in.list, out.list, grid, 2, nullptr);
      ADD_FAILURE() << "grid " << grid << " accepted";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "DRC");
    }
    EXPECT_TRUE(out.list.IsEmpty());
  }
}

TEST(MarkTurn90, RectangleAndObliqueRightAngles) {
  OwnedList in, out;
  test::AddRing(in.list, {{0, 0}, {10, 0}, {10, 5}, {0, 5}});
  // Right angle at (3, 4) between (3, 4) and (-4, 3); none at the others.
  test::AddRing(in.list, {{100, 100}, {103, 104}, {99, 107}, {90, 101}});
  // Chain ends have no angle; its middle vertex is a right turn.
  test::AddChain(in.list, {{50, 50}, {60, 50}, {60, 70}});
  EXPECT_TRUE(MarkTurn90(in.list, out.list));
  const std::vector<Edge> want = {
      {0, 0, 10, 0},   {0, 5, 0, 0},     {10, 0, 10, 5},
      {10, 5, 0, 5},   {60, 50, 60, 70}, {103, 104, 99, 107},
  };
  auto sorted = want;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(EdgeChains(out.list), sorted);
  EXPECT_EQ(out.list.pointCount, 12);
}

TEST(MarkTurn90, RandomRingsAgainstDotProducts) {
  std::mt19937 rng(77);
  for (int round = 0; round < 200; ++round) {
    Layer layer(rng);
    std::vector<Edge> want;
    for (const RingEdge& e : Edges(layer.rings, layer.chains)) {
      if (!e.hasBefore || e.start == e.end) continue;
      const long double ax = e.start.x - e.before.x, ay = e.start.y - e.before.y;
      const long double bx = e.end.x - e.start.x, by = e.end.y - e.start.y;
      if (ax * bx + ay * by == 0) want.push_back(MakeEdge(e.start, e.end));
    }
    std::sort(want.begin(), want.end());
    OwnedList out;
    EXPECT_EQ(MarkTurn90(layer.list.list, out.list), !want.empty());
    ASSERT_EQ(EdgeChains(out.list), want) << "round " << round;
  }
}

TEST(SelectNon90Edges, RandomRingsBothWays) {
  std::mt19937 rng(90);
  for (int round = 0; round < 100; ++round) {
    Layer layer(rng);
    for (int nonAxis : {1, 0}) {
      std::vector<Edge> want;
      for (const RingEdge& e : Edges(layer.rings, layer.chains)) {
        const bool axis = e.start.x == e.end.x || e.start.y == e.end.y;
        if (axis != (nonAxis != 0)) want.push_back(MakeEdge(e.start, e.end));
      }
      std::sort(want.begin(), want.end());
      OwnedList out;
      EXPECT_EQ(SelectNon90Edges(layer.list.list, out.list, nonAxis),
                !want.empty());
      ASSERT_EQ(EdgeChains(out.list), want) << "round " << round;
    }
  }
  // A layer of rectangles has no oblique edge; every edge is axis-parallel.
  OwnedList rects, none, all;
  test::AddRing(rects.list, oracle::Rect(0, 0, 10, 20));
  test::AddRing(rects.list, oracle::Rect(30, 0, 40, 5));
  EXPECT_FALSE(SelectNon90Edges(rects.list, none.list, 1));
  EXPECT_TRUE(none.list.IsEmpty());
  EXPECT_TRUE(SelectNon90Edges(rects.list, all.list, 0));
  EXPECT_EQ(EdgeChains(all.list).size(), 8u);
}

TEST(MarkNon45, SmallCasesAndRandomRings) {
  {
    OwnedList in, out;
    // 45-degree edge (0,0)->(10,10); (10,10)->(0,13) and (0,13)->(0,0):
    // the first of them is marked, the vertical one is not.
    test::AddRing(in.list, {{0, 0}, {10, 10}, {0, 13}});
    // dx = 2, dy = 1 is marked; the chain's end has no outgoing edge.
    test::AddChain(in.list, {{100, 0}, {102, 1}});
    EXPECT_EQ(MarkNon45(in.list, out.list, 4, nullptr), 1);
    EXPECT_EQ(MarkerBoxes(out.list),
              (std::vector<BoxKey>{{8, 8, 12, 12}, {98, -2, 102, 2}}));
  }
  std::mt19937 rng(45);
  for (int round = 0; round < 200; ++round) {
    Layer layer(rng);
    std::uniform_int_distribution<int32_t> s(0, 9), w(-30, 30);
    const int32_t size = s(rng);
    const Box window(w(rng), w(rng), w(rng) + 60, w(rng) + 60);
    const bool useWindow = round % 2 == 0;
    std::vector<BoxKey> want;
    for (const RingEdge& e : Edges(layer.rings, layer.chains)) {
      if (useWindow && !(e.start.x >= window.x1 && e.start.x <= window.x2 &&
                         e.start.y >= window.y1 && e.start.y <= window.y2))
        continue;
      const double angle = std::atan2(double(e.end.y - e.start.y),
                                      double(e.end.x - e.start.x)) * 4 / M_PI;
      if (e.start == e.end || std::fabs(angle - std::round(angle)) < 1e-12)
        continue;
      want.push_back(Square(e.start, size / 2));
    }
    std::sort(want.begin(), want.end());
    OwnedList out;
    EXPECT_EQ(MarkNon45(layer.list.list, out.list, size,
                        useWindow ? &window : nullptr),
              want.empty() ? 0 : 1);
    ASSERT_EQ(MarkerBoxes(out.list), want) << "round " << round;
  }
}

TEST(SelectRectangles, RangesAndCandidates) {
  const LengthRange empty{1, 0, 0};
  struct Case {
    const char* what;
    Points ring;
    LengthRange first, second;
    bool selected;
  } cases[] = {
      {"10 x 20, sides in order", {{0, 0}, {10, 0}, {10, 20}, {0, 20}},
       {10, 10, 0}, {20, 20, 0}, true},
      {"10 x 20, long side first", {{10, 0}, {10, 20}, {0, 20}, {0, 0}},
       {10, 10, 0}, {20, 20, 0}, true},
      {"second range misses", {{0, 0}, {10, 0}, {10, 20}, {0, 20}},
       {10, 10, 0}, {5, 6, 0}, false},
      {"first only, either side", {{0, 0}, {10, 0}, {10, 20}, {0, 20}},
       {20, 25, 0}, empty, true},
      {"first only, neither side", {{0, 0}, {10, 0}, {10, 20}, {0, 20}},
       {11, 19, 0}, empty, false},
      {"empty first selects all", {{0, 0}, {10, 0}, {10, 20}, {0, 20}},
       empty, {5, 6, 0}, true},
      {"outside: 10 x 10 excluded", {{0, 0}, {10, 0}, {10, 10}, {0, 10}},
       {10, 10, 1}, empty, false},
      {"outside: 10 x 12 kept", {{0, 0}, {10, 0}, {10, 12}, {0, 12}},
       {10, 10, 1}, empty, true},
      {"clockwise rectangle", {{0, 0}, {0, 20}, {10, 20}, {10, 0}},
       {10, 10, 0}, {20, 20, 0}, true},
      {"one diagonal edge", {{0, 0}, {10, 0}, {10, 20}, {2, 20}},
       empty, empty, false},
      {"redundant fifth vertex", {{0, 0}, {5, 0}, {10, 0}, {10, 20}, {0, 20}},
       empty, empty, false},
      {"triangle", {{0, 0}, {10, 0}, {10, 20}}, empty, empty, false},
  };
  for (const Case& c : cases) {
    OwnedList in, out;
    test::AddRing(in.list, c.ring);
    SelectRectangles(in.list, out.list, c.first, c.second);
    const auto rings = oracle::ResultRings(out.list);
    EXPECT_EQ(rings.size(), c.selected ? 1u : 0u) << c.what;
    if (c.selected && rings.size() == 1) {
      EXPECT_TRUE(test::SameCycle(rings[0], c.ring)) << c.what;
    }
    for (const PSPoint* p = in.list.head; p; p = p->link)
      EXPECT_EQ(p->flags, 0) << c.what;
  }
  // Open chains are never candidates, closed or not.
  OwnedList in, out;
  test::AddChain(in.list, {{0, 0}, {10, 0}, {10, 20}, {0, 20}});
  test::AddChain(in.list, {{0, 0}, {10, 0}, {10, 20}, {0, 20}, {0, 0}});
  SelectRectangles(in.list, out.list, empty, empty);
  EXPECT_TRUE(out.list.IsEmpty());
}

TEST(SelectRectangles, RandomRingsAgainstBoxSides) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<int32_t> c(0, 30), len(-3, 25), kind(0, 9);
  auto randomRange = [&]() {
    LengthRange r;
    r.min = len(rng);
    r.max = len(rng);
    r.exclude = kind(rng) < 3 ? 1 : 0;
    return r;
  };
  for (int round = 0; round < 300; ++round) {
    OwnedList in, out;
    std::vector<Points> rings;
    for (int i = 0; i < 6; ++i) {
      const int32_t x = c(rng), y = c(rng), w = c(rng) + 1, h = c(rng) + 1;
      Points r = oracle::Rect(x, y, x + w, y + h);
      if (kind(rng) == 0) r[2].x += 1;  // not a rectangle
      if (kind(rng) == 0) r = oracle::Reversed(r);
      std::rotate(r.begin(), r.begin() + kind(rng) % 4, r.end());
      rings.push_back(r);
      test::AddRing(in.list, r);
    }
    const LengthRange first = randomRange(), second = randomRange();
    auto pass = [](const LengthRange& r, int64_t v) {
      const bool in = r.min <= v && v <= r.max;
      return r.exclude ? !in : in;
    };
    std::vector<Points> want;
    for (const Points& r : rings) {
      bool rect = true;
      for (size_t i = 0; i < 4; ++i)
        rect = rect && (r[i].x == r[(i + 1) % 4].x || r[i].y == r[(i + 1) % 4].y);
      if (!rect) continue;
      const Box b = ring_test::BoxOf(r);
      const int64_t w = b.x2 - b.x1, h = b.y2 - b.y1;
      bool take;
      if (first.max < first.min)
        take = true;
      else if (second.max < second.min)
        take = pass(first, w) || pass(first, h);
      else
        take = (pass(first, w) && pass(second, h)) ||
               (pass(first, h) && pass(second, w));
      if (take) want.push_back(r);
    }
    SelectRectangles(in.list, out.list, first, second);
    const auto got = oracle::ResultRings(out.list);
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    for (const Points& r : want) {
      bool found = false;
      for (const auto& g : got) found = found || test::SameCycle(g, r);
      EXPECT_TRUE(found) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace velmar
