// Fixture of the tests of one-layer API operations: an API object with a
// library built in memory from a hierarchy model, temporary layers filled
// by the test, readers of the result layers and captured output with its
// varying lines masked.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "command/inspectable_api.h"
#include "geometry/point_system.h"
#include "support/api_fixtures.h"
#include "support/boolean_oracle.h"
#include "support/hier_fixtures.h"
#include "support/point_list_fixtures.h"
#include "support/ring_builders.h"
#include "support/stdout_capture.h"

namespace velmar::api_test {

using Points = std::vector<Point>;
// An edge as (start x, start y, end x, end y).
using Edge = std::tuple<int32_t, int32_t, int32_t, int32_t>;

constexpr LayerKey kLayer1 = 1 * 256;  // {1 0}
constexpr LayerKey kLayer2 = 2 * 256;  // {2 0}

inline Points Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
}

// The two-point chains of a list, sorted; fails the test for any point that
// is not part of such a chain.
inline std::vector<Edge> ChainsOf(const PSList& list) {
  std::vector<Edge> edges;
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (p->prev) {
      EXPECT_EQ(p->next, nullptr) << "longer chain at (" << p->x << ", " << p->y << ")";
      continue;
    }
    EXPECT_NE(p->next, nullptr) << "lone point";
    if (!p->next) continue;
    EXPECT_EQ(p->next->next, nullptr);
    edges.emplace_back(p->x, p->y, p->next->x, p->next->y);
  }
  std::sort(edges.begin(), edges.end());
  return edges;
}

inline std::vector<Edge> Sorted(std::vector<Edge> edges) {
  std::sort(edges.begin(), edges.end());
  return edges;
}

class LayerOpTest : public ::testing::Test {
 protected:
  void TearDown() override {
    api.ResetTempLayers();
    for (std::unique_ptr<LibDB>& lib : api.libs) lib.reset();
    api.currentLib = nullptr;
  }

  // Installs the model as the current library and sets the working area
  // (an improper box: the cell's box).
  void Use(const hier_test::Model& m, double unitPerNm = 1.0,
           Box window = Box(0, 0, 0, 0)) {
    api.InstallLibrary(0, MakeLibrary(m, unitPerNm));
    test::StdoutCapture out;
    ASSERT_EQ(api.SetArea("c0", window.x1, window.y1, window.x2, window.y2), 1);
  }

  // A one-cell library with the rings on layer {1 0}, the whole cell the
  // working area.
  void UseRings(const std::vector<Points>& rings, double unitPerNm = 1.0) {
    hier_test::Model m(1);
    m[0].shapes[kLayer1] = rings;
    Use(m, unitPerNm);
  }

  // A new temporary layer filled by fill; returns its number.
  int TempLayer(const std::function<void(PSList&)>& fill) {
    const int index = api.GetTempLayer();
    fill(*api.tempLayers[size_t(index)]);
    return API::kTempLayerBase - index;
  }
  // A new temporary layer of two-point chains, each pushed start first.
  int EdgeLayer(const std::vector<Edge>& edges) {
    return TempLayer([&](PSList& l) {
      for (const Edge& e : edges) {
        PSPoint* s = PushPoint(l, std::get<0>(e), std::get<1>(e));
        PSPoint* n = PushPoint(l, std::get<2>(e), std::get<3>(e));
        LinkPoints(s, n);
      }
    });
  }

  PSList& Temp(int number) { return *api.FindTempLayer(number); }

  // The closed rings of a temporary layer.
  std::vector<Points> RingsOf(int number) {
    return oracle::ResultRings(Temp(number));
  }

  // Runs op with standard output captured; returns what it printed with
  // dates masked and pool reports dropped.
  std::string Printed(const std::function<void()>& op) {
    test::StdoutCapture out;
    op();
    return DropPoolReports(MaskDates(out.Stop()));
  }

  // Runs op(layer1) once flat and once hierarchical with opLayers {2 0}:
  // the hierarchical result must cover exactly what the flat one covers
  // inside the area's {2 0} rectangles grown by size, sampled at the centre
  // of every unit square of the area widened by margin.
  void ExpectHierarchicalIsFlatOnOpLayers(const std::function<int()>& op,
                                          const std::vector<Points>& opRects,
                                          int32_t size, int32_t margin = 20) {
    api.hierarchical = 0;
    const int flat = op();
    api.hierarchical = 1;
    api.AddOpLayer(2, 0);
    const int hier = op();
    api.hierarchical = 0;
    api.ResetOpLayers();
    const std::vector<Points> flatRings = RingsOf(flat);
    const std::vector<Points> hierRings = RingsOf(hier);
    ASSERT_FALSE(flatRings.empty());
    const Box& w = api.area;
    int64_t kept = 0;
    for (int64_t y = int64_t(w.y1) - margin; y < int64_t(w.y2) + margin; ++y)
      for (int64_t x = int64_t(w.x1) - margin; x < int64_t(w.x2) + margin; ++x) {
        const double px = x + 0.5, py = y + 0.5;
        bool onOp = false;
        for (const Points& r : opRects) {
          const Box b = ring_test::BoxOf(r);
          onOp = onOp || (px > b.x1 - size && px < b.x2 + size &&
                          py > b.y1 - size && py < b.y2 + size);
        }
        const bool want = hier_test::WindingSum(flatRings, px, py) > 0 && onOp;
        const bool got = hier_test::WindingSum(hierRings, px, py) > 0;
        kept += got ? 1 : 0;
        ASSERT_EQ(got, want) << "at (" << px << ", " << py << ")";
      }
    EXPECT_GT(kept, 0) << "the test keeps nothing";
  }

  test::InspectableApi api;
};

}  // namespace velmar::api_test
