// Clamping to the int32 coordinate range and rounding half away from zero:
// the readers, the geometry engine, the hierarchy walk and the working-area
// frame share these.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>

namespace velmar {

// v held to [INT32_MIN, INT32_MAX].
constexpr int32_t ClampToInt32(int64_t v) {
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return int32_t(v);
}

// v held to the int32 range and truncated towards zero (round first);
// NaN gives INT32_MIN.
inline int32_t ClampToInt32(long double v) {
  if (!(v > (long double)INT32_MIN)) return INT32_MIN;
  if (!(v < (long double)INT32_MAX)) return INT32_MAX;
  return int32_t(v);
}

// Half away from zero, in the argument's own precision: a negative v becomes
// -floor(0.5 - v), any other floor(v + 0.5). Points along and beside a
// segment, feet of projections, distances, angles and unit conversions use it.
template <std::floating_point Real>
Real RoundHalfAway(Real v) {
  return v < 0 ? -std::floor(Real(0.5) - v) : std::floor(v + Real(0.5));
}

}  // namespace velmar
