// Sizing of a layer: its merged polygons grown or shrunk by an amount in
// nanometres, merged again into a new temporary layer.

#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_system.h"
#include "geometry/sizing.h"

namespace velmar {

int API::SIZING(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sSIZING {%d %d} %d\n", DateText(), layer1, datatype1, amount);
  RequireWorkingArea();

  int index = 0;
  try {
    ScratchList input;
    CollectLayers(input.list, layer1, datatype1, -1, 0);
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (input.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      if (report) PrintMessage("%sProcess starts\n", DateText());
      // Shapes of a library layer come from many cells and may overlap.
      if (layer1 < kLowestTempLayer) {
        ScratchList merged;
        BooleanSweep(input.list, &merged.list, BooleanOpCode::Merge, false);
        ClearPointList(input.list);
        SpliceList(input.list, merged.list);
      }
      const int32_t size = ToDatabaseUnits(double(amount));
      ScratchList sized, result;
      SizeList(input.list, sized.list, size, 1);
      ClearPointList(input.list);
      BooleanSweepAsDrawn(sized.list, &result.list, BooleanOpCode::Merge);
      ClearPointList(sized.list);
      // Sizing is never clipped to the area box; in hierarchical mode the
      // result is cut to the area's operation layers, sized alike.
      if (!result.list.IsEmpty() && hierarchical != 0) GatherAreaLayers(size, result.list);
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

}  // namespace velmar
