// Environment variants: encoding an environment, giving each distinct
// environment of a cell its own cell, processing the variants, and merging
// variants that end up equal.
#include <algorithm>
#include <climits>
#include <cmath>

#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/sizing.h"
#include "hierarchy/env_variants.h"
#include "hierarchy/hierarchy_handler.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"

namespace velmar {

namespace {

Box Widened(const Box& b, int64_t m) {
  if (b.x1 > b.x2 || b.y1 > b.y2) return b;
  return Box(ClampToInt32(int64_t(b.x1) - m), ClampToInt32(int64_t(b.y1) - m),
             ClampToInt32(int64_t(b.x2) + m), ClampToInt32(int64_t(b.y2) + m));
}

// Grows (size > 0) or shrinks the region of list into out, merged.
void SizeRegion(PSList& list, PSList& out, int32_t size) {
  ScratchList sized;
  SizeList(list, sized.list, size, 1);
  ClearPointList(list);
  BooleanSweepAsDrawn(sized.list, &out, BooleanOpCode::Merge);
}

// Every ring of the list with its bounding box.
void IndexRings(PSList& list, std::vector<std::pair<PSPoint*, Box>>& out) {
  for (PSPoint* p = list.head; p != nullptr; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      q = q->next;
    } while (q != nullptr && q != p);
    out.emplace_back(p, RingBBox(p));
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
}

// Copies into out the rings whose boxes meet box (touching included).
void CopyRingsNear(const std::vector<std::pair<PSPoint*, Box>>& rings,
                   const Box& box, PSList& out) {
  for (const auto& [p, b] : rings)
    if (b.x1 <= box.x2 && box.x1 <= b.x2 && b.y1 <= box.y2 && box.y1 <= b.y2)
      AppendRingCopy(p, out);
}

void CutHolesOpen(PSList& list) {
  if (list.head != nullptr)
    BooleanSweep(list, nullptr, BooleanOpCode::CutHoles, false);
}

}  // namespace

HierarchyHandler::OwnGeometry& HierarchyHandler::OwnGeometryOf(int32_t childId) {
  auto it = ownGeometry_.find(childId);
  if (it != ownGeometry_.end()) return *it->second;
  auto g = std::make_unique<OwnGeometry>();
  DBCell* K = Ready(childId);
  K->RawLayersToRings(layers1, g->own, 0);
  ScratchList all;
  for (auto& [key, list] : g->own) {
    MaskFlags(list, 0);
    CopyPointList(list, all.list);
  }
  OrientRings(all.list);
  if (margin != 0 && all.list.head != nullptr) {
    // Widened by 2m and shrunk by m: the own geometry widened by m, with
    // the gaps below 4m between its shapes filled.
    ScratchList grown;
    SizeRegion(all.list, grown.list, ClampToInt32(2 * int64_t(margin)));
    SizeRegion(grown.list, g->reach, -margin);
  } else {
    SpliceList(g->reach, all.list);
  }
  MaskFlags(g->reach, 0);
  IndexRings(g->reach, g->reachRings);
  for (auto& [key, list] : g->own) IndexRings(list, g->ownRings[key]);
  return *ownGeometry_.emplace(childId, std::move(g)).first->second;
}

void HierarchyHandler::CombineGeometry(int32_t childId, LayerRings& env,
                                       LayerRings& out) {
  OwnGeometry& g = OwnGeometryOf(childId);
  for (auto& [key, list] : env) {
    if (list.head == nullptr) continue;
    OrientRings(list);
    SetFlags(list, PSPointFlags::SecondLayer);
    const Box near = ListBBox(list);
    ScratchList work, result;
    CopyRingsNear(g.reachRings, near, work.list);
    if (work.list.head == nullptr) continue;
    SpliceList(work.list, list);
    BooleanSweep(work.list, &result.list, BooleanOpCode::And, false);
    if (result.list.head == nullptr) continue;
    auto own = g.ownRings.find(key);
    ScratchList ownCopy;
    if (own != g.ownRings.end()) CopyRingsNear(own->second, ListBBox(result.list), ownCopy.list);
    if (ownCopy.list.head != nullptr) {
      ScratchList diff;
      SpliceList(diff.list, result.list);
      SetFlags(ownCopy.list, PSPointFlags::SecondLayer);
      SpliceList(diff.list, ownCopy.list);
      BooleanSweep(diff.list, &result.list, BooleanOpCode::Diff, false);
    }
    // Holes are cut open also when nothing was subtracted: an encoded
    // shape is one outline.
    CutHolesOpen(result.list);
    if (result.list.head != nullptr) SpliceList(out[key], result.list);
  }
}

void HierarchyHandler::EncodeEnvironment(int32_t childId, LayerRings& env,
                                         HierWorkRecord& record) {
  LayerRings Q;
  const bool leaf = (lib->cells[size_t(childId)]->flags & DBCell::Leaf) != 0;
  if (leaf && inverseMode == 0)
    CombineGeometry(childId, env, Q);
  else
    MergeLayerGeometry(env, Q);
  for (auto& [key, list] : Q) {
    if (list.head == nullptr) continue;
    OrientRings(list);
    auto shapes = std::make_unique<LayerShapes>();
    shapes->key = LayerKey(key);
    CPgonList::AddRings(shapes->shapes, list);
    ClearPointList(list);
    record.layers.push_back(std::move(shapes));
  }
}

int32_t HierarchyHandler::AssignVariant(
    int32_t parentId, int32_t childId, SRef* childRef,
    std::unique_ptr<HierWorkRecord> record,
    std::vector<std::pair<SRef*, int32_t>>& pending) {
  LibDB& L = *lib;
  const int32_t o = L.hierRecords[size_t(childId)].originId;
  VariantSet*& S = L.hierRecords[size_t(o)].variants;
  if (S == nullptr) {
    S = new VariantSet;
    record->variantId = childRef->CellId();
    S->records.insert(std::move(record));
    return childRef->CellId();
  }
  auto found = S->records.find(record);
  if (found == S->records.end()) {
    S->counter += 1;
    const int32_t counter = S->counter;
    std::string name;
    const DBCell* base = L.cells[size_t(o)];
    L.MakeCellName(base->name != nullptr ? base->name->c_str() : "", marker,
                   counter, name);
    const int32_t id = L.AddCell(name.c_str());
    L.SetFlags(LibDB::InfoDirty | LibDB::NamesDirty);
    record->variantId = id;
    // The hierarchy record vector may grow: no record reference is held
    // across the calls below.
    L.hierRecords[size_t(o)].variants->records.insert(std::move(record));
    L.CopyHierRecord(parentId, childId, id);
    L.hierRecords[size_t(id)].originId = o;
    // The variant starts as a copy of its base, so that a walk entering it
    // before it is processed (through a neighbour's placement) sees its
    // contents.
    DBCell* K = Ready(childId);
    DBCell* V = L.cells[size_t(id)];
    K->Copy(*V);
    pending.emplace_back(childRef, id);
    L.cells[size_t(parentId)]->flags |= DBCell::Modified;
    return id;
  }
  const int32_t v = (*found)->variantId;
  if (v != childRef->CellId()) {
    pending.emplace_back(childRef, v);
    L.CopyHierRecord(parentId, childId, v);
    L.cells[size_t(parentId)]->flags |= DBCell::Modified;
  }
  FreeWorkRecord(*record);
  return v;
}

void HierarchyHandler::InstallEnvironment(HierWorkRecord& record,
                                          int32_t variantId) {
  LibDB& L = *lib;
  DBCell* V = L.cells[size_t(variantId)];
  const Box region = Widened(V->box, margin);
  const bool leaf = (V->flags & DBCell::Leaf) != 0;
  if (!record.refs.empty()) {
    LayerTree& tree = V->FindOrCreateTree(EnvReferenceKey, region);
    for (std::unique_ptr<SRef>& ref : record.refs) {
      const DBCell* child = L.cells[size_t(ref->CellId())];
      const Box placed = ref->GetBox(child->box);
      DBSearchSystem::Insert(tree, placed, ref.release());
    }
    record.refs.clear();
  }
  for (std::unique_ptr<LayerShapes>& ls : record.layers) {
    const LayerKey w = ls->key | WorkLayerKey;
    if (leaf) {
      L.AddLayerKey(w);
      V->flags |= DBCell::Modified;
    }
    LayerTree& tree = V->FindOrCreateTree(w, region);
    RawLayer& raw = V->FindOrCreateRawLayer(w);
    for (CPgonListNode* s = ls->shapes.first; s != nullptr; s = s->next) {
      const Box rel = s->polygon->RelativeBox();
      for (LocListNode* p = s->placements.first; p != nullptr; p = p->next)
        DBSearchSystem::Insert(tree, PlacedBox(rel, p->x, p->y), p);
    }
    // The shapes move over whole.
    CPgonList::Splice(raw, ls->shapes);
  }
  record.layers.clear();
}

void HierarchyHandler::ProcessOne(int32_t id, bool variant) {
  LibDB& L = *lib;
  DBCell* V = Ready(id);
  ScratchList inverse;
  if (inverseMode != 0) CellInverse(id, inverse.list);
  const LayerTree* refs = V->ReferenceTree();
  if (refs == nullptr || refs->IsEmpty()) {
    const int64_t n = V->VertexCount(true);
    L.hierRecords[size_t(id)].processedVertexCount =
        int32_t(std::min<int64_t>(n, INT32_MAX));
  } else {
    ProcessCell(id);
    V->DropWorkLayers();
    L.hierRecords[size_t(id)].processedVertexCount = 0;
  }
  if (inverseMode != 0) {
    V->DropWorkLayers();
    V->InsertPolygons(inverse.list, resultKey, !variant);
  }
}

void HierarchyHandler::ProcessVariants(std::list<int32_t>::iterator& pos) {
  LibDB& L = *lib;
  const int32_t a = *pos;
  DBCell* A = Ready(a);
  VariantSet* S = L.hierRecords[size_t(a)].variants;
  auto insertAt = std::next(pos);
  if (S->counter > 500) {
    const double d = L.unitPerNm;
    PrintMessage("  %d cells generated from %s (%lldX%lld)nm\n", S->counter,
                 A->name != nullptr ? A->name->c_str() : "",
                 (long long)std::floor(0.5 + (double(A->box.x2) - A->box.x1) / d),
                 (long long)std::floor(0.5 + (double(A->box.y2) - A->box.y1) / d));
  }
  const bool leafA = (A->flags & DBCell::Leaf) != 0;
  HierWorkRecord* ownRecord = nullptr;
  for (const std::unique_ptr<HierWorkRecord>& record : S->records) {
    const int32_t v = record->variantId;
    if (v == a) {
      ownRecord = record.get();
      continue;
    }
    L.cellOrder.insert(insertAt, v);
    pos = std::prev(insertAt);
    DBCell* V = L.cells[size_t(v)];
    if (V->IsEmpty()) A->Copy(*V);
    if (!leafA) L.AddParentLinks(v);
    InstallEnvironment(*record, v);
    ProcessOne(v, true);
    if (inverseMode != 0 || (V->flags & DBCell::Leaf)) StoreAndRelease(v);
  }
  // The base cell last: its variants were copied from it as it came.
  if (ownRecord != nullptr) InstallEnvironment(*ownRecord, a);
  ProcessOne(a, false);
  if (inverseMode != 0 || leafA) {
    StoreAndRelease(a);
    delete L.hierRecords[size_t(a)].variants;
    L.hierRecords[size_t(a)].variants = nullptr;
    ownGeometry_.erase(a);
  }
}

int32_t HierarchyHandler::Finish() {
  LibDB& L = *lib;
  int32_t count = 0;
  const std::vector<int32_t> order(L.cellOrder.begin(), L.cellOrder.end());
  size_t i = order.size();
  // Leaf cells (the end of the order) are never merged.
  for (; i > 0; --i) {
    const int32_t c = order[i - 1];
    DBCell* cell = L.cells[size_t(c)];
    if (cell == nullptr) continue;
    if (!(cell->flags & DBCell::Leaf)) break;
    L.hierRecords[size_t(c)].originId = c;
  }
  // Points the references of cell v at the surviving variants of their
  // children and recomputes its box from them.
  auto redirect = [&](int32_t v) {
    DBCell* V = Ready(v);
    LayerTree* tree = V->ReferenceTree();
    if (tree == nullptr || tree->IsEmpty()) return;
    V->box.SetEmpty();
    for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
         n = DBSearchSystem::Next(n)) {
      if (!n->IsData() || n->item == nullptr) continue;
      SRef* ref = n->Item<SRef>();
      const int32_t child = ref->CellId();
      const int32_t origin = L.hierRecords[size_t(child)].originId;
      if (origin >= 0 && origin != child) {
        ref->SetCellId(origin);
        V->flags |= DBCell::Modified;
      }
      V->box.Merge(ref->GetBox(L.cells[size_t(ref->CellId())]->box));
    }
  };
  for (; i > 0; --i) {
    const int32_t c = order[i - 1];
    if (L.cells[size_t(c)] == nullptr) continue;
    VariantSet* S = L.hierRecords[size_t(c)].variants;
    if (S != nullptr) {
      std::vector<int32_t> ids;
      for (const auto& record : S->records) ids.push_back(record->variantId);
      const bool compare = S->counter > 1;
      delete S;
      L.hierRecords[size_t(c)].variants = nullptr;
      std::sort(ids.begin(), ids.end());
      std::set<std::unique_ptr<HierWorkRecord>, HierWorkRecordOrder> seen;
      for (int32_t v : ids) {
        if (L.cells[size_t(v)] == nullptr) continue;
        redirect(v);
        int32_t keep = v;
        if (compare) {
          auto rec = std::make_unique<HierWorkRecord>();
          rec->variantId = v;
          if (const LayerTree* tree = L.cells[size_t(v)]->ReferenceTree())
            for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
                 n = DBSearchSystem::Next(n))
              if (n->IsData() && n->item != nullptr) {
                const SRef* r = n->Item<const SRef>();
                rec->refs.push_back(
                    r->IsArray() ? std::unique_ptr<SRef>(new ARef(*static_cast<const ARef*>(r)))
                                 : std::make_unique<SRef>(*r));
              }
          SortRefs(rec->refs);
          auto [it, inserted] = seen.insert(std::move(rec));
          keep = (*it)->variantId;
          (void)inserted;
        }
        L.hierRecords[size_t(v)].originId = keep;
        if (keep != v) {
          L.DestroyCell(v);
          ++count;
        }
      }
    } else if (L.hierRecords[size_t(c)].originId == c) {
      redirect(c);
    } else {
      L.hierRecords[size_t(c)].originId = c;
    }
  }
  ownGeometry_.clear();
  return count;
}

}  // namespace velmar
