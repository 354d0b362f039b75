// Tests of the macro tables' name index where its probing could go wrong:
// names that crowd the end of the index and wrap round it, and different
// names with the same 32-bit index hash.
#include "config/macro_index.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "reader_test_support.h"

namespace {

using reader_test::LocalTable;

uint32_t index_hash(const std::string &name) {
    char lowered[MACRO_KEY_BUFFER];
    MacroNameKey key;
    EXPECT_TRUE(_torvel_macro_key(name.c_str(), 113, lowered, &key));
    return key.hash;
}

// count names whose index hash has its low 16 bits at or above 0xfff0:
// in an index of up to 65,536 slots they all start in its last 16 slots.
std::vector<std::string> names_of_the_last_slots(int count) {
    std::vector<std::string> names;
    for (int i = 0; static_cast<int>(names.size()) < count; ++i) {
        std::string name = "crowd_" + std::to_string(i);
        if ((index_hash(name) & 0xffffu) >= 0xfff0u) {
            names.push_back(name);
        }
    }
    return names;
}

TEST(MacroIndexTest, NamesCrowdingTheEndWrapRoundAndAreAllFound) {
    std::vector<std::string> crowd = names_of_the_last_slots(40);
    LocalTable<113> table;
    // Fewer other names than would grow the index far: the crowd overflows
    // the last slots into the first ones.
    for (int i = 0; i < 20; ++i) {
        std::string name = "other_" + std::to_string(i);
        ASSERT_EQ(0, insert(name.c_str(), name.c_str(), table.heads, table.size));
    }
    for (size_t i = 0; i < crowd.size(); ++i) {
        ASSERT_EQ(0, insert(crowd[i].c_str(), std::to_string(i).c_str(), table.heads, table.size));
    }
    for (size_t i = 0; i < crowd.size(); ++i) {
        ASSERT_STREQ(std::to_string(i).c_str(), table.Lookup(crowd[i].c_str())) << crowd[i];
    }
    for (int i = 0; i < 20; ++i) {
        std::string name = "OTHER_" + std::to_string(i);
        ASSERT_STREQ(("other_" + std::to_string(i)).c_str(), table.Lookup(name.c_str()));
    }
    // Absent names starting in the same crowded slots are not found.
    std::vector<std::string> more = names_of_the_last_slots(60);
    for (size_t i = crowd.size(); i < more.size(); ++i) {
        EXPECT_EQ(nullptr, table.Lookup(more[i].c_str())) << more[i];
    }
    // Replacing values keeps one entry per name.
    ASSERT_EQ(0, insert(crowd[0].c_str(), "replaced", table.heads, table.size));
    EXPECT_STREQ("replaced", table.Lookup(crowd[0].c_str()));
}

// Two different names of the same index hash (found by search among long
// names, which the hash cannot keep apart exactly).
std::pair<std::string, std::string> names_of_one_hash() {
    std::map<uint32_t, std::string> seen;
    for (int i = 0;; ++i) {
        std::string name = "a_rather_long_name_" + std::to_string(i);
        auto [at, fresh] = seen.emplace(index_hash(name), name);
        if (!fresh) {
            return {at->second, name};
        }
    }
}

TEST(MacroIndexTest, NamesOfOneHashAreKeptApart) {
    auto [first, second] = names_of_one_hash();
    ASSERT_NE(first, second);
    ASSERT_EQ(index_hash(first), index_hash(second));
    LocalTable<113> table;
    ASSERT_EQ(0, insert(first.c_str(), "first", table.heads, table.size));
    EXPECT_EQ(nullptr, table.Lookup(second.c_str()));
    ASSERT_EQ(0, insert(second.c_str(), "second", table.heads, table.size));
    EXPECT_STREQ("first", table.Lookup(first.c_str()));
    EXPECT_STREQ("second", table.Lookup(second.c_str()));
}

}  // namespace
