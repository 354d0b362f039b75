// The macro table: a fixed array of bucket heads, each the head of a chain
// of name/value nodes, with case-insensitive names. ConfigTab (113 buckets)
// is the process-wide table that configuration start-up fills; every
// function here takes the table and its size, so tables of other sizes
// (tests, fuzzing) use the same code.
//
// Names are stored lower-cased and may hold at most MACRO_NAME_MAX (1023)
// characters; longer names are refused by insert and never found by
// lookup_macro. Values are stored raw (see config/macro_expand.h).
// Each node, its name and the first value stored under it share memory
// from blocks that belong to the table; later values come from malloc.
// clear_macro_table frees them all.
// Not thread-safe: the table is process-wide, unlocked state.
#ifndef TORVEL_CONFIG_MACRO_TABLE_H_
#define TORVEL_CONFIG_MACRO_TABLE_H_

struct MacroBucket {
    char *name;   // lower case, in the node's own allocation
    char *value;  // raw value: the node's own storage or malloc'd
    MacroBucket *next;
};

// Size of ConfigTab.
constexpr int CONFIG_TABLE_SIZE = 113;
// Longest name the lower-casing buffer of insert and lookup_macro holds.
constexpr int MACRO_NAME_MAX = 1023;

// The process-wide macro table (all heads null at start).
extern MacroBucket *ConfigTab[CONFIG_TABLE_SIZE];

// Stores a copy of value under the lower-cased name, replacing (and freeing)
// an existing value; a new name goes to the front of its chain.
// Returns 0, or -1 (table unchanged, a D_ALWAYS line logged) for a null
// name or value or a name longer than MACRO_NAME_MAX.
// REQUIRES: table has table_size >= 1 heads.
int insert(const char *name, const char *value, MacroBucket **table, int table_size);

// The raw value stored under name (compared ignoring ASCII case), or null.
// Owned by the table: valid until the entry is replaced or the table freed.
char *lookup_macro(const char *name, MacroBucket **table, int table_size);

// Frees every node, name and value of the table and sets every head to null.
void clear_macro_table(MacroBucket **table, int table_size);

// Bucket index of name: h = 1; for each byte c of the name, lower-cased
// (ASCII only) and taken as signed, h = h * 2 + c with 32-bit wrap-around;
// then h >> 1, modulo size. Already lower-case names hash the same either way.
// REQUIRES: size >= 1 (0 is returned otherwise).
int torvel_hash(const char *name, int size);

// True for ASCII 'a'-'z', 'A'-'Z', '0'-'9' only (never for bytes > 127).
bool torvel_isalnum(int c);

// The characters of a macro name: torvel_isalnum, "_" and ".". A table,
// inline: the reader and the expander test every byte of every name.
struct MacroNameChars {
    bool is[256];
    constexpr MacroNameChars() : is() {
        for (int c = 0; c < 256; ++c) {
            is[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '.';
        }
    }
};
inline constexpr MacroNameChars kMacroNameChars;

inline bool _torvel_is_name_char(char c) {
    return kMacroNameChars.is[static_cast<unsigned char>(c)];
}

// Walks a table: buckets 0 .. size-1, each chain from the newest name to the
// oldest. The table must not change during the walk.
struct MacroTableCursor {
    MacroBucket **table;
    int table_size;
    int index;             // current bucket
    MacroBucket *current;  // current node, null when done
};

// A new cursor (caller releases it with hash_iter_delete) on the first
// entry. A null table or a size below 1 ends the process (assertion).
MacroTableCursor *hash_iter_begin(MacroBucket **table, int table_size);
// True when no entry is current.
bool hash_iter_done(MacroTableCursor *iter);
// Advances; true when an entry is now current.
bool hash_iter_next(MacroTableCursor *iter);
// The current entry's name and raw value, owned by the table.
// REQUIRES: !hash_iter_done(iter) (the process ends otherwise).
char *hash_iter_key(MacroTableCursor *iter);
char *hash_iter_value(MacroTableCursor *iter);
// Frees the cursor and sets *iter to null.
// REQUIRES: iter and *iter not null (the process ends otherwise).
void hash_iter_delete(MacroTableCursor **iter);

// A null iterator passed to any of the calls above ends the process with
// "Assertion ERROR on (...)" (exit status 4).

#endif  // TORVEL_CONFIG_MACRO_TABLE_H_
