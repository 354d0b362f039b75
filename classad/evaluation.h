// Evaluation entry points beside the tree classes: the value of a name no
// ad defines, and the nesting bound of evaluation.
//
// Evaluation recurses through operands, call arguments and attribute
// references. Parsed trees are at most CLASSAD_MAX_PARSE_DEPTH high, but
// attribute references chain trees together and trees may be built by hand,
// so ExprTree::EvalTree counts its nesting: a node that would nest deeper
// than CLASSAD_MAX_EVAL_DEPTH is refused like a cycle (result ERROR, false)
// instead of exhausting the stack. An attribute reference costs about three
// levels (reference, assignment, expression), so chains of about 1000
// references still evaluate; the bound uses under 2 MB of stack even in
// sanitizer builds, leaving room for the regular-expression matcher's own
// stack budget.
#ifndef TORVEL_CLASSAD_EVALUATION_H_
#define TORVEL_CLASSAD_EVALUATION_H_

class EvalResult;

// Deepest nesting of EvalTree calls; one more gives ERROR.
const int CLASSAD_MAX_EVAL_DEPTH = 3000;

// "CurrentTime" (exact case): LX_INTEGER seconds since the epoch, or
// LX_ERROR when the clock cannot be read. Every other name: LX_UNDEFINED.
void evalFromEnvironment(const char *name, EvalResult *result);

#endif  // TORVEL_CLASSAD_EVALUATION_H_
