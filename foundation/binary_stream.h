// Buffered binary file: a plain file read or written through a 4096-byte
// buffer, or a gzip stream. Every binary reader and writer of the system goes
// through it: the library's cell data and info files, GDSII, OASIS, binary
// polygon files and the temporary database.
//
// Usage: the owner sets path, write, gzip and openMode (and unit for a
// stream that writes), then calls Open. Reads return false at the end of the
// data and leave their destination unchanged. Write, flush and close
// failures throw Error with the owner's unit tag; a failed read of the
// underlying file (an I/O error, corrupt gzip data) throws Error with the
// unit tag "BinaryIn", so that damaged input never looks like a short file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <zlib.h>

namespace velmar {

class BinaryStream {
 public:
  static constexpr int32_t kBufferSize = 4096;
  // Bit of openMode: a stream that writes appends to an existing file
  // instead of replacing it (plain: at its end; gzip: as a new member).
  static constexpr int32_t kAppend = 1;

  // --- Set by the owner before Open -------------------------------------
  std::string path;
  bool write = false;  // the stream writes
  bool gzip = false;   // gzip stream instead of a plain file
  int32_t openMode = 0;
  // Unit tag of the Error thrown when writing, flushing or closing fails
  // (a string literal, e.g. "LIBOUT", "GDSOUT", "OASISOUT").
  const char* unit = "BinaryOut";

  // --- Kept by the stream; owners may read them -------------------------
  int32_t position = 0;  // index of the next byte in the buffer
  int32_t bytes = 0;     // valid bytes in the buffer (plain read)
  int64_t fileSize = 0;  // size of a plain file opened for reading, else 0

  BinaryStream() = default;
  BinaryStream(const BinaryStream&) = delete;
  BinaryStream& operator=(const BinaryStream&) = delete;
  BinaryStream(BinaryStream&& other) noexcept;
  BinaryStream& operator=(BinaryStream&& other) noexcept;
  // Closes a stream that is still open; buffered bytes are written out, but
  // failures cannot be reported here: owners that write call Close.
  ~BinaryStream();

  // Opens by the flags; true on success. Throws nothing. A stream that is
  // still open is closed first (false when that fails).
  // - plain write: "ab" with kAppend (Tell counts from the file's size),
  //   else "wb" (the file is replaced);
  // - plain read: "rb", fileSize taken from the file;
  // - gzip write: level 1; with kAppend a new gzip member is added behind
  //   the existing ones, whose uncompressed size is found by reading them
  //   once (false when they are not intact gzip data); else the file is
  //   replaced;
  // - gzip read.
  bool Open();
  // Writes out buffered bytes (plain write), flushes and closes. The stream
  // is closed afterwards in every case; throws Error(unit) when a stream
  // that writes could not write, flush or close its data. No effect on a
  // stream that is not open.
  void Close();

  // Writes out buffered bytes and flushes them to the file (a gzip stream
  // finishes its pending block), so that everything written so far survives
  // the process; throws Error(unit) on failure. No effect on a stream that
  // does not write.
  void Flush();

  bool IsOpen() const { return mode_ != Mode::kClosed; }
  bool IsWriting() const {
    return mode_ == Mode::kPlainWrite || mode_ == Mode::kGzipWrite;
  }

  // Moves to the end of the file (plain); a gzip stream stays where it is
  // (a gzip stream opened for appending already stands at its end).
  void SeekEnd();
  // Moves to offset from the start (gzip: offset in the uncompressed data).
  // A plain read stream keeps its buffer when offset lies inside it; a plain
  // write stream writes out its buffer first. Throws Error when the file
  // cannot be positioned.
  void Seek(int64_t offset);
  // Current offset, buffered bytes taken into account (gzip: offset in the
  // uncompressed data, counted from the start of the whole file).
  int64_t Tell() const;
  // Offset in the file as stored: for a gzip stream the compressed bytes
  // consumed or produced so far, otherwise Tell(). Progress of a gzip read
  // is measured with it against the compressed file's size.
  int64_t StoredOffset() const;
  // True when no unread byte remains (always true for a stream that writes).
  bool AtEnd();

  // Copies every remaining byte of the read stream source to this stream
  // in buffer-sized blocks, then closes source.
  void AppendStream(BinaryStream& source);

  // --- Reading: false at the end of the data, destination unchanged ------
  // Plain read: makes unread bytes available in the buffer; false at the
  // end of the data.
  bool Fill();
  inline bool GetChar(uint8_t& value);
  bool GetInt16(int16_t& value);           // little-endian
  bool GetInt16Swapped(int16_t& value);    // big-endian
  bool GetInt32(int32_t& value);           // little-endian
  bool GetInt32Swapped(int32_t& value);    // big-endian
  bool Get4Bytes(uint32_t& value);         // little-endian
  bool Get4BytesSwapped(uint32_t& value);  // big-endian
  bool GetFloat(float& value);             // IEEE single, little-endian
  bool Get8Bytes(uint64_t& value);         // little-endian
  bool Get8Bytes(double& value);           // IEEE double, little-endian
  // Reads up to n bytes; fewer only at the end of the data.
  inline size_t GetBlock(void* destination, size_t n);
  // Chained integers (7 bits per byte, low group first, bit 7 = more
  // follows). An encoding of more than five bytes, or one whose value does
  // not fit 32 bits, or data that end inside one, throws
  // Error("Wrong Chained Integer format", "BinaryIn"). At the end of the
  // data before the first byte they return 0.
  uint32_t GetUnsignedChained();
  int32_t GetSignedChained();

  // --- Writing: failures throw Error(unit) --------------------------------
  inline void PutChar(uint8_t value);
  void PutInt16(int16_t value);
  void PutInt16Swapped(int16_t value);
  void PutInt32(int32_t value);
  void PutInt32Swapped(int32_t value);
  void Put4Bytes(uint32_t value);
  void Put4BytesSwapped(uint32_t value);
  void PutFloat(float value);
  // The low word's four bytes, then the high word's, each little-endian.
  void Put8Bytes(uint32_t low, uint32_t high);
  void Put8Bytes(double value);
  // n = 0: the bytes are a NUL-terminated string, n is its length.
  void PutBlock(const void* data, size_t n);
  void PutUnsignedChained(uint32_t value);
  void PutSignedChained(int32_t value);

 private:
  enum class Mode { kClosed, kPlainRead, kPlainWrite, kGzipRead, kGzipWrite };

  // Reads exactly n bytes into dst; false (dst partly written) at the end.
  bool ReadExact(uint8_t* dst, size_t n);
  void WriteBytes(const uint8_t* src, size_t n);
  bool GetCharSlow(uint8_t& value);
  size_t GetBlockSlow(void* destination, size_t n);
  void PutCharSlow(uint8_t value);
  void WriteBuffer();  // plain write: writes buffer[0, position)
  [[noreturn]] void ThrowWriteError(const char* what, int err) const;
  [[noreturn]] void ThrowReadError(const char* what) const;
  [[noreturn]] void ThrowNotOpen(bool forWriting) const;
  void ReleaseHandles();
  bool OpenGzipAppend();

  Mode mode_ = Mode::kClosed;
  FILE* file_ = nullptr;
  gzFile gz_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;
  // Plain: offset in the file of the byte after the buffered block (read)
  // or of the buffer's first byte (write).
  int64_t fileOffset_ = 0;
  // Gzip appending: uncompressed size of the members before the new one.
  int64_t gzipBase_ = 0;
};

inline bool BinaryStream::GetChar(uint8_t& value) {
  if (mode_ == Mode::kPlainRead && position < bytes) {
    value = buffer_[position++];
    return true;
  }
  return GetCharSlow(value);
}

// Small reads (record heads, coordinates) copy straight from the buffer.
inline size_t BinaryStream::GetBlock(void* destination, size_t n) {
  if (mode_ == Mode::kPlainRead && n != 0 && size_t(bytes - position) >= n) {
    std::memcpy(destination, buffer_.get() + position, n);
    position += int32_t(n);
    return n;
  }
  return GetBlockSlow(destination, n);
}

inline void BinaryStream::PutChar(uint8_t value) {
  if (mode_ == Mode::kPlainWrite && position < kBufferSize - 1) {
    buffer_[position++] = value;
    return;
  }
  PutCharSlow(value);
}

}  // namespace velmar
