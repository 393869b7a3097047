// API: opening and closing libraries, the release of the pools at the end
// of a run, loading layouts and polygon files, reading an existing library,
// writing changes back, units and freeing memory.

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "foundation/search_tree.h"
#include "layoutdb/shape_list.h"

namespace velmar {
namespace {

using test::InspectableApi;

using namespace store_test;  // the stored-library fixtures

class LibraryTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLogStream(nullptr); }

  // A library directory loaded with the standard layout by an API object
  // of its own (the directory files are written by the read).
  std::string LoadedLibrary(const std::string& name) {
    const std::string dir = LibraryDir(tmp_, name);
    const std::string gds = tmp_.File(name + ".gds");
    WriteStandardGds(gds);
    InspectableApi api;
    api.OpenLibrary(dir.c_str(), 0);
    int ok = 0;
    Captured([&] { ok = api.LoadGds(gds.c_str(), 0, ""); });
    EXPECT_EQ(ok, 1);
    Captured([&] { api.CloseLibraries(); });
    return dir;
  }

  test::TempDir tmp_;
};

TEST_F(LibraryTest, OpenLibraryIntoAnOccupiedSlotClosesTheLibraryThere) {
  const std::string a = LibraryDir(tmp_, "a");
  const std::string b = LibraryDir(tmp_, "b");
  InspectableApi api;
  EXPECT_EQ(api.OpenLibrary(a.c_str(), 0), 1);
  EXPECT_EQ(api.GetLibraryPath(0), a);
  // Bytes still buffered in the first library's data file.
  LibDB* first = api.currentLib;
  first->dbStream.path = a + "/db1";
  first->dbStream.write = true;
  ASSERT_TRUE(first->dbStream.Open());
  first->openDb = 1;
  for (uint8_t c : {7, 8, 9}) first->dbStream.PutChar(c);

  EXPECT_EQ(api.OpenLibrary(b.c_str(), 1), 1);
  EXPECT_EQ(ReadFile(a + "/db1"), std::string("\x07\x08\x09", 3));
  EXPECT_EQ(api.GetLibraryPath(0), b);
  EXPECT_EQ(api.currentLib, api.libs[0].get());
  EXPECT_EQ(api.currentLib->gz, 1);
  Captured([&] { api.CloseLibraries(); });
}

TEST_F(LibraryTest, SlotsPathsAndClosing) {
  const std::string a = LibraryDir(tmp_, "a");
  const std::string b = LibraryDir(tmp_, "b");
  InspectableApi api;
  for (int lid : {-1, 0, 9, 10}) EXPECT_EQ(api.GetLibraryPath(lid), "");
  api.OpenLibrary(a.c_str(), 0);
  api.SetLibrary(2);
  api.OpenLibrary(b.c_str(), 0);
  EXPECT_EQ(api.GetLibraryPath(0), a);
  EXPECT_EQ(api.GetLibraryPath(2), b);
  EXPECT_EQ(api.GetLibraryPath(1), "");

  api.workingCell = 5;
  std::string out = Captured([&] { api.CloseLibrary(); });
  EXPECT_NE(out.find("Total Memory = "), std::string::npos) << out;
  EXPECT_EQ(api.currentLib, nullptr);
  EXPECT_EQ(api.ExistLibrary(2), 0);
  EXPECT_EQ(api.ExistLibrary(0), 1);
  EXPECT_EQ(api.workingCell, 5);  // kept, as the slot's working cell is
  Captured([&] { api.CloseLibrary(); });  // nothing current: only the report

  api.SetLibrary(0);
  Captured([&] { api.CloseLibraries(); });
  EXPECT_EQ(api.ExistLibrary(0), 0);
  EXPECT_EQ(api.currentLib, nullptr);
}

TEST_F(LibraryTest, CloseLogClosesEveryOpenLibraryBeforeReleasingThePools) {
  const std::string dir = LoadedLibrary("lib");
  auto a = std::make_unique<InspectableApi>();
  auto b = std::make_unique<InspectableApi>();
  for (InspectableApi* api : {a.get(), b.get()}) {
    api->OpenLibrary(dir.c_str(), 0);
    // Every cell in memory with its search trees: pooled shapes,
    // placements and tree nodes.
    Captured([&] { EXPECT_EQ(api->LoadLibraryAll(1), 1); });
  }
  b->SetLibrary(3);
  b->OpenLibrary(dir.c_str(), 0);
  ASSERT_GT(LocList::ReportPool(true), 0);

  std::string out = Captured([&] { a->CloseLog(); });
  // The libraries went silently: no process-size line.
  EXPECT_EQ(out.find("Total Memory"), std::string::npos) << out;
  for (InspectableApi* api : {a.get(), b.get()}) {
    EXPECT_EQ(api->currentLib, nullptr);
    for (const auto& lib : api->libs) EXPECT_EQ(lib, nullptr);
  }
  EXPECT_EQ(LocList::ReportPool(true), 0);
  EXPECT_EQ(CPgonList::ReportPool(true), 0);
  EXPECT_EQ(ReportSearchSystemMemory(true), 0);
  // Nothing touches released pool memory afterwards (sanitizer build).
  a.reset();
  b.reset();
  EXPECT_EQ(StoredArea(dir, "top", 1 << 8), 1000000.0L + 10000.0L);
}

// --- Loading -------------------------------------------------------------------

TEST_F(LibraryTest, TwoReadsWriteTwoDataFiles) {
  const std::string dir = LibraryDir(tmp_, "lib");
  const std::string first = tmp_.File("first.gds");
  const std::string second = tmp_.File("second.gds");
  WriteStandardGds(first);
  WriteStandardGds(second, "b_");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  std::string out = Captured([&] { EXPECT_EQ(api.LoadGds(first.c_str(), 0, ""), 1); });
  EXPECT_EQ(out.rfind("\n", 0), 0u);  // the date line starts with "\n"
  EXPECT_NE(out.find("Reading GDS " + first + "\n"), std::string::npos);
  const std::string db1 = ReadFile(dir + "/db1");
  Captured([&] { EXPECT_EQ(api.LoadGds(second.c_str(), 0, "x_"), 1); });
  EXPECT_EQ(api.currentLib->writeDb, 2);
  EXPECT_EQ(ReadFile(dir + "/db1"), db1);
  EXPECT_TRUE(Exists(dir + "/db2"));
  EXPECT_GE(api.currentLib->FindCellId("x_b_top"), 0);  // the prefix
  Captured([&] { api.CloseLibraries(); });
  EXPECT_EQ(StoredArea(dir, "top", 1 << 8), 1010000.0L);
  EXPECT_EQ(StoredArea(dir, "x_b_top", 1 << 8), 1010000.0L);
}

TEST_F(LibraryTest, ReadIntoAStoredLibraryKeepsItsFilesAndHierarchy) {
  // Read into at once, or after the library's tables were read.
  for (bool tablesRead : {false, true}) {
    SCOPED_TRACE(tablesRead);
    const std::string dir = LoadedLibrary(tablesRead ? "read" : "lib");
    const std::string db1 = ReadFile(dir + "/db1");
    const std::string gds = tmp_.File("more.gds");
    WriteStandardGds(gds, "m_");
    InspectableApi api;
    api.OpenLibrary(dir.c_str(), 0);
    if (tablesRead) Captured([&] { EXPECT_EQ(api.LoadLibraryInfo(), 1); });
    Captured([&] { EXPECT_EQ(api.LoadGds(gds.c_str(), 0, ""), 1); });
    EXPECT_EQ(ReadFile(dir + "/db1"), db1);
    EXPECT_TRUE(Exists(dir + "/db2"));
    // The earlier cells keep their references: "child" is no root.
    LibDB& lib = *api.currentLib;
    std::set<std::string> roots;
    for (int32_t id : lib.roots) roots.insert(*lib.cells[id]->name);
    EXPECT_EQ(roots, (std::set<std::string>{"top", "other", "m_top", "m_other"}));
    Captured([&] { api.CloseLibraries(); });
    EXPECT_EQ(StoredArea(dir, "top", 1 << 8), 1010000.0L);
    EXPECT_EQ(StoredArea(dir, "m_top", 2 << 8), 10000.0L);
  }
}

TEST_F(LibraryTest, ReadFailuresReturnZero) {
  const std::string dir = LibraryDir(tmp_, "lib");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  std::string out = Captured([&] {
    EXPECT_EQ(api.LoadGds(tmp_.File("missing.gds").c_str(), 0, ""), 0);
  });
  EXPECT_NE(out.find("ERROR: GDSIN: "), std::string::npos) << out;
  EXPECT_FALSE(Exists(dir + "/db1"));

  const std::string gds = tmp_.File("a.gds");
  WriteStandardGds(gds);
  api.OpenLibrary(tmp_.File("no/such/dir").c_str(), 0);
  out = Captured([&] { EXPECT_EQ(api.LoadGds(gds.c_str(), 0, ""), 0); });
  EXPECT_NE(out.find("ERROR: Library cannot be written\n"), std::string::npos) << out;
  Captured([&] { api.CloseLibraries(); });
}

TEST_F(LibraryTest, LoadPolyAddsToTheStoredCell) {
  const std::string dir = LoadedLibrary("lib");
  const std::string poly = tmp_.File("p.txt");
  std::ofstream(poly) << "4\n3000 0\n3100 0\n3100 100\n3000 100\n0 3000 200 3100 300\n";
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  std::string out;
  out = Captured([&] { EXPECT_EQ(api.LoadPoly(poly.c_str(), "", 1, 0), 1); });
  EXPECT_NE(out.find("Reading Polygon file " + poly + " into cell  on layer (1 0)\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  Cell adjusted to top\n"), std::string::npos) << out;
  out = Captured([&] { EXPECT_EQ(api.LoadPoly(poly.c_str(), "top", 9, 1), 1); });
  EXPECT_NE(api.currentLib->layers.count((9 << 8) | 1), 0u);

  out = Captured([&] { EXPECT_EQ(api.LoadPoly(poly.c_str(), "nope", 1, 0), 0); });
  EXPECT_NE(out.find("ERROR: Cell nope is not defined"), std::string::npos) << out;
  out = Captured([&] {
    EXPECT_EQ(api.LoadPoly(tmp_.File("none.txt").c_str(), "top", 1, 0), 0);
  });
  EXPECT_NE(out.find("Warning: nothing in it\n"), std::string::npos) << out;

  Captured([&] { api.UpdateLibrary(); });
  Captured([&] { api.CloseLibraries(); });
  // The stored square of top stays; both polygons join it.
  EXPECT_EQ(StoredArea(dir, "top", 1 << 8), 1010000.0L + 20000);
  EXPECT_EQ(StoredArea(dir, "top", (9 << 8) | 1), 20000.0L);
  EXPECT_EQ(store_test::StoredBox(dir, "top"), Box(0, 0, 3100, 1000));
}

// --- Reading an existing library ---------------------------------------------

TEST_F(LibraryTest, TablesAreReadOncePerLibraryAndInfosStopAtAnEmptySlot) {
  const std::string dir = LoadedLibrary("lib");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  api.SetLibrary(2);
  api.OpenLibrary(dir.c_str(), 0);
  api.SetLibrary(0);
  Captured([&] { EXPECT_EQ(api.LoadLibraryInfos(), 1); });
  EXPECT_NE(api.libs[0]->flags & LibDB::InfoRead, 0u);
  EXPECT_EQ(api.libs[2]->flags & LibDB::InfoRead, 0u);  // behind empty slot 1
  // A second read uses the tables already read.
  std::remove((dir + "/info").c_str());
  std::remove((dir + "/names").c_str());
  Captured([&] { EXPECT_EQ(api.LoadLibraryInfo(), 1); });
  api.SetLibrary(2);
  std::string out = Captured([&] { EXPECT_EQ(api.LoadLibraryInfo(), 0); });
  EXPECT_NE(out.find("ERROR: LIBIN: "), std::string::npos) << out;
  out = Captured([&] { EXPECT_EQ(api.LoadLibraryAll(0), 0); });
  EXPECT_NE(out.find("Reading whole library\n"), std::string::npos) << out;
  Captured([&] { api.CloseLibraries(); });
}

// --- Writing back -------------------------------------------------------------------

TEST_F(LibraryTest, UpdateWritesOnlyWhatChangedAndResetsTheCounters) {
  const std::string dir = LoadedLibrary("lib");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  Captured([&] { api.LoadLibraryInfo(); });
  std::remove((dir + "/info").c_str());
  std::remove((dir + "/names").c_str());
  api.savedPolygonsDB = 3;
  api.non45Violations = 2;
  std::string out = Captured([&] { api.UpdateLibrary(); });
  EXPECT_EQ(out,
            "\nSummary:\n  Total saved polygons in DB = 3\n"
            "  Total Non45 violation segments = 2\n");
  EXPECT_FALSE(Exists(dir + "/info"));
  EXPECT_FALSE(Exists(dir + "/names"));
  out = Captured([&] { api.UpdateLibrary(); });
  EXPECT_EQ(out, "\nSummary:\n");

  // A changed unit is written.
  Captured([&] { api.ChangeDBUnit(0.5); });
  Captured([&] { api.UpdateLibrary(); });
  EXPECT_TRUE(Exists(dir + "/info"));
  LibDB reread(dir.c_str(), 0);
  reread.ReadInfo();
  EXPECT_EQ(reread.unitPerNm, 2.0);
  Captured([&] { api.CloseLibraries(); });
}

TEST_F(LibraryTest, RebuiltHierarchyTablesSeeTheReferencesOfUnloadedCells) {
  const std::string dir = LoadedLibrary("lib");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  Captured([&] { api.LoadLibraryInfo(); });
  LibDB& lib = *api.currentLib;
  lib.hierChanged = 1;
  lib.flags |= LibDB::NamesDirty;
  Captured([&] { api.UpdateLibrary(); });
  EXPECT_EQ(lib.hierChanged, 0);
  EXPECT_EQ(lib.depth, 1);
  EXPECT_EQ(lib.roots.size(), 2u);
  // The references were read for the tables only.
  for (DBCell* cell : lib.cells) EXPECT_TRUE(cell->IsEmpty());
  Captured([&] { api.CloseLibraries(); });
  LibDB reread(dir.c_str(), 0);
  Captured([&] { reread.ReadInfo(); });
  EXPECT_EQ(reread.roots.size(), 2u);
}

TEST_F(LibraryTest, UpdateLibrariesLeavesTheCurrentSlotsLibraryCurrent) {
  const std::string a = LoadedLibrary("a");
  const std::string b = LoadedLibrary("b");
  InspectableApi api;
  api.OpenLibrary(a.c_str(), 0);
  api.SetLibrary(1);
  api.OpenLibrary(b.c_str(), 0);
  api.SetLibrary(0);
  for (LibDB* lib : {api.libs[0].get(), api.libs[1].get()}) {
    Captured([&] { lib->ReadInfo(); });
    lib->ReadNames();
    lib->flags |= LibDB::NamesDirty;
    lib->libName = "renamed";
  }
  std::string out = Captured([&] { api.UpdateLibraries(); });
  EXPECT_EQ(out, "\nSummary:\n");
  EXPECT_EQ(api.currentLib, api.libs[0].get());
  for (const std::string& dir : {a, b})
    EXPECT_EQ(ReadFile(dir + "/names").substr(0, 8), "renamed\n");
  Captured([&] { api.CloseLibraries(); });
}

TEST_F(LibraryTest, ChangeDBUnit) {
  const std::string dir = LoadedLibrary("lib");
  struct Case {
    double unit;
    double unitPerNm;
  };
  const Case cases[] = {{0.5, 2.0}, {1.0, 1.0}, {10.0, 0.1}, {2.0, 0.5}, {0.25, 4.0}};
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  for (const Case& c : cases) {
    api.ChangeDBUnit(c.unit);
    EXPECT_DOUBLE_EQ(api.currentLib->unitPerNm, c.unitPerNm) << c.unit;
    EXPECT_DOUBLE_EQ(api.currentLib->meterPerUnit, c.unit * 1e-9);
  }
  for (double bad : {0.0, -1.0, 1e-320, std::numeric_limits<double>::infinity()}) {
    std::string out = Captured([&] { api.ChangeDBUnit(bad); });
    EXPECT_NE(out.find("ERROR: "), std::string::npos);
    EXPECT_DOUBLE_EQ(api.currentLib->unitPerNm, 4.0);
  }
  api.ScaleOut(2.5);
  EXPECT_EQ(api.currentLib->outScale, 2.5);
  Captured([&] { api.CloseLibraries(); });
}

TEST_F(LibraryTest, ClearMemoryKeepsTheWorkingCellAndModifiedCells) {
  const std::string dir = LoadedLibrary("lib");
  InspectableApi api;
  api.OpenLibrary(dir.c_str(), 0);
  Captured([&] { api.ClearMemory(); });  // no working cell: nothing
  Captured([&] { ASSERT_EQ(api.LoadLibraryAll(1), 1); });
  LibDB& lib = *api.currentLib;
  DBCell* top = lib.FindCell("top");
  DBCell* child = lib.FindCell("child");
  DBCell* other = lib.FindCell("other");
  api.workingCell = lib.FindCellId("top");
  child->flags |= DBCell::Modified;
  api.ClearMemory();
  EXPECT_FALSE(top->IsEmpty());
  EXPECT_FALSE(child->IsEmpty());
  EXPECT_TRUE(other->IsEmpty());
  // An unloaded cell is read again when needed.
  lib.LoadCell(other, false);
  EXPECT_EQ(other->rawLayers.count(3 << 8), 1u);
  Captured([&] { api.CloseLibraries(); });
}

}  // namespace
}  // namespace velmar
