// The lock file around each write: created with its directory, opened once,
// held against other processes for the whole line and released after it;
// _torvel_open_lock_file's failures; a lock that cannot be opened ending
// the process; the lock kept from children, and its directory's owner never
// changed through a link planted at its name.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "debug_log_fixture.h"
#include "diagnostics/debug_log.h"
#include "files/path_helpers.h"
#include "identity/privileges.h"
#include "process/my_popen.h"
#include "tests/support/output_capture.h"
#include "tests/support/run_program.h"
#include "tests/support/wait_for.h"

namespace {

using debug_log_test::DebugLogTest;

class DebugLockTest : public DebugLogTest {
 protected:
    void SetUp() override {
        DebugLogTest::SetUp();
        DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    }
    std::string SetLock(const std::string &name) {
        std::string path = Path(name);
        free(DebugLock);
        DebugLock = strdup(path.c_str());
        return path;
    }
};

TEST_F(DebugLockTest, LockFileIsCreatedWithItsDirectoryAndKept) {
    std::string log = SetLog(0, "main");
    std::string lock = SetLock("locks/log.lock");
    dprintf(D_ALWAYS, "one\n");
    ASSERT_GE(LockFd, 0);
    int first_fd = LockFd;
    dprintf(D_ALWAYS, "two\n");
    EXPECT_EQ(first_fd, LockFd);  // opened once
    EXPECT_EQ("one\ntwo\n", Read(log));

    struct stat status;
    ASSERT_EQ(0, stat(Path("locks").c_str(), &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(0755u, status.st_mode & 0777);  // 0777 under the write's umask
    ASSERT_EQ(0, stat(lock.c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 0777);
}

// Waits for a child and gives its exit status, or -1.
int ChildStatus(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(DebugLockTest, LineWaitsForAnotherProcessHoldingTheLock) {
    std::string log = SetLog(0, "main");
    std::string lock = SetLock("log.lock");
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open(lock.c_str(), O_WRONLY | O_CREAT, 0660);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) {
            _exit(1);
        }
        if (write(ready[1], "L", 1) != 1) {
            _exit(2);
        }
        // Writes only once the parent's line waits for the lock: a writer
        // ignoring the lock would have come first.
        if (!torvel_test::WaitUntil([&] { return torvel_test::WaitsForLock(getppid(), lock); })) {
            _exit(4);
        }
        FILE *out = fopen(log.c_str(), "a");
        if (out == nullptr) {
            _exit(3);
        }
        fputs("child\n", out);
        fclose(out);
        flock(fd, LOCK_UN);
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(1, read(ready[0], &byte, 1));
    close(ready[0]);
    dprintf(D_ALWAYS, "parent\n");
    EXPECT_EQ(0, ChildStatus(child));
    EXPECT_EQ("child\nparent\n", Read(log));
}

TEST_F(DebugLockTest, LockIsReleasedAfterEachLine) {
    SetLog(0, "main");
    std::string lock = SetLock("log.lock");
    dprintf(D_ALWAYS, "line\n");
    ASSERT_GE(LockFd, 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open(lock.c_str(), O_WRONLY);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    EXPECT_EQ(0, ChildStatus(child));
}

TEST_F(DebugLockTest, OpenLockFileResults) {
    errno = 0;
    EXPECT_EQ(-1, _torvel_open_lock_file(nullptr, O_WRONLY | O_CREAT, 0660));

    int fd = _torvel_open_lock_file(Path("plain.lock").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);

    // Only the last missing directory is created.
    std::string missing = Path("a/b");
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    errno = 0;
    fd = _torvel_open_lock_file((missing + "/x.lock").c_str(), O_WRONLY | O_CREAT, 0600);
    int error = errno;
    std::string err = captured_err.Finish();
    EXPECT_EQ(-1, fd);
    EXPECT_EQ(ENOENT, error);
    EXPECT_EQ(
        "Can't create lock directory: \"" + missing + "\"errno: 2 (" + strerror(ENOENT) + ")\n",
        err);
    EXPECT_FALSE(Exists(Path("a")));

    // Without O_CREAT a missing file in an existing directory stays missing.
    fd = _torvel_open_lock_file(Path("absent.lock").c_str(), O_WRONLY, 0600);
    EXPECT_EQ(-1, fd);
    EXPECT_EQ(ENOENT, errno);
}

// As an account that may not create the directory (and cannot become root
// to retry), the creation failure is reported with its errno.
TEST_F(DebugLockTest, DirectoryRefusedToTheAccountIsReported) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: to become another account";
    }
    ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
    std::string err_path = Path("err");
    std::string missing = Path("sub");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0) {
            _exit(1);
        }
        // Root given up for good through the privilege module, which then
        // refuses every switch back.
        uid_t r, e, s;
        if (!set_user_ids(65534, 65534) ||
            _set_priv(PRIV_USER_FINAL, __FILE__, __LINE__, 0) == PRIV_USER_FINAL ||
            getresuid(&r, &e, &s) != 0 || r != 65534 || e != 65534 || s != 65534) {
            _exit(2);
        }
        if (dup2(err, 2) < 0) {
            _exit(1);
        }
        if (access(dir_.c_str(), X_OK) != 0) {
            _exit(77);  // the test directory is out of this account's reach
        }
        int fd = _torvel_open_lock_file((missing + "/x.lock").c_str(), O_WRONLY | O_CREAT, 0600);
        _exit(fd == -1 && errno == ENOENT ? 0 : 3);
    }
    int status = ChildStatus(child);
    if (status == 77) {
        GTEST_SKIP() << dir_ << " is not reachable by uid 65534";
    }
    EXPECT_EQ(0, status);
    EXPECT_EQ("Can't create lock directory \"" + missing + "\", errno: " + std::to_string(EACCES) +
                  " (" + strerror(EACCES) + ")\n",
              Read(err_path));
    EXPECT_FALSE(Exists(missing));
}

// The service account may not create the lock's directory: root makes it
// and hands it over, and the lock file is then the service account's.
TEST_F(DebugLockTest, DirectoryRefusedToTheServiceAccountIsMadeByRoot) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: to switch ids";
    }
    ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
    std::string lock = SetLock("locks/log.lock");
    DebugFP = tmpfile();
    ASSERT_NE(nullptr, DebugFP);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // "nobody" serves as the service account, learned afresh here; the
        // lines logged while learning stay in memory, or they would be
        // written as the service account learned before.
        setenv("TORVEL_IDS", "65534.65534", 1);
        _torvel_dprintf_works = 0;
        init_torvel_ids();
        _torvel_dprintf_works = 1;
        if (get_torvel_uid() != 65534) {
            _exit(77);
        }
        dprintf(D_ALWAYS, "locked line\n");
        _exit(get_priv() == PRIV_UNKNOWN && geteuid() == 0 ? 0 : 3);
    }
    int status = ChildStatus(child);
    if (status == 77) {
        GTEST_SKIP() << "no account with uid 65534 to serve as the service account";
    }
    EXPECT_EQ(0, status);
    struct stat info;
    ASSERT_EQ(0, stat(Path("locks").c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(65534u, info.st_uid);
    EXPECT_EQ(65534u, info.st_gid);
    ASSERT_EQ(0, stat(lock.c_str(), &info));
    EXPECT_EQ(65534u, info.st_uid);
    rewind(DebugFP);
    char line[64] = {};
    EXPECT_NE(nullptr, fgets(line, sizeof line, DebugFP));
    EXPECT_STREQ("locked line\n", line);
}

TEST_F(DebugLockTest, UnopenableLockEndsTheProcess) {
    SetLog(0, "main");
    std::string lock = SetLock("a/b/log.lock");
    EXPECT_EXIT(
        dprintf(D_ALWAYS, "x\n"), testing::ExitedWithCode(44),
        "dprintf\\(\\) had a fatal error in pid [0-9]+\nCan't open \"" + lock + "\"\nerrno: 2 ");
}

// The lock descriptor stays open for the life of the process; a program
// started meanwhile must not get it (it could hold or release the lock).
TEST_F(DebugLockTest, ChildrenDoNotInheritTheLockFile) {
    SetLog(0, "main");
    std::string lock = SetLock("log.lock");
    dprintf(D_ALWAYS, "opens the lock\n");
    ASSERT_GE(LockFd, 0);
    char *argv[] = {const_cast<char *>("ls"), const_cast<char *>("-l"),
                    const_cast<char *>("/proc/self/fd/"), nullptr};
    FILE *child = my_popenv(argv, "r", 0);
    ASSERT_NE(nullptr, child);
    std::string listing;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, child)) > 0) {
        listing.append(chunk, got);
    }
    EXPECT_EQ(0, my_pclose(child));
    ASSERT_NE(std::string::npos, listing.find(" -> ")) << listing;  // ls saw descriptors
    EXPECT_EQ(std::string::npos, listing.find(lock)) << listing;
}

// Root makes the lock's directory and hands it to the service account.
// Another account that swaps it for a link in between must not get a
// directory of its choosing handed over: here one owned by uid 4701.
TEST_F(DebugLockTest, LinkPlantedAtTheNewLockDirectoryIsNotFollowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: to switch ids";
    }
    ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
    std::string victim = Path("victim");
    ASSERT_EQ(0, mkdir(victim.c_str(), 0700));
    ASSERT_EQ(0, chown(victim.c_str(), 4701, 4701));
    std::vector<std::string> env = torvel_test::SanitizerEnv();
    env.push_back("TORVEL_IDS=65534.65534");
    torvel_test::ProgramRun run = torvel_test::RunProgram(TORVEL_BINARY_DIR "/tests/lock_dir_swap",
                                                          {Path("locks/log.lock"), victim}, env);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("fd -1\n", run.out);
    EXPECT_EQ(0u, run.err.find("Can't create lock directory \"" + Path("locks") + "\", errno: "))
        << run.err;
    struct stat info;
    ASSERT_EQ(0, stat(victim.c_str(), &info));
    EXPECT_EQ(4701u, info.st_uid);
    EXPECT_EQ(4701u, info.st_gid);
}

}  // namespace
