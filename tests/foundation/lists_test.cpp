// Pooled lists: clearing into the free list, pool reports and the stable
// bottom-up merge sort against std::stable_sort.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/dlist.h"
#include "foundation/merge_sort.h"
#include "foundation/slist.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

struct Record {
  int key;
  int seq;  // input position: shows whether ties kept their order
};

int CompareKeys(const Record* a, const Record* b) {
  // Comparators may return any magnitude, not just -1/0/1.
  return a->key - b->key;
}

int CompareSNodes(SListNode* a, SListNode* b) {
  return CompareKeys(static_cast<Record*>(a->item),
                     static_cast<Record*>(b->item));
}

int CompareDNodes(const DListNode* a, const DListNode* b) {
  return CompareKeys(static_cast<const Record*>(a->item),
                     static_cast<const Record*>(b->item));
}

// Appends one node per record, in order.
SList MakeSList(std::vector<Record>& records) {
  SList list;
  for (Record& r : records) {
    SListNode* n = SList::NewNode();
    n->next = nullptr;
    n->item = &r;
    if (list.tail) list.tail->next = n; else list.head = n;
    list.tail = n;
    ++list.count;
  }
  return list;
}

DList MakeDList(std::vector<Record>& records) {
  DList list;
  for (Record& r : records) {
    DListNode* n = DList::NewNode();
    n->next = nullptr;
    n->item = &r;
    n->prev = list.tail;
    if (list.tail) list.tail->next = n; else list.head = n;
    list.tail = n;
    ++list.count;
  }
  return list;
}

std::vector<int> SeqsOf(const SList& list) {
  std::vector<int> out;
  for (SListNode* n = list.head; n; n = n->next)
    out.push_back(static_cast<Record*>(n->item)->seq);
  return out;
}

// Checks the DList invariants and returns the sequence numbers in order.
std::vector<int> SeqsOf(const DList& list) {
  std::vector<int> out;
  const DListNode* prev = nullptr;
  for (DListNode* n = list.head; n; n = n->next) {
    EXPECT_EQ(n->prev, prev);
    out.push_back(static_cast<Record*>(n->item)->seq);
    prev = n;
  }
  EXPECT_EQ(list.tail, prev);
  return out;
}

std::vector<int> StableSortedSeqs(std::vector<Record> records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const Record& a, const Record& b) { return a.key < b.key; });
  std::vector<int> out;
  for (const Record& r : records) out.push_back(r.seq);
  return out;
}

std::vector<Record> RandomRecords(std::mt19937& rng, int n, int keyRange) {
  std::uniform_int_distribution<int> key(0, keyRange - 1);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) records.push_back({key(rng), i});
  return records;
}

class ListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSListPool();
    ResetDListPool();
    ResetD2ListPool();
  }
};

// Sizes around the run-stack merge points and a few larger ones; key ranges
// from all-equal to nearly all-distinct.
TEST_F(ListsTest, SortIsStableLikeStdStableSort) {
  std::mt19937 rng(20240611);
  const int sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100,
                       127, 128, 129, 1000, 4097};
  const int keyRanges[] = {1, 2, 10, 1000000};
  for (int n : sizes) {
    for (int range : keyRanges) {
      std::vector<Record> records = RandomRecords(rng, n, range);
      const std::vector<int> expected = StableSortedSeqs(records);

      SList s = MakeSList(records);
      SList::Sort(s, CompareSNodes);
      EXPECT_EQ(SeqsOf(s), expected) << "SList n=" << n << " range=" << range;
      EXPECT_EQ(s.count, n);
      if (n > 0) {
        EXPECT_EQ(s.tail->next, nullptr);
      }
      EXPECT_TRUE(SList::IsSorted(s.head, CompareSNodes));

      DList d = MakeDList(records);
      DList::Sort(d, CompareDNodes);
      EXPECT_EQ(SeqsOf(d), expected) << "DList n=" << n << " range=" << range;
      EXPECT_EQ(d.count, n);
      if (n > 0) {
        EXPECT_EQ(d.head->prev, nullptr);
        EXPECT_EQ(d.tail->next, nullptr);
      }
      SList::Clear(s);
      DList::Clear(d);
    }
  }
}

TEST_F(ListsTest, SortKeepsSortedAndReversesPairs) {
  std::vector<Record> sorted;
  for (int i = 0; i < 50; ++i) sorted.push_back({i / 3, i});
  SList s = MakeSList(sorted);
  SList::Sort(s, CompareSNodes);
  EXPECT_EQ(SeqsOf(s), StableSortedSeqs(sorted));

  std::vector<Record> pair = {{2, 0}, {1, 1}};
  DList d = MakeDList(pair);
  DListNode* first = d.head;
  DListNode* second = d.tail;
  DList::Sort(d, CompareDNodes);
  EXPECT_EQ(d.head, second);
  EXPECT_EQ(d.tail, first);
  EXPECT_EQ(SeqsOf(d), (std::vector<int>{1, 0}));
  EXPECT_EQ(d.head->prev, nullptr);
  EXPECT_EQ(d.tail->next, nullptr);

  SListNode* chain = s.head;
  EXPECT_TRUE(SList::IsSorted(chain, CompareSNodes));
  std::swap(chain->item, chain->next->next->next->item);  // keys 0 and 1
  EXPECT_FALSE(SList::IsSorted(chain, CompareSNodes));
}

// The sort works on any chain: here a vertex-like record whose chain link
// is not its first field, as a polygon list's link chain.
TEST_F(ListsTest, MergeSortChainSortsAnyLinkField) {
  struct Vertex {
    int x, y;
    Vertex* ring;
    Vertex* link;
  };
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, 20);
  std::vector<Vertex> vertices(3000);
  Vertex* head = nullptr;
  Vertex* tail = nullptr;
  for (size_t i = 0; i < vertices.size(); ++i) {
    vertices[i] = {coord(rng), coord(rng), &vertices[i], nullptr};
    if (tail) tail->link = &vertices[i]; else head = &vertices[i];
    tail = &vertices[i];
  }
  auto lessXY = [](const Vertex* a, const Vertex* b) {
    return a->x != b->x ? a->x - b->x : a->y - b->y;
  };
  std::vector<const Vertex*> expected;
  for (const Vertex& v : vertices) expected.push_back(&v);
  std::stable_sort(expected.begin(), expected.end(),
                   [&](const Vertex* a, const Vertex* b) { return lessXY(a, b) < 0; });

  MergeSortChain(head, tail, [](Vertex* v) -> Vertex*& { return v->link; },
                 lessXY);
  std::vector<const Vertex*> got;
  for (Vertex* v = head; v; v = v->link) got.push_back(v);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(tail, expected.back());
  for (const Vertex& v : vertices) EXPECT_EQ(v.ring, &v);  // other links kept
}

TEST_F(ListsTest, ClearSplicesOntoTheFreeListHeadFirst) {
  std::vector<Record> records(5, Record{0, 0});
  SList s = MakeSList(records);
  std::vector<SListNode*> nodes;
  for (SListNode* n = s.head; n; n = n->next) nodes.push_back(n);
  SList empty;
  SList::Clear(empty);
  EXPECT_EQ(SListFreeList().head, nullptr);

  SList::Clear(s);
  EXPECT_EQ(s.head, nullptr);
  EXPECT_EQ(s.tail, nullptr);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(records[0].key, 0);  // items untouched
  for (SListNode* n : nodes) EXPECT_EQ(SList::NewNode(), n);
  // Free list exhausted: the pool hands out the next element.
  SListNode* fresh = SList::NewNode();
  EXPECT_EQ(std::find(nodes.begin(), nodes.end(), fresh), nodes.end());

  // FreeNode pushes on the head.
  SList::FreeNode(fresh);
  SList::FreeNode(nodes[2]);
  EXPECT_EQ(SList::NewNode(), nodes[2]);
  EXPECT_EQ(SList::NewNode(), fresh);
}

TEST_F(ListsTest, DListUnlinkRelinksNeighbours) {
  std::vector<Record> records;
  for (int i = 0; i < 4; ++i) records.push_back({i, i});
  DList d = MakeDList(records);
  DListNode* n1 = d.head->next;
  DListNode* n2 = n1->next;
  EXPECT_EQ(DList::Unlink(d, d.head), n1);         // first
  EXPECT_EQ(DList::Unlink(d, d.tail), nullptr);    // last
  EXPECT_EQ(DList::Unlink(d, n1), n2);             // then n2 is alone
  EXPECT_EQ(SeqsOf(d), (std::vector<int>{2}));
  EXPECT_EQ(d.count, 1);
  EXPECT_EQ(d.head, n2);
  EXPECT_EQ(DList::Unlink(d, n2), nullptr);
  EXPECT_EQ(d.head, nullptr);
  EXPECT_EQ(d.tail, nullptr);
  EXPECT_EQ(d.count, 0);
  // Unlinked nodes went to the free list, latest first.
  EXPECT_EQ(DList::NewNode(), n2);
  EXPECT_EQ(DList::NewNode(), n1);
}

TEST_F(ListsTest, ReportsCountWholeBlocksAndClearingTheFreeListResets) {
  std::vector<Record> records(SList::kNodesPerBlock + 1, Record{0, 0});
  SList s = MakeSList(records);
  const int kb = int(int64_t(2) * SList::kNodesPerBlock * sizeof(SListNode) / 1024);
  std::vector<Record> few(3, Record{0, 0});
  DList d = MakeDList(few);
  D2List d2;
  for (int i = 0; i < 2; ++i) {
    D2ListNode* n = D2List::NewNode();
    n->next = d2.head;
    d2.head = n;
    if (!d2.tail) d2.tail = n;
    ++d2.count;
  }

  test::StdoutCapture out;
  EXPECT_EQ(ReportSListMemory(false), kb);
  EXPECT_EQ(ReportSListMemory(true), kb);
  const int dkb = int(int64_t(DList::kNodesPerBlock) * sizeof(DListNode) / 1024);
  EXPECT_EQ(ReportDListMemory(false), dkb);
  const int d2kb = int(int64_t(D2List::kNodesPerBlock) * sizeof(D2ListNode) / 1024);
  EXPECT_EQ(ReportD2ListMemory(false), d2kb);
  EXPECT_EQ(out.Stop(), std::to_string(kb) + " kbytes allocated for SList\n" +
                            std::to_string(dkb) + " kbytes allocated for DList\n" +
                            std::to_string(d2kb) + " kbytes allocated for D2List\n");

  SList::Clear(s);
  SList::Clear(SListFreeList());
  EXPECT_EQ(SListFreeList().head, nullptr);
  EXPECT_EQ(ReportSListMemory(true), 0);

  DList::Clear(d);
  DList::Clear(DListFreeList());
  EXPECT_EQ(ReportDListMemory(true), 0);
  D2List::Clear(d2);
  EXPECT_EQ(D2ListFreeList().head != nullptr, true);
  D2List::Clear(D2ListFreeList());
  EXPECT_EQ(D2ListFreeList().head, nullptr);
  EXPECT_EQ(ReportD2ListMemory(true), 0);

  // The pool starts over after a reset.
  SListNode* n = SList::NewNode();
  EXPECT_NE(n, nullptr);
  EXPECT_EQ(ReportSListMemory(true),
            int(int64_t(SList::kNodesPerBlock) * sizeof(SListNode) / 1024));
}

}  // namespace
}  // namespace velmar
