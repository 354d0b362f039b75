// The compiled form of an operator tree: a flat list of steps made at the
// tree's first evaluation and kept with its root, so that later evaluations
// run a loop over the steps instead of walking the nodes. Only trees of
// operators, literals and attribute references are compiled; a call makes
// the tree walk as before.
//
// Each step computes one operator node into a slot of its own. Its operands
// are constants (literals, and integer subtrees folded when compiled: the
// tree itself, and so its printed text, stays as parsed), earlier slots, or
// references resolved when run. "&&" and "||" are a test step, which ends
// the operator early when its left value decides, and a step combining both
// sides. Steps run in the order the walk evaluates the nodes, so references
// are looked up and nested attributes evaluated in the same order. Each step
// carries the function that runs it, chosen when compiled: the common
// comparison of an attribute with a constant has runners of its own that
// read a literal attribute in place.
//
// What the walk observes is kept exact:
// - The cycle mark is set on the root only. A form runs only at a node that
//   is no operand of another node, and only while no evaluation that began
//   inside a tree (at an operand, or at a node it did not mark) is in
//   progress (eval_inner_entries). Then every marked node lies on a marked
//   path down from a root, so a marked node inside this tree means a marked
//   root, and a nested evaluation that comes back to the tree meets the mark
//   on the root as it would have met it on the way down. A marked root is
//   left to the walk, which answers ERROR.
// - The nesting count: the form runs only when the deepest node of the tree
//   stays clear of CLASSAD_MAX_EVAL_DEPTH, so no check inside it could
//   fail; an attribute that is no literal is evaluated by the walk with the
//   exact count its reference would have had.
//
// Process-wide state: the table of compiled forms, numbered from 1 (the
// number a root keeps, see EvalMark), with the numbers freed for reuse.
// Each form holds its own slots, which is safe because a form never runs
// twice at once (its root is marked). Single-threaded like evaluation.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <type_traits>
#include <vector>

#include "classad/eval_reference.h"
#include "classad/eval_value.h"
#include "classad/evaluation.h"
#include "classad/expr_tree.h"
#include "core/allocation.h"
#include "core/case_blind_equal.h"

namespace {

// The number kept by a root whose tree cannot be compiled (it holds a call,
// or is too large), so that it is not tried again. Numbers fill 24 bits.
const uint32_t kNotCompiled = 0x7FFFFF;
const uint16_t kLongText = 0xFFFF;
// Larger or deeper trees are left to the walk; this bounds the compiler's
// recursion and the slot numbers.
const int kMaxSteps = 4096;
const int kMaxHeight = 256;

enum Source : uint8_t { kConst, kSlot, kRef };

struct Operand {
    Source source;
    uint16_t slot;    // kSlot
    uint16_t level;   // kRef: nodes from the root down to the reference, both counted
    uint16_t length;  // kConst string: its length, kLongText from that length on
    union {
        EvalValue value;               // kConst
        const Variable::Scope *scope;  // kRef; lives in the tree's Variable
    };
};

enum Code : uint8_t {
    kLoad,     // the left operand as it is (a reference under a group or an
               // assignment, one fetched early to keep the walk's order, or
               // the left side of "&&" or "||" to test)
    kNegate,   // unary minus of the right operand
    kLogical,  // both sides of an undecided "&&" or "||"
    kLess,
    kLessEqual,
    kGreater,
    kGreaterEqual,
    kEqual,
    kNotEqual,
    kOperate,  // any other operator, through the operator layer
};

// A test on a step's value, when it is the left side of "&&" or "||".
enum Test : uint8_t { kNoTest, kTestAnd, kTestOr };

struct Step;
struct Frame;
// Runs steps[i]; the next step to run.
using StepRunner = int (*)(const Step *steps, int i, const Frame &f);

struct Step {
    StepRunner run;  // chosen when compiled, by the step's code and operands
    Code code;
    Test test;
    OpKind op;
    uint16_t target;  // with a test: the slot of the operator it may decide
    uint16_t jump;    // with a test: the step after that operator
    Operand left;
    Operand right;
    // For "==" and "!=" against a short ASCII constant text: the constant
    // prepared to be compared without branches on the attribute's bytes.
    bool folds;
    FoldedText folded;
    // For a comparison of an integer attribute with an integer constant:
    // the values that compare true, as a range (or all but a range).
    int64_t low;
    uint64_t span;  // the range is low .. low + span
    bool outside;
    // For a comparison of two integer attributes: bit 0, 1 or 2 is the
    // truth when the left is less than, equal to or greater than the right.
    uint8_t truths;
};

struct Program {
    unsigned generation;  // program_generation when made
    int height;           // nodes on the longest path from the root, the root counted
    int count;
    Operand result;
    Step *steps;
    EvalValue *slots;
    bool and_chain;   // comparisons of attributes with constants joined by "&&"
    bool folds_text;  // some step compares a text prepared for it
};

// Advanced when a node inside some tree is given another kind: every form
// made before is out of date and is made again at its next run.
unsigned program_generation = 0;

// Entry 0 stands for "none". Made at the first compilation, never freed.
std::vector<Program *> *program_table = nullptr;

std::vector<Program *> &programs() {
    if (program_table == nullptr) {
        program_table = new (torvel::or_die) std::vector<Program *>(1, nullptr);
    }
    return *program_table;
}

std::vector<uint32_t> &free_numbers() {
    static std::vector<uint32_t> *numbers = new (torvel::or_die) std::vector<uint32_t>;
    return *numbers;
}

Operand constant(const EvalValue &v) {
    Operand o;
    o.source = kConst;
    o.slot = 0;
    o.level = 0;
    o.length = 0;
    if (v.type == LX_STRING) {
        size_t n = strlen(v.s);
        o.length = n < kLongText ? static_cast<uint16_t>(n) : kLongText;
    }
    o.value = v;
    return o;
}

bool is_operator(const ExprTree *node) {
    return node != nullptr && node->MyType() >= LX_ASSIGN && node->MyType() <= LX_DIV;
}

Code code_of(LexemeType kind) {
    switch (kind) {
        case LX_LT:
            return kLess;
        case LX_LE:
            return kLessEqual;
        case LX_GT:
            return kGreater;
        case LX_GE:
            return kGreaterEqual;
        case LX_EQ:
            return kEqual;
        case LX_NEQ:
            return kNotEqual;
        default:
            return kOperate;
    }
}

// ---- compiling ----

class Compiler {
 public:
    bool failed = false;
    // A trial only asks whether a subtree is constant: it stops at its
    // first step, and asks no trial of its own, so that asking costs at
    // most one walk of the subtree (trials within trials would double the
    // work at every level of a right-nested tree).
    bool trial = false;
    int height = 0;
    std::vector<Step> steps;

    // The operand a node gives, at level (the root is level 1).
    Operand operand(ExprTree *node, int level);

 private:
    Operand emit(Code code, OpKind op, const Operand &left, const Operand &right);
    Operand operation(BinaryOpBase *node, int level);
    Operand passing(ExprTree *right, int level);
    Operand negation(ExprTree *right, int level);
    Operand logical(BinaryOpBase *node, int level);
};

Operand Compiler::emit(Code code, OpKind op, const Operand &left, const Operand &right) {
    if (trial) {
        failed = true;  // not constant: nothing more to learn
        return constant(EvalValue::Undefined());
    }
    Step step;
    step.run = nullptr;
    step.folds = false;
    step.code = code;
    step.test = kNoTest;
    step.op = op;
    step.target = 0;
    step.jump = 0;
    step.left = left;
    step.right = right;
    steps.push_back(step);
    if (steps.size() >= static_cast<size_t>(kMaxSteps)) {
        failed = true;
    }
    Operand o = constant(EvalValue::Undefined());
    o.source = kSlot;
    o.slot = static_cast<uint16_t>(steps.size() - 1);
    return o;
}

Operand Compiler::operand(ExprTree *node, int level) {
    Operand undefined = constant(EvalValue::Undefined());
    if (failed || node == nullptr) {
        return undefined;
    }
    height = level > height ? level : height;
    if (level > kMaxHeight) {
        failed = true;
        return undefined;
    }
    EvalValue v;
    if (eval_literal_value(node, v)) {
        return constant(v);
    }
    if (node->MyType() == LX_VARIABLE) {
        const Variable::Scope &scope = static_cast<Variable *>(node)->ReferenceScope();
        if (scope.unknown_prefix) {
            return undefined;
        }
        Operand o = undefined;
        o.source = kRef;
        o.level = static_cast<uint16_t>(level);
        o.scope = &scope;
        return o;
    }
    if (is_operator(node)) {
        return operation(static_cast<BinaryOpBase *>(node), level);
    }
    failed = true;  // a call
    return undefined;
}

Operand Compiler::passing(ExprTree *right, int level) {
    Operand r = operand(right, level + 1);
    if (r.source == kConst) {
        EvalValue v = r.value;
        eval_pass_on(v);
        return constant(v);
    }
    // No step gives a time, nor does a reference (an attribute gives what
    // its assignment passes on), so only a reference needs a step.
    return r.source == kSlot ? r : emit(kLoad, ADDITION_OP, r, constant(EvalValue::Undefined()));
}

Operand Compiler::negation(ExprTree *right, int level) {
    Operand r = operand(right, level + 1);
    if (r.source == kConst) {
        return constant(eval_stored(eval_negate(r.value)));
    }
    return emit(kNegate, SUBTRACTION_OP, constant(EvalValue::Undefined()), r);
}

// Whether a step's value is always 0, 1, UNDEFINED or ERROR: then "&&"
// with a left side that did not decide gives exactly the right side's value.
bool gives_truth(const Step &step) {
    return (step.code >= kLess && step.code <= kNotEqual) || step.code == kLogical ||
           (step.code == kOperate && (step.op == META_EQUAL_OP || step.op == META_NOT_EQUAL_OP));
}

// The left side is tested where it is computed when its step is the last
// one (else a load is added for the test). When the left side decides, its
// test puts the operator's value in place and jumps past the right side.
Operand Compiler::logical(BinaryOpBase *node, int level) {
    bool is_or = node->MyType() == LX_OR;
    OpKind op = is_or ? LOGICAL_OR_OP : LOGICAL_AND_OP;
    Operand l = operand(node->LeftOperand(), level + 1);
    bool in_place =
        l.source == kSlot && l.slot + 1u == steps.size() && steps[l.slot].test == kNoTest;
    Operand tested = in_place ? l : emit(kLoad, op, l, constant(EvalValue::Undefined()));
    Operand r = operand(node->RightOperand(), level + 1);
    if (failed) {
        return r;
    }
    steps[tested.slot].test = is_or ? kTestOr : kTestAnd;
    Operand value = !is_or && r.source == kSlot && gives_truth(steps[r.slot])
                        ? r
                        : emit(kLogical, op, tested, r);
    steps[tested.slot].target = value.slot;
    steps[tested.slot].jump = static_cast<uint16_t>(steps.size());
    return value;
}

// A test whose operator's value is tested again, by an enclosing operator
// of the same kind, would decide that one too with the same value ("&&"
// decides with 0, UNDEFINED or ERROR, "||" with 1): it jumps to the end of
// the whole chain at once. (An enclosing operator of the other kind would
// not be decided by that value, so skipping its test changes nothing.)
void join_chains(std::vector<Step> &steps) {
    for (Step &step : steps) {
        while (step.test != kNoTest && steps[step.target].test == step.test) {
            const Step &enclosing = steps[step.target];
            step.jump = enclosing.jump;
            step.target = enclosing.target;
        }
    }
}

// Whether node compiles to a constant, without steps (a literal, or an
// integer subtree folded).
bool is_constant(ExprTree *node, int level) {
    Compiler trial;
    trial.trial = true;
    Operand o = trial.operand(node, level);
    return !trial.failed && o.source == kConst;
}

Operand Compiler::operation(BinaryOpBase *node, int level) {
    LexemeType kind = node->MyType();
    ExprTree *left = node->LeftOperand();
    if (kind == LX_ASSIGN || (kind == LX_ADD && left == nullptr)) {
        return node->RightOperand() == nullptr ? constant(EvalValue::Undefined())
                                               : passing(node->RightOperand(), level);
    }
    if (kind == LX_SUB && left == nullptr) {
        return negation(node->RightOperand(), level);
    }
    if (kind == LX_AND || kind == LX_OR) {
        return logical(node, level);
    }
    OpKind op = eval_operation_of(kind);
    Operand l = operand(left, level + 1);
    if (l.source == kRef && is_operator(node->RightOperand()) &&
        (trial || !is_constant(node->RightOperand(), level + 1))) {
        l = emit(kLoad, op, l, constant(EvalValue::Undefined()));  // before the right side's steps
    }
    Operand r = operand(node->RightOperand(), level + 1);
    // Integer operations are pure and exact: fold them. Real arithmetic
    // (its guard) and string comparison (the locale) stay for run time.
    if (l.source == kConst && r.source == kConst && l.value.type == LX_INTEGER &&
        r.value.type == LX_INTEGER) {
        return constant(eval_stored(eval_operate(op, l.value, r.value)));
    }
    return emit(code_of(kind), op, l, r);
}

StepRunner runner_for(const Step &s);

// Whether a step compares an attribute with a constant that a chain can
// compare in place: an integer, or a text prepared for it.
bool is_chain_clause(const Step &s) {
    bool comparison = s.code >= kLess && s.code <= kNotEqual;
    if (s.left.source != kRef) {
        return false;
    }
    if (s.right.source == kRef) {
        return comparison;  // two integer attributes
    }
    if (s.right.source != kConst) {
        return false;
    }
    return s.folds || (comparison && s.right.value.type == LX_INTEGER);
}

// The truths of a comparison of two integers: bit 0 when the left is less,
// bit 1 when equal, bit 2 when greater.
uint8_t truths_of(Code code) {
    switch (code) {
        case kLess:
            return 1;
        case kLessEqual:
            return 3;
        case kGreater:
            return 4;
        case kGreaterEqual:
            return 6;
        case kEqual:
            return 2;
        default:
            return 5;
    }
}

// The integers that compare true with the constant of an integer
// comparison step, as one range or all but one (never a branch per code).
void note_true_range(Step &s) {
    const int64_t kMin = INT32_MIN;
    const int64_t kMax = INT32_MAX;
    int64_t r = s.right.value.i;
    int64_t low = kMin;
    int64_t high = kMax;
    s.outside = false;
    switch (s.code) {
        case kLess:
            high = r - 1;
            break;
        case kLessEqual:
            high = r;
            break;
        case kGreater:
            low = r + 1;
            break;
        case kGreaterEqual:
            low = r;
            break;
        default:  // kEqual, and kNotEqual as all but it
            low = r;
            high = r;
            s.outside = s.code == kNotEqual;
            break;
    }
    if (low > high) {  // nothing: all but everything
        low = kMin;
        high = kMax;
        s.outside = true;
    }
    s.low = low;
    s.span = static_cast<uint64_t>(high - low);
}

// Whether the program is clauses joined by "&&" alone: each clause but the
// last decides the whole with its 0 (its test leads to the end), and the
// last clause's value is the program's.
bool is_and_chain(const Program &p) {
    int last = p.count - 1;
    if (p.count == 0 || p.result.source != kSlot || p.result.slot != last) {
        return false;
    }
    for (int i = 0; i <= last; i++) {
        const Step &s = p.steps[i];
        bool joined = i == last ? s.test == kNoTest
                                : s.test == kTestAnd && s.target == last && s.jump == p.count;
        if (!joined || !is_chain_clause(s)) {
            return false;
        }
    }
    return true;
}

// Compiles the tree under root; kNotCompiled when it cannot be.
uint32_t compile(ExprTree *root) {
    Compiler compiler;
    Operand result = compiler.operand(root, 1);
    if (!compiler.failed) {
        join_chains(compiler.steps);
    }
    std::vector<Program *> &table = programs();
    std::vector<uint32_t> &numbers = free_numbers();
    if (compiler.failed || (numbers.empty() && table.size() >= kNotCompiled)) {
        return kNotCompiled;
    }
    Program *p = new (torvel::or_die) Program;
    p->generation = program_generation;
    p->height = compiler.height;
    p->count = static_cast<int>(compiler.steps.size());
    p->result = result;
    p->steps = new (torvel::or_die) Step[compiler.steps.size() + 1];
    p->slots = new (torvel::or_die) EvalValue[compiler.steps.size() + 1];
    std::copy(compiler.steps.begin(), compiler.steps.end(), p->steps);
    for (int i = 0; i < p->count; i++) {
        Step &step = p->steps[i];
        step.run = runner_for(step);
        step.folds = step.left.source == kRef && step.right.source == kConst &&
                     step.right.value.type == LX_STRING &&
                     (step.code == kEqual || step.code == kNotEqual) &&
                     prepare_folded_text(step.right.value.s, step.right.length, &step.folded);
    }
    p->and_chain = is_and_chain(*p);
    for (int i = 0; p->and_chain && i < p->count; i++) {
        Step &step = p->steps[i];
        if (step.right.source == kRef) {
            step.truths = truths_of(step.code);
        } else if (!step.folds) {
            note_true_range(step);
        }
    }
    p->folds_text = false;
    for (int i = 0; i < p->count; i++) {
        p->folds_text |= p->steps[i].folds;
    }
    if (!numbers.empty()) {
        uint32_t number = numbers.back();
        numbers.pop_back();
        table[number] = p;
        return number;
    }
    table.push_back(p);
    return static_cast<uint32_t>(table.size() - 1);
}

// ---- running ----

struct Frame {
    const AttrList *my;
    const AttrList *target;
    EvalValue *slots;
    int base;  // the nesting count before the root
};

// A reference, at the nesting the walk would evaluate it at.
void fetch_any_reference(const Operand &o, const Frame &f, EvalValue &out) {
    eval_depth = f.base + o.level;
    eval_reference_value(*o.scope, f.my, f.target, out);
}

// The attribute of the common reference, a literal attribute of the first
// ad looked in, spelled as the reference spells it; else null.
inline const AttrListElem *own_literal_attribute(const Operand &o, const Frame &f) {
    const Variable::Scope &scope = *o.scope;
    const AttrList *my = scope.exchanged ? f.target : f.my;
    const AttrListElem *attribute =
        my != nullptr ? my->LookupOwnInterned(scope.name, scope.hash) : nullptr;
    return attribute != nullptr && attribute->literalKind != LX_NONE ? attribute : nullptr;
}

// The common reference is read here without a call (the run's nesting
// check covers the literal's); the rest as the walk does.
inline void fetch_reference(const Operand &o, const Frame &f, EvalValue &out) {
    const AttrListElem *attribute = own_literal_attribute(o, f);
    if (attribute != nullptr) {
        eval_literal_attribute(attribute, out);
        return;
    }
    fetch_any_reference(o, f, out);
}

// Copies a slot member by member, each as wide as it was written: slots are
// read back right after their step stored them, and a copy of the whole
// record at once would wait until those narrower stores reach the cache.
inline void copy_slot(const EvalValue &from, EvalValue &to) {
    to.type = from.type;
    if (from.type == LX_FLOAT) {
        to.r = from.r;
    } else if (from.type == LX_STRING || from.type == LX_TIME) {
        to.s = from.s;
    } else {
        to.i = from.i;  // integers; UNDEFINED and ERROR carry 0
    }
}

inline void fetch(const Operand &o, const Frame &f, EvalValue &out) {
    if (o.source == kConst) {
        out = o.value;
    } else if (o.source == kSlot) {
        copy_slot(f.slots[o.slot], out);
    } else {
        fetch_reference(o, f, out);
    }
}

// Whether the left value of "&&" ("||" with is_or) decides it, as the walk
// decides: then out is the operator's value.
bool decides(bool is_or, const EvalValue &left, EvalValue &out) {
    if (left.type == LX_INTEGER) {
        if ((left.i != 0) != is_or) {
            return false;
        }
        out = EvalValue::Int(is_or);
        return true;
    }
    return eval_short_circuit(is_or ? LOGICAL_OR_OP : LOGICAL_AND_OP, left, out);
}

// A comparison of two values; two integers, and two strings for "==" and
// "!=", without the operator layer.
template <class Compare>
inline void compare_values(const Step &s, const EvalValue &l, const EvalValue &r, EvalValue &out) {
    if (l.type == LX_INTEGER && r.type == LX_INTEGER) {
        out = EvalValue::Int(Compare()(l.i, r.i));
        return;
    }
    if (l.type == LX_STRING && r.type == LX_STRING && (s.code == kEqual || s.code == kNotEqual)) {
        // Texts interned in the same space are often the same pointer.
        bool same = l.s == r.s || texts_equal_ignoring_case(l.s, r.s);
        out = EvalValue::Int(same == (s.code == kEqual));
        return;
    }
    out = eval_stored(eval_operate(s.op, l, r));
}

template <class Compare>
void compare(const Step &s, const Frame &f, EvalValue &out) {
    EvalValue l;
    EvalValue r;
    fetch(s.left, f, l);
    fetch(s.right, f, r);
    compare_values<Compare>(s, l, r, out);
}

void combine(const Step &s, const Frame &f, EvalValue &out) {
    EvalValue l;
    EvalValue r;
    fetch(s.left, f, l);
    fetch(s.right, f, r);
    if (l.type == LX_INTEGER && r.type == LX_INTEGER) {
        out = EvalValue::Int(r.i != 0);  // the left side did not decide
        return;
    }
    out = eval_stored(eval_operate(s.op, l, r));
}

void operate(const Step &s, const Frame &f, EvalValue &out) {
    EvalValue l;
    EvalValue r;
    fetch(s.left, f, l);
    fetch(s.right, f, r);
    out = eval_stored(s.code == kNegate ? eval_negate(r) : eval_operate(s.op, l, r));
}

// After a step stored its value: the step to run next, past the end of the
// "&&" or "||" its value decides.
inline int next_step(const Step &s, int i, const Frame &f, const EvalValue &out) {
    if (s.test != kNoTest && decides(s.test == kTestOr, out, f.slots[s.target])) {
        return s.jump;
    }
    return i + 1;
}

// The same for a step that stored the integer truth.
inline int next_step_after_truth(const Step &s, int i, const Frame &f, bool truth) {
    bool is_or = s.test == kTestOr;
    if (s.test != kNoTest && truth == is_or) {
        f.slots[s.target] = EvalValue::Int(is_or);
        return s.jump;
    }
    return i + 1;
}

// Runs any step into its slot; the next step to run.
int run_step(const Step *steps, int i, const Frame &f) {
    const Step &s = steps[i];
    EvalValue &out = f.slots[i];
    switch (s.code) {
        case kLoad:
            fetch(s.left, f, out);
            break;
        case kLogical:
            combine(s, f, out);
            break;
        case kLess:
            compare<std::less<int>>(s, f, out);
            break;
        case kLessEqual:
            compare<std::less_equal<int>>(s, f, out);
            break;
        case kGreater:
            compare<std::greater<int>>(s, f, out);
            break;
        case kGreaterEqual:
            compare<std::greater_equal<int>>(s, f, out);
            break;
        case kEqual:
            compare<std::equal_to<int>>(s, f, out);
            break;
        case kNotEqual:
            compare<std::not_equal_to<int>>(s, f, out);
            break;
        default:
            operate(s, f, out);
            break;
    }
    return next_step(s, i, f, out);
}

// A comparison of an attribute against a constant, the general way: out
// of line, so that the common case keeps its values in registers.
template <class Compare>
__attribute__((noinline)) void compare_reference(const Step &s, const Frame &f, EvalValue &out) {
    EvalValue l;
    fetch_reference(s.left, f, l);
    compare_values<Compare>(s, l, s.right.value, out);
}

// The common comparison, an attribute against a constant, without asking
// where each operand comes from; two integers are compared in place.
template <class Compare>
int run_reference_comparison(const Step *steps, int i, const Frame &f) {
    const Step &s = steps[i];
    EvalValue &out = f.slots[i];
    const AttrListElem *attribute = own_literal_attribute(s.left, f);
    if (attribute != nullptr && attribute->literalKind == LX_INTEGER &&
        s.right.value.type == LX_INTEGER) {
        bool truth = Compare()(attribute->literalInt, s.right.value.i);
        out = EvalValue::Int(truth);
        return next_step_after_truth(s, i, f, truth);
    }
    compare_reference<Compare>(s, f, out);
    return next_step(s, i, f, out);
}

// Whether the text of a literal attribute equals a constant text without
// regard to case. Interned texts that are equal are one pointer; texts of
// different lengths differ in every locale, since no byte but NUL lowers to
// NUL; what is left is compared byte by byte.
inline bool literal_text_equals(const AttrListElem *attribute, const Operand &text) {
    if (attribute->literalText == text.value.s) {
        return true;
    }
    if (text.length != kLongText && attribute->literalLength != text.length) {
        return false;
    }
    return texts_equal_ignoring_case(attribute->literalText, text.value.s);
}

// "==" (or "!=" when equal is false) of an attribute against a constant
// text: a literal text attribute is compared in place, with its length.
template <bool equal>
int run_reference_text_comparison(const Step *steps, int i, const Frame &f) {
    const Step &s = steps[i];
    EvalValue &out = f.slots[i];
    const AttrListElem *attribute = own_literal_attribute(s.left, f);
    if (attribute != nullptr && attribute->literalKind == LX_STRING) {
        bool truth = literal_text_equals(attribute, s.right) == equal;
        out = EvalValue::Int(truth);
        return next_step_after_truth(s, i, f, truth);
    }
    using Compare =
        typename std::conditional<equal, std::equal_to<int>, std::not_equal_to<int>>::type;
    compare_reference<Compare>(s, f, out);
    return next_step(s, i, f, out);
}

// One clause of an and-chain compared in place: its truth, with *simple
// cleared when the clause is not two integers or ASCII texts compared in
// place (an attribute missing, or no literal of the other side's kind).
inline bool clause_in_place(const Step &s, const Frame &f, bool *simple) {
    const AttrListElem *attribute = own_literal_attribute(s.left, f);
    if (s.folds) {
        if (attribute == nullptr || attribute->literalKind != LX_STRING) {
            *simple = false;
            return false;
        }
        bool ascii = false;
        bool equal =
            folded_text_equals(s.folded, attribute->literalText, attribute->literalLength, &ascii);
        *simple &= ascii;
        return equal == (s.code == kEqual);
    }
    if (attribute == nullptr || attribute->literalKind != LX_INTEGER) {
        *simple = false;
        return false;
    }
    int l = attribute->literalInt;
    if (s.right.source == kRef) {
        const AttrListElem *other = own_literal_attribute(s.right, f);
        if (other == nullptr || other->literalKind != LX_INTEGER) {
            *simple = false;
            return false;
        }
        int r = other->literalInt;
        return (s.truths >> ((l > r) * 2 + (l == r))) & 1;
    }
    uint64_t offset = static_cast<uint64_t>(l - s.low);
    return (offset <= s.span) != s.outside;
}

// An and-chain compared all at once: every clause is looked up and
// compared whatever the clauses before it gave, so that no branch waits on
// a value read from the ad. Looking up and comparing literals is pure, so
// clauses the walk would not have reached show nowhere. When every clause
// gave 0 or 1, *truth is their conjunction, which is the chain's value as
// the walk gives it, and the answer is true; otherwise the steps must run.
// Texts are compared a word at a time only where the locale folds ASCII as
// the C locale does.
bool chain_in_place(const Program &p, const Frame &f, bool *truth) {
    if (p.folds_text && !locale_folds_ascii_plainly(case_fold_table())) {
        return false;  // the steps compare such texts byte by byte
    }
    bool simple = true;
    bool all = true;
    for (int i = 0; i < p.count; i++) {
        all &= clause_in_place(p.steps[i], f, &simple);
    }
    *truth = all;
    return simple;
}

StepRunner runner_for(const Step &s) {
    if (s.left.source != kRef || s.right.source != kConst) {
        return run_step;
    }
    if (s.right.value.type == LX_STRING && (s.code == kEqual || s.code == kNotEqual)) {
        return s.code == kEqual ? run_reference_text_comparison<true>
                                : run_reference_text_comparison<false>;
    }
    switch (s.code) {
        case kLess:
            return run_reference_comparison<std::less<int>>;
        case kLessEqual:
            return run_reference_comparison<std::less_equal<int>>;
        case kGreater:
            return run_reference_comparison<std::greater<int>>;
        case kGreaterEqual:
            return run_reference_comparison<std::greater_equal<int>>;
        case kEqual:
            return run_reference_comparison<std::equal_to<int>>;
        case kNotEqual:
            return run_reference_comparison<std::not_equal_to<int>>;
        default:
            return run_step;
    }
}

}  // namespace

namespace {

// The compiled form of a root whose form is missing or out of date, made
// now; null when the tree cannot be compiled. Out of line: it runs once
// per tree.
__attribute__((noinline)) const Program *program_made(ExprTree *tree) {
    uint32_t number = EvalMark::program(tree);
    if (number != 0 && number != kNotCompiled &&
        (*program_table)[number]->generation != program_generation) {
        EvalMark::forgetProgram(tree);
        number = 0;
    }
    if (number == 0) {
        number = compile(tree);
        EvalMark::setProgram(tree, number);
    }
    return number == kNotCompiled ? nullptr : (*program_table)[number];
}

// The compiled form of a root, made when it is missing or out of date.
inline const Program *program_of(ExprTree *tree) {
    uint32_t number = EvalMark::program(tree);
    if (number != 0 && number != kNotCompiled) {
        const Program *p = (*program_table)[number];
        if (p->generation == program_generation) {
            return p;
        }
    }
    return program_made(tree);
}

}  // namespace

bool eval_program_run(ExprTree *tree, const AttrList *my, const AttrList *target, EvalValue &out) {
    if (!is_operator(tree) || EvalMark::isOperand(tree) || eval_inner_entries != 0) {
        return false;
    }
    const Program *p = program_of(tree);
    // One more level for a literal attribute read at the deepest node.
    if (p == nullptr || tree->IsBeingEvaluated() ||
        eval_depth + p->height + 1 >= CLASSAD_MAX_EVAL_DEPTH) {
        return false;
    }
    Frame f{my, target, p->slots, eval_depth};
    // A chain compared in place evaluates nothing that could come back to
    // the tree, so it needs no mark.
    bool truth = false;
    if (p->and_chain && chain_in_place(*p, f, &truth)) {
        out = EvalValue::Int(truth);
        return true;
    }
    EvalMark::set(tree, true);
    for (int i = 0; i < p->count;) {
        i = p->steps[i].run(p->steps, i, f);
    }
    eval_depth = f.base;
    EvalMark::set(tree, false);
    fetch(p->result, f, out);
    return true;
}

void eval_program_release(uint32_t number) {
    if (number == kNotCompiled) {
        return;
    }
    Program *p = programs()[number];
    programs()[number] = nullptr;
    free_numbers().push_back(number);
    delete[] p->steps;
    delete[] p->slots;
    delete p;
}

void eval_programs_outdated() {
    program_generation++;
}
