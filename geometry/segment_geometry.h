// Segment geometry: rounding rules, feet of perpendiculars, the band
// quadrilateral with its containment test and segment clipping, and circles
// as vertex rings, and the routines of a `Box` read as the directed segment
// (x1, y1) -> (x2, y2).
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/box.h"
#include "foundation/rounding.h"

namespace velmar {

// The square root of 2 used for 45-degree steps, and the tolerance with
// which an oblique crossing point may stray outside the segments' boxes.
inline constexpr double kSqrt2 = 1.4142135623730951;
inline constexpr double kCrossingTolerance = 1.1920928955078125e-07;  // 2^-23

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

// Routines of a `Box` read as the directed segment (x1, y1) -> (x2, y2).
// (min, min, max, max) of the two ends.
Box Normalized(const Box& seg);
// The y of the segment's line at abscissa x: y1 for a horizontal segment,
// the end's y at an end's x, otherwise interpolated half up. A vertical
// segment must not be asked at any x other than x1.
int32_t YAt(const Box& seg, int32_t x);
// Squared distance from (px, py) to the closed segment, exact.
long double DistanceSquared(const Box& seg, int32_t px, int32_t py);
// Distance of (px, py) from the segment's line, positive on its right.
long double SignedDistance(const Box& seg, double px, double py);
// The point d along the segment from its start.
void PointAlong(const Box& seg, int32_t d, int32_t& x, int32_t& y);
// The point d beyond the end (atEnd) or before the start.
void OffsetPoint(const Box& seg, int32_t d, bool atEnd, int32_t& x,
                 int32_t& y);
// Moves both ends outwards by d along the segment (inwards for d < 0).
void Lengthen(Box& seg, int32_t d);
// Moves the segment by d to its right (left for d < 0).
void ShiftPerpendicular(Box& seg, int32_t d);
Box Shifted(const Box& seg, int32_t d);
// Crossing point of the two segments' lines; false when parallel.
bool SegmentIntersect(const Box& seg, const Box& other, double& x, double& y);
// -1 when the segments do not meet, 0 when collinear, 1 with the meeting
// point rounded half up.
int SegmentCrossing(const Box& seg, const Box& other, int32_t& x, int32_t& y);
// 1 with the two crossings of the segment's line with the circle, else 0.
int CircleCrossings(const Box& seg, int32_t cx, int32_t cy, int32_t r,
                    int32_t& xa, int32_t& ya, int32_t& xb, int32_t& yb);
// 1 left of the segment, -1 right, 0 on its line or when the projection of
// p falls at or beyond the end.
int Side(const Box& seg, const Point& p);
// Clips the segment in place to the closed window; false when it misses
// the window or only touches its boundary (it may be partly clipped then).
bool MeetsBox(Box& seg, const Box& window);

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
