// The members of ListCache and its instantiation for ClassAd. The entries
// live in a List whose built-in cursor does the walking: inserting with the
// cursor before the first entry links the new entry at the end, which keeps
// the most recently inserted or found entry last.
#include "classad/classad_cache.h"

#include <time.h>

#include "core/allocation.h"

namespace {

// now + lifetime, clamped to the signed 64-bit range instead of wrapping.
int64_t expiry_after(int64_t now, long lifetime) {
    int64_t span = lifetime;
    if (span > 0 && now > INT64_MAX - span) {
        return INT64_MAX;
    }
    if (span < 0 && now < INT64_MIN - span) {
        return INT64_MIN;
    }
    return now + span;
}

}  // namespace

int64_t _torvel_list_cache_now() {
    return static_cast<int64_t>(time(nullptr));
}

template <class T>
ListCache<T>::~ListCache() {
    entries_.Rewind();
    ListCacheEntry<T> *entry;
    while ((entry = entries_.Next()) != nullptr) {
        entries_.DeleteCurrent();
        delete entry;
    }
}

template <class T>
void ListCache<T>::append_(ListCacheEntry<T> *entry) {
    entries_.Rewind();
    entries_.Insert(entry);
}

template <class T>
bool ListCache<T>::insert(T *ad, long lifetime) {
    if (ad == nullptr) {
        return false;
    }
    append_(new (torvel::or_die) ListCacheEntry<T>(expiry_after(clock_(), lifetime), *ad));
    if (entries_.Number() < limit_) {
        return true;
    }
    // Full: the entry just linked at the end goes again.
    while (!entries_.AtEnd()) {
        entries_.Next();
    }
    ListCacheEntry<T> *last = entries_.Current();
    entries_.DeleteCurrent();
    delete last;
    // Nothing was cached: saying so lets a caller tell a full cache.
    return false;
}

template <class T>
T *ListCache<T>::find_(T *ad, int (*fits)(T &, T &)) {
    if (ad == nullptr) {
        return nullptr;
    }
    int64_t now = clock_();
    entries_.Rewind();
    ListCacheEntry<T> *entry;
    while ((entry = entries_.Next()) != nullptr) {
        if (entry->expiry < now) {
            entries_.DeleteCurrent();
            delete entry;
            continue;
        }
        if (fits(*ad, entry->object) != 0) {
            entries_.DeleteCurrent();
            append_(entry);
            return &entry->object;
        }
    }
    return nullptr;
}

template <class T>
T *ListCache<T>::lookup(T *ad) {
    return find_(ad, matches_);
}

template <class T>
T *ListCache<T>::lookup_lte(T *ad) {
    return find_(ad, satisfies_);
}

template class ListCache<ClassAd>;
