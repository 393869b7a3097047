#include "geometry/line_end.h"

namespace velmar {

namespace {

// (b - a) . (c - a), exact.
__int128 Dot(const PSPoint* a, const PSPoint* b, const PSPoint* c) {
  return static_cast<__int128>(int64_t(b->x) - a->x) * (int64_t(c->x) - a->x) +
         static_cast<__int128>(int64_t(b->y) - a->y) * (int64_t(c->y) - a->y);
}

// The corner at v between the edge towards `along` and the edge towards
// `back` is a right angle that a counter-clockwise ring passes turning left:
// (along - v) . (back - v) = 0 and (along - v) x (back - v) > 0.
bool ConvexRightAngle(const PSPoint* v, const PSPoint* along,
                      const PSPoint* back) {
  return Dot(v, along, back) == 0 && Cross(v, along, back) > 0;
}

}  // namespace

bool IsLineEnd(const PSPoint* n, int64_t minSide) {
  const PSPoint* s = n->prev;
  const PSPoint* p2 = n->next;
  if (s == nullptr || p2 == nullptr || p2->next == nullptr) return false;
  const PSPoint* p4 = p2->next;
  const __int128 m = minSide;
  const __int128 m2 = m * m;
  if (SquaredDistance(s, n) < m2 || SquaredDistance(p4, p2) < m2) return false;
  return ConvexRightAngle(n, p2, s) && ConvexRightAngle(p2, p4, n);
}

}  // namespace velmar
