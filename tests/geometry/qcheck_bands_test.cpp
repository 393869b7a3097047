// Q-check bands: the chamfered copy of a ring and its offset ring.
#include "geometry/qcheck_bands.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using Ring = std::vector<Point>;

std::vector<Ring> Rings(const PSList& out) {
  std::vector<Ring> rings;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = out.head; p; p = p->link) {
    if (seen.count(p)) continue;
    const PSPoint* end = nullptr;
    rings.push_back(test::WalkRing(p, seen, end));
    EXPECT_EQ(end, p) << "ring not closed";
  }
  return rings;
}

const Ring kSquare = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};

TEST(QCheckBands, GrowingChamfersEveryConvexRightAngle) {
  PSList in, chamfered;
  test::ListGuard g1{in}, g2{chamfered};
  PSPoint* ring = test::AddRing(in, kSquare);
  SplitRingForQCheck(in, ring, chamfered, 0);
  ASSERT_EQ(chamfered.pointCount, 8);
  const Ring expected = {{1, 0}, {9, 0}, {10, 1}, {10, 9}, {9, 10}, {1, 10}, {0, 9}, {0, 1}};
  std::vector<Ring> rings = Rings(chamfered);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], expected));
  // The first point of each chamfer, and nothing else, marks its diagonal.
  std::set<std::pair<int, int>> marked;
  for (const PSPoint* p = chamfered.head; p; p = p->link)
    if (p->flags & PSPointFlags::Marker) marked.insert({p->x, p->y});
  const std::set<std::pair<int, int>> diagonals = {{9, 0}, {10, 9}, {1, 10}, {0, 1}};
  EXPECT_EQ(marked, diagonals);

  // Sized by 2: sides 2 out, diagonals 3 out; the corners of the grown
  // square (-2,-2)-(12,12) cut by one-unit chamfers.
  PSList out;
  test::ListGuard g3{out};
  SizeChains(chamfered, chamfered.head, out, 2);
  rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  const Ring grown = {{-1, -2}, {11, -2}, {12, -1}, {12, 11}, {11, 12}, {-1, 12}, {-2, 11}, {-2, -1}};
  EXPECT_TRUE(test::SameCycle(rings[0], grown));
}

TEST(QCheckBands, ShrinkingLeavesConvexCornersAndTurnsNarrowRingsOver) {
  // 10 x 100 by -6: the clockwise ring (6,6), (4,6), (4,94), (6,94); two of
  // four edges turned over, which is not more than half: not reversed.
  PSList in, out;
  test::ListGuard g1{in}, g2{out};
  test::AddRing(in, {{0, 0}, {10, 0}, {10, 100}, {0, 100}});
  BuildQCheckBands(in, out, -6, 1);
  std::vector<Ring> rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], {{6, 6}, {4, 6}, {4, 94}, {6, 94}}));
  EXPECT_LT(test::ShoelaceArea2(rings[0]), 0);
  for (const PSPoint* p = in.head; p; p = p->link)
    EXPECT_TRUE(p->flags & PSPointFlags::Visited);
  EXPECT_EQ(out.ringCount, 0);
}

TEST(QCheckBands, ChamferCasesOfOneRing) {
  struct Case {
    const char* name;
    Ring ring;
    int negative;
    Ring expected;
  };
  const Case cases[] = {
      // A right triangle: only its right angle is chamfered.
      {"triangle", {{0, 0}, {10, 0}, {0, 10}}, 0, {{1, 0}, {10, 0}, {0, 10}, {0, 1}}},
      // Shrinking chamfers the concave corner of an L only.
      {"L concave",
       {{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 10}, {0, 10}},
       1,
       {{0, 0}, {10, 0}, {10, 4}, {5, 4}, {4, 5}, {4, 10}, {0, 10}}},
      // A side of one unit after a corner: the second chamfer point is the
      // side's far end, which the ring continues with.
      {"one-unit side",
       {{0, 0}, {10, 0}, {10, 1}, {0, 11}},
       0,
       {{0, 1}, {1, 0}, {9, 0}, {10, 1}, {0, 11}}},
  };
  for (const Case& c : cases) {
    PSList in, chamfered;
    test::ListGuard g1{in}, g2{chamfered};
    PSPoint* ring = test::AddRing(in, c.ring);
    SplitRingForQCheck(in, ring, chamfered, c.negative);
    std::vector<Ring> rings = Rings(chamfered);
    ASSERT_EQ(rings.size(), 1u) << c.name;
    EXPECT_TRUE(test::SameCycle(rings[0], c.expected)) << c.name;
  }
}

}  // namespace
}  // namespace velmar
