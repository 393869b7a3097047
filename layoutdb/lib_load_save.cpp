// Loading and saving all cells of a library at once: loading every stored
// cell, appending every modified cell to the data files, and rewriting every
// cell into one given data file.
//
// Saving never leaves a cell pointing at data that did not reach its file:
// the positions and flags of the cells written in one pass are put back when
// any write of the pass, or the final flush, fails.

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// Where a cell's stored record was and whether it was modified, to put back
// after a failed save.
struct SavedLocation {
  DBCell* cell;
  uint16_t dbFile;
  int32_t startPos;
  int32_t refPos;
  int32_t endPos;
  uint16_t modified;

  explicit SavedLocation(DBCell* c)
      : cell(c), dbFile(c->dbFile), startPos(c->startPos),
        refPos(c->refPos), endPos(c->endPos),
        modified(uint16_t(c->flags & DBCell::Modified)) {}

  void Restore() const {
    cell->dbFile = dbFile;
    cell->startPos = startPos;
    cell->refPos = refPos;
    cell->endPos = endPos;
    cell->flags = uint16_t((cell->flags & ~DBCell::Modified) | modified);
  }
};

// Closes the data file after a failure; a second failure adds nothing.
void CloseAfterFailure(LibDB& lib) {
  try {
    lib.CloseDataFile();
  } catch (const Error&) {
    lib.openDb = 0;
  }
}

// A cell whose record holds data although nothing of it is in memory:
// writing it from memory would store an empty record in its place.
bool StoredButNotLoaded(const DBCell& cell) {
  return cell.IsEmpty() && cell.dbFile != 0 && cell.endPos > cell.startPos;
}

}  // namespace

void LibDB::LoadAll(bool referencesOnly, bool index) {
  PrintMessage("Loading all...\n");
  // Only stored cells have something to load. They are read in the order in
  // which they lie in the data files, not by id: a compressed file can only
  // be read forwards, and every step back would decompress it again from its
  // start (quadratic in the file size when ids and file order differ).
  std::vector<DBCell*> stored;
  for (DBCell* cell : cells) {
    if (cell == nullptr || !cell->box.IsValid() || !cell->IsEmpty() ||
        cell->dbFile == 0)
      continue;
    stored.push_back(cell);
  }
  std::stable_sort(stored.begin(), stored.end(),
                   [](const DBCell* a, const DBCell* b) {
                     return a->dbFile != b->dbFile ? a->dbFile < b->dbFile
                                                   : a->startPos < b->startPos;
                   });
  try {
    for (DBCell* cell : stored) {
      if (referencesOnly) LoadReferences(cell);
      else LoadCell(cell, index);
    }
  } catch (...) {
    CloseAfterFailure(*this);
    throw;
  }
  CloseDataFile();
  ReportSearchSystemMemory(false);
}

void LibDB::SaveModified() {
  // A file left open for reading by loading is never written through.
  CloseDataFile();
  const uint16_t oldWriteDb = writeDb;
  if (writeDb == 0) writeDb = 1;

  // The cells to store, grouped by the file they are appended to (each file
  // is opened once, which matters for gzip files: appending to one reads it
  // through), in id order within a file.
  std::vector<DBCell*> toWrite;
  for (DBCell* cell : cells) {
    if (cell == nullptr || !cell->box.IsValid() ||
        !(cell->flags & DBCell::Modified))
      continue;
    if (StoredButNotLoaded(*cell)) {
      // Its stored record is all there is of it; keep that.
      cell->flags &= uint16_t(~DBCell::Modified);
      continue;
    }
    toWrite.push_back(cell);
  }
  auto targetFile = [this](const DBCell* c) {
    return c->dbFile == 0 || fullDataFiles_.count(c->dbFile) != 0 ? writeDb
                                                                   : c->dbFile;
  };
  std::stable_sort(toWrite.begin(), toWrite.end(),
                   [&](const DBCell* a, const DBCell* b) {
                     return targetFile(a) < targetFile(b);
                   });

  std::vector<SavedLocation> saved;
  saved.reserve(toWrite.size());
  try {
    for (DBCell* cell : toWrite) {
      saved.emplace_back(cell);
      StoreCell(cell);
    }
    // The records count as stored only once every byte reached the files.
    CloseDataFile();
  } catch (...) {
    CloseAfterFailure(*this);
    for (const SavedLocation& s : saved) s.Restore();
    writeDb = oldWriteDb;
    throw;
  }
  if (!toWrite.empty() || writeDb != oldWriteDb) flags |= InfoDirty;
  flags &= ~DataDirty;
}

void LibDB::SaveAllTo(uint16_t fileNumber) {
  if (fileNumber == 0) throw Error("Cell file id invalid", "LIBOUT");
  if (!dbStream.IsWriting())
    throw Error("Cell data file not open for writing", "LIBOUT");
  // The data file stream is taken by the writing, so a cell cannot be
  // loaded on the way: refuse before anything is written.
  for (DBCell* cell : cells) {
    if (cell != nullptr && cell->box.IsValid() && StoredButNotLoaded(*cell))
      throw Error(std::string("Cell ") + (cell->name ? *cell->name : "") +
                      " is not in memory",
                  "LIBOUT");
  }
  std::vector<SavedLocation> saved;
  try {
    for (DBCell* cell : cells) {
      if (cell == nullptr || !cell->box.IsValid()) continue;
      saved.emplace_back(cell);
      cell->dbFile = fileNumber;
      WriteCellLayers(cell);
      WriteCellReferences(cell);
      cell->flags &= uint16_t(~DBCell::Modified);
    }
  } catch (...) {
    for (const SavedLocation& s : saved) s.Restore();
    throw;
  }
  flags |= InfoDirty;
  flags &= ~DataDirty;
}

void LibDB::StoreCell(DBCell* cell) {
  OpenCellFile(cell);
  WriteCellLayers(cell);
  WriteCellReferences(cell);
  cell->flags &= uint16_t(~DBCell::Modified);
}

void LibDB::LoadIfStored(DBCell* cell) {
  if (cell->IsEmpty() && cell->box.IsValid() && cell->dbFile != 0)
    LoadCell(cell, false);
}

}  // namespace velmar
