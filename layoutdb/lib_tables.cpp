// Library tables: cell creation, the parent and child tables, the top-down
// cell order with levels and depth, the roots, and the cell boxes that
// cover what a cell places.

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// Number of placements a reference stands for.
int64_t PlacementCount(const SRef& ref) {
  if (!ref.IsArray()) return 1;
  const ARef& a = static_cast<const ARef&>(ref);
  return int64_t(a.columns) * a.rows;
}

// True when the cell's stored record holds layer blocks: its shapes then
// lie in the data file even while none of them is in memory.
bool HasStoredShapes(const DBCell* cell) {
  if (cell->dbFile == 0 || cell->startPos < 0) return false;
  int32_t layersEnd = cell->refPos >= 0 ? cell->refPos : cell->endPos;
  return layersEnd > cell->startPos;
}

// True when some drawn layer of the cell is in memory.
bool HasDrawnLayersInMemory(const DBCell* cell) {
  return (!cell->rawLayers.empty() &&
          cell->rawLayers.begin()->first < WorkLayerKey) ||
         (!cell->indexedLayers.empty() &&
          cell->indexedLayers.begin()->first < WorkLayerKey);
}

}  // namespace

// Adds n placements of child in parent to the tables.
static void LinkChild(std::vector<HierCellRecord>& records, int32_t parent,
                      int32_t child, int64_t n) {
  if (parent < 0 || child < 0 ||
      static_cast<size_t>(parent) >= records.size() ||
      static_cast<size_t>(child) >= records.size())
    return;  // beyond the tables: the reference names no known cell
  auto& parents = records[child].parents;
  auto it = parents.find(parent);
  if (it != parents.end()) {
    it->second = static_cast<int32_t>(std::min<int64_t>(it->second + n, INT32_MAX));
  } else {
    parents.emplace(parent, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
    records[parent].children.insert(child);
  }
}

int32_t LibDB::AddCell(const char* name) {
  int32_t id = static_cast<int32_t>(cells.size());
  DBCell* cell = cells.push_back(std::make_unique<DBCell>());
  if (name != nullptr) {
    // An existing entry stays: the name keeps finding the older cell.
    auto it = cellIds.emplace(name, id).first;
    cell->name = &it->first;
  }
  return id;
}

void LibDB::RenameCell(int32_t id, std::string newName) {
  DBCell* cell = cells[size_t(id)];
  if (cell->name != nullptr) {
    auto old = cellIds.find(*cell->name);
    if (old != cellIds.end() && old->second == id) cellIds.erase(old);
  }
  auto it = cellIds.emplace(std::move(newName), id).first;
  cell->name = &it->first;
}

void LibDB::ReleaseCellName(const std::string& name) { cellIds.erase(name); }

void LibDB::AddParentLinks(int32_t id) {
  if (id < 0 || static_cast<size_t>(id) >= cells.size()) return;
  DBCell* cell = cells[id];
  if (cell == nullptr || (cell->flags & DBCell::Leaf) != 0) return;
  LayerTree* tree = cell->ReferenceTree();
  if (tree == nullptr || tree->IsEmpty()) return;
  for (DBSearchNode* node = DBSearchSystem::First(*tree); node != nullptr;
       node = DBSearchSystem::Next(node)) {
    if (!node->IsData() || node->item == nullptr) continue;
    const SRef* ref = node->Item<const SRef>();
    LinkChild(hierRecords, id, ref->CellId(), PlacementCount(*ref));
  }
}

void LibDB::BuildParents() {
  hierRecords.clear();
  hierRecords.resize(cells.size());
  for (size_t id = 0; id < cells.size(); ++id)
    AddParentLinks(static_cast<int32_t>(id));
}

CellDef* LibDB::DefinitionOf(int32_t id) const {
  if (id < 0 || size_t(id) >= cellDefIndex.size()) return nullptr;
  const int32_t index = cellDefIndex[size_t(id)];
  if (index < 0 || size_t(index) >= cellDefs.size()) return nullptr;
  CellDef* def = cellDefs[size_t(index)];
  return def != nullptr && def->cellId == id ? def : nullptr;
}

CellDef* LibDB::AddDefinition(int32_t id) {
  CellDef* def = cellDefs.push_back(std::make_unique<CellDef>());
  def->cellId = id;
  if (size_t(id) >= cellDefIndex.size())
    cellDefIndex.resize(std::max(cellDefIndex.size() * 2, size_t(id) + 1), -1);
  cellDefIndex[size_t(id)] = int32_t(cellDefs.size() - 1);
  return def;
}

void LibDB::BuildParentsAfterRead() {
  hierRecords.clear();
  if (cellDefs.size() > cells.size())
    PrintMessage("Warning: cells read are more than actual cells\n");
  hierRecords.resize(cells.size());
  for (const CellDef* def : cellDefs) {
    if (def == nullptr) continue;
    for (const ARef& ref : def->refs)
      LinkChild(hierRecords, def->cellId, ref.CellId(), PlacementCount(ref));
  }
}

void LibDB::OrderCells(bool leafLast) {
  cellOrder.clear();
  depth = 0;
  if (hierRecords.size() < cells.size()) hierRecords.resize(cells.size());

  // Breadth-first topological order: a cell is listed once its last parent
  // has been listed. Cells on a placement cycle, and cells placed only below
  // one, never get there and stay out of the order.
  std::vector<int32_t> remaining(cells.size(), 0);
  for (size_t id = 0; id < cells.size(); ++id) {
    if (cells[id] == nullptr) continue;
    remaining[id] = static_cast<int32_t>(hierRecords[id].parents.size());
    if (remaining[id] == 0) cellOrder.push_back(static_cast<int32_t>(id));
  }
  for (auto it = cellOrder.begin(); it != cellOrder.end(); ++it) {
    const HierCellRecord& record = hierRecords[*it];
    for (int32_t child : record.children) {
      if (child < 0 || static_cast<size_t>(child) >= cells.size() ||
          cells[child] == nullptr)
        continue;
      if (--remaining[child] != 0) continue;
      cellOrder.push_back(child);
      const int32_t level = record.level + 1;  // below the number of cells
      hierRecords[child].level = level;
      depth = std::max(depth, level);
    }
  }

  if (leafLast) {
    std::list<int32_t> leaves;
    for (auto it = cellOrder.begin(); it != cellOrder.end();) {
      auto next = std::next(it);
      if ((cells[*it]->flags & DBCell::Leaf) != 0)
        leaves.splice(leaves.end(), cellOrder, it);
      it = next;
    }
    cellOrder.splice(cellOrder.end(), leaves);
  }
}

void LibDB::CollectRoots() {
  roots.clear();
  for (int32_t id : cellOrder) {
    if (static_cast<size_t>(id) >= hierRecords.size() || hierRecords[id].level != 0)
      break;
    roots.push_back(id);
  }
}

void LibDB::PropagateBoxes() {
  for (auto it = cellOrder.rbegin(); it != cellOrder.rend(); ++it) {
    int32_t c = *it;
    if (static_cast<size_t>(c) >= cellDefIndex.size() || cells[c] == nullptr) continue;
    int32_t index = cellDefIndex[c];
    if (index < 0 || static_cast<size_t>(index) >= cellDefs.size()) continue;
    const CellDef* def = cellDefs[index];
    if (def == nullptr || def->cellId != c) continue;
    for (const ARef& ref : def->refs) {
      int32_t child = ref.CellId();
      if (static_cast<size_t>(child) >= cells.size() || cells[child] == nullptr)
        continue;
      const Box& childBox = cells[child]->box;
      if (!childBox.IsValid()) continue;
      cells[c]->box.Merge(ref.GetBox(childBox));
    }
  }
}

namespace {

struct RefreshResult {
  Box placed;  // union of the placed boxes of references to proper children
  Box items;   // union of the tree's item boxes afterwards
};

// Recomputes the placed box of every reference of the tree from its child's
// current box; items whose box changed are taken out and inserted again
// with the new box. A reference whose child is missing or has no proper
// box keeps its item box.
RefreshResult RefreshTree(const OwnedVector<DBCell>& cells, LayerTree& tree) {
  RefreshResult result;
  std::vector<std::pair<SRef*, Box>> moved;
  DBSearchNode* node = DBSearchSystem::First(tree);
  while (node != nullptr) {
    if (!node->IsData() || node->item == nullptr) {
      node = DBSearchSystem::Next(node);
      continue;
    }
    SRef* ref = node->Item<SRef>();
    int32_t child = ref->CellId();
    const DBCell* childCell =
        static_cast<size_t>(child) < cells.size() ? cells[child] : nullptr;
    if (childCell == nullptr || !childCell->box.IsValid()) {
      result.items.Merge(node->box);
      node = DBSearchSystem::Next(node);
      continue;
    }
    Box placed = ref->GetBox(childCell->box);
    result.placed.Merge(placed);
    result.items.Merge(placed);
    if (placed == node->box) {
      node = DBSearchSystem::Next(node);
      continue;
    }
    moved.emplace_back(ref, placed);
    node = DBSearchSystem::Remove(tree, node);
  }
  for (const auto& [ref, box] : moved) DBSearchSystem::Insert(tree, box, ref);
  tree.itemsBox = result.items;
  return result;
}

}  // namespace

bool LibDB::UpdateRefBoxes() {
  // Children come before parents, so every parent sees its children's new
  // boxes. A cell box covers its placed children and its own shapes; when
  // the shapes are not in memory, the stored box is the only record of
  // their extent and is kept as a lower bound.
  bool changed = false;
  for (auto it = cellOrder.rbegin(); it != cellOrder.rend(); ++it) {
    DBCell* cell = cells[*it];
    if (cell == nullptr) continue;
    LayerTree* tree = cell->ReferenceTree();
    if (tree == nullptr || tree->IsEmpty()) continue;
    Box box = RefreshTree(cells, *tree).placed;
    if (HasDrawnLayersInMemory(cell)) {
      box.Merge(cell->RawLayersBox(nullptr));
      box.Merge(cell->IndexedLayersBox(nullptr));
    } else if (HasStoredShapes(cell)) {
      box.Merge(cell->box);
    }
    if (!(box == cell->box)) {
      cell->box = box;
      changed = true;
    }
  }
  return changed;
}

void LibDB::RebuildHierarchy() {
  const int32_t oldDepth = depth;
  // A cell never holds its references without its shapes: what is borrowed
  // here goes again before returning.
  std::vector<DBCell*> borrowed;
  for (DBCell* cell : cells) {
    if (cell == nullptr || !cell->IsEmpty() || cell->refPos < 0 || cell->dbFile == 0)
      continue;
    LoadReferences(cell);
    borrowed.push_back(cell);
  }
  BuildParents();
  OrderCells(false);
  CollectRoots();
  const bool boxChanged = UpdateRefBoxes();
  for (DBCell* cell : borrowed) cell->indexedLayers.erase(ReferenceKey);
  CloseDataFile();
  if (boxChanged || depth != oldDepth) SetFlags(InfoDirty);
  hierChanged = 0;
}

Box LibDB::ComputeCellBox(DBCell* cell) {
  Box box;
  Box raw = cell->RawLayersBox(nullptr);
  if (raw.IsValid()) box = raw;
  if (LayerTree* tree = cell->ReferenceTree()) {
    for (DBSearchNode* node = DBSearchSystem::First(*tree); node != nullptr;
         node = DBSearchSystem::Next(node))
      if (node->IsData()) box.Merge(node->box);
  }
  return box;
}

bool LibDB::RefreshRefBoxes() {
  bool grew = false;
  for (auto it = cellOrder.rbegin(); it != cellOrder.rend(); ++it) {
    DBCell* cell = cells[*it];
    if (cell == nullptr) continue;
    LayerTree* tree = cell->ReferenceTree();
    if (tree == nullptr || tree->IsEmpty()) continue;
    RefreshResult r = RefreshTree(cells, *tree);
    const Box& u = r.items;
    const Box& b = cell->box;
    bool contained = !u.IsValid() || (b.IsValid() && b.Contains(u));
    if (!contained) {
      cell->box.Merge(u);
      grew = true;
    }
  }
  return grew;
}

}  // namespace velmar
