// Helpers shared by the evaluation and built-in function tests: evaluating
// a text against optional MY and TARGET ads, and a printable description of
// a result ("int 3", "real 2.5", "string \"x\"", "UNDEFINED", ...) so a
// failing expectation shows the kind and the value together.
#ifndef TORVEL_TESTS_CLASSAD_EVAL_TEST_UTIL_H_
#define TORVEL_TESTS_CLASSAD_EVAL_TEST_UTIL_H_

#include <stdio.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "gtest/gtest.h"

namespace classad_eval_test {

inline std::string Describe(const EvalResult &r) {
    char buf[64];
    switch (r.type) {
        case LX_INTEGER:
            snprintf(buf, sizeof(buf), "int %d", r.i);
            return buf;
        case LX_FLOAT:
            snprintf(buf, sizeof(buf), "real %g", static_cast<double>(r.f));
            return buf;
        case LX_STRING:
            return "string \"" + std::string(r.s) + "\"";
        case LX_TIME:
            return "time '" + std::string(r.s) + "'";
        case LX_UNDEFINED:
            return "UNDEFINED";
        case LX_ERROR:
            return "ERROR";
        default:
            snprintf(buf, sizeof(buf), "kind %d", static_cast<int>(r.type));
            return buf;
    }
}

// An ad built from assignments; every one must be accepted.
inline std::unique_ptr<AttrList> Ad(std::initializer_list<const char *> assignments) {
    std::unique_ptr<AttrList> ad(new AttrList);
    for (const char *a : assignments) {
        if (!ad->Insert(a, false)) {
            ADD_FAILURE() << "not an assignment: " << a;
        }
    }
    return ad;
}

// Parses text and evaluates it (two-list form); "PARSE FAILED" when the
// text does not parse. *returned receives EvalTree's answer.
inline std::string Eval(const char *text, const AttrList *my = nullptr,
                        const AttrList *target = nullptr, bool *returned = nullptr) {
    ExprTree *tree = nullptr;
    if (Parse(text, tree) != 0 || tree == nullptr) {
        delete tree;
        return "PARSE FAILED";
    }
    EvalResult r;
    bool ok = tree->EvalTree(my, target, &r);
    if (returned != nullptr) {
        *returned = ok;
    }
    delete tree;
    return Describe(r);
}

}  // namespace classad_eval_test

#endif  // TORVEL_TESTS_CLASSAD_EVAL_TEST_UTIL_H_
