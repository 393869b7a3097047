// Single-layer checks (acute and off-grid vertices, right-angle turns,
// axis-parallel and non-45-degree edges), shifting a layer, and the areas
// that filling a layer's jogs adds.

#include <cstdint>

#include "command/api.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/jog_fill.h"
#include "geometry/marker_checks.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/ring_repair.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

// What a check does with its result after the engine ran.
struct CheckResult {
  bool hierarchicalStep;   // GatherAreaLayers(size) in hierarchical mode
  const char* reportLine;  // with the result's point count
  int* counter;            // grows by that count; null: none
  bool poolReport;
};

// Frees the input; in hierarchical mode (when the check has that step)
// keeps of the result what overlaps the area's operation layers grown by
// size; reports and counts a non-empty result; moves it into out; the pool
// report. The area step intersects regions: markers without area (single
// points, or squares of half-size 0 for a size below 2) would all vanish
// in it, so they are kept as found.
void FinishMarkerCheck(API& api, PSList& input, PSList& result, PSList& out,
                 int32_t size, const CheckResult& how) {
  const bool report = api.tech.reportDegree != 0;
  ClearPointList(input);
  if (how.hierarchicalStep && (size >> 1) > 0 && !result.IsEmpty() &&
      api.hierarchical != 0)
    api.GatherAreaLayers(size, result);
  if (!result.IsEmpty()) {
    const int32_t count = result.pointCount;
    if (report) PrintMessage(how.reportLine, count);
    if (how.counter != nullptr) *how.counter += count;
  }
  SpliceList(out, result);
  if (report && how.poolReport) ReportPointSystemMemory(false);
}

}  // namespace

int API::Acute(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sAcute {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    const int32_t a = ToDatabaseUnits(double(amount));
    ScratchList result;
    MarkAcute(input, &result.list, 2, a, &area);
    FinishMarkerCheck(*this, input, result.list, out, a,
                {true, "  Acute violation vertices = %d\n", &acuteViolations,
                 true});
  });
}

int API::Offgrid(int layer1, int datatype1, int grid, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sOffgrid {%d %d} %d %d\n", DateText(), layer1, datatype1,
                 grid, amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    const int32_t a = ToDatabaseUnits(double(amount));
    const int32_t g = ToDatabaseUnits(double(grid));
    ScratchList result;
    MarkOffGrid(input, result.list, g, a, &area);
    FinishMarkerCheck(*this, input, result.list, out, a,
                {true, "  Offgrid violation vertices = %d\n",
                 &offgridViolations, true});
  });
}

int API::Turn90(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sTurn90 {%d %d}\n", DateText(), layer1, datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    ScratchList result;
    MarkTurn90(input, result.list);
    FinishMarkerCheck(*this, input, result.list, out, 0,
                {false, "  Turn90 violation segments = %d\n", nullptr, false});
  });
}

int API::Non90(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sNon90 {%d %d}\n", DateText(), layer1, datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    ScratchList result;
    SelectNon90Edges(input, result.list, _not != 0 ? 0 : 1);
    FinishMarkerCheck(*this, input, result.list, out, 0,
                {false, "  Non90 violation segments = %d\n", nullptr, false});
  });
}

int API::Non45(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sNon45 {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    const int32_t a = ToDatabaseUnits(double(amount));
    ScratchList result;
    MarkNon45(input, result.list, a, &area);
    FinishMarkerCheck(*this, input, result.list, out, a,
                {true, "  Non45 violation segments = %d\n", &non45Violations,
                 true});
  });
}

int API::Shift(int layer1, int datatype1, int dx, int dy) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sShift {%d %d} %d %d\n", DateText(), layer1, datatype1,
                 dx, dy);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    const int32_t ddx = ToDatabaseUnits(double(dx));
    const int32_t ddy = ToDatabaseUnits(double(dy));
    // Every moved vertex must stay a coordinate: checked on the layer's
    // box before anything moves.
    const Box b = ListBBox(input);
    ToCoord(int64_t(b.x1) + ddx);
    ToCoord(int64_t(b.x2) + ddx);
    ToCoord(int64_t(b.y1) + ddy);
    ToCoord(int64_t(b.y2) + ddy);
    for (PSPoint* p = input.head; p; p = p->link) {
      p->x += ddx;
      p->y += ddy;
    }
    SpliceList(out, input);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::JogFill(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sJogFill {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    const int32_t a = ToDatabaseUnits(double(amount));
    // Open chains have no jogs to fill and no area: left out.
    ScratchList chains, filled, result;
    SplitOffWholeChains(input, chains.list);
    CopyPointList(input, filled.list);
    FillJogs(filled.list, a);
    // The filled copy minus the layer as gathered: what filling adds.
    SetFlags(input, PSPointFlags::SecondLayer);
    SpliceList(filled.list, input);
    BooleanSweep(filled.list, &result.list, BooleanOpCode::Diff, false);
    ClearPointList(filled.list);
    if (!result.list.IsEmpty() && hierarchical != 0)
      GatherAreaLayers(a, result.list);
    SpliceList(out, result.list);
    if (report) ReportPointSystemMemory(false);
  });
}

}  // namespace velmar
