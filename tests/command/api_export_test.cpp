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
#include "command/store_fixtures.h"
#include "formats/gds_records.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"
#include "support/file_size_limit.h"
#include "support/gds_builder.h"

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
      EXPECT_TRUE(ReadLibrary(tmp_.File(name + "_a")) == ReadLibrary(dir));
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
    EXPECT_TRUE(ReadLibrary(tmp_.File(name + "_a")) == ReadLibrary(dir)) << "OASIS";
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

// A generated two-level layout: arrays in all 8 orientations with negative
// pitches, magnification, 45-degree and any-angle shapes.
void WriteGeneratedGds(const std::string& path) {
  test::GdsBuilder b;
  b.BeginLib("GEN");
  b.BeginStr("leaf")
      .Rect(1, 0, 0, 0, 100, 40)
      .Boundary(2, 0, {{0, 0}, {50, 0}, {100, 50}, {100, 100}, {0, 100}})
      .Boundary(3, 5, {{0, 0}, {37, 11}, {23, 71}, {-5, 40}})
      .EndStr();
  b.BeginStr("mid").Rect(1, 0, -10, -10, 10, 10);
  for (int o = 0; o < 8; ++o) {
    test::GdsStrans s;
    s.reflect = o > 3;
    static const double kAngle[8] = {0, 90, 180, 270, 180, 270, 0, 90};
    if (kAngle[o] != 0) s.angle = kAngle[o];
    if (o % 3 == 1) s.mag = 2.0;
    const Point p0(o * 5000, 0);
    // Columns along x, rows along y in the file, pitches negative for odd o.
    const int32_t cp = o % 2 ? -300 : 300, rp = o % 2 ? -200 : 200;
    b.ARef("leaf", 3, 2, p0, Point(p0.x + 3 * cp, p0.y), Point(p0.x, p0.y + 2 * rp), s);
    b.SRef("leaf", Point(o * 5000, 20000), s);
  }
  b.EndStr();
  b.BeginStr("top").SRef("mid", Point(0, 0)).SRef("mid", Point(100000, 7));
  b.EndStr();
  b.EndLib();
  b.WriteFile(path);
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

}  // namespace
}  // namespace velmar
