#include "layoutdb/path_outline.h"

#include <algorithm>
#include <cmath>

#include "foundation/error.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

[[noreturn]] void ThrowOutOfRange() {
  throw Error("Path coordinate out of range", "DB");
}

int32_t Fit(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) ThrowOutOfRange();
  return int32_t(v);
}

// A crossing coordinate rounded half up: floor(v + 0.5).
int32_t RoundCorner(double v) {
  long double r = std::floor((long double)v + 0.5L);
  if (!(r >= (long double)INT32_MIN && r <= (long double)INT32_MAX))
    ThrowOutOfRange();
  return int32_t(r);
}

// The segment a -> b moved to its right by d. The geometry engine refuses a
// shifted end outside int32 with its own unit tag; here that is a path
// coordinate out of range.
Box ShiftedSegment(int64_t ax, int64_t ay, int64_t bx, int64_t by,
                   int32_t d) {
  Box s(Fit(ax), Fit(ay), Fit(bx), Fit(by));
  try {
    ShiftPerpendicular(s, d);
  } catch (const Error&) {
    ThrowOutOfRange();
  }
  return s;
}

// Crossing of two lines that are not parallel, rounded half up; fallback
// when the lines turn out to be parallel after all.
Point Crossing(const Box& a, const Box& b, Point fallback) {
  double x, y;
  if (!SegmentIntersect(a, b, x, y)) return fallback;
  return Point(RoundCorner(x), RoundCorner(y));
}

Point StartCorner(Point S, Point E, int32_t half, int32_t ext) {
  int64_t sx = S.x, sy = S.y;
  if (S.y == E.y || S.x == E.x) {
    if (E.x > S.x) return Point(Fit(sx - ext), Fit(sy - half));   // +x
    if (E.x < S.x) return Point(Fit(sx + ext), Fit(sy + half));   // -x
    if (E.y > S.y) return Point(Fit(sx + half), Fit(sy - ext));   // +y
    return Point(Fit(sx - half), Fit(sy + ext));                  // -y, S = E
  }
  int64_t dx = int64_t(E.x) - S.x, dy = int64_t(E.y) - S.y;
  // Perpendicular at S pointing to the right; its own right side is
  // backwards along the path.
  Box perp = ShiftedSegment(sx, sy, sx + dy, sy - dx, ext);
  Box side = ShiftedSegment(sx, sy, E.x, E.y, half);
  return Crossing(perp, side, Point(side.x1, side.y1));
}

Point EndCorner(Point S, Point E, int32_t half, int32_t ext) {
  int64_t ex = E.x, ey = E.y;
  if (S.y == E.y || S.x == E.x) {
    if (E.x > S.x) return Point(Fit(ex + ext), Fit(ey - half));   // +x
    if (E.x < S.x) return Point(Fit(ex - ext), Fit(ey + half));   // -x
    if (E.y > S.y) return Point(Fit(ex + half), Fit(ey + ext));   // +y
    return Point(Fit(ex - half), Fit(ey - ext));                  // -y, S = E
  }
  int64_t dx = ex - S.x, dy = ey - S.y;
  // Perpendicular at E pointing to the left; its right side is forwards.
  Box perp = ShiftedSegment(ex, ey, ex - dy, ey + dx, ext);
  Box side = ShiftedSegment(S.x, S.y, ex, ey, half);
  return Crossing(perp, side, Point(side.x2, side.y2));
}

Point JointCorner(Point P, Point Q, Point R, int32_t half) {
  Box in = ShiftedSegment(P.x, P.y, Q.x, Q.y, half);
  Box out = ShiftedSegment(Q.x, Q.y, R.x, R.y, half);
  // A zero-length incoming segment has no direction of its own: the corner
  // is where the outgoing offset line starts.
  if (P == Q && Q != R) return Point(out.x1, out.y1);
  return Crossing(in, out, Point(in.x2, in.y2));
}

inline void SetCorner(PSPoint* out, Point p) {
  out->x = p.x;
  out->y = p.y;
}

}  // namespace

void Path::StartCap(Point S, Point E, int32_t half, int32_t extension,
                    PSPoint* out) {
  SetCorner(out, StartCorner(S, E, half, extension));
}

void Path::EndCap(Point S, Point E, int32_t half, int32_t extension,
                  PSPoint* out) {
  SetCorner(out, EndCorner(S, E, half, extension));
}

void Path::Joint(Point P, Point Q, Point R, int32_t half, PSPoint* out) {
  SetCorner(out, JointCorner(P, Q, R, half));
}

void Path::ToPolygon(PSList* out) const {
  if (points.size() < 2) throw Error("Too few points in Path.", "DB");

  // Repeated consecutive points would leave a joint without a direction on
  // one side; drop them (a path of one repeated point keeps two).
  std::vector<Point> dedup;
  const std::vector<Point>* line = &points;
  for (size_t i = 1; i < points.size(); ++i) {
    if (points[i] == points[i - 1]) {
      dedup = points;
      dedup.erase(std::unique(dedup.begin(), dedup.end()), dedup.end());
      if (dedup.size() < 2) dedup.resize(2, points[0]);
      line = &dedup;
      break;
    }
  }
  const std::vector<Point>& P = *line;
  const size_t n = P.size();

  const int32_t half = width >> 1;
  int32_t beginExt = half, endExt = half;
  if (pathType == 0) {
    beginExt = endExt = 0;
  } else if (pathType == 3) {
    beginExt = beginExtension;
    endExt = endExtension;
  }

  // All corners first, so that a refused path leaves out untouched.
  std::vector<Point> corners;
  corners.reserve(2 * n);
  corners.push_back(StartCorner(P[0], P[1], half, beginExt));
  for (size_t i = 1; i + 1 < n; ++i)
    corners.push_back(JointCorner(P[i - 1], P[i], P[i + 1], half));
  corners.push_back(EndCorner(P[n - 2], P[n - 1], half, endExt));
  corners.push_back(StartCorner(P[n - 1], P[n - 2], half, endExt));
  for (size_t i = n - 2; i >= 1; --i)
    corners.push_back(JointCorner(P[i + 1], P[i], P[i - 1], half));
  corners.push_back(EndCorner(P[1], P[0], half, beginExt));

  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (const Point& c : corners) {
    PSPoint* v = PushPoint(*out, c.x, c.y);
    if (!first) first = v;
    LinkPoints(last, v);
    last = v;
  }
  LinkPoints(last, first);
  ++out->ringCount;
}

}  // namespace velmar
