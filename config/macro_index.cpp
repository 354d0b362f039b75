// The side index of macro tables: open addressing over the nodes of each
// recently used table, with a copy of its bucket heads to notice a table
// that changed behind its back.
#include "config/macro_index.h"

#include <stdlib.h>
#include <string.h>

#include "diagnostics/except.h"

namespace {

// Eight bytes, so that the slots of a table of 100,000 names stay within
// about a megabyte: names are stored in random slots, and a smaller array
// misses the cache less.
struct Slot {
    uint32_t hash;
    uint32_t number;  // 1 + the node's position in nodes; 0: empty
};

struct TableIndex {
    MacroBucket **table;  // null: entry unused
    int table_size;
    MacroBucket **heads;  // malloc: the bucket heads as last seen
    Slot *slots;          // malloc: capacity slots, a power of two
    size_t capacity;
    MacroBucket **nodes;  // malloc: the indexed nodes in the order indexed
    size_t count;
    size_t dotted;  // indexed names that hold a "."
    size_t nodes_capacity;
    unsigned long last_use;
};

// Tables indexed at once; the least recently used gives way.
constexpr int kIndexes = 8;
constexpr size_t kMinCapacity = 16;

TableIndex indexes[kIndexes];
unsigned long use_clock = 0;

// The table cleared last and the capacity its index had: a table refilled
// after a clear (a reconfiguration reads the same sources again) starts at
// that size instead of growing through every smaller one.
MacroBucket **cleared_table = nullptr;
size_t cleared_capacity = 0;

// Slot arrays given back, one per power-of-two capacity below
// 2^kCachedClasses slots: a table read afresh (start-up reads every source into a fresh
// table) then reuses memory already mapped instead of faulting in new
// pages at every growth.
constexpr int kCachedClasses = 20;
Slot *cached_slots[kCachedClasses] = {};

int capacity_class(size_t capacity) {
    int c = 0;
    while ((static_cast<size_t>(1) << c) < capacity) {
        ++c;
    }
    return c;
}

// ASCII lower-casing by table: names are folded a byte at a time.
struct LowerCase {
    unsigned char of[256];
    constexpr LowerCase() : of() {
        for (int c = 0; c < 256; ++c) {
            of[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
};
constexpr LowerCase kLowerCase;

// The index hash rotates by 7 bits and adds each lower-cased byte in with
// exclusive or (64-bit), which keeps the names of up to nine ASCII
// characters apart exactly; a final mix makes the low bits pick slots well.
constexpr int kRotation = 7;
inline uint64_t rotate_left(uint64_t h, unsigned int bits) {
    bits &= 63u;
    return bits == 0 ? h : (h << bits) | (h >> (64u - bits));
}
inline uint32_t hash_finish(uint64_t h) {
    h ^= h >> 31;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 29;
    return static_cast<uint32_t>(h);
}

// Both hashes of a name as its bytes go by: the table's bucket hash (h = 1,
// then h * 2 + c for each byte taken as signed) and the index hash.
struct Hashes {
    unsigned int bucket = 1;
    uint64_t index = 0;
};

// Lower-cases the bytes of src into out, at most limit of them, stopping
// early at a NUL when stop_at_nul; returns how many were taken.
template <bool stop_at_nul>
inline size_t fold(const char *src, size_t limit, char *out, Hashes *hashes) {
    unsigned int bucket = hashes->bucket;
    uint64_t index = hashes->index;
    size_t i = 0;
    for (; i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(src[i]);
        if (stop_at_nul && c == 0) {
            break;
        }
        c = kLowerCase.of[c];
        out[i] = static_cast<char>(c);
        bucket = bucket * 2u + static_cast<unsigned int>(static_cast<signed char>(c));
        index = rotate_left(index, kRotation) ^ c;
    }
    hashes->bucket = bucket;
    hashes->index = index;
    return i;
}

void fill_key(const char *lowered, size_t length, const Hashes &hashes, int table_size,
              MacroNameKey *key) {
    key->name = lowered;
    key->length = length;
    unsigned int h = hashes.bucket >> 1;
    // The usual size as a constant: a division by it compiles to a multiply.
    key->bucket = static_cast<int>(table_size == CONFIG_TABLE_SIZE
                                       ? h % static_cast<unsigned int>(CONFIG_TABLE_SIZE)
                                       : h % static_cast<unsigned int>(table_size));
    key->hash = hash_finish(hashes.index);
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
    free(ix.nodes);
    drop_slots(ix.slots, ix.capacity);
    ix = TableIndex();
}

// Puts slot into ix's slots (no duplicate check, no growth).
void place_slot(TableIndex &ix, Slot slot) {
    size_t mask = ix.capacity - 1;
    size_t at = slot.hash & mask;
    while (ix.slots[at].number != 0) {
        at = (at + 1) & mask;
    }
    ix.slots[at] = slot;
}

// Makes room for capacity nodes in ix's list of nodes.
void reserve_nodes(TableIndex &ix, size_t capacity) {
    MacroBucket **grown =
        static_cast<MacroBucket **>(realloc(ix.nodes, capacity * sizeof(MacroBucket *)));
    if (grown == nullptr) {
        EXCEPT("Out of memory indexing configuration names");
    }
    ix.nodes = grown;
    ix.nodes_capacity = capacity;
}

// Indexes node (no duplicate check), growing the slots beyond three
// quarters full.
void place(TableIndex &ix, MacroBucket *node, const MacroNameKey &key) {
    if ((ix.count + 1) * 4 > ix.capacity * 3) {
        Slot *old = ix.slots;
        size_t old_capacity = ix.capacity;
        ix.capacity = old_capacity * 2;
        ix.slots = new_slots(ix.capacity);
        for (size_t i = 0; i < old_capacity; ++i) {
            if (old[i].number != 0) {
                place_slot(ix, old[i]);
            }
        }
        drop_slots(old, old_capacity);
    }
    if (ix.count == ix.nodes_capacity) {
        reserve_nodes(ix, ix.nodes_capacity < kMinCapacity ? kMinCapacity : ix.nodes_capacity * 2);
    }
    ix.nodes[ix.count++] = node;
    // The key's copy of the name, not the node's: the node was just written,
    // and reading it back at once stalls on the stores still in flight.
    if (memchr(key.name, '.', key.length) != nullptr) {
        ++ix.dotted;
    }
    place_slot(ix, Slot{key.hash, static_cast<uint32_t>(ix.count)});
}

// The node of key's name, or null.
MacroBucket *probe(const TableIndex &ix, const MacroNameKey &key) {
    size_t mask = ix.capacity - 1;
    for (size_t at = key.hash & mask;; at = (at + 1) & mask) {
        const Slot &slot = ix.slots[at];
        if (slot.number == 0) {
            return nullptr;
        }
        if (slot.hash == key.hash) {
            MacroBucket *node = ix.nodes[slot.number - 1];
            if (memcmp(node->name, key.name, key.length) == 0 && node->name[key.length] == '\0') {
                return node;
            }
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
    ix.capacity =
        table == cleared_table && cleared_capacity > kMinCapacity ? cleared_capacity : kMinCapacity;
    ix.slots = new_slots(ix.capacity);
    if (ix.capacity > kMinCapacity) {
        // As many nodes as those slots hold before they grow: a refill does
        // not copy the list of nodes at every doubling.
        reserve_nodes(ix, ix.capacity / 4 * 3);
    }
    for (int b = 0; b < table_size; ++b) {
        ix.heads[b] = table[b];
        for (MacroBucket *node = table[b]; node != nullptr; node = node->next) {
            char lowered[MACRO_KEY_BUFFER];
            MacroNameKey key;
            if (_torvel_macro_key(node->name, table_size, lowered, &key) &&
                probe(ix, key) == nullptr) {
                place(ix, node, key);
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

bool _torvel_macro_key(const char *name, int table_size, char *buffer, MacroNameKey *key) {
    Hashes hashes;
    size_t length = fold<true>(name, static_cast<size_t>(MACRO_NAME_MAX) + 1, buffer, &hashes);
    if (length > static_cast<size_t>(MACRO_NAME_MAX)) {
        return false;
    }
    fill_key(buffer, length, hashes, table_size, key);
    return true;
}

bool _torvel_macro_key_n(const char *name, size_t length, int table_size, char *buffer,
                         MacroNameKey *key) {
    if (length > static_cast<size_t>(MACRO_NAME_MAX)) {
        return false;
    }
    Hashes hashes;
    fold<false>(name, length, buffer, &hashes);
    fill_key(buffer, length, hashes, table_size, key);
    return true;
}

namespace {

// The index of table, current for key's bucket.
const TableIndex &current_index(MacroBucket **table, int table_size, const MacroNameKey &key) {
    TableIndex *last = last_used;
    if (last != nullptr && last->table == table && last->table_size == table_size &&
        last->heads[key.bucket] == table[key.bucket]) {
        return *last;  // the table used last, unchanged: no bookkeeping
    }
    return index_for(table, table_size, key.bucket);
}

}  // namespace

MacroBucket *_torvel_macro_find(MacroBucket **table, int table_size, const MacroNameKey &key) {
    return probe(current_index(table, table_size, key), key);
}

MacroBucket *_torvel_macro_find_dotted(MacroBucket **table, int table_size, const char *prefix,
                                       size_t prefix_length, const MacroNameKey &tail,
                                       char *buffer) {
    if (current_index(table, table_size, tail).dotted == 0) {
        return nullptr;
    }
    memcpy(buffer, prefix, prefix_length);
    buffer[prefix_length] = '.';
    MacroNameKey whole;
    _torvel_macro_key_n(buffer, prefix_length + 1 + tail.length, table_size, buffer, &whole);
    return _torvel_macro_find(table, table_size, whole);
}

void _torvel_macro_added(MacroBucket **table, int table_size, MacroBucket *node,
                         const MacroNameKey &key) {
    TableIndex *ix = registered(table);
    if (ix == nullptr || ix->table_size != table_size) {
        return;  // built from the chains at the next lookup
    }
    ix->heads[key.bucket] = table[key.bucket];
    place(*ix, node, key);
}

void _torvel_macro_forget(MacroBucket **table) {
    TableIndex *ix = registered(table);
    if (ix != nullptr) {
        cleared_table = table;
        cleared_capacity = ix->capacity;
        release(*ix);
    }
}
