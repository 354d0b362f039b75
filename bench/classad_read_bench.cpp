// Reading ONE ClassAd of N attributes through each of its three readers:
// the text form from a file (ClassAd(FILE*, ...), over fmemopen), the XML
// form (ClassAdXMLParser::ParseClassAd) and the wire form
// (ClassAd::initFromStream over the tests' in-memory stream). Each case runs
// beside a hand-written reader of the same bytes that splits out every
// name and value text and stores them in a std::unordered_map keyed by the
// case-folded name; "ratio" is reader CPU time over that baseline's, so
// linear growth shows as a ratio that stays flat while N grows tenfold. The
// benchmark's own times are the reader's alone; CPU time is the figure to
// read on a shared machine.
//
// The text case also reports "bytes_per_attr": the heap bytes (mallinfo2
// deltas) the ad holds per attribute once read, string space included.
//
// Sizes 1,000 / 10,000 / 100,000 run by default; the 1,000,000 cases are
// named "Huge" and run only when a --benchmark_filter selects them (for
// example --benchmark_filter=Huge).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "tests/stream/memory_stream.h"

const char *mySubSystem = "TOOL";

namespace {

using HandMap = std::unordered_map<std::string, std::string>;

// The name and value text of attribute i: integers, strings, reals and
// expressions in turn, as machine ads mix them.
void Attribute(int i, std::string &name, std::string &value, char &kind) {
    char text[64];
    snprintf(text, sizeof text, "Attr%d", i);
    name = text;
    switch (i % 4) {
        case 0:
            snprintf(text, sizeof text, "%d", i);
            kind = 'i';
            break;
        case 1:
            snprintf(text, sizeof text, "\"value %d\"", i);
            kind = 's';
            break;
        case 2:
            snprintf(text, sizeof text, "%d.5", i);
            kind = 'r';
            break;
        default:
            snprintf(text, sizeof text, "Attr%d + %d", i - 1, i);
            kind = 'e';
            break;
    }
    value = text;
}

std::string TextForm(int n) {
    std::string out = "MyType = \"Machine\"\nTargetType = \"Job\"\n";
    std::string name, value;
    char kind;
    for (int i = 0; i < n; i++) {
        Attribute(i, name, value, kind);
        out += name + " = " + value + "\n";
    }
    return out;
}

std::string XmlForm(int n) {
    std::string out = "<c>";
    std::string name, value;
    char kind;
    for (int i = 0; i < n; i++) {
        Attribute(i, name, value, kind);
        if (kind == 's') {
            value = value.substr(1, value.size() - 2);
        }
        out += "<a n=\"" + name + "\"><" + kind + ">" + value + "</" + kind + "></a>";
    }
    out += "</c>\n";
    return out;
}

void WireForm(int n, MemoryStream &stream) {
    stream.encode();
    stream.code(n);
    std::string name, value;
    char kind;
    for (int i = 0; i < n; i++) {
        Attribute(i, name, value, kind);
        stream.put((name + " = " + value).c_str());
    }
    stream.put("Machine");
    stream.put("Job");
}

std::string Folded(const char *p, size_t n) {
    std::string key(p, n);
    for (char &c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

// Hand readers: each takes the bytes its case reads and fills map.
void HandText(const std::string &text, HandMap &map) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        size_t eq = text.find(" = ", pos);
        map[Folded(text.data() + pos, eq - pos)] = text.substr(eq + 3, end - eq - 3);
        pos = end + 1;
    }
}

void HandXml(const std::string &text, HandMap &map) {
    size_t pos = 0;
    while ((pos = text.find("<a n=\"", pos)) != std::string::npos) {
        size_t name_start = pos + 6;
        size_t name_end = text.find('"', name_start);
        size_t value_start = text.find('>', name_end + 2) + 1;
        size_t value_end = text.find('<', value_start);
        map[Folded(text.data() + name_start, name_end - name_start)] =
            text.substr(value_start, value_end - value_start);
        pos = value_end;
    }
}

void HandWire(const std::vector<unsigned char> &wire, HandMap &map) {
    const char *p = reinterpret_cast<const char *>(wire.data()) + 8;  // the count
    const char *end = reinterpret_cast<const char *>(wire.data()) + wire.size();
    while (p < end) {
        size_t length = strlen(p);
        const char *eq = strstr(p, " = ");
        if (eq != nullptr) {
            map[Folded(p, static_cast<size_t>(eq - p))] = std::string(eq + 3);
        }
        p += length + 1;
    }
}

// Times work alone in the benchmark loop, then work and baseline again,
// back to back, for the CPU-time ratio (about 100,000 attributes' worth of
// calls each, so that small sizes are not timed by a single call).
template <class Work, class Baseline>
void Measure(benchmark::State &state, int n, Work work, Baseline baseline) {
    for (auto _ : state) {
        work();
    }
    SetCpuRatio(state, n < 100000 ? 100000 / n : 1, work, baseline);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// Checks once, outside the timing, that the reader read every attribute.
void ExpectCount(benchmark::State &state, ClassAd *ad, int n) {
    int count = 0;
    ad->ResetExpr();
    while (ad->NextExpr() != nullptr) {
        count++;
    }
    if (count != n) {
        state.SkipWithError("the reader lost attributes");
    }
}

void BM_ReadText(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::string text = TextForm(n);
    auto read = [&]() {
        FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
        int is_eof = 0, error = 0, empty = 0;
        char delimiter[] = "***";
        ClassAd *ad = new ClassAd(file, delimiter, is_eof, error, empty);
        fclose(file);
        return ad;
    };
    size_t before = mallinfo2().uordblks;
    ClassAd *probe = read();
    size_t after = mallinfo2().uordblks;
    ExpectCount(state, probe, n);
    delete probe;
    state.counters["bytes_per_attr"] = static_cast<double>(after - before) / n;
    HandMap map;
    Measure(
        state, n, [&] { delete read(); },
        [&] {
            map.clear();
            HandText(text, map);
            benchmark::DoNotOptimize(map.size());
        });
}

void BM_ReadXml(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::string text = XmlForm(n);
    ClassAdXMLParser parser;
    ClassAd *probe = parser.ParseClassAd(text.c_str());
    ExpectCount(state, probe, n);
    delete probe;
    HandMap map;
    Measure(
        state, n, [&] { delete parser.ParseClassAd(text.c_str()); },
        [&] {
            map.clear();
            HandXml(text, map);
            benchmark::DoNotOptimize(map.size());
        });
}

void BM_ReadStream(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    MemoryStream stream;
    WireForm(n, stream);
    auto read = [&]() {
        stream.channel().read_pos = 0;
        ClassAd *ad = new ClassAd();
        ad->initFromStream(stream);
        return ad;
    };
    ClassAd *probe = read();
    ExpectCount(state, probe, n);
    delete probe;
    HandMap map;
    Measure(
        state, n, [&] { delete read(); },
        [&] {
            map.clear();
            HandWire(stream.bytes(), map);
            benchmark::DoNotOptimize(map.size());
        });
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

void Huge(benchmark::internal::Benchmark *b) {
    b->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
}

}  // namespace

BENCHMARK(BM_ReadText)->Apply(Sizes);
BENCHMARK(BM_ReadXml)->Apply(Sizes);
BENCHMARK(BM_ReadStream)->Apply(Sizes);
BENCHMARK(BM_ReadText)->Name("BM_ReadTextHuge")->Apply(Huge);
BENCHMARK(BM_ReadXml)->Name("BM_ReadXmlHuge")->Apply(Huge);
BENCHMARK(BM_ReadStream)->Name("BM_ReadStreamHuge")->Apply(Huge);

// Without a filter of the caller's own, the 1,000,000-attribute cases stay
// out of the run.
int main(int argc, char **argv) {
    std::vector<char *> args(argv, argv + argc);
    bool filtered = false;
    for (int i = 1; i < argc; i++) {
        filtered = filtered || strncmp(argv[i], "--benchmark_filter", 18) == 0;
    }
    char default_filter[] = "--benchmark_filter=-Huge";
    if (!filtered) {
        args.push_back(default_filter);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
