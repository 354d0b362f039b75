// The printed texts of literal values, written straight into a caller's
// buffer: integers and floats without the formatted-output machinery of
// the C library (a float prints exactly as "%f" of its value prints in the
// "C" locale), strings quoted with their quotes escaped. Shared by the
// expression printer and by attributes kept without a tree.
#ifndef TORVEL_CLASSAD_LITERAL_TEXT_H_
#define TORVEL_CLASSAD_LITERAL_TEXT_H_

#include <stddef.h>

namespace literal_text {

// Room enough for any printed int or float (a float of 39 digits, its
// sign, point and 6 decimals).
const int kNumberRoom = 64;

// "%d" of v, except that a negative value followed by an operator prints
// as its unsigned 32-bit equivalent, which reads back as the same value.
// REQUIRES: buf has kNumberRoom bytes. Returns the length (no NUL written).
int FormatInt(char *buf, int v, bool followed);

// "%f" of v in the "C" locale. REQUIRES: buf has kNumberRoom bytes.
// Returns the length (no NUL written).
int FormatFloat(char *buf, float v);

// The length of text once quoted: its bytes, a backslash before each '"',
// and the two quotes.
size_t QuotedLength(const char *text);
// Writes text quoted at end; returns the end of what was written.
char *PrintQuoted(char *end, const char *text);

}  // namespace literal_text

#endif  // TORVEL_CLASSAD_LITERAL_TEXT_H_
