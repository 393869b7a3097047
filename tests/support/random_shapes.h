// Random test shapes for the clipping, tiling, fracturing and repair tests:
// octilinear polygon sets whose every crossing with a grid line or another
// edge lies on the integer grid (so results can be compared exactly), and
// star-shaped rings at any angle.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/boolean_oracle.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "support/point_list_fixtures.h"

namespace velmar::test {

// Rectangles and right isosceles triangles (legs axis-parallel, hypotenuse
// at 45 degrees), counter-clockwise, on `layer`: corners at 2 * pos - shift,
// sides of 2 * len, so every coordinate is even when shift is. Every
// 45-degree line then has an even intercept, so two of them meet on the
// grid, and any line x = c or y = c meets them on the grid.
inline std::vector<oracle::Ring> RandomOctilinearShapes(
    std::mt19937& rng, int count, std::uniform_int_distribution<int32_t> pos,
    std::uniform_int_distribution<int32_t> len, int32_t shift,
    bool withTriangles, int layer = 1) {
  std::uniform_int_distribution<int> kind(0, withTriangles ? 4 : 0);
  std::vector<oracle::Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = 2 * pos(rng) - shift, y = 2 * pos(rng) - shift;
    const int32_t a = 2 * len(rng), b = 2 * len(rng);
    oracle::Ring r;
    r.layer = layer;
    switch (kind(rng)) {
      case 0: r.pts = oracle::Rect(x, y, x + a, y + b); break;
      case 1: r.pts = {{x, y}, {x + a, y}, {x, y + a}}; break;
      case 2: r.pts = {{x, y}, {x + a, y}, {x + a, y + a}}; break;
      case 3: r.pts = {{x + a, y}, {x + a, y + a}, {x, y + a}}; break;
      default: r.pts = {{x, y}, {x + a, y + a}, {x, y + a}}; break;
    }
    rings.push_back(r);
  }
  return rings;
}

// The shapes above with coordinates even inside [0, span] less span / 4.
inline std::vector<oracle::Ring> RandomOctilinearRings(std::mt19937& rng,
                                                       int count, int32_t span,
                                                       bool withTriangles) {
  using Range = std::uniform_int_distribution<int32_t>;
  return RandomOctilinearShapes(rng, count, Range(0, span / 2), Range(1, span / 8 + 1),
                                span / 4, withTriangles);
}

// A star-shaped counter-clockwise ring around (cx, cy) with n vertices at
// random angles and radii up to r (no repeated vertex).
inline std::vector<Point> RandomStarRing(std::mt19937& rng, int32_t cx,
                                         int32_t cy, int32_t r, int n) {
  std::uniform_real_distribution<double> ang(0, 2 * M_PI);
  std::uniform_real_distribution<double> rad(0.25, 1.0);
  std::vector<double> angles(n);
  for (double& a : angles) a = ang(rng);
  std::sort(angles.begin(), angles.end());
  std::vector<Point> pts;
  for (double a : angles) {
    const double rr = r * rad(rng);
    Point p(cx + int32_t(std::lround(rr * std::cos(a))),
            cy + int32_t(std::lround(rr * std::sin(a))));
    if (pts.empty() || !(pts.back() == p)) pts.push_back(p);
  }
  while (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
  return pts;
}

// Merges the rings (boolean code 0) into out: counter-clockwise outer rings
// and clockwise holes.
inline void MergeRings(const std::vector<oracle::Ring>& rings, PSList& out) {
  oracle::OwnedList in;
  oracle::BuildList(in.list, rings);
  BooleanSweep(in.list, &out, BooleanOpCode::Merge, false);
}

// Pushes one ring at the head of the list (ring count + 1): AddRing under
// the name the shape tests use.
inline PSPoint* PushRing(PSList& list, const std::vector<Point>& pts,
                         uint16_t flags = 0) {
  return AddRing(list, pts, flags);
}

// The list's rings as oracle rings of operand 1.
inline std::vector<oracle::Ring> AsOracleRings(PSList& list) {
  std::vector<oracle::Ring> out;
  for (auto& r : oracle::ResultRings(list)) out.push_back({r, 1});
  return out;
}

// Exact area of (list AND box) by the boolean engine, doubled.
inline __int128 AndArea2(PSList& list, const Box& box) {
  oracle::OwnedList work, out;
  for (auto& r : oracle::ResultRings(list)) PushRing(work.list, r);
  BoxToRing(work.list, box, true);
  BooleanSweep(work.list, &out.list, BooleanOpCode::And, false);
  return oracle::TotalArea2(oracle::ResultRings(out.list));
}

}  // namespace velmar::test
