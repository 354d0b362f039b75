// The shared "C" locale handle.
#include "core/c_locale.h"

locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}
