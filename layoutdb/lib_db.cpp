// The library object: construction, destruction, name lookups and the
// positioning of the cell data stream on a cell's stored record.

#include "layoutdb/lib_db.h"

#include <cmath>
#include <string>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/load_checkpoint.h"

namespace velmar {

double SnapUnit(double value) {
  static constexpr double kCandidates[] = {1.0, 10.0, 0.1, 2.0, 0.5};
  static constexpr double kTolerance = 1.1920928955078125e-07;  // 2^-23
  for (double candidate : kCandidates)
    if (std::fabs(value - candidate) <= kTolerance) return candidate;
  return value;
}

LibDB::LibDB(const char* path, int gzFlag)
    : dirPath(path != nullptr ? path : ""), gz(gzFlag) {
  cells.reserve(10000);
}

LibDB::~LibDB() {
  if (openDb != 0) {
    // Bytes already handed to a data file still reach it; a failure cannot
    // be reported from here.
    try {
      dbStream.Close();
    } catch (const Error&) {
    }
    openDb = 0;
  }
  // A cell frees its reference objects, trees and shapes with itself.
  cells.clear();
  cellDefs.clear();
}

int32_t LibDB::FindCellId(const std::string& name) const {
  auto it = cellIds.find(name);
  return it == cellIds.end() ? -1 : it->second;
}

DBCell* LibDB::FindCell(const std::string& name) const {
  int32_t id = FindCellId(name);
  if (id < 0 || static_cast<size_t>(id) >= cells.size()) return nullptr;
  return cells[id];
}

std::string LibDB::DataFilePath(uint16_t number) const {
  std::string path = dirPath + "/db" + std::to_string(number);
  if (gz) path += ".gz";
  return path;
}

void LibDB::ReadTables() {
  if (!HasFlags(InfoRead)) ReadInfo();
  if (!HasFlags(NamesRead)) ReadNames();
}

bool LibDB::AddLayerKey(LayerKey key) {
  if (!layers.try_emplace(key).second) return false;
  flags |= InfoDirty;
  return true;
}

void LibDB::SeekCellData(DBCell* cell) {
  if (cell->dbFile == 0) throw Error("Cell file id invalid", "LIBIN");
  // A file open for appending is reopened for reading: its buffered bytes
  // must reach the file before they are read back.
  if (openDb != cell->dbFile || dbStream.IsWriting()) {
    if (openDb != 0) {
      openDb = 0;
      dbStream.Close();
    }
    const std::string path = DataFilePath(cell->dbFile);
    dbStream.path = path;
    dbStream.write = false;
    dbStream.gzip = gz != 0;
    dbStream.openMode = 0;
    dbStream.unit = "LIBOUT";
    if (!dbStream.Open())
      throw Error("Cannot open cell data file " + path, "LIBIN");
    openDb = cell->dbFile;
  }
  if (dbStream.Tell() != cell->startPos) {
    try {
      dbStream.Seek(cell->startPos);
    } catch (const Error& e) {
      throw Error(std::string("Cell data position invalid: ") + e.Message(),
                  "LIBIN");
    }
  }
}

}  // namespace velmar
