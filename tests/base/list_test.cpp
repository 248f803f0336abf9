#include "qv_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quorvel;

namespace {

struct Node : cQV_List2Item {
    explicit Node(char n = '?') : name(n) {}
    char name;
};

// Exposes the protected count so the tests can follow it.
struct List : ctQV_List2<Node> {
    int Count() const { return count; }
    std::string Order() const {
        std::string s;
        for (Node *n = GetFirst(); n; n = GetNext(n))
            s += n->name;
        return s;
    }
    // The same walk backwards, from the tail anchor, to prove the prev links mirror next.
    std::string ReverseOrder() const {
        std::string s;
        for (const cQV_List2Item *n = GetPr(&tail); n != &head; n = GetPr(n))
            s += static_cast<const Node *>(n)->name;
        return s;
    }
};

TEST(List2, NewListIsEmpty) {
    List l;
    EXPECT_EQ(l.GetFirst(), nullptr);
    EXPECT_EQ(l.PopFirst(), nullptr);
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.ReverseOrder(), "");
}

TEST(List2, InsertionsKeepOrderInBothDirections) {
    List l;
    Node a('a'), b('b'), c('c'), d('d'), e('e');
    EXPECT_FALSE(a.IsInList());
    l.PushBack(&a);
    l.PushBack(&b);
    l.PushFront(&c);
    EXPECT_EQ(l.Order(), "cab");
    EXPECT_EQ(l.Count(), 3);
    l.InsertAfter(nullptr, &d);
    EXPECT_EQ(l.Order(), "cabd");
    l.InsertAfter(&c, &e);
    EXPECT_EQ(l.Order(), "ceabd");
    EXPECT_EQ(l.ReverseOrder(), "dbaec");
    EXPECT_EQ(l.Count(), 5);
    EXPECT_TRUE(a.IsInList());
    EXPECT_EQ(l.GetNext(&d), nullptr);
    while (l.PopFirst()) {
    }
}

TEST(List2, PopReturnsWhereTheWalkGoesOn) {
    List l;
    Node a('a'), b('b'), c('c'), free('f');
    l.PushBack(&c);
    l.PushBack(&a);
    l.PushBack(&b);
    EXPECT_EQ(l.Pop(&a), &b);
    EXPECT_FALSE(a.IsInList());
    EXPECT_EQ(l.Order(), "cb");
    EXPECT_EQ(l.ReverseOrder(), "bc");
    EXPECT_EQ(l.Pop(&b), nullptr); // b was the last
    EXPECT_EQ(l.Count(), 1);
    EXPECT_EQ(l.Pop(&free), nullptr); // in no list: nothing changes
    EXPECT_EQ(l.Pop(&b), nullptr);    // popped twice: nothing changes
    EXPECT_EQ(l.Count(), 1);
    EXPECT_EQ(l.Order(), "c");
    EXPECT_EQ(l.PopFirst(), &c);
    EXPECT_EQ(l.PopFirst(), nullptr);
    EXPECT_EQ(l.Count(), 0);
    // A popped item can be linked again.
    l.PushFront(&a);
    EXPECT_EQ(l.Order(), "a");
    l.PopFirst();
}

TEST(List2, RemovingDuringAWalk) {
    List l;
    std::vector<Node> nodes;
    for (char ch : std::string("axbxxc"))
        nodes.emplace_back(ch);
    for (Node &n : nodes)
        l.PushBack(&n);
    for (Node *n = l.GetFirst(); n;)
        n = n->name == 'x' ? l.Pop(n) : l.GetNext(n);
    EXPECT_EQ(l.Order(), "abc");
    EXPECT_EQ(l.ReverseOrder(), "cba");
    EXPECT_EQ(l.Count(), 3);
    while (l.PopFirst()) {
    }
}

TEST(List2, CopyWalksTheSameItems) {
    List l;
    Node a('a'), b('b');
    l.PushBack(&a);
    l.PushBack(&b);
    List copy(l);
    EXPECT_EQ(copy.Order(), "ab");
    EXPECT_EQ(copy.Count(), 2);
    while (l.PopFirst()) {
    }
}

struct QItem : cQV_QueueItem {
    explicit QItem(int v) : v(v) {}
    int v;
};

struct Queue : cQV_Queue {
    cQV_QueueItem *Last() const { return last; }
};

TEST(Queue, FirstInFirstOut) {
    Queue q;
    QItem x(1), y(2), z(3);
    EXPECT_EQ(q.Pop(), nullptr);
    EXPECT_EQ(q.GetNext(nullptr), nullptr);
    q.Push(&x);
    q.Push(&y);
    EXPECT_EQ(q.GetSize(), 2u);
    EXPECT_EQ(q.GetFirst(), &x);
    EXPECT_EQ(q.GetNext(&x), &y);
    EXPECT_EQ(q.GetNext(&y), nullptr);
    EXPECT_EQ(q.Pop(), &x);
    EXPECT_EQ(q.GetNext(&x), nullptr); // a popped item keeps no link into the queue
    EXPECT_EQ(q.GetSize(), 1u);
    EXPECT_EQ(q.Pop(), &y);
    EXPECT_EQ(q.GetSize(), 0u);
    EXPECT_EQ(q.GetFirst(), nullptr);
    EXPECT_EQ(q.Last(), nullptr);
    EXPECT_EQ(q.Pop(), nullptr);
    // A push after emptying starts a new chain, not one hanging off the old last item.
    q.Push(&z);
    EXPECT_EQ(q.GetFirst(), &z);
    EXPECT_EQ(q.Last(), &z);
    EXPECT_EQ(q.GetNext(&y), nullptr);
    EXPECT_EQ(q.GetSize(), 1u);
    EXPECT_EQ(q.Pop(), &z);
}

struct Flags : cQV_ValueSet {
    unsigned GetMask() const override { return 0xFu; }
    void Set(unsigned v) { value |= v; }
};

TEST(ValueSet, MembershipQuestions) {
    Flags f;
    EXPECT_TRUE(f.CheckExact(0));
    EXPECT_TRUE(f.CheckPresent(0));
    f.Set(0x5);
    EXPECT_TRUE(f.CheckPresent(0));
    EXPECT_TRUE(f.CheckPresent(0x1));
    EXPECT_TRUE(f.CheckPresent(0x5));
    EXPECT_FALSE(f.CheckPresent(0x3)); // one bit missing
    EXPECT_FALSE(f.CheckExact(0x1));
    EXPECT_TRUE(f.CheckExact(0x5));
    Flags g(f);
    EXPECT_TRUE(g.CheckExact(0x5));
    f.Reset();
    EXPECT_TRUE(f.CheckExact(0));
    EXPECT_TRUE(g.CheckExact(0x5));
    g = f;
    EXPECT_TRUE(g.CheckExact(0));
}

} // namespace
