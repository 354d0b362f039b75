// Tests of rotate_file: a reader in another process never sees the target
// missing or half written while files are rotated into place, and a failed
// rename is reported.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "files/path_helpers.h"
#include "tests/files/files_test_support.h"
#include "tests/support/capture.h"

namespace {

constexpr int kVersions = 300;

// Version n's full text: big enough that a copy could be seen half done.
std::string VersionText(int n) {
    std::string line = "version " + std::to_string(n) + "\n";
    std::string text;
    while (text.size() < 64 * 1024) {
        text += line;
    }
    return text;
}

TEST(RotateFile, ReaderAlwaysSeesOneWholeVersion) {
    ScratchTree tree;
    ASSERT_FALSE(tree.root().empty());
    std::string current = tree.Path("current");
    std::string next = tree.Path("current.new");
    ASSERT_TRUE(WriteFile(current, VersionText(0)));

    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        alarm(60);  // never outlive a writer that failed
        int last = 0;
        while (last < kVersions) {
            std::string text = ReadFile(current);
            int n = atoi(text.c_str() + 8);
            if (text.compare(0, 8, "version ") != 0 || text != VersionText(n) || n < last) {
                _exit(1);
            }
            last = n;
        }
        _exit(0);
    }
    for (int n = 1; n <= kVersions; n++) {
        ASSERT_TRUE(WriteFile(next, VersionText(n)));
        ASSERT_EQ(rotate_file(next.c_str(), current.c_str()), 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    ASSERT_TRUE(WIFEXITED(status)) << "reader ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the reader saw a missing or partial file";
    EXPECT_EQ(ReadFile(current), VersionText(kVersions));
    EXPECT_EQ(ReadFile(next), "<missing>");
}

TEST(RotateFile, FailedRenameIsLoggedAndReturnsMinusOne) {
    ScratchTree tree;
    ASSERT_FALSE(tree.root().empty());
    std::string from = tree.Path("absent");
    std::string to = tree.Path("target");
    ASSERT_TRUE(WriteFile(to, "kept"));
    DebugCapture log(D_ALWAYS);
    EXPECT_EQ(rotate_file(from.c_str(), to.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(log.text(), "rename(" + from + ", " + to + ") failed with errno 2\n");
    EXPECT_EQ(ReadFile(to), "kept");
}

}  // namespace
