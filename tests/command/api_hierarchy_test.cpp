// The hierarchy commands on stored libraries, read back from disk in a new
// library object: environment layers removed after a run, flattening of
// listed cells followed by an update, and the working box of the
// hierarchical inverse.
#include <gtest/gtest.h>

#include <string>

#include "command/api.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/lib_db.h"
#include "support/hier_fixtures.h"
#include "support/hier_run_fixtures.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using hier_test::Model;
using hier_test::Ref;

constexpr LayerKey kL1 = MakeLayerKey(1, 0);
constexpr LayerKey kL2 = MakeLayerKey(2, 0);

cell_test::Ring Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
}

// A top placing two overlapping leaves (different layers) and a middle
// cell that places the leaf again.
Model Layout() {
  Model m(4);  // children after their parents
  m[2].shapes[kL1] = {Rect(0, 0, 20, 20)};
  m[3].shapes[kL2] = {Rect(0, 0, 10, 30)};
  m[1].refs = {Ref(2, 0, 0), Ref(3, 15, -5)};
  m[0].refs = {Ref(2, 0, 0), Ref(3, 12, 5), Ref(1, 100, 0)};
  return m;
}

// True when some cell of the library stored on dir holds a work layer, or
// its layer table lists one.
bool HoldsWorkLayers(const std::string& dir) {
  auto lib = hier_run_test::Open(dir);
  for (LayerKey k : [&] {
         std::vector<LayerKey> v;
         for (const auto& [key, info] : lib->layers) v.push_back(key);
         return v;
       }())
    if (k >= WorkLayerKey && k != ReferenceKey) return true;
  for (DBCell* c : lib->cells) {
    if (c == nullptr) continue;
    LoadCellOnDemand(*lib, c, false);
    for (const auto& [key, layer] : c->rawLayers)
      if (key >= WorkLayerKey) return true;
  }
  return false;
}

TEST(ApiHierarchyTest, RemoveEnvLayersRightAfterARunLeavesNoWorkLayer) {
  for (bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "removed" : "kept");
    test::TempDir dir;
    hier_run_test::StoreModel(dir.path(), Layout());
    API api;
    api.tech.explodeRate = api.tech.sparseRate = 0;
    api.OpenLibrary(dir.path().c_str(), 0);
    api.HierarchyHandling();  // the leaves end stored and released
    if (remove) {
      api.hierarchical = 1;
      api.RemoveEnvLayers();
      api.UpdateLibrary();
    }
    api.CloseLibrary();
    EXPECT_EQ(HoldsWorkLayers(dir.path()), !remove);
  }
}

TEST(ApiHierarchyTest, FlattenCellsThenUpdateLeavesNoDestroyedRoot) {
  test::TempDir dir;
  hier_run_test::StoreModel(dir.path(), Layout());
  API api;
  test::StdoutCapture capture;
  api.OpenLibrary(dir.path().c_str(), 0);
  api.SetArea("c0", 0, 0, 0, 0);
  api.FlattenCell("c0");  // the top itself: it is destroyed
  api.FlattenCell("c1");
  api.FlattenCells();
  api.UpdateLibrary();
  const int roots = api.TotalRoot();
  std::vector<std::string> names;
  for (int i = 0; i < roots; ++i) names.push_back(api.GetRootName(i));
  api.CloseLibrary();
  const std::string out = capture.Stop();
  EXPECT_EQ(roots, 2) << out;  // the leaves are top cells now
  for (const std::string& n : names) EXPECT_TRUE(n == "c2" || n == "c3") << n;
  auto lib = hier_run_test::Open(dir.path());
  for (int32_t id : lib->roots) EXPECT_NE(lib->cells[size_t(id)], nullptr);
  EXPECT_EQ(lib->FindCellId("c0"), -1);
  EXPECT_EQ(lib->FindCellId("c1"), -1);
}

}  // namespace
}  // namespace velmar
