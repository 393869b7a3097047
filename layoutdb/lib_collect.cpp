// Collecting geometry: the rings of selected layers below a cell inside a
// window, every placement through the hierarchy applied, per layer key. This
// is the road from the library to the geometry engine; cells are loaded from
// their data files on demand while the hierarchy is walked.
#include <climits>
#include <cstdint>
#include <vector>

#include "foundation/error.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_order.h"
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
  const auto* p = node->Item<const LocListNode>();
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

// One collection: the library, the output, the filter and the clip mode
// stay; cell, window and transform change per placement. The descent is a
// stack of its own, one frame per cell whose references are being walked,
// so the depth of the hierarchy is bounded by memory and not by the call
// stack. Cells are visited in the same depth-first order as a recursive
// walk would visit them.
class Collector {
 public:
  Collector(LibDB& lib, const LayerKeySet* filter, LayerRings& out,
            int clipMode)
      : lib_(lib), filter_(filter), out_(out), clipMode_(clipMode) {}

  void Collect(DBCell* top, const Box& window, const Trans& trans) {
    outWindow_ = window;
    if (!IsIdentity(trans)) trans.TransformBox(outWindow_);
    Visit(top, -1, window, trans, true);
    while (!stack_.empty()) {
      Frame& f = stack_.back();
      DBCell* child = nullptr;
      int32_t childId = -1;
      Trans e;
      const bool exact = f.exact;
      if (f.array != nullptr) {
        if (!NextElement(f, e)) {
          f.array = nullptr;
          continue;
        }
        child = f.child;
        childId = f.childId;
      } else {
        DBSearchNode* n = f.next;
        if (n == nullptr) {
          stack_.pop_back();
          continue;
        }
        f.next = DBSearchSystem::NextInBox(n, f.window);
        if (n->item == nullptr) continue;
        const SRef& ref = *n->Item<const SRef>();
        child = EnterableChild(lib_, ref);
        if (child == nullptr) continue;
        childId = ref.CellId();
        if (ref.IsArray()) {
          const ARef& array = static_cast<const ARef&>(ref);
          if (ArrayElementRange(array, child->box, f.window, &f.c0, &f.c1,
                                &f.r0, &f.r1)) {
            f.array = &array;
            f.child = child;
            f.childId = childId;
            f.column = f.c0;
            f.row = f.r0;
          }
          continue;
        }
        e = ref;
      }
      if (OnDescent(child, childId)) ThrowPlacementCycle(lib_, childId);
      const Box childWindow = ChildWindow(e, f.window);
      const Trans childTrans = Trans::Compose(e, f.trans);
      Visit(child, childId, childWindow, childTrans, exact && !e.Magnified());  // f may move
    }
  }

 private:
  // A cell whose references are being walked.
  struct Frame {
    DBCell* cell;
    Box window;
    Trans trans;
    // False below a magnified placement: the window was rounded outward on
    // its way into the cell and holds more than the collected area.
    bool exact;
    // The next reference node to look at; null: the cell is done.
    DBSearchNode* next;
    // The array reference whose elements are being entered, or null; its
    // child, the element ranges and the next element (column, row).
    const ARef* array = nullptr;
    DBCell* child = nullptr;
    int32_t childId = -1;
    int32_t c0 = 0, c1 = -1, r0 = 0, r1 = -1;
    int32_t column = 0, row = 0;
  };

  // Collects the cell's own shapes and, when it places cells inside the
  // window, pushes its frame. Where the cell's window is not exact (a
  // magnified placement above it), the shapes are judged and clipped again
  // in the collection's own coordinates, so that nothing outside the
  // collected area is returned.
  void Visit(DBCell* cell, int32_t id, const Box& window, const Trans& trans,
             bool exact) {
    LoadCellOnDemand(lib_, cell, false);
    bool whole = window.Contains(cell->box);
    if (whole && !exact) {
      Box placed = cell->box;
      trans.TransformBox(placed);
      whole = outWindow_.Contains(placed);
    }
    if (whole)
      WholeCell(cell, trans);
    else
      CutCell(cell, window, trans, exact ? nullptr : &outWindow_);

    LayerTree* refs = cell->ReferenceTree();
    if (refs == nullptr || refs->IsEmpty()) return;
    DBSearchNode* first = DBSearchSystem::FirstInBox(*refs, window);
    if (first == nullptr) return;
    if (id >= 0) {
      if (size_t(id) >= depthOf_.size()) depthOf_.resize(size_t(id) + 1, 0);
      depthOf_[size_t(id)] = uint32_t(stack_.size() + 1);
    }
    stack_.push_back(Frame{cell, window, trans, exact, first});
  }

  // The next element of the frame's array whose placed child box meets the
  // window, its transform in e; false when there is none left.
  static bool NextElement(Frame& f, Trans& e) {
    while (f.column <= f.c1) {
      if (f.row > f.r1) {
        ++f.column;
        f.row = f.r0;
        continue;
      }
      e = f.array->ElementTrans(f.column, f.row++);
      Box placed = f.child->box;
      e.TransformBox(placed);
      if (placed.Overlaps(f.window)) return true;
    }
    return false;
  }

  // True when the cell is on the descent: the start cell, or the cell of
  // the frame its last visit pushed (a stale record names another frame or
  // none). Constant time per placement, whatever the depth.
  bool OnDescent(const DBCell* child, int32_t id) const {
    if (stack_.front().cell == child) return true;
    if (size_t(id) >= depthOf_.size()) return false;
    const uint32_t d = depthOf_[size_t(id)];
    return d != 0 && d <= stack_.size() && stack_[d - 1].cell == child;
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
  // meet the window, cut or clipped to it; with outClip, mapped and then
  // clipped to outClip as well.
  void CutCell(DBCell* cell, const Box& window, const Trans& trans,
               const Box* outClip) {
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
      if (outClip != nullptr) {
        ClipToWindow(list.list, *outClip, clipMode_ != 0);
        if (list.list.head == nullptr) continue;
      }
      SpliceList(out_[uint32_t(key)], list.list);
    }
  }

  LibDB& lib_;
  const LayerKeySet* filter_;
  LayerRings& out_;
  int clipMode_;
  Box outWindow_;  // the window in the collection's coordinates
  std::vector<Frame> stack_;
  // Cell id -> 1 + the stack index of the frame its last visit pushed.
  std::vector<uint32_t> depthOf_;
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
    if (!IsIdentity(t)) {
      MapPoints(ring.list, t);
      // Below a magnified placement the item was clipped to a window
      // rounded outward: clipped again to the window itself.
      if (!window->Contains(ListBBox(ring.list))) {
        ClipToWindow(ring.list, *window, clipMode != 0);
        if (ring.list.head == nullptr) continue;
      }
    }
    const uint32_t k = uint32_t(key) & 0xFFFF;
    if (list == nullptr || k != listKey) {
      list = &(*out)[k];
      listKey = k;
    }
    SpliceList(*list, ring.list);
  }
}

}  // namespace velmar
