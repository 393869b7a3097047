// Violation regions of the distance-check sweeps.
#include "geometry/violation_region.h"

#include <algorithm>

namespace velmar {

namespace {

// One region of partner in owner's band; false when the partner does not
// reach into the band.
bool BuildOneRegion(const Box& owner, const Box& partner, int32_t d,
                    PSList& out, int closed) {
  const Quad band = SegmentBand(owner, d);
  // Every point the clipping can keep lies in the band's bounding box and
  // in the partner's: when the two boxes are apart (most candidate pairs
  // of a sweep) there is no region, without the exact clipping.
  int32_t bx1 = band.v[0].x, bx2 = bx1, by1 = band.v[0].y, by2 = by1;
  for (int i = 1; i < 4; ++i) {
    bx1 = std::min(bx1, band.v[i].x);
    bx2 = std::max(bx2, band.v[i].x);
    by1 = std::min(by1, band.v[i].y);
    by2 = std::max(by2, band.v[i].y);
  }
  if (std::max(partner.x1, partner.x2) < bx1 || std::min(partner.x1, partner.x2) > bx2 ||
      std::max(partner.y1, partner.y2) < by1 || std::min(partner.y1, partner.y2) > by2)
    return false;
  Box piece = partner;
  if (!ClipSegmentToQuad(band, piece)) return false;
  const Point f = SegmentFoot(owner, piece.x1, piece.y1);   // foot of start
  const Point fe = SegmentFoot(owner, piece.x2, piece.y2);  // foot of end
  Point v[4];
  if (d > 0) {
    v[0] = Point(piece.x2, piece.y2);
    v[1] = Point(piece.x1, piece.y1);
    v[2] = f;
    v[3] = fe;
  } else {
    v[0] = Point(piece.x1, piece.y1);
    v[1] = Point(piece.x2, piece.y2);
    v[2] = fe;
    v[3] = f;
  }
  PSPoint* p[4];
  for (int i = 0; i < 4; ++i) p[i] = PushPoint(out, v[i].x, v[i].y);
  if (closed) {
    for (int i = 0; i < 4; ++i) LinkPoints(p[i], p[(i + 1) % 4]);
    ++out.ringCount;
  } else {
    LinkPoints(p[0], p[1]);
    LinkPoints(p[2], p[3]);
  }
  return true;
}

}  // namespace

Quad SegmentBand(const Box& s, int32_t d) {
  const Box t = Shifted(s, d);
  if (d > 0)
    return Quad{{{s.x2, s.y2}, {s.x1, s.y1}, {t.x1, t.y1}, {t.x2, t.y2}}};
  return Quad{{{s.x1, s.y1}, {s.x2, s.y2}, {t.x2, t.y2}, {t.x1, t.y1}}};
}

bool BuildViolationRegion(const Box& seg1, const Box& seg2, int32_t d,
                          PSList& out, int closed, int twoWay) {
  if (d == 0) return false;  // the band is empty
  bool made = BuildOneRegion(seg1, seg2, d, out, closed);
  if (twoWay) {
    // Parallel: the exact cross product of the two directions is zero
    // (both horizontal, both vertical, or equal slopes).
    const __int128 cross =
        __int128(int64_t(seg1.y2) - seg1.y1) * (int64_t(seg2.x2) - seg2.x1) -
        __int128(int64_t(seg1.x2) - seg1.x1) * (int64_t(seg2.y2) - seg2.y1);
    if (cross != 0 && BuildOneRegion(seg2, seg1, d, out, closed)) made = true;
  }
  return made;
}

}  // namespace velmar
