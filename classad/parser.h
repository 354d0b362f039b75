// The ClassAd expression parser: recursive descent with one token of
// look-ahead over the scanner, producing expression trees. It parses one
// expression or one assignment "name = expression" and reports success or
// the character position of the failure; it has no messages of its own.
//
// Precedence, lowest first: "=" (at most once), "||", "&&", the equality and
// meta-comparisons, the relational operators, "+" "-", "*" "/", then factors
// (literals, references, calls, groups and unary minus, whose operand is a
// whole expression). Every operator level is left-associative.
//
// Process-wide state: one shared token and look-ahead flag, so the parser is
// not reentrant. Nesting (groups, unary minus, call arguments) and the height
// of the tree built are both bounded by CLASSAD_MAX_PARSE_DEPTH; deeper text
// fails like any other malformed text, so hostile input cannot exhaust the
// stack here or in the code that walks the trees later.
#ifndef TORVEL_CLASSAD_PARSER_H_
#define TORVEL_CLASSAD_PARSER_H_

#include "classad/lexeme_type.h"

class ExprTree;
class Token;

// Deepest tree (and deepest nesting) the parser builds.
const int CLASSAD_MAX_PARSE_DEPTH = 1000;

// Parses text. Returns 0 with tree set (caller deletes) on success. On
// failure tree is null and the result is the sum of the lengths of the tokens
// consumed before the failure, which is 0 when the first token failed:
// callers treat a non-zero result or a null tree as failure. The text is
// read in place and never changed; a null text fails with 0.
int Parse(const char *text, ExprTree *&tree);
int Parse(char *text, ExprTree *&tree);

// One function per grammar level. Each advances the cursor s, sets tree (a
// partial tree on failure, for the caller to delete), adds the lengths of
// consumed tokens to count, and returns 1 for success, 0 for failure.
int ParseAssignExpr(char *&s, ExprTree *&tree, int &count);
int ParseExpr(char *&s, ExprTree *&tree, int &count);
int ParseAndExpr(char *&s, ExprTree *&tree, int &count);
int ParseSimpleExpr(char *&s, ExprTree *&tree, int &count);
int ParseEqualityOp(char *&s, ExprTree *&tree, int &count);
int ParseAddOp(char *&s, ExprTree *&tree, int &count);
int ParseMultOp(char *&s, ExprTree *&tree, int &count);
int ParseFactor(char *&s, ExprTree *&tree, int &count);
// The cursor stands on the "(" after name. An argument list that is not
// closed by ")" fails.
int ParseFunction(char *name, char *&s, ExprTree *&tree, int &count);
// Loop continuations of the operator levels; left is the operand so far.
int ParseX1(ExprTree *left, char *&s, ExprTree *&tree, int &count);
int ParseX1p5(ExprTree *left, char *&s, ExprTree *&tree, int &count);
int ParseX2(ExprTree *left, char *&s, ExprTree *&tree, int &count);
int ParseX2p5(ExprTree *left, char *&s, ExprTree *&tree, int &count);
int ParseX3(ExprTree *left, char *&s, ExprTree *&tree, int &count);
int ParseX4(ExprTree *left, char *&s, ExprTree *&tree, int &count);

// The shared token, created on first use; owned by the parser.
Token *nextToken();
// The current token, marked consumed (a new one is scanned first when the
// last was consumed). Borrowed: valid until the next token call.
Token *ReadToken(char *&s);
// As ReadToken, but marks the token looked-at: the next call returns it again.
Token *LookToken(char *&s);
// Reads a token, adds its length to count, resets it; whether it had type t.
// The token is consumed whether or not it matched.
int Match(LexemeType t, char *&s, int &count);

#endif  // TORVEL_CLASSAD_PARSER_H_
