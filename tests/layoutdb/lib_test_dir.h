// Scratch library directories for the library tests (TempDir and
// FileSizeLimit, shared with the other test folders), and a byte builder for
// hand-made library files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace velmar::test {

// Little-endian byte builder for hand-made library files.
class Bytes {
 public:
  Bytes& U16(uint16_t v) { return Put(&v, 2); }
  Bytes& I32(int32_t v) { return Put(&v, 4); }
  Bytes& U32(uint32_t v) { return Put(&v, 4); }
  Bytes& F64(double v) { return Put(&v, 8); }
  const std::string& str() const { return s_; }

 private:
  Bytes& Put(const void* p, size_t n) {
    s_.append(static_cast<const char*>(p), n);  // the host is little-endian
    return *this;
  }
  std::string s_;
};

}  // namespace velmar::test
