// Booleans of the scan-line engine against an independent oracle.
//
// For every fixture and operation the result must be closed rings with the
// inside on their left (outer rings counter-clockwise, holes clockwise): the
// winding number of the result at every sample point is 0 or 1 and equals
// the oracle's inside test on the input rings. Its area must equal the
// oracle's: exactly (64-bit and wider) for axis-parallel input, where every
// crossing lies on the grid. Where edges at other angles cross between grid
// points the engine rounds the crossing point to the grid (half up), which
// moves each such vertex by at most sqrt(2)/2; the area may then differ from
// the exact area by at most sqrt(2)/4 times the two edge lengths at every
// rounded vertex, and that bound is the tolerance used.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"

namespace velmar {
namespace {

using oracle::i128;
using oracle::Rect;
using oracle::Reversed;
using oracle::Ring;

struct Fixture {
  std::string name;
  std::vector<Ring> rings;
  bool manhattan;
  std::vector<int> codes;
  // Area of regions thinner than a grid unit, which rounding may remove
  // whole (no result vertex is left to bound their loss).
  long double slack = 0;
};

const std::vector<int> kAllCodes = {0, 2, 3, 5, 6, 8};

std::vector<Ring> Scaled(std::vector<Ring> rings, int32_t f) {
  for (Ring& r : rings)
    for (Point& p : r.pts) {
      p.x *= f;
      p.y *= f;
    }
  return rings;
}

std::vector<Fixture> Fixtures() {
  std::vector<Fixture> f;
  f.push_back({"overlapping", {{Rect(0, 0, 10, 10), 1}, {Rect(5, 5, 15, 15), 2}}, true, kAllCodes});
  f.push_back({"abutting", {{Rect(0, 0, 10, 10), 1}, {Rect(10, 3, 20, 13), 2}}, true, kAllCodes});
  f.push_back({"corner-touching", {{Rect(0, 0, 10, 10), 1}, {Rect(10, 10, 20, 20), 2}}, true, kAllCodes});
  f.push_back({"identical", {{Rect(0, 0, 10, 10), 1}, {Rect(0, 0, 10, 10), 2}}, true, kAllCodes});
  f.push_back({"nested", {{Rect(0, 0, 30, 30), 1}, {Rect(10, 10, 20, 20), 2}}, true, kAllCodes});
  f.push_back({"nested-inverse", {{Rect(10, 10, 20, 20), 1}, {Rect(0, 0, 30, 30), 2}}, true, kAllCodes});
  f.push_back({"ring-with-hole",
               {{Rect(0, 0, 30, 30), 1},
                {Reversed(Rect(10, 10, 20, 20)), 1},
                {Rect(15, -5, 25, 40), 2}},
               true, kAllCodes});
  f.push_back({"one-layer-overlaps",
               {{Rect(0, 0, 10, 10), 1},
                {Rect(5, 5, 15, 15), 1},
                {Rect(20, 0, 30, 10), 1},
                {Rect(8, 0, 22, 4), 2}},
               true, kAllCodes});
  f.push_back({"three-at-one-point",
               {{Rect(0, 0, 10, 10), 1}, {Rect(10, 10, 20, 20), 1}, {Rect(10, 0, 20, 10), 2}},
               true, kAllCodes});
  f.push_back({"staircase",
               {{{{0, 0}, {40, 0}, {40, 10}, {30, 10}, {30, 20}, {20, 20}, {20, 30}, {0, 30}}, 1},
                {{{10, 5}, {50, 5}, {50, 35}, {35, 35}, {35, 15}, {10, 15}}, 2}},
               true, kAllCodes});
  f.push_back({"clockwise-ring",
               {{Reversed(Rect(0, 0, 10, 10)), 1}, {Rect(20, 0, 30, 10), 1}, {Rect(5, 5, 25, 8), 2}},
               true, {2, 5, 8, 9}});
  f.push_back({"diamond-45",
               {{{{10, 0}, {20, 10}, {10, 20}, {0, 10}}, 1}, {Rect(10, 5, 25, 15), 2}},
               false, kAllCodes});
  f.push_back({"diamonds-off-grid-crossings",
               {{{{10, 0}, {20, 10}, {10, 20}, {0, 10}}, 1},
                {{{15, 1}, {25, 11}, {15, 21}, {5, 11}}, 2}},
               false, kAllCodes});
  f.push_back({"general-triangles",
               {{{{0, 0}, {100, 7}, {30, 90}}, 1}, {{{50, -10}, {80, 80}, {-5, 40}}, 2}},
               false, kAllCodes});
  f.push_back({"three-wedges-at-one-point",
               {{{{0, 0}, {100, 0}, {100, 40}}, 1},
                {{{0, 0}, {-30, 100}, {-90, 70}}, 1},
                {{{0, 0}, {-80, -60}, {10, -100}}, 1},
                {Rect(-20, -20, 20, 20), 2}},
               false, kAllCodes});
  // Thin triangles whose crossings round onto one grid point: a rounded
  // crossing turns a sliver of one ring clockwise and moves pieces of edges
  // that the sweep would otherwise have classified before the move (the
  // kept edges then failed to close: "Polygon connection failed").
  f.push_back({"rounding-inverts-a-sliver",
               {{{{181, 44}, {172, 46}, {133, 38}}, 1}, {{{135, 39}, {39, 18}, {149, -5}}, 2}},
               false, kAllCodes, 0.5L});
  f.push_back({"rounding-collapses-an-overlap",
               {{{{95, 325}, {87, 249}, {176, 138}}, 1}, {{{146, 267}, {134, 267}, {140, 219}}, 2}},
               false, kAllCodes, 1.0L});
  // Coordinates spanning most of the int32 range: products and areas need
  // more than 64 bits in the intermediate steps.
  f.push_back({"large-manhattan",
               {{Rect(-1000000000, -1000000000, 500000000, 500000000), 1},
                {Reversed(Rect(-500000000, -500000000, 0, 0)), 1},
                {Rect(-200000000, -1500000000, 1000000000, 200000000), 2}},
               true, kAllCodes});
  f.push_back({"large-general",
               Scaled({{{{0, 0}, {100, 7}, {30, 90}}, 1}, {{{50, -10}, {80, 80}, {-5, 40}}, 2}},
                      10000000),
               false, kAllCodes});
  f.push_back({"span-above-2^17",
               Scaled({{{{10, 0}, {20, 10}, {10, 20}, {0, 10}}, 1},
                       {{{15, 1}, {25, 11}, {15, 21}, {5, 11}}, 2}},
                      30001),
               false, kAllCodes});
  return f;
}

// Input edges, for the tolerance and the sampling of general fixtures.
struct InputEdge {
  Point a, b;
};

std::vector<InputEdge> EdgesOf(const std::vector<Ring>& rings) {
  std::vector<InputEdge> e;
  for (const Ring& r : rings)
    for (size_t i = 0; i < r.pts.size(); ++i)
      e.push_back({r.pts[i], r.pts[(i + 1) % r.pts.size()]});
  return e;
}

bool OnSegment(const Point& p, const InputEdge& e) {
  const i128 cr = i128(int64_t(e.b.x) - e.a.x) * (int64_t(p.y) - e.a.y) -
                  i128(int64_t(e.b.y) - e.a.y) * (int64_t(p.x) - e.a.x);
  return cr == 0 && p.x >= std::min(e.a.x, e.b.x) && p.x <= std::max(e.a.x, e.b.x) &&
         p.y >= std::min(e.a.y, e.b.y) && p.y <= std::max(e.a.y, e.b.y);
}

long double Length(const Point& a, const Point& b) {
  return std::hypot((long double)b.x - a.x, (long double)b.y - a.y);
}

// Bound of the area change from rounding: every result vertex that is not
// exactly on two input edges (an input vertex or an exact crossing) is a
// rounded crossing.
long double RoundingTolerance(const std::vector<std::vector<Point>>& result,
                              const std::vector<InputEdge>& edges) {
  long double tol = 1e-6L;
  for (const auto& r : result) {
    const size_t n = r.size();
    for (size_t i = 0; i < n; ++i) {
      int on = 0;
      for (const InputEdge& e : edges)
        if (OnSegment(r[i], e)) ++on;
      if (on >= 2) continue;
      tol += std::sqrt(2.0L) / 4 * (Length(r[(i + n - 1) % n], r[i]) + Length(r[i], r[(i + 1) % n]));
    }
  }
  return tol;
}

void CheckOperation(const Fixture& fx, int code) {
  SCOPED_TRACE(fx.name + ", code " + std::to_string(code));
  oracle::OwnedList out;
  std::vector<std::vector<Point>> result;
  try {
    result = oracle::RunBoolean(fx.rings, code, out.list);
  } catch (const Error& e) {
    FAIL() << "Error " << e.Unit() << ": " << e.Message();
  }
  oracle::ExpectCleanRings(out.list, result);
  const i128 got2 = oracle::TotalArea2(result);
  const std::vector<InputEdge> edges = EdgesOf(fx.rings);

  // Sample points: cell centres of the input grid (axis-parallel input), or
  // a grid of points at least 1.5 units from every input and result edge.
  std::vector<std::pair<int64_t, int64_t>> samples;  // doubled coordinates
  if (fx.manhattan) {
    const i128 want = oracle::ManhattanArea(fx.rings, code);
    EXPECT_TRUE(got2 == 2 * want) << "area " << oracle::ToString(got2) << "/2, oracle "
                                  << oracle::ToString(want);
    std::vector<int32_t> xs, ys;
    oracle::GridCuts(fx.rings, xs, ys);
    for (size_t i = 0; i + 1 < xs.size(); ++i)
      for (size_t j = 0; j + 1 < ys.size(); ++j)
        samples.push_back({int64_t(xs[i]) + xs[i + 1], int64_t(ys[j]) + ys[j + 1]});
  } else {
    const long double want = oracle::SlabArea(fx.rings, code);
    const long double tol = RoundingTolerance(result, edges) + fx.slack;
    EXPECT_NEAR((long double)got2 / 2, want, tol);
    Box bb;
    for (const InputEdge& e : edges) bb.Extend(e.a.x, e.a.y);
    const int kSteps = 48;
    for (int i = 0; i <= kSteps; ++i)
      for (int j = 0; j <= kSteps; ++j) {
        const int64_t x2 = 2 * (bb.x1 + (int64_t(bb.x2) - bb.x1) * i / kSteps) + 1;
        const int64_t y2 = 2 * (bb.y1 + (int64_t(bb.y2) - bb.y1) * j / kSteps) + 1;
        const long double px = x2 / 2.0L, py = y2 / 2.0L;
        bool near = false;
        for (const InputEdge& e : edges) near = near || oracle::Dist2(px, py, e.a, e.b) < 2.25L;
        for (const auto& r : result)
          for (size_t k = 0; k < r.size() && !near; ++k)
            near = oracle::Dist2(px, py, r[k], r[(k + 1) % r.size()]) < 2.25L;
        if (!near) samples.push_back({x2, y2});
      }
  }
  int wrong = 0;
  for (const auto& [x2, y2] : samples) {
    int w1, w2;
    oracle::Windings(fx.rings, x2, y2, w1, w2);
    const int expect = oracle::InsideBy(code, w1, w2) ? 1 : 0;
    const int got = oracle::ResultWinding(result, x2, y2);
    if (got != expect && ++wrong <= 3)
      ADD_FAILURE() << "at (" << x2 / 2.0 << ", " << y2 / 2.0 << ") winding " << got
                    << ", oracle " << expect;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(BooleanOracle, EveryFixtureAndOperationMatchesTheOracle) {
  for (const Fixture& fx : Fixtures())
    for (int code : fx.codes) CheckOperation(fx, code);
}

// The results of AND, XOR and DIFF of two overlapping squares have the
// shapes a user expects (not only the right area): the common rectangle,
// two L-shaped rings, and the first square minus the second.
TEST(BooleanOracle, TwoSquaresGiveTheExpectedRings) {
  const std::vector<Ring> in = {{Rect(0, 0, 10, 10), 1}, {Rect(5, 5, 15, 15), 2}};
  {
    oracle::OwnedList out;
    auto rings = oracle::RunBoolean(in, 5, out.list);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_EQ(rings[0].size(), 4u);
    EXPECT_TRUE(oracle::Area2(rings[0]) == 2 * 25);
  }
  {
    oracle::OwnedList out;
    auto rings = oracle::RunBoolean(in, 8, out.list);
    ASSERT_EQ(rings.size(), 2u);
    for (const auto& r : rings) {
      EXPECT_EQ(r.size(), 6u);
      EXPECT_TRUE(oracle::Area2(r) == 2 * 75);
    }
  }
  {
    oracle::OwnedList out;
    auto rings = oracle::RunBoolean(in, 6, out.list);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_EQ(rings[0].size(), 6u);
    EXPECT_TRUE(oracle::Area2(rings[0]) == 2 * 75);
  }
  {
    oracle::OwnedList out;
    auto rings = oracle::RunBoolean(in, 2, out.list);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_EQ(rings[0].size(), 8u);
  }
}

// A ring with a hole keeps the hole as a separate clockwise ring.
TEST(BooleanOracle, HoleComesOutAsClockwiseRing) {
  const std::vector<Ring> in = {{Rect(0, 0, 30, 30), 1}, {Reversed(Rect(10, 10, 20, 20)), 1},
                                {Rect(40, 0, 50, 10), 2}};
  oracle::OwnedList out;
  auto rings = oracle::RunBoolean(in, 2, out.list);
  ASSERT_EQ(rings.size(), 3u);
  int holes = 0;
  for (const auto& r : rings)
    if (oracle::Area2(r) < 0) {
      ++holes;
      EXPECT_TRUE(oracle::Area2(r) == -2 * 100);
    }
  EXPECT_EQ(holes, 1);
}

}  // namespace
}  // namespace velmar
