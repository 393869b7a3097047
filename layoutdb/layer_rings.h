// Layer rings: geometry per layer key as Point System rings, the form in
// which it passes between the layout database and the geometry engine, and
// the operations that turn a cell's layers into such rings.
//
// A ring produced for a shape is the shape's decoded ring moved by its
// placement; squares and rectangles are never decoded: their placed box is
// the shape, and BoxToRing makes the counter-clockwise ring from it (or from
// its part inside a window). Rings are handed on by splicing list headers,
// never point by point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"

namespace velmar {

// Map from layer key to PSList, visited in ascending (unsigned) key order.
// The map owns the points of its lists: erasing an entry, clearing the map or
// destroying it returns them to the point pool. Moving a list out
// (SpliceList from an entry) leaves the entry empty and hands the points
// over. Not copyable; moving a map hands over every list.
class LayerRings {
 public:
  using Map = std::map<uint32_t, PSList>;
  using iterator = Map::iterator;
  using const_iterator = Map::const_iterator;

  LayerRings() = default;
  ~LayerRings() { clear(); }
  LayerRings(const LayerRings&) = delete;
  LayerRings& operator=(const LayerRings&) = delete;
  LayerRings(LayerRings&& other) noexcept : map_(std::move(other.map_)) {
    other.map_.clear();
  }
  LayerRings& operator=(LayerRings&& other) noexcept;

  // The list of key, created empty when absent.
  PSList& operator[](uint32_t key) { return map_[key]; }
  iterator find(uint32_t key) { return map_.find(key); }
  const_iterator find(uint32_t key) const { return map_.find(key); }
  bool contains(uint32_t key) const { return map_.count(key) != 0; }
  iterator begin() { return map_.begin(); }
  iterator end() { return map_.end(); }
  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }
  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.empty(); }

  // Erase entries, returning their points to the pool.
  iterator erase(iterator it);
  std::size_t erase(uint32_t key);
  void clear();

 private:
  Map map_;
};

// Moves every list of source into target, in key order: the target entry of
// the key is created empty when absent; an empty target list takes the
// source list whole, otherwise the source chain is spliced after the
// target's tail (counts added). Every source list is left empty (all header
// words zero); the source entries stay.
void SpliceLayerRings(LayerRings& target, LayerRings& source);

// Gathering (flag: every produced point gets PSPointFlags::SecondLayer).
// The trees are indexed drawn or work layers of a cell: their items are
// placements (LocListNode).

// Every item of the tree, in traversal order, as a closed ring appended to
// out. Returns the number of items.
int GatherLayerRings(const DBSearchSystem& tree, PSList& out, bool flag);

// The items whose boxes meet the window (open overlap: touching does not
// count). Squares and rectangles give the ring of their box cut to the
// window; other shapes are taken whole when their box lies inside the window
// (closed test), else clipped (ClipToWindow with clipFlag) and skipped when
// nothing remains. Returns the number of items gathered.
int GatherLayerRingsInWindow(const DBSearchSystem& tree, const Box& window,
                             PSList& out, bool flag, int clipFlag);

// Takes the shapes whose items meet the window out of the layer: each is
// appended to out whole (a shape reaching outside the window is first
// clipped on a copy only to test that something of it lies inside; nothing
// left: the item stays). Each taken placement leaves its shape and its item
// leaves the tree; a shape left without placements leaves layer. tree must
// be layer's tree. Returns the number of items taken.
int TakeLayerRingsInWindow(DBSearchSystem& tree, const Box& window,
                           CPgonList& layer, PSList& out, bool flag);

}  // namespace velmar
