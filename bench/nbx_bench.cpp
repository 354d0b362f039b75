// Cost of the socket-call indirection with brokering off: each wrapped call
// beside the system's call in the same iteration (__wrap_write of one byte
// to /dev/null against __real_write, __wrap_close(-1) against
// __real_close(-1), a zero-timeout __wrap_select against __real_select),
// with the environment holding 20 and then 500 variables (NBX_ENABLE not
// among them, so each lookup walks all of them), laid out as after exec.
// The write is also measured against the system's call plus the dispatch's
// own environment lookup. Counters: "ratio" (wrapped time over raw time),
// "wrapped_ns" and "raw_ns" (per call) and "overhead_ns" (extra nanoseconds
// per call). The benchmark's own time is that of one batch of kBatch
// wrapped calls.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "nbx/wrappers.h"

const char *mySubSystem = "TOOL";

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
const int kBatch = 64;  // calls per timed batch, to keep clock reads rare

// Replaces the environment with count variables of ordinary length, laid
// out as exec leaves them for a new program: the texts back to back in one
// block, the pointer array beside them. Both stay for the program's life.
void SetEnvironment(int count) {
    static std::string block;
    static std::vector<char *> pointers;
    block.clear();
    std::vector<size_t> starts;
    for (int i = 0; i < count; ++i) {
        char entry[96];
        snprintf(entry, sizeof entry, "BENCH_VARIABLE_%03d=/usr/local/share/some/value", i);
        starts.push_back(block.size());
        block += entry;
        block += '\0';
    }
    pointers.clear();
    for (size_t start : starts) pointers.push_back(&block[start]);
    pointers.push_back(nullptr);
    environ = pointers.data();
}

template <class Wrapped, class Raw>
void RunWithBaseline(benchmark::State &state, Wrapped wrapped, Raw raw) {
    SetEnvironment(static_cast<int>(state.range(0)));
    double wrapped_seconds = 0;
    double raw_seconds = 0;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) wrapped();
        Clock::time_point t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) raw();
        Clock::time_point t2 = Clock::now();
        double w = std::chrono::duration<double>(t1 - t0).count();
        wrapped_seconds += w;
        raw_seconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(w);
    }
    double calls = static_cast<double>(state.iterations()) * kBatch;
    state.counters["ratio"] = raw_seconds > 0 ? wrapped_seconds / raw_seconds : 0;
    state.counters["wrapped_ns"] = calls > 0 ? wrapped_seconds * 1e9 / calls : 0;
    state.counters["raw_ns"] = calls > 0 ? raw_seconds * 1e9 / calls : 0;
    state.counters["overhead_ns"] = calls > 0 ? (wrapped_seconds - raw_seconds) * 1e9 / calls : 0;
    state.counters["environ"] = static_cast<double>(state.range(0));
}

void BM_WriteDevNull(benchmark::State &state) {
    int fd = open("/dev/null", O_WRONLY);
    RunWithBaseline(
        state, [fd] { benchmark::DoNotOptimize(__wrap_write(fd, "x", 1)); },
        [fd] { benchmark::DoNotOptimize(__real_write(fd, "x", 1)); });
    __real_close(fd);
}
BENCHMARK(BM_WriteDevNull)->Arg(20)->Arg(500)->UseManualTime();

// The least a wrapped call may cost with brokering off: the system's call
// plus the one environment lookup and comparison that decide the dispatch.
// A ratio near 1 here means the wrapper adds nothing beyond that lookup,
// whose cost grows with the size of the environment.
void BM_WriteDevNullAgainstCallPlusLookup(benchmark::State &state) {
    int fd = open("/dev/null", O_WRONLY);
    RunWithBaseline(
        state, [fd] { benchmark::DoNotOptimize(__wrap_write(fd, "x", 1)); },
        [fd] {
            const char *value = getenv("NBX_ENABLE");
            benchmark::DoNotOptimize(value != nullptr && strcasecmp(value, "true") == 0);
            benchmark::DoNotOptimize(__real_write(fd, "x", 1));
        });
    __real_close(fd);
}
BENCHMARK(BM_WriteDevNullAgainstCallPlusLookup)->Arg(20)->Arg(500)->UseManualTime();

void BM_CloseInvalid(benchmark::State &state) {
    RunWithBaseline(
        state, [] { benchmark::DoNotOptimize(__wrap_close(-1)); },
        [] { benchmark::DoNotOptimize(__real_close(-1)); });
}
BENCHMARK(BM_CloseInvalid)->Arg(20)->Arg(500)->UseManualTime();

void BM_SelectZeroTimeout(benchmark::State &state) {
    RunWithBaseline(
        state,
        [] {
            timeval zero = {0, 0};
            benchmark::DoNotOptimize(__wrap_select(0, nullptr, nullptr, nullptr, &zero));
        },
        [] {
            timeval zero = {0, 0};
            benchmark::DoNotOptimize(__real_select(0, nullptr, nullptr, nullptr, &zero));
        });
}
BENCHMARK(BM_SelectZeroTimeout)->Arg(20)->Arg(500)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
