// GDSII writer: element layouts checked record by record, read back by the
// system's reader and by gdspy; cutting of rings above the vertex limit
// checked against shoelace areas and rasterised coverage.

#include "formats/gds_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "foundation/error.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/path_outline.h"
#include "support/boolean_oracle.h"
#include "support/gds_builder.h"
#include "support/gdspy_oracle.h"
#include "support/ring_builders.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using test::GdsRecordBytes;
using test::ParseGdsRecords;
using test::ReadFileBytes;

// A library in memory with a child cell (box (0, 0, 10, 20)) and a top cell.
struct WriterFixture {
  test::TempDir temp;
  LibDB lib{"unused", 0};
  int32_t child = -1;
  WriterFixture() {
    lib.libName = "WLIB";
    child = lib.AddCell("child");
    lib.cells[size_t(child)]->box = Box(0, 0, 10, 20);
    lib.AddCell("top");
  }
  // Writes a file: head, body, ENDLIB; returns its bytes.
  std::vector<uint8_t> Write(const std::function<void(GdsWriter&)>& body,
                             const std::string& name = "out.gds") {
    test::StdoutCapture quiet;
    GdsWriter w(temp.File(name), false);
    w.WriteLibraryHead(&lib);
    body(w);
    w.WriteEndLibrary();
    w.Finish();
    return ReadFileBytes(temp.File(name));
  }
  // A child structure with its rectangle, then a top structure with body.
  std::vector<uint8_t> WriteTop(const std::function<void(GdsWriter&)>& body) {
    return Write([&](GdsWriter& w) {
      w.WriteCellHead(lib.cells[size_t(child)]);
      w.WriteRectangle(Box(0, 0, 10, 20), 1, 0);
      w.WriteEndStructure();
      w.WriteCellHead(lib.cells[1]);
      body(w);
      w.WriteEndStructure();
    });
  }
};

std::vector<GdsRecordBytes> OfType(const std::vector<GdsRecordBytes>& all, uint8_t type) {
  std::vector<GdsRecordBytes> out;
  for (const auto& r : all)
    if (r.type == type) out.push_back(r);
  return out;
}

// The records of the last structure.
std::vector<GdsRecordBytes> LastStructure(const std::vector<GdsRecordBytes>& all) {
  size_t at = 0;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].type == GdsRecord::BgnStr) at = i;
  return std::vector<GdsRecordBytes>(all.begin() + long(at), all.end());
}

// Record types from the first record of type `start` of the last structure
// to its ENDEL.
std::vector<int> ElementTypes(const std::vector<GdsRecordBytes>& all, uint8_t start) {
  std::vector<int> types;
  bool in = false;
  for (const auto& r : LastStructure(all)) {
    if (r.type == start) in = true;
    if (!in) continue;
    types.push_back(r.type);
    if (r.type == GdsRecord::EndEl) break;
  }
  return types;
}

using test::Orient;

// --- References -------------------------------------------------------------------

TEST(GdsWriterStrans, EightOrientationsWithAndWithoutMagnification) {
  static const double kAngle[8] = {0, 90, 180, 270, 180, 270, 0, 90};
  for (int o = 0; o < 8; ++o) {
    for (float mag : {1.0f, 2.0f}) {
      SCOPED_TRACE("orientation " + std::to_string(o) + " mag " + std::to_string(mag));
      WriterFixture f;
      auto bytes = f.WriteTop([&](GdsWriter& w) {
        w.WriteSRef(SRef(Trans(100, -200, mag, uint8_t(o)), f.child));
      });
      auto records = ParseGdsRecords(bytes);
      auto strans = OfType(records, GdsRecord::Strans);
      auto mags = OfType(records, GdsRecord::Mag);
      auto angles = OfType(records, GdsRecord::Angle);
      ASSERT_EQ(strans.size(), (o != 0 || mag != 1.0f) ? 1u : 0u);
      if (!strans.empty()) {
        EXPECT_EQ(uint16_t(strans[0].Int16(0)), o > 3 ? 0x8000 : 0);
      }
      ASSERT_EQ(mags.size(), mag != 1.0f ? 1u : 0u);
      if (!mags.empty()) {
        EXPECT_EQ(mags[0].Real(0), 2.0);
      }
      ASSERT_EQ(angles.size(), (o == 0 || o == 6) ? 0u : 1u);
      if (!angles.empty()) {
        EXPECT_EQ(angles[0].Real(0), kAngle[o]);
      }

      test::ScratchLibrary scratch;
      auto read = scratch.Read(bytes);
      ASSERT_TRUE(read.ok) << read.error;
      test::StoredLibrary stored(scratch.Dir(), false);
      auto placements = stored.Placements("top");
      ASSERT_EQ(placements.size(), 1u);
      EXPECT_EQ(placements[0].child, "child");
      EXPECT_EQ(placements[0].x, 100);
      EXPECT_EQ(placements[0].y, -200);
      EXPECT_EQ(placements[0].orientation, o);
      EXPECT_EQ(placements[0].mag, mag);
    }
  }
}

// Element (i, j) of an array by the placement rule: columns along x for
// even orientations, along y for odd ones.
std::vector<test::Placement> ExpectedElements(const ARef& a, const std::string& child) {
  std::vector<test::Placement> out;
  for (int i = 0; i < a.columns; ++i)
    for (int j = 0; j < a.rows; ++j) {
      test::Placement p;
      p.child = child;
      const bool odd = a.orientation & 1;
      p.x = int32_t(a.x + int64_t(odd ? j : i) * a.columnPitch);
      p.y = int32_t(a.y + int64_t(odd ? i : j) * a.rowPitch);
      p.orientation = a.orientation;
      p.mag = a.mag;
      out.push_back(p);
    }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(GdsWriterARef, ThePointsOfTheTwoWorkedExamples) {
  struct Case {
    uint8_t orientation;
    std::vector<Point> points;
  };
  for (const Case& c : {Case{0, {{0, 0}, {300, 0}, {0, 100}}},
                        Case{1, {{0, 0}, {0, 150}, {200, 0}}}}) {
    WriterFixture f;
    auto bytes = f.WriteTop([&](GdsWriter& w) {
      w.WriteARef(ARef(Trans(0, 0, 1.0f, c.orientation), f.child, 3, 2, 100, 50));
    });
    auto records = ParseGdsRecords(bytes);
    auto colrow = OfType(records, GdsRecord::ColRow);
    ASSERT_EQ(colrow.size(), 1u);
    EXPECT_EQ(colrow[0].Int16(0), 3);
    EXPECT_EQ(colrow[0].Int16(1), 2);
    auto xy = OfType(records, GdsRecord::XY).back();
    ASSERT_EQ(xy.payload.size(), 24u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(xy.Int32(2 * k), c.points[k].x);
      EXPECT_EQ(xy.Int32(2 * k + 1), c.points[k].y);
    }
  }
}

TEST(GdsWriterARef, ReadBackGivesTheSameElementsInEveryOrientationAndPitchSign) {
  const std::vector<std::pair<int32_t, int32_t>> pitches = {
      {100, 50}, {-100, 50}, {100, -50}, {-100, -50}, {0, 70}, {90, 0}};
  for (int o = 0; o < 8; ++o) {
    for (auto [cp, rp] : pitches) {
      SCOPED_TRACE("orientation " + std::to_string(o) + " pitches " +
                   std::to_string(cp) + " " + std::to_string(rp));
      WriterFixture f;
      const ARef array(Trans(1000, -2000, o % 3 == 0 ? 2.0f : 1.0f, uint8_t(o)),
                       f.child, 3, 2, cp, rp);
      auto bytes = f.WriteTop([&](GdsWriter& w) { w.WriteARef(array); });
      test::ScratchLibrary scratch;
      auto read = scratch.Read(bytes);
      ASSERT_TRUE(read.ok) << read.error;
      test::StoredLibrary stored(scratch.Dir(), false);
      EXPECT_EQ(stored.Placements("top"), ExpectedElements(array, "child"));
      auto refs = stored.References("top");
      ASSERT_EQ(refs.size(), 1u);
      // A row of one pitch 0 leaves the axis open; the elements decide.
      if (cp != 0 && rp != 0) {
        EXPECT_TRUE(refs[0].array);
        EXPECT_EQ(refs[0].columns, 3);
        EXPECT_EQ(refs[0].rows, 2);
        EXPECT_EQ(refs[0].columnPitch, cp);
        EXPECT_EQ(refs[0].rowPitch, rp);
      }
    }
  }
}

TEST(GdsWriterARef, AFarPointBeyondTheCoordinateRangeIsRefused) {
  WriterFixture f;
  test::StdoutCapture quiet;
  GdsWriter w(f.temp.File("far.gds"), false);
  w.WriteLibraryHead(&f.lib);
  try {
    w.WriteARef(ARef(Trans(INT32_MAX - 100, 0), f.child, 3, 1, 1000, 0));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "GDSOUT");
  }
}

// gdspy flattens the references and arrays written for every orientation,
// magnification and pitch sign; each placed rectangle must lie where the
// placement rule puts it.
TEST(GdsWriterARef, GdspyPlacesEveryElementWhereTheRuleDoes) {
  VELMAR_REQUIRE_GDSPY();
  WriterFixture f;
  std::vector<SRef> singles;
  std::vector<ARef> arrays;
  for (int o = 0; o < 8; ++o) {
    const float mag = o % 2 == 0 ? 1.0f : 2.0f;
    singles.emplace_back(Trans(10000 * o, 0, mag, uint8_t(o)), f.child);
    arrays.emplace_back(Trans(10000 * o, 50000, mag, uint8_t(o)), f.child, 3, 2,
                        o % 2 ? -100 : 100, o < 4 ? 60 : -60);
  }
  auto bytes = f.WriteTop([&](GdsWriter& w) {
    for (const SRef& s : singles) w.WriteSRef(s);
    for (const ARef& a : arrays) w.WriteARef(a);
  });
  std::multiset<std::string> expected;
  auto add = [&](const Trans& t) {
    const double m = t.mag;
    Point a = Orient(t.orientation, int64_t(0 * m), int64_t(0 * m));
    Point b = Orient(t.orientation, int64_t(10 * m), int64_t(20 * m));
    std::ostringstream s;
    s << std::min(a.x, b.x) + t.x << " " << std::min(a.y, b.y) + t.y << " "
      << std::max(a.x, b.x) + t.x << " " << std::max(a.y, b.y) + t.y;
    expected.insert(s.str());
  };
  for (const SRef& s : singles) add(s);
  for (const ARef& a : arrays)
    for (const auto& p : ExpectedElements(a, "child"))
      add(Trans(p.x, p.y, p.mag, uint8_t(p.orientation)));
  test::WriteBytes(f.temp.File("in.gds"), bytes);
  bool ok = false;
  const std::string out = test::RunGdspy(f.temp.File("boxes.py"), R"(
import sys, gdspy
lib = gdspy.GdsLibrary(infile=sys.argv[1])
top = lib.cell_dict['top']
for poly in top.get_polygons():
    xs = [round(p[0] / 1e-3) for p in poly]
    ys = [round(p[1] / 1e-3) for p in poly]
    print(min(xs), min(ys), max(xs), max(ys))
)", f.temp.File("in.gds"), ok);
  ASSERT_TRUE(ok) << out;
  std::multiset<std::string> got;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) got.insert(line);
  EXPECT_EQ(got, expected);
}

// --- Library head, scale, texts, boxes, paths -------------------------------------

TEST(GdsWriterHead, OddLibraryNameGetsOnePadByte) {
  WriterFixture f;
  f.lib.libName = "ABC";
  auto records = ParseGdsRecords(f.Write([](GdsWriter&) {}));
  auto name = OfType(records, GdsRecord::LibName);
  ASSERT_EQ(name.size(), 1u);
  EXPECT_EQ(name[0].length, 3 + 5);
  EXPECT_EQ(name[0].payload, (std::vector<uint8_t>{'A', 'B', 'C', 0}));
  // HEADER, BGNLIB, LIBNAME, UNITS, ENDLIB.
  std::vector<int> types;
  for (const auto& r : records) types.push_back(r.type);
  EXPECT_EQ(types, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(GdsWriterHead, UnitsTakeTheFileUserUnitOrAMicron) {
  struct Case {
    bool fromGds;
    double user, meters, expectedUser;
  };
  for (const Case& c : {Case{true, 0.5, 1e-9, 0.5}, Case{false, 0.5, 1e-9, 1e-3},
                        Case{false, 0.001, 1e-10, 1e-4}}) {
    WriterFixture f;
    f.lib.userUnitFromGds = c.fromGds;
    f.lib.userUnit = c.user;
    f.lib.meterPerUnit = c.meters;
    auto units = OfType(ParseGdsRecords(f.Write([](GdsWriter&) {})), GdsRecord::Units);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_DOUBLE_EQ(units[0].Real(0), c.expectedUser);
    EXPECT_DOUBLE_EQ(units[0].Real(1), c.meters);
  }
}

TEST(GdsWriterScale, HalfScaleRoundsHalfUpAndOverflowIsRefused) {
  WriterFixture f;
  f.lib.outScale = 0.5;
  auto xy = OfType(ParseGdsRecords(f.Write([](GdsWriter& w) {
                     w.WriteRectangle(Box(-3, -3, 3, 3), 1, 0);
                   })),
                   GdsRecord::XY);
  ASSERT_EQ(xy.size(), 1u);
  EXPECT_EQ(xy[0].Int32(0), -1);  // floor(-1.5 + 0.5)
  EXPECT_EQ(xy[0].Int32(2), 2);   // floor(1.5 + 0.5)

  struct Bad {
    double scale;
    Box box;
  };
  for (const Bad& b : {Bad{2.0, Box(0, 0, 2000000000, 10)}, Bad{0.0, Box(0, 0, 1, 1)},
                       Bad{-1.0, Box(0, 0, 1, 1)}, Bad{NAN, Box(0, 0, 1, 1)},
                       Bad{INFINITY, Box(0, 0, 1, 1)}}) {
    WriterFixture g;
    g.lib.outScale = b.scale;
    EXPECT_THROW(g.Write([&](GdsWriter& w) { w.WriteRectangle(b.box, 1, 0); }), Error)
        << b.scale;
    EXPECT_FALSE(g.temp.Exists("out.gds"));
  }
}

TEST(GdsWriterElements, TextBoxPathAndRectangleRecords) {
  GdsText text;
  text.trans = Trans(5, 6, 1.0f, 1);
  text.layer = 3;
  text.textType = 4;
  text.text = "ABC";
  text.presentation = 5;
  text.width = 7;
  GdsText plain;
  plain.trans = Trans(1, 2);
  plain.layer = 3;
  plain.text = "AB";
  Path path;
  path.points = {{0, 0}, {100, 0}, {100, 50}};
  path.width = 20;
  path.pathType = 3;
  path.beginExtension = 5;
  path.endExtension = -7;
  Path flush;
  flush.points = {{0, 0}, {10, 0}};
  using R = std::vector<int>;
  namespace G = GdsRecord;
  struct Case {
    const char* name;
    std::function<void(GdsWriter&)> write;
    uint8_t start;
    R types;
    std::vector<int32_t> xy;
  };
  const std::vector<Case> cases = {
      {"text", [&](GdsWriter& w) { w.WriteText(text); }, G::Text,
       R{G::Text, G::Layer, G::TextType, G::Presentation, G::Width, G::Strans, G::Angle,
         G::XY, G::String, G::EndEl},
       {5, 6}},
      {"plain text", [&](GdsWriter& w) { w.WriteText(plain); }, G::Text,
       R{G::Text, G::Layer, G::TextType, G::XY, G::String, G::EndEl}, {1, 2}},
      {"box", [&](GdsWriter& w) { w.WriteBox(Box(1, 2, 3, 4), 5, 6); }, G::Box,
       R{G::Box, G::Layer, G::BoxType, G::XY, G::EndEl}, {1, 2, 3, 2, 3, 4, 1, 4, 1, 2}},
      {"rectangle", [&](GdsWriter& w) { w.WriteRectangle(Box(1, 2, 3, 4), 5, 6); },
       G::Boundary, R{G::Boundary, G::Layer, G::Datatype, G::XY, G::EndEl},
       {1, 2, 3, 2, 3, 4, 1, 4, 1, 2}},
      {"extended path", [&](GdsWriter& w) { w.WritePath(path, 2, 1); }, G::Path,
       R{G::Path, G::Layer, G::Datatype, G::PathType, G::Width, G::BgnExtn, G::EndExtn,
         G::XY, G::EndEl},
       {0, 0, 100, 0, 100, 50}},
      {"flush path", [&](GdsWriter& w) { w.WritePath(flush, 2, 1); }, G::Path,
       R{G::Path, G::Layer, G::Datatype, G::XY, G::EndEl}, {0, 0, 10, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriterFixture f;
    auto records = LastStructure(ParseGdsRecords(f.WriteTop(c.write)));
    EXPECT_EQ(ElementTypes(records, c.start), c.types);
    std::vector<int32_t> xy;
    bool in = false;
    for (const auto& r : records) {
      if (r.type == c.start) in = true;
      if (in && r.type == GdsRecord::XY) {
        for (size_t k = 0; k < r.payload.size() / 4; ++k) xy.push_back(r.Int32(k));
        break;
      }
    }
    EXPECT_EQ(xy, c.xy);
    for (const auto& r : records) {
      if (r.type == GdsRecord::PathType && c.start == G::Path) {
        EXPECT_EQ(r.Int16(0), 4);
      } else if (r.type == GdsRecord::BgnExtn) {
        EXPECT_EQ(r.Int32(0), 5);
      } else if (r.type == GdsRecord::EndExtn) {
        EXPECT_EQ(r.Int32(0), -7);
      } else if (r.type == GdsRecord::String) {
        EXPECT_EQ(r.String(), c.types.size() > 6 ? "ABC" : "AB");
      }
    }
    // The system's reader takes every one of these files.
    test::ScratchLibrary scratch;
    auto read = scratch.Read(f.WriteTop(c.write));
    EXPECT_TRUE(read.ok) << read.error;
  }
}

// gdspy reads the type-4 path with its explicit extensions.
TEST(GdsWriterElements, GdspyReadsTheExtendedPath) {
  VELMAR_REQUIRE_GDSPY();
  WriterFixture f;
  Path path;
  path.points = {{0, 0}, {100, 0}};
  path.width = 20;
  path.pathType = 3;
  path.beginExtension = 5;
  path.endExtension = 7;
  test::WriteBytes(f.temp.File("p.gds"), f.WriteTop([&](GdsWriter& w) { w.WritePath(path, 2, 1); }));
  bool ok = false;
  const std::string out = test::RunGdspy(f.temp.File("path.py"), R"(
import sys, gdspy
lib = gdspy.GdsLibrary(infile=sys.argv[1])
for (layer, dt), polys in lib.cell_dict['top'].get_polygons(by_spec=True).items():
    for poly in polys:
        xs = [round(p[0] / 1e-3) for p in poly]
        ys = [round(p[1] / 1e-3) for p in poly]
        print(layer, dt, min(xs), min(ys), max(xs), max(ys))
)", f.temp.File("p.gds"), ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, "2 1 -5 -10 107 10\n");
}

// --- Vertex limit and cutting ------------------------------------------------------

TEST(GdsWriterLimit, LimitsOutsideTheRecordRangeAreClamped) {
  struct Case {
    int32_t asked, taken;
    bool warned;
  };
  for (const Case& c : {Case{4096, 4096, false}, Case{8190, 8190, false},
                        Case{8191, 8190, true}, Case{100000, 8190, true},
                        Case{4, 4, false}, Case{3, 4, true}, Case{-5, 4, true}}) {
    WriterFixture f;
    test::StdoutCapture capture;
    GdsWriter w(f.temp.File("l.gds"), false);
    w.SetVertexLimit(c.asked);
    const std::string out = capture.Stop();
    EXPECT_EQ(w.VertexLimit(), c.taken) << c.asked;
    EXPECT_EQ(!out.empty(), c.warned) << out;
  }
}

using ring_test::Comb;
using ring_test::Star;

std::vector<test::Ring> Boundaries(const std::vector<GdsRecordBytes>& records) {
  std::vector<test::Ring> rings;
  bool in = false;
  for (const auto& r : records) {
    if (r.type == GdsRecord::Boundary) in = true;
    if (in && r.type == GdsRecord::XY) {
      test::Ring ring;
      const size_t n = r.payload.size() / 8;
      for (size_t k = 0; k + 1 < n; ++k) ring.push_back({r.Int32(2 * k), r.Int32(2 * k + 1)});
      EXPECT_EQ(r.Int32(2 * (n - 1)), ring.front().x);
      EXPECT_EQ(r.Int32(2 * (n - 1) + 1), ring.front().y);
      rings.push_back(ring);
      in = false;
    }
  }
  return rings;
}

// Winding number of a ring at a point with half-unit coordinates (x2 / 2).
int Winding2(const test::Ring& ring, int64_t x2, int64_t y2) {
  return oracle::Winding(ring, x2, y2);
}

TEST(GdsWriterCutting, LargeRingsAreCutIntoDisjointPiecesCoveringTheOriginal) {
  struct Case {
    const char* name;
    test::Ring ring;
    int32_t limit;
    bool manhattan;
  };
  const test::Ring comb = Comb(1249);  // 5,000 vertices
  const test::Ring star = Star(20000, 1000000);
  ASSERT_EQ(comb.size(), 5000u);
  const std::vector<Case> cases = {{"comb 4096", comb, 4096, true},
                                   {"comb 8190", comb, 8190, true},
                                   {"star 4096", star, 4096, false},
                                   {"star 8190", star, 8190, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriterFixture f;
    std::vector<uint8_t> bytes;
    {
      ScratchList list;
      ring_test::AppendRing(list.list, c.ring);
      bytes = f.Write([&](GdsWriter& w) {
        w.SetVertexLimit(c.limit);
        w.WriteBoundary(list.list, 1, 0);
      });
    }
    const auto pieces = Boundaries(ParseGdsRecords(bytes));
    if (c.ring.size() > size_t(c.limit))
      ASSERT_GT(pieces.size(), 1u);
    else
      ASSERT_EQ(pieces.size(), 1u);
    int64_t sum = 0;
    for (const auto& p : pieces) {
      EXPECT_LE(p.size(), size_t(c.limit));
      EXPECT_GT(test::TwiceArea(p), 0);
      sum += test::TwiceArea(p);
    }
    const int64_t original = std::llabs(test::TwiceArea(c.ring));
    if (c.manhattan)
      EXPECT_EQ(sum, original);
    else  // cut points rounded to the grid: under a unit per crossing
      EXPECT_NEAR(double(sum), double(original), 1e-5 * double(original));
    // Rasterised: every sample point is covered by exactly as many pieces
    // as the original ring covers it (0 or 1): disjoint and complete.
    Box b;
    for (const auto& pt : c.ring) b.Extend(pt.x, pt.y);
    int mismatches = 0;
    const int kSteps = 150;
    for (int i = 0; i < kSteps; ++i)
      for (int j = 0; j < kSteps; ++j) {
        const int64_t x2 = 2 * (b.x1 + (int64_t(b.x2) - b.x1) * i / kSteps) + 1;
        const int64_t y2 = 2 * (b.y1 + (int64_t(b.y2) - b.y1) * j / kSteps) + 1;
        const int want = Winding2(c.ring, x2, y2) != 0 ? 1 : 0;
        int got = 0;
        for (const auto& p : pieces) got += Winding2(p, x2, y2);
        if (got != want) ++mismatches;
      }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(GdsWriterCutting, APolygonThatCannotBeCutIsAnErrorNotAHang) {
  WriterFixture f;
  ScratchList list;
  ring_test::AppendRing(list.list, Star(2000, 500));
  try {
    f.Write([&](GdsWriter& w) {
      w.SetVertexLimit(4);
      w.WriteBoundary(list.list, 1, 0);
    });
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "GDSOUT");
    EXPECT_NE(std::string(e.Message()).find("2000 vertices"), std::string::npos)
        << e.Message();
  }
  EXPECT_TRUE(f.temp.Entries().empty());
}

TEST(GdsWriterBoundary, ShortRingsAndOpenChainsAreLeftOut) {
  WriterFixture f;
  ScratchList list;
  ring_test::AppendRing(list.list, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  ring_test::AppendRing(list.list, {{20, 0}, {30, 0}});  // two vertices
  PSPoint* a = PushPoint(list.list, 50, 0);          // an open chain
  PSPoint* b = PushPoint(list.list, 60, 0);
  LinkPoints(a, b);
  ring_test::AppendRing(list.list, {{100, 0}, {110, 0}, {100, 10}});
  auto pieces = Boundaries(ParseGdsRecords(f.Write([&](GdsWriter& w) {
    w.WriteBoundary(list.list, 1, 0);
  })));
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].size(), 4u);
  EXPECT_EQ(pieces[1].size(), 3u);
  for (PSPoint* p = list.list.head; p != nullptr; p = p->link) EXPECT_EQ(p->flags, 0);
}

}  // namespace
}  // namespace velmar
