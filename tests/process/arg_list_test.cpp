// Tests of the argument-list parsing used for piped configuration sources:
// V1 raw, V2 raw and V2 quoted, with their error texts.
#include "process/arg_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/my_string.h"

namespace {

std::vector<std::string> Args(const ArgList &list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) {
        out.emplace_back(list.GetArg(i));
    }
    return out;
}

TEST(ArgListTest, V1RawSplitsAtWhiteSpaceOnly) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV1Raw("  a\\ b\t'c d'\r\n\"e\"  ", nullptr));
    EXPECT_EQ((std::vector<std::string>{"a\\", "b", "'c", "d'", "\"e\""}), Args(list));
    EXPECT_TRUE(list.AppendArgsV1Raw(nullptr, nullptr));
    EXPECT_EQ(5, list.Count());
    EXPECT_EQ(nullptr, list.GetArg(5));
}

TEST(ArgListTest, V2RawQuoting) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV2Raw("a 'b c' d 'it''s' '' x'y z'w", nullptr));
    EXPECT_EQ((std::vector<std::string>{"a", "b c", "d", "it's", "", "xy zw"}), Args(list));

    MyString error("old");
    ArgList bad;
    EXPECT_FALSE(bad.AppendArgsV2Raw("ok 'abc", &error));
    EXPECT_STREQ("Unbalanced quote starting here: 'abc", error.Value());
}

TEST(ArgListTest, V2Quoted) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV1RawOrV2Quoted("  \"a \"\"b\"\" c\"  ", nullptr));
    EXPECT_EQ((std::vector<std::string>{"a", "\"b\"", "c"}), Args(list));

    MyString error;
    ArgList bad;
    EXPECT_FALSE(bad.AppendArgsV2Quoted("\"a\" b", &error));
    EXPECT_STREQ("Unexpected characters following double-quote.  Did you forget to escape the "
                 "double-quote by repeating it?  Here is the quote and trailing characters: \" b\n",
                 error.Value());
    MyString unterminated("first");
    EXPECT_FALSE(bad.AppendArgsV2Quoted("\"abc", &unterminated));
    EXPECT_STREQ("first\nUnterminated double-quote.", unterminated.Value());
    MyString not_quoted;
    EXPECT_FALSE(bad.AppendArgsV2Quoted("abc", &not_quoted));
    EXPECT_STREQ("Expecting double-quoted input string (V2 format).", not_quoted.Value());
}

TEST(ArgListTest, StringArrayIsNullTerminated) {
    ArgList list;
    list.AppendArg("x");
    list.AppendArg("");
    char **array = list.GetStringArray();
    ASSERT_NE(nullptr, array);
    EXPECT_STREQ("x", array[0]);
    EXPECT_STREQ("", array[1]);
    EXPECT_EQ(nullptr, array[2]);
    deleteStringArray(array);
    deleteStringArray(nullptr);
    list.Clear();
    EXPECT_EQ(0, list.Count());
}

}  // namespace
