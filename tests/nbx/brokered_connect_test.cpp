// Tests of the brokered bind, listen, connect and accept: registration with
// a fake broker and relay (exact messages, the canonical address the broker
// assigns, a refused registration), status errors, the accept queue, and
// connections through a fake destination broker that answers actively,
// passively or not at all. Fixed broker ports need a private network; each
// body runs in a fresh child.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_fake.h"
#include "tests/nbx/nbx_test_support.h"

namespace {

using brokered_test::Address;
using brokered_test::Field;
using brokered_test::Message;
using brokered_test::PlainSocket;
using brokered_test::Readable;
using brokered_test::Sa;
using brokered_test::ScriptedServer;
using brokered_test::Step;
using broker_test::Hex;
using brokered_test::StartBrokeredLayer;
using nbx_test::AddConn;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;

// Enters the test network; false (with a failure noted) when it cannot.
bool Network(ChildReport &r) {
  std::string failure = brokered_test::EnterTestNetwork();
  if (!failure.empty()) r.Fail(__LINE__, failure);
  return failure.empty();
}

// A routing table sending every destination through the brokers.
void RouteEverythingThroughBrokers(const nbx_test::TempDir &dir) {
  std::string path = dir.File("route");
  FILE *file = fopen(path.c_str(), "w");
  fputs("*/0 NBX\n", file);
  fclose(file);
  setenv("NBX_ROUTE", path.c_str(), 1);
}

int LocalPort(int fd) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  __real_getsockname(fd, Sa(&address), &length);
  return ntohs(address.sin_port);
}

std::string HexOf(const std::string &bytes) { return Hex(bytes.data(), bytes.size()); }

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
    if (!Network(r)) return;
    StartBrokeredLayer();
    setenv("NBX_INAGENT", "127.0.0.2", 1);
    ScriptedServer broker("127.0.0.2", 65430);
    ScriptedServer relay("127.0.0.2", 0);
    broker.Start({{true, 3, Message('H', Field("127.0.0.2", relay.port())), true}});
    relay.Start({{true, 16, Message('G', Field("192.0.2.50", 7000))},
                 {false, 9, Message('M', "")}});

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

    std::string bind = Message('C', Field("0.0.0.0", 0) + "A" +
                                        Field("10.77.0.1", LocalPort(fd)));
    CHILD_EXPECT_EQ(r, std::string("00 03 6e"), broker.Finish());
    CHILD_EXPECT_EQ(r, HexOf(bind) + " | " + HexOf(Message('I', Field("192.0.2.50", 7000))),
                    relay.Finish());
  });
  EXPECT_EQ(failures, "");
}

TEST(BrokeredBindTest, RefusedRegistrationFailsWithTheBrokersErrno) {
  std::string failures = RunInChild([](ChildReport &r) {
    if (!Network(r)) return;
    StartBrokeredLayer();
    setenv("NBX_INAGENT", "127.0.0.2", 1);
    ScriptedServer broker("127.0.0.2", 65430);
    ScriptedServer relay("127.0.0.2", 0);
    broker.Start({{true, 3, Message('H', Field("127.0.0.2", relay.port())), true}});
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
    if (!Network(r)) return;
    StartBrokeredLayer();
    nbx_test::TempDir dir;
    RouteEverythingThroughBrokers(dir);
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
    if (!Network(r)) return;
    StartBrokeredLayer();
    nbx_test::TempDir dir;
    RouteEverythingThroughBrokers(dir);
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
    if (!Network(r)) return;
    StartBrokeredLayer();
    nbx_test::TempDir dir;
    RouteEverythingThroughBrokers(dir);
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
    if (!Network(r)) return;
    StartBrokeredLayer();
    nbx_test::TempDir dir;
    RouteEverythingThroughBrokers(dir);
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
    if (!Network(r)) return;
    StartBrokeredLayer();
    nbx_test::TempDir dir;
    RouteEverythingThroughBrokers(dir);
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

}  // namespace
