// Stream: strings and the null string, unencrypted and with the length
// prefix of the encrypted form, and every malformed string a peer can send.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tests/stream/stream_test_util.h"
#include "tests/support/capture.h"

namespace {
// A sender and a receiver on one channel, both encrypting with one key.
struct EncryptedPair {
    MemoryChannel channel;
    MemoryStream out{Stream::portable, &channel};
    MemoryStream in{Stream::portable, &channel};

    explicit EncryptedPair(Protocol protocol = CIPHER_3DES) {
        unsigned char raw[24];
        for (int i = 0; i < 24; i++) {
            raw[i] = static_cast<unsigned char>(i * 11 + 3);
        }
        KeyInfo key(raw, 24, protocol);
        out.set_crypto_key(true, &key);
        in.set_crypto_key(true, &key);
        out.encode();
        in.decode();
    }
};

// The wire bytes an encrypted sender produced, decrypted with a fresh
// cipher of the same key: what the encryption hid.
Bytes plain_of(const EncryptedPair &pair) {
    MemoryStream probe;
    probe.set_crypto_key(true, &pair.out.get_crypto_key());
    unsigned char *plain = nullptr;
    int len = 0;
    const Bytes &wire = pair.channel.bytes;
    EXPECT_TRUE(probe.unwrap(wire.data(), static_cast<int>(wire.size()), plain, len));
    Bytes out(plain, plain + len);
    free(plain);
    return out;
}

std::string take(char *s) {
    std::string out = s != nullptr ? s : "(null)";
    free(s);
    return out;
}
}  // namespace

TEST(PlainString, AbIsItsBytesAndATerminatorNullIsAd) {
    EXPECT_EQ(encoded([](Stream &s) { s.put("ab"); }), (Bytes{'a', 'b', 0}));
    EXPECT_EQ(encoded([](Stream &s) { s.put(static_cast<const char *>(nullptr)); }), Bytes{0xad});
    EXPECT_EQ(encoded([](Stream &s) { s.put(""); }), Bytes{0});
    EXPECT_EQ(encoded([](Stream &s) { s.put("abc", 2); }), (Bytes{'a', 'b'}));
    EXPECT_EQ(encoded([](Stream &s) { s.put(static_cast<const char *>(nullptr), 5); }),
              Bytes{0xad});
}

TEST(PlainString, RoundTripsIntoNewCopies) {
    Bytes bytes = encoded([](Stream &s) {
        s.put("hello");
        s.put("");
        s.put(static_cast<const char *>(nullptr));
        s.put("x");
    });
    auto in = reader(bytes);
    char *a = nullptr;
    char *b = nullptr;
    char *c = nullptr;
    char *d = nullptr;
    ASSERT_EQ(in->get(a), 1);
    ASSERT_EQ(in->get(b), 1);
    ASSERT_EQ(in->get(c), 1);
    ASSERT_EQ(in->code(d), 1);
    EXPECT_EQ(take(a), "hello");
    EXPECT_EQ(take(b), "");
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(take(d), "x");
}

TEST(PlainString, CallerBufferIsFilledAndNullEmptiesIt) {
    Bytes bytes = encoded([](Stream &s) {
        s.put("text");
        s.put(static_cast<const char *>(nullptr));
    });
    auto in = reader(bytes);
    char buffer[16];
    char *p = buffer;
    ASSERT_EQ(in->get(p), 1);
    EXPECT_EQ(p, buffer);
    EXPECT_STREQ(buffer, "text");
    ASSERT_EQ(in->get(p), 1);
    EXPECT_STREQ(buffer, "");
}

TEST(PlainString, LengthFormPointsIntoTheStream) {
    Bytes bytes = encoded([](Stream &s) { s.put("abcd"); });
    auto in = reader(bytes);
    char *s = nullptr;
    int len = 0;
    ASSERT_EQ(in->get(s, len), 1);
    EXPECT_EQ(len, 5);
    EXPECT_STREQ(s, "abcd");
    EXPECT_EQ(static_cast<const void *>(s), static_cast<const void *>(in->bytes().data()));
}

TEST(PlainString, UnterminatedOrEmptyInputFails) {
    DebugCapture capture(D_NETWORK);
    char *s = nullptr;
    EXPECT_EQ(reader(Bytes{'a', 'b'})->get(s), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(capture.text().find("Stream::get(char *) failed to read a string\n"),
              std::string::npos);
    EXPECT_EQ(reader(Bytes{})->get(s), 0);
    EXPECT_NE(capture.text().find("failed to peek"), std::string::npos);
}

TEST(PlainString, OverlongStringIsRefused) {
    Bytes huge(Stream::max_string_length + 1, 'a');
    huge.back() = 0;
    DebugCapture capture(D_NETWORK);
    char *s = nullptr;
    EXPECT_EQ(reader(huge)->get(s), 0);
    EXPECT_EQ(s, nullptr);
    std::string text(Stream::max_string_length, 'b');
    MemoryStream out;
    EXPECT_EQ(out.put(text.c_str()), 0);
    EXPECT_TRUE(out.bytes().empty());
    text.resize(Stream::max_string_length - 1);
    EXPECT_EQ(out.put(text.c_str()), 1);
}

TEST(PlainString, LeadingMarkerByteIsRefusedBySenders) {
    // Read back it would be the null string followed by garbage.
    DebugCapture capture(D_NETWORK);
    MemoryStream out;
    EXPECT_EQ(out.put("\xad"
                      "bc"),
              0);
    EXPECT_EQ(out.put("\xad"
                      "bc",
                      4),
              0);
    EXPECT_TRUE(out.bytes().empty());
    EXPECT_NE(capture.text().find("beginning with byte 0xAD"), std::string::npos);
    EXPECT_EQ(out.put("b\xad"), 1);  // only the first byte is ambiguous
}

TEST(BoundedString, FitsOrFailsWithoutOverrun) {
    Bytes bytes = encoded([](Stream &s) {
        s.put("four");
        s.put("toolongforit");
        s.put(static_cast<const char *>(nullptr));
    });
    auto in = reader(bytes);
    char buffer[6] = {'?', '?', '?', '?', '?', '?'};
    EXPECT_EQ(in->get_string_into(buffer, 5), 1);
    EXPECT_STREQ(buffer, "four");
    DebugCapture capture(D_NETWORK);
    EXPECT_EQ(in->get_string_into(buffer, 5), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_NE(capture.text().find("does not fit 5"), std::string::npos);
    strcpy(buffer, "full");
    EXPECT_EQ(in->get_string_into(buffer, 5), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(in->get_string_into(nullptr, 5), 0);
    EXPECT_EQ(in->get_string_into(buffer, 0), 0);
}

TEST(EncryptedString, AbIsPrecededByTheIntThree) {
    EncryptedPair pair;
    ASSERT_EQ(pair.out.put("ab"), 1);
    EXPECT_EQ(plain_of(pair), join({be_int64(3), Bytes{'a', 'b', 0}}));
    EXPECT_NE(pair.channel.bytes, join({be_int64(3), Bytes{'a', 'b', 0}}));
}

TEST(EncryptedString, NullIsTheIntOneAndTheMarker) {
    EncryptedPair pair;
    ASSERT_EQ(pair.out.put(static_cast<const char *>(nullptr)), 1);
    EXPECT_EQ(plain_of(pair), join({be_int64(1), Bytes{0xad}}));
}

TEST(EncryptedString, RoundTripsWithBothCiphers) {
    for (Protocol protocol : {CIPHER_3DES, CIPHER_BLOWFISH}) {
        EncryptedPair pair(protocol);
        ASSERT_EQ(pair.out.put("first"), 1);
        ASSERT_EQ(pair.out.put(static_cast<const char *>(nullptr)), 1);
        ASSERT_EQ(pair.out.put("second"), 1);
        ASSERT_EQ(pair.out.put("third"), 1);
        char *a = nullptr;
        char *b = nullptr;
        char buffer[16];
        char *c = buffer;
        char *d = nullptr;
        int len = 0;
        ASSERT_EQ(pair.in.get(a), 1);
        ASSERT_EQ(pair.in.get(b), 1);
        ASSERT_EQ(pair.in.get(c), 1);
        ASSERT_EQ(pair.in.get(d, len), 1);
        EXPECT_EQ(take(a), "first");
        EXPECT_EQ(b, nullptr);
        EXPECT_STREQ(buffer, "second");
        EXPECT_STREQ(d, "third");  // owned by the stream
        EXPECT_EQ(len, 6);
    }
}

namespace {
// Sends raw plaintext (a forged length and body) through the cipher.
int decode_forged(const Bytes &plain, char *&s) {
    EncryptedPair pair;
    EXPECT_EQ(pair.out.write_bytes(plain.data(), static_cast<int>(plain.size())),
              static_cast<int>(plain.size()));
    return pair.in.get(s);
}
}  // namespace

TEST(EncryptedString, LengthsOutsideTheBoundsAreRefusedBeforeAllocation) {
    DebugCapture capture(D_NETWORK);
    char *s = nullptr;
    EXPECT_EQ(decode_forged(be_int64(0), s), 0);
    EXPECT_EQ(decode_forged(be_int64(-5), s), 0);
    EXPECT_EQ(decode_forged(be_int64(Stream::max_string_length + 1), s), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(capture.text().find("refused a string length of -5"), std::string::npos);
}

TEST(EncryptedString, MustEndWhereItsLengthSays) {
    DebugCapture capture(D_NETWORK);
    char *s = nullptr;
    // No terminator at the end, and a terminator before the end.
    EXPECT_EQ(decode_forged(join({be_int64(3), Bytes{'a', 'b', 'c'}}), s), 0);
    EXPECT_EQ(decode_forged(join({be_int64(4), Bytes{'a', 0, 'c', 0}}), s), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(capture.text().find("does not end where its length says"), std::string::npos);
    // Fewer bytes than the length promised.
    EXPECT_EQ(decode_forged(join({be_int64(10), Bytes{'a', 0}}), s), 0);
    EXPECT_NE(capture.text().find("failed to read 10 string bytes"), std::string::npos);
    EXPECT_EQ(decode_forged(Bytes{0, 0}, s), 0);
    EXPECT_NE(capture.text().find("failed to read the string length"), std::string::npos);
}

TEST(EncryptedString, LengthFormWithCallerBuffer) {
    EncryptedPair pair;
    ASSERT_EQ(pair.out.put("abc"), 1);
    char buffer[8];
    char *p = buffer;
    int len = 0;
    ASSERT_EQ(pair.in.get(p, len), 1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(len, 4);
}

TEST(EncryptedString, BoundedFormChecksTheDecryptedLength) {
    EncryptedPair pair;
    ASSERT_EQ(pair.out.put("abcdef"), 1);
    ASSERT_EQ(pair.out.put("ab"), 1);
    char buffer[4];
    EXPECT_EQ(pair.in.get_string_into(buffer, 4), 0);
    EXPECT_EQ(pair.in.get_string_into(buffer, 4), 1);
    EXPECT_STREQ(buffer, "ab");
}
