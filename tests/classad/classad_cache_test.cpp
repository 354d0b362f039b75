// Tests of ListCache<ClassAd>: the bound on its length, expiry driven by a
// test clock, two-way and one-way lookups, the move of a hit behind the
// other entries, and who owns the cached copies.
#include "classad/classad_cache.h"

#include <limits.h>
#include <stdint.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace {

int64_t g_now = 1000000;

int64_t TestNow() {
    return g_now;
}

typedef std::unique_ptr<ClassAd> AdPtr;

AdPtr Ad(const char *my_type, const char *target_type,
         std::initializer_list<const char *> assignments) {
    AdPtr ad(new ClassAd);
    ad->SetMyTypeName(my_type);
    ad->SetTargetTypeName(target_type);
    for (const char *a : assignments) {
        EXPECT_TRUE(ad->Insert(a, true)) << a;
    }
    return ad;
}

// A machine with that much memory that takes any job.
AdPtr Machine(int memory) {
    std::string line = "Memory = " + std::to_string(memory);
    return Ad("Machine", "Job", {line.c_str(), "Requirements = TRUE"});
}

// A job that needs at least that much memory.
AdPtr Job(int memory) {
    std::string line = "Requirements = TARGET.Memory >= " + std::to_string(memory);
    return Ad("Job", "Machine", {line.c_str()});
}

// The Memory of a found ad; -1 for none.
int MemoryOf(const ClassAd *ad) {
    int value = -1;
    if (ad != nullptr) {
        EXPECT_EQ(1, ad->LookupInteger("Memory", value));
    }
    return value;
}

class ListCacheTest : public testing::Test {
 protected:
    void SetUp() override { g_now = 1000000; }
};

TEST_F(ListCacheTest, HoldsOneFewerThanItsLimitKeepingTheFirst) {
    ListCache<ClassAd> cache(3, TestNow);
    EXPECT_TRUE(cache.insert(Machine(100).get(), 60));
    EXPECT_TRUE(cache.insert(Machine(200).get(), 60));
    EXPECT_FALSE(cache.insert(Machine(300).get(), 60));  // dropped again
    EXPECT_EQ(2, cache.Number());
    EXPECT_EQ(100, MemoryOf(cache.lookup(Job(100).get())));
    EXPECT_EQ(200, MemoryOf(cache.lookup(Job(150).get())));
    EXPECT_EQ(nullptr, cache.lookup(Job(250).get()));

    // A full cache stays full: hits move entries but nothing new gets in.
    EXPECT_FALSE(cache.insert(Machine(400).get(), 60));
    EXPECT_EQ(2, cache.Number());
    EXPECT_EQ(nullptr, cache.lookup(Job(350).get()));

    for (int limit : {1, 0, -5}) {
        ListCache<ClassAd> none(limit, TestNow);
        EXPECT_FALSE(none.insert(Machine(100).get(), 60)) << limit;
        EXPECT_EQ(0, none.Number()) << limit;
        EXPECT_EQ(nullptr, none.lookup(Job(1).get())) << limit;
    }
}

TEST_F(ListCacheTest, LifetimeZeroLastsTheSecondOfInsertion) {
    ListCache<ClassAd> cache(10, TestNow);
    cache.insert(Machine(100).get(), 0);
    EXPECT_NE(nullptr, cache.lookup(Job(64).get()));
    EXPECT_NE(nullptr, cache.lookup(Job(64).get()));
    g_now += 1;
    EXPECT_EQ(nullptr, cache.lookup(Job(64).get()));
    EXPECT_EQ(0, cache.Number());

    cache.insert(Machine(100).get(), 5);
    g_now += 5;
    EXPECT_NE(nullptr, cache.lookup_lte(Job(64).get()));
    g_now += 1;
    EXPECT_EQ(nullptr, cache.lookup_lte(Job(64).get()));
    EXPECT_EQ(0, cache.Number());

    cache.insert(Machine(100).get(), -1);  // already past
    EXPECT_EQ(nullptr, cache.lookup(Job(64).get()));
    EXPECT_EQ(0, cache.Number());
}

TEST_F(ListCacheTest, LookupsDropExpiredEntriesTheyWalkPast) {
    ListCache<ClassAd> cache(10, TestNow);
    cache.insert(Machine(10).get(), 1);  // expires first
    cache.insert(Machine(100).get(), 9);
    cache.insert(Machine(20).get(), 1);  // behind the hit: not reached
    g_now += 2;
    EXPECT_EQ(100, MemoryOf(cache.lookup(Job(64).get())));
    EXPECT_EQ(2, cache.Number());

    // A miss walks the whole list and drops every expired entry.
    EXPECT_EQ(nullptr, cache.lookup(Job(500).get()));
    EXPECT_EQ(1, cache.Number());

    // Expiry frees room in a full cache.
    ListCache<ClassAd> small(2, TestNow);
    small.insert(Machine(10).get(), 1);
    small.insert(Machine(20).get(), 100);
    EXPECT_EQ(1, small.Number());
    g_now += 2;
    EXPECT_EQ(nullptr, small.lookup(Job(5).get()));
    small.insert(Machine(30).get(), 100);
    EXPECT_EQ(30, MemoryOf(small.lookup(Job(5).get())));
}

TEST_F(ListCacheTest, ExpiryBeyondTheClockRangeNeverWraps) {
    g_now = INT64_MAX - 10;
    ListCache<ClassAd> cache(10, TestNow);
    cache.insert(Machine(100).get(), LONG_MAX);
    g_now = INT64_MAX;
    EXPECT_NE(nullptr, cache.lookup(Job(64).get()));

    g_now = INT64_MIN + 10;
    cache.insert(Machine(200).get(), LONG_MIN);  // clamped, so already past
    EXPECT_EQ(nullptr, cache.lookup_lte(Job(150).get()));
    EXPECT_EQ(1, cache.Number());
}

TEST_F(ListCacheTest, LookupNeedsBothWaysLookupLteOnlyTheCopy) {
    ListCache<ClassAd> cache(10, TestNow);
    // Satisfies the job but refuses every job itself.
    AdPtr picky = Ad("Machine", "Job", {"Memory = 128", "Requirements = FALSE"});
    cache.insert(picky.get(), 60);
    EXPECT_EQ(nullptr, cache.lookup(Job(64).get()));
    EXPECT_EQ(128, MemoryOf(cache.lookup_lte(Job(64).get())));
    EXPECT_EQ(nullptr, cache.lookup_lte(Job(256).get()));
}

TEST_F(ListCacheTest, HitMovesBehindTheOthers) {
    ListCache<ClassAd> cache(10, TestNow);
    cache.insert(Machine(100).get(), 60);
    cache.insert(Machine(200).get(), 60);
    cache.insert(Machine(300).get(), 60);
    AdPtr any = Job(1);
    EXPECT_EQ(100, MemoryOf(cache.lookup(any.get())));
    EXPECT_EQ(200, MemoryOf(cache.lookup(any.get())));
    EXPECT_EQ(300, MemoryOf(cache.lookup_lte(any.get())));
    EXPECT_EQ(100, MemoryOf(cache.lookup_lte(any.get())));
    // A hit past the first entry moves only itself: 200 and 100 keep order.
    EXPECT_EQ(300, MemoryOf(cache.lookup(Job(250).get())));
    EXPECT_EQ(200, MemoryOf(cache.lookup(any.get())));
    EXPECT_EQ(100, MemoryOf(cache.lookup(any.get())));
    EXPECT_EQ(3, cache.Number());
}

TEST_F(ListCacheTest, CacheOwnsItsCopies) {
    ListCache<ClassAd> cache(10, TestNow);
    AdPtr original = Machine(100);
    cache.insert(original.get(), 60);
    original->Insert("Memory = 1", true);  // the copy is unaffected
    AdPtr job = Job(64);
    ClassAd *found = cache.lookup(job.get());
    EXPECT_NE(original.get(), found);
    EXPECT_EQ(100, MemoryOf(found));
    original.reset();  // the caller frees its ad; the copy lives on

    // The same copy comes back after moving, and never the caller's probe.
    cache.insert(Machine(200).get(), 60);
    EXPECT_EQ(found, cache.lookup(job.get()));
    EXPECT_EQ(200, MemoryOf(cache.lookup(job.get())));
    EXPECT_EQ(found, cache.lookup(job.get()));
    // Entries still held go with the cache (the leak checker sees it).
}

TEST_F(ListCacheTest, NullAdsAreRefused) {
    ListCache<ClassAd> cache(10, TestNow);
    EXPECT_FALSE(cache.insert(nullptr, 60));
    EXPECT_EQ(0, cache.Number());
    cache.insert(Machine(100).get(), 60);
    EXPECT_EQ(nullptr, cache.lookup(nullptr));
    EXPECT_EQ(nullptr, cache.lookup_lte(nullptr));
    EXPECT_EQ(1, cache.Number());
}

TEST_F(ListCacheTest, DefaultClockIsTheSystemTime) {
    ListCache<ClassAd> cache(10);
    cache.insert(Machine(200).get(), -3600);  // an hour past: dropped
    cache.insert(Machine(100).get(), 3600);
    EXPECT_EQ(100, MemoryOf(cache.lookup_lte(Job(64).get())));
    EXPECT_EQ(1, cache.Number());
}

}  // namespace
