// The EINTR-proof getline. The stream is locked once; what its buffer holds
// is taken a line at a time where the C library lets us see the buffer, and
// a byte at a time otherwise, which also refills it and leaves no partial
// line behind when a read fails.
#include "core/line_read.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

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

#if defined(__GLIBC__)
// The bytes of the stream's buffer up to and including the first newline
// (or all of them), appended to *line and taken from the buffer: the common
// case, a whole line already buffered, costs one memchr and one memcpy.
// Whether a newline ended them. REQUIRES: file is locked by the caller.
bool take_buffered(FILE *file, char **line, size_t *capacity, size_t &length,
                   bool &short_of_memory) {
    char *start = file->_IO_read_ptr;
    size_t available = static_cast<size_t>(file->_IO_read_end - start);
    if (file->_IO_read_ptr == nullptr || available == 0) {
        return false;
    }
    const char *newline = static_cast<const char *>(memchr(start, '\n', available));
    size_t n = newline != nullptr ? static_cast<size_t>(newline - start) + 1 : available;
    if (!reserve(line, capacity, length + n + 1)) {
        short_of_memory = true;
        return false;
    }
    memcpy(*line + length, start, n);
    length += n;
    file->_IO_read_ptr = start + n;
    return newline != nullptr;
}
#else
bool take_buffered(FILE *, char **, size_t *, size_t &, bool &) {
    return false;
}
#endif

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
        if (take_buffered(file, line, capacity, length, short_of_memory)) {
            break;
        }
        if (short_of_memory) {
            break;
        }
        // The buffer is empty: a byte at a time refills it.
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
