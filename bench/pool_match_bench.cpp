// Matching one job against a pool of 100,000 generated machine ads (about
// 100 attributes each, tests/support/machine_ads.h), split as classad_eval
// spends its time: reading the pool file, then the rest. In this thread's
// CPU time, each case beside its baseline in the same iteration:
//   BM_ReadPool   AdFileReader over the pool file, one ClassAd per block
//                 (what --match-all and --analyze read), beside fread of
//                 the same bytes;
//   BM_MatchAll   MatchPool, the rest of --match-all, beside a bare loop
//                 of IsAMatch over the pool;
//   BM_Analyze    AnalyzeMatch, the rest of --analyze, beside the same
//                 IsAMatch loop.
// The matching cases run on a freshly read pool each time, case and
// baseline alike: classad_eval evaluates every tree of the pool for the
// first time, which costs more than evaluating it again.
// Each case runs once per repetition, 3 repetitions; read the median.
//
// "pool_match_bench --write-pool FILE [JOBFILE]" writes the pool (and the
// job) instead, for timing classad_eval itself.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/ad_file_reader.h"
#include "classad/class_ad.h"
#include "classad/match_analysis.h"
#include "classad/pool_match.h"
#include "tests/support/machine_ads.h"

const char *mySubSystem = "TOOL";

namespace {

const int kPoolAds = 100000;

// A job as a user submits it: what it needs, and what the machines' Start
// expressions ask of a job (Owner, ImageSize, Department, Group).
const char kJob[] =
    "MyType = \"Job\"\n"
    "TargetType = \"Machine\"\n"
    "Owner = \"alice\"\n"
    "Department = \"physics\"\n"
    "Group = \"physics\"\n"
    "ImageSize = 250000\n"
    "RequestMemory = 4096\n"
    "DiskUsage = 20000000\n"
    "Requirements = TARGET.Arch == \"X86_64\" && TARGET.OpSys == \"LINUX\" && "
    "TARGET.Memory >= MY.RequestMemory && TARGET.Disk >= MY.DiskUsage && "
    "TARGET.HasFileTransfer\n"
    "Rank = TARGET.Mips\n";

// Writes the pool's text: one block per ad, blank lines between.
bool WritePool(const char *path) {
    FILE *file = fopen(path, "w");
    if (file == nullptr) {
        return false;
    }
    for (int seed = 0; seed < kPoolAds; ++seed) {
        std::string text = machine_ads::TextForm(machine_ads::Generate(seed)) + "\n";
        fwrite(text.data(), 1, text.size(), file);
    }
    return fclose(file) == 0;
}

// The pool file, written at the first call of PoolPath; "" until then.
std::string pool_path;

const char *PoolPath() {
    if (pool_path.empty()) {
        char name[] = "/tmp/pool_match_bench_XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        WritePool(name);
        pool_path = name;
    }
    return pool_path.c_str();
}

using Pool = std::vector<std::unique_ptr<ClassAd>>;

Pool ReadPool(const char *path) {
    Pool pool;
    FILE *file = fopen(path, "r");
    AdFileReader reader(file);
    for (;;) {
        std::unique_ptr<ClassAd> ad(new ClassAd());
        if (reader.NextClassAd(*ad) != AdFileReader::kAd) break;
        pool.push_back(std::move(ad));
    }
    fclose(file);
    return pool;
}

size_t ReadBytes(const char *path) {
    std::vector<char> buffer(1 << 16);
    FILE *file = fopen(path, "r");
    size_t total = 0;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), file)) > 0;) total += n;
    fclose(file);
    return total;
}

// A freshly read pool and the job: every tree of the pool is evaluated for
// the first time, as in one run of classad_eval.
struct Loaded {
    Pool pool;
    std::vector<ClassAd *> ads;
    ClassAd job;
};

std::unique_ptr<Loaded> Load() {
    std::unique_ptr<Loaded> l(new Loaded);
    l->pool = ReadPool(PoolPath());
    for (auto &ad : l->pool) l->ads.push_back(ad.get());
    std::vector<char> text(kJob, kJob + sizeof kJob);
    FILE *file = fmemopen(text.data(), strlen(kJob), "r");
    AdFileReader(file).ReadAll(l->job);
    fclose(file);
    l->job.TakeTypesFromAttributes();
    return l;
}

long IsAMatchLoop(Loaded &l) {
    long matches = 0;
    for (ClassAd *ad : l.ads) matches += l.job.IsAMatch(ad);
    return matches;
}

void BM_ReadPool(benchmark::State &state) {
    const char *path = PoolPath();
    RunWithBaselineCpu(
        state, [&] { benchmark::DoNotOptimize(ReadPool(path).size()); },
        [&] { benchmark::DoNotOptimize(ReadBytes(path)); }, kPoolAds);
}

// Times work and the IsAMatch loop each over a pool of its own, freshly
// read (the reading is not timed).
template <class Work>
void RunColdBesideIsAMatch(benchmark::State &state, Work work) {
    double work_seconds = 0;
    double baseline_seconds = 0;
    for (auto _ : state) {
        std::unique_ptr<Loaded> first = Load();
        double t0 = ThreadCpuSeconds();
        benchmark::DoNotOptimize(IsAMatchLoop(*first));
        baseline_seconds += ThreadCpuSeconds() - t0;
        first.reset();
        std::unique_ptr<Loaded> second = Load();
        double t1 = ThreadCpuSeconds();
        work(*second);
        double w = ThreadCpuSeconds() - t1;
        work_seconds += w;
        state.SetIterationTime(w);
    }
    ReportBaseline(state, work_seconds, baseline_seconds, kPoolAds);
}

void BM_MatchAll(benchmark::State &state) {
    size_t matches = 0;
    RunColdBesideIsAMatch(state, [&](Loaded &l) { matches = MatchPool(l.job, l.ads).size(); });
    state.counters["matches"] = static_cast<double>(matches);
}

void BM_Analyze(benchmark::State &state) {
    long matches = 0;
    RunColdBesideIsAMatch(state, [&](Loaded &l) { matches = AnalyzeMatch(l.job, l.ads).matches; });
    state.counters["matches"] = static_cast<double>(matches);
}

void Setup(benchmark::internal::Benchmark *b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
}

BENCHMARK(BM_ReadPool)->Apply(Setup);
BENCHMARK(BM_MatchAll)->Apply(Setup);
BENCHMARK(BM_Analyze)->Apply(Setup);

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "--write-pool") == 0) {
        bool ok = WritePool(argv[2]);
        if (ok && argc >= 4) {
            FILE *job = fopen(argv[3], "w");
            ok = job != nullptr && fputs(kJob, job) >= 0 && fclose(job) == 0;
        }
        return ok ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!pool_path.empty()) unlink(pool_path.c_str());
    return 0;
}
