// The ClassAd recursive-descent parser. One process-wide token and a
// look-ahead flag give one token of look-ahead; every level adds the lengths
// of the tokens it consumes to the caller's position counter, which becomes
// the failure position.
//
// Depth bounds: g_nesting counts the factors that recurse into a whole
// expression (groups, unary minus, call arguments) and g_height carries the
// height of the tree each level just built (including left-deep operator
// chains, which the loops build without recursion). Either exceeding
// CLASSAD_MAX_PARSE_DEPTH fails the parse at the current position.
#include "classad/parser.h"

#include <stdlib.h>
#include <string.h>

#include "classad/expr_tree.h"
#include "classad/scanner.h"
#include "core/allocation.h"

namespace {

enum LookAhead { TOKEN_CONSUMED, TOKEN_LOOKED_AT };

LookAhead g_look_ahead = TOKEN_CONSUMED;
int g_nesting = 0;
// Height of the tree the last successful level produced.
int g_height = 0;

// The shared token, made on first use; g_token keeps it at hand so that
// every scan does not pass through the guard of a local static.
Token *g_token = nullptr;

Token *shared_token() {
    if (g_token == nullptr) {
        static Token token;  // destroyed at program exit
        g_token = &token;
    }
    return g_token;
}

Token *scan_if_needed(char *&s) {
    Token *token = g_token;
    if (g_look_ahead == TOKEN_CONSUMED) {
        token->reset();
        Scanner(s, *token);
    }
    return token;
}

// Records the height of a node over operands of heights a and b; false when
// it exceeds the bound.
bool note_height(int a, int b) {
    g_height = 1 + (a > b ? a : b);
    return g_height <= CLASSAD_MAX_PARSE_DEPTH;
}

typedef int (*LevelParser)(char *&, ExprTree *&, int &);

// One left-associative operator level: while the look-ahead is one of the
// level's operators, consume it, parse the next operand with `operand`, and
// make (left, operator, operand) the new left.
int parse_level_loop(ExprTree *left, char *&s, ExprTree *&tree, int &count, const LexemeType *ops,
                     int nops, LevelParser operand) {
    int left_height = g_height;
    for (;;) {
        LexemeType kind = LookToken(s)->type;
        bool is_op = false;
        for (int i = 0; i < nops; i++) {
            is_op = is_op || kind == ops[i];
        }
        if (!is_op) {
            tree = left;
            g_height = left_height;
            return 1;
        }
        Match(kind, s, count);
        ExprTree *right = nullptr;
        int ok = operand(s, right, count);
        left = BinaryOpBase::Make(kind, left, right);
        if (!ok || !note_height(left_height, g_height)) {
            tree = left;
            return 0;
        }
        left_height = g_height;
    }
}

// The operator levels, loosest first; -1 for a token that is no operator.
const int kMultLevel = 5;

int level_of(LexemeType kind) {
    switch (kind) {
        case LX_OR:
            return 0;
        case LX_AND:
            return 1;
        case LX_EQ:
        case LX_NEQ:
        case LX_META_EQ:
        case LX_META_NEQ:
            return 2;
        case LX_LT:
        case LX_LE:
        case LX_GT:
        case LX_GE:
            return 3;
        case LX_ADD:
        case LX_SUB:
            return 4;
        case LX_MULT:
        case LX_DIV:
            return kMultLevel;
        default:
            return -1;
    }
}

// Every level from min_level on in one loop (precedence climbing): it
// builds the same left-associative tree as one function per level, with
// the same tokens consumed and the same height checks in the same order,
// but without passing through every looser level for each operand.
int parse_binary(int min_level, char *&s, ExprTree *&tree, int &count) {
    ExprTree *left = nullptr;
    if (!ParseFactor(s, left, count)) {
        tree = left;
        return 0;
    }
    int left_height = g_height;
    for (;;) {
        LexemeType kind = LookToken(s)->type;
        int level = level_of(kind);
        if (level < min_level) {
            tree = left;
            g_height = left_height;
            return 1;
        }
        Match(kind, s, count);
        ExprTree *right = nullptr;
        int ok = level == kMultLevel ? ParseFactor(s, right, count)
                                     : parse_binary(level + 1, s, right, count);
        left = BinaryOpBase::Make(kind, left, right);
        if (!ok || !note_height(left_height, g_height)) {
            tree = left;
            return 0;
        }
        left_height = g_height;
    }
}

const LexemeType kOrOps[] = {LX_OR};
const LexemeType kAndOps[] = {LX_AND};
const LexemeType kEqualityOps[] = {LX_EQ, LX_NEQ, LX_META_EQ, LX_META_NEQ};
const LexemeType kRelationalOps[] = {LX_LT, LX_LE, LX_GT, LX_GE};
const LexemeType kAddOps[] = {LX_ADD, LX_SUB};
const LexemeType kMultOps[] = {LX_MULT, LX_DIV};

// Runs `inner` one nesting level deeper; fails without running it when the
// bound is reached.
int nested(char *&s, ExprTree *&tree, int &count, LevelParser inner) {
    if (g_nesting >= CLASSAD_MAX_PARSE_DEPTH) {
        tree = nullptr;
        return 0;
    }
    g_nesting++;
    int ok = inner(s, tree, count);
    g_nesting--;
    return ok;
}

// Unary minus: the operand is a whole expression; a literal operand becomes
// the negated literal.
int parse_unary_minus(char *&s, ExprTree *&tree, int &count) {
    ExprTree *operand = nullptr;
    int ok = nested(s, operand, count, ParseExpr);
    if (ok && operand != nullptr && operand->MyType() == LX_INTEGER) {
        unsigned int v = static_cast<unsigned int>(static_cast<Integer *>(operand)->Value());
        tree = new (torvel::or_die)
            Integer(static_cast<int>(0u - v));  // wraps like the scanner's values
        delete operand;
        return 1;
    }
    if (ok && operand != nullptr && operand->MyType() == LX_FLOAT) {
        tree = new (torvel::or_die) Float(-static_cast<Float *>(operand)->Value());
        delete operand;
        return 1;
    }
    tree = new (torvel::or_die) SubOp(nullptr, operand);
    return ok && note_height(0, g_height);
}

int parse_group(char *&s, ExprTree *&tree, int &count) {
    ExprTree *inner = nullptr;
    int ok = nested(s, inner, count, ParseExpr);
    int inner_height = g_height;
    if (ok) {
        ok = Match(LX_RPAREN, s, count);
    }
    tree = new (torvel::or_die) AddOp(nullptr, inner);
    return ok && note_height(0, inner_height);
}

// Whether the next token at s is "(", known without scanning it (which
// would overwrite the shared token): white space, then the parenthesis.
bool call_follows(const char *s) {
    while (ScannerIsSpace(*s)) {
        s++;
    }
    return *s == '(';
}

// Literals and references: consumes the token and builds its node.
ExprTree *literal_for(Token *token) {
    switch (token->type) {
        case LX_INTEGER:
            return new (torvel::or_die) Integer(token->intVal);
        case LX_FLOAT:
            return new (torvel::or_die) Float(token->floatVal);
        case LX_STRING:
            return new (torvel::or_die) String(token->text);
        case LX_BOOL:
            return new (torvel::or_die) ClassadBoolean(token->intVal);
        case LX_UNDEFINED:
            return new (torvel::or_die) Undefined();
        case LX_ERROR:
            return new (torvel::or_die) Error();
        case LX_TIME:
            return new (torvel::or_die) ISOTime(token->text);
        default:
            return nullptr;
    }
}

}  // namespace

Token *nextToken() {
    return shared_token();
}

Token *ReadToken(char *&s) {
    Token *token = scan_if_needed(s);
    g_look_ahead = TOKEN_CONSUMED;
    return token;
}

Token *LookToken(char *&s) {
    Token *token = scan_if_needed(s);
    g_look_ahead = TOKEN_LOOKED_AT;
    return token;
}

int Match(LexemeType t, char *&s, int &count) {
    Token *token = ReadToken(s);
    LexemeType got = token->type;
    count += token->length;
    token->reset();
    return got == t;
}

int Parse(const char *text, ExprTree *&tree) {
    tree = nullptr;
    if (text == nullptr) {
        return 0;
    }
    shared_token();
    // The scanner only reads, so the caller's text is walked in place.
    char *cursor = const_cast<char *>(text);
    int count = 0;
    g_look_ahead = TOKEN_CONSUMED;
    g_nesting = 0;
    g_height = 0;
    ExprTree *built = nullptr;
    int ok = ParseAssignExpr(cursor, built, count);
    int result = 0;
    if (ok) {
        tree = built;
    } else {
        delete built;
        result = count;
    }
    g_token->reset();
    g_look_ahead = TOKEN_CONSUMED;
    return result;
}

int Parse(char *text, ExprTree *&tree) {
    return Parse(static_cast<const char *>(text), tree);
}

int ParseAssignExpr(char *&s, ExprTree *&tree, int &count) {
    ExprTree *left = nullptr;
    if (!ParseExpr(s, left, count)) {
        tree = left;
        return 0;
    }
    int left_height = g_height;
    LexemeType next = LookToken(s)->type;
    if (next == LX_EOF) {
        tree = left;
        return 1;
    }
    if (next != LX_ASSIGN) {
        tree = left;
        return 0;
    }
    Match(LX_ASSIGN, s, count);
    ExprTree *right = nullptr;
    int ok = ParseExpr(s, right, count);
    tree = new (torvel::or_die) AssignOp(left, right);
    if (!ok || !note_height(left_height, g_height)) {
        return 0;
    }
    return LookToken(s)->type == LX_EOF;
}

int ParseExpr(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(0, s, tree, count);
}

int ParseX1(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kOrOps, 1, ParseAndExpr);
}

int ParseAndExpr(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(1, s, tree, count);
}

int ParseX1p5(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kAndOps, 1, ParseSimpleExpr);
}

int ParseSimpleExpr(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(2, s, tree, count);
}

int ParseX2(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kEqualityOps, 4, ParseEqualityOp);
}

int ParseEqualityOp(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(3, s, tree, count);
}

int ParseX2p5(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kRelationalOps, 4, ParseAddOp);
}

int ParseAddOp(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(4, s, tree, count);
}

int ParseX3(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kAddOps, 2, ParseMultOp);
}

int ParseMultOp(char *&s, ExprTree *&tree, int &count) {
    return parse_binary(5, s, tree, count);
}

int ParseX4(ExprTree *left, char *&s, ExprTree *&tree, int &count) {
    return parse_level_loop(left, s, tree, count, kMultOps, 2, ParseFactor);
}

int ParseFactor(char *&s, ExprTree *&tree, int &count) {
    Token *token = LookToken(s);
    switch (token->type) {
        case LX_VARIABLE: {
            ReadToken(s);
            count += token->length;
            if (!call_follows(s)) {
                tree = new (torvel::or_die) Variable(token->text);
                g_height = 1;
                return 1;
            }
            // The call interns its name before the next scan reuses the token.
            return ParseFunction(token->text, s, tree, count);
        }
        case LX_INTEGER:
        case LX_FLOAT:
        case LX_STRING:
        case LX_BOOL:
        case LX_UNDEFINED:
        case LX_ERROR:
        case LX_TIME:
            ReadToken(s);
            count += token->length;
            tree = literal_for(token);
            g_height = 1;
            return 1;
        case LX_LPAREN:
            Match(LX_LPAREN, s, count);
            return parse_group(s, tree, count);
        case LX_SUB:
            Match(LX_SUB, s, count);
            return parse_unary_minus(s, tree, count);
        default:
            tree = new (torvel::or_die) Error();
            return 0;
    }
}

int ParseFunction(char *name, char *&s, ExprTree *&tree, int &count) {
    Function *call = new (torvel::or_die) Function(name);
    tree = call;
    Match(LX_LPAREN, s, count);
    if (LookToken(s)->type == LX_RPAREN) {
        Match(LX_RPAREN, s, count);
        g_height = 1;
        return 1;
    }
    int height = 1;
    for (;;) {
        ExprTree *arg = nullptr;
        int ok = nested(s, arg, count, ParseExpr);
        if (arg != nullptr) {
            call->AppendArgument(arg);
        }
        if (!ok || !note_height(0, g_height)) {
            return 0;
        }
        if (g_height > height) {
            height = g_height;
        }
        LexemeType next = LookToken(s)->type;
        if (next == LX_RPAREN) {
            Match(LX_RPAREN, s, count);
            g_height = height;
            return 1;
        }
        if (next != LX_COMMA && next != LX_SEMICOLON) {
            return 0;  // an argument list that is never closed
        }
        Match(next, s, count);
    }
}
