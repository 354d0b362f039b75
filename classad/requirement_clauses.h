// The parts of a Requirements expression that match analysis looks at: its
// top-level "&&" clauses, the attribute references of a clause, where each
// reference looks when an expression is evaluated with one ad as MY and
// another as TARGET, and what a clause's value counts as in a conjunction.
// The walks use explicit stacks, so a tree of any shape (thousands of
// clauses) is split without deep recursion.
#ifndef TORVEL_CLASSAD_REQUIREMENT_CLAUSES_H_
#define TORVEL_CLASSAD_REQUIREMENT_CLAUSES_H_

#include <string>
#include <vector>

class AttrList;
class ExprTree;
class Variable;

// The operands of the top-level conjunction of expr in text order: "a &&
// (b && c) && d" gives a, b, c, d (a group around a conjunction is opened;
// any other group is one clause). An expression without "&&" is one
// clause. Borrowed: the nodes belong to expr. Null gives none.
std::vector<ExprTree *> SplitConjunction(ExprTree *expr);

// The attribute references in clause, in text order, function arguments
// included. Borrowed from clause.
std::vector<Variable *> ClauseReferences(ExprTree *clause);

// Whether reference finds an attribute when evaluated with my as MY and
// target as TARGET (either may be null): the ad its prefixes select, or
// for a bare name my and then target. "CurrentTime" is always found; a
// reference with an unknown prefix never is.
bool ReferenceFound(const Variable &reference, const AttrList *my, const AttrList *target);

// Whether reference, so evaluated, reads target's attribute rather than
// my's: a TARGET. prefix, or a bare name my lacks.
bool ReferenceReadsTarget(const Variable &reference, const AttrList *my);

// The printed text of tree ("" for null).
std::string PrintedText(ExprTree *tree);

// node without the parenthesised groups around it.
ExprTree *WithoutGroups(ExprTree *node);

// What "&&" makes of a clause's value: a number is true unless 0,
// UNDEFINED stays, anything else is ERROR.
enum ClauseTruth { kClauseTrue, kClauseFalse, kClauseUndefined, kClauseError };

// clause evaluated by the library's evaluator with my as MY and target as
// TARGET.
ClauseTruth EvaluateClause(ExprTree *clause, const AttrList &my, const AttrList &target);

#endif  // TORVEL_CLASSAD_REQUIREMENT_CLAUSES_H_
