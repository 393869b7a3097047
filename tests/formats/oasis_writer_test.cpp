// OASIS writer: records byte for byte against files spelled out with the
// byte builder, and round trips (layout -> library -> OASIS -> library)
// compared shape by shape and placement by placement.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

using test::OasisBuilder;
using test::StoredLibrary;
using test::TempDir;

struct Scratch {
  TempDir temp;
  std::string dir;
  std::unique_ptr<LibDB> lib;
  explicit Scratch(const std::string& name = "lib") {
    dir = temp.File(name);
    std::filesystem::create_directory(dir);
    lib = std::make_unique<LibDB>(dir.c_str(), 0);
  }
};

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Bytes as hex, one record-sized chunk readable in a failure message (the
// END record's padding left out).
std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i + 256 < bytes.size() || (bytes.size() <= 256 && i < bytes.size()); ++i) {
    std::snprintf(buf, sizeof buf, "%02x ", bytes[i]);
    out += buf;
  }
  return out;
}

// Writes lib (as stored) to path.
void WriteLibrary(LibDB& lib, const std::string& path) {
  WriteOasisFile(lib, path, nullptr, nullptr);
}

// A file of one cell TOP whose body is given, written without repetitions
// or modal reuse by the builder.
OasisBuilder OneCell(const std::function<void(OasisBuilder&)>& body) {
  OasisBuilder b;
  b.Magic().Start(1000);
  b.Record(4).Str("TOP").U(0);
  b.Record(13).U(0);
  body(b);
  b.End();
  return b;
}

// POLYGON on 1/0 at its first vertex with a g-delta point list through the
// vertices.
void Polygon(OasisBuilder& b, std::vector<Point> v) {
  b.Record(21).Byte(0x3b).U(1).U(0).U(4).U(v.size() - 1);
  for (size_t i = 1; i < v.size(); ++i) b.DeltaGFree(v[i].x - v[i - 1].x, v[i].y - v[i - 1].y);
  b.S(v[0].x).S(v[0].y);
}

struct RecordCase {
  const char* name;
  std::function<void(OasisBuilder&)> input;     // read into the library
  std::function<void(OasisBuilder&)> expected;  // what the writer gives
};

TEST(OasisWriter, RecordsByteForByte) {
  const std::vector<RecordCase> cases = {
      {"rectangle 0x63",
       [](OasisBuilder& b) { b.Record(20).Byte(0x7b).U(1).U(0).U(100).U(50).S(0).S(0); },
       [](OasisBuilder& b) { b.Record(20).Byte(0x63).U(1).U(0).U(100).U(50); }},
      {"square 0xc3",
       [](OasisBuilder& b) { b.Record(20).Byte(0x7b).U(1).U(0).U(100).U(100).S(0).S(0); },
       [](OasisBuilder& b) { b.Record(20).Byte(0xc3).U(1).U(0).U(100); }},
      {"L polygon",
       [](OasisBuilder& b) {
         Polygon(b, {{0, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}, {0, 100}});
       },
       [](OasisBuilder& b) {
         b.Record(21).Byte(0x23).U(1).U(0).U(0).U(4).S(100).S(50).S(-50).S(50);
       }},
      {"triangle type 16",
       [](OasisBuilder& b) { Polygon(b, {{0, 0}, {100, 0}, {0, 100}}); },
       [](OasisBuilder& b) { b.Record(26).Byte(0xc3).U(1).U(0).U(16).U(100); }},
      {"triangle type 20",
       [](OasisBuilder& b) { Polygon(b, {{0, 0}, {200, 0}, {100, 100}}); },
       [](OasisBuilder& b) { b.Record(26).Byte(0xa3).U(1).U(0).U(20).U(100); }},
      {"ctrapezoid type 0",
       [](OasisBuilder& b) { Polygon(b, {{0, 0}, {1000, 0}, {700, 300}, {0, 300}}); },
       [](OasisBuilder& b) { b.Record(26).Byte(0xe3).U(1).U(0).U(0).U(1000).U(300); }},
      {"trapezoid 23",
       [](OasisBuilder& b) { Polygon(b, {{0, 0}, {800, 0}, {1000, 600}, {100, 600}}); },
       [](OasisBuilder& b) {
         b.Record(23).Byte(0x63).U(1).U(0).U(1000).U(600).S(100).S(200);
       }},
      {"trapezoid 23 with negative deltas",
       [](OasisBuilder& b) { Polygon(b, {{100, 0}, {1000, 0}, {800, 600}, {0, 600}}); },
       [](OasisBuilder& b) {
         b.Record(23).Byte(0x63).U(1).U(0).U(1000).U(600).S(-100).S(-200);
       }},
      {"quadrilateral without a horizontal opposite",
       [](OasisBuilder& b) { Polygon(b, {{0, 50}, {100, 0}, {200, 0}, {150, 100}}); },
       [](OasisBuilder& b) {
         b.Record(21).Byte(0x2b).U(1).U(0).U(4).U(3).DeltaGFree(100, -50).DeltaGOctant(0, 100)
             .DeltaGFree(-50, 100).S(50);
       }},
      {"ctrapezoid then rectangle gives W and H again",
       [](OasisBuilder& b) {
         Polygon(b, {{0, 0}, {100, 0}, {0, 100}});
         b.Record(20).Byte(0x7b).U(2).U(0).U(100).U(100).S(0).S(0);
       },
       [](OasisBuilder& b) {
         b.Record(26).Byte(0xc3).U(1).U(0).U(16).U(100);
         b.Record(20).Byte(0xc1).U(2).U(100);
       }},
      {"type-10 repetition",
       [](OasisBuilder& b) {
         b.Record(20).Byte(0x7b).U(1).U(0).U(5).U(5).S(0).S(0);
         b.Record(20).Byte(0x18).S(10).S(0);
         b.Record(20).Byte(0x18).S(10).S(10);
       },
       [](OasisBuilder& b) {
         b.Record(20).Byte(0xc7).U(1).U(0).U(5).U(10).U(1).DeltaGOctant(0, 10)
             .DeltaGOctant(1, 10);
       }},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch s;
    const auto r = test::ReadOasisInto(*s.lib, s.temp.path(), OneCell(c.input).Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    const std::string out = s.temp.File("out.oas");
    WriteLibrary(*s.lib, out);
    EXPECT_EQ(Hex(FileBytes(out)), Hex(OneCell(c.expected).Bytes()));
    EXPECT_EQ(FileBytes(out), OneCell(c.expected).Bytes());
  }
}

TEST(OasisWriter, PlacementsByteForByte) {
  struct Case {
    const char* name;
    std::function<void(OasisBuilder&)> input, expected;
  };
  const std::vector<Case> cases = {
      {"orientation 7 as PLACEMENT 17",
       [](OasisBuilder& b) { b.Record(17).Byte(0xf3).U(0).S(5).S(6); },
       [](OasisBuilder& b) { b.Record(17).Byte(0xf3).U(0).S(5).S(6); }},
      {"magnification 2 as PLACEMENT 18",
       [](OasisBuilder& b) { b.Record(18).Byte(0xc4).U(0).RealU(0, 2); },
       [](OasisBuilder& b) { b.Record(18).Byte(0xc4).U(0).RealU(0, 2); }},
      {"3 x 1 array at orientation 0: type 2",
       [](OasisBuilder& b) { b.Record(17).Byte(0xc8).U(0).U(2).U(1).U(30); },
       [](OasisBuilder& b) { b.Record(17).Byte(0xc8).U(0).U(2).U(1).U(30); }},
      {"3 along y at orientation 1: type 3",
       [](OasisBuilder& b) { b.Record(17).Byte(0xca).U(0).U(3).U(1).U(30); },
       [](OasisBuilder& b) { b.Record(17).Byte(0xca).U(0).U(3).U(1).U(30); }},
      {"negative steps from the lowest element",
       [](OasisBuilder& b) {
         b.Record(17).Byte(0xe8).U(0).S(100).U(8).U(0).U(1).DeltaGOctant(2, 10).DeltaGOctant(3, 7);
       },
       [](OasisBuilder& b) {
         b.Record(17).Byte(0xf8).U(0).S(90).S(-14).U(1).U(0).U(1).U(10).U(7);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = [](const std::function<void(OasisBuilder&)>& placement) {
      OasisBuilder b;
      b.Magic().Start(1000);
      b.Record(4).Str("A").U(0).Record(4).Str("TOP").U(1);
      b.Record(13).U(0).Record(20).Byte(0x63).U(1).U(0).U(10).U(20);
      b.Record(13).U(1);
      placement(b);
      b.End();
      return b;
    };
    Scratch s;
    const auto r = test::ReadOasisInto(*s.lib, s.temp.path(), file(c.input).Bytes());
    ASSERT_TRUE(r.ok) << r.error;
    const std::string out = s.temp.File("out.oas");
    WriteLibrary(*s.lib, out);
    EXPECT_EQ(Hex(FileBytes(out)), Hex(file(c.expected).Bytes()));
  }
}

// The layer filter keeps layers by their stored key; the map renames them.
TEST(OasisWriter, FilterAndMapOfTheExport) {
  Scratch s;
  const auto r = test::ReadOasisInto(*s.lib, s.temp.path(), OneCell([](OasisBuilder& b) {
    b.Record(20).Byte(0x7b).U(1).U(0).U(10).U(20).S(0).S(0);
    b.Record(20).Byte(0x7b).U(2).U(0).U(10).U(20).S(0).S(0);
    b.Record(20).Byte(0x7b).U(3).U(0).U(10).U(20).S(0).S(0);
  }).Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  const std::string out = s.temp.File("out.oas");
  const LayerKeySet filter = {256, 512};
  const std::map<LayerKey, LayerKey> map = {{512, 9 * 256 + 4}};
  WriteOasisFile(*s.lib, out, &filter, &map);
  EXPECT_EQ(Hex(FileBytes(out)), Hex(OneCell([](OasisBuilder& b) {
              b.Record(20).Byte(0x63).U(1).U(0).U(10).U(20);
              b.Record(20).Byte(0x03).U(9).U(4);
            }).Bytes()));
}

TEST(OasisWriter, EmptyLibraryIsMagicStartAndEnd) {
  Scratch s;
  const std::string out = s.temp.File("out.oas");
  WriteLibrary(*s.lib, out);
  OasisBuilder b;
  b.Magic().Start(1000).End();
  EXPECT_EQ(FileBytes(out), b.Bytes());
  EXPECT_EQ(b.Size(), 13u + 9u + 256u);
}

// Layout -> library -> OASIS -> a new library: per cell the same shapes
// and the same placed elements.
void ExpectRoundTrip(LibDB& source, const std::string& sourceDir, TempDir& temp) {
  const std::string out = temp.File("round.oas");
  WriteLibrary(source, out);
  Scratch back("back");
  const auto r = test::ReadOasisFileInto(*back.lib, out);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary a(sourceDir, false), b(back.dir, false);
  ASSERT_EQ(a.CellNames(), b.CellNames());
  for (const std::string& cell : a.CellNames()) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(a.Shapes(cell), b.Shapes(cell));
    EXPECT_EQ(a.Placements(cell), b.Placements(cell));
  }
}

TEST(OasisWriter, RoundTripOfAGeneratedLayout) {
  OasisBuilder b;
  b.Magic().Start(1000);
  b.Record(3).Str("LEAF").Record(3).Str("MID").Record(3).Str("TOP");
  b.Record(13).U(0);
  b.Record(20).Byte(0x7f).U(1).U(0).U(30).U(20).S(0).S(0).U(2).U(1).U(50);  // repeated
  b.Record(21).Byte(0x3b).U(2).U(0).U(3).U(2).Delta3(0, 40).Delta3(5, 20).S(0).S(100);
  b.Record(21).Byte(0x3b).U(2).U(1).U(4).U(2).DeltaGFree(37, 5).DeltaGFree(-11, 29).S(0).S(200);
  b.Record(22).Byte(0xfb).U(3).U(0).U(4).U(0xa).U(0).U(2).S(60).S(30).S(0).S(300);
  b.Record(13).U(1);
  for (int o = 0; o < 8; ++o) {
    // Arrays of LEAF in every orientation, steps negative in x.
    const uint8_t info = uint8_t(0xf8 | ((o & 3) << 1) | (o >= 4 ? 1 : 0));
    b.Record(17).Byte(info).U(0).S(1000 * o).S(0).U(8).U(1).U(0).DeltaGOctant(2, 300)
        .DeltaGOctant(1, 500);
  }
  b.Record(18).Byte(0xf4).U(0).RealU(0, 3).S(-500).S(-500);
  b.Record(13).U(2);
  b.Record(17).Byte(0xf0).U(1).S(7).S(9);
  b.Record(17).Byte(0xf8).U(0).S(0).S(5000).U(10).U(1).DeltaGFree(13, 2).DeltaGFree(-4, 9);
  b.End();
  Scratch s;
  const auto r = test::ReadOasisInto(*s.lib, s.temp.path(), b.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  ExpectRoundTrip(*s.lib, s.dir, s.temp);
}

TEST(OasisWriter, RoundTripOfTheGdsTestLayouts) {
  for (const char* name : {"dense_two_level.gds", "freepdk45_stdcells.gds",
                           "sky130_fd_sc_hd__dfxtp_1.gds", "proof_lib.gds", "xor_hole_cut.gds"}) {
    const std::string path = std::string(VELMAR_TESTDATA_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) {
      std::printf("test data missing: %s\n", path.c_str());
      continue;
    }
    SCOPED_TRACE(name);
    test::ScratchLibrary gds;
    const auto r = gds.ReadFile(path);
    ASSERT_TRUE(r.ok) << r.error;
    TempDir temp;
    ExpectRoundTrip(gds.Lib(), gds.Dir(), temp);
  }
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// The window writer on a cell in memory: of two rectangles the one inside
// the window; of a five-element array the two elements whose placed child
// overlaps the window, as one smaller array from the first of them.
TEST(OasisWriter, CellWindowWritesWhatMeetsTheWindow) {
  OasisBuilder in;
  in.Magic().Start(1000);
  in.Record(3).Str("A").Record(3).Str("TOP");
  in.Record(13).U(0).Record(20).Byte(0x7b).U(1).U(0).U(10).U(10).S(0).S(0);
  in.Record(13).U(1);
  in.Record(20).Byte(0x7b).U(1).U(0).U(10).U(10).S(0).S(0);
  in.Record(20).Byte(0x10).S(100);
  in.Record(17).Byte(0xe8).U(0).S(0).U(2).U(3).U(100);
  in.End();
  Scratch s;
  const auto r = test::ReadOasisInto(*s.lib, s.temp.path(), in.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  DBCell* top = s.lib->FindCell("TOP");
  ASSERT_NE(top, nullptr);
  s.lib->LoadCell(top, true);

  const std::string path = s.temp.File("window.bin");
  {
    OasisFile out;
    out.library = s.lib.get();
    out.OpenOutput(path);
    out.WriteCellWindow(top, Box(95, -5, 205, 15), {}, {});
    out.stream.Close();
  }
  OasisBuilder expected;
  expected.Record(20).Byte(0xd3).U(1).U(0).U(10).S(100);
  expected.Record(17).Byte(0xe8).U(0).S(100).U(2).U(0).U(100);
  EXPECT_EQ(Hex(FileBytes(path)), Hex(expected.Bytes()));

  // A window between the elements meets none of them and no shape.
  {
    OasisFile out;
    out.library = s.lib.get();
    out.OpenOutput(path);
    out.WriteCellWindow(top, Box(420, 20, 480, 30), {}, {});
    out.stream.Close();
  }
  EXPECT_TRUE(FileBytes(path).empty());
}

}  // namespace
}  // namespace velmar
