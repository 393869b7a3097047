// Sizing: every edge of a polygon set moved sideways by one signed size and
// each ring rebuilt from the moved edges. A positive size moves an edge to
// the right-hand side of its direction, so counter-clockwise rings grow and
// clockwise rings (holes) shrink. The rebuilt rings may overlap or contain
// turned-over pieces; they become a clean polygon set after a merge
// (BooleanSweep code 0), which keeps the regions of positive winding.
//
// At a sharp vertex the two moved edges meet far away: the spike is cut by
// the square of half-size |size| centred on the input vertex (a corner cut).
// Smoothing first moves sharp vertices of the opposite turning sense that
// have an edge shorter than |size|.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

// Sizes every closed ring of input and appends the sized rings to output
// (ring count of output unchanged). Open chains are left out. With smooth
// set, SmoothAcute runs on the input first (it may move input vertices).
// Every input ring vertex reached gets PSPointFlags::Visited, left set.
// A vertex whose two edges run on in one line emits nothing; where they
// double back, both moved edge ends are emitted (a flat cap). Throws Error
// ("DRC") when a computed coordinate leaves the int32 range.
void SizeList(PSList& input, PSList& output, int32_t size, int smooth);

// Moves, in place, every sharp vertex of the sense that corner cuts leave
// alone and that has an edge shorter than |size| to the foot of the
// perpendicular from its shorter edge's far end; returns how many moved
// (then the list is simplified with tolerance 0). Rings only.
int32_t SmoothAcute(PSList& list, int32_t size);
// The same for the one ring through `ring`, then SimplifyRingAt on it.
int32_t SmoothAcuteRing(PSList& list, PSPoint* ring, int32_t size);

// Offsets the ring through `ring` without smoothing or corner cuts and
// appends it to output (`list` is not used).
void OffsetRing(PSList& list, PSPoint* ring, PSList& output, int32_t size);

// Working state of one ring under construction: the new points are pushed
// at the head of `work`; first and last are the ends of the chain so far.
struct SizingRing {
  PSList* work = nullptr;
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
};

// Corner cuts of a sharp vertex v (previous p, next n) by the square of
// half-size a > 0 around v: incoming is the moved incoming edge (its end is
// the offset intersection), outgoing the moved outgoing edge. The cut's
// points are linked after the ring's last point.
void BuildGrowCorner(PSList& input, SizingRing& ring, int32_t a,
                     const PSPoint* p, const PSPoint* v, const PSPoint* n,
                     const Box& incoming, const Box& outgoing);
void BuildShrinkCorner(PSList& input, SizingRing& ring, int32_t a,
                       const PSPoint* p, const PSPoint* v, const PSPoint* n,
                       const Box& incoming, const Box& outgoing);

// Removes isolated turned-over edges (start point flagged
// PSPointFlags::Marker) of the one ring held by `ring`; clears every mark.
void RemoveTurnedEdges(PSList& ring, int32_t size);

}  // namespace velmar
