// Tests of the match analysis and of ranked pool matching: every count
// against brute force over a generated pool (each clause parsed alone and
// evaluated with the job as MY and the machine as TARGET, IsAMatch for the
// totals), the "what would change" values against re-matching with the
// changed Requirements, and hostile shapes (thousands of clauses, a huge
// ad) as growth checks.
#include "classad/match_analysis.h"

#include <stdio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classad/ad_file_reader.h"
#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/match_report.h"
#include "classad/pool_match.h"
#include "gtest/gtest.h"
#include "tests/classad/classad_test_util.h"
#include "tests/support/growth_check.h"
#include "tests/support/machine_ads.h"

namespace {

using Pool = std::vector<std::unique_ptr<ClassAd>>;

// The ads of text, one per blank-line-separated block.
Pool ReadAds(const std::string &text) {
    Pool ads;
    FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    AdFileReader reader(file);
    for (;;) {
        std::unique_ptr<ClassAd> ad(new ClassAd());
        AdFileReader::Status status = reader.NextClassAd(*ad);
        EXPECT_NE(status, AdFileReader::kBadLine) << reader.BadLine();
        if (status != AdFileReader::kAd) break;
        ads.push_back(std::move(ad));
    }
    fclose(file);
    return ads;
}

Pool GeneratedPool(int n) {
    std::string text;
    for (int seed = 0; seed < n; ++seed) {
        text += machine_ads::TextForm(machine_ads::Generate(seed)) + "\n";
    }
    return ReadAds(text);
}

std::vector<ClassAd *> Borrowed(const Pool &pool) {
    std::vector<ClassAd *> ads;
    for (const auto &ad : pool) ads.push_back(ad.get());
    return ads;
}

std::unique_ptr<ClassAd> Job(const std::string &requirements, const std::string &extra = "") {
    Pool ads = ReadAds(
        "MyType = \"Job\"\nTargetType = \"Machine\"\nOwner = \"alice\"\n"
        "ImageSize = 20000\nRequestMemory = 4096\n" +
        extra + "Requirements = " + requirements + "\n");
    return ads.empty() ? nullptr : std::move(ads[0]);
}

// What "&&" makes of a clause's value: 1 true, 0 false, -1 UNDEFINED, -2 ERROR.
int Truth(const std::string &clause, ClassAd &job, ClassAd &machine) {
    classad_test::TreePtr tree = classad_test::ParseText(clause);
    EvalResult result;
    tree->EvalTree(&job, &machine, &result);
    if (result.type == LX_INTEGER) return result.i != 0;
    if (result.type == LX_FLOAT) return result.f != 0;
    return result.type == LX_UNDEFINED ? -1 : -2;
}

long CountMatches(ClassAd &job, const Pool &pool) {
    long matches = 0;
    for (const auto &machine : pool) matches += job.IsAMatch(machine.get());
    return matches;
}

std::string Joined(const std::vector<std::string> &clauses, size_t without = SIZE_MAX) {
    std::string out;
    for (size_t k = 0; k < clauses.size(); ++k) {
        if (k == without) continue;
        out += (out.empty() ? "" : " && ") + clauses[k];
    }
    return out;
}

class MatchAnalysisTest : public testing::Test {
 protected:
    static void SetUpTestSuite() { pool_ = new Pool(GeneratedPool(400)); }
    static void TearDownTestSuite() { delete pool_; }
    static Pool *pool_;
};
Pool *MatchAnalysisTest::pool_ = nullptr;

TEST_F(MatchAnalysisTest, EveryCountEqualsBruteForce) {
    // Clause 3 is ERROR where RemoteUser (a string) exists, UNDEFINED
    // where it does not and Cpus is 1.
    const std::vector<std::string> clauses = {
        "TARGET.Arch == \"X86_64\"",
        "TARGET.Memory >= MY.RequestMemory",
        "Cpus > 2",
        "(TARGET.RemoteUser > 0 || TARGET.Cpus > 1)",
        "(TARGET.Disk > 2000000 && KFlops > 500000)",
    };
    std::unique_ptr<ClassAd> job = Job(Joined(clauses));
    ASSERT_NE(job, nullptr);
    MatchAnalysis a = AnalyzeMatch(*job, Borrowed(*pool_));
    // The group around a conjunction opens into its two clauses.
    std::vector<std::string> expected = clauses;
    expected.pop_back();
    expected.push_back("TARGET.Disk > 2000000");
    expected.push_back("KFlops > 500000");
    ASSERT_EQ(expected.size(), a.clauses.size());

    long matches = 0, job_accepts = 0, machines_accept = 0;
    std::vector<long> satisfied(expected.size()), alone(expected.size()),
        undefined(expected.size()), error(expected.size());
    for (const auto &machine : *pool_) {
        matches += job->IsAMatch(machine.get());
        job_accepts += *machine >= *job;
        machines_accept += *job >= *machine;
        std::vector<int> truth;
        int failing = 0;
        for (size_t c = 0; c < expected.size(); ++c) {
            truth.push_back(Truth(expected[c], *job, *machine));
            failing += truth.back() != 1;
        }
        // The clauses decide the job's side exactly as its Requirements does.
        EXPECT_EQ(failing == 0, (*machine >= *job) != 0);
        for (size_t c = 0; c < expected.size(); ++c) {
            satisfied[c] += truth[c] == 1;
            undefined[c] += truth[c] == -1;
            error[c] += truth[c] == -2;
            alone[c] += failing == 1 && truth[c] != 1 && (*job >= *machine);
        }
    }
    EXPECT_EQ(400, a.pool);
    EXPECT_EQ(matches, a.matches);
    EXPECT_EQ(job_accepts, a.job_accepts);
    EXPECT_EQ(machines_accept, a.machines_accept);
    for (size_t c = 0; c < expected.size(); ++c) {
        EXPECT_EQ(expected[c], a.clauses[c].text);
        EXPECT_EQ(satisfied[c], a.clauses[c].satisfied) << expected[c];
        EXPECT_EQ(alone[c], a.clauses[c].rejected_alone) << expected[c];
        EXPECT_EQ(undefined[c], a.clauses[c].undefined) << expected[c];
        EXPECT_EQ(error[c], a.clauses[c].error) << expected[c];
    }
    // Each count can fail: the pool exercises every outcome.
    EXPECT_GT(matches, 0);
    EXPECT_GT(alone[2], 0);
    EXPECT_GT(undefined[3], 0);
    EXPECT_GT(error[3], 0);
}

TEST_F(MatchAnalysisTest, MissingNamesAreTheReferencesTheMachineLacks) {
    std::unique_ptr<ClassAd> job =
        Job("TARGET.Memroy >= RequestMemory && TARGET.LastPeriodicCheckpoint > MY.Nowhere");
    MatchAnalysis a = AnalyzeMatch(*job, Borrowed(*pool_));
    ASSERT_EQ(2u, a.clauses.size());
    ASSERT_EQ(1u, a.clauses[0].missing.size());
    EXPECT_EQ("TARGET.Memroy", a.clauses[0].missing[0].name);
    EXPECT_EQ(400, a.clauses[0].missing[0].machines);
    long lacking = 0;
    for (const auto &machine : *pool_)
        lacking += machine->Lookup("LastPeriodicCheckpoint") == nullptr;
    const std::vector<MissingAttribute> &missing = a.clauses[1].missing;
    ASSERT_EQ(2u, missing.size());
    EXPECT_EQ("TARGET.LastPeriodicCheckpoint", missing[0].name);
    EXPECT_EQ(lacking, missing[0].machines);
    EXPECT_EQ("MY.Nowhere", missing[1].name);
    EXPECT_EQ(400, missing[1].machines);
}

TEST_F(MatchAnalysisTest, ThresholdsAdmitTheirShareAndRematchExactly) {
    const std::vector<std::string> clauses = {"TARGET.Arch == \"X86_64\"", "TARGET.Mips >= 1000000",
                                              "MY.RequestMemory <= TARGET.Memory"};
    std::unique_ptr<ClassAd> job = Job(Joined(clauses));
    MatchAnalysis a = AnalyzeMatch(*job, Borrowed(*pool_));
    ASSERT_EQ(3u, a.clauses.size());
    const ClauseAnalysis &mips = a.clauses[1];
    EXPECT_EQ("TARGET.Mips", mips.attribute);
    ASSERT_EQ(3u, mips.thresholds.size());
    for (const ThresholdValue &t : mips.thresholds) {
        std::string changed = "TARGET.Mips >= " + FormatMatchValue(t.value);
        long admitted = 0;
        for (const auto &machine : *pool_) admitted += Truth(changed, *job, *machine) == 1;
        EXPECT_GE(admitted, t.percent * 400 / 100) << changed;
        std::unique_ptr<ClassAd> rematched =
            Job(clauses[0] + " && " + changed + " && " + clauses[2]);
        EXPECT_EQ(CountMatches(*rematched, *pool_), t.matches) << changed;
    }
    // Nothing has 10^6 Mips: the clause alone rejects what dropping it gains.
    std::unique_ptr<ClassAd> dropped = Job(Joined(clauses, 1));
    long gained = CountMatches(*dropped, *pool_);
    EXPECT_EQ(0, a.matches);
    EXPECT_EQ(gained, mips.rejected_alone);
    EXPECT_EQ(0u, a.suggestion.find("dropping `TARGET.Mips >= 1000000` would match " +
                                    FormatMatchCount(gained) + " machines; "))
        << a.suggestion;
    // Memory on the right: the bound is still the machines' memory.
    EXPECT_EQ("TARGET.Memory", a.clauses[2].attribute);
    EXPECT_FALSE(a.clauses[2].thresholds.empty());
}

TEST_F(MatchAnalysisTest, EqualityListsTheMostCommonValues) {
    std::unique_ptr<ClassAd> job = Job("TARGET.OpSys == \"WINDOWS\" && TARGET.Arch =?= \"X86_64\"");
    MatchAnalysis a = AnalyzeMatch(*job, Borrowed(*pool_));
    ASSERT_EQ(2u, a.clauses.size());
    const std::vector<CommonValue> &values = a.clauses[1].common_values;
    ASSERT_EQ(4u, values.size());  // the generator's four architectures
    long total = 0;
    for (size_t k = 0; k < values.size(); ++k) {
        long count = 0;
        for (const auto &machine : *pool_) {
            count += Truth("TARGET.Arch == " + values[k].value, *job, *machine) == 1;
        }
        EXPECT_EQ(count, values[k].machines) << values[k].value;
        if (k > 0) {
            EXPECT_GE(values[k - 1].machines, values[k].machines);
        }
        total += count;
    }
    EXPECT_EQ(400, total);
    EXPECT_TRUE(a.clauses[1].thresholds.empty());
}

TEST_F(MatchAnalysisTest, RefusingMachinesAreGroupedWithTheClauseTheyFail) {
    const char kPool[] =
        "MyType = \"Machine\"\nTargetType = \"Job\"\nName = \"a\"\nMemory = 8192\n"
        "Start = KeyboardIdle > 600 && TARGET.Owner == \"bob\"\nKeyboardIdle = 900\n"
        "Requirements = Start\n\n"
        "MyType = \"Machine\"\nTargetType = \"Job\"\nName = \"b\"\nMemory = 8192\n"
        "Start = KeyboardIdle > 600 && TARGET.Owner == \"bob\"\nKeyboardIdle = 10\n"
        "Requirements = Start\n\n"
        "MyType = \"Machine\"\nTargetType = \"Job\"\nName = \"c\"\nMemory = 8192\n"
        "Start = TRUE\nKeyboardIdle = 10\nRequirements = Start\n\n"
        "MyType = \"Machine\"\nTargetType = \"Job\"\nName = \"d\"\nMemory = 8192\n"
        "Start = TRUE\nRequirements = TARGET.ImageSize < 100\n\n"
        "MyType = \"Machine\"\nTargetType = \"Other\"\nName = \"e\"\nMemory = 8192\n"
        "Requirements = TRUE\n";
    Pool pool = ReadAds(kPool);
    std::unique_ptr<ClassAd> job = Job("TARGET.Memory >= 4096");
    MatchAnalysis a = AnalyzeMatch(*job, Borrowed(pool));
    EXPECT_EQ(1, a.matches);
    ASSERT_EQ(3u, a.refusals.size());
    EXPECT_EQ("Start", a.refusals[0].requirements);
    EXPECT_EQ(2, a.refusals[0].machines);
    EXPECT_EQ("Start: TARGET.Owner == \"bob\"", a.refusals[0].failed_clause);
    EXPECT_EQ(1, a.refusals[0].failed_machines);  // ties keep the first seen
    EXPECT_EQ("TARGET.ImageSize < 100", a.refusals[1].failed_clause);
    EXPECT_EQ("TRUE", a.refusals[2].requirements);
    EXPECT_EQ("", a.refusals[2].failed_clause);  // refused by its type
    EXPECT_EQ("", a.suggestion);                 // something matches
    // Without Requirements the job matches nothing, and has no clauses.
    job->Delete("Requirements");
    a = AnalyzeMatch(*job, Borrowed(pool));
    EXPECT_FALSE(a.job_has_requirements);
    EXPECT_TRUE(a.clauses.empty());
    EXPECT_EQ(0, a.matches);
    EXPECT_EQ(1, a.machines_accept);
}

TEST_F(MatchAnalysisTest, MatchPoolRanksBestFirstAndKeepsFileOrderForTies) {
    std::unique_ptr<ClassAd> job = Job("TARGET.Cpus >= 4", "Rank = TARGET.Memory >= 8192\n");
    std::vector<RankedMatch> ranked = MatchPool(*job, Borrowed(*pool_));
    EXPECT_EQ(CountMatches(*job, *pool_), static_cast<long>(ranked.size()));
    for (size_t k = 1; k < ranked.size(); ++k) {
        EXPECT_GE(ranked[k - 1].rank, ranked[k].rank);
        if (ranked[k - 1].rank == ranked[k].rank) {
            EXPECT_LT(ranked[k - 1].index, ranked[k].index);
        }
    }
    ASSERT_FALSE(ranked.empty());
    EXPECT_EQ(1, ranked.front().rank);
    EXPECT_EQ(0, ranked.back().rank);
}

TEST(MatchAnalysisHostile, ThousandsOfClausesGrowLinearly) {
    Pool pool = GeneratedPool(5);
    // Balanced, so the parser's height bound allows 10,000 clauses.
    std::function<std::string(size_t, size_t)> balanced = [&](size_t from, size_t to) {
        if (to - from == 1) return "TARGET.Memory > " + std::to_string(from);
        size_t mid = (from + to) / 2;
        return "(" + balanced(from, mid) + ") && (" + balanced(mid, to) + ")";
    };
    std::unique_ptr<ClassAd> small = Job(balanced(0, 100));
    std::unique_ptr<ClassAd> large = Job(balanced(0, 10000));
    auto job_of = [&](size_t n) -> ClassAd & { return n == 100 ? *small : *large; };
    ASSERT_EQ(10000u, AnalyzeMatch(*large, Borrowed(pool)).clauses.size());
    // 10,000 clauses' trees and tallies leave the caches that 100 fit in.
    EXPECT_LINEAR_GROWTH_OUT_OF_CACHE(100,
                                      [&](size_t n) { AnalyzeMatch(job_of(n), Borrowed(pool)); });
}

TEST(MatchAnalysisHostile, AHugeAdCostsItsSize) {
    auto pool_of = [](size_t attributes) {
        std::string text =
            "MyType = \"Machine\"\nTargetType = \"Job\"\nMemory = 8192\n"
            "Requirements = TRUE\n";
        for (size_t k = 0; k < attributes; ++k)
            text += "a" + std::to_string(k) + " = " + std::to_string(k) + "\n";
        return ReadAds(text);
    };
    std::unique_ptr<ClassAd> job = Job("TARGET.Memory >= 4096 && TARGET.a9999 >= 0");
    // A million attributes and their index leave the caches.
    EXPECT_LINEAR_GROWTH_OUT_OF_CACHE(10000, [&](size_t n) {
        Pool pool = pool_of(n);
        MatchAnalysis a = AnalyzeMatch(*job, Borrowed(pool));
        EXPECT_EQ(1, a.matches);
    });
}

}  // namespace
