// Hierarchy commands: hierarchy handling and the hierarchical inverse of the
// current library, removing environment layers, and the exclude, explode
// and flatten lists of the library.

#include <cstdint>
#include <set>

#include "command/api.h"
#include "command/binding.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "hierarchy/hierarchy_handler.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// The handler fields common to both runs, from the rule record.
void FillHandler(API& api, const Tech& tech, LibDB* lib, const std::set<int>& set1,
                 const std::set<int>& set2, HierarchyHandler& h) {
  h.explodeRate = tech.explodeRate;
  h.sparseRate = tech.sparseRate;
  h.overlapRate = tech.overlapRate;
  h.geoLevel = tech.geoLevel;
  h.flattenSize = api.ToDatabaseUnits(double(tech.flattenSize));
  h.splitSize = api.ToDatabaseUnits(double(tech.splitSize));
  h.marker = "vl";
  h.lib = lib;
  h.SetLayers(set1, set2);
}

void PrintPoolReports() {
  ReportSearchSystemMemory(false);
  ReportPointSystemMemory(false);
}

}  // namespace

void API::HierarchyHandling() {
  if (tech.areaMargin >= 0)
    PrintMessage("\n%sHierarchyHandling\n", DateText());
  else
    PrintMessage("\n%s", DateText());
  RequireLibrary();
  try {
    currentLib->ReadTables();
    HierarchyHandler h;
    FillHandler(*this, tech, currentLib, opLayers, opLayers2, h);
    h.margin = tech.areaMargin >= 1 ? ToDatabaseUnits(double(tech.areaMargin))
                                    : tech.areaMargin;
    h.inverseMode = 0;
    h.Run();
  } catch (const Error& e) {
    ExitOnError(e);
  }
  PrintPoolReports();
}

void API::HInverse(int layer1, int datatype1, int mode) {
  if (tech.reportDegree != 0)
    PrintMessage("\n%sHInverse {%d %d} %d\n", DateText(), layer1, datatype1, mode);
  if (!IsLibraryPair(layer1, datatype1))
    ExitWithMessage(
        "ERROR: Layer {%d %d} cannot be stored: layer and datatype must lie in "
        "0..255\n",
        layer1, datatype1);
  RequireLibrary();
  const LayerKey key = MakeLayerKey(layer1, datatype1);
  try {
    currentLib->ReadTables();
    HierarchyHandler h;
    FillHandler(*this, tech, currentLib, opLayers, opLayers2, h);
    // The inverse of the working cell is bounded by its box: the working
    // area, for this run only.
    if (workingCell >= 0 && size_t(workingCell) < currentLib->cells.size() &&
        currentLib->cells[size_t(workingCell)] != nullptr) {
      DBCell* cell = currentLib->cells[size_t(workingCell)];
      h.growBack.emplace_back(workingCell, cell->box);
      cell->box = area;
    }
    h.margin = 0;
    // Every negative mode acts as mode 0.
    h.inverseMode = (mode < 0 ? 0 : mode) + 1;
    h.resultKey = key;
    h.Run();
  } catch (const Error& e) {
    ExitOnError(e);
  }
  currentLib->AddLayerKey(key);
  PrintPoolReports();
}

void API::RemoveEnvLayers() {
  if (hierarchical == 0) return;
  if (tech.reportDegree != 0) PrintMessage("\n%sRemoveEnvLayers\n", DateText());
  RequireLibrary();
  LibDB& lib = *currentLib;
  bool modified = false;
  for (DBCell* cell : lib.cells) {
    if (cell == nullptr || !(cell->flags & DBCell::Leaf)) continue;
    // A cell released after processing holds its work layers on disk only.
    const bool wasEmpty = cell->IsEmpty();
    if (wasEmpty) lib.LoadIfStored(cell);
    if (cell->DropWorkLayers()) {
      cell->flags |= DBCell::Modified;
      modified = true;
    } else if (wasEmpty && !(cell->flags & DBCell::Modified)) {
      cell->Unload();
    }
  }
  if (modified) lib.SetFlags(LibDB::DataDirty);
  bool dropped = false;
  for (auto it = lib.layers.begin(); it != lib.layers.end();) {
    if (it->first >= WorkLayerKey && it->first != ReferenceKey) {
      it = lib.layers.erase(it);
      dropped = true;
    } else {
      ++it;
    }
  }
  if (dropped) lib.SetFlags(LibDB::InfoDirty);
}

namespace {

void ListCell(API& api, LibDB* lib, const char* cname, std::set<int32_t>& set,
              const char* warning) {
  try {
    lib->ReadTables();
    const int32_t id = lib->FindCellId(cname);
    if (id < 0 || lib->cells[size_t(id)] == nullptr) {
      PrintMessage(warning, cname);
      return;
    }
    set.insert(id);
  } catch (const Error& e) {
    ExitOnError(e);
  }
  (void)api;
}

}  // namespace

void API::ExcludeCell(const char* cname) {
  RequireLibrary();
  ListCell(*this, currentLib, cname, currentLib->excludeCells,
           "Warning: Exclude Cell %s doesn't exist !\n");
}

void API::ExplodeCell(const char* cname) {
  RequireLibrary();
  ListCell(*this, currentLib, cname, currentLib->explodeCells,
           "Warning: Explode Cell %s doesn't exist !\n");
}

void API::FlattenCell(const char* cname) {
  RequireLibrary();
  ListCell(*this, currentLib, cname, currentLib->flattenCells,
           "Warning: Flatten Cell %s doesn't exist !\n");
}

void API::ResetExcludeCells() {
  RequireLibrary();
  currentLib->excludeCells.clear();
}

void API::ResetExplodeCells() {
  RequireLibrary();
  currentLib->explodeCells.clear();
}

void API::ResetFlattenCells() {
  RequireLibrary();
  currentLib->flattenCells.clear();
}

void API::FlattenCells() {
  RequireLibrary();
  LibDB& lib = *currentLib;
  if (lib.flattenCells.empty()) return;
  constexpr uint32_t kDirty = LibDB::InfoDirty | LibDB::NamesDirty | LibDB::DataDirty;
  const uint32_t before = lib.flags & kDirty;
  bool listedExisted = false;
  for (int32_t id : lib.flattenCells)
    if (id >= 0 && size_t(id) < lib.cells.size() && lib.cells[size_t(id)] != nullptr)
      listedExisted = true;
  lib.FlattenGivenCells();
  // The parent and child tables, roots and boxes are rebuilt at the next
  // update: no destroyed cell stays a root.
  if (listedExisted || (lib.flags & kDirty) != before) lib.hierChanged = 1;
}

namespace binding {

void BindApiHierarchy(ClassBinding<API>& c) {
  c.Method("HierarchyHandling", {}, [](API& a) { a.HierarchyHandling(); });
  c.Method("RemoveEnvLayers", {}, [](API& a) { a.RemoveEnvLayers(); });
  c.Method("HInverse", {{"layer1", kInt}, {"datatype1", kInt}, {"mode", kInt}},
           [](API& a, int layer1, int datatype1, int mode) {
             a.HInverse(layer1, datatype1, mode);
           });
  c.Method("ExcludeCell", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { a.ExcludeCell(cname); });
  c.Method("ResetExcludeCells", {}, [](API& a) { a.ResetExcludeCells(); });
  c.Method("ExplodeCell", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { a.ExplodeCell(cname); });
  c.Method("ResetExplodeCells", {}, [](API& a) { a.ResetExplodeCells(); });
  c.Method("FlattenCell", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { a.FlattenCell(cname); });
  c.Method("ResetFlattenCells", {}, [](API& a) { a.ResetFlattenCells(); });
  c.Method("FlattenCells", {}, [](API& a) { a.FlattenCells(); });
}

}  // namespace binding

}  // namespace velmar
