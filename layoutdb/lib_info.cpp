// The library's binary index "info" and its option file "opt".
//
// "info" (little-endian, no padding):
//   uint16 version, double metres per unit, uint16 write file number,
//   int32 depth, int32 R, R root ids, int32 L, L layer keys, int32 N,
//   N cell records of 30 bytes: box x1 y1 x2 y2 (int32), data file number
//   (uint16), start, reference and end positions (int32).
// A cell without stored data is written as 30 zero bytes.

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "layoutdb/atomic_file.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

constexpr int32_t kCellRecordSize = 30;

// Everything "info" holds, read completely before any of it enters the
// library, so that a damaged file leaves the library as it was.
struct InfoContent {
  uint16_t version = 0;
  double meterPerUnit = 0;
  uint16_t writeDb = 0;
  int32_t depth = 0;
  std::vector<int32_t> roots;
  std::vector<uint32_t> layerKeys;
  std::vector<std::unique_ptr<DBCell>> cells;
};

// Records reserved ahead at most for a file whose size is unknown (a
// compressed file's uncompressed size): beyond it, its vectors grow as the
// records actually arrive.
constexpr int64_t kUnknownSizeReserve = 1 << 20;

// Room to reserve for count records of recordSize bytes: never more than the
// rest of a plain file can hold, nor more than kUnknownSizeReserve when the
// size is unknown, so that a damaged count cannot cause a huge allocation.
size_t SafeReserve(BinaryStream& in, int64_t count, int64_t recordSize,
                   int64_t cap) {
  int64_t n = std::min(count, cap);
  if (!in.gzip && in.fileSize > 0) {
    int64_t left = in.fileSize - in.Tell();
    n = std::min(n, std::max<int64_t>(left, 0) / recordSize);
  } else {
    n = std::min(n, kUnknownSizeReserve);
  }
  return static_cast<size_t>(std::max<int64_t>(n, 0));
}

void ReadInfoContent(BinaryStream& in, InfoContent& info, bool hadCells) {
  int16_t word = 0;
  if (!in.GetInt16(word)) throw Error("Insufficient info", "LIBIN");
  info.version = static_cast<uint16_t>(word);
  // The unit must be a positive finite length: every conversion between
  // nanometres and database units divides by it.
  if (!in.Get8Bytes(info.meterPerUnit) || !std::isfinite(info.meterPerUnit) ||
      info.meterPerUnit <= 0)
    throw Error("Insufficient info", "LIBIN");
  if (!in.GetInt16(word)) throw Error("Insufficient info", "LIBIN");
  info.writeDb = static_cast<uint16_t>(word);
  if (!in.GetInt32(info.depth)) throw Error("Insufficient info", "LIBIN");

  // Roots. A library without cells has no root; that is checked once the
  // cell count is known.
  int32_t rootCount = 0;
  if (!in.GetInt32(rootCount) || rootCount < 0)
    throw Error("Insufficient root info", "LIBIN");
  info.roots.reserve(SafeReserve(in, rootCount, 4, 1 << 20));
  for (int32_t i = 0; i < rootCount; ++i) {
    int32_t id = 0;
    if (!in.GetInt32(id)) throw Error("Insufficient root info", "LIBIN");
    info.roots.push_back(id);
  }

  int32_t layerCount = 0;
  if (!in.GetInt32(layerCount) || layerCount < 0)
    throw Error("Insufficient layer info", "LIBIN");
  info.layerKeys.reserve(SafeReserve(in, layerCount, 4, 1 << 20));
  for (int32_t i = 0; i < layerCount; ++i) {
    uint32_t key = 0;
    if (!in.Get4Bytes(key)) throw Error("Insufficient layer info", "LIBIN");
    info.layerKeys.push_back(key);
  }

  int32_t cellCount = 0;
  if (!in.GetInt32(cellCount) || cellCount < 0)
    throw Error("Insufficient cell info", "LIBIN");
  if (rootCount == 0 && cellCount != 0)
    throw Error("Insufficient root info", "LIBIN");
  for (int32_t id : info.roots)
    if (id < 0 || id >= cellCount) throw Error("Insufficient root info", "LIBIN");
  PrintMessage("DB unit=%e meter, ncell=%d\n", info.meterPerUnit, cellCount);
  // The cells are added to a library that has none.
  if (hadCells) throw Error("Insufficient cell info", "LIBIN");

  info.cells.reserve(
      std::max<size_t>(10000, SafeReserve(in, cellCount, kCellRecordSize,
                                          INT32_MAX)));
  for (int32_t i = 0; i < cellCount; ++i) {
    auto cell = std::make_unique<DBCell>();
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, start = 0, ref = 0, end = 0;
    int16_t file = 0;
    bool ok = in.GetInt32(x1) && in.GetInt32(y1) && in.GetInt32(x2) &&
              in.GetInt32(y2) && in.GetInt16(file) && in.GetInt32(start) &&
              in.GetInt32(ref) && in.GetInt32(end);
    if (!ok) {
      PrintMessage("Stop at %d-th cell\n", i + 1);
      throw Error("Insufficient cell info", "LIBIN");
    }
    cell->box = Box(x1, y1, x2, y2);
    cell->dbFile = static_cast<uint16_t>(file);
    cell->startPos = start;
    cell->refPos = ref;
    cell->endPos = end;
    // Stored positions must describe one record inside its file: a damaged
    // record would otherwise send the cell loader to arbitrary offsets.
    if (cell->dbFile != 0 &&
        (start < 0 || end < start ||
         (ref != -1 && (ref < start || ref > end)))) {
      PrintMessage("Stop at %d-th cell\n", i + 1);
      throw Error("Insufficient cell info", "LIBIN");
    }
    if (cell->box.IsValid() && cell->refPos == -1) cell->flags |= DBCell::Leaf;
    info.cells.push_back(std::move(cell));
  }
}

}  // namespace

void LibDB::ReadInfo() {
  std::string path = dirPath + "/info";
  BinaryStream in;
  in.path = gz ? path + ".gz" : path;
  in.write = false;
  in.gzip = gz != 0;
  if (!in.Open()) {
    if (gz != 0) throw Error("Cannot open file info", "LIBIN");
    // A library opened uncompressed whose directory holds only the
    // compressed index: it is a compressed library, data files included.
    in.path = path + ".gz";
    in.gzip = true;
    if (!in.Open()) throw Error("Cannot open file info", "LIBIN");
    gz = 1;
  }

  InfoContent info;
  try {
    ReadInfoContent(in, info, !cells.empty());
  } catch (const Error& e) {
    in.Close();
    // Damaged data (an I/O error, corrupt gzip data) is reported like a
    // short file.
    if (e.Unit() != nullptr && std::string(e.Unit()) == "LIBIN") throw;
    throw Error(std::string("Insufficient info: ") + e.Message(), "LIBIN");
  }
  in.Close();

  // The whole file was read: it enters the library.
  version = info.version;
  meterPerUnit = info.meterPerUnit;
  writeDb = info.writeDb;
  depth = info.depth;
  unitPerNm = SnapUnit(1e-9 / meterPerUnit);
  roots.insert(roots.end(), info.roots.begin(), info.roots.end());
  for (uint32_t key : info.layerKeys) layers.emplace(LayerKey(key), LayerInfo());
  cells.reserve(std::max<size_t>(10000, info.cells.size()));
  for (auto& cell : info.cells) cells.push_back(std::move(cell));
  flags |= InfoRead;
}

void LibDB::WriteInfo() {
  NoteIndexWrite();
  std::string path = dirPath + (gz ? "/info.gz" : "/info");
  AtomicFile file(path, "LIBOUT", "Cannot open file info");
  file.CloseDescriptor();

  std::vector<int32_t> rootIds = roots;
  if (rootIds.empty() && !cells.empty()) rootIds.push_back(0);

  // Layer keys up to the first whose layer number (bits 8-23 read as a
  // signed 16-bit value) passes 511.
  std::vector<uint32_t> keys;
  for (const auto& entry : layers) {
    if (static_cast<int16_t>(StoredLayerWord(entry.first)) > 511) break;
    keys.push_back(uint32_t(entry.first));
  }

  int32_t emptyCount = 0;
  {
    BinaryStream out;
    out.path = file.TempPath();
    out.write = true;
    out.gzip = gz != 0;
    out.unit = "LIBOUT";
    if (!out.Open()) throw Error("Cannot open file info", "LIBOUT");
    out.PutInt16(static_cast<int16_t>(version));
    out.Put8Bytes(meterPerUnit);
    out.PutInt16(static_cast<int16_t>(writeDb));
    out.PutInt32(depth);
    out.PutInt32(static_cast<int32_t>(rootIds.size()));
    for (int32_t id : rootIds) out.PutInt32(id);
    out.PutInt32(static_cast<int32_t>(keys.size()));
    for (uint32_t key : keys) out.Put4Bytes(key);
    out.PutInt32(static_cast<int32_t>(cells.size()));
    static const uint8_t kZeros[kCellRecordSize] = {};
    for (const DBCell* cell : cells) {
      if (cell != nullptr && cell->box.IsValid() && cell->dbFile != 0 &&
          cell->startPos >= 0) {
        out.PutInt32(cell->box.x1);
        out.PutInt32(cell->box.y1);
        out.PutInt32(cell->box.x2);
        out.PutInt32(cell->box.y2);
        out.PutInt16(static_cast<int16_t>(cell->dbFile));
        out.PutInt32(cell->startPos);
        out.PutInt32(cell->refPos);
        out.PutInt32(cell->endPos);
      } else {
        out.PutBlock(kZeros, kCellRecordSize);
        ++emptyCount;
      }
    }
    out.Close();
  }
  file.Commit("Cannot write file info");

  // The new index is in place; bring the cells in line with it.
  roots = std::move(rootIds);
  for (DBCell* cell : cells) {
    if (cell == nullptr) continue;
    if (cell->box.IsValid() && cell->dbFile != 0 && cell->startPos >= 0) {
      if (cell->refPos == -1) cell->flags |= DBCell::Leaf;
    } else if ((cell->flags & DBCell::Modified) == 0) {
      // Nothing stored and nothing unsaved: the cell is empty. A modified
      // cell keeps its box until its data are stored.
      cell->box.SetEmpty();
    }
  }
  if (emptyCount != 0) PrintMessage("Warning: %d empty cells exist\n", emptyCount);
  flags &= ~InfoDirty;
  flags |= InfoRead;
}

void LibDB::ReadOptions() {
  std::ifstream in(dirPath + "/opt");
  if (!in.is_open()) return;
  std::string word;
  while (in >> word)
    if (word == "MAGNIFIED") magnified = 1;
}

void LibDB::WriteOptions() {
  std::string path = dirPath + "/opt";
  std::unique_ptr<AtomicFile> file;
  try {
    file = std::make_unique<AtomicFile>(path, "LIBOUT", "Cannot open file opt");
  } catch (const Error&) {
    PrintMessage("Error: Output file %s could not be opened !\n", path.c_str());
    return;
  }
  if (magnified != 0) file->Write("MAGNIFIED");
  file->Commit("Cannot write file opt");
}

}  // namespace velmar
