// Buffered binary stream: value encodings, the 4096-byte buffer boundary,
// gzip and plain files, appending, truncated and damaged input, and write
// failures.
#include "foundation/binary_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/error.h"

namespace velmar {
namespace {

using Bytes = std::vector<uint8_t>;

class BinaryStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "binstream_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  static bool OpenStream(BinaryStream& s, const std::string& path, bool write,
                         bool gzip, bool append = false) {
    s.path = path;
    s.write = write;
    s.gzip = gzip;
    s.openMode = append ? BinaryStream::kAppend : 0;
    return s.Open();
  }

  // The file as stored (independent of BinaryStream).
  static Bytes RawFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // The uncompressed content of a gzip file, read with zlib directly.
  static Bytes GunzipFile(const std::string& path) {
    Bytes out;
    gzFile gz = gzopen(path.c_str(), "rb");
    EXPECT_NE(gz, nullptr);
    if (!gz) return out;
    uint8_t chunk[8192];
    int n;
    while ((n = gzread(gz, chunk, sizeof chunk)) > 0) out.insert(out.end(), chunk, chunk + n);
    EXPECT_EQ(n, 0);
    gzclose(gz);
    return out;
  }
  static void WriteRaw(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
  static void WriteGzip(const std::string& path, const Bytes& data) {
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    if (!data.empty()) {
      ASSERT_EQ(gzwrite(gz, data.data(), unsigned(data.size())), int(data.size()));
    }
    ASSERT_EQ(gzclose(gz), Z_OK);
  }
  static int64_t FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
  }

  std::string dir_;
};

// --- Reference encoders, written from the format rules ------------------

void PushLE(Bytes& b, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void PushBE(Bytes& b, uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
// Groups of 7 bits, low first; every byte but the last has bit 7.
void PushUnsignedChained(Bytes& b, uint32_t v) {
  uint64_t rest = v;
  do {
    uint8_t byte = rest & 0x7f;
    rest >>= 7;
    b.push_back(rest ? byte | 0x80 : byte);
  } while (rest);
}
// First byte: sign in bit 0, low 6 magnitude bits in bits 1-6.
void PushSignedChained(Bytes& b, int32_t v) {
  uint64_t m = v < 0 ? uint64_t(-int64_t(v)) : uint64_t(v);
  uint8_t first = uint8_t(((m & 0x3f) << 1) | (v < 0 ? 1 : 0));
  m >>= 6;
  b.push_back(m ? first | 0x80 : first);
  while (m) {
    uint8_t byte = m & 0x7f;
    m >>= 7;
    b.push_back(m ? byte | 0x80 : byte);
  }
}

// One record of every value type; fields vary with the record index.
struct Record {
  uint8_t c;
  int16_t i16;
  int32_t i32;
  uint32_t u32;
  float f;
  double d;
  uint32_t lo, hi;
  uint32_t uchained;
  int32_t schained;
  Bytes block;
};

Record MakeRecord(std::mt19937& rng) {
  Record r;
  r.c = uint8_t(rng());
  r.i16 = int16_t(rng());
  r.i32 = int32_t(rng());
  r.u32 = uint32_t(rng());
  r.f = std::bit_cast<float>(uint32_t(rng() & 0x7f7fffff));  // finite
  r.d = double(int32_t(rng())) / 7.0;
  r.lo = uint32_t(rng());
  r.hi = uint32_t(rng());
  // Chained values of every length from 1 to 5 bytes.
  r.uchained = uint32_t(rng()) >> (rng() % 32);
  r.schained = int32_t(uint32_t(rng())) >> (rng() % 32);
  r.block.resize(rng() % 9);
  for (auto& x : r.block) x = uint8_t(rng());
  return r;
}

void Encode(Bytes& b, const Record& r, bool big) {
  b.push_back(r.c);
  if (big) {
    PushBE(b, uint16_t(r.i16), 2);
    PushBE(b, uint32_t(r.i32), 4);
    PushBE(b, r.u32, 4);
  } else {
    PushLE(b, uint16_t(r.i16), 2);
    PushLE(b, uint32_t(r.i32), 4);
    PushLE(b, r.u32, 4);
  }
  PushLE(b, std::bit_cast<uint32_t>(r.f), 4);
  PushLE(b, std::bit_cast<uint64_t>(r.d), 8);
  PushLE(b, r.lo, 4);
  PushLE(b, r.hi, 4);
  PushUnsignedChained(b, r.uchained);
  PushSignedChained(b, r.schained);
  b.insert(b.end(), r.block.begin(), r.block.end());
}

void Write(BinaryStream& s, const Record& r, bool big) {
  s.PutChar(r.c);
  if (big) {
    s.PutInt16Swapped(r.i16);
    s.PutInt32Swapped(r.i32);
    s.Put4BytesSwapped(r.u32);
  } else {
    s.PutInt16(r.i16);
    s.PutInt32(r.i32);
    s.Put4Bytes(r.u32);
  }
  s.PutFloat(r.f);
  s.Put8Bytes(r.d);
  s.Put8Bytes(r.lo, r.hi);
  s.PutUnsignedChained(r.uchained);
  s.PutSignedChained(r.schained);
  if (!r.block.empty()) s.PutBlock(r.block.data(), r.block.size());
}

void ReadAndCheck(BinaryStream& s, const Record& r, bool big, int k) {
  SCOPED_TRACE("record " + std::to_string(k));
  uint8_t c = 0;
  int16_t i16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  ASSERT_TRUE(s.GetChar(c));
  EXPECT_EQ(c, r.c);
  if (big) {
    ASSERT_TRUE(s.GetInt16Swapped(i16));
    ASSERT_TRUE(s.GetInt32Swapped(i32));
    ASSERT_TRUE(s.Get4BytesSwapped(u32));
  } else {
    ASSERT_TRUE(s.GetInt16(i16));
    ASSERT_TRUE(s.GetInt32(i32));
    ASSERT_TRUE(s.Get4Bytes(u32));
  }
  EXPECT_EQ(i16, r.i16);
  EXPECT_EQ(i32, r.i32);
  EXPECT_EQ(u32, r.u32);
  float f = 0;
  double d = 0;
  uint64_t w = 0;
  ASSERT_TRUE(s.GetFloat(f));
  EXPECT_EQ(std::bit_cast<uint32_t>(f), std::bit_cast<uint32_t>(r.f));
  ASSERT_TRUE(s.Get8Bytes(d));
  EXPECT_EQ(std::bit_cast<uint64_t>(d), std::bit_cast<uint64_t>(r.d));
  ASSERT_TRUE(s.Get8Bytes(w));
  EXPECT_EQ(w, uint64_t(r.lo) | (uint64_t(r.hi) << 32));
  EXPECT_EQ(s.GetUnsignedChained(), r.uchained);
  EXPECT_EQ(s.GetSignedChained(), r.schained);
  Bytes block(r.block.size());
  EXPECT_EQ(s.GetBlock(block.data(), block.size()), block.size());
  EXPECT_EQ(block, r.block);
}

// Record k is written to start k + 1 bytes before a buffer boundary (a
// filler block in front of it brings it there), so every field of the record
// lies across the 4096-byte boundary in some record. The stored bytes are
// compared with an independent encoding, Tell is checked after every write,
// and everything is read back.
TEST_F(BinaryStreamTest, RoundTripOfEveryValueTypeAcrossBufferBoundary) {
  struct Case {
    bool gzip;
    bool big;
  };
  const Case cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  constexpr int kRecords = 64;  // longer than the longest record
  const int64_t kBuf = BinaryStream::kBufferSize;
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.gzip ? "gzip" : "plain") + (tc.big ? " big-endian" : " little-endian"));
    const std::string path = PathOf(tc.gzip ? "values.gz" : "values");
    std::mt19937 rng(20240607);
    std::vector<Record> records;
    std::vector<Bytes> fillers;
    Bytes expected;

    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, tc.gzip));
    for (int k = 0; k < kRecords; ++k) {
      const int64_t at = int64_t(expected.size());
      const int64_t pad = ((-(k + 1) - at) % kBuf + kBuf) % kBuf;
      fillers.emplace_back(size_t(pad), uint8_t(k));
      records.push_back(MakeRecord(rng));
      if (pad > 0) out.PutBlock(fillers.back().data(), fillers.back().size());
      expected.insert(expected.end(), fillers.back().begin(), fillers.back().end());
      ASSERT_EQ(out.Tell(), int64_t(expected.size()));
      ASSERT_EQ((out.Tell() + k + 1) % kBuf, 0);
      Write(out, records.back(), tc.big);
      Encode(expected, records.back(), tc.big);
      ASSERT_EQ(out.Tell(), int64_t(expected.size()));
    }
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    ASSERT_EQ(tc.gzip ? GunzipFile(path) : RawFile(path), expected);

    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, tc.gzip));
    EXPECT_EQ(in.fileSize, tc.gzip ? 0 : int64_t(expected.size()));
    for (int k = 0; k < kRecords; ++k) {
      ASSERT_FALSE(in.AtEnd());
      Bytes filler(fillers[size_t(k)].size(), 0);
      ASSERT_EQ(in.GetBlock(filler.data(), filler.size()), filler.size());
      ASSERT_EQ(filler, fillers[size_t(k)]);
      ASSERT_EQ((in.Tell() + k + 1) % kBuf, 0);
      ReadAndCheck(in, records[size_t(k)], tc.big, k);
      if (HasFatalFailure()) return;
    }
    EXPECT_EQ(in.Tell(), int64_t(expected.size()));
    EXPECT_TRUE(in.AtEnd());
    uint8_t c = 0x5a;
    EXPECT_FALSE(in.GetChar(c));
    EXPECT_EQ(c, 0x5a);
    in.Close();
  }
}

// Exact bytes of the chained-integer encodings; each reads back unchanged
// and takes the stated number of bytes.
TEST_F(BinaryStreamTest, ChainedIntegerEncodings) {
  struct UCase {
    uint32_t value;
    Bytes bytes;
  };
  const UCase unsignedCases[] = {
      {0, {0x00}},
      {127, {0x7f}},
      {128, {0x80, 0x01}},
      {300, {0xac, 0x02}},
      {16383, {0xff, 0x7f}},
      {16384, {0x80, 0x80, 0x01}},
      {4294967295u, {0xff, 0xff, 0xff, 0xff, 0x0f}},
  };
  struct SCase {
    int32_t value;
    Bytes bytes;
  };
  const SCase signedCases[] = {
      {0, {0x00}},
      {63, {0x7e}},
      {64, {0x80, 0x01}},
      {-64, {0x81, 0x01}},
      {-3, {0x07}},
      {100, {0xc8, 0x01}},
      {2147483647, {0xfe, 0xff, 0xff, 0xff, 0x0f}},
      {-2147483647 - 1, {0x81, 0x80, 0x80, 0x80, 0x10}},
  };
  const std::string path = PathOf("chained");
  for (const UCase& tc : unsignedCases) {
    SCOPED_TRACE("unsigned " + std::to_string(tc.value));
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, false));
    out.PutUnsignedChained(tc.value);
    out.Close();
    EXPECT_EQ(RawFile(path), tc.bytes);
    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, false));
    EXPECT_EQ(in.GetUnsignedChained(), tc.value);
    EXPECT_EQ(in.Tell(), int64_t(tc.bytes.size()));
    EXPECT_TRUE(in.AtEnd());
  }
  for (const SCase& tc : signedCases) {
    SCOPED_TRACE("signed " + std::to_string(tc.value));
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, false));
    out.PutSignedChained(tc.value);
    out.Close();
    EXPECT_EQ(RawFile(path), tc.bytes);
    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, false));
    EXPECT_EQ(in.GetSignedChained(), tc.value);
    EXPECT_EQ(in.Tell(), int64_t(tc.bytes.size()));
    EXPECT_TRUE(in.AtEnd());
  }
}

TEST_F(BinaryStreamTest, ByteOrderOfFixedWidthReads) {
  const std::string path = PathOf("order");
  WriteRaw(path, {0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x02});
  BinaryStream in;
  ASSERT_TRUE(OpenStream(in, path, false, false));
  int32_t v = 0;
  ASSERT_TRUE(in.GetInt32Swapped(v));
  EXPECT_EQ(v, 258);
  ASSERT_TRUE(in.GetInt32(v));
  EXPECT_EQ(v, 33619968);
}

TEST_F(BinaryStreamTest, PlainWriteBufferFillsAndEmpties) {
  const std::string path = PathOf("buffer");
  {
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, false));
    for (int i = 0; i < BinaryStream::kBufferSize; ++i) out.PutChar(uint8_t(i));
    EXPECT_EQ(out.position, 0);
    EXPECT_EQ(out.Tell(), 4096);
    EXPECT_EQ(FileSize(path), 4096);  // one full buffer written out
    out.Close();
  }
  {
    Bytes data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, false));
    out.PutBlock(data.data(), data.size());
    EXPECT_EQ(out.position, 1808);
    EXPECT_EQ(FileSize(path), 8192);
    EXPECT_EQ(out.Tell(), 10000);
    out.Close();
    EXPECT_EQ(RawFile(path), data);

    // A block read returns everything asked for while data remain, across
    // buffer refills, and the rest at the end of the data.
    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, false));
    Bytes got(12000, 0);
    EXPECT_EQ(in.GetBlock(got.data(), 9000), 9000u);
    EXPECT_EQ(in.GetBlock(got.data() + 9000, 3000), 1000u);
    got.resize(10000);
    EXPECT_EQ(got, data);
    EXPECT_EQ(in.GetBlock(got.data(), 10), 0u);
  }
  {
    // n = 0 writes a NUL-terminated string without its NUL.
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, false));
    out.PutBlock("LIB", 0);
    out.Close();
    EXPECT_EQ(RawFile(path), (Bytes{'L', 'I', 'B'}));
  }
}

TEST_F(BinaryStreamTest, SeekOnPlainReadStream) {
  const std::string path = PathOf("seek");
  Bytes data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i % 251);
  WriteRaw(path, data);
  BinaryStream in;
  ASSERT_TRUE(OpenStream(in, path, false, false));
  uint8_t c;
  ASSERT_TRUE(in.GetChar(c));  // loads bytes 0..4095
  ASSERT_EQ(in.bytes, 4096);

  // Inside the buffered block: the buffer stays, only the position moves.
  in.Seek(3000);
  EXPECT_EQ(in.bytes, 4096);
  EXPECT_EQ(in.position, 3000);
  EXPECT_EQ(in.Tell(), 3000);
  ASSERT_TRUE(in.GetChar(c));
  EXPECT_EQ(c, data[3000]);
  in.Seek(0);
  EXPECT_EQ(in.bytes, 4096);
  ASSERT_TRUE(in.GetChar(c));
  EXPECT_EQ(c, data[0]);

  // Just after the block: the buffer is dropped, the file stays.
  in.Seek(4096);
  EXPECT_EQ(in.bytes, 0);
  EXPECT_EQ(in.Tell(), 4096);
  ASSERT_TRUE(in.GetChar(c));
  EXPECT_EQ(c, data[4096]);

  // Elsewhere: backwards and forwards outside the block.
  in.Seek(9998);
  EXPECT_EQ(in.Tell(), 9998);
  int16_t v = 0;
  ASSERT_TRUE(in.GetInt16(v));
  EXPECT_EQ(uint16_t(v), uint16_t(data[9998] | (data[9999] << 8)));
  EXPECT_TRUE(in.AtEnd());
  in.Seek(10);
  ASSERT_TRUE(in.GetChar(c));
  EXPECT_EQ(c, data[10]);
  EXPECT_FALSE(in.AtEnd());

  in.SeekEnd();
  EXPECT_EQ(in.Tell(), 10000);
  EXPECT_TRUE(in.AtEnd());
}

// Data written behind earlier data: the recorded offsets (Tell) count from
// the start of the whole content, and the earlier data stay readable.
TEST_F(BinaryStreamTest, AppendingKeepsEarlierDataAndCountsFromTheirSize) {
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    const std::string path = PathOf(gzip ? "db1.gz" : "db1");
    std::mt19937 rng(7);
    Bytes first(9000);
    for (auto& x : first) x = uint8_t(rng());
    if (gzip) {
      WriteGzip(path, first);
    } else {
      WriteRaw(path, first);
    }

    // Two further sessions, each recording where its values start.
    std::vector<int64_t> starts;
    std::vector<int32_t> values;
    Bytes expected = first;
    for (int session = 0; session < 2; ++session) {
      BinaryStream out;
      ASSERT_TRUE(OpenStream(out, path, true, gzip, true));
      out.SeekEnd();
      ASSERT_EQ(out.Tell(), int64_t(expected.size()));
      for (int i = 0; i < 700; ++i) {
        const int32_t v = int32_t(rng()) >> (rng() % 32);
        starts.push_back(out.Tell());
        values.push_back(v);
        out.PutSignedChained(v);
        PushSignedChained(expected, v);
      }
      out.Close();
    }
    EXPECT_EQ(gzip ? GunzipFile(path) : RawFile(path), expected);

    // Read back: the first data, then every value found at its offset,
    // visited in reverse so that every read needs a seek.
    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, gzip));
    Bytes got(first.size());
    ASSERT_EQ(in.GetBlock(got.data(), got.size()), got.size());
    EXPECT_EQ(got, first);
    for (size_t i = starts.size(); i-- > 0;) {
      in.Seek(starts[i]);
      ASSERT_EQ(in.GetSignedChained(), values[i]) << "value " << i;
    }
  }
}

TEST_F(BinaryStreamTest, GzipAppendRefusesDataThatAreNotIntactGzip) {
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
  const std::string plain = PathOf("plain_data");
  WriteRaw(plain, data);
  const std::string cut = PathOf("cut.gz");
  WriteGzip(cut, data);
  Bytes stored = RawFile(cut);
  stored.resize(stored.size() / 2);
  WriteRaw(cut, stored);

  for (const std::string& path : {plain, cut}) {
    SCOPED_TRACE(path);
    const Bytes before = RawFile(path);
    BinaryStream out;
    EXPECT_FALSE(OpenStream(out, path, true, true, true));
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(RawFile(path), before);
  }
  // A missing file is simply created.
  BinaryStream out;
  ASSERT_TRUE(OpenStream(out, PathOf("new.gz"), true, true, true));
  EXPECT_EQ(out.Tell(), 0);
  out.PutInt32(42);
  out.Close();
  EXPECT_EQ(GunzipFile(PathOf("new.gz")), (Bytes{42, 0, 0, 0}));
}

// A value that the data end inside is not read: false, destination kept.
TEST_F(BinaryStreamTest, TruncatedValuesLeaveTheirDestinationUnchanged) {
  using Reader = bool (*)(BinaryStream&);
  struct Case {
    const char* name;
    int width;
    Reader read;
  };
  const Case cases[] = {
      {"GetInt16", 2, [](BinaryStream& s) { int16_t v = 77; return s.GetInt16(v) || v != 77; }},
      {"GetInt16Swapped", 2, [](BinaryStream& s) { int16_t v = 77; return s.GetInt16Swapped(v) || v != 77; }},
      {"GetInt32", 4, [](BinaryStream& s) { int32_t v = 77; return s.GetInt32(v) || v != 77; }},
      {"GetInt32Swapped", 4, [](BinaryStream& s) { int32_t v = 77; return s.GetInt32Swapped(v) || v != 77; }},
      {"Get4Bytes", 4, [](BinaryStream& s) { uint32_t v = 77; return s.Get4Bytes(v) || v != 77; }},
      {"Get4BytesSwapped", 4, [](BinaryStream& s) { uint32_t v = 77; return s.Get4BytesSwapped(v) || v != 77; }},
      {"GetFloat", 4, [](BinaryStream& s) { float v = 7.5f; return s.GetFloat(v) || v != 7.5f; }},
      {"Get8Bytes", 8, [](BinaryStream& s) { uint64_t v = 77; return s.Get8Bytes(v) || v != 77; }},
      {"Get8Bytes(double)", 8, [](BinaryStream& s) { double v = 7.5; return s.Get8Bytes(v) || v != 7.5; }},
  };
  for (bool gzip : {false, true}) {
    for (const Case& tc : cases) {
      // The missing byte is the value's last; the value also straddles the
      // buffer boundary.
      for (int lead : {0, BinaryStream::kBufferSize - 1}) {
        SCOPED_TRACE(std::string(tc.name) + (gzip ? " gzip" : " plain") + " lead " + std::to_string(lead));
        const std::string path = PathOf("short");
        Bytes data(size_t(lead + tc.width - 1), 0xab);
        if (gzip) {
          WriteGzip(path, data);
        } else {
          WriteRaw(path, data);
        }
        BinaryStream in;
        ASSERT_TRUE(OpenStream(in, path, false, gzip));
        Bytes skip(static_cast<size_t>(lead), 0);
        ASSERT_EQ(in.GetBlock(skip.data(), skip.size()), skip.size());
        EXPECT_FALSE(tc.read(in));
        EXPECT_TRUE(in.AtEnd());
      }
    }
  }
}

TEST_F(BinaryStreamTest, MalformedChainedIntegersRaiseTheFormatError) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool isSigned;
  };
  const Case cases[] = {
      {"six bytes, unsigned", {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, false},
      {"six bytes, signed", {0x81, 0x80, 0x80, 0x80, 0x80, 0x01}, true},
      {"more than 32 bits, unsigned", {0xff, 0xff, 0xff, 0xff, 0x1f}, false},
      {"more than 32 bits, signed", {0xfe, 0xff, 0xff, 0xff, 0x20}, true},
      {"data end after a continued byte, unsigned", {0x80}, false},
      {"data end after a continued byte, signed", {0xff, 0xff}, true},
  };
  for (bool gzip : {false, true}) {
    for (const Case& tc : cases) {
      SCOPED_TRACE(std::string(tc.name) + (gzip ? " gzip" : " plain"));
      const std::string path = PathOf("chained_bad");
      if (gzip) {
        WriteGzip(path, tc.bytes);
      } else {
        WriteRaw(path, tc.bytes);
      }
      BinaryStream in;
      ASSERT_TRUE(OpenStream(in, path, false, gzip));
      try {
        if (tc.isSigned) {
          in.GetSignedChained();
        } else {
          in.GetUnsignedChained();
        }
        ADD_FAILURE() << "no error raised";
      } catch (const Error& e) {
        EXPECT_STREQ(e.Message(), "Wrong Chained Integer format");
        ASSERT_NE(e.Unit(), nullptr);
        EXPECT_STREQ(e.Unit(), "BinaryIn");
      }
    }
    // At the end of the data before a first byte, both give 0.
    const std::string path = PathOf("empty");
    if (gzip) {
      WriteGzip(path, {});
    } else {
      WriteRaw(path, {});
    }
    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, path, false, gzip));
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(in.GetUnsignedChained(), 0u);
    EXPECT_EQ(in.GetSignedChained(), 0);
  }
}

TEST_F(BinaryStreamTest, DamagedGzipDataAreReportedNotTakenForTheEnd) {
  const std::string path = PathOf("damaged.gz");
  std::mt19937 rng(99);
  Bytes data(200000);
  for (auto& x : data) x = uint8_t(rng() % 16);  // compressible, long stream
  WriteGzip(path, data);
  Bytes stored = RawFile(path);
  for (size_t i = stored.size() / 3; i < stored.size() / 3 + 64; ++i) stored[i] ^= 0x5a;
  WriteRaw(path, stored);

  BinaryStream in;
  ASSERT_TRUE(OpenStream(in, path, false, true));
  Bytes got(data.size());
  try {
    size_t total = 0;
    while (size_t n = in.GetBlock(got.data(), 4096)) total += n;
    ADD_FAILURE() << "damaged data read as " << total << " bytes without an error";
  } catch (const Error& e) {
    ASSERT_NE(e.Unit(), nullptr);
    EXPECT_STREQ(e.Unit(), "BinaryIn");
  }
}

// A full disk must never look like success: the failure surfaces as an
// Error with the owner's unit tag, and the stream is closed afterwards.
TEST_F(BinaryStreamTest, WriteFailuresAreReported) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full not available";
  struct Case {
    bool gzip;
    size_t count;           // bytes written before Close
    bool failsBeforeClose;  // a full buffer is written out on the way
  };
  // Plain: a small write fails at Close, a large one when the buffer is
  // written out; gzip: at the latest when the stream is closed.
  const Case cases[] = {
      {false, 10, false}, {false, 5000, true}, {true, 10, false}, {true, 300000, false}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.gzip ? "gzip " : "plain ") + std::to_string(tc.count));
    BinaryStream out;
    out.unit = "LIBOUT";
    ASSERT_TRUE(OpenStream(out, "/dev/full", true, tc.gzip));
    bool reported = false;
    try {
      std::mt19937 rng(3);
      for (size_t i = 0; i < tc.count; ++i) out.PutChar(uint8_t(rng()));
      EXPECT_FALSE(tc.failsBeforeClose) << "no error while writing";
      out.Close();
    } catch (const Error& e) {
      reported = true;
      ASSERT_NE(e.Unit(), nullptr);
      EXPECT_STREQ(e.Unit(), "LIBOUT");
      EXPECT_NE(std::strstr(e.Message(), "/dev/full"), nullptr) << e.Message();
    }
    EXPECT_TRUE(reported);
    if (out.IsOpen()) {
      EXPECT_THROW(out.Close(), Error);
    }
    EXPECT_FALSE(out.IsOpen());
  }
}

// Flush makes everything written so far readable from the file while the
// stream stays open (a gzip stream ends its pending block), writing goes on
// afterwards, and a flush that cannot write is reported.
TEST_F(BinaryStreamTest, FlushMakesWrittenBytesReadableBeforeClose) {
  Bytes first(5000), second(3000);
  for (size_t i = 0; i < first.size(); ++i) first[i] = uint8_t(i * 7 + 1);
  for (size_t i = 0; i < second.size(); ++i) second[i] = uint8_t(i * 13 + 2);
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    const std::string path = PathOf(gzip ? "flushed.gz" : "flushed");
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, path, true, gzip));
    out.PutBlock(first.data(), first.size());
    out.Flush();
    EXPECT_EQ(out.Tell(), int64_t(first.size()));
    // Read back with an independent reader while the stream is open.
    Bytes seen;
    if (gzip) {
      gzFile gz = gzopen(path.c_str(), "rb");
      ASSERT_NE(gz, nullptr);
      seen.resize(first.size());
      EXPECT_EQ(gzread(gz, seen.data(), unsigned(seen.size())), int(first.size()));
      gzclose(gz);
    } else {
      seen = RawFile(path);
    }
    EXPECT_EQ(seen, first);
    out.PutBlock(second.data(), second.size());
    out.Close();
    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(gzip ? GunzipFile(path) : RawFile(path), all);
  }
  if (::access("/dev/full", W_OK) == 0) {
    BinaryStream full;
    full.unit = "LIBOUT";
    ASSERT_TRUE(OpenStream(full, "/dev/full", true, false));
    full.PutInt32(1);
    EXPECT_THROW(full.Flush(), Error);
    EXPECT_THROW(full.Close(), Error);
  }
}

// Reopening a stream that is still open for writing first writes out its
// pending bytes (a temporary file switched from writing to reading).
TEST_F(BinaryStreamTest, ReopeningWritesOutPendingBytes) {
  const std::string path = PathOf("temp");
  BinaryStream s;
  ASSERT_TRUE(OpenStream(s, path, true, false));
  s.PutInt32(123456);
  s.write = false;
  ASSERT_TRUE(s.Open());
  int32_t v = 0;
  ASSERT_TRUE(s.GetInt32(v));
  EXPECT_EQ(v, 123456);
  EXPECT_EQ(s.fileSize, 4);

  BinaryStream missing;
  EXPECT_FALSE(OpenStream(missing, PathOf("none"), false, false));
  EXPECT_FALSE(OpenStream(missing, PathOf("none.gz"), false, true));
  EXPECT_FALSE(OpenStream(missing, dir_, false, false));
  EXPECT_FALSE(missing.IsOpen());
}

// Copying the rest of a read stream behind the data of a write stream.
TEST_F(BinaryStreamTest, AppendStreamCopiesTheUnreadRest) {
  const std::string src = PathOf("tempdb");
  Bytes data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + 5);
  WriteRaw(src, data);

  for (bool gzipOut : {false, true}) {
    SCOPED_TRACE(gzipOut ? "into gzip" : "into plain");
    const std::string dst = PathOf(gzipOut ? "cell.gz" : "cell");
    BinaryStream out;
    ASSERT_TRUE(OpenStream(out, dst, true, gzipOut));
    out.PutBlock("head", 4);

    BinaryStream in;
    ASSERT_TRUE(OpenStream(in, src, false, false));
    Bytes skipped(100);
    ASSERT_EQ(in.GetBlock(skipped.data(), skipped.size()), 100u);  // buffer partly consumed
    out.AppendStream(in);
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(out.Tell(), int64_t(4 + data.size() - 100));
    out.Close();

    Bytes expected{'h', 'e', 'a', 'd'};
    expected.insert(expected.end(), data.begin() + 100, data.end());
    EXPECT_EQ(gzipOut ? GunzipFile(dst) : RawFile(dst), expected);
  }
}

}  // namespace
}  // namespace velmar
