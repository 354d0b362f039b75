// Reading a pool of generated machine ads (tests/support/machine_ads.h,
// about 100 attributes and 2 KB of text each) through each reader, beside
// baselines over the same bytes in the same iteration, in this thread's CPU
// time:
//   BM_TextRead     the text form from one file of ads (ClassAd(FILE*, ...)
//                   over fmemopen), beside memcpy of the text and beside a
//                   plain tokenizer loop over it;
//   BM_AdFileRead   the same ads separated by blank lines, read by the
//                   ad-file reader (AdFileReader::NextClassAd over
//                   fmemopen), beside the same two baselines;
//   BM_WireDecode   ClassAd::initFromStream over the pool's wire form,
//                   each ad dropped before the next, beside memcpy of the
//                   encoded bytes and beside inserting the same texts and
//                   types without a stream (what is left of the decode
//                   beyond that is the stream's part): /0 with nothing
//                   else alive, /1 beside an ad the program keeps;
//   BM_WireEncode   ClassAd::put of the pool, beside memcpy of what it
//                   writes and beside printing every attribute's text
//                   without a stream: /0 each ad's first put, /1 puts of
//                   ads already sent (their texts kept from the first);
//   BM_XmlRead      ClassAdXMLParser::ParseClassAds over the pool's XML
//                   form, beside memcpy and a tag-scanning loop.
// Each reports its own rate as bytes_per_second, each baseline's rate as
// "<baseline>_MB_s" and "ratio_<baseline>" (case time over baseline time).
// BM_TextRead also reports "bytes_per_attr_beyond_text": the heap bytes
// the pool holds once read (mallinfo2 deltas, string space included, the
// node pool's pieces in use instead of its blocks) less
// the bytes of the attributes' own "name = value" texts, per attribute.
// Every case repeats 3 times and shows mean, median and spread; read the
// median. "--write_ads=PATH" (alone) writes the blank-line separated ads
// to PATH instead of running.
#include <benchmark/benchmark.h>
#include <ctype.h>
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/baseline_timer.h"
#include "classad/ad_file_reader.h"
#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "classad/node_pool.h"
#include "core/my_string.h"
#include "tests/stream/memory_stream.h"
#include "tests/support/machine_ads.h"

const char *mySubSystem = "TOOL";

namespace {

const int kPoolAds = 1000;

struct Pool {
    std::string text;                         // the ads' text forms, each ended by a "***" line
    std::string blocks;                       // the same separated by blank lines
    std::string xml;                          // the ads' XML forms, one after the other
    std::vector<machine_ads::Attribute> all;  // every attribute of every ad
    std::vector<size_t> sizes;                // each ad's attribute count
    MemoryStream wire;                        // the ads' wire forms
};

const Pool &ThePool() {
    static Pool *pool = [] {
        Pool *p = new Pool;
        p->wire.encode();
        for (int seed = 0; seed < kPoolAds; seed++) {
            std::vector<machine_ads::Attribute> ad = machine_ads::Generate(seed);
            p->text += machine_ads::TextForm(ad) + "***\n";
            p->blocks += machine_ads::TextForm(ad) + "\n";
            p->xml += machine_ads::XmlForm(ad);
            machine_ads::PutWireForm(ad, p->wire);
            p->all.insert(p->all.end(), ad.begin(), ad.end());
            p->sizes.push_back(ad.size());
        }
        return p;
    }();
    return *pool;
}

// A plain tokenizer over ClassAd text: names, numbers, quoted strings and
// one-byte operators, each counted and its first byte summed, nothing kept.
size_t Tokenize(const char *p, const char *end) {
    size_t tokens = 0;
    size_t sum = 0;
    while (p < end) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            p++;
            continue;
        }
        tokens++;
        sum += c;
        if (isalpha(c) || c == '_') {
            while (p < end && (isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '.')) {
                p++;
            }
        } else if (isdigit(c)) {
            while (p < end && (isdigit(static_cast<unsigned char>(*p)) || *p == '.' || *p == 'e' ||
                               *p == 'E')) {
                p++;
            }
        } else if (c == '"') {
            for (p++; p < end && *p != '"'; p++) {
                if (*p == '\\') p++;
            }
            p++;
        } else {
            p++;
        }
    }
    return tokens + sum;
}

// Counts the elements of an XML text: every "<...>" tag, nothing kept.
size_t ScanTags(const char *p, const char *end) {
    size_t tags = 0;
    while ((p = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(end - p)))) !=
           nullptr) {
        const char *close = static_cast<const char *>(memchr(p, '>', static_cast<size_t>(end - p)));
        if (close == nullptr) break;
        tags += static_cast<size_t>(close[-1] == '/') + 1;
        p = close + 1;
    }
    return tags;
}

// A baseline run after the case in the same iteration.
struct Baseline {
    const char *name;
    std::function<void()> run;
    double seconds = 0;
};

// Times work, then each baseline, every iteration, in thread CPU time;
// work's time is the case's. bytes is what one call of each reads.
// prepare, when given, runs untimed before each call of work.
template <class Work>
void RunBesideBaselines(benchmark::State &state, size_t bytes, Work work,
                        std::vector<Baseline> baselines,
                        const std::function<void()> &prepare = nullptr) {
    double work_seconds = 0;
    for (auto _ : state) {
        if (prepare) {
            prepare();
        }
        double t0 = ThreadCpuSeconds();
        work();
        double t1 = ThreadCpuSeconds();
        work_seconds += t1 - t0;
        state.SetIterationTime(t1 - t0);
        for (Baseline &b : baselines) {
            double s = ThreadCpuSeconds();
            b.run();
            b.seconds += ThreadCpuSeconds() - s;
        }
    }
    double iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    for (const Baseline &b : baselines) {
        if (b.seconds > 0 && iterations > 0) {
            state.counters[std::string(b.name) + "_MB_s"] = bytes * iterations / b.seconds / 1e6;
            state.counters[std::string("ratio_") + b.name] = work_seconds / b.seconds;
        }
    }
}

Baseline Memcpy(const void *bytes, size_t size) {
    auto copy = std::make_shared<std::vector<char>>(size);
    return {"memcpy", [copy, bytes, size] {
                memcpy(copy->data(), bytes, size);
                benchmark::DoNotOptimize(copy->data());
                benchmark::ClobberMemory();
            }};
}

// Reads every ad of the pool's text form; the caller deletes them.
std::vector<ClassAd *> ReadText(const std::string &text) {
    std::vector<ClassAd *> ads;
    FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    char delimiter[] = "***";
    for (;;) {
        int is_eof = 0, error = 0, empty = 0;
        ClassAd *ad = new ClassAd(file, delimiter, is_eof, error, empty);
        if (empty || error) {
            delete ad;
            break;
        }
        ads.push_back(ad);
        if (is_eof) break;
    }
    fclose(file);
    return ads;
}

void DeleteAll(std::vector<ClassAd *> &ads) {
    for (ClassAd *ad : ads) delete ad;
    ads.clear();
}

// The heap bytes in use, counting of the node pool's blocks only the
// pieces handed out: what freed nodes leave in the pool is no one's.
double HeapBytesHeld() {
    ClassadNodePoolUse nodes = classad_node_pool_use();
    return static_cast<double>(mallinfo2().uordblks) - static_cast<double>(nodes.blocks) +
           static_cast<double>(nodes.in_use);
}

// Heap bytes the read pool holds per attribute beyond the attributes' own
// "name = value" texts; -1 when the pool did not read whole.
double BytesPerAttributeBeyondText(const Pool &pool) {
    double before = HeapBytesHeld();
    std::vector<ClassAd *> ads = ReadText(pool.text);
    double after = HeapBytesHeld();
    size_t read = ads.size();
    DeleteAll(ads);
    if (read != static_cast<size_t>(kPoolAds)) {
        return -1;
    }
    double text = 0;
    for (const machine_ads::Attribute &a : pool.all) {
        text += static_cast<double>(a.name.size() + 3 + a.value.size());
    }
    return (after - before - text) / static_cast<double>(pool.all.size());
}

void BM_TextRead(benchmark::State &state) {
    const Pool &pool = ThePool();
    double beyond = BytesPerAttributeBeyondText(pool);
    if (beyond < 0) {
        state.SkipWithError("the text reader lost ads");
        return;
    }
    state.counters["bytes_per_attr_beyond_text"] = beyond;
    const std::string &text = pool.text;
    RunBesideBaselines(
        state, text.size(),
        [&] {
            std::vector<ClassAd *> ads = ReadText(text);
            DeleteAll(ads);
        },
        {Memcpy(text.data(), text.size()),
         {"tokenizer",
          [&] { benchmark::DoNotOptimize(Tokenize(text.data(), text.data() + text.size())); }}});
}

// Builds every ad of the pool by inserting its "name = value" texts and
// setting its types, as the wire reader does, with no stream in between.
Baseline InsertOnly(const Pool &pool) {
    auto texts = std::make_shared<std::vector<std::string>>();
    for (const machine_ads::Attribute &a : pool.all) {
        texts->push_back(a.name + " = " + a.value);
    }
    const std::vector<size_t> *sizes = &pool.sizes;
    return {"insert_only", [texts, sizes] {
                size_t i = 0;
                for (size_t size : *sizes) {
                    ClassAd ad;
                    for (size_t end = i + size; i < end; i++) {
                        ad.Insert((*texts)[i].c_str(), true);
                    }
                    ad.SetMyTypeName("Machine");
                    ad.SetTargetTypeName("Job");
                }
            }};
}

// Reads every ad of the pool's blocks with the ad-file reader; the caller
// deletes them. Empty when a block does not read.
std::vector<ClassAd *> ReadBlocks(const std::string &blocks) {
    std::vector<ClassAd *> ads;
    FILE *file = fmemopen(const_cast<char *>(blocks.data()), blocks.size(), "r");
    AdFileReader reader(file);
    for (;;) {
        ClassAd *ad = new ClassAd;
        AdFileReader::Status status = reader.NextClassAd(*ad);
        if (status != AdFileReader::kAd) {
            delete ad;
            if (status != AdFileReader::kEnd) {
                DeleteAll(ads);
            }
            break;
        }
        ads.push_back(ad);
    }
    fclose(file);
    return ads;
}

void BM_AdFileRead(benchmark::State &state) {
    const std::string &blocks = ThePool().blocks;
    std::vector<ClassAd *> probe = ReadBlocks(blocks);
    bool whole = probe.size() == static_cast<size_t>(kPoolAds);
    DeleteAll(probe);
    if (!whole) {
        state.SkipWithError("the ad-file reader lost ads");
        return;
    }
    RunBesideBaselines(
        state, blocks.size(),
        [&] {
            std::vector<ClassAd *> ads = ReadBlocks(blocks);
            DeleteAll(ads);
        },
        {Memcpy(blocks.data(), blocks.size()),
         {"tokenizer", [&] {
              benchmark::DoNotOptimize(Tokenize(blocks.data(), blocks.data() + blocks.size()));
          }}});
}

// Argument 0: nothing else of the program's is alive, so each ad dropped
// takes the string space and the kept parses with it and the next starts
// afresh; 1: the program keeps an ad of its own meanwhile, as a daemon
// keeps its own ad.
void BM_WireDecode(benchmark::State &state) {
    Pool &pool = const_cast<Pool &>(ThePool());
    std::unique_ptr<ClassAd> resident;
    if (state.range(0) == 1) {
        resident.reset(new ClassAd);
        resident->Insert("Resident = TRUE", true);
    }
    MemoryStream &stream = pool.wire;
    const std::vector<unsigned char> &bytes = stream.bytes();
    std::vector<unsigned char> copy(bytes);
    RunBesideBaselines(state, copy.size(),
                       [&] {
                           stream.channel().read_pos = 0;
                           for (int i = 0; i < kPoolAds; i++) {
                               ClassAd ad;
                               if (!ad.initFromStream(stream)) {
                                   state.SkipWithError("the wire reader failed");
                                   return;
                               }
                           }
                       },
                       {Memcpy(copy.data(), copy.size()), InsertOnly(pool)});
}

// Prints every attribute of ads into one text per ad (AttrList::sPrint),
// as the wire writer prints them before sending: the trees of attributes
// kept without one are not built for it.
Baseline PrintOnly(const std::vector<ClassAd *> &ads) {
    return {"print_only", [&ads] {
                for (ClassAd *ad : ads) {
                    MyString text;
                    ad->sPrint(text);
                    benchmark::DoNotOptimize(text.Value());
                }
            }};
}

// Argument 0: each put is the ads' first (each ad a fresh copy, made
// untimed, which keeps no sent text); 1: the same ads put again and again,
// which sends the texts kept from their first put.
void BM_WireEncode(benchmark::State &state) {
    const Pool &pool = ThePool();
    std::vector<ClassAd *> sources = ReadText(pool.text);
    std::vector<ClassAd *> ads;
    for (ClassAd *ad : sources) ads.push_back(new ClassAd(*ad));
    size_t encoded = 0;
    {
        MemoryStream probe;
        for (ClassAd *ad : ads) ad->put(probe);
        encoded = probe.bytes().size();
    }
    std::function<void()> refresh = [&] {
        for (size_t i = 0; i < ads.size(); i++) *ads[i] = *sources[i];
    };
    std::vector<char> source(encoded, 'x');
    // One stream whose bytes keep their capacity: the transport's growth is
    // not the writer's work.
    MemoryStream stream;
    stream.channel().bytes.reserve(encoded);
    RunBesideBaselines(
        state, encoded,
        [&] {
            stream.channel().bytes.clear();
            for (ClassAd *ad : ads) {
                if (!ad->put(stream)) {
                    state.SkipWithError("the wire writer failed");
                    return;
                }
            }
        },
        {Memcpy(source.data(), source.size()), PrintOnly(ads)},
        state.range(0) == 0 ? refresh : nullptr);
    DeleteAll(ads);
    DeleteAll(sources);
}

void BM_XmlRead(benchmark::State &state) {
    const std::string &xml = ThePool().xml;
    ClassAdXMLParser parser;
    RunBesideBaselines(
        state, xml.size(),
        [&] {
            int place = 0;
            for (int i = 0; i < kPoolAds; i++) {
                delete parser.ParseClassAds(xml.c_str(), &place);
            }
        },
        {Memcpy(xml.data(), xml.size()),
         {"tag_scan",
          [&] { benchmark::DoNotOptimize(ScanTags(xml.data(), xml.data() + xml.size())); }}});
}

void Setup(benchmark::internal::Benchmark *b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->DisplayAggregatesOnly(true);
}

}  // namespace

BENCHMARK(BM_TextRead)->Apply(Setup);
BENCHMARK(BM_AdFileRead)->Apply(Setup);
BENCHMARK(BM_WireDecode)->Arg(0)->Arg(1)->Apply(Setup);
BENCHMARK(BM_WireEncode)->Arg(0)->Arg(1)->Apply(Setup);
BENCHMARK(BM_XmlRead)->Apply(Setup);

// "--write_ads=PATH" writes the pool's ads as the ad-file reader reads them
// (blank-line separated) to PATH and runs nothing, so that
// bench/python_bench.py reads the very same ads.
int main(int argc, char **argv) {
    const char kWriteAds[] = "--write_ads=";
    if (argc == 2 && strncmp(argv[1], kWriteAds, sizeof kWriteAds - 1) == 0) {
        FILE *out = fopen(argv[1] + sizeof kWriteAds - 1, "w");
        const std::string &blocks = ThePool().blocks;
        bool ok = out != nullptr && fwrite(blocks.data(), 1, blocks.size(), out) == blocks.size();
        return out != nullptr && fclose(out) == 0 && ok ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
