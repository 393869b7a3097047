// Layout loads that change a library only when they complete: the state
// before a load, the clearing of redefined cells, the rollback, and the
// database unit a file must share with a library that holds cells.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/load_checkpoint.h"

namespace velmar {

namespace {

// Two database units are the same when they agree to nine digits: the
// 8-byte reals of the layout files and the stored double differ in their
// last bits for the same unit, while real units differ by far more.
bool SameUnit(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

// The definition of cell id, or -1.
int32_t DefinitionIndex(const LibDB& lib, int32_t id) {
  return lib.DefinitionOf(id) != nullptr ? lib.cellDefIndex[size_t(id)] : -1;
}

}  // namespace

bool LibDB::HoldsCells() const {
  return std::any_of(cells.begin(), cells.end(),
                     [](const DBCell* c) { return c != nullptr; });
}

void LibDB::TakeFileUnits(double userUnits, double meters, const char* unitTag) {
  if (HoldsCells() && !SameUnit(meters, meterPerUnit)) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "Database unit %e differs from the library's %e", meters,
                  meterPerUnit);
    throw Error(message, unitTag);
  }
  userUnit = userUnits;
  meterPerUnit = meters;
  unitPerNm = SnapUnit(1e-9 / meters);
}

void LibDB::BeginLoad() {
  if (load_ != nullptr) throw Error("A layout load is already in progress", "DB");
  auto cp = std::make_unique<LoadCheckpoint>();
  cp->libName = libName;
  cp->version = version;
  cp->writeDb = writeDb;
  cp->flags = flags;
  cp->userUnit = userUnit;
  cp->userUnitFromGds = userUnitFromGds;
  cp->meterPerUnit = meterPerUnit;
  cp->unitPerNm = unitPerNm;
  cp->magnified = magnified;
  cp->depth = depth;
  cp->hierChanged = hierChanged;

  cp->cellCount = cells.size();
  cp->cellStates.resize(cells.size());
  bool anyRemoved = false;
  for (size_t id = 0; id < cells.size(); ++id) {
    const DBCell* cell = cells[id];
    if (cell == nullptr) {
      anyRemoved = true;
      continue;
    }
    LoadCheckpoint::CellState& s = cp->cellStates[id];
    s.flags = cell->flags;
    s.dbFile = cell->dbFile;
    s.startPos = cell->startPos;
    s.refPos = cell->refPos;
    s.endPos = cell->endPos;
    s.box = cell->box;
  }
  if (anyRemoved) {
    for (const auto& [name, id] : cellIds) {
      if (id >= 0 && size_t(id) < cells.size() && cells[size_t(id)] == nullptr)
        cp->removedCellNames.emplace_back(name, id);
    }
  }

  cp->roots = roots;
  cp->hierRecords = hierRecords;
  cp->cellOrder = cellOrder;
  cp->layers = layers;
  cp->definitionCount = cellDefs.size();
  cp->cellDefIndex = cellDefIndex;
  cp->isSetAside.assign(cells.size(), 0);
  load_ = std::move(cp);
}

void LibDB::CommitLoad() { load_.reset(); }

void LibDB::NoteIndexWrite() {
  if (load_ != nullptr) load_->indexWritten = true;
}

void LibDB::ClearForRedefinition(int32_t id) {
  if (id < 0 || size_t(id) >= cells.size() || cells[size_t(id)] == nullptr) return;
  DBCell* cell = cells[size_t(id)];
  const int32_t defIndex = DefinitionIndex(*this, id);
  LoadCheckpoint* cp = load_.get();
  if (cp != nullptr && size_t(id) < cp->cellCount && cp->isSetAside[size_t(id)] == 0) {
    // First redefinition of a cell the library held before the load: its
    // contents move aside whole (the trees stay where they are in memory).
    LoadCheckpoint::SetAsideCell aside;
    aside.id = id;
    aside.rawLayers = std::move(cell->rawLayers);
    aside.indexedLayers = std::move(cell->indexedLayers);
    if (defIndex >= 0 && size_t(defIndex) < cp->definitionCount) {
      aside.defIndex = defIndex;
      aside.refs = std::move(cellDefs[size_t(defIndex)]->refs);
    }
    cp->setAside.push_back(std::move(aside));
    cp->isSetAside[size_t(id)] = 1;
  }
  cell->indexedLayers.clear();
  cell->rawLayers.clear();
  if (defIndex >= 0) cellDefs[size_t(defIndex)]->refs.clear();
}

void LibDB::RollBackLoad() {
  std::unique_ptr<LoadCheckpoint> cp = std::move(load_);
  if (cp == nullptr) return;

  // The data file the load was writing: what reached it stays there,
  // referenced by nothing.
  if (dbStream.IsOpen()) {
    try {
      dbStream.Close();
    } catch (const Error&) {
    }
  }
  openDb = 0;
  pendingRecord_ = PendingRecord{};

  // Cells the load made, and the names they took.
  const size_t kept = cp->cellCount;
  for (auto it = cellIds.begin(); it != cellIds.end();) {
    if (it->second < 0 || size_t(it->second) >= kept) {
      it = cellIds.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [name, id] : cp->removedCellNames) cellIds.emplace(std::move(name), id);
  cells.Truncate(kept);

  // Cells the library held: their fields, and the contents of those the
  // load redefined.
  for (size_t id = 0; id < kept; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr) continue;
    const LoadCheckpoint::CellState& s = cp->cellStates[id];
    cell->flags = s.flags;
    cell->dbFile = s.dbFile;
    cell->startPos = s.startPos;
    cell->refPos = s.refPos;
    cell->endPos = s.endPos;
    cell->box = s.box;
  }
  for (LoadCheckpoint::SetAsideCell& aside : cp->setAside) {
    DBCell* cell = cells[size_t(aside.id)];
    cell->indexedLayers.clear();
    cell->rawLayers.clear();
    cell->rawLayers = std::move(aside.rawLayers);
    cell->indexedLayers = std::move(aside.indexedLayers);
    if (aside.defIndex >= 0) cellDefs[size_t(aside.defIndex)]->refs = std::move(aside.refs);
  }

  // Definitions the load made.
  cellDefs.Truncate(cp->definitionCount);
  cellDefIndex = std::move(cp->cellDefIndex);

  roots = std::move(cp->roots);
  hierRecords = std::move(cp->hierRecords);
  cellOrder = std::move(cp->cellOrder);
  layers = std::move(cp->layers);

  libName = std::move(cp->libName);
  version = cp->version;
  writeDb = cp->writeDb;
  flags = cp->flags;
  userUnit = cp->userUnit;
  userUnitFromGds = cp->userUnitFromGds;
  meterPerUnit = cp->meterPerUnit;
  unitPerNm = cp->unitPerNm;
  magnified = cp->magnified;
  depth = cp->depth;
  hierChanged = cp->hierChanged;

  // A load that failed while writing the index files (a full disk) may
  // have replaced some of them: they are made to describe the library as
  // it is again, as far as the disk allows.
  // A library that had no cell had no index: the files go again.
  if (cp->indexWritten) {
    if (cells.empty()) {
      for (const char* name : {"/names", gz ? "/info.gz" : "/info", "/parents"})
        std::remove((dirPath + name).c_str());
      return;
    }
    try {
      WriteNames();
      WriteInfo();
      WriteParents();
    } catch (const Error&) {
    }
  }
}

}  // namespace velmar
