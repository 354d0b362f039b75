// ClassAd matching against native code: one job ad is matched with IsAMatch
// against 10,000 prepared machine ads (types checked both ways, then the
// job's Requirements
//     TARGET.Memory >= MY.ImageSize && TARGET.Arch == "X86_64" &&
//     TARGET.OpSys == "LINUX" && TARGET.Disk > 1000 * 1024
// with the job as MY, then each machine's Requirements
//     TARGET.ImageSize <= Memory && Start
// with the machine as MY), and beside it, in the same iteration, a
// hand-written C++ predicate over 10,000 structs with the same fields and
// the same two type checks. Both must agree on every record. The "ratio"
// counter is matching time over native time, the figure to watch; both are
// timed in thread CPU time, so other load on the machine stays out of it.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <strings.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/class_ad.h"

const char *mySubSystem = "TOOL";

namespace {

const int kRecords = 10000;
const int kImageSize = 64;

struct Machine {
    std::string my_type;
    std::string target_type;
    int memory;
    std::string arch;
    std::string opsys;
    int disk;
    bool start;
};

struct Job {
    std::string my_type;
    std::string target_type;
    int image_size;
};

bool NativeMatch(const Job &job, const Machine &m) {
    bool types = strcasecmp(job.target_type.c_str(), m.my_type.c_str()) == 0 &&
                 strcasecmp(m.target_type.c_str(), job.my_type.c_str()) == 0;
    return types && m.memory >= job.image_size && strcasecmp(m.arch.c_str(), "X86_64") == 0 &&
           strcasecmp(m.opsys.c_str(), "LINUX") == 0 && m.disk > 1000 * 1024 &&
           job.image_size <= m.memory && m.start;
}

// A spread of records where each clause rejects some and about a tenth match.
std::vector<Machine> MakeMachines() {
    static const char *arches[] = {"X86_64", "INTEL", "x86_64", "PPC"};
    static const char *systems[] = {"LINUX", "linux", "WINDOWS"};
    static const char *targets[] = {"Job", "Job", "Job", "Other"};
    std::vector<Machine> machines;
    std::mt19937 random(12345);  // fixed seed: the same records every run
    for (int i = 0; i < kRecords; i++) {
        Machine m;
        m.my_type = "Machine";
        m.target_type = targets[random() % 4];
        m.memory = static_cast<int>(16 + random() % 240);
        m.arch = arches[random() % 4];
        m.opsys = systems[random() % 3];
        m.disk = static_cast<int>(500000 + random() % 1500000);
        m.start = random() % 5 != 0;
        machines.push_back(m);
    }
    return machines;
}

std::vector<std::unique_ptr<ClassAd>> MakeAds(const std::vector<Machine> &machines) {
    std::vector<std::unique_ptr<ClassAd>> ads;
    for (const Machine &m : machines) {
        std::unique_ptr<ClassAd> ad(new ClassAd);
        ad->SetMyTypeName(m.my_type.c_str());
        ad->SetTargetTypeName(m.target_type.c_str());
        ad->Assign("Memory", m.memory);
        ad->Assign("Arch", m.arch.c_str());
        ad->Assign("OpSys", m.opsys.c_str());
        ad->Assign("Disk", m.disk);
        ad->Assign("Start", m.start);
        ad->AssignExpr("Requirements", "TARGET.ImageSize <= Memory && Start");
        ads.push_back(std::move(ad));
    }
    return ads;
}

void BM_IsAMatch(benchmark::State &state) {
    std::vector<Machine> machines = MakeMachines();
    std::vector<std::unique_ptr<ClassAd>> ads = MakeAds(machines);
    Job job{"Job", "Machine", kImageSize};
    ClassAd job_ad;
    job_ad.SetMyTypeName(job.my_type.c_str());
    job_ad.SetTargetTypeName(job.target_type.c_str());
    job_ad.Assign("ImageSize", job.image_size);
    job_ad.AssignExpr("Requirements",
                      "TARGET.Memory >= MY.ImageSize && TARGET.Arch == \"X86_64\" && "
                      "TARGET.OpSys == \"LINUX\" && TARGET.Disk > 1000 * 1024");

    // The two must agree on every record, or the comparison is meaningless.
    int matches = 0;
    for (int i = 0; i < kRecords; i++) {
        bool matched = job_ad.IsAMatch(ads[i].get()) != 0;
        if (matched != NativeMatch(job, machines[i])) {
            state.SkipWithError("IsAMatch and the native predicate disagree");
            return;
        }
        matches += matched;
    }

    RunWithBaselineCpu(
        state,
        [&] {
            int count = 0;
            for (int i = 0; i < kRecords; i++) {
                count += job_ad.IsAMatch(ads[i].get());
            }
            benchmark::DoNotOptimize(count);
        },
        [&] {
            int count = 0;
            for (int i = 0; i < kRecords; i++) {
                const Machine *m = &machines[i];
                benchmark::DoNotOptimize(m);
                count += NativeMatch(job, *m);
            }
            benchmark::DoNotOptimize(count);
        },
        kRecords);
    state.counters["matches"] = matches;
}
BENCHMARK(BM_IsAMatch)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
