// ArgList at sizes a job with a long argument list reaches: editing at the
// end and reading every argument must grow linearly with the list, removing
// at the front must shift the arguments rather than copy their texts, and
// copies of a list must own their own arguments. Growth is timed in CPU
// seconds, which other jobs on the machine cannot stretch.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "process/arg_list.h"
#include "tests/support/growth_check.h"

namespace {

// A list of n arguments "0", "1", ...
ArgList Numbered(size_t n) {
    ArgList list;
    for (size_t i = 0; i < n; ++i) {
        list.AppendArg(static_cast<int>(i));
    }
    return list;
}

TEST(ArgListGrowthTest, InsertingAtTheEndIsLinear) {
    EXPECT_LINEAR_GROWTH(1000, [](size_t n) {
        ArgList list;
        for (size_t i = 0; i < n; ++i) {
            list.InsertArg("argument", list.Count());
        }
        ASSERT_EQ(static_cast<int>(n), list.Count());
    });
}

TEST(ArgListGrowthTest, ReadingEveryArgumentIsLinear) {
    EXPECT_LINEAR_GROWTH(1000, [](size_t n) {
        ArgList list = Numbered(n);
        size_t total = 0;
        for (int i = 0; i < list.Count(); ++i) {
            total += strlen(list.GetArg(i));
        }
        ASSERT_GE(total, n);
    });
}

TEST(ArgListGrowthTest, RemovingTheLastArgumentIsLinear) {
    EXPECT_LINEAR_GROWTH(1000, [](size_t n) {
        ArgList list = Numbered(n);
        while (list.Count() > 0) {
            list.RemoveArg(list.Count() - 1);
        }
    });
}

TEST(ArgListGrowthTest, EditsAtEveryPlaceKeepTheOrder) {
    ArgList list = Numbered(1000);
    // Front, middle and end, in both directions, across several growths.
    for (int i = 0; i < 500; ++i) {
        int middle = list.Count() / 2;
        list.InsertArg("m", middle);
        list.InsertArg("f", 0);
        list.InsertArg("e", list.Count());
        ASSERT_STREQ("m", list.GetArg(middle + 1));
        list.RemoveArg(0);
        list.RemoveArg(middle);
        list.RemoveArg(list.Count() - 1);
    }
    ASSERT_EQ(1000, list.Count());
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(std::to_string(i), list.GetArg(i)) << i;
    }
}

// The arguments behind the removed one move down as they are: the text
// GetArg gave for argument 1 is the text of argument 0 afterwards.
TEST(ArgListGrowthTest, RemovingAtTheFrontCopiesNoText) {
    ArgList list = Numbered(100);
    const char *second = list.GetArg(1);
    const char *last = list.GetArg(99);
    list.RemoveArg(0);
    EXPECT_EQ(second, list.GetArg(0));
    EXPECT_EQ(last, list.GetArg(98));
    EXPECT_STREQ("1", list.GetArg(0));
}

TEST(ArgListGrowthTest, CopiesOwnTheirArguments) {
    ArgList original = Numbered(3);
    original.SetArgV1Syntax(ArgList::V1_SYNTAX_WIN32);
    ArgList copy(original);
    ArgList assigned;
    assigned.AppendArg("old");
    assigned = original;
    original.RemoveArg(0);
    original.InsertArg("x", 0);
    original.Clear();
    for (const ArgList *list : {&copy, &assigned}) {
        ASSERT_EQ(3, list->Count());
        EXPECT_STREQ("0", list->GetArg(0));
        EXPECT_STREQ("2", list->GetArg(2));
    }
    // The V1 flavour travels with the copy.
    MyString error;
    ASSERT_TRUE(copy.AppendArgsV1Raw("\"a b\"", &error)) << error.Value();
    EXPECT_STREQ("a b", copy.GetArg(3));

    // Appending a list to itself doubles it.
    assigned.AppendArgsFromArgList(assigned);
    ASSERT_EQ(6, assigned.Count());
    EXPECT_STREQ("0", assigned.GetArg(3));
    const ArgList &same = assigned;
    assigned = same;
    EXPECT_EQ(6, assigned.Count());
}

}  // namespace
