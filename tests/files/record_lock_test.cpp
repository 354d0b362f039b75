// Tests of flock on record locks: whole-file locks seen by fcntl, shared
// and exclusive locks contended by a second process, waiting without
// LOCK_NB, and the refusal of an operation with no lock type.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "files/path_helpers.h"
#include "tests/files/files_test_support.h"

namespace {

class RecordLockTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.root().empty());
        path_ = tree_.Path("lock");
        ASSERT_TRUE(WriteFile(path_, "lock file"));
        fd_ = open(path_.c_str(), O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    // In a second process: flock(op) on its own descriptor of the file.
    // "" when the result was want_result (and errno a refusal when -1).
    std::string TryInOtherProcess(int op, int want_result) {
        std::string path = path_;
        return InChild([path, op, want_result]() -> std::string {
            int fd = open(path.c_str(), O_RDWR);
            CHILD_CHECK(fd >= 0);
            errno = 0;
            int result = flock(fd, op);
            int saved = errno;
            CHILD_CHECK(result == want_result);
            if (want_result == -1) {
                CHILD_CHECK(saved == EAGAIN || saved == EACCES);
            }
            return "";
        });
    }

    ScratchTree tree_;
    std::string path_;
    int fd_ = -1;
};

TEST_F(RecordLockTest, ExclusiveLockIsAWholeFileRecordLock) {
    ASSERT_EQ(flock(fd_, LOCK_EX), 0);
    pid_t me = getpid();
    std::string path = path_;
    std::string result = InChild([path, me]() -> std::string {
        int fd = open(path.c_str(), O_RDWR);
        CHILD_CHECK(fd >= 0);
        struct flock probe = {};
        probe.l_type = F_RDLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 1000000;  // far past the end: still covered
        probe.l_len = 1;
        CHILD_CHECK(fcntl(fd, F_GETLK, &probe) == 0);
        CHILD_CHECK(probe.l_type == F_WRLCK);
        CHILD_CHECK(probe.l_start == 0);
        CHILD_CHECK(probe.l_len == 0);
        CHILD_CHECK(probe.l_pid == me);
        return "";
    });
    EXPECT_EQ(result, "");
}

TEST_F(RecordLockTest, ExclusiveLockShutsOutEveryOtherLock) {
    ASSERT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(TryInOtherProcess(LOCK_EX | LOCK_NB, -1), "");
    EXPECT_EQ(TryInOtherProcess(LOCK_SH | LOCK_NB, -1), "");
    ASSERT_EQ(flock(fd_, LOCK_UN), 0);
    EXPECT_EQ(TryInOtherProcess(LOCK_EX | LOCK_NB, 0), "");
}

TEST_F(RecordLockTest, SharedLocksAdmitSharedOnly) {
    ASSERT_EQ(flock(fd_, LOCK_SH), 0);
    EXPECT_EQ(TryInOtherProcess(LOCK_SH | LOCK_NB, 0), "");
    EXPECT_EQ(TryInOtherProcess(LOCK_EX | LOCK_NB, -1), "");
    // The shared bit is checked first: both bits ask for a shared lock.
    EXPECT_EQ(TryInOtherProcess(LOCK_SH | LOCK_EX | LOCK_NB, 0), "");
}

TEST_F(RecordLockTest, WithoutNonBlockingTheCallWaitsForTheHolder) {
    ASSERT_EQ(flock(fd_, LOCK_EX), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t waiter = fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        close(ready[0]);
        alarm(30);
        int fd = open(path_.c_str(), O_RDWR);
        int result = fd >= 0 ? flock(fd, LOCK_EX) : -1;
        char mark = result == 0 ? 'y' : 'n';
        _exit(write(ready[1], &mark, 1) == 1 ? 0 : 1);
    }
    close(ready[1]);
    struct pollfd watch = {ready[0], POLLIN, 0};
    EXPECT_EQ(poll(&watch, 1, 300), 0) << "the waiter got a held lock";
    ASSERT_EQ(flock(fd_, LOCK_UN), 0);
    ASSERT_EQ(poll(&watch, 1, 20000), 1);
    char mark = 0;
    EXPECT_EQ(read(ready[0], &mark, 1), 1);
    EXPECT_EQ(mark, 'y');
    close(ready[0]);
    int status = 0;
    waitpid(waiter, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(RecordLockTest, NoLockTypeIsInvalid) {
    errno = 0;
    EXPECT_EQ(flock(fd_, LOCK_NB), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(flock(fd_, 0), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
