// StringSpace and SSString: the interning table behind the expression trees'
// names and texts. Keys live in a hash table (duplicates kept, hash = sum of
// the key's signed bytes); slots live in a self-growing array, reused lowest
// first. See core/string_space.h for the ownership rules of each method.
#include "core/string_space.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "diagnostics/except.h"

namespace {

// The sum of the key's characters, each as a signed 8-bit value, taken as an
// unsigned 32-bit number, modulo the bucket count.
int string_space_hash(const MyString &key, int buckets) {
    unsigned int sum = 0;
    const char *p = key.Value();
    for (; *p != '\0'; p++) {
        sum += static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(*p)));
    }
    return static_cast<int>(sum % static_cast<unsigned int>(buckets));
}

const StringSpace::SSStringEnt kEmptySlot = {false, 0, nullptr, ADOPT_BORROW};

}  // namespace

StringSpace::StringSpace(int size, bool caseSensitive)
    : keyIndex(nullptr), table(nullptr), caseSensitive(caseSensitive), lowestFreeSlot(0),
      topUsedSlot(-1), number_of_slots_filled(0) {
    int buckets = static_cast<int>(1.25 * size);
    keyIndex = new HashTable<MyString, int>(buckets, string_space_hash, DUPLICATES_KEPT);
    table = new ExtArray<SSStringEnt>(64);
    table->fill(kEmptySlot);
}

StringSpace::~StringSpace() {
    purge();
    delete table;
    delete keyIndex;
}

MyString StringSpace::keyOf_(const char *text) const {
    MyString key(text);
    if (!caseSensitive) {
        for (int i = 0; i < key.Length(); i++) {
            char c = key[i];
            if (c >= 'A' && c <= 'Z') {
                key.setChar(i, static_cast<char>(c - 'A' + 'a'));
            }
        }
    }
    return key;
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
    MyString key = keyOf_(text);
    int slot;
    if (keyIndex->lookup(key, slot) == 0) {
        if (how == ADOPT_MALLOC) {
            free(text);
            text = nullptr;
        } else if (how == ADOPT_NEW_ARRAY) {
            delete[] text;
            text = nullptr;
        }
        (*table)[slot].references++;
        return slot;
    }

    slot = lowestFreeSlot;
    SSStringEnt &ent = (*table)[slot];
    if (how == ADOPT_DUPLICATE) {
        ent.text = strdup(text);
    } else {
        ent.text = text;
        text = nullptr;
    }
    ent.occupied = true;
    ent.references = 1;
    ent.ownership = how;
    number_of_slots_filled++;
    while ((*table)[lowestFreeSlot].occupied) {
        lowestFreeSlot++;
    }
    if (lowestFreeSlot >= topUsedSlot) {
        topUsedSlot = lowestFreeSlot - 1;
    }
    if (keyIndex->insert(key, slot) != 0) {
        return -1;
    }
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
    handle = new SSString();
    return getCanonical(text, *handle, how);
}

void StringSpace::disposeByIndex(int slot) {
    release_(slot);
}

void StringSpace::release_(int slot) {
    if (slot < 0 || slot > topUsedSlot || !(*table)[slot].occupied) {
        return;  // not a slot in use: nothing holds a reference on it
    }
    SSStringEnt &ent = (*table)[slot];
    if (--ent.references > 0) {
        return;
    }
    MyString key = keyOf_(ent.text != nullptr ? ent.text : "");
    releaseText_(ent);
    ent = kEmptySlot;
    keyIndex->remove(key);

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
        while (topUsedSlot >= 0 && !(*table)[topUsedSlot].occupied) {
            topUsedSlot--;
        }
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
    }
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
    const SSStringEnt &ent = (*static_cast<const ExtArray<SSStringEnt> *>(table))[slot];
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
