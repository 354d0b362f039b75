// ExtArray append of a million ints against std::vector push_back in the
// same run; both start from their default size so growth is included.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/baseline_timer.h"
#include "config/subsystem.h"
#include "core/ext_array.h"

const char *mySubSystem = "TOOL";

namespace {

void BM_AppendInts(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    RunWithBaseline(
        state,
        [&] {
            ExtArray<int> array;
            for (int i = 0; i < n; ++i) {
                array.add(i);
            }
            benchmark::DoNotOptimize(array.getarray());
        },
        [&] {
            std::vector<int> vector;
            for (int i = 0; i < n; ++i) {
                vector.push_back(i);
            }
            benchmark::DoNotOptimize(vector.data());
        },
        n);
}
BENCHMARK(BM_AppendInts)->Arg(1000000)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
