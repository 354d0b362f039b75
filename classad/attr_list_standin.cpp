// Stand-in for AttrList, until the ClassAd attribute lists land (they replace
// this file). It keeps the parsed AssignOp tree of each attribute in
// insertion order, finds attributes by name without regard to case, and
// prints an attribute as its tree. Chaining, dirty flags, iteration and the
// other text and wire forms are not offered.
#include "classad/attr_list.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "classad/expr_tree.h"
#include "classad/parser.h"

struct AttrList::Attribute {
    ExprTree *tree;    // owned AssignOp
    const char *name;  // the interned name of the tree's left Variable
    Attribute *next;
};

AttrList::AttrList() : first_(nullptr), last_(nullptr) {}

AttrList::~AttrList() {
    while (first_ != nullptr) {
        Attribute *next = first_->next;
        delete first_->tree;
        delete first_;
        first_ = next;
    }
}

bool AttrList::Insert(const char *text, bool replace) {
    ExprTree *tree = nullptr;
    if (text == nullptr || Parse(text, tree) != 0 || tree == nullptr) {
        delete tree;
        return false;
    }
    if (!Insert(tree, replace)) {
        delete tree;
        return false;
    }
    return true;
}

bool AttrList::Insert(ExprTree *tree, bool replace) {
    if (tree == nullptr || tree->MyType() != LX_ASSIGN || tree->LArg() == nullptr ||
        tree->LArg()->MyType() != LX_VARIABLE) {
        return false;
    }
    const char *name = static_cast<VariableBase *>(tree->LArg())->Name();
    if (replace) {
        delete_(name);
    }
    Attribute *attr = new Attribute{tree, name, nullptr};
    if (last_ != nullptr) {
        last_->next = attr;
    } else {
        first_ = attr;
    }
    last_ = attr;
    return true;
}

ExprTree *AttrList::Lookup(const char *name) const {
    Attribute *attr = name != nullptr ? find_(name) : nullptr;
    return attr != nullptr ? attr->tree : nullptr;
}

char *AttrList::sPrintExpr(char *buffer, unsigned size, const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    Attribute *attr = find_(name);
    if (attr == nullptr) {
        return nullptr;
    }
    char *text = nullptr;
    attr->tree->PrintToNewStr(&text);
    if (buffer == nullptr) {
        return text;
    }
    strncpy(buffer, text, size);
    free(text);
    return buffer;
}

bool AttrList::IsExternalReference(const char *name, char **out) const {
    const char *dot = strchr(name, '.');
    bool external;
    const char *referred = name;
    if (dot != nullptr) {
        external = dot - name == 6 && strncasecmp(name, "TARGET", 6) == 0;
        referred = dot + 1;
    } else {
        external = find_(name) == nullptr;
    }
    if (out != nullptr) {
        *out = strdup(referred);
    }
    return external;
}

AttrList::Attribute *AttrList::find_(const char *name) const {
    // Names are interned, so a reference spelled as the attribute is the
    // same pointer; a different first letter rejects without strcasecmp.
    const int first = tolower(static_cast<unsigned char>(name[0]));
    for (Attribute *attr = first_; attr != nullptr; attr = attr->next) {
        if (attr->name == name) {
            return attr;
        }
        if (tolower(static_cast<unsigned char>(attr->name[0])) == first &&
            strcasecmp(attr->name, name) == 0) {
            return attr;
        }
    }
    return nullptr;
}

bool AttrList::delete_(const char *name) {
    Attribute *prev = nullptr;
    for (Attribute *attr = first_; attr != nullptr; prev = attr, attr = attr->next) {
        if (strcasecmp(attr->name, name) == 0) {
            (prev != nullptr ? prev->next : first_) = attr->next;
            if (last_ == attr) {
                last_ = prev;
            }
            delete attr->tree;
            delete attr;
            return true;
        }
    }
    return false;
}
