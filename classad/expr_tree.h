// Expression trees: the parsed form of one ClassAd expression or attribute
// assignment. For each node kind a data-holding base class (ending in Base)
// and a concrete class that adds printing, copying and evaluation.
//
// Ownership: a binary node owns its operands and a Function owns its
// arguments; deleting the root deletes the whole tree (without recursion, so
// a tree of any depth can be destroyed). A tree has one owner; copies are
// made with DeepCopy. Two shapes with a null left operand belong to the
// language: an AddOp without left operand is a parenthesised group, a SubOp
// without left operand is a unary minus.
//
// Process-wide state: every name (Variable, Function) and text (String,
// ISOTime) is interned in ExprTree::string_space, which exists exactly while
// at least one node does (ExprTree::string_space_references counts the
// nodes). Printing, copying, comparing and collecting references recurse
// over the tree; the parser never builds a tree deeper than
// CLASSAD_MAX_PARSE_DEPTH (classad/parser.h). Not safe for concurrent use.
//
// The evaluation members (EvalTree, every _EvalTree, the Variable scope
// resolution and the ordering operators of Integer and Float, which evaluate
// the other tree) are defined beside the evaluator, not in expr_tree.cpp.
#ifndef TORVEL_CLASSAD_EXPR_TREE_H_
#define TORVEL_CLASSAD_EXPR_TREE_H_

#include <stddef.h>

#include "classad/lexeme_type.h"
#include "core/list.h"

class AttrList;
class EvalResult;
struct EvalValue;
class MyString;
class StringList;
class StringSpace;
template <class T>
class ExtArray;

class ExprTree {
 public:
    virtual bool operator==(ExprTree &other);
    // Ordering is defined only by Integer and Float; every other node
    // answers false.
    virtual bool operator>(ExprTree &other);
    virtual bool operator>=(ExprTree &other);
    virtual bool operator<(ExprTree &other);
    virtual bool operator<=(ExprTree &other);
    // Operands; null for all but binary nodes.
    virtual ExprTree *LArg() { return nullptr; }
    virtual ExprTree *RArg() { return nullptr; }
    // A new tree of the same shape and values (caller deletes).
    virtual ExprTree *DeepCopy() const = 0;
    // Writes the tree to the debug log (D_ALWAYS | D_NOHEADER).
    virtual void Display() = 0;
    // Exact length of the printed text.
    virtual int CalcPrintToStr();
    // *out receives the printed text in a malloc buffer; caller free()s.
    virtual void PrintToNewStr(char **out);
    // Appends the printed text to the NUL-terminated text in buffer.
    // REQUIRES: buffer has room for CalcPrintToStr() more bytes and a NUL.
    virtual void PrintToStr(char *buffer);
    // Assigns the printed text to out.
    virtual void PrintToStr(MyString &out);
    // Adds the attribute names the tree refers to (see Variable).
    virtual void GetReferences(const AttrList *ad, StringList &internal,
                               StringList &external) const;
    virtual ~ExprTree();
    // Copies the ExprTree fields (kind and evaluation mark) onto target.
    virtual void CopyBaseExprTree(ExprTree *target) const;
    // Evaluation proper, one per node class.
    virtual bool _EvalTree(const AttrList *my, EvalResult *result) = 0;
    virtual bool _EvalTree(const AttrList *my, const AttrList *target,
                           EvalResult *result) = 0;

    // Evaluates with cycle detection: false (result ERROR) when this node
    // is already being evaluated. Both dispatch to the two-list _EvalTree.
    bool EvalTree(const AttrList *my, EvalResult *result);
    bool EvalTree(const AttrList *my, const AttrList *target, EvalResult *result);

    LexemeType MyType() const { return type; }
    ExprTree &operator=(const ExprTree &other);

    // Nodes come from the node pool (classad/node_pool.h).
    static void *operator new(size_t size);
    static void operator delete(void *p, size_t size);

    static StringSpace *string_space;
    static int string_space_references;

    // Internal: writes the printed text at end and returns the new end (no
    // terminator); lengthOf_ is its exact length. `followed` says an
    // operator follows the node in the text, so a negative integer there
    // must not print with a leading minus (it would read back as a unary
    // minus over what follows).
    virtual char *printAt_(char *end, bool followed) = 0;
    virtual int lengthOf_(bool followed) = 0;

 protected:
    explicit ExprTree(LexemeType kind);
    // Trees are copied with DeepCopy only.
    ExprTree(const ExprTree &) = delete;

    // Interns text (null is taken as ""); returns the slot, and the
    // canonical text through canonical.
    static int intern_(const char *text, const char *&canonical);
    static void releaseInterned_(int slot);
    // Deletes a subtree without recursion (children are queued).
    static void disposeTree_(ExprTree *tree);
    // Hands the node's children to pending and forgets them.
    virtual void releaseChildren_(ExtArray<ExprTree *> &pending) {}

    LexemeType type;
    bool evalFlag;  // evaluation in progress (cycle detection)

    friend bool eval_tree_value(ExprTree *tree, const AttrList *my, const AttrList *target,
                                EvalValue &out);
};

// ---- data-holding base classes ----

class VariableBase : public ExprTree {
 public:
    // Where a reference looks, worked out from its prefixes when the node is
    // built: "MY." restricts the search to MY, "TARGET." exchanges the two
    // ads and restricts, prefixes stack, and any other prefix finds nothing.
    struct Scope {
        const char *name;     // the attribute name after the prefixes (interned)
        bool exchanged;       // MY and TARGET swapped
        bool restricted;      // MY (after any exchange) only
        bool unknown_prefix;  // always UNDEFINED
        bool current_time;    // name is "CurrentTime", known to the environment
    };

    const char *Name() const { return name; }
    const Scope &ReferenceScope() const { return scope_; }
    bool operator==(ExprTree &other) override;
    void GetReferences(const AttrList *ad, StringList &internal,
                       StringList &external) const override;
    ~VariableBase() override;

 protected:
    explicit VariableBase(const char *name);
    const char *name;  // interned
    int stringSpaceIndex;
    Scope scope_;
    int scopeSlot_;  // interned scope_.name when it differs from name, else -1
};

class IntegerBase : public ExprTree {
 public:
    int Value() const { return value; }
    bool operator==(ExprTree &other) override;

 protected:
    explicit IntegerBase(int v) : ExprTree(LX_INTEGER), value(v) {}
    int value;
};

class FloatBase : public ExprTree {
 public:
    float Value() const { return value; }
    bool operator==(ExprTree &other) override;

 protected:
    explicit FloatBase(float v) : ExprTree(LX_FLOAT), value(v) {}
    float value;
};

class StringBase : public ExprTree {
 public:
    const char *Value() const { return value; }
    bool operator==(ExprTree &other) override;
    ~StringBase() override;

 protected:
    explicit StringBase(const char *text);
    const char *value;  // interned, without quotes or escapes
    int stringSpaceIndex;
};

class ISOTimeBase : public ExprTree {
 public:
    const char *Value() const { return time; }
    bool operator==(ExprTree &other) override;
    ~ISOTimeBase() override;

 protected:
    explicit ISOTimeBase(const char *text);
    const char *time;  // interned, the text between the single quotes
    int stringSpaceIndex;
};

class BooleanBase : public ExprTree {
 public:
    int Value() const { return value; }
    bool operator==(ExprTree &other) override;

 protected:
    explicit BooleanBase(int v) : ExprTree(LX_BOOL), value(v) {}
    int value;  // 1 TRUE, 0 FALSE
};

class UndefinedBase : public ExprTree {
 public:
    bool operator==(ExprTree &other) override;

 protected:
    UndefinedBase() : ExprTree(LX_UNDEFINED) {}
};

class ErrorBase : public ExprTree {
 public:
    bool operator==(ExprTree &other) override;

 protected:
    ErrorBase() : ExprTree(LX_ERROR) {}
};

// Two owned operands, either of which may be null. Printing, display and
// evaluation are shared by all operator classes and chosen by kind.
class BinaryOpBase : public ExprTree {
 public:
    ExprTree *LArg() override { return lArg; }
    ExprTree *RArg() override { return rArg; }
    // The same without a virtual call.
    ExprTree *LeftOperand() const { return lArg; }
    ExprTree *RightOperand() const { return rArg; }
    bool operator==(ExprTree &other) override;
    void Display() override;
    void GetReferences(const AttrList *ad, StringList &internal,
                       StringList &external) const override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    ~BinaryOpBase() override;

    // The printed operator text of a kind (" + ", " =?= ", ...), "" if none.
    static const char *OperatorText(LexemeType kind);

 protected:
    BinaryOpBase(LexemeType kind, ExprTree *left, ExprTree *right)
        : ExprTree(kind), lArg(left), rArg(right) {}
    void releaseChildren_(ExtArray<ExprTree *> &pending) override;
    // DeepCopy of both operands onto a new node of the same class.
    template <class Op>
    ExprTree *copyAs_() const;

    ExprTree *lArg;
    ExprTree *rArg;
};

class AddOpBase : public BinaryOpBase {
 protected:
    AddOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_ADD, l, r) {}
};
class SubOpBase : public BinaryOpBase {
 protected:
    SubOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_SUB, l, r) {}
};
class MultOpBase : public BinaryOpBase {
 protected:
    MultOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_MULT, l, r) {}
};
class DivOpBase : public BinaryOpBase {
 protected:
    DivOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_DIV, l, r) {}
};
class MetaEqOpBase : public BinaryOpBase {
 protected:
    MetaEqOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_META_EQ, l, r) {}
};
class MetaNeqOpBase : public BinaryOpBase {
 protected:
    MetaNeqOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_META_NEQ, l, r) {}
};
class EqOpBase : public BinaryOpBase {
 protected:
    EqOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_EQ, l, r) {}
};
class NeqOpBase : public BinaryOpBase {
 protected:
    NeqOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_NEQ, l, r) {}
};
class GtOpBase : public BinaryOpBase {
 protected:
    GtOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_GT, l, r) {}
};
class GeOpBase : public BinaryOpBase {
 protected:
    GeOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_GE, l, r) {}
};
class LtOpBase : public BinaryOpBase {
 protected:
    LtOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_LT, l, r) {}
};
class LeOpBase : public BinaryOpBase {
 protected:
    LeOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_LE, l, r) {}
};
class AndOpBase : public BinaryOpBase {
 protected:
    AndOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_AND, l, r) {}
};
class OrOpBase : public BinaryOpBase {
 protected:
    OrOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_OR, l, r) {}
};
class AssignOpBase : public BinaryOpBase {
 protected:
    AssignOpBase(ExprTree *l, ExprTree *r) : BinaryOpBase(LX_ASSIGN, l, r) {}
};

// A call: the name exactly as written and the owned arguments in call order.
class FunctionBase : public ExprTree {
 public:
    const char *Name() const { return name; }
    // Takes ownership of arg (appended last).
    void AppendArgument(ExprTree *arg);
    // The arguments, for walking with a ListIterator; owned by the node.
    const List<ExprTree> &Arguments() const { return *arguments; }
    // Evaluates one argument (no target: the one-list form); returns what
    // EvalTree returned.
    bool EvaluateArgument(ExprTree *arg, const AttrList *my, const AttrList *target,
                          EvalResult *result) const;
    bool operator==(ExprTree &other) override;
    void GetReferences(const AttrList *ad, StringList &internal,
                       StringList &external) const override;
    ~FunctionBase() override;

 protected:
    explicit FunctionBase(const char *name);
    void releaseChildren_(ExtArray<ExprTree *> &pending) override;

    const char *name;  // interned
    int stringSpaceIndex;
    List<ExprTree> *arguments;

 public:
    // The built-in the name selects (an index into the built-in table of
    // classad/functions.cpp), or a negative code; chosen once, when built.
    int BuiltinIndex() const { return builtin_; }

 private:
    int builtin_;
};

// ---- concrete classes ----

class Variable : public VariableBase {
 public:
    explicit Variable(const char *name) : VariableBase(name) {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    // Looks the whole name up in my only; UNDEFINED when absent.
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
    // Scope resolution of MY. and TARGET. prefixes.
    virtual bool _EvalTreeRecursive(const char *name, const AttrList *my,
                                    const AttrList *target, EvalResult *result,
                                    bool restrict_search);
    virtual bool _EvalTreeSimple(const char *name, const AttrList *my,
                                 const AttrList *target, EvalResult *result,
                                 bool restrict_search);
};

class Integer : public IntegerBase {
 public:
    explicit Integer(int v) : IntegerBase(v) {}
    bool operator>(ExprTree &other) override;
    bool operator>=(ExprTree &other) override;
    bool operator<(ExprTree &other) override;
    bool operator<=(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class Float : public FloatBase {
 public:
    explicit Float(float v) : FloatBase(v) {}
    bool operator>(ExprTree &other) override;
    bool operator>=(ExprTree &other) override;
    bool operator<(ExprTree &other) override;
    bool operator<=(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class String : public StringBase {
 public:
    explicit String(const char *text) : StringBase(text) {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class ISOTime : public ISOTimeBase {
 public:
    explicit ISOTime(const char *text) : ISOTimeBase(text) {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class ClassadBoolean : public BooleanBase {
 public:
    explicit ClassadBoolean(int v) : BooleanBase(v) {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class Undefined : public UndefinedBase {
 public:
    Undefined() {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class Error : public ErrorBase {
 public:
    Error() {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;
};

class AddOp : public AddOpBase {
 public:
    AddOp(ExprTree *l, ExprTree *r) : AddOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class SubOp : public SubOpBase {
 public:
    SubOp(ExprTree *l, ExprTree *r) : SubOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class MultOp : public MultOpBase {
 public:
    MultOp(ExprTree *l, ExprTree *r) : MultOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class DivOp : public DivOpBase {
 public:
    DivOp(ExprTree *l, ExprTree *r) : DivOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class MetaEqOp : public MetaEqOpBase {
 public:
    MetaEqOp(ExprTree *l, ExprTree *r) : MetaEqOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class MetaNeqOp : public MetaNeqOpBase {
 public:
    MetaNeqOp(ExprTree *l, ExprTree *r) : MetaNeqOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class EqOp : public EqOpBase {
 public:
    EqOp(ExprTree *l, ExprTree *r) : EqOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class NeqOp : public NeqOpBase {
 public:
    NeqOp(ExprTree *l, ExprTree *r) : NeqOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class GtOp : public GtOpBase {
 public:
    GtOp(ExprTree *l, ExprTree *r) : GtOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class GeOp : public GeOpBase {
 public:
    GeOp(ExprTree *l, ExprTree *r) : GeOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class LtOp : public LtOpBase {
 public:
    LtOp(ExprTree *l, ExprTree *r) : LtOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class LeOp : public LeOpBase {
 public:
    LeOp(ExprTree *l, ExprTree *r) : LeOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class AndOp : public AndOpBase {
 public:
    AndOp(ExprTree *l, ExprTree *r) : AndOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
class OrOp : public OrOpBase {
 public:
    OrOp(ExprTree *l, ExprTree *r) : OrOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};
// left is the attribute name (a Variable when built by attribute lists),
// right its expression.
class AssignOp : public AssignOpBase {
 public:
    AssignOp(ExprTree *l, ExprTree *r) : AssignOpBase(l, r) {}
    ExprTree *DeepCopy() const override;
};

class Function : public FunctionBase {
 public:
    explicit Function(const char *name) : FunctionBase(name) {}
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target,
                   EvalResult *result) override;

    // Calls are evaluated in classad/functions.cpp. EvaluateArgument, and a
    // value that is not a string replaced by the printed text of arg.
    bool EvaluateArgumentToString(ExprTree *arg, const AttrList *my, const AttrList *target,
                                  EvalResult *result) const;
    // The lazy ifthenelse: only the condition and the chosen branch run.
    bool FunctionIfThenElse(const AttrList *my, const AttrList *target, EvalResult *result);
    // One per function, over the evaluated arguments argv[0 .. argc-1]; each
    // sets result and returns false (result ERROR) for a wrong number or
    // kind of arguments. FunctionSharedLibrary serves every other name.
    bool FunctionGetTime(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionTime(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionInterval(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionRandom(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionClassadDebugFunction(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsUndefined(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsError(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsString(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsInteger(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsReal(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionIsBoolean(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionString(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionReal(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionInt(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionFloor(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionRound(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionCeiling(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStrcat(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionSubstr(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStrcmp(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStricmp(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionToUpper(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionToLower(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionSize(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistSize(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistSum(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistAvg(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistMin(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistMax(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistMember(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistIMember(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionStringlistRegexpMember(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionRegexp(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionRegexps(int argc, EvalResult *argv, EvalResult *result);
    bool FunctionSharedLibrary(int argc, EvalResult *argv, EvalResult *result);
};

#endif  // TORVEL_CLASSAD_EXPR_TREE_H_
