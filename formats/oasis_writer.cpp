// OASIS writer: a whole library, cell by cell from its cell data files, and
// the window writer of one cell in memory.

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include "formats/oasis_file.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/clip_tile.h"
#include "layoutdb/cell_record.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kUnit = "OASISOUT";

[[noreturn]] void Fail(const std::string& message) { throw Error(message, kUnit); }

using Ring = std::vector<Point>;

// The ring of a stored polygon, relative to its origin vertex.
Ring PolygonRing(const DBPolygon& polygon) {
  PSList list;
  PSPoint* first = polygon.ToRing(list);
  Ring ring;
  const PSPoint* p = first;
  do {
    ring.push_back({p->x, p->y});
    p = p->next;
  } while (p != nullptr && p != first);
  ClearPointList(list);
  return ring;
}

Box RingBox(const Ring& ring) {
  Box b(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
  for (const Point& p : ring) {
    b.x1 = std::min(b.x1, p.x);
    b.y1 = std::min(b.y1, p.y);
    b.x2 = std::max(b.x2, p.x);
    b.y2 = std::max(b.y2, p.y);
  }
  return b;
}

bool SameVertexSet(Ring a, Ring b) {
  auto less = [](const Point& u, const Point& v) { return u.x != v.x ? u.x < v.x : u.y < v.y; };
  std::sort(a.begin(), a.end(), less);
  std::sort(b.begin(), b.end(), less);
  return a == b;
}

// The CTRAPEZOID type whose shape, with the box's width and height at its
// lower-left corner, is ring (relative to that corner); -1 when none. Each
// type is tried only where its vertices are distinct and its ring convex,
// so that equal vertex sets mean equal shapes.
int CTrapezoidTypeOf(const Ring& ring, int64_t w, int64_t h) {
  struct V { int64_t x, y; };
  for (int t = 0; t <= 23; ++t) {
    bool fits;
    if (t <= 3) fits = w > h;
    else if (t <= 7) fits = w > 2 * h;
    else if (t <= 11) fits = h > w;
    else if (t <= 15) fits = h > 2 * w;
    else if (t <= 19) fits = w == h;
    else if (t <= 21) fits = w == 2 * h;
    else fits = h == 2 * w;
    const size_t n = t >= 16 ? 3 : 4;
    if (!fits || n != ring.size()) continue;
    std::vector<V> v;
    switch (t) {
      case 0: v = {{0, 0}, {w, 0}, {w - h, h}, {0, h}}; break;
      case 1: v = {{0, 0}, {w - h, 0}, {w, h}, {0, h}}; break;
      case 2: v = {{0, 0}, {w, 0}, {w, h}, {h, h}}; break;
      case 3: v = {{h, 0}, {w, 0}, {w, h}, {0, h}}; break;
      case 4: v = {{0, 0}, {w, 0}, {w - h, h}, {h, h}}; break;
      case 5: v = {{h, 0}, {w - h, 0}, {w, h}, {0, h}}; break;
      case 6: v = {{0, 0}, {w - h, 0}, {w, h}, {h, h}}; break;
      case 7: v = {{h, 0}, {w, 0}, {w - h, h}, {0, h}}; break;
      case 8: v = {{0, 0}, {w, 0}, {w, h - w}, {0, h}}; break;
      case 9: v = {{0, 0}, {w, 0}, {w, h}, {0, h - w}}; break;
      case 10: v = {{0, 0}, {w, w}, {w, h}, {0, h}}; break;
      case 11: v = {{0, w}, {w, 0}, {w, h}, {0, h}}; break;
      case 12: v = {{0, 0}, {w, w}, {w, h - w}, {0, h}}; break;
      case 13: v = {{0, w}, {w, 0}, {w, h}, {0, h - w}}; break;
      case 14: v = {{0, 0}, {w, w}, {w, h}, {0, h - w}}; break;
      case 15: v = {{0, w}, {w, 0}, {w, h - w}, {0, h}}; break;
      case 16: v = {{0, 0}, {w, 0}, {0, w}}; break;
      case 17: v = {{0, 0}, {w, w}, {0, w}}; break;
      case 18: v = {{0, 0}, {w, 0}, {w, w}}; break;
      case 19: v = {{0, w}, {w, 0}, {w, w}}; break;
      case 20: v = {{0, 0}, {2 * h, 0}, {h, h}}; break;
      case 21: v = {{0, h}, {h, 0}, {2 * h, h}}; break;
      case 22: v = {{0, 0}, {w, w}, {0, 2 * w}}; break;
      default: v = {{0, w}, {w, 0}, {w, 2 * w}}; break;
    }
    Ring r;
    for (const V& p : v) r.push_back({int32_t(p.x), int32_t(p.y)});
    if (SameVertexSet(r, ring)) return t;
  }
  return -1;
}

bool CTrapezoidUsesWidth(int t) { return t != 20 && t != 21; }
bool CTrapezoidUsesHeight(int t) {
  return !((t >= 16 && t <= 19) || t == 22 || t == 23 || t == 25);
}

enum ShapeRecord { kRectangle, kPolygon, kCTrapezoid, kTrapezoid };

}  // namespace

// --- The file ---------------------------------------------------------------------

void OasisFile::Write() {
  LibDB& lib = *library;
  stream.unit = kUnit;
  stream.PutBlock("%SEMI-OASIS\r\n", 13);
  WriteUnsigned(1);
  WriteString("1.0");
  WriteReal(1e-6 / lib.meterPerUnit);
  WriteUnsigned(1);  // table offsets in END

  writerReferenceNumbers.assign(lib.cells.size(), -1);
  int64_t next = 0;
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    const DBCell* cell = lib.cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    if (cell->name == nullptr) Fail("Cell " + std::to_string(id) + " has no name");
    writerReferenceNumbers[id] = next;
    WriteUnsigned(4);
    WriteString(*cell->name);
    WriteUnsigned(uint64_t(next));
    ++next;
  }
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    if (writerReferenceNumbers[id] < 0) continue;
    WriteUnsigned(13);
    WriteUnsigned(uint64_t(writerReferenceNumbers[id]));
    WriteCellRecord(lib.cells[id]);
  }
  lib.CloseDataFile();

  // END: no name tables, padding to 256 bytes, no validation.
  WriteUnsigned(2);
  for (int i = 0; i < 12; ++i) WriteUnsigned(0);
  WriteString(std::string(240, ' '));
  WriteUnsigned(0);
}

bool OasisFile::WriterKeeps(LayerKey key) const {
  return layerFilter == nullptr || layerFilter->empty() || layerFilter->count(key) != 0;
}

LayerKey OasisFile::WriterKey(LayerKey key) const {
  const std::map<LayerKey, LayerKey>* map = windowMap_ != nullptr ? windowMap_ : layerMap;
  if (map == nullptr) return key;
  auto it = map->find(key);
  return it == map->end() ? key : it->second;
}

void OasisFile::WriteCellRecord(DBCell* cell) {
  ResetModal();
  LibDB& lib = *library;
  if (cell->dbFile == 0 || cell->startPos < 0) return;  // nothing stored
  lib.SeekCellData(cell);
  // The stored record read into a scratch cell: its layers, then its
  // references.
  DBCell scratch;
  scratch.box = cell->box;
  CellRecordReader reader(lib.dbStream, cell->endPos, lib.cells);
  const bool references = reader.ReadLayers(scratch, false);
  for (auto& [key, layer] : scratch.rawLayers) {
    if (!WriterKeeps(key)) continue;
    const LayerKey mapped = WriterKey(key);
    for (CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
      std::vector<Point> at;
      at.reserve(size_t(s->placements.count));
      for (LocListNode* p = s->placements.first; p != nullptr; p = p->next) {
        at.push_back({p->x, p->y});
      }
      if (at.empty()) continue;
      WriteShape(PolygonRing(*s->polygon), int(s->polygon->Kind()), at, mapped, true);
    }
  }
  if (!references) return;
  int32_t previousId = 0;
  Point previousOrigin;
  while (lib.dbStream.Tell() < cell->endPos) {
    std::unique_ptr<SRef> ref = reader.ReadReference(previousId, previousOrigin);
    if (ref == nullptr) continue;
    const int64_t number = size_t(ref->CellId()) < writerReferenceNumbers.size()
                               ? writerReferenceNumbers[size_t(ref->CellId())]
                               : -1;
    if (number < 0) continue;
    WriteReference(*ref, int32_t(number));
  }
}

// --- Records ------------------------------------------------------------------------

void OasisFile::WriteLayerFields(uint8_t& info, LayerKey key) {
  const uint32_t l = uint32_t(LayerOf(key)), d = uint32_t(DatatypeOf(key));
  if (!IsModalSet(kModalLayer) || layer != l) info |= 0x01;
  if (!IsModalSet(kModalDatatype) || datatype != d) info |= 0x02;
}

void OasisFile::WriteXYFields(uint8_t& info, int32_t x, int32_t y) {
  if (x != geometryX) info |= 0x10;
  if (y != geometryY) info |= 0x08;
}

void OasisFile::WriteRepetitionOf(const std::vector<Point>& at, bool repeat) {
  if (repeat && at.size() >= 2) WriteRepetitionList(at);
}

void OasisFile::WriteShape(const Ring& ring, int kind, const std::vector<Point>& at,
                           LayerKey key, bool repeat) {
  const Box b = RingBox(ring);
  const int64_t w = int64_t(b.x2) - b.x1, h = int64_t(b.y2) - b.y1;
  const size_t n = ring.size();
  // Which record.
  bool manhattan = true;
  for (size_t i = 0; i < n; ++i) {
    const Point& p = ring[i];
    const Point& q = ring[(i + 1) % n];
    if (p.x != q.x && p.y != q.y) manhattan = false;
  }
  Ring relative;
  for (const Point& p : ring) relative.push_back({p.x - b.x1, p.y - b.y1});
  ShapeRecord record = kPolygon;
  int ctype = -1;
  int64_t deltaAOut = 0, deltaBOut = 0;
  if (manhattan && n == 4) {
    record = kRectangle;
  } else if (kind == int(PolygonKind::Octangular) && (n == 3 || n == 4) &&
             (ctype = CTrapezoidTypeOf(relative, w, h)) >= 0) {
    record = kCTrapezoid;
  } else if (kind == int(PolygonKind::General) && n == 4) {
    // Two opposite horizontal edges: a horizontal trapezoid.
    for (int first = 0; first < 2; ++first) {
      const Point& a0 = relative[first];
      const Point& a1 = relative[first + 1];
      const Point& c0 = relative[first + 2];
      const Point& c1 = relative[(first + 3) % 4];
      if (a0.y != a1.y || c0.y != c1.y || a0.y == c0.y) continue;
      const bool aLow = a0.y < c0.y;
      const Point& l0 = aLow ? a0 : c0;
      const Point& l1 = aLow ? a1 : c1;
      const Point& u0 = aLow ? c0 : a0;
      const Point& u1 = aLow ? c1 : a1;
      const int64_t llx = std::min(l0.x, l1.x), lrx = std::max(l0.x, l1.x);
      const int64_t ulx = std::min(u0.x, u1.x), urx = std::max(u0.x, u1.x);
      deltaAOut = ulx - llx;
      deltaBOut = urx - lrx;
      record = kTrapezoid;
      break;
    }
  }

  // The record at the first placement: x, y the lower-left corner of the
  // shape's box there (for a polygon, its origin vertex).
  const Point& p0 = at[0];
  const bool withRepetition = repeat && at.size() >= 2;
  std::vector<Point> corners;
  int32_t x, y;
  if (record == kPolygon) {
    x = p0.x;
    y = p0.y;
  } else {
    const int64_t cx = int64_t(p0.x) + b.x1, cy = int64_t(p0.y) + b.y1;
    if (cx < INT32_MIN || cx > INT32_MAX || cy < INT32_MIN || cy > INT32_MAX) {
      Fail("Shape position out of range");
    }
    x = int32_t(cx);
    y = int32_t(cy);
  }
  uint8_t info = 0;
  WriteLayerFields(info, key);
  WriteXYFields(info, x, y);
  if (withRepetition) info |= 0x04;
  const uint32_t l = uint32_t(LayerOf(key)), d = uint32_t(DatatypeOf(key));
  auto layerFields = [&] {
    if (info & 0x01) WriteUnsigned(l);
    if (info & 0x02) WriteUnsigned(d);
    layer = l;
    datatype = d;
    SetModal(kModalLayer);
    SetModal(kModalDatatype);
  };
  auto xyFields = [&] {
    if (info & 0x10) WriteSigned(x);
    if (info & 0x08) WriteSigned(y);
    geometryX = x;
    geometryY = y;
  };
  // Width and height of a rectangle or trapezoid, which are in force after it.
  auto dimensionFields = [&] {
    if (info & 0x40) WriteUnsigned(uint64_t(w));
    if (info & 0x20) WriteUnsigned(uint64_t(h));
    geometryW = w;
    geometryH = h;
    SetModal(kModalGeometryW);
    SetModal(kModalGeometryH);
  };
  const bool wSet = IsModalSet(kModalGeometryW), hSet = IsModalSet(kModalGeometryH);
  switch (record) {
    case kRectangle: {
      const bool square = w == h;
      if (square) info |= 0x80;
      if (!wSet || geometryW != w) info |= 0x40;
      if (!square && (!hSet || geometryH != h)) info |= 0x20;
      WriteUnsigned(20);
      stream.PutChar(info);
      layerFields();
      dimensionFields();
      xyFields();
      break;
    }
    case kCTrapezoid: {
      if (!IsModalSet(kModalCtrapezoidType) || ctrapezoidType != ctype) info |= 0x80;
      if (CTrapezoidUsesWidth(ctype) && (!wSet || geometryW != w)) info |= 0x40;
      if (CTrapezoidUsesHeight(ctype) && (!hSet || geometryH != h)) info |= 0x20;
      WriteUnsigned(26);
      stream.PutChar(info);
      layerFields();
      if (info & 0x80) WriteUnsigned(uint64_t(ctype));
      if (info & 0x40) WriteUnsigned(uint64_t(w));
      if (info & 0x20) WriteUnsigned(uint64_t(h));
      ctrapezoidType = ctype;
      SetModal(kModalCtrapezoidType);
      if (info & 0x40) geometryW = w;
      if (info & 0x20) geometryH = h;
      xyFields();
      // Readers differ in what a type with an implied dimension leaves in
      // geometry-w and geometry-h: the next record gives both again.
      if ((ctype >= 16 && ctype <= 23) || ctype == 25) {
        modalSet &= ~uint32_t(kModalGeometryW | kModalGeometryH);
      }
      break;
    }
    case kTrapezoid: {
      if (!wSet || geometryW != w) info |= 0x40;
      if (!hSet || geometryH != h) info |= 0x20;
      const uint64_t id = deltaBOut == 0 ? 24 : (deltaAOut == 0 ? 25 : 23);
      WriteUnsigned(id);
      stream.PutChar(info);
      layerFields();
      dimensionFields();
      if (id != 25) WriteSigned(deltaAOut);
      if (id != 24) WriteSigned(deltaBOut);
      xyFields();
      break;
    }
    default: {
      info |= 0x20;
      WriteUnsigned(21);
      stream.PutChar(info);
      layerFields();
      // The point list from the origin vertex.
      bool alternating = n % 2 == 0 && n >= 4;
      for (size_t i = 0; alternating && i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const bool horizontal = p.y == q.y && p.x != q.x;
        const bool vertical = p.x == q.x && p.y != q.y;
        if (!(i % 2 == 0 ? horizontal : vertical)) alternating = false;
      }
      if (alternating) {
        WriteUnsigned(0);
        WriteUnsigned(n - 2);
        for (size_t i = 1; i + 1 < n; ++i) {
          const OasisDelta dd{int64_t(ring[i].x) - ring[i - 1].x,
                              int64_t(ring[i].y) - ring[i - 1].y};
          WriteDelta1(dd, i % 2 == 0);
        }
      } else {
        WriteUnsigned(kind == int(PolygonKind::Octangular) ? 3 : 4);
        WriteUnsigned(n - 1);
        for (size_t i = 1; i < n; ++i) {
          const OasisDelta dd{int64_t(ring[i].x) - ring[i - 1].x,
                              int64_t(ring[i].y) - ring[i - 1].y};
          if (kind == int(PolygonKind::Octangular)) {
            WriteDelta3(dd);
          } else {
            WriteDeltaG(dd);
          }
        }
      }
      xyFields();
      break;
    }
  }
  WriteRepetitionOf(at, repeat);
}

void OasisFile::WriteReference(const SRef& ref, int32_t number) {
  const bool magnified = std::fabs(double(ref.mag) - 1.0) > 0x1p-23;
  const int o = ref.orientation & 7;
  int32_t x = ref.x, y = ref.y;
  // Elements along x and y with their steps.
  int64_t nx = 1, ny = 1, sx = 0, sy = 0;
  if (ref.IsArray()) {
    const ARef& a = static_cast<const ARef&>(ref);
    if (a.columns < 1 || a.rows < 1) return;  // no element
    const bool odd = (o & 1) != 0;
    nx = odd ? a.rows : a.columns;
    ny = odd ? a.columns : a.rows;
    sx = a.columnPitch;
    sy = a.rowPitch;
    if (nx == 1) sx = 0;
    if (ny == 1) sy = 0;
    // Negative pitches: the same elements from the lowest one.
    if (sx < 0) {
      const int64_t v = x + (nx - 1) * sx;
      if (v < INT32_MIN) Fail("Array element out of range");
      x = int32_t(v);
      sx = -sx;
    }
    if (sy < 0) {
      const int64_t v = y + (ny - 1) * sy;
      if (v < INT32_MIN) Fail("Array element out of range");
      y = int32_t(v);
      sy = -sy;
    }
  }
  const bool repeated = nx > 1 || ny > 1;
  uint8_t info = 0xc0;  // C N
  if (x != placementX) info |= 0x20;
  if (y != placementY) info |= 0x10;
  if (repeated) info |= 0x08;
  if (o >= 4) info |= 0x01;
  static constexpr int kQuarter[8] = {0, 1, 2, 3, 2, 3, 0, 1};
  const int quarter = kQuarter[o];
  if (magnified) {
    info |= 0x04;
    if (quarter != 0) info |= 0x02;
    WriteUnsigned(18);
  } else {
    info |= uint8_t(quarter << 1);
    WriteUnsigned(17);
  }
  stream.PutChar(info);
  WriteUnsigned(uint64_t(number));
  if (magnified) {
    WriteReal(double(ref.mag));
    if (quarter != 0) WriteReal(90.0 * quarter);
  }
  if (info & 0x20) WriteSigned(x);
  if (info & 0x10) WriteSigned(y);
  placementX = x;
  placementY = y;
  if (repeated) {
    if (ny == 1) {
      WriteUnsigned(2);
      WriteUnsigned(uint64_t(nx - 2));
      WriteUnsigned(uint64_t(sx));
    } else if (nx == 1) {
      WriteUnsigned(3);
      WriteUnsigned(uint64_t(ny - 2));
      WriteUnsigned(uint64_t(sy));
    } else {
      WriteUnsigned(1);
      WriteUnsigned(uint64_t(nx - 2));
      WriteUnsigned(uint64_t(ny - 2));
      WriteUnsigned(uint64_t(sx));
      WriteUnsigned(uint64_t(sy));
    }
  }
}

// --- The window writer ------------------------------------------------------------------

void OasisFile::WriteCellWindow(DBCell* cell, const Box& window, const LayerKeySet& filter,
                                const std::map<LayerKey, LayerKey>& map) {
  ResetModal();
  windowMap_ = &map;
  const std::set<int32_t>* savedFilter = layerFilter;
  layerFilter = &filter;
  struct Restore {
    OasisFile* f;
    const std::set<int32_t>* filter;
    ~Restore() {
      f->windowMap_ = nullptr;
      f->layerFilter = filter;
    }
  } restore{this, savedFilter};
  const LibDB& lib = *library;
  auto childBox = [&](const SRef& ref, Box& box) {
    const int32_t id = ref.CellId();
    if (size_t(id) >= lib.cells.size() || lib.cells[id] == nullptr) return false;
    box = lib.cells[id]->box;
    return box.IsValid();
  };
  auto number = [&](const SRef& ref) -> int32_t {
    const int32_t id = ref.CellId();
    if (size_t(id) < writerReferenceNumbers.size() && writerReferenceNumbers[id] >= 0) {
      return int32_t(writerReferenceNumbers[id]);
    }
    return id;
  };
  const bool whole = cell->box.x1 >= window.x1 && cell->box.y1 >= window.y1 &&
                     cell->box.x2 <= window.x2 && cell->box.y2 <= window.y2;
  if (whole) {
    for (auto& [key, layer] : cell->rawLayers) {
      if (!WriterKeeps(key)) continue;
      for (CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
        std::vector<Point> at;
        for (LocListNode* p = s->placements.first; p != nullptr; p = p->next) {
          at.push_back({p->x, p->y});
        }
        if (at.empty()) continue;
        WriteShape(PolygonRing(*s->polygon), int(s->polygon->Kind()), at, WriterKey(key), true);
      }
    }
    if (const LayerTree* tree = cell->ReferenceTree()) {
      for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
           n = DBSearchSystem::Next(n)) {
        if (!n->IsData() || n->item == nullptr) continue;
        const SRef& ref = *static_cast<const SRef*>(n->item);
        Box b;
        if (childBox(ref, b)) WriteReference(ref, number(ref));
      }
    }
    return;
  }
  for (auto& [key, tree] : cell->indexedLayers) {
    if (key >= ReferenceKey) break;
    if (!WriterKeeps(key)) continue;
    for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window); n != nullptr;
         n = DBSearchSystem::NextInBox(n, window)) {
      if (!n->IsData() || n->item == nullptr) continue;
      const LocListNode* p = static_cast<const LocListNode*>(n->item);
      const DBPolygon& polygon = *p->owner->polygon;
      const Ring ring = PolygonRing(polygon);
      const Box& ib = n->box;
      bool keep = ib.x1 >= window.x1 && ib.y1 >= window.y1 && ib.x2 <= window.x2 &&
                  ib.y2 <= window.y2;
      if (!keep) {
        PSList list;
        PSPoint* first = nullptr;
        PSPoint* previous = nullptr;
        for (const Point& v : ring) {
          PSPoint* q = PushPoint(list, v.x + p->x, v.y + p->y);
          LinkPoints(previous, q);
          if (first == nullptr) first = q;
          previous = q;
        }
        LinkPoints(previous, first);
        list.ringCount = 1;
        ClipToWindow(list, window, false);
        keep = list.head != nullptr;
        ClearPointList(list);
      }
      if (keep) {
        WriteShape(ring, int(polygon.Kind()), {{p->x, p->y}}, WriterKey(key), false);
      }
    }
  }
  const LayerTree* tree = cell->ReferenceTree();
  if (tree == nullptr) return;
  for (DBSearchNode* n = DBSearchSystem::FirstInBox(*tree, window); n != nullptr;
       n = DBSearchSystem::NextInBox(n, window)) {
    if (!n->IsData() || n->item == nullptr) continue;
    const SRef& ref = *static_cast<const SRef*>(n->item);
    Box child;
    if (!childBox(ref, child)) continue;
    if (!ref.IsArray()) {
      WriteReference(ref, number(ref));
      continue;
    }
    const ARef& a = static_cast<const ARef&>(ref);
    // The elements whose placed child overlaps the window, per index: along
    // each axis the index range is computed from the first element's box
    // and the step, not by visiting the elements.
    Box first = child;
    Trans(a.x, a.y, a.mag, a.orientation).TransformBox(first);
    const bool odd = (a.orientation & 1) != 0;
    // Step of the column index and of the row index along x and y.
    const int64_t cdx = odd ? 0 : a.columnPitch, cdy = odd ? a.rowPitch : 0;
    const int64_t rdx = odd ? a.columnPitch : 0, rdy = odd ? 0 : a.rowPitch;
    // Range of k with lo + k * step < hiW and hi + k * step > loW.
    auto range = [](int64_t lo, int64_t hi, int64_t step, int64_t loW, int64_t hiW,
                    int64_t count, int64_t& k0, int64_t& k1) {
      if (step == 0) {
        if (lo < hiW && hi > loW) {
          k0 = 0;
          k1 = count - 1;
        } else {
          k0 = 1;
          k1 = 0;
        }
        return;
      }
      // For step > 0: k > (loW - hi) / step and k < (hiW - lo) / step.
      auto floorDiv = [](int64_t p, int64_t q) {
        int64_t r = p / q;
        if ((p % q != 0) && ((p < 0) != (q < 0))) --r;
        return r;
      };
      int64_t a0, a1;
      if (step > 0) {
        a0 = floorDiv(loW - hi, step) + 1;
        a1 = -floorDiv(lo - hiW, step) - 1;
      } else {
        a0 = floorDiv(hiW - lo, step) + 1;
        a1 = -floorDiv(hi - loW, step) - 1;
      }
      k0 = std::max<int64_t>(0, a0);
      k1 = std::min<int64_t>(count - 1, a1);
    };
    int64_t c0, c1, r0, r1;
    if (odd) {
      range(first.y1, first.y2, cdy, window.y1, window.y2, a.columns, c0, c1);
      range(first.x1, first.x2, rdx, window.x1, window.x2, a.rows, r0, r1);
    } else {
      range(first.x1, first.x2, cdx, window.x1, window.x2, a.columns, c0, c1);
      range(first.y1, first.y2, rdy, window.y1, window.y2, a.rows, r0, r1);
    }
    if (c0 > c1 || r0 > r1) continue;  // no element overlaps the window
    ARef sub = a;
    sub.x = int32_t(a.x + c0 * cdx + r0 * rdx);
    sub.y = int32_t(a.y + c0 * cdy + r0 * rdy);
    sub.columns = int16_t(c1 - c0 + 1);
    sub.rows = int16_t(r1 - r0 + 1);
    if (sub.columns == 1 && sub.rows == 1) {
      SRef single(sub, a.CellId());
      WriteReference(single, number(ref));
    } else {
      WriteReference(sub, number(ref));
    }
  }
}

void WriteOasisFile(LibDB& lib, const std::string& path, const LayerKeySet* filter,
                    const std::map<LayerKey, LayerKey>* map) {
  OasisFile file;
  file.library = &lib;
  file.layerFilter = filter != nullptr && !filter->empty() ? filter : nullptr;
  file.layerMap = map != nullptr && !map->empty() ? map : nullptr;
  file.OpenOutput(path);
  file.Write();
  file.stream.Close();
}

}  // namespace velmar
