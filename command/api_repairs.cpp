// API: the density check of one layer in the working area, vertical
// fracturing into a temporary layer, and the library-wide repairs that
// rework the stored shapes of every cell one cell at a time and write the
// changed cells back into the library's cell data files.

#include <cmath>
#include <cstdint>
#include <fstream>
#include <ios>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/clip_tile.h"
#include "geometry/fracture.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// Ends the process unless the pair can be a layer of a stored cell.
void RequireStorableLayer(int layer, int datatype) {
  if (layer < 0 || layer > 255 || datatype < 0 || datatype > 255)
    ExitWithMessage(
        "ERROR: Layer {%d %d} cannot be stored: layer and datatype must lie "
        "in 0..255\n",
        layer, datatype);
}

// The stored source and target layers of a repair that reads one layer and
// writes another; ends the process unless both can be stored.
struct RepairLayers {
  LayerKey source;
  LayerKey target;
};
RepairLayers RequireRepairLayers(int layer1, int datatype1, int layer2, int datatype2) {
  RequireStorableLayer(layer1, datatype1);
  RequireStorableLayer(layer2, datatype2);
  return {MakeLayerKey(layer1, datatype1), MakeLayerKey(layer2, datatype2)};
}

// Rounds half away from zero, as the unit conversions of the repairs do.
int32_t RoundScale(double v) {
  const double r = v < 0 ? std::trunc(v - 0.5) : std::trunc(v + 0.5);
  if (!(r >= double(INT32_MIN) && r <= double(INT32_MAX)))
    throw Error("Length beyond the coordinate range", "DB");
  return int32_t(r);
}

}  // namespace

// --- Density -------------------------------------------------------------------------

void API::Density(int layer1, int datatype1, const char* fname) {
  if (tech.reportDegree != 0) PrintMessage("\n%sDensity Checking:\n", DateText());
  RequireWorkingArea();
  std::ofstream out(fname, areaIter == 1 ? std::ios::out | std::ios::trunc
                                         : std::ios::out | std::ios::app);
  if (!out.is_open()) {
    PrintMessage("Error: Output file %s could not be opened !\n", fname);
    return;
  }
  try {
    ScratchList gathered;
    CollectLayers(gathered.list, layer1, datatype1, -1, 0);
    // Only what lies inside the working area counts: with a margin, the
    // geometry of the margin belongs to the neighbouring areas of the run.
    ClipToWindow(gathered.list, area, false);
    if (gathered.list.IsEmpty()) return;
    const long double covered = ListArea(gathered.list);
    const double box = area.x2 > area.x1 && area.y2 > area.y1
                           ? double(int64_t(area.x2) - area.x1) *
                                 double(int64_t(area.y2) - area.y1)
                           : 0.0;
    const double d = double(covered) / box;
    const long double scale = currentLib->unitPerNm;
    out << (long long)std::floor(area.x1 / scale) << ' '
        << (long long)std::floor(area.y1 / scale) << ' '
        << (long long)std::ceil(area.x2 / scale) << ' '
        << (long long)std::ceil(area.y2 / scale) << ' ' << float(d) << '\n';
  } catch (const Error& e) {
    ExitOnError(e);
  }
}

// --- Vertical fracturing ---------------------------------------------------------------

int API::FractureV(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sFractureV\n", DateText());
  return RunOneLayerOperation(*this, layer1, datatype1, [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    FractureVertical(input, 1);
    SpliceList(out, input);
    if (report) {
      PrintMessage("  Total output vertices = %d\n", out.pointCount);
      ReportPointSystemMemory(false);
    }
  });
}

// --- Library-wide repairs ----------------------------------------------------------------

template <class PerCell>
int API::RepairCells(PerCell perCell, bool alwaysStore, int32_t addedKey) {
  LibDB& lib = *currentLib;
  int count = 0;
  const size_t n = lib.cells.size();
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = lib.cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    lib.LoadIfStored(cell);
    if (cell->IsEmpty()) continue;  // nothing stored and nothing in memory
    const int r = perCell(*cell);
    count += r;
    // A cell with unsaved changes is stored too: unloading it unstored
    // would drop them.
    if (alwaysStore || r != 0 || (cell->flags & DBCell::Modified) != 0) {
      lib.CloseDataFile();
      lib.StoreCell(cell);
      lib.CloseDataFile();
      lib.SetFlags(LibDB::InfoDirty);
    }
    cell->Unload();
  }
  lib.CloseDataFile();
  if (addedKey >= 0) lib.AddLayerKey(addedKey);
  // An index never names more cells than "names" does.
  if (lib.HasFlags(LibDB::NamesDirty)) lib.WriteNames();
  lib.WriteInfo();
  return count;
}

// Reads the tables of the current library that have not been read.
static void ReadLibraryTables(LibDB& lib) {
  if (!lib.HasFlags(LibDB::InfoRead)) lib.ReadInfo();
  if (!lib.HasFlags(LibDB::NamesRead)) lib.ReadNames();
}

void API::FixSmallAcute(int layer1, int datatype1, int layer2, int datatype2) {
  PrintMessage("\n%sFixSmallAcute {%d %d} {%d %d}\n", DateText(), layer1,
               datatype1, layer2, datatype2);
  RequireLibrary();
  const auto [src, dst] = RequireRepairLayers(layer1, datatype1, layer2, datatype2);
  try {
    ReadLibraryTables(*currentLib);
    const int32_t length = RoundScale(currentLib->unitPerNm);
    const int count = RepairCells(
        [&](DBCell& cell) { return cell.FixSmallAcuteShapes(src, dst, length); },
        true, dst);
    if (count != 0) PrintMessage("  %d acute angles are corrected\n", count);
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportSearchSystemMemory(false);
  ReportPointSystemMemory(false);
}

void API::FindSelfCross(int layer, int datatype, int amount) {
  PrintMessage("\n%sFindSelfCross {%d %d} %d\n", DateText(), layer, datatype,
               amount);
  RequireLibrary();
  RequireStorableLayer(layer, datatype);
  if (amount <= 0) ExitWithMessage("ERROR: FindSelfCross only takes positive number\n");
  const LayerKey key = MakeLayerKey(layer, datatype);
  try {
    ReadLibraryTables(*currentLib);
    const int32_t half = ToDatabaseUnits(amount);
    if (half < 1) ExitWithMessage("ERROR: FindSelfCross only takes positive number\n");
    const int count = RepairCells(
        [&](DBCell& cell) { return cell.FindSelfCrossShapes(key, half); }, false,
        key);
    if (count != 0) PrintMessage("  %d self-cross polygons are found\n", count);
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportPointSystemMemory(false);
}

void API::FixSelfCross() {
  PrintMessage("\n%sFixSelfCross\n", DateText());
  RequireLibrary();
  try {
    ReadLibraryTables(*currentLib);
    const int count = RepairCells(
        [](DBCell& cell) { return cell.FixSelfCrossShapes(); }, false, -1);
    if (count != 0) PrintMessage("  %d self-cross polygons are fixed\n", count);
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportPointSystemMemory(false);
}

void API::SizeUp(int layer1, int datatype1, int layer2, int datatype2, int amount) {
  PrintMessage("\n%sSizeUp {%d %d} {%d %d} %d\n", DateText(), layer1, datatype1,
               layer2, datatype2, amount);
  if (amount < 0) ExitWithMessage("ERROR: SizeUp only takes positive number\n");
  RequireLibrary();
  const auto [src, dst] = RequireRepairLayers(layer1, datatype1, layer2, datatype2);
  try {
    ReadLibraryTables(*currentLib);
    const int32_t size = ToDatabaseUnits(amount);
    bool grew = false;
    RepairCells(
        [&](DBCell& cell) {
          const Box before = cell.box;
          cell.SizeUpShapes(src, dst, size);
          grew = grew || !(cell.box == before);
          return 0;
        },
        true, dst);
    // A grown cell makes the boxes of the cells placing it grow too: a
    // working area taken from a parent's box must reach the grown shapes.
    if (grew) {
      currentLib->RebuildHierarchy();
      currentLib->WriteInfo();
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportSearchSystemMemory(false);
  ReportPointSystemMemory(false);
}

}  // namespace velmar
