// Inside rules of the boolean codes and the edge classes they give.
#include "geometry/op_codes.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace velmar {
namespace {

static_assert(!std::is_convertible_v<RelationalCode, BooleanOpCode>);
static_assert(!std::is_convertible_v<BooleanOpCode, RelationalCode>);
static_assert(static_cast<int>(BooleanOpCode::Xor) == 8);
static_assert(static_cast<int>(RelationalCode::Inside) == 20);

struct EdgeCase {
  BooleanOpCode code;
  bool forward;
  int c1Below, c1Above, c2Below, c2Above;
  uint16_t expected;
};

TEST(OpCodes, EdgeClassDecisionCases) {
  using B = BooleanOpCode;
  const EdgeCase cases[] = {
      // OR: region below inside.
      {B::Or, true, 1, 0, 0, 0, EdgeClass::ReversedForward},
      {B::Or, false, 1, 0, 0, 0, EdgeClass::KeptBackward},
      {B::Or, true, 1, 1, 0, 0, EdgeClass::Dropped},
      // OR: region above inside.
      {B::Or, true, 0, 0, 0, 1, EdgeClass::KeptForward},
      {B::Or, false, 0, 1, 0, 0, EdgeClass::ReversedBackward},
      // DIFF: a negative count of either operand covers nothing.
      {B::Diff, true, 1, 0, -1, 0, EdgeClass::ReversedForward},
      {B::Diff, false, 1, 1, -1, 1, EdgeClass::KeptBackward},
      {B::Diff, true, 1, 1, 0, 1, EdgeClass::ReversedForward},
      {B::Diff, true, -1, 0, 0, 0, EdgeClass::Dropped},
      {B::Diff, false, 0, 1, 0, 0, EdgeClass::ReversedBackward},
      // AND1: overlap within one layer.
      {B::Overlap, true, 1, 2, 0, 0, EdgeClass::KeptForward},
      // Negative winding.
      {B::NegativeWinding, true, -1, 0, 0, 0, EdgeClass::ReversedForward},
      {B::NegativeWinding, true, 1, 0, 0, 0, EdgeClass::Dropped},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << static_cast<int>(c.code)
                                    << " forward " << c.forward << " counts "
                                    << c.c1Below << c.c1Above << c.c2Below
                                    << c.c2Above);
    EXPECT_EQ(EdgeClassDecision(c.code, c.forward, c.c1Below, c.c1Above,
                                c.c2Below, c.c2Above),
              c.expected);
  }
}

// Independent statement of the inside rules: 1 inside, 0 outside.
int Inside(int code, int c1, int c2) {
  switch (code) {
    case 2: return c1 + c2 > 0;
    case 3: return c1 >= 2;
    case 5: return c1 > 0 && c2 > 0;
    case 6: return c1 > 0 && c2 <= 0;
    case 8: return (c1 > 0) + (c2 > 0) == 1;
    case 9: return c1 < 0;
  }
  return 0;
}

TEST(OpCodes, EdgeClassDecisionMatchesInsideRulesEverywhere) {
  for (int code = -1; code <= 40; ++code) {
    const bool classifying =
        code == 2 || code == 3 || code == 5 || code == 6 || code == 8 ||
        code == 9;
    for (int forward = 0; forward < 2; ++forward)
      for (int a = -2; a <= 3; ++a)
        for (int b = -2; b <= 3; ++b)
          for (int c = -2; c <= 3; ++c)
            for (int d = -2; d <= 3; ++d) {
              const uint16_t got = EdgeClassDecision(
                  static_cast<BooleanOpCode>(code), forward, a, b, c, d);
              uint16_t expected = 0;
              if (classifying) {
                const int below = Inside(code, a, c);
                const int above = Inside(code, b, d);
                if (below >= 0 && above >= 0 && below != above)
                  expected = above ? (forward ? 0x02 : 0x18)
                                   : (forward ? 0x06 : 0x08);
              }
              ASSERT_EQ(got, expected)
                  << "code " << code << " forward " << forward << " counts "
                  << a << " " << b << " " << c << " " << d;
            }
  }
}

TEST(OpCodes, ForwardAndBackwardClassesUseSeparateBits) {
  EXPECT_EQ(EdgeClass::KeptForward & EdgeClass::BackwardMask, 0);
  EXPECT_EQ(EdgeClass::ReversedForward & EdgeClass::BackwardMask, 0);
  EXPECT_EQ(EdgeClass::KeptBackward & EdgeClass::ForwardMask, 0);
  EXPECT_EQ(EdgeClass::ReversedBackward & EdgeClass::ForwardMask, 0);
}

}  // namespace
}  // namespace velmar
