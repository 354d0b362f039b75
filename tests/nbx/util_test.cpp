// Tests of the socket table's upkeep: the sinful text of addresses, the
// private-network test, the one-line record dump, the highest descriptor in
// use, hidden descriptors and releasing records. Everything that needs the
// table runs in a fresh child.
#include <arpa/inet.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of bytes in use (not every compiler ships
// the header declaring it).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#define TORVEL_HAVE_ALLOCATION_COUNTER 1
#else
#define TORVEL_HAVE_ALLOCATION_COUNTER 0
#endif

#include "gtest/gtest.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "net/nbx_address.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/etc_overlay.h"

namespace {

using nbx_test::AddConn;
using nbx_test::Addr;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RunInChild;

using torvel_test::LayerLogCapture;

// The log lines caught since LayerLogCapture::Start().
std::vector<std::string> &Lines() {
    return LayerLogCapture::Lines();
}

TEST(AddressTextTest, SinfulTextOfAddressAndPort) {
    CBAddr a = Addr("192.0.2.7", 40001);
    EXPECT_STREQ(_ipport2str(a.ip, a.port), "<192.0.2.7:40001>");
    CBAddr zero = Addr("0.0.0.0", 0);
    EXPECT_STREQ(_ipport2str(zero.ip, zero.port), "<0.0.0.0:0>");
    CBAddr top = Addr("255.255.255.255", 65535);
    EXPECT_STREQ(_ipport2str(top.ip, top.port), "<255.255.255.255:65535>");
}

TEST(AddressTextTest, DescriptorTextIsItsLocalAddress) {
    int bound = nbx_test::RawSocket(SOCK_DGRAM);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, __real_bind(bound, reinterpret_cast<sockaddr *>(&address), sizeof address));
    socklen_t length = sizeof address;
    ASSERT_EQ(0, __real_getsockname(bound, reinterpret_cast<sockaddr *>(&address), &length));
    EXPECT_EQ("<127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + ">",
              std::string(_fd2str(bound)));
    int unbound = nbx_test::RawSocket(SOCK_DGRAM);
    EXPECT_STREQ(_fd2str(unbound), "<0.0.0.0:0>");
    __real_close(bound);
    __real_close(unbound);
    EXPECT_STREQ(_fd2str(bound), "");
}

// Names of addresses come from the system's reverse lookup, here of a
// private /etc/hosts inside a private network (so no name server is asked
// about the address without a name).
TEST(AddressTextTest, ReverseNamesComeFromTheSystemsLookup) {
    std::string why;
    if (!torvel_test::EtcOverlay::Usable(&why)) GTEST_SKIP() << why;
    torvel_test::EtcOverlay etc;
    etc.SetEntry("hosts", "192.0.2.77", "192.0.2.77 tvt-named.example tvt-alias");
    etc.SetEntry("nsswitch.conf", "hosts", "hosts: files");
    std::string failures = RunInChild([&etc](ChildReport &r) {
        if (!etc.EnterInChild() || !broker_test::EnterPrivateNetwork().empty()) {
            r.Fail(__LINE__, "no private /etc and network");
            return;
        }
        sockaddr_in from;
        memset(&from, 0, sizeof from);
        from.sin_family = AF_INET;
        from.sin_port = htons(4000);
        from.sin_addr = broker_test::Ip("192.0.2.77");
        const char *name = _ip2host(from.sin_addr);
        CHILD_EXPECT_EQ(r, std::string("tvt-named.example"), std::string(name ? name : "<null>"));
        CHILD_EXPECT(r, _ip2host(broker_test::Ip("192.0.2.78")) == nullptr);

        broker_test::LogCapture log;
        _display_from(&from);
        CHILD_EXPECT_EQ(r, std::string("1:from tvt-named.example, port 4000\n"), log.Last());
        from.sin_addr = broker_test::Ip("192.0.2.78");
        _display_from(&from);
        CHILD_EXPECT_EQ(r, std::string("1:from (192.0.2.78), port 4000\n"), log.Last());
        errno = 0;
        _display_from(nullptr);
        CHILD_EXPECT_EQ(r, std::string("1:ERROR \"from NULL source\"\n"), log.Last());
    });
    EXPECT_EQ(failures, "");
}

TEST(AddressTextTest, PrivateNetworksAndTheirEdges) {
    struct Case {
        const char *ip;
        int expected;
    } cases[] = {
        {"10.0.0.0", 1},    {"10.255.255.255", 1},  {"9.255.255.255", 0},  {"11.0.0.0", 0},
        {"172.16.0.0", 1},  {"172.31.255.255", 1},  {"172.15.255.255", 0}, {"172.32.0.0", 0},
        {"192.168.0.0", 1}, {"192.168.255.255", 1}, {"192.169.0.0", 0},    {"192.167.255.255", 0},
        {"127.0.0.1", 0},   {"0.0.0.0", 0},
    };
    for (const Case &c : cases) {
        in_addr address;
        inet_pton(AF_INET, c.ip, &address);
        EXPECT_EQ(_priv_net(ntohl(address.s_addr)), c.expected) << c.ip;
    }
}

TEST(SockTableTest, DumpDescribesEveryField) {
    std::string failures = RunInChild([](ChildReport &report) {
        _CB_initialize();
        SockInfo *info = NewRecord(5, TCP, LISTENING, ACTIVE);
        info->manager = 6;
        info->refs = 2;
        info->canon = Addr("192.0.2.7", 40001);
        info->phyAddr = Addr("10.0.0.3", 40000);
        AddConn(info, 8, Addr("198.51.100.2", 1234));
        AddConn(info, 9, Addr("198.51.100.9", 1022));
        LayerLogCapture::Start();
        _CB_dumpSockInfo(info, D_FULL, "\t[fd=5] ");
        CHILD_EXPECT_EQ(report, 1u, Lines().size());
        CHILD_EXPECT_EQ(report,
                        std::string("8192:\t[fd=5] refs=2 owner=5 mnger=6 "
                                    "canon=<192.0.2.7:40001> TCP ACTIVE LISTENING "
                                    "phyAddr=<10.0.0.3:40000> "
                                    "conn_q:8|<198.51.100.2:1234>*9|<198.51.100.9:1022> "
                                    "Rcvers:Empty\n"),
                        Lines().empty() ? std::string() : Lines()[0]);
    });
    EXPECT_EQ(failures, "");
}

TEST(SockTableTest, DumpOfUdpPeerReceiversAndInvalidStatus) {
    std::string failures = RunInChild([](ChildReport &report) {
        _CB_initialize();
        SockInfo *info = NewRecord(4, UDP, ACTIVE_CONNECTING);
        info->connected = static_cast<CBAddr *>(malloc(sizeof(CBAddr)));
        *info->connected = Addr("127.0.0.1", 9);
        for (int port : {1, 2}) {
            CBRcver *r = static_cast<CBRcver *>(calloc(1, sizeof(CBRcver)));
            r->canon = Addr("192.0.2.1", port);
            r->next = info->rcvers;
            info->rcvers = r;
        }
        LayerLogCapture::Start();
        _CB_dumpSockInfo(info, D_BASIC, "");
        CHILD_EXPECT_EQ(report,
                        std::string("1:refs=1 owner=4 mnger=-1 canon=<0.0.0.0:0> UDP "
                                    "PASSIVE Invalid phyAddr=<0.0.0.0:0> "
                                    "connected=<127.0.0.1:9> conn_q:Empty "
                                    "Rcvers:<192.0.2.1:2>*<192.0.2.1:1>\n"),
                        Lines().empty() ? std::string() : Lines()[0]);
    });
    EXPECT_EQ(failures, "");
}

TEST(SockTableTest, LongQueueIsCutWithEllipsis) {
    std::string failures = RunInChild([](ChildReport &report) {
        _CB_initialize();
        SockInfo *info = NewRecord(3, TCP, LISTENING);
        for (int i = 0; i < 60; ++i) AddConn(info, 100 + i, Addr("198.51.100.200", 65000));
        LayerLogCapture::Start();
        _CB_dumpSockInfo(info, D_FULL, "");
        CHILD_EXPECT_EQ(report, 1u, Lines().size());
        if (Lines().empty()) return;
        const std::string &line = Lines()[0];
        CHILD_EXPECT(report, line.size() > 995 && line.size() < 1100);
        CHILD_EXPECT_EQ(report, std::string("*...\n"), line.substr(line.size() - 5));
        CHILD_EXPECT(report, line.find("Rcvers") == std::string::npos);
    });
    EXPECT_EQ(failures, "");
}

TEST(SockTableTest, SetMaxFdFindsTheHighestEntryLeft) {
    std::string failures = RunInChild([](ChildReport &report) {
        _CB_initialize();
        CHILD_EXPECT_EQ(report, 0, _CB_maxfd);
        NewRecord(3, TCP, CREATED);
        SockInfo *high = NewRecord(9, UDP, CREATED);
        _CB_fdInfo[7].type = MANAGER;
        _CB_fdInfo[7].info = high;
        CHILD_EXPECT_EQ(report, 10, _CB_maxfd);
        _CB_fdInfo[9] = FdInfo{NOT_DEFINED, nullptr};
        _CB_setmaxfd(9);
        CHILD_EXPECT_EQ(report, 8, _CB_maxfd);  // a manager entry counts
        _CB_fdInfo[7] = FdInfo{NOT_DEFINED, nullptr};
        _CB_setmaxfd(7);
        CHILD_EXPECT_EQ(report, 4, _CB_maxfd);
        _Broker_down_since = 1234;
        _CB_fdInfo[3] = FdInfo{NOT_DEFINED, nullptr};
        _CB_setmaxfd(3);
        CHILD_EXPECT_EQ(report, 0, _CB_maxfd);
        CHILD_EXPECT_EQ(report, 0, static_cast<int>(_Broker_down_since));
    });
    EXPECT_EQ(failures, "");
}

TEST(SockTableTest, QueuedDescriptorsAreHidden) {
    std::string failures = RunInChild([](ChildReport &report) {
        _CB_initialize();
        SockInfo *info = NewRecord(3, TCP, LISTENING);
        AddConn(info, 11, Addr("127.0.0.1", 5000));
        AddConn(info, 12, Addr("127.0.0.1", 5001));
        CHILD_EXPECT(report, _CB_isHiddenFd(11));
        CHILD_EXPECT(report, _CB_isHiddenFd(12));
        CHILD_EXPECT(report, !_CB_isHiddenFd(3));
        CHILD_EXPECT(report, !_CB_isHiddenFd(13));
    });
    EXPECT_EQ(failures, "");
}

// Needs the sanitizer's allocation counter to see what was released.
TEST(SockTableTest, FreeReleasesEveryList) {
#if TORVEL_HAVE_ALLOCATION_COUNTER
    size_t before = __sanitizer_get_current_allocated_bytes();
    SockInfo *info = static_cast<SockInfo *>(calloc(1, sizeof(SockInfo)));
    AddConn(info, 8, Addr("127.0.0.1", 1));
    AddConn(info, 9, Addr("127.0.0.1", 2));
    info->rcvers = static_cast<CBRcver *>(calloc(1, sizeof(CBRcver)));
    for (int i = 0; i < 2; ++i) {
        CBDatagram *d = static_cast<CBDatagram *>(calloc(1, sizeof(CBDatagram)));
        d->data = static_cast<char *>(malloc(16));
        d->size = 16;
        if (info->rcv_buf_tail == nullptr) {
            info->rcv_buf_head = d;
        } else {
            info->rcv_buf_tail->next = d;
        }
        info->rcv_buf_tail = d;
    }
    info->connected = static_cast<CBAddr *>(malloc(sizeof(CBAddr)));
    EXPECT_GT(__sanitizer_get_current_allocated_bytes(), before);
    _CB_freeSockInfo(info);
    _CB_freeSockInfo(nullptr);
    EXPECT_EQ(__sanitizer_get_current_allocated_bytes(), before);
#else
    GTEST_SKIP() << "needs the sanitizer build's allocation counter";
#endif
}

TEST(SockTableTest, BrokerDownHandlerIsRecorded) {
    std::string failures = RunInChild([](ChildReport &report) {
        _Broker_down_since = 99;
        NBX_Broker_down_callback_set(nullptr, 30);
        CHILD_EXPECT_EQ(report, 0, static_cast<int>(_Broker_down_since));
        CHILD_EXPECT_EQ(report, 30, _Broker_down_max);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
