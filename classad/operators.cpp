// The operator layer: the operations of the language on the evaluator's
// values (eval_operate, eval_negate, eval_short_circuit), and operate /
// operateShortCircuit with the Value accessors, which run the same code.
// Integer arithmetic is done in unsigned 32-bit so that overflow wraps
// without undefined behaviour; the one quotient that does not fit
// (INT_MIN / -1) gives ERROR, as does a zero divisor.
#include "classad/operators.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include "classad/eval_value.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

namespace {

volatile sig_atomic_t fpe_raised = 0;

const char kSigactionWarning[] = "Warning! ClassAd: Failed sigaction for SIGFPE (errno=%d)\n";

// Two's-complement results computed on unsigned values (no signed overflow).
int wrap_add(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int wrap_sub(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int wrap_mul(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int wrap_neg(int a) {
    return static_cast<int>(0u - static_cast<uint32_t>(a));
}

bool is_arithmetic(OpKind op) {
    return op == ADDITION_OP || op == SUBTRACTION_OP || op == MULTIPLICATION_OP ||
           op == DIVISION_OP;
}

bool is_comparison(OpKind op) {
    static_assert(
        LESS_THAN_OP == 0 && GREATER_THAN_OP == 7 && META_EQUAL_OP == 4 && META_NOT_EQUAL_OP == 5,
        "the comparisons are the first eight kinds but the two meta ones");
    return op <= GREATER_THAN_OP && op != META_EQUAL_OP && op != META_NOT_EQUAL_OP;
}

// A real result as computed, without the narrowing a node applies.
EvalValue raw_real(double v) {
    EvalValue e;
    e.type = LX_FLOAT;
    e.r = v;
    return e;
}

// What the operator layer sees: times and anything else unknown are errors.
LexemeType operand_kind(const EvalValue &v) {
    switch (v.type) {
        case LX_INTEGER:
        case LX_FLOAT:
        case LX_STRING:
        case LX_UNDEFINED:
            return v.type;
        default:
            return LX_ERROR;
    }
}

double as_double(const EvalValue &v) {
    return v.type == LX_INTEGER ? static_cast<double>(v.i) : v.r;
}

EvalValue integer_arithmetic(OpKind op, int a, int b) {
    switch (op) {
        case ADDITION_OP:
            return EvalValue::Int(wrap_add(a, b));
        case SUBTRACTION_OP:
            return EvalValue::Int(wrap_sub(a, b));
        case MULTIPLICATION_OP:
            return EvalValue::Int(wrap_mul(a, b));
        default:
            if (b == 0 || (a == INT_MIN && b == -1)) {
                return EvalValue::Error();
            }
            return EvalValue::Int(a / b);
    }
}

// Real arithmetic under the floating-point guard.
EvalValue real_arithmetic(OpKind op, double a, double b) {
    struct sigaction guard;
    struct sigaction previous;
    memset(&guard, 0, sizeof(guard));
    guard.sa_handler = ClassAd_SIGFPE_handler;
    sigemptyset(&guard.sa_mask);
    guard.sa_flags = 0;
    bool installed = sigaction(SIGFPE, &guard, &previous) == 0;
    if (!installed) {
        dprintf(D_ALWAYS, kSigactionWarning, errno);
    }

    fpe_raised = 0;
    errno = 0;
    double value;
    switch (op) {
        case ADDITION_OP:
            value = a + b;
            break;
        case SUBTRACTION_OP:
            value = a - b;
            break;
        case MULTIPLICATION_OP:
            value = a * b;
            break;
        default:
            value = a / b;
            break;
    }
    EvalValue result =
        fpe_raised != 0 || errno == EDOM || errno == ERANGE ? EvalValue::Error() : raw_real(value);

    if (installed && sigaction(SIGFPE, &previous, nullptr) != 0) {
        dprintf(D_ALWAYS, kSigactionWarning, errno);
    }
    return result;
}

template <class T>
int compare_result(OpKind op, T a, T b) {
    switch (op) {
        case LESS_THAN_OP:
            return a < b;
        case LESS_OR_EQUAL_OP:
            return a <= b;
        case NOT_EQUAL_OP:
            return a != b;
        case EQUAL_OP:
            return a == b;
        case GREATER_OR_EQUAL_OP:
            return a >= b;
        default:
            return a > b;
    }
}

// Two integer operands, the common case, decided by the operator alone:
// the same helpers as the general path below, without its kind tests.
EvalValue integer_operate(OpKind op, int a, int b) {
    switch (op) {
        case ADDITION_OP:
        case SUBTRACTION_OP:
        case MULTIPLICATION_OP:
        case DIVISION_OP:
            return integer_arithmetic(op, a, b);
        case META_EQUAL_OP:
            return EvalValue::Int(a == b);
        case META_NOT_EQUAL_OP:
            return EvalValue::Int(a != b);
        case LOGICAL_AND_OP:
            return EvalValue::Int(a != 0 && b != 0);
        case LOGICAL_OR_OP:
            return EvalValue::Int(a != 0 || b != 0);
        case LESS_THAN_OP:
        case LESS_OR_EQUAL_OP:
        case NOT_EQUAL_OP:
        case EQUAL_OP:
        case GREATER_OR_EQUAL_OP:
        case GREATER_THAN_OP:
            return EvalValue::Int(compare_result(op, a, b));
        default:
            EXCEPT("Should not get here");
            return EvalValue::Error();
    }
}

// Operands already known to be neither undefined nor error.
EvalValue compare(OpKind op, LexemeType lk, const EvalValue &left, LexemeType rk,
                  const EvalValue &right) {
    if (lk == LX_STRING || rk == LX_STRING) {
        if (lk != rk) {
            return EvalValue::Error();
        }
        return EvalValue::Int(compare_result(op, strcasecmp(left.s, right.s), 0));
    }
    if (lk == LX_INTEGER && rk == LX_INTEGER) {
        return EvalValue::Int(compare_result(op, left.i, right.i));
    }
    return EvalValue::Int(compare_result(op, as_double(left), as_double(right)));
}

EvalValue arithmetic(OpKind op, LexemeType lk, const EvalValue &left, LexemeType rk,
                     const EvalValue &right) {
    if (lk == LX_STRING || rk == LX_STRING) {
        return EvalValue::Error();
    }
    if (lk == LX_INTEGER && rk == LX_INTEGER) {
        return integer_arithmetic(op, left.i, right.i);
    }
    return real_arithmetic(op, as_double(left), as_double(right));
}

// "=?=": 1 when the operands are identical after int-to-real promotion.
int identical(LexemeType lk, const EvalValue &left, LexemeType rk, const EvalValue &right) {
    if (lk == LX_INTEGER && rk == LX_INTEGER) {
        return left.i == right.i;
    }
    bool numbers = (lk == LX_INTEGER || lk == LX_FLOAT) && (rk == LX_INTEGER || rk == LX_FLOAT);
    if (numbers) {
        return as_double(left) == as_double(right);
    }
    if (lk != rk) {
        return 0;
    }
    if (lk == LX_UNDEFINED || lk == LX_ERROR) {
        return 1;
    }
    return strcmp(left.s, right.s) == 0;
}

// Truth of a logical operand: 1 true, 0 false, -1 undefined, -2 error
// (errors and strings).
int truth(LexemeType k, const EvalValue &v) {
    if (k == LX_INTEGER) {
        return v.i != 0;
    }
    if (k == LX_FLOAT) {
        return v.r != 0.0;  // NaN is true
    }
    return k == LX_UNDEFINED ? -1 : -2;
}

EvalValue of_truth(int t) {
    if (t >= 0) {
        return EvalValue::Int(t);
    }
    return t == -1 ? EvalValue::Undefined() : EvalValue::Error();
}

int logical_or(int left, int right) {
    if (left == 1 || right == 1) {
        return 1;
    }
    if (left == -2 || right == -2) {
        return -2;
    }
    return left == -1 || right == -1 ? -1 : 0;
}

EvalValue from_value(const Value &v) {
    int i = 0;
    double r = 0.0;
    char *s = nullptr;
    if (v.isIntegerValue(i)) {
        return EvalValue::Int(i);
    }
    if (v.isRealValue(r)) {
        return raw_real(r);
    }
    if (v.isStringValue(s)) {
        return EvalValue::Text(s);
    }
    return v.isErrorValue() ? EvalValue::Error() : EvalValue::Undefined();
}

void to_value(const EvalValue &e, Value &v) {
    switch (e.type) {
        case LX_INTEGER:
            v.setIntegerValue(e.i);
            break;
        case LX_FLOAT:
            v.setRealValue(e.r);
            break;
        case LX_STRING:
            v.setStringValue(const_cast<char *>(e.s));
            break;
        case LX_UNDEFINED:
            v.setUndefinedValue();
            break;
        default:
            v.setErrorValue();
            break;
    }
}

}  // namespace

bool Value::isIntegerValue(int &i) const {
    if (type_ != INTEGER_VALUE) {
        return false;
    }
    i = integer_;
    return true;
}

bool Value::isRealValue(double &r) const {
    if (type_ != REAL_VALUE) {
        return false;
    }
    r = real_;
    return true;
}

bool Value::isStringValue(char *&s) const {
    if (type_ != STRING_VALUE) {
        return false;
    }
    s = text_;
    return true;
}

bool Value::isNumber(int &i) const {
    if (type_ == INTEGER_VALUE) {
        i = integer_;
        return true;
    }
    // A real that does not fit (or NaN) has no integer form.
    if (type_ == REAL_VALUE && real_ > -2147483649.0 && real_ < 2147483648.0) {
        i = static_cast<int>(real_);
        return true;
    }
    return false;
}

bool Value::isNumber(double &r) const {
    if (type_ == INTEGER_VALUE) {
        r = integer_;
        return true;
    }
    if (type_ == REAL_VALUE) {
        r = real_;
        return true;
    }
    return false;
}

void Value::clear_() {
    type_ = UNDEFINED_VALUE;
    integer_ = 0;
    real_ = 0.0;
    text_ = nullptr;
}

void Value::setUndefinedValue() {
    clear_();
}

void Value::setErrorValue() {
    clear_();
    type_ = ERROR_VALUE;
}

void Value::setIntegerValue(int i) {
    clear_();
    type_ = INTEGER_VALUE;
    integer_ = i;
}

void Value::setRealValue(double r) {
    clear_();
    type_ = REAL_VALUE;
    real_ = r;
}

void Value::setStringValue(char *s) {
    clear_();
    type_ = STRING_VALUE;
    text_ = s;
}

void ClassAd_SIGFPE_handler(int) {
    fpe_raised = 1;
}

EvalValue eval_negate(const EvalValue &operand) {
    switch (operand_kind(operand)) {
        case LX_INTEGER:
            return EvalValue::Int(wrap_neg(operand.i));
        case LX_FLOAT:
            return raw_real(-operand.r);
        case LX_UNDEFINED:
            return EvalValue::Undefined();
        default:
            return EvalValue::Error();  // errors and strings
    }
}

EvalValue eval_operate(OpKind op, const EvalValue &left, const EvalValue &right) {
    if (left.type == LX_INTEGER && right.type == LX_INTEGER) {
        return integer_operate(op, left.i, right.i);
    }
    if (left.type == LX_STRING && right.type == LX_STRING && is_comparison(op)) {
        return EvalValue::Int(compare_result(op, strcasecmp(left.s, right.s), 0));
    }
    LexemeType lk = operand_kind(left);
    LexemeType rk = operand_kind(right);
    if (op == META_EQUAL_OP || op == META_NOT_EQUAL_OP) {
        int same = identical(lk, left, rk, right);
        return EvalValue::Int(op == META_EQUAL_OP ? same : !same);
    }
    if (op == LOGICAL_OR_OP) {
        return of_truth(logical_or(truth(lk, left), truth(rk, right)));
    }
    if (op == LOGICAL_AND_OP) {
        int t = truth(lk, left);
        return of_truth(t != 1 ? t : truth(rk, right));
    }
    if (!is_arithmetic(op) && !is_comparison(op)) {
        EXCEPT("Should not get here");
    }
    if (lk == LX_ERROR || rk == LX_ERROR) {
        return EvalValue::Error();
    }
    if (lk == LX_UNDEFINED || rk == LX_UNDEFINED) {
        return EvalValue::Undefined();
    }
    return is_arithmetic(op) ? arithmetic(op, lk, left, rk, right)
                             : compare(op, lk, left, rk, right);
}

bool eval_short_circuit(OpKind op, const EvalValue &left, EvalValue &result) {
    int t = truth(operand_kind(left), left);
    if (op == LOGICAL_OR_OP) {
        if (t == 1) {
            result = EvalValue::Int(1);
            return true;
        }
        return false;
    }
    if (op == LOGICAL_AND_OP && t != 1) {
        result = of_truth(t);
        return true;
    }
    return false;
}

void operate(OpKind op, Value &operand, Value &result) {
    if (op != UNARY_MINUS_OP) {
        EXCEPT("Should not get here");
    }
    to_value(eval_negate(from_value(operand)), result);
}

void operate(OpKind op, Value &left, Value &right, Value &result) {
    to_value(eval_operate(op, from_value(left), from_value(right)), result);
}

bool operateShortCircuit(OpKind op, Value &left, Value &result) {
    EvalValue decided;
    if (!eval_short_circuit(op, from_value(left), decided)) {
        return false;
    }
    to_value(decided, result);
    return true;
}
