// Services shared by the library, storing and loading methods of API.

#include "command/api_library_support.h"

#include <string>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar::api_support {

void ReadTables(LibDB& lib) {
  if ((lib.flags & LibDB::InfoRead) == 0) lib.ReadInfo();
  if ((lib.flags & LibDB::NamesRead) == 0) lib.ReadNames();
}

DBCell* FindCellOrFirstRoot(LibDB& lib, const char* cname) {
  if (cname == nullptr || *cname == '\0') {
    for (int32_t root : lib.roots) {
      if (root < 0 || static_cast<size_t>(root) >= lib.cells.size()) continue;
      DBCell* cell = lib.cells[root];
      if (cell == nullptr) continue;
      PrintMessage("  Cell adjusted to %s\n",
                   cell->name != nullptr ? cell->name->c_str() : "");
      return cell;
    }
    PrintMessage("ERROR: Library has no root cell\n");
    return nullptr;
  }
  DBCell* cell = lib.FindCell(cname);
  if (cell == nullptr) PrintMessage("ERROR: Cell %s is not defined", cname);
  return cell;
}

void LoadIfStored(LibDB& lib, DBCell* cell) {
  if (cell->IsEmpty() && cell->box.IsValid() && cell->dbFile != 0)
    lib.LoadCell(cell, false);
}

void AddLayerKey(LibDB& lib, int32_t key) {
  if (lib.layers.emplace(static_cast<uint32_t>(key), LayerInfo()).second)
    lib.flags |= LibDB::InfoDirty;
}

bool OpenDataFileForWriting(LibDB& lib, uint16_t number, int32_t openMode) {
  BinaryStream& s = lib.dbStream;
  s.path = lib.DataFilePath(number);
  s.write = true;
  s.gzip = lib.gz != 0;
  s.openMode = openMode;
  s.unit = "LIBOUT";
  if (!s.Open()) return false;
  lib.openDb = number;
  return true;
}

void UnloadCell(DBCell* cell) {
  cell->FreeRawLayers();
  cell->indexedLayers.clear();  // reference trees delete their references
  cell->flags &= uint16_t(~(DBCell::Modified | DBCell::Loaded));
}

void PrintError(const Error& e) {
  PrintMessage("ERROR: %s: %s\n", e.Unit() != nullptr ? e.Unit() : "",
               e.Message());
}

}  // namespace velmar::api_support
