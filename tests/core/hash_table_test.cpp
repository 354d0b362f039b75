// Tests of HashTable: bucket counts, the three duplicate behaviours, getNext,
// the broken-hash log line, iteration order and removal while iterating,
// chains that empty and refill during an iteration, copies and the fatal
// null hash function.
#include "core/hash_table.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "tests/support/capture.h"

namespace {

// Chain = key modulo the bucket count, so tests can place keys in chains.
int ModHash(const int &key, int buckets) {
    return key % buckets;
}
int BrokenHash(const int &, int buckets) {
    return buckets;
}

std::string Long(int n) {
    return "value " + std::to_string(n) + " padded beyond any small-string buffer";
}

// Every (key, value) in iteration order.
template <class V>
std::vector<std::pair<int, V>> Iterate(HashTable<int, V> &table) {
    std::vector<std::pair<int, V>> out;
    table.startIterations();
    int key;
    V value;
    while (table.iterate(key, value)) {
        out.emplace_back(key, value);
    }
    return out;
}

std::vector<int> Keys(HashTable<int, int> &table) {
    std::vector<int> keys;
    for (const auto &kv : Iterate(table)) {
        keys.push_back(kv.first);
    }
    return keys;
}

TEST(HashTableTest, BucketCountIsAPrimeNearTheRequest) {
    const std::pair<int, int> cases[] = {{0, 5},       {-3, 5},      {1, 1},      {4, 4},
                                         {5, 5},       {6, 7},       {10, 11},    {100, 101},
                                         {1000, 1009}, {9551, 9551}, {9552, 9552}};
    for (const auto &c : cases) {
        HashTable<int, int> table(c.first, ModHash);
        EXPECT_EQ(c.second, table.getTableSize()) << "requested " << c.first;
    }
    // 9552 .. 9586 are all composite (the next prime is 9587): kept as asked.
}

TEST(HashTableTest, DuplicatesKeptAreFoundNewestFirst) {
    HashTable<int, int> table(7, ModHash, DUPLICATES_KEPT);
    ASSERT_EQ(0, table.insert(3, 30));
    ASSERT_EQ(0, table.insert(3, 31));
    EXPECT_EQ(2, table.getNumElements());
    int value = 0;
    ASSERT_EQ(0, table.lookup(3, value));
    EXPECT_EQ(31, value);

    void *position = nullptr;
    ASSERT_EQ(0, table.getNext(3, nullptr, value, position));
    EXPECT_EQ(31, value);
    ASSERT_EQ(0, table.getNext(3, position, value, position));
    EXPECT_EQ(30, value);
    EXPECT_EQ(-1, table.getNext(3, position, value, position));
    EXPECT_EQ(-1, table.getNext(4, nullptr, value, position));

    ASSERT_EQ(0, table.remove(3));
    ASSERT_EQ(0, table.lookup(3, value));
    EXPECT_EQ(30, value);
    ASSERT_EQ(0, table.remove(3));
    EXPECT_EQ(-1, table.remove(3));
    EXPECT_EQ(-1, table.lookup(3, value));
    EXPECT_EQ(0, table.getNumElements());
}

TEST(HashTableTest, DuplicatesRefusedOrReplaced) {
    HashTable<int, int> refused(7, ModHash, DUPLICATES_REFUSED);
    ASSERT_EQ(0, refused.insert(3, 30));
    EXPECT_EQ(-1, refused.insert(3, 31));
    ASSERT_EQ(0, refused.insert(10, 100));  // same chain, other key
    EXPECT_EQ(2, refused.getNumElements());
    int value = 0;
    refused.lookup(3, value);
    EXPECT_EQ(30, value);

    HashTable<int, int> replaced(7, ModHash, DUPLICATES_REPLACE_VALUE);
    ASSERT_EQ(0, replaced.insert(3, 30));
    ASSERT_EQ(0, replaced.insert(3, 31));
    EXPECT_EQ(1, replaced.getNumElements());
    replaced.lookup(3, value);
    EXPECT_EQ(31, value);
}

TEST(HashTableTest, LookupByPointerReachesTheStoredValue) {
    HashTable<int, std::string> table(5, ModHash);
    table.insert(2, Long(2));
    std::string *stored = nullptr;
    ASSERT_EQ(0, table.lookup(2, stored));
    *stored = Long(20);
    std::string value;
    table.lookup(2, value);
    EXPECT_EQ(Long(20), value);
    EXPECT_EQ(-1, table.lookup(3, stored));
}

TEST(HashTableTest, BrokenHashFunctionIsLoggedAndFails) {
    HashTable<int, int> table(11, BrokenHash);
    ASSERT_EQ(11, table.getTableSize());
    DebugCapture log(D_ALWAYS, /*with_headers=*/true);
    EXPECT_EQ(-1, table.insert(1, 1));
    EXPECT_NE(std::string::npos,
              log.text().find("hashfcn() is broken (returned 11 when tablesize = 11)!\n"));
    EXPECT_EQ(0, table.getNumElements());

    // Lookups and removals fail without a log line.
    size_t logged = log.text().size();
    int value = 0;
    void *position = nullptr;
    EXPECT_EQ(-1, table.lookup(1, value));
    EXPECT_EQ(-1, table.remove(1));
    EXPECT_EQ(-1, table.getNext(1, nullptr, value, position));
    EXPECT_EQ(logged, log.text().size());
}

TEST(HashTableTest, IterationFollowsChainsInSlotOrderNewestFirst) {
    HashTable<int, int> table(5, ModHash);
    table.insert(3, 0);  // chain 3 takes slot 0
    table.insert(1, 0);  // chain 1 takes slot 1
    table.insert(8, 0);  // chain 3 again, at its head
    table.insert(0, 0);  // chain 0 takes slot 2
    EXPECT_EQ((std::vector<int>{8, 3, 1, 0}), Keys(table));

    // Emptying chain 3 frees slot 0; compaction moves the last chain there.
    table.remove(3);
    table.remove(8);
    EXPECT_EQ((std::vector<int>{0, 1}), Keys(table));
    table.insert(4, 0);  // chain 4 takes the next free slot after compaction
    EXPECT_EQ((std::vector<int>{0, 1, 4}), Keys(table));
}

TEST(HashTableTest, IterateEndsAndResetsTheCursor) {
    HashTable<int, int> table(5, ModHash);
    table.insert(1, 10);
    table.startIterations();
    int key = 0;
    int value = 0;
    EXPECT_EQ(-1, table.getCurrentKey(key));
    ASSERT_EQ(1, table.iterate(value));
    EXPECT_EQ(10, value);
    ASSERT_EQ(0, table.getCurrentKey(key));
    EXPECT_EQ(1, key);
    EXPECT_EQ(0, table.iterate(value));
    EXPECT_EQ(-1, table.getCurrentKey(key));
    EXPECT_EQ(1, table.iterate(value));  // starts over
}

TEST(HashTableTest, RemovingEachReturnedElementVisitsAllOnce) {
    HashTable<int, int> table(5, ModHash);
    for (int k = 0; k < 40; k++) {
        table.insert(k, k);
    }
    std::multiset<int> seen;
    table.startIterations();
    int key = 0;
    int value = 0;
    while (table.iterate(key, value)) {
        seen.insert(key);
        ASSERT_EQ(0, table.remove(key));
    }
    EXPECT_EQ(0, table.getNumElements());
    EXPECT_EQ(40u, seen.size());
    for (int k = 0; k < 40; k++) {
        EXPECT_EQ(1u, seen.count(k)) << k;
    }
    EXPECT_TRUE(Keys(table).empty());
}

TEST(HashTableTest, ClearEmptiesAndEndsIteration) {
    HashTable<int, std::string> table(5, ModHash);
    for (int k = 0; k < 12; k++) {
        table.insert(k, Long(k));
    }
    std::string value;
    table.startIterations();
    table.iterate(value);
    table.clear();
    EXPECT_EQ(0, table.getNumElements());
    EXPECT_EQ(0, table.iterate(value));
    table.insert(7, Long(7));
    ASSERT_EQ(1, table.iterate(value));
    EXPECT_EQ(Long(7), value);
}

int stopAt = -1;
std::vector<int> walked;
int Record(int value) {
    walked.push_back(value);
    return value == stopAt ? 0 : 1;
}

TEST(HashTableTest, WalkGoesByChainNumberAndStopsOnZero) {
    HashTable<int, int> table(5, ModHash);
    table.insert(4, 4);
    table.insert(2, 2);
    table.insert(7, 7);  // chain 2, head
    table.insert(0, 0);
    walked.clear();
    stopAt = -1;
    EXPECT_EQ(1, table.walk(Record));
    EXPECT_EQ((std::vector<int>{0, 7, 2, 4}), walked);
    walked.clear();
    stopAt = 7;
    EXPECT_EQ(0, table.walk(Record));
    EXPECT_EQ((std::vector<int>{0, 7}), walked);
}

// Regression: a chain emptied ahead of the cursor and refilled after a
// chain behind the cursor was freed used to get that freed slot behind the
// cursor, and its element was never visited.
TEST(HashTableTest, RefilledChainAheadOfTheCursorIsVisited) {
    HashTable<int, int> table(5, ModHash);
    table.insert(0, 0);  // slot 0
    table.insert(1, 0);  // slot 1
    table.insert(2, 0);  // slot 2
    table.insert(3, 0);  // slot 3
    table.startIterations();
    int key = 0;
    int value = 0;
    ASSERT_EQ(1, table.iterate(key, value));
    ASSERT_EQ(0, key);
    ASSERT_EQ(1, table.iterate(key, value));
    ASSERT_EQ(1, key);
    table.remove(3);     // frees slot 3, ahead
    table.remove(0);     // frees slot 0, behind
    table.insert(8, 0);  // chain 3 refills
    std::vector<int> rest;
    while (table.iterate(key, value)) {
        rest.push_back(key);
    }
    EXPECT_EQ((std::vector<int>{2, 8}), rest);
}

// Same fault when every slot is taken and the only freed slots lie behind
// the cursor: the refilled chain must still come after it.
TEST(HashTableTest, RefilledChainIsVisitedWhenEveryFreeSlotIsBehind) {
    HashTable<int, int> table(3, ModHash);
    table.insert(0, 0);  // slot 0
    table.insert(1, 0);  // slot 1
    table.insert(2, 0);  // slot 2
    table.startIterations();
    int key = 0;
    int value = 0;
    ASSERT_EQ(1, table.iterate(key, value));
    ASSERT_EQ(0, key);
    ASSERT_EQ(0, table.remove(0));  // the cursor element: slot 0 freed
    ASSERT_EQ(1, table.iterate(key, value));
    ASSERT_EQ(1, key);
    table.remove(2);     // slot 2 freed, ahead
    table.insert(3, 0);  // chain 0 takes slot 2
    table.insert(5, 0);  // chain 2: only slot 0, behind the cursor, is free
    std::vector<int> rest;
    while (table.iterate(key, value)) {
        rest.push_back(key);
    }
    EXPECT_EQ((std::vector<int>{5, 3}), rest);
    EXPECT_EQ((std::vector<int>{1, 5, 3}), Keys(table));

    // Same with the cursor still on an element of its chain.
    HashTable<int, int> busy(3, ModHash);
    busy.insert(0, 0);
    busy.insert(1, 0);
    busy.insert(4, 0);  // chain 1: 4 then 1
    busy.insert(2, 0);
    busy.startIterations();
    busy.iterate(key, value);  // 0
    busy.iterate(key, value);  // 4
    ASSERT_EQ(4, key);
    busy.remove(0);     // slot 0 freed, behind
    busy.remove(2);     // slot 2 freed, ahead
    busy.insert(3, 0);  // chain 0 takes slot 2
    busy.insert(5, 0);  // chain 2 needs a place after the cursor
    busy.remove(4);     // the cursor element, head of its chain
    rest.clear();
    while (busy.iterate(key, value)) {
        rest.push_back(key);
    }
    EXPECT_EQ((std::vector<int>{1, 5, 3}), rest);
}

// Random inserts and removals during iterations: elements present
// throughout are visited exactly once, and an element that made its chain
// non-empty is visited unless removed before the iteration ends.
// Checks one round's visits: every element present throughout seen exactly
// once, every must-see element at least once, and a fresh iteration seeing
// exactly what is present.
void ExpectVisits(HashTable<int, int> &table, const std::set<int> &present,
                  const std::set<int> &persistent, const std::set<int> &mustSee,
                  const std::multiset<int> &seen, int round) {
    for (int k : persistent) {
        EXPECT_EQ(1u, seen.count(k)) << "round " << round << " key " << k;
    }
    for (int k : mustSee) {
        EXPECT_LE(1u, seen.count(k)) << "round " << round << " key " << k;
    }
    std::vector<int> after = Keys(table);
    EXPECT_EQ(present, std::set<int>(after.begin(), after.end()));
    EXPECT_EQ(present.size(), after.size());
}

TEST(HashTableTest, RandomChurnDuringIterationLosesNothing) {
    std::mt19937 random(12345);
    for (int round = 0; round < 400; round++) {
        HashTable<int, int> table(7, ModHash);
        std::set<int> present;
        std::map<int, int> chainSize;
        int nextKey = 0;
        auto add = [&](bool duringIteration, std::set<int> *mustSee) {
            int key = nextKey++ * 3 + static_cast<int>(random() % 3);
            int chain = key % 7;
            if (duringIteration && chainSize[chain] == 0) {
                mustSee->insert(key);
            }
            ASSERT_EQ(0, table.insert(key, key));
            present.insert(key);
            chainSize[chain]++;
        };
        std::set<int> mustSee;
        int initial = static_cast<int>(random() % 20);
        for (int i = 0; i < initial; i++) {
            add(false, &mustSee);
        }
        std::set<int> persistent = present;
        std::multiset<int> seen;

        table.startIterations();
        int key = 0;
        int value = 0;
        while (table.iterate(key, value)) {
            ASSERT_TRUE(present.count(key)) << "visited a removed element " << key;
            seen.insert(key);
            int actions = static_cast<int>(random() % 4);
            for (int a = 0; a < actions; a++) {
                int what = static_cast<int>(random() % 3);
                int victim;
                if (what == 0 && present.count(key)) {
                    victim = key;  // the element just returned
                } else if (what == 1 && !present.empty()) {
                    auto it = present.begin();
                    std::advance(it, random() % present.size());
                    victim = *it;
                } else {
                    add(true, &mustSee);
                    continue;
                }
                ASSERT_EQ(0, table.remove(victim));
                present.erase(victim);
                persistent.erase(victim);
                mustSee.erase(victim);
                chainSize[victim % 7]--;
            }
            ASSERT_EQ(static_cast<int>(present.size()), table.getNumElements());
        }
        ExpectVisits(table, present, persistent, mustSee, seen, round);
    }
}

TEST(HashTableTest, CopiesAreDeepAndContinueAnIteration) {
    HashTable<int, std::string> table(5, ModHash, DUPLICATES_REFUSED);
    for (int k = 0; k < 12; k++) {
        table.insert(k, Long(k));
    }
    table.remove(2);
    table.remove(7);  // chain 2 now empty: its slot is on the free list
    table.startIterations();
    std::string value;
    table.iterate(value);
    table.iterate(value);

    HashTable<int, std::string> copy(table);
    EXPECT_EQ(table.getTableSize(), copy.getTableSize());
    EXPECT_EQ(table.getNumElements(), copy.getNumElements());
    int a = 0;
    int b = 0;
    ASSERT_EQ(0, table.getCurrentKey(a));
    ASSERT_EQ(0, copy.getCurrentKey(b));
    EXPECT_EQ(a, b);
    std::string va;
    std::string vb;
    while (table.iterate(a, va)) {
        ASSERT_EQ(1, copy.iterate(b, vb));
        EXPECT_EQ(a, b);
        EXPECT_EQ(va, vb);
    }
    EXPECT_EQ(0, copy.iterate(vb));

    // The duplicate behaviour and hash function come along.
    EXPECT_EQ(-1, copy.insert(3, Long(0)));
    std::string *stored = nullptr;
    copy.lookup(3, stored);
    *stored = Long(99);
    table.lookup(3, value);
    EXPECT_EQ(Long(3), value);

    HashTable<int, std::string> assigned(100, ModHash);
    assigned.insert(50, Long(50));
    assigned = copy;
    EXPECT_EQ(5, assigned.getTableSize());
    EXPECT_EQ(-1, assigned.lookup(50, value));
    assigned.lookup(3, value);
    EXPECT_EQ(Long(99), value);
    EXPECT_EQ(Iterate(copy), Iterate(assigned));

    HashTable<int, std::string> &self = assigned;
    assigned = self;
    EXPECT_EQ(10, assigned.getNumElements());
}

TEST(HashTableTest, IntegerHashesStayInRange) {
    EXPECT_EQ(3, hashFunction(3, 7));
    int negative = -1;  // 0xffffffff as unsigned
    EXPECT_EQ(static_cast<int>(0xffffffffu % 7u), hashFunction(negative, 7));
    unsigned int big = 0xfffffff0u;
    EXPECT_EQ(static_cast<int>(big % 11u), hashFunction(big, 11));
    HashTable<int, int> table(10, hashFunction);
    EXPECT_EQ(0, table.insert(-5, 1));
    int value = 0;
    EXPECT_EQ(0, table.lookup(-5, value));
}

// The library's main instantiation: text keys hashed with MyStringHash.
TEST(HashTableTest, MyStringKeysAndValues) {
    HashTable<MyString, MyString> table(300, MyStringHash, DUPLICATES_REPLACE_VALUE);
    EXPECT_EQ(307, table.getTableSize());
    for (int i = 0; i < 50; i++) {
        MyString key("key");
        key += i;
        MyString value("value");
        value += i;
        ASSERT_EQ(0, table.insert(key, value));
    }
    ASSERT_EQ(0, table.insert("key7", "replaced"));
    EXPECT_EQ(50, table.getNumElements());
    MyString value;
    ASSERT_EQ(0, table.lookup("key7", value));
    EXPECT_STREQ("replaced", value.Value());
    EXPECT_EQ(-1, table.lookup("key50", value));

    HashTable<MyString, MyString> copy(table);
    table.clear();
    ASSERT_EQ(0, copy.lookup("key49", value));
    EXPECT_STREQ("value49", value.Value());
    int count = 0;
    MyString key;
    copy.startIterations();
    while (copy.iterate(key, value)) {
        count++;
        ASSERT_EQ(0, copy.remove(key));
    }
    EXPECT_EQ(50, count);
    EXPECT_EQ(0, copy.getNumElements());
}

typedef HashTable<int, int> IntTable;

TEST(HashTableDeathTest, NullHashFunctionIsFatal) {
    EXPECT_EXIT(IntTable(5, nullptr), testing::ExitedWithCode(4),
                "ERROR \"Assertion ERROR on \\(hashfcn != 0\\)\" at line [0-9]+ in file HashTable");
}

}  // namespace
