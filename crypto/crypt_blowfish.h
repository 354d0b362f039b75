// Torvel_Crypt_Blowfish: Blowfish in 64-bit cipher feedback mode, keyed by
// the whole key (no stretching); vector and block position carry over
// between calls.
#ifndef TORVEL_CRYPTO_CRYPT_BLOWFISH_H_
#define TORVEL_CRYPTO_CRYPT_BLOWFISH_H_

#include <openssl/blowfish.h>

#include "crypto/crypt_base.h"

class Torvel_Crypt_Blowfish : public Torvel_Crypt_Base {
 public:
    // REQUIRES: key has protocol CIPHER_BLOWFISH (fatal otherwise). A key
    // without bytes is not handed to OpenSSL: the object is built, but
    // every encrypt and decrypt fails.
    explicit Torvel_Crypt_Blowfish(const KeyInfo &key);
    ~Torvel_Crypt_Blowfish() override;

    void resetState() override;
    bool encrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) override;
    bool decrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) override;

 private:
    bool transform(const unsigned char *in, int len, unsigned char *&out, int &out_len, int enc);

    int num_;
    BF_KEY key_;
    unsigned char ivec_[8];
    bool keyed_;
};

#endif  // TORVEL_CRYPTO_CRYPT_BLOWFISH_H_
