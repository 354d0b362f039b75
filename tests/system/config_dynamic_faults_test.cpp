// Runtime and persistent settings tried from outside, through the built
// program config_dynamic_fault_probe: a store failed at every write,
// rename and fsync in turn (strace fault injection) never loses a setting
// reported as stored and never stops the next start; texts that would stop
// a start are refused; a process killed during config() leaves no copy of
// its runtime settings behind; a periodic signal without SA_RESTART never
// fails a configuration load.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kProbe[] = TORVEL_BINARY_DIR "/tests/config_dynamic_fault_probe";
const char kStrace[] = "/usr/bin/strace";

using torvel_test::ProgramRun;
using torvel_test::ReadFile;
using torvel_test::WriteFile;

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(text.substr(at, nl - at));
    }
    return lines;
}

std::vector<std::string> Entries(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (struct dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(d);
    return names;
}

class ConfigDynamicFaultsTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        global_ = dir_.Write("global", "");
        root_ = dir_.Write("root", "");
        pdir_ = dir_.MakeDir("p");
        top_ = pdir_ + "/.config.STARTD";
    }

    std::string Persistent() const {
        return "ENABLE_PERSISTENT_CONFIG = true\nPERSISTENT_CONFIG_DIR = " + pdir_ + "\n";
    }

    std::vector<std::string> Env(const std::string &global, bool under_ptrace = false) const {
        std::vector<std::string> env = {"PATH=/usr/bin:/bin", "TORVEL_CONFIG=" + global,
                                        "TORVEL_CONFIG_ROOT=" + root_, "TORVEL_IDS=65534.65534"};
        for (const std::string &keep :
             under_ptrace ? torvel_test::SanitizerEnvUnderPtrace() : torvel_test::SanitizerEnv()) {
            env.push_back(keep);
        }
        return env;
    }

    ProgramRun Probe(std::vector<std::string> steps, const std::string &subsystem = "STARTD") {
        steps.insert(steps.begin(), subsystem);
        ProgramRun run = torvel_test::RunProgram(kProbe, steps, Env(global_));
        EXPECT_TRUE(run.failure.empty() && !run.timed_out) << run.failure;
        return run;
    }

    // The probe under strace, failing the n-th call of syscall with error.
    // *injected is strace's line for the failed call ("" when the probe made
    // fewer than n such calls).
    ProgramRun ProbeWithFault(const std::string &syscall, const std::string &error, int n,
                              std::vector<std::string> steps, std::string *injected) {
        std::string log = dir_.Path("strace.log");
        unlink(log.c_str());
        std::vector<std::string> args = {
            "-f",   "-qq",
            "-o",   log,
            "-e",   "trace=" + syscall,
            "-e",   "inject=" + syscall + ":error=" + error + ":when=" + std::to_string(n),
            kProbe, "STARTD"};
        args.insert(args.end(), steps.begin(), steps.end());
        ProgramRun run = torvel_test::RunProgram(kStrace, args, Env(global_, true));
        EXPECT_TRUE(run.failure.empty() && !run.timed_out) << run.failure;
        injected->clear();
        for (const std::string &line : Lines(ReadFile(log))) {
            if (line.find("(INJECTED)") != std::string::npos) {
                *injected = line;
            }
        }
        return run;
    }

    torvel_test::TempDir dir_{"config_dynamic_faults"};
    std::string global_, root_, pdir_, top_;
};

// One store of the sequence below, and what a restart must then see.
struct Store {
    const char *admin;
    const char *text;   // "-" removes the name
    const char *name;   // the macro the text sets
    const char *value;  // its value
};

// The last pair shows a retry after a failure that nothing later covers:
// a later store of another name would list the retried one again.
const Store kStores[] = {
    {"a", "A = 1", "A", "1"}, {"a", "A = 1", "A", "1"}, {"b", "B = 2", "B", "2"},
    {"a", "-", "A", nullptr}, {"a", "A = 3", "A", "3"}, {"a", "A = 3", "A", "3"},
};

// SQLite's anomaly test, from outside: every write, rename and fsync of a
// series of stores fails in turn. After each run, a restart must work and
// see every store reported as done. A store reported as failed may have
// reached the disk only when its last step (the directory's fsync) failed,
// so for a name whose last store failed either state is accepted.
// Before the fix, a failed rewrite of the top-level file left the name in
// memory: the next store of it returned 0 without listing it on disk, and
// the restart lost it.
TEST_F(ConfigDynamicFaultsTest, StoreFailingAtEveryCallLosesNothingReportedAsStored) {
    if (access(kStrace, X_OK) != 0) {
        GTEST_SKIP() << "needs strace";
    }
    ASSERT_TRUE(WriteFile(global_, Persistent()));
    std::vector<std::string> steps = {"load"};
    for (const Store &s : kStores) {
        steps.insert(steps.end(), {"setp", s.admin, s.text});
    }
    struct Fault {
        const char *syscall;
        const char *error;
    } faults[] = {{"write", "ENOSPC"}, {"rename", "EIO"}, {"fsync", "EIO"}};
    for (const Fault &fault : faults) {
        int injections = 0;
        for (int n = 1; n < 200; n++) {
            for (const std::string &name : Entries(pdir_)) {
                unlink((pdir_ + "/" + name).c_str());
            }
            std::string injected;
            ProgramRun run = ProbeWithFault(fault.syscall, fault.error, n, steps, &injected);
            if (injected.empty()) {
                break;
            }
            injections++;
            std::string where = std::string(fault.syscall) + " #" + std::to_string(n) + ": " +
                                injected + "\n" + run.out + run.err;
            ASSERT_EQ(run.status, 0) << where;
            // A lost result line can only be the injected write to standard
            // output itself, and then every store went through.
            bool output_hit = injected.find("write(1,") != std::string::npos;
            std::vector<std::string> results = Lines(run.out);
            std::map<std::string, const char *> settled;  // name -> value (null: none)
            std::map<std::string, const char *> maybe;    // a failed store's value
            std::map<std::string, bool> last_failed;
            size_t line = 0;
            for (const Store &s : kStores) {
                std::string expected = std::string("setp ") + s.admin + "=";
                bool stored = output_hit;
                if (line < results.size() && results[line].rfind(expected, 0) == 0) {
                    stored = results[line] == expected + "0";
                    line++;
                }
                if (stored) {
                    settled[s.name] = s.value;
                } else {
                    maybe[s.name] = s.value;
                }
                last_failed[s.name] = !stored;
            }
            ProgramRun after = Probe({"load", "get", "A", "get", "B"});
            ASSERT_EQ(after.status, 0) << where << after.err;
            std::vector<std::string> seen = Lines(after.out);
            ASSERT_EQ(seen.size(), 2u) << where << after.out;
            for (int i = 0; i < 2; i++) {
                std::string name = i == 0 ? "A" : "B";
                auto text = [&](const char *value) {
                    return value != nullptr ? name + "=" + value : name + " undefined";
                };
                std::string want = text(settled.count(name) ? settled[name] : nullptr);
                if (seen[i] != want && last_failed[name]) {
                    want = text(maybe[name]);
                }
                EXPECT_EQ(seen[i], want) << where;
            }
        }
        EXPECT_GT(injections, 5) << fault.syscall;
    }
}

// The issue's own case: the second write of the first store (the top-level
// file) fails, and the same store is tried again.
TEST_F(ConfigDynamicFaultsTest, RetriedStoreAfterAFailedTopLevelWriteIsKept) {
    if (access(kStrace, X_OK) != 0) {
        GTEST_SKIP() << "needs strace";
    }
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's own writes (its memory probes) shift the count, so
    // the second write is not the top-level file's; the sweep above, which
    // fails every write in turn, covers this case in this build too.
    GTEST_SKIP() << "write numbering differs under the sanitizer";
#endif
    ASSERT_TRUE(WriteFile(global_, Persistent()));
    std::string injected;
    ProgramRun run = ProbeWithFault(
        "write", "ENOSPC", 2, {"load", "setp", "a", "X = 1", "setp", "a", "X = 1"}, &injected);
    ASSERT_NE(injected.find("RUNTIME_CONFIG_ADMIN"), std::string::npos) << injected;
    EXPECT_EQ(run.out, "setp a=-1\nsetp a=0\n") << run.err;
    EXPECT_EQ(ReadFile(top_), "RUNTIME_CONFIG_ADMIN = a\n");
    run = Probe({"load", "get", "X"});
    EXPECT_EQ(run.out, "X=1\n") << run.err;
}

// A text whose names expand badly with the values the start has was
// accepted (the check took every macro as empty), and every later start
// ended: "Illegal Identifier" (status 1), or an unset $ENV (status 4).
// Now it is refused with the reason in the log, and the process lives on.
TEST_F(ConfigDynamicFaultsTest, TextsThatWouldStopTheStartAreRefusedWithTheReason) {
    ASSERT_TRUE(WriteFile(global_, Persistent() + "ENABLE_RUNTIME_CONFIG = true\nSUFFIX = -x\n"
                                                  "EVIL = $ENV(CONFIG_DYNAMIC_FAULTS_UNSET)\n"));
    ProgramRun run = Probe({"load",
                            "log",
                            "setp",
                            "a",
                            "NAME$(SUFFIX) = 1",
                            "setp",
                            "b",
                            "N$(EVIL) = 1",
                            "setr",
                            "c",
                            "NAME$(SUFFIX) = 1",
                            "setr",
                            "d",
                            "N$(EVIL) = 1",
                            "setr",
                            "e",
                            "NO OPERATOR",
                            "setp",
                            "f",
                            "OK = 1",
                            "setr",
                            "g",
                            "G = 1",
                            "load",
                            "get",
                            "OK",
                            "get",
                            "G"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "setp a=-1\nsetp b=-1\nsetr c=-1\nsetr d=-1\nsetr e=-1\nsetp f=0\nsetr g=0\n"
              "OK=1\nG=1\n")
        << run.err;
    EXPECT_NE(run.err.find("Illegal Identifier: <NAME-x>"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("CONFIG_DYNAMIC_FAULTS_UNSET"), std::string::npos) << run.err;
    run = Probe({"load", "get", "OK"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "OK=1\n");
}

// A change that breaks a setting stored earlier under another name (whose
// name is built from the macro it redefines) is refused too; a runtime
// setting, read after every persistent one, cannot break them.
TEST_F(ConfigDynamicFaultsTest, ChangeThatBreaksAnotherStoredSettingIsRefused) {
    ASSERT_TRUE(WriteFile(global_, Persistent() + "ENABLE_RUNTIME_CONFIG = true\n"));
    ProgramRun run =
        Probe({"load", "setp", "a", "P = y", "setp", "b", "Q$(P) = 1", "setp", "a", "P = -y",
               "setr", "r", "P = -z", "setp", "a", "-", "load", "get", "Qy"});
    EXPECT_EQ(run.out, "setp a=0\nsetp b=0\nsetp a=-1\nsetr r=0\nsetp a=0\nQy undefined\n")
        << run.err;
    run = Probe({"load", "get", "Q"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Q=1\n");
}

// kill -9 at random points of config() with a runtime setting: its text
// went to /tmp/trvltmpXXXXXX files, which the killed process left behind
// (31 of 50 kills). Each probe runs with its own /tmp (a bind mount in a
// mount namespace of its own), so only its files are counted.
TEST_F(ConfigDynamicFaultsTest, KilledDuringConfigLeavesNoFileBehind) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: for a mount namespace";
    }
    std::string tmp = dir_.MakeDir("tmp", 01777);
    auto private_tmp = [&tmp]() {
        return unshare(CLONE_NEWNS) == 0 &&
               mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(tmp.c_str(), "/tmp", nullptr, MS_BIND, nullptr) == 0;
    };
    pid_t trial = fork();
    ASSERT_GE(trial, 0);
    if (trial == 0) {
        _exit(private_tmp() ? 0 : 1);
    }
    int trial_status = 0;
    ASSERT_EQ(waitpid(trial, &trial_status, 0), trial);
    if (!WIFEXITED(trial_status) || WEXITSTATUS(trial_status) != 0) {
        GTEST_SKIP() << "no mount namespace here";
    }
    std::string cfg = dir_.MakeDir("tmp/cfg");
    ASSERT_TRUE(WriteFile(cfg + "/global", "ENABLE_RUNTIME_CONFIG = true\n"));
    ASSERT_TRUE(WriteFile(cfg + "/root", ""));
    std::string text;
    for (int i = 0; i < 3000; i++) {
        text += "V" + std::to_string(i) + " = value " + std::to_string(i) + "\n";
    }
    std::vector<std::string> args = {kProbe, "TOOL", "load", "setr", "a", text, "loads", "100000"};
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "TORVEL_CONFIG=/tmp/cfg/global",
                                    "TORVEL_CONFIG_ROOT=/tmp/cfg/root", "TORVEL_IDS=65534.65534"};
    for (const std::string &keep : torvel_test::SanitizerEnv()) env.push_back(keep);
    std::vector<char *> argv, envp;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    // The probe's messages, kept outside its private /tmp: a probe that
    // ends by itself before the kill is a failure worth reading.
    std::string err_path = dir_.path() + "/probe_err";
    std::string ended_alone;
    unsigned seed = static_cast<unsigned>(time(nullptr));
    int loaded = 0;
    for (int kill_no = 0; kill_no < 50; kill_no++) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            int null = open("/dev/null", O_WRONLY);
            int err = open(err_path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
            dup2(null, 1);
            dup2(err, 2);
            if (!private_tmp()) {
                _exit(126);
            }
            close(ready[1]);  // tells the parent the probe is about to start
            execve(kProbe, argv.data(), envp.data());
            _exit(127);
        }
        close(ready[1]);
        char byte;
        ssize_t got = read(ready[0], &byte, 1);  // returns at the exec
        close(ready[0]);
        ASSERT_EQ(got, 0);
        struct timespec pause = {0, (5 + static_cast<long>(rand_r(&seed) % 60)) * 1000000L};
        nanosleep(&pause, nullptr);
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            loaded++;
        } else {
            ended_alone += " " + std::to_string(status);
        }
        ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 126) << "no mount namespace";
    }
    // Most kills come while the probe is loading.
    EXPECT_GT(loaded, 40) << "wait statuses of probes that ended alone:" << ended_alone << "\n"
                          << ReadFile(err_path);
    std::vector<std::string> left = Entries(tmp);
    std::string names;
    for (const std::string &name : left) names += name + " ";
    EXPECT_EQ(left.size(), 1u) << names;  // only cfg
}

// SIGALRM every 2 ms, its handler installed without SA_RESTART, while the
// global source comes from a slow command: the read of its pipe failed
// with EINTR, and config() ended "read failed: Interrupted system call".
TEST_F(ConfigDynamicFaultsTest, PeriodicSignalWithoutRestartNeverFailsALoad) {
    std::string script = dir_.Write("slow_source",
                                    "#!/bin/sh\nsleep 0.02\necho 'ENABLE_RUNTIME_CONFIG = true'\n"
                                    "sleep 0.02\n"
                                    "echo 'ENABLE_PERSISTENT_CONFIG = true'\nsleep 0.02\necho "
                                    "'PERSISTENT_CONFIG_DIR = " +
                                        pdir_ + "'\necho 'A = 1'\n",
                                    0755);
    std::vector<std::string> steps = {"STARTD", "alarm", "load",  "setp",  "p",  "P = 2",
                                      "setr",   "r",     "R = 3", "loads", "20", "get",
                                      "A",      "get",   "P",     "get",   "R"};
    ProgramRun run = torvel_test::RunProgram(kProbe, steps, Env(script + " |"));
    ASSERT_TRUE(run.failure.empty() && !run.timed_out) << run.failure;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "setp p=0\nsetr r=0\nloaded 20\nA=1\nP=2\nR=3\n") << run.err;
    EXPECT_EQ(run.err, "");
}

}  // namespace
