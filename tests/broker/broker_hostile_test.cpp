// Tests of nbx_broker against peers that misbehave: bytes that are no
// message, messages cut short or of the wrong size, messages a role does
// not expect, connections that stall in the middle of a message (the
// broker's stall limit is one second here), and ten thousand connections
// opened and dropped. Each test runs in a child in a network namespace of
// its own where the broker listens on 127.0.0.1 for both its sides; the
// broker must drop the offender with a log line and go on serving others.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/broker_message.h"
#include "tests/broker/broker_harness.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/wait_for.h"

namespace {

using broker_harness::Daemon;
using broker_test::Hex;
using nbx_test::ChildReport;

const int kInAgent = 65430;
const int kRelayServer = 65431;
const int kDestination = 65432;

CBAddr Loopback(int port) {
    return CBAddr{{htonl(INADDR_LOOPBACK)}, htons(static_cast<in_port_t>(port))};
}

// The bytes of one message built by the library's own framing.
std::string Message(char opcode, CBAddr canon = CBAddr{}, CBAddr physical = CBAddr{},
                    CBAddr destination = CBAddr{}) {
    char bytes[CB_MSG_MAX];
    int size = _CB_stripeMsg(bytes, opcode, canon.ip, canon.port, ACTIVE, physical.ip,
                             physical.port, destination.ip, destination.port, 0);
    return std::string(bytes, static_cast<size_t>(size));
}

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<in_port_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Send(int fd, const std::string &bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Reads up to want bytes (or until the broker closes) within seconds; hex.
// " <closed>" is appended when the broker closed the connection.
std::string Read(int fd, size_t want, int seconds) {
    std::string got;
    char buffer[256];
    for (;;) {
        if (got.size() >= want) return Hex(got.data(), got.size());
        pollfd wait = {fd, POLLIN, 0};
        if (poll(&wait, 1, seconds * 1000) <= 0) return Hex(got.data(), got.size()) + " <silent>";
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return Hex(got.data(), got.size()) + (got.empty() ? "<closed>" : " <closed>");
        got.append(buffer, static_cast<size_t>(n));
    }
}

// One request and the whole answer up to the broker's close.
std::string Ask(int port, const std::string &bytes) {
    int fd = Connect(port);
    if (fd < 0) return "<no connection>";
    Send(fd, bytes);
    std::string answer = Read(fd, 1000, 5);
    close(fd);
    return answer;
}

// A broker in the child's own network namespace on 127.0.0.1; "" or why not.
std::string StartBroker(Daemon *broker) {
    std::string failure = broker_test::EnterPrivateNetwork();
    if (!failure.empty()) return failure;
    std::vector<std::string> env =
        broker_harness::Environment({"_torvel_NBX_BROKER_STALL_TIMEOUT=1"});
    if (!broker->Start({broker_harness::BuiltProgram("nbx_broker"), "--public", "127.0.0.1",
                        "--private", "127.0.0.1", "--foreground"},
                       env) ||
        broker->WaitFor("nbx_broker started", 10).empty()) {
        return "the broker did not start: " + broker->all_output();
    }
    return "";
}

// A TCP registration made the way the library makes one: NEW_SOCK at the
// local broker, then TCP_BIND and LISTEN on a manager connection to the
// relay server it names. The manager descriptor, or -1; *port receives the
// canonical port.
int Register(ChildReport &r, int *port) {
    std::string relay = Ask(kInAgent, Message(CB_NEW_SOCK));
    CHILD_EXPECT_EQ(
        r, Hex(Message(CB_RELAY_SERVER, CBAddr{}, Loopback(kRelayServer)).data(), 9) + " <closed>",
        relay);
    int manager = Connect(kRelayServer);
    Send(manager, Message(CB_TCP_BIND, CBAddr{}, Loopback(5555)));
    std::string bound = broker_test::Bytes(Read(manager, 9, 5));
    if (bound.size() != 9 || bound[2] != CB_BIND_OK) {
        r.Fail(__LINE__, "no BIND_OK");
        close(manager);
        return -1;
    }
    *port = (static_cast<unsigned char>(bound[7]) << 8) | static_cast<unsigned char>(bound[8]);
    Send(manager, Message(CB_LISTEN, Loopback(*port)));
    CHILD_EXPECT_EQ(r, std::string("00 03 4d"), Read(manager, 3, 5));  // ACK
    return manager;
}

std::string NakNotRegistered() {
    return "00 04 5a 39 <closed>";
}

std::string ConnectTo(int port) {
    return Message(CB_CONNECT, Loopback(7000), Loopback(7000), Loopback(port));
}

TEST(BrokerHostileTest, GarbageAndMisshapenMessagesAreDroppedAndOthersStillServed) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure = StartBroker(&broker);
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        std::string connect = ConnectTo(40000);
        const std::string bad[] = {
            "GET / HTTP/1.0\r\n\r\n",                            // no message at all
            std::string("\x00\x02", 2),                          // a size below the header
            std::string("\x00\x17J", 3),                         // larger than any message
            std::string("\x00\x09J", 3) + connect.substr(3, 6),  // CONNECT said to be 9 bytes
            std::string("\x00\x03!", 3),                         // no such opcode
        };
        for (const std::string &bytes : bad) {
            CHILD_EXPECT_EQ(r, std::string("<closed>"), Ask(kDestination, bytes));
        }
        CHILD_EXPECT(r,
                     !broker.WaitFor("destination broker connection from <127.0.0.1:", 5).empty());
        // Whole messages the role does not take are refused the same way.
        CHILD_EXPECT_EQ(r, std::string("<closed>"), Ask(kDestination, Message(CB_HEARTBEAT)));
        CHILD_EXPECT_EQ(r, std::string("<closed>"), Ask(kInAgent, Message(CB_TCP_BIND)));
        CHILD_EXPECT(r, !broker.WaitFor("unexpected message", 5).empty());
        // Cut short and closed.
        int cut = Connect(kDestination);
        Send(cut, connect.substr(0, 21));
        shutdown(cut, SHUT_WR);
        CHILD_EXPECT_EQ(r, std::string("<closed>"), Read(cut, 1, 5));
        close(cut);
        CHILD_EXPECT(r, !broker.WaitFor("closed in the middle of a message", 5).empty());
        // Still serving, with exact answers.
        CHILD_EXPECT_EQ(r, NakNotRegistered(), Ask(kDestination, connect));
        CHILD_EXPECT_EQ(r, NakNotRegistered(),
                        Ask(kDestination, Message(CB_INIT_COMM, Loopback(7000), Loopback(7000),
                                                  Loopback(40000))));
        CHILD_EXPECT_EQ(r, 0, broker.Stop(SIGTERM, 10));
    });
    EXPECT_EQ("", failures);
}

TEST(BrokerHostileTest, StalledPeersAreDroppedIdleRegistrationsKept) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure = StartBroker(&broker);
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        int idle_port = 0, stalled_port = 0;
        int idle = Register(r, &idle_port);
        int stalled = Register(r, &stalled_port);
        CHILD_EXPECT(r, idle >= 0 && stalled >= 0 && idle_port != stalled_port);
        int half_request = Connect(kDestination);
        Send(half_request, ConnectTo(idle_port).substr(0, 1));
        Send(stalled, Message(CB_HEARTBEAT).substr(0, 2));
        // Others are served while those two stall.
        CHILD_EXPECT_EQ(r, NakNotRegistered(), Ask(kDestination, ConnectTo(40999)));
        CHILD_EXPECT_EQ(r, std::string("<closed>"), Read(half_request, 1, 5));
        CHILD_EXPECT_EQ(r, std::string("<closed>"), Read(stalled, 1, 5));
        CHILD_EXPECT(r, !broker.WaitFor("stalled", 1).empty());
        CHILD_EXPECT(
            r,
            !broker.WaitFor("TCP port " + std::to_string(stalled_port) + " released", 5).empty());
        // The stalled registration is gone; the idle one, past the same limit,
        // still answers (everything is public: the client goes direct).
        CHILD_EXPECT_EQ(r, NakNotRegistered(), Ask(kDestination, ConnectTo(stalled_port)));
        CHILD_EXPECT_EQ(
            r, Hex(Message(CB_ACTIVE_CONNECT, CBAddr{}, Loopback(5555)).data(), 9) + " <closed>",
            Ask(kDestination, ConnectTo(idle_port)));
        close(half_request);
        close(stalled);
        close(idle);
    });
    EXPECT_EQ("", failures);
}

TEST(BrokerHostileTest, TenThousandConnectionsOpenedAndDroppedLeaveNothingBehind) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure = StartBroker(&broker);
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        int descriptors = broker_harness::DescriptorsOf(broker.pid());
        long resident = broker_harness::ResidentKiB(broker.pid());
        const int ports[] = {kInAgent, kRelayServer, kDestination};
        int refused = 0;
        for (int i = 0; i < 10000; ++i) {
            int fd = Connect(ports[i % 3]);
            if (fd < 0) ++refused;
            if (i % 7 == 0 && fd >= 0) Send(fd, "\x00");  // and some leave a byte behind
            if (fd >= 0) close(fd);
        }
        CHILD_EXPECT_EQ(r, 0, refused);
        CHILD_EXPECT_EQ(
            r,
            Hex(Message(CB_RELAY_SERVER, CBAddr{}, Loopback(kRelayServer)).data(), 9) + " <closed>",
            Ask(kInAgent, Message(CB_NEW_SOCK)));
        int after = -1;
        torvel_test::WaitUntil(
            [&] { return (after = broker_harness::DescriptorsOf(broker.pid())) == descriptors; },
            2000);
        CHILD_EXPECT_EQ(r, descriptors, after);
        CHILD_EXPECT(r, broker_harness::ResidentKiB(broker.pid()) - resident < 8 * 1024);
    });
    EXPECT_EQ("", failures);
}

}  // namespace
