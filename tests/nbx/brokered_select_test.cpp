// Tests of the brokered select and the event handling it drives: readiness
// of brokered sockets as the application sees it, zero time-outs, broker
// commands and late answers on manager connections (socket pairs stand in
// for the relay), heartbeats and receiver flushes on their schedule (time
// stamps set back, never slept through), loss and recovery of a manager
// connection against a fake broker in a private network, the application's
// broker-down handler, and passive and non-blocking connects finishing.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "nbx/async_event.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_fake.h"
#include "tests/nbx/nbx_test_support.h"

namespace {

using broker_test::Hex;
using brokered_test::Address;
using brokered_test::BrokerAndRelay;
using brokered_test::Field;
using brokered_test::InTestNetwork;
using brokered_test::Message;
using brokered_test::PlainSocket;
using brokered_test::Readable;
using brokered_test::Sa;
using brokered_test::ScriptedServer;
using brokered_test::StartBrokeredLayer;
using brokered_test::Step;
using nbx_test::ChildReport;
using nbx_test::NewRecord;
using nbx_test::RunInChild;
using nbx_test::StartLogCapture;
using nbx_test::WasLogged;

// A record for an open plain socket with a socket pair as its manager
// connection; *relay is the broker's end.
SockInfo *WithManager(int fd, int type, int status, int *relay) {
    SockInfo *info = NewRecord(fd, type, status, ACTIVE);
    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    info->manager = pair[0];
    _CB_fdInfo[pair[0]].type = MANAGER;
    _CB_fdInfo[pair[0]].info = info;
    _CB_raisemaxfd(pair[0]);
    *relay = pair[1];
    return info;
}

int SelectOnce(int fd, bool for_read, long micros) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval timeout = {micros / 1000000, micros % 1000000};
    int ready = for_read ? NBX_select(fd + 1, &set, nullptr, nullptr, &timeout)
                         : NBX_select(fd + 1, nullptr, &set, nullptr, &timeout);
    return ready > 0 && FD_ISSET(fd, &set) ? 1 : ready;
}

std::string ReadAvailable(int fd) {
    std::string got;
    char buffer[64];
    while (Readable(fd, 200)) {
        ssize_t n = __real_read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// A brokered listening socket is readable once the layer has queued a
// connection, and the queued connection is what accept hands out.
TEST(BrokeredSelectTest, ListeningSocketIsReadableOnlyWithAQueuedConnection) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        SockInfo *info = NewRecord(listener, TCP, LISTENING);
        CHILD_EXPECT_EQ(r, 0, SelectOnce(listener, true, 0));

        int client = __real_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Address("127.0.0.1", port);
        CHILD_EXPECT_EQ(r, 0, __real_connect(client, Sa(&to), sizeof to));
        CHILD_EXPECT_EQ(r, 1, SelectOnce(listener, true, 2000000));
        CHILD_EXPECT(r, info->conn_q_head != nullptr);
        CHILD_EXPECT(r, WasLogged("handleListeners: "));

        int accepted = NBX_accept(listener, nullptr, nullptr);
        CHILD_EXPECT(r, accepted >= 0);
        CHILD_EXPECT(r, info->conn_q_head == nullptr);
        __real_write(client, "x", 1);
        char c = 0;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(__real_read(accepted, &c, 1)));
        CHILD_EXPECT_EQ(r, 0, SelectOnce(listener, true, 0));
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredSelectTest, ZeroTimeoutRunsOnePassAndReturnsAtOnce) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int p[2];
        CHILD_EXPECT_EQ(r, 0, pipe(p));
        time_t start = time(nullptr);
        CHILD_EXPECT_EQ(r, 0, SelectOnce(p[0], true, 0));
        CHILD_EXPECT(r, time(nullptr) - start <= 1);
        __real_write(p[1], "z", 1);
        _NBX_errno = 4711;
        CHILD_EXPECT_EQ(r, 1, SelectOnce(p[0], true, 0));
        CHILD_EXPECT_EQ(r, 0, _NBX_errno);
        CHILD_EXPECT(r, _CB_lastCheck >= start);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredSelectTest, UdpSocketIsNeverWritableAndManagerNeverReported) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int udp = PlainSocket(SOCK_DGRAM, "127.0.0.1", &port);
        NewRecord(udp, UDP, BOUND);
        CHILD_EXPECT_EQ(r, 0, SelectOnce(udp, false, 0));
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        int relay = -1;
        SockInfo *info = WithManager(tcp, TCP, BOUND, &relay);
        __real_write(relay, Message('M', "").data(), 3);  // a late ACK
        CHILD_EXPECT_EQ(r, 0, SelectOnce(info->manager, true, 0));
        CHILD_EXPECT(r, WasLogged("Delayed synchronous msg received. Ignored\n"));
        CHILD_EXPECT(r, info->manager >= 0);
        CHILD_EXPECT_EQ(r, MANAGER, _CB_fdInfo[info->manager].type);
    });
    EXPECT_EQ(failures, "");
}

// The heartbeat goes out after more than 40 seconds, not before; the first
// one also forgets UDP receivers once 250 seconds have passed.
TEST(BrokeredSelectTest, HeartbeatIsSentOnScheduleAndReceiversAreFlushed) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        int relay = -1;
        WithManager(tcp, TCP, BOUND, &relay);
        int port = 0;
        int udp = PlainSocket(SOCK_DGRAM, "127.0.0.1", &port);
        SockInfo *udp_info = NewRecord(udp, UDP, BOUND);
        _CB_addRcvr(udp_info, broker_test::Ip("192.0.2.9"), htons(9), broker_test::Ip("10.0.0.9"),
                    htons(9));
        int p[2];
        pipe(p);

        // Margins of a few seconds keep a clock tick from changing the outcome.
        time_t now = time(nullptr);
        _CB_lastHeartBeat = now - 37;
        SelectOnce(p[0], true, 0);
        CHILD_EXPECT_EQ(r, std::string(""), ReadAvailable(relay));

        _CB_lastHeartBeat = now - 41;
        _CB_lastFlush = now - 245;
        SelectOnce(p[0], true, 0);
        CHILD_EXPECT_EQ(r, std::string("00 03 59"), Hex(ReadAvailable(relay).data(), 3));
        CHILD_EXPECT(r, _CB_lastHeartBeat >= now);
        CHILD_EXPECT(r, udp_info->rcvers != nullptr);

        _CB_lastHeartBeat = now - 41;
        _CB_lastFlush = now - 251;
        SelectOnce(p[0], true, 0);
        CHILD_EXPECT_EQ(r, 3, static_cast<int>(ReadAvailable(relay).size()));
        CHILD_EXPECT(r, udp_info->rcvers == nullptr);
        CHILD_EXPECT(r, _CB_lastFlush >= now);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredSelectTest, ClosedManagerConnectionMarksTheSocketForRecovery) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        int relay = -1;
        SockInfo *info = WithManager(tcp, TCP, BOUND, &relay);
        int manager = info->manager;
        __real_close(relay);
        time_t before = time(nullptr);
        CHILD_EXPECT_EQ(r, 0, SelectOnce(manager, true, 0));
        CHILD_EXPECT_EQ(r, static_cast<int>(NEED_RECOVER), info->manager);
        CHILD_EXPECT_EQ(r, NOT_DEFINED, _CB_fdInfo[manager].type);
        CHILD_EXPECT(r, fcntl(manager, F_GETFD) < 0);
        CHILD_EXPECT(r, _Broker_down_since >= before);
        CHILD_EXPECT(r, WasLogged("_CBrecv failed"));

        // Recovery waits more than 15 seconds after the broker went down.
        _Broker_down_since = time(nullptr) - 10;
        SelectOnce(tcp, true, 0);
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(_CB_lastRecovery));
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredSelectTest, RecoveryRegistersAgainWithTheOldCanonicalAddress) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        BrokerAndRelay brokers;
        auto &[broker, relay] = brokers;
        relay.Start(
            {{true, 16, Message('G', Field("192.0.2.7", 40001))}, {false, 9, Message('M', "")}});

        int listener = __real_socket(AF_INET, SOCK_STREAM, 0);
        SockInfo *info = NewRecord(listener, TCP, LISTENING, ACTIVE);
        info->canon = nbx_test::Addr("192.0.2.7", 40001);
        info->phyAddr = nbx_test::Addr("10.77.0.1", 40000);
        info->manager = NEED_RECOVER;
        _Broker_down_since = time(nullptr) - 16;
        SelectOnce(listener, true, 0);

        CHILD_EXPECT_EQ(r, std::string("00 03 6e"), broker.Finish());
        std::string bind =
            Message('C', Field("192.0.2.7", 40001) + "A" + Field("10.77.0.1", 40000));
        std::string listen = Message('I', Field("192.0.2.7", 40001));
        CHILD_EXPECT(r, info->manager >= 0);
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(_Broker_down_since));
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(_CB_lastRecovery));
        CHILD_EXPECT_EQ(r, std::string("<192.0.2.7:40001>"),
                        std::string(_ipport2str(info->canon.ip, info->canon.port)));
        CHILD_EXPECT_EQ(r,
                        Hex(bind.data(), bind.size()) + " | " + Hex(listen.data(), listen.size()),
                        relay.Finish());
    });
    EXPECT_EQ(failures, "");
}

// A heartbeat that cannot be sent loses the manager connection and starts a
// recovery at once (which fails here: no broker is configured).
TEST(BrokeredSelectTest, FailedHeartbeatMarksTheSocketAndTriesToRecover) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        int relay = -1;
        SockInfo *info = WithManager(tcp, TCP, BOUND, &relay);
        __real_close(relay);
        time_t now = time(nullptr);
        _CB_lastHeartBeat = now - 41;
        _CB_triggerHeartBeat(now);
        CHILD_EXPECT_EQ(r, static_cast<int>(NEED_RECOVER), info->manager);
        CHILD_EXPECT_EQ(r, static_cast<long>(now), static_cast<long>(_Broker_down_since));
        CHILD_EXPECT(r, _CB_lastRecovery >= now);
        CHILD_EXPECT(r, WasLogged("can't send HEARTBEAT for the clent"));
        CHILD_EXPECT(r, !WasLogged("-----Heartbeat Done-----\n"));
    });
    EXPECT_EQ(failures, "");
}

// A broker that answers a re-registration with anything but BIND_OK takes
// the socket out of recovery for good.
TEST(BrokeredSelectTest, UnexpectedAnswerToRebindEndsRecovery) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        BrokerAndRelay brokers;
        auto &[broker, relay] = brokers;
        relay.Start({{true, 16, Message('M', "")}});
        int udp = __real_socket(AF_INET, SOCK_DGRAM, 0);
        SockInfo *info = NewRecord(udp, UDP, BOUND, ACTIVE);
        info->manager = NEED_RECOVER;
        _Broker_down_since = time(nullptr) - 20;
        CHILD_EXPECT_EQ(r, -1, _CB_recoverNBXsockets());
        CHILD_EXPECT_EQ(r, -1, info->manager);
        CHILD_EXPECT(r, WasLogged("rebind: Unexpected msg received. Not going to retry again\n"));
        CHILD_EXPECT_EQ(r, 0, _CB_recoverNBXsockets());
        CHILD_EXPECT_EQ(r, 0, static_cast<int>(_Broker_down_since));
        std::string bind = Message('D', Field("0.0.0.0", 0) + "A" + Field("0.0.0.0", 0));
        CHILD_EXPECT_EQ(r, Hex(bind.data(), bind.size()), relay.Finish());
    });
    EXPECT_EQ(failures, "");
}

int handler_calls = 0;
void CountCall() {
    ++handler_calls;
}

// With nobody at the broker's address every recovery fails; the handler is
// called only once the broker has been away for its delay.
TEST(BrokeredSelectTest, HandlerIsCalledWhenTheBrokerStaysAwayLongEnough) {
    std::string failures = RunInChild([](ChildReport &r) {
        if (!InTestNetwork(r)) return;
        StartBrokeredLayer();
        setenv("NBX_INAGENT", "127.0.0.2", 1);
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        SockInfo *info = NewRecord(tcp, TCP, BOUND, ACTIVE);
        info->manager = NEED_RECOVER;
        NBX_Broker_down_callback_set(CountCall, 60);

        time_t now = time(nullptr);
        _Broker_down_since = now - 30;
        SelectOnce(tcp, true, 0);
        CHILD_EXPECT_EQ(r, 0, handler_calls);
        CHILD_EXPECT(r, _CB_lastRecovery >= now);
        CHILD_EXPECT(r, WasLogged("_CB_recoverNBXsockets() failed - bailing out"));

        _Broker_down_since = now - 61;
        _CB_lastRecovery = now - 16;
        SelectOnce(tcp, true, 0);
        CHILD_EXPECT_EQ(r, 1, handler_calls);
        CHILD_EXPECT_EQ(r, static_cast<int>(NEED_RECOVER), info->manager);
    });
    EXPECT_EQ(failures, "");
}

// A CONTACT command makes the layer connect to the address it names; the
// connection is queued for the listening socket and handed out by accept.
TEST(BrokeredSelectTest, ContactCommandQueuesAnIncomingConnection) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int peer_port = 0;
        int peer = PlainSocket(SOCK_STREAM, "127.0.0.1", &peer_port);
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int relay = -1;
        SockInfo *info = WithManager(listener, TCP, LISTENING, &relay);
        std::string contact = Message('O', Field("127.0.0.1", peer_port));
        __real_write(relay, contact.data(), contact.size());
        CHILD_EXPECT_EQ(r, 1, SelectOnce(listener, true, 2000000));
        CHILD_EXPECT(r, WasLogged("handleContact: [connection accepted by CONTACT]"));
        sockaddr_in from;
        socklen_t length = sizeof from;
        int incoming = NBX_accept(listener, Sa(&from), &length);
        CHILD_EXPECT(r, incoming >= 0);
        CHILD_EXPECT_EQ(r, htons(static_cast<in_port_t>(peer_port)), from.sin_port);
        int far_end = __real_accept(peer, nullptr, nullptr);
        __real_write(far_end, "c", 1);
        char c = 0;
        CHILD_EXPECT_EQ(r, 1, static_cast<int>(__real_read(incoming, &c, 1)));
        CHILD_EXPECT(r, info->manager >= 0);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokeredSelectTest, UnknownCommandIsAnErrorAndLeavesTheSocketAlone) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
        int relay = -1;
        SockInfo *info = WithManager(tcp, TCP, BOUND, &relay);
        __real_write(relay, Message('Y', "").data(), 3);
        CHILD_EXPECT_EQ(r, 0, SelectOnce(info->manager, true, 0));
        CHILD_EXPECT(r, WasLogged("Unknown type of message received"));
        CHILD_EXPECT(r, WasLogged("_CB_handleAsyncEvent: handleNBXcommand("));
        CHILD_EXPECT(r, info->manager >= 0);
    });
    EXPECT_EQ(failures, "");
}

// The clocks as the layer reads them, with the wall clock and the monotonic
// clock each moved by a test's shift.
struct ClockShift {
    time_t wall = 0;
    time_t monotonic = 0;
};
ClockShift clock_shift;

int shifted_clock(clockid_t id, struct timespec *now) {
    int result = clock_gettime(id, now);
    now->tv_sec += id == CLOCK_REALTIME ? clock_shift.wall : clock_shift.monotonic;
    return result;
}

// The wall clock steps back an hour while 121 seconds pass: the passive
// connect's limit of 120 seconds is over all the same.
TEST(BrokeredSelectTest, PassiveConnectLimitIgnoresAStepOfTheWallClock) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        _CB_clockRead = shifted_clock;
        int port = 0;
        int waiting = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        SockInfo *info = NewRecord(waiting, TCP, PASSIVE_CONNECTING);
        int p[2];
        pipe(p);
        __real_write(p[1], "!", 1);
        int count = (waiting > p[0] ? waiting : p[0]) + 1;
        info->pendingSince = _CB_now();
        clock_shift.wall = -3600 + 121;
        clock_shift.monotonic = 121;
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        FD_SET(p[0], &rd);
        FD_SET(waiting, &wr);
        struct timeval zero = {0, 0};
        CHILD_EXPECT_EQ(r, 2, NBX_select(count, &rd, &wr, nullptr, &zero));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONN_FAILED), info->status);
    });
    EXPECT_EQ(failures, "");
}

// A passive connect that nobody completes fails after 120 seconds, checked
// in a pass in which something became ready, and is then writable with
// SO_ERROR 110.
TEST(BrokeredSelectTest, PassiveConnectOlderThanTheLimitFailsWithTimeout) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int waiting = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        SockInfo *info = NewRecord(waiting, TCP, PASSIVE_CONNECTING);
        int p[2];
        pipe(p);
        __real_write(p[1], "!", 1);
        int count = (waiting > p[0] ? waiting : p[0]) + 1;

        info->pendingSince = time(nullptr) - 100;
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        FD_SET(p[0], &rd);
        FD_SET(waiting, &wr);
        struct timeval zero = {0, 0};
        CHILD_EXPECT_EQ(r, 1, NBX_select(count, &rd, &wr, nullptr, &zero));
        CHILD_EXPECT_EQ(r, static_cast<int>(PASSIVE_CONNECTING), info->status);

        info->pendingSince = time(nullptr) - 121;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        FD_SET(p[0], &rd);
        FD_SET(waiting, &wr);
        CHILD_EXPECT_EQ(r, 2, NBX_select(count, &rd, &wr, nullptr, &zero));
        CHILD_EXPECT(r, FD_ISSET(waiting, &wr));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONN_FAILED), info->status);
        int error = 0;
        socklen_t length = sizeof error;
        CHILD_EXPECT_EQ(r, 0, NBX_getsockopt(waiting, SOL_SOCKET, SO_ERROR, &error, &length));
        CHILD_EXPECT_EQ(r, ETIMEDOUT, error);
    });
    EXPECT_EQ(failures, "");
}

// A non-blocking connect in progress ends CONNECTED, or CONN_FAILED with its
// error, and is reported writable either way.
TEST(BrokeredSelectTest, NonBlockingConnectFinishesInTheEventHandling) {
    std::string failures = RunInChild([](ChildReport &r) {
        StartBrokeredLayer();
        int port = 0;
        int listener = PlainSocket(SOCK_STREAM, "127.0.0.1", &port);
        int closed_port = 0;
        int closed = PlainSocket(SOCK_DGRAM, "127.0.0.1", &closed_port);  // no TCP listener there

        int good = __real_socket(AF_INET, SOCK_STREAM, 0);
        fcntl(good, F_SETFL, O_NONBLOCK);
        sockaddr_in to = Address("127.0.0.1", port);
        __real_connect(good, Sa(&to), sizeof to);
        SockInfo *good_info = NewRecord(good, TCP, ACTIVE_CONNECTING);
        CHILD_EXPECT_EQ(r, 1, SelectOnce(good, false, 2000000));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONNECTED), good_info->status);

        int bad = __real_socket(AF_INET, SOCK_STREAM, 0);
        fcntl(bad, F_SETFL, O_NONBLOCK);
        sockaddr_in nowhere = Address("127.0.0.1", closed_port);
        __real_connect(bad, Sa(&nowhere), sizeof nowhere);
        SockInfo *bad_info = NewRecord(bad, TCP, ACTIVE_CONNECTING);
        CHILD_EXPECT_EQ(r, 1, SelectOnce(bad, false, 2000000));
        CHILD_EXPECT_EQ(r, static_cast<int>(CONN_FAILED), bad_info->status);
        CHILD_EXPECT_EQ(r, ECONNREFUSED, bad_info->error);
        __real_close(listener);
        __real_close(closed);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
