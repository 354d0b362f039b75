// Torvel_Crypt_Base: the interface of the stream ciphers that protect a
// connection, plus key helpers (random keys, a one-way hash of a text).
// A cipher keeps its chaining state across calls, so consecutive buffers of
// one connection form one continuous cipher stream; both ends must process
// the same bytes in the same order and reset at the same points.
#ifndef TORVEL_CRYPTO_CRYPT_BASE_H_
#define TORVEL_CRYPTO_CRYPT_BASE_H_

#include "crypto/key_info.h"

class Torvel_Crypt_Base {
 public:
    // Copies key. REQUIRES: key.getProtocol() == protocol (fatal otherwise).
    Torvel_Crypt_Base(Protocol protocol, const KeyInfo &key);
    virtual ~Torvel_Crypt_Base();
    Torvel_Crypt_Base(const Torvel_Crypt_Base &) = delete;
    Torvel_Crypt_Base &operator=(const Torvel_Crypt_Base &) = delete;

    // Returns the chaining state to its start (zero vector, position 0).
    virtual void resetState() = 0;
    // Transform len bytes of in into a new buffer of len bytes (out, caller
    // free()s; out_len = len). False, with out null and out_len 0, for a
    // negative length, a null input with len > 0, an unusable key or an
    // allocation failure.
    virtual bool encrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) = 0;
    virtual bool decrypt(const unsigned char *in, int len, unsigned char *&out, int &out_len) = 0;

    const KeyInfo &get_key() const { return keyInfo_; }
    Protocol protocol() const { return keyInfo_.getProtocol(); }

    // input_length rounded up past the next block boundary (a whole extra
    // block when already a multiple); -1 for a negative length, a block
    // size of 0 or less, or a result beyond int.
    static int encryptedSize(int input_length, int block_size);
    // length bytes from OpenSSL's generator (seeded on first use); null when
    // length <= 0 or the generator fails. Caller free()s.
    static unsigned char *randomKey(int length);
    // The MD5 digest of text without its terminator: 16 new bytes, caller
    // free()s; null for a null text.
    static unsigned char *oneWayHashKey(const char *text);

 protected:
    // Shared argument check and output allocation of encrypt/decrypt.
    static bool prepare_output(const unsigned char *in, int len, unsigned char *&out, int &out_len);

    KeyInfo keyInfo_;
};

#endif  // TORVEL_CRYPTO_CRYPT_BASE_H_
