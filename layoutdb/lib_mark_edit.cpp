// Marking the cells below a cell inside a window, and editing the
// references of a cell's hierarchy: replacing or removing every placement of
// one cell, and finding every placement of one cell.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "foundation/slist.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

DBCell* CellAt(const LibDB& lib, int32_t id) {
  return size_t(id) < lib.cells.size() ? lib.cells[size_t(id)] : nullptr;
}

DBCell* ExistingCell(const LibDB& lib, int32_t id) {
  DBCell* cell = CellAt(lib, id);
  if (cell == nullptr)
    throw Error("Cell id " + std::to_string(id) + " invalid", "DB");
  return cell;
}

std::string CellName(const LibDB& lib, int32_t id) {
  const DBCell* cell = CellAt(lib, id);
  if (cell != nullptr && cell->name != nullptr) return *cell->name;
  std::string name("#");
  name.append(std::to_string(id));
  return name;
}

// The reference tree of a cell when it holds anything, else null.
LayerTree* FilledReferenceTree(DBCell* cell) {
  LayerTree* tree = cell->ReferenceTree();
  return tree != nullptr && !tree->IsEmpty() ? tree : nullptr;
}

void ClearMarks(LibDB& lib) {
  for (DBCell* cell : lib.cells)
    if (cell != nullptr) cell->flags &= uint16_t(~DBCell::Marked);
}

// Clears every mark when an edit ends, whichever way it ends.
class MarkScope {
 public:
  explicit MarkScope(LibDB& lib) : lib_(lib) {
    ClearMarks(lib_);
    if (lib_.hierRecords.size() < lib_.cells.size())
      lib_.hierRecords.resize(lib_.cells.size());
  }
  ~MarkScope() { ClearMarks(lib_); }
  MarkScope(const MarkScope&) = delete;
  MarkScope& operator=(const MarkScope&) = delete;

 private:
  LibDB& lib_;
};

// Marks cell id for the window and every cell placed below it for the
// window mapped into it. The descent is a stack of its own (one frame per
// cell whose references are being walked), depth-first in the order of the
// reference trees, so a deep hierarchy needs memory, not call stack.
void MarkInWindow(LibDB& lib, int32_t topId, const Box& topWindow) {
  struct Frame {
    int32_t id;
    Box window;
    DBSearchNode* next;  // the next reference node to look at
  };
  std::vector<Frame> stack;
  // Cell id -> 1 + the stack index of the frame its last visit pushed; a
  // record is valid while that frame is the cell's.
  std::vector<uint32_t> depthOf(lib.cells.size(), 0);

  auto visit = [&](int32_t id, const Box& window) {
    DBCell* cell = lib.cells[size_t(id)];
    HierCellRecord& record = lib.hierRecords[size_t(id)];
    if (cell->flags & DBCell::Marked) {
      if (record.box1.Contains(window)) return;  // nothing new below
      record.box1.Merge(window);
    } else {
      LoadCellOnDemand(lib, cell, true);
      cell->flags |= DBCell::Marked;
      record.box1 = window;
    }
    LayerTree* refs = FilledReferenceTree(cell);
    if (refs == nullptr) return;
    DBSearchNode* first = DBSearchSystem::FirstInBox(*refs, window);
    if (first == nullptr) return;
    depthOf[size_t(id)] = uint32_t(stack.size() + 1);
    stack.push_back(Frame{id, window, first});
  };

  visit(topId, topWindow);
  while (!stack.empty()) {
    Frame& f = stack.back();
    DBSearchNode* n = f.next;
    if (n == nullptr) {
      stack.pop_back();
      continue;
    }
    f.next = DBSearchSystem::NextInBox(n, f.window);
    if (n->item == nullptr) continue;
    const SRef& ref = *n->Item<const SRef>();
    DBCell* child = EnterableChild(lib, ref);
    if (child == nullptr) continue;
    const int32_t childId = ref.CellId();
    const uint32_t d = depthOf[size_t(childId)];
    if (d != 0 && d <= stack.size() && stack[d - 1].id == childId)
      ThrowPlacementCycle(lib, childId);
    if (!ref.IsArray()) {
      visit(childId, ChildWindow(ref, f.window));  // f may move
      continue;
    }
    // An array: one element meeting the window marks the child for that
    // element's window, two or more for the child's whole box.
    const ARef& array = static_cast<const ARef&>(ref);
    int32_t c0, c1, r0, r1;
    if (!ArrayElementRange(array, child->box, f.window, &c0, &c1, &r0, &r1))
      continue;
    int found = 0;
    Trans only;
    for (int32_t a = c0; a <= c1 && found < 2; ++a) {
      for (int32_t b = r0; b <= r1 && found < 2; ++b) {
        const Trans e = array.ElementTrans(a, b);
        Box placed = child->box;
        e.TransformBox(placed);
        if (!placed.Overlaps(f.window)) continue;
        if (found++ == 0) only = e;
      }
    }
    if (found == 1)
      visit(childId, ChildWindow(only, f.window));
    else if (found > 1)
      visit(childId, child->box);
  }
}

// Calls visit(childId) for every reference in the cell's reference tree.
template <class Visit>
void ForEachChildId(DBCell* cell, Visit visit) {
  LayerTree* refs = FilledReferenceTree(cell);
  if (refs == nullptr) return;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (n->IsData() && n->item != nullptr)
      visit(n->Item<const SRef>()->CellId());
  }
}

// Marks cell id and every cell placed below it, loading cells on demand.
// Unlike the marking by window, this walk follows every reference whatever
// the boxes say: between an edit and the library update that recomputes
// them, a cell's box may not yet cover what was placed in its children, and
// an edit must still reach every cell of the hierarchy. The mark doubles as
// the visited flag, so shared cells are walked once and a placement cycle
// ends the walk rather than looping.
void MarkHierarchy(LibDB& lib, int32_t id) {
  DBCell* top = lib.cells[size_t(id)];
  LoadCellOnDemand(lib, top, true);
  top->flags |= DBCell::Marked;
  std::vector<int32_t> pending{id};
  while (!pending.empty()) {
    DBCell* cell = lib.cells[size_t(pending.back())];
    pending.pop_back();
    ForEachChildId(cell, [&](int32_t childId) {
      DBCell* child = CellAt(lib, childId);
      if (child == nullptr || (child->flags & DBCell::Marked)) return;
      LoadCellOnDemand(lib, child, true);
      child->flags |= DBCell::Marked;
      pending.push_back(childId);
    });
  }
}

bool HoldsReferenceTo(DBCell* cell, int32_t id) {
  LayerTree* refs = FilledReferenceTree(cell);
  if (refs == nullptr) return false;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (n->IsData() && n->item != nullptr &&
        n->Item<const SRef>()->CellId() == id)
      return true;
  }
  return false;
}

// Refuses to place cell newId into the holders when one of them is newId
// itself or lies below it: the hierarchy would place a cell inside itself.
void RefuseCycle(LibDB& lib, int32_t newId,
                 const std::vector<char>& isHolder) {
  std::vector<char> seen(lib.cells.size(), 0);
  std::vector<int32_t> pending{newId};
  seen[size_t(newId)] = 1;
  while (!pending.empty()) {
    const int32_t id = pending.back();
    pending.pop_back();
    if (isHolder[size_t(id)])
      throw Error("Cell " + CellName(lib, newId) +
                      " cannot be placed in cell " + CellName(lib, id) +
                      ", which it contains",
                  "DB");
    DBCell* cell = lib.cells[size_t(id)];
    LoadCellOnDemand(lib, cell, true);
    ForEachChildId(cell, [&](int32_t childId) {
      if (CellAt(lib, childId) == nullptr || seen[size_t(childId)]) return;
      seen[size_t(childId)] = 1;
      pending.push_back(childId);
    });
  }
}

// Removes every reference to cellId from the marked cells, printing one
// line per reference; the changed cells become modified.
int32_t RemoveFromMarkedCells(LibDB& lib, int32_t cellId) {
  int32_t count = 0;
  const std::string childName = CellName(lib, cellId);
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    DBCell* cell = lib.cells[id];
    if (cell == nullptr || !(cell->flags & DBCell::Marked)) continue;
    LayerTree* refs = FilledReferenceTree(cell);
    if (refs == nullptr) continue;
    for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
      if (!n->IsData() || n->item == nullptr ||
          n->Item<const SRef>()->CellId() != cellId) {
        n = DBSearchSystem::Next(n);
        continue;
      }
      SRef* ref = n->Item<SRef>();
      PrintMessage("\t%s %s %d %d %d\n", childName.c_str(),
                   CellName(lib, int32_t(id)).c_str(), ref->x, ref->y,
                   int(ref->orientation));
      delete ref;
      n->item = nullptr;
      n = DBSearchSystem::Remove(*refs, n);
      cell->flags |= DBCell::Modified;
      ++count;
    }
  }
  return count;
}

}  // namespace

void LibDB::MarkCellsInWindow(int32_t id, const Box* window) {
  ExistingCell(*this, id);
  if (hierRecords.size() < cells.size()) hierRecords.resize(cells.size());
  MarkInWindow(*this, id, *window);
}

int32_t LibDB::ReplaceReferences(int32_t parentId, int32_t oldId,
                                 int32_t newId) {
  ExistingCell(*this, parentId);
  DBCell* newCell = ExistingCell(*this, newId);
  if (!newCell->box.IsValid())
    throw Error("Cell " + CellName(*this, newId) +
                    " is empty and cannot replace a cell",
                "DB");
  MarkScope scope(*this);
  if (oldId == newId) return 0;
  MarkHierarchy(*this, parentId);

  // The cells that will place the new cell; none may lie below it.
  std::vector<int32_t> holders;
  std::vector<char> isHolder(cells.size(), 0);
  for (size_t id = 0; id < cells.size(); ++id) {
    DBCell* cell = cells[id];
    if (cell != nullptr && (cell->flags & DBCell::Marked) &&
        HoldsReferenceTo(cell, oldId)) {
      holders.push_back(int32_t(id));
      isHolder[id] = 1;
    }
  }
  if (holders.empty()) return 0;
  RefuseCycle(*this, newId, isHolder);

  int32_t count = 0;
  std::vector<SRef*> moved;
  for (int32_t id : holders) {
    DBCell* cell = cells[size_t(id)];
    LayerTree& refs = *FilledReferenceTree(cell);
    // Each redirected reference leaves the tree and goes back in with the
    // box of the new cell placed by it.
    moved.clear();
    for (DBSearchNode* n = DBSearchSystem::First(refs); n != nullptr;) {
      if (n->IsData() && n->item != nullptr &&
          n->Item<const SRef>()->CellId() == oldId) {
        SRef* ref = n->Item<SRef>();
        ref->SetCellId(newId);  // an array stays an array
        moved.push_back(ref);
        n = DBSearchSystem::Remove(refs, n);
      } else {
        n = DBSearchSystem::Next(n);
      }
    }
    for (SRef* ref : moved)
      DBSearchSystem::Insert(refs, ref->GetBox(newCell->box), ref);
    count += int32_t(moved.size());
    cell->flags |= DBCell::Modified;
  }
  return count;
}

int32_t LibDB::RemoveReferences(int32_t parentId, int32_t cellId) {
  ExistingCell(*this, parentId);
  MarkScope scope(*this);
  MarkHierarchy(*this, parentId);
  return RemoveFromMarkedCells(*this, cellId);
}

int32_t LibDB::RemoveReferencesEverywhere(int32_t cellId) {
  MarkScope scope(*this);
  for (DBCell* cell : cells) {
    if (cell == nullptr) continue;
    // A cell that holds nothing in memory and whose record has no reference
    // section places nothing: it need not be read.
    if (cell->IsEmpty() && (cell->refPos < 0 || cell->dbFile == 0)) continue;
    LoadCellOnDemand(*this, cell, true);
    cell->flags |= DBCell::Marked;
  }
  return RemoveFromMarkedCells(*this, cellId);
}

void LibDB::RefusePlacement(int32_t childId, int32_t parentId) {
  ExistingCell(*this, childId);
  ExistingCell(*this, parentId);
  std::vector<char> isHolder(cells.size(), 0);
  isHolder[size_t(parentId)] = 1;
  RefuseCycle(*this, childId, isHolder);
}

void LibDB::DestroyCell(int32_t id) { DestroyCells({id}); }

void LibDB::DestroyCells(const std::vector<int32_t>& ids) {
  if (ids.empty()) return;
  for (int32_t id : ids) ExistingCell(*this, id);
  std::vector<char> gone(cells.size(), 0);
  for (int32_t id : ids) {
    if (gone[size_t(id)]) continue;
    gone[size_t(id)] = 1;
    DBCell* cell = cells[size_t(id)];
    if (cell->name != nullptr) {
      auto it = cellIds.find(*cell->name);
      if (it != cellIds.end() && it->second == id) cellIds.erase(it);
    }
    // The cell owns its reference objects, shapes, placements and trees:
    // they go with it.
    cells.Free(size_t(id));
  }
  // One sweep of the roots and the order for all of them.
  auto destroyed = [&](int32_t id) {
    return id >= 0 && size_t(id) < gone.size() && gone[size_t(id)] != 0;
  };
  roots.erase(std::remove_if(roots.begin(), roots.end(), destroyed),
              roots.end());
  cellOrder.remove_if(destroyed);
}

void LibDB::ForgetDefinitions() {
  cellDefs.clear();
  cellDefIndex.clear();
}

void LibDB::CollectTargetReferences(DBCell* cell, const Box* window,
                                    int32_t targetId, SList* out, bool mark) {
  const LayerKeySet referencesOnly{ReferenceKey};
  HierIterator it(this, cell, window, &referencesOnly, targetId);
  Trans t;
  int32_t key = 0;
  for (DBSearchNode* n = it.First(&t, &key, true); n != nullptr;
       n = it.Next(&t, &key, true)) {
    if (mark) it.frames.front().cell->flags |= DBCell::Modified;
    SListNode* node = SList::NewNode();
    node->item = n->item;
    node->next = out->head;
    out->head = node;
    if (out->tail == nullptr) out->tail = node;
    ++out->count;
  }
}

}  // namespace velmar
