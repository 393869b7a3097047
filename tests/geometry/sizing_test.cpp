// Sizing of rings: fixed cases, a raster dilation/erosion oracle on random
// manhattan layers, moved-edge distances of octilinear rings and distance
// bands of any-angle rings.
#include "geometry/sizing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "support/boolean_oracle.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::ResultRings;
using oracle::Winding4;
using Rings = std::vector<std::vector<Point>>;

// Sizes the rings (smoothing on) and merges the result (code 0).
Rings SizeAndMerge(const Rings& rings, int32_t size) {
  OwnedList in, sized, merged;
  for (const auto& r : rings) test::AddRing(in.list, r);
  SizeList(in.list, sized.list, size, 1);
  BooleanSweepAsDrawn(sized.list, &merged.list, BooleanOpCode::Merge);
  return ResultRings(merged.list);
}

Rings SizeOnly(const Rings& rings, int32_t size, int smooth = 1) {
  OwnedList in, sized;
  for (const auto& r : rings) test::AddRing(in.list, r);
  SizeList(in.list, sized.list, size, smooth);
  return ResultRings(sized.list);
}

TEST(SizeList, FixedSquares) {
  const std::vector<Point> square = oracle::Rect(0, 0, 10, 10);
  {
    Rings out = SizeOnly({square}, 3);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(test::SameCycle(out[0], oracle::Rect(-3, -3, 13, 13)));
  }
  {
    // All four edges turn over and none can go: the square is shrunk out
    // of existence, nothing of positive winding is left.
    Rings out = SizeOnly({square}, -8);
    EXPECT_LE(double(oracle::TotalArea2(out)), 0.0);
    EXPECT_TRUE(SizeAndMerge({square}, -8).empty());
  }
  {
    // Size 0 gives each ring back.
    std::vector<Point> l = {{0, 0}, {30, 0}, {30, 10}, {10, 10}, {10, 40}, {0, 40}};
    std::vector<Point> tri = {{50, 0}, {90, 7}, {61, 33}};
    Rings out = SizeOnly({l, tri}, 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(test::SameCycle(out[0], l) || test::SameCycle(out[1], l));
    EXPECT_TRUE(test::SameCycle(out[0], tri) || test::SameCycle(out[1], tri));
  }
}

TEST(SizeList, MarksInputKeepsRingCountClearsTurnMarks) {
  OwnedList in, out;
  test::AddRing(in.list, oracle::Rect(0, 0, 10, 10));
  test::AddRing(in.list, {{20, 0}, {40, 0}, {30, 2}});  // sharp ends
  PSPoint* chain = test::AddChain(in.list, {{0, 50}, {10, 50}, {10, 60}});
  test::AddRing(out.list, oracle::Rect(100, 100, 110, 110));
  SizeList(in.list, out.list, -3, 1);
  EXPECT_EQ(in.list.pointCount, 10);
  for (PSPoint* p = in.list.head; p; p = p->link) {
    const bool onChain = p == chain || p == chain->next || p == chain->next->next;
    EXPECT_EQ(bool(p->flags & PSPointFlags::Visited), !onChain);
  }
  EXPECT_EQ(chain->next->next->x, 10);
  EXPECT_EQ(chain->next->next->y, 60);
  EXPECT_EQ(out.list.ringCount, 1);
  test::ExpectConsistent(out.list);
  for (PSPoint* p = out.list.head; p; p = p->link) {
    EXPECT_EQ(p->flags, 0);
    EXPECT_TRUE(p->y < 45 || p->y >= 100) << "the open chain was sized";
  }
}

// A sharp convex vertex grown by a, and a sharp concave one shrunk by a,
// are cut by the square of half-size a around the vertex: every output
// point near the vertex lies in that square, and the output never reaches
// the miter point.
TEST(SizeList, CornerCutsStayInsideTheSquare) {
  struct Case {
    std::vector<Point> ring;
    Point vertex;
    int32_t size;
  };
  const std::vector<Case> cases = {
      // Sharp convex apexes, pointing right, up, left, down, and oblique.
      {{{0, 0}, {200, 20}, {0, 40}}, {200, 20}, 7},
      {{{0, 0}, {40, 0}, {20, 200}}, {20, 200}, 5},
      {{{200, 0}, {200, 40}, {0, 20}}, {0, 20}, 9},
      {{{20, 0}, {40, 200}, {0, 200}}, {20, 0}, 4},
      {{{0, 0}, {30, 10}, {300, 300}}, {300, 300}, 11},
      // A sharp concave notch (V-shaped cut into the top) shrunk.
      {{{0, 0}, {300, 0}, {300, 200}, {160, 200}, {150, 20}, {140, 200}, {0, 200}},
       {150, 20},
       -6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.vertex.x) + "," + std::to_string(c.vertex.y));
    const int32_t a = std::abs(c.size);
    Rings out = SizeOnly({c.ring}, c.size);
    ASSERT_EQ(out.size(), 1u);
    int near = 0;
    for (const Point& p : out[0]) {
      const int64_t dx = std::abs(int64_t(p.x) - c.vertex.x);
      const int64_t dy = std::abs(int64_t(p.y) - c.vertex.y);
      if (dx <= 3 * a && dy <= 3 * a) {
        ++near;
        EXPECT_LE(dx, a) << p.x << "," << p.y;
        EXPECT_LE(dy, a) << p.x << "," << p.y;
      }
    }
    EXPECT_GE(near, 2);
  }
  // With smoothing off nothing is cut: the miter point of the first apex
  // lies far beyond the square.
  Rings miter = SizeOnly({{{0, 0}, {200, 20}, {0, 40}}}, 7, 0);
  int32_t maxX = INT32_MIN;
  for (const Point& p : miter[0]) maxX = std::max(maxX, p.x);
  EXPECT_GT(maxX, 250);
}

// Parallel moved edges: a collinear vertex emits nothing (the ring keeps
// its shape); a spike that doubles back gets a flat cap.
TEST(SizeList, ParallelEdges) {
  Rings out = SizeOnly({{{0, 0}, {10, 0}, {20, 0}, {20, 20}, {0, 20}}}, 2);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(test::SameCycle(out[0], oracle::Rect(-2, -2, 22, 22)));
  // A hair of zero width sticking out of the right side of a square.
  Rings cap = SizeAndMerge(
      {{{0, 0}, {20, 0}, {20, 10}, {40, 10}, {20, 10}, {20, 20}, {0, 20}}}, 2);
  oracle::i128 area = oracle::TotalArea2(cap);
  // Square grown by 2 (24 x 24) plus the hair grown into a strip 4 wide,
  // capped flat at its end x = 40: 18 x 4 outside the square.
  EXPECT_EQ(double(area), 2.0 * (24 * 24 + 18 * 4));
}

TEST(SizeList, CoordinateLeavingInt32Throws) {
  OwnedList in, out;
  test::AddRing(in.list, oracle::Rect(INT32_MAX - 10, 0, INT32_MAX - 1, 10));
  try {
    SizeList(in.list, out.list, 100, 1);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "DRC");
  }
}

// --- Raster oracle on manhattan layers -----------------------------------

// Cells of a grid [0, n)^2 in unit squares, offset by `origin`.
struct Raster {
  int32_t origin;
  int32_t n;
  std::vector<char> cell;
  Raster(int32_t o, int32_t size) : origin(o), n(size), cell(size_t(size) * size, 0) {}
  char& at(int32_t x, int32_t y) { return cell[size_t(y - origin) * n + (x - origin)]; }
  char get(int32_t x, int32_t y) const {
    if (x < origin || y < origin || x >= origin + n || y >= origin + n) return 0;
    return cell[size_t(y - origin) * n + (x - origin)];
  }
};

Raster Rasterise(const Rings& rings, int32_t origin, int32_t n) {
  Raster r(origin, n);
  for (int32_t y = origin; y < origin + n; ++y)
    for (int32_t x = origin; x < origin + n; ++x)
      r.at(x, y) = Winding4(rings, 4 * int64_t(x) + 2, 4 * int64_t(y) + 2) > 0;
  return r;
}

// Dilation (a > 0) or erosion (a < 0) by the square of half-size |a|: a
// cell is in the dilation when some cell within Chebyshev distance |a| is
// in the input, in the erosion when every such cell is.
Raster Morph(const Raster& in, int32_t a) {
  Raster out(in.origin, in.n);
  const int32_t m = std::abs(a);
  for (int32_t y = in.origin; y < in.origin + in.n; ++y)
    for (int32_t x = in.origin; x < in.origin + in.n; ++x) {
      bool any = false, all = true;
      for (int32_t dy = -m; dy <= m; ++dy)
        for (int32_t dx = -m; dx <= m; ++dx) {
          const bool v = in.get(x + dx, y + dy);
          any |= v;
          all &= v;
        }
      out.at(x, y) = a > 0 ? any : all;
    }
  return out;
}

// Random manhattan layer: rectangles, L and U shapes with notches and
// necks of every width around 2a.
std::vector<oracle::Ring> RandomManhattanLayer(std::mt19937& rng, int count) {
  std::uniform_int_distribution<int32_t> pos(0, 40), len(1, 14), kind(0, 2);
  std::vector<oracle::Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = pos(rng), y = pos(rng), w = len(rng) + 2, h = len(rng) + 2;
    switch (kind(rng)) {
      case 0:
        rings.push_back({oracle::Rect(x, y, x + w, y + h), 1});
        break;
      case 1: {  // L shape
        const int32_t t = std::uniform_int_distribution<int32_t>(1, w - 1)(rng);
        const int32_t u = std::uniform_int_distribution<int32_t>(1, h - 1)(rng);
        rings.push_back({{{x, y}, {x + w, y}, {x + w, y + u}, {x + t, y + u},
                          {x + t, y + h}, {x, y + h}},
                         1});
        break;
      }
      default: {  // U shape: a notch from the top
        const int32_t l = std::uniform_int_distribution<int32_t>(1, w - 2)(rng);
        const int32_t r = std::uniform_int_distribution<int32_t>(l + 1, w - 1)(rng);
        const int32_t d = std::uniform_int_distribution<int32_t>(1, h - 1)(rng);
        rings.push_back({{{x, y}, {x + w, y}, {x + w, y + h}, {x + r, y + h},
                          {x + r, y + d}, {x + l, y + d}, {x + l, y + h}, {x, y + h}},
                         1});
        break;
      }
    }
  }
  return rings;
}

TEST(SizeList, ManhattanEqualsRasterDilationAndErosion) {
  std::mt19937 rng(1616);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    OwnedList merged;
    test::MergeRings(RandomManhattanLayer(rng, 1 + round % 6), merged.list);
    const Rings input = ResultRings(merged.list);
    const int32_t a = std::uniform_int_distribution<int32_t>(1, 7)(rng) *
                      (round % 2 ? -1 : 1);
    const int32_t origin = -10, n = 80;
    const Raster want = Morph(Rasterise(input, origin, n), a);
    const Raster got = Rasterise(SizeAndMerge(input, a), origin, n);
    int diff = 0;
    for (int32_t y = origin; y < origin + n && diff < 5; ++y)
      for (int32_t x = origin; x < origin + n && diff < 5; ++x)
        if (want.get(x, y) != got.get(x, y)) {
          ++diff;
          ADD_FAILURE() << "size " << a << ": cell (" << x << ", " << y
                        << ") expected " << int(want.get(x, y));
        }
    if (diff) {
      for (const auto& r : input) {
        std::string t;
        for (const Point& p : r) t += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
        ADD_FAILURE() << "input ring " << t;
      }
      return;
    }
  }
}

// --- Octilinear rings: every edge moved by |a| -----------------------------

// Distance of the line through the segment (q1, q2) from the point p,
// signed positive on the segment's right.
double RightDistance(const Point& q1, const Point& q2, double px, double py) {
  const double dx = double(q2.x) - q1.x, dy = double(q2.y) - q1.y;
  return (dy * (px - q1.x) - dx * (py - q1.y)) / std::hypot(dx, dy);
}

TEST(SizeList, OctilinearEdgesMoveBySize) {
  // Rectangles with chamfered corners (no sharp vertex) of random sizes.
  std::mt19937 rng(45);
  for (int round = 0; round < 200; ++round) {
    std::uniform_int_distribution<int32_t> len(30, 200), cut(2, 7);
    const int32_t w = len(rng), h = len(rng), c = cut(rng), x = len(rng), y = len(rng);
    const std::vector<Point> oct = {{x + c, y},         {x + w - c, y},     {x + w, y + c},
                                    {x + w, y + h - c}, {x + w - c, y + h}, {x + c, y + h},
                                    {x, y + h - c},     {x, y + c}};
    // Shrinking by much more than half the chamfer leg removes the chamfers.
    const int32_t a = round % 2 ? -std::uniform_int_distribution<int32_t>(1, c / 2)(rng)
                                : std::uniform_int_distribution<int32_t>(1, 12)(rng);
    SCOPED_TRACE("round " + std::to_string(round) + " size " + std::to_string(a));
    Rings out = SizeOnly({oct}, a);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), oct.size());
    // Output vertex i sits where the moved edges (i-1, i) and (i, i+1)
    // meet: each lies |a| off its input edge, on the outside for a > 0.
    // The output ring starts anywhere: line it up with the input by its
    // vertex nearest to the input's first one.
    const size_t n = oct.size();
    size_t shift = 0;
    double best = 1e300;
    for (size_t k = 0; k < n; ++k) {
      const double d = std::hypot(double(out[0][k].x) - oct[0].x, double(out[0][k].y) - oct[0].y);
      if (d < best) {
        best = d;
        shift = k;
      }
    }
    for (size_t i = 0; i < n; ++i) {
      const Point& v = out[0][(i + shift) % n];
      const Point& p = oct[(i + n - 1) % n];
      const Point& q = oct[i];
      const Point& r = oct[(i + 1) % n];
      // Rounding of a 45-degree shift and of the meeting point: within a
      // unit of the exact distance.
      EXPECT_NEAR(RightDistance(p, q, v.x, v.y), a, 1.0) << i;
      EXPECT_NEAR(RightDistance(q, r, v.x, v.y), a, 1.0) << i;
    }
  }
}

// --- Any-angle rings: distance bands ------------------------------------

double BoundaryDistance(const std::vector<Point>& ring, double px, double py) {
  double best = 1e300;
  for (size_t i = 0; i < ring.size(); ++i) {
    const Point& a = ring[i];
    const Point& b = ring[(i + 1) % ring.size()];
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    double t = ((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy);
    t = std::max(0.0, std::min(1.0, t));
    best = std::min(best, std::hypot(a.x + t * dx - px, a.y + t * dy - py));
  }
  return best;
}

// Grown: everything inside or within a of the input is covered, nothing
// beyond a * sqrt(2) (the corner square's reach); shrunk: the mirror
// image. A margin of 1.5 units takes the rounding. Coverage is the positive
// winding of the sized rings themselves, as the merge after sizing is to
// read them.
TEST(SizeList, AnyAngleStaysInDistanceBands) {
  std::mt19937 rng(2119);
  for (int round = 0; round < 120; ++round) {
    // The star may cross itself where its angles leave a gap over 180
    // degrees: its merged rings are the input.
    OwnedList merged;
    test::MergeRings({{test::RandomStarRing(rng, 0, 0, 300, 5 + round % 9), 1}},
                     merged.list);
    const Rings input = ResultRings(merged.list);
    const int32_t a = std::uniform_int_distribution<int32_t>(2, 30)(rng) *
                      (round % 2 ? -1 : 1);
    SCOPED_TRACE("round " + std::to_string(round) + " size " + std::to_string(a));
    const Rings out = SizeOnly(input, a);
    const double m = std::abs(a);
    int bad = 0;
    for (int32_t y = -340; y <= 340 && bad < 3; y += 7)
      for (int32_t x = -340; x <= 340 && bad < 3; x += 7) {
        const int64_t x4 = 4 * int64_t(x) + 1, y4 = 4 * int64_t(y) + 3;
        const bool inside = Winding4(input, x4, y4) > 0;
        double dist = 1e300;
        for (const auto& r : input) dist = std::min(dist, BoundaryDistance(r, x4 / 4.0, y4 / 4.0));
        const bool covered = Winding4(out, x4, y4) > 0;
        bool must = false, mustNot = false;
        if (a > 0) {
          must = inside || dist < m - 1.5;
          mustNot = !inside && dist > m * std::sqrt(2.0) + 1.5;
        } else {
          must = inside && dist > m * std::sqrt(2.0) + 1.5;
          mustNot = !inside || dist < m - 1.5;
        }
        if ((must && !covered) || (mustNot && covered)) {
          ++bad;
          std::string t;
          for (const auto& r : input) {
            for (const Point& p : r) t += "{" + std::to_string(p.x) + "," + std::to_string(p.y) + "},";
            t += " / ";
          }
          ADD_FAILURE() << "(" << x4 / 4.0 << ", " << y4 / 4.0 << ") inside " << inside
                        << " distance " << dist << " covered " << covered << " ring " << t;
        }
      }
  }
}

TEST(RemoveTurnedEdges, IsolatedEdgeCollapsesNeighbourMarkOnlyClears) {
  // r -> p -> s -> t with p -> s turned over: t right of r -> p and r
  // right of s -> t, the lines r -> p and s -> t meet at (5, 10).
  {
    OwnedList ring;
    PSPoint* r = test::AddRing(ring.list, {{0, 0}, {4, 8}, {6, 8}, {10, 0}, {5, -20}});
    PSPoint* p = r->next;
    p->flags |= PSPointFlags::Marker;
    RemoveTurnedEdges(ring.list, 3);
    EXPECT_EQ(ring.list.pointCount, 4);
    EXPECT_TRUE(test::SameCycle(test::RingPoints(r),
                                {{0, 0}, {5, 10}, {10, 0}, {5, -20}}));
    test::ExpectConsistent(ring.list);
  }
  {
    // Two turned-over edges in a row: the one the walk meets first (the
    // newest point, nearest the head) loses its mark only; the other is
    // then isolated and judged on its own.
    OwnedList ring;
    PSPoint* r = test::AddRing(ring.list, {{0, 0}, {4, 8}, {6, 8}, {10, 0}, {5, -20}});
    r->next->flags |= PSPointFlags::Marker;        // (4, 8) -> (6, 8)
    r->next->next->flags |= PSPointFlags::Marker;  // (6, 8) -> (10, 0)
    RemoveTurnedEdges(ring.list, 3);
    EXPECT_TRUE(test::SameCycle(test::RingPoints(r), {{0, 0}, {5, 10}, {10, 0}, {5, -20}}));
    for (PSPoint* q = ring.list.head; q; q = q->link) EXPECT_EQ(q->flags, 0);
  }
}

TEST(SmoothAcute, MovesOnlyShortSharpVerticesOfTheUncutSense) {
  // A counter-clockwise ring with a sharp convex apex at (200, 10) whose
  // outgoing edge is shorter than 4: moved when shrinking, left alone when
  // growing.
  const std::vector<Point> spike = {{0, 0}, {50, 0}, {200, 10}, {197, 12}, {0, 10}};
  for (int32_t size : {-4, 4}) {
    OwnedList l;
    test::AddRing(l.list, spike);
    const int32_t moved = SmoothAcute(l.list, size);
    EXPECT_EQ(moved > 0, size < 0) << size;
  }
  // Both edges at least |size| long: untouched.
  OwnedList l;
  test::AddRing(l.list, {{0, 0}, {100, 0}, {0, 10}});
  EXPECT_EQ(SmoothAcute(l.list, -5), 0);
}

}  // namespace
}  // namespace velmar
