// Distance checks on the 100,000 + 100,000 random rectangles of
// boolean_bench (sides 100 to 5000 units in a 2,000,000-unit square, same
// seed), each layer merged once beforehand as the commands merge a library
// layer. Each run copies its input untimed, then sorts it and runs the
// sweep (timed): SPACE and WIDTH of the merged 200,000 rectangles at 200,
// ENC of the second 100,000 enclosed by the first. Next to them: the merge
// of the same layer, and the band checks (edge index, per-edge band
// queries) of the layer rotated by a small angle (edges at any angle).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/edge_index.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"
#include "geometry/space_sweep.h"

namespace {

using velmar::PSList;

constexpr int32_t kRule = 200;

const std::vector<velmar::Box>& Rects() {
  static const std::vector<velmar::Box> rects = [] {
    std::vector<velmar::Box> r;
    std::mt19937_64 rng(0x5eed2024);
    std::uniform_int_distribution<int32_t> side(100, 5000);
    std::uniform_int_distribution<int32_t> pos(0, 2000000);
    for (int i = 0; i < 200000; ++i) {
      const int32_t w = side(rng), h = side(rng);
      const int32_t x = pos(rng) % (2000000 - w), y = pos(rng) % (2000000 - h);
      r.push_back(velmar::Box(x, y, x + w, y + h));
    }
    return r;
  }();
  return rects;
}

// The rectangles [first, last) as rings, unmerged.
PSList Rings(size_t first, size_t last) {
  PSList in;
  for (size_t i = first; i < last; ++i) velmar::BoxToRing(in, Rects()[i], false);
  return in;
}

PSList Merged(size_t first, size_t last) {
  PSList in = Rings(first, last), out;
  velmar::BooleanSweep(in, &out, velmar::BooleanOpCode::Merge, false);
  velmar::ClearPointList(in);
  return out;
}

PSList& AllMerged() {
  static PSList merged = Merged(0, 200000);
  return merged;
}
PSList& EnclosingMerged() {
  static PSList merged = Merged(0, 100000);
  return merged;
}
PSList& EnclosedMerged() {
  static PSList merged = Merged(100000, 200000);
  return merged;
}

// The merged layer turned by about 0.57 degrees about its centre.
PSList& RotatedMerged() {
  static PSList rotated = [] {
    PSList out;
    velmar::CopyPointList(AllMerged(), out);
    const double c = std::cos(0.01), s = std::sin(0.01);
    for (velmar::PSPoint* p = out.head; p; p = p->link) {
      const double x = p->x - 1000000.0, y = p->y - 1000000.0;
      p->x = int32_t(std::lround(1000000.0 + c * x - s * y));
      p->y = int32_t(std::lround(1000000.0 + s * x + c * y));
    }
    return out;
  }();
  return rotated;
}

enum Check { kSpace, kWidth, kEnc };

void BM_ManhattanSweep(benchmark::State& state) {
  const Check check = Check(state.range(0));
  int32_t vertices = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PSList input, out;
    if (check == kEnc) {
      PSList enclosed;
      velmar::CopyPointList(EnclosingMerged(), input);
      velmar::SetFlags(input, velmar::PSPointFlags::SecondLayer);
      velmar::CopyPointList(EnclosedMerged(), enclosed);
      velmar::SpliceList(input, enclosed);
    } else {
      velmar::CopyPointList(AllMerged(), input);
    }
    state.ResumeTiming();
    velmar::SortPointsByPosition(input, false);
    switch (check) {
      case kSpace: velmar::SweepSpaceManhattan(input, out, kRule, 1, 1, 0, false); break;
      case kWidth: velmar::SweepWidthManhattan(input, out, -kRule, 1, 1, 0); break;
      case kEnc: velmar::SweepEnc(input, out, kRule, 1, 1, 0); break;
    }
    state.PauseTiming();
    vertices = out.pointCount;
    velmar::ClearPointList(input);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  state.counters["violation_vertices"] = vertices;
}
BENCHMARK(BM_ManhattanSweep)
    ->ArgName("space0_width1_enc2")
    ->Arg(kSpace)
    ->Arg(kWidth)
    ->Arg(kEnc)
    ->Unit(benchmark::kMillisecond);

// The merge of the 200,000 rectangles, for comparison.
void BM_MergeSameLayer(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    PSList in = Rings(0, 200000), out;
    state.ResumeTiming();
    velmar::BooleanSweep(in, &out, velmar::BooleanOpCode::Merge, false);
    state.PauseTiming();
    velmar::ClearPointList(in);
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MergeSameLayer)->Unit(benchmark::kMillisecond);

// SPACE and WIDTH of the rotated layer through the band index of its edges
// (in the order of the layer's edge index), as the commands run them.
void BM_BandChecksRotated(benchmark::State& state) {
  const Check check = Check(state.range(0));
  PSList& input = RotatedMerged();
  int32_t vertices = 0;
  for (auto _ : state) {
    PSList out;
    const velmar::Box region = velmar::ListBBox(input);
    if (check == kSpace) velmar::CheckSpaceEdges(input, input, region, out, kRule, 1, 0);
    else velmar::CheckWidthEdges(input, input, region, out, kRule, 1, 0);
    state.PauseTiming();
    vertices = out.pointCount;
    velmar::ClearPointList(out);
    state.ResumeTiming();
  }
  state.counters["violation_vertices"] = vertices;
}
BENCHMARK(BM_BandChecksRotated)
    ->ArgName("space0_width1")
    ->Arg(kSpace)
    ->Arg(kWidth)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
