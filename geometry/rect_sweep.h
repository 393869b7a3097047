// Booleans of axis-parallel input by interval counts along the sweep line.
//
// When every edge of the operands is horizontal or vertical (the common case
// of mask data) the winding counts of both operands are kept per interval of
// y along a vertical sweep line: each vertical input edge adds +1 or -1 to
// the counts of the intervals it spans, and the output edges follow from the
// places where the inside state of an interval (vertical edges) or of two
// neighbouring intervals (horizontal edges) changes. No edge is split at a
// crossing and no event is created during the sweep, so the cost grows with
// the input and the output, not with the crossings of the input.
//
// The result is the one the general scan-line sweep gives for the same
// input, vertex for vertex: the same rings, each vertex with the same
// neighbours, in the same order on the link chain (by position, x then y;
// where two rings touch at one corner, the vertex of the ring that leaves
// upward comes first).
#pragma once

#include <vector>

#include "foundation/box.h"
#include "geometry/op_codes.h"
#include "geometry/point_system.h"

namespace velmar {

// Runs the boolean `code` (Merge, Or, Overlap, And, Diff, Xor,
// NegativeWinding, and the empty codes 1, 4, 7) on the operand points of
// list into out as closed rings (appended behind what out holds; ring count
// unchanged), and returns true, when the input is for this path: closed
// rings only, every edge axis-parallel, no vertex carrying an edge-class
// bit, each edge's two ends in one operand. Otherwise, and also when a DIFF
// meets a region that is neither inside nor outside (a negative count),
// returns false and leaves list and out as they were. The list is not
// changed either way: not sorted, not split. With lobes false, a ring that
// crosses itself winds as drawn instead of being read as its lobes (below).
bool RectilinearBoolean(PSList& list, PSList& out, BooleanOpCode code,
                        bool lobes = true);

// Cuts one closed ring, given by its vertices in ring order, into the
// pieces inside two sets of boxes, each set in turn: for set k = 0, 1 the
// pieces are what RectilinearBoolean (And, lobes read) gives for a copy of
// the ring (first operand, flags 0) and the boxes of the set as rings of
// the second operand, appended to out in the same order, vertex for vertex.
// The boxes of one set must not overlap. The ring is read once for both
// sets. Returns the number of sets done (their pieces are in out): 0 when
// the ring is not for this path (an edge that is not axis-parallel), 1 when
// the second set's sweep was refused; the caller intersects the remaining
// sets by the general path.
int RectilinearChopRing(const std::vector<Point>& ring,
                        const std::vector<Box> (&tiles)[2], PSList& out);

// A ring that crosses itself so that it winds around some region
// clockwise and around another counter-clockwise (a "bow tie") contributes
// each of those regions ("lobes") as a counter-clockwise ring of its
// operand, as the general sweep reads it. Rings of four vertices cannot do
// that and are read edge by edge; other rings are read whole, and only
// those that pass some point twice are swept alone to find their lobes.

// The first vertex of every ring of an axis-parallel list that passes some
// point twice (two straight runs that do not follow each other share a
// point, or a run turns back): the only rings that can be bow ties. Uses and
// clears the Visited marks.
std::vector<PSPoint*> AxisParallelSelfMeetingRings(PSList& list);

// Switches the dispatch of BooleanSweep to RectilinearBoolean on or off for
// the process (on by default). With it off, RectilinearBoolean returns
// false at once. For comparisons of the two paths in tests and benchmarks.
void EnableRectilinearBoolean(bool enabled);
bool RectilinearBooleanEnabled();

}  // namespace velmar
