// The dispatch below the wrappers: each Generic_ function has its wrapper's
// signature and calls the brokered operation (NBX_...) when NBX_ENABLE is
// "true" in any letter case, and the same wrapper again otherwise (which,
// with the re-entrancy flag set, reaches the system). The switches are read
// from the environment at every call; nothing is cached.
#ifndef TORVEL_NBX_GENERIC_H_
#define TORVEL_NBX_GENERIC_H_

#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

extern "C" {

// 1 when NBX_ENABLE (resp. NET_REMAP_ENABLE) equals "true" without regard
// to case, else 0.
int useNBX(void);
int useGeneric(void);

int Generic_socket(int domain, int type, int protocol);
// With brokering on, an AF_INET address of full length is rewritten: the
// caller's port, and its address unless that is private (then any). Other
// addresses, short lengths and null pass unchanged.
int Generic_bind(int fd, const struct sockaddr *address, socklen_t length);
int Generic_listen(int fd, int backlog);
int Generic_connect(int fd, const struct sockaddr *address, socklen_t length);
int Generic_accept(int fd, struct sockaddr *address, socklen_t *length);
int Generic_select(int count, fd_set *read_set, fd_set *write_set, fd_set *except_set,
                   struct timeval *timeout);
ssize_t Generic_recv(int fd, void *buffer, size_t size, int flags);
ssize_t Generic_read(int fd, void *buffer, size_t size);
ssize_t Generic_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                         socklen_t *length);
ssize_t Generic_send(int fd, const void *buffer, size_t size, int flags);
ssize_t Generic_sendto(int fd, const void *buffer, size_t size, int flags,
                       const struct sockaddr *address, socklen_t length);
ssize_t Generic_write(int fd, const void *buffer, size_t size);
int Generic_close(int fd);
int Generic_dup(int fd);
int Generic_dup2(int fd, int target);
int Generic_getsockname(int fd, struct sockaddr *address, socklen_t *length);
int Generic_getsockopt(int fd, int level, int option, void *value, socklen_t *length);
int Generic_execv(const char *path, char * const argv[]);
int Generic_execve(const char *path, char * const argv[], char * const envp[]);
// Gathers at most CB_EXECL_MAX_ARGS arguments (E2BIG beyond), then
// NBX_execv or __wrap_execv.
int Generic_execl(const char *path, const char *arg, ...);

pid_t Generic_fork(void);
void Generic_cleanup(void);
// With brokering on, installs the broker-down handler; returns useNBX().
int Generic_set_err_callback(void (*handler)(void), int seconds);

}  // extern "C"

#endif  // TORVEL_NBX_GENERIC_H_
