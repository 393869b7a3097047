// The restructuring passes keep the flattened drawn layers of the top cell
// exactly (rasterised at unit resolution) and leave a sound hierarchy.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "pass_fixtures.h"

namespace velmar::hier_test {
namespace {

using cell_test::Ring;

struct PassCase {
  const char* name;
  std::function<void(PassLibrary&)> run;
  StructureChecks checks;
};

// The shapes below are placed so that flattening never rounds: integer
// magnifications, unclipped or axis-parallel cuts only.
TEST(RestructurePasses, EachPassAloneKeepsTheFlattenedLayout) {
  const std::vector<PassCase> cases = {
      {"RemoveEmptyCells", [](PassLibrary& p) { p.lib->RemoveEmptyCells(); }, {}},
      {"ReplaceArefs", [](PassLibrary& p) { p.lib->ReplaceArefs(); },
       {.noArrays = true}},
      {"Flatten", [](PassLibrary& p) { p.lib->Flatten(60); }, {}},
      {"FlattenGivenCells",
       [](PassLibrary& p) {
         p.lib->flattenCells = {1, 5, 6};
         p.lib->FlattenGivenCells();
       },
       {}},
      {"Split", [](PassLibrary& p) { p.lib->Split(300); }, {}},
      {"CreateLeafCells", [](PassLibrary& p) { p.lib->CreateLeafCells(); },
       {.leavesSeparate = true}},
      {"SplitLargeCells after reopening",
       [](PassLibrary& p) {
         TouchAll(*p.lib);
         p.Reopen();
         EXPECT_GT(p.lib->SplitLargeCells(300), 0);
       },
       {}},
  };
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    HierarchyShape shape;
    shape.levels = 3 + int(seed % 2);
    const Model m = RandomHierarchy(rng, shape);
    for (const PassCase& c : cases) {
      const std::string what = std::string(c.name) + " seed " + std::to_string(seed);
      PassLibrary p(m);
      const FlatRings before = FlattenLibrary(*p.lib, 0);
      StdoutCapture quiet;
      c.run(p);
      quiet.Stop();
      ASSERT_NE(p.lib->cells[0], nullptr) << what;
      ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), what);
      CheckStructure(*p.lib, c.checks, what);
    }
  }
}

// A cell with shapes, a reference tree and a second cell placed by an
// array.
Model TwoLevel() {
  Model m(3);
  m[0].shapes[0x0100] = {{{0, 0}, {500, 0}, {500, 40}, {0, 40}}};
  m[0].refs = {Ref(1, 0, 100), Array(2, 10, 200, 3, 2, 0, 50)};
  m[1].shapes[0x0100] = {{{0, 0}, {30, 0}, {30, 300}, {0, 300}}};
  m[2].shapes[0x4000] = {{{0, 0}, {20, 0}, {20, 20}, {0, 20}}};
  return m;
}

TEST(RestructurePasses, RemoveEmptyCellsDropsTheirReferences) {
  Model m = TwoLevel();
  m.emplace_back();  // cell 3: nothing in it
  m[0].refs.push_back(Ref(3, 5, 5));
  m[1].refs.push_back(Ref(3, 0, 0));
  PassLibrary p(m);
  p.lib->AddCell("gone");
  p.lib->DestroyCell(4);  // one empty slot
  p.lib->flags = 0;
  EXPECT_EQ(p.lib->RemoveEmptyCells(), 2);
  EXPECT_EQ(p.lib->cells[3], nullptr);
  EXPECT_TRUE(p.lib->cells[0]->flags & DBCell::Modified);
  EXPECT_TRUE(p.lib->cells[1]->flags & DBCell::Modified);
  EXPECT_FALSE(p.lib->cells[2]->flags & DBCell::Modified);
  EXPECT_EQ(p.lib->flags & (LibDB::InfoDirty | LibDB::DataDirty), 0u);
  CheckStructure(*p.lib, {}, "after removal");
}

TEST(RestructurePasses, ArraysBecomeSingleReferencesAndDuplicatesGo) {
  Model m = TwoLevel();
  // The three elements equal to an existing single reference are dropped;
  // the other three, equal to each other, all stay.
  m[0].refs.push_back(Ref(2, 10, 250));
  PassLibrary p(m);
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  p.lib->flags = 0;
  StdoutCapture out;
  p.lib->ReplaceArefs();
  EXPECT_EQ(out.Stop(), "  1 arefs are replaced with 3 srefs\n");
  EXPECT_EQ(p.lib->flags, LibDB::DataDirty);
  EXPECT_EQ(p.lib->cells[0]->ReferenceTree()->itemCount, 2 + 3);
  CheckStructure(*p.lib, {.noArrays = true}, "arrays replaced");
  // The dropped element was a second copy of a placement: coverage stays.
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "arrays replaced");
}

TEST(RestructurePasses, FlattenTakesCellsWithOneSmallSide) {
  // Cell 1 is 30 wide and 300 high: small for size 30, not for 29.
  for (int32_t size : {29, 30}) {
    PassLibrary p(TwoLevel());
    const FlatRings before = FlattenLibrary(*p.lib, 0);
    StdoutCapture out;
    const int32_t destroyed = p.lib->Flatten(size);
    const std::string text = out.Stop();
    EXPECT_EQ(p.lib->cells[1] == nullptr, size == 30) << size;
    EXPECT_EQ(destroyed, size == 30 ? 2 : 1) << size;  // cell 2 is 20 wide
    EXPECT_NE(text.find("Flattenning\n"), std::string::npos);
    EXPECT_NE(text.find(size == 30 ? "  7 instances of 2 cells are flattened\n"
                                   : "  6 instances of 1 cells are flattened\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(p.lib->HasFlags(LibDB::InfoDirty | LibDB::NamesDirty |
                                LibDB::DataDirty));
    ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "flatten");
    CheckStructure(*p.lib, {}, "flatten");
    if (size == 30) {
      EXPECT_TRUE(p.lib->cells[0]->flags & DBCell::Leaf);
    }
  }
}

TEST(RestructurePasses, FlattenKeepsATopCellSmallerThanTheSize) {
  // Every cell, the top included, is at most 500 wide: the top takes in the
  // whole layout and stays, now a leaf.
  PassLibrary p(TwoLevel());
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  StdoutCapture out;
  EXPECT_EQ(p.lib->Flatten(1000), 2);
  out.Stop();
  ASSERT_NE(p.lib->cells[0], nullptr);
  EXPECT_EQ(p.lib->cells[0]->ReferenceTree(), nullptr);
  EXPECT_TRUE(p.lib->cells[0]->flags & DBCell::Leaf);
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "small top");
  CheckStructure(*p.lib, {.oneRoot = true}, "small top");
}

TEST(RestructurePasses, FlattenGivenCellsDestroysAnUnplacedListedCell) {
  Model m = TwoLevel();
  m.emplace_back();
  m[3].shapes[0x0100] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  PassLibrary p(m);
  p.lib->flattenCells = {3};
  StdoutCapture out;
  p.lib->FlattenGivenCells();
  const std::string text = out.Stop();
  EXPECT_NE(text.find("Flattenning given cells\n"), std::string::npos);
  EXPECT_NE(text.find("  0 instances of 1 cells are flattened\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(p.lib->cells[3], nullptr);
  EXPECT_EQ(p.lib->flattenCells.size(), 1u);  // the set is kept
  EXPECT_TRUE(p.lib->hierChanged);
}

// One cell of rectangles spread along x, at the given units.
Model WideCell(int32_t width) {
  Model m(1);
  for (int32_t x = 0; x + 10 <= width; x += width / 4)
    m[0].shapes[0x0100].push_back({{x, 0}, {x + 10, 0}, {x + 10, 10}, {x, 10}});
  m[0].shapes[0x0100].push_back(
      {{width - 10, 0}, {width, 0}, {width, 10}, {width - 10, 10}});
  return m;
}

TEST(RestructurePasses, SplitCellHonoursTheToleranceAndSkipsEmptyWindows) {
  // At 1 unit per nanometre the tolerance is 1000 units and the grid step
  // 100: size 300 gives windows 300 wide. Width 1301: five windows, each
  // with a shape; width 2000: seven windows, of which two are empty.
  struct Case {
    int32_t width;
    int32_t made;
  };
  for (const Case c : {Case{1300, 0}, Case{1301, 5}, Case{2000, 5}}) {
    PassLibrary p(WideCell(c.width));
    DBCell* cell = p.lib->cells[0];
    cell->IndexLayers();
    const FlatRings before = FlattenLibrary(*p.lib, 0);
    p.lib->flags = 0;
    EXPECT_EQ(p.lib->SplitCell(cell, 300, false), c.made) << c.width;
    if (c.made == 0) {
      EXPECT_FALSE(cell->flags & DBCell::Modified);
      continue;
    }
    EXPECT_EQ(*p.lib->cells[1]->name, "c0_vlh0");
    EXPECT_EQ(*p.lib->cells[5]->name, "c0_vlh4");
    for (int32_t id = 1; id <= 5; ++id)
      EXPECT_EQ(p.lib->cells[size_t(id)]->flags, DBCell::Modified | DBCell::Leaf);
    EXPECT_TRUE(cell->rawLayers.empty());
    EXPECT_EQ(cell->flags, DBCell::Modified);
    ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "split");
    CheckStructure(*p.lib, {.leavesSeparate = true}, "split");
  }
}

TEST(RestructurePasses, SplitAtAThousandthUnitPerNanometreUsesGridStepOne) {
  // 0.001 units per nanometre: tolerance 1000000 units, grid step 1.
  const int32_t width = 3000000;
  PassLibrary p(WideCell(width), 0.001);
  DBCell* cell = p.lib->cells[0];
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  const int32_t made = p.lib->SplitCell(cell, 1000000, false);
  EXPECT_EQ(made, 3);
  const FlatRings after = FlattenLibrary(*p.lib, 0);
  EXPECT_EQ(Canonical(before), Canonical(after));
  CheckStructure(*p.lib, {.leavesSeparate = true}, "split at 0.001");
}

TEST(RestructurePasses, SplitTilesKeepWorkLayers) {
  Model m = WideCell(2000);
  m[0].shapes[0x10100] = {{{5, 5}, {1995, 5}, {1995, 8}, {5, 8}}};
  PassLibrary p(m);
  const FlatRings before = FlattenLibrary(*p.lib, 0, true);
  p.lib->flags = 0;
  StdoutCapture out;
  p.lib->Split(400);
  EXPECT_NE(out.Stop().find("Splitting\n  5 cells are created by splitting\n"),
            std::string::npos);
  EXPECT_TRUE(p.lib->HasFlags(LibDB::InfoDirty | LibDB::NamesDirty |
                              LibDB::DataDirty));
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0, true), "work layers");
}

TEST(RestructurePasses, SplitLargeCellsStoresTilesOfAFreshlyOpenedLibrary) {
  Model m = TwoLevel();
  m[1].shapes[0x0100].push_back({{0, 2000}, {30, 2000}, {30, 2100}, {0, 2100}});
  PassLibrary p(m);
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  TouchAll(*p.lib);
  p.Reopen();
  const int32_t made = p.lib->SplitLargeCells(300);
  EXPECT_GT(made, 0);
  EXPECT_TRUE(p.lib->HasFlags(LibDB::InfoDirty | LibDB::NamesDirty));
  for (DBCell* c : p.lib->cells) {
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->IsEmpty()) << *c->name << " left in memory";
    EXPECT_FALSE(c->flags & DBCell::Modified) << *c->name;
  }
  p.Reopen();
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "split and reopened");
  CheckStructure(*p.lib, {}, "split and reopened");
  // No size exceeded: nothing changes, no flag.
  p.lib->flags &= ~(LibDB::InfoDirty | LibDB::NamesDirty);
  EXPECT_EQ(p.lib->SplitLargeCells(1 << 30), 0);
  EXPECT_FALSE(p.lib->flags & (LibDB::InfoDirty | LibDB::NamesDirty));
}

TEST(RestructurePasses, LeafCellsTakeTheOwnShapesOfMixedCells) {
  Model m = TwoLevel();
  m.resize(5);  // cell 3: references only, to cell 4 (a flagged leaf)
  m[3].refs = {Ref(4, 0, 0)};
  m[4].shapes[0x0100] = {{{0, 0}, {9, 0}, {9, 9}, {0, 9}}};
  m[0].refs.push_back(Ref(3, 300, 300));
  PassLibrary p(m);
  p.lib->cells[4]->flags |= DBCell::Leaf;
  p.lib->AddCell("c0_vlh0");  // the first generated name is taken
  CPgonListNode* shape = nullptr;
  p.lib->cells[5]->AddBox(Box(0, 0, 1, 1), 0x0100, shape);
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  p.lib->flags = 0;
  StdoutCapture out;
  p.lib->CreateLeafCells();
  const std::string text = out.Stop();
  EXPECT_TRUE(p.lib->HasFlags(LibDB::InfoDirty | LibDB::NamesDirty |
                              LibDB::DataDirty));
  // The new leaf of cell 0 and cell 0 itself: both to be written, only the
  // new one a leaf; cell 3 is untouched.
  EXPECT_EQ(p.lib->cells[6]->flags, DBCell::Modified | DBCell::Leaf);
  EXPECT_EQ(p.lib->cells[0]->flags, DBCell::Modified);
  EXPECT_EQ(p.lib->cells[3]->flags, 0);
  // Cell 0 (shapes and references) and cells 1, 2 and 5 (shapes, no leaf
  // flag) get leaf cells; cell 3 (references only) and cell 4 (a flagged
  // leaf) do not.
  EXPECT_NE(text.find("  4 leaf cells were created\n"), std::string::npos) << text;
  EXPECT_EQ(p.lib->FindCellId("c0_vlh1"), 6);
  EXPECT_EQ(p.lib->FindCellId("c3_vlh0"), -1);
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "leaf cells");
  CheckStructure(*p.lib, {.leavesSeparate = true}, "leaf cells");
}

}  // namespace
}  // namespace velmar::hier_test
