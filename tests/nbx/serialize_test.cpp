// Tests of the hand-over record: the exact text written for each kind of
// entry, the records that cannot be written, and reading records back into
// a table (real sockets, since the reader checks every descriptor it
// takes). Each test runs in a fresh child with its own table.
#include <arpa/inet.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/generic_log.h"
#include "nbx/inherit.h"
#include "nbx/sock_table.h"
#include "tests/nbx/nbx_test_support.h"

namespace {

using nbx_test::AddConn;
using nbx_test::Addr;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RawSocket;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;

std::string Serialized(int fd) {
    char out[CB_SOCK_RECORD_SIZE];
    if (_CB_serializeSock(fd, _CB_fdInfo[fd].info, out) != 0) return "<failed>";
    return out;
}

// Takes fd's entry out of the table without closing fd, as if the record
// had come from another program.
void Forget(int fd) {
    SockInfo *info = _CB_fdInfo[fd].info;
    for (int i = 0; i < _CB_maxfd; ++i) {
        if (_CB_fdInfo[i].info == info) _CB_fdInfo[i] = FdInfo{NOT_DEFINED, nullptr};
    }
    _CB_freeSockInfo(info);
    _CB_maxfd = 0;
}

TEST(SerializeTest, ListeningOwnerWithQueueIsWrittenExactly) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        SockInfo *info = NewRecord(5, TCP, LISTENING, ACTIVE);
        info->manager = 6;
        info->canon = Addr("192.0.2.7", 40001);
        info->phyAddr = Addr("10.0.0.3", 40000);
        AddConn(info, 8, Addr("198.51.100.2", 1234));
        AddConn(info, 9, Addr("198.51.100.9", 1022));
        CHILD_EXPECT_EQ(r,
                        std::string("5#6#T#<192.0.2.7:40001>##a#L#<10.0.0.3:40000>#"
                                    "8|<198.51.100.2:1234>*9|<198.51.100.9:1022>"),
                        Serialized(5));
        // A further descriptor of the same socket names its owner.
        _CB_fdInfo[7] = FdInfo{TCP, info};
        CHILD_EXPECT_EQ(r, std::string("7#!5"), Serialized(7));
    });
    EXPECT_EQ(failures, "");
}

TEST(SerializeTest, UdpPeerModesAndEveryStatusLetter) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        SockInfo *info = NewRecord(4, UDP, CONNECTED);
        info->connected = static_cast<CBAddr *>(malloc(sizeof(CBAddr)));
        *info->connected = Addr("127.0.0.1", 9);
        CHILD_EXPECT_EQ(r, std::string("4#-1#U#<0.0.0.0:0>#<127.0.0.1:9>#p#C#<0.0.0.0:0>#"),
                        Serialized(4));
        info->mode = 'x';
        CHILD_EXPECT_EQ(r, 'n', Serialized(4)[33]);
        const struct {
            int status;
            char letter;
        } letters[] = {{CREATED, 'N'},   {BOUND, 'B'},
                       {LISTENING, 'L'}, {PASSIVE_CONNECTING, 'P'},
                       {CONNECTED, 'C'}, {CONN_FAILED, 'F'}};
        info->mode = ACTIVE;
        for (const auto &entry : letters) {
            info->status = entry.status;
            CHILD_EXPECT_EQ(r, entry.letter, Serialized(4)[35]);
        }
    });
    EXPECT_EQ(failures, "");
}

TEST(SerializeTest, UnwritableStatusesAndTypesFail) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        SockInfo *info = NewRecord(4, TCP, NONE);
        CHILD_EXPECT_EQ(r, std::string("<failed>"), Serialized(4));
        info->status = ACTIVE_CONNECTING;
        CHILD_EXPECT_EQ(r, std::string("<failed>"), Serialized(4));
        info->status = CREATED;
        _CB_fdInfo[4].type = MANAGER;
        CHILD_EXPECT_EQ(r, std::string("<failed>"), Serialized(4));
    });
    EXPECT_EQ(failures, "");
}

TEST(SerializeTest, RecordLongerThanItsBufferFailsInsteadOfBeingCut) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        SockInfo *info = NewRecord(12, TCP, LISTENING);
        info->canon = Addr("198.51.100.200", 65000);
        info->phyAddr = Addr("198.51.100.200", 65001);
        for (int i = 0; i < 4; ++i) AddConn(info, 20 + i, Addr("198.51.100.201", 65002));
        std::string fits = Serialized(12);
        CHILD_EXPECT(r, fits != "<failed>" && fits.size() < CB_SOCK_RECORD_SIZE);
        for (int i = 4; i < 6; ++i) AddConn(info, 20 + i, Addr("198.51.100.201", 65002));
        CHILD_EXPECT_EQ(r, std::string("<failed>"), Serialized(12));
    });
    EXPECT_EQ(failures, "");
}

TEST(UnserializeTest, RecordsComeBackAsTheyWere) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int listener = RawSocket(SOCK_STREAM);
        int manager = RawSocket(SOCK_STREAM);
        int queued = RawSocket(SOCK_STREAM);
        int copy = dup(listener);
        SockInfo *info = NewRecord(listener, TCP, LISTENING, ACTIVE);
        info->manager = manager;
        info->canon = Addr("192.0.2.7", 40001);
        info->phyAddr = Addr("10.0.0.3", 40000);
        AddConn(info, queued, Addr("198.51.100.2", 1234));
        std::string owner_text = Serialized(listener);
        std::string copy_text = std::to_string(copy) + "#!" + std::to_string(listener);
        Forget(listener);

        int fd = -1;
        SockInfo *back = _CB_unserializeSock(owner_text.c_str(), &fd);
        CHILD_EXPECT(r, back != nullptr);
        if (back == nullptr) return;
        CHILD_EXPECT_EQ(r, listener, fd);
        CHILD_EXPECT_EQ(r, static_cast<int>(TCP), _CB_fdInfo[listener].type);
        CHILD_EXPECT_EQ(r, static_cast<int>(MANAGER), _CB_fdInfo[manager].type);
        CHILD_EXPECT_EQ(r, back, _CB_fdInfo[manager].info);
        CHILD_EXPECT_EQ(r, manager, back->manager);
        CHILD_EXPECT_EQ(r, 1u, back->refs);
        CHILD_EXPECT_EQ(r, static_cast<int>(LISTENING), back->status);
        CHILD_EXPECT_EQ(r, 'A', back->mode);
        CHILD_EXPECT(r, back->conn_q_head != nullptr && back->conn_q_head->fd == queued);
        CHILD_EXPECT_EQ(r, owner_text, Serialized(listener));
        CHILD_EXPECT_EQ(r, manager + 1, _CB_maxfd);

        SockInfo *same = _CB_unserializeSock(copy_text.c_str(), &fd);
        CHILD_EXPECT_EQ(r, back, same);
        CHILD_EXPECT_EQ(r, copy, fd);
        CHILD_EXPECT_EQ(r, 2u, back->refs);
        CHILD_EXPECT_EQ(r, copy + 1 > manager + 1 ? copy + 1 : manager + 1, _CB_maxfd);
    });
    EXPECT_EQ(failures, "");
}

// One malformed or unsafe record per case: the reader refuses it, logs
// why, and leaves the table untouched.
struct BadRecord {
    const char *name;
    std::string (*text)(int tcp, int udp, int other);
    const char *logged;
};

std::string Owner(int fd, const char *rest) {
    return std::to_string(fd) + rest;
}
const char kTail[] = "#-1#T#<127.0.0.1:1>##p#B#<127.0.0.1:1>#";

const BadRecord kBadRecords[] = {
    {"empty", [](int, int, int) { return std::string(); }, "invalid string"},
    {"garbage", [](int, int, int) { return std::string("hello#world"); }, "invalid string"},
    {"negative fd", [](int, int, int) { return Owner(-3, kTail); }, "invalid string"},
    {"huge fd", [](int, int, int) { return std::string("99999999999999999999") + kTail; },
     "invalid string"},
    {"fd beyond table", [](int, int, int) { return Owner(_NBX_max_no_fds, kTail); },
     "outside the table"},
    {"fd not open", [](int, int, int) { return Owner(_NBX_max_no_fds - 1, kTail); },
     "is not an open, unmanaged TCP socket"},
    {"fd is a file", [](int, int, int file) { return Owner(file, kTail); },
     "is not an open, unmanaged TCP socket"},
    {"udp named tcp", [](int, int udp, int) { return Owner(udp, kTail); },
     "is not an open, unmanaged TCP socket"},
    {"tcp named udp",
     [](int tcp, int, int) { return Owner(tcp, "#-1#U#<127.0.0.1:1>##p#B#<127.0.0.1:1>#"); },
     "is not an open, unmanaged UDP socket"},
    {"unknown type letter",
     [](int tcp, int, int) { return Owner(tcp, "#-1#Z#<127.0.0.1:1>##p#B#<127.0.0.1:1>#"); },
     "invalid string"},
    {"manager is a file",
     [](int tcp, int, int file) {
         return Owner(
             tcp, ("#" + std::to_string(file) + "#T#<127.0.0.1:1>##p#B#<127.0.0.1:1>#").c_str());
     },
     "manager"},
    {"manager is the socket",
     [](int tcp, int, int) {
         return Owner(tcp,
                      ("#" + std::to_string(tcp) + "#T#<127.0.0.1:1>##p#B#<127.0.0.1:1>#").c_str());
     },
     "manager"},
    {"manager below minus two",
     [](int tcp, int, int) { return Owner(tcp, "#-3#T#<127.0.0.1:1>##p#B#<127.0.0.1:1>#"); },
     "manager"},
    {"octet above 255",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<127.0.0.256:1>##p#B#<127.0.0.1:1>#"); },
     "failed to parse <cip:cport>"},
    {"port above 65535",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<127.0.0.1:65536>##p#B#<127.0.0.1:1>#"); },
     "failed to parse <cip:cport>"},
    {"host name",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<localhost:80>##p#B#<127.0.0.1:1>#"); },
     "failed to parse <cip:cport>"},
    {"bad peer",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<127.0.0.1:1>#<1.2.3>#p#B#<127.0.0.1:1>#"); },
     "failed to parse <peer>"},
    {"unknown status",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<127.0.0.1:1>##p#X#<127.0.0.1:1>#"); },
     "invalid string"},
    {"bad physical address",
     [](int tcp, int, int) { return Owner(tcp, "#-1#T#<127.0.0.1:1>##p#B#<127.0.0.1#"); },
     "failed to parse <cip:cport>"},
    {"queued file",
     [](int tcp, int, int file) {
         return Owner(tcp, kTail) + std::to_string(file) + "|<127.0.0.1:2>";
     },
     "unserializeConns: fd"},
    {"queued socket itself",
     [](int tcp, int, int) { return Owner(tcp, kTail) + std::to_string(tcp) + "|<127.0.0.1:2>"; },
     "unserializeConns: fd"},
    {"address before descriptor",
     [](int tcp, int, int) { return Owner(tcp, kTail) + "<127.0.0.1:2>"; }, "at unexpected time"},
    {"descriptor without address",
     [](int tcp, int, int) { return Owner(tcp, kTail) + std::to_string(tcp + 100) + "|"; },
     "unserializeConns"},
    {"bad queued address",
     [](int tcp, int, int) { return Owner(tcp, kTail) + std::to_string(tcp + 100) + "|<1.2.3.4>"; },
     "unserializeConns"},
    {"alias of unknown owner",
     [](int tcp, int udp, int) { return Owner(udp > tcp ? udp : tcp, "#!1"); },
     "owns no CB_socket"},
    {"alias with trailing text", [](int tcp, int udp, int) { return Owner(udp, "#!0x"); },
     "invalid string"},
    {"record too long", [](int tcp, int, int) { return Owner(tcp, kTail) + std::string(300, '1'); },
     "record longer than"},
};

class BadRecordTest : public testing::TestWithParam<BadRecord> {};

TEST_P(BadRecordTest, IsRefusedWithoutTouchingTheTable) {
    BadRecord bad = GetParam();
    std::string failures = RunInChild([&](ChildReport &r) {
        _CB_initialize();
        int tcp = RawSocket(SOCK_STREAM);
        int udp = RawSocket(SOCK_DGRAM);
        int file = open("/dev/null", O_RDONLY);
        std::string text = bad.text(tcp, udp, file);
        StartLogCapture();
        int fd = -7;
        CHILD_EXPECT(r, _CB_unserializeSock(text.c_str(), &fd) == nullptr);
        CHILD_EXPECT_EQ(r, -7, fd);
        CHILD_EXPECT_EQ(r, 0, _CB_maxfd);
        for (int i = 0; i < _NBX_max_no_fds; ++i) {
            if (_CB_fdInfo[i].type != NOT_DEFINED || _CB_fdInfo[i].info != nullptr) {
                r.Fail(__LINE__, "entry " + std::to_string(i) + " was set");
                break;
            }
        }
        CHILD_EXPECT(r, WasLogged(bad.logged));
        CHILD_EXPECT(r, WasLogged("ERROR"));
    });
    EXPECT_EQ(failures, "") << bad.name;
}

INSTANTIATE_TEST_SUITE_P(Hostile, BadRecordTest, testing::ValuesIn(kBadRecords),
                         [](const testing::TestParamInfo<BadRecord> &info) {
                             std::string name = info.param.name;
                             for (char &c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(UnserializeTest, AliasMustShareTheOwnersSocket) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int owner = RawSocket(SOCK_STREAM);
        int stranger = RawSocket(SOCK_STREAM);
        int fd = -1;
        std::string text = Owner(owner, kTail);
        CHILD_EXPECT(r, _CB_unserializeSock(text.c_str(), &fd) != nullptr);
        StartLogCapture();
        text = std::to_string(stranger) + "#!" + std::to_string(owner);
        CHILD_EXPECT(r, _CB_unserializeSock(text.c_str(), &fd) == nullptr);
        CHILD_EXPECT(r, WasLogged("shared with fd"));
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[stranger].type);
        CHILD_EXPECT_EQ(r, 1u, _CB_fdInfo[owner].info->refs);
        // A descriptor the table already manages is never taken twice.
        text = Owner(owner, kTail);
        CHILD_EXPECT(r, _CB_unserializeSock(text.c_str(), &fd) == nullptr);
        CHILD_EXPECT_EQ(r, 1u, _CB_fdInfo[owner].info->refs);
    });
    EXPECT_EQ(failures, "");
}

TEST(UnserializeTest, QueueEntriesMustBeComplete) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int owner = RawSocket(SOCK_STREAM);
        int queued = RawSocket(SOCK_STREAM);
        std::string head = Owner(owner, kTail) + std::to_string(queued);
        const struct {
            std::string text;
            const char *logged;
        } cases[] = {
            {head + "|", "unserializeConns: incomplete conns"},
            {head + "|<1.2.3.4>", "failed to parse <ip:port> of conn, token: '<1.2.3.4>'"},
            {head + "|" + std::to_string(queued) + "|<1.2.3.4:5>",
             "unserializeConns: incomplete conns"},
            {head + "|<1.2.3.4:5>*" + std::to_string(queued) + "|<1.2.3.4:6>",
             "unserializeConns: fd"},
            {head + "|<1.2.3.4:5>*x", "unserializeConns: invalid token 'x'"},
        };
        for (const auto &c : cases) {
            StartLogCapture();
            int fd = -1;
            CHILD_EXPECT(r, _CB_unserializeSock(c.text.c_str(), &fd) == nullptr);
            CHILD_EXPECT(r, WasLogged(c.logged));
            CHILD_EXPECT(r, WasLogged("unserializeConns failed"));
            CHILD_EXPECT_EQ(r, 0, _CB_maxfd);
        }
        int fd = -1;
        std::string good = head + "|<1.2.3.4:5>";
        CHILD_EXPECT(r, _CB_unserializeSock(good.c_str(), &fd) != nullptr);
        CHILD_EXPECT(r, _CB_isHiddenFd(queued));
    });
    EXPECT_EQ(failures, "");
}

TEST(UnserializeTest, UnixSocketIsNotTakenAsTcp) {
    std::string failures = RunInChild([](ChildReport &r) {
        _CB_initialize();
        int unix_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        int fd = -1;
        std::string text = Owner(unix_fd, kTail);
        CHILD_EXPECT(r, _CB_unserializeSock(text.c_str(), &fd) == nullptr);
        CHILD_EXPECT_EQ(r, static_cast<int>(NOT_DEFINED), _CB_fdInfo[unix_fd].type);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
