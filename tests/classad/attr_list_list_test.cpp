// Tests of AttrListList: one attribute list in several lists through
// representatives, ownership when lists and members go, iteration and
// lookup across members, the collection of lists created for a list,
// copying and printing. Leaks and double frees show under the sanitizer
// build.
#include "classad/attr_list_list.h"

#include <stdio.h>

#include <string>

#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"

namespace {

AttrList *ListWith(const char *assignment) {
    AttrList *list = new AttrList;
    list->Insert(assignment, true);
    return list;
}

// The value printed for attribute n of every member, in iteration order.
std::string Members(AttrListList &lists) {
    std::string out;
    lists.Open();
    AttrList *member;
    while ((member = lists.Next()) != nullptr) {
        char *text = member->sPrintExpr(nullptr, 0, "n");
        out += (out.empty() ? "" : ",") + std::string(text != nullptr ? text + 4 : "?");
        free(text);
    }
    lists.Close();
    return out;
}

std::string FileText(void (*write)(FILE *, void *), void *arg) {
    FILE *file = tmpfile();
    write(file, arg);
    rewind(file);
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    fclose(file);
    return text;
}

TEST(AttrListListMembership, SharedMemberOutlivesOneOfItsLists) {
    AttrListList *first = new AttrListList;
    AttrListList second;
    AttrList *a = ListWith("n = 1");
    AttrList *b = ListWith("n = 2");
    AttrList *c = ListWith("n = 3");
    first->Insert(a);
    first->Insert(b);
    first->Insert(c);
    first->Insert(b);  // already a member: nothing happens
    EXPECT_EQ(3, first->MyLength());
    second.Insert(b);
    EXPECT_TRUE(b->IsInList(first));
    EXPECT_TRUE(b->IsInList(&second));
    EXPECT_FALSE(a->IsInList(&second));
    // b keeps its place in the first list.
    EXPECT_EQ("1,2,3", Members(*first));
    EXPECT_EQ("2", Members(second));

    AttrListList third;
    third.Insert(b);  // a third list: one more representative
    EXPECT_EQ("2", Members(third));
    EXPECT_TRUE(third.Delete(b));
    EXPECT_FALSE(b->IsInList(&third));

    delete first;  // a and c go; b lives on in the second list
    EXPECT_EQ("2", Members(second));
    EXPECT_EQ(1, second.MyLength());
    EXPECT_TRUE(second.Delete(b));  // its last list: destroyed
    EXPECT_EQ(0, second.MyLength());
}

TEST(AttrListListMembership, DeleteOfANonMemberFailsAndDestroysNothing) {
    AttrListList lists;
    AttrList outsider;
    outsider.Insert("n = 1", true);
    EXPECT_FALSE(lists.Delete(&outsider));
    EXPECT_FALSE(lists.Delete(nullptr));
    EXPECT_NE(nullptr, outsider.Lookup("n"));
}

TEST(AttrListListMembership, DestroyingAMemberTakesItOutOfItsLists) {
    AttrListList first;
    AttrListList second;
    AttrList *a = ListWith("n = 1");
    AttrList *b = ListWith("n = 2");
    first.Insert(a);
    first.Insert(b);
    second.Insert(b);
    delete b;
    EXPECT_EQ("1", Members(first));
    EXPECT_EQ("", Members(second));
    EXPECT_EQ(0, second.MyLength());
    delete a;
    EXPECT_EQ(0, first.MyLength());
}

TEST(AttrListListIteration, DeletingTheNextEntryMovesTheCursor) {
    AttrListList lists;
    AttrList *a = ListWith("n = 1");
    AttrList *b = ListWith("n = 2");
    AttrList *c = ListWith("n = 3");
    lists.Insert(a);
    lists.Insert(b);
    lists.Insert(c);
    lists.Open();
    EXPECT_EQ(a, lists.Next());
    lists.Delete(b);
    EXPECT_EQ(c, lists.Next());
    EXPECT_EQ(nullptr, lists.Next());
}

TEST(AttrListListLookup, FirstMemberHavingTheName) {
    AttrListList lists;
    AttrList *a = ListWith("x = 1");
    AttrList *b = ListWith("y = 2");
    AttrList *c = ListWith("Y = 3");
    lists.Insert(a);
    lists.Insert(b);
    lists.Insert(c);
    AttrList *found = nullptr;
    ExprTree *tree = lists.Lookup("y", found);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(b, found);
    AttrList *untouched = a;
    EXPECT_EQ(nullptr, lists.Lookup("z", untouched));
    EXPECT_EQ(a, untouched);
    EXPECT_EQ(nullptr, lists.Lookup("z"));
}

TEST(AttrListListAssociated, ListsCreatedForAListGoWithIt) {
    AttrListList *owner = new AttrListList;
    AttrList *made = new AttrList(owner);
    made->Insert("n = 1", true);
    owner->Insert(made);  // also a plain member now
    {
        AttrList early(*made);  // joins the collection, leaves it when it goes
        EXPECT_NE(nullptr, early.Lookup("n"));
    }
    new AttrList(*made);  // joins the collection, which owns it
    AttrList *elsewhere = new AttrList(owner);
    AttrListList other;
    other.Insert(elsewhere);
    EXPECT_EQ("1", Members(*owner));
    // The member entry, then the collection with all three lists, go,
    // except elsewhere, which the other list still holds.
    delete owner;
    EXPECT_EQ(1, other.MyLength());
    AttrList assigned;
    assigned = *elsewhere;  // its associated list is forgotten: nothing joined
    EXPECT_TRUE(other.Delete(elsewhere));
}

TEST(AttrListListCopy, CopiesTheMembersInOrder) {
    AttrListList lists;
    lists.Insert(ListWith("n = 1"));
    lists.Insert(ListWith("n = 2"));
    AttrListList copy(lists);
    EXPECT_EQ("1,2", Members(copy));
    lists.Open();
    lists.Next()->Assign("n", 10);
    EXPECT_EQ("1,2", Members(copy));
}

TEST(AttrListListPrint, EachMemberThenAnEmptyLine) {
    AttrListList lists;
    lists.Insert(ListWith("a = 1"));
    ClassAd *ad = new ClassAd;
    ad->SetMyTypeName("Machine");
    ad->Insert("Memory = 64", true);
    lists.Insert(ad);
    std::string text = FileText(
        [](FILE *f, void *l) { static_cast<AttrListList *>(l)->fPrintAttrListList(f, false); },
        &lists);
    EXPECT_EQ("a = 1\n\nMyType = \"Machine\"\nTargetType = \"\"\nMemory = 64\n\n", text);
    std::string xml = FileText(
        [](FILE *f, void *l) { static_cast<AttrListList *>(l)->fPrintAttrListList(f, true); },
        &lists);
    EXPECT_EQ(0u, xml.find("<?xml version=\"1.0\"?>\n")) << xml;
    EXPECT_NE(std::string::npos, xml.find("    <a n=\"a\"><i>1</i></a>\n")) << xml;
    EXPECT_NE(std::string::npos, xml.find("<a n=\"MyType\"><s>Machine</s></a>")) << xml;
    EXPECT_EQ(xml.size() - 12, xml.rfind("</classads>\n")) << xml;
    EXPECT_FALSE(lists.fPrintAttrListList(nullptr, false));
}

}  // namespace
