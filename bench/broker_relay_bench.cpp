// Throughput and latency of a stream relayed by nbx_broker against a plain
// loopback TCP stream in the same run. The benchmark enters a network
// namespace of its own (it needs root), starts the broker there on
// 127.0.0.1, registers a listening socket the way the library does (local
// broker, relay server, TCP_BIND, LISTEN), and answers the broker's CONTACT
// by connecting where it says; a client connecting to the canonical port is
// then joined to that connection by the broker.
//
// Counters: "ratio" (relayed time over direct time per transfer or round
// trip), "throughput_ratio" (relayed throughput over direct throughput, the
// figure that must stay at or above 0.5) and, for the round trip,
// "added_us" (microseconds the relay adds to one round trip).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/baseline_timer.h"
#include "nbx/broker_message.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_test_support.h"

const char *mySubSystem = "TOOL";

namespace {

const size_t kTransferBytes = 8 << 20;

sockaddr_in Loopback(int port) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<in_port_t>(port));
    return address;
}

int ConnectTo(const sockaddr_in &address) {
    int fd = __real_socket(AF_INET, SOCK_STREAM, 0);
    if (__real_connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        __real_close(fd);
        return -1;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// One message of the library's framing, sent; then exactly `answer` bytes.
bool Exchange(int fd, char opcode, in_addr canon_ip, in_port_t canon_port, char *answer,
              size_t size) {
    char message[CB_MSG_MAX];
    in_addr none = {};
    int length = _CB_stripeMsg(message, opcode, canon_ip, canon_port, 'A', none, 0, none, 0, 0);
    if (__real_write(fd, message, static_cast<size_t>(length)) != length) return false;
    size_t got = 0;
    while (got < size) {
        ssize_t n = __real_read(fd, answer + got, size - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The broker, one registered server and a relayed and a direct stream pair.
struct Rig {
    pid_t broker = -1;
    int manager = -1;
    int relayed[2] = {-1, -1};  // client, server
    int direct[2] = {-1, -1};
    std::string failure;

    ~Rig() {
        for (int fd : {manager, relayed[0], relayed[1], direct[0], direct[1]}) {
            if (fd >= 0) __real_close(fd);
        }
        if (broker > 0) {
            kill(broker, SIGTERM);
            waitpid(broker, nullptr, 0);
        }
    }

    bool Start() {
        failure = broker_test::EnterPrivateNetwork();
        if (!failure.empty()) return false;
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return Fail("no /proc/self/exe");
        self[n] = '\0';
        std::string program = std::string(dirname(self)) + "/../broker/nbx_broker";
        broker = fork();
        if (broker == 0) {
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            setenv("TORVEL_CONFIG", "ONLY_ENV", 1);
            execl(program.c_str(), program.c_str(), "--public", "127.0.0.1", "--private",
                  "127.0.0.1", "--foreground", static_cast<char *>(nullptr));
            _exit(127);
        }
        return Register() && Pair();
    }

    bool Fail(const std::string &why) {
        failure = why;
        return false;
    }

    bool Register() {
        int agent = -1;
        for (int i = 0; i < 500 && agent < 0; ++i) {
            agent = ConnectTo(Loopback(65430));
            if (agent < 0) usleep(10000);  // the broker is still starting
        }
        if (agent < 0) return Fail("the broker did not come up");
        char relay[9];
        bool ok = Exchange(agent, CB_NEW_SOCK, in_addr{}, 0, relay, sizeof relay);
        __real_close(agent);
        if (!ok || relay[2] != CB_RELAY_SERVER) return Fail("no relay server");
        manager = ConnectTo(Loopback(65431));
        char bound[9], ack[3];
        if (manager < 0 || !Exchange(manager, CB_TCP_BIND, in_addr{}, 0, bound, sizeof bound) ||
            bound[2] != CB_BIND_OK) {
            return Fail("no registration");
        }
        in_addr canon_ip;
        memcpy(&canon_ip.s_addr, bound + 3, 4);
        in_port_t canon_port;
        memcpy(&canon_port, bound + 7, 2);
        if (!Exchange(manager, CB_LISTEN, canon_ip, canon_port, ack, sizeof ack) ||
            ack[2] != CB_ACK) {
            return Fail("LISTEN not acknowledged");
        }
        relayed[0] = ConnectTo(Loopback(ntohs(canon_port)));
        char contact[9];
        size_t got = 0;
        while (relayed[0] >= 0 && got < sizeof contact) {
            ssize_t n = __real_read(manager, contact + got, sizeof contact - got);
            if (n <= 0) return Fail("no CONTACT");
            got += static_cast<size_t>(n);
        }
        sockaddr_in where = Loopback(0);
        memcpy(&where.sin_addr.s_addr, contact + 3, 4);
        memcpy(&where.sin_port, contact + 7, 2);
        relayed[1] = ConnectTo(where);
        return relayed[0] >= 0 && relayed[1] >= 0 ? true : Fail("relay not joined");
    }

    bool Pair() {
        int listener = __real_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any = Loopback(0);
        socklen_t length = sizeof any;
        __real_bind(listener, reinterpret_cast<sockaddr *>(&any), sizeof any);
        __real_listen(listener, 1);
        __real_getsockname(listener, reinterpret_cast<sockaddr *>(&any), &length);
        direct[0] = ConnectTo(any);
        direct[1] = __real_accept(listener, nullptr, nullptr);
        int on = 1;
        setsockopt(direct[1], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        __real_close(listener);
        return direct[0] >= 0 && direct[1] >= 0 ? true : Fail("no direct pair");
    }
};

Rig *TheRig() {
    static Rig *rig = nullptr;
    if (rig == nullptr) {
        rig = new Rig();
        rig->Start();
    }
    return rig;
}

// One stream: a thread writes the bytes with blocking sends while this
// thread reads them with blocking receives, as a streaming program would.
void Transfer(int out, int in, size_t bytes) {
    std::thread sender([out, bytes] {
        static char source[1 << 16];
        for (size_t sent = 0; sent < bytes;) {
            size_t size = bytes - sent < sizeof source ? bytes - sent : sizeof source;
            ssize_t n = __real_write(out, source, size);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    });
    static char sink[1 << 16];
    for (size_t received = 0; received < bytes;) {
        ssize_t n = __real_read(in, sink, sizeof sink);
        if (n <= 0) break;
        received += static_cast<size_t>(n);
    }
    sender.join();
}

void RoundTrip(const int *pair) {
    char byte = 'x';
    __real_write(pair[0], &byte, 1);
    __real_read(pair[1], &byte, 1);
    __real_write(pair[1], &byte, 1);
    __real_read(pair[0], &byte, 1);
}

void BM_RelayedStreamThroughput(benchmark::State &state) {
    Rig *rig = TheRig();
    if (!rig->failure.empty()) {
        state.SkipWithError(rig->failure.c_str());
        return;
    }
    RunWithBaseline(
        state, [rig] { Transfer(rig->relayed[0], rig->relayed[1], kTransferBytes); },
        [rig] { Transfer(rig->direct[0], rig->direct[1], kTransferBytes); });
    double ratio = state.counters["ratio"];
    state.counters["throughput_ratio"] = ratio > 0 ? 1.0 / ratio : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kTransferBytes));
}
BENCHMARK(BM_RelayedStreamThroughput)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RelayedRoundTrip(benchmark::State &state) {
    Rig *rig = TheRig();
    if (!rig->failure.empty()) {
        state.SkipWithError(rig->failure.c_str());
        return;
    }
    RunWithBaseline(
        state, [rig] { RoundTrip(rig->relayed); }, [rig] { RoundTrip(rig->direct); });
    double baseline_us = state.counters["baseline_us"];
    double ratio = state.counters["ratio"];
    state.counters["added_us"] = baseline_us * (ratio - 1.0);
}
BENCHMARK(BM_RelayedRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    delete TheRig();
    return 0;
}
