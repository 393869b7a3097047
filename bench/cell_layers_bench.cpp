// Cells' layer stores: storing rings as shared, indexed shapes and handing a
// window of a layer back as rings.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"

namespace velmar {
namespace {

// n rectangles and L-shapes on a square of side span; every eighth a repeat
// of an earlier one (a shared shape).
void RandomRings(PSList& list, int n, int span, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pos(0, span);
  std::uniform_int_distribution<int> len(5, 200);
  for (int i = 0; i < n; ++i) {
    const int x = pos(rng), y = pos(rng), w = len(rng), h = len(rng);
    if (i % 3 == 0) {
      const int c = w / 2 + 1;
      const int pts[6][2] = {{x, y},         {x + w + c, y}, {x + w + c, y + c},
                             {x + c, y + c}, {x + c, y + h + c}, {x, y + h + c}};
      PSPoint* first = nullptr;
      PSPoint* last = nullptr;
      for (auto& p : pts) {
        PSPoint* v = PushPoint(list, p[0], p[1]);
        if (first == nullptr) first = v;
        LinkPoints(last, v);
        last = v;
      }
      LinkPoints(last, first);
      ++list.ringCount;
    } else {
      BoxToRing(list, Box(x, y, x + w, y + h), false);
    }
  }
}

// Stores n fresh random rings into the indexed layer 1 of cell; only the
// store is timed.
void TimedInsert(benchmark::State& state, DBCell& cell, int n, uint32_t seed) {
  state.PauseTiming();
  PSList list;
  RandomRings(list, n, 100000, seed);
  state.ResumeTiming();
  cell.InsertPolygons(list, 1, true);
  state.PauseTiming();
  ClearPointList(list);
  state.ResumeTiming();
}

// One call storing n rings into an indexed layer.
void BM_InsertPolygonsIndexed(benchmark::State& state) {
  const int n = int(state.range(0));
  for (auto _ : state) {
    DBCell cell;
    TimedInsert(state, cell, n, 1);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_InsertPolygonsIndexed)->Arg(10000)->Arg(100000);

// The same rings stored in batches of 1000 into one indexed layer.
void BM_InsertPolygonsInBatches(benchmark::State& state) {
  const int n = int(state.range(0));
  for (auto _ : state) {
    DBCell cell;
    for (int b = 0; b < n / 1000; ++b) TimedInsert(state, cell, 1000, uint32_t(b + 1));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_InsertPolygonsInBatches)->Arg(10000)->Arg(50000);

// Windows of one hundredth of the layer's area gathered from 100k shapes.
void BM_IndexedLayersToRingsWindow(benchmark::State& state) {
  DBCell cell;
  PSList list;
  RandomRings(list, 100000, 100000, 3);
  cell.InsertPolygons(list, 1, true);
  ClearPointList(list);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pos(0, 90000);
  const LayerKeySet all;
  int64_t points = 0;
  for (auto _ : state) {
    const int x = pos(rng), y = pos(rng);
    LayerRings out;
    cell.IndexedLayersToRings(Box(x, y, x + 10000, y + 10000), all, out, 0,
                              1);
    for (const auto& entry : out) points += entry.second.pointCount;
  }
  state.counters["points/window"] =
      benchmark::Counter(double(points) / double(state.iterations()));
}
BENCHMARK(BM_IndexedLayersToRingsWindow);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
