// Edge-layer operations: a layer of two-point chains (each one edge, as
// edge and line-end extraction leave them) reversed, moved sideways,
// lengthened, widened into rectangles, or joined at coincident ends into
// longer chains or closed rings. None merges its input: a library layer is
// taken as gathered (rings), a temporary layer as stored.

#include <cstdint>

#include "command/api.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "geometry/jog_fill.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/ring_connect.h"

namespace velmar {

int API::EInverse(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sEInverse {%d %d}\n", DateText(), layer1, datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    // Every chain and ring turns around exactly once, whatever the order in
    // which a gathering copy left its points in the list.
    ReverseList(input);
    SpliceList(out, input);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::EShift(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sEShift {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    ShiftEdges(input, ToDatabaseUnits(double(amount)));
    SpliceList(out, input);
  });
}

int API::Extend(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sExtend {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    ExtendEdges(input, ToDatabaseUnits(double(amount)));
    SpliceList(out, input);
  });
}

int API::Extend(int layer1, int datatype1, int startAmount, int endAmount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sExtend {%d %d} %d %d\n", DateText(), layer1, datatype1,
                 startAmount, endAmount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    ExtendEdgeEnds(input, ToDatabaseUnits(double(startAmount)),
                   ToDatabaseUnits(double(endAmount)));
    SpliceList(out, input);
  });
}

int API::Expand(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sExpand {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    const int32_t d = ToDatabaseUnits(double(amount));
    ScratchList bands;
    ExpandEdges(input, d, bands.list);
    ClearPointList(input);
    if (!bands.list.IsEmpty() && hierarchical != 0)
      GatherAreaLayers(d, bands.list);
    SpliceList(out, bands.list);
  });
}

int API::EConnectPartial(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sEConnectPartial {%d %d}\n", DateText(), layer1,
                 datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    MergeTouchingRings(input);
    SpliceList(out, input);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::EConnect(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sEConnect {%d %d}\n", DateText(), layer1, datatype1);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    ReconnectPolygons(input, true);
    SpliceList(out, input);
    if (report) ReportPointSystemMemory(false);
  });
}

}  // namespace velmar
