// Layer operations that reshape a layer rather than check it: the free
// space of the working area (Inverse), the holes of a layer's polygons as
// polygons (Holes), the polygons with their holes filled (FillHoles), and
// the union of every operation layer of the area (MergeLayers).

#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

int API::Inverse(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sInverse {%d %d}\n", DateText(), layer1, datatype1);
  RequireWorkingArea();
  int index = 0;
  try {
    ScratchList input;
    CollectLayers(input.list, layer1, datatype1, -1, 0);
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (input.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
      BoxToRing(out, area, false);
    } else {
      if (report) PrintMessage("%sProcess starts\n", DateText());
      // The layer's outlines count -1 and its holes +1 once reversed; with
      // the area ring's +1 the merge keeps the area outside every polygon.
      // Overlapping polygons sum below 0 and stay out; nothing outside the
      // area box reaches a positive count.
      ReverseList(input.list);
      BoxToRing(input.list, area, false);
      ScratchList result;
      BooleanSweep(input.list, &result.list, BooleanOpCode::Merge, false);
      SpliceList(out, result.list);
      if (report) ReportPointSystemMemory(false);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  const int layer = kTempLayerBase - index;
  if (report) PrintMessage("Resulting layer is {%d 0}\n", layer);
  return layer;
}

int API::SelectHoleRings(const char* name, int layer1, int datatype1,
                         bool holes) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%s%s {%d %d}\n", DateText(), name, layer1, datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1, [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    MergeLibraryLayer(input, layer1);
    ScratchList selection;
    SelectHoles(input, &selection.list, !holes);
    ClearPointList(input);
    // Holes run clockwise: turned over, they are polygons of their own.
    if (holes && !selection.list.IsEmpty()) ReverseList(selection.list);
    SpliceList(out, selection.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::Holes(int layer1, int datatype1) {
  return SelectHoleRings("Holes", layer1, datatype1, true);
}

int API::FillHoles(int layer1, int datatype1) {
  return SelectHoleRings("FillHoles", layer1, datatype1, false);
}

int API::MergeLayers() {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sMerge\n", DateText());
  RequireWorkingArea();
  // The new layer comes first, before anything is gathered.
  const int index = GetTempLayer();
  try {
    Box window = area;
    if (tech.areaMargin != 0) {
      const int64_t m = ToDatabaseUnits(double(tech.areaMargin));
      window = Box(ClampToInt32(int64_t(area.x1) - m),
                   ClampToInt32(int64_t(area.y1) - m),
                   ClampToInt32(int64_t(area.x2) + m),
                   ClampToInt32(int64_t(area.y2) + m));
    }
    LayerRings rings;
    const Trans identity;
    currentLib->CollectPolygons(WorkingCellPtr(), &window, &identity,
                                &opLayers, &rings, 0);
    if (report) ReportSearchSystemMemory(false);
    ScratchList all;
    for (auto& [key, rs] : rings) {
      if (report) {
        CountRings(rs);  // recounts the rings of the gathered layer
        PrintMessage("  Layer (%d %d): %d polygons\n", int(key >> 8),
                     int(key & 255), rs.ringCount);
      }
      SpliceList(all.list, rs);
    }
    if (all.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      // Stored shapes are single rings without separate holes: each one,
      // turned counter-clockwise, is material.
      OrientRings(all.list);
      ScratchList result;
      BooleanSweep(all.list, &result.list, BooleanOpCode::Merge, false);
      SpliceList(*tempLayers[size_t(index)], result.list);
      if (report) ReportPointSystemMemory(false);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  const int layer = kTempLayerBase - index;
  if (report) PrintMessage("Resulting layer is {%d 0}\n", layer);
  return layer;
}

}  // namespace velmar
