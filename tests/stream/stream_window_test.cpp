// Stream: values coded through a window the transport lends must be
// indistinguishable from values coded through write_bytes/read_bytes: the
// same bytes for every type and form, the same counters, the same failing
// call when the transport refuses, the same digest, and correct bytes when
// encryption is switched on or off in the middle of a message. Window 0 is
// the virtual road alone; the small sizes make values meet a full window.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/stream/stream_test_util.h"
#include "tests/support/capture.h"

namespace {
const size_t kWindows[] = {1, 3, 7, 8, 9, 13, 16, 100, MemoryStream::kDefaultWindow};

// Records every virtual transfer, to see which values took the window.
class CountingStream : public MemoryStream {
 public:
    using MemoryStream::MemoryStream;
    int write_bytes(const void *data, int length) override {
        writes.push_back(length);
        return MemoryStream::write_bytes(data, length);
    }
    int read_bytes(void *data, int length) override {
        reads++;
        return MemoryStream::read_bytes(data, length);
    }
    std::vector<int> writes;
    int reads = 0;
};

// One value of every type a window can carry, and the string and record
// forms around them.
struct Sample {
    char c = 0;
    unsigned char uc = 0;
    int i = 0;
    unsigned int u = 0;
    long l = 0;
    unsigned long ul = 0;
    long long ll = 0;
    unsigned long long ull = 0;
    short sh = 0;
    unsigned short us = 0;
    float f = 0;
    double d = 0;
    char *text = nullptr;
    char *none = nullptr;
    unsigned char raw[5] = {};
    struct rlimit rl = {};
    struct timeval tv = {};
    PROC_ID id = {};
    unsigned int *array = nullptr;
    int count = 0;
};

// Values for encoding, varied by n so that successive samples shift the
// alignment of every value against the window.
struct Source {
    std::string text;
    unsigned int array[3];
    Sample sample;

    explicit Source(int n)
        : text(std::string(static_cast<size_t>(n % 5), 'x') + "t" + std::to_string(n)) {
        Sample &s = sample;
        s.c = static_cast<char>('a' + n % 26);
        s.uc = static_cast<unsigned char>(200 + n);
        s.i = n % 2 ? -n * 7919 : n * 104729;
        s.u = 0xfffffff0u + static_cast<unsigned>(n % 16);
        s.l = -0x0102030405060708L * (n + 1);
        s.ul = 0xfedcba9876543210UL >> (n % 8);
        s.ll = n % 3 ? -1LL : 0x7fffffffffffffffLL;
        s.ull = static_cast<unsigned long long>(n) << 40;
        s.sh = static_cast<short>(-n * 1000);
        s.us = static_cast<unsigned short>(65535 - n);
        s.f = 1.5f * static_cast<float>(n) - 3.0f;
        s.d = -2.75e100 / (n + 1);
        s.text = &text[0];
        for (int k = 0; k < 5; k++) {
            s.raw[k] = static_cast<unsigned char>(n * 5 + k);
        }
        s.rl = {static_cast<rlim_t>(n) * 4096, 0x7fffff00u + static_cast<rlim_t>(n)};
        s.tv = {1700000000L + n, n * 1000L};
        s.id = {n, -n};
        array[0] = static_cast<unsigned>(n);
        array[1] = 0xffffffffu;
        array[2] = 7;
        s.array = array;
        s.count = 1 + n % 3;
    }
};

// Codes a sample in the stream's direction; the result of every step.
std::vector<int> code_sample(Stream &s, Sample &v) {
    return {s.code(v.c),
            s.code(v.uc),
            s.code(v.i),
            s.code(v.u),
            s.code(v.l),
            s.code(v.ul),
            s.code(v.ll),
            s.code(v.ull),
            s.code(v.sh),
            s.code(v.us),
            s.code(v.f),
            s.code(v.d),
            s.code(v.text),
            s.code(v.none),
            s.code_bytes_bool(v.raw, 5),
            s.code(v.rl),
            s.code(v.tv),
            s.code(v.id),
            s.code_array(v.array, v.count)};
}

std::string describe(const Sample &v) {
    char line[512];
    snprintf(line, sizeof(line),
             "%d %u %d %u %ld %lu %lld %llu %d %u %a %a [%s] [%s] %02x%02x%02x%02x%02x %lu %lu "
             "%ld %ld %d %d %d:",
             v.c, v.uc, v.i, v.u, v.l, v.ul, v.ll, v.ull, v.sh, v.us, static_cast<double>(v.f), v.d,
             v.text != nullptr ? v.text : "null", v.none != nullptr ? v.none : "null", v.raw[0],
             v.raw[1], v.raw[2], v.raw[3], v.raw[4], static_cast<unsigned long>(v.rl.rlim_cur),
             static_cast<unsigned long>(v.rl.rlim_max), static_cast<long>(v.tv.tv_sec),
             static_cast<long>(v.tv.tv_usec), v.id.cluster, v.id.proc, v.count);
    std::string out = line;
    for (int k = 0; v.array != nullptr && k < v.count; k++) {
        out += " " + std::to_string(v.array[k]);
    }
    return out;
}

void release(Sample &v) {
    free(v.text);
    free(v.none);
    delete[] v.array;
    v = Sample();
}

// What an encoding of samples 0..count-1 produced.
struct Encoding {
    Bytes bytes;
    std::vector<int> results;
    int putcount = 0;
    std::vector<int> writes;
};

Encoding encode_samples(Stream::stream_code form, size_t window, int count, long budget = -1) {
    CountingStream s(form);
    s.set_window_size(window);
    s.fail_writes_after(budget);
    s.writes.clear();
    putcount = 0;
    Encoding out;
    for (int n = 0; n < count; n++) {
        Source source(n);
        std::vector<int> step = code_sample(s, source.sample);
        out.results.insert(out.results.end(), step.begin(), step.end());
    }
    out.putcount = putcount;
    out.writes = s.writes;
    out.bytes = s.bytes();
    return out;
}

// What a decoding of count samples from bytes produced, log lines included.
struct Decoding {
    std::string values;
    std::vector<int> results;
    int getcount = 0;
    size_t left = 0;
    std::string log;
    int reads = 0;
};

// capture must be catching D_NETWORK; what it held before is dropped.
Decoding decode_samples(const Bytes &bytes, Stream::stream_code form, size_t window, int count,
                        DebugCapture &capture) {
    CountingStream s(form);
    s.set_window_size(window);
    s.load(bytes.data(), bytes.size());
    s.decode();
    Decoding out;
    capture.Take();
    getcount = 0;
    for (int n = 0; n < count; n++) {
        Sample v;
        std::vector<int> step = code_sample(s, v);
        out.results.insert(out.results.end(), step.begin(), step.end());
        out.values += describe(v) + "\n";
        release(v);
    }
    out.getcount = getcount;
    out.log = capture.Take();
    out.reads = s.reads;
    out.left = s.channel().available();
    return out;
}

void expect_same_decoding(const Decoding &got, const Decoding &want, const std::string &what) {
    EXPECT_EQ(got.results, want.results) << what;
    EXPECT_EQ(got.values, want.values) << what;
    EXPECT_EQ(got.getcount, want.getcount) << what;
    EXPECT_EQ(got.log, want.log) << what;
    EXPECT_EQ(got.left, want.left) << what;
}

KeyInfo cipher_key() {
    unsigned char raw[24];
    for (int k = 0; k < 24; k++) {
        raw[k] = static_cast<unsigned char>(k * 13 + 5);
    }
    return KeyInfo(raw, 24, CIPHER_3DES);
}
}  // namespace

TEST(StreamWindow, EveryTypeAndFormGivesTheBytesOfTheVirtualRoad) {
    for (Stream::stream_code form : {Stream::portable, Stream::internal}) {
        Encoding want = encode_samples(form, 0, 24);
        for (int result : want.results) {
            ASSERT_EQ(result, 1);
        }
        for (size_t window : kWindows) {
            Encoding got = encode_samples(form, window, 24);
            std::string what = "form " + std::to_string(form) + " window " + std::to_string(window);
            EXPECT_EQ(got.bytes, want.bytes) << what;
            EXPECT_EQ(got.results, want.results) << what;
            EXPECT_EQ(got.putcount, want.putcount) << what;
        }
        // With room, the virtual call becomes the exception.
        Encoding wide = encode_samples(form, MemoryStream::kDefaultWindow, 24);
        EXPECT_LT(wide.writes.size() * 10, want.writes.size()) << "form " << form;
    }
}

TEST(StreamWindow, DecodingThroughTheWindowMatchesTheVirtualRoad) {
    for (Stream::stream_code form : {Stream::portable, Stream::internal}) {
        Bytes bytes = encode_samples(form, 0, 24).bytes;
        DebugCapture capture(D_NETWORK);
        Decoding want = decode_samples(bytes, form, 0, 24, capture);
        EXPECT_EQ(want.left, 0u);
        if (form == Stream::internal) {  // exact: native bytes
            std::string sources;
            for (int n = 0; n < 24; n++) {
                sources += describe(Source(n).sample) + "\n";
            }
            EXPECT_EQ(want.values, sources);
        }
        for (size_t window : kWindows) {
            Decoding got = decode_samples(bytes, form, window, 24, capture);
            expect_same_decoding(got, want, "window " + std::to_string(window));
        }
        Decoding wide = decode_samples(bytes, form, MemoryStream::kDefaultWindow, 24, capture);
        EXPECT_LT(wide.reads * 10, want.reads) << "form " << form;
    }
}

TEST(StreamWindow, TruncatedAndCorruptInputFailsAtTheSameStepWithTheSameLog) {
    Bytes bytes = encode_samples(Stream::portable, 0, 1).bytes;
    std::vector<Bytes> inputs;
    for (size_t cut = 0; cut < bytes.size(); cut++) {
        inputs.emplace_back(bytes.begin(), bytes.begin() + static_cast<long>(cut));
    }
    // The padding of the first sample's int (after the char and the uchar),
    // then the padding of its unsigned int.
    for (size_t at : {2u, 5u, 10u, 13u}) {
        Bytes bad = bytes;
        bad[at] ^= 0x40;
        inputs.push_back(bad);
    }
    DebugCapture capture(D_NETWORK);
    for (const Bytes &input : inputs) {
        Decoding want = decode_samples(input, Stream::portable, 0, 1, capture);
        for (size_t window : {3u, 13u, 8192u}) {
            Decoding got = decode_samples(input, Stream::portable, window, 1, capture);
            expect_same_decoding(got, want,
                                 "input of " + std::to_string(input.size()) + " bytes, window " +
                                     std::to_string(window));
        }
    }
}

TEST(StreamWindow, ValuesMeetingAFullWindowGoWholeToWriteBytes) {
    CountingStream s;
    s.set_window_size(12);
    s.encode();
    for (int n = 0; n < 6; n++) {
        ASSERT_EQ(s.put(n - 3), 1);
    }
    // 12 bytes hold one int; the next misses by 4 and goes whole.
    EXPECT_EQ(s.writes, (std::vector<int>{8, 8, 8}));
    Bytes want;
    for (int n = 0; n < 6; n++) {
        Bytes one = be_int64(n - 3);
        want.insert(want.end(), one.begin(), one.end());
    }
    EXPECT_EQ(s.bytes(), want);
}

TEST(StreamWindow, RefusalFallsOnTheCallTheTransportRefused) {
    int total = static_cast<int>(encode_samples(Stream::portable, 0, 2).bytes.size());
    for (long budget = 0; budget <= total; budget++) {
        Encoding want = encode_samples(Stream::portable, 0, 2, budget);
        for (size_t window : {1u, 8u, 9u, 16u, 64u}) {
            Encoding got = encode_samples(Stream::portable, window, 2, budget);
            std::string what =
                "budget " + std::to_string(budget) + " window " + std::to_string(window);
            EXPECT_EQ(got.results, want.results) << what;
            EXPECT_EQ(got.bytes, want.bytes) << what;
        }
    }
}

namespace {
// A message whose middle is encrypted: ints and a string before, every kind
// of value while on, and plain values again after.
std::vector<int> code_mixed_message(MemoryStream &s, Sample &before, Sample &during,
                                    Sample &after) {
    KeyInfo key = cipher_key();
    std::vector<int> results = {s.code(before.i), s.code(before.l), s.code(before.text)};
    s.set_crypto_key(true, &key);
    std::vector<int> middle = code_sample(s, during);
    results.insert(results.end(), middle.begin(), middle.end());
    s.set_crypto_mode(false);
    for (int step : {s.code(after.i), s.code(after.c), s.code(after.d), s.code(after.text)}) {
        results.push_back(step);
    }
    results.push_back(s.finish_message());
    return results;
}

Bytes encode_mixed(size_t window) {
    MemoryStream s;
    s.set_window_size(window);
    s.encode();
    Source a(1), b(2), c(3);
    for (int step : code_mixed_message(s, a.sample, b.sample, c.sample)) {
        EXPECT_EQ(step, 1) << "window " << window;
    }
    return s.bytes();
}
}  // namespace

// The values a reader with the given window decodes from the mixed message.
std::string decode_mixed(const Bytes &bytes, size_t window) {
    std::string what = "window " + std::to_string(window);
    MemoryStream in;
    in.set_window_size(window);
    in.load(bytes.data(), bytes.size());
    in.decode();
    Sample a, b, c;
    for (int step : code_mixed_message(in, a, b, c)) {
        EXPECT_EQ(step, 1) << what;
    }
    EXPECT_EQ(in.channel().available(), 0u) << what;
    // Spot checks against the sender's values; the rest is compared whole.
    EXPECT_EQ(a.l, Source(1).sample.l) << what;
    EXPECT_EQ(b.ull, Source(2).sample.ull) << what;
    EXPECT_STREQ(b.text, Source(2).sample.text) << what;
    EXPECT_EQ(c.i, Source(3).sample.i) << what;
    std::string values = describe(a) + "\n" + describe(b) + "\n" + describe(c);
    release(a);
    release(b);
    release(c);
    return values;
}

TEST(StreamWindow, EncryptionSwitchedOnAndOffMidMessage) {
    Bytes want = encode_mixed(0);
    std::string want_values = decode_mixed(want, 0);
    for (size_t window : {5u, 8u, 20u, 64u, 8192u}) {
        EXPECT_EQ(encode_mixed(window), want) << "window " << window;
        EXPECT_EQ(decode_mixed(want, window), want_values) << "window " << window;
    }
}

namespace {
KeyInfo mac_key() {
    unsigned char raw[16];
    for (int k = 0; k < 16; k++) {
        raw[k] = static_cast<unsigned char>(k * 7 + 1);
    }
    return KeyInfo(raw, 16, CIPHER_NONE);
}

// Three digested messages of two samples each; the digest starts after a
// first, undigested sample.
Bytes encode_digested(size_t window) {
    MemoryStream s;
    s.set_window_size(window);
    s.encode();
    KeyInfo key = mac_key();
    Source first(0);
    code_sample(s, first.sample);
    EXPECT_TRUE(s.set_MD_mode(MD_ALWAYS_ON, &key));
    for (int message = 0; message < 3; message++) {
        for (int n = 0; n < 2; n++) {
            Source source(message * 2 + n);
            code_sample(s, source.sample);
        }
        EXPECT_EQ(s.finish_message(), 1);
    }
    return s.bytes();
}

// The finish_message results of a reader with the given window.
std::vector<int> verify_digested(const Bytes &bytes, size_t window) {
    MemoryStream in;
    in.set_window_size(window);
    in.load(bytes.data(), bytes.size());
    in.decode();
    KeyInfo key = mac_key();
    Sample v;
    code_sample(in, v);
    release(v);
    in.set_MD_mode(MD_ALWAYS_ON, &key);
    std::vector<int> results;
    for (int message = 0; message < 3; message++) {
        for (int n = 0; n < 2; n++) {
            code_sample(in, v);
            release(v);
        }
        results.push_back(in.finish_message());
    }
    return results;
}
}  // namespace

TEST(StreamWindow, TheDigestCoversEveryByteWrittenOrReadThroughTheWindow) {
    Bytes want = encode_digested(0);
    ASSERT_EQ(verify_digested(want, 0), (std::vector<int>{1, 1, 1}));
    for (size_t window : {3u, 8u, 13u, 100u, 8192u}) {
        std::string what = "window " + std::to_string(window);
        EXPECT_EQ(encode_digested(window), want) << what;
        EXPECT_EQ(verify_digested(want, window), (std::vector<int>{1, 1, 1})) << what;
    }
    // A flipped byte inside the second message (an int read through the
    // window) fails that message only.
    size_t first_sample = encode_samples(Stream::portable, 0, 1).bytes.size();
    size_t message = encode_samples(Stream::portable, 0, 2).bytes.size() + 16;
    Bytes bad = want;
    bad[first_sample + message + 3] ^= 0x01;
    for (size_t window : {0u, 8u, 8192u}) {
        EXPECT_EQ(verify_digested(bad, window), (std::vector<int>{1, 0, 1})) << window;
    }
}

TEST(StreamWindow, AReaderWindowSurvivesTheWriterGrowingASharedChannel) {
    MemoryChannel channel;
    MemoryStream out(Stream::portable, &channel);
    MemoryStream in(Stream::portable, &channel);
    out.encode();
    in.decode();
    for (int n = 0; n < 4; n++) {
        ASSERT_EQ(out.put(n), 1);
    }
    ASSERT_EQ(out.finish_message(), 1);
    int value = -1;
    ASSERT_EQ(in.get(value), 1);  // lends a window over the other three
    EXPECT_EQ(value, 0);
    // Enough to move the channel's buffer.
    for (int n = 4; n < 20000; n++) {
        ASSERT_EQ(out.put(n), 1);
    }
    ASSERT_EQ(out.finish_message(), 1);
    for (int n = 1; n < 20000; n++) {
        ASSERT_EQ(in.get(value), 1);
        ASSERT_EQ(value, n);
    }
    EXPECT_EQ(in.channel().available(), 0u);
}
