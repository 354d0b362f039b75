// Evaluation of expression trees: cycle detection and the nesting bound in
// EvalTree, the literals, attribute references with their MY. and TARGET.
// scopes, the operator nodes (through the operator layer) and the ordering
// operators of Integer and Float. Calls are evaluated in functions.cpp.
//
// Process-wide state: the nesting count of EvalTree and, in the nodes, the
// evaluation-in-progress marks. One evaluation at a time.
#include "classad/evaluation.h"

#include <string.h>
#include <strings.h>
#include <time.h>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/operators.h"

namespace {

int eval_depth = 0;

OpKind operation_of(LexemeType kind) {
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
            return ADDITION_OP;  // LX_ADD; LX_ASSIGN never applies an operation
    }
}

// Describes an evaluated operand as a Value; a string Value borrows
// holder's text.
void describe(const EvalResult &holder, Value &value) {
    switch (holder.type) {
        case LX_INTEGER:
            value.setIntegerValue(holder.i);
            break;
        case LX_FLOAT:
            value.setRealValue(holder.f);
            break;
        case LX_STRING:
            value.setStringValue(holder.s);
            break;
        case LX_UNDEFINED:
            value.setUndefinedValue();
            break;
        default:
            value.setErrorValue();  // errors and times
            break;
    }
}

// Evaluates operand (which may be missing) into holder and describes it as
// a Value. Number and string literals are read in place: evaluating them
// could neither fail nor recurse, and a string Value then borrows the
// literal's interned text instead of a copy.
void operand_value(ExprTree *operand, const AttrList *my, const AttrList *target,
                   EvalResult &holder, Value &value) {
    if (operand == nullptr) {
        value.setUndefinedValue();
        return;
    }
    switch (operand->MyType()) {
        case LX_INTEGER:
            value.setIntegerValue(static_cast<IntegerBase *>(operand)->Value());
            return;
        case LX_STRING:
            value.setStringValue(const_cast<char *>(static_cast<StringBase *>(operand)->Value()));
            return;
        default:
            operand->EvalTree(my, target, &holder);
            describe(holder, value);
            return;
    }
}

// A group or an assignment: the right operand's value unchanged, evaluated
// straight into result. The operator layer has no time values, so a time
// becomes ERROR here as it would through a Value.
bool pass_right(ExprTree *right, const AttrList *my, const AttrList *target,
                EvalResult *result) {
    if (right == nullptr) {
        result->set_undefined();
        return true;
    }
    right->EvalTree(my, target, result);
    if (result->type != LX_INTEGER && result->type != LX_FLOAT && result->type != LX_STRING &&
        result->type != LX_UNDEFINED) {
        result->set_error();
    }
    return true;
}

void store_value(Value &value, EvalResult *result) {
    int i = 0;
    double r = 0.0;
    char *s = nullptr;
    if (value.isIntegerValue(i)) {
        result->set_int(i);
    } else if (value.isRealValue(r)) {
        result->set_float(static_cast<float>(r));
    } else if (value.isStringValue(s)) {
        result->set_string(s);
    } else if (value.isErrorValue()) {
        result->set_error();
    } else {
        result->set_undefined();
    }
}

// The value of a literal node's other tree, for the ordering operators:
// true with *number set when it evaluates (without attribute lists) to an
// integer or a float.
bool ordering_operand(ExprTree &other, double *number) {
    EvalResult r;
    other.EvalTree(nullptr, &r);
    if (r.type == LX_INTEGER) {
        *number = r.i;
        return true;
    }
    if (r.type == LX_FLOAT) {
        *number = r.f;
        return true;
    }
    return false;
}

// Mixed comparisons are done in single precision.
template <class Compare>
bool ordered(float mine, ExprTree &other, Compare compare) {
    double theirs = 0.0;
    return ordering_operand(other, &theirs) && compare(mine, static_cast<float>(theirs));
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

// ---- ExprTree ----

bool ExprTree::EvalTree(const AttrList *my, EvalResult *result) {
    return EvalTree(my, nullptr, result);
}

bool ExprTree::EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    if (evalFlag || eval_depth >= CLASSAD_MAX_EVAL_DEPTH) {
        result->set_error();
        return false;
    }
    evalFlag = true;
    eval_depth++;
    bool ok = _EvalTree(my, target, result);
    eval_depth--;
    evalFlag = false;
    return ok;
}

// ---- literals ----

bool Integer::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool Integer::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_int(value);
    return true;
}

bool Float::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool Float::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_float(value);
    return true;
}

bool String::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool String::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_string(value);
    return true;
}

bool ISOTime::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool ISOTime::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_time(time);
    return true;
}

bool ClassadBoolean::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool ClassadBoolean::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_int(value);
    return true;
}

bool Undefined::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool Undefined::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_undefined();
    return true;
}

bool Error::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}
bool Error::_EvalTree(const AttrList *, const AttrList *, EvalResult *result) {
    result->set_error();
    return true;
}

// ---- attribute references ----

bool Variable::_EvalTree(const AttrList *my, EvalResult *result) {
    ExprTree *attribute = my != nullptr ? my->Lookup(name) : nullptr;
    if (attribute == nullptr) {
        result->set_undefined();
        return true;
    }
    return attribute->EvalTree(my, result);
}

bool Variable::_EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    return _EvalTreeRecursive(name, my, target, result, false);
}

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

// ---- operators ----

bool BinaryOpBase::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}

bool BinaryOpBase::_EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    if (type == LX_ASSIGN || (type == LX_ADD && lArg == nullptr)) {
        return pass_right(rArg, my, target, result);
    }
    OpKind op = operation_of(type);
    EvalResult left_result;
    EvalResult right_result;
    Value left;
    Value right;
    Value value;
    operand_value(lArg, my, target, left_result, left);
    if ((type == LX_AND || type == LX_OR) && operateShortCircuit(op, left, value)) {
        store_value(value, result);
        return true;
    }
    operand_value(rArg, my, target, right_result, right);
    if (type == LX_SUB && lArg == nullptr) {
        operate(UNARY_MINUS_OP, right, value);
    } else {
        operate(op, left, right, value);
    }
    store_value(value, result);
    return true;
}

// ---- ordering of number literals ----

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
