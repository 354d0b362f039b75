// Torvel_Crypt_Blowfish on OpenSSL's BF_cfb64_encrypt.
#include "crypto/crypt_blowfish.h"

#include <openssl/crypto.h>
#include <string.h>

#include "diagnostics/debug_log.h"

Torvel_Crypt_Blowfish::Torvel_Crypt_Blowfish(const KeyInfo &key)
    : Torvel_Crypt_Base(CIPHER_BLOWFISH, key), num_(0), keyed_(false) {
    resetState();
    memset(&key_, 0, sizeof(key_));
    if (keyInfo_.getKeyData() == nullptr || keyInfo_.getKeyLength() <= 0) {
        dprintf(D_ALWAYS | D_SECURITY, "Torvel_Crypt_Blowfish: refusing an empty key\n");
        return;
    }
    BF_set_key(&key_, keyInfo_.getKeyLength(), keyInfo_.getKeyData());
    keyed_ = true;
}

Torvel_Crypt_Blowfish::~Torvel_Crypt_Blowfish() {
    OPENSSL_cleanse(&key_, sizeof(key_));
}

void Torvel_Crypt_Blowfish::resetState() {
    memset(ivec_, 0, sizeof(ivec_));
    num_ = 0;
}

bool Torvel_Crypt_Blowfish::transform(const unsigned char *in, int len, unsigned char *&out,
                                      int &out_len, int enc) {
    if (!keyed_) {
        out = nullptr;
        out_len = 0;
        return false;
    }
    if (!prepare_output(in, len, out, out_len)) {
        return false;
    }
    if (len > 0) {
        BF_cfb64_encrypt(in, out, len, &key_, ivec_, &num_, enc);
    }
    return true;
}

bool Torvel_Crypt_Blowfish::encrypt(const unsigned char *in, int len, unsigned char *&out,
                                    int &out_len) {
    return transform(in, len, out, out_len, BF_ENCRYPT);
}

bool Torvel_Crypt_Blowfish::decrypt(const unsigned char *in, int len, unsigned char *&out,
                                    int &out_len) {
    return transform(in, len, out, out_len, BF_DECRYPT);
}
