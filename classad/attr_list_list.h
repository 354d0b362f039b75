// AttrListList: an ordered list of attribute lists that owns its members,
// in which one attribute list may belong to several lists at once. A list
// held by exactly one AttrListList is linked in directly; once it joins a
// second one, an AttrListRep stands for it in each, and the attribute list
// is destroyed when its last representative goes. Iteration always yields
// the attribute lists themselves.
//
// Each AttrListList also keeps, created on first use, the collection of the
// attribute lists created for it (AttrList(AttrListList*)); the collection
// owns them and goes with the list.
//
// Not safe for concurrent use; an attribute list and the lists holding it
// are used by one thread at a time.
#ifndef TORVEL_CLASSAD_ATTR_LIST_LIST_H_
#define TORVEL_CLASSAD_ATTR_LIST_LIST_H_

#include <stdio.h>

#include "classad/attr_list.h"

class AttrListList {
 public:
    AttrListList();
    // Copies (AttrList(const AttrList&)) of other's members, in order.
    AttrListList(const AttrListList &other);
    AttrListList &operator=(const AttrListList &) = delete;
    // Deletes every entry as Delete does, then the associated collection.
    virtual ~AttrListList();

    // Iteration: Open() starts at the first entry, Next() returns the next
    // attribute list (borrowed) or null, Close() ends the iteration.
    void Open();
    AttrList *Next();
    void Close();

    // Appends list (taking ownership) unless it is already a member.
    void Insert(AttrList *list);
    // Removes list's entry and destroys it (the attribute list itself when
    // this was its last list). False when list is not a member.
    bool Delete(AttrList *list);

    // The tree of attribute name in the first member (in list order) that
    // has it, or null. The second form also sets list to that member and
    // leaves it untouched when none has it. Borrowed.
    ExprTree *Lookup(const char *name) const;
    ExprTree *Lookup(const char *name, AttrList *&list) const;

    int MyLength() const { return length; }

    // Each member's fPrint followed by an empty line; with xml, the XML
    // file header, each member as XML (not compact) and an empty line, and
    // the footer. False for a null file.
    bool fPrintAttrListList(FILE *file, bool xml = false);

 protected:
    // Takes list's entry out of this list without destroying anything;
    // false when list is not a member.
    bool detach_(AttrList *list);
    // Sorts the entries (unstable) by less; see ClassAdList::Sort.
    void sortEntries_(int (*less)(AttrList *, AttrList *, void *), void *data);
    // The attribute list an entry stands for.
    static AttrList *resolve_(AttrListAbstract *entry);
    // The entry after entry in its list, or null.
    static AttrListAbstract *nextEntry_(AttrListAbstract *entry) { return entry->next; }

    AttrListAbstract *head;
    AttrListAbstract *tail;
    AttrListAbstract *ptr;  // iteration cursor: the next entry to return
    AttrListList *associatedAttrLists;
    int length;

 private:
    void append_(AttrListAbstract *entry);
    void unlink_(AttrListAbstract *entry);

    friend class AttrList;
};

#endif  // TORVEL_CLASSAD_ATTR_LIST_LIST_H_
