// strnewp: duplicating a text into a new[] array. Uses the non-throwing
// form of new so a memory shortage is a null result, not an exception.
#include "core/strnewp.h"

#include <string.h>

#include <new>

char *strnewp(const char *s) {
    if (s == nullptr) {
        return nullptr;
    }
    size_t size = strlen(s) + 1;
    char *copy = new (std::nothrow) char[size];
    if (copy != nullptr) {
        memcpy(copy, s, size);
    }
    return copy;
}
