// SPACE and WIDTH sweeps: small fixtures, then random layers against the
// raster gap oracle (the union of the regions outside the layer, or inside
// it for WIDTH, is exactly the set of cells whose row or column gap is
// below the distance) and corner boxes against brute force over corner
// pairs. The 45-degree sweeps against the band checks, turned, mirrored and
// moved, are in distance_sweep_transform_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <tuple>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "geometry/space_sweep.h"
#include "support/boolean_oracle.h"
#include "support/distance_oracle.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using distance_oracle::Raster;
using distance_oracle::Rings;
using oracle::Rect;
using oracle::Ring;

enum class Check { SpaceM, WidthM, Space45, Width45 };

// Merges each layer's rings (layer 2 flagged SecondLayer), joins them,
// sorts and runs the sweep; returns the output rings.
Rings RunCheck(Check check, const std::vector<Ring>& rings, int32_t d, int kind,
               int32_t unit = 1, bool twoLayers = false) {
  ScratchList all, out;
  for (int layer = 1; layer <= 2; ++layer) {
    std::vector<Ring> own;
    for (const Ring& r : rings)
      if (r.layer == layer) own.push_back({r.pts, 1});
    if (own.empty()) continue;
    ScratchList merged;
    test::MergeRings(own, merged.list);
    if (layer == 2) SetFlags(merged.list, PSPointFlags::SecondLayer);
    SpliceList(all.list, merged.list);
  }
  if (all.list.IsEmpty()) return {};
  SortPoints(all.list, ComparePointLess);
  switch (check) {
    case Check::SpaceM: SweepSpaceManhattan(all.list, out.list, d, unit, 1, kind, twoLayers); break;
    case Check::WidthM: SweepWidthManhattan(all.list, out.list, -d, unit, 1, kind); break;
    case Check::Space45: SweepSpace45(all.list, out.list, d, unit, 1, kind, twoLayers); break;
    case Check::Width45: SweepWidthAnyAngle(all.list, out.list, -d, unit, 1, kind); break;
  }
  EXPECT_EQ(CountLinkPoints(out.list), out.list.pointCount);
  return oracle::ResultRings(out.list);
}

Rings PointsOf(const std::vector<Ring>& rings, int layer) {
  Rings out;
  for (const Ring& r : rings)
    if (r.layer == layer) out.push_back(r.pts);
  return out;
}

std::vector<Box> BoxesOf(const Rings& rings) {
  std::vector<Box> boxes;
  for (const auto& r : rings) boxes.push_back(distance_oracle::BoundsOf({r}));
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  return boxes;
}

// Random axis-parallel rectangles on a small grid: overlapping, touching,
// coincident and one unit thin.
std::vector<Ring> RandomRects(std::mt19937& rng, int count, int32_t span, int layer = 1) {
  std::uniform_int_distribution<int32_t> pos(0, span), len(1, span / 3);
  std::vector<Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    rings.push_back({Rect(x, y, x + len(rng), y + len(rng)), layer});
  }
  return rings;
}

// --- Fixtures ---------------------------------------------------------------

struct Fixture {
  const char* name;
  Check check;
  std::vector<Ring> rings;
  int32_t d;
  int kind;
  bool twoLayers;
  std::vector<Box> regions;  // bounding boxes of the output rings, sorted
};

TEST(SpaceSweep, Fixtures) {
  const std::vector<Fixture> cases = {
      {"gap below the distance", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(14, 0, 24, 10), 1}}, 5, 2, false, {Box(10, 0, 14, 10)}},
      {"gap equal to the distance", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(15, 0, 25, 10), 1}}, 5, 0, false, {}},
      {"vertical gap", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(2, 13, 8, 20), 1}}, 5, 2, false, {Box(2, 10, 8, 13)}},
      {"diagonal corners closer", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(13, 13, 20, 20), 1}}, 5, 0, false, {Box(10, 10, 13, 13)}},
      {"diagonal corners at the distance", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(13, 14, 20, 20), 1}}, 5, 1, false, {}},
      {"diagonal corners, edge pairs only", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(13, 13, 20, 20), 1}}, 5, 2, false, {}},
      {"corners one above the other", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(10, 13, 20, 20), 1}}, 5, 1, false, {Box(9, 10, 11, 13)}},
      {"corners side by side", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(13, 10, 20, 20), 1}}, 5, 1, false, {Box(10, 9, 13, 11)}},
      {"notch narrower than the distance", Check::SpaceM,
       {{{{0, 0}, {20, 0}, {20, 10}, {12, 10}, {12, 4}, {8, 4}, {8, 10}, {0, 10}}, 1}}, 5, 2,
       false, {Box(8, 4, 12, 10)}},
      {"two layers, same layer", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(12, 0, 20, 10), 1}}, 5, 0, true, {}},
      {"two layers, across", Check::SpaceM,
       {{Rect(0, 0, 10, 10), 1}, {Rect(12, 0, 20, 10), 2}}, 5, 0, true, {Box(10, 0, 12, 10)}},
      {"narrow rectangle", Check::WidthM, {{Rect(0, 0, 30, 4), 1}}, 5, 2, false,
       {Box(0, 0, 30, 4)}},
      {"wide rectangle", Check::WidthM, {{Rect(0, 0, 30, 5), 1}}, 5, 0, false, {}},
      {"narrow upright rectangle", Check::WidthM, {{Rect(0, 0, 3, 30), 1}}, 5, 2, false,
       {Box(0, 0, 3, 30)}},
      {"neck corners", Check::WidthM,
       {{{{0, 0}, {10, 0}, {10, 7}, {20, 7}, {20, 20}, {7, 20}, {7, 10}, {0, 10}}, 1}}, 6, 1,
       false, {Box(7, 7, 10, 10)}},
      {"45: narrow rectangle", Check::Width45, {{Rect(0, 0, 30, 4), 1}}, 5, 2, false,
       {Box(0, 0, 30, 4)}},
      // The upper end of the strip's right edge is the last point of all.
      {"45: strip ending the layer", Check::Width45, {{Rect(17, 7, 18, 12), 1}}, 2, 2, false,
       {Box(17, 7, 18, 12)}},
      {"45: gap below the distance", Check::Space45,
       {{Rect(0, 0, 10, 10), 1}, {Rect(14, 0, 24, 10), 1}}, 5, 2, false, {Box(10, 0, 14, 10)}},
  };
  for (const Fixture& c : cases) {
    const Rings got = RunCheck(c.check, c.rings, c.d, c.kind, 1, c.twoLayers);
    std::vector<Box> boxes = BoxesOf(got);
    boxes.erase(std::unique(boxes.begin(), boxes.end()), boxes.end());
    EXPECT_EQ(boxes, c.regions) << c.name;
    for (const auto& r : got) EXPECT_GE(oracle::Area2(r), 0) << c.name << ": clockwise region";
  }
}

// A 45-degree edge facing a vertical edge across a gap below the distance
// gives a region in the band of each (the two directions of the pair).
TEST(SpaceSweep, DiagonalFacingVerticalEdge) {
  // Triangle with its hypotenuse facing up-left, and a square to its left.
  const std::vector<Ring> rings = {{{{10, 0}, {30, 0}, {30, 20}}, 1}, {Rect(0, 0, 8, 20), 1}};
  const Rings got = RunCheck(Check::Space45, rings, 6, 2);
  ASSERT_FALSE(got.empty());
  bool verticalBand = false, diagonalBand = false;
  for (const auto& r : got) {
    for (const Point& p : r) {
      if (p.x == 8) verticalBand = true;
      if (p.x > 10 && p.x - 10 == p.y) diagonalBand = true;
    }
  }
  EXPECT_TRUE(verticalBand);
  EXPECT_TRUE(diagonalBand);
}

// --- Random layers against the gap oracle -----------------------------------

struct GapCase {
  Check check;
  bool width;
};

void CompareWithGapOracle(Check check, const std::vector<Ring>& rings, int32_t d,
                          const char* what, int seed) {
  const bool width = check == Check::WidthM || check == Check::Width45;
  ScratchList merged;
  test::MergeRings(rings, merged.list);
  const Rings layer = oracle::ResultRings(merged.list);
  const Rings got = RunCheck(check, rings, d, 2);
  Raster labels(distance_oracle::Widened(distance_oracle::BoundsOf(layer), d + 2));
  distance_oracle::PaintLayer(labels, layer, 1);
  Raster reported(Box(labels.x0, labels.y0, labels.x0 + labels.w, labels.y0 + labels.h));
  distance_oracle::PaintUnion(reported, got);
  const Raster want = distance_oracle::GapCells(labels, width ? 1 : 0, d, false);
  const std::string diff = distance_oracle::RasterDiff(
      reported, want, [&](int32_t x, int32_t y) { return labels.At(x, y) == (width ? 1 : 0); });
  EXPECT_EQ(diff, "") << what << " seed " << seed << " d " << d;
}

TEST(SpaceSweep, RandomManhattanLayersMatchGapOracle) {
  for (int seed = 0; seed < 150; ++seed) {
    std::mt19937 rng(seed);
    const std::vector<Ring> rings = RandomRects(rng, 3 + seed % 9, 40);
    const int32_t d = 2 + seed % 9;
    CompareWithGapOracle(Check::SpaceM, rings, d, "SPACE", seed);
    CompareWithGapOracle(Check::WidthM, rings, d, "WIDTH", seed);
    // The 45-degree sweeps take axis-parallel input as well.
    CompareWithGapOracle(Check::Space45, rings, d, "SPACE 45", seed);
    CompareWithGapOracle(Check::Width45, rings, d, "WIDTH 45", seed);
  }
}

// Two layers whose shapes keep the distance within their own layer and
// neither overlap nor touch the other layer's: the regions outside both
// layers are the gaps bounded by one shape of each layer.
TEST(SpaceSweep, TwoLayersPairOnlyAcrossLayers) {
  for (int seed = 0; seed < 120; ++seed) {
    std::mt19937 rng(1000 + seed);
    const int32_t d = 3 + seed % 6;
    std::vector<Ring> rings;
    for (const Ring& cand : RandomRects(rng, 40, 50)) {
      Ring r = cand;
      r.layer = 1 + int(rng() % 2);
      const Box b = distance_oracle::BoundsOf({r.pts});
      bool fits = true;
      for (const Ring& o : rings) {
        const Box ob = distance_oracle::BoundsOf({o.pts});
        const int32_t gap = o.layer == r.layer ? d : 1;
        if (b.x1 < ob.x2 + gap && ob.x1 < b.x2 + gap && b.y1 < ob.y2 + gap && ob.y1 < b.y2 + gap)
          fits = false;
      }
      if (fits) rings.push_back(r);
    }
    for (Check check : {Check::SpaceM, Check::Space45}) {
      const Rings got = RunCheck(check, rings, d, 2, 1, true);
      const Rings all = [&] {
        Rings a = PointsOf(rings, 1);
        for (auto& r : PointsOf(rings, 2)) a.push_back(r);
        return a;
      }();
      Raster labels(distance_oracle::Widened(distance_oracle::BoundsOf(all), d + 2));
      distance_oracle::PaintLayer(labels, PointsOf(rings, 1), 1);
      distance_oracle::PaintLayer(labels, PointsOf(rings, 2), 2);
      Raster reported(Box(labels.x0, labels.y0, labels.x0 + labels.w, labels.y0 + labels.h));
      distance_oracle::PaintUnion(reported, got);
      const Raster want = distance_oracle::GapCells(labels, 0, d, true);
      EXPECT_EQ(distance_oracle::RasterDiff(reported, want,
                                            [&](int32_t x, int32_t y) { return labels.At(x, y) == 0; }),
                "")
          << "seed " << seed << (check == Check::SpaceM ? " manhattan" : " 45");
    }
  }
}

// --- Corner boxes against brute force ---------------------------------------

// Corner boxes of kind 1 by brute force over the sorted points: a top-left
// convex corner s pairs with each bottom-right convex corner h processed
// before it that lies at or above s within the distance (strictly), a
// bottom-left one with each top-right corner at or below it; the point
// right above s in the same column closes a zero-width pair. Boxes narrower
// than unit are widened by unit on both sides.
std::vector<Box> BruteForceSpaceCorners(const std::vector<Ring>& rings, int32_t d, int32_t unit) {
  ScratchList merged;
  test::MergeRings(rings, merged.list);
  SortPoints(merged.list, ComparePointLess);
  std::vector<const PSPoint*> order;
  for (const PSPoint* p = merged.list.head; p; p = p->link) order.push_back(p);
  auto widen = [unit](Box b) {
    if (b.x2 - b.x1 < unit) b = Box(b.x1 - unit, b.y1, b.x2 + unit, b.y2);
    if (b.y2 - b.y1 < unit) b = Box(b.x1, b.y1 - unit, b.x2, b.y2 + unit);
    return b;
  };
  std::vector<Box> boxes;
  for (size_t i = 0; i < order.size(); ++i) {
    const PSPoint* s = order[i];
    const bool topLeft = s->prev->x > s->x && s->next->y < s->y;
    const bool bottomLeft = s->prev->y > s->y && s->next->x > s->x;
    for (size_t k = 0; k < i; ++k) {
      const PSPoint* h = order[k];
      const bool bottomRight = h->prev->x < h->x && h->next->y > h->y;
      const bool topRight = h->prev->y < h->y && h->next->x < h->x;
      const int64_t dx = int64_t(h->x) - s->x, dy = int64_t(h->y) - s->y;
      if (dx * dx + dy * dy >= int64_t(d) * d) continue;
      if ((topLeft && bottomRight && h->y >= s->y) || (bottomLeft && topRight && h->y <= s->y)) {
        Box b(std::min(s->x, h->x), std::min(s->y, h->y), std::max(s->x, h->x),
              std::max(s->y, h->y));
        boxes.push_back(widen(b));
      }
    }
    const PSPoint* j = i + 1 < order.size() ? order[i + 1] : nullptr;
    if (topLeft && j && j->x == s->x && j->next->x == s->x && j->y - s->y < d)
      boxes.push_back(Box(s->x - unit, s->y, s->x + unit, j->y));
  }
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  return boxes;
}

TEST(SpaceSweep, CornerBoxesMatchBruteForce) {
  int boxes = 0;
  for (int seed = 0; seed < 200; ++seed) {
    std::mt19937 rng(5000 + seed);
    const std::vector<Ring> rings = RandomRects(rng, 4 + seed % 10, 40);
    const int32_t d = 3 + seed % 8, unit = 1 + seed % 2;
    const std::vector<Box> want = BruteForceSpaceCorners(rings, d, unit);
    EXPECT_EQ(BoxesOf(RunCheck(Check::SpaceM, rings, d, 1, unit)), want) << "seed " << seed;
    boxes += int(want.size());
  }
  EXPECT_GT(boxes, 100);  // the sets are not trivially empty
}

// Unit 0 (a database unit coarser than two nanometres) widens nothing.
TEST(SpaceSweep, UnitZeroLeavesCornerBoxesUnwidened) {
  const Rings got = RunCheck(Check::SpaceM, {{Rect(0, 0, 10, 10), 1}, {Rect(10, 13, 20, 20), 1}},
                             5, 1, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(distance_oracle::BoundsOf(got), Box(10, 10, 10, 13));
}

// --- Limits -------------------------------------------------------------------

// Rule distances whose square leaves 32 bits still work.
TEST(SpaceSweep, LargeDistances) {
  const int32_t d = 60000;
  const std::vector<Ring> rings = {{Rect(0, 0, 100000, 100000), 1},
                                   {Rect(150000, 0, 250000, 100000), 1},
                                   {Rect(290000, 140000, 400000, 300000), 1}};
  const std::vector<Box> space = BoxesOf(RunCheck(Check::SpaceM, rings, d, 0));
  EXPECT_EQ(space, (std::vector<Box>{Box(100000, 0, 150000, 100000),
                                     Box(250000, 100000, 290000, 140000)}));
  const std::vector<Box> width = BoxesOf(RunCheck(Check::WidthM, {{Rect(0, 0, 50000, 300000), 1}}, d, 2));
  EXPECT_EQ(width, (std::vector<Box>{Box(0, 0, 50000, 300000)}));
}

// A corner box widened past the coordinate range is refused, not wrapped.
TEST(SpaceSweep, CoordinateOutsideInt32Throws) {
  // Corners one above the other at x = INT_MIN + 1: the box is widened by
  // the unit to the left of INT_MIN.
  const std::vector<Ring> rings = {{Rect(INT_MIN, 0, INT_MIN + 1, 10), 1},
                                   {Rect(INT_MIN + 1, 13, INT_MIN + 10, 20), 1}};
  try {
    RunCheck(Check::SpaceM, rings, 5, 1, 5);
    ADD_FAILURE() << "no Error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "DRC");
  }
}

// Open chains (edge layers): a missing neighbour is no edge.
TEST(SpaceSweep, OpenChainsHaveNoEdgeBeyondTheirEnds) {
  ScratchList list, out;
  // Two facing chains: an upward one at x = 0 and a downward one at x = 4.
  PSPoint* a = AppendPoint(list.list, 0, 0);
  PSPoint* b = AppendPoint(list.list, 0, 10);
  LinkPoints(a, b);
  PSPoint* c = AppendPoint(list.list, 4, 10);
  PSPoint* e = AppendPoint(list.list, 4, 0);
  LinkPoints(c, e);
  SortPoints(list.list, ComparePointLess);
  for (int kind : {0, 1, 2}) {
    ClearPointList(out.list);
    SweepSpaceManhattan(list.list, out.list, 5, 1, 1, kind, false);
    EXPECT_EQ(BoxesOf(oracle::ResultRings(out.list)),
              kind == 1 ? std::vector<Box>{} : std::vector<Box>{Box(0, 0, 4, 10)})
        << "kind " << kind;
    ClearPointList(out.list);
    SweepWidthManhattan(list.list, out.list, -5, 1, 1, kind);
    SweepWidthAnyAngle(list.list, out.list, -5, 1, 1, kind);
    SweepSpace45(list.list, out.list, 5, 1, 1, kind, false);
  }
}

}  // namespace
}  // namespace velmar
