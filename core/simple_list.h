// SimpleList<T>: an array-backed list with one built-in cursor, and
// SimpleListIterator<T>, a separate read-only walker over such a list.
// Items are stored by copy (a pointer item is copied as a pointer; the
// pointed-to object stays the caller's). The array starts with one slot and
// doubles when full; a failed growth makes Append/Prepend return false.
//
// The cursor is an index: -1 stands before the first item. Removing the item
// under the cursor steps the cursor back, so the next Next() gives the item
// that followed. Not safe for concurrent use.
#ifndef TORVEL_CORE_SIMPLE_LIST_H_
#define TORVEL_CORE_SIMPLE_LIST_H_

#include <limits.h>

#include <new>

#include "core/allocation.h"

template <class T>
class SimpleListIterator;

template <class T>
class SimpleList {
 public:
    SimpleList();
    SimpleList(const SimpleList &other);
    // Deep copy, like the copy constructor (cursor included).
    SimpleList &operator=(const SimpleList &other);
    ~SimpleList();

    // Both grow to twice the slots when full; false when that fails.
    bool Append(const T &item);
    bool Prepend(const T &item);

    bool IsEmpty() const { return count == 0; }
    int Number() const { return count; }
    int Length() const { return count; }
    // Slots allocated, for callers that size things from it.
    int Slots() const { return slots; }

    void Clear() {
        count = 0;
        cursor = -1;
    }
    void Rewind() { cursor = -1; }

    // The item under the cursor; false before the first or past the end.
    bool Current(T &item) const;
    // Advances and gives the item; false, without moving, at the last item.
    bool Next(T &item);
    // As Next(T&), giving a pointer to the stored item (valid until the list
    // next grows or shifts).
    bool Next(T *&item);
    bool AtEnd() const { return cursor >= count - 1; }

    // Removes the item under the cursor (later items shift down) and steps
    // the cursor back. False when the cursor is on no item.
    bool DeleteCurrent();
    // Removes the first item equal to x, or every such item when `all`.
    // Removing the cursor item or one before it steps the cursor back, so the
    // cursor never skips an item. True when anything was removed.
    bool Delete(const T &x, bool all = false);
    // Overwrites the item under the cursor; false without one.
    bool ReplaceCurrent(const T &item);
    bool IsMember(const T &x) const;

    // Reallocates to n slots keeping the first items (and dropping any that
    // no longer fit, pulling the cursor back onto the list). False, with
    // nothing changed, when n < 1 or memory runs out.
    bool resize(int n);

 private:
    friend class SimpleListIterator<T>;

    bool makeRoom_();
    void removeAt_(int i);

    int slots;
    T *items;
    int count;
    int cursor;
};

// Walks a SimpleList without touching its cursor. The list must outlive the
// iterator. Index -1 is before the first item, -2 after the last.
template <class T>
class SimpleListIterator {
 public:
    SimpleListIterator() : list(nullptr), index(-1) {}
    explicit SimpleListIterator(const SimpleList<T> &l) : list(&l), index(-1) {}
    void Initialize(const SimpleList<T> &l) {
        list = &l;
        index = -1;
    }

    void ToBeforeFirst() { index = -1; }
    void ToAfterLast() { index = -2; }
    bool IsBeforeFirst() const { return index == -1; }
    bool IsAfterLast() const { return index == -2; }

    // False without a list or after the last; at the last item moves to
    // after the last and gives false; otherwise advances and gives the item.
    bool Next(T &item);
    // As Next(T&) with a pointer to the stored item, which the caller may
    // change through it.
    bool Next(T *&item);
    // False without a list or before the first; from after the last steps to
    // the last item; stepping back from the first item stands before the
    // first and gives false.
    bool Prev(T &item);
    bool Current(T &item) const;

 private:
    bool step_();

    const SimpleList<T> *list;
    int index;
};

template <class T>
SimpleList<T>::SimpleList() : slots(1), items(new (torvel::or_die) T[1]()), count(0), cursor(-1) {}

template <class T>
SimpleList<T>::SimpleList(const SimpleList &other)
    : slots(other.slots),
      items(new (torvel::or_die) T[other.slots]()),
      count(other.count),
      cursor(other.cursor) {
    for (int i = 0; i < count; i++) {
        items[i] = other.items[i];
    }
}

template <class T>
SimpleList<T> &SimpleList<T>::operator=(const SimpleList &other) {
    if (this == &other) {
        return *this;
    }
    T *fresh = new (torvel::or_die) T[other.slots]();
    for (int i = 0; i < other.count; i++) {
        fresh[i] = other.items[i];
    }
    delete[] items;
    items = fresh;
    slots = other.slots;
    count = other.count;
    cursor = other.cursor;
    return *this;
}

template <class T>
SimpleList<T>::~SimpleList() {
    delete[] items;
}

template <class T>
bool SimpleList<T>::resize(int n) {
    if (n < 1) {
        return false;
    }
    T *fresh = new (std::nothrow) T[n]();
    if (fresh == nullptr) {
        return false;
    }
    int keep = count < n ? count : n;
    for (int i = 0; i < keep; i++) {
        fresh[i] = items[i];
    }
    delete[] items;
    items = fresh;
    slots = n;
    count = keep;
    if (cursor >= count) {
        cursor = count - 1;
    }
    return true;
}

template <class T>
bool SimpleList<T>::makeRoom_() {
    if (count < slots) {
        return true;
    }
    if (slots > INT_MAX / 2) {
        return false;
    }
    return resize(2 * slots);
}

template <class T>
bool SimpleList<T>::Append(const T &item) {
    // A copy first: `item` may live in the array that growth replaces.
    T value = item;
    if (!makeRoom_()) {
        return false;
    }
    items[count++] = value;
    return true;
}

template <class T>
bool SimpleList<T>::Prepend(const T &item) {
    T value = item;
    if (!makeRoom_()) {
        return false;
    }
    for (int i = count; i > 0; i--) {
        items[i] = items[i - 1];
    }
    items[0] = value;
    count++;
    return true;
}

template <class T>
bool SimpleList<T>::Current(T &item) const {
    if (cursor < 0 || cursor >= count) {
        return false;
    }
    item = items[cursor];
    return true;
}

template <class T>
bool SimpleList<T>::Next(T &item) {
    if (cursor >= count - 1) {
        return false;
    }
    item = items[++cursor];
    return true;
}

template <class T>
bool SimpleList<T>::Next(T *&item) {
    if (cursor >= count - 1) {
        return false;
    }
    item = &items[++cursor];
    return true;
}

template <class T>
void SimpleList<T>::removeAt_(int i) {
    for (int j = i; j < count - 1; j++) {
        items[j] = items[j + 1];
    }
    count--;
    if (i <= cursor) {
        cursor--;
    }
}

template <class T>
bool SimpleList<T>::DeleteCurrent() {
    if (cursor < 0 || cursor >= count) {
        return false;
    }
    removeAt_(cursor);
    return true;
}

template <class T>
bool SimpleList<T>::Delete(const T &x, bool all) {
    // Compare against a copy: x may be an item that the shifting overwrites.
    T target = x;
    bool removed = false;
    int i = 0;
    while (i < count) {
        if (items[i] == target) {
            removeAt_(i);
            removed = true;
            if (!all) {
                break;
            }
        } else {
            i++;
        }
    }
    return removed;
}

template <class T>
bool SimpleList<T>::ReplaceCurrent(const T &item) {
    if (cursor < 0 || cursor >= count) {
        return false;
    }
    items[cursor] = item;
    return true;
}

template <class T>
bool SimpleList<T>::IsMember(const T &x) const {
    for (int i = 0; i < count; i++) {
        if (items[i] == x) {
            return true;
        }
    }
    return false;
}

// Moves the index one item on; false (and after the last) when there is none.
template <class T>
bool SimpleListIterator<T>::step_() {
    if (list == nullptr || index == -2) {
        return false;
    }
    if (index >= list->count - 1) {
        index = -2;
        return false;
    }
    index++;
    return true;
}

template <class T>
bool SimpleListIterator<T>::Next(T &item) {
    if (!step_()) {
        return false;
    }
    item = list->items[index];
    return true;
}

template <class T>
bool SimpleListIterator<T>::Next(T *&item) {
    if (!step_()) {
        return false;
    }
    item = &const_cast<SimpleList<T> *>(list)->items[index];
    return true;
}

template <class T>
bool SimpleListIterator<T>::Prev(T &item) {
    if (list == nullptr || index == -1) {
        return false;
    }
    if (index == -2 || index > list->count) {
        // From after the last (or from a place the list has shrunk away
        // from), the previous item is the last one.
        index = list->count - 1;
    } else {
        index--;
    }
    if (index < 0) {
        index = -1;
        return false;
    }
    item = list->items[index];
    return true;
}

template <class T>
bool SimpleListIterator<T>::Current(T &item) const {
    if (list == nullptr || index < 0 || index >= list->count) {
        return false;
    }
    item = list->items[index];
    return true;
}

#endif  // TORVEL_CORE_SIMPLE_LIST_H_
