// Torvel_Crypt_3des on OpenSSL's DES_ede3_cfb64_encrypt.
#include "crypto/crypt_3des.h"

#include <openssl/crypto.h>
#include <stdlib.h>
#include <string.h>

#include "diagnostics/except.h"

Torvel_Crypt_3des::Torvel_Crypt_3des(const KeyInfo &key) : Torvel_Crypt_Base(CIPHER_3DES, key) {
    unsigned char *keyData = keyInfo_.getPaddedKeyData(24);
    ASSERT(keyData);
    DES_cblock part;
    memcpy(part, keyData, 8);
    DES_set_key(&part, &keySchedule1_);
    memcpy(part, keyData + 8, 8);
    DES_set_key(&part, &keySchedule2_);
    memcpy(part, keyData + 16, 8);
    DES_set_key(&part, &keySchedule3_);
    OPENSSL_cleanse(part, sizeof(part));
    OPENSSL_cleanse(keyData, 24);
    free(keyData);
    resetState();
}

Torvel_Crypt_3des::~Torvel_Crypt_3des() {
    OPENSSL_cleanse(&keySchedule1_, sizeof(keySchedule1_));
    OPENSSL_cleanse(&keySchedule2_, sizeof(keySchedule2_));
    OPENSSL_cleanse(&keySchedule3_, sizeof(keySchedule3_));
}

void Torvel_Crypt_3des::resetState() {
    memset(ivec_, 0, sizeof(ivec_));
    num_ = 0;
}

bool Torvel_Crypt_3des::transform(const unsigned char *in, int len, unsigned char *&out,
                                  int &out_len, int enc) {
    if (!prepare_output(in, len, out, out_len)) {
        return false;
    }
    if (len > 0) {
        DES_ede3_cfb64_encrypt(in, out, len, &keySchedule1_, &keySchedule2_, &keySchedule3_, &ivec_,
                               &num_, enc);
    }
    return true;
}

bool Torvel_Crypt_3des::encrypt(const unsigned char *in, int len, unsigned char *&out,
                                int &out_len) {
    return transform(in, len, out, out_len, DES_ENCRYPT);
}

bool Torvel_Crypt_3des::decrypt(const unsigned char *in, int len, unsigned char *&out,
                                int &out_len) {
    return transform(in, len, out, out_len, DES_DECRYPT);
}
