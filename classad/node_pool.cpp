// The node pool: size classes of 16, 32, 64 and 128 bytes, each with a free
// list threaded through its free nodes, refilled from 64 KB blocks. A piece
// is carved at a multiple of its size (of a cache line at most), so no node
// of 64 bytes or less straddles two lines.
#include "classad/node_pool.h"

#include <stdint.h>

#include <new>

#include "core/allocation.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
const bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kPooled = false;
#else
const bool kPooled = true;
#endif
#else
const bool kPooled = true;
#endif

const size_t kClasses = 4;  // 16, 32, 64, 128 bytes
const size_t kLargest = 128;
const size_t kBlockSize = 64 * 1024;
// Blocks start on a cache line, and the link to the next block takes the
// first line, so that nodes carved one after another (an attribute's
// assignment and its value) share lines as often as they can.
const size_t kLine = 64;

// The class of a size: 0 for 1..16 bytes, 1 up to 32, 2 up to 64, 3 up to
// 128.
size_t class_of(size_t size) {
    return size <= 16 ? 0 : size <= 32 ? 1 : size <= 64 ? 2 : 3;
}

struct FreeNode {
    FreeNode *next;
};

struct Block {
    Block *next;
};

struct Pool {
    FreeNode *free[kClasses] = {};
    Block *blocks = nullptr;  // every block, so all stay reachable
    char *cursor = nullptr;   // unused tail of the newest block
    char *end = nullptr;
    size_t in_use = 0;       // bytes of the pieces handed out
    size_t block_bytes = 0;  // bytes of every block
};

Pool &pool() {
    static Pool *p = new (torvel::or_die) Pool;  // lives for the whole run
    return *p;
}

// The next piece of `bytes` from the newest block, opening a new block when
// the tail is too short (the old tail is left unused).
void *carve(Pool &p, size_t bytes) {
    size_t align = bytes < kLine ? bytes : kLine;
    if (p.cursor != nullptr) {
        size_t offset = static_cast<size_t>(reinterpret_cast<uintptr_t>(p.cursor) % align);
        p.cursor += offset != 0 ? align - offset : 0;
    }
    if (p.cursor == nullptr || p.cursor > p.end || static_cast<size_t>(p.end - p.cursor) < bytes) {
        // One line more than a block, so that the block can start on a line.
        char *raw = new (torvel::or_die) char[kBlockSize + kLine];
        char *start = raw + (kLine - reinterpret_cast<uintptr_t>(raw) % kLine) % kLine;
        Block *block = reinterpret_cast<Block *>(start);
        block->next = p.blocks;
        p.blocks = block;
        p.block_bytes += kBlockSize + kLine;
        p.cursor = start + kLine;
        p.end = start + kBlockSize;
    }
    void *piece = p.cursor;
    p.cursor += bytes;
    return piece;
}

}  // namespace

void *classad_node_alloc(size_t size) {
    if (!kPooled || size == 0 || size > kLargest) {
        return operator new(size, torvel::or_die);
    }
    Pool &p = pool();
    size_t cls = class_of(size);
    p.in_use += static_cast<size_t>(16) << cls;
    FreeNode *node = p.free[cls];
    if (node != nullptr) {
        p.free[cls] = node->next;
        return node;
    }
    return carve(p, static_cast<size_t>(16) << cls);
}

void classad_node_free(void *ptr, size_t size) {
    if (ptr == nullptr) {
        return;
    }
    if (!kPooled || size == 0 || size > kLargest) {
        ::operator delete(ptr);
        return;
    }
    Pool &p = pool();
    size_t cls = class_of(size);
    p.in_use -= static_cast<size_t>(16) << cls;
    FreeNode *node = static_cast<FreeNode *>(ptr);
    node->next = p.free[cls];
    p.free[cls] = node;
}

ClassadNodePoolUse classad_node_pool_use() {
    const Pool &p = pool();
    return {p.in_use, p.block_bytes};
}
