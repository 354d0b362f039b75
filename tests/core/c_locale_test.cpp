// The shared character classes answer as the "C" locale does, whatever
// locale the program has set.
#include "core/c_locale.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

TEST(CLocaleTest, ClassesMatchTheCLocaleForEveryByte) {
    for (int b = 0; b < 256; ++b) {
        char c = static_cast<char>(b);
        EXPECT_EQ(is_digit(c), isdigit_l(b, c_locale()) != 0) << b;
        EXPECT_EQ(is_white(c), isspace_l(b, c_locale()) != 0) << b;
    }
}

TEST(CLocaleTest, NumbersFormatWithAPointUnderTheCLocaleHandle) {
    char text[16];
    locale_t previous = uselocale(c_locale());
    snprintf(text, sizeof text, "%.1f", 2.5);
    uselocale(previous);
    EXPECT_STREQ(text, "2.5");
    EXPECT_EQ(c_locale(), c_locale());  // made once
}

}  // namespace
