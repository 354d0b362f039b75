// Tests of host discovery, the resolver calls with and without NO_DNS, and
// the address functions that consult them (local-address substitution,
// host names in sinful strings, same host, outgoing-ad rewriting). Each
// runs in a child with its own host name and hosts file, so results never
// depend on the machine's name or DNS.
#include "net/host_identity.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "classad/class_ad.h"
#include "config/macro_table.h"
#include "gtest/gtest.h"
#include "net/address_string.h"
#include "net/default_ip.h"
#include "net/nbx_address.h"
#include "net/resolver.h"
#include "tests/net/net_child.h"
#include "tests/stream/memory_stream.h"
#include "tests/support/capture.h"

namespace {

using net_test::ChildResult;
using net_test::HostFiles;
using net_test::RunChild;

void Set(const char *name, const char *value) {
    insert(name, value, ConfigTab, CONFIG_TABLE_SIZE);
}

std::string Or(const char *text) {
    return text != nullptr ? text : "<null>";
}

std::string Dotted(struct in_addr addr) {
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &addr, text, sizeof text);
}

// A stream whose local address is chosen by the test.
class AddressedStream : public MemoryStream {
 public:
    explicit AddressedStream(const char *ip) : ip_(ip) {}
    const char *my_ip_str() override { return ip_; }

 private:
    const char *ip_;
};

class HostIdentityTest : public testing::Test {
 protected:
    void SetUp() override {
        std::string reason;
        if (!net_test::NamespacesUsable(&reason)) {
            GTEST_SKIP() << reason;
        }
    }

    // Runs body on a host named hostname whose hosts file is hosts, with a
    // fresh configuration and nothing discovered yet.
    ChildResult OnHost(const std::string &hostname, const std::string &hosts,
                       const std::function<std::string()> &body) {
        HostFiles files(hosts);
        ChildResult result = RunChild(
            [&] {
                clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
                _torvel_forget_host_identity();
                return files.Enter(hostname) && net_test::EnterNetNamespace();
            },
            body);
        EXPECT_NE(net_test::kSetupFailed, result.status) << "namespace set-up failed";
        return result;
    }
};

TEST_F(HostIdentityTest, DottedSystemNameNeedsNoResolver) {
    ChildResult r = OnHost("node7.example.org", "", [] {
        DebugCapture capture(D_HOSTNAME);
        std::string out = Or(my_hostname()) + " " + Or(my_full_hostname()) + "\n";
        std::string log = capture.text();
        out += log.find("gethostbyname") == std::string::npos ? "no lookup" : "lookup:\n" + log;
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("node7 node7.example.org\nno lookup", r.out);
}

TEST_F(HostIdentityTest, ShortNameTakesDefaultDomainWithOrWithoutDot) {
    for (const char *domain : {".example.org", "example.org"}) {
        ChildResult r = OnHost("node7", "10.0.0.5 node7 n7\n", [&] {
            Set("DEFAULT_DOMAIN_NAME", domain);
            return Or(my_hostname()) + " " + Or(my_full_hostname()) + " " + Or(my_ip_string());
        });
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("node7 node7.example.org 10.0.0.5", r.out) << domain;
    }
    // A dotted alias wins over the domain; no domain at all leaves the name.
    ChildResult r = OnHost("node7", "10.0.0.5 node7 node7.site.test\n", [&] {
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        return Or(my_full_hostname());
    });
    EXPECT_EQ("node7.site.test", r.out);
    r = OnHost("node7", "10.0.0.5 node7\n", [&] { return Or(my_full_hostname()); });
    EXPECT_EQ("node7", r.out);
}

TEST_F(HostIdentityTest, PrefersPublicThenLastPrivateThenLoopback) {
    struct Case {
        const char *hosts;
        const char *expected;
    } cases[] = {
        {"127.0.0.1 node7\n10.0.0.5 node7\n192.0.2.8 node7\n", "192.0.2.8"},
        {"127.0.0.1 node7\n10.0.0.5 node7\n", "10.0.0.5"},
        {"10.0.0.5 node7\n172.16.1.1 node7\n", "172.16.1.1"},
        {"127.0.0.1 node7\n", "127.0.0.1"},
        {"192.0.2.8 node7\n198.51.100.1 node7\n", "192.0.2.8"},
    };
    for (const Case &c : cases) {
        ChildResult r = OnHost("node7", c.hosts, [] {
            return Or(my_ip_string()) + " " +
                   std::to_string(my_ip_addr() == ntohl(my_sin_addr()->s_addr));
        });
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(std::string(c.expected) + " 1", r.out) << c.hosts;
    }
}

TEST_F(HostIdentityTest, NetworkInterfaceAfterConfigReplacesLookup) {
    ChildResult r = OnHost("node7", "10.0.0.5 node7\n", [] {
        std::string out = Or(my_ip_string());
        Set("NETWORK_INTERFACE", "10.1.2.3");
        init_ipaddr(0);  // before the configuration is read it is not consulted
        out += " " + Or(my_ip_string());
        init_ipaddr(1);
        out += " " + Or(my_ip_string());
        DebugCapture capture(D_ALWAYS);
        Set("NETWORK_INTERFACE", "eth0");
        init_ipaddr(1);
        out += " " + Or(my_ip_string()) + "\n" + capture.Take();
        Set("NETWORK_INTERFACE", "10.1.2");
        init_ipaddr(1);
        return out + Or(my_ip_string());
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "10.0.0.5 10.0.0.5 10.1.2.3 10.1.2.3\n"
        "init_ipaddr: Invalid network interface string: \"eth0\"\n"
        "init_ipaddr: Using default interface.\n"
        "10.1.2.255",
        r.out);
}

TEST_F(HostIdentityTest, UnresolvableDottedNameIsFatal) {
    ChildResult r = OnHost("ghost.example.org", "10.0.0.5 node7\n", [] {
        my_ip_addr();
        return std::string("survived");
    });
    EXPECT_EQ(4, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("gethostbyname(ghost.example.org) failed, errno = "))
        << r.err;
    // A host name that cannot be read at all is fatal as well.
    r = OnHost("node7", "", [] {
        Set("NO_DNS", "true");
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        Set("NETWORK_INTERFACE", "eth0");
        my_hostname();
        return std::string("survived");
    });
    EXPECT_EQ(4, r.status);
    EXPECT_NE(std::string::npos, r.err.find("gethostname failed, errno = ")) << r.err;
}

TEST_F(HostIdentityTest, UnknownShortNameGetsTheAnyAddress) {
    // The first lookup fails quietly; the address stays 0.0.0.0.
    ChildResult r = OnHost("ghost", "10.0.0.5 node7\n",
                           [] { return Or(my_full_hostname()) + " " + Or(my_ip_string()); });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("ghost 0.0.0.0", r.out);
}

TEST_F(HostIdentityTest, NoDnsMapsNamesAndAddresses) {
    ChildResult r = OnHost("node7", "10.0.0.5 node7\n", [] {
        DebugCapture capture(D_HOSTNAME);
        std::string out;
        struct in_addr addr;
        addr.s_addr = inet_addr("10.1.2.3");
        char name[64];
        char *list[2];
        out += std::to_string(convert_ip_to_hostname(addr, name, sizeof name));
        out += " " + std::to_string(convert_hostname_to_ip("10-1-2-3.example.org", list, 2));
        out += "\n" + capture.Take();
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        convert_ip_to_hostname(addr, name, sizeof name);
        out += std::string(name) + " ";
        convert_ip_to_hostname(addr, name, 12);  // cut to the buffer
        out += std::string(name) + " ";
        if (convert_hostname_to_ip("10-1-2-3.example.org", list, 2) == 0 && list[1] == nullptr) {
            out += Dotted(*reinterpret_cast<struct in_addr *>(list[0]));
        }
        out += " " + std::to_string(convert_hostname_to_ip("10-1-2-3.example.org", list, 1));
        out += " " + std::to_string(convert_hostname_to_ip("node7.example.org", list, 2));
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    const char no_domain[] =
        "NO_DNS: DEFAULT_DOMAIN_NAME must be defined in your top-level config file\n";
    EXPECT_EQ(std::string("-1 -1\n") + no_domain + no_domain +
                  "10-1-2-3.example.org 10-1-2-3.ex 10.1.2.3 -1 -1",
              r.out);
}

TEST_F(HostIdentityTest, NoDnsSwitchAndResolverCalls) {
    ChildResult r = OnHost("node7", "10.0.0.5 node7\n", [] {
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        std::string out;
        Set("NO_DNS", "yes");  // only T, t or 1 turn it on
        struct hostent *entry = torvel_gethostbyname("node7");
        out += entry != nullptr ? Dotted(*reinterpret_cast<in_addr *>(entry->h_addr_list[0]))
                                : "<none>";
        Set("NO_DNS", "True");
        out += " " + Or(torvel_gethostbyname("node7") != nullptr ? "found" : nullptr);
        entry = torvel_gethostbyname("192-0-2-8.example.org");
        if (entry != nullptr && entry->h_addr_list[1] == nullptr && entry->h_length == 4) {
            out += " " + Dotted(*reinterpret_cast<in_addr *>(entry->h_addr_list[0]));
        }
        struct in_addr addr;
        addr.s_addr = inet_addr("192.0.2.8");
        entry = torvel_gethostbyaddr(&addr, sizeof addr, AF_INET);
        if (entry != nullptr && entry->h_aliases[0] == nullptr) {
            out += " " + Or(entry->h_name);
        }
        char name[64] = "";
        out += " " + std::to_string(torvel_gethostname(name, sizeof name)) + ":" + name;
        Set("NETWORK_INTERFACE", "10.1.2.3");
        torvel_gethostname(name, sizeof name);
        out += std::string(" ") + name;
        Set("NETWORK_INTERFACE", "eth0");
        out += " " + std::to_string(torvel_gethostname(name, sizeof name));
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "10.0.0.5 <null> 192.0.2.8 192-0-2-8.example.org 0:10-0-0-5.example.org "
        "10-1-2-3.example.org -1",
        r.out);
}

TEST_F(HostIdentityTest, NoDnsNameFromRouteToCollector) {
    ChildResult r = OnHost("node7", "", [] {
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        Set("NO_DNS", "1");
        Set("COLLECTOR_HOST", "127.0.0.1:9618");
        char name[64] = "";
        std::string out = std::to_string(torvel_gethostname(name, sizeof name)) + ":" + name;
        Set("COLLECTOR_HOST", "nowhere.other.net");
        out += " " + std::to_string(torvel_gethostname(name, sizeof name));
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("0:127-0-0-1.example.org -1", r.out);
}

TEST_F(HostIdentityTest, NoDnsHostIdentityFromNetworkInterface) {
    ChildResult r = OnHost("node7", "", [] {
        Set("DEFAULT_DOMAIN_NAME", "example.org");
        Set("NO_DNS", "true");
        Set("NETWORK_INTERFACE", "10.1.2.3");
        return Or(my_hostname()) + " " + Or(my_full_hostname()) + " " + Or(my_ip_string());
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("10-1-2-3 10-1-2-3.example.org 10.1.2.3", r.out);
}

TEST_F(HostIdentityTest, AddressFunctionsUseLocalAddressAndNames) {
    ChildResult r = OnHost("node7", "10.0.0.5 node7.example.org node7\n192.0.2.9 far\n", [] {
        std::string out;
        struct sockaddr_in sin;
        memset(&sin, 0, sizeof sin);
        sin.sin_family = AF_INET;
        sin.sin_port = htons(9000);
        out += std::string(sin_to_string(&sin)) + " " + _sin2str(&sin);
        char *subnet = calc_subnet_name();
        out += std::string(" ") + subnet;
        free(subnet);
        out += " " + Or(sin_to_hostname(&sin, nullptr));
        // Each call in its own statement: operands of + are not sequenced.
        out += " " + std::to_string(string_to_sin("<node7:9001>", &sin));
        out += std::string(":") + sin_to_string(&sin);
        out += " " + std::to_string(string_to_sin("<ghost:9001>", &sin));
        out += " " + std::to_string(_str2sin("<far:7>", &sin));
        out += std::string(":") + _sin2str(&sin);
        out += " " + Or(string_to_hostname("<192.0.2.9:1>"));
        out += " " + Or(_str2host("<10.0.0.5:1>"));
        out += " " + Or(string_to_hostname("<192.0.2.77:1>"));
        out += " " + std::to_string(same_host("node7", "node7.example.org"));
        out += std::to_string(same_host("node7", "far"));
        out += std::to_string(same_host("node7", "ghost"));
        out += std::to_string(same_host(nullptr, "far"));
        out += std::to_string(_same_host("node7", "node7.example.org"));
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        struct sockaddr_in any;
        memset(&any, 0, sizeof any);
        any.sin_family = AF_INET;
        any.sin_port = htons(9123);
        bind(fd, reinterpret_cast<struct sockaddr *>(&any), sizeof any);
        out += std::string(" ") + sock_to_string(fd);
        struct sockaddr_in *local = getSockAddr(fd);
        out += " " + (local != nullptr ? Dotted(local->sin_addr) : "<null>");
        close(fd);
        DebugCapture capture(D_ALWAYS);
        out += " " + std::string(getSockAddr(-1) == nullptr ? "<null>" : "?");
        sin.sin_addr.s_addr = htonl(INADDR_ANY);
        display_from(&sin);
        sin.sin_addr.s_addr = inet_addr("198.51.100.3");
        display_from(&sin);
        display_from(nullptr);
        return out + "\n" + capture.text();
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "<10.0.0.5:9000> <0.0.0.0:9000> 10.0.0 node7.example.org "
        "1:<10.0.0.5:9001> 0 0:<192.0.2.9:7> far node7.example.org <null> 10-101 "
        "<10.0.0.5:9123> 10.0.0.5 <null>\n"
        "failed getsockname(-1): Bad file descriptor\n"
        "from node7.example.org, port 7\n"
        "from (198.51.100.3), port 7\n"
        "from NULL source\n",
        r.out);
}

TEST_F(HostIdentityTest, OutgoingAddressAttributesNameTheConnection) {
    ChildResult r = OnHost("node7", "10.0.0.5 node7\n", [] {
        AddressedStream stream("192.0.2.99");
        std::string out;
        auto convert = [&](const char *attr, const char *expr) {
            char *text = strdup(expr);
            ConvertDefaultIPToSocketIP(attr, &text, stream);
            out += std::string(text) + "\n";
            free(text);
        };
        convert("StartdIpAddr", "\"<10.0.0.5:9618>\" || \"<10.0.0.5:1>\"");
        convert("MyAddress", "\"<10.0.0.5:9618>\"");
        convert("myaddress", "\"<10.0.0.5:9618>\"");
        convert("IPADDR", "\"<10.0.0.5:9618>\"");
        convert("ClaimId", "\"<10.0.0.55:9618>#1\"");  // another address, left alone
        convert("ClaimId", "\"<10.0.0.55:1> <10.0.0.5:2>\"");
        char *fresh = reinterpret_cast<char *>(1);
        ConvertDefaultIPToSocketIP("Name", "10.0.0.5", &fresh, stream);
        out += fresh == nullptr ? "null\n" : "set\n";
        AddressedStream loop("127.0.0.1");
        ConvertDefaultIPToSocketIP("MyAddress", "10.0.0.5", &fresh, loop);
        out += fresh == nullptr ? "null\n" : "set\n";
        // An ad sent first where nothing is rewritten keeps its texts; the
        // next stream that rewrites still rewrites them.
        ClassAd ad;
        ad.Insert("MyAddress = \"<10.0.0.5:9618>\"", true);
        for (Stream *s : {static_cast<Stream *>(&loop), static_cast<Stream *>(&stream)}) {
            if (!ad.put(*s)) return std::string("put failed");
            s->decode();
            ClassAd back;
            if (!back.initFromStream(*s)) return std::string("read failed");
            char *text = back.sPrintExpr(nullptr, 0, "MyAddress");
            out += std::string(text) + "\n";
            free(text);
        }
        return out;
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "\"<192.0.2.99:9618>\" || \"<10.0.0.5:1>\"\n"
        "\"<192.0.2.99:9618>\"\n"
        "\"<10.0.0.5:9618>\"\n"
        "\"<192.0.2.99:9618>\"\n"
        "\"<10.0.0.55:9618>#1\"\n"
        "\"<10.0.0.55:1> <192.0.2.99:2>\"\n"
        "null\nnull\n"
        "MyAddress = \"<10.0.0.5:9618>\"\n"
        "MyAddress = \"<192.0.2.99:9618>\"\n",
        r.out);
}

}  // namespace
