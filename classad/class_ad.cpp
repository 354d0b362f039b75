// ClassAd: construction with types taken from the "MyType" and
// "TargetType" attributes, the type accessors, the text and wire forms with
// the two type lines first, and ClassAdList lookup, copying and sorting.
// Matching is in class_ad_match.cpp.
#include "classad/class_ad.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "classad/attr_names.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "core/allocation.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "stream/stream.h"

namespace {

const char kUnknownType[] = "(unknown type)";

AttrList *entry_list(AttrListAbstract *entry) {
    return entry->Type() == ATTRLISTREP ? static_cast<AttrListRep *>(entry)->GetOrigAttrList()
                                        : static_cast<AttrList *>(entry);
}

// The type named by the string value of attribute name, or the empty type.
// A literal is read from the attribute itself, so no tree is built for it.
AdType *type_from(const ClassAd &ad, const char *name) {
    const AttrListElem *attribute = ad.LookupElem(name);
    if (attribute != nullptr && attribute->literalKind != LX_NONE) {
        return new (torvel::or_die)
            AdType(attribute->literalKind == LX_STRING ? attribute->literalText : nullptr);
    }
    EvalResult value;
    if (attribute != nullptr) {
        attribute->Tree()->EvalTree(&ad, nullptr, &value);
    }
    return new (torvel::or_die) AdType(value.type == LX_STRING ? value.s : nullptr);
}

// Receives a type name (null for the null string); caller free()s.
bool receive_name(Stream &stream, char *&name) {
    name = nullptr;
    if (!stream.get(name)) {
        free(name);
        name = nullptr;
        return false;
    }
    return true;
}

}  // namespace

// ---- construction ----

ClassAd::ClassAd() : myType(nullptr), targetType(nullptr) {}

ClassAd::ClassAd(FILE *file, char *delimiter, int &isEOF, int &error, int &empty)
    : AttrList(file, delimiter, isEOF, error, empty), myType(nullptr), targetType(nullptr) {
    typesFromAttributes_();
}

ClassAd::ClassAd(char *text, char delimiter)
    : AttrList(text, delimiter), myType(nullptr), targetType(nullptr) {
    typesFromAttributes_();
}

ClassAd::ClassAd(const ClassAd &other)
    : AttrList(other),
      myType(other.myType != nullptr ? new (torvel::or_die) AdType(*other.myType) : nullptr),
      targetType(other.targetType != nullptr ? new (torvel::or_die) AdType(*other.targetType)
                                             : nullptr) {
    noteTypes_();
}

ClassAd &ClassAd::operator=(const ClassAd &other) {
    if (this == &other) {
        return *this;
    }
    AttrList::operator=(other);
    delete myType;
    delete targetType;
    myType = other.myType != nullptr ? new (torvel::or_die) AdType(*other.myType) : nullptr;
    targetType =
        other.targetType != nullptr ? new (torvel::or_die) AdType(*other.targetType) : nullptr;
    noteTypes_();
    return *this;
}

ClassAd::~ClassAd() {
    delete myType;
    delete targetType;
}

void ClassAd::TakeTypesFromAttributes() {
    delete myType;
    delete targetType;
    typesFromAttributes_();
}

void ClassAd::typesFromAttributes_() {
    // Evaluating the assignment is what evaluating a reference to it would
    // do: the ad's own value, UNDEFINED when absent.
    myType = type_from(*this, ATTR_MY_TYPE);
    targetType = type_from(*this, ATTR_TARGET_TYPE);
    noteTypes_();
    Delete(ATTR_MY_TYPE);
    Delete(ATTR_TARGET_TYPE);
}

// ---- types ----

void ClassAd::SetMyTypeName(const char *name) {
    delete myType;
    myType = name != nullptr ? new (torvel::or_die) AdType(name) : nullptr;
    noteTypes_();
}

void ClassAd::SetTargetTypeName(const char *name) {
    delete targetType;
    targetType = name != nullptr ? new (torvel::or_die) AdType(name) : nullptr;
    noteTypes_();
}

const char *ClassAd::GetMyTypeName() const {
    if (myType == nullptr) {
        return "";
    }
    if (strcmp(myType->name, "Scheduler") == 0 && Lookup(ATTR_NUM_USERS) == nullptr) {
        return "Submitter";
    }
    return myType->name;
}

const char *ClassAd::GetTargetTypeName() const {
    return targetType != nullptr ? targetType->name : "";
}

void ClassAd::noteTypes_() {
    myNumber_ = myType != nullptr ? myType->number : -1;
    targetNumber_ = targetType != nullptr ? targetType->number : -1;
    targetAny_ = targetType != nullptr && strcasecmp(targetType->name, "Any") == 0;
}

ExprTree *ClassAd::GetRequirements() const {
    return Lookup(ATTR_REQUIREMENTS);
}

ExprTree *ClassAd::GetRankExpr() const {
    return Lookup(ATTR_RANK);
}

// ---- text and wire forms ----

bool ClassAd::fPrint(FILE *file) {
    if (file == nullptr) {
        return false;
    }
    fprintf(file, "%s = \"%s\"\n", ATTR_MY_TYPE, GetMyTypeName());
    fprintf(file, "%s = \"%s\"\n", ATTR_TARGET_TYPE, GetTargetTypeName());
    return AttrList::fPrint(file);
}

bool ClassAd::sPrint(MyString &out) {
    out.sprintf_cat("%s = \"%s\"\n", ATTR_MY_TYPE, GetMyTypeName());
    out.sprintf_cat("%s = \"%s\"\n", ATTR_TARGET_TYPE, GetTargetTypeName());
    return AttrList::sPrint(out);
}

void ClassAd::dPrint(int flags) {
    const int line_flags = static_cast<int>(static_cast<unsigned>(flags) | D_NOHEADER);
    dprintf(line_flags, "MyType = \"%s\"\n", GetMyTypeName());
    dprintf(line_flags, "TargetType = \"%s\"\n", GetTargetTypeName());
    AttrList::dPrint(flags);
}

bool ClassAd::put(Stream &stream) {
    if (!AttrList::put(stream)) {
        return false;
    }
    if (!stream.put(myType != nullptr ? myType->name : kUnknownType)) {
        return false;
    }
    return stream.put(targetType != nullptr ? targetType->name : kUnknownType) != 0;
}

bool ClassAd::initFromStream(Stream &stream) {
    if (!AttrList::initFromStream(stream)) {
        return false;
    }
    char *name = nullptr;
    if (!receive_name(stream, name)) {
        return false;
    }
    SetMyTypeName(name);
    free(name);
    if (!receive_name(stream, name)) {
        return false;
    }
    SetTargetTypeName(name);
    free(name);
    return true;
}

// ---- the rest ----

void ClassAd::clear() {
    AttrList::clear();
    delete myType;
    delete targetType;
    myType = nullptr;
    targetType = nullptr;
    noteTypes_();
}

void ClassAd::ExchangeExpressions(ClassAd *other) {
    if (other != nullptr && other != this) {
        exchange_(*other);
    }
}

ClassAd *ClassAd::FindNext() {
    if (inList == nullptr || next == nullptr) {
        return nullptr;
    }
    return static_cast<ClassAd *>(entry_list(next));
}

// ---- ClassAdList ----

ClassAdList::ClassAdList(const ClassAdList &other) : AttrListList() {
    for (AttrListAbstract *e = other.head; e != nullptr; e = nextEntry_(e)) {
        Insert(new (torvel::or_die) ClassAd(*static_cast<ClassAd *>(resolve_(e))));
    }
}

ClassAd *ClassAdList::Lookup(const char *name) const {
    AttrList *member = nullptr;
    if (AttrListList::Lookup(name, member) == nullptr) {
        return nullptr;
    }
    return static_cast<ClassAd *>(member);
}

void ClassAdList::Sort(int (*less)(AttrList *, AttrList *, void *), void *data) {
    sortEntries_(less, data);
}
