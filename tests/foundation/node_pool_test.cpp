// The pool and free list of a pooled module: reuse order, splicing a chain
// in one step, clearing lists and trees, reset, disposal and the report.

#include "foundation/node_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace velmar {
namespace {

// A record of a list with a tail and of a binary tree at once.
struct Rec {
  Rec* link;   // list link; the left child in a tree
  Rec* right;
  void* item;
  int64_t value;
};

struct RecList {
  Rec* head = nullptr;
  Rec* tail = nullptr;
  int32_t count = 0;
  int32_t words[2] = {0, 0};  // further header words a clear must zero
};

struct RecTree {
  int32_t count = 0;
  Rec* root = nullptr;
  bool unique = false;  // a tree's kind: clearing keeps it
};

using ListPool = ElementPool<&RecList::head, &Rec::link, &RecList::tail>;
using TreePool = ElementPool<&RecTree::root, &Rec::link>;

constexpr int32_t kPerBlock = 8;

// A module's pool is built before main.
constinit ListPool StaticPool("Static", kPerBlock);

// Appends n new records (values 0 .. n-1) to list.
std::vector<Rec*> Append(ListPool& pool, RecList& list, int n) {
  std::vector<Rec*> out;
  for (int i = 0; i < n; ++i) {
    Rec* r = pool.New();
    *r = Rec{nullptr, nullptr, nullptr, i};
    (list.tail != nullptr ? list.tail->link : list.head) = r;
    list.tail = r;
    ++list.count;
    out.push_back(r);
  }
  return out;
}

TEST(ElementPoolTest, NewTakesTheMostRecentlyFreedRecordElseANewElement) {
  ListPool pool("Test", kPerBlock);
  Rec* a = pool.New();
  Rec* b = pool.New();
  Rec* c = pool.New();
  EXPECT_EQ(pool.LastIndex(), 2);
  pool.Free(a);
  pool.Free(c);
  EXPECT_EQ(pool.FreeList().head, c);
  EXPECT_EQ(pool.New(), c);
  EXPECT_EQ(pool.New(), a);
  EXPECT_EQ(pool.LastIndex(), 2);  // both came from the free list
  Rec* d = pool.New();
  EXPECT_EQ(pool.LastIndex(), 3);
  EXPECT_TRUE(d != a && d != b && d != c);
}

TEST(ElementPoolTest, ClearSplicesTheWholeChainAndZeroesTheHeader) {
  ListPool pool("Test", kPerBlock);
  RecList list;
  std::vector<Rec*> recs = Append(pool, list, 20);  // three blocks
  Rec* spare = pool.New();
  pool.Free(spare);
  list.words[0] = 7;
  list.words[1] = 9;

  pool.Clear(list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.words[0], 0);
  EXPECT_EQ(list.words[1], 0);
  // The list's chain went in front of what was free, head first.
  for (Rec* r : recs) EXPECT_EQ(pool.New(), r);
  EXPECT_EQ(pool.New(), spare);
  EXPECT_EQ(pool.LastIndex(), 20);  // nothing new was allocated

  RecList empty;
  empty.words[0] = 5;
  pool.Clear(empty);  // only the header changes
  EXPECT_EQ(empty.words[0], 0);
  EXPECT_EQ(pool.FreeList().head, nullptr);
}

TEST(ElementPoolTest, SpliceLinksOnlyTheLastRecordOfTheChain) {
  ListPool pool("Test", kPerBlock);
  Rec* r[3] = {pool.New(), pool.New(), pool.New()};
  Rec* kept = pool.New();
  pool.Free(kept);
  r[0]->link = r[1];
  r[1]->link = r[2];
  r[2]->link = nullptr;
  pool.Splice(r[0], r[2]);
  EXPECT_EQ(r[0]->link, r[1]);
  EXPECT_EQ(r[1]->link, r[2]);
  EXPECT_EQ(r[2]->link, kept);
  EXPECT_EQ(pool.FreeList().head, r[0]);
}

TEST(ElementPoolTest, ClearingTheFreeListResetsThePool) {
  ListPool pool("Test", kPerBlock);
  RecList list;
  Append(pool, list, 3 * kPerBlock + 1);
  pool.Clear(list);
  EXPECT_EQ(pool.Allocator().BlocksAllocated(), 4);

  pool.Clear(pool.FreeList());
  EXPECT_EQ(pool.FreeList().head, nullptr);
  EXPECT_EQ(pool.Allocator().BlocksAllocated(), 0);
  EXPECT_EQ(pool.LastIndex(), -1);
  EXPECT_EQ(pool.Report(true), 0);
  // The pool is usable again after a reset.
  EXPECT_NE(pool.New(), nullptr);
  EXPECT_EQ(pool.LastIndex(), 0);
}

TEST(ElementPoolTest, ResetDisposesOfEveryElementOnceWhenAsked) {
  static std::vector<int64_t> disposed;
  disposed.clear();
  {
    ListPool pool("Test", kPerBlock,
                  [](Rec& r) { disposed.push_back(r.value); });
    RecList list;
    Append(pool, list, 10);
    pool.Reset();
    EXPECT_EQ(disposed.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(disposed[i], i);
    disposed.clear();
    Append(pool, list = RecList{}, 3);
  }  // going out of scope (process exit for a module's pool) resets too
  EXPECT_EQ(disposed, (std::vector<int64_t>{0, 1, 2}));
}

TEST(ElementPoolTest, ReportGivesTheKilobytesHeldAndPrintsTheModulesLine) {
  // Blocks of 100 records of 32 bytes: 3200 bytes a block.
  ListPool pool("Test Module", 100);
  static_assert(sizeof(Rec) == 32);
  test::StdoutCapture out;
  EXPECT_EQ(pool.Report(false), 0);  // nothing held: no line
  RecList list;
  Append(pool, list, 1);
  EXPECT_EQ(pool.Report(false), 3);  // 3200 / 1024: held, not used
  Append(pool, list, 200);           // 201 records: three blocks
  EXPECT_EQ(pool.Report(true), 9600 / 1024);
  EXPECT_EQ(pool.Report(false), 9);
  EXPECT_EQ(out.Stop(),
            "3 kbytes allocated for Test Module\n"
            "9 kbytes allocated for Test Module\n");
}

TEST(ElementPoolTest, AConstantInitialisedPoolWorksLikeAnyOther) {
  RecList list;
  std::vector<Rec*> recs = Append(StaticPool, list, 3);
  StaticPool.Clear(list);
  EXPECT_EQ(StaticPool.New(), recs[0]);
  StaticPool.Reset();
  EXPECT_EQ(StaticPool.Report(true), 0);
}

// A tree of records: node(value, left, right).
Rec* Node(TreePool& pool, int64_t value, Rec* left, Rec* right) {
  Rec* r = pool.New();
  r->link = left;
  r->right = right;
  r->item = &r->value;
  r->value = value;
  return r;
}

TEST(ElementPoolTest, ClearTreeFreesInPostOrderAndKeepsTheTreesKind) {
  TreePool pool("Tree", kPerBlock);
  //        4
  //      2   6
  //     1 3   7
  Rec* n1 = Node(pool, 1, nullptr, nullptr);
  Rec* n3 = Node(pool, 3, nullptr, nullptr);
  Rec* n7 = Node(pool, 7, nullptr, nullptr);
  Rec* n2 = Node(pool, 2, n1, n3);
  Rec* n6 = Node(pool, 6, nullptr, n7);
  Rec* n4 = Node(pool, 4, n2, n6);
  RecTree tree{6, n4, true};

  pool.ClearTree<&Rec::right>(tree);
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_EQ(tree.count, 0);
  EXPECT_TRUE(tree.unique);
  // Post-order 1 3 2 7 6 4: the free list hands them back last first.
  for (Rec* r : {n4, n6, n7, n2, n3, n1}) {
    EXPECT_EQ(r->item, nullptr) << r->value;
    EXPECT_EQ(pool.New(), r) << r->value;
  }
  EXPECT_EQ(pool.LastIndex(), 5);

  pool.ClearTree<&Rec::right>(pool.FreeList());  // a reset
  EXPECT_EQ(pool.Allocator().BlocksAllocated(), 0);
}

TEST(ElementPoolTest, FreeTreeHandlesADegenerateTreeOfAnyDepth) {
  TreePool pool("Tree", 50000);
  // A spine of a million nodes, alternating sides: a recursive walk would
  // overflow the stack.
  constexpr int kDepth = 1000000;
  Rec* root = nullptr;
  for (int i = 0; i < kDepth; ++i)
    root = i % 2 == 0 ? Node(pool, i, root, nullptr)
                      : Node(pool, i, nullptr, root);
  pool.FreeTree<&Rec::right>(root);
  int freed = 0;
  for (Rec* r = pool.FreeList().root; r != nullptr; r = r->link) ++freed;
  EXPECT_EQ(freed, kDepth);
  EXPECT_EQ(pool.FreeList().root, root);  // the root goes last
}

TEST(TypedPoolTest, ReleaseCompactsAndReturnsTheMovedElement) {
  TypedPool<Rec> pool("Typed", kPerBlock);
  Rec* a = pool.Allocate();
  Rec* b = pool.Allocate();
  Rec* c = pool.Allocate();
  a->value = 1;
  b->value = 2;
  c->value = 3;
  EXPECT_EQ(pool.Release(a), c);  // c's bytes now fill a's slot
  EXPECT_EQ(a->value, 3);
  EXPECT_EQ(pool.At(0), a);
  EXPECT_EQ(pool.At(1), b);
  EXPECT_EQ(pool.Release(b), nullptr);  // the last one: nothing moves
  EXPECT_EQ(pool.LastIndex(), 0);
  pool.ReleaseAll();
  EXPECT_EQ(pool.Report(true), 0);
}

}  // namespace
}  // namespace velmar
