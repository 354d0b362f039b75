// KeyInfo: ownership of key bytes, copies, and stretching a key to a length.
#include "crypto/key_info.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

namespace {
std::vector<unsigned char> padded(const KeyInfo &key, int len) {
    unsigned char *bytes = key.getPaddedKeyData(len);
    std::vector<unsigned char> out;
    if (bytes != nullptr) {
        out.assign(bytes, bytes + len + 1);
        free(bytes);
    }
    return out;
}
}  // namespace

TEST(KeyInfo, CopiesBytesAndKeepsATerminatingZero) {
    unsigned char raw[] = {1, 2, 3};
    KeyInfo key(raw, 3, CIPHER_3DES, 60);
    raw[0] = 9;  // the key holds its own copy
    ASSERT_NE(key.getKeyData(), nullptr);
    EXPECT_EQ(key.getKeyData()[0], 1);
    EXPECT_EQ(key.getKeyData()[3], 0);
    EXPECT_EQ(key.getKeyLength(), 3);
    EXPECT_EQ(key.getProtocol(), CIPHER_3DES);
    EXPECT_EQ(key.getDuration(), 60);
}

TEST(KeyInfo, ZeroOrNegativeLengthKeepsNoBytes) {
    unsigned char raw[] = {1, 2, 3};
    KeyInfo empty(raw, 0, CIPHER_BLOWFISH, 0);
    EXPECT_EQ(empty.getKeyData(), nullptr);
    EXPECT_EQ(empty.getKeyLength(), 0);
    KeyInfo negative(raw, -4, CIPHER_BLOWFISH, 0);
    EXPECT_EQ(negative.getKeyData(), nullptr);
    EXPECT_EQ(negative.getKeyLength(), 0);
    KeyInfo null_bytes(nullptr, 8, CIPHER_BLOWFISH, 0);
    EXPECT_EQ(null_bytes.getKeyData(), nullptr);
    EXPECT_EQ(null_bytes.getKeyLength(), 0);
}

TEST(KeyInfo, CopyAndAssignmentAreDeep) {
    unsigned char raw[] = {4, 5, 6, 7};
    KeyInfo original(raw, 4, CIPHER_BLOWFISH, 5);
    KeyInfo copy(original);
    EXPECT_NE(copy.getKeyData(), original.getKeyData());
    EXPECT_EQ(copy.getKeyData()[3], 7);
    KeyInfo assigned;
    assigned = original;
    EXPECT_NE(assigned.getKeyData(), original.getKeyData());
    EXPECT_EQ(assigned.getKeyLength(), 4);
    EXPECT_EQ(assigned.getProtocol(), CIPHER_BLOWFISH);
    EXPECT_EQ(assigned.getDuration(), 5);
    KeyInfo &alias = assigned;
    assigned = alias;  // self-assignment keeps the bytes
    EXPECT_EQ(assigned.getKeyData()[0], 4);
}

TEST(KeyInfo, ReinitReplacesOrDropsTheBytes) {
    unsigned char first[] = {1, 1};
    unsigned char second[] = {2, 2, 2};
    KeyInfo key(first, 2, CIPHER_3DES, 0);
    key.init(second, 3);
    EXPECT_EQ(key.getKeyLength(), 3);
    EXPECT_EQ(key.getKeyData()[2], 2);
    key.init(second, 0);
    EXPECT_EQ(key.getKeyLength(), 0);
    EXPECT_EQ(key.getKeyData(), nullptr);
}

TEST(KeyInfoPadding, ShortKeyRepeatsFromItsStart) {
    unsigned char raw[] = {1, 2, 3};
    KeyInfo key(raw, 3);
    std::vector<unsigned char> expected = {1, 2, 3, 1, 2, 3, 1, 2, 0};
    EXPECT_EQ(padded(key, 8), expected);
}

TEST(KeyInfoPadding, LongKeyFoldsWithXor) {
    unsigned char raw[10];
    for (int i = 0; i < 10; i++) {
        raw[i] = static_cast<unsigned char>(i);
    }
    KeyInfo key(raw, 10);
    std::vector<unsigned char> expected = {8, 8, 2, 3, 4, 5, 6, 7, 0};
    EXPECT_EQ(padded(key, 8), expected);
}

TEST(KeyInfoPadding, SixteenBytesStretchToTwentyFour) {
    unsigned char raw[16];
    for (int i = 0; i < 16; i++) {
        raw[i] = static_cast<unsigned char>(0xA0 + i);
    }
    KeyInfo key(raw, 16);
    std::vector<unsigned char> out = padded(key, 24);
    ASSERT_EQ(out.size(), 25u);
    for (int i = 0; i < 24; i++) {
        EXPECT_EQ(out[i], raw[i % 16]) << i;
    }
}

TEST(KeyInfoPadding, ThirtyBytesFoldOntoTheFirstSix) {
    unsigned char raw[30];
    for (int i = 0; i < 30; i++) {
        raw[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    KeyInfo key(raw, 30);
    std::vector<unsigned char> out = padded(key, 24);
    ASSERT_EQ(out.size(), 25u);
    for (int i = 0; i < 24; i++) {
        unsigned char expected = i < 6 ? raw[i] ^ raw[i + 24] : raw[i];
        EXPECT_EQ(out[i], expected) << i;
    }
}

TEST(KeyInfoPadding, NoKeyOrNoLengthGivesNull) {
    KeyInfo none;
    EXPECT_EQ(none.getPaddedKeyData(8), nullptr);
    unsigned char raw[] = {1};
    KeyInfo one(raw, 1);
    EXPECT_EQ(one.getPaddedKeyData(0), nullptr);
    EXPECT_EQ(one.getPaddedKeyData(-3), nullptr);
}
