// ListCache<T>: a short list of copies of ads kept for a limited time, so
// that a later ad can be answered from an earlier one that matches it
// instead of asking again. Each entry owns a copy of the inserted ad and its
// expiry time in seconds since the epoch; expired entries are dropped by the
// lookups that walk past them. Only ListCache<ClassAd> is instantiated (in
// classad_cache.cpp), so other element types do not link.
//
// T needs a copy constructor, `int operator==(T&, T&)` (the two match each
// other) and `int operator<=(T&, T&)` (the right one satisfies the left).
//
// Ownership: insert copies the caller's ad, which stays the caller's. A
// lookup returns a copy owned by the cache, never freed by the caller; it
// stays valid until it leaves the cache (a later lookup finds it expired) or
// the cache is destroyed, which destroys every copy still held.
//
// The clock is a per-cache function so that expiry can be driven without
// waiting; by default it is time(). No process-wide state; not safe for
// concurrent use (matching evaluates expressions).
#ifndef TORVEL_CLASSAD_CLASSAD_CACHE_H_
#define TORVEL_CLASSAD_CLASSAD_CACHE_H_

#include <stdint.h>

#include "classad/class_ad.h"
#include "core/list.h"

// Seconds since the epoch.
typedef int64_t (*ListCacheClock)();

// The default clock: time() as a signed 64-bit count.
int64_t _torvel_list_cache_now();

// One cached copy with its expiry time. Destroying the entry destroys the
// copy.
template <class T>
class ListCacheEntry {
 public:
    ListCacheEntry(int64_t expires, const T &ad) : expiry(expires), object(ad) {}
    ListCacheEntry(const ListCacheEntry &) = delete;
    ListCacheEntry &operator=(const ListCacheEntry &) = delete;

    int64_t expiry;
    T object;
};

template <class T>
class ListCache {
 public:
    // A cache that holds at most limit - 1 entries (none for a limit below
    // 2): an insertion that would reach the limit is dropped again.
    explicit ListCache(int limit) : ListCache(limit, _torvel_list_cache_now) {}
    // The same with another clock. REQUIRES: clock is not null.
    ListCache(int limit, ListCacheClock clock) : limit_(limit), clock_(clock) {}
    // Destroys every entry still held.
    ~ListCache();
    ListCache(const ListCache &) = delete;
    ListCache &operator=(const ListCache &) = delete;

    // Caches a copy of ad that expires lifetime seconds from now: lifetime 0
    // is still found within the same second, a negative lifetime by no
    // lookup. An expiry beyond the 64-bit range is clamped to it.
    // True when the copy was kept; false when the cache is full and the
    // copy was dropped at once, and for a null ad, which is not cached.
    bool insert(T *ad, long lifetime);

    // The first unexpired copy that matches ad both ways (lookup) or that
    // satisfies ad's requirements (lookup_lte), moved behind all the other
    // entries; null when none fits or ad is null. Owned by the cache.
    T *lookup(T *ad);
    T *lookup_lte(T *ad);

    // Entries held, expired ones not yet dropped included.
    int Number() const { return entries_.Number(); }

 private:
    // Walks from the first entry, dropping expired ones, and returns the
    // copy of the first entry for which fits(*ad, copy) is non-zero.
    T *find_(T *ad, int (*fits)(T &, T &));
    // Links entry at the end, with the list's cursor before the first.
    void append_(ListCacheEntry<T> *entry);
    static int matches_(T &ad, T &copy) { return ad == copy; }
    static int satisfies_(T &ad, T &copy) { return ad <= copy; }

    List<ListCacheEntry<T>> entries_;
    const int limit_;
    const ListCacheClock clock_;
};

// The members are defined once, in classad_cache.cpp.
extern template class ListCache<ClassAd>;

#endif  // TORVEL_CLASSAD_CLASSAD_CACHE_H_
