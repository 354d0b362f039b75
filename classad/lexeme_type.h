// LexemeType: one enumeration for the ClassAd scanner's tokens, the kinds of
// expression-tree nodes and the kinds of evaluation results. The numbers are
// fixed because all three uses share them; 9 and 10 are unassigned.
#ifndef TORVEL_CLASSAD_LEXEME_TYPE_H_
#define TORVEL_CLASSAD_LEXEME_TYPE_H_

enum LexemeType {
    LX_VARIABLE = 0,    // identifier (attribute reference)
    LX_INTEGER = 1,     // integer literal
    LX_FLOAT = 2,       // floating-point literal
    LX_STRING = 3,      // double-quoted string literal
    LX_BOOL = 4,        // TRUE, T, FALSE, F
    LX_NULL = 5,        // null result (evaluation only)
    LX_UNDEFINED = 6,   // UNDEFINED
    LX_ERROR = 7,       // ERROR, and every scan error
    LX_ASSIGN = 8,      // =
    LX_AND = 11,        // &&
    LX_OR = 12,         // ||
    LX_LPAREN = 13,     // (
    LX_RPAREN = 14,     // )
    LX_DOLLAR = 15,     // $
    LX_META_EQ = 16,    // =?=
    LX_META_NEQ = 17,   // =!=
    LX_EQ = 18,         // ==
    LX_NEQ = 19,        // !=
    LX_LT = 20,         // <
    LX_LE = 21,         // <=
    LX_GT = 22,         // >
    LX_GE = 23,         // >=
    LX_ADD = 24,        // +
    LX_SUB = 25,        // -
    LX_MULT = 26,       // *
    LX_DIV = 27,        // /
    LX_EOF = 28,        // end of the text
    LX_EXPR = 29,       // a text that is an expression to be parsed
    LX_TIME = 30,       // single-quoted time literal
    LX_FUNCTION = 31,   // function-call node
    LX_SEMICOLON = 32,  // ;
    LX_COMMA = 33,      // ,
    LX_NONE = 34,       // kind of a freshly reset token
};

// The numbers the three uses rely on; renumbering one must fail the build.
static_assert(LX_VARIABLE == 0 && LX_STRING == 3 && LX_ERROR == 7 && LX_ASSIGN == 8,
              "scanner token numbers are fixed");
static_assert(LX_AND == 11 && LX_META_EQ == 16 && LX_GE == 23 && LX_DIV == 27,
              "operator numbers are fixed");
static_assert(LX_EOF == 28 && LX_EXPR == 29 && LX_TIME == 30 && LX_FUNCTION == 31,
              "node kind numbers are fixed");
static_assert(LX_COMMA == 33 && LX_NONE == 34, "the last numbers are fixed");

#endif  // TORVEL_CLASSAD_LEXEME_TYPE_H_
