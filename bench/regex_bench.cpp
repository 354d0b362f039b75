// Regex::match against a raw pcre_exec call on the same compiled pattern,
// with the same limits, in the same run. Each wrapper case reports
// "ratio" = wrapper time / raw time per call, measured back to back after
// the timed loop, so the figure survives a change of machine.
#include <benchmark/benchmark.h>
#include <pcre.h>

#include <string>

#include "bench/baseline_timer.h"
#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/regex.h"

const char *mySubSystem = "TOOL";

namespace {

struct Case {
    const char *pattern;
    std::string subject;
};

const Case &CaseAt(int index) {
    static const Case cases[] = {
        {"(\\w+)@(\\w+)\\.com", "reply to someone@example.com by Friday"},
        {"^[A-Z][a-z]+ [0-9]+$", "Torvel 8042"},
        {"(a+)+$", std::string(30, 'a') + "!"},  // ends at the match limit
    };
    return cases[index];
}

pcre *RawCompile(const char *pattern) {
    const char *error = nullptr;
    int offset = 0;
    return pcre_compile(pattern, 0, &error, &offset, nullptr);
}

int RawExec(pcre *re, const pcre_extra *extra, const std::string &subject) {
    int offsets[30];
    return pcre_exec(re, extra, subject.data(), static_cast<int>(subject.size()), 0, 0, offsets,
                     30);
}

void BM_RawPcreExec(benchmark::State &state) {
    const Case &c = CaseAt(static_cast<int>(state.range(0)));
    pcre *re = RawCompile(c.pattern);
    pcre_extra extra;
    _torvel_regex_limits(&extra);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RawExec(re, &extra, c.subject));
    }
    pcre_free(re);
}

void BM_RegexMatch(benchmark::State &state) {
    const Case &c = CaseAt(static_cast<int>(state.range(0)));
    const bool want_groups = state.range(1) != 0;
    Regex regex;
    regex.compile(MyString(c.pattern), nullptr, nullptr, 0);
    MyString subject(c.subject.c_str());
    ExtArray<MyString> groups(4);
    ExtArray<MyString> *out = want_groups ? &groups : nullptr;
    for (auto _ : state) {
        benchmark::DoNotOptimize(regex.match(subject, out));
    }

    pcre *raw = RawCompile(c.pattern);
    pcre_extra extra;
    _torvel_regex_limits(&extra);
    // As many calls as the timed loop made, so slow cases stay affordable.
    const int64_t n = state.iterations() > 0 ? state.iterations() : 1;
    double raw_seconds = SetCpuRatio(
        state, n, [&] { benchmark::DoNotOptimize(regex.match(subject, out)); },
        [&] { benchmark::DoNotOptimize(RawExec(raw, &extra, c.subject)); });
    pcre_free(raw);
    state.counters["raw_ns"] = raw_seconds * 1e9;
}

}  // namespace

BENCHMARK(BM_RawPcreExec)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_RegexMatch)->ArgsProduct({{0, 1, 2}, {0, 1}});

BENCHMARK_MAIN();
