// Tests of the connections to brokers: finding the local broker from
// NBX_INAGENT, asking it for a relay server, and opening and closing the
// manager connection of a socket record. Each test runs in a fresh child in
// its own network namespace, where only the loopback interface (127.0.0.1)
// exists, so a fake broker on the fixed port at 127.0.0.2 and a fake relay
// at 127.0.0.3 clash with nothing else.
#include <stdlib.h>

#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "nbx/broker_client.h"
#include "nbx/nbx_errno.h"
#include "tests/nbx/broker_test_support.h"

namespace {

using broker_test::Bytes;
using broker_test::FakeBroker;
using broker_test::Ip;
using broker_test::LogCapture;
using broker_test::OpenDescriptors;
using broker_test::StartsWith;
using nbx_test::ChildReport;

const char kNewSock[] = "00 03 6e";
const char kRelayAnswer[] = "00 09 48 7f 00 00 03 1b 58";  // 127.0.0.3:7000

std::string RunInNetwork(const std::function<void(ChildReport &)> &body) {
    return nbx_test::RunInChild([&body](ChildReport &report) {
        std::string failure = broker_test::EnterPrivateNetwork();
        if (!failure.empty()) return report.Fail(__LINE__, "no private network: " + failure);
        unsetenv("NBX_LOG_FILE");
        _CB_initialize();
        setenv("NBX_INAGENT", "127.0.0.2", 1);
        body(report);
    });
}

TEST(GetBrokerTest, WhenABrokerIsConfigured) {
    std::string failures = RunInNetwork([](ChildReport &report) {
        sockaddr_in *broker = getBroker();
        CHILD_EXPECT(report, broker != nullptr);
        if (broker == nullptr) return;
        CHILD_EXPECT_EQ(report, AF_INET, broker->sin_family);
        CHILD_EXPECT_EQ(report, 65430, ntohs(broker->sin_port));
        CHILD_EXPECT_EQ(report, Ip("127.0.0.2").s_addr, broker->sin_addr.s_addr);
        // Looked up again at every call, into the same static address.
        setenv("NBX_INAGENT", "192.0.2.44", 1);
        CHILD_EXPECT(report, getBroker() == broker);
        CHILD_EXPECT_EQ(report, Ip("192.0.2.44").s_addr, broker->sin_addr.s_addr);

        LogCapture log;
        unsetenv("NBX_INAGENT");
        CHILD_EXPECT(report, getBroker() == nullptr);
        CHILD_EXPECT(report, log.Lines().empty());
        setenv("NBX_INAGENT", "broker.example", 1);
        CHILD_EXPECT(report, getBroker() == nullptr);
        CHILD_EXPECT(
            report,
            StartsWith(log.Last(), "1:ERROR \"getBroker: inet_aton() with Broker's ip failed\""));
        setenv("NBX_INAGENT", "127.0.0.1", 1);  // the loopback interface's own address
        CHILD_EXPECT(report, getBroker() == nullptr);
        CHILD_EXPECT_EQ(report,
                        std::string("8192:getBroker: broker is on the local machine, act as if no "
                                    "broker given\n"),
                        log.Last());
    });
    EXPECT_EQ(failures, "");
}

TEST(GetBrokerTest, MoreInterfacesThanCanBeComparedMeansNoBroker) {
    std::string failures = RunInNetwork([](ChildReport &report) {
        // Six linked pairs, each interface up with its own address: twelve
        // interfaces besides the loopback one.
        std::string commands;
        for (int i = 1; i <= 6; ++i) {
            std::string a = "ta" + std::to_string(i), b = "tb" + std::to_string(i);
            commands += "ip link add " + a + " type veth peer name " + b +
                        " && ip addr add 127.1.0." + std::to_string(2 * i) + "/32 dev " + a +
                        " && ip addr add 127.1.0." + std::to_string(2 * i + 1) + "/32 dev " + b +
                        " && ip link set " + a + " up && ip link set " + b + " up && ";
        }
        CHILD_EXPECT_EQ(report, 0, system((commands + "true").c_str()));
        LogCapture log;
        CHILD_EXPECT(report, getBroker() == nullptr);
        CHILD_EXPECT_EQ(report, 2u, log.Lines().size());
        CHILD_EXPECT(report, StartsWith(log.Lines().front(),
                                        "1:ERROR \"_all_myIP: caller did not pass enough space\""));
        CHILD_EXPECT(report, StartsWith(log.Last(), "1:ERROR \"getBroker: _all_myIP() failed\""));
    });
    EXPECT_EQ(failures, "");
}

TEST(RelayServerTest, AnswersAndFailures) {
    std::string failures = RunInNetwork([](ChildReport &report) {
        int open_before = OpenDescriptors();
        LogCapture log;
        // No broker configured: nothing is tried, the error code stays.
        unsetenv("NBX_INAGENT");
        _NBX_errno = 777;
        CHILD_EXPECT(report, getRelayServer() == nullptr);
        CHILD_EXPECT_EQ(report, 777, _NBX_errno);
        CHILD_EXPECT(report, log.Lines().empty());
        // Nobody listening.
        setenv("NBX_INAGENT", "127.0.0.2", 1);
        CHILD_EXPECT(report, getRelayServer() == nullptr);
        CHILD_EXPECT_EQ(report, NBX_ERRNO_NO_BROKER, _NBX_errno);
        CHILD_EXPECT_EQ(report,
                        std::string("1:ERROR \"getRelayServer: can't connect to the Broker\" "
                                    "errno 111: ") +
                            strerror(111) + "\n",
                        log.Last());
        {
            FakeBroker broker("127.0.0.2", CB_BROKER_PORT);
            CHILD_EXPECT(report, broker.ok());
            broker.Serve({{3, Bytes(kRelayAnswer), false},
                          {3, Bytes("00 04 5a 6f"), false},
                          {3, "", false},
                          {3, Bytes("00 17 48"), false}});
            sockaddr_in *relay = getRelayServer();
            CHILD_EXPECT(report, relay != nullptr);
            if (relay != nullptr) {
                CHILD_EXPECT_EQ(report, AF_INET, relay->sin_family);
                CHILD_EXPECT_EQ(report, Ip("127.0.0.3").s_addr, relay->sin_addr.s_addr);
                CHILD_EXPECT_EQ(report, 7000, ntohs(relay->sin_port));
            }
            CHILD_EXPECT(report, getRelayServer() == nullptr);
            CHILD_EXPECT_EQ(report, NBX_ERRNO_BAD_MESSAGE_TYPE, _NBX_errno);
            CHILD_EXPECT(report, StartsWith(log.Last(),
                                            "1:ERROR \"getRelayServer: invalid response "
                                            "(Z) from the Broker\""));
            const std::string no_answer =
                "1:ERROR \"getRelayServer: can't receive reponse from the Broker: _CBrecv(";
            CHILD_EXPECT(report, getRelayServer() == nullptr);
            CHILD_EXPECT_EQ(report, NBX_ERRNO_NO_BROKER, _NBX_errno);  // closed
            CHILD_EXPECT(report, StartsWith(log.Last(), no_answer));
            CHILD_EXPECT(report, getRelayServer() == nullptr);
            CHILD_EXPECT_EQ(report, NBX_ERRNO_SYSTEM, _NBX_errno);  // refused size
            CHILD_EXPECT(report, StartsWith(log.Last(), no_answer));
            std::string sent = std::string(kNewSock) + " | " + kNewSock;
            CHILD_EXPECT_EQ(report, sent + " | " + sent, broker.Received());
        }
        CHILD_EXPECT_EQ(report, open_before, OpenDescriptors());
    });
    EXPECT_EQ(failures, "");
}

TEST(ManagerTest, OpensAndClosesManagerConnections) {
    std::string failures = RunInNetwork([](ChildReport &report) {
        FakeBroker broker("127.0.0.2", CB_BROKER_PORT);
        FakeBroker relay("127.0.0.3", 7000);
        broker.Serve({{3, Bytes(kRelayAnswer), false}, {3, Bytes(kRelayAnswer), false}});
        relay.Serve({{0, "", true}, {0, "", true}});
        int owner = nbx_test::RawSocket(SOCK_STREAM);
        SockInfo *record = nbx_test::NewRecord(owner, TCP, CREATED, ACTIVE);
        int open_before = OpenDescriptors();

        int manager = _CB_newManager(record);
        CHILD_EXPECT(report, manager > owner);
        CHILD_EXPECT_EQ(report, manager, record->manager);
        CHILD_EXPECT_EQ(report, static_cast<int>(MANAGER), _CB_fdInfo[manager].type);
        CHILD_EXPECT(report, _CB_fdInfo[manager].info == record);
        CHILD_EXPECT_EQ(report, manager + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(report, open_before + 1, OpenDescriptors());
        CHILD_EXPECT_EQ(report, 0, _CB_rmManager(manager));
        CHILD_EXPECT_EQ(report, static_cast<int>(NOT_DEFINED), _CB_fdInfo[manager].type);
        CHILD_EXPECT(report, _CB_fdInfo[manager].info == nullptr);
        CHILD_EXPECT_EQ(report, -1, record->manager);
        CHILD_EXPECT_EQ(report, owner + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(report, open_before, OpenDescriptors());

        // A manager below other entries leaves the highest in use alone.
        SockInfo *high = nbx_test::NewRecord(200, UDP, CREATED, ACTIVE);
        manager = _CB_newManager(high);
        CHILD_EXPECT(report, manager >= 0 && manager < 200);
        CHILD_EXPECT_EQ(report, 0, _CB_rmManager(manager));
        CHILD_EXPECT_EQ(report, 201, _CB_maxfd);
        CHILD_EXPECT_EQ(report, std::string(kNewSock) + " | " + kNewSock, broker.Received());
        // Each relay connection stayed open until the manager was closed.
        CHILD_EXPECT_EQ(report, std::string(" | "), relay.Received());
    });
    EXPECT_EQ(failures, "");
}

TEST(ManagerTest, FailuresLeaveNothingBehind) {
    std::string failures = RunInNetwork([](ChildReport &report) {
        int owner = nbx_test::RawSocket(SOCK_STREAM);
        SockInfo *record = nbx_test::NewRecord(owner, TCP, CREATED, ACTIVE);
        int open_before = OpenDescriptors();
        LogCapture log;
        // The broker is not listening: the lookup's error code stays.
        CHILD_EXPECT_EQ(report, -1, _CB_newManager(record));
        CHILD_EXPECT_EQ(report, NBX_ERRNO_NO_BROKER, _NBX_errno);
        CHILD_EXPECT(report,
                     StartsWith(log.Last(), "1:ERROR \"_CB_newManager: getRelayServer() failed\""));
        {
            // The relay it names is not listening.
            FakeBroker broker("127.0.0.2", CB_BROKER_PORT);
            broker.Serve({{3, Bytes(kRelayAnswer), false}});
            _NBX_errno = 0;
            CHILD_EXPECT_EQ(report, -1, _CB_newManager(record));
            CHILD_EXPECT_EQ(report, NBX_ERRNO_NO_BROKER, _NBX_errno);
            CHILD_EXPECT(report, StartsWith(log.Last(),
                                            "1:ERROR \"_CB_newManager: can't connect to "
                                            "the RelayServer\" errno 111: "));
            CHILD_EXPECT_EQ(report, std::string(kNewSock), broker.Received());
        }
        CHILD_EXPECT_EQ(report, -1, record->manager);
        CHILD_EXPECT_EQ(report, owner + 1, _CB_maxfd);
        CHILD_EXPECT_EQ(report, open_before, OpenDescriptors());
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
