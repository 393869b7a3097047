#include "formats/gds_writer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/atomic_file.h"
#include "layoutdb/cell_record.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/path_outline.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kUnit = "GDSOUT";
// A magnification within 2^-23 of 1 writes no MAG.
constexpr double kMagTolerance = 1.1920928955078125e-07;

[[noreturn]] void Fail(const std::string& message) { throw Error(message, kUnit); }

// Floor division for a positive divisor.
int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && (a < 0)) --q;
  return q;
}

// The indices k in [0, count - 1] for which the interval [lo + k p, hi + k p]
// overlaps (w1, w2) in its interior.
bool AxisHits(int64_t lo, int64_t hi, int64_t p, int64_t count, int64_t w1,
              int64_t w2, int32_t& k0, int32_t& k1) {
  int64_t a = 0, b = count - 1;
  if (p == 0) {
    if (!(lo < w2 && hi > w1)) return false;
  } else if (p > 0) {
    a = std::max(a, FloorDiv(w1 - hi, p) + 1);
    b = std::min(b, FloorDiv(w2 - lo - 1, p));
  } else {
    const int64_t q = -p;
    a = std::max(a, FloorDiv(lo - w2, q) + 1);
    b = std::min(b, FloorDiv(hi - w1 - 1, q));
  }
  if (a > b) return false;
  k0 = int32_t(a);
  k1 = int32_t(b);
  return true;
}

// Grid of the tile sizes when cutting: 100 nm in database units, at least 1.
int64_t CutGrid(const LibDB* lib) {
  const double d = lib != nullptr ? lib->unitPerNm : 1.0;
  const double g = std::trunc(100.0 * d);
  if (!(g >= 1.0)) return 1;
  return g > double(INT32_MAX) ? INT32_MAX : int64_t(g);
}

// size rounded to a multiple of grid, never below the size.
int64_t SnapUp(int64_t size, int64_t grid) {
  if (size % grid == 0) return size;
  int64_t s = grid * int64_t(std::floor(double(size) / double(grid) + 0.5));
  if (s < size) s += grid;
  return s;
}

// Reads the vertices of the ring through start along next, marking them
// visited; the count, or -1 for an open chain. A walk that meets a visited
// vertex before coming back to its start is a broken ring.
int32_t WalkRing(PSPoint* start) {
  int32_t n = 0;
  PSPoint* p = start;
  do {
    if (p->flags & PSPointFlags::Visited) Fail("Polygon is in loop");
    p->flags |= PSPointFlags::Visited;
    ++n;
    p = p->next;
  } while (p != nullptr && p != start);
  if (p == nullptr) {
    // An open chain: mark the part before start as well.
    for (PSPoint* q = start->prev; q != nullptr && !(q->flags & PSPointFlags::Visited);
         q = q->prev)
      q->flags |= PSPointFlags::Visited;
    return -1;
  }
  return n;
}

// The closed outline of a box as its XY record gives it: the five corners
// from the lower left round to the lower left again.
std::array<std::array<int32_t, 2>, 5> BoxOutline(const Box& box) {
  return {{{box.x1, box.y1}, {box.x2, box.y1}, {box.x2, box.y2}, {box.x1, box.y2},
           {box.x1, box.y1}}};
}

}  // namespace

bool ArrayHitRange(const ARef& ref, const Box& childBox, const Box& window,
                   int32_t& c0, int32_t& c1, int32_t& r0, int32_t& r1) {
  if (ref.columns < 1 || ref.rows < 1 || !childBox.IsValid() ||
      !window.IsValid())
    return false;
  Box first = childBox;  // element (0, 0)
  static_cast<const Trans&>(ref).TransformBox(first);
  const bool odd = ref.orientation < 8 && (ref.orientation & 1) != 0;
  // Element (i, j) lies at element (0, 0) moved by (i cp, j rp), or by
  // (j cp, i rp) for odd orientations: x and y hits are independent.
  int32_t xa, xb, ya, yb;
  const int64_t xCount = odd ? ref.rows : ref.columns;
  const int64_t yCount = odd ? ref.columns : ref.rows;
  if (!AxisHits(first.x1, first.x2, ref.columnPitch, xCount, window.x1,
                window.x2, xa, xb) ||
      !AxisHits(first.y1, first.y2, ref.rowPitch, yCount, window.y1, window.y2,
                ya, yb))
    return false;
  if (odd) {
    c0 = ya, c1 = yb, r0 = xa, r1 = xb;
  } else {
    c0 = xa, c1 = xb, r0 = ya, r1 = yb;
  }
  return true;
}

// ---------------------------------------------------------------------------
// File

GdsWriter::GdsWriter(const std::string& path, bool gzip) : target_(path) {
  const std::string message = "Cannot open file " + path + "!";
  file_ = std::make_unique<AtomicFile>(path, kUnit, message);
  file_->CloseDescriptor();
  output.path = file_->TempPath();
  output.write = true;
  output.gzip = gzip;
  output.openMode = 0;
  if (!output.Open()) Fail(message);
}

GdsWriter::~GdsWriter() {
  if (!finished_) {
    try {
      output.Close();
    } catch (const Error&) {
    }
  }
  // file_ removes the temporary file unless it was committed.
}

void GdsWriter::Finish() {
  output.Close();
  file_->Commit("Cannot write file " + target_ + "!");
  finished_ = true;
}

void GdsWriter::SetVertexLimit(int32_t limit) {
  int32_t taken = std::clamp(limit, kMinVertexLimit, kMaxVertexLimit);
  if (taken != limit)
    PrintMessage("Warning: vertex limit %d taken as %d\n", limit, taken);
  vertexLimit_ = taken;
}

int32_t GdsWriter::OutputCoordinate(int64_t v) const {
  if (scale_ != 1.0) {
    const long double s = std::floor(static_cast<long double>(scale_) * v + 0.5L);
    if (!(s >= INT32_MIN && s <= INT32_MAX)) {
      char message[96];
      std::snprintf(message, sizeof message,
                    "Coordinate %lld scaled out of range", (long long)v);
      Fail(message);
    }
    return int32_t(s);
  }
  if (v < INT32_MIN || v > INT32_MAX) {
    char message[96];
    std::snprintf(message, sizeof message, "Coordinate %lld out of range",
                  (long long)v);
    Fail(message);
  }
  return int32_t(v);
}

// ---------------------------------------------------------------------------
// Records

void GdsWriter::WriteInt16Record(uint8_t type, int16_t value) {
  WriteRecordHeader(2, GdsData::Int16, type);
  output.PutInt16Swapped(value);
}

void GdsWriter::WriteName(uint8_t type, const std::string& name) {
  std::string_view s = name;
  const size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  if (s.empty()) {
    // A string record without payload is refused by readers: an empty name
    // is written as padding only.
    WriteRecordHeader(2, GdsData::Ascii, type);
    output.PutInt16Swapped(0);
    return;
  }
  WriteRecordHeader(s.size(), GdsData::Ascii, type);
  WriteString(s);
}

void GdsWriter::PutPoint(int64_t x, int64_t y) {
  output.PutInt32Swapped(OutputCoordinate(x));
  output.PutInt32Swapped(OutputCoordinate(y));
}

bool GdsWriter::OutputLayer(LayerKey key, const LayerKeySet* filter,
                            const std::map<LayerKey, LayerKey>* map,
                            int16_t& layer, int16_t& datatype) const {
  if (filter != nullptr && !filter->empty() && filter->count(key) == 0)
    return false;
  if (map != nullptr) {
    auto it = map->find(key);
    if (it != map->end()) key = it->second;
  }
  layer = int16_t(LayerOf(key));
  datatype = int16_t(DatatypeOf(key));
  return true;
}

// ---------------------------------------------------------------------------
// Library and structures

void GdsWriter::WriteLibraryHead(LibDB* lib) {
  library = lib;
  scale_ = lib->outScale;
  if (!std::isfinite(scale_) || !(scale_ > 0)) {
    char message[96];
    std::snprintf(message, sizeof message, "Output scale %g is not above 0",
                  scale_);
    Fail(message);
  }
  WriteInt16Record(GdsRecord::Header, int16_t(lib->version));
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  time = local;
  WriteRecordHeader(24, GdsData::Int16, GdsRecord::BgnLib);
  WriteDates();
  // A GDSII reader refuses an empty name: a library without one is named
  // after its directory.
  std::string name = lib->libName;
  if (name.empty()) {
    std::string dir = lib->dirPath;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    const size_t slash = dir.rfind('/');
    name = slash == std::string::npos ? dir : dir.substr(slash + 1);
    if (name.empty()) name = "LIB";
  }
  WriteName(GdsRecord::LibName, name);
  const double user = lib->userUnitFromGds ? lib->userUnit : lib->meterPerUnit * 1e6;
  WriteRecordHeader(16, GdsData::Real8, GdsRecord::Units);
  WriteReal(user);
  WriteReal(lib->meterPerUnit);
  PrintMessage("DB unit=%e meter\n", lib->meterPerUnit);
}

void GdsWriter::WriteCellHead(const DBCell* cell) {
  WriteRecordHeader(24, GdsData::Int16, GdsRecord::BgnStr);
  WriteDates();
  WriteName(GdsRecord::StrName, cell->name != nullptr ? *cell->name : std::string());
}

void GdsWriter::WriteEndStructure() { WriteRecordHeader(0, GdsData::None, GdsRecord::EndStr); }

void GdsWriter::WriteEndLibrary() { WriteRecordHeader(0, GdsData::None, GdsRecord::EndLib); }

void GdsWriter::WriteLibrary(LibDB* lib) {
  WriteLibraryHead(lib);
  for (DBCell* cell : lib->cells) {
    if (cell == nullptr || !cell->box.IsValid()) continue;
    lib->SeekCellData(cell);
    WriteCell(cell);
  }
  lib->CloseDataFile();
  WriteEndLibrary();
}

namespace {

// Writes every placement of each shape of a layer block as a polygon.
class PolygonPlacer : public CellRecordReader::ShapeSink {
 public:
  PolygonPlacer(GdsWriter& w, bool write, int16_t layer, int16_t datatype)
      : w_(w), write_(write), layer_(layer), datatype_(datatype) {}
  void Shape(std::unique_ptr<DBPolygon> polygon) override {
    polygon_ = std::move(polygon);
  }
  void Placement(int32_t x, int32_t y) override {
    if (write_) w_.WritePolygon(*polygon_, x, y, layer_, datatype_);
  }

 private:
  GdsWriter& w_;
  bool write_;
  int16_t layer_, datatype_;
  std::unique_ptr<DBPolygon> polygon_;
};

}  // namespace

void GdsWriter::WriteCell(DBCell* cell) {
  WriteCellHead(cell);
  BinaryStream& in = library->dbStream;
  CellRecordReader reader(in, cell->endPos, library->cells);
  while (in.Tell() < cell->endPos) {
    LayerKey key = 0;
    if (!reader.ReadLayerHead(key)) {
      int32_t previousId = -1;
      Point previousOrigin(0, 0);
      do {
        std::unique_ptr<SRef> ref = reader.ReadReference(previousId, previousOrigin);
        if (ref == nullptr) continue;
        if (ref->IsArray())
          WriteARef(static_cast<const ARef&>(*ref));
        else
          WriteSRef(*ref);
      } while (in.Tell() < cell->endPos);
      if (in.Tell() > cell->endPos) throw Error("Insufficient Reference Data", "LIBIN");
      break;
    }
    int16_t layer = 0, datatype = 0;
    const bool write = OutputLayer(key, layerFilter, layerMap, layer, datatype);
    PolygonPlacer placer(*this, write, layer, datatype);
    reader.ReadLayerShapes(placer);
  }
  WriteEndStructure();
}

void GdsWriter::WriteCellWindow(DBCell* cell, const Box& window,
                                const LayerKeySet& filter,
                                const std::map<LayerKey, LayerKey>* map,
                                bool onlyMarkedChildren) {
  if (cell->IsEmpty() && cell->dbFile != 0 && cell->box.IsValid())
    library->LoadCell(cell, true);
  if (!cell->rawLayers.empty() && !cell->IsIndexed()) cell->IndexLayers();
  WriteCellHead(cell);
  int16_t layer = 0, datatype = 0;
  const Box& b = cell->box;
  if (b.x1 >= window.x1 && b.x2 <= window.x2 && b.y1 >= window.y1 &&
      b.y2 <= window.y2) {
    for (auto& [key, raw] : cell->rawLayers) {
      if (!IsShapeLayerKey(key) || !OutputLayer(key, &filter, map, layer, datatype))
        continue;
      for (CPgonListNode* s = raw.first; s != nullptr; s = s->next)
        for (LocListNode* p = s->placements.first; p != nullptr; p = p->next)
          WritePolygon(*s->polygon, p->x, p->y, layer, datatype);
    }
  } else {
    for (auto& [key, tree] : cell->indexedLayers) {
      if (key >= ReferenceKey) break;
      if (tree.IsEmpty() || !OutputLayer(key, &filter, map, layer, datatype))
        continue;
      for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window); n != nullptr;
           n = DBSearchSystem::NextInBox(n, window)) {
        if (n->item == nullptr) continue;
        const LocListNode* p = static_cast<const LocListNode*>(n->item);
        const DBPolygon& polygon = *p->owner->polygon;
        const Box& ib = n->box;
        bool meets = ib.x1 >= window.x1 && ib.x2 <= window.x2 &&
                     ib.y1 >= window.y1 && ib.y2 <= window.y2;
        if (!meets) {
          ScratchList ring;
          polygon.ToRing(ring.list);
          for (PSPoint* q = ring.list.head; q != nullptr; q = q->link) {
            q->x += p->x;
            q->y += p->y;
          }
          ClipToWindow(ring.list, window, false);
          meets = ring.list.pointCount > 0;
        }
        if (meets) WritePolygon(polygon, p->x, p->y, layer, datatype);
      }
    }
  }
  auto refs = cell->indexedLayers.find(ReferenceKey);
  if (refs != cell->indexedLayers.end()) {
    LayerTree& tree = refs->second;
    for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window); n != nullptr;
         n = DBSearchSystem::NextInBox(n, window)) {
      if (n->item == nullptr) continue;
      const SRef& ref = *static_cast<const SRef*>(n->item);
      const int32_t id = ref.CellId();
      if (size_t(id) >= library->cells.size()) continue;
      const DBCell* child = library->cells[size_t(id)];
      if (child == nullptr || !child->box.IsValid()) continue;
      if (onlyMarkedChildren && (child->flags & DBCell::Marked) == 0) continue;
      if (!ref.IsArray()) {
        WriteSRef(ref);
        continue;
      }
      const ARef& array = static_cast<const ARef&>(ref);
      int32_t c0, c1, r0, r1;
      if (!ArrayHitRange(array, child->box, window, c0, c1, r0, r1)) continue;
      const int32_t columns = c1 - c0 + 1, rows = r1 - r0 + 1;
      if (columns == array.columns && rows == array.rows) {
        WriteARef(array);
      } else if (columns == 1 && rows == 1) {
        WriteSRef(SRef(array.ElementTrans(c0, r0), id));
      } else {
        WriteARef(ARef(array.ElementTrans(c0, r0), id, int16_t(columns),
                       int16_t(rows), array.columnPitch, array.rowPitch));
      }
    }
  }
  WriteEndStructure();
}

// ---------------------------------------------------------------------------
// Polygons

void GdsWriter::WritePolygon(const DBPolygon& polygon, int32_t ox, int32_t oy,
                             int16_t layer, int16_t datatype) {
  const int32_t n = int32_t(polygon.VertexCount());
  if (n <= vertexLimit_) {
    WriteRecordHeader(0, GdsData::None, GdsRecord::Boundary);
    WriteInt16Record(GdsRecord::Layer, layer);
    WriteInt16Record(GdsRecord::Datatype, datatype);
    WriteRecordHeader(size_t(n + 1) * 8, GdsData::Int32, GdsRecord::XY);
    PutPoint(ox, oy);
    int cursor = 0;
    int32_t x = 0, y = 0;
    for (int32_t i = 1; i < n; ++i) {
      polygon.NextVertex(i, cursor, x, y);
      PutPoint(int64_t(ox) + x, int64_t(oy) + y);
    }
    PutPoint(ox, oy);
    WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
    return;
  }
  ScratchList ring;
  polygon.ToRing(ring.list);
  CutAndWrite(ring.list, n, ox, oy, layer, datatype);
}

void GdsWriter::WriteRing(const PSPoint* start, int32_t n, int64_t dx, int64_t dy,
                          int16_t layer, int16_t datatype) {
  WriteRecordHeader(0, GdsData::None, GdsRecord::Boundary);
  WriteInt16Record(GdsRecord::Layer, layer);
  WriteInt16Record(GdsRecord::Datatype, datatype);
  WriteRecordHeader(size_t(n + 1) * 8, GdsData::Int32, GdsRecord::XY);
  const PSPoint* p = start;
  for (int32_t i = 0; i < n; ++i, p = p->next) PutPoint(dx + p->x, dy + p->y);
  PutPoint(dx + start->x, dy + start->y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

void GdsWriter::CutAndWrite(PSList& list, int32_t vertices, int64_t dx,
                            int64_t dy, int16_t layer, int16_t datatype) {
  PrintMessage("Found %d vertice polygon, chopping...", vertices);
  OrientRings(list);
  const Box box = ListBBox(list);
  const int64_t width = int64_t(box.x2) - box.x1, height = int64_t(box.y2) - box.y1;
  const int64_t pieces = vertices / vertexLimit_ + 1;
  const int64_t grid = CutGrid(library);
  int64_t size = std::max(width, height) / pieces;
  size = std::max(SnapUp(size, grid), grid);
  size = std::min<int64_t>(size, INT32_MAX);
  int32_t largest = 0;
  for (;;) {
    PrintMessage("iterating w/ %d\n", int32_t(size));
    ScratchList out;
    ChopIntoTiles(list, out.list, int32_t(size));
    ClearPointList(list);
    SpliceList(list, out.list);
    BooleanSweep(list, nullptr, BooleanOpCode::CutHoles, false);
    largest = CountRings(list);
    if (largest <= vertexLimit_) break;
    int64_t next = size >> 1;
    if (next % grid != 0)
      next = grid * int64_t(std::floor(double(next) / double(grid) + 0.5));
    // Rounding to the grid can give the size back: it must shrink, or the
    // cutting would repeat for ever.
    if (next < grid || next < 1 || next >= size) {
      PrintMessage("\n");
      char message[160];
      std::snprintf(message, sizeof message,
                    "Polygon of %d vertices cannot be cut below %d vertices "
                    "(a piece of %d vertices remains at tile size %lld)",
                    vertices, vertexLimit_, largest, (long long)size);
      Fail(message);
    }
    size = next;
  }
  PrintMessage("  to max %d vertices\n", largest);
  // Every ring of the list now fits; write each once.
  for (PSPoint* p = list.head; p != nullptr; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    const int32_t n = WalkRing(p);
    if (n >= 3) WriteRing(p, n, dx, dy, layer, datatype);
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
}

void GdsWriter::WriteBoundary(PSList& list, int16_t layer, int16_t datatype) {
  struct ClearMarks {
    PSList& l;
    ~ClearMarks() { MaskFlags(l, ~int(PSPointFlags::Visited)); }
  } clear{list};
  for (PSPoint* p = list.head; p != nullptr; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    const int32_t n = WalkRing(p);
    if (n < 3) continue;
    if (n <= vertexLimit_) {
      WriteRing(p, n, 0, 0, layer, datatype);
      continue;
    }
    ScratchList copy;
    AppendRingCopy(p, copy.list);
    MaskFlags(copy.list, 0);
    CutAndWrite(copy.list, n, 0, 0, layer, datatype);
  }
}

// ---------------------------------------------------------------------------
// References

void GdsWriter::WriteStrans(const Trans& t) {
  const uint8_t o = t.orientation < 8 ? t.orientation : 0;
  const bool magnified = std::fabs(double(t.mag) - 1.0) > kMagTolerance;
  if (o == 0 && !magnified) return;
  WriteRecordHeader(2, GdsData::BitArray, GdsRecord::Strans);
  output.PutInt16Swapped(int16_t(o > 3 ? 0x8000 : 0));
  if (magnified) {
    WriteRecordHeader(8, GdsData::Real8, GdsRecord::Mag);
    WriteReal(double(t.mag));
  }
  if (o != 0 && o != 6) {
    static constexpr double kAngles[8] = {0, 90, 180, 270, 180, 270, 0, 90};
    WriteRecordHeader(8, GdsData::Real8, GdsRecord::Angle);
    WriteReal(kAngles[o]);
  }
}

void GdsWriter::WriteRefName(const SRef& ref) {
  const int32_t id = ref.CellId();
  if (library == nullptr || size_t(id) >= library->cells.size() ||
      library->cells[size_t(id)] == nullptr ||
      library->cells[size_t(id)]->name == nullptr)
    Fail("Reference to a cell without a name");
  WriteName(GdsRecord::SName, *library->cells[size_t(id)]->name);
}

void GdsWriter::WriteSRef(const SRef& ref) {
  // Every field is checked before the element starts.
  OutputCoordinate(ref.x);
  OutputCoordinate(ref.y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::SRef);
  WriteRefName(ref);
  WriteStrans(ref);
  WriteRecordHeader(8, GdsData::Int32, GdsRecord::XY);
  PutPoint(ref.x, ref.y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

void GdsWriter::WriteARef(const ARef& ref) {
  const int64_t x = ref.x, y = ref.y;
  int64_t p1x = x, p1y = y, p2x = x, p2y = y;
  // The reader takes columns along x for even orientations and along y for
  // odd ones: the three points are its reading inverted.
  if (ref.orientation < 8 && (ref.orientation & 1)) {
    p1y = y + int64_t(ref.columns) * ref.rowPitch;
    p2x = x + int64_t(ref.rows) * ref.columnPitch;
  } else {
    p1x = x + int64_t(ref.columns) * ref.columnPitch;
    p2y = y + int64_t(ref.rows) * ref.rowPitch;
  }
  // Every point is checked before the element starts.
  OutputCoordinate(x), OutputCoordinate(y), OutputCoordinate(p1x);
  OutputCoordinate(p1y), OutputCoordinate(p2x), OutputCoordinate(p2y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::ARef);
  WriteRefName(ref);
  WriteStrans(ref);
  WriteRecordHeader(4, GdsData::Int16, GdsRecord::ColRow);
  output.PutInt16Swapped(ref.columns);
  output.PutInt16Swapped(ref.rows);
  WriteRecordHeader(24, GdsData::Int32, GdsRecord::XY);
  PutPoint(x, y);
  PutPoint(p1x, p1y);
  PutPoint(p2x, p2y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

// ---------------------------------------------------------------------------
// Texts, boxes, paths, rectangles

void GdsWriter::WriteText(const GdsText& text) {
  WriteRecordHeader(0, GdsData::None, GdsRecord::Text);
  WriteInt16Record(GdsRecord::Layer, text.layer);
  WriteInt16Record(GdsRecord::TextType, text.textType);
  if (text.presentation != 0) {
    WriteRecordHeader(2, GdsData::BitArray, GdsRecord::Presentation);
    output.PutInt16Swapped(int16_t(text.presentation));
  }
  if (text.pathType != 0) WriteInt16Record(GdsRecord::PathType, text.pathType);
  if (text.width != 0) {
    WriteRecordHeader(4, GdsData::Int32, GdsRecord::Width);
    output.PutInt32Swapped(text.width);
  }
  WriteStrans(text.trans);
  WriteRecordHeader(8, GdsData::Int32, GdsRecord::XY);
  PutPoint(text.trans.x, text.trans.y);
  WriteName(GdsRecord::String, text.text);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

void GdsWriter::WriteBox(const Box& box, int16_t layer, int16_t boxType) {
  WriteRecordHeader(0, GdsData::None, GdsRecord::Box);
  WriteInt16Record(GdsRecord::Layer, layer);
  WriteInt16Record(GdsRecord::BoxType, boxType);
  WriteRecordHeader(40, GdsData::Int32, GdsRecord::XY);
  for (const auto& [x, y] : BoxOutline(box)) PutPoint(x, y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

void GdsWriter::WriteRectangle(const Box& box, int16_t layer, int16_t datatype) {
  WriteRecordHeader(0, GdsData::None, GdsRecord::Boundary);
  WriteInt16Record(GdsRecord::Layer, layer);
  WriteInt16Record(GdsRecord::Datatype, datatype);
  WriteRecordHeader(40, GdsData::Int32, GdsRecord::XY);
  for (const auto& [x, y] : BoxOutline(box)) PutPoint(x, y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

void GdsWriter::WritePath(const Path& path, int16_t layer, int16_t datatype) {
  if (path.points.size() > size_t(kMaxVertexLimit) + 1)
    Fail("Path has too many points for one record");
  WriteRecordHeader(0, GdsData::None, GdsRecord::Path);
  WriteInt16Record(GdsRecord::Layer, layer);
  WriteInt16Record(GdsRecord::Datatype, datatype);
  // Explicit extensions are written in the form that carries them.
  const bool extended = path.pathType == 3;
  const int16_t type = extended ? 4 : path.pathType;
  if (type != 0) WriteInt16Record(GdsRecord::PathType, type);
  if (path.width != 0) {
    WriteRecordHeader(4, GdsData::Int32, GdsRecord::Width);
    output.PutInt32Swapped(path.width);
  }
  if (extended) {
    WriteRecordHeader(4, GdsData::Int32, GdsRecord::BgnExtn);
    output.PutInt32Swapped(path.beginExtension);
    WriteRecordHeader(4, GdsData::Int32, GdsRecord::EndExtn);
    output.PutInt32Swapped(path.endExtension);
  }
  WriteRecordHeader(path.points.size() * 8, GdsData::Int32, GdsRecord::XY);
  for (const Point& p : path.points) PutPoint(p.x, p.y);
  WriteRecordHeader(0, GdsData::None, GdsRecord::EndEl);
}

}  // namespace velmar
