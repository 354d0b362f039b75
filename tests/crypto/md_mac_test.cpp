// Torvel_MD_MAC: MD5 against the RFC 1321 test suite, the secret-prefix
// keyed form, re-initialisation after each digest and verification.
#include "crypto/md_mac.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {
std::string hex(const unsigned char *digest) {
    std::string out;
    char pair[3];
    for (int i = 0; i < 16; i++) {
        snprintf(pair, sizeof(pair), "%02x", digest[i]);
        out += pair;
    }
    return out;
}

std::string take_hex(unsigned char *digest) {
    std::string out = digest != nullptr ? hex(digest) : "(null)";
    free(digest);
    return out;
}

const unsigned char *bytes(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
}

struct Rfc1321Vector {
    const char *message;
    const char *digest;
};

// The test suite of RFC 1321, appendix A.5.
const Rfc1321Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};
}  // namespace

TEST(MdMac, ComputeOnceMatchesRfc1321) {
    for (const Rfc1321Vector &v : kRfc1321) {
        EXPECT_EQ(take_hex(Torvel_MD_MAC::computeOnce(bytes(v.message), strlen(v.message))),
                  v.digest)
            << v.message;
    }
}

TEST(MdMac, IncrementalFeedingMatchesRfc1321) {
    for (const Rfc1321Vector &v : kRfc1321) {
        Torvel_MD_MAC mac;
        size_t len = strlen(v.message);
        for (size_t i = 0; i < len; i += 3) {
            mac.addMD(bytes(v.message) + i, len - i < 3 ? len - i : 3);
        }
        EXPECT_EQ(take_hex(mac.computeMD()), v.digest) << v.message;
    }
}

TEST(MdMac, PlainObjectIsReadyForTheNextMessage) {
    Torvel_MD_MAC mac;
    mac.addMD(bytes("abc"), 3);
    EXPECT_EQ(take_hex(mac.computeMD()), "900150983cd24fb0d6963f7d28e17f72");
    mac.addMD(bytes("a"), 1);
    EXPECT_EQ(take_hex(mac.computeMD()), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(MdMac, KeyedIsMd5OfKeyThenMessage) {
    unsigned char raw[] = {'k', 'e', 'y', 0, 7};  // an inner zero byte is part of the key
    KeyInfo key(raw, 5);
    std::string prefixed(reinterpret_cast<char *>(raw), 5);
    prefixed += "abc";
    std::string expected =
        take_hex(Torvel_MD_MAC::computeOnce(bytes(prefixed.data()), prefixed.size()));

    Torvel_MD_MAC mac(&key);
    mac.addMD(bytes("abc"), 3);
    EXPECT_EQ(take_hex(mac.computeMD()), expected);
    EXPECT_EQ(take_hex(Torvel_MD_MAC::computeOnce(bytes("abc"), 3, &key)), expected);
    // The next message gets the key fed again.
    mac.addMD(bytes("ab"), 2);
    mac.addMD(bytes("c"), 1);
    EXPECT_EQ(take_hex(mac.computeMD()), expected);
}

TEST(MdMac, ConsecutiveKeyedDigestsAreTheKeyAlone) {
    unsigned char raw[] = "secret";
    KeyInfo key(raw, 6);
    Torvel_MD_MAC mac(&key);
    std::string first = take_hex(mac.computeMD());
    std::string second = take_hex(mac.computeMD());
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, take_hex(Torvel_MD_MAC::computeOnce(raw, 6)));
}

TEST(MdMac, KeyedOnceWithoutKeyGivesNothing) {
    EXPECT_EQ(Torvel_MD_MAC::computeOnce(bytes("abc"), 3, nullptr), nullptr);
    unsigned char digest[16] = {0};
    EXPECT_FALSE(Torvel_MD_MAC::verifyMD(digest, bytes("abc"), 3, nullptr));
}

TEST(MdMac, VerifyAcceptsTheDigestAndRefusesALastByteChange) {
    unsigned char raw[] = "k";
    KeyInfo key(raw, 1);
    unsigned char *digest = Torvel_MD_MAC::computeOnce(bytes("data"), 4, &key);
    ASSERT_NE(digest, nullptr);
    EXPECT_TRUE(Torvel_MD_MAC::verifyMD(digest, bytes("data"), 4, &key));

    Torvel_MD_MAC mac(&key);
    mac.addMD(bytes("data"), 4);
    EXPECT_TRUE(mac.verifyMD(digest));
    digest[15] ^= 1;
    mac.addMD(bytes("data"), 4);
    EXPECT_FALSE(mac.verifyMD(digest));
    EXPECT_FALSE(Torvel_MD_MAC::verifyMD(digest, bytes("data"), 4, &key));
    // Re-initialised after the failed check: the right digest passes again.
    digest[15] ^= 1;
    mac.addMD(bytes("data"), 4);
    EXPECT_TRUE(mac.verifyMD(digest));
    EXPECT_FALSE(mac.verifyMD(nullptr));
    free(digest);
}

TEST(MdMac, PlainVerify) {
    unsigned char *digest = Torvel_MD_MAC::computeOnce(bytes("abc"), 3);
    EXPECT_TRUE(Torvel_MD_MAC::verifyMD(digest, bytes("abc"), 3));
    EXPECT_FALSE(Torvel_MD_MAC::verifyMD(digest, bytes("abd"), 3));
    free(digest);
}
