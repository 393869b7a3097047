// Ring builders, a polygon-record reader and file helpers for the tests of
// encoded polygons and shape lists.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "geometry/point_system.h"
#include "layoutdb/db_polygon.h"
#include "support/ring_builders.h"

namespace velmar::shape_test {

using ring_test::AppendRing;
using ring_test::BoxOf;
using ring_test::Moved;
using ring_test::Ring;

// Coordinates of the ring through p, following next.
inline Ring RingFrom(const PSPoint* p) {
  Ring out;
  const PSPoint* q = p;
  do {
    out.push_back(Point(q->x, q->y));
    q = q->next;
  } while (q != nullptr && q != p);
  return out;
}

// The ring rotated to start at its first occurrence of start.
inline Ring StartingAt(const Ring& r, const Point& start) {
  size_t i = 0;
  while (i < r.size() && !(r[i] == start)) ++i;
  Ring out;
  for (size_t k = 0; k < r.size(); ++k) out.push_back(r[(i + k) % r.size()]);
  return out;
}

// A scratch file in the test temporary directory.
// Scratch file of this test process (test processes run in parallel).
inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "velmar_l2_" + std::to_string(::getpid()) +
         "_" + name;
}

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Writes through a plain BinaryStream; write(stream) puts the data.
template <class Fn>
std::vector<uint8_t> WriteBytes(const std::string& name, Fn write) {
  const std::string path = TempPath(name);
  BinaryStream out;
  out.path = path;
  out.write = true;
  out.unit = "LIBOUT";
  EXPECT_TRUE(out.Open());
  write(out);
  out.Close();
  return FileBytes(path);
}

// Opens a plain stream on path for reading.
inline void OpenForReading(BinaryStream& in, const std::string& path) {
  in.path = path;
  in.write = false;
  ASSERT_TRUE(in.Open());
}

// Reads one polygon record as the cell data reader does: the header, the
// code words the header calls for, then as many values as the header and
// codes call for.
inline std::unique_ptr<DBPolygon> ReadPolygonRecord(BinaryStream& in) {
  int32_t header = 0;
  if (!in.GetInt32(header)) return nullptr;
  std::unique_ptr<DBPolygon> p = DBPolygon::New(uint32_t(header));
  const int32_t words = DBPolygon::CodeWordCount(uint32_t(header));
  if (words > 0) {
    auto* ext = dynamic_cast<DBPolygonExt*>(p.get());
    if (ext == nullptr) return nullptr;
    for (int32_t i = 0; i < words; ++i) {
      int32_t w = 0;
      if (!in.GetInt32(w)) return nullptr;
      ext->codeBits[i] = uint32_t(w);
    }
  }
  const int32_t count = p->CountValues();
  for (int32_t i = 0; i < count; ++i) p->values.push_back(in.GetSignedChained());
  return p;
}

}  // namespace velmar::shape_test
