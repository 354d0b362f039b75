// Tests of the brokered UDP channels: in-band DUMMY handling and the
// receive buffer (answered control messages, look-alikes delivered as data,
// the 50-datagram limit), recvfrom without waiting, sendto through known
// receivers, replies to a datagram's source, a channel opened through a fake
// destination broker, and the DUMMY exchange a TRIGGER command starts.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_fake.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/wait_for.h"

namespace {

using broker_test::Hex;
using brokered_test::Address;
using brokered_test::Field;
using brokered_test::HexOf;
using brokered_test::InTestNetwork;
using brokered_test::Message;
using brokered_test::PlainSocket;
using brokered_test::Readable;
using brokered_test::Sa;
using brokered_test::ScriptedServer;
using brokered_test::UseRoutes;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;

void StartLayer() {
    brokered_test::StartBrokeredLayer();
    _CB_lastCheck = time(nullptr);
}

// A brokered UDP socket bound to 127.0.0.1 without a broker (canonical =
// physical); *port receives its port.
int BrokeredUdp(int *port) {
    int fd = NBX_socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Address("127.0.0.1", 0);
    NBX_bind(fd, Sa(&local), sizeof local);
    *port = ntohs(_CB_fdInfo[fd].info->canon.port);
    return fd;
}

void SendTo(int from, const std::string &bytes, int port) {
    sockaddr_in to = Address("127.0.0.1", port);
    __real_sendto(from, bytes.data(), bytes.size(), 0, Sa(&to), sizeof to);
}

// One zero-wait pass of the layer's select for fd; 1 when fd is reported
// readable.
int Pass(int fd) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval zero = {0, 200000};
    return NBX_select(fd + 1, &set, nullptr, nullptr, &zero);
}

std::string Receive(int fd) {
    char buffer[128];
    if (!Readable(fd, 2000)) return "<nothing>";
    ssize_t n = __real_recv(fd, buffer, sizeof buffer, 0);
    return n < 0 ? "<error>" : std::string(buffer, static_cast<size_t>(n));
}

TEST(BrokeredUdpTest, DummyForThisSocketIsAnsweredAndNotDelivered) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        std::string dummy = Message('U', Field("192.0.2.5", 6000) + Field("127.0.0.1", port));
        SendTo(peer, dummy, port);
        CHILD_EXPECT_EQ(r, 0, Pass(fd));
        CHILD_EXPECT_EQ(r, HexOf(Message('V', Field("127.0.0.1", port) + Field("192.0.2.5", 6000))),
                        HexOf(Receive(peer)));
        SockInfo *info = _CB_fdInfo[fd].info;
        CBRcver *rcver = _CB_getRcvr(info, broker_test::Ip("192.0.2.5"), htons(6000));
        CHILD_EXPECT(r, rcver != nullptr);
        if (rcver != nullptr)
            CHILD_EXPECT_EQ(r, htons(static_cast<in_port_t>(peer_port)), rcver->phy.port);

        // The same bytes with another size field are data.
        std::string look_alike = dummy;
        look_alike[1] = 16;
        SendTo(peer, look_alike, port);
        CHILD_EXPECT_EQ(r, 1, Pass(fd));
        char buffer[32];
        CHILD_EXPECT_EQ(
            r, 15, static_cast<int>(NBX_recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr)));
        CHILD_EXPECT(r, memcmp(buffer, look_alike.data(), 15) == 0);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredUdpTest, FiftyFirstUndeliveredDatagramIsDropped) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        for (int i = 0; i < 51; ++i) SendTo(peer, std::to_string(i), port);
        for (int i = 0; i < 51; ++i) Pass(fd);
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT_EQ(r, 50, info->rcv_count);
        CHILD_EXPECT(
            r, WasLogged("Warning!!! UDP msg just received was dropped b/c rcv buf is full\n"));
        char buffer[8];
        for (int i = 0; i < 50; ++i) {
            ssize_t n = NBX_recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr);
            if (n < 0 || std::string(buffer, static_cast<size_t>(n)) != std::to_string(i)) {
                r.Fail(__LINE__, "datagram " + std::to_string(i) + " out of order or missing");
                break;
            }
        }
        CHILD_EXPECT_EQ(r, 0, info->rcv_count);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredUdpTest, NonBlockingRecvfromWithNothingBufferedIsEagainAtOnce) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        char buffer[8];
        _NBX_errno = 77;
        errno = 0;
        time_t start = time(nullptr);
        CHILD_EXPECT_EQ(
            r, -1, static_cast<int>(NBX_recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr)));
        CHILD_EXPECT_EQ(r, EAGAIN, errno);
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        CHILD_EXPECT(r, time(nullptr) - start <= 1);
    });
    EXPECT_EQ(failures, "");
}

// A datagram received through recvfrom makes its source a receiver, so the
// reply goes straight back even when the routing table would ask brokers;
// receivers are forgotten at the first heartbeat after 250 seconds.
TEST(BrokeredUdpTest, ReplyGoesToTheSourceAndReceiversAreFlushedLater) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "*/0 NBX\n");
        int port = 0;
        int fd = BrokeredUdp(&port);
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        SendTo(peer, "q", port);
        char buffer[8];
        sockaddr_in from;
        socklen_t length = sizeof from;
        CHILD_EXPECT_EQ(
            r, 1, static_cast<int>(NBX_recvfrom(fd, buffer, sizeof buffer, 0, Sa(&from), &length)));
        CHILD_EXPECT_EQ(r, 16, static_cast<int>(length));
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(NBX_sendto(fd, "r", 1, 0, Sa(&from), length)));
        CHILD_EXPECT_EQ(r, std::string("r"), Receive(peer));
        CHILD_EXPECT(r, !WasLogged("<_CB_openchannel>"));

        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT(r, info->rcvers != nullptr);
        _CB_lastHeartBeat = time(nullptr) - 41;
        _CB_lastFlush = time(nullptr) - 251;
        Pass(fd);
        CHILD_EXPECT(r, info->rcvers == nullptr);
    });
    EXPECT_EQ(failures, "");
}

// Regression: a datagram the layer buffered for a connected socket during a
// select used to be unreachable through recvfrom.
TEST(BrokeredUdpTest, ConnectedSocketHandsOutBufferedDatagramsFirst) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        sockaddr_in to = Address("127.0.0.1", peer_port);
        CHILD_EXPECT_EQ(r, 0, NBX_connect(fd, Sa(&to), sizeof to));
        SendTo(peer, "one", port);
        CHILD_EXPECT_EQ(r, 1, Pass(fd));
        SendTo(peer, "two", port);
        char buffer[8] = {0};
        CHILD_EXPECT_EQ(
            r, 3, static_cast<int>(NBX_recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr)));
        CHILD_EXPECT_EQ(r, std::string("one"), std::string(buffer, 3));
        CHILD_EXPECT_EQ(
            r, 3, static_cast<int>(NBX_recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr)));
        CHILD_EXPECT_EQ(r, std::string("two"), std::string(buffer, 3));
    });
    EXPECT_EQ(failures, "");
}

// sendto runs the event handling when no select has for more than 14
// seconds, so datagrams keep being read for an application that only sends.
TEST(BrokeredUdpTest, SendtoPollsEventsWhenNoSelectRanForAWhile) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        SendTo(peer, "in", port);
        Readable(fd, 2000);
        sockaddr_in to = Address("127.0.0.1", peer_port);
        SockInfo *info = _CB_fdInfo[fd].info;
        _CB_lastCheck = time(nullptr) - 12;
        NBX_sendto(fd, "out", 3, 0, Sa(&to), sizeof to);
        CHILD_EXPECT_EQ(r, 0, info->rcv_count);
        _CB_lastCheck = time(nullptr) - 16;
        NBX_sendto(fd, "out", 3, 0, Sa(&to), sizeof to);
        CHILD_EXPECT_EQ(r, 1, info->rcv_count);
        CHILD_EXPECT(r, _CB_lastCheck >= time(nullptr) - 1);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredUdpTest, SendtoOnBrokeredTcpSocketIsNotSupported) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", 9);
        CHILD_EXPECT_EQ(r, -1, static_cast<int>(NBX_sendto(fd, "x", 1, 0, Sa(&to), sizeof to)));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_NOT_SUPPORTED, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

// INIT_COMM to the destination broker, answered by ACTIVE_INIT: the datagram
// goes to the physical address given, which becomes the peer's receiver.
TEST(BrokeredUdpTest, ActiveInitOpensAChannelToThePhysicalAddress) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "127.0.0.3/32 NBX\n");
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        ScriptedServer dest("127.0.0.3", 65432);
        dest.Start({{true, 22, Message('R', Field("127.0.0.1", peer_port)), true}});
        int port = 0;
        int fd = BrokeredUdp(&port);
        sockaddr_in to = Address("127.0.0.3", 6000);
        CHILD_EXPECT_EQ(r, 4, static_cast<int>(NBX_sendto(fd, "data", 4, 0, Sa(&to), sizeof to)));
        CHILD_EXPECT_EQ(r, std::string("data"), Receive(peer));
        std::string own = Field("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, HexOf(Message('P', own + "B" + own + Field("127.0.0.3", 6000))),
                        dest.Finish());
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT(r, _CB_getRcvr(info, broker_test::Ip("127.0.0.3"), htons(6000)) != nullptr);
    });
    EXPECT_EQ(failures, "");
}

// PASSIVE_INIT: the peer punches through with a DUMMY to the physical
// address INIT_COMM carried; its source is where the datagram then goes.
TEST(BrokeredUdpTest, PassiveInitWaitsForThePeersDummy) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartLayer();
        torvel_test::TempDir dir;
        UseRoutes(dir, "127.0.0.3/32 NBX\n");
        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        std::string ack;
        ScriptedServer dest("127.0.0.3", 65432);
        brokered_test::Step request = {true, 22, Message('Q', ""), true};
        // The layer waits for the DUMMY once it has closed its broker
        // connection and sleeps in its poll.
        request.then_after_close = true;
        pid_t layer = torvel_test::ThreadId();
        request.then = [peer, &ack, layer](const std::string &init_comm) {
            sockaddr_in back;
            memset(&back, 0, sizeof back);
            back.sin_family = AF_INET;
            memcpy(&back.sin_addr.s_addr, init_comm.data() + 10, 4);
            memcpy(&back.sin_port, init_comm.data() + 14, 2);
            std::string dummy = Message('U', Field("127.0.0.3", 6000) + init_comm.substr(3, 6));
            torvel_test::WaitUntil([layer] {
                return torvel_test::SleepsIn(layer, {SYS_poll, SYS_ppoll});
            });
            __real_sendto(peer, dummy.data(), dummy.size(), 0, Sa(&back), sizeof back);
            ack = Receive(peer);
        };
        dest.Start({request});
        int port = 0;
        int fd = BrokeredUdp(&port);
        sockaddr_in to = Address("127.0.0.3", 6000);
        CHILD_EXPECT_EQ(r, 4, static_cast<int>(NBX_sendto(fd, "data", 4, 0, Sa(&to), sizeof to)));
        dest.Finish();
        CHILD_EXPECT_EQ(r, HexOf(Message('V', Field("127.0.0.1", port) + Field("127.0.0.3", 6000))),
                        HexOf(ack));
        CHILD_EXPECT_EQ(r, std::string("data"), Receive(peer));
        SockInfo *info = _CB_fdInfo[fd].info;
        CHILD_EXPECT(r, _CB_getRcvr(info, broker_test::Ip("127.0.0.3"), htons(6000)) != nullptr);
    });
    EXPECT_EQ(failures, "");
}

// A TRIGGER names a peer: the layer sends it DUMMYs until one is
// acknowledged, and the peer becomes a receiver.
TEST(BrokeredUdpTest, TriggerCommandPunchesAChannelToThePeer) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartLayer();
        int port = 0;
        int fd = BrokeredUdp(&port);
        SockInfo *info = _CB_fdInfo[fd].info;
        int pair[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
        info->manager = pair[0];
        _CB_fdInfo[pair[0]].type = MANAGER;
        _CB_fdInfo[pair[0]].info = info;
        _CB_raisemaxfd(pair[0]);

        int peer_port = 0;
        int peer = PlainSocket(SOCK_DGRAM, "127.0.0.1", &peer_port);
        std::string seen;
        std::thread answering_peer([&] {
            char buffer[64];
            sockaddr_in from;
            socklen_t length = sizeof from;
            if (!Readable(peer, 5000)) return;
            ssize_t n = __real_recvfrom(peer, buffer, sizeof buffer, 0, Sa(&from), &length);
            if (n <= 0) return;
            seen.assign(buffer, static_cast<size_t>(n));
            std::string ack = Message('V', Field("192.0.2.8", 7000) + Field("127.0.0.1", port));
            __real_sendto(peer, ack.data(), ack.size(), 0, Sa(&from), length);
        });
        std::string trigger =
            Message('T', Field("192.0.2.8", 7000) + Field("127.0.0.1", peer_port));
        __real_write(pair[1], trigger.data(), trigger.size());
        Pass(pair[0]);
        answering_peer.join();
        CHILD_EXPECT_EQ(r, HexOf(Message('U', Field("127.0.0.1", port) + Field("192.0.2.8", 7000))),
                        HexOf(seen));
        CBRcver *rcver = _CB_getRcvr(info, broker_test::Ip("192.0.2.8"), htons(7000));
        CHILD_EXPECT(r, rcver != nullptr);
        if (rcver != nullptr) {
            CHILD_EXPECT_EQ(r, htons(static_cast<in_port_t>(peer_port)), rcver->phy.port);
        }
        CHILD_EXPECT(r, WasLogged("handleTrigger: UDP channel opened by TRIGGER"));
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
