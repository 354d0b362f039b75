// A ClassAd function library for the tests: built into a shared object at
// test time and loaded through CLASSAD_LIB_PATH. Each function exercises one
// part of the calling convention (classad/functions.h).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "classad/functions.h"

extern "C" {

// Not a function: must never be called.
int plugin_data_symbol = 42;

// The sum of integer arguments; ERROR for any other kind.
void add_ints(int count, ClassAdLibValue *args, ClassAdLibValue *result) {
    int sum = 0;
    for (int i = 0; i < count; i++) {
        if (args[i].type != CLASSAD_LIB_INTEGER) {
            result->type = CLASSAD_LIB_ERROR;
            return;
        }
        sum += args[i].value.integer;
    }
    result->type = CLASSAD_LIB_INTEGER;
    result->value.integer = sum;
}

// A text describing each argument's code and value: "0:5 1:2.50 2:abc 3 4".
void describe(int count, ClassAdLibValue *args, ClassAdLibValue *result) {
    char text[512] = "";
    for (int i = 0; i < count; i++) {
        char one[128];
        switch (args[i].type) {
            case CLASSAD_LIB_INTEGER:
                snprintf(one, sizeof(one), "0:%d", args[i].value.integer);
                break;
            case CLASSAD_LIB_REAL:
                snprintf(one, sizeof(one), "1:%.2f", static_cast<double>(args[i].value.real));
                break;
            case CLASSAD_LIB_STRING:
                snprintf(one, sizeof(one), "2:%s", args[i].value.text);
                break;
            default:
                snprintf(one, sizeof(one), "%d", args[i].type);
                break;
        }
        if (i > 0) {
            strncat(text, " ", sizeof(text) - strlen(text) - 1);
        }
        strncat(text, one, sizeof(text) - strlen(text) - 1);
    }
    result->type = CLASSAD_LIB_STRING;
    result->value.text = strdup(text);  // freed by the evaluator
}

void half(int count, ClassAdLibValue *args, ClassAdLibValue *result) {
    result->type = CLASSAD_LIB_REAL;
    result->value.real =
        count == 1 && args[0].type == CLASSAD_LIB_INTEGER ? args[0].value.integer / 2.0f : -1.0f;
}

void nothing(int, ClassAdLibValue *, ClassAdLibValue *result) {
    result->type = CLASSAD_LIB_UNDEFINED;
}

void failing(int, ClassAdLibValue *, ClassAdLibValue *result) {
    result->type = CLASSAD_LIB_ERROR;
}

void strange_code(int, ClassAdLibValue *, ClassAdLibValue *result) {
    result->type = 17;
}

void null_text(int, ClassAdLibValue *, ClassAdLibValue *result) {
    result->type = CLASSAD_LIB_STRING;
    result->value.text = nullptr;
}

// Leaves the result record as the evaluator prepared it.
void untouched(int, ClassAdLibValue *, ClassAdLibValue *) {}

// Uses the C library, so the library depends on it (exit is reachable
// through that dependency but must not be accepted as a ClassAd function).
void count_args(int count, ClassAdLibValue *, ClassAdLibValue *result) {
    char text[32];
    snprintf(text, sizeof(text), "%d", count);
    result->type = CLASSAD_LIB_INTEGER;
    result->value.integer = atoi(text);
}

}  // extern "C"
