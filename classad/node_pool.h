// Memory for expression-tree nodes. Nodes are small, made and freed in
// great numbers (every parse, copy and attribute), and a tree is walked
// right after it is built, so they come from size classes carved out of
// large blocks: no allocator call per node in the common case, and the
// nodes of one tree sit next to each other.
//
// Freed nodes go back to their class's free list and are reused by later
// nodes; the blocks themselves are kept until the process ends (reachable
// from the pool, never leaked). Sizes above the largest class, and every
// node in sanitizer builds (so that use after free is still caught), go to
// the global operator new. Process-wide, single-threaded like the trees.
#ifndef TORVEL_CLASSAD_NODE_POOL_H_
#define TORVEL_CLASSAD_NODE_POOL_H_

#include <stddef.h>

// size bytes aligned for any node. Never null (allocation failure ends the
// process as the global operator new does).
void *classad_node_alloc(size_t size);
// Returns a node's memory. REQUIRES: p came from classad_node_alloc(size).
void classad_node_free(void *p, size_t size);

// What the pool holds, for measuring: the bytes of the pieces handed out
// and not returned (in their size classes), and the bytes of the blocks it
// took from the heap.
struct ClassadNodePoolUse {
    size_t in_use;
    size_t blocks;
};
ClassadNodePoolUse classad_node_pool_use();

#endif  // TORVEL_CLASSAD_NODE_POOL_H_
