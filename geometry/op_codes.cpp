// Inside rules of the boolean codes and the edge-class decision.
#include "geometry/op_codes.h"

namespace velmar {

namespace {

// Inside state of a region: 1 inside, 0 outside.
int RegionState(BooleanOpCode code, int32_t count1, int32_t count2) {
  switch (code) {
    case BooleanOpCode::Or:
      return int64_t(count1) + count2 > 0 ? 1 : 0;
    case BooleanOpCode::Overlap:
      return count1 >= 2 ? 1 : 0;
    case BooleanOpCode::And:
      return count1 > 0 && count2 > 0 ? 1 : 0;
    case BooleanOpCode::Diff:
      // What the first operand winds positively around, less what the
      // second does. A negative count (a clockwise ring outside any
      // counter-clockwise one, or a snapped sliver folded over) covers
      // nothing: reading it as neither inside nor outside dropped the edges
      // around it, and the rings of the result could not close.
      return count1 > 0 && count2 <= 0 ? 1 : 0;
    case BooleanOpCode::Xor:
      return (count1 > 0) != (count2 > 0) ? 1 : 0;
    case BooleanOpCode::NegativeWinding:
      return count1 < 0 ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace

uint16_t EdgeClassDecision(BooleanOpCode code, bool forward, int32_t count1Below,
                           int32_t count1Above, int32_t count2Below,
                           int32_t count2Above) {
  switch (code) {
    case BooleanOpCode::Or:
    case BooleanOpCode::Overlap:
    case BooleanOpCode::And:
    case BooleanOpCode::Diff:
    case BooleanOpCode::Xor:
    case BooleanOpCode::NegativeWinding:
      break;
    default:
      return EdgeClass::Dropped;
  }
  const int below = RegionState(code, count1Below, count2Below);
  const int above = RegionState(code, count1Above, count2Above);
  // An edge is output only between an inside and an outside region.
  if (below == above) return EdgeClass::Dropped;
  if (above == 1)
    return forward ? EdgeClass::KeptForward : EdgeClass::ReversedBackward;
  return forward ? EdgeClass::ReversedForward : EdgeClass::KeptBackward;
}

}  // namespace velmar
