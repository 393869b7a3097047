// Sizing of 200,000 random rectangles (100,000 + 100,000 as in
// boolean_bench: sides 100 to 5000 units in a 2,000,000-unit square, same
// seed), merged once beforehand as SIZING merges a library layer: each run
// sizes the merged layer by +50 or -50 units (SizeList with smoothing) and
// merges the sized rings (code 0), as the SIZING command does; -3000
// shrinks most of the layer away, where moved edges turn over. The copy of
// the merged layer that each run consumes is made untimed.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench_rects.h"
#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/sizing.h"

namespace {

using velmar::PSList;

PSList& MergedRects() {
  static PSList merged = [] {
    PSList in, out;
    for (const velmar::Box& b : velmar::bench::RandomRects(200000)) velmar::BoxToRing(in, b, false);
    velmar::BooleanSweep(in, &out, velmar::BooleanOpCode::Merge, false);
    velmar::ClearPointList(in);
    return out;
  }();
  return merged;
}

void BM_SizeAndMerge(benchmark::State& state) {
  const int32_t size = int32_t(state.range(0));
  PSList& merged = MergedRects();
  int32_t rings = 0;
  long double area = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PSList input, sized, out;
    velmar::CopyPointList(merged, input);
    state.ResumeTiming();
    velmar::SizeList(input, sized, size, 1);
    velmar::ClearPointList(input);
    velmar::BooleanSweepAsDrawn(sized, &out, velmar::BooleanOpCode::Merge);
    state.PauseTiming();
    velmar::ClearPointList(sized);
    velmar::CountRings(out);
    rings = out.ringCount;
    area = velmar::ListArea(out);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  state.counters["rings"] = rings;
  state.counters["area"] = double(area);
}
BENCHMARK(BM_SizeAndMerge)->Arg(50)->Arg(-50)->Arg(-3000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
