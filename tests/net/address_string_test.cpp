// Tests of sinful strings and address predicates that need no name service
// and no local address: dotted addresses with wildcards, networks, sinful
// validity and parts, claim ids, descriptor-set text, domains and networks,
// with the brokering layer's counterparts where they differ. Malformed and
// overlong texts must be refused without touching memory beyond them.
#include "net/address_string.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config/subsystem.h"
#include "gtest/gtest.h"
#include "net/default_ip.h"
#include "net/nbx_address.h"
#include "tests/support/capture.h"

namespace {

std::string Dotted(struct in_addr addr) {
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &addr, text, sizeof text);
}

uint32_t Ip(const char *dotted) {
    return inet_addr(dotted);
}

// The heap result as text ("<null>" for null), freed.
std::string Take(char *text) {
    std::string result = text != nullptr ? text : "<null>";
    free(text);
    return result;
}

TEST(IsIpaddrTest, AcceptsWholeAndWildcardAddresses) {
    struct in_addr addr;
    ASSERT_EQ(1, is_ipaddr("10.1.2.3", &addr));
    EXPECT_EQ("10.1.2.3", Dotted(addr));
    ASSERT_EQ(1, is_ipaddr("10.1.2.*", &addr));
    EXPECT_EQ("10.1.2.255", Dotted(addr));
    ASSERT_EQ(1, is_ipaddr("192.168.*", &addr));
    EXPECT_EQ("192.168.255.255", Dotted(addr));
    ASSERT_EQ(1, is_ipaddr("10.1", &addr));
    EXPECT_EQ("10.1.255.255", Dotted(addr));
    ASSERT_EQ(1, is_ipaddr("10.1.2.", &addr));
    EXPECT_EQ("10.1.2.255", Dotted(addr));
    EXPECT_EQ(1, is_ipaddr("255.255.255.255", nullptr));
}

TEST(IsIpaddrTest, RefusesMalformedText) {
    struct in_addr addr;
    addr.s_addr = Ip("1.2.3.4");
    for (const char *bad : {"*", "*.1.2.3", "10.1.2.300", "eth0", "10", "1..2", "10.1.2.3.4",
                            "10.1.2.3x", "10.-1.2.3", "", "10.01.2.3333", "1.2.3.4 "}) {
        EXPECT_EQ(0, is_ipaddr(bad, &addr)) << bad;
    }
    EXPECT_EQ(0, is_ipaddr("10.100.200.250.1", nullptr));   // 16 characters, five parts
    EXPECT_EQ(1, is_ipaddr("100.100.100.100.", nullptr));   // 16 with the dropped dot
    EXPECT_EQ(0, is_ipaddr("100.100.100.100.1", nullptr));  // 17 characters
    EXPECT_EQ(0, is_ipaddr(nullptr, nullptr));
    EXPECT_EQ("1.2.3.4", Dotted(addr)) << "a refused text leaves the output alone";
}

TEST(IsValidNetworkTest, MaskOrPrefixLength) {
    struct in_addr net, mask;
    ASSERT_EQ(1, is_valid_network("10.0.0.0/8", &net, &mask));
    EXPECT_EQ("10.0.0.0", Dotted(net));
    EXPECT_EQ("255.0.0.0", Dotted(mask));
    ASSERT_EQ(1, is_valid_network("10.0.0.0/255.255.0.0", &net, &mask));
    EXPECT_EQ("255.255.0.0", Dotted(mask));
    ASSERT_EQ(1, is_valid_network("192.168.1.0/23", &net, &mask));
    EXPECT_EQ("255.255.254.0", Dotted(mask));
    ASSERT_EQ(1, is_valid_network("192.168.1.7/32", &net, &mask));
    EXPECT_EQ("255.255.255.255", Dotted(mask));
    EXPECT_EQ(1, is_valid_network("10.0.0.0/8", nullptr, nullptr));
}

TEST(IsValidNetworkTest, RefusesBadNetworksAndLogsZeroPrefix) {
    DebugCapture capture(D_SECURITY);
    EXPECT_EQ(0, is_valid_network("10.0.0.0/0", nullptr, nullptr));
    EXPECT_EQ("ISVALIDNETWORK: malformed netmask: 0\n", capture.Take());
    EXPECT_EQ(0, is_valid_network("10.0.0.0", nullptr, nullptr));
    EXPECT_EQ(0, is_valid_network("eth0/8", nullptr, nullptr));
    // Beyond 32 bits there is no mask: refused, not shifted out of range.
    EXPECT_EQ(0, is_valid_network("10.0.0.0/33", nullptr, nullptr));
    EXPECT_EQ(0, is_valid_network("10.0.0.0/99999999999999999999", nullptr, nullptr));
    // Only 31 characters are read: the prefix falls beyond them.
    EXPECT_EQ(0, is_valid_network("10.0.0.0                     /8", nullptr, nullptr));
    EXPECT_EQ(0, is_valid_network(nullptr, nullptr, nullptr));
}

TEST(SinfulTest, ValidityAndParts) {
    EXPECT_EQ(1, is_valid_sinful("<10.0.0.1:9000>"));
    EXPECT_EQ(0, is_valid_sinful("<node7:9000>"));
    EXPECT_EQ(1, _valid_sin("<node7:9000>"));
    EXPECT_EQ(0, is_valid_sinful("10.0.0.1:9000"));
    EXPECT_EQ(0, is_valid_sinful("<:9000>"));
    EXPECT_EQ(0, is_valid_sinful("<10.0.0.1:9000"));
    EXPECT_EQ(0, is_valid_sinful("<10.0.0.1.2.3.4.5.6.7.8:9000>"));
    EXPECT_EQ(0, is_valid_sinful(nullptr));

    EXPECT_EQ(9000, string_to_port("<10.0.0.1:9000>"));
    EXPECT_EQ(0, string_to_port("10.0.0.1:9000"));
    EXPECT_EQ(-1, _str2port("10.0.0.1:9000"));
    EXPECT_EQ(0, string_to_port("<10.0.0.1:>"));
    EXPECT_EQ(0, string_to_port("<10.0.0.1:99999999999999999999>"));
    EXPECT_EQ(9000, _str2port("<node7:9000>"));

    EXPECT_EQ(Ip("10.0.0.1"), string_to_ip("<10.0.0.1:9000>"));
    EXPECT_EQ(0u, string_to_ip("<node7:9000>"));
    EXPECT_EQ(static_cast<in_addr_t>(-1), _str2ip("node7:9000"));
    EXPECT_EQ(0u, _str2ip("<node7:9000>"));
    EXPECT_EQ(Ip("10.0.0.1"), _str2ip("<10.0.0.1:9000>"));

    EXPECT_STREQ("10.0.0.1", string_to_ipstr("<10.0.0.1:9000>"));
    EXPECT_EQ(nullptr, string_to_ipstr("<node7:9000>"));
    EXPECT_STREQ("node7", _str2ipstr("<node7:9000>"));
    std::string long_host = "<" + std::string(60, 'a') + ":1>";
    EXPECT_EQ(nullptr, _str2ipstr(long_host.c_str())) << "longer than its 50-byte buffer";
}

TEST(SinfulTest, StringToSinWithDottedHost) {
    struct sockaddr_in sin;
    ASSERT_EQ(1, string_to_sin("<192.0.2.7:40001>", &sin));
    EXPECT_EQ(AF_INET, sin.sin_family);
    EXPECT_EQ(Ip("192.0.2.7"), sin.sin_addr.s_addr);
    EXPECT_EQ(40001, ntohs(sin.sin_port));
    EXPECT_STREQ("<192.0.2.7:40001>", sin_to_string(&sin));
    EXPECT_STREQ("<192.0.2.7:40001>", ipport_to_string(sin.sin_addr.s_addr, sin.sin_port));

    EXPECT_EQ(0, string_to_sin(nullptr, &sin));
    EXPECT_EQ(0, string_to_sin("<192.0.2.7>", &sin));
    EXPECT_EQ(0, string_to_sin("<192.0.2.7:65536>", &sin)) << "port outside 16 bits";
    EXPECT_EQ(0, string_to_sin("<192.0.2.7:-1>", &sin));
    std::string huge = "<" + std::string(5000, '1') + ":80>";
    EXPECT_EQ(0, string_to_sin(huge.c_str(), &sin));

    ASSERT_EQ(0, _str2sin("<192.0.2.7:40001>", &sin));
    EXPECT_EQ(40001, ntohs(sin.sin_port));
    EXPECT_EQ(-1, _str2sin("<192.0.2.7>", &sin));
}

TEST(SinfulTest, BrokeringFormsKeepTheAnyAddress) {
    struct sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_port = htons(9000);
    EXPECT_STREQ("<0.0.0.0:9000>", _sin2str(&sin));
    EXPECT_STREQ("", _sin2str(nullptr));
    EXPECT_STREQ("", sin_to_string(nullptr));
    struct in_addr addr;
    addr.s_addr = Ip("192.0.2.8");
    EXPECT_STREQ("<192.0.2.8>", _ip2str(addr));
    EXPECT_EQ(0, _is_loopback(addr));
    addr.s_addr = Ip("127.0.0.1");
    EXPECT_EQ(1, _is_loopback(addr));
}

TEST(AddrTextTest, PortHostAndClaimId) {
    EXPECT_EQ(9000, getPortFromAddr("<10.0.0.1:9000>"));
    EXPECT_EQ(-1, getPortFromAddr(nullptr));
    EXPECT_EQ(-1, getPortFromAddr("<10.0.0.1>"));
    EXPECT_EQ(-1, getPortFromAddr("<10.0.0.1:>"));
    EXPECT_EQ(-1, getPortFromAddr("<10.0.0.1:x>"));
    EXPECT_EQ(-1, getPortFromAddr("<10.0.0.1:2147483648>"));
    EXPECT_EQ(2147483647, getPortFromAddr("<10.0.0.1:2147483647>"));

    EXPECT_EQ("10.0.0.1", Take(getHostFromAddr("<10.0.0.1:9000>")));
    EXPECT_EQ("node7.example.org", Take(getHostFromAddr("slot1@node7.example.org:9000")));
    EXPECT_EQ("node7", Take(getHostFromAddr("node7")));
    EXPECT_EQ("<null>", Take(getHostFromAddr("<:9000>")));
    EXPECT_EQ("<null>", Take(getHostFromAddr("")));
    EXPECT_EQ("<null>", Take(getHostFromAddr(nullptr)));

    EXPECT_EQ("<10.0.0.1:9000>", Take(getAddrFromClaimId("<10.0.0.1:9000>#1234#5")));
    EXPECT_EQ("<null>", Take(getAddrFromClaimId("<10.0.0.1:9000>")));
    EXPECT_EQ("<null>", Take(getAddrFromClaimId("<node7:9000>#1")));
    EXPECT_EQ("<null>", Take(getAddrFromClaimId(nullptr)));
}

TEST(PrtFdsTest, ListsMembersAndCutsLongSets) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(3, &set);
    FD_SET(7, &set);
    EXPECT_STREQ("<3 7 >", prt_fds(8, &set));
    EXPECT_STREQ("<3 >", prt_fds(7, &set)) << "members at or above the count are left out";
    EXPECT_STREQ("<>", prt_fds(8, nullptr));
    EXPECT_STREQ("NULL", _prtfds(8, nullptr));
    for (int fd = 100; fd < 130; ++fd) {
        FD_SET(fd, &set);
    }
    EXPECT_STREQ("<3 7 100 101 102 103 104 105 106 107 108 ...>", prt_fds(FD_SETSIZE, &set));
    EXPECT_STREQ("<3 7 100 101 102 103 104 105 106 107 108 ...>", _prtfds(FD_SETSIZE, &set));
    // A count beyond the set's size reads no further than the set.
    EXPECT_STREQ("<3 7 100 101 102 103 104 105 106 107 108 ...>", prt_fds(1 << 30, &set));
}

TEST(AddressPredicateTest, DomainsAndNetworks) {
    EXPECT_EQ(1, host_in_domain("node7.Example.ORG", "example.org"));
    EXPECT_EQ(1, host_in_domain("axb.c", "b.c"));
    EXPECT_EQ(0, host_in_domain("node7.example.org", "example.com"));
    EXPECT_EQ(0, host_in_domain(nullptr, "b.c"));
    EXPECT_EQ(0, _in_domain("node7.Example.ORG", "example.org"));
    EXPECT_EQ(1, _in_domain("node7.example.org", "example.org"));

    EXPECT_EQ(1, is_priv_net(ntohl(Ip("10.200.0.1"))));
    EXPECT_EQ(1, is_priv_net(ntohl(Ip("172.31.255.255"))));
    EXPECT_EQ(0, is_priv_net(ntohl(Ip("172.32.0.1"))));
    EXPECT_EQ(1, is_priv_net(ntohl(Ip("192.168.3.4"))));
    EXPECT_EQ(0, is_priv_net(ntohl(Ip("192.0.2.8"))));

    EXPECT_EQ(1, in_same_net(Ip("192.0.2.7"), Ip("192.0.2.200")));
    EXPECT_EQ(0, in_same_net(Ip("192.0.2.7"), Ip("192.0.3.7")));
    EXPECT_EQ(1, in_same_net(Ip("10.1.0.1"), Ip("10.2.0.1")));
    EXPECT_EQ(1, in_same_net(Ip("172.16.1.1"), Ip("172.16.9.9")));
    EXPECT_EQ(0, in_same_net(Ip("172.16.1.1"), Ip("172.17.1.1")));
    EXPECT_EQ(1, _same_net(Ip("10.1.0.1"), Ip("10.2.0.1")));
}

// The subsystem name is the process's own variable, read at each call.
TEST(SubsystemNameTest, IsTheProcessWideName) {
    const char *saved = mySubSystem;
    EXPECT_EQ(get_mySubSystem(), mySubSystem);
    EXPECT_STREQ(get_mySubSystem(), "TOOL");
    mySubSystem = "OTHER";
    EXPECT_STREQ(get_mySubSystem(), "OTHER");
    mySubSystem = saved;
}

}  // namespace
