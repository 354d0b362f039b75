// Tests of port ranges and local binding, and of the brokering layer's
// interface-address list. Port ranges are read from ConfigTab in this
// process; every socket is bound inside a child's private network
// namespace, where only loopback (and interfaces the test makes) exist.
#include "net/local_bind.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/macro_table.h"
#include "gtest/gtest.h"
#include "identity/privileges.h"
#include "net/nbx_address.h"
#include "tests/net/net_child.h"
#include "tests/support/capture.h"

namespace {

using net_test::ChildResult;
using net_test::RunChild;

void Set(const char *name, const char *value) {
    insert(name, value, ConfigTab, CONFIG_TABLE_SIZE);
}

class PortRangeTest : public testing::Test {
 protected:
    void SetUp() override { clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE); }
    void TearDown() override { clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE); }

    // "result low high" for the direction.
    std::string Range(int outgoing) {
        int low = -7, high = -7;
        int result = get_port_range(outgoing, &low, &high);
        return std::to_string(result) + " " + std::to_string(low) + " " + std::to_string(high);
    }
};

TEST_F(PortRangeTest, DirectionPairThenGeneralPair) {
    EXPECT_EQ("0 0 0", Range(1)) << "nothing configured";
    Set("LOWPORT", "20000");
    Set("HIGHPORT", "20100");
    EXPECT_EQ("1 20000 20100", Range(1));
    EXPECT_EQ("1 20000 20100", Range(0));
    Set("OUT_LOWPORT", "30000");
    Set("OUT_HIGHPORT", "30010");
    DebugCapture capture(D_NETWORK);
    EXPECT_EQ("1 30000 30010", Range(1));
    EXPECT_EQ("get_port_range - (OUT_LOWPORT,OUT_HIGHPORT) is (30000,30010).\n", capture.Take());
    EXPECT_EQ("1 20000 20100", Range(0));
    EXPECT_EQ("get_port_range - (LOWPORT,HIGHPORT) is (20000,20100).\n", capture.Take());
}

TEST_F(PortRangeTest, LowWithoutHighLeavesOutputsAlone) {
    Set("IN_LOWPORT", "9000");
    Set("LOWPORT", "20000");
    Set("HIGHPORT", "20100");
    DebugCapture capture(D_ALWAYS);
    EXPECT_EQ("0 -7 -7", Range(0));
    EXPECT_EQ("get_port_range - ERROR: IN_LOWPORT defined but no IN_HIGHPORT.\n", capture.Take());
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    Set("LOWPORT", "20000");
    EXPECT_EQ("0 -7 -7", Range(1));
    EXPECT_EQ("get_port_range - ERROR: LOWPORT defined but no HIGHPORT.\n", capture.Take());
}

TEST_F(PortRangeTest, InvalidAndMixedRanges) {
    DebugCapture capture(D_ALWAYS);
    Set("LOWPORT", "1000");
    Set("HIGHPORT", "2000");
    EXPECT_EQ("1 1000 2000", Range(1));
    EXPECT_EQ(
        "get_port_range - WARNING: port range (1000,2000) is mix of privileged and "
        "non-privileged ports!\n",
        capture.Take());
    Set("LOWPORT", "3000");
    EXPECT_EQ("0 3000 2000", Range(1));
    EXPECT_EQ("get_port_range - ERROR: invalid port range (3000,2000)\n ", capture.Take());
    Set("LOWPORT", "-5");
    EXPECT_EQ("0 -5 2000", Range(1));
    // Ports beyond 16 bits would wrap when bound: refused.
    Set("LOWPORT", "65000");
    Set("HIGHPORT", "99999999999");
    EXPECT_EQ("0 65000 65536", Range(1));
    Set("HIGHPORT", "65535");
    EXPECT_EQ("1 65000 65535", Range(1));
}

TEST_F(PortRangeTest, BindAllInterfacesSwitch) {
    EXPECT_EQ(0, _torvel_bind_all_interfaces());
    for (const char *yes : {"yes", "True", "t", "Y"}) {
        Set("BIND_ALL_INTERFACES", yes);
        EXPECT_EQ(1, _torvel_bind_all_interfaces()) << yes;
    }
    for (const char *no : {"1", "false", "no", "on"}) {
        Set("BIND_ALL_INTERFACES", no);
        EXPECT_EQ(0, _torvel_bind_all_interfaces()) << no;
    }
}

class LocalBindTest : public testing::Test {
 protected:
    void SetUp() override {
        std::string reason;
        if (!net_test::NamespacesUsable(&reason)) {
            GTEST_SKIP() << reason;
        }
    }

    ChildResult InNetNamespace(const std::function<std::string()> &body) {
        ChildResult r = RunChild(
            [] {
                clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
                return net_test::EnterNetNamespace();
            },
            body);
        EXPECT_NE(net_test::kSetupFailed, r.status) << "namespace set-up failed";
        return r;
    }
};

// The local port of fd, or -1.
int PortOf(int fd) {
    struct sockaddr_in sin;
    socklen_t length = sizeof sin;
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&sin), &length) != 0) {
        return -1;
    }
    return ntohs(sin.sin_port);
}

// A TCP socket bound to any address and port, or -1.
int Occupy(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && bind(fd, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

int CountLines(const std::string &text, const std::string &line) {
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(LocalBindTest, StartsAtProcessSpreadPointAndSkipsTakenPorts) {
    ChildResult r = InNetNamespace([] {
        const int low = 9600, high = 9700, n = high - low + 1;
        int start = low + static_cast<int>((static_cast<long long>(getpid()) * 173) % n);
        std::string out;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        out += std::to_string(bindWithin(fd, low, high));
        out += " " + std::to_string(PortOf(fd) - start) + " ";
        int taken = Occupy(start == high ? low : start + 1);
        close(fd);  // frees start
        int blocker = Occupy(start);
        fd = socket(AF_INET, SOCK_STREAM, 0);
        bindWithin(fd, low, high);
        int next = start + 2 > high ? start + 2 - n : start + 2;
        out += std::to_string(PortOf(fd) == next);
        close(fd);
        close(taken);
        close(blocker);
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("1 0 1", r.out);
}

TEST_F(LocalBindTest, WrapsAroundAndTriesEveryPortOnce) {
    ChildResult r = InNetNamespace([] {
        const int low = 9600, high = 9700, n = high - low + 1;
        int start = low + static_cast<int>((static_cast<long long>(getpid()) * 173) % n);
        int last_tried = start == low ? high : start - 1;
        std::vector<int> blockers;
        for (int port = low; port <= high; ++port) {
            if (port != last_tried) {
                blockers.push_back(Occupy(port));
            }
        }
        std::string out;
        DebugCapture capture(D_NETWORK | D_ALWAYS);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        out += std::to_string(bindWithin(fd, low, high));
        out += " " + std::to_string(PortOf(fd) == last_tried);
        out += " " + std::to_string(CountLines(capture.Take(), "failed to bind: ")) + "\n";
        close(fd);
        blockers.push_back(Occupy(last_tried));
        fd = socket(AF_INET, SOCK_STREAM, 0);
        out += std::to_string(bindWithin(fd, low, high));
        std::string log = capture.Take();
        out += " " + std::to_string(CountLines(log, "_torvel_local_bind - failed to bind: "));
        out += " " +
               std::to_string(CountLines(log,
                                         "_torvel_local_bind::bindWithin - failed to bind any port "
                                         "within (9600 ~ 9700)\n"));
        close(fd);
        for (int b : blockers) {
            close(b);
        }
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("1 1 100\n0 101 1", r.out);
}

TEST_F(LocalBindTest, PrivilegedPortsAndConfiguredDirections) {
    ChildResult r = InNetNamespace([] {
        std::string out;
        priv_state before = get_priv();
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        // Each call in its own statement: operands of + are not sequenced.
        out += std::to_string(bindWithin(fd, 700, 700));
        out += ":" + std::to_string(PortOf(fd));
        out += std::string(" ") + (get_priv() == before ? "restored" : "changed");
        close(fd);
        fd = socket(AF_INET, SOCK_STREAM, 0);
        out += " " + std::to_string(bindWithin(fd, 65535, 65536));  // beyond 16 bits
        out += " " + std::to_string(bindWithin(fd, 9000, 8999));
        close(fd);
        Set("OUT_LOWPORT", "9800");
        Set("OUT_HIGHPORT", "9800");
        fd = socket(AF_INET, SOCK_STREAM, 0);
        out += " " + std::to_string(_torvel_local_bind(1, fd));
        out += ":" + std::to_string(PortOf(fd));
        close(fd);
        fd = socket(AF_INET, SOCK_STREAM, 0);
        out += " " + std::to_string(_torvel_local_bind(0, fd));
        out += std::string(":") + (PortOf(fd) > 0 && PortOf(fd) != 9800 ? "ephemeral" : "?");
        DebugCapture capture(D_ALWAYS);
        out += " " + std::to_string(_torvel_local_bind(0, fd));
        out += "\n" + capture.text();
        close(fd);
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "1:700 restored 0 0 1:9800 1:ephemeral 0\n"
        "ERROR: bind(0.0.0.0:0) failed, errno: 22\n",
        r.out);
}

// Runs commands of the ip tool; false when it is missing or fails.
bool Ip(const std::string &commands) {
    if (access("/usr/sbin/ip", X_OK) != 0 && access("/sbin/ip", X_OK) != 0) {
        return false;
    }
    std::string script = "PATH=/usr/sbin:/sbin:/usr/bin:/bin; set -e; " + commands;
    return system(script.c_str()) == 0;
}

std::string Addresses(int limit) {
    struct in_addr list[8];
    int count = limit;
    if (_all_myIP(list, &count) != 0) {
        return "fail";
    }
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        texts.push_back(inet_ntoa(list[i]));
    }
    std::sort(texts.begin(), texts.end());
    std::string out;
    for (const std::string &t : texts) {
        out += t + ",";
    }
    return out;
}

std::string MyIp() {
    struct in_addr addr;
    addr.s_addr = 0;
    int result = _myIP(&addr);
    return std::to_string(result) + ":" + inet_ntoa(addr);
}

TEST_F(LocalBindTest, InterfaceAddressesOfUpInterfaces) {
    ChildResult r = InNetNamespace([] {
        if (!Ip("ip link add v0 type veth peer name v1; ip addr add 10.0.0.5/24 dev v0;"
                "ip addr add 10.0.0.6/24 dev v0 label v0:1; ip addr add 192.0.2.8/24 dev v1;"
                "ip link set v0 up; ip link set v1 up")) {
            return std::string("no ip tool or veth");
        }
        std::string out = Addresses(8) + " " + MyIp();
        char *subnet = _subnet();
        out += std::string(" ") + subnet;
        free(subnet);
        out += " " + Addresses(2) + "\n";
        Ip("ip link set v1 down");
        out += Addresses(8) + " " + MyIp() + "\n";
        Ip("ip link set v0 down");
        out += Addresses(8) + " " + MyIp();
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    if (r.out == "no ip tool or veth") {
        GTEST_SKIP() << r.out;
    }
    EXPECT_EQ(
        "10.0.0.5,127.0.0.1,192.0.2.8, 0:192.0.2.8 192.0.2 fail\n"
        "10.0.0.5,127.0.0.1, 1:10.0.0.5\n"
        "127.0.0.1, -1:0.0.0.0",
        r.out);
}

}  // namespace
