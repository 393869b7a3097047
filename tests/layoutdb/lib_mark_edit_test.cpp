// Marking the cells below a cell inside a window, and the reference edits:
// ReplaceReferences, RemoveReferences and CollectTargetReferences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/slist.h"
#include "support/stdout_capture.h"
#include "layoutdb/db_cell.h"
#include "support/hier_fixtures.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using hier_test::Array;
using hier_test::Model;
using hier_test::Ref;
using Ring = cell_test::Ring;

Ring Rect(int32_t w, int32_t h) { return {{0, 0}, {w, 0}, {w, h}, {0, h}}; }

// References of a cell, in tree order.
std::vector<const SRef*> RefsOf(const DBCell* cell) {
  std::vector<const SRef*> out;
  auto it = cell->indexedLayers.find(ReferenceKey);
  if (it == cell->indexedLayers.end()) return out;
  for (DBSearchNode* n = DBSearchSystem::First(it->second); n;
       n = DBSearchSystem::Next(n))
    if (n->IsData() && n->item) out.push_back(static_cast<const SRef*>(n->item));
  return out;
}

int CountRefsTo(const DBCell* cell, int32_t id) {
  int n = 0;
  for (const SRef* r : RefsOf(cell)) n += r->CellId() == id;
  return n;
}

bool AnyMarked(const LibDB& lib) {
  for (const DBCell* c : lib.cells)
    if (c != nullptr && (c->flags & DBCell::Marked)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Marking

// A cell placed twice under two windows neither of which holds the other is
// marked once, scanned for both windows, and keeps their union.
TEST(MarkCellsInWindowTest, TwoWindowsAreJoinedAndBothScanned) {
  Model m(3);  // 0 parent, 1 cell placed twice, 2 its child
  m[2].shapes[0x0100] = {Rect(3, 3)};
  m[1].shapes[0x0100] = {Rect(20, 10)};
  m[1].refs = {Ref(2, 0, 0), Ref(2, 15, 0)};
  m[0].refs = {Ref(1, 0, 0), Ref(1, 100, 0)};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const Box w(5, 0, 105, 10);
  lib.MarkCellsInWindow(0, &w);
  for (int id = 0; id < 3; ++id)
    EXPECT_TRUE(lib.cells[size_t(id)]->flags & DBCell::Marked) << id;
  ASSERT_EQ(lib.hierRecords.size(), 3u);
  EXPECT_EQ(lib.hierRecords[1].box1, Box(-95, 0, 105, 10));
  // (5, 0, 105, 10) meets the child at 15 only, (-95, 0, 5, 10) the child at
  // 0 only: the child's union shows that both windows were scanned.
  EXPECT_EQ(lib.hierRecords[2].box1, Box(-95, 0, 90, 10));
}

// An array of which one element meets the window marks the child for that
// element's window; two elements mark it for its whole box.
TEST(MarkCellsInWindowTest, ArrayElements) {
  Model m(2);
  m[1].shapes[0x0100] = {Rect(20, 10)};
  m[0].refs = {Array(1, 0, 0, 3, 1, 100, 0)};
  struct Case {
    Box window;
    Box expected;
  };
  for (const Case& c : {Case{Box(105, 0, 110, 5), Box(5, 0, 10, 5)},
                        Case{Box(15, 0, 105, 5), Box(0, 0, 20, 10)}}) {
    LibDB lib("/nonexistent", 0);
    hier_test::Build(lib, m);
    lib.MarkCellsInWindow(0, &c.window);
    EXPECT_TRUE(lib.cells[1]->flags & DBCell::Marked);
    EXPECT_EQ(lib.hierRecords[1].box1, c.expected);
  }
}

// ---------------------------------------------------------------------------
// Edits

// 0 top: places 1 (the parent) and 3 (outside the parent's hierarchy).
// 1 parent: places 4 (old) once, as a 2 x 2 array, and 2.
// 2 middle: places 4 once.
// 3 outside: places 4 once.
// 4 old, 5 new (another size), 6 places 2 but not the parent.
enum : int32_t { kTop, kParent, kMiddle, kOutside, kOld, kNew, kAbove };

Model EditModel() {
  Model m(7);
  m[kOld].shapes[0x0100] = {Rect(10, 10)};
  m[kNew].shapes[0x0100] = {Rect(30, 5)};
  m[kMiddle].refs = {Ref(kOld, 50, 50, 3)};
  m[kParent].refs = {Ref(kOld, 0, 0), Array(kOld, 200, 0, 2, 2, 20, 20),
                     Ref(kMiddle, 0, 300)};
  m[kOutside].refs = {Ref(kOld, 0, 0)};
  m[kTop].refs = {Ref(kParent, 0, 0), Ref(kOutside, 1000, 0)};
  m[kAbove].refs = {Ref(kMiddle, 0, 0)};
  return m;
}

TEST(ReplaceReferencesTest, RedirectsBelowParentOnly) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  EXPECT_EQ(lib.ReplaceReferences(kParent, kOld, kNew), 3);

  EXPECT_EQ(CountRefsTo(lib.cells[kParent], kNew), 2);
  EXPECT_EQ(CountRefsTo(lib.cells[kMiddle], kNew), 1);
  EXPECT_EQ(CountRefsTo(lib.cells[kOutside], kOld), 1);
  for (int32_t id : {kParent, kMiddle})
    EXPECT_TRUE(lib.cells[size_t(id)]->flags & DBCell::Modified) << id;
  for (int32_t id : {kTop, kOutside, kOld, kNew, kAbove})
    EXPECT_EQ(lib.cells[size_t(id)]->flags & DBCell::Modified, 0) << id;
  EXPECT_FALSE(AnyMarked(lib));

  // The array stays an array, and every redirected item carries the new
  // cell's placed box.
  const Box newBox = lib.cells[kNew]->box;
  LayerTree& tree = lib.cells[kParent]->indexedLayers.at(ReferenceKey);
  int arrays = 0;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    const SRef* r = static_cast<const SRef*>(n->item);
    if (r->CellId() != kNew) continue;
    EXPECT_EQ(n->box, r->GetBox(newBox));
    if (r->IsArray()) {
      ++arrays;
      EXPECT_EQ(static_cast<const ARef*>(r)->columns, 2);
    }
  }
  EXPECT_EQ(arrays, 1);
  EXPECT_EQ(tree.itemCount, 3);
}

TEST(ReplaceReferencesTest, NothingToReplaceChangesNothing) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  EXPECT_EQ(lib.ReplaceReferences(kOutside, kMiddle, kNew), 0);
  EXPECT_EQ(lib.ReplaceReferences(kParent, kOld, kOld), 0);
  for (const DBCell* c : lib.cells) EXPECT_EQ(c->flags, 0);
}

// A cell placed below the parent after the boxes were last computed is
// still reached: neither the parent's box nor its item box for the middle
// cell covers the new placement yet.
TEST(ReplaceReferencesTest, ReachesPlacementsOutsideStaleBoxes) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  const int32_t far = lib.AddCell("far");
  SRef* inner = hier_test::AddRef(lib, far, new SRef(Trans(0, 0), kOld));
  lib.cells[size_t(far)]->box = inner->GetBox(lib.cells[kOld]->box);
  hier_test::AddRef(lib, kMiddle, new SRef(Trans(50000, 50000), far));
  EXPECT_EQ(lib.ReplaceReferences(kParent, kOld, kNew), 4);
  EXPECT_EQ(CountRefsTo(lib.cells[size_t(far)], kNew), 1);
  EXPECT_EQ(CountRefsTo(lib.cells[kOutside], kOld), 1);
}

// New cell ids that are not cells, are empty, or would place a cell inside
// itself are refused, and the library stays as it was.
TEST(ReplaceReferencesTest, BadNewCellsAreRefused) {
  struct Case {
    const char* what;
    int32_t newId;
  };
  for (const Case& c :
       {Case{"negative id", -1}, Case{"beyond the cells", 99},
        Case{"removed cell", 7}, Case{"empty cell", 8},
        Case{"the parent itself", kParent}, Case{"above the parent", kTop},
        Case{"holding a cell that would place it", kAbove}}) {
    SCOPED_TRACE(c.what);
    LibDB lib("/nonexistent", 0);
    hier_test::Build(lib, EditModel());
    lib.AddCell("removed");
    lib.cells.Free(7);
    lib.AddCell("empty");
    try {
      lib.ReplaceReferences(kParent, kOld, c.newId);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      ASSERT_NE(e.Unit(), nullptr);
      EXPECT_STREQ(e.Unit(), "DB");
    }
    EXPECT_EQ(CountRefsTo(lib.cells[kParent], kOld), 2);
    EXPECT_EQ(CountRefsTo(lib.cells[kMiddle], kOld), 1);
    for (const DBCell* cell : lib.cells) {
      if (cell == nullptr) continue;
      EXPECT_EQ(cell->flags, 0);
    }
  }
}

TEST(RemoveReferencesTest, RemovesBelowParentAndPrintsEach) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  test::StdoutCapture capture;
  const int32_t n = lib.RemoveReferences(kParent, kOld);
  const std::string printed = capture.Stop();
  EXPECT_EQ(n, 3);
  // One line per reference, the array once with its origin.
  for (const char* line :
       {"\tc4 c1 0 0 0\n", "\tc4 c1 200 0 0\n", "\tc4 c2 50 50 3\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << line << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 3);

  EXPECT_EQ(CountRefsTo(lib.cells[kParent], kOld), 0);
  EXPECT_EQ(CountRefsTo(lib.cells[kParent], kMiddle), 1);
  EXPECT_EQ(lib.cells[kParent]->indexedLayers.at(ReferenceKey).itemCount, 1);
  EXPECT_EQ(CountRefsTo(lib.cells[kMiddle], kOld), 0);
  EXPECT_EQ(CountRefsTo(lib.cells[kOutside], kOld), 1);
  EXPECT_EQ(lib.cells[kOutside]->flags, 0);
  EXPECT_EQ(lib.cells[kTop]->flags, 0);
  EXPECT_TRUE(lib.cells[kMiddle]->flags & DBCell::Modified);
  EXPECT_FALSE(AnyMarked(lib));
}

// An error while a cell is loaded ends the edit with every mark cleared and
// no reference changed.
TEST(RemoveReferencesTest, LoadErrorLeavesNoMark) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  const int32_t broken = lib.AddCell("broken");
  DBCell* cell = lib.cells[size_t(broken)];
  cell->box = Box(0, 0, 10, 10);
  cell->dbFile = 3;  // no such data file
  cell->startPos = 0;
  cell->endPos = 10;
  hier_test::AddRef(lib, kMiddle, new SRef(Trans(0, 0), broken));
  EXPECT_THROW(lib.RemoveReferences(kParent, kOld), Error);
  EXPECT_FALSE(AnyMarked(lib));
  EXPECT_EQ(CountRefsTo(lib.cells[kParent], kOld), 2);
  EXPECT_EQ(CountRefsTo(lib.cells[kMiddle], kOld), 1);
}

// Cells of a stored library are loaded as the edit reaches them; the edit
// stays inside the parent's hierarchy.
TEST(ReplaceReferencesTest, LoadsStoredCells) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  {
    LibDB lib(dir.path().c_str(), 0);
    hier_test::Build(lib, EditModel());
    for (DBCell* c : lib.cells) c->flags |= DBCell::Modified;
    lib.SaveModified();
    lib.WriteInfo();
    lib.WriteNames();
  }
  LibDB lib(dir.path().c_str(), 0);
  lib.ReadInfo();
  lib.ReadNames();
  EXPECT_EQ(lib.ReplaceReferences(kParent, kOld, kNew), 3);
  EXPECT_EQ(CountRefsTo(lib.cells[kMiddle], kNew), 1);
  EXPECT_TRUE(lib.cells[kOutside]->IsEmpty());
  EXPECT_FALSE(AnyMarked(lib));
}

TEST(CollectTargetReferencesTest, FindsEveryPlacementOnce) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  SList found;
  const Box w = lib.cells[kParent]->box;
  lib.CollectTargetReferences(lib.cells[kParent], &w, kOld, &found, true);
  EXPECT_EQ(found.count, 3);
  int arrays = 0;
  for (SListNode* n = found.head; n; n = n->next) {
    const SRef* r = static_cast<const SRef*>(n->item);
    EXPECT_EQ(r->CellId(), kOld);
    arrays += r->IsArray();
  }
  EXPECT_EQ(arrays, 1);
  EXPECT_TRUE(lib.cells[kParent]->flags & DBCell::Modified);
  EXPECT_TRUE(lib.cells[kMiddle]->flags & DBCell::Modified);
  EXPECT_EQ(lib.cells[kOutside]->flags, 0);
  EXPECT_EQ(lib.cells[kOld]->flags, 0);
  SList::Clear(found);
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// Removing a cell everywhere reaches cells outside every root's tree (kAbove
// is a second root, kOutside lies below kTop only): no reference to the id
// survives anywhere, and destroying it frees its id and name.
TEST(RemoveReferencesEverywhereTest, NoReferenceToTheDestroyedCellSurvives) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  lib.roots = {kTop};  // stale: kAbove is a root too
  test::StdoutCapture capture;
  EXPECT_EQ(lib.RemoveReferencesEverywhere(kOld), 4);
  lib.DestroyCell(kOld);
  capture.Stop();
  EXPECT_EQ(lib.cells[kOld], nullptr);
  EXPECT_EQ(lib.FindCellId("c4"), -1);
  for (const DBCell* c : lib.cells) {
    if (c != nullptr) {
      EXPECT_EQ(CountRefsTo(c, kOld), 0);
    }
  }
  EXPECT_EQ(CountRefsTo(lib.cells[kAbove], kMiddle), 1);
  EXPECT_FALSE(AnyMarked(lib));
  // A new cell takes a new id, never the freed one.
  EXPECT_EQ(lib.AddCell("c4"), 7);
}

TEST(RefusePlacementTest, ACellCannotBePlacedInsideItself) {
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, EditModel());
  EXPECT_THROW(lib.RefusePlacement(kTop, kTop), Error);
  EXPECT_THROW(lib.RefusePlacement(kTop, kOld), Error);     // kOld lies below kTop
  EXPECT_THROW(lib.RefusePlacement(kParent, kMiddle), Error);
  EXPECT_NO_THROW(lib.RefusePlacement(kMiddle, kOutside));  // side by side
  EXPECT_NO_THROW(lib.RefusePlacement(kOld, kAbove));
  EXPECT_FALSE(AnyMarked(lib));
}

}  // namespace
}  // namespace velmar
