#include "support/gds_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "formats/gds_records.h"

namespace velmar::test {

void GdsBuilder::Put16(uint16_t v) {
  bytes_.push_back(uint8_t(v >> 8));
  bytes_.push_back(uint8_t(v));
}

void GdsBuilder::Put32(uint32_t v) {
  Put16(uint16_t(v >> 16));
  Put16(uint16_t(v));
}

GdsBuilder& GdsBuilder::RecordWithLength(uint16_t length, uint8_t type,
                                         uint8_t dataType,
                                         const std::vector<uint8_t>& payload) {
  Put16(length);
  bytes_.push_back(type);
  bytes_.push_back(dataType);
  bytes_.insert(bytes_.end(), payload.begin(), payload.end());
  return *this;
}

GdsBuilder& GdsBuilder::Record(uint8_t type, uint8_t dataType,
                               const std::vector<uint8_t>& payload) {
  if (payload.size() + 4 > 0xffff) throw std::runtime_error("record too long");
  return RecordWithLength(uint16_t(payload.size() + 4), type, dataType,
                          payload);
}

GdsBuilder& GdsBuilder::Raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

GdsBuilder& GdsBuilder::Int16s(uint8_t type,
                               std::initializer_list<int16_t> values) {
  std::vector<uint8_t> p;
  for (int16_t v : values) {
    p.push_back(uint8_t(uint16_t(v) >> 8));
    p.push_back(uint8_t(v));
  }
  return Record(type, GdsData::Int16, p);
}

GdsBuilder& GdsBuilder::Int32s(uint8_t type,
                               std::initializer_list<int32_t> values) {
  std::vector<uint8_t> p;
  for (int32_t v : values) {
    const uint32_t u = uint32_t(v);
    p.push_back(uint8_t(u >> 24));
    p.push_back(uint8_t(u >> 16));
    p.push_back(uint8_t(u >> 8));
    p.push_back(uint8_t(u));
  }
  return Record(type, GdsData::Int32, p);
}

GdsBuilder& GdsBuilder::Reals(uint8_t type,
                              std::initializer_list<double> values) {
  std::vector<uint8_t> p;
  for (double v : values) {
    uint8_t b[8];
    DoubleToGdsReal(v, b);
    p.insert(p.end(), b, b + 8);
  }
  return Record(type, GdsData::Real8, p);
}

GdsBuilder& GdsBuilder::String(uint8_t type, std::string_view s, bool pad) {
  std::vector<uint8_t> p(s.begin(), s.end());
  if (pad && (p.size() & 1)) p.push_back(0);
  return Record(type, GdsData::Ascii, p);
}

GdsBuilder& GdsBuilder::Xy(const std::vector<Point>& points) {
  std::vector<uint8_t> p;
  p.reserve(points.size() * 8);
  for (const Point& pt : points) {
    for (int32_t v : {pt.x, pt.y}) {
      const uint32_t u = uint32_t(v);
      p.push_back(uint8_t(u >> 24));
      p.push_back(uint8_t(u >> 16));
      p.push_back(uint8_t(u >> 8));
      p.push_back(uint8_t(u));
    }
  }
  return Record(GdsRecord::XY, GdsData::Int32, p);
}

GdsBuilder& GdsBuilder::Strans(const GdsStrans& strans) {
  if (!strans.Present()) return *this;
  // A bit array: other readers refuse STRANS of another data type.
  Record(GdsRecord::Strans, GdsData::BitArray, {uint8_t(strans.reflect ? 0x80 : 0), 0});
  if (strans.mag) Reals(GdsRecord::Mag, {*strans.mag});
  if (strans.angle) Reals(GdsRecord::Angle, {*strans.angle});
  return *this;
}

GdsBuilder& GdsBuilder::BeginLib(std::string_view name, double userUnit,
                                 double metersPerUnit) {
  Int16s(GdsRecord::Header, {600});
  Int16s(GdsRecord::BgnLib, {2024, 1, 2, 3, 4, 5, 2024, 1, 2, 3, 4, 5});
  String(GdsRecord::LibName, name);
  return Reals(GdsRecord::Units, {userUnit, metersPerUnit});
}

GdsBuilder& GdsBuilder::EndLib() { return Record(GdsRecord::EndLib, 0); }

GdsBuilder& GdsBuilder::BeginStr(std::string_view name) {
  Int16s(GdsRecord::BgnStr, {2024, 1, 2, 3, 4, 5, 2024, 1, 2, 3, 4, 5});
  return String(GdsRecord::StrName, name);
}

GdsBuilder& GdsBuilder::EndStr() { return Record(GdsRecord::EndStr, 0); }

GdsBuilder& GdsBuilder::Boundary(int16_t layer, int16_t datatype,
                                 const std::vector<Point>& points,
                                 bool close) {
  Record(GdsRecord::Boundary, 0);
  Int16s(GdsRecord::Layer, {layer});
  Int16s(GdsRecord::Datatype, {datatype});
  std::vector<Point> pts = points;
  if (close && !pts.empty()) pts.push_back(pts.front());
  Xy(pts);
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::Rect(int16_t layer, int16_t datatype, int32_t x1,
                             int32_t y1, int32_t x2, int32_t y2) {
  return Boundary(layer, datatype, {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}});
}

GdsBuilder& GdsBuilder::Path(int16_t layer, int16_t datatype,
                             const std::vector<Point>& points, int32_t width,
                             std::optional<int16_t> pathType,
                             std::optional<int32_t> bgnExtn,
                             std::optional<int32_t> endExtn) {
  Record(GdsRecord::Path, 0);
  Int16s(GdsRecord::Layer, {layer});
  Int16s(GdsRecord::Datatype, {datatype});
  if (pathType) Int16s(GdsRecord::PathType, {*pathType});
  Int32s(GdsRecord::Width, {width});
  if (bgnExtn) Int32s(GdsRecord::BgnExtn, {*bgnExtn});
  if (endExtn) Int32s(GdsRecord::EndExtn, {*endExtn});
  Xy(points);
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::SRef(std::string_view name, Point at,
                             const GdsStrans& strans) {
  Record(GdsRecord::SRef, 0);
  String(GdsRecord::SName, name);
  Strans(strans);
  Xy({at});
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::ARef(std::string_view name, int16_t columns,
                             int16_t rows, Point p0, Point p1, Point p2,
                             const GdsStrans& strans) {
  Record(GdsRecord::ARef, 0);
  String(GdsRecord::SName, name);
  Strans(strans);
  Int16s(GdsRecord::ColRow, {columns, rows});
  Xy({p0, p1, p2});
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::Text(int16_t layer, int16_t textType, Point at,
                             std::string_view text, const GdsStrans& strans) {
  Record(GdsRecord::Text, 0);
  Int16s(GdsRecord::Layer, {layer});
  Int16s(GdsRecord::TextType, {textType});
  Strans(strans);
  Xy({at});
  String(GdsRecord::String, text);
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::Node(int16_t layer, int16_t nodeType,
                             const std::vector<Point>& points) {
  Record(GdsRecord::Node, 0);
  Int16s(GdsRecord::Layer, {layer});
  Int16s(GdsRecord::NodeType, {nodeType});
  Xy(points);
  return Record(GdsRecord::EndEl, 0);
}

GdsBuilder& GdsBuilder::Box(int16_t layer, int16_t boxType, int32_t x1,
                            int32_t y1, int32_t x2, int32_t y2) {
  Record(GdsRecord::Box, 0);
  Int16s(GdsRecord::Layer, {layer});
  Int16s(GdsRecord::BoxType, {boxType});
  Xy({{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}});
  return Record(GdsRecord::EndEl, 0);
}

void GdsBuilder::WriteFile(const std::string& path, bool gzip) const {
  WriteBytes(path, bytes_, gzip);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                bool gzip) {
  if (gzip) {
    gzFile f = gzopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < bytes.size()) {
      const unsigned n = unsigned(std::min<size_t>(bytes.size() - done, 1u << 20));
      if (gzwrite(f, bytes.data() + done, n) != int(n)) {
        gzclose(f);
        throw std::runtime_error("cannot write " + path);
      }
      done += n;
    }
    if (gzclose(f) != Z_OK) throw std::runtime_error("cannot close " + path);
    return;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  const bool ok = bytes.empty() ||
                  std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}


int16_t GdsRecordBytes::Int16(size_t i) const {
  if (2 * i + 2 > payload.size()) throw std::runtime_error("int16 past the payload");
  return int16_t(uint16_t(payload[2 * i] << 8 | payload[2 * i + 1]));
}

int32_t GdsRecordBytes::Int32(size_t i) const {
  if (4 * i + 4 > payload.size()) throw std::runtime_error("int32 past the payload");
  uint32_t v = 0;
  for (size_t k = 0; k < 4; ++k) v = v << 8 | payload[4 * i + k];
  return int32_t(v);
}

double GdsRecordBytes::Real(size_t i) const {
  if (8 * i + 8 > payload.size()) throw std::runtime_error("real past the payload");
  // Sign, excess-64 power of 16, 56-bit fraction.
  const uint8_t* b = payload.data() + 8 * i;
  uint64_t fraction = 0;
  for (int k = 1; k < 8; ++k) fraction = fraction << 8 | b[k];
  const double v = std::ldexp(double(fraction), 4 * ((b[0] & 0x7f) - 64) - 56);
  return (b[0] & 0x80) ? -v : v;
}

std::string GdsRecordBytes::String() const {
  std::string s(payload.begin(), payload.end());
  const size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

std::vector<GdsRecordBytes> ParseGdsRecords(const std::vector<uint8_t>& bytes) {
  std::vector<GdsRecordBytes> records;
  size_t at = 0;
  while (at < bytes.size()) {
    if (at + 4 > bytes.size()) throw std::runtime_error("record header cut off");
    GdsRecordBytes r;
    r.length = uint16_t(bytes[at] << 8 | bytes[at + 1]);
    r.type = bytes[at + 2];
    r.dataType = bytes[at + 3];
    if (r.length < 4 || at + r.length > bytes.size())
      throw std::runtime_error("record length out of range");
    r.payload.assign(bytes.begin() + long(at) + 4, bytes.begin() + long(at) + r.length);
    records.push_back(std::move(r));
    at += records.back().length;
  }
  return records;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");  // reads plain files as they are
  if (!f) throw std::runtime_error("cannot open " + path);
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  gzclose(f);
  if (n < 0) throw std::runtime_error("cannot read " + path);
  return bytes;
}

}  // namespace velmar::test
