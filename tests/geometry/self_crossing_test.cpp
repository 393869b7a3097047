// Rings that cross themselves ("bow ties") and clockwise rings outside any
// counter-clockwise one, through the boolean entry point, judged by a
// rasterising oracle.
//
// The oracle's inside rule: every ring has its own winding number at a
// point. A ring marked as a bow tie (its lobes wind in opposite senses)
// covers every point it winds around, whichever the sense (nonzero per
// lobe); any other ring adds its winding as drawn (a clockwise ring inside a
// counter-clockwise one is a hole). An operand covers a point where its sum
// is positive. DIFF keeps what the first operand covers and the second does
// not.
//
// Samples lie at (i + 1/4, j + 1/2): never on an axis-parallel or 45-degree
// edge through grid points, so they are judged exactly; for inputs whose
// crossings lie off the grid, samples within one unit of an input edge are
// skipped (the snapped result may move there).
#include <algorithm>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"

namespace velmar {
namespace {

using oracle::Ring;

struct Drawn {
  std::vector<Point> pts;
  int layer;
  bool bowTie;
};

bool Covered(int code, int w1, int w2) {
  const bool in1 = w1 > 0, in2 = w2 > 0;
  switch (code) {
    case 0: return in1;
    case 2: return w1 + w2 > 0;
    case 5: return in1 && in2;
    case 6: return in1 && !in2;
    case 8: return in1 != in2;
    default: return false;
  }
}

// "" or the first sample where the result differs from the rule. asDrawn:
// the rings go through BooleanSweepAsDrawn and every ring adds its winding
// as drawn, bow tie or not.
std::string Judge(const std::vector<Drawn>& input, int code, bool exact,
                  bool asDrawn = false) {
  std::vector<Ring> rings;
  for (const Drawn& d : input) rings.push_back({d.pts, code == 0 ? 1 : d.layer});
  oracle::OwnedList out;
  std::vector<std::vector<Point>> result;
  try {
    if (asDrawn) {
      oracle::OwnedList in;
      oracle::BuildList(in.list, rings);
      BooleanSweepAsDrawn(in.list, &out.list, static_cast<BooleanOpCode>(code));
      result = oracle::ResultRings(out.list);
    } else {
      result = oracle::RunBoolean(rings, code, out.list);
    }
  } catch (const Error& e) {
    return std::string("error ") + e.Message();
  }
  int32_t x1 = 1 << 30, y1 = 1 << 30, x2 = -(1 << 30), y2 = -(1 << 30);
  for (const Drawn& d : input)
    for (const Point& p : d.pts) {
      x1 = std::min(x1, p.x), y1 = std::min(y1, p.y);
      x2 = std::max(x2, p.x), y2 = std::max(y2, p.y);
    }
  int insideSamples = 0;
  for (int32_t i = x1 - 1; i <= x2; ++i)
    for (int32_t j = y1 - 1; j <= y2; ++j) {
      const int64_t px4 = 4 * int64_t(i) + 1, py4 = 4 * int64_t(j) + 2;
      if (!exact) {
        bool near = false;
        for (const Drawn& d : input)
          for (size_t k = 0; k < d.pts.size() && !near; ++k)
            near = oracle::Dist2(px4 / 4.0L, py4 / 4.0L, d.pts[k],
                                 d.pts[(k + 1) % d.pts.size()]) <= 1;
        if (near) continue;
      }
      int w1 = 0, w2 = 0;
      for (const Drawn& d : input) {
        int w = oracle::WindingScaled(d.pts, px4, py4, 4);
        if (d.bowTie && !asDrawn) w = w != 0 ? 1 : 0;
        (code != 0 && d.layer == 2 ? w2 : w1) += w;
      }
      int got = 0;
      for (const auto& r : result) got += oracle::WindingScaled(r, px4, py4, 4);
      const int want = Covered(code, w1, w2) ? 1 : 0;
      insideSamples += want;
      if (got != want)
        return "at (" + std::to_string(i) + ".25, " + std::to_string(j) + ".5) winding " +
               std::to_string(got) + ", want " + std::to_string(want);
    }
  if (insideSamples == 0) return "the case covers nothing: it tests nothing";
  return "";
}

std::vector<Point> Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return oracle::Rect(x1, y1, x2, y2);
}

TEST(SelfCrossingRings, EveryLobeOfABowTieCountsForItsOperand) {
  // Lobes (0,0)(0,20)(10,10) and (20,0)(20,20)(10,10), of opposite senses;
  // the crossing lies on the grid, between the vertices.
  const std::vector<Point> tie = {{0, 0}, {20, 20}, {20, 0}, {0, 20}};
  // The same with its crossing at (10.5, 10), off the grid.
  const std::vector<Point> skew = {{0, 0}, {21, 20}, {21, 0}, {0, 20}};
  // A bow tie drawn the other way round, and one with unequal lobes.
  const std::vector<Point> back = oracle::Reversed(tie);
  const std::vector<Point> lopsided = {{0, 0}, {30, 10}, {30, 0}, {0, 30}};
  const std::vector<Point> band = Rect(-5, 5, 25, 15);
  struct Case {
    const char* name;
    int code;
    std::vector<Drawn> input;
    bool exact;
  };
  const std::vector<Case> cases = {
      {"merge of a bow tie", 0, {{tie, 1, true}}, true},
      {"merge of a reversed bow tie", 0, {{back, 1, true}}, true},
      {"merge of a bow tie with unequal lobes", 0, {{lopsided, 1, true}}, false},
      {"merge of a bow tie crossing off the grid", 0, {{skew, 1, true}}, false},
      {"OR with a band", 2, {{tie, 1, true}, {band, 2, false}}, true},
      {"OR of two bow ties", 2, {{tie, 1, true}, {back, 2, true}}, true},
      {"AND with a band", 5, {{tie, 1, true}, {band, 2, false}}, true},
      {"AND of an off-grid bow tie with a band", 5, {{skew, 1, true}, {band, 2, false}}, false},
      {"DIFF bow tie minus band", 6, {{tie, 1, true}, {band, 2, false}}, true},
      {"DIFF band minus bow tie", 6, {{band, 1, false}, {tie, 2, true}}, true},
      {"DIFF band minus reversed bow tie", 6, {{band, 1, false}, {back, 2, true}}, true},
      {"XOR with a band", 8, {{tie, 1, true}, {band, 2, false}}, true},
      {"XOR of unequal bow tie with a band", 8, {{lopsided, 1, true}, {band, 2, false}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Judge(c.input, c.code, c.exact), "");
  }
}

TEST(SelfCrossingRings, DiffWithClockwiseRingsOutsideAnyOuterRing) {
  // A clockwise ring that no counter-clockwise ring holds winds -1: DIFF
  // used to leave its region neither inside nor outside, drop the edges
  // around it and fail to close the rings ("Polygon connection failed").
  const std::vector<Point> square = Rect(0, 0, 20, 20);
  const std::vector<Point> cwBar = oracle::Reversed(Rect(10, 5, 30, 15));
  const std::vector<Point> hole = oracle::Reversed(Rect(5, 5, 15, 15));
  const std::vector<Point> tri = {{0, 0}, {10, 30}, {20, 0}};  // clockwise
  struct Case {
    const char* name;
    std::vector<Drawn> input;
    bool exact;
  };
  const std::vector<Case> cases = {
      {"second operand clockwise over the first", {{square, 1, false}, {cwBar, 2, false}}, true},
      {"first operand with a clockwise ring beside it",
       {{square, 1, false}, {cwBar, 1, false}, {Rect(12, 0, 18, 25), 2, false}},
       true},
      {"a hole of the second operand stays a hole",
       {{square, 1, false}, {Rect(2, 2, 18, 18), 2, false}, {hole, 2, false},
        {cwBar, 2, false}},
       true},
      {"any-angle: clockwise triangle of the second operand",
       {{square, 1, false}, {tri, 2, false}},
       false},
      {"any-angle: clockwise slivers of the first operand over duplicates",
       {{{{1, 54}, {27, 34}, {52, 15}}, 1, false},
        {{{1, 54}, {27, 34}, {52, 15}}, 1, false},
        {{{56, 30}, {27, 34}, {65, 29}}, 1, false},
        {{{30, 22}, {45, 36}, {53, 29}}, 1, false},
        {{{48, 14}, {4, 56}, {9, 33}}, 1, false},
        {{{48, 14}, {4, 56}, {9, 33}}, 1, false},
        {{{2, 5}, {31, 9}, {1, 5}}, 2, false}},
       false},
      {"any-angle: bow tie and clockwise ring in the second operand",
       {{square, 1, false}, {{{0, 0}, {21, 20}, {21, 0}, {0, 20}}, 2, true}, {cwBar, 2, false}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Judge(c.input, 6, c.exact), "");
  }
}

TEST(SelfCrossingRings, RingsAsDrawnLetClockwiseLobesCountAgainstTheirOperand) {
  // Sizing's offset rings cross themselves where shrinking turned a part of
  // the ring over: that part winds clockwise and must cancel, not add. The
  // same bow ties through both entry points, axis-parallel and oblique.
  // Figure eight: lobe [0,10]x[0,10] counter-clockwise, [10,20]x[10,20]
  // clockwise, crossing at (10,10) between vertices.
  const std::vector<Point> eight = {{0, 0}, {10, 0}, {10, 20}, {20, 20}, {20, 10}, {0, 10}};
  const std::vector<Point> tie = {{0, 0}, {20, 20}, {20, 0}, {0, 20}};
  const std::vector<Point> band = Rect(-5, 5, 25, 15);
  const std::vector<Point> cover = Rect(-5, -5, 25, 25);
  struct Case {
    const char* name;
    int code;
    std::vector<Drawn> input;
  };
  const std::vector<Case> cases = {
      {"merge of a figure eight", 0, {{eight, 1, true}}},
      {"merge of an oblique bow tie", 0, {{tie, 1, true}}},
      {"AND of a figure eight with a band", 5, {{eight, 1, true}, {band, 2, false}}},
      {"OR of a figure eight inside a cover", 2, {{eight, 1, true}, {cover, 2, false}}},
      {"DIFF of a cover minus an oblique bow tie", 6, {{cover, 1, false}, {tie, 2, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Judge(c.input, c.code, true, false), "") << "every lobe";
    EXPECT_EQ(Judge(c.input, c.code, true, true), "") << "as drawn";
  }
}

}  // namespace
}  // namespace velmar
