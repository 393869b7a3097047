// Rule checks by sizing (QSPACE, QWIDTH, QENC: bands along the boundaries
// combined by the scan-line engine) and by edge projection (CSPACE, CWIDTH,
// CENC: partner edges from an edge index projected onto each tested edge),
// on the course the rule checks share around their engines.

#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/edge_index.h"
#include "geometry/inside_split.h"
#include "geometry/op_codes.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/qcheck_bands.h"
#include "geometry/relational.h"
#include "geometry/ring_repair.h"

namespace velmar {

namespace {

// The same through the relational classification, as the projection
// checks merge: classified, then the union's boundary selected.
void MergeLibraryLayerByClass(PSList& list, int layer) {
  if (layer >= API::kLowestTempLayer || list.IsEmpty()) return;
  ScratchList merged;
  ClassifyPoints(list);
  SelectEdges(list, merged.list, RelationalCode(0), false);
  ClearPointList(list);
  SpliceList(list, merged.list);
}

}  // namespace

int API::RunCheck(const char* name, int amount, int layer1, int datatype1,
                  const char* violationLine, int API::*counter,
                  const CheckEngine& engine) {
  const bool report = tech.reportDegree != 0;
  return RunOneLayerOperation(
      *this, layer1, datatype1,
      [&] { BeginCheck(name, amount); },
      [&](PSList& input, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        ScratchList violations;
        const int32_t hierarchySize = engine(input, violations.list);
        ClearPointList(input);
        FinishCheck(violations.list, out, hierarchySize,
                    violationLine, counter);
      });
}

// --- Checks by sizing -------------------------------------------------------------

int API::QSPACE(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("QSPACE {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunCheck("QSPACE", amount, layer1, datatype1,
                  "  QSPACE violation vertices = %d\n", &API::sspaceViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    MergeLibraryLayer(input, layer1);
                    const int32_t h = ToDatabaseUnits(double(amount >> 1));
                    // Narrow notches: concave vertices at less than 90
                    // degrees.
                    MarkAcute(input, &violations, 1, h, &area);
                    ScratchList bands;
                    BuildQCheckBands(input, bands.list, h, 1);
                    ClearPointList(input);
                    // Where two bands overlap, edges are closer than 2h.
                    BooleanSweep(bands.list, &violations, BooleanOpCode::Overlap, false);
                    return h;
                  });
}

int API::QWIDTH(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("QWIDTH {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunCheck("QWIDTH", amount, layer1, datatype1,
                  "  QWIDTH violation vertices = %d\n", &API::swidthViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    MergeLibraryLayer(input, layer1);
                    const int32_t n = ToDatabaseUnits(-double(amount >> 1));
                    // Spikes: convex vertices at less than 90 degrees.
                    MarkAcute(input, &violations, 0, -n, &area);
                    ScratchList bands;
                    BuildQCheckBands(input, bands.list, n, 1);
                    ClearPointList(input);
                    // A polygon narrower than 2|n| turns inside out.
                    BooleanSweep(bands.list, &violations, BooleanOpCode::NegativeWinding,
                                 false);
                    return ToDatabaseUnits(double(amount >> 1));
                  });
}

int API::QENC(int layer1, int datatype1, int layer2, int datatype2, int amount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sQENC {%d %d} {%d %d} %d\n", DateText(), layer1, datatype1,
                 layer2, datatype2, amount);
  RequireWorkingArea();
  RequireLayerArgument(layer2, datatype2);
  return RunCheck("QENC", amount, layer1, datatype1,
                  "  QENC violation vertices = %d\n", &API::sencViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    MergeLibraryLayer(input, layer1);
                    const int32_t distance = ToDatabaseUnits(double(amount));
                    ScratchList bands;
                    BuildQCheckBands(input, bands.list, distance, 1);
                    ClearPointList(input);
                    ScratchList enclosing, outside;
                    CollectLayers(enclosing.list, layer2, datatype2, -1, 0);
                    // A band that leaves the enclosing layer is a margin
                    // below the rule.
                    SplitInside(bands.list, enclosing.list, nullptr, &outside.list);
                    if (!outside.list.IsEmpty())
                      BooleanSweep(outside.list, &violations, BooleanOpCode::Merge,
                                   false);
                    return distance;
                  });
}

// --- Checks by edge projection --------------------------------------------------

int API::CSPACE(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("CSPACE {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunCheck("CSPACE", amount, layer1, datatype1,
                  "  CSPACE violation vertices = %d\n", &API::spaceViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    const int32_t unit = ToDatabaseUnits(1.0);
                    MergeLibraryLayerByClass(input, layer1);
                    Simplify(input, unit);
                    const int32_t distance = ToDatabaseUnits(double(amount));
                    CheckSpaceEdges(input, input, CheckWindow(), violations, distance, unit, 2);
                    return distance;
                  });
}

int API::CWIDTH(int layer1, int datatype1, int amount) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("CWIDTH {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunCheck("CWIDTH", amount, layer1, datatype1,
                  "  CWIDTH violation vertices = %d\n", &API::widthViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    const int32_t unit = ToDatabaseUnits(1.0);
                    MergeLibraryLayerByClass(input, layer1);
                    Simplify(input, unit);
                    const int32_t distance = ToDatabaseUnits(double(amount));
                    CheckWidthEdges(input, input, CheckWindow(), violations, distance, unit, 2);
                    return 0;
                  });
}

int API::CENC(int layer1, int datatype1, int layer2, int datatype2, int amount) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sCENC {%d %d} {%d %d} %d\n", DateText(), layer1, datatype1,
                 layer2, datatype2, amount);
  RequireWorkingArea();
  RequireLayerArgument(layer2, datatype2);
  return RunCheck("CENC", amount, layer1, datatype1,
                  "  CENC violation vertices = %d\n", &API::encViolations,
                  [&](PSList& input, PSList& violations) -> int32_t {
                    const int32_t unit = ToDatabaseUnits(1.0);
                    MergeLibraryLayerByClass(input, layer1);
                    Simplify(input, unit);
                    ScratchList enclosing;
                    CollectLayers(enclosing.list, layer2, datatype2, -1, 0);
                    // Abutting shapes of the enclosing layer from different
                    // cells must not act as its boundary.
                    MergeLibraryLayerByClass(enclosing.list, layer2);
                    Simplify(enclosing.list, unit);
                    ScratchList inside, outside;
                    SplitInside(input, enclosing.list, &inside.list, &outside.list);
                    // Polygons not inside the enclosing layer are violations
                    // as a whole.
                    if (!outside.list.IsEmpty())
                      BooleanSweep(outside.list, &violations, BooleanOpCode::Merge,
                                   false);
                    const int32_t distance = ToDatabaseUnits(double(amount));
                    if (!inside.list.IsEmpty()) {
                      CheckEncEdges(inside.list, enclosing.list, CheckWindow(), violations,
                                    distance, unit, 2);
                    }
                    return distance;
                  });
}

}  // namespace velmar
