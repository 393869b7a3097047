// Services shared by the library, storing and loading methods of API.

#include "command/api_library_support.h"

#include <string>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar::api_support {

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

bool CheckStorableLayer(int layer, int datatype) {
  if (IsLibraryPair(layer, datatype)) return true;
  PrintMessage("ERROR: Layer {%d %d} cannot be stored: layer and datatype "
               "must lie in 0..255\n",
               layer, datatype);
  return false;
}

void PrintError(const Error& e) {
  PrintMessage("ERROR: %s: %s\n", e.Unit() != nullptr ? e.Unit() : "",
               e.Message());
}

}  // namespace velmar::api_support
