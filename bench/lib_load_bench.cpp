// Loading a whole compressed library (LibDB::LoadAll) whose cells lie in the
// data file in the reverse order of their ids, as a GDSII file written top
// down leaves them: the cells are read in file order, so the compressed
// data file is decompressed once instead of once per cell.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/box.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

constexpr int kShapesPerCell = 100;

// A compressed library of n cells of kShapesPerCell rectangles each, stored
// from the last id to the first; returns its directory.
std::string MakeLibrary(int n) {
  char templ[] = "/tmp/velmar_load_bench_XXXXXX";
  if (!::mkdtemp(templ)) std::abort();
  const std::string dir = templ;
  LibDB lib(dir.c_str(), 1);
  uint32_t seed = 12345;
  for (int c = 0; c < n; ++c) {
    std::string name = "c";
    name += std::to_string(c);
    DBCell* cell = lib.cells[size_t(lib.AddCell(name.c_str()))];
    for (int i = 0; i < kShapesPerCell; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int32_t x = int32_t(seed % 100000), y = int32_t((seed >> 8) % 100000);
      CPgonListNode* shape = nullptr;
      cell->AddBox(Box(x, y, x + 10 + int32_t(seed % 300), y + 10 + int32_t(seed % 200)),
                   256, shape);
    }
  }
  for (int c = n - 1; c >= 0; --c) {
    DBCell* cell = lib.cells[size_t(c)];
    lib.OpenCellFile(cell);
    lib.WriteCellLayers(cell);
    lib.WriteCellReferences(cell);
  }
  lib.CloseDataFile();
  lib.layers[256];
  lib.WriteNames();
  lib.WriteInfo();
  return dir;
}

void BM_LoadAllCompressedReverseOrder(benchmark::State& state) {
  const std::string dir = MakeLibrary(int(state.range(0)));
  for (auto _ : state) {
    // The library's messages go to standard output; keep them out of the
    // benchmark report.
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    {
      LibDB lib(dir.c_str(), 1);
      lib.ReadInfo();
      lib.ReadNames();
      lib.LoadAll(false, false);
    }
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(null);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadAllCompressedReverseOrder)
    ->Arg(500)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
