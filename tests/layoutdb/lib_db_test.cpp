// The library object: unit snapping, construction and the positioning of
// the cell data stream on a cell's stored record.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using test::TempDir;

std::string Unit(const Error& e) { return e.Unit() ? e.Unit() : ""; }

TEST(SnapUnit, SnapsWithinTwoToTheMinus23) {
  const double eps = std::ldexp(1.0, -23);
  struct Case {
    double in, out;
  } cases[] = {
      {1 + eps, 1},           {1 - eps, 1},       {1 + 2 * eps, 1 + 2 * eps},
      {10.00000001, 10},      {0.1 + eps, 0.1},   {0.1 - eps * 0.5, 0.1},
      {2 + eps, 2},           {0.5 - eps, 0.5},   {3, 3},
      {1e-3, 1e-3},           {4, 4},             {1e-9 / 1e-10, 10},
  };
  for (const Case& c : cases) EXPECT_EQ(SnapUnit(c.in), c.out) << c.in;
  EXPECT_TRUE(std::isnan(SnapUnit(std::numeric_limits<double>::quiet_NaN())));
}

TEST(LibDB, StartsEmptyWithDefaultUnits) {
  LibDB lib("/some/dir", 1);
  EXPECT_EQ(lib.dirPath, "/some/dir");
  EXPECT_EQ(lib.gz, 1);
  EXPECT_EQ(lib.openDb, 0);
  EXPECT_EQ(lib.flags, 0u);
  EXPECT_EQ(lib.userUnit, 0.001);
  EXPECT_EQ(lib.meterPerUnit, 1e-9);
  EXPECT_EQ(lib.outScale, 1.0);
  EXPECT_EQ(lib.unitPerNm, 1.0);
  EXPECT_GE(lib.cells.capacity(), 10000u);
  EXPECT_FALSE(lib.dbStream.IsOpen());
}

// Writes a data file of the given bytes, compressed or not.
void WriteDataFile(const std::string& path, bool gzip, const std::string& bytes) {
  BinaryStream out;
  out.path = path;
  out.write = true;
  out.gzip = gzip;
  ASSERT_TRUE(out.Open());
  out.PutBlock(bytes.data(), bytes.size());
  out.Close();
}

DBCell* StoredCell(LibDB& lib, uint16_t file, int32_t start, int32_t end) {
  DBCell* c = lib.cells[lib.AddCell(nullptr)];
  c->box = Box(0, 0, 1, 1);
  c->dbFile = file;
  c->startPos = start;
  c->endPos = end;
  return c;
}

TEST(LibDB, SeekOnCellWithoutDataFileIsRefused) {
  LibDB lib("/nonexistent", 0);
  DBCell* c = StoredCell(lib, 0, -1, -1);
  try {
    lib.SeekCellData(c);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Message(), "Cell file id invalid");
    EXPECT_EQ(Unit(e), "LIBIN");
  }
  EXPECT_EQ(lib.openDb, 0);
}

TEST(LibDB, SeekOnMissingDataFileIsRefused) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = StoredCell(lib, 4, 0, 10);
  try {
    lib.SeekCellData(c);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(Unit(e), "LIBIN");
  }
  EXPECT_EQ(lib.openDb, 0);
}

TEST(LibDB, SeekReadsCellsOfOneFileThroughOneOpening) {
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz);
    TempDir dir;
    const std::string name = gz ? "db3.gz" : "db3";
    WriteDataFile(dir.File(name), gz, "abcdefgh");
    WriteDataFile(dir.File(gz ? "db1.gz" : "db1"), gz, "XYZ");
    LibDB lib(dir.path().c_str(), gz);
    DBCell* a = StoredCell(lib, 3, 2, 5);
    DBCell* b = StoredCell(lib, 3, 5, 8);
    DBCell* other = StoredCell(lib, 1, 1, 3);

    lib.SeekCellData(a);
    EXPECT_EQ(lib.openDb, 3);
    uint8_t ch = 0;
    std::string got;
    for (int i = 0; i < 3 && lib.dbStream.GetChar(ch); ++i) got += char(ch);
    EXPECT_EQ(got, "cde");
    // The file stays open: the next cell of the same file is read through
    // the same opening, even once the file is gone from the directory.
    ASSERT_EQ(std::remove(dir.File(name).c_str()), 0);
    lib.SeekCellData(b);
    got.clear();
    for (int i = 0; i < 3 && lib.dbStream.GetChar(ch); ++i) got += char(ch);
    EXPECT_EQ(got, "fgh");
    // Back to an earlier cell of the same file: a seek.
    lib.SeekCellData(a);
    ASSERT_TRUE(lib.dbStream.GetChar(ch));
    EXPECT_EQ(ch, 'c');

    lib.SeekCellData(other);
    EXPECT_EQ(lib.openDb, 1);
    ASSERT_TRUE(lib.dbStream.GetChar(ch));
    EXPECT_EQ(ch, 'Y');
  }
}

TEST(LibDB, SeekAfterAppendingReadsWhatWasAppended) {
  TempDir dir;
  WriteDataFile(dir.File("db1"), false, "0123");
  LibDB lib(dir.path().c_str(), 0);
  // A writer left data file 1 open for appending, its bytes still buffered.
  lib.dbStream.path = dir.File("db1");
  lib.dbStream.write = true;
  lib.dbStream.openMode = BinaryStream::kAppend;
  ASSERT_TRUE(lib.dbStream.Open());
  lib.openDb = 1;
  lib.dbStream.PutBlock("45", 2);
  DBCell* c = StoredCell(lib, 1, 3, 6);
  lib.SeekCellData(c);
  EXPECT_FALSE(lib.dbStream.IsWriting());
  std::string got;
  uint8_t ch = 0;
  while (lib.dbStream.GetChar(ch)) got += char(ch);
  EXPECT_EQ(got, "345");
}

}  // namespace
}  // namespace velmar
