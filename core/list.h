// List<T>: a circular doubly linked list of object pointers with one built-in
// cursor, and ListIterator<T>, a separate read-only walker of such a list.
// The list owns its items (the links) but never the objects: it neither
// copies nor frees them. Because it owns its links it cannot be copied.
//
// The ring runs through `dummy`, which is never an element; the cursor on
// `dummy` stands before the first element. Unlinking `dummy` is a contract
// violation that ends the process through the fatal-error path.
//
// Not thread-safe: Next() moves the cursor, so even reading is not reentrant.
#ifndef TORVEL_CORE_LIST_H_
#define TORVEL_CORE_LIST_H_

#include "core/allocation.h"
#include "diagnostics/except.h"

template <class T>
class List;
template <class T>
class ListIterator;

// Copies *obj to out when obj is not null: the by-value forms of the
// accessors below. False, out untouched, for null.
template <class T>
bool _torvel_copy_out(const T *obj, T &out) {
    if (obj == nullptr) {
        return false;
    }
    out = *obj;
    return true;
}

// One link of the ring. `object` is borrowed; null only in the dummy.
template <class T>
class Item {
 public:
    explicit Item(T *obj) : next(this), prev(this), object(obj) {}
    Item(const Item &) = delete;
    Item &operator=(const Item &) = delete;

    Item *next;
    Item *prev;
    T *object;
};

template <class T>
class List {
 public:
    List() : dummy(nullptr), current(&dummy), count(0) {}
    // Unlinks every item; the objects are not freed.
    virtual ~List() {
        Item<T> *item = dummy.next;
        while (item != &dummy) {
            Item<T> *following = item->next;
            delete item;
            item = following;
        }
    }
    List(const List &) = delete;
    List &operator=(const List &) = delete;

    // A new item for obj at the end; the cursor moves to it. obj is borrowed
    // and must outlive its membership. Always true.
    bool Append(T *obj) {
        Item<T> *item = new (torvel::or_die) Item<T>(obj);
        link_before_(item, &dummy);
        current = item;
        return true;
    }
    bool Append(T &obj) { return Append(&obj); }

    // A new item just before the cursor item; with the cursor before the
    // first, that is at the end. The cursor stays. Always true.
    bool Insert(T *obj) {
        link_before_(new (torvel::or_die) Item<T>(obj), current);
        return true;
    }
    bool Insert(T &obj) { return Insert(&obj); }

    bool IsEmpty() const { return count == 0; }
    int Number() const { return count; }
    int Length() const { return count; }

    // Cursor before the first element.
    void Rewind() { current = &dummy; }

    // Advances and returns the object; at the end returns null and leaves the
    // cursor on the last item.
    T *Next() {
        if (current->next == &dummy) {
            return nullptr;
        }
        current = current->next;
        return current->object;
    }
    bool Next(T &out) { return _torvel_copy_out(Next(), out); }
    bool Next(T *&out) {
        out = Next();
        return out != nullptr;
    }
    // The cursor item is the last one (or the list is empty).
    bool AtEnd() const { return current->next == &dummy; }

    // Object under the cursor; null before the first or when empty.
    T *Current() const { return current == &dummy ? nullptr : current->object; }
    bool Current(T &out) const { return _torvel_copy_out(Current(), out); }

    // First object, without moving the cursor; null when empty.
    T *Head() const { return dummy.next->object; }
    bool Head(T &out) const { return _torvel_copy_out(Head(), out); }

    // Unlinks the cursor item and steps the cursor back to the previous item
    // (or before the first), so Next() continues with the item that followed.
    // The object is not freed. REQUIRES: the cursor is on an item; otherwise
    // the process ends with "Assertion ERROR on (current != dummy)".
    // REQUIRES: no ListIterator stands on the removed item.
    void DeleteCurrent() {
        if (current == &dummy) {
            EXCEPT("Assertion ERROR on (%s)", "current != dummy");
        }
        Item<T> *item = current;
        current = item->prev;
        unlink_(item);
    }

    // Unlinks the first item whose object pointer is p; true when found.
    // REQUIRES: no ListIterator stands on the removed item.
    bool Delete(T *p) {
        for (Item<T> *item = dummy.next; item != &dummy; item = item->next) {
            if (item->object != p) {
                continue;
            }
            if (item == current) {
                DeleteCurrent();
            } else {
                unlink_(item);
            }
            return true;
        }
        return false;
    }

 private:
    friend class ListIterator<T>;

    void link_before_(Item<T> *item, Item<T> *where) {
        item->next = where;
        item->prev = where->prev;
        where->prev->next = item;
        where->prev = item;
        ++count;
    }

    void unlink_(Item<T> *item) {
        if (item == &dummy) {
            EXCEPT("Assertion ERROR on (%s)", "item != dummy");
        }
        item->prev->next = item->next;
        item->next->prev = item->prev;
        delete item;
        --count;
    }

    Item<T> dummy;
    Item<T> *current;
    int count;
};

// Walks a list without changing it or its cursor; several may walk one list.
// position is the list's dummy before the first and null after the last.
// The list is borrowed and must outlive the iterator.
template <class T>
class ListIterator {
 public:
    // No list: behaves as an exhausted iterator.
    ListIterator() : list(nullptr), position(nullptr) {}
    explicit ListIterator(const List<T> &l) : list(&l), position(&l.dummy) {}

    void Initialize(const List<T> &l) {
        list = &l;
        position = &l.dummy;
    }

    void ToBeforeFirst() { position = list != nullptr ? &list->dummy : nullptr; }
    void ToAfterLast() { position = nullptr; }
    bool IsBeforeFirst() const { return list != nullptr && position == &list->dummy; }
    bool IsAfterLast() const { return position == nullptr; }

    // From after the last: null. Otherwise advances; stepping past the last
    // item returns null and stands before the first again.
    T *Next() {
        if (position == nullptr) {
            return nullptr;
        }
        position = position->next;
        return position->object;
    }
    bool Next(T &out) { return _torvel_copy_out(Next(), out); }
    bool Next(T *&out) {
        out = Next();
        return out != nullptr;
    }

    // From after the last: the last item. Otherwise steps back round the
    // ring; reaching the dummy gives null (before the first).
    T *Prev() {
        if (list == nullptr) {
            return nullptr;
        }
        position = position == nullptr ? list->dummy.prev : position->prev;
        return position->object;
    }
    bool Prev(T &out) { return _torvel_copy_out(Prev(), out); }

    // Object at the position; null before the first or after the last.
    T *Current() const { return position == nullptr ? nullptr : position->object; }
    bool Current(T &out) const { return _torvel_copy_out(Current(), out); }

 private:
    const List<T> *list;
    const Item<T> *position;
};

#endif  // TORVEL_CORE_LIST_H_
