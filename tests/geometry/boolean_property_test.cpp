// Randomised properties of the booleans on axis-parallel rectangles, where
// every result is exact: area identities between the operations, agreement
// with the grid oracle, idempotent merging. Fixed seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"

namespace velmar {
namespace {

using oracle::i128;
using oracle::Ring;

std::vector<Ring> RandomRects(std::mt19937& rng, int layer, int maxCount, int grid) {
  std::uniform_int_distribution<int> count(1, maxCount);
  std::uniform_int_distribution<int> coord(0, grid);
  std::vector<Ring> rings;
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    int x1 = coord(rng), x2 = coord(rng), y1 = coord(rng), y2 = coord(rng);
    if (x1 == x2) ++x2;
    if (y1 == y2) ++y2;
    rings.push_back({oracle::Rect(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2),
                                  std::max(y1, y2)),
                     layer});
  }
  return rings;
}

// Twice the area of the result of `code`, with the result's structure
// checked; the result rings are returned through `rings`.
i128 Area2Of(const std::vector<Ring>& in, int code,
             std::vector<std::vector<Point>>* rings = nullptr) {
  oracle::OwnedList out;
  auto r = oracle::RunBoolean(in, code, out.list);
  oracle::ExpectCleanRings(out.list, r);
  if (rings) *rings = r;
  return oracle::TotalArea2(r);
}

// Sample points (x2 / 2, y2 / 2): x2 from first below xEnd, y2 from first
// below yEnd, both in steps of step. With skipNearEdges, points closer than
// 2 units to an input edge are passed over (rounding the crossings moves an
// edge by less than one unit).
struct SampleGrid {
  int first, xEnd, yEnd, step;
  bool skipNearEdges;
};

// Runs boolean `code` on the rings and checks the result's winding number
// against the oracle's rule at every sample point of the grid.
void ExpectOracleWindings(const std::vector<Ring>& in, int code, const SampleGrid& grid) {
  std::vector<std::vector<Point>> rings;
  try {
    Area2Of(in, code, &rings);
  } catch (const Error& e) {
    FAIL() << "code " << code << ": " << e.Unit() << ": " << e.Message();
  }
  for (int x2 = grid.first; x2 < grid.xEnd; x2 += grid.step)
    for (int y2 = grid.first; y2 < grid.yEnd; y2 += grid.step) {
      bool near = false;
      for (const Ring& r : in)
        for (size_t k = 0; k < r.pts.size() && grid.skipNearEdges && !near; ++k)
          near = oracle::Dist2(x2 / 2.0L, y2 / 2.0L, r.pts[k], r.pts[(k + 1) % r.pts.size()]) < 4;
      if (near) continue;
      int w1, w2;
      oracle::Windings(in, x2, y2, w1, w2);
      ASSERT_EQ(oracle::ResultWinding(rings, x2, y2), oracle::InsideBy(code, w1, w2) ? 1 : 0)
          << "code " << code << " at (" << x2 / 2.0 << ", " << y2 / 2.0 << ")";
    }
}

// Rings as a canonical set: each rotated to start at its smallest vertex.
std::vector<std::vector<Point>> Canonical(std::vector<std::vector<Point>> rings) {
  for (auto& r : rings) {
    auto it = std::min_element(r.begin(), r.end(), [](const Point& a, const Point& b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    std::rotate(r.begin(), it, r.end());
  }
  std::sort(rings.begin(), rings.end(), [](const auto& a, const auto& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](const Point& p, const Point& q) {
                                          return p.x != q.x ? p.x < q.x : p.y < q.y;
                                        });
  });
  return rings;
}

TEST(BooleanProperties, AreaIdentitiesAndOracleOnRandomRectangles) {
  std::mt19937 rng(20240611);
  for (int iter = 0; iter < 1500; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    const int grid = iter % 3 == 0 ? 12 : 40;  // small grids force shared edges
    std::vector<Ring> a = RandomRects(rng, 1, 6, grid);
    std::vector<Ring> b = RandomRects(rng, 2, 6, grid);
    std::vector<Ring> ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    try {
      const i128 orArea = Area2Of(ab, 2);
      const i128 xorArea = Area2Of(ab, 8);
      const i128 andArea = Area2Of(ab, 5);
      const i128 diffArea = Area2Of(ab, 6);
      const i128 mergeA = Area2Of(a, 0);
      EXPECT_TRUE(orArea == xorArea + andArea);
      EXPECT_TRUE(mergeA == diffArea + andArea);
      EXPECT_TRUE(orArea == 2 * oracle::ManhattanArea(ab, 2));
      EXPECT_TRUE(andArea == 2 * oracle::ManhattanArea(ab, 5));
      EXPECT_TRUE(xorArea == 2 * oracle::ManhattanArea(ab, 8));
      EXPECT_TRUE(mergeA == 2 * oracle::ManhattanArea(a, 0));
      EXPECT_TRUE(Area2Of(a, 3) == 2 * oracle::ManhattanArea(a, 3));
    } catch (const Error& e) {
      FAIL() << e.Unit() << ": " << e.Message();
    }
    if (HasFailure()) break;
  }
}

// Every result also has the right shape point by point: the winding number
// of the result rings at each cell centre is 0 or 1 and matches the oracle.
TEST(BooleanProperties, ResultsMatchTheOracleAtEveryCell) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 300; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    std::vector<Ring> in = RandomRects(rng, 1, 5, 16);
    std::vector<Ring> b = RandomRects(rng, 2, 5, 16);
    in.insert(in.end(), b.begin(), b.end());
    for (int code : {0, 2, 3, 5, 6, 8})
      ASSERT_NO_FATAL_FAILURE(ExpectOracleWindings(in, code, {1, 2 * 17, 2 * 17, 2, false}));
  }
}

// Octagons and diamonds with 45-degree edges cross at half-unit points,
// which the engine rounds to the grid. The results must still be closed,
// non-overlapping, correctly oriented rings: the winding number of the
// result is 0 or 1 and matches the oracle at every sample point farther
// than 2 units from any edge (rounding moves an edge by less than 1 unit).
TEST(BooleanProperties, FortyFiveDegreeShapesGiveConsistentRings) {
  std::mt19937 rng(45);
  std::uniform_int_distribution<int> c(0, 60);
  for (int iter = 0; iter < 200; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    std::vector<Ring> in;
    const int n = 1 + int(rng() % 3);
    for (int i = 0; i < 2 * n; ++i) {
      int x1 = c(rng), x2 = c(rng), y1 = c(rng), y2 = c(rng);
      if (x1 > x2) std::swap(x1, x2);
      if (y1 > y2) std::swap(y1, y2);
      if (x2 - x1 < 4 || y2 - y1 < 4) {
        --i;
        continue;
      }
      const int k = 1 + int(rng() % (std::min(x2 - x1, y2 - y1) / 2));
      std::vector<Point> pts = {{x1 + k, y1}, {x2 - k, y1}, {x2, y1 + k}, {x2, y2 - k},
                                {x2 - k, y2}, {x1 + k, y2}, {x1, y2 - k}, {x1, y1 + k}};
      if (rng() % 3 == 0) {
        const int cx = (x1 + x2) / 2, h = (y2 - y1) / 2;
        pts = {{cx, y1}, {cx + h, y1 + h}, {cx, y1 + 2 * h}, {cx - h, y1 + h}};
      }
      in.push_back({pts, i < n ? 1 : 2});
    }
    for (int code : {0, 2, 3, 5, 6, 8})
      ASSERT_NO_FATAL_FAILURE(ExpectOracleWindings(in, code, {-1, 2 * 90, 2 * 70, 6, true}));
  }
}

// Triangles at any angle cross between grid points; the engine rounds the
// crossings, which moves pieces of edges and can turn thin slivers inside
// out. Every result must still be closed rings ("Polygon connection
// failed" must not occur), and away from the edges (rounding moves an edge
// by less than one unit) the result's winding number must match the oracle.
// DIFF is left out: its rule has no inside or outside for a region whose
// first-operand count is negative or whose second-operand count is negative
// with a positive first, and rounding can make such slivers.
TEST(BooleanProperties, GeneralAngleTrianglesGiveClosedConsistentRings) {
  std::mt19937 rng(2718);
  std::uniform_int_distribution<int32_t> coord(0, 300);
  for (int iter = 0; iter < 600; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    std::vector<Ring> in;
    const int n = 1 + int(rng() % 3);
    while (int(in.size()) < 2 * n) {
      std::vector<Point> t = {{coord(rng), coord(rng)}, {coord(rng), coord(rng)},
                              {coord(rng), coord(rng)}};
      const i128 a = oracle::Area2(t);
      if (a == 0) continue;
      if (a < 0) t = oracle::Reversed(t);
      in.push_back({t, int(in.size()) < n ? 1 : 2});
    }
    for (int code : {0, 2, 3, 5, 8})
      ASSERT_NO_FATAL_FAILURE(ExpectOracleWindings(in, code, {1, 2 * 300, 2 * 300, 30, true}));
  }
}

// Stacks of thin skewed rings, many deep, each crossing itself once (a bow
// tie that winds counter-clockwise overall) and crossing every ring of its
// stack: thousands of crossings more than edges, the kind of input that
// unions merge a few rings at a time. Optionally framed by a ring with a
// clockwise hole, which must be merged together with its frame.
std::vector<Ring> SliverStacks(std::mt19937& rng, bool framed) {
  std::uniform_int_distribution<int> jitter(0, 6);
  std::vector<Ring> in;
  for (int col = 0; col < 16; ++col)
    for (int k = 0; k < 70; ++k) {
      const int32_t x = 40 * col + jitter(rng), y = 5 * k + jitter(rng);
      std::vector<Point> t = {{x, y}, {x + 30 + jitter(rng), y + 600},
                              {x + 11, y + 3 + jitter(rng)}, {x, y + 150 + jitter(rng)}};
      if (oracle::Area2(t) < 0) t = oracle::Reversed(t);
      in.push_back({t, (col + k) % 3 == 0 ? 2 : 1});
    }
  if (framed) {
    in.push_back({oracle::Rect(-50, -200, 700, -20), 1});
    in.push_back({oracle::Reversed(oracle::Rect(-30, -180, 680, -40)), 1});
  }
  return in;
}

TEST(BooleanProperties, DeepStacksOfCrossingSliversMergeLikeTheOracle) {
  std::mt19937 rng(4242);
  const std::pair<bool, int> cases[] = {{false, 0}, {false, 2}, {true, 0}};
  for (const auto& [framed, code] : cases) {
    SCOPED_TRACE(std::string(framed ? "framed, " : "") + "code " + std::to_string(code));
    const std::vector<Ring> in = SliverStacks(rng, framed);
    ASSERT_NO_FATAL_FAILURE(ExpectOracleWindings(in, code, {-399, 2 * 700, 2 * 1100, 29, true}));
  }
}

// Tall stacks of small random rings of four to seven vertices (simple ones,
// bow ties, rings crossing or touching themselves several times, lobes
// thinner than a unit) and a few of nine to twelve, each turned to wind
// counter-clockwise overall: dense enough to be merged a few rings at a
// time. A ring that winds both ways covers each of its lobes, and a ring
// that winds one way and has positive area winds counter-clockwise: either
// way the merge covers exactly the points that some ring winds around.
// Samples closer than two units to an input edge are passed over (rounded
// crossings move edges by less than that).
TEST(BooleanProperties, StacksOfSelfCrossingRingsMergeToEveryLobe) {
  for (const uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<Ring> in;
    std::vector<Box> boxes;
    for (int col = 0; col < 20; ++col)
      for (int k = 0; k < 60; ++k) {
        const int32_t bx = 80 * col + int32_t(rng() % 9), by = 25 * k + int32_t(rng() % 9);
        const int width = k % 7 == 0 ? 2 : 100;
        const size_t n = k % 17 == 0 ? 9 + rng() % 4 : 4 + rng() % 4;
        std::vector<Point> pts;
        while (pts.size() < n)
          pts.push_back(Point(bx + int32_t(rng() % (width + 1)), by + int32_t(rng() % 401)));
        const i128 a = oracle::Area2(pts);
        if (a == 0) continue;
        if (a < 0) pts = oracle::Reversed(pts);
        Box b;
        for (const Point& p : pts) b.Extend(p.x, p.y);
        in.push_back({pts, 1});
        boxes.push_back(b);
      }
    std::vector<std::vector<Point>> result;
    try {
      Area2Of(in, 0, &result);
    } catch (const Error& e) {
      FAIL() << e.Unit() << ": " << e.Message();
    }
    // The rings near each stretch of 20 units along x.
    std::vector<std::vector<size_t>> near(90);
    for (size_t r = 0; r < in.size(); ++r)
      for (int32_t c = (boxes[r].x1 - 2) / 20; c <= (boxes[r].x2 + 2) / 20; ++c)
        near[size_t(c)].push_back(r);
    const oracle::RowWinding got(result, 20);
    int inside = 0;
    for (int64_t x2 = 1; x2 < 2 * 1720; x2 += 13)
      for (int64_t y2 = -1; y2 < 2 * 1920; y2 += 13) {
        bool close = false, want = false;
        for (const size_t r : near[size_t(x2 / 40)]) {
          const Box& b = boxes[r];
          if (y2 < 2 * int64_t(b.y1) - 4 || y2 > 2 * int64_t(b.y2) + 4) continue;
          const std::vector<Point>& pts = in[r].pts;
          for (size_t k = 0; k < pts.size() && !close; ++k)
            close = oracle::Dist2(x2 / 2.0L, y2 / 2.0L, pts[k], pts[(k + 1) % pts.size()]) < 4;
          if (close) break;
          want = want || oracle::Winding(pts, x2, y2) != 0;
        }
        if (close) continue;
        inside += want;
        ASSERT_EQ(got.At(x2, y2), want ? 1 : 0) << "at (" << x2 / 2.0 << ", " << y2 / 2.0 << ")";
      }
    EXPECT_GT(inside, 1000);
  }
}

// An array of one stack of crossing slivers: 32 copies of 64 rings, side by
// side, each copy overlapping its neighbours, as a cell placed in an array
// gives them. The union merges the rings a few at a time, and the groups
// of a copy repeat those of the others moved by whole units. The union
// must match the oracle, and moving the whole array must move its union
// exactly: the same rings, vertex for vertex, in the same order.
TEST(BooleanProperties, ArrayOfOneSliverStackMergesLikeItsCopies) {
  std::mt19937 rng(777);
  std::uniform_int_distribution<int> jitter(0, 6);
  std::vector<Ring> stack;
  for (int k = 0; k < 64; ++k) {
    const int32_t x = jitter(rng), y = 5 * k + jitter(rng);
    std::vector<Point> t = {{x, y}, {x + 30 + jitter(rng), y + 600},
                            {x + 11, y + 3 + jitter(rng)}, {x, y + 150 + jitter(rng)}};
    if (oracle::Area2(t) < 0) t = oracle::Reversed(t);
    stack.push_back({t, 1});
  }
  auto array = [&](int32_t dx, int32_t dy) {
    std::vector<Ring> in;
    for (int32_t copy = 0; copy < 32; ++copy)
      for (const Ring& r : stack) {
        Ring m = r;
        for (Point& p : m.pts) p = Point(p.x + 29 * copy + dx, p.y + dy);
        in.push_back(m);
      }
    return in;
  };
  const std::vector<Ring> in = array(0, 0);
  ASSERT_NO_FATAL_FAILURE(ExpectOracleWindings(in, 0, {-9, 2 * 960, 2 * 940, 23, true}));

  oracle::OwnedList out;
  const auto base = oracle::RunBoolean(in, 0, out.list);
  ASSERT_FALSE(base.empty());
  for (const auto& [dx, dy] : {std::pair<int32_t, int32_t>{1000003, -777777}, {-40961, 3}}) {
    SCOPED_TRACE("moved by " + std::to_string(dx) + ", " + std::to_string(dy));
    oracle::OwnedList movedOut;
    auto moved = oracle::RunBoolean(array(dx, dy), 0, movedOut.list);
    for (auto& r : moved)
      for (Point& p : r) p = Point(p.x - dx, p.y - dy);
    EXPECT_EQ(moved, base);
  }
}

TEST(BooleanProperties, MergingIsIdempotent) {
  std::mt19937 rng(99);
  for (int iter = 0; iter < 500; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    std::vector<Ring> a = RandomRects(rng, 1, 8, 20);
    std::vector<std::vector<Point>> once, twice;
    Area2Of(a, 0, &once);
    std::vector<Ring> again;
    for (const auto& r : once) again.push_back({r, 1});
    Area2Of(again, 0, &twice);
    ASSERT_EQ(Canonical(once).size(), Canonical(twice).size());
    EXPECT_TRUE(Canonical(once) == Canonical(twice));
  }
}

}  // namespace
}  // namespace velmar
