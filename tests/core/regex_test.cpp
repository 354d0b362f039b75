// Regex: compiling, matching with and without groups, option pass-through,
// copies that outlive their source, and the match/recursion limits that turn
// runaway patterns into "no match".
#include "core/regex.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/resource.h>

#include <string>

#include "core/ext_array.h"
#include "core/my_string.h"

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
