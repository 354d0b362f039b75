// HashTable insert-then-lookup cost against std::unordered_map doing the
// same work in the same run. Both sides are sized for the element count up
// front (HashTable never rehashes) and both replace the value of a repeated
// key. The "ratio" counter is HashTable time over baseline time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/baseline_timer.h"
#include "config/subsystem.h"
#include "core/hash_table.h"

// Every program carrying the library names its subsystem.
const char *mySubSystem = "TOOL";

namespace {

std::vector<int> IntKeys(int n) {
    std::mt19937 random(42);
    std::vector<int> keys(static_cast<size_t>(n));
    for (int &k : keys) {
        k = static_cast<int>(random());
    }
    return keys;
}

std::vector<std::string> StringKeys(int n) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(n));
    for (int k : IntKeys(n)) {
        keys.push_back("attribute_name_" + std::to_string(k));
    }
    return keys;
}

// Same hash on both sides, so only the table structure differs.
int StringHash(const std::string &key, int buckets) {
    return static_cast<int>(std::hash<std::string>()(key) % static_cast<size_t>(buckets));
}

void BM_IntInsertLookup(benchmark::State &state) {
    int n = static_cast<int>(state.range(0));
    std::vector<int> keys = IntKeys(n);
    RunWithBaseline(
        state,
        [&] {
            HashTable<int, int> table(n, hashFunction, DUPLICATES_REPLACE_VALUE);
            for (int k : keys) {
                table.insert(k, k);
            }
            long sum = 0;
            int value = 0;
            for (int k : keys) {
                table.lookup(k, value);
                sum += value;
            }
            benchmark::DoNotOptimize(sum);
        },
        [&] {
            std::unordered_map<int, int> map;
            map.reserve(static_cast<size_t>(n));
            for (int k : keys) {
                map[k] = k;
            }
            long sum = 0;
            for (int k : keys) {
                auto it = map.find(k);
                sum += it != map.end() ? it->second : 0;
            }
            benchmark::DoNotOptimize(sum);
        },
        2L * n);
}
BENCHMARK(BM_IntInsertLookup)->Arg(1 << 10)->Arg(1 << 16)->Arg(100000)->UseManualTime();

void BM_StringInsertLookup(benchmark::State &state) {
    int n = static_cast<int>(state.range(0));
    std::vector<std::string> keys = StringKeys(n);
    RunWithBaseline(
        state,
        [&] {
            HashTable<std::string, int> table(n, StringHash, DUPLICATES_REPLACE_VALUE);
            int i = 0;
            for (const std::string &k : keys) {
                table.insert(k, i++);
            }
            long sum = 0;
            int value = 0;
            for (const std::string &k : keys) {
                table.lookup(k, value);
                sum += value;
            }
            benchmark::DoNotOptimize(sum);
        },
        [&] {
            std::unordered_map<std::string, int> map;
            map.reserve(static_cast<size_t>(n));
            int i = 0;
            for (const std::string &k : keys) {
                map[k] = i++;
            }
            long sum = 0;
            for (const std::string &k : keys) {
                auto it = map.find(k);
                sum += it != map.end() ? it->second : 0;
            }
            benchmark::DoNotOptimize(sum);
        },
        2L * n);
}
BENCHMARK(BM_StringInsertLookup)->Arg(1 << 10)->Arg(1 << 16)->Arg(100000)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
