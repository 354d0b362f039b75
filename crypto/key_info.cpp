// KeyInfo: owned key bytes, copying and key stretching.
#include "crypto/key_info.h"

#include <stdlib.h>
#include <string.h>

#include "diagnostics/except.h"

KeyInfo::KeyInfo() : keyData_(nullptr), keyDataLen_(0), protocol_(CIPHER_NONE), duration_(0) {}

KeyInfo::KeyInfo(const unsigned char *key, int length, Protocol protocol, int duration)
    : keyData_(nullptr), keyDataLen_(0), protocol_(protocol), duration_(duration) {
    init(key, length);
}

KeyInfo::KeyInfo(const KeyInfo &other)
    : keyData_(nullptr), keyDataLen_(0), protocol_(other.protocol_), duration_(other.duration_) {
    init(other.keyData_, other.keyDataLen_);
}

KeyInfo &KeyInfo::operator=(const KeyInfo &other) {
    if (this == &other) {
        return *this;
    }
    init(other.keyData_, other.keyDataLen_);
    protocol_ = other.protocol_;
    duration_ = other.duration_;
    return *this;
}

KeyInfo::~KeyInfo() {
    release();
}

void KeyInfo::release() {
    free(keyData_);
    keyData_ = nullptr;
    keyDataLen_ = 0;
}

void KeyInfo::init(const unsigned char *key, int length) {
    // Re-initialising must not leak the previous bytes, nor leave stale key
    // material behind a length of 0.
    release();
    if (key == nullptr || length <= 0) {
        return;
    }
    keyData_ = static_cast<unsigned char *>(calloc(static_cast<size_t>(length) + 1, 1));
    ASSERT(keyData_);
    memcpy(keyData_, key, static_cast<size_t>(length));
    keyDataLen_ = length;
}

unsigned char *KeyInfo::getPaddedKeyData(int len) const {
    if (keyData_ == nullptr || keyDataLen_ <= 0 || len <= 0) {
        return nullptr;
    }
    unsigned char *padded_key_buf =
        static_cast<unsigned char *>(calloc(static_cast<size_t>(len) + 1, 1));
    ASSERT(padded_key_buf);
    if (keyDataLen_ > len) {
        memcpy(padded_key_buf, keyData_, static_cast<size_t>(len));
        for (int i = len; i < keyDataLen_; i++) {
            padded_key_buf[i % len] ^= keyData_[i];
        }
    } else {
        memcpy(padded_key_buf, keyData_, static_cast<size_t>(keyDataLen_));
        for (int i = keyDataLen_; i < len; i++) {
            padded_key_buf[i] = padded_key_buf[i - keyDataLen_];
        }
    }
    return padded_key_buf;
}
