// Tests of AttrList lookups through its name index: random sequences of
// replacing and non-replacing inserts and deletes, with names in mixed case,
// checked against a plain ordered model after every step (what lookups
// find, what prints, in what order, which names are dirty); hidden
// attributes coming to light in order; cursors over deleted elements; and a
// chained child reaching its parent's attributes through the parent's index
// before and after the parent exchanges its attributes.
#include "classad/attr_list.h"

#include <stdlib.h>
#include <strings.h>

#include <random>
#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "core/my_string.h"
#include "gtest/gtest.h"

namespace {

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
    static const char *const spellings[][3] = {
        {"Memory", "memory", "MEMORY"}, {"Disk", "disk", "DiSk"}, {"Arch", "arch", "ARCH"},
        {"A", "a", "A"},                {"Name1", "name1", "NAME1"}, {"x_y", "X_Y", "x_Y"},
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
