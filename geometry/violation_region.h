// Violation regions of the distance-check sweeps: the quadrilateral between
// the part of a partner edge that lies inside an edge's distance band and
// that part's projection onto the edge's line.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "geometry/point_system.h"
#include "geometry/segment_geometry.h"

namespace velmar {

// The band of seg for a distance d as a counter-clockwise quadrilateral: the
// strip between seg and Shifted(seg, d), on seg's right-hand side for d > 0
// (V0 end, V1 start, V2 shifted start, V3 shifted end) and on its left for
// d <= 0 (V0 start, V1 end, V2 shifted end, V3 shifted start). Empty
// (degenerate) for d = 0.
Quad SegmentBand(const Box& seg, int32_t d);

// Builds the violation region of partner seg2 in the band of seg1 for the
// rule distance d (+distance for SPACE and ENC, -distance for WIDTH) and
// pushes its four vertices (flags 0) at the head of out: one closed ring
// (ring count + 1) when closed is non-zero, else two 2-point chains (ring
// count unchanged). With twoWay non-zero and the segments not parallel the
// reverse region (seg1 in seg2's band) is tried as well. Returns whether at
// least one region was built; d = 0 never builds one.
bool BuildViolationRegion(const Box& seg1, const Box& seg2, int32_t d,
                          PSList& out, int closed, int twoWay);

}  // namespace velmar
