// The radix sort by packed keys against a comparison sort: keys of every
// width up to 128 bits, few and many distinct values (digits that all
// records of a range share are skipped), ranges above and below the size
// that a comparison sort finishes. The sort is not stable: the result is
// checked as the sorted sequence of keys and as a permutation of the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/radix_sort.h"

namespace velmar {
namespace {

struct Record {
  uint64_t hi, lo;  // the key: hi above lo
  uint32_t order;   // input position
};

RadixKey KeyOf(const Record& r) { return (RadixKey(r.hi) << 64) | r.lo; }

TEST(RadixSort, EqualsAComparisonSortForEveryKeyWidth) {
  std::mt19937_64 rng(77);
  for (int bits : {1, 5, 11, 12, 22, 23, 63, 64, 65, 100, 127, 128}) {
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(500), size_t(2047), size_t(2048),
                     size_t(20000), size_t(150000)}) {
      for (uint64_t distinct : {uint64_t(3), uint64_t(0)}) {  // 0: any value
        SCOPED_TRACE(::testing::Message() << bits << " bits, " << n << " records, " << distinct);
        const RadixKey mask = bits == 128 ? ~RadixKey(0) : (RadixKey(1) << bits) - 1;
        std::vector<RadixKey> values;
        for (uint64_t i = 0; i < distinct; ++i) values.push_back(((RadixKey(rng()) << 64) | rng()) & mask);
        std::vector<Record> v(n);
        for (size_t i = 0; i < n; ++i) {
          RadixKey k = distinct ? values[rng() % distinct] : ((RadixKey(rng()) << 64) | rng()) & mask;
          // Keys differing only in their top digit or only in their lowest bit.
          if (i % 7 == 0) k &= ~(mask >> 1);
          if (i % 11 == 0) k = (k | 1) & mask;
          // Bits above the key's width are not part of it.
          if (bits < 128) k |= ((RadixKey(rng()) << 64) | rng()) << bits;
          v[i] = Record{uint64_t(k >> 64), uint64_t(k), uint32_t(i)};
        }
        auto keyOf = [&](const Record& r) { return KeyOf(r) & mask; };
        auto byKeyThenOrder = [&](const Record& a, const Record& b) {
          return keyOf(a) != keyOf(b) ? keyOf(a) < keyOf(b) : a.order < b.order;
        };
        std::vector<Record> expected = v;
        std::sort(expected.begin(), expected.end(), byKeyThenOrder);
        RadixSortByKey(v.data(), n, bits, KeyOf);
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(keyOf(v[i]), keyOf(expected[i])) << "at " << i;
        std::sort(v.begin(), v.end(), byKeyThenOrder);  // the same records
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(v[i].order, expected[i].order) << "at " << i;
      }
    }
  }
}

// Only the low keyBits bits order the records: higher bits are ignored,
// in the comparison sort of small ranges as in the digit passes.
TEST(RadixSort, ReadsOnlyTheKeyBitsGiven) {
  std::vector<Record> v = {{5, 3, 0}, {0, 1, 1}, {9, 2, 2}, {1, 0, 3}};
  RadixSortByKey(v.data(), v.size(), 64, KeyOf);
  std::vector<uint32_t> order;
  for (const Record& r : v) order.push_back(r.order);
  EXPECT_EQ(order, (std::vector<uint32_t>{3, 1, 2, 0}));
}

}  // namespace
}  // namespace velmar
