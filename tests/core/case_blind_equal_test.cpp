// The inline case-blind comparison must give strcasecmp's answer for every
// text, in each locale the machine has.
#include "core/case_blind_equal.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <strings.h>

#include <random>
#include <string>

namespace {

// Bytes that find the edges: both cases of letters, the neighbours of A-Z
// and a-z, digits, and high bytes that some 8-bit locales fold.
const char kAlphabet[] = "aAzZiI@[`{09_\xc4\xe4\xfd\xdd";

void ExpectSameAsStrcasecmp(const std::string &a, const std::string &b) {
    EXPECT_EQ(texts_equal_ignoring_case(a.c_str(), b.c_str()),
              strcasecmp(a.c_str(), b.c_str()) == 0)
        << '"' << a << "\" against \"" << b << '"';
}

void CompareEverythingIn(const char *locale_name) {
    locale_t locale = newlocale(LC_ALL_MASK, locale_name, nullptr);
    if (locale == nullptr) {
        return;  // not installed here
    }
    locale_t previous = uselocale(locale);
    for (int x = 0; x < 256; x++) {
        for (int y = 0; y < 256; y++) {
            std::string a = x != 0 ? std::string(1, static_cast<char>(x)) : std::string();
            std::string b = y != 0 ? std::string(1, static_cast<char>(y)) : std::string();
            ExpectSameAsStrcasecmp(a, b);
        }
    }
    std::mt19937 random(7);
    for (int round = 0; round < 20000; round++) {
        std::string a;
        size_t length = random() % 12;
        for (size_t i = 0; i < length; i++) {
            a += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
        }
        // Mostly a's own letters with some cases flipped, sometimes cut
        // short or run on, so that equal answers are common.
        std::string b = a;
        for (char &c : b) {
            if (random() % 3 == 0 && isalpha(static_cast<unsigned char>(c))) {
                c = static_cast<char>(c ^ 0x20);
            }
        }
        if (random() % 4 == 0 && !b.empty()) {
            b.pop_back();
        } else if (random() % 4 == 0) {
            b += 'a';
        }
        ExpectSameAsStrcasecmp(a, b);
        ExpectSameAsStrcasecmp(b, a);
    }
    uselocale(previous);
    freelocale(locale);
}

TEST(CaseBlindEqual, AgreesWithStrcasecmpInEveryInstalledLocale) {
    CompareEverythingIn("C");
    CompareEverythingIn("C.UTF-8");
    CompareEverythingIn("en_US.UTF-8");
    CompareEverythingIn("tr_TR.ISO-8859-9");
}

}  // namespace
