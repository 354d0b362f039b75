#include "core/case_blind_equal.h"

#include <locale.h>

#include <atomic>

namespace {

// Tables found to fold ASCII plainly. Each is kept with a copy of its
// locale that is never freed, so that its data stays loaded and no other
// locale's table can come to lie at the same address.
const int kKnownTables = 4;
std::atomic<const int32_t *> known_tables[kKnownTables];
locale_t held_locales[kKnownTables];
std::atomic<int> known_count{0};

bool folds_plainly(const int32_t *lower) {
    for (int c = 0; c < 0x80; c++) {
        int expected = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        if (lower[c] != expected) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::atomic<const int32_t *> _torvel_plain_fold_table{nullptr};

bool _torvel_locale_folds_ascii_plainly(const int32_t *lower) {
    if (lower == nullptr) {
        return false;
    }
    int count = known_count.load(std::memory_order_acquire);
    for (int i = 0; i < count && i < kKnownTables; i++) {
        if (known_tables[i].load(std::memory_order_relaxed) == lower) {
            _torvel_plain_fold_table.store(lower, std::memory_order_relaxed);
            return true;
        }
    }
    if (!folds_plainly(lower)) {
        return false;
    }
    if (count < kKnownTables) {
        int slot = known_count.fetch_add(1);
        if (slot < kKnownTables) {
            held_locales[slot] = duplocale(uselocale(static_cast<locale_t>(0)));
            if (held_locales[slot] != static_cast<locale_t>(0)) {
                known_tables[slot].store(lower, std::memory_order_relaxed);
                _torvel_plain_fold_table.store(lower, std::memory_order_relaxed);
            }
        }
    }
    return true;
}

bool prepare_folded_text(const char *text, size_t n, FoldedText *out) {
    if (n == 0 || n > 16) {
        return false;
    }
    for (size_t i = 0; i < n; i++) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    out->text = text;
    out->length = static_cast<uint32_t>(n);
    uint64_t words[2];
    torvel_case_blind::load_words(text, out->length, words);
    for (int k = 0; k < 2; k++) {
        out->folded[k] = torvel_case_blind::fold_ascii(words[k]);
        out->letters[k] = 0;
        for (int byte = 0; byte < 8; byte++) {
            unsigned char c = static_cast<unsigned char>(out->folded[k] >> (8 * byte));
            if (c >= 'a' && c <= 'z') {
                out->letters[k] |= 0x20ULL << (8 * byte);
            }
        }
    }
    return true;
}
