// Intrusive containers and a flag set: a doubly linked list whose items carry their own
// links, a singly linked first-in first-out queue, and a base class holding bit flags.
//
// None of these classes allocates or frees anything: items belong to whoever created them and
// the containers only link them. None of them locks; a container and its items are used by one
// thread at a time or under the owner's lock.
#pragma once

#include "qv_os_export.h"

namespace Quorvel {

class cQV_List2;

// Node base of cQV_List2. A free item has both links null; a linked item has both set.
// Copying an item copies both links as they are, so a copy of a linked item must not be
// handed to a list operation until it has been made free again.
class QV_OS_API cQV_List2Item {
public:
    cQV_List2Item() : prev(nullptr), next(nullptr) {}
    cQV_List2Item(const cQV_List2Item &o) = default;            // copies both links as they are
    cQV_List2Item &operator=(const cQV_List2Item &o) = default; // copies both links as they are
    // Does not unlink the item: the owner pops it first.
    virtual ~cQV_List2Item();

    // True while the item is linked into a list.
    bool IsInList() const { return prev != nullptr; }

private:
    friend class cQV_List2;
    cQV_List2Item *prev;
    cQV_List2Item *next;
};

// Untyped list base: two anchors and a count. Walking `next` from `head` visits every item once
// and ends at `tail`; a real item is recognised by its non-null `next` (only the tail anchor has
// none). Copying a list copies the anchors' links and the count as they are: the copy refers to
// the same items, may be walked while the source is unchanged, and must not be modified.
class QV_OS_API cQV_List2 {
protected:
    cQV_List2() : count(0) {
        head.next = &tail;
        tail.prev = &head;
    }
    // Does not touch the items: items still linked keep links to the destroyed anchors.
    ~cQV_List2() {}

    // The links of an item, for the typed lists built on this base: read (GetNe, GetPr) and
    // written (Ne, Pr).
    cQV_List2Item *GetNe(const cQV_List2Item *item) const { return item->next; }
    cQV_List2Item *GetPr(const cQV_List2Item *item) const { return item->prev; }
    cQV_List2Item *&Ne(cQV_List2Item *item) { return item->next; }
    cQV_List2Item *&Pr(cQV_List2Item *item) { return item->prev; }

    cQV_List2Item head; // anchor before the first item
    cQV_List2Item tail; // anchor after the last item
    // Number of linked items; kept up to date by every insertion and removal.
    int count;
};

// Typed front of cQV_List2. T must derive from cQV_List2Item. Every operation is constant time.
template <class T> class ctQV_List2 : public cQV_List2 {
public:
    ctQV_List2() {}

    // The first item, or null when the list is empty.
    T *GetFirst() const { return _Real(GetNe(&head)); }

    // The item after `item` (which must be linked in this list), or null when it is the last.
    T *GetNext(const T *item) const { return _Real(GetNe(item)); }

    // Links `item` after the last item. `item` must be free; its links are overwritten.
    void PushBack(T *item) { _Link(GetPr(&tail), item); }

    // Links `item` before the first item. `item` must be free; its links are overwritten.
    void PushFront(T *item) { _Link(&head, item); }

    // Links `item` right after `after`, or at the end when `after` is null.
    void InsertAfter(T *after, T *item) {
        _Link(after ? static_cast<cQV_List2Item *>(after) : GetPr(&tail), item);
    }

    // Unlinks `item` and returns the item that followed it, or null when it was the last or
    // was in no list (then nothing changes). A caller removing items during a walk goes on at
    // the returned item.
    T *Pop(T *item) {
        cQV_List2Item *n = _Unlink(item);
        return n ? _Real(n) : nullptr;
    }

    // Unlinks the first item and returns it; null when the list is empty.
    T *PopFirst() {
        cQV_List2Item *f = GetNe(&head);
        if (!GetNe(f)) return nullptr;
        _Unlink(f);
        return static_cast<T *>(f);
    }

private:
    T *_Real(cQV_List2Item *node) const { return GetNe(node) ? static_cast<T *>(node) : nullptr; }
    void _Link(cQV_List2Item *after, cQV_List2Item *item) {
        cQV_List2Item *before = Ne(after);
        Pr(item) = after;
        Ne(item) = before;
        Ne(after) = item;
        Pr(before) = item;
        ++count;
    }
    // Returns the node that followed `item`, or null when `item` was in no list.
    cQV_List2Item *_Unlink(cQV_List2Item *item) {
        cQV_List2Item *n = Ne(item);
        cQV_List2Item *p = Pr(item);
        if (!n || !p) return nullptr;
        Ne(p) = n;
        Pr(n) = p;
        Ne(item) = nullptr;
        Pr(item) = nullptr;
        --count;
        return n;
    }
};

// Item base of cQV_Queue. `next` is null for the last item and for an item in no queue.
class QV_OS_API cQV_QueueItem {
public:
    cQV_QueueItem() : next(nullptr) {}
    virtual ~cQV_QueueItem();

private:
    friend class cQV_Queue;
    cQV_QueueItem *next;
};

// Singly linked first-in first-out queue. Copying a queue copies its ends and size: both
// queues then share one chain of items.
class QV_OS_API cQV_Queue {
public:
    cQV_Queue() : first(nullptr), last(nullptr), size(0) {}
    virtual ~cQV_Queue();

    // Appends `item` at the end; its `next` becomes null.
    void Push(cQV_QueueItem *item);
    // Removes and returns the oldest item (its `next` cleared), or null when empty.
    cQV_QueueItem *Pop();
    // The oldest item, or null.
    cQV_QueueItem *GetFirst() const { return first; }
    // The item after `item`; null for the newest item and for a null `item`.
    cQV_QueueItem *GetNext(cQV_QueueItem *item) const { return item ? item->next : nullptr; }
    unsigned GetSize() { return size; } // the number of queued items

protected:
    cQV_QueueItem *first; // the oldest item, or null
    cQV_QueueItem *last;  // the newest item, or null
    unsigned size;        // the number of queued items
};

// Base of classes that keep a set of bit flags in `value` and answer membership questions.
// Derived classes set and clear the bits and supply GetMask.
class QV_OS_API cQV_ValueSet {
public:
    cQV_ValueSet(const cQV_ValueSet &o) : value(o.value) {} // copies the flags
    // Copies the flags.
    cQV_ValueSet &operator=(const cQV_ValueSet &o) {
        value = o.value;
        return *this;
    }

    // True when the set is exactly `v`.
    bool CheckExact(unsigned v) const { return value == v; }
    // True when every bit of `v` is set (so always for 0).
    bool CheckPresent(unsigned v) const { return (value & v) == v; }

    // Clears every flag.
    virtual void Reset();
    // The bits that the derived class defines as meaningful. Declared here so that every
    // derived set answers it; this library never calls it.
    virtual unsigned GetMask() const = 0;
    // Clears every flag.
    virtual ~cQV_ValueSet();

protected:
    cQV_ValueSet() : value(0) {} // no flag set

    unsigned value; // the flags, one bit each
};

} // namespace Quorvel
