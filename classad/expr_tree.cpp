// Expression-tree nodes: construction with interning, destruction without
// recursion, deep copies, the exact printed text and its length, the debug
// display with its parenthesisation, attribute references and structural
// equality. Evaluation lives beside the evaluator.
//
// Printing computes the exact length first, then writes every node at the
// end of the text so far (printAt_), so a tree prints in one pass and one
// allocation. Both carry whether an operator follows the node, which only
// a negative integer cares about (see format_int). Numbers are formatted
// by hand (literal_text.h), as "%d" and "%f" print in the "C" locale
// whatever the process locale, so the printed text always reads back.
#include "classad/expr_tree.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <array>

#include "classad/attr_list.h"
#include "classad/eval_value.h"
#include "classad/literal_text.h"
#include "classad/node_pool.h"
#include "classad/parse_cache.h"
#include "core/allocation.h"
#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "core/string_space.h"
#include "core/text_index.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

StringSpace *ExprTree::string_space = nullptr;
int ExprTree::string_space_references = 0;

namespace {

// The space of the last node to go, emptied, kept for the next first node:
// a program that parses one expression at a time would otherwise build and
// tear down a space for each. Reachable for the whole run.
StringSpace *spare_space = nullptr;

// Sets of texts InternHashed remembers: a power of two, a few times the
// names and values of an ad.
const uint32_t kRecentTexts = 512;

const int kDisplayFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
const int kNumberBufferSize = literal_text::kNumberRoom;

int format_float(char *buf, float v) {
    return literal_text::FormatFloat(buf, v);
}

int format_int(char *buf, int v, bool followed) {
    return literal_text::FormatInt(buf, v, followed);
}

char *put_text(char *end, const char *text, size_t n) {
    memcpy(end, text, n);
    return end + n;
}

char *put_text(char *end, const char *text) {
    return put_text(end, text, strlen(text));
}

void display_text(const char *text) {
    dprintf(kDisplayFlags, "%s", text);
}

bool kind_between(LexemeType kind, LexemeType low, LexemeType high) {
    return kind >= low && kind <= high;
}

// Whether Display wraps an operand of kind `operand` of a node of kind `op`
// in parentheses; `left` says which side the operand is on.
bool display_wraps(LexemeType op, LexemeType operand, bool left) {
    switch (op) {
        case LX_SUB:
            return !left && (operand == LX_ADD || operand == LX_SUB);
        case LX_MULT:
            return operand == LX_ADD || operand == LX_SUB;
        case LX_DIV:
            if (left) {
                return operand == LX_ADD || operand == LX_SUB || operand == LX_DIV;
            }
            return kind_between(operand, LX_ADD, LX_DIV);
        case LX_EQ:
        case LX_NEQ:
        case LX_LT:
        case LX_LE:
        case LX_GT:
        case LX_GE:
        case LX_META_EQ:
        case LX_META_NEQ:
            return kind_between(operand, LX_EQ, LX_GE);
        case LX_AND:
            return operand == LX_OR || kind_between(operand, LX_EQ, LX_DIV);
        case LX_OR:
            return operand == LX_AND || kind_between(operand, LX_EQ, LX_DIV);
        default:
            return false;
    }
}

void display_operand(ExprTree *operand, LexemeType op, bool left) {
    if (operand == nullptr) {
        return;
    }
    bool wrap = display_wraps(op, operand->MyType(), left);
    if (wrap) {
        display_text("(");
    }
    operand->Display();
    if (wrap) {
        display_text(")");
    }
}

// Whether a and b are equal as StringList's case-blind membership compares
// them: ASCII letters without regard to case, every other byte exactly.
bool same_name(const char *a, const char *b) {
    for (;; a++, b++) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) {
            return false;
        }
        if (x == '\0') {
            return true;
        }
    }
}

// The names the two lists of a GetReferences walk hold, indexed, so that
// recording a name costs a lookup instead of a pass over the list. The
// outermost GetReferences call makes the walk from what the lists already
// hold; the calls it makes down the tree join it. The index borrows the
// texts: the lists' entries and the names in the tree, which all outlive
// the walk. One walk at a time.
class ReferenceWalk {
 public:
    ReferenceWalk(StringList &internal, StringList &external) : outer_(current_) {
        if (current_ != nullptr && current_->internal_ == &internal &&
            current_->external_ == &external) {
            return;  // a node below the walk's root: join it
        }
        internal_ = &internal;
        external_ = &external;
        seed(internal, internal_names_);
        seed(external, external_names_);
        current_ = this;
    }
    ~ReferenceWalk() { current_ = outer_; }
    ReferenceWalk(const ReferenceWalk &) = delete;
    ReferenceWalk &operator=(const ReferenceWalk &) = delete;

    // Appends name to list unless the list holds it in any case.
    // REQUIRES: name lives as long as the walk.
    static void add(StringList &list, const char *name) {
        Names *names = current_ != nullptr ? current_->names_of(list) : nullptr;
        if (names == nullptr) {
            if (!list.contains_anycase(name)) {
                list.append(name);
            }
            return;
        }
        uint32_t hash = _torvel_text_hash(name, true);
        auto same = [name](const char *held) { return same_name(held, name); };
        if (names->find(hash, same) == nullptr) {
            names->insert(hash, name);
            list.append(name);
        }
    }

 private:
    using Names = TextIndex<const char *, nullptr>;

    Names *names_of(const StringList &list) {
        if (&list == internal_) {
            return &internal_names_;
        }
        return &list == external_ ? &external_names_ : nullptr;
    }

    static void seed(StringList &list, Names &names) {
        list.rewind();
        for (const char *entry = list.next(); entry != nullptr; entry = list.next()) {
            uint32_t hash = _torvel_text_hash(entry, true);
            if (names.find(hash, [entry](const char *held) { return same_name(held, entry); }) ==
                nullptr) {
                names.insert(hash, entry);
            }
        }
    }

    static ReferenceWalk *current_;
    ReferenceWalk *outer_;
    StringList *internal_ = nullptr;  // null when this joined another walk
    StringList *external_ = nullptr;
    Names internal_names_;
    Names external_names_;
};

ReferenceWalk *ReferenceWalk::current_ = nullptr;

// REQUIRES: name lives as long as the GetReferences walk.
void add_reference(StringList &list, const char *name) {
    ReferenceWalk::add(list, name);
}

// Hands child to pending, or deletes it at once when it has no children of
// its own to hand on (a literal or a reference).
void release_child(ExprTree *child, ExtArray<ExprTree *> &pending) {
    if (child == nullptr) {
        return;
    }
    LexemeType kind = child->MyType();
    if (kind == LX_FUNCTION || (kind >= LX_ASSIGN && kind <= LX_DIV)) {
        pending.add(child);
    } else {
        delete child;
    }
}

bool is_group(LexemeType kind, const ExprTree *left) {
    return kind == LX_ADD && left == nullptr;
}

// Resolves the prefixes of a reference once, as evaluation would at every
// use: split at the first "."; an empty prefix ends the walk with the rest
// as the name, "MY" restricts, "TARGET" exchanges the ads and restricts, and
// the rest is resolved again, so prefixes stack.
Variable::Scope resolve_scope(const char *ref) {
    Variable::Scope scope = {ref, 0, false, false, false, false};
    for (;;) {
        const char *dot = strchr(ref, '.');
        if (dot == nullptr) {
            scope.name = ref;
            break;
        }
        size_t prefix = static_cast<size_t>(dot - ref);
        if (prefix == 2 && strncasecmp(ref, "MY", 2) == 0) {
            scope.restricted = true;
        } else if (prefix == 6 && strncasecmp(ref, "TARGET", 6) == 0) {
            scope.exchanged = !scope.exchanged;
            scope.restricted = true;
        } else {
            scope.name = dot + 1;
            scope.unknown_prefix = prefix != 0;
            break;
        }
        ref = dot + 1;
    }
    scope.current_time = strcmp(scope.name, "CurrentTime") == 0;
    return scope;
}

}  // namespace

// ---- ExprTree ----

static_assert(sizeof(ExprTree) == 16, "the compiled form's number fits in the padding");

ExprTree::ExprTree(LexemeType kind) : type(kind), evalFlag(false), programHigh_(0), programLow_(0) {
    HoldStringSpace();
}

ExprTree::~ExprTree() {
    EvalMark::forgetProgram(this);
    ReleaseStringSpace();
}

void ExprTree::HoldStringSpace() {
    if (string_space_references++ == 0) {
        string_space =
            spare_space != nullptr ? spare_space : new (torvel::or_die) StringSpace(256, true);
        spare_space = nullptr;
    }
}

void ExprTree::ReleaseStringSpace() {
    if (string_space_references > 1 && string_space_references - 1 == RepeatedParseReferences()) {
        // Only the kept parses would hold the space: they go first, and
        // with them (their last node) the space.
        ForgetRepeatedParses();
    }
    if (--string_space_references == 0) {
        // Every holder has released its texts by now; a space that still
        // holds some was used by others and goes.
        if (string_space->numberOfStrings() == 0 && spare_space == nullptr) {
            spare_space = string_space;
        } else {
            delete string_space;
        }
        string_space = nullptr;
    }
}

void *ExprTree::operator new(size_t size) {
    return classad_node_alloc(size);
}

void *ExprTree::operator new(size_t size, torvel::OrDie) {
    return classad_node_alloc(size);
}

void ExprTree::operator delete(void *p, size_t size) {
    classad_node_free(p, size);
}

ExprTree &ExprTree::operator=(const ExprTree &other) {
    // Compiled forms were made for the old kind: this node's own, and, when
    // it is an operand, that of whichever tree holds it.
    EvalMark::forgetProgram(this);
    if (EvalMark::isOperand(this) && type != other.type) {
        eval_programs_outdated();
    }
    type = other.type;
    evalFlag = other.evalFlag;
    return *this;
}

void ExprTree::CopyBaseExprTree(ExprTree *target) const {
    if (target != nullptr) {
        *target = *this;
    }
}

int ExprTree::intern_(const char *text, const char *&canonical) {
    text = text != nullptr ? text : "";
    return internHashed_(text, _torvel_text_hash(text, true), canonical);
}

int ExprTree::internHashed_(const char *text, uint32_t hash, const char *&canonical) {
    char *copy = const_cast<char *>(text);
    // ADOPT_DUPLICATE never changes or keeps the caller's pointer.
    int slot = string_space->getCanonicalHashed(copy, hash, ADOPT_DUPLICATE);
    canonical = slot >= 0 ? string_space->textOf(slot) : "";
    return slot;
}

int ExprTree::Intern(const char *text, const char *&canonical) {
    text = text != nullptr ? text : "";
    return InternHashed(text, _torvel_text_hash(text, true), canonical);
}

int ExprTree::InternHashed(const char *text, uint32_t hash, const char *&canonical) {
    // Two ways per set, the newer first, so that two texts of one set do
    // not push each other out. An entry's slot is held only while it still
    // holds that very text (compared by address), and only then is the
    // text read, to confirm it.
    struct Recent {
        int slot;
        const char *text;
    };
    static Recent recent[kRecentTexts][2];
    Recent *set = recent[hash & (kRecentTexts - 1)];
    for (int way = 0; way < 2; way++) {
        const Recent &entry = set[way];
        if (entry.text != nullptr && string_space->holdByIndex(entry.slot, entry.text)) {
            if (strcmp(entry.text, text) == 0) {
                canonical = entry.text;
                return entry.slot;
            }
            string_space->disposeByIndex(entry.slot);  // the reference just taken
        }
    }
    int slot = internHashed_(text, hash, canonical);
    set[1] = set[0];
    set[0] = {slot, slot >= 0 ? canonical : nullptr};
    return slot;
}

void ExprTree::releaseInterned_(int slot) {
    if (slot >= 0 && string_space != nullptr) {
        string_space->disposeByIndex(slot);
    }
}

void ExprTree::disposeTree_(ExprTree *tree) {
    // Subtrees waiting to be deleted. Kept for the life of the process (it
    // is reachable, never leaked) so that destroying small trees allocates
    // nothing.
    static ExtArray<ExprTree *> *pending = nullptr;
    static bool draining = false;
    if (tree == nullptr) {
        return;
    }
    if (pending == nullptr) {
        pending = new (torvel::or_die) ExtArray<ExprTree *>(64);
    }
    pending->add(tree);
    if (draining) {
        return;
    }
    draining = true;
    while (pending->getlast() >= 0) {
        int top = pending->getlast();
        ExprTree *node = (*pending)[top];
        pending->truncate(top - 1);
        node->releaseChildren_(*pending);
        delete node;
    }
    draining = false;
}

bool ExprTree::operator==(ExprTree &) {
    return false;
}
bool ExprTree::operator>(ExprTree &) {
    return false;
}
bool ExprTree::operator>=(ExprTree &) {
    return false;
}
bool ExprTree::operator<(ExprTree &) {
    return false;
}
bool ExprTree::operator<=(ExprTree &) {
    return false;
}

int ExprTree::CalcPrintToStr() {
    return lengthOf_(false);
}

void ExprTree::PrintToNewStr(char **out) {
    int expected = CalcPrintToStr();
    char *buffer = static_cast<char *>(malloc(expected + 1));
    char *end = printAt_(buffer, false);
    *end = '\0';
    int got = static_cast<int>(end - buffer);
    if (got != expected) {
        EXCEPT("Bad length calculation in class ads. Expected %d, got %d (\"%s\"", expected, got,
               buffer);
    }
    *out = buffer;
}

void ExprTree::PrintToStr(char *buffer) {
    char *end = printAt_(buffer + strlen(buffer), false);
    *end = '\0';
}

void ExprTree::PrintToStr(MyString &out) {
    char *text = nullptr;
    PrintToNewStr(&text);
    out = text;
    free(text);
}

void ExprTree::GetReferences(const AttrList *, StringList &, StringList &) const {}

// ---- Variable ----

Variable::Variable(const char *n) : ExprTree(LX_VARIABLE), name(nullptr) {
    if (n != nullptr && strchr(n, '.') == nullptr) {
        // A plain name, the usual case: its own scope, hashed once.
        uint32_t hash = AttrList::NameHash(n);
        stringSpaceIndex = InternHashed(n, hash, name);
        scope_ = resolve_scope(name);
        scope_.hash = hash;
        scopeSlot_ = -1;
        return;
    }
    stringSpaceIndex = intern_(n, name);
    scope_ = resolve_scope(name);
    // The name after the prefixes is interned too, so attribute lists can
    // find it by its canonical pointer as they find an unprefixed name.
    scopeSlot_ = -1;
    if (scope_.name != name) {
        scopeSlot_ = intern_(scope_.name, scope_.name);
    }
    scope_.hash = AttrList::NameHash(scope_.name);
}

Variable::~Variable() {
    releaseInterned_(scopeSlot_);
    releaseInterned_(stringSpaceIndex);
}

bool Variable::operator==(ExprTree &other) {
    return other.MyType() == LX_VARIABLE && strcmp(name, static_cast<Variable &>(other).name) == 0;
}

void Variable::GetReferences(const AttrList *ad, StringList &internal, StringList &external) const {
    ReferenceWalk walk(internal, external);
    const char *dot = strchr(name, '.');
    if (dot != nullptr) {
        bool is_target = dot - name == 6 && strncasecmp(name, "TARGET", 6) == 0;
        add_reference(is_target ? external : internal, dot + 1);
        return;
    }
    if (ad == nullptr) {
        add_reference(external, name);  // no ad holds anything
        return;
    }
    // Without a dot the name is recorded whole: the walk keeps our own text.
    bool is_external = ad->IsExternalReference(name, nullptr);
    add_reference(is_external ? external : internal, name);
}

// Nothing is hashed or looked up again: the slots this node holds are held
// once more (a slot that cannot be is interned afresh).
Variable::Variable(const Variable &other)
    : ExprTree(LX_VARIABLE),
      name(other.name),
      stringSpaceIndex(other.stringSpaceIndex),
      scope_(other.scope_),
      scopeSlot_(other.scopeSlot_) {
    if (!string_space->holdByIndex(stringSpaceIndex, name)) {
        stringSpaceIndex = intern_(other.name, name);
    }
    if (scopeSlot_ >= 0 && !string_space->holdByIndex(scopeSlot_, scope_.name)) {
        scopeSlot_ = intern_(other.scope_.name, scope_.name);
    }
}

ExprTree *Variable::DeepCopy() const {
    Variable *copy = new (torvel::or_die) Variable(*this);
    CopyBaseExprTree(copy);
    return copy;
}

void Variable::Display() {
    display_text(name);
}
int Variable::lengthOf_(bool) {
    return static_cast<int>(strlen(name));
}
char *Variable::printAt_(char *end, bool) {
    return put_text(end, name);
}

// ---- Integer ----

bool Integer::operator==(ExprTree &other) {
    return other.MyType() == LX_INTEGER && static_cast<Integer &>(other).value == value;
}

ExprTree *Integer::DeepCopy() const {
    Integer *copy = new (torvel::or_die) Integer(value);
    CopyBaseExprTree(copy);
    return copy;
}

void Integer::Display() {
    dprintf(kDisplayFlags, "%d", value);
}

int Integer::lengthOf_(bool followed) {
    char scratch[kNumberBufferSize];
    return format_int(scratch, value, followed);
}

char *Integer::printAt_(char *end, bool followed) {
    char scratch[kNumberBufferSize];
    return put_text(end, scratch, format_int(scratch, value, followed));
}

// ---- Float ----

bool Float::operator==(ExprTree &other) {
    return other.MyType() == LX_FLOAT && static_cast<Float &>(other).value == value;
}

ExprTree *Float::DeepCopy() const {
    Float *copy = new (torvel::or_die) Float(value);
    CopyBaseExprTree(copy);
    return copy;
}

void Float::Display() {
    char scratch[kNumberBufferSize];
    scratch[format_float(scratch, value)] = '\0';
    display_text(scratch);
}

int Float::lengthOf_(bool) {
    char scratch[kNumberBufferSize];
    return format_float(scratch, value);
}

char *Float::printAt_(char *end, bool) {
    char scratch[kNumberBufferSize];
    return put_text(end, scratch, format_float(scratch, value));
}

// ---- String ----

String::String(const char *text) : ExprTree(LX_STRING), value(nullptr) {
    stringSpaceIndex = Intern(text, value);
}

String::~String() {
    releaseInterned_(stringSpaceIndex);
}

bool String::operator==(ExprTree &other) {
    return other.MyType() == LX_STRING && strcmp(value, static_cast<String &>(other).value) == 0;
}

ExprTree *String::DeepCopy() const {
    String *copy = new (torvel::or_die) String(value);
    CopyBaseExprTree(copy);
    return copy;
}

void String::Display() {
    dprintf(kDisplayFlags, "\"%s\"", value);
}

int String::lengthOf_(bool) {
    return static_cast<int>(literal_text::QuotedLength(value));
}

char *String::printAt_(char *end, bool) {
    return literal_text::PrintQuoted(end, value);
}

// ---- ISOTime ----

ISOTime::ISOTime(const char *text) : ExprTree(LX_TIME), time(nullptr) {
    stringSpaceIndex = intern_(text, time);
}

ISOTime::~ISOTime() {
    releaseInterned_(stringSpaceIndex);
}

bool ISOTime::operator==(ExprTree &other) {
    return other.MyType() == LX_TIME && strcmp(time, static_cast<ISOTime &>(other).time) == 0;
}

ExprTree *ISOTime::DeepCopy() const {
    ISOTime *copy = new (torvel::or_die) ISOTime(time);
    CopyBaseExprTree(copy);
    return copy;
}

void ISOTime::Display() {
    dprintf(kDisplayFlags, "\"%s\"", time);
}
int ISOTime::lengthOf_(bool) {
    return static_cast<int>(strlen(time)) + 2;
}

char *ISOTime::printAt_(char *end, bool) {
    *end++ = '\'';
    end = put_text(end, time);
    *end++ = '\'';
    return end;
}

// ---- ClassadBoolean, Undefined, Error ----

bool ClassadBoolean::operator==(ExprTree &other) {
    return other.MyType() == LX_BOOL && static_cast<ClassadBoolean &>(other).value == value;
}

ExprTree *ClassadBoolean::DeepCopy() const {
    ClassadBoolean *copy = new (torvel::or_die) ClassadBoolean(value);
    CopyBaseExprTree(copy);
    return copy;
}

void ClassadBoolean::Display() {
    display_text(value ? "TRUE" : "FALSE");
}
int ClassadBoolean::lengthOf_(bool) {
    return value ? 4 : 5;
}
char *ClassadBoolean::printAt_(char *end, bool) {
    return put_text(end, value ? "TRUE" : "FALSE");
}

bool Undefined::operator==(ExprTree &other) {
    return other.MyType() == LX_UNDEFINED;
}

ExprTree *Undefined::DeepCopy() const {
    Undefined *copy = new (torvel::or_die) Undefined();
    CopyBaseExprTree(copy);
    return copy;
}

void Undefined::Display() {
    display_text("UNDEFINED");
}
int Undefined::lengthOf_(bool) {
    return 9;
}
char *Undefined::printAt_(char *end, bool) {
    return put_text(end, "UNDEFINED");
}

bool Error::operator==(ExprTree &other) {
    return other.MyType() == LX_ERROR;
}

ExprTree *Error::DeepCopy() const {
    Error *copy = new (torvel::or_die) Error();
    CopyBaseExprTree(copy);
    return copy;
}

void Error::Display() {
    display_text("ERROR");
}
int Error::lengthOf_(bool) {
    return 5;
}
char *Error::printAt_(char *end, bool) {
    return put_text(end, "ERROR");
}

// ---- binary operators ----

const char *BinaryOpBase::OperatorText(LexemeType kind) {
    switch (kind) {
        case LX_ADD:
            return " + ";
        case LX_SUB:
            return " - ";
        case LX_MULT:
            return " * ";
        case LX_DIV:
            return " / ";
        case LX_META_EQ:
            return " =?= ";
        case LX_META_NEQ:
            return " =!= ";
        case LX_EQ:
            return " == ";
        case LX_NEQ:
            return " != ";
        case LX_GT:
            return " > ";
        case LX_GE:
            return " >= ";
        case LX_LT:
            return " < ";
        case LX_LE:
            return " <= ";
        case LX_AND:
            return " && ";
        case LX_OR:
            return " || ";
        case LX_ASSIGN:
            return " = ";
        default:
            return "";
    }
}

BinaryOpBase::~BinaryOpBase() {
    disposeTree_(lArg);
    disposeTree_(rArg);
}

void BinaryOpBase::releaseChildren_(ExtArray<ExprTree *> &pending) {
    release_child(lArg, pending);
    release_child(rArg, pending);
    lArg = nullptr;
    rArg = nullptr;
}

bool BinaryOpBase::operator==(ExprTree &other) {
    if (other.MyType() != type) {
        return false;
    }
    ExprTree *ol = other.LArg();
    ExprTree *orr = other.RArg();
    bool left_equal = lArg == nullptr ? ol == nullptr : (ol != nullptr && *lArg == *ol);
    if (!left_equal) {
        return false;
    }
    return rArg == nullptr ? orr == nullptr : (orr != nullptr && *rArg == *orr);
}

namespace {

// The length of OperatorText(kind), measured once for every kind.
int operator_length(LexemeType kind) {
    static const auto lengths = [] {
        std::array<uint8_t, LX_NONE + 1> measured{};
        for (int k = 0; k <= LX_NONE; k++) {
            measured[k] = static_cast<uint8_t>(strlen(BinaryOpBase::OperatorText(LexemeType(k))));
        }
        return measured;
    }();
    return lengths[kind];
}

}  // namespace

// The left operand is followed by this node's operator, except for "=",
// which ends an expression as far as a unary minus is concerned.
int BinaryOpBase::lengthOf_(bool followed) {
    if (is_group(type, lArg)) {
        return (rArg != nullptr ? rArg->lengthOf_(false) : 0) + 2;
    }
    int left = lArg != nullptr ? lArg->lengthOf_(type != LX_ASSIGN) : 0;
    int right = rArg != nullptr ? rArg->lengthOf_(followed) : 0;
    return left + operator_length(type) + right;
}

char *BinaryOpBase::printAt_(char *end, bool followed) {
    if (is_group(type, lArg)) {
        *end++ = '(';
        if (rArg != nullptr) {
            end = rArg->printAt_(end, false);
        }
        *end++ = ')';
        return end;
    }
    if (lArg != nullptr) {
        end = lArg->printAt_(end, type != LX_ASSIGN);
    }
    end = put_text(end, OperatorText(type));
    if (rArg != nullptr) {
        end = rArg->printAt_(end, followed);
    }
    return end;
}

void BinaryOpBase::Display() {
    if (is_group(type, lArg)) {
        display_text("(");
        if (rArg != nullptr) {
            rArg->Display();
        }
        display_text(")");
        return;
    }
    display_operand(lArg, type, true);
    display_text(OperatorText(type));
    display_operand(rArg, type, false);
}

void BinaryOpBase::GetReferences(const AttrList *ad, StringList &internal,
                                 StringList &external) const {
    ReferenceWalk walk(internal, external);
    if (lArg != nullptr && type != LX_ASSIGN) {
        lArg->GetReferences(ad, internal, external);
    }
    if (rArg != nullptr) {
        rArg->GetReferences(ad, internal, external);
    }
}

ExprTree *BinaryOpBase::Make(LexemeType kind, ExprTree *l, ExprTree *r) {
    switch (kind) {
        case LX_OR:
            return new (torvel::or_die) OrOp(l, r);
        case LX_AND:
            return new (torvel::or_die) AndOp(l, r);
        case LX_EQ:
            return new (torvel::or_die) EqOp(l, r);
        case LX_NEQ:
            return new (torvel::or_die) NeqOp(l, r);
        case LX_META_EQ:
            return new (torvel::or_die) MetaEqOp(l, r);
        case LX_META_NEQ:
            return new (torvel::or_die) MetaNeqOp(l, r);
        case LX_LT:
            return new (torvel::or_die) LtOp(l, r);
        case LX_LE:
            return new (torvel::or_die) LeOp(l, r);
        case LX_GT:
            return new (torvel::or_die) GtOp(l, r);
        case LX_GE:
            return new (torvel::or_die) GeOp(l, r);
        case LX_ADD:
            return new (torvel::or_die) AddOp(l, r);
        case LX_SUB:
            return new (torvel::or_die) SubOp(l, r);
        case LX_MULT:
            return new (torvel::or_die) MultOp(l, r);
        case LX_DIV:
            return new (torvel::or_die) DivOp(l, r);
        default:
            return new (torvel::or_die) AssignOp(l, r);
    }
}

ExprTree *BinaryOpBase::DeepCopy() const {
    ExprTree *left = lArg != nullptr ? lArg->DeepCopy() : nullptr;
    ExprTree *right = rArg != nullptr ? rArg->DeepCopy() : nullptr;
    ExprTree *copy = Make(type, left, right);
    CopyBaseExprTree(copy);
    return copy;
}

// ---- Function ----

Function::Function(const char *n)
    : ExprTree(LX_FUNCTION), name(nullptr), arguments(new (torvel::or_die) List<ExprTree>()) {
    stringSpaceIndex = intern_(n, name);
    builtin_ = classad_builtin_index(name);
}

Function::~Function() {
    if (arguments != nullptr) {
        ListIterator<ExprTree> it(*arguments);
        ExprTree *arg;
        while ((arg = it.Next()) != nullptr) {
            disposeTree_(arg);
        }
        delete arguments;
    }
    releaseInterned_(stringSpaceIndex);
}

void Function::releaseChildren_(ExtArray<ExprTree *> &pending) {
    ListIterator<ExprTree> it(*arguments);
    ExprTree *arg;
    while ((arg = it.Next()) != nullptr) {
        release_child(arg, pending);
    }
    delete arguments;
    arguments = nullptr;
}

void Function::AppendArgument(ExprTree *arg) {
    noteOperand_(arg);
    arguments->Append(arg);
}

// Calls are never equal, not even to an identical call.
bool Function::operator==(ExprTree &) {
    return false;
}

void Function::GetReferences(const AttrList *ad, StringList &internal, StringList &external) const {
    ReferenceWalk walk(internal, external);
    ListIterator<ExprTree> it(*arguments);
    ExprTree *arg;
    while ((arg = it.Next()) != nullptr) {
        arg->GetReferences(ad, internal, external);
    }
}

ExprTree *Function::DeepCopy() const {
    Function *copy = new (torvel::or_die) Function(name);
    CopyBaseExprTree(copy);
    ListIterator<ExprTree> it(*arguments);
    ExprTree *arg;
    while ((arg = it.Next()) != nullptr) {
        copy->AppendArgument(arg->DeepCopy());
    }
    return copy;
}

void Function::Display() {
    display_text("Unknown type");
}

int Function::lengthOf_(bool) {
    int n = static_cast<int>(strlen(name)) + 2;
    int count = 0;
    ListIterator<ExprTree> it(*arguments);
    ExprTree *arg;
    while ((arg = it.Next()) != nullptr) {
        n += arg->lengthOf_(false);
        count++;
    }
    return count > 1 ? n + 2 * (count - 1) : n;
}

char *Function::printAt_(char *end, bool) {
    end = put_text(end, name);
    *end++ = '(';
    bool first = true;
    ListIterator<ExprTree> it(*arguments);
    ExprTree *arg;
    while ((arg = it.Next()) != nullptr) {
        if (!first) {
            end = put_text(end, "; ", 2);
        }
        end = arg->printAt_(end, false);
        first = false;
    }
    *end++ = ')';
    return end;
}
