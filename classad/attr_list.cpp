// AttrList core: construction, copying, insertion and deletion, lookup by
// name (own attributes first, then the chained parent's), dirty flags,
// the two iteration cursors, chaining and list membership. Every name
// lookup goes through the list's index, so reading or building an ad of n
// attributes costs time in proportion to n. The literal and
// evaluating lookups are in attr_list_values.cpp, the text and wire forms
// in attr_list_text.cpp.
#include "classad/attr_list.h"

#include <ctype.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "classad/attr_list_list.h"
#include "classad/eval_value.h"
#include "classad/expr_tree.h"
#include "classad/literal_assignment.h"
#include "classad/node_pool.h"
#include "classad/parse_cache.h"
#include "classad/parser.h"
#include "core/allocation.h"
#include "core/strnewp.h"
#include "diagnostics/except.h"

namespace {

bool is_assignment(ExprTree *tree) {
    return tree != nullptr && tree->MyType() == LX_ASSIGN && tree->LArg() != nullptr &&
           tree->LArg()->MyType() == LX_VARIABLE;
}

// The index hash of an assignment's name. A name without prefixes (the
// usual case) is its Variable's scope name, whose hash the Variable worked
// out when it was built, so inserting does not hash the name again.
// REQUIRES: is_assignment(tree).
uint32_t assigned_name_hash(ExprTree *tree) {
    const VariableBase *variable = static_cast<VariableBase *>(tree->LArg());
    const VariableBase::Scope &scope = variable->ReferenceScope();
    return scope.name == variable->Name() ? scope.hash : AttrList::NameHash(variable->Name());
}

// The elements record of a chain, which is handed out as the address of
// the record's head.
AttrListElems *elems_of(void *chain) {
    static_assert(offsetof(AttrListElems, head) == 0, "a chain is the address of head");
    return static_cast<AttrListElems *>(chain);
}

}  // namespace

// ---- AttrListElem, AttrListRep ----

// The literal's length lives in former padding; the two slots are what an
// element kept without a tree needs.
static_assert(sizeof(void *) != 8 || sizeof(AttrListElem) == 64, "AttrListElem grew");

// Every member not named below has its default (attr_list.h).
AttrListElem::AttrListElem(ExprTree *t)
    : name(static_cast<VariableBase *>(t->LArg())->Name()), tree_(t) {
    noteLiteral_(tree_);
}

AttrListElem::AttrListElem(const LiteralAssignment &a, uint32_t hash)
    : literalKind(a.kind == LX_BOOL ? LX_INTEGER : a.kind),
      builtKind_(static_cast<uint8_t>(a.kind)) {
    ExprTree::HoldStringSpace();
    slots_.name = ExprTree::InternHashed(a.name, hash, name);
    switch (a.kind) {
        case LX_FLOAT:
            literalFloat = a.floatValue;
            break;
        case LX_STRING:
            slots_.text = ExprTree::Intern(a.text, literalText);
            literalLength = static_cast<unsigned>(strlen(literalText));
            break;
        default:
            literalInt = a.intValue;
            break;
    }
}

AttrListElem::AttrListElem(SharedParse *shared)
    : name(static_cast<VariableBase *>(shared->tree->LArg())->Name()),
      builtKind_(LX_EXPR),
      shared_(shared) {
    noteLiteral_(shared->tree);
}

AttrListElem::AttrListElem(const char *text, const KnownAssignment &known) : builtKind_(LX_ASSIGN) {
    ExprTree::HoldStringSpace();
    slots_.name = ExprTree::InternHashed(known.name, known.nameHash, name);
    slots_.text = ExprTree::InternHashed(text, known.textHash, literalText);
}

AttrListElem *AttrListElem::Copy() const {
    if (tree_ != nullptr) {
        return new (torvel::or_die) AttrListElem(tree_->DeepCopy());
    }
    if (builtKind_ == LX_ASSIGN) {  // the copy keeps the text too
        return new (torvel::or_die) AttrListElem(
            literalText,
            KnownAssignment{name, AttrList::NameHash(name), _torvel_text_hash(literalText, true)});
    }
    if (builtKind_ == LX_EXPR) {
        HoldSharedParse(shared_);
        return new (torvel::or_die) AttrListElem(shared_);
    }
    LiteralAssignment a;
    a.name = name;
    a.nameLength = strlen(name);
    a.kind = static_cast<LexemeType>(builtKind_);
    a.intValue = literalInt;
    a.floatValue = literalFloat;
    a.text = literalText;
    if (a.kind == LX_FLOAT) {
        a.intValue = 0;
    } else if (a.kind != LX_STRING) {
        a.floatValue = 0;
    }
    return new (torvel::or_die) AttrListElem(a, AttrList::NameHash(name, a.nameLength));
}

void *AttrListElem::operator new(size_t size) {
    return classad_node_alloc(size);
}

void *AttrListElem::operator new(size_t size, torvel::OrDie) {
    return classad_node_alloc(size);
}

void AttrListElem::operator delete(void *p, size_t size) {
    classad_node_free(p, size);
}

// The literal node the parser would have built for the value.
ExprTree *AttrListElem::literalNode_() const {
    switch (builtKind_) {
        case LX_INTEGER:
            return new (torvel::or_die) Integer(literalInt);
        case LX_BOOL:
            return new (torvel::or_die) ClassadBoolean(literalInt);
        case LX_FLOAT:
            return new (torvel::or_die) Float(literalFloat);
        case LX_STRING:
            return new (torvel::or_die) String(literalText);
        case LX_UNDEFINED:
            return new (torvel::or_die) Undefined();
        default:
            return new (torvel::or_die) Error();
    }
}

// The tree the parser would have built from the attribute's text.
ExprTree *AttrListElem::buildTree_() const {
    if (builtKind_ == LX_ASSIGN) {
        parseKeptText_();
        if (tree_ != nullptr) {
            return tree_;
        }
    }
    if (builtKind_ == LX_EXPR) {
        tree_ = shared_->tree->DeepCopy();
    } else {
        tree_ = new (torvel::or_die) AssignOp(new (torvel::or_die) Variable(name), literalNode_());
    }
    return tree_;
}

ExprTree *AttrListElem::treeOrShared_() const {
    if (tree_ != nullptr) {
        return tree_;
    }
    if (builtKind_ == LX_ASSIGN) {
        parseKeptText_();
        if (tree_ != nullptr) {
            return tree_;
        }
    }
    return builtKind_ == LX_EXPR ? shared_->tree : nullptr;
}

void AttrListElem::parseKeptText_() const {
    // Elements are only ever made with new, never const: what changes is
    // how the same attribute is held.
    AttrListElem *self = const_cast<AttrListElem *>(this);
    SharedParse *shared = nullptr;
    ExprTree *tree = nullptr;
    if (ParseShared(literalText, shared, tree) != 0 || (shared == nullptr && tree == nullptr)) {
        EXCEPT("An attribute text that parsed before no longer parses: %s", literalText);
    }
    // The parse holds the name and the space now; the element's own
    // holds go (the slots first: shared_ takes their place).
    ExprTree::ReleaseInterned(slots_.text);
    ExprTree::ReleaseInterned(slots_.name);
    self->literalText = nullptr;
    if (shared != nullptr) {
        self->shared_ = shared;
        self->builtKind_ = LX_EXPR;
    } else {
        tree_ = tree;
        self->builtKind_ = LX_NONE;
    }
    self->name = static_cast<VariableBase *>(treeOrShared_()->LArg())->Name();
    ExprTree::ReleaseStringSpace();
}

uint32_t AttrListElem::nameHash_() const {
    if (builtKind_ == LX_ASSIGN) {
        return AttrList::NameHash(name);  // not parsed for this
    }
    ExprTree *tree = treeOrShared_();
    return tree != nullptr ? assigned_name_hash(tree) : AttrList::NameHash(name);
}

// Kept in the element so that a reference reads it without the tree.
void AttrListElem::noteLiteral_(ExprTree *tree) {
    EvalValue value;
    if (!eval_attribute_literal(tree->RArg(), value)) {
        return;
    }
    literalKind = value.type;
    switch (value.type) {
        case LX_FLOAT:
            literalFloat = static_cast<float>(value.r);  // single precision already
            break;
        case LX_STRING:
            literalText = value.s;
            literalLength = static_cast<unsigned>(strlen(value.s));
            break;
        default:
            literalInt = value.i;
            break;
    }
}

// Counted without recursion: trees built by hand may be deeper than the
// stack allows.
long AttrListElem::countEvalSteps_() const {
    const size_t kNodesPerStep = 8;
    const size_t kMostSteps = 65535;
    // A shared parse has the shape the tree will have: it is counted
    // without building one.
    ExprTree *tree = treeOrShared_();
    std::vector<ExprTree *> pending(1, tree != nullptr ? tree : Tree());
    size_t nodes = 0;
    while (!pending.empty()) {
        ExprTree *node = pending.back();
        pending.pop_back();
        nodes++;
        if (node->MyType() == LX_FUNCTION) {
            ListIterator<ExprTree> it(static_cast<Function *>(node)->Arguments());
            for (ExprTree *arg = it.Next(); arg != nullptr; arg = it.Next()) {
                pending.push_back(arg);
            }
            continue;
        }
        for (ExprTree *child : {node->LArg(), node->RArg()}) {
            if (child != nullptr) {
                pending.push_back(child);
            }
        }
    }
    size_t steps = (nodes + kNodesPerStep - 1) / kNodesPerStep;
    evalSteps_ = static_cast<uint16_t>(steps < kMostSteps ? steps : kMostSteps);
    return evalSteps_;
}

AttrListElem::~AttrListElem() {
    delete tree_;
    if (builtKind_ == LX_EXPR) {
        ReleaseSharedParse(shared_);
    } else if (builtKind_ != LX_NONE) {
        ExprTree::ReleaseInterned(slots_.text);
        ExprTree::ReleaseInterned(slots_.name);
        ExprTree::ReleaseStringSpace();
    }
}

AttrListRep::AttrListRep(AttrList *list, AttrListList *in)
    : AttrListAbstract(ATTRLISTREP), attrList(list), nextRep(nullptr) {
    inList = in;
}

// ---- construction ----

AttrList::AttrList()
    : AttrListAbstract(ATTRLISTENTITY),
      associatedList(nullptr),
      ptrExpr(nullptr),
      ptrExprInChain(false),
      ptrName(nullptr),
      ptrNameInChain(false),
      seq(0),
      inside_insert(false),
      chainedAttrs(nullptr) {}

AttrList::AttrList(AttrListList *associated) : AttrList() {
    if (associated != nullptr) {
        joinAssociated_(associated);
    }
}

AttrList::AttrList(const AttrList &other) : AttrList() {
    copyElements_(other);
    chainedAttrs = other.chainedAttrs;
    seq = other.seq;
    if (other.associatedList != nullptr) {
        joinAssociated_(other.associatedList);
    }
}

AttrList &AttrList::operator=(const AttrList &other) {
    if (this == &other) {
        return *this;
    }
    clear();
    leaveAssociated_();
    copyElements_(other);
    chainedAttrs = other.chainedAttrs;
    seq = other.seq;
    if (other.associatedList != nullptr) {
        joinAssociated_(other.associatedList);
    }
    return *this;
}

AttrList::~AttrList() {
    clear();
    leaveAllLists_();
}

void AttrList::joinAssociated_(AttrListList *associated) {
    associatedList = associated;
    if (associated->associatedAttrLists == nullptr) {
        associated->associatedAttrLists = new (torvel::or_die) AttrListList;
    }
    associated->associatedAttrLists->Insert(this);
}

void AttrList::leaveAssociated_() {
    if (associatedList != nullptr && associatedList->associatedAttrLists != nullptr) {
        associatedList->associatedAttrLists->detach_(this);
    }
    associatedList = nullptr;
}

void AttrList::leaveAllLists_() {
    if (inList != nullptr) {
        inList->detach_(this);
    }
    // A represented list: each detach_ removes the first representative.
    while (inList == nullptr && next != nullptr) {
        AttrListRep *rep = static_cast<AttrListRep *>(next);
        if (!rep->inList->detach_(this)) {
            break;  // cannot happen: every representative is in its list
        }
    }
}

void AttrList::copyElements_(const AttrList &other) {
    for (AttrListElem *e = other.elems_.head; e != nullptr; e = e->next) {
        append_(e->Copy());
    }
}

void AttrList::exchange_(AttrList &other) {
    auto swap = [](auto &a, auto &b) {
        auto t = a;
        a = b;
        b = t;
    };
    // A child chained to either list sees the elements that list now holds,
    // with their index.
    dropWireText_();
    other.dropWireText_();
    swap(elems_.head, other.elems_.head);
    swap(elems_.tail, other.elems_.tail);
    elems_.index.swap(other.elems_.index);
    swap(ptrExpr, other.ptrExpr);
    swap(ptrExprInChain, other.ptrExprInChain);
    swap(ptrName, other.ptrName);
    swap(ptrNameInChain, other.ptrNameInChain);
    swap(seq, other.seq);
    // The associated lists stay: each list remains a member of the
    // collection its associated list points at, so neither can be left
    // pointing at a collection that may go before it.
}

// ---- changing attributes ----

bool AttrList::Insert(const char *text, bool replace) {
    LiteralAssignment literal;
    if (text != nullptr && ScanLiteralAssignment(text, literal)) {
        Insert(literal, replace);  // most attributes: no tree until asked
        return true;
    }
    ExprTree *tree = nullptr;
    SharedParse *shared = nullptr;
    KnownAssignment known;
    if (text == nullptr || ParseShared(text, shared, tree, &known) != 0) {
        delete tree;
        return false;
    }
    if (known.name != nullptr) {  // parsed before: kept as text until asked for
        Insert(text, known, replace);
        return true;
    }
    if (shared != nullptr) {
        if (Insert(shared, replace)) {
            return true;
        }
        ReleaseSharedParse(shared);
        return false;
    }
    if (tree == nullptr || !Insert(tree, replace)) {
        delete tree;
        return false;
    }
    return true;
}

void AttrList::Insert(const char *text, const KnownAssignment &known, bool replace) {
    insert_(new (torvel::or_die) AttrListElem(text, known), known.nameHash, replace);
}

bool AttrList::Insert(SharedParse *shared, bool replace) {
    if (!is_assignment(shared->tree)) {
        return false;
    }
    const uint32_t hash = assigned_name_hash(shared->tree);
    insert_(new (torvel::or_die) AttrListElem(shared), hash, replace);
    return true;
}

bool AttrList::Insert(ExprTree *tree, bool replace) {
    if (!is_assignment(tree)) {
        return false;
    }
    insert_(new (torvel::or_die) AttrListElem(tree), assigned_name_hash(tree), replace);
    return true;
}

namespace {

// How many attributes the last ad read had: most ads of a program are
// alike. Bounded, so that one huge ad does not size every later one.
uint32_t last_read_size = 0;
const uint32_t kLargestReadHint = 1024;

}  // namespace

void AttrList::StartRead() {
    elems_.index.reserveToRead(last_read_size);
}

void AttrList::EndRead() {
    uint32_t size = elems_.index.size();
    if (size > 0) {  // an empty read (the end of a file) tells nothing
        last_read_size = size < kLargestReadHint ? size : kLargestReadHint;
    }
    // A read ad is mostly looked up from now on: its index is kept small.
    elems_.index.compact();
}

void AttrList::Insert(const LiteralAssignment &literal, bool replace) {
    const uint32_t hash = NameHash(literal.name, literal.nameLength);
    insert_(new (torvel::or_die) AttrListElem(literal, hash), hash, replace);
}

void AttrList::insert_(AttrListElem *elem, uint32_t hash, bool replace) {
    inside_insert = true;
    elem->dirty = true;
    if (replace && !deleteOwn_(elem->name, hash)) {
        // No attribute of the name: indexed without looking again.
        link_(elem);
        elems_.index.insert(hash, elem);
    } else {
        append_(elem, hash);
    }
    inside_insert = false;
}

void AttrList::append_(AttrListElem *elem) {
    append_(elem, elem->nameHash_());
}

void AttrList::link_(AttrListElem *elem) {
    dropWireText_();
    elem->prev = elems_.tail;
    elem->next = nullptr;
    (elems_.tail != nullptr ? elems_.tail->next : elems_.head) = elem;
    elems_.tail = elem;
}

void AttrList::append_(AttrListElem *elem, uint32_t hash) {
    link_(elem);
    AttrListElem *first = find_(elems_, elem->name, hash);
    if (first != nullptr) {
        first->shadowed++;  // appended behind an attribute of the same name
    } else {
        elems_.index.insert(hash, elem);
    }
}

bool AttrList::Delete(const char *name) {
    if (name == nullptr) {
        return false;
    }
    bool done = deleteOwn_(name);
    if (chainedAttrs != nullptr && !inside_insert &&
        find_(*chainedAttrs, name, NameHash(name)) != nullptr) {
        // Mask the parent's value. Built as a tree, not parsed, so that any
        // name the parent could hold can be masked.
        if (Insert(new (torvel::or_die) AssignOp(new (torvel::or_die) Variable(name),
                                                 new (torvel::or_die) Undefined()),
                   true)) {
            done = true;
        }
    }
    return done;
}

bool AttrList::deleteOwn_(const char *name) {
    return deleteOwn_(name, NameHash(name));
}

bool AttrList::deleteOwn_(const char *name, uint32_t hash) {
    auto matches = [name](AttrListElem *candidate) { return sameName_(candidate->name, name); };
    AttrListElem **indexed = elems_.index.find(hash, matches);
    if (indexed == nullptr) {
        return false;
    }
    AttrListElem *e = *indexed;
    if (e->shadowed > 0) {
        // The next element of that name comes to light. The walk only
        // happens for names inserted without replacement.
        AttrListElem *successor = e->next;
        while (!sameName_(successor->name, e->name)) {
            successor = successor->next;
        }
        successor->shadowed = e->shadowed - 1;
        *indexed = successor;
    } else {
        elems_.index.erase(hash, [e](AttrListElem *candidate) { return candidate == e; });
    }
    dropWireText_();
    (e->prev != nullptr ? e->prev->next : elems_.head) = e->next;
    (e->next != nullptr ? e->next->prev : elems_.tail) = e->prev;
    if (ptrExpr == e && !ptrExprInChain) {
        ptrExpr = e->next;
    }
    if (ptrName == e && !ptrNameInChain) {
        ptrName = e->next;
    }
    delete e;
    return true;
}

void AttrList::clear() {
    dropWireText_();
    chainedAttrs = nullptr;
    while (elems_.head != nullptr) {
        AttrListElem *next_elem = elems_.head->next;
        delete elems_.head;
        elems_.head = next_elem;
    }
    elems_.tail = nullptr;
    elems_.index.clear();
    ptrExpr = nullptr;
    ptrExprInChain = false;
    ptrName = nullptr;
    ptrNameInChain = false;
}

// ---- lookup ----

AttrListElem *AttrList::LookupElem(const char *name) const {
    return name != nullptr ? LookupElem(name, NameHash(name)) : nullptr;
}

ExprTree *AttrList::Lookup(const char *name) const {
    AttrListElem *e = LookupElem(name);
    return e != nullptr ? e->Tree() : nullptr;
}

ExprTree *AttrList::Lookup(const ExprTree *variable) const {
    if (variable == nullptr || variable->MyType() != LX_VARIABLE) {
        return nullptr;
    }
    return Lookup(static_cast<const VariableBase *>(variable)->Name());
}

void AttrList::GetReferences(const char *name, StringList &internal, StringList &external) const {
    ExprTree *tree = Lookup(name);
    if (tree != nullptr) {
        tree->GetReferences(this, internal, external);
    }
}

bool AttrList::IsExternalReference(const char *name, char **out) const {
    if (name == nullptr) {
        return false;
    }
    const char *dot = strchr(name, '.');
    bool external;
    const char *referred = name;
    if (dot != nullptr) {
        external = dot - name == 6 && strncasecmp(name, "TARGET", 6) == 0;
        referred = dot + 1;
    } else {
        external = Lookup(name) == nullptr;
    }
    if (out != nullptr) {
        *out = strdup(referred);
    }
    return external;
}

// ---- dirty flags (own attributes only) ----

void AttrList::SetDirtyFlag(const char *name, bool dirty) {
    AttrListElem *e = name != nullptr ? find_(elems_, name, NameHash(name)) : nullptr;
    if (e != nullptr) {
        e->dirty = dirty;
    }
}

void AttrList::GetDirtyFlag(const char *name, bool *exists, bool *dirty) const {
    AttrListElem *e = name != nullptr ? find_(elems_, name, NameHash(name)) : nullptr;
    if (exists != nullptr) {
        *exists = e != nullptr;
    }
    if (e != nullptr && dirty != nullptr) {
        *dirty = e->dirty;
    }
}

void AttrList::ClearAllDirtyFlags() {
    for (AttrListElem *e = elems_.head; e != nullptr; e = e->next) {
        e->dirty = false;
    }
}

// ---- iteration ----

AttrListElem *AttrList::nextElem_(AttrListElem *&cursor, bool &inChain) {
    if (cursor == nullptr && !inChain && chainedAttrs != nullptr) {
        inChain = true;
        cursor = chainedAttrs->head;
    }
    AttrListElem *e = cursor;
    if (e != nullptr) {
        cursor = e->next;
    }
    return e;
}

void AttrList::ResetExpr() {
    ptrExpr = elems_.head;
    ptrExprInChain = false;
}

ExprTree *AttrList::NextExpr() {
    AttrListElem *e = nextElem_(ptrExpr, ptrExprInChain);
    return e != nullptr ? e->Tree() : nullptr;
}

ExprTree *AttrList::NextDirtyExpr() {
    if (ptrExprInChain) {
        return nullptr;
    }
    while (ptrExpr != nullptr && !ptrExpr->dirty) {
        ptrExpr = ptrExpr->next;
    }
    if (ptrExpr == nullptr) {
        return nullptr;
    }
    AttrListElem *e = ptrExpr;
    ptrExpr = e->next;
    return e->Tree();
}

void AttrList::ResetName() {
    ptrName = elems_.head;
    ptrNameInChain = false;
}

const char *AttrList::NextNameOriginal() {
    AttrListElem *e = nextElem_(ptrName, ptrNameInChain);
    return e != nullptr ? e->name : nullptr;
}

char *AttrList::NextName() {
    const char *name = NextNameOriginal();
    return name != nullptr ? strnewp(name) : nullptr;
}

char *AttrList::NextDirtyName() {
    if (ptrNameInChain) {
        return nullptr;
    }
    while (ptrName != nullptr && !ptrName->dirty) {
        ptrName = ptrName->next;
    }
    if (ptrName == nullptr) {
        return nullptr;
    }
    AttrListElem *e = ptrName;
    ptrName = e->next;
    return strnewp(e->name);
}

// ---- chaining ----

void AttrList::ChainToAd(AttrList *parent) {
    if (parent != nullptr) {
        chainedAttrs = &parent->elems_;
    }
}

AttrListElem **AttrList::unchain() {
    AttrListElem **chain = chainedAttrs != nullptr ? &chainedAttrs->head : nullptr;
    chainedAttrs = nullptr;
    return chain;
}

void AttrList::RestoreChain(void *chain) {
    chainedAttrs = elems_of(chain);
}

void AttrList::ChainCollapse(bool copy) {
    if (chainedAttrs == nullptr) {
        return;
    }
    AttrListElem *parent = *unchain();
    for (AttrListElem *e = parent; e != nullptr; e = e->next) {
        if (find_(elems_, e->name, NameHash(e->name)) != nullptr) {
            continue;
        }
        Insert(copy ? e->Tree()->DeepCopy() : e->Tree(), false);
    }
}

// ---- membership ----

bool AttrList::IsInList(AttrListList *list) const {
    if (list == nullptr) {
        return false;
    }
    if (inList != nullptr) {
        return inList == list;
    }
    for (AttrListRep *rep = static_cast<AttrListRep *>(next); rep != nullptr; rep = rep->nextRep) {
        if (rep->inList == list) {
            return true;
        }
    }
    return false;
}
