// Library restructuring passes: removing empty cells, replacing arrays by
// single references, flattening small or listed cells into their parents,
// cutting large cells into tiles and moving the own shapes of cells that
// also place others into leaf cells.
//
// Geometry moves between cells by relinking whole trees, shape lists and
// placement lists; only flattening and splitting turn shapes into rings.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "hierarchy/pass_support.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// Adds every accumulated layer to the cell and returns the points.
void InsertLayers(DBCell* cell, LayerRings& rings, bool index) {
  for (auto& [key, list] : rings) {
    if (list.head == nullptr) continue;
    cell->InsertPolygons(list, LayerKey(key), index);
    ClearPointList(list);
  }
  rings.clear();
}

// A cell is small for flattening when one of its sides is at most size (a
// cell without a valid box has no extent at all).
bool IsSmall(const DBCell* cell, int32_t size) {
  return cell->box.Width() <= size || cell->box.Height() <= size;
}

// Flattens the children of cell that pick chooses into it; returns the
// placements flattened.
template <class Pick>
int32_t FlattenChosen(LibDB& lib, DBCell* cell, bool index, Pick pick) {
  LayerTree* refs = cell->ReferenceTree();
  if (refs == nullptr || refs->IsEmpty()) return 0;
  pass::EnsureIndexed(cell);
  // The chosen references leave the tree first: collecting a child may
  // load and index cells, and no tree node is held across that.
  std::vector<SRef*> chosen;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
    if (n->IsData() && n->item != nullptr) {
      SRef* ref = n->Item<SRef>();
      DBCell* child = pass::CellAt(lib, ref->CellId());
      if (child != nullptr && pick(ref->CellId(), child)) {
        chosen.push_back(ref);
        n->item = nullptr;
        n = DBSearchSystem::Remove(*refs, n);
        continue;
      }
    }
    n = DBSearchSystem::Next(n);
  }
  if (chosen.empty()) return 0;
  const std::set<int32_t> allLayers;
  LayerRings acc;
  int32_t count = 0;
  for (SRef* ref : chosen) {
    DBCell* child = lib.cells[size_t(ref->CellId())];
    pass::EnsureLoaded(lib, child);
    const Box window = child->box;
    if (!ref->IsArray()) {
      const Trans t = *ref;
      lib.CollectPolygons(child, &window, &t, &allLayers, &acc, 0);
      count += 1;
    } else {
      const ARef& array = *static_cast<const ARef*>(ref);
      const int32_t cols = std::max<int32_t>(1, array.columns);
      const int32_t rows = std::max<int32_t>(1, array.rows);
      for (int32_t i = 0; i < cols; ++i)
        for (int32_t j = 0; j < rows; ++j) {
          const Trans t = array.ElementTrans(i, j);
          LayerRings element;
          lib.CollectPolygons(child, &window, &t, &allLayers, &element, 0);
          SpliceLayerRings(acc, element);
        }
      count += cols * rows;
    }
    delete ref;
  }
  if (refs->IsEmpty()) {
    cell->indexedLayers.erase(ReferenceKey);
    cell->flags |= DBCell::Leaf;
  }
  InsertLayers(cell, acc, index);
  cell->flags |= DBCell::Modified;
  return count;
}

// Rings of every indexed drawn and work layer of cell inside window (shapes
// crossing it cut at its border), per full layer key.
void LayersInWindow(const DBCell* cell, const Box& window, LayerRings& out) {
  for (const auto& [key, tree] : cell->indexedLayers) {
    if (key >= ReferenceKey) break;
    if (tree.IsEmpty()) continue;
    LayerRings scratch;  // returns its points should gathering throw
    PSList& list = scratch[0];
    GatherLayerRingsInWindow(tree, window, list, false, 1);
    if (list.head != nullptr) SpliceList(out[uint32_t(key)], list);
  }
}

// Union of the items boxes of the cell's indexed drawn and work layers.
Box ShapeLayersBox(const DBCell* cell) {
  Box b;
  for (const auto& [key, tree] : cell->indexedLayers) {
    if (key >= ReferenceKey) break;
    if (tree.itemCount > 0) b.Merge(tree.itemsBox);
  }
  return b;
}

int32_t ClampToInt32(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

int32_t LibDB::RemoveEmptyCells() {
  int32_t total = 0;
  std::vector<char> destroyed(cells.size(), 0);
  std::vector<int32_t> empty;
  for (size_t id = 0; id < cells.size(); ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr) {
      ++total;
      continue;
    }
    if (cell->box.IsValid()) continue;
    empty.push_back(int32_t(id));
    destroyed[id] = 1;
    ++total;
  }
  DestroyCells(empty);
  const bool any = !empty.empty();
  // No reference may name a destroyed cell afterwards.
  if (any) {
    for (DBCell* cell : cells) {
      if (cell == nullptr) continue;
      LayerTree* refs = cell->ReferenceTree();
      if (refs == nullptr || refs->IsEmpty()) continue;
      for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
        if (n->IsData() && n->item != nullptr) {
          const int32_t child = n->Item<SRef>()->CellId();
          if (size_t(child) < destroyed.size() && destroyed[size_t(child)]) {
            delete n->Item<SRef>();
            n->item = nullptr;
            n = DBSearchSystem::Remove(*refs, n);
            cell->flags |= DBCell::Modified;
            continue;
          }
        }
        n = DBSearchSystem::Next(n);
      }
    }
  }
  return total;
}

int32_t LibDB::ReplaceArefsInCell(DBCell* cell, std::vector<SRef*>& out,
                                  LayerTree*& tree) {
  LayerTree* refs = cell->ReferenceTree();
  if (refs == nullptr || refs->IsEmpty()) return 0;
  int32_t arrays = 0;
  const size_t first = out.size();
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;) {
    if (!n->IsData() || n->item == nullptr || !n->Item<SRef>()->IsArray()) {
      n = DBSearchSystem::Next(n);
      continue;
    }
    const ARef* array = n->Item<ARef>();
    const DBCell* child = pass::CellAt(*this, array->CellId());
    const Box childBox = child != nullptr ? child->box : Box();
    const int32_t cols = std::max<int32_t>(1, array->columns);
    const int32_t rows = std::max<int32_t>(1, array->rows);
    for (int32_t i = 0; i < cols; ++i)
      for (int32_t j = 0; j < rows; ++j) {
        SRef* element = new SRef(array->ElementTrans(i, j), array->CellId());
        const Box placed = element->GetBox(childBox);
        bool duplicate = false;
        if (placed.IsValid()) {
          const int32_t cx = int32_t((int64_t(placed.x1) + placed.x2) >> 1);
          const int32_t cy = int32_t((int64_t(placed.y1) + placed.y2) >> 1);
          const Box probe(cx, cy, cx + 1, cy + 1);
          for (DBSearchNode* f = DBSearchSystem::FirstInBox(*refs, probe);
               f != nullptr; f = DBSearchSystem::NextInBox(f, probe)) {
            if (f->item != nullptr &&
                SRef::Compare(f->Item<SRef>(), element) == 0) {
              duplicate = true;
              break;
            }
          }
        }
        if (duplicate)
          delete element;
        else
          out.push_back(element);
      }
    delete array;
    n->item = nullptr;
    n = DBSearchSystem::Remove(*refs, n);
    ++arrays;
  }
  // The elements go in front of the list: newest first.
  std::reverse(out.begin() + std::ptrdiff_t(first), out.end());
  if (arrays > 0) {
    cell->flags |= DBCell::Modified;
    tree = refs;
  }
  return arrays;
}

void LibDB::ReplaceArefs() {
  int32_t arrays = 0, singles = 0;
  std::vector<SRef*> made;
  const size_t n = cells.size();
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    pass::EnsureLoaded(*this, cell);
    made.clear();
    LayerTree* tree = nullptr;
    const int32_t removed = ReplaceArefsInCell(cell, made, tree);
    arrays += removed;
    if (tree == nullptr) {
      for (SRef* r : made) delete r;
      continue;
    }
    for (SRef* r : made) {
      const DBCell* child = pass::CellAt(*this, r->CellId());
      DBSearchSystem::Insert(*tree, r->GetBox(child ? child->box : Box()), r);
      ++singles;
    }
  }
  if (arrays > 0) {
    PrintMessage("  %d arefs are replaced with %d srefs\n", arrays, singles);
    flags |= DataDirty;
  }
}

int32_t LibDB::FlattenSmallInstances(DBCell* cell, int32_t size) {
  return FlattenChosen(*this, cell, true,
                       [size](int32_t, const DBCell* child) {
                         return IsSmall(child, size);
                       });
}

int32_t LibDB::Flatten(int32_t size) {
  pass::PrintHeader("Flattenning");
  const size_t n = cells.size();
  int32_t instances = 0, destroyed = 0;
  // A cell that nothing places is not flattened into anything: destroying
  // it when it is small would lose the layout below it. It takes in its
  // small children instead and stays.
  std::vector<char> placed(n, 0);
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr) continue;
    pass::EnsureLoaded(*this, cell);
    const LayerTree* refs = cell->ReferenceTree();
    if (refs == nullptr) continue;
    for (const DBSearchNode* m = DBSearchSystem::First(*refs); m != nullptr;
         m = DBSearchSystem::Next(m))
      if (m->IsData() && m->item != nullptr &&
          size_t(m->Item<const SRef>()->CellId()) < n)
        placed[size_t(m->Item<const SRef>()->CellId())] = 1;
  }
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr || (cell->flags & DBCell::Leaf)) continue;
    if (!IsSmall(cell, size) || !placed[id])
      instances += FlattenSmallInstances(cell, size);
  }
  std::vector<int32_t> small;
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell != nullptr && placed[id] && IsSmall(cell, size))
      small.push_back(int32_t(id));
  }
  DestroyCells(small);
  destroyed = int32_t(small.size());
  if (instances > 0 || destroyed > 0) {
    PrintMessage("  %d instances of %d cells are flattened\n", instances,
                 destroyed);
    pass::MarkDirectoryDirty(*this);
    ReportSearchSystemMemory(false);
  }
  return destroyed;
}

int32_t LibDB::FlattenGivenInstances(DBCell* cell) {
  return FlattenChosen(*this, cell, false,
                       [this](int32_t id, const DBCell*) {
                         return flattenCells.count(id) != 0;
                       });
}

void LibDB::FlattenGivenCells() {
  pass::PrintHeader("Flattenning given cells");
  const size_t n = cells.size();
  int32_t instances = 0, destroyed = 0;
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr) continue;
    pass::EnsureLoaded(*this, cell);
    if (cell->flags & DBCell::Leaf) continue;
    instances += FlattenGivenInstances(cell);
  }
  std::vector<int32_t> listed;
  for (int32_t id : flattenCells)
    if (pass::CellAt(*this, id) != nullptr) listed.push_back(id);
  DestroyCells(listed);
  destroyed = int32_t(listed.size());
  if (instances > 0 || destroyed > 0) {
    PrintMessage("  %d instances of %d cells are flattened\n", instances,
                 destroyed);
    pass::MarkDirectoryDirty(*this);
    // Roots, parents and boxes must be rebuilt before the library is
    // written: a destroyed cell may have been a root.
    hierChanged = 1;
    ReportSearchSystemMemory(false);
  }
}

int32_t LibDB::SplitCell(DBCell* cell, int32_t size, bool store) {
  // Index first: a cell loaded without trees would otherwise measure as
  // empty and never split.
  pass::EnsureIndexed(cell);
  const Box b = ShapeLayersBox(cell);
  if (!b.IsValid() || size < 1) return 0;
  const double d = unitPerNm;
  const int64_t tolerance = int64_t(1000.0 / d);
  const int64_t w = b.Width(), h = b.Height();
  if (w <= size + tolerance && h <= size + tolerance) return 0;

  const int64_t nx = int64_t(std::ceil(double(w) / size));
  const int64_t ny = int64_t(std::ceil(double(h) / size));
  // Tile corners lie on a grid of 100 nm (at least one database unit).
  const int64_t g = std::max<int64_t>(1, int64_t(100.0 * d));
  const int64_t cx = int64_t(std::ceil(double(w) / double(nx)));
  const int64_t cy = int64_t(std::ceil(double(h) / double(ny)));
  const int64_t sx = (cx + g - 1) / g * g;
  const int64_t sy = (cy + g - 1) / g * g;

  LayerTree& refs = cell->FindOrCreateTree(ReferenceKey, cell->box);
  const std::string base = cell->name != nullptr ? *cell->name : std::string();
  int32_t tiles = 0;
  for (int64_t ix = 0; ix < nx; ++ix)
    for (int64_t iy = 0; iy < ny; ++iy) {
      const Box window(ClampToInt32(b.x1 + ix * sx), ClampToInt32(b.y1 + iy * sy),
                       ClampToInt32(b.x1 + (ix + 1) * sx),
                       ClampToInt32(b.y1 + (iy + 1) * sy));
      if (!window.IsValid()) continue;
      LayerRings rings;
      LayersInWindow(cell, window, rings);
      bool any = false;
      for (const auto& [key, list] : rings) any |= list.head != nullptr;
      if (!any) continue;
      std::string name;
      MakeCellName(base.c_str(), "vlh", tiles, name);
      const int32_t tileId = AddCell(name.c_str());
      DBCell* tile = cells[size_t(tileId)];
      tile->flags |= DBCell::Leaf;
      InsertLayers(tile, rings, true);
      SRef* ref = new SRef(Trans(0, 0, 1.0f, 0), tileId);
      DBSearchSystem::Insert(refs, ref->GetBox(tile->box), ref);
      ++tiles;
      if (store) {
        StoreCell(tile);
        tile->Unload();
      }
    }
  if (tiles == 0) {
    // Nothing was cut out: the cell keeps its shapes.
    if (refs.IsEmpty()) cell->indexedLayers.erase(ReferenceKey);
    return 0;
  }
  // The shapes now live in the tiles; layers above the references stay.
  cell->FreeRawLayers();
  for (auto it = cell->indexedLayers.begin();
       it != cell->indexedLayers.end() && it->first < ReferenceKey;)
    it = cell->indexedLayers.erase(it);
  cell->flags |= DBCell::Modified;
  cell->flags &= uint16_t(~DBCell::Leaf);
  return tiles;
}

void LibDB::Split(int32_t size) {
  pass::PrintHeader("Splitting");
  const size_t n = cells.size();
  int32_t made = 0;
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    pass::EnsureLoaded(*this, cell);
    made += SplitCell(cell, size, false);
  }
  if (made > 0) {
    PrintMessage("  %d cells are created by splitting\n", made);
    pass::MarkDirectoryDirty(*this);
    ReportSearchSystemMemory(false);
    ReportPointSystemMemory(false);
  }
}

int32_t LibDB::SplitLargeCells(int32_t size) {
  int32_t total = 0;
  const size_t n = cells.size();
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    if (cell->startPos == cell->refPos) continue;  // no layer data stored
    if (cell->box.Width() <= size && cell->box.Height() <= size) continue;
    const bool loadedHere = cell->IsEmpty();
    if (loadedHere) LoadCell(cell, false);
    const int32_t made = SplitCell(cell, size, true);
    if (made != 0) {
      total += made;
      StoreCell(cell);
      CloseDataFile();
    }
    if (loadedHere) cell->Unload();
  }
  if (total != 0) flags |= InfoDirty | NamesDirty;
  return total;
}

bool LibDB::MakeLeafCell(DBCell* cell) {
  // Index first: a cell loaded without trees would otherwise keep its
  // shapes next to its references.
  pass::EnsureIndexed(cell);
  const Box b = cell->IndexedLayersBox(nullptr);
  if (!b.IsValid()) return false;

  std::string name;
  MakeCellName(cell->name != nullptr ? cell->name->c_str() : "", "vlh", 0,
               name);
  const int32_t leafId = AddCell(name.c_str());
  DBCell* leaf = cells[size_t(leafId)];
  leaf->box = b;
  for (auto it = cell->indexedLayers.begin();
       it != cell->indexedLayers.end() && it->first < ReferenceKey;) {
    // Work layers go too: the leaf's box covers them as well.
    if (it->second.itemCount > 0) leaf->box.Merge(it->second.itemsBox);
    LayerTree& moved = leaf->FindOrCreateTree(it->first, b);
    DBSearchSystem::MoveItemsTo(it->second, moved);
    it = cell->indexedLayers.erase(it);
  }
  for (auto& [key, layer] : cell->rawLayers)
    CPgonList::Splice(leaf->FindOrCreateRawLayer(key), layer);
  cell->rawLayers.clear();

  LayerTree& refs = cell->FindOrCreateTree(ReferenceKey, cell->box);
  SRef* ref = new SRef(Trans(0, 0, 1.0f, 0), leafId);
  DBSearchSystem::Insert(refs, ref->GetBox(leaf->box), ref);
  leaf->flags |= DBCell::Modified | DBCell::Leaf;
  cell->flags |= DBCell::Modified;
  cell->flags &= uint16_t(~DBCell::Leaf);
  return true;
}

void LibDB::CreateLeafCells() {
  pass::PrintHeader("Creating leaf cells");
  const size_t n = cells.size();
  int32_t made = 0;
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = cells[id];
    if (cell == nullptr || !cell->box.IsValid()) continue;
    pass::EnsureLoaded(*this, cell);
    if (cell->flags & DBCell::Leaf) continue;
    if (MakeLeafCell(cell)) ++made;
  }
  if (made > 0) {
    PrintMessage("  %d leaf cells were created\n", made);
    pass::MarkDirectoryDirty(*this);
  }
}

}  // namespace velmar
