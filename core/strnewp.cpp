// strnewp: duplicating a text into a new[] array. An exhausted heap ends the
// process through the fatal-error path, so the result is null only for null.
#include "core/strnewp.h"

#include <string.h>

#include "core/allocation.h"

char *strnewp(const char *s) {
    if (s == nullptr) {
        return nullptr;
    }
    size_t size = strlen(s) + 1;
    char *copy = new (torvel::or_die) char[size];
    memcpy(copy, s, size);
    return copy;
}
