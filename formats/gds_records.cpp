#include "formats/gds_records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "formats/stream_read_end.h"
#include "foundation/error.h"

namespace velmar {

namespace {

constexpr const char* kInUnit = "GDSIN";
constexpr const char* kOutUnit = "GDSOUT";

[[noreturn]] void ThrowIn(const char* message) { throw Error(message, kInUnit); }

}  // namespace

// --- Reals --------------------------------------------------------------------

double GdsRealToDouble(const uint8_t bytes[8]) {
  const int e = 4 * (int(bytes[0] & 0x7f) - 64);
  const uint32_t h = (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
                     uint32_t(bytes[3]);
  const uint32_t l = (uint32_t(bytes[4]) << 24) | (uint32_t(bytes[5]) << 16) |
                     (uint32_t(bytes[6]) << 8) | uint32_t(bytes[7]);
  // Both terms are exact; their sum is rounded once.
  double value = 0.0;
  if (h != 0) value += std::ldexp(double(h), e - 24);
  if (l != 0) value += std::ldexp(double(l), e - 56);
  return (bytes[0] & 0x80) ? -value : value;
}

void DoubleToGdsReal(double value, uint8_t bytes[8]) {
  if (!std::isfinite(value)) {
    throw Error("Real value is not finite", kOutUnit);
  }
  double m = std::fabs(value);
  if (m <= 2.220446049250313e-16) {  // 2^-52
    std::memset(bytes, 0, 8);
    return;
  }
  // 16^63 = 2^252: the largest exponent the 7-bit field holds is 63.
  if (m >= 0x1p252) {
    throw Error("Real value too large for GDSII", kOutUnit);
  }
  const uint8_t sign = value < 0 ? 0x80 : 0;
  int e = 64;
  // Division and multiplication by 16 are exact in binary floating point.
  if (m >= 1.0) {
    do {
      m /= 16.0;
      ++e;
    } while (m >= 1.0);
  } else {
    while (16.0 * m < 1.0) {
      m *= 16.0;
      --e;
    }
  }
  bytes[0] = uint8_t(e | sign);
  for (int i = 1; i < 8; ++i) {
    m *= 256.0;
    const double digit = std::trunc(m);
    bytes[i] = uint8_t(digit);
    m -= digit;
  }
}

// --- Reader record layer ------------------------------------------------------

GdsRecordReader::GdsRecordReader() { scratch.reserve(1024); }

void GdsRecordReader::SkipRemainder() {
  uint8_t chunk[4096];
  while (payloadUsed_ < payloadLength) {
    const size_t want =
        std::min(sizeof chunk, size_t(payloadLength - payloadUsed_));
    const size_t got = input.GetBlock(chunk, want);
    payloadUsed_ = uint16_t(payloadUsed_ + got);
    if (got < want) ThrowIn("Untreated data defined but end of file");
  }
}

bool GdsRecordReader::ReadRecordHeader(uint8_t type) {
  if (held) {
    if (recordType != type) return false;
    held = false;
    return true;
  }
  for (;;) {
    SkipRemainder();
    uint8_t head[4];
    const size_t got = input.GetBlock(head, 4);
    if (got == 0) {
      // Clean end of the input: no record follows.
      payloadLength = 0;
      payloadUsed_ = 0;
      recordType = 0;
      dataType = 0;
      return false;
    }
    if (got < 2) ThrowIn("Record size defined but end of file");
    if (got < 3) ThrowIn("Record type defined but end of file");
    if (got < 4) ThrowIn("Datatype defined but end of file");
    const uint16_t length = uint16_t((head[0] << 8) | head[1]);
    if (length < 4) {
      char message[96];
      std::snprintf(message, sizeof message,
                    "Invalid record length %u of record type %u", length,
                    head[2]);
      ThrowIn(message);
    }
    payloadLength = uint16_t(length - 4);
    payloadUsed_ = 0;
    recordType = head[2];
    dataType = head[3];
    if (recordType >= GdsRecord::FirstUnknown) {
      PrintMessage("Warning: Unknown Record Type %d, skipping !\n",
                   int(recordType));
      continue;  // SkipRemainder passes over its payload
    }
    if (recordType == type) return true;
    held = true;
    return false;
  }
}

void GdsRecordReader::SkipPayload() {
  SkipRemainder();
  held = false;
  payloadLength = 0;
  payloadUsed_ = 0;
  recordType = 0;
  dataType = 0;
}

bool GdsRecordReader::SkipRecord(uint8_t type) {
  if (!ReadRecordHeader(type)) return false;
  SkipPayload();
  return true;
}

void GdsRecordReader::ReadPayload(void* destination, size_t n,
                                  const char* eofMessage) {
  if (n > PayloadLeft()) {
    char message[96];
    std::snprintf(message, sizeof message,
                  "Record type %u too short (%u data bytes)",
                  unsigned(recordType), unsigned(payloadLength));
    ThrowIn(message);
  }
  const size_t got = input.GetBlock(destination, n);
  payloadUsed_ = uint16_t(payloadUsed_ + got);
  if (got < n) ThrowIn(eofMessage);
}

int16_t GdsRecordReader::ReadInt16(const char* eofMessage) {
  uint8_t b[2];
  ReadPayload(b, 2, eofMessage);
  return int16_t((b[0] << 8) | b[1]);
}

int32_t GdsRecordReader::ReadInt32(const char* eofMessage) {
  uint8_t b[4];
  ReadPayload(b, 4, eofMessage);
  return int32_t((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) |
                 (uint32_t(b[2]) << 8) | uint32_t(b[3]));
}

double GdsRecordReader::ReadReal(const char* eofMessage) {
  uint8_t b[8];
  ReadPayload(b, 8, eofMessage);
  return GdsRealToDouble(b);
}

const std::string& GdsRecordReader::ReadGdsString() {
  static constexpr const char* kEof = "String defined but end of file";
  const size_t n = PayloadLeft();
  if (n == 0) ThrowIn(kEof);
  scratch.resize(n);
  ReadPayload(scratch.data(), n, kEof);
  const size_t nul = scratch.find('\0');
  if (nul != std::string::npos) scratch.resize(nul);
  if (n & 1) {
    if (Reportable(oddStringReports)) {
      PrintMessage("Warning: GDS String is odd length, it must be even length\n");
    }
    CountProblem(oddStringReports);
  }
  return scratch;
}

void GdsRecordReader::ReadDates() {
  for (int i = 0; i < 12; ++i) ReadInt16("Date defined but end of file");
}

void GdsRecordReader::ReadPoint(int32_t& x, int32_t& y) {
  static constexpr const char* kEof = "Point location defined but end of file";
  uint8_t b[8];
  ReadPayload(b, 8, kEof);
  x = int32_t((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) |
              (uint32_t(b[2]) << 8) | uint32_t(b[3]));
  y = int32_t((uint32_t(b[4]) << 24) | (uint32_t(b[5]) << 16) |
              (uint32_t(b[6]) << 8) | uint32_t(b[7]));
}

bool GdsRecordReader::ReadHeader(int16_t& version) {
  if (!ReadRecordHeader(GdsRecord::Header)) return false;
  version = ReadInt16("Header defined but end of file");
  return true;
}

bool GdsRecordReader::ReadLayer(int16_t& layer) {
  if (!ReadRecordHeader(GdsRecord::Layer)) return false;
  layer = ReadInt16("Layer defined but end of file");
  return true;
}

bool GdsRecordReader::ReadDatatype(int16_t& datatype) {
  if (!ReadRecordHeader(GdsRecord::Datatype)) return false;
  datatype = ReadInt16("Data type defined but end of file");
  return true;
}

bool GdsRecordReader::ReadWidth(int32_t& width) {
  if (!ReadRecordHeader(GdsRecord::Width)) return false;
  width = ReadInt32("Path width defined but end of file");
  return true;
}

bool GdsRecordReader::ReadElFlags() {
  if (!ReadRecordHeader(GdsRecord::ElFlags)) return false;
  ReadInt16("Element Flag defined but end of file");
  return true;
}

bool GdsRecordReader::ReadBoxType(int16_t& boxType) {
  if (!ReadRecordHeader(GdsRecord::BoxType)) return false;
  boxType = ReadInt16("Box type defined but end of file");
  return true;
}

bool GdsRecordReader::ReadNodeType(int16_t& nodeType) {
  if (!ReadRecordHeader(GdsRecord::NodeType)) return false;
  nodeType = ReadInt16("Node type defined but end of file");
  return true;
}

bool GdsRecordReader::ReadPresentation(int16_t& presentation) {
  if (!ReadRecordHeader(GdsRecord::Presentation)) return false;
  presentation = ReadInt16("Presentation defined but end of file");
  return true;
}

bool GdsRecordReader::AtEnd() {
  if (held) return false;
  SkipRemainder();
  return input.AtEnd();
}

void GdsRecordReader::CountProblem(int32_t& count) {
  CountProblemReport(count, reportLimit);
}

// --- Writer record layer ------------------------------------------------------

GdsRecordWriter::GdsRecordWriter() { output.unit = kOutUnit; }

void GdsRecordWriter::WriteRecordHeader(size_t n, uint8_t dataType,
                                        uint8_t recordType) {
  size_t length = n + 4;
  if (dataType == GdsData::Ascii && (n & 1)) ++length;
  if (length > 0xffff) throw Error("GDSII record too long", kOutUnit);
  output.PutInt16Swapped(int16_t(uint16_t(length)));
  output.PutChar(recordType);
  output.PutChar(dataType);
}

void GdsRecordWriter::WriteString(std::string_view s) {
  const size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  if (!s.empty()) output.PutBlock(s.data(), s.size());
  if (s.size() & 1) output.PutChar(0);
}

void GdsRecordWriter::WriteDates() {
  const int16_t values[6] = {int16_t(time.tm_year + 1900), int16_t(time.tm_mon + 1),
                             int16_t(time.tm_mday),        int16_t(time.tm_hour),
                             int16_t(time.tm_min),         int16_t(time.tm_sec)};
  for (int block = 0; block < 2; ++block) {
    for (int16_t v : values) output.PutInt16Swapped(v);
  }
}

void GdsRecordWriter::WriteReal(double value) {
  uint8_t bytes[8];
  DoubleToGdsReal(value, bytes);
  output.PutBlock(bytes, 8);
}

}  // namespace velmar
