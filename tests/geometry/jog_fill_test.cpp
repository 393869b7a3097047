// Jog fill and the edge-layer shapes (extend, shift, expand).
#include "geometry/jog_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "geometry/point_list_order.h"
#include "support/boolean_oracle.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using Points = std::vector<Point>;

// The rings of the list, after checking the header and links.
std::vector<Points> Rings(PSList& list) {
  test::ExpectConsistent(list);
  return oracle::ResultRings(list);
}

TEST(RemoveJogs, OnePassCases) {
  struct Case {
    const char* what;
    Points ring;
    int32_t length;
    int32_t removed;
    Points want;
  } cases[] = {
      {"step: corner carried to the next edge (two points removed)",
       {{0, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}}, 3, 2,
       {{0, 0}, {30, 0}, {30, 20}, {0, 20}}},
      {"a step of the jog length stays",
       {{0, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}}, 2, 0,
       {{0, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}}},
      {"oblique short edge stays",
       {{0, 0}, {10, 0}, {11, 2}, {30, 2}, {30, 20}, {0, 20}}, 5, 0,
       {{0, 0}, {10, 0}, {11, 2}, {30, 2}, {30, 20}, {0, 20}}},
      {"right turn at the jog start waits for the reversed pass",
       {{0, 0}, {10, 0}, {10, -2}, {30, -2}, {30, 20}, {0, 20}}, 3, 0,
       {{0, 0}, {10, 0}, {10, -2}, {30, -2}, {30, 20}, {0, 20}}},
      {"next edge crosses the line: its start moves onto it",
       {{0, 0}, {10, 0}, {10, 2}, {13, -1}, {30, -1}, {30, 20}, {0, 20}}, 3, 1,
       {{0, 0}, {12, 0}, {13, -1}, {30, -1}, {30, 20}, {0, 20}}},
      {"next edge ends on the line: its start goes too",
       {{0, 0}, {10, 0}, {10, 2}, {12, 0}, {12, -5}, {30, -5}, {30, 20}, {0, 20}},
       3, 2, {{0, 0}, {12, 0}, {12, -5}, {30, -5}, {30, 20}, {0, 20}}},
      {"moved corner lands on E: D goes, and E in line with A-P goes too",
       {{0, 0}, {10, 0}, {10, 2}, {12, 2}, {12, 0}, {30, 0}, {30, 20}, {0, 20}},
       3, 4, {{0, 0}, {30, 0}, {30, 20}, {0, 20}}},
      {"moved corner lands on E: E stays when its successor leaves the line",
       {{0, 0}, {10, 0}, {10, 2}, {12, 2}, {12, 0}, {20, -5}, {30, 20}, {0, 20}},
       3, 3, {{0, 0}, {12, 0}, {20, -5}, {30, 20}, {0, 20}}},
      // A 45-degree run with a one-unit perpendicular jog: D would travel
      // 2 >= 1.415 x floor(1.414) to reach the line.
      {"corner would travel too far",
       {{0, 0}, {10, 10}, {9, 11}, {19, 21}, {19, 40}, {-20, 40}, {-20, 0}}, 3,
       0, {{0, 0}, {10, 10}, {9, 11}, {19, 21}, {19, 40}, {-20, 40}, {-20, 0}}},
      {"ring of four points is kept", {{0, 0}, {2, 0}, {2, 20}, {0, 20}}, 3, 0,
       {{0, 0}, {2, 0}, {2, 20}, {0, 20}}},
  };
  for (const Case& c : cases) {
    OwnedList l;
    test::AddRing(l.list, c.ring);
    EXPECT_EQ(RemoveJogs(l.list, c.length, 0), c.removed) << c.what;
    const auto rings = Rings(l.list);
    ASSERT_EQ(rings.size(), 1u) << c.what;
    EXPECT_TRUE(test::SameCycle(rings[0], c.want)) << c.what;
    EXPECT_EQ(l.list.pointCount, int32_t(c.want.size())) << c.what;
  }
}

TEST(FillJogs, BothTurnsAreFilled) {
  struct Case {
    const char* what;
    Points ring;
    int32_t removed;
    Points want;
  } cases[] = {
      {"step up, left turn at its start",
       {{0, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}}, 2,
       {{0, 0}, {30, 0}, {30, 20}, {0, 20}}},
      {"step down, right turn at its start",
       {{0, 0}, {10, 0}, {10, -2}, {30, -2}, {30, 20}, {0, 20}}, 2,
       {{0, -2}, {30, -2}, {30, 20}, {0, 20}}},
      {"45-degree step, then a one-unit 45-degree step",
       {{0, 0}, {10, 0}, {10, 2}, {13, -1}, {30, -1}, {30, 20}, {0, 20}}, 3,
       {{0, -1}, {30, -1}, {30, 20}, {0, 20}}},
      {"collinear vertices go first",
       {{0, 0}, {5, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}}, 2,
       {{0, 0}, {30, 0}, {30, 20}, {0, 20}}},
  };
  for (const Case& c : cases) {
    OwnedList l;
    test::AddRing(l.list, c.ring);
    EXPECT_EQ(FillJogs(l.list, 3), c.removed) << c.what;
    const auto rings = Rings(l.list);
    ASSERT_EQ(rings.size(), 1u) << c.what;
    EXPECT_TRUE(test::SameCycle(rings[0], c.want)) << c.what;
  }
  // Open chains are passed over and kept as they are.
  OwnedList l;
  test::AddRing(l.list, cases[0].ring);
  test::AddChain(l.list, {{100, 0}, {110, 0}, {110, 2}, {130, 2}});
  FillJogs(l.list, 3);
  test::ExpectConsistent(l.list);
  EXPECT_EQ(l.list.pointCount, 8);
  EXPECT_TRUE(HasOpenChains(l.list));
}

// Random staircase-edged shapes: every change that jog filling makes lies
// close to the input's outline, and the result is a set of valid rings.
TEST(FillJogs, RandomLayersChangeOnlyNearTheOutline) {
  std::mt19937 rng(2123);
  for (int round = 0; round < 60; ++round) {
    std::vector<oracle::Ring> rects;
    std::uniform_int_distribution<int32_t> pos(0, 60), len(1, 30), step(1, 3);
    for (int i = 0; i < 6; ++i) {
      const int32_t x = pos(rng), y = pos(rng);
      rects.push_back({oracle::Rect(x, y, x + len(rng), y + len(rng)), 1});
      // A small step beside it.
      const int32_t s = step(rng);
      rects.push_back({oracle::Rect(x, y - s, x + len(rng), y), 1});
    }
    OwnedList merged;
    test::MergeRings(rects, merged.list);
    const auto input = oracle::ResultRings(merged.list);
    const int32_t length = 3;
    FillJogs(merged.list, length);
    const auto result = Rings(merged.list);
    oracle::ExpectCleanRings(merged.list, {});
    for (const auto& r : result) EXPECT_GE(r.size(), 3u);
    std::vector<std::vector<Point>> inputRings = input;
    for (int64_t x2 = -21; x2 < 2 * 95; x2 += 2)
      for (int64_t y2 = -21; y2 < 2 * 95; y2 += 2) {
        const bool in = oracle::ResultWinding(input, x2, y2) > 0;
        const bool out = oracle::ResultWinding(result, x2, y2) > 0;
        if (in == out) continue;
        long double best = 1e30L;
        for (const auto& r : input)
          for (size_t i = 0; i < r.size(); ++i)
            best = std::min(best, oracle::Dist2(x2 / 2.0L, y2 / 2.0L, r[i],
                                                r[(i + 1) % r.size()]));
        ASSERT_LE(std::sqrt(best), 1.415L * length)
            << "round " << round << " at (" << x2 / 2.0 << ", " << y2 / 2.0
            << ")";
      }
  }
}

TEST(EdgeShapes, MovesAndBandsOfSingleEdges) {
  struct Case {
    const char* what;
    Points chain;
    void (*op)(PSList&);
    Points want;
  } cases[] = {
      {"shift right of a rightward edge", {{0, 0}, {100, 0}},
       [](PSList& l) { ShiftEdges(l, 10); }, {{0, -10}, {100, -10}}},
      {"shift right of a leftward edge", {{100, 0}, {0, 0}},
       [](PSList& l) { ShiftEdges(l, 10); }, {{100, 10}, {0, 10}}},
      {"shift left of an upward edge", {{0, 0}, {0, 50}},
       [](PSList& l) { ShiftEdges(l, -7); }, {{-7, 0}, {-7, 50}}},
      {"extend both ends", {{0, 0}, {100, 0}},
       [](PSList& l) { ExtendEdges(l, 10); }, {{-10, 0}, {110, 0}}},
      {"shorten both ends", {{0, 100}, {0, 0}},
       [](PSList& l) { ExtendEdges(l, -10); }, {{0, 90}, {0, 10}}},
      {"extend start, shorten end", {{0, 0}, {100, 0}},
       [](PSList& l) { ExtendEdgeEnds(l, 10, -20); }, {{-10, 0}, {80, 0}}},
      {"extend a 45-degree edge", {{0, 0}, {10, 10}},
       [](PSList& l) { ExtendEdgeEnds(l, 0, 14); }, {{0, 0}, {20, 20}}},
  };
  for (const Case& c : cases) {
    OwnedList l;
    test::AddChain(l.list, c.chain);
    c.op(l.list);
    ASSERT_EQ(l.list.pointCount, 2) << c.what;
    const PSPoint* start = l.list.head->prev ? l.list.head->prev : l.list.head;
    EXPECT_EQ(test::ChainPoints(start), c.want) << c.what;
  }

  struct ExpandCase {
    int32_t d;
    Points want;
  } expands[] = {
      {3, {{0, -3}, {10, -3}, {10, 0}, {0, 0}}},
      {-3, {{0, 0}, {10, 0}, {10, 3}, {0, 3}}},
  };
  for (const ExpandCase& c : expands) {
    OwnedList edges, out;
    test::AddChain(edges.list, {{0, 0}, {10, 0}});
    ExpandEdges(edges.list, c.d, out.list);
    EXPECT_EQ(out.list.pointCount, 4);
    const auto rings = Rings(out.list);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(test::SameCycle(rings[0], c.want)) << c.d;
    EXPECT_EQ(test::ChainPoints(edges.list.head), (Points{{0, 0}, {10, 0}}));
  }
}

// Random axis-parallel edges: the expanded band is a counter-clockwise
// rectangle of the edge's length by |d| with the edge as one side, on the
// right of the edge for d > 0; shifting there and back is the identity.
TEST(EdgeShapes, RandomAxisParallelEdges) {
  std::mt19937 rng(116);
  std::uniform_int_distribution<int32_t> c(-1000, 1000), dist(-50, 50);
  for (int round = 0; round < 200; ++round) {
    const Point a(c(rng), c(rng));
    const Point b = round % 2 ? Point(a.x, c(rng)) : Point(c(rng), a.y);
    if (a == b) continue;
    const int32_t d = dist(rng);
    OwnedList edges, out;
    test::AddChain(edges.list, {a, b});
    ExpandEdges(edges.list, d, out.list);
    const auto rings = Rings(out.list);
    ASSERT_EQ(rings.size(), 1u);
    const int64_t len = std::llabs(int64_t(b.x) - a.x) + std::llabs(int64_t(b.y) - a.y);
    EXPECT_EQ(oracle::Area2(rings[0]), 2 * len * std::llabs(d));
    if (d != 0) {
      // The band's centre lies on the right of a -> b for d > 0.
      long double cx = 0, cy = 0;
      for (const Point& p : rings[0]) cx += p.x / 4.0L, cy += p.y / 4.0L;
      const long double side = (long double)(b.x - a.x) * (cy - a.y) -
                               (long double)(b.y - a.y) * (cx - a.x);
      EXPECT_EQ(side < 0, d > 0) << round;
    }
    ShiftEdges(edges.list, d);
    ShiftEdges(edges.list, -d);
    EXPECT_EQ(test::ChainPoints(edges.list.head), (Points{a, b}));
  }
}

}  // namespace
}  // namespace velmar
