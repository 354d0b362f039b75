// Helper program of the broker tests: an echo server that binds and
// listens through the brokering layer (NBX_ENABLE, NBX_INAGENT from the
// environment), as any application of the library would.
//
//   broker_echo_server tcp|udp
//
// Prints "canonical <a.b.c.d:port>" once registered, then "accepted
// <a.b.c.d:port>" for every TCP connection (the peer the layer reports).
// TCP data is echoed by a second thread with the system's calls, so any
// number of connections can be served; the main thread waits in the
// layer's select with a one-second time-out, which keeps heartbeats and
// broker recovery running. UDP datagrams are echoed to their source
// through the layer. Runs until killed; exit status 2 on a set-up failure.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "nbx/wrappers.h"

const char *mySubSystem = "TOOL";

namespace {

const size_t kChunk = 16384;

struct Echo {
    int fd;
    char buffer[kChunk];
    size_t pending;
    size_t offset;
};

void print_address(const char *what, const sockaddr_in &address) {
    printf("%s %s:%d\n", what, inet_ntoa(address.sin_addr), ntohs(address.sin_port));
    fflush(stdout);
}

// Writes what is pending; false when the connection is finished.
bool drain(Echo *echo) {
    while (echo->pending > 0) {
        ssize_t n = __real_write(echo->fd, echo->buffer + echo->offset, echo->pending);
        if (n < 0 && errno == EAGAIN) return true;
        if (n <= 0) return false;
        echo->offset += static_cast<size_t>(n);
        echo->pending -= static_cast<size_t>(n);
    }
    return true;
}

// Echoes until the peer's data ends or the kernel says wait.
bool serve(int epoll_fd, Echo *echo) {
    for (;;) {
        if (!drain(echo)) return false;
        if (echo->pending > 0) {
            epoll_event event = {EPOLLOUT | EPOLLET, {echo}};
            epoll_ctl(epoll_fd, EPOLL_CTL_MOD, echo->fd, &event);
            return true;
        }
        ssize_t n = __real_read(echo->fd, echo->buffer, kChunk);
        if (n < 0 && errno == EAGAIN) {
            epoll_event event = {EPOLLIN | EPOLLET, {echo}};
            epoll_ctl(epoll_fd, EPOLL_CTL_MOD, echo->fd, &event);
            return true;
        }
        if (n <= 0) return false;
        echo->pending = static_cast<size_t>(n);
        echo->offset = 0;
    }
}

void echo_thread(int epoll_fd) {
    epoll_event events[64];
    for (;;) {
        int ready = epoll_wait(epoll_fd, events, 64, -1);
        for (int i = 0; i < ready; ++i) {
            Echo *echo = static_cast<Echo *>(events[i].data.ptr);
            if (!serve(epoll_fd, echo)) {
                epoll_ctl(epoll_fd, EPOLL_CTL_DEL, echo->fd, nullptr);
                __real_close(echo->fd);
                delete echo;
            }
        }
    }
}

int bound_socket(int type) {
    int fd = socket(AF_INET, type, 0);
    sockaddr_in any;
    memset(&any, 0, sizeof any);
    any.sin_family = AF_INET;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) return -1;
    sockaddr_in canonical;
    socklen_t length = sizeof canonical;
    getsockname(fd, reinterpret_cast<sockaddr *>(&canonical), &length);
    if (type == SOCK_STREAM && listen(fd, 128) != 0) return -1;
    print_address("canonical", canonical);
    return fd;
}

int serve_tcp() {
    int listener = bound_socket(SOCK_STREAM);
    if (listener < 0) return 2;
    int epoll_fd = epoll_create1(0);
    std::thread(echo_thread, epoll_fd).detach();
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval second = {1, 0};
        if (select(listener + 1, &readable, nullptr, nullptr, &second) <= 0) continue;
        sockaddr_in peer;
        socklen_t length = sizeof peer;
        int fd = accept(listener, reinterpret_cast<sockaddr *>(&peer), &length);
        if (fd < 0) continue;
        print_address("accepted", peer);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        Echo *echo = new Echo();
        echo->fd = fd;
        epoll_event event = {EPOLLIN | EPOLLET, {echo}};
        epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event);
    }
}

int serve_udp() {
    int fd = bound_socket(SOCK_DGRAM);
    if (fd < 0) return 2;
    static char datagram[65536];
    for (;;) {
        sockaddr_in source;
        socklen_t length = sizeof source;
        ssize_t n = recvfrom(fd, datagram, sizeof datagram, 0,
                             reinterpret_cast<sockaddr *>(&source), &length);
        if (n >= 0) {
            sendto(fd, datagram, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&source),
                   length);
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    // Thousands of relayed connections each hold a descriptor; the layer
    // sizes its table from this limit when it starts.
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (argc != 2) return 2;
    if (strcmp(argv[1], "tcp") == 0) return serve_tcp();
    if (strcmp(argv[1], "udp") == 0) return serve_udp();
    return 2;
}
