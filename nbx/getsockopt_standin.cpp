// Stand-in for the brokered getsockopt: it initialises the layer and performs the
// plain system call, leaving the NBX error code in _NBX_errno. The real
// brokered getsockopt replaces this file.
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" int NBX_getsockopt(int fd, int level, int option, void *value,
                              socklen_t *length) {
  if (!_CB_initialized) _CB_initialize();
  int result = __real_getsockopt(fd, level, option, value, length);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}
