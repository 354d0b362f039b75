// Several processes sharing one log through its lock file: every line
// arrives whole and exactly once, and rotation past MaxLog while another
// process writes leaves only complete lines, the kept lines of each writer
// forming an unbroken run up to its last one.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "debug_log_fixture.h"
#include "diagnostics/debug_log.h"

namespace {

using debug_log_test::DebugLogTest;
using debug_log_test::kHeader;
using debug_log_test::MatchesWhole;

class DebugLogProcessesTest : public DebugLogTest {
 protected:
    void SetUp() override {
        DebugLogTest::SetUp();
        log_ = SetLog(0, "main");
        std::string lock = Path("log.lock");
        DebugLock = strdup(lock.c_str());
    }

    // Forks `writers` children, child P writing lines "proc P line N" for
    // N in 0 .. lines - 1, then waits for all of them. The lock must not be
    // open yet: children sharing one open lock description would not
    // exclude each other.
    void RunWriters(int writers, int lines) {
        ASSERT_LT(LockFd, 0);
        std::vector<pid_t> children;
        for (int p = 0; p < writers; ++p) {
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                for (int n = 0; n < lines; ++n) {
                    dprintf(D_ALWAYS, "proc %d line %d padding-to-a-typical-length\n", p, n);
                }
                _exit(0);
            }
            children.push_back(child);
        }
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(child, waitpid(child, &status, 0));
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }

    static std::vector<std::string> Lines(const std::string &text, bool *ends_with_newline) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                *ends_with_newline = false;
                return lines;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        *ends_with_newline = true;
        return lines;
    }

    // For a well-formed data line, its writer and number; false otherwise.
    static bool ParseDataLine(const std::string &line, int *p, int *n) {
        std::string pattern =
            std::string(kHeader) + "proc [0-9]+ line [0-9]+ padding-to-a-typical-length";
        if (!MatchesWhole(line, pattern)) {
            return false;
        }
        size_t at = line.find("proc ");
        return sscanf(line.c_str() + at, "proc %d line %d", p, n) == 2;
    }

    std::string log_;
};

TEST_F(DebugLogProcessesTest, FourProcessesWriteEveryLineWholeAndOnce) {
    constexpr int kWriters = 4;
    constexpr int kLines = 200;
    RunWriters(kWriters, kLines);

    bool newline_end = false;
    std::vector<std::string> lines = Lines(Read(log_), &newline_end);
    EXPECT_TRUE(newline_end);
    ASSERT_EQ(static_cast<size_t>(kWriters * kLines), lines.size());
    std::set<std::pair<int, int>> seen;
    std::map<int, int> last_of;  // each writer's lines stay in its order
    for (const std::string &line : lines) {
        int p = -1;
        int n = -1;
        ASSERT_TRUE(ParseDataLine(line, &p, &n)) << line;
        ASSERT_TRUE(p >= 0 && p < kWriters && n >= 0 && n < kLines) << line;
        EXPECT_TRUE(seen.insert({p, n}).second) << "twice: " << line;
        auto previous = last_of.find(p);
        if (previous != last_of.end()) {
            EXPECT_LT(previous->second, n) << line;
        }
        last_of[p] = n;
    }
    EXPECT_EQ(static_cast<size_t>(kWriters * kLines), seen.size());
}

TEST_F(DebugLogProcessesTest, RotationWhileAnotherProcessWritesKeepsLinesWhole) {
    constexpr int kWriters = 2;
    constexpr int kLines = 300;
    MaxLog[0] = 2000;
    RunWriters(kWriters, kLines);
    // Written after every child has finished, so it is the newest line.
    dprintf(D_ALWAYS, "parent done\n");

    std::string old_name = log_ + ".old";
    std::string current = Read(log_);
    std::string old = Read(old_name);
    ASSERT_NE("<missing>", old) << "no rotation happened";
    std::set<std::string> notices = {
        "Now in new log file " + log_,
        "Saving log file to \"" + old_name + "\"",
    };

    // Lines of each writer, oldest generation first.
    std::map<int, std::vector<int>> kept;
    bool parent_line_last = false;
    int generation = 0;
    for (const std::string *text : {&old, &current}) {
        bool newline_end = false;
        std::vector<std::string> lines = Lines(*text, &newline_end);
        EXPECT_TRUE(newline_end) << (generation == 0 ? "old" : "current");
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string &line = lines[i];
            int p = -1;
            int n = -1;
            if (ParseDataLine(line, &p, &n)) {
                ASSERT_TRUE(p >= 0 && p < kWriters && n >= 0 && n < kLines) << line;
                kept[p].push_back(n);
            } else if (MatchesWhole(line, std::string(kHeader) + "parent done")) {
                parent_line_last = generation == 1 && i + 1 == lines.size();
            } else if (notices.count(line) == 0 &&
                       !MatchesWhole(line, "MaxLog = 2000, length = [0-9]+")) {
                ADD_FAILURE() << "broken line: \"" << line << "\"";
            }
        }
        ++generation;
    }
    EXPECT_TRUE(parent_line_last);
    // The two kept files are the latest stretch of time, so what remains of
    // each writer is an unbroken run ending at its last line.
    for (const auto &entry : kept) {
        const std::vector<int> &numbers = entry.second;
        ASSERT_FALSE(numbers.empty());
        EXPECT_EQ(kLines - 1, numbers.back()) << "writer " << entry.first;
        for (size_t i = 1; i < numbers.size(); ++i) {
            EXPECT_EQ(numbers[i - 1] + 1, numbers[i]) << "writer " << entry.first;
        }
    }
}

}  // namespace
