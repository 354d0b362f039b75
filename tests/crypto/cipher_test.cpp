// The triple-DES and Blowfish stream ciphers, checked against OpenSSL's EVP
// interface as an independent oracle (a different code path from the
// low-level calls the ciphers make), plus the key helpers of the base class.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/crypt_3des.h"
#include "crypto/crypt_base.h"
#include "crypto/crypt_blowfish.h"
#include "tests/support/capture.h"

namespace {
using Bytes = std::vector<unsigned char>;

// Blowfish lives in OpenSSL 3's legacy provider. The oracle loads it with
// the default provider into a library context of its own, per use, so the
// process-wide context the code under test uses stays untouched and nothing
// is held when a death-test child exits.
class OracleContext {
 public:
    OracleContext()
        : context_(OSSL_LIB_CTX_new()),
          legacy_(OSSL_PROVIDER_load(context_, "legacy")),
          default_(OSSL_PROVIDER_load(context_, "default")) {}
    ~OracleContext() {
        if (legacy_ != nullptr) {
            OSSL_PROVIDER_unload(legacy_);
        }
        if (default_ != nullptr) {
            OSSL_PROVIDER_unload(default_);
        }
        OSSL_LIB_CTX_free(context_);
    }
    OSSL_LIB_CTX *get() const { return context_; }

 private:
    OSSL_LIB_CTX *context_;
    OSSL_PROVIDER *legacy_;
    OSSL_PROVIDER *default_;
};

// One-shot CFB-64 through EVP with a zero vector.
Bytes evp_cfb(const char *cipher_name, const Bytes &key, const Bytes &input, int enc) {
    OracleContext context;
    Bytes out(input.size() + 16);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(context.get(), cipher_name, nullptr);
    EXPECT_NE(cipher, nullptr) << cipher_name;
    if (cipher == nullptr) {
        return {};
    }
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    unsigned char iv[8] = {0};
    int len = 0;
    int total = 0;
    bool ok =
        EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, enc, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
        EVP_CipherInit_ex2(ctx, nullptr, key.data(), iv, enc, nullptr) == 1 &&
        EVP_CipherUpdate(ctx, out.data(), &len, input.data(), static_cast<int>(input.size())) == 1;
    total = len;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + total, &len) == 1;
    total += len;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    EXPECT_TRUE(ok);
    out.resize(static_cast<size_t>(total));
    return out;
}

Bytes sample(size_t size, unsigned seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; i++) {
        data[i] = static_cast<unsigned char>((i * 131 + seed * 17 + (i >> 3)) & 0xff);
    }
    return data;
}

Bytes run(Torvel_Crypt_Base &cipher, const Bytes &input, bool encrypt) {
    unsigned char *out = nullptr;
    int out_len = -1;
    bool ok = encrypt ? cipher.encrypt(input.data(), static_cast<int>(input.size()), out, out_len)
                      : cipher.decrypt(input.data(), static_cast<int>(input.size()), out, out_len);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out_len, static_cast<int>(input.size()));
    Bytes result;
    if (ok && out != nullptr) {
        result.assign(out, out + out_len);
    }
    free(out);
    return result;
}

// Feeds input in pieces of the given sizes (cycled) and joins the outputs.
Bytes run_split(Torvel_Crypt_Base &cipher, const Bytes &input, const std::vector<size_t> &sizes,
                bool encrypt) {
    Bytes joined;
    size_t pos = 0;
    for (size_t i = 0; pos < input.size(); i++) {
        size_t n = std::min(sizes[i % sizes.size()], input.size() - pos);
        Bytes piece(input.begin() + pos, input.begin() + pos + n);
        Bytes out = run(cipher, piece, encrypt);
        joined.insert(joined.end(), out.begin(), out.end());
        pos += n;
    }
    return joined;
}

struct CipherCase {
    const char *name;
    Protocol protocol;
    const char *evp_name;
    size_t key_length;
};

std::unique_ptr<Torvel_Crypt_Base> make_cipher(Protocol protocol, const KeyInfo &key) {
    if (protocol == CIPHER_3DES) {
        return std::unique_ptr<Torvel_Crypt_Base>(new Torvel_Crypt_3des(key));
    }
    return std::unique_ptr<Torvel_Crypt_Base>(new Torvel_Crypt_Blowfish(key));
}

class CipherTest : public testing::TestWithParam<CipherCase> {
 protected:
    void SetUp() override {
        key_bytes_ = sample(GetParam().key_length, 99);
        key_ = KeyInfo(key_bytes_.data(), static_cast<int>(key_bytes_.size()), GetParam().protocol);
        cipher_ = make_cipher(GetParam().protocol, key_);
    }
    Bytes oracle(const Bytes &input, int enc) {
        return evp_cfb(GetParam().evp_name, key_bytes_, input, enc);
    }

    Bytes key_bytes_;
    KeyInfo key_;
    std::unique_ptr<Torvel_Crypt_Base> cipher_;
};
}  // namespace

TEST_P(CipherTest, EncryptMatchesEvpOracle) {
    for (size_t size : {1u, 7u, 8u, 13u, 64u, 1000u, 4099u}) {
        cipher_->resetState();
        Bytes input = sample(size, static_cast<unsigned>(size));
        EXPECT_EQ(run(*cipher_, input, true), oracle(input, 1)) << size;
    }
}

TEST_P(CipherTest, DecryptMatchesEvpOracleAndInvertsEncrypt) {
    Bytes plain = sample(777, 3);
    Bytes encrypted = oracle(plain, 1);
    EXPECT_EQ(run(*cipher_, encrypted, false), plain);
}

TEST_P(CipherTest, SplitCallsEqualOneCall) {
    Bytes input = sample(1024, 5);
    Bytes whole = run(*cipher_, input, true);
    for (const std::vector<size_t> &sizes :
         {std::vector<size_t>{1}, std::vector<size_t>{3, 5}, std::vector<size_t>{7, 8, 9, 100}}) {
        cipher_->resetState();
        EXPECT_EQ(run_split(*cipher_, input, sizes, true), whole);
    }
    cipher_->resetState();
    EXPECT_EQ(run_split(*cipher_, whole, {11, 2}, false), input);
}

TEST_P(CipherTest, AbcThenDefEqualsAbcdefAndResetRestarts) {
    Bytes abc = {'a', 'b', 'c'};
    Bytes def = {'d', 'e', 'f'};
    Bytes abcdef = {'a', 'b', 'c', 'd', 'e', 'f'};
    Bytes first = run(*cipher_, abc, true);
    Bytes second = run(*cipher_, def, true);
    first.insert(first.end(), second.begin(), second.end());
    cipher_->resetState();
    EXPECT_EQ(run(*cipher_, abcdef, true), first);
    cipher_->resetState();
    Bytes again = run(*cipher_, abc, true);
    EXPECT_EQ(again, Bytes(first.begin(), first.begin() + 3));
}

TEST_P(CipherTest, OutputLengthEqualsInputLength) {
    Bytes input = sample(13, 1);
    Bytes out = run(*cipher_, input, true);
    EXPECT_EQ(out.size(), 13u);
    EXPECT_NE(out, input);
}

TEST_P(CipherTest, RefusesNegativeLengthAndNullInput) {
    unsigned char *out = reinterpret_cast<unsigned char *>(1);
    int out_len = 5;
    unsigned char byte = 0;
    EXPECT_FALSE(cipher_->encrypt(&byte, -1, out, out_len));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(out_len, 0);
    EXPECT_FALSE(cipher_->decrypt(nullptr, 4, out, out_len));
    EXPECT_EQ(out, nullptr);
}

TEST_P(CipherTest, EmptyInputGivesAnEmptyBuffer) {
    unsigned char *out = nullptr;
    int out_len = -1;
    EXPECT_TRUE(cipher_->encrypt(nullptr, 0, out, out_len));
    EXPECT_EQ(out_len, 0);
    free(out);
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, CipherTest,
    testing::Values(CipherCase{"TripleDes", CIPHER_3DES, "DES-EDE3-CFB", 24},
                    CipherCase{"BlowfishShortKey", CIPHER_BLOWFISH, "BF-CFB", 7},
                    CipherCase{"Blowfish16", CIPHER_BLOWFISH, "BF-CFB", 16},
                    CipherCase{"Blowfish56", CIPHER_BLOWFISH, "BF-CFB", 56}),
    [](const testing::TestParamInfo<CipherCase> &info) { return std::string(info.param.name); });

TEST(TripleDes, SixteenByteKeyIsStretchedToK1K2K1) {
    Bytes key16 = sample(16, 42);
    KeyInfo key(key16.data(), 16, CIPHER_3DES);
    Torvel_Crypt_3des cipher(key);
    Bytes key24 = key16;
    key24.insert(key24.end(), key16.begin(), key16.begin() + 8);
    Bytes input = sample(100, 8);
    EXPECT_EQ(run(cipher, input, true), evp_cfb("DES-EDE3-CFB", key24, input, 1));
}

TEST(TripleDes, KeyWithoutBytesIsFatal) {
    KeyInfo key(nullptr, 0, CIPHER_3DES);
    EXPECT_EXIT(Torvel_Crypt_3des cipher(key), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(keyData\\)");
}

TEST(CryptBase, ProtocolMismatchIsFatal) {
    unsigned char raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    KeyInfo key(raw, 8, CIPHER_BLOWFISH);
    EXPECT_EXIT(Torvel_Crypt_3des cipher(key), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(keyInfo_.getProtocol\\(\\) == protocol\\)");
}

TEST(Blowfish, EmptyKeyIsRefusedNotUsed) {
    DebugCapture capture(D_SECURITY);
    KeyInfo key(nullptr, 0, CIPHER_BLOWFISH);
    Torvel_Crypt_Blowfish cipher(key);
    unsigned char in[4] = {1, 2, 3, 4};
    unsigned char *out = nullptr;
    int out_len = -1;
    EXPECT_FALSE(cipher.encrypt(in, 4, out, out_len));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(cipher.decrypt(in, 4, out, out_len));
    EXPECT_NE(capture.text().find("refusing an empty key"), std::string::npos);
}

TEST(CryptBase, EncryptedSizeAddsUpToAWholeBlock) {
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(10, 8), 16);
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(16, 8), 24);
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(0, 8), 8);
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(10, 0), -1);
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(-1, 8), -1);
    EXPECT_EQ(Torvel_Crypt_Base::encryptedSize(2147483647, 8), -1);
}

TEST(CryptBase, RandomKeysHaveTheLengthAndDiffer) {
    unsigned char *a = Torvel_Crypt_Base::randomKey(24);
    unsigned char *b = Torvel_Crypt_Base::randomKey(24);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(memcmp(a, b, 24), 0);
    free(a);
    free(b);
    EXPECT_EQ(Torvel_Crypt_Base::randomKey(0), nullptr);
    EXPECT_EQ(Torvel_Crypt_Base::randomKey(-5), nullptr);
}

TEST(CryptBase, OneWayHashKeyIsMd5OfTheText) {
    const char *text = "message digest";
    unsigned char *hash = Torvel_Crypt_Base::oneWayHashKey(text);
    ASSERT_NE(hash, nullptr);
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expected_len = 0;
    ASSERT_EQ(EVP_Digest(text, strlen(text), expected, &expected_len, EVP_md5(), nullptr), 1);
    ASSERT_EQ(expected_len, 16u);
    EXPECT_EQ(memcmp(hash, expected, 16), 0);
    free(hash);
    EXPECT_EQ(Torvel_Crypt_Base::oneWayHashKey(nullptr), nullptr);
}
