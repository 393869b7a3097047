// Scan-line sweep of the boolean engine.
//
// The sweep visits the vertices of a PSList in (x, then y) order and keeps
// the edges that cross the current column in an ordered active list. With
// keep set it splits edges where they cross or overlap (the new vertices are
// pushed at the head of the swept list and pass through an event heap), and
// at the end of every column it classifies the edges that start there by
// the two winding counts (geometry/op_codes.h) and later emits every kept
// edge as a 2-point chain, oriented with the inside on its left. The same
// sweep without splitting cuts holes open (code 25) and, with splitting but
// no output, puts a vertex at every crossing (code 32).
//
// Every geometric test is exact: products of coordinate differences are
// formed in 128-bit integers, and the y of an edge at an abscissa is the
// exactly rounded (half up) value of YAt.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/op_codes.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar {

// Comparators of vertices (ComparePoint and ComparePointLess are in
// geometry/point_list_order.h).
// 1 when a is larger than b in (x, then y) order, else 0.
int ComparePointGreater(const PSPoint* a, const PSPoint* b);
// Three-way on x, then y; at one position a vertex that has a next vertex
// (a chain start or an inner vertex) comes before one that has none. Sorts
// the edge chains before ring connection.
int ComparePointChain(const PSPoint* a, const PSPoint* b);

// Sorts the link chain by position (x, then y), stably: the same order as
// SortPoints with ComparePointLess, or, with chainOrder, with
// ComparePointChain (at one position vertices that have a next vertex
// first). A radix sort on the coordinates: linear in the number of points.
void SortPointsByPosition(PSList& list, bool chainOrder);

// A point with its position as one sort key (x, then y, both as unsigned
// offsets from INT_MIN) and whether it has a next vertex.
struct PositionItem {
  uint64_t key;
  PSPoint* point;
  uint32_t start;  // 1 when the point has a next vertex

  static uint64_t KeyOf(const PSPoint* p) {
    return (uint64_t(uint32_t(p->x) ^ 0x80000000u) << 32) |
           uint64_t(uint32_t(p->y) ^ 0x80000000u);
  }
};

// Stable sort of items by key; with chainOrder, at equal keys the items
// with start set come first.
void SortPositionItems(std::vector<PositionItem>& items, bool chainOrder);

// An edge of the sweep: its two vertices of the swept list with left < right
// in (x, then y) order. A forward edge is one whose ring runs from its left
// end to its right end; a backward edge runs from right to left.
struct SweepEdge {
  static constexpr uint32_t kNoTag = 0xFFFFFFFFu;

  PSPoint* left = nullptr;
  PSPoint* right = nullptr;
  bool forward = true;
  // Left to the column walk of classification mode: a value that stays with
  // the edge while it is active (kNoTag when the edge enters the list).
  mutable uint32_t tag = kNoTag;

  bool IsVertical() const { return left->x == right->x; }
};

// Place of edge e relative to edge n at abscissa x (both must span x):
// negative when e lies below n, positive above, 0 when they cannot be told
// apart. Vertical edges are placed by their lower end and never compare
// equal to a non-vertical edge; two edges through the same rounded y are
// ordered by the turn towards their right ends. Shared by the boolean sweep
// and the distance-check sweeps.
int CompareActiveEdge(const SweepEdge& e, const SweepEdge& n, int32_t x);

// The boolean sweep. The list must be sorted by (x, then y) (an empty list
// does nothing). Output mode (out given, keep set): every edge kept by the
// code's inside rule is pushed onto out as a 2-point chain with the inside
// on its left (ring count of out unchanged). Code 25 (keep false, out null)
// cuts every hole ring flagged PSPointFlags::HoleStart open to the boundary
// above it, in place. Code 32 (keep set, out null) only splits crossings and
// overlaps. The swept list gains the vertices of the splits; class bits are
// set and cleared again in its flags. Codes 30 and 31 (keep false, out
// unused) fracture the rings vertically in place: FractureStep
// (geometry/fracture.h) runs after every event but the last.
// Throws Error("Wrong segment ordering", "DRC") when an edge to be removed is
// not found where the active order puts it.
void ScanSweep(PSList& list, PSList* out, BooleanOpCode code, bool keep);

// One node of the active list; its edge is the first member.
struct ActiveEdge;

// The active list of a running sweep as the vertical fracturing step sees
// it (codes 30 and 31). Only ScanSweep makes one.
class FractureView {
 public:
  explicit FractureView(void* sweep) : sweep_(sweep) {}

  // The place of e at x, searched from the sweep's cursor: the lowest node
  // that e does not lie above (down while e <= node, then up while e >
  // node). May be the top sentinel.
  ActiveEdge* Locate(const SweepEdge& e, int32_t x) const;
  // Neighbours in the active order (a sentinel at either end).
  static ActiveEdge* Above(ActiveEdge* n);
  static ActiveEdge* Below(ActiveEdge* n);
  bool IsSentinel(const ActiveEdge* n) const;
  // The node's edge; the fracturing step moves its left end.
  static SweepEdge& Edge(ActiveEdge* n);
  // Links a new node holding e just below `at`.
  void InsertBelow(const SweepEdge& e, ActiveEdge* at) const;
  // Unlinks and frees a node whose edge a cut has used up.
  void Remove(ActiveEdge* n) const;

 private:
  void* sweep_;
};

// ScanSweep in output mode that also records every point it pushes onto out
// (in push order, with its key and whether it starts its chain), so that
// the chains can be joined without reading the points again
// (ReconnectRecorded, geometry/ring_connect.h).
void ScanSweepRecorded(PSList& list, PSList& out, BooleanOpCode code,
                       std::vector<PositionItem>& emitted);

// ---------------------------------------------------------------------------
// Classification mode: the sweep of ScanSweep with keep set and no output,
// handing the state of every column to a caller's walk (the relational
// classification writes its fields into the point flags from it).

// The sweep's state at the end of a column: the active edges (those that
// span the column and run to its right, sentinels excluded) bottom-up, and
// the vertical edges of the column (left = lower end) ordered by lower end,
// then upper end. The walk may change the flags of the edges' vertices, but
// nothing else.
struct SweepColumn {
  int32_t x = 0;
  const SweepEdge* verticals = nullptr;
  int32_t verticalCount = 0;

  // Lowest active edge, or null when there is none.
  const ActiveEdge* First() const { return first; }
  // The active edge above e, or null at the top.
  static const ActiveEdge* Next(const ActiveEdge* e);
  static const SweepEdge& Edge(const ActiveEdge* e);

  const ActiveEdge* first = nullptr;
};

using SweepColumnWalk = void (*)(void* context, const SweepColumn& column);

// Sweeps the sorted list like ScanSweep(list, nullptr, BooleanOpCode::Or,
// true) (splitting at crossings and overlaps) and calls walk(context, column)
// at the end of every column. The last call comes after the last event: its
// active list is normally empty and it carries the last column's vertical
// edges.
void ScanSweepColumns(PSList& list, SweepColumnWalk walk, void* context);

// y of a non-vertical edge at abscissa x (YAt: the left end's y for a
// horizontal edge, otherwise rounded half up).
int32_t EdgeYAt(const SweepEdge& e, int32_t x);
// True when e belongs to the group of coincident edges of rep: e lies on
// rep's line and starts at the same y as rep.
bool SameEdgeGroup(const SweepEdge& rep, const SweepEdge& e);

// ---------------------------------------------------------------------------
// Batch forms that nothing in the system calls.

// For every vertex carrying class bit 0x02 the edge to its next vertex, and
// for every vertex carrying 0x08 the edge to its previous vertex, is pushed
// onto out as a 2-point chain in the direction its class gives; bits 0x02 to
// 0x10 of the vertex are then cleared.
void EmitClassifiedEdges(PSList& list, PSList& out);
// In a list sorted by position, among consecutive vertices of equal x,
// links each pair of chain ends in turn: an end that has a next vertex gets
// the other as its previous vertex, otherwise the other as its next vertex.
void JoinChainPairs(PSList& list);

}  // namespace velmar
