// Tests of child processes: pipe-connected children reading output (with
// and without standard error) and writing input, exit statuses, programs
// that cannot be executed, foreign streams, several open children,
// my_system, my_spawnv/my_spawnl, and the privilege drop in children. Every
// child started here is waited for.
#include "process/my_popen.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "process/arg_list.h"
#include "tests/support/output_capture.h"

namespace {

std::string ReadAll(FILE *stream) {
    std::string text;
    char chunk[256];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0) {
        text.append(chunk, got);
    }
    return text;
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - status;
}

ArgList V2(const char *raw) {
    ArgList list;
    list.AppendArgsV2Raw(raw, nullptr);
    return list;
}

// Runs body in a forked child that may change its ids or block, under a
// time limit; body's output is collected from a pipe. Returns the child's
// wait status.
int InForkedChild(const std::function<int(int out_fd)> &body, std::string *output) {
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        alarm(30);
        _exit(body(ends[1]));
    }
    close(ends[1]);
    char chunk[512];
    ssize_t got = 0;
    while ((got = read(ends[0], chunk, sizeof chunk)) > 0) {
        output->append(chunk, static_cast<size_t>(got));
    }
    close(ends[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

TEST(MyPopenTest, ReadsStandardOutputOnlyUnlessAsked) {
    ArgList args = V2("sh -c 'echo out; echo err 1>&2'");
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    FILE *stream = my_popen(args, "r", 0);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("out\n", ReadAll(stream));
    int status = my_pclose(stream);
    EXPECT_EQ("err\n", captured_err.Finish());
    EXPECT_EQ(0, ExitCode(status));

    stream = my_popen(args, "r", 1);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("out\nerr\n", ReadAll(stream));
    EXPECT_EQ(0, my_pclose(stream));
    EXPECT_EQ(nullptr, popen_entry_head);
}

TEST(MyPopenTest, WritesStandardInput) {
    ArgList args = V2("sh -c 'read line; test \"$line\" = hello'");
    FILE *stream = my_popen(args, "w", 0);
    ASSERT_NE(nullptr, stream);
    fputs("hello\n", stream);
    EXPECT_EQ(0, ExitCode(my_pclose(stream)));
}

TEST(MyPopenTest, StatusesBelongToTheirOwnChildren) {
    ArgList three = V2("sh -c 'exit 3'");
    ArgList five = V2("sh -c 'exit 5'");
    for (bool newest_first : {true, false}) {
        FILE *first = my_popen(three, "r", 0);
        FILE *second = my_popen(five, "r", 0);
        ASSERT_NE(nullptr, first);
        ASSERT_NE(nullptr, second);
        int status_five = newest_first ? my_pclose(second) : 0;
        EXPECT_EQ(3, ExitCode(my_pclose(first)));
        status_five = newest_first ? status_five : my_pclose(second);
        EXPECT_EQ(5, ExitCode(status_five));
    }
    EXPECT_EQ(nullptr, popen_entry_head);
}

// Regression: a writer's child must see the end of its input when its
// stream closes, even while a later child is still running.
TEST(MyPopenTest, WriterClosesWhileAnotherChildRuns) {
    std::string unused;
    int status = InForkedChild(
        [](int) {
            ArgList cat = V2("sh -c 'cat >/dev/null; exit 6'");
            FILE *first = my_popen(cat, "w", 0);
            FILE *second = my_popen(cat, "w", 0);
            if (first == nullptr || second == nullptr) return 1;
            int first_status = my_pclose(first);
            int second_status = my_pclose(second);
            return ExitCode(first_status) == 6 && ExitCode(second_status) == 6 ? 0 : 2;
        },
        &unused);
    EXPECT_EQ(0, ExitCode(status));
}

TEST(MyPopenTest, MissingProgramExitsWithEight) {
    char missing[] = "/nonexistent/program";
    char *argv[] = {missing, nullptr};
    FILE *stream = my_popenv(argv, "r", 0);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("", ReadAll(stream));
    EXPECT_EQ(8, ExitCode(my_pclose(stream)));
}

TEST(MyPopenTest, ForeignAndMissingStreams) {
    FILE *foreign = tmpfile();
    ASSERT_NE(nullptr, foreign);
    EXPECT_EQ(-1, my_pclose(foreign));
    EXPECT_EQ(-1, my_pclose(nullptr));
    ArgList empty;
    EXPECT_EQ(nullptr, my_popen(empty, "r", 0));
}

TEST(MySystemTest, ReturnsTheWaitStatus) {
    ArgList three = V2("sh -c 'exit 3'");
    EXPECT_EQ(3, ExitCode(my_system(three)));
    // Standard input is already closed: a reader finishes at once.
    ArgList reader = V2("sh -c 'cat; exit 4'");
    EXPECT_EQ(4, ExitCode(my_system(reader)));
    ArgList empty;
    EXPECT_EQ(-1, my_system(empty));
}

TEST(MySpawnTest, RunsWithoutPathSearchAndWaits) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char script[] = "exit 9";
    char *argv[] = {sh, dash_c, script, nullptr};
    EXPECT_EQ(9, ExitCode(my_spawnv("/bin/sh", argv)));
    EXPECT_EQ(8, ExitCode(my_spawnv("no-such-program-in-cwd", argv)));
    EXPECT_EQ(0, ChildPid);

    // Another spawn still waiting (as seen from a signal handler) refuses.
    ChildPid = getpid();
    int refused = my_spawnv("/bin/sh", argv);
    ChildPid = 0;
    EXPECT_EQ(-1, refused);
}

TEST(MySpawnTest, SpawnlPassesAtMost32Arguments) {
    // sh -c 'exit $#' zero a1 ... : the status counts what follows "zero".
    EXPECT_EQ(2, ExitCode(my_spawnl("/bin/sh", "sh", "-c", "exit $#", "zero", "a1", "a2",
                                    static_cast<char *>(nullptr))));
    // 33 arguments after the path: 29 after "zero", of which 28 arrive.
    EXPECT_EQ(28, ExitCode(my_spawnl("/bin/sh", "sh", "-c", "exit $#", "zero", "1", "2", "3", "4",
                                     "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15",
                                     "16", "17", "18", "19", "20", "21", "22", "23", "24", "25",
                                     "26", "27", "28", "29", static_cast<char *>(nullptr))));
}

// A root process running with another effective identity starts children
// whose every id is that identity, with that one group and no way back.
TEST(ChildPrivilegesTest, ChildrenKeepOnlyTheEffectiveIds) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root: to run with another effective identity";
    }
    const int kId = 4242;
    std::string status_text;
    int status = InForkedChild(
        [kId](int out_fd) {
            if (setegid(kId) != 0 || seteuid(kId) != 0) return 1;
            ArgList cat = V2("cat /proc/self/status");
            FILE *stream = my_popen(cat, "r", 0);
            if (stream == nullptr) return 2;
            std::string text = ReadAll(stream);
            if (ExitCode(my_pclose(stream)) != 0) return 3;
            return write(out_fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                                : 4;
        },
        &status_text);
    ASSERT_EQ(0, ExitCode(status));
    EXPECT_NE(std::string::npos, status_text.find("\nUid:\t4242\t4242\t4242\t4242\n"))
        << status_text;
    EXPECT_NE(std::string::npos, status_text.find("\nGid:\t4242\t4242\t4242\t4242\n"));
    EXPECT_NE(std::string::npos, status_text.find("\nGroups:\t4242 \n"));
    EXPECT_NE(std::string::npos, status_text.find("\nCapPrm:\t0000000000000000\n"));
    EXPECT_NE(std::string::npos, status_text.find("\nCapEff:\t0000000000000000\n"));
}

}  // namespace
