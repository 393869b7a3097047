// What a library looked like before a layout load began, kept so that a
// load that fails can put it back (LibDB::BeginLoad, LibDB::RollBackLoad).
// Internal to the layout database: callers use LibDB's load methods or the
// LibraryLoad guard.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "foundation/box.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_cell_record.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

struct LoadCheckpoint {
  // The per-cell fields a reader may change on a cell it did not create.
  struct CellState {
    uint16_t flags = 0;
    uint16_t dbFile = 0;
    int32_t startPos = -1;
    int32_t refPos = -1;
    int32_t endPos = -1;
    Box box;
  };
  // The contents in memory and the definition's references of a cell that
  // the load redefined, taken out of the cell before the reader cleared it.
  struct SetAsideCell {
    int32_t id = -1;
    DBCell::RawLayerMap rawLayers;
    DBCell::IndexedLayerMap indexedLayers;
    int32_t defIndex = -1;  // its definition before the load, or -1
    std::vector<ARef> refs;
  };

  // Library fields.
  std::string libName;
  uint16_t version = 0;
  uint16_t writeDb = 0;
  uint32_t flags = 0;
  double userUnit = 0;
  bool userUnitFromGds = false;
  double meterPerUnit = 0;
  double unitPerNm = 0;
  int32_t magnified = 0;
  int32_t depth = 0;
  uint8_t hierChanged = 0;

  // Cells: the count (cells from it on are the load's own) and the state
  // of every earlier one.
  size_t cellCount = 0;
  std::vector<CellState> cellStates;
  // Name entries of removed cells: a reader may give such a name to a new
  // cell, which drops the entry.
  std::vector<std::pair<std::string, int32_t>> removedCellNames;

  // Tables.
  std::vector<int32_t> roots;
  std::vector<HierCellRecord> hierRecords;
  std::list<int32_t> cellOrder;
  LayerTable layers;
  size_t definitionCount = 0;
  std::vector<int32_t> cellDefIndex;

  // Cells the load redefined, in the order it met them, and by id whether
  // a cell is among them.
  std::vector<SetAsideCell> setAside;
  std::vector<char> isSetAside;

  // "names", "info" or "parents" was written during the load.
  bool indexWritten = false;
};

}  // namespace velmar
