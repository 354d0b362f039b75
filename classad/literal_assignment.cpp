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

bool is_letter(char c) {
    char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'z';
}

// Whether the n letters at s spell word (lower case) in any case.
bool spells(const char *s, size_t n, const char *word) {
    for (size_t i = 0; i < n; i++) {
        if ((s[i] | 0x20) != word[i]) {
            return false;
        }
    }
    return true;
}

// Whether the n name characters at s spell a word the scanner takes for a
// keyword (in any case).
bool is_keyword(const char *s, size_t n) {
    switch (n) {
        case 1:
            return spells(s, n, "t") || spells(s, n, "f");
        case 4:
            return spells(s, n, "true");
        case 5:
            return spells(s, n, "error") || spells(s, n, "false");
        case 9:
            return spells(s, n, "undefined");
        default:
            return false;
    }
}

// The value and its kind from the token; false when it is no literal.
bool take_value(const Token &value, bool negated, LiteralAssignment &out) {
    LexemeType kind = value.type;
    if (negated ? kind != LX_INTEGER && kind != LX_FLOAT : !is_literal(kind)) {
        return false;
    }
    out.kind = kind;
    out.text = value.text;
    out.intValue = 0;
    out.floatValue = 0;
    if (kind == LX_FLOAT) {
        out.floatValue = negated ? -value.floatVal : value.floatVal;
    } else if (kind != LX_STRING) {
        // Wraps as the scanner's values do.
        unsigned v = static_cast<unsigned>(value.intVal);
        out.intValue = static_cast<int>(negated ? 0u - v : v);
    }
    return true;
}

enum Shape {
    OTHER_SHAPE,  // may still be a literal assignment: ask the tokens
    LITERAL,
    NOT_LITERAL,
};

// The common shape read directly: a plain name that is no keyword, a lone
// "=", a value the scanner reads as one literal token, then only white
// space.
Shape scan_direct(const char *text, LiteralAssignment &out) {
    Tokens &t = tokens();
    const char *p = ScannerSkipSpace(text);
    const char *start = p;
    if (!is_letter(*p) && *p != '_') {
        return OTHER_SHAPE;
    }
    p = ScannerPlainNameEnd(p);
    size_t n = static_cast<size_t>(p - start);
    if (*p == '.' || is_keyword(start, n)) {
        return OTHER_SHAPE;
    }
    p = ScannerSkipSpace(p);
    if (p[0] != '=' || p[1] == '=' || ((p[1] == '?' || p[1] == '!') && p[2] == '=')) {
        return OTHER_SHAPE;
    }
    p = ScannerSkipSpace(p + 1);
    if (*p == '-') {
        return OTHER_SHAPE;
    }
    t.name.setText(start, static_cast<int>(n));
    char *cursor = const_cast<char *>(p);  // the scanner only reads
    t.value.reset();
    Scanner(cursor, t.value);
    if (!take_value(t.value, false, out)) {
        return NOT_LITERAL;
    }
    out.name = t.name.text;
    out.nameLength = n;
    return *ScannerSkipSpace(cursor) == '\0' ? LITERAL : NOT_LITERAL;
}

// The value's tokens from cursor on: a literal (a number may be negated),
// then the end.
bool scan_value(char *cursor, LiteralAssignment &out) {
    Tokens &t = tokens();
    LexemeType kind = scan(cursor, t.value);
    bool negated = kind == LX_SUB;
    if (negated) {
        scan(cursor, t.value);
    }
    return take_value(t.value, negated, out) && scan(cursor, t.other) == LX_EOF;
}

}  // namespace

bool ScanLiteralValue(const char *text, LiteralAssignment &out) {
    return scan_value(const_cast<char *>(text), out);  // the scanner only reads
}

bool ScanLiteralAssignment(const char *text, LiteralAssignment &out) {
    Shape shape = scan_direct(text, out);
    if (shape != OTHER_SHAPE) {
        return shape == LITERAL;
    }
    Tokens &t = tokens();
    char *cursor = const_cast<char *>(text);  // the scanner only reads
    if (scan(cursor, t.name) != LX_VARIABLE || strchr(t.name.text, '.') != nullptr ||
        scan(cursor, t.other) != LX_ASSIGN || !scan_value(cursor, out)) {
        return false;
    }
    out.name = t.name.text;
    out.nameLength = strlen(out.name);
    return true;
}
