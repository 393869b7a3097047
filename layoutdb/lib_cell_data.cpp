// Cell data files: reading a cell record into memory, writing one, and
// choosing the data file a cell is appended to.
//
// A cell record is a run of layer blocks (uint16 layer, datatype byte,
// shape count, shapes) followed, when the cell has references, by the
// marker word 0x4000 and the reference records. Counts, values and
// coordinates are chained integers; placements and reference origins are
// stored as differences to the previous one.
//
// Reading trusts nothing: every count, header and flag is checked against
// what a record can hold, and a cell whose record turns out to be truncated
// or corrupt is left as it was before (nothing half-read stays in memory).
// Writing refuses what the reader would refuse, so a record once written can
// always be read back.

#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kIn = "LIBIN";
constexpr const char* kOut = "LIBOUT";

// The layer word that starts the reference section (the layer part of
// ReferenceKey); layer words of layer blocks lie below it.
constexpr uint16_t kReferenceMarker = 0x4000;
constexpr uint16_t kMaxLayerWord = 0x3FFF;

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

// Errors of the layers below mean a damaged data file here: a gzip stream
// that cannot be decompressed ("BinaryIn") or a record that decodes beyond
// the coordinate range ("DB"). They are reported as "LIBIN".
[[noreturn]] void RethrowAsInput(const Error& e) {
  const char* unit = e.Unit();
  if (unit != nullptr &&
      (std::strcmp(unit, "BinaryIn") == 0 || std::strcmp(unit, "DB") == 0))
    throw Error(e.Message(), kIn, e.Code());
  throw e;
}

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

// A file offset as a stored position; every position must fit int32.
int32_t StoredPosition(int64_t position, const char* unit) {
  if (position < 0 || position > INT32_MAX)
    throw Error("Cell file position invalid", unit);
  return int32_t(position);
}

// The positions of a stored record must describe a record: start, the
// reference section (when there is one) and end in this order.
void CheckRecordPositions(const DBCell& cell) {
  if (cell.startPos < 0 || cell.endPos < cell.startPos ||
      (cell.refPos != -1 &&
       (cell.refPos < cell.startPos || cell.refPos >= cell.endPos)))
    ThrowIn("Cell file position invalid");
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

// One reference record; null when it refers to a missing or empty cell.
std::unique_ptr<SRef> ReadReferenceRecord(LibDB& lib, int32_t& previousId,
                                          Point& previousOrigin) {
  BinaryStream& in = lib.dbStream;
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
  if (id >= lib.cells.size()) ThrowIn("Cell id invalid");
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
  const DBCell* child = lib.cells[id];
  if (child == nullptr || !child->box.IsValid()) return nullptr;
  const Trans t(previousOrigin.x, previousOrigin.y, mag,
                uint8_t(flags & kOrientationBits));
  if (flags & kArrayFlag)
    return std::make_unique<ARef>(t, int32_t(id), int16_t(columns),
                                  int16_t(rows), columnPitch, rowPitch);
  return std::make_unique<SRef>(t, int32_t(id));
}

// The layer blocks of a record from the stream position up to the record's
// end; a reference marker hands over to the reference section.
void ReadLayerBlocks(LibDB& lib, DBCell* cell, bool index) {
  BinaryStream& in = lib.dbStream;
  const int64_t end = cell->endPos;
  while (in.Tell() < end) {
    int16_t word;
    if (!in.GetInt16(word)) ThrowIn("Insufficient Cell Data");
    const uint16_t layer = uint16_t(word);
    if (layer == kReferenceMarker) {
      lib.ReadReferences(cell);
      return;
    }
    if (layer > kMaxLayerWord) ThrowIn("Wrong layer format");
    uint8_t datatype;
    if (!in.GetChar(datatype)) ThrowIn("Insufficient Cell Data");
    const LayerKey key = LayerKey(layer) * 256 + datatype;
    LayerTree* tree = index ? &cell->FindOrCreateTree(key, cell->box) : nullptr;
    RawLayer& raw = cell->FindOrCreateRawLayer(key);
    const uint32_t shapes = Unsigned(in, "Insufficient Cell Data");
    if (shapes == 0 || shapes >= kCountLimit ||
        int64_t(shapes) * kMinShapeBytes > end - in.Tell())
      ThrowIn("Wrong layer format");
    for (uint32_t s = 0; s < shapes; ++s) {
      if (in.Tell() >= end) ThrowIn("Insufficient Cell Data");
      std::unique_ptr<DBPolygon> polygon = ReadPolygonRecord(in);
      const Box rel = index ? polygon->RelativeBox() : Box();
      CPgonListNode* shape = CPgonList::Append(raw, std::move(polygon));
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
        LocListNode* p = LocList::Append(shape->placements, shape, x, y);
        if (tree != nullptr) DBSearchSystem::Insert(*tree, PlacedBox(rel, x, y, kIn), p);
      }
    }
  }
  // A layer block that runs past the record's end is not the cell's.
  if (in.Tell() > end) ThrowIn("Insufficient Cell Data");
}

// Writes one layer block: the shapes that have placements (a shape without
// one is nothing to store, and a record must not hold a count of 0).
void WriteLayerBlock(BinaryStream& out, LayerKey key, const CPgonList& layer) {
  uint32_t count = 0;
  for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
    if (s->placements.count <= 0) continue;
    if (!ValidPolygonHeader(s->polygon->header) || !ValidBoxValues(*s->polygon))
      ThrowOut("Wrong polygon format");
    ++count;
  }
  if (count == 0) return;
  out.PutInt16(int16_t(uint16_t(key >> 8)));
  out.PutChar(uint8_t(key & 0xFF));
  out.PutUnsignedChained(count);
  for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next)
    if (s->placements.count > 0) CPgonList::WriteShape(*s, out);
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading

DBPolygon* LibDB::ReadPolygon() {
  try {
    return ReadPolygonRecord(dbStream).release();
  } catch (const Error& e) {
    RethrowAsInput(e);
  }
}

SRef* LibDB::ReadReference(int32_t& previousId, Point& previousOrigin) {
  try {
    return ReadReferenceRecord(*this, previousId, previousOrigin).release();
  } catch (const Error& e) {
    RethrowAsInput(e);
  }
}

void LibDB::ReadReferences(DBCell* cell) {
  try {
    LayerTree& tree = cell->FindOrCreateTree(ReferenceKey, cell->box);
    int32_t previousId = -1;
    Point previousOrigin(0, 0);
    const int64_t end = cell->endPos;
    // Every record takes at least three bytes, so the loop ends.
    do {
      std::unique_ptr<SRef> ref =
          ReadReferenceRecord(*this, previousId, previousOrigin);
      if (ref == nullptr) continue;
      const Box box = ref->GetBox(cells[ref->CellId()]->box);
      DBSearchSystem::Insert(tree, box, ref.get());
      ref.release();  // owned by the reference layer now
    } while (dbStream.Tell() < end);
    if (dbStream.Tell() > end) ThrowIn("Insufficient Reference Data");
  } catch (const Error& e) {
    RethrowAsInput(e);
  }
}

void LibDB::LoadCell(DBCell* cell, bool index) {
  // Loading into a cell that holds contents would double them.
  if (!cell->IsEmpty()) throw Error("Cell is already in memory", kIn);
  try {
    if (cell->dbFile != 0) CheckRecordPositions(*cell);
    SeekCellData(cell);
    ReadLayerBlocks(*this, cell, index);
  } catch (const Error& e) {
    // Nothing half-read stays: the cell holds nothing again. Trees first,
    // their items point into the raw layers.
    cell->indexedLayers.clear();
    cell->rawLayers.clear();
    RethrowAsInput(e);
  }
}

void LibDB::LoadReferences(DBCell* cell) {
  if (cell->refPos < 0) return;
  // References already in the tree stay; only what this call added goes
  // when the section turns out to be corrupt.
  std::unordered_set<void*> kept;
  const bool hadTree = cell->indexedLayers.count(ReferenceKey) != 0;
  if (hadTree) {
    const LayerTree& tree = cell->indexedLayers.at(ReferenceKey);
    for (DBSearchNode* n = DBSearchSystem::First(tree); n != nullptr;
         n = DBSearchSystem::Next(n))
      if (n->IsData()) kept.insert(n->item);
  }
  try {
    CheckRecordPositions(*cell);
    SeekCellData(cell);
    if (dbStream.Tell() != cell->refPos) dbStream.Seek(cell->refPos);
    while (dbStream.Tell() < cell->endPos) {
      int16_t word;
      if (!dbStream.GetInt16(word)) ThrowIn("Insufficient Cell Data");
      if (uint16_t(word) == kReferenceMarker) {
        ReadReferences(cell);
        return;
      }
    }
  } catch (const Error& e) {
    if (!hadTree) {
      cell->indexedLayers.erase(ReferenceKey);  // deletes its references
    } else if (auto it = cell->indexedLayers.find(ReferenceKey);
               it != cell->indexedLayers.end()) {
      LayerTree& tree = it->second;
      for (DBSearchNode* n = DBSearchSystem::First(tree); n != nullptr;) {
        if (n->IsData() && kept.count(n->item) == 0) {
          delete static_cast<SRef*>(n->item);
          n = DBSearchSystem::Remove(tree, n);
        } else {
          n = DBSearchSystem::Next(n);
        }
      }
    }
    RethrowAsInput(e);
  }
}

// ---------------------------------------------------------------------------
// Writing

void LibDB::WriteReference(SRef* ref, SRef*& previous) {
  const int32_t id = ref->CellId();
  if (uint32_t(id) >= cells.size()) ThrowOut("Cell id invalid");
  // Codes above 7 place like code 0; the record has three bits for it.
  uint8_t flags = ref->orientation <= 7 ? ref->orientation : 0;
  const bool magnified = ref->Magnified();
  if (magnified) {
    if (!ValidMagnification(ref->mag)) ThrowOut("Wrong reference format");
    flags |= kMagnifiedFlag;
  }
  const ARef* array = ref->IsArray() ? static_cast<const ARef*>(ref) : nullptr;
  if (array != nullptr) {
    if (array->columns < 1 || array->rows < 1)
      ThrowOut("Wrong reference format");
    flags |= kArrayFlag;
  }
  const bool sameCell = previous != nullptr && previous->CellId() == id;
  if (sameCell) flags |= kSameCellFlag;

  dbStream.PutChar(flags);
  if (!sameCell) dbStream.PutUnsignedChained(uint32_t(id));
  if (magnified) dbStream.PutFloat(ref->mag);
  dbStream.PutSignedChained(previous ? SubWrapped(ref->x, previous->x) : ref->x);
  dbStream.PutSignedChained(previous ? SubWrapped(ref->y, previous->y) : ref->y);
  previous = ref;
  if (array != nullptr) {
    dbStream.PutUnsignedChained(uint32_t(int32_t(array->columns)));
    dbStream.PutUnsignedChained(uint32_t(int32_t(array->rows)));
    dbStream.PutSignedChained(array->columnPitch);
    dbStream.PutSignedChained(array->rowPitch);
  }
}

void LibDB::CloseDataFile() {
  openDb = 0;
  if (dbStream.IsOpen()) dbStream.Close();
}

namespace {

// Makes data file number the library's open file for appending (unless it
// already is), positioned at its end. True when it takes another cell (at
// most the size limit); false when it is full or is a file that cannot be
// appended to (e.g. a gzip file whose last member was cut off): such a file
// keeps its cells and takes no more. A file that does not exist and cannot
// be created throws "LIBOUT".
bool AppendTo(LibDB& lib, uint16_t number, std::set<uint16_t>& fullFiles) {
  if (fullFiles.count(number) != 0) return false;
  if (lib.openDb != number || !lib.dbStream.IsWriting()) {
    lib.CloseDataFile();
    const std::string path = lib.DataFilePath(number);
    BinaryStream& s = lib.dbStream;
    s.path = path;
    s.write = true;
    s.gzip = lib.gz != 0;
    s.openMode = BinaryStream::kAppend;
    s.unit = kOut;
    if (!s.Open()) {
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) {
        fullFiles.insert(number);
        return false;
      }
      throw Error("Cannot open cell data file " + path, kOut);
    }
    lib.openDb = number;
  }
  lib.dbStream.SeekEnd();
  if (lib.dbStream.Tell() <= LibDB::kDataFileLimit) return true;
  fullFiles.insert(number);
  return false;
}

}  // namespace

void LibDB::OpenCellFile(DBCell* cell) {
  // Number 0 means "not stored": the first data file is 1.
  if (writeDb == 0) writeDb = 1;
  const uint16_t own = cell->dbFile != 0 ? cell->dbFile : writeDb;
  uint16_t number = own;
  if (!AppendTo(*this, number, fullDataFiles_)) {
    number = writeDb;
    if (number == own || !AppendTo(*this, number, fullDataFiles_)) {
      // Roll over: the next number that takes the cell. An existing file of
      // that number is appended to, never replaced.
      do {
        if (writeDb == UINT16_MAX)
          ThrowOut("No cell data file number left");
        number = ++writeDb;
      } while (!AppendTo(*this, number, fullDataFiles_));
    }
  }
  pendingRecord_ = PendingRecord{cell, -1, cell->dbFile};
  cell->dbFile = number;
}

void LibDB::WriteCellLayers(DBCell* cell) {
  if (pendingRecord_.cell != cell)
    pendingRecord_ = PendingRecord{cell, -1, cell->dbFile};
  try {
    if (!dbStream.IsWriting()) ThrowOut("Cell data file not open for writing");
    if (cell->dbFile == 0) ThrowOut("Cell file id invalid");
    pendingRecord_.start = StoredPosition(dbStream.Tell(), kOut);
    for (const auto& [key, layer] : cell->rawLayers)
      WriteLayerBlock(dbStream, key, layer);
  } catch (...) {
    cell->dbFile = pendingRecord_.oldFile;
    pendingRecord_ = PendingRecord{};
    throw;
  }
}

void LibDB::WriteCellReferences(DBCell* cell) {
  if (pendingRecord_.cell != cell || pendingRecord_.start < 0)
    ThrowOut("Cell record not started");
  try {
    int32_t refPos = -1;
    DBCell::IndexedLayerMap::iterator it;
    if (cell->HasRefs(it)) {
      // A section holds at least one record: items already freed do not
      // count.
      DBSearchNode* n = DBSearchSystem::First(it->second);
      while (n != nullptr && !(n->IsData() && n->item != nullptr))
        n = DBSearchSystem::Next(n);
      if (n != nullptr) {
        refPos = StoredPosition(dbStream.Tell(), kOut);
        dbStream.PutInt16(int16_t(kReferenceMarker));
        SRef* previous = nullptr;
        for (; n != nullptr; n = DBSearchSystem::Next(n))
          if (n->IsData() && n->item != nullptr)
            WriteReference(static_cast<SRef*>(n->item), previous);
      }
    }
    const int32_t endPos = StoredPosition(dbStream.Tell(), kOut);
    cell->startPos = pendingRecord_.start;
    cell->refPos = refPos;
    cell->endPos = endPos;
    pendingRecord_ = PendingRecord{};
  } catch (...) {
    cell->dbFile = pendingRecord_.oldFile;
    pendingRecord_ = PendingRecord{};
    throw;
  }
}

}  // namespace velmar
