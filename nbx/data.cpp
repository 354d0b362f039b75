// The brokering layer's process-wide data: the socket table, the re-entrancy
// flag, the error code and the time stamps. Nothing here is locked or ever
// freed; the table is allocated by _CB_initialize().
#include <stddef.h>

#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

extern "C" {

int _CB_inWrapper = 0;

FdInfo *_CB_fdInfo = nullptr;
int _NBX_max_no_fds = 0;
int _CB_maxfd = 0;
int _CB_initialized = 0;
int _NBX_errno = 0;

time_t _CB_lastCheck = 0;
time_t _CB_lastHeartBeat = 0;
time_t _CB_lastFlush = 0;
time_t _CB_lastRecovery = 0;
time_t _Broker_down_since = 0;
void (*_Broker_down_app_callback)(void) = nullptr;
int _Broker_down_max = 0;

int _CB_inTable(int fd) {
    return _CB_fdInfo != nullptr && fd >= 0 && fd < _NBX_max_no_fds;
}

}  // extern "C"
