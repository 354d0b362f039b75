// Splitting a Requirements expression into clauses and binding the
// references of a clause to the two ads of a match.
#include "classad/requirement_clauses.h"

#include <math.h>
#include <stdlib.h>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"

namespace {

// The conjunction inside nested groups around node, or null.
ExprTree *conjunction_inside(ExprTree *node) {
    node = WithoutGroups(node);
    return node != nullptr && node->MyType() == LX_AND ? node : nullptr;
}

// Where a reference looks in the end: the ad its scope names, after any
// exchange of the two.
const AttrList *scoped_ad(const Variable::Scope &scope, const AttrList *my,
                          const AttrList *target) {
    return scope.exchanged ? target : my;
}

bool has(const AttrList *ad, const Variable::Scope &scope) {
    return ad != nullptr && ad->LookupElem(scope.name, scope.hash) != nullptr;
}

}  // namespace

std::vector<ExprTree *> SplitConjunction(ExprTree *expr) {
    std::vector<ExprTree *> clauses;
    std::vector<ExprTree *> pending;
    if (expr != nullptr) {
        pending.push_back(expr);
    }
    while (!pending.empty()) {
        ExprTree *node = pending.back();
        pending.pop_back();
        ExprTree *conjunction = node->MyType() == LX_AND ? node : conjunction_inside(node);
        if (conjunction == nullptr) {
            clauses.push_back(node);
            continue;
        }
        // Right first, so the left operand is taken next.
        if (conjunction->RArg() != nullptr) pending.push_back(conjunction->RArg());
        if (conjunction->LArg() != nullptr) pending.push_back(conjunction->LArg());
    }
    return clauses;
}

std::vector<Variable *> ClauseReferences(ExprTree *clause) {
    std::vector<Variable *> references;
    std::vector<ExprTree *> pending;
    if (clause != nullptr) {
        pending.push_back(clause);
    }
    while (!pending.empty()) {
        ExprTree *node = pending.back();
        pending.pop_back();
        if (node->MyType() == LX_VARIABLE) {
            references.push_back(static_cast<Variable *>(node));
        } else if (node->MyType() == LX_FUNCTION) {
            std::vector<ExprTree *> arguments;
            ListIterator<ExprTree> it(static_cast<Function *>(node)->Arguments());
            for (ExprTree *arg = it.Next(); arg != nullptr; arg = it.Next()) {
                arguments.push_back(arg);
            }
            pending.insert(pending.end(), arguments.rbegin(), arguments.rend());
        } else {
            if (node->RArg() != nullptr) pending.push_back(node->RArg());
            if (node->LArg() != nullptr) pending.push_back(node->LArg());
        }
    }
    return references;
}

bool ReferenceFound(const Variable &reference, const AttrList *my, const AttrList *target) {
    const Variable::Scope &scope = reference.ReferenceScope();
    if (scope.unknown_prefix) {
        return false;
    }
    if (scope.current_time) {
        return true;
    }
    if (scope.restricted) {
        return has(scoped_ad(scope, my, target), scope);
    }
    return has(my, scope) || has(target, scope);
}

bool ReferenceReadsTarget(const Variable &reference, const AttrList *my) {
    const Variable::Scope &scope = reference.ReferenceScope();
    if (scope.unknown_prefix) {
        return false;
    }
    return scope.exchanged || (!scope.restricted && !has(my, scope));
}

std::string PrintedText(ExprTree *tree) {
    if (tree == nullptr) {
        return "";
    }
    char *text = nullptr;
    tree->PrintToNewStr(&text);
    std::string out = text != nullptr ? text : "";
    free(text);
    return out;
}

ExprTree *WithoutGroups(ExprTree *node) {
    // A parenthesised group is an AddOp without left operand.
    while (node != nullptr && node->MyType() == LX_ADD && node->LArg() == nullptr) {
        node = node->RArg();
    }
    return node;
}

ClauseTruth EvaluateClause(ExprTree *clause, const AttrList &my, const AttrList &target) {
    EvalResult result;
    clause->EvalTree(&my, &target, &result);
    switch (result.type) {
        case LX_INTEGER:
            return result.i != 0 ? kClauseTrue : kClauseFalse;
        case LX_FLOAT:
            return result.f != 0 || isnan(result.f) ? kClauseTrue : kClauseFalse;
        case LX_UNDEFINED:
            return kClauseUndefined;
        default:
            return kClauseError;
    }
}
