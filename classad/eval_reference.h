// What an attribute reference gives, shared by the tree walk
// (evaluation.cpp) and the compiled form (eval_program.cpp), inline so that
// both read the attribute without a call: the attribute is looked up in MY,
// then in TARGET unless the reference is restricted, then in the
// environment; a literal attribute is read from its element, any other is
// evaluated by the walk at the current nesting (eval_depth).
#ifndef TORVEL_CLASSAD_EVAL_REFERENCE_H_
#define TORVEL_CLASSAD_EVAL_REFERENCE_H_

#include <time.h>

#include "classad/attr_list.h"
#include "classad/eval_value.h"
#include "classad/evaluation.h"
#include "classad/expr_tree.h"

// The value of an attribute whose right side is a literal, as a
// reference passes it on.
inline void eval_literal_attribute(const AttrListElem *attribute, EvalValue &out) {
    out.type = attribute->literalKind;
    switch (attribute->literalKind) {
        case LX_FLOAT:
            out.r = attribute->literalFloat;
            break;
        case LX_STRING:
            out.s = attribute->literalText;
            break;
        default:
            out.i = attribute->literalInt;
            break;
    }
}

// An attribute found by a reference, evaluated as EvalTree evaluates its
// assignment. The common attribute, a literal value, is read from the
// element with the same nesting check, without walking the tree (its
// assignment cannot be under evaluation: a literal reaches nothing).
//
// Any other attribute is paid for from the step budget here, where the
// walk and the compiled forms both pass, in the same order: only
// references make the work of an evaluation outgrow the trees it reads,
// so the budget bounds the whole.
inline bool eval_attribute(const AttrListElem *attribute, const AttrList *my,
                           const AttrList *target, EvalValue &out) {
    if (attribute->literalKind != LX_NONE) {
        if (eval_depth + 1 < CLASSAD_MAX_EVAL_DEPTH) {
            eval_literal_attribute(attribute, out);
            return true;
        }
    } else if ((eval_steps_left -= attribute->EvalSteps()) < 0) {
        out = EvalValue::Error();
        return false;
    }
    return eval_tree_value(attribute->Tree(), my, target, out);
}

// The value of a reference with the given scope, as a Variable's
// evaluation gives it.
inline bool eval_reference_value(const Variable::Scope &scope, const AttrList *my,
                                 const AttrList *target, EvalValue &out) {
    if (scope.unknown_prefix) {
        out = EvalValue::Undefined();
        return true;
    }
    if (scope.exchanged) {
        const AttrList *other = my;
        my = target;
        target = other;
    }
    const AttrListElem *attribute =
        my != nullptr ? my->LookupElem(scope.name, scope.hash) : nullptr;
    if (attribute != nullptr) {
        return eval_attribute(attribute, my, target, out);
    }
    attribute = !scope.restricted && target != nullptr ? target->LookupElem(scope.name, scope.hash)
                                                       : nullptr;
    if (attribute != nullptr) {
        return eval_attribute(attribute, target, my, out);
    }
    if (scope.current_time) {
        time_t now = time(nullptr);
        out = now == static_cast<time_t>(-1) ? EvalValue::Error()
                                             : EvalValue::Int(static_cast<int>(now));
    } else {
        out = EvalValue::Undefined();
    }
    return true;
}

#endif  // TORVEL_CLASSAD_EVAL_REFERENCE_H_
