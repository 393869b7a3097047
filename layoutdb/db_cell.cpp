// Cells and their layer stores: adding shapes, indexing, copying, dropping
// and freeing layers, boxes and vertex counts.
#include "layoutdb/db_cell.h"

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/error.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/trans.h"

namespace velmar {

namespace {

void CheckShapeKey(LayerKey key) {
  if (!IsShapeLayerKey(key))
    throw Error("Layer key " + std::to_string(key) + " cannot hold shapes",
                "DB");
}

// Gives tree one item per placement of first and every shape after it.
void InsertItems(LayerTree& tree, const CPgonListNode* first) {
  for (const CPgonListNode* s = first; s != nullptr; s = s->next) {
    const Box rel = s->polygon->RelativeBox();
    for (LocListNode* p = s->placements.first; p != nullptr; p = p->next)
      DBSearchSystem::Insert(tree, PlacedBox(rel, p->x, p->y), p);
  }
}

// Fills tree with one item per placement of layer; a tree that holds items
// is emptied first, so no placement ever gets two.
void FillTree(LayerTree& tree, const CPgonList& layer) {
  tree.ClearItems();
  InsertItems(tree, layer.first);
}

// Gives a new placement its item when its layer has a tree.
void IndexPlacement(DBCell& cell, LayerKey key, LocListNode* p) {
  auto it = cell.indexedLayers.find(key);
  if (it == cell.indexedLayers.end()) return;
  DBSearchSystem::Insert(
      it->second, PlacedBox(p->owner->polygon->RelativeBox(), p->x, p->y), p);
}

// Appends polygon to layer key of the cell as a new shape placed once at
// (x, y) and indexes the placement; sets shape and count (the layer's shape
// count). Returns the polygon's kind.
int AppendPlacedShape(DBCell& cell, LayerKey key,
                      std::unique_ptr<DBPolygon> polygon, int32_t x, int32_t y,
                      CPgonListNode*& shape, int& count) {
  const int kind = int(polygon->Kind());
  RawLayer& layer = cell.FindOrCreateRawLayer(key);
  shape = CPgonList::Append(layer, std::move(polygon));
  IndexPlacement(cell, key, LocList::Append(shape->placements, shape, x, y));
  count = layer.count;
  return kind;
}

}  // namespace

Box PlacedBox(const Box& rel, int32_t x, int32_t y, const char* unit) {
  const int64_t x1 = int64_t(rel.x1) + x;
  const int64_t y1 = int64_t(rel.y1) + y;
  const int64_t x2 = int64_t(rel.x2) + x;
  const int64_t y2 = int64_t(rel.y2) + y;
  if (x1 < INT32_MIN || y1 < INT32_MIN || x2 > INT32_MAX || y2 > INT32_MAX)
    throw Error("Shape placed beyond the coordinate range", unit);
  return Box(int32_t(x1), int32_t(y1), int32_t(x2), int32_t(y2));
}

// ---------------------------------------------------------------------------
// LayerTree

LayerTree::~LayerTree() {
  if (ownsItems_) DBCell::FreeTreeItems(*this);
  DBSearchSystem::Clear(*this);
}

void LayerTree::ClearItems() {
  if (!IsEmpty()) DBSearchSystem::Clear(*this);
  itemCount = 0;
  itemsBox = Box();
}

// ---------------------------------------------------------------------------
// DBCell basics

DBCell::~DBCell() {
  // Trees first: their items point into the raw layers.
  indexedLayers.clear();
  rawLayers.clear();
}

bool DBCell::IsIndexed() const {
  return !rawLayers.empty() && !indexedLayers.empty() &&
         indexedLayers.begin()->first < ReferenceKey;
}

RawLayer& DBCell::FindOrCreateRawLayer(LayerKey key) {
  CheckShapeKey(key);
  return rawLayers.try_emplace(key).first->second;
}

LayerTree& DBCell::FindOrCreateTree(LayerKey key, const Box& region) {
  return indexedLayers.try_emplace(key, key, region).first->second;
}

bool DBCell::HasRefs(IndexedLayerMap::iterator& out) {
  out = indexedLayers.find(ReferenceKey);
  return out != indexedLayers.end() && out->second.Root() != nullptr;
}

int64_t DBCell::VertexCount(bool workOnly) const {
  int64_t total = 0;
  for (auto it = workOnly ? rawLayers.lower_bound(WorkLayerKey)
                          : rawLayers.begin();
       it != rawLayers.end(); ++it) {
    for (const CPgonListNode* s = it->second.first; s != nullptr; s = s->next)
      total += int64_t(s->polygon->VertexCount()) * s->placements.count;
  }
  return total;
}

Box DBCell::RawLayersBox(const LayerKeySet* filter) const {
  Box result;
  for (const auto& [key, layer] : rawLayers) {
    if (key >= WorkLayerKey) break;
    if (layer.count == 0 || !PassesFilter(filter, key)) continue;
    for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
      const Box rel = s->polygon->RelativeBox();
      for (const LocListNode* p = s->placements.first; p; p = p->next)
        result.Merge(PlacedBox(rel, p->x, p->y));
    }
  }
  return result;
}

Box DBCell::IndexedLayersBox(const LayerKeySet* filter) const {
  Box result;
  for (const auto& [key, tree] : indexedLayers) {
    if (key >= WorkLayerKey) break;
    if (tree.IsEmpty() || !PassesFilter(filter, key)) continue;
    result.Merge(tree.itemsBox);
  }
  return result;
}

void DBCell::PrintReferences() const {
  const LayerTree* refs = ReferenceTree();
  if (refs == nullptr) return;
  for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData() || n->item == nullptr) continue;
    const SRef* r = n->Item<const SRef>();
    PrintMessage("  %d: (%d, %d):%d\n", r->CellId(), r->x, r->y,
                 int(r->orientation));
  }
}

// ---------------------------------------------------------------------------
// Adding geometry

void DBCell::AddBox(const Box& b, LayerKey key, CPgonListNode*& shape) {
  CheckShapeKey(key);
  const int64_t w = b.Width();
  const int64_t h = b.Height();
  if (w < 0 || h < 0 || w > INT32_MAX || h > INT32_MAX)
    throw Error("Box cannot be stored", "DB");
  RawLayer& layer = FindOrCreateRawLayer(key);
  box.Merge(b);
  std::unique_ptr<DBPolygon> polygon =
      w == h ? std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                           std::vector<int32_t>{int32_t(w)})
             : std::make_unique<DBPolygon>(
                   DBPolygon::kRectangleHeader,
                   std::vector<int32_t>{int32_t(w), int32_t(h)});
  shape = CPgonList::Append(layer, std::move(polygon));
  IndexPlacement(*this, key, LocList::Append(shape->placements, shape, b.x1,
                                             b.y1));
}

int DBCell::AddPolygon(PSList& rings, LayerKey key, CPgonListNode*& shape,
                       Box& outBox, int& count) {
  CheckShapeKey(key);
  if (rings.head == nullptr) throw Error("No polygon to add", "DB");
  OrientRings(rings);
  outBox = ListBBox(rings);
  // Encode before anything changes, so an encoding error leaves the cell as
  // it was.
  PSPoint* origin = LowestLeftPoint(rings.head);
  std::unique_ptr<DBPolygon> polygon = DBPolygon::Build(origin);
  box.Merge(outBox);
  return AppendPlacedShape(*this, key, std::move(polygon), origin->x, origin->y,
                           shape, count);
}

int DBCell::AddRing(PSPoint* ring, LayerKey key, CPgonListNode*& shape,
                    int& count) {
  CheckShapeKey(key);
  if (ring == nullptr) throw Error("No polygon to add", "DB");
  PSPoint* origin = LowestLeftPoint(ring);
  std::unique_ptr<DBPolygon> polygon = DBPolygon::Build(origin);
  return AppendPlacedShape(*this, key, std::move(polygon), origin->x, origin->y,
                           shape, count);
}

LocListNode* DBCell::AddSharedRing(PSPoint* ring, LayerKey key) {
  CheckShapeKey(key);
  if (ring == nullptr) throw Error("No polygon to add", "DB");
  PSPoint* origin = LowestLeftPoint(ring);
  std::unique_ptr<DBPolygon> polygon = DBPolygon::Build(origin);
  RawLayer& layer = FindOrCreateRawLayer(key);
  CPgonListNode* shape = CPgonList::LowerBound(layer, *polygon);
  if (shape == nullptr ||
      DBPolygonExt::Compare(shape->polygon.get(), polygon.get()) != 0)
    shape = CPgonList::InsertBefore(layer, shape, std::move(polygon));
  LocListNode* p =
      LocList::Append(shape->placements, shape, origin->x, origin->y);
  IndexPlacement(*this, key, p);
  return p;
}

int DBCell::InsertPolygons(PSList& rings, LayerKey key, bool index) {
  CheckShapeKey(key);
  if (rings.head == nullptr) return 1;

  // The rings become shapes of their own first (sorted, equal ones merged):
  // an encoding error then leaves the cell as it was.
  const Box ringsBox = ListBBox(rings);
  OrientRings(rings);
  RawLayer fresh;
  CPgonList::AddRings(fresh, rings);
  if (fresh.first == nullptr) return 1;

  const bool indexed = IsIndexed();
  if (index && !indexed && !rawLayers.empty()) IndexLayers();
  const bool indexing = index || indexed;

  RawLayer& layer = rawLayers.try_emplace(key).first->second;
  LayerTree* tree = nullptr;
  if (indexing) {
    auto [treeIt, treeCreated] = indexedLayers.try_emplace(key, key, ringsBox);
    tree = &treeIt->second;
    // Shapes the layer held without a tree get their items too.
    if (treeCreated && layer.count != 0) FillTree(*tree, layer);
  }

  // The new shapes join the layer at its end and get their items; then the
  // layer is sorted and merged as a whole. Merging keeps placement nodes (a
  // placement moved to the first of equal shapes keeps its node and place,
  // so its item stays valid); only placements dropped as duplicates lose
  // their node.
  const bool wasEmpty = layer.first == nullptr;
  CPgonListNode* const firstNew = fresh.first;
  CPgonList::Splice(layer, fresh);
  if (tree != nullptr) InsertItems(*tree, firstNew);
  if (!wasEmpty) {
    if (CPgonList::SortAndMergeEqualShapes(layer) != 0 && tree != nullptr) {
      // Dropped placements may be older ones with items: the tree is
      // rebuilt from the placements, so no item outlives its placement.
      tree->region.Merge(ringsBox);
      FillTree(*tree, layer);
    }
  }

  flags |= Modified;
  if (box.Contains(ringsBox)) return 1;
  box.Merge(ringsBox);
  return 2;
}

// ---------------------------------------------------------------------------
// Indexing

void DBCell::IndexLayers() {
  for (auto& [key, layer] : rawLayers) {
    LayerTree& tree = FindOrCreateTree(key, box);
    tree.region.Merge(box);  // an older tree's region may lag behind
    FillTree(tree, layer);
  }
}

// ---------------------------------------------------------------------------
// Copying, dropping, freeing

void DBCell::Copy(DBCell& target) const {
  if (&target == this) throw Error("A cell cannot be copied into itself", "DB");

  if (target.IsEmpty()) {
    target.box = box;
  } else {
    const Box own = target.box;
    target.box = box;
    target.box.Merge(own);
  }

  const LayerTree* refs = ReferenceTree();
  if (refs != nullptr && !refs->IsEmpty()) {
    LayerTree& to = target.FindOrCreateTree(ReferenceKey, refs->itemsBox);
    for (DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
         n = DBSearchSystem::Next(n)) {
      if (!n->IsData() || n->item == nullptr) continue;
      const SRef* r = n->Item<const SRef>();
      SRef* copy = r->IsArray() ? new ARef(*static_cast<const ARef*>(r))
                                : new SRef(*r);
      DBSearchSystem::Insert(to, n->box, copy);
    }
  }

  for (const auto& [key, layer] : rawLayers) {
    if (key >= WorkLayerKey) break;
    RawLayer& to = target.FindOrCreateRawLayer(key);
    auto [treeIt, treeCreated] =
        target.indexedLayers.try_emplace(key, key, box);
    LayerTree& tree = treeIt->second;
    // Shapes the target held in a layer without a tree get their items too.
    if (treeCreated && to.count != 0) FillTree(tree, to);
    for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
      CPgonListNode* shape =
          CPgonList::Append(to, DBPolygon::Copy(*s->polygon));
      const Box rel = shape->polygon->RelativeBox();
      for (const LocListNode* p = s->placements.first; p; p = p->next) {
        LocListNode* q = LocList::Append(shape->placements, shape, p->x, p->y);
        DBSearchSystem::Insert(tree, PlacedBox(rel, q->x, q->y), q);
      }
    }
  }

  target.flags |= Modified;
  if (flags & Leaf) target.flags |= Leaf;
}

bool DBCell::DropWorkLayers() {
  bool removed = false;
  // Trees first: the items of work layer trees point into the raw layers.
  for (auto it = indexedLayers.lower_bound(WorkLayerKey);
       it != indexedLayers.end();) {
    if (it->first == ReferenceKey) {
      ++it;
      continue;
    }
    it = indexedLayers.erase(it);  // owned items deleted, nodes freed
    removed = true;
  }
  for (auto it = rawLayers.lower_bound(WorkLayerKey); it != rawLayers.end();) {
    it = rawLayers.erase(it);  // shapes, polygons, placements released
    removed = true;
  }
  return removed;
}

void DBCell::FreeTreeItems(LayerTree& tree) {
  if (!tree.OwnsItems()) return;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    delete n->Item<SRef>();
    n->item = nullptr;
  }
}

void DBCell::Unload() {
  FreeRawLayers();
  indexedLayers.clear();  // reference trees delete their references
  flags &= uint16_t(~(Modified | Loaded));
}

bool DBCell::FreeRawLayers() {
  // The trees of drawn and work layers point at the placements about to be
  // released: they go with them.
  for (auto it = indexedLayers.begin();
       it != indexedLayers.end() && it->first < ReferenceKey;)
    it = indexedLayers.erase(it);
  const bool had = !rawLayers.empty();
  rawLayers.clear();
  return had;
}

}  // namespace velmar
