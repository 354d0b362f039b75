// Tests of whole-message send and receive on a connection: exact bytes,
// interrupted and partial transfers, closed connections, size fields out of
// range and unknown opcodes, with their log lines; and a peer that stalls,
// which ends the send or receive once the conversation's time is out. Each
// test runs in a fresh child (signal handlers, timers, SIGPIPE disposition,
// the lowered time bound).
#include "nbx/broker_client.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/broker_message.h"
#include "nbx/nbx_errno.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/support/wait_for.h"

namespace {

using broker_test::Bytes;
using broker_test::Hex;
using broker_test::Ip;
using broker_test::LogCapture;
using nbx_test::ChildReport;
using nbx_test::RunInChild;

const char kConnectHex[] = "00 16 4a c0 00 02 07 9c 41 41 0a 00 00 03 9c 40 c6 33 64 02 04 d2";

int SendConnect(int fd) {
    return _CBsend(fd, CB_CONNECT, Ip("192.0.2.7"), htons(40001), 'A', Ip("10.0.0.3"), htons(40000),
                   Ip("198.51.100.2"), htons(1234), 0);
}

struct Received {
    char opcode = '?', mode = '?';
    in_addr canon = {}, phy = {}, dest = {};
    in_port_t canon_port = 1, phy_port = 1, dest_port = 1;
    unsigned char error = 0xee;

    int From(int fd) {
        return _CBrecv(fd, &opcode, &canon, &canon_port, &mode, &phy, &phy_port, &dest, &dest_port,
                       &error);
    }
};

// Interrupts blocking calls every 20 ms (no SA_RESTART) while it exists.
// Each interrupt also writes a byte to interrupt_notes when that is set, so
// that a peer process can wait for one that really happened.
volatile sig_atomic_t interrupts = 0;
volatile sig_atomic_t interrupt_notes = -1;
class Interrupter {
 public:
    Interrupter() {
        interrupts = 0;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = [](int) {
            int saved = errno;  // the interrupted call's EINTR must survive
            ++interrupts;
            if (interrupt_notes >= 0) {
                char note = 'i';
                syscall(SYS_write, static_cast<int>(interrupt_notes), &note, 1);
            }
            errno = saved;
        };
        sigaction(SIGALRM, &action, nullptr);
        itimerval every = {{0, 20000}, {0, 20000}};
        setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~Interrupter() {
        itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
    }
};

// The system calls the broker client's reads and writes wait in.
const std::initializer_list<long> kWaits = {SYS_poll, SYS_ppoll, SYS_read, SYS_write};

// Waits until thread tid sleeps in a wait of the client, and then until it
// has been woken (with nothing to read or room to write, only a signal
// wakes it) and sleeps again; false when that does not happen in time.
bool WaitForAnInterruptedWait(pid_t tid) {
    long asleep = -1;
    if (!torvel_test::WaitUntil([tid, &asleep] {
            asleep = torvel_test::TimesAsleep(tid);
            return torvel_test::SleepsIn(tid, kWaits);
        })) {
        return false;
    }
    return torvel_test::WaitUntil([tid, asleep] {
        return torvel_test::TimesAsleep(tid) > asleep && torvel_test::SleepsIn(tid, kWaits);
    });
}

// A pipe for interrupt notes: [0] to wait on in a peer, [1] for the
// interrupted process (non-blocking, so a handler never waits).
struct NotePipe {
    int ends[2] = {-1, -1};
    NotePipe() {
        if (pipe(ends) == 0) {
            fcntl(ends[1], F_SETFL, O_NONBLOCK);
        }
    }
    // In the peer: true once the interrupted process had an interrupt,
    // false when it closed its end first.
    bool WaitForAnInterrupt() {
        __real_close(ends[1]);
        char note;
        return __real_read(ends[0], &note, 1) == 1;
    }
    // In the interrupted process, around the Interrupter's life.
    void Start() {
        __real_close(ends[0]);
        interrupt_notes = ends[1];
    }
    void Stop() {
        interrupt_notes = -1;
        __real_close(ends[1]);
    }
};

// Forks a child that writes the pieces to fd, each once the reading thread
// (reader) has been interrupted in its wait for it, the first only after
// an interrupt noted in notes.
pid_t WriteSlowly(int fd, const std::vector<std::string> &pieces, pid_t reader, NotePipe &notes) {
    pid_t pid = fork();
    if (pid == 0) {
        bool first = true;
        for (const std::string &piece : pieces) {
            if (!WaitForAnInterruptedWait(reader)) _exit(2);
            if (first && !notes.WaitForAnInterrupt()) _exit(2);
            first = false;
            __real_write(fd, piece.data(), piece.size());
        }
        _exit(0);
    }
    return pid;
}

TEST(BrokerSendTest, WritesTheWholeMessageThroughInterruptions) {
    std::string failures = RunInChild([](ChildReport &report) {
        int pair[2];
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        // A full connection makes the send wait for the reader.
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        std::string filler(512, 'f');
        size_t filled = 0;
        ssize_t n;
        while ((n = __real_write(pair[0], filler.data(), filler.size())) > 0) filled += n;
        fcntl(pair[0], F_SETFL, 0);
        pid_t sender = torvel_test::ThreadId();
        NotePipe notes;
        pid_t reader = fork();
        if (reader == 0) {
            __real_close(pair[0]);
            // Reads once the send has been interrupted in its wait for room.
            if (!WaitForAnInterruptedWait(sender) || !notes.WaitForAnInterrupt()) _exit(2);
            std::string all;
            char buffer[4096];
            while ((n = __real_read(pair[1], buffer, sizeof buffer)) > 0) all.append(buffer, n);
            _exit(all.size() == filled + 22 && Hex(all.data() + filled, 22) == kConnectHex ? 0 : 3);
        }
        notes.Start();
        {
            Interrupter interrupter;
            CHILD_EXPECT_EQ(report, 22, SendConnect(pair[0]));
        }
        notes.Stop();
        CHILD_EXPECT(report, interrupts > 0);
        __real_close(pair[0]);
        int status = 0;
        waitpid(reader, &status, 0);
        CHILD_EXPECT_EQ(report, 0, WEXITSTATUS(status));
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokerSendTest, ClosedConnectionFailsWithTheWriteError) {
    std::string failures = RunInChild([](ChildReport &report) {
        signal(SIGPIPE, SIG_IGN);
        int pair[2];
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        __real_close(pair[1]);
        LogCapture log;
        CHILD_EXPECT_EQ(report, -1, SendConnect(pair[0]));
        CHILD_EXPECT_EQ(report, EPIPE, errno);
        CHILD_EXPECT_EQ(report, std::string("1:_CBsend: write error - ") + strerror(EPIPE) + "\n",
                        log.Last());
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokerReceiveTest, DeliversFieldsThroughShortReadsAndInterruptions) {
    std::string failures = RunInChild([](ChildReport &report) {
        int pair[2];
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        std::string bytes = Bytes(kConnectHex) + Bytes("00 04 5a 6f");
        NotePipe notes;
        pid_t writer = WriteSlowly(
            pair[1],
            {bytes.substr(0, 1), bytes.substr(1, 3), bytes.substr(4, 10), bytes.substr(14)},
            torvel_test::ThreadId(), notes);
        Received connect, nak;
        notes.Start();
        {
            Interrupter interrupter;
            CHILD_EXPECT_EQ(report, 22, connect.From(pair[0]));
        }
        notes.Stop();
        CHILD_EXPECT(report, interrupts > 0);
        CHILD_EXPECT_EQ(report, 'J', connect.opcode);
        CHILD_EXPECT_EQ(report, Ip("192.0.2.7").s_addr, connect.canon.s_addr);
        CHILD_EXPECT_EQ(report, 40001, ntohs(connect.canon_port));
        CHILD_EXPECT_EQ(report, 'A', connect.mode);
        CHILD_EXPECT_EQ(report, Ip("10.0.0.3").s_addr, connect.phy.s_addr);
        CHILD_EXPECT_EQ(report, 40000, ntohs(connect.phy_port));
        CHILD_EXPECT_EQ(report, Ip("198.51.100.2").s_addr, connect.dest.s_addr);
        CHILD_EXPECT_EQ(report, 1234, ntohs(connect.dest_port));
        CHILD_EXPECT_EQ(report, 0xee, connect.error);
        // The first message took exactly its size: the NAK reads on its own.
        LogCapture log;
        CHILD_EXPECT_EQ(report, 4, nak.From(pair[0]));
        CHILD_EXPECT_EQ(report, 111, nak.error);
        CHILD_EXPECT_EQ(report, 1, nak.canon_port);
        CHILD_EXPECT_EQ(report, std::string("8192:*recv* NAK: -> ") + strerror(111) + "\n",
                        log.Last());
        // Every output may be null.
        __real_write(pair[1], "\0\3M", 3);
        CHILD_EXPECT_EQ(report, 3,
                        _CBrecv(pair[0], nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr));
        waitpid(writer, nullptr, 0);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokerReceiveTest, ClosedConnectionGivesZeroAndReadErrorMinusOne) {
    std::string failures = RunInChild([](ChildReport &report) {
        // Closed before anything, inside the size field, inside the body.
        for (const char *sent : {"", "00", "00 16 4a c0 00"}) {
            int pair[2];
            CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
            std::string bytes = Bytes(sent);
            __real_write(pair[1], bytes.data(), bytes.size());
            __real_close(pair[1]);
            Received received;
            CHILD_EXPECT_EQ(report, 0, received.From(pair[0]));
            CHILD_EXPECT_EQ(report, '?', received.opcode);
            __real_close(pair[0]);
        }
        Received received;
        CHILD_EXPECT_EQ(report, -1, received.From(-1));
        CHILD_EXPECT_EQ(report, EBADF, errno);
    });
    EXPECT_EQ(failures, "");
}

TEST(BrokerReceiveTest, RefusedMessagesAndWhatStaysUnread) {
    struct Case {
        const char *sent;
        std::vector<std::string> log;
        const char *unread;  // what a plain read finds afterwards
    };
    const std::vector<Case> cases = {
        {"00 17 4a 01 02 03", {"1:_CBCrecv: too big msg. size=23 received\n"}, "4a 01 02 03"},
        {"ff ff 4a", {"1:_CBCrecv: too big msg. size=65535 received\n"}, "4a"},
        {"00 02 4d", {"1:_CBrecv: too small msg. size=2 received\n"}, "4d"},
        {"00 00 4d", {"1:_CBrecv: too small msg. size=0 received\n"}, "4d"},
        {"00 03 61 4d",
         {"1:_CB_unstripeMsg: unknown opcode\n", "1:_CBrecv: _CB_unstripeMsg failed\n"},
         "4d"},
        {"00 05 47 c0 00 4d",
         {"1:_CB_unstripeMsg: G message of 5 bytes is shorter than 9\n",
          "1:_CBrecv: _CB_unstripeMsg failed\n"},
         "4d"},
    };
    for (const Case &c : cases) {
        std::string failures = RunInChild([&c](ChildReport &report) {
            int pair[2];
            CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
            std::string bytes = Bytes(c.sent);
            __real_write(pair[1], bytes.data(), bytes.size());
            LogCapture log;
            Received received;
            CHILD_EXPECT_EQ(report, -1, received.From(pair[0]));
            CHILD_EXPECT_EQ(report, '?', received.opcode);
            CHILD_EXPECT(report, log.Lines() == c.log);
            char rest[16];
            ssize_t n = __real_recv(pair[0], rest, sizeof rest, MSG_DONTWAIT);
            CHILD_EXPECT_EQ(report, std::string(c.unread), Hex(rest, n > 0 ? n : 0));
        });
        EXPECT_EQ(failures, "") << c.sent;
    }
}

// Milliseconds taken by call.
template <typename Call>
long long MillisecondsOf(Call call) {
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    call();
    clock_gettime(CLOCK_MONOTONIC, &end);
    return (end.tv_sec - start.tv_sec) * 1000LL + (end.tv_nsec - start.tv_nsec) / 1000000;
}

// Without a bound these would wait for ever; the alarm ends such a child,
// which the harness reports as a failure.
const unsigned kHangGuardSeconds = 20;

TEST(BrokerStallTest, SilentOrHalfSentMessageTimesOut) {
    for (const char *sent : {"", "00", "00 09 47 c0 00"}) {
        std::string failures = RunInChild([sent](ChildReport &report) {
            alarm(kHangGuardSeconds);
            _CB_brokerTimeoutMs = 200;
            int pair[2];
            CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
            std::string bytes = Bytes(sent);
            __real_write(pair[1], bytes.data(), bytes.size());
            Received received;
            CHILD_EXPECT_EQ(report, -1, received.From(pair[0]));
            CHILD_EXPECT_EQ(report, ETIMEDOUT, errno);
            CHILD_EXPECT_EQ(report, '?', received.opcode);
            CHILD_EXPECT_EQ(report, NBX_ERRNO_NO_BROKER, _CB_brokerErrno(-1, errno));
        });
        EXPECT_EQ(failures, "") << sent;
    }
}

TEST(BrokerStallTest, SendToAPeerThatNeverReadsTimesOut) {
    std::string failures = RunInChild([](ChildReport &report) {
        alarm(kHangGuardSeconds);
        _CB_brokerTimeoutMs = 200;
        int pair[2];
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        std::string filler(512, 'f');
        while (__real_write(pair[0], filler.data(), filler.size()) > 0) {
        }
        fcntl(pair[0], F_SETFL, 0);
        LogCapture log;
        CHILD_EXPECT_EQ(report, -1, SendConnect(pair[0]));
        CHILD_EXPECT_EQ(report, ETIMEDOUT, errno);
        CHILD_EXPECT_EQ(report,
                        std::string("1:_CBsend: write error - ") + strerror(ETIMEDOUT) + "\n",
                        log.Last());
    });
    EXPECT_EQ(failures, "");
}

// Steps of one conversation share its deadline; a step outside any
// conversation has the whole bound again.
TEST(BrokerStallTest, StepsOfOneConversationShareOneBound) {
    std::string failures = RunInChild([](ChildReport &report) {
        alarm(kHangGuardSeconds);
        _CB_brokerTimeoutMs = 600;
        int first[2], second[2];
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, first) == 0);
        CHILD_EXPECT(report, socketpair(AF_UNIX, SOCK_STREAM, 0, second) == 0);
        Received received;
        CBConversation conversation;
        long long used = MillisecondsOf([&] { received.From(first[0]); });
        CHILD_EXPECT(report, used >= 500);
        long long rest = MillisecondsOf([&] { received.From(second[0]); });
        CHILD_EXPECT_EQ(report, ETIMEDOUT, errno);
        CHILD_EXPECT(report, rest < 300);
        conversation.finish();
        long long alone = MillisecondsOf([&] { received.From(second[0]); });
        CHILD_EXPECT(report, alone >= 500);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace
