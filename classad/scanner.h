// The ClassAd scanner: turns the text of one expression into tokens, one per
// call, for the recursive-descent parser. It works on a cursor into a
// NUL-terminated text, keeps no state between calls, never reads past the
// terminator, and reports every malformed token as an LX_ERROR token instead
// of failing. Character classes are the POSIX locale's whatever the process
// locale; numbers are read the same way.
#ifndef TORVEL_CLASSAD_SCANNER_H_
#define TORVEL_CLASSAD_SCANNER_H_

#include "classad/lexeme_type.h"

// One scanned token. The value is one 32-bit slot: intVal for LX_INTEGER and
// LX_BOOL (1 true, 0 false), floatVal for LX_FLOAT. text holds the text of an
// LX_VARIABLE, LX_STRING or LX_TIME token; it is owned by the token, grows to
// the longest text stored and never shrinks.
class Token {
 public:
    // Allocates a text buffer of 1025 bytes (capacity 1024), then resets.
    Token();
    ~Token();
    Token(const Token &) = delete;
    Token &operator=(const Token &) = delete;

    // Type LX_NONE, length 0, value 0, empty text; keeps the buffer.
    void reset();
    // Stores n bytes of s as the text; a longer text than the capacity
    // replaces the buffer by one of exactly n + 1 bytes.
    void setText(const char *s, int n);

    union {
        int intVal;
        float floatVal;
    };
    LexemeType type;
    // Characters consumed by the scans since the last reset, leading white
    // space included; the parser sums these into its failure position.
    int length;
    char *text;    // new[]; NUL-terminated
    int capacity;  // bytes the text can hold, not counting the terminator
};

// Reads the next token starting at cursor, advances cursor past everything
// consumed and fills token. REQUIRES: token was reset by the caller (the scan
// adds to length and overwrites type, value and text).
void Scanner(char *&cursor, Token &token);

// Whether the scanner skips c as white space before a token.
bool ScannerIsSpace(char c);
// The first character at or after p that is no such white space.
const char *ScannerSkipSpace(const char *p);
// The end of the run of letters, digits and "_" at p (p itself when none).
const char *ScannerPlainNameEnd(const char *p);

#endif  // TORVEL_CLASSAD_SCANNER_H_
