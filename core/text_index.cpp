// The text hash behind TextIndex: eight bytes at a time (letters folded to
// lower case on request, all eight at once), each word mixed into the state
// by a multiply and a rotation, then a final mix so that the low bits,
// which pick the index slot, depend on every byte.
#include "core/text_index.h"

#include <string.h>

namespace {

const uint64_t kOnes = 0x0101010101010101ULL;
const uint64_t kHighBits = 0x8080808080808080ULL;

// The bytes A-Z of w as a-z, every other byte unchanged: the high bit of
// each byte of `upper` is set exactly for the bytes from 'A' to 'Z'.
uint64_t fold_word(uint64_t w) {
    uint64_t low7 = w & ~kHighBits;
    uint64_t at_least_a = low7 + kOnes * (0x80 - 'A');
    uint64_t above_z = low7 + kOnes * (0x80 - 'Z' - 1);
    uint64_t upper = at_least_a & ~above_z & ~w & kHighBits;
    return w | (upper >> 2);  // 0x80 >> 2 is the case bit
}

uint64_t mix_word(uint64_t h, uint64_t w) {
    h ^= w * 0x9E3779B97F4A7C15ULL;
    h = (h << 27) | (h >> 37);
    return h * 0xFF51AFD7ED558CCDULL;
}

}  // namespace

uint32_t _torvel_text_hash_n(const char *text, size_t n, bool fold) {
    uint64_t h = 0xCBF29CE484222325ULL ^ n;
    const char *p = text;
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w;
        memcpy(&w, p, 8);
        h = mix_word(h, fold ? fold_word(w) : w);
    }
    if (n > 0) {
        // The last bytes as the low bytes of a word, as a little-endian
        // load of them padded with zeros would give, read without a byte
        // loop and never beyond the text: the word ending at the text's end
        // when the text is that long, else overlapping loads.
        uint64_t w;
        if (p - text >= 8) {
            memcpy(&w, p + n - 8, 8);
            w >>= 8 * (8 - n);
        } else if (n >= 4) {
            uint32_t low, high;
            memcpy(&low, p, 4);
            memcpy(&high, p + n - 4, 4);
            w = low | static_cast<uint64_t>(high) << (8 * (n - 4));
        } else {
            w = static_cast<uint64_t>(static_cast<unsigned char>(p[0])) |
                static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << (8 * (n / 2)) |
                static_cast<uint64_t>(static_cast<unsigned char>(p[n - 1])) << (8 * (n - 1));
        }
        h = mix_word(h, fold ? fold_word(w) : w);
    }
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 29;
    h *= 0x85EBCA6B2C4F1A35ULL;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

uint32_t _torvel_text_hash(const char *text, bool fold) {
    return _torvel_text_hash_n(text, strlen(text), fold);
}
