// Any-angle OR of random triangles, see BM_TrianglesOr below.
//
// Scan-line booleans on 100,000 + 100,000 random rectangles (sides 100 to
// 5000 units in a 2,000,000-unit square, fixed seed): AND, OR, XOR of the two
// sets and the merge of all 200,000 as one layer; and the relational
// classification of the two sets followed by the OVER ring selection. Each
// run sorts its input, sweeps, and joins the result into rings. The result's ring count and area
// are reported as counters and printed once per operation.
//
// Argument 0 builds every input from a fresh point pool (the points of a
// ring lie together in memory); argument 1 builds it from points recycled
// through the pool's free list by a previous run of the same operation, as
// in a long session, where the vertices of one ring lie far apart.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_rects.h"
#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/relational.h"

namespace {

using velmar::BooleanOpCode;
using velmar::Box;
using velmar::PSList;

constexpr int kRectsPerLayer = 100000;

const std::vector<Box>& Rects() {
  static const std::vector<Box> rects = velmar::bench::RandomRects(2 * kRectsPerLayer);
  return rects;
}

void Build(PSList& list, bool twoLayers) {
  const std::vector<Box>& rects = Rects();
  for (size_t i = 0; i < rects.size(); ++i)
    velmar::BoxToRing(list, rects[i], twoLayers && i >= size_t(kRectsPerLayer));
}

// Ring count and area of the last result, taken untimed.
struct SweepResult {
  int32_t rings = 0;
  long double area = 0;

  // Counts the rings and area of out, then frees both lists.
  void Take(benchmark::State& state, PSList& in, PSList& out) {
    state.PauseTiming();
    velmar::CountRings(out);
    rings = out.ringCount;
    area = velmar::ListArea(out);
    velmar::ClearPointList(in);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  void Report(benchmark::State& state) const {
    state.counters["rings"] = rings;
    state.counters["area"] = static_cast<double>(area);
  }
};

void RunOperation(benchmark::State& state, BooleanOpCode code, const char* name) {
  const bool twoLayers = code != BooleanOpCode::Merge;
  SweepResult result;
  const bool recycled = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    PSList in, out;
    velmar::ResetPointPool();
    Build(in, twoLayers);
    if (recycled) {
      velmar::BooleanSweep(in, &out, code, false);
      velmar::ClearPointList(in);
      velmar::ClearPointList(out);
      Build(in, twoLayers);
    }
    state.ResumeTiming();
    velmar::BooleanSweep(in, &out, code, false);
    result.Take(state, in, out);
  }
  result.Report(state);
  static bool printed[16] = {};
  if (!printed[int(code) & 15]) {
    printed[int(code) & 15] = true;
    std::printf("%s: %d rings, area %.0Lf\n", name, result.rings, result.area);
  }
  velmar::ResetPointPool();
}

void BM_And(benchmark::State& s) { RunOperation(s, BooleanOpCode::And, "AND"); }
void BM_Or(benchmark::State& s) { RunOperation(s, BooleanOpCode::Or, "OR"); }
void BM_Xor(benchmark::State& s) { RunOperation(s, BooleanOpCode::Xor, "XOR"); }
void BM_Merge(benchmark::State& s) { RunOperation(s, BooleanOpCode::Merge, "merge"); }

// Any-angle input: random triangles (vertices up to 5000 units from a
// random corner), the argument giving the triangles per layer, on a square
// whose side grows with the square root of the count (2,000,000 units for
// 100,000 per layer), so that the density, and with it the crossings per
// triangle, stays the same. OR of the two layers; input built untimed.
void BM_TrianglesOr(benchmark::State& state) {
  const int64_t perLayer = state.range(0);
  const double side = 2000000.0 * std::sqrt(double(perLayer) / 100000.0);
  SweepResult result;
  for (auto _ : state) {
    state.PauseTiming();
    velmar::ResetPointPool();
    PSList in, out;
    std::mt19937_64 rng(0x7217a9);
    std::uniform_int_distribution<int32_t> pos(0, int32_t(side));
    std::uniform_int_distribution<int32_t> off(0, 5000);
    for (int64_t i = 0; i < 2 * perLayer; ++i) {
      const int32_t x = pos(rng), y = pos(rng);
      velmar::PSPoint* a = velmar::PushPoint(in, x, y);
      velmar::PSPoint* b = velmar::PushPoint(in, x + off(rng), y + off(rng) / 4);
      velmar::PSPoint* c = velmar::PushPoint(in, x + off(rng) / 4, y + off(rng));
      velmar::LinkPoints(a, b);
      velmar::LinkPoints(b, c);
      velmar::LinkPoints(c, a);
      if (i >= perLayer) a->flags = b->flags = c->flags = velmar::PSPointFlags::SecondLayer;
      ++in.ringCount;
    }
    state.ResumeTiming();
    velmar::BooleanSweep(in, &out, BooleanOpCode::Or, false);
    result.Take(state, in, out);
  }
  result.Report(state);
  velmar::ResetPointPool();
}

BENCHMARK(BM_TrianglesOr)
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(500000)
    ->Unit(benchmark::kMillisecond);

// Relate and select: the classification of both sets, then the rings of the
// first that overlap the second. Fresh pool only.
void BM_RelateOver(benchmark::State& state) {
  int32_t rings = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PSList in, out;
    velmar::ResetPointPool();
    Build(in, true);
    state.ResumeTiming();
    velmar::ClassifyPoints(in);
    velmar::RelationalSelect(in, out, velmar::RelationalCode::Over, false);
    state.PauseTiming();
    rings = out.ringCount;
    velmar::ClearPointList(in);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  state.counters["rings"] = rings;
  velmar::ResetPointPool();
}

BENCHMARK(BM_And)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Or)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RelateOver)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
