// The window writers of both formats: what of an in-memory cell they write
// for a window, read back by the system's readers, against the shapes and
// array elements that meet the window, found here by testing every one.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "formats/gds_writer.h"
#include "formats/oasis_file.h"
#include "formats/oasis_read_helpers.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "support/gds_builder.h"
#include "support/oasis_builder.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using test::Placement;
using test::StoredRef;

constexpr int32_t kChildSide = 10;  // the child is the square (0, 0)-(10, 10)

// The source: a child square; "top" with two rectangles, a 5 x 4 array of
// the child on a pitch of 100 and a 4 x 3 array turned by 90 degrees with
// negative pitches; "huge", a 30,000 x 30,000 array of the child on a
// pitch of 20.
std::vector<uint8_t> SourceLayout() {
  test::GdsBuilder b;
  b.BeginLib("WIN");
  b.BeginStr("child").Rect(1, 0, 0, 0, kChildSide, kChildSide).EndStr();
  test::GdsStrans turned;
  turned.angle = 90;
  b.BeginStr("top")
      .Rect(1, 0, 0, 0, 50, 50)
      .Rect(2, 0, 200, 0, 260, 30)
      .ARef("child", 5, 4, Point(1000, 0), Point(1500, 0), Point(1000, 400))
      // Turned by 90 degrees: columns along y (pitch -100), rows along x
      // (pitch -200).
      .ARef("child", 4, 3, Point(3000, 0), Point(3000, -400), Point(2400, 0), turned)
      .EndStr();
  b.BeginStr("huge")
      .ARef("child", 30000, 30000, Point(0, 0), Point(600000, 0), Point(0, 600000))
      .EndStr();
  b.EndLib();
  return b.Bytes();
}

// The placed child square of a placement.
Box ElementBox(const Placement& p) {
  const Point a = test::Orient(p.orientation, 0, 0);
  const Point c = test::Orient(p.orientation, int64_t(kChildSide * p.mag),
                               int64_t(kChildSide * p.mag));
  return Box(std::min(a.x, c.x) + p.x, std::min(a.y, c.y) + p.y, std::max(a.x, c.x) + p.x,
             std::max(a.y, c.y) + p.y);
}

bool Overlaps(const Box& a, const Box& w) {
  return a.x1 < w.x2 && w.x1 < a.x2 && a.y1 < w.y2 && w.y1 < a.y2;
}

// The source library with "top" and "child" in memory.
struct Source {
  test::ScratchLibrary scratch;
  DBCell* top = nullptr;
  DBCell* child = nullptr;
  DBCell* huge = nullptr;
  Source() {
    const auto r = scratch.Read(SourceLayout());
    EXPECT_TRUE(r.ok) << r.error;
    top = scratch.Lib().FindCell("top");
    child = scratch.Lib().FindCell("child");
    huge = scratch.Lib().FindCell("huge");
    for (DBCell* c : {top, child, huge}) scratch.Lib().LoadCell(c, true);
  }
};

// GDSII: the child whole, then `cell` through the window writer; read back.
struct GdsWindow {
  test::TempDir temp;
  test::ScratchLibrary back;
  std::unique_ptr<test::StoredLibrary> stored;
  std::string path;
  GdsWindow(Source& s, DBCell* cell, const Box& window) {
    path = temp.File("w.gds");
    {
      test::StdoutCapture quiet;
      GdsWriter w(path, false);
      w.WriteLibraryHead(&s.scratch.Lib());
      w.WriteCellWindow(s.child, s.child->box, {}, nullptr);
      w.WriteCellWindow(cell, window, {}, nullptr);
      w.WriteEndLibrary();
      w.Finish();
    }
    const auto r = back.ReadFile(path);
    EXPECT_TRUE(r.ok) << r.error;
    test::StdoutCapture quiet;
    stored = std::make_unique<test::StoredLibrary>(back.Dir(), false);
  }
};

// OASIS: START, the cell names with the library's ids as reference
// numbers, the child, then `cell` through the window writer; read back.
struct OasisWindow {
  test::ScratchLibrary back;
  std::unique_ptr<test::StoredLibrary> stored;
  OasisWindow(Source& s, DBCell* cell, const Box& window) {
    test::TempDir temp;
    const std::string body = temp.File("body.bin");
    {
      OasisFile out;
      out.library = &s.scratch.Lib();
      out.OpenOutput(body);
      out.WriteCellWindow(cell, window, {}, {});
      out.stream.Close();
    }
    const int32_t childId = s.scratch.Lib().FindCellId("child");
    const int32_t cellId = s.scratch.Lib().FindCellId(*cell->name);
    test::OasisBuilder b;
    b.Magic().Start(1000);
    b.Record(4).Str("child").U(uint64_t(childId));
    b.Record(4).Str(*cell->name).U(uint64_t(cellId));
    b.Record(13).U(uint64_t(childId));
    b.Record(20).Byte(0x7b).U(1).U(0).U(kChildSide).U(kChildSide).S(0).S(0);
    b.Record(13).U(uint64_t(cellId)).Raw(test::ReadFileBytes(body));
    b.End();
    const auto r = test::ReadOasisInto(back.Lib(), back.Dir(), b.Bytes());
    EXPECT_TRUE(r.ok) << r.error;
    test::StdoutCapture quiet;
    stored = std::make_unique<test::StoredLibrary>(back.Dir(), false);
  }
};

struct WindowCase {
  const char* name;
  Box window;
  // Of "top": rectangles written (by their lower-left x), and the
  // references as the GDSII writer forms them: "S" a single reference,
  // "A<columns>x<rows>" an array.
  std::set<int32_t> rectangles;
  std::vector<std::string> forms;
};

std::string Form(const StoredRef& r) {
  return r.array ? "A" + std::to_string(r.columns) + "x" + std::to_string(r.rows) : "S";
}

const std::vector<WindowCase>& Cases() {
  static const std::vector<WindowCase> cases = {
      {"cell inside the window", Box(-100, -1000, 4000, 1000), {0, 200}, {"A5x4", "A4x3"}},
      {"crossing: a rectangle cut, some elements", Box(30, -150, 1215, 115), {0, 200},
       {"A3x2"}},
      {"some elements of the turned array", Box(2500, -250, 2850, 5), {}, {"A3x2"}},
      {"outside: an empty structure", Box(-500, -500, -400, -400), {}, {}},
      {"no element hit, nothing else", Box(300, 100, 900, 900), {}, {}},
      {"the gap of an array only", Box(1020, 20, 1090, 90), {}, {}},
      {"one element", Box(1105, 205, 1106, 206), {}, {"S"}},
      {"all elements of one array", Box(995, -5, 1415, 315), {}, {"A5x4"}},
      {"some elements, a corner", Box(1305, 205, 2000, 2000), {}, {"A2x2"}},
  };
  return cases;
}

// The placements of "top" in the source whose child square overlaps the
// window, tested one by one.
std::vector<Placement> ExpectedElements(test::StoredLibrary& source, const Box& window) {
  std::vector<Placement> out;
  for (const Placement& p : source.Placements("top"))
    if (Overlaps(ElementBox(p), window)) out.push_back(p);
  return out;
}

std::set<int32_t> RectangleXs(test::StoredLibrary& lib) {
  std::set<int32_t> xs;
  for (const auto& [key, rings] : lib.Shapes("top"))
    for (const auto& r : rings) xs.insert(r.front().x);
  return xs;
}

TEST(CellWindow, GdsWritesWhatMeetsTheWindow) {
  Source s;
  test::StdoutCapture quiet;
  test::StoredLibrary source(s.scratch.Dir(), false);
  quiet.Stop();
  for (const WindowCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    GdsWindow out(s, s.top, c.window);
    if (c.rectangles.empty() && c.forms.empty()) {
      // An empty structure: its head and end only.
      std::vector<int> types;
      for (const auto& r : test::ParseGdsRecords(test::ReadFileBytes(out.path))) {
        if (r.type == GdsRecord::BgnStr) types.clear();
        types.push_back(r.type);
      }
      EXPECT_EQ(types, (std::vector<int>{GdsRecord::BgnStr, GdsRecord::StrName,
                                         GdsRecord::EndStr, GdsRecord::EndLib}));
    }
    EXPECT_EQ(out.stored->Placements("top"), ExpectedElements(source, c.window));
    EXPECT_EQ(RectangleXs(*out.stored), c.rectangles);
    std::vector<std::string> forms;
    for (const StoredRef& r : out.stored->References("top")) forms.push_back(Form(r));
    std::sort(forms.begin(), forms.end());
    std::vector<std::string> want = c.forms;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(forms, want);
  }
}

TEST(CellWindow, OasisWritesWhatMeetsTheWindow) {
  Source s;
  test::StdoutCapture quiet;
  test::StoredLibrary source(s.scratch.Dir(), false);
  quiet.Stop();
  for (const WindowCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    OasisWindow out(s, s.top, c.window);
    EXPECT_EQ(out.stored->Placements("top"), ExpectedElements(source, c.window));
    EXPECT_EQ(RectangleXs(*out.stored), c.rectangles);
  }
}

// A window over 3 x 2 elements in the middle of a 30,000 x 30,000 array:
// the sub-array is computed, not found by visiting 900 million elements.
TEST(CellWindow, TheElementsOfAHugeArrayAreComputed) {
  Source s;
  const Box window(100005, 200005, 100045, 200025);
  auto check = [&](test::StoredLibrary& lib) {
    const auto refs = lib.References("huge");
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_TRUE(refs[0].array);
    EXPECT_EQ(refs[0].columns, 3);
    EXPECT_EQ(refs[0].rows, 2);
    EXPECT_EQ(refs[0].columnPitch, 20);
    EXPECT_EQ(refs[0].rowPitch, 20);
    EXPECT_EQ(refs[0].trans.x, 100000);
    EXPECT_EQ(refs[0].trans.y, 200000);
  };
  {
    SCOPED_TRACE("GDSII");
    GdsWindow out(s, s.huge, window);
    check(*out.stored);
  }
  {
    SCOPED_TRACE("OASIS");
    OasisWindow out(s, s.huge, window);
    check(*out.stored);
  }
}

}  // namespace
}  // namespace velmar
