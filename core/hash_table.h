// HashTable<Index, Value>: a chained hash table of fixed size with one
// built-in iteration cursor, and its chain element HashBucket. The bucket
// count is chosen once, at construction, as a prime near the requested size;
// the table never rehashes. A side array (chainsUsed) lists the non-empty
// chains so that iteration costs in proportion to the chains in use.
//
// Keys and values are stored by copy; a pointer value is copied as a pointer
// and what it points to stays the caller's. Results are 0 for success and -1
// for failure. Elements may be removed while iterating, including the one
// just returned; a chain that becomes non-empty during an iteration is always
// placed ahead of the cursor, so it is visited.
//
// Also declares the hash functions for integer keys. Not safe for concurrent
// use; the cursor makes iteration non-reentrant.
#ifndef TORVEL_CORE_HASH_TABLE_H_
#define TORVEL_CORE_HASH_TABLE_H_

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>

#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

// Bucket index of an integer key: the key as an unsigned 32-bit number,
// modulo buckets. REQUIRES: buckets > 0.
int hashFunction(const int &key, int buckets);
int hashFunction(const unsigned int &key, int buckets);

// What insert does with a key that is already present.
enum duplicateKeyBehavior_t {
    DUPLICATES_KEPT = 0,           // a second element with that key is added
    DUPLICATES_REFUSED = 1,        // the insert fails
    DUPLICATES_REPLACE_VALUE = 2,  // the stored value of the key is replaced
};

template <class Index, class Value>
struct HashBucket {
    Index key;
    Value value;
    HashBucket *next;
};

// Number of chains for a requested size: 5 for 0 or less, 1 .. 5 unchanged,
// otherwise the first prime among size .. size+34 (size itself if none).
int _torvel_hash_table_size(int size);

template <class Index, class Value>
class HashTable {
 public:
    // Gives the chain of a key; must return 0 .. bucketCount-1.
    typedef int (*HashFunction)(const Index &key, int bucketCount);

    // REQUIRES: hashfcn is not null (a null one ends the program).
    HashTable(int size, HashFunction hashfcn, duplicateKeyBehavior_t duplicates = DUPLICATES_KEPT);
    // Deep copies; an iteration in progress continues identically in the copy.
    HashTable(const HashTable &other);
    HashTable &operator=(const HashTable &other);
    ~HashTable();

    int insert(const Index &key, const Value &value);
    // The newest element with an equal key.
    int lookup(const Index &key, Value &value) const;
    // A pointer to the stored value, valid until that element is removed.
    int lookup(const Index &key, Value *&value);
    // Removes the newest element with an equal key.
    int remove(const Index &key);
    // Walks the elements stored under one key, newest first: pass null as
    // `previous` to start, then the `position` the last call gave.
    int getNext(const Index &key, void *previous, Value &value, void *&position) const;

    int getNumElements() const { return elementCount; }
    int getTableSize() const { return bucketCount; }

    // Frees every element and ends any iteration.
    void clear();

    void startIterations();
    // 1 while an element is returned, 0 at the end (the cursor then goes back
    // before the first).
    int iterate(Value &value);
    int iterate(Index &key, Value &value);
    // The key of the element last returned by iterate; -1 when there is none.
    int getCurrentKey(Index &key) const;

    // Calls fn for every value, chain 0 first and each chain from its head;
    // returns 0 as soon as fn does, else 1.
    int walk(int (*fn)(Value));

 private:
    typedef HashBucket<Index, Value> Bucket;

    void allocateArrays_();
    void copyFrom_(const HashTable &other);
    void freeBuckets_();
    // Index of the chain a key belongs to, or -1 when hashfcn is out of range.
    int chainOf_(const Index &key) const;
    const Bucket *advance_();
    void claimSlot_(int chain);
    int slotAheadOfCursor_();
    void releaseSlot_(int chain);

    int bucketCount;
    Bucket **chains;
    HashFunction hashfcn;
    duplicateKeyBehavior_t duplicates;
    int cursorSlot;
    Bucket *cursorItem;
    int *chainsUsed;
    int chainsUsedCount;
    int elementCount;
    int freeSlotHead;
    int freeListEnd;
};

template <class Index, class Value>
HashTable<Index, Value>::HashTable(int size, HashFunction hashfcn,
                                   duplicateKeyBehavior_t duplicates)
    : bucketCount(0),
      chains(nullptr),
      hashfcn(hashfcn),
      duplicates(duplicates),
      cursorSlot(-1),
      cursorItem(nullptr),
      chainsUsed(nullptr),
      chainsUsedCount(0),
      elementCount(0),
      freeSlotHead(0),
      freeListEnd(0) {
    if (hashfcn == 0) {
        _EXCEPT_Line = __LINE__;
        _EXCEPT_File = "HashTable";
        _EXCEPT_Errno = errno;
        _EXCEPT_("Assertion ERROR on (%s)", "hashfcn != 0");
    }
    bucketCount = _torvel_hash_table_size(size);
    allocateArrays_();
    freeListEnd = -bucketCount - 10;
    freeSlotHead = freeListEnd;
}

template <class Index, class Value>
void HashTable<Index, Value>::allocateArrays_() {
    chains = new (std::nothrow) Bucket *[bucketCount]();
    if (chains == nullptr) {
        fputs("Insufficient memory for hash table\n", stderr);
        exit(1);
    }
    chainsUsed = new (std::nothrow) int[bucketCount];
    if (chainsUsed == nullptr) {
        fputs("Insufficient memory for hash table (chainsUsed array)\n", stderr);
        exit(1);
    }
    for (int i = 0; i < bucketCount; i++) {
        chainsUsed[i] = -1;
    }
}

template <class Index, class Value>
HashTable<Index, Value>::HashTable(const HashTable &other)
    : bucketCount(0),
      chains(nullptr),
      hashfcn(nullptr),
      duplicates(DUPLICATES_KEPT),
      cursorSlot(-1),
      cursorItem(nullptr),
      chainsUsed(nullptr),
      chainsUsedCount(0),
      elementCount(0),
      freeSlotHead(0),
      freeListEnd(0) {
    copyFrom_(other);
}

template <class Index, class Value>
HashTable<Index, Value> &HashTable<Index, Value>::operator=(const HashTable &other) {
    if (this == &other) {
        return *this;
    }
    clear();
    delete[] chains;
    delete[] chainsUsed;
    chains = nullptr;
    chainsUsed = nullptr;
    copyFrom_(other);
    return *this;
}

// REQUIRES: this table holds no buckets and no arrays.
template <class Index, class Value>
void HashTable<Index, Value>::copyFrom_(const HashTable &other) {
    bucketCount = other.bucketCount;
    allocateArrays_();
    cursorItem = nullptr;
    for (int c = 0; c < bucketCount; c++) {
        Bucket **tail = &chains[c];
        for (const Bucket *b = other.chains[c]; b != nullptr; b = b->next) {
            Bucket *copy = new (std::nothrow) Bucket{b->key, b->value, nullptr};
            if (copy == nullptr) {
                fputs("Insufficient memory for hash table\n", stderr);
                exit(1);
            }
            if (b == other.cursorItem) {
                cursorItem = copy;
            }
            *tail = copy;
            tail = &copy->next;
        }
    }
    for (int i = 0; i < bucketCount; i++) {
        chainsUsed[i] = other.chainsUsed[i];
    }
    cursorSlot = other.cursorSlot;
    chainsUsedCount = other.chainsUsedCount;
    elementCount = other.elementCount;
    freeSlotHead = other.freeSlotHead;
    freeListEnd = other.freeListEnd;
    hashfcn = other.hashfcn;
    duplicates = other.duplicates;
}

template <class Index, class Value>
HashTable<Index, Value>::~HashTable() {
    clear();
    delete[] chains;
    delete[] chainsUsed;
}

template <class Index, class Value>
int HashTable<Index, Value>::chainOf_(const Index &key) const {
    int c = hashfcn(key, bucketCount);
    return c >= 0 && c < bucketCount ? c : -1;
}

template <class Index, class Value>
int HashTable<Index, Value>::insert(const Index &key, const Value &value) {
    int c = hashfcn(key, bucketCount);
    if (c < 0 || c >= bucketCount) {
        dprintf(D_ALWAYS, "hashfcn() is broken (returned %d when tablesize = %d)!\n", c,
                bucketCount);
        return -1;
    }
    if (duplicates == DUPLICATES_REFUSED || duplicates == DUPLICATES_REPLACE_VALUE) {
        for (Bucket *b = chains[c]; b != nullptr; b = b->next) {
            if (b->key == key) {
                if (duplicates == DUPLICATES_REFUSED) {
                    return -1;
                }
                b->value = value;
                return 0;
            }
        }
    }
    Bucket *bucket = new (std::nothrow) Bucket{key, value, chains[c]};
    if (bucket == nullptr) {
        fputs("Insufficient memory\n", stderr);
        return -1;
    }
    bool wasEmpty = chains[c] == nullptr;
    chains[c] = bucket;
    if (wasEmpty) {
        claimSlot_(c);
    }
    elementCount++;
    return 0;
}

// Gives a chain that just became non-empty a slot of chainsUsed: the most
// recently freed slot, or the next unused one. During an iteration the slot
// must lie ahead of the cursor, or the chain's elements would be skipped.
template <class Index, class Value>
void HashTable<Index, Value>::claimSlot_(int chain) {
    int slot;
    if (freeSlotHead == freeListEnd) {
        slot = chainsUsedCount++;
    } else if (freeSlotHead + bucketCount > cursorSlot) {
        slot = freeSlotHead + bucketCount;
        freeSlotHead = chainsUsed[slot];
    } else {
        slot = slotAheadOfCursor_();
    }
    chainsUsed[slot] = chain;
}

// The free list's head lies at or behind the cursor. Takes a freed slot
// ahead of it, else an unused one; when neither exists (every slot is taken
// and all freed ones are behind), frees the place just after the cursor by
// sliding the entries between the head slot and the cursor down one and
// stepping the cursor back with them.
template <class Index, class Value>
int HashTable<Index, Value>::slotAheadOfCursor_() {
    int previous = -1;
    for (int link = freeSlotHead; link != freeListEnd; link = chainsUsed[link + bucketCount]) {
        int slot = link + bucketCount;
        if (slot > cursorSlot) {
            if (previous < 0) {
                freeSlotHead = chainsUsed[slot];
            } else {
                chainsUsed[previous] = chainsUsed[slot];
            }
            return slot;
        }
        previous = slot;
    }
    if (chainsUsedCount < bucketCount) {
        return chainsUsedCount++;
    }
    int freed = freeSlotHead + bucketCount;
    for (int i = freed; i < cursorSlot; i++) {
        chainsUsed[i] = chainsUsed[i + 1];
    }
    int slot = cursorSlot--;
    chainsUsed[slot] = -1;
    // The slide moved freed slots, so their links are rebuilt from scratch.
    freeSlotHead = freeListEnd;
    for (int i = chainsUsedCount - 1; i >= 0; i--) {
        if (chainsUsed[i] < 0 && i != slot) {
            chainsUsed[i] = freeSlotHead;
            freeSlotHead = i - bucketCount;
        }
    }
    return slot;
}

// Puts the slot of a chain that just became empty on the free list.
template <class Index, class Value>
void HashTable<Index, Value>::releaseSlot_(int chain) {
    for (int i = 0; i < chainsUsedCount; i++) {
        if (chainsUsed[i] == chain) {
            chainsUsed[i] = freeSlotHead;
            freeSlotHead = i - bucketCount;
            return;
        }
    }
}

template <class Index, class Value>
int HashTable<Index, Value>::lookup(const Index &key, Value &value) const {
    int c = chainOf_(key);
    if (c < 0) {
        return -1;
    }
    for (const Bucket *b = chains[c]; b != nullptr; b = b->next) {
        if (b->key == key) {
            value = b->value;
            return 0;
        }
    }
    return -1;
}

template <class Index, class Value>
int HashTable<Index, Value>::lookup(const Index &key, Value *&value) {
    int c = chainOf_(key);
    if (c < 0) {
        return -1;
    }
    for (Bucket *b = chains[c]; b != nullptr; b = b->next) {
        if (b->key == key) {
            value = &b->value;
            return 0;
        }
    }
    return -1;
}

template <class Index, class Value>
int HashTable<Index, Value>::remove(const Index &key) {
    int c = chainOf_(key);
    if (c < 0) {
        return -1;
    }
    Bucket *before = nullptr;
    Bucket *b = chains[c];
    while (b != nullptr && !(b->key == key)) {
        before = b;
        b = b->next;
    }
    if (b == nullptr) {
        return -1;
    }
    if (before == nullptr) {
        chains[c] = b->next;
    } else {
        before->next = b->next;
    }
    if (b == cursorItem) {
        // Step back so the next iterate resumes with what followed.
        if (before == nullptr) {
            cursorItem = nullptr;
            cursorSlot--;
        } else {
            cursorItem = before;
        }
    }
    delete b;
    if (chains[c] == nullptr) {
        releaseSlot_(c);
    }
    elementCount--;
    return 0;
}

template <class Index, class Value>
int HashTable<Index, Value>::getNext(const Index &key, void *previous, Value &value,
                                     void *&position) const {
    const Bucket *b;
    if (previous != nullptr) {
        b = static_cast<const Bucket *>(previous)->next;
    } else {
        int c = chainOf_(key);
        if (c < 0) {
            return -1;
        }
        b = chains[c];
    }
    for (; b != nullptr; b = b->next) {
        if (b->key == key) {
            value = b->value;
            position = const_cast<Bucket *>(b);
            return 0;
        }
    }
    return -1;
}

template <class Index, class Value>
void HashTable<Index, Value>::freeBuckets_() {
    for (int c = 0; c < bucketCount; c++) {
        Bucket *b = chains[c];
        while (b != nullptr) {
            Bucket *next = b->next;
            delete b;
            b = next;
        }
        chains[c] = nullptr;
    }
}

template <class Index, class Value>
void HashTable<Index, Value>::clear() {
    freeBuckets_();
    for (int i = 0; i < chainsUsedCount; i++) {
        chainsUsed[i] = -1;
    }
    chainsUsedCount = 0;
    freeSlotHead = freeListEnd;
    elementCount = 0;
    cursorSlot = -1;
    cursorItem = nullptr;
}

// Ends any iteration and packs the live slots of chainsUsed together by
// moving live entries from the end into the freed places.
template <class Index, class Value>
void HashTable<Index, Value>::startIterations() {
    cursorSlot = -1;
    cursorItem = nullptr;
    while (freeSlotHead != freeListEnd) {
        int freed = freeSlotHead + bucketCount;
        freeSlotHead = chainsUsed[freed];
        chainsUsed[freed] = -1;
        if (freed >= chainsUsedCount) {
            continue;  // already dropped off the end
        }
        // Freed slots met at the end are dropped; their links stay readable
        // beyond the count until they are popped in turn.
        while (chainsUsedCount - 1 > freed && chainsUsed[chainsUsedCount - 1] < 0) {
            chainsUsedCount--;
        }
        if (chainsUsedCount - 1 > freed) {
            chainsUsed[freed] = chainsUsed[chainsUsedCount - 1];
            chainsUsed[chainsUsedCount - 1] = -1;
        }
        chainsUsedCount--;
    }
}

// Moves the cursor to the next element; null (and the cursor reset) at the end.
template <class Index, class Value>
const HashBucket<Index, Value> *HashTable<Index, Value>::advance_() {
    if (cursorItem != nullptr && cursorItem->next != nullptr) {
        cursorItem = cursorItem->next;
        return cursorItem;
    }
    for (cursorSlot++; cursorSlot < chainsUsedCount; cursorSlot++) {
        int c = chainsUsed[cursorSlot];
        if (c >= 0 && chains[c] != nullptr) {
            cursorItem = chains[c];
            return cursorItem;
        }
    }
    cursorSlot = -1;
    cursorItem = nullptr;
    return nullptr;
}

template <class Index, class Value>
int HashTable<Index, Value>::iterate(Value &value) {
    const Bucket *b = advance_();
    if (b == nullptr) {
        return 0;
    }
    value = b->value;
    return 1;
}

template <class Index, class Value>
int HashTable<Index, Value>::iterate(Index &key, Value &value) {
    const Bucket *b = advance_();
    if (b == nullptr) {
        return 0;
    }
    key = b->key;
    value = b->value;
    return 1;
}

template <class Index, class Value>
int HashTable<Index, Value>::getCurrentKey(Index &key) const {
    if (cursorItem == nullptr) {
        return -1;
    }
    key = cursorItem->key;
    return 0;
}

template <class Index, class Value>
int HashTable<Index, Value>::walk(int (*fn)(Value)) {
    for (int c = 0; c < bucketCount; c++) {
        for (Bucket *b = chains[c]; b != nullptr; b = b->next) {
            if (fn(b->value) == 0) {
                return 0;
            }
        }
    }
    return 1;
}

#endif  // TORVEL_CORE_HASH_TABLE_H_
