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

// Nesting alone does not bound the work: with A0 = 1 and Ai = A(i-1) +
// A(i-1), evaluating A40 would evaluate attributes 2^40 times at a nesting
// of 120. So each top-level evaluation (one that starts while no other is
// in progress: EvalTree, the _EvalTree forms, matching) may take a bounded
// number of steps. Reaching an attribute whose value is no literal costs a
// step for every eight nodes of its tree or part of them (AttrListElem::
// EvalSteps); literals and the tree evaluated at the top cost nothing, as
// they cost only what reading the ad cost. An evaluation that runs out
// answers ERROR as a whole (and EvalTree false), whatever its operators
// would have made of the parts; the walk and the compiled forms count
// alike. A step takes about 25 ns, so the default stops a hostile ad within
// about a quarter of a second (A22 takes 4 million steps, A24 runs out),
// far above what real ads take.
const long CLASSAD_DEFAULT_EVAL_STEPS = 10000000;

// Sets the steps of every later top-level evaluation; a value below 1
// restores CLASSAD_DEFAULT_EVAL_STEPS. Process-wide.
void classad_set_eval_step_limit(long steps);
long classad_eval_step_limit();

// "CurrentTime" (exact case): LX_INTEGER seconds since the epoch, or
// LX_ERROR when the clock cannot be read. Every other name: LX_UNDEFINED.
void evalFromEnvironment(const char *name, EvalResult *result);

#endif  // TORVEL_CLASSAD_EVALUATION_H_
