// The frame of a layer operation after its echo: the library and
// working-area preconditions, any further precondition of the operation,
// gathering of the layer, a new temporary layer, the step itself when
// anything was gathered, the closing line and the exit policy after an
// Error.
#pragma once

#include "command/api.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_system.h"

namespace velmar {

// Runs check() after the working-area test (a further precondition that
// ends the process with its own message), then gathers {layer1 datatype1}
// and, when layer2 names one, {layer2 datatype2} of the working area into
// one input list, appends a new temporary layer and, unless nothing was
// gathered ("Warning: no input layer exists\n" with reportDegree), runs
// step(input, out): the step may consume the input and leaves its result in
// out, the new layer. An Error ends the process ("ERROR: unit: message\n",
// status 1). Prints "Resulting layer is {%d 0}\n" with reportDegree and
// returns the new layer's number.
template <class Check, class Step>
int RunLayerOperation(API& api, int layer1, int datatype1, int layer2,
                      int datatype2, Check check, Step step) {
  const bool report = api.tech.reportDegree != 0;
  api.RequireWorkingArea();
  check();
  int index = 0;
  try {
    ScratchList input;
    api.CollectLayers(input.list, layer1, datatype1, layer2, datatype2);
    index = api.GetTempLayer();
    PSList& out = api.RequireTempLayer(API::kTempLayerBase - index);
    if (input.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      step(input.list, out);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  const int layer = API::kTempLayerBase - index;
  if (report) PrintMessage("Resulting layer is {%d 0}\n", layer);
  return layer;
}

// The frame on the one layer {layer1 datatype1}, with check() as above.
template <class Check, class Step>
int RunOneLayerOperation(API& api, int layer1, int datatype1, Check check,
                         Step step) {
  return RunLayerOperation(api, layer1, datatype1, -1, 0, check, step);
}

// The frame on the one layer {layer1 datatype1} with no precondition beyond
// the working area.
// Shapes of a library layer (number below 256) are gathered from many cells
// and may overlap: the list is replaced by the union of its polygons. A
// temporary layer is used as it is.
inline void MergeLibraryLayer(PSList& list, int layer) {
  if (layer >= API::kLowestTempLayer || list.IsEmpty()) return;
  ScratchList merged;
  BooleanSweep(list, &merged.list, BooleanOpCode::Merge, false);
  ClearPointList(list);
  SpliceList(list, merged.list);
}

template <class Step>
int RunOneLayerOperation(API& api, int layer1, int datatype1, Step step) {
  return RunOneLayerOperation(api, layer1, datatype1, [] {}, step);
}

}  // namespace velmar
