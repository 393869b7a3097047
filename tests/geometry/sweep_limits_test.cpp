// The scan-line sweep at its limits: rings that reach the ends of the int32
// range (the active list's end nodes must not be taken for edges there),
// and an edge that is not in the active list when it is to be removed (the
// search must stop at the top end and report, not run off the list).
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/scan_sweep.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::Rect;
using oracle::Ring;

// Edges at y = INT_MIN and y = INT_MAX and a ring across the whole x range:
// every operation must still match the grid oracle exactly.
TEST(SweepLimits, RingsAtTheEndsOfTheCoordinateRange) {
  const std::vector<Ring> in = {{Rect(0, INT_MIN, 10, INT_MAX), 1},
                                {Rect(5, INT_MIN, 20, 0), 2},
                                {Rect(INT_MIN, -5, INT_MAX, 5), 2},
                                {Rect(-30, INT_MAX - 10, -20, INT_MAX), 1}};
  for (int code : {0, 2, 3, 5, 6, 8}) {
    SCOPED_TRACE(code);
    OwnedList out;
    std::vector<std::vector<Point>> rings;
    try {
      rings = oracle::RunBoolean(in, code, out.list);
    } catch (const Error& e) {
      FAIL() << e.Unit() << ": " << e.Message();
    }
    oracle::ExpectCleanRings(out.list, rings);
    EXPECT_TRUE(oracle::TotalArea2(rings) == 2 * oracle::ManhattanArea(in, code))
        << oracle::ToString(oracle::TotalArea2(rings)) << " / 2 against "
        << oracle::ToString(oracle::ManhattanArea(in, code));
  }
}

// A list handed to the sweep against its precondition (not in position
// order): the first event removes an edge that was never inserted. With
// and without splitting, the search for it ends at the top of the active
// list with "Wrong segment ordering".
TEST(SweepLimits, RemovingAnEdgeThatIsNotActiveIsReported) {
  for (bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "keep" : "no keep");
    OwnedList in, out;
    BoxToRing(in.list, Box(0, 0, 10, 10), false);
    BoxToRing(in.list, Box(0, 0, 10, 10), false);
    // Descending order: every vertex comes before its left neighbours.
    SortPoints(in.list, [](const PSPoint* a, const PSPoint* b) { return ComparePoint(b, a); });
    try {
      if (keep)
        ScanSweep(in.list, &out.list, BooleanOpCode::Or, true);
      else
        ScanSweep(in.list, nullptr, BooleanOpCode::CutHoles, false);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Message(), "Wrong segment ordering");
      EXPECT_STREQ(e.Unit(), "DRC");
    }
  }
}

}  // namespace
}  // namespace velmar
