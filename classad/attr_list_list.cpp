// AttrListList: membership of attribute lists (directly linked or through
// representatives), iteration, lookup across members, printing, and the
// entry sort that ClassAdList::Sort uses.
//
// Process-wide state: the comparison and its data while a sort runs.
#include "classad/attr_list_list.h"

#include <stdlib.h>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "core/allocation.h"
#include "core/my_string.h"
#include "diagnostics/except.h"

namespace {

int (*sort_less)(AttrList *, AttrList *, void *) = nullptr;
void *sort_data = nullptr;

}  // namespace

AttrList *AttrListList::resolve_(AttrListAbstract *entry) {
    if (entry == nullptr) {
        return nullptr;
    }
    return entry->Type() == ATTRLISTREP ? static_cast<AttrListRep *>(entry)->attrList
                                        : static_cast<AttrList *>(entry);
}

AttrListList::AttrListList()
    : head(nullptr), tail(nullptr), ptr(nullptr), associatedAttrLists(nullptr), length(0) {}

AttrListList::AttrListList(const AttrListList &other) : AttrListList() {
    for (AttrListAbstract *e = other.head; e != nullptr; e = e->next) {
        Insert(new (torvel::or_die) AttrList(*resolve_(e)));
    }
}

AttrListList::~AttrListList() {
    while (head != nullptr) {
        Delete(resolve_(head));
    }
    if (associatedAttrLists != nullptr) {
        // Lists created for this one forget it before their collection goes.
        AttrListList *collection = associatedAttrLists;
        associatedAttrLists = nullptr;
        for (AttrListAbstract *e = collection->head; e != nullptr; e = e->next) {
            resolve_(e)->associatedList = nullptr;
        }
        delete collection;
    }
}

// ---- membership ----

void AttrListList::append_(AttrListAbstract *entry) {
    entry->prev = tail;
    entry->next = nullptr;
    if (tail != nullptr) {
        tail->next = entry;
    } else {
        head = entry;
    }
    tail = entry;
    length++;
}

void AttrListList::unlink_(AttrListAbstract *entry) {
    if (ptr == entry) {
        ptr = entry->next;
    }
    (entry->prev != nullptr ? entry->prev->next : head) = entry->next;
    (entry->next != nullptr ? entry->next->prev : tail) = entry->prev;
    entry->prev = nullptr;
    entry->next = nullptr;
    length--;
}

void AttrListList::Insert(AttrList *list) {
    if (list == nullptr || list->IsInList(this)) {
        return;
    }
    if (list->inList != nullptr) {
        // Linked directly into another list: a representative takes its
        // place there, and a second one stands for it here.
        AttrListList *other = list->inList;
        AttrListRep *there = new (torvel::or_die) AttrListRep(list, other);
        there->prev = list->prev;
        there->next = list->next;
        (list->prev != nullptr ? list->prev->next : other->head) = there;
        (list->next != nullptr ? list->next->prev : other->tail) = there;
        if (other->ptr == list) {
            other->ptr = there;
        }
        list->inList = nullptr;
        list->prev = nullptr;
        list->next = there;
        AttrListRep *here = new (torvel::or_die) AttrListRep(list, this);
        there->nextRep = here;
        append_(here);
        return;
    }
    if (list->next != nullptr) {
        AttrListRep *last = static_cast<AttrListRep *>(list->next);
        while (last->nextRep != nullptr) {
            last = last->nextRep;
        }
        AttrListRep *here = new (torvel::or_die) AttrListRep(list, this);
        last->nextRep = here;
        append_(here);
        return;
    }
    list->inList = this;
    append_(list);
}

bool AttrListList::detach_(AttrList *list) {
    if (list == nullptr) {
        return false;
    }
    if (list->inList == this) {
        unlink_(list);
        list->inList = nullptr;
        return true;
    }
    if (list->inList != nullptr) {
        return false;
    }
    AttrListRep *before = nullptr;
    for (AttrListRep *rep = static_cast<AttrListRep *>(list->next); rep != nullptr;
         before = rep, rep = rep->nextRep) {
        if (rep->inList != this) {
            continue;
        }
        unlink_(rep);
        if (before != nullptr) {
            before->nextRep = rep->nextRep;
        } else {
            list->next = rep->nextRep;
        }
        delete rep;
        return true;
    }
    return false;
}

bool AttrListList::Delete(AttrList *list) {
    if (!detach_(list)) {
        return false;
    }
    if (list->inList == nullptr && list->next == nullptr) {
        delete list;  // this was its last list
    }
    return true;
}

// ---- iteration and lookup ----

void AttrListList::Open() {
    ptr = head;
}

AttrList *AttrListList::Next() {
    if (ptr == nullptr) {
        return nullptr;
    }
    AttrListAbstract *entry = ptr;
    ptr = entry->next;
    return resolve_(entry);
}

void AttrListList::Close() {
    ptr = nullptr;
}

ExprTree *AttrListList::Lookup(const char *name) const {
    AttrList *ignored = nullptr;
    return Lookup(name, ignored);
}

ExprTree *AttrListList::Lookup(const char *name, AttrList *&list) const {
    for (AttrListAbstract *e = head; e != nullptr; e = e->next) {
        AttrList *member = resolve_(e);
        ExprTree *tree = member->Lookup(name);
        if (tree != nullptr) {
            list = member;
            return tree;
        }
    }
    return nullptr;
}

// ---- printing ----

bool AttrListList::fPrintAttrListList(FILE *file, bool xml) {
    if (file == nullptr) {
        return false;
    }
    if (!xml) {
        for (AttrListAbstract *e = head; e != nullptr; e = e->next) {
            resolve_(e)->fPrint(file);
            fputs("\n", file);
        }
        return true;
    }
    ClassAdXMLUnparser writer;
    writer.SetUseCompactSpacing(false);
    MyString text;
    writer.AddXMLFileHeader(text);
    for (AttrListAbstract *e = head; e != nullptr; e = e->next) {
        AttrList *member = resolve_(e);
        ClassAd *ad = dynamic_cast<ClassAd *>(member);
        if (ad != nullptr) {
            writer.Unparse(ad, text);
        } else {
            // A plain attribute list: an ad without types.
            ClassAd untyped;
            untyped.ChainToAd(member);
            writer.Unparse(&untyped, text);
            untyped.unchain();
        }
        text += "\n";
    }
    writer.AddXMLFileFooter(text);
    fputs(text.Value(), file);
    return true;
}

// ---- sorting ----

namespace {

AttrList *entry_list(AttrListAbstract *entry) {
    return entry->Type() == ATTRLISTREP ? static_cast<AttrListRep *>(entry)->GetOrigAttrList()
                                        : static_cast<AttrList *>(entry);
}

int compare_entries(const void *a, const void *b) {
    AttrList *x = entry_list(*static_cast<AttrListAbstract * const *>(a));
    AttrList *y = entry_list(*static_cast<AttrListAbstract * const *>(b));
    if (sort_less(x, y, sort_data) == 1) {
        return -1;
    }
    if (sort_less(y, x, sort_data) == 1) {
        return 1;
    }
    return 0;
}

}  // namespace

void AttrListList::sortEntries_(int (*less)(AttrList *, AttrList *, void *), void *data) {
    if (length < 2 || less == nullptr) {
        return;
    }
    int len = length;
    int i = 0;
    for (AttrListAbstract *e = head; e != nullptr; e = e->next) {
        ++i;
    }
    if (i != len) {
        EXCEPT("Assertion ERROR on (%s)", "i == len");
    }
    AttrListAbstract **entries = new (torvel::or_die) AttrListAbstract *[len];
    i = 0;
    for (AttrListAbstract *e = head; e != nullptr; e = e->next) {
        entries[i++] = e;
    }
    sort_less = less;
    sort_data = data;
    qsort(entries, static_cast<size_t>(len), sizeof(entries[0]), compare_entries);
    sort_less = nullptr;
    sort_data = nullptr;
    head = entries[0];
    tail = entries[len - 1];
    for (i = 0; i < len; ++i) {
        entries[i]->prev = i > 0 ? entries[i - 1] : nullptr;
        entries[i]->next = i + 1 < len ? entries[i + 1] : nullptr;
    }
    delete[] entries;
}
