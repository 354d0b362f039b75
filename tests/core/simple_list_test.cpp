// Tests of SimpleList and SimpleListIterator: doubling growth, cursor moves,
// removal under and before the cursor, shrinking, deep copies and the
// iterator's ends.
#include "core/simple_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/my_string.h"

namespace {

template <class T>
std::vector<T> Items(const SimpleList<T> &list) {
    std::vector<T> out;
    SimpleListIterator<T> it(list);
    T item;
    while (it.Next(item)) {
        out.push_back(item);
    }
    return out;
}

SimpleList<int> ListOf(std::initializer_list<int> values) {
    SimpleList<int> list;
    for (int v : values) {
        list.Append(v);
    }
    return list;
}

std::string Long(const char *tag) {
    return std::string(tag) + " padded beyond any small-string buffer";
}

TEST(SimpleListTest, AppendDoublesTheSlots) {
    SimpleList<int> list;
    EXPECT_EQ(1, list.Slots());
    std::vector<int> slots;
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(list.Append(i));
        slots.push_back(list.Slots());
    }
    EXPECT_EQ((std::vector<int>{1, 2, 4, 4, 8}), slots);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), Items(list));
}

TEST(SimpleListTest, PrependShiftsEverythingUp) {
    SimpleList<int> list = ListOf({1, 2});
    ASSERT_TRUE(list.Prepend(9));
    EXPECT_EQ((std::vector<int>{9, 1, 2}), Items(list));
    EXPECT_EQ(4, list.Slots());
}

TEST(SimpleListTest, DeleteFirstOrAllMatches) {
    SimpleList<int> list = ListOf({1, 2, 1});
    EXPECT_TRUE(list.Delete(1, true));
    EXPECT_EQ((std::vector<int>{2}), Items(list));

    SimpleList<int> one = ListOf({1, 2, 1});
    EXPECT_TRUE(one.Delete(1));
    EXPECT_EQ((std::vector<int>{2, 1}), Items(one));
    EXPECT_FALSE(one.Delete(7, true));
}

TEST(SimpleListTest, CursorWalksAndStopsAtTheEnd) {
    SimpleList<int> list = ListOf({10, 20});
    int item = 0;
    EXPECT_FALSE(list.Current(item));
    EXPECT_FALSE(list.AtEnd());
    ASSERT_TRUE(list.Next(item));
    EXPECT_EQ(10, item);
    int *where = nullptr;
    ASSERT_TRUE(list.Next(where));
    EXPECT_EQ(20, *where);
    EXPECT_TRUE(list.AtEnd());
    EXPECT_FALSE(list.Next(item));  // no move at the end
    ASSERT_TRUE(list.Current(item));
    EXPECT_EQ(20, item);
    list.Rewind();
    EXPECT_FALSE(list.Current(item));

    SimpleList<int> empty;
    EXPECT_TRUE(empty.AtEnd());
    EXPECT_FALSE(empty.Next(item));
}

TEST(SimpleListTest, DeleteCurrentLetsNextGiveTheFollower) {
    SimpleList<int> list = ListOf({1, 2, 3});
    EXPECT_FALSE(list.DeleteCurrent());  // before the first
    int item = 0;
    list.Next(item);
    EXPECT_TRUE(list.DeleteCurrent());
    EXPECT_FALSE(list.Current(item));
    ASSERT_TRUE(list.Next(item));
    EXPECT_EQ(2, item);
    list.Next(item);
    EXPECT_TRUE(list.DeleteCurrent());
    EXPECT_FALSE(list.Next(item));
    EXPECT_EQ((std::vector<int>{2}), Items(list));
}

// Regression: Delete of the item under the cursor must step the cursor back
// like DeleteCurrent, or the next item is skipped.
TEST(SimpleListTest, DeleteUnderTheCursorDoesNotSkip) {
    SimpleList<int> list = ListOf({1, 2, 3, 4});
    int item = 0;
    list.Next(item);
    list.Next(item);  // on 2
    EXPECT_TRUE(list.Delete(2));
    ASSERT_TRUE(list.Next(item));
    EXPECT_EQ(3, item);

    // Removing items before the cursor keeps it on the same item.
    EXPECT_TRUE(list.Delete(1));
    ASSERT_TRUE(list.Current(item));
    EXPECT_EQ(3, item);
    // Removing after the cursor leaves it alone.
    EXPECT_TRUE(list.Delete(4));
    ASSERT_TRUE(list.Current(item));
    EXPECT_EQ(3, item);
}

TEST(SimpleListTest, DeleteAllWhileWalkingVisitsEveryOtherItem) {
    SimpleList<int> list = ListOf({5, 7, 5, 5, 8, 5});
    std::vector<int> seen;
    int item = 0;
    while (list.Next(item)) {
        seen.push_back(item);
        if (item == 7) {
            list.Delete(5, true);
        }
    }
    EXPECT_EQ((std::vector<int>{5, 7, 8}), seen);
    EXPECT_EQ((std::vector<int>{7, 8}), Items(list));
}

TEST(SimpleListTest, ReplaceCurrentAndMembership) {
    SimpleList<int> list = ListOf({1, 2});
    EXPECT_FALSE(list.ReplaceCurrent(5));
    int item = 0;
    list.Next(item);
    EXPECT_TRUE(list.ReplaceCurrent(5));
    EXPECT_TRUE(list.IsMember(5));
    EXPECT_FALSE(list.IsMember(1));
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(0, list.Number());
    EXPECT_FALSE(list.Current(item));
}

TEST(SimpleListTest, ShrinkingKeepsTheCursorOnTheList) {
    SimpleList<int> list = ListOf({1, 2, 3, 4});
    int item = 0;
    while (list.Next(item)) {
    }
    ASSERT_TRUE(list.resize(2));
    EXPECT_EQ(2, list.Length());
    ASSERT_TRUE(list.Current(item));
    EXPECT_EQ(2, item);
    EXPECT_FALSE(list.resize(0));
    EXPECT_EQ(2, list.Slots());
    ASSERT_TRUE(list.Append(3));  // grows again from 2 slots
    EXPECT_EQ(4, list.Slots());
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Items(list));
}

TEST(SimpleListTest, CopiesAreDeepWithTheSameCursor) {
    SimpleList<std::string> list;
    list.Append(Long("a"));
    list.Append(Long("b"));
    list.Append(Long("c"));
    std::string item;
    list.Next(item);

    SimpleList<std::string> copy(list);
    EXPECT_EQ(list.Slots(), copy.Slots());
    ASSERT_TRUE(copy.Next(item));
    EXPECT_EQ(Long("b"), item);
    copy.ReplaceCurrent(Long("changed"));
    EXPECT_EQ((std::vector<std::string>{Long("a"), Long("b"), Long("c")}), Items(list));

    SimpleList<std::string> assigned;
    assigned.Append(Long("old"));
    assigned = copy;
    EXPECT_EQ((std::vector<std::string>{Long("a"), Long("changed"), Long("c")}), Items(assigned));
    ASSERT_TRUE(assigned.Current(item));
    EXPECT_EQ(Long("changed"), item);
    SimpleList<std::string> &self = assigned;
    assigned = self;
    EXPECT_EQ(3, assigned.Number());
}

TEST(SimpleListIteratorTest, NextStopsAfterTheLastAndPrevComesBack) {
    SimpleList<int> list = ListOf({1, 2});
    SimpleListIterator<int> it(list);
    int item = 0;
    EXPECT_TRUE(it.IsBeforeFirst());
    EXPECT_FALSE(it.Current(item));
    ASSERT_TRUE(it.Next(item));
    EXPECT_EQ(1, item);
    ASSERT_TRUE(it.Next(item));
    EXPECT_EQ(2, item);
    EXPECT_FALSE(it.Next(item));
    EXPECT_TRUE(it.IsAfterLast());
    EXPECT_FALSE(it.Next(item));  // stays after the last
    ASSERT_TRUE(it.Prev(item));
    EXPECT_EQ(2, item);
    ASSERT_TRUE(it.Prev(item));
    EXPECT_EQ(1, item);
    EXPECT_FALSE(it.Prev(item));
    EXPECT_TRUE(it.IsBeforeFirst());
    EXPECT_FALSE(it.Prev(item));

    it.ToAfterLast();
    ASSERT_TRUE(it.Prev(item));
    EXPECT_EQ(2, item);
    ASSERT_TRUE(it.Current(item));
    EXPECT_EQ(2, item);
}

TEST(SimpleListIteratorTest, WithoutAListOrItemsEverythingFails) {
    SimpleListIterator<int> none;
    int item = 0;
    EXPECT_FALSE(none.Next(item));
    EXPECT_FALSE(none.Prev(item));
    EXPECT_FALSE(none.Current(item));

    SimpleList<int> empty;
    SimpleListIterator<int> it(empty);
    EXPECT_FALSE(it.Next(item));
    EXPECT_TRUE(it.IsAfterLast());
    EXPECT_FALSE(it.Prev(item));
    EXPECT_TRUE(it.IsBeforeFirst());
}

TEST(SimpleListIteratorTest, PointerNextWritesThroughAndCursorIsUntouched) {
    SimpleList<int> list = ListOf({1, 2});
    int item = 0;
    list.Next(item);
    SimpleListIterator<int> it;
    it.Initialize(list);
    int *where = nullptr;
    ASSERT_TRUE(it.Next(where));
    ASSERT_TRUE(it.Next(where));
    *where = 20;
    EXPECT_EQ((std::vector<int>{1, 20}), Items(list));
    ASSERT_TRUE(list.Current(item));
    EXPECT_EQ(1, item);
}

TEST(SimpleListIteratorTest, WalksMyStrings) {
    SimpleList<MyString> list;
    list.Append("one");
    list.Prepend("zero");
    SimpleListIterator<MyString> it(list);
    MyString item;
    ASSERT_TRUE(it.Next(item));
    EXPECT_STREQ("zero", item.Value());
    ASSERT_TRUE(it.Next(item));
    EXPECT_STREQ("one", item.Value());
    EXPECT_FALSE(it.Next(item));
    EXPECT_TRUE(list.IsMember("one"));
    EXPECT_TRUE(list.Delete("zero"));
    EXPECT_EQ(1, list.Number());
}

// An iterator left on an item that a later shrink removed must not read it.
TEST(SimpleListIteratorTest, StaysInsideAShrunkList) {
    SimpleList<int> list = ListOf({1, 2, 3, 4});
    SimpleListIterator<int> it(list);
    int item = 0;
    for (int i = 0; i < 4; i++) {
        it.Next(item);
    }
    list.resize(2);
    EXPECT_FALSE(it.Current(item));
    ASSERT_TRUE(it.Prev(item));
    EXPECT_EQ(2, item);
    it.ToBeforeFirst();
    it.Next(item);
    it.Next(item);
    EXPECT_FALSE(it.Next(item));
}

}  // namespace
