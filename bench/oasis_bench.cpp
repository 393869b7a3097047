// OASIS writing and reading speed on the layout of gds_read_bench: two
// structures of 100,000 rectangles each, loaded from GDSII once, written as
// OASIS (BM_OasisWrite), and that file read into a fresh library
// (BM_OasisRead) next to the GDSII read of the same layout (BM_GdsRead).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_gds.h"
#include "formats/oasis_file.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

constexpr int kStructures = 2;
constexpr int kRectanglesPerStructure = 100000;

std::string Dir() { return bench::ScratchDir("velmar_oasis_bench"); }

// The GDSII file, and the library read from it (once per process).
const std::string& GdsFile() {
  static const std::string path = [] {
    const std::string p = Dir() + "/in.gds";
    bench::GdsRectangleWriter w(p, false, "BENCH");
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
    w.Finish();
    std::filesystem::create_directory(Dir() + "/source");
    bench::ReadIntoNewLibrary(p, false, Dir() + "/source");
    return p;
  }();
  return path;
}

// Runs f with standard output sent to /dev/null.
template <class F>
void Quietly(F&& f) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  f();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(null);
}

void WriteOasis(const std::string& out) {
  LibDB lib((Dir() + "/source").c_str(), 0);
  Quietly([&] { lib.ReadTables(); });
  OasisFile file;
  file.library = &lib;
  file.OpenOutput(out);
  file.Write();
  file.stream.Close();
}

void BM_OasisWrite(benchmark::State& state) {
  GdsFile();
  const std::string out = Dir() + "/out.oas";
  for (auto _ : state) WriteOasis(out);
  state.counters["file MB"] = double(std::filesystem::file_size(out)) / 1e6;
}

void BM_OasisRead(benchmark::State& state) {
  GdsFile();
  const std::string in = Dir() + "/read.oas";
  WriteOasis(in);
  int run = 0;
  for (auto _ : state) {
    const std::string dir = Dir() + "/oas" + std::to_string(run++);
    std::filesystem::create_directory(dir);
    Quietly([&] {
      LibDB lib(dir.c_str(), 0);
      OasisFile file;
      file.OpenInput(in);
      file.ReadHead(&lib);
      if (!lib.OpenNewDataFile()) std::abort();
      file.ReadBody();
    });
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
}

void BM_GdsRead(benchmark::State& state) {
  const std::string& in = GdsFile();
  int run = 0;
  for (auto _ : state) {
    const std::string dir = Dir() + "/gds" + std::to_string(run++);
    std::filesystem::create_directory(dir);
    bench::ReadIntoNewLibrary(in, false, dir);
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_OasisWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OasisRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdsRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
