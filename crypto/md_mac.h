// Torvel_MD_MAC: 16-byte MD5 digests of byte streams, plain or keyed. The
// keyed form is a secret-prefix MAC, MD5(key || message), not HMAC. Each
// finished digest re-initialises the object (feeding the key again), so one
// object serves a whole sequence of messages.
#ifndef TORVEL_CRYPTO_MD_MAC_H_
#define TORVEL_CRYPTO_MD_MAC_H_

#include <openssl/md5.h>

#include "crypto/key_info.h"

class Torvel_MD_MAC {
 public:
    Torvel_MD_MAC();
    // Keyed with a copy of key; a null key gives the plain form.
    explicit Torvel_MD_MAC(const KeyInfo *key);
    ~Torvel_MD_MAC();
    Torvel_MD_MAC(const Torvel_MD_MAC &) = delete;
    Torvel_MD_MAC &operator=(const Torvel_MD_MAC &) = delete;

    // Restarts the digest and, when keyed, feeds the key bytes.
    void init();
    // REQUIRES: data holds length bytes (data may be null when length is 0).
    void addMD(const unsigned char *data, unsigned long length);
    // The digest of everything fed since init(); re-initialises. Caller
    // free()s the 16-byte result.
    unsigned char *computeMD();
    // computeMD() compared in constant time with the 16 bytes of digest;
    // re-initialises either way. False for a null digest.
    bool verifyMD(const unsigned char *digest);

    // One-shot digests; results are 16 new bytes the caller free()s, or
    // null when the keyed form is given no key.
    static unsigned char *computeOnce(const unsigned char *data, unsigned long length);
    static unsigned char *computeOnce(const unsigned char *data, unsigned long length,
                                      const KeyInfo *key);
    static bool verifyMD(const unsigned char *digest, const unsigned char *data,
                         unsigned long length);
    static bool verifyMD(const unsigned char *digest, const unsigned char *data,
                         unsigned long length, const KeyInfo *key);

 private:
    int isKeyed_;
    MD5_CTX *context_;
    KeyInfo *key_;
};

#endif  // TORVEL_CRYPTO_MD_MAC_H_
