// Whole-library round trips through real directories, plain and
// compressed: storing every modified cell, writing the index and names,
// reopening and loading every cell (with and without search trees, or only
// the references), saving a second time by appending, and checking that
// every cell reads back exactly. Also: loading leaves cells already in
// memory alone, saving never loses a cell when a write fails half-way, and
// rewriting every cell into one data file.

#include <sys/stat.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/stdout_capture.h"
#include "layoutdb/lib_data_fixtures.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using data_test::AddRef;
using data_test::AddRings;
using data_test::CellSnap;
using data_test::NewARef;
using data_test::NewSRef;
using data_test::Rect;
using data_test::Snap;
using data_test::Square;
using data_test::UnitOf;
using data_test::Unload;
using test::StdoutCapture;
using test::TempDir;
using Ring = cell_test::Ring;

// Names the instances of a suite run on plain and on compressed libraries.
std::string PlainOrCompressed(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Compressed" : "Plain";
}
using Snaps = std::map<std::string, CellSnap>;

Ring Moved(const Ring& r, int32_t x, int32_t y) { return cell_test::Moved(r, x, y); }

DBCell* NewCell(LibDB& lib, const char* name, Box box = Box()) {
  DBCell* c = lib.cells[lib.AddCell(name)];
  c->box = box;
  return c;
}

DBCell* Named(const LibDB& lib, const char* name) {
  DBCell* c = lib.FindCell(name);
  EXPECT_NE(c, nullptr) << name;
  return c;
}

// A magnification that counts as none is stored as none and reads back as
// exactly 1.
CellSnap Stored(CellSnap s) {
  for (auto& r : s.refs)
    if (IsNoMagnification(r.mag)) r.mag = 1.0f;
  std::sort(s.refs.begin(), s.refs.end());
  return s;
}

Snaps SnapAll(const LibDB& lib) {
  Snaps out;
  for (const DBCell* c : lib.cells)
    if (c != nullptr && c->name != nullptr) out[*c->name] = Stored(Snap(*c));
  return out;
}

std::string DataFile(bool gz, int n) {
  return "db" + std::to_string(n) + (gz ? ".gz" : "");
}

// The library of the round trips:
//   leaf_a    shapes only: datatypes 0, 128, 200, 255; shared shapes;
//             squares, rectangles, manhattan, octangular and general
//             shapes, with and without code words
//   far       two squares 4e9 apart (differences beyond 31 bits)
//   refs_only references to leaf_a only: every odd orientation, arrays,
//             magnifications (one within 2^-23 of 1)
//   empty     a box and nothing else
//   top       shapes, and references to refs_only, empty and leaf_a
//   emptied   modified, but without a box: not stored
void BuildLibrary(LibDB& lib) {
  lib.libName = "roundtrip";
  DBCell* a = NewCell(lib, "leaf_a");
  AddRings(*a, 1 * 256, {Square(0, 0, 10), Square(50, 0, 10), Square(0, 50, 10),
                         Rect(100, 0, 30, 7)});
  AddRings(*a, 2 * 256 + 128,
           {{{0, 100}, {30, 100}, {30, 110}, {10, 110}, {10, 125}, {0, 125}},
            {{40, 100}, {70, 100}, {70, 130}, {60, 130}, {60, 110}, {50, 110},
             {50, 130}, {40, 130}}});
  AddRings(*a, 63 * 256 + 255,
           {{{205, 0}, {225, 0}, {230, 5}, {230, 15}, {225, 20}, {205, 20}, {200, 15},
             {200, 5}},
            {{300, 0}, {310, 0}, {300, 10}}});
  AddRings(*a, 5 * 256 + 200,
           {Moved({{0, 0}, {10, 1}, {20, 5}, {22, 15}, {8, 20}, {-3, 9}}, 400, 0),
            Moved({{0, 0}, {13, 2}, {4, 9}}, 500, 0),
            Moved({{0, 0}, {13, 2}, {4, 9}}, 500, 40)});
  a->flags |= DBCell::Leaf;

  DBCell* far = NewCell(lib, "far");
  AddRings(*far, 255 * 256 + 255,
           {Square(-2000000000, 1999999000, 100), Square(1999999000, -2000000000, 100)});

  DBCell* refs = NewCell(lib, "refs_only");
  AddRef(lib, *refs, NewSRef(0, 1000, 0, 1, 2.5f));
  AddRef(lib, *refs, NewARef(0, 0, 2000, 5, 3, 2, 100, -50));
  AddRef(lib, *refs, NewSRef(0, -500, -500, 7));
  AddRef(lib, *refs, NewSRef(0, 3000, 3000, 3, float(1.0 + std::ldexp(1.0, -23))));
  AddRef(lib, *refs, NewARef(0, 0, -3000, 2, 1, 4, 0, 300, 0.75f));

  DBCell* empty = NewCell(lib, "empty", Box(0, 0, 10, 10));
  empty->flags |= DBCell::Modified;

  DBCell* top = NewCell(lib, "top");
  AddRings(*top, 1 * 256, {Rect(-100, -100, 5000, 20)});
  AddRef(lib, *top, NewSRef(2, 10000, 0, 6));
  AddRef(lib, *top, NewSRef(3, 0, 9000));
  AddRef(lib, *top, NewARef(0, -4000, 4000, 4, 2, 2, 700, 700, 0.5f));
  AddRef(lib, *top, NewSRef(0, -4000, 4000, 4));

  DBCell* emptied = NewCell(lib, "emptied");
  emptied->flags |= DBCell::Modified;

  lib.roots = {lib.FindCellId("top"), lib.FindCellId("far")};
  for (const DBCell* c : lib.cells)
    for (const auto& [key, layer] : c->rawLayers) lib.layers[uint32_t(key)];
  lib.flags |= LibDB::DataDirty | LibDB::NamesDirty | LibDB::InfoDirty;
}

void Reopen(LibDB& lib) {
  StdoutCapture quiet;  // the index reader reports the units
  lib.ReadInfo();
  lib.ReadNames();
}

// Stores the library of BuildLibrary in dir, plain, with its directory files.
void SaveBuiltLibrary(const TempDir& dir) {
  LibDB lib(dir.path().c_str(), 0);
  BuildLibrary(lib);
  lib.SaveModified();
  StdoutCapture quiet;
  lib.WriteInfo();
  lib.WriteNames();
}

class LibraryRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(LibraryRoundTrip, EveryCellReadsBackAlsoAfterSavingTwice) {
  const bool gz = GetParam();
  TempDir dir;
  Snaps want;
  {
    LibDB lib(dir.path().c_str(), gz);
    BuildLibrary(lib);
    lib.SaveModified();
    EXPECT_EQ(lib.flags & LibDB::DataDirty, 0u);
    EXPECT_NE(lib.flags & LibDB::InfoDirty, 0u);
    EXPECT_EQ(lib.openDb, 0);
    EXPECT_EQ(lib.writeDb, 1);

    const DBCell* refs = Named(lib, "refs_only");
    EXPECT_EQ(refs->refPos, refs->startPos);
    const DBCell* empty = Named(lib, "empty");
    EXPECT_EQ(empty->startPos, empty->endPos);
    EXPECT_EQ(empty->refPos, -1);
    EXPECT_EQ(Named(lib, "leaf_a")->refPos, -1);
    const DBCell* emptied = Named(lib, "emptied");
    EXPECT_EQ(emptied->dbFile, 0);
    EXPECT_NE(emptied->flags & DBCell::Modified, 0);
    for (const DBCell* c : lib.cells)
      if (c->box.IsValid()) {
        EXPECT_EQ(c->dbFile, 1);
        EXPECT_EQ(c->flags & DBCell::Modified, 0);
      }

    want = SnapAll(lib);
    StdoutCapture quiet;
    lib.WriteInfo();
    lib.WriteNames();
  }
  ASSERT_TRUE(dir.Exists(DataFile(gz, 1)));
  const std::string firstFile = dir.Read(DataFile(gz, 1));
  const std::string firstContent =
      gz ? data_test::ReadGzip(dir.File(DataFile(gz, 1))) : firstFile;

  // Reopen, load everything indexed, change two cells and save again.
  {
    LibDB lib(dir.path().c_str(), gz);
    Reopen(lib);
    {
      StdoutCapture out;
      lib.LoadAll(false, true);
      EXPECT_EQ(out.Stop().rfind("Loading all...\n", 0), 0u);
    }
    EXPECT_EQ(lib.openDb, 0);
    EXPECT_FALSE(lib.dbStream.IsOpen());
    EXPECT_EQ(SnapAll(lib), want);
    for (const DBCell* c : lib.cells) data_test::ExpectIndexed(lib, *c);
    // The magnification within 2^-23 of 1 is exactly 1 on reading.
    int nearOne = 0;
    for (const auto& r : Snap(*Named(lib, "refs_only")).refs) {
      if (r.orientation != 3) continue;
      EXPECT_EQ(r.mag, 1.0f);
      ++nearOne;
    }
    EXPECT_EQ(nearOne, 1);

    DBCell* a = Named(lib, "leaf_a");
    AddRings(*a, 9 * 256 + 130, {Square(7, 7, 7), Square(70, 70, 7)});
    DBCell* top = Named(lib, "top");
    AddRings(*top, 1 * 256, {Square(-100, 50, 25)});
    lib.flags |= LibDB::DataDirty;
    const int32_t aStartBefore = a->startPos;
    lib.SaveModified();
    EXPECT_GT(a->startPos, aStartBefore);
    EXPECT_EQ(a->dbFile, 1);
    want["leaf_a"] = Stored(Snap(*a));
    want["top"] = Stored(Snap(*top));
    StdoutCapture quiet;
    lib.WriteInfo();
  }
  // The second save appended: every byte of the first stays where it was
  // (a compressed file got a further gzip member).
  const std::string secondFile = dir.Read(DataFile(gz, 1));
  EXPECT_GT(secondFile.size(), firstFile.size());
  EXPECT_EQ(secondFile.substr(0, firstFile.size()), firstFile);
  if (gz) {
    const std::string content = data_test::ReadGzip(dir.File(DataFile(gz, 1)));
    EXPECT_EQ(content.substr(0, firstContent.size()), firstContent);
  }

  {
    LibDB lib(dir.path().c_str(), gz);
    Reopen(lib);
    StdoutCapture quiet;
    lib.LoadAll(false, false);
    EXPECT_EQ(SnapAll(lib), want);
  }
  {
    // References only: the shapes stay on disk.
    LibDB lib(dir.path().c_str(), gz);
    Reopen(lib);
    StdoutCapture quiet;
    lib.LoadAll(true, false);
    for (const DBCell* c : lib.cells) {
      SCOPED_TRACE(*c->name);
      EXPECT_TRUE(c->rawLayers.empty());
      EXPECT_EQ(Stored(Snap(*c)).refs, want[*c->name].refs);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, LibraryRoundTrip, ::testing::Bool(),
                         PlainOrCompressed);

// ---------------------------------------------------------------------------

TEST(LoadAll, LeavesCellsInMemoryAloneAndClosesTheDataFile) {
  TempDir dir;
  SaveBuiltLibrary(dir);
  LibDB lib(dir.path().c_str(), 0);
  Reopen(lib);
  // A cell already loaded and changed in memory.
  DBCell* top = Named(lib, "top");
  lib.LoadCell(top, false);
  AddRings(*top, 4 * 256, {Square(1, 1, 1)});
  const CellSnap topBefore = Stored(Snap(*top));
  // A cell whose box is not proper takes no part.
  DBCell* refs = Named(lib, "refs_only");
  refs->box = Box();

  StdoutCapture out;
  lib.LoadAll(false, true);
  EXPECT_EQ(out.Stop().rfind("Loading all...\n", 0), 0u);
  EXPECT_EQ(Stored(Snap(*top)), topBefore);
  EXPECT_TRUE(refs->IsEmpty());
  EXPECT_FALSE(Named(lib, "leaf_a")->IsEmpty());
  EXPECT_EQ(lib.openDb, 0);
  EXPECT_FALSE(lib.dbStream.IsOpen());
}

TEST(LoadAll, CorruptCellStopsLoadingAndClosesTheDataFile) {
  TempDir dir;
  SaveBuiltLibrary(dir);
  LibDB lib(dir.path().c_str(), 0);
  Reopen(lib);
  DBCell* far = Named(lib, "far");
  // Overwrite far's record with layer words that no record holds.
  std::string bytes = dir.Read("db1");
  for (int32_t i = far->startPos; i < far->endPos; ++i) bytes[size_t(i)] = '\xFF';
  dir.Write("db1", bytes);

  StdoutCapture quiet;
  try {
    lib.LoadAll(false, true);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBIN");
  }
  EXPECT_FALSE(Named(lib, "leaf_a")->IsEmpty());  // loaded before
  EXPECT_TRUE(far->IsEmpty());
  EXPECT_EQ(lib.openDb, 0);
  EXPECT_FALSE(lib.dbStream.IsOpen());
}

// Cells stored in two data files, each in the reverse order of their ids
// (as a GDSII file written top down leaves them): loading everything goes
// through the files in their order and gives back every cell, shapes and
// references, plain and compressed.
TEST(LoadAll, CellsStoredAgainstTheirIdOrderReadBack) {
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "compressed" : "plain");
    TempDir dir;
    Snaps want;
    {
      LibDB lib(dir.path().c_str(), gz);
      for (int i = 0; i < 6; ++i) {
        const std::string name = "c" + std::to_string(i);
        DBCell* c = NewCell(lib, name.c_str());
        AddRings(*c, (1 + i) * 256, {Square(10 * i, 0, 5 + i), Rect(0, 20 * i, 7, 3 + i)});
      }
      AddRef(lib, *lib.cells[0], NewSRef(5, 100, 0, 3));
      AddRef(lib, *lib.cells[3], NewARef(1, 0, 50, 1, 2, 3, 40, 60));
      for (int file : {1, 2}) {
        lib.writeDb = uint16_t(file);
        for (int i = file == 1 ? 5 : 2; i >= (file == 1 ? 3 : 0); --i) {
          DBCell* c = lib.cells[size_t(i)];
          lib.OpenCellFile(c);
          lib.WriteCellLayers(c);
          lib.WriteCellReferences(c);
          EXPECT_EQ(c->dbFile, file);
        }
        lib.CloseDataFile();
      }
      EXPECT_GT(lib.cells[3]->startPos, lib.cells[4]->startPos);
      want = SnapAll(lib);
      StdoutCapture quiet;
      lib.WriteInfo();
      lib.WriteNames();
    }
    {
      LibDB lib(dir.path().c_str(), gz);
      Reopen(lib);
      StdoutCapture quiet;
      lib.LoadAll(false, true);
      EXPECT_EQ(SnapAll(lib), want);
      EXPECT_FALSE(lib.dbStream.IsOpen());
    }
    {
      LibDB lib(dir.path().c_str(), gz);
      Reopen(lib);
      StdoutCapture quiet;
      lib.LoadAll(true, false);
      for (const DBCell* c : lib.cells) {
        SCOPED_TRACE(*c->name);
        EXPECT_TRUE(c->rawLayers.empty());
        EXPECT_EQ(Stored(Snap(*c)).refs, want[*c->name].refs);
      }
    }
  }
}

// ---------------------------------------------------------------------------

TEST(SaveModified, NewLibraryWritesFileOneAndSkipsWhatCannotBeStored) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* x = NewCell(lib, "x");
  AddRings(*x, 1, {Square(0, 0, 4)});
  DBCell* z = NewCell(lib, "z");
  AddRings(*z, 1, {Rect(0, 0, 4, 9)});
  lib.flags |= LibDB::DataDirty;
  lib.SaveModified();
  EXPECT_EQ(lib.writeDb, 1);
  EXPECT_EQ(x->dbFile, 1);
  EXPECT_EQ(lib.flags & LibDB::DataDirty, 0u);
  const std::string stored = dir.Read("db1");

  // x: loaded, changed, then emptied: no proper box, not written.
  x->box = Box();
  x->flags |= DBCell::Modified;
  // z: marked modified while nothing of it is in memory: writing it from
  // memory would replace its stored shapes by an empty record.
  Unload(*z);
  z->flags |= DBCell::Modified;
  const int32_t zStart = z->startPos, zEnd = z->endPos;
  lib.flags |= LibDB::DataDirty;
  lib.SaveModified();
  EXPECT_EQ(dir.Read("db1"), stored);
  EXPECT_NE(x->flags & DBCell::Modified, 0);
  EXPECT_EQ(z->startPos, zStart);
  EXPECT_EQ(z->endPos, zEnd);
  lib.LoadCell(z, false);
  EXPECT_EQ(z->rawLayers.at(1).count, 1);
}

class SaveFailure : public ::testing::TestWithParam<bool> {};

TEST_P(SaveFailure, WriteFailingHalfWayLosesNoCell) {
  const bool gz = GetParam();
  TempDir dir;
  LibDB lib(dir.path().c_str(), gz);
  std::vector<DBCell*> cells;
  for (const char* name : {"k1", "k2", "k3"}) {
    DBCell* c = NewCell(lib, name);
    AddRings(*c, 1, {Square(0, 0, 10), Rect(20, 0, 5, 8)});
    cells.push_back(c);
  }
  lib.SaveModified();
  {
    StdoutCapture quiet;
    lib.WriteInfo();
    lib.WriteNames();
  }
  const std::string name = DataFile(gz, 1);
  const std::string before = dir.Read(name);

  // k1 grows by a hundred distinct shapes (its record is complete before the
  // write fails, but not yet on disk), k2 by thousands; k3 stays as stored.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> len(1, 1 << 20);
  for (int k = 0; k < 2; ++k) {
    std::vector<Ring> rings;
    for (int i = 0; i < (k == 0 ? 100 : 3000); ++i)
      rings.push_back(Rect(i * 10, k, len(rng), len(rng)));
    AddRings(*cells[size_t(k)], 2, rings);
  }
  struct Where {
    uint16_t file;
    int32_t start, ref, end;
  };
  std::vector<Where> where;
  for (DBCell* c : cells) where.push_back({c->dbFile, c->startPos, c->refPos, c->endPos});
  lib.flags |= LibDB::DataDirty;
  {
    test::FileSizeLimit limit(rlim_t(before.size()) + 64);
    try {
      lib.SaveModified();
      ADD_FAILURE() << "saved past the file size limit";
    } catch (const Error& e) {
      EXPECT_EQ(UnitOf(e), "LIBOUT");
    }
  }
  for (size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cells[i]->dbFile, where[i].file);
    EXPECT_EQ(cells[i]->startPos, where[i].start);
    EXPECT_EQ(cells[i]->refPos, where[i].ref);
    EXPECT_EQ(cells[i]->endPos, where[i].end);
    EXPECT_EQ(cells[i]->flags & DBCell::Modified, i < 2 ? DBCell::Modified : 0);
  }
  EXPECT_NE(lib.flags & LibDB::DataDirty, 0u);
  EXPECT_EQ(lib.openDb, 0);
  // What was stored before is still there.
  EXPECT_EQ(dir.Read(name).substr(0, before.size()), before);

  // Without the limit the save goes through (a compressed file whose last
  // member was cut off takes no more cells: they go to the next file).
  lib.SaveModified();
  const Snaps want = SnapAll(lib);
  {
    StdoutCapture quiet;
    lib.WriteInfo();
  }
  LibDB again(dir.path().c_str(), gz);
  Reopen(again);
  StdoutCapture quiet;
  again.LoadAll(false, false);
  EXPECT_EQ(SnapAll(again), want);
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, SaveFailure, ::testing::Bool(),
                         PlainOrCompressed);

// ---------------------------------------------------------------------------

TEST(SaveAllTo, RewritesEveryCellIntoOneFile) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  BuildLibrary(lib);
  lib.SaveModified();
  const Snaps want = SnapAll(lib);

  auto openForWriting = [&](int n) {
    lib.dbStream.path = dir.File(DataFile(false, n));
    lib.dbStream.write = true;
    lib.dbStream.gzip = false;
    lib.dbStream.openMode = 0;
    lib.dbStream.unit = "LIBOUT";
    ASSERT_TRUE(lib.dbStream.Open());
    lib.openDb = n;
  };

  // A stored cell that is not in memory is refused before anything is
  // written.
  DBCell* far = Named(lib, "far");
  const int32_t farStart = far->startPos;
  Unload(*far);
  openForWriting(8);
  try {
    lib.SaveAllTo(8);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
  }
  EXPECT_EQ(lib.dbStream.Tell(), 0);
  EXPECT_EQ(far->dbFile, 1);
  EXPECT_EQ(far->startPos, farStart);
  lib.CloseDataFile();
  lib.LoadCell(far, false);

  openForWriting(7);
  lib.SaveAllTo(7);
  EXPECT_TRUE(lib.dbStream.IsWriting());  // the file stays open
  lib.CloseDataFile();
  for (const DBCell* c : lib.cells) {
    if (!c->box.IsValid()) continue;
    EXPECT_EQ(c->dbFile, 7);
    EXPECT_EQ(c->flags & DBCell::Modified, 0);
  }
  EXPECT_EQ(lib.flags & LibDB::DataDirty, 0u);
  {
    StdoutCapture quiet;
    lib.WriteInfo();
    lib.WriteNames();
  }
  ASSERT_EQ(::remove(dir.File("db1").c_str()), 0);  // nothing refers to it now
  LibDB again(dir.path().c_str(), 0);
  Reopen(again);
  StdoutCapture quiet;
  again.LoadAll(false, true);
  EXPECT_EQ(SnapAll(again), want);
}

}  // namespace
}  // namespace velmar
