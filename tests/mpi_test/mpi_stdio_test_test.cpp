// The MPI standard-I/O test job, run for real: the MPICH build under
// MPICH's Hydra launcher (as root), the LAM build under a LAM universe booted
// on this host by a throw-away unprivileged account (LAM refuses root). With
// one rank the streams are compared byte for byte; with two, the rank lines.
// A launcher that cannot start fails the test.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <shadow.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace {

const std::string kP4Program = std::string(TORVEL_BINARY_DIR) + "/mpi_test/mpi_stdio_test_p4";
const std::string kLamProgram = std::string(TORVEL_BINARY_DIR) + "/mpi_test/mpi_stdio_test_lam";

std::string find_in_path(const std::string &program) {
    const char *path = getenv("PATH");
    std::string dirs = std::string(path != nullptr ? path : "") + ":/usr/sbin:/usr/bin:/sbin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? colon : colon - start);
        std::string candidate = dir + "/" + program;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            return program;  // exec fails and the test reports it
        }
        start = colon + 1;
    }
}

using torvel_test::ReadFile;
using torvel_test::RemoveTree;
using torvel_test::WriteFile;

size_t count(const std::string &text, const std::string &piece) {
    size_t found = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++found;
    }
    return found;
}

struct Outcome {
    int status = -1;  // exit status; -1 when killed or not exited
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Runs argv in its own process group with standard input from input (text
// written to a file), standard output and error captured, in directory cwd.
// Kills the group after timeout_seconds.
Outcome run(const std::vector<std::string> &argv, const std::string &input = "",
            const std::string &cwd = "/tmp", int timeout_seconds = 60) {
    Outcome result;
    char dir_pattern[] = "/tmp/torvel_mpi_run_XXXXXX";
    if (mkdtemp(dir_pattern) == nullptr) {
        return result;
    }
    std::string dir = dir_pattern;
    chmod(dir.c_str(), 0755);
    std::string in_path = dir + "/in", out_path = dir + "/out", err_path = dir + "/err";
    if (!WriteFile(in_path, input, 0644)) {
        RemoveTree(dir);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char *> args;
        for (const std::string &arg : argv) {
            args.push_back(const_cast<char *>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid > 0) {
        setpgid(pid, pid);
        int status = 0;
        if (!torvel_test::WaitForExit(pid, timeout_seconds * 1000)) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
        }
        if (waitpid(pid, &status, 0) != pid) {
            status = -1;
        }
        if (!result.timed_out && status != -1 && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
    }
    result.out = ReadFile(out_path);
    result.err = ReadFile(err_path);
    RemoveTree(dir);
    return result;
}

std::string describe(const Outcome &run) {
    return "status " + std::to_string(run.status) + (run.timed_out ? " (timed out)" : "") +
           "\n--- stdout ---\n" + run.out + "\n--- stderr ---\n" + run.err;
}

// What one rank of the job writes for an input.
struct Expected {
    std::string out;
    std::string err;
};

Expected one_rank(const std::string &echoed) {
    return {"Printing to stdout...0\nFrom stdin: " + echoed, "Printing to stderr...0\n"};
}

const std::string kLongLine = std::string(200, 'x') + "\n";

// Exactly the streams of a one-rank job, for each input case.
struct InputCase {
    const char *name;
    std::string input;
    std::string echoed;
};

std::vector<InputCase> input_cases() {
    return {
        {"a line", "hello\n", "hello\n"},
        {"only the first line", "first\nsecond\n", "first\n"},
        {"a longer line is cut to 127 characters", kLongLine, std::string(127, 'x')},
        {"126 characters keep their newline", std::string(126, 'y') + "\n",
         std::string(126, 'y') + "\n"},
        {"end of input echoes nothing", "", ""},
        {"a last line without newline", "tail", "tail"},
    };
}

void expect_two_ranks(const Outcome &job) {
    SCOPED_TRACE(describe(job));
    EXPECT_EQ(job.status, 0);
    for (const char *line : {"Printing to stdout...0\n", "Printing to stdout...1\n"}) {
        EXPECT_EQ(count(job.out, line), 1u) << line;
    }
    for (const char *line : {"Printing to stderr...0\n", "Printing to stderr...1\n"}) {
        EXPECT_EQ(count(job.err, line), 1u) << line;
    }
    // Rank 0 echoes the job's input; rank 1 reads an empty input.
    EXPECT_EQ(count(job.out, "From stdin: "), 2u);
    EXPECT_EQ(count(job.out, "From stdin: hello\n"), 1u);
    EXPECT_EQ(count(job.out, "Printing to stdout..."), 2u);
    EXPECT_EQ(count(job.err, "Printing to stderr..."), 2u);
}

// ---------------------------------------------------------------- linking

TEST(MpiProgramLinkTest, MpichBuildHasMpichLinkedIn) {
    Outcome ldd = run({find_in_path("ldd"), kP4Program});
    ASSERT_EQ(ldd.status, 0) << describe(ldd);
    EXPECT_EQ(ldd.out.find("libmpich"), std::string::npos) << ldd.out;
    EXPECT_EQ(ldd.out.find("liblam"), std::string::npos) << ldd.out;
    // MPICH defines MPI_Init as a weak alias of PMPI_Init.
    Outcome nm = run({find_in_path("nm"), kP4Program});
    ASSERT_EQ(nm.status, 0);
    EXPECT_NE(nm.out.find(" T PMPI_Init\n"), std::string::npos) << "MPI_Init is not inside";
    EXPECT_NE(nm.out.find(" W MPI_Init\n"), std::string::npos) << "MPI_Init is not inside";
}

TEST(MpiProgramLinkTest, LamBuildUsesLamsSharedLibrary) {
    Outcome ldd = run({find_in_path("ldd"), kLamProgram});
    ASSERT_EQ(ldd.status, 0) << describe(ldd);
    EXPECT_NE(ldd.out.find("liblam.so"), std::string::npos) << ldd.out;
    EXPECT_EQ(ldd.out.find("libmpich"), std::string::npos) << ldd.out;
    Outcome nm = run({find_in_path("nm"), kLamProgram});
    ASSERT_EQ(nm.status, 0);
    EXPECT_NE(nm.out.find(" U MPI_Init\n"), std::string::npos) << "MPI_Init is linked in";
}

// ---------------------------------------------------------------- MPICH

Outcome mpich_job(const std::vector<std::string> &launch, const std::string &input) {
    std::vector<std::string> argv{find_in_path("mpiexec.mpich")};
    argv.insert(argv.end(), launch.begin(), launch.end());
    return run(argv, input);
}

TEST(MpichJobTest, OneRankWritesExactlyItsLinesAndEchoesItsInput) {
    for (const InputCase &c : input_cases()) {
        SCOPED_TRACE(c.name);
        Outcome job = mpich_job({"-n", "1", kP4Program}, c.input);
        ASSERT_FALSE(job.timed_out) << describe(job);
        ASSERT_EQ(job.status, 0) << describe(job);
        Expected expected = one_rank(c.echoed);
        EXPECT_EQ(job.out, expected.out);
        EXPECT_EQ(job.err, expected.err);
    }
}

TEST(MpichJobTest, TwoRanksEachAnnounceTheirRank) {
    // Hydra gives standard input to rank 0 only and leaves the other ranks
    // on a pipe that never ends; rank 1 gets an empty input instead.
    Outcome job = mpich_job({"-n", "1", kP4Program, ":", "-n", "1", "/bin/sh", "-c",
                             "exec \"$0\" </dev/null", kP4Program},
                            "hello\n");
    expect_two_ranks(job);
}

// ---------------------------------------------------------------- LAM

// A LAM universe on this host, booted by an account made for the test and
// removed with everything it left when the suite ends.
class LamJobTest : public ::testing::Test {
 protected:
    static void SetUpTestSuite() {
        remove_stale_accounts();
        char pattern[] = "/tmp/torvel_lam_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
        home_ = dir_ + "/home";
        program_ = dir_ + "/mpi_stdio_test_lam";
        // The build tree may not be reachable for the account: run a copy.
        std::string binary = ReadFile(kLamProgram);
        ASSERT_FALSE(binary.empty()) << kLamProgram << " is missing";
        ASSERT_TRUE(WriteFile(program_, binary, 0755));
        ASSERT_TRUE(WriteFile(dir_ + "/hosts", "localhost\n", 0644));

        user_ = std::string(kAccountPrefix) + std::to_string(getpid());
        Outcome add = retry_account_tool({find_in_path("useradd"), "-M", "-d", home_, "-s",
                                          "/bin/sh", "-c", "torvel LAM test", user_});
        ASSERT_EQ(add.status, 0) << describe(add);
        created_ = true;
        uid_ = uid_of(user_);
        ASSERT_GT(uid_, 0);
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        ASSERT_EQ(chown(home_.c_str(), static_cast<uid_t>(uid_), static_cast<gid_t>(-1)), 0);

        Outcome boot = as_user({"lamboot", dir_ + "/hosts"});
        ASSERT_EQ(boot.status, 0) << "lamboot failed\n" << describe(boot);
        booted_ = true;
    }

    static void TearDownTestSuite() {
        if (booted_) {
            Outcome halt = as_user({"lamhalt"}, "", 30);
            EXPECT_EQ(halt.status, 0) << "lamhalt failed\n" << describe(halt);
        }
        if (uid_ > 0) {
            kill_processes_of(uid_);
        }
        if (created_) {
            Outcome del = retry_account_tool({find_in_path("userdel"), "-r", user_});
            EXPECT_EQ(del.status, 0) << describe(del);
            remove_lam_session_dirs(user_);
        }
        if (!dir_.empty()) {
            RemoveTree(dir_);
        }
        booted_ = created_ = false;
        uid_ = -1;
        dir_.clear();
    }

    void SetUp() override {
        if (!booted_) {
            FAIL() << "the LAM universe did not start";
        }
    }

    // Runs a LAM command as the test account with a small, fixed environment.
    static Outcome as_user(const std::vector<std::string> &command, const std::string &input = "",
                           int timeout_seconds = 60) {
        std::vector<std::string> argv{find_in_path("runuser"),
                                      "-u",
                                      user_,
                                      "--",
                                      "/usr/bin/env",
                                      "-i",
                                      "HOME=" + home_,
                                      "USER=" + user_,
                                      "LOGNAME=" + user_,
                                      "PATH=/usr/bin:/bin",
                                      "TMPDIR=/tmp"};
        argv.insert(argv.end(), command.begin(), command.end());
        return run(argv, input, dir_, timeout_seconds);
    }

    static Outcome lam_job(int ranks, const std::string &input) {
        return as_user({"mpirun.lam", "-np", std::to_string(ranks), program_}, input);
    }

 private:
    static constexpr const char *kAccountPrefix = "tvlamtest";

    // useradd and userdel fail while another process holds the account
    // files' lock; each retry first waits until that lock is free.
    static Outcome retry_account_tool(const std::vector<std::string> &argv) {
        Outcome result;
        for (int attempt = 0; attempt < 10; ++attempt) {
            result = run(argv);
            if (result.status == 0 || result.timed_out) {
                break;
            }
            if (lckpwdf() == 0) {
                ulckpwdf();
            }
        }
        return result;
    }

    static long uid_of(const std::string &name) {
        Outcome id = run({find_in_path("id"), "-u", name});
        return id.status == 0 ? strtol(id.out.c_str(), nullptr, 10) : -1;
    }

    // Kills every process of uid (all of them started by this test: the
    // account is new) until none is left.
    static void kill_processes_of(long uid) {
        for (int round = 0; round < 10; ++round) {
            bool found = false;
            DIR *proc = opendir("/proc");
            if (proc == nullptr) {
                return;
            }
            while (struct dirent *entry = readdir(proc)) {
                char *end = nullptr;
                long pid = strtol(entry->d_name, &end, 10);
                if (pid <= 0 || *end != '\0') {
                    continue;
                }
                std::string status = ReadFile("/proc/" + std::string(entry->d_name) + "/status");
                size_t at = status.find("\nUid:");
                if (at != std::string::npos &&
                    strtol(status.c_str() + at + 5, nullptr, 10) == uid) {
                    found = true;
                    kill(static_cast<pid_t>(pid), SIGKILL);
                    // Gone from /proc once its parent has collected it.
                    std::string entry_path = "/proc/" + std::string(entry->d_name);
                    torvel_test::WaitUntil([&] { return access(entry_path.c_str(), F_OK) != 0; },
                                           2000);
                }
            }
            closedir(proc);
            if (!found) {
                return;
            }
        }
    }

    static void remove_lam_session_dirs(const std::string &user) {
        DIR *tmp = opendir("/tmp");
        if (tmp == nullptr) {
            return;
        }
        std::string prefix = "lam-" + user + "@";
        std::vector<std::string> found;
        while (struct dirent *entry = readdir(tmp)) {
            if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
                found.push_back(std::string("/tmp/") + entry->d_name);
            }
        }
        closedir(tmp);
        for (const std::string &path : found) {
            RemoveTree(path);
        }
    }

    // Accounts of earlier runs of this test whose process is gone (killed
    // before its clean-up), with their processes.
    static void remove_stale_accounts() {
        std::string passwd = ReadFile("/etc/passwd");
        size_t start = 0;
        while (start < passwd.size()) {
            size_t end = passwd.find('\n', start);
            std::string line = passwd.substr(start, end == std::string::npos ? end : end - start);
            start = end == std::string::npos ? passwd.size() : end + 1;
            if (line.rfind(kAccountPrefix, 0) != 0) {
                continue;
            }
            std::string name = line.substr(0, line.find(':'));
            std::string digits = name.substr(strlen(kAccountPrefix));
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
                access(("/proc/" + digits).c_str(), F_OK) == 0) {
                continue;
            }
            long uid = uid_of(name);
            if (uid > 0) {
                kill_processes_of(uid);
            }
            retry_account_tool({find_in_path("userdel"), "-r", name});
            remove_lam_session_dirs(name);
        }
    }

    static std::string dir_, home_, program_, user_;
    static long uid_;
    static bool created_, booted_;
};

std::string LamJobTest::dir_, LamJobTest::home_, LamJobTest::program_, LamJobTest::user_;
long LamJobTest::uid_ = -1;
bool LamJobTest::created_ = false, LamJobTest::booted_ = false;

TEST_F(LamJobTest, OneRankWritesExactlyItsLinesAndEchoesItsInput) {
    for (const InputCase &c : input_cases()) {
        SCOPED_TRACE(c.name);
        Outcome job = lam_job(1, c.input);
        ASSERT_FALSE(job.timed_out) << describe(job);
        ASSERT_EQ(job.status, 0) << describe(job);
        Expected expected = one_rank(c.echoed);
        EXPECT_EQ(job.out, expected.out);
        EXPECT_EQ(job.err, expected.err);
    }
}

TEST_F(LamJobTest, TwoRanksEachAnnounceTheirRank) {
    // LAM gives standard input to rank 0; the other ranks read /dev/null.
    expect_two_ranks(lam_job(2, "hello\n"));
}

// LAM's MPI_Init sends a pointer it never set; unless the program binds its
// symbols at load time, about one start in three fails with EFAULT. Six
// starts in a row show that the program's own remedy holds.
TEST_F(LamJobTest, RepeatedStartsAllSucceed) {
    for (int i = 0; i < 6; ++i) {
        Outcome job = lam_job(1, "again\n");
        ASSERT_EQ(job.status, 0) << "start " << i << "\n" << describe(job);
        EXPECT_EQ(job.out, one_rank("again\n").out);
    }
}

}  // namespace
