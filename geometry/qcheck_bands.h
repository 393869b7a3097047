// Bands of the rule-by-sizing checks: every ring sized by an amount derived
// from the rule, so that a boolean sweep over the sized rings finds where
// the rule is broken (overlapping bands: spacing; turned-over bands: width;
// bands outside the enclosing layer: enclosure).
//
// Unlike plain sizing, each right-angle corner of the sense that the offset
// opens up (convex corners when growing, concave ones when shrinking) is
// first replaced by a one-unit chamfer whose diagonal is moved one unit
// further than the size, so that two corners meeting exactly at the rule
// distance diagonally do not make their bands overlap.
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// Sizes every closed ring of input, chamfered, by size and appends the
// sized rings to output (not merged; output's ring count unchanged). With
// smooth set, the chamfered copy of each ring is smoothed first
// (SmoothAcute). Open chains are left out. Every input ring vertex gets
// PSPointFlags::Visited, left set.
void BuildQCheckBands(PSList& input, PSList& output, int32_t size, int smooth);

// Copies the ring through `ring` into `chamfered` as one closed ring (ring
// count not raised), each right-angle corner of the opened sense (left
// turns when negative is 0, right turns when it is 1) replaced by the two
// points one unit from it along its edges; the first point of each chamfer
// carries PSPointFlags::Marker (its outgoing edge moves size + 1). `list`
// is not used.
void SplitRingForQCheck(PSList& list, PSPoint* ring, PSList& chamfered,
                        int negative);

// Offsets the one ring through `ring` by size (size + 1 for an edge whose
// start carries PSPointFlags::Marker), with corner cuts at sharp vertices
// of the opened sense, and appends it to output (ring count unchanged).
// When shrinking turns over more than half of its edges, the ring is
// reversed. `list` is not used.
void SizeChains(PSList& list, PSPoint* ring, PSList& output, int32_t size);

}  // namespace velmar
