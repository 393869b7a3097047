// Collecting geometry: the rings of selected layers below a cell inside a
// window, every placement through the hierarchy applied, per layer key. This
// is the road from the library to the geometry engine; cells are loaded from
// their data files on demand while the hierarchy is walked.
#include <climits>
#include <cstdint>
#include <vector>

#include "foundation/error.h"
#include "geometry/clip_tile.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

bool IsIdentity(const Trans& t) {
  return t.x == 0 && t.y == 0 && t.orientation == 0 && !t.Magnified();
}

int32_t FitCoordinate(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX)
    throw Error("Shape placed beyond the coordinate range", "DB");
  return int32_t(v);
}

void MapPoints(PSList& list, const Trans& t) {
  for (PSPoint* p = list.head; p != nullptr; p = p->link) t.Apply(p->x, p->y);
}

// Decodes the polygon into ring (empty on entry) moved by (x, y); returns
// the ring's vertex 0.
PSPoint* PlacedRing(const DBPolygon& polygon, int32_t x, int32_t y,
                    PSList& ring) {
  PSPoint* start = polygon.ToRing(ring);
  for (PSPoint* v = ring.head; v != nullptr; v = v->link) {
    v->x = FitCoordinate(int64_t(v->x) + x);
    v->y = FitCoordinate(int64_t(v->y) + y);
  }
  return start;
}

// Copies the ring through start into dst (empty on entry), moved by
// (dx, dy), in the same direction; returns the copy of start.
PSPoint* ShiftedCopy(const PSPoint* start, int64_t dx, int64_t dy,
                     PSList& dst) {
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  const PSPoint* v = start;
  do {
    PSPoint* q = PushPoint(dst, FitCoordinate(v->x + dx),
                           FitCoordinate(v->y + dy));
    if (first == nullptr) first = q;
    LinkPoints(last, q);
    last = q;
    v = v->next;
  } while (v != nullptr && v != start);
  LinkPoints(last, first);
  dst.ringCount = 1;
  return first;
}

// The ring of one item of a drawn layer's tree inside the window (item box
// and window in the item cell's coordinates), added to out. Squares and
// rectangles are their item box cut to the window (at the head of out);
// other shapes are decoded, taken whole when the item box lies inside the
// window and clipped otherwise (appended when something remains).
void AddItemRing(const DBSearchNode* node, const Box& window, int clipMode,
                 PSList& out) {
  const auto* p = static_cast<const LocListNode*>(node->item);
  const DBPolygon& polygon = *p->owner->polygon;
  if (polygon.IsSquare() || polygon.IsRectangle()) {
    const Box& b = node->box;
    BoxToRing(out,
              Box(b.x1 > window.x1 ? b.x1 : window.x1,
                  b.y1 > window.y1 ? b.y1 : window.y1,
                  b.x2 < window.x2 ? b.x2 : window.x2,
                  b.y2 < window.y2 ? b.y2 : window.y2),
              false);
    return;
  }
  ScratchList ring;
  PlacedRing(polygon, p->x, p->y, ring.list);
  if (!window.Contains(node->box)) {
    ClipToWindow(ring.list, window, clipMode != 0);
    if (ring.list.head == nullptr) return;
  }
  SpliceList(out, ring.list);
}

// One recursive collection: the library, the output, the filter and the
// clip mode stay; cell, window and transform change per level. path holds
// the cells being collected above, to refuse placement cycles.
class Collector {
 public:
  Collector(LibDB& lib, const LayerKeySet* filter, LayerRings& out,
            int clipMode)
      : lib_(lib), filter_(filter), out_(out), clipMode_(clipMode) {}

  void Collect(DBCell* cell, const Box& window, const Trans& trans) {
    LoadCellOnDemand(lib_, cell, false);
    if (window.Contains(cell->box))
      WholeCell(cell, trans);
    else
      CutCell(cell, window, trans);

    LayerTree* refs = cell->ReferenceTree();
    if (refs == nullptr || refs->IsEmpty()) return;
    path_.push_back(cell);
    for (DBSearchNode* n = DBSearchSystem::FirstInBox(*refs, window);
         n != nullptr; n = DBSearchSystem::NextInBox(n, window)) {
      if (n->item == nullptr) continue;
      const SRef& ref = *static_cast<const SRef*>(n->item);
      DBCell* child = EnterableChild(lib_, ref);
      if (child == nullptr) continue;
      for (const DBCell* c : path_)
        if (c == child) ThrowPlacementCycle(lib_, ref.CellId());
      if (!ref.IsArray()) {
        Enter(child, ref, window, trans);
        continue;
      }
      const ARef& array = static_cast<const ARef&>(ref);
      int32_t c0, c1, r0, r1;
      if (!ArrayElementRange(array, child->box, window, &c0, &c1, &r0, &r1))
        continue;
      for (int32_t a = c0; a <= c1; ++a) {
        for (int32_t b = r0; b <= r1; ++b) {
          const Trans e = array.ElementTrans(a, b);
          Box placed = child->box;
          e.TransformBox(placed);
          if (placed.Overlaps(window)) Enter(child, e, window, trans);
        }
      }
    }
    path_.pop_back();
  }

 private:
  void Enter(DBCell* child, const Trans& e, const Box& window,
             const Trans& trans) {
    Collect(child, ChildWindow(e, window), Trans::Compose(e, trans));
  }

  // The window holds the whole cell: every shape of the selected raw layers,
  // unclipped. A shared polygon is decoded and transformed once; each
  // further placement's ring is the previous one moved by the difference of
  // the two placements' mapped origins. Each origin is mapped on its own, so
  // with a magnification the rounding never accumulates over placements.
  void WholeCell(DBCell* cell, const Trans& trans) {
    const bool identity = IsIdentity(trans);
    for (auto& [key, layer] : cell->rawLayers) {
      if (layer.count == 0 || !PassesFilter(filter_, key)) continue;
      ScratchList list;
      for (const CPgonListNode* s = layer.first; s != nullptr; s = s->next) {
        const LocListNode* p = s->placements.first;
        if (p == nullptr) continue;
        ScratchList ring;
        PSPoint* start = PlacedRing(*s->polygon, p->x, p->y, ring.list);
        int32_t ox = p->x, oy = p->y;
        if (!identity) {
          MapPoints(ring.list, trans);
          trans.Apply(ox, oy);
        }
        for (const LocListNode* q = p->next; q != nullptr; q = q->next) {
          int32_t qx = q->x, qy = q->y;
          if (!identity) trans.Apply(qx, qy);
          ScratchList next;
          PSPoint* nextStart = ShiftedCopy(start, int64_t(qx) - ox,
                                           int64_t(qy) - oy, next.list);
          SpliceList(list.list, ring.list);
          ring.list = next.list;
          next.list = PSList();
          start = nextStart;
          ox = qx;
          oy = qy;
        }
        SpliceList(list.list, ring.list);
      }
      if (list.list.head != nullptr)
        SpliceList(out_[uint32_t(key)], list.list);
    }
  }

  // The window cuts the cell: the items of the selected indexed layers that
  // meet the window, cut or clipped to it.
  void CutCell(DBCell* cell, const Box& window, const Trans& trans) {
    if (!cell->rawLayers.empty() && !cell->IsIndexed()) cell->IndexLayers();
    const bool identity = IsIdentity(trans);
    for (auto& [key, tree] : cell->indexedLayers) {
      if (key >= ReferenceKey) break;
      if (tree.IsEmpty() || !PassesFilter(filter_, key)) continue;
      ScratchList list;
      for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window);
           n != nullptr; n = DBSearchSystem::NextInBox(n, window)) {
        if (n->item != nullptr) AddItemRing(n, window, clipMode_, list.list);
      }
      if (list.list.head == nullptr) continue;
      if (!identity) MapPoints(list.list, trans);
      SpliceList(out_[uint32_t(key)], list.list);
    }
  }

  LibDB& lib_;
  const LayerKeySet* filter_;
  LayerRings& out_;
  int clipMode_;
  std::vector<const DBCell*> path_;
};

}  // namespace

void LibDB::CollectPolygons(DBCell* cell, const Box* window,
                            const Trans* trans,
                            const std::set<int32_t>* filter, LayerRings* out,
                            int clipMode) {
  Collector(*this, filter, *out, clipMode).Collect(cell, *window, *trans);
}

void LibDB::CollectWindowPolygons(DBCell* cell, const Box* window,
                                  const std::set<int32_t>* filter,
                                  LayerRings* out, const SRef* excluded,
                                  int clipMode) {
  LoadCellOnDemand(*this, cell, true);
  HierIterator it(this, cell, window, filter, -1);
  it.excluded = excluded;
  Trans t;
  int32_t key = 0;
  PSList* list = nullptr;  // the output list of the previous item's key
  uint32_t listKey = 0;
  for (DBSearchNode* n = it.First(&t, &key); n != nullptr;
       n = it.Next(&t, &key)) {
    if (n->item == nullptr) continue;
    ScratchList ring;
    AddItemRing(n, it.frames.front().window, clipMode, ring.list);
    if (ring.list.head == nullptr) continue;
    if (!IsIdentity(t)) MapPoints(ring.list, t);
    const uint32_t k = uint32_t(key) & 0xFFFF;
    if (list == nullptr || k != listKey) {
      list = &(*out)[k];
      listKey = k;
    }
    SpliceList(*list, ring.list);
  }
}

}  // namespace velmar
