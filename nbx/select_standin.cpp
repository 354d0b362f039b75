// Stand-in for the brokered select: it initialises the layer and performs the
// plain system call, leaving the NBX error code in _NBX_errno. The real
// brokered select replaces this file.
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" int NBX_select(int count, fd_set *read_set, fd_set *write_set,
                          fd_set *except_set, struct timeval *timeout) {
  if (!_CB_initialized) _CB_initialize();
  int result = __real_select(count, read_set, write_set, except_set, timeout);
  _NBX_errno = result < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
  return result;
}
