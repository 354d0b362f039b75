// Tests of TextIndex and the text hash: random inserts, finds, erases,
// reserves and trims checked against a plain model, with hashes forced to collide so that
// probe runs wrap around the end of the table and removals must shift
// entries back; and the folding rule of the hash.
#include "core/text_index.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <random>
#include <string>

#include "gtest/gtest.h"

namespace {

using Index = TextIndex<int, -1>;

// Keys are ints stored as the values themselves; hash_of gives six
// distinct hashes, each shared by many keys: five whose home slots are the
// last five of any table, so that every probe run wraps around the end,
// and 0, which the index stores as it stores 1.
uint32_t hash_of(int key) {
    return key % 6 == 5 ? 0 : 0xffffffffu - static_cast<uint32_t>(key % 6);
}

bool Has(const Index &index, int key) {
    const int *found = index.find(hash_of(key), [key](int v) { return v == key; });
    return found != nullptr && *found == key;
}

TEST(TextIndexTest, MatchesAModelThroughGrowthAndRemoval) {
    Index index;
    std::map<int, bool> model;
    std::mt19937 random(12345);
    for (int step = 0; step < 20000; step++) {
        int key = static_cast<int>(random() % 600);
        bool present = model.count(key) != 0;
        if (random() % 3 != 0) {
            if (!present) {
                index.insert(hash_of(key), key);
                model[key] = true;
            }
        } else {
            EXPECT_EQ(present, index.erase(hash_of(key), [key](int v) { return v == key; }));
            model.erase(key);
        }
        // Sized ahead and trimmed now and then, into the inline slots and
        // out of them, with runs that wrap.
        if (step % 211 == 0) {
            index.reserve(static_cast<uint32_t>(random() % 700));
        } else if (step % 157 == 0) {
            index.fit();
        } else if (step % 131 == 0) {
            index.compact();
        } else if (step % 173 == 0) {
            index.reserveToRead(static_cast<uint32_t>(random() % 700));
        } else if (step % 59 == 0) {
            // Another table's block, freed, is the next one taken.
            Index other;
            for (int k = 0; k < static_cast<int>(random() % 300); k++) other.insert(hash_of(k), k);
        }
        if (step % 97 == 0) {
            ASSERT_EQ(model.size(), index.size());
            for (int k = 0; k < 600; k++) {
                ASSERT_EQ(model.count(k) != 0, Has(index, k)) << "key " << k << " step " << step;
            }
        }
    }
}

TEST(TextIndexTest, FoundValuesCanBeReplacedInPlaceAndClearForgets) {
    Index index;
    for (int k = 0; k < 100; k++) {
        index.insert(hash_of(k), k);
    }
    int *found = index.find(hash_of(42), [](int v) { return v == 42; });
    ASSERT_NE(nullptr, found);
    *found = 1042;  // another value of the same key
    EXPECT_FALSE(Has(index, 42));
    EXPECT_NE(nullptr, index.find(hash_of(42), [](int v) { return v == 1042; }));
    Index other;
    other.swap(index);
    EXPECT_EQ(0u, index.size());
    EXPECT_FALSE(Has(index, 7));
    EXPECT_TRUE(Has(other, 7));
    other.clear();
    EXPECT_EQ(0u, other.size());
    EXPECT_FALSE(Has(other, 7));
    other.insert(hash_of(3), 3);  // usable again after clear
    EXPECT_TRUE(Has(other, 3));
}

TEST(TextIndexTest, TrimmedBackIntoItselfAndSizedOutAgain) {
    Index index;
    for (int k = 0; k < 100; k++) {
        index.insert(hash_of(k), k);
    }
    for (int k = 3; k < 100; k++) {
        ASSERT_TRUE(index.erase(hash_of(k), [k](int v) { return v == k; }));
    }
    for (int round = 0; round < 2; round++) {
        index.fit();  // down to the inline slots
        for (int k = 0; k < 3; k++) {
            EXPECT_TRUE(Has(index, k)) << k << " round " << round;
        }
        index.reserve(50);
        for (int k = 0; k < 3; k++) {
            EXPECT_TRUE(Has(index, k)) << k << " round " << round;
        }
    }
    EXPECT_FALSE(Has(index, 3));
}

// A compacted table finds every value it holds and no other, and takes
// inserts and removals again.
TEST(TextIndexTest, CompactedTableFindsEverythingAndGrowsOnInsert) {
    using Pointers = TextIndex<const int *, nullptr>;
    static const int kKeys[100] = {};
    for (uint32_t n : {1u, 7u, 8u, 9u, 57u, 100u}) {
        Pointers index;
        index.reserve(n);
        for (uint32_t k = 0; k < n; k++) {
            index.insert(hash_of(static_cast<int>(k)), &kKeys[k]);
        }
        index.compact();
        for (uint32_t k = 0; k < n; k++) {
            const int *key = &kKeys[k];
            ASSERT_NE(nullptr, index.find(hash_of(static_cast<int>(k)),
                                          [key](const int *v) { return v == key; }))
                << n << " " << k;
        }
        EXPECT_EQ(nullptr, index.find(hash_of(0), [](const int *) { return false; }));
        index.insert(hash_of(99), &kKeys[99]);
        ASSERT_TRUE(index.erase(hash_of(99), [](const int *v) { return v == &kKeys[99]; }));
        EXPECT_EQ(n, index.size());
    }
}

TEST(TextHashTest, FoldsAsciiLettersOnly) {
    EXPECT_EQ(_torvel_text_hash("MyType_9", true), _torvel_text_hash("mytype_9", true));
    EXPECT_NE(_torvel_text_hash("MyType", false), _torvel_text_hash("mytype", false));
    // Only A-Z fold: '@' and '`', '[' and '{' differ by 0x20 but stay apart,
    // as do bytes above 0x7f.
    EXPECT_NE(_torvel_text_hash("a@", true), _torvel_text_hash("a`", true));
    EXPECT_NE(_torvel_text_hash("[", true), _torvel_text_hash("{", true));
    EXPECT_NE(_torvel_text_hash("\xc4", true), _torvel_text_hash("\xe4", true));
    // Every byte counts, in order.
    EXPECT_NE(_torvel_text_hash("ab", true), _torvel_text_hash("ba", true));
    EXPECT_NE(_torvel_text_hash("", true), _torvel_text_hash("a", true));
    // Texts longer than a word: letters fold in each part, and a difference
    // in any part, or in the length alone, tells texts apart.
    EXPECT_EQ(_torvel_text_hash("TotalVirtualMemoryZ", true),
              _torvel_text_hash("totalvirtualmemoryz", true));
    EXPECT_NE(_torvel_text_hash("TotalVirtualMemoryZ", false),
              _torvel_text_hash("TotalVirtualMemoryz", false));
    EXPECT_NE(_torvel_text_hash("abcdefgh[", true), _torvel_text_hash("abcdefgh{", true));
    EXPECT_NE(_torvel_text_hash("abcdefghi", true), _torvel_text_hash("abcdefgi", true));
    EXPECT_NE(_torvel_text_hash("abcdefgh", true), _torvel_text_hash("abcdefg", true));
}

TEST(TextHashTest, EveryByteOfEveryLengthCountsAndNothingBeyondIt) {
    // The last bytes of a text are read in words that may overlap: a change
    // of any one byte must still change the hash, a change past the end
    // must not, and the length-bounded form must agree with the terminated
    // one, the text lying anywhere in a buffer.
    char buffer[64];
    for (size_t length = 0; length <= 40; length++) {
        for (size_t offset = 0; offset < 8; offset++) {
            char *text = buffer + offset;
            memset(buffer, 'q', sizeof buffer);
            for (size_t i = 0; i < length; i++) text[i] = static_cast<char>('a' + i % 26);
            const uint32_t plain = _torvel_text_hash_n(text, length, false);
            text[length] = 'Z';
            ASSERT_EQ(plain, _torvel_text_hash_n(text, length, false)) << length << " " << offset;
            ASSERT_EQ(_torvel_text_hash_n(text, length, true),
                      _torvel_text_hash_n(text, length, false))
                << length;
            text[length] = '\0';
            ASSERT_EQ(plain, _torvel_text_hash(text, false)) << length << " " << offset;
            for (size_t i = 0; i < length; i++) {
                char was = text[i];
                text[i] = static_cast<char>(was - 'a' + 'A');
                EXPECT_EQ(plain, _torvel_text_hash_n(text, length, true)) << length << " " << i;
                text[i] = '#';
                EXPECT_NE(plain, _torvel_text_hash_n(text, length, false)) << length << " " << i;
                EXPECT_NE(plain, _torvel_text_hash_n(text, length, true)) << length << " " << i;
                text[i] = was;
            }
        }
    }
}

TEST(TextHashTest, LowBitsSpreadNearNames) {
    // Names that differ in one digit fill a small table evenly: a weak
    // hash (a byte sum) would pile them into a few slots.
    int used[64] = {0};
    char name[16];
    for (int i = 0; i < 640; i++) {
        snprintf(name, sizeof name, "Attr%d", i);
        used[_torvel_text_hash(name, true) & 63]++;
    }
    for (int slot = 0; slot < 64; slot++) {
        EXPECT_GT(used[slot], 0) << slot;
        EXPECT_LT(used[slot], 30) << slot;
    }
}

}  // namespace
