// The values a compared machine attribute takes across a pool, and the
// bounds and common values drawn from them.
#include "classad/match_bounds.h"

#include <math.h>

#include <algorithm>
#include <memory>

#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/requirement_clauses.h"

namespace {

bool is_ordered(LexemeType kind) {
    return kind == LX_LT || kind == LX_LE || kind == LX_GT || kind == LX_GE;
}

// The comparison with its operands exchanged.
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
    node = WithoutGroups(node);
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

bool is_integral(double value) {
    return value == floor(value) && fabs(value) <= 2147483647.0;
}

// The bound that still admits a machine holding value under op.
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

}  // namespace

bool AttributeSurvey::Start(ExprTree *clause, const ClassAd &job) {
    clause = WithoutGroups(clause);
    LexemeType kind = clause->MyType();
    if (!is_ordered(kind) && kind != LX_EQ && kind != LX_META_EQ) {
        return false;
    }
    ExprTree *left = WithoutGroups(clause->LArg());
    ExprTree *right = WithoutGroups(clause->RArg());
    kind_ = kind;
    if (is_machine_attribute(left, job) && is_job_constant(right, job)) {
        attribute_ = static_cast<Variable *>(left);
        op_ = kind;
    } else if (is_machine_attribute(right, job) && is_job_constant(left, job)) {
        attribute_ = static_cast<Variable *>(right);
        attribute_left_ = false;
        op_ = mirrored(kind);
    }
    return attribute_ != nullptr;
}

bool AttributeSurvey::Ordered() const {
    return is_ordered(kind_);
}

std::string AttributeSurvey::Attribute() const {
    return attribute_ != nullptr ? attribute_->Name() : "";
}

void AttributeSurvey::Add(const ClassAd &job, const ClassAd &machine) {
    EvalResult result;
    attribute_->EvalTree(&job, &machine, &result);
    if (Ordered()) {
        if (result.type == LX_INTEGER) {
            numbers_.push_back(result.i);
        } else if (result.type == LX_FLOAT && !isnan(result.f)) {
            numbers_.push_back(result.f);
        }
        return;
    }
    std::string text = value_text(result);
    if (text.empty()) {
        return;
    }
    auto slot = index_.emplace(text, values_.size());
    if (slot.second) {
        values_.push_back({text, 0});
    }
    ++values_[slot.first->second].machines;
}

std::vector<ThresholdValue> AttributeSurvey::Thresholds(
    size_t pool, const std::function<long(ExprTree *clause)> &matches_with) {
    // Best admitted first.
    if (op_ == LX_GE || op_ == LX_GT) {
        std::sort(numbers_.begin(), numbers_.end(), [](double a, double b) { return a > b; });
    } else {
        std::sort(numbers_.begin(), numbers_.end());
    }
    std::vector<ThresholdValue> out;
    for (int percent : {1, 10, 50}) {
        size_t k = static_cast<size_t>(ceil(percent * static_cast<double>(pool) / 100.0));
        k = std::max<size_t>(k, 1);
        if (k > numbers_.size()) {
            continue;
        }
        double bound = bound_admitting(numbers_[k - 1], op_);
        ExprTree *attribute = attribute_->DeepCopy();
        ExprTree *constant = literal(bound);
        std::unique_ptr<ExprTree> changed(attribute_left_
                                              ? BinaryOpBase::Make(kind_, attribute, constant)
                                              : BinaryOpBase::Make(kind_, constant, attribute));
        out.push_back({percent, bound, matches_with(changed.get())});
    }
    return out;
}

std::vector<CommonValue> AttributeSurvey::MostCommon(size_t n) const {
    std::vector<CommonValue> values = values_;
    std::stable_sort(values.begin(), values.end(), [](const CommonValue &a, const CommonValue &b) {
        return a.machines > b.machines;
    });
    values.resize(std::min(values.size(), n));
    return values;
}
