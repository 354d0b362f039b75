// The operator layer: Value accessors and the operations of the language.
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
    return op == LESS_THAN_OP || op == LESS_OR_EQUAL_OP || op == NOT_EQUAL_OP ||
           op == EQUAL_OP || op == GREATER_OR_EQUAL_OP || op == GREATER_THAN_OP;
}

void integer_arithmetic(OpKind op, int a, int b, Value &result) {
    switch (op) {
        case ADDITION_OP:
            result.setIntegerValue(wrap_add(a, b));
            return;
        case SUBTRACTION_OP:
            result.setIntegerValue(wrap_sub(a, b));
            return;
        case MULTIPLICATION_OP:
            result.setIntegerValue(wrap_mul(a, b));
            return;
        default:
            if (b == 0 || (a == INT_MIN && b == -1)) {
                result.setErrorValue();
            } else {
                result.setIntegerValue(a / b);
            }
            return;
    }
}

// Real arithmetic under the floating-point guard.
void real_arithmetic(OpKind op, double a, double b, Value &result) {
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
    if (fpe_raised != 0 || errno == EDOM || errno == ERANGE) {
        result.setErrorValue();
    } else {
        result.setRealValue(value);
    }

    if (installed && sigaction(SIGFPE, &previous, nullptr) != 0) {
        dprintf(D_ALWAYS, kSigactionWarning, errno);
    }
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

// Operands already known to be neither undefined nor error.
void compare(OpKind op, Value &left, Value &right, Value &result) {
    char *ls = nullptr;
    char *rs = nullptr;
    bool left_string = left.isStringValue(ls);
    bool right_string = right.isStringValue(rs);
    if (left_string || right_string) {
        if (left_string && right_string) {
            result.setIntegerValue(compare_result(op, strcasecmp(ls, rs), 0));
        } else {
            result.setErrorValue();
        }
        return;
    }
    int li = 0;
    int ri = 0;
    if (left.isIntegerValue(li) && right.isIntegerValue(ri)) {
        result.setIntegerValue(compare_result(op, li, ri));
        return;
    }
    double lr = 0.0;
    double rr = 0.0;
    left.isNumber(lr);
    right.isNumber(rr);
    result.setIntegerValue(compare_result(op, lr, rr));
}

void arithmetic(OpKind op, Value &left, Value &right, Value &result) {
    if (left.getType() == STRING_VALUE || right.getType() == STRING_VALUE) {
        result.setErrorValue();
        return;
    }
    int li = 0;
    int ri = 0;
    if (left.isIntegerValue(li) && right.isIntegerValue(ri)) {
        integer_arithmetic(op, li, ri, result);
        return;
    }
    double lr = 0.0;
    double rr = 0.0;
    left.isNumber(lr);
    right.isNumber(rr);
    real_arithmetic(op, lr, rr, result);
}

// "=?=": 1 when the operands are identical after int-to-real promotion.
int identical(Value &left, Value &right) {
    ValueType lt = left.getType();
    ValueType rt = right.getType();
    int li = 0;
    int ri = 0;
    if (left.isIntegerValue(li) && right.isIntegerValue(ri)) {
        return li == ri;
    }
    double lr = 0.0;
    double rr = 0.0;
    if ((lt == REAL_VALUE || rt == REAL_VALUE) && left.isNumber(lr) && right.isNumber(rr)) {
        return lr == rr;
    }
    if (lt != rt) {
        return 0;
    }
    if (lt == UNDEFINED_VALUE || lt == ERROR_VALUE) {
        return 1;
    }
    char *ls = nullptr;
    char *rs = nullptr;
    left.isStringValue(ls);
    right.isStringValue(rs);
    return strcmp(ls, rs) == 0;
}

// Truth of a logical operand: 1 true, 0 false, -1 undefined, -2 error
// (errors and strings).
int truth(Value &v) {
    int i = 0;
    double r = 0.0;
    if (v.isIntegerValue(i)) {
        return i != 0;
    }
    if (v.isRealValue(r)) {
        return r != 0.0;  // NaN is true
    }
    return v.isUndefinedValue() ? -1 : -2;
}

void set_truth(int t, Value &result) {
    if (t >= 0) {
        result.setIntegerValue(t);
    } else if (t == -1) {
        result.setUndefinedValue();
    } else {
        result.setErrorValue();
    }
}

void logical_or(int left, int right, Value &result) {
    if (left == 1 || right == 1) {
        set_truth(1, result);
    } else if (left == -2 || right == -2) {
        set_truth(-2, result);
    } else if (left == -1 || right == -1) {
        set_truth(-1, result);
    } else {
        set_truth(0, result);
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

void Value::setUndefinedValue() { clear_(); }

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

void ClassAd_SIGFPE_handler(int) { fpe_raised = 1; }

void operate(OpKind op, Value &operand, Value &result) {
    if (op != UNARY_MINUS_OP) {
        EXCEPT("Should not get here");
    }
    int i = 0;
    double r = 0.0;
    if (operand.isErrorValue() || operand.getType() == STRING_VALUE) {
        result.setErrorValue();
    } else if (operand.isUndefinedValue()) {
        result.setUndefinedValue();
    } else if (operand.isIntegerValue(i)) {
        result.setIntegerValue(wrap_neg(i));
    } else if (operand.isRealValue(r)) {
        result.setRealValue(-r);
    }
}

void operate(OpKind op, Value &left, Value &right, Value &result) {
    if (op == META_EQUAL_OP || op == META_NOT_EQUAL_OP) {
        int same = identical(left, right);
        result.setIntegerValue(op == META_EQUAL_OP ? same : !same);
        return;
    }
    if (op == LOGICAL_OR_OP) {
        logical_or(truth(left), truth(right), result);
        return;
    }
    if (op == LOGICAL_AND_OP) {
        if (!operateShortCircuit(op, left, result)) {
            set_truth(truth(right), result);
        }
        return;
    }
    if (!is_arithmetic(op) && !is_comparison(op)) {
        EXCEPT("Should not get here");
    }
    if (left.isErrorValue() || right.isErrorValue()) {
        result.setErrorValue();
    } else if (left.isUndefinedValue() || right.isUndefinedValue()) {
        result.setUndefinedValue();
    } else if (is_arithmetic(op)) {
        arithmetic(op, left, right, result);
    } else {
        compare(op, left, right, result);
    }
}

bool operateShortCircuit(OpKind op, Value &left, Value &result) {
    int t = truth(left);
    if (op == LOGICAL_OR_OP) {
        if (t == 1) {
            result.setIntegerValue(1);
            return true;
        }
        return false;
    }
    if (op == LOGICAL_AND_OP && t != 1) {
        set_truth(t, result);
        return true;
    }
    return false;
}
