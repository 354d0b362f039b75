// Tests on one path: IsDirectory, IsSymlink, GetIds and access_euid (the
// latter under a changed effective uid in a child process).
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "files/path_helpers.h"
#include "tests/files/files_test_support.h"
#include "tests/support/capture.h"

namespace {

class PathChecksTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.root().empty());
        ASSERT_EQ(mkdir(tree_.Path("dir").c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(tree_.Path("file"), "f"));
        ASSERT_EQ(symlink("dir", tree_.Path("dir_link").c_str()), 0);
        ASSERT_EQ(symlink("file", tree_.Path("file_link").c_str()), 0);
        ASSERT_EQ(symlink("nowhere", tree_.Path("dangling").c_str()), 0);
    }
    ScratchTree tree_;
};

TEST_F(PathChecksTest, IsDirectoryFollowsLinks) {
    DebugCapture log(D_ALWAYS | D_FULLDEBUG);
    EXPECT_TRUE(IsDirectory(tree_.Path("dir").c_str()));
    EXPECT_TRUE(IsDirectory(tree_.Path("dir_link").c_str()));
    EXPECT_FALSE(IsDirectory(tree_.Path("file").c_str()));
    EXPECT_FALSE(IsDirectory(tree_.Path("dangling").c_str()));
    EXPECT_FALSE(IsDirectory(tree_.Path("missing").c_str()));
    EXPECT_FALSE(IsDirectory(nullptr));
    EXPECT_EQ(log.text(), "");
}

TEST_F(PathChecksTest, IsSymlinkNeedsAnExistingTarget) {
    DebugCapture log(D_ALWAYS | D_FULLDEBUG);
    EXPECT_TRUE(IsSymlink(tree_.Path("dir_link").c_str()));
    EXPECT_TRUE(IsSymlink(tree_.Path("file_link").c_str()));
    EXPECT_FALSE(IsSymlink(tree_.Path("dangling").c_str()));
    EXPECT_FALSE(IsSymlink(tree_.Path("file").c_str()));
    EXPECT_EQ(log.text(), "");
}

TEST_F(PathChecksTest, UnexpectedFailuresAreLogged) {
    std::string through = tree_.Path("file/x");
    DebugCapture log(D_ALWAYS);
    EXPECT_FALSE(IsDirectory(through.c_str()));
    EXPECT_FALSE(IsSymlink(through.c_str()));
    uid_t uid = 77;
    gid_t gid = 88;
    EXPECT_FALSE(GetIds(through.c_str(), &uid, &gid));
    EXPECT_EQ(uid, 77u);
    EXPECT_EQ(gid, 88u);
    EXPECT_EQ(log.text(), "IsDirectory: Error in stat(" + through + "), errno: 20\n" +
                              "IsSymlink: Error in stat(" + through + "), errno: 20\n" +
                              "GetIds: Error in stat(" + through +
                              "), errno: 20 (Not a directory)\n");
}

TEST_F(PathChecksTest, GetIdsGivesOwnerAndGroup) {
    ASSERT_EQ(chown(tree_.Path("file").c_str(), 4311, 4312), 0);
    uid_t uid = 0;
    gid_t gid = 0;
    ASSERT_TRUE(GetIds(tree_.Path("file_link").c_str(), &uid, &gid));
    EXPECT_EQ(uid, 4311u);
    EXPECT_EQ(gid, 4312u);
    uid = 77;
    EXPECT_FALSE(GetIds(tree_.Path("missing").c_str(), &uid, &gid));
    EXPECT_EQ(uid, 77u);
}

TEST_F(PathChecksTest, AccessEuidRefusesBadArguments) {
    errno = 0;
    EXPECT_EQ(access_euid(tree_.Path("file").c_str(), 8), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(access_euid(nullptr, 4), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(access_euid(tree_.Path("missing").c_str(), 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(access_euid(tree_.Path("file").c_str(), 0), 0);
}

TEST_F(PathChecksTest, AccessEuidModeBitsAsRoot) {
    ASSERT_EQ(chmod(tree_.Path("file").c_str(), 0644), 0);
    EXPECT_EQ(access_euid(tree_.Path("file").c_str(), R_OK | W_OK), 0);
    errno = 0;
    EXPECT_EQ(access_euid(tree_.Path("file").c_str(), X_OK), -1);
    EXPECT_EQ(errno, EACCES);
    // A directory cannot be opened for appending.
    EXPECT_EQ(access_euid(tree_.Path("dir").c_str(), W_OK), -1);
    EXPECT_EQ(access_euid(tree_.Path("dir").c_str(), R_OK | X_OK), 0);
    EXPECT_EQ(ReadFile(tree_.Path("file")), "f");  // the trial opens change nothing
}

// The real uid stays 0, so access() would allow everything; access_euid
// must answer for the effective uid.
TEST_F(PathChecksTest, AccessEuidAnswersForTheEffectiveUid) {
    std::string shared = tree_.Path("shared");  // 0644 root
    std::string secret = tree_.Path("secret");  // 0600 root
    std::string own = tree_.Path("own");        // 0600 uid 4501
    std::string tool = tree_.Path("tool");      // 0755 root
    ASSERT_TRUE(WriteFile(shared, "s", 0644));
    ASSERT_TRUE(WriteFile(secret, "s", 0600));
    ASSERT_TRUE(WriteFile(own, "s", 0600));
    ASSERT_TRUE(WriteFile(tool, "s", 0755));
    ASSERT_EQ(chown(own.c_str(), 4501, 4501), 0);
    std::string result = InChild([&]() -> std::string {
        CHILD_CHECK(seteuid(4501) == 0);
        CHILD_CHECK(access(secret.c_str(), R_OK) == 0);  // the real uid's answer
        CHILD_CHECK(access_euid(shared.c_str(), R_OK) == 0);
        errno = 0;
        CHILD_CHECK(access_euid(shared.c_str(), W_OK) == -1);
        CHILD_CHECK(errno == EACCES);
        errno = 0;
        CHILD_CHECK(access_euid(secret.c_str(), R_OK) == -1);
        CHILD_CHECK(errno == EACCES);
        CHILD_CHECK(access_euid(own.c_str(), R_OK | W_OK) == 0);
        CHILD_CHECK(access_euid(tool.c_str(), R_OK | X_OK) == 0);
        errno = 0;
        CHILD_CHECK(access_euid(own.c_str(), X_OK) == -1);
        CHILD_CHECK(errno == EACCES);
        return "";
    });
    EXPECT_EQ(result, "");
}

// The system-call mode switch only hands back the mode it was given, so a
// caller can save and restore it around password lookups.
TEST(SetSyscallsTest, ReturnsTheModeAndChangesNothing) {
    for (int mode : {0, 1, 7, -1}) {
        errno = 4242;
        EXPECT_EQ(SetSyscalls(mode), mode);
        EXPECT_EQ(errno, 4242);
    }
}

}  // namespace
