// The macro table: storing, finding, freeing and walking name/value
// entries. Names are found through the side index of config/macro_index.h,
// which compares them ignoring case; stored names are lower-cased copies.
// Nodes live in the table's arena (config/macro_arena.h).
#include "config/macro_table.h"

#include <stdlib.h>
#include <string.h>

#include "config/macro_arena.h"
#include "config/macro_index.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

MacroBucket *ConfigTab[CONFIG_TABLE_SIZE] = {};

namespace {

// A new node of table holding the key's (lower-cased) name and a first
// value, both in the node's own memory from the table's arena.
MacroBucket *new_node(MacroBucket **table, const MacroNameKey &key, const char *value) {
    size_t value_size = strlen(value) + 1;
    MacroBucket *node = static_cast<MacroBucket *>(
        _torvel_macro_arena_alloc(table, sizeof(MacroBucket) + key.length + 1 + value_size));
    char *name = reinterpret_cast<char *>(node + 1);
    memcpy(name, key.name, key.length);
    name[key.length] = '\0';
    node->name = name;
    node->value = name + key.length + 1;
    memcpy(node->value, value, value_size);
    return node;
}

// Whether the node's value is the first one, kept in the node's memory.
bool value_inside(const MacroBucket *node) {
    return node->value == node->name + strlen(node->name) + 1;
}

}  // namespace

int torvel_hash(const char *name, int size) {
    if (size < 1) {
        return 0;
    }
    unsigned int h = 1;
    for (const char *p = name; *p != '\0'; ++p) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        h = h * 2u + static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(c)));
    }
    h >>= 1;
    return static_cast<int>(h % static_cast<unsigned int>(size));
}

bool torvel_isalnum(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int insert(const char *name, const char *value, MacroBucket **table, int table_size) {
    if (name == nullptr || value == nullptr || table_size < 1) {
        return -1;
    }
    char lowered[MACRO_KEY_BUFFER];
    MacroNameKey key;
    if (!_torvel_macro_key(name, table_size, lowered, &key)) {
        dprintf(D_ALWAYS, "Configuration name of %zu characters refused (at most %d): %.40s...\n",
                strlen(name), MACRO_NAME_MAX, name);
        return -1;
    }
    MacroBucket *node = _torvel_macro_find(table, table_size, key);
    if (node != nullptr) {
        char *copy = strdup(value);  // before the old one goes: value may be it
        if (copy == nullptr) {
            EXCEPT("Out of memory storing configuration value of %s", name);
        }
        if (value_inside(node)) {
            _torvel_macro_arena_external(table, node);  // the clear frees its values from now on
        } else {
            free(node->value);
        }
        node->value = copy;
        return 0;
    }
    node = new_node(table, key, value);
    node->next = table[key.bucket];
    table[key.bucket] = node;
    _torvel_macro_added(table, table_size, node, key);
    return 0;
}

char *lookup_macro(const char *name, MacroBucket **table, int table_size) {
    char lowered[MACRO_KEY_BUFFER];
    MacroNameKey key;
    if (name == nullptr || table_size < 1 || !_torvel_macro_key(name, table_size, lowered, &key)) {
        return nullptr;  // insert never stores a name too long for the key
    }
    MacroBucket *node = _torvel_macro_find(table, table_size, key);
    return node != nullptr ? node->value : nullptr;
}

void clear_macro_table(MacroBucket **table, int table_size) {
    _torvel_macro_forget(table);
    _torvel_macro_arena_release(table);  // every node, name and value
    for (int i = 0; i < table_size; ++i) {
        table[i] = nullptr;
    }
}

namespace {

// Moves iter to the first node at or after bucket index; done when none.
void settle(MacroTableCursor *iter, int index) {
    iter->current = nullptr;
    for (iter->index = index; iter->index < iter->table_size; ++iter->index) {
        if (iter->table[iter->index] != nullptr) {
            iter->current = iter->table[iter->index];
            return;
        }
    }
}

}  // namespace

MacroTableCursor *hash_iter_begin(MacroBucket **table, int table_size) {
    ASSERT(table != nullptr);
    ASSERT(table_size >= 1);
    MacroTableCursor *iter = static_cast<MacroTableCursor *>(malloc(sizeof(MacroTableCursor)));
    ASSERT(iter != nullptr);
    iter->table = table;
    iter->table_size = table_size;
    settle(iter, 0);
    return iter;
}

bool hash_iter_done(MacroTableCursor *iter) {
    ASSERT(iter != nullptr);
    return iter->current == nullptr;
}

bool hash_iter_next(MacroTableCursor *iter) {
    ASSERT(iter != nullptr);
    if (iter->current == nullptr) {
        return false;
    }
    if (iter->current->next != nullptr) {
        iter->current = iter->current->next;
        return true;
    }
    settle(iter, iter->index + 1);
    return iter->current != nullptr;
}

char *hash_iter_key(MacroTableCursor *iter) {
    ASSERT(iter != nullptr);
    ASSERT(!hash_iter_done(iter));
    return iter->current->name;
}

char *hash_iter_value(MacroTableCursor *iter) {
    ASSERT(iter != nullptr);
    ASSERT(!hash_iter_done(iter));
    return iter->current->value;
}

void hash_iter_delete(MacroTableCursor **iter) {
    ASSERT(iter != nullptr);
    ASSERT(*iter != nullptr);
    free(*iter);
    *iter = nullptr;
}
