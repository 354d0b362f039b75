// What would change a clause's answer, for match analysis
// (classad/match_analysis.h): a clause comparing a machine attribute with
// a constant or with one of the job's attributes, the values that
// attribute takes across a pool, and from them the bounds admitting 1, 10
// and 50 % of the pool (ordered comparisons) or the most common values
// (equalities). Uses the evaluator's process-wide state: not safe for
// concurrent use.
#ifndef TORVEL_CLASSAD_MATCH_BOUNDS_H_
#define TORVEL_CLASSAD_MATCH_BOUNDS_H_

#include <stddef.h>

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "classad/lexeme_type.h"
#include "classad/match_analysis.h"

class ClassAd;
class ExprTree;
class Variable;

class AttributeSurvey {
 public:
    // Whether clause (a node of a tree that outlives the survey) compares a
    // machine attribute, as the job binds it, with a job constant.
    bool Start(ExprTree *clause, const ClassAd &job);
    bool Started() const { return attribute_ != nullptr; }
    bool Ordered() const;
    // The attribute as written.
    std::string Attribute() const;

    // Notes the attribute's value in machine, the job as MY.
    // REQUIRES: Started().
    void Add(const ClassAd &job, const ClassAd &machine);

    // For an ordered comparison, the bounds admitting 1, 10 and 50 % of a
    // pool of pool ads, each with matches_with(clause with that bound), which
    // the caller counts; a bound the pool has too few numbers for is left out.
    std::vector<ThresholdValue> Thresholds(
        size_t pool, const std::function<long(ExprTree *clause)> &matches_with);
    // For an equality, up to n values, most common first.
    std::vector<CommonValue> MostCommon(size_t n) const;

 private:
    LexemeType kind_ = LX_ERROR;  // as written
    LexemeType op_ = LX_ERROR;    // with the attribute on the left
    Variable *attribute_ = nullptr;
    bool attribute_left_ = true;
    std::vector<double> numbers_;
    std::vector<CommonValue> values_;  // first seen first
    std::unordered_map<std::string, size_t> index_;
};

#endif  // TORVEL_CLASSAD_MATCH_BOUNDS_H_
