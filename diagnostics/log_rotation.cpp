// Rotation of a debug log that grew past its MaxLog limit: the log becomes
// "<log>.old" (replacing the previous old copy, so one old generation
// exists at a time) and a fresh log takes its name. Runs as PRIV_TORVEL;
// every failure is the log's fatal exit.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "diagnostics/debug_log_internal.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"

void preserve_log_file(int level) {
    const char *name = DebugFile[level];
    if (name == nullptr) {
        return;  // a level without a file of its own has nothing to move
    }
    priv_state previous = _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 0);
    size_t old_size = strlen(name) + sizeof ".old";
    char *old_name = static_cast<char *>(malloc(old_size));
    if (old_name == nullptr) {
        EXCEPT("Out of memory!");
    }
    snprintf(old_name, old_size, "%s.old", name);

    if (DebugFP != nullptr) {
        fprintf(DebugFP, "Saving log file to \"%s\"\n", old_name);
        fflush(DebugFP);
        fclose(DebugFP);
        DebugFP = nullptr;
    }

    unlink(old_name);
    if (link(name, old_name) < 0) {
        _torvel_dprintf_exitf(errno, "Can't link(%s,%s)\n", name, old_name);
    }
    if (unlink(name) < 0) {
        _torvel_dprintf_exitf(errno, "Can't unlink(%s)\n", name);
    }
    struct stat status;
    if (lstat(name, &status) == 0) {
        _torvel_dprintf_exitf(0, "unlink(%s) succeeded but file still exists!", name);
    }

    DebugFP = fopen(name, "a");
    if (DebugFP == nullptr) {
        _torvel_dprintf_exitf(errno, "Can't open file for debug level %d\n", level);
    }
    fprintf(DebugFP, "Now in new log file %s\n", name);
    free(old_name);
    _set_priv(previous, __FILE__, __LINE__, 0);
}
