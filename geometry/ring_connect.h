// Ring connection: joins the loose edge chains of a sweep result back into
// closed rings.
//
// At every vertex position the chains that end there are joined to the
// chains that start there; the start point is kept and the end point freed
// (the end's previous vertex is linked to the start). A chain start is a
// point with a next vertex and no previous one, a chain end one with a
// previous vertex and no next one; inner vertices (both) are left alone.
// One start and one end make a plain vertex. Where two or more rings touch
// at one point, each chain end is joined to the chain start that turns
// left most sharply from it (for two rings by the turn of the cross product),
// so that the rings stay apart. The ring count of the list is not changed;
// the point count drops by one for every freed end point.
#pragma once

#include <vector>

#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"

namespace velmar {

// Sorts the list with ComparePointChain, joins its chains (ConnectPolygons),
// validates the rings with CheckConnectivity when check is set, and removes
// collinear vertices (Simplify at tolerance 0).
void ReconnectPolygons(PSList& list, bool check);

// Joins the chains of a list already sorted by ComparePointChain. A position
// with a lone chain start or end (or a lone point) prints "Program Error: lost
// connection at (%d, %d)\n"; one whose starts and ends cannot be paired
// prints "Program Error: wrong connection condition at (%d, %d)\n"; both then
// throw Error("Polygon connection failed", "DRC"), leaving the list partly
// joined but whole. An empty list is left as it is.
void ConnectPolygons(PSList& list);

// Joins the 2-point chains of a sweep result exactly as
// ReconnectPolygons(list, false) does. list holds just the chains that
// ScanSweepRecorded pushed and emitted records its points in push order;
// with those records the points need not be read to be sorted, and a vertex
// that two joined chains pass straight through is dropped at once. The
// records are consumed.
void ReconnectRecorded(PSList& list, std::vector<PositionItem>& emitted);

// Tolerant form for edge layers: sorts with ComparePointChain, joins every
// position whose starts and ends pair up, leaves the others open, and ends
// with RemoveCollinear. Never fails.
void MergeTouchingRings(PSList& list);

}  // namespace velmar
