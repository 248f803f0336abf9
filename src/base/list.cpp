// Out-of-line members of the intrusive containers: the virtual destructors anchor the
// classes' type information in the library, and the queue keeps its chain here.
#include "qv_list.h"

namespace Quorvel {

cQV_List2Item::~cQV_List2Item() {}

cQV_QueueItem::~cQV_QueueItem() {}

cQV_Queue::~cQV_Queue() {}

void cQV_Queue::Push(cQV_QueueItem *item) {
    item->next = nullptr;
    if (!first) {
        first = last = item;
        size = 1;
        return;
    }
    last->next = item;
    last = item;
    ++size;
}

cQV_QueueItem *cQV_Queue::Pop() {
    cQV_QueueItem *item = first;
    if (!item) return nullptr;
    first = item->next;
    --size;
    if (!first) last = nullptr;
    item->next = nullptr;
    return item;
}

void cQV_ValueSet::Reset() {
    value = 0;
}

cQV_ValueSet::~cQV_ValueSet() {
    value = 0;
}

} // namespace Quorvel
