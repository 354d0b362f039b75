// Tests of the exec hand-over: writing the table into "CB_INHERIT<pid>"
// (limits, close-on-exec, refusal without a stale value), taking it over
// again (success removes the variable; hostile values are refused cleanly),
// the two-stage program that execs itself through the wrapper, and the
// launcher's own exec with brokering on.
#include "nbx/inherit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/gt3_jars.h"

namespace {

using nbx_test::Addr;
using nbx_test::ChildReport;
using nbx_test::CountOf;
using nbx_test::NewRecord;
using nbx_test::RawSocket;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;
using torvel_test::ReadFile;
using torvel_test::TempDir;

std::string HandOverName() {
    char name[32];
    _CB_inheritName(name);
    return name;
}

// The hand-over value, or "<absent>".
std::string HandOverValue() {
    const char *value = getenv(HandOverName().c_str());
    return value == nullptr ? "<absent>" : value;
}

int EntriesInUse() {
    int count = 0;
    for (int i = 0; i < _NBX_max_no_fds; ++i) {
        if (_CB_fdInfo[i].type != NOT_DEFINED) ++count;
    }
    return count;
}

// A TCP socket entered into the table as an application's socket would be.
int BrokeredSocket(int type, int status = CREATED) {
    int fd = RawSocket(type);
    NewRecord(fd, type == SOCK_STREAM ? TCP : UDP, status);
    return fd;
}

TEST(InheritToTest, EmptyTableSetsAnEmptyValue) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        CHILD_EXPECT_EQ(r, 0, _CB_inheritTo());
        CHILD_EXPECT_EQ(r, std::string(""), HandOverValue());
        CHILD_EXPECT_EQ(r, std::string("CB_INHERIT") + std::to_string(getpid()), HandOverName());
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritToTest, RecordsAreJoinedWithDollarAndCloseOnExecIsDropped) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int a = BrokeredSocket(SOCK_STREAM);
        int doomed = BrokeredSocket(SOCK_STREAM);
        fcntl(doomed, F_SETFD, FD_CLOEXEC);
        int b = BrokeredSocket(SOCK_DGRAM, BOUND);
        StartLogCapture();
        CHILD_EXPECT_EQ(r, 0, _CB_inheritTo());
        std::string expected = std::to_string(a) + "#-1#T#<0.0.0.0:0>##p#N#<0.0.0.0:0>#$" +
                               std::to_string(b) + "#-1#U#<0.0.0.0:0>##p#B#<0.0.0.0:0>#";
        CHILD_EXPECT_EQ(r, expected, HandOverValue());
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[doomed].type);
        CHILD_EXPECT_EQ(r, -1, fcntl(doomed, F_GETFD));
        CHILD_EXPECT(r, WasLogged("_CB_inheritTo: deleting fd " + std::to_string(doomed) +
                                  " because close-on-exec tag is set\n"));
        CHILD_EXPECT(r, WasLogged("\t[fd=" + std::to_string(b) + "] refs=1"));
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritToTest, EntryWhoseDescriptorIsGoneIsClosedThroughTheLayer) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int fd = BrokeredSocket(SOCK_STREAM);
        __real_close(fd);  // behind the layer's back
        StartLogCapture();
        CHILD_EXPECT_EQ(r, 0, _CB_inheritTo());
        CHILD_EXPECT(r, WasLogged("_CB_inheritTo: fcntl(" + std::to_string(fd) + ") failed"));
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[fd].type);
        CHILD_EXPECT_EQ(r, std::string(""), HandOverValue());
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritToTest, TwentySocketsFitAndTheTwentyFirstRemovesTheValue) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        std::vector<int> fds;
        for (int i = 0; i < 20; ++i) fds.push_back(BrokeredSocket(SOCK_STREAM));
        CHILD_EXPECT_EQ(r, 0, _CB_inheritTo());
        std::string value = HandOverValue();
        CHILD_EXPECT_EQ(r, 19, CountOf(value, "$"));
        CHILD_EXPECT(r, value.size() < CB_INHERIT_VALUE_SIZE);

        fds.push_back(BrokeredSocket(SOCK_DGRAM));
        StartLogCapture();
        CHILD_EXPECT_EQ(r, -1, _CB_inheritTo());
        CHILD_EXPECT(r, WasLogged("_CB_inheritTo: too many CB_sockets to inherit"));
        // The earlier value would hand over sockets this program no longer
        // means to hand over: it is gone, not kept.
        CHILD_EXPECT_EQ(r, std::string("<absent>"), HandOverValue());
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritToTest, UnwritableSocketFailsTheWholeHandOver) {
    for (int status : {NONE, ACTIVE_CONNECTING}) {
        std::string failures = RunInChild([status](ChildReport &r) {
            _CB_initialize();
            BrokeredSocket(SOCK_STREAM);
            BrokeredSocket(SOCK_STREAM, status);
            setenv(HandOverName().c_str(), "stale", 1);
            StartLogCapture();
            CHILD_EXPECT_EQ(r, -1, _CB_inheritTo());
            CHILD_EXPECT(r, WasLogged("_CB_inheritTo: failed to serialize CB_socket"));
            CHILD_EXPECT_EQ(r, std::string("<absent>"), HandOverValue());
        });
        EXPECT_EQ(failures, "") << status;
    }
}

TEST(InheritFromTest, DuplicatedSocketComesBackAsOneRecordAndVariableGoes) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int owner = RawSocket(SOCK_STREAM);
        int copy = dup(owner);
        int udp = RawSocket(SOCK_DGRAM);
        std::string value =
            std::to_string(owner) + "#-1#T#<192.0.2.7:40001>##a#B#<127.0.0.1:40000>#$" +
            std::to_string(copy) + "#!" + std::to_string(owner) + "$" + std::to_string(udp) +
            "#-2#U#<0.0.0.0:0>#<127.0.0.1:9>#p#C#<0.0.0.0:0>#";
        setenv(HandOverName().c_str(), value.c_str(), 1);
        CHILD_EXPECT_EQ(r, 0, _CB_inheritFrom());
        CHILD_EXPECT_EQ(r, std::string("<absent>"), HandOverValue());
        SockInfo *info = _CB_fdInfo[owner].info;
        CHILD_EXPECT(r, info != nullptr && info == _CB_fdInfo[copy].info);
        if (info == nullptr) return;
        CHILD_EXPECT_EQ(r, 2u, info->refs);
        CHILD_EXPECT_EQ(r, owner, info->owner);
        CHILD_EXPECT_EQ(r, 'A', info->mode);
        CHILD_EXPECT_EQ(r, htons(40001), info->canon.port);
        SockInfo *u = _CB_fdInfo[udp].info;
        CHILD_EXPECT(r, u != nullptr && u->manager == NEED_RECOVER && u->connected != nullptr);
        CHILD_EXPECT_EQ(r, 3, EntriesInUse());
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritFromTest, InitialisationTakesOverAndLogsNothingToInherit) {
    TempDir dir;
    std::string log = dir.Path("nbx.log");
    std::string failures = RunInChild([&log](ChildReport &r) {
        setenv("NBX_LOG_FILE", log.c_str(), 1);
        setenv("NBX_LOG_LEVEL", "FullDebug", 1);
        setenv(HandOverName().c_str(), "", 1);
        _CB_initialize();
        CHILD_EXPECT_EQ(r, 1, _CB_initialized);
        std::string text = ReadFile(log);
        CHILD_EXPECT(r, text.find("Log level: D_FULL") != std::string::npos);
        CHILD_EXPECT(r, text.find("] ++++++++++++++++++++++++++++++\n") != std::string::npos);
        CHILD_EXPECT(r, text.find("] + _CB_initialize() called\n") != std::string::npos);
        CHILD_EXPECT(r, text.find("] _CB_fdInfo[0.." + std::to_string(_NBX_max_no_fds - 1) +
                                  "] has been initialized\n") != std::string::npos);
        CHILD_EXPECT(r, text.find("[inherit:") != std::string::npos);
        CHILD_EXPECT(r, text.find("] _CB_inheritFrom: Nothing to inherit\n") != std::string::npos);
        CHILD_EXPECT_EQ(r, 2, CountOf(text, "++++++++++++++++++++++++++++++\n"));
        struct sigaction action;
        sigaction(SIGPIPE, nullptr, &action);
        CHILD_EXPECT(r, action.sa_handler == SIG_IGN);
    });
    EXPECT_EQ(failures, "");
}

TEST(InheritFromTest, BasicLevelLogsNoTracing) {
    TempDir dir;
    std::string log = dir.Path("nbx.log");
    std::string failures = RunInChild([&log](ChildReport &r) {
        setenv("NBX_LOG_FILE", log.c_str(), 1);
        setenv("NBX_LOG_LEVEL", "verbose", 1);
        setenv("NBX_LOG_MAXSIZE", "1234", 1);
        _CB_initialize();
        std::string text = ReadFile(log);
        CHILD_EXPECT(r, text.find("Max size = 1234\n") != std::string::npos);
        CHILD_EXPECT(r, text.find("Log level: D_BASIC") != std::string::npos);
        CHILD_EXPECT(r, text.find("_CB_initialize() called") == std::string::npos);
    });
    EXPECT_EQ(failures, "");
}

// A hostile value, built from descriptors the child opens: tcp and tcp2
// (stream sockets), udp, file (not a socket).
struct Descriptors {
    int tcp, tcp2, udp, file;
};
struct HostileValue {
    const char *name;
    std::string (*value)(const Descriptors &d);
    int kept;  // entries left in the table (records taken before the refusal)
};

std::string Rec(int fd, const char *type = "T") {
    return std::to_string(fd) + "#-1#" + type + "#<127.0.0.1:1>##p#B#<127.0.0.1:1>#";
}

std::string Repeat(const std::string &piece, int times, const char *separator) {
    std::string text;
    for (int i = 0; i < times; ++i) text += (i ? separator : "") + piece;
    return text;
}

const HostileValue kHostile[] = {
    {"garbage", [](const Descriptors &) { return std::string("no records here"); }, 0},
    {"only separators", [](const Descriptors &) { return std::string("$$$"); }, 0},
    {"negative descriptor",
     [](const Descriptors &) { return std::string("-4#-1#T#<1.2.3.4:5>##p#B#<1.2.3.4:5>#"); }, 0},
    {"huge descriptor",
     [](const Descriptors &) { return std::string("2147483648") + Rec(0).substr(1); }, 0},
    {"descriptor beyond table", [](const Descriptors &) { return Rec(_NBX_max_no_fds); }, 0},
    {"descriptor not open", [](const Descriptors &) { return Rec(_NBX_max_no_fds - 1); }, 0},
    {"descriptor is a file", [](const Descriptors &d) { return Rec(d.file); }, 0},
    {"stdin", [](const Descriptors &) { return Rec(0); }, 0},
    {"wrong socket kind", [](const Descriptors &d) { return Rec(d.udp, "T"); }, 0},
    {"thousand entries", [](const Descriptors &d) { return Repeat(Rec(d.tcp), 1000, "$"); }, 0},
    {"thousand aliases",
     [](const Descriptors &d) {
         return Rec(d.tcp) + "$" +
                Repeat(std::to_string(d.tcp2) + "#!" + std::to_string(d.tcp), 999, "$");
     },
     0},
    {"twenty one records", [](const Descriptors &d) { return Repeat(Rec(d.tcp), 21, "$"); }, 0},
    {"longer than a value",
     [](const Descriptors &d) { return Rec(d.tcp) + std::string(4100, '7'); }, 0},
    {"trailing separator", [](const Descriptors &d) { return Rec(d.tcp) + "$"; }, 1},
    {"same descriptor twice", [](const Descriptors &d) { return Rec(d.tcp) + "$" + Rec(d.tcp); },
     1},
    {"alias of another socket",
     [](const Descriptors &d) {
         return Rec(d.tcp) + "$" + std::to_string(d.tcp2) + "#!" + std::to_string(d.tcp);
     },
     1},
    {"queued descriptor reused",
     [](const Descriptors &d) {
         return Rec(d.tcp) + std::to_string(d.tcp2) + "|<1.2.3.4:5>$" + Rec(d.tcp2);
     },
     1},
    {"manager reused as socket",
     [](const Descriptors &d) {
         return std::to_string(d.tcp) + "#" + std::to_string(d.tcp2) +
                "#T#<1.2.3.4:5>##p#B#<1.2.3.4:5>#$" + Rec(d.tcp2);
     },
     2},
};

class HostileValueTest : public testing::TestWithParam<HostileValue> {};

TEST_P(HostileValueTest, IsRefusedCleanly) {
    HostileValue hostile = GetParam();
    std::string failures = RunInChild([&](ChildReport &r) {
        _CB_initialize();
        Descriptors d;
        d.tcp = RawSocket(SOCK_STREAM);
        d.tcp2 = RawSocket(SOCK_STREAM);
        d.udp = RawSocket(SOCK_DGRAM);
        d.file = open("/dev/null", O_RDONLY);
        std::string value = hostile.value(d);
        setenv(HandOverName().c_str(), value.c_str(), 1);
        StartLogCapture();
        CHILD_EXPECT_EQ(r, -1, _CB_inheritFrom());
        CHILD_EXPECT_EQ(r, hostile.kept, EntriesInUse());
        CHILD_EXPECT(r, WasLogged("ERROR \"_CB_inheritFrom: "));
        // A refused value stays for a look, but is never half-applied twice.
        CHILD_EXPECT_EQ(r, value, HandOverValue());
        // Descriptors named in it are still open and ours.
        CHILD_EXPECT(r, fcntl(d.file, F_GETFD) >= 0);
        CHILD_EXPECT(r, fcntl(d.tcp2, F_GETFD) >= 0);
    });
    EXPECT_EQ(failures, "") << hostile.name;
}

INSTANTIATE_TEST_SUITE_P(Refused, HostileValueTest, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<HostileValue> &info) {
                             std::string name = info.param.name;
                             for (char &c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

struct ProgramRun {
    int status = -1;
    std::string out;
};

// Runs program with args in a child with the given extra environment;
// collects standard output (standard error is passed through).
ProgramRun RunProgram(const std::string &program, const std::vector<std::string> &args,
                      const std::vector<std::string> &env) {
    ProgramRun run;
    int out[2];
    if (pipe(out) != 0) return run;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        __real_dup2(out[1], 1);
        __real_close(out[0]);
        __real_close(out[1]);
        for (const std::string &entry : env) putenv(strdup(entry.c_str()));
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        __real_execv(program.c_str(), argv.data());
        _exit(121);
    }
    __real_close(out[1]);
    run.out = nbx_test::ReadToEnd(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string LineValue(const std::string &text, const std::string &key) {
    size_t at = text.find(key + "=");
    if (at == std::string::npos) return "<none>";
    size_t start = at + key.size() + 1;
    return text.substr(start, text.find('\n', start) - start);
}

TEST(HandOverEndToEndTest, SecondStageTakesOverWhatTheFirstBuilt) {
    TempDir dir;
    std::string log = dir.Path("nbx.log");
    ProgramRun run =
        RunProgram(TORVEL_BINARY_DIR "/tests/nbx_handover_stage", {},
                   {"NBX_ENABLE=true", "NBX_LOG_FILE=" + log, "NBX_LOG_LEVEL=fulldebug"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("stage2 ok\n"), std::string::npos) << run.out;

    std::string value = LineValue(run.out, "handover");
    std::string tcp = LineValue(run.out, "tcp"), dup = LineValue(run.out, "tcp_dup");
    std::string udp = LineValue(run.out, "udp"), doomed = LineValue(run.out, "doomed");
    std::string listener = LineValue(run.out, "listener");
    std::string manager = LineValue(run.out, "manager");
    std::string queued = LineValue(run.out, "queued");
    EXPECT_EQ(CountOf(value, "$"), 3) << value;
    EXPECT_EQ(value.rfind(tcp + "#-1#T#<127.0.0.1:", 0), 0u) << value;
    EXPECT_NE(value.find("$" + dup + "#!" + tcp + "$"), std::string::npos) << value;
    EXPECT_NE(value.find("$" + udp + "#-1#U#<0.0.0.0:0>#<127.0.0.1:9>#p#C#"), std::string::npos)
        << value;
    EXPECT_NE(value.find("$" + listener + "#" + manager + "#T#<127.0.0.1:"), std::string::npos)
        << value;
    EXPECT_NE(value.find("#a#L#<127.0.0.1:"), std::string::npos) << value;
    EXPECT_NE(value.find("#" + queued + "|<127.0.0.1:"), std::string::npos) << value;
    EXPECT_EQ(value.find("$" + doomed + "#"), std::string::npos) << value;

    std::string text = ReadFile(log);
    EXPECT_NE(
        text.find("_CB_inheritTo: deleting fd " + doomed + " because close-on-exec tag is set\n"),
        std::string::npos);
    // The first stage's layer handed over; the second took over and logged
    // each socket it restored.
    EXPECT_EQ(CountOf(text, "New log file started"), 2);
    EXPECT_NE(text.find("\t[fd=" + dup + "] refs=2 owner=" + tcp), std::string::npos) << text;
}

TEST(HandOverEndToEndTest, StageProgramWithoutBrokeringHandsNothingOver) {
    ProgramRun run = RunProgram(TORVEL_BINARY_DIR "/tests/nbx_handover_stage", {}, {});
    // Without brokering the wrapped socket calls make no table entries, so
    // stage one cannot set up its sockets.
    EXPECT_EQ(run.status, 2) << run.out;
}

class LauncherExecTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(dir_.Path("gt3").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir_.Path("gt3/lib").c_str(), 0755), 0);
        // The jars the launcher checks before it execs; empty files serve.
        for (const std::string &jar : torvel_test::Gt3Jars())
            ASSERT_TRUE(torvel_test::WriteFile(dir_.Path("gt3/lib/") + jar, ""));
        ASSERT_TRUE(torvel_test::WriteFile(dir_.Path("torvel_config"),
                                           std::string("JAVA = ") +
                                               TORVEL_BINARY_DIR "/tests/nbx_env_dump\n" +
                                               "GT3_LOCATION = " + dir_.Path("gt3") + "\n"));
    }

    ProgramRun RunLauncher(const std::vector<std::string> &extra) {
        std::vector<std::string> env = {"TORVEL_CONFIG=" + dir_.Path("torvel_config")};
        env.insert(env.end(), extra.begin(), extra.end());
        return RunProgram(TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher", {}, env);
    }

    TempDir dir_;
};

TEST_F(LauncherExecTest, BrokeringOnHandsAnEmptyTableToTheVirtualMachine) {
    std::string log = dir_.Path("nbx.log");
    ProgramRun run =
        RunLauncher({"NBX_ENABLE=true", "NBX_LOG_FILE=" + log, "NBX_LOG_LEVEL=fulldebug"});
    ASSERT_EQ(run.status, 0) << run.out;
    std::string pid = LineValue(run.out, "pid");
    EXPECT_NE(run.out.find("\nenv=CB_INHERIT" + pid + "=\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nenv=CLASSPATH="), std::string::npos);
    EXPECT_NE(run.out.find("\narg=torvel.gahp.Gahp\n"), std::string::npos);
    EXPECT_NE(run.out.find("\nsigpipe=ignored\n"), std::string::npos);
    std::string text = ReadFile(log);
    EXPECT_NE(text.find("] + _CB_initialize() called\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] _CB_inheritTo(pid: " + pid + ") env: CB_INHERIT" + pid + "\n"),
              std::string::npos)
        << text;
}

TEST_F(LauncherExecTest, BrokeringOffExecsWithoutTheLayer) {
    std::string log = dir_.Path("nbx.log");
    for (const char *value : {"false", "yes"}) {
        ProgramRun run = RunLauncher({std::string("NBX_ENABLE=") + value, "NBX_LOG_FILE=" + log});
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.find("env=CB_INHERIT"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\nsigpipe=default\n"), std::string::npos);
        EXPECT_FALSE(nbx_test::FileExists(log));
    }
}

}  // namespace
