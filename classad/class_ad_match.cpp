// ClassAd matching: type compatibility in each direction and each ad's
// Requirements evaluated with itself as MY and the other ad as TARGET.
#include <stdint.h>

#include "classad/attr_names.h"
#include "classad/class_ad.h"
#include "classad/eval_value.h"
#include "classad/expr_tree.h"

namespace {

// Whether MY.Requirements holds (is a non-zero integer) with my as MY and
// target as TARGET. The reference MY.Requirements looks in my only and is
// UNDEFINED when my lacks it, so the attribute is evaluated directly.
bool requirements_hold(const ClassAd &my, const ClassAd &target) {
    static const uint32_t hash = AttrList::NameHash(ATTR_REQUIREMENTS);
    AttrListElem *requirements = my.LookupElem(ATTR_REQUIREMENTS, hash);
    if (requirements == nullptr) {
        return false;
    }
    EvalBudgetScope budget;
    EvalScratchScope scope;
    EvalValue value;
    eval_tree_value(requirements->Tree(), &my, &target, value);
    return value.type == LX_INTEGER && value.i != 0 && !budget.exhausted();
}

}  // namespace

int ClassAd::IsAMatch(ClassAd *other) {
    if (other == nullptr || !AcceptsTypeOf(*other) || !other->AcceptsTypeOf(*this)) {
        return 0;
    }
    return requirements_hold(*this, *other) && requirements_hold(*other, *this) ? 1 : 0;
}

int operator>=(ClassAd &a, ClassAd &b) {
    return b.AcceptsTypeOf(a) && requirements_hold(b, a) ? 1 : 0;
}

int operator<=(ClassAd &a, ClassAd &b) {
    return b >= a;
}

int operator==(ClassAd &a, ClassAd &b) {
    return (a >= b) && (b >= a) ? 1 : 0;
}
