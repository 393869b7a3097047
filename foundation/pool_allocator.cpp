// Fixed-size element pools and the out-of-memory failure.

#include "foundation/pool_allocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/error.h"

namespace velmar {

void OutOfMemory() {
  PrintMessage("Error: Out of memory\n");
  std::fputs("Error: Out of memory\n", stderr);
  std::fflush(stderr);
  std::exit(1);
}

void PoolAllocator::Init(int32_t elementSize, int32_t elementsPerBlock) {
  ReleaseAll();
  elementSize_ = elementSize;
  elementsPerBlock_ = elementsPerBlock;
}

void* PoolAllocator::Allocate() {
  if (table_ == nullptr) {
    table_ = static_cast<char**>(std::calloc(kInitialTableSize, sizeof(char*)));
    if (table_ == nullptr) OutOfMemory();
    capacity_ = kInitialTableSize;
  } else if (int64_t(lastIndex_) + 1 ==
             int64_t(capacity_) * elementsPerBlock_) {
    // Every entry of the table is in use: double it. Existing blocks stay
    // where they are, so element addresses do not change.
    if (capacity_ > INT32_MAX / 2) OutOfMemory();
    const int32_t grown = capacity_ * 2;
    char** table =
        static_cast<char**>(std::realloc(table_, sizeof(char*) * grown));
    if (table == nullptr) OutOfMemory();
    std::memset(table + capacity_, 0, sizeof(char*) * (grown - capacity_));
    table_ = table;
    capacity_ = grown;
  }
  // Element indices are int32: running past them is exhausted memory too.
  if (lastIndex_ == INT32_MAX) OutOfMemory();
  ++lastIndex_;
  const int32_t block = lastIndex_ / elementsPerBlock_;
  const std::size_t offset =
      std::size_t(lastIndex_ % elementsPerBlock_) * std::size_t(elementSize_);
  if (table_[block] != nullptr) return table_[block] + offset;
  char* storage = static_cast<char*>(
      std::malloc(std::size_t(elementsPerBlock_) * std::size_t(elementSize_)));
  if (storage == nullptr) OutOfMemory();
  table_[block] = storage;
  ++blocksAllocated_;
  return storage;  // offset is 0 in a new block
}

void* PoolAllocator::Release(void* element) {
  if (lastIndex_ < 0) return nullptr;  // caller error: nothing in use
  // When the last element in use starts its block, that block becomes the
  // spare: free the one after it so that at most one spare block remains.
  if (lastIndex_ % elementsPerBlock_ == 0) {
    const int32_t next = lastIndex_ / elementsPerBlock_ + 1;
    if (next < capacity_ && table_[next] != nullptr) {
      std::free(table_[next]);
      table_[next] = nullptr;
      --blocksAllocated_;
    }
  }
  if (lastIndex_ == 0) {
    lastIndex_ = -1;
    return nullptr;
  }
  char* last = static_cast<char*>(ElementAt(lastIndex_));
  --lastIndex_;
  if (element == last) return nullptr;
  std::memcpy(element, last, std::size_t(elementSize_));
  return last;
}

void PoolAllocator::ReleaseAll() {
  if (table_ != nullptr) {
    for (int32_t i = 0; i < capacity_; ++i) {
      std::free(table_[i]);
    }
    std::free(table_);
  }
  table_ = nullptr;
  capacity_ = 0;
  blocksAllocated_ = 0;
  lastIndex_ = -1;
}

int64_t PoolAllocator::BytesHeld() const {
  return int64_t(elementsPerBlock_) * blocksAllocated_ * elementSize_;
}

int64_t PoolAllocator::BytesInUse() const {
  if (lastIndex_ < 0) return 0;
  return (int64_t(lastIndex_ / elementsPerBlock_) + 1) * elementsPerBlock_ *
         elementSize_;
}

void* PoolAllocator::ElementAt(int32_t i) const {
  return table_[i / elementsPerBlock_] +
         std::size_t(i % elementsPerBlock_) * std::size_t(elementSize_);
}

int32_t ReportPoolMemory(const PoolAllocator& pool, const char* moduleName,
                         bool quiet) {
  const int64_t kilobytes = pool.BytesHeld() / 1024;
  if (kilobytes >= 1 && !quiet)
    PrintMessage("%d kbytes allocated for %s\n", static_cast<int>(kilobytes),
                 moduleName);
  return static_cast<int32_t>(kilobytes);
}

}  // namespace velmar
