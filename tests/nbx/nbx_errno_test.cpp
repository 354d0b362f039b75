// Tests of the brokering layer's error texts and version strings.
#include "nbx/nbx_errno.h"

#include <errno.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(NbxStrerrorTest, KnownCodeWithoutErrnoIsTheTableText) {
    errno = 0;
    EXPECT_STREQ(NBX_strerror(1002), "Broker is not available");
    EXPECT_STREQ(NBX_strerror(0), "No NBX error");
    EXPECT_STREQ(NBX_strerror(1011), "Can't explain why");
    EXPECT_EQ(errno, 0);
}

TEST(NbxStrerrorTest, KnownCodeWithErrnoAddsTheSystemText) {
    errno = 111;
    std::string expected =
        std::string("Broker is not available (errno 111: ") + strerror(111) + ")";
    EXPECT_EQ(std::string(NBX_strerror(1002)), expected);
    EXPECT_EQ(errno, 111);
}

TEST(NbxStrerrorTest, UnknownCodesAreInvalid) {
    for (int code : {5, -1, 1000, 1012, 3000, 2999}) {
        errno = 111;
        EXPECT_STREQ(NBX_strerror(code), "Invalid error number passed") << code;
    }
}

TEST(NbxStrerrorTest, ResultIsOneBufferOverwrittenByTheNextCall) {
    errno = 0;
    char *first = NBX_strerror(1005);
    char *second = NBX_strerror(1006);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "invalid argument is passed");
}

TEST(NbxStrerrorTest, TableHoldsEveryCodeInOrderAndEndsWithSentinel) {
    const char * const texts[] = {
        "errno explains the reason best",
        "Broker is not available",
        "NBX message in a bad format received",
        "Invalid type of NBX message received",
        "the socket is being internally used by NBX",
        "invalid argument is passed",
        "operation not supported for fd",
        "the socket is in invalid status for the call",
        "the peer is not registered to the dest Broker",
        "Can't hear from the dest in PASSIVE connection",
        "Can't explain why",
    };
    EXPECT_EQ(NBX_errno_translation[0].code, 0);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(NBX_errno_translation[i + 1].code, 1001 + i);
        EXPECT_STREQ(NBX_errno_translation[i + 1].text, texts[i]);
    }
    EXPECT_EQ(NBX_errno_translation[12].code, 3000);
}

TEST(NbxVersionTest, VersionStrings) {
    EXPECT_STREQ(_nbx_version(), "$NBXVersion: 1.3.2 $");
    EXPECT_STREQ(_nbx_build_date(), "$NBXBuildDate: Jul 19 2006 $");
}

}  // namespace
