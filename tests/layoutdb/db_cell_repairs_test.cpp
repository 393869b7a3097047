// Per-shape repairs of a cell's raw layers: self-touch markers, splitting
// self-touching shapes, trimming acute vertices, growing shapes. Results are checked by
// rasterising the placed rings (winding numbers at cell centres) and by the
// placements every new shape must carry.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
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

// Brute force of a grown region: the cell centres (quarter units) of the
// window within Chebyshev distance below size of one of the rectangles the
// shape is made of, each placed at (dx, dy). Growing a rectilinear region
// by size is adding the square of half side size to it, which distributes
// over a union of rectangles.
std::map<std::pair<int64_t, int64_t>, int> GrownRaster(const std::vector<Box>& parts,
                                                       int32_t size, int32_t dx,
                                                       int32_t dy, const Box& b) {
  std::map<std::pair<int64_t, int64_t>, int> cover;
  for (int64_t x = 4 * int64_t(b.x1) + 1; x < 4 * int64_t(b.x2); x += 2)
    for (int64_t y = 4 * int64_t(b.y1) + 1; y < 4 * int64_t(b.y2); y += 2)
      for (const Box& r : parts)
        if (x > 4 * (int64_t(r.x1) + dx - size) && x < 4 * (int64_t(r.x2) + dx + size) &&
            y > 4 * (int64_t(r.y1) + dy - size) && y < 4 * (int64_t(r.y2) + dy + size)) {
          cover[{x, y}] = 1;
          break;
        }
  return cover;
}

// Sizes one shape placed three times and compares every placement's
// result with the brute force; every new shape carries all placements and
// the cell's box covers them.
void CheckSizeUp(const Ring& ring, const std::vector<Box>& parts, int32_t size,
                 size_t shapes) {
  const std::vector<std::pair<int32_t, int32_t>> at = {{0, 0}, {1000, 0}, {0, -700}};
  DBCell cell;
  AddShape(cell, kLayer, ring, {at[1], at[2]});
  cell.box = cell.RawLayersBox(nullptr);
  cell.SizeUpShapes(kLayer, kTarget, size);
  EXPECT_EQ(cell.rawLayers.at(kLayer).count, 1);  // the source stays
  const CPgonList& target = cell.rawLayers.at(kTarget);
  EXPECT_EQ(size_t(target.count), shapes);
  for (const CPgonListNode* s = target.first; s != nullptr; s = s->next)
    EXPECT_EQ(s->placements.count, 3);
  const std::vector<Ring> rings = PlacedRings(cell, kTarget);
  Box shape;
  for (const Box& r : parts) shape.Merge(r);
  for (auto [dx, dy] : at) {
    const Box window(shape.x1 + dx - size - 3, shape.y1 + dy - size - 3,
                     shape.x2 + dx + size + 3, shape.y2 + dy + size + 3);
    auto now = Raster(rings, window, false);
    for (auto& [pt, n] : now) EXPECT_EQ(n, 1) << pt.first << " " << pt.second;
    EXPECT_EQ(now, GrownRaster(parts, size, dx, dy, window)) << "placement " << dx << " " << dy;
    EXPECT_TRUE(cell.box.Contains(Box(shape.x1 + dx - size, shape.y1 + dy - size,
                                      shape.x2 + dx + size, shape.y2 + dy + size)));
  }
}

TEST(SizeUpShapesTest, RectanglesLShapesAndHolesGrowAtEveryPlacement) {
  const Ring keyhole = {{0, 0},   {100, 0},  {100, 100}, {50, 100}, {50, 60}, {60, 60},
                        {60, 40}, {40, 40},  {40, 60},   {50, 60},  {50, 100}, {0, 100}};
  const std::vector<Box> keyholeParts = {Box(0, 0, 100, 40), Box(0, 60, 100, 100),
                                         Box(0, 0, 40, 100), Box(60, 0, 100, 100)};
  struct Case {
    const char* name;
    Ring ring;
    std::vector<Box> parts;
    int32_t size;
    size_t shapes;
  } cases[] = {
      {"rectangle", {{10, 20}, {70, 20}, {70, 45}, {10, 45}}, {Box(10, 20, 70, 45)}, 7, 1},
      {"rectangle, size 0", {{10, 20}, {70, 20}, {70, 45}, {10, 45}}, {Box(10, 20, 70, 45)}, 0, 1},
      {"L shape",
       {{0, 0}, {80, 0}, {80, 20}, {30, 20}, {30, 90}, {0, 90}},
       {Box(0, 0, 80, 20), Box(0, 0, 30, 90)},
       6,
       1},
      {"L shape, notch filled", {{0, 0}, {80, 0}, {80, 20}, {30, 20}, {30, 90}, {0, 90}},
       {Box(0, 0, 80, 20), Box(0, 0, 30, 90)}, 40, 1},
      {"hole shrinks", keyhole, keyholeParts, 5, 1},
      {"hole closes", keyhole, keyholeParts, 12, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckSizeUp(c.ring, c.parts, c.size, c.shapes);
  }
}

TEST(SizeUpShapesTest, RandomRectilinearShapesMatchTheBruteForce) {
  std::mt19937 rng(3119);
  std::uniform_int_distribution<int32_t> coord(0, 30), grow(0, 9);
  for (int round = 0; round < 40; ++round) {
    // A staircase: columns of random heights over one baseline, walked
    // counter-clockwise; its columns are the rectangles it is made of.
    const int columns = 1 + round % 4;
    Ring ring = {{0, 0}};
    std::vector<Box> parts;
    int32_t x = 0;
    std::vector<std::pair<int32_t, int32_t>> tops;
    for (int i = 0; i < columns; ++i) {
      const int32_t w = 1 + coord(rng), h = 1 + coord(rng);
      parts.emplace_back(x, 0, x + w, h);
      tops.push_back({x + w, h});
      x += w;
    }
    ring.push_back({x, 0});
    for (int i = columns - 1; i >= 0; --i) {
      ring.push_back({parts[i].x2, parts[i].y2});
      ring.push_back({parts[i].x1, parts[i].y2});
    }
    // Equal neighbouring heights leave collinear vertices: drop them.
    Ring clean;
    for (size_t i = 0; i < ring.size(); ++i) {
      const Point& p = ring[(i + ring.size() - 1) % ring.size()];
      const Point& q = ring[i];
      const Point& n = ring[(i + 1) % ring.size()];
      if ((p.x == q.x && q.x == n.x) || (p.y == q.y && q.y == n.y)) continue;
      clean.push_back(q);
    }
    SCOPED_TRACE(round);
    CheckSizeUp(clean, parts, grow(rng), 1);
  }
}

TEST(SizeUpShapesTest, SourceAsTargetAndAMissingSource) {
  DBCell cell;
  AddShape(cell, kLayer, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  cell.SizeUpShapes(kTarget, kMarkers, 5);  // no source layer
  EXPECT_EQ(cell.rawLayers.count(kMarkers), 0u);
  // The grown shape joins its source; only the old shape is sized.
  cell.SizeUpShapes(kLayer, kLayer, 5);
  const std::vector<Ring> rings = PlacedRings(cell, kLayer);
  ASSERT_EQ(rings.size(), 2u);
  std::set<std::pair<int64_t, int64_t>> sizes;
  for (const Ring& r : rings) {
    const Box b = cell_test::BoxOf(r);
    sizes.insert({b.Width(), int64_t(b.y2) - b.y1});
  }
  EXPECT_EQ(sizes, (std::set<std::pair<int64_t, int64_t>>{{10, 10}, {20, 20}}));
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
