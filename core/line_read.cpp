// The EINTR-proof getline. Bytes are taken one at a time from the stream's
// buffer with the stream locked once, which costs little next to the read
// calls that fill it, and leaves no partial line behind when a read fails.
#include "core/line_read.h"

#include <errno.h>
#include <stdlib.h>

namespace {

constexpr size_t kFirstCapacity = 128;

// Makes room for at least needed bytes in *line. False when memory is short.
bool reserve(char **line, size_t *capacity, size_t needed) {
    if (*line != nullptr && *capacity >= needed) {
        return true;
    }
    size_t size = *line != nullptr && *capacity > 0 ? *capacity : kFirstCapacity;
    while (size < needed) {
        size *= 2;
    }
    char *grown = static_cast<char *>(realloc(*line, size));
    if (grown == nullptr) {
        errno = ENOMEM;
        return false;
    }
    *line = grown;
    *capacity = size;
    return true;
}

// The next byte of file, or EOF at its end or on an error other than EINTR.
// REQUIRES: file is locked by the caller.
int next_byte(FILE *file) {
    for (;;) {
        errno = 0;
        int c = getc_unlocked(file);
        if (c != EOF || !ferror_unlocked(file) || errno != EINTR) {
            return c;
        }
        clearerr_unlocked(file);
    }
}

}  // namespace

ssize_t _torvel_getline(char **line, size_t *capacity, FILE *file) {
    if (line == nullptr || capacity == nullptr || file == nullptr) {
        errno = EINVAL;
        return -1;
    }
    flockfile(file);
    size_t length = 0;
    bool short_of_memory = false;
    for (;;) {
        int c = next_byte(file);
        if (c == EOF) {
            break;
        }
        if (!reserve(line, capacity, length + 2)) {
            short_of_memory = true;
            break;
        }
        (*line)[length++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    funlockfile(file);
    if (short_of_memory || length == 0) {
        return -1;
    }
    (*line)[length] = '\0';
    return static_cast<ssize_t>(length);
}
