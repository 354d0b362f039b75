// Stream: wire forms of characters and numbers, their round trips, the
// refusal of malformed input, the unsupported forms and direction errors.
#include <float.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <string.h>

#include "tests/stream/stream_test_util.h"
#include "tests/support/capture.h"

// The one-empty-message flag is only kept for the concrete stream: clear
// on a new stream, set by allow_one_empty_message.
TEST(StreamState, OneEmptyMessageFlagIsSetOnRequest) {
    MemoryStream stream;
    EXPECT_EQ(stream.one_empty_message_allowed(), 0);
    stream.allow_one_empty_message();
    EXPECT_EQ(stream.one_empty_message_allowed(), 1);
}

TEST(PortableInt, MinusOneIsEightFfAndOneIsSevenZerosThenOne) {
    EXPECT_EQ(encoded([](Stream &s) { s.put(-1); }), Bytes(8, 0xff));
    EXPECT_EQ(encoded([](Stream &s) { s.put(1); }), be_int64(1));
    EXPECT_EQ(encoded([](Stream &s) { s.put(INT_MIN); }), be_int64(INT_MIN));
    EXPECT_EQ(encoded([](Stream &s) { s.put(0x12345678); }),
              (Bytes{0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78}));
}

TEST(PortableInt, ReadsTheSignExtendedForm) {
    int value = 0;
    EXPECT_EQ(reader(Bytes(8, 0xff))->get(value), 1);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(reader(be_int64(INT_MAX))->get(value), 1);
    EXPECT_EQ(value, INT_MAX);
    EXPECT_EQ(reader(be_int64(INT_MIN))->get(value), 1);
    EXPECT_EQ(value, INT_MIN);
}

TEST(PortableInt, WrongPaddingIsRefusedAndNamesTheByte) {
    DebugCapture capture(D_NETWORK);
    int value = 42;
    EXPECT_EQ(reader(Bytes{0, 0, 0, 1, 0, 0, 0, 0})->get(value), 0);
    EXPECT_EQ(value, 42);
    EXPECT_NE(capture.text().find("Stream::get(int) incorrect pad received: 1\n"),
              std::string::npos);
    // A negative value with zero padding, a positive one with 0xFF padding.
    EXPECT_EQ(reader(Bytes{0, 0, 0, 0, 0x80, 0, 0, 0})->get(value), 0);
    EXPECT_EQ(reader(Bytes{0xff, 0xff, 0xff, 0xff, 0, 0, 0, 5})->get(value), 0);
    EXPECT_NE(capture.text().find("incorrect pad received: ff\n"), std::string::npos);
    // A long too wide for an int.
    Bytes wide = encoded([](Stream &s) { s.put(0x100000000L); });
    EXPECT_EQ(reader(wide)->get(value), 0);
    EXPECT_EQ(value, 42);
}

TEST(PortableInt, TruncatedInputFailsWithTheStepThatFailed) {
    DebugCapture capture(D_NETWORK);
    int value = 7;
    EXPECT_EQ(reader(Bytes{0, 0})->get(value), 0);
    EXPECT_NE(capture.text().find("Stream::get(int) failed to read padding\n"), std::string::npos);
    EXPECT_EQ(reader(Bytes{0, 0, 0, 0, 1})->get(value), 0);
    EXPECT_NE(capture.text().find("Stream::get(int) failed to read int\n"), std::string::npos);
    EXPECT_EQ(value, 7);
    unsigned int u = 7;
    EXPECT_EQ(reader(Bytes{0, 0, 0})->get(u), 0);
    EXPECT_NE(capture.text().find("Stream::get(uint) failed to read padding\n"), std::string::npos);
    char c;
    EXPECT_EQ(reader(Bytes{})->get(c), 0);
    EXPECT_NE(capture.text().find("Stream::get(char) failed\n"), std::string::npos);
    unsigned char uc;
    EXPECT_EQ(reader(Bytes{})->get(uc), 0);
    EXPECT_NE(capture.text().find("Stream::get(uchar) failed\n"), std::string::npos);
    EXPECT_EQ(reader(Bytes{1, 2, 3}, Stream::internal)->get(value), 0);
    EXPECT_NE(capture.text().find("Stream::get(int) from internal failed\n"), std::string::npos);
}

TEST(PortableUnsigned, PaddingMustBeZero) {
    DebugCapture capture(D_NETWORK);
    unsigned int value = 0;
    EXPECT_EQ(reader(Bytes{0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff})->get(value), 1);
    EXPECT_EQ(value, 4294967295u);
    EXPECT_EQ(encoded([](Stream &s) { s.put(4294967295u); }),
              (Bytes{0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(reader(Bytes(8, 0xff))->get(value), 0);
    EXPECT_NE(capture.text().find("Stream::get(uint) incorrect pad received: ff\n"),
              std::string::npos);
}

TEST(WideIntegers, PortableIsBigEndianInternalIsNative) {
    const long value = 0x0102030405060708L;
    EXPECT_EQ(encoded([&](Stream &s) { s.put(value); }), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(encoded(Stream::internal, [&](Stream &s) { s.put(value); }),
              (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(encoded([](Stream &s) { s.put(-2LL); }), be_int64(-2));
    EXPECT_EQ(encoded([](Stream &s) { s.put(ULLONG_MAX); }), Bytes(8, 0xff));
}

TEST(WideIntegers, TruncatedInputFails) {
    DebugCapture capture(D_NETWORK);
    long l = 3;
    EXPECT_EQ(reader(Bytes{1, 2, 3, 4, 5, 6, 7})->get(l), 0);
    EXPECT_EQ(l, 3);
    EXPECT_NE(capture.text().find("Stream::get(long) failed\n"), std::string::npos);
    unsigned long long ull = 3;
    EXPECT_EQ(reader(Bytes{1})->get(ull), 0);
    EXPECT_NE(capture.text().find("Stream::get(ulong long) failed\n"), std::string::npos);
}

TEST(PortableShort, TravelsAsAnInt) {
    EXPECT_EQ(encoded([](Stream &s) { s.put(static_cast<short>(-5)); }), be_int64(-5));
    EXPECT_EQ(encoded([](Stream &s) { s.put(static_cast<unsigned short>(65535)); }),
              be_int64(65535));
    EXPECT_EQ(encoded(Stream::internal, [](Stream &s) { s.put(static_cast<short>(0x0102)); }),
              (Bytes{2, 1}));
    short s = 0;
    EXPECT_EQ(reader(be_int64(-300))->get(s), 1);
    EXPECT_EQ(s, -300);
}

namespace {
void expect_double_ints(double value, int fraction, int exponent) {
    EXPECT_EQ(encoded([&](Stream &s) { s.put(value); }),
              join({be_int64(fraction), be_int64(exponent)}))
        << value;
}

double double_round_trip(double value) {
    Bytes bytes = encoded([&](Stream &s) { s.put(value); });
    double out = -12345.0;
    EXPECT_EQ(reader(bytes)->get(out), 1);
    return out;
}
}  // namespace

TEST(PortableDouble, OneAndZeroAreTheSpecifiedInts) {
    expect_double_ints(1.0, 1073741823, 1);
    expect_double_ints(0.0, 0, 0);
    expect_double_ints(-1.0, -1073741823, 1);
    double out = 0;
    EXPECT_EQ(reader(join({be_int64(1073741823), be_int64(1)}))->get(out), 1);
    EXPECT_NEAR(out, 1.0, 1e-9);
}

TEST(PortableDouble, RebuildsWithinOnePartIn2To31) {
    for (double value : {1.0, -1.0, 0.1, 3.141592653589793, -2.5e-300, 6.02e23, DBL_MAX, DBL_MIN,
                         4.9e-324, 123456789.0, -0.75}) {
        double out = double_round_trip(value);
        EXPECT_LE(fabs(out - value), fabs(value) * 1.0 / 2147483648.0 + 1e-320) << value;
    }
}

TEST(PortableDouble, NanAndInfinityHaveDefinedForms) {
    expect_double_ints(INFINITY, INT_MAX, INT_MAX);
    expect_double_ints(-INFINITY, -INT_MAX, INT_MAX);
    expect_double_ints(NAN, 0, INT_MAX);
    EXPECT_TRUE(isnan(double_round_trip(NAN)));
    EXPECT_EQ(double_round_trip(INFINITY), INFINITY);
    EXPECT_EQ(double_round_trip(-INFINITY), -INFINITY);
}

TEST(PortableDouble, AnyPairOfIntsDecodesToSomeDouble) {
    for (int fraction : {INT_MIN, -1, 0, 1, INT_MAX}) {
        for (int exponent : {INT_MIN, -1100, 0, 1100, INT_MAX}) {
            double out = 0;
            EXPECT_EQ(reader(join({be_int64(fraction), be_int64(exponent)}))->get(out), 1);
        }
    }
}

TEST(PortableFloat, TravelsAsADoubleAndNarrowsSafely) {
    EXPECT_EQ(encoded([](Stream &s) { s.put(1.0f); }), encoded([](Stream &s) { s.put(1.0); }));
    float f = 0;
    Bytes big = encoded([](Stream &s) { s.put(1e300); });
    EXPECT_EQ(reader(big)->get(f), 1);
    EXPECT_EQ(f, INFINITY);
    Bytes small = encoded([](Stream &s) { s.put(-1e300); });
    EXPECT_EQ(reader(small)->get(f), 1);
    EXPECT_EQ(f, -INFINITY);
    Bytes third = encoded([](Stream &s) { s.put(0.333f); });
    EXPECT_EQ(reader(third)->get(f), 1);
    EXPECT_NEAR(f, 0.333f, 1e-7);
}

namespace {
// Writes one of each value, reads them back and compares.
void round_trip_every_type(Stream::stream_code form) {
    char c = 'x';
    unsigned char uc = 0xfe;
    int i = -123456;
    unsigned int ui = 4000000000u;
    long l = -0x123456789abcL;
    unsigned long ul = 0xfedcba9876543210UL;
    long long ll = LLONG_MIN;
    unsigned long long ull = ULLONG_MAX - 1;
    short sh = -32768;
    unsigned short ush = 65535;
    float f = -2.5f;
    double d = 1.0 / 3.0;
    Bytes bytes = encoded(form, [&](Stream &s) {
        ASSERT_TRUE(s.code(c) && s.code(uc) && s.code(i) && s.code(ui) && s.code(l) && s.code(ul) &&
                    s.code(ll) && s.code(ull) && s.code(sh) && s.code(ush) && s.code(f) &&
                    s.code(d));
    });
    auto in = reader(bytes, form);
    char c2 = 0;
    unsigned char uc2 = 0;
    int i2 = 0;
    unsigned int ui2 = 0;
    long l2 = 0;
    unsigned long ul2 = 0;
    long long ll2 = 0;
    unsigned long long ull2 = 0;
    short sh2 = 0;
    unsigned short ush2 = 0;
    float f2 = 0;
    double d2 = 0;
    ASSERT_TRUE(in->code(c2) && in->code(uc2) && in->code(i2) && in->code(ui2) && in->code(l2) &&
                in->code(ul2) && in->code(ll2) && in->code(ull2) && in->code(sh2) &&
                in->code(ush2) && in->code(f2) && in->code(d2));
    EXPECT_EQ(c2, c);
    EXPECT_EQ(uc2, uc);
    EXPECT_EQ(i2, i);
    EXPECT_EQ(ui2, ui);
    EXPECT_EQ(l2, l);
    EXPECT_EQ(ul2, ul);
    EXPECT_EQ(ll2, ll);
    EXPECT_EQ(ull2, ull);
    EXPECT_EQ(sh2, sh);
    EXPECT_EQ(ush2, ush);
    EXPECT_EQ(f2, f);
    EXPECT_NEAR(d2, d, 1e-9);
    EXPECT_EQ(in->channel().available(), 0u);
}
}  // namespace

TEST(RoundTrip, EveryBasicTypePortable) {
    round_trip_every_type(Stream::portable);
}

TEST(RoundTrip, EveryBasicTypeInternal) {
    round_trip_every_type(Stream::internal);
}

TEST(InternalForm, UsesNativeSizes) {
    Bytes bytes = encoded(Stream::internal, [](Stream &s) {
        s.put(1);
        s.put(static_cast<short>(1));
        s.put(1.0f);
        s.put(1.0);
        s.put(1L);
        s.put('a');
    });
    EXPECT_EQ(bytes.size(), 4u + 2 + 4 + 8 + 8 + 1);
}

TEST(TextForm, NumbersAndStringsFailCharsAndBytesPass) {
    MemoryStream s(Stream::text);
    s.encode();
    int i = 1;
    char c = 'q';
    double d = 1;
    short sh = 1;
    long l = 1;
    float f = 1;
    char *str = const_cast<char *>("ab");
    EXPECT_EQ(s.code(i), 0);
    EXPECT_EQ(s.code(d), 0);
    EXPECT_EQ(s.code(sh), 0);
    EXPECT_EQ(s.code(l), 0);
    EXPECT_EQ(s.code(f), 0);
    EXPECT_EQ(s.code(str), 0);
    EXPECT_EQ(s.code(c), 1);
    char raw[2] = {'r', 's'};
    EXPECT_TRUE(s.code_bytes_bool(raw, 2));
    EXPECT_EQ(s.bytes(), (Bytes{'q', 'r', 's'}));
    auto in = reader(s.bytes(), Stream::text);
    char got = 0;
    EXPECT_EQ(in->code(got), 1);
    EXPECT_EQ(got, 'q');
    EXPECT_EQ(in->code(i), 0);
}

TEST(UnknownForm, TypedValuesSucceedWithoutBytesRawBytesTravel) {
    auto form = static_cast<Stream::stream_code>(7);
    MemoryStream s(form);
    s.encode();
    int i = 5;
    double d = 2;
    char *str = const_cast<char *>("ab");
    char c = 'c';
    EXPECT_EQ(s.code(i), 1);
    EXPECT_EQ(s.code(d), 1);
    EXPECT_EQ(s.code(str), 1);
    EXPECT_EQ(s.code(c), 1);
    EXPECT_TRUE(s.bytes().empty());
    char raw[1] = {'z'};
    EXPECT_EQ(s.code_bytes(raw, 1), 1);
    EXPECT_EQ(s.bytes(), Bytes{'z'});
    auto in = reader(Bytes{9, 9}, form);
    int got = 77;
    EXPECT_EQ(in->code(got), 1);
    EXPECT_EQ(got, 77);
    EXPECT_EQ(in->channel().available(), 2u);
}

TEST(RawBytes, CountAndShortReads) {
    auto in = reader(Bytes{1, 2, 3});
    unsigned char buf[8] = {0};
    EXPECT_FALSE(in->code_bytes_bool(buf, 5));  // only 3 arrive
    auto again = reader(Bytes{1, 2, 3});
    EXPECT_EQ(again->code_bytes(buf, 2), 2);
    EXPECT_TRUE(again->code_bytes_bool(buf, 1));
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(again->code_bytes(buf, -1), -1);
    EXPECT_FALSE(again->code_bytes_bool(buf, -1));
    EXPECT_TRUE(again->code_bytes_bool(buf, 0));
    void *nothing = nullptr;
    EXPECT_EQ(again->code(nothing), 1);
}

TEST(Direction, UnknownDirectionIsFatal) {
    MemoryStream s;
    s.set_direction(UNKNOWN_DIRECTION);
    int i = 0;
    EXPECT_EXIT(s.code(i), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(int &i\\) has unknown direction!");
    char *str = nullptr;
    EXPECT_EXIT(s.code(str), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(char \\*&s\\) has unknown direction!");
    unsigned long long ull = 0;
    EXPECT_EXIT(s.code(ull), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(unsigned long long &l\\) has unknown direction!");
    PROC_ID id{};
    EXPECT_EXIT(s.code(id), testing::ExitedWithCode(4), "code\\(int &i\\) has unknown direction");
}

TEST(Direction, IllegalDirectionIsFatal) {
    MemoryStream s;
    s.set_direction(static_cast<stream_coding>(5));
    double d = 0;
    EXPECT_EXIT(s.code(d), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(double &d\\)'s _coding is illegal!");
    char raw[1];
    EXPECT_EXIT(s.code_bytes(raw, 1), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(void \\*p, int l\\)'s _coding is illegal!");
    char *str = nullptr;
    int len = 0;
    EXPECT_EXIT(s.code(str, len), testing::ExitedWithCode(4),
                "ERROR: Stream::code\\(char \\*&s, int &len\\)'s _coding is illegal!");
}

TEST(Counters, IntPutsAndGetsCountFourBytesAndClearTheOther) {
    MemoryStream s;
    s.encode();
    putcount = 0;
    getcount = 9;
    s.put(1);
    s.put(2u);
    EXPECT_EQ(putcount, 8);
    EXPECT_EQ(getcount, 0);
    s.decode();
    int i;
    unsigned int u;
    ASSERT_EQ(s.get(i), 1);
    EXPECT_EQ(getcount, 4);
    EXPECT_EQ(putcount, 0);
    ASSERT_EQ(s.get(u), 1);
    EXPECT_EQ(getcount, 8);
    s.put('c');
    EXPECT_EQ(getcount, 0);
    putcount = 3;
    char c;
    s.get(c);
    EXPECT_EQ(putcount, 0);
}

TEST(OneIntMessages, SendAndReceive) {
    MemoryStream s;
    EXPECT_EQ(s.snd_int(99, 1), 1);
    EXPECT_EQ(s.snd_int(-4, 0), 1);
    int a = 0;
    int b = 0;
    EXPECT_EQ(s.rcv_int(a, 1), 1);
    EXPECT_EQ(s.rcv_int(b, 0), 1);
    EXPECT_EQ(a, 99);
    EXPECT_EQ(b, -4);
    EXPECT_EQ(s.rcv_int(b, 0), 0);  // nothing left
}

TEST(FailingTransport, PutReportsTheFailure) {
    MemoryStream s;
    s.fail_writes_after(4);
    EXPECT_EQ(s.put(1), 0);
    MemoryStream t;
    t.fail_writes_after(8);
    EXPECT_EQ(t.put(1.5), 0);  // the second int does not fit
    EXPECT_EQ(t.put('c'), 0);
}
