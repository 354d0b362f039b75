// The two string key types of the generic hash table: HashKey (exact
// comparison) and AttrKey (comparison ignoring case), each owning a malloc'd
// copy of its text, with their bucket functions.
#ifndef TORVEL_CONFIG_HASH_KEY_H_
#define TORVEL_CONFIG_HASH_KEY_H_

#include <iosfwd>

class HashKey {
 public:
    HashKey() = default;
    HashKey(const char *key);  // NOLINT: implicit, keys are built from texts
    HashKey(const HashKey &other);
    ~HashKey();

    HashKey &operator=(const HashKey &other);
    // Frees the old text and keeps a copy of key (null allowed).
    HashKey &operator=(const char *key);
    // Exact comparison; two keys without text are equal.
    bool operator==(const HashKey &other) const;

    // Copies the key (or "" without one) into buffer.
    // REQUIRES: buffer holds strlen(key) + 1 bytes.
    void sprint(char *buffer) const;
    // Borrowed: the key's text, or null.
    const char *value() const { return key_; }

 private:
    char *key_ = nullptr;
};

// Writes "Hashkey: ", the key and an end of line.
std::ostream &operator<<(std::ostream &out, const HashKey &key);

// A key without text gives 0; otherwise the sum of its bytes as signed chars,
// taken as a 32-bit unsigned number, modulo size.
// REQUIRES: size >= 1 (0 is returned otherwise).
int hashFunction(const HashKey &key, int size);

class AttrKey {
 public:
    AttrKey() = default;
    AttrKey(const char *key);  // NOLINT: implicit, keys are built from texts
    AttrKey(const AttrKey &other);
    ~AttrKey();

    AttrKey &operator=(const AttrKey &other);
    AttrKey &operator=(const char *key);
    // Comparison ignoring ASCII case; a key without text equals "".
    bool operator==(const AttrKey &other) const;

    // Borrowed: the key's text, or "" when there is none.
    const char *value() const;

 private:
    char *key_ = nullptr;
};

// Sum of the lower-cased bytes (as signed chars, last to first) taken as a
// 32-bit unsigned number, modulo size: always 0 .. size-1, also for bytes
// above 127. REQUIRES: size >= 1 (0 is returned otherwise).
int AttrKeyHashFunction(const AttrKey &key, int size);

#endif  // TORVEL_CONFIG_HASH_KEY_H_
