// Expression trees: the parsed form of one ClassAd expression or attribute
// assignment. One class per kind of node holds its data and does its
// printing and copying; every operator is one class, BinaryOp, told apart by
// its kind. The names ending in Base, and AddOp, SubOp and the other
// operator names, are aliases of these classes.
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
// at least one node, or other holder (HoldStringSpace), does
// (ExprTree::string_space_references counts them). Printing, copying, comparing and collecting
// references recurse over the tree; the parser never builds a tree deeper than
// CLASSAD_MAX_PARSE_DEPTH (classad/parser.h). Not safe for concurrent use.
//
// The evaluation members (EvalTree, every _EvalTree, the Variable scope
// resolution and the ordering operators of Integer and Float, which evaluate
// the other tree) are defined beside the evaluator, not in expr_tree.cpp.
#ifndef TORVEL_CLASSAD_EXPR_TREE_H_
#define TORVEL_CLASSAD_EXPR_TREE_H_

#include <stddef.h>
#include <stdint.h>

#include "classad/lexeme_type.h"
#include "core/allocation.h"
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
    // Evaluation of this node without its own cycle mark and nesting
    // count; the one-list form answers as the two-list form without target.
    virtual bool _EvalTree(const AttrList *my, EvalResult *result);
    virtual bool _EvalTree(const AttrList *my, const AttrList *target, EvalResult *result);

    // Evaluates with cycle detection: false (result ERROR) when this node
    // is already being evaluated. Both dispatch to the two-list _EvalTree.
    bool EvalTree(const AttrList *my, EvalResult *result);
    bool EvalTree(const AttrList *my, const AttrList *target, EvalResult *result);

    LexemeType MyType() const { return type; }
    // Whether an evaluation of this node is in progress.
    bool IsBeingEvaluated() const { return evalFlag; }
    ExprTree &operator=(const ExprTree &other);

    // Nodes come from the node pool (classad/node_pool.h), which ends the
    // process on an exhausted heap: `new (torvel::or_die)` and plain new
    // alike.
    static void *operator new(size_t size);
    static void *operator new(size_t size, torvel::OrDie);
    static void operator delete(void *p, size_t size);

    static StringSpace *string_space;
    static int string_space_references;

    // Texts held outside any node (attribute lists keep literal attributes
    // without a tree until one is asked for). HoldStringSpace keeps the
    // space alive as a node does, until ReleaseStringSpace. InternHashed
    // takes a reference on text's slot and returns it, with the canonical
    // text, given text's case-blind hash (_torvel_text_hash(text, true), as
    // AttrList::NameHash gives for a name; the string space hashes alike):
    // it remembers recent texts by that hash, so that the names and values
    // every ad repeats are not looked up again, and a text new to the space
    // is not hashed again. Intern does the same with a hash of its own (null
    // is taken as "").
    // ReleaseInterned gives a slot's reference back (-1 is ignored).
    static void HoldStringSpace();
    static void ReleaseStringSpace();
    static int Intern(const char *text, const char *&canonical);
    static int InternHashed(const char *text, uint32_t hash, const char *&canonical);
    static void ReleaseInterned(int slot) { releaseInterned_(slot); }

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
    static int internHashed_(const char *text, uint32_t hash, const char *&canonical);
    static void releaseInterned_(int slot);
    // Deletes a subtree without recursion (children are queued).
    static void disposeTree_(ExprTree *tree);
    // Hands the node's children to pending and forgets them.
    virtual void releaseChildren_(ExtArray<ExprTree *> &pending) {}

    LexemeType type;
    bool evalFlag;  // evaluation in progress (cycle detection)
    // Kept in what would otherwise be padding, so nodes do not grow: the
    // number of the compiled form of the tree below this node in the
    // evaluator's table (classad/eval_program.cpp; 0 when there is none),
    // 23 bits split over the two fields, and in the top bit of programHigh_
    // whether the node is an operand or argument of another node.
    uint8_t programHigh_;
    uint16_t programLow_;
    static void noteOperand_(ExprTree *node) {
        if (node != nullptr) {
            node->programHigh_ |= 0x80;
        }
    }

    // The evaluator sets and clears evalFlag (classad/evaluation.cpp) and
    // keeps the compiled form's number.
    friend struct EvalMark;
    friend bool eval_tree_value(ExprTree *tree, const AttrList *my, const AttrList *target,
                                EvalValue &out);
};

// ---- one class per kind of node ----
//
// Each kind once: the data and everything done with it. The names ending
// in Base name the same classes, for code written against the data alone.

class Variable : public ExprTree {
 public:
    // Where a reference looks, worked out from its prefixes when the node is
    // built: "MY." restricts the search to MY, "TARGET." exchanges the two
    // ads and restricts, prefixes stack, and any other prefix finds nothing.
    struct Scope {
        const char *name;     // the attribute name after the prefixes (interned)
        uint32_t hash;        // name's case-blind hash, as attribute lists index it
        bool exchanged;       // MY and TARGET swapped
        bool restricted;      // MY (after any exchange) only
        bool unknown_prefix;  // always UNDEFINED
        bool current_time;    // name is "CurrentTime", known to the environment
    };

    explicit Variable(const char *name);
    ~Variable() override;
    // The name as written, prefixes included. Borrowed: interned in
    // string_space and valid while this node lives.
    const char *Name() const { return name; }
    const Scope &ReferenceScope() const { return scope_; }
    bool operator==(ExprTree &other) override;
    void GetReferences(const AttrList *ad, StringList &internal,
                       StringList &external) const override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    // Looks the whole name up in my only; UNDEFINED when absent.
    bool _EvalTree(const AttrList *my, EvalResult *result) override;
    bool _EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) override;
    // Scope resolution of MY. and TARGET. prefixes of a name given now.
    virtual bool _EvalTreeRecursive(const char *name, const AttrList *my, const AttrList *target,
                                    EvalResult *result, bool restrict_search);
    virtual bool _EvalTreeSimple(const char *name, const AttrList *my, const AttrList *target,
                                 EvalResult *result, bool restrict_search);

 protected:
    const char *name;  // interned
    int stringSpaceIndex;
    Scope scope_;
    int scopeSlot_;  // interned scope_.name when it differs from name, else -1

 private:
    // DeepCopy's: the same texts, each with a reference of its own.
    explicit Variable(const Variable &other);
};
using VariableBase = Variable;

// Integer and Float order themselves against any tree that evaluates
// (without attribute lists) to a number.
class Integer : public ExprTree {
 public:
    explicit Integer(int v) : ExprTree(LX_INTEGER), value(v) {}
    int Value() const { return value; }
    bool operator==(ExprTree &other) override;
    bool operator>(ExprTree &other) override;
    bool operator>=(ExprTree &other) override;
    bool operator<(ExprTree &other) override;
    bool operator<=(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

 protected:
    int value;
};
using IntegerBase = Integer;

class Float : public ExprTree {
 public:
    explicit Float(float v) : ExprTree(LX_FLOAT), value(v) {}
    float Value() const { return value; }
    bool operator==(ExprTree &other) override;
    bool operator>(ExprTree &other) override;
    bool operator>=(ExprTree &other) override;
    bool operator<(ExprTree &other) override;
    bool operator<=(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

 protected:
    float value;
};
using FloatBase = Float;

class String : public ExprTree {
 public:
    explicit String(const char *text);
    ~String() override;
    // The text without quotes or escapes. Borrowed: interned in
    // string_space and valid while this node lives.
    const char *Value() const { return value; }
    bool operator==(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

 protected:
    const char *value;  // interned, without quotes or escapes
    int stringSpaceIndex;
};
using StringBase = String;

class ISOTime : public ExprTree {
 public:
    explicit ISOTime(const char *text);
    ~ISOTime() override;
    // The text between the single quotes. Borrowed: interned in
    // string_space and valid while this node lives.
    const char *Value() const { return time; }
    bool operator==(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

 protected:
    const char *time;  // interned, the text between the single quotes
    int stringSpaceIndex;
};
using ISOTimeBase = ISOTime;

class ClassadBoolean : public ExprTree {
 public:
    explicit ClassadBoolean(int v) : ExprTree(LX_BOOL), value(v) {}
    int Value() const { return value; }
    bool operator==(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

 protected:
    int value;  // 1 TRUE, 0 FALSE
};
using BooleanBase = ClassadBoolean;

class Undefined : public ExprTree {
 public:
    Undefined() : ExprTree(LX_UNDEFINED) {}
    bool operator==(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
};
using UndefinedBase = Undefined;

class Error : public ExprTree {
 public:
    Error() : ExprTree(LX_ERROR) {}
    bool operator==(ExprTree &other) override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
};
using ErrorBase = Error;

// Two owned operands, either of which may be null. Printing, display,
// copying and evaluation are the same for every operator and chosen by kind.
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
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;
    ~BinaryOpBase() override;

    // The printed operator text of a kind (" + ", " =?= ", ...), "" if none.
    // A string constant the caller must not free; valid for the whole run.
    static const char *OperatorText(LexemeType kind);
    // A new operator node of kind over l and r (caller deletes); an
    // assignment for a kind that is no operator.
    static ExprTree *Make(LexemeType kind, ExprTree *l, ExprTree *r);
    // The same operator over deep copies of the operands.
    ExprTree *DeepCopy() const override;

 protected:
    BinaryOpBase(LexemeType kind, ExprTree *left, ExprTree *right)
        : ExprTree(kind), lArg(left), rArg(right) {
        noteOperand_(left);
        noteOperand_(right);
    }
    void releaseChildren_(ExtArray<ExprTree *> &pending) override;

    ExprTree *lArg;
    ExprTree *rArg;
};

// One class for every operator; the kind tells the operators apart, and
// AddOp, SubOp, ... name its instances, so "new AddOp(l, r)" builds an
// addition. left is the attribute name of an AssignOp (a Variable when
// built by attribute lists), right its expression.
template <LexemeType K>
class BinaryOp final : public BinaryOpBase {
 public:
    BinaryOp(ExprTree *l, ExprTree *r) : BinaryOpBase(K, l, r) {}
};

using AddOp = BinaryOp<LX_ADD>;
using SubOp = BinaryOp<LX_SUB>;
using MultOp = BinaryOp<LX_MULT>;
using DivOp = BinaryOp<LX_DIV>;
using MetaEqOp = BinaryOp<LX_META_EQ>;
using MetaNeqOp = BinaryOp<LX_META_NEQ>;
using EqOp = BinaryOp<LX_EQ>;
using NeqOp = BinaryOp<LX_NEQ>;
using GtOp = BinaryOp<LX_GT>;
using GeOp = BinaryOp<LX_GE>;
using LtOp = BinaryOp<LX_LT>;
using LeOp = BinaryOp<LX_LE>;
using AndOp = BinaryOp<LX_AND>;
using OrOp = BinaryOp<LX_OR>;
using AssignOp = BinaryOp<LX_ASSIGN>;

// A call: the name exactly as written and the owned arguments in call order.
class Function : public ExprTree {
 public:
    explicit Function(const char *name);
    ~Function() override;
    // The function name as written. Borrowed: interned in string_space and
    // valid while this node lives.
    const char *Name() const { return name; }
    // Takes ownership of arg (appended last).
    void AppendArgument(ExprTree *arg);
    // The arguments, for walking with a ListIterator; owned by the node.
    const List<ExprTree> &Arguments() const { return *arguments; }
    // The built-in the name selects (an index into the built-in table of
    // classad/functions.cpp), or a negative code; chosen once, when built.
    int BuiltinIndex() const { return builtin_; }
    bool operator==(ExprTree &other) override;
    void GetReferences(const AttrList *ad, StringList &internal,
                       StringList &external) const override;
    ExprTree *DeepCopy() const override;
    void Display() override;
    char *printAt_(char *end, bool followed) override;
    int lengthOf_(bool followed) override;

    // Evaluates one argument (no target: the one-list form); returns what
    // EvalTree returned.
    bool EvaluateArgument(ExprTree *arg, const AttrList *my, const AttrList *target,
                          EvalResult *result) const;

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

 protected:
    void releaseChildren_(ExtArray<ExprTree *> &pending) override;

    const char *name;  // interned
    int stringSpaceIndex;
    List<ExprTree> *arguments;

 private:
    int builtin_;
};
using FunctionBase = Function;

#endif  // TORVEL_CLASSAD_EXPR_TREE_H_
