// Measuring and bounding printf-style output. Also delivered alone as the
// relocatable object bounded_printf, so it depends on nothing but libc.
#ifndef TORVEL_CORE_BOUNDED_PRINTF_H_
#define TORVEL_CORE_BOUNDED_PRINTF_H_

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

// Length of the formatted text without terminator, or -1 if it cannot be
// measured. The caller's va_list stays usable.
int printf_length(const char *format, ...) __attribute__((format(printf, 1, 2)));
int vprintf_length(const char *format, va_list args);

// Formats into buffer, never writing more than size bytes including the
// terminator. Returns the length of the complete text (even when cut), or -1.
// A size of 0 or less writes nothing and returns the length.
int torvel_snprintf(char *buffer, int size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int torvel_vsnprintf(char *buffer, int size, const char *format, va_list args);

#ifdef __cplusplus
}
#endif

#endif  // TORVEL_CORE_BOUNDED_PRINTF_H_
