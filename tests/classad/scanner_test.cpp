// Tests of the ClassAd scanner: every token kind with its consumed length,
// keywords and their boundaries, number conversion (saturation, single
// precision, the "C" locale), string escapes, time literals, and the error
// token for every malformed input.
#include "classad/scanner.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

struct Scanned {
    LexemeType type;
    int length;
    int intVal;
    float floatVal;
    std::string text;
    int consumed;  // how far the cursor moved
};

class ScannerTest : public ::testing::Test {
 protected:
    // Scans one token from text (kept in buffer_ so the cursor stays valid).
    Scanned ScanOne(const std::string &text) {
        buffer_.assign(text.begin(), text.end());
        buffer_.push_back('\0');
        char *cursor = buffer_.data();
        return Next(cursor);
    }

    Scanned Next(char *&cursor) {
        char *start = cursor;
        token_.reset();
        Scanner(cursor, token_);
        return Scanned{token_.type,     token_.length, token_.intVal,
                       token_.floatVal, token_.text,   static_cast<int>(cursor - start)};
    }

    // Every token type up to and including LX_EOF.
    std::vector<LexemeType> Types(const std::string &text) {
        buffer_.assign(text.begin(), text.end());
        buffer_.push_back('\0');
        char *cursor = buffer_.data();
        std::vector<LexemeType> types;
        for (int guard = 0; guard < 100; guard++) {
            Scanned s = Next(cursor);
            types.push_back(s.type);
            if (s.type == LX_EOF || (s.type == LX_ERROR && s.consumed == 0)) {
                break;
            }
        }
        return types;
    }

    std::vector<char> buffer_;
    Token token_;
};

TEST_F(ScannerTest, NewTokenIsResetWithRoomFor1024) {
    Token t;
    EXPECT_EQ(LX_NONE, t.type);
    EXPECT_EQ(0, t.length);
    EXPECT_EQ(0, t.intVal);
    EXPECT_STREQ("", t.text);
    EXPECT_EQ(1024, t.capacity);
}

TEST_F(ScannerTest, IdentifierCountsLeadingBlanks) {
    Scanned s = ScanOne("  x");
    EXPECT_EQ(LX_VARIABLE, s.type);
    EXPECT_EQ("x", s.text);
    EXPECT_EQ(3, s.length);
    EXPECT_EQ(3, s.consumed);
}

TEST_F(ScannerTest, IdentifiersKeepScopePrefixesAndDots) {
    Scanned s = ScanOne("MY.Memory >= 64");
    EXPECT_EQ(LX_VARIABLE, s.type);
    EXPECT_EQ("MY.Memory", s.text);
    EXPECT_EQ(9, s.length);
    EXPECT_EQ("_a.b_9", ScanOne("_a.b_9+").text);
    EXPECT_EQ(".5", ScanOne(".5").text);
}

TEST_F(ScannerTest, KeywordsAreCaseBlindAndWholeWords) {
    const char *bools_true[] = {"TrUe", "true", "T", "t"};
    for (const char *k : bools_true) {
        Scanned s = ScanOne(k);
        EXPECT_EQ(LX_BOOL, s.type) << k;
        EXPECT_EQ(1, s.intVal) << k;
        EXPECT_EQ(static_cast<int>(strlen(k)), s.length) << k;
    }
    const char *bools_false[] = {"FALSE", "f", "False"};
    for (const char *k : bools_false) {
        Scanned s = ScanOne(k);
        EXPECT_EQ(LX_BOOL, s.type) << k;
        EXPECT_EQ(0, s.intVal) << k;
    }
    EXPECT_EQ(LX_UNDEFINED, ScanOne("undefined").type);
    EXPECT_EQ(LX_ERROR, ScanOne("ERROR").type);
    EXPECT_EQ(5, ScanOne("error").length);
    const char *identifiers[] = {"T1", "T_", "Fx", "TRUEX", "Tx", "errors", "UNDEFINED_"};
    for (const char *k : identifiers) {
        Scanned s = ScanOne(k);
        EXPECT_EQ(LX_VARIABLE, s.type) << k;
        EXPECT_EQ(k, s.text);
    }
}

TEST_F(ScannerTest, DotDoesNotExtendAKeyword) {
    std::vector<char> text = {'T', '.', 'x', '\0'};
    char *cursor = text.data();
    Scanned first = Next(cursor);
    EXPECT_EQ(LX_BOOL, first.type);
    EXPECT_EQ(1, first.intVal);
    EXPECT_EQ(1, first.length);
    Scanned second = Next(cursor);
    EXPECT_EQ(LX_VARIABLE, second.type);
    EXPECT_EQ(".x", second.text);
}

TEST_F(ScannerTest, Integers) {
    Scanned s = ScanOne("12");
    EXPECT_EQ(LX_INTEGER, s.type);
    EXPECT_EQ(12, s.intVal);
    EXPECT_EQ(2, s.length);
    EXPECT_EQ(2147483647, ScanOne("2147483647").intVal);
    // The low 32 bits of the 64-bit value.
    EXPECT_EQ(0, ScanOne("4294967296").intVal);
    EXPECT_EQ(static_cast<int>(0x80000000u), ScanOne("2147483648").intVal);
    EXPECT_EQ(1, ScanOne("4294967297").intVal);
    // Saturates at the 64-bit maximum, whose low 32 bits are all ones.
    Scanned big = ScanOne("123456789012345678901234567890");
    EXPECT_EQ(LX_INTEGER, big.type);
    EXPECT_EQ(-1, big.intVal);
    EXPECT_EQ(30, big.length);
    EXPECT_EQ(-1, ScanOne("9223372036854775807").intVal);
    EXPECT_EQ(0, ScanOne("9223372036854775808").intVal + 1);
}

TEST_F(ScannerTest, NoExponentOrHexWithoutAPoint) {
    EXPECT_EQ((std::vector<LexemeType>{LX_INTEGER, LX_VARIABLE, LX_EOF}), Types("1e3"));
    Scanned s = ScanOne("1e3");
    EXPECT_EQ(1, s.intVal);
    EXPECT_EQ(1, s.length);
    EXPECT_EQ((std::vector<LexemeType>{LX_INTEGER, LX_VARIABLE, LX_EOF}), Types("0x10"));
    EXPECT_EQ((std::vector<LexemeType>{LX_SUB, LX_INTEGER, LX_EOF}), Types("-5"));
}

TEST_F(ScannerTest, Floats) {
    Scanned s = ScanOne("12.5");
    EXPECT_EQ(LX_FLOAT, s.type);
    EXPECT_EQ(12.5f, s.floatVal);
    EXPECT_EQ(4, s.length);
    Scanned e = ScanOne("1.5e3");
    EXPECT_EQ(LX_FLOAT, e.type);
    EXPECT_EQ(1500.0f, e.floatVal);
    EXPECT_EQ(5, e.length);
    Scanned trailing = ScanOne("1.");
    EXPECT_EQ(LX_FLOAT, trailing.type);
    EXPECT_EQ(1.0f, trailing.floatVal);
    EXPECT_EQ(2, trailing.length);
    EXPECT_EQ(100000.0f, ScanOne("1.e5").floatVal);
    EXPECT_EQ(0.001f, ScanOne("1.0E-3").floatVal);
    // An exponent without digits is not taken.
    EXPECT_EQ((std::vector<LexemeType>{LX_FLOAT, LX_VARIABLE, LX_EOF}), Types("1.5e"));
    EXPECT_EQ(3, ScanOne("1.5e").length);
    // Single precision: 0.1 is stored as the float nearest to it.
    EXPECT_EQ(0.1f, ScanOne("0.1").floatVal);
    EXPECT_EQ(16777216.0f, ScanOne("16777217.0").floatVal);
    // Out of single-precision range: an infinity, not undefined behaviour.
    EXPECT_TRUE(__builtin_isinf(ScanOne("1.0e300").floatVal));
}

// Short decimals are converted without strtod: every one, of any split
// between whole and fractional digits, must come out as strtod makes it.
TEST_F(ScannerTest, DecimalsConvertAsStrtodDoes) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; i++) {
        int digits = 1 + static_cast<int>(random() % 18);
        int point = 1 + static_cast<int>(random() % digits);  // a digit comes first
        std::string text;
        for (int d = 0; d < digits; d++) {
            text += d == point ? "." : "";
            text += static_cast<char>('0' + random() % 10);
        }
        text += point == digits ? "." : "";
        text += i % 7 == 0 ? "5e-2" : "";
        SCOPED_TRACE(text);
        Scanned s = ScanOne(text);
        EXPECT_EQ(LX_FLOAT, s.type);
        EXPECT_EQ(static_cast<float>(strtod(text.c_str(), nullptr)), s.floatVal);
        EXPECT_EQ(static_cast<int>(text.size()), s.consumed);
    }
}

TEST_F(ScannerTest, FloatsIgnoreTheProcessLocale) {
    // Any installed locale whose decimal point is a comma will do.
    const char *names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
    const char *saved = setlocale(LC_NUMERIC, nullptr);
    std::string previous = saved != nullptr ? saved : "C";
    for (const char *name : names) {
        if (setlocale(LC_NUMERIC, name) != nullptr) {
            break;
        }
    }
    Scanned s = ScanOne("2.75");
    setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(LX_FLOAT, s.type);
    EXPECT_EQ(2.75f, s.floatVal);
    EXPECT_EQ(4, s.length);
}

TEST_F(ScannerTest, StringEscapeIsOnlyBackslashQuote) {
    Scanned s = ScanOne("\"a\\\"b\"");
    EXPECT_EQ(LX_STRING, s.type);
    EXPECT_EQ("a\"b", s.text);
    EXPECT_EQ(6, s.length);
    // Other backslashes are ordinary characters.
    EXPECT_EQ("a\\nb\\t\\\\", ScanOne("\"a\\nb\\t\\\\\"").text);
    // Before the end of the text, the pair ends the string, backslash kept.
    Scanned end = ScanOne("\"ab\\\"");
    EXPECT_EQ(LX_STRING, end.type);
    EXPECT_EQ("ab\\", end.text);
    // Before a newline or carriage return, likewise.
    std::vector<char> text = {'"', 'a', '\\', '"', '\n', 'x', '\0'};
    char *cursor = text.data();
    Scanned nl = Next(cursor);
    EXPECT_EQ(LX_STRING, nl.type);
    EXPECT_EQ("a\\", nl.text);
    EXPECT_EQ(LX_VARIABLE, Next(cursor).type);
    EXPECT_EQ("a\\", ScanOne("\"a\\\"\r").text);
    // An escaped quote right before the closing one.
    EXPECT_EQ("a\"", ScanOne("\"a\\\"\"").text);
    EXPECT_EQ("", ScanOne("\"\"").text);
    EXPECT_EQ(LX_STRING, ScanOne("\"\"").type);
}

TEST_F(ScannerTest, UnterminatedStringIsAnErrorOfLengthZero) {
    std::vector<char> text = {' ', '"', 'a', 'b', 'c', '\0'};
    char *cursor = text.data();
    Scanned s = Next(cursor);
    EXPECT_EQ(LX_ERROR, s.type);
    EXPECT_EQ(0, s.length);
    EXPECT_STREQ("abc", cursor);  // just after the opening quote
    Scanned lone = ScanOne("\"");
    EXPECT_EQ(LX_ERROR, lone.type);
    EXPECT_EQ(1, lone.consumed);
}

TEST_F(ScannerTest, TimeLiterals) {
    Scanned s = ScanOne("'2004-01-01T00:00:00'");
    EXPECT_EQ(LX_TIME, s.type);
    EXPECT_EQ("2004-01-01T00:00:00", s.text);
    EXPECT_EQ(21, s.length);
    // No escapes: a backslash stays and the next quote ends the literal.
    EXPECT_EQ("a\\", ScanOne("'a\\'b'").text);
    std::vector<char> text = {'\'', 'x', 'y', '\0'};
    char *cursor = text.data();
    Scanned bad = Next(cursor);
    EXPECT_EQ(LX_ERROR, bad.type);
    EXPECT_EQ(0, bad.length);
    EXPECT_STREQ("xy", cursor);
}

TEST_F(ScannerTest, OperatorsAndPunctuation) {
    struct {
        const char *text;
        LexemeType type;
        int length;
    } cases[] = {
        {"(", LX_LPAREN, 1},     {")", LX_RPAREN, 1},   {"+", LX_ADD, 1},
        {"-", LX_SUB, 1},        {"*", LX_MULT, 1},     {"/", LX_DIV, 1},
        {"$", LX_DOLLAR, 1},     {",", LX_COMMA, 1},    {";", LX_SEMICOLON, 1},
        {"<=", LX_LE, 2},        {"<", LX_LT, 1},       {">=", LX_GE, 2},
        {">", LX_GT, 1},         {"==", LX_EQ, 2},      {"=?=", LX_META_EQ, 3},
        {"=!=", LX_META_NEQ, 3}, {"=", LX_ASSIGN, 1},   {"!=", LX_NEQ, 2},
        {"&&", LX_AND, 2},       {"||", LX_OR, 2},      {"", LX_EOF, 0},
        {"  \t", LX_EOF, 3},     {"= =", LX_ASSIGN, 1}, {"=?", LX_ASSIGN, 1},
    };
    for (const auto &c : cases) {
        Scanned s = ScanOne(c.text);
        EXPECT_EQ(c.type, s.type) << "'" << c.text << "'";
        EXPECT_EQ(c.length, s.length) << "'" << c.text << "'";
        EXPECT_EQ(c.length, s.consumed) << "'" << c.text << "'";
    }
}

TEST_F(ScannerTest, LoneBangAmpersandBarAreConsumedErrors) {
    const char *lone[] = {"!", "&", "|", "!x", "&|"};
    for (const char *t : lone) {
        Scanned s = ScanOne(t);
        EXPECT_EQ(LX_ERROR, s.type) << t;
        EXPECT_EQ(1, s.length) << t;
        EXPECT_EQ(1, s.consumed) << t;
    }
}

TEST_F(ScannerTest, UnknownCharactersAreErrorsNotConsumed) {
    const char *bad[] = {"@", "#", "[", "{", "%", "\x80", "\xff", "?", "^", "~", "]", "}"};
    for (const char *t : bad) {
        Scanned s = ScanOne(t);
        EXPECT_EQ(LX_ERROR, s.type) << t;
        EXPECT_EQ(0, s.consumed) << t;
        EXPECT_EQ(0, s.length) << t;
    }
    // Scanning again at the same cursor yields the same error; leading blanks
    // still count in the length.
    std::vector<char> text = {' ', ' ', '@', '\0'};
    char *cursor = text.data();
    Scanned first = Next(cursor);
    EXPECT_EQ(LX_ERROR, first.type);
    EXPECT_EQ(2, first.length);
    Scanned again = Next(cursor);
    EXPECT_EQ(LX_ERROR, again.type);
    EXPECT_EQ(0, again.length);
    EXPECT_STREQ("@", cursor);
}

TEST_F(ScannerTest, MetaOperatorsNeedBothCharacters) {
    std::vector<char> text = {'=', '?', 'x', '\0'};
    char *cursor = text.data();
    EXPECT_EQ(LX_ASSIGN, Next(cursor).type);
    Scanned q = Next(cursor);
    EXPECT_EQ(LX_ERROR, q.type);
    EXPECT_STREQ("?x", cursor);
    // A lone "!" is consumed by the error token that reports it.
    EXPECT_EQ((std::vector<LexemeType>{LX_ASSIGN, LX_ERROR, LX_VARIABLE, LX_EOF}), Types("=!x"));
}

TEST_F(ScannerTest, NewlineIsWhiteSpace) {
    std::vector<char> text = {'a', '\n', 'b', '\r', '\v', '\f', '\0'};
    char *cursor = text.data();
    Scanned a = Next(cursor);
    EXPECT_EQ("a", a.text);
    Scanned b = Next(cursor);
    EXPECT_EQ(LX_VARIABLE, b.type);
    EXPECT_EQ("b", b.text);
    EXPECT_EQ(2, b.length);
    Scanned eof = Next(cursor);
    EXPECT_EQ(LX_EOF, eof.type);
    EXPECT_EQ(3, eof.length);
}

TEST_F(ScannerTest, LongTextsGrowTheBufferExactly) {
    std::string name(2000, 'a');
    Scanned s = ScanOne(name);
    EXPECT_EQ(LX_VARIABLE, s.type);
    EXPECT_EQ(name, s.text);
    EXPECT_EQ(2000, s.length);
    EXPECT_EQ(2000, token_.capacity);
    // A shorter text later keeps the larger buffer.
    EXPECT_EQ("b", ScanOne("b").text);
    EXPECT_EQ(2000, token_.capacity);
    // A string with escapes: the buffer holds the unescaped text.
    std::string body;
    std::string expected;
    for (int i = 0; i < 1500; i++) {
        body += "\\\"";
        expected += "\"";
    }
    Scanned str = ScanOne("\"" + body + "x\"");
    EXPECT_EQ(LX_STRING, str.type);
    EXPECT_EQ(expected + "x", str.text);
    std::string time(3000, '1');
    Scanned t = ScanOne("'" + time + "'");
    EXPECT_EQ(time, t.text);
    EXPECT_EQ(3000, token_.capacity);
}

TEST_F(ScannerTest, AWholeExpression) {
    EXPECT_EQ((std::vector<LexemeType>{LX_VARIABLE, LX_GE, LX_INTEGER, LX_AND, LX_VARIABLE, LX_GT,
                                       LX_INTEGER, LX_EOF}),
              Types("Memory >= 64 && MY.Disk > 1000"));
    EXPECT_EQ((std::vector<LexemeType>{LX_VARIABLE, LX_LPAREN, LX_STRING, LX_COMMA, LX_TIME,
                                       LX_SEMICOLON, LX_FLOAT, LX_RPAREN, LX_EOF}),
              Types("g(\"s\",'t';2.5)"));
    // "f" alone is the keyword FALSE, even before a parenthesis.
    EXPECT_EQ(LX_BOOL, ScanOne("f(1)").type);
}

}  // namespace
