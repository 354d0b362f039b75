// ClassAd parse throughput: a corpus of 200 attribute assignments of the
// kinds machine and job ads hold (requirements, ranks, strings, calls,
// numbers) is parsed and freed each iteration; bytes per second is the
// parser's throughput. Beside it, in the same iteration, one strlen pass over
// the same texts is the floor any parser of the bytes must pay; the "ratio"
// counter is parse time over that baseline. Both are timed in thread CPU
// time, so other load on the machine stays out of the throughput. The corpus is parsed once with
// the string space made afresh for each text and once with it kept alive.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"

const char *mySubSystem = "TOOL";

namespace {

// 200 assignments, built from a few templates with varying names and values
// so that no two texts are equal.
std::vector<std::string> MakeCorpus() {
    static const char *templates[] = {
        "Requirements%d = (Memory >= %d) && (Disk > %d000) && TARGET.Arch == \"X86_64\" && "
        "TARGET.OpSys == \"LINUX\"",
        "Rank%d = -(KFlops / %d.5) + Memory * %d - LoadAvg",
        "Name%d = \"slot%d@host-%d.example.org\"",
        "Start%d = (KeyboardIdle > %d * 60) || (LoadAvg < 0.%d && CurrentTime - EnteredState > "
        "900)",
        "Args%d = StrCat(\"-n \", %d, \" -m\"; %d, MY.Extra)",
        "Expr%d = ifThenElse(isUndefined(TARGET.Owner), FALSE, TARGET.Owner =?= \"user%d\") =!= "
        "UNDEFINED || %d == 0",
        "Time%d = '2004-01-%02dT00:00:%02d'",
        "Total%d = a%d + b%d * (c - d / 2) + 1.0e3",
    };
    const int n_templates = sizeof(templates) / sizeof(templates[0]);
    std::vector<std::string> corpus;
    char buffer[512];
    for (int i = 0; i < 200; i++) {
        int v = i + 1;
        snprintf(buffer, sizeof(buffer), templates[i % n_templates], i, v * 7 % 97 + 1,
                 v * 13 % 59 + 1);
        corpus.push_back(buffer);
    }
    return corpus;
}

void ParseCorpus(benchmark::State &state) {
    std::vector<std::string> corpus = MakeCorpus();
    size_t bytes = 0;
    for (const std::string &text : corpus) {
        bytes += text.size();
    }
    // Every text must parse, or the benchmark measures failures.
    for (const std::string &text : corpus) {
        ExprTree *tree = nullptr;
        if (Parse(text.c_str(), tree) != 0 || tree == nullptr) {
            state.SkipWithError(("corpus text does not parse: " + text).c_str());
            return;
        }
        delete tree;
    }

    RunWithBaselineCpu(
        state,
        [&] {
            for (const std::string &text : corpus) {
                ExprTree *tree = nullptr;
                Parse(text.c_str(), tree);
                benchmark::DoNotOptimize(tree);
                delete tree;
            }
        },
        [&] {
            size_t total = 0;
            for (const std::string &text : corpus) {
                const char *p = text.c_str();
                benchmark::DoNotOptimize(p);
                total += strlen(p);
            }
            benchmark::DoNotOptimize(total);
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["corpus_bytes"] = static_cast<double>(bytes);
}
// No other node lives between parses, so every parse also creates and
// destroys the process-wide string space.
void BM_ParseCorpus(benchmark::State &state) {
    ParseCorpus(state);
}
BENCHMARK(BM_ParseCorpus)->UseManualTime();

// A node held for the whole run keeps the string space alive, as the
// attribute lists of a running program do.
void BM_ParseCorpusLiveSpace(benchmark::State &state) {
    Variable keep_alive("keep_alive");
    ParseCorpus(state);
}
BENCHMARK(BM_ParseCorpusLiveSpace)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
