// Tests of the broker's pure rules, in process: message framing on a
// connection, the private-network list and the way of meeting it implies,
// the port range and the command line; and of the program's exit statuses
// for help, version and bad usage or configuration.
#include <arpa/inet.h>
#include <sched.h>

#include <string>
#include <vector>

#include "broker/broker_config.h"
#include "broker/message_frame.h"
#include "broker/topology.h"
#include "gtest/gtest.h"
#include "tests/broker/broker_harness.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/support/run_program.h"
#include "version/torvel_version.h"

namespace {

using nbx_broker::BrokerConfig;
using nbx_broker::choose_meeting;
using nbx_broker::examine_frame;
using nbx_broker::Topology;

in_addr Ip(const char *text) {
    in_addr address;
    inet_pton(AF_INET, text, &address);
    return address;
}

nbx_broker::FrameStatus Frame(const std::string &bytes, int *need) {
    return examine_frame(reinterpret_cast<const unsigned char *>(bytes.data()),
                         static_cast<int>(bytes.size()), need);
}

TEST(MessageFrameTest, WholeMessagesOnlyAtTheirOpcodesSize) {
    int need = 0;
    EXPECT_EQ(nbx_broker::kFrameIncomplete, Frame("", &need));
    EXPECT_EQ(2, need);
    EXPECT_EQ(nbx_broker::kFrameIncomplete, Frame(std::string("\x00\x16", 2), &need));
    EXPECT_EQ(22, need);
    std::string connect = std::string("\x00\x16J", 3) + std::string(19, '\x01');
    EXPECT_EQ(nbx_broker::kFrameIncomplete, Frame(connect.substr(0, 21), &need));
    EXPECT_EQ(nbx_broker::kFrameComplete, Frame(connect, &need));
    EXPECT_EQ(22, need);
    // Bytes after a whole message belong to the next one.
    EXPECT_EQ(nbx_broker::kFrameComplete, Frame(std::string("\x00\x03Y\x00", 4), &need));
    EXPECT_EQ(3, need);
}

TEST(MessageFrameTest, SizesNoMessageCanHaveAreRefusedEarly) {
    int need = 0;
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame(std::string("\x00\x02", 2), &need));
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame(std::string("\x00\x17", 2), &need));
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame("GET", &need));
    // A known opcode with another size, and an unknown opcode.
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame(std::string("\x00\x09J", 3), &need));
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame(std::string("\x00\x16K", 3), &need));
    EXPECT_EQ(nbx_broker::kFrameMalformed, Frame(std::string("\x00\x03!", 3), &need));
}

TEST(TopologyTest, ParsesNetworksAndTheOutboundMark) {
    Topology topology;
    char error[64] = "";
    ASSERT_EQ(0,
              nbx_broker::parse_private_networks("10.1.0.0/16 outbound, 192.168.7.9/24,0.0.0.0/0",
                                                 &topology, error, sizeof error));
    ASSERT_EQ(3, topology.count);
    EXPECT_EQ(0x0a010000u, topology.networks[0].network);
    EXPECT_EQ(0xffff0000u, topology.networks[0].mask);
    EXPECT_TRUE(topology.networks[0].outbound);
    EXPECT_EQ(0xc0a80700u, topology.networks[1].network);  // host bits cleared
    EXPECT_FALSE(topology.networks[1].outbound);
    EXPECT_EQ(0u, topology.networks[2].mask);
    ASSERT_EQ(0, nbx_broker::parse_private_networks(nullptr, &topology, error, sizeof error));
    EXPECT_EQ(0, topology.count);
    for (const char *bad : {"10.0.0.0/33", "10.0.0.0", "10.0.0.0/", "10.0.0.0/8x", "ten/8",
                            "outbound", "10.0.0.0/-1"}) {
        EXPECT_EQ(-1, nbx_broker::parse_private_networks(bad, &topology, error, sizeof error))
            << bad;
    }
    EXPECT_STREQ("10.0.0.0/-1", error);
}

TEST(TopologyTest, MeetingFollowsWhoReachesWhom) {
    Topology topology;
    char error[64];
    ASSERT_EQ(0,
              nbx_broker::parse_private_networks("10.1.0.0/24, 10.2.0.0/24 outbound, 10.3.0.0/24",
                                                 &topology, error, sizeof error));
    in_addr isolated = Ip("10.1.0.5"), neighbour = Ip("10.1.0.9"), natted = Ip("10.2.0.5"),
            other = Ip("10.3.0.5"), open = Ip("198.51.100.2"), open2 = Ip("203.0.113.9");
    EXPECT_EQ(nbx_broker::kMeetDirect, choose_meeting(topology, neighbour, isolated));
    EXPECT_EQ(nbx_broker::kMeetDirect, choose_meeting(topology, open, open2));
    EXPECT_EQ(nbx_broker::kMeetDirect, choose_meeting(topology, natted, open));   // client out
    EXPECT_EQ(nbx_broker::kMeetPassive, choose_meeting(topology, open, natted));  // server out
    EXPECT_EQ(nbx_broker::kMeetRelay, choose_meeting(topology, open, isolated));
    EXPECT_EQ(nbx_broker::kMeetRelay, choose_meeting(topology, isolated, open));
    EXPECT_EQ(nbx_broker::kMeetRelay, choose_meeting(topology, other, isolated));
    EXPECT_EQ(nbx_broker::kMeetRelay, choose_meeting(topology, natted, isolated));
    EXPECT_EQ(nbx_broker::kMeetRelay, choose_meeting(topology, in_addr{0}, open));
}

TEST(BrokerConfigTest, PortRanges) {
    int low = 0, high = 0;
    EXPECT_TRUE(nbx_broker::parse_port_range("40000-44999", &low, &high));
    EXPECT_EQ(40000, low);
    EXPECT_EQ(44999, high);
    EXPECT_TRUE(nbx_broker::parse_port_range("7-7", &low, &high));
    for (const char *bad : {"", "40000", "0-10", "10-5", "1-65536", "1-2x", "a-b", "-5-10"}) {
        EXPECT_FALSE(nbx_broker::parse_port_range(bad, &low, &high)) << bad;
    }
}

nbx_broker::CommandLineResult Parse(std::vector<std::string> args, BrokerConfig *config,
                                    std::string *error) {
    std::vector<char *> argv;
    args.insert(args.begin(), "nbx_broker");
    for (std::string &a : args) argv.push_back(&a[0]);
    unsigned given = 0;
    char text[256] = "";
    auto result = nbx_broker::parse_command_line(static_cast<int>(argv.size()), argv.data(), config,
                                                 &given, text, sizeof text);
    *error = text;
    return result;
}

TEST(BrokerConfigTest, CommandLine) {
    BrokerConfig config;
    std::string error;
    EXPECT_EQ(nbx_broker::kRun, Parse({"--public", "198.51.100.1", "--private", "10.1.0.1",
                                       "--ports", "5000-5009", "--log", "/tmp/x", "--foreground"},
                                      &config, &error));
    EXPECT_EQ(Ip("198.51.100.1").s_addr, config.public_ip.s_addr);
    EXPECT_EQ(Ip("10.1.0.1").s_addr, config.private_ip.s_addr);
    EXPECT_EQ(5000, config.port_low);
    EXPECT_EQ(5009, config.port_high);
    EXPECT_STREQ("/tmp/x", config.log_path);
    EXPECT_TRUE(config.foreground);
    EXPECT_EQ(nbx_broker::kShowHelp, Parse({"--public", "1.2.3.4", "--help"}, &config, &error));
    EXPECT_EQ(nbx_broker::kUsageError, Parse({"--public", "broker.example"}, &config, &error));
    EXPECT_EQ("not an IPv4 address: broker.example", error);
    EXPECT_EQ(nbx_broker::kUsageError, Parse({"--ports"}, &config, &error));
    EXPECT_EQ("option '--ports' needs a value", error);
    EXPECT_EQ(nbx_broker::kUsageError, Parse({"--verbose"}, &config, &error));
    EXPECT_EQ("unknown option '--verbose'", error);
}

TEST(BrokerConfigTest, CommandLineFollowsGnuRules) {
    // "--opt=value" as well as "--opt value".
    BrokerConfig config;
    std::string error;
    EXPECT_EQ(nbx_broker::kRun, Parse({"--public=198.51.100.2", "--private=10.1.0.2",
                                       "--ports=6000-6001", "--pidfile=/tmp/p", "--log="},
                                      &config, &error))
        << error;
    EXPECT_EQ(Ip("198.51.100.2").s_addr, config.public_ip.s_addr);
    EXPECT_EQ(Ip("10.1.0.2").s_addr, config.private_ip.s_addr);
    EXPECT_EQ(6000, config.port_low);
    EXPECT_EQ(6001, config.port_high);
    EXPECT_STREQ("/tmp/p", config.pid_path);
    EXPECT_STREQ("", config.log_path);
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--foreground=yes"}, "option '--foreground' takes no value"},
        {{"--public=broker.example"}, "not an IPv4 address: broker.example"},
        {{"--pub", "1.2.3.4"}, "unknown option '--pub'"},
        {{"-f"}, "unknown option '-f'"},
        {{"stray"}, "extra operand 'stray'"},
        {{"--", "--foreground"}, "extra operand '--foreground'"},
        {{"--log", "/tmp/x", "--", "-"}, "extra operand '-'"},
    };
    for (const auto &c : bad) {
        BrokerConfig fresh;
        EXPECT_EQ(nbx_broker::kUsageError, Parse(c.first, &fresh, &error)) << c.second;
        EXPECT_EQ(c.second, error);
    }
    BrokerConfig fresh;
    EXPECT_EQ(nbx_broker::kShowVersion,
              Parse({"--foreground", "--version", "--x"}, &fresh, &error));
    EXPECT_EQ(nbx_broker::kUsageError, Parse({"--x", "--version"}, &fresh, &error));
}

torvel_test::ProgramRun RunBroker(const std::vector<std::string> &args,
                                  const std::vector<std::string> &env = {}) {
    torvel_test::ProgramOptions options;
    options.timeout_seconds = 20;
    // A network of its own with only the loopback address: nothing else the
    // broker might listen on can exist there.
    options.child_setup = [] { return broker_test::EnterPrivateNetwork().empty(); };
    return torvel_test::RunProgram(broker_harness::BuiltProgram("nbx_broker"), args,
                                   broker_harness::Environment(env), options);
}

TEST(BrokerProgramTest, HelpVersionAndUsageErrors) {
    torvel_test::ProgramRun help = RunBroker({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: nbx_broker --public ADDRESS --private ADDRESS"));
    torvel_test::ProgramRun version = RunBroker({"--version"});
    EXPECT_EQ(0, version.status);
    // "$TorvelVersion: 6.8.0 Jul 19 2006 $": the package's version is the library's.
    std::string marker = TorvelVersion();
    std::string package = marker.substr(16, marker.find(' ', 16) - 16);
    EXPECT_EQ("nbx_broker (Torvel) " + package + "\n" + marker + "\n", version.out);
    torvel_test::ProgramRun bad = RunBroker({"--public"});
    EXPECT_EQ(2, bad.status);
    EXPECT_EQ("", bad.out);
    EXPECT_EQ(0u, bad.err.find("nbx_broker: option '--public' needs a value\nUsage: "));
    bad = RunBroker({"--public=198.51.100.1", "--bogus"});
    EXPECT_EQ(2, bad.status);
    EXPECT_EQ(0u, bad.err.find("nbx_broker: unknown option '--bogus'\nUsage: ")) << bad.err;
    torvel_test::ProgramRun missing = RunBroker({"--public", "198.51.100.1"});
    EXPECT_EQ(2, missing.status);
    EXPECT_EQ(0u, missing.err.find("nbx_broker: both --public and --private"));
}

TEST(BrokerProgramTest, FileErrorsNameTheProgramAndTheFile) {
    // Loopback serves as both addresses: the listeners open, the files fail.
    std::vector<std::string> args = {"--foreground", "--public=127.0.0.1", "--private=127.0.0.1"};
    args.push_back("--log=/nonexistent/broker.log");
    torvel_test::ProgramRun run = RunBroker(args);
    EXPECT_EQ(44, run.status);
    EXPECT_EQ("nbx_broker: /nonexistent/broker.log: No such file or directory\n", run.err);
    args.back() = "--pidfile=/nonexistent/broker.pid";
    run = RunBroker(args);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("nbx_broker: /nonexistent/broker.pid: No such file or directory\n", run.err);
}

TEST(BrokerProgramTest, ConfigurationFillsWhatTheCommandLineLeavesOut) {
    // A bad key stops the broker; the same setting on the command line wins.
    std::vector<std::string> bad_range = {"_torvel_NBX_BROKER_PORT_RANGE=9-1",
                                          "_torvel_NBX_BROKER_PUBLIC_ADDRESS=198.51.100.1",
                                          "_torvel_NBX_BROKER_PRIVATE_ADDRESS=10.1.0.1"};
    torvel_test::ProgramRun run = RunBroker({"--foreground"}, bad_range);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("nbx_broker: NBX_BROKER_PORT_RANGE is not valid\n", run.err);
    std::vector<std::string> bad_networks = {"_torvel_NBX_BROKER_PRIVATE_NETWORKS=10.0.0.0/8 x"};
    run = RunBroker({"--public", "198.51.100.1", "--private", "10.1.0.1"}, bad_networks);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("nbx_broker: NBX_BROKER_PRIVATE_NETWORKS: not a network: x\n", run.err);
    // With every key valid, the broker gets as far as its listeners, and says
    // which it cannot open.
    bad_range[0] = "_torvel_NBX_BROKER_PORT_RANGE=41000-41999";
    run = RunBroker({"--foreground"}, bad_range);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(0u, run.err.find("nbx_broker: can't listen on <10.1.0.1:65430>: ")) << run.err;
}

}  // namespace
