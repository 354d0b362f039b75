#include "python/expr_equality.h"

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

#include "classad/expr_tree.h"
#include "core/list.h"

namespace {

size_t mix(size_t seed, size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

Function *as_call(ExprTree *tree) {
    return tree->MyType() == LX_FUNCTION ? static_cast<Function *>(tree) : nullptr;
}

bool same_calls(Function &a, Function &b) {
    if (strcmp(a.Name(), b.Name()) != 0) {
        return false;
    }
    ListIterator<ExprTree> mine(a.Arguments());
    ListIterator<ExprTree> theirs(b.Arguments());
    for (;;) {
        ExprTree *x = mine.Next();
        ExprTree *y = theirs.Next();
        if (x == nullptr || y == nullptr) {
            return x == y;
        }
        if (!same_tree(x, y)) {
            return false;
        }
    }
}

// A leaf's text for hashing. Floats hash by kind alone: 0.0 and -0.0 are
// equal but print apart.
size_t leaf_hash(ExprTree *leaf) {
    if (leaf->MyType() == LX_FLOAT) {
        return 0;
    }
    char *text = nullptr;
    leaf->PrintToNewStr(&text);
    size_t h = std::hash<std::string>()(text);
    free(text);
    return h;
}

}  // namespace

bool same_tree(ExprTree *a, ExprTree *b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    if (a->MyType() != b->MyType()) {
        return false;
    }
    if (Function *call = as_call(a)) {
        return same_calls(*call, *as_call(b));
    }
    if (dynamic_cast<BinaryOpBase *>(a) != nullptr) {
        return same_tree(a->LArg(), b->LArg()) && same_tree(a->RArg(), b->RArg());
    }
    return *a == *b;
}

size_t tree_hash(ExprTree *tree) {
    if (tree == nullptr) {
        return 1;
    }
    size_t h = static_cast<size_t>(tree->MyType());
    if (Function *call = as_call(tree)) {
        h = mix(h, std::hash<std::string>()(call->Name()));
        ListIterator<ExprTree> arguments(call->Arguments());
        for (ExprTree *argument = arguments.Next(); argument != nullptr;
             argument = arguments.Next()) {
            h = mix(h, tree_hash(argument));
        }
        return h;
    }
    if (dynamic_cast<BinaryOpBase *>(tree) != nullptr) {
        return mix(mix(h, tree_hash(tree->LArg())), tree_hash(tree->RArg()));
    }
    return mix(h, leaf_hash(tree));
}
