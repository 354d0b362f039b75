// A bounded, printable quotation of a line of outside input for an error
// message: a hostile or binary line must neither flood standard error or a
// log nor carry control bytes into it. Touches no process-wide state.
#ifndef TORVEL_CORE_LINE_EXCERPT_H_
#define TORVEL_CORE_LINE_EXCERPT_H_

#include <stddef.h>

#include "core/my_string.h"

// The most bytes of a line an excerpt quotes.
constexpr size_t kLineExcerptBytes = 200;

// At most the first kLineExcerptBytes bytes of line[0, length), with
// backslash, double quote and every byte outside printable ASCII written as
// C escapes ("\n", "\t", "\\", "\"", "\x7f"). When the line is longer, the
// excerpt ends with "..." and " (N bytes)" saying how long the line was.
// line may hold NULs and need not be NUL-terminated; null is "".
MyString line_excerpt(const char *line, size_t length);

// The same for a NUL-terminated line (null is "").
MyString line_excerpt(const char *line);

#endif  // TORVEL_CORE_LINE_EXCERPT_H_
