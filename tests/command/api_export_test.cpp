// API::WriteGds: the export frame (echo, update summary first, layer filter
// and map, the skip without file), failures that leave the target
// untouched, and round trips LoadGds -> WriteGds -> LoadGds that give equal
// libraries.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/generated_layout.h"
#include "command/store_fixtures.h"
#include "formats/gds_records.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"
#include "support/boolean_oracle.h"
#include "support/file_size_limit.h"
#include "support/gds_builder.h"
#include "support/gdspy_oracle.h"
#include "support/raster_cover.h"

#ifndef VELMAR_TESTDATA_DIR
#define VELMAR_TESTDATA_DIR "../shared/testdata"
#endif

namespace velmar {
namespace {

using test::InspectableApi;
using namespace store_test;  // the stored-library fixtures

using Ring = std::vector<Point>;

Ring Canonical(Ring r) {
  int64_t a = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& p = r[i];
    const Point& q = r[(i + 1) % r.size()];
    a += int64_t(p.x) * q.y - int64_t(q.x) * p.y;
  }
  if (a < 0) std::reverse(r.begin(), r.end());
  auto low = std::min_element(r.begin(), r.end(), [](const Point& p, const Point& q) {
    return p.x != q.x ? p.x < q.x : p.y < q.y;
  });
  std::rotate(r.begin(), low, r.end());
  return r;
}

// One cell as a reader sees it: per layer its placed shapes (canonical
// rings) and its references (arrays expanded into elements).
struct CellContent {
  std::map<int32_t, std::multiset<std::vector<std::pair<int32_t, int32_t>>>> shapes;
  std::multiset<std::string> placements;
  friend bool operator==(const CellContent&, const CellContent&) = default;
};

std::map<std::string, CellContent> ReadLibrary(const std::string& dir) {
  LibDB lib(dir.c_str(), 0);
  lib.ReadInfo();
  lib.ReadNames();
  std::map<std::string, CellContent> out;
  for (DBCell* cell : lib.cells) {
    if (cell == nullptr || !cell->box.IsValid() || cell->name == nullptr) continue;
    lib.LoadCell(cell, false);
    CellContent& c = out[*cell->name];
    for (auto& [key, raw] : cell->rawLayers) {
      if (key >= ReferenceKey) continue;
      for (CPgonListNode* s = raw.first; s != nullptr; s = s->next) {
        ScratchList list;
        PSPoint* first = s->polygon->ToRing(list.list);
        Ring rel;
        const PSPoint* p = first;
        do {
          rel.push_back(Point(p->x, p->y));
          p = p->next;
        } while (p != first);
        for (LocListNode* at = s->placements.first; at != nullptr; at = at->next) {
          Ring placed;
          for (const Point& q : rel) placed.push_back(Point(q.x + at->x, q.y + at->y));
          std::vector<std::pair<int32_t, int32_t>> ring;
          for (const Point& q : Canonical(placed)) ring.emplace_back(q.x, q.y);
          c.shapes[key].insert(ring);
        }
      }
    }
    auto refs = cell->indexedLayers.find(ReferenceKey);
    if (refs == cell->indexedLayers.end()) continue;
    for (DBSearchNode* n = DBSearchSystem::First(refs->second); n != nullptr;
         n = DBSearchSystem::Next(n)) {
      if (!n->IsData() || n->item == nullptr) continue;
      const SRef& ref = *static_cast<const SRef*>(n->item);
      const std::string child = *lib.cells[size_t(ref.CellId())]->name;
      auto add = [&](const Trans& t) {
        std::ostringstream s;
        s << child << " " << t.x << " " << t.y << " " << int(t.orientation) << " " << t.mag;
        c.placements.insert(s.str());
      };
      if (!ref.IsArray()) {
        add(ref);
        continue;
      }
      const ARef& a = static_cast<const ARef&>(ref);
      for (int i = 0; i < a.columns; ++i)
        for (int j = 0; j < a.rows; ++j) add(a.ElementTrans(i, j));
    }
  }
  return out;
}

// Two libraries read by ReadLibrary hold the same cells, placements and,
// per layer, the same shapes. Only polygons of more than cutAbove vertices
// may have been cut into pieces of at most cutAbove: those left over on
// either side must cover the same ground, sampled on a grid.
void ExpectSameLibraries(const std::map<std::string, CellContent>& a,
                         const std::map<std::string, CellContent>& b, size_t cutAbove) {
  std::set<std::string> namesA, namesB;
  for (const auto& [name, c] : a) namesA.insert(name);
  for (const auto& [name, c] : b) namesB.insert(name);
  ASSERT_EQ(namesA, namesB);
  for (const auto& [name, ca] : a) {
    SCOPED_TRACE("cell " + name);
    const CellContent& cb = b.at(name);
    EXPECT_EQ(ca.placements, cb.placements);
    std::set<int32_t> keysA, keysB;
    for (const auto& [key, rings] : ca.shapes) keysA.insert(key);
    for (const auto& [key, rings] : cb.shapes) keysB.insert(key);
    EXPECT_EQ(keysA, keysB);
    for (const auto& [key, ringsA] : ca.shapes) {
      auto it = cb.shapes.find(key);
      if (it == cb.shapes.end()) continue;
      using Shape = std::vector<std::pair<int32_t, int32_t>>;
      std::vector<Shape> onlyA, onlyB;
      std::set_difference(ringsA.begin(), ringsA.end(), it->second.begin(), it->second.end(),
                          std::back_inserter(onlyA));
      std::set_difference(it->second.begin(), it->second.end(), ringsA.begin(), ringsA.end(),
                          std::back_inserter(onlyB));
      if (onlyA.empty() && onlyB.empty()) continue;
      SCOPED_TRACE("layer key " + std::to_string(key));
      std::vector<std::vector<Point>> ra, rb;
      Box box;
      for (const Shape& s : onlyA) {
        EXPECT_GT(s.size(), cutAbove) << "a shape within the vertex limit changed";
        ra.emplace_back();
        for (auto [x, y] : s) ra.back().push_back(Point(x, y)), box.Extend(x, y);
      }
      for (const Shape& s : onlyB) {
        EXPECT_LE(s.size(), cutAbove) << "a piece above the vertex limit";
        rb.emplace_back();
        for (auto [x, y] : s) rb.back().push_back(Point(x, y)), box.Extend(x, y);
      }
      ASSERT_FALSE(ra.empty()) << "pieces without a cut polygon";
      ASSERT_FALSE(rb.empty()) << "a cut polygon without pieces";
      std::string where;
      EXPECT_EQ(test::CoverMismatches(ra, rb, box, 300, &where), 0) << where;
    }
  }
}

class ExportTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLogStream(nullptr); }

  // An API with a library loaded from gds (its own directory).
  std::unique_ptr<InspectableApi> Loaded(const std::string& gds, const std::string& name) {
    auto api = std::make_unique<InspectableApi>();
    const std::string dir = LibraryDir(tmp_, name);
    api->OpenLibrary(dir.c_str(), 0);
    int ok = 0;
    const std::string out = Captured([&] { ok = api->LoadGds(gds.c_str(), 0, ""); });
    EXPECT_EQ(ok, 1) << out;
    return api;
  }

  // LoadGds of gds, WriteGds (plain and gzip), LoadGds of each output into
  // a new library: the libraries are equal.
  void ExpectRoundTrip(const std::string& gds, const std::string& name) {
    auto api = Loaded(gds, name + "_a");
    for (int gz : {0, 1}) {
      SCOPED_TRACE(gz ? "gzip" : "plain");
      const std::string out = tmp_.File(name + (gz ? ".out.gds.gz" : ".out.gds"));
      int ok = 0;
      const std::string text = Captured([&] { ok = api->WriteGds(out.c_str(), gz); });
      ASSERT_EQ(ok, 1) << text;
      InspectableApi back;
      const std::string dir = LibraryDir(tmp_, name + "_b" + std::to_string(gz));
      back.OpenLibrary(dir.c_str(), 0);
      const std::string read = Captured([&] { ok = back.LoadGds(out.c_str(), gz, ""); });
      ASSERT_EQ(ok, 1) << read;
      Captured([&] { back.CloseLibraries(); });
      ExpectSameLibraries(ReadLibrary(tmp_.File(name + "_a")), ReadLibrary(dir),
                          size_t(api->tech.maxVertice));
    }
    // The same through WriteOasis and LoadOasis.
    const std::string oas = tmp_.File(name + ".out.oas");
    int ok = 0;
    const std::string text = Captured([&] { ok = api->WriteOasis(oas.c_str()); });
    ASSERT_EQ(ok, 1) << text;
    InspectableApi back;
    const std::string dir = LibraryDir(tmp_, name + "_oas");
    back.OpenLibrary(dir.c_str(), 0);
    const std::string read = Captured([&] { ok = back.LoadOasis(oas.c_str(), ""); });
    ASSERT_EQ(ok, 1) << read;
    Captured([&] { back.CloseLibraries(); });
    SCOPED_TRACE("OASIS");
    ExpectSameLibraries(ReadLibrary(tmp_.File(name + "_a")), ReadLibrary(dir), SIZE_MAX);
  }

  test::TempDir tmp_;
};

TEST_F(ExportTest, WritesAfterTheUpdateSummaryWithFilterAndMap) {
  const std::string gds = tmp_.File("std.gds");
  WriteStandardGds(gds);
  struct Case {
    const char* name;
    std::set<int> filter;
    std::map<int, int> map;
    std::set<std::pair<int, int>> layers;  // layer/datatype pairs written
  };
  const std::vector<Case> cases = {
      {"every layer", {}, {}, {{1, 0}, {2, 0}, {3, 0}}},
      {"filter", {MakeLayerKey(1, 0), MakeLayerKey(9, 9)}, {}, {{1, 0}}},
      {"map", {}, {{MakeLayerKey(2, 0), MakeLayerKey(7, 3)}}, {{1, 0}, {7, 3}, {3, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto api = Loaded(gds, std::string("lib_") + c.name);
    api->opLayers = c.filter;
    api->layerMap = c.map;
    const std::string out = tmp_.File(std::string(c.name) + ".gds");
    int ok = 0;
    const std::string text = Captured([&] { ok = api->WriteGds(out.c_str(), 0); });
    EXPECT_EQ(ok, 1);
    // "\n", the date as ctime writes it (ending in "\n"), the line.
    const size_t dateEnd = text.find('\n', 1);
    EXPECT_EQ(text.substr(dateEnd + 1, out.size() + 13), "Writing GDS " + out + "\n") << text;
    EXPECT_EQ(text[0], '\n');
    const size_t summary = text.find("\nSummary:\n");
    const size_t unit = text.find("DB unit=");
    ASSERT_NE(summary, std::string::npos) << text;
    ASSERT_NE(unit, std::string::npos) << text;
    EXPECT_LT(summary, unit);
    std::set<std::pair<int, int>> layers;
    int16_t layer = 0;
    for (const auto& r : test::ParseGdsRecords(test::ReadFileBytes(out))) {
      if (r.type == GdsRecord::Layer) layer = r.Int16(0);
      if (r.type == GdsRecord::Datatype) layers.insert({layer, r.Int16(0)});
    }
    EXPECT_EQ(layers, c.layers);
  }
}

TEST_F(ExportTest, NoDefinedLayerSkipsWithoutTouchingTheTarget) {
  const std::string gds = tmp_.File("std.gds");
  WriteStandardGds(gds);
  auto api = Loaded(gds, "lib");
  api->opLayers = {MakeLayerKey(9, 0)};
  const std::string out = tmp_.File("kept.gds");
  tmp_.Write("kept.gds", "old");
  int ok = 0;
  const std::string text = Captured([&] { ok = api->WriteGds(out.c_str(), 0); });
  EXPECT_EQ(ok, 1);
  const size_t summary = text.find("\nSummary:\n");
  const size_t skip = text.find("No defined layers exist, skipping GDSOut\n");
  ASSERT_NE(summary, std::string::npos);
  ASSERT_NE(skip, std::string::npos);
  EXPECT_LT(summary, skip);
  EXPECT_EQ(ReadFile(out), "old");
  EXPECT_EQ(tmp_.Entries().size(), 3u);  // std.gds, lib, kept.gds
}

TEST_F(ExportTest, FailuresReportAndLeaveTheTargetUntouched) {
  const std::string gds = tmp_.File("std.gds");
  WriteStandardGds(gds);
  // The target cannot be created: the export ends before the update.
  {
    auto api = Loaded(gds, "lib1");
    const std::string out = tmp_.File("missing/dir/x.gds");
    int ok = 1;
    const std::string text = Captured([&] { ok = api->WriteGds(out.c_str(), 0); });
    EXPECT_EQ(ok, 0);
    EXPECT_NE(text.find("ERROR: GDSOUT: Cannot open file " + out + "!\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Summary:"), std::string::npos) << text;
  }
  // A write that fails half-way (file-size limit) and corrupt cell data.
  for (const char* what : {"size limit", "corrupt cell data"}) {
    SCOPED_TRACE(what);
    const std::string name = std::string("lib_") + (what[0] == 's' ? "s" : "c");
    auto api = Loaded(gds, name);
    Captured([&] { api->UpdateLibrary(); });
    if (what[0] == 'c') {
      // Cut the cell data file inside its first record.
      const std::string db = tmp_.File(name + "/db1");
      ASSERT_TRUE(Exists(db));
      ASSERT_EQ(::truncate(db.c_str(), 6), 0);
      Captured([&] { api->ClearMemory(); });
    }
    const std::string out = tmp_.File(name + ".gds");
    tmp_.Write(name + ".gds", "old contents");
    int ok = 1;
    std::string text;
    {
      std::unique_ptr<test::FileSizeLimit> limit;
      if (what[0] == 's') limit = std::make_unique<test::FileSizeLimit>(100);
      text = Captured([&] { ok = api->WriteGds(out.c_str(), 0); });
    }
    EXPECT_EQ(ok, 0) << text;
    // Under the size limit the captured output is cut as well.
    if (what[0] == 'c') {
      EXPECT_NE(text.find("ERROR: LIBIN: "), std::string::npos) << text;
    }
    EXPECT_EQ(ReadFile(out), "old contents");
    for (const std::string& e : tmp_.Entries())
      EXPECT_EQ(e.find(".lib_"), std::string::npos) << "temporary file left: " << e;
  }
}

TEST_F(ExportTest, OasisSkipsOrFailsAfterTheUpdateWithoutTouchingTheTarget) {
  const std::string gds = tmp_.File("std.gds");
  WriteStandardGds(gds);
  struct Case {
    const char* name;
    std::set<int> filter;
    const char* target;
    int result;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no defined layer", {MakeLayerKey(9, 0)}, "kept.oas", 1,
       "No defined layers exist, skipping OASISOut\n"},
      {"target cannot be created", {}, "missing/dir/x.oas", 0,
       "ERROR: OASISOUT: Cannot open file "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto api = Loaded(gds, std::string("lib_") + c.target[0]);
    api->opLayers = c.filter;
    const std::string out = tmp_.File(c.target);
    if (c.result == 1) tmp_.Write(c.target, "old");
    int ok = -1;
    const std::string text = Captured([&] { ok = api->WriteOasis(out.c_str()); });
    EXPECT_EQ(ok, c.result) << text;
    EXPECT_NE(text.find("Writing OASIS " + out + "\n"), std::string::npos) << text;
    // OASIS output is created only after the library update.
    const size_t summary = text.find("\nSummary:\n");
    const size_t message = text.find(c.message);
    ASSERT_NE(summary, std::string::npos) << text;
    ASSERT_NE(message, std::string::npos) << text;
    EXPECT_LT(summary, message);
    if (c.result == 1) {
      EXPECT_EQ(ReadFile(out), "old");
    } else {
      EXPECT_FALSE(Exists(out));
    }
    for (const std::string& e : tmp_.Entries())
      EXPECT_EQ(e.find(".kept"), std::string::npos) << "temporary file left: " << e;
  }
}

TEST(ExportDeathTest, WithoutLibraryExitsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        API api;
        api.WriteGds("/tmp/never.gds", 0);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(ExportTest, GeneratedLayoutRoundTripsToAnEqualLibrary) {
  const std::string gds = tmp_.File("gen.gds");
  WriteGeneratedGds(gds);
  ExpectRoundTrip(gds, "gen");
}

TEST_F(ExportTest, TestdataLayoutsRoundTripToEqualLibraries) {
  const std::string dir = VELMAR_TESTDATA_DIR;
  int found = 0;
  for (const char* name : {"freepdk45_stdcells.gds", "sky130_fd_sc_hd__dfxtp_1.gds",
                           "proof_lib.gds", "dense_two_level.gds", "xor_hole_cut.gds",
                           "coarse_unit_small_window.gds", "invalid_dates.gds"}) {
    const std::string path = dir + "/" + name;
    if (!Exists(path)) continue;
    ++found;
    SCOPED_TRACE(name);
    ExpectRoundTrip(path, std::string(name).substr(0, std::string(name).find('.')));
  }
  if (found == 0) GTEST_SKIP() << "the shared test data are missing at " << dir;
}

// --- gdspy as a second reader and writer ------------------------------------------

// The testdata layouts that other readers read as velmar does. Left out:
// xor_hole_cut.gds, whose STRANS records are not bit arrays (KLayout refuses
// the file, gdspy places its arrays elsewhere).
std::vector<std::string> TestdataLayouts() {
  std::vector<std::string> out;
  for (const char* name : {"freepdk45_stdcells.gds", "sky130_fd_sc_hd__dfxtp_1.gds",
                           "proof_lib.gds", "dense_two_level.gds",
                           "coarse_unit_small_window.gds", "invalid_dates.gds"}) {
    const std::string path = std::string(VELMAR_TESTDATA_DIR) + "/" + name;
    if (Exists(path)) out.push_back(path);
  }
  return out;
}

// Lines "LAYER DATATYPE VALUE..." of gdspy_layers.py, per layer.
std::map<std::pair<int, int>, std::vector<std::string>> LayerLines(const std::string& text) {
  std::map<std::pair<int, int>, std::vector<std::string>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    int layer = 0, datatype = 0;
    if (!(words >> layer >> datatype)) continue;
    auto& values = out[{layer, datatype}];
    for (std::string w; words >> w;) values.push_back(w);
  }
  return out;
}

// Per layer the integer of a one-value line ("areas", "window").
std::map<std::pair<int, int>, int64_t> LayerValues(const std::string& text) {
  std::map<std::pair<int, int>, int64_t> out;
  for (const auto& [layer, values] : LayerLines(text))
    if (values.size() == 1) out[layer] = std::stoll(values[0]);
  return out;
}

std::string Gdspy(const std::string& args) {
  bool ok = false;
  std::string out = test::RunGdspyLayers(args, ok);
  EXPECT_TRUE(ok) << args << ": " << out;
  return out;
}

// The source and velmar's output flattened by gdspy: per layer the same
// polygons; where they differ (polygons cut under the vertex limit, paths
// written as outlines) the XOR of the two is empty on manhattan layers and
// within rounding of the outline elsewhere (every edge moved by less than
// half a unit).
TEST_F(ExportTest, GdspyFlattensTheSourceAndTheOutputAlike) {
  VELMAR_REQUIRE_GDSPY();
  std::vector<std::string> sources = {tmp_.File("gen.gds")};
  WriteGeneratedGds(sources[0], true);
  for (const std::string& path : TestdataLayouts()) sources.push_back(path);
  int n = 0;
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::string name = "lib" + std::to_string(++n);
    auto api = Loaded(source, name);
    const std::string out = tmp_.File(name + ".gds");
    int ok = 0;
    const std::string text = Captured([&] { ok = api->WriteGds(out.c_str(), 0); });
    ASSERT_EQ(ok, 1) << text;
    const auto layers = LayerLines(Gdspy("compare " + source + " " + out));
    ASSERT_FALSE(layers.empty());
    for (const auto& [layer, v] : layers) {
      SCOPED_TRACE("layer " + std::to_string(layer.first) + "/" + std::to_string(layer.second));
      ASSERT_EQ(v.size(), 6u);
      // verdict, count in source, count in output, XOR area, manhattan,
      // perimeter of the source polygons
      EXPECT_GT(std::stol(v[1]), 0);
      EXPECT_GT(std::stol(v[2]), 0);
      if (v[0] == "equal") continue;
      const int64_t xorArea = std::stoll(v[3]);
      if (v[4] == "1") {
        EXPECT_EQ(xorArea, 0);
      } else {
        EXPECT_LE(xorArea, std::stoll(v[5]) / 2);
      }
    }
  }
}

// A layout gdspy writes (references and arrays rotated, mirrored and
// magnified, paths of types 0 and 2, a 5,000-vertex polygon) loads with,
// per layer, the merged area gdspy gives.
TEST_F(ExportTest, GdspyWrittenLayoutLoadsWithGdspysMergedAreas) {
  VELMAR_REQUIRE_GDSPY();
  const std::string gds = tmp_.File("gdspy.gds");
  Gdspy("write " + gds);
  const auto areas = LayerValues(Gdspy("areas " + gds));
  ASSERT_EQ(areas.size(), 6u);
  auto api = Loaded(gds, "lib");
  Captured([&] { ASSERT_EQ(api->SetArea("top", 0, 0, 0, 0), 1); });
  for (const auto& [layer, area] : areas) {
    SCOPED_TRACE("layer " + std::to_string(layer.first) + "/" + std::to_string(layer.second));
    int merged = 0;
    Captured([&] {
      merged = api->BooleanOp(BooleanOpCode::Merge, layer.first, layer.second, -1, 0);
    });
    const std::string file =
        tmp_.File("merged" + std::to_string(layer.first) + "_" + std::to_string(layer.second));
    int ok = 0;
    Captured([&] { ok = api->SavePoly(merged, 0, file.c_str()); });
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(oracle::ToString(oracle::PolygonFileArea2(file)),
              oracle::ToString(2 * oracle::i128(area)));
  }
}

// The hierarchical extraction of a window over references and arrays cut
// by it: gdspy reads the file, finds each reached cell once and no other,
// and inside the window the same area per layer as in the source.
TEST_F(ExportTest, GdspyReadsTheHierarchicalExtraction) {
  VELMAR_REQUIRE_GDSPY();
  const std::string gds = tmp_.File("gdspy.gds");
  Gdspy("write " + gds);
  auto api = Loaded(gds, "lib");
  const Box w(35000, -1000, 130000, 34000);
  Captured([&] { ASSERT_EQ(api->SetArea("top", w.x1, w.y1, w.x2, w.y2), 1); });
  const std::string out = tmp_.File("hier.gds");
  int ok = 0;
  const std::string text = Captured([&] { ok = api->ExtractHierGds(out.c_str(), 0); });
  ASSERT_EQ(ok, 1) << text;
  EXPECT_EQ(Gdspy("counts " + out).substr(0, 2), "2\n");
  const std::string box = " " + std::to_string(w.x1) + " " + std::to_string(w.y1) + " " +
                          std::to_string(w.x2) + " " + std::to_string(w.y2);
  auto inSource = LayerValues(Gdspy("window " + gds + box));
  std::erase_if(inSource, [](const auto& e) { return e.second == 0; });
  EXPECT_EQ(LayerValues(Gdspy("window " + out + box)), inSource);
  EXPECT_EQ(inSource.size(), 3u);
}

}  // namespace
}  // namespace velmar
