// Interning N distinct names into a fresh StringSpace sized as the
// expression trees' own (256, case-sensitive), beside a hand loop that puts
// the same names into a std::unordered_map from text to slot number. The
// "ratio" counter is interning time over that baseline: flat while N grows
// tenfold means interning grows linearly. A second case interns and
// releases one short-lived name against a space full of names, the churn
// that temporary trees cause.
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "bench/baseline_timer.h"
#include "core/string_space.h"

const char *mySubSystem = "TOOL";

namespace {

std::vector<std::string> Names(int n) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(n));
    char text[32];
    for (int i = 0; i < n; i++) {
        snprintf(text, sizeof text, "Attr%d", i);
        names.emplace_back(text);
    }
    return names;
}

void BM_Intern(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> names = Names(n);
    auto work = [&] {
        StringSpace space(256, true);
        for (const std::string &name : names) {
            char *text = const_cast<char *>(name.c_str());
            benchmark::DoNotOptimize(space.getCanonical(text, ADOPT_DUPLICATE));
        }
    };
    auto baseline = [&] {
        std::unordered_map<std::string, int> map;
        int slot = 0;
        for (const std::string &name : names) {
            map.emplace(name, slot++);
        }
        benchmark::DoNotOptimize(map.size());
    };
    for (auto _ : state) {
        work();
    }
    SetCpuRatio(state, 1, work, baseline);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// One new name interned and released, 1,000 times, in a space already
// holding n names: the cost of each round must not depend on n.
void BM_InternChurn(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> names = Names(n);
    StringSpace space(256, true);
    for (const std::string &name : names) {
        char *text = const_cast<char *>(name.c_str());
        space.getCanonical(text, ADOPT_DUPLICATE);
    }
    // A hole at the bottom, as a released temporary leaves.
    space.disposeByIndex(0);
    std::unordered_map<std::string, int> map;
    char fresh[] = "TemporaryName";
    auto work = [&] {
        for (int i = 0; i < 1000; i++) {
            char *text = fresh;
            space.disposeByIndex(space.getCanonical(text, ADOPT_DUPLICATE));
        }
    };
    auto baseline = [&] {
        for (int i = 0; i < 1000; i++) {
            map.emplace(fresh, i);
            map.erase(fresh);
        }
    };
    for (auto _ : state) {
        work();
    }
    SetCpuRatio(state, 100, work, baseline);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
}

}  // namespace

BENCHMARK(BM_Intern)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_InternChurn)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
