// Large-cell flushing of the GDSII reader at full size: one structure holds
// a rectangle spanning (0,0)-(2e9,2e9) and then rectangles of about N
// vertices in all (N = 50,000,000 by default, the reader's own flush
// threshold, so the structure is flushed once while it is read and once at
// its end). The box of the structure is the huge sparse box; the flush must
// tile it in a bounded number of tiles. Run once; reports the read time, the
// generated cells and the peak resident memory of the process.
//
//   gds_flush_bench --benchmark_filter=/50000000   (argument: vertices; a
//   run of 5,000,000 vertices below the threshold, flushed only at the end
//   of the structure, is registered too)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
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

// The huge rectangle on layer 2, then vertices / 4 small rectangles on
// layer 1 scattered over a 20 mm square, in one structure "BIG".
int64_t WriteFile(const std::string& path, int64_t vertices) {
  bench::GdsRectangleWriter w(path, false, "FLUSH");
  w.BeginStructure("BIG");
  w.Rectangle(2, 0, 0, 2000000000, 2000000000);
  uint64_t seed = 12345;
  for (int64_t i = 0; i < vertices / 4; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const int32_t x = int32_t((seed >> 20) % 20000000);
    const int32_t y = int32_t((seed >> 40) % 20000000);
    const int32_t size = 100 + int32_t((seed >> 8) % 400);
    w.Rectangle(1, x, y, x + size, y + size);
  }
  w.EndStructure();
  return w.Finish();
}

void BM_GdsFlushHugeSparseBox(benchmark::State& state) {
  const int64_t vertices = state.range(0);
  const std::string path = bench::ScratchDir("velmar_flush_bench") + "/in.gds";
  const int64_t size = WriteFile(path, vertices);
  int32_t generated = 0;
  for (auto _ : state) {
    const std::string dir = bench::ScratchDir("velmar_flush_bench") + "/lib";
    std::filesystem::create_directory(dir);
    generated = bench::ReadIntoNewLibrary(path, false, dir) - 1;
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  std::filesystem::remove(path);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["file MB"] = double(size) / 1e6;
  state.counters["generated cells"] = generated;
  state.counters["peak RSS MB"] = double(usage.ru_maxrss) / 1024.0;
}

BENCHMARK(BM_GdsFlushHugeSparseBox)
    ->Arg(5000000)
    ->Arg(50000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
