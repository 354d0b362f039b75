// Tests of StatWrapper and StatInfo: name splitting, the facts taken from
// the status, links, descriptors against paths, failure reporting and the
// retry as the service account after EACCES.
#include "files/stat_info.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <string>

#include "files/stat_wrapper.h"
#include "identity/privileges.h"
#include "tests/files/files_test_support.h"
#include "tests/support/capture.h"

namespace {

// "nobody" stands in for the service account inside a child: the
// privilege module learns it from TORVEL_IDS, learning again here since
// the test program may have learned its own service account already.
void UseNobodyAsServiceAccount() {
    if (getpwuid(65534) != nullptr) {
        setenv("TORVEL_IDS", "65534.65534", 1);
        init_torvel_ids();
    }
}

class StatInfoTest : public testing::Test {
 protected:
    void SetUp() override { ASSERT_FALSE(tree_.root().empty()); }
    ScratchTree tree_;
};

TEST(StatInfoNames, PathIsSplitAtTheLastSeparator) {
    struct Case {
        const char *path, *dir, *base;
    } cases[] = {
        {"/a/b/c.txt", "/a/b/", "c.txt"},
        {"c.txt", "c.txt", nullptr},
        {"/a/b/", "/a/b/", nullptr},
        {"a\\b\\c", "a\\b\\", "c"},
        {"/x", "/", "x"},
    };
    for (const Case &c : cases) {
        StatInfo info(c.path);
        EXPECT_STREQ(info.FullPath(), c.path);
        EXPECT_STREQ(info.DirPath(), c.dir) << c.path;
        EXPECT_STREQ(info.BaseName(), c.base) << c.path;
    }
}

TEST(StatInfoNames, DirectoryAndNameJoinWithOneSeparator) {
    StatInfo plain("/a", "b");
    StatInfo slashed("/a/", "b");
    for (StatInfo *info : {&plain, &slashed}) {
        EXPECT_STREQ(info->FullPath(), "/a/b");
        EXPECT_STREQ(info->DirPath(), "/a/");
        EXPECT_STREQ(info->BaseName(), "b");
    }
    StatInfo here("", "b");
    EXPECT_STREQ(here.FullPath(), "b");
    EXPECT_STREQ(here.DirPath(), "");
}

TEST(StatInfoNames, MakeDirpathAddsOneSeparator) {
    struct Case {
        const char *dir, *want;
    } cases[] = {{"/a", "/a/"}, {"/a/", "/a/"}, {"/", "/"}, {"", ""}};
    for (const Case &c : cases) {
        char *made = make_dirpath(c.dir);
        EXPECT_STREQ(made, c.want) << "\"" << c.dir << "\"";
        delete[] made;
    }
}

TEST_F(StatInfoTest, FileFactsComeFromTheStatus) {
    std::string file = tree_.Path("data");
    ASSERT_TRUE(WriteFile(file, "12345", 0640));
    ASSERT_EQ(chown(file.c_str(), 4301, 4302), 0);
    struct utimbuf times = {1000000, 2000000};
    ASSERT_EQ(utime(file.c_str(), &times), 0);

    StatInfo info(file.c_str());
    ASSERT_EQ(info.Error(), STAT_OK);
    EXPECT_EQ(info.GetFileSize(), 5);
    EXPECT_EQ(info.GetOwner(), 4301u);
    EXPECT_EQ(info.GetGroup(), 4302u);
    EXPECT_EQ(info.GetAccessTime(), 1000000);
    EXPECT_EQ(info.GetModifyTime(), 2000000);
    EXPECT_GT(info.GetChangeTime(), 2000000);
    EXPECT_EQ(info.GetMode(), static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_FALSE(info.IsDirectory());
    EXPECT_FALSE(info.IsExecutable());
    EXPECT_FALSE(info.IsSymlink());

    // Any one of the three execute bits counts.
    for (mode_t bit : {0100, 0010, 0001}) {
        ASSERT_EQ(chmod(file.c_str(), 0600 | bit), 0);
        StatInfo exec(file.c_str());
        EXPECT_TRUE(exec.IsExecutable()) << std::oct << bit;
    }
    StatInfo dir(tree_.root().c_str());
    EXPECT_TRUE(dir.IsDirectory());
}

TEST_F(StatInfoTest, LinkToDirectoryIsBothDirectoryAndLink) {
    ASSERT_EQ(mkdir(tree_.Path("real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real", tree_.Path("alias").c_str()), 0);
    StatInfo info(tree_.Path("alias").c_str());
    ASSERT_EQ(info.Error(), STAT_OK);
    EXPECT_TRUE(info.IsDirectory());
    EXPECT_TRUE(info.IsSymlink());
    StatInfo joined(tree_.root().c_str(), "alias");
    EXPECT_TRUE(joined.IsSymlink());
    StatInfo real(tree_.Path("real").c_str());
    EXPECT_FALSE(real.IsSymlink());
}

TEST_F(StatInfoTest, DanglingLinkIsNoFileAndSilent) {
    ASSERT_EQ(symlink("nowhere", tree_.Path("dangling").c_str()), 0);
    DebugCapture log(D_ALWAYS | D_FULLDEBUG);
    StatInfo info(tree_.Path("dangling").c_str());
    EXPECT_EQ(info.Error(), STAT_NO_FILE);
    EXPECT_EQ(info.Errno(), ENOENT);
    EXPECT_FALSE(info.IsSymlink());  // the facts of a failed status stay unset
    StatInfo missing(tree_.Path("missing").c_str());
    EXPECT_EQ(missing.Error(), STAT_NO_FILE);
    EXPECT_EQ(log.text(), "");
}

TEST_F(StatInfoTest, PathThroughAFileFailsWithOneDebugLine) {
    ASSERT_TRUE(WriteFile(tree_.Path("plain"), "x"));
    std::string through = tree_.Path("plain/inner");
    DebugCapture log(D_ALWAYS | D_FULLDEBUG);
    StatInfo info(through.c_str());
    EXPECT_EQ(info.Error(), STAT_FAILED);
    EXPECT_EQ(info.Errno(), ENOTDIR);
    EXPECT_EQ(log.text(),
              "StatInfo::stat64(" + through + ") failed, errno: 20 = Not a directory\n");
}

TEST_F(StatInfoTest, FailedModeIsTakenAgainFromThePath) {
    std::string file = tree_.Path("later");
    StatInfo info(file.c_str());
    ASSERT_EQ(info.Error(), STAT_NO_FILE);
    ASSERT_TRUE(WriteFile(file, "", 0604));
    EXPECT_EQ(info.GetMode(), static_cast<mode_t>(S_IFREG | 0604));
    EXPECT_EQ(info.Error(), STAT_OK);
}

TEST_F(StatInfoTest, DescriptorStatusHasNoNamesAndIsNoLink) {
    ASSERT_EQ(symlink("target", tree_.Path("link").c_str()), 0);
    ASSERT_TRUE(WriteFile(tree_.Path("target"), "abc", 0600));
    int fd = open(tree_.Path("link").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    StatInfo info(fd);
    close(fd);
    ASSERT_EQ(info.Error(), STAT_OK);
    EXPECT_EQ(info.FullPath(), nullptr);
    EXPECT_EQ(info.BaseName(), nullptr);
    EXPECT_EQ(info.GetFileSize(), 3);
    EXPECT_FALSE(info.IsSymlink());

    StatInfo closed(fd);
    EXPECT_EQ(closed.Error(), STAT_NO_FILE);
    EXPECT_EQ(closed.Errno(), EBADF);
}

TEST_F(StatInfoTest, FailedDescriptorModeIsTakenAgainFromTheDescriptor) {
    // A descriptor number that is free now and taken later.
    int scratch = open(tree_.root().c_str(), O_RDONLY);
    ASSERT_GE(scratch, 0);
    int number = scratch + 50;
    close(number);
    StatInfo info(number);
    ASSERT_EQ(info.Error(), STAT_NO_FILE);
    ASSERT_EQ(dup2(scratch, number), number);
    EXPECT_EQ(info.GetMode() & S_IFMT, static_cast<mode_t>(S_IFDIR));
    EXPECT_EQ(info.Error(), STAT_OK);
    close(number);
    close(scratch);
}

TEST_F(StatInfoTest, WrapperRetryRepeatsTheSameKindOfCall) {
    std::string file = tree_.Path("appears");
    StatWrapper by_path(file.c_str());
    EXPECT_STREQ(by_path.GetStatFn(), "stat64");
    EXPECT_EQ(by_path.GetStatus(), -1);
    EXPECT_EQ(by_path.GetErrno(), ENOENT);
    ASSERT_TRUE(WriteFile(file, "1234567"));
    EXPECT_EQ(by_path.Retry(), 0);
    EXPECT_EQ(by_path.GetStatBuf().st_size, 7);

    int scratch = open(file.c_str(), O_RDONLY);
    ASSERT_GE(scratch, 0);
    int number = scratch + 50;
    close(number);
    StatWrapper by_fd(number);
    EXPECT_STREQ(by_fd.GetStatFn(), "fstat64");
    EXPECT_EQ(by_fd.GetErrno(), EBADF);
    ASSERT_EQ(dup2(scratch, number), number);
    EXPECT_EQ(by_fd.Retry(), 0);
    EXPECT_STREQ(by_fd.GetStatFn(), "fstat64");
    EXPECT_EQ(by_fd.GetStatBuf().st_size, 7);
    close(number);
    close(scratch);

    // DoStat moves the wrapper to a new target, which Retry then repeats.
    EXPECT_EQ(by_fd.DoStat(tree_.Path("gone").c_str()), -1);
    EXPECT_STREQ(by_fd.GetStatFn(), "stat64");
    EXPECT_EQ(by_fd.Retry(), -1);
    EXPECT_EQ(by_fd.GetErrno(), ENOENT);
}

// A file that the current effective identity cannot reach, whose parent
// only root may search: the retry as the service account fails as well.
// The failure is reported once and the privilege state is restored.
TEST_F(StatInfoTest, RefusedRetryRestoresStateAndLogsOnce) {
    std::string dir = tree_.Path("closed");
    std::string file = dir + "/secret";
    std::string result = InChild([&]() -> std::string {
        CHILD_CHECK(mkdir(dir.c_str(), 0700) == 0);
        CHILD_CHECK(WriteFile(file, "s"));
        UseNobodyAsServiceAccount();
        _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
        CHILD_CHECK(seteuid(4401) == 0);
        DebugCapture log(D_ALWAYS | D_FULLDEBUG);
        StatInfo info(file.c_str());
        CHILD_CHECK(info.Error() == STAT_FAILED);
        CHILD_CHECK(info.Errno() == EACCES);
        CHILD_CHECK(get_priv() == PRIV_ROOT);
        std::string want = "StatInfo::stat64(" + file + ") failed, errno: 13 = Permission denied\n";
        CHILD_CHECK(log.text() == want);
        return "";
    });
    EXPECT_EQ(result, "");
}

// The file lies in a directory only the service account may search, and
// the process runs as root under another effective uid: the first call is
// refused, the retry as the service account describes the file.
TEST_F(StatInfoTest, RetryAsServiceAccountReachesItsFiles) {
    std::string dir = tree_.Path("service_only");
    std::string file = dir + "/held";
    std::string result = InChild([&]() -> std::string {
        UseNobodyAsServiceAccount();
        _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
        priv_state was = _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 1);
        uid_t service_uid = geteuid();
        gid_t service_gid = getegid();
        _set_priv(was, __FILE__, __LINE__, 1);
        if (service_uid == 0 || geteuid() != 0) {
            return "SKIP";
        }
        CHILD_CHECK(mkdir(dir.c_str(), 0700) == 0);
        CHILD_CHECK(WriteFile(file, "four", 0600));
        CHILD_CHECK(chown(dir.c_str(), service_uid, service_gid) == 0);
        CHILD_CHECK(chown(file.c_str(), service_uid, service_gid) == 0);
        CHILD_CHECK(seteuid(4402) == 0);
        StatInfo info(file.c_str());
        CHILD_CHECK(info.Error() == STAT_OK);
        CHILD_CHECK(info.GetFileSize() == 4);
        CHILD_CHECK(info.GetOwner() == service_uid);
        CHILD_CHECK(get_priv() == PRIV_ROOT);
        return "";
    });
    if (result == "SKIP") {
        GTEST_SKIP() << "no account with uid 65534 to serve as the service account";
    }
    EXPECT_EQ(result, "");
}

}  // namespace
