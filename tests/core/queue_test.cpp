// Tests of Queue: ring growth that keeps the order across the wrap, the
// default capacity, membership with and without a compare function, and
// deep copies.
#include "core/queue.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

template <class T>
std::vector<T> Drain(Queue<T> &q) {
    std::vector<T> out;
    T x;
    while (q.dequeue(x) == 0) {
        out.push_back(x);
    }
    return out;
}

int SameText(char *a, char *b) {
    return strcmp(a, b);
}

std::string Long(const char *tag) {
    return std::string(tag) + " padded beyond any small-string buffer";
}

TEST(QueueTest, GrowingAWrappedRingKeepsTheOrder) {
    Queue<int> q(2);
    ASSERT_EQ(0, q.enqueue(1));
    ASSERT_EQ(0, q.enqueue(2));
    EXPECT_TRUE(q.IsFull());
    int x = 0;
    ASSERT_EQ(0, q.dequeue(x));
    EXPECT_EQ(1, x);
    ASSERT_EQ(0, q.enqueue(3));  // wraps to slot 0
    EXPECT_TRUE(q.IsFull());
    ASSERT_EQ(0, q.enqueue(4));  // grows to 4
    EXPECT_EQ(3, q.Length());
    EXPECT_FALSE(q.IsFull());
    ASSERT_EQ(0, q.enqueue(5));
    EXPECT_TRUE(q.IsFull());  // the capacity is now exactly 4
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5}), Drain(q));
    EXPECT_TRUE(q.IsEmpty());
}

TEST(QueueTest, NonPositiveSizeGivesThirtyTwoSlots) {
    for (int size : {0, -5}) {
        Queue<int> q(size);
        for (int i = 0; i < 31; i++) {
            q.enqueue(i);
        }
        EXPECT_FALSE(q.IsFull());
        q.enqueue(31);
        EXPECT_TRUE(q.IsFull());
        EXPECT_EQ(32, q.Length());
    }
}

TEST(QueueTest, EmptyDequeueFailsAndClearEmpties) {
    Queue<int> q(3);
    int x = 7;
    EXPECT_EQ(-1, q.dequeue(x));
    EXPECT_EQ(7, x);
    q.enqueue(1);
    q.enqueue(2);
    q.dequeue(x);
    q.clear();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(-1, q.dequeue(x));
    q.enqueue(8);
    EXPECT_EQ((std::vector<int>{8}), Drain(q));
}

TEST(QueueTest, MembershipUsesCompareWhenGiven) {
    char first[] = "alpha";
    char twin[] = "alpha";
    char other[] = "beta";

    Queue<char *> byPointer(4);
    byPointer.enqueue(first);
    EXPECT_TRUE(byPointer.IsMember(first));
    EXPECT_FALSE(byPointer.IsMember(twin));

    Queue<char *> byText(4, SameText);
    byText.enqueue(first);
    EXPECT_TRUE(byText.IsMember(twin));
    EXPECT_FALSE(byText.IsMember(other));
}

// Membership scans only the live elements, from head, across the wrap.
TEST(QueueTest, MembershipSeesOnlyQueuedElements) {
    Queue<int> q(3);
    q.enqueue(1);
    q.enqueue(2);
    q.enqueue(3);
    int x = 0;
    q.dequeue(x);
    q.dequeue(x);
    q.enqueue(4);  // ring: [4, 2(gone), 3]
    EXPECT_FALSE(q.IsMember(1));
    EXPECT_FALSE(q.IsMember(2));
    EXPECT_TRUE(q.IsMember(3));
    EXPECT_TRUE(q.IsMember(4));
}

TEST(QueueTest, CopiesAreDeep) {
    Queue<std::string> q(2);
    q.enqueue(Long("a"));
    q.enqueue(Long("b"));
    std::string x;
    q.dequeue(x);
    q.enqueue(Long("c"));

    Queue<std::string> copy(q);
    copy.enqueue(Long("d"));
    EXPECT_EQ((std::vector<std::string>{Long("b"), Long("c"), Long("d")}), Drain(copy));

    Queue<std::string> assigned(5);
    assigned.enqueue(Long("old"));
    assigned = q;
    EXPECT_EQ((std::vector<std::string>{Long("b"), Long("c")}), Drain(q));
    Queue<std::string> &self = assigned;
    assigned = self;
    EXPECT_EQ((std::vector<std::string>{Long("b"), Long("c")}), Drain(assigned));
}

}  // namespace
