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

#include "formats/gds_reader.h"
#include "formats/gds_records.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

constexpr int kStructures = 2;
constexpr int kRectanglesPerStructure = 100000;

std::string ScratchDir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/velmar_gds_bench_XXXXXX";
    if (!::mkdtemp(templ)) std::abort();
    return std::string(templ);
  }();
  return dir;
}

// Writes the test file with the system's own record layer; returns its
// uncompressed size.
int64_t WriteFile(const std::string& path, bool gzip) {
  GdsRecordWriter w;
  w.output.path = path;
  w.output.write = true;
  w.output.gzip = gzip;
  if (!w.output.Open()) std::abort();
  auto int16 = [&](uint8_t type, int16_t v) {
    w.WriteRecordHeader(2, GdsData::Int16, type);
    w.output.PutInt16Swapped(v);
  };
  auto name = [&](uint8_t type, const char* s) {
    w.WriteRecordHeader(std::strlen(s), GdsData::Ascii, type);
    w.WriteString(s);
  };
  auto dates = [&](uint8_t type) {
    w.WriteRecordHeader(24, GdsData::Int16, type);
    w.WriteDates();
  };
  int16(GdsRecord::Header, 600);
  dates(GdsRecord::BgnLib);
  name(GdsRecord::LibName, "BENCH");
  w.WriteRecordHeader(16, GdsData::Real8, GdsRecord::Units);
  w.WriteReal(0.001);
  w.WriteReal(1e-9);
  uint32_t seed = 12345;
  for (int s = 0; s < kStructures; ++s) {
    dates(GdsRecord::BgnStr);
    name(GdsRecord::StrName, s == 0 ? "RECTS0" : "RECTS1");
    for (int i = 0; i < kRectanglesPerStructure; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int32_t x = int32_t(seed % 150000), y = int32_t((seed >> 7) % 150000);
      const int32_t w2 = 50 + int32_t(seed % 400), h2 = 50 + int32_t((seed >> 3) % 400);
      w.WriteRecordHeader(0, GdsData::None, GdsRecord::Boundary);
      int16(GdsRecord::Layer, int16_t(1 + i % 4));
      int16(GdsRecord::Datatype, 0);
      w.WriteRecordHeader(40, GdsData::Int32, GdsRecord::XY);
      const int32_t xy[10] = {x, y, x + w2, y, x + w2, y + h2, x, y + h2, x, y};
      for (int32_t v : xy) w.output.PutInt32Swapped(v);
      w.WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
    }
    w.WriteRecordHeader(0, GdsData::None, GdsRecord::EndStr);
  }
  w.WriteRecordHeader(0, GdsData::None, GdsRecord::EndLib);
  const int64_t size = w.output.Tell();
  w.output.Close();
  return size;
}

void ReadGds(benchmark::State& state, bool gzip) {
  const std::string path = ScratchDir() + (gzip ? "/in.gds.gz" : "/in.gds");
  const int64_t size = WriteFile(path, gzip);
  int run = 0;
  for (auto _ : state) {
    const std::string dir = ScratchDir() + "/lib" + std::to_string(run++);
    std::filesystem::create_directory(dir);
    // The reader's messages go to standard output; keep them out of the
    // benchmark report.
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    {
      LibDB lib(dir.c_str(), 0);
      GdsReader reader(path, gzip);
      lib.writeDb = 1;
      lib.openDb = 1;
      lib.dbStream.path = dir + "/db1";
      lib.dbStream.write = true;
      if (!lib.dbStream.Open()) std::abort();
      reader.Read(&lib);
    }
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(null);
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
