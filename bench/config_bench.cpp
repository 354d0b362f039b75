// Benchmarks of the configuration reader against same-run baselines:
// param() of a plain key and of a key with two macro references in a table
// of 1,000 entries, against a std::unordered_map lookup plus string copy;
// and Read_config of a 10,000-line file against reading the same bytes with
// fgets alone. Each case reports its time relative to the baseline as the
// counter "ratio" (CPU time of the case over CPU time of its baseline,
// both measured inside the case).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "bench/baseline_timer.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/read_config.h"

const char *mySubSystem = "TOOL";

namespace {

constexpr int kEntries = 1000;
constexpr int kLines = 10000;

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
    SetCpuRatio(state, 200000, [&] { free(param(key)); },
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

// A 10,000-line configuration file, removed at exit.
struct ConfigFile {
    char path[64] = "/tmp/config_bench.XXXXXX";
    ConfigFile() {
        int fd = mkstemp(path);
        FILE *out = fdopen(fd, "w");
        for (int i = 0; i < kLines; ++i) {
            if (i % 10 == 0) {
                fprintf(out, "# comment line %d\n", i);
            } else if (i % 10 == 1) {
                fprintf(out, "NAME_%d = $(NAME_%d)/extra\n", i, i - 2);
            } else if (i % 100 == 2) {
                fprintf(out, "LIST = $(LIST),item_%d\n", i);
            } else {
                fprintf(out, "NAME_%d = /some/path/value_%d with words\n", i, i);
            }
        }
        fclose(out);
    }
    ~ConfigFile() { unlink(path); }
};

ConfigFile &File() {
    static ConfigFile file;
    return file;
}

void FgetsOnly() {
    FILE *in = fopen(File().path, "r");
    char line[256];
    while (fgets(line, sizeof line, in) != nullptr) {
        benchmark::DoNotOptimize(line);
    }
    fclose(in);
}

void ReadIntoTable() {
    MacroBucket *table[113] = {};
    Read_config(File().path, table, 113, 1, false, nullptr);
    clear_macro_table(table, 113);
}

void BM_BaselineFgets(benchmark::State &state) {
    for (auto _ : state) {
        FgetsOnly();
    }
}

void BM_ReadConfig10000Lines(benchmark::State &state) {
    SetCpuRatio(state, 50, ReadIntoTable, FgetsOnly);
    for (auto _ : state) {
        ReadIntoTable();
    }
}

BENCHMARK(BM_BaselineMapLookup);
BENCHMARK(BM_ParamPlainKey);
BENCHMARK(BM_ParamTwoReferences);
BENCHMARK(BM_BaselineFgets)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadConfig10000Lines)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
