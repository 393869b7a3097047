// Working cell and area: choosing them, reading them back in nanometres and
// database units, walking a library's cells, roots and leaves, and the
// operation-layer sets and layer map that the readers, writers and
// operations consult.

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "command/api.h"
#include "command/api_library_support.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// A double in the int range (NaN gives 0): the nanometre values of boxes
// at the ends of the coordinate range, or of the empty box, at small units.
int ClampToInt(double v) {
  if (!(v == v)) return 0;
  if (v <= double(INT32_MIN)) return INT32_MIN;
  if (v >= double(INT32_MAX)) return INT32_MAX;
  return int(v);
}

// The cell of id, or null for a free or unknown id.
DBCell* CellOf(const LibDB& lib, int64_t id) {
  if (id < 0 || uint64_t(id) >= lib.cells.size()) return nullptr;
  return lib.cells[size_t(id)];
}

// The name of a cell that has one; "empty" marks a free id in the names
// file and counts as none.
const std::string* NameOf(const DBCell* cell) {
  if (cell == nullptr || cell->name == nullptr || *cell->name == "empty")
    return nullptr;
  return cell->name;
}

// Warns and returns false for a pair that is not a library layer: its key
// would alias another layer's.
bool CheckLibraryPair(int layer, int datatype) {
  if (IsLibraryPair(layer, datatype)) return true;
  PrintMessage("Warning: layer {%d %d} is not a library layer, ignored\n",
               layer, datatype);
  return false;
}

// Nanometre value of a lower-corner coordinate: s * v, truncated toward
// zero after subtracting 0.5 when negative.
double LowerCorner(double s, int v) {
  const double d = s * v;
  return d < 0 ? std::trunc(d - 0.5) : std::trunc(d);
}

// Upper corner: floor(s * v + 0.5).
double UpperCorner(double s, int v) { return std::floor(s * v + 0.5); }

int32_t ToCoordinate(double v) {
  if (!(v >= double(INT32_MIN) && v <= double(INT32_MAX)))
    throw Error("Area beyond the coordinate range", "DB");
  return int32_t(v);
}

}  // namespace

// --- Setting the area ----------------------------------------------------------------

bool API::PickSlotCell(int k, const char* cname) {
  LibDB& lib = *libs[k];
  lib.ReadTables();

  int64_t id = -1;
  if (cname[0] == '\0') {
    if (!lib.roots.empty()) {
      id = lib.roots.front();
      const std::string* name = NameOf(CellOf(lib, id));
      if (name != nullptr)
        PrintMessage("  Cell adjusted to %s in %d-th library\n",
                     name->c_str(), k + 1);
    }
  } else {
    id = lib.FindCellId(cname);
  }
  savedWorkingCells[k] = int(id);
  if (CellOf(lib, id) == nullptr) {
    if (cname[0] == '\0')
      PrintMessage("ERROR: No root cell");
    else
      PrintMessage("ERROR: Cell %s is not defined", cname);
    if (k != 0)
      PrintMessage(" in %d-th library\n", k);
    else
      PrintMessage("\n");
    return false;
  }
  if (k == currentSlot) workingCell = int(id);
  return true;
}

int API::SetArea(const char* cname, int x1, int y1, int x2, int y2) {
  // Every areaReportIter-th area is reported; a count of 0 or less reports
  // only the first areas.
  if (areaIter <= 1 || (areaReportIter > 0 && areaIter % areaReportIter == 0)) {
    PrintMessage("%s", DateText());
    PrintMessage("Area: (%d, %d) - (%d, %d) (nm) on cell %s\n", x1, y1, x2, y2,
                 cname);
  }
  RequireLibrary();
  try {
    bool currentDone = false;
    for (int k = 0; k < kLibrarySlots && libs[k] != nullptr; ++k) {
      if (!PickSlotCell(k, cname)) return 0;
      if (k == currentSlot) currentDone = true;
    }
    // The current library sits behind an empty slot: its working cell is
    // chosen all the same, or the area would belong to a stale cell id.
    if (!currentDone && !PickSlotCell(currentSlot, cname)) return 0;

    DBCell* cell = currentLib->cells[size_t(workingCell)];
    const double s = currentLib->unitPerNm;
    if (x1 >= x2 || y1 >= y2) {
      area = cell->box;
      if (areaIter == 0 || tech.reportDegree != 0)
        PrintMessage("  Area adjusted to (%d, %d) - (%d, %d) (nm) \n",
                     GetAreaX1(), GetAreaY1(), GetAreaX2(), GetAreaY2());
    } else {
      const Box converted(ToCoordinate(LowerCorner(s, x1)),
                          ToCoordinate(LowerCorner(s, y1)),
                          ToCoordinate(UpperCorner(s, x2)),
                          ToCoordinate(UpperCorner(s, y2)));
      // A box narrower than a database unit rounds to no width or height:
      // it holds nothing and clipping to it is meaningless, so it is
      // refused like a box beyond the coordinate range (area unchanged).
      if (converted.x1 >= converted.x2 || converted.y1 >= converted.y2)
        throw Error("Area has no width or height in database units", "DB");
      area = converted;
    }
    return 1;
  } catch (const Error& e) {
    api_support::PrintError(e);
    return 0;
  }
}

// --- Reading the working cell and area back ---------------------------------------------

std::string API::GetWorkingCell() {
  RequireLibrary();
  const std::string* name = NameOf(CellOf(*currentLib, workingCell));
  return name != nullptr ? *name : std::string();
}

int API::GetCellId(const char* cname) {
  RequireLibrary();
  const int32_t id = currentLib->FindCellId(cname);
  return CellOf(*currentLib, id) != nullptr ? id : -1;
}

int API::GetAreaX1() {
  RequireLibrary();
  return ClampToInt(std::floor(area.x1 / currentLib->unitPerNm));
}
int API::GetAreaY1() {
  RequireLibrary();
  return ClampToInt(std::floor(area.y1 / currentLib->unitPerNm));
}
int API::GetAreaX2() {
  RequireLibrary();
  return ClampToInt(std::ceil(area.x2 / currentLib->unitPerNm));
}
int API::GetAreaY2() {
  RequireLibrary();
  return ClampToInt(std::ceil(area.y2 / currentLib->unitPerNm));
}

int API::GetPureAreaX1() { return area.x1; }
int API::GetPureAreaY1() { return area.y1; }
int API::GetPureAreaX2() { return area.x2; }
int API::GetPureAreaY2() { return area.y2; }

// --- Cells, roots and leaves -------------------------------------------------------------

int API::TotalCell() {
  RequireLibrary();
  return int(currentLib->cells.size());
}

int API::TotalRoot() {
  RequireLibrary();
  return int(currentLib->roots.size());
}

int API::TotalLeaf() {
  RequireLibrary();
  int count = 0;
  for (const DBCell* cell : currentLib->cells)
    if (cell != nullptr && (cell->flags & DBCell::Leaf) != 0) ++count;
  return count;
}

std::string API::GetCellName(int i) {
  RequireLibrary();
  const std::string* name = NameOf(CellOf(*currentLib, i));
  return name != nullptr ? *name : std::string();
}

std::string API::GetRootName(int i) {
  RequireLibrary();
  if (i < 0 || size_t(i) >= currentLib->roots.size()) return std::string();
  const std::string* name =
      NameOf(CellOf(*currentLib, currentLib->roots[size_t(i)]));
  return name != nullptr ? *name : std::string();
}

namespace {

// Name of the first named leaf cell with an id from first upward, or "".
std::string LeafFrom(const LibDB& lib, size_t first) {
  for (size_t id = first; id < lib.cells.size(); ++id) {
    const DBCell* cell = lib.cells[id];
    if (cell == nullptr || (cell->flags & DBCell::Leaf) == 0) continue;
    const std::string* name = NameOf(cell);
    if (name != nullptr) return *name;
  }
  return std::string();
}

}  // namespace

std::string API::GetFirstLeaf() {
  RequireLibrary();
  return LeafFrom(*currentLib, 0);
}

std::string API::GetNextLeaf() {
  RequireLibrary();
  if (workingCell < 0) ExitWithMessage("ERROR: First area not assigned\n");
  return LeafFrom(*currentLib, size_t(workingCell) + 1);
}

// --- Layers ---------------------------------------------------------------------------

int API::LayerExist(int layer, int datatype) {
  if (currentLib == nullptr || !IsLibraryPair(layer, datatype)) return 0;
  return currentLib->layers.count(MakeLayerKey(layer, datatype)) != 0 ? 1 : 0;
}

void API::AddOpLayer(int layer, int datatype) {
  if (CheckLibraryPair(layer, datatype))
    opLayers.insert(MakeLayerKey(layer, datatype));
}

void API::AddOpLayer2(int layer, int datatype) {
  if (CheckLibraryPair(layer, datatype))
    opLayers2.insert(MakeLayerKey(layer, datatype));
}

void API::ResetOpLayers() { opLayers.clear(); }
void API::ResetOpLayers2() { opLayers2.clear(); }

void API::AddLayerMap(int layer1, int datatype1, int layer2, int datatype2) {
  if (!CheckLibraryPair(layer1, datatype1) ||
      !CheckLibraryPair(layer2, datatype2))
    return;
  layerMap.emplace(MakeLayerKey(layer1, datatype1),
                   MakeLayerKey(layer2, datatype2));
}

void API::ResetLayerMap() { layerMap.clear(); }

}  // namespace velmar
