// The node pool: size classes of 16-byte steps up to 128 bytes, each with a
// free list threaded through its free nodes, refilled from 64 KB blocks.
#include "classad/node_pool.h"

#include <new>

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

const size_t kStep = 16;
const size_t kClasses = 8;  // 16, 32, ..., 128 bytes
const size_t kBlockSize = 64 * 1024;
// Blocks start on a cache line, and the link to the next block takes the
// first line, so that nodes carved one after another (an attribute's
// assignment and its value) share lines as often as they can.
const size_t kLine = 64;

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
};

Pool &pool() {
    static Pool *p = new Pool;  // lives for the whole run
    return *p;
}

// The next piece of `bytes` from the newest block, opening a new block when
// the tail is too short (the old tail is left unused).
void *carve(Pool &p, size_t bytes) {
    if (p.cursor == nullptr || static_cast<size_t>(p.end - p.cursor) < bytes) {
        char *raw = static_cast<char *>(::operator new(kBlockSize, std::align_val_t(kLine)));
        Block *block = reinterpret_cast<Block *>(raw);
        block->next = p.blocks;
        p.blocks = block;
        p.cursor = raw + kLine;
        p.end = raw + kBlockSize;
    }
    void *piece = p.cursor;
    p.cursor += bytes;
    return piece;
}

}  // namespace

void *classad_node_alloc(size_t size) {
    size_t cls = (size + kStep - 1) / kStep;
    if (!kPooled || size == 0 || cls > kClasses) {
        return ::operator new(size);
    }
    Pool &p = pool();
    FreeNode *node = p.free[cls - 1];
    if (node != nullptr) {
        p.free[cls - 1] = node->next;
        return node;
    }
    return carve(p, cls * kStep);
}

void classad_node_free(void *ptr, size_t size) {
    if (ptr == nullptr) {
        return;
    }
    size_t cls = (size + kStep - 1) / kStep;
    if (!kPooled || size == 0 || cls > kClasses) {
        ::operator delete(ptr);
        return;
    }
    Pool &p = pool();
    FreeNode *node = static_cast<FreeNode *>(ptr);
    node->next = p.free[cls - 1];
    p.free[cls - 1] = node;
}
