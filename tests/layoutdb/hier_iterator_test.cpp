// The hierarchical iterator: walk order and transforms, layer 64/0 against
// the resume signal, reported placements of a target, the excluded
// reference, resuming after the caller popped frames, and placement cycles
// in every hierarchy walk of the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "support/hier_fixtures.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using hier_test::Array;
using hier_test::Model;
using hier_test::ModelRef;
using hier_test::Ref;
using Ring = cell_test::Ring;

const Ring kSquare{{0, 0}, {10, 0}, {10, 10}, {0, 10}};

struct Visit {
  const DBSearchNode* node;
  Trans trans;
  int32_t key;
  DBCell* cell;  // the cell of the top frame
};

std::vector<Visit> Walk(HierIterator& it, bool skipOwnShapes, bool resume) {
  std::vector<Visit> out;
  Trans t;
  int32_t key = 0;
  for (DBSearchNode* n = it.First(&t, &key, skipOwnShapes); n != nullptr;
       n = it.Next(&t, &key, resume)) {
    out.push_back(Visit{n, t, key, it.frames.front().cell});
    if (out.size() > 10000) break;  // a walk that never ends
  }
  return out;
}

const SRef* RefAt(DBCell* cell, int32_t x, int32_t y) {
  LayerTree& tree = cell->indexedLayers.at(ReferenceKey);
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    const SRef* r = static_cast<const SRef*>(n->item);
    if (r->x == x && r->y == y) return r;
  }
  return nullptr;
}

TEST(HierIteratorTest, FirstAtReferenceLayerOfCellWithoutReferences) {
  Model m(1);
  m[0].shapes[0x0100] = {kSquare};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w(-100, -100, 100, 100);
  HierIterator skip(&lib, lib.cells[0], &w, nullptr, -1);
  Trans t;
  int32_t key = 7;
  EXPECT_EQ(skip.First(&t, &key, true), nullptr);
  HierIterator all(&lib, lib.cells[0], &w, nullptr, -1);
  EXPECT_EQ(Walk(all, false, false).size(), 1u);
}

// A start cell holding raw layers only is indexed by First.
TEST(HierIteratorTest, RawOnlyStartCellIsIndexed) {
  Model m(1);
  m[0].shapes[0x0100] = {kSquare, cell_test::Moved(kSquare, 30, 0)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  ASSERT_FALSE(lib.cells[0]->IsIndexed());
  const Box w(-100, -100, 100, 100);
  HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
  EXPECT_EQ(Walk(it, false, false).size(), 2u);
  EXPECT_TRUE(lib.cells[0]->IsIndexed());
}

// Layer 64, datatype 0 has the key 0x4000: its items are handed out like any
// others, and the child placed afterwards still yields its shapes.
TEST(HierIteratorTest, Layer64IsARealLayer) {
  Model m(2);
  m[0].shapes[0x4000] = {kSquare, cell_test::Moved(kSquare, 20, 0),
                         cell_test::Moved(kSquare, 40, 0)};
  m[1].shapes[0x0100] = {kSquare, cell_test::Moved(kSquare, 0, 20)};
  m[1].shapes[0x4000] = {cell_test::Moved(kSquare, 20, 20)};
  m[0].refs = {Ref(1, 100, 0, 1)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w = lib.cells[0]->box;
  HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
  const std::vector<Visit> v = Walk(it, false, false);
  ASSERT_EQ(v.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(v[size_t(i)].key, 0x4000);
    EXPECT_EQ(v[size_t(i)].cell, lib.cells[0]);
    EXPECT_EQ(v[size_t(i)].trans.x, 0);
  }
  EXPECT_EQ(v[3].key, 0x0100);
  EXPECT_EQ(v[4].key, 0x0100);
  EXPECT_EQ(v[5].key, 0x4000);
  for (int i = 3; i < 6; ++i) {
    EXPECT_EQ(v[size_t(i)].cell, lib.cells[1]);
    EXPECT_EQ(v[size_t(i)].trans.x, 100);
    EXPECT_EQ(v[size_t(i)].trans.orientation, 1);
  }
}

// Transforms compose down the hierarchy and the parent's transform is back
// after a child: T places C at (100, 0); C places D at (10, 0) rotated and E
// at (0, 50); T's own shapes come first.
TEST(HierIteratorTest, TransformsComposeAndRestore) {
  Model m(4);
  for (auto& c : m) c.shapes[0x0100] = {kSquare};
  m[0].refs = {Ref(1, 100, 0)};
  m[1].refs = {Ref(2, 10, 0, 1), Ref(3, 0, 50, 6)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w = lib.cells[0]->box;
  HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
  const std::vector<Visit> v = Walk(it, false, false);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].cell, lib.cells[0]);
  EXPECT_EQ(v[1].cell, lib.cells[1]);
  EXPECT_EQ(v[1].trans.x, 100);
  for (size_t i = 2; i < 4; ++i) {
    if (v[i].cell == lib.cells[2]) {
      EXPECT_EQ(v[i].trans.x, 110);
      EXPECT_EQ(v[i].trans.orientation, 1);
    } else {
      ASSERT_EQ(v[i].cell, lib.cells[3]);
      EXPECT_EQ(v[i].trans.x, 100);
      EXPECT_EQ(v[i].trans.y, 50);
      EXPECT_EQ(v[i].trans.orientation, 6);
    }
  }
  EXPECT_NE(v[2].cell, v[3].cell);
}

// With a target, each reference to it below the start cell inside the window
// is reported once (an array once), never entered; references to other
// cells are entered. Resuming is asked for explicitly or implied.
TEST(HierIteratorTest, TargetPlacementsAreReportedOnce) {
  Model m(3);  // 0 top, 1 middle, 2 target
  m[2].shapes[0x0100] = {kSquare};
  m[1].refs = {Ref(2, 20, 0)};
  m[0].refs = {Ref(2, 0, 0), Ref(2, 0, 40), Array(2, 40, 0, 3, 2, 15, 15),
               Ref(1, 0, 100), Ref(2, 5000, 5000)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w(-10, -10, 200, 200);  // leaves out the placement at 5000
  for (bool resume : {true, false}) {
    HierIterator it(&lib, lib.cells[0], &w, nullptr, 2);
    const std::vector<Visit> v = Walk(it, true, resume);
    ASSERT_EQ(v.size(), 4u) << "resume " << resume;
    int inTop = 0, inMiddle = 0;
    for (const Visit& x : v) {
      EXPECT_EQ(x.key, ReferenceKey);
      EXPECT_EQ(static_cast<const SRef*>(x.node->item)->CellId(), 2);
      if (x.cell == lib.cells[0]) ++inTop;
      if (x.cell == lib.cells[1]) ++inMiddle;
    }
    EXPECT_EQ(inTop, 3);
    EXPECT_EQ(inMiddle, 1);
  }
  // A filter of only the reference layer walks references, no shapes.
  const LayerKeySet refsOnly{ReferenceKey};
  HierIterator none(&lib, lib.cells[0], &w, &refsOnly, -1);
  EXPECT_TRUE(Walk(none, false, false).empty());
  HierIterator reported(&lib, lib.cells[0], &w, &refsOnly, 2);
  EXPECT_EQ(Walk(reported, false, true).size(), 4u);
}

// The excluded reference is never entered, also when the walk comes back to
// its layer after entering another reference.
TEST(HierIteratorTest, ExcludedReferenceIsSkippedWherever) {
  Model m(2);
  m[1].shapes[0x0100] = {kSquare};
  m[0].refs = {Ref(1, 0, 0), Ref(1, 50, 0), Ref(1, 100, 0)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w = lib.cells[0]->box;
  for (int32_t x : {0, 50, 100}) {
    HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
    it.excluded = RefAt(lib.cells[0], x, 0);
    ASSERT_NE(it.excluded, nullptr);
    const std::vector<Visit> v = Walk(it, false, false);
    ASSERT_EQ(v.size(), 2u);
    for (const Visit& s : v) EXPECT_NE(s.trans.x, x);
  }
}

// Children without a valid box, removed cells and array elements outside the
// window are not entered.
TEST(HierIteratorTest, NothingToEnter) {
  Model m(2);
  m[1].shapes[0x0100] = {kSquare};
  m[0].shapes[0x0100] = {cell_test::Moved(kSquare, 0, 500)};
  m[0].refs = {Array(1, 0, 0, 3, 3, 20, 20)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box between(11, 11, 19, 19);  // between the array's elements
  HierIterator gap(&lib, lib.cells[0], &between, nullptr, -1);
  EXPECT_TRUE(Walk(gap, false, false).empty());

  const Box all = lib.cells[0]->box;
  const int32_t empty = lib.AddCell("empty");
  hier_test::AddRef(lib, 0, new SRef(Trans(5, 5), empty));
  // A reference to an id beyond the cell table.
  DBSearchSystem::Insert(lib.cells[0]->indexedLayers.at(ReferenceKey),
                         Box(7, 7, 17, 17), new SRef(Trans(7, 7), 999));
  HierIterator it(&lib, lib.cells[0], &all, nullptr, -1);
  EXPECT_EQ(Walk(it, false, false).size(), 10u);
}

// A caller that leaves a cell pops its frames, restores the iterator from
// the new top frame and resumes: the walk goes on after that placement,
// with the further elements of an array.
TEST(HierIteratorTest, ResumeAfterPoppedFrames) {
  Model m(2);
  m[1].shapes[0x0100] = {kSquare, cell_test::Moved(kSquare, 20, 0)};
  m[0].refs = {Array(1, 0, 0, 3, 1, 100, 0)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w = lib.cells[0]->box;
  HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
  Trans t;
  int32_t key = 0;
  std::vector<int32_t> elements;
  for (DBSearchNode* n = it.First(&t, &key); n != nullptr;
       n = it.Next(&t, &key, true)) {
    elements.push_back(t.x);
    // Leave the child: drop its layer frame, stand at the placement.
    it.frames.pop_front();
    const HierFrame& f = it.frames.front();
    it.cell = f.cell;
    it.window = f.window;
    it.trans = f.trans;
    it.cursor = f.cursor;
  }
  EXPECT_EQ(elements, (std::vector<int32_t>{0, 100, 200}));
}

// A placement cycle makes every hierarchy walk throw an error naming a cell
// on the cycle, instead of descending without end.
TEST(HierarchyWalkTest, PlacementCyclesAreRefused) {
  struct Case {
    const char* name;
    bool selfLoop;
  };
  for (const Case& c : {Case{"two cells", false}, Case{"self", true}}) {
    SCOPED_TRACE(c.name);
    Model m(2);
    m[0].shapes[0x0100] = {kSquare};
    m[1].shapes[0x0100] = {kSquare};
    m[0].refs = {Ref(1, 30, 0)};
    auto build = [&](LibDB& lib) {
      hier_test::Build(lib, m);
      // Close the cycle; the boxes stay valid.
      if (c.selfLoop)
        hier_test::AddRef(lib, 0, new SRef(Trans(5, 5), 0));
      else
        hier_test::AddRef(lib, 1, new SRef(Trans(-30, 0), 0));
    };
    const std::vector<std::pair<const char*, std::function<void(LibDB&)>>>
        walks = {
            {"iterator",
             [](LibDB& lib) {
               const Box w = lib.cells[0]->box;
               HierIterator it(&lib, lib.cells[0], &w, nullptr, -1);
               Walk(it, false, false);
             }},
            {"CollectPolygons",
             [](LibDB& lib) {
               const Box w = lib.cells[0]->box;
               const Trans id;
               LayerRings out;
               lib.CollectPolygons(lib.cells[0], &w, &id, nullptr, &out, 0);
             }},
            {"CollectWindowPolygons",
             [](LibDB& lib) {
               const Box w = lib.cells[0]->box;
               LayerRings out;
               lib.CollectWindowPolygons(lib.cells[0], &w, nullptr, &out,
                                         nullptr, 0);
             }},
            {"MarkCellsInWindow", [](LibDB& lib) {
               const Box w = lib.cells[0]->box;
               lib.MarkCellsInWindow(0, &w);
             }}};
    for (const auto& [what, walk] : walks) {
      LibDB lib("/nonexistent", 0);
      build(lib);
      try {
        walk(lib);
        ADD_FAILURE() << what << " accepted a placement cycle";
      } catch (const Error& e) {
        ASSERT_NE(e.Unit(), nullptr);
        EXPECT_STREQ(e.Unit(), "DB") << what;
        const std::string msg = e.Message();
        EXPECT_TRUE(msg.find("c0") != std::string::npos ||
                    msg.find("c1") != std::string::npos)
            << what << ": " << msg;
      }
    }
  }
}

// A chain of 100,000 cells, each placing the next (every orientation in
// turn), with one ring in the last: every hierarchy walk reaches it with a
// descent of its own instead of one call per level, the cell order gives
// the leaf its level beyond 16 bits, and the chain closed into a cycle is
// refused by every walk.
TEST(HierarchyWalkTest, ChainsDeeperThanTheCallStack) {
  constexpr int32_t kCells = 100000;
  const Ring leafRing{{0, 0}, {30, 0}, {30, 10}, {10, 10}, {10, 40}, {0, 40}};
  Model m(kCells);
  for (int32_t i = 0; i + 1 < kCells; ++i)
    m[size_t(i)].refs = {Ref(i + 1, 3 + i % 5, i % 3 - 1, uint8_t(i % 8))};
  m[kCells - 1].shapes[0x0100] = {leafRing};
  // The ring in the top cell, placed level by level from the bottom.
  std::vector<std::pair<int32_t, int32_t>> expected;
  for (Point p : leafRing) {
    for (int32_t i = kCells - 2; i >= 0; --i) {
      const ModelRef& r = m[size_t(i)].refs[0];
      p = hier_test::Place(r.x, r.y, r.orientation, 1, p);
    }
    expected.emplace_back(p.x, p.y);
  }
  std::sort(expected.begin(), expected.end());
  auto vertices = [](const LayerRings& rings) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const auto& [key, ringList] : hier_test::RingsOf(rings)) {
      EXPECT_EQ(key, 0x0100);
      for (const Ring& r : ringList)
        for (const Point& p : r) out.emplace_back(p.x, p.y);
    }
    std::sort(out.begin(), out.end());
    return out;
  };

  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box whole = lib.cells[0]->box;
  {
    SCOPED_TRACE("iterator");
    HierIterator it(&lib, lib.cells[0], &whole, nullptr, -1);
    const std::vector<Visit> visits = Walk(it, false, false);
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(visits[0].cell, lib.cells[kCells - 1]);
    int32_t x = 0, y = 0;
    visits[0].trans.Apply(x, y);
    const Point origin = [&] {
      Point p(0, 0);
      for (int32_t i = kCells - 2; i >= 0; --i) {
        const ModelRef& r = m[size_t(i)].refs[0];
        p = hier_test::Place(r.x, r.y, r.orientation, 1, p);
      }
      return p;
    }();
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(origin.x, origin.y));
  }
  {
    SCOPED_TRACE("CollectPolygons, whole and cut by a window");
    const Trans id;
    LayerRings out;
    lib.CollectPolygons(lib.cells[0], &whole, &id, nullptr, &out, 0);
    EXPECT_EQ(vertices(out), expected);
    // A window that cuts every cell's box: the cut path at every level.
    const Box cut(whole.x1 + 1, whole.y1 + 1, whole.x2 - 1, whole.y2 - 1);
    LayerRings clipped;
    lib.CollectPolygons(lib.cells[0], &cut, &id, nullptr, &clipped, 0);
    EXPECT_FALSE(hier_test::RingsOf(clipped).empty());
  }
  {
    SCOPED_TRACE("CollectWindowPolygons");
    LayerRings out;
    lib.CollectWindowPolygons(lib.cells[0], &whole, nullptr, &out, nullptr, 0);
    EXPECT_EQ(vertices(out), expected);
  }
  {
    SCOPED_TRACE("MarkCellsInWindow");
    lib.MarkCellsInWindow(0, &whole);
    int32_t marked = 0;
    for (DBCell* cell : lib.cells) marked += (cell->flags & DBCell::Marked) ? 1 : 0;
    EXPECT_EQ(marked, kCells);
  }
  {
    SCOPED_TRACE("levels");
    lib.BuildParents();
    lib.OrderCells(false);
    lib.CollectRoots();
    EXPECT_EQ(lib.hierRecords[kCells - 1].level, kCells - 1);
    EXPECT_EQ(lib.depth, kCells - 1);
    EXPECT_EQ(lib.roots, std::vector<int32_t>{0});
  }
  {
    SCOPED_TRACE("closed into a cycle");
    // The leaf places the top so that the top's box covers the leaf's
    // window: the inverse of the chain's placement of the leaf.
    Trans back;
    {
      HierIterator it(&lib, lib.cells[0], &whole, nullptr, -1);
      back = Walk(it, false, false).at(0).trans;
    }
    back.Invert();
    hier_test::AddRef(lib, kCells - 1, new SRef(back, 0));
    auto refused = [&](const char* what, const std::function<void()>& walk) {
      try {
        walk();
        ADD_FAILURE() << what << " accepted a placement cycle";
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.Message()).find("is placed inside itself"),
                  std::string::npos)
            << what;
      }
    };
    refused("iterator", [&] {
      HierIterator it(&lib, lib.cells[0], &whole, nullptr, -1);
      Walk(it, false, false);
    });
    refused("CollectPolygons", [&] {
      const Trans id;
      LayerRings out;
      lib.CollectPolygons(lib.cells[0], &whole, &id, nullptr, &out, 0);
    });
    refused("CollectWindowPolygons", [&] {
      LayerRings out;
      lib.CollectWindowPolygons(lib.cells[0], &whole, nullptr, &out, nullptr, 0);
    });
    refused("MarkCellsInWindow", [&] {
      for (DBCell* cell : lib.cells) cell->flags &= uint16_t(~DBCell::Marked);
      lib.MarkCellsInWindow(0, &whole);
    });
  }
}

}  // namespace
}  // namespace velmar
