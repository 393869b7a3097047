// Cell data files: reading a cell record into memory, writing one, and
// choosing the data file a cell is appended to. The record itself is read
// and written by CellRecordReader and CellRecordWriter (cell_record.h).
//
// A cell whose record turns out to be truncated or corrupt is left as it
// was before (nothing half-read stays in memory).

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "layoutdb/cell_record.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kIn = "LIBIN";
constexpr const char* kOut = "LIBOUT";

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

// The positions of a stored record must describe a record: start, the
// reference section (when there is one) and end in this order.
void CheckRecordPositions(const DBCell& cell) {
  if (cell.startPos < 0 || cell.endPos < cell.startPos ||
      (cell.refPos != -1 &&
       (cell.refPos < cell.startPos || cell.refPos >= cell.endPos)))
    ThrowIn("Cell file position invalid");
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading

DBPolygon* LibDB::ReadPolygon() {
  try {
    return CellRecordReader(dbStream, 0, cells).ReadPolygon().release();
  } catch (const Error& e) {
    RethrowAsInput(e);
  }
}

SRef* LibDB::ReadReference(int32_t& previousId, Point& previousOrigin) {
  try {
    return CellRecordReader(dbStream, 0, cells)
        .ReadReference(previousId, previousOrigin)
        .release();
  } catch (const Error& e) {
    RethrowAsInput(e);
  }
}

void LibDB::ReadReferences(DBCell* cell) {
  try {
    CellRecordReader(dbStream, cell->endPos, cells).ReadReferences(*cell);
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
    if (CellRecordReader(dbStream, cell->endPos, cells).ReadLayers(*cell, index))
      ReadReferences(cell);
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
      if (IsReferenceMarker(uint16_t(word))) {
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
          delete n->Item<SRef>();
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
  const SRef* last = previous;
  CellRecordWriter(dbStream, cells.size()).WriteReference(*ref, last);
  previous = ref;
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
    if (!lib.OpenDataFileForWriting(number, BinaryStream::kAppend)) {
      const std::string path = lib.DataFilePath(number);
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) {
        fullFiles.insert(number);
        return false;
      }
      throw Error("Cannot open cell data file " + path, kOut);
    }
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
    CellRecordWriter writer(dbStream, cells.size());
    for (const auto& [key, layer] : cell->rawLayers)
      writer.WriteLayer(key, layer);
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
        CellRecordWriter writer(dbStream, cells.size());
        writer.BeginReferences();
        for (; n != nullptr; n = DBSearchSystem::Next(n))
          if (n->IsData() && n->item != nullptr)
            writer.WriteReference(*n->Item<const SRef>());
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

bool LibDB::OpenDataFileForWriting(uint16_t number, int32_t openMode) {
  dbStream.path = DataFilePath(number);
  dbStream.write = true;
  dbStream.gzip = gz != 0;
  dbStream.openMode = openMode;
  dbStream.unit = kOut;
  if (!dbStream.Open()) return false;
  openDb = number;
  return true;
}

void LibDB::MoveRecordToNextDataFile(DBCell* cell) {
  CloseDataFile();
  if (writeDb == UINT16_MAX) ThrowOut("No cell data file number left");
  ++writeDb;
  if (!OpenDataFileForWriting(writeDb, BinaryStream::kAppend))
    throw Error("Cannot open cell data file " + dbStream.path, kOut);
  dbStream.SeekEnd();
  cell->dbFile = writeDb;
}

void LibDB::CopyLayerBlocks(BinaryStream& in, int64_t n,
                            const char* endedEarly) {
  uint8_t block[BinaryStream::kBufferSize];
  while (n > 0) {
    const size_t take = size_t(std::min<int64_t>(n, sizeof block));
    if (in.GetBlock(block, take) != take) throw Error(endedEarly, kIn);
    dbStream.PutBlock(block, take);
    n -= int64_t(take);
  }
}

// ---------------------------------------------------------------------------
// Cell records of the layout readers

bool LibDB::OpenNewDataFile() {
  CloseDataFile();
  struct stat st;
  do {
    if (writeDb == UINT16_MAX) ThrowOut("No cell data file number left");
    ++writeDb;
  } while (::stat(DataFilePath(writeDb).c_str(), &st) == 0);
  return OpenDataFileForWriting(writeDb, 0);
}

void LibDB::BeginReadRecord(DBCell* cell) {
  int64_t position = dbStream.Tell();
  // Roll over to the next data file number. A file of that number that
  // already exists holds other cells: it is appended to, never replaced,
  // and skipped when it is full itself.
  while (position > kDataFileLimit) {
    CloseDataFile();
    if (writeDb == UINT16_MAX) ThrowOut("Too many cell data files");
    writeDb = uint16_t(writeDb + 1);
    if (!OpenDataFileForWriting(writeDb, BinaryStream::kAppend))
      throw Error("Cannot open cell data file " + DataFilePath(writeDb), kOut);
    position = dbStream.Tell();
  }
  cell->dbFile = uint16_t(openDb);
  cell->startPos = StoredPosition(position, kOut);
  cell->refPos = -1;
}

void LibDB::MoveLayersToRecord(DBCell* source) {
  CellRecordWriter writer(dbStream, cells.size());
  for (auto& [key, layer] : source->rawLayers) {
    if (layer.count == 0) continue;
    layers.try_emplace(key);
    writer.MoveLayer(key, layer);
  }
  source->indexedLayers.clear();
  source->rawLayers.clear();
}

void LibDB::MoveRectanglesToRecord(std::vector<PlacedRectangle>& rectangles) {
  if (rectangles.empty()) return;
  CellRecordWriter writer(dbStream, cells.size());
  writer.WriteRectangles(rectangles);
  LayerKey previous = NoLayerKey;
  for (const PlacedRectangle& r : rectangles) {
    if (r.key != previous) layers.try_emplace(r.key);
    previous = r.key;
  }
  rectangles.clear();
}

void LibDB::WriteReadReferences(DBCell* cell, const std::vector<ARef>& refs) {
  if (refs.empty()) return;
  cell->refPos = StoredPosition(dbStream.Tell(), kOut);
  CellRecordWriter writer(dbStream, cells.size());
  writer.BeginReferences();
  for (const ARef& ref : refs) writer.WriteReference(ref);
}

void LibDB::EndReadRecord(DBCell* cell) {
  cell->endPos = StoredPosition(dbStream.Tell(), kOut);
}

}  // namespace velmar
