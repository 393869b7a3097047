// The table of active edges of the distance sweeps: random insertions and
// removals, enough to grow the table several times and to wrap its probe
// runs, against an ordered map of the same edges. The active list of an
// axis-parallel sweep: horizontal edges with many equal y, placed near the
// cursor or by the full search, against a plain vector kept in order.
#include "geometry/sweep_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace velmar {
namespace {

using distance_sweep::ActiveNode;
using distance_sweep::EdgeTable;
using distance_sweep::SweepFrame;
using distance_sweep::kLevels;

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

// Each new edge goes right below the lowest edge of y not below its own,
// whether found from the cursor or from the top; every express level lists
// a subsequence of level 0 in the same order.
TEST(SweepFrameActiveList, HorizontalEdgesStayInOrderOfY) {
  std::mt19937 rng(0xac71);
  PSList out;
  SweepFrame frame(out, 10, 1, 1, 0, false);
  frame.UseNearCursorSearch();
  std::deque<PSPoint> points;  // stable addresses
  std::vector<ActiveNode*> model;
  int32_t lastY = 0;
  for (int round = 0; round < 20000; ++round) {
    const unsigned r = rng() % 16;
    if (r < 9 || model.empty()) {
      // Mostly close to the last edge (the cursor's neighbourhood), often
      // on an existing y, sometimes anywhere.
      int32_t y = r < 5 ? lastY + int32_t(rng() % 7) - 3 : int32_t(rng() % 200);
      if (r == 8 && !model.empty()) y = model[rng() % model.size()]->y;
      points.push_back(PSPoint{0, y, nullptr, nullptr, nullptr, 0});
      PSPoint* a = &points.back();
      points.push_back(PSPoint{5, y, nullptr, nullptr, nullptr, 0});
      PSPoint* b = &points.back();
      ActiveNode* n = frame.InsertEdge(a, b, rng() % 2 == 0, 0);
      auto at = std::find_if(model.begin(), model.end(),
                             [y](const ActiveNode* m) { return m->y >= y; });
      model.insert(at, n);
      lastY = y;
    } else if (r < 15) {
      const size_t i = rng() % model.size();
      frame.RemoveNode(model[i]);
      model.erase(model.begin() + long(i));
    } else {
      PSPoint next{1, 0, nullptr, nullptr, nullptr, 0};
      frame.ChangeColumn(&next);
    }
    if (round % 97 == 0 || model.size() < 8) {
      std::vector<ActiveNode*> seen;
      for (ActiveNode* n = frame.Bottom()->link[0].up; !frame.IsTop(n); n = n->link[0].up)
        seen.push_back(n);
      ASSERT_EQ(seen, model) << "round " << round;
      for (int k = 1; k < kLevels; ++k) {
        size_t pos = 0;
        for (ActiveNode* n = frame.Bottom()->link[k].up; !frame.IsTop(n); n = n->link[k].up) {
          ASSERT_GT(n->level, k);
          while (pos < model.size() && model[pos] != n) ++pos;
          ASSERT_LT(pos, model.size()) << "level " << k << " out of order";
          ASSERT_EQ(n->link[k].up->link[k].dn, n);
        }
      }
      // Every link's copy of the y above matches that node's y; a link to
      // the top holds the largest y.
      for (int k = 0; k < kLevels; ++k) {
        ActiveNode* n = frame.Bottom();
        for (; !frame.IsTop(n->link[k].up); n = n->link[k].up)
          ASSERT_EQ(n->link[k].upY, n->link[k].up->y) << "level " << k;
        ASSERT_EQ(n->link[k].upY, INT32_MAX) << "level " << k;
      }
      // The lowest edge at or above a height, on and between the heights
      // held and beyond both ends.
      for (int64_t q : {int64_t(INT64_MIN), int64_t(-1), int64_t(0), int64_t(rng() % 200),
                        int64_t(rng() % 200), int64_t(200), int64_t(INT64_MAX)}) {
        auto at = std::find_if(model.begin(), model.end(),
                               [q](const ActiveNode* m) { return m->y >= q; });
        ActiveNode* got = frame.FirstEdgeAtOrAbove(q);
        if (at == model.end()) ASSERT_TRUE(frame.IsTop(got)) << "q " << q;
        else ASSERT_EQ(got, *at) << "q " << q;
      }
    }
  }
}

}  // namespace
}  // namespace velmar
