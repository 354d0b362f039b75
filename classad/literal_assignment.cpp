// The literal-assignment recognizer: four or five scanner tokens, checked
// in order; the negation of a number is the one the parser applies to a
// literal under a unary minus.
#include "classad/literal_assignment.h"

#include <string.h>

#include "classad/scanner.h"
#include "core/allocation.h"

namespace {

// The name's token, the value's, and one for the tokens between and after.
struct Tokens {
    Token name;
    Token value;
    Token other;
};

Tokens &tokens() {
    static Tokens *t = new (torvel::or_die) Tokens;  // lives for the whole run
    return *t;
}

LexemeType scan(char *&cursor, Token &token) {
    token.reset();
    Scanner(cursor, token);
    return token.type;
}

bool is_literal(LexemeType kind) {
    return kind == LX_INTEGER || kind == LX_FLOAT || kind == LX_STRING || kind == LX_BOOL ||
           kind == LX_UNDEFINED || kind == LX_ERROR;
}

}  // namespace

bool ScanLiteralAssignment(const char *text, LiteralAssignment &out) {
    Tokens &t = tokens();
    char *cursor = const_cast<char *>(text);  // the scanner only reads
    if (scan(cursor, t.name) != LX_VARIABLE || strchr(t.name.text, '.') != nullptr ||
        scan(cursor, t.other) != LX_ASSIGN) {
        return false;
    }
    LexemeType kind = scan(cursor, t.value);
    bool negated = kind == LX_SUB;
    if (negated) {
        kind = scan(cursor, t.value);
        if (kind != LX_INTEGER && kind != LX_FLOAT) {
            return false;
        }
    }
    if (!is_literal(kind)) {
        return false;
    }
    out.name = t.name.text;
    out.kind = kind;
    out.text = t.value.text;
    out.intValue = 0;
    out.floatValue = 0;
    if (kind == LX_FLOAT) {
        out.floatValue = negated ? -t.value.floatVal : t.value.floatVal;
    } else if (kind != LX_STRING) {
        // Wraps as the scanner's values do.
        unsigned v = static_cast<unsigned>(t.value.intVal);
        out.intValue = static_cast<int>(negated ? 0u - v : v);
    }
    return scan(cursor, t.other) == LX_EOF;
}
