// Helpers of the brokered-operation tests: a private network with an
// address besides the loopback one (the layer takes the host's own address
// from its interfaces), a scripted broker, relay or peer served by a thread
// on a TCP port, and small builders of broker messages. Everything that
// changes process-wide state is meant to run inside a RunInChild body; the
// server thread works with the system's calls only, so it never touches
// the layer's table.
#ifndef TORVEL_TESTS_NBX_BROKER_FAKE_H_
#define TORVEL_TESTS_NBX_BROKER_FAKE_H_

#include <arpa/inet.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/temp_dir.h"

namespace brokered_test {

// Turns brokering on with no broker and no routing table, initialises the
// layer with full tracing into the captured log, and marks a heartbeat as
// just sent so none is due unless a test says so.
inline void StartBrokeredLayer() {
    setenv("NBX_ENABLE", "true", 1);
    unsetenv("NBX_INAGENT");
    unsetenv("NBX_ROUTE");
    _CB_initialize();
    Generic_debug_level = D_FULL;
    nbx_test::StartLogCapture();
    _CB_lastHeartBeat = time(nullptr);
}

// The private network's own (non-loopback) address.
const char kHostAddress[] = "10.77.0.1";

// A private network namespace with lo up and kHostAddress on a veth pair.
// "" on success, else what failed.
inline std::string EnterTestNetwork() {
    std::string failure = broker_test::EnterPrivateNetwork();
    if (!failure.empty()) return failure;
    int status = system(
        "ip link add nbxt0 type veth peer name nbxt1 && ip addr add 10.77.0.1/24 dev nbxt0 && "
        "ip link set nbxt0 up && ip link set nbxt1 up");
    return status == 0 ? "" : "ip failed to set up the test network";
}

// Enters the test network inside a RunInChild body; false, with the failure
// noted in r, when it cannot be made.
inline bool InTestNetwork(nbx_test::ChildReport &r) {
    std::string failure = EnterTestNetwork();
    if (!failure.empty()) r.Fail(__LINE__, failure);
    return failure.empty();
}

// Makes "route" in dir, holding table, the layer's routing table.
inline void UseRoutes(const torvel_test::TempDir &dir, const std::string &table) {
    std::string path = dir.Path("route");
    torvel_test::WriteFile(path, table);
    setenv("NBX_ROUTE", path.c_str(), 1);
}

// The local port of a socket (the system's getsockname).
inline int LocalPort(int fd) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    __real_getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

inline std::string HexOf(const std::string &bytes) {
    return broker_test::Hex(bytes.data(), bytes.size());
}

// The 6 bytes of an address field: IPv4 address and port, network order.
inline std::string Field(const char *ip, int port) {
    std::string bytes(6, '\0');
    in_addr address = broker_test::Ip(ip);
    memcpy(&bytes[0], &address.s_addr, 4);
    bytes[4] = static_cast<char>((port >> 8) & 0xff);
    bytes[5] = static_cast<char>(port & 0xff);
    return bytes;
}

// A message: size, opcode, body.
inline std::string Message(char opcode, const std::string &body) {
    std::string bytes;
    size_t size = 3 + body.size();
    bytes += static_cast<char>(size >> 8);
    bytes += static_cast<char>(size & 0xff);
    bytes += opcode;
    return bytes + body;
}

// A socket address of ip:port.
inline sockaddr_in Address(const char *ip, int port) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr = broker_test::Ip(ip);
    address.sin_port = htons(static_cast<in_port_t>(port));
    return address;
}

inline sockaddr *Sa(sockaddr_in *address) {
    return reinterpret_cast<sockaddr *>(address);
}

// A plain socket bound to ip:port (0: any port), listening for TCP; -1 on
// failure. *port receives the bound port.
inline int PlainSocket(int type, const char *ip, int *port) {
    int fd = __real_socket(AF_INET, type, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Address(ip, *port);
    if (__real_bind(fd, Sa(&address), sizeof address) != 0) {
        __real_close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    __real_getsockname(fd, Sa(&address), &length);
    *port = ntohs(address.sin_port);
    if (type == SOCK_STREAM) __real_listen(fd, 8);
    return fd;
}

// Waits up to ms for fd to become readable.
inline bool Readable(int fd, int ms) {
    pollfd wait = {fd, POLLIN, 0};
    return poll(&wait, 1, ms) > 0;
}

// One step of a scripted server: optionally accept a new connection, read
// `expect` bytes, write the reply (or what `answer` makes of the bytes
// read), run `then` (once the client has closed the connection, with
// then_after_close), and optionally close the connection.
struct Step {
    bool accept_new;
    size_t expect;
    std::string reply;
    bool close_after = false;
    std::function<std::string(const std::string &)> answer = nullptr;
    std::function<void(const std::string &)> then = nullptr;
    bool then_after_close = false;
};

// Waits up to ms for the other end of connection fd to close it (data
// still arriving is read and dropped); true when it did.
inline bool ClosedByPeer(int fd, int ms) {
    char buffer[256];
    while (Readable(fd, ms)) {
        if (__real_read(fd, buffer, sizeof buffer) <= 0) return true;
    }
    return false;
}

// A TCP server on ip:port run by a thread through a script. Connections
// stay open until Finish(), which returns what each step read, in hex,
// joined by " | " ("<timeout>" for a step whose connection or bytes never
// came). Every wait is bounded.
class ScriptedServer {
 public:
    ScriptedServer(const char *ip, int port) : port_(port) {
        listener_ = PlainSocket(SOCK_STREAM, ip, &port_);
    }
    ~ScriptedServer() {
        Finish();
        if (listener_ >= 0) __real_close(listener_);
    }
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    bool ok() const { return listener_ >= 0; }
    int port() const { return port_; }

    void Start(std::vector<Step> steps) {
        steps_ = std::move(steps);
        thread_ = std::thread([this] { Run(); });
    }

    std::string Finish() {
        if (thread_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(stop_mutex_);
                stop_ = true;
            }
            stop_signal_.notify_one();
            thread_.join();
        }
        return report_;
    }

 private:
    void Run() {
        int connection = -1;
        std::vector<int> open;
        for (const Step &step : steps_) {
            if (!report_.empty()) report_ += " | ";
            if (step.accept_new) {
                connection =
                    Readable(listener_, 5000) ? __real_accept(listener_, nullptr, nullptr) : -1;
                if (connection >= 0) open.push_back(connection);
            }
            if (connection < 0) {
                report_ += "<timeout>";
                continue;
            }
            std::string got;
            char buffer[256];
            while (got.size() < step.expect && Readable(connection, 5000)) {
                ssize_t n = __real_read(connection, buffer, step.expect - got.size());
                if (n <= 0) break;
                got.append(buffer, static_cast<size_t>(n));
            }
            report_ +=
                got.size() < step.expect ? "<timeout>" : broker_test::Hex(got.data(), got.size());
            std::string reply = step.answer ? step.answer(got) : step.reply;
            if (!reply.empty()) __real_write(connection, reply.data(), reply.size());
            if (step.then_after_close && !ClosedByPeer(connection, 5000)) report_ += " <open>";
            if (step.then) step.then(got);
            if (step.close_after) {
                __real_close(connection);
                for (int &fd : open) {
                    if (fd == connection) fd = -1;
                }
                connection = -1;
            }
        }
        {
            std::unique_lock<std::mutex> lock(stop_mutex_);
            stop_signal_.wait(lock, [this] { return stop_; });
        }
        for (int fd : open) {
            if (fd >= 0) __real_close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::vector<Step> steps_;
    std::string report_;
    std::thread thread_;
    std::mutex stop_mutex_;
    std::condition_variable stop_signal_;
    bool stop_ = false;
};

// The layer's broker (NBX_INAGENT) at 127.0.0.2's fixed port, which names a
// relay on an ephemeral port in its answer to the first NEW_SOCK; the test
// starts the relay's script. Made after the layer is started, which unsets
// NBX_INAGENT.
struct BrokerAndRelay {
    BrokerAndRelay() {
        setenv("NBX_INAGENT", "127.0.0.2", 1);
        broker.Start({{true, 3, Message('H', Field("127.0.0.2", relay.port())), true}});
    }
    ScriptedServer broker{"127.0.0.2", 65430};
    ScriptedServer relay{"127.0.0.2", 0};
};

}  // namespace brokered_test

#endif  // TORVEL_TESTS_NBX_BROKER_FAKE_H_
