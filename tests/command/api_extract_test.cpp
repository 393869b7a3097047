// Area extraction to files, on the standard two-level layout: the areas
// written per layer against the area of the boxes inside the window,
// computed here; the reached cells of the hierarchical extraction; the mask
// file of the worked example.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "formats/gds_records.h"
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

}  // namespace
}  // namespace velmar
