// The macro table: storing, finding, freeing and walking name/value
// entries. Names are lower-cased in a bounded buffer before hashing, so
// their case never matters and no name can overrun it.
#include "config/macro_table.h"

#include <stdlib.h>
#include <string.h>

#include "core/case_convert.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

MacroBucket *ConfigTab[CONFIG_TABLE_SIZE] = {};

namespace {

// Copies name lower-cased into buffer (MACRO_NAME_MAX + 1 bytes).
// False when the name does not fit.
bool lower_name(const char *name, char *buffer) {
    size_t length = strlen(name);
    if (length > static_cast<size_t>(MACRO_NAME_MAX)) {
        return false;
    }
    memcpy(buffer, name, length + 1);
    strlwr(buffer);
    return true;
}

MacroBucket *find_node(const char *lowered, MacroBucket **table, int table_size) {
    MacroBucket *node = table[torvel_hash(lowered, table_size)];
    while (node != nullptr && strcmp(node->name, lowered) != 0) {
        node = node->next;
    }
    return node;
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
    if (name == nullptr || value == nullptr) {
        return -1;
    }
    char lowered[MACRO_NAME_MAX + 1];
    if (!lower_name(name, lowered)) {
        dprintf(D_ALWAYS, "Configuration name of %zu characters refused (at most %d): %.40s...\n",
                strlen(name), MACRO_NAME_MAX, name);
        return -1;
    }
    char *copy = strdup(value);
    if (copy == nullptr) {
        EXCEPT("Out of memory storing configuration value of %s", lowered);
    }
    MacroBucket *node = find_node(lowered, table, table_size);
    if (node != nullptr) {
        free(node->value);
        node->value = copy;
        return 0;
    }
    node = static_cast<MacroBucket *>(malloc(sizeof(MacroBucket)));
    char *name_copy = strdup(lowered);
    if (node == nullptr || name_copy == nullptr) {
        EXCEPT("Out of memory storing configuration name %s", lowered);
    }
    int bucket = torvel_hash(lowered, table_size);
    node->name = name_copy;
    node->value = copy;
    node->next = table[bucket];
    table[bucket] = node;
    return 0;
}

char *lookup_macro(const char *name, MacroBucket **table, int table_size) {
    if (name == nullptr) {
        return nullptr;
    }
    char lowered[MACRO_NAME_MAX + 1];
    if (!lower_name(name, lowered)) {
        return nullptr;  // insert never stores such a name
    }
    MacroBucket *node = find_node(lowered, table, table_size);
    return node != nullptr ? node->value : nullptr;
}

void clear_macro_table(MacroBucket **table, int table_size) {
    for (int i = 0; i < table_size; ++i) {
        MacroBucket *node = table[i];
        while (node != nullptr) {
            MacroBucket *next = node->next;
            free(node->name);
            free(node->value);
            free(node);
            node = next;
        }
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
