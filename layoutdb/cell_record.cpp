// The cell record reader and writer.

#include "layoutdb/cell_record.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <climits>
#include <cmath>
#include <memory>

#include "foundation/error.h"
#include "foundation/radix_sort.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kIn = "LIBIN";
constexpr const char* kOut = "LIBOUT";

// Flags byte of a reference record.
constexpr uint8_t kOrientationBits = 0x07;
constexpr uint8_t kMagnifiedFlag = 0x08;
constexpr uint8_t kArrayFlag = 0x10;
constexpr uint8_t kSameCellFlag = 0x20;
constexpr uint8_t kUnusedFlags = 0xC0;

// Counts of a record are below 2^31.
constexpr uint32_t kCountLimit = 0x80000000u;
// The smallest shape record: header, one value, placement count, one
// placement (dx, dy).
constexpr int64_t kMinShapeBytes = 8;

[[noreturn]] void ThrowIn(const char* message) { throw Error(message, kIn); }
[[noreturn]] void ThrowOut(const char* message) { throw Error(message, kOut); }

// Chained integers, decoded as BinaryStream encodes them (7 bits per byte,
// low group first, bit 7 = more follows; a signed one keeps its sign in bit
// 0 of the first byte). False when the data end before or inside the
// integer, so that a cut record is reported by what it was reading; an
// encoding longer than five bytes or beyond 32 bits is refused.
[[noreturn]] void ThrowChainedFormat() {
  ThrowIn("Wrong Chained Integer format");
}

inline bool ReadUnsigned(BinaryStream& in, uint32_t& value) {
  uint8_t b;
  if (!in.GetChar(b)) return false;
  uint32_t v = b & 0x7fu;
  for (int shift = 7; b & 0x80; shift += 7) {
    if (shift > 28) ThrowChainedFormat();
    if (!in.GetChar(b)) return false;
    if (shift == 28 && (b & 0xf0)) ThrowChainedFormat();
    v |= uint32_t(b & 0x7f) << shift;
  }
  value = v;
  return true;
}

inline bool ReadSigned(BinaryStream& in, int32_t& value) {
  uint8_t b;
  if (!in.GetChar(b)) return false;
  const bool negative = b & 1;
  uint32_t magnitude = (b >> 1) & 0x3fu;
  for (int shift = 6; b & 0x80; shift += 7) {
    if (shift > 27) ThrowChainedFormat();
    if (!in.GetChar(b)) return false;
    if (shift == 27 && (b & 0xe0)) ThrowChainedFormat();
    magnitude |= uint32_t(b & 0x7f) << shift;
  }
  value = negative ? int32_t(0u - magnitude) : int32_t(magnitude);
  return true;
}

inline uint32_t Unsigned(BinaryStream& in, const char* missing) {
  uint32_t v;
  if (!ReadUnsigned(in, v)) ThrowIn(missing);
  return v;
}

inline int32_t Signed(BinaryStream& in, const char* missing) {
  int32_t v;
  if (!ReadSigned(in, v)) ThrowIn(missing);
  return v;
}

// Placement and reference origins are stored as differences modulo 2^32,
// so origins more than 2^31 apart are kept exactly.
inline int32_t AddWrapped(int32_t a, int32_t d) {
  return int32_t(uint32_t(a) + uint32_t(d));
}
inline int32_t SubWrapped(int32_t a, int32_t b) {
  return int32_t(uint32_t(a) - uint32_t(b));
}

// A polygon header that describes a ring: a square, a rectangle, a
// manhattan polygon of an even count of at least 6 vertices, or an
// octangular or general one of at least 3.
bool ValidPolygonHeader(uint32_t header) {
  if (header == DBPolygon::kSquareHeader ||
      header == DBPolygon::kRectangleHeader)
    return true;
  const uint32_t n = header & DBPolygon::kCountMask;
  if (DBPolygon::Kind(header) == PolygonKind::Manhattan)
    return n >= 6 && n % 2 == 0;
  return n >= 3;
}

bool ValidMagnification(float mag) { return std::isfinite(mag) && mag > 0; }

// A square or rectangle runs counter-clockwise from its lower-left corner:
// its side values are never negative (a negative one would make a
// clockwise ring, a hole without an outline).
bool ValidBoxValues(const DBPolygon& polygon) {
  if (!polygon.IsSquare() && !polygon.IsRectangle()) return true;
  for (int32_t v : polygon.values)
    if (v < 0) return false;
  return true;
}

// One polygon record from the stream position.
std::unique_ptr<DBPolygon> ReadPolygonRecord(BinaryStream& in) {
  int32_t word;
  if (!in.GetInt32(word)) ThrowIn("Insufficient Polygon Data");
  const uint32_t header = uint32_t(word);
  if (!ValidPolygonHeader(header)) ThrowIn("Wrong polygon format");
  std::unique_ptr<DBPolygon> polygon = DBPolygon::New(header);
  const int32_t words = DBPolygon::CodeWordCount(header);
  if (words > 0) {
    // New makes a DBPolygonExt whenever the header calls for code words.
    uint32_t* codes = static_cast<DBPolygonExt*>(polygon.get())->codeBits;
    for (int32_t i = 0; i < words; ++i) {
      if (!in.GetInt32(word)) ThrowIn("Insufficient Polygon Data");
      codes[i] = uint32_t(word);
    }
  }
  // At most two values per vertex: the header bounds the allocation.
  polygon->values.resize(size_t(polygon->CountValues()));
  for (int32_t& v : polygon->values)
    if (!ReadSigned(in, v)) ThrowIn("Insufficient Polygon Data");
  if (!ValidBoxValues(*polygon)) ThrowIn("Wrong polygon format");
  return polygon;
}

// The shapes of one layer block, after its layer word and datatype byte:
// each polygon goes to onShape, then each of its placements to
// onPlacement(x, y).
template <typename OnShape, typename OnPlacement>
void ReadBlockShapes(BinaryStream& in, int64_t end, OnShape onShape,
                     OnPlacement onPlacement) {
  const uint32_t shapes = Unsigned(in, "Insufficient Cell Data");
  if (shapes == 0 || shapes >= kCountLimit ||
      int64_t(shapes) * kMinShapeBytes > end - in.Tell())
    ThrowIn("Wrong layer format");
  for (uint32_t s = 0; s < shapes; ++s) {
    if (in.Tell() >= end) ThrowIn("Insufficient Cell Data");
    onShape(ReadPolygonRecord(in));
    const uint32_t count = Unsigned(in, "Insufficient Cell Data");
    // Every placement takes at least two bytes.
    if (count == 0 || count >= kCountLimit ||
        int64_t(count) * 2 > end - in.Tell())
      ThrowIn("Wrong format");
    int32_t x = 0, y = 0;
    for (uint32_t i = 0; i < count; ++i) {
      int32_t dx, dy;
      if (!ReadSigned(in, dx) || !ReadSigned(in, dy))
        ThrowIn("Insufficient Cell Data");
      x = AddWrapped(x, dx);
      y = AddWrapped(y, dy);
      onPlacement(x, y);
    }
  }
}

}  // namespace

int32_t StoredPosition(int64_t position, const char* unit) {
  if (position < 0 || position > INT32_MAX)
    throw Error("Cell file position invalid", unit);
  return int32_t(position);
}

// ---------------------------------------------------------------------------
// Reading

std::unique_ptr<DBPolygon> CellRecordReader::ReadPolygon() {
  return ReadPolygonRecord(in_);
}

std::unique_ptr<SRef> CellRecordReader::ReadReference(int32_t& previousId,
                                                      Point& previousOrigin) {
  BinaryStream& in = in_;
  uint8_t flags;
  if (!in.GetChar(flags)) ThrowIn("Insufficient Reference Data");
  if (flags & kUnusedFlags) ThrowIn("Wrong reference format");
  uint32_t id;
  if (flags & kSameCellFlag) {
    id = uint32_t(previousId);
  } else {
    id = Unsigned(in, "Insufficient Reference Data");
    previousId = int32_t(id);
  }
  if (id >= cells_.size()) ThrowIn("Cell id invalid");
  float mag = 1.0f;
  if (flags & kMagnifiedFlag) {
    if (!in.GetFloat(mag)) ThrowIn("Insufficient Reference Data");
    if (!ValidMagnification(mag)) ThrowIn("Wrong reference format");
  }
  const int32_t dx = Signed(in, "Insufficient Reference Data");
  const int32_t dy = Signed(in, "Insufficient Reference Data");
  previousOrigin.x = AddWrapped(previousOrigin.x, dx);
  previousOrigin.y = AddWrapped(previousOrigin.y, dy);
  uint32_t columns = 1, rows = 1;
  int32_t columnPitch = 0, rowPitch = 0;
  if (flags & kArrayFlag) {
    columns = Unsigned(in, "Insufficient Reference Data");
    rows = Unsigned(in, "Insufficient Reference Data");
    columnPitch = Signed(in, "Insufficient Reference Data");
    rowPitch = Signed(in, "Insufficient Reference Data");
    if (columns < 1 || columns > INT16_MAX || rows < 1 || rows > INT16_MAX)
      ThrowIn("Wrong reference format");
  }
  const DBCell* child = cells_[id];
  if (child == nullptr || !child->box.IsValid()) return nullptr;
  const Trans t(previousOrigin.x, previousOrigin.y, mag,
                uint8_t(flags & kOrientationBits));
  if (flags & kArrayFlag)
    return std::make_unique<ARef>(t, int32_t(id), int16_t(columns),
                                  int16_t(rows), columnPitch, rowPitch);
  return std::make_unique<SRef>(t, int32_t(id));
}

void CellRecordReader::ReadReferences(DBCell& cell) {
  LayerTree& tree = cell.FindOrCreateTree(ReferenceKey, cell.box);
  int32_t previousId = -1;
  Point previousOrigin(0, 0);
  // Every record takes at least three bytes, so the loop ends.
  do {
    std::unique_ptr<SRef> ref = ReadReference(previousId, previousOrigin);
    if (ref == nullptr) continue;
    const Box box = ref->GetBox(cells_[ref->CellId()]->box);
    DBSearchSystem::Insert(tree, box, ref.get());
    ref.release();  // owned by the reference layer now
  } while (in_.Tell() < end_);
  if (in_.Tell() > end_) ThrowIn("Insufficient Reference Data");
}

bool CellRecordReader::ReadLayers(DBCell& cell, bool index) {
  BinaryStream& in = in_;
  const int64_t end = end_;
  while (in.Tell() < end) {
    int16_t word;
    if (!in.GetInt16(word)) ThrowIn("Insufficient Cell Data");
    const uint16_t layer = uint16_t(word);
    if (IsReferenceMarker(layer)) return true;
    if (layer > kMaxStoredLayerWord) ThrowIn("Wrong layer format");
    uint8_t datatype;
    if (!in.GetChar(datatype)) ThrowIn("Insufficient Cell Data");
    const LayerKey key = KeyFromStored(layer, datatype);
    LayerTree* tree = index ? &cell.FindOrCreateTree(key, cell.box) : nullptr;
    RawLayer& raw = cell.FindOrCreateRawLayer(key);
    Box rel;
    CPgonListNode* shape = nullptr;
    ReadBlockShapes(
        in, end,
        [&](std::unique_ptr<DBPolygon> polygon) {
          if (index) rel = polygon->RelativeBox();
          shape = CPgonList::Append(raw, std::move(polygon));
        },
        [&](int32_t x, int32_t y) {
          LocListNode* p = LocList::Append(shape->placements, shape, x, y);
          if (tree != nullptr)
            DBSearchSystem::Insert(*tree, PlacedBox(rel, x, y, kIn), p);
        });
  }
  // A layer block that runs past the record's end is not the cell's.
  if (in.Tell() > end) ThrowIn("Insufficient Cell Data");
  return false;
}

bool CellRecordReader::ReadLayerHead(LayerKey& key) {
  int16_t word;
  if (!in_.GetInt16(word)) ThrowIn("Insufficient Cell Data");
  const uint16_t layer = uint16_t(word);
  if (IsReferenceMarker(layer)) return false;
  if (layer > kMaxStoredLayerWord) ThrowIn("Wrong layer format");
  uint8_t datatype;
  if (!in_.GetChar(datatype)) ThrowIn("Insufficient Cell Data");
  key = KeyFromStored(layer, datatype);
  return true;
}

void CellRecordReader::ReadLayerShapes(ShapeSink& sink) {
  ReadBlockShapes(
      in_, end_,
      [&](std::unique_ptr<DBPolygon> polygon) { sink.Shape(std::move(polygon)); },
      [&](int32_t x, int32_t y) { sink.Placement(x, y); });
  if (in_.Tell() > end_) ThrowIn("Insufficient Cell Data");
}

LayerKey CellRecordReader::ScanLayer(Box& box) {
  int16_t word;
  uint8_t datatype;
  if (!in_.GetInt16(word) || !in_.GetChar(datatype))
    ThrowIn("Insufficient Cell Data");
  const uint16_t layer = uint16_t(word);
  if (layer > kMaxStoredLayerWord) ThrowIn("Wrong layer format");
  Box rel;
  ReadBlockShapes(
      in_, end_,
      [&](std::unique_ptr<DBPolygon> polygon) { rel = polygon->RelativeBox(); },
      [&](int32_t x, int32_t y) { box.Merge(PlacedBox(rel, x, y, kIn)); });
  if (in_.Tell() > end_) ThrowIn("Insufficient Cell Data");
  return KeyFromStored(layer, datatype);
}

// ---------------------------------------------------------------------------
// Writing

void CellRecordWriter::WriteLayer(LayerKey key, const CPgonList& layer) {
  uint32_t count = 0;
  for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
    if (s->placements.count <= 0) continue;
    if (!ValidPolygonHeader(s->polygon->header) || !ValidBoxValues(*s->polygon))
      ThrowOut("Wrong polygon format");
    ++count;
  }
  if (count == 0) return;
  out_.PutInt16(int16_t(StoredLayerWord(key)));
  out_.PutChar(StoredDatatype(key));
  out_.PutUnsignedChained(count);
  for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next)
    if (s->placements.count > 0) CPgonList::WriteShape(*s, out_);
}

void CellRecordWriter::MoveLayer(LayerKey key, CPgonList& layer) {
  if (layer.count == 0) return;
  out_.PutInt16(int16_t(StoredLayerWord(key)));
  out_.PutChar(StoredDatatype(key));
  CPgonList::SortAndMergeEqualShapes(layer);
  out_.PutUnsignedChained(uint32_t(layer.count));
  CPgonListNode* shape = layer.first;
  while (shape != nullptr) {
    CPgonList::WriteShape(*shape, out_);
    shape = CPgonList::Remove(layer, shape);
  }
}

namespace {

// The order of the rectangles of a cell's layer blocks (see
// WriteRectangles). Each field's range in the cell is packed into one radix
// key (field minus its minimum, in as many bits as its range needs); the
// few cells whose ranges need more than 128 bits are sorted by comparison.
void SortRectangles(std::vector<PlacedRectangle>& rectangles) {
  auto before = [](const PlacedRectangle& a, const PlacedRectangle& b) {
    if (a.key != b.key) return a.key < b.key;
    const bool as = a.width == a.height, bs = b.width == b.height;
    if (as != bs) return as;
    if (a.width != b.width) return a.width < b.width;
    if (a.height != b.height) return a.height < b.height;
    if (a.x != b.x) return a.x < b.x;
    return a.y < b.y;
  };
  const size_t n = rectangles.size();
  if (n < 256) {
    std::sort(rectangles.begin(), rectangles.end(), before);
    return;
  }
  struct Range {
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    void Add(int32_t v) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    int Bits() const { return int(std::bit_width(uint32_t(hi) - uint32_t(lo))); }
    RadixKey Offset(int32_t v) const { return uint32_t(v) - uint32_t(lo); }
  };
  Range key, width, height, x, y;
  for (const PlacedRectangle& r : rectangles) {
    key.Add(r.key);
    width.Add(r.width);
    height.Add(r.height);
    x.Add(r.x);
    y.Add(r.y);
  }
  const int kb = key.Bits(), wb = width.Bits(), hb = height.Bits(), xb = x.Bits(), yb = y.Bits();
  const int bits = kb + 1 + wb + hb + xb + yb;
  if (bits > 128) {
    std::sort(rectangles.begin(), rectangles.end(), before);
    return;
  }
  // key, then rectangles after squares, width, height, x, y.
  auto rank = [&](const PlacedRectangle& r) {
    RadixKey k = key.Offset(r.key);
    k = (k << 1) | RadixKey(r.width != r.height);
    k = (k << wb) | width.Offset(r.width);
    k = (k << hb) | height.Offset(r.height);
    k = (k << xb) | x.Offset(r.x);
    return (k << yb) | y.Offset(r.y);
  };
  // Equal keys are equal rectangles: the sort need not be stable.
  RadixSortByKey(rectangles.data(), n, bits, rank, before);
}

}  // namespace

void CellRecordWriter::WriteRectangles(std::vector<PlacedRectangle>& rectangles) {
  // The order of shapes in a layer block: squares (one value) before
  // rectangles (two), then by their values, signed; the placements of one
  // shape by x, then y.
  SortRectangles(rectangles);
  auto sameShape = [](const PlacedRectangle& a, const PlacedRectangle& b) {
    return a.key == b.key && a.width == b.width && a.height == b.height;
  };
  const size_t n = rectangles.size();
  size_t i = 0;
  while (i < n) {
    const LayerKey key = rectangles[i].key;
    size_t end = i;
    uint32_t shapes = 0;
    for (; end < n && rectangles[end].key == key; ++end) {
      if (end == i || !sameShape(rectangles[end - 1], rectangles[end])) ++shapes;
    }
    out_.PutInt16(int16_t(StoredLayerWord(key)));
    out_.PutChar(StoredDatatype(key));
    out_.PutUnsignedChained(shapes);
    while (i < end) {
      const PlacedRectangle& shape = rectangles[i];
      size_t last = i + 1;
      uint32_t placements = 1;
      for (; last < end && sameShape(shape, rectangles[last]); ++last) {
        const PlacedRectangle& p = rectangles[last - 1];
        const PlacedRectangle& q = rectangles[last];
        if (p.x != q.x || p.y != q.y) ++placements;
      }
      if (shape.width == shape.height) {
        out_.PutInt32(int32_t(DBPolygon::kSquareHeader));
        out_.PutSignedChained(shape.width);
      } else {
        out_.PutInt32(int32_t(DBPolygon::kRectangleHeader));
        out_.PutSignedChained(shape.width);
        out_.PutSignedChained(shape.height);
      }
      out_.PutUnsignedChained(placements);
      uint32_t px = 0, py = 0;
      for (size_t k = i; k < last; ++k) {
        const PlacedRectangle& p = rectangles[k];
        if (k > i && p.x == rectangles[k - 1].x && p.y == rectangles[k - 1].y)
          continue;
        // Differences modulo 2^32, as every placement list is stored.
        out_.PutSignedChained(int32_t(uint32_t(p.x) - px));
        out_.PutSignedChained(int32_t(uint32_t(p.y) - py));
        px = uint32_t(p.x);
        py = uint32_t(p.y);
      }
      i = last;
    }
  }
}

void CellRecordWriter::BeginReferences() {
  out_.PutInt16(int16_t(kReferenceMarker));
  previous_ = nullptr;
}

void CellRecordWriter::WriteReference(const SRef& ref) {
  WriteReference(ref, previous_);
}

void CellRecordWriter::WriteReference(const SRef& ref, const SRef*& previous) {
  const int32_t id = ref.CellId();
  if (uint32_t(id) >= cellCount_) ThrowOut("Cell id invalid");
  // Codes above 7 place like code 0; the record has three bits for it.
  uint8_t flags = ref.orientation <= 7 ? ref.orientation : 0;
  const bool magnified = ref.Magnified();
  if (magnified) {
    if (!ValidMagnification(ref.mag)) ThrowOut("Wrong reference format");
    flags |= kMagnifiedFlag;
  }
  const ARef* array =
      ref.IsArray() ? static_cast<const ARef*>(&ref) : nullptr;
  if (array != nullptr) {
    if (array->columns < 1 || array->rows < 1)
      ThrowOut("Wrong reference format");
    flags |= kArrayFlag;
  }
  const bool sameCell = previous != nullptr && previous->CellId() == id;
  if (sameCell) flags |= kSameCellFlag;

  out_.PutChar(flags);
  if (!sameCell) out_.PutUnsignedChained(uint32_t(id));
  if (magnified) out_.PutFloat(ref.mag);
  out_.PutSignedChained(previous ? SubWrapped(ref.x, previous->x) : ref.x);
  out_.PutSignedChained(previous ? SubWrapped(ref.y, previous->y) : ref.y);
  previous = &ref;
  if (array != nullptr) {
    out_.PutUnsignedChained(uint32_t(int32_t(array->columns)));
    out_.PutUnsignedChained(uint32_t(int32_t(array->rows)));
    out_.PutSignedChained(array->columnPitch);
    out_.PutSignedChained(array->rowPitch);
  }
}

}  // namespace velmar
