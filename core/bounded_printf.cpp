// Measuring and bounding printf-style output. Measuring formats into a null
// buffer: the count is the same as printing to /dev/null and it costs no
// descriptor per call.
#include "core/bounded_printf.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C" int vprintf_length(const char *format, va_list args) {
    if (format == nullptr) {
        return -1;
    }
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    return length < 0 ? -1 : length;
}

extern "C" int printf_length(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = vprintf_length(format, args);
    va_end(args);
    return length;
}

extern "C" int torvel_vsnprintf(char *buffer, int size, const char *format, va_list args) {
    int length = vprintf_length(format, args);
    if (length < 0 || size <= 0 || buffer == nullptr) {
        return length;
    }
    va_list copy;
    va_copy(copy, args);
    // vsnprintf already cuts at size - 1 and terminates; no temporary needed.
    int written = vsnprintf(buffer, static_cast<size_t>(size), format, copy);
    va_end(copy);
    return written < 0 ? -1 : length;
}

extern "C" int torvel_snprintf(char *buffer, int size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = torvel_vsnprintf(buffer, size, format, args);
    va_end(args);
    return length;
}
