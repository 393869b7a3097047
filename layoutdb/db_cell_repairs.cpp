// Per-shape repairs of a cell's raw layers. Each shape is decoded once in
// its own coordinates, worked on by the geometry engine and re-encoded;
// every ring the work yields becomes a shape carrying all placements of
// the old one, moved by where the new origin lies relative to the old, so
// shared shapes stay shared and no ring is dropped.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/ring_repair.h"
#include "geometry/sizing.h"
#include "layoutdb/db_cell.h"

namespace velmar {

namespace {

int32_t FitCoordinate(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX)
    throw Error("Shape placed beyond the coordinate range", "DB");
  return int32_t(v);
}

// A new shape for every closed ring of rings (coordinates relative to the
// old shape's origin), each with the placements of old moved by its
// origin; inserted at the head of layer when atHead, else appended. The
// shapes are built before the layer changes, so an encoding error leaves
// the layer as it was. When placed is given, the placed box of every new
// placement is merged into it. Returns the number of shapes made.
int AddRingShapes(CPgonList& layer, PSList& rings, const CPgonListNode& old,
                  bool atHead, Box* placed = nullptr) {
  struct Made {
    std::unique_ptr<DBPolygon> polygon;
    int32_t ox, oy;
  };
  std::vector<Made> made;
  MaskFlags(rings, ~int(PSPointFlags::Visited));
  for (PSPoint* start = rings.head; start != nullptr;) {
    PSPoint* origin = LowestLeftPoint(start);
    std::unique_ptr<DBPolygon> polygon = DBPolygon::Build(origin);
    made.push_back(Made{std::move(polygon), origin->x, origin->y});
    do {
      start = start->link;
    } while (start != nullptr && (start->flags & PSPointFlags::Visited));
  }
  // The placements are checked before anything is added: every placed
  // shape lies wholly in the coordinate range.
  for (const Made& m : made) {
    const Box rel = m.polygon->RelativeBox();
    for (const LocListNode* p = old.placements.first; p != nullptr; p = p->next) {
      const Box b = PlacedBox(rel, FitCoordinate(int64_t(p->x) + m.ox),
                              FitCoordinate(int64_t(p->y) + m.oy));
      if (placed != nullptr) placed->Merge(b);
    }
  }
  CPgonListNode* position = layer.first;
  for (Made& m : made) {
    CPgonListNode* shape =
        atHead ? CPgonList::InsertBefore(layer, position, std::move(m.polygon))
               : CPgonList::Append(layer, std::move(m.polygon));
    for (const LocListNode* p = old.placements.first; p != nullptr; p = p->next)
      LocList::Append(shape->placements, shape, p->x + m.ox, p->y + m.oy);
  }
  return int(made.size());
}

}  // namespace

int DBCell::FixSmallAcuteShapes(LayerKey source, LayerKey target, int32_t length) {
  auto it = rawLayers.find(source);
  if (it == rawLayers.end()) return 0;
  CPgonList& from = it->second;
  CPgonList& to = FindOrCreateRawLayer(target);
  int32_t moved = 0;
  // Only the shapes there were at the start: with the source as target the
  // new shapes follow them.
  CPgonListNode* shape = from.first;
  for (int32_t n = from.count; n > 0 && shape != nullptr; --n, shape = shape->next) {
    ScratchList ring, merged;
    shape->polygon->ToRing(ring.list);
    BooleanSweep(ring.list, &merged.list, BooleanOpCode::Merge, false);
    moved += TrimAcute(merged.list, length);
    BooleanSweep(merged.list, nullptr, BooleanOpCode::CutHoles, false);
    // A moved vertex can leave its neighbour in line with the next: such
    // vertices go before encoding (a manhattan polygon stores none).
    Simplify(merged.list, 0);
    AddRingShapes(to, merged.list, *shape, false);
  }
  return moved;
}

void DBCell::SizeUpShapes(LayerKey source, LayerKey target, int32_t size) {
  auto it = rawLayers.find(source);
  if (it == rawLayers.end()) return;
  CPgonList& from = it->second;
  CPgonList& to = FindOrCreateRawLayer(target);
  Box grown;
  // Only the shapes there were at the start: with the source as target the
  // new shapes follow them.
  CPgonListNode* shape = from.first;
  for (int32_t n = from.count; n > 0 && shape != nullptr; --n, shape = shape->next) {
    ScratchList ring, merged, sized, result;
    shape->polygon->ToRing(ring.list);
    BooleanSweep(ring.list, &merged.list, BooleanOpCode::Merge, false);
    SizeList(merged.list, sized.list, size, 1);
    // Offset rings wind as drawn: parts that a shrinking hole turned over
    // wind clockwise and must cancel.
    BooleanSweepAsDrawn(sized.list, &result.list, BooleanOpCode::Merge);
    BooleanSweep(result.list, nullptr, BooleanOpCode::CutHoles, false);
    AddRingShapes(to, result.list, *shape, false, &grown);
  }
  // The cell's box covers what grew beyond it.
  box.Merge(grown);
}

int DBCell::FindSelfCrossShapes(LayerKey markers, int32_t halfSize) {
  if (halfSize < 0) throw Error("Marker size below 0", "DB");
  const int64_t side = 2 * int64_t(halfSize);
  if (side > INT32_MAX) throw Error("Marker size beyond the coordinate range", "DB");
  // Markers are collected first and added at the end, so the marker layer
  // is never read while it grows.
  std::unique_ptr<DBPolygon> square;
  LocList placements;
  CPgonListNode holder;  // owner of the placements until they move
  int found = 0;
  try {
    for (auto& [key, layer] : rawLayers) {
      for (CPgonListNode* shape = layer.first; shape != nullptr; shape = shape->next) {
        ScratchList ring, points;
        shape->polygon->ToRing(ring.list);
        if (!CollectSelfTouch(ring.list, points.list)) continue;
        ++found;
        for (const PSPoint* m = points.list.head; m != nullptr; m = m->link) {
          for (const LocListNode* p = shape->placements.first; p != nullptr; p = p->next)
            LocList::Append(placements, &holder,
                            FitCoordinate(int64_t(p->x) + m->x - halfSize),
                            FitCoordinate(int64_t(p->y) + m->y - halfSize));
        }
      }
    }
    if (found != 0 && placements.count != 0) {
      ScratchList box;
      BoxToRing(box.list, Box(0, 0, int32_t(side), int32_t(side)), false);
      PSPoint* origin = LowestLeftPoint(box.list.head);
      square = DBPolygon::Build(origin);
      CPgonListNode* shape =
          CPgonList::Append(FindOrCreateRawLayer(markers), std::move(square));
      shape->placements = placements;
      for (LocListNode* p = shape->placements.first; p != nullptr; p = p->next)
        p->owner = shape;
      placements = LocList();
    }
  } catch (...) {
    LocList::Release(placements);
    throw;
  }
  return found;
}

int DBCell::FixSelfCrossShapes() {
  int split = 0;
  for (auto& [key, layer] : rawLayers) {
    int splitHere = 0;
    for (CPgonListNode* shape = layer.first; shape != nullptr;) {
      ScratchList ring;
      shape->polygon->ToRing(ring.list);
      if (!SplitSelfTouch(ring.list) || ring.list.head == nullptr) {
        shape = shape->next;
        continue;
      }
      // The new shapes go to the head of the layer, before the shapes still
      // to visit; the old shape goes.
      AddRingShapes(layer, ring.list, *shape, true);
      shape = CPgonList::Remove(layer, shape);
      ++splitHere;
    }
    if (splitHere != 0) {
      CPgonList::SortAndMergeEqualShapes(layer);
      split += splitHere;
    }
  }
  return split;
}

}  // namespace velmar
