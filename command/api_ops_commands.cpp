// Script commands of the working cell and area, the operation-layer sets
// and layer map, the temporary layers, and the boolean and relational
// operations.

#include <string>
#include <vector>

#include "command/api.h"
#include "command/binding.h"

namespace velmar::binding {

namespace {

// Relational selection commands and the codes they run.
struct RelationalCommand {
  const char* name;
  int code;
};
constexpr RelationalCommand kRelationalCommands[] = {
    {"ROR1", 0},     {"ROR2", 1},     {"ROR", 2},     {"RAND1", 3},
    {"RAND2", 4},    {"RAND", 5},     {"RDIFF", 6},   {"RDIFF2", 7},
    {"RXOR", 8},     {"SIN", 10},     {"SIN2", 11},   {"SOUT", 12},
    {"SOUT2", 13},   {"TIN", 14},     {"TIN2", 15},   {"TOUT", 16},
    {"TOUT2", 17},   {"OVER", 18},    {"OVER2", 19},  {"INSIDE", 20},
    {"INSIDE2", 21}, {"OUTSIDE", 22}, {"OUTSIDE2", 23},
};

}  // namespace

void BindApiOps(ClassBinding<API>& c) {
  // Working cell and area.
  c.Method("SetArea",
           {{"cname", kCharPtr},
            {"x1", kInt},
            {"y1", kInt},
            {"x2", kInt},
            {"y2", kInt}},
           [](API& a, const char* cname, int x1, int y1, int x2, int y2) {
             return a.SetArea(cname, x1, y1, x2, y2);
           });
  c.Method("GetWorkingCell", {}, [](API& a) { return a.GetWorkingCell(); });
  c.Method("GetCellId", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { return a.GetCellId(cname); });
  c.Method("GetAreaX1", {}, [](API& a) { return a.GetAreaX1(); });
  c.Method("GetAreaX2", {}, [](API& a) { return a.GetAreaX2(); });
  c.Method("GetAreaY1", {}, [](API& a) { return a.GetAreaY1(); });
  c.Method("GetAreaY2", {}, [](API& a) { return a.GetAreaY2(); });
  c.Method("GetPureAreaX1", {}, [](API& a) { return a.GetPureAreaX1(); });
  c.Method("GetPureAreaX2", {}, [](API& a) { return a.GetPureAreaX2(); });
  c.Method("GetPureAreaY1", {}, [](API& a) { return a.GetPureAreaY1(); });
  c.Method("GetPureAreaY2", {}, [](API& a) { return a.GetPureAreaY2(); });
  c.Method("TotalCell", {}, [](API& a) { return a.TotalCell(); });
  c.Method("TotalRoot", {}, [](API& a) { return a.TotalRoot(); });
  c.Method("TotalLeaf", {}, [](API& a) { return a.TotalLeaf(); });
  c.Method("GetCellName", {{"i", kInt}},
           [](API& a, int i) { return a.GetCellName(i); });
  c.Method("GetRootName", {{"i", kInt}},
           [](API& a, int i) { return a.GetRootName(i); });
  c.Method("GetFirstLeaf", {}, [](API& a) { return a.GetFirstLeaf(); });
  c.Method("GetNextLeaf", {}, [](API& a) { return a.GetNextLeaf(); });

  // Operation-layer sets and the layer map.
  c.Method("ResetOpLayers", {}, [](API& a) { a.ResetOpLayers(); });
  c.Method("ResetOpLayers2", {}, [](API& a) { a.ResetOpLayers2(); });
  c.Method("AddOpLayer", {{"layer", kInt}, {"datatype", kInt}},
           [](API& a, int l, int d) { a.AddOpLayer(l, d); });
  c.Method("AddOpLayer2", {{"layer", kInt}, {"datatype", kInt}},
           [](API& a, int l, int d) { a.AddOpLayer2(l, d); });
  c.Method("ResetLayerMap", {}, [](API& a) { a.ResetLayerMap(); });
  c.Method("AddLayerMap",
           {{"layer1", kInt},
            {"datatype1", kInt},
            {"layer2", kInt},
            {"datatype2", kInt}},
           [](API& a, int l1, int d1, int l2, int d2) {
             a.AddLayerMap(l1, d1, l2, d2);
           });
  c.Method("LayerExist", {{"layer", kInt}, {"datatype", kInt}},
           [](API& a, int l, int d) { return a.LayerExist(l, d); });

  // Temporary layers. The command returns the new layer's number.
  c.Method("ResetTempLayer", {{"layer", kInt}},
           [](API& a, int layer) { a.ResetTempLayer(layer); });
  c.Method("ResetTempLayers", {}, [](API& a) { a.ResetTempLayers(); });
  c.Method("GetTempLayer", {}, [](API& a) {
    return API::kTempLayerBase - a.GetTempLayer();
  });

  // Relational databases and selections.
  const std::vector<Arg> oneLayer = {{"layer1", kInt}, {"datatype1", kInt}};
  const std::vector<Arg> twoLayers = {{"layer1", kInt},
                                      {"datatype1", kInt},
                                      {"layer2", kInt},
                                      {"datatype2", kInt}};
  c.Method("Relate", twoLayers, [](API& a, int l1, int d1, int l2, int d2) {
    return a.Relate(l1, d1, l2, d2);
  });
  for (const RelationalCommand& r : kRelationalCommands) {
    const int code = r.code;
    c.Method(r.name, oneLayer, [code](API& a, int l1, int d1) {
      return a.RelationOp(code, l1, d1);
    });
  }
  c.Method("Append", twoLayers, [](API& a, int l1, int d1, int l2, int d2) {
    return a.Append(l1, d1, l2, d2);
  });

  // Booleans: the one-layer forms of OR and AND merge and overlap one
  // layer.
  auto oneLayerBoolean = [&c, &oneLayer](BooleanOpCode op) {
    return c.MakeForm(oneLayer, [op](API& a, int l1, int d1) {
      return a.BooleanOp(op, l1, d1, -1, 0);
    });
  };
  auto twoLayerBoolean = [&c, &twoLayers](BooleanOpCode op) {
    return c.MakeForm(twoLayers, [op](API& a, int l1, int d1, int l2, int d2) {
      return a.BooleanOp(op, l1, d1, l2, d2);
    });
  };
  c.Overloaded("OR", {oneLayerBoolean(BooleanOpCode::Merge),
                      twoLayerBoolean(BooleanOpCode::Or)});
  c.Overloaded("AND", {oneLayerBoolean(BooleanOpCode::Overlap),
                       twoLayerBoolean(BooleanOpCode::And)});
  c.Method("XOR", twoLayers, [](API& a, int l1, int d1, int l2, int d2) {
    return a.BooleanOp(BooleanOpCode::Xor, l1, d1, l2, d2);
  });
  c.Method("DIFF", twoLayers, [](API& a, int l1, int d1, int l2, int d2) {
    return a.BooleanOp(BooleanOpCode::Diff, l1, d1, l2, d2);
  });

  // Reshaping.
  c.Method("MergeLayers", {}, [](API& a) { return a.MergeLayers(); });
  c.Method("Inverse", oneLayer,
           [](API& a, int l1, int d1) { return a.Inverse(l1, d1); });

  // Sizing.
  c.Method("SIZING", {{"layer1", kInt}, {"datatype1", kInt}, {"amount", kInt}},
           [](API& a, int l1, int d1, int amount) { return a.SIZING(l1, d1, amount); });

  // Distance checks: SPACE of one layer (6 words) or two (8 words).
  c.Overloaded(
      "SPACE",
      {c.MakeForm({{"layer1", kInt}, {"datatype1", kInt}, {"amount", kInt}, {"kind", kInt}},
                  [](API& a, int l1, int d1, int amount, int kind) {
                    return a.SPACE(l1, d1, amount, kind);
                  }),
       c.MakeForm({{"layer1", kInt}, {"datatype1", kInt}, {"layer2", kInt},
                   {"datatype2", kInt}, {"amount", kInt}, {"kind", kInt}},
                  [](API& a, int l1, int d1, int l2, int d2, int amount, int kind) {
                    return a.SPACE(l1, d1, l2, d2, amount, kind);
                  })});
  c.Method("WIDTH", {{"layer1", kInt}, {"datatype1", kInt}, {"amount", kInt}, {"kind", kInt}},
           [](API& a, int l1, int d1, int amount, int kind) {
             return a.WIDTH(l1, d1, amount, kind);
           });
  c.Method("Enc",
           {{"layer1", kInt}, {"datatype1", kInt}, {"layer2", kInt}, {"datatype2", kInt},
            {"amount", kInt}, {"kind", kInt}},
           [](API& a, int l1, int d1, int l2, int d2, int amount, int kind) {
             return a.Enc(l1, d1, l2, d2, amount, kind);
           });
}

}  // namespace velmar::binding
