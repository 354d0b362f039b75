// Tests of ClassAd and ClassAdList: the type registry, types taken from the
// MyType/TargetType attributes, symmetric matching and the one-way
// operators, the text and wire forms with their type lines, copies and
// exchange, and list lookup and sorting.
#include "classad/class_ad.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/my_string.h"
#include "gtest/gtest.h"
#include "tests/stream/memory_stream.h"

namespace {

// An ad with the given types (null: none) and assignments.
ClassAd *Ad(const char *my_type, const char *target_type,
            std::initializer_list<const char *> assignments) {
    ClassAd *ad = new ClassAd;
    ad->SetMyTypeName(my_type);
    ad->SetTargetTypeName(target_type);
    for (const char *a : assignments) {
        EXPECT_TRUE(ad->Insert(a, true)) << a;
    }
    return ad;
}

std::string Printed(ClassAd &ad) {
    MyString out;
    ad.sPrint(out);
    return out.Value() != nullptr ? out.Value() : "";
}

FILE *FileOf(const std::string &text) {
    FILE *file = tmpfile();
    fputs(text.c_str(), file);
    rewind(file);
    return file;
}

TEST(ClassAdTypes, RegistryNumbersNamesInOrderIgnoringCase) {
    Registration &registry = ClassAdTypeRegistry();
    int machine = registry.RegisterType("RegistryTestMachine");
    EXPECT_EQ(machine, registry.RegisterType("registrytestmachine"));
    EXPECT_EQ(machine + 1, registry.RegisterType("RegistryTestJob"));
    AdType typed("REGISTRYTESTJOB");
    EXPECT_EQ(machine + 1, typed.number);
    EXPECT_STREQ("REGISTRYTESTJOB", typed.name);
    AdType none(nullptr);
    EXPECT_EQ(-1, none.number);
    EXPECT_STREQ("", none.name);

    // A private registry grows past its first ten names.
    Registration own;
    for (int i = 0; i < 25; i++) {
        EXPECT_EQ(i, own.RegisterType(std::to_string(i).c_str()));
    }
    EXPECT_EQ(7, own.RegisterType("7"));
    EXPECT_EQ(25, own.Count());
}

TEST(ClassAdTypes, SchedulerWithoutNumUsersIsASubmitter) {
    ClassAd ad;
    EXPECT_STREQ("", ad.GetMyTypeName());
    EXPECT_EQ(-1, ad.GetMyTypeNumber());
    ad.SetMyTypeName("Scheduler");
    EXPECT_STREQ("Submitter", ad.GetMyTypeName());
    ad.Insert("NumUsers = 3", true);
    EXPECT_STREQ("Scheduler", ad.GetMyTypeName());
    ad.SetMyTypeName("scheduler");  // the exception is case-sensitive
    ad.Delete("NumUsers");
    EXPECT_STREQ("scheduler", ad.GetMyTypeName());
    ad.SetMyTypeName(nullptr);
    EXPECT_EQ(-1, ad.GetMyTypeNumber());
}

TEST(ClassAdTypes, TypesComeFromStringAttributesOnly) {
    FILE *file = FileOf("MyType = 5\nTargetType = \"Job\"\nMemory = 64\n");
    char delimiter[] = "---";
    int is_eof = 0, error = 0, empty = 0;
    ClassAd ad(file, delimiter, is_eof, error, empty);
    fclose(file);
    EXPECT_EQ(-1, ad.GetMyTypeNumber());
    EXPECT_STREQ("", ad.GetMyTypeName());
    EXPECT_STREQ("Job", ad.GetTargetTypeName());
    EXPECT_EQ(ClassAdTypeRegistry().RegisterType("job"), ad.GetTargetTypeNumber());
    EXPECT_EQ(nullptr, ad.Lookup("MyType"));
    EXPECT_EQ(nullptr, ad.Lookup("TargetType"));
    EXPECT_EQ("MyType = \"\"\nTargetType = \"Job\"\nMemory = 64\n", Printed(ad));

    char text[] = "MyType = \"Mach\" + \"ine\", TargetType = \"Job\", Memory = 64";
    ClassAd from_string(text, ',');
    EXPECT_STREQ("", from_string.GetMyTypeName());  // not a string value
    char text2[] = "MyType = \"Machine\"\nTargetType = \"Job\"\nRank = Memory";
    ClassAd typed(text2, '\n');
    EXPECT_STREQ("Machine", typed.GetMyTypeName());
    EXPECT_NE(nullptr, typed.GetRankExpr());
    EXPECT_EQ(nullptr, typed.GetRequirements());
}

TEST(ClassAdText, PrintedAdsReadBack) {
    ClassAd *ad = Ad("Scheduler", "Any", {"Name = \"s\"", "Requirements = TRUE"});
    FILE *file = tmpfile();
    ASSERT_TRUE(ad->fPrint(file));
    fputs("---\n", file);
    rewind(file);
    char delimiter[] = "---";
    int is_eof = 0, error = 0, empty = 0;
    ClassAd back(file, delimiter, is_eof, error, empty);
    fclose(file);
    EXPECT_STREQ("Submitter", back.GetMyTypeName());  // no NumUsers
    EXPECT_STREQ("Any", back.GetTargetTypeName());
    EXPECT_EQ("MyType = \"Submitter\"\nTargetType = \"Any\"\nName = \"s\"\nRequirements = TRUE\n",
              Printed(back));
    EXPECT_FALSE(ad->fPrint(nullptr));
    delete ad;
}

TEST(ClassAdMatch, TypesMustFitBothWays) {
    ClassAd *machine = Ad("Machine", "Job", {"Requirements = TRUE"});
    ClassAd *job = Ad("Job", "Machine", {"Requirements = TRUE"});
    EXPECT_EQ(1, machine->IsAMatch(job));
    EXPECT_EQ(1, job->IsAMatch(machine));
    job->SetTargetTypeName("any");
    EXPECT_EQ(1, machine->IsAMatch(job));
    job->SetTargetTypeName("Other");
    EXPECT_EQ(0, machine->IsAMatch(job));
    EXPECT_EQ(0, machine->IsAMatch(nullptr));

    ClassAd *untyped1 = Ad(nullptr, nullptr, {"Requirements = TRUE"});
    ClassAd *untyped2 = Ad(nullptr, nullptr, {"Requirements = 1"});
    EXPECT_EQ(1, untyped1->IsAMatch(untyped2));
    EXPECT_EQ(0, untyped1->IsAMatch(machine));
    for (ClassAd *ad : {machine, job, untyped1, untyped2}) delete ad;
}

// Matching reads the type numbers kept in the ad: every way of giving an ad
// its types (copy, assignment, clear, reading from text) must keep them.
TEST(ClassAdMatch, TypeNumbersFollowEveryChangeOfType) {
    ClassAd *machine = Ad("Machine", "Any", {"Requirements = TRUE"});
    ClassAd *job = Ad("Job", "Machine", {"Requirements = TRUE"});
    ClassAd copy(*machine);
    EXPECT_EQ(1, copy.IsAMatch(job));
    ClassAd assigned;
    EXPECT_EQ(-1, assigned.GetMyTypeNumber());
    assigned = *machine;
    EXPECT_EQ(machine->GetMyTypeNumber(), assigned.GetMyTypeNumber());
    EXPECT_EQ(1, assigned.IsAMatch(job));

    char text[] = "MyType = \"machine\"\nTargetType = \"ANY\"\nRequirements = TRUE";
    ClassAd read(text, '\n');
    EXPECT_EQ(machine->GetMyTypeNumber(), read.GetMyTypeNumber());
    EXPECT_EQ(1, read.IsAMatch(job));

    machine->clear();
    EXPECT_EQ(-1, machine->GetMyTypeNumber());
    EXPECT_EQ(-1, machine->GetTargetTypeNumber());
    machine->Insert("Requirements = TRUE", true);
    EXPECT_EQ(0, machine->IsAMatch(job));  // no longer "Any", no longer a Machine
    assigned = *machine;
    EXPECT_EQ(-1, assigned.GetTargetTypeNumber());
    EXPECT_EQ(0, assigned.IsAMatch(job));
    delete machine;
    delete job;
}

TEST(ClassAdMatch, RequirementsMustBeANonZeroInteger) {
    ClassAd *job = Ad("Job", "Machine", {"Requirements = TARGET.Memory >= 64", "x = 5"});
    struct Case {
        const char *requirements;
        int want;
    } cases[] = {
        {"Requirements = TRUE", 1},
        {"Requirements = 1.0", 0},
        {"Requirements = 2", 1},
        {"Requirements = 0", 0},
        {"Requirements = \"yes\"", 0},
        {"Requirements = MY.x == 5", 0},  // x is the job's: MY sees UNDEFINED
        {"Requirements = TARGET.x == 5", 1},
        {nullptr, 0},  // missing: UNDEFINED
    };
    for (const Case &c : cases) {
        ClassAd *machine = Ad("Machine", "Job", {"Memory = 128"});
        if (c.requirements != nullptr) machine->Insert(c.requirements, true);
        EXPECT_EQ(c.want, machine->IsAMatch(job)) << (c.requirements ? c.requirements : "none");
        EXPECT_EQ(c.want, job->IsAMatch(machine));
        delete machine;
    }
    ClassAd *small = Ad("Machine", "Job", {"Requirements = TRUE"});  // no Memory
    EXPECT_EQ(0, job->IsAMatch(small));
    delete small;
    delete job;
}

TEST(ClassAdMatch, OneWayOperators) {
    ClassAd *job = Ad("Job", "Machine", {"Requirements = TARGET.Memory >= 64", "Size = 1"});
    ClassAd *machine = Ad("Machine", "Job", {"Memory = 128", "Requirements = FALSE"});
    EXPECT_EQ(1, *machine >= *job);  // the machine satisfies the job
    EXPECT_EQ(0, *job >= *machine);
    EXPECT_EQ(1, *job <= *machine);
    EXPECT_EQ(0, *job == *machine);
    machine->Insert("Requirements = TARGET.Size == 1", true);
    EXPECT_EQ(1, *job == *machine);
    job->SetMyTypeName("Other");  // the machine no longer accepts it
    EXPECT_EQ(0, *job >= *machine);
    EXPECT_EQ(1, *machine >= *job);
    delete job;
    delete machine;
}

TEST(ClassAdWire, TypesFollowTheAttributes) {
    ClassAd untyped;
    untyped.Insert("a = 1", true);
    MemoryStream out;
    ASSERT_TRUE(untyped.put(out));
    out.decode();
    int count = 0;
    char *text = nullptr;
    ASSERT_TRUE(out.code(count));
    EXPECT_EQ(1, count);
    ASSERT_TRUE(out.get(text));
    free(text);
    for (int i = 0; i < 2; i++) {
        text = nullptr;
        ASSERT_TRUE(out.get(text));
        EXPECT_STREQ("(unknown type)", text);
        free(text);
    }

    ClassAd *typed = Ad("Machine", "Job", {"Memory = 64"});
    MemoryStream wire;
    ASSERT_TRUE(typed->put(wire));
    ClassAd back;
    back.SetMyTypeName("Stale");
    ASSERT_TRUE(back.initFromStream(wire));
    EXPECT_EQ("MyType = \"Machine\"\nTargetType = \"Job\"\nMemory = 64\n", Printed(back));
    EXPECT_EQ(typed->GetMyTypeNumber(), back.GetMyTypeNumber());
    delete typed;

    MemoryStream cut;
    cut.load(wire.bytes().data(), wire.bytes().size() - 3);
    ClassAd partial;
    EXPECT_FALSE(partial.initFromStream(cut));
}

TEST(ClassAdCopy, CopiesExchangeAndClear) {
    ClassAd *ad = Ad("Machine", "Job", {"a = 1"});
    ad->SetSequenceNumber(7);
    ClassAd copy(*ad);
    EXPECT_STREQ("Machine", copy.GetMyTypeName());
    EXPECT_EQ(7, copy.GetSequenceNumber());
    ad->SetMyTypeName("Changed");
    EXPECT_STREQ("Machine", copy.GetMyTypeName());
    ClassAd assigned;
    assigned = *ad;
    EXPECT_STREQ("Changed", assigned.GetMyTypeName());
    assigned = assigned;
    EXPECT_NE(nullptr, assigned.Lookup("a"));

    ClassAd other;
    other.SetMyTypeName("Other");
    other.Insert("b = 2", true);
    other.SetSequenceNumber(9);
    ad->ExchangeExpressions(&other);
    EXPECT_NE(nullptr, ad->Lookup("b"));
    EXPECT_EQ(nullptr, ad->Lookup("a"));
    EXPECT_EQ(9, ad->GetSequenceNumber());
    EXPECT_STREQ("Changed", ad->GetMyTypeName());  // types stay
    EXPECT_NE(nullptr, other.Lookup("a"));

    ad->clear();
    EXPECT_EQ(-1, ad->GetMyTypeNumber());
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\n", Printed(*ad));
    delete ad;
}

int ByRank(AttrList *x, AttrList *y, void *data) {
    int a = 0, b = 0;
    x->LookupInteger("Rank", a);
    y->LookupInteger("Rank", b);
    ++*static_cast<int *>(data);
    return a < b ? 1 : 0;
}

int Never(AttrList *, AttrList *, void *) {
    return 0;
}

std::string Ranks(ClassAdList &list) {
    std::string out;
    list.Open();
    ClassAd *ad;
    while ((ad = list.Next()) != nullptr) {
        int r = 0;
        ad->LookupInteger("Rank", r);
        out += std::to_string(r) + ",";
    }
    return out;
}

TEST(ClassAdListTest, SortLookupAndWalk) {
    ClassAdList list;
    std::vector<ClassAd *> ads;
    for (int rank : {3, 1, 2}) {
        ClassAd *ad = new ClassAd;
        ad->SetMyTypeName("Machine");
        ad->Assign("Rank", rank);
        ads.push_back(ad);
        list.Insert(ad);
    }
    ads[1]->Insert("Special = TRUE", true);
    ClassAdList shared;
    shared.Insert(ads[0]);  // a representative is sorted like any entry
    int calls = 0;
    list.Sort(ByRank, &calls);
    EXPECT_EQ("1,2,3,", Ranks(list));
    EXPECT_GT(calls, 0);
    list.Sort(Never, nullptr);
    EXPECT_EQ(3, list.MyLength());
    EXPECT_EQ(ads[1], list.Lookup("special"));
    EXPECT_EQ(nullptr, list.Lookup("nothing"));
    EXPECT_EQ(nullptr, ads[0]->FindNext());  // represented, not linked directly

    ClassAdList copy(list);
    EXPECT_EQ(3, copy.MyLength());
    copy.Open();
    ClassAd *first = copy.Next();
    EXPECT_STREQ("Machine", first->GetMyTypeName());  // copied as ClassAds
    EXPECT_NE(nullptr, first->FindNext());

    ClassAdList one;
    ClassAd *alone = new ClassAd;
    one.Insert(alone);
    one.Sort(ByRank, &calls);  // fewer than two: nothing
    EXPECT_EQ(nullptr, alone->FindNext());
}

}  // namespace
