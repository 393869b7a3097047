// Single-layer checks, shift and jog fill of API: markers against brute
// force over the gathered vertices, counters, reports, the hierarchical
// step, and the failures that end the process.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/layer_op_fixture.h"
#include "geometry/jog_fill.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"

namespace velmar::api_test {
namespace {

using BoxKey = std::tuple<int32_t, int32_t, int32_t, int32_t>;

// The marker squares of a layer as sorted boxes.
std::vector<BoxKey> Squares(const std::vector<Points>& rings) {
  std::vector<BoxKey> out;
  for (const Points& r : rings) {
    EXPECT_EQ(r.size(), 4u);
    const Box b = ring_test::BoxOf(r);
    out.emplace_back(b.x1, b.y1, b.x2, b.y2);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Random rectangles, right triangles and oblique quadrilaterals.
std::vector<Points> RandomShapes(std::mt19937& rng, int n) {
  std::uniform_int_distribution<int32_t> c(-60, 60), len(3, 25), kind(0, 2);
  std::vector<Points> out;
  for (int i = 0; i < n; ++i) {
    const int32_t x = c(rng), y = c(rng), a = len(rng), b = len(rng);
    switch (kind(rng)) {
      case 0: out.push_back(Rect(x, y, x + a, y + b)); break;
      case 1: out.push_back({{x, y}, {x + a, y}, {x, y + a}}); break;
      default: out.push_back({{x, y}, {x + a, y + 1}, {x + a + 2, y + b}, {x - 1, y + b - 3}});
    }
  }
  return out;
}

class CheckTest : public LayerOpTest {
 protected:
  // The vertices that the operation sees: layer {1 0} gathered as the
  // frame gathers it.
  std::vector<Point> GatheredVertices() {
    ScratchList l;
    api.CollectLayers(l.list, 1, 0, -1, 0);
    std::vector<Point> out;
    for (const PSPoint* p = l.list.head; p; p = p->link) out.emplace_back(p->x, p->y);
    return out;
  }
  bool InArea(const Point& p) const {
    const Box& w = api.area;
    return p.x >= w.x1 && p.x <= w.x2 && p.y >= w.y1 && p.y <= w.y2;
  }
};

TEST_F(CheckTest, OffgridMarksVerticesWithRemaindersInTheArea) {
  std::mt19937 rng(5118);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    hier_test::Model m(1);
    m[0].shapes[kLayer1] = RandomShapes(rng, 8);
    // Half the rounds cut the area through the shapes: vertices on its sides
    // count, those outside do not.
    Use(m, 1.0, round % 2 ? Box(-30, -20, 40, 35) : Box(0, 0, 0, 0));
    std::uniform_int_distribution<int> g(2, 9), s(0, 7);
    const int grid = g(rng), amount = s(rng);
    std::vector<BoxKey> want;
    for (const Point& p : GatheredVertices()) {
      const bool onGrid =
          int64_t(std::floor(double(p.x) / grid)) * grid == p.x &&
          int64_t(std::floor(double(p.y) / grid)) * grid == p.y;
      if (InArea(p) && !onGrid)
        want.emplace_back(p.x - amount / 2, p.y - amount / 2, p.x + amount / 2,
                          p.y + amount / 2);
    }
    std::sort(want.begin(), want.end());
    const int before = api.offgridViolations;
    const int l = api.Offgrid(1, 0, grid, amount);
    EXPECT_EQ(Squares(RingsOf(l)), want);
    EXPECT_EQ(api.offgridViolations - before, int(4 * want.size()));
    api.ResetTempLayers();
  }
}

TEST_F(CheckTest, MarkerChecksOnSmallLayers) {
  // A rectangle with one off-grid corner column, a 45-degree edge and an
  // edge of slope 3/10.
  const Points shape = {{0, 0}, {7, 0}, {7, 10}, {17, 20}, {7, 23}, {0, 10}};
  UseRings({shape});
  // Offgrid: grid 5, amount 2 and 3 give half-size 1 at (7, 0), (7, 10),
  // (17, 20) and (7, 23); (0, 0) and (0, 10) lie on the grid.
  const std::vector<BoxKey> offgrid = {
      {6, -1, 8, 1}, {6, 9, 8, 11}, {6, 22, 8, 24}, {16, 19, 18, 21}};
  EXPECT_EQ(Squares(RingsOf(api.Offgrid(1, 0, 5, 2))), offgrid);
  EXPECT_EQ(Squares(RingsOf(api.Offgrid(1, 0, 5, 3))), offgrid);
  // Non45: the start of (17, 20) -> (7, 23) and of (7, 23) -> (0, 10).
  EXPECT_EQ(Squares(RingsOf(api.Non45(1, 0, 4))),
            (std::vector<BoxKey>{{5, 21, 9, 25}, {15, 18, 19, 22}}));
  // Acute: the vertex (17, 20) only (edges to (7, 10) and (7, 23)); size 0
  // gives the single point.
  const int acute = api.Acute(1, 0, 0);
  ASSERT_EQ(Temp(acute).pointCount, 1);
  EXPECT_EQ(Point(Temp(acute).head->x, Temp(acute).head->y), Point(17, 20));
  EXPECT_EQ(Temp(acute).head->next, nullptr);
  EXPECT_EQ(Squares(RingsOf(api.Acute(1, 0, 4))),
            (std::vector<BoxKey>{{15, 18, 19, 22}}));
  // Turn90: the outgoing edges of (0, 0) and (7, 0) (right angles).
  EXPECT_EQ(ChainsOf(Temp(api.Turn90(1, 0))),
            (std::vector<Edge>{{0, 0, 7, 0}, {7, 0, 7, 10}}));
  // Non90 and its complement partition the edges.
  EXPECT_EQ(ChainsOf(Temp(api.Non90(1, 0))),
            (std::vector<Edge>{{7, 10, 17, 20}, {7, 23, 0, 10}, {17, 20, 7, 23}}));
  api._not = 1;
  EXPECT_EQ(ChainsOf(Temp(api.Non90(1, 0))),
            (std::vector<Edge>{{0, 0, 7, 0}, {0, 10, 0, 0}, {7, 0, 7, 10}}));
  api._not = 0;
  // Turn90 on a rectangle gives its four edges; Non90 nothing.
  UseRings({Rect(0, 0, 30, 10)});
  EXPECT_EQ(Temp(api.Turn90(1, 0)).pointCount, 8);
  EXPECT_TRUE(Temp(api.Non90(1, 0)).IsEmpty());
}

TEST_F(CheckTest, CountersAndReportLines) {
  UseRings({{{0, 0}, {7, 0}, {7, 10}, {17, 20}, {7, 23}, {0, 10}}});
  struct Case {
    std::function<int(API&)> op;
    const char* reported;
    int API::*counter;
    int added;
  } cases[] = {
      {[](API& a) { return a.Offgrid(1, 0, 5, 2); },
       "\n<DATE>\nOffgrid {1 0} 5 2\n  Total input vertices = 6\n"
       "<DATE>\nProcess starts\n  Offgrid violation vertices = 16\n",
       nullptr, 16},
      {[](API& a) { return a.Acute(1, 0, 2); },
       "\n<DATE>\nAcute {1 0} 2\n  Total input vertices = 6\n"
       "<DATE>\nProcess starts\n  Acute violation vertices = 4\n",
       nullptr, 4},
      {[](API& a) { return a.Non45(1, 0, 2); },
       "\n<DATE>\nNon45 {1 0} 2\n  Total input vertices = 6\n"
       "<DATE>\nProcess starts\n  Non45 violation segments = 8\n",
       nullptr, 8},
      {[](API& a) { return a.Turn90(1, 0); },
       "\n<DATE>\nTurn90 {1 0}\n  Total input vertices = 6\n"
       "<DATE>\nProcess starts\n  Turn90 violation segments = 4\n",
       nullptr, 0},
      {[](API& a) { return a.Non90(1, 0); },
       "\n<DATE>\nNon90 {1 0}\n  Total input vertices = 6\n"
       "<DATE>\nProcess starts\n  Non90 violation segments = 6\n",
       nullptr, 0},
      {[](API& a) { return a.Shift(1, 0, 10, -5); },
       "\n<DATE>\nShift {1 0} 10 -5\n  Total input vertices = 6\n", nullptr, 0},
      {[](API& a) { return a.JogFill(1, 0, 3); },
       "\n<DATE>\nJogFill {1 0} 3\n  Total input vertices = 6\n", nullptr, 0},
  };
  cases[0].counter = &test::InspectableApi::offgridViolations;
  cases[1].counter = &test::InspectableApi::acuteViolations;
  cases[2].counter = &test::InspectableApi::non45Violations;
  for (const Case& c : cases) {
    api.tech.reportDegree = 0;
    const int before = c.counter ? api.*c.counter : 0;
    EXPECT_EQ(Printed([&] { c.op(api); }), "");
    api.tech.reportDegree = 1;
    int r = 0;
    const std::string printed = Printed([&] { r = c.op(api); });
    EXPECT_EQ(printed, std::string(c.reported) + "Resulting layer is {" +
                           std::to_string(r) + " 0}\n");
    if (c.counter) {
      EXPECT_EQ(api.*c.counter - before, 2 * c.added);
    }
  }
  api.tech.reportDegree = 0;
  const std::string summary = Printed([&] { api.ReportCount(); });
  EXPECT_NE(summary.find("  Total Acute violation vertices = 8\n"), std::string::npos);
  EXPECT_NE(summary.find("  Total Offgrid violation vertices = 32\n"), std::string::npos);
  EXPECT_NE(summary.find("  Total Non45 violation segments = 16\n"), std::string::npos);
}

TEST_F(CheckTest, ShiftThereAndBackIsTheIdentityAndKeepsTheLibraryLayer) {
  std::mt19937 rng(21);
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = RandomShapes(rng, 10);
  Use(m, 0.5);  // 21 nm -> 10.5 -> 11 units; -9 nm -> -4.5 -> -5 units
  ScratchList original;
  api.CollectLayers(original.list, 1, 0, -1, 0);
  const int there = api.Shift(1, 0, 21, -9);
  ScratchList expected;
  CopyPointList(original.list, expected.list);
  for (PSPoint* p = expected.list.head; p; p = p->link) p->x += 11, p->y -= 5;
  auto same = [](PSList& a, PSList& b) {
    auto ra = oracle::ResultRings(a), rb = oracle::ResultRings(b);
    if (ra.size() != rb.size()) return false;
    for (const Points& r : ra) {
      bool found = false;
      for (const Points& s : rb) found = found || test::SameCycle(r, s);
      if (!found) return false;
    }
    return true;
  };
  EXPECT_TRUE(same(Temp(there), expected.list));
  const int back = api.Shift(there, 0, -21, 9);
  EXPECT_TRUE(Temp(there).IsEmpty());
  EXPECT_TRUE(same(Temp(back), original.list));
  ScratchList again;
  api.CollectLayers(again.list, 1, 0, -1, 0);
  EXPECT_TRUE(same(again.list, original.list));
}

TEST_F(CheckTest, JogFillAddsOnlyTheFilledJogs) {
  const std::vector<Points> shapes = {
      {{0, 0}, {10, 0}, {10, 2}, {30, 2}, {30, 20}, {0, 20}},
      {{50, 0}, {60, 0}, {60, -2}, {80, -2}, {80, 20}, {50, 20}},
      Rect(100, 0, 120, 30)};
  UseRings(shapes);
  const int l = api.JogFill(1, 0, 3);
  const auto added = RingsOf(l);
  // The filled copy, by the jog fill itself.
  ScratchList filled;
  for (const Points& r : shapes) test::AddRing(filled.list, r);
  FillJogs(filled.list, 3);
  const auto filledRings = oracle::ResultRings(filled.list);
  for (int32_t y = -5; y < 35; ++y)
    for (int32_t x = -5; x < 125; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const bool in = hier_test::WindingSum(shapes, px, py) > 0;
      const bool add = hier_test::WindingSum(added, px, py) > 0;
      EXPECT_FALSE(in && add) << px << ", " << py;  // AND with the input: empty
      EXPECT_EQ(in || add, hier_test::WindingSum(filledRings, px, py) > 0)
          << px << ", " << py;  // OR with the input: the filled copy
    }
  EXPECT_EQ(oracle::TotalArea2(added), 2 * (40 + 20));
  // Open chains of a temporary layer are left out.
  const int withChain = TempLayer([&](PSList& l) {
    test::AddRing(l, shapes[0]);
    test::AddChain(l, {{0, 50}, {10, 50}, {10, 52}, {30, 52}});
  });
  const auto fromRing = RingsOf(api.JogFill(withChain, 0, 3));
  ASSERT_EQ(fromRing.size(), 1u);
  EXPECT_TRUE(test::SameCycle(fromRing[0], Rect(10, 0, 30, 2)));
  // Nothing to fill: an empty layer. Jogs of length 2 stay at length 2.
  UseRings({Rect(0, 0, 10, 10)});
  EXPECT_TRUE(Temp(api.JogFill(1, 0, 3)).IsEmpty());
  UseRings({shapes[0]});
  EXPECT_TRUE(Temp(api.JogFill(1, 0, 2)).IsEmpty());
}

TEST_F(CheckTest, HierarchicalStepsKeepWhatLiesOnTheGrownOperationLayers) {
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = {
      {{0, 1}, {7, 1}, {7, 10}, {17, 20}, {7, 23}, {0, 10}},
      {{40, 0}, {50, 0}, {50, 2}, {70, 2}, {70, 20}, {40, 20}},
      {{80, 3}, {93, 3}, {90, 25}}};
  m[0].shapes[kLayer2] = {Rect(5, 8, 12, 30), Rect(45, -5, 55, 10),
                          Rect(85, 0, 100, 10)};
  Use(m);
  struct Case {
    const char* what;
    std::function<int()> op;
    int32_t size;
  } cases[] = {
      {"Offgrid", [&] { return api.Offgrid(1, 0, 5, 4); }, 4},
      {"Acute", [&] { return api.Acute(1, 0, 6); }, 6},
      {"Non45", [&] { return api.Non45(1, 0, 2); }, 2},
      {"JogFill", [&] { return api.JogFill(1, 0, 3); }, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectHierarchicalIsFlatOnOpLayers(c.op, m[0].shapes[kLayer2], c.size);
  }
}

// Markers without area (points of Acute with size 0, squares of half-size
// 0) have nothing to intersect with the operation layers: the hierarchical
// run keeps them as the flat run finds them.
TEST_F(CheckTest, HierarchicalRunsKeepMarkersWithoutArea) {
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = {{{80, 3}, {93, 3}, {90, 25}},
                          {{0, 1}, {7, 1}, {7, 10}, {17, 20}, {7, 23}, {0, 10}}};
  m[0].shapes[kLayer2] = {Rect(85, 0, 100, 10)};
  Use(m);
  const std::function<int()> ops[] = {
      [&] { return api.Acute(1, 0, 0); },
      [&] { return api.Offgrid(1, 0, 5, 1); },
      [&] { return api.Non45(1, 0, 0); },
  };
  for (const auto& op : ops) {
    api.hierarchical = 0;
    const int flat = op();
    api.hierarchical = 1;
    api.AddOpLayer(2, 0);
    const int hier = op();
    EXPECT_GT(Temp(flat).pointCount, 0);
    EXPECT_EQ(Temp(hier).pointCount, Temp(flat).pointCount);
    api.ResetOpLayers();
  }
}

using CheckDeathTest = CheckTest;

TEST_F(CheckDeathTest, BadGridsAndShiftsBeyondTheCoordinatesEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* what;
    double unitPerNm;
    std::function<void(API&)> op;
    const char* message;
  } cases[] = {
      {"grid 0", 1.0, [](API& a) { a.Offgrid(1, 0, 0, 2); },
       "ERROR: DRC: Off-grid check needs a grid of at least one database unit\n"},
      {"grid below one unit", 0.1, [](API& a) { a.Offgrid(1, 0, 4, 2); },
       "ERROR: DRC: Off-grid check needs a grid of at least one database unit\n"},
      {"negative grid", 1.0, [](API& a) { a.Offgrid(1, 0, -5, 2); },
       "ERROR: DRC: Off-grid check needs a grid of at least one database unit\n"},
      {"shift beyond int32", 1.0,
       [](API& a) { a.Shift(1, 0, 2147483645, 0); },
       "ERROR: DRC: Coordinate out of range\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseRings({Rect(0, 0, 7, 7)}, c.unitPerNm);
    EXPECT_EXIT(WithStdoutOnStderr([&] { c.op(api); }),
                ::testing::ExitedWithCode(1), Literal(c.message));
  }
}

}  // namespace
}  // namespace velmar::api_test
