// Bounded, printable quotations of outside input for error messages.
#include "core/line_excerpt.h"

#include <string.h>

namespace {

void append_escaped(MyString *out, unsigned char c) {
    switch (c) {
        case '\n':
            *out += "\\n";
            return;
        case '\t':
            *out += "\\t";
            return;
        case '\r':
            *out += "\\r";
            return;
        case '\\':
            *out += "\\\\";
            return;
        case '"':
            *out += "\\\"";
            return;
        default:
            break;
    }
    if (c >= 0x20 && c < 0x7f) {
        *out += static_cast<char>(c);
    } else {
        out->sprintf_cat("\\x%02x", c);
    }
}

}  // namespace

MyString line_excerpt(const char *line, size_t length) {
    MyString out;
    if (line == nullptr) {
        return out;
    }
    size_t shown = length < kLineExcerptBytes ? length : kLineExcerptBytes;
    for (size_t i = 0; i < shown; ++i) {
        append_escaped(&out, static_cast<unsigned char>(line[i]));
    }
    if (shown < length) {
        out.sprintf_cat("... (%zu bytes)", length);
    }
    return out;
}

MyString line_excerpt(const char *line) {
    return line_excerpt(line, line == nullptr ? 0 : strlen(line));
}
