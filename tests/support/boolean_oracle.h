// Independent oracle for polygon booleans: winding numbers by ray crossing,
// exact areas of manhattan inputs by a compressed grid, areas of any input
// by vertical slabs, and checks of a result's rings (closed, oriented, no
// overlap) by point sampling. Nothing here uses the engine under test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"
#include "geometry/point_system.h"

namespace velmar::oracle {

using i128 = __int128;

// One input ring: its vertices in ring order and its operand (1 or 2).
struct Ring {
  std::vector<Point> pts;
  int layer = 1;
};

inline std::vector<Point> Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

inline std::vector<Point> Reversed(std::vector<Point> pts) {
  std::reverse(pts.begin(), pts.end());
  return pts;
}

// Winding number of a closed ring at the point (px / scale, py / scale):
// the point is given in scaled coordinates so that it can lie between the
// grid points.
inline int WindingScaled(const std::vector<Point>& ring, int64_t px, int64_t py,
                         int64_t scale) {
  int w = 0;
  const size_t n = ring.size();
  for (size_t i = 0; i < n; ++i) {
    const int64_t ax = scale * int64_t(ring[i].x), ay = scale * int64_t(ring[i].y);
    const int64_t bx = scale * int64_t(ring[(i + 1) % n].x);
    const int64_t by = scale * int64_t(ring[(i + 1) % n].y);
    const i128 side = i128(bx - ax) * (py - ay) - i128(by - ay) * (px - ax);
    if (ay <= py) {
      if (by > py && side > 0) ++w;
    } else if (by <= py && side < 0) {
      --w;
    }
  }
  return w;
}

// Winding number at (px2 / 2, py2 / 2): doubled coordinates make cell
// centres exact.
inline int Winding(const std::vector<Point>& ring, int64_t px2, int64_t py2) {
  return WindingScaled(ring, px2, py2, 2);
}

// Winding number of a set of rings at (px4 / 4, py4 / 4): quarter units
// keep the sample points off every edge of octilinear shapes.
inline int Winding4(const std::vector<std::vector<Point>>& rings, int64_t px4,
                    int64_t py4) {
  int w = 0;
  for (const auto& r : rings) w += WindingScaled(r, px4, py4, 4);
  return w;
}

// Inside rule of an operation code for the winding numbers of the first
// and the second operand (the operands here never wind negatively except
// where a fixture asks for code 9).
inline bool InsideBy(int code, int w1, int w2) {
  switch (code) {
    case 0: return w1 > 0;
    case 2: return w1 + w2 > 0;
    case 3: return w1 >= 2;
    case 5: return w1 > 0 && w2 > 0;
    // DIFF: what the first operand winds positively around, less what the
    // second does (a negative winding covers nothing).
    case 6: return w1 > 0 && w2 <= 0;
    case 8: return (w1 > 0) != (w2 > 0);
    case 9: return w1 < 0;
    default: return false;
  }
}

inline void GridCuts(const std::vector<Ring>& rings, std::vector<int32_t>& xs,
                     std::vector<int32_t>& ys);

// Whether a ring winds around some region clockwise and around another
// counter-clockwise (a "bow tie"): judged at the centre of every cell of
// the grid cut at its own vertex coordinates, exact for axis-parallel rings.
inline bool WindsBothWays(const std::vector<Point>& ring) {
  std::vector<int32_t> xs, ys;
  GridCuts({Ring{ring, 1}}, xs, ys);
  bool pos = false, neg = false;
  for (size_t i = 0; i + 1 < xs.size(); ++i)
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
      const int w = Winding(ring, int64_t(xs[i]) + xs[i + 1], int64_t(ys[j]) + ys[j + 1]);
      pos = pos || w > 0;
      neg = neg || w < 0;
    }
  return pos && neg;
}

// Windings of both operands at a doubled-coordinate point. A ring that
// winds both ways counts once wherever it winds at all (every lobe counts,
// either sense); bowTies, when given, says which rings do.
inline void Windings(const std::vector<Ring>& rings, int64_t px2, int64_t py2,
                     int& w1, int& w2, const std::vector<bool>* bowTies = nullptr) {
  w1 = w2 = 0;
  for (size_t k = 0; k < rings.size(); ++k) {
    const Ring& r = rings[k];
    int w = Winding(r.pts, px2, py2);
    if (bowTies && (*bowTies)[k]) w = w != 0 ? 1 : 0;
    if (r.layer == 2)
      w2 += w;
    else
      w1 += w;
  }
}

// The distinct vertex x and y coordinates of the rings, ascending: the cuts
// of the grid on which manhattan rings are judged cell by cell.
inline void GridCuts(const std::vector<Ring>& rings, std::vector<int32_t>& xs,
                     std::vector<int32_t>& ys) {
  for (const Ring& r : rings)
    for (const Point& p : r.pts) {
      xs.push_back(p.x);
      ys.push_back(p.y);
    }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
}

// Exact area of the region inside by `code`, for rings whose edges are all
// horizontal or vertical: the plane is cut at every vertex coordinate and
// each cell is judged at its centre.
// Rings that wind both ways count once wherever they wind (every lobe).
inline i128 ManhattanArea(const std::vector<Ring>& rings, int code) {
  std::vector<int32_t> xs, ys;
  GridCuts(rings, xs, ys);
  std::vector<bool> bowTies;
  for (const Ring& r : rings) bowTies.push_back(WindsBothWays(r.pts));
  i128 area = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i)
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
      int w1, w2;
      Windings(rings, int64_t(xs[i]) + xs[i + 1], int64_t(ys[j]) + ys[j + 1], w1, w2, &bowTies);
      if (InsideBy(code, w1, w2))
        area += i128(int64_t(xs[i + 1]) - xs[i]) * (int64_t(ys[j + 1]) - ys[j]);
    }
  return area;
}

// "" or the first cell of the grid cut at the input's vertex coordinates
// where the result (axis-parallel input) does not wind exactly once inside
// the region of `code` and nowhere else; every lobe of a ring that winds
// both ways counts.
inline std::string ManhattanCoverFault(const std::vector<Ring>& rings, int code,
                                       const std::vector<std::vector<Point>>& result) {
  std::vector<int32_t> xs, ys;
  GridCuts(rings, xs, ys);
  std::vector<bool> bowTies;
  for (const Ring& r : rings) bowTies.push_back(WindsBothWays(r.pts));
  for (size_t i = 0; i + 1 < xs.size(); ++i)
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
      const int64_t px2 = int64_t(xs[i]) + xs[i + 1], py2 = int64_t(ys[j]) + ys[j + 1];
      int w1, w2;
      Windings(rings, px2, py2, w1, w2, &bowTies);
      int got = 0;
      for (const auto& r : result) got += Winding(r, px2, py2);
      const int want = InsideBy(code, w1, w2) ? 1 : 0;
      if (got != want)
        return "at (" + std::to_string(px2 / 2.0) + ", " + std::to_string(py2 / 2.0) +
               ") the result winds " + std::to_string(got) + ", want " + std::to_string(want);
    }
  return "";
}

// Area of the region inside by `code` for rings with edges at any angle:
// the plane is cut into vertical slabs at every vertex and every crossing
// of two edges; inside a slab no edges cross, so the inside intervals at
// the slab's middle are trapezoids. Long double throughout.
inline long double SlabArea(const std::vector<Ring>& rings, int code) {
  struct Seg {
    long double ax, ay, bx, by;
    int dir;  // +1 running towards larger x, -1 towards smaller x
    int layer;
  };
  std::vector<Seg> segs;
  std::vector<long double> xs;
  for (const Ring& r : rings) {
    const size_t n = r.pts.size();
    for (size_t i = 0; i < n; ++i) {
      const Point& a = r.pts[i];
      const Point& b = r.pts[(i + 1) % n];
      xs.push_back(a.x);
      if (a.x == b.x) continue;
      Seg s;
      if (a.x < b.x) {
        s = {(long double)a.x, (long double)a.y, (long double)b.x, (long double)b.y, 1, r.layer};
      } else {
        s = {(long double)b.x, (long double)b.y, (long double)a.x, (long double)a.y, -1, r.layer};
      }
      segs.push_back(s);
    }
  }
  for (size_t i = 0; i < segs.size(); ++i)
    for (size_t j = i + 1; j < segs.size(); ++j) {
      const Seg& p = segs[i];
      const Seg& q = segs[j];
      const long double dpx = p.bx - p.ax, dpy = p.by - p.ay;
      const long double dqx = q.bx - q.ax, dqy = q.by - q.ay;
      const long double den = dpx * dqy - dpy * dqx;
      if (den == 0) continue;
      const long double t = ((q.ax - p.ax) * dqy - (q.ay - p.ay) * dqx) / den;
      const long double u = ((q.ax - p.ax) * dpy - (q.ay - p.ay) * dpx) / den;
      if (t > 0 && t < 1 && u > 0 && u < 1) xs.push_back(p.ax + t * dpx);
    }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  long double area = 0;
  struct At {
    long double ym, ya, yb;
    int dir, layer;
  };
  std::vector<At> active;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const long double xa = xs[i], xb = xs[i + 1], xm = (xa + xb) / 2;
    if (xb - xa <= 0) continue;
    active.clear();
    for (const Seg& s : segs) {
      if (s.ax > xm || s.bx < xm) continue;
      auto yat = [&](long double x) {
        return s.ay + (s.by - s.ay) * (x - s.ax) / (s.bx - s.ax);
      };
      active.push_back({yat(xm), yat(xa), yat(xb), s.dir, s.layer});
    }
    std::sort(active.begin(), active.end(),
              [](const At& a, const At& b) { return a.ym < b.ym; });
    int w1 = 0, w2 = 0;
    for (size_t k = 0; k + 1 < active.size(); ++k) {
      (active[k].layer == 2 ? w2 : w1) += active[k].dir;
      if (InsideBy(code, w1, w2)) {
        area += ((active[k + 1].ya - active[k].ya) + (active[k + 1].yb - active[k].yb)) /
                2 * (xb - xa);
      }
    }
  }
  return area;
}

// The rings of a result list, each as its vertex sequence. Fails the test
// when a vertex lacks a neighbour.
inline std::vector<std::vector<Point>> ResultRings(PSList& list) {
  std::vector<std::vector<Point>> rings;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    std::vector<Point> ring;
    PSPoint* q = p;
    do {
      if (!q->next || !q->prev) {
        ADD_FAILURE() << "open chain at (" << q->x << ", " << q->y << ")";
        MaskFlags(list, ~int(PSPointFlags::Visited));
        return rings;
      }
      if (q->flags & PSPointFlags::Visited) {
        ADD_FAILURE() << "ring walk from (" << p->x << ", " << p->y
                      << ") does not come back to its start";
        MaskFlags(list, ~int(PSPointFlags::Visited));
        return rings;
      }
      q->flags |= PSPointFlags::Visited;
      ring.push_back(Point(q->x, q->y));
      q = q->next;
    } while (q != p);
    rings.push_back(ring);
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return rings;
}

// Twice the signed area of a ring, exact.
inline i128 Area2(const std::vector<Point>& ring) {
  i128 a = 0;
  const size_t n = ring.size();
  for (size_t i = 0; i < n; ++i) {
    const Point& p = ring[i];
    const Point& q = ring[(i + 1) % n];
    a += i128(int64_t(p.y) + q.y) * (int64_t(p.x) - q.x);
  }
  return a;
}

inline i128 TotalArea2(const std::vector<std::vector<Point>>& rings) {
  i128 a = 0;
  for (const auto& r : rings) a += Area2(r);
  return a;
}

// Twice the signed area of every polygon of a polygon text file (a vertex
// count, then one "x<TAB>y" line per vertex), by the shoelace formula; the
// polygon count in rings.
inline i128 PolygonFileArea2(const std::string& path, int* rings = nullptr) {
  std::ifstream in(path);
  i128 twice = 0;
  int n = 0, count = 0;
  while (in >> n) {
    std::vector<int64_t> xs(static_cast<size_t>(n)), ys(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) in >> xs[size_t(i)] >> ys[size_t(i)];
    for (int i = 0; i < n; ++i) {
      const int k = (i + 1) % n;
      twice += i128(xs[size_t(i)]) * ys[size_t(k)] - i128(xs[size_t(k)]) * ys[size_t(i)];
    }
    ++count;
  }
  if (rings) *rings = count;
  return twice;
}

inline std::string ToString(i128 v) {
  if (v == 0) return "0";
  bool neg = v < 0;
  if (neg) v = -v;
  std::string s;
  while (v > 0) {
    s.insert(s.begin(), char('0' + int(v % 10)));
    v /= 10;
  }
  return neg ? "-" + s : s;
}

// Structural checks of a result: rings of at least three vertices with
// non-zero area, no vertex in line with its neighbours, valid links.
inline void ExpectCleanRings(PSList& list,
                             const std::vector<std::vector<Point>>& rings) {
  EXPECT_NO_THROW(CheckConnectivity(list));
  for (const auto& r : rings) {
    EXPECT_GE(r.size(), 3u);
    EXPECT_NE(Area2(r), 0);
    const size_t n = r.size();
    for (size_t i = 0; i < n; ++i) {
      const Point& a = r[(i + n - 1) % n];
      const Point& b = r[i];
      const Point& c = r[(i + 1) % n];
      const i128 cr = i128(int64_t(b.x) - a.x) * (int64_t(c.y) - a.y) -
                      i128(int64_t(b.y) - a.y) * (int64_t(c.x) - a.x);
      EXPECT_NE(cr, 0) << "collinear vertex (" << b.x << ", " << b.y << ")";
    }
  }
}

// Winding number of the result rings at a doubled-coordinate point.
inline int ResultWinding(const std::vector<std::vector<Point>>& rings,
                         int64_t px2, int64_t py2) {
  int w = 0;
  for (const auto& r : rings) w += Winding(r, px2, py2);
  return w;
}

// Winding number of many rings at many points: the edges are kept by the
// rows (stretches of `row` units along y) that they span, and a point sums
// the crossings (as in Winding) of the edges of its row only.
class RowWinding {
 public:
  RowWinding(const std::vector<std::vector<Point>>& rings, int32_t row) : row_(row) {
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    for (const auto& r : rings)
      for (const Point& p : r) lo = std::min(lo, p.y), hi = std::max(hi, p.y);
    if (lo > hi) return;
    y0_ = lo;
    rows_.resize(size_t((int64_t(hi) - lo) / row_ + 1));
    for (const auto& r : rings)
      for (size_t i = 0; i < r.size(); ++i) {
        const Point& a = r[i];
        const Point& b = r[(i + 1) % r.size()];
        if (a.y == b.y) continue;
        for (int64_t k = RowOf(std::min(a.y, b.y)); k <= RowOf(std::max(a.y, b.y)); ++k)
          rows_[size_t(k)].push_back({a, b});
      }
  }

  // At (px2 / 2, py2 / 2).
  int At(int64_t px2, int64_t py2) const {
    const int64_t k = (py2 / 2 - y0_) / row_;
    if (py2 < 2 * int64_t(y0_) || k >= int64_t(rows_.size())) return 0;
    int w = 0;
    for (const auto& [a, b] : rows_[size_t(k)]) {
      const int64_t ax = 2 * int64_t(a.x), ay = 2 * int64_t(a.y);
      const int64_t bx = 2 * int64_t(b.x), by = 2 * int64_t(b.y);
      const i128 side = i128(bx - ax) * (py2 - ay) - i128(by - ay) * (px2 - ax);
      if (ay <= py2) {
        if (by > py2 && side > 0) ++w;
      } else if (by <= py2 && side < 0) {
        --w;
      }
    }
    return w;
  }

 private:
  int64_t RowOf(int32_t y) const { return (int64_t(y) - y0_) / row_; }

  int32_t row_;
  int32_t y0_ = 0;
  std::vector<std::vector<std::pair<Point, Point>>> rows_;
};

// Squared distance from (px, py) to the segment a-b, in long double.
inline long double Dist2(long double px, long double py, const Point& a,
                         const Point& b) {
  const long double dx = (long double)b.x - a.x, dy = (long double)b.y - a.y;
  long double t = 0;
  const long double len2 = dx * dx + dy * dy;
  if (len2 > 0) t = ((px - a.x) * dx + (py - a.y) * dy) / len2;
  t = std::clamp(t, (long double)0, (long double)1);
  const long double ex = a.x + t * dx - px, ey = a.y + t * dy - py;
  return ex * ex + ey * ey;
}

// Whether (px, py) lies within distance 2 of an edge of the ring.
inline bool NearRing(long double px, long double py, const std::vector<Point>& ring) {
  for (size_t i = 0; i < ring.size(); ++i)
    if (Dist2(px, py, ring[i], ring[(i + 1) % ring.size()]) < 4) return true;
  return false;
}

// Pieces cut from input cover it exactly: at quarter-unit sample points
// (off every octilinear edge) stepping stepX and stepY units across bb, the
// pieces wind once where the input is inside and nowhere else.
inline void ExpectSameCover(const std::vector<std::vector<Point>>& input,
                            const std::vector<std::vector<Point>>& pieces,
                            const Box& bb, int stepX, int stepY) {
  for (int64_t x4 = 4 * int64_t(bb.x1) + 1; x4 < 4 * int64_t(bb.x2); x4 += 4 * stepX)
    for (int64_t y4 = 4 * int64_t(bb.y1) + 2; y4 < 4 * int64_t(bb.y2); y4 += 4 * stepY) {
      const int want = Winding4(input, x4, y4) > 0 ? 1 : 0;
      ASSERT_EQ(Winding4(pieces, x4, y4), want)
          << "at (" << x4 / 4.0 << ", " << y4 / 4.0 << ")";
    }
}

// Builds the operand list: every ring pushed as given, the second operand
// flagged SecondLayer.
inline void BuildList(PSList& list, const std::vector<Ring>& rings) {
  for (const Ring& r : rings)
    test::AddRing(list, r.pts, r.layer == 2 ? PSPointFlags::SecondLayer : 0);
}

// Owns a list for the duration of a test.
using OwnedList = ScratchList;

// Runs BooleanSweep(code) on a fresh list of the rings and returns the
// result's rings; the result list is left in `out`.
inline std::vector<std::vector<Point>> RunBoolean(const std::vector<Ring>& rings,
                                                  int code, PSList& out) {
  OwnedList in;
  BuildList(in.list, rings);
  BooleanSweep(in.list, &out, static_cast<BooleanOpCode>(code), false);
  return ResultRings(out);
}

}  // namespace velmar::oracle
