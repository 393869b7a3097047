// Working cell and area, the operation frame with its temporary layers, and
// the boolean and relational operations of API, run on libraries built in
// memory. Boolean results are checked against a rasterised oracle of the
// flattened layout.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/fatal.h"
#include "command/inspectable_api.h"
#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "geometry/point_list_edit.h"
#include "support/point_list_fixtures.h"
#include "layoutdb/db_polygon.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "support/api_fixtures.h"
#include "support/cell_fixtures.h"
#include "support/point_list_fixtures.h"
#include "layoutdb/db_cell.h"
#include "support/hier_fixtures.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using cell_test::Ring;
using hier_test::Model;
using hier_test::ModelCell;
using hier_test::ModelRef;
using test::InspectableApi;

constexpr LayerKey kLayer1 = 1 * 256;      // {1 0}
constexpr LayerKey kLayer2 = 2 * 256;      // {2 0}
constexpr LayerKey kLayer1dt5 = 256 + 5;   // {1 5}

Ring Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
}

using api_test::DropPoolReports;
using api_test::Lines;
using api_test::MakeLibrary;
using api_test::MaskDates;

// The API object with libraries it owns for the test.
class OpsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    api.ResetTempLayers();
    for (std::unique_ptr<LibDB>& lib : api.libs) lib.reset();
    api.currentLib = nullptr;
  }

  // Puts the library into slot k (current when k is the current slot).
  void Install(int k, std::unique_ptr<LibDB> lib) {
    api.InstallLibrary(k, std::move(lib));
  }

  int SetAreaQuiet(const char* cell, int x1, int y1, int x2, int y2) {
    test::StdoutCapture out;
    return api.SetArea(cell, x1, y1, x2, y2);
  }

  PSList& Temp(int number) { return *api.FindTempLayer(number); }

  InspectableApi api;
};

// The rings of a temporary layer (closed rings only).
std::vector<Ring> RingsOfLayer(API& api, int number) {
  return cell_test::RingsOf(*api.FindTempLayer(number));
}

// --- Working cell and area ----------------------------------------------------

Model TwoCellModel() {
  Model m(3);
  m[0].shapes[kLayer1] = {Rect(0, 0, 100, 50)};
  m[0].refs = {ModelRef{1, 200, 0}};
  m[1].shapes[kLayer2] = {Rect(0, 0, 30, 40)};
  m[2].shapes[kLayer2] = {Rect(0, 0, 5, 5)};  // unplaced: a second root
  return m;
}

TEST_F(OpsTest, SetAreaOnANamedCellWithoutBoxTakesTheCellBox) {
  Install(0, MakeLibrary(TwoCellModel()));
  test::StdoutCapture out;
  EXPECT_EQ(api.SetArea("c0", 0, 0, 0, 0), 1);
  EXPECT_EQ(MaskDates(out.Stop()),
            "<DATE>\nArea: (0, 0) - (0, 0) (nm) on cell c0\n"
            "  Area adjusted to (0, 0) - (230, 50) (nm) \n");
  EXPECT_EQ(api.workingCell, 0);
  EXPECT_EQ(api.savedWorkingCells[0], 0);
  EXPECT_EQ(api.area, Box(0, 0, 230, 50));
  EXPECT_EQ(api.GetWorkingCell(), "c0");
}

TEST_F(OpsTest, SetAreaWithEmptyNameTakesTheFirstRoot) {
  Install(0, MakeLibrary(TwoCellModel()));
  test::StdoutCapture out;
  EXPECT_EQ(api.SetArea("", 0, 0, 1000, 1000), 1);
  EXPECT_EQ(MaskDates(out.Stop()),
            "<DATE>\nArea: (0, 0) - (1000, 1000) (nm) on cell \n"
            "  Cell adjusted to c0 in 1-th library\n");
  EXPECT_EQ(api.area, Box(0, 0, 1000, 1000));
}

TEST_F(OpsTest, SetAreaWithUnknownCellFailsAndKeepsTheArea) {
  Install(0, MakeLibrary(TwoCellModel()));
  ASSERT_EQ(SetAreaQuiet("c1", 1, 2, 3, 4), 1);
  test::StdoutCapture out;
  EXPECT_EQ(api.SetArea("nope", 0, 0, 10, 10), 0);
  EXPECT_EQ(MaskDates(out.Stop()),
            "<DATE>\nArea: (0, 0) - (10, 10) (nm) on cell nope\n"
            "ERROR: Cell nope is not defined\n");
  EXPECT_EQ(api.area, Box(1, 2, 3, 4));
  EXPECT_EQ(api.workingCell, 1);
}

TEST_F(OpsTest, SetAreaPicksTheCellInEverySlotUpToTheFirstEmptyOne) {
  Model other(2);
  other[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  other[1].shapes[kLayer1] = {Rect(0, 0, 10, 10)};  // "c1" has id 1 there
  Install(0, MakeLibrary(TwoCellModel()));
  Install(1, MakeLibrary(other));
  Install(3, MakeLibrary(other));
  api.savedWorkingCells[3] = 7;
  ASSERT_EQ(SetAreaQuiet("c1", 0, 0, 5, 5), 1);
  EXPECT_EQ(api.savedWorkingCells[0], 1);
  EXPECT_EQ(api.savedWorkingCells[1], 1);
  EXPECT_EQ(api.savedWorkingCells[3], 7);  // behind empty slot 2

  // A cell that slot 1 lacks: reported with the slot number.
  test::StdoutCapture out;
  EXPECT_EQ(api.SetArea("c2", 0, 0, 5, 5), 0);
  EXPECT_NE(out.Stop().find("ERROR: Cell c2 is not defined in 1-th library\n"),
            std::string::npos);
  EXPECT_EQ(api.savedWorkingCells[0], 2);
  EXPECT_EQ(api.savedWorkingCells[1], -1);
}

TEST_F(OpsTest, SetAreaChoosesTheCurrentSlotEvenBehindAnEmptySlot) {
  Model other(2);
  other[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  other[1].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(TwoCellModel()));
  api.currentSlot = 2;
  Install(2, MakeLibrary(other));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 5, 5), 1);
  EXPECT_EQ(api.savedWorkingCells[2], 0);
  EXPECT_EQ(api.workingCell, 0);
}

TEST_F(OpsTest, AreaConversionRoundsTheCornersAsSpecifiedAndGettersContainIt) {
  struct Case {
    double s;
    int x1, y1, x2, y2;
    Box expected;
    int gx1, gy1, gx2, gy2;  // GetAreaX1, Y1, X2, Y2
  };
  const Case cases[] = {
      {1.0, -5, -5, 5, 5, Box(-5, -5, 5, 5), -5, -5, 5, 5},
      {0.5, 3, 3, 3, 7, Box(1, 1, 2, 4), 2, 2, 4, 8},  // x1 >= x2: cell box
      {0.5, 3, -3, 5, 7, Box(1, -2, 3, 4), 2, -4, 6, 8},
      {10.0, -7, 1, 9, 2, Box(-70, 10, 90, 20), -7, 1, 9, 2},
      {2.0, -1, 0, 1, 1, Box(-2, 0, 2, 2), -1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "s " << c.s << " x1 " << c.x1);
    Model m(1);
    m[0].shapes[kLayer1] = {Rect(1, 1, 2, 4)};
    Install(0, MakeLibrary(m, c.s));
    ASSERT_EQ(SetAreaQuiet("c0", c.x1, c.y1, c.x2, c.y2), 1);
    if (c.x1 < c.x2 && c.y1 < c.y2) {
      EXPECT_EQ(api.area, c.expected);
      EXPECT_EQ(api.GetAreaX1(), c.gx1);
      EXPECT_EQ(api.GetAreaY1(), c.gy1);
      EXPECT_EQ(api.GetAreaX2(), c.gx2);
      EXPECT_EQ(api.GetAreaY2(), c.gy2);
    }
    EXPECT_EQ(api.GetPureAreaX1(), api.area.x1);
    EXPECT_EQ(api.GetPureAreaY2(), api.area.y2);
    api.InstallLibrary(0, nullptr);
  }
}

TEST_F(OpsTest, SetAreaBeyondTheCoordinateRangeIsRefused) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(m, 10.0));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 10, 10), 1);
  test::StdoutCapture out;
  EXPECT_EQ(api.SetArea("c0", 0, 0, 300000000, 10), 0);
  EXPECT_NE(out.Stop().find("ERROR: DB: Area beyond the coordinate range\n"),
            std::string::npos);
  EXPECT_EQ(api.area, Box(0, 0, 100, 100));
}

// With 10 nm database units a proper nanometre box can round to no width
// or no height: refused like a box beyond the range, the area kept.
TEST_F(OpsTest, SetAreaWithoutWidthOrHeightInDatabaseUnitsIsRefused) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(m, 0.1));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 100, 100), 1);
  const Box kept(0, 0, 10, 10);
  ASSERT_EQ(api.area, kept);
  struct Case {
    int x1, y1, x2, y2;
  } refused[] = {{0, 0, 4, 4}, {0, 0, 4, 100}, {0, 0, 100, 4}, {-4, -4, -3, -3}};
  for (const Case& c : refused) {
    SCOPED_TRACE(std::to_string(c.x1) + " " + std::to_string(c.y1) + " " +
                 std::to_string(c.x2) + " " + std::to_string(c.y2));
    test::StdoutCapture out;
    EXPECT_EQ(api.SetArea("c0", c.x1, c.y1, c.x2, c.y2), 0);
    EXPECT_NE(out.Stop().find(
                  "ERROR: DB: Area has no width or height in database units\n"),
              std::string::npos);
    EXPECT_EQ(api.area, kept);
  }
  // One unit each way is enough.
  EXPECT_EQ(SetAreaQuiet("c0", 0, 0, 5, 5), 1);
  EXPECT_EQ(api.area, Box(0, 0, 1, 1));
}

TEST_F(OpsTest, SetAreaReportsEveryAreaReportIterThArea) {
  Install(0, MakeLibrary(TwoCellModel()));
  struct Case {
    int iter, every;
    bool printed;
  };
  const Case cases[] = {{0, 1, true},  {1, 5, true},  {5, 2, false},
                        {6, 2, true},  {7, 0, false}, {1, 0, true},
                        {4, -2, false}};
  for (const Case& c : cases) {
    api.areaIter = c.iter;
    api.areaReportIter = c.every;
    test::StdoutCapture out;
    ASSERT_EQ(api.SetArea("c0", 0, 0, 10, 10), 1);
    EXPECT_EQ(out.Stop().find("Area: (0, 0) - (10, 10)") != std::string::npos,
              c.printed)
        << c.iter << " " << c.every;
  }
}

TEST_F(OpsTest, CellRootAndLeafQueries) {
  Model m = TwoCellModel();
  std::unique_ptr<LibDB> lib = MakeLibrary(m);
  lib->roots = {0, 2};
  lib->cells[1]->flags |= DBCell::Leaf;
  lib->cells[2]->flags |= DBCell::Leaf;
  lib->cells.push_back(nullptr);  // a free id
  lib->layers.emplace(uint32_t(7 * 256 + 3), LayerInfo());
  Install(0, std::move(lib));
  EXPECT_EQ(api.TotalCell(), 4);
  EXPECT_EQ(api.TotalRoot(), 2);
  EXPECT_EQ(api.TotalLeaf(), 2);
  EXPECT_EQ(api.GetCellName(1), "c1");
  EXPECT_EQ(api.GetCellName(3), "");
  EXPECT_EQ(api.GetCellName(-1), "");
  EXPECT_EQ(api.GetCellName(99), "");
  EXPECT_EQ(api.GetRootName(1), "c2");
  EXPECT_EQ(api.GetRootName(2), "");
  EXPECT_EQ(api.GetCellId("c2"), 2);
  EXPECT_EQ(api.GetCellId("nope"), -1);

  // The leaf walk: SetArea on each leaf, then the next one.
  EXPECT_EQ(api.GetFirstLeaf(), "c1");
  ASSERT_EQ(SetAreaQuiet("c1", 0, 0, 1, 1), 1);
  EXPECT_EQ(api.GetNextLeaf(), "c2");
  ASSERT_EQ(SetAreaQuiet("c2", 0, 0, 1, 1), 1);
  EXPECT_EQ(api.GetNextLeaf(), "");

  EXPECT_EQ(api.LayerExist(7, 3), 1);
  EXPECT_EQ(api.LayerExist(1, 0), 1);
  EXPECT_EQ(api.LayerExist(3, 0), 0);
  EXPECT_EQ(api.LayerExist(6, 259), 0);  // would alias {7 3}
  EXPECT_EQ(api.LayerExist(-1, 0), 0);
}

TEST_F(OpsTest, LayerSetsAndMapKeepTheFirstMappingAndRefuseAliasingPairs) {
  EXPECT_EQ(api.LayerExist(1, 0), 0);  // no library
  test::StdoutCapture out;
  api.AddLayerMap(1, 0, 2, 0);
  api.AddLayerMap(1, 0, 3, 0);
  api.AddLayerMap(1, 256, 2, 0);
  api.AddLayerMap(4, 0, -1, 0);
  api.AddOpLayer(5, 6);
  api.AddOpLayer(256, 0);
  api.AddOpLayer2(7, 8);
  const std::string text = out.Stop();
  EXPECT_EQ(api.layerMap, (std::map<int, int>{{256, 512}}));
  EXPECT_EQ(api.opLayers, (std::set<int>{5 * 256 + 6}));
  EXPECT_EQ(api.opLayers2, (std::set<int>{7 * 256 + 8}));
  EXPECT_NE(text.find("Warning: layer {1 256} is not a library layer"),
            std::string::npos);
  api.ResetLayerMap();
  api.ResetOpLayers();
  api.ResetOpLayers2();
  EXPECT_TRUE(api.layerMap.empty());
  EXPECT_TRUE(api.opLayers.empty());
  EXPECT_TRUE(api.opLayers2.empty());
}

// --- Preconditions: each ends the process with status 1 -------------------------

using api_test::Literal;
using api_test::WithStdoutOnStderr;

using OpsDeathTest = OpsTest;

TEST_F(OpsDeathTest, PreconditionsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* what;
    std::function<void(InspectableApi&)> setup;
    std::function<void(API&)> body;
    const char* message;
  };
  auto none = [](InspectableApi&) {};
  auto withArea = [](InspectableApi& a) {
    a.InstallLibrary(0, MakeLibrary(TwoCellModel()));
    test::StdoutCapture out;
    a.SetArea("c0", 0, 0, 0, 0);
  };
  auto withLibrary = [](InspectableApi& a) {
    a.InstallLibrary(0, MakeLibrary(TwoCellModel()));
  };
  const Case cases[] = {
      {"no library", none, [](API& a) { a.BooleanOp(BooleanOpCode::Or, 1, 0, 2, 0); },
       "ERROR: Library not assigned\n"},
      {"no library, SetArea", none,
       [](API& a) { a.SetArea("c0", 0, 0, 1, 1); },
       "ERROR: Library not assigned\n"},
      {"no library, query", none, [](API& a) { a.TotalCell(); },
       "ERROR: Library not assigned\n"},
      {"no area", withLibrary, [](API& a) { a.BooleanOp(BooleanOpCode::And, 1, 0, 2, 0); },
       "ERROR: Areas not assigned\n"},
      {"working cell of another library",
       [&](InspectableApi& a) {
         withArea(a);
         a.workingCell = 2;
         Model small(1);
         small[0].shapes[kLayer1] = {Rect(0, 0, 1, 1)};
         a.InstallLibrary(0, MakeLibrary(small));
       },
       [](API& a) { a.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0); },
       "ERROR: Areas not assigned\n"},
      {"unknown boolean code", withArea,
       [](API& a) { a.BooleanOp(BooleanOpCode(10), 1, 0, 2, 0); },
       "ERROR: DRC: Unknown boolean operation\n"},
      {"relate without area", withLibrary,
       [](API& a) { a.Relate(1, 0, 2, 0); }, "ERROR: Areas not assigned\n"},
      {"next leaf without area", withLibrary,
       [](API& a) { a.GetNextLeaf(); }, "ERROR: First area not assigned\n"},
      {"unknown relational code", none,
       [](API& a) { a.RelationOp(9, 16384, 0); },
       "ERROR: Unknown operation 9 on Relational DB\n"},
      {"relational code above 23", none,
       [](API& a) { a.RelationOp(24, 16384, 0); },
       "ERROR: Unknown operation 24 on Relational DB\n"},
      {"relational op on a library layer", withArea,
       [](API& a) { a.RelationOp(0, 1, 0); },
       "ERROR: needs to input Relational DB\n"},
      {"relational op on a boolean result", withArea,
       [](API& a) {
         const int l = a.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0);
         a.RelationOp(10, l, 0);
       },
       "ERROR: needs to input Relational DB\n"},
      {"append of a library layer", none,
       [](API& a) { a.Append(16384, 0, 2, 0); },
       "ERROR: needs to input temporary layers\n"},
      {"missing temporary layer as input", withArea,
       [](API& a) { a.BooleanOp(BooleanOpCode::Or, 16384, 0, 1, 0); },
       "ERROR: Temporary layer 16384 does not exist\n"},
      {"temporary layer number above 16384", withArea,
       [](API& a) {
         a.GetTempLayer();
         a.BooleanOp(BooleanOpCode::Merge, 16385, 0, -1, 0);
       },
       "ERROR: Temporary layer 16385 does not exist\n"},
      {"reset of a removed layer", none,
       [](API& a) {
         a.GetTempLayer();
         a.ResetTempLayer(16384);
         a.ResetTempLayer(16384);
       },
       "ERROR: Temporary layer 16384 does not exist\n"},
      // Rule checks: the preconditions first, then a negative amount (it
      // would move the bands to the other side of the edges).
      {"QSPACE without area", withLibrary, [](API& a) { a.QSPACE(1, 0, -4); },
       "ERROR: Areas not assigned\n"},
      {"negative QSPACE", withArea, [](API& a) { a.QSPACE(1, 0, -4); },
       "ERROR: QSPACE takes no negative amount\n"},
      {"negative QWIDTH", withArea, [](API& a) { a.QWIDTH(1, 0, -4); },
       "ERROR: QWIDTH takes no negative amount\n"},
      {"negative QENC", withArea, [](API& a) { a.QENC(1, 0, 2, 0, -4); },
       "ERROR: QENC takes no negative amount\n"},
      {"negative CSPACE", withArea, [](API& a) { a.CSPACE(1, 0, -1); },
       "ERROR: CSPACE takes no negative amount\n"},
      {"negative CWIDTH", withArea, [](API& a) { a.CWIDTH(1, 0, -1); },
       "ERROR: CWIDTH takes no negative amount\n"},
      {"negative CENC", withArea, [](API& a) { a.CENC(1, 0, 2, 0, -1); },
       "ERROR: CENC takes no negative amount\n"},
      {"CENC with a second layer that does not exist", withArea,
       [](API& a) { a.CENC(1, 0, 16000, 0, 10); },
       "ERROR: Temporary layer 16000 does not exist\n"},
      // Layer arguments that name no layer: never read as another layer.
      {"negative layer", withArea, [](API& a) { a.BooleanOp(BooleanOpCode::And, -1, 0, 1, 0); },
       "ERROR: Temporary layer -1 does not exist\n"},
      {"negative second layer of a two-layer code", withArea,
       [](API& a) { a.BooleanOp(BooleanOpCode::And, 1, 0, -1, 0); },
       "ERROR: Temporary layer -1 does not exist\n"},
      {"negative second layer of a relation", withArea,
       [](API& a) { a.Relate(1, 0, -2, 0); },
       "ERROR: Temporary layer -2 does not exist\n"},
      {"negative datatype", withArea, [](API& a) { a.BooleanOp(BooleanOpCode::Merge, 1, -1, -1, 0); },
       "ERROR: Layer {1 -1} is not a library layer: datatype must lie in 0..255\n"},
      {"datatype above 255 ({0 261} would alias {1 5})", withArea,
       [](API& a) { a.BooleanOp(BooleanOpCode::Or, 1, 0, 0, 261); },
       "ERROR: Layer {0 261} is not a library layer: datatype must lie in 0..255\n"},
      {"too many temporary layers", none,
       [](API& a) {
         for (int i = 0; i < 20000; ++i) a.GetTempLayer();
       },
       "ERROR: Too many temporary layers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(
        {
          InspectableApi a;
          c.setup(a);
          WithStdoutOnStderr([&] { c.body(a); });
        },
        ::testing::ExitedWithCode(1), Literal(c.message));
  }
}

TEST_F(OpsDeathTest, TooManyTemporaryLayersStopsAtNumber256) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        API a;
        int last = 0;
        for (int i = 0; i < 16129; ++i) last = a.GetTempLayer();
        if (API::kTempLayerBase - last != 256) std::exit(3);
        WithStdoutOnStderr([&] { a.GetTempLayer(); });
      },
      ::testing::ExitedWithCode(1),
      Literal("ERROR: Too many temporary layers"));
}

// --- Temporary layers -----------------------------------------------------------------

TEST_F(OpsTest, TemporaryLayerNumbering) {
  EXPECT_EQ(api.GetTempLayer(), 0);
  EXPECT_EQ(api.GetTempLayer(), 1);
  EXPECT_EQ(api.GetTempLayer(), 2);
  BoxToRing(Temp(16384), Box(0, 0, 1, 1), false);
  BoxToRing(Temp(16383), Box(0, 0, 1, 1), false);
  EXPECT_EQ(api.FindTempLayer(16385), nullptr);
  EXPECT_EQ(api.FindTempLayer(16381), nullptr);
  EXPECT_EQ(api.FindTempLayer(1), nullptr);

  // A layer in the middle is emptied and keeps its place.
  api.ResetTempLayer(16383);
  EXPECT_EQ(api.tempLayers.size(), 3u);
  EXPECT_TRUE(Temp(16383).IsEmpty());
  EXPECT_EQ(Temp(16384).pointCount, 4);
  // The newest layer leaves the vector: its number comes back.
  api.ResetTempLayer(16382);
  EXPECT_EQ(api.tempLayers.size(), 2u);
  EXPECT_EQ(api.GetTempLayer(), 2);
  api.ResetTempLayers();
  EXPECT_TRUE(api.tempLayers.empty());
  EXPECT_EQ(api.GetTempLayer(), 0);
}

// --- Gathering layers --------------------------------------------------------------------

class GatherTest : public OpsTest {
 protected:
  void SetUp() override {
    Model m(2);
    m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10), Rect(100, 0, 110, 10)};
    m[0].shapes[kLayer2] = {Rect(5, 5, 20, 20)};
    m[0].shapes[kLayer1dt5] = {Rect(0, 0, 3, 3)};
    m[0].refs = {ModelRef{1, 50, 0}};
    m[1].shapes[kLayer1] = {Rect(0, 0, 4, 4)};
    Install(0, MakeLibrary(m));
    ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 60, 30), 1);
  }

  // The collected list split into its operands.
  struct Operands {
    std::vector<Ring> first, second;
  };
  Operands Split(const PSList& list) {
    Operands o;
    std::set<const PSPoint*> seen;
    for (const PSPoint* p = list.head; p != nullptr; p = p->link) {
      if (seen.count(p)) continue;
      Ring r;
      const PSPoint* q = p;
      const bool second = (p->flags & PSPointFlags::SecondLayer) != 0;
      do {
        seen.insert(q);
        EXPECT_EQ((q->flags & PSPointFlags::SecondLayer) != 0, second);
        r.push_back(Point(q->x, q->y));
        q = q->next;
      } while (q != nullptr && q != p);
      (second ? o.second : o.first).push_back(r);
    }
    return o;
  }

  static int64_t Area(const std::vector<Ring>& rings) {
    int64_t a = 0;
    for (const Ring& r : rings) a += int64_t(cell_test::Area2(r));
    return a / 2;
  }
};

TEST_F(GatherTest, LibraryLayersFromTheWorkingAreaWithTheSecondMarked) {
  for (int hier = 0; hier <= 1; ++hier) {
    SCOPED_TRACE(hier);
    api.hierarchical = hier;
    PSList list;
    api.CollectLayers(list, 1, 0, 2, 0);
    const Operands o = Split(list);
    // Layer 1: the square at the origin and the placed child square; the
    // square at x = 100 lies outside the area.
    EXPECT_EQ(Area(o.first), 100 + 16);
    EXPECT_EQ(Area(o.second), 225);
    EXPECT_EQ(list.pointCount, 12);
    ClearPointList(list);
  }
}

TEST_F(GatherTest, MarginWidensTheWindowInDatabaseUnits) {
  api.currentLib->unitPerNm = 2.0;  // 25 nm -> 50 units
  api.tech.areaMargin = 25;
  PSList list;
  api.CollectLayers(list, 1, 0, -1, 0);
  const Operands o = Split(list);
  // The window reaches x = 110: the far square comes in whole.
  EXPECT_EQ(Area(o.first), 100 + 16 + 100);
  EXPECT_TRUE(o.second.empty());
  ClearPointList(list);

  api.tech.areaMargin = 22;  // 44 units: the far square is cut at x = 104
  api.CollectLayers(list, 1, 0, -1, 0);
  EXPECT_EQ(Area(Split(list).first), 100 + 16 + 40);
  ClearPointList(list);
}

TEST_F(GatherTest, SameLibraryKeyTwiceLeavesTheFirstOperandEmpty) {
  PSList list;
  api.CollectLayers(list, 1, 0, 1, 0);
  const Operands o = Split(list);
  EXPECT_TRUE(o.first.empty());
  EXPECT_EQ(Area(o.second), 116);
  ClearPointList(list);
}

TEST_F(GatherTest, DatatypeZeroMovesATemporaryLayerAndOtherDatatypesCopy) {
  api.GetTempLayer();
  api.GetTempLayer();
  BoxToRing(Temp(16384), Box(0, 0, 2, 2), false);
  BoxToRing(Temp(16383), Box(0, 0, 3, 3), true);  // marks must not count

  PSList list;
  api.CollectLayers(list, 16384, 1, 16383, 1);
  Operands o = Split(list);
  EXPECT_EQ(Area(o.first), 4);
  EXPECT_EQ(Area(o.second), 9);
  EXPECT_EQ(Temp(16384).pointCount, 4);
  EXPECT_EQ(Temp(16383).pointCount, 4);
  ClearPointList(list);

  api.CollectLayers(list, 16383, 0, 16384, 0);
  o = Split(list);
  EXPECT_EQ(Area(o.first), 9);
  EXPECT_EQ(Area(o.second), 4);
  EXPECT_TRUE(Temp(16384).IsEmpty());
  EXPECT_TRUE(Temp(16383).IsEmpty());
  ClearPointList(list);
}

TEST_F(GatherTest, MissingLayersWarnOnlyWithReportDegree) {
  PSList list;
  {
    test::StdoutCapture out;
    api.CollectLayers(list, 9, 0, 8, 255);
    EXPECT_EQ(out.Stop(), "");
  }
  EXPECT_TRUE(list.IsEmpty());
  api.tech.reportDegree = 1;
  test::StdoutCapture out;
  api.CollectLayers(list, 9, 0, 0, 255);
  EXPECT_EQ(out.Stop(),
            "Warning: no layer {9 0} exists\n"
            "Warning: no layer {0 255} exists\n"
            "  Total input vertices = 0\n");
}

TEST_F(GatherTest, AreaLayersIntersectTheResult) {
  api.AddOpLayer(2, 0);
  // Layer {2 0} is (5,5)-(20,20): as it is, grown by 2 and shrunk by 2,
  // against the result (0,0)-(10,10).
  const struct {
    int size;
    int64_t area;
  } cases[] = {{0, 25}, {2, 49}, {-2, 9}};
  for (const auto& c : cases) {
    PSList list;
    BoxToRing(list, Box(0, 0, 10, 10), false);
    api.GatherAreaLayers(c.size, list);
    EXPECT_EQ(Area(cell_test::RingsOf(list)), c.area) << "size " << c.size;
    ClearPointList(list);
  }
}

// --- Booleans against a rasterised oracle ---------------------------------------------------

// A two-level hierarchy of random rectangles on layers {1 0} and {2 0}:
// leaf cells placed by the top cell in all orientations, once as arrays.
Model RandomRectangles(std::mt19937& rng) {
  std::uniform_int_distribution<int> pos(0, 24), len(1, 9), orient(0, 7);
  Model m(3);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < (c == 0 ? 6 : 4); ++i) {
      const int x = pos(rng), y = pos(rng);
      const LayerKey key = (i % 2 == 0) ? kLayer1 : kLayer2;
      m[size_t(c)].shapes[key].push_back(
          Rect(x, y, x + len(rng), y + len(rng)));
    }
  }
  for (int i = 0; i < 4; ++i) {
    ModelRef r{1 + i % 2, 10 + 12 * i, 40 - 7 * i};
    r.orientation = uint8_t(orient(rng));
    m[0].refs.push_back(r);
  }
  ModelRef array{2, 5, 5};
  array.array = true;
  array.columns = 2;
  array.rows = 3;
  array.columnPitch = 17;
  array.rowPitch = 13;
  array.orientation = uint8_t(orient(rng));
  m[0].refs.push_back(array);
  return m;
}

// Pixels (unit squares by their lower-left corner) inside the rings.
std::vector<bool> Raster(const std::vector<Ring>& rings, const Box& w,
                         const std::function<bool(int)>& inside) {
  std::vector<bool> out;
  for (int32_t y = w.y1; y < w.y2; ++y)
    for (int32_t x = w.x1; x < w.x2; ++x)
      out.push_back(inside(hier_test::WindingSum(rings, x + 0.5, y + 0.5)));
  return out;
}

TEST_F(OpsTest, BooleansEqualTheRasterisedFlatLayout) {
  std::mt19937 rng(20071002);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const Model m = RandomRectangles(rng);
    Install(0, MakeLibrary(m));
    // Mirrored placements turn rings clockwise; the library takes every
    // shape counter-clockwise.
    hier_test::FlatRings flat = hier_test::Flatten(m, 0);
    for (auto& [key, rings] : flat)
      for (Ring& r : rings)
        if (cell_test::Area2(r) < 0) std::reverse(r.begin(), r.end());
    const Box all = hier_test::BoxOfFlat(flat);
    // The whole cell, then a window cutting through it.
    const Box windows[] = {
        all, Box(all.x1 + 9, all.y1 + 7, all.x2 - 11, all.y2 - 5)};
    for (const Box& w : windows) {
      api.hierarchical = round % 2;
      ASSERT_EQ(SetAreaQuiet("c0", w.x1, w.y1, w.x2, w.y2), 1);
      const auto l1 = flat.count(kLayer1) ? flat.at(kLayer1) : std::vector<Ring>();
      const auto l2 = flat.count(kLayer2) ? flat.at(kLayer2) : std::vector<Ring>();
      const std::vector<bool> in1 = Raster(l1, w, [](int n) { return n > 0; });
      const std::vector<bool> in2 = Raster(l2, w, [](int n) { return n > 0; });
      const std::vector<bool> twice1 =
          Raster(l1, w, [](int n) { return n > 1; });
      using Code = BooleanOpCode;
      struct Op {
        Code code;
        int layer2;
        std::function<bool(size_t)> expected;
      };
      const Op ops[] = {
          {Code::Merge, -1, [&](size_t i) { return bool(in1[i]); }},
          {Code::Overlap, -1, [&](size_t i) { return bool(twice1[i]); }},
          {Code::Or, 2, [&](size_t i) { return in1[i] || in2[i]; }},
          {Code::And, 2, [&](size_t i) { return in1[i] && in2[i]; }},
          {Code::Diff, 2, [&](size_t i) { return in1[i] && !in2[i]; }},
          {Code::Xor, 2, [&](size_t i) { return in1[i] != in2[i]; }},
      };
      for (const Op& op : ops) {
        SCOPED_TRACE(int(op.code));
        const int layer = api.BooleanOp(op.code, 1, 0, op.layer2, 0);
        const std::vector<Ring> result = RingsOfLayer(api, layer);
        EXPECT_FALSE(HasOpenChains(Temp(layer)));
        const std::vector<bool> got =
            Raster(result, w, [](int n) { return n > 0; });
        // Nothing of the result lies outside the window.
        EXPECT_FALSE(HasPointOutside(Temp(layer), w));
        int64_t expectedArea = 0;
        size_t wrong = 0;
        for (size_t i = 0; i < got.size(); ++i) {
          expectedArea += op.expected(i) ? 1 : 0;
          if (got[i] != op.expected(i)) ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(int64_t(ListArea(Temp(layer))), expectedArea);
      }
      api.ResetTempLayers();
    }
    api.InstallLibrary(0, nullptr);
  }
}

TEST_F(OpsTest, BooleansOnTemporaryLayersConsumeOnlyDatatypeZeroInputs) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  m[0].shapes[kLayer2] = {Rect(5, 0, 15, 10)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int a = api.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0);
  const int b = api.BooleanOp(BooleanOpCode::Merge, 2, 0, -1, 0);
  EXPECT_EQ(a, 16384);
  EXPECT_EQ(b, 16383);
  const int x = api.BooleanOp(BooleanOpCode::Xor, a, 1, b, 1);  // copies
  EXPECT_EQ(ListArea(Temp(x)), 100);
  EXPECT_EQ(ListArea(Temp(a)), 100);
  EXPECT_EQ(ListArea(Temp(b)), 100);
  const int d = api.BooleanOp(BooleanOpCode::Diff, a, 0, b, 0);  // moves
  EXPECT_EQ(ListArea(Temp(d)), 50);
  EXPECT_TRUE(Temp(a).IsEmpty());
  EXPECT_TRUE(Temp(b).IsEmpty());
  // A consumed layer is an empty input: the result is empty too.
  const int e = api.BooleanOp(BooleanOpCode::Merge, a, 0, -1, 0);
  EXPECT_TRUE(Temp(e).IsEmpty());
  EXPECT_EQ(e, 16380);
}

TEST_F(OpsTest, EdgeModeDeliversOpenBoundaryPieces) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int closed = api.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0);
  EXPECT_FALSE(HasOpenChains(Temp(closed)));
  EXPECT_EQ(Temp(closed).pointCount, 4);
  api._edge = 1;
  const int edges = api.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0);
  EXPECT_TRUE(HasOpenChains(Temp(edges)));
  EXPECT_EQ(Temp(edges).pointCount, 8);  // four 2-point pieces
}

TEST_F(OpsTest, ReportedRunOfOneBooleanOperation) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10)};
  m[0].shapes[kLayer2] = {Rect(5, 0, 15, 10)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  api.tech.reportDegree = 1;
  api._edge = 0;
  test::StdoutCapture out;
  EXPECT_EQ(api.BooleanOp(BooleanOpCode::And, 1, 0, 2, 0), 16384);
  const std::string lines = DropPoolReports(MaskDates(out.Stop()));
  EXPECT_EQ(lines,
            "\n<DATE>\nAND {1 0} {2 0}\n"
            "  Total input vertices = 8\n"
            "<DATE>\nProcess starts\n"
            "  Total output vertices = 4\n"
            "Resulting layer is {16384 0}\n");

  test::StdoutCapture out2;
  api._edge = 1;
  EXPECT_EQ(api.BooleanOp(BooleanOpCode::And, 3, 0, 2, 7), 16383);
  const std::string lines2 = DropPoolReports(MaskDates(out2.Stop()));
  EXPECT_EQ(lines2,
            "\n<DATE>\nEDGE AND {3 0} {2 7}\n"
            "Warning: no layer {3 0} exists\n"
            "Warning: no layer {2 7} exists\n"
            "  Total input vertices = 0\n"
            "Warning: no input layer exists\n"
            "Resulting layer is {16383 0}\n");
}

// --- Relational databases ----------------------------------------------------------------------

TEST_F(OpsTest, RelationalDatabaseServesManySelectionsAndStaysUnchanged) {
  Model m(1);
  // Layer 1: one square inside layer 2, one crossing it, one outside.
  m[0].shapes[kLayer1] = {Rect(2, 2, 4, 4), Rect(8, 2, 14, 4),
                          Rect(20, 20, 22, 22)};
  m[0].shapes[kLayer2] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int db = api.Relate(1, 0, 2, 0);
  ASSERT_TRUE(api.IsRelationalDB(API::kTempLayerBase - db));
  const int32_t dbPoints = Temp(db).pointCount;

  auto boxes = [&](int layer) {
    std::vector<Box> out;
    for (const Ring& r : RingsOfLayer(api, layer)) out.push_back(cell_test::BoxOf(r));
    std::sort(out.begin(), out.end(), [](const Box& a, const Box& b) {
      return a.x1 < b.x1;
    });
    return out;
  };
  const int inside = api.RelationOp(20, db, 0);   // IN
  const int outside = api.RelationOp(22, db, 0);  // OUT
  api._not = 1;
  const int notInside = api.RelationOp(20, db, 0);
  api._not = 0;
  EXPECT_EQ(boxes(inside), (std::vector<Box>{Box(2, 2, 4, 4)}));
  EXPECT_EQ(boxes(outside), (std::vector<Box>{Box(20, 20, 22, 22)}));
  // The complement among the first layer's rings.
  EXPECT_EQ(boxes(notInside),
            (std::vector<Box>{Box(8, 2, 14, 4), Box(20, 20, 22, 22)}));
  // Edge selections of codes 0..8: the relational AND is the overlap.
  const int rand = api.RelationOp(5, db, 0);
  EXPECT_EQ(ListArea(Temp(rand)), 4 + 4);
  EXPECT_EQ(Temp(db).pointCount, dbPoints);
  EXPECT_TRUE(api.IsRelationalDB(API::kTempLayerBase - db));

  // A copy of the database as an input leaves it one; a move consumes it.
  const int merged = api.BooleanOp(BooleanOpCode::Merge, db, 1, -1, 0);
  EXPECT_TRUE(api.IsRelationalDB(API::kTempLayerBase - db));
  EXPECT_GT(Temp(merged).pointCount, 0);
  api.BooleanOp(BooleanOpCode::Merge, db, 0, -1, 0);
  EXPECT_TRUE(Temp(db).IsEmpty());
  test::StdoutCapture out;
  api.tech.reportDegree = 1;
  const int fromConsumed = api.RelationOp(10, db, 0);
  EXPECT_TRUE(Temp(fromConsumed).IsEmpty());
  EXPECT_NE(out.Stop().find("Warning: no input layer exists\n"),
            std::string::npos);
}

TEST_F(OpsTest, RelationalEchoNamesTheFlagsAndTheCommand) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 4, 4)};
  m[0].shapes[kLayer2] = {Rect(0, 0, 10, 10)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int db = api.Relate(1, 0, 2, 0);
  api.tech.reportDegree = 1;
  api._edge = 1;
  api._not = 1;
  test::StdoutCapture out;
  const int edges = api.RelationOp(21, db, 3);
  const std::string text = MaskDates(out.Stop());
  EXPECT_EQ(text.rfind("\n<DATE>\nEDGE NOT IN2 {16384 3}\n", 0), 0u) << text;
  // Edge mode: every selected edge a 2-point chain.
  EXPECT_EQ(Temp(edges).pointCount % 2, 0);
  EXPECT_TRUE(HasOpenChains(Temp(edges)) || Temp(edges).IsEmpty());
}

// --- Append and Compress ---------------------------------------------------------------------------

TEST_F(OpsTest, AppendJoinsLayersAndGivesTheNewestNumberBack) {
  api.GetTempLayer();
  api.GetTempLayer();
  BoxToRing(Temp(16384), Box(0, 0, 1, 1), false);
  BoxToRing(Temp(16383), Box(5, 5, 7, 7), false);
  BoxToRing(Temp(16383), Box(8, 8, 9, 9), false);
  EXPECT_EQ(api.Append(16384, 0, 16384, 0), 16384);  // itself: nothing
  EXPECT_EQ(Temp(16384).pointCount, 4);
  EXPECT_EQ(api.Append(16384, 0, 16383, 0), 16384);
  EXPECT_EQ(Temp(16384).pointCount, 12);
  EXPECT_EQ(Temp(16384).ringCount, 3);
  EXPECT_EQ(api.tempLayers.size(), 1u);
  EXPECT_EQ(api.GetTempLayer(), 1);  // 16383 again
}

TEST_F(OpsTest, CompressMergesLibraryShapesAndSimplifiesWithTheTolerance) {
  Model m(1);
  // A square and an overlapping pentagon whose top vertex (10, 11) lies one
  // unit off the line through its neighbours.
  m[0].shapes[kLayer1] = {Rect(0, 0, 10, 10),
                          {Point(5, 0), Point(20, 0), Point(20, 10),
                           Point(10, 11), Point(5, 10)}};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int exact = api.Compress(1, 0, 0);
  EXPECT_EQ(Temp(exact).pointCount, 6);  // merged into one ring
  EXPECT_EQ(ListArea(Temp(exact)), 207.5L);
  const int coarse = api.Compress(1, 0, 2);
  EXPECT_EQ(Temp(coarse).pointCount, 4);  // the 20 x 10 rectangle
  EXPECT_EQ(ListArea(Temp(coarse)), 200);
}


// --- Distance checks ------------------------------------------------------------

// WIDTH with edge-pair regions only checks each distinct shape once; a ring
// longer than a stored shape can hold is checked where it lies instead of
// ending the process. The comb: a bar (0,0)-(3n,10) with n teeth one unit
// wide and five high, 264,004 vertices; each tooth is narrower than 2.
TEST_F(OpsTest, WidthOfARingTooLongForAStoredShapeIsCheckedInPlace) {
  Install(0, MakeLibrary(TwoCellModel()));
  ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
  const int32_t n = 66000;
  std::vector<Point> comb = {{0, 0}, {3 * n, 0}, {3 * n, 10}};
  for (int32_t k = n - 1; k >= 0; --k) {
    const int32_t x = 3 * k + 1;
    comb.insert(comb.end(), {{x + 1, 10}, {x + 1, 15}, {x, 15}, {x, 10}});
  }
  comb.push_back({0, 10});
  ASSERT_GT(comb.size(), size_t(DBPolygon::kMaxVertices));
  const int index = api.GetTempLayer();
  test::AddRing(*api.tempLayers[size_t(index)], comb);
  int layer = 0;
  {
    test::StdoutCapture out;
    layer = api.WIDTH(API::kTempLayerBase - index, 0, 2, 2);
  }
  ScratchList merged;
  BooleanSweep(Temp(layer), &merged.list, BooleanOpCode::Merge, false);
  EXPECT_EQ(ListArea(merged.list), 5.0L * n);
  CountRings(merged.list);
  EXPECT_EQ(merged.list.ringCount, n);
  EXPECT_EQ(api.widthViolations, Temp(layer).pointCount);
}

}  // namespace
}  // namespace velmar

// --- Inverse, holes and merging --------------------------------------------------

namespace velmar {
namespace {

TEST_F(OpsTest, InverseAndMergeLayersEqualTheRasterisedFlatLayout) {
  std::mt19937 rng(20261211);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const Model m = RandomRectangles(rng);
    Install(0, MakeLibrary(m));
    hier_test::FlatRings flat = hier_test::Flatten(m, 0);
    for (auto& [key, rings] : flat)
      for (Ring& r : rings)
        if (cell_test::Area2(r) < 0) std::reverse(r.begin(), r.end());
    const Box all = hier_test::BoxOfFlat(flat);
    const Box w(all.x1 + 9, all.y1 + 7, all.x2 - 11, all.y2 - 5);
    // The margin widens the gathering only: nothing reaches past the area.
    api.tech.areaMargin = round % 2 == 0 ? 0 : 6;
    ASSERT_EQ(SetAreaQuiet("c0", w.x1, w.y1, w.x2, w.y2), 1);
    const auto l1 = flat.count(kLayer1) ? flat.at(kLayer1) : std::vector<Ring>();
    const auto l2 = flat.count(kLayer2) ? flat.at(kLayer2) : std::vector<Ring>();
    const std::vector<bool> in1 = Raster(l1, w, [](int n) { return n > 0; });
    const std::vector<bool> in2 = Raster(l2, w, [](int n) { return n > 0; });

    const int inv = api.Inverse(1, 0);
    EXPECT_FALSE(HasPointOutside(Temp(inv), w));
    const std::vector<bool> got =
        Raster(RingsOfLayer(api, inv), w, [](int n) { return n == 1; });
    size_t wrong = 0;
    for (size_t i = 0; i < got.size(); ++i) wrong += got[i] == in1[i];
    EXPECT_EQ(wrong, 0u) << "inverse: box minus the layer";

    // MergeLayers of {1 0} and {2 0} is their OR over the window; the OR
    // over the widened window contains the merged layers, clipped to the
    // area they are equal.
    api.opLayers = {kLayer1, kLayer2};
    for (int pass = 0; pass < 2; ++pass) {
      const int merged = api.MergeLayers();
      const std::vector<bool> mine =
          Raster(RingsOfLayer(api, merged), w, [](int n) { return n == 1; });
      wrong = 0;
      for (size_t i = 0; i < mine.size(); ++i) wrong += mine[i] != (in1[i] || in2[i]);
      EXPECT_EQ(wrong, 0u) << "merge of the operation layers, pass " << pass;
      // An empty set takes every layer: the same two here.
      api.opLayers.clear();
    }
    api.ResetTempLayers();
    api.InstallLibrary(0, nullptr);
  }
}

TEST_F(OpsTest, InverseHolesAndFillHolesOfASquareWithAHole) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 30, 30)};
  m[0].shapes[kLayer2] = {Rect(10, 10, 20, 20)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", -10, -10, 40, 40), 1);
  auto ring = [&](int number) {
    std::vector<Ring> rings = RingsOfLayer(api, number);
    EXPECT_EQ(rings.size(), 1u);
    return rings.empty() ? Ring() : rings[0];
  };
  const int frame = api.BooleanOp(BooleanOpCode::Diff, 1, 0, 2, 0);
  const int holes = api.Holes(frame, 1);
  EXPECT_TRUE(test::SameCycle(ring(holes), Rect(10, 10, 20, 20)));
  const int filled = api.FillHoles(frame, 1);
  EXPECT_TRUE(test::SameCycle(ring(filled), Rect(0, 0, 30, 30)));
  // The hole belongs to the free space of the area.
  const int inv = api.Inverse(frame, 1);
  EXPECT_EQ(ListArea(Temp(inv)), 50 * 50 - 30 * 30 + 10 * 10);
  // A layer without holes has none.
  EXPECT_TRUE(Temp(api.Holes(1, 0)).IsEmpty());
  // An empty layer: the area box, one counter-clockwise ring.
  const int empty = API::kTempLayerBase - api.GetTempLayer();
  const int none = api.Inverse(empty, 0);
  EXPECT_TRUE(test::SameCycle(ring(none), Rect(-10, -10, 40, 40)));
  // Covering the whole area leaves nothing.
  ASSERT_EQ(SetAreaQuiet("c0", 5, 5, 8, 8), 1);
  EXPECT_TRUE(Temp(api.Inverse(1, 0)).IsEmpty());
}

// --- Rule checks by sizing and by projection -------------------------------------

// Two rectangles, a gap, a width or an enclosure margin against the rule at
// rule - 1, rule and rule + 1: every variant flags exactly the values below
// the rule.
TEST_F(OpsTest, SizingAndProjectionChecksFlagWhatIsBelowTheRule) {
  const int rule = 10;
  for (int v : {rule - 1, rule, rule + 1, 1, 2 * rule}) {
    SCOPED_TRACE(v);
    Model m(1);
    // Spacing: two 40 x 40 squares v apart. Width: a bar v wide.
    // Enclosure: a 20 x 20 square inside a frame with margin v.
    m[0].shapes[kLayer1] = {Rect(0, 0, 40, 40), Rect(40 + v, 0, 80 + v, 40)};
    m[0].shapes[kLayer2] = {Rect(0, 100, 200, 100 + v)};
    m[0].shapes[LayerKey(3 * 256)] = {Rect(0, 200, 20, 220)};
    m[0].shapes[LayerKey(4 * 256)] = {Rect(-v, 200 - v, 20 + v, 220 + v)};
    Install(0, MakeLibrary(m));
    ASSERT_EQ(SetAreaQuiet("c0", -100, -100, 300, 400), 1);
    const bool below = v < rule;
    struct Variant {
      const char* name;
      std::function<int()> run;
    };
    const Variant variants[] = {
        {"QSPACE", [&] { return api.QSPACE(1, 0, rule); }},
        {"CSPACE", [&] { return api.CSPACE(1, 0, rule); }},
        {"QWIDTH", [&] { return api.QWIDTH(2, 0, rule); }},
        {"CWIDTH", [&] { return api.CWIDTH(2, 0, rule); }},
        {"QENC", [&] { return api.QENC(3, 0, 4, 0, rule); }},
        {"CENC", [&] { return api.CENC(3, 0, 4, 0, rule); }},
    };
    for (const Variant& var : variants) {
      const int layer = var.run();
      EXPECT_EQ(!Temp(layer).IsEmpty(), below) << var.name;
    }
    api.ResetTempLayers();
    api.InstallLibrary(0, nullptr);
  }
}

TEST_F(OpsTest, ChecksCountTheirViolationVertices) {
  Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 40, 40), Rect(45, 0, 85, 40)};
  Install(0, MakeLibrary(m));
  ASSERT_EQ(SetAreaQuiet("c0", -100, -100, 300, 300), 1);
  const int c = api.CSPACE(1, 0, 10);
  // The facing sides of the squares, each seen from the other.
  EXPECT_EQ(Temp(c).pointCount, 8);
  EXPECT_EQ(api.spaceViolations, 8);
  const int q = api.QSPACE(1, 0, 10);
  EXPECT_EQ(api.sspaceViolations, Temp(q).pointCount);
  // The overlap of the squares grown by 5: the gap between them, above and
  // below it the cut corners of the bands, which cross at (42.5, -4.5) and
  // (42.5, 44.5); those crossings round half up to (43, -4) and (43, 45).
  EXPECT_EQ(ListBBox(Temp(q)), Box(40, -4, 45, 45));
  EXPECT_GT(ListArea(Temp(q)), 40 * 5);
  const int e = api.CENC(1, 0, 2, 0, 10);  // no layer 2: all outside, whole
  EXPECT_EQ(ListArea(Temp(e)), 2 * 40 * 40);
  EXPECT_EQ(api.encViolations, Temp(e).pointCount);

  // A missing layer: an empty result, nothing counted.
  const int spaceBefore = api.spaceViolations;
  EXPECT_TRUE(Temp(api.CSPACE(7, 0, 10)).IsEmpty());
  EXPECT_EQ(api.spaceViolations, spaceBefore);
  // With a margin the gap beside the area is found from the widened window
  // and cut back to the area: neither kept nor counted.
  api.tech.areaMargin = 30;
  ASSERT_EQ(SetAreaQuiet("c0", -100, -100, 20, 300), 1);
  EXPECT_TRUE(Temp(api.CSPACE(1, 0, 10)).IsEmpty());
  EXPECT_TRUE(Temp(api.QSPACE(1, 0, 10)).IsEmpty());
  EXPECT_EQ(api.spaceViolations, spaceBefore);
  // The same area widened over the gap keeps the violation inside it.
  ASSERT_EQ(SetAreaQuiet("c0", -100, -100, 42, 300), 1);
  const int part = api.CSPACE(1, 0, 10);
  EXPECT_EQ(ListBBox(Temp(part)), Box(40, 0, 42, 40));
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// The area of what lies in exactly one of two temporary layers (their
// rings merged first).
long double XorArea(API& api, int a, int b) {
  const int ma = api.BooleanOp(BooleanOpCode::Merge, a, 1, -1, 0);
  const int mb = api.BooleanOp(BooleanOpCode::Merge, b, 1, -1, 0);
  const int x = api.BooleanOp(BooleanOpCode::Xor, ma, 0, mb, 0);
  return ListArea(*api.FindTempLayer(x));
}

// The projection checks are the band checks with edge pairs only: their
// regions cover what the plain checks with kind 2 cover, on random
// rectangles from a hierarchy (which the plain checks sweep), enclosed
// everywhere for the enclosure.
TEST_F(OpsTest, ProjectionChecksCoverWhatThePlainChecksCoverWithKindTwo) {
  std::mt19937 rng(16021);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const Model m = RandomRectangles(rng);
    Install(0, MakeLibrary(m));
    ASSERT_EQ(SetAreaQuiet("c0", 0, 0, 0, 0), 1);
    for (int rule : {3, 6}) {
      SCOPED_TRACE(rule);
      EXPECT_EQ(XorArea(api, api.CSPACE(1, 0, rule), api.SPACE(1, 0, rule, 2)), 0);
      EXPECT_EQ(XorArea(api, api.CWIDTH(1, 0, rule), api.WIDTH(1, 0, rule, 2)), 0);
      // Enclosure where every shape of layer 1 is inside the enclosing
      // layer (the sweep of Enc judges no shape whole): {2 0} with {1 0}
      // grown by 4.
      const int enclosing =
          api.BooleanOp(BooleanOpCode::Or, 2, 0, api.SIZING(1, 0, 4), 0);
      EXPECT_EQ(XorArea(api, api.CENC(1, 0, enclosing, 1, rule),
                        api.Enc(1, 0, enclosing, 1, rule, 2)),
                0);
    }
    // Not vacuous: each check found violations.
    EXPECT_GT(api.spaceViolations, 0);
    EXPECT_GT(api.widthViolations, 0);
    EXPECT_GT(api.encViolations, 0);
    api.ResetCounts();
    api.ResetTempLayers();
    api.InstallLibrary(0, nullptr);
  }
}

}  // namespace
}  // namespace velmar
