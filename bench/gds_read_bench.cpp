// GDSII reading speed: a generated file of two structures of 100,000
// rectangles each (about 13 MB) read into a fresh library directory, plain
// and gzip-compressed. Reports the input rate (counter "MB", per second, of
// uncompressed bytes).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_gds.h"
#include "formats/gds_reader.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

constexpr int kStructures = 2;
constexpr int kRectanglesPerStructure = 100000;

// Writes the test file with the system's own record layer; returns its
// uncompressed size.
int64_t WriteFile(const std::string& path, bool gzip) {
  bench::GdsRectangleWriter w(path, gzip, "BENCH");
  uint32_t seed = 12345;
  for (int s = 0; s < kStructures; ++s) {
    w.BeginStructure(s == 0 ? "RECTS0" : "RECTS1");
    for (int i = 0; i < kRectanglesPerStructure; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int32_t x = int32_t(seed % 150000), y = int32_t((seed >> 7) % 150000);
      const int32_t w2 = 50 + int32_t(seed % 400), h2 = 50 + int32_t((seed >> 3) % 400);
      w.Rectangle(int16_t(1 + i % 4), x, y, x + w2, y + h2);
    }
    w.EndStructure();
  }
  return w.Finish();
}

void ReadGds(benchmark::State& state, bool gzip) {
  const std::string path = bench::ScratchDir("velmar_gds_bench") + (gzip ? "/in.gds.gz" : "/in.gds");
  const int64_t size = WriteFile(path, gzip);
  int run = 0;
  for (auto _ : state) {
    const std::string dir = bench::ScratchDir("velmar_gds_bench") + "/lib" + std::to_string(run++);
    std::filesystem::create_directory(dir);
    bench::ReadIntoNewLibrary(path, gzip, dir);
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
  state.counters["MB"] = benchmark::Counter(double(size) / 1e6 * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
  state.counters["file MB"] = double(size) / 1e6;
}

void BM_GdsReadPlain(benchmark::State& state) { ReadGds(state, false); }
void BM_GdsReadGzip(benchmark::State& state) { ReadGds(state, true); }

BENCHMARK(BM_GdsReadPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdsReadGzip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
