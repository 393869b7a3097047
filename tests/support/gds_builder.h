// Test fixtures for GDSII input: a small record-by-record GDSII writer that
// builds files in memory (including deliberately malformed ones); the
// scratch directory (TempDir) comes from support/temp_dir.h.
//
// The builder writes the published record layout directly (big-endian
// lengths and values, strings padded with one NUL to an even length, 8-byte
// reals through DoubleToGdsReal), independently of the system's own writer,
// so that reader tests do not depend on it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/box.h"
#include "support/temp_dir.h"

namespace velmar::test {

// Optional STRANS of a reference or text: the record is written when any of
// reflect, mag or angle is given.
struct GdsStrans {
  bool reflect = false;
  std::optional<double> mag;
  std::optional<double> angle;
  bool Present() const { return reflect || mag || angle; }
};

class GdsBuilder {
 public:
  // --- Raw records ------------------------------------------------------------
  // A record with the given payload; the length is 4 + payload size (no
  // padding is added).
  GdsBuilder& Record(uint8_t type, uint8_t dataType,
                     const std::vector<uint8_t>& payload = {});
  // A header with an explicit length field (may be wrong on purpose),
  // followed by payload.
  GdsBuilder& RecordWithLength(uint16_t length, uint8_t type, uint8_t dataType,
                               const std::vector<uint8_t>& payload = {});
  // Bytes appended as they are.
  GdsBuilder& Raw(const std::vector<uint8_t>& bytes);
  GdsBuilder& Int16s(uint8_t type, std::initializer_list<int16_t> values);
  GdsBuilder& Int32s(uint8_t type, std::initializer_list<int32_t> values);
  GdsBuilder& Reals(uint8_t type, std::initializer_list<double> values);
  // String record; pad adds the NUL that evens an odd length.
  GdsBuilder& String(uint8_t type, std::string_view s, bool pad = true);
  GdsBuilder& Xy(const std::vector<Point>& points);
  GdsBuilder& Strans(const GdsStrans& strans);

  // --- Library frame ----------------------------------------------------------
  // HEADER (600), BGNLIB, LIBNAME, UNITS.
  GdsBuilder& BeginLib(std::string_view name = "LIB", double userUnit = 0.001,
                       double metersPerUnit = 1e-9);
  GdsBuilder& EndLib();
  // BGNSTR with dates, STRNAME.
  GdsBuilder& BeginStr(std::string_view name);
  GdsBuilder& EndStr();

  // --- Elements (ENDEL included) ------------------------------------------------
  // BOUNDARY; with close the first point is repeated at the end.
  GdsBuilder& Boundary(int16_t layer, int16_t datatype,
                       const std::vector<Point>& points, bool close = true);
  GdsBuilder& Rect(int16_t layer, int16_t datatype, int32_t x1, int32_t y1,
                   int32_t x2, int32_t y2);
  // PATH; pathType, bgnExtn and endExtn are written only when given.
  GdsBuilder& Path(int16_t layer, int16_t datatype,
                   const std::vector<Point>& points, int32_t width,
                   std::optional<int16_t> pathType = std::nullopt,
                   std::optional<int32_t> bgnExtn = std::nullopt,
                   std::optional<int32_t> endExtn = std::nullopt);
  GdsBuilder& SRef(std::string_view name, Point at,
                   const GdsStrans& strans = {});
  // AREF with the three points as given (P0 origin, P1 past the last
  // column, P2 past the last row).
  GdsBuilder& ARef(std::string_view name, int16_t columns, int16_t rows,
                   Point p0, Point p1, Point p2, const GdsStrans& strans = {});
  GdsBuilder& Text(int16_t layer, int16_t textType, Point at,
                   std::string_view text, const GdsStrans& strans = {});
  GdsBuilder& Node(int16_t layer, int16_t nodeType,
                   const std::vector<Point>& points);
  GdsBuilder& Box(int16_t layer, int16_t boxType, int32_t x1, int32_t y1,
                  int32_t x2, int32_t y2);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t Size() const { return bytes_.size(); }
  // Writes the bytes to path, plain or gzip-compressed; throws
  // std::runtime_error on failure.
  void WriteFile(const std::string& path, bool gzip = false) const;

 private:
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  std::vector<uint8_t> bytes_;
};

// Writes bytes to path (plain or gzip); throws std::runtime_error on failure.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                bool gzip = false);

// One record of a GDSII file as it stands in the bytes.
struct GdsRecordBytes {
  uint16_t length = 0;  // the length field, header included
  uint8_t type = 0;
  uint8_t dataType = 0;
  std::vector<uint8_t> payload;
  // Big-endian values of the payload.
  int16_t Int16(size_t i) const;
  int32_t Int32(size_t i) const;
  double Real(size_t i) const;  // the i-th 8-byte real
  std::string String() const;   // up to the first NUL
};

// Splits GDSII bytes into records by their length fields, independently of
// the system's reader; throws std::runtime_error for a record that runs
// past the end or has a length below 4.
std::vector<GdsRecordBytes> ParseGdsRecords(const std::vector<uint8_t>& bytes);
// Reads a file, plain or gzip-compressed (by its ".gz" ending).
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace velmar::test
