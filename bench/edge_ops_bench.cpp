// Rule-driven edge operations of API on the first layer of boolean_bench's
// rectangles (100,000 random rectangles, sides 100 to 5000 units in a
// 2,000,000-unit square), held as one cell of a library built in memory:
// ExtractEdges and EdgeBias with a two-rule bias table (inside distance up
// to 1000: +5; outside distance up to 500: -3), HammerHead with a two-rule
// end-cap table (width up to 2000 without side neighbours: head 60/20/10;
// with a side neighbour up to 500: 60/20/20), each next to the merge of the
// same layer (BooleanOp code 0), which every one of them runs first. Every
// run gathers the layer from the cell and leaves a temporary layer, freed
// untimed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "bench_rects.h"
#include "command/api.h"
#include "geometry/op_codes.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace {

using namespace velmar;

constexpr LayerKey kLayer = 1 * 256;

// An API whose current library is built in memory: one cell "top" with the
// rectangles on {1 0}, working area its box, reports off.
class BenchApi : public API {
 public:
  BenchApi() {
    auto lib = std::make_unique<LibDB>("/nonexistent/velmar-edge-bench", 0);
    lib->AddCell("top");
    DBCell* cell = lib->cells[0];
    PSList list;
    Box box;
    // VELMAR_EDGE_BENCH_RECTS: another rectangle count, for a quick look.
    const char* count = std::getenv("VELMAR_EDGE_BENCH_RECTS");
    for (const Box& b : bench::RandomRects(count ? std::atoi(count) : 100000)) {
      BoxToRing(list, b, false);
      box.Merge(b);
    }
    cell->InsertPolygons(list, kLayer, false);
    ClearPointList(list);
    cell->box = box;
    cell->flags = 0;
    lib->roots = {0};
    lib->layers.emplace(uint32_t(kLayer), LayerInfo());
    lib->flags |= LibDB::InfoRead | LibDB::NamesRead;
    lib->unitPerNm = 1.0;
    libs[0] = std::move(lib);
    currentLib = libs[0].get();
    tech.reportDegree = 0;
    SetArea("top", box.x1, box.y1, box.x2, box.y2);
    tech.reportDegree = 0;

    auto rule = [](SList& list, int dim, int32_t lo, int32_t hi, std::vector<int32_t> v) {
      BiasRule& r = *list.head->Item<BiasRule>();
      if (dim >= 0) r.min[dim] = lo, r.max[dim] = hi;
      for (size_t i = 0; i < v.size(); ++i) r.bias[i] = v[i];
    };
    tech.CreateBiasRule();
    rule(tech.biasRules, 0, 0, 1000, {5});
    tech.CreateBiasRule();
    rule(tech.biasRules, 1, 0, 500, {-3});
    PrepareBiasRules();
    tech.CreateHammerRule();
    rule(tech.endcapRules, 0, 0, 2000, {60, 20, 10});
    BiasRule& open = *tech.endcapRules.head->Item<BiasRule>();
    open.min[2] = 501;  // no side neighbour within 500
    tech.CreateHammerRule();
    rule(tech.endcapRules, 0, 0, 2000, {60, 20, 20});
    tech.endcapRules.head->Item<BiasRule>()->min[2] = 0;
    tech.endcapRules.head->Item<BiasRule>()->max[2] = 500;
    PrepareEndcapRules();
  }
  ~BenchApi() {
    ResetTempLayers();
    for (auto& lib : libs) lib.reset();
    currentLib = nullptr;
  }
  int32_t Points(int number) { return FindTempLayer(number)->pointCount; }
};

BenchApi& Api() {
  static BenchApi* api = new BenchApi;  // kept for the whole process
  return *api;
}

template <class Op>
void Run(benchmark::State& state, Op op) {
  BenchApi& api = Api();
  int32_t points = 0;
  for (auto _ : state) {
    const int layer = op(api);
    state.PauseTiming();
    points = api.Points(layer);
    api.ResetTempLayers();
    state.ResumeTiming();
  }
  state.counters["points"] = points;
}

void BM_Merge(benchmark::State& s) {
  Run(s, [](API& a) { return a.BooleanOp(BooleanOpCode::Merge, 1, 0, -1, 0); });
}
void BM_ExtractEdges(benchmark::State& s) {
  Run(s, [](API& a) { return a.ExtractEdges(1, 0); });
}
void BM_EdgeBias(benchmark::State& s) {
  Run(s, [](API& a) { return a.EdgeBias(1, 0); });
}
void BM_HammerHead(benchmark::State& s) {
  Run(s, [](API& a) { return a.HammerHead(1, 0); });
}

BENCHMARK(BM_Merge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractEdges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EdgeBias)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HammerHead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
