// The ClassAd scanner and its Token. Character classes are tested on the
// byte with the POSIX locale's rules, written out here so that neither the
// process locale nor a byte of 0x80 or more changes what a token is; floating
// literals are converted in the "C" locale for the same reason.
#include "classad/scanner.h"

#include <float.h>
#include <locale.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "core/c_locale.h"

namespace {

const int kInitialTextCapacity = 1024;

// Character classes by table, one lookup per byte.
enum CharClass : unsigned char {
    CC_SPACE = 1,
    CC_DIGIT = 2,
    CC_ALPHA = 4,
    CC_NAME = 8,    // continues an identifier: letters, digits, "_" and "."
    CC_PLAIN = 16,  // continues a plain name: the same without "."
};

struct ClassTable {
    unsigned char bits[256];
    ClassTable() : bits() {
        for (int c = 0; c < 256; c++) {
            bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            bool digit = c >= '0' && c <= '9';
            bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
            bits[c] = static_cast<unsigned char>(
                (space ? CC_SPACE : 0) | (digit ? CC_DIGIT : 0) | (alpha ? CC_ALPHA : 0) |
                (alpha || digit || c == '_' || c == '.' ? CC_NAME : 0) |
                (alpha || digit || c == '_' ? CC_PLAIN : 0));
        }
    }
};

const ClassTable kClassTable;

bool has_class(char c, unsigned char cls) {
    return (kClassTable.bits[static_cast<unsigned char>(c)] & cls) != 0;
}
bool is_space(char c) {
    return has_class(c, CC_SPACE);
}
bool is_alpha(char c) {
    return has_class(c, CC_ALPHA);
}
bool is_ident_char(char c) {
    return has_class(c, CC_NAME);
}
char to_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

struct Keyword {
    const char *text;  // upper case
    int length;
    LexemeType type;
    int value;
};

// Tried in this order; the first that matches wins.
const Keyword kKeywords[] = {
    {"ERROR", 5, LX_ERROR, 0}, {"UNDEFINED", 9, LX_UNDEFINED, 0}, {"TRUE", 4, LX_BOOL, 1},
    {"T", 1, LX_BOOL, 1},      {"FALSE", 5, LX_BOOL, 0},          {"F", 1, LX_BOOL, 0},
};

// Matches the keyword case-blind over exactly its length, and only when the
// next character cannot continue a name (a "." may follow).
bool matches_keyword(const char *s, const Keyword &k) {
    for (int i = 0; i < k.length; i++) {
        if (to_upper(s[i]) != k.text[i]) {
            return false;  // also stops at the terminator, which never matches
        }
    }
    char next = s[k.length];
    return !is_alpha(next) && !is_digit(next) && next != '_';
}

// Whether a word starting with c may be a keyword: every keyword starts
// with E, U, T or F.
bool may_be_keyword(char c) {
    char upper = to_upper(c);
    return upper == 'E' || upper == 'U' || upper == 'T' || upper == 'F';
}

void scan_word(char *&s, Token &token) {
    for (const Keyword &k : kKeywords) {
        if (!may_be_keyword(*s)) {
            break;
        }
        if (matches_keyword(s, k)) {
            token.type = k.type;
            token.intVal = k.value;
            token.length += k.length;
            s += k.length;
            return;
        }
    }
    const char *start = s;
    while (is_ident_char(*s)) {
        s++;
    }
    int n = static_cast<int>(s - start);
    token.setText(start, n);
    token.type = LX_VARIABLE;
    token.length += n;
}

// Single precision without relying on an out-of-range conversion.
float to_float(double d) {
    if (d > FLT_MAX) {
        return __builtin_inff();
    }
    if (d < -FLT_MAX) {
        return -__builtin_inff();
    }
    return static_cast<float>(d);
}

// A decimal of at most 15 digits without an exponent, digits at start up
// to dot and after it: its value is exactly its digits as an integer (below
// 2^53) over a power of ten (exact up to 10^22), and one division rounds
// that as strtod would. False, with nothing set, for any other number.
bool exact_decimal(const char *start, const char *dot, double &value, char *&end) {
    static const double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const int kMostDigits = 15;
    const char *p = dot + 1;
    while (is_digit(*p)) {
        p++;
    }
    long fraction_digits = p - dot - 1;
    if (*p == 'e' || *p == 'E' || (dot - start) + fraction_digits > kMostDigits) {
        return false;
    }
    uint64_t digits = 0;
    for (const char *q = start; q < p; q++) {
        if (q != dot) {
            digits = digits * 10 + static_cast<uint64_t>(*q - '0');
        }
    }
    value = static_cast<double>(digits) / kPowersOfTen[fraction_digits];
    end = const_cast<char *>(p);
    return true;
}

void scan_number(char *&s, Token &token) {
    char *start = s;
    char *p = s;
    while (is_digit(*p)) {
        p++;
    }
    if (*p == '.') {
        char *end = nullptr;
        double d = 0;
        if (!exact_decimal(start, p, d, end)) {
            d = strtod_l(start, &end, c_locale());
        }
        token.type = LX_FLOAT;
        token.floatVal = to_float(d);
        token.length += static_cast<int>(end - start);
        s = end;
        return;
    }
    // Saturate at the 64-bit limit; the value is the low 32 bits. Up to 18
    // digits cannot reach it.
    int64_t v = 0;
    const int kSafeDigits = 18;
    const char *q = start;
    for (const char *safe_end = p - start <= kSafeDigits ? p : start; q < safe_end; q++) {
        v = v * 10 + (*q - '0');
    }
    for (; q < p; q++) {
        int digit = *q - '0';
        if (v > (INT64_MAX - digit) / 10) {
            v = INT64_MAX;
        } else {
            v = v * 10 + digit;
        }
    }
    token.type = LX_INTEGER;
    token.intVal = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    token.length += static_cast<int>(p - start);
    s = p;
}

// A backslash that, with the quote after it, stands for one double quote:
// only when a character other than the end of the text, a newline or a
// carriage return follows the quote.
bool is_escaped_quote(const char *p) {
    return p[0] == '\\' && p[1] == '"' && p[2] != '\0' && p[2] != '\n' && p[2] != '\r';
}

void scan_string(char *&s, Token &token) {
    char *body = s + 1;
    // Most strings hold no backslash: then the text is the body as it is.
    const char *end = body;
    while (*end != '\0' && *end != '"' && *end != '\\') {
        end++;
    }
    if (*end == '"') {
        token.setText(body, static_cast<int>(end - body));
        token.type = LX_STRING;
        token.length += static_cast<int>(end + 1 - s);
        s = const_cast<char *>(end) + 1;
        return;
    }
    // First pass: find the end and the length of the unescaped text.
    int n = 0;
    const char *p = body;
    while (*p != '\0' && *p != '"') {
        p += is_escaped_quote(p) ? 2 : 1;
        n++;
    }
    if (*p == '\0') {
        token.type = LX_ERROR;
        token.length = 0;
        s = body;
        return;
    }
    if (n > token.capacity) {
        token.setText(body, n);  // grows the buffer; its bytes are rewritten below
    }
    char *out = token.text;
    for (const char *q = body; q < p;) {
        if (is_escaped_quote(q)) {
            *out++ = '"';
            q += 2;
        } else {
            *out++ = *q++;
        }
    }
    *out = '\0';
    token.type = LX_STRING;
    token.length += static_cast<int>(p + 1 - s);
    s = const_cast<char *>(p) + 1;
}

void scan_time(char *&s, Token &token) {
    char *body = s + 1;
    char *close = strchr(body, '\'');
    if (close == nullptr) {
        token.type = LX_ERROR;
        token.length = 0;
        s = body;
        return;
    }
    token.setText(body, static_cast<int>(close - body));
    token.type = LX_TIME;
    token.length += static_cast<int>(close + 1 - s);
    s = close + 1;
}

void emit(char *&s, Token &token, LexemeType type, int consumed) {
    token.type = type;
    token.length += consumed;
    s += consumed;
}

void scan_operator(char *&s, Token &token) {
    switch (*s) {
        case '\0':
            return emit(s, token, LX_EOF, 0);
        case '(':
            return emit(s, token, LX_LPAREN, 1);
        case ')':
            return emit(s, token, LX_RPAREN, 1);
        case '+':
            return emit(s, token, LX_ADD, 1);
        case '-':
            return emit(s, token, LX_SUB, 1);
        case '*':
            return emit(s, token, LX_MULT, 1);
        case '/':
            return emit(s, token, LX_DIV, 1);
        case '$':
            return emit(s, token, LX_DOLLAR, 1);
        case ',':
            return emit(s, token, LX_COMMA, 1);
        case ';':
            return emit(s, token, LX_SEMICOLON, 1);
        case '<':
            return s[1] == '=' ? emit(s, token, LX_LE, 2) : emit(s, token, LX_LT, 1);
        case '>':
            return s[1] == '=' ? emit(s, token, LX_GE, 2) : emit(s, token, LX_GT, 1);
        case '=':
            if (s[1] == '=') {
                return emit(s, token, LX_EQ, 2);
            }
            if (s[1] == '?' && s[2] == '=') {
                return emit(s, token, LX_META_EQ, 3);
            }
            if (s[1] == '!' && s[2] == '=') {
                return emit(s, token, LX_META_NEQ, 3);
            }
            return emit(s, token, LX_ASSIGN, 1);
        case '!':
            return s[1] == '=' ? emit(s, token, LX_NEQ, 2) : emit(s, token, LX_ERROR, 1);
        case '&':
            return s[1] == '&' ? emit(s, token, LX_AND, 2) : emit(s, token, LX_ERROR, 1);
        case '|':
            return s[1] == '|' ? emit(s, token, LX_OR, 2) : emit(s, token, LX_ERROR, 1);
        default:
            // Not consumed: scanning again here yields the same error.
            return emit(s, token, LX_ERROR, 0);
    }
}

}  // namespace

Token::Token()
    : intVal(0), type(LX_NONE), length(0), text(nullptr), capacity(kInitialTextCapacity) {
    text = new (torvel::or_die) char[kInitialTextCapacity + 1];
    reset();
}

Token::~Token() {
    delete[] text;
}

void Token::reset() {
    type = LX_NONE;
    length = 0;
    intVal = 0;
    text[0] = '\0';
}

void Token::setText(const char *s, int n) {
    if (n > capacity) {
        delete[] text;
        text = new (torvel::or_die) char[n + 1];
        capacity = n;
    }
    memcpy(text, s, n);
    text[n] = '\0';
}

bool ScannerIsSpace(char c) {
    return is_space(c);
}

const char *ScannerSkipSpace(const char *p) {
    while (is_space(*p)) {
        p++;
    }
    return p;
}

const char *ScannerPlainNameEnd(const char *p) {
    while (has_class(*p, CC_PLAIN)) {
        p++;
    }
    return p;
}

void Scanner(char *&cursor, Token &token) {
    while (is_space(*cursor)) {
        cursor++;
        token.length++;
    }
    char c = *cursor;
    if (is_alpha(c) || c == '_' || c == '.') {
        scan_word(cursor, token);
    } else if (is_digit(c)) {
        scan_number(cursor, token);
    } else if (c == '"') {
        scan_string(cursor, token);
    } else if (c == '\'') {
        scan_time(cursor, token);
    } else {
        scan_operator(cursor, token);
    }
}
