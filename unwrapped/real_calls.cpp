// The system calls behind the brokering layer's __real_<call> names, for
// programs linked without --wrap (libtorvel_plain.a, the Torvel::torvel_plain
// package target). With --wrap the linker itself binds __real_<call> to the
// system's function; without it, these plain forwarders do, so the layer's
// code links and simply never brokers: its wrappers are only reached by name,
// and the program's own calls go straight to the system.
//
// Never linked into a program that uses --wrap: there, each call below would
// itself be redirected to its wrapper.
#include <unistd.h>

#include "nbx/wrappers.h"

extern "C" {

int __real_socket(int domain, int type, int protocol) {
    return socket(domain, type, protocol);
}

int __real_bind(int fd, const struct sockaddr *address, socklen_t length) {
    return bind(fd, address, length);
}

int __real_listen(int fd, int backlog) {
    return listen(fd, backlog);
}

int __real_connect(int fd, const struct sockaddr *address, socklen_t length) {
    return connect(fd, address, length);
}

int __real_accept(int fd, struct sockaddr *address, socklen_t *length) {
    return accept(fd, address, length);
}

int __real_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                  struct timeval *timeout) {
    return select(count, read_set, write_set, except_set, timeout);
}

ssize_t __real_recv(int fd, void *buffer, size_t size, int flags) {
    return recv(fd, buffer, size, flags);
}

ssize_t __real_read(int fd, void *buffer, size_t size) {
    return read(fd, buffer, size);
}

ssize_t __real_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                        socklen_t *length) {
    return recvfrom(fd, buffer, size, flags, address, length);
}

ssize_t __real_send(int fd, const void *buffer, size_t size, int flags) {
    return send(fd, buffer, size, flags);
}

ssize_t __real_sendto(int fd, const void *buffer, size_t size, int flags,
                      const struct sockaddr *address, socklen_t length) {
    return sendto(fd, buffer, size, flags, address, length);
}

ssize_t __real_write(int fd, const void *buffer, size_t size) {
    return write(fd, buffer, size);
}

int __real_close(int fd) {
    return close(fd);
}

int __real_dup(int fd) {
    return dup(fd);
}

int __real_dup2(int fd, int target) {
    return dup2(fd, target);
}

int __real_getsockname(int fd, struct sockaddr *address, socklen_t *length) {
    return getsockname(fd, address, length);
}

int __real_getsockopt(int fd, int level, int option, void *value, socklen_t *length) {
    return getsockopt(fd, level, option, value, length);
}

int __real_execv(const char *path, char * const argv[]) {
    return execv(path, argv);
}

int __real_execve(const char *path, char * const argv[], char * const envp[]) {
    return execve(path, argv, envp);
}

}  // extern "C"
