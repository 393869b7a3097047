// KLayout as a second reader and writer (built only when KLayout is
// installed; CTest label "interop"): velmar's GDSII and OASIS files read by
// KLayout give the source's geometry and hierarchy, OASIS files KLayout
// writes load with KLayout's areas, and its compressed default is refused.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "command/generated_layout.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "support/boolean_oracle.h"
#include "support/gdspy_oracle.h"

namespace velmar {
namespace {

using test::InspectableApi;
using namespace store_test;  // the stored-library fixtures

// Runs tests/support/klayout_layers.py in KLayout's batch mode with the
// given "-rd name=value" settings; its output.
std::string Klayout(const std::string& settings) {
  bool ok = false;
  const std::string out = test::CommandOutput(
      VELMAR_KLAYOUT " -b -r " VELMAR_TEST_SUPPORT_DIR "/klayout_layers.py " + settings, ok);
  EXPECT_TRUE(ok) << settings << ": " << out;
  return out;
}

// Lines "WORD A B" of the script's output, by their first word.
std::map<std::string, std::vector<int64_t>> Lines(const std::string& text) {
  std::map<std::string, std::vector<int64_t>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string first, second;
    if (!(words >> first)) continue;
    if (first.find_first_not_of("0123456789") == std::string::npos && (words >> second))
      first += " " + second;  // "LAYER DATATYPE"
    std::vector<int64_t> values;
    for (int64_t v; words >> v;) values.push_back(v);
    if (!values.empty()) out[first] = values;
  }
  return out;
}

class KlayoutInterop : public ::testing::Test {
 protected:
  void TearDown() override { SetLogStream(nullptr); }

  std::unique_ptr<InspectableApi> NewLibrary(const std::string& name) {
    auto api = std::make_unique<InspectableApi>();
    api->OpenLibrary(LibraryDir(tmp_, name).c_str(), 0);
    return api;
  }

  // The generated layout and the testdata layouts KLayout reads
  // (xor_hole_cut.gds, whose STRANS records are not bit arrays, it refuses).
  std::vector<std::string> Sources() {
    std::vector<std::string> out = {tmp_.File("gen.gds")};
    WriteGeneratedGds(out[0]);
    for (const char* name : {"freepdk45_stdcells.gds", "sky130_fd_sc_hd__dfxtp_1.gds",
                             "proof_lib.gds", "dense_two_level.gds",
                             "coarse_unit_small_window.gds", "invalid_dates.gds"}) {
      const std::string path = std::string(VELMAR_TESTDATA_DIR) + "/" + name;
      if (Exists(path)) out.push_back(path);
    }
    return out;
  }

  test::TempDir tmp_;
};

// LoadGds, then WriteGds and WriteOasis: KLayout finds per layer an empty
// XOR of the flattened source and output (up to the rounding of cut
// any-angle polygons), and as many cells and instances.
TEST_F(KlayoutInterop, OurFilesReadByKlayoutMatchTheSource) {
  int n = 0;
  for (const std::string& source : Sources()) {
    SCOPED_TRACE(source);
    const std::string name = "lib" + std::to_string(++n);
    auto api = NewLibrary(name);
    int ok = 0;
    std::string text = Captured([&] { ok = api->LoadGds(source.c_str(), 0, ""); });
    ASSERT_EQ(ok, 1) << text;
    const std::string gds = tmp_.File(name + ".gds"), oas = tmp_.File(name + ".oas");
    text = Captured([&] { ok = api->WriteGds(gds.c_str(), 0); });
    ASSERT_EQ(ok, 1) << text;
    text = Captured([&] { ok = api->WriteOasis(oas.c_str()); });
    ASSERT_EQ(ok, 1) << text;
    for (const std::string& out : {gds, oas}) {
      SCOPED_TRACE(out);
      const auto lines = Lines(Klayout("-rd cmd=xor -rd a=" + source + " -rd b=" + out));
      ASSERT_TRUE(lines.count("cells")) << "no cell count";
      ASSERT_TRUE(lines.count("instances")) << "no instance count";
      for (const auto& [what, values] : lines) {
        ASSERT_EQ(values.size(), 2u) << what;
        if (what == "cells" || what == "instances") {
          EXPECT_EQ(values[0], values[1]) << what;
        } else {
          // Twice the XOR area: none, but where an any-angle polygon over
          // the vertex limit was cut and its cut points rounded to the
          // grid (each edge moved by less than half a unit).
          EXPECT_LE(values[0], values[1]) << "XOR area on layer " << what;
        }
      }
    }
  }
}

// OASIS files KLayout writes without CBLOCKs, strict and not, compressed at
// levels 0 and 2 (repetitions found): LoadOasis gives, per layer, the
// merged area KLayout gives for the file.
TEST_F(KlayoutInterop, KlayoutOasisLoadsWithKlayoutsMergedAreas) {
  const std::string gds = tmp_.File("gen.gds");
  WriteGeneratedGds(gds);
  int n = 0;
  for (const char* strict : {"0", "1"}) {
    for (const char* level : {"0", "2"}) {
      SCOPED_TRACE(std::string("strict ") + strict + ", level " + level);
      const std::string oas = tmp_.File("k" + std::to_string(++n) + ".oas");
      Klayout("-rd cmd=oasis -rd a=" + gds + " -rd out=" + oas +
              " -rd cblocks=0 -rd strict=" + strict + " -rd level=" + level);
      const auto areas = Lines(Klayout("-rd cmd=areas -rd a=" + oas));
      ASSERT_FALSE(areas.empty());
      auto api = NewLibrary("lib" + std::to_string(n));
      int ok = 0;
      const std::string text = Captured([&] { ok = api->LoadOasis(oas.c_str(), ""); });
      ASSERT_EQ(ok, 1) << text;
      Captured([&] { ASSERT_EQ(api->SetArea("top", 0, 0, 0, 0), 1); });
      for (const auto& [layer, values] : areas) {
        SCOPED_TRACE("layer " + layer);
        int l = 0, d = 0;
        std::istringstream(layer) >> l >> d;
        int merged = 0;
        Captured([&] { merged = api->BooleanOp(BooleanOpCode::Merge, l, d, -1, 0); });
        const std::string file = tmp_.File("merged" + std::to_string(n) + "_" + layer);
        Captured([&] { ok = api->SavePoly(merged, 0, file.c_str()); });
        ASSERT_EQ(ok, 1);
        EXPECT_EQ(oracle::ToString(oracle::PolygonFileArea2(file)),
                  oracle::ToString(oracle::i128(values[0])));
      }
    }
  }
}

// KLayout's default OASIS output holds CBLOCKs: refused with the message.
TEST_F(KlayoutInterop, KlayoutsDefaultCompressedFileIsRefused) {
  const std::string gds = tmp_.File("gen.gds");
  WriteGeneratedGds(gds);
  const std::string oas = tmp_.File("cblocks.oas");
  Klayout("-rd cmd=oasis -rd a=" + gds + " -rd out=" + oas +
          " -rd cblocks=1 -rd strict=1 -rd level=2");
  auto api = NewLibrary("lib");
  int ok = 1;
  const std::string text = Captured([&] { ok = api->LoadOasis(oas.c_str(), ""); });
  EXPECT_EQ(ok, 0);
  EXPECT_NE(text.find("ERROR: OASISIN: CBlock not supported yet"), std::string::npos) << text;
}

}  // namespace
}  // namespace velmar
