// Path outlines: a wire given as a centre line, a width and an end style,
// turned into the closed ring of its outline.
//
// Each segment of the centre line is moved sideways by half the width,
// consecutive offset lines are intersected (mitred joints, no miter limit)
// and the ends are closed by caps that reach beyond the end points by an
// extension. The stream readers store every path as this ring.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

struct Path {
  std::vector<Point> points;  // centre line, at least two points
  // End style: 0 flush, 3 explicit extensions (beginExtension and
  // endExtension), any other value half-width extensions at both ends.
  int16_t pathType = 0;
  int32_t width = 0;           // full width; half = width >> 1
  int32_t beginExtension = 0;  // beyond the first point, path type 3 only
  int32_t endExtension = 0;    // beyond the last point, path type 3 only

  // Appends the outline to out as one closed ring: the right side of the
  // centre line forwards (start cap, joints, end cap), then the left side
  // backwards, every corner a new vertex (flags 0) pushed at the head of
  // out's link chain in that order, the ring linked in the same order and
  // closed back to the first corner. Point count + 2m and ring count + 1,
  // m being the number of centre points once repeated consecutive points
  // are dropped (at least 2). A path running in +x gives a counter-clockwise
  // ring. Corners are rounded half up (floor(v + 0.5)).
  //
  // Throws Error (unit "DB") for fewer than two points, and when a corner
  // or a construction line does not fit into int32; out is then unchanged.
  void ToPolygon(PSList* out) const;

  // The outline corner on the right of segment S -> E at its start, moved
  // back against the direction by extension. Axis-parallel segments (and
  // S = E) are taken directly; otherwise the right offset line crosses the
  // perpendicular at S shifted backwards by extension.
  static void StartCap(Point S, Point E, int32_t half, int32_t extension,
                       PSPoint* out);
  // The corner on the right of S -> E at its end, moved forward by
  // extension.
  static void EndCap(Point S, Point E, int32_t half, int32_t extension,
                     PSPoint* out);
  // The corner on the right at the interior vertex Q between P -> Q and
  // Q -> R: the crossing of the two right offset lines. When they are
  // parallel (collinear points, or the path turning back) the corner is Q
  // moved to the right of P -> Q by half. When P = Q, the right offset of
  // Q -> R starts the corner instead (Q moved to the right of Q -> R).
  static void Joint(Point P, Point Q, Point R, int32_t half, PSPoint* out);
};

}  // namespace velmar
