// AttrList: the attribute store of a ClassAd, an ordered list of
// "name = expression" assignments whose names are compared without regard
// to case. Each attribute is held as its parsed AssignOp tree, with a dirty
// flag; an attribute read from text as "name = literal" (most of an ad)
// keeps only its name and value until its tree is asked for (Lookup), and
// prints without one; one whose text repeats a parse kept for the pool's
// ads (classad/parse_cache.h) shares that parse until then. A list may be
// chained under a parent list whose attributes show through it; it has two iteration cursors, three
// text forms, a wire form over a Stream, and constructors from a file of lines and from a delimited
// string. AttrListAbstract and AttrListRep are the membership records that
// let one attribute list belong to several AttrListLists at once
// (classad/attr_list_list.h).
//
// Ownership: every element owns its AssignOp tree, once it has one; deleting
// an element or clearing the list deletes the trees. A chained child borrows its parent's
// element list: the parent must outlive the chain (unchain first), and
// iteration that has entered the parent must not outlive a change of the
// parent. Destroying an attribute list also takes it out of every
// AttrListList that holds it.
//
// Lookups and evaluations answer "absent" or "wrong kind" with 0; nothing
// here throws. Not safe for concurrent use (evaluation and the expression
// trees share process-wide state).
#ifndef TORVEL_CLASSAD_ATTR_LIST_H_
#define TORVEL_CLASSAD_ATTR_LIST_H_

#include <stdint.h>
#include <stdio.h>
#include <strings.h>
#include <time.h>

#include "classad/lexeme_type.h"
#include "core/allocation.h"
#include "core/text_index.h"

class AttrList;
class AttrListList;
class ExprTree;
class MyString;
class Stream;
class StringList;

// Kinds of membership records, returned by AttrListAbstract::Type().
enum {
    ATTRLISTENTITY = 0,  // an AttrList itself
    ATTRLISTREP = 1,     // an AttrListRep standing for one
};

struct KnownAssignment;
struct LiteralAssignment;
struct SharedParse;
struct WireText;

// One attribute: an owned AssignOp tree whose left operand is a Variable,
// or, until something asks for the tree, for an attribute read as "name =
// literal" the name and the value alone, for one whose text was parsed
// before a share of that kept parse, or that text itself when the parse is
// no longer kept (parsed again when asked for).
class AttrListElem {
 public:
    // Takes ownership of tree. REQUIRES: tree is an AssignOp over a Variable.
    explicit AttrListElem(ExprTree *tree);
    // The attribute assignment holds, without a tree yet; hash is
    // AttrList::NameHash of its name. REQUIRES: the name is a plain one.
    AttrListElem(const LiteralAssignment &assignment, uint32_t hash);
    // Takes over the caller's hold on shared. REQUIRES: its tree is an
    // AssignOp over a Variable.
    explicit AttrListElem(SharedParse *shared);
    // The attribute text, known to parse as known says (parsed when asked
    // for). REQUIRES: text is what ParseShared filled known for.
    AttrListElem(const char *text, const KnownAssignment &known);
    ~AttrListElem();
    AttrListElem(const AttrListElem &) = delete;
    AttrListElem &operator=(const AttrListElem &) = delete;

    // Elements come from the node pool, like the trees.
    static void *operator new(size_t size);
    static void *operator new(size_t size, torvel::OrDie);
    static void operator delete(void *p, size_t size);

    // A copy of the same attribute (a deep copy of its tree, if it has
    // one), clean, unlinked.
    AttrListElem *Copy() const;

    bool IsDirty() const { return dirty; }
    void SetDirty(bool d) { dirty = d; }

    // The owned AssignOp, built at the first call for an attribute kept
    // without one; the same for the element's life from then on.
    ExprTree *Tree() const { return tree_ != nullptr ? tree_ : buildTree_(); }

    // The attribute's printed text, as its tree prints, in a malloc buffer
    // the caller frees; null only when memory is exhausted. Builds no tree
    // of the element's own (a text kept is parsed into a shared parse).
    char *PrintToNewStr() const;
    // Room enough for the printed text (no terminator), and the text
    // written at end, returning its end (no terminator). The same.
    // REQUIRES for PrintAt: PrintRoom() bytes at end.
    size_t PrintRoom() const;
    char *PrintAt(char *end) const;

    // What one evaluation of the attribute costs from an evaluation's step
    // budget (evaluation.h): a step for every eight nodes of its tree or
    // part of them, at most 65535. Counted at the first call.
    long EvalSteps() const { return evalSteps_ != 0 ? evalSteps_ : countEvalSteps_(); }

    // What a reference reads first: the name, then the literal value.
    const char *name = nullptr;  // the interned name of tree's left Variable

 private:
    mutable ExprTree *tree_ = nullptr;  // owned; null until built for an attribute kept without

 public:
    // The right side's value when it is a literal, so that evaluation reads
    // it here instead of walking the tree: its kind as a reference passes
    // it on (LX_INTEGER, LX_FLOAT, LX_STRING, LX_UNDEFINED or LX_ERROR), or
    // LX_NONE when the right side is no literal.
    LexemeType literalKind = LX_NONE;
    // LX_STRING: the length of literalText, so that texts of other lengths
    // compare unequal without reading them (it fills what was padding).
    unsigned literalLength = 0;
    union {
        int literalInt;                     // LX_INTEGER (a boolean literal too)
        float literalFloat;                 // LX_FLOAT
        const char *literalText = nullptr;  // LX_STRING: the tree's interned text
        // (LX_NONE, kept as text: the attribute's whole text, interned)
    };
    bool dirty = false;

 private:
    // Without a tree of its own from the start: the kind of the literal
    // node to build (LX_BOOL is told from LX_INTEGER only here), LX_EXPR
    // for a shared parse to copy, or LX_ASSIGN for a text to parse; LX_NONE
    // with a tree of its own.
    uint8_t builtKind_ = LX_NONE;

 public:
    mutable uint16_t evalSteps_ = 0;  // 0 until counted
    // On the first element of a name in its list (the one lookups find):
    // how many later elements of that name it hides. 0 on the others.
    unsigned shadowed = 0;
    AttrListElem *next = nullptr;
    AttrListElem *prev = nullptr;

 private:
    void noteLiteral_(ExprTree *tree);
    long countEvalSteps_() const;
    ExprTree *buildTree_() const;
    ExprTree *literalNode_() const;
    // The tree the element prints and counts: its own, or the shared one
    // (a text kept is parsed first); null for a literal kept alone.
    ExprTree *treeOrShared_() const;
    // Turns an element kept as text into one sharing its parse (or with a
    // tree of its own, when the parse is not kept).
    void parseKeptText_() const;
    // AttrList::NameHash(name), from the tree when there is one.
    uint32_t nameHash_() const;

    struct Slots {
        int name;
        int text;
    };
    union {
        // A literal kept alone, or a text: the interned name's and
        // string's (or text's) slots this element holds (-1 for none).
        Slots slots_ = {-1, -1};
        // LX_EXPR: the shared parse held; its tree's name is name.
        SharedParse *shared_;
    };

    friend class AttrList;
};

// The own attributes of a list: the elements in order, and an index from
// each name (any case) to the first element of that name. Standard layout
// with head first: a chain handed out as the address of head (unchain)
// leads back to the whole record and so to the parent's index.
struct AttrListElems {
    AttrListElem *head = nullptr;
    AttrListElem *tail = nullptr;
    TextIndex<AttrListElem *, nullptr> index;
};

// What AttrListList entries have in common: the list an entry is linked
// into and its neighbours there.
class AttrListAbstract {
 public:
    virtual ~AttrListAbstract() {}
    AttrListAbstract(const AttrListAbstract &) = delete;
    AttrListAbstract &operator=(const AttrListAbstract &) = delete;

    // ATTRLISTENTITY or ATTRLISTREP.
    int Type() const { return type; }

 protected:
    explicit AttrListAbstract(int kind)
        : type(kind), inList(nullptr), next(nullptr), prev(nullptr) {}

    int type;
    // The list this record is linked into directly, or null. An AttrList
    // with a null inList and a non-null next is represented instead: next
    // is then its first AttrListRep.
    AttrListList *inList;
    AttrListAbstract *next;
    AttrListAbstract *prev;

    friend class AttrList;
    friend class AttrListList;
};

// Stands for an attribute list in one AttrListList when the attribute list
// belongs to more than one.
class AttrListRep : public AttrListAbstract {
 public:
    // Borrowed: the attribute list represented.
    AttrList *GetOrigAttrList() const { return attrList; }

 private:
    AttrListRep(AttrList *list, AttrListList *in);

    AttrList *attrList;
    AttrListRep *nextRep;  // the next representative of the same list

    friend class AttrList;
    friend class AttrListList;
};

class AttrList : public AttrListAbstract {
 public:
    AttrList();
    // Records associated as the list this one was created for and adds this
    // list to associated's collection of such lists, which owns it from then
    // on (it is destroyed with associated unless deleted earlier). Null is
    // the default constructor.
    explicit AttrList(AttrListList *associated);
    // Reads "name = expression" lines from file until a line starting with
    // delimiter or the end of the file. Blank lines and lines starting with
    // "#" (after blanks) are skipped; every other line is inserted, replacing.
    // isEOF: whether the file is at its end; error: 0, errno of a failed
    // read, or -1 after a line that is not an assignment (logged; the rest
    // of that ad up to the delimiter is consumed); empty: 1 when no
    // attribute was read.
    AttrList(FILE *file, char *delimiter, int &isEOF, int &error, int &empty);
    // Builds the list from assignments separated by delimiter; all clean
    // afterwards. A piece that does not parse is a fatal error (the text is
    // trusted); a piece that parses but is not an assignment is dropped.
    AttrList(char *text, char delimiter);
    // Deep copies of every element, in order, all clean; the same chain,
    // sequence number and associated list; fresh cursors. A copy of a list
    // created for an AttrListList joins that list's collection too, which
    // then owns it: such a copy must be made with new, or go before that
    // AttrListList does.
    AttrList(const AttrList &other);
    AttrList &operator=(const AttrList &other);
    ~AttrList() override;

    // ---- changing attributes ----

    // Parses text and inserts the tree; false when it does not parse or is
    // not an assignment to a plain name.
    bool Insert(const char *text, bool replace);
    // Around the reading of a whole ad into this list: the index is sized
    // at once for as many attributes as the last ad read had (the ads a
    // program reads are mostly alike), and compacted after.
    void StartRead();
    void EndRead();
    // Appends tree, marked dirty; with replace, this list's own attribute
    // of the same name (if any) is deleted first. Takes ownership of tree
    // on success only. False unless tree is an AssignOp over a Variable.
    bool Insert(ExprTree *tree, bool replace);
    // Inserts "name = literal" as Insert(text, replace) inserts its text,
    // without a tree until one is asked for. REQUIRES: the name is a plain
    // one (a single attribute reference without a prefix, no keyword).
    void Insert(const LiteralAssignment &literal, bool replace);
    // Inserts text as Insert(text, replace) does, for a text that
    // ParseShared found known as an assignment (known filled): kept as
    // text until its tree is asked for.
    void Insert(const char *text, const KnownAssignment &known, bool replace);
    // Inserts a kept parse as Insert(tree, replace) inserts a tree, taking
    // over the caller's hold on it on success only. False unless its tree
    // is an AssignOp over a Variable.
    bool Insert(SharedParse *shared, bool replace);
    // Removes this list's first attribute named name; in a chained list,
    // also masks a parent attribute of that name with "name = UNDEFINED".
    // Whether anything was removed or masked.
    bool Delete(const char *name);
    // name = expression (name = UNDEFINED for a null expression), replacing.
    bool AssignExpr(const char *name, const char *expression);
    // A string attribute: name = "value" with every double quote in value
    // escaped; name = UNDEFINED for a null value. Replacing.
    bool Assign(const char *name, const char *value);
    bool Assign(const char *name, int value);    // "%s = %d"
    bool Assign(const char *name, float value);  // "%s = %f"
    bool Assign(const char *name, bool value);   // TRUE or FALSE
    // Unchains, then deletes every element.
    void clear();
    // Builds (without inserting) the tree name = value: LX_INTEGER i,
    // LX_FLOAT f, LX_STRING the string s, LX_EXPR the expression parsed from
    // s (null when it does not parse); any other kind leaves the right side
    // empty. Null for a null name. Caller deletes the tree.
    static ExprTree *ProcToTree(const char *name, LexemeType kind, int i, float f, const char *s);

    // ---- reading attributes ----

    // The AssignOp tree of the first attribute named name (any case), in
    // this list and then, unless Insert is running, in the parent. Borrowed:
    // owned by the list. Null when absent or name is null.
    ExprTree *Lookup(const char *name) const;
    ExprTree *Lookup(char *name) const { return Lookup(static_cast<const char *>(name)); }
    // The same for the name of a Variable; null for any other tree.
    ExprTree *Lookup(const ExprTree *variable) const;
    // The element of that attribute; borrowed.
    AttrListElem *LookupElem(const char *name) const;
    // The same, for a caller that keeps the name's hash, NameHash(name).
    AttrListElem *LookupElem(const char *name, uint32_t hash) const {
        if (name == nullptr) {
            return nullptr;
        }
        AttrListElem *e = find_(elems_, name, hash);
        if (e == nullptr && chainedAttrs != nullptr && !inside_insert) {
            e = find_(*chainedAttrs, name, hash);
        }
        return e;
    }
    // The first own attribute named by that very interned text (no
    // case-blind comparison, no parent), or null, for a caller that then
    // asks LookupElem: a quick path for references spelled as the
    // attribute. Borrowed.
    AttrListElem *LookupOwnInterned(const char *name, uint32_t hash) const {
        AttrListElem * const *found = elems_.index.find(
            hash, [name](AttrListElem *candidate) { return candidate->name == name; });
        return found != nullptr ? *found : nullptr;
    }
    // The hash lookups use for name: equal for names that differ only in
    // the case of letters. REQUIRES: name is not null.
    static uint32_t NameHash(const char *name) { return _torvel_text_hash(name, true); }
    // The same for a name of known length.
    static uint32_t NameHash(const char *name, size_t length) {
        return _torvel_text_hash_n(name, length, true);
    }

    // Literal lookups: 1 when the attribute exists and its right side is a
    // literal of an accepted kind, else 0 with the output unchanged.
    // A String's text into buffer. REQUIRES: buffer is large enough.
    int LookupString(const char *name, char *buffer) const;
    // At most n characters of it (unterminated when the text is n or longer).
    int LookupString(const char *name, char *buffer, int n) const;
    // A malloc copy of it; caller free()s.
    int LookupString(const char *name, char **out) const;
    int LookupString(const char *name, MyString &out) const;
    // An ISOTime's text as a malloc copy (caller free()s), or converted.
    int LookupTime(const char *name, char **out) const;
    int LookupTime(const char *name, struct tm *out, bool *is_utc) const;
    // An Integer or a ClassadBoolean.
    int LookupInteger(const char *name, int &value) const;
    // A Float or an Integer.
    int LookupFloat(const char *name, float &value) const;
    // A ClassadBoolean only.
    int LookupBool(const char *name, int &value) const;
    int LookupBool(const char *name, bool &value) const;

    // Evaluating lookups: the attribute is looked up here, then in target;
    // without a target an absent name is evaluated from the environment
    // (so "CurrentTime" works). 1 when the value has an accepted kind, else
    // 0 with the output unchanged.
    // A string value into buffer. REQUIRES: buffer is large enough.
    int EvalString(const char *name, const AttrList *target, char *buffer) const;
    // A malloc copy of a string value; caller free()s.
    int EvalString(const char *name, const AttrList *target, char **out) const;
    int EvalString(const char *name, const AttrList *target, MyString &out) const;
    int EvalInteger(const char *name, const AttrList *target, int &value) const;
    // A float, or an integer converted.
    int EvalFloat(const char *name, const AttrList *target, float &value) const;
    // An integer or a float; non-zero is true (1).
    int EvalBool(const char *name, const AttrList *target, int &value) const;

    // Adds the references of that attribute's expression; nothing when the
    // attribute is absent.
    void GetReferences(const char *name, StringList &internal, StringList &external) const;
    // Whether a reference to name leaves this list: with a dot, exactly when
    // the part before the first dot is "TARGET" (any case), the part after it
    // being the name referred to; without one, when this list (with its
    // chain) has no such attribute. *out (when out is given) receives a
    // strdup copy of the name referred to, which the caller frees.
    bool IsExternalReference(const char *name, char **out) const;

    // ---- dirty flags ----

    void SetDirtyFlag(const char *name, bool dirty);
    // Either pointer may be null. *exists tells whether this list itself
    // has the attribute; *dirty is set only then.
    void GetDirtyFlag(const char *name, bool *exists, bool *dirty) const;
    void ClearAllDirtyFlags();

    // ---- iteration (the returned trees are borrowed) ----

    // The expression cursor to the first own attribute.
    void ResetExpr();
    // The next attribute's tree; after the own attributes, once through the
    // parent's (hidden ones included). Null at the end.
    ExprTree *NextExpr();
    // The next dirty own attribute's tree; never enters the parent.
    ExprTree *NextDirtyExpr();
    // The name cursor to the first own attribute. The name cursor starts
    // empty, so without this call name iteration covers only the parent.
    void ResetName();
    // The next name as a new[] copy the caller delete[]s, same walk as
    // NextExpr.
    char *NextName();
    // The same, as the interned name itself (borrowed).
    const char *NextNameOriginal();
    // The next dirty own name as a new[] copy; never enters the parent.
    char *NextDirtyName();

    // ---- chaining ----

    // Makes parent's attributes show through this list. Null changes
    // nothing. REQUIRES: parent outlives the chain.
    void ChainToAd(AttrList *parent);
    // Forgets the chain and returns it (null when not chained).
    AttrListElem **unchain();
    // Puts back a chain returned by unchain (null unchains).
    void RestoreChain(void *chain);
    // Unchains and takes over every parent attribute this list lacks
    // (appended, in order): deep copies with copy, otherwise the parent's
    // own trees, which both lists then hold, and the caller must make sure
    // only one of them deletes.
    void ChainCollapse(bool copy);

    // ---- text and wire forms ----

    // One line per attribute, parent's first when chained: "Memory = 64\n".
    // False only for a null file.
    virtual bool fPrint(FILE *file);
    // The same lines appended to out.
    bool sPrint(MyString &out);
    // The same lines to the debug log with flags | D_NOHEADER.
    void dPrint(int flags);
    // One attribute's text and a newline; false when file, name or the
    // attribute is missing.
    bool fPrintExpr(FILE *file, const char *name);
    // One attribute's text copied into buffer (at most size characters,
    // unterminated if longer) and buffer returned, or, with a null buffer,
    // returned as a new strdup copy the caller frees. Null when name is null
    // or the attribute is missing.
    char *sPrintExpr(char *buffer, unsigned size, const char *name);
    // Sends the count and every attribute's text (the parent's first when
    // chained); the "SCHEDD" subsystem adds "ServerTime = <now>". Addresses
    // in address-carrying attributes name the stream's own address.
    bool put(Stream &stream);
    // Clears, then reads a count and that many attribute texts, inserting
    // each with replacement. False on a failed receive or insertion (what
    // was inserted so far stays).
    bool initFromStream(Stream &stream);

    // ---- membership ----

    // Whether this list belongs to list (directly or through a
    // representative).
    bool IsInList(AttrListList *list) const;

 protected:
    // Membership of the associated list's collection, shared by the
    // constructors and assignment.
    void joinAssociated_(AttrListList *associated);
    void leaveAssociated_();
    // Deep copies of other's elements (all clean) appended to this list.
    void copyElements_(const AttrList &other);
    // The sequence number, kept for ClassAd.
    int getSeq_() const { return seq; }
    void setSeq_(int s) { seq = s; }
    // The list this one was created for, or null.
    AttrListList *associated_() const { return associatedList; }
    // Swaps elements, cursors and sequence numbers.
    void exchange_(AttrList &other);

 private:
    // The first element named name (any case) among elems, or null.
    // Names are interned, so a reference spelled as the attribute is the
    // same pointer; otherwise they compare without regard to case.
    static bool sameName_(const char *a, const char *b) { return a == b || strcasecmp(a, b) == 0; }
    static AttrListElem *find_(const AttrListElems &elems, const char *name, uint32_t hash) {
        AttrListElem * const *found = elems.index.find(
            hash, [name](AttrListElem *candidate) { return sameName_(candidate->name, name); });
        return found != nullptr ? *found : nullptr;
    }
    // Links elem in last, without indexing it.
    void link_(AttrListElem *elem);
    // Inserts elem as Insert(tree, replace) does. REQUIRES: hash is
    // NameHash(elem->name).
    void insert_(AttrListElem *elem, uint32_t hash, bool replace);
    // Appends elem to the own elements and indexes it (or counts it as
    // hidden behind the first element of its name).
    void append_(AttrListElem *elem);
    // The same, for a caller that has the name's hash, NameHash(elem->name).
    void append_(AttrListElem *elem, uint32_t hash);
    // Unlinks and deletes this list's first element named name.
    bool deleteOwn_(const char *name);
    // The same, for a caller that has the name's hash, NameHash(name).
    bool deleteOwn_(const char *name, uint32_t hash);
    // Takes this list out of every AttrListList holding it (no delete).
    void leaveAllLists_();
    // Shared walk of NextExpr / NextName.
    AttrListElem *nextElem_(AttrListElem *&cursor, bool &inChain);

    AttrListList *associatedList;
    AttrListElem *ptrExpr;  // expression cursor
    bool ptrExprInChain;
    AttrListElem *ptrName;  // name cursor
    bool ptrNameInChain;
    int seq;
    // The own attributes' texts as put sent them, for the next put; null
    // until then, and dropped at any change of the own attributes.
    WireText *wireText_ = nullptr;
    void dropWireText_();
    // Last, what every lookup reads, beside what a ClassAd adds for
    // matching (classad/class_ad.h).
    bool inside_insert;
    AttrListElems *chainedAttrs;  // the parent's elements, or null
    AttrListElems elems_;         // the own elements

    friend class AttrListList;
};

#endif  // TORVEL_CLASSAD_ATTR_LIST_H_
