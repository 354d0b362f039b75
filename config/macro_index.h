// An index beside the chains of a macro table: finds the node of a name in
// a few probes instead of walking its bucket's chain, which for a large
// table holds hundreds of names (the table's hash spreads similar names
// over few buckets). The chains stay what they are: order, buckets and
// iteration do not change, and the index only points at their nodes.
//
// Indexes are kept for the few tables used most recently, keyed by the
// address of their heads; a table without one gets it rebuilt from its
// chains on first use. Only insert and clear_macro_table change chains, and
// both keep the index in step; a bucket head that no longer matches what
// the index last saw (a table reused at the same address without being
// cleared) makes the index be rebuilt. Process-wide, unlocked state.
#ifndef TORVEL_CONFIG_MACRO_INDEX_H_
#define TORVEL_CONFIG_MACRO_INDEX_H_

#include <stddef.h>
#include <stdint.h>

#include "config/macro_table.h"

// A name ready for lookups: its ASCII-lower-cased form (in a buffer of the
// caller's), its length, its bucket in the table and its index hash.
struct MacroNameKey {
    const char *name;  // lower case, not terminated; borrowed from the caller's buffer
    size_t length;
    int bucket;
    uint32_t hash;
};

// Size of the buffer a key's lower-cased name is written to.
constexpr size_t MACRO_KEY_BUFFER = MACRO_NAME_MAX + 1;

// Writes name, lower-cased, to buffer (MACRO_KEY_BUFFER bytes, left
// unterminated) and fills key. False (key unusable) when the name is longer
// than MACRO_NAME_MAX.
// REQUIRES: name not null, table_size >= 1.
bool _torvel_macro_key(const char *name, int table_size, char *buffer, MacroNameKey *key);
// The same for the length bytes at name (which need no terminator).
bool _torvel_macro_key_n(const char *name, size_t length, int table_size, char *buffer,
                         MacroNameKey *key);

// The node of the name made of prefix, "." and tail's name, or null; at
// once null when no name of the table holds a ".". buffer receives that
// name, lower-cased.
// REQUIRES: tail.name == buffer + prefix_length + 1, and
// prefix_length + 1 + tail.length <= MACRO_NAME_MAX.
MacroBucket *_torvel_macro_find_dotted(MacroBucket **table, int table_size, const char *prefix,
                                       size_t prefix_length, const MacroNameKey &tail,
                                       char *buffer);

// The node holding key's name, or null. Owned by the table.
MacroBucket *_torvel_macro_find(MacroBucket **table, int table_size, const MacroNameKey &key);

// Records node, just pushed at the front of key's bucket by insert.
void _torvel_macro_added(MacroBucket **table, int table_size, MacroBucket *node,
                         const MacroNameKey &key);

// Drops the index of table (clear_macro_table calls it).
void _torvel_macro_forget(MacroBucket **table);

#endif  // TORVEL_CONFIG_MACRO_INDEX_H_
