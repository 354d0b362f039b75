// Helpers shared by the stream tests: encode into bytes, decode from bytes.
#ifndef TORVEL_TESTS_STREAM_STREAM_TEST_UTIL_H_
#define TORVEL_TESTS_STREAM_STREAM_TEST_UTIL_H_

#include <memory>
#include <vector>

#include "tests/stream/memory_stream.h"

using Bytes = std::vector<unsigned char>;

// The bytes that f writes to a fresh encoding stream of the given form.
template <typename F>
Bytes encoded(Stream::stream_code form, F f) {
    MemoryStream stream(form);
    stream.encode();
    f(stream);
    return stream.bytes();
}

template <typename F>
Bytes encoded(F f) {
    return encoded(Stream::portable, f);
}

// A decoding stream over the given bytes.
inline std::unique_ptr<MemoryStream> reader(const Bytes &bytes,
                                            Stream::stream_code form = Stream::portable) {
    std::unique_ptr<MemoryStream> stream(new MemoryStream(form));
    stream->load(bytes.data(), bytes.size());
    stream->decode();
    return stream;
}

inline Bytes be_int64(long long value) {
    Bytes out(8);
    unsigned long long v = static_cast<unsigned long long>(value);
    for (int i = 7; i >= 0; i--) {
        out[i] = static_cast<unsigned char>(v & 0xff);
        v >>= 8;
    }
    return out;
}

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

#endif  // TORVEL_TESTS_STREAM_STREAM_TEST_UTIL_H_
