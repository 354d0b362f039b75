// Tests of evaluation: literals, the operator tables for every pair of
// operand kinds with UNDEFINED/ERROR propagation, 32-bit wrap-around and the
// unrepresentable quotient, string and meta comparisons, the three-valued
// logical operators with short-circuiting, attribute references through MY.
// and TARGET., CurrentTime, cycles, the nesting bound, the SIGFPE guard and
// EvalResult itself.
#include "classad/evaluation.h"

#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/functions.h"
#include "classad/operators.h"
#include "classad/parser.h"
#include "gtest/gtest.h"
#include "tests/classad/eval_test_util.h"
#include "tests/support/growth_check.h"

namespace {

using classad_eval_test::Ad;
using classad_eval_test::Describe;
using classad_eval_test::Eval;

TEST(EvalLiterals, EachLiteralKind) {
    EXPECT_EQ(Eval("42"), "int 42");
    EXPECT_EQ(Eval("2.5"), "real 2.5");
    EXPECT_EQ(Eval("\"Hello\""), "string \"Hello\"");
    EXPECT_EQ(Eval("'2004-01-01T00:00'"), "time '2004-01-01T00:00'");
    EXPECT_EQ(Eval("TRUE"), "int 1");
    EXPECT_EQ(Eval("FALSE"), "int 0");
    EXPECT_EQ(Eval("UNDEFINED"), "UNDEFINED");
    EXPECT_EQ(Eval("ERROR"), "ERROR");
    EXPECT_EQ(Eval("TRUE == 1"), "int 1");
    EXPECT_EQ(Eval("TRUE + 1"), "int 2");
    EXPECT_EQ(Eval("(7)"), "int 7");
    EXPECT_EQ(Eval("-(7)"), "int -7");
    EXPECT_EQ(Eval("-(2.5)"), "real -2.5");
}

// ---- operator tables ----

// One operand of each kind the operator layer sees.
struct Operand {
    const char *text;
    char kind;  // i integer, r real, s string, u undefined, e error
};

const Operand kOperands[] = {
    {"6", 'i'},     {"1.5", 'r'},          {"\"abc\"", 's'}, {"UNDEFINED", 'u'},
    {"ERROR", 'e'}, {"'2004-01-01'", 'e'},  // a time is an error to every operator
};

// The expected kind of "l op r" for the arithmetic and comparison operators.
char ExpectedKind(char l, char r, bool arithmetic) {
    if (l == 'e' || r == 'e') {
        return 'e';
    }
    if (l == 'u' || r == 'u') {
        return 'u';
    }
    if (l == 's' || r == 's') {
        return arithmetic || l != r ? 'e' : 'i';
    }
    if (!arithmetic) {
        return 'i';  // comparisons give integers
    }
    return l == 'i' && r == 'i' ? 'i' : 'r';
}

char KindOf(const std::string &described) {
    if (described.rfind("int", 0) == 0) return 'i';
    if (described.rfind("real", 0) == 0) return 'r';
    if (described.rfind("string", 0) == 0) return 's';
    if (described == "UNDEFINED") return 'u';
    if (described == "ERROR") return 'e';
    return '?';
}

TEST(EvalOperatorTables, ArithmeticAndComparisonForEveryKindPair) {
    const char *arithmetic[] = {"+", "-", "*", "/"};
    const char *comparison[] = {"==", "!=", "<", "<=", ">", ">="};
    for (const Operand &l : kOperands) {
        for (const Operand &r : kOperands) {
            for (const char *op : arithmetic) {
                std::string text = std::string(l.text) + " " + op + " " + r.text;
                EXPECT_EQ(KindOf(Eval(text.c_str())), ExpectedKind(l.kind, r.kind, true)) << text;
            }
            for (const char *op : comparison) {
                std::string text = std::string(l.text) + " " + op + " " + r.text;
                EXPECT_EQ(KindOf(Eval(text.c_str())), ExpectedKind(l.kind, r.kind, false)) << text;
            }
        }
    }
}

TEST(EvalOperatorTables, UnaryMinusForEveryKind) {
    EXPECT_EQ(Eval("-(6)"), "int -6");
    EXPECT_EQ(Eval("-(1.5)"), "real -1.5");
    EXPECT_EQ(Eval("-(\"abc\")"), "ERROR");
    EXPECT_EQ(Eval("-(UNDEFINED)"), "UNDEFINED");
    EXPECT_EQ(Eval("-(ERROR)"), "ERROR");
    EXPECT_EQ(Eval("-('2004-01-01')"), "ERROR");
}

TEST(EvalArithmetic, IntegerAndRealResults) {
    EXPECT_EQ(Eval("7 / 2"), "int 3");
    EXPECT_EQ(Eval("-7 / 2"), "int -3");
    EXPECT_EQ(Eval("7 / 0"), "ERROR");
    EXPECT_EQ(Eval("7.0 / 2"), "real 3.5");
    EXPECT_EQ(Eval("1.0 / 0"), "real inf");
    EXPECT_EQ(Eval("-1.0 / 0"), "real -inf");
    std::string nan = Eval("0.0 / 0");
    EXPECT_TRUE(nan == "real nan" || nan == "real -nan") << nan;
    EXPECT_EQ(Eval("2 * 3 - 4"), "int 2");
    EXPECT_EQ(Eval("1 + 0.5"), "real 1.5");
    EXPECT_EQ(Eval("UNDEFINED + ERROR"), "ERROR");
    EXPECT_EQ(Eval("ERROR + UNDEFINED"), "ERROR");
    EXPECT_EQ(Eval("\"a\" + \"b\""), "ERROR");
}

TEST(EvalArithmetic, IntegersWrapAroundInThirtyTwoBits) {
    EXPECT_EQ(Eval("2147483647 + 1"), "int -2147483648");
    EXPECT_EQ(Eval("0 - 2147483647 - 2"), "int 2147483647");
    EXPECT_EQ(Eval("65536 * 65536"), "int 0");
    EXPECT_EQ(Eval("65537 * 65537"), "int 131073");
    EXPECT_EQ(Eval("2147483647 * 2"), "int -2");
}

// Trees built by hand, so the smallest integer is a literal.
std::string EvalTree(ExprTree *tree) {
    EvalResult r;
    tree->EvalTree(nullptr, &r);
    delete tree;
    return Describe(r);
}

TEST(EvalArithmetic, SmallestIntegerNegatesAndDividesWithoutOverflow) {
    EXPECT_EQ(EvalTree(new SubOp(nullptr, new Integer(INT_MIN))), "int -2147483648");
    EXPECT_EQ(EvalTree(new DivOp(new Integer(INT_MIN), new Integer(-1))), "ERROR");
    EXPECT_EQ(EvalTree(new DivOp(new Integer(INT_MIN), new Integer(1))), "int -2147483648");
    EXPECT_EQ(EvalTree(new DivOp(new Integer(INT_MIN), new Integer(2))), "int -1073741824");
    EXPECT_EQ(EvalTree(new SubOp(new Integer(INT_MIN), new Integer(1))), "int 2147483647");
    EXPECT_EQ(EvalTree(new MultOp(new Integer(INT_MIN), new Integer(-1))), "int -2147483648");
}

TEST(EvalComparison, NumbersAndStrings) {
    EXPECT_EQ(Eval("1 == 1.0"), "int 1");
    EXPECT_EQ(Eval("2 < 2.5"), "int 1");
    EXPECT_EQ(Eval("3 >= 3"), "int 1");
    EXPECT_EQ(Eval("3 > 3"), "int 0");
    EXPECT_EQ(Eval("0 - 1 < 0"), "int 1");
    EXPECT_EQ(Eval("-1 < 0"), "int 0");  // unary minus takes the whole comparison
    EXPECT_EQ(Eval("\"abc\" == \"ABC\""), "int 1");
    EXPECT_EQ(Eval("\"abc\" != \"ABC\""), "int 0");
    EXPECT_EQ(Eval("\"abc\" < \"ABD\""), "int 1");
    EXPECT_EQ(Eval("\"b\" > \"A\""), "int 1");
    EXPECT_EQ(Eval("\"abc\" == 1"), "ERROR");
    EXPECT_EQ(Eval("UNDEFINED == UNDEFINED"), "UNDEFINED");
    EXPECT_EQ(Eval("'2004-01-01' == 1"), "ERROR");
    EXPECT_EQ(Eval("'2004-01-01' == '2004-01-01'"), "ERROR");
}

TEST(EvalComparison, MetaEqualityForEveryKindPair) {
    EXPECT_EQ(Eval("\"abc\" =?= \"ABC\""), "int 0");
    EXPECT_EQ(Eval("\"abc\" =?= \"abc\""), "int 1");
    EXPECT_EQ(Eval("\"abc\" =!= \"ABC\""), "int 1");
    EXPECT_EQ(Eval("1 =?= 1.0"), "int 1");
    EXPECT_EQ(Eval("1.0 =?= 1"), "int 1");
    EXPECT_EQ(Eval("1 =?= 2"), "int 0");
    EXPECT_EQ(Eval("\"1\" =?= 1"), "int 0");
    EXPECT_EQ(Eval("UNDEFINED =?= UNDEFINED"), "int 1");
    EXPECT_EQ(Eval("ERROR =?= ERROR"), "int 1");
    EXPECT_EQ(Eval("UNDEFINED =?= 1"), "int 0");
    EXPECT_EQ(Eval("ERROR =!= UNDEFINED"), "int 1");
    EXPECT_EQ(Eval("UNDEFINED =!= UNDEFINED"), "int 0");
    EXPECT_EQ(Eval("x =?= UNDEFINED"), "int 1");
    // A time is an error value to the operator layer.
    EXPECT_EQ(Eval("'2004' =?= ERROR"), "int 1");
    for (const Operand &l : kOperands) {
        for (const Operand &r : kOperands) {
            std::string eq = std::string(l.text) + " =?= " + r.text;
            std::string ne = std::string(l.text) + " =!= " + r.text;
            std::string a = Eval(eq.c_str());
            std::string b = Eval(ne.c_str());
            ASSERT_TRUE(a == "int 0" || a == "int 1") << eq << " gave " << a;
            EXPECT_NE(a, b) << eq << " and " << ne;
            bool identical = &l == &r || (l.kind == 'e' && r.kind == 'e');
            EXPECT_EQ(a, identical ? "int 1" : "int 0") << eq;
        }
    }
}

// ---- logical operators ----

struct Truth {
    const char *text;
    char kind;  // t true, f false, u undefined, e error (strings too)
};

const Truth kTruths[] = {
    {"TRUE", 't'}, {"3", 't'},         {"0.5", 't'},   {"FALSE", 'f'},   {"0", 'f'},
    {"0.0", 'f'},  {"UNDEFINED", 'u'}, {"ERROR", 'e'}, {"\"yes\"", 'e'},
};

std::string Expected(char kind) {
    switch (kind) {
        case 't':
            return "int 1";
        case 'f':
            return "int 0";
        case 'u':
            return "UNDEFINED";
        default:
            return "ERROR";
    }
}

char OrTable(char l, char r) {
    if (l == 't' || r == 't') return 't';
    if (l == 'e' || r == 'e') return 'e';
    if (l == 'u' || r == 'u') return 'u';
    return 'f';
}

char AndTable(char l, char r) {
    if (l != 't') return l;  // the left side decides
    return r;
}

TEST(EvalLogic, OrAndAndTablesForEveryPair) {
    for (const Truth &l : kTruths) {
        for (const Truth &r : kTruths) {
            std::string o = std::string(l.text) + " || " + r.text;
            std::string a = std::string(l.text) + " && " + r.text;
            EXPECT_EQ(Eval(o.c_str()), Expected(OrTable(l.kind, r.kind))) << o;
            EXPECT_EQ(Eval(a.c_str()), Expected(AndTable(l.kind, r.kind))) << a;
        }
    }
}

TEST(EvalLogic, NamedCasesAndNaNIsTrue) {
    EXPECT_EQ(Eval("TRUE || ERROR"), "int 1");
    EXPECT_EQ(Eval("ERROR || TRUE"), "int 1");
    EXPECT_EQ(Eval("FALSE && ERROR"), "int 0");
    EXPECT_EQ(Eval("UNDEFINED && FALSE"), "UNDEFINED");
    EXPECT_EQ(Eval("ERROR && FALSE"), "ERROR");
    EXPECT_EQ(Eval("(0.0 / 0) && TRUE"), "int 1");
    EXPECT_EQ(Eval("x || TRUE"), "int 1");
    EXPECT_EQ(Eval("x && TRUE"), "UNDEFINED");
    EXPECT_EQ(Eval("x + 1"), "UNDEFINED");
}

TEST(EvalLogic, ShortCircuitSkipsTheRightOperand) {
    classad_debug_function_run = false;
    EXPECT_EQ(Eval("TRUE || _debug_function_()"), "int 1");
    EXPECT_EQ(Eval("FALSE && _debug_function_()"), "int 0");
    EXPECT_EQ(Eval("UNDEFINED && _debug_function_()"), "UNDEFINED");
    EXPECT_EQ(Eval("\"s\" && _debug_function_()"), "ERROR");
    EXPECT_FALSE(classad_debug_function_run);
    EXPECT_EQ(Eval("FALSE || _debug_function_()"), "int 1");
    EXPECT_TRUE(classad_debug_function_run);
    classad_debug_function_run = false;
    EXPECT_EQ(Eval("TRUE && _debug_function_()"), "int 1");
    EXPECT_TRUE(classad_debug_function_run);
    classad_debug_function_run = false;
}

// An operand's type is that of its last setter; a new one is undefined.
TEST(EvalOperateLayer, ValueTypeIsThatOfTheLastSetter) {
    Value v;
    EXPECT_EQ(v.getType(), UNDEFINED_VALUE);
    EXPECT_TRUE(v.isUndefinedValue());
    v.setIntegerValue(3);
    EXPECT_EQ(v.getType(), INTEGER_VALUE);
    EXPECT_FALSE(v.isUndefinedValue());
    v.setRealValue(1.5);
    EXPECT_EQ(v.getType(), REAL_VALUE);
    char text[] = "t";
    v.setStringValue(text);
    EXPECT_EQ(v.getType(), STRING_VALUE);
    v.setErrorValue();
    EXPECT_EQ(v.getType(), ERROR_VALUE);
    EXPECT_FALSE(v.isUndefinedValue());
    v.setUndefinedValue();
    EXPECT_EQ(v.getType(), UNDEFINED_VALUE);
    EXPECT_TRUE(v.isUndefinedValue());
}

TEST(EvalOperateLayer, DirectCallsAndUnknownOperation) {
    Value l, r, out;
    l.setIntegerValue(1);
    EXPECT_FALSE(operateShortCircuit(LOGICAL_AND_OP, l, out));
    EXPECT_TRUE(operateShortCircuit(LOGICAL_OR_OP, l, out));
    int i = 0;
    EXPECT_TRUE(out.isIntegerValue(i));
    EXPECT_EQ(i, 1);
    EXPECT_FALSE(operateShortCircuit(ADDITION_OP, l, out));
    r.setRealValue(2.75);
    double d = 0;
    EXPECT_TRUE(r.isNumber(i));
    EXPECT_EQ(i, 2);
    r.setRealValue(1e10);
    EXPECT_FALSE(r.isNumber(i));  // no 32-bit form
    EXPECT_TRUE(r.isNumber(d));
    char text[] = "abc";
    r.setStringValue(text);
    char *got = nullptr;
    EXPECT_TRUE(r.isStringValue(got));
    EXPECT_EQ(got, text);  // borrowed, not copied
    EXPECT_FALSE(r.isNumber(d));
    EXPECT_EXIT(operate(ADDITION_OP, l, out), testing::ExitedWithCode(4), "Should not get here");
    EXPECT_EXIT(operate(static_cast<OpKind>(99), l, l, out), testing::ExitedWithCode(4),
                "Should not get here");
}

// ---- attribute references ----

TEST(EvalReferences, ScopesAndLookupOrder) {
    auto my = Ad({"a = 1", "Memory = 64", "self = MY.a", "useb = b"});
    auto target = Ad({"b = a", "a = 2", "x = 10", "Memory = 128"});
    EXPECT_EQ(Eval("memory", my.get(), target.get()), "int 64");
    EXPECT_EQ(Eval("MY.Memory", my.get(), target.get()), "int 64");
    EXPECT_EQ(Eval("my.memory", my.get(), target.get()), "int 64");
    EXPECT_EQ(Eval("TARGET.Memory", my.get(), target.get()), "int 128");
    EXPECT_EQ(Eval("target.memory", my.get(), target.get()), "int 128");
    EXPECT_EQ(Eval("TARGET.MY.Memory", my.get(), target.get()), "int 128");
    EXPECT_EQ(Eval("TARGET.TARGET.Memory", my.get(), target.get()), "int 64");
    EXPECT_EQ(Eval(".Memory", my.get(), target.get()), "int 64");
    // Unqualified names fall back to the target, evaluated there as MY.
    EXPECT_EQ(Eval("x", my.get(), target.get()), "int 10");
    EXPECT_EQ(Eval("b", my.get(), target.get()), "int 2");
    EXPECT_EQ(Eval("useb", my.get(), target.get()), "int 2");
    // A scope prefix restricts the search to that ad.
    EXPECT_EQ(Eval("MY.x", my.get(), target.get()), "UNDEFINED");
    EXPECT_EQ(Eval("TARGET.useb", my.get(), target.get()), "UNDEFINED");
    EXPECT_EQ(Eval("OTHER.Memory", my.get(), target.get()), "UNDEFINED");
    EXPECT_EQ(Eval("TARGET.Memory", my.get()), "UNDEFINED");
    EXPECT_EQ(Eval("nothing", my.get(), target.get()), "UNDEFINED");
    EXPECT_EQ(Eval("TARGET.self", target.get(), my.get()), "int 1");
}

TEST(EvalReferences, MyAdSeesOnlyTargetForItsOwnMissingNames) {
    // my: a = 1; target: b = a. b found in the target sees the target's a
    // first, so with a missing there it falls back to my a.
    auto my = Ad({"a = 1"});
    auto target = Ad({"b = a"});
    EXPECT_EQ(Eval("b", my.get(), target.get()), "int 1");
}

TEST(EvalReferences, CurrentTimeIsExactCase) {
    time_t before = time(nullptr);
    std::string now = Eval("CurrentTime");
    time_t after = time(nullptr);
    ASSERT_EQ(now.rfind("int ", 0), 0u) << now;
    long value = strtol(now.c_str() + 4, nullptr, 10);
    EXPECT_GE(value, static_cast<long>(before));
    EXPECT_LE(value, static_cast<long>(after));
    EXPECT_EQ(Eval("currenttime"), "UNDEFINED");
    auto ad = Ad({"currenttime = 5"});
    EXPECT_EQ(Eval("currenttime", ad.get()), "int 5");
    EXPECT_EQ(Eval("CurrentTime", ad.get()), "int 5");  // the ad comes first
    EXPECT_EQ(KindOf(Eval("MY.CurrentTime")), 'i');
    EXPECT_EQ(KindOf(Eval("TARGET.CurrentTime")), 'i');
}

TEST(EvalReferences, OneListFormLooksUpTheWholeNameInMyOnly) {
    auto ad = Ad({"a = 7", "b = a + 1"});
    EvalResult r;
    Variable plain("B");
    EXPECT_TRUE(plain._EvalTree(ad.get(), &r));
    EXPECT_EQ(Describe(r), "int 8");
    Variable scoped("MY.a");
    EXPECT_TRUE(scoped._EvalTree(ad.get(), &r));
    EXPECT_EQ(Describe(r), "UNDEFINED");
    Variable clock("CurrentTime");
    EXPECT_TRUE(clock._EvalTree(ad.get(), &r));
    EXPECT_EQ(Describe(r), "UNDEFINED");
    EXPECT_TRUE(plain._EvalTree(nullptr, &r));
    EXPECT_EQ(Describe(r), "UNDEFINED");
}

TEST(EvalReferences, StringResultsAreFreshCopies) {
    auto ad = Ad({"name = \"Torvel\""});
    ExprTree *tree = nullptr;
    ASSERT_EQ(Parse("name", tree), 0);
    EvalResult a, b;
    tree->EvalTree(ad.get(), &a);
    tree->EvalTree(ad.get(), &b);
    ASSERT_EQ(a.type, LX_STRING);
    EXPECT_STREQ(a.s, "Torvel");
    EXPECT_NE(a.s, b.s);
    delete tree;
}

// ---- cycles and depth ----

TEST(EvalCycles, SelfAndMutualReferencesGiveError) {
    auto ad = Ad({"x = x + 1", "a = b", "b = a", "y = y + y + y", "ok = 1", "z = ok + ok"});
    EXPECT_EQ(Eval("x", ad.get()), "ERROR");
    EXPECT_EQ(Eval("a", ad.get()), "ERROR");
    EXPECT_EQ(Eval("y", ad.get()), "ERROR");
    EXPECT_EQ(Eval("z", ad.get()), "int 2");  // a shared reference is no cycle
    // Marks are cleared afterwards: evaluating again gives the same.
    EXPECT_EQ(Eval("z", ad.get()), "int 2");
    EXPECT_EQ(Eval("x", ad.get()), "ERROR");
}

TEST(EvalCycles, OperatorsAndCallsAnswerTrueEvenForError) {
    bool returned = false;
    EXPECT_EQ(Eval("1 / 0", nullptr, nullptr, &returned), "ERROR");
    EXPECT_TRUE(returned);
    auto cyc = Ad({"c = c"});
    EXPECT_EQ(Eval("c", cyc.get(), nullptr, &returned), "ERROR");
    EXPECT_TRUE(returned);  // the refusal happens below the top node
    // A call with the wrong arguments answers false.
    EXPECT_EQ(Eval("substr(1)", nullptr, nullptr, &returned), "ERROR");
    EXPECT_FALSE(returned);
}

TEST(EvalDepth, HundredThousandTermChainsGiveErrorNotACrash) {
    ExprTree *tree = new Integer(1);
    for (int i = 0; i < 100000; i++) {
        tree = new AddOp(tree, new Integer(1));
    }
    EXPECT_EQ(EvalTree(tree), "ERROR");

    // An attribute chain far longer than the bound, inserted in chain order
    // so each lookup on the way is short.
    AttrList ad;
    char text[64];
    for (int i = 0; i < 20000; i++) {
        snprintf(text, sizeof(text), "a%d = a%d + 1", i, i + 1);
        ASSERT_TRUE(ad.Insert(text, false));
    }
    ASSERT_TRUE(ad.Insert("a20000 = 0", false));
    EXPECT_EQ(Eval("a0", &ad), "ERROR");
    EXPECT_EQ(Eval("a19990", &ad), "int 10");  // the last ten links are in reach
}

TEST(EvalDepth, ChainsWithinTheBoundEvaluate) {
    std::string text = "1";
    for (int i = 0; i < 899; i++) {
        text += " + 1";
    }
    EXPECT_EQ(Eval(text.c_str()), "int 900");

    AttrList ad;
    char line[64];
    for (int i = 0; i < 500; i++) {
        snprintf(line, sizeof(line), "a%d = a%d + 1", i, i + 1);
        ASSERT_TRUE(ad.Insert(line, false));
    }
    ASSERT_TRUE(ad.Insert("a500 = 0", false));
    EXPECT_EQ(Eval("a0", &ad), "int 500");
}

// ---- the step budget ----

// A0 = 1 and Ai = shape over A(i-1) for i = 1 .. k: with a shape naming the
// previous attribute twice, evaluating Ak reaches attributes 2^k - 1 times.
std::unique_ptr<ClassAd> DoublingChain(int k, const char *shape = "%s + %s") {
    std::unique_ptr<ClassAd> ad(new ClassAd);
    EXPECT_TRUE(ad->Insert("A0 = 1", false));
    for (int i = 1; i <= k; i++) {
        std::string previous = "A" + std::to_string(i - 1);
        char right[128];
        snprintf(right, sizeof(right), shape, previous.c_str(), previous.c_str());
        std::string line = "A" + std::to_string(i) + " = " + right;
        EXPECT_TRUE(ad->Insert(line.c_str(), false)) << line;
    }
    return ad;
}

// Restores the default budget when a test ends, however it ends.
class EvalBudget : public testing::Test {
 protected:
    void TearDown() override { classad_set_eval_step_limit(0); }
};

// Only nesting was bounded: A60 would have run for ages.
TEST_F(EvalBudget, HostileDoublingChainAnswersErrorAndTheNextEvaluationStartsAfresh) {
    auto ad = DoublingChain(60);
    bool returned = true;
    EXPECT_EQ(Eval("A60", ad.get(), nullptr, &returned), "ERROR");
    EXPECT_FALSE(returned);
    EXPECT_EQ(Eval("A10", ad.get(), nullptr, &returned), "int 1024");
    EXPECT_TRUE(returned);
    EXPECT_EQ(classad_eval_step_limit(), CLASSAD_DEFAULT_EVAL_STEPS);
}

// Running out makes the whole evaluation ERROR, even where the operators
// would have turned an ERROR part into a value.
TEST_F(EvalBudget, RunningOutIsErrorWhateverSurroundsIt) {
    auto ad = DoublingChain(60);
    classad_set_eval_step_limit(100000);
    for (const char *text :
         {"A60 || TRUE", "isError(A60)", "A60 =?= ERROR", "ifThenElse(isError(A60), 1, 2)"}) {
        EXPECT_EQ(Eval(text, ad.get()), "ERROR") << text;
    }
    EXPECT_EQ(Eval("TRUE || A60", ad.get()), "int 1");  // never reaches the chain
    // The one-list forms and an attribute evaluated by name end alike.
    int value = 0;
    EXPECT_EQ(ad->EvalInteger("A60", nullptr, value), 0);
    EvalResult r;
    EXPECT_FALSE(ad->Lookup("A60")->EvalTree(ad.get(), &r));
    EXPECT_EQ(Describe(r), "ERROR");
}

// Each reach of an attribute that is no literal costs a step (a tree of up
// to eight nodes); A10 reaches A10 once, A9 twice, ... A1 512 times: 1023
// steps. The walk and the compiled forms count alike, to the step.
TEST_F(EvalBudget, LimitIsExactAndTheCompiledFormCountsAsTheWalkDoes) {
    for (const char *shape : {"%s + %s", "int(%s) + %s"}) {  // compiled / walked
        auto ad = DoublingChain(10, shape);
        ExprTree *tree = nullptr;
        ASSERT_EQ(Parse("A10 * 1", tree), 0);
        for (long limit : {1023L, 1022L}) {
            classad_set_eval_step_limit(limit);
            const char *expected = limit == 1023 ? "int 1024" : "ERROR";
            EvalResult walked;
            EvalResult compiled;
            EXPECT_EQ(tree->_EvalTree(ad.get(), nullptr, &walked), limit == 1023) << shape;
            EXPECT_EQ(Describe(walked), expected) << shape << " " << limit;
            EXPECT_EQ(tree->EvalTree(ad.get(), nullptr, &compiled), limit == 1023) << shape;
            EXPECT_EQ(Describe(compiled), expected) << shape << " " << limit;
        }
        delete tree;
    }
}

// A large tree costs in proportion to its size, so wide attributes cannot
// buy cheap doublings: W = A1 + ... + A1 (40 references) has 81 nodes with
// its assignment, so a reach of it costs 11 steps.
TEST_F(EvalBudget, WideAttributesCostByTheirSize) {
    auto ad = DoublingChain(1);
    std::string line = "W = A1";
    for (int i = 1; i < 40; i++) {
        line += " + A1";
    }
    ASSERT_TRUE(ad->Insert(line.c_str(), false));
    classad_set_eval_step_limit(11 + 40);  // W once, A1 40 times (1 each)
    EXPECT_EQ(Eval("W", ad.get()), "int 80");
    classad_set_eval_step_limit(11 + 39);
    EXPECT_EQ(Eval("W", ad.get()), "ERROR");
}

// Matching evaluates each Requirements as a top-level evaluation of its own.
TEST_F(EvalBudget, MatchingTreatsAnExhaustedRequirementsAsNoMatch) {
    auto hostile = DoublingChain(60);
    classad_set_eval_step_limit(100000);
    ASSERT_TRUE(hostile->Insert("Requirements = A60 || TRUE", false));
    auto plain = DoublingChain(3);
    ASSERT_TRUE(plain->Insert("Requirements = TARGET.A3 == 8 || TRUE", false));
    EXPECT_EQ(hostile->IsAMatch(plain.get()), 0);
    EXPECT_EQ(plain->IsAMatch(plain.get()), 1);
}

// The work of a runaway evaluation is the budget: A60 stops in time
// proportional to the limit, whatever the chain could have cost.
TEST_F(EvalBudget, RunawayWorkGrowsWithTheLimitOnly) {
    auto ad = DoublingChain(60);
    ExprTree *tree = nullptr;
    ASSERT_EQ(Parse("A60", tree), 0);
    EXPECT_LINEAR_GROWTH(5000, [&](size_t limit) {
        classad_set_eval_step_limit(static_cast<long>(limit) * 10);
        EvalResult r;
        tree->EvalTree(ad.get(), nullptr, &r);
        ASSERT_EQ(r.type, LX_ERROR);
    });
    delete tree;
}

// ---- the floating-point guard ----

int guard_marker_calls = 0;
void GuardMarker(int) {
    guard_marker_calls++;
}

TEST(EvalSigfpeGuard, PreviousHandlerIsRestored) {
    struct sigaction mine;
    struct sigaction saved;
    memset(&mine, 0, sizeof(mine));
    mine.sa_handler = GuardMarker;
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGFPE, &mine, &saved), 0);
    EXPECT_EQ(Eval("1.5 * 2"), "real 3");
    EXPECT_EQ(Eval("1.0 / 0"), "real inf");
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGFPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, GuardMarker);
    ASSERT_EQ(sigaction(SIGFPE, &saved, nullptr), 0);
    ASSERT_EQ(sigaction(SIGFPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, saved.sa_handler);
    EXPECT_EQ(Eval("0.5 + 0.25"), "real 0.75");
    ASSERT_EQ(sigaction(SIGFPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, saved.sa_handler);
    EXPECT_EQ(guard_marker_calls, 0);
}

// ---- EvalResult and the ordering operators ----

std::string Printed(EvalResult &r) {
    char buf[128] = {0};
    FILE *f = fmemopen(buf, sizeof(buf) - 1, "w");
    r.fPrintResult(f);
    fclose(f);
    return buf;
}

TEST(EvalResultValue, CopiesAndPrinting) {
    EvalResult r;
    EXPECT_EQ(r.type, LX_UNDEFINED);
    EXPECT_EQ(Printed(r), "UNDEFINED\n");
    r.set_int(-4);
    EXPECT_EQ(Printed(r), "-4\n");
    r.set_float(2.5f);
    EXPECT_EQ(Printed(r), "2.500000\n");
    r.set_string("text");
    EXPECT_EQ(Printed(r), "text\n");
    EvalResult copy(r);
    ASSERT_EQ(copy.type, LX_STRING);
    EXPECT_STREQ(copy.s, "text");
    EXPECT_NE(copy.s, r.s);
    EvalResult &alias = copy;
    copy = alias;  // self-assignment keeps the text
    EXPECT_STREQ(copy.s, "text");
    r.set_string(r.s);  // from its own text
    EXPECT_STREQ(r.s, "text");
    r.set_error();
    EXPECT_EQ(Printed(r), "ERROR\n");
    copy = r;
    EXPECT_EQ(copy.type, LX_ERROR);
    r.set_time("2004");
    EXPECT_EQ(Printed(r), "type unknown\n");
    r.clear();
    r.type = LX_NULL;  // only ever set by hand
    EXPECT_EQ(Printed(r), "NULL\n");
    r.set_int(1);
    r.type = LX_BOOL;
    EXPECT_EQ(Printed(r), "type unknown\n");
}

TEST(EvalOrdering, NumberLiteralsCompareWithEvaluatedTrees) {
    Integer three(3);
    Float half(0.5f);
    Integer two(2);
    String text("3");
    AddOp sum(new Integer(1), new Integer(2));
    EXPECT_TRUE(three > two);
    EXPECT_TRUE(three >= sum);
    EXPECT_TRUE(three <= sum);
    EXPECT_FALSE(three < sum);
    EXPECT_TRUE(three > half);
    EXPECT_TRUE(half < three);
    EXPECT_TRUE(half <= half);
    EXPECT_FALSE(three > text);
    EXPECT_FALSE(three <= text);
    EXPECT_FALSE(text < three);  // only numbers order
}

// Texts that functions compute live only while one evaluation runs; the
// result of EvalTree must own a copy that later evaluations leave alone,
// also for a text longer than one block of that space.
TEST(EvalResultText, TopLevelResultsOwnTheirTexts) {
    EvalResult first;
    ExprTree *tree = nullptr;
    ASSERT_EQ(0, Parse("strcat(\"ab\", toUpper(\"cd\"))", tree));
    tree->EvalTree(nullptr, &first);
    delete tree;
    for (int i = 0; i < 50; i++) {
        EXPECT_EQ(Eval("strcat(\"xy\", substr(\"zzzz\", 1), string(12))"), "string \"xyzzz12\"");
    }
    ASSERT_EQ(LX_STRING, first.type);
    EXPECT_STREQ("abCD", first.s);

    std::string big(40000, 'q');
    std::string text = "strcat(\"" + big + "\", \"" + big + "\", \"!\")";
    EvalResult joined;
    ASSERT_EQ(0, Parse(text.c_str(), tree));
    tree->EvalTree(nullptr, &joined);
    delete tree;
    ASSERT_EQ(LX_STRING, joined.type);
    EXPECT_EQ(big + big + "!", joined.s);
}

// References resolve their prefixes when built; a copy must resolve its
// own, stacked prefixes included.
TEST(EvalReferences, CopiesResolveTheirScopesAgain) {
    auto my = Ad({"x = 1", "y = 10"});
    auto target = Ad({"x = 100", "y = 1000"});
    ExprTree *tree = nullptr;
    ASSERT_EQ(0, Parse("TARGET.MY.x + MY.TARGET.y * 2 + TARGET.TARGET.x * 3 + .y * 4", tree));
    ExprTree *copy = tree->DeepCopy();
    delete tree;  // the copy must not lean on the original's names
    EvalResult r;
    copy->EvalTree(my.get(), target.get(), &r);
    EXPECT_EQ("int 2143", Describe(r));
    copy->EvalTree(target.get(), my.get(), &r);
    EXPECT_EQ("int 4321", Describe(r));
    delete copy;
    EXPECT_EQ("UNDEFINED", Eval("OTHER.x", my.get(), target.get()));
}

}  // namespace
