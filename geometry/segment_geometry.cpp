// Segment geometry on `Box` read as a directed segment, the band
// quadrilateral and circles.
//
// Products of coordinate differences are formed exactly in 128-bit
// integers, and crossing points and interpolations are rounded from the
// exact rational value, so that results do not depend on floating-point
// error even at the ends of the int32 range. Lengths (square roots) are
// taken in long double.
#include "geometry/segment_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "foundation/error.h"

namespace velmar {

namespace {

using i128 = __int128;

inline int64_t Dx(const Box& s) { return int64_t(s.x2) - s.x1; }
inline int64_t Dy(const Box& s) { return int64_t(s.y2) - s.y1; }

// floor(p / q) for q > 0.
inline i128 FloorDiv(i128 p, i128 q) {
  i128 r = p / q;
  if ((p % q) != 0 && p < 0) --r;
  return r;
}

// halfup(p / q) = floor(p / q + 1/2), q != 0.
inline i128 HalfUpRatio(i128 p, i128 q) {
  if (q < 0) { p = -p; q = -q; }
  return FloorDiv(2 * p + q, 2 * q);
}

// away(p / q): half away from zero, q != 0.
inline i128 AwayRatio(i128 p, i128 q) {
  if (q < 0) { p = -p; q = -q; }
  if (p < 0) return -((-2 * p + q) / (2 * q));
  return (2 * p + q) / (2 * q);
}

int32_t ToCoord128(i128 v) {
  if (v < INT32_MIN || v > INT32_MAX)
    throw Error("Coordinate out of range", "DRC");
  return int32_t(v);
}

inline bool InNormalized(const Box& s, i128 x, i128 y) {
  return x >= std::min(s.x1, s.x2) && x <= std::max(s.x1, s.x2) &&
         y >= std::min(s.y1, s.y2) && y <= std::max(s.y1, s.y2);
}

inline long double Length(const Box& s) {
  long double dx = Dx(s), dy = Dy(s);
  return std::sqrt(dx * dx + dy * dy);
}

// The moves along and across an oblique segment are defined in long double
// (Length, one product, one quotient, then RoundHalfAway). Double
// arithmetic gives the same rounded value unless the value lies close to a
// rounding boundary (a half-integer): the double and the long double
// evaluation each stay within a few units in the last place of the exact
// value (relative 4 * 2^-53 and 4 * 2^-64, plus 2^-64 of the long double
// floor(v + 0.5)), far inside kMoveError. A value that close to a boundary
// takes the long double path.
constexpr double kMoveError = 0x1p-48;

// RoundHalfAway of the long double value that v approximates to within
// err: true with the rounded value when no half-integer lies within err of
// v; false when the long double evaluation has to decide.
inline bool RoundAwayClear(double v, double err, int64_t& rounded) {
  const double t = std::fabs(v);
  if (!(t < 0x1p62)) return false;  // beyond int64, or not a number
  const int64_t whole = int64_t(t);  // floor for t >= 0
  const double frac = t - double(whole);  // exact: t and whole are that close
  if (std::fabs(frac - 0.5) <= err) return false;
  const int64_t k = whole + (frac > 0.5 ? 1 : 0);
  rounded = v < 0 ? -k : k;
  return true;
}

// The shift (mx, my) of ShiftPerpendicular for an oblique segment:
// RoundHalfAway(dy * d / len) and RoundHalfAway(d * dx / len) with
// len = Length(seg) in long double.
inline void ObliqueShift(int64_t dx, int64_t dy, int32_t d, int64_t& mx,
                         int64_t& my) {
  const double fx = double(dx), fy = double(dy), fd = double(d);
  const double len = std::sqrt(fx * fx + fy * fy);
  const double vx = fy * fd / len, vy = fd * fx / len;
  if (RoundAwayClear(vx, (std::fabs(vx) + 1) * kMoveError, mx) &&
      RoundAwayClear(vy, (std::fabs(vy) + 1) * kMoveError, my))
    return;
  const long double dxl = dx, dyl = dy;
  const long double lenl = std::sqrt(dxl * dxl + dyl * dyl);
  mx = int64_t(RoundHalfAway(dy * (long double)d / lenl));
  my = int64_t(RoundHalfAway((long double)d * dx / lenl));
}

// RoundHalfAway(base + d / Length(seg) * delta) in long double, for
// (delta, other) the oblique segment's (dx, dy) or (dy, dx): a coordinate
// of the point d beyond an end.
inline int64_t AlongFromEnd(int32_t base, int32_t d, int64_t delta,
                            int64_t other) {
  const double fa = double(delta), fb = double(other);
  const double s = double(d) / std::sqrt(fa * fa + fb * fb);
  const double term = s * fa, v = base + term;
  int64_t rounded;
  if (RoundAwayClear(v, (std::fabs(term) + std::fabs(v) + 1) * kMoveError,
                     rounded))
    return rounded;
  const long double al = delta, bl = other;
  const long double sl = d / std::sqrt(al * al + bl * bl);
  return int64_t(RoundHalfAway(base + sl * delta));
}

// Intersection of the infinite lines through a and b as the exact ratio
// (xn / den, yn / den), den > 0. False when the direction cross product is
// zero (parallel lines, or a zero-length segment).
bool LineIntersection(const Box& a, const Box& b, i128& xn, i128& yn,
                      i128& den) {
  int64_t dax = Dx(a), day = Dy(a), dbx = Dx(b), dby = Dy(b);
  den = i128(dbx) * day - i128(dby) * dax;
  if (den == 0) return false;
  i128 tn = i128(int64_t(b.y1) - a.y1) * dbx - i128(int64_t(b.x1) - a.x1) * dby;
  if (den < 0) { den = -den; tn = -tn; }
  xn = i128(a.x1) * den + i128(dax) * tn;
  yn = i128(a.y1) * den + i128(day) * tn;
  return true;
}

// The ratio n / den (den > 0) lies within [lo - 2^-23, hi + 2^-23].
inline bool WithinTolerance(i128 n, i128 den, int32_t lo, int32_t hi) {
  constexpr i128 kInvTol = i128(1) << 23;
  return (n - i128(lo) * den) * kInvTol + den >= 0 &&
         (n - i128(hi) * den) * kInvTol - den <= 0;
}

inline bool RatioInBox(i128 xn, i128 yn, i128 den, const Box& s) {
  return WithinTolerance(xn, den, std::min(s.x1, s.x2), std::max(s.x1, s.x2)) &&
         WithinTolerance(yn, den, std::min(s.y1, s.y2), std::max(s.y1, s.y2));
}

inline i128 Cross(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
  return i128(ax) * by - i128(ay) * bx;
}

}  // namespace

long double RoundHalfUp(long double v) { return std::floor(v + 0.5L); }

int32_t ToCoord(long double v) {
  if (!(v >= INT32_MIN && v <= INT32_MAX))
    throw Error("Coordinate out of range", "DRC");
  return int32_t(v);
}

int32_t ToCoord(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX)
    throw Error("Coordinate out of range", "DRC");
  return int32_t(v);
}

bool SegmentsParallel(const Box& a, const Box& b) {
  if (IsHorizontal(a)) return IsHorizontal(b);
  if (IsVertical(a)) return IsVertical(b);
  return i128(Dy(a)) * Dx(b) == i128(Dx(a)) * Dy(b);
}

Point SegmentFoot(const Box& s, int32_t px, int32_t py) {
  if (IsVertical(s)) return Point(s.x1, py);
  if (IsHorizontal(s)) return Point(px, s.y1);
  int64_t dx = Dx(s), dy = Dy(s);
  i128 num = i128(int64_t(px) - s.x1) * dx + i128(int64_t(py) - s.y1) * dy;
  i128 den = i128(dx) * dx + i128(dy) * dy;
  return Point(ToCoord128(i128(s.x1) + AwayRatio(i128(dx) * num, den)),
               ToCoord128(i128(s.y1) + AwayRatio(i128(dy) * num, den)));
}

int32_t InterpolateHalfUp(int32_t a1, int32_t b1, int32_t a2, int32_t b2,
                          int32_t w) {
  i128 num = i128(int64_t(b2) - b1) * (int64_t(w) - a1);
  i128 den = int64_t(a2) - a1;
  // No line through two points of one abscissa: an internal fault, never
  // a division by zero.
  if (den == 0) throw Error("Interpolation between points of one abscissa", "DRC");
  return ToCoord128(i128(b1) + HalfUpRatio(num, den));
}

// ---------------------------------------------------------------------------
// Box as a segment

Box Normalized(const Box& seg) {
  const auto& [x1, y1, x2, y2] = seg;
  return Box(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2),
             std::max(y1, y2));
}

int32_t YAt(const Box& seg, int32_t x) {
  const auto& [x1, y1, x2, y2] = seg;
  if (y1 == y2 || x == x1) return y1;
  if (x == x2) return y2;
  return InterpolateHalfUp(x1, y1, x2, y2, x);
}

long double DistanceSquared(const Box& seg, int32_t px, int32_t py) {
  const auto& [x1, y1, x2, y2] = seg;
  auto sq = [](int64_t dx, int64_t dy) {
    return i128(dx) * dx + i128(dy) * dy;
  };
  Point f = SegmentFoot(seg, px, py);
  if (InNormalized(seg, f.x, f.y))
    return (long double)sq(int64_t(px) - f.x, int64_t(py) - f.y);
  i128 ds = sq(int64_t(px) - x1, int64_t(py) - y1);
  i128 de = sq(int64_t(px) - x2, int64_t(py) - y2);
  return (long double)(de < ds ? de : ds);
}

long double SignedDistance(const Box& seg, double px, double py) {
  const auto& [x1, y1, x2, y2] = seg;
  long double dx = Dx(seg), dy = Dy(seg);
  if (y1 == y2) return dx > 0 ? y1 - (long double)py : (long double)py - y1;
  if (x1 == x2) return dy > 0 ? (long double)px - x1 : x1 - (long double)px;
  return (((long double)px - x1) * dy - ((long double)py - y1) * dx) /
         std::sqrt(dx * dx + dy * dy);
}

void PointAlong(const Box& seg, int32_t d, int32_t& x, int32_t& y) {
  const auto& [x1, y1, x2, y2] = seg;
  if (y1 == y2) {
    x = ToCoord(x1 < x2 ? int64_t(x1) + d : int64_t(x1) - d);
    y = y1;
    return;
  }
  if (x1 == x2) {
    y = ToCoord(y1 < y2 ? int64_t(y1) + d : int64_t(y1) - d);
    x = x1;
    return;
  }
  int64_t dx = Dx(seg), dy = Dy(seg);
  if (Is45(seg)) {
    int64_t f = int64_t(RoundHalfAway(d / (long double)kSqrt2));
    x = ToCoord(dx > 0 ? x1 + f : x1 - f);
    y = ToCoord(dy > 0 ? y1 + f : y1 - f);
    return;
  }
  long double s = d / Length(seg);
  x = ToCoord(RoundHalfAway(x1 + s * dx));
  y = ToCoord(RoundHalfAway(y1 + s * dy));
}

void OffsetPoint(const Box& seg, int32_t d, bool atEnd, int32_t& x, int32_t& y) {
  const auto& [x1, y1, x2, y2] = seg;
  if (x1 == x2) {
    x = x1;
    if (atEnd)
      y = ToCoord(y1 < y2 ? int64_t(y2) + d : int64_t(y2) - d);
    else
      y = ToCoord(y1 < y2 ? int64_t(y1) - d : int64_t(y1) + d);
    return;
  }
  if (y1 == y2) {
    y = y1;
    if (atEnd)
      x = ToCoord(x1 < x2 ? int64_t(x2) + d : int64_t(x2) - d);
    else
      x = ToCoord(x1 < x2 ? int64_t(x1) - d : int64_t(x1) + d);
    return;
  }
  int64_t dx = Dx(seg), dy = Dy(seg);
  if (Is45(seg)) {
    int64_t f = int64_t(RoundHalfAway(d / (long double)kSqrt2));
    if (atEnd) {
      x = ToCoord(dx > 0 ? x2 + f : x2 - f);
      y = ToCoord(dy > 0 ? y2 + f : y2 - f);
    } else {
      x = ToCoord(dx > 0 ? x1 - f : x1 + f);
      y = ToCoord(dy > 0 ? y1 - f : y1 + f);
    }
    return;
  }
  // x2 + s * dx and y2 + s * dy with s = d / Length(seg); before the start
  // x1 - s * dx = x1 + s * (-dx), the same rounding.
  if (atEnd) {
    x = ToCoord(AlongFromEnd(x2, d, dx, dy));
    y = ToCoord(AlongFromEnd(y2, d, dy, dx));
  } else {
    x = ToCoord(AlongFromEnd(x1, d, -dx, dy));
    y = ToCoord(AlongFromEnd(y1, d, -dy, dx));
  }
}

void Lengthen(Box& seg, int32_t d) {
  auto& [x1, y1, x2, y2] = seg;
  // Moves: x1 -= mx, x2 += mx, y1 -= my, y2 += my.
  int64_t mx = 0, my = 0;
  if (x1 == x2) {
    my = y1 < y2 ? d : -int64_t(d);
  } else if (y1 == y2) {
    mx = x1 < x2 ? d : -int64_t(d);
  } else if (Is45(seg)) {
    int64_t f = int64_t(RoundHalfAway(d / (long double)kSqrt2));
    mx = Dx(seg) > 0 ? f : -f;
    my = Dy(seg) > 0 ? f : -f;
  } else {
    long double s = d / Length(seg);
    mx = int64_t(RoundHalfAway(Dx(seg) * s));
    my = int64_t(RoundHalfAway(Dy(seg) * s));
  }
  int32_t nx1 = ToCoord(x1 - mx), nx2 = ToCoord(x2 + mx);
  int32_t ny1 = ToCoord(y1 - my), ny2 = ToCoord(y2 + my);
  seg = Box(nx1, ny1, nx2, ny2);
}

void ShiftPerpendicular(Box& seg, int32_t d) {
  auto& [x1, y1, x2, y2] = seg;
  int64_t mx = 0, my = 0;  // x += mx, y -= my
  if (x1 == x2) {
    mx = y1 < y2 ? d : -int64_t(d);
  } else if (y1 == y2) {
    my = x1 < x2 ? d : -int64_t(d);
  } else {
    ObliqueShift(Dx(seg), Dy(seg), d, mx, my);
  }
  int32_t nx1 = ToCoord(x1 + mx), nx2 = ToCoord(x2 + mx);
  int32_t ny1 = ToCoord(y1 - my), ny2 = ToCoord(y2 - my);
  seg = Box(nx1, ny1, nx2, ny2);
}

Box Shifted(const Box& seg, int32_t d) {
  Box b = seg;
  ShiftPerpendicular(b, d);
  return b;
}

bool SegmentIntersect(const Box& seg, const Box& other, double& x, double& y) {
  if (SegmentsParallel(seg, other)) return false;
  i128 xn, yn, den;
  // A zero-length segment passes the parallel test against an oblique or
  // vertical partner but has no line: report it as parallel.
  if (!LineIntersection(seg, other, xn, yn, den)) return false;
  x = double((long double)xn / (long double)den);
  y = double((long double)yn / (long double)den);
  return true;
}

int SegmentCrossing(const Box& a, const Box& b, int32_t& x, int32_t& y) {
  Box na = Normalized(a), nb = Normalized(b);
  if (na.x1 > nb.x2 || nb.x1 > na.x2 || na.y1 > nb.y2 || nb.y1 > na.y2)
    return -1;
  int64_t dax = Dx(a), day = Dy(a);
  i128 c1 = Cross(dax, day, int64_t(b.x1) - a.x1, int64_t(b.y1) - a.y1);
  i128 c2 = Cross(dax, day, int64_t(b.x2) - a.x1, int64_t(b.y2) - a.y1);
  if (c1 == 0 && c2 == 0) return 0;
  if (c1 == 0 || c2 == 0) {
    int32_t ex = c1 == 0 ? b.x1 : b.x2, ey = c1 == 0 ? b.y1 : b.y2;
    if (InNormalized(a, ex, ey)) {
      x = ex;
      y = ey;
      return 1;
    }
  } else if ((c1 > 0) == (c2 > 0)) {
    return -1;
  }
  if (a.y1 == a.y2) {
    if (b.x1 == b.x2) {
      x = b.x1;
      y = a.y1;
      return 1;
    }
    int32_t cx = InterpolateHalfUp(b.y1, b.x1, b.y2, b.x2, a.y1);
    if (!InNormalized(a, cx, a.y1) || !InNormalized(b, cx, a.y1)) return -1;
    x = cx;
    y = a.y1;
    return 1;
  }
  if (a.x1 == a.x2) {
    if (b.y1 == b.y2) {
      x = a.x1;
      y = b.y1;
      return 1;
    }
    int32_t cy = InterpolateHalfUp(b.x1, b.y1, b.x2, b.y2, a.x1);
    if (!InNormalized(a, a.x1, cy) || !InNormalized(b, a.x1, cy)) return -1;
    x = a.x1;
    y = cy;
    return 1;
  }
  i128 xn, yn, den;
  if (!LineIntersection(a, b, xn, yn, den)) return -1;
  if (!RatioInBox(xn, yn, den, a) || !RatioInBox(xn, yn, den, b)) return -1;
  x = ToCoord128(HalfUpRatio(xn, den));
  y = ToCoord128(HalfUpRatio(yn, den));
  return 1;
}

int CircleCrossings(const Box& seg, int32_t cx, int32_t cy, int32_t r, int32_t& xa,
                         int32_t& ya, int32_t& xb, int32_t& yb) {
  const auto& [x1, y1, x2, y2] = seg;
  long double dx = Dx(seg), dy = Dy(seg);
  long double k = (long double)(i128(int64_t(x1) - cx) * (int64_t(y2) - cy) -
                                i128(int64_t(x2) - cx) * (int64_t(y1) - cy));
  long double l = dx * dx + dy * dy;
  long double rr = (long double)r * r;
  long double disc = rr * l - k * k;
  if (disc <= 0) return 0;
  long double s = dy < 0 ? -1 : 1;
  long double sq = std::sqrt(disc);
  int32_t ax = ToCoord(RoundHalfUp((k * dy + s * dx * sq) / l + cx));
  int32_t bx = ToCoord(RoundHalfUp((k * dy - s * dx * sq) / l + cx));
  int32_t ay = ToCoord(RoundHalfUp((-k * dx + std::fabs(dy) * sq) / l + cy));
  int32_t by = ToCoord(RoundHalfUp((-k * dx - std::fabs(dy) * sq) / l + cy));
  xa = ax;
  ya = ay;
  xb = bx;
  yb = by;
  return (ax != bx || ay != by) ? 1 : 0;
}

int Side(const Box& seg, const Point& p) {
  const auto& [x1, y1, x2, y2] = seg;
  int64_t dx = Dx(seg), dy = Dy(seg);
  i128 cross = Cross(dx, dy, int64_t(p.x) - x1, int64_t(p.y) - y1);
  i128 dot = i128(dx) * (int64_t(p.x) - x2) + i128(dy) * (int64_t(p.y) - y2);
  if (dot >= 0 || cross == 0) return 0;
  return cross > 0 ? 1 : -1;
}

bool MeetsBox(Box& seg, const Box& w) {
  auto& [x1, y1, x2, y2] = seg;
  // Start in x.
  if (x1 < w.x1) {
    if (x2 <= w.x1) return false;
    y1 = InterpolateHalfUp(x1, y1, x2, y2, w.x1);
    x1 = w.x1;
  } else if (x1 > w.x2) {
    if (x2 >= w.x2) return false;
    y1 = InterpolateHalfUp(x1, y1, x2, y2, w.x2);
    x1 = w.x2;
  }
  // End in x, from the start as moved.
  if (x2 < w.x1) {
    if (x1 <= w.x1) return false;
    y2 = InterpolateHalfUp(x1, y1, x2, y2, w.x1);
    x2 = w.x1;
  } else if (x2 > w.x2) {
    if (x1 >= w.x2) return false;
    y2 = InterpolateHalfUp(x1, y1, x2, y2, w.x2);
    x2 = w.x2;
  }
  if (x1 == x2 && (x1 == w.x1 || x1 == w.x2)) return false;
  // Start in y.
  if (y1 < w.y1) {
    if (y2 <= w.y1) return false;
    x1 = InterpolateHalfUp(y1, x1, y2, x2, w.y1);
    y1 = w.y1;
  } else if (y1 > w.y2) {
    if (y2 >= w.y2) return false;
    x1 = InterpolateHalfUp(y1, x1, y2, x2, w.y2);
    y1 = w.y2;
  }
  // End in y.
  if (y2 < w.y1) {
    if (y1 <= w.y1) return false;
    x2 = InterpolateHalfUp(y1, x1, y2, x2, w.y1);
    y2 = w.y1;
  } else if (y2 > w.y2) {
    if (y1 >= w.y2) return false;
    x2 = InterpolateHalfUp(y1, x1, y2, x2, w.y2);
    y2 = w.y2;
  }
  if (x1 == x2 && (x1 == w.x1 || x1 == w.x2)) return false;
  if (y1 == y2 && (y1 == w.y1 || y1 == w.y2)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Quadrilateral

int Quad::Contains(int32_t x, int32_t y) const {
  static constexpr int kEdges[4][2] = {{3, 0}, {1, 2}, {2, 3}, {0, 1}};
  bool onBoundary = false;
  for (const auto& e : kEdges) {
    const Point& a = v[e[0]];
    const Point& b = v[e[1]];
    i128 c = Cross(int64_t(b.x) - a.x, int64_t(b.y) - a.y, int64_t(x) - a.x,
                   int64_t(y) - a.y);
    if (c < 0) return 0;
    if (c == 0) onBoundary = true;
  }
  return onBoundary ? 1 : 2;
}

bool ClipSegmentToQuad(const Quad& quad, Box& seg) {
  Point p1, p2;
  bool has1 = false, has2 = false;
  const Point s1(seg.x1, seg.y1), s2(seg.x2, seg.y2);
  if (quad.Contains(s1.x, s1.y) == 2) {
    p1 = s1;
    has1 = true;
  }
  if (quad.Contains(s2.x, s2.y) == 2) {
    if (has1) return true;  // wholly inside
    p1 = s2;
    has1 = true;
  }
  const Box nb = Normalized(seg);
  // Squared distance of a later candidate from the first one; the farthest
  // becomes the second end. Taking simply the last one would let a vertex
  // found again by its second edge replace the true exit point.
  i128 best = -1;
  static constexpr int kEdges[4][2] = {{3, 0}, {1, 2}, {2, 3}, {0, 1}};
  for (const auto& ei : kEdges) {
    const Point& a = quad.v[ei[0]];
    const Point& b = quad.v[ei[1]];
    if (a == b) continue;
    const Box e(a.x, a.y, b.x, b.y);
    if (SegmentsParallel(e, seg)) {
      i128 c = Cross(Dx(e), Dy(e), int64_t(s1.x) - e.x1, int64_t(s1.y) - e.y1);
      if (c == 0) return false;
      continue;
    }
    i128 xn, yn, den;
    if (!LineIntersection(e, seg, xn, yn, den)) continue;
    i128 cx = HalfUpRatio(xn, den), cy = HalfUpRatio(yn, den);
    if (!InNormalized(e, cx, cy) || !InNormalized(nb, cx, cy)) continue;
    const Point c{int32_t(cx), int32_t(cy)};
    if (!has1) {
      p1 = c;
      has1 = true;
      continue;
    }
    i128 ddx = int64_t(c.x) - p1.x, ddy = int64_t(c.y) - p1.y;
    i128 dist = ddx * ddx + ddy * ddy;
    if (dist > best) {
      best = dist;
      p2 = c;
      has2 = true;
    }
  }
  if (!has2 || p2 == p1) return false;
  auto manhattan = [&](const Point& p) {
    return std::llabs(int64_t(p.x) - s1.x) + std::llabs(int64_t(p.y) - s1.y);
  };
  if (manhattan(p2) < manhattan(p1)) std::swap(p1, p2);
  seg = Box(p1.x, p1.y, p2.x, p2.y);
  return true;
}

// ---------------------------------------------------------------------------
// Circle

int32_t RoundedCircleCount(int32_t n) {
  if (n <= 2) return 3;
  int64_t a = n, k = 0;
  while (a != 3 && a != 4) {
    a = (a + 1) / 2;
    ++k;
  }
  int64_t count = a << k;
  if (count > INT32_MAX) throw Error("Circle vertex count too large", "DRC");
  return int32_t(count);
}

namespace {

// The point at distance r from the centre towards (tx, ty).
Point Toward(int32_t cx, int32_t cy, int32_t tx, int32_t ty, int32_t r) {
  Point p;
  PointAlong(Box(cx, cy, tx, ty), r, p.x, p.y);
  return p;
}

}  // namespace

void Circle::Subdivide(int32_t m) {
  Point* v = vertices.get();
  // Direction of the chord midpoint of a and b: the shift midpoint, or,
  // when that coincides with the centre (a tiny radius), the exact
  // midpoint direction, so that the new vertex is not thrown to the wrong
  // side by a zero-length direction.
  auto between = [&](const Point& a, const Point& b) {
    int64_t mx = (int64_t(a.x) + b.x) >> 1, my = (int64_t(a.y) + b.y) >> 1;
    if (mx == cx && my == cy) {
      int64_t sx = int64_t(a.x) + b.x - 2 * int64_t(cx);
      int64_t sy = int64_t(a.y) + b.y - 2 * int64_t(cy);
      if (sx != 0 || sy != 0) {
        mx = int64_t(cx) + sx;
        my = int64_t(cy) + sy;
      }
    }
    return Toward(cx, cy, ToCoord(mx), ToCoord(my), radius);
  };
  for (int32_t i = m - 1; i >= 1; --i) {
    v[2 * i] = v[i];
    v[2 * i - 1] = between(v[i - 1], v[2 * i]);
  }
  v[2 * m - 1] = between(v[0], v[2 * m - 2]);
}

void Circle::ToPolygon() {
  const int32_t n = RoundedCircleCount(count);
  count = n;
  vertices = std::make_unique<Point[]>(size_t(n));
  Point* v = vertices.get();
  const int32_t r = radius;
  v[0] = Point(ToCoord(int64_t(cx) + r), cy);
  int32_t a = n;
  while (a > 4) a /= 2;  // the seed: 3 or 4 (n is 3 * 2^k or 4 * 2^k)
  if (a == 4) {
    v[1] = Point(cx, ToCoord(int64_t(cy) + r));
    v[2] = Point(ToCoord(int64_t(cx) - r), cy);
    v[3] = Point(cx, ToCoord(int64_t(cy) - r));
    for (int32_t m = 4; m < n; m *= 2) Subdivide(m);
  } else if (n == 3) {
    v[1] = Toward(cx, cy, ToCoord(int64_t(cx) - 1), ToCoord(int64_t(cy) + 2), r);
    v[2] = Toward(cx, cy, ToCoord(int64_t(cx) - 1), ToCoord(int64_t(cy) - 2), r);
  } else {
    v[1] = Toward(cx, cy, ToCoord(int64_t(cx) + 1), ToCoord(int64_t(cy) + 2), r);
    v[2] = Toward(cx, cy, ToCoord(int64_t(cx) - 1), ToCoord(int64_t(cy) + 2), r);
    v[3] = Point(ToCoord(int64_t(cx) - r), cy);
    v[4] = Toward(cx, cy, ToCoord(int64_t(cx) - 1), ToCoord(int64_t(cy) - 2), r);
    v[5] = Toward(cx, cy, ToCoord(int64_t(cx) + 1), ToCoord(int64_t(cy) - 2), r);
    for (int32_t m = 6; m < n; m *= 2) Subdivide(m);
  }
}

}  // namespace velmar
