// Structural equality of expression trees, for the module's == and hash:
// two trees are the same when they have the same shape, names and literal
// values. The library's own == answers false for every call (even an
// identical one), which Python's value semantics (an ad equal to its copy,
// an Expr usable as a dict key) cannot have.
#ifndef TORVEL_PYTHON_EXPR_EQUALITY_H_
#define TORVEL_PYTHON_EXPR_EQUALITY_H_

#include <stddef.h>

class ExprTree;

// Whether a and b (either may be null) are the same tree.
bool same_tree(ExprTree *a, ExprTree *b);

// A hash agreeing with same_tree: the same trees hash alike.
size_t tree_hash(ExprTree *tree);

#endif  // TORVEL_PYTHON_EXPR_EQUALITY_H_
