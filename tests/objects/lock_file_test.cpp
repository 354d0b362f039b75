// lock_file: as the file_lock object linked alone with a program's own
// scripted flock, param and dprintf, and against real locks held by another
// process, both through that object and through the library's copy.
#include "files/lock_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/objects/probe_runner.h"
#include "tests/support/wait_for.h"

namespace torvel_objects_test {
namespace {

using Values = std::map<std::string, std::string>;

// Runs the file_lock probe with a scripted flock; ignore is the value of
// IGNORE_NFS_LOCK_ERRORS, or null for undefined.
Values lock_with_script(int type, bool block, const std::string &script,
                        const char *ignore = nullptr) {
    std::vector<std::string> env{ignore != nullptr ? std::string("IGNORE_NFS_LOCK_ERRORS=") + ignore
                                                   : std::string("IGNORE_NFS_LOCK_ERRORS")};
    int status = -1;
    Values values =
        run_probe("file_lock", {std::to_string(type), block ? "1" : "0", script}, env, &status);
    EXPECT_EQ(status, 0) << "file_lock probe did not run";
    return values;
}

TEST(FileLockObjectTest, UnknownTypeFailsWithoutCallingFlock) {
    for (int type : {3, -1, 4, 7, 9}) {
        SCOPED_TRACE(type);
        Values values = lock_with_script(type, true, "0");
        EXPECT_EQ(values["result"], "-1");
        EXPECT_EQ(values["flock_calls"], "0");
        EXPECT_EQ(values["param_calls"], "0");
    }
}

TEST(FileLockObjectTest, TypesMapToFlockOperations) {
    struct Case {
        int type;
        bool block;
        int operation;
    } cases[] = {
        {SHARED_LOCK, true, LOCK_SH},
        {EXCLUSIVE_LOCK, true, LOCK_EX},
        {RELEASE_LOCK, true, LOCK_UN},
        {8, true, LOCK_UN},
        {SHARED_LOCK, false, LOCK_SH | LOCK_NB},
        {EXCLUSIVE_LOCK, false, LOCK_EX | LOCK_NB},
        {RELEASE_LOCK, false, LOCK_UN | LOCK_NB},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + (c.block ? " blocking" : " non-blocking"));
        Values values = lock_with_script(c.type, c.block, "0");
        EXPECT_EQ(values["result"], "0");
        EXPECT_EQ(values["operations"], std::to_string(c.operation));
    }
}

TEST(FileLockObjectTest, InterruptedRequestIsRetriedUntilItCompletes) {
    Values values = lock_with_script(EXCLUSIVE_LOCK, true, "EINTR,EINTR,0", "false");
    EXPECT_EQ(values["result"], "0");
    EXPECT_EQ(values["flock_calls"], "3");
    std::string ex = std::to_string(LOCK_EX);
    EXPECT_EQ(values["operations"], ex + "," + ex + "," + ex);
    EXPECT_EQ(values["param_calls"], "0");
    EXPECT_EQ(values["dprintf_calls"], "0");
}

TEST(FileLockObjectTest, EnolckIsToleratedAndLoggedWhenTheKeyIsTrue) {
    for (const char *value : {"TRUE", "true", "Yes", "yes", "T"}) {
        SCOPED_TRACE(value);
        Values values = lock_with_script(EXCLUSIVE_LOCK, true, "EINTR,EINTR,ENOLCK", value);
        EXPECT_EQ(values["result"], "0");
        EXPECT_EQ(values["flock_calls"], "3");
        EXPECT_EQ(values["param_calls"], "1");
        EXPECT_EQ(values["param_names"], "IGNORE_NFS_LOCK_ERRORS");
        EXPECT_EQ(values["param_leaked"], "0");  // lock_file frees param's text
        EXPECT_EQ(values["dprintf_calls"], "1");
        EXPECT_EQ(values["dprintf_flags"], "0x400");  // D_FULLDEBUG
        EXPECT_EQ(values["dprintf_text"], "Ignoring error ENOLCK on fd " + values["fd"]);
    }
}

TEST(FileLockObjectTest, EnolckFailsWhenTheKeyIsFalseOrOtherwise) {
    for (const char *value : {"false", "FALSE", "no", "1", "on", ""}) {
        SCOPED_TRACE(testing::PrintToString(value));
        Values values = lock_with_script(SHARED_LOCK, false, "ENOLCK", value);
        EXPECT_EQ(values["result"], "-1");
        EXPECT_EQ(values["errno"], std::to_string(ENOLCK));
        EXPECT_EQ(values["param_calls"], "1");
        EXPECT_EQ(values["param_leaked"], "0");
        EXPECT_EQ(values["dprintf_calls"], "0");
    }
}

TEST(FileLockObjectTest, EnolckFailsWhenTheKeyIsUndefined) {
    Values values = lock_with_script(EXCLUSIVE_LOCK, true, "ENOLCK");
    EXPECT_EQ(values["result"], "-1");
    EXPECT_EQ(values["errno"], std::to_string(ENOLCK));
    EXPECT_EQ(values["flock_calls"], "1");
    EXPECT_EQ(values["param_calls"], "1");
    EXPECT_EQ(values["dprintf_calls"], "0");
}

TEST(FileLockObjectTest, OtherFailuresReturnAtOnceWithTheirErrno) {
    Values values = lock_with_script(EXCLUSIVE_LOCK, false, "EWOULDBLOCK", "true");
    EXPECT_EQ(values["result"], "-1");
    EXPECT_EQ(values["errno"], std::to_string(EWOULDBLOCK));
    EXPECT_EQ(values["flock_calls"], "1");
    EXPECT_EQ(values["param_calls"], "0");  // only ENOLCK consults the key
}

// A child process that holds a lock on a file until released.
class LockHolder {
 public:
    enum class Method { kKernelFlock, kLibraryLockFile };

    LockHolder(const std::string &path, int operation, Method method) {
        int ready[2];
        int release[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            int fd = open(path.c_str(), O_RDWR);
            int locked = -1;
            if (fd >= 0) {
                locked =
                    method == Method::kKernelFlock
                        ? static_cast<int>(syscall(SYS_flock, fd, operation))
                        : lock_file(fd, operation == LOCK_SH ? SHARED_LOCK : EXCLUSIVE_LOCK, true);
            }
            char byte = locked == 0 ? 'y' : 'n';
            if (write(ready[1], &byte, 1) != 1 || locked != 0) {
                _exit(1);
            }
            // Hold the lock until the parent closes the pipe or goes away.
            ssize_t got = read(release[0], &byte, 1);
            _exit(got == 0 ? 0 : 1);
        }
        close(ready[1]);
        close(release[0]);
        release_fd_ = release[1];
        char byte = 0;
        holding_ = pid_ > 0 && read(ready[0], &byte, 1) == 1 && byte == 'y';
        close(ready[0]);
    }

    ~LockHolder() { release(); }

    bool holding() const { return holding_; }

    // Lets the child drop the lock and exit (it sees the end of the release
    // pipe); true when it exited cleanly.
    bool release() {
        if (release_fd_ >= 0) {
            close(release_fd_);
            release_fd_ = -1;
        }
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        pid_t waited = waitpid(pid_, &status, 0);
        pid_ = -1;
        return waited > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

 private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool holding_ = false;
};

class ContendedLockTest : public ::testing::Test {
 protected:
    void SetUp() override {
        char pattern[] = "/tmp/torvel_lock_file_XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
    }
    void TearDown() override { unlink(path_.c_str()); }

    Values probe_real(int type, bool block) {
        int status = -1;
        Values values = run_probe(
            "file_lock", {std::to_string(type), block ? "1" : "0", "real", path_}, {}, &status);
        EXPECT_EQ(status, 0);
        return values;
    }

    std::string path_;
};

TEST_F(ContendedLockTest, ObjectRefusesANonBlockingRequestOnAHeldLock) {
    LockHolder holder(path_, LOCK_EX, LockHolder::Method::kKernelFlock);
    ASSERT_TRUE(holder.holding());
    Values values = probe_real(EXCLUSIVE_LOCK, false);
    EXPECT_EQ(values["result"], "-1");
    EXPECT_EQ(values["errno"], std::to_string(EWOULDBLOCK));
    values = probe_real(SHARED_LOCK, false);
    EXPECT_EQ(values["result"], "-1");

    ASSERT_TRUE(holder.release());
    values = probe_real(EXCLUSIVE_LOCK, false);
    EXPECT_EQ(values["result"], "0");
}

TEST_F(ContendedLockTest, ObjectSharesASharedLock) {
    LockHolder holder(path_, LOCK_SH, LockHolder::Method::kKernelFlock);
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(probe_real(SHARED_LOCK, false)["result"], "0");
    EXPECT_EQ(probe_real(EXCLUSIVE_LOCK, false)["result"], "-1");
}

TEST_F(ContendedLockTest, LibraryCopyWaitsForAHeldLockWhenBlocking) {
    LockHolder holder(path_, LOCK_EX, LockHolder::Method::kLibraryLockFile);
    ASSERT_TRUE(holder.holding());
    int fd = open(path_.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(lock_file(fd, EXCLUSIVE_LOCK, false), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);

    // Another thread releases once this one's request is queued behind the
    // holder's lock; the lock can only be granted once the holder is gone.
    std::atomic<bool> released{false};
    bool released_cleanly = false;
    std::thread releaser([&] {
        torvel_test::WaitUntil([&] { return torvel_test::WaitsForLock(getpid(), path_); });
        released = true;
        released_cleanly = holder.release();
    });
    int result = lock_file(fd, EXCLUSIVE_LOCK, true);
    bool was_released = released;
    releaser.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(was_released);
    EXPECT_TRUE(released_cleanly);
    EXPECT_EQ(lock_file(fd, RELEASE_LOCK, true), 0);
    close(fd);
}

}  // namespace
}  // namespace torvel_objects_test
