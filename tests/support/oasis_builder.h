// Test fixtures for OASIS input: a byte-level OASIS builder that spells out
// files in memory, well-formed or deliberately broken.
//
// The builder encodes the published layout itself (integers of 7 bits per
// byte, low group first; signed integers with the sign in bit 0; reals,
// deltas and strings in the forms the caller names), independently of the
// system's own writer, so that reader tests do not depend on it. Records are
// assembled from these fields in the order the test gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::test {

class OasisBuilder {
 public:
  // --- Bytes and fields ----------------------------------------------------------
  OasisBuilder& Byte(uint8_t b);
  OasisBuilder& Raw(const std::vector<uint8_t>& bytes);
  // Unsigned integer in its shortest encoding.
  OasisBuilder& U(uint64_t v);
  // Unsigned integer stretched to exactly n bytes (n >= its shortest form):
  // continuation bits on every byte but the last, zero groups above.
  OasisBuilder& UPadded(uint64_t v, size_t n);
  // Signed integer: the unsigned encoding of (|v| << 1) | (v < 0).
  OasisBuilder& S(int64_t v);
  // Length, then the bytes.
  OasisBuilder& Str(std::string_view s);

  // Reals in the form named: type 0-3 with one unsigned (u, -u, 1/u, -1/u),
  // type 4 or 5 with two (u/v, -u/v), IEEE single (6) and double (7).
  OasisBuilder& RealU(uint8_t type, uint64_t u);
  OasisBuilder& RealRatio(bool negative, uint64_t u, uint64_t v);
  OasisBuilder& RealFloat(float f);
  OasisBuilder& RealDouble(double d);

  // Displacements by direction (0 east, 1 north, 2 west, 3 south, 4 north-
  // east, 5 north-west, 6 south-west, 7 south-east) and magnitude, or for
  // the g-delta's second form by dx and dy.
  OasisBuilder& Delta2(int direction, uint64_t magnitude);
  OasisBuilder& Delta3(int direction, uint64_t magnitude);
  OasisBuilder& DeltaGOctant(int direction, uint64_t magnitude);
  OasisBuilder& DeltaGFree(int64_t dx, int64_t dy);

  // --- File frame -------------------------------------------------------------------
  // "%SEMI-OASIS\r\n".
  OasisBuilder& Magic();
  // START: version "1.0", the unit as a type-0 real (database units per
  // micron) and the offset-flag; with offset-flag 0 the twelve table
  // offsets (zeros) follow here.
  OasisBuilder& Start(uint64_t unit = 1000, bool offsetsInEnd = true,
                      std::string_view version = "1.0");
  // END padded to 256 bytes: with offsetsInEnd the twelve table offsets
  // (the given ones, zeros when empty), the padding string, validation
  // scheme 0.
  OasisBuilder& End(bool offsetsInEnd = true,
                    const std::vector<uint64_t>& offsets = {});
  // A record id; its fields follow through the field builders.
  OasisBuilder& Record(uint64_t id) { return U(id); }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t Size() const { return bytes_.size(); }
  // Writes the bytes to path; throws std::runtime_error on failure.
  void WriteFile(const std::string& path) const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace velmar::test
