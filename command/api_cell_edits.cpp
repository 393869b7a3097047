// API: editing the cell structure of the current library by hand: creating,
// renaming, placing, replacing and removing cells. The edits change the
// library in memory and set the flags that make the next UpdateLibrary
// write the changed cells, "info" and "names".

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "command/api.h"
#include "command/fatal.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A library opened on a directory that holds a stored library, and whose
// tables were not read yet, has them read before it is edited: an edit and
// the update after it must never write tables that lack the stored cells.
void ReadStoredTables(LibDB& lib) {
  if (lib.HasFlags(LibDB::InfoRead) || !lib.cells.empty()) return;
  if (!FileExists(lib.dirPath + "/info") && !FileExists(lib.dirPath + "/info.gz"))
    return;
  lib.ReadTables();
}

// ReadStoredTables, ending the process where the tables cannot be read.
void ReadStoredTablesOrExit(LibDB& lib) {
  try {
    ReadStoredTables(lib);
  } catch (const Error& e) {
    ExitOnError(e);
  }
}

// The id of the cell named name, or -1 (also for a removed cell).
int32_t ExistingCellId(const LibDB& lib, const std::string& name) {
  const int32_t id = lib.FindCellId(name);
  if (id < 0 || size_t(id) >= lib.cells.size() || lib.cells[size_t(id)] == nullptr)
    return -1;
  return id;
}

// The id of the cell named name; ends the process where there is none.
int32_t RequireCellId(const LibDB& lib, const char* name) {
  const int32_t id = ExistingCellId(lib, name);
  if (id < 0) ExitWithMessage("  cell %s doesn't exist\n", name);
  return id;
}

// Records that the references of the library changed: the cells are
// written again and the hierarchy and definitions are built anew.
void HierarchyChanged(LibDB& lib, uint32_t dirty = LibDB::DataDirty) {
  lib.SetFlags(dirty);
  lib.hierChanged = 1;
  lib.ForgetDefinitions();
}

// Reports n references replaced or removed ("what"), and records the change.
void ReferencesEdited(LibDB& lib, int32_t n, const char* what) {
  if (n == 0) return;
  PrintMessage("  %d references were %s\n", n, what);
  HierarchyChanged(lib);
}

// Ends the process unless name can be stored in the names file: one line
// per cell id, where "empty" marks a free id.
void RequireValidName(const char* name) {
  const std::string s(name);
  if (s.empty() || s.find('\n') != std::string::npos || s.find('\r') != std::string::npos ||
      s == "empty")
    ExitWithMessage("  Cell name %s is not valid\n", name);
}

// The box of a child placed by ref, computed in 64 bits; a box beyond the
// coordinate range is refused. A child without a proper box covers the
// point of its offset in the reference tree and adds nothing to the
// parent's box (its placement becomes visible once the child holds shapes
// and the library is updated).
Box PlacedChildBox(const SRef& ref, const Box& child) {
  if (!child.IsValid()) return Box(ref.x, ref.y, ref.x, ref.y);
  int64_t xs[2] = {child.x1, child.x2}, ys[2] = {child.y1, child.y2};
  int64_t lx = INT64_MAX, ly = INT64_MAX, hx = INT64_MIN, hy = INT64_MIN;
  for (int64_t cx : xs) {
    for (int64_t cy : ys) {
      int64_t x = cx, y = cy;
      switch (ref.orientation) {
        case 0: break;
        case 1: x = -cy; y = cx; break;
        case 2: x = -cx; y = -cy; break;
        case 3: x = cy; y = -cx; break;
        case 4: x = -cx; break;
        case 5: x = -cy; y = -cx; break;
        case 6: y = -cy; break;
        case 7: x = cy; y = cx; break;
      }
      x += ref.x;
      y += ref.y;
      lx = std::min(lx, x);
      ly = std::min(ly, y);
      hx = std::max(hx, x);
      hy = std::max(hy, y);
    }
  }
  if (lx < INT32_MIN || ly < INT32_MIN || hx > INT32_MAX || hy > INT32_MAX)
    throw Error("Placed cell reaches beyond the coordinate range", "DB");
  return Box(int32_t(lx), int32_t(ly), int32_t(hx), int32_t(hy));
}

}  // namespace

int API::CreateCell(const char* cname) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  ReadStoredTablesOrExit(lib);
  RequireValidName(cname);
  if (ExistingCellId(lib, cname) >= 0)
    ExitWithMessage("  Cell %s already exists\n", cname);
  const int32_t id = lib.AddCell(cname);
  lib.cells[size_t(id)]->flags |= DBCell::Modified;
  lib.SetFlags(LibDB::DataDirty | LibDB::InfoDirty | LibDB::NamesDirty);
  return id;
}

int API::RenameCell(const char* cname1, const char* cname2) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  ReadStoredTablesOrExit(lib);
  const int32_t id = ExistingCellId(lib, cname1);
  if (id < 0) ExitWithMessage("  Cell doesn't exist !\n");
  if (std::string(cname1) == cname2) return 1;
  RequireValidName(cname2);
  if (ExistingCellId(lib, cname2) >= 0)
    ExitWithMessage("  Cell %s already exists\n", cname2);
  lib.RenameCell(id, cname2);
  lib.SetFlags(LibDB::NamesDirty);
  return 1;
}

int API::AddInstance(const char* cname, const char* pname, int x, int y, int ori) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  try {
    ReadStoredTables(lib);
    const int32_t childId = ExistingCellId(lib, cname);
    if (childId < 0) ExitWithMessage("  Child cell doesn't exist\n");
    const int32_t parentId = ExistingCellId(lib, pname);
    if (parentId < 0) ExitWithMessage("  Parent cell doesn't exist\n");
    if (ori < 0 || ori > 7) ExitWithMessage("  Orientation %d is not 0..7\n", ori);
    // Everything is checked before the parent changes.
    lib.RefusePlacement(childId, parentId);
    DBCell* parent = lib.cells[size_t(parentId)];
    const DBCell* child = lib.cells[size_t(childId)];
    Trans t;
    t.x = x;
    t.y = y;
    t.orientation = uint8_t(ori);
    auto ref = std::make_unique<SRef>(t, childId);
    const Box placed = PlacedChildBox(*ref, child->box);
    // The new reference joins the parent's stored contents.
    lib.LoadIfStored(parent);

    if (child->box.IsValid()) parent->box.Merge(placed);
    LayerTree& tree = parent->FindOrCreateTree(ReferenceKey, parent->box);
    DBSearchSystem::Insert(tree, placed, ref.release());
    parent->flags = uint16_t((parent->flags & ~DBCell::Leaf) | DBCell::Modified);
    HierarchyChanged(lib);
  } catch (const Error& e) {
    ExitOnError(e);
  }
  return 1;
}

int API::ReplaceCell(const char* cname1, const char* cname2, const char* pname) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  try {
    ReadStoredTables(lib);
    const int32_t oldId = RequireCellId(lib, cname1);
    const int32_t newId = RequireCellId(lib, cname2);
    const int32_t parentId = RequireCellId(lib, pname);
    ReferencesEdited(lib, lib.ReplaceReferences(parentId, oldId, newId), "replaced");
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportSearchSystemMemory(false);
  return 1;
}

int API::RemoveCell(const char* cname, const char* pname) {
  RequireLibrary();
  LibDB& lib = *currentLib;
  try {
    ReadStoredTables(lib);
    const int32_t childId = RequireCellId(lib, cname);
    const bool whole = pname[0] == '\0';
    const int32_t parentId = whole ? -1 : RequireCellId(lib, pname);
    // Without a parent the cell goes, so its references go from every cell
    // of the library: the roots may be stale after earlier edits, and no
    // reference to a deleted cell may survive.
    const int32_t n = whole ? lib.RemoveReferencesEverywhere(childId)
                            : lib.RemoveReferences(parentId, childId);
    ReferencesEdited(lib, n, "removed");
    if (whole) {
      lib.DestroyCell(childId);
      HierarchyChanged(lib, LibDB::InfoDirty | LibDB::NamesDirty | LibDB::DataDirty);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  ReportSearchSystemMemory(false);
  return 1;
}

}  // namespace velmar
