// Evaluation of expression trees. One recursive function walks a tree by
// node kind and produces EvalValues (classad/eval_value.h): nothing is
// allocated per node, literal texts and attribute texts are borrowed, and
// the scope of a reference (MY., TARGET., stacked prefixes) was resolved
// when its Variable was built. The public EvalTree converts the final value
// into an EvalResult once, copying its text; every node class's _EvalTree is
// the same walk started at that node. An operator tree evaluated from its
// root runs instead its compiled form (classad/eval_program.cpp) wherever
// that gives exactly what this walk would.
//
// Cycle detection and the nesting bound work per node as EvalTree
// describes: every node reached through an operand, a call argument or an
// attribute reference is marked while it is evaluated and counts one level,
// except integer and string literals read in place as operator operands.
//
// Process-wide state: the nesting count, the count of evaluations begun
// inside a tree (eval_inner_entries), the scratch space of computed texts
// and, in the nodes, the evaluation marks. One evaluation at a time.
#include "classad/evaluation.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <memory>
#include <vector>

#include "classad/attr_list.h"
#include "classad/eval_reference.h"
#include "classad/eval_result.h"
#include "classad/eval_value.h"
#include "classad/expr_tree.h"
#include "classad/operators.h"
#include "core/allocation.h"

int eval_depth = 0;
int eval_inner_entries = 0;
long eval_step_limit = CLASSAD_DEFAULT_EVAL_STEPS;
long eval_steps_left = CLASSAD_DEFAULT_EVAL_STEPS;

void classad_set_eval_step_limit(long steps) {
    eval_step_limit = steps >= 1 ? steps : CLASSAD_DEFAULT_EVAL_STEPS;
    eval_steps_left = eval_step_limit;
}

long classad_eval_step_limit() {
    return eval_step_limit;
}

namespace {

// ---- scratch space ----

const size_t kChunkSize = 16384;

struct ScratchChunk {
    std::unique_ptr<char[]> bytes;
    size_t size;
};

// Chunks are kept for reuse once made; only the current position moves.
// The position is plain data, so that marking and releasing (twice per
// evaluation) cost two loads or stores; the chunks are made at first use.
struct ScratchPosition {
    int current;  // chunk in use, -1 before the first
    size_t used;  // bytes of it in use
};
ScratchPosition scratch_position = {-1, 0};

std::vector<ScratchChunk> &scratch_chunks() {
    static std::vector<ScratchChunk> *chunks =
        new (torvel::or_die) std::vector<ScratchChunk>;  // never freed
    return *chunks;
}

}  // namespace

OpKind eval_operation_of(LexemeType kind) {
    switch (kind) {
        case LX_LT:
            return LESS_THAN_OP;
        case LX_LE:
            return LESS_OR_EQUAL_OP;
        case LX_NEQ:
            return NOT_EQUAL_OP;
        case LX_EQ:
            return EQUAL_OP;
        case LX_META_EQ:
            return META_EQUAL_OP;
        case LX_META_NEQ:
            return META_NOT_EQUAL_OP;
        case LX_GE:
            return GREATER_OR_EQUAL_OP;
        case LX_GT:
            return GREATER_THAN_OP;
        case LX_SUB:
            return SUBTRACTION_OP;
        case LX_MULT:
            return MULTIPLICATION_OP;
        case LX_DIV:
            return DIVISION_OP;
        case LX_OR:
            return LOGICAL_OR_OP;
        case LX_AND:
            return LOGICAL_AND_OP;
        default:
            return ADDITION_OP;
    }
}

namespace {

bool eval_reference(Variable *node, const AttrList *my, const AttrList *target, EvalValue &out);
bool eval_operator(BinaryOpBase *node, const AttrList *my, const AttrList *target, EvalValue &out);

// Runs eval over a node that is no literal with the node's cycle mark and
// one more nesting level, as eval_tree_value describes.
template <class Node, class Eval>
bool under_mark(Node *node, const AttrList *my, const AttrList *target, EvalValue &out, Eval eval) {
    if (node->IsBeingEvaluated() || eval_depth >= CLASSAD_MAX_EVAL_DEPTH) {
        out = EvalValue::Error();
        return false;
    }
    EvalMark::set(node, true);
    eval_depth++;
    bool ok = eval(node, my, target, out);
    eval_depth--;
    EvalMark::set(node, false);
    return ok;
}

// An operand of an operator node; a missing one is undefined. Integer and
// string literals are read in place: they could neither fail nor recurse.
void operand(ExprTree *node, const AttrList *my, const AttrList *target, EvalValue &out) {
    if (node == nullptr) {
        out = EvalValue::Undefined();
        return;
    }
    switch (node->MyType()) {
        case LX_INTEGER:
            out = EvalValue::Int(static_cast<Integer *>(node)->Value());
            return;
        case LX_STRING:
            out = EvalValue::Text(static_cast<String *>(node)->Value());
            return;
        case LX_VARIABLE:
            under_mark(static_cast<Variable *>(node), my, target, out, eval_reference);
            return;
        default:
            // Among the kinds of nodes, LX_ASSIGN to LX_DIV are the operators.
            if (node->MyType() >= LX_ASSIGN && node->MyType() <= LX_DIV) {
                under_mark(static_cast<BinaryOpBase *>(node), my, target, out, eval_operator);
            } else {
                eval_tree_value(node, my, target, out);
            }
            return;
    }
}

}  // namespace

bool eval_literal_value(ExprTree *node, EvalValue &out) {
    switch (node->MyType()) {
        case LX_INTEGER:
            out = EvalValue::Int(static_cast<Integer *>(node)->Value());
            return true;
        case LX_FLOAT:
            out = EvalValue::Real(static_cast<Float *>(node)->Value());
            return true;
        case LX_STRING:
            out = EvalValue::Text(static_cast<String *>(node)->Value());
            return true;
        case LX_TIME:
            out.type = LX_TIME;
            out.s = static_cast<ISOTime *>(node)->Value();
            return true;
        case LX_BOOL:
            out = EvalValue::Int(static_cast<ClassadBoolean *>(node)->Value());
            return true;
        case LX_UNDEFINED:
            out = EvalValue::Undefined();
            return true;
        case LX_ERROR:
            out = EvalValue::Error();
            return true;
        default:
            return false;
    }
}

namespace {

bool eval_operator(BinaryOpBase *node, const AttrList *my, const AttrList *target, EvalValue &out) {
    LexemeType kind = node->MyType();
    ExprTree *left = node->LeftOperand();
    ExprTree *right = node->RightOperand();
    if (kind == LX_ASSIGN || (kind == LX_ADD && left == nullptr)) {
        if (right == nullptr) {
            out = EvalValue::Undefined();
            return true;
        }
        eval_tree_value(right, my, target, out);
        eval_pass_on(out);
        return true;
    }
    OpKind op = eval_operation_of(kind);
    EvalValue l;
    operand(left, my, target, l);
    if (kind == LX_AND || kind == LX_OR) {
        // An integer decides alone as eval_short_circuit would: 0 for
        // and, non-zero for or.
        if (l.type == LX_INTEGER ? (l.i != 0) == (kind == LX_OR) : eval_short_circuit(op, l, out)) {
            out = l.type == LX_INTEGER ? EvalValue::Int(kind == LX_OR) : out;
            return true;
        }
    }
    EvalValue r;
    operand(right, my, target, r);
    if ((kind == LX_AND || kind == LX_OR) && l.type == LX_INTEGER && r.type == LX_INTEGER) {
        out = EvalValue::Int(r.i != 0);  // the left side did not decide
        return true;
    }
    if (kind == LX_SUB && left == nullptr) {
        out = eval_stored(eval_negate(r));
    } else {
        out = eval_stored(eval_operate(op, l, r));
    }
    return true;
}

// An attribute reference, its scope already resolved.
bool eval_reference(Variable *node, const AttrList *my, const AttrList *target, EvalValue &out) {
    return eval_reference_value(node->ReferenceScope(), my, target, out);
}

}  // namespace

bool eval_attribute_literal(ExprTree *right, EvalValue &out) {
    if (right == nullptr || !eval_literal_value(right, out)) {
        return false;
    }
    eval_pass_on(out);
    return true;
}

// ---- scratch space ----

char *eval_scratch_alloc(size_t n) {
    ScratchPosition &s = scratch_position;
    std::vector<ScratchChunk> &chunks = scratch_chunks();
    if (s.current < 0 || s.used + n > chunks[s.current].size) {
        // The next chunk if it is large enough, else a new one put there.
        size_t next = static_cast<size_t>(s.current + 1);
        if (next >= chunks.size() || chunks[next].size < n) {
            size_t size = n > kChunkSize ? n : kChunkSize;
            ScratchChunk chunk{std::unique_ptr<char[]>(new (torvel::or_die) char[size]), size};
            chunks.insert(chunks.begin() + static_cast<long>(next), std::move(chunk));
        }
        s.current = static_cast<int>(next);
        s.used = 0;
    }
    char *p = chunks[s.current].bytes.get() + s.used;
    s.used += n;
    return p;
}

const char *eval_scratch_copy(const char *text, size_t n) {
    char *copy = eval_scratch_alloc(n + 1);
    memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

EvalScratchMark eval_scratch_mark() {
    return EvalScratchMark{scratch_position.current, scratch_position.used};
}

void eval_scratch_release(EvalScratchMark mark) {
    scratch_position.current = mark.chunk;
    scratch_position.used = mark.used;
}

// ---- the engine ----

namespace {

// The work of a node that is no literal, by kind.
bool eval_inner_node(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out) {
    switch (tree->MyType()) {
        case LX_VARIABLE:
            return eval_reference(static_cast<Variable *>(tree), my, target, out);
        case LX_FUNCTION:
            return eval_call_value(static_cast<Function *>(tree), my, target, out);
        default:
            return eval_operator(static_cast<BinaryOpBase *>(tree), my, target, out);
    }
}

// The walk entered at tree, counted as an inner entry when tree is an
// operand of another node.
bool walk_entry(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out) {
    int inner = EvalMark::isOperand(tree) ? 1 : 0;
    eval_inner_entries += inner;
    bool ok = under_mark(tree, my, target, out, eval_inner_node);
    eval_inner_entries -= inner;
    return ok;
}

}  // namespace

bool eval_tree_value(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out) {
    // An operator tree runs its compiled form where that answers exactly.
    if (tree->MyType() >= LX_ASSIGN && tree->MyType() <= LX_DIV) {
        return eval_program_run(tree, my, target, out) || walk_entry(tree, my, target, out);
    }
    // A literal cannot reach itself again: no mark needed (literals are
    // never marked), only the nesting bound.
    if (eval_depth < CLASSAD_MAX_EVAL_DEPTH && eval_literal_value(tree, out)) {
        return true;
    }
    return walk_entry(tree, my, target, out);
}

bool eval_node_value(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out) {
    eval_inner_entries++;
    bool ok = eval_literal_value(tree, out) || eval_inner_node(tree, my, target, out);
    eval_inner_entries--;
    return ok;
}

void eval_value_store(const EvalValue &v, EvalResult *result) {
    switch (v.type) {
        case LX_INTEGER:
            result->set_int(v.i);
            break;
        case LX_FLOAT:
            result->set_float(static_cast<float>(v.r));
            break;
        case LX_STRING:
            result->set_string(v.s);
            break;
        case LX_TIME:
            result->set_time(v.s);
            break;
        case LX_UNDEFINED:
            result->set_undefined();
            break;
        case LX_BOOL:
            result->set_int(v.i);
            result->type = LX_BOOL;
            break;
        default:
            result->set_error();
            break;
    }
}

EvalValue eval_value_of(const EvalResult &result) {
    EvalValue v;
    v.type = result.type;
    switch (result.type) {
        case LX_FLOAT:
            v.r = result.f;
            break;
        case LX_STRING:
        case LX_TIME:
            v.s = result.s;
            break;
        default:
            v.i = result.i;
            break;
    }
    return v;
}

void evalFromEnvironment(const char *name, EvalResult *result) {
    if (name != nullptr && strcmp(name, "CurrentTime") == 0) {
        time_t now = time(nullptr);
        if (now == static_cast<time_t>(-1)) {
            result->set_error();
        } else {
            result->set_int(static_cast<int>(now));
        }
        return;
    }
    result->set_undefined();
}

// ---- the public entry points ----

namespace {

// Runs eval over tree and stores the value into result, copying its text.
template <class Eval>
bool evaluate_into(ExprTree *tree, const AttrList *my, const AttrList *target, EvalResult *result,
                   Eval eval) {
    EvalBudgetScope budget;
    EvalScratchScope scope;
    EvalValue v;
    bool ok = eval(tree, my, target, v);
    if (budget.exhausted()) {
        v = EvalValue::Error();
        ok = false;
    }
    eval_value_store(v, result);
    return ok;
}

}  // namespace

bool ExprTree::EvalTree(const AttrList *my, EvalResult *result) {
    return EvalTree(my, nullptr, result);
}

bool ExprTree::EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    // An operator tree goes to its compiled form at once.
    EvalBudgetScope budget;
    EvalScratchScope scope;
    EvalValue v;
    bool ok = eval_program_run(this, my, target, v) || eval_tree_value(this, my, target, v);
    if (budget.exhausted()) {
        v = EvalValue::Error();
        ok = false;
    }
    if (v.type == LX_INTEGER) {
        result->set_int(v.i);  // the common result, inline
    } else {
        eval_value_store(v, result);
    }
    return ok;
}

bool ExprTree::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}

bool ExprTree::_EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    return evaluate_into(this, my, target, result, eval_node_value);
}

bool Variable::_EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    return evaluate_into(this, my, target, result, eval_node_value);
}

// The one-list form of a reference looks the whole name up in my alone.
bool Variable::_EvalTree(const AttrList *my, EvalResult *result) {
    ExprTree *attribute = my != nullptr ? my->Lookup(name) : nullptr;
    if (attribute == nullptr) {
        result->set_undefined();
        return true;
    }
    return attribute->EvalTree(my, result);
}

// Scope resolution by name at the time of the call, for callers that hand
// in a name of their own; references in trees resolved theirs when built.
bool Variable::_EvalTreeRecursive(const char *ref, const AttrList *my, const AttrList *target,
                                  EvalResult *result, bool restrict_search) {
    const char *dot = strchr(ref, '.');
    if (dot == nullptr) {
        return _EvalTreeSimple(ref, my, target, result, restrict_search);
    }
    size_t prefix = static_cast<size_t>(dot - ref);
    const char *rest = dot + 1;
    if (prefix == 0) {
        return _EvalTreeSimple(rest, my, target, result, restrict_search);
    }
    if (prefix == 2 && strncasecmp(ref, "MY", 2) == 0) {
        return _EvalTreeRecursive(rest, my, target, result, true);
    }
    if (prefix == 6 && strncasecmp(ref, "TARGET", 6) == 0) {
        return _EvalTreeRecursive(rest, target, my, result, true);
    }
    result->set_undefined();
    return true;
}

bool Variable::_EvalTreeSimple(const char *ref, const AttrList *my, const AttrList *target,
                               EvalResult *result, bool restrict_search) {
    ExprTree *attribute = my != nullptr ? my->Lookup(ref) : nullptr;
    if (attribute != nullptr) {
        return attribute->EvalTree(my, target, result);
    }
    attribute = !restrict_search && target != nullptr ? target->Lookup(ref) : nullptr;
    if (attribute != nullptr) {
        return attribute->EvalTree(target, my, result);
    }
    evalFromEnvironment(ref, result);
    return true;
}

// ---- ordering of number literals ----

namespace {

// Mixed comparisons are done in single precision.
template <class Compare>
bool ordered(float mine, ExprTree &other, Compare compare) {
    EvalResult r;
    other.EvalTree(nullptr, &r);
    if (r.type == LX_INTEGER) {
        return compare(mine, static_cast<float>(static_cast<double>(r.i)));
    }
    if (r.type == LX_FLOAT) {
        return compare(mine, r.f);
    }
    return false;
}

template <class Compare>
bool ordered(int mine, ExprTree &other, Compare compare) {
    EvalResult r;
    other.EvalTree(nullptr, &r);
    if (r.type == LX_INTEGER) {
        return compare(mine, r.i);
    }
    if (r.type == LX_FLOAT) {
        return compare(static_cast<float>(mine), r.f);
    }
    return false;
}

}  // namespace

bool Integer::operator>(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a > b; });
}
bool Integer::operator>=(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a >= b; });
}
bool Integer::operator<(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a < b; });
}
bool Integer::operator<=(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a <= b; });
}

bool Float::operator>(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a > b; });
}
bool Float::operator>=(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a >= b; });
}
bool Float::operator<(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a < b; });
}
bool Float::operator<=(ExprTree &other) {
    return ordered(value, other, [](auto a, auto b) { return a <= b; });
}
