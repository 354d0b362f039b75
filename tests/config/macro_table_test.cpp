// Tests of the macro table: case-insensitive names, replacement, the hash,
// the name-length bound, freeing, and the walk with its misuse checks.
#include "config/macro_table.h"

#include <gtest/gtest.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "reader_test_support.h"

namespace {

using reader_test::LocalTable;

TEST(MacroTableTest, NamesIgnoreCaseAndAreStoredLowerCase) {
    LocalTable<113> table;
    ASSERT_EQ(0, insert("Name", "A", table.heads, table.size));
    ASSERT_EQ(0, insert("NAME", "B", table.heads, table.size));
    EXPECT_STREQ("B", table.Lookup("name"));
    EXPECT_STREQ("B", table.Lookup("nAmE"));

    MacroTableCursor *iter = hash_iter_begin(table.heads, table.size);
    ASSERT_FALSE(hash_iter_done(iter));
    EXPECT_STREQ("name", hash_iter_key(iter));
    EXPECT_FALSE(hash_iter_next(iter));
    hash_iter_delete(&iter);
    EXPECT_EQ(nullptr, iter);
}

TEST(MacroTableTest, ReplacingWithItsOwnStoredValueIsSafe) {
    LocalTable<7> table;
    insert("x", "value", table.heads, table.size);
    insert("x", table.Lookup("x"), table.heads, table.size);
    EXPECT_STREQ("value", table.Lookup("x"));
}

TEST(MacroTableTest, UnknownAndNullNamesAreNotFound) {
    LocalTable<7> table;
    EXPECT_EQ(nullptr, table.Lookup("missing"));
    EXPECT_EQ(nullptr, table.Lookup(nullptr));
    EXPECT_EQ(-1, insert(nullptr, "v", table.heads, table.size));
    EXPECT_EQ(-1, insert("n", nullptr, table.heads, table.size));
}

TEST(MacroTableTest, HashFollowsTheDoublingRule) {
    // h = 1; h = 2h + c per byte; h >> 1; modulo size.
    unsigned int h = 1;
    for (const char *p = "abc"; *p; ++p) {
        h = h * 2 + static_cast<unsigned char>(*p);
    }
    EXPECT_EQ(static_cast<int>((h >> 1) % 113), torvel_hash("abc", 113));
    EXPECT_EQ(torvel_hash("abc", 113), torvel_hash("ABC", 113));
    EXPECT_EQ(0, torvel_hash("", 1));
}

TEST(MacroTableTest, HashStaysInRangeForHighBytes) {
    const char name[] = "\xff\xfe\x80\x81\xc3\xa9";
    for (int size : {1, 2, 7, 113, 1009}) {
        int bucket = torvel_hash(name, size);
        EXPECT_GE(bucket, 0);
        EXPECT_LT(bucket, size);
    }
    LocalTable<113> table;
    ASSERT_EQ(0, insert(name, "v", table.heads, table.size));
    EXPECT_STREQ("v", table.Lookup(name));
}

TEST(MacroTableTest, IsalnumIsAsciiOnly) {
    std::string accepted;
    for (int c = -128; c < 256; ++c) {
        if (torvel_isalnum(c)) {
            accepted += static_cast<char>(c);
        }
    }
    EXPECT_EQ("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", accepted);
}

TEST(MacroTableTest, NamesBeyondTheBufferAreRefusedNotOverrun) {
    LocalTable<113> table;
    std::string longest(MACRO_NAME_MAX, 'n');
    ASSERT_EQ(0, insert(longest.c_str(), "fits", table.heads, table.size));
    EXPECT_STREQ("fits", table.Lookup(longest.c_str()));

    std::string too_long(MACRO_NAME_MAX + 1, 'n');
    EXPECT_EQ(-1, insert(too_long.c_str(), "v", table.heads, table.size));
    EXPECT_EQ(nullptr, table.Lookup(too_long.c_str()));
    std::string huge(100000, 'Q');
    EXPECT_EQ(-1, insert(huge.c_str(), "v", table.heads, table.size));
    EXPECT_EQ(nullptr, table.Lookup(huge.c_str()));
}

// Lookups go through an index kept for the few tables used last: more
// tables than it keeps, used in turn, must still find every name, and a
// table that grew while another was indexed must find its new names.
TEST(MacroTableTest, ManyTablesUsedInTurnFindEveryName) {
    constexpr int kTables = 12;
    constexpr int kNames = 300;
    std::vector<LocalTable<113>> tables(kTables);
    for (int n = 0; n < kNames; ++n) {
        for (int t = 0; t < kTables; ++t) {
            std::string name = "Name_" + std::to_string(n);
            std::string value = std::to_string(t) + ":" + std::to_string(n);
            ASSERT_EQ(0, insert(name.c_str(), value.c_str(), tables[t].heads, tables[t].size));
        }
    }
    for (int t = kTables - 1; t >= 0; --t) {
        for (int n = 0; n < kNames; n += 7) {
            std::string name = "NAME_" + std::to_string(n);
            const char *found = tables[t].Lookup(name.c_str());
            ASSERT_NE(nullptr, found) << t << " " << n;
            EXPECT_EQ(std::to_string(t) + ":" + std::to_string(n), found);
        }
        EXPECT_EQ(nullptr, tables[t].Lookup("name_missing"));
    }
    // A table cleared and filled again at the same address.
    clear_macro_table(tables[0].heads, tables[0].size);
    EXPECT_EQ(nullptr, tables[0].Lookup("name_1"));
    insert("name_1", "again", tables[0].heads, tables[0].size);
    EXPECT_STREQ("again", tables[0].Lookup("NAME_1"));
}

// Nodes share blocks that belong to their table; a value that replaces the
// first one, and a node too large for a shared block, live apart. Every
// kind must read back, survive a clear and refill of the same table, and
// be freed by the clear (the leak checker sees what is not).
TEST(MacroTableTest, ValuesOfEveryKindOfStorageReadBackAcrossAClear) {
    LocalTable<113> table;
    std::string large(40000, 'L');
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            std::string name = "n" + std::to_string(i);
            ASSERT_EQ(0, insert(name.c_str(), name.c_str(), table.heads, table.size));
        }
        ASSERT_EQ(0, insert("big", large.c_str(), table.heads, table.size));
        for (int i = 0; i < 3000; i += 3) {
            std::string name = "N" + std::to_string(i);
            std::string value = "second " + std::to_string(i);
            ASSERT_EQ(0, insert(name.c_str(), value.c_str(), table.heads, table.size));
            if (i % 2 == 0) {
                value = "third " + std::to_string(i);
                ASSERT_EQ(0, insert(name.c_str(), value.c_str(), table.heads, table.size));
            }
        }
        ASSERT_EQ(0, insert("big", "small now", table.heads, table.size));
        for (int i = 0; i < 3000; ++i) {
            std::string name = "n" + std::to_string(i);
            std::string expected = i % 3 != 0   ? name
                                   : i % 2 == 0 ? "third " + std::to_string(i)
                                                : "second " + std::to_string(i);
            ASSERT_STREQ(expected.c_str(), table.Lookup(name.c_str())) << round << " " << i;
        }
        EXPECT_STREQ("small now", table.Lookup("BIG"));
        clear_macro_table(table.heads, table.size);
        EXPECT_EQ(nullptr, table.Lookup("n1"));
    }
}

TEST(MacroTableTest, ClearFreesEverythingAndEmptiesTheTable) {
    LocalTable<3> table;
    for (int i = 0; i < 50; ++i) {
        std::string name = "n" + std::to_string(i);
        insert(name.c_str(), "v", table.heads, table.size);
    }
    clear_macro_table(table.heads, table.size);
    for (MacroBucket *head : table.heads) {
        EXPECT_EQ(nullptr, head);
    }
    EXPECT_EQ(nullptr, table.Lookup("n7"));
}

TEST(MacroTableTest, WalkGoesBucketByBucketNewestFirst) {
    LocalTable<113> table;
    // Gather names per bucket so the expected order can be built.
    std::vector<std::vector<std::string>> buckets(113);
    for (int i = 0; i < 400; ++i) {
        std::string name = "key" + std::to_string(i);
        insert(name.c_str(), name.c_str(), table.heads, table.size);
        auto &chain = buckets[torvel_hash(name.c_str(), 113)];
        chain.insert(chain.begin(), name);  // newest first
    }
    std::vector<std::string> expected;
    for (const auto &chain : buckets) {
        expected.insert(expected.end(), chain.begin(), chain.end());
    }
    std::vector<std::string> walked;
    MacroTableCursor *iter = hash_iter_begin(table.heads, table.size);
    for (; !hash_iter_done(iter); hash_iter_next(iter)) {
        walked.push_back(hash_iter_key(iter));
        EXPECT_STREQ(hash_iter_key(iter), hash_iter_value(iter));
    }
    hash_iter_delete(&iter);
    EXPECT_EQ(expected, walked);
}

TEST(MacroTableTest, WalkOfAnEmptyTableIsDoneAtOnce) {
    LocalTable<113> table;
    MacroTableCursor *iter = hash_iter_begin(table.heads, table.size);
    EXPECT_TRUE(hash_iter_done(iter));
    EXPECT_FALSE(hash_iter_next(iter));
    EXPECT_TRUE(hash_iter_done(iter));
    hash_iter_delete(&iter);
}

TEST(MacroTableTest, WalkSkipsEmptyBucketsAtBothEnds) {
    LocalTable<113> table;
    insert("only", "1", table.heads, table.size);
    MacroTableCursor *iter = hash_iter_begin(table.heads, table.size);
    ASSERT_FALSE(hash_iter_done(iter));
    EXPECT_STREQ("only", hash_iter_key(iter));
    EXPECT_FALSE(hash_iter_next(iter));
    EXPECT_TRUE(hash_iter_done(iter));
    hash_iter_delete(&iter);
}

using MacroTableDeathTest = ::testing::Test;

TEST_F(MacroTableDeathTest, MisuseOfTheWalkIsFatal) {
    LocalTable<5> table;
    EXPECT_EXIT(hash_iter_begin(nullptr, 5), ::testing::ExitedWithCode(4),
                "Assertion ERROR on \\(table != nullptr\\)");
    EXPECT_EXIT(hash_iter_begin(table.heads, 0), ::testing::ExitedWithCode(4),
                "Assertion ERROR on \\(table_size >= 1\\)");
    EXPECT_EXIT(hash_iter_done(nullptr), ::testing::ExitedWithCode(4), "Assertion ERROR");
    EXPECT_EXIT(hash_iter_next(nullptr), ::testing::ExitedWithCode(4), "Assertion ERROR");
    EXPECT_EXIT(hash_iter_key(nullptr), ::testing::ExitedWithCode(4), "Assertion ERROR");
    EXPECT_EXIT(
        {
            // Static and volatile: the child ends inside the call, and its cursor must
            // stay reachable for the leak checker that runs at that exit.
            static MacroTableCursor * volatile iter;
            iter = hash_iter_begin(table.heads, table.size);
            hash_iter_key(iter);
        },
        ::testing::ExitedWithCode(4), "Assertion ERROR on \\(!hash_iter_done\\(iter\\)\\)");
    EXPECT_EXIT(
        {
            // Static and volatile: the child ends inside the call, and its cursor must
            // stay reachable for the leak checker that runs at that exit.
            static MacroTableCursor * volatile iter;
            iter = hash_iter_begin(table.heads, table.size);
            hash_iter_value(iter);
        },
        ::testing::ExitedWithCode(4), "Assertion ERROR on \\(!hash_iter_done\\(iter\\)\\)");
    EXPECT_EXIT(hash_iter_delete(nullptr), ::testing::ExitedWithCode(4), "Assertion ERROR");
    EXPECT_EXIT(
        {
            MacroTableCursor *iter = nullptr;
            hash_iter_delete(&iter);
        },
        ::testing::ExitedWithCode(4), "Assertion ERROR on \\(\\*iter != nullptr\\)");
}

}  // namespace
