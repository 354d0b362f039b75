// Match analysis: one pass over the pool evaluates, for each machine, its
// side of the match and each clause of the job's Requirements (each ad is
// read while it is in the cache), and notes the values of the compared
// attributes; the bounds and the suggestion follow from what was noted.
#include "classad/match_analysis.h"

#include <math.h>
#include <stdio.h>

#include <memory>
#include <unordered_map>

#include "classad/attr_list.h"
#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "classad/match_bounds.h"
#include "classad/match_refusals.h"
#include "classad/requirement_clauses.h"

namespace {

// One machine as the pass left it.
struct MachineState {
    bool type_ok = false;     // the job's target type accepts the machine
    bool machine_ok = false;  // the machine's type and Requirements accept the job
    int failing = 0;          // job clauses that are not true for it
    int first_failing = -1;
};

// Whether the machine would match if clause c held for it.
bool others_hold(const MachineState &s, int c) {
    return s.type_ok && s.machine_ok &&
           (s.failing == 0 || (s.failing == 1 && s.first_failing == c));
}

// One clause of the job's Requirements during the pass.
struct ClauseWork {
    std::unique_ptr<ExprTree> clause;  // a standalone copy
    std::vector<Variable *> references;
    std::unordered_map<std::string, size_t> missing_index;
    AttributeSurvey survey;
};

struct Context {
    ClassAd &job;
    const std::vector<ClassAd *> &pool;
    std::vector<ClauseWork> work;
    std::vector<MachineState> states;
    RefusalTally refusals;
};

void note_missing(ClauseWork &w, const ClassAd &job, const ClassAd &machine, ClauseAnalysis &out) {
    for (Variable *reference : w.references) {
        if (ReferenceFound(*reference, &job, &machine)) {
            continue;
        }
        auto slot = w.missing_index.emplace(reference->Name(), out.missing.size());
        if (slot.second) {
            out.missing.push_back({reference->Name(), 0});
        }
        ++out.missing[slot.first->second].machines;
    }
}

// Clause c against one machine: the clause's counts and missing names, the
// machine's failing tally, the compared attribute's value.
void count_clause(Context &ctx, int c, size_t m, ClauseAnalysis &out) {
    ClauseWork &w = ctx.work[c];
    const ClassAd &machine = *ctx.pool[m];
    if (w.survey.Started()) {
        w.survey.Add(ctx.job, machine);
    }
    ClauseTruth truth = EvaluateClause(w.clause.get(), ctx.job, machine);
    if (truth == kClauseTrue) {
        ++out.satisfied;
        return;
    }
    MachineState &state = ctx.states[m];
    if (state.failing++ == 0) {
        state.first_failing = c;
    }
    if (truth != kClauseFalse) {
        ++(truth == kClauseUndefined ? out.undefined : out.error);
        note_missing(w, ctx.job, machine, out);
    }
}

// The pass: each machine's side, its refusal if it refuses, each clause.
void survey_pool(Context &ctx, MatchAnalysis &out) {
    ctx.states.resize(ctx.pool.size());
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        ClassAd &machine = *ctx.pool[m];
        MachineState &state = ctx.states[m];
        state.type_ok = ctx.job.AcceptsTypeOf(machine);
        state.machine_ok = (ctx.job >= machine) != 0;
        out.machines_accept += state.machine_ok;
        if (!state.machine_ok) {
            ctx.refusals.Add(machine, ctx.job);
        }
        for (size_t c = 0; c < ctx.work.size(); ++c) {
            count_clause(ctx, static_cast<int>(c), m, out.clauses[c]);
        }
    }
}

// The job's side, once its clauses are counted: a machine failing a clause
// fails the conjunction too, so only the others are asked (IsAMatch is
// exactly both sides).
void count_matches(Context &ctx, MatchAnalysis &out) {
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        MachineState &state = ctx.states[m];
        bool job_ok = state.type_ok && state.failing == 0 && (*ctx.pool[m] >= ctx.job) != 0;
        out.job_accepts += job_ok;
        out.matches += job_ok && state.machine_ok;
        if (state.type_ok && state.machine_ok && state.failing == 1) {
            ++out.clauses[state.first_failing].rejected_alone;
        }
    }
}

// How many machines match with clause c replaced by changed.
long matches_with(Context &ctx, int c, ExprTree *changed) {
    long matches = 0;
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        if (others_hold(ctx.states[m], c) &&
            EvaluateClause(changed, ctx.job, *ctx.pool[m]) == kClauseTrue) {
            ++matches;
        }
    }
    return matches;
}

void explain_comparison(Context &ctx, int c, ClauseAnalysis &out) {
    AttributeSurvey &survey = ctx.work[c].survey;
    if (!survey.Started()) {
        return;
    }
    out.attribute = survey.Attribute();
    if (survey.Ordered()) {
        out.thresholds = survey.Thresholds(ctx.pool.size(), [&ctx, c](ExprTree *changed) {
            return matches_with(ctx, c, changed);
        });
    } else {
        out.common_values = survey.MostCommon(5);
    }
}

std::string suggestion(const MatchAnalysis &analysis) {
    if (analysis.matches != 0) {
        return "";
    }
    const ClauseAnalysis *best = nullptr;
    for (const ClauseAnalysis &clause : analysis.clauses) {
        if (clause.rejected_alone > 0 &&
            (best == nullptr || clause.rejected_alone > best->rejected_alone)) {
            best = &clause;
        }
    }
    if (best == nullptr) {
        return "";
    }
    std::string text = "dropping `" + best->text + "` would match " +
                       FormatMatchCount(best->rejected_alone) +
                       (best->rejected_alone == 1 ? " machine" : " machines");
    for (const ThresholdValue &threshold : best->thresholds) {
        if (threshold.matches > 0) {
            return text + "; " + FormatMatchValue(threshold.value) + " would match " +
                   FormatMatchCount(threshold.matches);
        }
    }
    return text;
}

}  // namespace

std::string FormatMatchValue(double value) {
    char text[64];
    if (value == floor(value) && fabs(value) < 1e15) {
        snprintf(text, sizeof text, "%.0f", value);
    } else {
        snprintf(text, sizeof text, "%.9g", value);
    }
    return text;
}

std::string FormatMatchCount(long count) {
    std::string digits = std::to_string(count < 0 ? -count : count);
    std::string out;
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) out += ',';
        out += digits[k];
    }
    return count < 0 ? "-" + out : out;
}

MatchAnalysis AnalyzeMatch(ClassAd &job, const std::vector<ClassAd *> &pool) {
    MatchAnalysis analysis;
    analysis.pool = static_cast<long>(pool.size());
    Context ctx{job, pool, {}, {}, {}};
    ExprTree *requirements = job.GetRequirements();
    analysis.job_has_requirements = requirements != nullptr;
    for (ExprTree *clause :
         SplitConjunction(requirements != nullptr ? requirements->RArg() : nullptr)) {
        ctx.work.emplace_back();
        ClauseWork &w = ctx.work.back();
        w.clause.reset(clause->DeepCopy());
        w.references = ClauseReferences(w.clause.get());
        w.survey.Start(w.clause.get(), job);
        analysis.clauses.emplace_back();
        analysis.clauses.back().text = PrintedText(w.clause.get());
    }
    survey_pool(ctx, analysis);
    count_matches(ctx, analysis);
    for (size_t c = 0; c < ctx.work.size(); ++c) {
        explain_comparison(ctx, static_cast<int>(c), analysis.clauses[c]);
    }
    analysis.refusals = ctx.refusals.Largest(5);
    analysis.suggestion = suggestion(analysis);
    return analysis;
}
