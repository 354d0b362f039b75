// Tests for List and ListIterator: the built-in cursor (append, insert,
// next at the end, removal under the cursor), deletion by pointer, the
// independent iterators with their wrap-around, and the contract
// violations that end the process.
#include "core/list.h"

#include <type_traits>
#include <vector>

#include "gtest/gtest.h"

namespace {

// Objects in list order, walked with an iterator so the cursor stays put.
std::vector<int> Values(const List<int> &list) {
    std::vector<int> out;
    ListIterator<int> it(list);
    for (int *p = it.Next(); p != nullptr; p = it.Next()) {
        out.push_back(*p);
    }
    return out;
}

class ListTest : public testing::Test {
 protected:
    ListTest() : v{10, 20, 30, 40, 50} {}
    int v[5];
    List<int> list;
};

}  // namespace

static_assert(!std::is_copy_constructible<List<int>>::value, "List owns its links");
static_assert(!std::is_copy_assignable<List<int>>::value, "List owns its links");

TEST_F(ListTest, EmptyList) {
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(0, list.Number());
    EXPECT_EQ(nullptr, list.Next());
    EXPECT_EQ(nullptr, list.Current());
    EXPECT_EQ(nullptr, list.Head());
    EXPECT_TRUE(list.AtEnd());
    int out = -1;
    EXPECT_FALSE(list.Head(out));
    EXPECT_FALSE(list.Current(out));
    EXPECT_FALSE(list.Delete(&v[0]));
}

TEST_F(ListTest, AppendMovesCursorAndStoresAddresses) {
    EXPECT_TRUE(list.Append(&v[0]));
    EXPECT_EQ(&v[0], list.Current());
    EXPECT_TRUE(list.Append(v[1]));  // by reference: the address is kept
    EXPECT_EQ(&v[1], list.Current());
    EXPECT_TRUE(list.AtEnd());
    EXPECT_EQ(2, list.Number());
    EXPECT_EQ(2, list.Length());
    EXPECT_EQ(&v[0], list.Head());
    v[1] = 99;
    EXPECT_EQ((std::vector<int>{10, 99}), Values(list));
}

TEST_F(ListTest, NextWalksAndStopsOnLast) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Rewind();
    EXPECT_EQ(nullptr, list.Current());
    EXPECT_FALSE(list.AtEnd());
    EXPECT_EQ(&v[0], list.Next());
    EXPECT_EQ(&v[1], list.Next());
    EXPECT_TRUE(list.AtEnd());
    EXPECT_EQ(nullptr, list.Next());
    EXPECT_EQ(&v[1], list.Current());  // the cursor stayed on the last
}

TEST_F(ListTest, NextCopyAndPointerForms) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Rewind();
    int copy = 0;
    EXPECT_TRUE(list.Next(copy));
    EXPECT_EQ(10, copy);
    int *ptr = nullptr;
    EXPECT_TRUE(list.Next(ptr));
    EXPECT_EQ(&v[1], ptr);
    EXPECT_FALSE(list.Next(ptr));
    EXPECT_EQ(nullptr, ptr);
    EXPECT_FALSE(list.Next(copy));
    EXPECT_TRUE(list.Current(copy));
    EXPECT_EQ(20, copy);
    EXPECT_TRUE(list.Head(copy));
    EXPECT_EQ(10, copy);
}

TEST_F(ListTest, InsertAfterRewindGoesToTheEnd) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Rewind();
    list.Insert(&v[2]);
    EXPECT_EQ((std::vector<int>{10, 20, 30}), Values(list));
    EXPECT_EQ(nullptr, list.Current());  // the cursor stays before the first
}

TEST_F(ListTest, InsertGoesBeforeCursorItem) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Rewind();
    list.Next();
    EXPECT_EQ(&v[1], list.Next());
    list.Insert(v[2]);
    EXPECT_EQ(&v[1], list.Current());
    EXPECT_EQ((std::vector<int>{10, 30, 20}), Values(list));
}

TEST_F(ListTest, DeleteCurrentThenNextGivesFollowing) {
    for (int &x : v) {
        list.Append(&x);
    }
    list.Rewind();
    EXPECT_EQ(&v[0], list.Next());
    list.DeleteCurrent();
    EXPECT_EQ(nullptr, list.Current());  // stepped back before the first
    EXPECT_EQ(&v[1], list.Next());
    EXPECT_EQ(4, list.Number());
    EXPECT_EQ(10, v[0]);  // objects are never freed or touched
}

TEST_F(ListTest, RemovingUnderCursorSkipsNothing) {
    for (int &x : v) {
        list.Append(&x);
    }
    std::vector<int> seen;
    list.Rewind();
    for (int *p = list.Next(); p != nullptr; p = list.Next()) {
        seen.push_back(*p);
        if (*p != 50) {
            list.DeleteCurrent();
        }
    }
    EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50}), seen);
    EXPECT_EQ((std::vector<int>{50}), Values(list));
}

TEST_F(ListTest, DeleteLastUnderCursorThenAppend) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.DeleteCurrent();  // the cursor was on v[1]
    EXPECT_EQ(&v[0], list.Current());
    EXPECT_EQ(nullptr, list.Next());
    list.Append(&v[2]);
    EXPECT_EQ((std::vector<int>{10, 30}), Values(list));
}

TEST_F(ListTest, DeleteByPointer) {
    for (int &x : v) {
        list.Append(&x);
    }
    list.Rewind();
    list.Next();
    list.Next();                      // cursor on v[1]
    EXPECT_TRUE(list.Delete(&v[3]));  // not the cursor item
    EXPECT_EQ(&v[1], list.Current());
    EXPECT_TRUE(list.Delete(&v[1]));  // the cursor item: cursor steps back
    EXPECT_EQ(&v[0], list.Current());
    EXPECT_EQ(&v[2], list.Next());
    EXPECT_FALSE(list.Delete(&v[3]));
    int stranger = 7;
    EXPECT_FALSE(list.Delete(&stranger));
    EXPECT_EQ((std::vector<int>{10, 30, 50}), Values(list));
}

TEST_F(ListTest, DeleteRemovesOnlyFirstOfDuplicates) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Append(&v[0]);
    EXPECT_TRUE(list.Delete(&v[0]));
    EXPECT_EQ((std::vector<int>{20, 10}), Values(list));
}

TEST_F(ListTest, IteratorWrapsToBeforeFirst) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    ListIterator<int> it(list);
    EXPECT_TRUE(it.IsBeforeFirst());
    EXPECT_EQ(nullptr, it.Current());
    EXPECT_EQ(&v[0], it.Next());
    EXPECT_EQ(&v[0], it.Current());
    EXPECT_EQ(&v[1], it.Next());
    EXPECT_EQ(nullptr, it.Next());
    EXPECT_TRUE(it.IsBeforeFirst());
    EXPECT_EQ(&v[0], it.Next());
}

TEST_F(ListTest, IteratorPrev) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    ListIterator<int> it(list);
    it.ToAfterLast();
    EXPECT_TRUE(it.IsAfterLast());
    EXPECT_EQ(nullptr, it.Next());  // nothing after the last
    EXPECT_EQ(nullptr, it.Current());
    EXPECT_EQ(&v[1], it.Prev());
    int copy = 0;
    EXPECT_TRUE(it.Prev(copy));
    EXPECT_EQ(10, copy);
    EXPECT_FALSE(it.Prev(copy));  // reached the dummy: before the first
    EXPECT_TRUE(it.IsBeforeFirst());
    EXPECT_EQ(&v[1], it.Prev());  // and round the ring again
}

TEST_F(ListTest, IteratorsAreIndependentOfCursorAndEachOther) {
    list.Append(&v[0]);
    list.Append(&v[1]);
    list.Append(&v[2]);
    list.Rewind();
    list.Next();
    ListIterator<int> a(list);
    ListIterator<int> b;
    b.Initialize(list);
    a.Next();
    a.Next();
    int *p = nullptr;
    EXPECT_TRUE(b.Next(p));
    EXPECT_EQ(&v[0], p);
    int copy = 0;
    EXPECT_TRUE(a.Current(copy));
    EXPECT_EQ(20, copy);
    EXPECT_EQ(&v[0], list.Current());
    a.ToBeforeFirst();
    EXPECT_TRUE(a.Next(copy));
    EXPECT_EQ(10, copy);
}

TEST_F(ListTest, IteratorWithoutListOrItems) {
    ListIterator<int> none;
    EXPECT_EQ(nullptr, none.Next());
    EXPECT_EQ(nullptr, none.Prev());
    EXPECT_TRUE(none.IsAfterLast());
    ListIterator<int> it(list);
    EXPECT_EQ(nullptr, it.Next());
    it.ToAfterLast();
    EXPECT_EQ(nullptr, it.Prev());
    EXPECT_TRUE(it.IsBeforeFirst());
}

TEST(ListDeathTest, DeleteCurrentBeforeFirstStops) {
    EXPECT_EXIT(
        {
            int x = 1;
            List<int> list;
            list.Append(&x);
            list.Rewind();
            list.DeleteCurrent();
        },
        testing::ExitedWithCode(4), "Assertion ERROR on \\(current != dummy\\)");
}

TEST(ListDeathTest, DeleteCurrentOnEmptyListStops) {
    EXPECT_EXIT(
        {
            List<int> list;
            list.DeleteCurrent();
        },
        testing::ExitedWithCode(4), "current != dummy");
}
