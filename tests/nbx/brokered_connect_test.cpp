// Tests of the brokered bind, listen, connect and accept: registration with
// a fake broker and relay (exact messages, the canonical address the broker
// assigns, a refused registration), status errors, the accept queue, and
// connections through a fake destination broker that answers actively,
// passively or not at all; brokers that stall, which fail the call within
// the conversation's time; the local address a direct connection reports;
// and which of the layer's own descriptors survive exec. Fixed broker ports
// need a private network; each body runs in a fresh child.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/broker_client.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_fake.h"
#include "tests/nbx/nbx_test_support.h"

namespace {

using broker_test::Hex;
using brokered_test::Address;
using brokered_test::BrokerAndRelay;
using brokered_test::Field;
using brokered_test::HexOf;
using brokered_test::InTestNetwork;
using brokered_test::LocalPort;
using brokered_test::Message;
using brokered_test::PlainSocket;
using brokered_test::Readable;
using brokered_test::Sa;
using brokered_test::ScriptedServer;
using brokered_test::StartBrokeredLayer;
using brokered_test::Step;
using brokered_test::UseRoutes;
using nbx_test::AddConn;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;

TEST(BrokeredBindTest, WithoutBrokerThePhysicalAddressIsTheCanonicalOne) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any = Address("127.0.0.1", 0);
        CHILD_EXPECT_EQ(r, 0, NBX_bind(fd, Sa(&any), sizeof any));
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT_EQ(r, static_cast<int>(BOUND), info->status);
        CHILD_EXPECT_EQ(r, -1, info->manager);
        CHILD_EXPECT_EQ(r, htons(static_cast<in_port_t>(LocalPort(fd))), info->canon.port);
        CHILD_EXPECT(r, info->canon.port != 0);
        CHILD_EXPECT_EQ(r, info->phyAddr.port, info->canon.port);
        sockaddr_in seen;
        socklen_t length = sizeof seen;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockname(fd, Sa(&seen), &length));
        CHILD_EXPECT_EQ(r, info->canon.port, seen.sin_port);
        CHILD_EXPECT_EQ(r, -1, NBX_bind(fd, Sa(&any), sizeof any));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INVALID_STATUS, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

// A socket left with a physical port by a failed registration gets a fresh
// socket under the same descriptor number when bound to another port.
TEST(BrokeredBindTest, BindingAnotherPortReplacesTheSocketUnderTheSameNumber) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in first = Address("127.0.0.1", 0);
        __real_bind(fd, Sa(&first), sizeof first);
        SockInfo *info = _CB_fdInfo[fd].info;
        info->phyAddr = nbx_test::Addr("127.0.0.1", LocalPort(fd));
        int wanted = 0;
        int probe = PlainSocket(SOCK_DGRAM, "127.0.0.1", &wanted);  // a port free for TCP too
        __real_close(probe);
        sockaddr_in second = Address("127.0.0.1", wanted);
        CHILD_EXPECT_EQ(r, 0, NBX_bind(fd, Sa(&second), sizeof second));
        CHILD_EXPECT_EQ(r, wanted, LocalPort(fd));
        CHILD_EXPECT_EQ(r, htons(static_cast<in_port_t>(wanted)), info->canon.port);
        CHILD_EXPECT_EQ(r, TCP, _CB_fdInfo[fd].type);
    });
    EXPECT_EQ(failures, "");
}

// Registration: NEW_SOCK at the broker, TCP_BIND on a manager connection to
// the relay, BIND_OK's address seen by getsockname; LISTEN then ACK.
TEST(BrokeredBindTest, BrokerAssignsTheCanonicalAddressAndTheManagerStays) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        BrokerAndRelay brokers;
        auto &[broker, relay] = brokers;
        relay.Start(
            {{true, 16, Message('G', Field("192.0.2.50", 7000))}, {false, 9, Message('M', "")}});

        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any = Address("0.0.0.0", 0);
        CHILD_EXPECT_EQ(r, 0, NBX_bind(fd, Sa(&any), sizeof any));
        SockInfo *info = _CB_fdInfo[fd].info;
        sockaddr_in seen;
        socklen_t length = sizeof seen;
        NBX_getsockname(fd, Sa(&seen), &length);
        CHILD_EXPECT_EQ(r, std::string("<192.0.2.50:7000>"),
                        std::string(_ipport2str(seen.sin_addr, seen.sin_port)));
        CHILD_EXPECT(r, info->manager >= 0);
        CHILD_EXPECT_EQ(r, MANAGER, _CB_fdInfo[info->manager].type);
        CHILD_EXPECT_EQ(r, 0, NBX_listen(fd, 5));
        CHILD_EXPECT_EQ(r, static_cast<int>(LISTENING), info->status);

        std::string bind =
            Message('C', Field("0.0.0.0", 0) + "A" + Field("10.77.0.1", LocalPort(fd)));
        CHILD_EXPECT_EQ(r, std::string("00 03 6e"), broker.Finish());
        CHILD_EXPECT_EQ(r, HexOf(bind) + " | " + HexOf(Message('I', Field("192.0.2.50", 7000))),
                        relay.Finish());
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredBindTest, RefusedRegistrationFailsWithTheBrokersErrno) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        BrokerAndRelay brokers;
        auto &[broker, relay] = brokers;
        relay.Start({{true, 16, Message('Z', std::string(1, static_cast<char>(98)))}});
        int fd = NBX_socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any = Address("10.77.0.1", 0);
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, NBX_bind(fd, Sa(&any), sizeof any));
        CHILD_EXPECT_EQ(r, 98, errno);
        CHILD_EXPECT_EQ(r, NBX_ERRNO_SYSTEM, _NBX_errno);
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT_EQ(r, -1, info->manager);
        CHILD_EXPECT_EQ(r, static_cast<int>(CREATED), info->status);
        CHILD_EXPECT_EQ(r, fd + 1, _CB_maxfd);
        CHILD_EXPECT(r, WasLogged("BIND_NAK msg received: "));
        relay.Finish();
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredAcceptTest, ListenAndAcceptRefuseSocketsInTheWrongStatus) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, -1, NBX_listen(fd, 5));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INVALID_STATUS, _NBX_errno);
        CHILD_EXPECT_EQ(r, -1, NBX_accept(fd, nullptr, nullptr));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INVALID_STATUS, _NBX_errno);
        CHILD_EXPECT(r, WasLogged("NBX_accept() called for an fd not listening"));
        CHILD_EXPECT(r, WasLogged("\trefs=1 owner="));
        CHILD_EXPECT_EQ(r, -1, NBX_accept(_NBX_max_no_fds, nullptr, nullptr));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INVALID_ARGUMENT, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredAcceptTest, QueuedConnectionsComeInArrivalOrderThenEagain) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        fcntl(listener, F_SETFL, O_NONBLOCK);
        SockInfo *info = NewRecord(listener, TCP, LISTENING);
        AddConn(info, 40, nbx_test::Addr("198.51.100.2", 1234));
        AddConn(info, 41, nbx_test::Addr("198.51.100.9", 1022));
        sockaddr_in from;
        socklen_t length = sizeof from;
        CHILD_EXPECT_EQ(r, 40, NBX_accept(listener, Sa(&from), &length));
        CHILD_EXPECT_EQ(r, std::string("<198.51.100.2:1234>"),
                        std::string(_ipport2str(from.sin_addr, from.sin_port)));
        CHILD_EXPECT_EQ(r, 41, NBX_accept(listener, nullptr, nullptr));
        _NBX_errno = 77;
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, NBX_accept(listener, nullptr, nullptr));
        CHILD_EXPECT_EQ(r, EAGAIN, errno);
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredConnectTest, SilentDestinationBrokerFallsBackToDirect) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), _CB_fdInfo[fd].info->status);
        CHILD_EXPECT(r, WasLogged("NBX_TCP_connect: connection to the dest broker failed"));
        CHILD_EXPECT(r, __real_accept(listener, nullptr, nullptr) >= 0);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredConnectTest, NakFromTheDestinationBrokerMeansADirectConnection) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        ScriptedServer dest("127.0.0.1", 65432);
        dest.Start({{true, 22, Message('Z', std::string(1, '9')), true}});
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), _CB_fdInfo[fd].info->status);
        CHILD_EXPECT(r, __real_accept(listener, nullptr, nullptr) >= 0);
        CHILD_EXPECT(r, dest.Finish().find("00 16 4a") == 0);
    });
    EXPECT_EQ(failures, "");
}

// CONNECT carries the socket's addresses and the destination; ACTIVE_CONNECT
// names where to connect.
TEST(BrokeredConnectTest, ActiveAnswerConnectsToTheAddressGiven) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        ScriptedServer dest("127.0.0.3", 65432);
        dest.Start({{true, 22, Message('K', Field("127.0.0.1", port)), true}});
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.3", 5000);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), _CB_fdInfo[fd].info->status);
        std::string own = Field("10.77.0.1", LocalPort(fd));
        CHILD_EXPECT_EQ(r, HexOf(Message('J', own + "B" + own + Field("127.0.0.3", 5000))),
                        dest.Finish());
        int far_end = __real_accept(listener, nullptr, nullptr);
        __real_write(far_end, "a", 1);
        char c = 0;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(__real_read(fd, &c, 1)));
    });
    EXPECT_EQ(failures, "");
}

// The peer connects to the physical address the CONNECT message carried.
void ConnectBackTo(const std::string &connect) {
    sockaddr_in back;
    memset(&back, 0, sizeof back);
    back.sin_family = AF_INET;
    memcpy(&back.sin_addr.s_addr, connect.data() + 10, 4);
    memcpy(&back.sin_port, connect.data() + 14, 2);
    int fd = __real_socket(AF_INET, SOCK_STREAM, 0);
    if (__real_connect(fd, Sa(&back), sizeof back) == 0) __real_write(fd, "p", 1);
    // Left open until the child ends: the test reads from it.
}

TEST(BrokeredConnectTest, PassiveAnswerOnBlockingSocketTurnsTheSameDescriptorIntoTheConnection) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        std::string connect_message;
        ScriptedServer dest("127.0.0.3", 65432);
        Step request = {true, 22, Message('L', "")};
        request.then = [&connect_message](const std::string &got) { connect_message = got; };
        Step ack = {false, 3, ""};
        ack.then = [&connect_message](const std::string &) { ConnectBackTo(connect_message); };
        dest.Start({request, ack});
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.3", 5000);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), _CB_fdInfo[fd].info->status);
        char c = 0;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(__real_read(fd, &c, 1)));
        CHILD_EXPECT_EQ(r, 'p', c);
        std::string report = dest.Finish();
        CHILD_EXPECT(r, report.find(" | 00 03 4d") != std::string::npos);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredConnectTest, PassiveAnswerOnNonBlockingSocketCompletesInSelect) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        std::string connect_message;
        ScriptedServer dest("127.0.0.3", 65432);
        Step request = {true, 22, Message('L', "")};
        request.then = [&connect_message](const std::string &got) { connect_message = got; };
        dest.Start({request, {false, 3, ""}});
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        sockaddr_in to = Address("127.0.0.3", 5000);
        _NBX_errno = 77;
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, EINPROGRESS, errno);
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT_EQ(r, static_cast<int>(PASSIVE_CONNECTING), info->status);
        int error = 0;
        socklen_t length = sizeof error;
        NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        CHILD_EXPECT_EQ(r, EINPROGRESS, error);

        dest.Finish();
        ConnectBackTo(connect_message);
        fd_set wr;
        FD_ZERO(&wr);
        FD_SET(fd, &wr);
        struct timeval wait = {2, 0};
        // The first pass accepts the connection; the next reports it writable.
        int ready = NBX_select(fd + 1, nullptr, &wr, nullptr, &wait);
        CHILD_EXPECT_EQ(r, 1, ready);
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), info->status);
        char c = 0;
        CHILD_EXPECT(r, Readable(fd, 2000));
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(__real_read(fd, &c, 1)));
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredConnectTest, UnspecifiedAddressDissolvesOnlyAUdpAssociation) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &port);
        int udp = NBX_socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = Address("127.0.0.1", 0);
        NBX_bind(udp, Sa(&local), sizeof local);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(udp, Sa(&to), sizeof to));
        SockInfo *info = _CB_fdInfo[udp].info;
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), info->status);
        CHILD_EXPECT(r, info->connected != nullptr);
        sockaddr unspecified;
        memset(&unspecified, 0, sizeof unspecified);
        unspecified.sa_family = AF_UNSPEC;
        CHILD_EXPECT_EQ(r, 0, NBX_connect(udp, &unspecified, sizeof unspecified));
        CHILD_EXPECT_EQ(r, static_cast<int>(BOUND), info->status);
        CHILD_EXPECT(r, info->connected == nullptr);

        int tcp = NBX_socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, -1, NBX_connect(tcp, &unspecified, sizeof unspecified));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_NOT_SUPPORTED, _NBX_errno);
        __real_close(peer);
    });
    EXPECT_EQ(failures, "");
}

// Without a bound a stalled broker blocks for ever; the alarm ends such a
// child, which the harness reports as a failure.
const unsigned kHangGuardSeconds = 20;

// How many descriptors of this process are connected to port (the fake
// servers' own ends, whose peers have other ports, do not count).
int ConnectionsTo(int port) {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer;
        socklen_t length = sizeof peer;
        if (getpeername(fd, Sa(&peer), &length) == 0 && peer.sin_family == AF_INET &&
            ntohs(peer.sin_port) == port) {
            ++count;
        }
    }
    return count;
}

// A local broker that never answers NEW_SOCK, then a relay that stops in
// the middle of BIND_OK: both fail the bind as an unavailable broker, with
// nothing left open.
TEST(BrokerStallTest, StalledRegistrationFailsTheBind) {
    std::string failures = RunInChild([](ChildReport &r) {
        alarm(kHangGuardSeconds);
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        _CB_brokerTimeoutMs = 300;
        setenv("NBX_INAGENT", "127.0.0.2", 1);
        ScriptedServer broker("127.0.0.2", 65430);
        ScriptedServer relay("127.0.0.2", 0);
        broker.Start(
            {{true, 3, ""}, {true, 3, Message('H', Field("127.0.0.2", relay.port())), true}});
        relay.Start({{true, 16, Message('G', Field("192.0.2.50", 7000)).substr(0, 5)}});
        for (int attempt = 0; attempt < 2; ++attempt) {
            int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in any = Address("0.0.0.0", 0);
            errno = 0;
            CHILD_EXPECT_EQ(r, -1, NBX_bind(fd, Sa(&any), sizeof any));
            CHILD_EXPECT_EQ(r, ETIMEDOUT, errno);
            CHILD_EXPECT_EQ(r, NBX_ERRNO_NO_BROKER, _NBX_errno);
            CHILD_EXPECT_EQ(r, -1, _CB_fdInfo[fd].info->manager);
            CHILD_EXPECT_EQ(r, static_cast<int>(CREATED), _CB_fdInfo[fd].info->status);
            CHILD_EXPECT_EQ(r, 0, ConnectionsTo(65430) + ConnectionsTo(relay.port()));
        }
        broker.Finish();
        relay.Finish();
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokerStallTest, SilentDestinationBrokerFailsTheConnect) {
    std::string failures = RunInChild([](ChildReport &r) {
        alarm(kHangGuardSeconds);
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        _CB_brokerTimeoutMs = 300;
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        ScriptedServer dest("127.0.0.1", 65432);
        dest.Start({{true, 22, ""}});
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", 9);
        errno = 0;
        CHILD_EXPECT_EQ(r, -1, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, ETIMEDOUT, errno);
        CHILD_EXPECT_EQ(r, NBX_ERRNO_NO_BROKER, _NBX_errno);
        CHILD_EXPECT(r, WasLogged("NBX_TCP_connect: can't recv resp to CONNECT from the broker\n"));
        dest.Finish();
    });
    EXPECT_EQ(failures, "");
}

// A destination broker that answers CONNECT with bytes that are no message
// (a size above the largest message, an opcode no message has) fails the
// connect as a system error: errno must say failure, never the EINPROGRESS
// left over from the connection to the broker, on which a caller would wait
// for good.
TEST(BrokerStallTest, MalformedAnswerToConnectFailsWithASystemError) {
    std::string failures = RunInChild([](ChildReport &r) {
        alarm(kHangGuardSeconds);
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        _CB_brokerTimeoutMs = 2000;
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        const std::string answers[] = {std::string("\x00\xff", 2) + std::string(20, 'K'),
                                       Message('a', "")};
        for (const std::string &answer : answers) {
            ScriptedServer dest("127.0.0.1", 65432);
            dest.Start({{true, 22, answer}});
            int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to = Address("127.0.0.1", 9);
            errno = 0;
            CHILD_EXPECT_EQ(r, -1, NBX_connect(fd, Sa(&to), sizeof to));
            CHILD_EXPECT_EQ(r, EPROTO, errno);
            CHILD_EXPECT_EQ(r, NBX_ERRNO_SYSTEM, _NBX_errno);
            CHILD_EXPECT(
                r, WasLogged("NBX_TCP_connect: can't recv resp to CONNECT from the broker\n"));
            dest.Finish();
            NBX_close(fd);
        }
    });
    EXPECT_EQ(failures, "");
}

// A broker whose accept queue is full never completes the connection: the
// connect to it gives up in time, and the application's connection is then
// made directly.
TEST(BrokerStallTest, UnansweredConnectionToTheBrokerFallsBackToDirect) {
    std::string failures = RunInChild([](ChildReport &r) {
        alarm(kHangGuardSeconds);
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        _CB_brokerTimeoutMs = 300;
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        int broker_port = 65432;
        int broker = PlainSocket(SOCK_STREAM, "127.0.0.1", &broker_port);
        __real_listen(broker, 0);
        sockaddr_in at_broker = Address("127.0.0.1", broker_port);
        bool full = false;
        for (int i = 0; i < 8 && !full; ++i) {
            int filler = __real_socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            __real_connect(filler, Sa(&at_broker), sizeof at_broker);
            pollfd wait = {filler, POLLOUT, 0};
            full = poll(&wait, 1, 200) == 0;
        }
        CHILD_EXPECT(r, full);
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        CHILD_EXPECT(r, WasLogged("NBX_TCP_connect: connection to the dest broker failed"));
        CHILD_EXPECT(r, __real_accept(listener, nullptr, nullptr) >= 0);
    });
    EXPECT_EQ(failures, "");
}

std::string LocalAddressOf(int fd) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    memset(&address, 0, sizeof address);
    __real_getsockname(fd, Sa(&address), &length);
    return _ipport2str(address.sin_addr, address.sin_port);
}

std::string NameOf(int fd) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    memset(&address, 0, sizeof address);
    NBX_getsockname(fd, Sa(&address), &length);
    return _ipport2str(address.sin_addr, address.sin_port);
}

TEST(BrokeredConnectTest, DirectConnectionReportsItsRealLocalAddress) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int tcp = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(tcp, Sa(&to), sizeof to));
        CHILD_EXPECT(r, LocalAddressOf(tcp) != "<0.0.0.0:0>");
        CHILD_EXPECT_EQ(r, LocalAddressOf(tcp), NameOf(tcp));

        int nonblocking = NBX_socket(AF_INET, SOCK_STREAM, 0);
        fcntl(nonblocking, F_SETFL, O_NONBLOCK);
        int result = NBX_connect(nonblocking, Sa(&to), sizeof to);
        CHILD_EXPECT(r, result == 0 || errno == EINPROGRESS);
        CHILD_EXPECT_EQ(r, LocalAddressOf(nonblocking), NameOf(nonblocking));

        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        int udp = NBX_socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in udp_to = Address("127.0.0.1", peer_port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(udp, Sa(&udp_to), sizeof udp_to));
        CHILD_EXPECT(r, LocalAddressOf(udp) != "<0.0.0.0:0>");
        CHILD_EXPECT_EQ(r, LocalAddressOf(udp), NameOf(udp));
        __real_close(listener);
        __real_close(peer);
    });
    EXPECT_EQ(failures, "");
}

// Every descriptor open while the layer logs a message it sends, whose
// peer is a broker's port, as "<port>:<close-on-exec 0/1>".
std::vector<std::string> &ConversationSockets() {
    static std::vector<std::string> seen;
    return seen;
}
void NoteConversationSockets(int, const char *format, va_list) {
    if (strncmp(format, "*send*", 6) != 0) return;
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer;
        socklen_t length = sizeof peer;
        if (getpeername(fd, Sa(&peer), &length) != 0 || peer.sin_family != AF_INET) continue;
        int port = ntohs(peer.sin_port);
        if (port != 65430 && port != 65432) continue;
        bool cloexec = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
        ConversationSockets().push_back(std::to_string(port) + ":" + (cloexec ? "1" : "0"));
    }
}

// The requests to the local and the destination broker are closed by exec;
// the manager connection, handed over with its socket, is not.
TEST(BrokeredBindTest, OnlyManagerConnectionsOutliveExec) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        Generic_set_log_va(NoteConversationSockets);
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        BrokerAndRelay brokers;
        auto &[broker, relay] = brokers;
        ScriptedServer dest("127.0.0.1", 65432);
        relay.Start({{true, 16, Message('G', Field("192.0.2.50", 7000))}});
        dest.Start({{true, 22, Message('Z', std::string(1, '9')), true}});

        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any = Address("0.0.0.0", 0);
        CHILD_EXPECT_EQ(r, 0, NBX_bind(fd, Sa(&any), sizeof any));
        int manager = _CB_fdInfo[fd].info->manager;
        CHILD_EXPECT(r, manager >= 0 && (fcntl(manager, F_GETFD) & FD_CLOEXEC) == 0);
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int client = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(client, Sa(&to), sizeof to));
        CHILD_EXPECT(r, ConversationSockets() == std::vector<std::string>({"65430:1", "65432:1"}));
        __real_close(listener);
        broker.Finish();
        relay.Finish();
        dest.Finish();
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
