// Match analysis: clause-by-clause evaluation of a job's Requirements over
// a pool, what would change the answer, and the machines refusing the job.
#include "classad/match_analysis.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "classad/attr_list.h"
#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/requirement_clauses.h"

namespace {

enum Truth { kTrue, kFalse, kUndefined, kError };

// What "&&" makes of a value: numbers are true unless 0, UNDEFINED stays,
// anything else is ERROR.
Truth truth_of(const EvalResult &result) {
    switch (result.type) {
        case LX_INTEGER:
            return result.i != 0 ? kTrue : kFalse;
        case LX_FLOAT:
            return result.f != 0 || isnan(result.f) ? kTrue : kFalse;
        case LX_UNDEFINED:
            return kUndefined;
        default:
            return kError;
    }
}

Truth evaluate(ExprTree *clause, const ClassAd &my, const ClassAd &target) {
    EvalResult result;
    clause->EvalTree(&my, &target, &result);
    return truth_of(result);
}

ExprTree *without_groups(ExprTree *node) {
    while (node != nullptr && node->MyType() == LX_ADD && node->LArg() == nullptr) {
        node = node->RArg();
    }
    return node;
}

// One machine as the job's clauses left it.
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

struct Context {
    ClassAd &job;
    const std::vector<ClassAd *> &pool;
    std::vector<std::unique_ptr<ExprTree>> clauses;  // standalone copies
    std::vector<MachineState> states;
};

// ---- the job's clauses ----

void note_missing(const std::vector<Variable *> &references, const ClassAd &job,
                  const ClassAd &machine, ClauseAnalysis &out,
                  std::unordered_map<std::string, size_t> &index) {
    for (Variable *reference : references) {
        if (ReferenceFound(*reference, &job, &machine)) {
            continue;
        }
        auto slot = index.emplace(reference->Name(), out.missing.size());
        if (slot.second) {
            out.missing.push_back({reference->Name(), 0});
        }
        ++out.missing[slot.first->second].machines;
    }
}

// Evaluates clause c against every machine: its counts, missing names,
// and the machines' failing tallies.
void count_clause(Context &ctx, int c, ClauseAnalysis &out) {
    ExprTree *clause = ctx.clauses[c].get();
    std::vector<Variable *> references = ClauseReferences(clause);
    std::unordered_map<std::string, size_t> index;
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        Truth truth = evaluate(clause, ctx.job, *ctx.pool[m]);
        if (truth == kTrue) {
            ++out.satisfied;
            continue;
        }
        MachineState &state = ctx.states[m];
        if (state.failing++ == 0) {
            state.first_failing = c;
        }
        if (truth == kUndefined || truth == kError) {
            ++(truth == kUndefined ? out.undefined : out.error);
            note_missing(references, ctx.job, *ctx.pool[m], out, index);
        }
    }
}

// ---- what would change the answer ----

// A clause "machine attribute OP job constant" (either way round).
struct Comparison {
    LexemeType kind = LX_ERROR;  // as written
    LexemeType op = LX_ERROR;    // with the attribute on the left
    Variable *attribute = nullptr;
    bool attribute_left = true;
};

bool is_ordered(LexemeType kind) {
    return kind == LX_LT || kind == LX_LE || kind == LX_GT || kind == LX_GE;
}

LexemeType mirrored(LexemeType kind) {
    switch (kind) {
        case LX_LT:
            return LX_GT;
        case LX_LE:
            return LX_GE;
        case LX_GT:
            return LX_LT;
        case LX_GE:
            return LX_LE;
        default:
            return kind;
    }
}

bool is_machine_attribute(ExprTree *node, const ClassAd &job) {
    return node != nullptr && node->MyType() == LX_VARIABLE &&
           ReferenceReadsTarget(*static_cast<Variable *>(node), &job);
}

// A literal, a negated number, or one of the job's own attributes.
bool is_job_constant(ExprTree *node, const ClassAd &job) {
    node = without_groups(node);
    if (node == nullptr) {
        return false;
    }
    switch (node->MyType()) {
        case LX_INTEGER:
        case LX_FLOAT:
        case LX_STRING:
        case LX_BOOL:
            return true;
        case LX_SUB:
            return node->LArg() == nullptr && is_job_constant(node->RArg(), job);
        case LX_VARIABLE: {
            Variable *reference = static_cast<Variable *>(node);
            return !ReferenceReadsTarget(*reference, &job) &&
                   ReferenceFound(*reference, &job, nullptr);
        }
        default:
            return false;
    }
}

bool as_comparison(ExprTree *clause, const ClassAd &job, Comparison &out) {
    clause = without_groups(clause);
    LexemeType kind = clause->MyType();
    if (!is_ordered(kind) && kind != LX_EQ && kind != LX_META_EQ) {
        return false;
    }
    ExprTree *left = without_groups(clause->LArg());
    ExprTree *right = without_groups(clause->RArg());
    out.kind = kind;
    if (is_machine_attribute(left, job) && is_job_constant(right, job)) {
        out.attribute = static_cast<Variable *>(left);
        out.op = kind;
    } else if (is_machine_attribute(right, job) && is_job_constant(left, job)) {
        out.attribute = static_cast<Variable *>(right);
        out.attribute_left = false;
        out.op = mirrored(kind);
    }
    return out.attribute != nullptr;
}

// The numbers the attribute has across the pool, best admitted first.
std::vector<double> numeric_values(Context &ctx, const Comparison &cmp) {
    std::vector<double> values;
    for (ClassAd *machine : ctx.pool) {
        EvalResult result;
        cmp.attribute->EvalTree(&ctx.job, machine, &result);
        if (result.type == LX_INTEGER) {
            values.push_back(result.i);
        } else if (result.type == LX_FLOAT && !isnan(result.f)) {
            values.push_back(result.f);
        }
    }
    bool upward = cmp.op == LX_GE || cmp.op == LX_GT;
    if (upward) {
        std::sort(values.begin(), values.end(), [](double a, double b) { return a > b; });
    } else {
        std::sort(values.begin(), values.end());
    }
    return values;
}

bool is_integral(double value) {
    return value == floor(value) && fabs(value) <= 2147483647.0;
}

// The bound that admits a machine holding value under cmp.op.
double bound_admitting(double value, LexemeType op) {
    if (op == LX_GT) {
        return is_integral(value) ? value - 1 : nextafterf(static_cast<float>(value), -INFINITY);
    }
    if (op == LX_LT) {
        return is_integral(value) ? value + 1 : nextafterf(static_cast<float>(value), INFINITY);
    }
    return value;
}

ExprTree *literal(double value) {
    if (is_integral(value)) {
        return new Integer(static_cast<int>(value));
    }
    return new Float(static_cast<float>(value));
}

// How many machines match when clause c compares with bound instead.
long matches_with_bound(Context &ctx, int c, const Comparison &cmp, double bound) {
    ExprTree *attribute = cmp.attribute->DeepCopy();
    ExprTree *constant = literal(bound);
    std::unique_ptr<ExprTree> replaced(cmp.attribute_left
                                           ? BinaryOpBase::Make(cmp.kind, attribute, constant)
                                           : BinaryOpBase::Make(cmp.kind, constant, attribute));
    long matches = 0;
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        if (others_hold(ctx.states[m], c) &&
            evaluate(replaced.get(), ctx.job, *ctx.pool[m]) == kTrue) {
            ++matches;
        }
    }
    return matches;
}

void add_thresholds(Context &ctx, int c, const Comparison &cmp, ClauseAnalysis &out) {
    std::vector<double> values = numeric_values(ctx, cmp);
    for (int percent : {1, 10, 50}) {
        size_t k =
            static_cast<size_t>(ceil(percent * static_cast<double>(ctx.pool.size()) / 100.0));
        k = std::max<size_t>(k, 1);
        if (k > values.size()) {
            continue;
        }
        double bound = bound_admitting(values[k - 1], cmp.op);
        out.thresholds.push_back({percent, bound, matches_with_bound(ctx, c, cmp, bound)});
    }
}

std::string quoted(const char *text) {
    std::string out = "\"";
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
    }
    return out + "\"";
}

// The value as an expression would write it; "" for none.
std::string value_text(const EvalResult &result) {
    switch (result.type) {
        case LX_INTEGER:
            return std::to_string(result.i);
        case LX_FLOAT:
            return FormatMatchValue(result.f);
        case LX_STRING:
            return quoted(result.s);
        default:
            return "";
    }
}

void add_common_values(Context &ctx, const Comparison &cmp, ClauseAnalysis &out) {
    std::vector<CommonValue> values;
    std::unordered_map<std::string, size_t> index;
    for (ClassAd *machine : ctx.pool) {
        EvalResult result;
        cmp.attribute->EvalTree(&ctx.job, machine, &result);
        std::string text = value_text(result);
        if (text.empty()) {
            continue;
        }
        auto slot = index.emplace(text, values.size());
        if (slot.second) {
            values.push_back({text, 0});
        }
        ++values[slot.first->second].machines;
    }
    std::stable_sort(values.begin(), values.end(), [](const CommonValue &a, const CommonValue &b) {
        return a.machines > b.machines;
    });
    values.resize(std::min<size_t>(values.size(), 5));
    out.common_values = std::move(values);
}

void explain_comparison(Context &ctx, int c, ClauseAnalysis &out) {
    Comparison cmp;
    if (!as_comparison(ctx.clauses[c].get(), ctx.job, cmp)) {
        return;
    }
    out.attribute = cmp.attribute->Name();
    if (is_ordered(cmp.kind)) {
        add_thresholds(ctx, c, cmp, out);
    } else {
        add_common_values(ctx, cmp, out);
    }
}

// ---- machines refusing the job ----

// How deep "START" -> its expression -> ... is followed.
const int kMaxFollow = 8;

// The first clause of the machine's Requirements the job fails, followed
// into attributes of the machine a failing clause only names.
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
            if (evaluate(clause, machine, job) != kTrue) {
                failing = clause;
                break;
            }
        }
        if (failing == nullptr) {
            break;
        }
        ExprTree *inner = without_groups(failing);
        Variable *name = inner->MyType() == LX_VARIABLE ? static_cast<Variable *>(inner) : nullptr;
        if (name == nullptr || ReferenceReadsTarget(*name, &machine) ||
            !ReferenceFound(*name, &machine, nullptr) || name->ReferenceScope().current_time) {
            return path + PrintedText(failing);
        }
        path += std::string(name->Name()) + ": ";
        const Variable::Scope &scope = name->ReferenceScope();
        expr = machine.LookupElem(scope.name, scope.hash)->tree->RArg();
    }
    return path + PrintedText(expr);
}

struct Group {
    RefusalGroup record;
    std::vector<std::pair<std::string, long>> failures;  // first seen first
    std::unordered_map<std::string, size_t> index;
};

void add_refusal(std::vector<Group> &groups, std::unordered_map<std::string, size_t> &index,
                 const ClassAd &machine, const ClassAd &job) {
    ExprTree *requirements = machine.GetRequirements();
    std::string text = requirements != nullptr ? PrintedText(requirements->RArg()) : "";
    auto slot = index.emplace(text, groups.size());
    if (slot.second) {
        groups.emplace_back();
        groups.back().record.requirements = text;
    }
    Group &group = groups[slot.first->second];
    ++group.record.machines;
    std::string failed = failed_clause_of(machine, job);
    auto failure = group.index.emplace(failed, group.failures.size());
    if (failure.second) {
        group.failures.push_back({failed, 0});
    }
    ++group.failures[failure.first->second].second;
}

std::vector<RefusalGroup> refusals(Context &ctx) {
    std::vector<Group> groups;
    std::unordered_map<std::string, size_t> index;
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        if (!ctx.states[m].machine_ok) {
            add_refusal(groups, index, *ctx.pool[m], ctx.job);
        }
    }
    std::stable_sort(groups.begin(), groups.end(), [](const Group &a, const Group &b) {
        return a.record.machines > b.record.machines;
    });
    std::vector<RefusalGroup> out;
    for (size_t g = 0; g < groups.size() && g < 5; ++g) {
        RefusalGroup record = groups[g].record;
        for (const auto &failure : groups[g].failures) {
            if (failure.second > record.failed_machines) {
                record.failed_clause = failure.first;
                record.failed_machines = failure.second;
            }
        }
        out.push_back(record);
    }
    return out;
}

// ---- the whole ----

void count_matches(Context &ctx, MatchAnalysis &out) {
    ctx.states.resize(ctx.pool.size());
    for (size_t m = 0; m < ctx.pool.size(); ++m) {
        ClassAd &machine = *ctx.pool[m];
        ctx.states[m].type_ok = ctx.job.AcceptsTypeOf(machine);
        ctx.states[m].machine_ok = (ctx.job >= machine) != 0;
        bool job_ok = (machine >= ctx.job) != 0;
        // IsAMatch is exactly both sides; asked once each.
        out.matches += job_ok && ctx.states[m].machine_ok;
        out.job_accepts += job_ok;
        out.machines_accept += ctx.states[m].machine_ok;
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
    Context ctx{job, pool, {}, {}};
    count_matches(ctx, analysis);
    ExprTree *requirements = job.GetRequirements();
    analysis.job_has_requirements = requirements != nullptr;
    for (ExprTree *clause :
         SplitConjunction(requirements != nullptr ? requirements->RArg() : nullptr)) {
        ctx.clauses.emplace_back(clause->DeepCopy());
    }
    analysis.clauses.resize(ctx.clauses.size());
    for (size_t c = 0; c < ctx.clauses.size(); ++c) {
        analysis.clauses[c].text = PrintedText(ctx.clauses[c].get());
        count_clause(ctx, static_cast<int>(c), analysis.clauses[c]);
    }
    for (size_t m = 0; m < pool.size(); ++m) {
        const MachineState &state = ctx.states[m];
        if (state.type_ok && state.machine_ok && state.failing == 1) {
            ++analysis.clauses[state.first_failing].rejected_alone;
        }
    }
    for (size_t c = 0; c < ctx.clauses.size(); ++c) {
        explain_comparison(ctx, static_cast<int>(c), analysis.clauses[c]);
    }
    analysis.refusals = refusals(ctx);
    analysis.suggestion = suggestion(analysis);
    return analysis;
}
