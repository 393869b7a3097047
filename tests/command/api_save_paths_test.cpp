// SavePoly writes the same bytes whichever path cuts the holes of an
// axis-parallel result: the general sweep (with the axis-parallel paths
// switched off) and the axis-parallel path must give identical polygon
// files for every operation, on generated layouts full of holes and on the
// standard cells of the shared test-data folder (skipped without it).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/store_fixtures.h"
#include "geometry/rect_sweep.h"

namespace velmar {
namespace {

using store_test::Captured;
using store_test::Exists;
using store_test::LibraryDir;
using store_test::ReadFile;

struct SavedOp {
  const char* name;
  BooleanOpCode code;
  int layer1, layer2;  // layer2 -1: a one-layer operation
};

class SavePaths : public ::testing::Test {
 protected:
  void TearDown() override {
    EnableRectilinearBoolean(true);
    api_.ResetTempLayers();
    Captured([&] { api_.CloseLibraries(); });
  }

  void Load(const std::string& gds, const char* cell) {
    ASSERT_EQ(api_.OpenLibrary(LibraryDir(tmp_, "lib").c_str(), 0), 1);
    int ok = 0;
    Captured([&] { ok = api_.LoadGds(gds.c_str(), 0, ""); });
    ASSERT_EQ(ok, 1) << gds;
    Captured([&] { ok = api_.SetArea(cell, 0, 0, 0, 0); });
    ASSERT_EQ(ok, 1);
  }

  // The operation's result as SavePoly writes it, by the chosen paths.
  std::string Saved(const SavedOp& op, bool axisParallel, const std::string& name) {
    EnableRectilinearBoolean(axisParallel);
    int r = 0, ok = 0;
    Captured([&] { r = api_.BooleanOp(op.code, op.layer1, 0, op.layer2, 0); });
    const std::string file = tmp_.File(name);
    Captured([&] { ok = api_.SavePoly(r, 0, file.c_str()); });
    EnableRectilinearBoolean(true);
    api_.ResetCounts();  // the next SavePoly starts its file anew
    EXPECT_EQ(ok, 1) << op.name;
    return ReadFile(file);
  }

  // Every operation by both paths: equal files; the bytes written.
  size_t CompareAll(const std::vector<SavedOp>& ops) {
    size_t bytes = 0;
    for (const SavedOp& op : ops) {
      SCOPED_TRACE(op.name);
      const std::string fast = Saved(op, true, "fast.txt");
      const std::string general = Saved(op, false, "general.txt");
      EXPECT_TRUE(fast == general) << fast.size() << " bytes against " << general.size();
      bytes += fast.size();
    }
    return bytes;
  }

  test::TempDir tmp_;
  API api_;
};

TEST_F(SavePaths, GeneratedLayoutsWithHolesAreWrittenAlike) {
  using Code = BooleanOpCode;
  const std::vector<SavedOp> ops = {{"OR", Code::Or, 1, 2},    {"XOR", Code::Xor, 1, 2},
                                    {"DIFF", Code::Diff, 1, 2}, {"AND", Code::And, 1, 2},
                                    {"merge", Code::Merge, 2, -1}};
  for (int seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    // Frames of layer 1 around many small rectangles of layer 2 on a grid
    // coarse enough for holes to share columns and lines.
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> pos(0, 400), side(1, 12);
    test::GdsBuilder b;
    b.BeginLib().BeginStr("top");
    for (int i = 0; i < 8; ++i) {
      const int32_t x = pos(rng) * 10, y = pos(rng) * 10, s = side(rng) * 40;
      b.Rect(1, 0, x, y, x + s, y + s);
    }
    for (int i = 0; i < 3000; ++i) {
      const int32_t x = pos(rng) * 10, y = pos(rng) * 10;
      b.Rect(2, 0, x, y, x + side(rng) * 10, y + side(rng) * 10);
    }
    b.EndStr().EndLib();
    const std::string gds = tmp_.File("layout" + std::to_string(seed) + ".gds");
    b.WriteFile(gds);
    Load(gds, "top");
    EXPECT_GT(CompareAll(ops), 100000u);
    Captured([&] { api_.CloseLibraries(); });
    api_.ResetTempLayers();
    if (HasFailure()) return;
  }
}

TEST_F(SavePaths, StandardCellsAreWrittenAlike) {
  const std::string gds = std::string(VELMAR_TESTDATA_DIR) + "/freepdk45_stdcells.gds";
  if (!Exists(gds)) GTEST_SKIP() << gds << " not found: shared layouts not compared";
  ASSERT_EQ(api_.OpenLibrary(LibraryDir(tmp_, "lib").c_str(), 0), 1);
  int ok = 0;
  Captured([&] { ok = api_.LoadGds(gds.c_str(), 0, ""); });
  ASSERT_EQ(ok, 1);
  using Code = BooleanOpCode;
  const std::vector<SavedOp> ops = {{"OR 10 11", Code::Or, 10, 11},
                                    {"XOR 10 9", Code::Xor, 10, 9},
                                    {"DIFF 10 1", Code::Diff, 10, 1},
                                    {"merge 11", Code::Merge, 11, -1}};
  // Every top cell: the standard cells are the library's roots.
  std::vector<std::string> cells;
  for (int32_t id : api_.CurrentLibrary()->roots) cells.push_back(*api_.CurrentLibrary()->cells[id]->name);
  ASSERT_FALSE(cells.empty());
  size_t bytes = 0;
  for (size_t i = 0; i < cells.size(); i += 9) {
    SCOPED_TRACE(cells[i]);
    Captured([&] { ok = api_.SetArea(cells[i].c_str(), 0, 0, 0, 0); });
    ASSERT_EQ(ok, 1);
    bytes += CompareAll(ops);
    api_.ResetTempLayers();
    if (HasFailure()) return;
  }
  EXPECT_GT(bytes, 10000u);
}

}  // namespace
}  // namespace velmar
