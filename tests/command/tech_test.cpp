// Tech record: defaults, rule lists, copies and the conversion of
// conditions and rule ranges.

#include "command/tech.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "foundation/slist.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

BiasRule& Rule(SListNode* node) { return *static_cast<BiasRule*>(node->item); }
BiasRule& Head(const SList& list) { return Rule(list.head); }

// Count reachable from head, and the tail is the last node.
void ExpectConsistent(const SList& list) {
  int n = 0;
  SListNode* last = nullptr;
  for (SListNode* p = list.head; p != nullptr; p = p->next) {
    ++n;
    last = p;
  }
  EXPECT_EQ(n, list.count);
  EXPECT_EQ(last, list.tail);
}

TEST(TechTest, DefaultsOfAllAttributes) {
  Tech t;
  struct IntCase {
    const char* name;
    int value;
    int expected;
  };
  const IntCase ints[] = {
      {"reportDegree", t.reportDegree, 0},
      {"reportCount", t.reportCount, 0},
      {"maxVertice", t.maxVertice, 4096},
      {"maxSize", t.maxSize, 10000},
      {"areaMargin", t.areaMargin, 0},
      {"areaMargin2", t.areaMargin2, 0},
      {"less", t.less, -1},
      {"lesseq", t.lesseq, -1},
      {"greater", t.greater, -1},
      {"greatereq", t.greatereq, -1},
      {"eq", t.eq, -1},
      {"neq", t.neq, -1},
      {"less2", t.less2, -1},
      {"lesseq2", t.lesseq2, -1},
      {"greater2", t.greater2, -1},
      {"greatereq2", t.greatereq2, -1},
      {"eq2", t.eq2, -1},
      {"neq2", t.neq2, -1},
      {"biasMinLength", t.biasMinLength, 1000},
      {"biasCornerGuard", t.biasCornerGuard, 100},
      {"biasDiff", t.biasDiff, 2},
      {"biasShortMode", t.biasShortMode, 1},
      {"biasMergeMode", t.biasMergeMode, 2},
      {"endcapMinLength", t.endcapMinLength, 0},
      {"hammerSideAdjust", t.hammerSideAdjust, 1},
      {"flattenSize", t.flattenSize, 0},
      {"splitSize", t.splitSize, 50000},
      {"explodeRate", t.explodeRate, 70},
      {"sparseRate", t.sparseRate, 30},
      {"overlapRate", t.overlapRate, 0},
      {"geoLevel", t.geoLevel, 0},
      {"phase", t.phase, 0},
      {"backPhase", t.backPhase, 0},
  };
  for (const IntCase& c : ints) EXPECT_EQ(c.value, c.expected) << c.name;
  EXPECT_FALSE(t.ignoreText);
  EXPECT_EQ(t.transmittance, 0.0);
  EXPECT_EQ(t.backTrans, 1.0);
  for (const SList* l : {&t.biasRules, &t.endcapRules}) {
    EXPECT_EQ(l->head, nullptr);
    EXPECT_EQ(l->tail, nullptr);
    EXPECT_EQ(l->count, 0);
  }
  // 33 int + ignoreText + 2 doubles + 2 lists = 38 attributes.
  EXPECT_EQ(std::size(ints) + 1 + 2 + 2, 38u);
}

TEST(TechTest, NewRulesArePushedAtTheHeadAndOnlyTheHeadIsSet) {
  Tech t;
  t.CreateBiasRule();
  SListNode* first = t.biasRules.head;
  t.CreateBiasRule();
  t.SetBias(5);
  ASSERT_EQ(t.biasRules.count, 2);
  ExpectConsistent(t.biasRules);
  EXPECT_EQ(t.biasRules.tail, first);
  EXPECT_EQ(Head(t.biasRules).bias[0], 5);
  EXPECT_EQ(Rule(first).bias[0], 0);  // values start zeroed
  EXPECT_EQ(Head(t.biasRules).valueCount, 1);
  // A fresh rule's ranges are reset.
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Rule(first).min[i], INT_MAX);
    EXPECT_EQ(Rule(first).max[i], INT_MIN);
  }

  t.CreateHammerRule();
  t.SetHammer(0, 10);
  t.SetHammer(2, 30);
  BiasRule& h = Head(t.endcapRules);
  EXPECT_EQ(h.valueCount, 3);
  EXPECT_EQ(h.bias[0], 10);
  EXPECT_EQ(h.bias[1], 0);
  EXPECT_EQ(h.bias[2], 30);
  EXPECT_EQ(t.biasRules.count, 2);  // the other list is untouched
}

TEST(TechTest, SetRangeFromConditionSetOne) {
  struct Case {
    int eq, less, lesseq, greater, greatereq, neq;
    int min, max;
  };
  const Case cases[] = {
      // eq wins and sets both limits.
      {7, 10, -1, -1, -1, -1, 7, 7},
      // exclusive bounds are adjusted by one, unscaled.
      {-1, 10, -1, 2, -1, -1, 3, 9},
      {-1, -1, 10, -1, 2, -1, 2, 10},
      // less wins over lesseq, greater over greatereq.
      {-1, 10, 20, 2, 1, -1, 3, 9},
      // nothing given: lower 0, upper stays unset; neq plays no part.
      {-1, -1, -1, -1, -1, -1, 0, INT_MIN},
      {-1, -1, -1, -1, -1, 5, 0, INT_MIN},
      // 0 is a given value.
      {-1, 0, -1, 0, -1, -1, 1, -1},
  };
  for (const Case& c : cases) {
    Tech t;
    t.eq = c.eq;
    t.less = c.less;
    t.lesseq = c.lesseq;
    t.greater = c.greater;
    t.greatereq = c.greatereq;
    t.neq = c.neq;
    t.CreateBiasRule();
    t.SetBiasRange(2);
    t.CreateHammerRule();
    t.SetHammerRange(2);
    for (const BiasRule* r : {&Head(t.biasRules), &Head(t.endcapRules)}) {
      EXPECT_EQ(r->min[2], c.min) << "eq " << c.eq << " less " << c.less;
      EXPECT_EQ(r->max[2], c.max) << "eq " << c.eq << " less " << c.less;
      // Other ranges are untouched.
      EXPECT_EQ(r->min[1], INT_MAX);
      EXPECT_EQ(r->max[3], INT_MIN);
    }
  }
}

TEST(TechTest, RuleSettersOnEmptyListsOrBadIndicesWarnAndChangeNothing) {
  Tech t;
  {
    test::StdoutCapture out;
    t.SetBias(5);
    t.SetBiasRange(0);
    t.SetHammer(0, 5);
    t.SetHammerRange(0);
    std::string text = out.Stop();
    EXPECT_EQ(text,
              "Warning: no bias rule exists; create one first\n"
              "Warning: no bias rule exists; create one first\n"
              "Warning: no hammer rule exists; create one first\n"
              "Warning: no hammer rule exists; create one first\n");
  }
  EXPECT_EQ(t.biasRules.count, 0);
  EXPECT_EQ(t.endcapRules.count, 0);

  t.lesseq = 10;
  t.CreateBiasRule();
  t.CreateHammerRule();
  t.SetHammer(1, 7);
  test::StdoutCapture out;
  t.SetBiasRange(4);
  t.SetBiasRange(-1);
  t.SetHammerRange(4);
  t.SetHammer(3, 99);
  t.SetHammer(-1, 99);
  std::string text = out.Stop();
  EXPECT_NE(text.find("Warning: rule range index 4 is outside 0..3\n"),
            std::string::npos);
  EXPECT_NE(text.find("Warning: rule range index -1 is outside 0..3\n"),
            std::string::npos);
  EXPECT_NE(text.find("Warning: hammer value index 3 is outside 0..2\n"),
            std::string::npos);
  for (const BiasRule* r : {&Head(t.biasRules), &Head(t.endcapRules)}) {
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(r->min[i], INT_MAX);
      EXPECT_EQ(r->max[i], INT_MIN);
    }
  }
  const BiasRule& h = Head(t.endcapRules);
  EXPECT_EQ(h.bias[0], 0);
  EXPECT_EQ(h.bias[1], 7);
  EXPECT_EQ(h.bias[2], 0);
}

TEST(TechTest, ResetEmptiesTheListAndLeavesTheOtherAlone) {
  Tech t;
  t.ResetBiasRules();  // empty: nothing happens
  EXPECT_EQ(t.biasRules.count, 0);
  t.CreateBiasRule();
  t.CreateBiasRule();
  t.CreateHammerRule();
  t.ResetBiasRules();
  EXPECT_EQ(t.biasRules.head, nullptr);
  EXPECT_EQ(t.biasRules.tail, nullptr);
  EXPECT_EQ(t.biasRules.count, 0);
  EXPECT_EQ(t.endcapRules.count, 1);
  // The nodes went back to the pool: the next rule reuses one of them.
  t.CreateBiasRule();
  t.SetBias(3);
  EXPECT_EQ(t.biasRules.count, 1);
  EXPECT_EQ(Head(t.biasRules).bias[0], 3);
  t.ResetHammerRules();
  EXPECT_EQ(t.endcapRules.count, 0);
  EXPECT_EQ(t.biasRules.count, 1);
}

// A Tech with two bias rules and one hammer rule and changed settings.
Tech MakeRuledTech() {
  Tech t;
  t.splitSize = 123;
  t.backTrans = 0.25;
  t.ignoreText = true;
  t.neq2 = 9;
  t.CreateBiasRule();
  t.SetBias(1);
  t.CreateBiasRule();
  t.SetBias(2);
  t.CreateHammerRule();
  t.SetHammer(1, 40);
  return t;
}

void ExpectSameRulesButOwnCopies(const SList& a, const SList& b) {
  ASSERT_EQ(a.count, b.count);
  ExpectConsistent(a);
  ExpectConsistent(b);
  for (SListNode *p = a.head, *q = b.head; p != nullptr;
       p = p->next, q = q->next) {
    EXPECT_NE(p, q);              // own nodes
    EXPECT_NE(p->item, q->item);  // own records
    const BiasRule& x = Rule(p);
    const BiasRule& y = Rule(q);
    EXPECT_NE(x.bias, y.bias);
    EXPECT_EQ(x.valueCount, y.valueCount);
    for (int i = 0; i < x.valueCount; ++i) EXPECT_EQ(x.bias[i], y.bias[i]);
    EXPECT_EQ(x.min, y.min);
    EXPECT_EQ(x.max, y.max);
  }
}

TEST(TechTest, CopiesOwnTheirRuleLists) {
  auto source = std::make_unique<Tech>(MakeRuledTech());
  Tech copy(*source);
  Tech assigned;
  assigned.CreateBiasRule();  // replaced by the assignment
  assigned = *source;
  for (const Tech* t : {&copy, &assigned}) {
    EXPECT_EQ(t->splitSize, 123);
    EXPECT_EQ(t->backTrans, 0.25);
    EXPECT_TRUE(t->ignoreText);
    EXPECT_EQ(t->neq2, 9);
    ExpectSameRulesButOwnCopies(source->biasRules, t->biasRules);
    ExpectSameRulesButOwnCopies(source->endcapRules, t->endcapRules);
  }
  // Changing or destroying the source leaves the copies intact.
  source->SetBias(77);
  source->ResetHammerRules();
  source.reset();
  for (const Tech* t : {&copy, &assigned}) {
    ASSERT_EQ(t->biasRules.count, 2);
    EXPECT_EQ(Head(t->biasRules).bias[0], 2);
    EXPECT_EQ(Rule(t->biasRules.tail).bias[0], 1);
    ASSERT_EQ(t->endcapRules.count, 1);
    EXPECT_EQ(Head(t->endcapRules).bias[1], 40);
  }
  const Tech& alias = assigned;
  assigned = alias;  // self-assignment keeps everything
  EXPECT_EQ(assigned.biasRules.count, 2);
  EXPECT_EQ(Head(assigned.biasRules).bias[0], 2);
}

TEST(TechTest, ListHandlesCarryCopiesBetweenRecords) {
  Tech a = MakeRuledTech();
  SList* handle = Tech::NewRuleListHandle(a.biasRules);
  ExpectSameRulesButOwnCopies(a.biasRules, *handle);
  a.ResetBiasRules();  // the handle keeps its rules
  EXPECT_EQ(handle->count, 2);

  Tech b;
  b.CreateBiasRule();
  b.AssignBiasRules(*handle);
  ExpectSameRulesButOwnCopies(*handle, b.biasRules);
  EXPECT_EQ(Head(b.biasRules).bias[0], 2);
  b.AssignHammerRules(*handle);  // any rule list fits either slot
  EXPECT_EQ(b.endcapRules.count, 2);
  b.AssignBiasRules(b.biasRules);  // itself: unchanged
  EXPECT_EQ(b.biasRules.count, 2);
}

TEST(TechTest, ReleasedListPoolLeavesNoDanglingRuleNodes) {
  auto t = std::make_unique<Tech>(MakeRuledTech());
  Tech other = *t;
  SList* handle = Tech::NewRuleListHandle(t->endcapRules);
  ResetSListPool();
  Tech::ForgetPooledRuleNodes();
  for (const SList* l :
       {&t->biasRules, &t->endcapRules, &other.biasRules, handle}) {
    EXPECT_EQ(l->head, nullptr);
    EXPECT_EQ(l->count, 0);
  }
  // Settings survive; the lists work again from the fresh pool, and
  // destruction touches no released node (checked by the sanitizer build).
  EXPECT_EQ(t->splitSize, 123);
  t->CreateBiasRule();
  t->SetBias(4);
  other.AssignBiasRules(t->biasRules);
  EXPECT_EQ(Head(other.biasRules).bias[0], 4);
  t.reset();
}

TEST(RuleIntervalTest, ConditionsBecomeDatabaseUnitIntervals) {
  struct Case {
    int eq, neq, less, lesseq, greater, greatereq;
    double factor;
    int min, max;
    int exclude;
  };
  const Case cases[] = {
      {-1, -1, -1, -1, -1, -1, 1.0, 0, INT_MAX, 0},
      {-1, 5, -1, -1, -1, -1, 1.0, 5, 5, 1},
      {5, 6, -1, -1, -1, -1, 1.0, 5, 5, 0},          // eq wins over neq
      {-1, -1, -1, -1, -1, 3, 0.5, 2, INT_MAX, 0},   // round(1.5) = 2
      {-1, -1, -1, -1, 3, -1, 0.5, 3, INT_MAX, 0},   // round(1.5) + 1
      {-1, -1, 10, 20, 2, 1, 1000.0, 2001, 9999, 0}, // adjusted after scaling
      {-1, -1, -1, 20, -1, 1, 1000.0, 1000, 20000, 0},
      {-1, -1, 0, -1, -1, -1, 1.0, 0, -1, 0},
      // Values beyond the int32 range saturate instead of overflowing.
      {-1, -1, -1, 2000000000, -1, -1, 10.0, 0, INT_MAX, 0},
  };
  for (const Case& c : cases) {
    Interval out;
    out.min = 12345;
    out.max = 12345;
    out.exclude = 0;
    RuleInterval(out, c.eq, c.neq, c.less, c.lesseq, c.greater, c.greatereq,
                 c.factor);
    EXPECT_EQ(out.min, c.min) << "case eq " << c.eq << " neq " << c.neq;
    EXPECT_EQ(out.max, c.max) << "case eq " << c.eq << " neq " << c.neq;
    EXPECT_EQ(out.exclude, c.exclude);
  }
  // exclude is written only in the neq case.
  Interval kept;
  kept.exclude = 1;
  RuleInterval(kept, -1, -1, -1, -1, -1, -1, 1.0);
  EXPECT_EQ(kept.exclude, 1);
}

TEST(BiasRuleTest, ScaleMultipliesOnlyTheSetLimits) {
  BiasRule r(1);
  r.min[0] = 2;          // max[0] stays unset (INT_MIN)
  r.min[1] = -3;
  r.max[1] = 7;
  r.min[2] = 1;
  r.max[2] = 3;          // dimension 3 stays reset
  BiasRule same(r);
  same.Scale(1.00000001);  // within 2^-23 of 1: nothing
  EXPECT_EQ(same.min, r.min);
  EXPECT_EQ(same.max, r.max);

  r.Scale(1000);
  EXPECT_EQ(r.min, (std::vector<int32_t>{2000, -3000, 1000, INT_MAX}));
  EXPECT_EQ(r.max, (std::vector<int32_t>{INT_MIN, 7000, 3000, INT_MIN}));

  BiasRule h(3);
  h.min[0] = 3;
  h.max[0] = -3;
  h.Scale(0.5);  // 1.5 -> 2, -1.5 -> -2 (half away from zero)
  EXPECT_EQ(h.min[0], 2);
  EXPECT_EQ(h.max[0], -2);
}

}  // namespace
}  // namespace velmar
