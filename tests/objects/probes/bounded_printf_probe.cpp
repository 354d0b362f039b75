// Test program linked with bounded_printf.o alone: runs the bounded
// formatting functions on fixed cases and prints one key=value line per
// result for objects_tests to check.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "core/bounded_printf.h"

namespace {
// Formats 123456 into a size-byte window of a larger buffer and reports the
// result, the stored text and whether the bytes past the window survived.
void report_cut(const char *key, int size) {
    char buffer[16];
    memset(buffer, 'X', sizeof buffer);
    int length = torvel_snprintf(buffer, size, "%d", 123456);
    bool untouched = true;
    for (size_t i = static_cast<size_t>(size); i < sizeof buffer; ++i) {
        untouched = untouched && buffer[i] == 'X';
    }
    printf("%s.result=%d\n%s.text=%s\n%s.untouched=%d\n", key, length, key, buffer, key,
           untouched ? 1 : 0);
}

// Uses one va_list twice: measuring must leave the caller's list usable.
void report_reuse(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int measured = vprintf_length(format, args);
    char buffer[32];
    int length = torvel_vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    printf("reuse.measured=%d\nreuse.result=%d\nreuse.text=%s\n", measured, length, buffer);
}
}  // namespace

int main() {
    report_cut("cut4", 4);
    report_cut("cut7", 7);
    printf("length=%d\n", printf_length("%s-%d", "ab", 7));
    report_reuse("%s:%d", "key", 42);
    return 0;
}
