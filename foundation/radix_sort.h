// Radix sort of plain records by an unsigned key of up to 128 bits, for
// arrays of millions of records whose comparison sort would cost a log
// factor of key comparisons (the rectangles of a flat cell, say). The
// caller packs its order into the key.
//
// The sort works in place, most significant digit first: fresh scratch
// memory the size of the array costs more in page faults than the sort
// saves. Digits are 11 bits wide; a digit that every record of a range
// shares moves nothing and is skipped; ranges of fewer records than a
// digit has buckets are finished by a comparison sort. The sort is not
// stable: records with equal keys must be interchangeable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmar {

using RadixKey = unsigned __int128;

namespace radix_detail {

constexpr int kDigitBits = 11;
constexpr size_t kBuckets = size_t(1) << kDigitBits;

// Sorts data[0, n), whose keys agree above bit `high`, by the bits below
// it. `work` holds two arrays of kBuckets counts for each digit below.
template <class T, class KeyFn, class Less>
void SortRange(T* data, size_t n, int high, size_t* work, KeyFn& key, Less& less) {
  for (;;) {
    if (n < kBuckets) {
      std::sort(data, data + n, less);
      return;
    }
    if (high <= 0) return;  // every key equal
    const int bits = std::min(high, kDigitBits);
    const int shift = high - bits;
    high = shift;
    const size_t buckets = size_t(1) << bits;
    auto digit = [&](const T& r) { return size_t(key(r) >> shift) & (buckets - 1); };
    size_t* end = work;
    size_t* next = work + kBuckets;
    std::fill(end, end + buckets, size_t(0));
    for (size_t i = 0; i < n; ++i) ++end[digit(data[i])];
    if (end[digit(data[0])] == n) continue;  // one bucket: the next digit
    size_t sum = 0;
    for (size_t b = 0; b < buckets; ++b) {
      next[b] = sum;
      sum += end[b];
      end[b] = sum;
    }
    // Each record goes straight to the next free place of its bucket; the
    // one found there travels on until a record of this bucket comes back.
    for (size_t b = 0; b < buckets; ++b) {
      while (next[b] < end[b]) {
        T v = data[next[b]];
        for (size_t d = digit(v); d != b; d = digit(v)) std::swap(v, data[next[d]++]);
        data[next[b]++] = v;
      }
    }
    size_t start = 0;
    for (size_t b = 0; b < buckets; ++b) {
      if (end[b] - start > 1) SortRange(data + start, end[b] - start, high, work + 2 * kBuckets, key, less);
      start = end[b];
    }
    return;
  }
}

}  // namespace radix_detail

// Sorts data[0, n) by key(record), ascending, in place. Only the low
// keyBits bits of the keys are read (at most 128). `less` orders records
// as their keys do; it finishes the small ranges, where it is cheaper to
// evaluate than two keys.
template <class T, class KeyFn, class Less>
void RadixSortByKey(T* data, size_t n, int keyBits, KeyFn key, Less less) {
  using namespace radix_detail;
  keyBits = std::min(keyBits, 128);
  if (n < 2 || keyBits <= 0) return;
  const int digits = (keyBits + kDigitBits - 1) / kDigitBits;
  std::vector<size_t> work(size_t(digits) * 2 * kBuckets);
  SortRange(data, n, keyBits, work.data(), key, less);
}

// The same, with the keys themselves ordering the small ranges.
template <class T, class KeyFn>
void RadixSortByKey(T* data, size_t n, int keyBits, KeyFn key) {
  keyBits = std::min(keyBits, 128);
  const RadixKey mask = keyBits >= 128 ? ~RadixKey(0) : (RadixKey(1) << std::max(keyBits, 0)) - 1;
  RadixSortByKey(data, n, keyBits, key, [&](const T& a, const T& b) { return (key(a) & mask) < (key(b) & mask); });
}

}  // namespace velmar
