// A vector that owns the objects its slots point at: slot i holds an object
// or null (a free slot). Reading a slot gives the plain pointer, as the
// tables of a library are read everywhere; only the owner's operations add,
// free or drop objects. Destroying the vector deletes every object it holds.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace velmar {

template <typename T>
class OwnedVector {
  using Slots = std::vector<std::unique_ptr<T>>;

 public:
  // Iterates the slots in order, giving each as a plain pointer (null for a
  // free slot).
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = T*;

    const_iterator() = default;
    explicit const_iterator(typename Slots::const_iterator it) : it_(it) {}
    T* operator*() const { return it_->get(); }
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++it_;
      return old;
    }
    bool operator==(const const_iterator& o) const { return it_ == o.it_; }
    bool operator!=(const const_iterator& o) const { return it_ != o.it_; }

   private:
    typename Slots::const_iterator it_;
  };
  using iterator = const_iterator;

  OwnedVector() = default;
  OwnedVector(const OwnedVector&) = delete;
  OwnedVector& operator=(const OwnedVector&) = delete;

  // The object in slot i, or null.
  T* operator[](size_t i) const { return slots_[i].get(); }
  T* back() const { return slots_.back().get(); }
  size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  size_t capacity() const { return slots_.capacity(); }
  void reserve(size_t n) { slots_.reserve(n); }
  const_iterator begin() const { return const_iterator(slots_.begin()); }
  const_iterator end() const { return const_iterator(slots_.end()); }

  // Appends object (null: a free slot) as the last slot; returns it.
  T* push_back(std::unique_ptr<T> object) {
    slots_.push_back(std::move(object));
    return slots_.back().get();
  }
  // Deletes the object of slot i; the slot becomes free.
  void Free(size_t i) { slots_[i].reset(); }
  // Deletes the objects of the slots from n on and drops those slots.
  void Truncate(size_t n) {
    if (n < slots_.size()) slots_.resize(n);
  }
  // Deletes every object and drops every slot.
  void clear() { slots_.clear(); }

 private:
  Slots slots_;
};

}  // namespace velmar
