// Node pool and free list of SList.

#include "foundation/slist.h"

#include "foundation/node_pool.h"

namespace velmar {

namespace {

constinit ElementPool<&SList::head, &SListNode::next, &SList::tail> SListPool(
    "SList", SList::kNodesPerBlock);

}  // namespace

VELMAR_POOLED_LIST(SList, SListPool, SListFreeList, ResetSListPool,
                   ReportSListMemory)

}  // namespace velmar
