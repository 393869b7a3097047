// Integer point and box of the layout coordinate system (database units).
#pragma once

#include <climits>
#include <cstdint>

namespace velmar {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  constexpr Point() = default;
  constexpr Point(int32_t px, int32_t py) : x(px), y(py) {}
  friend constexpr bool operator==(const Point&, const Point&) = default;
};

// A bounding box (x1 <= x2, y1 <= y2 when not empty) or, in the segment
// routines of the geometry engine (geometry/segment_geometry.h), a segment
// from (x1, y1) to (x2, y2).
// The empty box is INT_MAX, INT_MAX, INT_MIN, INT_MIN.
struct Box {
  int32_t x1 = INT_MAX;
  int32_t y1 = INT_MAX;
  int32_t x2 = INT_MIN;
  int32_t y2 = INT_MIN;

  constexpr Box() = default;
  constexpr Box(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2)
      : x1(ax1), y1(ay1), x2(ax2), y2(ay2) {}

  static constexpr Box Empty() { return Box(); }
  friend constexpr bool operator==(const Box&, const Box&) = default;

  // Valid: positive extent on both axes.
  constexpr bool IsValid() const { return x1 < x2 && y1 < y2; }
  constexpr bool IsEmpty() const {
    return x1 == INT_MAX && y1 == INT_MAX && x2 == INT_MIN && y2 == INT_MIN;
  }
  constexpr void SetEmpty() { *this = Box(); }

  // Grows the box to hold (x, y); the empty box becomes (x, y, x, y).
  constexpr void Extend(int32_t x, int32_t y) {
    if (x < x1) x1 = x;
    if (x > x2) x2 = x;
    if (y < y1) y1 = y;
    if (y > y2) y2 = y;
  }

  // Union with another box; a box that is not valid adds nothing, and a
  // box that is not valid itself takes the other's value.
  constexpr void Merge(const Box& o) {
    if (!o.IsValid()) return;
    if (!IsValid()) { *this = o; return; }
    if (o.x1 < x1) x1 = o.x1;
    if (o.y1 < y1) y1 = o.y1;
    if (o.x2 > x2) x2 = o.x2;
    if (o.y2 > y2) y2 = o.y2;
  }

  // Open overlap: positive extent on both axes; touching does not count.
  constexpr bool Overlaps(const Box& o) const {
    return x1 < o.x2 && o.x1 < x2 && y1 < o.y2 && o.y1 < y2;
  }

  // Closed containment: every side of o on or inside this box.
  constexpr bool Contains(const Box& o) const {
    return x1 <= o.x1 && o.x2 <= x2 && y1 <= o.y1 && o.y2 <= y2;
  }

  constexpr int64_t Width() const { return int64_t(x2) - x1; }
  constexpr int64_t Height() const { return int64_t(y2) - y1; }
};

}  // namespace velmar
