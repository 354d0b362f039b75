// Tests of the distribution name and its three spellings.
#include "config/distribution.h"

#include <gtest/gtest.h>

namespace {

TEST(DistributionTest, ProcessWideObjectStartsAsTorvel) {
    ASSERT_EQ(&myDistribution, myDistro);
    EXPECT_STREQ("torvel", myDistro->Get());
    EXPECT_STREQ("TORVEL", myDistro->GetUc());
    EXPECT_STREQ("Torvel", myDistro->GetCap());
    EXPECT_EQ(6, myDistro->GetLen());
}

TEST(DistributionTest, SetDistributionBuildsTheThreeForms) {
    Distribution d;
    d.SetDistribution("mixedCase9");
    EXPECT_STREQ("mixedCase9", d.Get());
    EXPECT_STREQ("MIXEDCASE9", d.GetUc());
    EXPECT_STREQ("MixedCase9", d.GetCap());
    EXPECT_EQ(10, d.GetLen());
}

TEST(DistributionTest, LongNamesKeepTwentyCharacters) {
    Distribution d;
    d.SetDistribution("abcdefghijklmnopqrstuvwxy");  // 25
    EXPECT_STREQ("abcdefghijklmnopqrst", d.Get());
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQRST", d.GetUc());
    EXPECT_STREQ("Abcdefghijklmnopqrst", d.GetCap());
    EXPECT_EQ(20, d.GetLen());
}

TEST(DistributionTest, EmptyAndNullNames) {
    Distribution d;
    d.SetDistribution("");
    EXPECT_STREQ("", d.GetCap());
    EXPECT_EQ(0, d.GetLen());
    d.SetDistribution(nullptr);
    EXPECT_STREQ("", d.Get());
}

TEST(DistributionTest, InitLooksAtTheProgramName) {
    Distribution d;
    char mossfen[] = "/usr/sbin/Mossfen_master";
    char *argv1[] = {mossfen, nullptr};
    EXPECT_EQ(1, d.Init(1, argv1));
    EXPECT_STREQ("mossfen", d.Get());
    EXPECT_STREQ("Mossfen", d.GetCap());

    char other[] = "/usr/sbin/mOSSFEN";  // none of the three spellings
    char *argv2[] = {other, nullptr};
    EXPECT_EQ(1, d.Init(1, argv2));
    EXPECT_STREQ("torvel", d.Get());
    EXPECT_EQ(1, d.Init(0, nullptr));
    EXPECT_STREQ("TORVEL", d.GetUc());
}

}  // namespace
