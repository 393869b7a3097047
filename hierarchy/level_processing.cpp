// Level-by-level processing: the top-down walk, the environment of every
// placement, and the inverse of a cell.
#include <algorithm>
#include <cctype>
#include <climits>
#include <ctime>
#include <map>

#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "hierarchy/env_variants.h"
#include "hierarchy/hierarchy_handler.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"

namespace velmar {

namespace {

const char* Now() {
  const time_t now = std::time(nullptr);
  return std::ctime(&now);
}

// The box widened by m on every side (m may be negative), formed in 64 bits
// and clamped to the coordinate range. An empty box stays empty.
Box Widened(const Box& b, int64_t m) {
  if (b.x1 > b.x2 || b.y1 > b.y2) return b;
  return Box(ClampToInt32(int64_t(b.x1) - m), ClampToInt32(int64_t(b.y1) - m),
             ClampToInt32(int64_t(b.x2) + m), ClampToInt32(int64_t(b.y2) + m));
}

// (y2 - y1) * (x2 - x1) in extended precision; 0 for a box that is not
// valid.
long double Area(const Box& b) {
  if (!b.IsValid()) return 0;
  return ((long double)b.y2 - b.y1) * ((long double)b.x2 - b.x1);
}

// The ring of a placed shape (shape decoded and moved by its placement).
void PlacedRing(const LocListNode* p, PSList& ring) {
  p->owner->polygon->ToRing(ring);
  for (PSPoint* v = ring.head; v != nullptr; v = v->link) {
    v->x = ClampToInt32(int64_t(v->x) + p->x);
    v->y = ClampToInt32(int64_t(v->y) + p->y);
  }
}

// True when the shape of a search-tree item found in window counts as lying
// in it: a square or rectangle, an item box inside the window, or a ring
// that keeps something once clipped to the window.
bool ShapeCounts(const DBSearchNode* node, const Box& window) {
  const LocListNode* p = node->Item<const LocListNode>();
  const DBPolygon& polygon = *p->owner->polygon;
  if (polygon.IsSquare() || polygon.IsRectangle()) return true;
  if (window.Contains(node->box)) return true;
  ScratchList ring;
  PlacedRing(p, ring.list);
  ClipToWindow(ring.list, window, false);
  return ring.list.head != nullptr;
}

// Maps every point of every list by t.
void MapRings(LayerRings& rings, const Trans& t) {
  for (auto& [key, list] : rings)
    for (PSPoint* v = list.head; v != nullptr; v = v->link) t.Apply(v->x, v->y);
}

// A name made for a leaf or tile cell, possibly as a variant of one:
// trailing digits, then any number of "_<marker><digits>" groups stripped,
// what remains ends with "_<marker>h". The first character is never
// examined.
bool IsGeneratedLeafName(const std::string& name, const std::string& marker) {
  size_t end = name.size();
  auto stripDigits = [&] {
    while (end > 1 && std::isdigit((unsigned char)name[end - 1])) --end;
  };
  auto endsWith = [&](const std::string& s) {
    return end >= s.size() + 1 && name.compare(end - s.size(), s.size(), s) == 0;
  };
  const std::string variant = "_" + marker;
  const std::string leaf = "_" + marker + "h";
  stripDigits();
  while (endsWith(variant)) {
    end -= variant.size();
    stripDigits();
  }
  return endsWith(leaf);
}

// The placement of the cell a frame's cursor stands at (an array element
// when the frame records one).
Trans FramePlacement(const HierFrame& f) {
  const SRef* ref = f.cursor->Item<const SRef>();
  if (ref->IsArray() && f.column >= 0)
    return static_cast<const ARef*>(ref)->ElementTrans(f.column, f.row);
  return *ref;
}

}  // namespace

// ---------------------------------------------------------------------------

DBCell* HierarchyHandler::Ready(int32_t id) {
  DBCell* cell = lib->cells[size_t(id)];
  LoadCellOnDemand(*lib, cell, true);
  if (!cell->rawLayers.empty() && !cell->IsIndexed()) cell->IndexLayers();
  return cell;
}

bool LibDB::HasGeometryInWindow(DBCell* cell, const Box& window,
                                const LayerKeySet& filter) {
  LoadCellOnDemand(*this, cell, true);
  if (!window.IsValid()) return false;
  HierIterator it(this, cell, &window, &filter, -1);
  Trans t;
  int32_t key = 0;
  for (DBSearchNode* node = it.First(&t, &key); node != nullptr;
       node = it.Next(&t, &key))
    if (ShapeCounts(node, it.frames.front().window)) return true;
  return false;
}

void HierarchyHandler::Prepare() {
  LibDB& L = *lib;
  if (L.hierRecords.size() < L.cells.size()) L.hierRecords.resize(L.cells.size());
  for (auto it = L.cellOrder.rbegin(); it != L.cellOrder.rend(); ++it) {
    const int32_t c = *it;
    DBCell* cell = Ready(c);
    HierCellRecord& R = L.hierRecords[size_t(c)];
    R.originId = c;
    R.box1.SetEmpty();
    R.box2.SetEmpty();
    const Box b1 = cell->IndexedLayersBox(&layers1);
    if (b1.IsValid()) R.box1 = b1;
    if (layersDiffer) {
      const Box b2 = cell->IndexedLayersBox(&layers2);
      if (b2.IsValid()) R.box2 = b2;
    } else {
      R.box2 = R.box1;
    }
    const LayerTree* tree = cell->ReferenceTree();
    if (tree == nullptr) continue;
    for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
         n = DBSearchSystem::Next(n)) {
      if (!n->IsData() || n->item == nullptr) continue;
      const SRef* ref = n->Item<const SRef>();
      const HierCellRecord& K = L.hierRecords[size_t(ref->CellId())];
      if (K.box1.IsValid()) R.box1.Merge(ref->GetBox(K.box1));
      if (K.box2.IsValid()) R.box2.Merge(ref->GetBox(K.box2));
    }
  }
}

void HierarchyHandler::StoreAndRelease(int32_t id) {
  DBCell* cell = lib->cells[size_t(id)];
  if (cell->flags & DBCell::Modified) lib->StoreCell(cell);
  if (inverseMode == 0)
    for (auto it = cell->indexedLayers.lower_bound(WorkLayerKey);
         it != cell->indexedLayers.end(); ++it)
      if (!it->second.IsEmpty()) cell->box.Merge(it->second.itemsBox);
  cell->Unload();
}

void HierarchyHandler::ProcessLevels() {
  LibDB& L = *lib;
  int32_t p = 1;
  int32_t level = 0;
  bool leaves = false;
  for (auto it = L.cellOrder.begin(); it != L.cellOrder.end(); ++it, ++p) {
    const int32_t c = *it;
    DBCell* cell = L.cells[size_t(c)];
    if (!leaves) {
      if (cell->flags & DBCell::Leaf) {
        ++level;
        leaves = true;
        PrintMessage("%s(%d) Leaf Level Started...\n", Now(), p);
      } else if (L.hierRecords[size_t(c)].level > level) {
        ++level;
        PrintMessage("%s(%d) Level %d Started...\n", Now(), p, level);
      }
    }
    if (L.excludeCells.count(c) != 0) {
      PrintMessage("excluding cell %s\n", cell->name ? cell->name->c_str() : "");
    } else if (L.hierRecords[size_t(c)].variants != nullptr) {
      const auto before = it;
      ProcessVariants(it);
      p += int32_t(std::distance(before, it));
      continue;
    } else {
      ScratchList inverse;
      Ready(c);
      if (inverseMode != 0) CellInverse(c, inverse.list);
      L.hierRecords[size_t(c)].processedVertexCount = 0;
      if (cell->ReferenceTree() != nullptr && !cell->ReferenceTree()->IsEmpty())
        ProcessCell(c);
      if (inverseMode != 0) cell->InsertPolygons(inverse.list, resultKey, false);
    }
    if ((cell->flags & DBCell::Leaf) || inverseMode != 0) StoreAndRelease(c);
  }

  if (inverseMode != 0) {
    bool dropped = false;
    for (auto it = L.layers.begin(); it != L.layers.end();) {
      if (LayerOf(it->first) > 255 && it->first != ReferenceKey) {
        it = L.layers.erase(it);
        dropped = true;
      } else {
        ++it;
      }
    }
    if (dropped) L.SetFlags(LibDB::InfoDirty);
  }
}

void HierarchyHandler::ProcessCell(int32_t parentId) {
  LibDB& L = *lib;
  DBCell* P = Ready(parentId);
  LayerTree* tree = P->ReferenceTree();
  if (tree == nullptr || tree->IsEmpty()) return;
  std::vector<std::pair<SRef*, int32_t>> pending;
  // Equal placements (the elements of an array of zero pitch, or a shape
  // placed twice at one spot) have equal surroundings: the walk around
  // each leaves out only itself and finds the others. The first one's
  // environment is worked out; the others take the cell it got. The
  // references keep their cells until the end, so the keys stay put.
  auto before = [](const SRef* a, const SRef* b) { return SRef::Compare(a, b) < 0; };
  std::map<const SRef*, int32_t, decltype(before)> placed(before);
  for (DBSearchNode* node = DBSearchSystem::First(*tree); node != nullptr;
       node = DBSearchSystem::Next(node)) {
    if (!node->IsData() || node->item == nullptr) continue;
    SRef* r = node->Item<SRef>();
    const int32_t K = r->CellId();
    if (L.excludeCells.count(K) != 0) continue;
    if (!L.hierRecords[size_t(K)].box1.IsValid()) continue;
    if (!r->IsArray()) {
      auto same = placed.find(r);
      if (same != placed.end()) {
        const int32_t v = same->second;
        if (v != K) {
          pending.emplace_back(r, v);
          L.CopyHierRecord(parentId, K, v);
          P->flags |= DBCell::Modified;
        }
        continue;
      }
    }
    const Box W = Widened(r->GetBox(L.hierRecords[size_t(K)].box1), margin);
    Trans inv = *r;
    inv.Invert();

    std::vector<std::unique_ptr<SRef>> E;
    CollectEnvironmentRefs(parentId, W, *r, E);
    // Equal placements (arrays of zero pitch stack them) bring equal
    // geometry: each is taken once.
    SortUniqueRefs(E);

    LayerRings A;
    const bool childLeaf = (Ready(K)->flags & DBCell::Leaf) != 0;
    std::vector<std::unique_ptr<SRef>> kept;
    for (std::unique_ptr<SRef>& e : E) {
      const int32_t F = e->CellId();
      DBCell* fc = Ready(F);
      const Trans toChild = Trans::Compose(*e, inv);
      if (ShouldBringIn(K, *r, F, *e, W)) {
        LayerRings g;
        fc->IndexedLayersToRings(ChildWindow(*e, W), layers2, g, 0, 0);
        MapRings(g, toChild);
        SpliceLayerRings(A, g);
      } else if (inverseMode != 0 && childLeaf) {
        Box fb = fc->box;
        toChild.TransformBox(fb);
        // Only the part over the child counts: its inverse is bounded by
        // its box.
        const Box& kb = L.cells[size_t(K)]->box;
        const Box cut(std::max(fb.x1, kb.x1), std::max(fb.y1, kb.y1),
                      std::min(fb.x2, kb.x2), std::min(fb.y2, kb.y2));
        if (cut.IsValid() && !fc->indexedLayers.empty())
          BoxToRing(A[uint32_t(fc->indexedLayers.begin()->first & 0xFFFF)], cut,
                    false);
      } else {
        // A neighbour kept as a reference is stored in the child, so it is
        // held in the child's coordinates.
        *static_cast<Trans*>(e.get()) = toChild;
        kept.push_back(std::move(e));
      }
    }
    SortUniqueRefs(kept);

    // The environment the parent itself received from above.
    {
      LayerRings g;
      P->IndexedLayersToRings(W, layers2, g, 2, 0);
      MapRings(g, inv);
      SpliceLayerRings(A, g);
    }

    auto record = std::make_unique<HierWorkRecord>();
    record->refs = std::move(kept);
    EncodeEnvironment(K, A, *record);
    const int32_t v = AssignVariant(parentId, K, r, std::move(record), pending);
    if (!r->IsArray()) placed.emplace(r, v);
  }
  for (auto& [ref, id] : pending) ref->SetCellId(id);
}

void HierarchyHandler::CollectEnvironmentRefs(
    int32_t parentId, const Box& window, const SRef& childRef,
    std::vector<std::unique_ptr<SRef>>& out) {
  LibDB& L = *lib;
  DBCell* P = Ready(parentId);
  DBCell* K = Ready(childRef.CellId());
  Trans inv = childRef;
  inv.Invert();
  HierIterator it(lib, P, &window, &layers2, -1);
  it.excluded = &childRef;
  Trans t;
  int32_t key = 0;
  DBSearchNode* node = it.First(&t, &key, true);
  while (node != nullptr) {
    if (it.frames.size() < 2 || !ShapeCounts(node, it.frames.front().window)) {
      node = it.Next(&t, &key);
      continue;
    }
    // The shape lies in cell X, placed by the frame below the layer frame.
    const int32_t x = it.frames[1].cursor->Item<const SRef>()->CellId();
    bool add = inverseMode != 0;
    if (!add) {
      Box B = Widened(L.hierRecords[size_t(x)].box2, margin);
      t.TransformBox(B);
      inv.TransformBox(B);
      add = L.HasGeometryInWindow(K, B, layers1);
    }
    if (add) out.push_back(std::make_unique<SRef>(t, L.hierRecords[size_t(x)].originId));
    // Leave X: the walk stands in the cell Y that placed it.
    it.frames.pop_front();
    if (!add) {
      // Climb while the branch around stays far from the child's geometry.
      while (it.frames.size() >= 2) {
        HierFrame& z = it.frames[1];  // Z, standing at Y's placement
        const bool single = z.column < 0;
        if (single && z.row >= 1) break;  // examined already
        if (single) z.row = 1;
        const Trans place = FramePlacement(z);
        const int32_t y = z.cursor->Item<const SRef>()->CellId();
        Box B = L.hierRecords[size_t(y)].box2;
        place.TransformBox(B);
        B = Widened(B, margin);
        z.trans.TransformBox(B);
        inv.TransformBox(B);
        if (L.HasGeometryInWindow(K, B, layers1)) break;
        it.frames.pop_front();  // leave Y as well
      }
    }
    const HierFrame& top = it.frames.front();
    it.cell = top.cell;
    it.window = top.window;
    it.trans = top.trans;
    it.cursor = top.cursor;
    node = it.Next(&t, &key, true);
  }
}

bool HierarchyHandler::ShouldBringIn(int32_t childId, const SRef& childRef,
                                     int32_t neighbourId,
                                     const SRef& neighbourRef,
                                     const Box& window) {
  (void)childRef;
  LibDB& L = *lib;
  const DBCell* K = L.cells[size_t(childId)];
  const DBCell* F = L.cells[size_t(neighbourId)];
  const long double aK = Area(K->box);
  const long double aF = Area(F->box);
  if (K->flags & DBCell::Leaf) {
    if (inverseMode == 0) return true;
    return aF > aK || (aF == aK && childId <= neighbourId);
  }
  if (inverseMode > 1) return false;
  if (aF >= 5 * aK) return true;
  if (F->name != nullptr && IsGeneratedLeafName(*F->name, marker)) return true;
  const Box placedF = neighbourRef.GetBox(F->box);
  return placedF.Contains(Widened(window, -int64_t(margin)));
}

void HierarchyHandler::CellInverse(int32_t cellId, PSList& out) {
  DBCell* c = Ready(cellId);
  const Box Q = c->box;
  if (!Q.IsValid()) return;
  if (c->flags & DBCell::Leaf) {
    ScratchList T;
    for (const auto& [key, tree] : c->indexedLayers) {
      if (key >= ReferenceKey) break;
      if (!tree.IsEmpty()) GatherLayerRings(tree, T.list, false);
    }
    ReverseList(T.list);
    BoxToRing(T.list, Q, false);
    ScratchList merged;
    BooleanSweep(T.list, &merged.list, BooleanOpCode::Merge, false);
    if (merged.list.head != nullptr)
      BooleanSweep(merged.list, nullptr, BooleanOpCode::CutHoles, false);
    SpliceList(out, merged.list);
    return;
  }

  auto invertTile = [&](const Box& t) {
    ScratchList T;
    if (inverseMode <= 1)
      for (const auto& [key, tree] : c->indexedLayers) {
        if (key >= ReferenceKey) break;
        if (!tree.IsEmpty()) GatherLayerRingsInWindow(tree, t, T.list, false, 0);
      }
    for (LayerKey k : {ReferenceKey, EnvReferenceKey}) {
      auto it = c->indexedLayers.find(k);
      if (it == c->indexedLayers.end() || it->second.IsEmpty()) continue;
      for (DBSearchNode* n = DBSearchSystem::FirstInBox(it->second, t);
           n != nullptr; n = DBSearchSystem::NextInBox(n, t))
        if (n->item != nullptr) BoxToRing(T.list, n->box, false);
    }
    if (T.list.head == nullptr) {
      BoxToRing(out, t, false);
      return;
    }
    ReverseList(T.list);
    BoxToRing(T.list, t, false);
    ScratchList merged;
    BooleanSweep(T.list, &merged.list, BooleanOpCode::Merge, false);
    if (merged.list.head != nullptr)
      BooleanSweep(merged.list, nullptr, BooleanOpCode::CutHoles, false);
    SpliceList(out, merged.list);
  };

  const int64_t W = int64_t(Q.x2) - Q.x1, H = int64_t(Q.y2) - Q.y1;
  if (splitSize < 1 || (W <= splitSize && H <= splitSize)) {
    invertTile(Q);
    return;
  }
  // The tile grid of cell splitting: pitches rounded up to multiples of
  // 100 nm (at least one database unit).
  const int64_t g = std::max<int64_t>(1, int64_t(100 * lib->unitPerNm));
  const int64_t nx = (W + splitSize - 1) / splitSize;
  const int64_t ny = (H + splitSize - 1) / splitSize;
  int64_t sx = (W + nx - 1) / nx, sy = (H + ny - 1) / ny;
  sx = (sx + g - 1) / g * g;
  sy = (sy + g - 1) / g * g;
  for (int64_t ix = 0; ix < nx; ++ix)
    for (int64_t iy = 0; iy < ny; ++iy) {
      const int64_t x1 = Q.x1 + ix * sx, y1 = Q.y1 + iy * sy;
      if (x1 >= Q.x2 || y1 >= Q.y2) continue;
      const Box t(ClampToInt32(x1), ClampToInt32(y1),
                  ClampToInt32(std::min<int64_t>(x1 + sx, Q.x2)),
                  ClampToInt32(std::min<int64_t>(y1 + sy, Q.y2)));
      invertTile(t);
    }
}

}  // namespace velmar
