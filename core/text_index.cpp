// The text hash behind TextIndex: FNV-1a over the bytes (letters folded to
// lower case on request), then a final mix so that the low bits, which pick
// the index slot, depend on every byte.
#include "core/text_index.h"

uint32_t _torvel_text_hash(const char *text, bool fold) {
    uint32_t h = 2166136261u;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; p++) {
        unsigned char c = *p;
        if (fold && c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + ('a' - 'A'));
        }
        h = (h ^ c) * 16777619u;
    }
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}
