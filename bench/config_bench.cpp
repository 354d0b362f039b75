// Benchmarks of the configuration reader against same-run baselines:
// param() of a plain key and of a key with two macro references in a table
// of 1,000 entries, against a std::unordered_map lookup plus string copy;
// Read_config of 10,000- and 100,000-line files against reading the same
// bytes with fgets alone (the larger also against the smaller, counter
// "per_line_vs_10000": 1 means linear; "fgets_per_line_vs_10000" is the
// same for the fgets loop, which shows what the machine's caches alone make
// of reading ten times the bytes); the real start-up, config() with its
// provenance table, from a global source of 10,000 and of 1,000,000 lines
// against the fgets loop over the same file (counters "seconds", and
// "per_line_vs_10000" for the larger); and the expansion of one 16 KiB
// value holding 4,000 references, against copying it (counter "ms" gives
// its absolute time). Each case reports its time relative to the baseline
// as the counter "ratio" (CPU time of the case over CPU time of its
// baseline, both measured inside the case).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "bench/baseline_timer.h"
#include "config/config_startup.h"
#include "config/macro_expand.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/read_config.h"

const char *mySubSystem = "TOOL";

namespace {

constexpr int kEntries = 1000;
constexpr int kLines = 10000;
constexpr int kLargeLines = 100000;
constexpr int kStartupLines = 1000000;
constexpr int kLongReferences = 4000;

void FillConfigTab() {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    for (int i = 0; i < kEntries; ++i) {
        std::string name = "key_" + std::to_string(i);
        std::string value = "/some/path/value_" + std::to_string(i);
        insert(name.c_str(), value.c_str(), ConfigTab, CONFIG_TABLE_SIZE);
    }
    insert("with_refs", "$(key_10)/middle/$(key_900)", ConfigTab, CONFIG_TABLE_SIZE);
}

std::unordered_map<std::string, std::string> BaselineMap() {
    std::unordered_map<std::string, std::string> map;
    for (int i = 0; i < kEntries; ++i) {
        map["key_" + std::to_string(i)] = "/some/path/value_" + std::to_string(i);
    }
    return map;
}

void BM_BaselineMapLookup(benchmark::State &state) {
    auto map = BaselineMap();
    for (auto _ : state) {
        std::string copy = map.find("key_500")->second;
        benchmark::DoNotOptimize(copy);
    }
}

void ParamCase(benchmark::State &state, const char *key) {
    FillConfigTab();
    auto map = BaselineMap();
    SetCpuRatio(
        state, 200000, [&] { free(param(key)); },
        [&] {
            std::string copy = map.find("key_500")->second;
            benchmark::DoNotOptimize(copy);
        });
    for (auto _ : state) {
        char *value = param(key);
        benchmark::DoNotOptimize(value);
        free(value);
    }
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
}

void BM_ParamPlainKey(benchmark::State &state) {
    ParamCase(state, "key_500");
}

void BM_ParamTwoReferences(benchmark::State &state) {
    ParamCase(state, "with_refs");
}

// A configuration file of `lines` lines, removed at exit. Every block of
// kLines lines has the same make-up, so the larger file is the smaller one's
// work ten times over: the list that lines append to starts afresh in each
// block (one list growing through the whole file would make the larger read
// copy a hundred times as many list bytes, quadratic work that no reader
// could do in linear time).
struct ConfigFile {
    char path[64] = "/tmp/config_bench.XXXXXX";
    explicit ConfigFile(int lines) {
        int fd = mkstemp(path);
        FILE *out = fdopen(fd, "w");
        for (int i = 0; i < lines; ++i) {
            if (i % 10 == 0) {
                fprintf(out, "# comment line %d\n", i);
            } else if (i % 10 == 1) {
                fprintf(out, "NAME_%d = $(NAME_%d)/extra\n", i, i - 2);
            } else if (i % 100 == 2) {
                fprintf(out, "LIST_%d = $(LIST_%d),item_%d\n", i / kLines, i / kLines, i);
            } else {
                fprintf(out, "NAME_%d = /some/path/value_%d with words\n", i, i);
            }
        }
        fclose(out);
    }
    ~ConfigFile() { unlink(path); }
};

// Made on first use: the largest takes a second to write.
ConfigFile &File(int lines) {
    static ConfigFile small(kLines);
    static ConfigFile large(kLargeLines);
    if (lines == kStartupLines) {
        static ConfigFile startup(kStartupLines);
        return startup;
    }
    return lines == kLines ? small : large;
}

void FgetsOnly(int lines) {
    FILE *in = fopen(File(lines).path, "r");
    char line[256];
    while (fgets(line, sizeof line, in) != nullptr) {
        benchmark::DoNotOptimize(line);
    }
    fclose(in);
}

void ReadIntoTable(int lines) {
    MacroBucket *table[113] = {};
    Read_config(File(lines).path, table, 113, 1, false, nullptr);
    clear_macro_table(table, 113);
}

void BM_BaselineFgets(benchmark::State &state) {
    for (auto _ : state) {
        FgetsOnly(kLines);
    }
}

void BM_ReadConfig10000Lines(benchmark::State &state) {
    SetCpuRatio(
        state, 50, [] { ReadIntoTable(kLines); }, [] { FgetsOnly(kLines); });
    for (auto _ : state) {
        ReadIntoTable(kLines);
    }
}

void BM_ReadConfig100000Lines(benchmark::State &state) {
    double small = CpuSecondsPerCall(10, [] { ReadIntoTable(kLines); });
    double small_fgets = CpuSecondsPerCall(10, [] { FgetsOnly(kLines); });
    double large_fgets = SetCpuRatio(
        state, 5, [] { ReadIntoTable(kLargeLines); }, [] { FgetsOnly(kLargeLines); });
    double large = CpuSecondsPerCall(5, [] { ReadIntoTable(kLargeLines); });
    state.counters["per_line_vs_10000"] = small > 0 ? large / (10 * small) : 0;
    state.counters["fgets_per_line_vs_10000"] =
        small_fgets > 0 ? large_fgets / (10 * small_fgets) : 0;
    for (auto _ : state) {
        ReadIntoTable(kLargeLines);
    }
}

// What every program does first: config() finds the global source through
// TORVEL_CONFIG, reads it with the provenance table, and runs the rest of
// start-up (built-in macros, overrides, the placeholder scan).
void StartUp(int lines) {
    setenv("TORVEL_CONFIG", File(lines).path, 1);
    config(0);
}

void BM_ConfigStartup10000Lines(benchmark::State &state) {
    SetCpuRatio(
        state, 20, [] { StartUp(kLines); }, [] { FgetsOnly(kLines); });
    state.counters["seconds"] = CpuSecondsPerCall(5, [] { StartUp(kLines); });
    for (auto _ : state) {
        StartUp(kLines);
    }
}

void BM_ConfigStartup1000000Lines(benchmark::State &state) {
    double small = CpuSecondsPerCall(5, [] { StartUp(kLines); });
    SetCpuRatio(
        state, 2, [] { StartUp(kStartupLines); }, [] { FgetsOnly(kStartupLines); });
    double large = CpuSecondsPerCall(2, [] { StartUp(kStartupLines); });
    state.counters["seconds"] = large;
    state.counters["per_line_vs_10000"] = small > 0 ? large / (100 * small) : 0;
    for (auto _ : state) {
        StartUp(kStartupLines);
    }
}

// 4,000 references to a one-character value among plain text, 16 KiB in all.
std::string LongValue() {
    std::string value;
    for (int i = 0; i < kLongReferences; ++i) {
        value += "$(a)";
    }
    value.append(16384 - value.size(), 'x');
    return value;
}

void BM_ExpandLongValue(benchmark::State &state) {
    MacroBucket *table[113] = {};
    insert("a", "b", table, 113);
    std::string value = LongValue();
    SetCpuRatio(
        state, 20, [&] { free(expand_macro(value.c_str(), table, 113)); },
        [&] {
            char *copy = strdup(value.c_str());
            benchmark::DoNotOptimize(copy);
            free(copy);
        });
    double seconds = CpuSecondsPerCall(20, [&] { free(expand_macro(value.c_str(), table, 113)); });
    state.counters["ms"] = seconds * 1e3;
    for (auto _ : state) {
        char *expanded = expand_macro(value.c_str(), table, 113);
        benchmark::DoNotOptimize(expanded);
        free(expanded);
    }
    clear_macro_table(table, 113);
}

BENCHMARK(BM_BaselineMapLookup);
BENCHMARK(BM_ParamPlainKey);
BENCHMARK(BM_ParamTwoReferences);
BENCHMARK(BM_BaselineFgets)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadConfig10000Lines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadConfig100000Lines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigStartup10000Lines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigStartup1000000Lines)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ExpandLongValue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
