// Distance-check plane sweeps: SPACE, WIDTH and ENC for axis-parallel and
// 45-degree input.
//
// Each sweep walks one PSList whose link chain is sorted by (x, then y)
// (SortPoints with ComparePointLess) and pushes its violations at the head
// of `out`: the quadrilaterals between two edges closer than the rule
// distance (BuildViolationRegion) and, at convex (SPACE, ENC) or concave
// (WIDTH) corners, a box between two corners closer than the distance. The
// output is not merged; a region can come more than once.
//
// Arguments shared by all sweeps:
//   distance  the rule distance in database units; SPACE and ENC pass it
//             positive, WIDTH negated (its sign picks the band side);
//   unit      the least half-width of a corner box (one nanometre);
//   closed    passed on to BuildViolationRegion (1: closed rings);
//   kind      1 corner boxes only, 2 and above edge-pair regions only,
//             0 and below both;
//   twoLayers (SPACE only) nonzero pairs only a point with flag SecondLayer
//             with one without it.
// Vertices without a previous or next vertex (open chains) have no edge on
// that side. Squares of distances are formed in 64 bits; a derived
// coordinate outside the int32 range throws Error(..., "DRC"), as does an
// edge that cannot be found in the active list when it ends ("Wrong segment
// ordering").
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// SPACE of axis-parallel input: gaps outside the shapes.
void SweepSpaceManhattan(PSList& list, PSList& out, int32_t distance,
                         int32_t unit, int closed, int kind, bool twoLayers);
// WIDTH of axis-parallel input (distance negative): the inside of the shapes.
void SweepWidthManhattan(PSList& list, PSList& out, int32_t distance,
                         int32_t unit, int closed, int kind);
// SPACE of input with axis-parallel and 45-degree edges.
void SweepSpace45(PSList& list, PSList& out, int32_t distance, int32_t unit,
                  int closed, int kind, bool twoLayers);
// WIDTH of input with axis-parallel and 45-degree edges (distance negative).
void SweepWidthAnyAngle(PSList& list, PSList& out, int32_t distance,
                        int32_t unit, int closed, int kind);
// ENC of axis-parallel input: the points with flag SecondLayer form the
// enclosing layer, the others the enclosed layer. distance > 0. Enclosed
// edges lying outside the enclosing layer get flag Marker, and their rings
// are copied whole to out at the end.
void SweepEnc(PSList& list, PSList& out, int32_t distance, int32_t unit,
              int closed, int kind);

}  // namespace velmar
