// Tests of ArgList: the V1 (Unix, Windows, wacked) and V2 (raw, quoted)
// readers and writers with their error texts, the combined V1-or-V2 form,
// round trips, and list editing with its contract violations.
#include "process/arg_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Strings;

Strings Args(const ArgList &list) {
    Strings out;
    for (int i = 0; i < list.Count(); ++i) {
        out.emplace_back(list.GetArg(i));
    }
    return out;
}

ArgList ListOf(const Strings &args) {
    ArgList list;
    for (const std::string &arg : args) {
        list.AppendArg(arg.c_str());
    }
    return list;
}

ArgList Win32List() {
    ArgList list;
    list.SetArgV1Syntax(ArgList::V1_SYNTAX_WIN32);
    return list;
}

TEST(ArgListV2Test, RawReading) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV2Raw(" a 'b c'\td\n'it''s' '' x'y z'w\v ", nullptr));
    EXPECT_EQ((Strings{"a", "b c", "d", "it's", "", "xy zw\v"}), Args(list));

    MyString error("old");
    ArgList bad;
    EXPECT_FALSE(bad.AppendArgsV2Raw("ok 'abc", &error));
    EXPECT_STREQ("Unbalanced quote starting here: 'abc", error.Value());
    EXPECT_EQ((Strings{"ok"}), Args(bad));  // no roll-back
    EXPECT_FALSE(bad.AppendArgsV2Raw("'''", nullptr));
}

TEST(ArgListV2Test, RawWritingMergesQuotedSectionsAndReadsBack) {
    ArgList list = ListOf({"a b", "", "it's"});
    MyString raw;
    ASSERT_TRUE(list.GetArgsStringV2Raw(&raw, nullptr));
    EXPECT_STREQ("a' 'b '' it''''s", raw.Value());
    ArgList back;
    ASSERT_TRUE(back.AppendArgsV2Raw(raw.Value(), nullptr));
    EXPECT_EQ(Args(list), Args(back));

    MyString more;
    ListOf({"a  b", "x", "'\t'", "z"}).GetArgsStringV2Raw(&more, nullptr, 1);
    EXPECT_STREQ("x '''\t''' z", more.Value());
    char **array = ListOf({"a  b", "x", ""}).GetStringArray();
    MyString joined;
    join_args(array, &joined);
    deleteStringArray(array);
    EXPECT_STREQ("a'  'b x ''", joined.Value());
}

TEST(ArgListV2Test, Quoted) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV1RawOrV2Quoted("  \"a \"\"b\"\" c\"  ", nullptr));
    EXPECT_EQ((Strings{"a", "\"b\"", "c"}), Args(list));
    MyString quoted;
    list.GetArgsStringV2Quoted(&quoted, nullptr);
    EXPECT_STREQ("\"a \"\"b\"\" c\"", quoted.Value());

    MyString error;
    ArgList bad;
    EXPECT_FALSE(bad.AppendArgsV2Quoted("\"a\" b", &error));
    EXPECT_STREQ(
        "Unexpected characters following double-quote.  Did you forget to escape the "
        "double-quote by repeating it?  Here is the quote and trailing characters: \" b\n",
        error.Value());
    MyString unterminated("first");
    EXPECT_FALSE(bad.AppendArgsV2Quoted("\"abc", &unterminated));
    EXPECT_STREQ("first\nUnterminated double-quote.", unterminated.Value());
    MyString not_quoted;
    EXPECT_FALSE(bad.AppendArgsV2Quoted("abc", &not_quoted));
    EXPECT_STREQ("Expecting double-quoted input string (V2 format).", not_quoted.Value());
}

TEST(ArgListV1Test, UnixSplitsAtWhiteSpaceOnly) {
    ArgList list;
    ASSERT_TRUE(list.AppendArgsV1Raw("  a\\ b\t'c d'\r\n\"e\"  ", nullptr));
    EXPECT_EQ((Strings{"a\\", "b", "'c", "d'", "\"e\""}), Args(list));
    EXPECT_TRUE(list.AppendArgsV1Raw(nullptr, nullptr));
    EXPECT_EQ(5, list.Count());
}

// The current platform's V1 flavour is the Unix one, even after another
// was chosen: quotes then split nothing.
TEST(ArgListV1Test, CurrentPlatformFlavourIsUnix) {
    ArgList list = Win32List();
    list.SetArgV1SyntaxToCurrentPlatform();
    ASSERT_TRUE(list.AppendArgsV1Raw("\"a b\" c", nullptr));
    EXPECT_EQ((Strings{"\"a", "b\"", "c"}), Args(list));
}

TEST(ArgListV1Test, WindowsQuotesAndBackslashes) {
    ArgList list = Win32List();
    ASSERT_TRUE(
        list.AppendArgsV1Raw("\"a b\" c \"a\\\"b\" \"a\\\\\\\\\" a\\b \"\" x\"y z\"w", nullptr));
    EXPECT_EQ((Strings{"a b", "c", "a\"b", "a\\\\", "a\\b", "", "xy zw"}), Args(list));

    MyString error("earlier");
    ArgList bad = Win32List();
    EXPECT_FALSE(bad.AppendArgsV1Raw("ok \"abc", &error));
    EXPECT_STREQ("earlier\nUnterminated quote in windows argument string starting here: \"abc",
                 error.Value());
}

TEST(ArgListV1Test, Wacked) {
    MyString raw;
    EXPECT_TRUE(ArgList::V1WackedToV1Raw("a\\\"b c\\d", &raw, nullptr));
    EXPECT_STREQ("a\"b c\\d", raw.Value());
    MyString error;
    MyString ignored;
    EXPECT_FALSE(ArgList::V1WackedToV1Raw("a\"b", &ignored, &error));
    EXPECT_STREQ("Found illegal unescaped double-quote: \"b", error.Value());

    ArgList list = ListOf({"say", "\"hi\""});
    MyString wacked;
    ASSERT_TRUE(list.GetArgsStringV1WackedOrV2Quoted(&wacked, nullptr));
    EXPECT_STREQ("say \\\"hi\\\"", wacked.Value());
    ArgList back;
    ASSERT_TRUE(back.AppendArgsV1WackedOrV2Quoted(wacked.Value(), nullptr));
    EXPECT_EQ(Args(list), Args(back));

    // An argument V1 cannot hold switches the whole text to V2 quoted.
    MyString v2;
    ListOf({"a b", "c"}).GetArgsStringV1WackedOrV2Quoted(&v2, nullptr);
    EXPECT_STREQ("\"a' 'b c\"", v2.Value());
}

TEST(ArgListV1Test, V1RawWritingRefusesWhatItCannotHold) {
    MyString v1;
    ASSERT_TRUE(ListOf({"a", "b\\c"}).GetArgsStringV1Raw(&v1, nullptr));
    EXPECT_STREQ("a b\\c", v1.Value());

    MyString error("earlier text");
    MyString out;
    EXPECT_FALSE(ListOf({"x", "a b"}).GetArgsStringV1Raw(&out, &error));
    EXPECT_STREQ("Cannot represent 'a b' in V1 arguments syntax.", error.Value());
    // An empty argument would vanish from a V1 text.
    EXPECT_FALSE(ListOf({"", "b"}).GetArgsStringV1Raw(&out, &error));
    EXPECT_STREQ("Cannot represent '' in V1 arguments syntax.", error.Value());
}

TEST(ArgListV1or2Test, PrefersV1AndMarksV2WithABlank) {
    MyString plain;
    ListOf({"a", "b"}).GetArgsStringV1or2Raw(&plain, nullptr);
    EXPECT_STREQ("a b", plain.Value());

    const Strings hard_cases[] = {{"a b"}, {"", "b"}, {"x", "it's here"}};
    MyString expected[] = {"  a' 'b", "  '' b", "  x it''''s' 'here"};
    for (int i = 0; i < 3; ++i) {
        MyString text;
        ArgList list = ListOf(hard_cases[i]);
        ASSERT_TRUE(list.GetArgsStringV1or2Raw(&text, nullptr));
        EXPECT_EQ(expected[i], text);
        ArgList back;
        ASSERT_TRUE(back.AppendArgsV1or2Raw(text.Value(), nullptr));
        EXPECT_EQ(hard_cases[i], Args(back));
    }
    ArgList v1;
    ASSERT_TRUE(v1.AppendArgsV1or2Raw("a 'b'", nullptr));
    EXPECT_EQ((Strings{"a", "'b'"}), Args(v1));
}

TEST(ArgListWin32Test, CommandLineQuoting) {
    ArgList list = ListOf({"plain\\path", "a b", "say \"hi\"", "dir\\ x\\", "", "a\\\\\"b"});
    MyString line;
    ASSERT_TRUE(list.GetArgsStringWin32(&line, 0, nullptr));
    EXPECT_STREQ("plain\\path \"a b\" \"say \\\"hi\\\"\" \"dir\\ x\\\\\" \"\" \"a\\\\\\\\\\\"b\"",
                 line.Value());
    ArgList back = Win32List();
    ASSERT_TRUE(back.AppendArgsV1Raw(line.Value(), nullptr));
    EXPECT_EQ(Args(list), Args(back));

    MyString skipped;
    list.GetArgsStringWin32(&skipped, 4, nullptr);
    EXPECT_STREQ("\"\" \"a\\\\\\\\\\\"b\"", skipped.Value());
}

TEST(ArgListWin32Test, UnspecifiedFlavourIsNeverRequoted) {
    ArgList parsed;
    ASSERT_TRUE(parsed.AppendArgsV1Raw("a \"b", nullptr));
    ArgList copy;
    copy.AppendArg("c d");
    copy.AppendArgsFromArgList(parsed);
    MyString line;
    copy.GetArgsStringWin32(&line, 0, nullptr);
    EXPECT_STREQ("c d a \"b", line.Value());
}

TEST(ArgListEditTest, InsertRemoveAndArrays) {
    ArgList list = ListOf({"b", "d"});
    list.InsertArg("a", 0);
    list.InsertArg("c", 2);
    list.InsertArg("e", list.Count());
    list.AppendArg(-7);
    EXPECT_EQ((Strings{"a", "b", "c", "d", "e", "-7"}), Args(list));
    EXPECT_EQ(nullptr, list.GetArg(list.Count()));
    EXPECT_EQ(nullptr, list.GetArg(-1));
    list.RemoveArg(0);
    list.RemoveArg(2);
    EXPECT_EQ((Strings{"b", "c", "e", "-7"}), Args(list));

    char **array = list.GetStringArray();
    ASSERT_NE(nullptr, array);
    EXPECT_STREQ("b", array[0]);
    EXPECT_STREQ("-7", array[3]);
    EXPECT_EQ(nullptr, array[4]);
    deleteStringArray(array);
    deleteStringArray(nullptr);

    char **split = nullptr;
    ASSERT_TRUE(split_args("x 'y z'", &split, nullptr));
    EXPECT_STREQ("y z", split[1]);
    EXPECT_EQ(nullptr, split[2]);
    deleteStringArray(split);
    EXPECT_FALSE(split_args("'x", &split, nullptr));
    EXPECT_EQ(nullptr, split);

    list.Clear();
    EXPECT_EQ(0, list.Count());
}

TEST(ArgListDeathTest, ContractViolationsAreFatal) {
    ArgList list = ListOf({"a"});
    EXPECT_EXIT(list.RemoveArg(1), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(pos >= 0 && pos < Count\\(\\)\\).*arglist");
    EXPECT_EXIT(list.InsertArg("x", 2), testing::ExitedWithCode(4),
                "pos >= 0 && pos <= Count\\(\\)");
    EXPECT_EXIT(list.AppendArg(static_cast<const char *>(nullptr)), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(arg\\)");
    EXPECT_EXIT(list.GetArgsStringV2Raw(nullptr, nullptr), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(result\\)");
    ArgList bad;
    bad.SetArgV1Syntax(static_cast<ArgList::ArgV1Syntax>(3));
    EXPECT_EXIT(bad.AppendArgsV1Raw("a", nullptr), testing::ExitedWithCode(4),
                "Unexpected v1_syntax=3 in AppendArgsV1Raw");
}

}  // namespace
