// Scratch arrays of plain records that live for one operation (sort keys of
// a point list, work records of a sweep): one uninitialised allocation,
// grown by doubling. Arrays of a megabyte and more are aligned to 2 MiB and
// offered to the kernel for huge pages, so that filling tens of megabytes
// takes a few page faults instead of thousands; where huge pages are not
// available they are ordinary pages.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "foundation/pool_allocator.h"

namespace velmar {

template <typename T>
class ScratchArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "ScratchArray holds plain records");

 public:
  ScratchArray() = default;
  explicit ScratchArray(size_t capacity) { Reserve(capacity); }
  ~ScratchArray() { std::free(data_); }
  ScratchArray(const ScratchArray&) = delete;
  ScratchArray& operator=(const ScratchArray&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  void push_back(const T& t) {
    if (size_ == capacity_) Reserve(capacity_ < 1024 ? 1024 : 2 * capacity_);
    data_[size_++] = t;
  }
  size_t capacity() const { return capacity_; }
  // Size 0; the storage stays for the next use.
  void clear() { size_ = 0; }
  // Size 0 and the storage given back.
  void Release() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }
  // Sets the size without initialising new records.
  void resize_uninitialised(size_t n) {
    if (n > capacity_) Reserve(n);
    size_ = n;
  }
  void Reserve(size_t capacity) {
    if (capacity <= capacity_) return;
    constexpr size_t kHuge = size_t(2) << 20;
    size_t bytes = capacity * sizeof(T);
    void* p;
    if (bytes >= (size_t(1) << 20)) {
      bytes = (bytes + kHuge - 1) & ~(kHuge - 1);
      p = std::aligned_alloc(kHuge, bytes);
#ifdef MADV_HUGEPAGE
      if (p) madvise(p, bytes, MADV_HUGEPAGE);
#endif
      capacity = bytes / sizeof(T);
    } else {
      p = std::malloc(bytes);
    }
    if (!p) OutOfMemory();
    if (size_) std::memcpy(p, data_, size_ * sizeof(T));
    std::free(data_);
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace velmar
