// OASIS encodings below the record level: integers, reals, strings, deltas,
// point lists, repetitions and property values, read from bytes that the
// test builder spells out and written by the file object, compared byte for
// byte with the builder's independent encoding; values that do not fit,
// files that end inside a value, and refused input.
#include "formats/oasis_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/oasis_builder.h"
#include "foundation/error.h"
#include "support/temp_dir.h"

namespace velmar {

// Displacements print as (x, y) in failure messages.
void PrintTo(const OasisDelta& d, std::ostream* out) {
  *out << "(" << d.x << ", " << d.y << ")";
}

namespace {

using Bytes = std::vector<uint8_t>;
using test::OasisBuilder;
using test::TempDir;

constexpr int64_t k31 = int64_t(1) << 31;
constexpr int64_t k32 = int64_t(1) << 32;
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();


// Runs body and checks that it throws Error with the unit and message.
void ExpectError(const std::function<void()>& body, const char* unit,
                 const std::string& message, const std::string& context = {}) {
  try {
    body();
    ADD_FAILURE() << context << ": no error, expected \"" << message << "\"";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), unit) << context;
    EXPECT_EQ(std::string(e.Message()), message) << context;
  }
}

class OasisPrimitives : public ::testing::Test {
 protected:
  // An OasisFile reading the bytes (written to a scratch file).
  std::unique_ptr<OasisFile> Reader(const Bytes& bytes) {
    const std::string path = temp_.File("in" + std::to_string(files_++) + ".oas");
    {
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                std::streamsize(bytes.size()));
    }
    auto file = std::make_unique<OasisFile>();
    file->OpenInput(path);
    return file;
  }

  // The bytes that write puts into a fresh file.
  Bytes Written(const std::function<void(OasisFile&)>& write) {
    const std::string path = temp_.File("out.oas");
    {
      OasisFile file;
      file.OpenOutput(path);
      write(file);
      file.stream.Close();
    }
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  TempDir temp_;
  int files_ = 0;
};

// --- Round trips ------------------------------------------------------------------

enum class Kind { Unsigned, Signed, Delta1H, Delta1V, Delta2, Delta3, DeltaG, Real };

struct RoundTrip {
  const char* name;
  Kind kind;
  uint64_t u = 0;     // Unsigned
  OasisDelta d = {};  // Signed (in d.x) and the deltas
  double real = 0;    // Real: the value written ...
  double readBack = 0;  // ... and the value read back
  // The builder's encoding of the case, which the writer must produce.
  std::function<void(OasisBuilder&)> encode;
};

RoundTrip U(const char* name, uint64_t v) {
  return {name, Kind::Unsigned, v, {}, 0, 0, [v](OasisBuilder& b) { b.U(v); }};
}
RoundTrip S(const char* name, int64_t v) {
  return {name, Kind::Signed, 0, {v, 0}, 0, 0, [v](OasisBuilder& b) { b.S(v); }};
}
RoundTrip D(const char* name, Kind kind, OasisDelta d,
            std::function<void(OasisBuilder&)> encode) {
  return {name, kind, 0, d, 0, 0, std::move(encode)};
}
RoundTrip R(const char* name, double v, double readBack,
            std::function<void(OasisBuilder&)> encode) {
  return {name, Kind::Real, 0, {}, v, readBack, std::move(encode)};
}

// The directions as unit steps, in the numbering of the format.
constexpr int kDx[8] = {1, 0, -1, 0, 1, -1, -1, 1};
constexpr int kDy[8] = {0, 1, 0, -1, 1, 1, -1, -1};

std::vector<RoundTrip> RoundTripCases() {
  std::vector<RoundTrip> cases = {
      U("u 0", 0), U("u 127", 127), U("u 128", 128), U("u 150", 150),
      U("u 2^31-1", k31 - 1), U("u 2^31", k31), U("u 2^32-1", k32 - 1),
      U("u 2^32", k32), U("u 2^56", uint64_t(1) << 56), U("u 2^63", uint64_t(1) << 63),
      U("u 2^64-1", kU64Max),
      S("s 0", 0), S("s 1", 1), S("s -1", -1), S("s 63", 63), S("s -64", -64),
      S("s 64", 64), S("s int32 min", -k31), S("s int32 max", k31 - 1),
      S("s 2^32", k32), S("s -2^32", -k32), S("s int64 max", kI64Max),
      S("s -int64 max", -kI64Max),
      D("1-delta horizontal", Kind::Delta1H, {-5, 0}, [](OasisBuilder& b) { b.S(-5); }),
      D("1-delta vertical", Kind::Delta1V, {0, k32 - 1},
        [](OasisBuilder& b) { b.S(k32 - 1); }),
      D("1-delta int32 span", Kind::Delta1H, {-(k32 - 1), 0},
        [](OasisBuilder& b) { b.S(-(k32 - 1)); }),
      D("2-delta zero", Kind::Delta2, {0, 0}, [](OasisBuilder& b) { b.Delta2(3, 0); }),
      D("2-delta east", Kind::Delta2, {k31, 0}, [](OasisBuilder& b) { b.Delta2(0, k31); }),
      D("2-delta north", Kind::Delta2, {0, k32 - 1},
        [](OasisBuilder& b) { b.Delta2(1, k32 - 1); }),
      D("2-delta west", Kind::Delta2, {-k32, 0}, [](OasisBuilder& b) { b.Delta2(2, k32); }),
      D("2-delta south", Kind::Delta2, {0, -(k31 + 1)},
        [](OasisBuilder& b) { b.Delta2(3, k31 + 1); }),
      D("g-delta zero", Kind::DeltaG, {0, 0},
        [](OasisBuilder& b) { b.DeltaGOctant(0, 0); }),
      D("g-delta free small", Kind::DeltaG, {1, 2},
        [](OasisBuilder& b) { b.DeltaGFree(1, 2); }),
      D("g-delta free both negative", Kind::DeltaG, {-3, -7},
        [](OasisBuilder& b) { b.DeltaGFree(-3, -7); }),
      D("g-delta free 33 bits", Kind::DeltaG, {k32 - 1, -k31},
        [](OasisBuilder& b) { b.DeltaGFree(k32 - 1, -k31); }),
      D("g-delta free 34 bits", Kind::DeltaG, {-k32, k32 - 1},
        [](OasisBuilder& b) { b.DeltaGFree(-k32, k32 - 1); }),
      D("g-delta free 2^31, 1", Kind::DeltaG, {k31, 1},
        [](OasisBuilder& b) { b.DeltaGFree(k31, 1); }),
      R("real 1000", 1000.0, 1000.0, [](OasisBuilder& b) { b.RealU(0, 1000); }),
      R("real -2", -2.0, -2.0, [](OasisBuilder& b) { b.RealU(1, 2); }),
      R("real 0.001", 0.001, 0.001, [](OasisBuilder& b) { b.RealU(2, 1000); }),
      R("real 0.5", 0.5, 0.5, [](OasisBuilder& b) { b.RealU(2, 2); }),
      R("real -0.25", -0.25, -0.25, [](OasisBuilder& b) { b.RealU(3, 4); }),
      R("real 1/3", 1.0 / 3.0, 1.0 / 3.0, [](OasisBuilder& b) { b.RealU(2, 3); }),
      R("real 0", 0.0, 0.0, [](OasisBuilder& b) { b.RealU(0, 0); }),
      R("real 3e9", 3e9, 3e9, [](OasisBuilder& b) { b.RealU(0, 3000000000u); }),
      R("real 0.3", 0.3, 0.3, [](OasisBuilder& b) { b.RealDouble(0.3); }),
      R("real pi", M_PI, M_PI, [](OasisBuilder& b) { b.RealDouble(M_PI); }),
      R("real 1e20", 1e20, 1e20, [](OasisBuilder& b) { b.RealDouble(1e20); }),
      // Close to zero: never written as 0.
      R("real 1e-7", 1e-7, 1e-7, [](OasisBuilder& b) { b.RealU(2, 10000000); }),
      R("real -1e-9", -1e-9, -1e-9, [](OasisBuilder& b) { b.RealU(3, 1000000000); }),
      R("real 2^-30", 0x1p-30, 0x1p-30, [](OasisBuilder& b) { b.RealU(2, 1u << 30); }),
      R("real 1e-30", 1e-30, 1e-30, [](OasisBuilder& b) { b.RealDouble(1e-30); }),
      // Within 2^-23 of an integer: written as that integer.
      R("real 1.0000001", 1.0000001, 1.0, [](OasisBuilder& b) { b.RealU(0, 1); }),
  };
  // 3-deltas and the one-integer g-delta form in all eight directions, with
  // magnitudes around 2^31 and 2^32.
  const int64_t magnitudes[8] = {k31 - 1, k31, k32 - 1, k32, k31, k32 - 1, k32, 1};
  static const char* const names3[8] = {"3-delta E", "3-delta N", "3-delta W", "3-delta S",
                                        "3-delta NE", "3-delta NW", "3-delta SW", "3-delta SE"};
  static const char* const namesG[8] = {"g-delta E", "g-delta N", "g-delta W", "g-delta S",
                                        "g-delta NE", "g-delta NW", "g-delta SW", "g-delta SE"};
  for (int dir = 0; dir < 8; ++dir) {
    const int64_t m = magnitudes[dir];
    const OasisDelta d{kDx[dir] * m, kDy[dir] * m};
    cases.push_back(D(names3[dir], Kind::Delta3, d,
                      [dir, m](OasisBuilder& b) { b.Delta3(dir, uint64_t(m)); }));
    const int64_t g = magnitudes[7 - dir];
    const OasisDelta dg{kDx[dir] * g, kDy[dir] * g};
    cases.push_back(D(namesG[dir], Kind::DeltaG, dg,
                      [dir, g](OasisBuilder& b) { b.DeltaGOctant(dir, uint64_t(g)); }));
  }
  return cases;
}

// Every case written by the file object, in one file: the bytes equal the
// builder's, and reading them back in order gives every value and nothing
// more.
TEST_F(OasisPrimitives, RoundTripTable) {
  const std::vector<RoundTrip> cases = RoundTripCases();
  OasisBuilder expected;
  std::vector<size_t> starts;
  for (const RoundTrip& c : cases) {
    starts.push_back(expected.Size());
    c.encode(expected);
  }
  const Bytes written = Written([&](OasisFile& f) {
    for (const RoundTrip& c : cases) {
      switch (c.kind) {
        case Kind::Unsigned: f.WriteUnsigned(c.u); break;
        case Kind::Signed: f.WriteSigned(c.d.x); break;
        case Kind::Delta1H: f.WriteDelta1(c.d, false); break;
        case Kind::Delta1V: f.WriteDelta1(c.d, true); break;
        case Kind::Delta2: f.WriteDelta2(c.d); break;
        case Kind::Delta3: f.WriteDelta3(c.d); break;
        case Kind::DeltaG: f.WriteDeltaG(c.d); break;
        case Kind::Real: f.WriteReal(c.real); break;
      }
    }
  });
  ASSERT_EQ(written.size(), expected.Size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const size_t end = i + 1 < cases.size() ? starts[i + 1] : written.size();
    EXPECT_TRUE(std::equal(written.begin() + starts[i], written.begin() + end,
                           expected.Bytes().begin() + starts[i]))
        << cases[i].name << ": written bytes differ from the encoding";
  }

  auto f = Reader(written);
  for (const RoundTrip& c : cases) {
    switch (c.kind) {
      case Kind::Unsigned: EXPECT_EQ(f->ReadUnsigned64(), c.u) << c.name; break;
      case Kind::Signed: EXPECT_EQ(f->ReadSigned64(), c.d.x) << c.name; break;
      case Kind::Delta1H: EXPECT_EQ(f->ReadDelta1(false), c.d) << c.name; break;
      case Kind::Delta1V: EXPECT_EQ(f->ReadDelta1(true), c.d) << c.name; break;
      case Kind::Delta2: EXPECT_EQ(f->ReadDelta2(), c.d) << c.name; break;
      case Kind::Delta3: EXPECT_EQ(f->ReadDelta3(), c.d) << c.name; break;
      case Kind::DeltaG: EXPECT_EQ(f->ReadDeltaG(), c.d) << c.name; break;
      case Kind::Real: EXPECT_EQ(f->ReadReal(), c.readBack) << c.name; break;
    }
  }
  EXPECT_TRUE(f->stream.AtEnd());
}

// Forms the writer never chooses still read right: diagonal and axis
// displacements in the two-integer g-delta form, reals as quotients and
// single-precision values.
TEST_F(OasisPrimitives, ReaderTakesEveryForm) {
  OasisBuilder b;
  b.DeltaGFree(5, 5).DeltaGFree(-(k32 - 1), k32 - 1).DeltaGFree(0, -7).DeltaGFree(-9, 0);
  b.RealRatio(false, 1, 3).RealRatio(true, 7, 2).RealFloat(0.1f).RealU(2, 0).RealU(1, 0);
  auto f = Reader(b.Bytes());
  EXPECT_EQ(f->ReadDeltaG(), (OasisDelta{5, 5}));
  EXPECT_EQ(f->ReadDeltaG(), (OasisDelta{-(k32 - 1), k32 - 1}));
  EXPECT_EQ(f->ReadDeltaG(), (OasisDelta{0, -7}));
  EXPECT_EQ(f->ReadDeltaG(), (OasisDelta{-9, 0}));
  EXPECT_EQ(f->ReadReal(), 1.0 / 3.0);
  EXPECT_EQ(f->ReadReal(), -3.5);
  EXPECT_EQ(f->ReadReal(), double(0.1f));
  EXPECT_EQ(f->ReadReal(), std::numeric_limits<double>::infinity());  // 1/0
  EXPECT_EQ(f->ReadReal(), 0.0);
}

// The published examples, byte for byte.
TEST_F(OasisPrimitives, WorkedExamples) {
  {
    auto f = Reader({0x96, 0x01, 0x03, 0x02});
    EXPECT_EQ(f->ReadUnsigned(), 150u);
    EXPECT_EQ(f->ReadSigned(), -1);
    EXPECT_EQ(f->ReadSigned(), 1);
  }
  const struct {
    double value;
    Bytes bytes;
  } reals[] = {
      {1000.0, {0x00, 0xE8, 0x07}},
      {-2.0, {0x01, 0x02}},
      {0.001, {0x02, 0xE8, 0x07}},
      {0.5, {0x02, 0x02}},
      {0.3, {0x07, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0xD3, 0x3F}},
  };
  for (const auto& r : reals) {
    EXPECT_EQ(Written([&](OasisFile& f) { f.WriteReal(r.value); }), r.bytes) << r.value;
  }
  // Type-10 repetition through (0,0), (10,0), (10,10).
  const Point placements[] = {{0, 0}, {10, 0}, {10, 10}};
  EXPECT_EQ(Written([&](OasisFile& f) { f.WriteRepetitionList(placements); }),
            (Bytes{0x0A, 0x01, 0xA0, 0x01, 0xA2, 0x01}));
  // An empty string.
  {
    auto f = Reader({0x00, 0x05});
    EXPECT_EQ(f->ReadString(), "");
    EXPECT_EQ(f->ReadUnsigned(), 5u);
  }
}

// A zero of 250 bytes (as some writers pad their END record) reads 0, and a
// long encoding of a small value reads that value; a long encoding whose
// high groups carry bits beyond 64 is refused.
TEST_F(OasisPrimitives, LongIntegers) {
  OasisBuilder b;
  b.UPadded(0, 250).UPadded(5, 250).UPadded(kU64Max, 40).U(77);
  auto f = Reader(b.Bytes());
  EXPECT_EQ(f->ReadUnsigned64(), 0u);
  EXPECT_EQ(f->ReadSigned64(), -2);
  EXPECT_EQ(f->ReadUnsigned64(), kU64Max);
  EXPECT_EQ(f->ReadUnsigned64(), 77u);

  Bytes tooLarge(9, 0xFF);  // 63 bits set, then a tenth byte with bit 64
  tooLarge.push_back(0x02);
  Bytes farGroup(200, 0x80);  // a non-zero group far beyond 64 bits
  farGroup.push_back(0x01);
  for (const Bytes& bytes : {tooLarge, farGroup}) {
    auto r = Reader(bytes);
    ExpectError([&] { r->ReadUnsigned64(); }, "OASISIN", "Integer too large");
  }
}

// 32-bit fields refuse what does not fit them instead of wrapping it.
TEST_F(OasisPrimitives, FieldRanges) {
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    std::function<int64_t(OasisFile&)> read;
    bool fits;
    int64_t value;
  } cases[] = {
      {"unsigned 2^32-1", [](OasisBuilder& b) { b.U(k32 - 1); },
       [](OasisFile& f) { return int64_t(f.ReadUnsigned()); }, true, k32 - 1},
      {"unsigned 2^32", [](OasisBuilder& b) { b.U(k32); },
       [](OasisFile& f) { return int64_t(f.ReadUnsigned()); }, false, 0},
      {"signed int32 min", [](OasisBuilder& b) { b.S(-k31); },
       [](OasisFile& f) { return int64_t(f.ReadSigned()); }, true, -k31},
      {"signed below int32", [](OasisBuilder& b) { b.S(-k31 - 1); },
       [](OasisFile& f) { return int64_t(f.ReadSigned()); }, false, 0},
      {"signed above int32", [](OasisBuilder& b) { b.S(k31); },
       [](OasisFile& f) { return int64_t(f.ReadSigned()); }, false, 0},
      {"non-negative int32 max", [](OasisBuilder& b) { b.U(k31 - 1); },
       [](OasisFile& f) { return int64_t(f.ReadNonNegative()); }, true, k31 - 1},
      {"non-negative 2^31", [](OasisBuilder& b) { b.U(k31); },
       [](OasisFile& f) { return int64_t(f.ReadNonNegative()); }, false, 0},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    auto f = Reader(b.Bytes());
    if (c.fits) {
      EXPECT_EQ(c.read(*f), c.value) << c.name;
    } else {
      ExpectError([&] { c.read(*f); }, "OASISIN", "Integer too large for its field", c.name);
    }
  }
}

// --- Truncated input -------------------------------------------------------------

// A file cut at any byte inside a value ends the read with the end-of-file
// error; the whole value reads.
TEST_F(OasisPrimitives, TruncationAtEveryByte) {
  const std::string longText(300, 'x');
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    std::function<void(OasisFile&)> read;
  } cases[] = {
      {"unsigned", [](OasisBuilder& b) { b.U(k32 + 5); },
       [](OasisFile& f) { f.ReadUnsigned64(); }},
      {"long zero", [](OasisBuilder& b) { b.UPadded(0, 20); },
       [](OasisFile& f) { f.ReadUnsigned64(); }},
      {"signed", [](OasisBuilder& b) { b.S(-k32); }, [](OasisFile& f) { f.ReadSigned64(); }},
      {"real ratio", [](OasisBuilder& b) { b.RealRatio(true, 300, 7000); },
       [](OasisFile& f) { f.ReadReal(); }},
      {"real single", [](OasisBuilder& b) { b.RealFloat(1.5f); },
       [](OasisFile& f) { f.ReadReal(); }},
      {"real double", [](OasisBuilder& b) { b.RealDouble(0.3); },
       [](OasisFile& f) { f.ReadReal(); }},
      {"string", [&](OasisBuilder& b) { b.Str(longText); },
       [](OasisFile& f) { f.ReadString(); }},
      {"2-delta", [](OasisBuilder& b) { b.Delta2(2, k32); },
       [](OasisFile& f) { f.ReadDelta2(); }},
      {"3-delta", [](OasisBuilder& b) { b.Delta3(6, k31); },
       [](OasisFile& f) { f.ReadDelta3(); }},
      {"g-delta octant", [](OasisBuilder& b) { b.DeltaGOctant(5, 1000); },
       [](OasisFile& f) { f.ReadDeltaG(); }},
      {"g-delta free", [](OasisBuilder& b) { b.DeltaGFree(-300, 4000); },
       [](OasisFile& f) { f.ReadDeltaG(); }},
      {"point list", [](OasisBuilder& b) { b.U(4).U(2).DeltaGFree(100, 3).DeltaGOctant(1, 200); },
       [](OasisFile& f) { f.ReadPointList(f.polygonPoints, false); }},
      {"repetition 1", [](OasisBuilder& b) { b.U(1).U(1).U(2).U(300).U(400); },
       [](OasisFile& f) { f.ReadRepetition("PLACEMENT"); }},
      {"repetition 8", [](OasisBuilder& b) { b.U(8).U(1).U(1).DeltaGFree(3, 200).DeltaGOctant(4, 9); },
       [](OasisFile& f) { f.ReadRepetition("PLACEMENT"); }},
      {"repetition 11", [](OasisBuilder& b) { b.U(11).U(1).U(5).DeltaGOctant(0, 200).DeltaGFree(-1, 1); },
       [](OasisFile& f) { f.ReadRepetition("PLACEMENT"); }},
      {"property string", [&](OasisBuilder& b) { b.U(10).Str(longText); },
       [](OasisFile& f) { f.ReadPropertyValue(); }},
      {"property double", [](OasisBuilder& b) { b.RealDouble(2.5); },
       [](OasisFile& f) { f.ReadPropertyValue(); }},
      {"property ratio", [](OasisBuilder& b) { b.U(4).U(300).U(7000); },
       [](OasisFile& f) { f.ReadPropertyValue(); }},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    const Bytes& bytes = b.Bytes();
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      auto f = Reader(Bytes(bytes.begin(), bytes.begin() + cut));
      ExpectError([&] { c.read(*f); }, "OASISIN", "Unexpected end of file",
                  std::string(c.name) + " cut at " + std::to_string(cut));
    }
    auto f = Reader(bytes);
    c.read(*f);
    EXPECT_TRUE(f->stream.AtEnd()) << c.name;
  }
}

// --- Strings ------------------------------------------------------------------------

TEST_F(OasisPrimitives, StringsOfAnyLength) {
  std::string big(5000, 'a');
  big[10] = '\0';  // bytes are kept as they are
  big[4999] = 'z';
  const Bytes written = Written([&](OasisFile& f) {
    f.WriteString(big);
    f.WriteString("");
    f.WriteString("top");
  });
  OasisBuilder expected;
  expected.Str(big).Str("").Str("top");
  EXPECT_EQ(written, expected.Bytes());
  auto f = Reader(written);
  EXPECT_EQ(f->ReadString(), big);
  EXPECT_EQ(f->ReadString(), "");
  EXPECT_EQ(f->ReadString(), "top");

  // A length far beyond the file fails at the end of the file, after
  // allocating no more than the file holds.
  OasisBuilder huge;
  huge.U(uint64_t(1) << 62).Raw(Bytes(100, 'q'));
  auto g = Reader(huge.Bytes());
  ExpectError([&] { g->ReadString(); }, "OASISIN", "Unexpected end of file");
  EXPECT_LT(g->text.capacity(), size_t(1) << 20);
}

// --- Property values ---------------------------------------------------------------

// Each value type is passed over exactly: the integer behind it reads next.
TEST_F(OasisPrimitives, PropertyValuesSkipped) {
  OasisBuilder b;
  b.RealU(0, 300).RealU(1, 3).RealU(2, 128).RealU(3, 1);
  b.RealRatio(false, 1, 300).RealRatio(true, 1000, 3);
  b.RealFloat(2.5f).RealDouble(0.3);
  b.U(8).U(kU64Max).U(9).S(-k32);
  b.U(10).Str("a").U(11).Str(std::string(70000, 'b')).U(12).Str("");
  b.U(13).U(5).U(14).U(300).U(15).UPadded(1, 30);
  b.U(77);
  auto f = Reader(b.Bytes());
  for (int type = 0; type <= 15; ++type) f->ReadPropertyValue();
  EXPECT_EQ(f->ReadUnsigned(), 77u);
  EXPECT_TRUE(f->stream.AtEnd());

  auto g = Reader({16, 0, 0});
  ExpectError([&] { g->ReadPropertyValue(); }, "OASISIN", "Not Specified");
}

// --- Point lists ----------------------------------------------------------------------

TEST_F(OasisPrimitives, PointLists) {
  using Pts = OasisPoints;
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    Pts polygon;  // as a polygon (closed)
    Pts path;     // as a path (open)
  } cases[] = {
      // The L shape of the published example.
      {"type 0", [](OasisBuilder& b) { b.U(0).U(4).S(100).S(50).S(-50).S(50); },
       {{0, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}, {0, 100}},
       {{0, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}}},
      {"type 1", [](OasisBuilder& b) { b.U(1).U(2).S(30).S(-20); },
       {{0, 0}, {0, 30}, {-20, 30}, {-20, 0}},
       {{0, 0}, {0, 30}, {-20, 30}}},
      {"type 2", [](OasisBuilder& b) { b.U(2).U(3).Delta2(0, 10).Delta2(1, 5).Delta2(2, 10); },
       {{0, 0}, {10, 0}, {10, 5}, {0, 5}},
       {{0, 0}, {10, 0}, {10, 5}, {0, 5}}},
      {"type 3", [](OasisBuilder& b) { b.U(3).U(2).Delta3(4, 10).Delta3(5, 10); },
       {{0, 0}, {10, 10}, {0, 20}},
       {{0, 0}, {10, 10}, {0, 20}}},
      {"type 4", [](OasisBuilder& b) { b.U(4).U(2).DeltaGFree(7, 3).DeltaGOctant(2, 7); },
       {{0, 0}, {7, 3}, {0, 3}},
       {{0, 0}, {7, 3}, {0, 3}}},
      // Running displacement: (1,2), then (1,2)+(2,0), then +(0,-9).
      {"type 5", [](OasisBuilder& b) { b.U(5).U(3).DeltaGFree(1, 2).DeltaGOctant(0, 2).DeltaGOctant(3, 9); },
       {{0, 0}, {1, 2}, {4, 4}, {7, -3}},
       {{0, 0}, {1, 2}, {4, 4}, {7, -3}}},
      // Vertices as far as the int32 range allows from the first.
      {"full span", [](OasisBuilder& b) { b.U(4).U(2).DeltaGOctant(0, k32 - 1).DeltaGOctant(1, k32 - 1); },
       {{0, 0}, {k32 - 1, 0}, {k32 - 1, k32 - 1}},
       {{0, 0}, {k32 - 1, 0}, {k32 - 1, k32 - 1}}},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    c.encode(b);
    auto f = Reader(b.Bytes());
    f->ReadPointList(f->polygonPoints, false);
    f->ReadPointList(f->pathPoints, true);
    EXPECT_EQ(f->polygonPoints, c.polygon) << c.name;
    EXPECT_EQ(f->pathPoints, c.path) << c.name;
    EXPECT_TRUE(f->stream.AtEnd()) << c.name;
  }
}

TEST_F(OasisPrimitives, PointListsRefused) {
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    const char* message;
  } cases[] = {
      {"type 6", [](OasisBuilder& b) { b.U(6).U(1).U(4); }, "Unknown point list type"},
      {"huge type", [](OasisBuilder& b) { b.U(kU64Max).U(1); }, "Unknown point list type"},
      {"count bit 31", [](OasisBuilder& b) { b.U(2).U(uint64_t(1) << 31).U(4); },
       "Point list count too large"},
      {"count 2^63", [](OasisBuilder& b) { b.U(2).U(uint64_t(1) << 63); },
       "Point list count too large"},
      // Beyond what a int32 position can reach.
      {"vertex at 2^32", [](OasisBuilder& b) { b.U(4).U(2).DeltaGOctant(0, k32 - 1).DeltaGOctant(0, 1); },
       "Point list leaves the coordinate range"},
      {"1-delta 2^62", [](OasisBuilder& b) { b.U(0).U(1).S(int64_t(1) << 62); },
       "Point list leaves the coordinate range"},
      {"running displacement far",
       [](OasisBuilder& b) { b.U(5).U(2).DeltaGOctant(0, k32 - 1).DeltaGOctant(0, 1); },
       "Point list leaves the coordinate range"},
      // Ends long before its count: no huge allocation on the way.
      {"count beyond the file", [](OasisBuilder& b) { b.U(2).U(k31 - 1).Delta2(0, 1).Delta2(1, 1); },
       "Unexpected end of file"},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    auto f = Reader(b.Bytes());
    ExpectError([&] { f->ReadPointList(f->polygonPoints, false); }, "OASISIN", c.message,
                c.name);
    EXPECT_LT(f->polygonPoints.capacity(), size_t(1) << 16) << c.name;
  }
}

// --- Repetitions -------------------------------------------------------------------

std::vector<OasisDelta> Offsets(const OasisFile& f) {
  std::vector<OasisDelta> out;
  for (int64_t i = 0; i < f.RepetitionCount(); ++i) out.push_back(f.RepetitionOffset(i));
  return out;
}

TEST_F(OasisPrimitives, Repetitions) {
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    std::vector<OasisDelta> offsets;
  } cases[] = {
      // x outer, y inner.
      {"1", [](OasisBuilder& b) { b.U(1).U(0).U(1).U(10).U(20); },
       {{0, 0}, {0, 20}, {0, 40}, {10, 0}, {10, 20}, {10, 40}}},
      {"2", [](OasisBuilder& b) { b.U(2).U(1).U(50); }, {{0, 0}, {50, 0}, {100, 0}}},
      {"3", [](OasisBuilder& b) { b.U(3).U(0).U(7); }, {{0, 0}, {0, 7}}},
      {"4", [](OasisBuilder& b) { b.U(4).U(1).U(5).U(10); }, {{0, 0}, {5, 0}, {15, 0}}},
      {"5", [](OasisBuilder& b) { b.U(5).U(1).U(3).U(5).U(10); }, {{0, 0}, {15, 0}, {45, 0}}},
      {"6", [](OasisBuilder& b) { b.U(6).U(0).U(8); }, {{0, 0}, {0, 8}}},
      {"7", [](OasisBuilder& b) { b.U(7).U(1).U(2).U(1).U(4); }, {{0, 0}, {0, 2}, {0, 10}}},
      // n outer, m inner: 0, m, n, n + m.
      {"8", [](OasisBuilder& b) { b.U(8).U(0).U(0).DeltaGFree(100, 1).DeltaGOctant(1, 30); },
       {{0, 0}, {0, 30}, {100, 1}, {100, 31}}},
      {"9", [](OasisBuilder& b) { b.U(9).U(1).DeltaGOctant(4, 10); },
       {{0, 0}, {10, 10}, {20, 20}}},
      {"10", [](OasisBuilder& b) { b.U(10).U(1).DeltaGOctant(0, 10).DeltaGFree(-3, 10); },
       {{0, 0}, {10, 0}, {7, 10}}},
      {"11", [](OasisBuilder& b) { b.U(11).U(0).U(5).DeltaGFree(-3, 2); }, {{0, 0}, {-15, 10}}},
      // The whole int32 span from the first instance, in both directions.
      {"10 full span",
       [](OasisBuilder& b) { b.U(10).U(1).DeltaGOctant(6, k32 - 1).DeltaGOctant(4, 2 * (k32 - 1)); },
       {{0, 0}, {-(k32 - 1), -(k32 - 1)}, {k32 - 1, k32 - 1}}},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    auto f = Reader(b.Bytes());
    f->ReadRepetition("RECTANGLE");
    EXPECT_EQ(f->repetitionType, std::stoi(c.name)) << c.name;
    const std::vector<OasisDelta> got = Offsets(*f);
    EXPECT_EQ(got.size(), c.offsets.size()) << c.name;
    for (size_t i = 0; i < got.size() && i < c.offsets.size(); ++i) {
      EXPECT_EQ(got[i], c.offsets[i]) << c.name << " instance " << i;
    }
  }
}

// Type 0 repeats the last repetition of the cell; without one in the cell
// it is refused, naming the record and the variable.
TEST_F(OasisPrimitives, RepetitionReuse) {
  OasisBuilder b;
  b.U(0).U(1).U(0).U(0).U(3).U(4).U(0).U(0);
  auto f = Reader(b.Bytes());
  ExpectError([&] { f->ReadRepetition("PLACEMENT"); }, "OASISIN",
              "PLACEMENT record uses modal variable repetition not set in this cell");
  f->ReadRepetition("RECTANGLE");
  f->ReadRepetition("POLYGON");
  EXPECT_EQ(f->repetitionType, 1);
  EXPECT_EQ(Offsets(*f), (std::vector<OasisDelta>{{0, 0}, {0, 4}, {3, 0}, {3, 4}}));
  // A new cell forgets it.
  f->ResetModal();
  ExpectError([&] { f->ReadRepetition("TEXT"); }, "OASISIN",
              "TEXT record uses modal variable repetition not set in this cell");
}

TEST_F(OasisPrimitives, RepetitionsRefused) {
  const int64_t maxStored = k31 - 3;  // count 2^31 - 1
  const struct {
    const char* name;
    std::function<void(OasisBuilder&)> encode;
    const char* message;
  } cases[] = {
      {"type 12", [](OasisBuilder& b) { b.U(12); }, "Unknown Repetition "},
      {"count 2^31", [&](OasisBuilder& b) { b.U(2).U(maxStored + 1).U(0); },
       "Repetition count too large"},
      {"list count 2^31", [&](OasisBuilder& b) { b.U(10).U(maxStored + 1); },
       "Repetition count too large"},
      {"space to 2^32", [](OasisBuilder& b) { b.U(2).U(0).U(k32); },
       "Repetition leaves the coordinate range"},
      {"matrix span", [](OasisBuilder& b) { b.U(1).U(0).U(1).U(1).U(k31); },
       "Repetition leaves the coordinate range"},
      {"spacings summed", [](OasisBuilder& b) { b.U(4).U(1).U(k31).U(k31); },
       "Repetition leaves the coordinate range"},
      {"grid product", [](OasisBuilder& b) { b.U(5).U(0).U(kU64Max).U(kU64Max); },
       "Repetition leaves the coordinate range"},
      {"8 corner", [](OasisBuilder& b) { b.U(8).U(0).U(0).DeltaGOctant(0, k31).DeltaGOctant(0, k31); },
       "Repetition leaves the coordinate range"},
      {"9 far", [&](OasisBuilder& b) { b.U(9).U(maxStored).DeltaGOctant(1, 3); },
       "Repetition leaves the coordinate range"},
      {"11 grid", [](OasisBuilder& b) { b.U(11).U(0).U(k32).DeltaGFree(-1, 1); },
       "Repetition leaves the coordinate range"},
      {"list beyond the file", [&](OasisBuilder& b) { b.U(10).U(maxStored).DeltaGOctant(0, 1); },
       "Unexpected end of file"},
  };
  for (const auto& c : cases) {
    OasisBuilder b;
    c.encode(b);
    auto f = Reader(b.Bytes());
    ExpectError([&] { f->ReadRepetition("RECTANGLE"); }, "OASISIN", c.message, c.name);
    EXPECT_LT(f->repetitionOffsets.capacity(), size_t(1) << 16) << c.name;
  }
}

// Regular repetitions are kept as counts and steps: a matrix of 2^62
// instances costs nothing to read, and any instance is at hand.
TEST_F(OasisPrimitives, HugeRegularRepetitionIsNotExpanded) {
  const int64_t stored = k31 - 3;
  OasisBuilder b;
  b.U(8).U(stored).U(stored).DeltaGOctant(0, 1).DeltaGOctant(1, 2);
  auto f = Reader(b.Bytes());
  f->ReadRepetition("PLACEMENT");
  const int64_t n = k31 - 1;
  EXPECT_EQ(f->RepetitionCount(), n * n);
  EXPECT_EQ(f->RepetitionOffset(n * n - 1), (OasisDelta{n - 1, 2 * (n - 1)}));
  EXPECT_EQ(f->RepetitionOffset(n + 3), (OasisDelta{1, 6}));
  EXPECT_TRUE(f->repetitionOffsets.empty());
}

// --- Positions ------------------------------------------------------------------------

TEST(OasisPlace, SumsStayInsideInt32) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(OasisFile::Place(kMin, k32 - 1), kMax);
  EXPECT_EQ(OasisFile::Place(kMax, -(k32 - 1)), kMin);
  EXPECT_EQ(OasisFile::Place(-5, 7), 2);
  for (const auto& [base, offset] : {std::pair<int32_t, int64_t>{kMax, 1}, {kMin, -1},
                                     {0, k32}, {kMin, kI64Max}}) {
    ExpectError([&] { OasisFile::Place(base, offset); }, "OASISIN", "Coordinate out of range",
                std::to_string(base) + " + " + std::to_string(offset));
  }
}

// --- Refused writes -------------------------------------------------------------------

// Values an encoding cannot hold are refused before a byte is written.
TEST_F(OasisPrimitives, WriterRefusals) {
  const Point one[] = {{0, 0}};
  const struct {
    const char* name;
    std::function<void(OasisFile&)> write;
    const char* message;
  } cases[] = {
      {"NaN", [](OasisFile& f) { f.WriteReal(std::nan("")); }, "Real value is not finite"},
      {"infinity", [](OasisFile& f) { f.WriteReal(-HUGE_VAL); }, "Real value is not finite"},
      {"2-delta diagonal", [](OasisFile& f) { f.WriteDelta2({3, 3}); },
       "Displacement not along an axis"},
      {"3-delta any angle", [](OasisFile& f) { f.WriteDelta3({3, 4}); },
       "Displacement not along an axis or diagonal"},
      {"g-delta beyond 62 bits", [](OasisFile& f) { f.WriteDeltaG({int64_t(1) << 62, 1}); },
       "Displacement too large"},
      {"signed int64 min", [](OasisFile& f) { f.WriteSigned(std::numeric_limits<int64_t>::min()); },
       "Integer too large"},
      {"one placement", [&](OasisFile& f) { f.WriteRepetitionList(one); },
       "Repetition needs two placements"},
  };
  for (const auto& c : cases) {
    Bytes written;
    ExpectError([&] { written = Written(c.write); }, "OASISOUT", c.message, c.name);
    std::ifstream in(temp_.File("out.oas"), std::ios::binary);
    EXPECT_EQ(std::distance(std::istreambuf_iterator<char>(in), {}), 0) << c.name;
  }
}

TEST_F(OasisPrimitives, OpenFailures) {
  const std::string missing = temp_.File("missing.oas");
  const std::string noDirectory = temp_.File("no/such/dir.oas");
  OasisFile in, out;
  ExpectError([&] { in.OpenInput(missing); }, "OASISIN", "Cannot open file " + missing + "!");
  ExpectError([&] { out.OpenOutput(noDirectory); }, "OASISOUT",
              "Cannot open file " + noDirectory + "!");
}

// The builder's file frame: START and an END of exactly 256 bytes.
TEST(OasisBuilderFrame, EndIs256Bytes) {
  for (bool offsetsInEnd : {true, false}) {
    OasisBuilder b;
    b.Magic().Start(1000, offsetsInEnd);
    const size_t before = b.Size();
    b.End(offsetsInEnd);
    EXPECT_EQ(b.Size() - before, 256u);
    EXPECT_EQ(b.Bytes().back(), 0);
  }
}

}  // namespace
}  // namespace velmar
