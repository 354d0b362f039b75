// Stream: construction, direction dispatch of code(), the one-int message
// helpers and the cipher and digest hooks.
#include "stream/stream.h"

#include <stdlib.h>

#include "core/allocation.h"
#include "crypto/crypt_3des.h"
#include "crypto/crypt_blowfish.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

int putcount = 0;
int getcount = 0;

Stream::Stream(stream_code form)
    : crypto_(nullptr),
      crypto_mode_(false),
      words_through_windows_(form == portable),
      md_mode_(MD_OFF),
      md_key_(nullptr),
      _code(form),
      _coding(ENCODING),
      allow_empty_message_flag_(0),
      decrypt_buffer_(nullptr),
      put_next_(nullptr),
      put_end_(nullptr),
      word_put_end_(nullptr),
      get_next_(nullptr),
      get_end_(nullptr) {}

Stream::~Stream() {
    delete crypto_;
    delete md_key_;
    free(decrypt_buffer_);
}

void Stream::allow_one_empty_message() {
    allow_empty_message_flag_ = 1;
}

template <typename T>
int Stream::dispatch(T &value, const char *what) {
    switch (_coding) {
        case DECODING:
            return get(value);
        case ENCODING:
            return put(value);
        case UNKNOWN_DIRECTION:
            EXCEPT("ERROR: Stream::code(%s) has unknown direction!", what);
        default:
            EXCEPT("ERROR: Stream::code(%s)'s _coding is illegal!", what);
    }
}

int Stream::code(char &c) {
    return dispatch(c, "char &c");
}
int Stream::code(unsigned char &c) {
    return dispatch(c, "unsigned char &c");
}
int Stream::code(int &i) {
    return dispatch(i, "int &i");
}
int Stream::code(unsigned int &i) {
    return dispatch(i, "unsigned int &i");
}
int Stream::code(long &l) {
    return dispatch(l, "long &l");
}
int Stream::code(unsigned long &l) {
    return dispatch(l, "unsigned long &l");
}
int Stream::code(long long &l) {
    return dispatch(l, "long long &l");
}
int Stream::code(unsigned long long &l) {
    return dispatch(l, "unsigned long long &l");
}
int Stream::code(short &s) {
    return dispatch(s, "short &s");
}
int Stream::code(unsigned short &s) {
    return dispatch(s, "unsigned short &s");
}
int Stream::code(float &f) {
    return dispatch(f, "float &f");
}
int Stream::code(double &d) {
    return dispatch(d, "double &d");
}
int Stream::code(char *&s) {
    return dispatch(s, "char *&s");
}

int Stream::code(char *&s, int &len) {
    switch (_coding) {
        case DECODING:
            return get(s, len);
        case ENCODING:
            return put(s, len);
        case UNKNOWN_DIRECTION:
            EXCEPT("ERROR: Stream::code(char *&s, int &len) has unknown direction!");
        default:
            EXCEPT("ERROR: Stream::code(char *&s, int &len)'s _coding is illegal!");
    }
}

int Stream::code_bytes(void *p, int len) {
    if (len < 0 || (p == nullptr && len > 0)) {
        dprintf(D_NETWORK, "Stream::code_bytes refused a length of %d\n", len);
        return -1;
    }
    switch (_coding) {
        case DECODING:
            return read_bytes(p, len);
        case ENCODING:
            return write_bytes(p, len);
        case UNKNOWN_DIRECTION:
            EXCEPT("ERROR: Stream::code(void *p, int l) has unknown direction!");
        default:
            EXCEPT("ERROR: Stream::code(void *p, int l)'s _coding is illegal!");
    }
}

bool Stream::code_bytes_bool(void *p, int len) {
    // A short transfer leaves part of the buffer unset: it is a failure.
    return len >= 0 && code_bytes(p, len) == len;
}

int Stream::snd_int(int value, int end) {
    encode();
    if (!code(value)) {
        return 0;
    }
    return end ? (finish_message() != 0) : 1;
}

int Stream::rcv_int(int &value, int end) {
    decode();
    if (!code(value)) {
        return 0;
    }
    return end ? (finish_message() != 0) : 1;
}

bool Stream::initialize_crypto(const KeyInfo *key) {
    delete crypto_;
    crypto_ = nullptr;
    set_crypto_flag(false);
    if (key == nullptr) {
        return false;
    }
    switch (key->getProtocol()) {
        case CIPHER_BLOWFISH:
            crypto_ = new (torvel::or_die) Torvel_Crypt_Blowfish(*key);
            break;
        case CIPHER_3DES:
            crypto_ = new (torvel::or_die) Torvel_Crypt_3des(*key);
            break;
        default:
            break;
    }
    return crypto_ != nullptr;
}

bool Stream::set_crypto_key(bool enable, const KeyInfo *key, const char *keyId) {
    bool inited = true;
    if (key != nullptr) {
        inited = initialize_crypto(key);
    } else {
        delete crypto_;
        crypto_ = nullptr;
        set_crypto_flag(false);
        ASSERT(keyId == 0);
        ASSERT(enable == false);
    }
    if (inited) {
        set_key_id(keyId);
        set_crypto_mode(enable);
    }
    return inited;
}

void Stream::set_crypto_mode(bool enable) {
    if (enable && crypto_ != nullptr) {
        set_crypto_flag(true);
        return;
    }
    if (enable) {
        dprintf(D_SECURITY, "NOT enabling crypto - there was no key exchanged.\n");
    }
    set_crypto_flag(false);
}

bool Stream::wrap(const unsigned char *in, int len, unsigned char *&out, int &out_len) {
    if (!crypto_mode_) {
        out = nullptr;
        out_len = 0;
        return false;
    }
    return crypto_->encrypt(in, len, out, out_len);
}

bool Stream::unwrap(const unsigned char *in, int len, unsigned char *&out, int &out_len) {
    if (!crypto_mode_) {
        out = nullptr;
        out_len = 0;
        return false;
    }
    return crypto_->decrypt(in, len, out, out_len);
}

void Stream::resetCrypto() {
    if (crypto_mode_) {
        crypto_->resetState();
    }
}

const KeyInfo &Stream::get_crypto_key() const {
    ASSERT(crypto_);
    return crypto_->get_key();
}

bool Stream::set_MD_mode(TORVEL_MD_MODE mode, const KeyInfo *key, const char *keyId) {
    md_mode_ = mode;
    delete md_key_;
    md_key_ = key != nullptr ? new (torvel::or_die) KeyInfo(*key) : nullptr;
    return start_digest(mode, md_key_, keyId);
}

KeyInfo *Stream::get_md_key() const {
    ASSERT(md_key_);
    return md_key_;
}
