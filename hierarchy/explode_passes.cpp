// Explode passes: a placement of a child is replaced by the child's own
// placements composed with it, chosen by four criteria (large placements,
// sparse cells, overlapping placements, listed cells); cells that nothing
// places any more are destroyed afterwards.
//
// Every per-cell routine first takes the chosen references out of the
// parent's tree, in selection order, and only then explodes them, so the
// references an explosion adds are never chosen in the same call.
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "hierarchy/pass_support.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

constexpr uint32_t kExplodeDirty = LibDB::InfoDirty | LibDB::DataDirty;

// Area of a box, 0 for a box without positive extent on both axes.
long double Area(const Box& b) {
  if (!b.IsValid()) return 0;
  return (long double)b.Height() * (long double)b.Width();
}

bool HoldsShapes(const DBCell* cell) {
  for (const auto& [key, layer] : cell->rawLayers)
    if (layer.first != nullptr) return true;
  return false;
}

// Only a cell that places others and holds no shapes of its own can be
// exploded: its placements carry all it holds. Exploding a cell with
// shapes (a leaf, or a cell whose shapes no leaf cell has taken) would
// drop them.
bool CannotExplode(LibDB& lib, int32_t id) {
  DBCell* cell = pass::CellAt(lib, id);
  if (cell == nullptr || (cell->flags & DBCell::Leaf) != 0) return true;
  pass::EnsureLoaded(lib, cell);
  return HoldsShapes(cell);
}

// Takes every reference of the cell that pick chooses out of its tree and
// appends it to out, in traversal order.
template <class Pick>
void SelectReferences(DBCell* cell, std::vector<SRef*>& out, Pick pick) {
  LayerTree* refs = cell->ReferenceTree();
  if (refs == nullptr) return;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
    if (n->IsData() && n->item != nullptr && pick(*n)) {
      out.push_back(n->Item<SRef>());
      n->item = nullptr;
      n = DBSearchSystem::Remove(*refs, n);
    } else {
      n = DBSearchSystem::Next(n);
    }
  }
}

// Inserts one placement of grandchild id into the parent's tree.
void InsertPlacement(LibDB& lib, LayerTree& tree, const Trans& t, int32_t id) {
  SRef* ref = new SRef(t, id);
  const DBCell* child = pass::CellAt(lib, id);
  DBSearchSystem::Insert(tree, ref->GetBox(child ? child->box : Box()), ref);
}

// Replaces each taken reference of parent by its child's placements
// composed with it, and deletes it. The parent becomes Modified when the
// list was not empty.
void ExplodeList(LibDB& lib, DBCell* parent, std::vector<SRef*>& list) {
  if (list.empty()) return;
  LayerTree& tree = parent->FindOrCreateTree(ReferenceKey, parent->box);
  for (SRef* r : list) {
    DBCell* child = pass::CellAt(lib, r->CellId());
    if (child != nullptr) {
      pass::EnsureLoaded(lib, child);
      const LayerTree* inner = child->ReferenceTree();
      if (inner != nullptr) {
        for (const DBSearchNode* n = DBSearchSystem::First(*inner);
             n != nullptr; n = DBSearchSystem::Next(n)) {
          if (!n->IsData() || n->item == nullptr) continue;
          const SRef* c = n->Item<const SRef>();
          if (!c->IsArray()) {
            InsertPlacement(lib, tree, Trans::Compose(*c, *r), c->CellId());
            continue;
          }
          // An array (these passes run after array replacement; kept sound
          // all the same): every element on its own.
          const ARef& a = *static_cast<const ARef*>(c);
          const int32_t cols = a.columns < 1 ? 1 : a.columns;
          const int32_t rows = a.rows < 1 ? 1 : a.rows;
          for (int32_t i = 0; i < cols; ++i)
            for (int32_t j = 0; j < rows; ++j)
              InsertPlacement(lib, tree, Trans::Compose(a.ElementTrans(i, j), *r),
                              a.CellId());
        }
      }
    }
    delete r;
  }
  list.clear();
  parent->flags |= DBCell::Modified;
}

void ClearMarks(LibDB& lib) {
  for (DBCell* cell : lib.cells)
    if (cell != nullptr) cell->flags &= uint16_t(~DBCell::Marked);
}

// Rebuilds parents, cell order and roots; returns the ids of the cells
// without parents.
std::vector<int32_t> Rebuild(LibDB& lib) {
  lib.BuildParents();
  lib.OrderCells(false);
  lib.CollectRoots();
  std::vector<int32_t> tops;
  for (size_t id = 0; id < lib.cells.size(); ++id)
    if (lib.cells[id] != nullptr &&
        (id >= lib.hierRecords.size() || lib.hierRecords[id].parents.empty()))
      tops.push_back(int32_t(id));
  return tops;
}

bool HasParents(const LibDB& lib, size_t id) {
  return id < lib.hierRecords.size() && !lib.hierRecords[id].parents.empty();
}

// Destroys every cell that no cell of tops places, directly or below, and
// counts it; a removed cell without references is reported.
int32_t RemoveUnreachable(LibDB& lib, const std::vector<int32_t>& tops,
                          size_t n) {
  if (lib.hierRecords.size() < n) lib.hierRecords.resize(n);
  ClearMarks(lib);
  std::vector<int32_t> pending;
  for (int32_t id : tops) {
    DBCell* cell = pass::CellAt(lib, id);
    if (cell == nullptr || (cell->flags & DBCell::Marked)) continue;
    cell->flags |= DBCell::Marked;
    pending.push_back(id);
  }
  while (!pending.empty()) {
    DBCell* cell = lib.cells[size_t(pending.back())];
    pending.pop_back();
    pass::EnsureLoaded(lib, cell);
    const LayerTree* refs = cell->ReferenceTree();
    if (refs == nullptr) continue;
    for (const DBSearchNode* m = DBSearchSystem::First(*refs); m != nullptr;
         m = DBSearchSystem::Next(m)) {
      if (!m->IsData() || m->item == nullptr) continue;
      const int32_t childId = m->Item<const SRef>()->CellId();
      DBCell* child = pass::CellAt(lib, childId);
      if (child == nullptr || (child->flags & DBCell::Marked)) continue;
      child->flags |= DBCell::Marked;
      pending.push_back(childId);
    }
  }
  std::vector<int32_t> unreachable;
  for (size_t id = 0; id < lib.cells.size(); ++id) {
    DBCell* cell = lib.cells[id];
    if (cell == nullptr || (cell->flags & DBCell::Marked)) continue;
    const LayerTree* refs = cell->ReferenceTree();
    if (refs == nullptr || refs->IsEmpty())
      PrintMessage("Warning: unreferenced leaf cell removed\n");
    unreachable.push_back(int32_t(id));
  }
  lib.DestroyCells(unreachable);
  ClearMarks(lib);
  return int32_t(unreachable.size());
}

// The frame of passes 1 and 3: explode per cell bottom-up, then remove
// what became unreachable.
template <class PerCell>
int32_t ExplodeAndPrune(LibDB& lib, const char* title, PerCell perCell) {
  pass::PrintHeader(title);
  const size_t n = lib.cells.size();
  const std::vector<int32_t> tops = Rebuild(lib);
  int32_t exploded = 0;
  const std::vector<int32_t> order(lib.cellOrder.begin(), lib.cellOrder.end());
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DBCell* cell = pass::CellAt(lib, *it);
    if (cell == nullptr || (cell->flags & DBCell::Leaf)) continue;
    exploded += perCell(cell);
  }
  if (exploded == 0) return 0;
  const int32_t destroyed = RemoveUnreachable(lib, tops, n);
  lib.flags |= kExplodeDirty;
  PrintMessage("  %d insts and %d cells were removed\n", exploded, destroyed);
  return destroyed;
}

}  // namespace

int32_t LibDB::Explode1Cell(DBCell* cell, float rate) {
  pass::EnsureLoaded(*this, cell);
  const double threshold = double(Area(cell->box) * (long double)rate);
  std::vector<SRef*> list;
  SelectReferences(cell, list, [&](const DBSearchNode& n) {
    return (double)Area(n.box) >= threshold &&
           !CannotExplode(*this, n.Item<const SRef>()->CellId());
  });
  const int32_t count = int32_t(list.size());
  ExplodeList(*this, cell, list);
  return count;
}

int32_t LibDB::Explode1(float rate) {
  return ExplodeAndPrune(*this, "Exploding 1",
                         [&](DBCell* cell) { return Explode1Cell(cell, rate); });
}

int32_t LibDB::ExplodeMarkedRefs(DBCell* cell) {
  pass::EnsureLoaded(*this, cell);
  std::vector<SRef*> list;
  SelectReferences(cell, list, [&](const DBSearchNode& n) {
    const DBCell* child = pass::CellAt(*this, n.Item<const SRef>()->CellId());
    return child != nullptr && (child->flags & DBCell::Marked) != 0;
  });
  const int32_t count = int32_t(list.size());
  ExplodeList(*this, cell, list);
  return count;
}

bool LibDB::Explode2Candidate(DBCell* cell, float rate) {
  long double covered = 0;
  const LayerTree* refs = cell->ReferenceTree();
  if (refs != nullptr)
    for (const DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
         n = DBSearchSystem::Next(n))
      if (n->IsData() && n->item != nullptr) covered += Area(n->box);
  if (Area(cell->box) * (long double)rate > covered && !HoldsShapes(cell)) {
    cell->flags |= DBCell::Marked;
    return true;
  }
  return false;
}

int32_t LibDB::Explode2(float rate) {
  pass::PrintHeader("Exploding 2");
  Rebuild(*this);
  ClearMarks(*this);
  int32_t exploded = 0;
  const std::vector<int32_t> order(cellOrder.begin(), cellOrder.end());
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DBCell* cell = pass::CellAt(*this, *it);
    if (cell == nullptr || (cell->flags & DBCell::Leaf)) continue;
    exploded += ExplodeMarkedRefs(cell);
    // A cell without parents is never exploded: it stays whatever it holds.
    if (Explode2Candidate(cell, rate) && !HasParents(*this, size_t(*it)))
      cell->flags &= uint16_t(~DBCell::Marked);
  }
  if (exploded == 0) {
    ClearMarks(*this);
    return 0;
  }
  std::vector<int32_t> sparse;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DBCell* cell = pass::CellAt(*this, *it);
    if (cell != nullptr && (cell->flags & DBCell::Marked)) sparse.push_back(*it);
  }
  DestroyCells(sparse);
  const int32_t destroyed = int32_t(sparse.size());
  ClearMarks(*this);
  flags |= kExplodeDirty;
  PrintMessage("  %d insts and %d cells were removed\n", exploded, destroyed);
  return destroyed;
}

int32_t LibDB::Explode3Cell(DBCell* cell, float rate) {
  pass::EnsureLoaded(*this, cell);
  LayerTree* refs = cell->ReferenceTree();
  if (refs == nullptr || refs->IsEmpty()) return 0;
  auto placedBox = [&](const SRef* r) {
    const DBCell* child = pass::CellAt(*this, r->CellId());
    return r->GetBox(child ? child->box : Box());
  };
  // Grouping first, on the tree as it is; a reference chosen for one group
  // neither starts nor joins a later one.
  std::unordered_set<const SRef*> chosen;
  std::vector<SRef*> list;
  int32_t count = 0;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData() || n->item == nullptr) continue;
    SRef* q = n->Item<SRef>();
    if (chosen.count(q) || CannotExplode(*this, q->CellId())) continue;
    const Box a = placedBox(q);
    const long double aA = Area(a);
    int32_t group = 0;
    for (DBSearchNode* f = DBSearchSystem::FirstInBox(*refs, a); f != nullptr;
         f = DBSearchSystem::NextInBox(f, a)) {
      if (f->item == nullptr) continue;
      SRef* p = f->Item<SRef>();
      if (p == q || chosen.count(p) || CannotExplode(*this, p->CellId())) continue;
      const Box b = placedBox(p);
      const long double aB = Area(b);
      const Box i(std::max(a.x1, b.x1), std::max(a.y1, b.y1),
                  std::min(a.x2, b.x2), std::min(a.y2, b.y2));
      const long double aI = Area(i);
      if (aI > (long double)rate * aA && aI > (long double)rate * aB) {
        chosen.insert(p);
        list.push_back(p);
        ++group;
      }
    }
    if (group > 0) {
      chosen.insert(q);
      list.push_back(q);
      count += group + 1;
    }
  }
  if (list.empty()) return 0;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
    if (n->IsData() && n->item != nullptr && chosen.count(n->Item<SRef>())) {
      n->item = nullptr;
      n = DBSearchSystem::Remove(*refs, n);
    } else {
      n = DBSearchSystem::Next(n);
    }
  }
  ExplodeList(*this, cell, list);
  return count;
}

int32_t LibDB::Explode3(float rate) {
  return ExplodeAndPrune(*this, "Exploding 3",
                         [&](DBCell* cell) { return Explode3Cell(cell, rate); });
}

int32_t LibDB::ExplodeManual() {
  ClearMarks(*this);
  int32_t marked = 0;
  for (int32_t id : explodeCells) {
    DBCell* cell = pass::CellAt(*this, id);
    if (cell == nullptr || !cell->box.IsValid() || CannotExplode(*this, id))
      continue;
    cell->flags |= DBCell::Marked;
    ++marked;
  }
  if (marked == 0) return 0;
  pass::PrintHeader("Exploding Manual");
  // Bottom-up, so that a listed cell placed in another listed cell is
  // exploded into it before that one is exploded into its parents.
  Rebuild(*this);
  int32_t exploded = 0;
  const std::vector<int32_t> order(cellOrder.begin(), cellOrder.end());
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DBCell* cell = pass::CellAt(*this, *it);
    if (cell == nullptr || !cell->box.IsValid() || (cell->flags & DBCell::Leaf))
      continue;
    exploded += ExplodeMarkedRefs(cell);
  }
  if (exploded == 0) {
    ClearMarks(*this);
    return 0;
  }
  // A listed cell goes only when every placement of it was exploded: it
  // had parents, and every parent was walked above.
  std::vector<int32_t> done;
  for (int32_t id : explodeCells) {
    DBCell* cell = pass::CellAt(*this, id);
    if (cell == nullptr || !(cell->flags & DBCell::Marked)) continue;
    bool allExploded = HasParents(*this, size_t(id));
    if (allExploded)
      for (const auto& [parent, placements] : hierRecords[size_t(id)].parents) {
        const DBCell* p = pass::CellAt(*this, parent);
        if (p != nullptr && (!p->box.IsValid() || (p->flags & DBCell::Leaf)))
          allExploded = false;
      }
    if (allExploded) done.push_back(id);
  }
  DestroyCells(done);
  const int32_t destroyed = int32_t(done.size());
  ClearMarks(*this);
  flags |= kExplodeDirty;
  PrintMessage("  %d insts and %d cells were removed\n", exploded, destroyed);
  return destroyed;
}

}  // namespace velmar
