// MyString growth by repeated appends against std::string doing the same
// appends in the same run, plus sprintf_cat against snprintf into a
// std::string. The "ratio" counter is MyString time over baseline time; a
// ratio that grows with the element count would mean growth is not
// amortised linear.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>

#include "bench/baseline_timer.h"
#include "config/subsystem.h"
#include "core/my_string.h"

const char *mySubSystem = "TOOL";

namespace {

void BM_AppendWords(benchmark::State &state) {
    int n = static_cast<int>(state.range(0));
    RunWithBaseline(
        state,
        [n] {
            MyString s;
            for (int i = 0; i < n; ++i) {
                s += "word";
                s += ',';
            }
            benchmark::DoNotOptimize(s.Value());
        },
        [n] {
            std::string s;
            for (int i = 0; i < n; ++i) {
                s += "word";
                s += ',';
            }
            benchmark::DoNotOptimize(s.data());
        });
}
BENCHMARK(BM_AppendWords)->Arg(100)->Arg(10000)->Arg(1000000)->UseManualTime();

void BM_SprintfCat(benchmark::State &state) {
    int n = static_cast<int>(state.range(0));
    RunWithBaseline(
        state,
        [n] {
            MyString s;
            for (int i = 0; i < n; ++i) {
                s.sprintf_cat("%d:%s;", i, "value");
            }
            benchmark::DoNotOptimize(s.Value());
        },
        [n] {
            std::string s;
            char work[64];
            for (int i = 0; i < n; ++i) {
                int len = snprintf(work, sizeof work, "%d:%s;", i, "value");
                s.append(work, static_cast<size_t>(len));
            }
            benchmark::DoNotOptimize(s.data());
        });
}
BENCHMARK(BM_SprintfCat)->Arg(1000)->Arg(100000)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
