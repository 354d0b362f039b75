// Memory for the nodes of macro tables. Each table's nodes (with their
// names and first values) are carved from large blocks that belong to the
// table, so that storing thousands of names costs a few mallocs and a clear
// frees a few blocks instead of walking every chain. A value that replaces
// a node's first value is malloc'd; the node is recorded so that the clear
// frees that value too. Tables are told apart by the address of their
// heads. Process-wide, unlocked state.
#ifndef TORVEL_CONFIG_MACRO_ARENA_H_
#define TORVEL_CONFIG_MACRO_ARENA_H_

#include <stddef.h>

#include "config/macro_table.h"

// bytes bytes, aligned for a MacroBucket, owned by table's arena until
// _torvel_macro_arena_release. Ends the process when the heap is exhausted.
void *_torvel_macro_arena_alloc(MacroBucket **table, size_t bytes);

// Records that node, of table, now holds a malloc'd value.
// REQUIRES: called once per node, when its first value is replaced.
void _torvel_macro_arena_external(MacroBucket **table, MacroBucket *node);

// Frees table's blocks and the malloc'd value of every recorded node.
void _torvel_macro_arena_release(MacroBucket **table);

#endif  // TORVEL_CONFIG_MACRO_ARENA_H_
