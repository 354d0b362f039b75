// AttrList values: the literal lookups (no evaluation), the evaluating
// lookups, the typed Assign helpers and ProcToTree, which builds an
// assignment tree from a plain value.
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/evaluation.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "core/allocation.h"
#include "core/iso8601.h"
#include "core/my_string.h"

namespace {

// The right side of the attribute's assignment, or null.
ExprTree *value_of(const AttrList &list, const char *name) {
    ExprTree *tree = list.Lookup(name);
    return tree != nullptr ? tree->RArg() : nullptr;
}

const char *string_literal(const AttrList &list, const char *name) {
    ExprTree *value = value_of(list, name);
    return value != nullptr && value->MyType() == LX_STRING
               ? static_cast<StringBase *>(value)->Value()
               : nullptr;
}

const char *time_literal(const AttrList &list, const char *name) {
    ExprTree *value = value_of(list, name);
    return value != nullptr && value->MyType() == LX_TIME
               ? static_cast<ISOTimeBase *>(value)->Value()
               : nullptr;
}

// Evaluates attribute name of my (or, when my lacks it, of target, still
// with my as MY); without a target an absent name comes from the
// environment. The result's kind is LX_UNDEFINED when nothing answers.
void evaluate(const AttrList &my, const char *name, const AttrList *target, EvalResult &result) {
    if (name == nullptr) {
        return;  // result stays UNDEFINED
    }
    ExprTree *tree = my.Lookup(name);
    if (tree == nullptr && target == nullptr) {
        evalFromEnvironment(name, &result);
        return;
    }
    if (tree == nullptr) {
        tree = target->Lookup(name);
    }
    if (tree != nullptr) {
        tree->EvalTree(&my, target, &result);
    }
}

// Inserts (replacing) the text name = value; formatted as printf.
bool insert_formatted(AttrList &list, const char *format, const char *name, ...)
    __attribute__((format(printf, 2, 4)));

bool insert_formatted(AttrList &list, const char *format, const char *name, ...) {
    MyString text;
    va_list args;
    va_start(args, name);
    MyString value;
    bool ok = value.vsprintf(format, args);
    va_end(args);
    if (!ok) {
        return false;
    }
    text = name;
    text += value;
    return list.Insert(text.Value(), true);
}

}  // namespace

// ---- literal lookups ----

int AttrList::LookupString(const char *name, char *buffer) const {
    const char *text = string_literal(*this, name);
    if (text == nullptr) {
        return 0;
    }
    strcpy(buffer, text);
    return 1;
}

int AttrList::LookupString(const char *name, char *buffer, int n) const {
    const char *text = string_literal(*this, name);
    if (text == nullptr) {
        return 0;
    }
    if (n > 0) {
        strncpy(buffer, text, static_cast<size_t>(n));
    }
    return 1;
}

int AttrList::LookupString(const char *name, char **out) const {
    const char *text = string_literal(*this, name);
    if (text == nullptr) {
        return 0;
    }
    *out = strdup(text);
    return 1;
}

int AttrList::LookupString(const char *name, MyString &out) const {
    const char *text = string_literal(*this, name);
    if (text == nullptr) {
        return 0;
    }
    out = text;
    return 1;
}

int AttrList::LookupTime(const char *name, char **out) const {
    const char *text = time_literal(*this, name);
    if (text == nullptr) {
        return 0;
    }
    *out = strdup(text);
    return 1;
}

int AttrList::LookupTime(const char *name, struct tm *out, bool *is_utc) const {
    const char *text = time_literal(*this, name);
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    iso8601_to_time(text, out, is_utc);
    return 1;
}

int AttrList::LookupInteger(const char *name, int &value) const {
    ExprTree *tree = value_of(*this, name);
    if (tree == nullptr) {
        return 0;
    }
    if (tree->MyType() == LX_INTEGER) {
        value = static_cast<IntegerBase *>(tree)->Value();
        return 1;
    }
    if (tree->MyType() == LX_BOOL) {
        value = static_cast<BooleanBase *>(tree)->Value();
        return 1;
    }
    return 0;
}

int AttrList::LookupFloat(const char *name, float &value) const {
    ExprTree *tree = value_of(*this, name);
    if (tree == nullptr) {
        return 0;
    }
    if (tree->MyType() == LX_FLOAT) {
        value = static_cast<FloatBase *>(tree)->Value();
        return 1;
    }
    if (tree->MyType() == LX_INTEGER) {
        value = static_cast<float>(static_cast<IntegerBase *>(tree)->Value());
        return 1;
    }
    return 0;
}

int AttrList::LookupBool(const char *name, int &value) const {
    ExprTree *tree = value_of(*this, name);
    if (tree == nullptr || tree->MyType() != LX_BOOL) {
        return 0;
    }
    value = static_cast<BooleanBase *>(tree)->Value();
    return 1;
}

int AttrList::LookupBool(const char *name, bool &value) const {
    int v = 0;
    if (!LookupBool(name, v)) {
        return 0;
    }
    value = v != 0;
    return 1;
}

// ---- evaluating lookups ----

int AttrList::EvalString(const char *name, const AttrList *target, char *buffer) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type != LX_STRING) {
        return 0;
    }
    strcpy(buffer, r.s);
    return 1;
}

int AttrList::EvalString(const char *name, const AttrList *target, char **out) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type != LX_STRING) {
        return 0;
    }
    *out = strdup(r.s);
    return 1;
}

int AttrList::EvalString(const char *name, const AttrList *target, MyString &out) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type != LX_STRING) {
        return 0;
    }
    out = r.s;
    return 1;
}

int AttrList::EvalInteger(const char *name, const AttrList *target, int &value) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type != LX_INTEGER) {
        return 0;
    }
    value = r.i;
    return 1;
}

int AttrList::EvalFloat(const char *name, const AttrList *target, float &value) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type == LX_FLOAT) {
        value = r.f;
        return 1;
    }
    if (r.type == LX_INTEGER) {
        value = static_cast<float>(r.i);
        return 1;
    }
    return 0;
}

int AttrList::EvalBool(const char *name, const AttrList *target, int &value) const {
    EvalResult r;
    evaluate(*this, name, target, r);
    if (r.type == LX_INTEGER) {
        value = r.i != 0 ? 1 : 0;
        return 1;
    }
    if (r.type == LX_FLOAT) {
        value = r.f != 0.0f ? 1 : 0;
        return 1;
    }
    return 0;
}

// ---- assigning ----

bool AttrList::AssignExpr(const char *name, const char *expression) {
    if (name == nullptr) {
        return false;
    }
    MyString text(name);
    text += " = ";
    text += expression != nullptr ? expression : "UNDEFINED";
    return Insert(text.Value(), true);
}

bool AttrList::Assign(const char *name, const char *value) {
    if (name == nullptr) {
        return false;
    }
    if (value == nullptr) {
        return AssignExpr(name, nullptr);
    }
    MyString text(name);
    text += " = \"";
    for (const char *p = value; *p != '\0'; ++p) {
        if (*p == '"') {
            text += '\\';
        }
        text += *p;
    }
    text += '"';
    return Insert(text.Value(), true);
}

bool AttrList::Assign(const char *name, int value) {
    return name != nullptr && insert_formatted(*this, " = %d", name, value);
}

bool AttrList::Assign(const char *name, float value) {
    return name != nullptr && insert_formatted(*this, " = %f", name, static_cast<double>(value));
}

bool AttrList::Assign(const char *name, bool value) {
    return name != nullptr && insert_formatted(*this, " = %s", name, value ? "TRUE" : "FALSE");
}

ExprTree *AttrList::ProcToTree(const char *name, LexemeType kind, int i, float f, const char *s) {
    if (name == nullptr) {
        return nullptr;
    }
    ExprTree *value = nullptr;
    switch (kind) {
        case LX_FLOAT:
            value = new (torvel::or_die) Float(f);
            break;
        case LX_INTEGER:
            value = new (torvel::or_die) Integer(i);
            break;
        case LX_STRING:
            value = new (torvel::or_die) String(s != nullptr ? s : "");
            break;
        case LX_EXPR:
            if (Parse(s, value) != 0 || value == nullptr) {
                delete value;
                return nullptr;
            }
            break;
        default:
            break;
    }
    return new (torvel::or_die) AssignOp(new (torvel::or_die) Variable(name), value);
}
