// Helpers of the benchmarks that read generated GDSII files: a scratch
// folder per process, a small writer of libraries of rectangles on the
// system's own record layer (database unit 1 nm, user unit 1 um), and the
// read into a new library.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/gds_reader.h"
#include "formats/gds_records.h"
#include "layoutdb/lib_db.h"

namespace velmar::bench {

// A folder under /tmp made once per process, named after stem.
inline std::string ScratchDir(const char* stem) {
  static const std::string dir = [stem] {
    std::string templ = std::string("/tmp/") + stem + "_XXXXXX";
    if (!::mkdtemp(templ.data())) std::abort();
    return templ;
  }();
  return dir;
}

class GdsRectangleWriter {
 public:
  // Opens path (gzip-compressed with gzip set) and writes the library
  // header, dates, name and units.
  GdsRectangleWriter(const std::string& path, bool gzip, const char* library) {
    w_.output.path = path;
    w_.output.write = true;
    w_.output.gzip = gzip;
    if (!w_.output.Open()) std::abort();
    Int16(GdsRecord::Header, 600);
    Dates(GdsRecord::BgnLib);
    Name(GdsRecord::LibName, library);
    w_.WriteRecordHeader(16, GdsData::Real8, GdsRecord::Units);
    w_.WriteReal(0.001);
    w_.WriteReal(1e-9);
  }

  void BeginStructure(const char* name) {
    Dates(GdsRecord::BgnStr);
    Name(GdsRecord::StrName, name);
  }
  void EndStructure() { w_.WriteRecordHeader(0, GdsData::None, GdsRecord::EndStr); }

  // A BOUNDARY of datatype 0 on layer: the rectangle (x1, y1)-(x2, y2).
  void Rectangle(int16_t layer, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    w_.WriteRecordHeader(0, GdsData::None, GdsRecord::Boundary);
    Int16(GdsRecord::Layer, layer);
    Int16(GdsRecord::Datatype, 0);
    w_.WriteRecordHeader(40, GdsData::Int32, GdsRecord::XY);
    const int32_t xy[10] = {x1, y1, x2, y1, x2, y2, x1, y2, x1, y1};
    for (int32_t v : xy) w_.output.PutInt32Swapped(v);
    w_.WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
  }

  // Ends the library and closes the file; returns its uncompressed size.
  int64_t Finish() {
    w_.WriteRecordHeader(0, GdsData::None, GdsRecord::EndLib);
    const int64_t size = w_.output.Tell();
    w_.output.Close();
    return size;
  }

 private:
  void Int16(uint8_t type, int16_t v) {
    w_.WriteRecordHeader(2, GdsData::Int16, type);
    w_.output.PutInt16Swapped(v);
  }
  void Name(uint8_t type, const char* s) {
    w_.WriteRecordHeader(std::strlen(s), GdsData::Ascii, type);
    w_.WriteString(s);
  }
  void Dates(uint8_t type) {
    w_.WriteRecordHeader(24, GdsData::Int16, type);
    w_.WriteDates();
  }

  GdsRecordWriter w_;
};

// The layout the read benchmarks share: two structures RECTS0 and RECTS1 of
// 100,000 pseudo-random rectangles each on layers 1 to 4, written to path
// (gzip-compressed with gzip set). Returns its uncompressed size.
inline int64_t WriteRectangleLayout(const std::string& path, bool gzip) {
  constexpr int kStructures = 2;
  constexpr int kRectanglesPerStructure = 100000;
  GdsRectangleWriter w(path, gzip, "BENCH");
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

// Runs f with standard output sent to /dev/null: the readers' messages would
// mix with the benchmark report.
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

// Reads the GDSII file at path into a new library in the existing folder
// dir, as LoadGds does, with the reader's messages kept off standard output.
// Returns the library's number of cells.
inline int32_t ReadIntoNewLibrary(const std::string& path, bool gzip,
                                  const std::string& dir) {
  int32_t cells = 0;
  Quietly([&] {
    LibDB lib(dir.c_str(), 0);
    GdsReader reader(path, gzip);
    lib.writeDb = 1;
    lib.openDb = 1;
    lib.dbStream.path = dir + "/db1";
    lib.dbStream.write = true;
    if (!lib.dbStream.Open()) std::abort();
    reader.Read(&lib);
    cells = int32_t(lib.cells.size());
  });
  return cells;
}

}  // namespace velmar::bench
