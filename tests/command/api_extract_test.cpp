// Area extraction to files, on the standard two-level layout: the areas
// written per layer against the area of the boxes inside the window,
// computed here; the reached cells of the hierarchical extraction; the mask
// file of the worked example. On a two-level layout with arrays: the
// coverage of every flat and merged extraction, read back by the system's
// readers, against the layout flattened and rasterised here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "formats/gds_records.h"
#include "formats/polygon_file.h"
#include "geometry/point_system.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"
#include "support/boolean_oracle.h"
#include "support/file_size_limit.h"
#include "support/gds_builder.h"

namespace velmar {
namespace {

using test::InspectableApi;
using namespace store_test;  // the stored-library fixtures

// Twice the area of every BOUNDARY, per (layer, datatype), and the
// structure names.
struct GdsSummary {
  std::map<std::pair<int, int>, int64_t> twiceArea;
  std::set<std::string> structures;
  int64_t maxSide = 0;
};

GdsSummary Summarise(const std::string& path) {
  GdsSummary s;
  int layer = 0, datatype = 0;
  for (const auto& r : test::ParseGdsRecords(test::ReadFileBytes(path))) {
    if (r.type == GdsRecord::StrName) s.structures.insert(r.String());
    if (r.type == GdsRecord::Layer) layer = r.Int16(0);
    if (r.type == GdsRecord::Datatype) datatype = r.Int16(0);
    if (r.type == GdsRecord::XY && r.payload.size() > 8) {
      const size_t n = r.payload.size() / 8;
      int64_t a = 0, x1 = INT32_MAX, x2 = INT32_MIN;
      for (size_t k = 0; k + 1 < n; ++k) {
        a += int64_t(r.Int32(2 * k)) * r.Int32(2 * k + 3) -
             int64_t(r.Int32(2 * k + 2)) * r.Int32(2 * k + 1);
        x1 = std::min<int64_t>(x1, r.Int32(2 * k));
        x2 = std::max<int64_t>(x2, r.Int32(2 * k));
      }
      s.twiceArea[{layer, datatype}] += a;
      s.maxSide = std::max(s.maxSide, x2 - x1);
    }
  }
  return s;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string gds = tmp_.File("std.gds");
    WriteStandardGds(gds);
    api_.OpenLibrary(LibraryDir(tmp_, "lib").c_str(), 0);
    Captured([&] { ASSERT_EQ(api_.LoadGds(gds.c_str(), 0, ""), 1); });
  }
  void TearDown() override { SetLogStream(nullptr); }
  void Area(int x1, int y1, int x2, int y2) {
    Captured([&] { ASSERT_EQ(api_.SetArea("top", x1, y1, x2, y2), 1); });
  }
  test::TempDir tmp_;
  InspectableApi api_;
};

// Inside (0, 0, 2100, 1000): {1 0} top's square 1000 x 1000 and the child's
// (2000, 0)-(2100, 100); {2 0} the child's (2050, 50)-(2100, 100) clipped.
TEST_F(ExtractTest, FlatAndMergedGdsCoverTheBoxesInsideTheArea) {
  Area(0, 0, 2100, 1000);
  const std::string flat = tmp_.File("flat.gds");
  int ok = 0;
  std::string text = Captured([&] { ok = api_.ExtractFlatGds(flat.c_str(), 0); });
  ASSERT_EQ(ok, 1) << text;
  EXPECT_NE(text.find("Extracting by flattening to GDS " + flat), std::string::npos);
  GdsSummary s = Summarise(flat);
  EXPECT_EQ(s.twiceArea[std::make_pair(1, 0)], 2 * (1000000 + 10000));
  EXPECT_EQ(s.twiceArea[std::make_pair(2, 0)], 2 * 5000);
  EXPECT_EQ(s.twiceArea.size(), 2u);
  EXPECT_EQ(s.structures, std::set<std::string>{"top"});

  const std::string merged = tmp_.File("merged.gds.gz");
  api_.tech.maxSize = 300;
  text = Captured([&] { ok = api_.ExtractMergedGds(9, 200, merged.c_str(), 1); });
  ASSERT_EQ(ok, 1) << text;
  s = Summarise(merged);
  // The union of both layers (they overlap in (2050, 50)-(2100, 100));
  // every tile within 300 nm.
  EXPECT_EQ(s.twiceArea[std::make_pair(9, 200)], 2 * (1000000 + 10000 + 5000 - 2500));
  EXPECT_EQ(s.twiceArea.size(), 1u);
  EXPECT_LE(s.maxSide, 300);
}

TEST_F(ExtractTest, AnEmptyAreaWritesNoMergedFileAndNoPolygonFile) {
  Area(1200, 200, 1300, 300);
  const std::string merged = tmp_.File("m.gds");
  const std::string poly = tmp_.File("p.txt");
  int ok = 0;
  std::string text = Captured([&] { ok = api_.ExtractMergedGds(1, 0, merged.c_str(), 0); });
  EXPECT_EQ(ok, 1);
  EXPECT_NE(text.find("Warning: Empty area, skip\n"), std::string::npos);
  EXPECT_FALSE(Exists(merged));
  Captured([&] { ok = api_.ExtractPoly(poly.c_str()); });
  EXPECT_EQ(ok, 1);
  EXPECT_FALSE(Exists(poly));
  // The flat extraction writes the one empty cell.
  const std::string flat = tmp_.File("f.gds");
  Captured([&] { ok = api_.ExtractFlatGds(flat.c_str(), 0); });
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Summarise(flat).structures, std::set<std::string>{"top"});
  EXPECT_TRUE(Summarise(flat).twiceArea.empty());
}

TEST_F(ExtractTest, HierarchicalExtractionWritesTheReachedCellsOnly) {
  Area(1500, 0, 2200, 200);
  const std::string out = tmp_.File("h.gds");
  int ok = 0;
  const std::string text = Captured([&] { ok = api_.ExtractHierGds(out.c_str(), 0); });
  ASSERT_EQ(ok, 1) << text;
  GdsSummary s = Summarise(out);
  EXPECT_EQ(s.structures, (std::set<std::string>{"top", "child"}));
  // The child whole on both layers; top's own square lies outside.
  EXPECT_EQ(s.twiceArea[std::make_pair(1, 0)], 2 * 10000);
  EXPECT_EQ(s.twiceArea[std::make_pair(2, 0)], 2 * 10000);
  for (DBCell* cell : api_.currentLib->cells) {
    if (cell != nullptr) {
      EXPECT_EQ(cell->flags & DBCell::Marked, 0);
    }
  }
}

TEST(ExtractMskTest, TheWorkedExampleByteForByteAndTheSizeLimit) {
  test::TempDir tmp;
  test::GdsBuilder b;
  b.BeginLib("LIB").BeginStr("cell").Rect(1, 0, 10, 10, 20, 20).Rect(2, 0, 0, 0, 1, 1).EndStr().EndLib();
  b.WriteFile(tmp.File("m.gds"));
  InspectableApi api;
  api.OpenLibrary(LibraryDir(tmp, "lib").c_str(), 0);
  Captured([&] { ASSERT_EQ(api.LoadGds(tmp.File("m.gds").c_str(), 0, ""), 1); });
  Captured([&] { ASSERT_EQ(api.SetArea("cell", 0, 0, 100, 80), 1); });
  api.AddOpLayer(1, 0);
  const std::string out = tmp.File("a.msk");
  int ok = 0;
  const std::string text = Captured([&] { ok = api.ExtractMsk(2, out.c_str()); });
  ASSERT_EQ(ok, 1) << text;
  const std::string body = ReadFile(out);
  const std::string head =
      "[Version]\n7.2\n[Parameters]\ncell\n80.000, 100.000, 0.000, 0.000\n"
      "80.000, 100.000, 0.000, 0.000\n1.000\n0.000\n0.000\n0\n1\n[Data]\n"
      "Polygon(0.0000, 0.00, 2)\n{\n";
  ASSERT_EQ(body.substr(0, head.size()), head);
  const std::string tail = "}\n[KTV]\n";
  ASSERT_EQ(body.substr(body.size() - tail.size()), tail);
  std::set<std::string> vertices;
  std::string rest = body.substr(head.size(), body.size() - head.size() - tail.size());
  for (size_t at = 0; at < rest.size();) {
    const size_t nl = rest.find('\n', at);
    vertices.insert(rest.substr(at, nl - at));
    at = nl + 1;
  }
  EXPECT_EQ(vertices, (std::set<std::string>{"   10.000, 10.000", "   20.000, 10.000",
                                             "   20.000, 20.000", "   10.000, 20.000"}));

  Captured([&] { ASSERT_EQ(api.SetArea("cell", 0, 0, 101, 80), 1); });
  const std::string big = tmp.File("big.msk");
  const std::string refused = Captured([&] { ok = api.ExtractMsk(2, big.c_str()); });
  EXPECT_EQ(ok, 0);
  EXPECT_NE(refused.find("Error: area is too big for msk file !\n"), std::string::npos);
  EXPECT_FALSE(Exists(big));

  Captured([&] { ASSERT_EQ(api.SetArea("cell", 0, 0, 100, 80), 1); });
  const std::string nowhere = tmp.File("missing/a.msk");
  const std::string failed = Captured([&] { ok = api.ExtractMsk(2, nowhere.c_str()); });
  EXPECT_EQ(ok, 0);
  EXPECT_NE(failed.find("Error: Output file could not be opened !\n"), std::string::npos)
      << failed;
}

// Every extraction, by name, on the API with its target.
struct Extraction {
  const char* name;
  std::function<int(InspectableApi&, const char*)> run;
};

const std::vector<Extraction>& Extractions() {
  static const std::vector<Extraction> all = {
      {"poly", [](InspectableApi& a, const char* f) { return a.ExtractPoly(f); }},
      {"flat", [](InspectableApi& a, const char* f) { return a.ExtractFlatGds(f, 0); }},
      {"merged", [](InspectableApi& a, const char* f) { return a.ExtractMergedGds(1, 0, f, 1); }},
      {"hier", [](InspectableApi& a, const char* f) { return a.ExtractHierGds(f, 0); }},
      {"msk", [](InspectableApi& a, const char* f) { return a.ExtractMsk(2, f); }},
  };
  return all;
}

// A write that fails half-way (file-size limit): every extraction returns
// 0, an existing target keeps its content and no temporary file is left.
TEST_F(ExtractTest, AFailedWriteLeavesTheTargetUntouched) {
  Area(2000, 0, 2100, 100);  // the child's corner, small enough for the mask file
  for (const Extraction& e : Extractions()) {
    SCOPED_TRACE(e.name);
    const std::string target = std::string(e.name) + ".out";
    tmp_.Write(target, "old contents");
    int ok = 1;
    {
      test::FileSizeLimit limit(16);
      Captured([&] { ok = e.run(api_, tmp_.File(target).c_str()); });
    }
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(ReadFile(tmp_.File(target)), "old contents");
  }
  for (const std::string& entry : tmp_.Entries())
    EXPECT_TRUE(entry == "std.gds" || entry == "lib" || entry.ends_with(".out"))
        << "left behind: " << entry;
}

// A target in a missing folder: each extraction reports it and returns 0.
TEST_F(ExtractTest, AnUnopenableTargetIsReported) {
  Area(0, 0, 100, 80);
  const std::map<std::string, std::string> messages = {
      {"poly", "Error: Output file %s could not be opened !\n"},
      {"flat", "ERROR: GDSOUT: Cannot open file %s!\n"},
      {"merged", "ERROR: GDSOUT: Cannot open file %s!\n"},
      {"hier", "ERROR: GDSOUT: Cannot open file %s!\n"},
      {"msk", "Error: Output file could not be opened !\n"},
  };
  for (const Extraction& e : Extractions()) {
    SCOPED_TRACE(e.name);
    const std::string target = tmp_.File(std::string("missing/") + e.name);
    int ok = 1;
    const std::string text = Captured([&] { ok = e.run(api_, target.c_str()); });
    EXPECT_EQ(ok, 0);
    std::string message = messages.at(e.name);
    if (const size_t at = message.find("%s"); at != std::string::npos)
      message.replace(at, 2, target);
    EXPECT_NE(text.find(message), std::string::npos) << text;
    EXPECT_FALSE(Exists(target));
  }
}

// Database unit 0.1 nm (scale 10): an area 1,000 units wide is 100 nm and
// accepted, 1,010 units is refused; the box line is in nanometres rounded
// outward (x1 = 15 gives 1.000), the vertices stay in database units.
TEST(ExtractMskTest, TheBoxLineIsInNanometresAtScaleTen) {
  test::TempDir tmp;
  test::GdsBuilder b;
  b.BeginLib("LIB", 0.0001, 1e-10).BeginStr("cell").Rect(1, 0, 100, 100, 200, 200).EndStr().EndLib();
  b.WriteFile(tmp.File("m.gds"));
  InspectableApi api;
  api.OpenLibrary(LibraryDir(tmp, "lib").c_str(), 0);
  Captured([&] { ASSERT_EQ(api.LoadGds(tmp.File("m.gds").c_str(), 0, ""), 1); });
  // The area is given in nanometres; the box in database units is set
  // here to reach a coordinate between two nanometres.
  Captured([&] { ASSERT_EQ(api.SetArea("cell", 1, 0, 101, 80), 1); });
  ASSERT_EQ(api.area.x2, 1010);
  api.area = Box(15, 0, 1015, 795);
  const std::string out = tmp.File("a.msk");
  int ok = 0;
  std::string text = Captured([&] { ok = api.ExtractMsk(2, out.c_str()); });
  ASSERT_EQ(ok, 1) << text;
  const std::string body = ReadFile(out);
  EXPECT_NE(body.find("[Parameters]\ncell\n80.000, 102.000, 0.000, 1.000\n"
                      "80.000, 102.000, 0.000, 1.000\n"),
            std::string::npos)
      << body;
  for (const char* vertex : {"   100.000, 100.000\n", "   200.000, 100.000\n",
                             "   200.000, 200.000\n", "   100.000, 200.000\n"})
    EXPECT_NE(body.find(vertex), std::string::npos) << body;

  api.area = Box(15, 0, 1025, 795);
  text = Captured([&] { ok = api.ExtractMsk(2, tmp.File("big.msk").c_str()); });
  EXPECT_EQ(ok, 0);
  EXPECT_NE(text.find("Error: area is too big for msk file !\n"), std::string::npos) << text;
  EXPECT_FALSE(Exists(tmp.File("big.msk")));
}


// --- Extractions of a layout with arrays, against its own flattening --------------

namespace arrays {

using Ring = std::vector<Point>;
using LayerCover = std::map<int, std::vector<Ring>>;  // layer * 256 + datatype

constexpr int kL1 = 1 * 256, kL2 = 2 * 256 + 7, kL3 = 3 * 256;

struct Shape {
  int16_t layer, datatype;
  Ring pts;
};

// A reference; an array when columns or rows exceed 1. Element (c, r) lies
// at p0 + c (p1 - p0) / columns + r (p2 - p0) / rows; the cell is mirrored
// about x (reflect), magnified, then turned counter-clockwise by angle.
struct Placement {
  std::string cell;
  int16_t columns = 1, rows = 1;
  Point p0, p1, p2;
  bool reflect = false;
  int angle = 0;
  int mag = 1;
};

struct CellSpec {
  std::string name;
  std::vector<Shape> shapes;
  std::vector<Placement> refs;
};

// Children first. The leaf is asymmetric on both layers so that a wrong
// turn or mirror moves geometry; the arrays step along either axis with
// pitches of either sign, in several orientations, with magnification.
const std::vector<CellSpec>& Layout() {
  static const std::vector<CellSpec> cells = {
      {"leaf",
       {{1, 0, oracle::Rect(0, 0, 8, 4)}, {2, 7, {{0, 0}, {6, 0}, {0, 6}}}},
       {}},
      {"mid",
       {{1, 0, oracle::Rect(-6, -6, -2, -2)}},
       {
           // 3 x 2, columns +12 along x, rows +10.
           {"leaf", 3, 2, {0, 0}, {36, 0}, {0, 20}},
           // Turned 90: 2 x 3, columns -14 along x, rows +12.
           {"leaf", 2, 3, {80, 0}, {52, 0}, {80, 36}, false, 90},
           // Mirrored, turned 90, magnified 2: columns -20 along y, rows +18
           // along x.
           {"leaf", 2, 2, {120, 40}, {120, 0}, {156, 40}, true, 90, 2},
           // Mirrored, turned 180: one row of 3 columns at -10.
           {"leaf", 3, 1, {200, 0}, {170, 0}, {200, 5}, true, 180},
       }},
      {"top",
       {{3, 0, oracle::Rect(-10, -10, 300, -5)}},
       {
           {"mid", 1, 1, {0, 0}, {}, {}},
           {"mid", 1, 1, {400, 300}, {}, {}, false, 270},
           // Mirrored mid twice, columns -250 along x.
           {"mid", 2, 1, {0, 200}, {-500, 200}, {0, 210}, true},
           // Leaves turned 90, magnified 2: 4 x 3, columns +20, rows -20.
           {"leaf", 4, 3, {600, 0}, {680, 0}, {600, -60}, false, 90, 2},
       }},
  };
  return cells;
}

void WriteLayoutGds(const std::string& path) {
  test::GdsBuilder b;
  b.BeginLib("ARRAYS");
  for (const CellSpec& c : Layout()) {
    b.BeginStr(c.name);
    for (const Shape& s : c.shapes) b.Boundary(s.layer, s.datatype, s.pts);
    for (const Placement& p : c.refs) {
      test::GdsStrans st;
      st.reflect = p.reflect;
      if (p.angle != 0) st.angle = p.angle;
      if (p.mag != 1) st.mag = p.mag;
      if (p.columns == 1 && p.rows == 1)
        b.SRef(p.cell, p.p0, st);
      else
        b.ARef(p.cell, p.columns, p.rows, p.p0, p.p1, p.p2, st);
    }
    b.EndStr();
  }
  b.EndLib();
  b.WriteFile(path);
}

Point Place(const Placement& p, Point origin, Point q) {
  int64_t x = int64_t(q.x) * p.mag, y = int64_t(p.reflect ? -q.y : q.y) * p.mag;
  for (int a = 0; a < p.angle; a += 90) std::swap(x, y), x = -x;  // 90 counter-clockwise
  return Point(int32_t(origin.x + x), int32_t(origin.y + y));
}

// Every shape of the named cell and its descendants, in its coordinates.
LayerCover Flatten(const std::string& name) {
  const auto& cells = Layout();
  const CellSpec& c = *std::find_if(cells.begin(), cells.end(),
                                    [&](const CellSpec& s) { return s.name == name; });
  LayerCover out;
  for (const Shape& s : c.shapes) out[s.layer * 256 + s.datatype].push_back(s.pts);
  for (const Placement& p : c.refs) {
    const LayerCover child = Flatten(p.cell);
    for (int col = 0; col < p.columns; ++col)
      for (int row = 0; row < p.rows; ++row) {
        const Point origin(p.p0.x + col * (p.p1.x - p.p0.x) / p.columns +
                               row * (p.p2.x - p.p0.x) / p.rows,
                           p.p0.y + col * (p.p1.y - p.p0.y) / p.columns +
                               row * (p.p2.y - p.p0.y) / p.rows);
        for (const auto& [key, rings] : child)
          for (const Ring& r : rings) {
            Ring placed;
            for (const Point& q : r) placed.push_back(Place(p, origin, q));
            out[key].push_back(placed);
          }
      }
  }
  return out;
}

// Coverage of a ring set on the samples (i + 1/4, j + 1/2) and
// (i + 3/4, j + 1/2) of every unit square of grid: off every horizontal,
// vertical and 45-degree line through grid points, so exact for the
// octilinear shapes here. A sample is covered when some ring winds around
// it (rings of a flat extraction may overlap or run either way); with clip,
// only samples inside clip count.
struct Raster {
  Box grid;
  std::vector<uint8_t> bits;
  explicit Raster(const Box& g)
      : grid(g), bits(size_t(2) * (g.x2 - g.x1) * (g.y2 - g.y1), 0) {}
  void Add(const std::vector<Ring>& rings, const Box* clip = nullptr) {
    for (const Ring& r : rings) {
      int32_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
      for (const Point& p : r) {
        x1 = std::min(x1, p.x), y1 = std::min(y1, p.y);
        x2 = std::max(x2, p.x), y2 = std::max(y2, p.y);
      }
      if (clip != nullptr) {
        x1 = std::max(x1, clip->x1), y1 = std::max(y1, clip->y1);
        x2 = std::min(x2, clip->x2), y2 = std::min(y2, clip->y2);
      }
      x1 = std::max(x1, grid.x1), y1 = std::max(y1, grid.y1);
      x2 = std::min(x2, grid.x2), y2 = std::min(y2, grid.y2);
      for (int32_t j = y1; j < y2; ++j)
        for (int32_t i = x1; i < x2; ++i)
          for (int half = 0; half < 2; ++half)
            if (oracle::WindingScaled(r, 4 * int64_t(i) + 1 + 2 * half, 4 * int64_t(j) + 2, 4) != 0)
              bits[Index(i, j, half)] = 1;
    }
  }
  size_t Index(int32_t i, int32_t j, int half) const {
    return 2 * (size_t(j - grid.y1) * size_t(grid.x2 - grid.x1) + size_t(i - grid.x1)) + half;
  }
  bool Empty() const { return std::count(bits.begin(), bits.end(), 1) == 0; }
  // The samples where this and other differ; the first few in where.
  int Mismatches(const Raster& other, std::string& where) const {
    int n = 0;
    for (int32_t j = grid.y1; j < grid.y2; ++j)
      for (int32_t i = grid.x1; i < grid.x2; ++i)
        for (int half = 0; half < 2; ++half)
          if (bits[Index(i, j, half)] != other.bits[Index(i, j, half)] && n++ < 5) {
            char text[96];
            std::snprintf(text, sizeof text, "(%.2f, %.1f %s) ", i + 0.25 + 0.5 * half,
                          j + 0.5, bits[Index(i, j, half)] ? "only expected" : "only written");
            where += text;
          }
    return n;
  }
};

std::vector<Ring> RingsOf(PSList& list) { return oracle::ResultRings(list); }

// The one structure of a GDSII file loaded by the system's reader into a
// library of its own: its name and its rings per layer key.
struct ReadBack {
  std::set<std::string> cells;
  LayerCover layers;
};

ReadBack ReadGds(test::TempDir& tmp, const std::string& path, int gz) {
  static int count = 0;
  ReadBack out;
  InspectableApi back;
  back.OpenLibrary(LibraryDir(tmp, "back" + std::to_string(++count)).c_str(), 0);
  int ok = 0;
  const std::string text = Captured([&] { ok = back.LoadGds(path.c_str(), gz, ""); });
  EXPECT_EQ(ok, 1) << text;
  for (DBCell* cell : back.currentLib->cells) {
    if (cell == nullptr || cell->name == nullptr) continue;
    out.cells.insert(*cell->name);
    if (!cell->box.IsValid()) continue;
    LayerRings rings;
    const Trans identity;
    back.currentLib->CollectPolygons(cell, &cell->box, &identity, nullptr, &rings, 0);
    for (auto& [key, list] : rings) {
      std::vector<Ring> rs = RingsOf(list);
      auto& into = out.layers[int(key)];
      into.insert(into.end(), rs.begin(), rs.end());
      ClearPointList(list);
    }
  }
  return out;
}

struct AreaCase {
  const char* name;
  Box box;
  std::set<int> layers;  // the operation layers; empty: every layer
  int gz;
};

// Extraction areas: the whole layout; crossing the arrays of top and mid
// (columns and rows partly inside, 45-degree edges cut); inside the
// magnified mirrored array; a gap between array elements (nothing there).
const AreaCase kAreas[] = {
    {"whole", Box(-300, -100, 700, 320), {}, 0},
    {"crossing", Box(10, -30, 615, 180), {}, 1},
    {"crossing, two layers", Box(10, -30, 615, 180), {kL1, kL3}, 0},
    {"inside", Box(125, 10, 150, 50), {kL2}, 0},
    {"gap", Box(9, 7, 11, 9), {}, 0},
};

class ExtractArraysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string gds = tmp_.File("arrays.gds");
    WriteLayoutGds(gds);
    api_.OpenLibrary(LibraryDir(tmp_, "lib").c_str(), 0);
    Captured([&] { ASSERT_EQ(api_.LoadGds(gds.c_str(), 0, ""), 1); });
  }
  void TearDown() override { SetLogStream(nullptr); }
  test::TempDir tmp_;
  InspectableApi api_;
};

TEST_F(ExtractArraysTest, ExtractionsCoverTheFlattenedLayoutInsideTheArea) {
  const LayerCover flat = Flatten("top");
  constexpr int kMaxSize = 25;
  api_.tech.maxSize = kMaxSize;
  int run = 0;
  for (const AreaCase& c : kAreas) {
    SCOPED_TRACE(c.name);
    Captured([&] {
      ASSERT_EQ(api_.SetArea("top", c.box.x1, c.box.y1, c.box.x2, c.box.y2), 1);
    });
    ASSERT_EQ(api_.area, c.box);
    // Sampled a little beyond the area: nothing may be written outside it.
    const Box grid(c.box.x1 - 3, c.box.y1 - 3, c.box.x2 + 3, c.box.y2 + 3);
    std::set<int> keys = c.layers;
    if (keys.empty())
      for (const auto& [key, rings] : flat) keys.insert(key);
    std::map<int, Raster> expected;
    Raster expectedUnion(grid);
    for (int key : keys) {
      expected.emplace(key, Raster(grid)).first->second.Add(flat.at(key), &c.box);
      expectedUnion.Add(flat.at(key), &c.box);
    }
    const bool empty = expectedUnion.Empty();
    ASSERT_EQ(empty, std::string(c.name) == "gap");
    const std::string tag = std::to_string(++run);
    api_.opLayers = c.layers;

    // Flat: one structure named as the working cell; per layer, the layer's
    // coverage inside the area; no other layer.
    const std::string flatFile = tmp_.File("flat" + tag + (c.gz ? ".gds.gz" : ".gds"));
    int ok = 0;
    std::string text = Captured([&] { ok = api_.ExtractFlatGds(flatFile.c_str(), c.gz); });
    ASSERT_EQ(ok, 1) << text;
    const ReadBack flatBack = ReadGds(tmp_, flatFile, c.gz);
    EXPECT_EQ(flatBack.cells, std::set<std::string>{"top"});
    for (const auto& [key, rings] : flatBack.layers) {
      EXPECT_TRUE(keys.count(key)) << "layer key " << key << " written";
      EXPECT_FALSE(rings.empty() && empty);
    }
    for (const auto& [key, want] : expected) {
      SCOPED_TRACE("flat, layer key " + std::to_string(key));
      Raster got(grid);
      if (auto it = flatBack.layers.find(key); it != flatBack.layers.end()) got.Add(it->second);
      std::string where;
      EXPECT_EQ(want.Mismatches(got, where), 0) << where;
    }
    if (empty) {
      EXPECT_TRUE(flatBack.layers.empty());
    }

    // Polygons, one layer at a time: the layer's coverage, or no file.
    for (int key : keys) {
      SCOPED_TRACE("polygons, layer key " + std::to_string(key));
      api_.opLayers = {key};
      const std::string polyFile = tmp_.File("poly" + tag + "_" + std::to_string(key) + ".txt");
      text = Captured([&] { ok = api_.ExtractPoly(polyFile.c_str()); });
      ASSERT_EQ(ok, 1) << text;
      if (expected.at(key).Empty()) {
        EXPECT_FALSE(Exists(polyFile));
        continue;
      }
      ScratchList read;
      Captured([&] { ASSERT_TRUE(ReadPolygonFile(read.list, polyFile, false)); });
      Raster got(grid);
      got.Add(RingsOf(read.list));
      std::string where;
      EXPECT_EQ(expected.at(key).Mismatches(got, where), 0) << where;
    }
    api_.opLayers = c.layers;

    // Merged: one layer covering the union of the layers inside the area,
    // in tiles within the tile size; nothing written for an empty area.
    const std::string mergedFile = tmp_.File("merged" + tag + (c.gz ? ".gds.gz" : ".gds"));
    text = Captured([&] { ok = api_.ExtractMergedGds(9, 200, mergedFile.c_str(), c.gz); });
    ASSERT_EQ(ok, 1) << text;
    if (empty) {
      EXPECT_NE(text.find("Warning: Empty area, skip\n"), std::string::npos) << text;
      EXPECT_FALSE(Exists(mergedFile));
      continue;
    }
    const ReadBack merged = ReadGds(tmp_, mergedFile, c.gz);
    EXPECT_EQ(merged.cells, std::set<std::string>{"top"});
    ASSERT_EQ(merged.layers.size(), 1u);
    ASSERT_EQ(merged.layers.begin()->first, 9 * 256 + 200);
    const std::vector<Ring>& tiles = merged.layers.begin()->second;
    for (const Ring& r : tiles) {
      int32_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
      for (const Point& p : r) {
        x1 = std::min(x1, p.x), y1 = std::min(y1, p.y);
        x2 = std::max(x2, p.x), y2 = std::max(y2, p.y);
      }
      EXPECT_LE(x2 - x1, kMaxSize);
      EXPECT_LE(y2 - y1, kMaxSize);
    }
    Raster got(grid);
    got.Add(tiles);
    std::string where;
    EXPECT_EQ(expectedUnion.Mismatches(got, where), 0) << where;
  }
}

}  // namespace arrays

}  // namespace
}  // namespace velmar
