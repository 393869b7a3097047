// Boolean and relational layer operations: OR, AND, XOR and DIFF through
// the scan-line engine, relational databases and the selections from them,
// joining temporary layers, and simplifying a layer.

#include <cstdlib>

#include "command/api.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_system.h"
#include "geometry/relational.h"

namespace velmar {

namespace {

struct ScratchList {
  PSList list;
  ScratchList() = default;
  ScratchList(const ScratchList&) = delete;
  ScratchList& operator=(const ScratchList&) = delete;
  ~ScratchList() { ClearPointList(list); }
};

// Echo of a boolean code: its name and whether it names two layers.
struct BooleanEcho {
  int code;
  const char* name;
  bool twoLayers;
};
constexpr BooleanEcho kBooleanEchoes[] = {
    {0, "OR1", false}, {2, "OR", true},   {3, "AND1", false},
    {5, "AND", true},  {6, "DIFF", true}, {8, "XOR", true},
};

// Echo names of the relational codes 0..23 (code 9 has none).
constexpr const char* kRelationalNames[24] = {
    "ROR1", "ROR2", "ROR",  "RAND1", "RAND2", "RAND", "RDIFF", "RDIFF2",
    "RXOR", nullptr, "SIN", "SIN2",  "SOUT",  "SOUT2", "TIN",  "TIN2",
    "TOUT", "TOUT2", "OVER", "OVER2", "IN",   "IN2",  "OUT",   "OUT2",
};

}  // namespace

int API::BooleanOp(int op, int layer1, int datatype1, int layer2,
                   int datatype2) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintDateLine();
    if (_edge != 0) PrintMessage("EDGE ");
    for (const BooleanEcho& e : kBooleanEchoes) {
      if (e.code != op) continue;
      if (e.twoLayers)
        PrintMessage("%s {%d %d} {%d %d}\n", e.name, layer1, datatype1, layer2,
                     datatype2);
      else
        PrintMessage("%s {%d %d}\n", e.name, layer1, datatype1);
    }
  }
  RequireWorkingArea();

  int index = 0;
  try {
    if (op < 0 || op > 9) throw Error("Unknown boolean operation", "DRC");
    ScratchList input;
    CollectLayers(input.list, layer1, datatype1, layer2, datatype2);
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (input.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      if (report) PrintMessage("%sProcess starts\n", DateText());
      BooleanSweep(input.list, &out, BooleanOpCode(op), _edge != 0);
      if (report) {
        PrintMessage("  Total output vertices = %d\n", out.pointCount);
        ReportPointSystemMemory(false);
      }
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  if (report)
    PrintMessage("Resulting layer is {%d 0}\n", kTempLayerBase - index);
  return kTempLayerBase - index;
}

int API::Relate(int layer1, int datatype1, int layer2, int datatype2) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintDateLine();
    PrintMessage("RELATE {%d %d} {%d %d}\n", layer1, datatype1, layer2,
                 datatype2);
  }
  RequireWorkingArea();

  int index = 0;
  try {
    ScratchList input;
    CollectLayers(input.list, layer1, datatype1, layer2, datatype2);
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (input.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      ClassifyPoints(input.list);
      SpliceList(out, input.list);
    }
    relationalLayers_[index] = RelationalMark{out.head, out.pointCount};
  } catch (const Error& e) {
    ExitOnError(e);
  }
  if (report)
    PrintMessage("Resulting layer is {%d 0}\n", kTempLayerBase - index);
  return kTempLayerBase - index;
}

int API::RelationOp(int code, int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintDateLine();
    if (_edge != 0) PrintMessage("EDGE ");
    if (_not != 0) PrintMessage("NOT ");
  }
  if (code < 0 || code > 23 || code == 9) {
    PrintMessage("ERROR: Unknown operation %d on Relational DB\n", code);
    std::exit(1);
  }
  if (report)
    PrintMessage("%s {%d %d}\n", kRelationalNames[code], layer1, datatype1);
  RequireWorkingArea();
  if (layer1 < kLowestTempLayer) {
    PrintMessage("ERROR: needs to input Relational DB\n");
    std::exit(1);
  }
  PSList& source = RequireTempLayer(layer1);
  // Selections read the classification that Relate leaves in the points;
  // any other layer would be read as garbage.
  if (!source.IsEmpty() && !IsRelationalDB(kTempLayerBase - layer1)) {
    PrintMessage("ERROR: needs to input Relational DB\n");
    std::exit(1);
  }

  int index = 0;
  try {
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (source.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      const RelationalCode rc = RelationalCode(code);
      if (code <= 8)
        SelectEdges(source, out, rc, _edge != 0);
      else if (_edge != 0)
        RelationalSelectEdges(source, out, rc, _not != 0);
      else
        RelationalSelect(source, out, rc, _not != 0);
      if (report) {
        PrintMessage("  Total output vertices = %d\n", out.pointCount);
        ReportPointSystemMemory(false);
      }
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  if (report)
    PrintMessage("Resulting layer is {%d 0}\n", kTempLayerBase - index);
  return kTempLayerBase - index;
}

int API::Append(int layer1, int datatype1, int layer2, int datatype2) {
  if (tech.reportDegree != 0)
    PrintMessage("Append {%d %d} {%d %d}\n", layer1, datatype1, layer2,
                 datatype2);
  if (layer1 < kLowestTempLayer || layer2 < kLowestTempLayer) {
    PrintMessage("ERROR: needs to input temporary layers\n");
    std::exit(1);
  }
  PSList& target = RequireTempLayer(layer1);
  PSList& source = RequireTempLayer(layer2);
  // A layer appended to itself stays as it is.
  if (&target == &source) return layer1;

  const int targetIndex = kTempLayerBase - layer1;
  const int sourceIndex = kTempLayerBase - layer2;
  // A relational database moved whole into an empty layer stays one.
  const bool movesDatabase =
      target.IsEmpty() && !source.IsEmpty() && IsRelationalDB(sourceIndex);
  SpliceList(target, source);
  if (movesDatabase)
    relationalLayers_[targetIndex] = RelationalMark{target.head,
                                                    target.pointCount};
  if (size_t(sourceIndex) + 1 == tempLayers.size()) {
    delete tempLayers.back();
    tempLayers.pop_back();
    relationalLayers_.erase(sourceIndex);
  }
  return layer1;
}

int API::Compress(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sCompress {%d %d} %d\n", DateText(), layer1, datatype1,
                 amount);
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
      const int32_t tolerance = ToDatabaseUnits(double(amount));
      if (layer1 < kLowestTempLayer) {
        // Library shapes overlap and touch: merge them first.
        ScratchList merged;
        BooleanSweep(input.list, &merged.list, BooleanOpCode::Merge, false);
        ClearPointList(input.list);
        SpliceList(input.list, merged.list);
      }
      Simplify(input.list, tolerance);
      SpliceList(out, input.list);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  if (report)
    PrintMessage("Resulting layer is {%d 0}\n", kTempLayerBase - index);
  return kTempLayerBase - index;
}

}  // namespace velmar
