// Tests of StringSpace and SSString: slot reuse, reference counts, the four
// adoption methods, case-blind spaces, handle copying, purge and dump, and
// releases that hold no reference.
#include "core/string_space.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/output_capture.h"

namespace {

class StringSpaceTest : public ::testing::Test {
 protected:
    StringSpaceTest() : space_(64, true) {}

    // Interns a literal by duplication (the caller's text is untouched).
    int Dup(const char *text) {
        char *p = const_cast<char *>(text);
        int slot = space_.getCanonical(p, ADOPT_DUPLICATE);
        EXPECT_EQ(text, p);
        return slot;
    }

    std::string Dump(StringSpace &space) {
        torvel_test::OutputCapture captured_out(STDOUT_FILENO);
        space.dump();
        return captured_out.Finish();
    }

    StringSpace space_;
};

TEST_F(StringSpaceTest, DuplicateInterningSharesOneSlot) {
    char first[] = "abc";
    char second[] = "abc";
    char *p1 = first;
    char *p2 = second;
    int a = space_.getCanonical(p1, ADOPT_DUPLICATE);
    int b = space_.getCanonical(p2, ADOPT_DUPLICATE);
    EXPECT_EQ(0, a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(2, space_.referencesOf(a));
    EXPECT_EQ(first, p1);
    EXPECT_EQ(second, p2);
    EXPECT_STREQ("abc", first);
    // The space holds its own copy.
    EXPECT_NE(first, space_.textOf(a));
    EXPECT_EQ(1, space_.numberOfStrings());

    Dup("other");
    space_.disposeByIndex(a);
    EXPECT_EQ(1, space_.referencesOf(a));
    EXPECT_STREQ("abc", space_.textOf(a));
    space_.disposeByIndex(a);
    EXPECT_EQ(nullptr, space_.textOf(a));
    EXPECT_EQ(1, space_.numberOfStrings());
    // The freed slot is the first free one again.
    EXPECT_EQ(a, Dup("new"));
}

TEST_F(StringSpaceTest, MallocAdoptionFreesADuplicate) {
    char *owned = strdup("abc");
    int slot = space_.getCanonical(owned, ADOPT_MALLOC);
    EXPECT_EQ(nullptr, owned);  // taken over
    char *again = strdup("abc");
    EXPECT_EQ(slot, space_.getCanonical(again, ADOPT_MALLOC));
    EXPECT_EQ(nullptr, again);  // freed (ASan would report a leak otherwise)
    EXPECT_EQ(2, space_.referencesOf(slot));
}

TEST_F(StringSpaceTest, NewArrayAdoption) {
    char *owned = new char[4];
    strcpy(owned, "xyz");
    int slot = space_.getCanonical(owned, ADOPT_NEW_ARRAY);
    EXPECT_EQ(nullptr, owned);
    char *again = new char[4];
    strcpy(again, "xyz");
    EXPECT_EQ(slot, space_.getCanonical(again, ADOPT_NEW_ARRAY));
    EXPECT_EQ(nullptr, again);
    space_.disposeByIndex(slot);
    space_.disposeByIndex(slot);  // released with delete[]
    EXPECT_EQ(0, space_.numberOfStrings());
}

TEST_F(StringSpaceTest, BorrowedTextIsStoredAsIs) {
    static char borrowed[] = "kept";
    char *p = borrowed;
    int slot = space_.getCanonical(p, ADOPT_BORROW);
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(borrowed, space_.textOf(slot));
    // A second borrow of equal text leaves the caller's pointer.
    char other[] = "kept";
    char *q = other;
    EXPECT_EQ(slot, space_.getCanonical(q, ADOPT_BORROW));
    EXPECT_EQ(other, q);
    space_.disposeByIndex(slot);
    space_.disposeByIndex(slot);
    EXPECT_STREQ("kept", borrowed);  // never released
}

TEST_F(StringSpaceTest, NullTextFails) {
    char *p = nullptr;
    EXPECT_EQ(-1, space_.getCanonical(p, ADOPT_DUPLICATE));
    SSString handle;
    EXPECT_EQ(-1, space_.getCanonical(p, handle, ADOPT_DUPLICATE));
    EXPECT_EQ(-1, handle.getSlot());
    EXPECT_EQ(nullptr, handle.Value());
}

TEST_F(StringSpaceTest, CaseBlindSpaceKeepsTheFirstCase) {
    StringSpace blind(16, false);
    char upper[] = "ABC";
    char lower[] = "abc";
    char *pu = upper;
    char *pl = lower;
    int a = blind.getCanonical(pu, ADOPT_DUPLICATE);
    int b = blind.getCanonical(pl, ADOPT_DUPLICATE);
    EXPECT_EQ(a, b);
    EXPECT_STREQ("ABC", blind.textOf(a));
    blind.disposeByIndex(a);
    blind.disposeByIndex(b);
    EXPECT_EQ(0, blind.numberOfStrings());
    pl = lower;
    int c = blind.getCanonical(pl, ADOPT_DUPLICATE);
    EXPECT_STREQ("abc", blind.textOf(c));
    blind.disposeByIndex(c);
}

TEST_F(StringSpaceTest, CaseSensitiveSpaceSeparatesCases) {
    // The space hashes every text case-blind, so these two always share a
    // hash: each must still be found, and released, as itself.
    int upper = Dup("Abc");
    int lower = Dup("abc");
    EXPECT_NE(upper, lower);
    EXPECT_EQ(2, space_.numberOfStrings());
    EXPECT_EQ(lower, Dup("abc"));
    EXPECT_EQ(upper, Dup("Abc"));
    space_.disposeByIndex(upper);
    space_.disposeByIndex(upper);
    EXPECT_EQ(nullptr, space_.textOf(upper));
    EXPECT_EQ(lower, Dup("abc"));
    EXPECT_EQ(3, space_.referencesOf(lower));
    int again = Dup("Abc");
    EXPECT_STREQ("Abc", space_.textOf(again));
    EXPECT_NE(lower, again);
}

TEST_F(StringSpaceTest, SlotsAreReusedLowestFirst) {
    EXPECT_EQ(0, Dup("s0"));
    EXPECT_EQ(1, Dup("s1"));
    EXPECT_EQ(2, Dup("s2"));
    space_.disposeByIndex(1);
    EXPECT_EQ(1, Dup("n1"));
    EXPECT_EQ(3, Dup("n3"));
    // Releasing the top slot moves the top down; dump shows slots 0-2 only.
    space_.disposeByIndex(3);
    std::string dump = Dump(space_);
    EXPECT_EQ("String space dump:  3 strings\n#000 s0 (1)\n#001 n1 (1)\n#002 s2 (1)\n\nDone\n",
              dump);
}

// Slots released in any order above the last one still held (an ad
// deleted while the program keeps another) are taken again from just
// above it; a space emptied so starts again from slot 0, and holes made
// after that are filled lowest first.
TEST_F(StringSpaceTest, SlotsLeftAboveTheTopAreTakenAgainInOrder) {
    std::mt19937 random(11);
    for (int round = 0; round < 4; round++) {
        const int held = round < 2 ? 1 : 0;  // "resident", slot 0, in the first rounds
        if (round == 0) {
            ASSERT_EQ(0, Dup("resident"));
        } else if (round == 2) {
            space_.disposeByIndex(0);
        }
        std::vector<std::string> texts;
        std::vector<int> slots;
        for (int i = 0; i < 50; i++) {
            texts.push_back("r" + std::to_string(round) + "t" + std::to_string(i));
            slots.push_back(Dup(texts.back().c_str()));
            ASSERT_EQ(held + i, slots.back()) << "round " << round;
        }
        std::shuffle(slots.begin(), slots.end(), random);
        for (int slot : slots) {
            space_.disposeByIndex(slot);
        }
        ASSERT_EQ(held, space_.numberOfStrings());
    }
    EXPECT_EQ(0, Dup("a"));
    EXPECT_EQ(1, Dup("b"));
    EXPECT_EQ(2, Dup("c"));
    space_.disposeByIndex(1);
    space_.disposeByIndex(0);
    EXPECT_EQ(0, Dup("d"));
    EXPECT_EQ(1, Dup("e"));
    EXPECT_EQ(3, Dup("f"));
}

TEST_F(StringSpaceTest, TheTableGrowsPastItsFirstSlots) {
    char name[16];
    for (int i = 0; i < 200; i++) {
        snprintf(name, sizeof(name), "n%d", i);
        ASSERT_EQ(i, Dup(name));
    }
    EXPECT_EQ(200, space_.numberOfStrings());
    EXPECT_EQ(150, Dup("n150"));
    EXPECT_EQ(2, space_.referencesOf(150));
    EXPECT_STREQ("n199", space_.textOf(199));
}

TEST_F(StringSpaceTest, HandlesCountReferences) {
    char text[] = "h";
    char *p = text;
    SSString handle;
    int slot = space_.getCanonical(p, handle, ADOPT_DUPLICATE);
    EXPECT_EQ(slot, handle.getSlot());
    EXPECT_STREQ("h", handle.Value());
    {
        SSString copy(handle);
        EXPECT_TRUE(copy == handle);
        EXPECT_EQ(2, space_.referencesOf(slot));
    }
    EXPECT_EQ(1, space_.referencesOf(slot));
    SSString other = handle;
    EXPECT_EQ(2, space_.referencesOf(slot));
    other = SSString();  // assigning an empty handle releases one
    EXPECT_EQ(1, space_.referencesOf(slot));
    EXPECT_EQ(nullptr, other.Value());
    handle = handle;  // self-assignment keeps the count
    EXPECT_EQ(1, space_.referencesOf(slot));
    handle.dispose();
    EXPECT_EQ(0, space_.numberOfStrings());
    handle.dispose();  // an empty handle does nothing
}

TEST_F(StringSpaceTest, HoldByIndexTakesAReferenceOnTheSameTextOnly) {
    int slot = Dup("held");
    const char *canonical = space_.textOf(slot);
    EXPECT_TRUE(space_.holdByIndex(slot, canonical));
    EXPECT_EQ(2, space_.referencesOf(slot));
    char elsewhere[] = "held";  // equal text at another address
    EXPECT_FALSE(space_.holdByIndex(slot, elsewhere));
    EXPECT_FALSE(space_.holdByIndex(slot + 1, canonical));
    EXPECT_FALSE(space_.holdByIndex(-1, canonical));
    EXPECT_EQ(2, space_.referencesOf(slot));
    space_.disposeByIndex(slot);
    space_.disposeByIndex(slot);
    EXPECT_FALSE(space_.holdByIndex(slot, canonical));  // no longer in use
    EXPECT_EQ(0, space_.numberOfStrings());
}

TEST_F(StringSpaceTest, NewHandleForm) {
    char text[] = "ptr";
    char *p = text;
    SSString *handle = nullptr;
    int slot = space_.getCanonical(p, handle, ADOPT_DUPLICATE);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(slot, handle->getSlot());
    delete handle;
    EXPECT_EQ(0, space_.numberOfStrings());
}

TEST_F(StringSpaceTest, HighBytesInternLikeAnyOther) {
    int a = Dup("\x80\xff\xc3\xa9");
    int b = Dup("\x80\xff\xc3\xa9");
    EXPECT_EQ(a, b);
    EXPECT_STREQ("\x80\xff\xc3\xa9", space_.textOf(a));
    EXPECT_NE(a, Dup("\x80\xff\xc3"));
}

TEST_F(StringSpaceTest, EmptySpaceDump) {
    EXPECT_EQ("String space dump:  0 strings\n\nDone\n", Dump(space_));
}

TEST_F(StringSpaceTest, PurgeEmptiesEverything) {
    Dup("a");
    char *owned = strdup("b");
    space_.getCanonical(owned, ADOPT_MALLOC);
    space_.purge();
    EXPECT_EQ(0, space_.numberOfStrings());
    EXPECT_EQ(nullptr, space_.textOf(0));
    EXPECT_EQ(0, Dup("a"));  // a fresh entry in the first slot
    EXPECT_EQ(1, space_.referencesOf(0));
}

TEST_F(StringSpaceTest, StaleReleasesAfterPurgeAreHarmless) {
    char text[] = "x";
    char *p = text;
    SSString stale;
    space_.getCanonical(p, stale, ADOPT_DUPLICATE);
    space_.purge();  // the handle is not told
    SSString fresh;
    space_.getCanonical(p, fresh, ADOPT_DUPLICATE);
    EXPECT_EQ(1, space_.numberOfStrings());
    fresh.dispose();
    stale.dispose();  // slot 0 is no longer in use: nothing to release
    EXPECT_EQ(0, space_.numberOfStrings());
    space_.disposeByIndex(0);
    space_.disposeByIndex(-1);
    space_.disposeByIndex(1000);
    EXPECT_EQ(0, Dup("y"));
}

// Random interning and releasing in both kinds of space, checked against a
// model that knows only "lowest free slot first" and the reference counts:
// every slot handed out, every text found and the dump's last slot agree.
TEST_F(StringSpaceTest, RandomChurnReusesTheLowestFreeSlot) {
    for (bool sensitive : {true, false}) {
        StringSpace space(8, sensitive);
        std::vector<std::string> texts;  // by slot; empty when free
        std::vector<int> references;
        std::mt19937 random(sensitive ? 7 : 8);
        for (int step = 0; step < 6000; step++) {
            std::string text = (random() % 2 ? "k" : "K") + std::to_string(random() % 300);
            std::string key = text;
            for (char &c : key) {
                c = sensitive ? c : static_cast<char>(tolower(c));
            }
            int held = -1;  // the model's slot for this key
            for (size_t s = 0; s < texts.size(); s++) {
                std::string other = texts[s];
                for (char &c : other) {
                    c = sensitive ? c : static_cast<char>(tolower(c));
                }
                if (!texts[s].empty() && other == key) {
                    held = static_cast<int>(s);
                }
            }
            if (held >= 0 && random() % 2 == 0) {
                space.disposeByIndex(held);
                if (--references[held] == 0) {
                    texts[held].clear();
                }
                continue;
            }
            char *p = const_cast<char *>(text.c_str());
            int slot = space.getCanonical(p, ADOPT_DUPLICATE);
            if (held < 0) {
                held = 0;
                while (held < static_cast<int>(texts.size()) && !texts[held].empty()) {
                    held++;
                }
                if (held == static_cast<int>(texts.size())) {
                    texts.emplace_back();
                    references.push_back(0);
                }
                texts[held] = text;
            }
            references[held]++;
            ASSERT_EQ(held, slot) << "step " << step;
            ASSERT_STREQ(texts[held].c_str(), space.textOf(slot));
            ASSERT_EQ(references[held], space.referencesOf(slot));
        }
        int top = static_cast<int>(texts.size()) - 1;
        while (top >= 0 && texts[top].empty()) {
            top--;
        }
        std::string dump = Dump(space);
        char last[32];
        snprintf(last, sizeof last, "#%03d ", top);
        size_t at = dump.rfind('#');
        ASSERT_NE(std::string::npos, at);
        EXPECT_EQ(last, dump.substr(at, strlen(last)));
    }
}

TEST(StringSpaceDeathTest, ACopyTheHeapCannotHoldEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator does not honour the address-space limit";
#else
    // Once the text exists, the address space is capped so that no second
    // copy of it fits: the slot must not be taken without a text.
    EXPECT_EXIT(
        {
            const size_t size = size_t{64} << 20;
            StringSpace space(64, true);
            char *text = static_cast<char *>(malloc(size));
            if (text == nullptr) exit(0);
            memset(text, 'x', size - 1);
            text[size - 1] = '\0';
            struct rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = static_cast<rlim_t>(size + (size >> 1));
            setrlimit(RLIMIT_AS, &limit);
            space.getCanonical(text, ADOPT_DUPLICATE);
        },
        testing::ExitedWithCode(4), "Out of memory");
#endif
}

}  // namespace
