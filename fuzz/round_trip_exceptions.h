// The expressions whose printed text does not read back as the same tree:
// a string literal ending in a backslash (its closing quote reads as
// escaped) and a non-finite float (printed as a name). Fuzz targets that
// check print-then-parse round trips skip them.
#ifndef TORVEL_FUZZ_ROUND_TRIP_EXCEPTIONS_H_
#define TORVEL_FUZZ_ROUND_TRIP_EXCEPTIONS_H_

#include <math.h>
#include <string.h>

#include "classad/expr_tree.h"
#include "core/list.h"

// Whether the tree holds a node whose text does not read back as printed.
inline bool has_round_trip_exception(ExprTree *tree) {
    if (tree == nullptr) {
        return false;
    }
    switch (tree->MyType()) {
        case LX_STRING: {
            const char *text = static_cast<StringBase *>(tree)->Value();
            size_t n = strlen(text);
            return n > 0 && text[n - 1] == '\\';
        }
        case LX_FLOAT:
            return !isfinite(static_cast<FloatBase *>(tree)->Value());
        case LX_FUNCTION: {
            ListIterator<ExprTree> it(static_cast<FunctionBase *>(tree)->Arguments());
            ExprTree *arg;
            while ((arg = it.Next()) != nullptr) {
                if (has_round_trip_exception(arg)) {
                    return true;
                }
            }
            return false;
        }
        default:
            return has_round_trip_exception(tree->LArg()) || has_round_trip_exception(tree->RArg());
    }
}

#endif  // TORVEL_FUZZ_ROUND_TRIP_EXCEPTIONS_H_
