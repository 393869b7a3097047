// A GDSII read run as a library load: a read that fails anywhere puts
// the library back exactly as it was (cells with their fields and contents
// in memory, names, definitions, layer table, hierarchy tables, units, file
// numbers); one that completes is kept. And the database unit that a file
// must share with a library that holds cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "support/gds_builder.h"
#include "foundation/error.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using test::GdsBuilder;
using test::GdsReadOptions;
using test::GdsReadResult;
using test::ScratchLibrary;

// Everything of the library that a read may touch, as text.
std::string Dump(const LibDB& lib) {
  std::ostringstream o;
  o << "lib " << lib.libName << " v" << lib.version << " write " << lib.writeDb
    << " open " << lib.openDb << " flags " << lib.flags << " units " << lib.userUnit
    << ' ' << lib.meterPerUnit << ' ' << lib.unitPerNm << " mag " << lib.magnified
    << " depth " << lib.depth << " changed " << int(lib.hierChanged) << '\n';
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    const DBCell* c = lib.cells[id];
    o << "cell " << id;
    if (c == nullptr) {
      o << " removed\n";
      continue;
    }
    o << ' ' << (c->name ? *c->name : "-") << " flags " << c->flags << " file "
      << c->dbFile << ' ' << c->startPos << ' ' << c->refPos << ' ' << c->endPos
      << " box " << c->box.x1 << ' ' << c->box.y1 << ' ' << c->box.x2 << ' '
      << c->box.y2;
    for (const auto& [key, layer] : c->rawLayers) o << " raw " << key << ':' << layer.count;
    for (const auto& [key, tree] : c->indexedLayers)
      o << " tree " << key << ':' << tree.itemCount;
    o << '\n';
  }
  for (const auto& [name, id] : lib.cellIds) o << "name " << name << ' ' << id << '\n';
  for (const CellDef* d : lib.cellDefs) {
    o << "def " << d->cellId << ':';
    for (const ARef& r : d->refs) o << ' ' << r.cellId << '@' << r.x << ',' << r.y;
    o << '\n';
  }
  o << "defIndex";
  for (int32_t i : lib.cellDefIndex) o << ' ' << i;
  o << "\nroots";
  for (int32_t r : lib.roots) o << ' ' << r;
  o << "\norder";
  for (int32_t c : lib.cellOrder) o << ' ' << c;
  o << '\n';
  for (const HierCellRecord& h : lib.hierRecords) {
    o << "rec " << h.level << ':';
    for (int32_t c : h.children) o << ' ' << c;
    for (const auto& [p, n] : h.parents) o << ' ' << p << 'x' << n;
    o << '\n';
  }
  o << "layers";
  for (const auto& [key, info] : lib.layers) o << ' ' << key;
  o << '\n';
  return o.str();
}

std::vector<uint8_t> FirstFile() {
  GdsBuilder b;
  b.BeginLib("FIRST");
  b.BeginStr("leafA").Rect(1, 0, 0, 0, 100, 100).EndStr();
  b.BeginStr("top").Rect(2, 0, 0, 0, 500, 500).SRef("leafA", {200, 200}).EndStr();
  b.EndLib();
  return b.Bytes();
}

// Adds layers and cells, redefines leafA, places leafC before defining it,
// and takes the name of a removed cell.
std::vector<uint8_t> SecondFile() {
  GdsBuilder b;
  b.BeginLib("SECOND");
  b.BeginStr("leaf2").Rect(3, 0, 0, 0, 50, 50).EndStr();
  b.BeginStr("leafA").Rect(4, 0, 0, 0, 300, 300).Rect(1, 0, 0, 0, 10, 10).EndStr();
  b.BeginStr("newtop")
      .SRef("leafA", {0, 0})
      .SRef("leafC", {1000, 0})
      .ARef("leaf2", 2, 3, {0, 900}, {200, 900}, {0, 1200})
      .Rect(5, 0, 0, 0, 40, 40)
      .EndStr();
  b.BeginStr("gone").Rect(6, 0, 0, 0, 5, 5).EndStr();
  b.BeginStr("leafC").Rect(6, 0, 0, 0, 20, 20).SRef("gone", {0, 0}).EndStr();
  b.EndLib();
  return b.Bytes();
}

// The first file read, a removed cell whose name stays in the name map,
// and leafA in memory with an unsaved shape on layer {9 0}.
void Prepare(ScratchLibrary& lib) {
  ASSERT_TRUE(lib.Read(FirstFile()).ok);
  LibDB& l = lib.Lib();
  const int32_t gone = l.AddCell("gone");
  l.cells.Free(size_t(gone));
  DBCell* leaf = l.FindCell("leafA");
  l.LoadCell(leaf, true);
  l.CloseDataFile();
  PSList ring;
  BoxToRing(ring, Box(0, 0, 7, 7), false);
  leaf->InsertPolygons(ring, 9 * 256, false);
  l.flags |= LibDB::DataDirty;
}

TEST(GdsLoadRollback, AReadCutInAnyRecordLeavesTheLibraryAsItWas) {
  const std::vector<uint8_t> second = SecondFile();
  GdsReadOptions asLoad;
  asLoad.asLoad = true;
  // One cut inside every record (each read runs the process-size query,
  // so not every byte).
  std::vector<size_t> cuts;
  for (size_t at = 0; at + 4 <= second.size();) {
    const size_t length = (size_t(second[at]) << 8) | second[at + 1];
    cuts.push_back(at + std::max<size_t>(1, length / 2));
    at += length;
  }
  int failed = 0;
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ScratchLibrary lib;
    Prepare(lib);
    const std::string before = Dump(lib.Lib());
    const std::vector<uint8_t> part(second.begin(), second.begin() + cut);
    const GdsReadResult r = lib.Read(part, asLoad);
    if (r.ok) continue;
    ++failed;
    // The read's own data file number is taken back; everything else
    // must be as it was.
    EXPECT_EQ(Dump(lib.Lib()), before);
    // leafA's unsaved shape is still there, findable through its tree.
    DBCell* leaf = lib.Lib().FindCell("leafA");
    ASSERT_NE(leaf, nullptr);
    ASSERT_EQ(leaf->rawLayers.count(9 * 256), 1u);
    EXPECT_EQ(leaf->rawLayers.at(9 * 256).count, 1);
  }
  EXPECT_EQ(failed, int(cuts.size()));
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<none>";
  std::ostringstream o;
  o << in.rdbuf();
  return o.str();
}

// The last index file of a read cannot be written (a directory stands in
// the way of its rename): the index files already replaced describe the
// library as it was again; a library that had none has none again.
TEST(GdsLoadRollback, IndexFilesWrittenBeforeTheFailureAreRestored) {
  GdsReadOptions asLoad;
  asLoad.asLoad = true;
  for (bool heldCells : {true, false}) {
    SCOPED_TRACE(heldCells ? "library with cells" : "empty library");
    ScratchLibrary lib;
    if (heldCells) {
      ASSERT_TRUE(lib.Read(FirstFile()).ok);
    }
    const std::string names = FileText(lib.Dir() + "/names");
    const std::string info = FileText(lib.Dir() + "/info");
    const std::string before = Dump(lib.Lib());
    std::filesystem::remove(lib.Dir() + "/parents");
    std::filesystem::create_directories(lib.Dir() + "/parents/blocked");
    const GdsReadResult r = lib.Read(SecondFile(), asLoad);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(Dump(lib.Lib()), before);
    EXPECT_EQ(FileText(lib.Dir() + "/names"), names);
    EXPECT_EQ(FileText(lib.Dir() + "/info"), info);
  }
}

TEST(GdsLoadRollback, ACompletedLoadIsKept) {
  ScratchLibrary lib;
  Prepare(lib);
  GdsReadOptions asLoad;
  asLoad.asLoad = true;
  const GdsReadResult r = lib.Read(SecondFile(), asLoad);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(lib.Lib().LoadInProgress());
  const LibDB& l = lib.Lib();
  for (const char* name : {"leaf2", "newtop", "leafC"}) EXPECT_NE(l.FindCell(name), nullptr);
  EXPECT_NE(l.FindCell("gone"), nullptr);  // the removed cell's name is taken
  EXPECT_EQ(l.FindCell("leafA")->box, Box(0, 0, 300, 300));
  EXPECT_EQ(l.libName, "SECOND");
  EXPECT_EQ(l.layers.count(6 * 256), 1u);
}

TEST(GdsLoadRollback, TheUnitOfALibraryWithCellsIsKept) {
  struct Case {
    const char* what;
    bool holdsCells;
    double libraryMeters;
    double fileMeters;
    bool refused;
  } cases[] = {
      {"empty library takes the file's unit", false, 1e-10, 1e-9, false},
      {"same unit", true, 1e-9, 1e-9, false},
      {"same unit up to the last bits", true, 1e-9, 1e-9 * (1 + 1e-14), false},
      {"finer file", true, 1e-9, 1e-10, true},
      {"coarser file", true, 1e-10, 1e-9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LibDB lib("", 0);
    lib.meterPerUnit = c.libraryMeters;
    lib.unitPerNm = SnapUnit(1e-9 / c.libraryMeters);
    if (c.holdsCells) lib.AddCell("a");
    const double unitPerNm = lib.unitPerNm;
    try {
      lib.TakeFileUnits(0.001, c.fileMeters, "GDSIN");
      EXPECT_FALSE(c.refused);
      EXPECT_DOUBLE_EQ(lib.meterPerUnit, c.fileMeters);
      EXPECT_DOUBLE_EQ(lib.unitPerNm, SnapUnit(1e-9 / c.fileMeters));
    } catch (const Error& e) {
      EXPECT_TRUE(c.refused);
      char expected[128];
      std::snprintf(expected, sizeof expected,
                    "Database unit %e differs from the library's %e", c.fileMeters,
                    c.libraryMeters);
      EXPECT_EQ(std::string(e.Message()), expected);
      EXPECT_STREQ(e.Unit(), "GDSIN");
      EXPECT_EQ(lib.meterPerUnit, c.libraryMeters);
      EXPECT_EQ(lib.unitPerNm, unitPerNm);
    }
  }
}

// A library whose cells are removed holds none: it takes a new unit.
TEST(GdsLoadRollback, RemovedCellsDoNotFixTheUnit) {
  LibDB lib("", 0);
  const int32_t id = lib.AddCell("a");
  lib.cells.Free(size_t(id));
  EXPECT_FALSE(lib.HoldsCells());
  lib.TakeFileUnits(0.001, 1e-10, "GDSIN");
  EXPECT_DOUBLE_EQ(lib.unitPerNm, 10.0);
}

}  // namespace
}  // namespace velmar
