// Stream: encryption and message digests through two memory streams that
// share a channel and a key, and the set-up rules of the cipher hooks.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tests/stream/stream_test_util.h"
#include "tests/support/capture.h"

namespace {
KeyInfo make_key(Protocol protocol, int length = 24, int seed = 1) {
    unsigned char raw[64];
    for (int i = 0; i < length; i++) {
        raw[i] = static_cast<unsigned char>(i * 29 + seed);
    }
    return KeyInfo(raw, length, protocol);
}

class StreamPairTest : public testing::TestWithParam<Protocol> {
 protected:
    MemoryChannel channel_;
    MemoryStream out_{Stream::portable, &channel_};
    MemoryStream in_{Stream::portable, &channel_};
};

// A message mixing every kind of value.
void code_message(Stream &s, int &i, double &d, char *&text, char *&none, unsigned long &ul,
                  struct rlimit &rl, unsigned int *&array, int &count) {
    ASSERT_EQ(s.code(i), 1);
    ASSERT_EQ(s.code(d), 1);
    ASSERT_EQ(s.code(text), 1);
    ASSERT_EQ(s.code(none), 1);
    ASSERT_EQ(s.code(ul), 1);
    ASSERT_EQ(s.code(rl), 1);
    ASSERT_EQ(s.code_array(array, count), 1);
}
}  // namespace

TEST_P(StreamPairTest, EncryptedRoundTripOfSeveralMessages) {
    KeyInfo key = make_key(GetParam());
    ASSERT_TRUE(out_.set_crypto_key(true, &key, "session-1"));
    ASSERT_TRUE(in_.set_crypto_key(true, &key, "session-1"));
    EXPECT_TRUE(out_.get_encryption());
    EXPECT_EQ(out_.key_id(), "session-1");

    for (int round = 0; round < 3; round++) {
        int i = -77 - round;
        double d = 2.75;
        char text_bytes[] = "encrypted text";
        char *text = text_bytes;
        char *none = nullptr;
        unsigned long ul = 0xdeadbeefcafeUL;
        struct rlimit rl = {100, 200};
        unsigned int values[] = {5, 6, 7};
        unsigned int *array = values;
        int count = 3;
        out_.encode();
        code_message(out_, i, d, text, none, ul, rl, array, count);
        ASSERT_EQ(out_.finish_message(), 1);

        int i2 = 0;
        double d2 = 0;
        char *text2 = nullptr;
        char *none2 = nullptr;
        unsigned long ul2 = 0;
        struct rlimit rl2 = {};
        unsigned int *array2 = nullptr;
        int count2 = 0;
        in_.decode();
        code_message(in_, i2, d2, text2, none2, ul2, rl2, array2, count2);
        ASSERT_EQ(in_.finish_message(), 1);
        EXPECT_EQ(i2, i);
        EXPECT_NEAR(d2, 2.75, 1e-8);
        EXPECT_STREQ(text2, "encrypted text");
        EXPECT_EQ(none2, nullptr);
        EXPECT_EQ(ul2, ul);
        EXPECT_EQ(rl2.rlim_max, 200u);
        ASSERT_EQ(count2, 3);
        EXPECT_EQ(array2[2], 7u);
        free(text2);
        delete[] array2;
    }
    // Nothing readable travelled in the clear.
    std::string wire(channel_.bytes.begin(), channel_.bytes.end());
    EXPECT_EQ(wire.find("encrypted text"), std::string::npos);
}

TEST_P(StreamPairTest, DifferentKeysDoNotDecode) {
    KeyInfo key = make_key(GetParam());
    KeyInfo other = make_key(GetParam(), 24, 2);
    out_.set_crypto_key(true, &key);
    in_.set_crypto_key(true, &other);
    ASSERT_EQ(out_.put("secret"), 1);
    in_.decode();
    char *text = nullptr;
    if (in_.get(text) == 1) {
        EXPECT_STRNE(text, "secret");
    }
    free(text);
}

TEST_P(StreamPairTest, DigestedAndEncryptedRoundTrip) {
    KeyInfo key = make_key(GetParam());
    KeyInfo mac_key = make_key(CIPHER_NONE, 16, 9);
    out_.set_crypto_key(true, &key);
    in_.set_crypto_key(true, &key);
    ASSERT_TRUE(out_.set_MD_mode(MD_ALWAYS_ON, &mac_key, "mac"));
    ASSERT_TRUE(in_.set_MD_mode(MD_ALWAYS_ON, &mac_key, "mac"));
    for (int n = 0; n < 3; n++) {
        ASSERT_EQ(out_.snd_int(1000 + n, 1), 1);
    }
    for (int n = 0; n < 3; n++) {
        int value = 0;
        ASSERT_EQ(in_.rcv_int(value, 1), 1);
        EXPECT_EQ(value, 1000 + n);
    }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, StreamPairTest, testing::Values(CIPHER_3DES, CIPHER_BLOWFISH),
                         [](const testing::TestParamInfo<Protocol> &info) {
                             return std::string(info.param == CIPHER_3DES ? "TripleDes"
                                                                          : "Blowfish");
                         });

TEST(StreamDigest, PlainMessagesCarryAVerifiedDigest) {
    MemoryChannel channel;
    MemoryStream out(Stream::portable, &channel);
    MemoryStream in(Stream::portable, &channel);
    KeyInfo mac_key = make_key(CIPHER_NONE, 16, 4);
    out.set_MD_mode(MD_ALWAYS_ON, &mac_key);
    in.set_MD_mode(MD_ALWAYS_ON, &mac_key);
    out.encode();
    ASSERT_EQ(out.put("signed"), 1);
    ASSERT_EQ(out.finish_message(), 1);
    EXPECT_EQ(channel.bytes.size(), 7u + 16);
    // The digest is the keyed MD5 of the message bytes.
    unsigned char *expected =
        Torvel_MD_MAC::computeOnce(reinterpret_cast<const unsigned char *>("signed"), 7, &mac_key);
    EXPECT_EQ(memcmp(channel.bytes.data() + 7, expected, 16), 0);
    free(expected);
    in.decode();
    char *text = nullptr;
    ASSERT_EQ(in.get(text), 1);
    EXPECT_EQ(in.finish_message(), 1);
    EXPECT_STREQ(text, "signed");
    free(text);
}

TEST(StreamDigest, CorruptedMessageOrDigestIsDetected) {
    for (size_t flip : {0u, 3u, 8u, 20u}) {
        MemoryChannel channel;
        MemoryStream out(Stream::portable, &channel);
        MemoryStream in(Stream::portable, &channel);
        KeyInfo mac_key = make_key(CIPHER_NONE, 16, 4);
        out.set_MD_mode(MD_ALWAYS_ON, &mac_key);
        in.set_MD_mode(MD_ALWAYS_ON, &mac_key);
        ASSERT_EQ(out.snd_int(5, 0), 1);
        ASSERT_EQ(out.put(6L), 1);
        ASSERT_EQ(out.finish_message(), 1);
        ASSERT_EQ(channel.bytes.size(), 32u);
        channel.bytes[flip] ^= 0x01;
        int value = 0;
        long second = 0;
        in.decode();
        in.code(value);
        in.code(second);
        EXPECT_EQ(in.finish_message(), 0) << "flipped byte " << flip;
    }
}

TEST(StreamDigest, WrongKeyIsDetectedAndATruncatedDigestFails) {
    MemoryChannel channel;
    MemoryStream out(Stream::portable, &channel);
    MemoryStream in(Stream::portable, &channel);
    KeyInfo key_a = make_key(CIPHER_NONE, 16, 1);
    KeyInfo key_b = make_key(CIPHER_NONE, 16, 2);
    out.set_MD_mode(MD_ALWAYS_ON, &key_a);
    in.set_MD_mode(MD_ALWAYS_ON, &key_b);
    ASSERT_EQ(out.snd_int(1, 1), 1);
    int value = 0;
    EXPECT_EQ(in.rcv_int(value, 1), 0);
    channel.bytes.resize(channel.bytes.size() - 20);
    EXPECT_EQ(in.finish_message(), 0);
}

TEST(StreamDigest, SetMdModeKeepsACopyOfTheKey) {
    MemoryStream s;
    KeyInfo *key = new KeyInfo(make_key(CIPHER_NONE, 8));
    ASSERT_TRUE(s.set_MD_mode(MD_ALWAYS_ON, key, "id"));
    EXPECT_NE(s.get_md_key(), key);
    delete key;
    EXPECT_EQ(s.get_md_key()->getKeyLength(), 8);
    EXPECT_TRUE(s.set_MD_mode(MD_OFF, nullptr));
    EXPECT_EXIT(s.get_md_key(), testing::ExitedWithCode(4), "Assertion ERROR");
}

// The digest mode is kept for the concrete stream: off on a new stream,
// then whatever set_MD_mode was last given.
TEST(StreamDigest, DigestModeIsTheLastOneSet) {
    MemoryStream s;
    EXPECT_EQ(s.md_mode(), MD_OFF);
    KeyInfo key = make_key(CIPHER_NONE, 8);
    ASSERT_TRUE(s.set_MD_mode(MD_ALWAYS_ON, &key));
    EXPECT_EQ(s.md_mode(), MD_ALWAYS_ON);
    EXPECT_TRUE(s.set_MD_mode(MD_OFF, nullptr));
    EXPECT_EQ(s.md_mode(), MD_OFF);
}

TEST(StreamCrypto, InitializeCryptoPicksTheCipherByProtocol) {
    MemoryStream s;
    KeyInfo bf = make_key(CIPHER_BLOWFISH, 16);
    KeyInfo des = make_key(CIPHER_3DES);
    KeyInfo none = make_key(CIPHER_NONE);
    EXPECT_TRUE(s.initialize_crypto(&bf));
    EXPECT_EQ(s.get_crypto_key().getProtocol(), CIPHER_BLOWFISH);
    EXPECT_FALSE(s.get_encryption());  // switched off until set_crypto_mode
    EXPECT_TRUE(s.initialize_crypto(&des));
    EXPECT_EQ(s.get_crypto_key().getProtocol(), CIPHER_3DES);
    EXPECT_FALSE(s.initialize_crypto(&none));
    EXPECT_FALSE(s.initialize_crypto(nullptr));
    EXPECT_EXIT(s.get_crypto_key(), testing::ExitedWithCode(4), "Assertion ERROR");
}

TEST(StreamCrypto, EnablingWithoutAKeyIsLoggedAndStaysOff) {
    DebugCapture capture(D_SECURITY);
    MemoryStream s;
    s.set_crypto_mode(true);
    EXPECT_FALSE(s.get_encryption());
    EXPECT_NE(capture.text().find("NOT enabling crypto - there was no key exchanged.\n"),
              std::string::npos);
    KeyInfo key = make_key(CIPHER_3DES);
    EXPECT_TRUE(s.set_crypto_key(false, &key));
    EXPECT_FALSE(s.get_encryption());
    s.set_crypto_mode(true);
    EXPECT_TRUE(s.get_encryption());
    s.set_crypto_mode(false);
    EXPECT_FALSE(s.get_encryption());
}

TEST(StreamCrypto, SetCryptoKeyWithoutKeyDropsTheCipher) {
    MemoryStream s;
    KeyInfo key = make_key(CIPHER_BLOWFISH, 16);
    ASSERT_TRUE(s.set_crypto_key(true, &key, "k"));
    EXPECT_TRUE(s.set_crypto_key(false, nullptr, nullptr));
    EXPECT_FALSE(s.get_encryption());
    EXPECT_EQ(s.key_id(), "");
    EXPECT_EXIT(s.set_crypto_key(false, nullptr, "id"), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(keyId == 0\\)");
    EXPECT_EXIT(s.set_crypto_key(true, nullptr, nullptr), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(enable == false\\)");
}

TEST(StreamCrypto, UnknownProtocolKeyFailsAndLeavesEncryptionOff) {
    MemoryStream s;
    KeyInfo none = make_key(CIPHER_NONE);
    s.set_key_id("before");
    EXPECT_FALSE(s.set_crypto_key(true, &none, "after"));
    EXPECT_FALSE(s.get_encryption());
    EXPECT_EQ(s.key_id(), "before");
}

TEST(StreamCrypto, WrapAndUnwrapOnlyWhenEncrypting) {
    MemoryStream s;
    unsigned char in[5] = {1, 2, 3, 4, 5};
    unsigned char *out = reinterpret_cast<unsigned char *>(1);
    int out_len = 9;
    EXPECT_FALSE(s.wrap(in, 5, out, out_len));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(out_len, 0);
    KeyInfo key = make_key(CIPHER_3DES);
    s.set_crypto_key(true, &key);
    ASSERT_TRUE(s.wrap(in, 5, out, out_len));
    Bytes first(out, out + out_len);
    free(out);
    s.resetCrypto();
    ASSERT_TRUE(s.wrap(in, 5, out, out_len));
    EXPECT_EQ(Bytes(out, out + out_len), first);  // reset restarts the cipher stream
    free(out);
    ASSERT_TRUE(s.wrap(in, 5, out, out_len));
    EXPECT_NE(Bytes(out, out + out_len), first);  // without reset it continues
    free(out);
    s.resetCrypto();
    unsigned char *back = nullptr;
    ASSERT_TRUE(s.unwrap(first.data(), 5, back, out_len));
    EXPECT_EQ(memcmp(back, in, 5), 0);
    free(back);
}

namespace {
Bytes read_file(const std::string &path) {
    Bytes bytes;
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    unsigned char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    fclose(file);
    return bytes;
}

// The stream-decoding seeds were encrypted by the openssl command
// (-des-ede3-cfb and -bf-cfb, zero vector) and digested by another MD5
// implementation: an outside check of the whole encrypted path.
void decode_openssl_seed(const char *name, Protocol protocol, int key_length) {
    Bytes seed =
        read_file(std::string(TORVEL_SOURCE_DIR) + "/fuzz/corpus/stream_decode_fuzz/" + name);
    ASSERT_GT(seed.size(), 1u) << name;
    unsigned char raw[24];
    for (int i = 0; i < 24; i++) {
        raw[i] = static_cast<unsigned char>(i + 1);
    }
    KeyInfo key(raw, key_length, protocol);
    MemoryStream in;
    in.load(seed.data() + 1, seed.size() - 1);
    ASSERT_TRUE(in.set_crypto_key(true, &key));
    in.decode();
    unsigned char op = 0;
    int value = 0;
    char *text = nullptr;
    char *none = nullptr;
    unsigned int *array = nullptr;
    int count = 0;
    ASSERT_EQ(in.get(op), 1);
    EXPECT_EQ(op, 16);
    ASSERT_EQ(in.get(value), 1);
    EXPECT_EQ(value, -42);
    ASSERT_EQ(in.get(op), 1);
    ASSERT_EQ(in.get(text), 1);
    EXPECT_STREQ(text, "hello");
    free(text);
    ASSERT_EQ(in.get(op), 1);
    ASSERT_EQ(in.get(none), 1);
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(in.get(op), 1);
    ASSERT_EQ(in.code_array(array, count), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(array[0], 7u);
    EXPECT_EQ(array[1], 9u);
    delete[] array;
    EXPECT_EQ(in.channel().available(), 0u);
}
}  // namespace

TEST(OpensslCommandVectors, TripleDesSeedDecodes) {
    decode_openssl_seed("encrypted_3des", CIPHER_3DES, 24);
}

TEST(OpensslCommandVectors, BlowfishSeedDecodes) {
    decode_openssl_seed("encrypted_blowfish", CIPHER_BLOWFISH, 16);
}

TEST(OpensslCommandVectors, DigestedSeedVerifies) {
    Bytes seed =
        read_file(std::string(TORVEL_SOURCE_DIR) + "/fuzz/corpus/stream_decode_fuzz/digested");
    ASSERT_GT(seed.size(), 17u);
    const unsigned char raw[] = "fuzzmackey012345";
    KeyInfo mac_key(raw, 16);
    MemoryStream in;
    in.load(seed.data() + 1, seed.size() - 1);
    in.set_MD_mode(MD_ALWAYS_ON, &mac_key);
    in.decode();
    unsigned char op = 0;
    int value = 0;
    char *text = nullptr;
    ASSERT_EQ(in.get(op), 1);
    ASSERT_EQ(in.get(value), 1);
    EXPECT_EQ(value, 77);
    ASSERT_EQ(in.get(op), 1);
    ASSERT_EQ(in.get(text), 1);
    EXPECT_STREQ(text, "signed");
    free(text);
    ASSERT_EQ(in.get(op), 1);
    EXPECT_EQ(op, 7);
    EXPECT_EQ(in.finish_message(), 1);
}
