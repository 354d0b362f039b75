// Torvel_Crypt_3des: triple DES (EDE3) in 64-bit cipher feedback mode, a
// stream cipher whose vector and block position carry over between calls.
#ifndef TORVEL_CRYPTO_CRYPT_3DES_H_
#define TORVEL_CRYPTO_CRYPT_3DES_H_

#include <openssl/des.h>

#include "crypto/crypt_base.h"

class Torvel_Crypt_3des : public Torvel_Crypt_Base {
 public:
    // The key is stretched or folded to 24 bytes. REQUIRES: key has protocol
    // CIPHER_3DES and key bytes (fatal otherwise).
    explicit Torvel_Crypt_3des(const KeyInfo &key);
    ~Torvel_Crypt_3des() override;

    void resetState() override;
    bool encrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) override;
    bool decrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) override;

 private:
    bool transform(const unsigned char *in, int len, unsigned char *&out, int &out_len, int enc);

    DES_key_schedule keySchedule1_;
    DES_key_schedule keySchedule2_;
    DES_key_schedule keySchedule3_;
    DES_cblock ivec_;
    int num_;
};

#endif  // TORVEL_CRYPTO_CRYPT_3DES_H_
