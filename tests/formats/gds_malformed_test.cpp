// Malformed GDSII input: every damaged file ends in a reported Error or in a
// completed read with a warning, never in a crash, a hang or a silent
// success with wrong data. Kept small and fast: it is meant to run under the
// address and undefined-behaviour sanitizers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "formats/gds_records.h"
#include "support/gds_builder.h"
#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using test::GdsBuilder;
using test::GdsReadResult;
using test::GdsStrans;
using test::Placement;
using test::ScratchLibrary;
using test::StoredLibrary;

using Bytes = std::vector<uint8_t>;

// A small library using most element kinds.
GdsBuilder SmallLibrary() {
  GdsBuilder b;
  b.BeginLib("SMALL")
      .BeginStr("LEAF")
      .Rect(1, 0, 0, 0, 100, 50)
      .Path(2, 0, {{0, 0}, {50, 0}, {50, 40}}, 10, 2)
      .Text(3, 0, {5, 5}, "IN")
      .EndStr()
      .BeginStr("TOP")
      .SRef("LEAF", {200, 0}, GdsStrans{true, {}, 90.0})
      .ARef("LEAF", 2, 3, {0, 100}, {400, 100}, {0, 400})
      .Boundary(5, 1, {{0, 0}, {30, 0}, {30, 30}})
      .EndStr()
      .EndLib();
  return b;
}

// Every stored cell reads back from the data files.
void ExpectReadable(const ScratchLibrary& lib) {
  StoredLibrary stored(const_cast<ScratchLibrary&>(lib).Dir(), false);
  for (const std::string& name : stored.CellNames()) {
    EXPECT_NO_THROW(stored.Shapes(name)) << name;
    EXPECT_NO_THROW(stored.Placements(name)) << name;
  }
}

// The outcome rule of every malformed input.
void ExpectReportedOutcome(const GdsReadResult& r, const std::string& what) {
  if (r.ok) {
    EXPECT_NE(r.output.find("Warning"), std::string::npos) << what << ": silent success";
  } else {
    EXPECT_FALSE(r.unit.empty()) << what;
    EXPECT_FALSE(r.error.empty()) << what;
  }
}

TEST(GdsMalformed, FileCutAtEveryByte) {
  const Bytes full = SmallLibrary().Bytes();
  int completed = 0;
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const std::string what = "cut at " + std::to_string(cut);
    Bytes part(full.begin(), full.begin() + cut);
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(part);
    ExpectReportedOutcome(r, what);
    if (r.ok) {
      // A read that completes saw the end of the file where a record end
      // was due and said so.
      EXPECT_NE(r.output.find("missing at the end of file"), std::string::npos) << what;
      ExpectReadable(lib);
      ++completed;
    }
  }
  EXPECT_GT(completed, 0);
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(full);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.output.find("Warning"), std::string::npos);
}

TEST(GdsMalformed, UnknownRecordsBetweenAllRecordsChangeNothing) {
  // Insert an unknown record (types 57 and 255 alternately, with and
  // without payload) before every record of the file.
  const Bytes full = SmallLibrary().Bytes();
  Bytes noisy;
  int inserted = 0;
  for (size_t at = 0; at < full.size();) {
    const size_t length = (size_t(full[at]) << 8) | full[at + 1];
    GdsBuilder u;
    if (inserted % 2) {
      u.Record(255, 0, {});
    } else {
      u.Record(57, 2, {1, 2, 3, 4, 5, 6});
    }
    noisy.insert(noisy.end(), u.Bytes().begin(), u.Bytes().end());
    noisy.insert(noisy.end(), full.begin() + at, full.begin() + at + length);
    ++inserted;
    at += length;
  }
  ScratchLibrary clean, dirty;
  GdsReadResult a = clean.Read(full);
  GdsReadResult b = dirty.Read(noisy);
  ASSERT_TRUE(a.ok) << a.error;
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ(b.boundaries, a.boundaries);
  EXPECT_EQ(b.paths, a.paths);
  EXPECT_EQ(b.texts, a.texts);
  size_t warnings = 0;
  for (size_t p = b.output.find("Warning: Unknown Record Type"); p != std::string::npos;
       p = b.output.find("Warning: Unknown Record Type", p + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, size_t(inserted));
  StoredLibrary sa(clean.Dir(), false), sb(dirty.Dir(), false);
  for (const char* cell : {"LEAF", "TOP"}) {
    EXPECT_EQ(sa.Shapes(cell), sb.Shapes(cell));
    EXPECT_EQ(sa.Placements(cell), sb.Placements(cell));
  }
}

TEST(GdsMalformed, DamagedRecordsTable) {
  struct Case {
    const char* what;
    Bytes bytes;
    const char* error;  // null: the read completes (with a warning)
  };
  auto lib = [](auto body) {
    GdsBuilder b;
    b.BeginLib().BeginStr("TOP");
    body(b);
    b.EndStr().EndLib();
    return b.Bytes();
  };
  std::vector<Case> cases;
  for (uint16_t length = 0; length < 4; ++length) {
    cases.push_back({"record length in a structure",
                     lib([&](GdsBuilder& b) {
                       b.Rect(1, 0, 0, 0, 5, 5).RecordWithLength(length, GdsRecord::Boundary, 0);
                     }),
                     "Invalid record length"});
  }
  cases.push_back({"length beyond the end of the file",
                   lib([](GdsBuilder& b) {
                     b.RecordWithLength(60000, GdsRecord::Boundary, 0, {0, 0});
                   }),
                   "Untreated data defined but end of file"});
  cases.push_back({"XY longer than the file",
                   [] {
                     GdsBuilder b;
                     b.BeginLib().BeginStr("TOP").Record(GdsRecord::Boundary, 0);
                     b.Int16s(GdsRecord::Layer, {1}).Int16s(GdsRecord::Datatype, {0});
                     b.RecordWithLength(65532, GdsRecord::XY, 3, Bytes(40, 0));
                     return b.Bytes();
                   }(),
                   "Point location defined but end of file"});
  cases.push_back({"XY without a point",
                   lib([](GdsBuilder& b) {
                     b.Record(GdsRecord::Boundary, 0).Int16s(GdsRecord::Layer, {1});
                     b.Int16s(GdsRecord::Datatype, {0}).Record(GdsRecord::XY, 3, {1, 2, 3});
                     b.Record(GdsRecord::EndEl, 0);
                   }),
                   "Location record holds no point"});
  cases.push_back({"SREF with an empty XY",
                   lib([](GdsBuilder& b) {
                     b.Record(GdsRecord::SRef, 0).String(GdsRecord::SName, "X");
                     b.Record(GdsRecord::XY, 3, {}).Record(GdsRecord::EndEl, 0);
                   }),
                   "Record type 16 too short (0 data bytes)"});
  cases.push_back({"AREF with two points",
                   lib([](GdsBuilder& b) {
                     b.Record(GdsRecord::ARef, 0).String(GdsRecord::SName, "X");
                     b.Int16s(GdsRecord::ColRow, {2, 2}).Xy({{0, 0}, {10, 0}});
                     b.Record(GdsRecord::EndEl, 0);
                   }),
                   "Record type 16 too short (16 data bytes)"});
  cases.push_back({"COLROW zero",
                   lib([](GdsBuilder& b) { b.ARef("X", 0, 0, {0, 0}, {0, 0}, {0, 0}); }),
                   "Array Reference with 0 columns and 0 rows"});
  cases.push_back({"COLROW short",
                   lib([](GdsBuilder& b) {
                     b.Record(GdsRecord::ARef, 0).String(GdsRecord::SName, "X");
                     b.Record(GdsRecord::ColRow, 2, {0, 2}).Xy({{0, 0}, {10, 0}, {0, 10}});
                     b.Record(GdsRecord::EndEl, 0);
                   }),
                   "Record type 19 too short (2 data bytes)"});
  cases.push_back({"empty structure name",
                   [] {
                     GdsBuilder b;
                     b.BeginLib().Int16s(GdsRecord::BgnStr, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
                     b.Record(GdsRecord::StrName, 6, {}).EndStr().EndLib();
                     return b.Bytes();
                   }(),
                   "String defined but end of file"});
  cases.push_back({"name with a line break",
                   lib([](GdsBuilder& b) { b.SRef("A\nB", {0, 0}); }),
                   "Cell name holds a line break: A"});
  cases.push_back({"zero magnification",
                   lib([](GdsBuilder& b) { b.SRef("X", {0, 0}, GdsStrans{false, 0.0, {}}); }),
                   "Invalid reference magnification 0"});
  cases.push_back({"magnification beyond the stored range",
                   lib([](GdsBuilder& b) { b.SRef("X", {0, 0}, GdsStrans{false, 1e50, {}}); }),
                   "Invalid reference magnification inf"});
  cases.push_back({"negative magnification beyond the stored range",
                   lib([](GdsBuilder& b) {
                     b.ARef("X", 2, 1, {0, 0}, {20, 0}, {0, 10}, GdsStrans{false, -1e50, {}});
                   }),
                   "Invalid reference magnification -inf"});
  cases.push_back({"element in no structure",
                   [] {
                     GdsBuilder b;
                     b.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5).EndStr();
                     b.Rect(1, 0, 0, 0, 5, 5).EndLib();
                     return b.Bytes();
                   }(),
                   nullptr});
  cases.push_back({"unknown record with the largest payload",
                   lib([](GdsBuilder& b) {
                     b.Record(200, 2, Bytes(kGdsMaxPayload, 0xee)).Rect(1, 0, 0, 0, 5, 5);
                   }),
                   nullptr});
  cases.push_back({"property without value",
                   lib([](GdsBuilder& b) {
                     b.Record(GdsRecord::Boundary, 0).Int16s(GdsRecord::Layer, {1});
                     b.Int16s(GdsRecord::Datatype, {0}).Xy({{0, 0}, {5, 0}, {5, 5}, {0, 0}});
                     b.Int16s(GdsRecord::PropAttr, {1}).Record(GdsRecord::EndEl, 0);
                   }),
                   "Property value missing"});
  cases.push_back({"cycle through an array",
                   [] {
                     GdsBuilder b;
                     b.BeginLib().BeginStr("A").Rect(1, 0, 0, 0, 5, 5);
                     b.ARef("B", 2, 2, {0, 0}, {20, 0}, {0, 20}).EndStr();
                     b.BeginStr("B").SRef("C", {0, 0}).EndStr();
                     b.BeginStr("C").SRef("A", {0, 0}).EndStr().EndLib();
                     return b.Bytes();
                   }(),
                   "Reference cycle: cell A is placed inside itself"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(c.bytes);
    ExpectReportedOutcome(r, c.what);
    if (c.error == nullptr) {
      EXPECT_TRUE(r.ok) << r.error;
      if (r.ok) ExpectReadable(lib);
    } else {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
    }
  }
}

TEST(GdsMalformed, HugeCountsAreStoredWithoutExpansion) {
  // The largest array and the largest XY record a file can hold.
  // A staircase ring of 8,190 vertices: with its closing point the XY
  // record holds 8,191 points, the most a record can carry.
  const int steps = 4094;
  std::vector<Point> stairs = {{0, 0}};
  for (int j = 1; j <= steps; ++j) {
    stairs.push_back({10 * j, 10 * (j - 1)});
    stairs.push_back({10 * j, 10 * j});
  }
  stairs.push_back({0, 10 * steps});
  ASSERT_EQ(stairs.size(), 8190u);
  GdsBuilder b;
  b.BeginLib()
      .BeginStr("C").Rect(1, 0, 0, 0, 1, 1).EndStr()
      .BeginStr("TOP")
      .ARef("C", 32767, 32767, {0, 0}, {32767 * 2, 0}, {0, 32767 * 2})
      .Boundary(2, 0, stairs)
      .EndStr()
      .EndLib();
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes());
  ASSERT_TRUE(r.ok) << r.error << r.output;
  EXPECT_EQ(r.arrayRefs, 1);
  EXPECT_EQ(r.boundaries, 2);
  StoredLibrary stored(lib.Dir(), false);
  auto refs = stored.References("TOP");
  ASSERT_EQ(refs.size(), 1u);
  EXPECT_EQ(refs[0].columns, 32767);
  EXPECT_EQ(refs[0].rows, 32767);
  EXPECT_EQ(stored.Lib().FindCell("TOP")->box.x2, 32766 * 2 + 1);
  auto shapes = stored.Shapes("TOP");
  ASSERT_EQ(shapes[2 * 256].size(), 1u);
  EXPECT_EQ(shapes[2 * 256][0].size(), stairs.size());
}

TEST(GdsMalformed, RandomlyDamagedFiles) {
  const Bytes full = SmallLibrary().Bytes();
  std::mt19937 rng(2024);
  std::uniform_int_distribution<size_t> pos(0, full.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int k = 0; k < 250; ++k) {
    Bytes damaged = full;
    const int changes = 1 + k % 3;
    for (int c = 0; c < changes; ++c) damaged[pos(rng)] = uint8_t(byte(rng));
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(damaged);
    if (r.ok) {
      ExpectReadable(lib);
    } else {
      EXPECT_FALSE(r.unit.empty()) << "variant " << k;
    }
  }
}

}  // namespace
}  // namespace velmar
