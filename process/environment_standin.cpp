// Stand-in for SetEnv, until the environment module lands (it replaces this
// file). It uses setenv, which keeps its own copy of the text, instead of
// putenv with a table of owned texts; the visible effect is the same.
#include "process/environment.h"

#include <assert.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "diagnostics/debug_log.h"

bool SetEnv(const char *key, const char *value) {
    assert(key);
    assert(value);
    if (setenv(key, value, 1) != 0) {
        dprintf(D_ALWAYS, "putenv failed: %s (errno=%d)\n", strerror(errno), errno);
        return false;
    }
    return true;
}
