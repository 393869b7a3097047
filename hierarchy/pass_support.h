// Small services shared by the restructuring and explode passes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/lib_db.h"

namespace velmar::pass {

// The cell of id, or null for an id out of range or a destroyed cell.
inline DBCell* CellAt(const LibDB& lib, int32_t id) {
  return id >= 0 && size_t(id) < lib.cells.size() ? lib.cells[size_t(id)]
                                                  : nullptr;
}

// A cell that holds nothing in memory is read from its data file (without
// search trees).
inline void EnsureLoaded(LibDB& lib, DBCell* cell) {
  if (cell->IsEmpty()) LoadCellOnDemand(lib, cell, false);
}

// A cell with shapes but no tree over them gets its trees built.
inline void EnsureIndexed(DBCell* cell) {
  if (!cell->rawLayers.empty() && !cell->IsIndexed()) cell->IndexLayers();
}

// Prints "\n<date><title>\n", the date as ctime writes it.
inline void PrintHeader(const char* title) {
  const std::time_t now = std::time(nullptr);
  PrintMessage("\n%s%s\n", std::ctime(&now), title);
}

// The info, names and cell data must all be written again.
inline void MarkDirectoryDirty(LibDB& lib) {
  lib.flags |= LibDB::InfoDirty | LibDB::NamesDirty | LibDB::DataDirty;
}

}  // namespace velmar::pass
