// The library index "info" and the option file "opt": exact layout, round
// trips through real directories (plain and compressed), refusal of damaged
// files without leaving anything half-read, and atomic replacement.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/lib_test_dir.h"

// The largest single allocation made while a probe is on: the replacement of
// the global allocation function records every request, so that a test can
// show that a damaged count never turns into a huge allocation (which the
// system's out-of-memory handler would answer by ending the process).
namespace {
std::atomic<bool> gProbing{false};
std::atomic<size_t> gLargest{0};
}  // namespace

// Kept out of line, so that the compiler does not pair the allocations of
// inlined code with the free below.
[[gnu::noinline]] void* operator new(std::size_t n) {
  if (gProbing.load(std::memory_order_relaxed)) {
    size_t seen = gLargest.load(std::memory_order_relaxed);
    while (n > seen && !gLargest.compare_exchange_weak(seen, n)) {
    }
  }
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace velmar {
namespace {

// Records the largest allocation while it lives.
class AllocationProbe {
 public:
  AllocationProbe() {
    gLargest = 0;
    gProbing = true;
  }
  ~AllocationProbe() { gProbing = false; }
  size_t Largest() const { return gLargest.load(); }
};

using test::Bytes;
using test::StdoutCapture;
using test::TempDir;

// Adds a cell that looks stored: data file, positions and a valid box.
DBCell* AddStored(LibDB& lib, const char* name, Box box, uint16_t file,
                  int32_t start, int32_t ref, int32_t end) {
  DBCell* c = lib.cells[lib.AddCell(name)];
  c->box = box;
  c->dbFile = file;
  c->startPos = start;
  c->refPos = ref;
  c->endPos = end;
  return c;
}

// Writes the index of a library that holds one stored cell "A" into dir.
void WriteOneCellIndex(const TempDir& dir, int gz) {
  LibDB lib(dir.path().c_str(), gz);
  AddStored(lib, "A", Box(0, 0, 4, 4), 1, 0, -1, 10);
  lib.WriteInfo();
}

std::string Unit(const Error& e) { return e.Unit() ? e.Unit() : ""; }

// True when ReadInfo has left the library exactly as constructed.
void ExpectUntouched(const LibDB& lib) {
  EXPECT_TRUE(lib.cells.empty());
  EXPECT_TRUE(lib.roots.empty());
  EXPECT_TRUE(lib.layers.empty());
  EXPECT_EQ(lib.version, 0);
  EXPECT_EQ(lib.writeDb, 0);
  EXPECT_EQ(lib.depth, 0);
  EXPECT_EQ(lib.meterPerUnit, 1e-9);
  EXPECT_EQ(lib.unitPerNm, 1.0);
  EXPECT_EQ(lib.flags & LibDB::InfoRead, 0u);
}

TEST(LibInfo, WritesTheDocumentedByteLayout) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.version = 0x0102;
  lib.meterPerUnit = 1e-10;
  lib.writeDb = 7;
  lib.depth = 3;
  lib.roots = {1};
  lib.layers[0x0100];     // layer 1/0
  lib.layers[0x1FF05];    // layer 511/5
  lib.layers[0x20000];    // layer 512/0: ends the list
  lib.layers[0x400000];   // never reached
  AddStored(lib, "A", Box(-5, -6, 7, 8), 2, 0, -1, 40);
  AddStored(lib, "B", Box(0, 0, 10, 10), 1, 12, 30, 44);
  StdoutCapture out;
  lib.WriteInfo();
  EXPECT_EQ(out.Stop(), "");

  Bytes want;
  want.U16(0x0102).F64(1e-10).U16(7).I32(3);
  want.I32(1).I32(1);
  want.I32(2).U32(0x0100).U32(0x1FF05);
  want.I32(2);
  want.I32(-5).I32(-6).I32(7).I32(8).U16(2).I32(0).I32(-1).I32(40);
  want.I32(0).I32(0).I32(10).I32(10).U16(1).I32(12).I32(30).I32(44);
  EXPECT_EQ(dir.Read("info"), want.str());
  EXPECT_EQ(lib.flags & LibDB::InfoDirty, 0u);
  EXPECT_NE(lib.flags & LibDB::InfoRead, 0u);
  // Stored without a reference section: a leaf.
  EXPECT_NE(lib.cells[0]->flags & DBCell::Leaf, 0);
  EXPECT_EQ(lib.cells[1]->flags & DBCell::Leaf, 0);
}

class LibInfoRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(LibInfoRoundTrip, KeepsEveryStoredFieldAndEmptiesUnstoredCells) {
  const int gz = GetParam();
  TempDir dir;
  {
    LibDB lib(dir.path().c_str(), gz);
    lib.version = 5;
    lib.meterPerUnit = 2.5e-10;
    lib.writeDb = 2;
    lib.depth = 2;
    lib.roots = {0, 2};
    lib.layers[0x0100];
    lib.layers[0xFF80];  // datatype 128 and more keep their key
    AddStored(lib, "top", Box(0, 0, 1000, 2000), 1, 0, 120, 200);
    lib.AddCell("gone");
    lib.cells.Free(1);
    AddStored(lib, "leaf", Box(-10, -10, 10, 10), 2, 4096, -1, 5000);
    // Never stored, nothing unsaved: becomes an empty cell.
    DBCell* unstored = AddStored(lib, "new", Box(1, 1, 5, 5), 0, -1, -1, -1);
    // Never stored but modified: its box stays until it is saved.
    DBCell* pending = AddStored(lib, "pending", Box(2, 2, 6, 6), 0, -1, -1, -1);
    pending->flags |= DBCell::Modified;
    lib.flags |= LibDB::InfoDirty;

    StdoutCapture out;
    lib.WriteInfo();
    EXPECT_EQ(out.Stop(), "Warning: 3 empty cells exist\n");
    EXPECT_TRUE(unstored->box.IsEmpty());
    EXPECT_EQ(pending->box, Box(2, 2, 6, 6));
    EXPECT_TRUE(dir.Exists(gz ? "info.gz" : "info"));
    EXPECT_FALSE(dir.Exists(gz ? "info" : "info.gz"));
  }

  LibDB back(dir.path().c_str(), gz);
  StdoutCapture out;
  back.ReadInfo();
  EXPECT_EQ(out.Stop(), "DB unit=2.500000e-10 meter, ncell=5\n");
  EXPECT_EQ(back.version, 5);
  EXPECT_EQ(back.meterPerUnit, 2.5e-10);
  EXPECT_EQ(back.unitPerNm, 4.0);
  EXPECT_EQ(back.writeDb, 2);
  EXPECT_EQ(back.depth, 2);
  EXPECT_EQ(back.roots, (std::vector<int32_t>{0, 2}));
  ASSERT_EQ(back.layers.size(), 2u);
  EXPECT_EQ(back.layers.begin()->first, 0x0100u);
  EXPECT_EQ(back.layers.rbegin()->first, 0xFF80u);
  ASSERT_EQ(back.cells.size(), 5u);
  const DBCell* top = back.cells[0];
  EXPECT_EQ(top->box, Box(0, 0, 1000, 2000));
  EXPECT_EQ(top->dbFile, 1);
  EXPECT_EQ(top->startPos, 0);
  EXPECT_EQ(top->refPos, 120);
  EXPECT_EQ(top->endPos, 200);
  EXPECT_EQ(top->flags, 0);
  EXPECT_EQ(top->name, nullptr);
  const DBCell* leaf = back.cells[2];
  EXPECT_EQ(leaf->box, Box(-10, -10, 10, 10));
  EXPECT_EQ(leaf->dbFile, 2);
  EXPECT_EQ(leaf->startPos, 4096);
  EXPECT_EQ(leaf->refPos, -1);
  EXPECT_EQ(leaf->endPos, 5000);
  EXPECT_EQ(leaf->flags, DBCell::Leaf);
  for (int i : {1, 3, 4}) {
    const DBCell* c = back.cells[i];
    ASSERT_NE(c, nullptr) << i;  // every id exists after reading
    EXPECT_EQ(c->box, Box(0, 0, 0, 0)) << i;
    EXPECT_EQ(c->dbFile, 0) << i;
    EXPECT_EQ(c->flags, 0) << i;
  }
  EXPECT_NE(back.flags & LibDB::InfoRead, 0u);
  EXPECT_EQ(back.gz, gz);
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, LibInfoRoundTrip,
                         ::testing::Values(0, 1));

TEST(LibInfo, CellsWithoutRootsGetRootZero) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  AddStored(lib, "A", Box(0, 0, 4, 4), 1, 0, -1, 10);
  lib.WriteInfo();
  EXPECT_EQ(lib.roots, std::vector<int32_t>{0});
  LibDB back(dir.path().c_str(), 0);
  StdoutCapture out;
  back.ReadInfo();
  EXPECT_EQ(back.roots, std::vector<int32_t>{0});
}

TEST(LibInfo, LibraryWithoutCellsReadsBack) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.meterPerUnit = 1e-10;
  lib.WriteInfo();
  EXPECT_TRUE(lib.roots.empty());
  LibDB back(dir.path().c_str(), 0);
  StdoutCapture out;
  back.ReadInfo();
  EXPECT_TRUE(back.cells.empty());
  EXPECT_TRUE(back.roots.empty());
  EXPECT_EQ(back.unitPerNm, 10.0);
  EXPECT_NE(back.flags & LibDB::InfoRead, 0u);
}

TEST(LibInfo, UnitsPerNanometreAreSnapped) {
  struct Case {
    double meterPerUnit, unitPerNm;
  } cases[] = {{1e-10, 10}, {5e-10, 2}, {2e-9, 0.5}, {2.5e-10, 4},
               {1e-9, 1}, {1e-8, 0.1}, {3e-10, 1e-9 / 3e-10}};
  for (const Case& c : cases) {
    TempDir dir;
    LibDB lib(dir.path().c_str(), 0);
    lib.meterPerUnit = c.meterPerUnit;
    lib.WriteInfo();
    LibDB back(dir.path().c_str(), 0);
    StdoutCapture out;
    back.ReadInfo();
    EXPECT_EQ(back.unitPerNm, c.unitPerNm) << c.meterPerUnit;
  }
}

TEST(LibInfo, UncompressedOpenFindsCompressedIndex) {
  TempDir dir;
  WriteOneCellIndex(dir, 1);
  LibDB back(dir.path().c_str(), 0);
  StdoutCapture out;
  back.ReadInfo();
  EXPECT_EQ(back.gz, 1);
  EXPECT_EQ(back.cells.size(), 1u);
}

TEST(LibInfo, MissingIndexIsReportedAndKeepsTheCompressionFlag) {
  TempDir dir;
  for (int gz : {0, 1}) {
    LibDB lib(dir.path().c_str(), gz);
    try {
      lib.ReadInfo();
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Message(), "Cannot open file info");
      EXPECT_EQ(Unit(e), "LIBIN");
    }
    EXPECT_EQ(lib.gz, gz);
    ExpectUntouched(lib);
  }
}

// A valid header with the given counts in front of the rest.
Bytes Header(double meterPerUnit = 1e-9) {
  Bytes b;
  b.U16(1).F64(meterPerUnit).U16(1).I32(0);
  return b;
}
Bytes Record(Bytes b, Box box, uint16_t file, int32_t s, int32_t r, int32_t e) {
  return b.I32(box.x1).I32(box.y1).I32(box.x2).I32(box.y2).U16(file).I32(s).I32(r).I32(e);
}

TEST(LibInfo, DamagedFilesAreRefusedAndLeaveTheLibraryUntouched) {
  const Box kBox(0, 0, 10, 10);
  Bytes fourCells = Header().I32(1).I32(0).I32(0).I32(6);
  for (int i = 0; i < 4; ++i) fourCells = Record(fourCells, kBox, 1, 0, -1, 8);
  std::string cutInFifth = fourCells.str() + std::string(17, '\0');
  std::string full = Record(Header().I32(1).I32(0).I32(1).U32(0x100).I32(1), kBox,
                            1, 0, -1, 8).str();

  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
    const char* printed;  // expected tail of the output
  } cases[] = {
      {"empty file", "", "Insufficient info", ""},
      {"cut in unit", full.substr(0, 6), "Insufficient info", ""},
      {"cut in depth", full.substr(0, 14), "Insufficient info", ""},
      {"zero unit", Header(0.0).I32(0).I32(0).I32(0).str(), "Insufficient info", ""},
      {"NaN unit", Header(std::nan("")).I32(0).I32(0).I32(0).str(),
       "Insufficient info", ""},
      {"no root count", Header().str(), "Insufficient root info", ""},
      {"negative roots", Header().I32(-1).str(), "Insufficient root info", ""},
      {"huge roots", Header().I32(INT32_MAX).I32(0).I32(0).I32(0).str(),
       "Insufficient root info", ""},
      {"no root for cells", Record(Header().I32(0).I32(0).I32(1), kBox, 1, 0, -1, 8).str(),
       "Insufficient root info", ""},
      {"root id beyond cells", Record(Header().I32(1).I32(1).I32(0).I32(1), kBox, 1, 0, -1, 8).str(),
       "Insufficient root info", ""},
      {"negative root id", Record(Header().I32(1).I32(-1).I32(0).I32(1), kBox, 1, 0, -1, 8).str(),
       "Insufficient root info", ""},
      {"no layer count", Header().I32(1).I32(0).str(), "Insufficient layer info", ""},
      {"negative layers", Header().I32(1).I32(0).I32(-5).str(), "Insufficient layer info", ""},
      {"huge layers", Header().I32(1).I32(0).I32(0x40000000).U32(1).str(),
       "Insufficient layer info", ""},
      {"no cell count", Header().I32(1).I32(0).I32(0).str(), "Insufficient cell info", ""},
      {"negative cells", Header().I32(1).I32(0).I32(0).I32(-1).str(),
       "Insufficient cell info", ""},
      {"huge cells", Record(Header().I32(1).I32(0).I32(0).I32(INT32_MAX), kBox, 1, 0, -1, 8).str(),
       "Insufficient cell info", "Stop at 2-th cell\n"},
      {"cut in fifth record", cutInFifth, "Insufficient cell info", "Stop at 5-th cell\n"},
      {"end before start", Record(Header().I32(1).I32(0).I32(0).I32(1), kBox, 1, 50, -1, 8).str(),
       "Insufficient cell info", "Stop at 1-th cell\n"},
      {"negative start", Record(Header().I32(1).I32(0).I32(0).I32(1), kBox, 1, -3, -1, 8).str(),
       "Insufficient cell info", "Stop at 1-th cell\n"},
      {"reference section outside", Record(Header().I32(1).I32(0).I32(0).I32(1), kBox, 1, 0, 9, 8).str(),
       "Insufficient cell info", "Stop at 1-th cell\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Write("info", c.bytes);
    LibDB lib(dir.path().c_str(), 0);
    StdoutCapture out;
    try {
      lib.ReadInfo();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Message(), c.message);
      EXPECT_EQ(Unit(e), "LIBIN");
    }
    std::string printed = out.Stop();
    std::string tail = c.printed;
    EXPECT_TRUE(printed.size() >= tail.size() &&
                printed.compare(printed.size() - tail.size(), tail.size(), tail) == 0)
        << printed;
    ExpectUntouched(lib);
  }
}

TEST(LibInfo, CorruptCompressedIndexIsRefused) {
  TempDir dir;
  {
    LibDB lib(dir.path().c_str(), 1);
    for (int i = 0; i < 200; ++i) AddStored(lib, nullptr, Box(0, 0, 9, 9 + i), 1, i, -1, i + 1);
    lib.WriteInfo();
  }
  std::string bytes = dir.Read("info.gz");
  ASSERT_GT(bytes.size(), 40u);
  // Damage the deflate data in the middle; the gzip check must not pass.
  for (size_t i = 20; i < 30; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  dir.Write("info.gz", bytes);
  LibDB lib(dir.path().c_str(), 1);
  StdoutCapture out;
  try {
    lib.ReadInfo();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(Unit(e), "LIBIN") << e.Message();
  }
  out.Stop();
  ExpectUntouched(lib);
}

// Huge counts in a short index, plain and compressed: refused as
// "Insufficient ..." without reserving room for them first (the size of a
// compressed index is not known before it is read).
TEST(LibInfo, HugeCountsAllocateNothingLarge) {
  const Box kBox(0, 0, 10, 10);
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"huge roots", Header().I32(INT32_MAX).I32(0).I32(0).I32(0).str(),
       "Insufficient root info"},
      {"huge layers", Header().I32(1).I32(0).I32(INT32_MAX).U32(1).str(),
       "Insufficient layer info"},
      {"huge cells",
       Record(Header().I32(1).I32(0).I32(0).I32(INT32_MAX), kBox, 1, 0, -1, 8).str(),
       "Insufficient cell info"},
  };
  for (int gz : {0, 1}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (gz ? " (compressed)" : ""));
      TempDir dir;
      if (gz) {
        BinaryStream out;
        out.path = dir.File("info.gz");
        out.write = true;
        out.gzip = true;
        ASSERT_TRUE(out.Open());
        out.PutBlock(c.bytes.data(), c.bytes.size());
        out.Close();
      } else {
        dir.Write("info", c.bytes);
      }
      LibDB lib(dir.path().c_str(), gz);
      StdoutCapture out;
      AllocationProbe probe;
      try {
        lib.ReadInfo();
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_STREQ(e.Message(), c.message);
        EXPECT_EQ(Unit(e), "LIBIN");
      }
      EXPECT_LT(probe.Largest(), size_t(64) << 20);
      out.Stop();
      ExpectUntouched(lib);
    }
  }
}

TEST(LibInfo, ReadingIntoALibraryWithCellsIsRefused) {
  TempDir dir;
  WriteOneCellIndex(dir, 0);
  LibDB lib(dir.path().c_str(), 0);
  lib.AddCell("X");
  StdoutCapture out;
  EXPECT_THROW(lib.ReadInfo(), Error);
  out.Stop();
  EXPECT_EQ(lib.cells.size(), 1u);
  EXPECT_TRUE(lib.roots.empty());
  EXPECT_EQ(lib.flags & LibDB::InfoRead, 0u);
}

TEST(LibInfo, FailedRewriteKeepsTheOldIndex) {
  for (int gz : {0, 1}) {
    SCOPED_TRACE(gz);
    TempDir dir;
    const char* name = gz ? "info.gz" : "info";
    LibDB lib(dir.path().c_str(), gz);
    AddStored(lib, "A", Box(0, 0, 4, 4), 1, 0, -1, 10);
    lib.WriteInfo();
    const std::string before = dir.Read(name);
    // Enough cells that the new index cannot be written under the limit.
    for (int i = 0; i < 5000; ++i) AddStored(lib, nullptr, Box(0, 0, 9, 9), 1, i, -1, i + 1);
    lib.flags |= LibDB::InfoDirty;
    {
      test::FileSizeLimit limit(1024);
      try {
        lib.WriteInfo();
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(Unit(e), "LIBOUT");
      }
    }
    EXPECT_EQ(dir.Read(name), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});  // no leftovers
    EXPECT_NE(lib.flags & LibDB::InfoDirty, 0u);
    LibDB back(dir.path().c_str(), gz);
    StdoutCapture out;
    back.ReadInfo();
    EXPECT_EQ(back.cells.size(), 1u);
  }
}

TEST(LibInfo, UnwritableDirectoryIsReported) {
  TempDir dir;
  dir.Write("plain", "x");
  LibDB lib(dir.File("plain").c_str(), 0);  // a path through a regular file
  try {
    lib.WriteInfo();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Message(), "Cannot open file info");
    EXPECT_EQ(Unit(e), "LIBOUT");
  }
}

TEST(LibOptions, ReadsMagnifiedAmongOtherWords) {
  struct Case {
    const char* content;  // null: no file
    int magnified;
  } cases[] = {{nullptr, 0}, {"", 0}, {"OTHER MAGNIFIED", 1}, {"MAGNIFIED\n", 1},
               {"magnified", 0}, {"  \n\tMAGNIFIED  x", 1}};
  for (const Case& c : cases) {
    TempDir dir;
    if (c.content) dir.Write("opt", c.content);
    LibDB lib(dir.path().c_str(), 0);
    lib.ReadOptions();
    EXPECT_EQ(lib.magnified, c.magnified) << (c.content ? c.content : "(none)");
  }
}

TEST(LibOptions, WritesTheWordOrAnEmptyFile) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.magnified = 3;
  lib.WriteOptions();
  EXPECT_EQ(dir.Read("opt"), "MAGNIFIED");
  lib.magnified = 0;
  lib.WriteOptions();
  EXPECT_TRUE(dir.Exists("opt"));
  EXPECT_EQ(dir.Read("opt"), "");
  lib.magnified = 1;
  lib.WriteOptions();
  LibDB back(dir.path().c_str(), 0);
  back.ReadOptions();
  EXPECT_EQ(back.magnified, 1);
}

TEST(LibOptions, UnopenableFileIsReportedByMessage) {
  TempDir dir;
  dir.Write("plain", "x");
  std::string path = dir.File("plain");
  LibDB lib(path.c_str(), 0);
  lib.magnified = 1;
  StdoutCapture out;
  lib.WriteOptions();
  EXPECT_EQ(out.Stop(), "Error: Output file " + path + "/opt could not be opened !\n");
}

}  // namespace
}  // namespace velmar
