// Measurement filters: rings selected by area, vertex count or rectangle
// sides, and edges by length, each measurement compared with the condition
// sets of the Tech record.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/line_end.h"
#include "geometry/marker_checks.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/segment_geometry.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// Tolerance of an equality between a measurement and a threshold.
constexpr long double kEqualTolerance = 1.1920928955078125e-7L;  // 2^-23

// Condition set 1 of a Tech read for one measurement. A field below 0 is
// not given. eq wins over neq, both over the bounds; of the bounds, the
// exclusive field wins over the inclusive one.
struct Condition {
  enum class Mode { Equal, NotEqual, Range } mode = Mode::Range;
  long double d = 0;  // equality value or upper bound
  long double f = 0;  // lower bound
  bool hasUpper = false, upperStrict = false;
  bool hasLower = false, lowerStrict = false;

  // The larger threshold given (d or f; one not given counts as 0).
  long double Larger() const {
    const bool upper = mode != Mode::Range || hasUpper;
    return std::max(upper ? d : 0.0L, hasLower ? f : 0.0L);
  }

  // Thresholds are the condition values times factor, not rounded.
  Condition(const Tech& t, long double factor) {
    if (t.eq >= 0) {
      mode = Mode::Equal;
      d = t.eq * factor;
    } else if (t.neq >= 0) {
      mode = Mode::NotEqual;
      d = t.neq * factor;
    } else {
      if (t.less >= 0) {
        hasUpper = upperStrict = true;
        d = t.less * factor;
      } else if (t.lesseq >= 0) {
        hasUpper = true;
        d = t.lesseq * factor;
      }
      if (t.greater >= 0) {
        hasLower = lowerStrict = true;
        f = t.greater * factor;
      } else if (t.greatereq >= 0) {
        hasLower = true;
        f = t.greatereq * factor;
      }
    }
  }

  bool Passes(long double m) const {
    switch (mode) {
      case Mode::Equal: return std::fabs(m - d) <= kEqualTolerance;
      case Mode::NotEqual: return std::fabs(m - d) > kEqualTolerance;
      case Mode::Range: break;
    }
    if (hasUpper && (upperStrict ? !(m < d) : !(m <= d))) return false;
    if (hasLower && (lowerStrict ? !(m > f) : !(m >= f))) return false;
    return true;
  }
};

// The same test on integers (vertex counts), against the raw values.
bool PassesCount(const Tech& t, int64_t m) {
  if (t.eq >= 0) return m == t.eq;
  if (t.neq >= 0) return m != t.neq;
  if (t.less >= 0 ? !(m < t.less) : (t.lesseq >= 0 && !(m <= t.lesseq)))
    return false;
  if (t.greater >= 0 ? !(m > t.greater)
                     : (t.greatereq >= 0 && !(m >= t.greatereq)))
    return false;
  return true;
}

bool NoCondition(const Tech& t) {
  return t.eq == -1 && t.neq == -1 && t.less == -1 && t.lesseq == -1 &&
         t.greater == -1 && t.greatereq == -1;
}

// Ends the process when set 1 holds no condition at all; otherwise, with
// reportDegree, prints the condition: the equality or inequality text with
// its value, or the bounds (the inclusive field preferred in the echo)
// followed by the closing text. The texts carry the further numbers a, b.
void ConditionStep(const Tech& t, const char* equalText,
                   const char* notEqualText, const char* closingText, int a,
                   int b) {
  if (NoCondition(t)) ExitWithMessage("\nError: missing condition\n");
  if (t.reportDegree == 0) return;
  if (t.eq >= 0) {
    PrintMessage(equalText, t.eq, a, b);
    return;
  }
  if (t.neq >= 0) {
    PrintMessage(notEqualText, t.neq, a, b);
    return;
  }
  if (t.lesseq >= 0) {
    PrintMessage("<= %d ", t.lesseq);
  } else if (t.less >= 0) {
    PrintMessage("< %d ", t.less);
  }
  if (t.greatereq >= 0) {
    PrintMessage(">= %d ", t.greatereq);
  } else if (t.greater >= 0) {
    PrintMessage("> %d ", t.greater);
  }
  PrintMessage(closingText, a, b);
}

// The echo of one condition set of Rectangle: "{ == v } ", "{ != v } " or
// "{ " with its bounds and "} ".
void EchoRectangleSet(int eq, int neq, int less, int lesseq, int greater,
                      int greatereq) {
  if (eq >= 0) {
    PrintMessage("{ == %d } ", eq);
    return;
  }
  if (neq >= 0) {
    PrintMessage("{ != %d } ", neq);
    return;
  }
  PrintMessage("{ ");
  if (lesseq >= 0) {
    PrintMessage("<= %d ", lesseq);
  } else if (less >= 0) {
    PrintMessage("< %d ", less);
  }
  if (greatereq >= 0) {
    PrintMessage(">= %d ", greatereq);
  } else if (greater >= 0) {
    PrintMessage("> %d ", greater);
  }
  PrintMessage("} ");
}

// An edge from p to n lies outside the box when, for some side, both ends
// lie on the outer side of that side's line or on it, one strictly.
bool EdgeOutside(const PSPoint* p, const PSPoint* n, const Box& box) {
  const int32_t minX = std::min(p->x, n->x), maxX = std::max(p->x, n->x);
  const int32_t minY = std::min(p->y, n->y), maxY = std::max(p->y, n->y);
  return (maxX <= box.x1 && minX < box.x1) || (maxY <= box.y1 && minY < box.y1) ||
         (minX >= box.x2 && maxX > box.x2) || (minY >= box.y2 && maxY > box.y2);
}

long double EdgeLength(const PSPoint* p, const PSPoint* n) {
  const long double dx = (long double)n->x - p->x, dy = (long double)n->y - p->y;
  return std::sqrt(dx * dx + dy * dy);
}

// Half away from zero, as a coordinate-sized length.
int64_t RoundAway(long double v) {
  return int64_t(v < 0 ? v - 0.5L : v + 0.5L);
}

// The minimum length of the two edges beside a line end: endcapMinLength
// when set, else the larger threshold of the condition.
int64_t LineEndLimit(const Tech& t, const Condition& c, double scale) {
  if (t.endcapMinLength != 0) return RoundAway((long double)t.endcapMinLength * scale);
  return RoundAway(c.Larger());
}

// Calls found(p) for every edge p -> p->next of the input that lies in the
// area, is a line end with neighbouring edges of at least limit, and whose
// length passes the condition.
template <class Found>
void ForEachLineEnd(PSList& input, const Box& area, const Condition& c,
                    int64_t limit, Found found) {
  for (const PSPoint* p = input.head; p; p = p->link) {
    const PSPoint* n = p->next;
    if (!p->prev || !n || !n->next) continue;
    if (EdgeOutside(p, n, area) || !IsLineEnd(p, limit)) continue;
    if (c.Passes(EdgeLength(p, n))) found(p);
  }
}

// A two-point chain from (x1, y1) to (x2, y2), the end pushed last.
void PushChain(PSList& out, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  PSPoint* s = PushPoint(out, ToCoord(x1), ToCoord(y1));
  PSPoint* e = PushPoint(out, ToCoord(x2), ToCoord(y2));
  LinkPoints(s, e);
}

}  // namespace

int API::AREA(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sAREA {%d %d} { ", DateText(), layer1, datatype1);
  ConditionStep(tech, "== %d }\n", "!= %d }\n", "}\n", 0, 0);
  RequireWorkingArea();
  const long double scale = currentLib->unitPerNm;
  const Condition condition(tech, scale * scale);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    // Open chains have no area.
    ScratchList chains, selected;
    SplitOffWholeChains(input, chains.list);
    for (PSPoint* p = input.head; p; p = p->link) {
      if (p->flags & PSPointFlags::Visited) continue;
      const long double area = RingArea2(p) * 0.5L;
      if (condition.Passes(area)) AppendRingCopy(p, selected.list);
      PSPoint* q = p;
      do {
        q->flags |= PSPointFlags::Visited;
        q = q->next;
      } while (q != p);
    }
    MaskFlags(input, ~int(PSPointFlags::Visited));
    if (!selected.list.IsEmpty() && hierarchical != 0)
      GatherAreaLayers(0, selected.list);
    SpliceList(out, selected.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::Length(int layer1, int datatype1, int amount) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sLength {%d %d} { ", DateText(), layer1, datatype1);
  ConditionStep(tech, "== %d } %d\n", "!= %d } %d\n", "} %d\n", amount, 0);
  RequireWorkingArea();
  const Condition condition(tech, currentLib->unitPerNm);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    const int32_t a = ToDatabaseUnits(double(amount));
    ScratchList selected;
    for (const PSPoint* p = input.head; p; p = p->link) {
      const PSPoint* n = p->next;
      if (!n || EdgeOutside(p, n, area)) continue;
      if (!condition.Passes(EdgeLength(p, n))) continue;
      if (a == 0) {
        PSPoint* s = PushPoint(selected.list, p->x, p->y);
        PSPoint* e = PushPoint(selected.list, n->x, n->y);
        LinkPoints(s, e);
      } else {
        const Box b = Normalized(Box(p->x, p->y, n->x, n->y));
        BoxToRing(selected.list,
                  Box(ToCoord(int64_t(b.x1) - a), ToCoord(int64_t(b.y1) - a),
                      ToCoord(int64_t(b.x2) + a), ToCoord(int64_t(b.y2) + a)),
                  false);
      }
    }
    if (!selected.list.IsEmpty()) {
      // The area step intersects regions: boxes take it, while edges (amount
      // 0) would be read as the outlines of regions. They are cut to the
      // area as in flat mode.
      if (hierarchical != 0 && a != 0) {
        GatherAreaLayers(a, selected.list);
      } else if (tech.areaMargin != 0) {
        ClipToWindow(selected.list, area, false);
      }
    }
    if (!selected.list.IsEmpty()) {
      const int32_t count = selected.list.pointCount;
      if (report) PrintMessage("  Length violation vertices = %d\n", count);
      lengthViolations += count;
    }
    SpliceList(out, selected.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::LineEnd(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sLineEnd {%d %d} { ", DateText(), layer1, datatype1);
  ConditionStep(tech, "== %d }\n", "!= %d }\n", "}\n", 0, 0);
  RequireWorkingArea();
  const double scale = currentLib->unitPerNm;
  const Condition condition(tech, scale);
  const int64_t limit = LineEndLimit(tech, condition, scale);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    ScratchList ends;
    ForEachLineEnd(input, area, condition, limit, [&](const PSPoint* p) {
      PushChain(ends.list, p->x, p->y, p->next->x, p->next->y);
    });
    if (report) PrintMessage("  LineEnd edges = %d\n", ends.list.pointCount / 2);
    SpliceList(out, ends.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::LineEndSide(int layer1, int datatype1, int sideLength, int extension) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sLineEndSide {%d %d} { ", DateText(), layer1, datatype1);
  ConditionStep(tech, "== %d \n} %d %d\n", "!= %d \n} %d %d\n", "} %d %d\n",
                sideLength, extension);
  RequireWorkingArea();
  const double scale = currentLib->unitPerNm;
  const Condition condition(tech, scale);
  const int64_t limit = LineEndLimit(tech, condition, scale);
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    const int32_t side =
        int32_t(std::min<int64_t>(limit, ToDatabaseUnits(double(sideLength))));
    const int32_t e = ToDatabaseUnits(double(extension));
    ScratchList sides;
    ForEachLineEnd(input, area, condition, limit, [&](const PSPoint* p) {
      // The side edge through n (n -> nn) and its parallel through p.
      const PSPoint* n = p->next;
      const Box sideEdge(n->x, n->y, n->next->x, n->next->y);
      int32_t x1, y1, x2, y2;
      OffsetPoint(sideEdge, e, false, x1, y1);
      PointAlong(sideEdge, side, x2, y2);
      const int64_t dx = int64_t(p->x) - n->x, dy = int64_t(p->y) - n->y;
      PushChain(sides.list, x1, y1, x2, y2);
      PushChain(sides.list, x2 + dx, y2 + dy, x1 + dx, y1 + dy);
    });
    if (report)
      PrintMessage("  LineEndSide edges = %d\n", sides.list.pointCount / 2);
    SpliceList(out, sides.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::NPoints(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sNPoints {%d %d}\n", DateText(), layer1, datatype1);
  ConditionStep(tech, "== %d }\n", "!= %d }\n", "}\n", 0, 0);
  RequireWorkingArea();
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    ScratchList chains, selected;
    SplitOffWholeChains(input, chains.list);
    for (PSPoint* p = input.head; p; p = p->link) {
      if (p->flags & PSPointFlags::Visited) continue;
      if (HoleStart(p) != nullptr) continue;  // marks the ring visited
      if (PassesCount(tech, CountRingPoints(p)))
        AppendRingCopy(p, selected.list);
    }
    MaskFlags(input, ~int(PSPointFlags::Visited));
    SpliceList(out, selected.list);
    if (report) ReportPointSystemMemory(false);
  });
}

int API::Rectangle(int layer1, int datatype1) {
  const bool report = tech.reportDegree != 0;
  const Tech& t = tech;
  const bool firstGiven = !NoCondition(t);
  const bool secondGiven =
      firstGiven && !(t.eq2 == -1 && t.neq2 == -1 && t.less2 == -1 &&
                      t.lesseq2 == -1 && t.greater2 == -1 && t.greatereq2 == -1);
  if (report) {
    PrintMessage("\n%sRectangle {%d %d} ", DateText(), layer1, datatype1);
    if (firstGiven)
      EchoRectangleSet(t.eq, t.neq, t.less, t.lesseq, t.greater, t.greatereq);
    if (secondGiven)
      EchoRectangleSet(t.eq2, t.neq2, t.less2, t.lesseq2, t.greater2,
                       t.greatereq2);
    PrintMessage("\n");
  }
  RequireWorkingArea();
  return RunOneLayerOperation(*this, layer1, datatype1,
                              [&](PSList& input, PSList& out) {
    if (report) PrintMessage("%sProcess starts\n", DateText());
    const double scale = currentLib->unitPerNm;
    Interval first{INT_MAX, 0, 0}, second{INT_MAX, 0, 0};
    if (firstGiven)
      RuleInterval(first, t.eq, t.neq, t.less, t.lesseq, t.greater,
                   t.greatereq, scale);
    if (secondGiven)
      RuleInterval(second, t.eq2, t.neq2, t.less2, t.lesseq2, t.greater2,
                   t.greatereq2, scale);
    // A given condition that no length meets (say less 0, or less 5 with
    // greatereq 7) selects nothing; only a set not given selects all.
    const bool unsatisfiable = (firstGiven && first.IsEmpty()) ||
                               (secondGiven && second.IsEmpty());
    if (!unsatisfiable) SelectRectangles(input, out, first, second);
    if (report) {
      PrintMessage("  Total output vertices = %d\n", out.pointCount);
      ReportPointSystemMemory(false);
    }
  });
}

}  // namespace velmar
