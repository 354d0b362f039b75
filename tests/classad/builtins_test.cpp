// Tests of the built-in ClassAd functions: the lazy ifthenelse, the string
// conversion of arguments, every function's results and edge cases (int,
// rounding, substr, the string lists, the regular-expression functions,
// random), the conversions that would not fit in an int, and functions
// loaded from a real shared library built by the test into a temporary
// directory and named by CLASSAD_LIB_PATH.
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "classad/evaluation.h"
#include "classad/functions.h"
#include "config/macro_table.h"
#include "gtest/gtest.h"
#include "tests/classad/eval_test_util.h"
#include "tests/support/growth_check.h"

namespace {

using classad_eval_test::Ad;
using classad_eval_test::Eval;

TEST(BuiltinIfThenElse, EvaluatesOnlyTheSelectedBranch) {
    EXPECT_EQ(Eval("ifthenelse(1, \"yes\", \"no\")"), "string \"yes\"");
    EXPECT_EQ(Eval("ifthenelse(FALSE, 1, 2)"), "int 2");
    EXPECT_EQ(Eval("ifthenelse(2.5, 1, 2)"), "int 1");
    EXPECT_EQ(Eval("ifthenelse(0.0, 1, 2)"), "int 2");
    EXPECT_EQ(Eval("ifthenelse(0.0 / 0, 1, 2)"), "int 1");  // NaN is true
    EXPECT_EQ(Eval("ifthenelse(x, 1, 2)"), "UNDEFINED");
    EXPECT_EQ(Eval("ifthenelse(ERROR, 1, 2)"), "ERROR");
    EXPECT_EQ(Eval("ifthenelse(\"s\", 1, 2)"), "ERROR");
    EXPECT_EQ(Eval("ifthenelse('2004', 1, 2)"), "ERROR");
    EXPECT_EQ(Eval("ifthenelse(1, 2)"), "ERROR");
    EXPECT_EQ(Eval("ifthenelse(1, 2, 3, 4)"), "ERROR");
    EXPECT_EQ(Eval("IfThenElse(0, 1/0, 3)"), "int 3");
    EXPECT_EQ(Eval("ifthenelse(1, 1/0, 3)"), "ERROR");
    classad_debug_function_run = false;
    EXPECT_EQ(Eval("ifthenelse(0, _debug_function_(), 3)"), "int 3");
    EXPECT_FALSE(classad_debug_function_run);
    EXPECT_EQ(Eval("ifthenelse(1, _debug_function_(), 3)"), "int 1");
    EXPECT_TRUE(classad_debug_function_run);
    classad_debug_function_run = false;
}

TEST(BuiltinStrings, NonStringArgumentsBecomeTheirExpressionText) {
    auto ad = Ad({"x = 5", "s = \"str\""});
    EXPECT_EQ(Eval("strcat(\"a\", 1 + 2, x)", ad.get()), "string \"a1 + 2x\"");
    EXPECT_EQ(Eval("strcat(s, \"!\")", ad.get()), "string \"str!\"");
    EXPECT_EQ(Eval("strcat()"), "string \"\"");
    EXPECT_EQ(Eval("string(5)"), "string \"5\"");
    EXPECT_EQ(Eval("string(s)", ad.get()), "string \"str\"");
    EXPECT_EQ(Eval("string(UNDEFINED)"), "string \"UNDEFINED\"");
    EXPECT_EQ(Eval("string()"), "ERROR");
    EXPECT_EQ(Eval("size(x)", ad.get()), "int 1");
    EXPECT_EQ(Eval("size(\"hello\")"), "int 5");
    EXPECT_EQ(Eval("size(\"\")"), "int 0");
    EXPECT_EQ(Eval("toUpper(\"abc\")"), "string \"ABC\"");
    EXPECT_EQ(Eval("TOUPPER(\"abc\")"), "string \"ABC\"");
    EXPECT_EQ(Eval("tolower(\"MiXed 1\")"), "string \"mixed 1\"");
    EXPECT_EQ(Eval("toupper(x)", ad.get()), "string \"X\"");
    EXPECT_EQ(Eval("toupper(\"a\", \"b\")"), "ERROR");
    EXPECT_EQ(Eval("strcmp(\"a\", \"b\") < 0"), "int 1");
    EXPECT_EQ(Eval("strcmp(\"b\", \"a\") > 0"), "int 1");
    EXPECT_EQ(Eval("strcmp(\"ABC\", \"abc\") == 0"), "int 0");
    EXPECT_EQ(Eval("stricmp(\"ABC\", \"abc\")"), "int 0");
    EXPECT_EQ(Eval("strcmp(1, \"1\")"), "int 0");
    EXPECT_EQ(Eval("strcmp(\"a\")"), "ERROR");
}

TEST(BuiltinSubstr, OffsetsAndLengths) {
    EXPECT_EQ(Eval("substr(\"abcdef\", 2)"), "string \"cdef\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", -2)"), "string \"ef\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", 1, 3)"), "string \"bcd\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", 1, -2)"), "string \"bcd\"");
    EXPECT_EQ(Eval("substr(\"abc\", 5)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abc\", 3)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", -10)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", 2, 100)"), "string \"cdef\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", 2, -10)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", 2, 0)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abcdef\", -3, 2)"), "string \"de\"");
    EXPECT_EQ(Eval("substr(\"abc\", 0 - 2147483647 - 1, 2147483647)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abc\", 1, 0 - 2147483647 - 1)"), "string \"\"");
    EXPECT_EQ(Eval("substr(\"abc\", 0, 2147483647)"), "string \"abc\"");
    EXPECT_EQ(Eval("substr(5, 1)"), "ERROR");
    EXPECT_EQ(Eval("substr(\"abc\")"), "ERROR");
    EXPECT_EQ(Eval("substr(\"abc\", \"1\")"), "ERROR");
    EXPECT_EQ(Eval("substr(\"abc\", 1.0)"), "ERROR");
    EXPECT_EQ(Eval("substr(\"abc\", 1, 1, 1)"), "ERROR");
}

TEST(BuiltinNumbers, IntConversions) {
    EXPECT_EQ(Eval("int(\"  42\")"), "int 42");
    EXPECT_EQ(Eval("int(\"0\")"), "int 0");
    EXPECT_EQ(Eval("int(\"0.0\")"), "int 0");
    EXPECT_EQ(Eval("int(\"-0\")"), "int 0");
    EXPECT_EQ(Eval("int(\"\")"), "int 0");
    EXPECT_EQ(Eval("int(\"12abc\")"), "int 12");
    EXPECT_EQ(Eval("int(\"-17\")"), "int -17");
    EXPECT_EQ(Eval("int(\"zero\")"), "ERROR");
    EXPECT_EQ(Eval("int(\"abc\")"), "ERROR");
    EXPECT_EQ(Eval("int(\"0x5\")"), "ERROR");
    EXPECT_EQ(Eval("int(3.9)"), "int 3");
    EXPECT_EQ(Eval("int(-3.9)"), "int -3");
    EXPECT_EQ(Eval("int(7)"), "int 7");
    EXPECT_EQ(Eval("int(TRUE)"), "int 1");
    EXPECT_EQ(Eval("int(UNDEFINED)"), "ERROR");
    EXPECT_EQ(Eval("int(ERROR)"), "ERROR");
    EXPECT_EQ(Eval("int('2004')"), "ERROR");
    EXPECT_EQ(Eval("int()"), "ERROR");
    // Values without a 32-bit form.
    EXPECT_EQ(Eval("int(3000000000.0)"), "ERROR");
    EXPECT_EQ(Eval("int(1.0 / 0)"), "ERROR");
    EXPECT_EQ(Eval("int(0.0 / 0)"), "ERROR");
    EXPECT_EQ(Eval("int(\"99999999999\")"), "ERROR");
    EXPECT_EQ(Eval("int(\"2147483647\")"), "int 2147483647");
}

TEST(BuiltinNumbers, RealAndRounding) {
    EXPECT_EQ(Eval("real(3)"), "real 3");
    EXPECT_EQ(Eval("real(2.5)"), "real 2.5");
    EXPECT_EQ(Eval("real(\" 2.5x\")"), "real 2.5");
    EXPECT_EQ(Eval("real(\"x\")"), "ERROR");
    EXPECT_EQ(Eval("real(UNDEFINED)"), "ERROR");
    EXPECT_EQ(Eval("real(1, 2)"), "ERROR");
    EXPECT_EQ(Eval("round(2.5)"), "int 2");
    EXPECT_EQ(Eval("round(3.5)"), "int 4");
    EXPECT_EQ(Eval("round(0 - 2.5)"), "int -2");
    EXPECT_EQ(Eval("round(2.6)"), "int 3");
    EXPECT_EQ(Eval("floor(\"2.7\")"), "int 2");
    EXPECT_EQ(Eval("floor(0 - 2.5)"), "int -3");
    EXPECT_EQ(Eval("ceiling(2.1)"), "int 3");
    EXPECT_EQ(Eval("ceiling(0 - 2.1)"), "int -2");
    EXPECT_EQ(Eval("floor(7)"), "int 7");
    EXPECT_EQ(Eval("ceiling(2147483647)"), "int 2147483647");
    EXPECT_EQ(Eval("floor(\"x\")"), "ERROR");
    EXPECT_EQ(Eval("round(UNDEFINED)"), "ERROR");
    EXPECT_EQ(Eval("round(100000000000.0)"), "ERROR");
    EXPECT_EQ(Eval("ceiling(0.0 / 0)"), "ERROR");
    EXPECT_EQ(Eval("floor(1.0 / 0)"), "ERROR");
}

TEST(BuiltinKinds, KindTests) {
    EXPECT_EQ(Eval("isundefined(x)"), "int 1");
    EXPECT_EQ(Eval("isUndefined(1)"), "int 0");
    EXPECT_EQ(Eval("iserror(1 / 0)"), "int 1");
    EXPECT_EQ(Eval("iserror(UNDEFINED)"), "int 0");
    EXPECT_EQ(Eval("isstring(\"\")"), "int 1");
    EXPECT_EQ(Eval("isstring(1)"), "int 0");
    EXPECT_EQ(Eval("isinteger(1)"), "int 1");
    EXPECT_EQ(Eval("isinteger(TRUE)"), "int 1");
    EXPECT_EQ(Eval("isinteger(1.0)"), "int 0");
    EXPECT_EQ(Eval("isreal(1.0)"), "int 1");
    EXPECT_EQ(Eval("isreal(1)"), "int 0");
    EXPECT_EQ(Eval("isboolean(TRUE)"), "int 1");
    EXPECT_EQ(Eval("isboolean(0)"), "int 1");
    EXPECT_EQ(Eval("isboolean(2)"), "int 0");
    EXPECT_EQ(Eval("isboolean(\"1\")"), "int 0");
    EXPECT_EQ(Eval("isboolean(1.0)"), "int 0");
    EXPECT_EQ(Eval("isundefined()"), "ERROR");
    EXPECT_EQ(Eval("isinteger(1, 2)"), "ERROR");
}

TEST(BuiltinStringLists, SizesAndMembership) {
    EXPECT_EQ(Eval("stringlistsize(\"a, b,c\")"), "int 3");
    EXPECT_EQ(Eval("stringlistsize(\"a;b c\", \";\")"), "int 2");
    EXPECT_EQ(Eval("stringlistsize(\"\")"), "int 0");
    EXPECT_EQ(Eval("stringlistsize(3)"), "ERROR");
    EXPECT_EQ(Eval("stringlistmember(\"b\", \"a,b,c\")"), "int 1");
    EXPECT_EQ(Eval("stringlistmember(\"B\", \"a,b,c\")"), "int 0");
    EXPECT_EQ(Eval("stringlistimember(\"B\", \"a,b,c\")"), "int 1");
    EXPECT_EQ(Eval("stringlistmember(\"a b\", \"a b;c\", \";\")"), "int 1");
    EXPECT_EQ(Eval("stringlistmember(\"d\", \"a,b,c\")"), "int 0");
    EXPECT_EQ(Eval("stringlistmember(1, \"1,2\")"), "ERROR");
    EXPECT_EQ(Eval("stringlistmember(\"a\")"), "ERROR");
}

TEST(BuiltinStringLists, NumericFolds) {
    EXPECT_EQ(Eval("stringlistsum(\"1, 2, 3\")"), "int 6");
    EXPECT_EQ(Eval("stringlistsum(\"1, 2.5\")"), "real 3.5");
    EXPECT_EQ(Eval("stringlistsum(\"1, 2e1\")"), "real 21");
    EXPECT_EQ(Eval("stringlistsum(\"-1;+4\", \";\")"), "int 3");
    EXPECT_EQ(Eval("stringlistavg(\"1 2\")"), "real 1.5");
    EXPECT_EQ(Eval("stringlistavg(\"4\")"), "real 4");
    EXPECT_EQ(Eval("stringlistmax(\"-5, -3\")"), "int -3");
    EXPECT_EQ(Eval("stringlistmin(\"3, 1.5, 2\")"), "real 1.5");
    EXPECT_EQ(Eval("stringlistmin(\"3, -7, 2\")"), "int -7");
    EXPECT_EQ(Eval("stringlistmin(\"\")"), "UNDEFINED");
    EXPECT_EQ(Eval("stringlistmax(\"\")"), "UNDEFINED");
    EXPECT_EQ(Eval("stringlistsum(\"\")"), "int 0");
    EXPECT_EQ(Eval("stringlistavg(\"\")"), "real 0");
    EXPECT_EQ(Eval("stringlistsum(\"1, x\")"), "ERROR");
    EXPECT_EQ(Eval("stringlistsum(5)"), "ERROR");
    // Integer results too large for an int give ERROR.
    EXPECT_EQ(Eval("stringlistsum(\"2147483647, 1\")"), "ERROR");
    EXPECT_EQ(Eval("stringlistsum(\"2147483647, 0\")"), "int 2147483647");
    EXPECT_EQ(Eval("stringlistsum(\"16777217\")"), "int 16777217");
}

TEST(BuiltinRegex, MatchesAndSubstitutions) {
    EXPECT_EQ(Eval("regexp(\"^ab+c$\", \"abbc\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"^ab+c$\", \"abbcd\")"), "int 0");
    EXPECT_EQ(Eval("regexp(\"b\", \"abc\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"AB\", \"ab\")"), "int 0");
    EXPECT_EQ(Eval("regexp(\"AB\", \"ab\", \"i\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"AB\", \"ab\", \"I\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"a.c\", \"a\nc\")"), "int 0");
    EXPECT_EQ(Eval("regexp(\"a.c\", \"a\nc\", \"s\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"^c\", \"a\nc\", \"m\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"a b c\", \"abc\", \"x?\")"), "int 1");
    EXPECT_EQ(Eval("regexp(\"(\", \"x\")"), "ERROR");
    EXPECT_EQ(Eval("regexp(\"a\")"), "ERROR");
    EXPECT_EQ(Eval("regexp(1, \"1\")"), "ERROR");
    EXPECT_EQ(Eval("regexps(\"(a+)(b+)\", \"xaabbx\", \"\\2\\1\")"), "string \"bbaa\"");
    EXPECT_EQ(Eval("regexps(\"(a+)(b+)\", \"xaabbx\", \"[\\0]\")"), "string \"[aabb]\"");
    EXPECT_EQ(Eval("regexps(\"a\", \"a\", \"x\\y\\z\")"), "string \"x\\y\\z\"");
    EXPECT_EQ(Eval("regexps(\"(a)\", \"a\", \"\\5\")"), "string \"\"");
    EXPECT_EQ(Eval("regexps(\"z\", \"abc\", \"\\0\")"), "string \"\"");
    EXPECT_EQ(Eval("regexps(\"A\", \"a\", \"hit\", \"i\")"), "string \"hit\"");
    EXPECT_EQ(Eval("regexps(\")\", \"a\", \"x\")"), "ERROR");
    EXPECT_EQ(Eval("stringlist_regexpMember(\"^b\", \"a,bb,c\")"), "int 1");
    EXPECT_EQ(Eval("stringlist_regexpmember(\"^x\", \"a,bb,c\")"), "int 0");
    EXPECT_EQ(Eval("stringlist_regexpMember(\"^B b$\", \"a;B b\", \";\")"), "int 1");
    EXPECT_EQ(Eval("stringlist_regexpMember(\"^B$\", \"a;b\", \";\", \"i\")"), "int 1");
    EXPECT_EQ(Eval("stringlist_regexpMember(\"[\", \"a\")"), "ERROR");
    // A pattern that backtracks for ages gives up instead of hanging, and
    // says it has no answer.
    EXPECT_EQ(Eval("regexp(\"(a+)+$\", \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab\")"), "ERROR");
}

// An ad holding a subject S of n characters and a list L of ten such items.
std::unique_ptr<AttrList> SubjectAd(size_t n) {
    std::string item(n, 'a');
    std::string list = item;
    for (int i = 1; i < 10; i++) {
        list += "," + item;
    }
    std::string s = "S = \"" + std::string(n, 'a') + "\"";
    std::string l = "L = \"" + list + "\"";
    return Ad({s.c_str(), l.c_str()});
}

// "a*a*b" over 3,000 characters took seconds, over a list of such items
// seconds per item. Every regular-expression function gives up within its
// bound and answers ERROR, not "no match", so that a negated test cannot be
// passed by a subject built to exhaust it.
TEST(BuiltinRegex, HostileSearchesAnswerError) {
    auto ad = SubjectAd(3000);
    EXPECT_EQ(Eval("regexp(\"a*a*b\", S)", ad.get()), "ERROR");
    EXPECT_EQ(Eval("regexp(\"a*a*b\", S) == 0", ad.get()), "ERROR");
    EXPECT_EQ(Eval("regexps(\"a*a*b\", S, \"x\")", ad.get()), "ERROR");
    EXPECT_EQ(Eval("stringList_regexpMember(\"a*a*b\", L)", ad.get()), "ERROR");
    // An item that matches before the bound is reached still answers.
    EXPECT_EQ(Eval("stringList_regexpMember(\"^a|a*a*b\", L)", ad.get()), "int 1");
    // Ordinary searches over the same subjects are untouched.
    EXPECT_EQ(Eval("regexp(\"^a+$\", S)", ad.get()), "int 1");
    EXPECT_EQ(Eval("regexp(\"b\", S)", ad.get()), "int 0");
    EXPECT_EQ(Eval("size(regexps(\"(a+)\", S, \"\\1\"))", ad.get()), "int 3000");
}

// Regular-expression work counts against the evaluation's step budget, so
// an ad cannot multiply the bound of one call by calling many times: with a
// budget of a thousand steps, a search that takes a few hundred thousand
// characters' work answers ERROR, and so does the whole evaluation.
TEST(BuiltinRegex, WorkCountsAgainstTheEvaluationBudget) {
    auto ad = SubjectAd(1500);  // "a*b": about a million characters moved
    EXPECT_EQ(Eval("regexp(\"a*b\", S)", ad.get()), "int 0");
    EXPECT_EQ(Eval("regexp(\"a*b\", S) + regexp(\"a*b\", S)", ad.get()), "int 0");
    classad_set_eval_step_limit(1000);
    EXPECT_EQ(Eval("regexp(\"a*b\", S)", ad.get()), "ERROR");
    EXPECT_EQ(Eval("isError(regexps(\"a*b\", S, \"x\"))", ad.get()), "ERROR");
    EXPECT_EQ(Eval("regexp(\"^a\", S)", ad.get()), "int 1");  // cheap searches still answer
    // A member called on its own after an evaluation ran out is not
    // charged for that evaluation.
    EXPECT_EQ(Eval("regexp(\"a*b\", S)", ad.get()), "ERROR");
    Function call("regexp");
    EvalResult args[2];
    args[0].set_string("^a");
    args[1].set_string("abc");
    EvalResult result;
    EXPECT_TRUE(call.FunctionRegexp(2, args, &result));
    EXPECT_EQ(classad_eval_test::Describe(result), "int 1");
    classad_set_eval_step_limit(0);
    EXPECT_EQ(Eval("regexp(\"a*b\", S)", ad.get()), "int 0");
}

// The same three over subjects of n and 100n characters: the work stops at
// the bound instead of growing with the square or cube of the length.
TEST(BuiltinRegex, HostileWorkStopsGrowingWithTheSubject) {
    const size_t n = 2000;
    auto small = SubjectAd(n);
    auto large = SubjectAd(100 * n);
    for (const char *call : {"regexp(\"a*a*b\", S)", "regexps(\"a*b\", S, \"x\")",
                             "stringList_regexpMember(\"a*a*b\", L)"}) {
        EXPECT_LINEAR_GROWTH(
            n, [&](size_t size) { Eval(call, size == n ? small.get() : large.get()); });
    }
}

TEST(BuiltinMisc, TimeIntervalRandomAndDebug) {
    time_t before = time(nullptr);
    std::string t1 = Eval("time(1, 2)");
    std::string t2 = Eval("GetTime()");
    time_t after = time(nullptr);
    for (const std::string &t : {t1, t2}) {
        ASSERT_EQ(t.rfind("int ", 0), 0u) << t;
        long v = strtol(t.c_str() + 4, nullptr, 10);
        EXPECT_GE(v, static_cast<long>(before));
        EXPECT_LE(v, static_cast<long>(after));
    }
    EXPECT_EQ(Eval("interval(3661)"), "string \"  0+01:01:01\"");
    EXPECT_EQ(Eval("interval(90061)"), "string \"  1+01:01:01\"");
    EXPECT_EQ(Eval("interval(1.5)"), "ERROR");
    EXPECT_EQ(Eval("random(0)"), "ERROR");
    EXPECT_EQ(Eval("random(\"x\")"), "ERROR");
    EXPECT_EQ(Eval("random(1, 2)"), "ERROR");
    for (int i = 0; i < 200; i++) {
        std::string r = Eval("random(10)");
        ASSERT_EQ(r.rfind("int ", 0), 0u);
        int v = atoi(r.c_str() + 4);
        EXPECT_TRUE(v >= 0 && v < 10) << r;
        r = Eval("random(0 - 3)");
        v = atoi(r.c_str() + 4);
        EXPECT_TRUE(v >= 0 && v < 3) << r;
        r = Eval("random(2.0)");
        ASSERT_EQ(r.rfind("real ", 0), 0u);
        double d = atof(r.c_str() + 5);
        EXPECT_TRUE(d >= 0.0 && d <= 2.0) << r;
        r = Eval("random()");
        ASSERT_EQ(r.rfind("real ", 0), 0u);
        d = atof(r.c_str() + 5);
        EXPECT_TRUE(d >= 0.0 && d <= 1.0) << r;
    }
    classad_debug_function_run = false;
    EXPECT_EQ(Eval("_DEBUG_FUNCTION_(1, x)"), "int 1");
    EXPECT_TRUE(classad_debug_function_run);
    classad_debug_function_run = false;
}

TEST(BuiltinMisc, UnknownNameWithoutLibraryIsUndefined) {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    EXPECT_EQ(Eval("no_such_function(1)"), "UNDEFINED");
    EXPECT_EQ(Eval("exit(3)"), "UNDEFINED");
}

// ---- shared-library functions ----

class SharedLibraryTest : public ::testing::Test {
 protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/classad_plugin_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        library_ = dir_ + "/libclassad_test_plugin.so";
        std::string command = "g++ -std=c++17 -shared -fPIC -I" TORVEL_SOURCE_DIR " -o " +
                              library_ +
                              " " TORVEL_SOURCE_DIR "/tests/classad/plugin/classad_test_plugin.cpp";
        ASSERT_EQ(system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() {
        unlink(library_.c_str());
        rmdir(dir_.c_str());
    }
    void SetUp() override {
        clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
        UseLibrary(library_.c_str());
    }
    void TearDown() override { clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE); }
    void UseLibrary(const char *path) {
        insert("CLASSAD_LIB_PATH", path, ConfigTab, CONFIG_TABLE_SIZE);
    }

    static std::string dir_;
    static std::string library_;
};

std::string SharedLibraryTest::dir_;
std::string SharedLibraryTest::library_;

TEST_F(SharedLibraryTest, EachValueKindCrossesBothWays) {
    EXPECT_EQ(Eval("add_ints(1, 2, 39)"), "int 42");
    EXPECT_EQ(Eval("add_ints()"), "int 0");
    EXPECT_EQ(Eval("add_ints(1, \"2\")"), "ERROR");
    EXPECT_EQ(Eval("half(5)"), "real 2.5");
    auto ad = Ad({"n = 5"});
    EXPECT_EQ(Eval("describe(n, 2.5, \"abc\", UNDEFINED, ERROR, '2004', TRUE)", ad.get()),
              "string \"0:5 1:2.50 2:abc 3 4 4 0:1\"");
    EXPECT_EQ(Eval("describe()"), "string \"\"");
    EXPECT_EQ(Eval("nothing()"), "UNDEFINED");
    EXPECT_EQ(Eval("failing()"), "ERROR");
    EXPECT_EQ(Eval("strange_code()"), "ERROR");
    EXPECT_EQ(Eval("null_text()"), "ERROR");
    EXPECT_EQ(Eval("untouched()"), "UNDEFINED");
    EXPECT_EQ(Eval("count_args(1, 2, 3)"), "int 3");
    EXPECT_EQ(Eval("add_ints(1, 2) + 1"), "int 4");
}

TEST_F(SharedLibraryTest, NamesAreExactAndMustBeTheLibrarysOwnFunctions) {
    EXPECT_EQ(Eval("Add_Ints(1, 2)"), "UNDEFINED");
    EXPECT_EQ(Eval("missing_function(1)"), "UNDEFINED");
    EXPECT_EQ(Eval("plugin_data_symbol()"), "UNDEFINED");
    // Reachable through the library's dependencies, but not its own.
    EXPECT_EQ(Eval("exit(3)"), "UNDEFINED");
    EXPECT_EQ(Eval("abort()"), "UNDEFINED");
    EXPECT_EQ(Eval("atoi(\"5\")"), "UNDEFINED");
    // Built-in names never reach the library.
    EXPECT_EQ(Eval("size(\"abc\")"), "int 3");
}

TEST_F(SharedLibraryTest, MissingLibraryIsUndefined) {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    UseLibrary((dir_ + "/no_such_library.so").c_str());
    EXPECT_EQ(Eval("add_ints(1, 2)"), "UNDEFINED");
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    UseLibrary(TORVEL_SOURCE_DIR "/tests/classad/plugin/classad_test_plugin.cpp");
    EXPECT_EQ(Eval("add_ints(1, 2)"), "UNDEFINED");  // not a shared object
}

TEST_F(SharedLibraryTest, ReturnedTextsAreReleasedExactlyOnce) {
    // A double release aborts under the sanitizers and a missing one shows
    // as a leak there; without them the heap must not grow.
#if !defined(__SANITIZE_ADDRESS__)
    Eval("describe(\"warm up\")");
    size_t before = mallinfo2().uordblks;
#endif
    for (int i = 0; i < 2000; i++) {
        ASSERT_EQ(Eval("describe(\"some text that is long enough to notice\")"),
                  "string \"2:some text that is long enough to notice\"");
    }
#if !defined(__SANITIZE_ADDRESS__)
    size_t after = mallinfo2().uordblks;
    EXPECT_LT(after, before + 16384) << before << " -> " << after;
#endif
}

}  // namespace
