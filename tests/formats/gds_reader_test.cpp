// GDSII reader: elements stored and dropped, paths of every end style,
// references in all orientations, layer filter and map, gzip input, the
// report and its limits, library-level rules, and real files from other
// tools. Every stored result is read back from the library directory.
#include "formats/gds_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "support/gds_builder.h"
#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using test::BoxRing;
using test::Canonical;
using test::GdsBuilder;
using test::GdsReadOptions;
using test::GdsReadResult;
using test::GdsStrans;
using test::Placement;
using test::Ring;
using test::ScratchLibrary;
using test::StoredLibrary;

constexpr int32_t Key(int layer, int datatype) { return layer * 256 + datatype; }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A library of one structure TOP holding the elements that body adds.
template <typename F>
std::vector<uint8_t> OneCell(F body, double metersPerUnit = 1e-9) {
  GdsBuilder b;
  b.BeginLib("LIB", 0.001, metersPerUnit).BeginStr("TOP");
  body(b);
  b.EndStr().EndLib();
  return b.Bytes();
}

// --- Boundaries ------------------------------------------------------------------

TEST(GdsReader, BoundariesAreStoredByKind) {
  ScratchLibrary lib;
  const Ring lshape = {{0, 0}, {30, 0}, {30, 10}, {10, 10}, {10, 30}, {0, 30}};
  const Ring octagon = {{10, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30}, {0, 20}, {0, 10}};
  const Ring triangle = {{0, 0}, {100, 0}, {30, 70}};
  // A clockwise rectangle with a collinear vertex on its bottom edge.
  const Ring redundant = {{200, 0}, {200, 50}, {300, 50}, {300, 0}, {250, 0}};
  auto gds = OneCell([&](GdsBuilder& b) {
    b.Rect(1, 0, 0, 0, 100, 50)
        .Boundary(1, 0, lshape)
        .Boundary(2, 7, octagon)
        .Boundary(3, 255, triangle)
        .Boundary(255, 0, redundant);
  });
  GdsReadResult r = lib.Read(gds);
  ASSERT_TRUE(r.ok) << r.error << r.output;
  EXPECT_EQ(r.boundaries, 5);
  EXPECT_EQ(r.polygons45, 1);
  EXPECT_EQ(r.arbitrary, 1);
  EXPECT_NE(r.output.find("  Arbitrary angle at (30, 70)nm on layer (3 255) & cell TOP\n"),
            std::string::npos)
      << r.output;

  StoredLibrary stored(lib.Dir(), false);
  auto shapes = stored.Shapes("TOP");
  const std::vector<Ring> layer1 = {BoxRing(0, 0, 100, 50), Canonical(lshape)};
  EXPECT_EQ(shapes[Key(1, 0)], (std::vector<Ring>{Canonical(lshape), BoxRing(0, 0, 100, 50)}));
  EXPECT_EQ(shapes[Key(2, 7)], std::vector<Ring>{Canonical(octagon)});
  EXPECT_EQ(shapes[Key(3, 255)], std::vector<Ring>{Canonical(triangle)});
  EXPECT_EQ(shapes[Key(255, 0)], std::vector<Ring>{BoxRing(200, 0, 300, 50)});
  const DBCell* top = stored.Lib().FindCell("TOP");
  EXPECT_EQ(top->box, Box(0, 0, 300, 70));
  EXPECT_TRUE(top->flags & DBCell::Leaf);
  EXPECT_EQ(stored.Lib().layers.size(), 4u);
}

TEST(GdsReader, ClosingPointMustRepeatTheFirst) {
  ScratchLibrary lib;
  auto gds = OneCell([](GdsBuilder& b) {
    b.Boundary(1, 0, {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 1}}, false);
  });
  GdsReadResult r = lib.Read(gds);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.unit, "GDSIN");
  EXPECT_EQ(r.error, "Last point does not match with first point in Boundary data");
  EXPECT_NE(r.output.find("ERROR: Last point does not match with first point at (0, 1)nm on cell TOP\n"),
            std::string::npos);
}

TEST(GdsReader, DegenerateBoundariesAreReportedUpToTheLimit) {
  ScratchLibrary lib;
  auto gds = OneCell([](GdsBuilder& b) {
    b.Boundary(1, 0, {{5, 5}}, false);  // one point: two problems
    for (int i = 0; i < 22; ++i) {
      // A line: three collinear points (closed), collapsing under Simplify.
      b.Boundary(1, 0, {{i, 0}, {i + 10, 0}, {i + 20, 0}});
    }
    b.Rect(1, 0, 0, 0, 10, 10);
  });
  GdsReadResult r = lib.Read(gds);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.boundaries, 1);
  EXPECT_EQ(Count(r.output, "Warning: illegal single point\n"), 1);
  EXPECT_NE(r.output.find("Warning: point/line polygon at (5, 5)nm on layer (1 0) & cell TOP, skip\n"),
            std::string::npos);
  // 24 problems: 20 reports, the notice after the 20th, the summary line.
  EXPECT_EQ(Count(r.output, "Warning: point/line polygon"), 19);
  EXPECT_EQ(Count(r.output, "Same warning will not be shown any more\n"), 1);
  // The report position is the last distinct vertex of the record.
  EXPECT_LT(r.output.find("Warning: point/line polygon at (37, 0)nm"),
            r.output.find("Same warning will not be shown any more\n"));
  EXPECT_EQ(r.output.find("Warning: point/line polygon at (38, 0)nm"), std::string::npos);
  EXPECT_NE(r.output.find("24 problem polygons in cell TOP\n"), std::string::npos);
  EXPECT_NE(r.output.find("  Detailed problem reports are limited to 20 cases\n"),
            std::string::npos);
}

// --- Paths ----------------------------------------------------------------------

TEST(GdsReader, PathEndStylesAndWidths) {
  // A horizontal path from (0, 0) to (100, 0), 20 wide: the outline is a
  // rectangle whose ends follow the path type.
  struct Case {
    const char* what;
    std::optional<int16_t> type;
    int32_t width;
    std::optional<int32_t> bgn, end;
    Ring expected;
    bool roundTip;
  } cases[] = {
      {"default flush", std::nullopt, 20, {}, {}, BoxRing(0, -10, 100, 10), false},
      {"type 0", 0, 20, {}, {}, BoxRing(0, -10, 100, 10), false},
      {"type 1 round", 1, 20, {}, {}, BoxRing(-10, -10, 110, 10), true},
      {"type 2 half width", 2, 20, {}, {}, BoxRing(-10, -10, 110, 10), false},
      {"type 4 custom", 4, 20, 5, 7, BoxRing(-5, -10, 107, 10), false},
      {"type 4 negative extensions", 4, 20, -3, -4, BoxRing(3, -10, 96, 10), false},
      {"negative width", 0, -20, {}, {}, BoxRing(0, -10, 100, 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchLibrary lib;
    auto gds = OneCell([&](GdsBuilder& b) {
      b.Path(4, 2, {{0, 0}, {100, 0}}, c.width, c.type, c.bgn, c.end);
    });
    GdsReadResult r = lib.Read(gds);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.paths, 1);
    StoredLibrary stored(lib.Dir(), false);
    EXPECT_EQ(stored.Shapes("TOP")[Key(4, 2)], std::vector<Ring>{c.expected});
    EXPECT_EQ(Count(r.output, "Warning: Round tip path type found at (0, 0)nm on layer (4 2) & cell TOP\n"
                              "  It is not supported and will be redefined to square tip\n"),
              c.roundTip ? 1 : 0);
  }
}

TEST(GdsReader, PathKeepsEveryPointAndZeroWidthIsALine) {
  ScratchLibrary lib;
  auto gds = OneCell([](GdsBuilder& b) {
    // An L of three points, 20 wide, flush ends: the mitred corner region
    // [0,110]x[-10,10] plus [90,110]x[10,100] (worked out by hand).
    b.Path(1, 0, {{0, 0}, {100, 0}, {100, 100}}, 20);
    b.Path(2, 0, {{0, 0}, {50, 0}}, 0);
    for (int i = 0; i < 2; ++i) b.Path(3, 0, {{0, 0}, {10, 10}, {20, 0}}, 4, 1);
  });
  GdsReadResult r = lib.Read(gds);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.paths, 3);
  EXPECT_NE(r.output.find("Warning: point/line polygon at"), std::string::npos);
  // The round-tip lines have no report limit: both paths print them.
  EXPECT_EQ(Count(r.output, "Warning: Round tip path type found"), 2);
  StoredLibrary stored(lib.Dir(), false);
  auto shapes = stored.Shapes("TOP");
  EXPECT_EQ(shapes[Key(1, 0)],
            std::vector<Ring>{Canonical({{0, -10}, {110, -10}, {110, 100}, {90, 100}, {90, 10}, {0, 10}})});
  EXPECT_EQ(shapes.count(Key(2, 0)), 0u);
}

// --- References -------------------------------------------------------------------

// The GDSII placement of a child point: reflect about x, scale, rotate
// counter-clockwise, translate (computed in floating point).
Point GdsPlace(Point p, bool reflect, double mag, double degrees, Point at) {
  const double y = reflect ? -p.y : p.y;
  const double a = degrees * M_PI / 180.0;
  const double xs = p.x * mag, ys = y * mag;
  return {int32_t(std::lround(xs * std::cos(a) - ys * std::sin(a))) + at.x,
          int32_t(std::lround(xs * std::sin(a) + ys * std::cos(a))) + at.y};
}

TEST(GdsReader, ReferencesInAllOrientationsWithMagnification) {
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE("STRANS " + std::to_string(k));
    // GDSII reflects about the x axis before rotating: with the reflection
    // bit, 0, 90, 180 and 270 degrees are the codes 6, 7, 4 and 5.
    const bool reflect = k >= 4;
    const double angle = (k & 3) * 90.0;
    const int o = reflect ? std::array<int, 4>{6, 7, 4, 5}[k & 3] : k;
    const double mag = 2.0;
    GdsStrans strans{reflect, mag, angle};
    const Point at{1000, 2000};
    // The array: 3 columns and 2 rows whose lattice steps are chosen in
    // both arrangements: columns along x and rows along y, and the reverse.
    const bool swap = (k % 2) == 1;
    const Point colStep = swap ? Point{0, 70} : Point{40, 0};
    const Point rowStep = swap ? Point{-90, 0} : Point{0, -30};
    const Point p1{at.x + 3 * colStep.x, at.y + 3 * colStep.y};
    const Point p2{at.x + 2 * rowStep.x, at.y + 2 * rowStep.y};
    GdsBuilder b;
    b.BeginLib()
        .BeginStr("CHILD")
        .Rect(1, 0, 0, 0, 10, 20)
        .EndStr()
        .BeginStr("TOP")
        .SRef("CHILD", at, strans)
        .ARef("CHILD", 3, 2, at, p1, p2, strans)
        // The other arrangement, with no rotation or reflection.
        .ARef("CHILD", 3, 2, {0, 0}, {0, 300}, {-100, 0})
        .EndStr()
        .EndLib();
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.singleRefs, 1);
    EXPECT_EQ(r.arrayRefs, 2);
    EXPECT_EQ(r.magnified, 2);
    EXPECT_NE(r.output.find("  Sref magnification=2.000000 at (1000, 2000)nm on cell CHILD under cell TOP\n"),
              std::string::npos);

    StoredLibrary stored(lib.Dir(), false);
    // Every element the file describes, no more.
    std::vector<Placement> expected;
    expected.push_back({"CHILD", at.x, at.y, float(mag), o});
    for (int c = 0; c < 3; ++c) {
      for (int rr = 0; rr < 2; ++rr) {
        expected.push_back({"CHILD", at.x + c * colStep.x + rr * rowStep.x,
                            at.y + c * colStep.y + rr * rowStep.y, float(mag), o});
        expected.push_back({"CHILD", c * 0 + rr * -50, c * 100, 1.0f, 0});
      }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored.Placements("TOP"), expected);

    // The stored transform places the child as GDSII does.
    for (const auto& ref : stored.References("TOP")) {
      if (ref.array) continue;
      Box child(0, 0, 10, 20);
      ref.trans.TransformBox(child);
      Box oracle;
      for (Point p : {Point{0, 0}, Point{10, 0}, Point{10, 20}, Point{0, 20}}) {
        const Point q = GdsPlace(p, reflect, mag, angle, at);
        oracle.Extend(q.x, q.y);
      }
      EXPECT_EQ(child, oracle);
    }
    // The top cell's box covers every placed child.
    Box cover;
    for (const Placement& p : expected) {
      Box child(0, 0, 10, 20);
      Trans(p.x, p.y, p.mag, uint8_t(p.orientation)).TransformBox(child);
      cover.Merge(child);
    }
    EXPECT_EQ(stored.Lib().FindCell("TOP")->box, cover);
  }
}

TEST(GdsReader, ArrayPitchesOfThePublishedExamples) {
  GdsBuilder b;
  b.BeginLib()
      .BeginStr("C").Rect(1, 0, 0, 0, 5, 5).EndStr()
      .BeginStr("A").ARef("C", 3, 2, {0, 0}, {300, 0}, {0, 100}).EndStr()
      .BeginStr("B")
      .ARef("C", 3, 2, {0, 0}, {0, 300}, {-100, 0}, GdsStrans{false, {}, 90.0})
      .EndStr()
      .BeginStr("S").ARef("C", 1, 1, {7, 8}, {7, 8}, {7, 8}).EndStr()
      .EndLib();
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.arrayRefs, 2);
  EXPECT_EQ(r.singleRefs, 1);
  StoredLibrary stored(lib.Dir(), false);
  auto a = stored.References("A");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_TRUE(a[0].array);
  EXPECT_EQ(a[0].columns, 3);
  EXPECT_EQ(a[0].rows, 2);
  EXPECT_EQ(a[0].columnPitch, 100);
  EXPECT_EQ(a[0].rowPitch, 50);
  auto bref = stored.References("B");
  ASSERT_EQ(bref.size(), 1u);
  EXPECT_EQ(bref[0].trans.orientation, 1);
  EXPECT_EQ(bref[0].columnPitch, -50);
  EXPECT_EQ(bref[0].rowPitch, 100);
  auto s = stored.References("S");
  ASSERT_EQ(s.size(), 1u);
  EXPECT_FALSE(s[0].array);
  EXPECT_EQ(s[0].trans.x, 7);
}

TEST(GdsReader, ArbitraryAnglesSnapAndAreReported) {
  struct Case {
    double angle;
    bool reflect;
    int orientation;
    int warned;  // angle in the warning, 0 for none
  } cases[] = {
      {30.0, true, 6, 30}, {91.0, false, 1, 0},  {220.0, false, 3, 220},
      {-90.0, false, 3, 0}, {45.4, false, 0, 45}, {45.5, false, 1, 46},
      {315.0, true, 5, 315}, {316.0, false, 0, 316}, {180.0, true, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    ScratchLibrary lib;
    GdsBuilder b;
    b.BeginLib().BeginStr("C").Rect(1, 0, 0, 0, 5, 5).EndStr().BeginStr("TOP")
        .SRef("C", {10, 20}, GdsStrans{c.reflect, {}, c.angle})
        .EndStr().EndLib();
    GdsReadResult r = lib.Read(b.Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    StoredLibrary stored(lib.Dir(), false);
    auto refs = stored.References("TOP");
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].trans.orientation, c.orientation);
    if (c.warned) {
      EXPECT_NE(r.output.find("Warning: Arbitrary angle " + std::to_string(c.warned) +
                              " changed to manhattan angle\n  cell C under cell TOP at (10, 20)nm\n"),
                std::string::npos)
          << r.output;
    } else {
      EXPECT_EQ(r.output.find("Arbitrary angle"), std::string::npos);
    }
  }
}

TEST(GdsReader, MalformedArraysAreRefused) {
  struct Case {
    int16_t cols, rows;
    Point p1, p2;
    const char* error;
  } cases[] = {
      {0, 2, {0, 0}, {0, 100}, "Array Reference with 0 columns and 2 rows"},
      {3, 0, {300, 0}, {0, 0}, "Array Reference with 3 columns and 0 rows"},
      {-1, 2, {300, 0}, {0, 100}, "Array Reference with -1 columns and 2 rows"},
      {3, 2, {300, 10}, {0, 100}, "Array Reference has unsupported arbitrary angle displacement"},
      {3, 2, {300, 0}, {100, 0}, "Array Reference has both displacements along one axis"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScratchLibrary lib;
    GdsBuilder b;
    b.BeginLib().BeginStr("C").Rect(1, 0, 0, 0, 5, 5).EndStr().BeginStr("TOP")
        .ARef("C", c.cols, c.rows, {0, 0}, c.p1, c.p2)
        .EndStr().EndLib();
    GdsReadResult r = lib.Read(b.Bytes());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.unit, "GDSIN");
  }
  // With one row, a row step along the column axis is unused: accepted.
  ScratchLibrary lib;
  GdsBuilder b;
  b.BeginLib().BeginStr("C").Rect(1, 0, 0, 0, 5, 5).EndStr().BeginStr("TOP")
      .ARef("C", 4, 1, {0, 0}, {400, 0}, {50, 0})
      .EndStr().EndLib();
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary stored(lib.Dir(), false);
  auto placements = stored.Placements("TOP");
  ASSERT_EQ(placements.size(), 4u);
  EXPECT_EQ(placements[3].x, 300);
}

TEST(GdsReader, DuplicateReferencesDifferOnlyInMagnificationAreKept) {
  ScratchLibrary lib;
  GdsBuilder b;
  b.BeginLib().BeginStr("C").Rect(1, 0, 0, 0, 5, 5).EndStr().BeginStr("TOP")
      .SRef("C", {10, 10})
      .SRef("C", {10, 10})
      .SRef("C", {10, 10}, GdsStrans{false, 2.0, {}})
      .ARef("C", 2, 2, {0, 0}, {20, 0}, {0, 20})
      .ARef("C", 2, 2, {0, 0}, {20, 0}, {0, 20})
      .EndStr().EndLib();
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.duplicates, 2);
  EXPECT_NE(r.output.find("  3 single & 2 arrary references (2 duplicates), 1 magnifications\n"),
            std::string::npos)
      << r.output;
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.References("TOP").size(), 3u);
}

// --- Texts, nodes, boxes, properties; filter and map ----------------------------------

TEST(GdsReader, TextsNodesBoxesAndPropertiesAreCountedAndDropped) {
  auto gds = OneCell([](GdsBuilder& b) {
    b.Text(1, 0, {5, 5}, "VDD").Text(2, 0, {5, 5}, "GND", GdsStrans{true, 2.0, 30.0});
    b.Node(1, 0, {{0, 0}}).Node(1, 0, {{0, 0}, {5, 5}, {9, 0}});
    b.Box(2, 0, 0, 0, 10, 10);
    b.Rect(1, 0, 0, 0, 10, 10);
    // Two properties on the rectangle: PROPATTR, PROPVALUE before ENDEL.
  });
  // Insert properties into the last element by hand.
  GdsBuilder p;
  p.BeginLib().BeginStr("TOP");
  p.Record(GdsRecord::Boundary, 0).Int16s(GdsRecord::Layer, {1}).Int16s(GdsRecord::Datatype, {0});
  p.Xy({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
  p.Int16s(GdsRecord::PropAttr, {1}).String(GdsRecord::PropValue, "net1");
  p.Int16s(GdsRecord::PropAttr, {2}).Record(GdsRecord::PropValue, 6, {});
  p.Record(GdsRecord::EndEl, 0).EndStr().EndLib();

  ScratchLibrary lib;
  GdsReadResult r = lib.Read(gds);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.texts, 2);
  EXPECT_EQ(r.nodes, 2);
  EXPECT_EQ(r.boxes, 1);
  EXPECT_EQ(r.boundaries, 1);
  // A single-point node is a legal node, not a problem.
  EXPECT_EQ(r.output.find("illegal single point"), std::string::npos);
  EXPECT_NE(r.output.find("  2 texts, 2 nodes, 1 boxes, 0 properties\n"), std::string::npos);
  StoredLibrary stored(lib.Dir(), false);
  auto shapes = stored.Shapes("TOP");
  EXPECT_EQ(shapes.size(), 1u);

  ScratchLibrary lib2;
  GdsReadResult r2 = lib2.Read(p.Bytes());
  ASSERT_TRUE(r2.ok) << r2.error;
  EXPECT_EQ(r2.properties, 2);

  // ignoreText drops the count; a layer filter counts only its texts.
  GdsReadOptions ignore;
  ignore.ignoreText = true;
  ScratchLibrary lib3;
  EXPECT_EQ(lib3.Read(gds, ignore).texts, 0);
  GdsReadOptions filter;
  filter.filter = {Key(1, 0)};
  ScratchLibrary lib4;
  GdsReadResult r4 = lib4.Read(gds, filter);
  EXPECT_EQ(r4.texts, 1);
  EXPECT_EQ(r4.boxes, 1);  // boxes do not look at the filter
}

TEST(GdsReader, TextWithStringBeforeXYIsTaken) {
  GdsBuilder b;
  b.BeginLib().BeginStr("TOP");
  b.Record(GdsRecord::Text, 0).Int16s(GdsRecord::Layer, {1}).Int16s(GdsRecord::TextType, {0});
  b.String(GdsRecord::String, "A").Xy({{1, 2}}).Record(GdsRecord::EndEl, 0);
  b.Rect(1, 0, 0, 0, 4, 4).EndStr().EndLib();
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.texts, 1);
  EXPECT_EQ(r.boundaries, 1);
}

TEST(GdsReader, LayerFilterMapAndOutOfRangeLayers) {
  auto gds = OneCell([](GdsBuilder& b) {
    b.Rect(1, 0, 0, 0, 10, 10).Rect(2, 0, 20, 0, 30, 10).Rect(3, 4, 40, 0, 50, 10);
    b.Box(2, 0, 0, 0, 5, 5);
    b.Rect(256, 0, 0, 0, 7, 7).Rect(1, -1, 0, 0, 7, 7).Rect(-1, 0, 0, 0, 7, 7);
    b.Path(3, 300, {{0, 0}, {9, 0}}, 2);
  });
  {
    GdsReadOptions o;
    o.filter = {Key(1, 0), Key(3, 4)};
    o.map = {{Key(3, 4), Key(9, 9)}, {Key(2, 0), Key(5, 5)}};
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(gds, o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.boundaries, 2);
    EXPECT_EQ(r.boxes, 1);
    EXPECT_EQ(r.badLayers, 4);
    StoredLibrary stored(lib.Dir(), false);
    auto shapes = stored.Shapes("TOP");
    std::vector<int32_t> keys;
    for (const auto& [k, v] : shapes) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<int32_t>{Key(1, 0), Key(9, 9)}));
    EXPECT_EQ(shapes[Key(9, 9)], std::vector<Ring>{BoxRing(40, 0, 50, 10)});
    EXPECT_NE(r.output.find("Warning: layer (256 0) out of range 0..255 at "), std::string::npos);
    EXPECT_NE(r.output.find("  4 elements on layers outside 0..255 skipped\n"), std::string::npos);
    EXPECT_NE(r.output.find("\nDefined Layers:\n  1 0\n  9 9\n\nTotal "), std::string::npos)
        << r.output;
  }
  {
    // A map into a work layer or the reference store is refused.
    GdsReadOptions o;
    o.map = {{Key(1, 0), 0x10000}, {Key(2, 0), 0x400000}};
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(gds, o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.boundaries, 1);  // only (3 4)
    EXPECT_EQ(r.badLayers, 6);
  }
}

// --- Library-level rules -----------------------------------------------------------------

TEST(GdsReader, EmptyLibraryAndMissingHeaderRecords) {
  {
    GdsBuilder b;
    b.BeginLib().EndLib();
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes());
    EXPECT_EQ(r.error, "Empty library");
  }
  struct Case {
    std::vector<uint8_t> bytes;
    const char* error;
  };
  GdsBuilder noHeader, noBegin, noName, noUnits, zeroUnit, negativeUnit;
  noHeader.Int16s(GdsRecord::BgnLib, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  noBegin.Int16s(GdsRecord::Header, {600}).String(GdsRecord::LibName, "L");
  noName.Int16s(GdsRecord::Header, {600}).Int16s(GdsRecord::BgnLib, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  noUnits = noName;
  noUnits.String(GdsRecord::LibName, "L").EndLib();
  zeroUnit.BeginLib("L", 0.001, 0.0).EndLib();
  negativeUnit.BeginLib("L", -0.001, 1e-9).EndLib();
  Case cases[] = {
      {noHeader.Bytes(), "Library Header missing"},
      {noBegin.Bytes(), "Library Begin missing"},
      {noName.Bytes(), "Library Name missing"},
      {noUnits.Bytes(), "UNITS missing (in GDSII)"},
      {zeroUnit.Bytes(), "Invalid UNITS: user unit 0.001, database unit 0 meter"},
      {negativeUnit.Bytes(), "Invalid UNITS: user unit -0.001, database unit 1e-09 meter"},
  };
  for (const Case& c : cases) {
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(c.bytes);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.unit, "GDSIN");
  }
}

TEST(GdsReader, SettingsRecordsUnitsAndTheWholeReport) {
  GdsBuilder b;
  b.Int16s(GdsRecord::Header, {600})
      .Int16s(GdsRecord::BgnLib, {2024, 1, 2, 3, 4, 5, 2024, 1, 2, 3, 4, 5})
      .String(GdsRecord::LibName, "MYLIB")
      .String(GdsRecord::RefLibs, std::string(90, 'r'))
      .String(GdsRecord::Fonts, std::string(176, 'f'))
      .String(GdsRecord::AttrTable, "attrs")
      .Int16s(GdsRecord::Generations, {3})
      .Int16s(GdsRecord::Format, {1})
      .String(GdsRecord::Mask, "1 2")
      .String(GdsRecord::Mask, "3")
      .Record(GdsRecord::EndMasks, 0)
      .Reals(GdsRecord::Units, {0.001, 1e-10})
      .BeginStr("LEAF")
      .Record(GdsRecord::StrClass, 2, {0, 0})
      .Rect(7, 1, 0, 0, 1000, 500)
      .EndStr()
      .BeginStr("TOP")
      .SRef("LEAF", {-1000, 0})
      .EndStr()
      .EndLib();
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.output,
            "DB unit=1.000000e-10 meter\n"
            "87% read\n"
            "\nDefined Layers:\n"
            "  7 1\n"
            "\nTotal 2 cells:\n"
            "  Total 2 cells newly defined\n"
            "  0 texts, 0 nodes, 0 boxes, 0 properties\n"
            "  1 boundary & 0 path geometries, 0 45, 0 arbitrary angles\n"
            "  1 single & 0 arrary references (0 duplicates), 0 magnifications\n"
            "Hierarchy depth = 1\n"
            "  Root TOP: (-100 0) - (0 50) nm\n");
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.Lib().libName, "MYLIB");
  EXPECT_DOUBLE_EQ(stored.Lib().meterPerUnit, 1e-10);
  EXPECT_EQ(stored.Lib().unitPerNm, 10.0);
  EXPECT_EQ(stored.Lib().version, 600);
  EXPECT_EQ(stored.CellNames(), (std::vector<std::string>{"LEAF", "TOP"}));
}

TEST(GdsReader, ForwardReferencesRedefinitionAndPrefix) {
  GdsBuilder b;
  b.BeginLib()
      .BeginStr("TOP").SRef("B", {0, 0}).SRef("A", {100, 0}).EndStr()
      .BeginStr("B").Rect(1, 0, 0, 0, 10, 10).EndStr()
      .BeginStr("A").Rect(1, 0, 0, 0, 10, 10).SRef("B", {50, 50}).EndStr()
      .BeginStr("A").Rect(2, 0, 0, 0, 30, 30).EndStr()  // replaces A
      .EndLib();
  GdsReadOptions o;
  o.prefix = "p_";
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(r.output.find("  Total 3 cells newly defined and 1 cells redefined\n"), std::string::npos)
      << r.output;
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.CellNames(), (std::vector<std::string>{"p_A", "p_B", "p_TOP"}));
  auto a = stored.Shapes("p_A");
  EXPECT_EQ(a.size(), 1u);
  EXPECT_EQ(a[Key(2, 0)], std::vector<Ring>{BoxRing(0, 0, 30, 30)});
  EXPECT_TRUE(stored.Placements("p_A").empty());
  EXPECT_TRUE(stored.Lib().FindCell("p_A")->flags & DBCell::Leaf);
  EXPECT_EQ(stored.Placements("p_TOP"),
            (std::vector<Placement>{{"p_A", 100, 0, 1.0f, 0}, {"p_B", 0, 0, 1.0f, 0}}));
  EXPECT_EQ(stored.Lib().FindCell("p_TOP")->box, Box(0, 0, 130, 30));
}

TEST(GdsReader, RedefinitionWithReferencesClearsTheLeafState) {
  GdsBuilder b;
  b.BeginLib()
      .BeginStr("C").Rect(1, 0, 0, 0, 10, 10).EndStr()
      .BeginStr("A").Rect(1, 0, 0, 0, 10, 10).EndStr()
      .BeginStr("A").SRef("C", {5, 5}).EndStr()
      .EndLib();
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_FALSE(stored.Lib().FindCell("A")->flags & DBCell::Leaf);
  EXPECT_EQ(stored.Placements("A"), (std::vector<Placement>{{"C", 5, 5, 1.0f, 0}}));
  EXPECT_TRUE(stored.Shapes("A").empty());
}

TEST(GdsReader, ReferenceCyclesAreRefused) {
  struct Case {
    GdsBuilder b;
  };
  GdsBuilder two, self;
  two.BeginLib()
      .BeginStr("A").Rect(1, 0, 0, 0, 5, 5).SRef("B", {0, 0}).EndStr()
      .BeginStr("B").SRef("A", {10, 0}).EndStr()
      .BeginStr("TOP").SRef("A", {0, 0}).EndStr()
      .EndLib();
  self.BeginLib().BeginStr("S").Rect(1, 0, 0, 0, 5, 5).SRef("S", {10, 0}).EndStr().EndLib();
  for (const GdsBuilder* b : {&two, &self}) {
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b->Bytes());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.unit, "GDSIN");
    EXPECT_TRUE(r.error == "Reference cycle: cell A is placed inside itself" ||
                r.error == "Reference cycle: cell B is placed inside itself" ||
                r.error == "Reference cycle: cell S is placed inside itself")
        << r.error;
    // The directory files are not written.
    EXPECT_FALSE(std::ifstream(lib.Dir() + "/names").good());
  }
}

TEST(GdsReader, MissingEndRecordsAtTheEndOfTheFile) {
  GdsBuilder b;
  b.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5).EndStr();
  {
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.output.find("Warning: Library End missing at the end of file\n"), std::string::npos);
  }
  GdsBuilder c;
  c.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5);
  {
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(c.Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.output.find("Warning: Structure End missing at the end of file\n"), std::string::npos);
    StoredLibrary stored(lib.Dir(), false);
    EXPECT_EQ(stored.Shapes("A")[Key(1, 0)], std::vector<Ring>{BoxRing(0, 0, 5, 5)});
  }
  // Missing records in the middle of the file stop the read.
  GdsBuilder d;
  d.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5).BeginStr("B").EndStr().EndLib();
  ScratchLibrary lib;
  EXPECT_EQ(lib.Read(d.Bytes()).error, "Structure End record missing");
}

TEST(GdsReader, GzipInputGivesTheSameLibraryAndProgress) {
  // Enough structures, with varied coordinates, for several progress steps.
  GdsBuilder b;
  b.BeginLib();
  uint32_t seed = 7;
  for (int s = 0; s < 600; ++s) {
    std::string name = "C";
    name += std::to_string(s);  // (operator+ trips a GCC 12 false warning)
    b.BeginStr(name);
    for (int k = 0; k < 20; ++k) {
      seed = seed * 1103515245u + 12345u;
      const int32_t x = int32_t(seed % 100000), y = int32_t((seed >> 8) % 100000);
      b.Rect(1, 0, x, y, x + 1 + int32_t(seed % 977), y + 1 + int32_t(seed % 531));
    }
    b.EndStr();
  }
  b.EndLib();
  GdsReadOptions plain, gz;
  gz.gzipInput = true;
  ScratchLibrary a, c;
  GdsReadResult ra = a.Read(b.Bytes(), plain);
  GdsReadResult rc = c.Read(b.Bytes(), gz);
  ASSERT_TRUE(ra.ok) << ra.error;
  ASSERT_TRUE(rc.ok) << rc.error;
  EXPECT_EQ(ra.boundaries, 12000);
  EXPECT_EQ(rc.boundaries, 12000);
  for (const GdsReadResult* r : {&ra, &rc}) {
    // Progress lines rise and stay below 99%.
    int last = -1, lines = 0;
    for (size_t at = r->output.find("% read\n"); at != std::string::npos;
         at = r->output.find("% read\n", at + 1)) {
      const size_t start = r->output.rfind('\n', at) + 1;
      const int v = std::stoi(r->output.substr(start, at - start));
      EXPECT_GT(v, last);
      EXPECT_LT(v, 99);
      last = v;
      ++lines;
    }
    EXPECT_GE(lines, 3) << r->output;
  }
  StoredLibrary sa(a.Dir(), false), sc(c.Dir(), false);
  for (const char* name : {"C0", "C299", "C599"}) {
    EXPECT_EQ(sa.Shapes(name), sc.Shapes(name));
  }
}

TEST(GdsReader, CompressedLibraryIsWrittenCompressed) {
  auto gds = OneCell([](GdsBuilder& b) { b.Rect(1, 0, 0, 0, 10, 10); });
  ScratchLibrary lib(/*gz=*/true);
  GdsReadResult r = lib.Read(gds);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(std::ifstream(lib.Dir() + "/db1.gz").good());
  StoredLibrary stored(lib.Dir(), true);
  EXPECT_EQ(stored.Shapes("TOP")[Key(1, 0)], std::vector<Ring>{BoxRing(0, 0, 10, 10)});
}

TEST(GdsReader, TwoReadsIntoOneLibraryUseTwoDataFiles) {
  ScratchLibrary lib;
  GdsBuilder one, two;
  one.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5).EndStr().EndLib();
  two.BeginLib().BeginStr("B").Rect(1, 0, 0, 0, 6, 6).SRef("A", {10, 0}).EndStr().EndLib();
  ASSERT_TRUE(lib.Read(one.Bytes()).ok);
  GdsReadResult r = lib.Read(two.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(lib.Lib().writeDb, 2);
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.Lib().FindCell("A")->dbFile, 1);
  EXPECT_EQ(stored.Lib().FindCell("B")->dbFile, 2);
  EXPECT_EQ(stored.Placements("B"), (std::vector<Placement>{{"A", 10, 0, 1.0f, 0}}));
  EXPECT_EQ(stored.Lib().FindCell("B")->box, Box(0, 0, 15, 6));
}

TEST(GdsReader, LongCellNamesAreKeptWhole) {
  // Names of any length a record can carry (here with a prefix) reach the
  // library's name table and its names file unchanged.
  const std::string leaf(40000, 'L');
  GdsBuilder b;
  b.BeginLib().BeginStr(leaf).Rect(1, 0, 0, 0, 5, 5).EndStr();
  b.BeginStr("TOP").SRef(leaf, {1, 2}).EndStr().EndLib();
  GdsReadOptions o;
  o.prefix = std::string(3000, 'p');
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.Placements(o.prefix + "TOP"),
            (std::vector<Placement>{{o.prefix + leaf, 1, 2, 1.0f, 0}}));
}

TEST(GdsReader, CellDataFileRollsOverPastItsSizeLimit) {
  GdsBuilder b;
  b.BeginLib()
      .BeginStr("A").Rect(1, 0, 0, 0, 5, 5).EndStr()
      .BeginStr("B").Rect(1, 0, 0, 0, 6, 6).SRef("A", {10, 0}).EndStr()
      .EndLib();
  struct Case {
    int64_t start;
    int fileOfA, fileOfB;
  } cases[] = {
      {999999995, 1, 2},  // A starts under the limit, B past it
      {1000000000, 2, 2},      // the first structure already rolls over
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    GdsReadOptions o;
    o.dataFileStart = c.start;
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes(), o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(lib.Lib().writeDb, 2);
    StoredLibrary stored(lib.Dir(), false);
    EXPECT_EQ(stored.Lib().FindCell("A")->dbFile, c.fileOfA);
    EXPECT_EQ(stored.Lib().FindCell("B")->dbFile, c.fileOfB);
    EXPECT_EQ(stored.Lib().FindCell("B")->startPos, c.fileOfA == 1 ? 0 : stored.Lib().FindCell("A")->endPos);
    EXPECT_EQ(stored.Shapes("A")[Key(1, 0)], std::vector<Ring>{BoxRing(0, 0, 5, 5)});
    EXPECT_EQ(stored.Placements("B"), (std::vector<Placement>{{"A", 10, 0, 1.0f, 0}}));
  }
}

// The roll-over target may already exist (cells of an earlier load): its
// bytes stay, and the new cells are appended behind them.
TEST(GdsReader, RollOverAppendsToAnExistingNextDataFile) {
  GdsBuilder b;
  b.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5).EndStr().EndLib();
  ScratchLibrary lib;
  const std::string earlier = "cells of an earlier load";
  {
    std::FILE* f = std::fopen((lib.Dir() + "/db2").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(earlier.data(), 1, earlier.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
  }
  GdsReadOptions o;
  o.dataFileStart = 1000000000;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  std::FILE* f = std::fopen((lib.Dir() + "/db2").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string head(earlier.size(), '\0');
  ASSERT_EQ(std::fread(head.data(), 1, head.size(), f), head.size());
  std::fclose(f);
  EXPECT_EQ(head, earlier);
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(stored.Lib().FindCell("A")->dbFile, 2);
  EXPECT_EQ(stored.Lib().FindCell("A")->startPos, int32_t(earlier.size()));
  EXPECT_EQ(stored.Shapes("A")[Key(1, 0)], std::vector<Ring>{BoxRing(0, 0, 5, 5)});
}

// --- Real files --------------------------------------------------------------------------

std::string TestData(const char* name) {
  return std::string(VELMAR_TESTDATA_DIR) + "/" + name;
}

// The shared test data lies beside the project, not in it: a bare clone
// has none, and the tests that read it are skipped there.
#define SKIP_WITHOUT_TESTDATA(file)                                          \
  if (!std::filesystem::exists(TestData(file)))                              \
  GTEST_SKIP() << "test data " << TestData(file)                             \
               << " is missing (the shared testdata folder is not beside "   \
                  "the project)"

// Files written by other tools; counts as the test data's description gives
// them (its "shapes" are boundaries and texts; its layers include text
// layers, which are not stored).
TEST(GdsReaderRealFiles, CellsAndShapesMatchTheDescription) {
  struct Case {
    const char* file;
    int cells;
    int roots;
    int boundaries;
    int texts;
    size_t maxLayers;  // 0: not described
    double unitPerNm;
    int duplicates;  // boundaries repeating another of their cell exactly
  } cases[] = {
      {"freepdk45_stdcells.gds", 135, 135, 7697, 1343, 10, 10.0, 0},
      {"sky130_fd_sc_hd__dfxtp_1.gds", 1, 1, 144, 10, 22, 1.0, 2},
      {"invalid_dates.gds", 1, 1, 104, 8, 13, 1.0, 2},
      {"proof_lib.gds", 6, 6, 146, 14, 0, 1000.0, 0},
      {"text_string_before_xy.gds", 1, 1, 261, 26, 0, 1.0, 2},
  };
  for (const Case& c : cases) SKIP_WITHOUT_TESTDATA(c.file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ScratchLibrary lib;
    GdsReadResult r = lib.ReadFile(TestData(c.file));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.boundaries, c.boundaries);
    EXPECT_EQ(r.texts, c.texts);
    EXPECT_EQ(r.paths + r.singleRefs + r.arrayRefs, 0);
    StoredLibrary stored(lib.Dir(), false);
    EXPECT_EQ(stored.CellNames().size(), size_t(c.cells));
    EXPECT_EQ(stored.Lib().roots.size(), size_t(c.roots));
    if (c.maxLayers) {
      EXPECT_LE(stored.Lib().layers.size(), c.maxLayers);
    }
    EXPECT_DOUBLE_EQ(stored.Lib().unitPerNm, c.unitPerNm);
    // Every stored shape reads back from the cell data, inside its cell's
    // box; a boundary repeated exactly in its cell is stored once.
    size_t rings = 0;
    for (const std::string& name : stored.CellNames()) {
      const Box box = stored.Lib().FindCell(name)->box;
      for (const auto& [key, list] : stored.Shapes(name)) {
        rings += list.size();
        for (const Ring& ring : list) {
          for (const Point& p : ring) {
            ASSERT_TRUE(p.x >= box.x1 && p.x <= box.x2 && p.y >= box.y1 && p.y <= box.y2);
          }
        }
      }
    }
    EXPECT_EQ(rings, size_t(c.boundaries - c.duplicates));
  }
}

TEST(GdsReaderRealFiles, ProofLibraryArbitraryAnglesAreReportedUnderTheLimit) {
  SKIP_WITHOUT_TESTDATA("proof_lib.gds");
  ScratchLibrary lib;
  GdsReadResult r = lib.ReadFile(TestData("proof_lib.gds"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.arbitrary, 138);
  EXPECT_EQ(Count(r.output, "  Arbitrary angle at "), 20);
  EXPECT_EQ(Count(r.output, "Same warning will not be shown any more\n"), 1);
  EXPECT_NE(r.output.find("  Detailed problem reports are limited to 20 cases\n"), std::string::npos);
}

}  // namespace
}  // namespace velmar
