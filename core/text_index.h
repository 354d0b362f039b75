// TextIndex<Value, kEmpty>: a hash index from texts to small values (a
// pointer, a slot number) that grows with its contents, and the text hash it
// is used with. Open addressing with linear probing: the table holds at most
// three quarters of its slots and doubles when it would hold more (a table
// that will mostly be read may be filled, or compacted, to seven eighths);
// the block last freed is kept for the next table of its size; removal
// shifts later entries back instead of leaving markers, so lookups never
// slow down with churn. The hashes lie in an array of their own, beside the
// values: a probe reads four bytes a slot, and a slot costs four bytes more
// than its value, with no padding.
//
// The index keeps each value with the hash of its key, not the key itself:
// the caller compares candidates with a predicate of its own, so one index
// serves exact and case-blind keys alike, and the key text stays where its
// owner keeps it. kEmpty is a value never stored (null, -1).
//
// Allocation failure of the slot array ends the process through the
// fatal-error path (core/allocation.h). Not safe for concurrent use.
#ifndef TORVEL_CORE_TEXT_INDEX_H_
#define TORVEL_CORE_TEXT_INDEX_H_

#include <stddef.h>
#include <stdint.h>

#include "core/allocation.h"

// A 32-bit hash of text, well mixed in every bit. With fold, the ASCII
// letters A-Z hash as a-z, so texts equal under strcasecmp (in the C locale)
// hash alike. REQUIRES: text is not null.
uint32_t _torvel_text_hash(const char *text, bool fold);
// The same for the n bytes at text, for a caller that knows the length:
// equal to _torvel_text_hash of those bytes NUL-terminated.
uint32_t _torvel_text_hash_n(const char *text, size_t n, bool fold);

template <class Value, Value kEmpty>
class TextIndex {
 public:
    TextIndex()
        : hashes_(inlineHashes_),
          values_(inlineValues_),
          mask_(kInline - 1),
          count_(0),
          growAt_(limit_(kInline, 3, 4)) {
        emptyInline_();
    }
    ~TextIndex() { release_(); }
    TextIndex(const TextIndex &) = delete;
    TextIndex &operator=(const TextIndex &) = delete;

    // The stored value under hash whose key matches(value) accepts, as a
    // pointer into the index (valid until the next insert or erase, and
    // writable, to put another value of the same key in its place); null
    // when there is none.
    template <class Match>
    Value *find(uint32_t hash, Match matches) const {
        const uint32_t stored = stored_(hash);
        for (uint32_t i = stored & mask_;; i = (i + 1) & mask_) {
            const uint32_t h = hashes_[i];
            if (h == stored && matches(values_[i])) {
                return &values_[i];
            }
            if (h == kFree) {
                return nullptr;
            }
        }
    }

    // Adds value under hash. REQUIRES: value != kEmpty; no value with an
    // equal key is stored (the caller looks first).
    void insert(uint32_t hash, Value value) {
        if (count_ + 1 > growAt_) {
            grow_();
        }
        place_(stored_(hash), value);
        count_++;
    }

    // Removes the value under hash whose key matches; whether there was one.
    template <class Match>
    bool erase(uint32_t hash, Match matches) {
        Value *found = find(hash, matches);
        if (found == nullptr) {
            return false;
        }
        removeAt_(static_cast<uint32_t>(found - values_));
        count_--;
        return true;
    }

    // Forgets every value and frees the table.
    void clear() {
        release_();
        hashes_ = inlineHashes_;
        values_ = inlineValues_;
        emptyInline_();
        mask_ = kInline - 1;
        count_ = 0;
        growAt_ = limit_(kInline, 3, 4);
    }

    void swap(TextIndex &other) {
        // The inline slots stay with their index: their contents move.
        const bool heap = hashes_ != inlineHashes_;
        const bool other_heap = other.hashes_ != other.inlineHashes_;
        uint32_t *hashes = hashes_;
        Value *values = values_;
        for (uint32_t i = 0; i < kInline; i++) {
            exchange_(inlineHashes_[i], other.inlineHashes_[i]);
            exchange_(inlineValues_[i], other.inlineValues_[i]);
        }
        hashes_ = other_heap ? other.hashes_ : inlineHashes_;
        values_ = other_heap ? other.values_ : inlineValues_;
        other.hashes_ = heap ? hashes : other.inlineHashes_;
        other.values_ = heap ? values : other.inlineValues_;
        exchange_(mask_, other.mask_);
        exchange_(count_, other.count_);
        exchange_(growAt_, other.growAt_);
    }

    uint32_t size() const { return count_; }

    // Makes room for n values in all without growing again.
    void reserve(uint32_t n) {
        if (n > growAt_) {
            rehash_(capacity_for_(n, 3, 4), 3, 4);
        }
    }
    // Makes room for n values filled to at most seven eighths, as compact
    // would leave them, for a table about to be filled and then mostly
    // read: it is then not built twice. Inserts fill the room to seven
    // eighths before it grows.
    void reserveToRead(uint32_t n) {
        uint32_t capacity = capacity_for_(n, 7, 8);
        if (capacity > capacity_()) {
            rehash_(capacity, 7, 8);
        } else {
            growAt_ = limit_(capacity_(), 7, 8);  // never below what it was
        }
    }
    // Gives back the room beyond what the values held need, when the
    // table is more than twice as large as that.
    void fit() {
        uint32_t capacity = capacity_for_(count_, 3, 4);
        if (!isInline_() && capacity * 2 < capacity_()) {
            rehash_(capacity, 3, 4);
        }
    }
    // Gives back every slot a table seven eighths full would not need: for
    // a table that will mostly be read from now on (lookups probe a few
    // slots more; the next insert grows it back).
    void compact() {
        uint32_t capacity = capacity_for_(count_, 7, 8);
        if (!isInline_() && capacity < capacity_()) {
            rehash_(capacity, 3, 4);
        } else {
            growAt_ = limit_(capacity_(), 3, 4);  // the next insert grows it back
        }
    }

 private:
    // A small index keeps its slots inside itself: its lookups go from the
    // owner straight to a slot, without a separate table to reach.
    static const uint32_t kInline = 8;
    // The largest block kept for reuse, in slots.
    static const uint32_t kLargestSpare = 4096;
    // The stored hash of a free slot; a hash of 0 is stored as 1.
    static const uint32_t kFree = 0;

    static uint32_t stored_(uint32_t hash) { return hash != kFree ? hash : 1; }
    template <class T>
    static void exchange_(T &a, T &b) {
        T t = a;
        a = b;
        b = t;
    }

    uint32_t capacity_() const { return mask_ + 1; }
    bool isInline_() const { return hashes_ == inlineHashes_; }

    void emptyInline_() {
        for (uint32_t i = 0; i < kInline; i++) {
            inlineHashes_[i] = kFree;
            inlineValues_[i] = kEmpty;
        }
    }

    void release_() {
        if (!isInline_()) {
            freeBlock_(reinterpret_cast<char *>(values_), capacity_());
        }
    }
    // A block of capacity slots: the one last freed, when it has that size
    // (a program that reads ad after ad, dropping each, builds the same
    // table each time), else a new one.
    static char *takeBlock_(uint32_t capacity) {
        if (spareBlock_ != nullptr && spareCapacity_ == capacity) {
            char *block = spareBlock_;
            spareBlock_ = nullptr;
            return block;
        }
        return new (torvel::or_die) char[capacity * (sizeof(Value) + sizeof(uint32_t))];
    }
    // Keeps block as the spare in place of the last (reachable for the
    // whole run) unless it is large, which is freed.
    static void freeBlock_(char *block, uint32_t capacity) {
        if (capacity > kLargestSpare) {
            delete[] block;
            return;
        }
        delete[] spareBlock_;
        spareBlock_ = block;
        spareCapacity_ = capacity;
    }

    // Stores value in the first free slot from its home. REQUIRES: a free
    // slot; stored is stored_() of the hash.
    void place_(uint32_t stored, Value value) {
        uint32_t i = stored & mask_;
        while (hashes_[i] != kFree) {
            i = (i + 1) & mask_;
        }
        hashes_[i] = stored;
        values_[i] = value;
    }

    void grow_() { rehash_(capacity_() * 2, 3, 4); }
    // The most values capacity slots hold filled to numerator/denominator.
    static uint32_t limit_(uint32_t capacity, uint32_t numerator, uint32_t denominator) {
        return capacity / denominator * numerator;
    }

    // The smallest capacity, at least the inline one, that holds n values
    // filled to at most numerator/denominator.
    static uint32_t capacity_for_(uint32_t n, uint32_t numerator, uint32_t denominator) {
        uint32_t capacity = kInline;
        while (n * denominator > capacity * numerator) {
            capacity *= 2;
        }
        return capacity;
    }

    // Moves every value to a table of capacity slots (the inline slots when
    // capacity is theirs), which then grows beyond numerator/denominator
    // full. REQUIRES: capacity holds count_ values so filled.
    void rehash_(uint32_t capacity, uint32_t numerator, uint32_t denominator) {
        static_assert(alignof(Value) >= alignof(uint32_t), "the hashes follow the values");
        uint32_t *old_hashes = hashes_;
        Value *old_values = values_;
        const bool was_inline = isInline_();
        const uint32_t old_capacity = capacity_();
        uint32_t inline_hashes[kInline];
        Value inline_values[kInline];
        if (was_inline) {
            // The inline slots may be reused below: their values move first.
            for (uint32_t i = 0; i < kInline; i++) {
                inline_hashes[i] = inlineHashes_[i];
                inline_values[i] = inlineValues_[i];
            }
            old_hashes = inline_hashes;
            old_values = inline_values;
        }
        if (capacity == kInline) {
            hashes_ = inlineHashes_;
            values_ = inlineValues_;
        } else {
            // One block: the values, then the hashes.
            char *block = takeBlock_(capacity);
            values_ = reinterpret_cast<Value *>(block);
            hashes_ = reinterpret_cast<uint32_t *>(block + capacity * sizeof(Value));
        }
        mask_ = capacity - 1;
        growAt_ = limit_(capacity, numerator, denominator);
        for (uint32_t i = 0; i < capacity; i++) {
            hashes_[i] = kFree;
            values_[i] = kEmpty;
        }
        for (uint32_t i = 0; i < old_capacity; i++) {
            if (old_hashes[i] != kFree) {
                place_(old_hashes[i], old_values[i]);
            }
        }
        if (!was_inline) {
            freeBlock_(reinterpret_cast<char *>(old_values), old_capacity);
        }
    }

    // Empties slot hole, then moves back every later entry of the same run
    // that may not stay behind the hole (its home lies at or before it,
    // cyclically), so that every entry stays reachable from its home.
    void removeAt_(uint32_t hole) {
        for (uint32_t i = (hole + 1) & mask_; hashes_[i] != kFree; i = (i + 1) & mask_) {
            uint32_t home = hashes_[i] & mask_;
            // Distances from home: the entry may move to hole when hole is
            // no further from home than i is.
            if (((hole - home) & mask_) < ((i - home) & mask_)) {
                hashes_[hole] = hashes_[i];
                values_[hole] = values_[i];
                hole = i;
            }
        }
        hashes_[hole] = kFree;
        values_[hole] = kEmpty;
    }

    uint32_t *hashes_;  // capacity_() slots, a power of two: inline or in one block with values_
    Value *values_;     // the block's start when not inline
    uint32_t mask_;     // capacity - 1
    uint32_t count_;
    uint32_t growAt_;  // the most values held before the table grows
    static inline char *spareBlock_ = nullptr;
    static inline uint32_t spareCapacity_ = 0;
    uint32_t inlineHashes_[kInline];
    Value inlineValues_[kInline];
};

#endif  // TORVEL_CORE_TEXT_INDEX_H_
