// Tests of the broker's log in process: the burst limit per call site and
// its summary line, the size limit with one old generation, and lines that
// cannot be written (a log on /dev/full, a log whose directory is missing)
// dropped and counted, never ending the process. The clock is the test's.
#include "broker/broker_log.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <string>

#include "broker/broker_clock.h"
#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"

namespace {

time_t fake_seconds = 1000;

int read_fake_clock(clockid_t, timespec *now) {
    now->tv_sec = fake_seconds;
    now->tv_nsec = 0;
    return 0;
}

int CountOf(const std::string &text, const std::string &part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class BrokerLogTest : public testing::Test {
 protected:
    void SetUp() override {
        fake_seconds = 1000;
        nbx_broker::broker_clock_read = read_fake_clock;
    }
    void TearDown() override {
        nbx_broker::broker_log_close();
        nbx_broker::broker_clock_read = clock_gettime;
    }
    torvel_test::TempDir dir_;
};

void Garbage(int i) {
    nbx_broker::broker_log("dropping connection %d: garbage received\n", i);
}

TEST_F(BrokerLogTest, RepeatedLinesAreSummarisedOncePerInterval) {
    std::string path = dir_.Path("broker.log");
    ASSERT_EQ(0, nbx_broker::broker_log_open(path.c_str(), 0, 60));
    for (int i = 0; i < 1000; ++i) Garbage(i);
    nbx_broker::broker_log("another call site\n");
    std::string log = torvel_test::ReadFile(path);
    EXPECT_EQ(nbx_broker::kLogBurst, CountOf(log, "garbage received\n"));
    EXPECT_EQ(1, CountOf(log, "another call site\n"));
    EXPECT_EQ(0, CountOf(log, "more lines like"));
    fake_seconds += 59;
    nbx_broker::broker_log_tick();
    EXPECT_EQ(0, CountOf(torvel_test::ReadFile(path), "more lines like"));
    fake_seconds += 1;
    nbx_broker::broker_log_tick();
    log = torvel_test::ReadFile(path);
    EXPECT_EQ(1, CountOf(log,
                         " 980 more lines like \"dropping connection %d: garbage received\" "
                         "in the last 60 s\n"))
        << log;
    // A new interval starts with a new burst.
    for (int i = 0; i < 3; ++i) Garbage(i);
    EXPECT_EQ(nbx_broker::kLogBurst + 3,
              CountOf(torvel_test::ReadFile(path), "garbage received\n"));
    // Every line is one whole line with the time in front.
    EXPECT_EQ('\n', log.back());
    EXPECT_NE(std::string::npos, log.find("/")) << log;
}

TEST_F(BrokerLogTest, FullLogMovesToOldAndTheFilesStayWithinTheLimit) {
    std::string path = dir_.Path("broker.log");
    const long kLimit = 4096;
    ASSERT_EQ(0, nbx_broker::broker_log_open(path.c_str(), kLimit, 1));
    for (int i = 0; i < 5000; ++i) {
        fake_seconds += 1;  // a new interval each time: nothing is held back
        nbx_broker::broker_log("line %d of a long run\n", i);
    }
    std::string current = torvel_test::ReadFile(path);
    std::string old = torvel_test::ReadFile(path + ".old");
    EXPECT_LE(static_cast<long>(current.size()), kLimit);
    EXPECT_LE(static_cast<long>(old.size()), kLimit);
    EXPECT_GT(old.size(), static_cast<size_t>(kLimit / 2));
    EXPECT_NE(std::string::npos, current.find("line 4999 of a long run\n"));
    EXPECT_EQ(0L, nbx_broker::broker_log_lost());
}

TEST_F(BrokerLogTest, UnwritableLinesAreCountedAndReportedOnceWritingWorks) {
    ASSERT_EQ(0, nbx_broker::broker_log_open("/dev/full", 0, 60));
    nbx_broker::broker_log("first\n");
    nbx_broker::broker_log("second\n");
    EXPECT_EQ(2L, nbx_broker::broker_log_lost());

    // A directory that does not exist yet: the log is retried at each line.
    std::string path = dir_.Path("later/broker.log");
    errno = 0;
    EXPECT_EQ(-1, nbx_broker::broker_log_open(path.c_str(), 0, 60));
    EXPECT_EQ(ENOENT, errno);
    nbx_broker::broker_log("lost one\n");
    nbx_broker::broker_log("lost two\n");
    EXPECT_EQ(2L, nbx_broker::broker_log_lost());
    ASSERT_EQ(0, mkdir(dir_.Path("later").c_str(), 0755));
    nbx_broker::broker_log("written\n");
    std::string log = torvel_test::ReadFile(path);
    EXPECT_NE(std::string::npos,
              log.find("2 log lines could not be written (No such file or directory)\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("written\n"));
    EXPECT_EQ(std::string::npos, log.find("lost one"));
}

}  // namespace
