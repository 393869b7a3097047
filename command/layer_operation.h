// The frame of a one-layer operation after its echo: the library and
// working-area preconditions, gathering of the layer, a new temporary
// layer, the step itself when anything was gathered, the closing line and
// the exit policy after an Error.
#pragma once

#include "command/api.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "geometry/point_system.h"

namespace velmar {

// Gathers {layer1 datatype1} of the working area into an input list, appends
// a new temporary layer and, unless nothing was gathered ("Warning: no input
// layer exists\n" with reportDegree), runs step(input, out): the step may
// consume the input and leaves its result in out, the new layer. An Error
// ends the process ("ERROR: unit: message\n", status 1). Prints "Resulting
// layer is {%d 0}\n" with reportDegree and returns the new layer's number.
template <class Step>
int RunOneLayerOperation(API& api, int layer1, int datatype1, Step step) {
  const bool report = api.tech.reportDegree != 0;
  api.RequireWorkingArea();
  int index = 0;
  try {
    ScratchList input;
    api.CollectLayers(input.list, layer1, datatype1, -1, 0);
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

}  // namespace velmar
