// Segment geometry: rounding rules, feet of perpendiculars, the band
// quadrilateral with its containment test and segment clipping, and circles
// as vertex rings. The member routines of `Box` read as a directed segment
// are declared in foundation/box.h and defined in segment_geometry.cpp.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/box.h"

namespace velmar {

// The square root of 2 used for 45-degree steps, and the tolerance with
// which an oblique crossing point may stray outside the segments' boxes.
inline constexpr double kSqrt2 = 1.4142135623730951;
inline constexpr double kCrossingTolerance = 1.1920928955078125e-07;  // 2^-23

// Half away from zero: a negative v becomes v - 0.5, any other v + 0.5,
// then truncated towards zero. Points along, beyond and beside a segment,
// feet of projections, interpolated values and unit conversions use it.
long double RoundAway(long double v);
// Half up: floor(v + 0.5). Crossing points, line intersections and
// interpolation at a given abscissa use it.
long double RoundHalfUp(long double v);
// The value b at abscissa w on the line through (a1, b1) and (a2, b2),
// a1 != a2, exactly rounded half up (floor(v + 0.5), in 128 bits). Throws
// Error(..., "DRC") when a1 == a2 or when it does not fit into int32; with
// w between a1 and a2 it lies between b1 and b2 and always fits.
int32_t InterpolateHalfUp(int32_t a1, int32_t b1, int32_t a2, int32_t b2,
                          int32_t w);
// An integral value as a coordinate; throws Error(..., "DRC") when it does
// not fit into int32 (the result would otherwise wrap silently).
int32_t ToCoord(long double v);
int32_t ToCoord(int64_t v);

// Segment classes of a `Box` read as a segment. A zero-length segment is
// both vertical and horizontal.
inline bool IsVertical(const Box& s) { return s.x1 == s.x2; }
inline bool IsHorizontal(const Box& s) { return s.y1 == s.y2; }
// |dx| = |dy| and neither is zero.
inline bool Is45(const Box& s) {
  int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
  return dx != 0 && (dx == dy || dx == -dy);
}

// Parallel test of two segments used by the clipping and the violation
// regions: a horizontal: b horizontal; a vertical: b vertical; otherwise the
// exact integer products dy_a * dx_b and dx_a * dy_b are equal.
bool SegmentsParallel(const Box& a, const Box& b);

// The foot of (px, py) on the segment's line: (x1, py) for a vertical
// segment, (px, y1) for a horizontal one, otherwise the projection with
// each offset from the start rounded half away from zero. The oblique case
// needs a segment of non-zero length.
Point SegmentFoot(const Box& seg, int32_t px, int32_t py);

// Quadrilateral V0..V3 with edges V0-V1, V1-V2, V2-V3, V3-V0; producers
// build it counter-clockwise.
struct Quad {
  Point v[4];

  // 2 strictly inside (strictly left of every edge), 0 strictly right of
  // some edge, 1 otherwise (on the boundary).
  int Contains(int32_t x, int32_t y) const;
};

// Replaces the segment by its part inside the quadrilateral (direction
// kept) and returns true; false with the segment unchanged when no part
// lies inside beyond touching, or when the segment runs along an edge line.
bool ClipSegmentToQuad(const Quad& quad, Box& segment);

// A circle and its polygon. `count` is the requested vertex count before
// ToPolygon and the actual count afterwards; `vertices` holds `count`
// points, counter-clockwise from (cx + radius, cy).
struct Circle {
  int32_t cx = 0;
  int32_t cy = 0;
  int32_t radius = 0;
  int32_t count = 0;
  std::unique_ptr<Point[]> vertices;

  // Rounds the count (RoundedCircleCount), allocates the array and fills
  // it with the polygon.
  void ToPolygon();
  // Doubles a filled array of m vertices to 2m in place (room for 2m).
  void Subdivide(int32_t m);
};

// The vertex count ToPolygon uses for a requested count: n <= 2 gives 3,
// otherwise a * 2^k with a in {3, 4} found by halving (rounding up).
// Throws Error(..., "DRC") when the result does not fit into int32.
int32_t RoundedCircleCount(int32_t n);

}  // namespace velmar
