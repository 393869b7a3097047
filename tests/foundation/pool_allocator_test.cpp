// Element pools: growth, table doubling, release by compaction, reports.

#include "foundation/pool_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

struct Element {
  int64_t id;
  int64_t payload;
};

constexpr int32_t kPerBlock = 4;

// Allocates n elements, stamping each with its index.
std::vector<Element*> Fill(PoolAllocator& pool, int n) {
  std::vector<Element*> out;
  for (int i = 0; i < n; ++i) {
    auto* e = static_cast<Element*>(pool.Allocate());
    e->id = i;
    e->payload = 1000 + i;
    out.push_back(e);
  }
  return out;
}

TEST(PoolAllocatorTest, FirstAllocationCreatesTableAndOneBlock) {
  PoolAllocator pool(sizeof(Element), kPerBlock);
  EXPECT_EQ(pool.TableCapacity(), 0);
  EXPECT_EQ(pool.BytesHeld(), 0);
  EXPECT_EQ(pool.BytesInUse(), 0);

  void* first = pool.Allocate();
  EXPECT_EQ(pool.TableCapacity(), 512);
  EXPECT_EQ(pool.BlocksAllocated(), 1);
  EXPECT_EQ(pool.LastIndex(), 0);
  EXPECT_EQ(first, pool.ElementAt(0));
  EXPECT_EQ(pool.BytesHeld(), int64_t(kPerBlock) * int64_t(sizeof(Element)));

  // Elements of one block are adjacent; the next block starts anew.
  auto elems = Fill(pool, kPerBlock);
  EXPECT_EQ(reinterpret_cast<char*>(elems[0]) - static_cast<char*>(first),
            std::ptrdiff_t(sizeof(Element)));
  EXPECT_EQ(pool.BlocksAllocated(), 2);
  EXPECT_EQ(pool.BytesInUse(), 2 * kPerBlock * int64_t(sizeof(Element)));
}

TEST(PoolAllocatorTest, TableDoublingKeepsEveryAddress) {
  PoolAllocator pool(sizeof(Element), kPerBlock);
  const int fitting = 512 * kPerBlock;
  auto elems = Fill(pool, fitting);
  EXPECT_EQ(pool.TableCapacity(), 512);
  EXPECT_EQ(pool.BlocksAllocated(), 512);

  auto* extra = static_cast<Element*>(pool.Allocate());
  extra->id = fitting;
  EXPECT_EQ(pool.TableCapacity(), 1024);
  EXPECT_EQ(pool.BlocksAllocated(), 513);
  for (int i = 0; i < fitting; ++i) {
    ASSERT_EQ(pool.ElementAt(i), elems[i]) << i;
    ASSERT_EQ(elems[i]->id, i);
  }
  EXPECT_EQ(pool.ElementAt(fitting), extra);
}

TEST(PoolAllocatorTest, ReleaseMovesTheLastElementIntoTheGap) {
  PoolAllocator pool(sizeof(Element), kPerBlock);
  auto only = Fill(pool, 1);
  EXPECT_EQ(pool.Release(only[0]), nullptr);
  EXPECT_EQ(pool.LastIndex(), -1);

  auto elems = Fill(pool, 6);  // reuses the storage of the empty pool
  EXPECT_EQ(elems[0], only[0]);
  // Releasing the last element moves nothing.
  EXPECT_EQ(pool.Release(elems[5]), nullptr);
  EXPECT_EQ(pool.LastIndex(), 4);
  // Releasing another one moves the last element (id 4) into its slot.
  void* moved = pool.Release(elems[1]);
  EXPECT_EQ(moved, elems[4]);
  EXPECT_EQ(elems[1]->id, 4);
  EXPECT_EQ(elems[1]->payload, 1004);
  EXPECT_EQ(pool.LastIndex(), 3);
  // The elements in use are still 0..last index.
  EXPECT_EQ(static_cast<Element*>(pool.ElementAt(3))->id, 3);
}

TEST(PoolAllocatorTest, ReleaseKeepsAtMostOneSpareBlock) {
  PoolAllocator pool(sizeof(Element), kPerBlock);
  auto elems = Fill(pool, 2 * kPerBlock + 1);  // blocks 0, 1 and 2
  ASSERT_EQ(pool.BlocksAllocated(), 3);
  std::vector<int32_t> blocksAfter;
  for (int i = 2 * kPerBlock; i >= 0; --i) {
    EXPECT_EQ(pool.Release(elems[i]), nullptr);  // always the last one
    blocksAfter.push_back(pool.BlocksAllocated());
  }
  // The last element of block 2 leaves it spare; releasing the first
  // element of block 1 frees block 2; the same for block 1 at element 0.
  const std::vector<int32_t> expected = {3, 3, 3, 3, 2, 2, 2, 2, 1};
  EXPECT_EQ(blocksAfter, expected);
  EXPECT_EQ(pool.LastIndex(), -1);
  EXPECT_EQ(pool.BytesInUse(), 0);
  EXPECT_EQ(pool.BytesHeld(), kPerBlock * int64_t(sizeof(Element)));
}

TEST(PoolAllocatorTest, ReleaseAllIsRepeatableAndKeepsSizes) {
  PoolAllocator never(sizeof(Element), kPerBlock);
  never.ReleaseAll();
  EXPECT_EQ(never.TableCapacity(), 0);
  EXPECT_EQ(never.LastIndex(), -1);

  PoolAllocator pool;
  pool.Init(sizeof(Element), kPerBlock);
  Fill(pool, 3 * kPerBlock);
  pool.ReleaseAll();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(pool.TableCapacity(), 0);
    EXPECT_EQ(pool.BlocksAllocated(), 0);
    EXPECT_EQ(pool.LastIndex(), -1);
    EXPECT_EQ(pool.BytesHeld(), 0);
    EXPECT_EQ(pool.ElementSize(), int32_t(sizeof(Element)));
    EXPECT_EQ(pool.ElementsPerBlock(), kPerBlock);
    pool.ReleaseAll();
  }
  // Usable again from scratch.
  Fill(pool, 1);
  EXPECT_EQ(pool.TableCapacity(), 512);
  EXPECT_EQ(pool.BlocksAllocated(), 1);
}

TEST(PoolAllocatorTest, ReportPrintsKilobytesOnlyFromOneUpAndUnlessQuiet) {
  PoolAllocator small(sizeof(Element), kPerBlock);  // 64 bytes per block
  Fill(small, 1);
  PoolAllocator big(sizeof(Element), 200);  // 3200 bytes per block
  Fill(big, 201);

  test::StdoutCapture out;
  EXPECT_EQ(ReportPoolMemory(small, "Small", false), 0);
  EXPECT_EQ(ReportPoolMemory(big, "Big", true), 6400 / 1024);
  EXPECT_EQ(ReportPoolMemory(big, "Big", false), 6400 / 1024);
  EXPECT_EQ(out.Stop(), "6 kbytes allocated for Big\n");
}

TEST(PoolAllocatorDeathTest, ExhaustedMemoryEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer refuses huge blocks by aborting";
#else
  // One block of 2^60 bytes cannot be had: the pool never returns null.
  PoolAllocator pool(1 << 30, 1 << 30);
  EXPECT_EXIT(pool.Allocate(), ::testing::ExitedWithCode(1),
              "^Error: Out of memory\n$");
#endif
}

}  // namespace
}  // namespace velmar
