// Seeded random any-angle rings: the regions of the edge-band checks
// against a brute-force pairing of every tested edge with every indexed
// edge. The oracle clips each partner edge to the exact band of the tested
// edge (the strip between the edge and its copy moved by d along the exact
// normal) in long double, and judges the direction by the sign of the dot
// product; a band widened and narrowed by one unit absorbs the engine's
// rounding (moved corners, clipped ends and feet are rounded to the grid).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/search_tree.h"
#include "geometry/edge_index.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using Ring = std::vector<Point>;
using LD = long double;

struct Seg {
  LD x1, y1, x2, y2;
};

// The part of segment f strictly inside the band of edge e (band on the
// right for d > 0, on the left for d < 0) widened by `slack` units on every
// side, as a parameter range on f; false when it has no length.
bool ClipToBand(const Seg& e, int32_t d, const Seg& f, LD slack, LD& t0, LD& t1) {
  const LD ex = e.x2 - e.x1, ey = e.y2 - e.y1;
  const LD len = std::sqrt(ex * ex + ey * ey);
  const LD ux = ex / len, uy = ey / len;
  // Unit normal to the band's side: the right of e is (uy, -ux).
  const LD side = d > 0 ? 1 : -1;
  const LD nx = side * uy, ny = -side * ux;
  const LD depth = std::fabs(LD(d));
  // Inside: along in (-slack, len + slack), across in (-slack, depth + slack).
  auto along = [&](LD x, LD y) { return (x - e.x1) * ux + (y - e.y1) * uy; };
  auto across = [&](LD x, LD y) { return (x - e.x1) * nx + (y - e.y1) * ny; };
  t0 = 0;
  t1 = 1;
  auto keep = [&](LD v0, LD v1, LD lo, LD hi) {
    // v(t) = v0 + (v1 - v0) t must lie in (lo, hi).
    const LD dv = v1 - v0;
    if (std::fabs(dv) < 1e-15L) return v0 > lo && v0 < hi;
    LD a = (lo - v0) / dv, b = (hi - v0) / dv;
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
    return t0 < t1;
  };
  if (!keep(along(f.x1, f.y1), along(f.x2, f.y2), -slack, len + slack)) return false;
  if (!keep(across(f.x1, f.y1), across(f.x2, f.y2), -slack, depth + slack)) return false;
  const LD fl = std::hypot(f.x2 - f.x1, f.y2 - f.y1);
  return (t1 - t0) * fl > 1e-9L;
}

LD Dist(LD ax, LD ay, LD bx, LD by) { return std::hypot(ax - bx, ay - by); }

// Distance from a point to the segment.
LD DistToSeg(LD px, LD py, const Seg& s) {
  const LD dx = s.x2 - s.x1, dy = s.y2 - s.y1;
  const LD l2 = dx * dx + dy * dy;
  LD t = l2 == 0 ? 0 : ((px - s.x1) * dx + (py - s.y1) * dy) / l2;
  t = std::clamp(t, LD(0), LD(1));
  return Dist(px, py, s.x1 + t * dx, s.y1 + t * dy);
}

struct Region {
  Point pieceStart, pieceEnd, footStart, footEnd;
};

// The regions of the output in the order the check pushed them: four
// consecutive points at the head of the list per region.
std::vector<Region> Regions(const PSList& out, int mode) {
  std::vector<Point> pts;
  for (const PSPoint* p = out.head; p; p = p->link) pts.emplace_back(p->x, p->y);
  std::vector<Region> regions;
  EXPECT_EQ(pts.size() % 4, 0u);
  for (size_t i = 0; i + 3 < pts.size(); i += 4) {
    // Pushed order is the reverse of the link order.
    const Point a = pts[i + 3], b = pts[i + 2], c = pts[i + 1], dd = pts[i];
    if (mode == 1)
      regions.push_back({b, a, c, dd});  // end, start, F, F'
    else
      regions.push_back({a, b, dd, c});  // start, end, F', F
  }
  return regions;
}

std::vector<Seg> Edges(const std::vector<Ring>& rings) {
  std::vector<Seg> edges;
  for (const Ring& r : rings)
    for (size_t i = 0; i < r.size(); ++i) {
      const Point& a = r[i];
      const Point& b = r[(i + 1) % r.size()];
      edges.push_back({LD(a.x), LD(a.y), LD(b.x), LD(b.y)});
    }
  return edges;
}

struct Check {
  const char* name;
  int mode;   // 0 width, 1 space, 2 enc
  int sign;   // band side
  bool twoLists;
};

std::string Describe(const std::vector<Ring>& rings) {
  std::string s;
  for (const Ring& r : rings) {
    s += "{";
    for (const Point& p : r) {
      s += '(';
      s += std::to_string(p.x);
      s += ',';
      s += std::to_string(p.y);
      s += ')';
    }
    s += "} ";
  }
  return s;
}

TEST(EdgeBandProperty, RegionsMatchBruteForcePairsOfEdges) {
  const Check checks[] = {
      {"space", 1, +1, false},
      {"width", 0, -1, false},
      {"enc", 2, +1, true},
  };
  std::mt19937 rng(20261211);
  std::uniform_int_distribution<int32_t> pos(0, 120), rad(10, 40), dist(3, 25);
  std::uniform_int_distribution<int> nv(3, 7), count(1, 4);
  int mustPairs = 0, regionsSeen = 0;
  for (int iter = 0; iter < 400; ++iter) {
    for (const Check& c : checks) {
      std::vector<Ring> tested, indexed;
      for (int i = count(rng); i > 0; --i) {
        Ring r = test::RandomStarRing(rng, pos(rng), pos(rng), rad(rng), nv(rng));
        if (r.size() >= 3) tested.push_back(r);
      }
      if (c.twoLists) {
        for (int i = count(rng); i > 0; --i) {
          Ring r = test::RandomStarRing(rng, pos(rng), pos(rng), rad(rng), nv(rng));
          if (r.size() >= 3) indexed.push_back(r);
        }
      } else {
        indexed = tested;
      }
      const int32_t d = dist(rng);
      PSList tl, il, out;
      test::ListGuard g1{tl}, g2{il}, g3{out};
      for (const Ring& r : tested) test::AddRing(tl, r);
      for (const Ring& r : indexed) test::AddRing(il, r);
      DBSearchSystem tree(Box(-100, -100, 300, 300));
      IndexEdges(c.twoLists ? il : tl, tree);
      const int32_t sd = c.sign * d;
      for (const Seg& e : Edges(tested))
        CheckEdgeBand(Box(int32_t(e.x1), int32_t(e.y1), int32_t(e.x2), int32_t(e.y2)), sd,
                      tree, out, 2, c.mode);
      DBSearchSystem::Clear(tree);
      const std::vector<Region> regions = Regions(out, c.mode);
      regionsSeen += int(regions.size());
      const std::vector<Seg> partners = Edges(indexed);
      const std::string ctx = std::string(c.name) + " d=" + std::to_string(d) +
                              " tested " + Describe(tested) + " indexed " +
                              Describe(indexed);

      // Completeness: a partner deep enough in the band (inside the band
      // narrowed by one unit, over more than two units of its projection)
      // and clearly running the way of the check gives a region whose piece
      // ends lie near the exact piece's ends.
      for (const Seg& e : Edges(tested)) {
        const LD el = std::hypot(e.x2 - e.x1, e.y2 - e.y1);
        for (const Seg& f : partners) {
          if (f.x1 == e.x1 && f.y1 == e.y1 && f.x2 == e.x2 && f.y2 == e.y2) continue;
          const LD fl = std::hypot(f.x2 - f.x1, f.y2 - f.y1);
          const LD cosA = ((f.x2 - f.x1) * (e.x2 - e.x1) + (f.y2 - f.y1) * (e.y2 - e.y1)) /
                          (el * fl);
          const bool wanted = c.mode == 2 ? cosA > 0.2L : cosA < -0.2L;
          LD s0, s1, t0, t1;
          if (!wanted || !ClipToBand(e, sd, f, -1, s0, s1)) continue;
          if ((s1 - s0) * fl * std::fabs(cosA) < 2) continue;
          // The region's piece runs from where the partner enters the band
          // to where it leaves it: each end between the band widened and
          // narrowed by one unit (the engine's band has rounded corners, its
          // cut ends are rounded), within 1.5 units.
          ClipToBand(e, sd, f, 1, t0, t1);
          const LD eps = LD(1.5) / fl;
          auto param = [&](const Point& q) {
            return ((q.x - f.x1) * (f.x2 - f.x1) + (q.y - f.y1) * (f.y2 - f.y1)) / (fl * fl);
          };
          ++mustPairs;
          bool found = false;
          for (const Region& r : regions) {
            const LD ta = param(r.pieceStart), tb = param(r.pieceEnd);
            found = found ||
                    (DistToSeg(r.pieceStart.x, r.pieceStart.y, f) <= 1.5L &&
                     DistToSeg(r.pieceEnd.x, r.pieceEnd.y, f) <= 1.5L &&
                     ta >= t0 - eps && ta <= s0 + eps && tb >= s1 - eps && tb <= t1 + eps);
          }
          EXPECT_TRUE(found) << ctx << " edge (" << double(e.x1) << "," << double(e.y1)
                             << ")->(" << double(e.x2) << "," << double(e.y2)
                             << ") partner (" << double(f.x1) << "," << double(f.y1)
                             << ")->(" << double(f.x2) << "," << double(f.y2) << ")";
        }
      }
      // Soundness: every region's piece lies on a partner edge within the
      // band widened by one unit, runs the way of the check, and its feet lie
      // on the tested edge's line.
      for (const Region& r : regions) {
        bool explained = false;
        for (const Seg& e : Edges(tested)) {
          for (const Seg& f : partners) {
            LD t0, t1;
            if (!ClipToBand(e, sd, f, 1, t0, t1)) continue;
            const Seg piece{f.x1 + t0 * (f.x2 - f.x1), f.y1 + t0 * (f.y2 - f.y1),
                            f.x1 + t1 * (f.x2 - f.x1), f.y1 + t1 * (f.y2 - f.y1)};
            if (DistToSeg(r.pieceStart.x, r.pieceStart.y, piece) > 1.5L ||
                DistToSeg(r.pieceEnd.x, r.pieceEnd.y, piece) > 1.5L)
              continue;
            const LD dot = (LD(r.footEnd.x) - r.footStart.x) * (e.x2 - e.x1) +
                           (LD(r.footEnd.y) - r.footStart.y) * (e.y2 - e.y1);
            // Feet rounded to the grid decide the direction of a piece that
            // projects to about one unit (m1, m2 from the edge's start): no
            // direction is asked of it.
            const bool tiny = Dist(r.footStart.x, r.footStart.y, r.footEnd.x,
                                   r.footEnd.y) <= 2;
            if (!tiny && (c.mode == 2 ? dot <= 0 : dot >= 0)) continue;
            const Seg line{e.x1, e.y1, e.x2, e.y2};
            if (DistToSeg(r.footStart.x, r.footStart.y, line) > 1.5L ||
                DistToSeg(r.footEnd.x, r.footEnd.y, line) > 1.5L)
              continue;
            explained = true;
          }
        }
        EXPECT_TRUE(explained) << ctx << " region piece (" << r.pieceStart.x << ","
                               << r.pieceStart.y << ")->(" << r.pieceEnd.x << ","
                               << r.pieceEnd.y << ")";
      }
      if (HasFailure()) return;
    }
  }
  // The inputs exercised the checks.
  EXPECT_GT(mustPairs, 500);
  EXPECT_GT(regionsSeen, 1000);
}

}  // namespace
}  // namespace velmar
