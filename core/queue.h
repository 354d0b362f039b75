// Queue<T>: a first-in first-out queue in a ring that doubles when full.
// Elements are stored by copy (a pointer element is copied as a pointer; the
// pointed-to object stays the caller's). Membership uses an optional compare
// function (0 meaning equal) or else T's ==. Results are 0 or -1.
// Not safe for concurrent use.
#ifndef TORVEL_CORE_QUEUE_H_
#define TORVEL_CORE_QUEUE_H_

#include <limits.h>

#include <new>

#include "core/allocation.h"

template <class T>
class Queue {
 public:
    typedef int (*CompareFunction)(T, T);

    // A size of 0 or less gives 32 slots. `compare` may be null.
    explicit Queue(int size = 32, CompareFunction compare = nullptr);
    Queue(const Queue &other);
    Queue &operator=(const Queue &other);
    ~Queue() { delete[] ring; }

    // 0, or -1 when the ring was full and could not grow (nothing changes).
    int enqueue(const T &x);
    // 0, or -1 when empty.
    int dequeue(T &x);

    bool IsEmpty() const { return length == 0; }
    bool IsFull() const { return length == capacity; }
    int Length() const { return length; }
    void clear() {
        length = 0;
        head = 0;
        tail = 0;
    }
    bool IsMember(const T &x) const;

 private:
    // Copies the elements, oldest first, into a new ring of `slots` slots;
    // null when memory runs out.
    T *copyOut_(int slots) const;

    int capacity;
    T *ring;
    int length;
    int tail;
    int head;
    CompareFunction compare;
};

template <class T>
Queue<T>::Queue(int size, CompareFunction compare)
    : capacity(size > 0 ? size : 32), ring(nullptr), length(0), tail(0), head(0), compare(compare) {
    ring = new (torvel::or_die) T[capacity]();
}

template <class T>
T *Queue<T>::copyOut_(int slots) const {
    T *fresh = new (std::nothrow) T[slots]();
    if (fresh == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < length; i++) {
        fresh[i] = ring[(head + i) % capacity];
    }
    return fresh;
}

template <class T>
Queue<T>::Queue(const Queue &other)
    : capacity(other.capacity),
      ring(nullptr),
      length(other.length),
      tail(other.tail),
      head(other.head),
      compare(other.compare) {
    ring = new (torvel::or_die) T[capacity]();
    for (int i = 0; i < capacity; i++) {
        ring[i] = other.ring[i];
    }
}

template <class T>
Queue<T> &Queue<T>::operator=(const Queue &other) {
    if (this == &other) {
        return *this;
    }
    T *fresh = new (torvel::or_die) T[other.capacity]();
    for (int i = 0; i < other.capacity; i++) {
        fresh[i] = other.ring[i];
    }
    delete[] ring;
    ring = fresh;
    capacity = other.capacity;
    length = other.length;
    tail = other.tail;
    head = other.head;
    compare = other.compare;
    return *this;
}

template <class T>
int Queue<T>::enqueue(const T &x) {
    if (length == capacity) {
        if (capacity > INT_MAX / 2) {
            return -1;
        }
        T *fresh = copyOut_(2 * capacity);
        if (fresh == nullptr) {
            return -1;
        }
        delete[] ring;
        ring = fresh;
        head = 0;
        tail = length;
        capacity *= 2;
    }
    ring[tail] = x;
    tail = (tail + 1) % capacity;
    length++;
    return 0;
}

template <class T>
int Queue<T>::dequeue(T &x) {
    if (length == 0) {
        return -1;
    }
    x = ring[head];
    head = (head + 1) % capacity;
    length--;
    return 0;
}

template <class T>
bool Queue<T>::IsMember(const T &x) const {
    for (int i = 0; i < length; i++) {
        const T &element = ring[(head + i) % capacity];
        if (compare != nullptr ? compare(element, x) == 0 : element == x) {
            return true;
        }
    }
    return false;
}

#endif  // TORVEL_CORE_QUEUE_H_
