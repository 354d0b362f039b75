// Number formatting by hand: printing an ad is mostly printing its
// numbers, and the C library's formatter costs several times the digits.
#include "classad/literal_text.h"

#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "core/c_locale.h"

namespace literal_text {
namespace {

// The decimal digits of v at end, backwards; returns their start.
char *digits_before(char *end, uint64_t v) {
    do {
        *--end = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return end;
}

// The rare floats (infinities, NaNs, 2^40 and above) go to the library.
int format_float_slowly(char *buf, float v) {
    locale_t previous = uselocale(c_locale());
    int n = snprintf(buf, kNumberRoom, "%f", static_cast<double>(v));
    uselocale(previous);
    return n;
}

}  // namespace

int FormatInt(char *buf, int v, bool followed) {
    char scratch[16];
    char *end = scratch + sizeof scratch;
    char *start;
    if (v >= 0 || followed) {
        start = digits_before(end, static_cast<unsigned int>(v));
    } else {
        start = digits_before(end, 0 - static_cast<uint64_t>(static_cast<int64_t>(v)));
        *--start = '-';
    }
    int n = static_cast<int>(end - start);
    memcpy(buf, start, static_cast<size_t>(n));
    return n;
}

// v is m * 2^e exactly; below 2^40, v * 10^6 = m * 10^6 * 2^e needs no
// more than 64 bits before the shift, so the six decimals come out exact,
// rounded half to even as the library rounds them.
int FormatFloat(char *buf, float v) {
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    int biased = static_cast<int>((bits >> 23) & 0xff);
    uint64_t m = bits & 0x7fffff;
    int e = biased == 0 ? -149 : biased - 150;
    if (biased != 0) {
        m |= 0x800000;
    }
    if (biased == 0xff || e > 16) {
        return format_float_slowly(buf, v);
    }
    uint64_t millionths;
    if (e >= 0) {
        millionths = (m << e) * 1000000;
    } else if (-e >= 64) {
        millionths = 0;  // m * 10^6 < 2^44: below half a millionth
    } else {
        uint64_t scaled = m * 1000000;
        int shift = -e;
        millionths = scaled >> shift;
        uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
        uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (millionths & 1) != 0)) {
            millionths++;
        }
    }
    char scratch[32];
    char *end = scratch + sizeof scratch;
    char *start = end - 7;
    uint64_t fraction = millionths % 1000000;
    start[0] = '.';
    for (int i = 6; i >= 1; i--) {
        start[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    start = digits_before(start, millionths / 1000000);
    if ((bits >> 31) != 0) {
        *--start = '-';
    }
    int n = static_cast<int>(end - start);
    memcpy(buf, start, static_cast<size_t>(n));
    return n;
}

// Runs between quotes are copied whole: most texts have no quote at all.
size_t QuotedLength(const char *text) {
    size_t n = strlen(text) + 2;
    for (const char *quote = strchr(text, '"'); quote != nullptr; quote = strchr(quote + 1, '"')) {
        n++;
    }
    return n;
}

char *PrintQuoted(char *end, const char *text) {
    *end++ = '"';
    for (;;) {
        const char *stop = strchrnul(text, '"');
        size_t run = static_cast<size_t>(stop - text);
        memcpy(end, text, run);
        end += run;
        if (*stop == '\0') {
            break;
        }
        *end++ = '\\';
        *end++ = '"';
        text = stop + 1;
    }
    *end++ = '"';
    return end;
}

}  // namespace literal_text
