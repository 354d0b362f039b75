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
#include "tests/broker/broker_peer.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/wait_for.h"

namespace {

using broker_harness::Daemon;
using broker_peer::Ask;
using broker_peer::Connect;
using broker_peer::kDestination;
using broker_peer::kInAgent;
using broker_peer::kRelayServer;
using broker_peer::Loopback;
using broker_peer::Message;
using broker_peer::Read;
using broker_peer::Register;
using broker_peer::Send;
using broker_test::Hex;
using nbx_test::ChildReport;

// A broker whose stall limit is one second.
std::string StartBroker(Daemon *broker) {
    return broker_peer::StartBroker(broker, {"_torvel_NBX_BROKER_STALL_TIMEOUT=1"});
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
