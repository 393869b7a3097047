// Relational classification of two operands and the selections that read
// it: new polygons from selected edges (codes 0..8), whole rings of one
// operand (codes 10..23) and single edges of one operand.
//
// ClassifyPoints runs the scan-line sweep without output list; its column
// walk (classification mode, in scan_sweep.cpp) calls ClassifyEdge for
// every edge of a group of coincident edges, which leaves in the edge's
// start point (the point it leaves in ring order) the fields
//   layer-1 field  (flags >> 1) & 3   (PSPointFlags::Layer1Field)
//   layer-2 field  (flags >> 3) & 3   (PSPointFlags::Layer2Field)
// with the values 0: the operand's count < 1 on both sides; 1: one side
// < 1 and the other >= 1, counts differing by less than 2; 3: the same with
// a difference of 2 or more; 2: >= 1 on both sides; and, set by the walk,
// OwnBoundary (0x20) and Abutting (0x40) of the merged operands (read by
// codes 0..8), and the ring's own relation to the other operand (read by
// codes 10..23): RingAbutting (0x100) where the other operand lies only on
// the outer side of the edge's ring, and Overlap (0x80) on an edge that
// closes, in some column, an interval of its ring that shared area with the
// other operand. Other rings of the edge's own operand never change these
// two. Vertices that the classification inserts carry SplitVertex (0x200),
// so that ring copies give the input rings unchanged.
#pragma once

#include <cstdint>

#include "geometry/op_codes.h"
#include "geometry/point_system.h"

namespace velmar {

// Field value (0..3) of one operand's counts below and above an edge.
uint16_t ClassificationField(int32_t below, int32_t above);

// Classifies the edge between left and right (left < right in (x, then y)
// order; for a vertical edge the lower end) with the counts of its group
// below and above it (east and west for a vertical edge): ORs both fields
// into the edge's start point (left when the ring runs left -> right, else
// right) and returns whether the edge is an own boundary: a first-operand
// edge (left without SecondLayer) that is forward with count1 going from
// < 1 to >= 1 or backward with count1 going from >= 1 to < 1; a
// second-operand edge likewise with count2.
bool ClassifyEdge(PSPoint* left, PSPoint* right, int32_t count1Below,
                  int32_t count1Above, int32_t count2Below,
                  int32_t count2Above);

// Sorts the list by (x, then y) and runs the classification sweep over both
// operands (points with SecondLayer form the second). Edges are split at
// crossings and overlaps, so the list gains vertices. The list must hold at
// least one point.
void ClassifyPoints(PSList& list);

// Decision of the edge leaving p for a code 0..8: 0 drop, 1 keep the
// edge's direction, 2 reverse it.
int SelectByClass(const PSPoint* p, RelationalCode code);

// Decision of the edge leaving p for a code 10..23: 0 to 3. Abutting is
// read from RingAbutting. In edge mode the edge is judged alone, with its
// own Overlap bit for OVER. In ring mode ringOverlap tells whether the
// edge's ring shares area with the other operand (an Overlap bit anywhere
// on the ring): such a ring is not outside, so SOUT, TOUT and OUTSIDE give
// 0 and OVER gives 3.
int RelationalDecision(const PSPoint* p, RelationalCode code, bool edgeMode,
                       bool ringOverlap = false);

// Copies the edges of a classified list whose SelectByClass decision is
// non-zero onto out: runs of consecutive edges with the same decision share
// their vertex copies (a fully selected ring comes out closed); with
// edgesOnly every edge is a 2-point chain of its own. Decision 2 edges are
// linked against the ring's direction. Copies carry flags 0.
void CollectSelectedEdges(PSList& list, PSList& out, RelationalCode code,
                          bool edgesOnly);

// New polygons from the selected edges of a classified list (codes 0..8),
// appended to out: joined into closed rings and simplified, or as 2-point
// chains with edgesOnly. Codes 3 and 4 merge their selection as one layer.
// Throws Error("Polygon connection failed", "DRC") when the selected edges
// do not pair up, Error(..., "DRC") for a code outside 0..8. The classified
// list keeps its points.
void SelectEdges(PSList& list, PSList& out, RelationalCode code,
                 bool edgesOnly);

// Copies of the rings of the code's operand (even codes: the first, odd
// codes: the second) that the code selects (codes 10..23; with negate the
// other rings of that operand), appended to out. Each ring is judged for
// itself against the other operand; the copy is the input ring as it was
// given, vertex for vertex (without the vertices that the classification
// inserted). A ring is judged once and copied at most once. Throws Error(...,
// "DRC") for a code outside 10..23.
void RelationalSelect(PSList& list, PSList& out, RelationalCode code,
                      bool negate);

// The selected edges of the code's operand, each judged alone, pushed onto
// out as 2-point chains in the ring's direction.
void RelationalSelectEdges(PSList& list, PSList& out, RelationalCode code,
                           bool negate);

}  // namespace velmar
