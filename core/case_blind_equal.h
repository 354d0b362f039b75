// Whether two texts are equal without regard to case, with the answer of
// strcasecmp(a, b) == 0 in the calling thread's locale, but inline: hot
// comparisons of short texts (attribute values in matching) cost less than
// the call's own set-up.
#ifndef TORVEL_CORE_CASE_BLIND_EQUAL_H_
#define TORVEL_CORE_CASE_BLIND_EQUAL_H_

#include <ctype.h>
#include <stdint.h>
#include <strings.h>

// REQUIRES: a and b are not null.
inline bool texts_equal_ignoring_case(const char *a, const char *b) {
#if defined(__GLIBC__)
    // glibc's strcasecmp folds each byte through the thread's LC_CTYPE
    // lowercase table; reading the same table keeps every locale's answer.
    const int32_t *lower = *__ctype_tolower_loc();
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

#endif  // TORVEL_CORE_CASE_BLIND_EQUAL_H_
