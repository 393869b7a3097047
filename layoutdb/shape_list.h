// Shape lists and placements: the raw layers of a cell.
//
// A raw layer is a CPgonList of shapes; each shape (CPgonListNode) owns one
// encoded polygon (layoutdb/db_polygon.h) and the LocList of positions where
// that polygon is placed. Equal polygons of a layer are merged into one shape
// with several placements, which keeps repeated geometry cheap.
//
// Both node kinds are pooled (the pooled-module pattern of
// foundation/pool_allocator.h): LocList nodes and CPgonList nodes each come
// from a static pool (50000 per block) and a free list of the module's own
// list type, chained through next.
//
// Ownership:
// - A CPgonList owns its nodes; a shape node owns its polygon (a
//   std::unique_ptr) and its LocList; a LocList owns its nodes.
// - Releasing a placement list returns its chain in one splice. Releasing a
//   shape list returns every node to the free list; a node ends owning
//   nothing: a polygon it still holds is deleted and placements it still
//   holds are released with it. Owners that delete polygons (reset the
//   pointer) and release placements first, as a cell's owner does, pay for
//   nothing twice; owners that do not, leak nothing.
// - Search-tree items of an indexed layer point at LocListNodes: a placement
//   must not be freed while an index refers to it.
// - ResetPool (the last call of a run) invalidates every node of every list.
#pragma once

#include <cstdint>
#include <memory>

#include "layoutdb/db_polygon.h"

namespace velmar {

class BinaryStream;
struct CPgonListNode;
struct PSList;

// One placement of a shape.
struct LocListNode {
  LocListNode* next;     // next placement (null at the end); free-list link
  CPgonListNode* owner;  // the shape this placement belongs to
  LocListNode* prev;     // previous placement (null at the start)
  int32_t x;             // where the shape's origin vertex lies in the cell
  int32_t y;
};

// The placements of one shape. A plain header of three words.
struct LocList {
  LocListNode* first = nullptr;
  LocListNode* last = nullptr;
  int32_t count = 0;

  static constexpr int32_t kNodesPerBlock = 50000;

  // The free-list head, else a new pool element; the caller sets every field.
  static LocListNode* NewNode();
  // Pushes one node on the free-list head.
  static void FreeNode(LocListNode* node);
  // Appends a new placement (x, y) owned by owner at the end of list.
  static LocListNode* Append(LocList& list, CPgonListNode* owner, int32_t x,
                             int32_t y);
  // Unlinks the node (first, last and the neighbours' links fixed), frees
  // it, count - 1; returns its successor (null when it was the last, even
  // when earlier placements remain: test count).
  static LocListNode* Remove(LocList& list, LocListNode* node);
  // Splices the whole chain onto the free list and zeroes the header. Given
  // the free list itself (FreeList()), resets the pool (ResetPool).
  static void Release(LocList& list);
  // Empties the free list and releases every block of the pool; every
  // placement of every list becomes invalid.
  static void ResetPool();
  // Kilobytes held by the pool; unless quiet, prints
  // "%d kbytes allocated for LocList\n" when that is not 0.
  static int ReportPool(bool quiet);
  // The free list (only first is kept).
  static LocList& FreeList();

  // Order of placements: x, then y, signed. -1, 0 or 1.
  static int ComparePlacements(const LocListNode* a, const LocListNode* b);
};

// One shape of a raw layer.
struct CPgonListNode {
  CPgonListNode* next = nullptr;      // next shape; free-list link
  std::unique_ptr<DBPolygon> polygon; // the encoded polygon (owned)
  CPgonListNode* prev = nullptr;      // previous shape
  LocList placements;                 // at least one in a stored layer
};

// The shapes of one raw layer. A plain header of three words.
struct CPgonList {
  CPgonListNode* first = nullptr;
  CPgonListNode* last = nullptr;
  int32_t count = 0;

  static constexpr int32_t kNodesPerBlock = 50000;

  // The free-list head, else a new pool element: links null, no polygon, no
  // placements; the caller sets the links.
  static CPgonListNode* NewNode();
  // Returns one node to the free-list head; it ends owning nothing (see the
  // file comment).
  static void FreeNode(CPgonListNode* node);
  // Appends a new shape owning polygon (no placements) at the end of list.
  static CPgonListNode* Append(CPgonList& list,
                               std::unique_ptr<DBPolygon> polygon);
  // Inserts a new shape owning polygon before position (at the end when
  // position is null).
  static CPgonListNode* InsertBefore(CPgonList& list, CPgonListNode* position,
                                     std::unique_ptr<DBPolygon> polygon);
  // Unlinks the node, releases its placements, frees it (its polygon, if
  // still held, with it), count - 1; returns the successor. A caller that
  // wants to keep the polygon moves it out first.
  static CPgonListNode* Remove(CPgonList& list, CPgonListNode* node);
  // Returns every node to the free list in one splice and zeroes the header
  // (each node ends owning nothing, see the file comment). Given the free
  // list itself (FreeList()), resets the pool (ResetPool).
  static void Release(CPgonList& list);
  // Empties the free list and releases every block of the pool; polygons
  // still held by shapes are deleted. Every shape of every list becomes
  // invalid.
  static void ResetPool();
  // Kilobytes held by the pool; unless quiet, prints
  // "%d kbytes allocated for CPgonList\n" when that is not 0.
  static int ReportPool(bool quiet);
  // The free list (only first is kept).
  static CPgonList& FreeList();

  // --- Orders (three-way, for sorting) ---------------------------------------
  // DBPolygonExt::Compare of the two shapes' polygons.
  static int ComparePolygons(const CPgonListNode* a, const CPgonListNode* b);
  // ComparePolygons; then the placement counts (fewer first); then the
  // placements pairwise in list order (ComparePlacements). 0 when all agree.
  static int CompareShapes(const CPgonListNode* a, const CPgonListNode* b);

  // Stable sorts (bottom-up merge sort); prev links are rebuilt.
  static void SortByPolygon(CPgonList& list);
  static void SortPlacements(LocList& list);

  // --- List operations ----------------------------------------------------------
  // The first node, in list order, whose polygon does not compare below
  // polygon; null when there is none.
  static CPgonListNode* LowerBound(const CPgonList& list,
                                   const DBPolygon& polygon);
  // Turns every ring of rings into a shape (origin LowestLeftPoint, placed
  // at the final origin), appends them, sorts the list by polygon and merges
  // equal shapes. Returns the number of placements removed as duplicates.
  // rings must hold closed rings only; their vertices stay flagged visited.
  // A Build error leaves the shapes made before it appended (unsorted).
  static int AddRings(CPgonList& list, PSList& rings);
  // On a list sorted by ComparePolygons: every shape equal to its
  // predecessor hands its placements to the first of the run and goes; every
  // shape with two or more placements gets them sorted (x, then y) and loses
  // each placement equal to its predecessor (of equal placements the first
  // in list order stays). Returns the number of placements removed.
  static int MergeEqualShapes(CPgonList& list);
  // SortByPolygon, then MergeEqualShapes (the same result), with equal
  // neighbours found while sorting rather than by comparing the polygons
  // once more.
  static int SortAndMergeEqualShapes(CPgonList& list);
  // Appends one ring per placement, in list order: the shape's polygon
  // decoded once, moved to each placement. New vertices have flags 0. A
  // placed vertex beyond 32 bits throws Error (unit "DB").
  static void ToRings(const CPgonList& list, PSList& out);
  // One shape record: the polygon record (DBPolygon::Write), the placement
  // count (unsigned chained), each placement as signed chained (dx, dy) from
  // the previous one, the first from (0, 0). The differences are taken
  // modulo 2^32 (a reader adds them back the same way), so placements more
  // than 2^31 apart are stored exactly.
  static void WriteShape(const CPgonListNode& shape, BinaryStream& out);
  // The shape count (unsigned chained), then every shape (WriteShape).
  static void Write(const CPgonList& list, BinaryStream& out);
  // Appends a deep copy of every shape of source (polygon and placements)
  // at the end of target.
  static void CopyShapes(const CPgonList& source, CPgonList& target);
  // Moves every shape of source behind the shapes of target (the nodes are
  // relinked with their placements, which keep pointing at their shapes);
  // source ends empty.
  static void Splice(CPgonList& target, CPgonList& source);
};

}  // namespace velmar
