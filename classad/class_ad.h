// ClassAd: an attribute list with two type names, MyType (what the ad
// describes) and TargetType (the kind of ad it wants to be matched with),
// and symmetric matching of two ads. ClassAdList: a list of ClassAds with
// lookup and sorting.
//
// The attributes "MyType" and "TargetType" are not kept among the ad's
// attributes when an ad is read; they live only in the two type fields and
// are written first by the text and wire forms.
//
// Two ads match when each accepts the other's type (its TargetType equals
// the other's MyType, or is "Any") and each ad's Requirements, evaluated
// with itself as MY and the other as TARGET, is a non-zero integer. A
// missing Requirements is UNDEFINED, hence no match; so is a real value.
//
// Process-wide state: the type registry (classad/ad_type.h) and, while
// ClassAdList::Sort runs, its comparison. Not safe for concurrent use.
#ifndef TORVEL_CLASSAD_CLASS_AD_H_
#define TORVEL_CLASSAD_CLASS_AD_H_

#include <stdio.h>

#include "classad/ad_type.h"
#include "classad/attr_list.h"
#include "classad/attr_list_list.h"

class ClassAd : public AttrList {
 public:
    // No attributes, no types.
    ClassAd();
    // Reads the attributes as AttrList(FILE*, ...) does, then takes the
    // types from the string values of "MyType" and "TargetType" (the empty
    // type when absent or not a string) and removes those attributes.
    ClassAd(FILE *file, char *delimiter, int &isEOF, int &error, int &empty);
    // Builds the attributes as AttrList(char*, char) does, then the types as
    // above.
    ClassAd(char *text, char delimiter);
    // The attributes as AttrList copies them, and fresh copies of the types.
    ClassAd(const ClassAd &other);
    ClassAd &operator=(const ClassAd &other);
    ~ClassAd() override;

    // Replaces both types as the constructors set them: from the string
    // values of "MyType" and "TargetType" (no type when absent or not a
    // string), then removes those attributes.
    void TakeTypesFromAttributes();
    // Replace the type by one of that name; null leaves the ad without it.
    void SetMyTypeName(const char *name);
    void SetTargetTypeName(const char *name);
    // "" without a my-type; "Submitter" for the type "Scheduler" (exact
    // case) when the ad has no "NumUsers"; else the name. Borrowed: valid
    // until the type changes.
    const char *GetMyTypeName() const;
    // The target-type name, or "". Borrowed likewise.
    const char *GetTargetTypeName() const;
    // The type's number, -1 without the type.
    int GetMyTypeNumber() const { return myNumber_; }
    int GetTargetTypeNumber() const { return targetNumber_; }
    // Whether the target type is "Any" (any case), which accepts every ad.
    bool TargetsAnyType() const { return targetAny_; }
    // Whether this ad accepts partner's type: the target type is partner's
    // type, or "Any". Two ads without types accept each other.
    bool AcceptsTypeOf(const ClassAd &partner) const {
        return targetNumber_ == partner.myNumber_ || targetAny_;
    }

    // The AssignOp of "Requirements" / "Rank", or null; borrowed.
    ExprTree *GetRequirements() const;
    ExprTree *GetRankExpr() const;

    void SetSequenceNumber(int seq) { setSeq_(seq); }
    int GetSequenceNumber() const { return getSeq_(); }

    // 1 when the two ads match symmetrically, else 0 (also for null).
    int IsAMatch(ClassAd *other);

    // "MyType = \"...\"" and "TargetType = \"...\"" lines, then the
    // attribute lines. False for a null file.
    bool fPrint(FILE *file) override;
    bool sPrint(MyString &out);
    void dPrint(int flags);

    // The attribute list's wire form, then the two type names, each
    // "(unknown type)" when the ad has none.
    bool put(Stream &stream);
    // Reads that form; the received type names become the types.
    bool initFromStream(Stream &stream);

    // Clears the attributes and drops both types.
    void clear();

    // Swaps the attributes (with their dirty flags), both cursors and the
    // sequence numbers with other; the types, the chains and the associated
    // lists (which own their lists) stay.
    void ExchangeExpressions(ClassAd *other);

    // The ad of the next entry of the AttrListList this ad is linked into
    // directly, or null (at the end, or when the ad is not linked directly).
    // Borrowed.
    ClassAd *FindNext();

 private:
    // Sets both types from the string values of the attributes, then
    // removes those attributes.
    void typesFromAttributes_();
    // Copies what matching reads from the two types into the ad itself, so
    // that matching reads the numbers without following the type records.
    // Called after every change of either type.
    void noteTypes_();

    // First, beside the attribute index that ends AttrList: matching reads
    // both, and they share a cache line.
    int myNumber_ = -1;
    int targetNumber_ = -1;
    bool targetAny_ = false;
    AdType *myType;
    AdType *targetType;
};

// a satisfies b: b accepts a's type and b's Requirements holds with b as MY
// and a as TARGET. 1 or 0.
int operator>=(ClassAd &a, ClassAd &b);
// b >= a.
int operator<=(ClassAd &a, ClassAd &b);
// a >= b and b >= a.
int operator==(ClassAd &a, ClassAd &b);

class ClassAdList : public AttrListList {
 public:
    ClassAdList() {}
    // Copies (ClassAd(const ClassAd&)) of other's members, in order.
    ClassAdList(const ClassAdList &other);
    ClassAdList &operator=(const ClassAdList &) = delete;
    ~ClassAdList() override {}

    // Members must be ClassAds: Insert(AttrList*) of a plain attribute list
    // makes the typed accessors below undefined.
    ClassAd *Next() { return static_cast<ClassAd *>(AttrListList::Next()); }
    // The first member (in list order) that has attribute name, or null.
    // Borrowed.
    ClassAd *Lookup(const char *name) const;
    // Sorts the members: x goes before y when less(x, y, data) returns 1.
    // Unstable. Fewer than two members: nothing happens.
    void Sort(int (*less)(AttrList *, AttrList *, void *), void *data);
};

#endif  // TORVEL_CLASSAD_CLASS_AD_H_
