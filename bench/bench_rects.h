// The random rectangles of the geometry benchmarks: sides 100 to 5000 units
// in a 2,000,000-unit square, fixed seed. The first 100,000 are the first
// layer of boolean_bench, the next 100,000 its second.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "foundation/box.h"

namespace velmar::bench {

inline std::vector<Box> RandomRects(int count) {
  std::mt19937_64 rng(0x5eed2024);
  std::uniform_int_distribution<int32_t> side(100, 5000);
  std::uniform_int_distribution<int32_t> pos(0, 2000000);
  std::vector<Box> r;
  r.reserve(size_t(count));
  for (int i = 0; i < count; ++i) {
    const int32_t w = side(rng), h = side(rng);
    const int32_t x = pos(rng) % (2000000 - w), y = pos(rng) % (2000000 - h);
    r.emplace_back(x, y, x + w, y + h);
  }
  return r;
}

}  // namespace velmar::bench
