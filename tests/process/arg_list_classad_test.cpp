// Tests of the ClassAd forms of argument lists: reading "Arguments" or
// "Args", and writing for peers of old, new and unknown versions.
#include <gtest/gtest.h>

#include <string>

#include "classad/class_ad.h"
#include "process/arg_list.h"
#include "version/torvel_version_info.h"

namespace {

const char kOldPeer[] = "$TorvelVersion: 6.7.14 Jan 10 2005 $";
const char kNewPeer[] = "$TorvelVersion: 6.7.15 Feb 1 2005 $";

std::string StringAttr(ClassAd &ad, const char *name) {
    MyString value;
    return ad.LookupString(name, value) == 1 ? value.Value() : "<absent>";
}

TEST(ArgListClassAdTest, ReadsArgumentsBeforeArgs) {
    ClassAd ad;
    ASSERT_TRUE(ad.Assign("Args", "v1 only"));
    ArgList v1;
    ASSERT_TRUE(v1.AppendArgsFromClassAd(&ad, nullptr));
    ASSERT_EQ(2, v1.Count());
    EXPECT_STREQ("only", v1.GetArg(1));

    ASSERT_TRUE(ad.Assign("Arguments", "'a b' c"));
    ArgList v2;
    ASSERT_TRUE(v2.AppendArgsFromClassAd(&ad, nullptr));
    ASSERT_EQ(2, v2.Count());
    EXPECT_STREQ("a b", v2.GetArg(0));

    MyString display("> ");
    ArgList::GetArgsStringForDisplay(&ad, &display);
    EXPECT_STREQ("> 'a b' c", display.Value());
    MyString marked;
    ArgList fresh;
    ASSERT_TRUE(fresh.GetArgsStringV1or2Raw(&ad, &marked, nullptr));
    EXPECT_STREQ("  a' 'b c", marked.Value());

    ClassAd empty;
    ArgList none;
    EXPECT_TRUE(none.AppendArgsFromClassAd(&empty, nullptr));
    EXPECT_EQ(0, none.Count());
}

TEST(ArgListClassAdTest, WritesWhatThePeerReads) {
    TorvelVersionInfo old_peer(kOldPeer);
    TorvelVersionInfo new_peer(kNewPeer);
    ASSERT_TRUE(old_peer.is_valid());
    EXPECT_TRUE(ArgList::TorvelVersionRequiresV1(old_peer));
    EXPECT_FALSE(ArgList::TorvelVersionRequiresV1(new_peer));

    ArgList list;
    list.AppendArg("a b");
    ClassAd ad;
    ad.Assign("Args", "stale");
    ASSERT_TRUE(list.InsertArgsIntoClassAd(&ad, &new_peer, nullptr));
    EXPECT_EQ("a' 'b", StringAttr(ad, "Arguments"));
    EXPECT_EQ("<absent>", StringAttr(ad, "Args"));

    // An old peer cannot read «a b»: it gets neither attribute.
    MyString error;
    ASSERT_TRUE(list.InsertArgsIntoClassAd(&ad, &old_peer, &error));
    EXPECT_EQ(nullptr, ad.Lookup("Arguments"));
    EXPECT_EQ(nullptr, ad.Lookup("Args"));

    ArgList simple;
    simple.AppendArg("x");
    simple.AppendArg("y");
    ad.Assign("Arguments", "stale");
    ASSERT_TRUE(simple.InsertArgsIntoClassAd(&ad, &old_peer, nullptr));
    EXPECT_EQ("x y", StringAttr(ad, "Args"));
    EXPECT_EQ("<absent>", StringAttr(ad, "Arguments"));
}

TEST(ArgListClassAdTest, UnknownPeerFollowsTheV1Flavour) {
    ClassAd ad;
    ArgList known;
    known.AppendArg("a b");
    ASSERT_TRUE(known.InsertArgsIntoClassAd(&ad, nullptr, nullptr));
    EXPECT_EQ("a' 'b", StringAttr(ad, "Arguments"));

    ArgList unspecified;
    ASSERT_TRUE(unspecified.AppendArgsV1Raw("p q", nullptr));
    ASSERT_TRUE(unspecified.InsertArgsIntoClassAd(&ad, nullptr, nullptr));
    EXPECT_EQ("p q", StringAttr(ad, "Args"));
    EXPECT_EQ("<absent>", StringAttr(ad, "Arguments"));

    unspecified.AppendArg("r s");
    MyString error;
    EXPECT_FALSE(unspecified.InsertArgsIntoClassAd(&ad, nullptr, &error));
    EXPECT_STREQ(
        "Cannot represent 'r s' in V1 arguments syntax.\n"
        "Failed to convert arguments to V1 syntax.",
        error.Value());
}

}  // namespace
