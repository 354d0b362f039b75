// HashKey and AttrKey: owned string keys for the generic hash table.
#include "config/hash_key.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <ostream>

#include "diagnostics/except.h"

namespace {

char *copy_key(const char *key) {
    if (key == nullptr) {
        return nullptr;
    }
    char *copy = strdup(key);
    if (copy == nullptr) {
        EXCEPT("Out of memory copying a hash key");
    }
    return copy;
}

// Replaces *slot by a copy of key; safe when key is *slot itself.
void assign_key(char **slot, const char *key) {
    char *copy = copy_key(key);
    free(*slot);
    *slot = copy;
}

}  // namespace

HashKey::HashKey(const char *key) : key_(copy_key(key)) {}

HashKey::HashKey(const HashKey &other) : key_(copy_key(other.key_)) {}

HashKey::~HashKey() {
    free(key_);
}

HashKey &HashKey::operator=(const HashKey &other) {
    assign_key(&key_, other.key_);
    return *this;
}

HashKey &HashKey::operator=(const char *key) {
    assign_key(&key_, key);
    return *this;
}

bool HashKey::operator==(const HashKey &other) const {
    if (key_ == nullptr || other.key_ == nullptr) {
        return key_ == other.key_;
    }
    return strcmp(key_, other.key_) == 0;
}

void HashKey::sprint(char *buffer) const {
    strcpy(buffer, key_ != nullptr ? key_ : "");
}

std::ostream &operator<<(std::ostream &out, const HashKey &key) {
    out << "Hashkey: " << (key.value() != nullptr ? key.value() : "") << std::endl;
    return out;
}

int hashFunction(const HashKey &key, int size) {
    if (size < 1 || key.value() == nullptr) {
        return 0;
    }
    unsigned int sum = 0;
    for (const char *p = key.value(); *p != '\0'; ++p) {
        sum += static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(*p)));
    }
    return static_cast<int>(sum % static_cast<unsigned int>(size));
}

AttrKey::AttrKey(const char *key) : key_(copy_key(key)) {}

AttrKey::AttrKey(const AttrKey &other) : key_(copy_key(other.key_)) {}

AttrKey::~AttrKey() {
    free(key_);
}

AttrKey &AttrKey::operator=(const AttrKey &other) {
    assign_key(&key_, other.key_);
    return *this;
}

AttrKey &AttrKey::operator=(const char *key) {
    assign_key(&key_, key);
    return *this;
}

bool AttrKey::operator==(const AttrKey &other) const {
    return strcasecmp(value(), other.value()) == 0;
}

const char *AttrKey::value() const {
    return key_ != nullptr ? key_ : "";
}

int AttrKeyHashFunction(const AttrKey &key, int size) {
    if (size < 1) {
        return 0;
    }
    const char *text = key.value();
    // Unsigned arithmetic: bytes above 127 are negative as signed chars and
    // could otherwise make the sum, and so the bucket, negative.
    unsigned int sum = 0;
    for (size_t i = strlen(text); i > 0; --i) {
        char c = text[i - 1];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        sum += static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(c)));
    }
    return static_cast<int>(sum % static_cast<unsigned int>(size));
}
