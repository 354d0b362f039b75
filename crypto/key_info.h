// A connection key: raw key bytes, the cipher they are meant for and a
// duration that is carried along but not interpreted here. Value semantics:
// copies own their own bytes.
#ifndef TORVEL_CRYPTO_KEY_INFO_H_
#define TORVEL_CRYPTO_KEY_INFO_H_

enum Protocol {
    CIPHER_NONE = 0,
    CIPHER_BLOWFISH = 1,
    CIPHER_3DES = 2,
};

class KeyInfo {
 public:
    KeyInfo();
    // Copies length bytes of key; a null key or a length of 0 or less keeps
    // no bytes. key is borrowed for the call only.
    KeyInfo(const unsigned char *key, int length, Protocol protocol = CIPHER_NONE,
            int duration = 0);
    KeyInfo(const KeyInfo &other);
    KeyInfo &operator=(const KeyInfo &other);
    ~KeyInfo();

    // Replaces the key bytes by a copy of length bytes of key (stored with
    // one extra zero byte). A null key or a length of 0 or less leaves no
    // bytes and length 0.
    void init(const unsigned char *key, int length);

    // Owned by this object; null when there is no key.
    const unsigned char *getKeyData() const { return keyData_; }
    int getKeyLength() const { return keyDataLen_; }
    Protocol getProtocol() const { return protocol_; }
    int getDuration() const { return duration_; }

    // The key stretched or folded to exactly len bytes (plus a zero byte):
    // a shorter key repeats from its start, bytes of a longer key beyond len
    // are XORed onto position i mod len. Null with no key or len <= 0.
    // Caller free()s.
    unsigned char *getPaddedKeyData(int len) const;

 private:
    void release();

    unsigned char *keyData_;
    int keyDataLen_;
    Protocol protocol_;
    int duration_;
};

#endif  // TORVEL_CRYPTO_KEY_INFO_H_
