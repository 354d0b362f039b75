// Benchmarks of the debug log against same-run baselines: a typical 80-byte
// line through dprintf to a log file with a lock file, against write(2) of
// the same bytes to an already open descriptor inside flock (the log
// reopens its file for every line, and that cost is what the ratio shows),
// in wall-clock and in CPU time;
// dprintf of a category that is off (tested inline, and through the
// function itself), against a call of an empty function;
// and param_integer in a table of 1,000 entries, against an unordered_map
// lookup plus strtol. Each case reports the counter "ratio".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "bench/baseline_timer.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "diagnostics/debug_log.h"

const char *mySubSystem = "TOOL";

namespace {

constexpr int kEntries = 1000;
// With "%d" as 42 and a 14-byte header ("12/9 07:20:00 ") the line is 80
// bytes, newline included.
constexpr const char *kText = "starting the periodic update of the machine state, pass number %d\n";
constexpr int kPass = 42;

__attribute__((noinline)) void EmptyCall() {
    asm volatile("");
}

// A temporary directory with a configured log and lock file, put back as
// it was (unconfigured) when the case ends.
class ScopedLog {
 public:
    ScopedLog() {
        const char *base = getenv("TMPDIR");
        dir_ = std::string(base != nullptr ? base : "/tmp") + "/debug_log_bench.XXXXXX";
        if (mkdtemp(&dir_[0]) == nullptr) {
            dir_.clear();
            return;
        }
        log_ = dir_ + "/main";
        lock_ = dir_ + "/log.lock";
        DebugFile[0] = strdup(log_.c_str());
        DebugLock = strdup(lock_.c_str());
        DebugFlags = D_ALWAYS;
        _torvel_dprintf_works = 1;
    }
    ~ScopedLog() {
        _torvel_dprintf_works = 0;
        free(DebugFile[0]);
        DebugFile[0] = nullptr;
        free(DebugLock);
        DebugLock = nullptr;
        if (LockFd >= 0) {
            close(LockFd);
            LockFd = -1;
        }
        if (!dir_.empty()) {
            unlink(log_.c_str());
            unlink((log_ + ".old").c_str());
            unlink(lock_.c_str());
            unlink((dir_ + "/baseline").c_str());
            unlink((dir_ + "/baseline.lock").c_str());
            rmdir(dir_.c_str());
        }
    }
    bool ok() const { return !dir_.empty(); }
    std::string Path(const char *name) const { return dir_ + "/" + name; }

 private:
    std::string dir_;
    std::string log_;
    std::string lock_;
};

// The locked-file case, timed by `run` (RunWithBaseline or
// RunWithBaselineCpu) beside its baseline.
template <class Run>
void DprintfToLockedFile(benchmark::State &state, Run run) {
    ScopedLog log;
    if (!log.ok()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    int out = open(log.Path("baseline").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int lock = open(log.Path("baseline.lock").c_str(), O_WRONLY | O_CREAT, 0644);
    if (out < 0 || lock < 0) {
        state.SkipWithError("cannot open baseline files");
        return;
    }
    char line[128];
    int length = snprintf(line, sizeof line, "12/9 07:20:00 ");
    length += snprintf(line + length, sizeof line - length, kText, kPass);
    run(
        state, [&] { dprintf(D_ALWAYS, kText, kPass); },
        [&] {
            flock(lock, LOCK_EX);
            benchmark::DoNotOptimize(write(out, line, static_cast<size_t>(length)));
            flock(lock, LOCK_UN);
        });
    state.counters["line_bytes"] = length;
    close(out);
    close(lock);
}

void BM_DprintfToLockedFile(benchmark::State &state) {
    DprintfToLockedFile(state, [](benchmark::State &s, auto work, auto baseline) {
        RunWithBaseline(s, work, baseline);
    });
}
BENCHMARK(BM_DprintfToLockedFile)->UseManualTime();

// The same in this thread's CPU time: the case is a string of system
// calls, and on a loaded machine the wall-clock ratio mostly measures the
// time slices lost to other programs.
void BM_DprintfToLockedFileCpu(benchmark::State &state) {
    DprintfToLockedFile(state, [](benchmark::State &s, auto work, auto baseline) {
        RunWithBaselineCpu(s, work, baseline);
    });
}
BENCHMARK(BM_DprintfToLockedFileCpu)->UseManualTime();

void BM_DprintfCategoryOff(benchmark::State &state) {
    ScopedLog log;
    if (!log.ok()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    // The category test is inline now: the memory clobber makes every call
    // load the log's globals again, as it must among other code, instead of
    // letting the compiler hoist the test out of the loop.
    SetCpuRatio(
        state, 1000000,
        [] {
            benchmark::ClobberMemory();
            dprintf(D_FULLDEBUG, kText, kPass);
        },
        [] { EmptyCall(); });
    for (auto _ : state) {
        benchmark::ClobberMemory();
        dprintf(D_FULLDEBUG, kText, kPass);
    }
}
BENCHMARK(BM_DprintfCategoryOff);

// The same line through the function itself, as a program that calls it
// without the header's inline test does.
void BM_DprintfCategoryOffCalled(benchmark::State &state) {
    ScopedLog log;
    if (!log.ok()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    SetCpuRatio(
        state, 1000000, [] { (dprintf)(D_FULLDEBUG, kText, kPass); }, [] { EmptyCall(); });
    for (auto _ : state) {
        (dprintf)(D_FULLDEBUG, kText, kPass);
    }
}
BENCHMARK(BM_DprintfCategoryOffCalled);

void BM_ParamInteger(benchmark::State &state) {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    std::unordered_map<std::string, std::string> map;
    for (int i = 0; i < kEntries; ++i) {
        std::string name = "key_" + std::to_string(i);
        std::string value = std::to_string(i * 7);
        insert(name.c_str(), value.c_str(), ConfigTab, CONFIG_TABLE_SIZE);
        map[name] = value;
    }
    if (param_integer("key_500", 0, 0, 1000000) != 3500) {
        state.SkipWithError("param_integer gave a wrong value");
        clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
        return;
    }
    SetCpuRatio(
        state, 200000, [] { benchmark::DoNotOptimize(param_integer("key_500", 0, 0, 1000000)); },
        [&] {
            auto found = map.find("key_500");
            long value = found == map.end() ? 0 : strtol(found->second.c_str(), nullptr, 10);
            benchmark::DoNotOptimize(value);
        });
    for (auto _ : state) {
        benchmark::DoNotOptimize(param_integer("key_500", 0, 0, 1000000));
    }
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
}
BENCHMARK(BM_ParamInteger);

}  // namespace

BENCHMARK_MAIN();
