// Torvel_Crypt_Base: key copy, sizes, random keys and the text hash.
#include "crypto/crypt_base.h"

#include <limits.h>
#include <openssl/rand.h>
#include <stdlib.h>
#include <string.h>

#include "core/random_numbers.h"
#include "crypto/md_mac.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

namespace {
bool rand_seeded = false;

void seed_generator_once() {
    if (rand_seeded) {
        return;
    }
    unsigned char seed[128];
    for (unsigned char &byte : seed) {
        byte = static_cast<unsigned char>(get_random_int() & 0xff);
    }
    RAND_seed(seed, sizeof(seed));
    rand_seeded = true;
}
}  // namespace

Torvel_Crypt_Base::Torvel_Crypt_Base(Protocol protocol, const KeyInfo &key) : keyInfo_(key) {
    ASSERT(keyInfo_.getProtocol() == protocol);
}

Torvel_Crypt_Base::~Torvel_Crypt_Base() = default;

int Torvel_Crypt_Base::encryptedSize(int input_length, int block_size) {
    if (input_length < 0 || block_size <= 0) {
        return -1;
    }
    long long size = static_cast<long long>(input_length) + block_size - input_length % block_size;
    return size > INT_MAX ? -1 : static_cast<int>(size);
}

unsigned char *Torvel_Crypt_Base::randomKey(int length) {
    if (length <= 0) {
        return nullptr;
    }
    auto *key = static_cast<unsigned char *>(calloc(static_cast<size_t>(length), 1));
    if (key == nullptr) {
        return nullptr;
    }
    seed_generator_once();
    // A key from a generator that reports failure is not a key.
    if (RAND_bytes(key, length) != 1) {
        dprintf(D_ALWAYS | D_SECURITY, "randomKey: RAND_bytes failed for %d bytes\n", length);
        free(key);
        return nullptr;
    }
    return key;
}

unsigned char *Torvel_Crypt_Base::oneWayHashKey(const char *text) {
    if (text == nullptr) {
        return nullptr;
    }
    return Torvel_MD_MAC::computeOnce(reinterpret_cast<const unsigned char *>(text), strlen(text));
}

bool Torvel_Crypt_Base::prepare_output(const unsigned char *in, int len, unsigned char *&out,
                                       int &out_len) {
    out = nullptr;
    out_len = 0;
    if (len < 0 || (in == nullptr && len > 0)) {
        return false;
    }
    // One byte at least, so an empty input still yields a buffer to free.
    out = static_cast<unsigned char *>(malloc(len > 0 ? static_cast<size_t>(len) : 1));
    if (out == nullptr) {
        return false;
    }
    out_len = len;
    return true;
}
