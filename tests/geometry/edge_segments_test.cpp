// Edge-attribute segments: the list operations on hand-made profiles, and
// random constant-valued pieces whose merged profile must be the pointwise
// minimum (the limit in the gaps) at every unit of the span, in both
// directions along horizontal and vertical edges.
#include "geometry/edge_segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/search_tree.h"
#include "geometry/edge_index.h"
#include "support/point_list_fixtures.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

struct Piece {
  int32_t x1, y1, x2, y2;
  int32_t s0, e0;  // channel 0 (or the channel a helper is given)
};

AttrSegment* Make(const Piece& p, int c) {
  AttrSegment* s = new AttrSegment;
  s->x1 = p.x1, s->y1 = p.y1, s->x2 = p.x2, s->y2 = p.y2;
  s->startValue[c] = p.s0;
  s->endValue[c] = p.e0;
  return s;
}

void Fill(AttrSegmentList& list, const std::vector<Piece>& pieces, int c = 0) {
  for (const Piece& p : pieces) AppendSegment(list, Make(p, c));
}

std::vector<Piece> Read(const AttrSegmentList& list, int c = 0) {
  std::vector<Piece> out;
  for (const SListNode* n = list.head; n; n = n->next) {
    const AttrSegment& s = *n->Item<AttrSegment>();
    out.push_back({s.x1, s.y1, s.x2, s.y2, s.startValue[c], s.endValue[c]});
  }
  return out;
}

bool operator==(const Piece& a, const Piece& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2 &&
         a.s0 == b.s0 && a.e0 == b.e0;
}
std::ostream& operator<<(std::ostream& os, const Piece& p) {
  return os << "(" << p.x1 << "," << p.y1 << ")-(" << p.x2 << "," << p.y2
            << "):" << p.s0 << "->" << p.e0;
}

int CountNodes(const AttrSegmentList& l) {
  int n = 0;
  for (const SListNode* p = l.head; p; p = p->next) ++n;
  return n;
}

TEST(EdgeSegments, AddPathSegmentsFillsEveryGap) {
  struct Case {
    std::vector<Piece> pieces;
    std::vector<Piece> want;
  };
  const Case cases[] = {
      {{}, {{0, 0, 100, 0, 50, 50}}},
      {{{10, 0, 20, 0, 1, 2}, {30, 0, 40, 0, 3, 4}},
       {{0, 0, 10, 0, 50, 50}, {10, 0, 20, 0, 1, 2}, {20, 0, 30, 0, 50, 50},
        {30, 0, 40, 0, 3, 4}, {40, 0, 100, 0, 50, 50}}},
      {{{0, 0, 20, 0, 1, 1}, {20, 0, 100, 0, 2, 2}},  // nothing to fill
       {{0, 0, 20, 0, 1, 1}, {20, 0, 100, 0, 2, 2}}},
  };
  for (const Case& c : cases) {
    AttrSegmentList l;
    Fill(l, c.pieces);
    AddPathSegments(l, Box(0, 0, 100, 0), 50, 0);
    EXPECT_EQ(Read(l), c.want);
    EXPECT_EQ(l.count, CountNodes(l));
    FreeSegmentList(l);
  }
  // The gaps of the worked example, span (0,0)-(50,0).
  AttrSegmentList l;
  Fill(l, {{10, 0, 20, 0, 1, 1}, {30, 0, 40, 0, 1, 1}});
  AddPathSegments(l, Box(0, 0, 50, 0), 7, 0);
  EXPECT_EQ(Read(l), (std::vector<Piece>{{0, 0, 10, 0, 7, 7}, {10, 0, 20, 0, 1, 1},
                                         {20, 0, 30, 0, 7, 7}, {30, 0, 40, 0, 1, 1},
                                         {40, 0, 50, 0, 7, 7}}));
  FreeSegmentList(l);
}

TEST(EdgeSegments, PiecesMadeAfterFreedListsCarryOnlyTheirOwnChannel) {
  // Lists let go of records with every channel set; the gap pieces made
  // next carry their value in their channel and 0 in every other.
  for (int round = 0; round < 3; ++round) {
    AttrSegmentList used;
    for (int i = 0; i < 40; ++i) {
      AttrSegment* s = Make({i * 10, 5, i * 10 + 10, 5, 0, 0}, 0);
      for (int c = 0; c < 4; ++c) s->startValue[c] = s->endValue[c] = 1000 + c;
      AppendSegment(used, s);
    }
    FreeSegmentList(used);
    for (int c = 0; c < 4; ++c) {
      AttrSegmentList l;
      Fill(l, {{10, 0, 20, 0, 1, 2}}, c);
      AddPathSegments(l, Box(0, 0, 100, 0), 50, c);
      ASSERT_EQ(l.count, 3);
      for (const SListNode* n = l.head; n; n = n->next) {
        const AttrSegment& s = *n->Item<AttrSegment>();
        for (int o = 0; o < 4; ++o) {
          if (o == c) continue;
          EXPECT_EQ(s.startValue[o], 0) << "channel " << o;
          EXPECT_EQ(s.endValue[o], 0) << "channel " << o;
        }
      }
      EXPECT_EQ(Read(l, c), (std::vector<Piece>{{0, 0, 10, 0, 50, 50},
                                                {10, 0, 20, 0, 1, 2},
                                                {20, 0, 100, 0, 50, 50}}));
      FreeSegmentList(l);
    }
  }
}

TEST(EdgeSegments, CoalesceJoinsOnlyLinearContinuations) {
  struct Case {
    const char* what;
    std::vector<Piece> pieces;
    std::vector<Piece> want;
  };
  const Case cases[] = {
      {"0->10, 10->20 is one line", {{0, 0, 10, 0, 0, 10}, {10, 0, 20, 0, 10, 20}},
       {{0, 0, 20, 0, 0, 20}}},
      // Candidate 0 -> 25 is 12.5 at the joint, 13 rounded, not 10.
      {"0->10, 10->25 stays apart", {{0, 0, 10, 0, 0, 10}, {10, 0, 20, 0, 10, 25}},
       {{0, 0, 10, 0, 0, 10}, {10, 0, 20, 0, 10, 25}}},
      {"equal constants join, three in a row",
       {{0, 0, 5, 0, 4, 4}, {5, 0, 9, 0, 4, 4}, {9, 0, 30, 0, 4, 4}},
       {{0, 0, 30, 0, 4, 4}}},
      {"pieces that do not meet stay", {{0, 0, 5, 0, 4, 4}, {6, 0, 9, 0, 4, 4}},
       {{0, 0, 5, 0, 4, 4}, {6, 0, 9, 0, 4, 4}}},
      {"value step stays", {{0, 0, 5, 0, 4, 4}, {5, 0, 9, 0, 3, 3}},
       {{0, 0, 5, 0, 4, 4}, {5, 0, 9, 0, 3, 3}}},
  };
  for (const Case& c : cases) {
    AttrSegmentList l;
    Fill(l, c.pieces);
    CoalesceSegments(l, 0);
    EXPECT_EQ(Read(l), c.want) << c.what;
    EXPECT_EQ(l.count, CountNodes(l)) << c.what;
    EXPECT_EQ(l.tail, [&] { SListNode* t = l.head; while (t->next) t = t->next; return t; }()) << c.what;
    FreeSegmentList(l);
  }
  // A coalesced piece keeps only its channel.
  AttrSegmentList l;
  Fill(l, {{0, 0, 10, 0, 0, 10}, {10, 0, 20, 0, 10, 20}});
  l.head->Item<AttrSegment>()->startValue[2] = 9;
  CoalesceSegments(l, 0);
  ASSERT_EQ(l.count, 1);
  EXPECT_EQ(l.head->Item<AttrSegment>()->startValue[2], 0);
  FreeSegmentList(l);
}

TEST(EdgeSegments, ComparatorsAreNeverPositive) {
  AttrSegmentList l;
  Fill(l, {{0, 0, 5, 0, 0, 0}, {3, 0, 9, 0, 0, 0}, {3, 0, 4, 0, 0, 0}});
  for (SListNode* a = l.head; a; a = a->next) {
    for (SListNode* b = l.head; b; b = b->next) {
      const AttrSegment &p = *a->Item<AttrSegment>(), &q = *b->Item<AttrSegment>();
      const bool before = p.x1 < q.x1 || (p.x1 == q.x1 && p.y1 < q.y1);
      const bool after = q.x1 < p.x1 || (q.x1 == p.x1 && q.y1 < p.y1);
      EXPECT_EQ(CompareSegmentsAscending(a, b), before ? -1 : 0);
      EXPECT_EQ(CompareSegmentsDescending(a, b), after ? -1 : 0);
    }
  }
  FreeSegmentList(l);
}

TEST(EdgeSegments, MergeKeepsTheLowerOfEqualSpans) {
  // Identical spans: the lower start value wins with its end value.
  for (int order = 0; order < 2; ++order) {
    AttrSegmentList src, dst;
    std::vector<Piece> in{{0, 0, 10, 0, 8, 2}, {0, 0, 10, 0, 5, 9}};
    if (order) std::swap(in[0], in[1]);
    Fill(src, in);
    MergeSegmentList(src, dst, 0);
    EXPECT_EQ(Read(dst), (std::vector<Piece>{{0, 0, 10, 0, 5, 9}})) << order;
    FreeSegmentList(src);
    FreeSegmentList(dst);
  }
  // A lower piece inside a higher one cuts it into three.
  AttrSegmentList src, dst;
  Fill(src, {{0, 0, 30, 0, 9, 9}, {10, 0, 20, 0, 4, 4}});
  MergeSegmentList(src, dst, 0);
  EXPECT_EQ(Read(dst), (std::vector<Piece>{{0, 0, 10, 0, 9, 9}, {10, 0, 20, 0, 4, 4},
                                           {20, 0, 30, 0, 9, 9}}));
  FreeSegmentList(src);
  FreeSegmentList(dst);
}

// Span of one random test: a horizontal or vertical edge of length 60
// running either way; positions along it are t = 0..60.
struct Line {
  bool vertical;
  bool reversed;
  Point At(int t) const {
    const int32_t u = reversed ? 60 - t : t;
    return vertical ? Point(7, u) : Point(u, -3);
  }
};

// Constant value of the profile over the unit [t, t+1] (-1 when no piece
// covers it, -2 when more than one does).
int32_t ProfileAt(const AttrSegmentList& l, const Line& line, int t, int c) {
  int32_t v = -1;
  for (const SListNode* n = l.head; n; n = n->next) {
    const AttrSegment& s = *n->Item<AttrSegment>();
    auto pos = [&](int32_t x, int32_t y) {
      const int32_t u = line.vertical ? y : x;
      return line.reversed ? 60 - u : u;
    };
    const int a = pos(s.x1, s.y1), b = pos(s.x2, s.y2);
    if (a <= t && t + 1 <= b) {
      if (v != -1) return -2;
      EXPECT_EQ(s.startValue[c], s.endValue[c]);
      v = s.startValue[c];
    }
  }
  return v;
}

TEST(EdgeSegments, RandomConstantPiecesMergeToThePointwiseMinimum) {
  std::mt19937 rng(2120);
  std::uniform_int_distribution<int> pos(0, 60), val(1, 40), cnt(1, 8);
  const int32_t limit = 50;
  for (int trial = 0; trial < 600; ++trial) {
    const Line line{trial % 2 == 1, trial % 4 >= 2};
    struct Raw { int a, b, v; };
    std::vector<Raw> raw;
    AttrSegmentList src, dst;
    src.descending = line.reversed ? 1 : 0;
    std::vector<Raw> raw1;  // a second profile (channel 1) for the overlay
    for (int k = cnt(rng); k > 0; --k) {
      int a = pos(rng), b = pos(rng);
      if (a == b) continue;
      if (a > b) std::swap(a, b);
      raw.push_back({a, b, val(rng)});
    }
    for (int k = cnt(rng); k > 0; --k) {
      int a = pos(rng), b = pos(rng);
      if (a == b) continue;
      if (a > b) std::swap(a, b);
      raw1.push_back({a, b, val(rng)});
    }
    // Pieces are given in random order; each runs in the edge's direction.
    std::shuffle(raw.begin(), raw.end(), rng);
    const Point s0 = line.At(0), s1 = line.At(60);
    const Box span(s0.x, s0.y, s1.x, s1.y);
    auto add = [&](AttrSegmentList& l, const std::vector<Raw>& r, int c) {
      for (const Raw& p : r) {
        const Point a = line.At(p.a), b = line.At(p.b);
        AppendSegment(l, Make({a.x, a.y, b.x, b.y, p.v, p.v}, c));
      }
    };
    add(src, raw, 0);
    if (!raw.empty()) MergeSegmentList(src, dst, 0);
    AddPathSegments(dst, span, limit, 0);
    AttrSegmentList src1, o;
    src1.descending = src.descending;
    add(src1, raw1, 1);
    if (!raw1.empty()) MergeSegmentList(src1, o, 1);
    AddPathSegments(o, span, limit + 1, 1);
    OverlaySegments(dst, o, 0, 1);

    // The profile is contiguous along the span, each piece running forward
    // in the edge's direction, and its count matches its nodes.
    Point at = s0;
    for (const SListNode* n = dst.head; n; n = n->next) {
      const AttrSegment& s = *n->Item<AttrSegment>();
      ASSERT_EQ(Point(s.x1, s.y1), at) << trial;
      const int64_t ahead = line.vertical ? int64_t(s.y2) - s.y1 : int64_t(s.x2) - s.x1;
      ASSERT_GT(line.reversed ? -ahead : ahead, 0) << trial;
      at = Point(s.x2, s.y2);
    }
    ASSERT_EQ(at, s1) << trial;
    ASSERT_EQ(dst.count, CountNodes(dst)) << trial;
    for (int t = 0; t < 60; ++t) {
      int32_t m0 = limit, m1 = limit + 1;
      for (const Raw& p : raw) if (p.a <= t && t + 1 <= p.b) m0 = std::min(m0, p.v);
      for (const Raw& p : raw1) if (p.a <= t && t + 1 <= p.b) m1 = std::min(m1, p.v);
      EXPECT_EQ(ProfileAt(dst, line, t, 0), m0) << "trial " << trial << " t " << t;
      EXPECT_EQ(ProfileAt(dst, line, t, 1), m1) << "trial " << trial << " t " << t;
    }
    FreeSegmentList(src);
    FreeSegmentList(dst);
    FreeSegmentList(src1);
    FreeSegmentList(o);
  }
}

TEST(EdgeSegments, OverlayInterpolatesAtNewCuts) {
  // Target 0 -> 100 over (0,0)-(100,0) in channel 0; source cut at 40 in
  // channel 1: the target is cut at 40 with 40 interpolated there.
  AttrSegmentList a, b;
  Fill(a, {{0, 0, 100, 0, 0, 100}}, 0);
  Fill(b, {{0, 0, 40, 0, 7, 7}, {40, 0, 100, 0, 3, 9}}, 1);
  OverlaySegments(a, b, 0, 1);
  EXPECT_EQ(Read(a, 0), (std::vector<Piece>{{0, 0, 40, 0, 0, 40}, {40, 0, 100, 0, 40, 100}}));
  EXPECT_EQ(Read(a, 1), (std::vector<Piece>{{0, 0, 40, 0, 7, 7}, {40, 0, 100, 0, 3, 9}}));
  FreeSegmentList(a);
  FreeSegmentList(b);
  // The source's piece runs beyond the target's: it is cut in place, its
  // channel interpolated at the cut (3 -> 9 over 60 is 6 at 70).
  AttrSegmentList c, d;
  Fill(c, {{0, 0, 70, 0, 1, 1}, {70, 0, 100, 0, 2, 2}}, 0);
  Fill(d, {{0, 0, 40, 0, 7, 7}, {40, 0, 100, 0, 3, 9}}, 1);
  OverlaySegments(c, d, 0, 1);
  EXPECT_EQ(Read(c, 1), (std::vector<Piece>{{0, 0, 40, 0, 7, 7}, {40, 0, 70, 0, 3, 6},
                                            {70, 0, 100, 0, 6, 9}}));
  EXPECT_EQ(Read(c, 0), (std::vector<Piece>{{0, 0, 40, 0, 1, 1}, {40, 0, 70, 0, 1, 1},
                                            {70, 0, 100, 0, 2, 2}}));
  FreeSegmentList(c);
  FreeSegmentList(d);
}

TEST(EdgeSegments, PrintListsEveryChannel) {
  AttrSegmentList l;
  Fill(l, {{1, 2, 3, 4, 5, 6}});
  l.head->Item<AttrSegment>()->endValue[3] = 70000;  // beyond 16 bits
  test::StdoutCapture cap;
  PrintSegmentList(l);
  EXPECT_EQ(cap.Stop(), "(1,2) - (3,4):\n\t5 6\t0 0\t0 0\t0 70000\n\n");
  FreeSegmentList(l);
}

TEST(EdgeSegments, EdgePartnersOfAFacingRing) {
  // The edge (0,0) -> (10,0) looks 5 to its right (below it) at the ring
  // (2,-8)..(8,-3): its top edge (8,-3) -> (2,-3) faces the edge 3 away.
  struct Case { bool ccw; int32_t d; int channel; std::vector<Piece> want; };
  const Case cases[] = {
      {true, 5, 0, {{2, 0, 8, 0, 3, 3}}},
      {true, 5, 1, {{2, 0, 8, 0, 3, 3}}},
      {false, 5, 0, {}},   // clockwise: the top edge runs with the edge
      {true, -5, 0, {}},   // nothing on the left
      {true, 2, 0, {}},    // out of reach
  };
  for (const Case& c : cases) {
    PSList list;
    std::vector<Point> ring{{2, -8}, {8, -8}, {8, -3}, {2, -3}};
    if (!c.ccw) std::reverse(ring.begin(), ring.end());
    test::AddRing(list, ring);
    DBSearchSystem tree(Box(-100, -100, 100, 100));
    IndexEdges(list, tree);
    AttrSegmentList out;
    EXPECT_EQ(EdgePartners(tree, Box(0, 0, 10, 0), c.d, out, c.channel), !c.want.empty());
    EXPECT_EQ(Read(out, c.channel), c.want);
    FreeSegmentList(out);
    DBSearchSystem::Clear(tree);
    ClearPointList(list);
  }
}

// On axis-parallel layers the merged profile of an edge's partners does not
// depend on the order in which the band walk finds them: the band copy of
// the tree (traversal order) and the copy of the list (link order) give the
// same merged pieces for every edge, both sides, one query or two, on
// random rectangles and L shapes, overlapping and abutting, either
// orientation.
TEST(EdgeSegments, AxisParallelProfilesDoNotDependOnTheOrderOfThePartners) {
  std::mt19937 rng(0x5e9);
  for (int round = 0; round < 30; ++round) {
    std::uniform_int_distribution<int32_t> coord(0, 400), side(2, 120);
    PSList list;
    const int shapes = 5 + int(rng() % 60);
    for (int i = 0; i < shapes; ++i) {
      const int32_t x = coord(rng) & ~3, y = coord(rng) & ~3;
      const int32_t w = side(rng), h = side(rng);
      std::vector<Point> ring = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
      if (rng() % 3 == 0) {  // an L shape
        const int32_t cw = 1 + int32_t(rng() % uint32_t(w - 1)), ch = 1 + int32_t(rng() % uint32_t(h - 1));
        ring = {{x, y}, {x + w, y}, {x + w, y + ch}, {x + cw, y + ch}, {x + cw, y + h}, {x, y + h}};
      }
      if (rng() % 4 == 0) std::reverse(ring.begin(), ring.end());
      test::AddRing(list, ring);
    }
    DBSearchSystem tree(Box(0, 0, 600, 600));
    IndexEdges(list, tree);
    {
      const EdgeBandIndex fromTree(tree);
      const EdgeBandIndex fromList(list);
      const int32_t li = 2 + int32_t(rng() % 150), lo = 2 + int32_t(rng() % 150);
      for (const PSPoint* p = list.head; p; p = p->link) {
        const Box edge(p->x, p->y, p->next->x, p->next->y);
        const uint8_t desc = (edge.x2 < edge.x1 || (edge.x2 == edge.x1 && edge.y2 < edge.y1)) ? 1 : 0;
        AttrSegmentList a[2], b[2], ma[2], mb[2];
        for (int k = 0; k < 2; ++k) {
          a[k].descending = b[k].descending = ma[k].descending = mb[k].descending = desc;
        }
        EdgePartners(fromTree, edge, -li, a[0], 0, lo, a[1], 1);
        EdgePartners(fromList, edge, -li, b[0], 0);
        EdgePartners(fromList, edge, lo, b[1], 1);
        for (int k = 0; k < 2; ++k) {
          ASSERT_EQ(a[k].count, b[k].count);
          if (a[k].count > 0) {
            MergeSegmentList(a[k], ma[k], k);
            MergeSegmentList(b[k], mb[k], k);
          }
          ASSERT_EQ(Read(ma[k], k), Read(mb[k], k)) << "round " << round << " side " << k;
          FreeSegmentList(a[k]);
          FreeSegmentList(b[k]);
          FreeSegmentList(ma[k]);
          FreeSegmentList(mb[k]);
        }
      }
    }
    DBSearchSystem::Clear(tree);
    ClearPointList(list);
  }
}

// Slanted edges at every angle: the profile of each edge of random
// triangles and quadrilaterals (partners from both bands merged, the gaps
// filled) runs from the edge's start to its end through points that step
// forward along the edge, every one on the edge (within a unit of its line
// and between its ends). Feet rounded past an end once left pieces beyond
// it, and edges running down-right or up-left put feet of one x in the
// wrong order.
TEST(EdgeSegments, SlantedProfilesStepAlongTheirEdges) {
  std::mt19937 rng(0x51a7);
  std::uniform_int_distribution<int32_t> coord(0, 300);
  for (int round = 0; round < 200; ++round) {
    PSList list;
    for (int k = 0; k < 3; ++k) {
      std::vector<Point> ring;
      for (int j = 3 + int(rng() % 2); j > 0; --j) ring.push_back(Point(coord(rng), coord(rng)));
      test::AddRing(list, ring);
    }
    DBSearchSystem tree(Box(-10, -10, 310, 310));
    IndexEdges(list, tree);
    {
      const EdgeBandIndex index(tree);
      for (const PSPoint* p = list.head; p; p = p->link) {
        const Box edge(p->x, p->y, p->next->x, p->next->y);
        if (edge.x1 == edge.x2 && edge.y1 == edge.y2) continue;
        AttrSegmentList in, out, merged[2];
        for (AttrSegmentList* l : {&in, &out, &merged[0], &merged[1]}) OrderAlongEdge(*l, edge);
        EdgePartners(index, edge, -400, in, 0, 400, out, 1);
        AttrSegmentList* parts[2] = {&in, &out};
        for (int k = 0; k < 2; ++k) {
          if (parts[k]->count > 0) MergeSegmentList(*parts[k], merged[k], k);
          AddPathSegments(merged[k], edge, 401, k);
          const long double dx = edge.x2 - edge.x1, dy = edge.y2 - edge.y1;
          const long double len2 = dx * dx + dy * dy;
          long double at = 0;  // position along the edge, 0 to 1
          int32_t x = edge.x1, y = edge.y1;
          for (const SListNode* n = merged[k].head; n; n = n->next) {
            const AttrSegment& s = *n->Item<AttrSegment>();
            ASSERT_EQ(Point(s.x1, s.y1), Point(x, y)) << "a gap or an overlap, round " << round;
            const long double t = ((s.x2 - edge.x1) * dx + (s.y2 - edge.y1) * dy) / len2;
            const long double off = std::fabs((s.x2 - edge.x1) * dy - (s.y2 - edge.y1) * dx) / std::sqrt(len2);
            EXPECT_GT(t, at) << "a piece that does not step forward, round " << round;
            EXPECT_LE(t, 1.0L);
            EXPECT_LE(off, 1.0L);
            at = t, x = s.x2, y = s.y2;
          }
          EXPECT_EQ(Point(x, y), Point(edge.x2, edge.y2)) << "round " << round;
        }
        for (AttrSegmentList* l : {&in, &out, &merged[0], &merged[1]}) FreeSegmentList(*l);
      }
    }
    DBSearchSystem::Clear(tree);
    ClearPointList(list);
  }
}

}  // namespace
}  // namespace velmar
