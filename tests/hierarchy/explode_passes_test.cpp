// The explode passes keep the flattened drawn layers of the top cell
// exactly, compose placements through the orientation table and remove
// only cells nothing places any more.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "pass_fixtures.h"

namespace velmar::hier_test {
namespace {

// The references of a cell, in tree order.
std::vector<SRef> RefsOf(LibDB& lib, int32_t id) {
  std::vector<SRef> out;
  const LayerTree* refs = lib.cells[size_t(id)]->ReferenceTree();
  if (refs == nullptr) return out;
  for (const DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
       n = DBSearchSystem::Next(n))
    if (n->IsData() && n->item != nullptr) out.push_back(*n->Item<SRef>());
  return out;
}

bool Live(const LibDB& lib, int32_t id) { return lib.cells[size_t(id)] != nullptr; }

TEST(ExplodePasses, EachPassAloneKeepsTheFlattenedLayout) {
  struct Case {
    const char* name;
    std::function<int32_t(LibDB&)> run;
  };
  const std::vector<Case> cases = {
      {"Explode1", [](LibDB& l) { return l.Explode1(0.3f); }},
      {"Explode1 rate 0", [](LibDB& l) { return l.Explode1(0.0f); }},
      {"Explode2", [](LibDB& l) { return l.Explode2(0.6f); }},
      {"Explode3", [](LibDB& l) { return l.Explode3(0.2f); }},
      {"ExplodeManual",
       [](LibDB& l) {
         l.explodeCells = {1, 2, 4, 5};
         return l.ExplodeManual();
       }},
  };
  for (uint32_t seed = 11; seed <= 18; ++seed) {
    std::mt19937 rng(seed);
    HierarchyShape shape;
    shape.levels = 3 + int(seed % 2);
    const Model m = RandomHierarchy(rng, shape);
    for (const Case& c : cases) {
      const std::string what = std::string(c.name) + " seed " + std::to_string(seed);
      PassLibrary p(m);
      StdoutCapture quiet;
      // The explode passes run after arrays are replaced and leaf cells made.
      p.lib->ReplaceArefs();
      p.lib->CreateLeafCells();
      const FlatRings before = FlattenLibrary(*p.lib, 0);
      c.run(*p.lib);
      quiet.Stop();
      ASSERT_TRUE(Live(*p.lib, 0)) << what;
      ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), what);
      CheckStructure(*p.lib, {.oneRoot = true, .noArrays = true}, what);
    }
  }
}

// Top 0 places 1 with orientation outer; 1 places leaf 2 at (10, 0) with
// orientation 1 and magnification innerMag.
Model Chain(uint8_t outer, int32_t outerMag) {
  Model m(3);
  m[0].refs = {Ref(1, 1000, 2000, outer)};
  m[0].refs[0].mag = outerMag;
  m[1].refs = {Ref(2, 10, 3, 1)};
  m[2].shapes[0x0100] = {{{0, 0}, {30, 0}, {30, 5}, {0, 5}}};
  return m;
}

TEST(ExplodePasses, PlacementsComposeThroughTheOrientationTable) {
  struct Case {
    uint8_t outer;
    int32_t mag;
    uint8_t orientation;  // of the exploded placement of 2 in 0
    Point offset;
    float outMag;
  };
  // (10, 3) turned by 4 is (-10, 3), by 1 is (-3, 10); magnification 2
  // scales the offset first.
  const Case cases[] = {
      {4, 1, 7, {990, 2003}, 1.0f},
      {1, 1, 2, {997, 2010}, 1.0f},
      {0, 2, 1, {1020, 2006}, 2.0f},
  };
  for (const Case& c : cases) {
    PassLibrary p(Chain(c.outer, c.mag));
    p.lib->cells[2]->flags |= DBCell::Leaf;
    const FlatRings before = FlattenLibrary(*p.lib, 0);
    StdoutCapture quiet;
    EXPECT_EQ(p.lib->Explode1(0.0f), 1);  // cell 1 goes
    quiet.Stop();
    EXPECT_FALSE(Live(*p.lib, 1));
    const std::vector<SRef> refs = RefsOf(*p.lib, 0);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].CellId(), 2);
    EXPECT_EQ(int(refs[0].orientation), int(c.orientation)) << int(c.outer);
    EXPECT_EQ(refs[0].x, c.offset.x);
    EXPECT_EQ(refs[0].y, c.offset.y);
    EXPECT_EQ(refs[0].mag, c.outMag);
    ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "composed");
  }
}

// Parent 0 (box fixed by a frame shape) places child 1 whose box is w x h;
// child 1 places leaf 2.
Model Placed(int32_t w, int32_t h, int32_t parentSide) {
  Model m(3);
  m[0].shapes[0x0100] = {
      {{0, 0}, {parentSide, 0}, {parentSide, 1}, {0, 1}},
      {{0, parentSide - 1}, {1, parentSide - 1}, {1, parentSide}, {0, parentSide}}};
  m[0].refs = {Ref(1, 0, 0)};
  m[1].refs = {Ref(2, 0, 0)};
  m[2].shapes[0x4000] = {{{0, 0}, {w, 0}, {w, h}, {0, h}}};
  return m;
}

TEST(ExplodePasses, RateThresholdsHoldAtTheirBounds) {
  // Pass 1: a placed area of at least rate x the parent's area explodes.
  for (int32_t h : {49, 50}) {
    PassLibrary p(Placed(100, h, 100));
    p.lib->cells[2]->flags |= DBCell::Leaf;
    StdoutCapture quiet;
    p.lib->Explode1(0.5f);
    quiet.Stop();
    EXPECT_EQ(Live(*p.lib, 1), h == 49) << h;
  }
  // Pass 2: a cell whose references cover less than rate of its box is
  // sparse. Cell 1 is 100 x 100 with two 10 x 10 leaves: 200 of 10000.
  for (float rate : {0.02f, 0.0201f}) {
    Model m(3);
    m[0].refs = {Ref(1, 0, 0)};
    m[0].shapes[0x0100] = {{{0, 0}, {300, 0}, {300, 300}, {0, 300}}};
    m[1].refs = {Ref(2, 0, 0), Ref(2, 90, 90)};
    m[2].shapes[0x4000] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
    PassLibrary p(m);
    p.lib->cells[2]->flags |= DBCell::Leaf;
    StdoutCapture quiet;
    const int32_t removed = p.lib->Explode2(rate);
    quiet.Stop();
    EXPECT_EQ(removed, rate > 0.02f ? 1 : 0) << rate;
    EXPECT_EQ(Live(*p.lib, 1), !(rate > 0.02f)) << rate;
    CheckStructure(*p.lib, {.oneRoot = true}, "pass 2 bound");
  }
}

TEST(ExplodePasses, OverlappingPlacementsExplodeTogether) {
  // Two placements of cell 1 overlapping by 60 of 100 in x: rate 0.5
  // explodes both, rate 0.6 neither.
  for (float rate : {0.5f, 0.6f}) {
    Model m(3);
    m[0].refs = {Ref(1, 0, 0), Ref(1, 40, 0)};
    m[1].refs = {Ref(2, 0, 0), Ref(2, 90, 90)};  // a 100 x 100 box
    m[2].shapes[0x4000] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
    PassLibrary p(m);
    p.lib->cells[2]->flags |= DBCell::Leaf;
    StdoutCapture out;
    EXPECT_EQ(p.lib->Explode3Cell(p.lib->cells[0], rate), rate < 0.6f ? 2 : 0);
    out.Stop();
  }
}

TEST(ExplodePasses, ASecondTopCellAndItsTreeStay) {
  // Tops 0 and 2; 0 places 1 large (exploded), 2 places 3 small; both
  // place leaf 4.
  Model m(5);
  m[0].refs = {Ref(1, 0, 0)};
  m[1].refs = {Ref(4, 0, 0)};
  m[2].refs = {Ref(3, 500, 500)};
  m[2].shapes[0x0100] = {{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}}};
  m[3].refs = {Ref(4, 0, 0)};
  m[4].shapes[0x0100] = {{{0, 0}, {50, 0}, {50, 50}, {0, 50}}};
  PassLibrary p(m);
  p.lib->cells[4]->flags |= DBCell::Leaf;
  StdoutCapture out;
  EXPECT_EQ(p.lib->Explode1(0.5f), 1);
  const std::string text = out.Stop();
  EXPECT_NE(text.find("Exploding 1\n"), std::string::npos);
  EXPECT_NE(text.find("  1 insts and 1 cells were removed\n"), std::string::npos)
      << text;
  EXPECT_FALSE(Live(*p.lib, 1));
  EXPECT_TRUE(Live(*p.lib, 2));
  EXPECT_TRUE(Live(*p.lib, 3));
  EXPECT_TRUE(p.lib->HasFlags(LibDB::InfoDirty | LibDB::DataDirty));
  CheckStructure(*p.lib, {}, "two tops");
}

TEST(ExplodePasses, ManualExplosionOfNestedListedCells) {
  // 0 places 1 (listed), which places 2 (listed) which places leaf 3. In
  // table order the top would receive a placement of 2 from exploding 1
  // before 2 is exploded into 1. A listed top (0) and a listed cell placed
  // nowhere (4) stay.
  Model m(5);
  m[0].refs = {Ref(1, 100, 0, 4)};
  m[1].refs = {Ref(2, 10, 10, 1)};
  m[2].refs = {Ref(3, 5, 0)};
  m[3].shapes[0x4000] = {{{0, 0}, {10, 0}, {10, 30}, {0, 30}}};
  m[4].shapes[0x4000] = {{{0, 0}, {10, 0}, {10, 30}, {0, 30}}};
  PassLibrary p(m);
  p.lib->cells[3]->flags |= DBCell::Leaf;
  p.lib->cells[4]->flags |= DBCell::Leaf;
  p.lib->explodeCells = {0, 1, 2, 4};
  StdoutCapture out;
  EXPECT_EQ(p.lib->ExplodeManual(), 2);
  const std::string text = out.Stop();
  EXPECT_NE(text.find("Exploding Manual\n"), std::string::npos);
  EXPECT_FALSE(Live(*p.lib, 1));
  EXPECT_FALSE(Live(*p.lib, 2));
  EXPECT_TRUE(Live(*p.lib, 0));
  EXPECT_TRUE(Live(*p.lib, 4));
  const std::vector<SRef> refs = RefsOf(*p.lib, 0);
  ASSERT_EQ(refs.size(), 1u);
  EXPECT_EQ(refs[0].CellId(), 3);
  EXPECT_EQ(p.lib->explodeCells.size(), 4u);
  CheckStructure(*p.lib, {}, "manual");
}

TEST(ExplodePasses, CellsHoldingShapesAreNeverExploded) {
  // Cell 1 holds shapes and a reference (no leaf cell was made for it);
  // cell 2 is a leaf. Exploding either would drop shapes.
  Model m = Placed(100, 100, 100);
  m[1].shapes[0x0100] = {{{0, 0}, {7, 0}, {7, 7}, {0, 7}}};
  PassLibrary p(m);
  p.lib->cells[2]->flags |= DBCell::Leaf;
  const FlatRings before = FlattenLibrary(*p.lib, 0);
  p.lib->explodeCells = {1, 2};
  StdoutCapture quiet;
  EXPECT_EQ(p.lib->Explode1(0.0f), 0);
  EXPECT_EQ(p.lib->Explode2(1.0f), 0);
  EXPECT_EQ(p.lib->Explode3(0.0f), 0);
  EXPECT_EQ(p.lib->ExplodeManual(), 0);
  quiet.Stop();
  EXPECT_TRUE(Live(*p.lib, 1));
  EXPECT_TRUE(Live(*p.lib, 2));
  ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), "shapes kept");
  CheckStructure(*p.lib, {.oneRoot = true}, "shapes kept");
}

TEST(ExplodePasses, NothingExplodedLeavesNoMarkAndNoSummary) {
  PassLibrary p(Placed(10, 10, 100));
  p.lib->cells[2]->flags |= DBCell::Leaf;
  p.lib->explodeCells = {0};  // a top: marked, placed nowhere
  StdoutCapture out;
  EXPECT_EQ(p.lib->ExplodeManual(), 0);
  EXPECT_EQ(p.lib->Explode2(0.0f), 0);
  EXPECT_EQ(p.lib->Explode1(0.9f), 0);
  const std::string text = out.Stop();
  EXPECT_EQ(text.find("removed"), std::string::npos) << text;
  CheckStructure(*p.lib, {.oneRoot = true}, "nothing exploded");
}

}  // namespace
}  // namespace velmar::hier_test
