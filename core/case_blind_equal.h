// Whether two texts are equal without regard to case, with the answer of
// strcasecmp(a, b) == 0 in the calling thread's locale, but inline: hot
// comparisons of short texts (attribute values in matching) cost less than
// the call's own set-up.
#ifndef TORVEL_CORE_CASE_BLIND_EQUAL_H_
#define TORVEL_CORE_CASE_BLIND_EQUAL_H_

#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <atomic>

// The table through which strcasecmp lowers bytes in the calling thread's
// locale, indexed by byte; null where it cannot be known.
inline const int32_t *case_fold_table() {
#if defined(__GLIBC__)
    return *__ctype_tolower_loc();
#else
    return nullptr;
#endif
}

// REQUIRES: a and b are not null.
inline bool texts_equal_ignoring_case(const char *a, const char *b) {
#if defined(__GLIBC__)
    // glibc's strcasecmp folds each byte through the thread's LC_CTYPE
    // lowercase table; reading the same table keeps every locale's answer.
    const int32_t *lower = case_fold_table();
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
    while (lower[*x] == lower[*y]) {
        if (*x == '\0') {
            return true;
        }
        x++;
        y++;
    }
    return false;
#else
    return strcasecmp(a, b) == 0;
#endif
}

// The last table found to fold plainly; see locale_folds_ascii_plainly.
extern std::atomic<const int32_t *> _torvel_plain_fold_table;
bool _torvel_locale_folds_ascii_plainly(const int32_t *lower);

// Whether lower, the calling thread's table (case_fold_table), lowers
// A-Z to a-z and leaves every other ASCII byte as it is, as the C locale
// does. Inline and cheap for the table last asked about.
inline bool locale_folds_ascii_plainly(const int32_t *lower) {
    return (lower != nullptr &&
            lower == _torvel_plain_fold_table.load(std::memory_order_relaxed)) ||
           _torvel_locale_folds_ascii_plainly(lower);
}

// A short ASCII text prepared to be compared without regard to case a word
// at a time, with no branch on the other text's bytes: a constant that many
// texts are compared with.
struct FoldedText {
    const char *text;  // borrowed; length bytes
    uint32_t length;   // 1 to 16
    // The bytes as two overlapping words with A-Z lowered, and the case
    // bit (0x20) of each letter among them: a byte is the letter in either
    // case exactly when it equals the lowered letter once that bit is set.
    uint64_t folded[2];
    uint64_t letters[2];
};

// Prepares text[0..n) as out; false when it is no ASCII text of 1 to 16 bytes.
bool prepare_folded_text(const char *text, size_t n, FoldedText *out);

namespace torvel_case_blind {

const uint64_t kHigh = 0x8080808080808080ULL;
const uint64_t kOnes = 0x0101010101010101ULL;

// Each ASCII byte of w with A-Z lowered to a-z.
inline uint64_t fold_ascii(uint64_t w) {
    uint64_t low = w & ~kHigh;
    uint64_t at_least_a = (low + (0x80 - 'A') * kOnes) & kHigh;
    uint64_t above_z = (low + (0x80 - 'Z' - 1) * kOnes) & kHigh;
    return w | ((at_least_a & ~above_z & ~w) >> 2);
}

// The n bytes at p (1 to 16 of them) as two words that together hold each.
inline void load_words(const char *p, uint32_t n, uint64_t w[2]) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(p);
    if (n >= 8) {
        memcpy(&w[0], b, 8);
        memcpy(&w[1], b + n - 8, 8);
    } else if (n >= 4) {
        uint32_t first;
        uint32_t last;
        memcpy(&first, b, 4);
        memcpy(&last, b + n - 4, 4);
        w[0] = first;
        w[1] = last;
    } else {
        w[0] = b[0] | static_cast<uint64_t>(b[n / 2]) << 8 | static_cast<uint64_t>(b[n - 1]) << 16;
        w[1] = 0;
    }
}

}  // namespace torvel_case_blind

// Whether text (text_length bytes long) equals c without regard to case,
// with no branch on text's bytes, in a locale that folds ASCII plainly
// (locale_folds_ascii_plainly). *ascii is set false when text is not ASCII,
// and then only a byte-by-byte comparison can tell. Texts of other lengths
// differ in every locale, since no byte but NUL lowers to NUL.
inline bool folded_text_equals(const FoldedText &c, const char *text, uint32_t text_length,
                               bool *ascii) {
    using namespace torvel_case_blind;
    // A text of another length is never read: c is compared with itself,
    // chosen by a mask, as a conditional would become a branch.
    bool same_length = text_length == c.length;
    uintptr_t mask = 0 - static_cast<uintptr_t>(same_length);
    const char *read = reinterpret_cast<const char *>(
        (reinterpret_cast<uintptr_t>(text) & mask) | (reinterpret_cast<uintptr_t>(c.text) & ~mask));
    uint64_t w[2];
    load_words(read, c.length, w);
    *ascii = ((w[0] | w[1]) & kHigh) == 0;
    uint64_t differ = ((w[0] | c.letters[0]) ^ c.folded[0]) | ((w[1] | c.letters[1]) ^ c.folded[1]);
    return same_length && differ == 0;
}

#endif  // TORVEL_CORE_CASE_BLIND_EQUAL_H_
