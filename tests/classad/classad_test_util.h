// Helpers shared by the ClassAd tree and parser tests: parsing to an owned
// tree, printing to a std::string, a fully parenthesised shape of a tree
// (so precedence can be checked by text), a structural comparison that also
// compares calls, and a capture of the debug log for Display.
#ifndef TORVEL_TESTS_CLASSAD_CLASSAD_TEST_UTIL_H_
#define TORVEL_TESTS_CLASSAD_CLASSAD_TEST_UTIL_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "diagnostics/debug_log.h"
#include "tests/support/capture.h"

namespace classad_test {

typedef std::unique_ptr<ExprTree> TreePtr;

// The tree parsed from text, or null; *position receives Parse's result.
inline TreePtr ParseText(const std::string &text, int *position = nullptr) {
    ExprTree *tree = nullptr;
    int result = Parse(text.c_str(), tree);
    if (position != nullptr) {
        *position = result;
    }
    return TreePtr(result == 0 ? tree : nullptr);
}

inline std::string Print(ExprTree *tree) {
    char *text = nullptr;
    tree->PrintToNewStr(&text);
    std::string out = text;
    free(text);
    return out;
}

// Fully parenthesised shape: a binary node is "(<op> left right)" with "_"
// for a missing operand; a call is "name[arg, ...]"; leaves print as usual.
inline std::string Shape(ExprTree *tree) {
    if (tree == nullptr) {
        return "_";
    }
    switch (tree->MyType()) {
        case LX_FUNCTION: {
            FunctionBase *call = static_cast<FunctionBase *>(tree);
            std::string out = std::string(call->Name()) + "[";
            ListIterator<ExprTree> it(call->Arguments());
            ExprTree *arg;
            bool first = true;
            while ((arg = it.Next()) != nullptr) {
                out += (first ? "" : ", ") + Shape(arg);
                first = false;
            }
            return out + "]";
        }
        case LX_VARIABLE:
        case LX_INTEGER:
        case LX_FLOAT:
        case LX_STRING:
        case LX_TIME:
        case LX_BOOL:
        case LX_UNDEFINED:
        case LX_ERROR:
            return Print(tree);
        default: {
            std::string op = BinaryOpBase::OperatorText(tree->MyType());
            op = op.substr(1, op.size() - 2);  // without the blanks
            return "(" + op + " " + Shape(tree->LArg()) + " " + Shape(tree->RArg()) + ")";
        }
    }
}

// Structural equality that, unlike operator==, also compares calls.
inline bool SameTree(ExprTree *a, ExprTree *b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    if (a->MyType() != b->MyType()) {
        return false;
    }
    if (a->MyType() == LX_FUNCTION) {
        FunctionBase *fa = static_cast<FunctionBase *>(a);
        FunctionBase *fb = static_cast<FunctionBase *>(b);
        if (strcmp(fa->Name(), fb->Name()) != 0 ||
            fa->Arguments().Number() != fb->Arguments().Number()) {
            return false;
        }
        ListIterator<ExprTree> ia(fa->Arguments());
        ListIterator<ExprTree> ib(fb->Arguments());
        ExprTree *x;
        while ((x = ia.Next()) != nullptr) {
            if (!SameTree(x, ib.Next())) {
                return false;
            }
        }
        return true;
    }
    if (a->LArg() != nullptr || a->RArg() != nullptr || b->LArg() != nullptr ||
        b->RArg() != nullptr) {
        return SameTree(a->LArg(), b->LArg()) && SameTree(a->RArg(), b->RArg());
    }
    return *a == *b;
}

// Captures D_ALWAYS lines (Display's output) while it lives.
class DisplayCapture : public DebugCapture {
 public:
    DisplayCapture() : DebugCapture(D_ALWAYS) {}
};

}  // namespace classad_test

#endif  // TORVEL_TESTS_CLASSAD_CLASSAD_TEST_UTIL_H_
