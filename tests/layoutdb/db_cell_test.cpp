// Cells and their layer stores: shared shapes, the index kept in step with
// the raw layers, copying, dropping work layers, refused layer keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/trans.h"
#include "support/cell_fixtures.h"

namespace velmar {
namespace {

using namespace cell_test;

const Ring kL = {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
const Ring kRect = {{0, 0}, {30, 0}, {30, 10}, {0, 10}};

// Inserts the rings (each moved by its offset) as one list.
int Insert(DBCell& cell, LayerKey key, bool index,
           const std::vector<std::pair<Ring, Point>>& rings) {
  PSList list;
  for (const auto& [r, at] : rings) AppendRing(list, Moved(r, at.x, at.y));
  const int result = cell.InsertPolygons(list, key, index);
  ClearPointList(list);
  return result;
}

const CPgonListNode* FindShape(const DBCell& cell, LayerKey key,
                               uint32_t header) {
  for (const CPgonListNode* s = cell.rawLayers.at(key).first; s; s = s->next)
    if (s->polygon->header == header) return s;
  return nullptr;
}

std::vector<Point> PositionsOf(const CPgonListNode* s) {
  std::vector<Point> out;
  for (const LocListNode* p = s->placements.first; p; p = p->next)
    out.push_back(Point(p->x, p->y));
  return out;
}

// ---------------------------------------------------------------------------
// Shared shapes

TEST(DBCellInsertPolygons, EqualRingsShareOnePolygonWithAllPlacements) {
  DBCell cell;
  // Three L's (one given twice at the same place) and one rectangle, given
  // clockwise to check that rings are oriented before encoding.
  Ring clockwiseL(kL.rbegin(), kL.rend());
  EXPECT_EQ(Insert(cell, 5, true,
                   {{kL, {100, 0}}, {kRect, {0, 0}}, {clockwiseL, {0, 50}},
                    {kL, {100, 0}}, {kL, {-40, 7}}}),
            2);
  const CPgonList& layer = cell.rawLayers.at(5);
  EXPECT_EQ(layer.count, 2);
  const CPgonListNode* l = FindShape(cell, 5, 6);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(PositionsOf(l),
            (std::vector<Point>{{-40, 7}, {0, 50}, {100, 0}}));
  for (const LocListNode* p = l->placements.first; p; p = p->next)
    EXPECT_EQ(p->owner, l);
  ExpectTreeMatchesLayer(cell, 5);

  // Again into the indexed layer: a new place for the L, an old one and a
  // new shape.
  EXPECT_EQ(Insert(cell, 5, false,
                   {{kL, {0, 200}}, {kL, {0, 50}}, {kRect, {300, 300}}}),
            2);
  l = FindShape(cell, 5, 6);
  EXPECT_EQ(cell.rawLayers.at(5).count, 2);
  EXPECT_EQ(PositionsOf(l),
            (std::vector<Point>{{-40, 7}, {0, 50}, {0, 200}, {100, 0}}));
  EXPECT_EQ(PositionsOf(FindShape(cell, 5, DBPolygon::kRectangleHeader)),
            (std::vector<Point>{{0, 0}, {300, 300}}));
  ExpectTreeMatchesLayer(cell, 5);
  EXPECT_EQ(cell.box, Box(-40, 0, 330, 310));
}

// A layer filled shape by shape (as the stream readers do) holds duplicates;
// once it is indexed, the merge of a later insertion drops them, and no tree
// item may keep pointing at a dropped placement.
TEST(DBCellInsertPolygons, MergeOfOlderDuplicatesLeavesNoStaleItem) {
  DBCell cell;
  for (int i = 0; i < 3; ++i) {
    PSList ring;
    AppendRing(ring, Moved(kRect, 10, 10));
    CPgonListNode* shape = nullptr;
    Box box;
    int count = 0;
    cell.AddPolygon(ring, 7, shape, box, count);
    EXPECT_EQ(count, i + 1);
    ClearPointList(ring);
  }
  cell.IndexLayers();
  ExpectTreeMatchesLayer(cell, 7);
  EXPECT_EQ(cell.indexedLayers.at(7).itemCount, 3);

  EXPECT_EQ(Insert(cell, 7, false, {{kRect, {500, 10}}}), 2);
  EXPECT_EQ(cell.rawLayers.at(7).count, 1);
  EXPECT_EQ(PlacementCount(cell.rawLayers.at(7)), 2);
  ExpectTreeMatchesLayer(cell, 7);
}

TEST(DBCellInsertPolygons, ResultFlagsAndBox) {
  DBCell cell;
  PSList empty;
  EXPECT_EQ(cell.InsertPolygons(empty, 1, true), 1);
  EXPECT_EQ(cell.flags, 0);
  EXPECT_TRUE(cell.IsEmpty());

  EXPECT_EQ(Insert(cell, 1, false, {{kRect, {0, 0}}}), 2);
  EXPECT_EQ(cell.flags, DBCell::Modified);
  EXPECT_EQ(cell.box, Box(0, 0, 30, 10));
  EXPECT_TRUE(cell.indexedLayers.empty());  // not asked, not indexed

  cell.flags = 0;
  EXPECT_EQ(Insert(cell, 1, false, {{{{0, 0}, {5, 0}, {5, 5}, {0, 5}}, {25, 5}}}),
            1);  // touches the box from inside: no growth
  EXPECT_EQ(cell.flags, DBCell::Modified);
  EXPECT_EQ(cell.box, Box(0, 0, 30, 10));
  EXPECT_EQ(Insert(cell, 2, false, {{kRect, {-1, 0}}}), 2);
  EXPECT_EQ(cell.box, Box(-1, 0, 30, 10));
}

// Indexing on request indexes the layers already there; an indexed cell keeps
// every layer indexed even when not asked.
TEST(DBCellInsertPolygons, IndexingFollowsTheCell) {
  DBCell cell;
  Insert(cell, 1, false, {{kRect, {0, 0}}, {kL, {50, 0}}});
  EXPECT_FALSE(cell.IsIndexed());
  Insert(cell, 2, true, {{kL, {0, 40}}});
  EXPECT_TRUE(cell.IsIndexed());
  ExpectTreeMatchesLayer(cell, 1);
  ExpectTreeMatchesLayer(cell, 2);
  Insert(cell, 0x10001, false, {{kL, {0, 80}}});
  ExpectTreeMatchesLayer(cell, 0x10001);

  // Adding single shapes to an indexed layer keeps it indexed too.
  CPgonListNode* shape = nullptr;
  cell.AddBox(Box(0, 0, 8, 8), 2, shape);
  ExpectTreeMatchesLayer(cell, 2);
  // Indexing again never doubles an item.
  cell.IndexLayers();
  cell.IndexLayers();
  for (LayerKey k : {1, 2, 0x10001}) ExpectTreeMatchesLayer(cell, k);
}

TEST(DBCellInsertPolygons, EncodingErrorLeavesTheCellAsItWas) {
  DBCell cell;
  Insert(cell, 3, true, {{kRect, {0, 0}}, {kL, {40, 0}}});
  cell.flags = 0;
  const Box before = cell.box;

  // A fresh shape, then a staircase of 262,144 vertices: one more than a
  // stored polygon can hold.
  PSList list;
  AppendRing(list, Moved(kL, 500, 500));
  Ring stair = {{0, 0}};
  const int m = 131071;
  for (int i = 1; i <= m; ++i) {
    stair.push_back({i, i - 1});
    stair.push_back({i, i});
  }
  stair.push_back({0, m});
  ASSERT_EQ(stair.size(), 262144u);
  AppendRing(list, Moved(stair, -1000, -1000));
  try {
    cell.InsertPolygons(list, 3, false);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "DB");
    EXPECT_STREQ(e.Message(), "Number of points exceeded limit");
  }
  ClearPointList(list);
  EXPECT_EQ(cell.rawLayers.at(3).count, 2);
  EXPECT_EQ(PlacementCount(cell.rawLayers.at(3)), 2);
  ExpectTreeMatchesLayer(cell, 3);
  EXPECT_EQ(cell.flags, 0);
  EXPECT_EQ(cell.box, before);

  // Into a new layer: the layer is not left behind.
  AppendRing(list, kRect);
  AppendRing(list, stair);
  EXPECT_THROW(cell.InsertPolygons(list, 4, false), Error);
  ClearPointList(list);
  EXPECT_EQ(cell.rawLayers.count(4), 0u);
}

// ---------------------------------------------------------------------------
// Index against brute force

TEST(DBCellIndex, WindowQueriesFindExactlyTheOverlappingPlacements) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> pos(-500, 500);
  DBCell cell;
  std::vector<std::pair<Ring, Point>> all;
  for (int batch = 0; batch < 6; ++batch) {
    std::vector<std::pair<Ring, Point>> rings;
    for (int i = 0; i < 80; ++i) {
      if (!all.empty() && i % 9 == 0) {
        rings.push_back(all[rng() % all.size()]);  // a repeat
      } else {
        rings.push_back({RandomShape(rng, true), {pos(rng), pos(rng)}});
      }
    }
    // The first batches fill the layer unindexed; then it is indexed.
    Insert(cell, 9, batch >= 2, rings);
    all.insert(all.end(), rings.begin(), rings.end());
  }
  ExpectTreeMatchesLayer(cell, 9);

  const CPgonList& layer = cell.rawLayers.at(9);
  std::vector<std::pair<const LocListNode*, Box>> placed;
  for (const LocListNode* p : Placements(layer))
    placed.push_back({p, DecodedPlacedBox(p)});
  // Every distinct input ring is one placement.
  std::set<std::vector<std::pair<int, int>>> distinct;
  for (const auto& [r, at] : all) {
    std::vector<std::pair<int, int>> key;
    for (const Point& p : r) key.push_back({p.x + at.x, p.y + at.y});
    std::sort(key.begin(), key.end());
    distinct.insert(key);
  }
  EXPECT_EQ(placed.size(), distinct.size());

  const DBSearchSystem& tree = cell.indexedLayers.at(9);
  std::uniform_int_distribution<int> size(1, 300);
  for (int q = 0; q < 300; ++q) {
    const int x = pos(rng), y = pos(rng);
    const Box window(x, y, x + size(rng), y + size(rng));
    std::set<const void*> want, got;
    for (const auto& [p, b] : placed)
      if (b.Overlaps(window)) want.insert(p);
    for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window); n;
         n = DBSearchSystem::NextInBox(n, window))
      EXPECT_TRUE(got.insert(n->item).second);
    EXPECT_EQ(got, want) << "window " << x << " " << y;
  }
}

// ---------------------------------------------------------------------------
// Refused layer keys

TEST(DBCellLayerKeys, KeysOfTheReferenceStoreAndNegativeKeysAreRefused) {
  for (LayerKey key : {ReferenceKey, ReferenceKey + 1, 0x7fffffff, -1,
                       INT32_MIN}) {
    SCOPED_TRACE(key);
    DBCell cell;
    CPgonListNode* shape = nullptr;
    auto expectDB = [&](auto&& call) {
      try {
        call();
        ADD_FAILURE() << "accepted";
      } catch (const Error& e) {
        EXPECT_STREQ(e.Unit(), "DB");
      }
    };
    expectDB([&] { cell.AddBox(Box(0, 0, 5, 5), key, shape); });
    PSList ring;
    AppendRing(ring, kL);
    Box box;
    int count = 0;
    expectDB([&] { cell.AddPolygon(ring, key, shape, box, count); });
    expectDB([&] { cell.InsertPolygons(ring, key, true); });
    expectDB([&] { cell.AddSharedRing(ring.head, key); });
    ClearPointList(ring);
    expectDB([&] { cell.InsertPolygons(ring, key, false); });  // empty list
    EXPECT_TRUE(cell.IsEmpty());
    EXPECT_TRUE(cell.box.IsEmpty());
    EXPECT_EQ(cell.flags, 0);
  }
  // The extremes that are shape layers.
  DBCell cell;
  CPgonListNode* shape = nullptr;
  for (LayerKey key : {0, 0xFFFF, WorkLayerKey, ReferenceKey - 1})
    EXPECT_NO_THROW(cell.AddBox(Box(0, 0, 5, 5), key, shape));
  EXPECT_EQ(cell.rawLayers.size(), 4u);
}

// ---------------------------------------------------------------------------
// Small cell queries

TEST(DBCellBasics, AddBoxStoresSquaresAndRectangles) {
  DBCell cell;
  CPgonListNode* sq = nullptr;
  CPgonListNode* rect = nullptr;
  cell.AddBox(Box(0, 0, 10, 10), 1, sq);
  cell.AddBox(Box(0, 0, 10, 20), 1, rect);
  EXPECT_EQ(sq->polygon->header, 3u);
  EXPECT_EQ(sq->polygon->values, std::vector<int32_t>{10});
  EXPECT_EQ(rect->polygon->header, 4u);
  EXPECT_EQ(rect->polygon->values, (std::vector<int32_t>{10, 20}));
  EXPECT_EQ(PositionsOf(sq), std::vector<Point>{Point(0, 0)});
  EXPECT_EQ(cell.rawLayers.at(1).last, rect);  // appended, not merged
  EXPECT_EQ(cell.box, Box(0, 0, 10, 20));
  EXPECT_EQ(cell.flags, 0);
  EXPECT_TRUE(cell.indexedLayers.empty());
  EXPECT_THROW(cell.AddBox(Box(5, 0, 4, 3), 1, sq), Error);
  EXPECT_THROW(cell.AddBox(Box(INT32_MIN, 0, INT32_MAX, 3), 1, sq), Error);
}

TEST(DBCellBasics, VertexCountIsSixtyFourBitAndCountsSquaresAsFour) {
  static_assert(std::is_same_v<decltype(DBCell().VertexCount(false)), int64_t>);
  DBCell cell;
  Insert(cell, 1, false,
         {{{{0, 0}, {5, 0}, {5, 5}, {0, 5}}, {0, 0}},
          {{{0, 0}, {5, 0}, {5, 5}, {0, 5}}, {10, 0}},
          {{{0, 0}, {5, 0}, {5, 5}, {0, 5}}, {20, 0}}});
  Insert(cell, 0x10100, false, {{kL, {0, 0}}, {kL, {50, 0}}});
  EXPECT_EQ(cell.VertexCount(false), 12 + 12);
  EXPECT_EQ(cell.VertexCount(true), 12);

  // Totals past 2^31: one shape placed often enough.
  DBCell big;
  CPgonListNode* shape = nullptr;
  PSList ring;
  Ring many;
  for (int i = 0; i < 100000; ++i) many.push_back({i, i % 2 ? 1 : 0});
  for (int i = 99999; i >= 0; --i) many.push_back({i, 10 + (i % 2)});
  AppendRing(ring, many);
  Box box;
  int count = 0;
  big.AddPolygon(ring, 1, shape, box, count);
  ClearPointList(ring);
  for (int i = 1; i < 12000; ++i)
    LocList::Append(shape->placements, shape, 0, 20 * i);
  EXPECT_EQ(big.VertexCount(false), int64_t(200000) * 12000);
}

TEST(DBCellBasics, HasRefsAndBoxes) {
  DBCell cell;
  DBCell::IndexedLayerMap::iterator pos;
  EXPECT_FALSE(cell.HasRefs(pos));
  EXPECT_EQ(pos, cell.indexedLayers.end());
  cell.FindOrCreateTree(ReferenceKey, Box(0, 0, 100, 100));
  EXPECT_FALSE(cell.HasRefs(pos));
  ASSERT_NE(pos, cell.indexedLayers.end());
  EXPECT_EQ(pos->first, ReferenceKey);
  DBSearchSystem::Insert(pos->second, Box(0, 0, 10, 10),
                         new SRef(Trans(0, 0), 4));
  EXPECT_TRUE(cell.HasRefs(pos));

  Insert(cell, 1, true, {{kRect, {0, 0}}});
  Insert(cell, 2, true, {{kRect, {100, 100}}});
  Insert(cell, 0x10001, true, {{kRect, {-100, -100}}});
  EXPECT_EQ(cell.RawLayersBox(nullptr), Box(0, 0, 130, 110));
  EXPECT_EQ(cell.IndexedLayersBox(nullptr), Box(0, 0, 130, 110));
  LayerKeySet only2 = {2};
  EXPECT_EQ(cell.RawLayersBox(&only2), Box(100, 100, 130, 110));
  EXPECT_EQ(cell.IndexedLayersBox(&only2), Box(100, 100, 130, 110));
  LayerKeySet none = {3};
  EXPECT_TRUE(cell.RawLayersBox(&none).IsEmpty());
  EXPECT_TRUE(cell.IndexedLayersBox(&none).IsEmpty());
}

// ---------------------------------------------------------------------------
// Dropping, copying, freeing

// A cell with drawn, work, reference and environment reference layers, all
// indexed.
void FillFullCell(DBCell& cell) {
  Insert(cell, 1, true, {{kRect, {0, 0}}, {kL, {40, 0}}, {kL, {80, 0}}});
  Insert(cell, 0x0102, true, {{kL, {0, 40}}});
  Insert(cell, 0x10001, true, {{kRect, {0, 80}}});
  Insert(cell, 0x20000, true, {{kL, {0, 120}}});
  LayerTree& refs = cell.FindOrCreateTree(ReferenceKey, cell.box);
  DBSearchSystem::Insert(refs, Box(0, 0, 10, 10), new SRef(Trans(5, 6, 1.0f, 3), 7));
  DBSearchSystem::Insert(refs, Box(0, 0, 50, 50),
                         new ARef(Trans(1, 2, 2.0f, 4), 9, 3, 2, 20, 30));
  LayerTree& env = cell.FindOrCreateTree(ReferenceKey + 1, cell.box);
  DBSearchSystem::Insert(env, Box(0, 0, 10, 10), new SRef(Trans(1, 1), 2));
  cell.flags = 0;
}

TEST(DBCellDropWorkLayers, RemovesWorkLayersFromBothMaps) {
  DBCell cell;
  FillFullCell(cell);
  EXPECT_TRUE(cell.DropWorkLayers());
  EXPECT_EQ(cell.rawLayers.size(), 2u);
  EXPECT_EQ(cell.rawLayers.count(0x10001) + cell.rawLayers.count(0x20000), 0u);
  std::vector<LayerKey> trees;
  for (const auto& entry : cell.indexedLayers) trees.push_back(entry.first);
  EXPECT_EQ(trees, (std::vector<LayerKey>{1, 0x0102, ReferenceKey}));
  EXPECT_EQ(cell.indexedLayers.at(ReferenceKey).itemCount, 2);
  ExpectTreeMatchesLayer(cell, 1);
  ExpectTreeMatchesLayer(cell, 0x0102);
  EXPECT_EQ(cell.flags, 0);
  // Nothing left to drop: false, nothing changes.
  EXPECT_FALSE(cell.DropWorkLayers());
  EXPECT_EQ(cell.rawLayers.size(), 2u);
  EXPECT_EQ(cell.indexedLayers.size(), 3u);
}

TEST(DBCellCopy, CopiesDrawnLayersAndReferencesAsNewObjects) {
  auto source = std::make_unique<DBCell>();
  FillFullCell(*source);
  source->flags = DBCell::Leaf;
  DBCell target;
  source->Copy(target);

  EXPECT_EQ(target.flags, DBCell::Modified | DBCell::Leaf);
  EXPECT_EQ(target.box, source->box);
  std::vector<LayerKey> raw;
  for (const auto& entry : target.rawLayers) raw.push_back(entry.first);
  EXPECT_EQ(raw, (std::vector<LayerKey>{1, 0x0102}));  // no work layers
  for (LayerKey k : {1, 0x0102}) {
    ExpectTreeMatchesLayer(target, k);
    const CPgonList& a = source->rawLayers.at(k);
    const CPgonList& b = target.rawLayers.at(k);
    ASSERT_EQ(a.count, b.count);
    for (const CPgonListNode *s = a.first, *t = b.first; s; s = s->next, t = t->next) {
      EXPECT_NE(s->polygon.get(), t->polygon.get());
      EXPECT_EQ(CPgonList::CompareShapes(s, t), 0);
    }
  }
  EXPECT_EQ(target.indexedLayers.count(ReferenceKey + 1), 0u);

  // References: equal, but new objects.
  std::vector<const SRef*> srcRefs, dstRefs;
  for (DBSearchNode* n = DBSearchSystem::First(source->indexedLayers.at(ReferenceKey)); n;
       n = DBSearchSystem::Next(n))
    if (n->IsData()) srcRefs.push_back(static_cast<const SRef*>(n->item));
  for (DBSearchNode* n = DBSearchSystem::First(target.indexedLayers.at(ReferenceKey)); n;
       n = DBSearchSystem::Next(n))
    if (n->IsData()) dstRefs.push_back(static_cast<const SRef*>(n->item));
  ASSERT_EQ(srcRefs.size(), 2u);
  ASSERT_EQ(dstRefs.size(), 2u);
  // The trees may differ in shape: compare in reference order.
  auto byRef = [](const SRef* a, const SRef* b) {
    return SRef::Compare(a, b) < 0;
  };
  std::sort(srcRefs.begin(), srcRefs.end(), byRef);
  std::sort(dstRefs.begin(), dstRefs.end(), byRef);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NE(srcRefs[i], dstRefs[i]);
    EXPECT_EQ(SRef::Compare(srcRefs[i], dstRefs[i]), 0);
    EXPECT_EQ(srcRefs[i]->IsArray(), dstRefs[i]->IsArray());
  }

  // The source goes; the copy stands on its own.
  PSList before;
  GatherLayerRings(target.indexedLayers.at(1), before, false);
  const __int128 area = ListArea2(before);
  ClearPointList(before);
  source.reset();
  PSList after;
  EXPECT_EQ(GatherLayerRings(target.indexedLayers.at(1), after, false), 3);
  EXPECT_EQ(ListArea2(after), area);
  ClearPointList(after);
  ASSERT_TRUE(dstRefs[0]->IsArray());  // arrays sort first
  const auto* arr = static_cast<const ARef*>(dstRefs[0]);
  EXPECT_EQ(arr->columns, 3);
  EXPECT_EQ(arr->rowPitch, 30);
}

TEST(DBCellCopy, AppendsToWhatTheTargetHolds) {
  DBCell source, target;
  Insert(source, 1, false, {{kRect, {0, 0}}});
  Insert(target, 1, false, {{kL, {200, 200}}});  // raw only, no tree
  source.Copy(target);
  EXPECT_EQ(target.rawLayers.at(1).count, 2);
  ExpectTreeMatchesLayer(target, 1);  // the older shape is indexed too
  EXPECT_EQ(target.box, Box(0, 0, 220, 220));
  EXPECT_THROW(source.Copy(source), Error);
}

TEST(DBCellFree, FreeRawLayersTakesTheirTreesAlong) {
  DBCell cell;
  FillFullCell(cell);
  DBCell::IndexedLayerMap::iterator refs;
  ASSERT_TRUE(cell.HasRefs(refs));
  DBCell::FreeTreeItems(refs->second);
  for (DBSearchNode* n = DBSearchSystem::First(refs->second); n;
       n = DBSearchSystem::Next(n)) {
    if (n->IsData()) {
      EXPECT_EQ(n->item, nullptr);
    }
  }
  // A drawn layer's tree does not own its items: left alone.
  DBCell::FreeTreeItems(cell.indexedLayers.at(1));
  ExpectTreeMatchesLayer(cell, 1);

  EXPECT_TRUE(cell.FreeRawLayers());
  EXPECT_TRUE(cell.rawLayers.empty());
  std::vector<LayerKey> trees;
  for (const auto& entry : cell.indexedLayers) trees.push_back(entry.first);
  EXPECT_EQ(trees, (std::vector<LayerKey>{ReferenceKey, ReferenceKey + 1}));
  EXPECT_FALSE(cell.FreeRawLayers());
  // The environment layer's reference is still owned: the cell's
  // destruction frees it (checked by the leak sanitizer).
}

}  // namespace
}  // namespace velmar
