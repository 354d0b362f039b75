// Torvel_MD_MAC on OpenSSL's MD5 functions.
#include "crypto/md_mac.h"

#include <openssl/crypto.h>
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "diagnostics/except.h"

namespace {
bool same_digest(const unsigned char *a, const unsigned char *b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    // Constant time, so a forger learns nothing from how long a refusal took.
    return CRYPTO_memcmp(a, b, MD5_DIGEST_LENGTH) == 0;
}

unsigned char *new_digest() {
    auto *digest = static_cast<unsigned char *>(malloc(MD5_DIGEST_LENGTH));
    ASSERT(digest);
    return digest;
}
}  // namespace

Torvel_MD_MAC::Torvel_MD_MAC() : isKeyed_(0), context_(nullptr), key_(nullptr) {
    context_ = static_cast<MD5_CTX *>(calloc(1, sizeof(MD5_CTX)));
    ASSERT(context_);
    init();
}

Torvel_MD_MAC::Torvel_MD_MAC(const KeyInfo *key) : isKeyed_(0), context_(nullptr), key_(nullptr) {
    context_ = static_cast<MD5_CTX *>(calloc(1, sizeof(MD5_CTX)));
    ASSERT(context_);
    if (key != nullptr) {
        isKeyed_ = 1;
        key_ = new (torvel::or_die) KeyInfo(*key);
    }
    init();
}

Torvel_MD_MAC::~Torvel_MD_MAC() {
    delete key_;
    OPENSSL_cleanse(context_, sizeof(MD5_CTX));
    free(context_);
}

void Torvel_MD_MAC::init() {
    MD5_Init(context_);
    if (isKeyed_ && key_->getKeyLength() > 0) {
        MD5_Update(context_, key_->getKeyData(), static_cast<size_t>(key_->getKeyLength()));
    }
}

void Torvel_MD_MAC::addMD(const unsigned char *data, unsigned long length) {
    if (data == nullptr || length == 0) {
        return;
    }
    MD5_Update(context_, data, length);
}

unsigned char *Torvel_MD_MAC::computeMD() {
    unsigned char *digest = new_digest();
    MD5_Final(digest, context_);
    init();
    return digest;
}

bool Torvel_MD_MAC::verifyMD(const unsigned char *digest) {
    unsigned char *computed = computeMD();
    bool same = same_digest(computed, digest);
    free(computed);
    return same;
}

unsigned char *Torvel_MD_MAC::computeOnce(const unsigned char *data, unsigned long length) {
    Torvel_MD_MAC mac;
    mac.addMD(data, length);
    return mac.computeMD();
}

unsigned char *Torvel_MD_MAC::computeOnce(const unsigned char *data, unsigned long length,
                                          const KeyInfo *key) {
    // A keyed digest never silently degrades to an unkeyed one.
    if (key == nullptr) {
        return nullptr;
    }
    Torvel_MD_MAC mac(key);
    mac.addMD(data, length);
    return mac.computeMD();
}

bool Torvel_MD_MAC::verifyMD(const unsigned char *digest, const unsigned char *data,
                             unsigned long length) {
    unsigned char *computed = computeOnce(data, length);
    bool same = same_digest(computed, digest);
    free(computed);
    return same;
}

bool Torvel_MD_MAC::verifyMD(const unsigned char *digest, const unsigned char *data,
                             unsigned long length, const KeyInfo *key) {
    unsigned char *computed = computeOnce(data, length, key);
    bool same = same_digest(computed, digest);
    free(computed);
    return same;
}
