// Stand-in for the brokered recv, read and recvfrom: each initialises the
// layer and performs the plain system call, leaving the NBX error code in
// _NBX_errno. The real brokered receive calls replace this file.
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" {

ssize_t NBX_recv(int fd, void *buffer, size_t size, int flags) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_recv(fd, buffer, size, flags);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}

ssize_t NBX_read(int fd, void *buffer, size_t size) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_read(fd, buffer, size);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}

ssize_t NBX_recvfrom(int fd, void *buffer, size_t size, int flags,
                     struct sockaddr *address, socklen_t *length) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_recvfrom(fd, buffer, size, flags, address, length);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}

}  // extern "C"
