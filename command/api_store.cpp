// API: storing results and the temporary database.
//
// A result leaves its temporary layer in one of three ways: into the
// working cell (hierarchical mode), as one record appended to the
// temporary database, or into a polygon text file. Before it is stored it
// is clipped back to the working area (outside hierarchical mode, with a
// margin), its holes are cut open, and rings beyond the vertex limit of the
// stored polygon encoding are chopped into tiles.
//
// The temporary database is a plain, headerless file of layer blocks in the
// layout of the cell data files (uint16 layer, datatype byte, chained shape
// count, shapes); each record is flushed as soon as it is written, so the
// file of a process that is killed holds every completed record.
// CopyTempDB appends the records behind a cell's own layer blocks in one
// block copy, after checking that they decode (a damaged record would make
// the whole cell unreadable).

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/api_library_support.h"
#include "formats/polygon_file.h"
#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/cell_record.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

using namespace api_support;

namespace {

// Vertex limit of a stored polygon (the 18-bit count of the encoding).
constexpr int32_t kVertexLimit = int32_t(DBPolygon::kMaxVertices);

// Roll-over of CopyTempDB: a cell record that starts beyond this offset of
// its data file moves to a new data file when the temporary database is
// larger than kRollOverCopySize.
constexpr int64_t kRollOverPosition = 499999999;
constexpr int64_t kRollOverCopySize = 999999999;

// A box from 64-bit sides, held to the int32 range.
Box ClampedBox(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return Box(ClampToInt32(x1), ClampToInt32(y1), ClampToInt32(x2),
             ClampToInt32(y2));
}

// Replaces list by its intersection with window: the window joins the list
// as a second-operand ring and the AND runs into a new list.
void IntersectWithWindow(PSList& list, const Box& window) {
  BoxToRing(list, window, true);
  ScratchList out;
  BooleanSweep(list, &out.list, BooleanOpCode::And, false);
  ClearPointList(list);
  SpliceList(list, out.list);
}

void CutHolesOpen(PSList& list) {
  BooleanSweep(list, nullptr, BooleanOpCode::CutHoles, false);
}

// The temporary layer named by number, or null after a message: storing
// takes only results, never a library layer, and only a layer that exists.
PSList* SourceLayer(API& api, int layer, int datatype) {
  if (layer < API::kLowestTempLayer) {
    PrintMessage("ERROR: {%d %d} is not a temporary layer\n", layer, datatype);
    return nullptr;
  }
  PSList* source = api.FindTempLayer(layer);
  if (source == nullptr)
    PrintMessage("ERROR: Temporary layer %d does not exist\n", layer);
  return source;
}

// 16 x R(maxSize x s), the first tile size of the chopping loop; held to
// the int32 range (a tile larger than every layout chops nothing).
int64_t FirstTileSize(const API& api) {
  const double v = double(api.tech.maxSize) * api.CurrentLibrary()->unitPerNm;
  const double r = std::trunc(v < 0 ? v - 0.5 : v + 0.5);
  if (!(r > 0)) return 0;
  return std::min<double>(16 * r, double(INT32_MAX));
}

// Counts the rings of list in one walk (its point and ring counts, as
// CountRings sets them; "Polygon is in loop" on corrupt links) and moves
// every ring of more than limit vertices onto over (rings only; counts
// follow): their vertices are taken off the link chain in one pass, nothing
// is copied, and the other rings keep their link order. The vertices of the
// moved rings, read on the way, are put in gathered (replacing what it
// held), so that chopping need not walk those rings again. Returns the
// largest ring of the list as it came; largestKept is the largest ring
// left on it. With read, the vertices of every ring left on the list are
// appended there as well, for the polygon writer; openChains tells whether
// the walk met an open chain (the writer walks those itself).
int32_t CountAndTakeRingsOver(PSList& list, PSList& over, int32_t limit,
                              int32_t& largestKept,
                              std::vector<GatheredRing>& gathered,
                              ListRings* read = nullptr,
                              bool* openChains = nullptr) {
  gathered.clear();
  if (read) read->points.reserve(read->points.size() + size_t(std::max(list.pointCount, 0)));
  // The vertices of the ring in hand, as points and as positions; the
  // vertices of the moved rings, so that their marks are taken off without
  // a second walk along their links (one cache miss after another).
  std::vector<Point> ring;
  std::vector<PSPoint*> ringPoints;
  std::vector<std::vector<PSPoint*>> moving;
  int32_t points = 0, rings = 0, largest = 0, overPoints = 0;
  largestKept = 0;
  ChainLead lead(list.head);
  for (PSPoint* p = list.head; p; p = p->link) {
    lead.Step();
    if (p->flags & PSPointFlags::Visited) continue;
    int32_t n = 0;
    PSPoint* q = p;
    ring.clear();
    ringPoints.clear();
    do {
      q->flags |= PSPointFlags::Visited;
      ring.push_back(Point(q->x, q->y));
      ringPoints.push_back(q);
      ++n;
      q = q->next;
    } while (q && q != p && !(q->flags & PSPointFlags::Visited));
    // A walk that meets a vertex it has passed before without coming back
    // to its start would never end: the links are corrupt.
    if (q && q != p) {
      MaskFlags(list, ~int(PSPointFlags::Visited));
      throw Error("Polygon is in loop", "DRC", 0);
    }
    points += n;
    ++rings;
    largest = std::max(largest, n);
    if (!q && openChains) *openChains = true;
    if (read && n <= limit) {
      read->points.insert(read->points.end(), ring.begin(), ring.end());
      read->sizes.push_back(n);
    }
    if (n > limit) {
      moving.emplace_back().swap(ringPoints);
      overPoints += n;
      GatheredRing& g = gathered.emplace_back();
      g.start = p;
      g.vertices.swap(ring);
    } else {
      largestKept = std::max(largestKept, n);
    }
  }
  list.pointCount = points;
  list.ringCount = rings;
  if (moving.empty()) {
    MaskFlags(list, ~int(PSPointFlags::Visited));
    return largest;
  }
  // Every vertex is marked now; the marks of the rings to move go, and the
  // link chain is split by the mark (which goes on the way).
  for (const std::vector<PSPoint*>& r : moving)
    for (PSPoint* q : r) q->flags &= uint16_t(~PSPointFlags::Visited);
  PSList moved, kept;
  for (PSPoint* p = list.head; p;) {
    PSPoint* next = p->link;
    p->link = nullptr;
    PSList& to = (p->flags & PSPointFlags::Visited) ? kept : moved;
    p->flags &= uint16_t(~PSPointFlags::Visited);
    if (to.tail) to.tail->link = p;
    else to.head = p;
    to.tail = p;
    p = next;
  }
  moved.pointCount = overPoints;
  moved.ringCount = int32_t(moving.size());
  kept.pointCount = points - overPoints;
  kept.ringCount = rings - moved.ringCount;
  list.head = kept.head;
  list.tail = kept.tail;
  list.pointCount = kept.pointCount;
  list.ringCount = kept.ringCount;
  SpliceList(over, moved);
  return largest;
}

// Counts the prepared result and reports it, then chops the rings beyond
// the vertex limit on tiles of tileSize, quartered per round. Afterwards
// the list's counts are exact; returns its largest ring. With all, the
// vertices of the list's rings as the counts read them go there, in the
// order of the list as it ends (the rings kept, then the pieces of each
// round behind them), for the polygon writer; it is left empty when the
// list holds an open chain.
int32_t ReportAndChop(API& api, PSList& list, ListRings* all = nullptr) {
  const Tech& tech = api.tech;
  // Only the rings over the limit are chopped, and only their pieces have
  // their holes cut open and are counted again: the other rings are stored
  // as they are.
  ScratchList over, out;
  std::vector<GatheredRing> gathered;  // the rings of over, read once
  int32_t maxRing = 0;
  bool open = false;
  // After an open chain the writer walks the list itself.
  auto dropReadRings = [&]() {
    if (!all) return;
    all->points.clear();
    all->sizes.clear();
    if (open) all = nullptr;
  };
  dropReadRings();
  const int32_t largest =
      CountAndTakeRingsOver(list, over.list, kVertexLimit, maxRing, gathered, all, &open);
  if (open) dropReadRings();
  if (tech.reportCount != 0 || tech.reportDegree != 0)
    PrintMessage("  Total output polygons = %d\n", list.ringCount + over.list.ringCount);
  if (tech.reportDegree != 0) {
    PrintMessage("  Total output vertices = %d\n", list.pointCount + over.list.pointCount);
    PrintMessage("    Max no of vertices = %d\n", largest);
  }
  if (over.list.head == nullptr) return maxRing;

  api.RequireWorkingArea();
  if (tech.reportDegree != 0)
    PrintMessage("  Vertice count exceeds DB limit, chopping...");
  int64_t size = FirstTileSize(api);
  try {
    while (over.list.head != nullptr) {
      // A tile of one unit holds no ring beyond the limit; a size that
      // reaches 0 means the rings cannot be cut small enough.
      if (size < 1)
        throw Error("Polygons cannot be chopped below the vertex limit", "DB");
      ChopGatheredRings(gathered, out.list, int32_t(size));
      ClearPointList(over.list);
      CutHolesOpen(out.list);
      int32_t kept = 0;
      CountAndTakeRingsOver(out.list, over.list, kVertexLimit, kept, gathered, all, &open);
      if (open) dropReadRings();
      maxRing = std::max(maxRing, kept);
      SpliceList(list, out.list);
      size >>= 2;
    }
  } catch (...) {
    // The caller gets back every ring: the ones still to chop (pieces of
    // them that a failed chop left are dropped), else the pieces of the
    // round that failed.
    if (over.list.head != nullptr) {
      ClearPointList(out.list);
      SpliceList(list, over.list);
    } else {
      SpliceList(list, out.list);
    }
    throw;
  }
  if (tech.reportDegree != 0) PrintMessage("to max %d vertices\n", maxRing);
  return maxRing;
}

// --- Checking the temporary database before it is copied ------------------

// What the complete records at the start of a temporary database hold.
struct TempScan {
  int64_t validBytes = 0;  // length of the complete, decodable records
  Box box;                 // bounding box of every placed shape
  std::set<LayerKey> keys;  // layer keys of the records
};

// Decodes records from the start of the open stream up to the first one
// that is cut off, damaged (anything the cell data reader would refuse) or
// not on a library layer.
TempScan ScanTempDB(BinaryStream& in, const LibDB& lib) {
  TempScan scan;
  CellRecordReader reader(in, INT64_MAX, lib.cells);
  while (!in.AtEnd()) {
    Box box;
    LayerKey key = 0;
    try {
      key = reader.ScanLayer(box);
    } catch (const Error&) {
      break;
    }
    if (!IsDrawnLayerKey(key)) break;
    scan.validBytes = in.Tell();
    scan.box.Merge(box);
    scan.keys.insert(key);
  }
  return scan;
}

// After a record could not be written completely: cuts the temporary
// database back to its last complete record (start) and opens it again for
// appending, so that later records follow complete ones and are copied.
// When that fails the database is left closed, and later stores refuse
// (and keep) their results instead of writing behind a damaged record.
void RollBackTempDB(BinaryStream& db, int64_t start) {
  try {
    db.Close();  // whatever it still writes is cut off below
  } catch (const Error&) {
  }
  if (::truncate(db.path.c_str(), off_t(start)) != 0) {
    PrintMessage("ERROR: LIBOUT: Temporary database %s is closed: its last "
                 "record could not be removed\n",
                 db.path.c_str());
    return;
  }
  db.write = true;
  db.gzip = false;
  db.openMode = BinaryStream::kAppend;
  const bool reopened = db.Open();
  db.openMode = 0;  // as SetTempDB left it: OpenTempDB starts the file anew
  if (!reopened)
    PrintMessage("ERROR: LIBOUT: Temporary database %s cannot be opened again\n",
                 db.path.c_str());
}

}  // namespace

// --- Storing ----------------------------------------------------------------------

int API::SaveDB(int layer1, int datatype1, int layer2, int datatype2) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("SaveDB {%d %d} {%d %d}\n", layer1, datatype1, layer2, datatype2);
  }
  RequireWorkingArea();
  PSList* source = SourceLayer(*this, layer1, datatype1);
  if (source == nullptr) return 0;
  // Other pairs would alias work layers, the reference marker of a cell
  // record or each other.
  if (!CheckStorableLayer(layer2, datatype2)) return 0;
  if (source->IsEmpty()) return 1;
  return StorePolygons(*source, layer2, datatype2) != 0 ? 1 : 0;
}

int API::StorePolygons(PSList& list, int layer, int datatype) {
  RequireWorkingArea();
  if (hierarchical == 0 && !tempDB.IsWriting()) {
    // Storing would lose the result: keep it for a store after OpenTempDB.
    PrintMessage("ERROR: LIBOUT: Temporary database %s is not open\n",
                 tempDB.path.c_str());
    return 0;
  }
  LibDB& lib = *currentLib;
  DBCell* cell = lib.cells[workingCell];
  ScratchList scratch;
  PSList& work = scratch.list;
  SpliceList(work, list);
  int32_t counted = 0;  // rings added to savedPolygonsDB
  try {
    if (hierarchical == 0 && tech.areaMargin != 0 && HasPointOutside(work, area)) {
      // A side of the area on or near the cell's border moves out by twice
      // the margin, so geometry at the border is kept.
      const int64_t d = 2 * int64_t(ToDatabaseUnits(tech.areaMargin));
      const Box& c = cell->box;
      int64_t x1 = area.x1, y1 = area.y1, x2 = area.x2, y2 = area.y2;
      if (c.x1 + d >= x1) x1 -= d;
      if (c.y1 + d >= y1) y1 -= d;
      if (c.x2 - d <= x2) x2 += d;
      if (c.y2 - d <= y2) y2 += d;
      const Box window = ClampedBox(x1, y1, x2, y2);
      const Box bb = ListBBox(work);
      if (!(window.x1 <= bb.x1 && bb.x2 <= window.x2 && window.y1 <= bb.y1 &&
            bb.y2 <= window.y2))
        IntersectWithWindow(work, window);
    }
    if (work.IsEmpty()) return 1;
    CutHolesOpen(work);
    if (work.IsEmpty()) return 1;
    ReportAndChop(*this, work);

    counted = work.ringCount;
    savedPolygonsDB += counted;
    if (savedPolygonsDB != 0 && tech.reportDegree != 0)
      PrintMessage("\nTotal %d polygons were added\n", savedPolygonsDB);

    const LayerKey key = MakeLayerKey(layer, datatype);
    if (hierarchical != 0) {
      // Added shapes join the cell's stored contents (a cell written from
      // memory replaces its stored record).
      lib.LoadIfStored(cell);
      cell->InsertPolygons(work, key, false);
    } else {
      const Box bb = ListBBox(work);
      RawLayer shapes;
      CPgonList::AddRings(shapes, work);
      const int64_t start = tempDB.Tell();
      try {
        CellRecordWriter(tempDB, lib.cells.size()).WriteLayer(key, shapes);
        tempDB.Flush();
        // Stored positions of cell records are int32: a database beyond
        // that cannot be copied into a cell.
        if (tempDB.Tell() > INT32_MAX)
          throw Error("Temporary database exceeds 2147483647 bytes", "LIBOUT");
      } catch (const Error&) {
        // A part of the record may be in the file (and the rest in the
        // stream's buffer): nothing of it may stay in front of later records.
        RollBackTempDB(tempDB, start);
        throw;
      }
      cell->box.Merge(bb);
    }
    lib.SetFlags(LibDB::DataDirty);
    lib.AddLayerKey(key);
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    // Nothing was stored: the prepared result goes back to the caller.
    savedPolygonsDB -= counted;
    MaskFlags(work, 0);
    SpliceList(list, work);
    return 0;
  }
}

int API::SavePoly(int layer1, int datatype1, const char* fname) {
  if (tech.reportDegree != 0) {
    PrintDateLine();
    PrintMessage("Report {%d %d}\n", layer1, datatype1);
  }
  PSList* source = SourceLayer(*this, layer1, datatype1);
  if (source == nullptr) return 0;
  // An empty result still writes its file, with no polygon in it: a file
  // of that name left by an earlier run would otherwise read as this
  // result. (A file that this batch appends to keeps what it holds.)
  auto writeEmpty = [&]() -> int {
    ScratchList none;
    return WritePolygonFile(none.list, fname, savedPolygonsText != 0) ? 1 : 0;
  };
  if (source->IsEmpty()) {
    try {
      return writeEmpty();
    } catch (const Error& e) {
      PrintError(e);
      return 0;
    }
  }
  ScratchList scratch;
  PSList& work = scratch.list;
  SpliceList(work, *source);
  try {
    if (hierarchical == 0 && tech.areaMargin != 0 && HasPointOutside(work, area)) {
      RequireWorkingArea();
      // Only the sides of the area that lie on the cell's border move out.
      const int64_t m = ToDatabaseUnits(tech.areaMargin);
      const Box& c = currentLib->cells[workingCell]->box;
      int64_t x1 = area.x1, y1 = area.y1, x2 = area.x2, y2 = area.y2;
      if (area.x1 == c.x1) x1 -= m;
      if (area.y1 == c.y1) y1 -= m;
      if (area.x2 == c.x2) x2 += m;
      if (area.y2 == c.y2) y2 += m;
      IntersectWithWindow(work, ClampedBox(x1, y1, x2, y2));
    }
    CutHolesOpen(work);
    if (work.IsEmpty()) return writeEmpty();
    // The count reads every ring: the writer takes the vertices from it.
    ListRings read;
    ReportAndChop(*this, work, &read);

    const int32_t rings = work.ringCount;
    const bool append = savedPolygonsText != 0;
    savedPolygonsText += rings;
    if (savedPolygonsText != 0 && tech.reportDegree != 0)
      PrintMessage("\nTotal %d polygons were added\n", savedPolygonsText);
    bool written = false;
    try {
      written = read.sizes.empty() ? WritePolygonFile(work, fname, append)
                                   : WritePolygonFile(work, read, fname, append);
    } catch (...) {
      savedPolygonsText -= rings;
      throw;
    }
    if (!written) {
      // Nothing was written: the next call starts the file anew as well,
      // and the result stays in its layer.
      savedPolygonsText -= rings;
      MaskFlags(work, 0);
      SpliceList(*source, work);
      return 0;
    }
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    // The writer leaves no half-written polygons: nothing was written.
    MaskFlags(work, 0);
    SpliceList(*source, work);
    return 0;
  }
}

// --- The temporary database --------------------------------------------------

void API::SetTempDB(const char* fname) {
  // A database still open under its old name is completed first.
  if (tempDB.IsOpen()) {
    try {
      tempDB.Close();
    } catch (const Error& e) {
      PrintError(e);
    }
  }
  tempDB.path = fname;
  tempDB.write = true;
  tempDB.gzip = false;
  tempDB.openMode = 0;
  tempDB.unit = "LIBOUT";
}

void API::OpenTempDB() {
  if (tempDB.path.empty() || !tempDB.write) {
    PrintMessage("ERROR: Temporary database not named (SetTempDB)\n");
    return;
  }
  if (!tempDB.Open())
    PrintMessage("ERROR: Temporary database %s cannot be opened\n",
                 tempDB.path.c_str());
}

void API::CloseTempDB() {
  try {
    tempDB.Close();
  } catch (const Error& e) {
    PrintError(e);
  }
}

void API::CopyTempDB(const char* cname) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  // The database is read from its start: a stream still writing it
  // writes its bytes out first.
  try {
    tempDB.Close();
  } catch (const Error& e) {
    PrintError(e);
    return;
  }
  tempDB.write = false;
  tempDB.gzip = false;
  tempDB.openMode = 0;
  if (tempDB.path.empty() || !tempDB.Open()) {
    PrintMessage("Warning: Temporary database %s cannot be opened\n",
                 tempDB.path.c_str());
    return;
  }
  if (tempDB.fileSize == 0) {
    tempDB.Close();
    return;
  }
  DBCell* cell = nullptr;
  // Where the cell's record was, put back when the new one is not complete.
  uint16_t oldFile = 0;
  int32_t oldStart = -1, oldRef = -1, oldEnd = -1;
  bool recordStarted = false;
  try {
    lib.ReadTables();
    cell = FindCellOrFirstRoot(lib, cname);
    if (cell == nullptr) {
      tempDB.Close();
      return;
    }
    const TempScan scan = ScanTempDB(tempDB, lib);
    if (scan.validBytes < tempDB.fileSize)
      PrintMessage("Warning: temporary database %s is damaged or cut off "
                   "after byte %lld; only the records before are copied\n",
                   tempDB.path.c_str(), static_cast<long long>(scan.validBytes));
    if (scan.validBytes == 0) {
      tempDB.Close();
      return;
    }
    if (scan.validBytes > INT32_MAX)
      throw Error("Temporary database exceeds 2147483647 bytes", "LIBOUT");
    tempDB.Seek(0);

    lib.LoadIfStored(cell);
    lib.CloseDataFile();
    oldFile = cell->dbFile;
    oldStart = cell->startPos;
    oldRef = cell->refPos;
    oldEnd = cell->endPos;
    recordStarted = true;
    lib.OpenCellFile(cell);
    const int64_t position = lib.dbStream.Tell();
    // A large copy starts a data file of its own; so does one whose record
    // would end beyond the int32 positions of the info file.
    if ((position > kRollOverPosition && scan.validBytes > kRollOverCopySize) ||
        (position > 0 && position + scan.validBytes > INT32_MAX))
      lib.MoveRecordToNextDataFile(cell);
    lib.WriteCellLayers(cell);
    lib.CopyLayerBlocks(tempDB, scan.validBytes, "Temporary database ended early");
    tempDB.Close();
    lib.WriteCellReferences(cell);
    lib.CloseDataFile();
    recordStarted = false;  // every byte of the new record reached its file

    // The cell now covers the copied shapes, and its layers are known.
    cell->box.Merge(scan.box);
    for (LayerKey key : scan.keys) lib.AddLayerKey(key);
    cell->Unload();
    lib.SetFlags(LibDB::InfoDirty);
  } catch (const Error& e) {
    PrintError(e);
    // A record that was not completed leaves the cell where it was stored.
    if (recordStarted) {
      cell->dbFile = oldFile;
      cell->startPos = oldStart;
      cell->refPos = oldRef;
      cell->endPos = oldEnd;
    }
    try {
      tempDB.Close();
      lib.CloseDataFile();
    } catch (const Error&) {
      lib.openDb = 0;
    }
  }
}

void API::AppendBinaries(const char* fname1, const char* fname2) {
  struct stat a, b;
  if (::stat(fname1, &a) == 0 && ::stat(fname2, &b) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino) {
    PrintMessage("ERROR: %s cannot be appended to itself\n", fname1);
    return;
  }
  BinaryStream in;
  in.path = fname2;
  if (!in.Open()) {
    PrintMessage("ERROR: File %s cannot be opened\n", fname2);
    return;
  }
  BinaryStream out;
  out.path = fname1;
  out.write = true;
  out.openMode = BinaryStream::kAppend;
  out.unit = "LIBOUT";
  if (!out.Open()) {
    PrintMessage("ERROR: File %s cannot be opened\n", fname1);
    return;
  }
  try {
    out.AppendStream(in);
    out.Close();
  } catch (const Error& e) {
    PrintError(e);
  }
}

}  // namespace velmar
