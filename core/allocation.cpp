// The allocation operators behind `new (torvel::or_die)`: the global nothrow
// allocators, with an exhausted heap sent down the fatal-error path.
#include "core/allocation.h"

#include <errno.h>
#include <stdlib.h>

#include <new>

#include "diagnostics/except.h"

namespace {

[[noreturn]] void out_of_memory(std::size_t size) {
    _EXCEPT_Line = __LINE__;
    _EXCEPT_File = "allocation";
    _EXCEPT_Errno = ENOMEM;
    _EXCEPT_("Out of memory (%zu bytes)", size);
}

}  // namespace

void *torvel::MallocOrDie(std::size_t size) {
    void *memory = malloc(size);
    if (memory == nullptr) {
        out_of_memory(size);
    }
    return memory;
}

void *operator new(std::size_t size, torvel::OrDie) {
    void *memory = ::operator new(size, std::nothrow);
    if (memory == nullptr) {
        out_of_memory(size);
    }
    return memory;
}

void *operator new[](std::size_t size, torvel::OrDie) {
    void *memory = ::operator new[](size, std::nothrow);
    if (memory == nullptr) {
        out_of_memory(size);
    }
    return memory;
}

void operator delete(void *memory, torvel::OrDie) noexcept {
    ::operator delete(memory);
}

void operator delete[](void *memory, torvel::OrDie) noexcept {
    ::operator delete[](memory);
}
