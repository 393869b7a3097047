// Ring builders and independent checks for the tests of cells and layer
// rings: shoelace areas, a Sutherland-Hodgman window clip, and a check that a
// layer's search tree holds exactly one correct item per placement.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"
#include "support/ring_builders.h"

namespace velmar::cell_test {

using ring_test::AppendRing;
using ring_test::BoxOf;
using ring_test::Moved;
using ring_test::Ring;

// Twice the signed area (shoelace), exact.
inline __int128 Area2(const Ring& r) {
  __int128 s = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& a = r[i];
    const Point& b = r[(i + 1) % r.size()];
    s += __int128(a.x) * b.y - __int128(b.x) * a.y;
  }
  return s;
}

// The rings of a list, each followed along next from its first vertex on the
// link chain.
inline std::vector<Ring> RingsOf(const PSList& list) {
  std::vector<Ring> out;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = list.head; p != nullptr; p = p->link) {
    if (seen.count(p)) continue;
    Ring r;
    const PSPoint* q = p;
    do {
      seen.insert(q);
      r.push_back(Point(q->x, q->y));
      q = q->next;
    } while (q != nullptr && q != p);
    out.push_back(r);
  }
  return out;
}

inline __int128 ListArea2(const PSList& list) {
  __int128 s = 0;
  for (const Ring& r : RingsOf(list)) s += Area2(r);
  return s;
}

// Sutherland-Hodgman clip of a ring to a closed window. The crossing points
// are computed exactly; the shapes used with it (axis-parallel and 45-degree
// edges) cross the window sides at integer coordinates.
inline Ring ClipRing(const Ring& ring, const Box& w) {
  struct P {
    int64_t x, y;
  };
  std::vector<P> cur;
  for (const Point& p : ring) cur.push_back({p.x, p.y});
  // side: 0 x >= x1, 1 x <= x2, 2 y >= y1, 3 y <= y2
  for (int side = 0; side < 4 && !cur.empty(); ++side) {
    auto inside = [&](const P& p) {
      switch (side) {
        case 0: return p.x >= w.x1;
        case 1: return p.x <= w.x2;
        case 2: return p.y >= w.y1;
        default: return p.y <= w.y2;
      }
    };
    auto cross = [&](const P& a, const P& b) {
      if (side < 2) {
        const int64_t c = side == 0 ? w.x1 : w.x2;
        return P{c, a.y + (c - a.x) * (b.y - a.y) / (b.x - a.x)};
      }
      const int64_t c = side == 2 ? w.y1 : w.y2;
      return P{a.x + (c - a.y) * (b.x - a.x) / (b.y - a.y), c};
    };
    std::vector<P> next;
    for (size_t i = 0; i < cur.size(); ++i) {
      const P& a = cur[i];
      const P& b = cur[(i + 1) % cur.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) next.push_back(a);
      if (ia != ib) next.push_back(cross(a, b));
    }
    cur.swap(next);
  }
  Ring out;
  for (const P& p : cur) out.push_back(Point(int32_t(p.x), int32_t(p.y)));
  return out;
}

// Placed box of one placement, from the decoded ring (not RelativeBox).
inline Box DecodedPlacedBox(const LocListNode* p) {
  PSList tmp;
  p->owner->polygon->ToRing(tmp);
  Box b;
  for (const PSPoint* v = tmp.head; v != nullptr; v = v->link)
    b.Extend(v->x + p->x, v->y + p->y);
  ClearPointList(tmp);
  return b;
}

inline std::vector<const LocListNode*> Placements(const CPgonList& layer) {
  std::vector<const LocListNode*> out;
  for (const CPgonListNode* s = layer.first; s; s = s->next)
    for (const LocListNode* p = s->placements.first; p; p = p->next)
      out.push_back(p);
  return out;
}

inline int64_t PlacementCount(const CPgonList& layer) {
  int64_t n = 0;
  for (const CPgonListNode* s = layer.first; s; s = s->next)
    n += s->placements.count;
  return n;
}

// The tree of key holds exactly one item per placement of the raw layer of
// key, each pointing at a live placement with the placed box.
inline void ExpectTreeMatchesLayer(const DBCell& cell, LayerKey key) {
  auto raw = cell.rawLayers.find(key);
  auto tree = cell.indexedLayers.find(key);
  ASSERT_NE(raw, cell.rawLayers.end());
  ASSERT_NE(tree, cell.indexedLayers.end()) << "layer " << key;
  std::map<const void*, Box> live;
  for (const LocListNode* p : Placements(raw->second))
    live[p] = DecodedPlacedBox(p);
  std::set<const void*> seen;
  int32_t items = 0;
  for (DBSearchNode* n = DBSearchSystem::First(tree->second); n;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    ++items;
    auto it = live.find(n->item);
    ASSERT_NE(it, live.end()) << "tree item points at no live placement";
    EXPECT_TRUE(seen.insert(n->item).second) << "placement indexed twice";
    EXPECT_EQ(n->box, it->second);
  }
  EXPECT_EQ(size_t(items), live.size()) << "layer " << key;
  EXPECT_EQ(tree->second.itemCount, items);
}

// Shapes used by the randomised tests: axis-parallel and 45-degree ones
// (whose window crossings are exact) and, when general is set, a triangle
// with arbitrary slopes.
inline Ring RandomShape(std::mt19937& rng, bool general) {
  std::uniform_int_distribution<int> kind(0, general ? 6 : 5);
  std::uniform_int_distribution<int> len(2, 60);
  const int a = len(rng), b = len(rng), c = len(rng) / 2 + 1;
  switch (kind(rng)) {
    case 0:  // square
      return {{0, 0}, {a, 0}, {a, a}, {0, a}};
    case 1:  // rectangle
      return {{0, 0}, {a, 0}, {a, b + 1}, {0, b + 1}};
    case 2:  // L
      return {{0, 0}, {a + c, 0}, {a + c, c}, {c, c}, {c, b + c}, {0, b + c}};
    case 3:  // U
      return {{0, 0},         {3 * c, 0},     {3 * c, b + c},
              {2 * c, b + c}, {2 * c, c},     {c, c},
              {c, b + c},     {0, b + c}};
    case 4:  // 45-degree triangle
      return {{0, 0}, {a, 0}, {0, a}};
    case 5:  // chamfered rectangle (octangular, 8 vertices)
      return {{c, 0},         {a + c, 0},         {a + 2 * c, c},
              {a + 2 * c, b + c}, {a + c, b + 2 * c}, {c, b + 2 * c},
              {0, b + c},     {0, c}};
    default:  // general triangle
      return {{0, 0}, {a + 3, 1}, {b / 3 + 1, b + 5}};
  }
}

}  // namespace velmar::cell_test
