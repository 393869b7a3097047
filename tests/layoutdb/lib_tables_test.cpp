// Library tables: cell creation, parent and child tables, the top-down cell
// order with levels, depth and roots, and cell boxes covering placements.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "support/stdout_capture.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using test::StdoutCapture;

const Box kUnit(0, 0, 10, 10);

// A library of n cells named c0, c1, ... with a unit box each.
struct Lib {
  LibDB lib{"/nonexistent", 0};
  explicit Lib(int n) {
    for (int i = 0; i < n; ++i) {
      std::string name = "c";
      name += std::to_string(i);
      lib.cells[lib.AddCell(name.c_str())]->box = kUnit;
    }
  }
  DBCell* cell(int id) { return lib.cells[id]; }

  // Inserts ref into the parent's reference tree with its placed box.
  void Insert(int parent, SRef* ref) {
    LayerTree& tree =
        cell(parent)->FindOrCreateTree(ReferenceKey, Box(-100000, -100000, 100000, 100000));
    DBSearchSystem::Insert(tree, ref->GetBox(cell(ref->CellId())->box), ref);
  }
  SRef* Place(int parent, int child, Trans t = Trans()) {
    auto* ref = new SRef(t, child);
    Insert(parent, ref);
    return ref;
  }
  ARef* PlaceArray(int parent, int child, int16_t cols, int16_t rows, int32_t dx,
                   int32_t dy, Trans t = Trans()) {
    auto* ref = new ARef(t, child, cols, rows, dx, dy);
    Insert(parent, ref);
    return ref;
  }
  std::vector<int32_t> Order() { return {lib.cellOrder.begin(), lib.cellOrder.end()}; }
  int Level(int id) { return lib.hierRecords[id].level; }
  void Rebuild(bool leafLast = false) {
    lib.BuildParents();
    lib.OrderCells(leafLast);
    lib.CollectRoots();
  }
};

TEST(LibTables, AddCellMakesEmptyCellsAndKeepsTheFirstOfTwoNames) {
  LibDB lib("/nonexistent", 0);
  EXPECT_GE(lib.cells.capacity(), 10000u);
  EXPECT_EQ(lib.AddCell("X"), 0);
  EXPECT_EQ(lib.AddCell("X"), 1);
  EXPECT_EQ(lib.AddCell(nullptr), 2);
  EXPECT_EQ(lib.FindCellId("X"), 0);
  EXPECT_EQ(lib.cells[0]->name, lib.cells[1]->name);
  EXPECT_EQ(*lib.cells[1]->name, "X");
  EXPECT_EQ(lib.cells[2]->name, nullptr);
  const DBCell* c = lib.cells[1];
  EXPECT_EQ(c->flags, 0);
  EXPECT_EQ(c->dbFile, 0);
  EXPECT_EQ(c->startPos, -1);
  EXPECT_EQ(c->refPos, -1);
  EXPECT_EQ(c->endPos, -1);
  EXPECT_TRUE(c->box.IsEmpty());
  EXPECT_TRUE(c->IsEmpty());
  EXPECT_EQ(lib.FindCellId("Y"), -1);
  EXPECT_EQ(lib.FindCell("Y"), nullptr);
}

TEST(LibTables, PlacementsAreCountedPerParent) {
  Lib t(3);
  t.Place(0, 1, Trans(0, 0));
  t.Place(0, 1, Trans(50, 0));
  t.PlaceArray(0, 1, 2, 3, 20, 20, Trans(0, 100));
  t.Place(2, 1);
  t.lib.BuildParents();
  ASSERT_EQ(t.lib.hierRecords.size(), 3u);
  EXPECT_EQ(t.lib.hierRecords[1].parents, (std::map<int32_t, int32_t>{{0, 8}, {2, 1}}));
  EXPECT_EQ(t.lib.hierRecords[0].children, std::set<int32_t>{1});
  EXPECT_EQ(t.lib.hierRecords[2].children, std::set<int32_t>{1});
  EXPECT_TRUE(t.lib.hierRecords[0].parents.empty());
  EXPECT_TRUE(t.lib.hierRecords[1].box1.IsEmpty());
  EXPECT_EQ(t.lib.hierRecords[1].variants, nullptr);
}

TEST(LibTables, LeafCellsContributeNoLinks) {
  Lib t(2);
  t.Place(0, 1);
  t.cell(0)->flags |= DBCell::Leaf;
  t.lib.BuildParents();
  EXPECT_TRUE(t.lib.hierRecords[1].parents.empty());
  EXPECT_TRUE(t.lib.hierRecords[0].children.empty());
}

TEST(LibTables, RemovedCellsAndReferencesBeyondTheTablesAreSkipped) {
  Lib t(3);
  t.Place(0, 1);
  t.Place(0, 2);
  t.lib.cells.Free(1);
  auto* stray = new SRef(Trans(), 2);
  stray->SetCellId(77);  // names no cell
  DBSearchSystem::Insert(t.cell(0)->FindOrCreateTree(ReferenceKey, kUnit), kUnit, stray);
  t.Rebuild();
  EXPECT_EQ(t.Order(), (std::vector<int32_t>{0, 2}));
  EXPECT_EQ(t.lib.roots, std::vector<int32_t>{0});
}

TEST(LibTables, ChainAndDiamondOrderLevelsAndDepth) {
  {
    // P places Q and R, Q places R.
    Lib t(3);
    t.Place(0, 1);
    t.Place(0, 2);
    t.Place(1, 2);
    t.Rebuild();
    EXPECT_EQ(t.Order(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(t.Level(0), 0);
    EXPECT_EQ(t.Level(1), 1);
    EXPECT_EQ(t.Level(2), 2);
    EXPECT_EQ(t.lib.depth, 2);
    EXPECT_EQ(t.lib.roots, std::vector<int32_t>{0});
  }
  {
    // Diamond: 3 places 2 and 1, both place 0; a second root 4 places 1.
    Lib t(5);
    t.Place(3, 2);
    t.Place(3, 1);
    t.Place(2, 0);
    t.Place(1, 0);
    t.Place(4, 1);
    t.Rebuild();
    EXPECT_EQ(t.Order(), (std::vector<int32_t>{3, 4, 2, 1, 0}));
    EXPECT_EQ(t.Level(1), 1);
    EXPECT_EQ(t.Level(2), 1);
    EXPECT_EQ(t.Level(0), 2);
    EXPECT_EQ(t.lib.depth, 2);
    EXPECT_EQ(t.lib.roots, (std::vector<int32_t>{3, 4}));
  }
}

TEST(LibTables, CycleLeavesItsCellsAndEverythingBelowOutOfTheOrder) {
  // 0 -> 1, 1 -> 2, 2 -> 1 (cycle), 2 -> 3, 0 -> 4; 5 stands alone.
  Lib t(6);
  t.Place(0, 1);
  t.Place(1, 2);
  t.Place(2, 1);
  t.Place(2, 3);
  t.Place(0, 4);
  t.Rebuild();
  EXPECT_EQ(t.Order(), (std::vector<int32_t>{0, 5, 4}));
  EXPECT_EQ(t.lib.roots, (std::vector<int32_t>{0, 5}));
  EXPECT_EQ(t.lib.depth, 1);
}

TEST(LibTables, LeafLastMovesLeafRootsBehind) {
  // Roots 0 and 3 are leaves; root 1 places 2.
  Lib t(4);
  t.Place(1, 2);
  t.cell(0)->flags |= DBCell::Leaf;
  t.cell(3)->flags |= DBCell::Leaf;
  t.Rebuild(true);
  EXPECT_EQ(t.Order(), (std::vector<int32_t>{1, 2, 0, 3}));
  EXPECT_EQ(t.lib.roots, std::vector<int32_t>{1});
  t.Rebuild(false);
  EXPECT_EQ(t.Order(), (std::vector<int32_t>{0, 1, 3, 2}));
  EXPECT_EQ(t.lib.roots, (std::vector<int32_t>{0, 1, 3}));
}

// Random placement graphs (cycles included) against a brute-force oracle: a
// cell is listed exactly when no cell at or above it lies on a cycle; every
// listed cell follows all its parents; its level is the longest chain of
// placements from a root down to it.
TEST(LibTables, OrderMatchesBruteForceOnRandomGraphs) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    const int n = 2 + static_cast<int>(rng() % 12);
    Lib t(n);
    std::vector<std::set<int>> parents(n);
    const int edges = static_cast<int>(rng() % (2 * n));
    const bool acyclic = round % 2 == 0;
    for (int e = 0; e < edges; ++e) {
      int p = static_cast<int>(rng() % n), c = static_cast<int>(rng() % n);
      if (acyclic && p >= c) continue;
      t.Place(p, c);
      parents[c].insert(p);
    }
    t.Rebuild();

    // ancestors[c]: cells with a chain of placements down to c.
    std::vector<std::set<int>> ancestors(n);
    for (int c = 0; c < n; ++c) {
      std::vector<int> stack(parents[c].begin(), parents[c].end());
      while (!stack.empty()) {
        int a = stack.back();
        stack.pop_back();
        if (!ancestors[c].insert(a).second) continue;
        stack.insert(stack.end(), parents[a].begin(), parents[a].end());
      }
    }
    auto onCycle = [&](int c) { return ancestors[c].count(c) != 0; };
    std::vector<int> want;
    for (int c = 0; c < n; ++c) {
      bool blocked = onCycle(c);
      for (int a : ancestors[c]) blocked = blocked || onCycle(a);
      if (!blocked) want.push_back(c);
    }
    std::vector<int32_t> order = t.Order();
    std::multiset<int32_t> got(order.begin(), order.end());
    EXPECT_EQ(got, std::multiset<int32_t>(want.begin(), want.end())) << "round " << round;

    std::function<int(int)> longest = [&](int c) {
      int best = 0;
      for (int p : parents[c]) best = std::max(best, longest(p) + 1);
      return best;
    };
    std::vector<int> position(n, -1);
    for (size_t i = 0; i < order.size(); ++i) position[order[i]] = static_cast<int>(i);
    int depth = 0;
    for (int32_t c : order) {
      for (int p : parents[c]) EXPECT_LT(position[p], position[c]) << "round " << round;
      EXPECT_EQ(t.Level(c), longest(c)) << "round " << round << " cell " << c;
      depth = std::max(depth, longest(c));
    }
    EXPECT_EQ(t.lib.depth, depth) << "round " << round;
    std::vector<int32_t> roots;
    for (int32_t c : order)
      if (parents[c].empty()) roots.push_back(c);
    EXPECT_EQ(t.lib.roots, roots) << "round " << round;
  }
}

TEST(LibTables, ParentsFromReaderDefinitions) {
  Lib t(3);
  auto* def = new CellDef;
  def->cellId = 0;
  def->refs.push_back(ARef(Trans(), 1, 1, 1, 0, 0));
  def->refs.back().cellId = 1;  // a single reference: no array bit
  def->refs.push_back(ARef(Trans(), 1, 4, 5, 10, 10));
  def->refs.push_back(ARef(Trans(), 2, 2, 2, 10, 10));
  t.lib.cellDefs.push_back(std::unique_ptr<CellDef>(def));
  t.cell(0)->flags |= DBCell::Leaf;  // not looked at here
  StdoutCapture out;
  t.lib.BuildParentsAfterRead();
  EXPECT_EQ(out.Stop(), "");
  EXPECT_EQ(t.lib.hierRecords[1].parents, (std::map<int32_t, int32_t>{{0, 21}}));
  EXPECT_EQ(t.lib.hierRecords[2].parents, (std::map<int32_t, int32_t>{{0, 4}}));
  EXPECT_EQ(t.lib.hierRecords[0].children, (std::set<int32_t>{1, 2}));

  for (int i = 0; i < 3; ++i) t.lib.cellDefs.push_back(std::make_unique<CellDef>());
  StdoutCapture out2;
  t.lib.BuildParentsAfterRead();
  EXPECT_EQ(out2.Stop(), "Warning: cells read are more than actual cells\n");
}

TEST(LibTables, PropagateBoxesGrowsParentsBottomUpAndIgnoresEmptyChildren) {
  Lib t(4);
  // 0 places 1 at (100, 0); 1 places 2 in a 3 x 1 array of pitch 20; 3 has
  // an empty box.
  t.cell(3)->box = Box();
  t.lib.cellDefIndex = {0, 1, -1, -1};
  auto* d0 = new CellDef;
  d0->cellId = 0;
  d0->refs.push_back(ARef(Trans(100, 0), 1, 1, 1, 0, 0));
  d0->refs.back().cellId = 1;
  d0->refs.push_back(ARef(Trans(-500, -500), 3, 1, 1, 0, 0));
  d0->refs.back().cellId = 3;
  auto* d1 = new CellDef;
  d1->cellId = 1;
  d1->refs.push_back(ARef(Trans(0, 0), 2, 3, 1, 20, 0));
  t.lib.cellDefs.clear();
  t.lib.cellDefs.push_back(std::unique_ptr<CellDef>(d0));
  t.lib.cellDefs.push_back(std::unique_ptr<CellDef>(d1));
  t.lib.BuildParentsAfterRead();
  t.lib.OrderCells(false);
  t.lib.PropagateBoxes();
  EXPECT_EQ(t.cell(1)->box, Box(0, 0, 50, 10));
  EXPECT_EQ(t.cell(0)->box, Box(0, 0, 150, 10));
  EXPECT_TRUE(t.cell(3)->box.IsEmpty());
}

TEST(LibTables, UpdateRefBoxesFollowsGrownAndShrunkChildren) {
  Lib t(3);
  t.Place(0, 1, Trans(100, 0));
  t.Place(1, 2, Trans(0, 50));
  t.Rebuild();
  // Boxes as stored: 1 covers its child at (0, 50); 0 covers 1.
  t.cell(1)->box = Box(0, 50, 10, 60);
  t.cell(0)->box = Box(100, 50, 110, 60);
  EXPECT_FALSE(t.lib.UpdateRefBoxes());

  // The leaf grows: the placed boxes are recomputed all the way up, and the
  // reference trees answer queries with the new boxes.
  t.cell(2)->box = Box(0, 0, 10, 200);
  EXPECT_TRUE(t.lib.UpdateRefBoxes());
  EXPECT_EQ(t.cell(1)->box, Box(0, 50, 10, 250));
  EXPECT_EQ(t.cell(0)->box, Box(100, 50, 110, 250));
  const LayerTree& tree0 = t.cell(0)->indexedLayers.at(ReferenceKey);
  EXPECT_NE(DBSearchSystem::FirstInBox(tree0, Box(100, 200, 110, 240)), nullptr);
  EXPECT_EQ(tree0.itemCount, 1);
  EXPECT_FALSE(t.lib.UpdateRefBoxes());

  // It shrinks: cells whose own shapes are not stored shrink with it.
  t.cell(2)->box = Box(0, 0, 10, 10);
  EXPECT_TRUE(t.lib.UpdateRefBoxes());
  EXPECT_EQ(t.cell(1)->box, Box(0, 50, 10, 60));
  EXPECT_EQ(t.cell(0)->box, Box(100, 50, 110, 60));
}

TEST(LibTables, UpdateRefBoxesKeepsTheExtentOfShapesThatAreNotInMemory) {
  Lib t(2);
  t.Place(0, 1, Trans(0, 0));
  t.Rebuild();
  // Cell 0's shapes lie in its data file (layer blocks before the reference
  // section) and only its references are in memory.
  DBCell* c = t.cell(0);
  c->dbFile = 1;
  c->startPos = 0;
  c->refPos = 40;
  c->endPos = 60;
  c->box = Box(-1000, -1000, 10, 10);
  EXPECT_FALSE(t.lib.UpdateRefBoxes());
  EXPECT_EQ(c->box, Box(-1000, -1000, 10, 10));

  // With its shapes in memory the box is exact.
  CPgonListNode* shape = nullptr;
  c->AddBox(Box(-5, -5, 0, 0), 0x100, shape);
  EXPECT_TRUE(t.lib.UpdateRefBoxes());
  EXPECT_EQ(c->box, Box(-5, -5, 10, 10));
}

TEST(LibTables, ComputeAndRefreshBoxes) {
  Lib t(3);
  t.Place(0, 1, Trans(20, 0));
  t.Place(0, 2, Trans(0, 30));
  CPgonListNode* shape = nullptr;
  t.cell(0)->AddBox(Box(-7, -7, 1, 1), 0x100, shape);
  EXPECT_EQ(t.lib.ComputeCellBox(t.cell(0)), Box(-7, -7, 30, 40));
  t.Rebuild();

  t.cell(0)->box = Box(-7, -7, 30, 40);
  EXPECT_FALSE(t.lib.RefreshRefBoxes());
  t.cell(2)->box = Box(0, 0, 10, 100);  // grows
  EXPECT_TRUE(t.lib.RefreshRefBoxes());
  EXPECT_EQ(t.cell(0)->box, Box(-7, -7, 30, 130));
  EXPECT_EQ(t.lib.ComputeCellBox(t.cell(0)), Box(-7, -7, 30, 130));
  t.cell(2)->box = kUnit;  // shrinks: refreshed items, the box only grows
  EXPECT_FALSE(t.lib.RefreshRefBoxes());
  EXPECT_EQ(t.cell(0)->box, Box(-7, -7, 30, 130));
  EXPECT_EQ(t.lib.ComputeCellBox(t.cell(0)), Box(-7, -7, 30, 40));
}

}  // namespace
}  // namespace velmar
