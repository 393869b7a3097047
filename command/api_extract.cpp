// API: extracting the geometry of the working area to files.

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "command/api.h"
#include "command/api_library_support.h"
#include "formats/gds_writer.h"
#include "formats/polygon_file.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/atomic_file.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

using namespace api_support;

namespace {

// The marks of every cell cleared, however the extraction ends.
struct ClearMarks {
  LibDB& lib;
  ~ClearMarks() {
    for (DBCell* cell : lib.cells)
      if (cell != nullptr) cell->flags &= uint16_t(~DBCell::Marked);
  }
};

// A GDSII file (gzip when gz) holding the library head and the one
// structure of cell, whose elements body writes; it replaces fname only when
// complete.
template <class Body>
void WriteOneCellGds(LibDB& lib, DBCell* cell, const char* fname, int gz, Body body) {
  GdsWriter w(fname, gz != 0);
  w.WriteLibraryHead(&lib);
  w.WriteCellHead(cell);
  body(w);
  w.WriteEndStructure();
  w.WriteEndLibrary();
  w.Finish();
}

// The rings of every layer of the map, with one report line per layer,
// appended to out (the map's lists emptied).
void GatherLayers(LayerRings& rings, PSList& out, const char* format) {
  for (auto& [key, list] : rings) {
    PrintMessage(format, int(LayerOf(key)), int(DatatypeOf(key)), list.ringCount);
    SpliceList(out, list);
  }
}

// Merges the rings inside box, cuts the holes open and the result into
// tiles of maxSize nanometres; prints the four report lines. The result is
// in out.
void MergeAndTile(PSList& list, const Box& box, int maxSize, double scale,
                  PSList& out) {
  OrientRings(list);
  BoxToRing(list, box, true);
  ScratchList merged;
  BooleanSweep(list, &merged.list, BooleanOpCode::And, false);
  ClearPointList(list);
  BooleanSweep(merged.list, nullptr, BooleanOpCode::CutHoles, false);
  const double v = double(maxSize) * scale;
  const double t = std::trunc(v >= 0 ? v + 0.5 : v - 0.5);
  if (!(t >= 1)) throw Error("Tile size below one database unit", "DRC");
  ChopIntoTiles(merged.list, out, t > INT32_MAX ? INT32_MAX : int32_t(t));
  BooleanSweep(out, nullptr, BooleanOpCode::CutHoles, false);
  const int32_t m = CountRings(out);
  PrintMessage("  Total output polygons = %d\n", out.ringCount);
  PrintMessage("  Total output vertices = %d\n", out.pointCount);
  PrintMessage("    Max polygon size = %d nm\n", maxSize);
  PrintMessage("    Max no of vertices = %d\n", m);
}

// The geometry of opLayers in cell inside box, merged and cut into tiles of
// maxSize nanometres, with the per-layer and total report lines. False, with
// a warning and tiles left empty, where the box holds no geometry.
bool MergedTiles(LibDB& lib, DBCell* cell, const Box& box,
                 const std::set<int>& layers, int maxSize, double scale,
                 PSList& tiles) {
  LayerRings rings;
  const Trans identity;
  lib.CollectPolygons(cell, &box, &identity, &layers, &rings, 1);
  ReportSearchSystemMemory(false);
  ScratchList all;
  GatherLayers(rings, all.list, "  Layer (%d %d): %d polygons\n");
  if (all.list.pointCount == 0) {
    PrintMessage("Warning: Empty area, skip\n");
    return false;
  }
  MergeAndTile(all.list, box, maxSize, scale, tiles);
  return true;
}

}  // namespace

int API::ExtractPoly(const char* fname) {
  RequireWorkingArea();
  LibDB& lib = *currentLib;
  try {
    LayerRings rings;
    const Trans identity;
    lib.CollectPolygons(WorkingCellPtr(), &area, &identity, &opLayers, &rings, 1);
    ReportSearchSystemMemory(false);
    ScratchList all;
    GatherLayers(rings, all.list, "  (%d %d): %d polygons\n");
    if (all.list.pointCount == 0) return 1;
    // Written beside the target and renamed over it once complete: a write
    // that fails leaves an existing file as it was.
    std::unique_ptr<AtomicFile> file;
    try {
      file = std::make_unique<AtomicFile>(fname, "DB", "cannot open");
    } catch (const Error&) {
      PrintMessage("Error: Output file %s could not be opened !\n", fname);
      return 0;
    }
    file->CloseDescriptor();
    if (!WritePolygonFile(all.list, file->TempPath(), false)) return 0;
    file->Commit(std::string("Cannot write file ") + fname);
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::ExtractFlatGds(const char* fname, int gz) {
  PrintMessage("\n%sExtracting by flattening to GDS %s\n", API::DateText(), fname);
  RequireWorkingArea();
  LibDB& lib = *currentLib;
  try {
    LayerRings rings;
    const Trans identity;
    DBCell* cell = WorkingCellPtr();
    lib.CollectPolygons(cell, &area, &identity, &opLayers, &rings, 1);
    ReportSearchSystemMemory(false);
    WriteOneCellGds(lib, cell, fname, gz, [&](GdsWriter& w) {
      for (auto& [key, list] : rings) {
        PrintMessage("  (%d %d): %d polygons\n", int(LayerOf(key)),
                     int(DatatypeOf(key)), list.ringCount);
        w.WriteBoundary(list, int16_t(LayerOf(key)), int16_t(DatatypeOf(key)));
      }
    });
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::ExtractMergedGds(int layer, int datatype, const char* fname, int gz) {
  PrintMessage("\n%sExtracting merged geometries to GDS %s\n", API::DateText(), fname);
  RequireWorkingArea();
  LibDB& lib = *currentLib;
  try {
    DBCell* cell = WorkingCellPtr();
    ScratchList tiles;
    if (!MergedTiles(lib, cell, area, opLayers, tech.maxSize, lib.unitPerNm, tiles.list))
      return 1;
    WriteOneCellGds(lib, cell, fname, gz, [&](GdsWriter& w) {
      w.WriteBoundary(tiles.list, int16_t(layer), int16_t(datatype));
    });
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::ExtractHierGds(const char* fname, int gz) {
  PrintMessage("\n%sExtracting Hierarchically to GDS %s\n", API::DateText(), fname);
  RequireWorkingArea();
  LibDB& lib = *currentLib;
  ClearMarks clear{lib};
  try {
    lib.hierRecords.resize(lib.cells.size());
    lib.MarkCellsInWindow(workingCell, &area);
    ReportSearchSystemMemory(false);
    GdsWriter w(fname, gz != 0);
    w.WriteLibraryHead(&lib);
    for (size_t id = 0; id < lib.cells.size(); ++id) {
      DBCell* cell = lib.cells[id];
      if (cell == nullptr || (cell->flags & DBCell::Marked) == 0) continue;
      // A reference is written only to a cell that is written too.
      w.WriteCellWindow(cell, lib.hierRecords[id].box1, opLayers, nullptr, true);
    }
    w.WriteEndLibrary();
    w.Finish();
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::ExtractMsk(int polygonTag, const char* fname) {
  PrintMessage("\n%sExtracting merged geometries to Msk %s\n", API::DateText(), fname);
  RequireLibrary();
  LibDB& lib = *currentLib;
  const double scale = lib.unitPerNm;
  if ((long double)(area.x2 - int64_t(area.x1)) / scale > 100.0L ||
      (long double)(area.y2 - int64_t(area.y1)) / scale > 100.0L) {
    PrintMessage("Error: area is too big for msk file !\n");
    return 0;
  }
  RequireWorkingArea();
  try {
    const double t = std::trunc(double(tech.maxSize) * scale + 0.5);
    if (!(t >= 1)) throw Error("Tile size below one database unit", "DRC");
    DBCell* cell = WorkingCellPtr();
    ScratchList tiles;
    if (!MergedTiles(lib, cell, area, opLayers, tech.maxSize, scale, tiles.list))
      return 1;
    std::unique_ptr<AtomicFile> opened;
    try {
      opened = std::make_unique<AtomicFile>(fname, "DB", "cannot open");
    } catch (const Error&) {
      PrintMessage("Error: Output file could not be opened !\n");
      return 0;
    }
    AtomicFile& file = *opened;
    char line[256];
    auto put = [&](const char* format, auto... args) {
      std::snprintf(line, sizeof line, format, args...);
      file.Write(line);
    };
    const long double x1 = std::floor((long double)area.x1 / scale);
    const long double y1 = std::floor((long double)area.y1 / scale);
    const long double x2 = std::ceil((long double)area.x2 / scale);
    const long double y2 = std::ceil((long double)area.y2 / scale);
    file.Write("[Version]\n7.2\n[Parameters]\n");
    file.Write(cell->name != nullptr ? *cell->name : std::string());
    file.Write("\n");
    for (int k = 0; k < 2; ++k)
      put("%.3f, %.3f, %.3f, %.3f\n", double(y2), double(x2), double(y1), double(x1));
    put("%.3f\n", tech.backTrans);
    put("%.3f\n", double(tech.backPhase));
    file.Write("0.000\n0\n1\n[Data]\n");
    for (PSPoint* p = tiles.list.head; p != nullptr; p = p->link) {
      if (p->flags & PSPointFlags::Visited) continue;
      put("Polygon(%.4f, %.2f, %d)\n", tech.transmittance, double(tech.phase), polygonTag);
      file.Write("{\n");
      PSPoint* q = p;
      do {
        q->flags |= PSPointFlags::Visited;
        put("   %.3f, %.3f\n", double(q->x), double(q->y));
        q = q->next;
      } while (q != nullptr && q != p && !(q->flags & PSPointFlags::Visited));
      file.Write("}\n");
    }
    file.Write("[KTV]\n");
    file.Commit(std::string("Cannot write file ") + fname);
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

}  // namespace velmar
