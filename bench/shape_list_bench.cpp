// Encoding rings into shared shapes and expanding them back: the path of
// every stored layer result and of every cell loaded for an operation.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "geometry/point_system.h"
#include "layoutdb/shape_list.h"

namespace velmar {
namespace {

// n rings: a mix of rectangles, L-shapes and octagons on a coarse grid, so
// that shapes repeat as they do in real layouts.
void MakeRings(PSList& list, int n) {
  std::mt19937 rng(1);
  for (int i = 0; i < n; ++i) {
    const int32_t x = int32_t(rng() % 4000) * 50;
    const int32_t y = int32_t(rng() % 4000) * 50;
    const int32_t w = 10 + int32_t(rng() % 8) * 10;
    PSPoint* first = nullptr;
    PSPoint* last = nullptr;
    auto add = [&](int32_t px, int32_t py) {
      PSPoint* p = PushPoint(list, x + px, y + py);
      if (!first) first = p;
      LinkPoints(last, p);
      last = p;
    };
    switch (i % 3) {
      case 0:
        add(0, 0); add(w, 0); add(w, 20); add(0, 20);
        break;
      case 1:
        add(0, 0); add(w, 0); add(w, 10); add(10, 10); add(10, w); add(0, w);
        break;
      default:
        add(5, 0); add(w, 0); add(w + 5, 5); add(w + 5, 15); add(w, 20);
        add(5, 20); add(0, 15); add(0, 5);
        break;
    }
    LinkPoints(last, first);
    ++list.ringCount;
  }
}

void BM_AddRings(benchmark::State& state) {
  const int n = int(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    PSList rings;
    MakeRings(rings, n);
    CPgonList shapes;
    state.ResumeTiming();
    benchmark::DoNotOptimize(CPgonList::AddRings(shapes, rings));
    state.PauseTiming();
    CPgonList::Release(shapes);
    ClearPointList(rings);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AddRings)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ToRings(benchmark::State& state) {
  const int n = int(state.range(0));
  PSList rings;
  MakeRings(rings, n);
  CPgonList shapes;
  CPgonList::AddRings(shapes, rings);
  ClearPointList(rings);
  for (auto _ : state) {
    PSList out;
    CPgonList::ToRings(shapes, out);
    benchmark::DoNotOptimize(out.pointCount);
    ClearPointList(out);
  }
  CPgonList::Release(shapes);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ToRings)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
