// Stream: composite records, translated values and arrays, their wire order
// and round trips, and arrays whose count does not fit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tests/stream/stream_test_util.h"
#include "tests/support/capture.h"

namespace {
// Encodes value, decodes into out, and checks nothing is left over.
template <typename T>
void round_trip(T &value, T &out) {
    Bytes bytes = encoded([&](Stream &s) { ASSERT_EQ(s.code(value), 1); });
    auto in = reader(bytes);
    ASSERT_EQ(in->code(out), 1);
    EXPECT_EQ(in->channel().available(), 0u);
}
}  // namespace

TEST(Records, ProcIdAndPortsAreTwoInts) {
    PROC_ID id{12, 3};
    EXPECT_EQ(encoded([&](Stream &s) { s.code(id); }), join({be_int64(12), be_int64(3)}));
    PORTS ports{9614, -1};
    PORTS out{};
    round_trip(ports, out);
    EXPECT_EQ(out.port_first, 9614);
    EXPECT_EQ(out.port_second, -1);
}

TEST(Records, StartdRecShortFormWhenTheMarkerIsNotNegative) {
    StartdRec rec{};
    auto in = reader(join({be_int64(7), be_int64(8)}));
    ASSERT_EQ(in->code(rec), 1);
    EXPECT_EQ(rec.marker, 7);
    EXPECT_EQ(rec.ports.port_first, 7);
    EXPECT_EQ(rec.ports.port_second, 8);
    EXPECT_EQ(rec.server, nullptr);
    StartdRec send{7, {7, 8}, 0, nullptr};
    EXPECT_EQ(encoded([&](Stream &s) { s.code(send); }), join({be_int64(7), be_int64(8)}));
}

TEST(Records, StartdRecLongFormCarriesAddressAndServer) {
    char server[] = "startd@host";
    StartdRec rec{-1, {100, 200}, 0x7f000001, server};
    StartdRec out{};
    round_trip(rec, out);
    EXPECT_EQ(out.marker, -1);
    EXPECT_EQ(out.ports.port_first, 100);
    EXPECT_EQ(out.ports.port_second, 200);
    EXPECT_EQ(out.address, 0x7f000001);
    ASSERT_NE(out.server, nullptr);
    EXPECT_STREQ(out.server, "startd@host");
    free(out.server);
}

TEST(Records, StartupInfoRoundTripsWithItsSignalTranslated) {
    char cmd[] = "/bin/job";
    char args[] = "a b";
    char iwd[] = "/tmp";
    STARTUP_INFO info{1,   2,    3,       4,   500, 600, 7, static_cast<torvel_signal_t>(SIGUSR1),
                      cmd, args, nullptr, iwd, 1,   0,   1, 4096};
    Bytes bytes = encoded([&](Stream &s) { ASSERT_EQ(s.code(info), 1); });
    // The signal is the eighth value: seven ints of 8 bytes come first.
    EXPECT_EQ(Bytes(bytes.begin() + 56, bytes.begin() + 64), be_int64(30));
    STARTUP_INFO out{};
    auto in = reader(bytes);
    ASSERT_EQ(in->code(out), 1);
    EXPECT_EQ(out.version_num, 1);
    EXPECT_EQ(out.job_class, 4);
    EXPECT_EQ(out.uid, 500u);
    EXPECT_EQ(out.gid, 600u);
    EXPECT_EQ(out.soft_kill_sig, SIGUSR1);
    EXPECT_STREQ(out.cmd, "/bin/job");
    EXPECT_STREQ(out.args, "a b");
    EXPECT_EQ(out.env, nullptr);
    EXPECT_STREQ(out.iwd, "/tmp");
    EXPECT_EQ(out.coredump_limit, 4096);
    free(out.cmd);
    free(out.args);
    free(out.iwd);
}

TEST(Records, RecordStopsAtTheFirstFailingField) {
    StartdRec rec{};
    auto in = reader(join({be_int64(-1), be_int64(5)}));
    EXPECT_EQ(in->code(rec), 0);
    EXPECT_EQ(rec.ports.port_first, 5);
}

TEST(Translated, OpenFlagsTravelAsPortableNumbers) {
    auto flags = static_cast<open_flags_t>(O_WRONLY | O_CREAT | O_TRUNC);
    EXPECT_EQ(encoded([&](Stream &s) { s.code(flags); }), be_int64(0x301));
    open_flags_t out{};
    auto in = reader(be_int64(0x301));
    ASSERT_EQ(in->code(out), 1);
    EXPECT_EQ(out, O_WRONLY | O_CREAT | O_TRUNC);
}

TEST(Translated, SignalsErrnoAndFcntl) {
    auto sig = static_cast<torvel_signal_t>(SIGCHLD);
    EXPECT_EQ(encoded([&](Stream &s) { s.code(sig); }), be_int64(20));
    auto err = static_cast<torvel_errno_t>(EILSEQ);
    EXPECT_EQ(encoded([&](Stream &s) { s.code(err); }), be_int64(42));
    torvel_errno_t err_out{};
    round_trip(err, err_out);
    EXPECT_EQ(err_out, EILSEQ);
    auto cmd = static_cast<fcntl_cmd_t>(F_SETLKW);
    fcntl_cmd_t cmd_out{};
    round_trip(cmd, cmd_out);
    EXPECT_EQ(cmd_out, F_SETLKW);
}

TEST(Translated, OnlyPermissionBitsOfAModeTravel) {
    auto mode = static_cast<torvel_mode_t>(S_IFREG | S_ISUID | 0754);
    EXPECT_EQ(encoded([&](Stream &s) { s.code(mode); }), be_int64(0754));
    torvel_mode_t out{};
    auto in = reader(be_int64(0xfff));
    ASSERT_EQ(in->code(out), 1);
    EXPECT_EQ(out, 0777u);
}

TEST(SystemRecords, TimevalTimezoneUtimbuf) {
    struct timeval tv = {1700000000, 999999};
    struct timeval tv_out = {};
    EXPECT_EQ(encoded([&](Stream &s) { s.code(tv); }),
              join({be_int64(1700000000), be_int64(999999)}));
    round_trip(tv, tv_out);
    EXPECT_EQ(tv_out.tv_usec, 999999);
    struct timezone tz = {-60, 1};
    struct timezone tz_out = {};
    round_trip(tz, tz_out);
    EXPECT_EQ(tz_out.tz_minuteswest, -60);
    EXPECT_EQ(tz_out.tz_dsttime, 1);
    struct utimbuf ut = {11, 22};
    struct utimbuf ut_out = {};
    round_trip(ut, ut_out);
    EXPECT_EQ(ut_out.actime, 11);
    EXPECT_EQ(ut_out.modtime, 22);
}

TEST(SystemRecords, RusageIsTwoTimevalsAndFourteenLongs) {
    struct rusage r;
    memset(&r, 0, sizeof(r));
    r.ru_utime.tv_sec = 5;
    r.ru_stime.tv_usec = 6;
    r.ru_maxrss = 1;
    r.ru_nivcsw = 14;
    Bytes bytes = encoded([&](Stream &s) { s.code(r); });
    EXPECT_EQ(bytes.size(), 18u * 8);
    EXPECT_EQ(Bytes(bytes.end() - 8, bytes.end()), be_int64(14));
    struct rusage out;
    memset(&out, 0xff, sizeof(out));
    round_trip(r, out);
    EXPECT_EQ(out.ru_utime.tv_sec, 5);
    EXPECT_EQ(out.ru_stime.tv_usec, 6);
    EXPECT_EQ(out.ru_maxrss, 1);
    EXPECT_EQ(out.ru_ixrss, 0);
    EXPECT_EQ(out.ru_nivcsw, 14);
}

TEST(SystemRecords, StatCarriesThirteenFields) {
    struct stat st;
    ASSERT_EQ(stat("/", &st), 0);
    Bytes bytes = encoded([&](Stream &s) { s.code(st); });
    EXPECT_EQ(bytes.size(), 13u * 8);
    struct stat out;
    memset(&out, 0, sizeof(out));
    round_trip(st, out);
    EXPECT_EQ(out.st_dev, st.st_dev);
    EXPECT_EQ(out.st_ino, st.st_ino);
    EXPECT_EQ(out.st_mode, st.st_mode);
    EXPECT_EQ(out.st_size, st.st_size);
    EXPECT_EQ(out.st_mtime, st.st_mtime);
    EXPECT_EQ(out.st_blocks, st.st_blocks);
}

TEST(SystemRecords, StatfsClearsTheRecordBeforeDecoding) {
    struct statfs st;
    memset(&st, 0, sizeof(st));
    st.f_bsize = 4096;
    st.f_blocks = 100;
    st.f_bavail = 7;
    st.f_type = 0x1234;
    Bytes bytes = encoded([&](Stream &s) { s.code(st); });
    EXPECT_EQ(bytes.size(), 6u * 8);
    struct statfs out;
    memset(&out, 0x5a, sizeof(out));
    round_trip(st, out);
    EXPECT_EQ(out.f_bsize, 4096);
    EXPECT_EQ(out.f_blocks, 100u);
    EXPECT_EQ(out.f_bavail, 7u);
    EXPECT_EQ(out.f_type, 0);  // does not travel, cleared
}

TEST(SystemRecords, UnlimitedRlimitArrivesAs2147483647) {
    struct rlimit rl = {RLIM_INFINITY, 0x80000000UL};
    struct rlimit out = {};
    round_trip(rl, out);
    EXPECT_EQ(out.rlim_cur, 2147483647u);
    EXPECT_EQ(out.rlim_max, 2147483647u);
    struct rlimit small = {1024, 0x7fffffff};
    round_trip(small, out);
    EXPECT_EQ(out.rlim_cur, 1024u);
    EXPECT_EQ(out.rlim_max, 0x7fffffffu);
}

TEST(SystemRecords, UtsnameIsFiveFieldsOf65Bytes) {
    struct utsname un;
    ASSERT_EQ(uname(&un), 0);
    Bytes bytes = encoded([&](Stream &s) { s.code(un); });
    EXPECT_EQ(bytes.size(), 5u * 65);
    struct utsname out;
    memset(&out, 'x', sizeof(out));
    round_trip(un, out);
    EXPECT_STREQ(out.sysname, un.sysname);
    EXPECT_STREQ(out.machine, un.machine);
    EXPECT_STREQ(out.domainname, "");
}

TEST(SystemRecords, UnterminatedUtsnameFieldsAreTerminated) {
    auto in = reader(Bytes(5 * 65, 'A'));
    struct utsname out;
    memset(&out, 0, sizeof(out));
    ASSERT_EQ(in->code(out), 1);
    EXPECT_EQ(strlen(out.sysname), 64u);
    EXPECT_EQ(strlen(out.machine), 64u);
    EXPECT_EQ(reader(Bytes(100, 'A'))->code(out), 0);
}

TEST(Arrays, RoundTripIntoANewArray) {
    unsigned int values[] = {1, 2, 0xffffffffu};
    unsigned int *array = values;
    int count = 3;
    Bytes bytes = encoded([&](Stream &s) { ASSERT_EQ(s.code_array(array, count), 1); });
    EXPECT_EQ(bytes.size(), 4u * 8);
    unsigned int *out = nullptr;
    int out_count = 0;
    auto in = reader(bytes);
    ASSERT_EQ(in->code_array(out, out_count), 1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out_count, 3);
    EXPECT_EQ(out[2], 0xffffffffu);
    delete[] out;
}

TEST(Arrays, EmptyAndNegativeCountsEndAtTheCount) {
    unsigned int *array = nullptr;
    int count = 0;
    EXPECT_EQ(encoded([&](Stream &s) { ASSERT_EQ(s.code_array(array, count), 1); }), be_int64(0));
    int out_count = 5;
    ASSERT_EQ(reader(be_int64(-2))->code_array(array, out_count), 1);
    EXPECT_EQ(out_count, -2);
    EXPECT_EQ(array, nullptr);
}

TEST(Arrays, PositiveCountWithoutArrayCannotBeSent) {
    MemoryStream s;
    unsigned int *array = nullptr;
    int count = 2;
    EXPECT_EQ(s.code_array(array, count), 0);
    EXPECT_TRUE(s.bytes().empty());
}

TEST(Arrays, CountLargerThanTheDestinationFails) {
    DebugCapture capture(D_NETWORK);
    unsigned int room[2] = {7, 7};
    unsigned int *array = room;
    int count = 2;
    auto in = reader(join({be_int64(3), be_int64(1), be_int64(2), be_int64(3)}));
    EXPECT_EQ(in->code_array(array, count), 0);
    EXPECT_EQ(room[0], 7u);
    EXPECT_EQ(count, 2);
    EXPECT_NE(capture.text().find("received 3 elements for room of 2"), std::string::npos);
}

TEST(Arrays, HugeCountIsRefusedBeforeAllocating) {
    DebugCapture capture(D_NETWORK);
    unsigned int *array = nullptr;
    int count = 0;
    EXPECT_EQ(reader(be_int64(Stream::max_array_count + 1))->code_array(array, count), 0);
    EXPECT_EQ(array, nullptr);
    EXPECT_NE(capture.text().find("refused a count"), std::string::npos);
}

TEST(Arrays, TruncatedElementsFreeTheNewArray) {
    unsigned int *array = nullptr;
    int count = 0;
    EXPECT_EQ(reader(join({be_int64(3), be_int64(1)}))->code_array(array, count), 0);
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(count, 0);
}
