// The 45-degree sweeps against the edge-band checks on seeded random
// layers, each in the eight orientations (four rotations by 90 degrees,
// with and without mirroring) and moved.
//
// What is compared, and why. The band checks test every edge against every
// partner piece in its band, so their region union with edge pairs only
// (kind 2) is the reference; they are checked against brute force in
// edge_band_property_test. The sweeps find a pair only where their scans
// look, and on 45-degree input they miss two kinds of pair: edges meeting
// at an acute 45-degree corner, and partners right of a diagonal's lower
// end (the commands send 45-degree input to the band checks for that). So:
// - on axis-parallel layers, the unions of SweepSpace45 (outside the layer)
//   and SweepWidthAnyAngle (inside it) equal the band checks' in every
//   orientation;
// - on octilinear layers, the sweeps' unions lie within the band checks'
//   in every orientation;
// - the band checks' union of a turned or mirrored layer is the turned or
//   mirrored union, on every cell; a moved layer gives the moved union for
//   the band checks and the sweeps alike.
// Layers stay in the positive quadrant and are moved by positive amounts,
// rotations turn about the origin: the rounding of computed points (half
// away from zero) then commutes with every transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/distance_runs.h"

namespace velmar {
namespace {

using distance_runs::Cells;
using distance_runs::Engine;
using distance_runs::MergedLayer;
using distance_runs::RunEngine;
using distance_runs::UnionDiff;
using distance_runs::UnionExcess;
using oracle::Ring;
using Rings = distance_oracle::Rings;

// Orientation o (0 to 3: turned by o quarter turns counter-clockwise; 4 to
// 7: mirrored at the y axis first), then moved by (dx, dy).
Point Apply(int o, int32_t dx, int32_t dy, Point p) {
  if (o >= 4) p = Point(-p.x, p.y);
  for (int k = 0; k < o % 4; ++k) p = Point(-p.y, p.x);
  return Point(p.x + dx, p.y + dy);
}

Rings Apply(int o, int32_t dx, int32_t dy, const Rings& rings) {
  Rings out;
  for (const auto& r : rings) {
    std::vector<Point> pts;
    for (const Point& p : r) pts.push_back(Apply(o, dx, dy, p));
    // A mirror turns the ring's direction: turn it back.
    if (o >= 4) std::reverse(pts.begin(), pts.end());
    out.push_back(pts);
  }
  return out;
}

std::vector<Ring> Apply(int o, int32_t dx, int32_t dy, const std::vector<Ring>& rings) {
  std::vector<Ring> out;
  for (const Ring& r : rings) out.push_back({Apply(o, dx, dy, Rings{r.pts})[0], r.layer});
  return out;
}

struct Check {
  Engine sweep, bands;
  Cells cells;  // where the regions are judged: outside (SPACE), inside (WIDTH)
};

const Check kChecks[] = {
    {Engine::Space45, Engine::SpaceBands, Cells::Outside},
    {Engine::Width45, Engine::WidthBands, Cells::Inside},
};

// Random axis-parallel rectangles, overlapping, touching and thin, in the
// positive quadrant.
std::vector<Ring> Rectangles(std::mt19937& rng, int count, int32_t span) {
  std::uniform_int_distribution<int32_t> pos(0, span), len(1, span / 3);
  std::vector<Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    rings.push_back({oracle::Rect(x, y, x + len(rng), y + len(rng)), 1});
  }
  return rings;
}

TEST(DistanceSweepTransforms, AxisParallelSweepsEqualTheBandChecksInEveryOrientation) {
  for (int seed = 0; seed < 60; ++seed) {
    std::mt19937 rng(31600 + seed);
    const std::vector<Ring> base = Rectangles(rng, 3 + seed % 8, 40);
    const int32_t d = 2 + seed % 8;
    for (int o = 0; o < 8; ++o) {
      const std::vector<Ring> rings = Apply(o, 0, 0, base);
      const Rings layer = MergedLayer(rings);
      for (const Check& c : kChecks)
        EXPECT_EQ(UnionDiff(RunEngine(c.sweep, rings, d, 2), RunEngine(c.bands, rings, d, 2),
                            layer, c.cells, d + 2),
                  "")
            << distance_runs::NameOf(c.sweep) << " seed " << seed << " orientation " << o;
    }
  }
}

TEST(DistanceSweepTransforms, OctilinearSweepsStayWithinTheBandChecksInEveryOrientation) {
  int found[2] = {0, 0};
  for (int seed = 0; seed < 80; ++seed) {
    std::mt19937 rng(41600 + seed);
    // Even coordinates in [0, 120].
    using Range = std::uniform_int_distribution<int32_t>;
    const std::vector<Ring> base =
        test::RandomOctilinearShapes(rng, 3 + seed % 7, Range(0, 60), Range(1, 16), 0, true);
    const int32_t d = 2 + seed % 9;
    for (int o = 0; o < 8; ++o) {
      const std::vector<Ring> rings = Apply(o, 0, 0, base);
      const Rings layer = MergedLayer(rings);
      for (size_t k = 0; k < 2; ++k) {
        const Check& c = kChecks[k];
        const Rings sweep = RunEngine(c.sweep, rings, d, 2);
        const Rings bands = RunEngine(c.bands, rings, d, 2);
        EXPECT_EQ(UnionExcess(sweep, bands, layer, c.cells, d + 2), "")
            << distance_runs::NameOf(c.sweep) << " seed " << seed << " orientation " << o;
        found[k] += UnionDiff(sweep, {}, layer, c.cells, d + 2).empty() ? 0 : 1;
      }
    }
  }
  // The sweeps found violations in many layers: the inclusion is not
  // vacuous.
  EXPECT_GT(found[0], 200);
  EXPECT_GT(found[1], 200);
}

TEST(DistanceSweepTransforms, TurnedMirroredAndMovedLayersGiveTheTransformedUnions) {
  for (int seed = 0; seed < 60; ++seed) {
    std::mt19937 rng(51600 + seed);
    using Range = std::uniform_int_distribution<int32_t>;
    const std::vector<Ring> base =
        test::RandomOctilinearShapes(rng, 3 + seed % 7, Range(0, 60), Range(1, 16), 0, true);
    const int32_t d = 2 + seed % 9;
    for (const Check& c : kChecks) {
      const Rings bands = RunEngine(c.bands, base, d, 2);
      for (int o = 1; o < 8; ++o) {
        const std::vector<Ring> turned = Apply(o, 0, 0, base);
        EXPECT_EQ(UnionDiff(RunEngine(c.bands, turned, d, 2), Apply(o, 0, 0, bands),
                            MergedLayer(turned), Cells::All, d + 2),
                  "")
            << distance_runs::NameOf(c.bands) << " seed " << seed << " orientation " << o;
      }
      const int32_t dx = 1 + seed * 7, dy = 3 + seed * 5;
      const std::vector<Ring> moved = Apply(0, dx, dy, base);
      for (Engine e : {c.bands, c.sweep})
        EXPECT_EQ(UnionDiff(RunEngine(e, moved, d, 2), Apply(0, dx, dy, RunEngine(e, base, d, 2)),
                            MergedLayer(moved), Cells::All, d + 2),
                  "")
            << distance_runs::NameOf(e) << " moved, seed " << seed;
    }
  }
}

}  // namespace
}  // namespace velmar
