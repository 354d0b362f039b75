// Set<T>: a set kept as a doubly linked chain of SetElem<T>, with one
// built-in iteration cursor. Elements are stored by copy and compared with
// T's ==; order is the order of Add (new elements first) and Insert (before
// the cursor element, or at the end). Copies reproduce the source's order.
//
// Remove() may take away the element under the cursor in the middle of an
// iteration: the cursor then steps back, so the next Iterate() gives the
// element that followed. Not safe for concurrent use.
#ifndef TORVEL_CORE_SET_H_
#define TORVEL_CORE_SET_H_

#include "core/allocation.h"

template <class T>
struct SetElem {
    T object;
    SetElem *next;
    SetElem *prev;
};

template <class T>
class Set {
 public:
    Set() : count(0), head(nullptr), cursor(nullptr) {}
    Set(const Set &other);
    // Clears, then inserts every element of the source in its order.
    Set &operator=(const Set &other);
    ~Set() { Clear(); }

    int Count() const { return count; }
    bool Exist(const T &x) const { return find_(x) != nullptr; }

    // Nothing when an equal element exists (false); otherwise the new element
    // becomes the first.
    bool Add(const T &x);
    // Nothing when an equal element exists (false). In an empty set, or with
    // the cursor on the first element, as Add; otherwise just before the
    // cursor element, or at the end when there is no cursor.
    bool Insert(const T &x);
    // Frees the element equal to x; false when there is none.
    bool Remove(const T &x);
    // With a cursor, frees the element just before the cursor element (the
    // one returned by the Iterate call before the last); false otherwise.
    bool RemoveLast();
    void Clear();

    void StartIterations() { cursor = nullptr; }
    // Moves the cursor on (to the first element when there is none) and
    // copies that element; false at the end, leaving no cursor.
    bool Iterate(T &x);

 private:
    SetElem<T> *find_(const T &x) const;
    void unlink_(SetElem<T> *elem);
    void linkBefore_(SetElem<T> *elem, SetElem<T> *before);

    int count;
    SetElem<T> *head;
    SetElem<T> *cursor;
};

template <class T>
Set<T>::Set(const Set &other) : count(0), head(nullptr), cursor(nullptr) {
    *this = other;
}

template <class T>
Set<T> &Set<T>::operator=(const Set &other) {
    if (this == &other) {
        return *this;
    }
    Clear();
    // Walks the source's chain directly so its cursor is left alone; with no
    // cursor here, each Insert lands at the end, keeping the source's order.
    for (const SetElem<T> *e = other.head; e != nullptr; e = e->next) {
        Insert(e->object);
    }
    return *this;
}

template <class T>
SetElem<T> *Set<T>::find_(const T &x) const {
    for (SetElem<T> *e = head; e != nullptr; e = e->next) {
        if (e->object == x) {
            return e;
        }
    }
    return nullptr;
}

template <class T>
void Set<T>::linkBefore_(SetElem<T> *elem, SetElem<T> *before) {
    elem->next = before;
    elem->prev = before->prev;
    if (before->prev != nullptr) {
        before->prev->next = elem;
    } else {
        head = elem;
    }
    before->prev = elem;
}

template <class T>
bool Set<T>::Add(const T &x) {
    if (Exist(x)) {
        return false;
    }
    SetElem<T> *elem = new (torvel::or_die) SetElem<T>{x, nullptr, nullptr};
    if (head == nullptr) {
        head = elem;
    } else {
        linkBefore_(elem, head);
    }
    count++;
    return true;
}

template <class T>
bool Set<T>::Insert(const T &x) {
    if (head == nullptr || cursor == head) {
        return Add(x);
    }
    if (Exist(x)) {
        return false;
    }
    SetElem<T> *elem = new (torvel::or_die) SetElem<T>{x, nullptr, nullptr};
    if (cursor != nullptr) {
        linkBefore_(elem, cursor);
    } else {
        SetElem<T> *tail = head;
        while (tail->next != nullptr) {
            tail = tail->next;
        }
        tail->next = elem;
        elem->prev = tail;
    }
    count++;
    return true;
}

template <class T>
void Set<T>::unlink_(SetElem<T> *elem) {
    if (elem == cursor) {
        // Step back so the next Iterate gives the element that followed and
        // never touches the freed one.
        cursor = elem->prev;
    }
    if (elem->prev != nullptr) {
        elem->prev->next = elem->next;
    } else {
        head = elem->next;
    }
    if (elem->next != nullptr) {
        elem->next->prev = elem->prev;
    }
    delete elem;
    count--;
}

template <class T>
bool Set<T>::Remove(const T &x) {
    SetElem<T> *elem = find_(x);
    if (elem == nullptr) {
        return false;
    }
    unlink_(elem);
    return true;
}

template <class T>
bool Set<T>::RemoveLast() {
    if (cursor == nullptr || cursor->prev == nullptr) {
        return false;
    }
    unlink_(cursor->prev);
    return true;
}

template <class T>
void Set<T>::Clear() {
    while (head != nullptr) {
        SetElem<T> *next = head->next;
        delete head;
        head = next;
    }
    count = 0;
    cursor = nullptr;
}

template <class T>
bool Set<T>::Iterate(T &x) {
    cursor = cursor == nullptr ? head : cursor->next;
    if (cursor == nullptr) {
        return false;
    }
    x = cursor->object;
    return true;
}

#endif  // TORVEL_CORE_SET_H_
