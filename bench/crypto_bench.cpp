// Cipher throughput: each cipher class encrypting 1 KiB and 64 KiB buffers,
// against the OpenSSL function it wraps called directly on a preallocated
// buffer. Case and baseline alternate within each iteration; the benchmark's
// time is the case's alone and the "ratio" counter is case time / baseline
// time.
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>
#include <openssl/des.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "bench/baseline_timer.h"
#include "crypto/crypt_3des.h"
#include "crypto/crypt_blowfish.h"

const char *mySubSystem = "TOOL";

namespace {
std::vector<unsigned char> key_bytes(size_t n) {
    std::vector<unsigned char> key(n);
    for (size_t i = 0; i < n; i++) {
        key[i] = static_cast<unsigned char>(i * 37 + 11);
    }
    return key;
}

// One encryption through the cipher class; the result is freed.
template <class Cipher>
void EncryptOnce(Cipher &cipher, std::vector<unsigned char> &input) {
    unsigned char *out = nullptr;
    int out_len = 0;
    cipher.encrypt(input.data(), static_cast<int>(input.size()), out, out_len);
    benchmark::DoNotOptimize(out);
    free(out);
}

void BM_TripleDesEncrypt(benchmark::State &state) {
    const int size = static_cast<int>(state.range(0));
    std::vector<unsigned char> key = key_bytes(24);
    std::vector<unsigned char> input(static_cast<size_t>(size), 0x5a);
    Torvel_Crypt_3des cipher(KeyInfo(key.data(), 24, CIPHER_3DES));

    DES_key_schedule ks1, ks2, ks3;
    DES_cblock part;
    memcpy(part, key.data(), 8);
    DES_set_key(&part, &ks1);
    memcpy(part, key.data() + 8, 8);
    DES_set_key(&part, &ks2);
    memcpy(part, key.data() + 16, 8);
    DES_set_key(&part, &ks3);
    DES_cblock ivec = {0};
    int num = 0;
    std::vector<unsigned char> output(static_cast<size_t>(size));

    RunWithBaseline(
        state, [&] { EncryptOnce(cipher, input); },
        [&] {
            DES_ede3_cfb64_encrypt(input.data(), output.data(), size, &ks1, &ks2, &ks3, &ivec, &num,
                                   DES_ENCRYPT);
            benchmark::DoNotOptimize(output.data());
        });
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_BlowfishEncrypt(benchmark::State &state) {
    const int size = static_cast<int>(state.range(0));
    std::vector<unsigned char> key = key_bytes(16);
    std::vector<unsigned char> input(static_cast<size_t>(size), 0x5a);
    Torvel_Crypt_Blowfish cipher(KeyInfo(key.data(), 16, CIPHER_BLOWFISH));

    BF_KEY schedule;
    BF_set_key(&schedule, 16, key.data());
    unsigned char ivec[8] = {0};
    int num = 0;
    std::vector<unsigned char> output(static_cast<size_t>(size));

    RunWithBaseline(
        state, [&] { EncryptOnce(cipher, input); },
        [&] {
            BF_cfb64_encrypt(input.data(), output.data(), size, &schedule, ivec, &num, BF_ENCRYPT);
            benchmark::DoNotOptimize(output.data());
        });
    state.SetBytesProcessed(state.iterations() * size);
}
}  // namespace

BENCHMARK(BM_TripleDesEncrypt)->Arg(1024)->Arg(64 * 1024)->UseManualTime();
BENCHMARK(BM_BlowfishEncrypt)->Arg(1024)->Arg(64 * 1024)->UseManualTime();

BENCHMARK_MAIN();
