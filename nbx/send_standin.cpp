// Stand-in for the brokered send and write: each initialises the layer and
// performs the plain system call, leaving the NBX error code in _NBX_errno.
// The real brokered send calls replace this file.
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" {

ssize_t NBX_send(int fd, const void *buffer, size_t size, int flags) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_send(fd, buffer, size, flags);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}

// A write on a descriptor the layer does not manage leaves _NBX_errno alone.
ssize_t NBX_write(int fd, const void *buffer, size_t size) {
  if (!_CB_initialized) _CB_initialize();
  ssize_t result = __real_write(fd, buffer, size);
  if (_CB_inTable(fd) && _CB_fdInfo[fd].type != NOT_DEFINED) {
    _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  }
  return result;
}

}  // extern "C"
