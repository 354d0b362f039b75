// Rotation of logs past MaxLog: the exact contents of the fresh and the old
// file, the limit being exclusive, one old generation only, per-category
// logs rotating alone, and a rotation that cannot link ending the process.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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
    EXPECT_EQ(earlier + "MaxLog = 100, length = 200\nSaving log file to \"" + config_log +
                  ".old\"\n",
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

}  // namespace
