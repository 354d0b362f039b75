// SetSyscalls: the system-call mode switch that callers save and restore
// around password-database lookups. This library has a single mode, so the
// switch only hands its argument back.
#include "files/path_helpers.h"

int SetSyscalls(int mode) {
    return mode;
}
