// GDSII record layer and 8-byte reals: the published byte patterns, exact
// round trips, refused values, record look-ahead and skipping, malformed
// record headers and payloads, and the writer's record headers and strings.
#include "formats/gds_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/gds_builder.h"
#include "foundation/error.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

using Bytes = std::vector<uint8_t>;
using test::GdsBuilder;
using test::StdoutCapture;
using test::TempDir;

Bytes ToBytes(double v) {
  Bytes b(8);
  DoubleToGdsReal(v, b.data());
  return b;
}

// Independent reading of an 8-byte real: the 56-bit fraction as an exact
// integer, scaled by a power of two in long double.
long double OracleReal(const Bytes& b) {
  uint64_t fraction = 0;
  for (int i = 1; i < 8; ++i) fraction = (fraction << 8) | b[i];
  const int exponent = 4 * (int(b[0] & 0x7f) - 64) - 56;
  const long double v = std::ldexp(static_cast<long double>(fraction), exponent);
  return (b[0] & 0x80) ? -v : v;
}

// --- Reals ------------------------------------------------------------------

TEST(GdsReal, PublishedBytePatterns) {
  struct Case {
    double value;
    Bytes bytes;
  } cases[] = {
      {1.0, {0x41, 0x10, 0, 0, 0, 0, 0, 0}},
      {-1.0, {0xC1, 0x10, 0, 0, 0, 0, 0, 0}},
      {0.001, {0x3E, 0x41, 0x89, 0x37, 0x4B, 0xC6, 0xA7, 0xF0}},
      {1e-9, {0x39, 0x44, 0xB8, 0x2F, 0xA0, 0x9B, 0x5A, 0x54}},
      {90.0, {0x42, 0x5A, 0, 0, 0, 0, 0, 0}},
      {0.0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {1e-17, {0, 0, 0, 0, 0, 0, 0, 0}},
      {-1e-17, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToBytes(c.value), c.bytes) << c.value;
  }
  for (double v : {1.0, -1.0, 90.0}) {
    EXPECT_EQ(GdsRealToDouble(ToBytes(v).data()), v);
  }
  // The published encodings of 1e-3 and 1e-9 read back as the nearest
  // doubles.
  EXPECT_EQ(GdsRealToDouble(Bytes{0x3E, 0x41, 0x89, 0x37, 0x4B, 0xC6, 0xA7, 0xF0}.data()),
            0.001);
  EXPECT_EQ(GdsRealToDouble(Bytes{0x39, 0x44, 0xB8, 0x2F, 0xA0, 0x9B, 0x5A, 0x54}.data()),
            1e-9);
  EXPECT_EQ(GdsRealToDouble(Bytes(8, 0).data()), 0.0);
  // A zero fraction with any exponent is zero.
  EXPECT_EQ(GdsRealToDouble(Bytes{0x7f, 0, 0, 0, 0, 0, 0, 0}.data()), 0.0);
}

TEST(GdsReal, RoundTripIsExactAndNormalised) {
  std::vector<double> values = {
      0.0,    1.0,   -1.0,      1e-9,      1e-3,  -1e-3,    0.5,
      0.0625, 1.0 / 3.0, -123456.789, 1e-6, 2.5e-10, 65536.0, 1e75,
      -1e75,  4.440892098500626e-16,  // 2^-51, just above the zero bound
  };
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mant(1.0, 2.0);
  std::uniform_int_distribution<int> exp(-50, 240);
  for (int i = 0; i < 2000; ++i) {
    double v = std::ldexp(mant(rng), exp(rng));
    if (i & 1) v = -v;
    values.push_back(v);
  }
  for (double v : values) {
    const Bytes b = ToBytes(v);
    const double back = GdsRealToDouble(b.data());
    ASSERT_EQ(back, v) << v;
    // Independent decoding agrees, and the fraction is normalised
    // (first hex digit non-zero) for every non-zero value.
    ASSERT_EQ(OracleReal(b), static_cast<long double>(v)) << v;
    if (v != 0.0) {
      ASSERT_GE(b[1], 0x10) << v;
    }
    ASSERT_EQ((b[0] & 0x80) != 0, v < 0) << v;
  }
}

TEST(GdsReal, TinyMagnitudesBecomeZero) {
  for (double v : {2.220446049250313e-16, -2.220446049250313e-16, 1e-30,
                   std::numeric_limits<double>::denorm_min()}) {
    EXPECT_EQ(ToBytes(v), Bytes(8, 0)) << v;
  }
}

TEST(GdsReal, UnrepresentableValuesAreRefused) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), 1e300,
                        -1e300, 0x1p252};
  for (double v : bad) {
    Bytes b(8, 0xAA);
    try {
      DoubleToGdsReal(v, b.data());
      FAIL() << "accepted " << v;
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "GDSOUT");
    }
    EXPECT_EQ(b, Bytes(8, 0xAA)) << "bytes changed for " << v;
  }
  // Just below 16^63 still fits.
  const double top = std::nextafter(0x1p252, 0.0);
  EXPECT_EQ(GdsRealToDouble(ToBytes(top).data()), top);
}

// --- Reader record layer ---------------------------------------------------------

class GdsRecordReaderTest : public ::testing::Test {
 protected:
  // Opens a reader on the builder's bytes (plain or gzip).
  void Open(const GdsBuilder& b, bool gzip = false) {
    Open(b.Bytes(), gzip);
  }
  void Open(const Bytes& bytes, bool gzip = false) {
    const std::string path = dir_.File(gzip ? "in.gds.gz" : "in.gds");
    test::WriteBytes(path, bytes, gzip);
    reader_ = std::make_unique<GdsRecordReader>();
    reader_->input.path = path;
    reader_->input.gzip = gzip;
    reader_->input.write = false;
    ASSERT_TRUE(reader_->input.Open());
  }
  // Message of the Error thrown by f (unit GDSIN required); "" when none.
  template <typename F>
  std::string ErrorOf(F f) {
    try {
      f();
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "GDSIN");
      return e.Message();
    }
    return "";
  }

  TempDir dir_;
  std::unique_ptr<GdsRecordReader> reader_;
};

TEST_F(GdsRecordReaderTest, LookAheadHoldsTheRecordUntilAskedFor) {
  GdsBuilder b;
  b.Int16s(GdsRecord::Layer, {7}).Int16s(GdsRecord::Datatype, {3});
  Open(b);
  int16_t v = 0;
  EXPECT_FALSE(reader_->ReadDatatype(v));  // LAYER is next: held
  EXPECT_TRUE(reader_->held);
  int32_t w = 0;
  EXPECT_FALSE(reader_->ReadWidth(w));
  EXPECT_TRUE(reader_->ReadLayer(v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(reader_->ReadDatatype(v));
  EXPECT_EQ(v, 3);
  EXPECT_TRUE(reader_->AtEnd());
  // At the clean end every question is answered no.
  EXPECT_FALSE(reader_->ReadLayer(v));
  EXPECT_FALSE(reader_->held);
}

TEST_F(GdsRecordReaderTest, UnknownRecordsAreReportedAndSkipped) {
  GdsBuilder b;
  b.Int16s(GdsRecord::Layer, {1})
      .Record(60, 2, {0, 5})
      .Record(200, 0, {})      // no payload at all
      .Record(57, 6, Bytes(301, 'x'))
      .Int16s(GdsRecord::Datatype, {9});
  Open(b);
  StdoutCapture out;
  int16_t v = 0;
  ASSERT_TRUE(reader_->ReadLayer(v));
  ASSERT_TRUE(reader_->ReadDatatype(v));
  EXPECT_EQ(v, 9);
  EXPECT_EQ(out.Stop(),
            "Warning: Unknown Record Type 60, skipping !\n"
            "Warning: Unknown Record Type 200, skipping !\n"
            "Warning: Unknown Record Type 57, skipping !\n");
}

TEST_F(GdsRecordReaderTest, StringsWithAndWithoutPad) {
  GdsBuilder b;
  b.String(GdsRecord::StrName, "ABC", true)    // length 8
      .String(GdsRecord::StrName, "ABC", false)  // length 7
      .String(GdsRecord::StrName, "ABCD", true)  // even, no pad
      .Record(GdsRecord::StrName, 6, {'A', 0, 'B', 0});  // first NUL ends it
  ASSERT_EQ(b.Bytes()[1], 8);
  Open(b);
  StdoutCapture out;
  for (const char* want : {"ABC", "ABC", "ABCD", "A"}) {
    ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::StrName));
    EXPECT_EQ(reader_->ReadGdsString(), want);
  }
  EXPECT_EQ(out.Stop(),
            "Warning: GDS String is odd length, it must be even length\n");
  EXPECT_EQ(reader_->oddStringReports, 1);
}

TEST_F(GdsRecordReaderTest, OddStringWarningsStopAtTheReportLimit) {
  GdsBuilder b;
  for (int i = 0; i < 25; ++i) b.String(GdsRecord::String, "odd", false);
  Open(b);
  StdoutCapture out;
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::String));
    reader_->ReadGdsString();
  }
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    expected += "Warning: GDS String is odd length, it must be even length\n";
  }
  expected += "Same warning will not be shown any more\n";
  EXPECT_EQ(out.Stop(), expected);
  EXPECT_EQ(reader_->oddStringReports, 25);
}

TEST_F(GdsRecordReaderTest, LargestPayloadsAreReadAndSkippedWhole) {
  const std::string big(65530, 'n');  // 65,534-byte record
  GdsBuilder b;
  b.String(GdsRecord::SName, big)
      .Record(GdsRecord::Format, 2, Bytes(kGdsMaxPayload, 0x55))
      .Record(250, 2, Bytes(kGdsMaxPayload, 0x66))
      .Int16s(GdsRecord::Layer, {42});
  Open(b, /*gzip=*/true);
  StdoutCapture out;
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::SName));
  EXPECT_EQ(reader_->ReadGdsString(), big);
  EXPECT_TRUE(reader_->SkipRecord(GdsRecord::Format));
  int16_t v = 0;
  ASSERT_TRUE(reader_->ReadLayer(v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(reader_->AtEnd());
}

TEST_F(GdsRecordReaderTest, ExtraPayloadBytesNeverDesynchronise) {
  // A LAYER with 6 data bytes, a WIDTH with 8: the reader takes the value
  // and passes over the rest before the next header.
  GdsBuilder b;
  b.Record(GdsRecord::Layer, 2, {0, 5, 0xff, 0xff, 0x00, 0x10})
      .Record(GdsRecord::Width, 3, {0, 0, 1, 0, 0, 4, 0x00, 0x11})
      .Int16s(GdsRecord::Datatype, {6});
  Open(b);
  int16_t layer = 0, dt = 0;
  int32_t width = 0;
  ASSERT_TRUE(reader_->ReadLayer(layer));
  ASSERT_TRUE(reader_->ReadWidth(width));
  ASSERT_TRUE(reader_->ReadDatatype(dt));
  EXPECT_EQ(layer, 5);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(dt, 6);
}

TEST_F(GdsRecordReaderTest, ShortPayloadsAreRefusedWithoutReadingOn) {
  // A LAYER of 1 data byte followed by a DATATYPE: reading the layer must
  // not consume the next header.
  GdsBuilder b;
  b.Record(GdsRecord::Layer, 2, {7}).Int16s(GdsRecord::Datatype, {1});
  Open(b);
  int16_t v = 0;
  EXPECT_EQ(ErrorOf([&] { reader_->ReadLayer(v); }),
            "Record type 13 too short (1 data bytes)");
  // An XY of 12 bytes holds one point; the second is refused.
  GdsBuilder c;
  c.Record(GdsRecord::XY, 3, Bytes(12, 1));
  Open(c);
  int32_t x, y;
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::XY));
  reader_->ReadPoint(x, y);
  EXPECT_EQ(x, 0x01010101);
  EXPECT_EQ(ErrorOf([&] { reader_->ReadPoint(x, y); }),
            "Record type 16 too short (12 data bytes)");
  // An empty string payload where a string is read.
  GdsBuilder d;
  d.Record(GdsRecord::SName, 6, {});
  Open(d);
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::SName));
  EXPECT_EQ(ErrorOf([&] { reader_->ReadGdsString(); }),
            "String defined but end of file");
}

TEST_F(GdsRecordReaderTest, MalformedHeadersAndTruncation) {
  struct Case {
    const char* what;
    Bytes bytes;
    uint8_t ask;
    std::string message;
  } cases[] = {
      {"length 0", {0, 0, 13, 2, 0, 1}, GdsRecord::Layer,
       "Invalid record length 0 of record type 13"},
      {"length 1", {0, 1, 13, 2}, GdsRecord::Layer,
       "Invalid record length 1 of record type 13"},
      {"length 2", {0, 2, 13, 2}, GdsRecord::Layer,
       "Invalid record length 2 of record type 13"},
      {"length 3", {0, 3, 60, 2}, GdsRecord::Layer,
       "Invalid record length 3 of record type 60"},
      {"1 header byte", {0}, GdsRecord::Layer,
       "Record size defined but end of file"},
      {"2 header bytes", {0, 6}, GdsRecord::Layer,
       "Record type defined but end of file"},
      {"3 header bytes", {0, 6, 13}, GdsRecord::Layer,
       "Datatype defined but end of file"},
      {"value cut", {0, 6, 13, 2, 0}, GdsRecord::Layer,
       "Layer defined but end of file"},
      {"unknown record cut", {0, 6, 99, 2, 0}, GdsRecord::Layer,
       "Untreated data defined but end of file"},
      {"width cut", {0, 8, 15, 3, 0, 0, 0}, GdsRecord::Width,
       "Path width defined but end of file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.bytes);
    StdoutCapture out;
    EXPECT_EQ(ErrorOf([&] {
                int16_t v16;
                int32_t v32;
                if (c.ask == GdsRecord::Width) {
                  reader_->ReadWidth(v32);
                } else {
                  reader_->ReadLayer(v16);
                }
              }),
              c.message);
  }
  // A skipped record cut off by the end of the file.
  Open(Bytes{0, 20, GdsRecord::Fonts, 6, 'a', 'b'});
  EXPECT_EQ(ErrorOf([&] { reader_->SkipRecord(GdsRecord::Fonts); }),
            "Untreated data defined but end of file");
  // Dates cut short.
  GdsBuilder b;
  b.Record(GdsRecord::BgnStr, 2, Bytes(30, 0));
  Bytes cut = b.Bytes();
  cut.resize(4 + 11);
  Open(cut);
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::BgnStr));
  EXPECT_EQ(ErrorOf([&] { reader_->ReadDates(); }),
            "Date defined but end of file");
}

TEST_F(GdsRecordReaderTest, SingleValueRecordsReadTheirWidth) {
  GdsBuilder b;
  b.Int16s(GdsRecord::Header, {600})
      .Int16s(GdsRecord::ElFlags, {3})
      .Int16s(GdsRecord::BoxType, {-2})
      .Int16s(GdsRecord::NodeType, {4})
      .Int16s(GdsRecord::Presentation, {0x0a})
      .Int32s(GdsRecord::Width, {-70000})
      .Int16s(GdsRecord::BgnLib, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})
      .Reals(GdsRecord::Units, {0.001, 1e-9});
  Open(b);
  int16_t v = 0;
  int32_t w = 0;
  ASSERT_TRUE(reader_->ReadHeader(v));
  EXPECT_EQ(v, 600);
  ASSERT_TRUE(reader_->ReadElFlags());
  ASSERT_TRUE(reader_->ReadBoxType(v));
  EXPECT_EQ(v, -2);
  ASSERT_TRUE(reader_->ReadNodeType(v));
  EXPECT_EQ(v, 4);
  ASSERT_TRUE(reader_->ReadPresentation(v));
  EXPECT_EQ(v, 0x0a);
  ASSERT_TRUE(reader_->ReadWidth(w));
  EXPECT_EQ(w, -70000);
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::BgnLib));
  reader_->ReadDates();
  EXPECT_EQ(reader_->PayloadLeft(), 0);
  ASSERT_TRUE(reader_->ReadRecordHeader(GdsRecord::Units));
  EXPECT_EQ(reader_->ReadReal("u"), 0.001);
  EXPECT_EQ(reader_->ReadReal("u"), 1e-9);
  EXPECT_TRUE(reader_->AtEnd());
}

// --- Writer record layer -----------------------------------------------------------

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(GdsRecordWriter, HeadersStringsDatesAndReals) {
  TempDir dir;
  GdsRecordWriter w;
  w.output.path = dir.File("out.gds");
  w.output.write = true;
  ASSERT_TRUE(w.output.Open());
  w.time.tm_year = 107;  // 2007
  w.time.tm_mon = 9;     // October
  w.time.tm_mday = 2;
  w.time.tm_hour = 13;
  w.time.tm_min = 5;
  w.time.tm_sec = 59;
  w.WriteRecordHeader(5, GdsData::Ascii, GdsRecord::StrName);
  w.WriteString("TOPXX");
  w.WriteRecordHeader(5, GdsData::Int16, GdsRecord::Layer);
  w.WriteRecordHeader(4, GdsData::Ascii, GdsRecord::SName);
  w.WriteString("ABCD");
  w.WriteRecordHeader(24, GdsData::Int16, GdsRecord::BgnStr);
  w.WriteDates();
  w.WriteRecordHeader(8, GdsData::Real8, GdsRecord::Mag);
  w.WriteReal(2.0);
  w.output.Close();
  const Bytes expected = {
      0, 10, 6, 6, 'T', 'O', 'P', 'X', 'X', 0,  //
      0, 9, 13, 2,                              //
      0, 8, 18, 6, 'A', 'B', 'C', 'D',          //
      0, 28, 5, 2,                              //
      0x07, 0xD7, 0, 10, 0, 2, 0, 13, 0, 5, 0, 59,
      0x07, 0xD7, 0, 10, 0, 2, 0, 13, 0, 5, 0, 59,  //
      0, 12, 27, 5, 0x41, 0x20, 0, 0, 0, 0, 0, 0,
  };
  EXPECT_EQ(ReadFile(dir.File("out.gds")), expected);
}

TEST(GdsRecordWriter, OverlongRecordsAndFailedWritesAreErrors) {
  TempDir dir;
  GdsRecordWriter w;
  w.output.path = dir.File("long.gds");
  w.output.write = true;
  ASSERT_TRUE(w.output.Open());
  EXPECT_NO_THROW(w.WriteRecordHeader(65531, GdsData::Int32, GdsRecord::XY));
  // 65,531 string bytes would need a pad byte: 65,536 does not fit.
  EXPECT_THROW(w.WriteRecordHeader(65531, GdsData::Ascii, GdsRecord::String),
               Error);
  EXPECT_THROW(w.WriteRecordHeader(65532, GdsData::Int32, GdsRecord::XY),
               Error);
  w.output.Close();
  EXPECT_EQ(ReadFile(dir.File("long.gds")).size(), 4u);

  // A full disk is an error, not a short file and success.
  if (std::ifstream("/dev/full").good()) {
    GdsRecordWriter full;
    full.output.path = "/dev/full";
    full.output.write = true;
    ASSERT_TRUE(full.output.Open());
    try {
      for (int i = 0; i < 10000; ++i) {
        full.WriteRecordHeader(4, GdsData::Ascii, GdsRecord::StrName);
        full.WriteString("CELL");
      }
      full.output.Close();
      FAIL() << "writing to a full device succeeded";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "GDSOUT");
    }
  }
}

}  // namespace
}  // namespace velmar
