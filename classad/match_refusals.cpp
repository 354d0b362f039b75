// Grouping the machines that refuse a job, and the clause each fails.
#include "classad/match_refusals.h"

#include <algorithm>

#include "classad/attr_list.h"
#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "classad/requirement_clauses.h"

namespace {

// How deep "START" -> its expression -> ... is followed.
const int kMaxFollow = 8;

// The attribute of machine that a clause only names (a bare reference to
// one of its own attributes), or null.
AttrListElem *named_attribute(ExprTree *clause, const ClassAd &machine) {
    ExprTree *inner = WithoutGroups(clause);
    if (inner == nullptr || inner->MyType() != LX_VARIABLE) {
        return nullptr;
    }
    Variable *name = static_cast<Variable *>(inner);
    const Variable::Scope &scope = name->ReferenceScope();
    if (ReferenceReadsTarget(*name, &machine) || !ReferenceFound(*name, &machine, nullptr) ||
        scope.current_time) {
        return nullptr;
    }
    return machine.LookupElem(scope.name, scope.hash);
}

// The first clause of the machine's Requirements the job fails, followed
// into attributes of the machine a failing clause only names; "" when the
// types refuse.
std::string failed_clause_of(const ClassAd &machine, const ClassAd &job) {
    if (!machine.AcceptsTypeOf(job)) {
        return "";
    }
    ExprTree *requirements = machine.GetRequirements();
    ExprTree *expr = requirements != nullptr ? requirements->RArg() : nullptr;
    std::string path;
    for (int depth = 0; expr != nullptr && depth < kMaxFollow; ++depth) {
        ExprTree *failing = nullptr;
        for (ExprTree *clause : SplitConjunction(expr)) {
            if (EvaluateClause(clause, machine, job) != kClauseTrue) {
                failing = clause;
                break;
            }
        }
        if (failing == nullptr) {
            break;
        }
        AttrListElem *named = named_attribute(failing, machine);
        if (named == nullptr) {
            return path + PrintedText(failing);
        }
        path += PrintedText(WithoutGroups(failing)) + ": ";
        expr = named->Tree()->RArg();
    }
    return path + PrintedText(expr);
}

}  // namespace

void RefusalTally::Add(const ClassAd &machine, const ClassAd &job) {
    ExprTree *requirements = machine.GetRequirements();
    std::string text = requirements != nullptr ? PrintedText(requirements->RArg()) : "";
    auto slot = index_.emplace(text, groups_.size());
    if (slot.second) {
        groups_.emplace_back();
        groups_.back().record.requirements = text;
    }
    Group &group = groups_[slot.first->second];
    ++group.record.machines;
    std::string failed = failed_clause_of(machine, job);
    auto failure = group.index.emplace(failed, group.failures.size());
    if (failure.second) {
        group.failures.push_back({failed, 0});
    }
    ++group.failures[failure.first->second].second;
}

std::vector<RefusalGroup> RefusalTally::Largest(size_t n) const {
    std::vector<const Group *> order;
    for (const Group &group : groups_) order.push_back(&group);
    std::stable_sort(order.begin(), order.end(), [](const Group *a, const Group *b) {
        return a->record.machines > b->record.machines;
    });
    std::vector<RefusalGroup> out;
    for (size_t g = 0; g < order.size() && g < n; ++g) {
        RefusalGroup record = order[g]->record;
        for (const auto &failure : order[g]->failures) {
            if (failure.second > record.failed_machines) {
                record.failed_clause = failure.first;
                record.failed_machines = failure.second;
            }
        }
        out.push_back(record);
    }
    return out;
}
