// Fixed-size element pools.
//
// Every container that holds many small records of one kind (vertices,
// search-tree nodes, list and heap nodes, shape and placement nodes) takes
// them from a PoolAllocator: raw storage that grows in large blocks and never
// gives single elements back to the heap.
//
// A pooled module keeps its pool and its free list in one ElementPool
// (foundation/node_pool.h).
#pragma once

#include <cstdint>

namespace velmar {

// The process's allocation-failure path (also installed as the memory
// new-handler by the command layer): prints "Error: Out of memory\n" through
// PrintMessage and on standard error, then ends the process with status 1.
[[noreturn]] void OutOfMemory();

class PoolAllocator {
 public:
  // Elements of the first block table.
  static constexpr int32_t kInitialTableSize = 512;

  constexpr PoolAllocator() = default;
  // Same as Init: an empty pool that allocates nothing before its first use.
  constexpr PoolAllocator(int32_t elementSize, int32_t elementsPerBlock)
      : elementsPerBlock_(elementsPerBlock), elementSize_(elementSize) {}
  ~PoolAllocator() { ReleaseAll(); }
  PoolAllocator(const PoolAllocator&) = delete;
  PoolAllocator& operator=(const PoolAllocator&) = delete;

  // Empty pool with the given sizes. Call only on a pool that holds nothing.
  void Init(int32_t elementSize, int32_t elementsPerBlock);

  // The element after the last one in use (uninitialised storage). Never
  // null: exhausted memory ends the process (OutOfMemory).
  void* Allocate();

  // Gives back one element in use by moving the last element in use into its
  // place. Returns the former address of the moved element (the caller must
  // re-point every link to it), or null when nothing moved (element was the
  // last one, or the only one). Keeps at most one spare block beyond the last
  // element in use. The pool must not be empty.
  void* Release(void* element);

  // Frees every block and the table; sizes stay. A no-op on an empty pool.
  void ReleaseAll();

  // elements per block x blocks allocated x element size.
  int64_t BytesHeld() const;
  // Bytes of the blocks that hold elements in use (0 when empty).
  int64_t BytesInUse() const;
  // Address of element i (0 <= i <= LastIndex()).
  void* ElementAt(int32_t i) const;

  int32_t TableCapacity() const { return capacity_; }
  int32_t BlocksAllocated() const { return blocksAllocated_; }
  int32_t LastIndex() const { return lastIndex_; }
  int32_t ElementsPerBlock() const { return elementsPerBlock_; }
  int32_t ElementSize() const { return elementSize_; }

 private:
  char** table_ = nullptr;       // block pointers; null where no block exists
  int32_t capacity_ = 0;         // entries of table_
  int32_t blocksAllocated_ = 0;  // blocks that exist (contiguous from 0)
  int32_t lastIndex_ = -1;       // last element in use; -1 when empty
  int32_t elementsPerBlock_ = 0;
  int32_t elementSize_ = 0;
};

// Report of a pooled module: kilobytes = BytesHeld / 1024; unless quiet,
// prints "%d kbytes allocated for <moduleName>\n" through PrintMessage when
// the kilobytes are at least 1. Returns the kilobytes in any case.
int32_t ReportPoolMemory(const PoolAllocator& pool, const char* moduleName,
                         bool quiet);

}  // namespace velmar
