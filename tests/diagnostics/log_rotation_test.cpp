// Rotation of logs past MaxLog: the exact contents of the fresh and the old
// file, the limit being exclusive, one old generation only, per-category
// logs rotating alone, a rotation that cannot link ending the process, and
// processes that rotate one log without a lock file losing no line.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "debug_log_fixture.h"
#include "diagnostics/debug_log.h"

namespace {

using debug_log_test::DebugLogTest;

class LogRotationTest : public DebugLogTest {
 protected:
    void SetUp() override {
        DebugLogTest::SetUp();
        DebugFlags = static_cast<int>(D_ALWAYS | D_CONFIG | D_NOHEADER);
    }

    // Names in the test's directory, sorted.
    std::string Listing() {
        std::string names;
        DIR *dir = opendir(dir_.c_str());
        if (dir == nullptr) {
            return names;
        }
        std::vector<std::string> all;
        while (struct dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                all.push_back(name);
            }
        }
        closedir(dir);
        std::sort(all.begin(), all.end());
        for (const auto &name : all) {
            names += name + " ";
        }
        return names;
    }
};

TEST_F(LogRotationTest, LongLogMovesToOldAndStartsAfresh) {
    std::string path = SetLog(0, "main");
    MaxLog[0] = 1000;
    std::string earlier(1199, 'e');
    earlier += "\n";
    Write(path, earlier);

    dprintf(D_ALWAYS, "next\n");

    EXPECT_EQ("Now in new log file " + path + "\nnext\n", Read(path));
    EXPECT_EQ(earlier + "MaxLog = 1000, length = 1200\nSaving log file to \"" + path + ".old\"\n",
              Read(path + ".old"));
}

TEST_F(LogRotationTest, LimitItselfIsNotTooLong) {
    std::string path = SetLog(0, "main");
    MaxLog[0] = 1000;
    std::string earlier(1000, 'e');
    Write(path, earlier);
    dprintf(D_ALWAYS, "next\n");
    EXPECT_EQ(earlier + "next\n", Read(path));
    EXPECT_FALSE(Exists(path + ".old"));

    MaxLog[0] = 0;  // no limit at all
    std::string big(5000, 'b');
    Write(path, big);
    dprintf(D_ALWAYS, "again\n");
    EXPECT_EQ(big + "again\n", Read(path));
}

TEST_F(LogRotationTest, OnlyOneOldGeneration) {
    std::string path = SetLog(0, "main");
    MaxLog[0] = 300;
    std::string line(99, 'x');
    for (int i = 0; i < 12; ++i) {
        dprintf(D_ALWAYS, "%s\n", line.c_str());
    }
    EXPECT_EQ("main main.old ", Listing());
    std::string old = Read(path + ".old");
    EXPECT_EQ(0u, old.find("Now in new log file " + path + "\n"));  // a later generation
    std::string tail = "Saving log file to \"" + path + ".old\"\n";
    ASSERT_GE(old.size(), tail.size());
    EXPECT_EQ(tail, old.substr(old.size() - tail.size()));
}

TEST_F(LogRotationTest, CategoryLogRotatesAlone) {
    std::string main_log = SetLog(0, "main");
    std::string config_log = SetLog(13, "config");  // D_CONFIG
    MaxLog[13] = 100;
    std::string earlier(200, 'c');
    Write(config_log, earlier);
    Write(main_log, earlier);

    dprintf(D_CONFIG, "config line\n");

    EXPECT_EQ(earlier + "config line\n", Read(main_log));
    EXPECT_FALSE(Exists(main_log + ".old"));
    EXPECT_EQ("Now in new log file " + config_log + "\nconfig line\n", Read(config_log));
    EXPECT_EQ(
        earlier + "MaxLog = 100, length = 200\nSaving log file to \"" + config_log + ".old\"\n",
        Read(config_log + ".old"));
}

TEST_F(LogRotationTest, FailedLinkEndsTheProcess) {
    std::string path = SetLog(13, "config");
    MaxLog[13] = 10;
    Write(path, std::string(20, 'c'));
    // A non-empty directory named like the old copy can be neither removed
    // by unlink nor replaced by link.
    ASSERT_EQ(0, mkdir((path + ".old").c_str(), 0755));
    Write(path + ".old/keep", "k");
    std::string message = "Can't link\\(" + path + "," + path + ".old\\)\n";
    EXPECT_EXIT(dprintf(D_CONFIG, "x\n"), testing::ExitedWithCode(44), message);
}

// Without DebugLock, several processes find the log too long at once.
// Each line is 31 bytes, so the whole output (496,000 bytes) is more than
// MaxLog and less than twice it: exactly one rotation falls due, and every
// line fits in the log and its one old copy. None may be missing, none may
// appear twice, and no writer may end with the log's fatal exit.
TEST_F(LogRotationTest, ProcessesRotatingWithoutALockLoseNoLine) {
    std::string path = SetLog(0, "main");
    constexpr int kWriters = 8;
    constexpr int kLines = 2000;
    MaxLog[0] = 320000;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int n = 0; n < kLines; ++n) {
                dprintf(D_ALWAYS, "writer %d line %05d ..........\n", w, n);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    std::map<std::string, int> count;
    for (const std::string &file : {path + ".old", path}) {
        std::istringstream in(Read(file));
        std::string line;
        while (std::getline(in, line)) {
            ++count[line.compare(0, 5, "Now i") == 0 || line.compare(0, 5, "Savin") == 0 ||
                            line.compare(0, 7, "MaxLog ") == 0
                        ? line.substr(0, 6)
                        : line];
        }
    }
    EXPECT_EQ(1, count["Saving"]);
    EXPECT_EQ(1, count["Now in"]);
    EXPECT_EQ(1, count["MaxLog"]);
    int missing = 0;
    for (int w = 0; w < kWriters; ++w) {
        for (int n = 0; n < kLines; ++n) {
            char line[64];
            snprintf(line, sizeof line, "writer %d line %05d ..........", w, n);
            auto found = count.find(line);
            if (found == count.end()) {
                ++missing;
            } else {
                EXPECT_EQ(1, found->second) << line;
                count.erase(found);
            }
        }
    }
    EXPECT_EQ(0, missing);
    count.erase("Saving");
    count.erase("Now in");
    count.erase("MaxLog");
    EXPECT_TRUE(count.empty()) << "unexpected line: " << count.begin()->first;
}

}  // namespace
