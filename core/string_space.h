// StringSpace: keeps one canonical copy of each distinct string and hands
// out small integer slots into its table, each with a reference count.
// SSString is a handle on one slot that holds one reference while it lives.
// The ClassAd expression trees intern every name and string literal in one
// process-wide space, so equal names are stored once and compared by slot.
//
// Slots are reused lowest first once their last reference goes. A space
// that is not case-sensitive folds its keys to lower case (ASCII letters
// only); the canonical text keeps the case of the first string interned.
// Interning, finding and releasing cost the same however many strings the
// space holds: the key index grows with its contents, and released slots
// wait in a heap for reuse. Not safe for concurrent use.
#ifndef TORVEL_CORE_STRING_SPACE_H_
#define TORVEL_CORE_STRING_SPACE_H_

#include "core/ext_array.h"
#include "core/text_index.h"

// How getCanonical takes a caller's text, hence how the space releases it.
enum StringSpaceAdoptionMethod {
    ADOPT_BORROW = 0,     // the pointer is stored and never released
    ADOPT_DUPLICATE = 1,  // the space stores its own strdup copy (free)
    ADOPT_MALLOC = 2,     // the space takes over a malloc'ed text (free)
    ADOPT_NEW_ARRAY = 3,  // the space takes over a new[] text (delete[])
};

class SSString;

class StringSpace {
 public:
    // One slot of the table.
    struct SSStringEnt {
        bool occupied;
        bool queued;  // the slot is in the heap of released slots
        int references;
        char *text;
        StringSpaceAdoptionMethod ownership;
        uint32_t hash;  // of the key, kept for the release
    };

    // size is the number of strings the space is expected to hold: a hint
    // that changes nothing observable (the key index grows as needed).
    StringSpace(int size = 64, bool caseSensitive = true);
    // Purges, then frees the table and the key index.
    ~StringSpace();
    StringSpace(const StringSpace &) = delete;
    StringSpace &operator=(const StringSpace &) = delete;

    // Interns text and returns its slot, or -1 for a null text or a refused
    // index entry. With ADOPT_MALLOC and ADOPT_NEW_ARRAY the space always
    // takes the text over and sets the caller's pointer to null (freeing it
    // when an equal string is already present); with ADOPT_BORROW the pointer
    // is nulled when stored; with ADOPT_DUPLICATE the caller keeps its text.
    int getCanonical(char *&text, StringSpaceAdoptionMethod how = ADOPT_DUPLICATE);
    // The same for a caller that has hashed text already. REQUIRES: text is
    // not null; hash is _torvel_text_hash(text, true), the space's hash of
    // every text, case-sensitive or not.
    int getCanonicalHashed(char *&text, uint32_t hash, StringSpaceAdoptionMethod how);
    // The same, and sets handle to (slot, this space), or to (-1, no space)
    // on failure. The handle's previous reference is not released.
    int getCanonical(char *&text, SSString &handle,
                     StringSpaceAdoptionMethod how = ADOPT_DUPLICATE);
    // The same with a new handle (new) that the caller deletes.
    int getCanonical(char *&text, SSString *&handle,
                     StringSpaceAdoptionMethod how = ADOPT_DUPLICATE);

    // Releases one reference of slot, as if a handle on it were destroyed.
    void disposeByIndex(int slot);
    // Takes one more reference of slot when it is in use with exactly that
    // canonical text (compared by address, never read); whether it was.
    bool holdByIndex(int slot, const char *canonical);

    // Empties the space; handles still pointing into it are not told.
    void purge();
    // Prints the table to standard output.
    void dump();

    // The canonical text of a slot in use, or null. Owned by the space.
    const char *textOf(int slot) const;
    // References of a slot, 0 when it is not in use.
    int referencesOf(int slot) const;
    // Number of slots in use.
    int numberOfStrings() const { return number_of_slots_filled; }

 private:
    friend class SSString;

    // Drops one reference of slot; frees the slot at zero.
    void release_(int slot);
    // The slot holding text (folded when not case-sensitive), or -1.
    int find_(const char *text, uint32_t hash) const;
    static uint32_t hashOf_(const char *text);
    static void releaseText_(SSStringEnt &ent);
    // The released-slot heap: a min-heap of slot numbers, each slot at most
    // once. Entries that were reused or lie above topUsedSlot are stale and
    // dropped when they reach the top.
    void pushFree_(int slot);
    void popFree_();
    // Empties the heap (when every entry in it is stale).
    void forgetFreeSlots_();
    // The lowest slot not in use. REQUIRES: topUsedSlot is up to date.
    int lowestFree_();

    TextIndex<int, -1> *keyIndex;  // key hash -> slot; the key is the slot's text
    ExtArray<SSStringEnt> *table;
    ExtArray<int> *freeSlots;  // the released-slot heap
    int freeSlotCount;
    bool caseSensitive;
    int lowestFreeSlot;
    int topUsedSlot;
    int number_of_slots_filled;
};

// A counted handle on one slot of a StringSpace; empty when space is null.
class SSString {
 public:
    SSString() : slot(0), space(nullptr) {}
    // Both take the other handle's slot and add one reference.
    SSString(const SSString &other);
    SSString &operator=(const SSString &other);
    ~SSString() { dispose(); }

    // Releases the reference and empties the handle.
    void dispose();

    // The canonical text, or null for an empty handle. Owned by the space.
    const char *Value() const;
    int getSlot() const { return slot; }

    bool operator==(const SSString &other) const {
        return slot == other.slot && space == other.space;
    }
    bool operator!=(const SSString &other) const { return !(*this == other); }

 private:
    friend class StringSpace;

    int slot;
    StringSpace *space;
};

#endif  // TORVEL_CORE_STRING_SPACE_H_
