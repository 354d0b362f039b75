// Helper program of the broker tests: a client that reaches an echo server
// at its canonical address through the brokering layer (NBX_ENABLE and
// NBX_ROUTE from the environment), as any application of the library would.
//
//   broker_echo_client tcp A.B.C.D:PORT BYTES [CONNECTIONS]
//   broker_echo_client udp A.B.C.D:PORT DATAGRAMS
//
// TCP: opens the connections one after another, prints "peer <a.b.c.d:port>"
// (the kernel's peer of the first), then sends BYTES of a pattern on each
// at once and checks that exactly those bytes come back. UDP: sends
// datagrams of different sizes one at a time and checks each echo and its
// source. Prints "ok" and exits 0 on success; otherwise prints what went
// wrong and exits 1 (2 for bad arguments).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

const char *mySubSystem = "TOOL";

namespace {

unsigned char pattern_byte(size_t connection, size_t at) {
    return static_cast<unsigned char>((at * 7 + (at >> 11) + connection * 13) & 0xff);
}

bool parse_target(const char *text, sockaddr_in *target) {
    char host[32];
    const char *colon = strchr(text, ':');
    if (colon == nullptr || colon - text >= static_cast<long>(sizeof host)) return false;
    memcpy(host, text, static_cast<size_t>(colon - text));
    host[colon - text] = '\0';
    memset(target, 0, sizeof *target);
    target->sin_family = AF_INET;
    target->sin_port = htons(static_cast<in_port_t>(atoi(colon + 1)));
    return inet_aton(host, &target->sin_addr) != 0;
}

struct Stream {
    int fd;
    size_t sent;
    size_t received;
    bool shut;
};

// Moves one stream forward; false on a mismatch or an error.
bool step(Stream *s, size_t index, size_t total) {
    unsigned char buffer[16384];
    while (s->sent < total) {
        size_t chunk = total - s->sent < sizeof buffer ? total - s->sent : sizeof buffer;
        for (size_t i = 0; i < chunk; ++i) buffer[i] = pattern_byte(index, s->sent + i);
        ssize_t n = write(s->fd, buffer, chunk);
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return false;
        s->sent += static_cast<size_t>(n);
    }
    if (s->sent == total && !s->shut) {
        shutdown(s->fd, SHUT_WR);
        s->shut = true;
    }
    for (;;) {
        ssize_t n = read(s->fd, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) return true;
        if (n < 0) return false;
        if (n == 0) return s->received == total;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != pattern_byte(index, s->received + static_cast<size_t>(i))) {
                printf("mismatch on connection %zu at byte %zu\n", index, s->received + i);
                return false;
            }
        }
        s->received += static_cast<size_t>(n);
        if (s->received > total) return false;
    }
}

bool echo_all(std::vector<Stream> &streams, size_t total) {
    size_t done = 0;
    std::vector<bool> finished(streams.size(), false);
    while (done < streams.size()) {
        std::vector<pollfd> waits;
        std::vector<size_t> which;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (finished[i]) continue;
            short events = POLLIN;
            if (streams[i].sent < total) events |= POLLOUT;
            waits.push_back(pollfd{streams[i].fd, events, 0});
            which.push_back(i);
        }
        if (poll(waits.data(), waits.size(), 20000) <= 0) {
            printf("timed out with %zu of %zu connections done\n", done, streams.size());
            return false;
        }
        for (size_t k = 0; k < waits.size(); ++k) {
            if (waits[k].revents == 0) continue;
            size_t i = which[k];
            if (!step(&streams[i], i, total)) {
                printf("connection %zu failed after %zu bytes back\n", i, streams[i].received);
                return false;
            }
            if (streams[i].received == total && streams[i].shut) {
                finished[i] = true;
                ++done;
                close(streams[i].fd);
            }
        }
    }
    return true;
}

int run_tcp(const sockaddr_in &target, size_t bytes, int connections) {
    std::vector<Stream> streams;
    for (int i = 0; i < connections; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 ||
            connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
            printf("connect %d failed: %s\n", i, strerror(errno));
            return 1;
        }
        if (i == 0) {
            sockaddr_in peer;
            socklen_t length = sizeof peer;
            getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length);
            printf("peer %s:%d\n", inet_ntoa(peer.sin_addr), ntohs(peer.sin_port));
            fflush(stdout);
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        streams.push_back(Stream{fd, 0, 0, false});
    }
    if (!echo_all(streams, bytes)) return 1;
    printf("ok\n");
    return 0;
}

// Waits for one datagram on fd through the layer's select.
bool wait_readable(int fd, int seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval limit = {seconds, 0};
    return select(fd + 1, &set, nullptr, nullptr, &limit) > 0;
}

int run_udp(const sockaddr_in &target, int datagrams) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 1;
    for (int i = 0; i < datagrams; ++i) {
        size_t size = 1 + (static_cast<size_t>(i) * 997) % 8000;
        std::vector<unsigned char> out(size), in(65536);
        for (size_t k = 0; k < size; ++k) out[k] = pattern_byte(static_cast<size_t>(i), k);
        bool answered = false;
        for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
            if (sendto(fd, out.data(), size, 0, reinterpret_cast<const sockaddr *>(&target),
                       sizeof target) != static_cast<ssize_t>(size)) {
                printf("sendto %d failed: %s\n", i, strerror(errno));
                return 1;
            }
            if (!wait_readable(fd, 2)) continue;
            sockaddr_in source;
            socklen_t length = sizeof source;
            ssize_t n = recvfrom(fd, in.data(), in.size(), 0, reinterpret_cast<sockaddr *>(&source),
                                 &length);
            if (i == 0) {
                printf("from %s:%d\n", inet_ntoa(source.sin_addr), ntohs(source.sin_port));
                fflush(stdout);
            }
            answered = n == static_cast<ssize_t>(size) && memcmp(in.data(), out.data(), size) == 0;
            if (!answered) {
                printf("datagram %d came back wrong (%zd bytes)\n", i, n);
                return 1;
            }
        }
        if (!answered) {
            printf("datagram %d never came back\n", i);
            return 1;
        }
    }
    printf("ok\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    sockaddr_in target;
    if (argc < 4 || !parse_target(argv[2], &target)) return 2;
    if (strcmp(argv[1], "tcp") == 0) {
        int connections = argc > 4 ? atoi(argv[4]) : 1;
        return run_tcp(target, strtoul(argv[3], nullptr, 10), connections);
    }
    if (strcmp(argv[1], "udp") == 0) return run_udp(target, atoi(argv[3]));
    return 2;
}
