// Cells and their layer stores.
//
// A DBCell is one cell of a library: its name, state flags, where its record
// lies in the cell data files, its bounding box, and its contents in memory.
// Contents are held per layer key in two forms:
// - a raw layer (RawLayer, a CPgonList): shared encoded polygons with their
//   placements, the form in which geometry is built, merged and written;
// - an indexed layer (LayerTree, a DBSearchSystem): one item per placement of
//   the raw layer of the same key, with the placed box, the form in which
//   geometry is queried by window. References (SRef/ARef) live only here, in
//   the reference layer ReferenceKey.
//
// Ownership: a cell owns its raw layers (shapes, polygons, placements), its
// trees and the reference objects held by its reference-like layers (keys at
// or above ReferenceKey). Both owning types free what they own when they are
// destroyed, so erasing a map entry or deleting the cell leaks nothing and
// frees nothing twice. Items of drawn and work layer trees point at
// placements of the raw layer of their key: the operations here keep every
// tree in step with its raw layer (exactly one item per placement).
//
// A cell with both maps empty holds nothing in memory.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/shape_list.h"

namespace velmar {

struct PSList;
struct PSPoint;
class LayerRings;

// The shape list of one raw layer, owned by its cell: destroying it releases
// every shape with its polygon and placements.
struct RawLayer : CPgonList {
  RawLayer() = default;
  ~RawLayer() { CPgonList::Release(*this); }
  RawLayer(const RawLayer&) = delete;
  RawLayer& operator=(const RawLayer&) = delete;
};

// The search tree of one indexed layer. It lives inside its cell's map and
// never moves. A tree of a reference-like layer (key at or above
// ReferenceKey) owns its item objects (SRef/ARef); a tree of a drawn or work
// layer only points at placements owned by the raw layer. Destroying a tree
// deletes the objects it owns that are still held, then frees its nodes.
class LayerTree : public DBSearchSystem {
 public:
  LayerTree(LayerKey key, const Box& region)
      : DBSearchSystem(region), ownsItems_(key >= ReferenceKey) {}
  ~LayerTree();
  LayerTree(const LayerTree&) = delete;
  LayerTree& operator=(const LayerTree&) = delete;

  // True when the items are reference objects owned by the tree.
  bool OwnsItems() const { return ownsItems_; }

  // Frees every node and resets the item count and items box (region
  // kept). Owned items are not deleted: call DBCell::FreeTreeItems first.
  void ClearItems();

 private:
  bool ownsItems_;
};

class DBCell {
 public:
  // flags
  static constexpr uint16_t Modified = 0x8000;  // changes not yet stored
  static constexpr uint16_t Leaf = 0x2000;      // stored without references
  static constexpr uint16_t Marked = 0x0001;    // below a window being edited
  // Nothing sets or tests it; the operations that free a cell's loaded
  // geometry clear it.
  static constexpr uint16_t Loaded = 0x4000;

  using RawLayerMap = std::map<LayerKey, RawLayer>;
  using IndexedLayerMap = std::map<LayerKey, LayerTree>;

  // The key string of the library's name map (not owned); null until named.
  const std::string* name = nullptr;
  uint16_t flags = 0;
  // Cell data file ("db%d") holding the cell's record; 0 = none.
  uint16_t dbFile = 0;
  int32_t startPos = -1;  // record offset in that file
  int32_t refPos = -1;    // offset of the reference section; -1 = none
  int32_t endPos = -1;    // offset just after the record
  // Bounding box of the cell's shapes and placed children (empty when new).
  Box box;
  IndexedLayerMap indexedLayers;
  RawLayerMap rawLayers;

  DBCell() = default;
  ~DBCell();
  DBCell(const DBCell&) = delete;
  DBCell& operator=(const DBCell&) = delete;

  // True when the cell holds nothing in memory.
  bool IsEmpty() const { return rawLayers.empty() && indexedLayers.empty(); }

  // True when some drawn or work layer has a tree (the cell has raw layers
  // and its first indexed key lies below ReferenceKey).
  bool IsIndexed() const;

  // The raw layer of key, created empty when absent. Keys that are not
  // shape layer keys (negative, or at or above ReferenceKey) throw Error
  // (unit "DB"): a raw layer can never take the place of the reference
  // store.
  RawLayer& FindOrCreateRawLayer(LayerKey key);
  // The tree of key, created with the given region when absent.
  LayerTree& FindOrCreateTree(LayerKey key, const Box& region);

  // --- Queries -------------------------------------------------------------
  // The tree of the reference layer, or null when the cell has none.
  LayerTree* ReferenceTree() {
    auto it = indexedLayers.find(ReferenceKey);
    return it == indexedLayers.end() ? nullptr : &it->second;
  }
  const LayerTree* ReferenceTree() const {
    return const_cast<DBCell*>(this)->ReferenceTree();
  }
  // Finds ReferenceKey in indexedLayers; out = its position (end() when
  // absent). True when the layer exists and holds at least one item.
  bool HasRefs(IndexedLayerMap::iterator& out);
  // Sum over the raw layers (only keys from WorkLayerKey when workOnly) of
  // every shape's vertex count (4 for a square) times its placements.
  int64_t VertexCount(bool workOnly) const;
  // Union (Box::Merge) of the placed boxes of every placement of the
  // non-empty raw drawn layers that pass the filter (null or empty: all).
  Box RawLayersBox(const LayerKeySet* filter) const;
  // Union (Box::Merge) of the items boxes of the non-empty indexed drawn
  // layers that pass the filter (null or empty: all).
  Box IndexedLayersBox(const LayerKeySet* filter) const;
  // Prints "  %d: (%d, %d):%d\n" (cell id, offset x, y, orientation) for
  // every item of the reference layer, in tree traversal order.
  void PrintReferences() const;

  // --- Adding geometry ------------------------------------------------------
  // These refuse keys that are not shape layer keys (Error, unit "DB")
  // before changing anything. When the layer already has a tree, a new
  // placement also gets its item, so the tree stays in step.
  //
  // Grows box by b; stores a square (header 3) when b is as wide as high,
  // else a rectangle (header 4), as a new shape with one placement at
  // (x1, y1) at the end of the raw layer. A box with negative or
  // unrepresentable extent throws Error (unit "DB").
  void AddBox(const Box& b, LayerKey key, CPgonListNode*& shape);
  // Orients the rings counter-clockwise; outBox = their bounding box (also
  // merged into box); encodes the ring through the list's first point from
  // its LowestLeftPoint and appends it as a new shape with one placement at
  // the origin; count = the layer's shape count. Returns the kind (0
  // manhattan, 1 octangular, 2 general). Encoding errors pass through with
  // the cell unchanged; an empty list throws Error (unit "DB").
  int AddPolygon(PSList& rings, LayerKey key, CPgonListNode*& shape,
                 Box& outBox, int& count);
  // As AddPolygon for the ring through the given vertex, without orienting
  // and without boxes.
  int AddRing(PSPoint* ring, LayerKey key, CPgonListNode*& shape,
              int& count);
  // Adds the ring to a raw layer kept sorted by polygon: an equal shape
  // gets the placement, else a new shape is inserted in order. Returns the
  // new placement (at the origin vertex).
  LocListNode* AddSharedRing(PSPoint* ring, LayerKey key);
  // Adds the rings as shared shapes (oriented counter-clockwise, sorted,
  // equal shapes merged) and keeps the index current: when index is set or
  // the cell is indexed, the layer's tree afterwards holds exactly one item
  // per placement (none for placements the merge removed). Sets Modified.
  // Returns 1 when rings is empty (nothing changes) or the cell's box did
  // not grow, 2 when it grew. An encoding error leaves the cell as it was.
  // The key is checked first, also for an empty list.
  int InsertPolygons(PSList& rings, LayerKey key, bool index);

  // --- Indexing -------------------------------------------------------------
  // For every raw layer: its tree (created with the cell's box as region
  // when absent) is filled with one item per placement. A tree that already
  // holds items is rebuilt, never doubled.
  void IndexLayers();

  // --- Copying, dropping, freeing ------------------------------------------
  // Copies box, references (new objects) and drawn layers (new shapes and
  // placements, indexed) into target and sets Modified (and Leaf when this
  // cell has it) on target. Work layers are not copied. A target that
  // already holds contents keeps them (its box then grows to cover both).
  // Copying a cell into itself throws Error (unit "DB").
  void Copy(DBCell& target) const;
  // Removes every work layer (keys from WorkLayerKey, except ReferenceKey)
  // from both maps, trees first. True when anything was removed.
  bool DropWorkLayers();
  // Deletes every item object of a reference-like tree and nulls the item
  // pointers (the nodes stay). A drawn or work layer tree, whose items are
  // placements owned by a raw layer, is left alone.
  static void FreeTreeItems(LayerTree& tree);
  // Releases every raw layer and empties the raw map; the trees of drawn and
  // work layers, whose items pointed into them, are cleared and erased with
  // them. Reference-like trees stay. True when the raw map had entries.
  bool FreeRawLayers();
  // Drops everything the cell holds in memory (shapes, trees, references)
  // and its Modified and Loaded flags; a stored cell is read again from its
  // data file when needed.
  void Unload();

  // --- Per-shape repairs (layoutdb/db_cell_repairs.cpp) --------------------
  // Each works shape by shape in the shape's own coordinates: every ring
  // the work yields becomes a shape with all placements of the old shape,
  // moved by the new origin's position relative to the old one (a shape
  // that yields nothing adds nothing). They change neither Modified nor the
  // trees: callers store and unload the cell afterwards.
  //
  // Every shape of raw layer source, merged, with its acute vertices moved
  // by length (TrimAcute) and its holes cut open, appended to raw layer
  // target (created, also when nothing moves). 0 without a source layer;
  // else the number of vertices moved.
  int FixSmallAcuteShapes(LayerKey source, LayerKey target, int32_t length);
  // Every shape of raw layer source, merged, grown by size (SizeList with
  // smoothing), merged again as drawn and with its holes cut open, appended
  // to raw layer target (created when the source exists); the cell's box
  // grows by the placed boxes of the new shapes. Nothing without a source
  // layer.
  void SizeUpShapes(LayerKey source, LayerKey target, int32_t size);
  // For every shape of every raw layer whose ring touches or crosses itself
  // (CollectSelfTouch): a square of side 2 * halfSize centred on each such
  // point at every placement, all placements of one square shape appended
  // to raw layer markers (created only when there is one). Returns the
  // number of such shapes.
  int FindSelfCrossShapes(LayerKey markers, int32_t halfSize);
  // Replaces every shape of every raw layer whose ring touches or crosses
  // itself by one shape per ring SplitSelfTouch separates it into; a layer
  // that changed is sorted with equal shapes merged. Returns the number of
  // shapes replaced.
  int FixSelfCrossShapes();

  // --- Rings for the geometry engine (layoutdb/layer_rings.cpp) ------------
  // mode 0: drawn layers; 1: drawn and work layers; 2: work layers only.
  // Filter and output use key & 0xFFFF.
  void RawLayersToRings(const LayerKeySet& filter, LayerRings& out,
                        int mode) const;
  void IndexedLayersToRings(const Box& window, const LayerKeySet& filter,
                            LayerRings& out, int mode, int clipFlag) const;
};

// A shape's relative box moved to a placement, the sums formed in 64 bits. A
// placed box beyond the coordinate range means corrupted data: throws
// Error("Shape placed beyond the coordinate range", unit).
Box PlacedBox(const Box& rel, int32_t x, int32_t y, const char* unit = "DB");

}  // namespace velmar
