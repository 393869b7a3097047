// Rasterised coverage of ring sets, for comparing geometry that may be cut
// into other pieces (polygons split under a vertex limit, outlines rounded
// differently): the sets are sampled on a grid of half-unit points, and a
// sample counts against them only when both sets are uniform around it
// (the same coverage two units away in the four axis directions), so that
// rounding along an edge is not taken for a difference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar::test {

// The crossings of one horizontal line with the edges of a ring set; the
// winding number at any x of the line by a binary search.
class RowWinding {
 public:
  // The line y = y2 / 2 (y2 odd, so that no vertex lies on it).
  RowWinding(const std::vector<std::vector<Point>>& rings, int64_t y2) {
    for (const auto& r : rings) {
      for (size_t i = 0; i < r.size(); ++i) {
        const Point& p = r[i];
        const Point& q = r[(i + 1) % r.size()];
        const int64_t py = 2 * int64_t(p.y), qy = 2 * int64_t(q.y);
        if ((py < y2) == (qy < y2)) continue;
        const double t = double(y2 - py) / double(qy - py);
        const double x = p.x + t * (double(q.x) - p.x);
        crossings_.push_back({x, py < y2 ? 1 : -1});
      }
    }
    std::sort(crossings_.begin(), crossings_.end(),
              [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
    suffix_.assign(crossings_.size() + 1, 0);
    for (size_t i = crossings_.size(); i-- > 0;)
      suffix_[i] = suffix_[i + 1] + crossings_[i].delta;
  }
  // Winding number at x of the line: the edges crossing the line to its
  // right, counted upwards +1 and downwards -1.
  int At(double x) const {
    auto it = std::upper_bound(crossings_.begin(), crossings_.end(), x,
                               [](double v, const Crossing& c) { return v < c.x; });
    return suffix_[size_t(it - crossings_.begin())];
  }

 private:
  struct Crossing {
    double x;
    int delta;
  };
  std::vector<Crossing> crossings_;
  std::vector<int> suffix_;
};

// Samples of box (steps x steps points at half-unit coordinates) where one
// ring set covers the point (non-zero winding) and the other does not,
// away from the edges of both; the first few listed in where.
inline int CoverMismatches(const std::vector<std::vector<Point>>& a,
                           const std::vector<std::vector<Point>>& b, const Box& box,
                           int steps, std::string* where = nullptr) {
  int mismatches = 0;
  const int64_t w = int64_t(box.x2) - box.x1, h = int64_t(box.y2) - box.y1;
  for (int j = 0; j < steps; ++j) {
    const int64_t y2 = 2 * (box.y1 + h * j / steps) + 1;
    const RowWinding ra(a, y2), rb(b, y2);
    const RowWinding ra0(a, y2 - 4), ra1(a, y2 + 4), rb0(b, y2 - 4), rb1(b, y2 + 4);
    for (int i = 0; i < steps; ++i) {
      const double x = double(box.x1 + w * i / steps) + 0.5;
      const bool ca = ra.At(x) != 0, cb = rb.At(x) != 0;
      if (ca == cb) continue;
      auto uniform = [&](const RowWinding& r, const RowWinding& r0, const RowWinding& r1,
                         bool c) {
        return (r.At(x - 2) != 0) == c && (r.At(x + 2) != 0) == c &&
               (r0.At(x) != 0) == c && (r1.At(x) != 0) == c;
      };
      if (!uniform(ra, ra0, ra1, ca) || !uniform(rb, rb0, rb1, cb)) continue;
      if (where != nullptr && mismatches < 5)
        *where += "(" + std::to_string(x) + ", " + std::to_string(double(y2) / 2) + ") ";
      ++mismatches;
    }
  }
  return mismatches;
}

}  // namespace velmar::test
