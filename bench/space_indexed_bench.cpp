// The one-layer SPACE sweeps for 45-degree input side by side: SweepSpace45
// (spanning list) and SweepSpaceIndexed (interval index over y), on the
// 200,000 random rectangles of the geometry benchmarks merged once, and on
// the same layer with every rectangle's corners cut at 45 degrees (an
// octagon per rectangle, merged). Each run copies its input untimed, then
// sorts it and runs the sweep (timed), at the rules 200 and 2000.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench_rects.h"
#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"
#include "geometry/space_sweep.h"
#include "geometry/space_sweep_indexed.h"

namespace {

using velmar::PSList;
using velmar::PSPoint;

PSList MergedLayer(bool octagons) {
  PSList in, out;
  for (const velmar::Box& b : velmar::bench::RandomRects(200000)) {
    if (!octagons) {
      velmar::BoxToRing(in, b, false);
      continue;
    }
    const int32_t c = std::min(b.x2 - b.x1, b.y2 - b.y1) / 4;
    const int32_t xs[8] = {b.x1 + c, b.x2 - c, b.x2, b.x2, b.x2 - c, b.x1 + c, b.x1, b.x1};
    const int32_t ys[8] = {b.y1, b.y1, b.y1 + c, b.y2 - c, b.y2, b.y2, b.y2 - c, b.y1 + c};
    PSPoint* first = nullptr;
    PSPoint* last = nullptr;
    for (int i = 0; i < 8; ++i) {
      PSPoint* p = velmar::PushPoint(in, xs[i], ys[i]);
      if (!first) first = p;
      velmar::LinkPoints(last, p);
      last = p;
    }
    velmar::LinkPoints(last, first);
    ++in.ringCount;
  }
  velmar::BooleanSweep(in, &out, velmar::BooleanOpCode::Merge, false);
  velmar::ClearPointList(in);
  return out;
}

PSList& Layer(bool octagons) {
  static PSList rects = MergedLayer(false);
  static PSList cut = MergedLayer(true);
  return octagons ? cut : rects;
}

// range(0): 0 SweepSpace45, 1 SweepSpaceIndexed; range(1): 1 octagons;
// range(2): the rule.
void BM_SpaceSweep45(benchmark::State& state) {
  const bool indexed = state.range(0) == 1;
  PSList& layer = Layer(state.range(1) == 1);
  const int32_t rule = int32_t(state.range(2));
  int32_t vertices = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PSList input, out;
    velmar::CopyPointList(layer, input);
    state.ResumeTiming();
    velmar::SortPointsByPosition(input, false);
    if (indexed)
      velmar::SweepSpaceIndexed(input, velmar::ListBBox(input), out, rule, 1, 1, 0);
    else
      velmar::SweepSpace45(input, out, rule, 1, 1, 0, false);
    state.PauseTiming();
    vertices = out.pointCount;
    velmar::ClearPointList(input);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  state.counters["violation_vertices"] = vertices;
}
BENCHMARK(BM_SpaceSweep45)
    ->ArgNames({"indexed", "octagons", "rule"})
    ->ArgsProduct({{0, 1}, {0, 1}, {200, 2000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
