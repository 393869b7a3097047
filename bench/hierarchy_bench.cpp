// Hierarchy handling of an array of one leaf cell of 1000 rectangles, with
// an interaction distance of 100 nm: every placement's environment is
// gathered from its neighbours, encoded, and the placements with equal
// surroundings share a variant. The time should grow no faster than the
// placements. Reported once per size: the run's statistics and ratio lines,
// the cells made, and the process's peak resident memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/box.h"
#include "hierarchy/hierarchy_handler.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {
namespace {

constexpr int kRectangles = 1000;
constexpr int32_t kLeafExtent = 10000;  // nm = database units

// A library of one leaf cell (kRectangles rectangles on {1 0} inside
// kLeafExtent square) placed as an n x n array at pitch kLeafExtent in the
// top cell; returns its directory.
std::string MakeLibrary(int n) {
  char templ[] = "/tmp/velmar_hier_bench_XXXXXX";
  if (!::mkdtemp(templ)) std::abort();
  const std::string dir = templ;
  LibDB lib(dir.c_str(), 0);
  const int32_t leafId = lib.AddCell("leaf");
  const int32_t topId = lib.AddCell("top");
  DBCell* leaf = lib.cells[size_t(leafId)];
  uint32_t seed = 12345;
  for (int i = 0; i < kRectangles; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int32_t w = 40 + int32_t(seed % 300), h = 40 + int32_t((seed >> 9) % 300);
    const int32_t x = int32_t((seed >> 3) % uint32_t(kLeafExtent - w));
    seed = seed * 1664525u + 1013904223u;
    const int32_t y = int32_t((seed >> 5) % uint32_t(kLeafExtent - h));
    CPgonListNode* shape = nullptr;
    leaf->AddBox(Box(x, y, x + w, y + h), MakeLayerKey(1, 0), shape);
  }
  // The leaf's box spans the whole extent, so that neighbours abut.
  leaf->box = Box(0, 0, kLeafExtent, kLeafExtent);
  DBCell* top = lib.cells[size_t(topId)];
  ARef* array = new ARef(Trans(), leafId, int16_t(n), int16_t(n), kLeafExtent, kLeafExtent);
  top->box = array->GetBox(leaf->box);
  DBSearchSystem::Insert(top->FindOrCreateTree(ReferenceKey, top->box), top->box, array);
  leaf->flags |= DBCell::Modified;
  top->flags |= DBCell::Modified;
  lib.layers[MakeLayerKey(1, 0)];
  lib.SaveModified();
  lib.BuildParents();
  lib.OrderCells(false);
  lib.CollectRoots();
  lib.WriteInfo();
  lib.WriteNames();
  return dir;
}

// Runs hierarchy handling with the rule record's defaults and a margin of
// 100 nm on the library of dir; returns what it printed.
std::string Run(const std::string& dir) {
  std::fflush(stdout);
  char out[] = "/tmp/velmar_hier_bench_out_XXXXXX";
  const int fd = ::mkstemp(out);
  const int saved = ::dup(1);
  ::dup2(fd, 1);
  {
    LibDB lib(dir.c_str(), 0);
    lib.ReadTables();
    HierarchyHandler h;
    h.lib = &lib;
    h.explodeRate = 70;
    h.sparseRate = 30;
    h.overlapRate = 0;
    h.flattenSize = 0;
    h.splitSize = 50000;
    h.margin = 100;
    h.SetLayers({}, {});
    h.Run();
  }
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(fd);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(out);
  return text.str();
}

void BM_HierarchyHandlingArray(benchmark::State& state) {
  const int n = int(state.range(0));
  const std::string source = MakeLibrary(n);
  const std::string work = source + "_run";
  std::string report;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(work);
    std::filesystem::copy(source, work);
    state.ResumeTiming();
    report = Run(work);
  }
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["placements"] = double(n) * n;
  state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
  std::fprintf(stderr, "--- %d x %d array of a %d-rectangle leaf, margin 100 nm:\n", n, n,
               kRectangles);
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);)
    if (line.find("count") != std::string::npos || line.find("ratio") != std::string::npos ||
        line.find("generated") != std::string::npos)
      std::fprintf(stderr, "%s\n", line.c_str());
  std::filesystem::remove_all(work);
  std::filesystem::remove_all(source);
}
BENCHMARK(BM_HierarchyHandlingArray)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
