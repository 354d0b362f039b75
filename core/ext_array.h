// ExtArray<T>: a self-growing array with a filler value. Writing past the
// allocated slots grows the array to about twice the index; reading past the
// highest index in use (or past the allocated slots) yields the filler instead
// of growing. Elements are stored by copy; a pointer element is copied as a
// pointer and what it points to stays the caller's.
//
// Running out of memory is not survivable here: it is logged ("ExtArray: Out
// of memory") and the process exits with status 1. Not safe for concurrent use.
#ifndef TORVEL_CORE_EXT_ARRAY_H_
#define TORVEL_CORE_EXT_ARRAY_H_

#include <limits.h>
#include <stdlib.h>

#include <new>

#include "diagnostics/debug_log.h"

template <class T>
class ExtArray {
 public:
    // A negative size is taken as 0.
    explicit ExtArray(int size = 64);
    ExtArray(const ExtArray &other);
    // Deep copy, like the copy constructor; self-assignment changes nothing.
    ExtArray &operator=(const ExtArray &other);
    ~ExtArray();

    // Element i; a negative i reads element 0. An i beyond getlast(), or
    // beyond the allocated slots (possible after resize or truncate), reads
    // the filler. Never grows the array.
    const T &operator[](int i) const;
    // Writable element i; a negative i means 0. An i at or beyond getsize()
    // first grows the array to 2 * i slots (at least 1). Raises getlast() to i.
    T &operator[](int i);

    // Like the writable index, but grows to 2 * i + 2 slots; then stores v.
    void set(int i, T v);
    // set(getlast() + 1, v).
    void add(T v);

    // Reallocates to exactly n slots (a negative n is taken as 0): slots from
    // the old size up get the filler. getlast() is not touched.
    void resize(int n);
    // Sets getlast() to n and nothing else.
    void truncate(int n) { last = n; }
    // Every slot becomes v, and so does the filler.
    void fill(T v);
    void setFiller(T v) { filler = v; }

    int getsize() const { return size; }
    int getlast() const { return last; }
    // The element array itself, getsize() slots; owned by the array.
    T *getarray() { return elements; }
    const T *getarray() const { return elements; }

    // Pointer to slot i, with i clamped into 0 .. getsize()-1; null when the
    // array has no slots at all.
    T *getElementAt(int i);

 private:
    [[noreturn]] static void outOfMemory_();
    static T *allocate_(int n);
    // Grows so that index i exists, to `want` slots (computed without overflow).
    void growFor_(int i, long long want);

    T *elements;
    int size;
    int last;
    T filler;
};

template <class T>
void ExtArray<T>::outOfMemory_() {
    dprintf(D_ALWAYS, "ExtArray: Out of memory");
    exit(1);
}

template <class T>
T *ExtArray<T>::allocate_(int n) {
    // Value-initialised so that plain element types never hold garbage.
    T *fresh = new (std::nothrow) T[n > 0 ? n : 0]();
    if (fresh == nullptr) {
        outOfMemory_();
    }
    return fresh;
}

template <class T>
ExtArray<T>::ExtArray(int size) : elements(nullptr), size(size > 0 ? size : 0), last(-1), filler() {
    elements = allocate_(this->size);
}

template <class T>
ExtArray<T>::ExtArray(const ExtArray &other)
    : elements(nullptr), size(other.size), last(other.last), filler(other.filler) {
    elements = allocate_(size);
    for (int i = 0; i < size; i++) {
        elements[i] = other.elements[i];
    }
}

template <class T>
ExtArray<T> &ExtArray<T>::operator=(const ExtArray &other) {
    if (this == &other) {
        return *this;
    }
    T *fresh = allocate_(other.size);
    for (int i = 0; i < other.size; i++) {
        fresh[i] = other.elements[i];
    }
    delete[] elements;
    elements = fresh;
    size = other.size;
    last = other.last;
    filler = other.filler;
    return *this;
}

template <class T>
ExtArray<T>::~ExtArray() {
    delete[] elements;
}

template <class T>
const T &ExtArray<T>::operator[](int i) const {
    if (i < 0) {
        i = 0;
    }
    if (i > last || i >= size) {
        return filler;
    }
    return elements[i];
}

template <class T>
void ExtArray<T>::growFor_(int i, long long want) {
    if (i < size) {
        return;
    }
    if (want > INT_MAX) {
        outOfMemory_();  // no slot count can hold such an index
    }
    resize(want > 0 ? static_cast<int>(want) : 1);
}

template <class T>
T &ExtArray<T>::operator[](int i) {
    if (i < 0) {
        i = 0;
    }
    growFor_(i, 2LL * i);
    if (i > last) {
        last = i;
    }
    return elements[i];
}

template <class T>
void ExtArray<T>::set(int i, T v) {
    if (i < 0) {
        i = 0;
    }
    growFor_(i, 2LL * i + 2);
    if (i > last) {
        last = i;
    }
    elements[i] = v;
}

template <class T>
void ExtArray<T>::add(T v) {
    set(last + 1, v);
}

template <class T>
void ExtArray<T>::resize(int n) {
    if (n < 0) {
        n = 0;
    }
    T *fresh = allocate_(n);
    for (int i = size; i < n; i++) {
        fresh[i] = filler;
    }
    int keep = size < n ? size : n;
    for (int i = 0; i < keep; i++) {
        fresh[i] = elements[i];
    }
    delete[] elements;
    elements = fresh;
    size = n;
}

template <class T>
void ExtArray<T>::fill(T v) {
    for (int i = 0; i < size; i++) {
        elements[i] = v;
    }
    filler = v;
}

template <class T>
T *ExtArray<T>::getElementAt(int i) {
    if (size == 0) {
        return nullptr;
    }
    if (i < 0) {
        i = 0;
    }
    if (i >= size) {
        i = size - 1;
    }
    return &elements[i];
}

#endif  // TORVEL_CORE_EXT_ARRAY_H_
