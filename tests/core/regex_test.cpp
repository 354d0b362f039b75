// Regex: compiling, matching with and without groups, option pass-through,
// copies that outlive their source, the match/recursion limits that turn
// runaway patterns into "no match", and the work bound: hostile patterns
// give up whatever the subject's length, answers within the bound are
// PCRE's own.
#include "core/regex.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "core/ext_array.h"
#include "core/my_string.h"
#include "tests/support/growth_check.h"

namespace {

class RegexTest : public testing::Test {
 protected:
    // Compiles into `re`, failing the test with PCRE's message otherwise.
    void Compile(Regex &re, const char *pattern, int options = 0) {
        const char *error = nullptr;
        int offset = -1;
        ASSERT_TRUE(re.compile(MyString(pattern), &error, &offset, options))
            << pattern << ": " << (error ? error : "?") << " at " << offset;
    }
    ExtArray<MyString> groups_{4};
};

TEST_F(RegexTest, GroupsUpToTheLastOneThatTookPart) {
    Regex re;
    Compile(re, "(a)(b)?");
    EXPECT_TRUE(re.match("ac", &groups_));
    EXPECT_EQ(groups_.getlast(), 1);  // PCRE reports two pairs
    EXPECT_STREQ(groups_[0].Value(), "a");
    EXPECT_STREQ(groups_[1].Value(), "a");

    ExtArray<MyString> untouched(4);
    EXPECT_FALSE(re.match("xyz", &untouched));
    EXPECT_EQ(untouched.getlast(), -1);
}

TEST_F(RegexTest, UnsetGroupInTheMiddleIsEmpty) {
    Regex re;
    Compile(re, "(x)?(b+)(c)");
    EXPECT_TRUE(re.match("abbbcd", &groups_));
    EXPECT_EQ(groups_.getlast(), 3);
    EXPECT_STREQ(groups_[0].Value(), "bbbc");
    EXPECT_STREQ(groups_[1].Value(), "");
    EXPECT_STREQ(groups_[2].Value(), "bbb");
    EXPECT_STREQ(groups_[3].Value(), "c");
}

TEST_F(RegexTest, EmptyMatchesAndEmptySubject) {
    Regex re;
    Compile(re, "^(a*)");
    EXPECT_TRUE(re.match("", &groups_));
    EXPECT_EQ(groups_.getlast(), 1);
    EXPECT_STREQ(groups_[0].Value(), "");
    EXPECT_STREQ(groups_[1].Value(), "");
}

TEST_F(RegexTest, ManyGroupsGoBeyondTheStackBuffer) {
    std::string pattern;
    std::string subject;
    for (int i = 0; i < 40; ++i) {
        pattern += "(.)";
        subject += static_cast<char>('A' + i % 26);
    }
    Regex re;
    Compile(re, pattern.c_str());
    EXPECT_TRUE(re.match(subject.c_str(), &groups_));
    EXPECT_EQ(groups_.getlast(), 40);
    EXPECT_STREQ(groups_[0].Value(), subject.c_str());
    EXPECT_STREQ(groups_[27].Value(), "A");
    EXPECT_STREQ(groups_[40].Value(), "N");
}

TEST_F(RegexTest, MatchWithoutGroupsArray) {
    Regex re;
    Compile(re, "^ab+c$");
    EXPECT_TRUE(re.match("abbc", nullptr));
    EXPECT_FALSE(re.match("abbcx", nullptr));
}

TEST_F(RegexTest, CompileOptionsArePassedThrough) {
    Regex plain;
    Regex caseless;
    Compile(plain, "^AB$");
    Compile(caseless, "^AB$", PCRE_CASELESS);
    EXPECT_FALSE(plain.match("ab", nullptr));
    EXPECT_TRUE(caseless.match("ab", nullptr));

    Regex multiline;
    Compile(multiline, "^b$", PCRE_MULTILINE);
    EXPECT_TRUE(multiline.match("a\nb\nc", nullptr));
}

TEST_F(RegexTest, BadPatternReportsErrorAndOffset) {
    Regex re;
    const char *error = nullptr;
    int offset = -1;
    EXPECT_FALSE(re.compile(MyString("ab(c"), &error, &offset, 0));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(strstr(error, "missing )"), nullptr) << error;
    EXPECT_EQ(offset, 4);
    EXPECT_FALSE(re.match("abc", &groups_));
    EXPECT_EQ(groups_.getlast(), -1);

    // The outputs may be left out.
    EXPECT_FALSE(re.compile(MyString("["), nullptr, nullptr, 0));
}

TEST_F(RegexTest, NothingCompiledNeverMatches) {
    Regex re;
    EXPECT_FALSE(re.match("", &groups_));
    EXPECT_FALSE(re.match("anything", nullptr));
}

TEST_F(RegexTest, FailedRecompileDropsTheOldPattern) {
    Regex re;
    Compile(re, "a");
    EXPECT_FALSE(re.compile(MyString("a("), nullptr, nullptr, 0));
    EXPECT_FALSE(re.match("a", nullptr));
    Compile(re, "b");  // and a good one replaces it again
    EXPECT_TRUE(re.match("b", nullptr));
    EXPECT_FALSE(re.match("a", nullptr));
}

TEST_F(RegexTest, CopyOutlivesTheOriginal) {
    Regex *original = new Regex;
    Compile(*original, "(\\d+)-(\\d+)");
    Regex copy(*original);
    delete original;
    EXPECT_TRUE(copy.match("tel 555-1234", &groups_));
    EXPECT_STREQ(groups_[1].Value(), "555");
    EXPECT_STREQ(groups_[2].Value(), "1234");
}

TEST_F(RegexTest, AssignmentReplacesAndSelfAssignmentKeeps) {
    Regex a;
    Regex b;
    Compile(a, "^x");
    Compile(b, "^y");
    a = b;
    EXPECT_TRUE(a.match("yes", nullptr));
    EXPECT_FALSE(a.match("xes", nullptr));

    Regex &alias = a;
    a = alias;
    EXPECT_TRUE(a.match("yes", nullptr));

    Regex empty;
    a = empty;
    EXPECT_FALSE(a.match("yes", nullptr));
    EXPECT_TRUE(b.match("yes", nullptr));  // the source is untouched
}

TEST_F(RegexTest, CopyKeepsCompileOptions) {
    Regex caseless;
    Compile(caseless, "^ab$", PCRE_CASELESS);
    Regex copy;
    copy = caseless;
    EXPECT_TRUE(copy.match("AB", nullptr));
}

// Nested quantifiers backtrack exponentially on a near-miss; the match limit
// must end the attempt with "no match" rather than let it run for ages.
TEST_F(RegexTest, CatastrophicBacktrackingIsNoMatch) {
    Regex re;
    Compile(re, "(a+)+$");
    std::string subject(60, 'a');
    subject += '!';
    EXPECT_FALSE(re.match(subject.c_str(), &groups_));
    EXPECT_EQ(groups_.getlast(), -1);

    EXPECT_TRUE(re.match("aaaa", &groups_));  // the same pattern still works
    EXPECT_STREQ(groups_[0].Value(), "aaaa");
}

// Each repetition of a group costs PCRE a level of C recursion; a subject of
// a million characters would need far more stack than the process has. The
// recursion limit must turn that into "no match" instead of a crash.
TEST_F(RegexTest, DeepRecursionIsNoMatchNotACrash) {
    Regex re;
    Compile(re, "^(a|b)*$");
    std::string subject(1000000, 'a');
    EXPECT_FALSE(re.match(subject.c_str(), nullptr));
    EXPECT_TRUE(re.match("abab", nullptr));  // short subjects are unaffected
}

// The match limit must be stricter than PCRE's built-in default (which lets
// a runaway pattern burn far more time), and the recursion limit must keep
// PCRE's frames within half of this process's stack.
TEST(RegexLimits, TighterThanDefaultsAndWithinTheStack) {
    pcre_extra extra;
    memset(&extra, 0xff, sizeof extra);
    _torvel_regex_limits(&extra);
    EXPECT_EQ(extra.flags, PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION);
    EXPECT_EQ(extra.study_data, nullptr);

    unsigned long default_match_limit = 0;
    ASSERT_EQ(pcre_config(PCRE_CONFIG_MATCH_LIMIT, &default_match_limit), 0);
    EXPECT_GT(extra.match_limit, 0UL);
    EXPECT_LT(extra.match_limit, default_match_limit);

    int frame = -pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0);
    ASSERT_GT(frame, 0);
    struct rlimit stack;
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
    EXPECT_GT(extra.match_limit_recursion, 1000UL);  // room for ordinary patterns
    if (stack.rlim_cur != RLIM_INFINITY) {
        EXPECT_LE(extra.match_limit_recursion * frame, stack.rlim_cur / 2);
    }
}

// PCRE's guard counts afresh at each start position and not at all inside a
// repeat of one character: "a*a*b" over 3,000 "a" took seconds, "a*b" over
// 300,000 took most of a minute. Both now give up, and say so.
TEST(RegexBound, HostileRepeatsGiveUp) {
    struct Hostile {
        const char *pattern;
        size_t length;
    } cases[] = {{"a*a*b", 3000}, {"a*b", 300000}, {"(a|aa)*c", 3000}, {"a*a*a*b", 100000}};
    for (const Hostile &c : cases) {
        Regex re;
        ASSERT_TRUE(re.compile(MyString(c.pattern), nullptr, nullptr, 0));
        MyString subject(std::string(c.length, 'a').c_str());
        RegexBudget budget;
        EXPECT_FALSE(re.match(subject, nullptr, &budget)) << c.pattern;
        EXPECT_TRUE(budget.exhausted()) << c.pattern;
        EXPECT_FALSE(re.match(subject, nullptr)) << c.pattern;  // a budget of its own
    }
}

// One budget bounds all the matches it is passed to: once spent, even a
// trivial match gives up; a fresh budget answers it.
TEST(RegexBound, BudgetIsSharedByTheMatchesOfOneCall) {
    Regex hostile;
    Regex trivial;
    ASSERT_TRUE(hostile.compile(MyString("a*a*b"), nullptr, nullptr, 0));
    ASSERT_TRUE(trivial.compile(MyString("a"), nullptr, nullptr, 0));
    MyString long_subject(std::string(3000, 'a').c_str());
    RegexBudget budget;
    EXPECT_TRUE(trivial.match("a", nullptr, &budget));
    EXPECT_FALSE(budget.exhausted());
    EXPECT_FALSE(hostile.match(long_subject, nullptr, &budget));
    ASSERT_TRUE(budget.exhausted());
    EXPECT_FALSE(trivial.match("a", nullptr, &budget));
    RegexBudget fresh;
    EXPECT_TRUE(trivial.match("a", nullptr, &fresh));
    EXPECT_FALSE(fresh.exhausted());

    // Ordinary matches leave almost all of a budget: a thousand of them
    // share one.
    for (int i = 0; i < 1000; i++) {
        ASSERT_TRUE(trivial.match("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxa", nullptr, &fresh)) << i;
    }
    EXPECT_FALSE(fresh.exhausted());
}

// The counting hooks change no answer: every pattern here, on every
// subject, matches as PCRE alone matches it, with the same groups.
TEST(RegexBound, AnswersWithinTheBoundAreUnchanged) {
    struct Pattern {
        const char *text;
        int options;
    } patterns[] = {{"(a)(b)?", 0},
                    {"^ab+c$", 0},
                    {"(?<=a)b", 0},
                    {"(\\w+)\\1", 0},
                    {"a*+b", 0},
                    {"(?>a+)b", 0},
                    {"\\((?:[^()]|(?R))*\\)", 0},
                    {"\\Ga", 0},
                    {"a(*COMMIT)b|ac", 0},
                    {"a+(*SKIP)b|.", 0},
                    {"(?C1)a(?C2)b", 0},
                    {"^b$", PCRE_MULTILINE},
                    {"A.C", PCRE_CASELESS | PCRE_DOTALL},
                    {"a b # c", PCRE_EXTENDED},
                    {"(x)?(b+)(c)", 0},
                    {"(a+)+$", 0},
                    {"[^x]*y", 0},
                    {"\\bword\\b", 0},
                    {"(?i)ab|cd", 0},
                    {"a{2,3}?", 0},
                    {"(?=.*c)a.", 0},
                    {"", 0},
                    {"$", 0},
                    {"(?:(a)|b)*", 0}};
    const char *subjects[] = {"",        "ab",    "abbc",        "ac",      "aab",
                              "a\nb\nc", "A\nc",  "abab",        "foo foo", "((a)(b))",
                              "aaab",    "xyz",   "a word here", "cdab",    "aaaaaaaaaaaa!",
                              "abbbcd",  "aaaac", "abc"};
    for (const Pattern &p : patterns) {
        const char *error = nullptr;
        int offset = 0;
        pcre *raw = pcre_compile(p.text, p.options, &error, &offset, nullptr);
        ASSERT_NE(raw, nullptr) << p.text;
        Regex re;
        ASSERT_TRUE(re.compile(MyString(p.text), nullptr, nullptr, p.options)) << p.text;
        for (const char *subject : subjects) {
            int raw_offsets[30];
            pcre_extra extra;
            _torvel_regex_limits(&extra);
            int filled = pcre_exec(raw, &extra, subject, static_cast<int>(strlen(subject)), 0, 0,
                                   raw_offsets, 30);
            ExtArray<MyString> groups(4);
            RegexBudget budget;
            bool matched = re.match(subject, &groups, &budget);
            EXPECT_FALSE(budget.exhausted()) << p.text << " on " << subject;
            EXPECT_EQ(matched, filled > 0) << p.text << " on " << subject;
            EXPECT_EQ(groups.getlast(), filled > 0 ? filled - 1 : -1)
                << p.text << " on " << subject;
            for (int i = 0; i < filled; i++) {
                std::string expected(subject + raw_offsets[2 * i],
                                     raw_offsets[2 * i + 1] > raw_offsets[2 * i]
                                         ? raw_offsets[2 * i + 1] - raw_offsets[2 * i]
                                         : 0);
                EXPECT_EQ(groups[i].Value(), expected) << p.text << " on " << subject << " #" << i;
            }
        }
        pcre_free(raw);
    }
}

// Syntax answers are PCRE's; a pattern too large to carry the counting
// hooks still compiles as it is, but every match of it gives up.
TEST(RegexBound, SyntaxKeptAndOversizedPatternsGiveUp) {
    Regex re;
    EXPECT_FALSE(re.compile(MyString("a(b"), nullptr, nullptr, 0));
    std::string big;
    for (int i = 0; i < 4000; i++) {
        big += "ab|";  // plain: about 9 bytes each; with the hooks far more
    }
    big += "zz";
    const char *error = nullptr;
    int offset = 0;
    pcre *raw = pcre_compile(big.c_str(), 0, &error, &offset, nullptr);
    pcre *hooked = pcre_compile(big.c_str(), PCRE_AUTO_CALLOUT, &error, &offset, nullptr);
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(hooked, nullptr) << "the pattern must be too large only with the hooks";
    pcre_free(raw);
    ASSERT_TRUE(re.compile(MyString(big.c_str()), nullptr, nullptr, 0));
    RegexBudget budget;
    EXPECT_FALSE(re.match("zz", nullptr, &budget));
    EXPECT_TRUE(budget.exhausted());
}

// The work of a hostile search stops at the bound however long the subject.
// (Within 1000 characters of the end PCRE first looks for the "b" the
// pattern needs, which hides the search there.)
TEST(RegexBound, HostileWorkStopsGrowingWithTheSubject) {
    for (const char *pattern : {"a*a*b", "a*b"}) {
        Regex re;
        ASSERT_TRUE(re.compile(MyString(pattern), nullptr, nullptr, 0));
        std::string as(100 * 2000, 'a');
        EXPECT_LINEAR_GROWTH(
            2000, [&](size_t n) { re.match(MyString(as.substr(0, n).c_str()), nullptr); });
    }
}

void *NoMemory(size_t) {
    return nullptr;
}

// A copy that cannot get memory for the pattern ends the process through the
// fatal-error path, naming the wrapper as the source.
TEST(RegexDeathTest, CopyWithoutMemoryIsFatal) {
    Regex re;
    ASSERT_TRUE(re.compile(MyString("a+b"), nullptr, nullptr, 0));
    EXPECT_EXIT(
        {
            pcre_malloc = NoMemory;
            Regex copy(re);
        },
        testing::ExitedWithCode(4),
        "ERROR \"No memory to allocate re clone\" at line [0-9]+ in file Regex");
}

}  // namespace
