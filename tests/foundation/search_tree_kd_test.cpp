// k-dimensional search tree: splitting rules, open overlap in every
// dimension, clearing and re-initialising, and randomised runs against
// brute force.

#include "foundation/search_tree_kd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/error.h"

namespace velmar {
namespace {

void* Id(intptr_t id) { return reinterpret_cast<void*>(id); }
intptr_t IdOf(const DBSearchNodeKD* n) {
  return reinterpret_cast<intptr_t>(n->item);
}

KDBox MakeBox(std::vector<int32_t> min, std::vector<int32_t> max) {
  KDBox b;
  b.min = std::move(min);
  b.max = std::move(max);
  return b;
}

bool OpenOverlap(const KDBox& a, const KDBox& q) {
  for (size_t i = 0; i < a.min.size(); ++i)
    if (!(int64_t(a.min[i]) < q.max[i] && int64_t(q.min[i]) < a.max[i]))
      return false;
  return true;
}

std::vector<intptr_t> Query(const DBSearchSystemKD& tree, const KDBox& q) {
  std::vector<intptr_t> ids;
  for (DBSearchNodeKD* n = DBSearchSystemKD::FirstInBox(tree, q); n;
       n = DBSearchSystemKD::NextInBox(n, q))
    ids.push_back(IdOf(n));
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Links agree both ways, each node is met once, chain counts are chain
// lengths, items below a low/high slot lie on that side of the midline.
void CheckStructure(const DBSearchSystemKD& tree) {
  int64_t data = 0;
  std::set<const DBSearchNodeKD*> seen;
  for (DBSearchNodeKD* n = DBSearchSystemKD::First(tree); n;
       n = DBSearchSystemKD::Next(n)) {
    ASSERT_TRUE(seen.insert(n).second);
    const DBSearchNodeKD* p = n->parent;
    ASSERT_NE(p, nullptr);
    if (p->IsBranch() && p->chain != n) {
      const int d = p->level;
      const int64_t mid = (int64_t(p->min[d]) + p->max[d]) >> 1;
      const bool low = p->low == n;
      ASSERT_TRUE(low || p->high == n);
      for (const DBSearchNodeKD* m = DBSearchSystemKD::Leftmost(
               const_cast<DBSearchNodeKD*>(n));;
           m = DBSearchSystemKD::Next(m)) {
        if (m->IsData()) {
          EXPECT_TRUE(low ? m->max[d] <= mid : m->min[d] >= mid);
        }
        if (m == n) break;
      }
    } else {
      ASSERT_EQ(p->chain, n);
    }
    if (n->IsData()) {
      ++data;
      if (!p->IsData()) {
        uint32_t len = 0;
        for (const DBSearchNodeKD* c = n; c; c = c->chain) ++len;
        EXPECT_EQ(n->info.count, len);
      }
    } else {
      ASSERT_TRUE(n->IsBranch());
      EXPECT_TRUE(n->chain || n->low || n->high);
      EXPECT_LT(n->level, 2);
    }
  }
  EXPECT_EQ(data, tree.itemCount);
}

KDBox Region(int k, int32_t lo, int32_t hi) {
  return MakeBox(std::vector<int32_t>(size_t(k), lo),
                 std::vector<int32_t>(size_t(k), hi));
}

// ---------------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::vector<int32_t> dim0Min, dim0Max;  // item i's range in dimension 0
  int splitsAt;
};

class KDRootSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(KDRootSplit, RootChainSplitsWhenExpected) {
  const SplitCase& c = GetParam();
  DBSearchSystemKD tree;
  DBSearchSystemKD::Init(tree, Region(4, 0, 1000));  // dimension 0 mid 500
  int splitAt = 0;
  for (size_t i = 0; i < c.dim0Min.size(); ++i) {
    KDBox b = MakeBox({c.dim0Min[i], 0, 0, 0}, {c.dim0Max[i], 10, 10, 10});
    DBSearchSystemKD::Insert(tree, b, Id(intptr_t(i) + 1));
    if (splitAt == 0 && tree.Root()->IsBranch()) {
      splitAt = int(i) + 1;
      EXPECT_EQ(tree.Root()->level, 0);
      EXPECT_EQ(tree.Root()->min, tree.region.min);
      EXPECT_EQ(tree.Root()->max, tree.region.max);
    }
  }
  EXPECT_EQ(splitAt, c.splitsAt);
  CheckStructure(tree);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KDRootSplit,
    ::testing::Values(
        SplitCase{"SameSideSplitsAtFifth", {0, 0, 0, 0, 0, 0, 0},
                  {10, 10, 10, 10, 10, 10, 10}, 5},
        SplitCase{"FirstItemCarriesNoFlag", {600, 0, 0, 0, 0, 0},
                  {700, 10, 10, 10, 10, 10}, 5},
        SplitCase{"BothSidesSplitAtThird", {400, 0, 500, 0},
                  {600, 500, 900, 10}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KDSearchTree, OverlapIsOpenInEveryDimension) {
  DBSearchSystemKD tree;
  DBSearchSystemKD::Init(tree, Region(4, -100, 100));
  DBSearchSystemKD::Insert(tree, MakeBox({0, 0, 0, 0}, {10, 10, 1, 1}), Id(1));
  KDBox reset = MakeBox({0, 0, 0, 0}, {0, 0, 0, 0});
  KDBox::Reset(reset);
  EXPECT_EQ(reset.min, std::vector<int32_t>(4, INT_MAX));
  EXPECT_EQ(reset.max, std::vector<int32_t>(4, INT_MIN));
  DBSearchSystemKD::Insert(tree, reset, Id(2));
  struct Case {
    KDBox q;
    std::vector<intptr_t> found;
  };
  for (const Case& c : {
           Case{MakeBox({9, 9, 0, 0}, {11, 11, 1, 1}), {1}},
           Case{MakeBox({10, 0, 0, 0}, {20, 10, 1, 1}), {}},   // touches in 0
           Case{MakeBox({0, 0, 1, 0}, {10, 10, 2, 1}), {}},    // touches in 2
           Case{MakeBox({0, 0, 0, -5}, {10, 10, 1, 0}), {}},   // touches in 3
           Case{MakeBox({INT_MIN, INT_MIN, INT_MIN, INT_MIN},
                        {INT_MAX, INT_MAX, INT_MAX, INT_MAX}),
                {1}},  // the reset box is never found
       }) {
    EXPECT_EQ(Query(tree, c.q), c.found);
  }
}

TEST(KDSearchTree, ClearInitAndDimensionChecks) {
  DBSearchSystemKD tree;
  DBSearchSystemKD::Init(tree, Region(3, 0, 1000));
  for (int i = 0; i < 50; ++i)
    DBSearchSystemKD::Insert(tree, MakeBox({i, i, i}, {i + 5, i + 5, i + 5}),
                             Id(i + 1));
  EXPECT_EQ(tree.itemCount, 50);
  DBSearchSystemKD::Clear(tree);
  EXPECT_EQ(tree.Root(), nullptr);
  EXPECT_EQ(tree.itemCount, 0);
  DBSearchSystemKD::Clear(tree);  // a second clear is harmless
  const KDBox all = Region(3, INT_MIN, INT_MAX);
  EXPECT_EQ(DBSearchSystemKD::FirstInBox(tree, all), nullptr);

  DBSearchSystemKD::Init(tree, Region(3, 0, 1000));
  EXPECT_EQ(DBSearchSystemKD::FirstInBox(tree, all), nullptr);
  EXPECT_EQ(tree.itemsBox.min, std::vector<int32_t>(3, INT_MAX));
  DBSearchSystemKD::Insert(tree, MakeBox({1, 1, 1}, {2, 2, 2}), Id(7));
  EXPECT_EQ(Query(tree, all), (std::vector<intptr_t>{7}));
  // Re-initialising a filled tree frees its nodes and empties it.
  DBSearchSystemKD::Init(tree, Region(3, 0, 1000));
  EXPECT_EQ(DBSearchSystemKD::FirstInBox(tree, all), nullptr);

  // Keys and queries of another dimension count are refused.
  try {
    DBSearchSystemKD::Insert(tree, MakeBox({1, 1}, {2, 2}), Id(8));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "DRC");
  }
  EXPECT_THROW(DBSearchSystemKD::FirstInBox(tree, Region(4, 0, 1)), Error);
  EXPECT_THROW(DBSearchSystemKD::Init(tree, MakeBox({0, 0}, {1})), Error);
  EXPECT_EQ(tree.itemCount, 0);
}

// ---------------------------------------------------------------------------
// Randomised against brute force

struct RandomCase {
  const char* name;
  int k;
  int64_t lo, hi, maxSize;
};

class KDRandom : public ::testing::TestWithParam<RandomCase> {};

KDBox RandomBox(std::mt19937& rng, const RandomCase& c, int64_t maxSize) {
  std::uniform_int_distribution<int64_t> pos(c.lo, c.hi);
  std::uniform_int_distribution<int64_t> size(0, maxSize);
  std::uniform_int_distribution<int> kind(0, 9);
  KDBox b;
  for (int i = 0; i < c.k; ++i) {
    const int64_t a = pos(rng);
    const int64_t w = kind(rng) == 0 ? 0 : size(rng);  // some zero widths
    b.min.push_back(int32_t(a));
    b.max.push_back(int32_t(std::min(a + w, c.hi)));
  }
  return b;
}

TEST_P(KDRandom, MatchBruteForce) {
  const RandomCase& c = GetParam();
  std::mt19937 rng(97);
  DBSearchSystemKD trees[2];
  DBSearchSystemKD::Init(trees[0], Region(c.k, int32_t(c.lo), int32_t(c.hi)));
  DBSearchSystemKD::Init(trees[1], Region(c.k, int32_t(c.lo / 2), int32_t(c.hi / 2)));
  std::map<intptr_t, KDBox> models[2];
  intptr_t nextId = 1;
  std::uniform_int_distribution<int> pick(0, 1);
  std::uniform_int_distribution<int> percent(0, 99);

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < 1500; ++i) {
      const int t = pick(rng);
      KDBox b = RandomBox(rng, c, c.maxSize);
      DBSearchSystemKD::Insert(trees[t], b, Id(nextId));
      models[t][nextId] = b;
      ++nextId;
    }
    // Remove while walking: every item met exactly once.
    for (int t = 0; t < 2; ++t) {
      const size_t before = models[t].size();
      std::set<intptr_t> met;
      for (DBSearchNodeKD* n = DBSearchSystemKD::First(trees[t]); n;) {
        if (!n->IsData()) {
          n = DBSearchSystemKD::Next(n);
          continue;
        }
        ASSERT_TRUE(met.insert(IdOf(n)).second);
        if (percent(rng) < 30) {
          models[t].erase(IdOf(n));
          n = DBSearchSystemKD::Remove(trees[t], n);
        } else {
          n = DBSearchSystemKD::Next(n);
        }
      }
      EXPECT_EQ(met.size(), before);
    }
    for (int t = 0; t < 2; ++t) {
      SCOPED_TRACE(t);
      CheckStructure(trees[t]);
      ASSERT_EQ(trees[t].itemCount, int32_t(models[t].size()));
      for (int i = 0; i < 120; ++i) {
        const KDBox q = RandomBox(rng, c, c.maxSize * 4);
        std::vector<intptr_t> want;
        for (const auto& [id, box] : models[t])
          if (OpenOverlap(box, q)) want.push_back(id);
        ASSERT_EQ(Query(trees[t], q), want);
      }
    }
  }
  // The runs built branches in dimension 0 and, with k >= 2, in 1.
  int branches[2] = {0, 0};
  for (DBSearchNodeKD* n = DBSearchSystemKD::First(trees[0]); n;
       n = DBSearchSystemKD::Next(n))
    if (n->IsBranch()) ++branches[n->level];
  EXPECT_GT(branches[0], 0);
  if (c.k >= 2) {
    EXPECT_GT(branches[1], 0);
  }
  DBSearchSystemKD::Clear(trees[0]);
  DBSearchSystemKD::Clear(trees[0]);
  EXPECT_EQ(Query(trees[0], Region(c.k, INT_MIN, INT_MAX)),
            std::vector<intptr_t>{});
  // trees[1] is freed by its destructor
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, KDRandom,
    ::testing::Values(RandomCase{"Rules4", 4, -2000, 2000, 300},
                      RandomCase{"Dense2", 2, 0, 300, 20},
                      RandomCase{"FullRange3", 3, INT_MIN, INT_MAX,
                                 int64_t(1) << 30},
                      RandomCase{"OneDimension", 1, -1000, 1000, 50}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmar
