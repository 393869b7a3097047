// The density check, vertical fracturing and the library-wide polygon
// repairs, through the API object on real temporary libraries. Areas are
// checked against brute-force sums, fractured pieces against the input's
// rasterisation, and repaired libraries by reading them back into a fresh
// library object.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "foundation/error.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "support/boolean_oracle.h"
#include "support/gds_builder.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using store_test::Captured;
using store_test::LibraryDir;
using Ring = std::vector<Point>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The rings of a temporary layer, each rotated to start at its smallest
// vertex, sorted: two layers with equal sets of rings compare equal.
std::vector<Ring> CanonicalRings(PSList& list) {
  std::vector<Ring> rings = oracle::ResultRings(list);
  for (Ring& r : rings) {
    auto m = std::min_element(r.begin(), r.end(), [](const Point& a, const Point& b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    std::rotate(r.begin(), m, r.end());
  }
  std::sort(rings.begin(), rings.end(), [](const Ring& a, const Ring& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](const Point& p, const Point& q) {
          return p.x != q.x ? p.x < q.x : p.y < q.y;
        });
  });
  return rings;
}

// A library on a temporary directory, loaded from a GDSII layout built by
// the test and written back, open in api with top as the working cell.
class RepairsTest : public ::testing::Test {
 protected:
  void Load(const test::GdsBuilder& b, const char* cell = "top") {
    dir_ = LibraryDir(tmp_, "lib");
    const std::string gds = tmp_.File("in.gds");
    b.WriteFile(gds);
    api_.OpenLibrary(dir_.c_str(), 0);
    Captured([&] {
      ASSERT_EQ(api_.LoadGds(gds.c_str(), 0, ""), 1);
      api_.UpdateLibrary();
      ASSERT_EQ(api_.SetArea(cell, 0, 0, 0, 0), 1);
    });
  }
  void TearDown() override {
    Captured([&] { api_.CloseLibraries(); });
  }
  // Reopens the library in a new API object, working cell top over its box.
  void Reopen(test::InspectableApi& other, const char* cell = "top") {
    other.OpenLibrary(dir_.c_str(), 0);
    Captured([&] {
      ASSERT_EQ(other.LoadLibraryInfo(), 1);
      ASSERT_EQ(other.SetArea(cell, 0, 0, 0, 0), 1);
    });
  }
  // The merged rings of a library layer in the working area.
  static std::vector<Ring> Merged(test::InspectableApi& a, int layer) {
    int n = 0;
    Captured([&] { n = a.BooleanOp(BooleanOpCode::Merge, layer, 0, -1, 0); });
    return CanonicalRings(a.RequireTempLayer(n));
  }
  std::string Density(int layer, const std::string& file) {
    return Captured([&] { api_.Density(layer, 0, file.c_str()); });
  }

  test::TempDir tmp_;
  std::string dir_;
  test::InspectableApi api_;
};

// --- Density ---------------------------------------------------------------------------

TEST_F(RepairsTest, DensityLinesTruncateAppendAndSkipEmptyLayers) {
  test::GdsBuilder b;
  b.BeginLib("LIB");
  b.BeginStr("top").Rect(1, 0, 0, 0, 500, 500).Rect(2, 0, 0, 0, 1000, 1000).EndStr();
  b.EndLib();
  Load(b);
  const std::string report = tmp_.File("density.txt");
  api_.areaIter = 1;
  Density(1, report);
  EXPECT_EQ(ReadFile(report), "0 0 1000 1000 0.25\n");
  api_.areaIter = 2;
  Density(2, report);
  EXPECT_EQ(ReadFile(report), "0 0 1000 1000 0.25\n0 0 1000 1000 1\n");
  Density(3, report);  // nothing on layer 3: no line
  EXPECT_EQ(ReadFile(report), "0 0 1000 1000 0.25\n0 0 1000 1000 1\n");
  api_.areaIter = 1;  // a new run truncates, even when it writes nothing
  Density(3, report);
  EXPECT_EQ(ReadFile(report), "");
  // An unopenable file: the message, and the call returns.
  const std::string bad = tmp_.File("no/such/dir.txt");
  EXPECT_EQ(Density(1, bad), "Error: Output file " + bad + " could not be opened !\n");
}

TEST_F(RepairsTest, DensityCornersInNanometresAtTenUnitsPerNanometre) {
  test::GdsBuilder b;
  b.BeginLib("LIB", 0.0001, 1e-10);
  b.BeginStr("top").Rect(1, 0, 0, 0, 2000, 3000).EndStr();
  b.EndLib();
  Load(b);
  ASSERT_EQ(api_.CurrentLibrary()->unitPerNm, 10.0);
  api_.area = Box(15, 25, 1001, 2009);
  api_.areaIter = 1;
  const std::string report = tmp_.File("density.txt");
  Density(1, report);
  EXPECT_EQ(ReadFile(report), "1 2 101 201 1\n");
}

TEST_F(RepairsTest, DensityCountsOnlyInsideTheAreaWithAMargin) {
  test::GdsBuilder b;
  b.BeginLib("LIB");
  // Half of the square lies right of the area (0, 0) - (1000, 1000).
  b.BeginStr("top").Rect(1, 0, 800, 0, 1200, 400).Rect(2, 0, 0, 0, 2000, 1000).EndStr();
  b.EndLib();
  Load(b);
  Captured([&] { ASSERT_EQ(api_.SetArea("top", 0, 0, 1000, 1000), 1); });
  api_.tech.areaMargin = 500;
  api_.areaIter = 1;
  const std::string report = tmp_.File("density.txt");
  Density(1, report);
  EXPECT_EQ(ReadFile(report), "0 0 1000 1000 0.08\n");  // 200 x 400 inside
}

TEST_F(RepairsTest, DensityOfRandomRectanglesCountsOverlapsTwice) {
  std::mt19937 rng(119);
  std::uniform_int_distribution<int32_t> pos(-200, 4000), size(1, 700);
  test::GdsBuilder b;
  b.BeginLib("LIB");
  b.BeginStr("top");
  std::vector<Box> boxes;
  for (int i = 0; i < 300; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    boxes.emplace_back(x, y, x + size(rng), y + size(rng));
    b.Rect(1, 0, boxes.back().x1, boxes.back().y1, boxes.back().x2, boxes.back().y2);
  }
  b.EndStr();
  b.EndLib();
  Load(b);
  const Box area(300, 100, 3300, 3700);
  Captured([&] { ASSERT_EQ(api_.SetArea("top", area.x1, area.y1, area.x2, area.y2), 1); });
  // Brute force: each rectangle's part inside the area, summed.
  int64_t sum = 0;
  for (const Box& r : boxes) {
    const int64_t w = std::min(r.x2, area.x2) - std::max(r.x1, area.x1);
    const int64_t h = std::min(r.y2, area.y2) - std::max(r.y1, area.y1);
    if (w > 0 && h > 0) sum += w * h;
  }
  api_.areaIter = 1;
  const std::string report = tmp_.File("density.txt");
  Density(1, report);
  std::ostringstream expected;
  expected << "300 100 3300 3700 "
           << float(double(sum) / (double(area.x2 - area.x1) * (area.y2 - area.y1))) << "\n";
  EXPECT_EQ(ReadFile(report), expected.str());
  // The layout does hold overlaps inside the area.
  bool overlap = false;
  for (size_t i = 0; i < boxes.size() && !overlap; ++i)
    for (size_t j = i + 1; j < boxes.size() && !overlap; ++j) {
      Box c(std::max({boxes[i].x1, boxes[j].x1, area.x1}),
            std::max({boxes[i].y1, boxes[j].y1, area.y1}),
            std::min({boxes[i].x2, boxes[j].x2, area.x2}),
            std::min({boxes[i].y2, boxes[j].y2, area.y2}));
      overlap = c.x1 < c.x2 && c.y1 < c.y2;
    }
  EXPECT_TRUE(overlap);
}

// --- FractureV -------------------------------------------------------------------------

TEST_F(RepairsTest, FractureVPiecesCoverTheInputExactly) {
  test::GdsBuilder b;
  b.BeginLib("LIB");
  b.BeginStr("top")
      .Boundary(1, 0, {{0, 0}, {600, 0}, {600, 200}, {400, 200}, {400, 500}, {300, 300},
                       {100, 500}, {0, 200}})
      .Rect(1, 0, 700, 0, 900, 900)
      .Rect(1, 0, 100, 600, 200, 700)
      .EndStr();
  b.EndLib();
  Load(b);
  const std::vector<Ring> input = Merged(api_, 1);
  api_.tech.reportDegree = 1;
  int layer = 0;
  const std::string printed = Captured([&] { layer = api_.FractureV(1, 0); });
  api_.tech.reportDegree = 0;
  const std::vector<Ring> pieces = CanonicalRings(api_.RequireTempLayer(layer));
  EXPECT_GT(pieces.size(), input.size());
  // Every cell centre is covered by the pieces exactly once where the input
  // covers it, and nowhere else; the areas add up.
  oracle::i128 area2 = 0;
  for (const Ring& r : pieces) {
    EXPECT_GT(oracle::Area2(r), 0);
    area2 += oracle::Area2(r);
  }
  EXPECT_EQ(area2, oracle::TotalArea2(input));
  for (int64_t x = 1; x < 4 * 900; x += 4 * 5)
    for (int64_t y = 1; y < 4 * 900; y += 4 * 5) {
      int in = 0, cover = 0;
      // Quarter units keep the samples off every edge.
      for (const Ring& r : input) in += oracle::WindingScaled(r, x, y, 4);
      for (const Ring& r : pieces) cover += oracle::WindingScaled(r, x, y, 4);
      ASSERT_EQ(cover, in) << x << " " << y;
    }
  // The report lines of a layer operation.
  EXPECT_NE(printed.find("FractureV\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Process starts\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  Total output vertices = "), std::string::npos) << printed;
  EXPECT_NE(printed.find("Resulting layer is {" + std::to_string(layer) + " 0}\n"),
            std::string::npos)
      << printed;
}

// --- Library-wide repairs ----------------------------------------------------------------

// leaf: {1 0} a square, {3 0} a bow tie crossing at (10, 10) relative to
// (100, 100); mid: {1 0} a square, places leaf twice; top: places mid and
// leaf, {2 0} a square.
test::GdsBuilder RepairLayout() {
  test::GdsBuilder b;
  b.BeginLib("LIB");
  b.BeginStr("leaf")
      .Rect(1, 0, 0, 0, 50, 50)
      .Boundary(3, 0, {{100, 100}, {120, 120}, {120, 100}, {100, 120}})
      .EndStr();
  b.BeginStr("mid")
      .Rect(1, 0, 0, 0, 10, 300)
      .SRef("leaf", Point(1000, 0))
      .SRef("leaf", Point(2000, 0))
      .EndStr();
  b.BeginStr("top")
      .SRef("mid", Point(0, 5000))
      .SRef("leaf", Point(0, 0))
      .Rect(2, 0, 0, 0, 3000, 20)
      .EndStr();
  b.EndLib();
  return b;
}

TEST_F(RepairsTest, FindSelfCrossMarksEveryPlacementAndKeepsTheLibraryWhole) {
  Load(RepairLayout());
  const std::string names = ReadFile(dir_ + "/names");
  const std::string info = ReadFile(dir_ + "/info");
  const bool hasParents = access((dir_ + "/parents").c_str(), F_OK) == 0;
  const std::string parents = hasParents ? ReadFile(dir_ + "/parents") : "";
  const std::vector<Ring> layer1 = Merged(api_, 1);
  const std::vector<Ring> layer2 = Merged(api_, 2);
  // A result stored into top and not yet written by an update.
  api_.hierarchical = 1;
  Captured([&] {
    const int t = api_.BooleanOp(BooleanOpCode::Merge, 2, 0, -1, 0);
    ASSERT_EQ(api_.SaveDB(t, 0, 7, 0), 1);
  });

  const std::string printed = Captured([&] { api_.FindSelfCross(9, 0, 5); });
  EXPECT_NE(printed.find("FindSelfCross {9 0} 5\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  1 self-cross polygons are found\n"), std::string::npos)
      << printed;
  for (const DBCell* c : api_.CurrentLibrary()->cells)
    EXPECT_TRUE(c->IsEmpty()) << "every cell is unloaded";
  EXPECT_EQ(ReadFile(dir_ + "/names"), names);
  if (hasParents) {
    EXPECT_EQ(ReadFile(dir_ + "/parents"), parents);
  }
  EXPECT_NE(ReadFile(dir_ + "/info"), info);

  // A fresh library reads every cell.
  {
    LibDB lib(dir_.c_str(), 0);
    lib.ReadTables();
    Captured([&] { EXPECT_NO_THROW(lib.LoadAll(false, true)); });
    EXPECT_EQ(lib.layers.count(9 * 256), 1u);
  }
  test::InspectableApi other;
  Reopen(other);
  EXPECT_EQ(Merged(other, 1), layer1);  // untouched layers as before
  EXPECT_EQ(Merged(other, 2), layer2);
  EXPECT_EQ(Merged(other, 7), layer2);  // the stored result survived
  // The markers: a 10 x 10 square centred on (110, 110) of every leaf.
  const std::vector<Ring> markers = Merged(other, 9);
  std::set<std::pair<int32_t, int32_t>> corners;
  for (const Ring& r : markers) {
    EXPECT_EQ(r, (Ring{r[0], {r[0].x + 10, r[0].y}, {r[0].x + 10, r[0].y + 10},
                       {r[0].x, r[0].y + 10}}));
    corners.insert({r[0].x, r[0].y});
  }
  EXPECT_EQ(corners, (std::set<std::pair<int32_t, int32_t>>{
                         {105, 105}, {1105, 5105}, {2105, 5105}}));
  Captured([&] { other.CloseLibraries(); });
}

TEST_F(RepairsTest, FixSelfCrossSplitsAndFixSmallAcuteWritesTheTargetLayer) {
  Load(RepairLayout());
  const std::vector<Ring> layer1 = Merged(api_, 1);
  const std::vector<Ring> layer3 = Merged(api_, 3);
  std::string printed = Captured([&] { api_.FixSelfCross(); });
  EXPECT_NE(printed.find("  1 self-cross polygons are fixed\n"), std::string::npos)
      << printed;
  printed = Captured([&] { api_.FixSmallAcute(1, 0, 4, 0); });
  EXPECT_NE(printed.find("FixSmallAcute {1 0} {4 0}\n"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("acute angles are corrected"), std::string::npos) << printed;

  test::InspectableApi other;
  Reopen(other);
  EXPECT_EQ(Merged(other, 1), layer1);
  EXPECT_EQ(Merged(other, 4), layer1);  // squares: nothing to trim
  EXPECT_EQ(Merged(other, 3), layer3);  // split, but the same region
  EXPECT_EQ(other.CurrentLibrary()->layers.count(4 * 256), 1u);
  // The leaf's bow tie is now two shapes.
  Captured([&] { ASSERT_EQ(other.SetArea("leaf", 0, 0, 0, 0), 1); });
  LibDB& lib = *other.CurrentLibrary();
  DBCell* leaf = lib.FindCell("leaf");
  lib.LoadIfStored(leaf);
  EXPECT_EQ(leaf->rawLayers.at(3 * 256).count, 2);
  Captured([&] { other.CloseLibraries(); });
}

TEST_F(RepairsTest, SizeUpGrowsEveryPlacedShapeIntoTheTargetLayer) {
  Load(RepairLayout());
  const std::string names = ReadFile(dir_ + "/names");
  const std::string parents = ReadFile(dir_ + "/parents");
  const std::vector<Ring> layer1 = Merged(api_, 1);
  const std::vector<Ring> layer2 = Merged(api_, 2);
  std::vector<Box> parts;  // the placed rectangles of layer 1
  for (const Ring& r : layer1) {
    ASSERT_EQ(r.size(), 4u);
    Box b;
    for (const Point& p : r) b.Extend(p.x, p.y);
    parts.push_back(b);
  }
  std::string printed = Captured([&] { api_.SizeUp(1, 0, 5, 0, 10); });
  EXPECT_NE(printed.find("SizeUp {1 0} {5 0} 10\n"), std::string::npos) << printed;
  Captured([&] { api_.SizeUp(1, 0, 6, 0, 0); });
  for (const DBCell* c : api_.CurrentLibrary()->cells)
    EXPECT_TRUE(c->IsEmpty()) << "every cell is unloaded";
  EXPECT_EQ(ReadFile(dir_ + "/names"), names);
  {
    LibDB lib(dir_.c_str(), 0);
    lib.ReadTables();
    Captured([&] { EXPECT_NO_THROW(lib.LoadAll(false, true)); });
    EXPECT_EQ(lib.layers.count(5 * 256), 1u);
    EXPECT_EQ(lib.layers.count(6 * 256), 1u);
    // The leaf's box covers its grown square.
    EXPECT_TRUE(lib.FindCell("leaf")->box.Contains(Box(-10, -10, 60, 60)));
  }
  test::InspectableApi other;
  // The grown leaf at (0, 0) reaches beyond top's old box: top's box grew
  // with it, so the working area taken from it reaches every grown shape.
  Reopen(other);
  EXPECT_EQ(ReadFile(dir_ + "/parents"), parents);
  EXPECT_TRUE(other.CurrentLibrary()->FindCell("top")->box.Contains(Box(-10, -10, 60, 60)));
  EXPECT_EQ(Merged(other, 1), layer1);
  EXPECT_EQ(Merged(other, 2), layer2);
  EXPECT_EQ(Merged(other, 6), layer1);  // amount 0: the merged shapes
  // Around every placed rectangle, the merged result covers exactly the
  // points nearer than 10 in both axes to one of the rectangles.
  const std::vector<Ring> grown = Merged(other, 5);
  EXPECT_EQ(grown.size(), parts.size());
  for (const Box& r : parts) {
    for (int64_t x = 4 * (int64_t(r.x1) - 13) + 1; x < 4 * (int64_t(r.x2) + 13); x += 2)
      for (int64_t y = 4 * (int64_t(r.y1) - 13) + 1; y < 4 * (int64_t(r.y2) + 13); y += 2) {
        bool expected = false;
        for (const Box& q : parts)
          expected = expected || (x > 4 * (int64_t(q.x1) - 10) && x < 4 * (int64_t(q.x2) + 10) &&
                                  y > 4 * (int64_t(q.y1) - 10) && y < 4 * (int64_t(q.y2) + 10));
        int w = 0;
        for (const Ring& g : grown) w += oracle::WindingScaled(g, x, y, 4);
        ASSERT_EQ(w, expected ? 1 : 0) << x << " " << y;
      }
  }
  Captured([&] { other.CloseLibraries(); });
}

TEST_F(RepairsTest, SizeUpWithANegativeAmountEndsBeforeAnythingIsRead) {
  GTEST_FLAG_SET(death_test_style, "fast");
  // Tested before the library: none is open.
  EXPECT_EXIT((::dup2(2, 1), api_.SizeUp(1, 0, 5, 0, -1)), ::testing::ExitedWithCode(1),
              "ERROR: SizeUp only takes positive number");
  Load(RepairLayout());
  const std::string info = ReadFile(dir_ + "/info");
  EXPECT_EXIT((::dup2(2, 1), api_.SizeUp(1, 0, 5, 0, -1)), ::testing::ExitedWithCode(1),
              "ERROR: SizeUp only takes positive number");
  EXPECT_EXIT((::dup2(2, 1), api_.SizeUp(1, 0, 5, 256, 1)), ::testing::ExitedWithCode(1),
              "ERROR: Layer \\{5 256\\} cannot be stored");
  EXPECT_EQ(ReadFile(dir_ + "/info"), info);
}

TEST_F(RepairsTest, LayersOutsideTheStorableRangeEndTheRepairFirst) {
  Load(RepairLayout());
  const char* message =
      "ERROR: Layer \\{256 0\\} cannot be stored: layer and datatype must lie in 0..255";
  GTEST_FLAG_SET(death_test_style, "fast");
  // Messages go to standard output: the dying process sends it to standard
  // error, where the death test reads.
  EXPECT_EXIT((::dup2(2, 1), api_.FixSmallAcute(1, 0, 256, 0)),
              ::testing::ExitedWithCode(1), message);
  EXPECT_EXIT((::dup2(2, 1), api_.FindSelfCross(256, 0, 5)),
              ::testing::ExitedWithCode(1), message);
  EXPECT_EXIT((::dup2(2, 1), api_.FindSelfCross(9, 0, 0)), ::testing::ExitedWithCode(1),
              "ERROR: FindSelfCross only takes positive number");
  const std::string info = ReadFile(dir_ + "/info");
  EXPECT_EXIT((::dup2(2, 1), api_.FindSelfCross(300, 0, 0)), ::testing::ExitedWithCode(1),
              "Layer \\{300 0\\}");
  EXPECT_EQ(ReadFile(dir_ + "/info"), info);
}

TEST_F(RepairsTest, ACorruptCellRecordEndsTheRepairAndLeavesTheLibraryAsItWas) {
  Load(RepairLayout());
  const std::vector<Ring> layer1 = Merged(api_, 1);
  Captured([&] { api_.CloseLibraries(); });
  // The record of top, the last cell, is overwritten with bytes no record
  // holds.
  int32_t start = -1, end = -1;
  uint16_t file = 0;
  {
    LibDB lib(dir_.c_str(), 0);
    lib.ReadTables();
    const DBCell* top = lib.FindCell("top");
    ASSERT_EQ(lib.FindCellId("top"), int32_t(lib.cells.size()) - 1);
    start = top->startPos;
    end = top->endPos;
    file = top->dbFile;
  }
  const std::string data = dir_ + "/db" + std::to_string(file);
  std::string bytes = ReadFile(data);
  ASSERT_LE(size_t(end), bytes.size());
  for (int32_t i = start; i < end; ++i) bytes[size_t(i)] = char(0xff);
  std::ofstream(data, std::ios::binary | std::ios::trunc) << bytes;
  const std::string info = ReadFile(dir_ + "/info");

  test::InspectableApi broken;
  broken.OpenLibrary(dir_.c_str(), 0);
  // The repair dies in a forked copy of this process, on the same library.
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT((::dup2(2, 1), broken.FixSelfCross()), ::testing::ExitedWithCode(1),
              "ERROR: LIBIN: ");
  EXPECT_EQ(ReadFile(dir_ + "/info"), info);
  // The other cells open with their old contents.
  test::InspectableApi other;
  Reopen(other, "mid");
  EXPECT_EQ(Merged(other, 1).size(), 3u);
  Captured([&] { other.CloseLibraries(); });
}

}  // namespace
}  // namespace velmar
