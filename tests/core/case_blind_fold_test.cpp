// Word-at-a-time comparison of short ASCII constants: the same answers as
// strcasecmp wherever it claims to decide, and the locale check it relies on.
#include <ctype.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <random>
#include <string>

#include "core/case_blind_equal.h"

namespace {

const char kLetters[] = "aAzZiI@[`{09_-. ";

std::string RandomText(std::mt19937 &random, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; i++) {
        text += kLetters[random() % (sizeof(kLetters) - 1)];
    }
    return text;
}

TEST(FoldedText, AgreesWithStrcasecmpForAsciiTexts) {
    std::mt19937 random(11);
    for (int round = 0; round < 50000; round++) {
        std::string constant = RandomText(random, 1 + random() % 16);
        FoldedText folded;
        ASSERT_TRUE(prepare_folded_text(constant.c_str(), constant.size(), &folded));
        // Mostly the constant with letters flipped in case, sometimes one
        // byte changed or the length moved, sometimes anything.
        std::string text = constant;
        for (char &c : text) {
            if (random() % 2 == 0 && isalpha(static_cast<unsigned char>(c))) {
                c = static_cast<char>(c ^ 0x20);
            }
        }
        switch (random() % 4) {
            case 0:
                text[random() % text.size()] = kLetters[random() % (sizeof(kLetters) - 1)];
                break;
            case 1:
                text = random() % 2 == 0 ? text + "x" : text.substr(0, text.size() - 1);
                break;
            case 2:
                text = RandomText(random, random() % 18);
                break;
            default:
                break;
        }
        bool ascii = false;
        bool equal =
            folded_text_equals(folded, text.c_str(), static_cast<uint32_t>(text.size()), &ascii);
        EXPECT_TRUE(ascii);
        EXPECT_EQ(equal, strcasecmp(constant.c_str(), text.c_str()) == 0)
            << '"' << constant << "\" against \"" << text << '"';
    }
}

TEST(FoldedText, RefusesWhatItCannotCompareByWords) {
    FoldedText folded;
    EXPECT_FALSE(prepare_folded_text("", 0, &folded));
    EXPECT_FALSE(prepare_folded_text("seventeen letters", 17, &folded));
    EXPECT_FALSE(prepare_folded_text("\xc4rger", 5, &folded));
    ASSERT_TRUE(prepare_folded_text("arger", 5, &folded));
    bool ascii = true;
    folded_text_equals(folded, "\xc4rger", 5, &ascii);
    EXPECT_FALSE(ascii);  // a high byte may lower to anything in some locale
}

TEST(FoldedText, LocaleCheckKnowsPlainFromOtherFolding) {
    const int32_t *lower = case_fold_table();
    ASSERT_NE(lower, nullptr);
    EXPECT_TRUE(locale_folds_ascii_plainly(lower));
    EXPECT_TRUE(locale_folds_ascii_plainly(lower));  // now from what it keeps
    // A table that lowers I as a Turkish 8-bit locale does.
    int32_t turkish[384];
    memcpy(turkish, lower - 128, sizeof(turkish));
    turkish[128 + 'I'] = 0xFD;
    EXPECT_FALSE(locale_folds_ascii_plainly(turkish + 128));
    EXPECT_FALSE(locale_folds_ascii_plainly(nullptr));
}

}  // namespace
