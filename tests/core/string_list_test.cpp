// Tests for StringList: splitting at delimiters and white space, the one
// cursor shared by iteration, insertion and removal, the membership
// operations (exact, case-blind, prefix, wildcard), joining, copying, and
// the contract violations that end the process.
#include "core/string_list.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/address_space.h"
#include "tests/support/output_capture.h"

namespace {

// The entries in order, read with the list's own cursor.
std::vector<std::string> Entries(StringList &list) {
    std::vector<std::string> out;
    list.rewind();
    for (char *entry = list.next(); entry != nullptr; entry = list.next()) {
        out.emplace_back(entry);
    }
    return out;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(StringListTest, SplitsAtBlankAndComma) {
    StringList list("a, b ,c", " ,");
    EXPECT_EQ(3, list.number());
    EXPECT_EQ((Words{"a", "b", "c"}), Entries(list));
}

TEST(StringListTest, WhiteSpaceStaysInsideEntriesWithOtherDelimiters) {
    StringList list("a , b", ",");
    EXPECT_EQ((Words{"a ", "b"}), Entries(list));
    StringList tabs("\t x y ,z", ",");
    EXPECT_EQ((Words{"x y ", "z"}), Entries(tabs));
}

TEST(StringListTest, TrailingDelimitersGiveOneEmptyEntry) {
    StringList comma("a,", " ,");
    EXPECT_EQ((Words{"a", ""}), Entries(comma));
    StringList comma_blank("a, ", " ,");
    EXPECT_EQ((Words{"a", ""}), Entries(comma_blank));
    StringList blanks("  ", " ,");
    EXPECT_EQ((Words{""}), Entries(blanks));
    StringList empty("", " ,");
    EXPECT_TRUE(empty.isEmpty());
    StringList none(nullptr, " ,");
    EXPECT_EQ(0, none.number());
}

TEST(StringListTest, InitializeFromStringAppends) {
    StringList list("x");
    list.initializeFromString("y z");
    list.initializeFromString(nullptr);
    EXPECT_EQ((Words{"x", "y", "z"}), Entries(list));
}

TEST(StringListTest, IsSeparator) {
    StringList list(nullptr, ",;");
    EXPECT_TRUE(list.isSeparator(','));
    EXPECT_TRUE(list.isSeparator(';'));
    EXPECT_FALSE(list.isSeparator(' '));
    EXPECT_FALSE(list.isSeparator('\0'));
}

TEST(StringListTest, AppendMovesCursorToNewEntry) {
    StringList list("a b");
    list.rewind();
    list.next();
    EXPECT_TRUE(list.append("c"));
    EXPECT_EQ(nullptr, list.next());  // the cursor is on "c", the last
    EXPECT_FALSE(list.append(nullptr));
    EXPECT_EQ(3, list.number());
}

TEST(StringListTest, InsertGoesBeforeCursorOrToTheEnd) {
    StringList list("a b");
    list.rewind();
    list.insert("end");
    EXPECT_EQ((Words{"a", "b", "end"}), Entries(list));

    list.rewind();
    list.next();
    list.next();  // on "b"
    list.insert("mid");
    EXPECT_STREQ("end", list.next());  // the cursor stayed on "b"
    EXPECT_EQ((Words{"a", "mid", "b", "end"}), Entries(list));
}

TEST(StringListTest, NextAtEndStaysOnLast) {
    StringList list("a b");
    list.rewind();
    list.next();
    list.next();
    EXPECT_EQ(nullptr, list.next());
    EXPECT_EQ(nullptr, list.next());
    list.deleteCurrent();  // still on "b"
    EXPECT_EQ((Words{"a"}), Entries(list));
}

TEST(StringListTest, DeleteCurrentStepsBack) {
    StringList list("a b c");
    list.rewind();
    list.next();
    list.deleteCurrent();
    EXPECT_STREQ("b", list.next());
    list.deleteCurrent();
    EXPECT_STREQ("c", list.next());
    EXPECT_EQ(1, list.number());
}

TEST(StringListTest, ClearAllEmpties) {
    StringList list("a b c");
    list.clearAll();
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(nullptr, list.next());
    list.append("d");
    EXPECT_EQ((Words{"d"}), Entries(list));
}

TEST(StringListTest, ContainsExactAndAnycase) {
    StringList list("Alpha beta");
    EXPECT_TRUE(list.contains("beta"));
    EXPECT_FALSE(list.contains("alpha"));
    EXPECT_FALSE(list.contains("bet"));
    EXPECT_TRUE(list.contains_anycase("ALPHA"));
    EXPECT_FALSE(list.contains_anycase("alphas"));
    EXPECT_FALSE(list.contains(nullptr));
    EXPECT_FALSE(list.contains_anycase(nullptr));
}

TEST(StringListTest, ContainsLeavesCursorOnMatch) {
    StringList list("a b c");
    EXPECT_TRUE(list.contains("b"));
    EXPECT_STREQ("c", list.next());
}

TEST(StringListTest, RemoveEveryEqualEntry) {
    StringList list("x y x");
    list.remove("x");
    EXPECT_EQ((Words{"y"}), Entries(list));
    StringList mixed("X y x Xx");
    mixed.remove_anycase("x");
    EXPECT_EQ((Words{"y", "Xx"}), Entries(mixed));
    mixed.remove(nullptr);
    EXPECT_EQ(2, mixed.number());
}

TEST(StringListTest, RemoveAdjacentMatchesSkipsNone) {
    StringList list("x x x y x x");
    list.remove("x");
    EXPECT_EQ((Words{"y"}), Entries(list));
}

TEST(StringListTest, SubstringIsPrefixTest) {
    StringList he("he");
    EXPECT_TRUE(he.substring("hello"));
    StringList longer("hello!");
    EXPECT_FALSE(longer.substring("hello"));
    StringList with_empty("zzz,", ",");  // "zzz" and ""
    EXPECT_TRUE(with_empty.substring("anything"));
    EXPECT_FALSE(he.substring(nullptr));
}

TEST(StringListTest, ContainsList) {
    StringList big("a b c");
    StringList part("c a");
    StringList upper("A C");
    StringList empty;
    EXPECT_TRUE(big.contains_list(part, false));
    EXPECT_FALSE(big.contains_list(upper, false));
    EXPECT_TRUE(big.contains_list(upper, true));
    EXPECT_TRUE(big.contains_list(empty, false));
    EXPECT_FALSE(part.contains_list(big, false));
    EXPECT_TRUE(big.contains_list(big, false));
}

TEST(StringListTest, CreateUnion) {
    StringList list("a b");
    StringList same("b a");
    EXPECT_FALSE(list.create_union(same, false));
    EXPECT_EQ(2, list.number());
    StringList more("B c");
    EXPECT_TRUE(list.create_union(more, true));
    EXPECT_EQ((Words{"a", "b", "c"}), Entries(list));
    EXPECT_TRUE(list.create_union(more, false));
    EXPECT_EQ((Words{"a", "b", "c", "B"}), Entries(list));
    EXPECT_FALSE(list.create_union(list, false));
    EXPECT_EQ(4, list.number());
}

TEST(StringListTest, WildcardFirstMatchingPatternWins) {
    StringList list("foo* *bar a*z *");
    EXPECT_TRUE(list.contains_withwildcard("foobar"));
    EXPECT_STREQ("*bar", list.string_anycase_withwildcard("XBAR"));
    EXPECT_STREQ("foo*", list.string_anycase_withwildcard("FOOBAR"));
    EXPECT_STREQ("a*z", list.string_anycase_withwildcard("az"));
    EXPECT_STREQ("*", list.string_anycase_withwildcard("anything"));
    EXPECT_STREQ("*", list.string_anycase_withwildcard(""));
    EXPECT_FALSE(list.contains_withwildcard(nullptr));
    EXPECT_EQ(nullptr, list.string_anycase_withwildcard(nullptr));
}

TEST(StringListTest, WildcardForms) {
    StringList prefix("ab*");
    EXPECT_TRUE(prefix.contains_withwildcard("ab"));
    EXPECT_TRUE(prefix.contains_withwildcard("abc"));
    EXPECT_FALSE(prefix.contains_withwildcard("a"));
    EXPECT_FALSE(prefix.contains_withwildcard("ABC"));
    EXPECT_TRUE(prefix.contains_anycase_withwildcard("ABC"));

    StringList suffix("*.org");
    EXPECT_TRUE(suffix.contains_withwildcard(".org"));
    EXPECT_TRUE(suffix.contains_withwildcard("x.org"));
    EXPECT_FALSE(suffix.contains_withwildcard("org"));
    EXPECT_FALSE(suffix.contains_withwildcard("x.ORG"));
    EXPECT_TRUE(suffix.contains_anycase_withwildcard("x.ORG"));

    StringList inside("a*a");
    EXPECT_TRUE(inside.contains_withwildcard("a"));  // prefix and suffix overlap
    EXPECT_TRUE(inside.contains_withwildcard("abca"));
    EXPECT_FALSE(inside.contains_withwildcard("ab"));
    EXPECT_FALSE(inside.contains_withwildcard(""));

    StringList plain("exact");
    EXPECT_TRUE(plain.contains_withwildcard("exact"));
    EXPECT_FALSE(plain.contains_withwildcard("exactly"));
}

TEST(StringListTest, OnlyFirstStarIsWildcard) {
    StringList list("a*b*");
    EXPECT_TRUE(list.contains_withwildcard("axxb*"));
    EXPECT_FALSE(list.contains_withwildcard("axxbyy"));
    StringList lead("**x");
    EXPECT_TRUE(lead.contains_withwildcard("q*x"));
    EXPECT_FALSE(lead.contains_withwildcard("qx"));
}

TEST(StringListTest, PrintToString) {
    StringList list("a b");
    char *joined = list.print_to_string();
    ASSERT_NE(nullptr, joined);
    EXPECT_STREQ("a,b", joined);
    free(joined);

    StringList with_empty;
    with_empty.append("");
    with_empty.append("b");
    joined = with_empty.print_to_string();
    ASSERT_NE(nullptr, joined);
    EXPECT_STREQ(",b", joined);
    free(joined);
    with_empty.rewind();
    with_empty.insert("");  // at the end
    joined = with_empty.print_to_string();
    EXPECT_STREQ(",b,", joined);
    free(joined);

    StringList empty;
    EXPECT_EQ(nullptr, empty.print_to_string());
}

TEST(StringListTest, PrintWritesBracketedLines) {
    StringList list("a b");
    torvel_test::OutputCapture captured_out(STDOUT_FILENO);
    list.print();
    fflush(stdout);
    EXPECT_EQ("[a]\n[b]\n", captured_out.Finish());
}

TEST(StringListTest, CopiesAreDeepAndIndependent) {
    StringList original("a;b", ";");
    StringList copy(original);
    copy.append("c");
    copy.rewind();
    copy.next();
    copy.deleteCurrent();
    EXPECT_EQ((Words{"a", "b"}), Entries(original));
    EXPECT_EQ((Words{"b", "c"}), Entries(copy));
    EXPECT_TRUE(copy.isSeparator(';'));
    EXPECT_FALSE(copy.isSeparator(','));

    StringList assigned("x y z");
    assigned = original;
    EXPECT_EQ((Words{"a", "b"}), Entries(assigned));
    EXPECT_TRUE(assigned.isSeparator(';'));
    assigned = assigned;
    EXPECT_EQ((Words{"a", "b"}), Entries(assigned));
    // Each destructor frees its own entries; the sanitizer build reports a
    // double free if any were shared.
}

TEST(StringListDeathTest, DeleteCurrentWithoutEntryStops) {
    EXPECT_EXIT(
        {
            StringList list("a");
            list.rewind();
            list.deleteCurrent();
        },
        testing::ExitedWithCode(4), "Assertion ERROR on \\(current != dummy\\)");
}

TEST(StringListDeathTest, MissingDelimitersStop) {
    EXPECT_EXIT({ StringList list("a", nullptr); }, testing::ExitedWithCode(4), "Assertion ERROR");
}

#if !defined(__SANITIZE_ADDRESS__)
// The address-space limit that starves the allocation cannot be used under
// the sanitizer, whose shadow memory needs far more.
TEST(StringListDeathTest, PrintToStringOutOfMemoryIsFatal) {
    EXPECT_EXIT(
        {
            std::string big(64 << 20, 'b');
            StringList list(nullptr, ",");
            list.append(big.c_str());
            torvel_test::LimitAddressSpace(16UL << 20);
            free(list.print_to_string());
            exit(0);
        },
        testing::ExitedWithCode(4),
        "ERROR \"Out of memory in StringList::print_to_string\" at line [0-9]+ in file "
        "string_list");
}
#endif
