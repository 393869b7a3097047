// 2-D search tree: inserting 1,000,000 random boxes into an empty tree, and
// window queries on a tree of 1,000,000 boxes (fixed seed).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "foundation/search_tree.h"

namespace velmar {
namespace {

constexpr int kItems = 1000000;
constexpr int32_t kExtent = 10000000;  // a 10 mm layout at 1 nm units
const Box kRegion(0, 0, kExtent, kExtent);

// Boxes of shapes: up to 2000 units on a side, a few long wires.
const std::vector<Box>& Boxes() {
  static const std::vector<Box> boxes = [] {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int32_t> pos(0, kExtent - 1);
    std::uniform_int_distribution<int32_t> size(1, 2000);
    std::uniform_int_distribution<int> wire(0, 99);
    std::vector<Box> out;
    out.reserve(kItems);
    for (int i = 0; i < kItems; ++i) {
      const int32_t x = pos(rng), y = pos(rng);
      int32_t w = size(rng), h = size(rng);
      if (wire(rng) == 0) w *= 100;
      if (wire(rng) == 0) h *= 100;
      out.emplace_back(x, y, std::min(x + w, kExtent), std::min(y + h, kExtent));
    }
    return out;
  }();
  return boxes;
}

void BM_Insert(benchmark::State& state) {
  const std::vector<Box>& boxes = Boxes();
  for (auto _ : state) {
    DBSearchSystem tree(kRegion);
    for (int i = 0; i < kItems; ++i)
      DBSearchSystem::Insert(tree, boxes[size_t(i)],
                             reinterpret_cast<void*>(intptr_t(i) + 1));
    benchmark::DoNotOptimize(tree.Root());
    state.PauseTiming();
    state.counters["kbytes"] = ReportSearchSystemMemory(true);
    DBSearchSystem::Clear(tree);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
  ResetSearchSystemPool();
}
BENCHMARK(BM_Insert)->Unit(benchmark::kMillisecond);

// Queries with square windows of state.range(0) units; reports the items
// found per query.
void BM_Query(benchmark::State& state) {
  DBSearchSystem tree(kRegion);
  const std::vector<Box>& boxes = Boxes();
  for (int i = 0; i < kItems; ++i)
    DBSearchSystem::Insert(tree, boxes[size_t(i)],
                           reinterpret_cast<void*>(intptr_t(i) + 1));
  const int32_t window = int32_t(state.range(0));
  std::mt19937 rng(99);
  std::uniform_int_distribution<int32_t> pos(0, kExtent - window);
  std::vector<Box> queries;
  for (int i = 0; i < 4096; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    queries.emplace_back(x, y, x + window, y + window);
  }
  int64_t found = 0;
  size_t q = 0;
  for (auto _ : state) {
    const Box& w = queries[q++ & 4095];
    for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, w); n;
         n = DBSearchSystem::NextInBox(n, w))
      ++found;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found/query"] =
      benchmark::Counter(double(found) / double(state.iterations()));
  DBSearchSystem::Clear(tree);
  ResetSearchSystemPool();
}
BENCHMARK(BM_Query)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
