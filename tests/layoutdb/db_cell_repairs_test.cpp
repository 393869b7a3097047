// Per-shape repairs of a cell's raw layers: self-touch markers, splitting
// self-touching shapes, trimming acute vertices. Results are checked by
// rasterising the placed rings (winding numbers at cell centres) and by the
// placements every new shape must carry.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "support/boolean_oracle.h"
#include "support/cell_fixtures.h"

namespace velmar {
namespace {

using cell_test::AppendRing;
using cell_test::Ring;

constexpr LayerKey kLayer = 1 * 256;
constexpr LayerKey kTarget = 2 * 256;
constexpr LayerKey kMarkers = 9 * 256;

// A bow tie whose two edges cross at (10, 10).
const Ring kBowTie = {{0, 0}, {20, 20}, {20, 0}, {0, 20}};

// Adds ring (coordinates of the cell) as one shape of key, placed at its
// origin, plus further placements moved by each offset; returns the shape.
CPgonListNode* AddShape(DBCell& cell, LayerKey key, const Ring& ring,
                        const std::vector<std::pair<int32_t, int32_t>>& more = {}) {
  ScratchList list;
  AppendRing(list.list, ring);
  CPgonListNode* shape = nullptr;
  Box box;
  int count = 0;
  cell.AddPolygon(list.list, key, shape, box, count);
  const LocListNode* first = shape->placements.first;
  const int32_t x = first->x, y = first->y;
  for (auto [dx, dy] : more) LocList::Append(shape->placements, shape, x + dx, y + dy);
  return shape;
}

// Every placed ring of a raw layer.
std::vector<Ring> PlacedRings(const DBCell& cell, LayerKey key) {
  ScratchList out;
  CPgonList::ToRings(cell.rawLayers.at(key), out.list);
  return cell_test::RingsOf(out.list);
}

// Winding counts of a set of rings at every cell centre of the box: a
// rasterisation to compare regions by (points at quarter units).
std::map<std::pair<int64_t, int64_t>, int> Raster(const std::vector<Ring>& rings,
                                                  const Box& b, bool evenOdd) {
  std::map<std::pair<int64_t, int64_t>, int> cover;
  for (int64_t x = 4 * int64_t(b.x1) + 1; x < 4 * int64_t(b.x2); x += 2)
    for (int64_t y = 4 * int64_t(b.y1) + 1; y < 4 * int64_t(b.y2); y += 2) {
      int inside = 0;
      for (const Ring& r : rings) {
        const int w = oracle::WindingScaled(r, x, y, 4);
        inside += evenOdd ? (w & 1) : (w != 0);
      }
      if (inside != 0) cover[{x, y}] = inside;
    }
  return cover;
}

TEST(FindSelfCrossShapesTest, MarkerCentredOnTheCrossingAtEveryPlacement) {
  DBCell cell;
  // The bow tie placed at (100, 100), then at (300, 100) and (100, 500).
  AddShape(cell, kLayer, cell_test::Moved(kBowTie, 100, 100), {{200, 0}, {0, 400}});
  AddShape(cell, kLayer, {{0, 0}, {50, 0}, {50, 50}, {0, 50}});  // a plain square
  EXPECT_EQ(cell.FindSelfCrossShapes(kMarkers, 5), 1);
  const CPgonList& markers = cell.rawLayers.at(kMarkers);
  ASSERT_EQ(markers.count, 1);
  EXPECT_EQ(markers.first->polygon->header, 3u);  // a square
  std::vector<Ring> placed = PlacedRings(cell, kMarkers);
  std::set<std::pair<int32_t, int32_t>> corners;
  for (const Ring& r : placed) {
    const Box b = cell_test::BoxOf(r);
    EXPECT_EQ(b.x2 - b.x1, 10);
    EXPECT_EQ(b.y2 - b.y1, 10);
    corners.insert({b.x1, b.y1});
  }
  EXPECT_EQ(corners, (std::set<std::pair<int32_t, int32_t>>{
                         {105, 105}, {305, 105}, {105, 505}}));
  // Nothing to mark adds no layer.
  DBCell clean;
  AddShape(clean, kLayer, {{0, 0}, {50, 0}, {50, 50}, {0, 50}});
  EXPECT_EQ(clean.FindSelfCrossShapes(kMarkers, 5), 0);
  EXPECT_EQ(clean.rawLayers.count(kMarkers), 0u);
}

TEST(FixSelfCrossShapesTest, FigureEightBecomesTwoSharedRingsCoveringTheSameRegion) {
  DBCell cell;
  const std::vector<std::pair<int32_t, int32_t>> more = {{1000, 0}, {0, -700}};
  AddShape(cell, kLayer, kBowTie, more);
  const std::vector<Ring> before = PlacedRings(cell, kLayer);
  EXPECT_EQ(cell.FixSelfCrossShapes(), 1);
  const CPgonList& layer = cell.rawLayers.at(kLayer);
  ASSERT_EQ(layer.count, 2);
  for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next)
    EXPECT_EQ(s->placements.count, 3);  // every placement of the old shape
  const std::vector<Ring> after = PlacedRings(cell, kLayer);
  EXPECT_EQ(after.size(), 6u);
  for (auto [dx, dy] : std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {1000, 0}, {0, -700}}) {
    const Box window(dx, dy, dx + 20, dy + 20);
    // The old region (its odd winding) is the union of the new rings, each
    // covering its lobe once.
    auto old = Raster(before, window, true);
    auto now = Raster(after, window, false);
    for (auto& [pt, n] : now) EXPECT_EQ(n, 1);
    for (auto& [pt, n] : old) n = 1;
    EXPECT_EQ(now, old);
  }
  // A second run finds nothing more.
  EXPECT_EQ(cell.FixSelfCrossShapes(), 0);
}

TEST(FixSmallAcuteShapesTest, AcuteVertexTrimmedIntoTheTargetWithItsCount) {
  DBCell cell;
  // A square whose corner (100, 0) is pulled out into an acute vertex (the
  // edge from it runs to (99, 2)): moving it by one unit along its edge to
  // (99, 0) opens the angle to 90 degrees.
  const Ring acute = {{0, 0}, {100, 0}, {99, 2}, {99, 100}, {0, 100}};
  AddShape(cell, kLayer, acute, {{500, 0}, {0, 500}});
  EXPECT_EQ(cell.FixSmallAcuteShapes(kLayer, kTarget, 1), 1);
  const CPgonList& target = cell.rawLayers.at(kTarget);
  ASSERT_EQ(target.count, 1);
  EXPECT_EQ(target.first->placements.count, 3);
  EXPECT_EQ(cell.rawLayers.at(kLayer).count, 1);  // the source stays
  // Each placed result is the square (0, 0) - (99, 100) at its placement.
  const std::vector<Ring> rings = PlacedRings(cell, kTarget);
  ASSERT_EQ(rings.size(), 3u);
  std::set<std::pair<int32_t, int32_t>> corners;
  for (const Ring& r : rings) {
    const Box b = cell_test::BoxOf(r);
    EXPECT_EQ(b.x2 - b.x1, 99);
    EXPECT_EQ(b.y2 - b.y1, 100);
    const Box square(b.x1, b.y1, b.x2, b.y2);
    EXPECT_EQ(Raster({r}, square, false).size(), size_t(99 * 100 * 4));
    corners.insert({b.x1, b.y1});
  }
  EXPECT_EQ(corners, (std::set<std::pair<int32_t, int32_t>>{{0, 0}, {500, 0}, {0, 500}}));
}

TEST(FixSmallAcuteShapesTest, EveryRingOfTheResultIsKept) {
  DBCell cell;
  // Merging the bow tie gives two rings (its lobes): both become shapes.
  AddShape(cell, kLayer, kBowTie, {{100, 0}});
  cell.FixSmallAcuteShapes(kLayer, kTarget, 1);
  const CPgonList& target = cell.rawLayers.at(kTarget);
  EXPECT_EQ(target.count, 2);
  for (const CPgonListNode* s = target.first; s != nullptr; s = s->next)
    EXPECT_EQ(s->placements.count, 2);
}

TEST(FixSmallAcuteShapesTest, WithoutASourceLayerNothingIsCreated) {
  DBCell cell;
  AddShape(cell, kLayer, {{0, 0}, {50, 0}, {50, 50}, {0, 50}});
  EXPECT_EQ(cell.FixSmallAcuteShapes(kTarget, kMarkers, 1), 0);
  EXPECT_EQ(cell.rawLayers.count(kMarkers), 0u);
  // With a source, the target exists even when no vertex moves.
  EXPECT_EQ(cell.FixSmallAcuteShapes(kLayer, kTarget, 1), 0);
  ASSERT_EQ(cell.rawLayers.count(kTarget), 1u);
  EXPECT_EQ(cell.rawLayers.at(kTarget).count, 1);
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// Random closed rectilinear walks (they cross themselves on the grid),
// each with one to three placements: splitting keeps, at every sample point
// off the edges, the parity of the windings of all placed rings (the split
// only re-links the same edges; the stored rings may turn the other way),
// and every shape's placements go with each of its rings.
TEST(FixSelfCrossShapesTest, RandomWalksKeepTheirRegionAtEveryPlacement) {
  std::mt19937 rng(3107);
  std::uniform_int_distribution<int32_t> coord(0, 40), count(2, 6), places(1, 3);
  DBCell cell;
  int64_t placementsBefore = 0;
  for (int s = 0; s < 60; ++s) {
    const int k = count(rng);
    std::vector<int32_t> xs, ys;
    while (int(xs.size()) < k) {
      const int32_t x = coord(rng);
      if (xs.empty() || x != xs.back()) xs.push_back(x);
    }
    while (int(ys.size()) < k) {
      const int32_t y = coord(rng);
      if (ys.empty() || y != ys.back()) ys.push_back(y);
    }
    if (xs.front() == xs.back() || ys.front() == ys.back()) continue;
    Ring walk;
    for (int i = 0; i < k; ++i) {
      walk.push_back({xs[i], ys[i]});
      walk.push_back({xs[(i + 1) % k], ys[i]});
    }
    // Each shape in a 100 x 100 square of its own, further placements to
    // the right of all of them.
    const int32_t ox = 100 * (s % 8), oy = 100 * (s / 8);
    std::vector<std::pair<int32_t, int32_t>> more;
    for (int p = places(rng) - 1; p > 0; --p) more.push_back({1000 * p, 0});
    ASSERT_NO_THROW(AddShape(cell, kLayer, cell_test::Moved(walk, ox, oy), more));
    placementsBefore += 1 + int64_t(more.size());
  }
  const std::vector<Ring> before = PlacedRings(cell, kLayer);
  const int split = cell.FixSelfCrossShapes();
  EXPECT_GT(split, 10);
  const std::vector<Ring> after = PlacedRings(cell, kLayer);
  // Sum of windings at quarter points of every cell of the used plane.
  auto windings = [](const std::vector<Ring>& rings) {
    std::map<std::pair<int64_t, int64_t>, int> w;
    for (const Ring& r : rings) {
      const Box b = cell_test::BoxOf(r);
      for (int64_t x = 4 * int64_t(b.x1) + 1; x < 4 * int64_t(b.x2); x += 4)
        for (int64_t y = 4 * int64_t(b.y1) + 1; y < 4 * int64_t(b.y2); y += 4)
          w[{x, y}] ^= oracle::WindingScaled(r, x, y, 4) & 1;
    }
    for (auto it = w.begin(); it != w.end();) it = it->second == 0 ? w.erase(it) : ++it;
    return w;
  };
  EXPECT_EQ(windings(after), windings(before));
  EXPECT_GE(int64_t(after.size()), placementsBefore);
}

}  // namespace
}  // namespace velmar
