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

void ReadGds(benchmark::State& state, bool gzip) {
  const std::string path = bench::ScratchDir("velmar_gds_bench") + (gzip ? "/in.gds.gz" : "/in.gds");
  const int64_t size = bench::WriteRectangleLayout(path, gzip);
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
