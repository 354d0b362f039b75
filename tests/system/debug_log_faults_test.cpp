// The debug log driven from outside: several processes, each a program that
// set its log up, writing long lines to one log file without the lock
// file, and one writer whose disk takes each line in pieces. Every line
// must arrive whole, exactly once and in each writer's order; and a line
// must reach its file in one write call, header included (checked under
// strace where it can run).
#include <gtest/gtest.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kWriter = TORVEL_BINARY_DIR "/tests/debug_log_writer";
constexpr size_t kLineLength = 20000;  // message bytes, newline included

std::vector<std::string> WriterEnv(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> env = torvel_test::SanitizerEnv();
    // The writer's own ids as the service account: its switches change no
    // ids, and the log stays the test's.
    env.push_back("TORVEL_IDS=" + std::to_string(getuid()) + "." + std::to_string(getgid()));
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Starts program with args and exactly env, output thrown away; the pid.
pid_t Start(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &env) {
    std::vector<std::string> all_args = {program};
    all_args.insert(all_args.end(), args.begin(), args.end());
    std::vector<std::string> all_env = env;
    std::vector<char *> argv, envp;
    for (std::string &a : all_args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : all_env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int WaitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));  // an unfinished last line
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Checks every line of log against the writers' form: a header, then
// "<tag> <n> " and the tag's letter up to kLineLength - 1 bytes. Each tag
// must show lines 0 .. lines-1 once each, in order. Returns the problems
// found: the count of malformed lines (quoting the start of the first
// few) and each writer whose whole lines are missing or out of order.
std::string CheckLog(const std::string &log, const std::vector<std::string> &tags, long lines) {
    regex_t header;
    if (regcomp(&header, "^[0-9]{1,2}/[0-9]{1,2} [0-9]{2}:[0-9]{2}:[0-9]{2} ", REG_EXTENDED) != 0) {
        return "bad pattern";
    }
    std::map<std::string, long> next;  // per tag: the number its next line must carry
    std::map<std::string, long> out_of_order;
    for (const std::string &tag : tags) next[tag] = 0;
    std::string problems;
    long torn = 0;
    std::vector<std::string> all = SplitLines(log);
    for (const std::string &line : all) {
        regmatch_t match;
        bool ok = regexec(&header, line.c_str(), 1, &match, 0) == 0;
        std::string body = ok ? line.substr(static_cast<size_t>(match.rm_eo)) : "";
        size_t space = body.find(' ');
        std::string tag = space != std::string::npos ? body.substr(0, space) : "";
        long number = ok ? strtol(body.c_str() + tag.size(), nullptr, 10) : -1;
        ok = ok && next.count(tag) == 1 && body.size() == kLineLength - 1;
        if (ok) {
            std::string expected = tag + " " + std::to_string(number) + " ";
            expected.append(kLineLength - 1 - expected.size(), tag[0]);
            ok = body == expected;
        }
        if (!ok) {
            if (torn++ < 3) {
                problems += "bad line (" + std::to_string(line.size()) +
                            " bytes): " + line.substr(0, 60) + "...\n";
            }
            continue;
        }
        if (number != next[tag]) {
            ++out_of_order[tag];
        }
        next[tag] = number + 1;
    }
    regfree(&header);
    if (torn > 0) {
        problems += std::to_string(torn) + " of " + std::to_string(all.size()) + " lines torn\n";
    }
    for (const std::string &tag : tags) {
        if (next[tag] != lines || out_of_order[tag] != 0) {
            problems += "writer " + tag + ": last whole line " + std::to_string(next[tag] - 1) +
                        ", " + std::to_string(out_of_order[tag]) +
                        " out of order or after a lost one; expected 0 .. " +
                        std::to_string(lines - 1) + "\n";
        }
    }
    return problems;
}

class DebugLogFaultsTest : public ::testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        ASSERT_EQ(0, access(kWriter.c_str(), X_OK)) << kWriter;
        log_ = dir_.Path("shared.log");
    }

    torvel_test::TempDir dir_{"debug_log_faults"};
    std::string log_;
};

// Lines longer than stdio's buffer used to go out in several writes each,
// and writers sharing the log without DebugLock interleaved the pieces.
TEST_F(DebugLogFaultsTest, LongLinesOfSeveralWritersWithoutLockArriveWhole) {
    const std::vector<std::string> tags = {"A", "B", "C", "D"};
    const long lines = 300;
    std::vector<pid_t> writers;
    for (const std::string &tag : tags) {
        pid_t pid = Start(kWriter, {log_, tag, std::to_string(lines), std::to_string(kLineLength)},
                          WriterEnv());
        ASSERT_GT(pid, 0);
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        EXPECT_EQ(0, WaitStatus(pid));
    }
    std::string problems = CheckLog(torvel_test::ReadFile(log_), tags, lines);
    EXPECT_EQ("", problems);
}

// A file system that takes part of a line per call: the rest follows in
// further calls, and the line still arrives whole, after whatever the
// log held before it.
TEST_F(DebugLogFaultsTest, ShortWritesAreContinued) {
    torvel_test::ProgramRun run = torvel_test::RunProgram(
        kWriter, {log_, "S", "20", std::to_string(kLineLength)}, WriterEnv({"SHORT_WRITES=4096"}));
    ASSERT_EQ(0, run.status) << run.err;
    // Each line of about 20,000 bytes: four calls cut to 4,096, then the rest.
    EXPECT_EQ("cut 80 writes short\n", run.err);
    EXPECT_EQ("", CheckLog(torvel_test::ReadFile(log_), {"S"}, 20));
}

// Also with the lock file: each line is
// one write call of the whole line, header included.
TEST_F(DebugLogFaultsTest, EachLineIsOneWriteCall) {
    if (system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    std::string trace = dir_.Path("trace");
    std::vector<std::string> args = {"-f",
                                     "-qq",
                                     "-e",
                                     "trace=write",
                                     "-o",
                                     trace,
                                     kWriter,
                                     log_,
                                     "W",
                                     "5",
                                     std::to_string(kLineLength),
                                     dir_.Path("lock")};
    torvel_test::ProgramRun run = torvel_test::RunProgram("/usr/bin/strace", args, WriterEnv());
    if (run.status != 0 && run.err.find("ptrace") != std::string::npos) {
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    }
    ASSERT_EQ(0, run.status) << run.err;
    ASSERT_EQ("", CheckLog(torvel_test::ReadFile(log_), {"W"}, 5));

    // The header's length varies with the date; every line of the log has
    // the same one, so the first line's length serves for all.
    std::string log = torvel_test::ReadFile(log_);
    size_t line_bytes = log.find('\n') + 1;
    int whole = 0;
    int pieces = 0;
    for (const std::string &call : SplitLines(torvel_test::ReadFile(trace))) {
        size_t equals = call.rfind("= ");
        if (call.find("write(") == std::string::npos || equals == std::string::npos) {
            continue;
        }
        long bytes = strtol(call.c_str() + equals + 2, nullptr, 10);
        if (bytes == static_cast<long>(line_bytes)) {
            ++whole;
        } else if (bytes > 0) {
            ++pieces;
        }
    }
    EXPECT_EQ(5, whole);
    EXPECT_EQ(0, pieces) << torvel_test::ReadFile(trace).substr(0, 2000);
}

}  // namespace
