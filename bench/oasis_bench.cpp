// OASIS writing and reading speed on the layout of gds_read_bench: two
// structures of 100,000 rectangles each, loaded from GDSII once, written as
// OASIS (BM_OasisWrite), and that file read into a fresh library
// (BM_OasisRead) next to the GDSII read of the same layout (BM_GdsRead).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_gds.h"
#include "formats/oasis_file.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

std::string Dir() { return bench::ScratchDir("velmar_oasis_bench"); }

// The GDSII file, and the library read from it (once per process).
const std::string& GdsFile() {
  static const std::string path = [] {
    const std::string p = Dir() + "/in.gds";
    bench::WriteRectangleLayout(p, false);
    std::filesystem::create_directory(Dir() + "/source");
    bench::ReadIntoNewLibrary(p, false, Dir() + "/source");
    return p;
  }();
  return path;
}

void WriteOasis(const std::string& out) {
  LibDB lib((Dir() + "/source").c_str(), 0);
  bench::Quietly([&] { lib.ReadTables(); });
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
    bench::Quietly([&] {
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
