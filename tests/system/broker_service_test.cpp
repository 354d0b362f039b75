// nbx_broker run as an administrator runs it: in its default, detaching
// mode, from a process that becomes the subreaper of what it starts (so
// the detached broker's own exit status is seen), inside a network
// namespace of its own with only loopback; and, started as root, under a
// throwaway service account. Covers readiness and its failures, SIGTERM,
// SIGHUP with a renamed log, inherited descriptors, the pid file, a port
// range with no usable port, and the switch of account with a relayed
// connection through the broker that made it.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <net/if.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/broker/broker_harness.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace {

using broker_harness::BuiltProgram;
using broker_harness::Daemon;
using broker_harness::Environment;
using broker_harness::Topology;

// What the subreaper reports through its pipe, one record per event.
enum ReportKind { kNoNamespace = 1, kStarterExited = 2, kBrokerExited = 3, kNoBroker = 4 };
struct Report {
    int kind;
    int status;  // exit status, or -1 when killed by a signal
};

int ExitStatus(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

// Brings up loopback in the calling process's new network namespace.
bool LoopbackUp() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq request;
    memset(&request, 0, sizeof request);
    strcpy(request.ifr_name, "lo");
    bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    return up;
}

// Starts the broker without --foreground from a subreaper in a network
// namespace of its own. The starting process's standard error goes to a
// file; the detached broker becomes the subreaper's child, whose exit is
// reported. Everything is killed when the object goes.
class DetachedBroker {
 public:
    // inherited: a file opened as descriptor 9, without close-on-exec, in
    // the starting process ("" for none).
    DetachedBroker(const std::vector<std::string> &args, const std::string &scratch,
                   const std::string &inherited = "") {
        err_path_ = scratch + "/starter.err";
        std::vector<std::string> argv = {BuiltProgram("nbx_broker"), "--public", "127.0.0.1",
                                         "--private", "127.0.0.2"};
        argv.insert(argv.end(), args.begin(), args.end());
        // Explicitly root: these tests are about the detaching mode, not
        // about the account (a machine with a "torvel" account would
        // otherwise switch to it).
        std::vector<std::string> env = Environment({"NBX_BROKER_USER=root"});
        std::vector<char *> a, e;
        for (std::string &s : argv) a.push_back(&s[0]);
        a.push_back(nullptr);
        for (std::string &s : env) e.push_back(&s[0]);
        e.push_back(nullptr);
        int err_fd = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int channel[2];
        if (err_fd < 0 || pipe2(channel, O_CLOEXEC) != 0) return;
        fflush(nullptr);
        reaper_ = fork();
        if (reaper_ == 0) {
            close(channel[0]);
            Reap(a.data(), e.data(), err_fd, inherited.c_str(), channel[1]);
        }
        close(err_fd);
        close(channel[1]);
        reports_ = channel[0];
    }
    ~DetachedBroker() {
        if (broker_ > 0) kill(broker_, SIGKILL);
        if (reaper_ > 0) {
            Next(5000);  // lets the subreaper reap what is left
            kill(reaper_, SIGKILL);
            waitpid(reaper_, nullptr, 0);
        }
        if (reports_ >= 0) close(reports_);
    }
    DetachedBroker(const DetachedBroker &) = delete;
    DetachedBroker &operator=(const DetachedBroker &) = delete;

    // Waits for the starting process's exit: false when the namespace could
    // not be made (skip). Its status, and the detached broker's pid (-1 when
    // none is running), are then known.
    bool WaitForStarter() {
        Report r = Next(20000);
        if (r.kind == kNoNamespace) return false;
        starter_status_ = r.kind == kStarterExited ? r.status : -2;
        broker_ = ChildOfReaper();
        return true;
    }
    int starter_status() const { return starter_status_; }
    std::string starter_err() const { return torvel_test::ReadFile(err_path_); }
    pid_t broker() const { return broker_; }

    // Signals the broker and waits up to timeout_ms for its exit; its exit
    // status, -1 when killed by a signal, -2 when it did not end in time.
    int Stop(int sig, int timeout_ms) {
        if (broker_ <= 0) return -2;
        kill(broker_, sig);
        Report r = Next(timeout_ms);
        if (r.kind != kBrokerExited) return -2;
        broker_ = -1;
        return r.status;
    }
    // Whether the broker exited on its own within timeout_ms (and how).
    bool BrokerExited(int timeout_ms, int *status) {
        Report r = Next(timeout_ms);
        if (r.kind == kBrokerExited) {
            *status = r.status;
            broker_ = -1;
        }
        return r.kind == kBrokerExited || r.kind == kNoBroker;
    }

 private:
    // The subreaper: only system calls between fork and exit.
    [[noreturn]] static void Reap(char **argv, char **envp, int err_fd, const char *inherited,
                                  int report_fd) {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        if (unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) {
            Send(report_fd, kNoNamespace, 0);
            _exit(0);
        }
        pid_t starter = fork();
        if (starter == 0) {
            dup2(err_fd, 2);
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            if (inherited[0] != '\0') {
                int fd = open(inherited, O_RDONLY);
                if (fd >= 0 && fd != 9) {
                    dup2(fd, 9);  // without close-on-exec
                    close(fd);
                }
            }
            execve(argv[0], argv, envp);
            _exit(127);
        }
        int status = 0;
        waitpid(starter, &status, 0);
        Send(report_fd, kStarterExited, ExitStatus(status));
        for (;;) {
            pid_t pid = waitpid(-1, &status, 0);
            if (pid < 0 && errno == EINTR) continue;
            if (pid < 0) break;
            Send(report_fd, kBrokerExited, ExitStatus(status));
        }
        Send(report_fd, kNoBroker, 0);
        _exit(0);
    }
    static void Send(int fd, int kind, int status) {
        Report r = {kind, status};
        if (write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
    }
    // The next report within timeout_ms, kind 0 when none came.
    Report Next(int timeout_ms) {
        Report r = {0, 0};
        pollfd ready = {reports_, POLLIN, 0};
        if (reports_ >= 0 && poll(&ready, 1, timeout_ms) == 1 &&
            read(reports_, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) {
            r.kind = 0;
        }
        return r;
    }
    // The subreaper's one child left: the detached broker, or -1.
    pid_t ChildOfReaper() const {
        std::string children = torvel_test::ReadFile("/proc/" + std::to_string(reaper_) + "/task/" +
                                                     std::to_string(reaper_) + "/children");
        return children.empty() ? -1 : static_cast<pid_t>(atoi(children.c_str()));
    }

    std::string err_path_;
    pid_t reaper_ = -1;
    pid_t broker_ = -1;
    int reports_ = -1;
    int starter_status_ = -2;
};

// Whether the network namespace of pid has a TCP listener on port.
bool Listens(pid_t pid, int port) {
    std::string table = torvel_test::ReadFile("/proc/" + std::to_string(pid) + "/net/tcp");
    char local[16];
    snprintf(local, sizeof local, ":%04X ", port);
    for (size_t at = table.find(local); at != std::string::npos; at = table.find(local, at + 1)) {
        // local address, remote address, then the state: 0A is LISTEN.
        if (table.compare(at + 6 + 13, 3, " 0A") == 0) return true;
    }
    return false;
}

// The targets of the open descriptors of pid, one per line.
std::string DescriptorTargets(pid_t pid) {
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    std::string all;
    for (int fd = 0; fd < 1024; ++fd) {
        char target[PATH_MAX];
        ssize_t n = readlink((dir + "/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        if (n > 0) all += std::to_string(fd) + " -> " + std::string(target, n) + "\n";
    }
    return all;
}

class BrokerServiceTest : public ::testing::Test {
 protected:
    torvel_test::TempDir scratch_{"broker_service"};
};

#define WAIT_FOR_STARTER_OR_SKIP(started)                                                    \
    do {                                                                                     \
        if (!(started).WaitForStarter()) GTEST_SKIP() << "no network namespace can be made"; \
    } while (0)

TEST_F(BrokerServiceTest, DetachedBrokerIsReadyWhenItsStarterExitsAndStopsOnSigterm) {
    for (int sig : {SIGTERM, SIGINT}) {
        DetachedBroker started({}, scratch_.path());
        WAIT_FOR_STARTER_OR_SKIP(started);
        ASSERT_EQ(0, started.starter_status()) << started.starter_err();
        ASSERT_GT(started.broker(), 0) << "no broker left running";
        // Ready means listening: nothing to wait for.
        EXPECT_TRUE(Listens(started.broker(), 65430));
        EXPECT_TRUE(Listens(started.broker(), 65432));
        EXPECT_EQ(0, started.Stop(sig, 5000)) << "signal " << sig;
    }
}

TEST_F(BrokerServiceTest, DetachedStartThatCannotServeExitsWithTheReason) {
    std::string log = "/nonexistent/dir/b.log";
    DetachedBroker no_log({"--log", log}, scratch_.path());
    WAIT_FOR_STARTER_OR_SKIP(no_log);
    EXPECT_EQ(44, no_log.starter_status());
    EXPECT_NE(std::string::npos, no_log.starter_err().find(log + ": No such file or directory"))
        << no_log.starter_err();
    int status = 0;
    EXPECT_TRUE(no_log.BrokerExited(5000, &status));
    EXPECT_EQ(-1, no_log.broker());

    // An address the namespace does not have: nothing can listen.
    DetachedBroker no_address({"--public", "192.0.2.7"}, scratch_.path());
    WAIT_FOR_STARTER_OR_SKIP(no_address);
    EXPECT_EQ(1, no_address.starter_status());
    EXPECT_NE(std::string::npos, no_address.starter_err().find("can't listen on <192.0.2.7:65432>"))
        << no_address.starter_err();
    EXPECT_TRUE(no_address.BrokerExited(5000, &status));
}

TEST_F(BrokerServiceTest, SighupReopensARenamedLogAndKeepsServing) {
    std::string log = scratch_.Path("broker.log");
    DetachedBroker started({"--log", log}, scratch_.path());
    WAIT_FOR_STARTER_OR_SKIP(started);
    ASSERT_EQ(0, started.starter_status()) << started.starter_err();
    ASSERT_NE(std::string::npos, torvel_test::ReadFile(log).find("nbx_broker started"));
    ASSERT_EQ(0, rename(log.c_str(), (log + ".1").c_str()));

    kill(started.broker(), SIGHUP);
    EXPECT_TRUE(torvel_test::WaitUntil(
        [&] {
            return torvel_test::ReadFile(log).find("SIGHUP: log reopened") != std::string::npos;
        },
        5000))
        << torvel_test::ReadFile(log + ".1");
    EXPECT_TRUE(Listens(started.broker(), 65430));
    EXPECT_EQ(0, started.Stop(SIGTERM, 5000));
    EXPECT_NE(std::string::npos, torvel_test::ReadFile(log).find("nbx_broker stopping"));
    EXPECT_EQ(std::string::npos, torvel_test::ReadFile(log + ".1").find("SIGHUP"));
}

TEST_F(BrokerServiceTest, DescriptorsInheritedFromTheStarterAreClosed) {
    std::string marker = scratch_.Path("inherited");
    ASSERT_TRUE(torvel_test::WriteFile(marker, "x"));
    DetachedBroker started({}, scratch_.path(), marker);
    WAIT_FOR_STARTER_OR_SKIP(started);
    ASSERT_EQ(0, started.starter_status()) << started.starter_err();
    std::string targets = DescriptorTargets(started.broker());
    EXPECT_EQ(std::string::npos, targets.find(marker)) << targets;
    // Standard streams on /dev/null, then only the broker's own.
    EXPECT_EQ(0u, targets.find("0 -> /dev/null\n1 -> /dev/null\n2 -> /dev/null\n")) << targets;
    EXPECT_EQ(0, started.Stop(SIGTERM, 5000));
}

TEST_F(BrokerServiceTest, PidFileNamesTheDetachedBroker) {
    std::string pid_file = scratch_.Path("broker.pid");
    DetachedBroker started({"--pidfile", pid_file}, scratch_.path());
    WAIT_FOR_STARTER_OR_SKIP(started);
    ASSERT_EQ(0, started.starter_status()) << started.starter_err();
    EXPECT_EQ(std::to_string(started.broker()) + "\n", torvel_test::ReadFile(pid_file));
    EXPECT_EQ(0, started.Stop(SIGTERM, 5000));
    EXPECT_EQ("gone", torvel_test::ReadFile(pid_file, "gone"));
}

TEST_F(BrokerServiceTest, PortRangeWithoutUsablePortIsRefused) {
    for (const char *where : {"command line", "configuration"}) {
        bool on_command_line = where[0] == 'c';
        // Addresses of no host here: an accepted range would end at the
        // listeners, never bind anything.
        std::vector<std::string> args = {"--public", "192.0.2.1", "--private", "192.0.2.2",
                                         "--foreground"};
        std::vector<std::string> extra;
        if (on_command_line) {
            args.insert(args.end(), {"--ports", "65430-65432"});
        } else {
            extra.push_back("_torvel_NBX_BROKER_PORT_RANGE=65431-65432");
        }
        torvel_test::ProgramOptions options;
        options.timeout_seconds = 10;
        torvel_test::ProgramRun run =
            torvel_test::RunProgram(BuiltProgram("nbx_broker"), args, Environment(extra), options);
        EXPECT_EQ(on_command_line ? 2 : 1, run.status) << where << ": " << run.err;
        EXPECT_NE(std::string::npos,
                  run.err.find(on_command_line ? "no usable port" : "NBX_BROKER_PORT_RANGE"))
            << where << ": " << run.err;
    }
}

// A system account made for one test and removed with the object.
class ThrowawayAccount {
 public:
    ThrowawayAccount() : name_("nbxsvc" + std::to_string(getpid())) {
        made_ = Run("useradd --system --no-create-home --shell /usr/sbin/nologin " + name_);
    }
    ~ThrowawayAccount() {
        if (made_) Run("userdel " + name_);
    }
    ThrowawayAccount(const ThrowawayAccount &) = delete;
    ThrowawayAccount &operator=(const ThrowawayAccount &) = delete;
    bool made() const { return made_; }
    const std::string &name() const { return name_; }

 private:
    static bool Run(const std::string &command) {
        return system(("PATH=/usr/sbin:/usr/bin:/sbin:/bin " + command + " >/dev/null 2>&1")
                          .c_str()) == 0;
    }
    std::string name_;
    bool made_ = false;
};

// The value of a /proc/PID/status field ("Uid", "CapEff", ...), tabs
// kept, trailing blanks dropped; "?" when the field or the process is
// missing.
std::string StatusField(pid_t pid, const std::string &field) {
    std::string status = torvel_test::ReadFile("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\n" + field + ":\t");
    if (at == std::string::npos) return "?";
    at += field.size() + 3;
    std::string value = status.substr(at, status.find('\n', at) - at);
    return value.substr(0, value.find_last_not_of(' ') + 1);
}

TEST(BrokerAccountTest, StartedAsRootRunsAsTheServiceAccountWithoutCapabilitiesAndRelays) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    ThrowawayAccount account;
    ASSERT_TRUE(account.made()) << "useradd failed";
    passwd *entry = getpwnam(account.name().c_str());
    ASSERT_NE(nullptr, entry);
    std::string uid = std::to_string(entry->pw_uid), gid = std::to_string(entry->pw_gid);
    Topology topology(false);
    if (!topology.failure().empty()) GTEST_SKIP() << topology.failure();
    torvel_test::TempDir scratch("broker_account");
    std::string log = scratch.Path("broker.log");
    std::string route = scratch.Path("route");
    ASSERT_TRUE(torvel_test::WriteFile(route, "198.51.100.0/24 NBX\n"));

    Daemon broker, server;
    ASSERT_TRUE(broker.Start(topology.In("b", "nbx_broker",
                                         {"--public", Topology::kBrokerPublic, "--private",
                                          Topology::kBrokerPrivate, "--log", log, "--foreground"}),
                             Environment({"NBX_BROKER_USER=" + account.name(),
                                          "_torvel_NBX_BROKER_PRIVATE_NETWORKS=10.1.0.0/24"})));
    ASSERT_TRUE(torvel_test::WaitUntil(
        [&] { return torvel_test::ReadFile(log).find("nbx_broker started") != std::string::npos; },
        10000))
        << broker.all_output();
    pid_t pid = broker.pid();
    EXPECT_EQ(uid + "\t" + uid + "\t" + uid + "\t" + uid, StatusField(pid, "Uid"));
    EXPECT_EQ(gid + "\t" + gid + "\t" + gid + "\t" + gid, StatusField(pid, "Gid"));
    EXPECT_EQ("", StatusField(pid, "Groups"));
    EXPECT_EQ("0000000000000000", StatusField(pid, "CapEff"));
    EXPECT_EQ("0000000000000000", StatusField(pid, "CapPrm"));
    struct stat log_status;
    ASSERT_EQ(0, stat(log.c_str(), &log_status));
    EXPECT_EQ(entry->pw_uid, log_status.st_uid);

    // The account's broker still joins a client to a server it cannot reach.
    ASSERT_TRUE(server.Start(
        topology.In("s", "broker_echo_server", {"tcp"}),
        Environment({"NBX_ENABLE=true", std::string("NBX_INAGENT=") + Topology::kBrokerPrivate})));
    std::string line = server.WaitFor("canonical ", 10);
    ASSERT_FALSE(line.empty()) << server.all_output() << torvel_test::ReadFile(log);
    std::vector<std::string> client =
        topology.In("c", "broker_echo_client", {"tcp", line.substr(10), "65536"});
    torvel_test::ProgramRun run = torvel_test::RunProgram(
        client[0], std::vector<std::string>(client.begin() + 1, client.end()),
        Environment({"NBX_ENABLE=true", "NBX_ROUTE=" + route}), torvel_test::ProgramOptions());
    EXPECT_EQ(0, run.status) << run.out << run.err << torvel_test::ReadFile(log);
    EXPECT_NE(std::string::npos, torvel_test::ReadFile(log).find(": relay"))
        << torvel_test::ReadFile(log);
    EXPECT_EQ(0, broker.Stop(SIGTERM, 5));
    EXPECT_EQ(std::string::npos, broker.all_output().find("Sanitizer")) << broker.all_output();

    // Started as the account itself, it runs as it, with nothing to give up.
    std::vector<std::string> as_account =
        topology.In("b", "nbx_broker",
                    {"--public", Topology::kBrokerPublic, "--private", Topology::kBrokerPrivate,
                     "--foreground"});
    as_account.insert(as_account.begin() + 4,
                      {"/usr/bin/setpriv", "--reuid=" + uid, "--regid=" + gid, "--clear-groups"});
    Daemon own;
    ASSERT_TRUE(own.Start(as_account, Environment({})));
    ASSERT_NE("", own.WaitFor("nbx_broker started", 10)) << own.all_output();
    EXPECT_EQ(uid + "\t" + uid + "\t" + uid + "\t" + uid, StatusField(own.pid(), "Uid"));
    EXPECT_EQ("0000000000000000", StatusField(own.pid(), "CapEff"));
    EXPECT_EQ(0, own.Stop(SIGTERM, 5)) << own.all_output();
}

TEST(BrokerAccountTest, AnAccountThatDoesNotExistEndsTheStart) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    torvel_test::ProgramOptions options;
    options.timeout_seconds = 10;
    // Addresses of no host here: the start must end before any listener.
    torvel_test::ProgramRun run =
        torvel_test::RunProgram(BuiltProgram("nbx_broker"),
                                {"--public", "192.0.2.1", "--private", "192.0.2.2", "--foreground"},
                                Environment({"NBX_BROKER_USER=nbx-no-such-account"}), options);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("NBX_BROKER_USER names no account: "
                                              "nbx-no-such-account"))
        << run.err;
}

// The service pieces as cpack installs them (prefix /usr, so the
// configuration under /etc), then the unit checked by systemd's own tools.
TEST(BrokerUnitTest, InstalledUnitVerifiesAndIsRatedTwoOrLower) {
    if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
    torvel_test::TempDir scratch("broker_unit");
    std::string root = scratch.Path("root");
    std::string source = std::string(TORVEL_SOURCE_DIR) + "/broker/service";
    torvel_test::ProgramRun install = torvel_test::RunProgram(
        "/bin/sh",
        {"-c", "cmake -DCMAKE_INSTALL_PREFIX=/usr -DNBX_BROKER_SERVICE_DIR=" + source +
                   " -DNBX_BROKER_STAGING_DIR=" + scratch.Path("stage") + " -P " + source +
                   "/install_service_files.cmake"},
        Environment({"DESTDIR=" + root}), torvel_test::ProgramOptions());
    ASSERT_EQ(0, install.status) << install.out << install.err;
    std::string unit = torvel_test::ReadFile(root + "/usr/lib/systemd/system/nbx_broker.service");
    EXPECT_NE(std::string::npos, unit.find("ExecStart=/usr/sbin/nbx_broker --foreground"));
    EXPECT_NE(std::string::npos, unit.find("TORVEL_CONFIG=/etc/torvel/nbx_broker.conf"));
    struct stat conf;
    ASSERT_EQ(0, stat((root + "/etc/torvel/nbx_broker.conf").c_str(), &conf));
    EXPECT_EQ(0644u, conf.st_mode & 07777);
    EXPECT_NE(std::string::npos,
              torvel_test::ReadFile(root + "/etc/logrotate.d/nbx_broker").find("reload"));
    EXPECT_EQ(0u, torvel_test::ReadFile(root + "/usr/lib/sysusers.d/torvel.conf")
                      .find("# The service account"));

    // verify insists that the program exists: point the unit at the built one.
    std::string program = BuiltProgram("nbx_broker");
    size_t at = unit.find("/usr/sbin/nbx_broker");
    unit.replace(at, strlen("/usr/sbin/nbx_broker"), program);
    std::string checked = scratch.Path("nbx_broker.service");
    ASSERT_TRUE(torvel_test::WriteFile(checked, unit));
    torvel_test::ProgramRun verify =
        torvel_test::RunProgram("/usr/bin/systemd-analyze", {"verify", "--man=no", checked},
                                Environment({}), torvel_test::ProgramOptions());
    EXPECT_EQ(0, verify.status) << verify.err;
    EXPECT_EQ("", verify.out + verify.err);
    torvel_test::ProgramRun security =
        torvel_test::RunProgram("/usr/bin/systemd-analyze", {"security", "--offline=true", checked},
                                Environment({}), torvel_test::ProgramOptions());
    const std::string marker = "Overall exposure level for nbx_broker.service: ";
    at = security.out.find(marker);
    ASSERT_NE(std::string::npos, at) << security.out << security.err;
    double exposure = strtod(security.out.c_str() + at + marker.size(), nullptr);
    EXPECT_LE(exposure, 2.0) << security.out;
    EXPECT_GT(exposure, 0.0) << security.out;
}

// The number after label in line, or -1 when the label is missing.
long long CountAfter(const std::string &line, const std::string &label) {
    size_t at = line.find(label);
    return at == std::string::npos ? -1 : strtoll(line.c_str() + at + label.size(), nullptr, 10);
}

TEST(BrokerStatusTest, SigusrOneWritesWhatEachRoleRefusedAndTheBytesRelayedEachWay) {
    Topology topology(false);
    if (!topology.failure().empty()) GTEST_SKIP() << topology.failure();
    torvel_test::TempDir scratch("broker_status");
    std::string route = scratch.Path("route");
    ASSERT_TRUE(torvel_test::WriteFile(route, "198.51.100.0/24 NBX\n"));
    Daemon broker, tcp_server, udp_server;
    ASSERT_TRUE(broker.Start(
        topology.In("b", "nbx_broker",
                    {"--public", Topology::kBrokerPublic, "--private", Topology::kBrokerPrivate,
                     "--foreground"}),
        Environment({"NBX_BROKER_USER=root", "_torvel_NBX_BROKER_PRIVATE_NETWORKS=10.1.0.0/24"})));
    ASSERT_NE("", broker.WaitFor("nbx_broker started", 10)) << broker.all_output();
    std::vector<std::string> server_env =
        Environment({"NBX_ENABLE=true", std::string("NBX_INAGENT=") + Topology::kBrokerPrivate});
    ASSERT_TRUE(tcp_server.Start(topology.In("s", "broker_echo_server", {"tcp"}), server_env));
    ASSERT_TRUE(udp_server.Start(topology.In("s", "broker_echo_server", {"udp"}), server_env));
    std::string tcp = tcp_server.WaitFor("canonical ", 10);
    std::string udp = udp_server.WaitFor("canonical ", 10);
    ASSERT_FALSE(tcp.empty() || udp.empty()) << broker.all_output();
    auto client = [&](const std::vector<std::string> &args) {
        std::vector<std::string> argv = topology.In("c", "broker_echo_client", args);
        return torvel_test::RunProgram(
            argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()),
            Environment({"NBX_ENABLE=true", "NBX_ROUTE=" + route}), torvel_test::ProgramOptions());
    };
    torvel_test::ProgramRun stream = client({"tcp", tcp.substr(10), "100000"});
    EXPECT_EQ(0, stream.status) << stream.out << stream.err;
    torvel_test::ProgramRun datagrams = client({"udp", udp.substr(10), "10"});
    EXPECT_EQ(0, datagrams.status) << datagrams.out << datagrams.err;
    // A canonical address nobody registered: the destination broker refuses
    // it with NAK 57 before the client goes on (and fails on its own).
    client({"tcp", std::string(Topology::kBrokerPublic) + ":44999", "10"});

    kill(broker.pid(), SIGUSR1);
    std::string destination = broker.WaitFor("status destination broker:", 5);
    EXPECT_EQ(1, CountAfter(destination, "NAK 57 ")) << destination;
    EXPECT_EQ(0, CountAfter(destination, "NAK 111 ")) << destination;
    std::string relays = broker.WaitFor("status relays:", 5);
    EXPECT_EQ(100000, CountAfter(relays, "client to server TCP ")) << relays;
    EXPECT_EQ(100000, CountAfter(relays, "server to client TCP ")) << relays;
    EXPECT_GT(CountAfter(relays, "client to server TCP 100000 UDP "), 0) << relays;
    EXPECT_GT(CountAfter(relays, "server to client TCP 100000 UDP "), 0) << relays;
    std::string descriptors = broker.WaitFor("status descriptors:", 5);
    EXPECT_GT(CountAfter(descriptors, "descriptors: "), 3) << descriptors;
    EXPECT_GT(CountAfter(descriptors, "limit "), 0) << descriptors;
    EXPECT_EQ(0, broker.Stop(SIGTERM, 5));
    // A sanitizer build reports into the broker's output.
    EXPECT_EQ(std::string::npos, broker.all_output().find("Sanitizer")) << broker.all_output();
}

}  // namespace
