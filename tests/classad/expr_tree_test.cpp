// Tests of the expression-tree nodes: the exact printed text of every node
// kind and its length, deep copies, structural equality, attribute
// references, the debug display with its parentheses, the shared string
// space's lifetime, and destruction of trees too deep to recurse over.
#include "classad/expr_tree.h"

#include <limits.h>
#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "classad/attr_list.h"
#include "classad/literal_text.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "core/string_space.h"
#include "gtest/gtest.h"
#include "tests/classad/classad_test_util.h"

namespace {

using classad_test::DisplayCapture;
using classad_test::ParseText;
using classad_test::Print;
using classad_test::SameTree;
using classad_test::TreePtr;

ExprTree *V(const char *name) {
    return new Variable(name);
}
ExprTree *I(int v) {
    return new Integer(v);
}

std::string Join(StringList &list) {
    std::string out;
    list.rewind();
    const char *item;
    while ((item = list.next()) != nullptr) {
        out += out.empty() ? "" : ",";
        out += item;
    }
    return out;
}

class ExprTreeTest : public ::testing::Test {
 protected:
    // The printed text, also checking that the calculated length matches.
    std::string Printed(ExprTree *tree) {
        std::string text = Print(tree);
        EXPECT_EQ(static_cast<int>(text.size()), tree->CalcPrintToStr()) << text;
        return text;
    }

    std::string Shown(ExprTree *tree) {
        DisplayCapture capture;
        tree->Display();
        return capture.Take();
    }
};

TEST_F(ExprTreeTest, LeavesPrintExactly) {
    struct {
        ExprTree *tree;
        const char *text;
    } cases[] = {
        {new Variable("MY.Memory"), "MY.Memory"},
        {new Integer(42), "42"},
        {new Integer(-5), "-5"},
        {new Integer(INT_MIN), "-2147483648"},
        {new Float(2.5f), "2.500000"},
        {new Float(0.1f), "0.100000"},
        {new Float(1e-7f), "0.000000"},
        {new Float(-0.25f), "-0.250000"},
        {new Float(1e20f), "100000002004087734272.000000"},
        {new String("plain"), "\"plain\""},
        {new String("say \"hi\""), "\"say \\\"hi\\\"\""},
        {new String("back\\slash\\n\ttab\nline"), "\"back\\slash\\n\ttab\nline\""},
        {new String(""), "\"\""},
        {new ISOTime("2004-01-01T00:00:00"), "'2004-01-01T00:00:00'"},
        {new ClassadBoolean(1), "TRUE"},
        {new ClassadBoolean(0), "FALSE"},
        {new Undefined(), "UNDEFINED"},
        {new Error(), "ERROR"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.text, Printed(c.tree));
        delete c.tree;
    }
}

// Numbers are formatted by hand: every float prints as "%f" of its value,
// every int as "%d" (or "%u" before an operator), over a stride of all
// float bit patterns and the edges: subnormals, exact halves of a
// millionth, the hand path's upper end and beyond it.
TEST_F(ExprTreeTest, NumbersPrintAsTheLibraryFormatsThem) {
    std::vector<uint32_t> patterns;
    for (uint64_t bits = 0; bits <= UINT32_MAX; bits += 40009) {
        patterns.push_back(static_cast<uint32_t>(bits));
    }
    const float kEdges[] = {0.0f,        -0.0f,    0.0078125f, 0.0234375f,       1.0e-6f,
                            5.0e-7f,     1.0f / 3, 0.5f,       1099511627776.0f, 1099511562240.0f,
                            16777216.0f, 3.0e38f,  1.0e-45f,   -1.5e-7f,         4.5e-7f};
    for (float edge : kEdges) {
        uint32_t bits;
        memcpy(&bits, &edge, sizeof bits);
        patterns.push_back(bits);
        patterns.push_back(bits ^ 0x80000000u);
        patterns.push_back(bits + 1);
    }
    for (uint32_t bits : patterns) {
        float v;
        memcpy(&v, &bits, sizeof v);
        char expected[literal_text::kNumberRoom];
        snprintf(expected, sizeof expected, "%f", static_cast<double>(v));
        Float tree(v);
        ASSERT_EQ(expected, Printed(&tree)) << "bits " << bits;
    }
    const int kInts[] = {0, 1, -1, 9, 10, -10, 99, 100, 123456789, INT_MAX, INT_MIN, -2147483647};
    for (int v : kInts) {
        for (bool followed : {false, true}) {
            char expected[32];
            snprintf(expected, sizeof expected, v < 0 && followed ? "%u" : "%d", v);
            char got[literal_text::kNumberRoom];
            std::string text(got, static_cast<size_t>(literal_text::FormatInt(got, v, followed)));
            EXPECT_EQ(expected, text) << v << (followed ? " followed" : "");
        }
    }
}

TEST_F(ExprTreeTest, NumbersPrintInTheCLocaleWhateverTheProcessLocale) {
    const char *names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
    std::string previous = setlocale(LC_NUMERIC, nullptr);
    for (const char *name : names) {
        if (setlocale(LC_NUMERIC, name) != nullptr) {
            break;
        }
    }
    Float f(2.5f);
    std::string text = Printed(&f);
    setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ("2.500000", text);
}

TEST_F(ExprTreeTest, EveryOperatorPrintsWithOneBlankEachSide) {
    struct {
        ExprTree *tree;
        const char *text;
    } cases[] = {
        {new AddOp(V("a"), V("b")), "a + b"},
        {new SubOp(V("a"), V("b")), "a - b"},
        {new MultOp(V("a"), V("b")), "a * b"},
        {new DivOp(V("a"), V("b")), "a / b"},
        {new MetaEqOp(V("a"), V("b")), "a =?= b"},
        {new MetaNeqOp(V("a"), V("b")), "a =!= b"},
        {new EqOp(V("a"), V("b")), "a == b"},
        {new NeqOp(V("a"), V("b")), "a != b"},
        {new GtOp(V("a"), V("b")), "a > b"},
        {new GeOp(V("a"), V("b")), "a >= b"},
        {new LtOp(V("a"), V("b")), "a < b"},
        {new LeOp(V("a"), V("b")), "a <= b"},
        {new AndOp(V("a"), V("b")), "a && b"},
        {new OrOp(V("a"), V("b")), "a || b"},
        {new AssignOp(V("a"), V("b")), "a = b"},
        // A group, a unary minus and missing operands.
        {new AddOp(nullptr, V("x")), "(x)"},
        {new SubOp(nullptr, V("x")), " - x"},
        {new AddOp(nullptr, nullptr), "()"},
        {new MultOp(V("a"), nullptr), "a * "},
        {new AssignOp(V("x"), new SubOp(nullptr, V("y"))), "x =  - y"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.text, Printed(c.tree));
        delete c.tree;
    }
}

TEST_F(ExprTreeTest, NegativeIntegersBeforeAnOperatorPrintUnsigned) {
    // "-1 + 2" would read back as a unary minus over "1 + 2"; the unsigned
    // 32-bit form reads back as the same value.
    AddOp before(I(-1), I(2));
    EXPECT_EQ("4294967295 + 2", Printed(&before));
    MultOp min(new Integer(INT_MIN), V("x"));
    EXPECT_EQ("2147483648 * x", Printed(&min));
    // Where nothing follows in the expression, the minus stays.
    AddOp after(I(2), I(-1));
    EXPECT_EQ("2 + -1", Printed(&after));
    AssignOp assign(I(-1), I(-2));
    EXPECT_EQ("-1 = -2", Printed(&assign));
    AddOp group(nullptr, new AddOp(I(1), I(-7)));
    EXPECT_EQ("(1 + -7)", Printed(&group));
    Function call("g");
    call.AppendArgument(I(-3));
    call.AppendArgument(new OrOp(I(-4), I(-5)));
    EXPECT_EQ("g(-3; 4294967292 || -5)", Printed(&call));
    // The right spine of a left operand is followed too.
    AddOp spine(new MultOp(V("a"), I(-1)), I(0));
    EXPECT_EQ("a * 4294967295 + 0", Printed(&spine));
}

TEST_F(ExprTreeTest, CallsPrintWithSemicolons) {
    Function none("time");
    EXPECT_EQ("time()", Printed(&none));
    Function one("MY.g");
    one.AppendArgument(I(1));
    EXPECT_EQ("MY.g(1)", Printed(&one));
    Function two("g");
    two.AppendArgument(V("x"));
    two.AppendArgument(new String("a\"b"));
    EXPECT_EQ("g(x; \"a\\\"b\")", Printed(&two));
    Function nested("Outer");
    Function *inner = new Function("inner");
    inner->AppendArgument(I(1));
    inner->AppendArgument(I(2));
    nested.AppendArgument(inner);
    nested.AppendArgument(new AddOp(nullptr, V("z")));
    EXPECT_EQ("Outer(inner(1; 2); (z))", Printed(&nested));
}

TEST_F(ExprTreeTest, ParsedTextsPrintCanonically) {
    struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"a=1+2*(b)", "a = 1 + 2 * (b)"},
        {"g(x,\"a\\\"b\")", "g(x; \"a\\\"b\")"},
        {"x = -y", "x =  - y"},
        {"x = (a || b) && c", "x = (a || b) && c"},
        {"x = a || b && c", "x = a || b && c"},
        {"x=-5", "x = -5"},
        {"x = -2.5", "x = -2.500000"},
        {"x = \"a\\b\"", "x = \"a\\b\""},
        {"Memory>=64&&MY.Disk>1000", "Memory >= 64 && MY.Disk > 1000"},
        {"x = 'now'", "x = 'now'"},
        {"x = true || F", "x = TRUE || FALSE"},
        {"x = undefined =?= error", "x = UNDEFINED =?= ERROR"},
        {"x = g(1;2,3)", "x = g(1; 2; 3)"},
    };
    for (auto &c : cases) {
        TreePtr tree = ParseText(c.in);
        ASSERT_NE(nullptr, tree) << c.in;
        EXPECT_EQ(c.out, Printed(tree.get())) << c.in;
    }
}

TEST_F(ExprTreeTest, PrintToStrAppendsAndMyStringAssigns) {
    TreePtr tree = ParseText("a = b + 1");
    ASSERT_NE(nullptr, tree);
    char buffer[64] = "prefix:";
    tree->PrintToStr(buffer);
    EXPECT_STREQ("prefix:a = b + 1", buffer);
    MyString out("old text that goes");
    tree->PrintToStr(out);
    EXPECT_STREQ("a = b + 1", out.Value());
}

TEST_F(ExprTreeTest, DeepCopyIsEqualAndIndependent) {
    TreePtr tree = ParseText("x = (a + -b) * g(1, \"s\", 'T') / 2.5 || !c");
    ASSERT_EQ(nullptr, tree);  // "!" alone before a name fails the parse
    tree = ParseText("x = (a + -b) * g(1, \"s\", 'T') / 2.5 || c =!= UNDEFINED");
    ASSERT_NE(nullptr, tree);
    TreePtr copy(tree->DeepCopy());
    EXPECT_NE(tree.get(), copy.get());
    EXPECT_TRUE(SameTree(tree.get(), copy.get()));
    EXPECT_EQ(Print(tree.get()), Print(copy.get()));
    ExprTree *original_left = tree->LArg();
    tree.reset();
    EXPECT_EQ("x", Printed(copy->LArg()));
    EXPECT_NE(original_left, copy->LArg());
}

TEST_F(ExprTreeTest, DeepCopyKeepsGroupsUnaryMinusAndMissingOperands) {
    AddOp group(nullptr, V("x"));
    SubOp minus(nullptr, V("x"));
    MultOp half(V("a"), nullptr);
    ExprTree *trees[] = {&group, &minus, &half};
    for (ExprTree *t : trees) {
        TreePtr copy(t->DeepCopy());
        EXPECT_EQ(t->MyType(), copy->MyType());
        EXPECT_TRUE(*t == *copy);
        EXPECT_EQ(Print(t), Print(copy.get()));
    }
}

TEST_F(ExprTreeTest, CopiesShareTheInternedText) {
    Variable original("SharedName");
    TreePtr copy(original.DeepCopy());
    EXPECT_EQ(original.Name(), static_cast<Variable *>(copy.get())->Name());
    String s1("text");
    String s2("text");
    String s3("Text");
    EXPECT_EQ(s1.Value(), s2.Value());
    EXPECT_NE(s1.Value(), s3.Value());
    // Names and string texts share one space.
    Variable v("text");
    EXPECT_EQ(s1.Value(), v.Name());
}

TEST_F(ExprTreeTest, StructuralEquality) {
    Variable a("Abc"), a2("Abc"), lower("abc");
    EXPECT_TRUE(a == a2);
    EXPECT_FALSE(a == lower);
    Integer one(1), one2(1), two(2);
    ClassadBoolean t(1);
    EXPECT_TRUE(one == one2);
    EXPECT_FALSE(one == two);
    EXPECT_FALSE(one == t);
    EXPECT_FALSE(t == one);
    Float f(1.0f), f2(1.0f);
    EXPECT_TRUE(f == f2);
    EXPECT_FALSE(f == one);
    String s("x"), s2("x"), upper("X");
    ISOTime time("x");
    EXPECT_TRUE(s == s2);
    EXPECT_FALSE(s == upper);
    EXPECT_FALSE(s == time);
    EXPECT_FALSE(time == s);
    Undefined u1, u2;
    Error e1, e2;
    EXPECT_TRUE(u1 == u2);
    EXPECT_TRUE(e1 == e2);
    EXPECT_FALSE(u1 == e1);
    // Binary nodes: kind and operands, a missing one equal only to another.
    AddOp group(nullptr, V("x"));
    SubOp minus(nullptr, V("x"));
    AddOp group2(nullptr, V("x"));
    AddOp sum(V("x"), V("x"));
    EXPECT_TRUE(group == group2);
    EXPECT_FALSE(group == minus);
    EXPECT_FALSE(group == sum);
    EXPECT_FALSE(sum == group);
    // Calls are never equal, not even to themselves.
    Function g("g");
    EXPECT_FALSE(g == g);
    AddOp with_call(V("x"), new Function("g"));
    EXPECT_FALSE(with_call == with_call);
}

TEST_F(ExprTreeTest, OnlyNumbersHaveAnOrdering) {
    Variable a("a"), b("b");
    String s("a");
    AddOp sum(V("x"), V("y"));
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(s >= s);
    EXPECT_FALSE(sum <= sum);
}

TEST_F(ExprTreeTest, AccessorsAndKinds) {
    TreePtr tree = ParseText("x = g(1)");
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(LX_ASSIGN, tree->MyType());
    EXPECT_EQ(LX_VARIABLE, tree->LArg()->MyType());
    EXPECT_EQ(LX_FUNCTION, tree->RArg()->MyType());
    EXPECT_EQ(nullptr, tree->LArg()->LArg());
    EXPECT_EQ(nullptr, tree->RArg()->RArg());
    EXPECT_STREQ("x", static_cast<VariableBase *>(tree->LArg())->Name());
    EXPECT_EQ(1, static_cast<FunctionBase *>(tree->RArg())->Arguments().Number());
    EXPECT_EQ(7, Integer(7).Value());
    EXPECT_EQ(1.5f, Float(1.5f).Value());
    EXPECT_STREQ("s", String("s").Value());
    EXPECT_STREQ("t", ISOTime("t").Value());
    EXPECT_EQ(1, ClassadBoolean(1).Value());
}

TEST_F(ExprTreeTest, ReferencesAreSplitByScope) {
    AttrList ad;
    ASSERT_TRUE(ad.Insert("y = 1", true));
    ASSERT_TRUE(ad.Insert("w = 2", true));
    TreePtr tree = ParseText("x = y + TARGET.z + MY.w + g(v)");
    ASSERT_NE(nullptr, tree);
    StringList internal, external;
    tree->GetReferences(&ad, internal, external);
    EXPECT_EQ("y,w", Join(internal));
    EXPECT_EQ("z,v", Join(external));

    ASSERT_TRUE(ad.Insert("v = 3", true));
    StringList internal2, external2;
    tree->GetReferences(&ad, internal2, external2);
    EXPECT_EQ("y,w,v", Join(internal2));
    EXPECT_EQ("z", Join(external2));
}

TEST_F(ExprTreeTest, ReferencesAreRecordedOnceWhateverTheCase) {
    AttrList ad;
    ASSERT_TRUE(ad.Insert("Mem = 1", true));
    TreePtr tree =
        ParseText("mem + MEM + target.Disk + TARGET.disk + Other.Thing + my.mem + (q * -Q)");
    ASSERT_NE(nullptr, tree);
    StringList internal, external;
    tree->GetReferences(&ad, internal, external);
    EXPECT_EQ("mem,Thing", Join(internal));
    EXPECT_EQ("Disk,q", Join(external));
    // Without an ad every plain name is external.
    StringList internal2, external2;
    tree->GetReferences(nullptr, internal2, external2);
    EXPECT_EQ("Thing,mem", Join(internal2));
    EXPECT_EQ("mem,Disk,q", Join(external2));
}

TEST_F(ExprTreeTest, AssignmentReferencesOnlyItsRightSide) {
    TreePtr tree = ParseText("lhs = rhs");
    ASSERT_NE(nullptr, tree);
    StringList internal, external;
    tree->GetReferences(nullptr, internal, external);
    EXPECT_EQ("", Join(internal));
    EXPECT_EQ("rhs", Join(external));
}

TEST_F(ExprTreeTest, DisplayLeaves) {
    Float f(0.5f);
    String s("a\"b");
    ISOTime t("2004");
    Function g("g");
    g.AppendArgument(I(1));
    EXPECT_EQ("0.500000", Shown(&f));
    EXPECT_EQ("\"a\"b\"", Shown(&s));  // no escaping
    EXPECT_EQ("\"2004\"", Shown(&t));  // double quotes for a time too
    EXPECT_EQ("Unknown type", Shown(&g));
    ClassadBoolean b(0);
    Undefined u;
    Error e;
    Integer i(-3);
    EXPECT_EQ("FALSE", Shown(&b));
    EXPECT_EQ("UNDEFINED", Shown(&u));
    EXPECT_EQ("ERROR", Shown(&e));
    EXPECT_EQ("-3", Shown(&i));
}

TEST_F(ExprTreeTest, DisplayParenthesisesByKind) {
    struct {
        ExprTree *tree;
        const char *shown;
    } cases[] = {
        {new MultOp(new AddOp(V("a"), V("b")), V("c")), "(a + b) * c"},
        {new MultOp(V("c"), new SubOp(V("a"), V("b"))), "c * (a - b)"},
        {new MultOp(new MultOp(V("a"), V("b")), V("c")), "a * b * c"},
        {new SubOp(V("a"), new SubOp(V("b"), V("c"))), "a - (b - c)"},
        {new SubOp(new SubOp(V("a"), V("b")), V("c")), "a - b - c"},
        {new SubOp(V("a"), new MultOp(V("b"), V("c"))), "a - b * c"},
        {new SubOp(nullptr, new AddOp(V("a"), V("b"))), " - (a + b)"},
        {new DivOp(new DivOp(V("a"), V("b")), V("c")), "(a / b) / c"},
        {new DivOp(new MultOp(V("a"), V("b")), V("c")), "a * b / c"},
        {new DivOp(V("a"), new MultOp(V("b"), V("c"))), "a / (b * c)"},
        {new DivOp(V("a"), new DivOp(V("b"), V("c"))), "a / (b / c)"},
        {new EqOp(new LtOp(V("a"), V("b")), V("c")), "(a < b) == c"},
        {new LtOp(V("a"), new EqOp(V("b"), V("c"))), "a < (b == c)"},
        {new MetaEqOp(new NeqOp(V("a"), V("b")), new MetaNeqOp(V("c"), V("d"))),
         "(a != b) =?= c =!= d"},
        {new EqOp(new AddOp(V("a"), V("b")), V("c")), "a + b == c"},
        {new AndOp(new OrOp(V("a"), V("b")), new EqOp(V("c"), V("d"))), "(a || b) && (c == d)"},
        {new AndOp(new AndOp(V("a"), V("b")), new DivOp(V("c"), V("d"))), "a && b && (c / d)"},
        {new OrOp(new AndOp(V("a"), V("b")), new OrOp(V("c"), V("d"))), "(a && b) || c || d"},
        {new OrOp(new MetaEqOp(V("a"), V("b")), V("c")), "a =?= b || c"},
        {new AddOp(new MultOp(V("a"), V("b")), new SubOp(V("c"), V("d"))), "a * b + c - d"},
        {new AssignOp(V("x"), new OrOp(V("a"), V("b"))), "x = a || b"},
        // A group is an AddOp: it shows as "(" inner ")" and is wrapped again
        // where an AddOp would be.
        {new AddOp(nullptr, new OrOp(V("a"), V("b"))), "(a || b)"},
        {new MultOp(new AddOp(nullptr, new AddOp(V("a"), V("b"))), V("c")), "((a + b)) * c"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.shown, Shown(c.tree));
        delete c.tree;
    }
}

TEST_F(ExprTreeTest, TheStringSpaceLivesWhileANodeDoes) {
    ASSERT_EQ(0, ExprTree::string_space_references);
    EXPECT_EQ(nullptr, ExprTree::string_space);
    {
        Variable only("only");
        EXPECT_EQ(1, ExprTree::string_space_references);
        ASSERT_NE(nullptr, ExprTree::string_space);
        EXPECT_EQ(1, ExprTree::string_space->numberOfStrings());
        {
            TreePtr tree = ParseText("only + other + only");
            EXPECT_EQ(6, ExprTree::string_space_references);
            EXPECT_EQ(2, ExprTree::string_space->numberOfStrings());
        }
        EXPECT_EQ(1, ExprTree::string_space->numberOfStrings());
    }
    EXPECT_EQ(0, ExprTree::string_space_references);
    EXPECT_EQ(nullptr, ExprTree::string_space);
    Integer next(1);
    EXPECT_NE(nullptr, ExprTree::string_space);
    EXPECT_EQ(0, ExprTree::string_space->numberOfStrings());
}

TEST_F(ExprTreeTest, VeryDeepTreesAreDestroyedWithoutRecursion) {
    // A left-deep chain and a right-deep one far beyond any stack's depth.
    ExprTree *left = V("x");
    ExprTree *right = V("y");
    for (int i = 0; i < 1000000; i++) {
        left = new AddOp(left, I(i));
        right = new SubOp(nullptr, right);
    }
    Function *calls = new Function("g");
    Function *inner = calls;
    for (int i = 0; i < 200000; i++) {
        Function *next = new Function("g");
        inner->AppendArgument(next);
        inner->AppendArgument(V("a"));
        inner = next;
    }
    delete left;
    delete right;
    delete calls;
    EXPECT_EQ(0, ExprTree::string_space_references);
}

TEST_F(ExprTreeTest, NullNamesAreTakenAsEmpty) {
    Variable v(nullptr);
    String s(nullptr);
    EXPECT_STREQ("", v.Name());
    EXPECT_EQ("\"\"", Printed(&s));
}

}  // namespace
