// Runs a benchmark case beside its baseline in the same program and reports
// the ratio of the two as the counter "ratio", so the figure survives a
// change of machine. Three ways to measure: interleaved wall-clock timing
// inside the benchmark loop (RunWithBaseline, for cases registered with
// UseManualTime), the same in thread CPU time (RunWithBaselineCpu), and
// back-to-back CPU timing outside it (SetCpuRatio, for cases whose loop
// times the case alone).
#ifndef TORVEL_BENCH_BASELINE_TIMER_H_
#define TORVEL_BENCH_BASELINE_TIMER_H_

#include <benchmark/benchmark.h>
#include <stdint.h>
#include <time.h>

#include <chrono>

// Sets the counters of a case timed beside its baseline: "ratio",
// "baseline_us" (the baseline's mean time) and the items processed.
inline void ReportBaseline(benchmark::State &state, double work_seconds, double baseline_seconds,
                           long items_per_iteration) {
    double iterations = static_cast<double>(state.iterations());
    if (iterations > 0) {
        state.counters["baseline_us"] = baseline_seconds / iterations * 1e6;
    }
    state.counters["ratio"] = baseline_seconds > 0 ? work_seconds / baseline_seconds : 0;
    if (items_per_iteration > 0) {
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items_per_iteration);
    }
}

// Times `work` as the benchmark's own (manual) time and `baseline` right
// after it, every iteration; "ratio" is work time over baseline time and
// "baseline_us" the baseline's mean time. When items_per_iteration is
// positive, each iteration counts that many items processed.
template <class Work, class Baseline>
void RunWithBaseline(benchmark::State &state, Work work, Baseline baseline,
                     long items_per_iteration = 0) {
    using Clock = std::chrono::steady_clock;
    double work_seconds = 0;
    double baseline_seconds = 0;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        work();
        Clock::time_point t1 = Clock::now();
        baseline();
        Clock::time_point t2 = Clock::now();
        double w = std::chrono::duration<double>(t1 - t0).count();
        work_seconds += w;
        baseline_seconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(w);
    }
    ReportBaseline(state, work_seconds, baseline_seconds, items_per_iteration);
}

// CPU seconds this thread has used: CPU time, not wall time, so other load
// on a shared machine does not skew a ratio.
inline double ThreadCpuSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds per call of fn over `calls` calls.
// REQUIRES: calls > 0.
template <class Fn>
double CpuSecondsPerCall(int64_t calls, Fn fn) {
    double start = ThreadCpuSeconds();
    for (int64_t i = 0; i < calls; ++i) {
        fn();
    }
    return (ThreadCpuSeconds() - start) / static_cast<double>(calls);
}

// Runs `baseline` then `work`, `calls` times each, back to back, and sets
// "ratio" to work CPU time over baseline CPU time. Returns the baseline's
// CPU seconds per call.
// REQUIRES: calls > 0.
template <class Work, class Baseline>
double SetCpuRatio(benchmark::State &state, int64_t calls, Work work, Baseline baseline) {
    double baseline_seconds = CpuSecondsPerCall(calls, baseline);
    double work_seconds = CpuSecondsPerCall(calls, work);
    state.counters["ratio"] = baseline_seconds > 0 ? work_seconds / baseline_seconds : 0;
    return baseline_seconds;
}

// As RunWithBaseline, but both are timed in this thread's CPU time, so
// that other load on a shared machine (time slices lost to other programs)
// enters neither the case's time nor the ratio.
template <class Work, class Baseline>
void RunWithBaselineCpu(benchmark::State &state, Work work, Baseline baseline,
                        long items_per_iteration = 0) {
    double work_seconds = 0;
    double baseline_seconds = 0;
    for (auto _ : state) {
        double t0 = ThreadCpuSeconds();
        work();
        double t1 = ThreadCpuSeconds();
        baseline();
        double t2 = ThreadCpuSeconds();
        work_seconds += t1 - t0;
        baseline_seconds += t2 - t1;
        state.SetIterationTime(t1 - t0);
    }
    ReportBaseline(state, work_seconds, baseline_seconds, items_per_iteration);
}

#endif  // TORVEL_BENCH_BASELINE_TIMER_H_
