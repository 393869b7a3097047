// Area extraction to files, on the standard two-level layout: the areas
// written per layer against the area of the boxes inside the window,
// computed here; the reached cells of the hierarchical extraction; the mask
// file of the worked example.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "formats/gds_records.h"
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

}  // namespace
}  // namespace velmar
