// Stand-in for the brokered sendto: it initialises the layer and performs the
// plain system call, leaving the NBX error code in _NBX_errno. The real
// brokered sendto replaces this file.
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" ssize_t NBX_sendto(int fd, const void *buffer, size_t size, int flags,
                              const struct sockaddr *address, socklen_t length) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_sendto(fd, buffer, size, flags, address, length);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}
