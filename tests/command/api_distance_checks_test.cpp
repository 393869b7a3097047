// SPACE, WIDTH, ENC and SIZING through API: the rule checks by sizing and
// by projection flag, on random facing gaps, widths and margins around the
// rule, exactly what the plain checks flag (and what lies below the rule);
// in hierarchical mode every one of them keeps of its flat result what lies
// on the operation layers sized as the operation sizes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/layer_op_fixture.h"
#include "support/boolean_oracle.h"

namespace velmar::api_test {
namespace {

constexpr LayerKey kLayer3 = 3 * 256;  // {3 0}
constexpr LayerKey kLayer4 = 4 * 256;  // {4 0}

using DistanceCheckTest = LayerOpTest;

// One feature of the random layout: which check it is for, where it lies
// (its own square of the layout) and the smallest gap, width or margin it
// has.
struct Feature {
  enum Kind { Space, Width, Enclosure } kind;
  int32_t cellX, cellY;
  int32_t value;
};

constexpr int32_t kPitch = 400;  // side of a feature's square

// Points of a rectangle drawn in a feature's square, turned by 90 degrees
// (x and y exchanged, then mirrored back to counter-clockwise) when turn.
Points Placed(const Feature& f, bool turn, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (turn) {
    std::swap(x1, y1);
    std::swap(x2, y2);
  }
  return Rect(f.cellX + x1, f.cellY + y1, f.cellX + x2, f.cellY + y2);
}

// The features of a layout: a facing gap (two rectangles overlapping by at
// least the rule along the gap), a bar, an enclosed rectangle with one
// margin at the tested value and the other three at random values around
// the rule; each gets its value from rule - 1, rule, rule + 1 or further off.
std::vector<Feature> DrawFeatures(std::mt19937& rng, int32_t rule, hier_test::ModelCell& cell) {
  std::uniform_int_distribution<int32_t> size(2 * rule, 4 * rule), pick(0, 5), coin(0, 1);
  auto value = [&] {
    switch (pick(rng)) {
      case 0: return rule - 1;
      case 1: return rule;
      case 2: return rule + 1;
      case 3: return std::uniform_int_distribution<int32_t>(1, rule - 1)(rng);
      default: return std::uniform_int_distribution<int32_t>(rule, 3 * rule)(rng);
    }
  };
  std::vector<Feature> features;
  for (int i = 0; i < 18; ++i) {
    Feature f{Feature::Kind(i % 3), (i / 3) * kPitch, (i % 3) * kPitch, value()};
    const bool turn = coin(rng) == 1;
    const int32_t a = size(rng), b = size(rng), c = size(rng), e = size(rng);
    switch (f.kind) {
      case Feature::Space: {
        // Along the gap the second rectangle overlaps the first by >= rule.
        const int32_t off = std::uniform_int_distribution<int32_t>(rule - e, b - rule)(rng);
        cell.shapes[kLayer1].push_back(Placed(f, turn, 0, 0, a, b));
        cell.shapes[kLayer1].push_back(Placed(f, turn, a + f.value, off, a + f.value + c, off + e));
        break;
      }
      case Feature::Width:
        cell.shapes[kLayer2].push_back(Placed(f, turn, 0, 0, 3 * a, f.value));
        break;
      case Feature::Enclosure: {
        int32_t m[4] = {f.value, value(), value(), value()};
        std::shuffle(m, m + 4, rng);
        f.value = *std::min_element(m, m + 4);
        const int32_t x = 3 * rule + 2, y = 3 * rule + 2;
        cell.shapes[kLayer3].push_back(Placed(f, turn, x, y, x + a, y + b));
        cell.shapes[kLayer4].push_back(
            Placed(f, turn, x - m[0], y - m[1], x + a + m[2], y + b + m[3]));
        break;
      }
    }
    features.push_back(f);
  }
  return features;
}

// Which features a result layer flags: those whose square holds a ring
// with area.
std::vector<bool> Flagged(const std::vector<Points>& rings, const std::vector<Feature>& features) {
  std::vector<bool> flagged(features.size(), false);
  for (const Points& r : rings) {
    if (oracle::Area2(r) == 0) continue;
    const Box b = ring_test::BoxOf(r);
    for (size_t i = 0; i < features.size(); ++i) {
      const Feature& f = features[i];
      if (b.x1 >= f.cellX - kPitch / 4 && b.x2 <= f.cellX + 3 * kPitch / 4 &&
          b.y1 >= f.cellY - kPitch / 4 && b.y2 <= f.cellY + 3 * kPitch / 4)
        flagged[i] = true;
    }
  }
  return flagged;
}

TEST_F(DistanceCheckTest, RuleVariantsFlagWhatThePlainChecksFlagOnRandomFeatures) {
  std::mt19937 rng(1612);
  int below = 0, notBelow = 0;
  for (int round = 0; round < 8; ++round) {
    const int32_t rule = 2 * std::uniform_int_distribution<int32_t>(2, 12)(rng);
    hier_test::Model m(1);
    const std::vector<Feature> features = DrawFeatures(rng, rule, m[0]);
    Use(m);
    struct Run {
      const char* name;
      Feature::Kind kind;
      std::function<int()> op;
    };
    const Run plain[] = {
        {"SPACE", Feature::Space, [&] { return api.SPACE(1, 0, rule, 0); }},
        {"WIDTH", Feature::Width, [&] { return api.WIDTH(2, 0, rule, 0); }},
        {"ENC", Feature::Enclosure, [&] { return api.Enc(3, 0, 4, 0, rule, 0); }},
    };
    const Run variants[] = {
        {"QSPACE", Feature::Space, [&] { return api.QSPACE(1, 0, rule); }},
        {"CSPACE", Feature::Space, [&] { return api.CSPACE(1, 0, rule); }},
        {"QWIDTH", Feature::Width, [&] { return api.QWIDTH(2, 0, rule); }},
        {"CWIDTH", Feature::Width, [&] { return api.CWIDTH(2, 0, rule); }},
        {"QENC", Feature::Enclosure, [&] { return api.QENC(3, 0, 4, 0, rule); }},
        {"CENC", Feature::Enclosure, [&] { return api.CENC(3, 0, 4, 0, rule); }},
    };
    for (const Run& p : plain) {
      const std::vector<bool> want = Flagged(RingsOf(p.op()), features);
      for (size_t i = 0; i < features.size(); ++i) {
        if (features[i].kind != p.kind) continue;
        // The plain check itself against the drawn value.
        EXPECT_EQ(want[i], features[i].value < rule)
            << p.name << " rule " << rule << " value " << features[i].value;
        (features[i].value < rule ? below : notBelow)++;
      }
      for (const Run& v : variants) {
        if (v.kind != p.kind) continue;
        const std::vector<bool> got = Flagged(RingsOf(v.op()), features);
        for (size_t i = 0; i < features.size(); ++i) {
          if (features[i].kind != p.kind) continue;
          EXPECT_EQ(got[i], want[i]) << v.name << " against " << p.name << " rule " << rule
                                     << " value " << features[i].value << " feature " << i;
        }
      }
    }
    api.ResetTempLayers();
  }
  EXPECT_GT(below, 30);
  EXPECT_GT(notBelow, 30);
}


// Hierarchical mode, input drawn in the working cell and in a placed child:
// every operation keeps of its flat result exactly what lies on the area's
// operation layer {2 0} sized by the operation's own amount (SIZING by its
// amount, SPACE and ENC by the rule, WIDTH not at all).
TEST_F(DistanceCheckTest, HierarchicalResultsAreTheFlatOnesOnTheSizedOperationLayers) {
  std::mt19937 rng(16004);
  std::uniform_int_distribution<int32_t> pos(0, 150), len(3, 30);
  auto rects = [&](int n) {
    std::vector<Points> out;
    for (int i = 0; i < n; ++i) {
      const int32_t x = pos(rng), y = pos(rng);
      out.push_back(Rect(x, y, x + len(rng), y + len(rng)));
    }
    return out;
  };
  hier_test::Model m(2);
  m[0].shapes[kLayer1] = rects(14);
  m[1].shapes[kLayer1] = rects(6);
  m[0].refs = {hier_test::Ref(1, 40, 30)};
  // Enclosing layer: shapes around most of layer {1 0}.
  for (const Points& r : m[0].shapes[kLayer1]) {
    const Box b = ring_test::BoxOf(r);
    m[0].shapes[kLayer3].push_back(Rect(b.x1 - 5, b.y1 - 3, b.x2 + 2, b.y2 + 9));
  }
  const std::vector<Points> op = {Rect(10, 10, 70, 90), Rect(90, 40, 170, 120),
                                  Rect(20, 130, 60, 170)};
  m[0].shapes[kLayer2] = op;
  Use(m);
  struct Case {
    const char* what;
    std::function<int()> run;
    int32_t size;
  } cases[] = {
      {"SIZING +6", [&] { return api.SIZING(1, 0, 6); }, 6},
      {"SIZING -4", [&] { return api.SIZING(1, 0, -4); }, -4},
      {"SPACE", [&] { return api.SPACE(1, 0, 8, 0); }, 8},
      {"SPACE of two layers", [&] { return api.SPACE(1, 0, 3, 0, 8, 0); }, 8},
      {"WIDTH", [&] { return api.WIDTH(1, 0, 8, 0); }, 0},
      {"WIDTH kind 2", [&] { return api.WIDTH(1, 0, 8, 2); }, 0},
      {"ENC", [&] { return api.Enc(1, 0, 3, 0, 8, 0); }, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectHierarchicalIsFlatOnOpLayers(c.run, op, c.size);
  }
}

// Two abutting rectangles drawn in two cells shrink as their union, on the
// input layer and on the operation layer alike: the hierarchical result is
// one rectangle, not cut where the cells meet.
TEST_F(DistanceCheckTest, AbuttingRectanglesOfTwoCellsShrinkAsTheirUnionInHierarchicalMode) {
  hier_test::Model m(2);
  for (hier_test::ModelCell& cell : m) {
    cell.shapes[kLayer1] = {Rect(0, 0, 100, 50)};
    cell.shapes[kLayer2] = {Rect(0, 0, 100, 50)};
  }
  m[0].refs = {hier_test::Ref(1, 100, 0)};
  Use(m);
  api.hierarchical = 1;
  api.AddOpLayer(2, 0);
  const std::vector<Points> rings = RingsOf(api.SIZING(1, 0, -10));
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(ring_test::BoxOf(rings[0]), Box(10, 10, 190, 40));
  EXPECT_EQ(oracle::Area2(rings[0]), 2 * 180 * 30);
}

}  // namespace
}  // namespace velmar::api_test
