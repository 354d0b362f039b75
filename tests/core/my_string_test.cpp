// Tests for MyString and MyStringHash: growth and capacity rules, clamped
// positions, comparison of strings with and without an array, formatting,
// tokens, line reading, stream input, and arguments that point into the
// string itself (run these under the sanitizer build to catch stale reads).
#include "core/my_string.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/address_space.h"

namespace {

// Writes text to a temporary file and rewinds it; the caller fcloses it.
FILE *FileWith(const std::string &text) {
    FILE *fp = tmpfile();
    if (fp != nullptr) {
        fwrite(text.data(), 1, text.size(), fp);
        rewind(fp);
    }
    return fp;
}

}  // namespace

TEST(MyStringTest, ConstructionAndArrays) {
    MyString none;
    EXPECT_STREQ("", none.Value());
    EXPECT_EQ(nullptr, none.GetCStr());
    EXPECT_EQ(0, none.Length());
    EXPECT_EQ(nullptr, MyString("").GetCStr());  // empty text allocates nothing
    MyString number(INT_MIN);
    EXPECT_STREQ("-2147483648", number.Value());
    EXPECT_EQ(11, number.Capacity());  // exactly its length
}

TEST(MyStringTest, AppendsDoubleTheCapacity) {
    MyString s;
    s += "abc";
    EXPECT_EQ(3, s.Capacity());
    s += 'd';
    EXPECT_EQ(6, s.Capacity());
    s += "ef";
    EXPECT_EQ(6, s.Capacity());
    s += 'g';
    EXPECT_EQ(12, s.Capacity());
    EXPECT_STREQ("abcdefg", s.Value());
    // A piece larger than twice the capacity is reserved exactly.
    s += std::string(40, 'x').c_str();
    EXPECT_EQ(47, s.Capacity());
    EXPECT_EQ(47, s.Length());
}

TEST(MyStringTest, AssignmentAllocatesExactlyAndReuses) {
    MyString s;
    s = "hello";
    EXPECT_EQ(5, s.Capacity());
    s = "hi";
    EXPECT_EQ(5, s.Capacity());
    EXPECT_STREQ("hi", s.Value());
    s = "longer text";
    EXPECT_EQ(11, s.Capacity());
    s = "";
    EXPECT_NE(nullptr, s.GetCStr());  // the array stays, emptied
    EXPECT_EQ(0, s.Length());
    EXPECT_EQ(11, s.Capacity());

    MyString t;
    t = s;  // source with an array holding "" gives the target an array
    EXPECT_NE(nullptr, t.GetCStr());
    EXPECT_EQ(0, t.Capacity());
    MyString none;
    s = none;
    EXPECT_NE(nullptr, s.GetCStr());
    EXPECT_EQ(0, s.Length());
}

TEST(MyStringTest, CopiesAreIndependent) {
    MyString a("abc");
    MyString b(a);
    b += "def";
    b.setChar(0, 'X');
    EXPECT_STREQ("abc", a.Value());
    EXPECT_STREQ("Xbcdef", b.Value());
    a = a;  // self-assignment leaves it unchanged
    EXPECT_STREQ("abc", a.Value());
}

TEST(MyStringTest, ReserveCutsAndRejectsNegative) {
    MyString s("hello");
    EXPECT_TRUE(s.reserve(2));
    EXPECT_STREQ("he", s.Value());
    EXPECT_EQ(2, s.Length());
    EXPECT_EQ(2, s.Capacity());
    EXPECT_FALSE(s.reserve(-1));
    EXPECT_STREQ("he", s.Value());
    EXPECT_TRUE(s.reserve(10));
    EXPECT_EQ(10, s.Capacity());
    EXPECT_STREQ("he", s.Value());
    MyString empty;
    EXPECT_TRUE(empty.reserve(0));
    EXPECT_NE(nullptr, empty.GetCStr());
}

TEST(MyStringTest, ReserveAtLeastDoublesWhenThatSuffices) {
    MyString s("abcd");
    EXPECT_TRUE(s.reserve_at_least(5));
    EXPECT_EQ(8, s.Capacity());
    EXPECT_TRUE(s.reserve_at_least(100));
    EXPECT_EQ(100, s.Capacity());
    EXPECT_STREQ("abcd", s.Value());
}

TEST(MyStringTest, IndexOutOfRange) {
    MyString s("abc");
    EXPECT_EQ('\0', static_cast<const MyString &>(s)[3]);
    s[1] = 'X';
    s[10] = 'Q';  // lands in the scratch byte, which is reset on each use
    EXPECT_EQ('\0', s[10]);
    EXPECT_EQ('\0', s[-1]);
    EXPECT_STREQ("aXc", s.Value());
}

TEST(MyStringTest, SetCharWithNulCuts) {
    MyString s("abcdef");
    s.setChar(2, 'Z');
    s.setChar(6, 'Q');
    s.setChar(-1, 'Q');
    EXPECT_STREQ("abZdef", s.Value());
    s.setChar(3, '\0');
    EXPECT_EQ(3, s.Length());
    EXPECT_STREQ("abZ", s.Value());
}

TEST(MyStringTest, NumericAppends) {
    MyString s;
    s += 42;
    s += ' ';
    s += 4000000000u;
    s += ' ';
    s += -9000000000L;
    s += ' ';
    s += 1.5;
    EXPECT_STREQ("42 4000000000 -9000000000 1.500000", s.Value());
}

TEST(MyStringTest, HugeDoubleIsCutTo127Characters) {
    char full[400];
    snprintf(full, sizeof full, "%f", 1e200);
    ASSERT_GT(strlen(full), 127u);
    MyString s("x");
    s += 1e200;
    EXPECT_EQ(128, s.Length());
    EXPECT_EQ(0, strncmp(s.Value() + 1, full, 127));
}

TEST(MyStringTest, NulAndNullAppendsChangeNothing) {
    MyString s("ab");
    s += '\0';
    s += static_cast<const char *>(nullptr);
    s += "";
    EXPECT_EQ(2, s.Length());
    MyString none;
    none += "";
    EXPECT_EQ(nullptr, none.GetCStr());
    none += MyString();  // appending a MyString always gives an array
    EXPECT_NE(nullptr, none.GetCStr());
}

TEST(MyStringTest, ConcatenationOperator) {
    MyString a("foo");
    MyString b("bar");
    EXPECT_STREQ("foobar", (a + b).Value());
    EXPECT_STREQ("foo", (a + MyString()).Value());
    EXPECT_STREQ("foo", a.Value());
}

TEST(MyStringTest, SprintfFormatsAndAppends) {
    MyString s("old");
    EXPECT_TRUE(s.sprintf("%d-%s", 7, "x"));
    EXPECT_STREQ("7-x", s.Value());
    EXPECT_TRUE(s.sprintf_cat("+%s", "y"));
    EXPECT_STREQ("7-x+y", s.Value());
    EXPECT_TRUE(s.sprintf_cat(nullptr));
    EXPECT_STREQ("7-x+y", s.Value());
    std::string long_text(1000, 'q');
    EXPECT_TRUE(s.sprintf_cat("%s", long_text.c_str()));
    EXPECT_EQ(1005, s.Length());
}

// The va_list form, as a caller forwarding its own arguments uses it.
static bool AppendFormatted(MyString *s, const char *format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = s->vsprintf_cat(format, args);
    va_end(args);
    return ok;
}

TEST(MyStringTest, VsprintfCatAppendsForwardedArgumentsOrLeavesTheText) {
    MyString s("a");
    EXPECT_TRUE(AppendFormatted(&s, "%d%s", 1, "b"));
    EXPECT_STREQ("a1b", s.Value());
    EXPECT_FALSE(AppendFormatted(&s, "x%lc", static_cast<wint_t>(0xD800)));
    EXPECT_STREQ("a1b", s.Value());
}

TEST(MyStringTest, FormattingFailureLeavesTextUnchanged) {
    // An unpaired surrogate cannot be converted in the C locale, so the
    // formatted length cannot be measured.
    MyString s("keep");
    EXPECT_FALSE(s.sprintf_cat("x%lc", static_cast<wint_t>(0xD800)));
    EXPECT_STREQ("keep", s.Value());
    EXPECT_FALSE(s.sprintf("x%lc", static_cast<wint_t>(0xD800)));
    EXPECT_STREQ("keep", s.Value());
}

TEST(MyStringTest, Substr) {
    MyString s("hello");
    EXPECT_STREQ("llo", s.Substr(2, 100).Value());
    EXPECT_STREQ("he", s.Substr(-5, 1).Value());
    EXPECT_EQ(0, s.Substr(3, 2).Length());
    EXPECT_EQ(0, s.Substr(7, 9).Length());
    EXPECT_EQ(0, MyString().Substr(0, 3).Length());
    EXPECT_EQ(0, MyString("").Substr(0, 3).Length());
    EXPECT_EQ(3, s.Substr(2, 100).Capacity());
}

TEST(MyStringTest, FindCharAndFind) {
    MyString s("hello");
    EXPECT_EQ(3, s.FindChar('l', 3));
    EXPECT_EQ(2, s.FindChar('l', 0));
    EXPECT_EQ(3, s.find("lo", 0));
    EXPECT_EQ(-1, s.FindChar('x', 0));
    EXPECT_EQ(-1, s.find("x", 0));
    EXPECT_EQ(-1, s.FindChar('o', 5));
    EXPECT_EQ(-1, s.find("o", 5));
    EXPECT_EQ(-1, s.FindChar('h', -1));
    EXPECT_EQ(-1, s.find("h", -1));
    EXPECT_EQ(-1, MyString().FindChar('a', 0));
    EXPECT_EQ(-1, MyString().find("", 0));
    EXPECT_EQ(-1, s.FindChar('\0', 0));
}

TEST(MyStringTest, ReplaceStringNonOverlappingLeftToRight) {
    MyString s("aaa");
    EXPECT_TRUE(s.replaceString("aa", "b", 0));
    EXPECT_STREQ("ba", s.Value());
    EXPECT_FALSE(s.replaceString("", "x", 0));
    EXPECT_FALSE(s.replaceString("zz", "x", 0));
    EXPECT_STREQ("ba", s.Value());

    MyString t("a-b-c-d");
    EXPECT_TRUE(t.replaceString("-", "--", 2));
    EXPECT_STREQ("a-b--c--d", t.Value());
    EXPECT_EQ(9, t.Length());
    EXPECT_EQ(9, t.Capacity());

    MyString u("xyxy");
    EXPECT_TRUE(u.replaceString("xy", "", 0));
    EXPECT_EQ(0, u.Length());
    EXPECT_STREQ("", u.Value());
}

TEST(MyStringTest, EscapeChars) {
    MyString s("a\"b'c");
    MyString e = s.EscapeChars(MyString("\"'"), '\\');
    EXPECT_STREQ("a\\\"b\\'c", e.Value());
    EXPECT_STREQ("a\"b'c", s.Value());
}

TEST(MyStringTest, HashIgnoresFirstCharacter) {
    EXPECT_EQ(MyString("xbc").Hash(), MyString("abc").Hash());
    EXPECT_EQ(98 * 1 + 99 * 2, MyString("abc").Hash());
    EXPECT_EQ(0, MyString().Hash());
    // High bytes count as negative: -128 * 1 wraps to 4294967168.
    MyString high("\x80\x80");
    EXPECT_EQ(-128, high.Hash());
    EXPECT_EQ(2, MyStringHash(high, 7));
    for (int buckets = 1; buckets < 50; ++buckets) {
        int b = MyStringHash(MyString("\xff\xfe\x80\x81zz"), buckets);
        EXPECT_GE(b, 0);
        EXPECT_LT(b, buckets);
    }
}

TEST(MyStringTest, CaseConversionTouchesOnlyAscii) {
    MyString s("AbC\xc9z1");
    s.lower_case();
    EXPECT_STREQ("abc\xc9z1", s.Value());
    s.strupr();
    EXPECT_STREQ("ABC\xc9Z1", s.Value());
}

TEST(MyStringTest, ChompAndTrim) {
    MyString s("line\n");
    EXPECT_TRUE(s.chomp());
    EXPECT_STREQ("line", s.Value());
    EXPECT_FALSE(s.chomp());
    EXPECT_FALSE(MyString().chomp());

    MyString t("x y ");
    t.trim();
    EXPECT_STREQ("x y", t.Value());
    MyString u(" \t\r\n\v\fmid dle\f ");
    u.trim();
    EXPECT_STREQ("mid dle", u.Value());
    MyString blanks("   ");
    blanks.trim();
    EXPECT_EQ(0, blanks.Length());
    EXPECT_STREQ("", blanks.Value());
}

TEST(MyStringTest, ComparisonOfEmptyForms) {
    MyString none;
    MyString empty("x");
    empty = "";  // holds an array with an empty text
    ASSERT_NE(nullptr, empty.GetCStr());
    EXPECT_TRUE(none == empty);
    EXPECT_TRUE(none == static_cast<const char *>(nullptr));
    EXPECT_TRUE(none == "");
    EXPECT_TRUE(empty == static_cast<const char *>(nullptr));
    EXPECT_FALSE(none != empty);
    EXPECT_TRUE(none < empty);
    EXPECT_FALSE(empty < none);
    EXPECT_FALSE(none < none);
    EXPECT_TRUE(none <= empty);
    EXPECT_TRUE(empty >= none);
    EXPECT_FALSE(none == "a");
    EXPECT_TRUE(MyString("a") != static_cast<const char *>(nullptr));
}

TEST(MyStringTest, ComparisonOfTexts) {
    MyString a("apple");
    MyString b("banana");
    EXPECT_TRUE(a < b && a <= b && b > a && b >= a);
    EXPECT_FALSE(a > b || b < a);
    EXPECT_TRUE(a == "apple" && a != "apples");
    EXPECT_TRUE(a <= MyString("apple"));
    EXPECT_FALSE(a > MyString("apple"));
}

TEST(MyStringTest, TokenizeKeepsEmptyTokensUnlessSkipped) {
    MyString s("a,,b");
    s.Tokenize();
    EXPECT_STREQ("a", s.GetNextToken(",", false));
    EXPECT_STREQ("", s.GetNextToken(",", false));
    EXPECT_STREQ("b", s.GetNextToken(",", false));
    EXPECT_EQ(nullptr, s.GetNextToken(",", false));

    s.Tokenize();
    EXPECT_STREQ("a", s.GetNextToken(",", true));
    EXPECT_STREQ("b", s.GetNextToken(",", true));
    EXPECT_EQ(nullptr, s.GetNextToken(",", true));
}

TEST(MyStringTest, TokensSurviveChangesAndAreNotCopied) {
    MyString s("one two");
    EXPECT_EQ(nullptr, s.GetNextToken(" ", false));  // before Tokenize
    s.Tokenize();
    EXPECT_EQ(nullptr, s.GetNextToken("", false));
    EXPECT_EQ(nullptr, s.GetNextToken(nullptr, false));
    s = "changed entirely";
    MyString copy(s);
    EXPECT_EQ(nullptr, copy.GetNextToken(" ", false));
    EXPECT_STREQ("one", s.GetNextToken(" ", false));
    EXPECT_STREQ("two", s.GetNextToken(" ", false));
    EXPECT_EQ(nullptr, s.GetNextToken(" ", false));

    MyString trailing("a,");
    trailing.Tokenize();
    EXPECT_STREQ("a", trailing.GetNextToken(",", false));
    EXPECT_STREQ("", trailing.GetNextToken(",", false));
    EXPECT_EQ(nullptr, trailing.GetNextToken(",", false));

    MyString empty;
    empty.Tokenize();
    EXPECT_EQ(nullptr, empty.GetNextToken(",", false));
}

TEST(MyStringTest, ReadLineReplaceMode) {
    FILE *fp = FileWith("first\nlast");
    ASSERT_NE(nullptr, fp);
    MyString s("junk");
    EXPECT_TRUE(s.readLine(fp));
    EXPECT_STREQ("first\n", s.Value());
    EXPECT_TRUE(s.readLine(fp));
    EXPECT_STREQ("last", s.Value());
    EXPECT_FALSE(s.readLine(fp));
    EXPECT_STREQ("last", s.Value());
    fclose(fp);
}

TEST(MyStringTest, ReadLineLongerThanOneChunk) {
    std::string line(3000, 'z');
    FILE *fp = FileWith(line + "\nnext\n");
    ASSERT_NE(nullptr, fp);
    MyString s;
    EXPECT_TRUE(s.readLine(fp, false));
    EXPECT_EQ(3001, s.Length());
    EXPECT_EQ(line + "\n", std::string(s.Value()));
    EXPECT_TRUE(s.readLine(fp, false));
    EXPECT_STREQ("next\n", s.Value());
    fclose(fp);
}

TEST(MyStringTest, ReadLineAppendMode) {
    FILE *fp = FileWith("one\ntwo");
    ASSERT_NE(nullptr, fp);
    MyString s("> ");
    EXPECT_TRUE(s.readLine(fp, true));
    EXPECT_STREQ("> one\n", s.Value());
    EXPECT_FALSE(s.readLine(fp, true));  // end of file before a newline
    EXPECT_STREQ("> one\ntwo", s.Value());
    fclose(fp);
}

TEST(MyStringTest, StreamOutput) {
    std::ostringstream out;
    out << MyString("abc") << '|' << MyString() << '|';
    EXPECT_EQ("abc||", out.str());
}

TEST(MyStringTest, StreamInputReadsWords) {
    std::istringstream in("  alpha\tbeta\n");
    MyString s;
    in >> s;
    EXPECT_STREQ("alpha", s.Value());
    in >> s;
    EXPECT_STREQ("beta", s.Value());
    in >> s;
    EXPECT_TRUE(in.fail());
    EXPECT_STREQ("beta", s.Value());
}

TEST(MyStringTest, StreamInputReadsLongWordWhole) {
    std::string word(5000, 'w');
    word[1023] = 'X';
    std::istringstream in(word + " tail");
    MyString s;
    in >> s;
    EXPECT_EQ(word, std::string(s.Value()));
    in >> s;
    EXPECT_STREQ("tail", s.Value());
}

// Arguments that point into the string itself: each case is checked both
// when the array must grow and when it is already large enough.
TEST(MyStringTest, SelfAppendDoubles) {
    MyString s("abc");
    s += s;
    EXPECT_STREQ("abcabc", s.Value());
    ASSERT_TRUE(s.reserve(100));
    s += s;
    EXPECT_STREQ("abcabcabcabc", s.Value());
}

TEST(MyStringTest, AppendOwnTail) {
    MyString s("hello");
    s += s.Value() + 1;
    EXPECT_STREQ("helloello", s.Value());
    ASSERT_TRUE(s.reserve(100));
    s += s.Value() + 5;
    EXPECT_STREQ("helloelloello", s.Value());
}

TEST(MyStringTest, AssignOwnTail) {
    MyString s("hello world");
    s = s.Value() + 6;
    EXPECT_STREQ("world", s.Value());
    s = s.GetCStr();
    EXPECT_STREQ("world", s.Value());
    s = s.Value() + 5;  // the empty tail
    EXPECT_EQ(0, s.Length());
}

TEST(MyStringTest, AssignOwnSubstring) {
    MyString s("prefix-body");
    s = s.Substr(7, 10);
    EXPECT_STREQ("body", s.Value());
}

TEST(MyStringTest, SprintfCatOfOwnText) {
    MyString s("ab");
    EXPECT_TRUE(s.sprintf_cat("[%s]", s.Value()));  // grows
    EXPECT_STREQ("ab[ab]", s.Value());
    ASSERT_TRUE(s.reserve(200));
    EXPECT_TRUE(s.sprintf_cat("<%s>", s.Value()));  // fits in place
    EXPECT_STREQ("ab[ab]<ab[ab]>", s.Value());
    std::string big(600, 'k');
    s = big.c_str();
    ASSERT_TRUE(s.reserve(2000));
    EXPECT_TRUE(s.sprintf_cat("%s", s.Value()));  // fits, longer than the stack area
    EXPECT_EQ(big + big, std::string(s.Value()));
}

TEST(MyStringTest, SprintfOfOwnText) {
    MyString s("abc");
    EXPECT_TRUE(s.sprintf("%s!", s.Value()));  // grows
    EXPECT_STREQ("abc!", s.Value());
    ASSERT_TRUE(s.reserve(100));
    EXPECT_TRUE(s.sprintf("(%s)", s.Value() + 1));  // fits
    EXPECT_STREQ("(bc!)", s.Value());
}

TEST(MyStringTest, ReplaceWithTextsFromItself) {
    MyString s("a.b.c");
    EXPECT_TRUE(s.replaceString(s.Value() + 1, "", 0));  // old is ".b.c"
    EXPECT_STREQ("a", s.Value());
    MyString t("x-y");
    EXPECT_TRUE(t.replaceString("-", t.Value(), 0));
    EXPECT_STREQ("xx-yy", t.Value());
}

#if !defined(__SANITIZE_ADDRESS__)
// Memory shortage is provoked with an address-space limit in a child
// process; the sanitizer's own reservations make that impossible there.
using torvel_test::LimitAddressSpace;

TEST(MyStringDeathTest, GrowthFailureLeavesTextUnchanged) {
    EXPECT_EXIT(
        {
            std::string big(64 << 20, 'b');
            MyString s("keep");
            LimitAddressSpace(16 << 20);
            bool ok = !s.reserve(64 << 20) && !s.reserve_at_least(64 << 20) &&
                      !s.sprintf_cat("%s", big.c_str()) && !s.sprintf("%s", big.c_str());
            s += big.c_str();
            ok = ok && strcmp(s.Value(), "keep") == 0 && s.Capacity() == 4;
            exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif
