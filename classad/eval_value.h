// The evaluator's own value and scratch space, shared by evaluation.cpp,
// operators.cpp, functions.cpp and matching; not part of the public
// interface (EvalResult is).
//
// EvalValue is what every node gives while a tree is evaluated: a kind
// (LX_INTEGER, LX_FLOAT, LX_STRING, LX_TIME, LX_UNDEFINED or LX_ERROR; an
// LX_BOOL only when a caller hands one to a built-in) and a value whose text
// is borrowed, never owned: from a literal of the tree, from an attribute's
// tree, or from the scratch space. Nothing is allocated per node; only the
// outermost EvalTree converts the value into an EvalResult that owns its
// text.
//
// The scratch space holds texts that functions compute (strcat, substr,
// printed arguments, ...). Texts taken after a mark stay valid until the
// mark is released; EvalScratchScope does both around one evaluation.
// Process-wide and single-threaded, like the evaluation marks.
#ifndef TORVEL_CLASSAD_EVAL_VALUE_H_
#define TORVEL_CLASSAD_EVAL_VALUE_H_

#include <stddef.h>
#include <stdint.h>

#include "classad/expr_tree.h"
#include "classad/lexeme_type.h"
#include "classad/operators.h"

class AttrList;
class EvalResult;

struct EvalValue {
    LexemeType type;
    union {
        int i;
        double r;  // an LX_FLOAT result always holds a single-precision value
        const char *s;
    };

    static EvalValue Int(int v) {
        EvalValue e;
        e.type = LX_INTEGER;
        e.i = v;
        return e;
    }
    // Narrowed to single precision, as every real result of a node is.
    static EvalValue Real(double v) {
        EvalValue e;
        e.type = LX_FLOAT;
        e.r = static_cast<float>(v);
        return e;
    }
    static EvalValue Text(const char *t) {
        EvalValue e;
        e.type = LX_STRING;
        e.s = t;
        return e;
    }
    static EvalValue Undefined() {
        EvalValue e;
        e.type = LX_UNDEFINED;
        e.i = 0;
        return e;
    }
    static EvalValue Error() {
        EvalValue e;
        e.type = LX_ERROR;
        e.i = 0;
        return e;
    }
};

// The value a node stores: reals narrowed to single precision.
inline EvalValue eval_stored(const EvalValue &v) {
    return v.type == LX_FLOAT ? EvalValue::Real(v.r) : v;
}

// What a group or an assignment passes on: the operator layer knows no
// times, so a time becomes ERROR here as it would there.
inline void eval_pass_on(EvalValue &v) {
    if (v.type != LX_INTEGER && v.type != LX_FLOAT && v.type != LX_STRING &&
        v.type != LX_UNDEFINED) {
        v = EvalValue::Error();
    }
}

// ---- scratch space ----

struct EvalScratchMark {
    int chunk;
    size_t used;
};

// n bytes valid until the enclosing mark is released. Never null.
char *eval_scratch_alloc(size_t n);
// A NUL-terminated copy of text[0 .. n-1] in the scratch space.
const char *eval_scratch_copy(const char *text, size_t n);
EvalScratchMark eval_scratch_mark();
void eval_scratch_release(EvalScratchMark mark);

class EvalScratchScope {
 public:
    EvalScratchScope() : mark_(eval_scratch_mark()) {}
    ~EvalScratchScope() { eval_scratch_release(mark_); }
    EvalScratchScope(const EvalScratchScope &) = delete;
    EvalScratchScope &operator=(const EvalScratchScope &) = delete;

 private:
    EvalScratchMark mark_;
};

// ---- the engine ----

// How deeply the evaluation in progress is nested (evaluation.h).
extern int eval_depth;
// Steps the top-level evaluation in progress may still take (evaluation.h);
// negative once it ran out. Full between top-level evaluations.
extern long eval_steps_left;
extern long eval_step_limit;

// Around every entry that may begin a top-level evaluation. The budget is
// full between top-level evaluations; one that spent some (one at nesting
// 0) fills it again when it ends, so the common evaluation, which reaches
// no attribute that is no literal, pays a load and a compare. Whether the
// evaluation ran out is asked before the end; an entry inside an
// evaluation that ran out answers ERROR too, as the whole evaluation will.
class EvalBudgetScope {
 public:
    EvalBudgetScope() = default;
    ~EvalBudgetScope() {
        if (eval_steps_left != eval_step_limit && eval_depth == 0) {
            eval_steps_left = eval_step_limit;
        }
    }
    EvalBudgetScope(const EvalBudgetScope &) = delete;
    EvalBudgetScope &operator=(const EvalBudgetScope &) = delete;

    // Whether the evaluation ran out of steps; its answer is then ERROR.
    bool exhausted() const { return eval_steps_left < 0; }
};
// How many evaluations in progress began at a node without marking it
// (_EvalTree) or at an operand of another node: while there are any, a node
// inside a tree may be marked while its root is not, and compiled forms,
// which mark only their root, stand aside.
extern int eval_inner_entries;

// The operation of an operator node's kind (ADDITION_OP for LX_ADD and
// for any kind that names none).
OpKind eval_operation_of(LexemeType kind);
// A literal node's value (a boolean as an integer, a time as LX_TIME);
// false for any other node.
bool eval_literal_value(ExprTree *node, EvalValue &out);

// Compiled forms (eval_program.cpp). Evaluates tree as eval_tree_value
// does, through the flat form compiled from it at its first evaluation;
// false, with nothing done, when the tree has no such form (it is no
// operator, or holds a call) or the form cannot answer exactly now (the
// tree is under evaluation, or the nesting bound is near): the caller then
// walks the tree.
bool eval_program_run(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out);
// Frees the compiled form of that number (from EvalMark).
void eval_program_release(uint32_t number);
// Makes every compiled form out of date (a node inside a tree changed kind).
void eval_programs_outdated();

// The evaluator's access to a node's evaluation mark and to the number of
// its compiled form.
struct EvalMark {
    static void set(ExprTree *node, bool on) { node->evalFlag = on; }
    // Whether node is an operand or argument of another node.
    static bool isOperand(const ExprTree *node) { return (node->programHigh_ & 0x80) != 0; }
    static uint32_t program(const ExprTree *node) {
        return static_cast<uint32_t>(node->programHigh_ & 0x7F) << 16 | node->programLow_;
    }
    // REQUIRES: number < 2^23.
    static void setProgram(ExprTree *node, uint32_t number) {
        node->programHigh_ = static_cast<uint8_t>((node->programHigh_ & 0x80) | (number >> 16));
        node->programLow_ = static_cast<uint16_t>(number);
    }
    // Frees node's compiled form, if it has one.
    static void forgetProgram(ExprTree *node) {
        if (program(node) != 0) {
            eval_program_release(program(node));
            setProgram(node, 0);
        }
    }
};

// Evaluates tree as EvalTree does (cycle mark and nesting bound included)
// into out; returns what EvalTree would return. Texts in out are borrowed.
bool eval_tree_value(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out);
// The same without the cycle mark and nesting count of tree itself: the
// work of tree's own _EvalTree.
bool eval_node_value(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out);
// What a reference to an attribute whose right side is right gives when
// right is a literal (a boolean as an integer, a time as ERROR); false
// when it is none.
bool eval_attribute_literal(ExprTree *right, EvalValue &out);
// A call (functions.cpp): the lazy ifthenelse, a built-in, or a library
// function; returns false when the built-in rejects its arguments.
bool eval_call_value(Function *call, const AttrList *my, const AttrList *target, EvalValue &out);

// The operator layer on engine values (operators.cpp), with the semantics
// of operate and operateShortCircuit; a real result is not narrowed here.
// Operands of any kind but integer, real, string and undefined count as
// errors.
EvalValue eval_operate(OpKind op, const EvalValue &left, const EvalValue &right);
EvalValue eval_negate(const EvalValue &operand);
bool eval_short_circuit(OpKind op, const EvalValue &left, EvalValue &result);

// The built-in a call name selects: an index into the table of built-ins,
// CLASSAD_CALL_IFTHENELSE, or CLASSAD_CALL_LIBRARY for any other name.
const int CLASSAD_CALL_IFTHENELSE = -1;
const int CLASSAD_CALL_LIBRARY = -2;
int classad_builtin_index(const char *name);

// Conversions between the engine's values and results. A text is copied
// into the result; from a result, the value borrows the result's text.
void eval_value_store(const EvalValue &v, EvalResult *result);
EvalValue eval_value_of(const EvalResult &result);

#endif  // TORVEL_CLASSAD_EVAL_VALUE_H_
