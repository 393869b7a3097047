// OASIS reader: files spelled out byte by byte (support/oasis_builder.h,
// independent of the writer) read into a scratch library; shapes and
// placements are read back from the stored library and compared with
// rings and offsets worked out from the record definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "formats/oasis_read_helpers.h"
#include "support/oasis_builder.h"
#include "support/temp_dir.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

#ifndef VELMAR_TESTDATA_DIR
#define VELMAR_TESTDATA_DIR "../shared/testdata"
#endif

namespace velmar {
namespace {

using test::BoxRing;
using test::Canonical;
using test::OasisBuilder;
using test::OasisReadOptions;
using test::OasisReadResult;
using test::Placement;
using test::Ring;
using test::StoredLibrary;
using test::TempDir;

// Record ids.
enum : uint64_t {
  kEnd = 2, kCellName = 3, kCellNameX = 4, kTextString = 5, kPropName = 7,
  kPropNameX = 8, kLayerName = 11, kCell = 13, kCellByName = 14, kXyRelative = 16,
  kPlacement = 17, kPlacementMag = 18, kText = 19, kRect = 20, kPoly = 21, kPath = 22,
  kTrap = 23, kTrapA = 24, kCTrap = 26, kCircle = 27, kProperty = 28, kCBlock = 34,
};

// A scratch library directory.
struct Scratch {
  TempDir temp;
  std::string dir;
  std::unique_ptr<LibDB> lib;
  Scratch() {
    dir = temp.File("lib");
    std::filesystem::create_directory(dir);
    lib = std::make_unique<LibDB>(dir.c_str(), 0);
  }
  OasisReadResult Read(const OasisBuilder& b, const OasisReadOptions& o = {}) {
    return test::ReadOasisInto(*lib, temp.path(), b.Bytes(), o);
  }
  StoredLibrary Stored() { return StoredLibrary(dir, false); }
  std::string File(const std::string& name) const {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// Magic and START (unit 1000 per micron, table offsets in END).
OasisBuilder Head() {
  OasisBuilder b;
  b.Magic().Start(1000);
  return b;
}

// A file with one cell "TOP" (CELLNAME 0 then CELL 0) whose body the caller
// writes.
OasisBuilder OneCell(const std::function<void(OasisBuilder&)>& body) {
  OasisBuilder b = Head();
  b.Record(kCellName).Str("TOP");
  b.Record(kCell).U(0);
  body(b);
  b.End();
  return b;
}

// RECTANGLE with every field: layer, datatype, width, height, x, y.
void Rect(OasisBuilder& b, int layer, int datatype, int64_t w, int64_t h, int64_t x, int64_t y) {
  b.Record(kRect).Byte(0x7b).U(layer).U(datatype).U(w).U(h).S(x).S(y);
}

// A file with cell "A" (CELLNAME 0) holding a 5 x 5 square on layer 1 at the
// origin, then cell "TOP" (CELLNAME 1) opened for the placements the caller
// writes.
OasisBuilder SquareCellAndTop() {
  OasisBuilder b = Head();
  b.Record(kCellName).Str("A").Record(kCellName).Str("TOP");
  b.Record(kCell).U(0);
  Rect(b, 1, 0, 5, 5, 0, 0);
  b.Record(kCell).U(1);
  return b;
}

std::vector<Ring> Rings(StoredLibrary& s, const std::string& cell, int32_t key) {
  auto shapes = s.Shapes(cell);
  return shapes.count(key) ? shapes[key] : std::vector<Ring>{};
}

std::vector<Ring> Sorted(std::vector<Ring> rings) {
  for (Ring& r : rings) r = Canonical(r);
  std::sort(rings.begin(), rings.end(), [](const Ring& a, const Ring& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const Point& u, const Point& v) { return u.x != v.x ? u.x < v.x : u.y < v.y; });
  });
  return rings;
}

// --- File frame ----------------------------------------------------------------------

TEST(OasisReader, EmptyFileAddsNothingAndReportsZeroCounts) {
  Scratch s;
  OasisBuilder b = Head();
  b.End();
  const OasisReadResult r = s.Read(b);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(r.output.find("DB unit=1.000000e-09 meter\n"), std::string::npos);
  EXPECT_NE(r.output.find("  0 polygon, 0 path, 0 box, 0 trapezoid, 0 45, 0 arbitrary angles\n"),
            std::string::npos);
  EXPECT_EQ(s.lib->cells.size(), 0u);
  EXPECT_EQ(s.lib->unitPerNm, 1.0);
}

// A real file written by another tool: one path of half-width 5, flush
// ends, from (0, 0) to (1, 0) on layer 31/0 in cell "smallpath" (decoded by
// hand from its bytes).
TEST(OasisReader, MinLengthPathFromAnotherTool) {
  const std::string path = std::string(VELMAR_TESTDATA_DIR) + "/min_length_path.oas";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "test data missing: " << path;
  Scratch s;
  const OasisReadResult r = test::ReadOasisFileInto(*s.lib, path);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  EXPECT_EQ(st.CellNames(), std::vector<std::string>{"smallpath"});
  EXPECT_EQ(Rings(st, "smallpath", 31 * 256), std::vector<Ring>{BoxRing(0, -5, 1, 5)});
  EXPECT_EQ(r.counters.paths, 1);
}

// --- Geometry records ------------------------------------------------------------------

struct ShapeCase {
  const char* name;
  std::function<void(OasisBuilder&)> body;
  std::vector<Ring> expected;  // on layer 1/0
};

TEST(OasisReader, GeometryRecordsGiveTheirRings) {
  const std::vector<ShapeCase> cases = {
      {"square then modal repeat",
       [](OasisBuilder& b) {
         b.Record(kRect).Byte(0xdb).U(1).U(0).U(100).S(10).S(20);  // S W X Y D L
         b.Record(kRect).Byte(0x10).S(200);                          // X only
       },
       {BoxRing(10, 20, 110, 120), BoxRing(200, 20, 300, 120)}},
      {"polygon type 0 (L shape)",
       [](OasisBuilder& b) {
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(0).U(4).S(100).S(50).S(-50).S(50).S(0).S(0);
       },
       {Canonical({{0, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}, {0, 100}})}},
      {"polygon type 1 and type 3 (45 degrees)",
       [](OasisBuilder& b) {
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(1).U(2).S(30).S(40).S(0).S(0);
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(3).U(2).Delta3(0, 100).Delta3(5, 50).S(500).S(0);
       },
       {BoxRing(0, 0, 40, 30), Canonical({{500, 0}, {600, 0}, {550, 50}})}},
      {"polygon g-deltas type 4 and 5",
       [](OasisBuilder& b) {
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(4).U(2).DeltaGFree(100, 10).DeltaGFree(-30, 70)
             .S(0).S(0);
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(5).U(2).DeltaGOctant(0, 10).DeltaGOctant(1, 10)
             .S(1000).S(0);
       },
       {Canonical({{0, 0}, {100, 10}, {70, 80}}), Canonical({{1000, 0}, {1010, 0}, {1020, 10}})}},
      {"path flush, half-width ends, explicit ends",
       [](OasisBuilder& b) {
         // E W P X Y D L: half-width 5, scheme 0x5, points (0,0) (100,0).
         b.Record(kPath).Byte(0xfb).U(1).U(0).U(5).U(0x5).U(0).U(1).S(100).S(0).S(0);
         b.Record(kPath).Byte(0x88).U(0xa).S(100);  // E Y: half-width ends
         b.Record(kPath).Byte(0x88).U(0xf).S(3).S(7).S(200);
         b.Record(kPath).Byte(0x88).U(0x0).S(300);  // scheme 00: the values in force
       },
       {BoxRing(0, -5, 100, 5), BoxRing(-5, 95, 105, 105), BoxRing(-3, 195, 107, 205),
        BoxRing(-3, 295, 107, 305)}},
      {"trapezoids horizontal and vertical",
       [](OasisBuilder& b) {
         b.Record(kTrapA).Byte(0x7b).U(1).U(0).U(100).U(50).S(20).S(0).S(0);
         b.Record(kTrap).Byte(0xe8).U(100).U(200).S(10).S(-20).S(1000);  // O W H Y
       },
       {Canonical({{0, 0}, {100, 0}, {100, 50}, {20, 50}}),
        Canonical({{0, 1010}, {100, 1000}, {100, 1200}, {0, 1180}})}},
      {"ctrapezoids 16, 20 and 0",
       [](OasisBuilder& b) {
         b.Record(kCTrap).Byte(0xdb).U(1).U(0).U(16).U(10).S(0).S(0);      // T W X Y
         b.Record(kCTrap).Byte(0xbb).U(1).U(0).U(20).U(100).S(100).S(0);   // T H X Y
         b.Record(kCTrap).Byte(0xfb).U(1).U(0).U(0).U(1000).U(300).S(0).S(500);
       },
       {Canonical({{0, 0}, {10, 0}, {0, 10}}), Canonical({{100, 0}, {300, 0}, {200, 100}}),
        Canonical({{0, 500}, {1000, 500}, {700, 800}, {0, 800}})}},
      {"relative mode",
       [](OasisBuilder& b) {
         b.Record(kXyRelative);
         Rect(b, 1, 0, 10, 10, 100, 100);
         b.Record(kRect).Byte(0x18).S(50).S(-20);  // moved by (50, -20)
       },
       {BoxRing(100, 100, 110, 110), BoxRing(150, 80, 160, 90)}},
      {"polygon and path keep separate point lists and half-width",
       [](OasisBuilder& b) {
         b.Record(kPoly).Byte(0x3b).U(1).U(0).U(0).U(2).S(10).S(10).S(0).S(100);
         b.Record(kPath).Byte(0xfb).U(1).U(0).U(2).U(0x5).U(0).U(1).S(40).S(0).S(100);
         b.Record(kPoly).Byte(0x10).S(500);  // the polygon's list again
         b.Record(kPath).Byte(0x10).S(600);  // the path's list and half-width
       },
       {BoxRing(0, 100, 10, 110), BoxRing(0, 98, 40, 102), BoxRing(500, 100, 510, 110),
        BoxRing(600, 98, 640, 102)}},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch s;
    const OasisReadResult r = s.Read(OneCell(c.body));
    ASSERT_TRUE(r.ok) << r.error;
    StoredLibrary st = s.Stored();
    EXPECT_EQ(Rings(st, "TOP", 256), Sorted(c.expected));
  }
}

TEST(OasisReader, CircleHasThirtyTwoVerticesOnItsAxes) {
  Scratch s;
  const OasisReadResult r = s.Read(OneCell([](OasisBuilder& b) {
    b.Record(kCircle).Byte(0x3b).U(1).U(0).U(100).S(0).S(0);
  }));
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  const std::vector<Ring> rings = Rings(st, "TOP", 256);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(rings[0].size(), 32u);
  for (Point p : {Point{100, 0}, Point{0, 100}, Point{-100, 0}, Point{0, -100}}) {
    EXPECT_NE(std::find(rings[0].begin(), rings[0].end(), p), rings[0].end());
  }
  EXPECT_EQ(r.counters.circles, 1);
  EXPECT_EQ(r.counters.polygons, 0);
}

// --- Repetitions -------------------------------------------------------------------------

struct RepetitionCase {
  const char* name;
  std::function<void(OasisBuilder&)> repetition;
  std::vector<Point> offsets;  // every instance, from the definition
};

std::vector<RepetitionCase> RepetitionCases() {
  return {
      {"1 matrix", [](OasisBuilder& b) { b.U(1).U(0).U(1).U(30).U(40); },
       {{0, 0}, {0, 40}, {0, 80}, {30, 0}, {30, 40}, {30, 80}}},
      {"2 row", [](OasisBuilder& b) { b.U(2).U(1).U(50); }, {{0, 0}, {50, 0}, {100, 0}}},
      {"3 column", [](OasisBuilder& b) { b.U(3).U(0).U(25); }, {{0, 0}, {0, 25}}},
      {"4 x spacings", [](OasisBuilder& b) { b.U(4).U(1).U(10).U(30); },
       {{0, 0}, {10, 0}, {40, 0}}},
      {"5 x spacings on a grid", [](OasisBuilder& b) { b.U(5).U(0).U(5).U(3); },
       {{0, 0}, {15, 0}}},
      {"6 y spacings", [](OasisBuilder& b) { b.U(6).U(0).U(70); }, {{0, 0}, {0, 70}}},
      {"7 y spacings on a grid", [](OasisBuilder& b) { b.U(7).U(1).U(10).U(1).U(2); },
       {{0, 0}, {0, 10}, {0, 30}}},
      {"8 two displacements",
       [](OasisBuilder& b) { b.U(8).U(0).U(0).DeltaGFree(100, 10).DeltaGFree(-5, 60); },
       {{0, 0}, {-5, 60}, {100, 10}, {95, 70}}},
      {"9 one displacement", [](OasisBuilder& b) { b.U(9).U(1).DeltaGOctant(4, 10); },
       {{0, 0}, {10, 10}, {20, 20}}},
      {"10 g-deltas",
       [](OasisBuilder& b) { b.U(10).U(1).DeltaGFree(7, 3).DeltaGOctant(2, 20); },
       {{0, 0}, {7, 3}, {-13, 3}}},
      {"11 g-deltas on a grid",
       [](OasisBuilder& b) { b.U(11).U(0).U(4).DeltaGOctant(3, 5); }, {{0, 0}, {0, -20}}},
  };
}

TEST(OasisReader, EveryRepetitionTypeOnShapes) {
  for (const RepetitionCase& c : RepetitionCases()) {
    SCOPED_TRACE(c.name);
    Scratch s;
    const OasisReadResult r = s.Read(OneCell([&](OasisBuilder& b) {
      b.Record(kRect).Byte(0x7f).U(1).U(0).U(5).U(5).S(1000).S(2000);  // with R
      c.repetition(b);
      // Repetition 0: the same instances again, on layer 2.
      b.Record(kRect).Byte(0x07).U(2).U(0).U(0);
    }));
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<Ring> expected;
    for (Point o : c.offsets) {
      expected.push_back(BoxRing(1000 + o.x, 2000 + o.y, 1005 + o.x, 2005 + o.y));
    }
    StoredLibrary st = s.Stored();
    EXPECT_EQ(Rings(st, "TOP", 256), Sorted(expected));
    EXPECT_EQ(Rings(st, "TOP", 512), Sorted(expected));
    EXPECT_EQ(r.counters.boxes, int(2 * c.offsets.size()));
  }
}

TEST(OasisReader, EveryRepetitionTypeOnPlacements) {
  for (const RepetitionCase& c : RepetitionCases()) {
    for (int flip = 0; flip < 2; ++flip) {
      SCOPED_TRACE(std::string(c.name) + (flip ? " flipped at 90" : ""));
      Scratch s;
      OasisBuilder b = SquareCellAndTop();
      // C N X Y R, AA 1 (90 degrees) with F when flipped.
      b.Record(kPlacement).Byte(uint8_t(0xfa | flip)).U(0).S(-300).S(400);
      c.repetition(b);
      b.End();
      const OasisReadResult r = s.Read(b);
      ASSERT_TRUE(r.ok) << r.error;
      std::vector<Placement> expected;
      for (Point o : c.offsets) {
        expected.push_back({"A", -300 + o.x, 400 + o.y, 1.0f, flip ? 7 : 1});
      }
      std::sort(expected.begin(), expected.end());
      StoredLibrary st = s.Stored();
      EXPECT_EQ(st.Placements("TOP"), expected);
    }
  }
}

TEST(OasisReader, RegularPlacementRepetitionsStayArrays) {
  struct Case {
    const char* name;
    std::function<void(OasisBuilder&)> repetition;
    int arrays;
    size_t elements;
  };
  const std::vector<Case> cases = {
      {"type 1 at orientation 1", [](OasisBuilder& b) { b.U(1).U(1).U(0).U(10).U(20); }, 1, 6},
      {"type 8 along the axes, negative steps",
       [](OasisBuilder& b) { b.U(8).U(1).U(2).DeltaGOctant(2, 10).DeltaGOctant(3, 7); }, 1, 12},
      {"type 9 along y", [](OasisBuilder& b) { b.U(9).U(3).DeltaGOctant(1, 9); }, 1, 5},
      {"type 2 beyond 32767 columns", [](OasisBuilder& b) { b.U(2).U(40000 - 2).U(3); }, 2,
       40000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch s;
    OasisBuilder b = SquareCellAndTop();
    b.Record(kPlacement).Byte(0xfa).U(0).S(0).S(0);  // AA 1
    c.repetition(b);
    b.End();
    const OasisReadResult r = s.Read(b);
    ASSERT_TRUE(r.ok) << r.error;
    StoredLibrary st = s.Stored();
    const auto refs = st.References("TOP");
    EXPECT_EQ(int(refs.size()), c.arrays);
    for (const auto& ref : refs) {
      EXPECT_TRUE(ref.array);
      EXPECT_GE(ref.columnPitch, 0);
      EXPECT_GE(ref.rowPitch, 0);
    }
    EXPECT_EQ(st.Placements("TOP").size(), c.elements);
    EXPECT_EQ(r.counters.arrayRefs, c.arrays);
  }
}

// --- Placements -----------------------------------------------------------------------

TEST(OasisReader, PlacementAnglesMagnificationAndDuplicates) {
  Scratch s;
  OasisBuilder b = SquareCellAndTop();
  b.Record(kPlacementMag).Byte(0xf6).U(0).RealU(0, 2).RealU(0, 220).S(1).S(1);  // 220 -> 270
  b.Record(kPlacementMag).Byte(0xf2).U(0).RealU(0, 215).S(2).S(2);  // 215 -> 180
  b.Record(kPlacementMag).Byte(0xf2).U(0).RealU(1, 90).S(3).S(3);   // -90 -> 270
  b.Record(kPlacementMag).Byte(0xf4).U(0).RealRatio(false, 100000001, 100000000).S(4).S(4);
  b.Record(kPlacement).Byte(0x30).S(5).S(5);  // modal cell, twice
  b.Record(kPlacement).Byte(0x30).S(5).S(5);
  b.End();
  const OasisReadResult r = s.Read(b);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  const std::vector<Placement> expected = {{"A", 1, 1, 2.0f, 3},
                                           {"A", 2, 2, 1.0f, 2},
                                           {"A", 3, 3, 1.0f, 3},
                                           {"A", 4, 4, 1.0f, 0},
                                           {"A", 5, 5, 1.0f, 0}};
  EXPECT_EQ(st.Placements("TOP"), expected);
  EXPECT_EQ(r.counters.magnifiedRefs, 1);
  EXPECT_EQ(r.counters.duplicateRefs, 1);
  EXPECT_NE(r.output.find("Warning: Arbitrary angle 220 changed to manhattan angle\n"),
            std::string::npos);
  EXPECT_NE(r.output.find("(1 duplicates), 1 magnifications\n"), std::string::npos);
}

// --- Cells and names ------------------------------------------------------------------

// Strict mode: cells by number first, then the CELLNAME and PROPNAME tables,
// table offsets in END; properties everywhere.
TEST(OasisReader, StrictModeCellsByNumberThenNameTables) {
  Scratch s;
  OasisBuilder b = Head();
  b.Record(kCell).U(7);
  b.Record(kProperty).Byte(0x16).U(0).U(0).U(5);  // one unsigned value, name by number
  b.Record(kPlacement).Byte(0xf0).U(3).S(10).S(20);
  b.Record(kCell).U(3);
  Rect(b, 2, 1, 4, 4, 0, 0);
  const uint64_t tables = b.Size();
  b.Record(kCellNameX).Str("LEAF").U(3);
  b.Record(kCellNameX).Str("TOP").U(7);
  b.Record(kPropNameX).Str("S_CELL_OFFSET").U(0);
  b.Record(kTextString).Str("hello");
  b.Record(kLayerName).Str("metal").U(3).U(2).U(4).U(0).U(1);
  b.End(true, {1, tables, 1, tables, 1, tables, 1, tables, 1, tables, 1, tables});
  const OasisReadResult r = s.Read(b);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  EXPECT_EQ(st.CellNames(), (std::vector<std::string>{"LEAF", "TOP"}));
  EXPECT_EQ(st.Placements("TOP"), (std::vector<Placement>{{"LEAF", 10, 20, 1.0f, 0}}));
  EXPECT_EQ(Rings(st, "LEAF", 2 * 256 + 1), std::vector<Ring>{BoxRing(0, 0, 4, 4)});
  EXPECT_NE(r.output.find("\nTotal 2 cells:\n"), std::string::npos);
  EXPECT_NE(r.output.find("  Root TOP: (10 20) - (14 24) nm\n"), std::string::npos);
}

TEST(OasisReader, HugeReferenceNumberAllocatesNothingAndNamesByCellRecord) {
  Scratch s;
  OasisBuilder b = Head();
  b.Record(kCellNameX).Str("BIG").U(4000000000ull);
  b.Record(kCell).U(4000000000ull);
  Rect(b, 1, 0, 1, 1, 0, 0);
  b.Record(kCellByName).Str("NAMED");
  b.Record(kPlacement).Byte(0xc0).U(4000000000ull);
  b.End();
  OasisReadOptions options;
  options.prefix = "p_";
  const OasisReadResult r = s.Read(b, options);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(s.lib->cells.size(), 2u);
  StoredLibrary st = s.Stored();
  EXPECT_EQ(st.CellNames(), (std::vector<std::string>{"p_BIG", "p_NAMED"}));
  EXPECT_EQ(st.Placements("p_NAMED"), (std::vector<Placement>{{"p_BIG", 0, 0, 1.0f, 0}}));
}

TEST(OasisReader, LayerFilterMapAndOutOfRangeLayers) {
  Scratch s;
  OasisReadOptions o;
  o.filter = {256, 512, 300 * 256};
  o.map = {{512, 5 * 256 + 5}};
  const OasisReadResult r = s.Read(OneCell([](OasisBuilder& b) {
    Rect(b, 1, 0, 10, 10, 0, 0);
    Rect(b, 2, 0, 10, 10, 20, 0);
    Rect(b, 3, 0, 10, 10, 40, 0);    // not in the filter
    Rect(b, 300, 0, 10, 10, 60, 0);  // outside 0..255
    b.Record(kPoly).Byte(0x3b).U(1).U(256).U(0).U(2).S(10).S(10).S(0).S(0);
  }), o);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  const auto shapes = st.Shapes("TOP");
  EXPECT_EQ(shapes.size(), 2u);
  EXPECT_EQ(Rings(st, "TOP", 256), std::vector<Ring>{BoxRing(0, 0, 10, 10)});
  EXPECT_EQ(Rings(st, "TOP", 5 * 256 + 5), std::vector<Ring>{BoxRing(20, 0, 30, 10)});
  EXPECT_EQ(r.badLayers, 2);
  EXPECT_NE(r.output.find("Warning: layer (300 0) out of range 0..255"), std::string::npos);
  EXPECT_NE(r.output.find("  2 elements on layers outside 0..255 skipped\n"), std::string::npos);
}

TEST(OasisReader, PointLineShapesAreReportedAndSkipped) {
  Scratch s;
  const OasisReadResult r = s.Read(OneCell([](OasisBuilder& b) {
    // A type-2 list of one delta: a ring of two vertices.
    b.Record(kPoly).Byte(0x3b).U(1).U(0).U(2).U(1).Delta2(0, 10).S(0).S(0);
    // A trapezoid of height 0.
    b.Record(kTrapA).Byte(0x7b).U(1).U(0).U(100).U(0).S(20).S(0).S(0);
  }));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.counters.skipped, 2);
  EXPECT_NE(r.output.find("Warning: point/line polygon at "), std::string::npos);
  EXPECT_NE(r.output.find("& cell TOP, skip\n"), std::string::npos);
}

// A name that a cell from before the read holds: the older cell moves to
// the next free name, the file's cell takes the name.
TEST(OasisReader, NameOfAnOlderCellMovesThatCell) {
  Scratch s;
  ASSERT_TRUE(s.Read(OneCell([](OasisBuilder& b) { Rect(b, 1, 0, 10, 10, 0, 0); })).ok);
  const OasisReadResult r =
      s.Read(OneCell([](OasisBuilder& b) { Rect(b, 2, 0, 20, 20, 0, 0); }));
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary st = s.Stored();
  EXPECT_EQ(st.CellNames(), (std::vector<std::string>{"TOP", "TOP1"}));
  EXPECT_EQ(Rings(st, "TOP1", 256), std::vector<Ring>{BoxRing(0, 0, 10, 10)});
  EXPECT_EQ(Rings(st, "TOP", 512), std::vector<Ring>{BoxRing(0, 0, 20, 20)});
}

// --- Refused input --------------------------------------------------------------------

struct BadCase {
  const char* name;
  std::function<OasisBuilder()> file;
  const char* message;  // part of the error message
};

std::vector<BadCase> BadCases() {
  auto cell = [](std::function<void(OasisBuilder&)> body) {
    return [body] { return OneCell(body); };
  };
  return {
      {"point-list type 6",
       cell([](OasisBuilder& b) { b.Record(kPoly).Byte(0x3b).U(1).U(0).U(6).U(1).S(5).S(0).S(0); }),
       "Unknown point list type"},
      {"point-list count with bit 31",
       cell([](OasisBuilder& b) { b.Record(kPoly).Byte(0x3b).U(1).U(0).U(2).U(1ull << 31); }),
       "Point list count too large"},
      {"CTRAPEZOID type 26",
       cell([](OasisBuilder& b) { b.Record(kCTrap).Byte(0xdb).U(1).U(0).U(26).U(10).S(0).S(0); }),
       "CTRAPEZOID type 26"},
      {"unset layer", cell([](OasisBuilder& b) { b.Record(kRect).Byte(0x78).U(1).U(1).S(0).S(0); }),
       "RECTANGLE record uses modal variable layer not set in this cell"},
      {"unset repetition",
       cell([](OasisBuilder& b) { b.Record(kRect).Byte(0x7f).U(1).U(0).U(1).U(1).S(0).S(0).U(0); }),
       "modal variable repetition not set"},
      {"modal reset at CELL",
       [] {
         OasisBuilder b = Head();
         b.Record(kCellName).Str("A").Record(kCellName).Str("B");
         b.Record(kCell).U(0);
         Rect(b, 1, 0, 5, 5, 0, 0);
         b.Record(kCell).U(1);
         b.Record(kRect).Byte(0x18).S(0).S(0);
         b.End();
         return b;
       },
       "modal variable layer not set"},
      {"unnamed cell",
       [] {
         OasisBuilder b = Head();
         b.Record(kCell).U(5);
         b.End();
         return b;
       },
       "Cell with reference number 5 has no name"},
      {"cycle",
       [] {
         OasisBuilder b = Head();
         b.Record(kCellName).Str("A").Record(kCellName).Str("B");
         b.Record(kCell).U(0).Record(kPlacement).Byte(0xc0).U(1);
         b.Record(kCell).U(1).Record(kPlacement).Byte(0xc0).U(0);
         b.End();
         return b;
       },
       "Reference cycle"},
      {"CBLOCK", cell([](OasisBuilder& b) { b.Record(kCBlock).U(0).U(10).U(10); }),
       "CBlock not supported yet"},
      {"huge repetition",
       cell([](OasisBuilder& b) {
         b.Record(kRect).Byte(0x7f).U(1).U(0).U(1).U(1).S(0).S(0).U(1).U(100000).U(100000).U(1).U(1);
       }),
       "too large"},
      {"coordinate beyond int32",
       cell([](OasisBuilder& b) { Rect(b, 1, 0, 100, 100, 2147483600, 0); }),
       "Coordinate out of range"},
      {"zero magnification",
       [] {
         OasisBuilder b = Head();
         b.Record(kCellName).Str("A").Record(kCellName).Str("B");
         b.Record(kCell).U(1).Record(kPlacementMag).Byte(0xc4).U(0).RealU(0, 0);
         b.End();
         return b;
       },
       "Invalid placement magnification"},
      {"unit 0",
       [] {
         OasisBuilder b;
         b.Magic().Start(0);
         b.End();
         return b;
       },
       "Invalid database unit"},
      {"geometry outside a cell",
       [] {
         OasisBuilder b = Head();
         Rect(b, 1, 0, 1, 1, 0, 0);
         b.End();
         return b;
       },
       "Unknown Record ID"},
      {"cell met by name and by number",
       [] {
         OasisBuilder b = Head();
         b.Record(kCellByName).Str("A");
         b.Record(kCell).U(0);
         b.Record(kCellNameX).Str("A").U(0);
         b.End();
         return b;
       },
       "met by name and by reference number 0"},
  };
}

// Everything of the stored library that a failed load must not change.
std::string StoredFiles(const Scratch& s) {
  return s.File("names") + "|" + s.File("info") + "|" + s.File("parents");
}

OasisBuilder FirstLoad() {
  OasisBuilder b = Head();
  b.Record(kCellName).Str("KEEP").Record(kCellName).Str("HOLD");
  b.Record(kCell).U(0);
  Rect(b, 1, 0, 10, 10, 0, 0);
  b.Record(kCell).U(1).Record(kPlacement).Byte(0xc0).U(0);
  b.End();
  return b;
}

TEST(OasisReader, RefusedInputIsAReportedErrorAndChangesNothing) {
  for (const BadCase& c : BadCases()) {
    SCOPED_TRACE(c.name);
    Scratch s;
    ASSERT_TRUE(s.Read(FirstLoad()).ok);
    const std::string before = StoredFiles(s);
    const size_t cells = s.lib->cells.size();
    const OasisReadResult r = s.Read(c.file());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.unit, "OASISIN");
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_EQ(StoredFiles(s), before);
    EXPECT_EQ(s.lib->cells.size(), cells);
  }
}

// A small valid file using most records.
OasisBuilder SmallFile() {
  OasisBuilder b = Head();
  b.Record(kCellName).Str("A").Record(kCellName).Str("TOP");
  b.Record(kCell).U(0);
  Rect(b, 1, 0, 10, 20, 0, 0);
  b.Record(kPoly).Byte(0x3b).U(1).U(0).U(0).U(2).S(10).S(10).S(0).S(0);
  b.Record(kPath).Byte(0xfb).U(2).U(0).U(2).U(0x5).U(0).U(1).S(40).S(0).S(100);
  b.Record(kText).Byte(0x5b).Str("t").U(1).U(0).S(0).S(0);
  b.Record(kCell).U(1);
  b.Record(kPlacement).Byte(0xfc).U(0).S(0).S(0).U(2).U(0).U(100);
  b.Record(kCTrap).Byte(0xdb).U(1).U(0).U(16).U(10).S(0).S(0);
  b.End();
  return b;
}

TEST(OasisReader, EveryCutOfAValidFileIsRefused) {
  const std::vector<uint8_t> full = SmallFile().Bytes();
  Scratch s;
  ASSERT_TRUE(s.Read(FirstLoad()).ok);
  const std::string before = StoredFiles(s);
  for (size_t n = 0; n < full.size(); ++n) {
    OasisBuilder cut;
    cut.Raw(std::vector<uint8_t>(full.begin(), full.begin() + long(n)));
    const OasisReadResult r = s.Read(cut);
    ASSERT_FALSE(r.ok) << "cut at " << n;
    ASSERT_EQ(r.unit, "OASISIN") << "cut at " << n << ": " << r.error;
    ASSERT_EQ(StoredFiles(s), before) << "cut at " << n;
  }
  EXPECT_TRUE(s.Read(SmallFile()).ok);
}

TEST(OasisReader, EveryAlteredByteIsReadOrRefused) {
  const std::vector<uint8_t> full = SmallFile().Bytes();
  Scratch s;
  ASSERT_TRUE(s.Read(FirstLoad()).ok);
  std::string before = StoredFiles(s);
  // The END record's padding is left alone: blanks read as blanks.
  const size_t end = full.size() - 250;
  for (size_t i = 0; i < end; ++i) {
    for (uint8_t v : {uint8_t(full[i] ^ 0x01), uint8_t(full[i] ^ 0x80), uint8_t(0xff),
                      uint8_t(0x00)}) {
      if (v == full[i]) continue;
      std::vector<uint8_t> bytes = full;
      bytes[i] = v;
      OasisBuilder altered;
      altered.Raw(bytes);
      OasisReadOptions options;
      options.maxInstances = 100000;
      const OasisReadResult r = s.Read(altered, options);
      if (r.ok) {
        before = StoredFiles(s);  // a read that succeeded is kept
      } else {
        ASSERT_FALSE(r.error.empty());
        ASSERT_EQ(StoredFiles(s), before) << "byte " << i << " = " << int(v) << ": " << r.error;
      }
    }
  }
}

}  // namespace
}  // namespace velmar
