// Rotation of a debug log that grew past its MaxLog limit: the log becomes
// "<log>.old" (replacing the previous old copy, so one old generation
// exists at a time) and a fresh log takes its name. Runs as PRIV_TORVEL;
// every failure is the log's fatal exit.
//
// Processes that share a log without DebugLock may find it too long at the
// same moment. The move is one rename, made while holding a record lock on
// the log file itself and only if the name still names that file; a writer
// that finds its file already moved simply reopens the fresh log. So no
// process rotates a log another has just started, and a line written into
// a file just moved lands in "<log>.old" rather than nowhere.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "diagnostics/debug_log_internal.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "identity/privileges.h"

namespace {

// The fresh log, opened for appending (closed on exec, as every log file).
FILE *open_fresh(const char *name, int level) {
    FILE *stream = fopen(name, "ae");
    if (stream == nullptr) {
        _torvel_dprintf_exitf(errno, "Can't open file for debug level %d\n", level);
    }
    return stream;
}

}  // namespace

bool _torvel_log_still_current(int level) {
    const char *name = DebugFile[level];
    if (name == nullptr || DebugFP == nullptr) {
        return false;
    }
    int fd = fileno(DebugFP);
    // Waits for a rotation in progress elsewhere. The lock goes with the
    // descriptor when the stream is closed. Where record locks fail (some
    // network file systems) the name test alone decides.
    flock(fd, LOCK_EX);
    struct stat64 open_file;
    struct stat64 named;
    return fstat64(fd, &open_file) == 0 && stat64(name, &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

void preserve_log_file(int level) {
    const char *name = DebugFile[level];
    if (name == nullptr) {
        return;  // a level without a file of its own has nothing to move
    }
    priv_state previous = _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 0);
    if (DebugFP != nullptr && !_torvel_log_still_current(level)) {
        // Another process has rotated it since it was opened.
        fclose(DebugFP);
        DebugFP = open_fresh(name, level);
        _set_priv(previous, __FILE__, __LINE__, 0);
        return;
    }
    size_t old_size = strlen(name) + sizeof ".old";
    char *old_name = static_cast<char *>(malloc(old_size));
    if (old_name == nullptr) {
        EXCEPT("Out of memory!");
    }
    snprintf(old_name, old_size, "%s.old", name);

    if (DebugFP != nullptr) {
        fprintf(DebugFP, "Saving log file to \"%s\"\n", old_name);
        fflush(DebugFP);
    }
    // One step replaces the old copy, so no writer ever finds the name
    // missing halfway. ENOENT: nothing is left to move.
    if (rename(name, old_name) < 0 && errno != ENOENT) {
        _torvel_dprintf_exitf(errno, "Can't link(%s,%s)\n", name, old_name);
    }
    // Closed only now, so the lock was held across the rename.
    if (DebugFP != nullptr) {
        fclose(DebugFP);
    }
    DebugFP = open_fresh(name, level);
    fprintf(DebugFP, "Now in new log file %s\n", name);
    free(old_name);
    _set_priv(previous, __FILE__, __LINE__, 0);
}
