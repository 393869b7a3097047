#include "foundation/binary_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

#include "foundation/error.h"

namespace velmar {

static_assert(sizeof(off_t) == 8, "plain files need 64-bit offsets");

namespace {

constexpr const char* kChainedFormat = "Wrong Chained Integer format";
constexpr const char* kInputUnit = "BinaryIn";
// zlib's own buffer for gzip streams; larger than its default for fewer
// system calls on big layout files.
constexpr unsigned kGzipBufferSize = 64 * 1024;

inline uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint16_t Load16Swapped(const uint8_t* p) {
  return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
inline uint32_t Load32Swapped(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
         (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Store16Swapped(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void Store32Swapped(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// --- Life cycle -------------------------------------------------------------

BinaryStream::BinaryStream(BinaryStream&& other) noexcept {
  *this = std::move(other);
}

BinaryStream& BinaryStream::operator=(BinaryStream&& other) noexcept {
  if (this == &other) return *this;
  if (IsOpen()) {
    try {
      Close();
    } catch (const Error&) {
      // Nothing can be reported from a move; Close has released the file.
    }
  }
  path = std::move(other.path);
  write = other.write;
  gzip = other.gzip;
  openMode = other.openMode;
  unit = other.unit;
  position = std::exchange(other.position, 0);
  bytes = std::exchange(other.bytes, 0);
  fileSize = std::exchange(other.fileSize, 0);
  mode_ = std::exchange(other.mode_, Mode::kClosed);
  file_ = std::exchange(other.file_, nullptr);
  gz_ = std::exchange(other.gz_, nullptr);
  buffer_ = std::move(other.buffer_);
  fileOffset_ = std::exchange(other.fileOffset_, 0);
  gzipBase_ = std::exchange(other.gzipBase_, 0);
  return *this;
}

BinaryStream::~BinaryStream() {
  if (!IsOpen()) return;
  try {
    Close();
  } catch (const Error&) {
    // Owners that write call Close themselves to learn of failures.
  }
}

void BinaryStream::ReleaseHandles() {
  file_ = nullptr;
  gz_ = nullptr;
  mode_ = Mode::kClosed;
  position = 0;
  bytes = 0;
  fileOffset_ = 0;
  gzipBase_ = 0;
}

// --- Errors -----------------------------------------------------------------

void BinaryStream::ThrowWriteError(const char* what, int err) const {
  std::string message = std::string(what) + " " + path;
  if (err != 0) message += std::string(": ") + std::strerror(err);
  throw Error(message, unit ? unit : "BinaryOut", 0);
}

void BinaryStream::ThrowReadError(const char* what) const {
  throw Error(std::string(what) + " " + path, kInputUnit, 0);
}

void BinaryStream::ThrowNotOpen(bool forWriting) const {
  if (forWriting) {
    throw Error("File not open for writing: " + path, unit ? unit : "BinaryOut",
                0);
  }
  throw Error("File not open for reading: " + path, kInputUnit, 0);
}

// --- Opening and closing ----------------------------------------------------

bool BinaryStream::Open() {
  if (IsOpen()) {
    try {
      Close();
    } catch (const Error&) {
      return false;
    }
  }
  position = 0;
  bytes = 0;
  fileSize = 0;
  fileOffset_ = 0;
  gzipBase_ = 0;
  const bool append = (openMode & kAppend) != 0;

  if (gzip) {
    if (write) {
      if (append) return OpenGzipAppend();
      gz_ = gzopen(path.c_str(), "wb1");
      if (!gz_) return false;
      gzbuffer(gz_, kGzipBufferSize);
      mode_ = Mode::kGzipWrite;
      return true;
    }
    if (IsDirectory(path)) return false;
    gz_ = gzopen(path.c_str(), "rb");
    if (!gz_) return false;
    gzbuffer(gz_, kGzipBufferSize);
    mode_ = Mode::kGzipRead;
    return true;
  }

  if (write) {
    file_ = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (!file_) return false;
    // Our own buffer does the buffering; write failures surface at once.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    if (append) {
      if (fseeko(file_, 0, SEEK_END) != 0) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
      }
      fileOffset_ = ftello(file_);
    }
  } else {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    struct stat st;
    if (::fstat(fileno(file_), &st) != 0 || S_ISDIR(st.st_mode)) {
      std::fclose(file_);
      file_ = nullptr;
      return false;
    }
    fileSize = S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
  if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(kBufferSize);
  mode_ = write ? Mode::kPlainWrite : Mode::kPlainRead;
  return true;
}

// A gzip file is appended to by adding a gzip member behind the existing
// ones; readers see the concatenated uncompressed data. Offsets recorded in
// such a file count from the start of its uncompressed content, so the
// existing members are read once to learn their uncompressed size. Data
// that are not intact gzip members are refused: a member appended behind
// them could never be read back.
bool BinaryStream::OpenGzipAppend() {
  int64_t existing = 0;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return false;
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
      gzFile in = gzopen(path.c_str(), "rb");
      if (!in) return false;
      gzbuffer(in, kGzipBufferSize);
      auto chunk = std::make_unique<uint8_t[]>(kGzipBufferSize);
      int n;
      while ((n = gzread(in, chunk.get(), kGzipBufferSize)) > 0) existing += n;
      int err = Z_OK;
      gzerror(in, &err);
      const bool intact = n == 0 && err == Z_OK && !gzdirect(in);
      gzclose(in);
      if (!intact) return false;
    }
  }
  gz_ = gzopen(path.c_str(), "ab1");
  if (!gz_) return false;
  gzbuffer(gz_, kGzipBufferSize);
  gzipBase_ = existing;
  mode_ = Mode::kGzipWrite;
  return true;
}

void BinaryStream::Close() {
  switch (mode_) {
    case Mode::kClosed:
      return;
    case Mode::kPlainRead:
      std::fclose(file_);
      ReleaseHandles();
      return;
    case Mode::kGzipRead:
      gzclose(gz_);
      ReleaseHandles();
      return;
    case Mode::kPlainWrite: {
      const char* failed = nullptr;
      int err = 0;
      if (position > 0) {
        const size_t n = size_t(position);
        if (std::fwrite(buffer_.get(), 1, n, file_) != n) {
          failed = "Cannot write file";
          err = errno;
        }
      }
      if (!failed && std::fflush(file_) != 0) {
        failed = "Cannot write file";
        err = errno;
      }
      if (std::fclose(file_) != 0 && !failed) {
        failed = "Cannot close file";
        err = errno;
      }
      ReleaseHandles();
      if (failed) ThrowWriteError(failed, err);
      return;
    }
    case Mode::kGzipWrite: {
      errno = 0;
      const int rc = gzclose(gz_);
      const int err = errno;
      ReleaseHandles();
      if (rc != Z_OK) {
        ThrowWriteError("Cannot write file", rc == Z_ERRNO ? err : 0);
      }
      return;
    }
  }
}

// --- Positioning ------------------------------------------------------------

void BinaryStream::Flush() {
  if (mode_ == Mode::kPlainWrite) {
    WriteBuffer();
    if (std::fflush(file_) != 0) ThrowWriteError("Cannot write file", errno);
  } else if (mode_ == Mode::kGzipWrite) {
    const int rc = gzflush(gz_, Z_SYNC_FLUSH);
    if (rc != Z_OK) ThrowWriteError("Cannot write file", rc == Z_ERRNO ? errno : 0);
  }
}

void BinaryStream::SeekEnd() {
  switch (mode_) {
    case Mode::kClosed:
    case Mode::kGzipRead:
    case Mode::kGzipWrite:
      return;
    case Mode::kPlainWrite:
      WriteBuffer();
      if (fseeko(file_, 0, SEEK_END) != 0) ThrowWriteError("Cannot seek in file", errno);
      fileOffset_ = ftello(file_);
      return;
    case Mode::kPlainRead:
      if (fseeko(file_, 0, SEEK_END) != 0) ThrowReadError("Cannot seek in file");
      fileOffset_ = ftello(file_);
      position = 0;
      bytes = 0;
      return;
  }
}

void BinaryStream::Seek(int64_t offset) {
  switch (mode_) {
    case Mode::kClosed:
      ThrowNotOpen(false);
    case Mode::kGzipRead:
      if (gzseek(gz_, z_off_t(offset), SEEK_SET) != z_off_t(offset)) {
        ThrowReadError("Cannot seek in file");
      }
      return;
    case Mode::kGzipWrite:
      // gzip can only move forward while writing (filling with zeros).
      if (offset < gzipBase_ ||
          gzseek(gz_, z_off_t(offset - gzipBase_), SEEK_SET) !=
              z_off_t(offset - gzipBase_)) {
        ThrowWriteError("Cannot seek in file", 0);
      }
      return;
    case Mode::kPlainWrite:
      WriteBuffer();
      if (fseeko(file_, off_t(offset), SEEK_SET) != 0) {
        ThrowWriteError("Cannot seek in file", errno);
      }
      fileOffset_ = offset;
      return;
    case Mode::kPlainRead: {
      const int64_t end = fileOffset_;
      const int64_t start = end - bytes;
      if (offset == end) {
        position = 0;
        bytes = 0;
      } else if (offset >= start && offset < end) {
        position = int32_t(offset - start);
      } else {
        if (offset < 0 || fseeko(file_, off_t(offset), SEEK_SET) != 0) {
          ThrowReadError("Cannot seek in file");
        }
        fileOffset_ = offset;
        position = 0;
        bytes = 0;
      }
      return;
    }
  }
}

int64_t BinaryStream::Tell() const {
  switch (mode_) {
    case Mode::kClosed:
      return 0;
    case Mode::kGzipRead:
      return int64_t(gztell(gz_));
    case Mode::kGzipWrite:
      return gzipBase_ + int64_t(gztell(gz_));
    case Mode::kPlainWrite:
      return fileOffset_ + position;
    case Mode::kPlainRead:
      return fileOffset_ - bytes + position;
  }
  return 0;
}

int64_t BinaryStream::StoredOffset() const {
  if (mode_ == Mode::kGzipRead || mode_ == Mode::kGzipWrite) {
    return int64_t(gzoffset(gz_));
  }
  return Tell();
}

bool BinaryStream::AtEnd() {
  switch (mode_) {
    case Mode::kPlainRead:
      return !Fill();
    case Mode::kGzipRead: {
      const int c = gzgetc(gz_);
      if (c < 0) {
        int err = Z_OK;
        gzerror(gz_, &err);
        if (err != Z_OK && err != Z_BUF_ERROR) ThrowReadError("Cannot read file");
        return true;
      }
      gzungetc(c, gz_);
      return false;
    }
    default:
      return true;
  }
}

// --- Reading ----------------------------------------------------------------

bool BinaryStream::Fill() {
  if (mode_ != Mode::kPlainRead) return false;
  if (position < bytes) return true;
  const size_t n = std::fread(buffer_.get(), 1, kBufferSize, file_);
  if (n < size_t(kBufferSize) && std::ferror(file_)) {
    ThrowReadError("Cannot read file");
  }
  fileOffset_ += int64_t(n);
  bytes = int32_t(n);
  position = 0;
  return n > 0;
}

bool BinaryStream::GetCharSlow(uint8_t& value) {
  if (mode_ == Mode::kPlainRead) {
    if (!Fill()) return false;
    value = buffer_[position++];
    return true;
  }
  if (mode_ == Mode::kGzipRead) {
    const int c = gzgetc(gz_);
    if (c < 0) {
      int err = Z_OK;
      gzerror(gz_, &err);
      // Z_BUF_ERROR: the compressed data end early; that is the end of the
      // data as for a short plain file. Anything else is damaged input.
      if (err != Z_OK && err != Z_BUF_ERROR) ThrowReadError("Cannot read file");
      return false;
    }
    value = uint8_t(c);
    return true;
  }
  ThrowNotOpen(false);
}

bool BinaryStream::ReadExact(uint8_t* dst, size_t n) {
  if (mode_ == Mode::kPlainRead) {
    if (int64_t(position) + int64_t(n) <= bytes) {
      std::memcpy(dst, buffer_.get() + position, n);
      position += int32_t(n);
      return true;
    }
    for (size_t i = 0; i < n; ++i) {
      if (!Fill()) return false;
      dst[i] = buffer_[position++];
    }
    return true;
  }
  return GetBlock(dst, n) == n;
}

bool BinaryStream::GetInt16(int16_t& value) {
  uint8_t b[2];
  if (!ReadExact(b, 2)) return false;
  value = int16_t(Load16(b));
  return true;
}

bool BinaryStream::GetInt16Swapped(int16_t& value) {
  uint8_t b[2];
  if (!ReadExact(b, 2)) return false;
  value = int16_t(Load16Swapped(b));
  return true;
}

bool BinaryStream::GetInt32(int32_t& value) {
  uint8_t b[4];
  if (!ReadExact(b, 4)) return false;
  value = int32_t(Load32(b));
  return true;
}

bool BinaryStream::GetInt32Swapped(int32_t& value) {
  uint8_t b[4];
  if (!ReadExact(b, 4)) return false;
  value = int32_t(Load32Swapped(b));
  return true;
}

bool BinaryStream::Get4Bytes(uint32_t& value) {
  uint8_t b[4];
  if (!ReadExact(b, 4)) return false;
  value = Load32(b);
  return true;
}

bool BinaryStream::Get4BytesSwapped(uint32_t& value) {
  uint8_t b[4];
  if (!ReadExact(b, 4)) return false;
  value = Load32Swapped(b);
  return true;
}

bool BinaryStream::GetFloat(float& value) {
  uint8_t b[4];
  if (!ReadExact(b, 4)) return false;
  value = std::bit_cast<float>(Load32(b));
  return true;
}

bool BinaryStream::Get8Bytes(uint64_t& value) {
  uint8_t b[8];
  if (!ReadExact(b, 8)) return false;
  value = uint64_t(Load32(b)) | (uint64_t(Load32(b + 4)) << 32);
  return true;
}

bool BinaryStream::Get8Bytes(double& value) {
  uint64_t bits;
  if (!Get8Bytes(bits)) return false;
  value = std::bit_cast<double>(bits);
  return true;
}

size_t BinaryStream::GetBlockSlow(void* destination, size_t n) {
  uint8_t* dst = static_cast<uint8_t*>(destination);
  size_t done = 0;
  if (mode_ == Mode::kPlainRead) {
    while (done < n && Fill()) {
      const size_t take = std::min(n - done, size_t(bytes - position));
      std::memcpy(dst + done, buffer_.get() + position, take);
      position += int32_t(take);
      done += take;
    }
    return done;
  }
  if (mode_ != Mode::kGzipRead) ThrowNotOpen(false);
  while (done < n) {
    const unsigned want = unsigned(std::min(n - done, size_t(1) << 30));
    const int got = gzread(gz_, dst + done, want);
    // -1: damaged data; 0: the end of the data (also of data that end
    // early, as with a short plain file).
    if (got < 0) ThrowReadError("Cannot read file");
    if (got == 0) break;
    done += size_t(got);
  }
  return done;
}

// Unsigned chained integer: up to five bytes, 7 bits each, low group first.
// The fifth byte may carry only the 4 bits left of 32.
uint32_t BinaryStream::GetUnsignedChained() {
  uint8_t b;
  if (!GetChar(b)) return 0;
  uint32_t value = b & 0x7f;
  for (int shift = 7; b & 0x80; shift += 7) {
    if (shift > 28 || !GetChar(b)) throw Error(kChainedFormat, kInputUnit, 0);
    if (shift == 28 && (b & 0xf0)) throw Error(kChainedFormat, kInputUnit, 0);
    value |= uint32_t(b & 0x7f) << shift;
  }
  return value;
}

// Signed chained integer: bit 0 of the first byte is the sign, bits 1-6 the
// low 6 bits of the magnitude; then 7 bits per byte at shifts 6, 13, 20, 27.
// The fifth byte may carry only the 5 bits left of 32.
int32_t BinaryStream::GetSignedChained() {
  uint8_t b;
  if (!GetChar(b)) return 0;
  const bool negative = b & 1;
  uint32_t magnitude = (b >> 1) & 0x3f;
  for (int shift = 6; b & 0x80; shift += 7) {
    if (shift > 27 || !GetChar(b)) throw Error(kChainedFormat, kInputUnit, 0);
    if (shift == 27 && (b & 0xe0)) throw Error(kChainedFormat, kInputUnit, 0);
    magnitude |= uint32_t(b & 0x7f) << shift;
  }
  return negative ? int32_t(0u - magnitude) : int32_t(magnitude);
}

// --- Writing ----------------------------------------------------------------

void BinaryStream::WriteBuffer() {
  if (position == 0) return;
  const size_t n = size_t(position);
  if (std::fwrite(buffer_.get(), 1, n, file_) != n) {
    ThrowWriteError("Cannot write file", errno);
  }
  fileOffset_ += int64_t(n);
  position = 0;
}

void BinaryStream::PutCharSlow(uint8_t value) {
  if (mode_ == Mode::kPlainWrite) {
    buffer_[position++] = value;
    if (position == kBufferSize) WriteBuffer();
    return;
  }
  if (mode_ == Mode::kGzipWrite) {
    if (gzputc(gz_, value) < 0) ThrowWriteError("Cannot write file", errno);
    return;
  }
  ThrowNotOpen(true);
}

void BinaryStream::WriteBytes(const uint8_t* src, size_t n) {
  if (mode_ == Mode::kPlainWrite) {
    while (n > 0) {
      const size_t take = std::min(n, size_t(kBufferSize - position));
      std::memcpy(buffer_.get() + position, src, take);
      position += int32_t(take);
      src += take;
      n -= take;
      if (position == kBufferSize) WriteBuffer();
    }
    return;
  }
  if (mode_ != Mode::kGzipWrite) ThrowNotOpen(true);
  while (n > 0) {
    const unsigned take = unsigned(std::min(n, size_t(1) << 30));
    if (gzwrite(gz_, src, take) != int(take)) {
      int err = Z_OK;
      gzerror(gz_, &err);
      ThrowWriteError("Cannot write file", err == Z_ERRNO ? errno : 0);
    }
    src += take;
    n -= take;
  }
}

void BinaryStream::PutInt16(int16_t value) {
  uint8_t b[2];
  Store16(b, uint16_t(value));
  WriteBytes(b, 2);
}

void BinaryStream::PutInt16Swapped(int16_t value) {
  uint8_t b[2];
  Store16Swapped(b, uint16_t(value));
  WriteBytes(b, 2);
}

void BinaryStream::PutInt32(int32_t value) {
  uint8_t b[4];
  Store32(b, uint32_t(value));
  WriteBytes(b, 4);
}

void BinaryStream::PutInt32Swapped(int32_t value) {
  uint8_t b[4];
  Store32Swapped(b, uint32_t(value));
  WriteBytes(b, 4);
}

void BinaryStream::Put4Bytes(uint32_t value) {
  uint8_t b[4];
  Store32(b, value);
  WriteBytes(b, 4);
}

void BinaryStream::Put4BytesSwapped(uint32_t value) {
  uint8_t b[4];
  Store32Swapped(b, value);
  WriteBytes(b, 4);
}

void BinaryStream::PutFloat(float value) {
  uint8_t b[4];
  Store32(b, std::bit_cast<uint32_t>(value));
  WriteBytes(b, 4);
}

void BinaryStream::Put8Bytes(uint32_t low, uint32_t high) {
  uint8_t b[8];
  Store32(b, low);
  Store32(b + 4, high);
  WriteBytes(b, 8);
}

void BinaryStream::Put8Bytes(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  Put8Bytes(uint32_t(bits), uint32_t(bits >> 32));
}

void BinaryStream::PutBlock(const void* data, size_t n) {
  if (n == 0) n = std::strlen(static_cast<const char*>(data));
  WriteBytes(static_cast<const uint8_t*>(data), n);
}

void BinaryStream::PutUnsignedChained(uint32_t value) {
  uint8_t b[5];
  int n = 0;
  while (value > 127) {
    b[n++] = uint8_t((value & 0x7f) | 0x80);
    value >>= 7;
  }
  b[n++] = uint8_t(value);
  WriteBytes(b, size_t(n));
}

void BinaryStream::PutSignedChained(int32_t value) {
  uint8_t b[5];
  int n = 0;
  const uint32_t sign = value < 0 ? 1 : 0;
  // The magnitude as an unsigned 32-bit number: INT32_MIN gives 2^31.
  uint32_t m = sign ? 0u - uint32_t(value) : uint32_t(value);
  uint8_t byte = uint8_t(((m & 0x3f) << 1) | sign);
  m >>= 6;
  while (m != 0) {
    b[n++] = uint8_t(byte | 0x80);
    byte = uint8_t(m & 0x7f);
    m >>= 7;
  }
  b[n++] = byte;
  WriteBytes(b, size_t(n));
}

// --- Copying ----------------------------------------------------------------

void BinaryStream::AppendStream(BinaryStream& source) {
  if (source.mode_ == Mode::kPlainRead) {
    while (source.Fill()) {
      WriteBytes(source.buffer_.get() + source.position,
                 size_t(source.bytes - source.position));
      source.position = source.bytes;
    }
  } else if (source.mode_ == Mode::kGzipRead) {
    uint8_t chunk[kBufferSize];
    size_t n;
    while ((n = source.GetBlock(chunk, sizeof chunk)) > 0) WriteBytes(chunk, n);
  }
  source.Close();
}

}  // namespace velmar
