// Tests of the socket-call indirection: every wrapped call, made by its
// plain name from code linked like the launcher, with brokering off and on
// (each in a fresh process); the re-entrancy flag; the bind address
// rewrite; and the link itself (every __wrap_ defined, no fortified variant
// of a wrapped call). A call reached the brokered operation when it
// initialised the layer and set _NBX_errno; with brokering off neither
// happens. Network traffic stays on 127.0.0.1.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/generic.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "openssl/bio.h"
#include "tests/nbx/nbx_test_support.h"

namespace {

using nbx_test::ChildReport;
using nbx_test::RawSocket;
using nbx_test::RunInChild;

const int kSentinel = 424242;

// A value of NBX_ENABLE (null: unset) and whether it turns brokering on.
struct Mode {
    const char *value;
    bool on;
};
const Mode kModes[] = {{nullptr, false}, {"false", false}, {"yes", false}, {"true ", false},
                       {"true", true},   {"TRUE", true},   {"True", true}};

void ApplyMode(const Mode &mode) {
    if (mode.value == nullptr) {
        unsetenv("NBX_ENABLE");
    } else {
        setenv("NBX_ENABLE", mode.value, 1);
    }
    unsetenv("NBX_LOG_FILE");
}

sockaddr_in Loopback(int port) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<in_port_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

sockaddr *Sa(sockaddr_in *address) {
    return reinterpret_cast<sockaddr *>(address);
}

// A socket bound to 127.0.0.1 on a free port, made with the system's calls.
int BoundSocket(int type, sockaddr_in *address) {
    int fd = RawSocket(type);
    *address = Loopback(0);
    __real_bind(fd, Sa(address), sizeof *address);
    socklen_t length = sizeof *address;
    __real_getsockname(fd, Sa(address), &length);
    return fd;
}

// A listening socket and a client connected to it, both unmanaged.
void ConnectedPair(int *listener, int *client, sockaddr_in *address) {
    *listener = BoundSocket(SOCK_STREAM, address);
    __real_listen(*listener, 5);
    *client = RawSocket(SOCK_STREAM);
    __real_connect(*client, Sa(address), sizeof *address);
}

// One wrapped call with valid arguments; checks the call's own result and
// says whether the call is one that leaves _NBX_errno alone.
struct WrappedCall {
    const char *name;
    void (*run)(ChildReport &report);
    bool keeps_nbx_errno;
};

void CallSocket(ChildReport &r) {
    _NBX_errno = kSentinel;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    CHILD_EXPECT(r, fd >= 0);
}

void CallBind(ChildReport &r) {
    int fd = RawSocket(SOCK_STREAM);
    sockaddr_in address = Loopback(0);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, bind(fd, Sa(&address), sizeof address));
    socklen_t length = sizeof address;
    __real_getsockname(fd, Sa(&address), &length);
    CHILD_EXPECT_EQ(r, htonl(INADDR_LOOPBACK), address.sin_addr.s_addr);
}

void CallListen(ChildReport &r) {
    sockaddr_in address;
    int fd = BoundSocket(SOCK_STREAM, &address);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, listen(fd, 5));
}

void CallConnect(ChildReport &r) {
    sockaddr_in address;
    int listener = BoundSocket(SOCK_STREAM, &address);
    __real_listen(listener, 5);
    int client = RawSocket(SOCK_STREAM);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, connect(client, Sa(&address), sizeof address));
}

void CallAccept(ChildReport &r) {
    int listener, client;
    sockaddr_in address;
    ConnectedPair(&listener, &client, &address);
    sockaddr_in peer;
    socklen_t length = sizeof peer;
    _NBX_errno = kSentinel;
    int accepted = accept(listener, Sa(&peer), &length);
    CHILD_EXPECT(r, accepted >= 0);
    CHILD_EXPECT_EQ(r, static_cast<socklen_t>(sizeof peer), length);
    CHILD_EXPECT_EQ(r, AF_INET, static_cast<int>(peer.sin_family));
}

void CallSelect(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    __real_write(p[1], "x", 1);
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(p[0], &read_set);
    timeval zero = {0, 0};
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 1, select(p[0] + 1, &read_set, nullptr, nullptr, &zero));
    CHILD_EXPECT(r, FD_ISSET(p[0], &read_set));
}

void CallRecv(ChildReport &r) {
    int sv[2];
    CHILD_EXPECT(r, socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0);
    __real_write(sv[1], "k", 1);
    char c = 0;
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 1, static_cast<int>(recv(sv[0], &c, 1, 0)));
    CHILD_EXPECT_EQ(r, 'k', c);
}

void CallRead(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    __real_write(p[1], "q", 1);
    char c = 0;
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 1, static_cast<int>(read(p[0], &c, 1)));
    CHILD_EXPECT_EQ(r, 'q', c);
}

void CallRecvfrom(ChildReport &r) {
    sockaddr_in to, from_address;
    int receiver = BoundSocket(SOCK_DGRAM, &to);
    int sender = BoundSocket(SOCK_DGRAM, &from_address);
    __real_sendto(sender, "abc", 3, 0, Sa(&to), sizeof to);
    char buffer[8];
    sockaddr_in from;
    socklen_t length = sizeof from;
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(
        r, 3, static_cast<int>(recvfrom(receiver, buffer, sizeof buffer, 0, Sa(&from), &length)));
    CHILD_EXPECT_EQ(r, from_address.sin_port, from.sin_port);
}

void CallSend(ChildReport &r) {
    int sv[2];
    CHILD_EXPECT(r, socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 2, static_cast<int>(send(sv[0], "ab", 2, 0)));
    char buffer[4] = {0};
    CHILD_EXPECT_EQ(r, 2, static_cast<int>(__real_read(sv[1], buffer, sizeof buffer)));
}

void CallSendto(ChildReport &r) {
    sockaddr_in to, unused;
    int receiver = BoundSocket(SOCK_DGRAM, &to);
    int sender = BoundSocket(SOCK_DGRAM, &unused);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 4, static_cast<int>(sendto(sender, "ping", 4, 0, Sa(&to), sizeof to)));
    char buffer[8];
    CHILD_EXPECT_EQ(r, 4, static_cast<int>(__real_recv(receiver, buffer, sizeof buffer, 0)));
}

void CallWrite(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 1, static_cast<int>(write(p[1], "w", 1)));
    char c = 0;
    __real_read(p[0], &c, 1);
    CHILD_EXPECT_EQ(r, 'w', c);
}

void CallClose(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, close(p[0]));
    CHILD_EXPECT_EQ(r, -1, fcntl(p[0], F_GETFD));
}

void CallDup(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    _NBX_errno = kSentinel;
    int copy = dup(p[0]);
    CHILD_EXPECT(r, copy >= 0 && copy != p[0]);
}

void CallDup2(ChildReport &r) {
    int p[2];
    CHILD_EXPECT(r, pipe(p) == 0);
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 50, dup2(p[0], 50));
    CHILD_EXPECT(r, fcntl(50, F_GETFD) >= 0);
}

void CallGetsockname(ChildReport &r) {
    sockaddr_in bound;
    int fd = BoundSocket(SOCK_STREAM, &bound);
    sockaddr_in address;
    socklen_t length = sizeof address;
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, getsockname(fd, Sa(&address), &length));
    CHILD_EXPECT_EQ(r, bound.sin_port, address.sin_port);
}

void CallGetsockopt(ChildReport &r) {
    int fd = RawSocket(SOCK_DGRAM);
    int type = 0;
    socklen_t length = sizeof type;
    _NBX_errno = kSentinel;
    CHILD_EXPECT_EQ(r, 0, getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length));
    CHILD_EXPECT_EQ(r, SOCK_DGRAM, type);
}

const WrappedCall kCalls[] = {
    {"socket", CallSocket, false},
    {"bind", CallBind, false},
    {"listen", CallListen, false},
    {"connect", CallConnect, false},
    {"accept", CallAccept, false},
    {"select", CallSelect, false},
    {"recv", CallRecv, false},
    {"read", CallRead, false},
    {"recvfrom", CallRecvfrom, false},
    {"send", CallSend, false},
    {"sendto", CallSendto, true},
    {"write", CallWrite, true},
    {"close", CallClose, false},
    {"dup", CallDup, false},
    {"dup2", CallDup2, false},
    {"getsockname", CallGetsockname, false},
    {"getsockopt", CallGetsockopt, false},
};

class DispatchTest : public testing::TestWithParam<std::tuple<WrappedCall, Mode>> {};

TEST_P(DispatchTest, CallReachesBrokeredOperationOnlyWhenEnabled) {
    WrappedCall call = std::get<0>(GetParam());
    Mode mode = std::get<1>(GetParam());
    std::string failures = RunInChild([&](ChildReport &report) {
        ApplyMode(mode);
        call.run(report);
        CHILD_EXPECT_EQ(report, mode.on ? 1 : 0, _CB_initialized);
        CHILD_EXPECT_EQ(report, 0, _CB_inWrapper);
        if (!mode.on || call.keeps_nbx_errno) {
            CHILD_EXPECT_EQ(report, kSentinel, _NBX_errno);
        } else {
            CHILD_EXPECT_EQ(report, 0, _NBX_errno);
        }
    });
    EXPECT_EQ(failures, "") << call.name
                            << " with NBX_ENABLE=" << (mode.value ? mode.value : "(unset)");
}

std::string CallName(const testing::TestParamInfo<DispatchTest::ParamType> &info) {
    const Mode &mode = std::get<1>(info.param);
    std::string value = mode.value == nullptr ? "unset" : mode.value;
    for (char &c : value) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return std::string(std::get<0>(info.param).name) + "_" + value + "_" +
           std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, DispatchTest,
                         testing::Combine(testing::ValuesIn(kCalls), testing::ValuesIn(kModes)),
                         CallName);

TEST(SwitchTest, NetRemapSwitchIsReadButSteersNoCall) {
    std::string failures = RunInChild([](ChildReport &r) {
        unsetenv("NBX_ENABLE");
        unsetenv("NET_REMAP_ENABLE");
        CHILD_EXPECT_EQ(r, 0, useGeneric());
        setenv("NET_REMAP_ENABLE", "tRuE", 1);
        CHILD_EXPECT_EQ(r, 1, useGeneric());
        CHILD_EXPECT_EQ(r, 0, useNBX());
        CHILD_EXPECT_EQ(r, -1, close(-1));
        CHILD_EXPECT_EQ(r, 0, _CB_initialized);
        setenv("NET_REMAP_ENABLE", "1", 1);
        CHILD_EXPECT_EQ(r, 0, useGeneric());
    });
    EXPECT_EQ(failures, "");
}

void Handler() {}

TEST(SwitchTest, ErrorCallbackIsInstalledOnlyWithBrokeringOn) {
    std::string failures = RunInChild([](ChildReport &r) {
        unsetenv("NBX_ENABLE");
        _Broker_down_since = 5;
        CHILD_EXPECT_EQ(r, 0, Generic_set_err_callback(Handler, 60));
        CHILD_EXPECT(r, _Broker_down_app_callback == nullptr);
        CHILD_EXPECT_EQ(r, 5, static_cast<int>(_Broker_down_since));
        setenv("NBX_ENABLE", "true", 1);
        CHILD_EXPECT_EQ(r, 1, Generic_set_err_callback(Handler, 60));
        CHILD_EXPECT(r, _Broker_down_app_callback == Handler);
        CHILD_EXPECT_EQ(r, 60, _Broker_down_max);
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(_Broker_down_since));
    });
    EXPECT_EQ(failures, "");
}

// The cryptographic library is linked into the same program, and its own
// descriptor calls must reach the wrappers too: a file-descriptor BIO reads,
// writes and closes with the plain calls inside libcrypto.
TEST(CryptoLibraryTest, ItsDescriptorCallsGoThroughTheWrappers) {
    for (bool on : {false, true}) {
        std::string failures = RunInChild([on](ChildReport &r) {
            ApplyMode(on ? Mode{"true", true} : Mode{nullptr, false});
            int p[2];
            CHILD_EXPECT_EQ(r, 0, pipe(p));
            BIO *out = BIO_new_fd(p[1], BIO_CLOSE);
            BIO *in = BIO_new_fd(p[0], BIO_CLOSE);
            CHILD_EXPECT_EQ(r, 3, BIO_write(out, "abc", 3));
            CHILD_EXPECT_EQ(r, on ? 1 : 0, _CB_initialized);
            char text[4] = {0};
            CHILD_EXPECT_EQ(r, 3, BIO_read(in, text, 3));
            CHILD_EXPECT_EQ(r, std::string("abc"), std::string(text));
            BIO_free(out);
            BIO_free(in);
            // BIO_CLOSE closed both ends through the wrapped close.
            CHILD_EXPECT_EQ(r, -1, fcntl(p[0], F_GETFD));
            CHILD_EXPECT_EQ(r, -1, fcntl(p[1], F_GETFD));
            CHILD_EXPECT_EQ(r, 0, _CB_inWrapper);
        });
        EXPECT_EQ(failures, "") << (on ? "brokering on" : "brokering off");
    }
}

TEST(ReentrancyTest, CallWithFlagSetGoesStraightToTheSystem) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        _CB_inWrapper = 1;
        _NBX_errno = kSentinel;
        CHILD_EXPECT_EQ(r, -1, close(-1));
        CHILD_EXPECT_EQ(r, EBADF, errno);
        CHILD_EXPECT_EQ(r, 1, _CB_inWrapper);  // a re-entered wrapper leaves it
        CHILD_EXPECT_EQ(r, 0, _CB_initialized);
        CHILD_EXPECT_EQ(r, kSentinel, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

// What the layer's log writer observed while a brokered call was running.
int flag_inside = -1;
int nbx_errno_after_inner_close = -1;
void InspectingWriter(int, const char *, va_list) {
    if (flag_inside != -1) return;
    flag_inside = _CB_inWrapper;
    _NBX_errno = kSentinel;
    close(-1);  // by its plain name: would reach NBX_close if dispatched
    nbx_errno_after_inner_close = _NBX_errno;
}

TEST(ReentrancyTest, LayerCallsInsideABrokeredCallAreNotDispatchedAgain) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        _CB_initialize();
        Generic_set_log_va(InspectingWriter);
        int fd = socket(AF_INET, SOCK_STREAM, 0);  // logs from inside NBX_socket
        CHILD_EXPECT(r, fd >= 0);
        CHILD_EXPECT_EQ(r, 1, flag_inside);
        CHILD_EXPECT_EQ(r, kSentinel, nbx_errno_after_inner_close);
        CHILD_EXPECT_EQ(r, 0, _CB_inWrapper);
    });
    EXPECT_EQ(failures, "");
}

TEST(ReentrancyTest, ErrnoOfTheSystemCallSurvivesTheWrapper) {
    std::string failures = RunInChild([](ChildReport &r) {
        for (const char *value : {"false", "true"}) {
            setenv("NBX_ENABLE", value, 1);
            errno = 0;
            char c;
            CHILD_EXPECT_EQ(r, -1, static_cast<int>(read(-1, &c, 1)));
            CHILD_EXPECT_EQ(r, EBADF, errno);
            errno = 0;
            CHILD_EXPECT_EQ(r, -1, connect(RawSocket(SOCK_STREAM), nullptr, 16));
            CHILD_EXPECT_EQ(r, EFAULT, errno);
        }
    });
    EXPECT_EQ(failures, "");
}

// Bound address of fd.
sockaddr_in LocalAddress(int fd) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    socklen_t length = sizeof address;
    __real_getsockname(fd, Sa(&address), &length);
    return address;
}

TEST(BindRewriteTest, PrivateAddressBecomesAnyAndPortIsKept) {
    std::string failures = RunInChild([](ChildReport &r) {
        // A free port, found on loopback and released again.
        sockaddr_in probe;
        int probe_fd = BoundSocket(SOCK_STREAM, &probe);
        __real_close(probe_fd);

        sockaddr_in priv = Loopback(0);
        inet_pton(AF_INET, "10.1.2.3", &priv.sin_addr);
        priv.sin_port = probe.sin_port;
        int off_fd = RawSocket(SOCK_STREAM);
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, bind(off_fd, Sa(&priv), sizeof priv));
        CHILD_EXPECT_EQ(r, EADDRNOTAVAIL, errno);

        setenv("NBX_ENABLE", "true", 1);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in before = priv;
        CHILD_EXPECT_EQ(r, 0, bind(fd, Sa(&priv), sizeof priv));
        sockaddr_in bound = LocalAddress(fd);
        CHILD_EXPECT_EQ(r, htonl(INADDR_ANY), bound.sin_addr.s_addr);
        CHILD_EXPECT_EQ(r, probe.sin_port, bound.sin_port);
        CHILD_EXPECT(r, memcmp(&before, &priv, sizeof priv) == 0);
        __real_close(fd);
    });
    EXPECT_EQ(failures, "");
}

TEST(BindRewriteTest, PublicAddressIsKept) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        CHILD_EXPECT_EQ(r, 0, bind(fd, Sa(&address), sizeof address));
        CHILD_EXPECT_EQ(r, htonl(INADDR_LOOPBACK), LocalAddress(fd).sin_addr.s_addr);
    });
    EXPECT_EQ(failures, "");
}

TEST(BindRewriteTest, NullShortAndForeignAddressesPassUnchanged) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, bind(fd, nullptr, sizeof(sockaddr_in)));
        CHILD_EXPECT_EQ(r, EFAULT, errno);

        // A short length is the kernel's to refuse, not ours to read past.
        sockaddr_in *tiny = static_cast<sockaddr_in *>(malloc(4));
        memset(tiny, 0, 4);
        tiny->sin_family = AF_INET;
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, bind(fd, reinterpret_cast<sockaddr *>(tiny), 4));
        CHILD_EXPECT_EQ(r, EINVAL, errno);
        free(tiny);

        int unix_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un local;
        memset(&local, 0, sizeof local);
        local.sun_family = AF_UNIX;
        snprintf(local.sun_path, sizeof local.sun_path, "/tmp/nbx_bind_%d",
                 static_cast<int>(getpid()));
        CHILD_EXPECT_EQ(r, 0, bind(unix_fd, reinterpret_cast<sockaddr *>(&local), sizeof local));
        unlink(local.sun_path);
    });
    EXPECT_EQ(failures, "");
}

// The brokered operations keep the table in step with the descriptors, which
// is what the exec hand-over serialises.
TEST(TableBookkeepingTest, SocketDupAndCloseShareAndReleaseRecords) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int unix_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[unix_fd].type);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT_EQ(r, static_cast<int>(TCP), _CB_fdInfo[fd].type);
        CHILD_EXPECT(r, info != nullptr);
        if (info == nullptr) return;
        CHILD_EXPECT_EQ(r, static_cast<int>(CREATED), info->status);
        CHILD_EXPECT_EQ(r, 1u, info->refs);
        CHILD_EXPECT_EQ(r, -1, info->manager);
        CHILD_EXPECT_EQ(r, fd + 1, _CB_maxfd);

        int low = 3;  // free the lowest number so dup2 can put a copy below fd
        CHILD_EXPECT(r, fd > low);
        CHILD_EXPECT_EQ(r, low, dup2(fd, low));
        CHILD_EXPECT_EQ(r, info, _CB_fdInfo[low].info);
        CHILD_EXPECT_EQ(r, 2u, info->refs);
        CHILD_EXPECT_EQ(r, low, info->owner);
        int copy = dup(fd);
        CHILD_EXPECT_EQ(r, 3u, info->refs);
        CHILD_EXPECT_EQ(r, copy + 1, _CB_maxfd);

        CHILD_EXPECT_EQ(r, 0, close(low));
        CHILD_EXPECT_EQ(r, 2u, info->refs);
        CHILD_EXPECT_EQ(r, fd, info->owner);  // the lowest one left
        CHILD_EXPECT_EQ(r, 0, close(copy));
        CHILD_EXPECT_EQ(r, fd + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(r, 0, close(fd));
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[fd].type);
        CHILD_EXPECT_EQ(r, 0, _CB_maxfd);
    });
    EXPECT_EQ(failures, "");
}

// The clean-up closes every brokered descriptor and forgets the table and
// its clocks; the layer's fork is the system's.
TEST(TableBookkeepingTest, CleanupClosesEveryBrokeredDescriptorAndForkIsPlain) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int first = socket(AF_INET, SOCK_STREAM, 0);
        int second = socket(AF_INET, SOCK_DGRAM, 0);
        CHILD_EXPECT(r, _CB_fdInfo[first].info != nullptr && _CB_fdInfo[second].info != nullptr);
        _CB_lastHeartBeat = 77;
        Generic_cleanup();
        CHILD_EXPECT_EQ(r, 0, _CB_maxfd);
        CHILD_EXPECT_EQ(r, static_cast<time_t>(0), _CB_lastHeartBeat);
        CHILD_EXPECT(r, _CB_fdInfo[first].info == nullptr && _CB_fdInfo[second].info == nullptr);
        CHILD_EXPECT_EQ(r, -1, fcntl(first, F_GETFD));
        CHILD_EXPECT_EQ(r, -1, fcntl(second, F_GETFD));

        pid_t child = Generic_fork();
        if (child == 0) _exit(_CB_maxfd == 0 ? 7 : 8);
        int status = 0;
        CHILD_EXPECT_EQ(r, child, waitpid(child, &status, 0));
        CHILD_EXPECT(r, WIFEXITED(status) && WEXITSTATUS(status) == 7);
    });
    EXPECT_EQ(failures, "");
}

TEST(TableBookkeepingTest, Dup2OverABrokeredDescriptorReleasesIt) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int a = socket(AF_INET, SOCK_STREAM, 0);
        int b = socket(AF_INET, SOCK_DGRAM, 0);
        SockInfo *info = _CB_fdInfo[a].info;
        CHILD_EXPECT_EQ(r, b, dup2(a, b));
        CHILD_EXPECT_EQ(r, static_cast<int>(TCP), _CB_fdInfo[b].type);
        CHILD_EXPECT_EQ(r, info, _CB_fdInfo[b].info);
        CHILD_EXPECT_EQ(r, 2u, info->refs);
        CHILD_EXPECT_EQ(r, a, dup2(a, a));  // onto itself: no change
        CHILD_EXPECT_EQ(r, 2u, info->refs);
    });
    EXPECT_EQ(failures, "");
}

TEST(TableBookkeepingTest, ManagerCloseKeepsItAndHiddenCloseIsRefused) {
    std::string failures = RunInChild([](ChildReport &r) {
        setenv("NBX_ENABLE", "true", 1);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        SockInfo *info = _CB_fdInfo[fd].info;
        int manager = RawSocket(SOCK_STREAM);
        int queued = RawSocket(SOCK_STREAM);
        _CB_fdInfo[manager] = FdInfo{MANAGER, info};
        info->manager = manager;
        _CB_raisemaxfd(manager);
        nbx_test::AddConn(info, queued, nbx_test::Addr("127.0.0.1", 1));
        CHILD_EXPECT_EQ(r, 0, close(manager));
        CHILD_EXPECT(r, fcntl(manager, F_GETFD) >= 0);
        CHILD_EXPECT_EQ(r, 1005, _NBX_errno);
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, close(queued));
        CHILD_EXPECT_EQ(r, EBADF, errno);
        CHILD_EXPECT(r, fcntl(queued, F_GETFD) >= 0);
        // The last close releases the record with its manager; queued
        // connections stay open.
        CHILD_EXPECT_EQ(r, 0, close(fd));
        CHILD_EXPECT_EQ(r, -1, fcntl(manager, F_GETFD));
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[manager].type);
        CHILD_EXPECT(r, fcntl(queued, F_GETFD) >= 0);
        CHILD_EXPECT_EQ(r, 0, _CB_maxfd);
    });
    EXPECT_EQ(failures, "");
}

// A descriptor above the table's size is never entered (nor written past
// the table's end): the table is sized while the limit is low, then the
// limit is raised again.
TEST(TableBookkeepingTest, DescriptorsBeyondTheTablePassUnmanaged) {
    std::string failures = RunInChild([](ChildReport &r) {
        rlimit saved;
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = 64;
        CHILD_EXPECT_EQ(r, 0, setrlimit(RLIMIT_NOFILE, &low));
        setenv("NBX_ENABLE", "true", 1);
        _CB_initialize();
        CHILD_EXPECT_EQ(r, 64, _NBX_max_no_fds);
        CHILD_EXPECT_EQ(r, 0, setrlimit(RLIMIT_NOFILE, &saved));
        if (saved.rlim_cur < 200) return;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, 100, dup2(fd, 100));
        CHILD_EXPECT_EQ(r, 1u, _CB_fdInfo[fd].info->refs);
        CHILD_EXPECT_EQ(r, fd + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(r, 120, dup2(100, 120));
        CHILD_EXPECT_EQ(r, 0, close(100));
        CHILD_EXPECT_EQ(r, 0, close(120));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        // With every number of the table taken, a new socket lands beyond it.
        for (int i = 0; i < 64; ++i) {
            if (fcntl(i, F_GETFD) < 0) __real_dup2(fd, i);
        }
        int beyond = socket(AF_INET, SOCK_DGRAM, 0);
        CHILD_EXPECT(r, beyond >= 64);
        CHILD_EXPECT_EQ(r, fd + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(r, 0, close(beyond));
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, close(150));
        CHILD_EXPECT_EQ(r, EBADF, errno);
    });
    EXPECT_EQ(failures, "");
}

// The helper programs, built beside this test program.
const char kEnvDump[] = TORVEL_BINARY_DIR "/tests/nbx_env_dump";

struct ExecOutcome {
    int status = -1;
    std::string out;
};

// Runs body in a child whose standard output is collected; body is
// expected to exec (status 99 and its text when it returns).
ExecOutcome RunExec(const std::function<void()> &body) {
    ExecOutcome outcome;
    int out[2];
    if (pipe(out) != 0) return outcome;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        __real_dup2(out[1], 1);
        __real_close(out[0]);
        __real_close(out[1]);
        signal(SIGPIPE, SIG_DFL);
        body();
        printf("exec returned: %s\n", strerror(errno));
        fflush(stdout);
        _exit(99);
    }
    __real_close(out[1]);
    outcome.out = nbx_test::ReadToEnd(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// The value of the hand-over variable in a dump, or null text "<absent>".
std::string HandOver(const std::string &dump) {
    size_t at = dump.find("pid=");
    if (at == std::string::npos) return "<no pid>";
    std::string pid = dump.substr(at + 4, dump.find('\n', at) - at - 4);
    std::string key = "env=CB_INHERIT" + pid + "=";
    at = dump.find(key);
    if (at == std::string::npos) return "<absent>";
    size_t start = at + key.size();
    return dump.substr(start, dump.find('\n', start) - start);
}

bool HasLine(const std::string &text, const std::string &line) {
    return text.find(line + "\n") != std::string::npos;
}

void SetSwitch(bool on) {
    if (on) {
        setenv("NBX_ENABLE", "true", 1);
    } else {
        unsetenv("NBX_ENABLE");
    }
}

TEST(ExecDispatchTest, ExecvHandsOverOnlyWithBrokeringOn) {
    for (bool on : {false, true}) {
        ExecOutcome result = RunExec([on] {
            SetSwitch(on);
            char *argv[] = {const_cast<char *>(kEnvDump), const_cast<char *>("one"), nullptr};
            execv(kEnvDump, argv);
        });
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_TRUE(HasLine(result.out, "arg=one"));
        EXPECT_EQ(HandOver(result.out), on ? "" : "<absent>") << on;
        EXPECT_TRUE(HasLine(result.out, on ? "sigpipe=ignored" : "sigpipe=default"));
    }
}

TEST(ExecDispatchTest, ExecveWithOwnEnvironmentCarriesTheHandOver) {
    for (bool on : {false, true}) {
        ExecOutcome result = RunExec([on] {
            SetSwitch(on);
            char *argv[] = {const_cast<char *>(kEnvDump), nullptr};
            execve(kEnvDump, argv, environ);
        });
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(HandOver(result.out), on ? "" : "<absent>") << on;
    }
}

TEST(ExecDispatchTest, ExecveWithOtherEnvironmentPassesItUnchanged) {
    ExecOutcome result = RunExec([] {
        SetSwitch(true);
        char *argv[] = {const_cast<char *>(kEnvDump), nullptr};
        char *envp[] = {const_cast<char *>("ONLY=this"), nullptr};
        execve(kEnvDump, argv, envp);
    });
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_TRUE(HasLine(result.out, "env=ONLY=this"));
    EXPECT_EQ(nbx_test::CountOf(result.out, "env="), 1);
    EXPECT_TRUE(HasLine(result.out, "sigpipe=ignored"));
}

TEST(ExecDispatchTest, ExeclHandsOverEvenWithBrokeringOff) {
    for (bool on : {false, true}) {
        ExecOutcome result = RunExec([on] {
            SetSwitch(on);
            execl(kEnvDump, kEnvDump, "a", "b", static_cast<char *>(nullptr));
        });
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_TRUE(HasLine(result.out, "argc=3"));
        EXPECT_TRUE(HasLine(result.out, "arg=b"));
        EXPECT_EQ(HandOver(result.out), "") << on;
    }
}

TEST(ExecDispatchTest, ExeclTakesNineteenArgumentsAndRefusesTwenty) {
    ExecOutcome ok = RunExec([] {
        execl(kEnvDump, kEnvDump, "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13",
              "14", "15", "16", "17", "18", "19", static_cast<char *>(nullptr));
    });
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_TRUE(HasLine(ok.out, "argc=19"));
    EXPECT_TRUE(HasLine(ok.out, "arg=19"));

    for (bool generic : {false, true}) {
        ExecOutcome refused = RunExec([generic] {
            int result = generic
                             ? Generic_execl(kEnvDump, kEnvDump, "2", "3", "4", "5", "6", "7", "8",
                                             "9", "10", "11", "12", "13", "14", "15", "16", "17",
                                             "18", "19", "20", static_cast<char *>(nullptr))
                             : execl(kEnvDump, kEnvDump, "2", "3", "4", "5", "6", "7", "8", "9",
                                     "10", "11", "12", "13", "14", "15", "16", "17", "18", "19",
                                     "20", static_cast<char *>(nullptr));
            printf("result=%d\n", result);
        });
        EXPECT_EQ(refused.status, 99);
        EXPECT_TRUE(HasLine(refused.out, "result=-1")) << refused.out;
        EXPECT_NE(refused.out.find(strerror(E2BIG)), std::string::npos) << refused.out;
    }
}

TEST(ExecDispatchTest, NbxExeclGrowsItsVectorPastTwentyArguments) {
    ExecOutcome result = RunExec([] {
        SetSwitch(true);
        NBX_execl(kEnvDump, kEnvDump, "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12",
                  "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23", "24", "25",
                  static_cast<char *>(nullptr));
    });
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_TRUE(HasLine(result.out, "argc=25"));
    EXPECT_TRUE(HasLine(result.out, "arg=25"));
    EXPECT_EQ(HandOver(result.out), "");
}

TEST(ExecDispatchTest, FailedExecReturnsMinusOneWithErrno) {
    for (bool on : {false, true}) {
        ExecOutcome result = RunExec([on] {
            SetSwitch(on);
            char *argv[] = {const_cast<char *>("missing"), nullptr};
            int r = execv("/nonexistent/program", argv);
            printf("result=%d errno=%d flag=%d\n", r, errno, _CB_inWrapper);
        });
        EXPECT_EQ(result.status, 99);
        EXPECT_TRUE(HasLine(result.out, "result=-1 errno=" + std::to_string(ENOENT) + " flag=0"))
            << result.out;
    }
}

// Symbols of a linked program as "<type> <name>" lines, from nm.
std::string Symbols(const std::string &program) {
    std::string command = "nm '" + program + "' 2>/dev/null";
    FILE *pipe_in = popen(command.c_str(), "r");
    std::string text;
    if (pipe_in == nullptr) return text;
    char line[1024];
    while (fgets(line, sizeof line, pipe_in) != nullptr) {
        // Keep the type letter and the name; drop the address.
        std::string entry = line;
        size_t space = entry.find(' ');
        if (space != std::string::npos && space + 1 < entry.size() && entry[0] != ' ') {
            entry = entry.substr(space + 1);
        } else {
            size_t first = entry.find_first_not_of(' ');
            entry = first == std::string::npos ? "" : entry.substr(first);
        }
        text += entry;
    }
    pclose(pipe_in);
    return text;
}

const char * const kWrappedNames[] = {"socket",      "bind",       "listen", "connect",  "accept",
                                      "select",      "recv",       "read",   "recvfrom", "send",
                                      "sendto",      "write",      "close",  "dup",      "dup2",
                                      "getsockname", "getsockopt", "execv",  "execve",   "execl"};

// The launcher, a helper program and the library archive itself; the test
// program also links GoogleTest, whose own calls are not ours to vouch for.
TEST(WrapLinkTest, ProgramsDefineEveryWrapperAndCallNoFortifiedVariant) {
    const std::string programs[] = {TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher", kEnvDump};
    for (const std::string &program : programs) {
        std::string symbols = Symbols(program);
        ASSERT_FALSE(symbols.empty()) << "nm found nothing in " << program;
        for (const char *name : kWrappedNames) {
            EXPECT_TRUE(HasLine(symbols, std::string("T __wrap_") + name))
                << program << " lacks __wrap_" << name;
            // A checking variant may be there only as the library's own
            // definition, which makes the wrapped call (see below).
            std::string fortified = std::string("__") + name + "_chk";
            EXPECT_FALSE(HasLine(symbols, "U " + fortified)) << program << " calls " << fortified;
            EXPECT_EQ(symbols.find(std::string("U __real_") + name), std::string::npos)
                << program << " leaves __real_" << name << " unresolved";
        }
    }
}

// Code compiled with _FORTIFY_SOURCE calls __read_chk, __recv_chk and
// __recvfrom_chk instead of read, recv and recvfrom; the C library's
// definitions would go past the wrapping. The library's own take their
// place and end in the wrapper.
TEST(WrapLinkTest, CheckingVariantsEndInTheWrappers) {
    for (const char *name : {"read", "recv", "recvfrom"}) {
        std::string fortified = std::string("__") + name + "_chk";
        std::string command = "objdump -d --no-show-raw-insn --disassemble=" + fortified + " '" +
                              TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher' 2>/dev/null";
        FILE *pipe_in = popen(command.c_str(), "r");
        ASSERT_NE(pipe_in, nullptr);
        std::string text;
        char line[1024];
        while (fgets(line, sizeof line, pipe_in) != nullptr) text += line;
        pclose(pipe_in);
        EXPECT_NE(text.find("<" + fortified + ">:"), std::string::npos)
            << "the launcher does not define " << fortified;
        EXPECT_NE(text.find(std::string("<__wrap_") + name + ">"), std::string::npos)
            << fortified << " does not reach __wrap_" << name << ":\n"
            << text;
    }
}

// The cryptographic library is part of the launcher itself, not a shared
// library whose calls the link-time wrapping could never reach.
TEST(WrapLinkTest, LauncherCarriesTheCryptographicLibrary) {
    std::string symbols = Symbols(TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher");
    EXPECT_TRUE(HasLine(symbols, "T RAND_bytes"));
    EXPECT_FALSE(HasLine(symbols, "U RAND_bytes"));
}

TEST(WrapLinkTest, LibraryReachesTheSystemOnlyThroughRealNames) {
    std::string symbols = Symbols(TORVEL_BINARY_DIR "/libtorvel.a");
    ASSERT_FALSE(symbols.empty());
    for (const char *name : kWrappedNames) {
        // Fortified code calls the checking variant; the archive must then
        // define it itself, ending in the wrapped call (test above).
        std::string fortified = std::string("__") + name + "_chk";
        if (HasLine(symbols, "U " + fortified)) {
            EXPECT_TRUE(HasLine(symbols, "T " + fortified))
                << "the library calls the C library's " << fortified;
        }
    }
    // The layer's own system calls are explicit __real_ references.
    EXPECT_TRUE(HasLine(symbols, "U __real_write"));
    EXPECT_TRUE(HasLine(symbols, "U __real_close"));
}

}  // namespace
