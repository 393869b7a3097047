// Window clipping, tiling and vertical fracturing on large rings: the cost
// must grow with the vertex count (and the tile count), never quadratically.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "geometry/clip_tile.h"
#include "geometry/fracture.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_system.h"

namespace velmar {
namespace {

// A comb: n teeth of width 4 and height 1000 on a spine, counter-clockwise;
// 4n + 2 vertices.
void AddComb(PSList& list, int32_t n) {
  PSPoint* first = PushPoint(list, 0, 0);
  PSPoint* last = first;
  auto add = [&](int32_t x, int32_t y) {
    PSPoint* p = PushPoint(list, x, y);
    LinkPoints(last, p);
    last = p;
  };
  add(8 * n, 0);
  for (int32_t i = n - 1; i >= 0; --i) {
    add(8 * i + 8, 1000);
    add(8 * i + 4, 1000);
    add(8 * i + 4, 100);
    add(8 * i, 100);
  }
  // The last tooth ends at (0, 100); close down to (0, 0).
  LinkPoints(last, first);
  ++list.ringCount;
}

void BM_ClipToWindow(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    PSList list;
    AddComb(list, n);
    ClipToWindow(list, Box(2, 50, 8 * n - 2, 500), true);
    benchmark::DoNotOptimize(list.pointCount);
    ClearPointList(list);
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_ClipToWindow)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

void BM_ChopIntoTiles(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  PSList list;
  AddComb(list, n);
  for (auto _ : state) {
    PSList out;
    ChopIntoTiles(list, out, 2048);
    benchmark::DoNotOptimize(out.pointCount);
    ClearPointList(out);
  }
  ClearPointList(list);
  state.SetComplexityN(n);
}
BENCHMARK(BM_ChopIntoTiles)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

void BM_FractureVertical(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    PSList list;
    AddComb(list, n);
    FractureVertical(list, 1);
    benchmark::DoNotOptimize(list.pointCount);
    ClearPointList(list);
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_FractureVertical)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
