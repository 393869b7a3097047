// stream_convert IN OUT...: loads a layout (".gds", ".gds.gz" through
// API::LoadGds, ".oas" through API::LoadOasis) into a new library in a
// temporary directory, then writes each OUT by its extension (".gds" and
// ".gds.gz", gzip-compressed, through API::WriteGds; ".oas" through
// API::WriteOasis). Prints the time and throughput of every step; exits
// with status 1 on any failure.

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "command/api.h"

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

double FileMegabytes(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? double(st.st_size) / 1e6 : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s IN OUT...\n", argv[0]);
    return 2;
  }
  const std::string in = argv[1];
  auto known = [](const std::string& name) {
    return EndsWith(name, ".gds") || EndsWith(name, ".gds.gz") || EndsWith(name, ".oas");
  };
  for (int i = 1; i < argc; ++i) {
    if (!known(argv[i])) {
      std::fprintf(stderr, "%s: a layout name must end in .gds, .gds.gz or .oas\n", argv[i]);
      return 1;
    }
  }
  char dirTemplate[] = "/tmp/stream_convert_XXXXXX";
  if (::mkdtemp(dirTemplate) == nullptr) {
    std::fprintf(stderr, "cannot make a temporary directory\n");
    return 1;
  }
  const std::string dir = dirTemplate;
  int status = 0;
  std::string report;
  {
    velmar::API api;
    api.OpenLibrary(dir.c_str(), 0);
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    const int loaded = EndsWith(in, ".oas")
                           ? api.LoadOasis(in.c_str(), "")
                           : api.LoadGds(in.c_str(), EndsWith(in, ".gz") ? 1 : 0, "");
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    char line[512];
    std::snprintf(line, sizeof line, "load  %s: %.3f s, %.1f MB/s\n", in.c_str(), s,
                  FileMegabytes(in) / s);
    report += line;
    if (loaded != 1) status = 1;
    for (int i = 2; status == 0 && i < argc; ++i) {
      const std::string out = argv[i];
      t0 = Clock::now();
      const int written = EndsWith(out, ".oas")
                              ? api.WriteOasis(out.c_str())
                              : api.WriteGds(out.c_str(), EndsWith(out, ".gz") ? 1 : 0);
      s = std::chrono::duration<double>(Clock::now() - t0).count();
      std::snprintf(line, sizeof line, "write %s: %.3f s, %.1f MB/s (%.1f MB)\n", out.c_str(),
                    s, FileMegabytes(out) / s, FileMegabytes(out));
      report += line;
      if (written != 1) status = 1;
    }
    api.CloseLibraries();
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::fputs(report.c_str(), stdout);
  if (status != 0) std::fputs("stream_convert: FAILED\n", stdout);
  return status;
}
