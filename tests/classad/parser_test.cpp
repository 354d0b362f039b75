// Tests of the ClassAd parser: tree shapes for every precedence level and
// for unary minus, calls and groups, literals, the exact failure positions,
// rejection of unclosed calls, the depth bounds on hostile input, and
// print/parse round trips over seeded random trees.
#include "classad/parser.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "classad/expr_tree.h"
#include "classad/parse_cache.h"
#include "classad/scanner.h"
#include "gtest/gtest.h"
#include "tests/classad/classad_test_util.h"

namespace {

using classad_test::ParseText;
using classad_test::Print;
using classad_test::SameTree;
using classad_test::Shape;
using classad_test::TreePtr;

class ParserTest : public ::testing::Test {
 protected:
    std::string ShapeOf(const std::string &text) {
        int position = -1;
        TreePtr tree = ParseText(text, &position);
        if (tree == nullptr) {
            return "<fails at " + std::to_string(position) + ">";
        }
        return Shape(tree.get());
    }

    // The failure position of a text that must not parse.
    int FailsAt(const std::string &text) {
        ExprTree *tree = nullptr;
        int position = Parse(text.c_str(), tree);
        if (tree != nullptr) {
            ADD_FAILURE() << "parsed: " << text;
            delete tree;
            return -1;
        }
        return position;
    }
};

TEST_F(ParserTest, AssignmentsAndBareExpressions) {
    int position = -1;
    TreePtr tree = ParseText("x = 1", &position);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(0, position);
    EXPECT_EQ(LX_ASSIGN, tree->MyType());
    EXPECT_EQ(LX_VARIABLE, tree->LArg()->MyType());
    EXPECT_EQ(LX_INTEGER, tree->RArg()->MyType());
    EXPECT_EQ("(+ 1 2)", ShapeOf("1 + 2"));
    // Any left side is accepted here; attribute lists are stricter.
    EXPECT_EQ("(= 1 2)", ShapeOf("1 = 2"));
    EXPECT_EQ("(= (+ a b) c)", ShapeOf("a + b = c"));
    EXPECT_EQ("<fails at 5>", ShapeOf("a = b = c"));
}

TEST_F(ParserTest, EveryLevelIsLeftAssociative) {
    EXPECT_EQ("(|| (|| a b) c)", ShapeOf("a || b || c"));
    EXPECT_EQ("(&& (&& a b) c)", ShapeOf("a && b && c"));
    EXPECT_EQ("(== (== a b) c)", ShapeOf("a == b == c"));
    EXPECT_EQ("(=!= (=?= (!= a b) c) d)", ShapeOf("a != b =?= c =!= d"));
    EXPECT_EQ("(>= (> (<= (< a b) c) d) e)", ShapeOf("a < b <= c > d >= e"));
    EXPECT_EQ("(- (- a b) c)", ShapeOf("a - b - c"));
    EXPECT_EQ("(+ (- a b) c)", ShapeOf("a - b + c"));
    EXPECT_EQ("(* (/ a b) c)", ShapeOf("a / b * c"));
}

TEST_F(ParserTest, SevenPrecedenceLevels) {
    EXPECT_EQ("(|| a (&& b c))", ShapeOf("a || b && c"));
    EXPECT_EQ("(|| (&& a b) c)", ShapeOf("a && b || c"));
    EXPECT_EQ("(&& (== a b) (!= c d))", ShapeOf("a == b && c != d"));
    EXPECT_EQ("(== (< a b) (< c d))", ShapeOf("a < b == c < d"));
    EXPECT_EQ("(=?= a (>= b c))", ShapeOf("a =?= b >= c"));
    EXPECT_EQ("(< (+ a b) (- c d))", ShapeOf("a + b < c - d"));
    EXPECT_EQ("(+ (* a b) (/ c d))", ShapeOf("a * b + c / d"));
    EXPECT_EQ("(= x (|| (&& (== (< (+ a (* b c)) d) e) h) g))",
              ShapeOf("x = a + b * c < d == e && h || g"));
    EXPECT_EQ("(* (+ _ (+ a b)) c)", ShapeOf("(a + b) * c"));
}

TEST_F(ParserTest, UnaryMinusTakesAWholeExpression) {
    EXPECT_EQ("(- _ (+ 1 2))", ShapeOf("-1 + 2"));
    EXPECT_EQ("(- _ (< x 3))", ShapeOf("-x < 3"));
    EXPECT_EQ("(* a (- _ (+ b c)))", ShapeOf("a * -b + c"));
    EXPECT_EQ("(- _ (|| a b))", ShapeOf("-a || b"));
    // It stops where no level goes on: ")", ",", ";", "=" and the end.
    EXPECT_EQ("(* (+ _ (- _ a)) b)", ShapeOf("(-a) * b"));
    EXPECT_EQ("g[(- _ a), b]", ShapeOf("g(-a, b)"));
    EXPECT_EQ("(= (- _ a) b)", ShapeOf("-a = b"));
}

TEST_F(ParserTest, NegativeLiteralsFold) {
    TreePtr i = ParseText("-5");
    ASSERT_NE(nullptr, i);
    ASSERT_EQ(LX_INTEGER, i->MyType());
    EXPECT_EQ(-5, static_cast<Integer *>(i.get())->Value());
    TreePtr f = ParseText("-2.5");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(LX_FLOAT, f->MyType());
    EXPECT_EQ(-2.5f, static_cast<Float *>(f.get())->Value());
    TreePtr zero = ParseText("-0.0");
    ASSERT_NE(nullptr, zero);
    EXPECT_TRUE(__builtin_signbit(static_cast<Float *>(zero.get())->Value()));
    EXPECT_EQ("-2147483648", ShapeOf("-2147483648"));
    EXPECT_EQ("5", ShapeOf("- -5"));
    EXPECT_EQ("(- _ (+ _ 1))", ShapeOf("-(1)"));
    EXPECT_EQ("(= x -5)", ShapeOf("x = -5"));
    EXPECT_EQ("(* a -5)", ShapeOf("a * -5"));
}

TEST_F(ParserTest, WrappedIntegersRoundTrip) {
    // Literals of 2^31 and more keep their low 32 bits and may be negative;
    // printed before an operator they must not turn into a unary minus.
    const char *texts[] = {
        "x = 2147483648 + 1",
        "x = 1234567890012345678901 + 0",
        "x = 4294967295 * 2 - 1 < g(3000000000, 1)",
        "x = 1 + 4294967295",
        "x = -(3000000000 + 1)",
    };
    for (const char *text : texts) {
        TreePtr tree = ParseText(text);
        ASSERT_NE(nullptr, tree) << text;
        std::string printed = Print(tree.get());
        TreePtr again = ParseText(printed);
        ASSERT_NE(nullptr, again) << printed;
        EXPECT_TRUE(SameTree(tree.get(), again.get())) << text << " printed as " << printed;
    }
    EXPECT_EQ("(+ -2147483648 1)", ShapeOf("2147483648 + 1"));
    EXPECT_EQ("(+ 1 -1)", ShapeOf("1 + 4294967295"));
}

TEST_F(ParserTest, Literals) {
    EXPECT_EQ("\"a\\\"b\"", ShapeOf("\"a\\\"b\""));
    EXPECT_EQ("'2004-01-01'", ShapeOf("'2004-01-01'"));
    EXPECT_EQ("(|| TRUE FALSE)", ShapeOf("t || F"));
    EXPECT_EQ("(&& UNDEFINED ERROR)", ShapeOf("undefined && error"));
    EXPECT_EQ("1.500000", ShapeOf("1.5"));
    TreePtr b = ParseText("TRUE");
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(LX_BOOL, b->MyType());
}

TEST_F(ParserTest, Calls) {
    EXPECT_EQ("time[]", ShapeOf("time()"));
    EXPECT_EQ(ShapeOf("g(1,2)"), ShapeOf("g(1;2)"));
    EXPECT_EQ("g[a, b, c]", ShapeOf("g(a; b, c)"));
    EXPECT_EQ("MY.g[1]", ShapeOf("MY.g(1)"));
    EXPECT_EQ("StrCat[(+ a b), h[]]", ShapeOf("StrCat(a + b, h())"));
    EXPECT_EQ("(+ g[1] 2)", ShapeOf("g(1) + 2"));
    // "f" and "t" are the keywords FALSE and TRUE, so they cannot name calls.
    EXPECT_EQ("<fails at 1>", ShapeOf("f(1)"));
}

TEST_F(ParserTest, UnclosedCallsFail) {
    EXPECT_EQ(3, FailsAt("g(1"));
    EXPECT_EQ(2, FailsAt("g("));
    EXPECT_EQ(10, FailsAt("x = g(1, 2"));
    EXPECT_EQ(6, FailsAt("x = g("));
    EXPECT_EQ(3, FailsAt("g(1 2)"));
    EXPECT_EQ(4, FailsAt("g(1,"));
    EXPECT_EQ(2, FailsAt("g(,)"));
    EXPECT_EQ(6, FailsAt("h(g(1)"));
}

TEST_F(ParserTest, FailurePositions) {
    EXPECT_EQ(5, FailsAt("x = 1 2"));
    EXPECT_EQ(7, FailsAt("x = 1 +"));
    EXPECT_EQ(0, FailsAt(""));
    EXPECT_EQ(0, FailsAt("   "));
    EXPECT_EQ(0, FailsAt(")"));
    EXPECT_EQ(0, FailsAt("@"));
    EXPECT_EQ(4, FailsAt("x = @"));  // the error token counts its blank
    EXPECT_EQ(3, FailsAt("x = \"abc"));
    EXPECT_EQ(2, FailsAt("(1"));
    EXPECT_EQ(3, FailsAt("(1))"));
    EXPECT_EQ(3, FailsAt("a = "));  // the trailing blank is not consumed
    EXPECT_EQ(1, FailsAt("a $ b"));
    EXPECT_EQ(1, FailsAt("a b"));
    EXPECT_EQ(5, FailsAt("x = f(1)"));
    EXPECT_EQ(8, FailsAt("a + (b * )"));
    ExprTree *tree = nullptr;
    EXPECT_EQ(0, Parse(static_cast<const char *>(nullptr), tree));
    EXPECT_EQ(nullptr, tree);
    // A failing parse sets the caller's pointer to null.
    Integer stale(1);
    tree = &stale;
    EXPECT_EQ(0, Parse("@", tree));
    EXPECT_EQ(nullptr, tree);
}

TEST_F(ParserTest, LoneOperatorCharactersAreTheErrorLiteral) {
    const char *texts[] = {"x = !", "x = &", "x = |", "x = \""};
    for (const char *text : texts) {
        int position = -1;
        TreePtr tree = ParseText(text, &position);
        ASSERT_NE(nullptr, tree) << text;
        EXPECT_EQ(0, position);
        EXPECT_EQ("(= x ERROR)", Shape(tree.get())) << text;
    }
}

TEST_F(ParserTest, TheTextIsNeverChangedAndParsesAreIndependent) {
    char text[] = "x = g(1) + 2";
    ExprTree *tree = nullptr;
    ASSERT_EQ(0, Parse(text, tree));
    delete tree;
    EXPECT_STREQ("x = g(1) + 2", text);
    // A failure that left a looked-at token does not leak into the next parse.
    EXPECT_EQ(5, FailsAt("x = 1 2"));
    EXPECT_EQ("(= y 3)", ShapeOf("y = 3"));
    EXPECT_EQ(LX_NONE, nextToken()->type);
}

TEST_F(ParserTest, RepeatedTextsGiveEqualTreesOfTheirOwn) {
    // Enough distinct texts that kept trees are replaced, each parsed twice
    // and again after the others.
    std::vector<std::string> texts = {"Start = (KeyboardIdle > 15 * 60) && (LoadAvg <= 0.3)",
                                      "Rank = -TARGET.ImageSize / 1000.0",
                                      "x = ifThenElse(TARGET.Owner == \"alice\", 86400, 0)"};
    for (int i = 0; i < 600; i++) {
        texts.push_back("a" + std::to_string(i) + " = b + " + std::to_string(i));
    }
    for (int pass = 0; pass < 2; pass++) {
        for (const std::string &text : texts) {
            TreePtr expected = ParseText(text);
            ExprTree *first = nullptr;
            ExprTree *second = nullptr;
            ASSERT_NE(nullptr, expected) << text;
            ASSERT_EQ(0, ParseRepeated(text.c_str(), first)) << text;
            ASSERT_EQ(0, ParseRepeated(text.c_str(), second));
            TreePtr kept(second);
            ASSERT_NE(first, second);
            ASSERT_TRUE(SameTree(expected.get(), first)) << text;
            delete first;  // the other copy stays whole
            ASSERT_TRUE(SameTree(expected.get(), second)) << text;
            ASSERT_EQ(Print(expected.get()), Print(second));
        }
    }
    // Failures are answered as Parse answers them, every time.
    for (int i = 0; i < 2; i++) {
        ExprTree *tree = nullptr;
        EXPECT_EQ(5, ParseRepeated("x = 1 2", tree));
        EXPECT_EQ(nullptr, tree);
    }
    // The kept trees alone do not keep the string space.
    EXPECT_EQ(0, ExprTree::string_space_references);
    EXPECT_EQ(nullptr, ExprTree::string_space);
}

TEST_F(ParserTest, TokenAccessHonoursTheLookAheadFlag) {
    char text[] = "a + b";
    char *cursor = text;
    int count = 0;
    // A finished parse leaves the token consumed.
    EXPECT_EQ("z", ShapeOf("z"));
    Token *look = LookToken(cursor);
    EXPECT_EQ(LX_VARIABLE, look->type);
    EXPECT_EQ(LX_VARIABLE, LookToken(cursor)->type);  // not scanned again
    EXPECT_EQ(1, Match(LX_VARIABLE, cursor, count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, Match(LX_SUB, cursor, count));  // consumed though it failed
    EXPECT_EQ(3, count);
    EXPECT_EQ(LX_VARIABLE, ReadToken(cursor)->type);
    EXPECT_EQ(LX_EOF, ReadToken(cursor)->type);
}

// ---- depth bounds ----

TEST_F(ParserTest, HostileNestingFailsInsteadOfOverflowing) {
    std::string parens(100000, '(');
    EXPECT_GT(FailsAt(parens), 0);
    EXPECT_GT(FailsAt(parens + "1" + std::string(100000, ')')), 0);
    std::string minus;
    for (int i = 0; i < 100000; i++) {
        minus += "-";
    }
    EXPECT_GT(FailsAt(minus + "1"), 0);
    std::string calls;
    for (int i = 0; i < 100000; i++) {
        calls += "g(";
    }
    EXPECT_GT(FailsAt(calls + "1"), 0);
    std::string mixed;
    for (int i = 0; i < 50000; i++) {
        mixed += "a * -(";
    }
    EXPECT_GT(FailsAt(mixed + "1"), 0);
}

TEST_F(ParserTest, HostileChainsFailInsteadOfBuildingDeepTrees) {
    std::string chain = "1";
    for (int i = 0; i < 100000; i++) {
        chain += "+1";
    }
    EXPECT_GT(FailsAt(chain), 0);
    std::string ors = "x = a";
    for (int i = 0; i < 100000; i++) {
        ors += " || a";
    }
    EXPECT_GT(FailsAt(ors), 0);
}

TEST_F(ParserTest, DepthUpToTheBoundParses) {
    const int bound = CLASSAD_MAX_PARSE_DEPTH;
    // k groups around a name make a tree of height k + 1.
    std::string ok = std::string(bound - 1, '(') + "x" + std::string(bound - 1, ')');
    TreePtr tree = ParseText(ok);
    ASSERT_NE(nullptr, tree);
    TreePtr copy(tree->DeepCopy());
    EXPECT_EQ(ok, Print(copy.get()));
    std::string deep = std::string(bound, '(') + "x" + std::string(bound, ')');
    // It fails at the outermost group, once everything is consumed.
    EXPECT_EQ(2 * bound + 1, FailsAt(deep));
    // n terms make a chain of height n.
    std::string chain = "1";
    for (int i = 1; i < bound; i++) {
        chain += " + 1";
    }
    TreePtr sum = ParseText(chain);
    ASSERT_NE(nullptr, sum);
    EXPECT_EQ(chain, Print(sum.get()));
    EXPECT_GT(FailsAt(chain + " + 1"), 0);
}

TEST_F(ParserTest, WideCallsAreNotDeep) {
    std::string call = "g(0";
    for (int i = 1; i < 100000; i++) {
        call += ", " + std::to_string(i % 10);
    }
    call += ")";
    TreePtr tree = ParseText(call);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(100000, static_cast<FunctionBase *>(tree.get())->Arguments().Number());
    std::string printed = Print(tree.get());
    EXPECT_EQ(call.size(), printed.size());  // each ", " became "; "
    TreePtr copy(tree->DeepCopy());
    EXPECT_TRUE(SameTree(tree.get(), copy.get()));
}

// ---- round trips over generated trees ----

// Builds random trees of the shapes the parser produces, so that printing
// and parsing again must give the same tree: an operand at a level binds at
// least as tightly as the level (the right one strictly), and a unary minus
// or negative literal only stands where its operand's end is the end of an
// enclosing expression.
class TreeGenerator {
 public:
    explicit TreeGenerator(unsigned seed) : rng_(seed) {}

    ExprTree *Top() {
        if (Chance(3)) {
            return new AssignOp(Expr(2, true, 0), Expr(2, true, 0));
        }
        return Expr(2, true, 0);
    }

 private:
    static const int kFactor = 8;

    // level 2 (||) .. 7 (* /) or kFactor; `last` says nothing follows the
    // tree inside its expression.
    ExprTree *Expr(int level, bool last, int depth) {
        if (depth > 6 || level == kFactor || Chance(3)) {
            return Factor(last, depth);
        }
        int op_level = level + Below(kFactor - level);
        ExprTree *left = Expr(op_level, false, depth + 1);
        ExprTree *right = Expr(op_level + 1, last, depth + 1);
        return MakeOp(op_level, left, right);
    }

    ExprTree *MakeOp(int level, ExprTree *l, ExprTree *r) {
        switch (level) {
            case 2:
                return new OrOp(l, r);
            case 3:
                return new AndOp(l, r);
            case 4: {
                switch (Below(4)) {
                    case 0:
                        return new EqOp(l, r);
                    case 1:
                        return new NeqOp(l, r);
                    case 2:
                        return new MetaEqOp(l, r);
                    default:
                        return new MetaNeqOp(l, r);
                }
            }
            case 5: {
                switch (Below(4)) {
                    case 0:
                        return new LtOp(l, r);
                    case 1:
                        return new LeOp(l, r);
                    case 2:
                        return new GtOp(l, r);
                    default:
                        return new GeOp(l, r);
                }
            }
            case 6:
                return Chance(2) ? static_cast<ExprTree *>(new AddOp(l, r)) : new SubOp(l, r);
            default:
                return Chance(2) ? static_cast<ExprTree *>(new MultOp(l, r)) : new DivOp(l, r);
        }
    }

    ExprTree *Factor(bool last, int depth) {
        int pick = Below(last ? 14 : 11);
        switch (pick) {
            case 0:
                return new Integer(static_cast<int>(rng_()));  // any 32-bit value
            case 1:
                return new Float(static_cast<float>(Below(80000)) / 8.0f);
            case 2:
                return new String(RandomText().c_str());
            case 3:
                return new ISOTime(RandomTime().c_str());
            case 4:
                return new ClassadBoolean(Below(2));
            case 5:
                return Chance(2) ? static_cast<ExprTree *>(new Undefined()) : new Error();
            case 6:
            case 7:
                return new Variable(RandomName().c_str());
            case 8:
                return new AddOp(nullptr, Expr(2, true, depth + 1));
            case 9:
            case 10: {
                Function *call = new Function(RandomName().c_str());
                int n = Below(4);
                for (int i = 0; i < n; i++) {
                    call->AppendArgument(Expr(2, true, depth + 1));
                }
                return call;
            }
            case 11:
                return new Integer(-static_cast<int>(1 + Below(100000)));
            case 12:
                return new Float(-static_cast<float>(1 + Below(800)) / 4.0f);
            default: {
                ExprTree *operand = Expr(2, true, depth + 1);
                if (operand->MyType() == LX_INTEGER || operand->MyType() == LX_FLOAT) {
                    // A literal operand would fold into a negative literal.
                    operand = new AddOp(nullptr, operand);
                }
                return new SubOp(nullptr, operand);
            }
        }
    }

    std::string RandomName() {
        static const char *prefixes[] = {"", "", "", "MY.", "TARGET.", "_", "Other.x."};
        std::string name = prefixes[Below(7)];
        name += "v";
        int n = Below(6);
        for (int i = 0; i < n; i++) {
            name += "abcXYZ019_."[Below(11)];
        }
        return name;
    }

    // Any printable text with quotes and backslashes, but not ending in a
    // backslash (such a text reads back differently).
    std::string RandomText() {
        static const char chars[] = "ab Z09\"\\'\t()+-=;,.!&|@#$%{}";
        std::string text;
        int n = Below(12);
        for (int i = 0; i < n; i++) {
            text += chars[Below(sizeof(chars) - 1)];
        }
        if (!text.empty() && text.back() == '\\') {
            text += 'e';
        }
        return text;
    }

    std::string RandomTime() {
        static const char chars[] = "0123456789-:T Z+\"\\";
        std::string text;
        int n = Below(20);
        for (int i = 0; i < n; i++) {
            text += chars[Below(sizeof(chars) - 1)];
        }
        return text;
    }

    int Below(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    bool Chance(int n) { return Below(n) == 0; }

    std::mt19937 rng_;
};

TEST_F(ParserTest, PrintThenParseGivesTheSameTree) {
    TreeGenerator generator(20240611);
    for (int i = 0; i < 3000; i++) {
        TreePtr tree(generator.Top());
        std::string text = Print(tree.get());
        int position = -1;
        TreePtr again = ParseText(text, &position);
        ASSERT_NE(nullptr, again) << "#" << i << " fails at " << position << ": " << text;
        ASSERT_TRUE(SameTree(tree.get(), again.get()))
            << "#" << i << ": " << text << "\n  reads back as " << Print(again.get());
        // Copies print identically, and the calculated length is exact.
        TreePtr copy(again->DeepCopy());
        ASSERT_EQ(text, Print(copy.get()));
        ASSERT_EQ(static_cast<int>(text.size()), again->CalcPrintToStr());
    }
    EXPECT_EQ(0, ExprTree::string_space_references);
}

TEST_F(ParserTest, KnownRoundTripExceptions) {
    // Floats keep six decimals.
    TreePtr f = ParseText("0.1234567");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ("0.123457", Print(f.get()));
    // A text ending in a backslash reads back differently when more follows.
    String s("a\\");
    AddOp sum(new String("a\\"), new Integer(1));
    EXPECT_EQ("\"a\\\" + 1", Print(&sum));
    int position = -1;
    TreePtr back = ParseText(Print(&sum), &position);
    EXPECT_EQ(nullptr, back);
    TreePtr alone = ParseText(Print(&s));
    ASSERT_NE(nullptr, alone);
    EXPECT_TRUE(s == *alone);
    // A floating literal beyond single precision is an infinity, which
    // prints as "inf" and reads back as a name.
    TreePtr inf = ParseText("1.0e300 + 1");
    ASSERT_NE(nullptr, inf);
    EXPECT_EQ("inf + 1", Print(inf.get()));
    EXPECT_EQ("(+ inf 1)", ShapeOf("inf + 1"));
    EXPECT_EQ(LX_VARIABLE, ParseText("inf")->MyType());
}

}  // namespace
