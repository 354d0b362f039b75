// Node memory of macro tables: a list of blocks per table, filled from the
// front, and the nodes whose values were malloc'd later.
#include "config/macro_arena.h"

#include <stdlib.h>

#include "diagnostics/except.h"

namespace {

struct Block {
    Block *previous;
    size_t bytes;  // usable bytes after the header
};

struct Arena {
    MacroBucket **table;  // null: unused entry
    Block *blocks;        // newest first
    char *next;           // free space of the newest shared block
    char *end;
    MacroBucket **external;  // malloc: nodes holding a malloc'd value
    size_t external_count;
    size_t external_capacity;
};

// Bytes of an ordinary block; a larger node gets a block of its own.
constexpr size_t kBlockBytes = 64 * 1024;
constexpr size_t kAlign = alignof(MacroBucket);
constexpr size_t kHeader = (sizeof(Block) + kAlign - 1) / kAlign * kAlign;

// Ordinary blocks of cleared tables, kept for the next fill (a
// reconfiguration clears the table and at once reads the same sources
// again): handing back and faulting in megabytes of fresh pages at every
// load would cost more than reading the sources. At most kPoolBlocks.
constexpr size_t kPoolBlocks = 256;
Block *pool = nullptr;
size_t pool_count = 0;

Arena *arenas = nullptr;  // malloc
size_t arena_count = 0;
Arena *last_arena = nullptr;

void *allocate(size_t bytes) {
    void *memory = malloc(bytes);
    if (memory == nullptr) {
        EXCEPT("Out of memory storing configuration names");
    }
    return memory;
}

Arena *find(MacroBucket **table) {
    if (last_arena != nullptr && last_arena->table == table) {
        return last_arena;
    }
    for (size_t i = 0; i < arena_count; ++i) {
        if (arenas[i].table == table) {
            return last_arena = &arenas[i];
        }
    }
    return nullptr;
}

Arena *find_or_add(MacroBucket **table) {
    Arena *arena = find(table);
    if (arena != nullptr) {
        return arena;
    }
    for (size_t i = 0; i < arena_count; ++i) {
        if (arenas[i].table == nullptr) {
            arena = &arenas[i];
        }
    }
    if (arena == nullptr) {
        Arena *grown = static_cast<Arena *>(realloc(arenas, (arena_count + 1) * sizeof(Arena)));
        if (grown == nullptr) {
            EXCEPT("Out of memory storing configuration names");
        }
        arenas = grown;
        arena = &arenas[arena_count++];
    }
    *arena = Arena{table, nullptr, nullptr, nullptr, nullptr, 0, 0};
    return last_arena = arena;
}

// A new block of bytes usable bytes, linked into arena.
char *new_block(Arena *arena, size_t bytes) {
    Block *block = nullptr;
    if (bytes == kBlockBytes && pool != nullptr) {
        block = pool;
        pool = pool->previous;
        --pool_count;
    } else {
        block = static_cast<Block *>(allocate(kHeader + bytes));
        block->bytes = bytes;
    }
    block->previous = arena->blocks;
    arena->blocks = block;
    return reinterpret_cast<char *>(block) + kHeader;
}

}  // namespace

void *_torvel_macro_arena_alloc(MacroBucket **table, size_t bytes) {
    Arena *arena = find_or_add(table);
    bytes = (bytes + kAlign - 1) / kAlign * kAlign;
    if (bytes > kBlockBytes / 4) {
        return new_block(arena, bytes);  // the shared block stays current
    }
    if (arena->next == nullptr || static_cast<size_t>(arena->end - arena->next) < bytes) {
        arena->next = new_block(arena, kBlockBytes);
        arena->end = arena->next + kBlockBytes;
    }
    void *memory = arena->next;
    arena->next += bytes;
    return memory;
}

void _torvel_macro_arena_external(MacroBucket **table, MacroBucket *node) {
    Arena *arena = find_or_add(table);
    if (arena->external_count == arena->external_capacity) {
        size_t capacity = arena->external_capacity == 0 ? 16 : arena->external_capacity * 2;
        MacroBucket **grown =
            static_cast<MacroBucket **>(realloc(arena->external, capacity * sizeof(MacroBucket *)));
        if (grown == nullptr) {
            EXCEPT("Out of memory storing configuration values");
        }
        arena->external = grown;
        arena->external_capacity = capacity;
    }
    arena->external[arena->external_count++] = node;
}

void _torvel_macro_arena_release(MacroBucket **table) {
    Arena *arena = find(table);
    if (arena == nullptr) {
        return;
    }
    for (size_t i = 0; i < arena->external_count; ++i) {
        free(arena->external[i]->value);
    }
    free(arena->external);
    Block *block = arena->blocks;
    while (block != nullptr) {
        Block *previous = block->previous;
        if (block->bytes == kBlockBytes && pool_count < kPoolBlocks) {
            block->previous = pool;
            pool = block;
            ++pool_count;
        } else {
            free(block);
        }
        block = previous;
    }
    *arena = Arena{nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0};
}
