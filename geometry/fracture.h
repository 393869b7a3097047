// Vertical fracturing: polygons cut into pieces along vertical lines through
// their vertices, so that no piece has a vertex where its boundary turns
// back in x (every vertical line meets a piece in at most one interval).
//
// Every vertex is first marked with the monotone chain it lies on:
// PSPointFlags::LowerChain where the ring runs left to right (the inside is
// above), PSPointFlags::UpperChain where it runs right to left (the inside is
// below); vertices at a convex turn in x carry no mark, and a vertex at a
// reflex turn in x is split into two coincident vertices, one per chain.
// The scan-line sweep (codes 30 and 31) then calls FractureStep at every
// event: a lower-chain vertex is cut upward to the boundary above it, an
// upper-chain vertex downward to the boundary below it. Each cut uses the
// vertical segment twice, in opposite directions, one per resulting ring.
#pragma once

#include <cstdint>

#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"

namespace velmar {

// Fractures the rings of the list in place into vertically monotone pieces
// (counter-clockwise rings stay counter-clockwise). n = 0 cuts at every
// marked vertex (code 30); n = 1 (code 31, the form of the fracture command)
// skips the cuts that would only reach a horizontal edge joined to the
// vertex. Returns 0 for an empty list or when no vertex needed a mark (the
// list is then unchanged), else 1; afterwards every flag of the list is 0 and
// it is simplified at tolerance 0 (its ring count is not recomputed). Rings
// that touch at a vertex (as merging leaves them) are never tied together by
// a cut; a piece may still touch itself at a vertex where the input did, and
// each of its lobes is then monotone. Rings only; throws Error (unit "DRC")
// for another n and on a lost sweep order.
int FractureVertical(PSList& list, int n);

// Marks every vertex of the sorted list with its chain, splitting the
// vertices at reflex turns in x (the new vertex goes into the link chain
// right after the original one). Returns the number of marks set (2 per
// split vertex). Vertices lacking a ring neighbour are left alone.
int MarkMonotoneChains(PSList& list);

// The event step of the fracturing sweep: called by ScanSweep for codes 30
// and 31 after the event p has updated the active list, with the next event
// e (null after the last) and skipDegenerate set for code 31. Cuts at p as
// its chain mark asks, or joins p directly to e when e is the upper-chain
// vertex straight above it (the vertex E' then goes into the link chain
// right after e). True when it cut or joined.
bool FractureStep(PSList& list, PSPoint* p, PSPoint* e, FractureView& active,
                  bool skipDegenerate);

}  // namespace velmar
