// The indexed SPACE sweep: the fixtures of its scans and corners, corner
// boxes against brute force over point pairs, then seeded random layers.
// On axis-parallel input, long bars included (their edges cross the scan
// ranges of short edges with no vertex in them), its region union equals
// SweepSpace45's and the raster gap oracle's outside the layer. On octilinear input it holds SweepSpace45's union (the
// 45-degree sweep misses partners right of a diagonal's lower end, which
// the indexed scans see from either side) and stays within the union of
// the edge-band checks, which are checked against brute force elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "support/distance_runs.h"

namespace velmar {
namespace {

using distance_oracle::Raster;
using distance_runs::Cells;
using distance_runs::Engine;
using distance_runs::MergedLayer;
using distance_runs::RunEngine;
using distance_runs::UnionDiff;
using distance_runs::UnionExcess;
using oracle::Rect;
using oracle::Ring;
using Rings = distance_oracle::Rings;

// Bounding boxes of the regions with area (a partner at right angles to its
// band owner projects onto a single line and gives a region without area).
std::vector<Box> SortedBoxes(const Rings& rings) {
  std::vector<Box> boxes;
  for (const auto& r : rings)
    if (oracle::Area2(r) != 0) boxes.push_back(distance_oracle::BoundsOf({r}));
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  boxes.erase(std::unique(boxes.begin(), boxes.end()), boxes.end());
  return boxes;
}

// --- Fixtures ---------------------------------------------------------------

// A long upward edge runs beside a short edge with both of its vertices
// outside the short edge's range: only the interval index sees it.
TEST(SpaceSweepIndexed, LongEdgeBesideAShortOneIsFoundThroughTheIndex) {
  const std::vector<Ring> vertical = {{Rect(0, 0, 10, 100), 1}, {Rect(13, 40, 23, 50), 1}};
  EXPECT_EQ(SortedBoxes(RunEngine(Engine::SpaceIndexed, vertical, 5, 2)),
            std::vector<Box>{Box(10, 40, 13, 50)});
  // A triangle whose down-right side leaves its top-left corner 3 units
  // right of the long edge: the edge that goes down from the corner is the
  // only one near the long edge, and the corner has no edge coming down to
  // it.
  const std::vector<Ring> diagonal = {{Rect(0, 0, 27, 100), 1},
                                      {{{30, 50}, {40, 40}, {40, 50}}, 1}};
  const Rings got = RunEngine(Engine::SpaceIndexed, diagonal, 5, 2);
  ASSERT_FALSE(SortedBoxes(got).empty());
  EXPECT_EQ(UnionDiff(got, RunEngine(Engine::SpaceBands, diagonal, 5, 2),
                      MergedLayer(diagonal), Cells::Outside, 7),
            "");
}

struct Fixture {
  const char* name;
  std::vector<Ring> rings;
  int32_t d;
  int kind;
  std::vector<Box> regions;  // bounding boxes of the output rings, sorted, unique
};

TEST(SpaceSweepIndexed, Fixtures) {
  const std::vector<Fixture> cases = {
      {"gap below the distance", {{Rect(0, 0, 10, 10), 1}, {Rect(14, 0, 24, 10), 1}}, 5, 2,
       {Box(10, 0, 14, 10)}},
      {"gap at the distance", {{Rect(0, 0, 10, 10), 1}, {Rect(15, 0, 25, 10), 1}}, 5, 0, {}},
      {"vertical gap", {{Rect(0, 0, 10, 10), 1}, {Rect(2, 13, 8, 20), 1}}, 5, 2,
       {Box(2, 10, 8, 13)}},
      {"diagonal corners closer", {{Rect(0, 0, 10, 10), 1}, {Rect(13, 13, 20, 20), 1}}, 5, 1,
       {Box(10, 10, 13, 13)}},
      {"diagonal corners at the distance", {{Rect(0, 0, 10, 10), 1}, {Rect(13, 14, 20, 20), 1}},
       5, 1, {}},
      {"corners, edge pairs only", {{Rect(0, 0, 10, 10), 1}, {Rect(13, 13, 20, 20), 1}}, 5, 2,
       {}},
      {"gap, corner boxes only", {{Rect(0, 0, 10, 10), 1}, {Rect(14, 0, 24, 10), 1}}, 5, 1, {}},
      // The top-right corner (7, 10) lies on the upper bound of the search
      // box of the bottom-left corner (10, 10): it is not tested.
      {"corner on the search box's bound", {{Rect(0, 0, 7, 10), 1}, {Rect(10, 10, 20, 20), 1}},
       5, 1, {}},
      {"notch narrower than the distance",
       {{{{0, 0}, {20, 0}, {20, 10}, {12, 10}, {12, 4}, {8, 4}, {8, 10}, {0, 10}}, 1}}, 5, 2,
       {Box(8, 4, 12, 10)}},
  };
  for (const Fixture& c : cases) {
    const Rings got = RunEngine(Engine::SpaceIndexed, c.rings, c.d, c.kind);
    EXPECT_EQ(SortedBoxes(got), c.regions) << c.name;
    for (const auto& r : got) EXPECT_GE(oracle::Area2(r), 0) << c.name << ": clockwise region";
  }
}

// Pairs that no scan of an edge at the current point owns: an up-right
// diagonal above-left of a rectangle's top-left corner (the corner's
// horizontal edge lies in the diagonal's band), and a diagonal whose lower
// end lies in the current column below a triangle's corner (its edge is
// not yet in the index). Both are found, as the band checks find them.
TEST(SpaceSweepIndexed, BevelsAndEdgesOfTheCurrentColumn) {
  const std::vector<std::vector<Ring>> layers = {
      {{{{8, 12}, {13, 17}, {8, 22}}, 1}, {Rect(16, 0, 32, 12), 1}},
      {{{{36, 58}, {46, 58}, {46, 50}, {58, 50}, {50, 58}, {50, 72}, {36, 72}}, 1},
       {{{58, 56}, {62, 56}, {62, 60}}, 1}},
  };
  const int32_t ds[] = {9, 5};
  for (size_t i = 0; i < layers.size(); ++i) {
    const Rings got = RunEngine(Engine::SpaceIndexed, layers[i], ds[i], 2);
    const Rings bands = RunEngine(Engine::SpaceBands, layers[i], ds[i], 2);
    ASSERT_FALSE(bands.empty());
    EXPECT_EQ(UnionDiff(got, bands, MergedLayer(layers[i]), Cells::Outside, ds[i] + 2), "")
        << "layer " << i;
  }
}

// --- Random layers ------------------------------------------------------------

// Rectangles and bars up to the whole span long.
std::vector<Ring> RectanglesAndBars(std::mt19937& rng, int count, int32_t span) {
  std::uniform_int_distribution<int32_t> pos(0, span), len(1, span / 4), bar(span / 2, span),
      coin(0, 2);
  std::vector<Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    switch (coin(rng)) {
      case 0: rings.push_back({Rect(x, y, x + len(rng), y + bar(rng)), 1}); break;
      case 1: rings.push_back({Rect(x, y, x + bar(rng), y + len(rng)), 1}); break;
      default: rings.push_back({Rect(x, y, x + len(rng), y + len(rng)), 1}); break;
    }
  }
  return rings;
}

TEST(SpaceSweepIndexed, AxisParallelLayersEqualSweepSpace45AndTheGapOracle) {
  for (int seed = 0; seed < 200; ++seed) {
    std::mt19937 rng(16118 + seed);
    const std::vector<Ring> rings = RectanglesAndBars(rng, 3 + seed % 10, 50);
    const int32_t d = 2 + seed % 9;
    const Rings layer = MergedLayer(rings);
    const Rings got = RunEngine(Engine::SpaceIndexed, rings, d, 2);
    EXPECT_EQ(UnionDiff(got, RunEngine(Engine::Space45, rings, d, 2), layer, Cells::Outside,
                        d + 2),
              "")
        << "seed " << seed << " d " << d;
    Raster labels(distance_oracle::Widened(distance_oracle::BoundsOf(layer), d + 2));
    distance_oracle::PaintLayer(labels, layer, 1);
    Raster reported(Box(labels.x0, labels.y0, labels.x0 + labels.w, labels.y0 + labels.h));
    distance_oracle::PaintUnion(reported, got);
    EXPECT_EQ(distance_oracle::RasterDiff(reported, distance_oracle::GapCells(labels, 0, d, false),
                                          [&](int32_t x, int32_t y) { return labels.At(x, y) == 0; }),
              "")
        << "gap oracle, seed " << seed << " d " << d;
  }
}

TEST(SpaceSweepIndexed, OctilinearLayersHoldSweepSpace45AndStayWithinTheBandChecks) {
  int beyond45 = 0;
  for (int seed = 0; seed < 300; ++seed) {
    std::mt19937 rng(26118 + seed);
    std::vector<Ring> rings = test::RandomOctilinearRings(rng, 3 + seed % 8, 120, true);
    for (const Ring& r : RectanglesAndBars(rng, seed % 3, 100)) rings.push_back(r);
    const int32_t d = 2 + seed % 11;
    const Rings layer = MergedLayer(rings);
    const Rings got = RunEngine(Engine::SpaceIndexed, rings, d, 2);
    const Rings s45 = RunEngine(Engine::Space45, rings, d, 2);
    const Rings bands = RunEngine(Engine::SpaceBands, rings, d, 2);
    EXPECT_EQ(UnionExcess(s45, got, layer, Cells::Outside, d + 2), "")
        << "SweepSpace45 beyond the indexed sweep, seed " << seed << " d " << d;
    EXPECT_EQ(UnionExcess(got, bands, layer, Cells::Outside, d + 2), "")
        << "indexed sweep beyond the band checks, seed " << seed << " d " << d;
    if (!UnionExcess(got, s45, layer, Cells::Outside, d + 2).empty()) ++beyond45;
  }
  // The layers hold diagonals that SweepSpace45 misses partners of.
  EXPECT_GT(beyond45, 10);
}

// Corner boxes (kind 1) of axis-parallel layers by brute force over the
// sorted points. A convex corner s whose edge arrives from the east (a
// top-left corner) looks at the points above it, one whose edge arrives
// from above (a bottom-left corner) at the points below it, each within
// the distance in y, bounds excluded; the points are those processed
// before s that lie less than the distance left of s's column. A point h
// with ring neighbours p and n faces a top-left corner when p.x < h.x or
// p.x < n.x, a bottom-left one when p.x > h.x or p.x > n.x; it gives a box
// when it lies strictly closer than the distance.
std::vector<Box> BruteForceCorners(const std::vector<Ring>& rings, int32_t d, int32_t unit) {
  ScratchList merged;
  test::MergeRings(rings, merged.list);
  SortPoints(merged.list, ComparePointLess);
  std::vector<const PSPoint*> order;
  for (const PSPoint* p = merged.list.head; p; p = p->link) order.push_back(p);
  std::vector<Box> boxes;
  for (size_t i = 0; i < order.size(); ++i) {
    const PSPoint* s = order[i];
    const PSPoint* prev = s->prev;
    const PSPoint* next = s->next;
    const int64_t turn = (int64_t(s->x) - prev->x) * (int64_t(next->y) - prev->y) -
                         (int64_t(s->y) - prev->y) * (int64_t(next->x) - prev->x);
    if (turn <= 0) continue;
    const bool topLeft = prev->x > s->x, bottomLeft = prev->y > s->y;
    if (!topLeft && !bottomLeft) continue;
    for (size_t k = 0; k < i; ++k) {
      const PSPoint* h = order[k];
      if (int64_t(h->x) + d <= s->x) continue;
      const int64_t dy = int64_t(h->y) - s->y, dx = int64_t(h->x) - s->x;
      const bool inY = topLeft ? (dy > 0 && dy < d) : (dy < 0 && dy > -d);
      const PSPoint* p = h->prev;
      const PSPoint* n = h->next;
      const bool faces = topLeft ? (p->x < h->x || p->x < n->x) : (p->x > h->x || p->x > n->x);
      if (!inY || !faces || dx * dx + dy * dy >= int64_t(d) * d) continue;
      Box b(std::min(s->x, h->x), std::min(s->y, h->y), std::max(s->x, h->x),
            std::max(s->y, h->y));
      if (b.x2 - b.x1 < unit) b = Box(b.x1 - unit, b.y1, b.x2 + unit, b.y2);
      if (b.y2 - b.y1 < unit) b = Box(b.x1, b.y1 - unit, b.x2, b.y2 + unit);
      boxes.push_back(b);
    }
  }
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  return boxes;
}

TEST(SpaceSweepIndexed, CornerBoxesMatchBruteForce) {
  int boxes = 0;
  for (int seed = 0; seed < 200; ++seed) {
    std::mt19937 rng(36118 + seed);
    const std::vector<Ring> rings = RectanglesAndBars(rng, 4 + seed % 10, 40);
    const int32_t d = 3 + seed % 8, unit = seed % 3;
    const std::vector<Box> want = BruteForceCorners(rings, d, unit);
    std::vector<Box> got;
    for (const auto& r : RunEngine(Engine::SpaceIndexed, rings, d, 1, unit)) {
      EXPECT_EQ(r.size(), 4u);
      got.push_back(distance_oracle::BoundsOf({r}));
    }
    std::sort(got.begin(), got.end(), [](const Box& a, const Box& b) {
      return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
    });
    EXPECT_EQ(got, want) << "seed " << seed << " d " << d;
    boxes += int(want.size());
  }
  EXPECT_GT(boxes, 100);  // the sets are not trivially empty
}

}  // namespace
}  // namespace velmar
