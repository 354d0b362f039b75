// Where the compiled form of a tree could answer differently from the tree
// walk and the recorded corpus does not reach: cycles that come back into
// a tree whose evaluation began below its root or without a mark, the exact
// nesting bound through chains of compiled attributes, a root whose kind is
// reassigned after its form was made, and folding that must not show in
// the printed tree.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "gtest/gtest.h"
#include "tests/classad/eval_test_util.h"

namespace {

using classad_eval_test::Ad;
using classad_eval_test::Describe;
using classad_eval_test::Eval;

// The right side of attribute name in ad (borrowed from the ad).
ExprTree *RightSide(const AttrList &ad, const char *name) {
    ExprTree *assignment = ad.Lookup(name);
    return assignment != nullptr ? assignment->RArg() : nullptr;
}

// In a = (b =?= ERROR) + 0 with b = a, where the cycle is cut decides the
// answer: cut at the group (its mark) b is ERROR and the group 1; cut one
// round later, at b's own mark, a would be 1 and the group 0.
TEST(EvalCompiledForm, CyclesMeetTheMarksTheWalkWouldHaveSet) {
    auto ad = Ad({"a = (b =?= ERROR) + 0", "b = a"});
    EXPECT_EQ(Eval("a", ad.get()), "int 1");
    EXPECT_EQ(Eval("b", ad.get()), "int 1");

    // Begun at the group inside a's tree: the group is marked, a's root not.
    ExprTree *plus = RightSide(*ad, "a");
    ASSERT_NE(plus, nullptr);
    ExprTree *group = plus->LArg();
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->MyType(), LX_ADD);
    for (int round = 0; round < 2; round++) {  // the second with forms made
        EvalResult r;
        EXPECT_TRUE(group->EvalTree(ad.get(), nullptr, &r));
        EXPECT_EQ(Describe(r), "int 1") << "round " << round;
        EvalResult whole;
        EXPECT_TRUE(plus->EvalTree(ad.get(), nullptr, &whole));
        EXPECT_EQ(Describe(whole), "int 1") << "round " << round;
    }

    // Begun at a's assignment without marking it: its operands are marked,
    // so the cycle is cut at the sum, b is ERROR and the group 1.
    ExprTree *assignment = ad->Lookup("a");
    EvalResult unmarked;
    EXPECT_TRUE(assignment->_EvalTree(ad.get(), nullptr, &unmarked));
    EXPECT_EQ(Describe(unmarked), "int 1");
    EXPECT_FALSE(assignment->IsBeingEvaluated());
    EXPECT_FALSE(group->IsBeingEvaluated());
}

// a0 = a1 + 0, ..., a(n-1) = an + 0, an = n. Evaluating the reference a0
// nests three levels per link (assignment, sum, reference) after one for
// the reference itself, so the literal at the end is read at nesting 3n+1
// and must stay below the bound minus one: 999 links reach it, 1000 do not.
TEST(EvalCompiledForm, NestingBoundIsExactAlongCompiledChains) {
    for (int links : {998, 999, 1000, 1001}) {
        AttrList ad;
        char text[64];
        for (int i = 0; i < links; i++) {
            snprintf(text, sizeof(text), "a%d = a%d + 0", i, i + 1);
            ASSERT_TRUE(ad.Insert(text, false));
        }
        snprintf(text, sizeof(text), "a%d = %d", links, links);
        ASSERT_TRUE(ad.Insert(text, false));
        std::string expected = links <= 999 ? "int " + std::to_string(links) : "ERROR";
        for (int round = 0; round < 2; round++) {
            EXPECT_EQ(Eval("a0", &ad), expected) << links << " links, round " << round;
        }
    }
}

TEST(EvalCompiledForm, ReassignedKindsAndFoldingDoNotShow) {
    ExprTree *tree = nullptr;
    ASSERT_EQ(Parse("x = 1000 * 1024 - 1", tree), 0);
    ASSERT_NE(tree, nullptr);
    EvalResult r;
    EXPECT_TRUE(tree->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 1023999");
    char *printed = nullptr;
    tree->PrintToNewStr(&printed);
    EXPECT_STREQ(printed, "x = 1000 * 1024 - 1");
    free(printed);

    // A node inside the tree takes the kind of another: the tree evaluates
    // as the new operators, without and then with its form made again.
    AddOp plus_kind(nullptr, nullptr);
    *tree->RArg() = plus_kind;
    EXPECT_TRUE(tree->RArg()->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 1024001");
    EXPECT_TRUE(tree->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 1024001");
    EXPECT_TRUE(tree->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 1024001");

    // The root takes another kind.
    ExprTree *sum = nullptr;
    ASSERT_EQ(Parse("7 - 2", sum), 0);
    EXPECT_TRUE(sum->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 5");
    *sum = plus_kind;
    EXPECT_TRUE(sum->EvalTree(nullptr, nullptr, &r));
    EXPECT_EQ(Describe(r), "int 9");
    delete sum;
    delete tree;
}

// An attribute compared with a constant is read in place when it is a
// literal: texts by pointer, length and bytes, integers directly, and a
// chain of such clauses joined by "&&" all at once. Every kind of attribute
// against every kind of constant, alone and as a clause of "&&" and "||",
// must answer as the walk does (its two rounds: the form made, then
// reused).
TEST(EvalCompiledForm, AttributeAgainstConstantAgreesWithTheWalk) {
    std::string long_text(70000, 'q');  // beyond the length the form keeps
    std::string long_upper(70000, 'Q');
    std::vector<std::string> values = {"\"X86_64\"",
                                       "\"x86_64\"",
                                       "\"X86_6\"",
                                       "\"X86_64 \"",
                                       "\"INTEL\"",
                                       "\"\"",
                                       "\"\\xc4rger\"",
                                       "\"\\xe4rger\"",
                                       "\"" + long_text + "\"",
                                       "\"" + long_upper + "\"",
                                       "5",
                                       "64",
                                       "2.5",
                                       "TRUE",
                                       "UNDEFINED",
                                       "ERROR",
                                       "strcat(\"X86\", \"_64\")",
                                       "Other",
                                       "Missing"};
    std::vector<std::string> constants = {
        "\"X86_64\"", "\"x86_64\"", "\"X86_6\"", "\"\"", "\"\\xe4RGER\"", "\"" + long_text + "\"",
        "64",         "2.5"};
    const char *shapes[] = {"A == %s",
                            "A != %s",
                            "A >= %s",
                            "A < %s",
                            "A == %s && B == 1",
                            "A != %s || B == 1",
                            "B == 1 && A == %s",
                            "B >= 0 && A != %s && B < 5 && Other == \"X86_64\"",
                            "A == %s && B > 0 && A == %s",
                            "B == 2 && A == %s",
                            "A >= B && B <= A && A != %s",
                            "B > A && A == %s",
                            "A < B && B == 1"};
    for (const std::string &value : values) {
        std::string a = "A = " + value;
        auto ad = Ad({a.c_str(), "B = 1", "Other = \"x86_64\""});
        for (const std::string &constant : constants) {
            for (const char *shape : shapes) {
                std::string text(shape);
                for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s")) {
                    text.replace(at, 2, constant);
                }
                ExprTree *tree = nullptr;
                ASSERT_EQ(Parse(text.c_str(), tree), 0) << text;
                EvalResult walked;
                bool walked_ok = tree->_EvalTree(ad.get(), nullptr, &walked);
                for (int round = 0; round < 2; round++) {
                    EvalResult compiled;
                    bool compiled_ok = tree->EvalTree(ad.get(), nullptr, &compiled);
                    EXPECT_EQ(compiled_ok, walked_ok);
                    EXPECT_EQ(Describe(compiled), Describe(walked))
                        << text.substr(0, 60) << " with A = " << value.substr(0, 40);
                }
                delete tree;
            }
        }
    }
}

// Deciding whether an attribute must be read before the operator on its
// right once cost a compilation of that right side, which did the same at
// every level below: a right-nested tree 60 levels deep would never have
// finished compiling. It compiles once, and answers as the walk does.
TEST(EvalCompiledForm, RightNestedTreesCompileInOneWalk) {
    auto ad = Ad({"a = 3"});
    for (const char *level : {"a - (", "a - ((1 + 2) - "}) {
        std::string text;
        for (int i = 0; i < 60; i++) {
            text += level;
        }
        text += "1";
        text += std::string(
            std::count(text.begin(), text.end(), '(') - std::count(text.begin(), text.end(), ')'),
            ')');
        ExprTree *tree = nullptr;
        ASSERT_EQ(Parse(text.c_str(), tree), 0);
        EvalResult walked;
        EXPECT_TRUE(tree->_EvalTree(ad.get(), nullptr, &walked));
        EvalResult compiled;
        EXPECT_TRUE(tree->EvalTree(ad.get(), nullptr, &compiled));
        EXPECT_EQ(Describe(compiled), Describe(walked)) << level;
        delete tree;
    }
}

}  // namespace
