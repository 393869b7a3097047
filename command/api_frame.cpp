// The frame shared by every layer operation: date echo, the library and
// working-area preconditions, the temporary layers, gathering input layers
// from the working area, and the failure policy after an Error.

#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>

#include "command/api.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/sizing.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

// --- Building blocks -----------------------------------------------------------

const char* API::DateText() {
  time_t now = std::time(nullptr);
  return std::ctime(&now);
}

void API::PrintDateLine() { PrintMessage("\n%s", DateText()); }

void API::RequireLibrary() const {
  if (currentLib != nullptr) return;
  ExitWithMessage("ERROR: Library not assigned\n");
}

void API::RequireWorkingArea() const {
  RequireLibrary();
  // A working cell id from another library (the current one was replaced
  // after SetArea) or from a cell removed since is no working area either.
  if (workingCell >= 0 &&
      size_t(workingCell) < currentLib->cells.size() &&
      currentLib->cells[size_t(workingCell)] != nullptr)
    return;
  ExitWithMessage("ERROR: Areas not assigned\n");
}

DBCell* API::WorkingCellPtr() const {
  RequireWorkingArea();
  return currentLib->cells[size_t(workingCell)];
}

int32_t API::ToDatabaseUnits(double nm) const {
  RequireLibrary();
  const double v = nm * currentLib->unitPerNm;
  const double r = std::trunc(v < 0 ? v - 0.5 : v + 0.5);
  if (!(r >= double(INT32_MIN) && r <= double(INT32_MAX)))
    throw Error("Length beyond the coordinate range", "DB");
  return int32_t(r);
}

PSList* API::FindTempLayer(int number) {
  if (number < kLowestTempLayer) return nullptr;
  const int64_t index = int64_t(kTempLayerBase) - number;
  if (index < 0 || index >= int64_t(tempLayers.size())) return nullptr;
  return tempLayers[size_t(index)].get();
}

PSList& API::RequireTempLayer(int number) {
  PSList* layer = FindTempLayer(number);
  if (layer != nullptr) return *layer;
  ExitWithMessage("ERROR: Temporary layer %d does not exist\n", number);
}

void API::RequireLayerArgument(int layer, int datatype) {
  if (layer < 0 || layer >= kLowestTempLayer) {
    RequireTempLayer(layer);
    return;
  }
  if (datatype >= 0 && datatype <= 255) return;
  ExitWithMessage("ERROR: Layer {%d %d} is not a library layer: datatype "
                  "must lie in 0..255\n",
                  layer, datatype);
}

// --- Temporary layers ------------------------------------------------------------

int API::GetTempLayer() {
  const size_t index = tempLayers.size();
  if (index > size_t(kTempLayerBase - kLowestTempLayer)) {
    // The next number would be a library layer's.
    ExitWithMessage(
        "ERROR: Too many temporary layers (the lowest number is %d)\n",
        kLowestTempLayer);
  }
  tempLayers.push_back(std::make_unique<PSList>());
  relationalLayers_.erase(int(index));
  return int(index);
}

void API::ResetTempLayer(int layer) {
  PSList& list = RequireTempLayer(layer);
  ClearPointList(list);
  const int index = kTempLayerBase - layer;
  relationalLayers_.erase(index);
  if (size_t(index) + 1 == tempLayers.size()) tempLayers.pop_back();
}

void API::ResetTempLayers() {
  for (const auto& layer : tempLayers) ClearPointList(*layer);
  tempLayers.clear();
  relationalLayers_.clear();
}

bool API::IsRelationalDB(int index) const {
  if (index < 0 || size_t(index) >= tempLayers.size()) return false;
  auto it = relationalLayers_.find(index);
  if (it == relationalLayers_.end()) return false;
  const PSList& layer = *tempLayers[size_t(index)];
  return layer.head == it->second.head &&
         layer.pointCount == it->second.pointCount;
}

// --- Gathering input layers -------------------------------------------------------

void API::CollectLayers(PSList& list, int layer1, int datatype1, int layer2,
                        int datatype2) {
  const bool report = tech.reportDegree != 0;
  LayerKeySet filter;

  // A library layer joins the filter when the library knows it.
  auto addLibraryLayer = [&](int layer, int datatype) -> LayerKey {
    const LayerKey key = LibraryLayerKey(layer, datatype);
    if (key != NoLayerKey && currentLib->layers.count(key) != 0) {
      filter.insert(key);
      return key;
    }
    if (report)
      PrintMessage("Warning: no layer {%d %d} exists\n", layer, datatype);
    return NoLayerKey;
  };
  // A temporary layer: moved out (datatype 0) or copied (kept), into dst.
  // Either way its points come without flags, as copies do: flags that an
  // earlier operation left (the classification of a relational database,
  // its second-layer marks) would be read as edge classes and operand
  // marks by the next engine.
  auto takeTempLayer = [&](int layer, int datatype, PSList& dst) {
    PSList& source = RequireTempLayer(layer);
    if (datatype != 0) {
      ScratchList copy;
      CopyPointList(source, copy.list);
      SpliceList(dst, copy.list);
    } else {
      ScratchList moved;
      SpliceList(moved.list, source);
      MaskFlags(moved.list, 0);
      SpliceList(dst, moved.list);
    }
  };

  // A pair that names nothing ends the process before anything is taken.
  RequireLayerArgument(layer1, datatype1);
  if (layer2 >= 0) RequireLayerArgument(layer2, datatype2);

  if (layer1 < kLowestTempLayer) {
    addLibraryLayer(layer1, datatype1);
  } else {
    takeTempLayer(layer1, datatype1, list);
  }

  LayerKey key2 = NoLayerKey;
  if (layer2 >= 0) {
    if (layer2 < kLowestTempLayer) {
      key2 = addLibraryLayer(layer2, datatype2);
    } else {
      ScratchList second;
      takeTempLayer(layer2, datatype2, second.list);
      SetFlags(second.list, PSPointFlags::SecondLayer);
      SpliceList(list, second.list);
    }
  }

  if (!filter.empty()) {
    DBCell* cell = WorkingCellPtr();
    Box window = area;
    if (tech.areaMargin != 0) {
      const int64_t m = ToDatabaseUnits(double(tech.areaMargin));
      window = Box(ClampToInt32(int64_t(area.x1) - m),
                   ClampToInt32(int64_t(area.y1) - m),
                   ClampToInt32(int64_t(area.x2) + m),
                   ClampToInt32(int64_t(area.y2) + m));
    }
    LayerRings rings;
    if (hierarchical != 0) {
      currentLib->CollectWindowPolygons(cell, &window, &filter, &rings,
                                        nullptr, 0);
    } else {
      const Trans identity;
      currentLib->CollectPolygons(cell, &window, &identity, &filter, &rings,
                                  0);
    }
    if (report) ReportSearchSystemMemory(false);
    for (auto& [key, rs] : rings) {
      if (rs.IsEmpty()) continue;
      OrientRings(rs);
      if (layer2 >= 0 && LayerKey(key) == key2)
        SetFlags(rs, PSPointFlags::SecondLayer);
      SpliceList(list, rs);
    }
  }

  if (report) PrintMessage("  Total input vertices = %d\n", list.pointCount);
}

void API::GatherAreaLayers(int size, PSList& list) {
  DBCell* cell = WorkingCellPtr();
  LayerRings rings;
  const Trans identity;
  currentLib->CollectPolygons(cell, &area, &identity, &opLayers, &rings, 0);
  ScratchList gathered;
  for (auto& [key, rs] : rings) SpliceList(gathered.list, rs);
  OrientRings(gathered.list);
  if (size != 0 && !gathered.list.IsEmpty()) {
    // Pieces of one shape from several cells abut: merged first, so that
    // shrinking does not open gaps between them.
    ScratchList merged, sized;
    BooleanSweep(gathered.list, &merged.list, BooleanOpCode::Merge, false);
    ClearPointList(gathered.list);
    SizeList(merged.list, sized.list, size, 1);
    SpliceList(gathered.list, sized.list);
  }
  SetFlags(list, PSPointFlags::SecondLayer);
  SpliceList(gathered.list, list);
  // Sized rings wind as drawn (turned-over parts cancel); unsized ones are
  // shapes as stored, whose self-crossings count every lobe.
  if (size != 0) {
    BooleanSweepAsDrawn(gathered.list, &list, BooleanOpCode::And);
  } else {
    BooleanSweep(gathered.list, &list, BooleanOpCode::And, false);
  }
}

}  // namespace velmar
