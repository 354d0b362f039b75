// End-to-end tests of nbx_broker in network namespaces made by the tests:
// a server in a private namespace registers through the broker, and a
// client in a public namespace that cannot reach it reaches it at its
// canonical address. Both are programs linked with the library, started
// with brokering on. Covers the relayed stream (10 MB each way, byte for
// byte) and datagrams, each of the three ways of meeting for the topology
// that calls for it, recovery after the broker restarts, and a thousand
// concurrent relayed connections.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/broker/broker_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace {

using broker_harness::Daemon;
using broker_harness::Environment;
using broker_harness::Topology;

class BrokerNetworkTest : public ::testing::Test {
 protected:
    // The namespaces, with or without the private-public link.
    bool MakeTopology(bool direct_link) {
        topology_.reset(new Topology(direct_link));
        if (!topology_->failure().empty()) {
            skip_reason_ = topology_->failure();
            return false;
        }
        route_file_ = scratch_.path() + "/route";
        return torvel_test::WriteFile(route_file_,
                                      "# the broker's public network\n"
                                      "198.51.100.0/24 NBX\n");
    }

    // Starts the broker in its namespace with the given private networks;
    // false when it did not come up.
    bool StartBroker(Daemon *broker, const std::string &private_networks) {
        std::vector<std::string> env =
            Environment({"_torvel_NBX_BROKER_PRIVATE_NETWORKS=" + private_networks});
        return broker->Start(topology_->In("b", "nbx_broker",
                                           {"--public", Topology::kBrokerPublic, "--private",
                                            Topology::kBrokerPrivate, "--foreground"}),
                             env) &&
               !broker->WaitFor("nbx_broker started", 10).empty();
    }

    // Starts an echo server ("tcp" or "udp") in the private namespace; its
    // canonical address "a.b.c.d:port", or "" when it did not register.
    std::string StartServer(Daemon *server, const std::string &kind) {
        std::vector<std::string> env = Environment(
            {"NBX_ENABLE=true", std::string("NBX_INAGENT=") + Topology::kBrokerPrivate});
        if (!server->Start(topology_->In("s", "broker_echo_server", {kind}), env)) return "";
        std::string line = server->WaitFor("canonical ", 10);
        return line.empty() ? "" : line.substr(10);
    }

    // Runs the echo client in the public namespace (or where says).
    torvel_test::ProgramRun RunClient(const std::vector<std::string> &args,
                                      const char *where = "c") {
        std::vector<std::string> env = Environment({"NBX_ENABLE=true", "NBX_ROUTE=" + route_file_});
        std::vector<std::string> argv = topology_->In(where, "broker_echo_client", args);
        torvel_test::ProgramOptions options;
        options.timeout_seconds = 60;
        return torvel_test::RunProgram(
            argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), env, options);
    }

    std::unique_ptr<Topology> topology_;
    torvel_test::TempDir scratch_{"broker_test"};
    std::string route_file_;
    std::string skip_reason_;
};

#define MAKE_TOPOLOGY_OR_SKIP(direct_link)                           \
    do {                                                             \
        if (!MakeTopology(direct_link)) {                            \
            if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_; \
            FAIL() << "could not write the routing table";           \
        }                                                            \
    } while (0)

TEST_F(BrokerNetworkTest, RelaysTenMegabytesEachWayAndDatagramsBetweenSeparatedNetworks) {
    MAKE_TOPOLOGY_OR_SKIP(false);
    Daemon broker, tcp_server, udp_server;
    ASSERT_TRUE(StartBroker(&broker, "10.1.0.0/24")) << broker.all_output();
    std::string tcp = StartServer(&tcp_server, "tcp");
    std::string udp = StartServer(&udp_server, "udp");
    ASSERT_EQ(0u, tcp.find("198.51.100.1:")) << tcp_server.all_output();
    ASSERT_EQ(0u, udp.find("198.51.100.1:")) << udp_server.all_output();

    torvel_test::ProgramRun stream = RunClient({"tcp", tcp, "10485760"});
    EXPECT_EQ(0, stream.status) << stream.out << stream.err;
    // The client's peer is the canonical address itself: the broker joined it
    // to the server, which saw the broker's private side connect in.
    EXPECT_NE(std::string::npos, stream.out.find("peer " + tcp + "\n")) << stream.out;
    EXPECT_NE("", tcp_server.WaitFor("accepted 10.1.0.1:", 5));
    EXPECT_NE(std::string::npos, broker.WaitFor("CONNECT from <198.51.100.2:", 5).find(": relay"));

    torvel_test::ProgramRun datagrams = RunClient({"udp", udp, "40"});
    EXPECT_EQ(0, datagrams.status) << datagrams.out << datagrams.err;
    EXPECT_NE(std::string::npos, datagrams.out.find("from " + udp + "\n")) << datagrams.out;
    EXPECT_NE(std::string::npos, broker.WaitFor("INIT_COMM from", 5).find(": relay"));
    EXPECT_EQ(0, broker.Stop(SIGTERM, 10)) << broker.all_output();
    // A sanitizer build reports into the programs' output.
    for (Daemon *program : {&broker, &tcp_server, &udp_server}) {
        EXPECT_EQ(std::string::npos, program->all_output().find("Sanitizer"))
            << program->all_output();
    }
}

// Which way each topology calls for, and how the client can tell: the
// kernel's peer of its connection (or the source of the answers).
struct WayCase {
    const char *networks;
    const char *way;
    bool peer_is_canonical;  // else the server's own address, 10.1.0.2
};

TEST_F(BrokerNetworkTest, EachWayOfMeetingIsChosenByTheTopology) {
    MAKE_TOPOLOGY_OR_SKIP(true);
    const WayCase cases[] = {
        {"", "direct", false},                       // everything public
        {"10.1.0.0/24 outbound", "passive", false},  // the server connects out
        {"10.1.0.0/24", "relay", true},              // nobody reaches the other
    };
    for (const WayCase &c : cases) {
        SCOPED_TRACE(c.way);
        Daemon broker, tcp_server, udp_server;
        ASSERT_TRUE(StartBroker(&broker, c.networks)) << broker.all_output();
        std::string tcp = StartServer(&tcp_server, "tcp");
        std::string udp = StartServer(&udp_server, "udp");
        ASSERT_NE("", tcp);
        ASSERT_NE("", udp);
        std::string peer_ip = c.peer_is_canonical ? tcp.substr(0, tcp.find(':') + 1) : "10.1.0.2:";

        torvel_test::ProgramRun stream = RunClient({"tcp", tcp, "200000"});
        EXPECT_EQ(0, stream.status) << stream.out;
        EXPECT_NE(std::string::npos, stream.out.find("peer " + peer_ip)) << stream.out;
        if (c.peer_is_canonical) {
            EXPECT_NE(std::string::npos, stream.out.find("peer " + tcp + "\n"));
        }
        EXPECT_NE(std::string::npos, broker.WaitFor("CONNECT from", 5).find(c.way));
        // Direct and passive connections never pass the broker's private side.
        std::string accepted = tcp_server.WaitFor("accepted ", 5);
        EXPECT_EQ(c.peer_is_canonical ? "accepted 10.1.0.1:" : "accepted 198.51.100.2:",
                  accepted.substr(0, c.peer_is_canonical ? 18 : 22));

        torvel_test::ProgramRun datagrams = RunClient({"udp", udp, "5"});
        EXPECT_EQ(0, datagrams.status) << datagrams.out;
        std::string from_ip = c.peer_is_canonical ? udp.substr(0, udp.find(':') + 1) : "10.1.0.2:";
        EXPECT_NE(std::string::npos, datagrams.out.find("from " + from_ip)) << datagrams.out;
        EXPECT_NE(std::string::npos, broker.WaitFor("INIT_COMM from", 5).find(c.way));
    }
}

TEST_F(BrokerNetworkTest, ServerRegistersItsOldCanonicalAddressAfterBrokerRestart) {
    MAKE_TOPOLOGY_OR_SKIP(false);
    Daemon broker, server;
    ASSERT_TRUE(StartBroker(&broker, "10.1.0.0/24"));
    std::string canonical = StartServer(&server, "tcp");
    ASSERT_NE("", canonical);
    std::string port = canonical.substr(canonical.find(':') + 1);
    broker.Kill();

    Daemon restarted;
    ASSERT_TRUE(StartBroker(&restarted, "10.1.0.0/24"));
    // The layer retries about 15 seconds after it lost the broker.
    std::string registered = restarted.WaitFor("registered as port", 40);
    EXPECT_NE(std::string::npos, registered.find("as port " + port)) << restarted.all_output();
    torvel_test::ProgramRun stream = RunClient({"tcp", canonical, "100000"});
    EXPECT_EQ(0, stream.status) << stream.out;
}

TEST_F(BrokerNetworkTest, ThousandConcurrentRelayedConnectionsWithBoundedMemory) {
    MAKE_TOPOLOGY_OR_SKIP(false);
    Daemon broker, server;
    ASSERT_TRUE(StartBroker(&broker, "10.1.0.0/24"));
    std::string canonical = StartServer(&server, "tcp");
    ASSERT_NE("", canonical);
    long resident_before = broker_harness::ResidentKiB(broker.pid());
    int descriptors_before = broker_harness::DescriptorsOf(broker.pid());

    torvel_test::ProgramRun load = RunClient({"tcp", canonical, "65536", "1000"});
    EXPECT_EQ(0, load.status) << load.out;
    long resident_after = broker_harness::ResidentKiB(broker.pid());
    // A relayed connection costs the broker a small record; its bytes in
    // flight live in kernel pipes. A thousand must not add 16 MiB.
    EXPECT_LT(resident_after - resident_before, 16 * 1024)
        << resident_before << " KiB before, " << resident_after << " after";
    // Every relay the client finished is closed by the broker as well; the
    // last closes may still be on their way, so the count is polled briefly.
    int descriptors_after = -1;
    torvel_test::WaitUntil(
        [&] {
            descriptors_after = broker_harness::DescriptorsOf(broker.pid());
            return descriptors_after == descriptors_before;
        },
        2000);
    EXPECT_EQ(descriptors_before, descriptors_after);
    EXPECT_EQ(0, broker.Stop(SIGTERM, 10));
    EXPECT_EQ(std::string::npos, broker.all_output().find("Sanitizer")) << broker.all_output();
    EXPECT_EQ(std::string::npos, server.all_output().find("Sanitizer")) << server.all_output();
}

}  // namespace
