// TextIndex<Value, kEmpty>: a hash index from texts to small values (a
// pointer, a slot number) that grows with its contents, and the text hash it
// is used with. Open addressing with linear probing: the table holds at most
// three quarters of its slots and doubles when it would hold more; removal
// shifts later entries back instead of leaving markers, so lookups never
// slow down with churn.
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
    TextIndex() : slots_(inline_), mask_(kInline - 1), count_(0) { empty_inline_(); }
    ~TextIndex() { release_(); }
    TextIndex(const TextIndex &) = delete;
    TextIndex &operator=(const TextIndex &) = delete;

    // The stored value under hash whose key matches(value) accepts, as a
    // pointer into the index (valid until the next insert or erase, and
    // writable, to put another value of the same key in its place); null
    // when there is none.
    template <class Match>
    Value *find(uint32_t hash, Match matches) const {
        for (uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
            Slot &slot = slots_[i];
            if (slot.value == kEmpty) {
                return nullptr;
            }
            if (slot.hash == hash && matches(slot.value)) {
                return &slot.value;
            }
        }
    }

    // Adds value under hash. REQUIRES: value != kEmpty; no value with an
    // equal key is stored (the caller looks first).
    void insert(uint32_t hash, Value value) {
        if ((count_ + 1) * 4 > capacity_() * 3) {
            grow_();
        }
        place_(hash, value);
        count_++;
    }

    // Removes the value under hash whose key matches; whether there was one.
    template <class Match>
    bool erase(uint32_t hash, Match matches) {
        Value *found = find(hash, matches);
        if (found == nullptr) {
            return false;
        }
        Slot *slot =
            reinterpret_cast<Slot *>(reinterpret_cast<char *>(found) - offsetof(Slot, value));
        removeAt_(static_cast<uint32_t>(slot - slots_));
        count_--;
        return true;
    }

    // Forgets every value and frees the table.
    void clear() {
        release_();
        slots_ = inline_;
        empty_inline_();
        mask_ = kInline - 1;
        count_ = 0;
    }

    void swap(TextIndex &other) {
        // The inline slots stay with their index: their contents move.
        Slot *heap = slots_ != inline_ ? slots_ : nullptr;
        Slot *other_heap = other.slots_ != other.inline_ ? other.slots_ : nullptr;
        for (uint32_t i = 0; i < kInline; i++) {
            Slot slot = inline_[i];
            inline_[i] = other.inline_[i];
            other.inline_[i] = slot;
        }
        slots_ = other_heap != nullptr ? other_heap : inline_;
        other.slots_ = heap != nullptr ? heap : other.inline_;
        uint32_t mask = mask_;
        uint32_t count = count_;
        mask_ = other.mask_;
        count_ = other.count_;
        other.mask_ = mask;
        other.count_ = count;
    }

    uint32_t size() const { return count_; }

    // Makes room for n values in all without growing again.
    void reserve(uint32_t n) {
        if (n * 4 > capacity_() * 3) {
            rehash_(capacity_for_(n));
        }
    }
    // Gives back the room beyond what the values held need, when the
    // table is more than twice as large as that.
    void fit() {
        uint32_t capacity = capacity_for_(count_);
        if (slots_ != inline_ && capacity * 2 < capacity_()) {
            rehash_(capacity);
        }
    }

 private:
    struct Slot {
        uint32_t hash;
        Value value;
    };

    // A small index keeps its slots inside itself: its lookups go from the
    // owner straight to a slot, without a separate table to reach.
    static const uint32_t kInline = 8;

    uint32_t capacity_() const { return mask_ + 1; }

    void empty_inline_() {
        for (uint32_t i = 0; i < kInline; i++) {
            inline_[i].value = kEmpty;
        }
    }

    void release_() {
        if (slots_ != inline_) {
            delete[] slots_;
        }
    }

    // Stores value in the first free slot from its home. REQUIRES: a free slot.
    void place_(uint32_t hash, Value value) {
        uint32_t i = hash & mask_;
        while (slots_[i].value != kEmpty) {
            i = (i + 1) & mask_;
        }
        slots_[i].hash = hash;
        slots_[i].value = value;
    }

    void grow_() { rehash_(capacity_() * 2); }

    // The smallest capacity, at least the inline one, that holds n values.
    static uint32_t capacity_for_(uint32_t n) {
        uint32_t capacity = kInline;
        while (n * 4 > capacity * 3) {
            capacity *= 2;
        }
        return capacity;
    }

    // Moves every value to a table of capacity slots (the inline slots when
    // capacity is theirs). REQUIRES: capacity holds count_ values.
    void rehash_(uint32_t capacity) {
        Slot *old = slots_;
        uint32_t old_capacity = capacity_();
        Slot copy[kInline];
        if (old == inline_) {
            // The inline slots may be reused below: their values move first.
            for (uint32_t i = 0; i < kInline; i++) {
                copy[i] = inline_[i];
            }
            old = copy;
        }
        slots_ = capacity == kInline ? inline_ : new (torvel::or_die) Slot[capacity];
        mask_ = capacity - 1;
        for (uint32_t i = 0; i < capacity; i++) {
            slots_[i].value = kEmpty;
        }
        for (uint32_t i = 0; i < old_capacity; i++) {
            if (old[i].value != kEmpty) {
                place_(old[i].hash, old[i].value);
            }
        }
        if (old != copy) {
            delete[] old;
        }
    }

    // Empties slot hole, then moves back every later entry of the same run
    // that may not stay behind the hole (its home lies at or before it,
    // cyclically), so that every entry stays reachable from its home.
    void removeAt_(uint32_t hole) {
        for (uint32_t i = (hole + 1) & mask_; slots_[i].value != kEmpty; i = (i + 1) & mask_) {
            uint32_t home = slots_[i].hash & mask_;
            // Distances from home: the entry may move to hole when hole is
            // no further from home than i is.
            if (((hole - home) & mask_) < ((i - home) & mask_)) {
                slots_[hole] = slots_[i];
                hole = i;
            }
        }
        slots_[hole].value = kEmpty;
    }

    Slot *slots_;    // capacity_() slots, a power of two: inline_ or new[]
    uint32_t mask_;  // capacity - 1
    uint32_t count_;
    Slot inline_[kInline];
};

#endif  // TORVEL_CORE_TEXT_INDEX_H_
