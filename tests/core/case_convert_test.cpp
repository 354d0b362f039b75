// ASCII-only case conversion in place.
#include "core/case_convert.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

TEST(CaseConvert, UpperChangesOnlyAsciiLowercase) {
    char text[] = "aZ9\xc3\xa9";  // 'a', 'Z', '9', UTF-8 e-acute
    EXPECT_EQ(strupr(text), text);
    EXPECT_STREQ(text, "AZ9\xc3\xa9");
}

TEST(CaseConvert, LowerChangesOnlyAsciiUppercase) {
    char text[] = "Az9\xc3\x89@[`{";  // UTF-8 E-acute, and the neighbours of A-Z, a-z
    EXPECT_EQ(strlwr(text), text);
    EXPECT_STREQ(text, "az9\xc3\x89@[`{");
}

TEST(CaseConvert, WholeAlphabet) {
    char upper[] = "abcdefghijklmnopqrstuvwxyz";
    strupr(upper);
    EXPECT_STREQ(upper, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    strlwr(upper);
    EXPECT_STREQ(upper, "abcdefghijklmnopqrstuvwxyz");
}

TEST(CaseConvert, HighBytesAreUntouched) {
    char text[128];
    for (int i = 0; i < 127; ++i) {
        text[i] = static_cast<char>(0x80 + i);
    }
    text[127] = '\0';
    char copy[128];
    memcpy(copy, text, sizeof text);
    strupr(text);
    EXPECT_EQ(memcmp(text, copy, sizeof text), 0);
    strlwr(text);
    EXPECT_EQ(memcmp(text, copy, sizeof text), 0);
}

TEST(CaseConvert, NullAndEmpty) {
    EXPECT_EQ(strupr(nullptr), nullptr);
    EXPECT_EQ(strlwr(nullptr), nullptr);
    char empty[] = "";
    EXPECT_EQ(strupr(empty), empty);
    EXPECT_STREQ(empty, "");
}

}  // namespace
