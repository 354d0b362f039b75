// Tests of the brokered socket calls that answer from the socket table or
// wait in the layer's select: getsockname and getsockopt of brokered and
// manager descriptors, blocking and non-blocking sends and receives on
// brokered TCP sockets over 127.0.0.1, and the blocking test itself. Each
// body runs in a fresh child (the table cannot be reset).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_fake.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/wait_for.h"

namespace {

using brokered_test::StartBrokeredLayer;
using nbx_test::Addr;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RawSocket;
using nbx_test::RunInChild;
using nbx_test::WasLogged;

const int kSentinel = 515151;

// The system calls a blocking receive of the layer waits in.
const std::initializer_list<long> kWaits = {SYS_select, SYS_pselect6, SYS_poll, SYS_ppoll,
                                            SYS_recvfrom};

// A brokered TCP socket connected to a plain listener on 127.0.0.1, and the
// listener's accepted end of the connection.
struct BrokeredPair {
    int brokered = -1;
    int peer = -1;
};

BrokeredPair ConnectBrokered() {
    BrokeredPair pair;
    int listener = RawSocket(SOCK_STREAM);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    __real_bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    __real_getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    __real_listen(listener, 1);
    pair.brokered = NBX_socket(AF_INET, SOCK_STREAM, 0);
    NBX_connect(pair.brokered, reinterpret_cast<sockaddr *>(&address), sizeof address);
    pair.peer = __real_accept(listener, nullptr, nullptr);
    __real_close(listener);
    return pair;
}

// The mode records whether a broker was configured when the socket was
// made; a broker address that is one of this host's own counts as none.
TEST(SocketTest, ModeFollowsTheBrokerConfiguredAtCreation) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int plain = NBX_socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, static_cast<int>(PASSIVE),
                        static_cast<int>(_CB_fdInfo[plain].info->mode));
        setenv("NBX_INAGENT", "192.0.2.1", 1);
        int brokered = NBX_socket(AF_INET, SOCK_DGRAM, 0);
        CHILD_EXPECT_EQ(r, UDP, _CB_fdInfo[brokered].type);
        CHILD_EXPECT_EQ(r, static_cast<int>(ACTIVE),
                        static_cast<int>(_CB_fdInfo[brokered].info->mode));
        CHILD_EXPECT_EQ(r, static_cast<int>(CREATED), _CB_fdInfo[brokered].info->status);
        setenv("NBX_INAGENT", "127.0.0.1", 1);
        int local = NBX_socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, static_cast<int>(PASSIVE),
                        static_cast<int>(_CB_fdInfo[local].info->mode));
        int unix_fd = NBX_socket(AF_UNIX, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, NOT_DEFINED, _CB_fdInfo[unix_fd].type);
        CHILD_EXPECT(r, WasLogged("NBX_socket(NOT_DEFINED): socket() returned fd " +
                                  std::to_string(unix_fd) + "\n"));
        CHILD_EXPECT(r, WasLogged("NBX_socket(fd = " + std::to_string(brokered) + ", UDP)\n"));
    });
    EXPECT_EQ(failures, "");
}

TEST(SocketNameTest, BrokeredSocketAnswersWithItsCanonicalAddress) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        CHILD_EXPECT_EQ(r, TCP, _CB_fdInfo[fd].type);
        _CB_fdInfo[fd].info->canon = Addr("192.0.2.7", 4711);
        sockaddr_in name;
        memset(&name, 0xff, sizeof name);
        socklen_t length = sizeof name;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockname(fd, reinterpret_cast<sockaddr *>(&name), &length));
        CHILD_EXPECT_EQ(r, 16, static_cast<int>(length));
        CHILD_EXPECT_EQ(r, AF_INET, static_cast<int>(name.sin_family));
        CHILD_EXPECT_EQ(r, 4711, static_cast<int>(ntohs(name.sin_port)));
        CHILD_EXPECT_EQ(r, std::string("192.0.2.7"), std::string(inet_ntoa(name.sin_addr)));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);

        // A short buffer gets the leading bytes and the full length.
        unsigned char short_buffer[16];
        memset(short_buffer, 0xee, sizeof short_buffer);
        length = 4;
        CHILD_EXPECT_EQ(r, 0,
                        NBX_getsockname(fd, reinterpret_cast<sockaddr *>(short_buffer), &length));
        CHILD_EXPECT_EQ(r, 16, static_cast<int>(length));
        CHILD_EXPECT_EQ(r, 0xee, static_cast<int>(short_buffer[4]));
        uint16_t port_bytes;
        memcpy(&port_bytes, short_buffer + 2, 2);
        CHILD_EXPECT_EQ(r, 4711, static_cast<int>(ntohs(port_bytes)));
    });
    EXPECT_EQ(failures, "");
}

TEST(SocketNameTest, ManagerDescriptorIsRefused) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        int manager = RawSocket(SOCK_STREAM);
        _CB_fdInfo[manager].type = MANAGER;
        _CB_fdInfo[manager].info = _CB_fdInfo[fd].info;
        _CB_raisemaxfd(manager);
        sockaddr_in name;
        socklen_t length = sizeof name;
        CHILD_EXPECT_EQ(r, -1,
                        NBX_getsockname(manager, reinterpret_cast<sockaddr *>(&name), &length));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INTERNAL_SOCKET, _NBX_errno);
        CHILD_EXPECT(r, WasLogged("NBX_getsockname called for MANAGER\n"));
        int value = 0;
        length = sizeof value;
        CHILD_EXPECT_EQ(r, -1, NBX_getsockopt(manager, SOL_SOCKET, SO_ERROR, &value, &length));
        CHILD_EXPECT_EQ(r, NBX_ERRNO_INTERNAL_SOCKET, _NBX_errno);
        CHILD_EXPECT(r, WasLogged("NBX_getsockopt called for MANAGER\n"));
        // The manager connection is still open.
        CHILD_EXPECT(r, fcntl(manager, F_GETFD) >= 0);
    });
    EXPECT_EQ(failures, "");
}

TEST(SocketOptionTest, PendingErrorFollowsTheBrokeredStatus) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = NBX_socket(AF_INET, SOCK_STREAM, 0);
        SockInfo *info = _CB_fdInfo[fd].info;
        int value = -1;
        socklen_t length = sizeof value;

        info->status = PASSIVE_CONNECTING;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length));
        CHILD_EXPECT_EQ(r, EINPROGRESS, value);
        CHILD_EXPECT_EQ(r, 4, static_cast<int>(length));

        info->status = CONN_FAILED;
        info->error = EHOSTUNREACH;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length));
        CHILD_EXPECT_EQ(r, EHOSTUNREACH, value);

        info->error = 0;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length));
        CHILD_EXPECT_EQ(r, 111, value);
        CHILD_EXPECT(r,
                     WasLogged("NBX_getsockopt(" + std::to_string(fd) +
                               "): status is CONN_FAILED but errno = 0, returning ECONNREFUSED"));

        // Any other status asks the kernel, which has no error pending.
        info->status = CREATED;
        value = -1;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length));
        CHILD_EXPECT_EQ(r, 0, value);
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);

        // A two-byte buffer gets two bytes, never four.
        info->status = PASSIVE_CONNECTING;
        unsigned char small[4] = {0xee, 0xee, 0xee, 0xee};
        length = 2;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(fd, SOL_SOCKET, SO_ERROR, small, &length));
        CHILD_EXPECT_EQ(r, 2, static_cast<int>(length));
        CHILD_EXPECT_EQ(r, 0xee, static_cast<int>(small[2]));
    });
    EXPECT_EQ(failures, "");
}

TEST(BlockingTest, DontWaitAndNonBlockingDescriptorsMustNotBlock) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int fd = RawSocket(SOCK_STREAM);
        int status = -1;
        CHILD_EXPECT_EQ(r, 1, _NBX_is_blocking(fd, 0, &status));
        CHILD_EXPECT_EQ(r, 0, _NBX_is_blocking(fd, MSG_DONTWAIT, &status));
        fcntl(fd, F_SETFL, O_NONBLOCK);
        CHILD_EXPECT_EQ(r, 0, _NBX_is_blocking(fd, 0, &status));
        CHILD_EXPECT(r, (status & O_NONBLOCK) != 0);
        __real_close(fd);
        CHILD_EXPECT_EQ(r, -1, _NBX_is_blocking(fd, 0, &status));
        CHILD_EXPECT(
            r, WasLogged("_NBX_is_nonblocking: fcntl(" + std::to_string(fd) + ", F_GETFL) failed"));
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredTcpTest, SendWriteRecvAndReadCarryTheData) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        BrokeredPair pair = ConnectBrokered();
        CHILD_EXPECT_EQ(r, TCP, _CB_fdInfo[pair.brokered].type);
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(NBX_send(pair.brokered, "", 0, 0)));
        CHILD_EXPECT_EQ(r, 5, static_cast<int>(NBX_send(pair.brokered, "hello", 5, 0)));
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(NBX_write(pair.brokered, "!", 1)));
        CHILD_EXPECT(r, WasLogged("NBX_send (fd=" + std::to_string(pair.brokered) + ", size=5)\n"));
        CHILD_EXPECT(r, WasLogged("_NBX_nonblock_send: returning 5\n"));
        char text[8] = {0};
        CHILD_EXPECT_EQ(r, 6, static_cast<int>(__real_recv(pair.peer, text, 6, MSG_WAITALL)));
        CHILD_EXPECT_EQ(r, std::string("hello!"), std::string(text));

        __real_send(pair.peer, "abc", 3, 0);
        memset(text, 0, sizeof text);
        CHILD_EXPECT_EQ(r, 2, static_cast<int>(NBX_recv(pair.brokered, text, 2, 0)));
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(NBX_read(pair.brokered, text + 2, 4)));
        CHILD_EXPECT_EQ(r, std::string("abc"), std::string(text));
        CHILD_EXPECT(r, WasLogged("NBX_recv(" + std::to_string(pair.brokered) + "[NBX, TCP])\n"));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredTcpTest, BlockingReceiveWaitsForDataThenSeesTheEnd) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        BrokeredPair pair = ConnectBrokered();
        int peer = pair.peer;
        int brokered = pair.brokered;
        pid_t receiver = torvel_test::ThreadId();
        // The peer sends only once the receive waits, and ends the
        // connection only once the data is taken and the receive waits again.
        std::thread late_peer([peer, brokered, receiver] {
            torvel_test::WaitUntil([receiver] { return torvel_test::SleepsIn(receiver, kWaits); });
            long asleep = torvel_test::TimesAsleep(receiver);
            __real_send(peer, "late", 4, 0);
            torvel_test::WaitUntil([brokered, receiver, asleep] {
                int unread = -1;
                return ioctl(brokered, FIONREAD, &unread) == 0 && unread == 0 &&
                       torvel_test::TimesAsleep(receiver) > asleep &&
                       torvel_test::SleepsIn(receiver, kWaits);
            });
            __real_close(peer);
        });
        char text[8] = {0};
        CHILD_EXPECT_EQ(r, 4, static_cast<int>(NBX_recv(pair.brokered, text, sizeof text, 0)));
        CHILD_EXPECT_EQ(r, std::string("late"), std::string(text));
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(NBX_recv(pair.brokered, text, sizeof text, 0)));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        late_peer.join();
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredTcpTest, NonBlockingReceiveWithoutDataIsEagainAndNoLayerError) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        BrokeredPair pair = ConnectBrokered();
        char text[4];
        _NBX_errno = kSentinel;
        CHILD_EXPECT_EQ(r, -1, static_cast<int>(NBX_recv(pair.brokered, text, 4, MSG_DONTWAIT)));
        CHILD_EXPECT_EQ(r, EAGAIN, errno);
        CHILD_EXPECT_EQ(r, kSentinel, _NBX_errno);

        fcntl(pair.brokered, F_SETFL, O_NONBLOCK);
        CHILD_EXPECT_EQ(r, -1, static_cast<int>(NBX_read(pair.brokered, text, 4)));
        CHILD_EXPECT_EQ(r, EAGAIN, errno);
        CHILD_EXPECT(r, WasLogged("_NBX_nonblock_recvfrom: returning errno EAGAIN\n"));

        // A non-blocking write of a brokered socket is the system's write.
        CHILD_EXPECT_EQ(r, 2, static_cast<int>(NBX_write(pair.brokered, "ok", 2)));
        CHILD_EXPECT(r, WasLogged("NBX_write: returning 2\n"));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredTcpTest, ReceiveWithTimeLimitGivesUpWithEagain) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        BrokeredPair pair = ConnectBrokered();
        char text[4];
        timeval limit = {0, 50 * 1000};
        int status = 0;
        _NBX_is_blocking(pair.brokered, 0, &status);
        CHILD_EXPECT_EQ(
            r, -1, static_cast<int>(_NBX_nonblock_recv(pair.brokered, text, 4, 0, &limit, status)));
        CHILD_EXPECT_EQ(r, EAGAIN, errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(UnmanagedTest, WriteLeavesTheLayerErrorAloneAndErrorsKeepErrno) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int p[2];
        CHILD_EXPECT_EQ(r, 0, pipe(p));
        _NBX_errno = kSentinel;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(NBX_write(p[1], "x", 1)));
        CHILD_EXPECT_EQ(r, kSentinel, _NBX_errno);
        char c;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(NBX_read(p[0], &c, 1)));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        __real_close(p[1]);
        int fd = RawSocket(SOCK_STREAM);
        CHILD_EXPECT_EQ(r, -1, static_cast<int>(NBX_send(fd, "x", 1, 0)));
        CHILD_EXPECT(r, errno == EPIPE || errno == ENOTCONN);
        CHILD_EXPECT_EQ(r, NBX_ERRNO_SYSTEM, _NBX_errno);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
