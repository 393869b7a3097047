#include "layoutdb/trans.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "foundation/error.h"

namespace velmar {

namespace {

[[noreturn]] void ThrowOutOfRange() {
  throw Error("Transformed coordinate out of range", "DB");
}

int32_t Fit(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) ThrowOutOfRange();
  return int32_t(v);
}

// floor(m * v + 0.5) as a 64-bit integer. The product of a single-precision
// factor and an int32 is exact in extended precision; non-finite or huge
// results are refused.
int64_t ScaleHalfUp(long double m, int32_t v) {
  long double r = std::floor(m * (long double)v + 0.5L);
  if (!(r >= (long double)INT32_MIN && r <= (long double)INT32_MAX))
    ThrowOutOfRange();
  return int64_t(r);
}

// Turns (x, y) by the orientation code; codes above 7 leave it unchanged.
inline void Turn(uint8_t code, int64_t& x, int64_t& y) {
  int64_t a = x, b = y;
  switch (code) {
    case 1: x = -b; y = a; break;
    case 2: x = -a; y = -b; break;
    case 3: x = b; y = -a; break;
    case 4: x = -a; y = b; break;
    case 5: x = -b; y = -a; break;
    case 6: x = a; y = -b; break;
    case 7: x = b; y = a; break;
    default: break;
  }
}

// Sort key of a float that orders every bit pattern totally and agrees with
// the numeric order on non-NaN values (-0 before +0, NaNs at the ends).
inline uint32_t FloatKey(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

template <class T>
inline int Cmp(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

bool IsNoMagnification(float mag) {
  return std::fabs(double(mag) - 1.0) <= kMagnificationTolerance;
}

void Trans::Apply(int32_t& px, int32_t& py) const {
  int64_t x = px, y = py;
  if (Magnified()) {
    x = ScaleHalfUp(mag, px);
    y = ScaleHalfUp(mag, py);
  }
  Turn(orientation, x, y);
  px = Fit(x + this->x);
  py = Fit(y + this->y);
}

void Trans::Invert() {
  int64_t ox = x, oy = y;
  if (Magnified()) {
    if (mag == 0.0f || !std::isfinite(mag))
      throw Error("Magnification cannot be inverted", "DB");
    long double m = 1.0L / (long double)mag;
    ox = ScaleHalfUp(m, x);
    oy = ScaleHalfUp(m, y);
    mag = float(m);
  }
  int64_t nx, ny;
  uint8_t code = orientation;
  switch (orientation) {
    case 1: nx = -oy; ny = ox; code = 3; break;
    case 2: nx = ox; ny = oy; break;
    case 3: nx = oy; ny = -ox; code = 1; break;
    case 4: nx = ox; ny = -oy; break;
    case 5: nx = oy; ny = ox; break;
    case 6: nx = -ox; ny = oy; break;
    case 7: nx = -oy; ny = -ox; break;
    default: nx = -ox; ny = -oy; break;  // 0 and codes above 7
  }
  x = Fit(nx);
  y = Fit(ny);
  orientation = code;
}

void Trans::TransformBox(Box& box) const {
  if (box.x1 > box.x2 || box.y1 > box.y2) return;
  int32_t ax = box.x1, ay = box.y1, bx = box.x2, by = box.y2;
  Apply(ax, ay);
  Apply(bx, by);
  box = Box(ax < bx ? ax : bx, ay < by ? ay : by, ax < bx ? bx : ax,
            ay < by ? by : ay);
}

Trans Trans::Compose(const Trans& inner, const Trans& outer) {
  Trans t = inner;
  outer.Apply(t.x, t.y);
  uint8_t c = inner.orientation < 8 ? inner.orientation : 0;
  uint8_t p = outer.orientation < 8 ? outer.orientation : 0;
  t.orientation = OrientationProduct[c][p];
  if (outer.Magnified()) t.mag = float(double(inner.mag) * double(outer.mag));
  return t;
}

Box SRef::GetBox(const Box& childBox) const {
  if (childBox.x1 > childBox.x2 || childBox.y1 > childBox.y2) return Box();
  Box b = childBox;
  TransformBox(b);
  return b;
}

int SRef::Compare(const SRef* a, const SRef* b) {
  if (int c = Cmp(a->cellId, b->cellId)) return c;
  if (int c = Cmp(a->x, b->x)) return c;
  if (int c = Cmp(a->y, b->y)) return c;
  if (int c = Cmp(a->orientation, b->orientation)) return c;
  if (a->IsArray()) {
    const ARef* aa = static_cast<const ARef*>(a);
    const ARef* ab = static_cast<const ARef*>(b);
    if (int c = Cmp(aa->columns, ab->columns)) return c;
    if (int c = Cmp(aa->rows, ab->rows)) return c;
    if (int c = Cmp(aa->columnPitch, ab->columnPitch)) return c;
    if (int c = Cmp(aa->rowPitch, ab->rowPitch)) return c;
  }
  return Cmp(FloatKey(a->mag), FloatKey(b->mag));
}

int SRef::CompareIndirect(const SListNode* a, const SListNode* b) {
  return Compare(a->Item<const SRef>(), b->Item<const SRef>());
}

Trans ARef::ElementTrans(int32_t column, int32_t row) const {
  Trans t = *this;
  int64_t c = column, r = row;
  if (orientation < 8 && (orientation & 1)) std::swap(c, r);
  t.x = Fit(int64_t(x) + c * columnPitch);
  t.y = Fit(int64_t(y) + r * rowPitch);
  return t;
}

Box ARef::GetBox(const Box& childBox) const {
  Box b = SRef::GetBox(childBox);
  if (!IsArray() || b.x1 > b.x2 || b.y1 > b.y2) return b;
  int32_t lastColumn = columns > 1 ? columns - 1 : 0;
  int32_t lastRow = rows > 1 ? rows - 1 : 0;
  Trans far = ElementTrans(lastColumn, lastRow);
  int32_t ax = childBox.x1, ay = childBox.y1, bx = childBox.x2,
          by = childBox.y2;
  far.Apply(ax, ay);
  far.Apply(bx, by);
  b.Extend(ax, ay);
  b.Extend(bx, by);
  return b;
}

}  // namespace velmar
