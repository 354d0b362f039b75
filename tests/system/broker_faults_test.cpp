// nbx_broker from outside, under the faults a hostile network or a busy host
// brings: a descriptor table that runs out (prlimit), a log on a tiny file
// system that a flood of garbage would fill, and relayed streams whose
// peers go silent or vanish. Each test runs in a child with a network
// namespace of its own (loopback only) and, for the log, a mount namespace
// of its own; the broker is killed and reaped with the child.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/broker/broker_harness.h"
#include "tests/broker/broker_peer.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace {

using broker_harness::Daemon;
using broker_harness::DescriptorsOf;
using broker_peer::Ask;
using broker_peer::kDestination;
using broker_peer::kInAgent;
using broker_peer::kRelayServer;
using broker_peer::Loopback;
using broker_peer::Message;
using broker_peer::Passes;
using broker_peer::Relay;
using nbx_test::ChildReport;

std::string RelayServerAnswer() {
    return broker_test::Hex(Message(CB_RELAY_SERVER, CBAddr{}, Loopback(kRelayServer)).data(), 9) +
           " <closed>";
}

// CPU seconds (user and system) a process has used, or -1.
double CpuSeconds(pid_t pid) {
    std::string stat = torvel_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    if (end == std::string::npos) return -1;
    // After the name: state is field 3, utime and stime are fields 14 and 15.
    unsigned long utime = 0, stime = 0;
    if (sscanf(stat.c_str() + end + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
               &utime, &stime) != 2) {
        return -1;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A connection to port that is never waited for: once the broker stops
// accepting, later ones sit in (or beyond) the listener's queue.
int ConnectWithoutWaiting(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<in_port_t>(port));
    connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    return fd;
}

// With 64 descriptors and 200 clients that connect and say nothing, the
// broker runs out: it must wait without spinning, keep relaying what it
// relays, and take new connections again once descriptors are free.
TEST(BrokerFaultsTest, OutOfDescriptorsTheBrokerWaitsIdleAndRelaysGoOn) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure =
            broker_peer::StartBroker(&broker, {"_torvel_NBX_BROKER_STALL_TIMEOUT=60"}, {},
                                     {"/usr/bin/prlimit", "--nofile=64:64", "--"});
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        Relay relay;
        if (!broker_peer::MakeRelay(r, &relay)) return;
        std::vector<int> idle;
        for (int i = 0; i < 200; ++i) idle.push_back(ConnectWithoutWaiting(kInAgent));
        CHILD_EXPECT(r, !broker.WaitFor("out of descriptors", 5).empty());
        double before = CpuSeconds(broker.pid());
        sleep(2);
        double used = CpuSeconds(broker.pid()) - before;
        CHILD_EXPECT(r, before >= 0 && used < 0.25);
        if (used >= 0.25) r.Fail(__LINE__, "CPU seconds in 2 s: " + std::to_string(used));
        CHILD_EXPECT(r, Passes(relay.client, relay.server, "still relayed"));
        CHILD_EXPECT(r, Passes(relay.server, relay.client, "and back"));
        for (int fd : idle) close(fd);
        CHILD_EXPECT_EQ(r, RelayServerAnswer(), Ask(kInAgent, Message(CB_NEW_SOCK)));
        CHILD_EXPECT_EQ(r, 0, broker.Stop(SIGTERM, 10));
    });
    EXPECT_EQ("", failures);
}

// Appends to path until its file system is full, to the last byte (a file
// system keeps room in a file's last page); false when it did not fill.
bool FillFileSystem(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return false;
    char block[4096];
    memset(block, '.', sizeof block);
    for (size_t size = sizeof block; size > 0; size /= 2) {
        while (write(fd, block, size) > 0) {
        }
    }
    bool full = errno == ENOSPC;
    close(fd);
    return full;
}

// Detaches a mount when the test is over, before its directory goes.
struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
};

// Connections that each send a line of garbage, as a scan of the port does.
void Garbage(int connections) {
    for (int i = 0; i < connections; ++i) Ask(kDestination, "GET / HTTP/1.0\r\n\r\n");
}

// The log on a 128 KiB file system: 3,000 connections of garbage would
// need some 250 KiB of lines. The broker limits them, keeps the file under
// its size limit, and when the file system is full it drops and counts
// lines and serves on.
TEST(BrokerFaultsTest, GarbageFloodNeitherFillsTheLogNorStopsTheBroker) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        torvel_test::TempDir dir;
        Unmount on_exit{dir.Path("fs")};
        if (mkdir(on_exit.path.c_str(), 0755) != 0 || unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", on_exit.path.c_str(), "tmpfs", 0, "size=128k") != 0) {
            return r.Fail(__LINE__, std::string("can't mount a tmpfs: ") + strerror(errno));
        }
        std::string log = on_exit.path + "/broker.log";
        Daemon broker;
        std::string failure = broker_test::EnterPrivateNetwork();
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        std::vector<std::string> env = broker_harness::Environment(
            {"_torvel_NBX_BROKER_LOG_MAX_SIZE=32768", "_torvel_NBX_BROKER_LOG_REPEAT_INTERVAL=1"});
        bool started = broker.Start(broker_peer::BrokerCommand({"--log", log}), env) &&
                       torvel_test::WaitUntil(
                           [&] {
                               return torvel_test::ReadFile(log).find("nbx_broker started") !=
                                      std::string::npos;
                           },
                           10000);
        if (!started) return r.Fail(__LINE__, "the broker did not start: " + broker.all_output());
        Garbage(3000);
        sleep(2);  // the summary of the last interval is written
        CHILD_EXPECT_EQ(r, RelayServerAnswer(), Ask(kInAgent, Message(CB_NEW_SOCK)));
        struct stat current, old;
        CHILD_EXPECT(r, stat(log.c_str(), &current) == 0 && current.st_size <= 32768);
        CHILD_EXPECT(r, stat((log + ".old").c_str(), &old) != 0 || old.st_size <= 32768);
        std::string text = torvel_test::ReadFile(log) + torvel_test::ReadFile(log + ".old");
        CHILD_EXPECT(r, text.find("more lines like \"dropping %s connection from %s: %s\"") !=
                            std::string::npos);

        // Nothing can be written now: lines are dropped and counted.
        std::string filler = on_exit.path + "/filler";
        CHILD_EXPECT(r, FillFileSystem(filler) && FillFileSystem(log));
        Garbage(100);
        sleep(2);
        CHILD_EXPECT_EQ(r, RelayServerAnswer(), Ask(kInAgent, Message(CB_NEW_SOCK)));
        unlink(filler.c_str());
        Garbage(1);
        text = torvel_test::ReadFile(log);
        CHILD_EXPECT(r, text.find("log lines could not be written (No space left on device)") !=
                            std::string::npos);
        CHILD_EXPECT_EQ(r, 0, broker.Stop(SIGTERM, 10));
    });
    EXPECT_EQ("", failures);
}

// Descriptors of the broker once a relayed stream's six (two sockets, two
// pipes) are gone again, waiting up to seconds; whether it got back to
// baseline.
bool BackTo(pid_t pid, int baseline, int seconds) {
    return torvel_test::WaitUntil([&] { return DescriptorsOf(pid) == baseline; }, seconds * 1000);
}

// A relayed stream nobody uses is closed after NBX_BROKER_IDLE_TIMEOUT.
TEST(BrokerFaultsTest, IdleRelayIsClosedAfterTheIdleLimit) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure =
            broker_peer::StartBroker(&broker, {"_torvel_NBX_BROKER_IDLE_TIMEOUT=2"});
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        int baseline = DescriptorsOf(broker.pid());
        Relay relay;
        if (!broker_peer::MakeRelay(r, &relay)) return;
        int with_relay = DescriptorsOf(broker.pid());
        // The registration's manager and canonical listener stay.
        CHILD_EXPECT_EQ(r, baseline + 8, with_relay);
        CHILD_EXPECT_EQ(r, std::string("<closed>"), broker_peer::Read(relay.client, 1, 6));
        CHILD_EXPECT_EQ(r, std::string("<closed>"), broker_peer::Read(relay.server, 1, 2));
        CHILD_EXPECT(r, BackTo(broker.pid(), baseline + 2, 2));
        CHILD_EXPECT(r, !broker.WaitFor("closing a relayed stream idle for 2 s", 1).empty());
    });
    EXPECT_EQ("", failures);
}

// Both ends of a relayed stream vanish while their packets are lost (the
// loopback interface is down, the sockets are reset and closed): no FIN or
// RST ever reaches the broker. Keepalive probes find them gone.
TEST(BrokerFaultsTest, RelayWhosePeersVanishedIsReleased) {
    std::string failures = nbx_test::RunInChild([](ChildReport &r) {
        Daemon broker;
        std::string failure =
            broker_peer::StartBroker(&broker, {"_torvel_NBX_BROKER_KEEPALIVE_TIME=1"});
        if (!failure.empty()) return r.Fail(__LINE__, failure);
        int baseline = DescriptorsOf(broker.pid());
        Relay relay;
        if (!broker_peer::MakeRelay(r, &relay)) return;
        CHILD_EXPECT_EQ(r, baseline + 8, DescriptorsOf(broker.pid()));
        CHILD_EXPECT_EQ(r, 0, system("/usr/sbin/ip link set lo down"));
        linger abort = {1, 0};
        for (int fd : {relay.client, relay.server}) {
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            close(fd);
        }
        CHILD_EXPECT_EQ(r, 0, system("/usr/sbin/ip link set lo up"));
        CHILD_EXPECT(r, BackTo(broker.pid(), baseline + 2, 15));
        if (DescriptorsOf(broker.pid()) != baseline + 2) {
            r.Fail(__LINE__, "descriptors: " + std::to_string(DescriptorsOf(broker.pid())) +
                                 ", baseline " + std::to_string(baseline));
        }
    });
    EXPECT_EQ("", failures);
}

}  // namespace
