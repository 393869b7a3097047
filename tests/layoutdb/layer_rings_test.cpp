// Layer rings: a cell's layers handed out as rings per key, whole and inside
// windows, checked against areas computed independently from the input
// rings; taking shapes out of a layer; splicing ring maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "support/cell_fixtures.h"

namespace velmar {
namespace {

using namespace cell_test;

struct Placed {
  Ring ring;  // already moved to its place, counter-clockwise
  LayerKey key;
};

// A cell filled from random shapes on several layers (duplicates included);
// the oracle keeps every distinct placed ring once per key.
struct RandomCell {
  DBCell cell;
  std::map<LayerKey, std::set<std::vector<std::pair<int, int>>>> seen;
  std::vector<Placed> distinct;

  RandomCell(uint32_t seed, bool general, const std::vector<LayerKey>& keys,
             int perKey) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pos(-400, 400);
    for (LayerKey key : keys) {
      PSList list;
      std::vector<Ring> given;
      for (int i = 0; i < perKey; ++i) {
        Ring r = (i % 7 == 6 && !given.empty())
                     ? given[rng() % given.size()]
                     : Moved(RandomShape(rng, general), pos(rng), pos(rng));
        given.push_back(r);
        AppendRing(list, r);
        std::vector<std::pair<int, int>> k;
        for (const Point& p : r) k.push_back({p.x, p.y});
        std::sort(k.begin(), k.end());
        if (seen[key].insert(k).second) distinct.push_back({r, key});
      }
      cell.InsertPolygons(list, key, true);
      ClearPointList(list);
    }
  }
};

void ExpectInside(const PSList& list, const Box& w) {
  for (const PSPoint* p = list.head; p; p = p->link) {
    ASSERT_TRUE(w.x1 <= p->x && p->x <= w.x2 && w.y1 <= p->y && p->y <= w.y2)
        << p->x << " " << p->y;
  }
}

std::vector<Point> Vertices(const PSList& list) {
  std::vector<Point> out;
  for (const PSPoint* p = list.head; p; p = p->link) out.push_back({p->x, p->y});
  std::sort(out.begin(), out.end(), [](Point a, Point b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  });
  return out;
}

// ---------------------------------------------------------------------------
// Whole layers

TEST(GatherLayerRings, RectangleComesFromItsBox) {
  DBCell cell;
  CPgonListNode* shape = nullptr;
  cell.AddBox(Box(5, 5, 15, 25), 1, shape);
  cell.IndexLayers();
  for (bool flag : {false, true}) {
    PSList out;
    EXPECT_EQ(GatherLayerRings(cell.indexedLayers.at(1), out, flag), 1);
    ASSERT_EQ(RingsOf(out).size(), 1u);
    const Ring ring = RingsOf(out)[0];
    EXPECT_TRUE(ring == Ring({{5, 5}, {15, 5}, {15, 25}, {5, 25}}) ||
                ring == Ring({{5, 25}, {5, 5}, {15, 5}, {15, 25}}) ||
                ring == Ring({{15, 25}, {5, 25}, {5, 5}, {15, 5}}) ||
                ring == Ring({{15, 5}, {15, 25}, {5, 25}, {5, 5}}));
    for (const PSPoint* p = out.head; p; p = p->link)
      EXPECT_EQ(p->flags, flag ? PSPointFlags::SecondLayer : 0);
    ClearPointList(out);
  }
}

TEST(GatherLayerRings, WholeLayersMatchTheInputArea) {
  const std::vector<LayerKey> keys = {0x0100, 0x0105, 0x10100, 0x20207};
  RandomCell rc(77, true, keys, 150);
  std::map<LayerKey, __int128> want;
  std::map<LayerKey, size_t> count;
  for (const Placed& p : rc.distinct) {
    want[p.key] += Area2(p.ring);
    ++count[p.key];
  }
  for (LayerKey key : keys) {
    SCOPED_TRACE(key);
    PSList out;
    EXPECT_EQ(GatherLayerRings(rc.cell.indexedLayers.at(key), out, true),
              int(count[key]));
    EXPECT_EQ(ListArea2(out), want[key]);
    EXPECT_EQ(RingsOf(out).size(), count[key]);
    for (const PSPoint* p = out.head; p; p = p->link)
      ASSERT_EQ(p->flags, PSPointFlags::SecondLayer);
    ClearPointList(out);
  }

  // The raw form gives the same rings (mode 1: drawn and work layers), keyed
  // by the low 16 bits: 0x10100 and 0x0100 share an entry.
  LayerRings raw;
  rc.cell.RawLayersToRings({}, raw, 1);
  std::vector<uint32_t> rawKeys;
  for (const auto& e : raw) rawKeys.push_back(e.first);
  EXPECT_EQ(rawKeys, (std::vector<uint32_t>{0x0100, 0x0105, 0x0207}));
  EXPECT_EQ(ListArea2(raw[0x0100]), want[0x0100] + want[0x10100]);
  EXPECT_EQ(ListArea2(raw[0x0105]), want[0x0105]);
  EXPECT_EQ(ListArea2(raw[0x0207]), want[0x20207]);
}

TEST(RawLayersToRings, ModesAndFilter) {
  DBCell cell;
  CPgonListNode* shape = nullptr;
  cell.AddBox(Box(0, 0, 10, 10), 0x0100, shape);    // layer 1, datatype 0
  cell.AddBox(Box(0, 0, 20, 10), 0x0203, shape);    // layer 2, datatype 3
  cell.AddBox(Box(0, 0, 30, 10), 0x10100, shape);   // layer 257 = 1 | 0x10000
  cell.FindOrCreateRawLayer(0x0300);                 // empty: skipped
  auto areas = [&](const LayerKeySet& filter, int mode) {
    LayerRings out;
    cell.RawLayersToRings(filter, out, mode);
    std::map<uint32_t, int64_t> a;
    for (const auto& [k, list] : out) a[k] = int64_t(ListArea2(list) / 2);
    return a;
  };
  using M = std::map<uint32_t, int64_t>;
  EXPECT_EQ(areas({}, 0), (M{{0x0100, 100}, {0x0203, 200}}));
  EXPECT_EQ(areas({}, 1), (M{{0x0100, 400}, {0x0203, 200}}));
  EXPECT_EQ(areas({}, 2), (M{{0x0100, 300}}));
  EXPECT_EQ(areas({0x0203}, 1), (M{{0x0203, 200}}));
  EXPECT_EQ(areas({0x0100}, 2), (M{{0x0100, 300}}));
}

// ---------------------------------------------------------------------------
// Windows

TEST(IndexedLayersToRings, WindowAreasMatchAnIndependentClip) {
  const std::vector<LayerKey> keys = {0x0100, 0x0203, 0x10100};
  RandomCell rc(4242, false, keys, 200);
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> pos(-450, 450);
  std::uniform_int_distribution<int> size(1, 250);
  for (int q = 0; q < 120; ++q) {
    const int x = pos(rng), y = pos(rng);
    const Box window(x, y, x + size(rng), y + size(rng));
    SCOPED_TRACE(::testing::Message() << "window " << x << " " << y << " "
                                      << window.x2 << " " << window.y2);
    std::map<uint32_t, __int128> want[3];  // per mode, keyed by low 16 bits
    std::map<LayerKey, int> hits;
    for (const Placed& p : rc.distinct) {
      const __int128 a = Area2(ClipRing(p.ring, window));
      if (a == 0) continue;
      ++hits[p.key];
      const uint32_t k = p.key & 0xFFFF;
      if (p.key < WorkLayerKey) want[0][k] += a;
      want[1][k] += a;
      if (p.key >= WorkLayerKey) want[2][k] += a;
    }
    for (int mode = 0; mode < 3; ++mode) {
      for (int clip = 0; clip < 2; ++clip) {
        LayerRings out;
        rc.cell.IndexedLayersToRings(window, {}, out, mode, clip);
        std::map<uint32_t, __int128> got;
        for (const auto& [k, list] : out) {
          EXPECT_FALSE(list.IsEmpty()) << "entry without points";
          ExpectInside(list, window);
          got[k] = ListArea2(list);
        }
        EXPECT_EQ(got, want[mode]) << "mode " << mode << " clip " << clip;
      }
    }
    // Per tree: the number of items gathered is the number of placements
    // with something inside the window.
    for (LayerKey key : keys) {
      PSList out;
      EXPECT_EQ(GatherLayerRingsInWindow(rc.cell.indexedLayers.at(key), window,
                                         out, false, 0),
                hits[key]);
      ClearPointList(out);
    }
  }
}

TEST(GatherLayerRingsInWindow, EdgeCases) {
  DBCell cell;
  CPgonListNode* shape = nullptr;
  cell.AddBox(Box(0, 0, 10, 10), 1, shape);
  PSList l;
  AppendRing(l, {{100, 0}, {140, 0}, {140, 10}, {110, 10}, {110, 40}, {100, 40}});
  Box box;
  int count = 0;
  cell.AddPolygon(l, 1, shape, box, count);
  ClearPointList(l);
  cell.IndexLayers();
  const DBSearchSystem& tree = cell.indexedLayers.at(1);

  struct Case {
    const char* what;
    Box window;
    int items;
    std::vector<Point> vertices;  // sorted
  };
  const std::vector<Case> cases = {
      {"touching along an edge", Box(10, 0, 20, 10), 0, {}},
      {"rectangle crossing the window", Box(5, -5, 20, 5), 1,
       {{5, 0}, {5, 5}, {10, 0}, {10, 5}}},
      {"L inside the window: not clipped", Box(100, 0, 140, 40), 1,
       {{100, 0}, {100, 40}, {110, 10}, {110, 40}, {140, 0}, {140, 10}}},
      {"window in the L's notch", Box(120, 20, 130, 30), 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PSList out;
    EXPECT_EQ(GatherLayerRingsInWindow(tree, c.window, out, false, 1), c.items);
    EXPECT_EQ(Vertices(out), c.vertices);
    ClearPointList(out);
  }
  // No entry for a layer without points in the window.
  LayerRings rings;
  cell.IndexedLayersToRings(Box(120, 20, 130, 30), {}, rings, 0, 0);
  EXPECT_TRUE(rings.empty());
}

// ---------------------------------------------------------------------------
// Taking shapes out of a layer

TEST(TakeLayerRingsInWindow, TakesWholeShapesAndKeepsTreeAndLayerInStep) {
  const LayerKey key = 0x0100;
  RandomCell rc(555, false, {key}, 400);
  DBCell& cell = rc.cell;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pos(-450, 450);
  std::vector<Placed> left = rc.distinct;
  for (int q = 0; q < 12; ++q) {
    const int x = pos(rng), y = pos(rng);
    const Box window(x, y, x + 150, y + 150);
    __int128 want = 0;
    std::vector<Placed> keep;
    int taken = 0;
    for (const Placed& p : left) {
      if (Area2(ClipRing(p.ring, window)) != 0) {
        want += Area2(p.ring);  // whole
        ++taken;
      } else {
        keep.push_back(p);
      }
    }
    PSList out;
    EXPECT_EQ(TakeLayerRingsInWindow(cell.indexedLayers.at(key), window,
                                     cell.rawLayers.at(key), out, false),
              taken);
    EXPECT_EQ(ListArea2(out), want);
    ClearPointList(out);
    left.swap(keep);
    EXPECT_EQ(PlacementCount(cell.rawLayers.at(key)), int64_t(left.size()));
    ExpectTreeMatchesLayer(cell, key);
    for (const CPgonListNode* s = cell.rawLayers.at(key).first; s; s = s->next)
      EXPECT_GT(s->placements.count, 0);
  }
  PSList rest;
  GatherLayerRings(cell.indexedLayers.at(key), rest, false);
  __int128 want = 0;
  for (const Placed& p : left) want += Area2(p.ring);
  EXPECT_EQ(ListArea2(rest), want);
  ClearPointList(rest);
}

// ---------------------------------------------------------------------------
// Ring maps

TEST(SpliceLayerRings, ConcatenatesAndEmptiesTheSource) {
  LayerRings target, source;
  BoxToRing(target[1], Box(0, 0, 1, 1), false);
  BoxToRing(source[1], Box(0, 0, 2, 2), false);
  BoxToRing(source[3], Box(0, 0, 3, 3), false);
  source[5];  // empty entry
  SpliceLayerRings(target, source);
  EXPECT_EQ(target.size(), 3u);
  EXPECT_EQ(target[1].pointCount, 8);
  EXPECT_EQ(target[1].ringCount, 2);
  EXPECT_EQ(ListArea2(target[1]), 2 * (1 + 4));
  EXPECT_EQ(ListArea2(target[3]), 2 * 9);
  EXPECT_TRUE(target[5].IsEmpty());
  EXPECT_EQ(source.size(), 3u);
  for (const auto& [k, list] : source) {
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.pointCount, 0);
    EXPECT_EQ(list.ringCount, 0);
  }

  LayerRings onlyEmpty, into;
  onlyEmpty[7];
  SpliceLayerRings(into, onlyEmpty);
  ASSERT_EQ(into.size(), 1u);
  EXPECT_TRUE(into.find(7)->second.IsEmpty());
}

TEST(LayerRingsOwnership, PointsGoBackToThePoolWithTheMap) {
  std::set<const PSPoint*> points;
  {
    LayerRings rings;
    BoxToRing(rings[1], Box(0, 0, 1, 1), false);
    BoxToRing(rings[2], Box(0, 0, 1, 1), false);
    LayerRings moved(std::move(rings));
    EXPECT_TRUE(rings.empty());
    for (const auto& [k, list] : moved)
      for (const PSPoint* p = list.head; p; p = p->link) points.insert(p);
    moved.erase(2);
  }
  ASSERT_EQ(points.size(), 8u);
  size_t found = 0;
  for (const PSPoint* p = PointFreeList().head; p && found < points.size();
       p = p->link)
    found += points.count(p);
  EXPECT_EQ(found, points.size());
}

}  // namespace
}  // namespace velmar
