// Helpers of the broker-protocol tests: the layer's log lines captured in
// memory, message bytes as hex, a private network namespace with only the
// loopback interface (so the fixed broker port can be bound without
// clashing with anything on the machine), and a scripted fake broker
// served by a forked process. Meant for RunInChild bodies.
#ifndef TORVEL_TESTS_NBX_BROKER_TEST_SUPPORT_H_
#define TORVEL_TESTS_NBX_BROKER_TEST_SUPPORT_H_

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <string>
#include <vector>

#include "nbx/generic_log.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/layer_log_capture.h"

namespace broker_test {

// Every line handed to the layer's log, as "<level>:<text>", while one
// exists.
using LogCapture = torvel_test::LayerLogCapture;

inline bool StartsWith(const std::string &text, const std::string &start) {
    return text.compare(0, start.size(), start) == 0;
}

// "00 16 4a ..." for bytes, and back.
inline std::string Hex(const void *data, size_t size) {
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    std::string text;
    char two[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        text += (i > 0 ? " " : "") + std::string(two);
    }
    return text;
}
inline std::string Bytes(const std::string &hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 3) {
        bytes += static_cast<char>(strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return bytes;
}

inline in_addr Ip(const char *text) {
    in_addr address;
    inet_pton(AF_INET, text, &address);
    return address;
}

inline int OpenDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count - 3;  // ".", ".." and the directory's own descriptor
}

// Moves the process into a new network namespace with its loopback
// interface up. "" on success, else what failed.
inline std::string EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + strerror(errno);
    int fd = __real_socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request;
    memset(&request, 0, sizeof request);
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    std::string failure = up ? "" : std::string("lo up: ") + strerror(errno);
    __real_close(fd);
    return failure;
}

// One connection the fake serves: it reads `expect` bytes, answers `reply`,
// then closes, or with wait_for_close keeps the connection until the client
// closes it.
struct Exchange {
    size_t expect;
    std::string reply;
    bool wait_for_close;
};

// Listens on ip:port; Serve() forks a server taking one connection per
// exchange. Every wait is bounded; a server still running is killed.
class FakeBroker {
 public:
    FakeBroker(const char *ip, int port) {
        listener_ = __real_socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<in_port_t>(port));
        address.sin_addr = Ip(ip);
        ok_ = __real_bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
              __real_listen(listener_, 8) == 0;
    }
    ~FakeBroker() {
        if (pid_ > 0) kill(pid_, SIGKILL);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        __real_close(report_);
        __real_close(listener_);
    }
    bool ok() const { return ok_; }

    void Serve(const std::vector<Exchange> &script) {
        int channel[2];
        if (pipe(channel) != 0) return;
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            std::string received = RunScript(script);
            __real_write(channel[1], received.data(), received.size());
            _exit(0);
        }
        __real_close(channel[1]);
        report_ = channel[0];
    }

    // What each connection sent, in hex, connections joined by " | ", with
    // " <still open>" after one the client never closed.
    std::string Received() {
        std::string text;
        char buffer[1024];
        ssize_t n;
        while (Readable(report_, 15000) && (n = __real_read(report_, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

 private:
    static bool Readable(int fd, int milliseconds) {
        pollfd wait = {fd, POLLIN, 0};
        return poll(&wait, 1, milliseconds) > 0;
    }

    std::string RunScript(const std::vector<Exchange> &script) {
        std::string report;
        for (const Exchange &step : script) {
            if (&step != &script.front()) report += " | ";
            int fd = Readable(listener_, 5000) ? __real_accept(listener_, nullptr, nullptr) : -1;
            std::string got;
            char buffer[256];
            ssize_t n = 1;
            while (fd >= 0 && got.size() < step.expect && Readable(fd, 5000) &&
                   (n = __real_read(fd, buffer, step.expect - got.size())) > 0) {
                got.append(buffer, static_cast<size_t>(n));
            }
            if (fd >= 0) __real_write(fd, step.reply.data(), step.reply.size());
            bool closed = fd < 0 || !step.wait_for_close;
            while (fd >= 0 && !closed && Readable(fd, 5000)) {
                n = __real_read(fd, buffer, sizeof buffer);
                if (n > 0) got.append(buffer, static_cast<size_t>(n));
                closed = n <= 0;
            }
            report += fd < 0 ? "<no connection>" : Hex(got.data(), got.size());
            if (!closed) report += " <still open>";
            __real_close(fd);
        }
        return report;
    }

    int listener_ = -1;
    int report_ = -1;
    bool ok_ = false;
    pid_t pid_ = -1;
};

}  // namespace broker_test

#endif  // TORVEL_TESTS_NBX_BROKER_TEST_SUPPORT_H_
