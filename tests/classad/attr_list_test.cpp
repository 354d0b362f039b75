// Tests of AttrList: insertion with and without replacement, chaining with
// masking deletes, literal and evaluating lookups, the typed Assign forms,
// dirty flags and both cursors, copies, the file and delimited-string
// constructors, the printed forms and the wire form over a memory stream;
// and lookups through the name index under random edits, checked against a
// plain ordered model.
#include "classad/attr_list.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "classad/parse_cache.h"
#include "classad/parser.h"
#include "config/subsystem.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "diagnostics/debug_log.h"
#include "gtest/gtest.h"
#include "tests/stream/memory_stream.h"
#include "tests/support/capture.h"
#include "tests/support/growth_check.h"
#include "tests/support/interrupting_timer.h"

namespace {

// The list's fPrint text.
std::string Printed(AttrList &list) {
    MyString out;
    list.sPrint(out);
    return out.Value() != nullptr ? out.Value() : "";
}

std::string ExprText(AttrList &list, const char *name) {
    char *text = list.sPrintExpr(nullptr, 0, name);
    std::string out = text != nullptr ? text : "<none>";
    free(text);
    return out;
}

// Every name NextName returns from the current cursor, joined by commas.
std::string Names(AttrList &list) {
    std::string out;
    char *name;
    while ((name = list.NextName()) != nullptr) {
        out += (out.empty() ? "" : ",") + std::string(name);
        delete[] name;
    }
    return out;
}

// Reads a FILE from text.
FILE *FileOf(const std::string &text) {
    FILE *file = tmpfile();
    fputs(text.c_str(), file);
    rewind(file);
    return file;
}

// An element starts clean; its flag is whatever was set last.
TEST(AttrListElemTest, DirtyFlagStartsClearAndFollowsSetDirty) {
    ExprTree *tree = nullptr;
    ASSERT_EQ(Parse("Memory = 64", tree), 0);
    ASSERT_NE(tree, nullptr);
    AttrListElem elem(tree);
    EXPECT_FALSE(elem.IsDirty());
    elem.SetDirty(true);
    EXPECT_TRUE(elem.IsDirty());
    EXPECT_TRUE(elem.dirty);
    elem.SetDirty(false);
    EXPECT_FALSE(elem.IsDirty());
}

TEST(AttrListInsert, ReplaceKeepsOneAttributeAtTheEnd) {
    AttrList list;
    ASSERT_TRUE(list.Insert("A = 1", true));
    ASSERT_TRUE(list.Insert("B = 2", true));
    ASSERT_TRUE(list.Insert("a = 2", true));
    EXPECT_EQ("B = 2\na = 2\n", Printed(list));

    AttrList both;
    ASSERT_TRUE(both.Insert("A = 1", false));
    ASSERT_TRUE(both.Insert("a = 2", false));
    EXPECT_EQ("A = 1\na = 2\n", Printed(both));
    EXPECT_EQ("A = 1", ExprText(both, "A"));
    // Replacing removes the first only; the hidden one then shows.
    ASSERT_TRUE(both.Delete("A"));
    EXPECT_EQ("a = 2", ExprText(both, "A"));
}

TEST(AttrListInsert, NamesMatchWithoutRegardToCaseOnly) {
    AttrList list;
    ASSERT_TRUE(list.Insert("aBcd = 1", true));
    ASSERT_TRUE(list.Insert("a_x = 2", true));
    ASSERT_TRUE(list.Insert("a = 3", true));
    EXPECT_EQ("aBcd = 1", ExprText(list, "ABCD"));
    EXPECT_EQ("aBcd = 1", ExprText(list, "abCD"));
    EXPECT_EQ("<none>", ExprText(list, "aBc"));
    EXPECT_EQ("<none>", ExprText(list, "a_"));
    EXPECT_EQ("a_x = 2", ExprText(list, "A_X"));
    EXPECT_EQ("a = 3", ExprText(list, "A"));
}

// Inserting takes a plain name's hash from its Variable; a name written
// with a prefix must still be indexed, replaced and found whole.
TEST(AttrListInsert, PrefixedNamesAreIndexedByTheWholeName) {
    AttrList list;
    ASSERT_TRUE(list.Insert("MY.x = 1", true));
    ASSERT_TRUE(list.Insert("x = 2", true));
    ASSERT_TRUE(list.Insert("my.X = 3", true));
    EXPECT_EQ("x = 2\nmy.X = 3\n", Printed(list));
    EXPECT_EQ("my.X = 3", ExprText(list, "MY.x"));
    EXPECT_EQ("x = 2", ExprText(list, "X"));
}

TEST(AttrListInsert, OnlyAssignmentsToPlainNamesAreAccepted) {
    AttrList list;
    EXPECT_FALSE(list.Insert("1 + 2", true));
    EXPECT_FALSE(list.Insert("1 = 2", true));
    EXPECT_FALSE(list.Insert("x = ", true));
    EXPECT_FALSE(list.Insert(static_cast<const char *>(nullptr), true));
    ExprTree *not_assignment = new Integer(3);
    EXPECT_FALSE(list.Insert(not_assignment, true));
    delete not_assignment;  // ownership stays with the caller on failure
    EXPECT_EQ("", Printed(list));
}

// The printed text of a tree.
std::string TreeText(ExprTree *tree) {
    char *text = nullptr;
    tree->PrintToNewStr(&text);
    std::string out = text != nullptr ? text : "";
    free(text);
    return out;
}

// Literal assignments are kept without a tree until one is asked for: the
// element holds what the parsed tree would give, prints as it prints, the
// tree built later is the parsed one, and a copy made before or after the
// tree agrees. Each
// text is checked against the parser, shapes near the literal one too.
TEST(AttrListInsert, TextsReadAsTheParserReadsThem) {
    const char * const kTexts[] = {"A = 1",
                                   "a=-1",
                                   " A\t=\t- 2147483648 \n",
                                   "A = 99999999999999999999",
                                   "A = 007",
                                   "A = 1.5",
                                   "A = -0.25",
                                   "A = 1.",
                                   "A = 1e5",
                                   "A = \"s\"",
                                   "A = \"\"",
                                   "A = \"x\\\"y\"",
                                   "A = \"a\\\\\"",
                                   "A = \"unterminated",
                                   "A = \"",
                                   "A = TRUE",
                                   "A = f",
                                   "A = Undefined",
                                   "A = error",
                                   "A = 't'",
                                   "Tx = T",
                                   "TRUE = 1",
                                   "T = 1",
                                   "_a_1 = 2",
                                   "MY.A = 1",
                                   "A.b = 1",
                                   "A == 1",
                                   "A =?= 1",
                                   "A =!= 1",
                                   "A = 1 + 2",
                                   "A = 1 B",
                                   "A = B",
                                   "A = -B",
                                   "A = - \"s\"",
                                   "A = (1)",
                                   "A(1) = 2",
                                   "A = ",
                                   "= 1"};
    for (const char *text : kTexts) {
        SCOPED_TRACE(text);
        ExprTree *parsed = nullptr;
        bool parses = Parse(text, parsed) == 0 && parsed != nullptr;
        bool assignment = parses && parsed->MyType() == LX_ASSIGN && parsed->LArg() != nullptr &&
                          parsed->LArg()->MyType() == LX_VARIABLE;
        AttrList read;
        EXPECT_EQ(assignment, read.Insert(text, true));
        if (!assignment) {
            delete parsed;
            continue;
        }
        const char *name = static_cast<Variable *>(parsed->LArg())->Name();
        AttrList built;  // the element made from the parsed tree
        ASSERT_TRUE(built.Insert(parsed->DeepCopy(), true));
        AttrListElem *lazy = read.LookupElem(name);
        AttrListElem *eager = built.LookupElem(name);
        ASSERT_NE(nullptr, lazy);
        ASSERT_NE(nullptr, eager);
        EXPECT_STREQ(eager->name, lazy->name);
        EXPECT_EQ(eager->literalKind, lazy->literalKind);
        if (eager->literalKind == LX_STRING) {
            EXPECT_STREQ(eager->literalText, lazy->literalText);
            EXPECT_EQ(eager->literalLength, lazy->literalLength);
        } else if (eager->literalKind == LX_FLOAT) {
            EXPECT_EQ(eager->literalFloat, lazy->literalFloat);
        } else if (eager->literalKind != LX_NONE) {
            EXPECT_EQ(eager->literalInt, lazy->literalInt);
        }
        AttrList copied_before(read);
        EXPECT_EQ(TreeText(parsed) + "\n", Printed(read));  // printed without a tree
        ExprTree *tree = read.Lookup(name);
        ASSERT_NE(nullptr, tree);
        EXPECT_EQ(tree, read.Lookup(name));  // built once
        EXPECT_EQ(TreeText(parsed), TreeText(tree));
        EXPECT_TRUE(*parsed == *tree);
        AttrList copied_after(read);
        EXPECT_EQ(TreeText(parsed), ExprText(copied_before, name));
        EXPECT_EQ(TreeText(parsed), ExprText(copied_after, name));
        delete parsed;
    }
}

// Names are interned through a memory of recent names; a name whose slot
// was given up, and whose slot and text memory now hold another name, is
// interned afresh.
TEST(AttrListInsert, NamesReadAfterTheirSlotWasReusedKeepTheirText) {
    AttrList keeper;  // keeps the string space
    ASSERT_TRUE(keeper.Insert("Keep = 1", true));
    {
        AttrList gone;
        ASSERT_TRUE(gone.Insert("Alpha = 1", true));
    }
    AttrList reuser;
    ASSERT_TRUE(reuser.Insert("Betaa = 2", true));
    AttrList again;
    ASSERT_TRUE(again.Insert("Alpha = 3", true));
    EXPECT_EQ("Alpha = 3\n", Printed(again));
    EXPECT_EQ("Betaa = 2\n", Printed(reuser));
    EXPECT_EQ(nullptr, again.LookupElem("Betaa"));
}

// An expression text read again (the same policy in every ad of a pool)
// shares the first reading's parse: no node is built for it until its
// tree is asked for, and then the ad gets a tree of its own. Lists that
// still share a parse the table has let go of (600 other texts parsed
// since) keep it whole, and the last list to go takes the string space
// with it.
TEST(AttrListInsert, RepeatedExpressionsShareOneParseUntilAsked) {
    const char * const kTexts[] = {"Start = (KeyboardIdle > 15 * 60) && (LoadAvg <= 0.3)",
                                   "Rank = Mips * 2", "Twice = Rank + 1"};
    ASSERT_EQ(0, ExprTree::string_space_references);
    std::vector<std::unique_ptr<AttrList>> lists;
    for (int i = 0; i < 3; i++) {
        int before = ExprTree::string_space_references;
        lists.push_back(std::make_unique<AttrList>());
        for (const char *text : kTexts) {
            ASSERT_TRUE(lists.back()->Insert(text, true)) << text;
        }
        if (i > 0) {
            // No node: at most each attribute's own hold on the space (when
            // the text is kept in place of the shared parse).
            EXPECT_GE(before + 3, ExprTree::string_space_references)
                << "nodes built for list " << i;
        }
    }
    AttrList &second = *lists[1];
    int before = ExprTree::string_space_references;
    ExprTree *tree = second.Lookup("Start");
    ASSERT_NE(nullptr, tree);
    EXPECT_LT(before, ExprTree::string_space_references);  // a tree of its own now
    EXPECT_NE(tree, lists[0]->Lookup("Start"));
    EXPECT_EQ(tree, second.Lookup("Start"));
    AttrList copy(*lists[2]);
    for (int i = 0; i < 600; i++) {  // the table lets go of every shared parse
        ExprTree *other = nullptr;
        ASSERT_EQ(0, ParseRepeated(("a" + std::to_string(i) + " = b + 1").c_str(), other));
        delete other;
    }
    ExprTree *parsed = nullptr;
    ASSERT_EQ(0, Parse(kTexts[0], parsed));
    const std::string start_text = TreeText(parsed);
    delete parsed;
    lists.erase(lists.begin());
    for (AttrList *list : {lists[0].get(), lists[1].get(), &copy}) {
        EXPECT_EQ(start_text, ExprText(*list, "Start"));
        ASSERT_TRUE(list->Insert("KeyboardIdle = 1000", true));
        ASSERT_TRUE(list->Insert("LoadAvg = 0.1", true));
        ASSERT_TRUE(list->Insert("Mips = 5", true));
        int start = 0;
        int twice = 0;
        EXPECT_EQ(1, list->EvalBool("Start", nullptr, start));
        EXPECT_EQ(1, start);
        EXPECT_EQ(1, list->EvalInteger("Twice", list, twice));
        EXPECT_EQ(11, twice);
    }
    lists.clear();
    EXPECT_LT(0, ExprTree::string_space_references);  // the copy still holds it
    copy.clear();
    EXPECT_EQ(0, ExprTree::string_space_references);
    EXPECT_EQ(nullptr, ExprTree::string_space);
}

// A program that drops each ad before reading the next takes the string
// space, and the kept parses, with each. The next ad's expressions that
// parsed before are kept as their texts and parsed only when asked for:
// for a tree, a print, a copy or an evaluation, each answering as the
// parse does.
TEST(AttrListInsert, ExpressionsReadAgainAfterTheLastAdWentAreParsedWhenAsked) {
    const char kStart[] = "Start = (KeyboardIdle > 15 * 60) && (LoadAvg <= 0.3)";
    const char kRank[] = "Rank = Mips * 2";
    ExprTree *parsed = nullptr;
    ASSERT_EQ(0, Parse(kStart, parsed));
    const std::string start_text = TreeText(parsed);
    delete parsed;
    ASSERT_EQ(0, ExprTree::string_space_references);
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        {
            AttrList first;  // parses both, then goes with the space
            ASSERT_TRUE(first.Insert(kStart, true));
            ASSERT_TRUE(first.Insert(kRank, true));
        }
        ASSERT_EQ(0, ExprTree::string_space_references);
        AttrList list;
        ASSERT_TRUE(list.Insert(kStart, true));
        ASSERT_TRUE(list.Insert(kRank, true));
        EXPECT_EQ(2, ExprTree::string_space_references);  // the two texts; no node
        std::unique_ptr<AttrList> copy;
        if (round == 0) {
            EXPECT_EQ(start_text, ExprText(list, "Start"));
        } else if (round == 1) {
            copy = std::make_unique<AttrList>(list);
            EXPECT_EQ(4, ExprTree::string_space_references);  // copied as texts
            EXPECT_EQ(start_text, ExprText(*copy, "Start"));
        } else {
            ExprTree *tree = list.Lookup("Start");
            ASSERT_NE(nullptr, tree);
            EXPECT_EQ(start_text, TreeText(tree));
            EXPECT_EQ(tree, list.Lookup("Start"));
        }
        ASSERT_TRUE(list.Insert("Mips = 5", true));
        int rank = 0;
        EXPECT_EQ(1, list.EvalInteger("Rank", nullptr, rank));
        EXPECT_EQ(10, rank);
        EXPECT_EQ(start_text + "\n" + "Rank = Mips * 2\nMips = 5\n", Printed(list));
    }
    EXPECT_EQ(0, ExprTree::string_space_references);
}

TEST(AttrListChain, ParentShowsThroughAndDeleteMasksIt) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("x = 1", true));
    ASSERT_TRUE(parent.Insert("y = 2", true));
    AttrList child;
    ASSERT_TRUE(child.Insert("y = 20", true));
    child.ChainToAd(&parent);
    EXPECT_EQ("x = 1", ExprText(child, "x"));
    EXPECT_EQ("y = 20", ExprText(child, "y"));  // the child hides the parent

    EXPECT_TRUE(child.Delete("x"));
    EXPECT_EQ("x = UNDEFINED", ExprText(child, "x"));
    EXPECT_EQ("x = 1", ExprText(parent, "x"));
    // Parent lines first, hidden ones included.
    EXPECT_EQ("x = 1\ny = 2\ny = 20\nx = UNDEFINED\n", Printed(child));
    EXPECT_FALSE(child.Delete("nothing"));

    // Insertion with replace never removes or masks the parent's attribute.
    ASSERT_TRUE(child.Insert("y = 30", true));
    EXPECT_EQ("y = 2", ExprText(parent, "y"));

    AttrListElem **chain = child.unchain();
    EXPECT_EQ("<none>", ExprText(child, "q"));
    child.RestoreChain(chain);
    child.ChainToAd(nullptr);  // changes nothing
    EXPECT_EQ("x = UNDEFINED", ExprText(child, "x"));
    child.unchain();
}

TEST(AttrListChain, CollapseTakesOverWhatTheChildLacks) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("a = 1", true));
    ASSERT_TRUE(parent.Insert("b = 2", true));
    AttrList child;
    ASSERT_TRUE(child.Insert("B = 20", true));
    child.ChainToAd(&parent);
    child.ChainCollapse(true);
    EXPECT_EQ("B = 20\na = 1\n", Printed(child));
    ASSERT_TRUE(parent.Delete("a"));  // the child holds its own copy
    EXPECT_EQ("a = 1", ExprText(child, "a"));
}

TEST(AttrListValues, LiteralLookupsAcceptTheirKindsOnly) {
    AttrList list;
    ASSERT_TRUE(list.Insert("s = \"text\"", true));
    ASSERT_TRUE(list.Insert("i = 7", true));
    ASSERT_TRUE(list.Insert("fl = 2.5", true));
    ASSERT_TRUE(list.Insert("b = TRUE", true));
    ASSERT_TRUE(list.Insert("tm = '2004-01-02T03:04:05Z'", true));
    ASSERT_TRUE(list.Insert("e = 1 + 2", true));

    char buffer[16] = "unchanged";
    EXPECT_EQ(1, list.LookupString("S", buffer));
    EXPECT_STREQ("text", buffer);
    EXPECT_EQ(0, list.LookupString("i", buffer));
    EXPECT_STREQ("text", buffer);
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(1, list.LookupString("s", small, 2));
    EXPECT_EQ('t', small[0]);
    EXPECT_EQ('e', small[1]);
    EXPECT_EQ('x', small[2]);  // at most n characters, none beyond
    char *copy = nullptr;
    EXPECT_EQ(1, list.LookupString("s", &copy));
    EXPECT_STREQ("text", copy);
    free(copy);
    MyString str;
    EXPECT_EQ(0, list.LookupString("missing", str));

    int i = -1;
    EXPECT_EQ(1, list.LookupInteger("i", i));
    EXPECT_EQ(7, i);
    EXPECT_EQ(1, list.LookupInteger("b", i));
    EXPECT_EQ(1, i);
    EXPECT_EQ(0, list.LookupInteger("fl", i));
    EXPECT_EQ(0, list.LookupInteger("e", i));  // not evaluated
    float f = 0;
    EXPECT_EQ(1, list.LookupFloat("i", f));
    EXPECT_EQ(7.0f, f);
    EXPECT_EQ(0, list.LookupFloat("b", f));
    bool flag = false;
    EXPECT_EQ(1, list.LookupBool("b", flag));
    EXPECT_TRUE(flag);
    EXPECT_EQ(0, list.LookupBool("i", flag));

    char *time_text = nullptr;
    EXPECT_EQ(1, list.LookupTime("tm", &time_text));
    EXPECT_STREQ("2004-01-02T03:04:05Z", time_text);
    free(time_text);
    struct tm when;
    bool utc = false;
    EXPECT_EQ(1, list.LookupTime("tm", &when, &utc));
    EXPECT_EQ(104, when.tm_year);
    EXPECT_EQ(5, when.tm_sec);
    EXPECT_TRUE(utc);
    EXPECT_EQ(0, list.LookupTime("s", &when, &utc));
}

TEST(AttrListValues, EvaluatingLookups) {
    AttrList list;
    ASSERT_TRUE(list.Insert("x = 2.5", true));
    ASSERT_TRUE(list.Insert("y = \"yes\"", true));
    ASSERT_TRUE(list.Insert("z = w * 2", true));
    ASSERT_TRUE(list.Insert("zero = 0.0", true));
    AttrList target;
    ASSERT_TRUE(target.Insert("w = 21", true));
    ASSERT_TRUE(target.Insert("onlythere = z + 1", true));

    int b = -1;
    EXPECT_EQ(1, list.EvalBool("x", nullptr, b));
    EXPECT_EQ(1, b);
    EXPECT_EQ(1, list.EvalBool("zero", nullptr, b));
    EXPECT_EQ(0, b);
    b = -1;
    EXPECT_EQ(0, list.EvalBool("y", nullptr, b));
    EXPECT_EQ(-1, b);

    int v = 0;
    EXPECT_EQ(0, list.EvalInteger("z", nullptr, v));  // w is undefined here
    EXPECT_EQ(1, list.EvalInteger("z", &target, v));
    EXPECT_EQ(42, v);
    // Found in the target, still evaluated with this list as MY.
    EXPECT_EQ(1, list.EvalInteger("onlythere", &target, v));
    EXPECT_EQ(43, v);

    float f = 0;
    EXPECT_EQ(1, list.EvalFloat("z", &target, f));
    EXPECT_EQ(42.0f, f);
    MyString s;
    EXPECT_EQ(1, list.EvalString("y", nullptr, s));
    EXPECT_STREQ("yes", s.Value());
    EXPECT_EQ(0, list.EvalString("x", nullptr, s));

    AttrList empty;
    time_t before = time(nullptr);
    EXPECT_EQ(1, empty.EvalInteger("CurrentTime", nullptr, v));
    EXPECT_LE(static_cast<long>(before), static_cast<long>(v));
    EXPECT_GE(static_cast<long>(time(nullptr)), static_cast<long>(v));
    EXPECT_EQ(0, empty.EvalInteger("CurrentTime", &target, v));  // only without a target
}

TEST(AttrListValues, AssignFormsReadBack) {
    AttrList list;
    EXPECT_TRUE(list.Assign("Name", "say \"hi\""));
    EXPECT_EQ("Name = \"say \\\"hi\\\"\"", ExprText(list, "Name"));
    MyString s;
    EXPECT_EQ(1, list.LookupString("Name", s));
    EXPECT_STREQ("say \"hi\"", s.Value());

    EXPECT_TRUE(list.Assign("Path", "C:\\dir\\"));
    EXPECT_EQ(1, list.LookupString("Path", s));
    EXPECT_STREQ("C:\\dir\\", s.Value());

    EXPECT_TRUE(list.Assign("I", -5));
    EXPECT_TRUE(list.Assign("Fl", 1.5f));
    EXPECT_FALSE(list.Assign("F", 1.5f));  // F alone is the keyword FALSE
    EXPECT_TRUE(list.Assign("B", false));
    EXPECT_TRUE(list.Assign("U", static_cast<const char *>(nullptr)));
    EXPECT_TRUE(list.AssignExpr("E", "I * 2"));
    EXPECT_TRUE(list.AssignExpr("N", nullptr));
    EXPECT_FALSE(list.AssignExpr("bad name", "1"));
    EXPECT_EQ("I = -5", ExprText(list, "I"));
    EXPECT_EQ("Fl = 1.500000", ExprText(list, "Fl"));
    EXPECT_EQ("B = FALSE", ExprText(list, "B"));
    EXPECT_EQ("U = UNDEFINED", ExprText(list, "U"));
    EXPECT_EQ("N = UNDEFINED", ExprText(list, "N"));
    int v = 0;
    EXPECT_EQ(1, list.EvalInteger("E", nullptr, v));
    EXPECT_EQ(-10, v);
    EXPECT_TRUE(list.Assign("I", 6));  // replaces
    EXPECT_EQ(1, list.LookupInteger("i", v));
    EXPECT_EQ(6, v);
}

TEST(AttrListValues, ProcToTreeBuildsEachKind) {
    struct Case {
        LexemeType kind;
        const char *want;
    } cases[] = {{LX_INTEGER, "n = 4"},
                 {LX_FLOAT, "n = 0.500000"},
                 {LX_STRING, "n = \"a\\\"b\""},
                 {LX_EXPR, "n = a + 1"}};
    for (const Case &c : cases) {
        ExprTree *tree =
            AttrList::ProcToTree("n", c.kind, 4, 0.5f, c.kind == LX_EXPR ? "a+1" : "a\"b");
        ASSERT_NE(nullptr, tree);
        char *text = nullptr;
        tree->PrintToNewStr(&text);
        EXPECT_STREQ(c.want, text);
        free(text);
        delete tree;
    }
    EXPECT_EQ(nullptr, AttrList::ProcToTree("n", LX_EXPR, 0, 0, "1 +"));
    ExprTree *empty = AttrList::ProcToTree("n", LX_BOOL, 0, 0, nullptr);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(nullptr, empty->RArg());
    delete empty;
}

TEST(AttrListIteration, ExpressionCursorEntersTheParentOnce) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("p = 1", true));
    AttrList child;
    ASSERT_TRUE(child.Insert("c1 = 1", true));
    ASSERT_TRUE(child.Insert("c2 = 2", true));
    child.ChainToAd(&parent);
    child.ResetExpr();
    std::string seen;
    ExprTree *tree;
    while ((tree = child.NextExpr()) != nullptr) {
        seen += static_cast<VariableBase *>(tree->LArg())->Name();
    }
    EXPECT_EQ("c1c2p", seen);
    EXPECT_EQ(nullptr, child.NextExpr());  // once only

    // Deleting the element under the cursor moves the cursor on.
    child.ResetExpr();
    ASSERT_NE(nullptr, child.NextExpr());
    ASSERT_TRUE(child.Delete("c2"));
    tree = child.NextExpr();
    ASSERT_NE(nullptr, tree);
    EXPECT_STREQ("p", static_cast<VariableBase *>(tree->LArg())->Name());
    child.unchain();
}

TEST(AttrListIteration, NameCursorStartsEmptyAndDirtyWalksStayHome) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("p = 1", true));
    AttrList child;
    ASSERT_TRUE(child.Insert("a = 1", true));
    ASSERT_TRUE(child.Insert("b = 2", true));
    child.ChainToAd(&parent);
    EXPECT_EQ("p", Names(child));  // no reset: only the parent's names
    child.ResetName();
    EXPECT_EQ("a,b,p", Names(child));

    child.ClearAllDirtyFlags();
    child.SetDirtyFlag("B", true);
    bool exists = false, dirty = false;
    child.GetDirtyFlag("b", &exists, &dirty);
    EXPECT_TRUE(exists);
    EXPECT_TRUE(dirty);
    child.GetDirtyFlag("p", &exists, nullptr);  // the parent's is not this list's
    EXPECT_FALSE(exists);
    child.ResetName();
    char *name = child.NextDirtyName();
    ASSERT_NE(nullptr, name);
    EXPECT_STREQ("b", name);
    delete[] name;
    EXPECT_EQ(nullptr, child.NextDirtyName());
    child.ResetExpr();
    EXPECT_NE(nullptr, child.NextDirtyExpr());
    EXPECT_EQ(nullptr, child.NextDirtyExpr());
    ASSERT_TRUE(child.Insert("c = 3", true));  // new attributes are dirty
    child.GetDirtyFlag("c", &exists, &dirty);
    EXPECT_TRUE(dirty);
    child.unchain();
}

TEST(AttrListCopy, CopiesAreDeepAndClean) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("p = 1", true));
    AttrList original;
    ASSERT_TRUE(original.Insert("a = \"x\"", true));
    original.ChainToAd(&parent);
    AttrList copy(original);
    ASSERT_TRUE(original.Assign("a", "changed"));
    EXPECT_EQ("a = \"x\"", ExprText(copy, "a"));
    EXPECT_EQ("p = 1", ExprText(copy, "p"));  // the same chain
    bool exists = false, dirty = true;
    copy.GetDirtyFlag("a", &exists, &dirty);
    EXPECT_TRUE(exists);
    EXPECT_FALSE(dirty);

    AttrList assigned;
    ASSERT_TRUE(assigned.Insert("old = 1", true));
    assigned = original;
    EXPECT_EQ("<none>", ExprText(assigned, "old"));
    EXPECT_EQ("a = \"changed\"", ExprText(assigned, "a"));
    assigned = assigned;
    EXPECT_EQ("a = \"changed\"", ExprText(assigned, "a"));
    copy.unchain();
    original.unchain();
    assigned.unchain();
}

TEST(AttrListReferences, ExternalAndInternalNames) {
    AttrList list;
    ASSERT_TRUE(list.Insert("r = a + TARGET.b + MY.c + d", true));
    ASSERT_TRUE(list.Insert("a = 1", true));
    char *out = nullptr;
    EXPECT_TRUE(list.IsExternalReference("target.Mem", &out));
    EXPECT_STREQ("Mem", out);
    free(out);
    EXPECT_FALSE(list.IsExternalReference("MY.Mem", nullptr));
    EXPECT_FALSE(list.IsExternalReference("A", nullptr));
    EXPECT_TRUE(list.IsExternalReference("zz", nullptr));
    StringList internal, external;
    list.GetReferences("r", internal, external);
    EXPECT_TRUE(internal.contains("a"));
    EXPECT_TRUE(internal.contains("c"));
    EXPECT_TRUE(external.contains("b"));
    EXPECT_TRUE(external.contains("d"));
    StringList none_i, none_e;
    list.GetReferences("missing", none_i, none_e);
    EXPECT_TRUE(none_i.isEmpty());
    EXPECT_TRUE(none_e.isEmpty());
}

// Names already in the lists count as present, case does not matter, and
// each list keeps the order and spelling of a name's first appearance.
TEST(AttrListReferences, EachNameOnceInOrderOfFirstSight) {
    AttrList list;
    ASSERT_TRUE(list.Insert("a = 1", true));
    ASSERT_TRUE(list.Insert("Q = 2", true));
    ASSERT_TRUE(list.Insert(
        "r = z + TARGET.Mem + q + g(Y, target.MEM, MY.New, a) + A + y + TARGET.x + my.new + Z",
        true));
    StringList internal("old");
    StringList external("X");
    list.GetReferences("r", internal, external);
    char *in = internal.print_to_string();
    char *ex = external.print_to_string();
    EXPECT_STREQ(in, "old,q,New,a");
    EXPECT_STREQ(ex, "X,z,Mem,Y");
    free(in);
    free(ex);

    // A second walk into the same lists adds nothing it already holds.
    list.GetReferences("r", internal, external);
    EXPECT_EQ(internal.number(), 4);
    EXPECT_EQ(external.number(), 4);
}

// ((a0 + a1) + (a2 + a3)) ... : n distinct names in a tree of height log n.
std::string SumOfNames(size_t first, size_t end) {
    if (end - first == 1) {
        return "a" + std::to_string(first);
    }
    size_t middle = first + (end - first) / 2;
    return "(" + SumOfNames(first, middle) + " + " + SumOfNames(middle, end) + ")";
}

// Recording a name used to search the whole list for it first. The count
// of instructions grows 93× from 1,000 to 100,000 names, but the large run's
// names, nodes and index leave the caches: CPU time grows near 300×.
TEST(AttrListReferences, GrowsLinearlyWithDistinctNames) {
    const size_t n = 1000;
    AttrList small;
    AttrList large;
    ASSERT_TRUE(small.Insert(("r = " + SumOfNames(0, n)).c_str(), true));
    ASSERT_TRUE(large.Insert(("r = " + SumOfNames(0, 100 * n)).c_str(), true));
    EXPECT_LINEAR_GROWTH_OUT_OF_CACHE(n, [&](size_t size) {
        StringList internal;
        StringList external;
        (size == n ? small : large).GetReferences("r", internal, external);
        ASSERT_EQ(external.number(), static_cast<int>(size));
    });
}

TEST(AttrListText, FileFormSkipsCommentsAndStopsAtTheDelimiter) {
    FILE *file = FileOf("# c\n\n   \t\nA = 1\n---\nB = 2\n");
    char delimiter[] = "---";
    int is_eof = -1, error = -1, empty = -1;
    AttrList first(file, delimiter, is_eof, error, empty);
    EXPECT_EQ("A = 1\n", Printed(first));
    EXPECT_EQ(0, empty);
    EXPECT_EQ(0, error);
    EXPECT_EQ(0, is_eof);
    AttrList second(file, delimiter, is_eof, error, empty);
    EXPECT_EQ("B = 2\n", Printed(second));
    EXPECT_EQ(1, is_eof);
    EXPECT_EQ(0, error);
    AttrList third(file, delimiter, is_eof, error, empty);
    EXPECT_EQ(1, empty);
    EXPECT_EQ(1, is_eof);
    fclose(file);
}

// An ad read from a pipe under a 2 ms timer whose handler lacks
// SA_RESTART: getline returned the part of a line read before the
// interrupt as a line of its own, or ended the ad with an error.
TEST(AttrListText, InterruptedReadsKeepEveryLineWhole) {
    torvel_test::SlowPipe pipe({"A = 1", "0\nB = ", "\"x\"\n---\n"});
    ASSERT_NE(pipe.stream(), nullptr);
    torvel_test::InterruptingTimer timer;
    char delimiter[] = "---";
    int is_eof = -1, error = -1, empty = -1;
    AttrList ad(pipe.stream(), delimiter, is_eof, error, empty);
    EXPECT_GT(timer.Interrupts(), 5);
    EXPECT_EQ(0, error);
    EXPECT_EQ(0, empty);
    EXPECT_EQ("A = 10\nB = \"x\"\n", Printed(ad));
}

TEST(AttrListText, BadLineConsumesTheRestOfThatAd) {
    FILE *file = FileOf("A = 1\n1 +\nB = 2\n---\nC = 3\n");
    char delimiter[] = "---";
    int is_eof = -1, error = 0, empty = -1;
    DebugCapture log(D_ALWAYS);
    AttrList bad(file, delimiter, is_eof, error, empty);
    EXPECT_EQ(-1, error);
    EXPECT_EQ(0, is_eof);
    EXPECT_EQ("A = 1\n", Printed(bad));
    EXPECT_NE(std::string::npos, log.text().find("failed to create classad; bad expr = 1 +\n"))
        << log.text();
    AttrList next(file, delimiter, is_eof, error, empty);
    EXPECT_EQ("C = 3\n", Printed(next));
    EXPECT_EQ(0, error);
    fclose(file);
}

TEST(AttrListText, DelimitedStringForm) {
    char text[] = "  A = 1;\n b = 2 ; ; 7 ;c=A+1  ";
    AttrList list(text, ';');
    EXPECT_EQ("A = 1\nb = 2\nc = A + 1\n", Printed(list));  // 7 is dropped
    bool exists = false, dirty = true;
    list.GetDirtyFlag("b", &exists, &dirty);
    EXPECT_TRUE(exists);
    EXPECT_FALSE(dirty);
    // The delimiter splits even inside quotes, leaving an open string.
    char quoted[] = "B = \"x;y\"";
    EXPECT_EXIT(AttrList bad(quoted, ';'), testing::ExitedWithCode(4),
                "Parse error in the input string");
    char error_piece[] = "a = 1,ERROR";
    EXPECT_EXIT(AttrList bad(error_piece, ','), testing::ExitedWithCode(4),
                "Parse error in the input string");
}

TEST(AttrListText, PrintedExpressionsAndDebugLines) {
    AttrList list;
    ASSERT_TRUE(list.Insert("Memory = 64", true));
    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(buffer, list.sPrintExpr(buffer, 4, "memory"));
    EXPECT_EQ(0, memcmp(buffer, "Memoz", 5));  // cut, unterminated
    EXPECT_EQ(nullptr, list.sPrintExpr(buffer, 8, "nothing"));
    EXPECT_EQ(nullptr, list.sPrintExpr(nullptr, 0, nullptr));
    EXPECT_FALSE(list.fPrintExpr(nullptr, "Memory"));
    EXPECT_FALSE(list.fPrint(nullptr));

    std::string long_value(5000, 'v');
    ASSERT_TRUE(list.Assign("Long", long_value.c_str()));
    EXPECT_EQ("Long = \"" + long_value + "\"", ExprText(list, "Long"));

    DebugCapture log(D_FULLDEBUG);
    list.dPrint(D_FULLDEBUG);
    EXPECT_EQ("Memory = 64\nLong = \"" + long_value + "\"\n", log.text());
}

class AttrListWireTest : public testing::Test {
 protected:
    void TearDown() override { mySubSystem = saved_; }
    const char *saved_ = mySubSystem;
};

TEST_F(AttrListWireTest, PutSendsTheCountAndEachText) {
    AttrList parent;
    ASSERT_TRUE(parent.Insert("p = 1", true));
    AttrList list;
    ASSERT_TRUE(list.Insert("a = 1", true));
    ASSERT_TRUE(list.Insert("s = \"x y\"", true));
    MemoryStream out;
    ASSERT_TRUE(list.put(out));
    MemoryStream in;
    in.load(out.bytes().data(), out.bytes().size());
    in.decode();
    int count = 0;
    ASSERT_TRUE(in.code(count));
    EXPECT_EQ(2, count);
    char *text = nullptr;
    ASSERT_TRUE(in.get(text));
    EXPECT_STREQ("a = 1", text);
    free(text);
    text = nullptr;
    ASSERT_TRUE(in.get(text));
    EXPECT_STREQ("s = \"x y\"", text);
    free(text);
    EXPECT_EQ(0u, in.channel().available());

    // Round trip, chained parent included.
    list.ChainToAd(&parent);
    MemoryStream again;
    ASSERT_TRUE(list.put(again));
    AttrList copy;
    ASSERT_TRUE(copy.Insert("stale = 1", true));
    again.decode();
    ASSERT_TRUE(copy.initFromStream(again));
    EXPECT_EQ("p = 1\na = 1\ns = \"x y\"\n", Printed(copy));
    list.unchain();
}

// What a list's first put printed is sent again by the next, so every
// change of the list in between must show in what the next put sends,
// through a plain stream and an encrypted one alike.
TEST_F(AttrListWireTest, EachPutSendsTheListAsItIsThen) {
    unsigned char raw[24];
    for (int i = 0; i < 24; i++) raw[i] = static_cast<unsigned char>(i * 7 + 1);
    KeyInfo key(raw, 24, CIPHER_3DES);
    for (bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        // The texts sent, one a line, as Printed shows a list.
        auto sent = [&](AttrList &list) {
            MemoryChannel channel;
            MemoryStream out{Stream::portable, &channel}, in{Stream::portable, &channel};
            if (encrypted) {
                EXPECT_TRUE(out.set_crypto_key(true, &key, "k"));
                EXPECT_TRUE(in.set_crypto_key(true, &key, "k"));
            }
            EXPECT_TRUE(list.put(out));
            out.take_back_windows();
            in.decode();
            int count = -1;
            EXPECT_TRUE(in.code(count));
            std::string texts;
            for (int i = 0; i < count; i++) {
                char *text = nullptr;
                EXPECT_TRUE(in.get(text));
                texts += std::string(text != nullptr ? text : "<none>") + "\n";
                free(text);
            }
            EXPECT_EQ(0u, in.channel().available());
            return texts;
        };
        AttrList list, parent, other;
        ASSERT_TRUE(list.Insert("a = 1", true));
        ASSERT_TRUE(list.Insert("r = a + 2.5", true));
        ASSERT_TRUE(parent.Insert("p = \"q\"", true));
        ASSERT_TRUE(other.Insert("o = TRUE", true));
        std::vector<std::function<void()>> changes = {
            [] {},
            [&] { list.Insert("a = 2", true); },
            [&] { list.Insert("a = 3", false); },
            [&] { list.Delete("a"); },
            [&] { list.Assign("s", "text"); },
            [&] { list.Assign("long", std::string(2000, 'x').c_str()); },  // over 1 KB in all
            [&] { list.ChainToAd(&parent); },
            [&] { parent.Insert("p = 4", true); },
            [&] { list.unchain(); },
            [&] { list = other; },
            [&] { list.clear(); },
            [&] { list.Insert("z = UNDEFINED", true); },
        };
        for (size_t i = 0; i < changes.size(); i++) {
            changes[i]();
            EXPECT_EQ(Printed(list), sent(list)) << "after change " << i;
            EXPECT_EQ(Printed(list), sent(list)) << "sent again after change " << i;
        }
    }
}

TEST_F(AttrListWireTest, ScheddAddsServerTimeAndFailuresReport) {
    mySubSystem = "SCHEDD";
    AttrList list;
    ASSERT_TRUE(list.Insert("a = 1", true));
    MemoryStream out;
    time_t before = time(nullptr);
    ASSERT_TRUE(list.put(out));
    out.decode();
    AttrList back;
    ASSERT_TRUE(back.initFromStream(out));
    int server_time = 0;
    EXPECT_EQ(1, back.LookupInteger("ServerTime", server_time));
    EXPECT_LE(static_cast<long>(before), static_cast<long>(server_time));

    MemoryStream failing;
    failing.fail_writes_after(6);
    EXPECT_FALSE(list.put(failing));

    MemoryStream truncated;
    truncated.encode();
    int count = 3;
    truncated.code(count);
    truncated.put("x = 1");
    truncated.put("not an assignment");
    truncated.decode();
    AttrList partial;
    EXPECT_FALSE(partial.initFromStream(truncated));
    EXPECT_EQ("x = 1\n", Printed(partial));
}

// ---- lookups through the name index, checked against a plain model ----

// The list as it should be: (name, value, dirty) in order.
struct Entry {
    std::string name;
    int value;
    bool dirty;
};

class ListModel {
 public:
    // The first entry named name, any case; -1 when none.
    int Find(const std::string &name) const {
        for (size_t i = 0; i < entries_.size(); i++) {
            if (strcasecmp(entries_[i].name.c_str(), name.c_str()) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void Insert(const std::string &name, int value, bool replace) {
        if (replace) {
            Delete(name);
        }
        entries_.push_back({name, value, true});
    }
    bool Delete(const std::string &name) {
        int i = Find(name);
        if (i >= 0) {
            entries_.erase(entries_.begin() + i);
        }
        return i >= 0;
    }
    std::string Text(int i) const {
        return entries_[i].name + " = " + std::to_string(entries_[i].value);
    }
    std::string Printed() const {
        std::string out;
        for (size_t i = 0; i < entries_.size(); i++) {
            out += Text(static_cast<int>(i)) + "\n";
        }
        return out;
    }
    std::vector<Entry> &entries() { return entries_; }

 private:
    std::vector<Entry> entries_;
};

// A name from a small pool, in one of three spellings, so that replacing,
// hiding and case-blind matches all happen often.
std::string RandomName(std::mt19937 &random) {
    static const char * const spellings[][3] = {
        {"Memory", "memory", "MEMORY"}, {"Disk", "disk", "DiSk"},
        {"Arch", "arch", "ARCH"},       {"A", "a", "A"},
        {"Name1", "name1", "NAME1"},    {"x_y", "X_Y", "x_Y"},
    };
    const int pool = sizeof spellings / sizeof spellings[0];
    int which = static_cast<int>(random() % (pool + 20));
    if (which >= pool) {
        return "Other" + std::to_string(which);  // names that stay unique-ish
    }
    return spellings[which][random() % 3];
}

void ExpectSame(AttrList &list, ListModel &model, int step) {
    ASSERT_EQ(model.Printed(), Printed(list)) << "step " << step;
    for (const Entry &e : model.entries()) {
        int first = model.Find(e.name);
        ASSERT_EQ(model.Text(first), ExprText(list, e.name.c_str())) << "step " << step;
    }
    // Dirty names, in order.
    std::string dirty_model, dirty_list;
    for (const Entry &e : model.entries()) {
        dirty_model += e.dirty ? e.name + "," : "";
    }
    list.ResetName();
    char *name;
    while ((name = list.NextDirtyName()) != nullptr) {
        dirty_list += std::string(name) + ",";
        delete[] name;
    }
    ASSERT_EQ(dirty_model, dirty_list) << "step " << step;
}

TEST(AttrListIndex, RandomEditsMatchAnOrderedModel) {
    std::mt19937 random(20261209);
    AttrList list;
    ListModel model;
    for (int step = 0; step < 2000; step++) {
        std::string name = RandomName(random);
        int action = static_cast<int>(random() % 10);
        if (action < 5) {
            ASSERT_TRUE(list.Insert((name + " = " + std::to_string(step)).c_str(), true));
            model.Insert(name, step, true);
        } else if (action < 7) {
            ASSERT_TRUE(list.Insert((name + " = " + std::to_string(step)).c_str(), false));
            model.Insert(name, step, false);
        } else if (action < 9) {
            EXPECT_EQ(model.Delete(name), list.Delete(name.c_str())) << "step " << step;
        } else {
            list.SetDirtyFlag(name.c_str(), false);
            int i = model.Find(name);
            if (i >= 0) {
                model.entries()[i].dirty = false;
            }
        }
        ExpectSame(list, model, step);
        if (HasFatalFailure()) {
            return;
        }
    }
    // A copy indexes its attributes too (all clean).
    AttrList copy(list);
    for (Entry &e : model.entries()) {
        e.dirty = false;
    }
    ExpectSame(copy, model, -1);
}

TEST(AttrListIndex, HiddenAttributesComeToLightInOrder) {
    AttrList list;
    ASSERT_TRUE(list.Insert("k = 1", false));
    ASSERT_TRUE(list.Insert("other = 0", false));
    ASSERT_TRUE(list.Insert("K = 2", false));
    ASSERT_TRUE(list.Insert("more = 0", false));
    ASSERT_TRUE(list.Insert("k = 3", false));
    EXPECT_EQ("k = 1", ExprText(list, "K"));
    ASSERT_TRUE(list.Delete("K"));
    EXPECT_EQ("K = 2", ExprText(list, "k"));
    // Replacing removes the one that shows; the next hidden one shows and the
    // new one goes to the end, hidden behind it.
    ASSERT_TRUE(list.Insert("k = 4", true));
    EXPECT_EQ("k = 3", ExprText(list, "k"));
    EXPECT_EQ("other = 0\nmore = 0\nk = 3\nk = 4\n", Printed(list));
    ASSERT_TRUE(list.Delete("k"));
    EXPECT_EQ("k = 4", ExprText(list, "k"));
    ASSERT_TRUE(list.Delete("k"));
    EXPECT_EQ("<none>", ExprText(list, "k"));
    EXPECT_FALSE(list.Delete("k"));
    EXPECT_EQ("other = 0\nmore = 0\n", Printed(list));
}

TEST(AttrListIndex, CursorsStepOverDeletedElements) {
    AttrList list;
    for (const char *text : {"a = 1", "b = 2", "c = 3", "d = 4"}) {
        ASSERT_TRUE(list.Insert(text, true));
    }
    list.ResetExpr();
    list.ResetName();
    ASSERT_NE(nullptr, list.NextExpr());  // a; the cursor is now on b
    const char *name = list.NextNameOriginal();
    ASSERT_STREQ("a", name);
    ASSERT_TRUE(list.Delete("B"));  // both cursors move on to c
    ExprTree *tree = list.NextExpr();
    ASSERT_NE(nullptr, tree);
    EXPECT_STREQ("c", list.NextNameOriginal());
    ASSERT_TRUE(list.Delete("d"));  // the last: the cursors reach the end
    EXPECT_EQ(nullptr, list.NextExpr());
    EXPECT_EQ(nullptr, list.NextNameOriginal());
    // The tail is right after deleting the last element.
    ASSERT_TRUE(list.Insert("e = 5", true));
    EXPECT_EQ("a = 1\nc = 3\ne = 5\n", Printed(list));
}

TEST(AttrListIndex, ChainedChildUsesTheParentsIndexAcrossAnExchange) {
    ClassAd first;
    ClassAd second;
    ASSERT_TRUE(first.Insert("Memory = 64", true));
    ASSERT_TRUE(second.Insert("Disk = 100", true));
    ASSERT_TRUE(second.Insert("memory = 128", true));
    AttrList child;
    child.ChainToAd(&first);
    EXPECT_EQ("Memory = 64", ExprText(child, "MEMORY"));
    EXPECT_EQ("<none>", ExprText(child, "Disk"));
    first.ExchangeExpressions(&second);
    // The child sees what its parent holds now, found by name.
    EXPECT_EQ("memory = 128", ExprText(child, "Memory"));
    EXPECT_EQ("Disk = 100", ExprText(child, "disk"));
    EXPECT_EQ("Memory = 64", ExprText(second, "memory"));
    EXPECT_EQ("<none>", ExprText(second, "Disk"));
    // Deleting in the parent is seen through the chain.
    ASSERT_TRUE(first.Delete("DISK"));
    EXPECT_EQ("<none>", ExprText(child, "Disk"));
    // A chain handed back by unchain still leads to the parent's index.
    AttrListElem **chain = child.unchain();
    EXPECT_EQ("<none>", ExprText(child, "memory"));
    child.RestoreChain(chain);
    EXPECT_EQ("memory = 128", ExprText(child, "memory"));
    uint32_t hash = AttrList::NameHash("MEMORY");
    AttrListElem *elem = child.LookupElem("MEMORY", hash);
    ASSERT_NE(nullptr, elem);
    EXPECT_STREQ("memory", elem->name);
    child.unchain();
}

}  // namespace
