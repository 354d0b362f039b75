// The distribution-dependent attribute and environment-variable names: every
// entry with the default distribution, caching, unknown entries, and names
// rebuilt for another distribution after the caches are emptied.
#include "config/well_known_names.h"

#include <gtest/gtest.h>

#include "config/distribution.h"

namespace {

// Leaves the process-wide distribution and caches as the tests found them.
class WellKnownNamesTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_EQ(AttrInit(), 0);
        ASSERT_EQ(EnvInit(), 0);
    }
    void TearDown() override {
        myDistro->SetDistribution("torvel");
        AttrInit();
        EnvInit();
    }
};

TEST_F(WellKnownNamesTest, AttributeNamesUseTheCapitalisedName) {
    EXPECT_STREQ(AttrGetName(ATTRNAME_LOAD_AVG), "TorvelLoadAvg");
    EXPECT_STREQ(AttrGetName(ATTRNAME_ADMIN), "TorvelAdmin");
    EXPECT_STREQ(AttrGetName(ATTRNAME_PLATFORM), "TorvelPlatform");
    EXPECT_STREQ(AttrGetName(ATTRNAME_TOTAL_LOAD_AVG), "TotalTorvelLoadAvg");
    EXPECT_STREQ(AttrGetName(ATTRNAME_VERSION), "TorvelVersion");
}

TEST_F(WellKnownNamesTest, EnvironmentNamesForEveryEntry) {
    const char * const expected[] = {"TORVEL_INHERIT",
                                     "TORVEL_STACK_SIZE",
                                     "TORVEL_CORESIZE",
                                     "GZIP",
                                     "PVM_ROOT",
                                     "TORVEL_IDS",
                                     "PATH",
                                     "TORVEL_ID",
                                     "SCHEDD_NAME",
                                     "TORVEL_CORE_SIZE",
                                     "_TORVEL_NOCHECK",
                                     "PARALLEL_SHADOW_SINFUL",
                                     "_torvel_LOWPORT",
                                     "_torvel_HIGHPORT",
                                     "TORVEL_CONFIG",
                                     "TORVEL_CONFIG_ROOT",
                                     "RENDEZVOUS_DIRECTORY",
                                     "DAEMON_DEATHTIME",
                                     "TORVEL_PARENT_ID"};
    ASSERT_EQ(sizeof expected / sizeof expected[0], ENVIRON_PARENT_ID + 1u);
    for (int i = 0; i <= ENVIRON_PARENT_ID; i++) {
        EXPECT_STREQ(EnvGetName(static_cast<TORVEL_ENVIRON>(i)), expected[i]) << i;
    }
}

TEST_F(WellKnownNamesTest, SecondLookupReturnsTheCachedName) {
    const char *lowport = EnvGetName(ENVIRON_LOWPORT);
    EXPECT_EQ(EnvGetName(ENVIRON_LOWPORT), lowport);
    const char *path = EnvGetName(ENVIRON_PATH);
    EXPECT_EQ(EnvGetName(ENVIRON_PATH), path);
    const char *version = AttrGetName(ATTRNAME_VERSION);
    EXPECT_EQ(AttrGetName(ATTRNAME_VERSION), version);
}

TEST_F(WellKnownNamesTest, UnknownEntriesHaveNoName) {
    EXPECT_EQ(AttrGetName(static_cast<TORVEL_ATTR>(5)), nullptr);
    EXPECT_EQ(AttrGetName(static_cast<TORVEL_ATTR>(-1)), nullptr);
    EXPECT_EQ(EnvGetName(static_cast<TORVEL_ENVIRON>(19)), nullptr);
    EXPECT_EQ(EnvGetName(static_cast<TORVEL_ENVIRON>(-1)), nullptr);
}

// A cached name stays until the caches are emptied; then the names follow
// the distribution in force.
TEST_F(WellKnownNamesTest, InitPicksUpAnotherDistribution) {
    EXPECT_STREQ(EnvGetName(ENVIRON_CONFIG), "TORVEL_CONFIG");
    EXPECT_STREQ(AttrGetName(ATTRNAME_ADMIN), "TorvelAdmin");
    myDistro->SetDistribution("mossfen");
    EXPECT_STREQ(EnvGetName(ENVIRON_CONFIG), "TORVEL_CONFIG");
    EXPECT_STREQ(AttrGetName(ATTRNAME_ADMIN), "TorvelAdmin");
    ASSERT_EQ(EnvInit(), 0);
    ASSERT_EQ(AttrInit(), 0);
    EXPECT_STREQ(EnvGetName(ENVIRON_CONFIG), "MOSSFEN_CONFIG");
    EXPECT_STREQ(EnvGetName(ENVIRON_LOWPORT), "_mossfen_LOWPORT");
    EXPECT_STREQ(EnvGetName(ENVIRON_GZIP), "GZIP");
    EXPECT_STREQ(AttrGetName(ATTRNAME_ADMIN), "MossfenAdmin");
    EXPECT_STREQ(AttrGetName(ATTRNAME_TOTAL_LOAD_AVG), "TotalMossfenLoadAvg");
}

}  // namespace
