// Boolean and relational layer operations: OR, AND, XOR and DIFF through
// the scan-line engine, relational databases and the selections from them,
// joining temporary layers, and simplifying a layer.

#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_system.h"
#include "geometry/relational.h"

namespace velmar {

namespace {

// Reports the size of an operation's output layer.
void ReportOutput(const PSList& out) {
  PrintMessage("  Total output vertices = %d\n", out.pointCount);
  ReportPointSystemMemory(false);
}

// The layer number that names temporary layer index, echoed when reporting.
int ResultLayer(int index, bool report) {
  const int layer = API::kTempLayerBase - index;
  if (report) PrintMessage("Resulting layer is {%d 0}\n", layer);
  return layer;
}

// Echo of a boolean code: its name and whether it names two layers.
struct BooleanEcho {
  BooleanOpCode code;
  const char* name;
  bool twoLayers;
};
constexpr BooleanEcho kBooleanEchoes[] = {
    {BooleanOpCode::Merge, "OR1", false}, {BooleanOpCode::Or, "OR", true},
    {BooleanOpCode::Overlap, "AND1", false}, {BooleanOpCode::And, "AND", true},
    {BooleanOpCode::Diff, "DIFF", true},  {BooleanOpCode::Xor, "XOR", true},
};

// Echo names of the relational codes 0..23 (code 9 has none).
constexpr const char* kRelationalNames[24] = {
    "ROR1", "ROR2", "ROR",  "RAND1", "RAND2", "RAND", "RDIFF", "RDIFF2",
    "RXOR", nullptr, "SIN", "SIN2",  "SOUT",  "SOUT2", "TIN",  "TIN2",
    "TOUT", "TOUT2", "OVER", "OVER2", "IN",   "IN2",  "OUT",   "OUT2",
};

}  // namespace

int API::BooleanOp(BooleanOpCode op, int layer1, int datatype1, int layer2,
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
  return RunLayerOperation(
      *this, layer1, datatype1, layer2, datatype2,
      [&] {
        // The sweep also runs in-place passes (codes above 9): not from here.
        if (int32_t(op) < int32_t(BooleanOpCode::Merge) ||
            int32_t(op) > int32_t(BooleanOpCode::NegativeWinding))
          ExitOnError(Error("Unknown boolean operation", "DRC"));
        // A two-layer code takes its second layer from the script: a
        // negative number there names no layer (it must not turn the
        // operation into a one-layer one).
        for (const BooleanEcho& e : kBooleanEchoes)
          if (e.code == op && e.twoLayers)
            RequireLayerArgument(layer2, datatype2);
      },
      [&](PSList& input, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        BooleanSweep(input, &out, op, _edge != 0);
        if (report) ReportOutput(out);
      });
}

int API::Relate(int layer1, int datatype1, int layer2, int datatype2) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintDateLine();
    PrintMessage("RELATE {%d %d} {%d %d}\n", layer1, datatype1, layer2,
                 datatype2);
  }
  const int layer = RunLayerOperation(
      *this, layer1, datatype1, layer2, datatype2,
      [&] { RequireLayerArgument(layer2, datatype2); },
      [](PSList& input, PSList& out) {
        ClassifyPoints(input);
        SpliceList(out, input);
      });
  // The new layer is a relational database, also when nothing was gathered.
  const int index = kTempLayerBase - layer;
  const PSList& out = *tempLayers[size_t(index)];
  relationalLayers_[index] = RelationalMark{out.head, out.pointCount};
  return layer;
}

int API::RelationOp(int code, int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintDateLine();
    if (_edge != 0) PrintMessage("EDGE ");
    if (_not != 0) PrintMessage("NOT ");
  }
  if (code < 0 || code > 23 || code == 9)
    ExitWithMessage("ERROR: Unknown operation %d on Relational DB\n", code);
  if (report)
    PrintMessage("%s {%d %d}\n", kRelationalNames[code], layer1, datatype1);
  RequireWorkingArea();
  if (layer1 < kLowestTempLayer)
    ExitWithMessage("ERROR: needs to input Relational DB\n");
  PSList& source = RequireTempLayer(layer1);
  // Selections read the classification that Relate leaves in the points;
  // any other layer would be read as garbage.
  if (!source.IsEmpty() && !IsRelationalDB(kTempLayerBase - layer1))
    ExitWithMessage("ERROR: needs to input Relational DB\n");

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
      if (report) ReportOutput(out);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  return ResultLayer(index, report);
}

int API::Append(int layer1, int datatype1, int layer2, int datatype2) {
  if (tech.reportDegree != 0)
    PrintMessage("Append {%d %d} {%d %d}\n", layer1, datatype1, layer2,
                 datatype2);
  if (layer1 < kLowestTempLayer || layer2 < kLowestTempLayer)
    ExitWithMessage("ERROR: needs to input temporary layers\n");
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
  return RunOneLayerOperation(
      *this, layer1, datatype1, [&](PSList& input, PSList& out) {
        const int32_t tolerance = ToDatabaseUnits(double(amount));
        MergeLibraryLayer(input, layer1);
        Simplify(input, tolerance);
        SpliceList(out, input);
      });
}

}  // namespace velmar
