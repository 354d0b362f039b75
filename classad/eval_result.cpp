// EvalResult: construction, copying, release and printing of one
// evaluation result. Texts are new[] arrays owned by the result.
#include "classad/eval_result.h"

#include <string.h>

#include "core/allocation.h"

namespace {

char *copy_text(const char *text) {
    if (text == nullptr) {
        text = "";
    }
    char *copy = new (torvel::or_die) char[strlen(text) + 1];
    strcpy(copy, text);
    return copy;
}

}  // namespace

EvalResult::EvalResult(const EvalResult &other) : i(0), type(LX_UNDEFINED) {
    *this = other;
}

EvalResult &EvalResult::operator=(const EvalResult &other) {
    if (this == &other) {
        return *this;
    }
    // Copy first: other's text may be what clear() releases.
    char *text = ownsText(other.type) ? copy_text(other.s) : nullptr;
    clear();
    type = other.type;
    if (text != nullptr) {
        s = text;
    } else if (type == LX_FLOAT) {
        f = other.f;
    } else {
        i = other.i;
    }
    return *this;
}

void EvalResult::fPrintResult(FILE *fp) {
    switch (type) {
        case LX_INTEGER:
            fprintf(fp, "%d\n", i);
            break;
        case LX_FLOAT:
            fprintf(fp, "%f\n", static_cast<double>(f));
            break;
        case LX_STRING:
            fprintf(fp, "%s\n", s != nullptr ? s : "");
            break;
        case LX_NULL:
            fprintf(fp, "NULL\n");
            break;
        case LX_UNDEFINED:
            fprintf(fp, "UNDEFINED\n");
            break;
        case LX_ERROR:
            fprintf(fp, "ERROR\n");
            break;
        default:
            fprintf(fp, "type unknown\n");
            break;
    }
}

void EvalResult::clear() {
    if (ownsText(type)) {
        delete[] s;
    }
    i = 0;
    type = LX_UNDEFINED;
}

void EvalResult::set_float(float v) {
    clear();
    type = LX_FLOAT;
    f = v;
}

void EvalResult::set_string(const char *text) {
    adopt_string(copy_text(text));
}

void EvalResult::set_time(const char *text) {
    char *copy = copy_text(text);
    clear();
    type = LX_TIME;
    s = copy;
}

void EvalResult::set_undefined() {
    clear();
}

void EvalResult::set_error() {
    clear();
    type = LX_ERROR;
}

void EvalResult::adopt_string(char *text) {
    clear();
    type = LX_STRING;
    s = text;
}
