// The operator layer of ClassAd evaluation: Value (one operand or result,
// whose text is borrowed, never owned), the operations the language uses,
// and operate / operateShortCircuit, which apply three-valued logic,
// 32-bit wrapping integer arithmetic, double-precision real arithmetic under
// a SIGFPE guard and case-blind string comparison.
//
// Process-wide state: the floating-point exception flag set by
// ClassAd_SIGFPE_handler; the SIGFPE action is replaced only for the span of
// one real "+", "-", "*" or "/" and then put back as it was. Single-threaded.
#ifndef TORVEL_CLASSAD_OPERATORS_H_
#define TORVEL_CLASSAD_OPERATORS_H_

enum ValueType {
    UNDEFINED_VALUE,
    ERROR_VALUE,
    INTEGER_VALUE,
    REAL_VALUE,
    STRING_VALUE,
};

class Value {
 public:
    Value() : type_(UNDEFINED_VALUE), integer_(0), real_(0.0), text_(nullptr) {}

    ValueType getType() const { return type_; }
    bool isUndefinedValue() const { return type_ == UNDEFINED_VALUE; }
    bool isErrorValue() const { return type_ == ERROR_VALUE; }
    // Each "is" accessor fills its argument only when it answers true.
    bool isIntegerValue(int &i) const;
    bool isRealValue(double &r) const;
    // The borrowed text; it lives as long as whatever the setter was given.
    bool isStringValue(char *&s) const;
    // True for an integer or a real; converts to the requested form (a real
    // becomes an int by truncation, and only when it fits).
    bool isNumber(int &i) const;
    bool isNumber(double &r) const;

    void setUndefinedValue();
    void setErrorValue();
    void setIntegerValue(int i);
    void setRealValue(double r);
    // s is borrowed, not copied. REQUIRES: s outlives every use of the value.
    void setStringValue(char *s);

 private:
    void clear_();

    ValueType type_;
    int integer_;
    double real_;
    char *text_;  // borrowed
};

enum OpKind {
    LESS_THAN_OP,
    LESS_OR_EQUAL_OP,
    NOT_EQUAL_OP,
    EQUAL_OP,
    META_EQUAL_OP,
    META_NOT_EQUAL_OP,
    GREATER_OR_EQUAL_OP,
    GREATER_THAN_OP,
    UNARY_MINUS_OP,
    ADDITION_OP,
    SUBTRACTION_OP,
    MULTIPLICATION_OP,
    DIVISION_OP,
    LOGICAL_OR_OP,
    LOGICAL_AND_OP,
};

// Unary operation (UNARY_MINUS_OP). A string result borrows from operand.
void operate(OpKind op, Value &operand, Value &result);
// Binary operation. A kind outside the table above ends the process
// ("Should not get here").
void operate(OpKind op, Value &left, Value &right, Value &result);
// For LOGICAL_OR_OP and LOGICAL_AND_OP: true when left alone decides the
// result, which is then stored; false (result untouched) otherwise and for
// every other kind.
bool operateShortCircuit(OpKind op, Value &left, Value &result);

// Sets the process-wide floating-point exception flag; installed only while
// real arithmetic runs.
void ClassAd_SIGFPE_handler(int sig);

#endif  // TORVEL_CLASSAD_OPERATORS_H_
