// Tests of ClassAd::TakeTypesFromAttributes: the types of an ad built
// attribute by attribute come from its MyType and TargetType values, as in
// the reading constructors, replacing any the ad had.
#include <memory>

#include "classad/class_ad.h"
#include "gtest/gtest.h"

namespace {

TEST(ClassAdTakeTypes, ReplacesBothTypesAndRemovesTheAttributes) {
    ClassAd ad;
    ad.SetMyTypeName("Old");
    ad.SetTargetTypeName("OldTarget");
    ASSERT_TRUE(ad.Insert("MyType = \"Job\"", true));
    ASSERT_TRUE(ad.Insert("TargetType = \"Machine\"", true));
    ASSERT_TRUE(ad.Insert("Memory = 64", true));
    ad.TakeTypesFromAttributes();
    EXPECT_STREQ(ad.GetMyTypeName(), "Job");
    EXPECT_STREQ(ad.GetTargetTypeName(), "Machine");
    EXPECT_EQ(ad.Lookup("MyType"), nullptr);
    EXPECT_EQ(ad.Lookup("TargetType"), nullptr);
    EXPECT_NE(ad.Lookup("Memory"), nullptr);
}

TEST(ClassAdTakeTypes, AgreesWithTheTextConstructor) {
    char text[] = "MyType = \"Machine\";TargetType = 5;Requirements = TRUE";
    ClassAd from_text(text, ';');
    ClassAd built;
    built.SetMyTypeName("Stale");
    ASSERT_TRUE(built.Insert("MyType = \"Machine\"", true));
    ASSERT_TRUE(built.Insert("TargetType = 5", true));
    ASSERT_TRUE(built.Insert("Requirements = TRUE", true));
    built.TakeTypesFromAttributes();
    EXPECT_STREQ(built.GetMyTypeName(), from_text.GetMyTypeName());
    EXPECT_STREQ(built.GetTargetTypeName(), from_text.GetTargetTypeName());
    EXPECT_EQ(built.GetTargetTypeNumber(), from_text.GetTargetTypeNumber());
    // A job accepting machines matches both the same way.
    ClassAd job;
    job.SetMyTypeName("Job");
    job.SetTargetTypeName("Machine");
    ASSERT_TRUE(job.Insert("Requirements = TRUE", true));
    EXPECT_EQ(job.IsAMatch(&built), job.IsAMatch(&from_text));
}

}  // namespace
