// EvalResult: the value produced by evaluating one expression-tree node: a
// 32-bit integer (also for booleans), a single-precision float, or an owned
// text (strings and time literals), tagged with its LexemeType kind.
#ifndef TORVEL_CLASSAD_EVAL_RESULT_H_
#define TORVEL_CLASSAD_EVAL_RESULT_H_

#include <stdio.h>

#include "classad/lexeme_type.h"

class EvalResult {
 public:
    // Inline, as set_int: one of each per evaluation.
    EvalResult() : i(0), type(LX_UNDEFINED) {}
    ~EvalResult() {
        if (ownsText(type)) {
            delete[] s;
        }
    }
    // Copies duplicate the text of a string or time result.
    EvalResult(const EvalResult &other);
    EvalResult &operator=(const EvalResult &other);

    // Writes the value and a newline to fp.
    void fPrintResult(FILE *fp);

    // Releases an owned text and makes the result undefined.
    void clear();
    // Setters release any previous text first; set_string and set_time copy
    // text (null is taken as "") into a new[] buffer, so text may be this
    // result's own.
    void set_int(int v) {
        // Inline: every integer result of an evaluation is stored here.
        if (ownsText(type)) {
            clear();
        }
        type = LX_INTEGER;
        i = v;
    }
    void set_float(float v);
    void set_string(const char *text);
    void set_time(const char *text);
    void set_undefined();
    void set_error();
    // Takes ownership of a new[] buffer as an LX_STRING result.
    // REQUIRES: text is not null and not this result's own text.
    void adopt_string(char *text);

    union {
        int i;
        float f;
        char *s;  // new[], owned for LX_STRING and LX_TIME
    };
    LexemeType type;

    // Whether a result of that kind owns its text.
    static bool ownsText(LexemeType kind) { return kind == LX_STRING || kind == LX_TIME; }
};

#endif  // TORVEL_CLASSAD_EVAL_RESULT_H_
