// Stream encoding throughput through the memory stream used by the tests:
// 1,000,000 ints against a hand loop of htobe64/be64toh, and 100,000 short
// strings against memcpy. The argument is the memory stream's window size
// (0: every value through the virtual write_bytes/read_bytes). The
// benchmark's time is the case's alone; the "ratio" counter is case CPU
// time / baseline CPU time, both run back to back after the timed loop, so
// other load on a shared machine does not skew it.
#include <benchmark/benchmark.h>
#include <endian.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "tests/stream/memory_stream.h"

const char *mySubSystem = "TOOL";

namespace {
constexpr int kInts = 1000000;
constexpr int kStrings = 100000;
// Rounds of case and baseline behind each ratio.
constexpr int kRatioRounds = 5;

// Times work in the benchmark loop, then sets the CPU "ratio" of work to
// baseline. Each side is compiled once, out of line, and both timings run
// that one copy: two inlined copies of the same loop can sit at different
// code alignments and differ by a third in speed.
template <class Work, class Baseline>
void RunAgainst(benchmark::State &state, Work work, Baseline baseline, long items) {
    auto work_once = [&]() __attribute__((noinline)) {
        work();
    };
    auto baseline_once = [&]() __attribute__((noinline)) {
        baseline();
    };
    for (auto _ : state) {
        work_once();
    }
    state.counters["baseline_us"] =
        SetCpuRatio(state, kRatioRounds, work_once, baseline_once) * 1e6;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
}

// A memory stream with the benchmark's window size.
void set_window(benchmark::State &state, MemoryStream &stream) {
    stream.set_window_size(static_cast<size_t>(state.range(0)));
}

std::vector<std::string> short_strings() {
    std::vector<std::string> texts;
    texts.reserve(kStrings);
    char text[32];
    for (int i = 0; i < kStrings; i++) {
        snprintf(text, sizeof(text), "attr_%d", i);
        texts.emplace_back(text);
    }
    return texts;
}

// The hand loop every int case is measured against. Out of line: inlined
// into each case's closure, its speed moved with the code around it (0.37
// or 0.63 ms a run for the same loop, in two builds differing only in the
// library), and every ratio with it.
__attribute__((noinline)) void encode_baseline(std::vector<uint64_t> &wire) {
    for (int i = 0; i < kInts; i++) {
        uint64_t be = htobe64(static_cast<uint64_t>(static_cast<int64_t>(i - kInts / 2)));
        memcpy(&wire[i], &be, sizeof(be));
    }
    benchmark::DoNotOptimize(wire.data());
}

// The least that one out-of-line call per value costs: put and get are
// such calls, so their ratio cannot go below this case's.
__attribute__((noinline)) int empty_call(Stream *stream, int value) {
    benchmark::DoNotOptimize(stream);
    benchmark::DoNotOptimize(value);
    return 1;
}

void BM_CallFloor(benchmark::State &state) {
    MemoryStream stream;
    std::vector<uint64_t> wire(kInts);
    RunAgainst(
        state,
        [&] {
            for (int i = 0; i < kInts; i++) {
                empty_call(&stream, i - kInts / 2);
            }
        },
        [&] { encode_baseline(wire); }, kInts);
}

void BM_EncodeInts(benchmark::State &state) {
    MemoryStream stream;
    set_window(state, stream);
    stream.channel().bytes.reserve(kInts * 8);
    std::vector<uint64_t> wire(kInts);
    RunAgainst(
        state,
        [&] {
            stream.channel().bytes.clear();
            stream.encode();
            for (int i = 0; i < kInts; i++) {
                stream.put(i - kInts / 2);
            }
            benchmark::DoNotOptimize(stream.channel().bytes.data());
        },
        [&] { encode_baseline(wire); }, kInts);
}

void BM_DecodeInts(benchmark::State &state) {
    MemoryStream stream;
    set_window(state, stream);
    stream.encode();
    for (int i = 0; i < kInts; i++) {
        stream.put(i - kInts / 2);
    }
    std::vector<unsigned char> wire = stream.bytes();
    RunAgainst(
        state,
        [&] {
            stream.channel().read_pos = 0;
            stream.decode();
            long sum = 0;
            int value = 0;
            for (int i = 0; i < kInts; i++) {
                stream.get(value);
                sum += value;
            }
            benchmark::DoNotOptimize(sum);
        },
        [&] {
            long sum = 0;
            for (int i = 0; i < kInts; i++) {
                uint64_t be;
                memcpy(&be, wire.data() + 8 * i, sizeof(be));
                sum += static_cast<int>(static_cast<int64_t>(be64toh(be)));
            }
            benchmark::DoNotOptimize(sum);
        },
        kInts);
}

void BM_EncodeStrings(benchmark::State &state) {
    std::vector<std::string> texts = short_strings();
    MemoryStream stream;
    set_window(state, stream);
    stream.channel().bytes.reserve(kStrings * 16);
    std::vector<char> flat(kStrings * 16);
    RunAgainst(
        state,
        [&] {
            stream.channel().bytes.clear();
            stream.encode();
            for (const std::string &text : texts) {
                stream.put(text.c_str());
            }
            benchmark::DoNotOptimize(stream.channel().bytes.data());
        },
        [&] {
            size_t pos = 0;
            for (const std::string &text : texts) {
                memcpy(flat.data() + pos, text.c_str(), text.size() + 1);
                pos += text.size() + 1;
            }
            benchmark::DoNotOptimize(flat.data());
        },
        kStrings);
}

void BM_DecodeStrings(benchmark::State &state) {
    std::vector<std::string> texts = short_strings();
    MemoryStream stream;
    set_window(state, stream);
    stream.encode();
    for (const std::string &text : texts) {
        stream.put(text.c_str());
    }
    std::vector<unsigned char> wire = stream.bytes();
    char buffer[64];
    RunAgainst(
        state,
        [&] {
            stream.channel().read_pos = 0;
            stream.decode();
            for (int i = 0; i < kStrings; i++) {
                char *p = buffer;
                stream.get(p);
            }
            benchmark::DoNotOptimize(buffer);
        },
        [&] {
            size_t pos = 0;
            for (int i = 0; i < kStrings; i++) {
                size_t n = strlen(reinterpret_cast<const char *>(wire.data() + pos)) + 1;
                memcpy(buffer, wire.data() + pos, n);
                pos += n;
            }
            benchmark::DoNotOptimize(buffer);
        },
        kStrings);
}
}  // namespace

BENCHMARK(BM_CallFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeInts)->Arg(MemoryStream::kDefaultWindow)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeInts)->Arg(MemoryStream::kDefaultWindow)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeStrings)->Arg(MemoryStream::kDefaultWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeStrings)->Arg(MemoryStream::kDefaultWindow)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
