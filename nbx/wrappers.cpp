// The link-time wrappers: every wrapped socket call and exec of the program
// arrives here. A call from outside the layer sets the re-entrancy flag and
// goes to the dispatch (Generic_...) exactly once; a call made while the
// flag is set (the layer's own work underneath) goes to the system. errno is
// whatever the inner call left.
#include "nbx/wrappers.h"

#include <errno.h>
#include <stdarg.h>

#include "nbx/generic.h"
#include "nbx/nbx_ops.h"

// The same three steps for every wrapper: system call when re-entered,
// otherwise the dispatch with the flag held.
#define CB_WRAP(real_call, generic_call)     \
    do {                                     \
        if (_CB_inWrapper) return real_call; \
        _CB_inWrapper = 1;                   \
        auto result = generic_call;          \
        _CB_inWrapper = 0;                   \
        return result;                       \
    } while (0)

extern "C" {

int __wrap_socket(int domain, int type, int protocol) {
    CB_WRAP(__real_socket(domain, type, protocol), Generic_socket(domain, type, protocol));
}

int __wrap_bind(int fd, const struct sockaddr *address, socklen_t length) {
    CB_WRAP(__real_bind(fd, address, length), Generic_bind(fd, address, length));
}

int __wrap_listen(int fd, int backlog) {
    CB_WRAP(__real_listen(fd, backlog), Generic_listen(fd, backlog));
}

int __wrap_connect(int fd, const struct sockaddr *address, socklen_t length) {
    CB_WRAP(__real_connect(fd, address, length), Generic_connect(fd, address, length));
}

int __wrap_accept(int fd, struct sockaddr *address, socklen_t *length) {
    CB_WRAP(__real_accept(fd, address, length), Generic_accept(fd, address, length));
}

int __wrap_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                  struct timeval *timeout) {
    CB_WRAP(__real_select(count, read_set, write_set, except_set, timeout),
            Generic_select(count, read_set, write_set, except_set, timeout));
}

ssize_t __wrap_recv(int fd, void *buffer, size_t size, int flags) {
    CB_WRAP(__real_recv(fd, buffer, size, flags), Generic_recv(fd, buffer, size, flags));
}

ssize_t __wrap_read(int fd, void *buffer, size_t size) {
    CB_WRAP(__real_read(fd, buffer, size), Generic_read(fd, buffer, size));
}

ssize_t __wrap_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                        socklen_t *length) {
    CB_WRAP(__real_recvfrom(fd, buffer, size, flags, address, length),
            Generic_recvfrom(fd, buffer, size, flags, address, length));
}

ssize_t __wrap_send(int fd, const void *buffer, size_t size, int flags) {
    CB_WRAP(__real_send(fd, buffer, size, flags), Generic_send(fd, buffer, size, flags));
}

ssize_t __wrap_sendto(int fd, const void *buffer, size_t size, int flags,
                      const struct sockaddr *address, socklen_t length) {
    CB_WRAP(__real_sendto(fd, buffer, size, flags, address, length),
            Generic_sendto(fd, buffer, size, flags, address, length));
}

ssize_t __wrap_write(int fd, const void *buffer, size_t size) {
    CB_WRAP(__real_write(fd, buffer, size), Generic_write(fd, buffer, size));
}

int __wrap_close(int fd) {
    CB_WRAP(__real_close(fd), Generic_close(fd));
}

int __wrap_dup(int fd) {
    CB_WRAP(__real_dup(fd), Generic_dup(fd));
}

int __wrap_dup2(int fd, int target) {
    CB_WRAP(__real_dup2(fd, target), Generic_dup2(fd, target));
}

int __wrap_getsockname(int fd, struct sockaddr *address, socklen_t *length) {
    CB_WRAP(__real_getsockname(fd, address, length), Generic_getsockname(fd, address, length));
}

int __wrap_getsockopt(int fd, int level, int option, void *value, socklen_t *length) {
    CB_WRAP(__real_getsockopt(fd, level, option, value, length),
            Generic_getsockopt(fd, level, option, value, length));
}

int __wrap_execv(const char *path, char * const argv[]) {
    CB_WRAP(__real_execv(path, argv), Generic_execv(path, argv));
}

int __wrap_execve(const char *path, char * const argv[], char * const envp[]) {
    CB_WRAP(__real_execve(path, argv, envp), Generic_execve(path, argv, envp));
}

int __wrap_execl(const char *path, const char *arg, ...) {
    char *argv[CB_EXECL_MAX_ARGS + 1];
    va_list args;
    va_start(args, arg);
    int gathered = _CB_gatherExeclArgs(arg, args, argv);
    va_end(args);
    if (gathered < 0) {
        errno = E2BIG;
        return -1;
    }
    // The table is handed over whether or not brokering is on; the layer's
    // own calls meanwhile go straight to the system.
    if (!_CB_inWrapper) {
        _CB_inWrapper = 1;
        inheritCBsockets();
        _CB_inWrapper = 0;
    }
    return __wrap_execv(path, argv);
}

int _CB_gatherExeclArgs(const char *arg, va_list args, char *argv[CB_EXECL_MAX_ARGS + 1]) {
    int count = 0;
    const char *current = arg;
    for (;;) {
        if (count > CB_EXECL_MAX_ARGS) return -1;
        argv[count++] = const_cast<char *>(current);
        if (current == nullptr) return count - 1;
        current = va_arg(args, const char *);
    }
}

}  // extern "C"
