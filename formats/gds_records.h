// GDSII Stream records: the record layer shared by the GDSII reader and
// writer, and the format's 8-byte base-16 reals.
//
// A GDSII file is a sequence of records:
//   bytes 0-1   record length, header included (unsigned, big-endian)
//   byte  2     record type
//   byte  3     data type
//   bytes 4..   payload: big-endian 2- and 4-byte integers, 8-byte reals,
//               ASCII strings padded to an even length with one NUL
// The reader never looks at the data type byte: it takes every payload in
// the encoding its record type implies.
//
// The reader asks for the records it accepts one by one, in the order in
// which it accepts them (ReadRecordHeader(type) -> "is this record next?").
// A record that was read but not asked for stays held until a question
// names its type. The payload of the record taken last is consumed through
// the payload readers below, which never read past its end; whatever the
// taker left unread is skipped before the next header, so a record carrying
// extra bytes cannot shift the reader off the record boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/binary_stream.h"

namespace velmar {

// Record types of the published format that this system reads or writes.
namespace GdsRecord {
inline constexpr uint8_t Header = 0;
inline constexpr uint8_t BgnLib = 1;
inline constexpr uint8_t LibName = 2;
inline constexpr uint8_t Units = 3;
inline constexpr uint8_t EndLib = 4;
inline constexpr uint8_t BgnStr = 5;
inline constexpr uint8_t StrName = 6;
inline constexpr uint8_t EndStr = 7;
inline constexpr uint8_t Boundary = 8;
inline constexpr uint8_t Path = 9;
inline constexpr uint8_t SRef = 10;
inline constexpr uint8_t ARef = 11;
inline constexpr uint8_t Text = 12;
inline constexpr uint8_t Layer = 13;
inline constexpr uint8_t Datatype = 14;
inline constexpr uint8_t Width = 15;
inline constexpr uint8_t XY = 16;
inline constexpr uint8_t EndEl = 17;
inline constexpr uint8_t SName = 18;
inline constexpr uint8_t ColRow = 19;
inline constexpr uint8_t Node = 21;
inline constexpr uint8_t TextType = 22;
inline constexpr uint8_t Presentation = 23;
inline constexpr uint8_t String = 25;
inline constexpr uint8_t Strans = 26;
inline constexpr uint8_t Mag = 27;
inline constexpr uint8_t Angle = 28;
inline constexpr uint8_t RefLibs = 31;
inline constexpr uint8_t Fonts = 32;
inline constexpr uint8_t PathType = 33;
inline constexpr uint8_t Generations = 34;
inline constexpr uint8_t AttrTable = 35;
inline constexpr uint8_t ElFlags = 38;
inline constexpr uint8_t NodeType = 42;
inline constexpr uint8_t PropAttr = 43;
inline constexpr uint8_t PropValue = 44;
inline constexpr uint8_t Box = 45;
inline constexpr uint8_t BoxType = 46;
inline constexpr uint8_t Plex = 47;
inline constexpr uint8_t BgnExtn = 48;
inline constexpr uint8_t EndExtn = 49;
inline constexpr uint8_t StrClass = 52;
inline constexpr uint8_t Format = 54;
inline constexpr uint8_t Mask = 55;
inline constexpr uint8_t EndMasks = 56;
// Types from here to 255 are unknown: reported and skipped.
inline constexpr int FirstUnknown = 57;
}  // namespace GdsRecord

// Data type codes written into record headers.
namespace GdsData {
inline constexpr uint8_t None = 0;
inline constexpr uint8_t BitArray = 1;
inline constexpr uint8_t Int16 = 2;
inline constexpr uint8_t Int32 = 3;
inline constexpr uint8_t Real8 = 5;
inline constexpr uint8_t Ascii = 6;
}  // namespace GdsData

// Largest payload a record can carry: 65,535 - 4 header bytes.
inline constexpr size_t kGdsMaxPayload = 65531;

// The value of an 8-byte GDSII real: byte 0 holds the sign (bit 7) and a
// power-of-16 exponent in excess 64, bytes 1-7 a 56-bit binary fraction,
// most significant byte first. Eight zero bytes (and any zero fraction) give
// 0. Every value is finite.
double GdsRealToDouble(const uint8_t bytes[8]);

// Encodes value as an 8-byte GDSII real, the fraction normalised to
// [1/16, 1) and truncated (not rounded) to 56 bits. Magnitudes up to 2^-52
// give eight zero bytes. Every finite double of a magnitude below 16^63 is
// held exactly (53 significant bits fit in the 56-bit fraction at any
// alignment), so GdsRealToDouble gives it back unchanged. NaN, infinities
// and magnitudes from 16^63 up, which the format cannot hold, throw Error
// (unit "GDSOUT") and leave bytes unchanged.
void DoubleToGdsReal(double value, uint8_t bytes[8]);

// The record layer of the GDSII reader: its input and the state of the
// record taken last. Errors are Error (unit "GDSIN", code 0).
class GdsRecordReader {
 public:
  // The GDSII file; the owner sets path and gzip and opens it.
  BinaryStream input;

  // --- Record state ----------------------------------------------------------
  bool held = false;           // the last header read was not taken yet
  uint16_t payloadLength = 0;  // record length less the 4 header bytes
  uint8_t recordType = 0;
  uint8_t dataType = 0;
  // The string read last by ReadGdsString (any payload size).
  std::string scratch;

  // Problem reports of one kind are printed while their count is below
  // reportLimit; see Reportable and CountProblem.
  int32_t reportLimit = 20;
  int32_t oddStringReports = 0;  // odd-length strings met

  GdsRecordReader();
  GdsRecordReader(const GdsRecordReader&) = delete;
  GdsRecordReader& operator=(const GdsRecordReader&) = delete;

  // True when the next record has the given type; its payload is then the
  // caller's to read. Otherwise the record read stays held (nothing of its
  // payload is read) and false is returned; at the clean end of the input
  // (no byte of a further header) false is returned too, with nothing held.
  // Unknown types (57 and up) are reported ("Warning: Unknown Record Type
  // %d, skipping !\n") and skipped. Throws for a header cut off by the end
  // of the file and for a record length below 4 ("Invalid record length").
  bool ReadRecordHeader(uint8_t type);

  // Passes over the rest of the payload of the record just taken and clears
  // the record state. Throws "Untreated data defined but end of file" when
  // the file ends inside the payload.
  void SkipPayload();

  // Probe-and-skip of an optional record: when it comes next its payload is
  // skipped and true returned.
  bool SkipRecord(uint8_t type);

  // Reads the payload of the record just taken as a string (up to its first
  // NUL) into scratch and returns it. An empty payload, or one cut off by
  // the end of the file, throws "String defined but end of file". An odd
  // payload length prints "Warning: GDS String is odd length, it must be
  // even length\n" under the report limit.
  const std::string& ReadGdsString();

  // Reads the twelve 2-byte date values of a BGNLIB or BGNSTR payload
  // (modification, then access time); they are not kept.
  void ReadDates();

  // Reads one point of an XY payload: x, then y.
  void ReadPoint(int32_t& x, int32_t& y);

  // --- Single-value records: false (nothing read) when not next -----------
  bool ReadHeader(int16_t& version);
  bool ReadLayer(int16_t& layer);
  bool ReadDatatype(int16_t& datatype);
  bool ReadWidth(int32_t& width);
  bool ReadElFlags();  // the flags are dropped
  bool ReadBoxType(int16_t& boxType);
  bool ReadNodeType(int16_t& nodeType);
  bool ReadPresentation(int16_t& presentation);

  // --- Payload readers for the record just taken ----------------------------
  // Each reads one value; eofMessage is thrown when the file ends first.
  // A value that reaches beyond the payload throws "Record type %d too
  // short" (the file itself is malformed) without reading anything.
  int16_t ReadInt16(const char* eofMessage);
  int32_t ReadInt32(const char* eofMessage);
  double ReadReal(const char* eofMessage);
  // Reads n payload bytes into destination.
  void ReadPayload(void* destination, size_t n, const char* eofMessage);
  // Payload bytes of the record just taken not read yet.
  uint16_t PayloadLeft() const { return uint16_t(payloadLength - payloadUsed_); }

  // True when no unread byte remains: nothing is held, the payload of the
  // last record has been passed over and the input has no further byte.
  bool AtEnd();

  // --- Problem reports -------------------------------------------------------
  // True when the occurrence numbered count (counting from 0) is printed.
  bool Reportable(int32_t count) const { return count < reportLimit; }
  // Counts one occurrence; after the last printed one (count reportLimit - 1)
  // prints "Same warning will not be shown any more\n".
  void CountProblem(int32_t& count);

 private:
  // Skips what the taker of the last record left of its payload.
  void SkipRemainder();

  uint16_t payloadUsed_ = 0;  // payload bytes of the current record consumed
};

// The record layer of the GDSII writer. Every write failure (a full disk
// included) throws Error (unit "GDSOUT") from the stream; the owner closes
// the output with BinaryStream::Close, which reports a failed flush or close
// the same way.
class GdsRecordWriter {
 public:
  // The GDSII file; the owner sets path and gzip and opens it.
  BinaryStream output;
  // Broken-down local time written into every date block (WriteDates).
  std::tm time{};

  GdsRecordWriter();
  GdsRecordWriter(const GdsRecordWriter&) = delete;
  GdsRecordWriter& operator=(const GdsRecordWriter&) = delete;

  // Record header for a payload of n bytes: length n + 4, one more when the
  // data type is ASCII (6) and n is odd (the pad byte of WriteString); then
  // the record type and the data type. A record that cannot be longer than
  // 65,535 bytes throws Error("GDSII record too long", "GDSOUT") before
  // anything is written.
  void WriteRecordHeader(size_t n, uint8_t dataType, uint8_t recordType);

  // The characters of s up to its first NUL, and one NUL more when their
  // number is odd. Pass the same characters' count to WriteRecordHeader.
  void WriteString(std::string_view s);

  // Two date blocks (modification, then access) from time: year + 1900,
  // month + 1, day, hour, minute, second as 2-byte big-endian integers.
  void WriteDates();

  // One 8-byte real (DoubleToGdsReal).
  void WriteReal(double value);
};

}  // namespace velmar
