// Tests of ExtArray: growth sizes, filler reads, clamped access, bounded
// reads after resize/truncate, deep copies and the out-of-memory exit.
#include "core/ext_array.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <string>

#include "diagnostics/debug_log.h"

namespace {

// Long enough that every copy owns heap memory, so shallow copies show up
// under the address sanitizer as double frees.
std::string Long(const char *tag) {
    return std::string(tag) + " padded beyond any small-string buffer";
}

TEST(ExtArrayTest, ReadBeyondLastGivesFillerWithoutGrowing) {
    ExtArray<int> a(4);
    a.setFiller(7);
    const ExtArray<int> &ro = a;
    EXPECT_EQ(7, ro[10]);
    EXPECT_EQ(4, a.getsize());
    EXPECT_EQ(-1, a.getlast());
}

TEST(ExtArrayTest, WriteBeyondSizeGrowsToTwiceTheIndex) {
    ExtArray<int> a(4);
    a.setFiller(7);
    a[10] = 1;
    EXPECT_EQ(20, a.getsize());
    EXPECT_EQ(10, a.getlast());
    const int *slots = a.getarray();
    for (int i = 4; i < 20; i++) {
        EXPECT_EQ(i == 10 ? 1 : 7, slots[i]) << "slot " << i;
    }
    a.add(5);
    EXPECT_EQ(11, a.getlast());
    EXPECT_EQ(20, a.getsize());
    EXPECT_EQ(5, a.getarray()[11]);
}

TEST(ExtArrayTest, SetGrowsToTwiceTheIndexPlusTwo) {
    ExtArray<int> a(2);
    a.set(5, 9);
    EXPECT_EQ(12, a.getsize());
    EXPECT_EQ(5, a.getlast());
    a.set(1, 3);  // inside: no growth, last stays
    EXPECT_EQ(12, a.getsize());
    EXPECT_EQ(5, a.getlast());

    ExtArray<int> empty(0);
    empty[0] = 4;  // twice 0 is 0, but at least one slot
    EXPECT_EQ(1, empty.getsize());
    EXPECT_EQ(4, empty[0]);
}

TEST(ExtArrayTest, NegativeIndexMeansElementZero) {
    ExtArray<int> a(3);
    a[-5] = 42;
    EXPECT_EQ(0, a.getlast());
    const ExtArray<int> &ro = a;
    EXPECT_EQ(42, ro[-1]);
    a.set(-2, 43);
    EXPECT_EQ(43, ro[0]);
}

TEST(ExtArrayTest, GetElementAtClampsIntoTheSlots) {
    ExtArray<int> a(5);
    EXPECT_EQ(a.getarray(), a.getElementAt(-1));
    EXPECT_EQ(a.getarray() + 4, a.getElementAt(5));
    EXPECT_EQ(a.getarray() + 4, a.getElementAt(1000));
    EXPECT_EQ(a.getarray() + 2, a.getElementAt(2));

    ExtArray<int> none(0);
    EXPECT_EQ(nullptr, none.getElementAt(0));
}

TEST(ExtArrayTest, ResizeIsExactAndFillsNewSlots) {
    ExtArray<int> a(4);
    a.setFiller(-1);
    for (int i = 0; i < 4; i++) {
        a[i] = i * 10;
    }
    a.resize(9);
    EXPECT_EQ(9, a.getsize());
    EXPECT_EQ(3, a.getlast());
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(i * 10, a.getarray()[i]);
    }
    for (int i = 4; i < 9; i++) {
        EXPECT_EQ(-1, a.getarray()[i]);
    }
}

// Regression: shrinking below getlast() or truncating beyond the slots must
// not let reads run past the allocation.
TEST(ExtArrayTest, ReadsStayInsideTheSlotsAfterShrinkOrTruncate) {
    ExtArray<int> a(8);
    a.setFiller(99);
    for (int i = 0; i < 8; i++) {
        a[i] = i;
    }
    a.resize(2);
    EXPECT_EQ(7, a.getlast());  // untouched by resize
    const ExtArray<int> &ro = a;
    EXPECT_EQ(1, ro[1]);
    EXPECT_EQ(99, ro[5]);
    EXPECT_EQ(99, ro[7]);
    EXPECT_EQ(a.getarray() + 1, a.getElementAt(7));

    a.truncate(50);
    EXPECT_EQ(50, a.getlast());
    EXPECT_EQ(99, ro[40]);
    a[40] = 3;  // writing grows as usual
    EXPECT_EQ(80, a.getsize());
    EXPECT_EQ(3, ro[40]);

    a.truncate(-1);
    a.add(11);
    EXPECT_EQ(0, a.getlast());
    EXPECT_EQ(11, ro[0]);
}

TEST(ExtArrayTest, FillSetsEverySlotAndTheFiller) {
    ExtArray<int> a(3);
    a[0] = 5;
    a.fill(2);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(2, a.getarray()[i]);
    }
    const ExtArray<int> &ro = a;
    EXPECT_EQ(2, ro[50]);
    a[5] = 1;
    EXPECT_EQ(2, a.getarray()[4]);
}

TEST(ExtArrayTest, PlainFillerStartsAsZero) {
    ExtArray<char *> a(2);
    const ExtArray<char *> &ro = a;
    EXPECT_EQ(nullptr, ro[9]);
    a[3] = nullptr;
    EXPECT_EQ(nullptr, a.getarray()[2]);
}

TEST(ExtArrayTest, CopiesAreDeepAndIndependent) {
    ExtArray<std::string> a(2);
    a.setFiller(Long("filler"));
    a[0] = Long("zero");
    a[1] = Long("one");

    ExtArray<std::string> copy(a);
    EXPECT_EQ(a.getsize(), copy.getsize());
    EXPECT_EQ(1, copy.getlast());
    copy[0] = Long("changed");
    EXPECT_EQ(Long("zero"), a[0]);
    const ExtArray<std::string> &ro = copy;
    EXPECT_EQ(Long("filler"), ro[7]);

    ExtArray<std::string> assigned(1);
    assigned[0] = Long("old");
    assigned = a;
    EXPECT_EQ(2, assigned.getsize());
    EXPECT_EQ(Long("one"), assigned[1]);
    assigned[1] = Long("other");
    EXPECT_EQ(Long("one"), a[1]);

    ExtArray<std::string> &self = assigned;
    assigned = self;
    EXPECT_EQ(Long("other"), assigned[1]);
}

// The log is set up inside the child so the message reaches standard error.
void LogToStderr() {
    _torvel_dprintf_works = 1;
    DebugFlags = D_ALWAYS;
    DebugFP = stderr;
}

TEST(ExtArrayDeathTest, GrowthBeyondAnySlotCountExitsWithOne) {
    EXPECT_EXIT(
        {
            LogToStderr();
            ExtArray<char> a(1);
            a[INT_MAX / 2 + 1] = 'x';
        },
        testing::ExitedWithCode(1), "ExtArray: Out of memory");
    EXPECT_EXIT(
        {
            LogToStderr();
            ExtArray<char> a(1);
            a.set(INT_MAX / 2, 'x');
        },
        testing::ExitedWithCode(1), "ExtArray: Out of memory");
}

}  // namespace
