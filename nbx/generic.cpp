// The dispatch between the wrappers and the brokered operations: with
// NBX_ENABLE "true" each Generic_ call goes to its NBX_ operation, otherwise
// back to its wrapper, which the re-entrancy flag sends to the system. Also
// the bind address rewrite and the layer's small exported entries (fork,
// clean-up, broker-down handler).
#include "nbx/generic.h"

#include <errno.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" {

int Generic_socket(int domain, int type, int protocol) {
    return useNBX() ? NBX_socket(domain, type, protocol) : __wrap_socket(domain, type, protocol);
}

int Generic_bind(int fd, const struct sockaddr *address, socklen_t length) {
    if (!useNBX()) return __wrap_bind(fd, address, length);
    // Only a whole AF_INET address is rewritten; anything else (null, short,
    // another family) reaches the system as the caller gave it.
    if (address == nullptr || length < sizeof(struct sockaddr_in) ||
        address->sa_family != AF_INET) {
        return NBX_bind(fd, address, length);
    }
    struct sockaddr_in given;
    memcpy(&given, address, sizeof given);
    struct sockaddr_in rewritten;
    memset(&rewritten, 0, sizeof rewritten);
    rewritten.sin_family = AF_INET;
    rewritten.sin_port = given.sin_port;
    rewritten.sin_addr.s_addr =
        _priv_net(ntohl(given.sin_addr.s_addr)) ? htonl(INADDR_ANY) : given.sin_addr.s_addr;
    return NBX_bind(fd, reinterpret_cast<struct sockaddr *>(&rewritten), sizeof rewritten);
}

int Generic_listen(int fd, int backlog) {
    return useNBX() ? NBX_listen(fd, backlog) : __wrap_listen(fd, backlog);
}

int Generic_connect(int fd, const struct sockaddr *address, socklen_t length) {
    return useNBX() ? NBX_connect(fd, address, length) : __wrap_connect(fd, address, length);
}

int Generic_accept(int fd, struct sockaddr *address, socklen_t *length) {
    return useNBX() ? NBX_accept(fd, address, length) : __wrap_accept(fd, address, length);
}

int Generic_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                   struct timeval *timeout) {
    return useNBX() ? NBX_select(count, read_set, write_set, except_set, timeout)
                    : __wrap_select(count, read_set, write_set, except_set, timeout);
}

ssize_t Generic_recv(int fd, void *buffer, size_t size, int flags) {
    return useNBX() ? NBX_recv(fd, buffer, size, flags) : __wrap_recv(fd, buffer, size, flags);
}

ssize_t Generic_read(int fd, void *buffer, size_t size) {
    return useNBX() ? NBX_read(fd, buffer, size) : __wrap_read(fd, buffer, size);
}

ssize_t Generic_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                         socklen_t *length) {
    return useNBX() ? NBX_recvfrom(fd, buffer, size, flags, address, length)
                    : __wrap_recvfrom(fd, buffer, size, flags, address, length);
}

ssize_t Generic_send(int fd, const void *buffer, size_t size, int flags) {
    return useNBX() ? NBX_send(fd, buffer, size, flags) : __wrap_send(fd, buffer, size, flags);
}

ssize_t Generic_sendto(int fd, const void *buffer, size_t size, int flags,
                       const struct sockaddr *address, socklen_t length) {
    return useNBX() ? NBX_sendto(fd, buffer, size, flags, address, length)
                    : __wrap_sendto(fd, buffer, size, flags, address, length);
}

ssize_t Generic_write(int fd, const void *buffer, size_t size) {
    return useNBX() ? NBX_write(fd, buffer, size) : __wrap_write(fd, buffer, size);
}

int Generic_close(int fd) {
    return useNBX() ? NBX_close(fd) : __wrap_close(fd);
}

int Generic_dup(int fd) {
    return useNBX() ? NBX_dup(fd) : __wrap_dup(fd);
}

int Generic_dup2(int fd, int target) {
    return useNBX() ? NBX_dup2(fd, target) : __wrap_dup2(fd, target);
}

int Generic_getsockname(int fd, struct sockaddr *address, socklen_t *length) {
    return useNBX() ? NBX_getsockname(fd, address, length)
                    : __wrap_getsockname(fd, address, length);
}

int Generic_getsockopt(int fd, int level, int option, void *value, socklen_t *length) {
    return useNBX() ? NBX_getsockopt(fd, level, option, value, length)
                    : __wrap_getsockopt(fd, level, option, value, length);
}

int Generic_execv(const char *path, char * const argv[]) {
    return useNBX() ? NBX_execv(path, argv) : __wrap_execv(path, argv);
}

int Generic_execve(const char *path, char * const argv[], char * const envp[]) {
    return useNBX() ? NBX_execve(path, argv, envp) : __wrap_execve(path, argv, envp);
}

int Generic_execl(const char *path, const char *arg, ...) {
    char *argv[CB_EXECL_MAX_ARGS + 1];
    va_list args;
    va_start(args, arg);
    int gathered = _CB_gatherExeclArgs(arg, args, argv);
    va_end(args);
    if (gathered < 0) {
        errno = E2BIG;
        return -1;
    }
    return useNBX() ? NBX_execv(path, argv) : __wrap_execv(path, argv);
}

pid_t Generic_fork(void) {
    return fork();
}

void Generic_cleanup(void) {
    _CB_cleanup();
}

int Generic_set_err_callback(void (*handler)(void), int seconds) {
    int on = useNBX();
    if (on) NBX_Broker_down_callback_set(handler, seconds);
    return on;
}

}  // extern "C"
