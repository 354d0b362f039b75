// Recognizing the commonest attribute text, "name = literal", without
// building a tree: the name a plain one (no prefix), the literal a number
// (a minus sign allowed), a string, a boolean, UNDEFINED or ERROR. The
// tokens are the scanner's, so what is recognized has exactly the values
// the parser would give it; anything else is left to the parser. Shares
// one process-wide pair of tokens, like the parser: not reentrant.
#ifndef TORVEL_CLASSAD_LITERAL_ASSIGNMENT_H_
#define TORVEL_CLASSAD_LITERAL_ASSIGNMENT_H_

#include <stddef.h>

#include "classad/lexeme_type.h"

struct LiteralAssignment {
    const char *name;  // NUL-terminated; borrowed until the next scan
    size_t nameLength;
    // LX_INTEGER, LX_BOOL (intValue 1 or 0), LX_FLOAT, LX_STRING,
    // LX_UNDEFINED or LX_ERROR.
    LexemeType kind;
    int intValue;
    float floatValue;
    const char *text;  // LX_STRING: the text unescaped; borrowed like name
};

// Whether text is such an assignment (white space around any token), with
// its parts in out.
bool ScanLiteralAssignment(const char *text, LiteralAssignment &out);
// Whether text alone is such a literal (white space around it, a minus
// sign before a number), with its kind and value in out; out's name is
// left as it is.
bool ScanLiteralValue(const char *text, LiteralAssignment &out);

#endif  // TORVEL_CLASSAD_LITERAL_ASSIGNMENT_H_
