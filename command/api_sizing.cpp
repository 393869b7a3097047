// Sizing of a layer: its merged polygons grown or shrunk by an amount in
// nanometres, merged again into a new temporary layer.

#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_system.h"
#include "geometry/sizing.h"

namespace velmar {

int API::SIZING(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sSIZING {%d %d} %d\n", DateText(), layer1, datatype1, amount);
  return RunOneLayerOperation(*this, layer1, datatype1, [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    MergeLibraryLayer(input, layer1);
    const int32_t size = ToDatabaseUnits(double(amount));
    ScratchList sized, result;
    SizeList(input, sized.list, size, 1);
    ClearPointList(input);
    BooleanSweepAsDrawn(sized.list, &result.list, BooleanOpCode::Merge);
    ClearPointList(sized.list);
    // Sizing is never clipped to the area box; in hierarchical mode the
    // result is cut to the area's operation layers, sized alike.
    if (!result.list.IsEmpty() && hierarchical != 0) GatherAreaLayers(size, result.list);
    SpliceList(out, result.list);
    if (report) ReportPointSystemMemory(false);
  });
}

}  // namespace velmar
