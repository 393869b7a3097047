// Hierarchical iterator: a depth-first walk over every placed shape below a
// start cell inside a window.
//
// Each step hands out one item (a data node of a layer's search tree) with
// the composed transform that places the item's cell in the start cell and
// the item's layer key. In each cell the indexed layers are visited in
// ascending key order: the drawn (and work) layers' items in query order,
// and at the reference layer every reference meeting the window is entered,
// an array element by element (only the elements whose placed child box
// meets the window). Cells are loaded with index on demand.
//
// With a target cell id the placements of that cell are reported (the node
// of the reference, layer key ReferenceKey) instead of being entered; an
// array reference is reported once.
//
// Environment reference layers (keys above ReferenceKey, filled by
// hierarchy processing) are entered from the start cell only: they describe
// the surroundings of the start cell's placement, not part of its contents.
//
// The walk keeps its descent as a stack of frames, innermost at the front,
// and never recurses per level: the depth of the hierarchy is bounded by
// memory, not by the call stack.
// Entering a placement pushes a frame of the placing cell whose cursor
// stands at that placement; starting the scan of a shape layer pushes a
// frame of the current cell for that layer. Hierarchy processing reads and
// pops the frames itself, so they are part of the interface.
//
// The iterator borrows the library and its cells: neither may change while
// a walk runs (tree nodes are its cursors). Cells loaded or indexed during
// the walk stay loaded. Errors of loading a cell pass through and leave the
// iterator unusable.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/trans.h"

namespace velmar {

class LibDB;

// One level of the descent.
struct HierFrame {
  // HierIterator::trans when the frame was pushed.
  Trans trans;
  // The cell being scanned then.
  DBCell* cell = nullptr;
  // The window in that cell's coordinates.
  Box window;
  // The layer being scanned (an entry of the cell's indexed layer map).
  DBCell::IndexedLayerMap::iterator layerPos;
  // The search-tree node visited in that layer.
  DBSearchNode* cursor = nullptr;
  // Indices of the array element entered from this frame; -1 and -1 when
  // the frame is not an array element. Hierarchy processing may use the row
  // of a single reference's frame as a mark (any value of 1 or more).
  int32_t column = -1;
  int32_t row = -1;
};

class HierIterator {
 public:
  using LayerPos = DBCell::IndexedLayerMap::iterator;

  LibDB* lib;
  // Layer keys whose low 16 bits select a shape layer; null: every layer.
  // Reference layers are never filtered.
  const LayerKeySet* filter;
  // The descent, innermost frame at the front.
  std::deque<HierFrame> frames;
  // A reference object that is never entered (nor reported); null: none.
  const SRef* excluded = nullptr;
  // The cell being scanned, its window and its composed placement in the
  // start cell, and the current search-tree node.
  DBCell* cell;
  Box window;
  Trans trans;
  DBSearchNode* cursor = nullptr;
  // Cell id whose placements are reported instead of entered; -1: none.
  int32_t target;

  // Stores the arguments (an empty filter is stored as null), no excluded
  // reference, an empty frame stack, the identity transform, no cursor.
  HierIterator(LibDB* lib, DBCell* cell, const Box* window,
               const LayerKeySet* filter, int32_t target);

  // The first item (null when there is none). Loads the start cell when it
  // holds nothing in memory and builds its layer trees when it has raw
  // layers but none indexed. With skipOwnShapes the walk starts at the
  // start cell's reference layer, so its own shapes are not visited.
  // *outTrans is the composed transform of the item's cell and *layerKey the
  // item's layer key.
  DBSearchNode* First(Trans* outTrans, int32_t* layerKey,
                      bool skipOwnShapes = false);

  // The following item, depth first; null at the end.
  //
  // With resume set, the top frame is dropped first and the walk goes on
  // with the references of the current cell after the current cursor (after
  // the further elements of the array when the dropped frame is an array
  // element's).
  // Callers resume right after a reported placement, and after they have
  // popped the frames of a cell they want to leave and restored cell,
  // window, trans and cursor from the new top frame: the walk then goes on
  // after the placement that led into the cell left. Resuming is also
  // implied whenever the top frame stands at a reference layer, the state
  // both of those cases leave. It is a flag of its own and no layer key
  // value: every layer key, 0x4000 (layer 64, datatype 0) included, is a
  // real layer.
  DBSearchNode* Next(Trans* outTrans, int32_t* layerKey, bool resume = false);

  // Scans the current cell's layers from pos on: the first item of a shape
  // layer that passes the filter, or the first item found by entering (or
  // reporting) the references meeting the window; null at the end of the
  // map.
  DBSearchNode* NextLayer(LayerPos pos, Trans* outTrans, int32_t* layerKey);

  // At the reference node under the cursor: reports it (target) or enters
  // its child, element by element for an array. True when an item was
  // found (it is then the cursor); false leaves the iterator as it was.
  bool Descend(LayerPos pos, Trans* work, int32_t* layerKey);

 private:
  // Where the walk stands in the current cell.
  enum class Step {
    Layers,         // scanning the layers from a position on
    Reference,      // at the reference under the cursor (or the next one)
    Elements,       // at the array under the cursor, from an element on
    NextReference,  // past the reference under the cursor
    Climb,          // the current cell is done
  };

  // The walk from the given step on, one loop over an explicit descent
  // (no recursion per level): the next item, or null once the cell at
  // depth floor (the number of frames) is done; with oneReference, null
  // as soon as the reference under the cursor at that depth is done.
  DBSearchNode* Run(Step step, LayerPos pos, int32_t column, int32_t row,
                    size_t floor, bool oneReference, Trans* outTrans,
                    int32_t* layerKey);
  // Loads and indexes the current cell as needed; its first layer.
  LayerPos StartCell();
  // Pushes the frame of the current cell standing at the placement (and
  // array element column, row) and makes child under element transform e
  // the current cell; returns the child's first layer.
  LayerPos Enter(DBCell* child, int32_t childId, const Trans& e, LayerPos pos,
                 int32_t column, int32_t row);
  // True when child is the current cell or a frame's cell: a placement
  // cycle. Constant time per placement whatever the depth.
  bool OnDescent(const DBCell* child, int32_t childId) const;

  // Cell id -> 1 + the position, counted from the outermost frame, of the
  // frames the cell pushes while it is the current cell. A record is valid
  // only while the frame at that position is the cell's, so frames popped
  // by the caller leave no stale marks behind.
  std::vector<uint32_t> depthOf_;
};

// ---------------------------------------------------------------------------
// Helpers shared by the hierarchy walks of the library (the iterator,
// collecting geometry, marking cells).

// Loads a cell that holds nothing in memory (with or without index). A cell
// without stored data (data file 0) has nothing to load and stays empty.
void LoadCellOnDemand(LibDB& lib, DBCell* cell, bool index);

// The window mapped into a child placed by e: the window mapped by the
// inverse of e; under a magnification, mapped exactly and rounded outward
// (a superset of the window). A window reaching beyond the coordinate
// range once mapped is clamped to it (queries only ever meet boxes inside
// the range).
Box ChildWindow(const Trans& e, const Box& window);

// The child cell a reference names, or null when the id is out of range,
// the slot is empty or the child's box is not valid (nothing to enter).
DBCell* EnterableChild(const LibDB& lib, const SRef& ref);

// The ranges of array elements whose placed child boxes may meet the window
// (columns [*c0, *c1], rows [*r0, *r1]); false when no element can. Each
// element in the ranges must still be tested: the ranges only spare the
// walk the elements that certainly lie outside.
bool ArrayElementRange(const ARef& ref, const Box& childBox,
                       const Box& window, int32_t* c0, int32_t* c1,
                       int32_t* r0, int32_t* r1);

// Throws Error (unit "DB") naming the cell of id when it is placed inside
// itself.
[[noreturn]] void ThrowPlacementCycle(const LibDB& lib, int32_t id);

}  // namespace velmar
