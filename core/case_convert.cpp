// ASCII-only case conversion: locale-independent on purpose, since
// configuration names are compared this way on every host.
#include "core/case_convert.h"

char *strupr(char *s) {
    if (s == nullptr) {
        return s;
    }
    for (char *p = s; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') {
            *p = static_cast<char>(*p - 'a' + 'A');
        }
    }
    return s;
}

char *strlwr(char *s) {
    if (s == nullptr) {
        return s;
    }
    for (char *p = s; *p != '\0'; ++p) {
        if (*p >= 'A' && *p <= 'Z') {
            *p = static_cast<char>(*p - 'A' + 'a');
        }
    }
    return s;
}
