// Raster oracles of the distance checks: unit cells painted from rings by
// winding numbers at an off-centre sample point (so that no axis-parallel
// or 45-degree boundary through integer points passes through it), and the
// gap rule: a run of cells of one kind along a row or column, bounded on
// both sides by cells of other kinds, violates when it is shorter than the
// rule distance. Nothing here uses the checks under test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "support/boolean_oracle.h"

namespace velmar::distance_oracle {

using Rings = std::vector<std::vector<Point>>;

// Cells [x0, x0 + w) x [y0, y0 + h), one byte each.
struct Raster {
  int32_t x0 = 0, y0 = 0, w = 0, h = 0;
  std::vector<uint8_t> v;

  Raster(const Box& b) : x0(b.x1), y0(b.y1), w(b.x2 - b.x1), h(b.y2 - b.y1) {
    v.assign(size_t(w) * size_t(h), 0);
  }
  uint8_t& At(int32_t x, int32_t y) { return v[size_t(y - y0) * size_t(w) + size_t(x - x0)]; }
  uint8_t At(int32_t x, int32_t y) const {
    return v[size_t(y - y0) * size_t(w) + size_t(x - x0)];
  }
  bool Holds(int32_t x, int32_t y) const {
    return x >= x0 && y >= y0 && x < x0 + w && y < y0 + h;
  }
};

inline Box BoundsOf(const Rings& rings) {
  Box b;
  for (const auto& r : rings)
    for (const Point& p : r) b.Extend(p.x, p.y);
  return b;
}

inline Box Widened(Box b, int32_t m) { return Box(b.x1 - m, b.y1 - m, b.x2 + m, b.y2 + m); }

// Winding of the ring at the sample point (x + 1/4, y + 1/2) of cell (x, y).
inline int CellWinding(const std::vector<Point>& ring, int32_t x, int32_t y) {
  return oracle::WindingScaled(ring, 4 * int64_t(x) + 1, 4 * int64_t(y) + 2, 4);
}

// Sets `label` on the cells inside the polygon set (total winding of all
// rings not 0: holes cancel their outer rings).
inline void PaintLayer(Raster& r, const Rings& rings, uint8_t label) {
  std::vector<int> wind(r.v.size(), 0);
  for (const auto& ring : rings) {
    const Box b = BoundsOf({ring});
    for (int32_t y = std::max(b.y1, r.y0); y < std::min(b.y2, r.y0 + r.h); ++y)
      for (int32_t x = std::max(b.x1, r.x0); x < std::min(b.x2, r.x0 + r.w); ++x)
        wind[size_t(y - r.y0) * size_t(r.w) + size_t(x - r.x0)] += CellWinding(ring, x, y);
  }
  for (size_t i = 0; i < wind.size(); ++i)
    if (wind[i] != 0) r.v[i] = label;
}

// Sets 1 on the cells inside any one ring (either orientation): the union
// of violation regions, which may overlap.
inline void PaintUnion(Raster& r, const Rings& rings) {
  for (const auto& ring : rings) {
    const Box b = BoundsOf({ring});
    for (int32_t y = std::max(b.y1, r.y0); y < std::min(b.y2, r.y0 + r.h); ++y)
      for (int32_t x = std::max(b.x1, r.x0); x < std::min(b.x2, r.x0 + r.w); ++x)
        if (CellWinding(ring, x, y) != 0) r.At(x, y) = 1;
  }
}

// The gap rule over a labelled raster: a run of cells labelled `run` along
// a row or a column, bounded on both sides by cells of other labels, is
// marked when it is shorter than d; with differentEnds the two bounding
// labels must differ (a gap between two layers).
inline Raster GapCells(const Raster& labels, uint8_t run, int64_t d, bool differentEnds) {
  Raster out(Box(labels.x0, labels.y0, labels.x0 + labels.w, labels.y0 + labels.h));
  auto scan = [&](int32_t n, int32_t count, auto cell) {
    for (int32_t line = 0; line < count; ++line) {
      int32_t i = 0;
      while (i < n) {
        if (cell(line, i) != run) {
          ++i;
          continue;
        }
        int32_t j = i;
        while (j < n && cell(line, j) == run) ++j;
        const bool bounded = i > 0 && j < n &&
                             (!differentEnds || cell(line, i - 1) != cell(line, j));
        if (bounded && j - i < d)
          for (int32_t k = i; k < j; ++k) cell.mark(line, k);
        i = j;
      }
    }
  };
  struct Rows {
    const Raster& l;
    Raster& o;
    uint8_t operator()(int32_t y, int32_t x) const { return l.v[size_t(y) * l.w + x]; }
    void mark(int32_t y, int32_t x) const { o.v[size_t(y) * o.w + x] = 1; }
  };
  struct Cols {
    const Raster& l;
    Raster& o;
    uint8_t operator()(int32_t x, int32_t y) const { return l.v[size_t(y) * l.w + x]; }
    void mark(int32_t x, int32_t y) const { o.v[size_t(y) * o.w + x] = 1; }
  };
  scan(labels.w, labels.h, Rows{labels, out});
  scan(labels.h, labels.w, Cols{labels, out});
  return out;
}

// Compares two rasters on the cells where `where` holds; describes the
// first few differing cells.
template <typename Where>
std::string RasterDiff(const Raster& got, const Raster& want, Where where) {
  std::ostringstream s;
  int shown = 0, total = 0;
  for (int32_t y = got.y0; y < got.y0 + got.h; ++y)
    for (int32_t x = got.x0; x < got.x0 + got.w; ++x) {
      if (!where(x, y) || got.At(x, y) == want.At(x, y)) continue;
      if (shown++ < 6)
        s << " cell (" << x << ", " << y << ") " << (got.At(x, y) ? "reported" : "missed");
      ++total;
    }
  if (total) s << " [" << total << " cells differ]";
  return s.str();
}

}  // namespace velmar::distance_oracle
