// Edge-layer operations of API: reversing, shifting, extending, expanding
// and connecting the edges of a layer, with their reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/api.h"
#include "command/layer_op_fixture.h"
#include "geometry/point_list_order.h"

namespace velmar::api_test {
namespace {

using EdgeLayerTest = LayerOpTest;

TEST_F(EdgeLayerTest, MovesOfTwoPointChains) {
  UseRings({Rect(0, 0, 10, 10)});
  struct Case {
    const char* what;
    std::function<int(API&, int)> op;
    std::vector<Edge> want;
  } cases[] = {
      {"EShift 10", [](API& a, int l) { return a.EShift(l, 0, 10); },
       {{0, -10, 100, -10}, {100, 10, 0, 10}}},
      {"EShift -10", [](API& a, int l) { return a.EShift(l, 0, -10); },
       {{0, 10, 100, 10}, {100, -10, 0, -10}}},
      {"Extend 10", [](API& a, int l) { return a.Extend(l, 0, 10); },
       {{-10, 0, 110, 0}, {110, 0, -10, 0}}},
      {"Extend 10 -20", [](API& a, int l) { return a.Extend(l, 0, 10, -20); },
       {{-10, 0, 80, 0}, {110, 0, 20, 0}}},
  };
  for (const Case& c : cases) {
    const int in = EdgeLayer({{0, 0, 100, 0}, {100, 0, 0, 0}});
    const int out = c.op(api, in);
    EXPECT_EQ(ChainsOf(Temp(out)), Sorted(c.want)) << c.what;
    EXPECT_TRUE(Temp(in).IsEmpty()) << c.what;  // datatype 0: moved
  }
  // Amounts are nanometres, rounded half away from zero: 2.5 units -> 3.
  api.currentLib->unitPerNm = 0.5;
  const int in = EdgeLayer({{0, 0, 0, 100}});
  EXPECT_EQ(ChainsOf(Temp(api.EShift(in, 1, 5))),
            (std::vector<Edge>{{3, 0, 3, 100}}));
  EXPECT_EQ(ChainsOf(Temp(api.EShift(in, 1, -5))),
            (std::vector<Edge>{{-3, 0, -3, 100}}));
}

TEST_F(EdgeLayerTest, ExpandGivesCounterClockwiseRectanglesBesideEachEdge) {
  UseRings({Rect(0, 0, 40, 30)});
  struct Case {
    int amount;
    Points want;
  } cases[] = {
      {10, {{0, -10}, {100, -10}, {100, 0}, {0, 0}}},
      {-10, {{0, 0}, {100, 0}, {100, 10}, {0, 10}}},
  };
  for (const Case& c : cases) {
    const int in = EdgeLayer({{0, 0, 100, 0}});
    const auto rings = RingsOf(api.Expand(in, 0, c.amount));
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(test::SameCycle(rings[0], c.want)) << c.amount;
    EXPECT_TRUE(Temp(in).IsEmpty());
  }
  // A polygon layer: one rectangle per edge, outside the ring for a
  // positive amount (the library ring runs counter-clockwise).
  const auto bands = RingsOf(api.Expand(1, 0, 5));
  ASSERT_EQ(bands.size(), 4u);
  std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>> boxes;
  for (const Points& r : bands) {
    EXPECT_EQ(oracle::Area2(r) > 0, true);
    const Box b = ring_test::BoxOf(r);
    boxes.emplace_back(b.x1, b.y1, b.x2, b.y2);
  }
  std::sort(boxes.begin(), boxes.end());
  EXPECT_EQ(boxes, (std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>>{
                       {-5, 0, 0, 30}, {0, -5, 40, 0}, {0, 30, 40, 35},
                       {40, 0, 45, 30}}));
}

TEST_F(EdgeLayerTest, HierarchicalExpandKeepsWhatLiesOnTheGrownOperationLayers) {
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 40, 30), Rect(60, 10, 70, 50)};
  m[0].shapes[kLayer2] = {Rect(10, -20, 30, 20), Rect(62, 40, 90, 45)};
  Use(m);
  for (int amount : {6, -4}) {
    SCOPED_TRACE(amount);
    ExpectHierarchicalIsFlatOnOpLayers([&] { return api.Expand(1, 0, amount); },
                                       m[0].shapes[kLayer2], amount);
  }
}

TEST_F(EdgeLayerTest, EInverseReversesEveryChainOnceMovedOrCopied) {
  UseRings({Rect(0, 0, 10, 10)});
  const std::vector<Edge> edges = {{0, 0, 100, 0}, {5, 5, 5, 50}, {7, 1, 3, 9}};
  std::vector<Edge> reversed;
  for (const auto& [x1, y1, x2, y2] : edges) reversed.emplace_back(x2, y2, x1, y1);
  const int layer = EdgeLayer(edges);
  // The copy (datatype 1) leaves the layer; the move (0) takes it.
  const int copied = api.EInverse(layer, 1);
  EXPECT_EQ(ChainsOf(Temp(copied)), Sorted(reversed));
  EXPECT_EQ(ChainsOf(Temp(layer)), Sorted(edges));
  const int moved = api.EInverse(layer, 0);
  EXPECT_EQ(ChainsOf(Temp(moved)), Sorted(reversed));
  EXPECT_TRUE(Temp(layer).IsEmpty());
  // Twice is the identity; a library ring comes out clockwise.
  EXPECT_EQ(ChainsOf(Temp(api.EInverse(moved, 0))), Sorted(edges));
  const auto rings = RingsOf(api.EInverse(1, 0));
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(oracle::Area2(rings[0]), -200);
}

TEST_F(EdgeLayerTest, EConnectJoinsTheFourEdgesOfASquare) {
  UseRings({Rect(0, 0, 10, 10)});
  const std::vector<Edge> sides = {
      {0, 0, 10, 0}, {10, 0, 10, 10}, {10, 10, 0, 10}, {0, 10, 0, 0}};
  int r = 0;
  const std::string reported = Printed([&] {
    api.tech.reportDegree = 1;
    r = api.EConnect(EdgeLayer(sides), 0);
    api.tech.reportDegree = 0;
  });
  EXPECT_EQ(reported, "\n<DATE>\nEConnect {" + std::to_string(r + 1) +
                          " 0}\n  Total input vertices = 8\n<DATE>\nProcess "
                          "starts\nResulting layer is {" + std::to_string(r) +
                          " 0}\n");
  const auto rings = RingsOf(r);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], Rect(0, 0, 10, 10)));

  // Three edges: one open chain of four points, and nothing printed.
  std::string printed = Printed([&] {
    const int l = api.EConnectPartial(
        EdgeLayer({sides[0], sides[1], sides[2]}), 0);
    EXPECT_EQ(Temp(l).pointCount, 4);
    const PSPoint* start = Temp(l).head;
    while (start->prev) start = start->prev;
    EXPECT_EQ(test::ChainPoints(start),
              (Points{{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
  });
  EXPECT_EQ(printed, "");
}

using EdgeLayerDeathTest = EdgeLayerTest;

TEST_F(EdgeLayerDeathTest, EConnectOfAnOpenOutlineEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  UseRings({Rect(0, 0, 10, 10)});
  const int l = EdgeLayer({{0, 0, 10, 0}, {10, 0, 10, 10}, {10, 10, 0, 10}});
  EXPECT_EXIT(WithStdoutOnStderr([&] { api.EConnect(l, 0); }),
              ::testing::ExitedWithCode(1),
              Literal("Program Error: lost connection at (0, 0)\n"
                      "ERROR: DRC: Polygon connection failed\n"));
}

// Moves that would leave the coordinate range end the process instead of
// wrapping.
TEST_F(EdgeLayerDeathTest, MovesBeyondTheCoordinateRangeEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  UseRings({Rect(0, 0, 10, 10)});
  // An upward edge moves right, a rightward one grows right.
  const Edge up{2147483600, 0, 2147483600, 10};
  const Edge right{2147483600, 0, 2147483640, 0};
  const struct {
    Edge edge;
    std::function<void(API&, int)> op;
  } cases[] = {
      {up, [](API& a, int l) { a.EShift(l, 0, 100); }},
      {right, [](API& a, int l) { a.Extend(l, 0, 100); }},
      {right, [](API& a, int l) { a.Extend(l, 0, 0, 100); }},
      {up, [](API& a, int l) { a.Expand(l, 0, 100); }},
  };
  for (const auto& c : cases) {
    const int l = EdgeLayer({c.edge});
    const auto& op = c.op;
    EXPECT_EXIT(WithStdoutOnStderr([&] { op(api, l); }),
                ::testing::ExitedWithCode(1),
                Literal("ERROR: DRC: Coordinate out of range\n"));
  }
}

TEST_F(EdgeLayerTest, ReportLinesWithAndWithoutReportDegree) {
  UseRings({Rect(0, 0, 10, 10)});
  struct Case {
    std::function<int(API&, int)> op;
    const char* reported;
  } cases[] = {
      {[](API& a, int l) { return a.EInverse(l, 0); },
       "\n<DATE>\nEInverse {L 0}\n  Total input vertices = 2\n"
       "<DATE>\nProcess starts\nResulting layer is {R 0}\n"},
      {[](API& a, int l) { return a.EShift(l, 0, 3); },
       "\n<DATE>\nEShift {L 0} 3\n  Total input vertices = 2\n"
       "Resulting layer is {R 0}\n"},
      {[](API& a, int l) { return a.Extend(l, 0, -4); },
       "\n<DATE>\nExtend {L 0} -4\n  Total input vertices = 2\n"
       "Resulting layer is {R 0}\n"},
      {[](API& a, int l) { return a.Extend(l, 0, 1, 2); },
       "\n<DATE>\nExtend {L 0} 1 2\n  Total input vertices = 2\n"
       "Resulting layer is {R 0}\n"},
      {[](API& a, int l) { return a.Expand(l, 0, 5); },
       "\n<DATE>\nExpand {L 0} 5\n  Total input vertices = 2\n"
       "Resulting layer is {R 0}\n"},
      {[](API& a, int l) { return a.EConnectPartial(l, 0); },
       "\n<DATE>\nEConnectPartial {L 0}\n  Total input vertices = 2\n"
       "<DATE>\nProcess starts\nResulting layer is {R 0}\n"},
  };
  auto fill = [](std::string text, int l, int r) {
    text.replace(text.find("{L"), 2, "{" + std::to_string(l));
    text.replace(text.find("{R"), 2, "{" + std::to_string(r));
    return text;
  };
  for (const Case& c : cases) {
    api.tech.reportDegree = 0;
    int l = EdgeLayer({{0, 0, 10, 0}});
    EXPECT_EQ(Printed([&] { c.op(api, l); }), "");
    api.tech.reportDegree = 1;
    l = EdgeLayer({{0, 0, 10, 0}});
    int r = 0;
    const std::string printed = Printed([&] { r = c.op(api, l); });
    EXPECT_EQ(printed, fill(c.reported, l, r));
    // An empty input: the warning and an empty layer.
    const int empty = EdgeLayer({});
    const std::string warned = Printed([&] { r = c.op(api, empty); });
    EXPECT_NE(warned.find("  Total input vertices = 0\n"
                          "Warning: no input layer exists\n"
                          "Resulting layer is {" + std::to_string(r) + " 0}\n"),
              std::string::npos);
    EXPECT_TRUE(Temp(r).IsEmpty());
  }
}

}  // namespace
}  // namespace velmar::api_test
