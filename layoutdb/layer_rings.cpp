// Layer rings: a cell's layers turned into Point System rings per layer key,
// whole or inside a window, and ring lists moved between layer-ring maps.
#include "layoutdb/layer_rings.h"

#include <algorithm>
#include <climits>

#include "foundation/error.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

// Squares and rectangles are their placed box: never decoded.
bool IsBoxShape(const DBPolygon& polygon) {
  return polygon.IsSquare() || polygon.IsRectangle();
}

Box Intersection(const Box& a, const Box& b) {
  return Box(std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
             std::min(a.y2, b.y2));
}

// Decodes the shape of placement p into ring (empty on entry), moved to the
// placement. Sums are formed in 64 bits: a vertex beyond the coordinate
// range means corrupted data.
void PlacedRing(const LocListNode* p, PSList& ring) {
  p->owner->polygon->ToRing(ring);
  for (PSPoint* v = ring.head; v != nullptr; v = v->link) {
    const int64_t x = int64_t(v->x) + p->x;
    const int64_t y = int64_t(v->y) + p->y;
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) {
      ClearPointList(ring);
      throw Error("Shape placed beyond the coordinate range", "DB");
    }
    v->x = int32_t(x);
    v->y = int32_t(y);
  }
}

// Hands ring over to out (flagged as the second operand when asked).
void Deliver(PSList& ring, PSList& out, bool flag) {
  if (flag) SetFlags(ring, PSPointFlags::SecondLayer);
  SpliceList(out, ring);
}

// Which layers a walk in the given mode takes (0 drawn, 1 drawn and work,
// 2 work only), and where it stops: at the reference layer, and in mode 0
// at the first work layer.
bool StopsAt(LayerKey key, int mode) {
  return key >= ReferenceKey || (mode == 0 && key >= WorkLayerKey);
}
bool Skips(LayerKey key, int mode) { return mode == 2 && key < WorkLayerKey; }

}  // namespace

// ---------------------------------------------------------------------------
// LayerRings

LayerRings& LayerRings::operator=(LayerRings&& other) noexcept {
  if (this != &other) {
    clear();
    map_ = std::move(other.map_);
    other.map_.clear();
  }
  return *this;
}

LayerRings::iterator LayerRings::erase(iterator it) {
  ClearPointList(it->second);
  return map_.erase(it);
}

std::size_t LayerRings::erase(uint32_t key) {
  auto it = map_.find(key);
  if (it == map_.end()) return 0;
  erase(it);
  return 1;
}

void LayerRings::clear() {
  for (auto& entry : map_) ClearPointList(entry.second);
  map_.clear();
}

void SpliceLayerRings(LayerRings& target, LayerRings& source) {
  if (&target == &source) return;
  for (auto& [key, list] : source) SpliceList(target[key], list);
}

// ---------------------------------------------------------------------------
// Gathering

int GatherLayerRings(const DBSearchSystem& tree, PSList& out, bool flag) {
  int count = 0;
  for (DBSearchNode* n = DBSearchSystem::First(tree); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData() || n->item == nullptr) continue;
    const auto* p = n->Item<const LocListNode>();
    if (IsBoxShape(*p->owner->polygon)) {
      BoxToRing(out, n->box, flag);
    } else {
      PSList ring;
      PlacedRing(p, ring);
      Deliver(ring, out, flag);
    }
    ++count;
  }
  return count;
}

int GatherLayerRingsInWindow(const DBSearchSystem& tree, const Box& window,
                             PSList& out, bool flag, int clipFlag) {
  int count = 0;
  for (DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window); n != nullptr;
       n = DBSearchSystem::NextInBox(n, window)) {
    if (n->item == nullptr) continue;
    const auto* p = n->Item<const LocListNode>();
    if (IsBoxShape(*p->owner->polygon)) {
      BoxToRing(out, Intersection(n->box, window), flag);
      ++count;
      continue;
    }
    PSList ring;
    PlacedRing(p, ring);
    if (!window.Contains(n->box)) {
      ClipToWindow(ring, window, clipFlag != 0);
      if (ring.head == nullptr) {
        ClearPointList(ring);
        continue;
      }
    }
    Deliver(ring, out, flag);
    ++count;
  }
  return count;
}

int TakeLayerRingsInWindow(DBSearchSystem& tree, const Box& window,
                           CPgonList& layer, PSList& out, bool flag) {
  int count = 0;
  DBSearchNode* n = DBSearchSystem::FirstInBox(tree, window);
  while (n != nullptr) {
    auto* p = n->Item<LocListNode>();
    if (p == nullptr) {
      n = DBSearchSystem::NextInBox(n, window);
      continue;
    }
    CPgonListNode* shape = p->owner;
    if (IsBoxShape(*shape->polygon)) {
      BoxToRing(out, n->box, flag);
    } else {
      PSList ring;
      PlacedRing(p, ring);
      if (!window.Contains(n->box)) {
        // Clipped only to see whether anything of it lies inside.
        PSList test;
        CopyPointList(ring, test);
        ClipToWindow(test, window, false);
        const bool nothingInside = test.head == nullptr;
        ClearPointList(test);
        if (nothingInside) {
          ClearPointList(ring);
          n = DBSearchSystem::NextInBox(n, window);
          continue;
        }
      }
      Deliver(ring, out, flag);
    }
    ++count;
    LocList::Remove(shape->placements, p);
    if (shape->placements.count == 0) CPgonList::Remove(layer, shape);
    // Removing a node may move others in the node pool: only the successor
    // returned is valid.
    DBSearchNode* s = DBSearchSystem::Remove(tree, n);
    if (s != nullptr && s->IsData() && s->box.Overlaps(window))
      n = s;
    else
      n = s != nullptr ? DBSearchSystem::NextInBox(s, window) : nullptr;
  }
  return count;
}

// ---------------------------------------------------------------------------
// A cell's layers as rings

void DBCell::RawLayersToRings(const LayerKeySet& filter, LayerRings& out,
                              int mode) const {
  for (const auto& [key, layer] : rawLayers) {
    if (StopsAt(key, mode)) break;
    if (layer.count == 0 || Skips(key, mode)) continue;
    const LayerKey k = key & 0xFFFF;
    if (!PassesFilter(&filter, k)) continue;
    CPgonList::ToRings(layer, out[uint32_t(k)]);
  }
}

void DBCell::IndexedLayersToRings(const Box& window, const LayerKeySet& filter,
                                  LayerRings& out, int mode,
                                  int clipFlag) const {
  for (const auto& [key, tree] : indexedLayers) {
    if (StopsAt(key, mode)) break;
    if (tree.IsEmpty() || Skips(key, mode)) continue;
    const LayerKey k = key & 0xFFFF;
    if (!PassesFilter(&filter, k)) continue;
    LayerRings scratch;  // returns its points should gathering throw
    PSList& list = scratch[0];
    GatherLayerRingsInWindow(tree, window, list, false, clipFlag);
    if (list.head != nullptr) SpliceList(out[uint32_t(k)], list);
  }
}

}  // namespace velmar
