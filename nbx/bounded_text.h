// A line of log text built piece by piece in a fixed buffer: every piece is
// formatted into what room is left and cut there, never written past the
// end, and the text stays terminated.
#ifndef TORVEL_NBX_BOUNDED_TEXT_H_
#define TORVEL_NBX_BOUNDED_TEXT_H_

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

template <size_t Size>
struct BoundedText {
    char text[Size];
    size_t length = 0;

    BoundedText() { text[0] = '\0'; }

    void add(const char *format, ...) __attribute__((format(printf, 2, 3))) {
        if (length + 1 >= sizeof text) return;
        va_list args;
        va_start(args, format);
        int used = vsnprintf(text + length, sizeof text - length, format, args);
        va_end(args);
        if (used > 0) {
            length += static_cast<size_t>(used);
            if (length >= sizeof text) length = sizeof text - 1;
        }
    }
};

#endif  // TORVEL_NBX_BOUNDED_TEXT_H_
