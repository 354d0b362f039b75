// Character classes and a locale handle that always follow the "C" locale,
// whatever setlocale the embedding program has called: configuration text,
// addresses and ClassAd text are read the same way in every daemon.
#ifndef TORVEL_CORE_C_LOCALE_H_
#define TORVEL_CORE_C_LOCALE_H_

#include <locale.h>

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The six characters isspace() accepts in the "C" locale; no byte above 127.
inline bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The "C" locale, made once; for uselocale() around number formatting and
// for the *_l conversions. Owned by this module; never freed.
locale_t c_locale();

#endif  // TORVEL_CORE_C_LOCALE_H_
