// The administrator tools (torvel_config_val, classad_eval) run as a user
// runs them, under the faults a user meets: standard output on /dev/full,
// closed, or on a small file system that fills (a tmpfs mounted in the
// child's own mount namespace), ad files that are directories or whose
// reads fail part-way (strace injecting EIO at every read in turn), and a
// huge binary line in an ad file. A lost answer or a failed read must never
// exit 0, and error messages must stay small and printable.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kConfigVal[] = TORVEL_BINARY_DIR "/tools/torvel_config_val";
const char kClassadEval[] = TORVEL_BINARY_DIR "/tools/classad_eval";
const char kStrace[] = "/usr/bin/strace";

using torvel_test::ProgramRun;

// The name a program's messages carry: the last part of its path.
std::string BaseName(const std::string &path) {
    return path.substr(path.rfind('/') + 1);
}

// Child set-up that points standard output at path (created or truncated).
std::function<bool()> StdoutTo(const std::string &path) {
    return [path] {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        return fd >= 0 && dup2(fd, 1) == 1;
    };
}

// Child set-up that mounts a tmpfs of `size` on mount_point in a mount
// namespace of the child's own, and points standard output at a file on it.
// The mount goes with the child; nothing is left to clean up.
std::function<bool()> StdoutOnTmpfs(const std::string &mount_point, const std::string &size) {
    return [mount_point, size] {
        std::string options = "size=" + size;
        return unshare(CLONE_NEWNS) == 0 &&
               mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount("tmpfs", mount_point.c_str(), "tmpfs", 0, options.c_str()) == 0 &&
               StdoutTo(mount_point + "/out")();
    };
}

class ToolsFaultsTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        config_ = dir_.Write("torvel_config", "A = 1\nB = $(A)2\n");
    }

    // under_ptrace: the program runs under strace, where a sanitizer
    // build's leak check cannot work and must be off.
    ProgramRun Run(const std::string &program, const std::vector<std::string> &args,
                   std::function<bool()> child_setup = nullptr, bool under_ptrace = false) {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin", "TORVEL_CONFIG=" + config_,
            "TORVEL_IDS=" + std::to_string(getuid()) + "." + std::to_string(getgid())};
        for (const std::string &entry :
             under_ptrace ? torvel_test::SanitizerEnvUnderPtrace() : torvel_test::SanitizerEnv()) {
            env.push_back(entry);
        }
        torvel_test::ProgramOptions options;
        options.child_setup = std::move(child_setup);
        return torvel_test::RunProgram(program, args, env, options);
    }

    // The same run with an ordinary standard output and with a lost one:
    // the first succeeds with an answer, the second exits with lost_status
    // (1, or 2 for the forms whose 1 means "no match") and the first one's
    // messages followed by "PROGRAM: write error: reason".
    void ExpectLostAnswerFails(const std::string &program, const std::vector<std::string> &args,
                               std::function<bool()> lose, const std::string &reason,
                               int lost_status = 1) {
        std::string what = BaseName(program) + " " + (args.empty() ? "" : args[0]);
        ProgramRun fine = Run(program, args);
        ASSERT_EQ(0, fine.status) << what << ": " << fine.err;
        ASSERT_NE("", fine.out) << what;
        ProgramRun lost = Run(program, args, lose);
        EXPECT_EQ(lost_status, lost.status) << what;
        EXPECT_EQ(fine.err + BaseName(program) + ": write error: " + reason + "\n", lost.err)
            << what;
    }

    torvel_test::TempDir dir_{"torvel_tools_faults"};
    std::string config_;
};

TEST_F(ToolsFaultsTest, AnswersWrittenToAFullDeviceFail) {
    std::string ad = dir_.Write("ad", "MyType = \"Job\"\nTargetType = \"Job\"\n");
    const std::vector<std::pair<const char *, std::vector<std::string>>> runs = {
        {kClassadEval, {"1+1"}},
        {kClassadEval, {"--print", "a+b"}},
        {kClassadEval, {"--match", ad, ad}},
        {kClassadEval, {"--my", ad, "MY.MyType"}},
        {kClassadEval, {"--help"}},
        {kClassadEval, {"--version"}},
        {kConfigVal, {"A"}},
        {kConfigVal, {"--where", "B"}},
        {kConfigVal, {"--raw", "B"}},
        {kConfigVal, {"--expand", "$(B)"}},
        {kConfigVal, {"--int", "A", "0", "0", "9"}},
        {kConfigVal, {"--dump"}},
        {kConfigVal, {"--debug", "A"}},
        {kConfigVal, {"--help"}},
    };
    for (const auto &run : runs) {
        ExpectLostAnswerFails(run.first, run.second, StdoutTo("/dev/full"),
                              "No space left on device");
    }
    const std::string pool = TORVEL_SOURCE_DIR "/examples/pool/";
    // --match-all keeps 1 for "no match".
    for (const auto &[form, lost_status] : {std::pair{"--analyze", 1}, {"--match-all", 2}}) {
        ExpectLostAnswerFails(kClassadEval, {form, pool + "job_matches.ad", pool + "machines.ads"},
                              StdoutTo("/dev/full"), "No space left on device", lost_status);
    }
}

TEST_F(ToolsFaultsTest, AnswersWrittenToAClosedOutputExitOne) {
    auto closed = [] { return close(1) == 0; };
    ExpectLostAnswerFails(kClassadEval, {"1+1"}, closed, "Bad file descriptor");
    ExpectLostAnswerFails(kConfigVal, {"A"}, closed, "Bad file descriptor");
    // Nothing to write, nothing lost.
    ProgramRun quiet = Run(kConfigVal, {"NO_SUCH"}, closed);
    EXPECT_EQ(1, quiet.status);
    EXPECT_EQ("Not defined: NO_SUCH\n", quiet.err);
}

// The answers are far larger than the file system: the first 64 KiB are
// written, the rest is lost, and that must show in the status.
TEST_F(ToolsFaultsTest, AnswersFillingTheFileSystemExitOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    std::string config;
    for (int i = 0; i < 8000; ++i) {
        config += "NAME_" + std::to_string(i) + " = " + std::string(40, 'v') + "\n";
    }
    config_ = dir_.Write("big_config", config);
    std::string ad = dir_.Write("ad", "S = \"" + std::string(2000, 's') + "\"\n");
    std::vector<std::string> many = {"--my", ad};
    for (int i = 0; i < 200; ++i) many.push_back("MY.S");
    std::string mount_point = dir_.MakeDir("mnt");

    for (auto run : {std::make_pair(kConfigVal, std::vector<std::string>{"--dump"}),
                     std::make_pair(kClassadEval, many)}) {
        std::string name = BaseName(run.first);
        ProgramRun roomy = Run(run.first, run.second, StdoutOnTmpfs(mount_point, "4m"));
        EXPECT_EQ(0, roomy.status) << name << ": " << roomy.err;
        EXPECT_EQ("", roomy.err) << name;
        ProgramRun full = Run(run.first, run.second, StdoutOnTmpfs(mount_point, "64k"));
        EXPECT_EQ(1, full.status) << name;
        EXPECT_EQ(name + ": write error: No space left on device\n", full.err) << name;
    }
}

TEST_F(ToolsFaultsTest, AdFilesThatCannotBeReadExitOne) {
    std::string dir = dir_.MakeDir("not_an_ad");
    std::string ad = dir_.Write("ad", "X = 1\n");
    const std::vector<std::vector<std::string>> runs = {
        {"--my", dir, "MY.X"}, {"--target", dir, "TARGET.X"}, {"--my", ad, "--target", dir, "MY.X"},
        {"--match", dir, dir}, {"--match", ad, dir},
    };
    for (const std::vector<std::string> &args : runs) {
        ProgramRun r = Run(kClassadEval, args);
        EXPECT_EQ(1, r.status) << args[0] << " " << args[1];
        EXPECT_EQ("", r.out) << args[0] << " " << args[1];
        EXPECT_EQ("classad_eval: " + dir + ": Is a directory\n", r.err);
    }
}

// EIO injected at the 1st, 2nd, 3rd... read of the process in turn: each
// run either fails, or succeeds with every answer; a read error in the ad
// file never passes for its end.
TEST_F(ToolsFaultsTest, ReadErrorAtEveryPointOfAnAdFileFails) {
    if (access(kStrace, X_OK) != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        text += "A_" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    }
    std::string ad = dir_.Write("ad", text);  // several read buffers long
    const std::string answers = "INTEGER:0\nINTEGER:29999\n";
    const std::string read_error = "classad_eval: " + ad + ": Input/output error\n";
    int file_failures = 0;
    int n = 1;
    for (; n < 400; ++n) {
        ProgramRun r = Run(kStrace,
                           {"-f", "-qq", "-o", "/dev/null", "-e", "trace=read", "-e",
                            "inject=read:error=EIO:when=" + std::to_string(n), kClassadEval, "--my",
                            ad, "MY.A_0", "MY.A_29999"},
                           nullptr, true);
        ASSERT_FALSE(r.timed_out) << n;
        if (r.err == read_error) {
            ++file_failures;
            EXPECT_EQ(1, r.status) << n;
            EXPECT_EQ("", r.out) << n;
        } else if (r.status == 0) {
            EXPECT_EQ(answers, r.out) << "read " << n << " failed: " << r.err;
            if (file_failures > 0) {
                break;  // past the last read of the ad file
            }
        }
    }
    EXPECT_LT(n, 400) << "never ran past the ad file's reads";
    EXPECT_GE(file_failures, 5) << "the ad file spans several reads";
}

TEST_F(ToolsFaultsTest, HugeBadAdLineIsQuotedShortly) {
    std::string payload = "@";
    for (size_t i = 0; payload.size() < 2000000; ++i) {
        payload += static_cast<char>(i % 256 == 0 ? 1 : i % 256);  // no NUL, no newline
        if (payload.back() == '\n') payload.back() = '\x7f';
    }
    std::string ad = dir_.Write("ad", "A = 1\nB = " + payload + "\n");
    ProgramRun r = Run(kClassadEval, {"--my", ad, "MY.A"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_LT(r.err.size(), 1200u);
    EXPECT_EQ(0u, r.err.find("classad_eval: " + ad + ":2: not an attribute assignment: B = @"))
        << r.err.substr(0, 300);
    std::string tail = "... (" + std::to_string(4 + payload.size()) + " bytes)\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(tail, r.err.substr(r.err.size() - tail.size()));
    for (size_t i = 0; i + 1 < r.err.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(r.err[i]);
        ASSERT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << i << " is " << static_cast<int>(c);
    }
}

}  // namespace
