// AttrList: the attribute store of a ClassAd, an ordered list of
// "name = expression" assignments whose names are compared without regard
// to case. Each attribute is held as its parsed AssignOp tree.
#ifndef TORVEL_CLASSAD_ATTR_LIST_H_
#define TORVEL_CLASSAD_ATTR_LIST_H_

class ExprTree;

class AttrList {
 public:
    AttrList();
    ~AttrList();

    // Owns its attributes; copies are not offered yet.
    AttrList(const AttrList &) = delete;
    AttrList &operator=(const AttrList &) = delete;

    // Parses one assignment "name = expression" and appends it; with
    // replace, an attribute of the same name is removed first. False when
    // the text is not an assignment to a plain name.
    bool Insert(const char *text, bool replace);
    // As above for a tree: an AssignOp whose left operand is a Variable.
    // Takes ownership of tree on success only.
    bool Insert(ExprTree *tree, bool replace);

    // The AssignOp tree of the first attribute named name (any case), or
    // null. Borrowed: owned by the list.
    ExprTree *Lookup(const char *name) const;

    // The attribute's text ("name = expression"): copied into buffer (at
    // most size characters, unterminated if longer) and buffer returned, or,
    // with a null buffer, returned as a new strdup copy the caller frees.
    // Null when name is null or the attribute is missing.
    char *sPrintExpr(char *buffer, unsigned size, const char *name);

    // Whether a reference to name leaves this list: with a dot, exactly when
    // the part before the first dot is "TARGET" (any case), the part after it
    // being the name referred to; without one, when this list has no such
    // attribute. *out (when out is given) receives a strdup copy of the name
    // referred to, which the caller frees.
    bool IsExternalReference(const char *name, char **out) const;

 private:
    struct Attribute;
    Attribute *find_(const char *name) const;
    bool delete_(const char *name);

    Attribute *first_;
    Attribute *last_;
};

#endif  // TORVEL_CLASSAD_ATTR_LIST_H_
