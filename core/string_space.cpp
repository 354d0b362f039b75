// StringSpace and SSString: the interning table behind the expression trees'
// names and texts. Slots live in a self-growing array, reused lowest first
// through a heap of released slots; a growing index maps the hash of each
// key to its slot, the key itself being the slot's text. See
// core/string_space.h for the ownership rules of each method.
#include "core/string_space.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "diagnostics/except.h"

namespace {

const StringSpace::SSStringEnt kEmptySlot = {false, false, 0, nullptr, ADOPT_BORROW, 0};

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a and b are equal once A-Z are folded to a-z (and nothing else).
bool same_folded(const char *a, const char *b) {
    for (; *a != '\0' && folded(*a) == folded(*b); a++, b++) {
    }
    return folded(*a) == folded(*b);
}

}  // namespace

StringSpace::StringSpace(int size, bool caseSensitive)
    : keyIndex(new (torvel::or_die) TextIndex<int, -1>),
      table(nullptr),
      freeSlots(new (torvel::or_die) ExtArray<int>(64)),
      freeSlotCount(0),
      caseSensitive(caseSensitive),
      lowestFreeSlot(0),
      topUsedSlot(-1),
      number_of_slots_filled(0) {
    table = new (torvel::or_die) ExtArray<SSStringEnt>(64);
    table->fill(kEmptySlot);
}

StringSpace::~StringSpace() {
    purge();
    delete table;
    delete keyIndex;
    delete freeSlots;
}

uint32_t StringSpace::hashOf_(const char *text) {
    // Folded whatever the space's case rule (the keys are compared by it):
    // a caller's case-blind hash of a name then serves the space as well.
    return _torvel_text_hash(text, true);
}

int StringSpace::find_(const char *text, uint32_t hash) const {
    // Indexed slots are all in use, within the table.
    const SSStringEnt *slots = table->getarray();
    const int *found = keyIndex->find(hash, [&](int slot) {
        const char *key = slots[slot].text;
        return caseSensitive ? strcmp(key, text) == 0 : same_folded(key, text);
    });
    return found != nullptr ? *found : -1;
}

// ---- the released-slot heap ----

void StringSpace::pushFree_(int slot) {
    table->getarray()[slot].queued = true;  // a slot in use until now
    int i = freeSlotCount++;
    if (i < freeSlots->getsize()) {
        freeSlots->getarray()[i] = slot;
    } else {
        (*freeSlots)[i] = slot;  // grows the heap
    }
    int *heap = freeSlots->getarray();
    while (i > 0 && heap[(i - 1) / 2] > heap[i]) {
        int parent = (i - 1) / 2;
        int t = heap[parent];
        heap[parent] = heap[i];
        heap[i] = t;
        i = parent;
    }
}

void StringSpace::popFree_() {
    int *heap = freeSlots->getarray();  // freeSlotCount > 0 entries
    table->getarray()[heap[0]].queued = false;
    heap[0] = heap[--freeSlotCount];
    for (int i = 0;;) {
        int least = i;
        for (int child = 2 * i + 1; child <= 2 * i + 2 && child < freeSlotCount; child++) {
            if (heap[child] < heap[least]) {
                least = child;
            }
        }
        if (least == i) {
            break;
        }
        int t = heap[least];
        heap[least] = heap[i];
        heap[i] = t;
        i = least;
    }
}

void StringSpace::forgetFreeSlots_() {
    const int *heap = freeSlots->getarray();
    SSStringEnt *slots = table->getarray();
    for (int i = 0; i < freeSlotCount; i++) {
        slots[heap[i]].queued = false;
    }
    freeSlotCount = 0;
}

int StringSpace::lowestFree_() {
    // Every slot above topUsedSlot is free; below it, only released ones.
    while (freeSlotCount > 0) {
        int slot = freeSlots->getarray()[0];
        if (slot > topUsedSlot) {
            // The least entry lies above the top, so every entry does: all
            // are dropped at once rather than popped one by one (the slots
            // of an ad just deleted, say).
            forgetFreeSlots_();
            break;
        }
        if (!table->getarray()[slot].occupied) {
            return slot;
        }
        popFree_();
    }
    return topUsedSlot + 1;
}

void StringSpace::releaseText_(SSStringEnt &ent) {
    switch (ent.ownership) {
        case ADOPT_DUPLICATE:
        case ADOPT_MALLOC:
            free(ent.text);
            break;
        case ADOPT_NEW_ARRAY:
            delete[] ent.text;
            break;
        case ADOPT_BORROW:
            break;
    }
    ent.text = nullptr;
}

int StringSpace::getCanonical(char *&text, StringSpaceAdoptionMethod how) {
    if (text == nullptr) {
        return -1;
    }
    return getCanonicalHashed(text, hashOf_(text), how);
}

int StringSpace::getCanonicalHashed(char *&text, uint32_t hash, StringSpaceAdoptionMethod how) {
    int slot = find_(text, hash);
    if (slot >= 0) {
        if (how == ADOPT_MALLOC) {
            free(text);
            text = nullptr;
        } else if (how == ADOPT_NEW_ARRAY) {
            delete[] text;
            text = nullptr;
        }
        table->getarray()[slot].references++;  // an indexed slot lies within the table
        return slot;
    }

    slot = lowestFreeSlot;
    SSStringEnt &ent = (*table)[slot];  // may grow the table
    if (how == ADOPT_DUPLICATE) {
        // strdup, with an exhausted heap ending the process rather than
        // leaving a slot in use without a text.
        const size_t size = strlen(text) + 1;
        ent.text = static_cast<char *>(torvel::MallocOrDie(size));
        memcpy(ent.text, text, size);
    } else {
        ent.text = text;
        text = nullptr;
    }
    ent.occupied = true;
    ent.references = 1;
    ent.ownership = how;
    ent.hash = hash;
    number_of_slots_filled++;
    if (slot > topUsedSlot) {
        topUsedSlot = slot;
    }
    lowestFreeSlot = lowestFree_();
    keyIndex->insert(hash, slot);
    return slot;
}

int StringSpace::getCanonical(char *&text, SSString &handle, StringSpaceAdoptionMethod how) {
    int slot = getCanonical(text, how);
    if (slot < 0) {
        handle.slot = -1;
        handle.space = nullptr;
    } else {
        handle.slot = slot;
        handle.space = this;
    }
    return slot;
}

int StringSpace::getCanonical(char *&text, SSString *&handle, StringSpaceAdoptionMethod how) {
    handle = new (torvel::or_die) SSString();
    return getCanonical(text, *handle, how);
}

void StringSpace::disposeByIndex(int slot) {
    release_(slot);
}

bool StringSpace::holdByIndex(int slot, const char *canonical) {
    if (slot < 0 || slot > topUsedSlot) {
        return false;
    }
    SSStringEnt &ent = table->getarray()[slot];
    if (!ent.occupied || ent.text != canonical) {
        return false;
    }
    ent.references++;
    return true;
}

void StringSpace::release_(int slot) {
    if (slot < 0 || slot > topUsedSlot || !table->getarray()[slot].occupied) {
        return;  // not a slot in use: nothing holds a reference on it
    }
    SSStringEnt &ent = table->getarray()[slot];
    if (--ent.references > 0) {
        return;
    }
    keyIndex->erase(ent.hash, [slot](int candidate) { return candidate == slot; });
    releaseText_(ent);
    const bool queued = ent.queued;
    ent = kEmptySlot;
    ent.queued = queued;

    number_of_slots_filled--;
    if (number_of_slots_filled < 0) {
        _EXCEPT_Line = __LINE__;
        _EXCEPT_File = "stringSpace";
        _EXCEPT_Errno = errno;
        _EXCEPT_("StringSpace is algorithmically bad: number_of_slots_filled = %d!\n",
                 number_of_slots_filled);
    }
    if (lowestFreeSlot >= slot) {
        lowestFreeSlot = slot;
    }
    if (topUsedSlot == slot) {
        const SSStringEnt *slots = table->getarray();  // up to topUsedSlot
        while (topUsedSlot >= 0 && !slots[topUsedSlot].occupied) {
            topUsedSlot--;
        }
    } else if (!ent.queued) {
        pushFree_(slot);  // a hole below the top, for reuse
    }
}

void StringSpace::purge() {
    for (int i = 0; i <= topUsedSlot; i++) {
        SSStringEnt &ent = (*table)[i];
        if (ent.occupied && ent.text != nullptr) {
            releaseText_(ent);
        }
        ent.occupied = false;
        ent.references = 0;
        ent.text = nullptr;
    }
    for (int i = 0; i < table->getsize(); i++) {
        table->getarray()[i].ownership = ADOPT_BORROW;
        table->getarray()[i].queued = false;
    }
    freeSlotCount = 0;
    lowestFreeSlot = 0;
    topUsedSlot = -1;
    number_of_slots_filled = 0;
    keyIndex->clear();
}

void StringSpace::dump() {
    printf("String space dump:  %d strings\n", number_of_slots_filled);
    int printed = 0;
    for (int i = 0; i <= topUsedSlot; i++) {
        const SSStringEnt &ent = (*table)[i];
        if (!ent.occupied) {
            continue;
        }
        printf("#%03d ", i);
        if (ent.text != nullptr) {
            printf("%s (%d)\n", ent.text, ent.references);
        } else {
            printf("(disposed) (%d)\n", ent.references);
        }
        printed++;
    }
    if (printed != number_of_slots_filled) {
        printf("Number of slots expected (%d) is not accurate--should be %d.\n",
               number_of_slots_filled, printed);
    }
    printf("\nDone\n");
}

const char *StringSpace::textOf(int slot) const {
    if (slot < 0 || slot > topUsedSlot) {
        return nullptr;
    }
    const SSStringEnt &ent = table->getarray()[slot];
    return ent.occupied ? ent.text : nullptr;
}

int StringSpace::referencesOf(int slot) const {
    if (slot < 0 || slot > topUsedSlot) {
        return 0;
    }
    const SSStringEnt &ent = (*static_cast<const ExtArray<SSStringEnt> *>(table))[slot];
    return ent.occupied ? ent.references : 0;
}

SSString::SSString(const SSString &other) : slot(other.slot), space(other.space) {
    if (space != nullptr) {
        (*space->table)[slot].references++;
    }
}

SSString &SSString::operator=(const SSString &other) {
    if (this == &other) {
        return *this;
    }
    // Take the new reference first so that assigning a handle on the same
    // slot never drops the count to zero in between.
    if (other.space != nullptr) {
        (*other.space->table)[other.slot].references++;
    }
    dispose();
    slot = other.slot;
    space = other.space;
    return *this;
}

void SSString::dispose() {
    if (space == nullptr) {
        return;
    }
    space->release_(slot);
    slot = 0;
    space = nullptr;
}

const char *SSString::Value() const {
    return space != nullptr ? space->textOf(slot) : nullptr;
}
