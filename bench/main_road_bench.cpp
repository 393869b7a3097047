// The main road of a mask-data run, timed step by step: a flat GDSII layout
// of N + N random rectangles (sides 100 to 5000 units in a 2,000,000-unit
// square, layers {1 0} and {2 0}, one top cell) is written, loaded into a
// new library with LoadGds, and over the whole top cell AND, OR and XOR of
// the two layers and the merge of {1 0} (OR1) each run into a temporary
// layer that SavePoly then writes to a polygon text file.
//
//   main_road_bench [N ...] [-dir FOLDER]
//
// N defaults to 100000 and 1000000. For every step the program prints the
// wall and CPU seconds, the peak resident memory during the step (VmHWM,
// reset before each step through /proc/self/clear_refs) and the resident
// memory after it; for LoadGds the read speed in MB/s, for the operations
// the output vertex count, for SavePoly the share of the operation's time
// and a hash of the written file. The load average before and after each
// size is printed too: on a busy machine read the CPU seconds. velmar's own
// messages go to road.log in the work folder (a temporary folder, removed
// at the end, unless -dir names one).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "command/api.h"
#include "geometry/point_system.h"

namespace {

namespace fs = std::filesystem;

FILE* report = stdout;  // the table; velmar's messages go to the log

// --- GDSII writer for the flat layout -----------------------------------------

void Put16(std::string& b, int v) {
  b.push_back(char((v >> 8) & 0xFF));
  b.push_back(char(v & 0xFF));
}
void Put32(std::string& b, int32_t v) {
  const uint32_t u = uint32_t(v);
  for (int s = 24; s >= 0; s -= 8) b.push_back(char((u >> s) & 0xFF));
}
void Record(std::string& b, int type, int datatype, int payload) {
  Put16(b, payload + 4);
  b.push_back(char(type));
  b.push_back(char(datatype));
}
void Text(std::string& b, int type, const char* s) {
  const size_t n = std::strlen(s);
  Record(b, type, 6, int(n + n % 2));
  b.append(s, n);
  if (n % 2) b.push_back('\0');
}
void Dates(std::string& b, int type) {
  Record(b, type, 2, 24);
  for (int v : {2024, 1, 1, 0, 0, 0, 2024, 1, 1, 0, 0, 0}) Put16(b, v);
}
// GDSII 8-byte real of a positive value.
void Real8(std::string& b, double v) {
  int e = 0;
  while (v >= 1.0) { v /= 16.0; ++e; }
  while (v < 0.0625) { v *= 16.0; --e; }
  uint64_t m = uint64_t(v * 72057594037927936.0 + 0.5);
  const uint64_t bits = (uint64_t(e + 64) << 56) | m;
  for (int s = 56; s >= 0; s -= 8) b.push_back(char((bits >> s) & 0xFF));
}

// Writes the layout and returns its size in bytes.
int64_t WriteLayout(const std::string& path, int count) {
  std::mt19937_64 rng(0x5eed2024);
  std::uniform_int_distribution<int32_t> side(100, 5000);
  std::uniform_int_distribution<int32_t> pos(0, 2000000);
  std::string b;
  b.reserve(size_t(count) * 2 * 64 + 256);
  Record(b, 0x00, 2, 2);
  Put16(b, 600);
  Dates(b, 0x01);
  Text(b, 0x02, "ROAD");
  Record(b, 0x03, 5, 16);
  Real8(b, 0.001);
  Real8(b, 1e-9);
  Dates(b, 0x05);
  Text(b, 0x06, "top");
  for (int layer = 1; layer <= 2; ++layer) {
    for (int i = 0; i < count; ++i) {
      const int32_t w = side(rng), h = side(rng);
      const int32_t x = pos(rng) % (2000000 - w), y = pos(rng) % (2000000 - h);
      Record(b, 0x08, 0, 0);
      Record(b, 0x0D, 2, 2);
      Put16(b, layer);
      Record(b, 0x0E, 2, 2);
      Put16(b, 0);
      Record(b, 0x10, 3, 40);
      for (int32_t v : {x, y, x + w, y, x + w, y + h, x, y + h, x, y}) Put32(b, v);
      Record(b, 0x11, 0, 0);
    }
  }
  Record(b, 0x07, 0, 0);
  Record(b, 0x04, 0, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return int64_t(b.size());
}

// --- Measuring -----------------------------------------------------------------

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// A field of /proc/self/status in kB ("VmHWM", "VmRSS").
long StatusKb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long v = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      v = std::strtol(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return v;
}

// Resets the peak resident size to the current one.
void ResetPeak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
}

std::string LoadAverage() {
  FILE* f = std::fopen("/proc/loadavg", "r");
  char buf[128] = "?";
  if (f) {
    if (!std::fgets(buf, sizeof buf, f)) buf[0] = 0;
    std::fclose(f);
  }
  std::string s(buf);
  while (!s.empty() && (s.back() == '\n')) s.pop_back();
  return s;
}

// FNV-1a hash of a file's bytes: equal hashes across builds show that a
// change of the storing path left the written files as they were.
uint64_t FileHash(const std::string& path) {
  uint64_t h = 1469598103934665603ull;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::vector<unsigned char> buf(1 << 20);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
    for (size_t i = 0; i < n; ++i) h = (h ^ buf[i]) * 1099511628211ull;
  std::fclose(f);
  return h;
}

struct Step {
  double wall = 0, cpu = 0;
  long peakMb = 0, rssMb = 0;
};

template <class F>
Step Measure(F&& f) {
  std::fflush(stdout);
  ResetPeak();
  const double c0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const auto t1 = std::chrono::steady_clock::now();
  Step s;
  s.cpu = CpuSeconds() - c0;
  s.wall = std::chrono::duration<double>(t1 - t0).count();
  std::fflush(stdout);
  s.peakMb = StatusKb("VmHWM") / 1024;
  s.rssMb = StatusKb("VmRSS") / 1024;
  return s;
}

void Row(const char* name, const Step& s, const std::string& extra) {
  std::fprintf(report, "  %-22s %8.3f s wall %8.3f s cpu %7ld MB peak %7ld MB after  %s\n",
               name, s.wall, s.cpu, s.peakMb, s.rssMb, extra.c_str());
  std::fflush(report);
}

void RunSize(const fs::path& work, int count) {
  std::string name = std::to_string(count);
  name.insert(0, 1, 'n');
  const fs::path dir = work / name;
  fs::create_directories(dir / "lib");
  const std::string gds = (dir / "layout.gds").string();
  const int64_t bytes = WriteLayout(gds, count);
  std::fprintf(report, "%d + %d rectangles, %.1f MB GDSII; load average before: %s\n",
               count, count, double(bytes) / 1e6, LoadAverage().c_str());

  velmar::API api;
  int ok = 0;
  Step load = Measure([&] {
    ok = api.OpenLibrary((dir / "lib").string().c_str(), 0);
    if (ok) ok = api.LoadGds(gds.c_str(), 0, "");
  });
  if (!ok) {
    std::fprintf(report, "  LoadGds failed (see road.log)\n");
    return;
  }
  char extra[128];
  std::snprintf(extra, sizeof extra, "%.1f MB/s", double(bytes) / 1e6 / load.wall);
  Row("LoadGds", load, extra);
  if (!api.SetArea("top", 0, 0, 0, 0)) {
    std::fprintf(report, "  SetArea failed (see road.log)\n");
    return;
  }

  struct Op {
    const char* name;
    velmar::BooleanOpCode code;
    int layer2;
  };
  using Code = velmar::BooleanOpCode;
  const Op ops[] = {{"AND {1 0} {2 0}", Code::And, 2},
                    {"OR {1 0} {2 0}", Code::Or, 2},
                    {"XOR {1 0} {2 0}", Code::Xor, 2},
                    {"merge {1 0} (OR1)", Code::Merge, -1}};
  for (const Op& op : ops) {
    int layer = 0;
    const Step s = Measure([&] { layer = api.BooleanOp(op.code, 1, 0, op.layer2, 0); });
    const int32_t vertices = api.RequireTempLayer(layer).pointCount;
    std::snprintf(extra, sizeof extra, "%d output vertices", vertices);
    Row(op.name, s, extra);
    const std::string poly = (dir / "result.txt").string();
    int saved = 0;
    const Step sp = Measure([&] { saved = api.SavePoly(layer, 0, poly.c_str()); });
    std::snprintf(extra, sizeof extra,
                  "%s, %.0f%% of the operation, %.1f MB written, hash %016llx",
                  saved ? "written" : "FAILED", 100.0 * sp.wall / s.wall,
                  double(fs::file_size(poly)) / 1e6,
                  static_cast<unsigned long long>(FileHash(poly)));
    Row("  SavePoly", sp, extra);
    fs::remove(poly);
    api.ResetCounts();  // SavePoly writes a new file, not appends
    api.ResetTempLayers();
  }
  api.CloseLibraries();
  std::fprintf(report, "  load average after: %s\n", LoadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  fs::path work;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-dir") == 0 && i + 1 < argc)
      work = argv[++i];
    else
      counts.push_back(std::atoi(argv[i]));
  }
  if (counts.empty()) counts = {100000, 1000000};
  const bool temporary = work.empty();
  if (temporary) {
    char tmpl[] = "/tmp/velmar_road_XXXXXX";
    if (!mkdtemp(tmpl)) {
      std::perror("mkdtemp");
      return 1;
    }
    work = tmpl;
  }
  fs::create_directories(work);
  // The table goes to the original standard output; velmar prints its
  // messages to standard output as well, so that is sent to the log.
  const int saved = dup(1);
  report = fdopen(saved, "w");
  const std::string log = (work / "road.log").string();
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || dup2(fd, 1) < 0) {
    std::perror("road.log");
    return 1;
  }
  close(fd);
  std::fprintf(report, "work folder %s (%u cores)\n", work.c_str(),
               std::thread::hardware_concurrency());
  for (int n : counts) RunSize(work, n);
  if (temporary) fs::remove_all(work);
  return 0;
}
