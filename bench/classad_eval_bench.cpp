// ClassAd evaluation against native code: the requirements expression
//     Memory >= 64 && Arch == "X86_64" && OpSys == "LINUX" && Disk > 1000 * 1024
// is parsed once and evaluated over 10,000 prepared machine ads, and beside
// it, in the same iteration, a hand-written C++ predicate over 10,000 structs
// with the same fields (string equality without regard to case, as the
// language compares). Both must agree on every record. The "ratio" counter
// is evaluation time over native time, the figure to watch; both are timed
// in thread CPU time, so other load on the machine stays out of it.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <strings.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"

const char *mySubSystem = "TOOL";

namespace {

const char kRequirements[] =
    "Memory >= 64 && Arch == \"X86_64\" && OpSys == \"LINUX\" && Disk > 1000 * 1024";
const int kRecords = 10000;

struct Machine {
    int memory;
    std::string arch;
    std::string opsys;
    int disk;
};

bool NativeMatch(const Machine &m) {
    return m.memory >= 64 && strcasecmp(m.arch.c_str(), "X86_64") == 0 &&
           strcasecmp(m.opsys.c_str(), "LINUX") == 0 && m.disk > 1000 * 1024;
}

// A spread of records where each clause rejects some and about a fifth match.
std::vector<Machine> MakeMachines() {
    static const char *arches[] = {"X86_64", "INTEL", "x86_64", "PPC"};
    static const char *systems[] = {"LINUX", "linux", "WINDOWS"};
    std::vector<Machine> machines;
    std::mt19937 random(12345);  // fixed seed: the same records every run
    for (int i = 0; i < kRecords; i++) {
        int memory = static_cast<int>(16 + random() % 240);
        const char *arch = arches[random() % 4];
        const char *opsys = systems[random() % 3];
        int disk = static_cast<int>(500000 + random() % 1500000);
        machines.push_back(Machine{memory, arch, opsys, disk});
    }
    return machines;
}

std::vector<std::unique_ptr<AttrList>> MakeAds(const std::vector<Machine> &machines) {
    std::vector<std::unique_ptr<AttrList>> ads;
    char text[128];
    for (const Machine &m : machines) {
        std::unique_ptr<AttrList> ad(new AttrList);
        snprintf(text, sizeof(text), "Memory = %d", m.memory);
        ad->Insert(text, false);
        snprintf(text, sizeof(text), "Arch = \"%s\"", m.arch.c_str());
        ad->Insert(text, false);
        snprintf(text, sizeof(text), "OpSys = \"%s\"", m.opsys.c_str());
        ad->Insert(text, false);
        snprintf(text, sizeof(text), "Disk = %d", m.disk);
        ad->Insert(text, false);
        ads.push_back(std::move(ad));
    }
    return ads;
}

// Each side is one out-of-line function starting on a cache line, so that
// where the linker happens to place it (which moves with any change to the
// library) does not move its time: both are timed as the same copy.
__attribute__((noinline, aligned(64))) int EvaluateAll(
    ExprTree *tree, const std::vector<std::unique_ptr<AttrList>> &ads) {
    int count = 0;
    for (int i = 0; i < kRecords; i++) {
        EvalResult r;
        tree->EvalTree(ads[i].get(), nullptr, &r);
        count += r.type == LX_INTEGER && r.i != 0;
    }
    return count;
}

__attribute__((noinline, aligned(64))) int MatchAllNatively(const std::vector<Machine> &machines) {
    int count = 0;
    for (int i = 0; i < kRecords; i++) {
        const Machine *m = &machines[i];
        benchmark::DoNotOptimize(m);
        count += NativeMatch(*m);
    }
    return count;
}

void BM_EvalRequirements(benchmark::State &state) {
    std::vector<Machine> machines = MakeMachines();
    std::vector<std::unique_ptr<AttrList>> ads = MakeAds(machines);
    ExprTree *tree = nullptr;
    if (Parse(kRequirements, tree) != 0 || tree == nullptr) {
        state.SkipWithError("the requirements do not parse");
        return;
    }
    // The two must agree on every record, or the comparison is meaningless.
    int matches = 0;
    for (int i = 0; i < kRecords; i++) {
        EvalResult r;
        tree->EvalTree(ads[i].get(), nullptr, &r);
        bool evaluated = r.type == LX_INTEGER && r.i != 0;
        if (evaluated != NativeMatch(machines[i])) {
            state.SkipWithError("evaluation and native predicate disagree");
            delete tree;
            return;
        }
        matches += evaluated;
    }

    RunWithBaselineCpu(
        state,
        [&] {
            int eval_count = EvaluateAll(tree, ads);
            benchmark::DoNotOptimize(eval_count);
        },
        [&] {
            int native_count = MatchAllNatively(machines);
            benchmark::DoNotOptimize(native_count);
        },
        kRecords);
    delete tree;
    state.counters["matches"] = matches;
}
BENCHMARK(BM_EvalRequirements)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
