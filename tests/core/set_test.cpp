// Tests of Set: Add and Insert positions, duplicates, removal under the
// iteration cursor, RemoveLast, and copies that keep the order.
#include "core/set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <class T>
std::vector<T> Elements(Set<T> &set) {
    std::vector<T> out;
    set.StartIterations();
    T x;
    while (set.Iterate(x)) {
        out.push_back(x);
    }
    return out;
}

std::string Long(const char *tag) {
    return std::string(tag) + " padded beyond any small-string buffer";
}

TEST(SetTest, AddPutsNewElementsFirstAndIgnoresDuplicates) {
    Set<int> set;
    EXPECT_TRUE(set.Add(1));
    EXPECT_TRUE(set.Add(2));
    EXPECT_TRUE(set.Add(3));
    EXPECT_FALSE(set.Add(2));
    EXPECT_EQ(3, set.Count());
    EXPECT_EQ((std::vector<int>{3, 2, 1}), Elements(set));
    EXPECT_TRUE(set.Exist(2));
    EXPECT_FALSE(set.Exist(4));
}

TEST(SetTest, InsertGoesBeforeTheCursorOrAtTheEnd) {
    Set<int> set;
    EXPECT_TRUE(set.Insert(1));  // empty: as Add
    EXPECT_TRUE(set.Insert(2));  // no cursor: at the end
    EXPECT_TRUE(set.Insert(3));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Elements(set));

    int x = 0;
    set.StartIterations();
    set.Iterate(x);  // cursor on the first element: as Add
    EXPECT_TRUE(set.Insert(0));
    set.Iterate(x);
    set.Iterate(x);  // cursor on 3
    ASSERT_EQ(3, x);
    EXPECT_TRUE(set.Insert(9));
    EXPECT_FALSE(set.Insert(1));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 9, 3}), Elements(set));
}

TEST(SetTest, IterateEndsAndStartsOver) {
    Set<int> set;
    set.Add(1);
    int x = 0;
    set.StartIterations();
    ASSERT_TRUE(set.Iterate(x));
    EXPECT_FALSE(set.Iterate(x));
    ASSERT_TRUE(set.Iterate(x));
    EXPECT_EQ(1, x);

    Set<int> empty;
    EXPECT_FALSE(empty.Iterate(x));
    EXPECT_FALSE(empty.RemoveLast());
    EXPECT_FALSE(empty.Remove(1));
}

// Removing the element under the cursor must neither touch the freed
// element nor skip the one after it.
TEST(SetTest, RemovingTheCursorElementContinuesWithTheNext) {
    Set<std::string> set;
    for (const char *tag : {"d", "c", "b", "a"}) {
        set.Add(Long(tag));
    }
    std::vector<std::string> seen;
    std::string x;
    set.StartIterations();
    while (set.Iterate(x)) {
        seen.push_back(x);
        if (x == Long("a") || x == Long("c")) {
            EXPECT_TRUE(set.Remove(x));
        }
    }
    EXPECT_EQ((std::vector<std::string>{Long("a"), Long("b"), Long("c"), Long("d")}), seen);
    EXPECT_EQ((std::vector<std::string>{Long("b"), Long("d")}), Elements(set));
    EXPECT_EQ(2, set.Count());
}

TEST(SetTest, RemoveLastTakesTheElementBeforeTheCursor) {
    Set<int> set;
    for (int i : {1, 2, 3}) {
        set.Insert(i);
    }
    int x = 0;
    set.StartIterations();
    set.Iterate(x);
    EXPECT_FALSE(set.RemoveLast());  // nothing before the first
    set.Iterate(x);
    set.Iterate(x);  // on 3
    EXPECT_TRUE(set.RemoveLast());
    EXPECT_FALSE(set.Iterate(x));
    EXPECT_EQ((std::vector<int>{1, 3}), Elements(set));
}

TEST(SetTest, CopiesKeepTheOrderAndAreIndependent) {
    Set<std::string> set;
    for (const char *tag : {"x", "y", "z"}) {
        set.Add(Long(tag));
    }
    std::string x;
    set.StartIterations();
    set.Iterate(x);
    set.Iterate(x);  // the source's cursor sits on y

    Set<std::string> assigned;
    assigned.Add(Long("old"));
    assigned = set;
    EXPECT_EQ(3, assigned.Count());
    // The assignment read the source without moving its cursor.
    ASSERT_TRUE(set.Iterate(x));
    EXPECT_EQ(Long("x"), x);
    EXPECT_EQ(Elements(set), Elements(assigned));

    Set<std::string> copy(set);
    copy.Remove(Long("y"));
    EXPECT_TRUE(set.Exist(Long("y")));
    EXPECT_EQ((std::vector<std::string>{Long("z"), Long("x")}), Elements(copy));

    Set<std::string> &self = assigned;
    assigned = self;
    EXPECT_EQ(3, assigned.Count());
    assigned.Clear();
    EXPECT_EQ(0, assigned.Count());
    EXPECT_FALSE(assigned.Iterate(x));
}

}  // namespace
