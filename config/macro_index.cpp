// The side index of macro tables: open addressing over the nodes of each
// recently used table, with a copy of its bucket heads to notice a table
// that changed behind its back.
#include "config/macro_index.h"

#include <stdlib.h>
#include <string.h>

#include "diagnostics/except.h"

namespace {

struct Slot {
    MacroBucket *node;  // null: empty
    uint32_t hash;
};

struct TableIndex {
    MacroBucket **table;  // null: entry unused
    int table_size;
    MacroBucket **heads;  // malloc: the bucket heads as last seen
    Slot *slots;          // malloc: capacity slots, a power of two
    size_t capacity;
    size_t count;
    unsigned long last_use;
};

// Tables indexed at once; the least recently used gives way.
constexpr int kIndexes = 8;
constexpr size_t kMinCapacity = 16;

TableIndex indexes[kIndexes];
unsigned long use_clock = 0;

// Slot arrays given back, one per power-of-two capacity up to kMaxCached
// slots: a table read afresh (start-up reads every source into a fresh
// table) then reuses memory already mapped instead of faulting in new
// pages at every growth.
constexpr int kCachedClasses = 18;
Slot *cached_slots[kCachedClasses] = {};

int capacity_class(size_t capacity) {
    int c = 0;
    while ((static_cast<size_t>(1) << c) < capacity) {
        ++c;
    }
    return c;
}

inline unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// FNV-1a step, then a final mix so that the low bits pick slots well.
inline uint32_t hash_step(uint32_t h, unsigned char c) {
    return (h ^ c) * 16777619u;
}
constexpr uint32_t kHashStart = 2166136261u;
inline uint32_t hash_finish(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    return h;
}

uint32_t hash_of_lowered(const char *name) {
    uint32_t h = kHashStart;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p != 0; ++p) {
        h = hash_step(h, *p);
    }
    return hash_finish(h);
}

// Whether the stored (lower-case) name equals key's name ignoring case.
bool same_name(const char *stored, const MacroNameKey &key) {
    const unsigned char *given = reinterpret_cast<const unsigned char *>(key.name);
    for (size_t i = 0; i < key.length; ++i) {
        if (static_cast<unsigned char>(stored[i]) != lower(given[i])) {
            return false;
        }
    }
    return stored[key.length] == '\0';
}

void *allocate(size_t bytes) {
    void *memory = calloc(1, bytes);
    if (memory == nullptr) {
        EXCEPT("Out of memory indexing configuration names");
    }
    return memory;
}

// capacity zeroed slots.
Slot *new_slots(size_t capacity) {
    int c = capacity_class(capacity);
    if (c < kCachedClasses && cached_slots[c] != nullptr) {
        Slot *slots = cached_slots[c];
        cached_slots[c] = nullptr;
        memset(slots, 0, capacity * sizeof(Slot));
        return slots;
    }
    return static_cast<Slot *>(allocate(capacity * sizeof(Slot)));
}

void drop_slots(Slot *slots, size_t capacity) {
    int c = capacity_class(capacity);
    if (slots != nullptr && c < kCachedClasses && cached_slots[c] == nullptr) {
        cached_slots[c] = slots;
        return;
    }
    free(slots);
}

void release(TableIndex &ix) {
    free(ix.heads);
    drop_slots(ix.slots, ix.capacity);
    ix = TableIndex();
}

// Puts node into ix's slots (no duplicate check, no growth).
void place(TableIndex &ix, MacroBucket *node, uint32_t hash) {
    size_t mask = ix.capacity - 1;
    size_t at = hash & mask;
    while (ix.slots[at].node != nullptr) {
        at = (at + 1) & mask;
    }
    ix.slots[at].node = node;
    ix.slots[at].hash = hash;
    ++ix.count;
}

void grow_if_full(TableIndex &ix) {
    if ((ix.count + 1) * 2 <= ix.capacity) {
        return;
    }
    Slot *old = ix.slots;
    size_t old_capacity = ix.capacity;
    ix.capacity = old_capacity * 2;
    ix.slots = new_slots(ix.capacity);
    ix.count = 0;
    for (size_t i = 0; i < old_capacity; ++i) {
        if (old[i].node != nullptr) {
            place(ix, old[i].node, old[i].hash);
        }
    }
    drop_slots(old, old_capacity);
}

Slot *probe(const TableIndex &ix, const MacroNameKey &key) {
    size_t mask = ix.capacity - 1;
    for (size_t at = key.hash & mask;; at = (at + 1) & mask) {
        Slot &slot = ix.slots[at];
        if (slot.node == nullptr) {
            return nullptr;
        }
        if (slot.hash == key.hash && same_name(slot.node->name, key)) {
            return &slot;
        }
    }
}

// (Re)builds ix from the chains of table. Within a chain the first node of
// a name wins, as a chain walk would find it.
void build(TableIndex &ix, MacroBucket **table, int table_size) {
    release(ix);
    ix.table = table;
    ix.table_size = table_size;
    ix.heads = static_cast<MacroBucket **>(allocate(table_size * sizeof(MacroBucket *)));
    ix.capacity = kMinCapacity;
    ix.slots = new_slots(ix.capacity);
    for (int b = 0; b < table_size; ++b) {
        ix.heads[b] = table[b];
        for (MacroBucket *node = table[b]; node != nullptr; node = node->next) {
            MacroNameKey key{node->name, strlen(node->name), b, hash_of_lowered(node->name)};
            if (probe(ix, key) == nullptr) {
                grow_if_full(ix);
                place(ix, node, key.hash);
            }
        }
    }
}

TableIndex *last_used = nullptr;

TableIndex *registered(MacroBucket **table) {
    if (last_used != nullptr && last_used->table == table) {
        return last_used;
    }
    for (TableIndex &ix : indexes) {
        if (ix.table == table) {
            return &ix;
        }
    }
    return nullptr;
}

// The index of table, usable for a lookup in bucket.
TableIndex &index_for(MacroBucket **table, int table_size, int bucket) {
    TableIndex *ix = registered(table);
    if (ix == nullptr) {
        ix = &indexes[0];
        for (TableIndex &candidate : indexes) {
            if (candidate.table == nullptr || candidate.last_use < ix->last_use) {
                ix = &candidate;
                if (candidate.table == nullptr) {
                    break;
                }
            }
        }
        build(*ix, table, table_size);
    } else if (ix->table_size != table_size || ix->heads[bucket] != table[bucket]) {
        build(*ix, table, table_size);
    }
    ix->last_use = ++use_clock;
    last_used = ix;
    return *ix;
}

}  // namespace

bool _torvel_macro_key(const char *name, int table_size, MacroNameKey *key) {
    size_t length = strnlen(name, static_cast<size_t>(MACRO_NAME_MAX) + 1);
    return _torvel_macro_key_n(name, length, table_size, key);
}

bool _torvel_macro_key_n(const char *name, size_t length, int table_size, MacroNameKey *key) {
    if (length > static_cast<size_t>(MACRO_NAME_MAX)) {
        return false;
    }
    unsigned int h = 1;
    uint32_t index_hash = kHashStart;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = lower(p[i]);
        h = h * 2u + static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(c)));
        index_hash = hash_step(index_hash, c);
    }
    key->name = name;
    key->length = length;
    key->bucket = static_cast<int>((h >> 1) % static_cast<unsigned int>(table_size));
    key->hash = hash_finish(index_hash);
    return true;
}

bool _torvel_macro_key_pair(const char *text, size_t prefix_length, int table_size,
                            MacroNameKey *whole, MacroNameKey *tail) {
    size_t length = strnlen(text, static_cast<size_t>(MACRO_NAME_MAX) + 1);
    if (length > static_cast<size_t>(MACRO_NAME_MAX) || prefix_length > length) {
        return false;
    }
    unsigned int h = 1;
    unsigned int tail_h = 1;
    uint32_t index_hash = kHashStart;
    uint32_t tail_hash = kHashStart;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = lower(p[i]);
        unsigned int signed_c =
            static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(c)));
        h = h * 2u + signed_c;
        index_hash = hash_step(index_hash, c);
        if (i >= prefix_length) {
            tail_h = tail_h * 2u + signed_c;
            tail_hash = hash_step(tail_hash, c);
        }
    }
    *whole = MacroNameKey{text, length,
                          static_cast<int>((h >> 1) % static_cast<unsigned int>(table_size)),
                          hash_finish(index_hash)};
    *tail = MacroNameKey{text + prefix_length, length - prefix_length,
                         static_cast<int>((tail_h >> 1) % static_cast<unsigned int>(table_size)),
                         hash_finish(tail_hash)};
    return true;
}

MacroBucket *_torvel_macro_find(MacroBucket **table, int table_size, const MacroNameKey &key) {
    TableIndex &ix = index_for(table, table_size, key.bucket);
    Slot *slot = probe(ix, key);
    return slot != nullptr ? slot->node : nullptr;
}

void _torvel_macro_added(MacroBucket **table, int table_size, MacroBucket *node,
                         const MacroNameKey &key) {
    TableIndex *ix = registered(table);
    if (ix == nullptr || ix->table_size != table_size) {
        return;  // built from the chains at the next lookup
    }
    ix->heads[key.bucket] = table[key.bucket];
    grow_if_full(*ix);
    place(*ix, node, key.hash);
}

void _torvel_macro_forget(MacroBucket **table) {
    TableIndex *ix = registered(table);
    if (ix != nullptr) {
        release(*ix);
    }
}
