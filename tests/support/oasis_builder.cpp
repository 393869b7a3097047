#include "support/oasis_builder.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace velmar::test {

namespace {

uint64_t Abs(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }

size_t EncodedSize(uint64_t v) {
  size_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

}  // namespace

OasisBuilder& OasisBuilder::Byte(uint8_t b) {
  bytes_.push_back(b);
  return *this;
}

OasisBuilder& OasisBuilder::Raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

OasisBuilder& OasisBuilder::U(uint64_t v) { return UPadded(v, EncodedSize(v)); }

OasisBuilder& OasisBuilder::UPadded(uint64_t v, size_t n) {
  if (n < EncodedSize(v)) throw std::logic_error("integer does not fit");
  for (size_t i = 0; i < n; ++i) {
    const uint8_t group = uint8_t(v & 0x7f);
    v >>= 7;
    bytes_.push_back(i + 1 < n ? uint8_t(group | 0x80) : group);
  }
  return *this;
}

OasisBuilder& OasisBuilder::S(int64_t v) {
  return U((Abs(v) << 1) | (v < 0 ? 1 : 0));
}

OasisBuilder& OasisBuilder::Str(std::string_view s) {
  U(s.size());
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  return *this;
}

OasisBuilder& OasisBuilder::RealU(uint8_t type, uint64_t u) {
  if (type > 3) throw std::logic_error("not a one-integer real");
  return U(type).U(u);
}

OasisBuilder& OasisBuilder::RealRatio(bool negative, uint64_t u, uint64_t v) {
  return U(negative ? 5 : 4).U(u).U(v);
}

OasisBuilder& OasisBuilder::RealFloat(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  U(6);
  for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(bits >> (8 * i)));
  return *this;
}

OasisBuilder& OasisBuilder::RealDouble(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  U(7);
  for (int i = 0; i < 8; ++i) bytes_.push_back(uint8_t(bits >> (8 * i)));
  return *this;
}

OasisBuilder& OasisBuilder::Delta2(int direction, uint64_t magnitude) {
  if (direction < 0 || direction > 3) throw std::logic_error("2-delta direction");
  return U((magnitude << 2) | uint64_t(direction));
}

OasisBuilder& OasisBuilder::Delta3(int direction, uint64_t magnitude) {
  if (direction < 0 || direction > 7) throw std::logic_error("3-delta direction");
  return U((magnitude << 3) | uint64_t(direction));
}

OasisBuilder& OasisBuilder::DeltaGOctant(int direction, uint64_t magnitude) {
  if (direction < 0 || direction > 7) throw std::logic_error("g-delta direction");
  return U((magnitude << 4) | (uint64_t(direction) << 1));
}

OasisBuilder& OasisBuilder::DeltaGFree(int64_t dx, int64_t dy) {
  U((Abs(dx) << 2) | (dx < 0 ? 3 : 1));
  return U((Abs(dy) << 1) | (dy < 0 ? 1 : 0));
}

OasisBuilder& OasisBuilder::Magic() {
  static const char kMagic[] = "%SEMI-OASIS\r\n";
  bytes_.insert(bytes_.end(), kMagic, kMagic + 13);
  return *this;
}

OasisBuilder& OasisBuilder::Start(uint64_t unit, bool offsetsInEnd,
                                  std::string_view version) {
  Record(1).Str(version).RealU(0, unit).U(offsetsInEnd ? 1 : 0);
  if (!offsetsInEnd) {
    for (int i = 0; i < 12; ++i) U(0);
  }
  return *this;
}

OasisBuilder& OasisBuilder::End(bool offsetsInEnd,
                                const std::vector<uint64_t>& offsets) {
  const size_t start = bytes_.size();
  Record(2);
  if (offsetsInEnd) {
    for (size_t i = 0; i < 12; ++i) U(i < offsets.size() ? offsets[i] : 0);
  }
  // The padding string takes what is left of 256 bytes but the one byte of
  // the validation scheme: a two-byte length field and its blanks.
  const size_t pad = 256 - (bytes_.size() - start) - 1 - 2;
  UPadded(pad, 2);
  bytes_.insert(bytes_.end(), pad, ' ');
  return U(0);
}

void OasisBuilder::WriteFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()),
            std::streamsize(bytes_.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace velmar::test
