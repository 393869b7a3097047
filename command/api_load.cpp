// API: loading layouts into the current library, reading an existing
// library, writing changes back, units and scale, and freeing memory.

#include <sys/stat.h>

#include <climits>
#include <map>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/api_library_support.h"
#include "formats/gds_reader.h"
#include "formats/oasis_file.h"
#include "formats/polygon_file.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

using namespace api_support;

namespace {

// Prints the summary of an update and starts its counters again from zero.
void ReportSummary(API& api) {
  PrintMessage("\nSummary:\n");
  api.ReportCount();
  api.ResetCounts();
}

// Runs one reading step: 1 when it succeeds, else 0 after reporting the
// Error that ended it.
template <class Step>
int SucceedsOrReports(Step&& step) {
  try {
    step();
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// True when the library directory holds the index of a stored library.
bool DirectoryHoldsLibrary(const LibDB& lib) {
  return FileExists(lib.dirPath + "/info") || FileExists(lib.dirPath + "/info.gz");
}

// Definitions, as the stream readers keep them, for the stored cells that
// have none: a read into a library that already holds cells rebuilds the
// hierarchy tables from the definitions, which must then know the
// references of the cells read before.
void DefineStoredCells(LibDB& lib) {
  if (lib.cellDefIndex.size() < lib.cells.size())
    lib.cellDefIndex.resize(lib.cells.size(), -1);
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    DBCell* cell = lib.cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    const int32_t index = lib.cellDefIndex[id];
    if (index >= 0 && size_t(index) < lib.cellDefs.size() &&
        lib.cellDefs[size_t(index)] != nullptr)
      continue;
    bool loadedHere = false;
    if (cell->ReferenceTree() == nullptr && cell->refPos >= 0 && cell->dbFile != 0) {
      lib.LoadReferences(cell);
      loadedHere = true;
    }
    CellDef* def = lib.AddDefinition(int32_t(id));
    if (LayerTree* tree = cell->ReferenceTree()) {
      for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
           n = DBSearchSystem::Next(n)) {
        if (!n->IsData() || n->item == nullptr) continue;
        const SRef* ref = n->Item<const SRef>();
        if (ref->IsArray()) {
          def->refs.push_back(*static_cast<const ARef*>(ref));
        } else {
          // A single reference is kept as an ARef without the array bit.
          ARef single(*ref, ref->CellId(), 1, 1, 0, 0);
          single.cellId &= SRef::kIdMask;
          def->refs.push_back(single);
        }
      }
    }
    if (loadedHere) cell->indexedLayers.erase(ReferenceKey);
  }
  lib.CloseDataFile();
}

// Before a stream read into a library directory that already holds a
// library: its tables are read first, so that its cells stay (and decide
// the database unit the file must have) and the new data file gets the next
// number instead of replacing "db1".
void ReadStoredLibrary(LibDB& lib) {
  if (!lib.HasFlags(LibDB::InfoRead) && lib.cells.empty() &&
      DirectoryHoldsLibrary(lib))
    lib.ReadTables();
}

// Steps 1 to 3 of writing back one library.
void WriteBack(LibDB& lib) {
  if (lib.hierChanged != 0) lib.RebuildHierarchy();
  // Cell data first, then "names", then "info": an index never names more
  // cells than the files it points at hold.
  const bool dataDirty = lib.HasFlags(LibDB::DataDirty);
  if (dataDirty) lib.SaveModified();
  if (lib.HasFlags(LibDB::NamesDirty)) lib.WriteNames();
  if (dataDirty || lib.HasFlags(LibDB::InfoDirty)) lib.WriteInfo();
}

}  // namespace

// --- Loading -----------------------------------------------------------------------

namespace {

// The one road of a layout load (GDSII or OASIS): the stored library is read
// first, the file's head (and so its unit) is checked, the cells known
// before get their definitions, a new data file with the next free number
// takes the cells read, and the read runs as a library load, which leaves
// the library as it was when anything fails.
template <class Reader>
int LoadLayout(LibDB& lib, Reader& reader, const LayerKeySet& opLayers,
               const std::map<LayerKey, LayerKey>& layerMap, bool ignoreText,
               const char* prefix) {
  ReadStoredLibrary(lib);
  LibraryLoad load(lib);
  reader.ReadHead(&lib);
  // The hierarchy tables are rebuilt from the definitions, which must then
  // know the references of the cells read before.
  if (!lib.cells.empty()) DefineStoredCells(lib);
  if (!lib.OpenNewDataFile()) {
    PrintMessage("ERROR: Library cannot be written\n");
    return 0;
  }
  reader.layerFilter = opLayers.empty() ? nullptr : &opLayers;
  reader.layerMap = layerMap.empty() ? nullptr : &layerMap;
  reader.ignoreText = ignoreText;
  reader.cellPrefix = prefix != nullptr ? prefix : "";
  reader.ReadBody();
  load.Commit();
  return 1;
}

// The GDSII reader under the names of the road above.
struct GdsLoad {
  GdsReader reader;
  const LayerKeySet*& layerFilter = reader.layerFilter;
  const std::map<LayerKey, LayerKey>*& layerMap = reader.layerMap;
  bool& ignoreText = reader.ignoreText;
  std::string& cellPrefix = reader.cellPrefix;
  GdsLoad(const char* path, bool gz) : reader(path, gz) {}
  void ReadHead(LibDB* lib) { reader.ReadLibraryHead(lib); }
  void ReadBody() { reader.ReadLibraryBody(); }
};

}  // namespace

int API::LoadGds(const char* gdsName, int gz, const char* prefix) {
  PrintMessage("\n%sReading GDS %s\n", API::DateText(), gdsName);
  RequireLibrary();
  try {
    GdsLoad load(gdsName, gz != 0);
    return LoadLayout(*currentLib, load, opLayers, layerMap, tech.ignoreText, prefix);
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::LoadOasis(const char* fname, const char* prefix) {
  PrintMessage("\n%sReading OASIS %s\n", API::DateText(), fname);
  RequireLibrary();
  try {
    OasisFile reader;
    reader.OpenInput(fname);
    return LoadLayout(*currentLib, reader, opLayers, layerMap, tech.ignoreText, prefix);
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::LoadPoly(const char* fname, const char* cname, int layer, int datatype) {
  PrintMessage("\n%sReading Polygon file %s into cell %s on layer (%d %d)\n",
               API::DateText(), fname, cname, layer, datatype);
  RequireLibrary();
  LibDB& lib = *currentLib;
  try {
    lib.ReadTables();
    DBCell* cell = FindCellOrFirstRoot(lib, cname);
    if (cell == nullptr) return 0;
    if (!CheckStorableLayer(layer, datatype)) return 0;
    // New shapes join the cell's stored contents.
    lib.LoadIfStored(cell);
    ScratchList scratch;
    PSList& list = scratch.list;
    bool read = ReadPolygonFile(list, fname, false);
    if (read) Simplify(list, 0);
    if (!read || list.IsEmpty()) {
      PrintMessage("Warning: nothing in it\n");
      return 0;
    }
    OrientRings(list);
    const LayerKey key = MakeLayerKey(layer, datatype);
    if (cell->InsertPolygons(list, key, false) == 2) lib.SetFlags(LibDB::InfoDirty);
    lib.SetFlags(LibDB::DataDirty);
    lib.AddLayerKey(key);
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

// --- Reading an existing library ---------------------------------------------------

int API::LoadLibraryInfo() {
  PrintMessage("\n%sReading Library Info\n", API::DateText());
  RequireLibrary();
  return SucceedsOrReports([&] { currentLib->ReadTables(); });
}

int API::LoadLibraryInfos() {
  PrintMessage("\n%sReading Libraries Info\n", API::DateText());
  RequireLibrary();
  return SucceedsOrReports([&] {
    for (const std::unique_ptr<LibDB>& lib : libs) {
      if (lib == nullptr) break;
      lib->ReadTables();
    }
  });
}

int API::LoadLibraryAll(int db) {
  PrintMessage("\n%sReading whole library\n", API::DateText());
  RequireLibrary();
  return SucceedsOrReports([&] {
    currentLib->ReadTables();
    // LoadAll ends with the search-tree pool report.
    currentLib->LoadAll(false, db != 0);
  });
}

// --- Writing back --------------------------------------------------------------------

void API::UpdateLibrary() {
  RequireLibrary();
  WriteBack(*currentLib);
  ReportSummary(*this);
}

void API::UpdateLibraries() {
  // Each library is the current one while it is written; the current slot
  // keeps its library afterwards.
  for (const std::unique_ptr<LibDB>& lib : libs) {
    if (lib == nullptr) continue;
    currentLib = lib.get();
    WriteBack(*lib);
  }
  currentLib = libs[currentSlot].get();
  ReportSummary(*this);
}

// --- Units, scale, memory ----------------------------------------------------------

void API::ChangeDBUnit(double unit) {
  RequireLibrary();
  if (!(unit > 0) || !std::isfinite(unit)) {
    PrintMessage("ERROR: Database unit %g nm is not above 0\n", unit);
    return;
  }
  // A unit so small that its size in metres is 0 (or its count per
  // nanometre infinite) would make every conversion meaningless.
  const double meters = unit * 1e-9;
  if (!(meters > 0) || !std::isfinite(1e-9 / meters)) {
    PrintMessage("ERROR: Database unit %g nm is too small\n", unit);
    return;
  }
  LibDB& lib = *currentLib;
  // The stored units would otherwise replace the new ones when the info
  // file is read later.
  if (!lib.HasFlags(LibDB::InfoRead) && DirectoryHoldsLibrary(lib))
    lib.ReadInfo();
  lib.meterPerUnit = meters;
  lib.unitPerNm = SnapUnit(1e-9 / lib.meterPerUnit);
  lib.SetFlags(LibDB::InfoDirty);
}

void API::ScaleOut(double sf) {
  RequireLibrary();
  currentLib->outScale = sf;
}

void API::ClearMemory() {
  if (currentLib == nullptr || workingCell < 0) return;
  LibDB& lib = *currentLib;
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    DBCell* cell = lib.cells[id];
    // Only what can be read back from a data file is dropped.
    if (cell == nullptr || int(id) == workingCell || !cell->box.IsValid() ||
        cell->IsEmpty() || (cell->flags & DBCell::Modified) != 0 ||
        cell->dbFile == 0)
      continue;
    cell->Unload();  // not Modified: only its Loaded flag changes
  }
}

}  // namespace velmar
