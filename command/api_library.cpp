// API: opening and closing libraries.
//
// A library holds pooled elements (the shapes and placements of its loaded
// cells, the nodes of their search trees): it must be destroyed while those
// pools still exist. CloseLog therefore closes every open library before it
// releases the pools (CloseEveryLibrary).

#include <memory>
#include <new>
#include <string>

#include "command/api.h"
#include "foundation/error.h"
#include "foundation/pool_allocator.h"
#include "layoutdb/lib_db.h"

namespace velmar {

// The destructor writes the data file's buffered bytes; cell changes not
// written by UpdateLibrary are dropped.
void API::CloseSlot(int slot) {
  std::unique_ptr<LibDB> lib = std::move(libs[slot]);
  if (currentLib == lib.get()) currentLib = nullptr;
}

int API::OpenLibrary(const char* libName, int gz) {
  std::set_new_handler(OutOfMemory);
  // A library left in the slot would be unreachable with its buffered data:
  // close it first.
  CloseSlot(currentSlot);
  libs[currentSlot] = std::make_unique<LibDB>(libName, gz);
  currentLib = libs[currentSlot].get();
  return 1;
}

void API::CloseLibrary() {
  ReportProcessMemory();
  if (currentLib == nullptr) return;
  // currentLib is always the library of the current slot (SetLibrary and
  // OpenLibrary set both); a library elsewhere is looked for all the same.
  for (int slot = 0; slot < kLibrarySlots; ++slot) {
    if (libs[slot].get() == currentLib) {
      CloseSlot(slot);
      return;
    }
  }
  // Not reached: every library is held by a slot.
  currentLib = nullptr;
}

void API::CloseLibraries() {
  ReportProcessMemory();
  for (int slot = 0; slot < kLibrarySlots; ++slot) CloseSlot(slot);
  currentLib = nullptr;
}

std::string API::GetLibraryPath(int lid) const {
  if (lid < 0 || lid >= kLibrarySlots || libs[lid] == nullptr) return "";
  return libs[lid]->dirPath;
}

}  // namespace velmar
