// Growth checks: runs a piece of work at size n and at 100·n and compares the
// times. Linear work grows about 100×, quadratic about 10,000×; the bound of
// 300× sits far from both, so machine noise cannot fail a linear path and a
// quadratic one cannot pass. These check growth, never speed. Test code only.
#ifndef TORVEL_TESTS_SUPPORT_GROWTH_CHECK_H_
#define TORVEL_TESTS_SUPPORT_GROWTH_CHECK_H_

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

namespace torvel_test {

constexpr double kGrowthBound = 300.0;

struct Growth {
    size_t n = 0;
    double small_seconds = 0;  // one run at n
    double large_seconds = 0;  // one run at 100·n
    double ratio = 0;
    double bound = kGrowthBound;

    std::string Describe() const {
        return "n=" + std::to_string(n) + ": " + std::to_string(small_seconds) +
               " s, 100n: " + std::to_string(large_seconds) + " s, ratio " + std::to_string(ratio) +
               " (bound " + std::to_string(bound) + ")";
    }
};

inline double MonotonicSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds spent by this process and by the children it has waited for.
// On a machine shared with other jobs this is the work's own cost: wall
// time would also count the slices other processes had, which a long run
// suffers more than a short one.
inline double CpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage;
        getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    return total;
}

// Times work(size) once, in seconds of the given clock.
inline double TimeOnce(const std::function<void(size_t)> &work, size_t size, double (*clock)()) {
    double start = clock();
    work(size);
    return clock() - start;
}

// Times work(size) as batches of runs long enough (2 ms at least) that the
// clock's granularity and jitter cannot matter, and keeps the fastest of 5
// batches, per run: noise only ever adds time, and a too-slow small run
// would hide growth while one lucky fast batch cannot invent it.
inline double FastestRun(const std::function<void(size_t)> &work, size_t size, double (*clock)()) {
    size_t batch = 1;
    double batch_seconds = TimeOnce(work, size, clock);
    while (batch_seconds < 0.002 && batch < (size_t{1} << 20)) {
        batch *= 2;
        double start = clock();
        for (size_t i = 0; i < batch; ++i) work(size);
        batch_seconds = clock() - start;
    }
    double fastest = batch_seconds;
    for (int batches = 1; batches < 5; ++batches) {
        double start = clock();
        for (size_t i = 0; i < batch; ++i) work(size);
        fastest = std::min(fastest, clock() - start);
    }
    return std::max(fastest / static_cast<double>(batch), 1e-12);
}

// The large run is timed once, and the faster of two kept only when the
// first is over the bound, so a linear path pays for one large run.
// clock is CPU time unless the caller passes MonotonicSeconds: on a machine
// shared with other jobs (a CI run beside a build) wall time stretched a
// long run far more than a short one.
inline Growth MeasureGrowth(size_t n, const std::function<void(size_t)> &work,
                            double (*clock)() = CpuSeconds, double bound = kGrowthBound) {
    Growth growth;
    growth.n = n;
    growth.bound = bound;
    work(n);  // warm up caches, lazily built tables, the page cache
    growth.small_seconds = FastestRun(work, n, clock);
    growth.large_seconds = TimeOnce(work, 100 * n, clock);
    if (growth.large_seconds / growth.small_seconds > bound) {
        growth.large_seconds = std::min(growth.large_seconds, TimeOnce(work, 100 * n, clock));
    }
    growth.ratio = growth.large_seconds / growth.small_seconds;
    return growth;
}

}  // namespace torvel_test

// Fails the test when work grows more than kGrowthBound times from n to 100·n,
// in CPU time of this process and the children it waited for.
#define EXPECT_LINEAR_GROWTH(n, work)                                                \
    do {                                                                             \
        ::torvel_test::Growth growth_ = ::torvel_test::MeasureGrowth((n), (work));   \
        EXPECT_LE(growth_.ratio, ::torvel_test::kGrowthBound) << growth_.Describe(); \
    } while (0)

// As EXPECT_LINEAR_GROWTH for work whose 100·n run leaves the caches that
// the n run fits in: each item then costs a few times more (seen: 3×, ratio
// near 300), while a quadratic path still grows about 10,000×.
#define EXPECT_LINEAR_GROWTH_OUT_OF_CACHE(n, work)                                    \
    do {                                                                              \
        ::torvel_test::Growth growth_ = ::torvel_test::MeasureGrowth(                 \
            (n), (work), ::torvel_test::CpuSeconds, 3 * ::torvel_test::kGrowthBound); \
        EXPECT_LE(growth_.ratio, growth_.bound) << growth_.Describe();                \
    } while (0)

#endif  // TORVEL_TESTS_SUPPORT_GROWTH_CHECK_H_
