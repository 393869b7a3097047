// The table of active edges of the distance sweeps: random insertions and
// removals, enough to grow the table several times and to wrap its probe
// runs, against an ordered map of the same edges.
#include "geometry/sweep_frame.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>
#include <vector>

namespace velmar {
namespace {

using distance_sweep::ActiveNode;
using distance_sweep::EdgeTable;

TEST(EdgeTable, FindsEveryEdgeItHoldsAndNoOther) {
  std::mt19937 rng(0x5eed);
  // Edges between points of a small array: many share an end, and the
  // same two points give two edges (both orders).
  std::vector<PSPoint> points(64);
  std::vector<ActiveNode> nodes(4096);
  EdgeTable table;
  std::map<std::pair<const PSPoint*, const PSPoint*>, ActiveNode*> held;
  std::vector<ActiveNode*> spare;
  for (ActiveNode& n : nodes) spare.push_back(&n);
  for (int round = 0; round < 200000; ++round) {
    // Fill up to about 3000 edges, then drain, then fill again.
    const bool fill = (round / 20000) % 2 == 0;
    if (!spare.empty() && (held.empty() || (rng() % 4 != 0) == fill)) {
      PSPoint* a = &points[rng() % points.size()];
      PSPoint* b = &points[rng() % points.size()];
      if (held.count({a, b})) continue;
      ActiveNode* n = spare.back();
      spare.pop_back();
      n->e.left = a;
      n->e.right = b;
      table.Insert(n);
      held[{a, b}] = n;
    } else {
      auto it = held.begin();
      std::advance(it, rng() % held.size());
      ASSERT_EQ(table.Find(it->first.first, it->first.second), it->second);
      table.Erase(it->second);
      spare.push_back(it->second);
      held.erase(it);
    }
    if (round % 997 == 0) {
      for (const PSPoint& a : points)
        for (const PSPoint& b : points) {
          auto it = held.find({&a, &b});
          ASSERT_EQ(table.Find(&a, &b), it == held.end() ? nullptr : it->second);
        }
    }
  }
}

}  // namespace
}  // namespace velmar
